// The lookup functions: VLOOKUP, HLOOKUP, MATCH, INDEX, LOOKUP, XLOOKUP, XMATCH, CHOOSE.

#include "engine/functions/Common.hpp"
#include "engine/functions/text/Regex.hpp"
#include "engine/internal/LookupIndex.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <utility>

namespace host::engine::detail::fn {

namespace {

// ---- lookups ----

bool lookup_equal(const Value& cell, const Value& key) {
    if (cell.type() != key.type())
        return false;
    switch (key.type()) {
    case ValueType::Number: return approx_equal(cell.as_number(), key.as_number());
    case ValueType::Boolean: return cell.as_boolean() == key.as_boolean();
    case ValueType::Text:
        return has_wildcards(key.as_text()) ? wildcard_match(key.as_text(), cell.as_text()) : compare(cell, key) == 0;
    default: return false;
    }
}

// The spreadsheet's bisection for an approximate lookup in ascending data: on sorted data the
// last value not greater than the key, on unsorted data wherever its search stops. A value of
// another kind than the key (an empty cell too) is stepped over forwards; if none of the key's
// kind follows before the upper bound, or the next one past the midpoint is the last and
// above the key, the search goes below the midpoint. An equal value answers with the last of
// its run of equals. -1 if none.
template <class At>
std::int64_t bisect_position(const Value& key, std::int64_t n, At at) {
    // <0: the key comes before the value, 0 equal, >0 after; 2 another kind.
    auto order = [&](const Value& v) {
        bool same = (v.is_number() && key.is_number()) || (v.is_text() && key.is_text()) ||
                    (v.is_boolean() && key.is_boolean());
        if (!same)
            return 2;
        return compare(key, v);
    };
    std::int64_t low = -1, high = n; // values at low and below fit, at high and above do not
    while (high - low >= 2) {
        std::int64_t mid = (low + high) / 2;
        int cmp = order(at(mid));
        if (cmp == 2) {
            std::int64_t next = mid + 1;
            for (; next < high; ++next) {
                cmp = order(at(next));
                if (cmp != 2)
                    break;
            }
            if (next == high || (cmp < 0 && next == high - 1)) {
                high = mid;
                continue;
            }
            mid = next;
        }
        if (cmp == 0) {
            while (mid + 1 < high && order(at(mid + 1)) == 0)
                ++mid;
            return mid;
        }
        if (cmp < 0)
            high = mid;
        else
            low = mid;
    }
    return low;
}

// Position of key among n values given by at(i): mode 0 exact, 1 approximate in ascending
// data (bisect_position), -1 in descending data by a scan: the first value equal to the key,
// else the last greater one before the first less one. An empty key is 0 to an approximate lookup. -1 if none.
template <class At>
std::int64_t find_position(const Value& key, std::int64_t n, int mode, At at) {
    if (mode == 0) {
        for (std::int64_t i = 0; i < n; ++i)
            if (lookup_equal(at(i), key))
                return i;
        return -1;
    }
    if (key.is_empty())
        return find_position(Value::number(0), n, mode, at);
    if (mode > 0)
        return bisect_position(key, n, at);
    std::int64_t best = -1;
    for (std::int64_t i = 0; i < n; ++i) {
        Value v = at(i);
        bool same = (v.is_number() && key.is_number()) || (v.is_text() && key.is_text()) ||
                    (v.is_boolean() && key.is_boolean());
        if (!same)
            continue;
        int cmp = compare(v, key);
        if (cmp <= 0)
            return cmp == 0 ? i : best;
        best = i;
    }
    return best;
}

// find_position through the index of the searched row or column where it gives the same
// answers: for an exact match or a scan of descending data always, for a bisection of
// ascending data when the cells are sorted.
template <class At>
std::int64_t position(const LookupIndex* index, const Value& key, std::int64_t n, int mode, At at) {
    if (!index || (mode != 0 && key.is_empty()) || (mode > 0 && !index->sorted_throughout(key, std::size_t(n))))
        return find_position(key, n, mode, at);
    const LookupIndex::Entry* found = nullptr;
    if (mode != 0) {
        found = index->sorted_find(key, mode < 0);
    } else if (key.is_text() && has_wildcards(key.as_text())) {
        for (const LookupIndex::Entry& e : index->entries())
            if (lookup_equal(e.value, key)) {
                found = &e;
                break;
            }
    } else {
        found = index->find(key, lookup_equal);
    }
    return found ? std::int64_t(found->offset) : -1;
}

OMBRIX_FN(choose) {
    OMBRIX_NUMBER(0, x);
    double i = std::trunc(x);
    if (i < 1 || i >= c.argc)
        OMBRIX_RETURN(err(ErrorCode::Value));
    out = c.args[static_cast<int>(i)];
    if (out.kind == Item::Missing) {
        out.kind = Item::Val;
        out.v = Value::number(0);
    }
}

void table_lookup(Ctx& c, Item& out, bool vertical) {
    Value key = c.arg(0);
    if (key.is_error())
        OMBRIX_RETURN(key);
    const Item& table = c.args[1];
    if (table.kind == Item::Val && (table.v.is_error() || table.v.is_text())) // text is no table
        OMBRIX_RETURN(table.v.is_error() ? table.v : err(ErrorCode::Value));
    View t(c.ev, table);
    OMBRIX_NUMBER(2, index);
    bool sorted = true;
    if (!c.missing(3) || c.argc > 3) {
        ErrorCode e;
        if (!to_boolean(c.arg(3), sorted, e))
            OMBRIX_RETURN(err(e));
    }
    if (key.is_empty() && !sorted)
        OMBRIX_RETURN(err(ErrorCode::NA));
    double k = std::trunc(index);
    std::int64_t n = vertical ? t.rows : t.cols;
    const LookupIndex* keys = range_index(c.ev.grid, c.args[1], vertical ? 'c' : 'r');
    std::int64_t pos = position(keys, key, n, sorted ? 1 : 0, [&](std::int64_t i) {
        return vertical ? t.at(static_cast<std::int32_t>(i), 0) : t.at(0, static_cast<std::int32_t>(i));
    });
    if (pos < 0)
        OMBRIX_RETURN(err(ErrorCode::NA));
    // A key not found is #N/A before the column or row number is looked at.
    if (k < 1)
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (k > (vertical ? t.cols : t.rows))
        OMBRIX_RETURN(err(ErrorCode::Ref));
    std::int32_t off = static_cast<std::int32_t>(k) - 1, p = static_cast<std::int32_t>(pos);
    OMBRIX_RETURN(vertical ? t.at(p, off) : t.at(off, p));
}
OMBRIX_FN(vlookup) { table_lookup(c, out, true); }
OMBRIX_FN(hlookup) { table_lookup(c, out, false); }

OMBRIX_FN(match) {
    Value key = c.arg(0);
    if (key.is_error())
        OMBRIX_RETURN(key);
    View t(c.ev, c.args[1]);
    // Left out, the match type is 1; given empty, MATCH(x,r,), it is 0: an exact match.
    OMBRIX_NUMBER_OR(2, type, c.argc > 2 ? 0 : 1);
    if (t.rows != 1 && t.cols != 1)
        OMBRIX_RETURN(err(ErrorCode::NA));
    int mode = type > 0 ? 1 : type < 0 ? -1 : 0;
    bool column = t.cols == 1;
    const LookupIndex* index = range_index(c.ev.grid, c.args[1]);
    std::int64_t pos = position(index, key, column ? t.rows : t.cols, mode, [&](std::int64_t i) {
        return column ? t.at(static_cast<std::int32_t>(i), 0) : t.at(0, static_cast<std::int32_t>(i));
    });
    if (pos < 0)
        OMBRIX_RETURN(err(ErrorCode::NA));
    OMBRIX_RETURN(Value::number(double(pos + 1)));
}

OMBRIX_FN(index) {
    // An error where the array goes is the answer before any in the positions.
    if (c.args[0].kind == Item::Val && c.args[0].v.is_error())
        OMBRIX_RETURN(c.args[0].v);
    OMBRIX_NUMBER_OR(1, rowf, 0);
    OMBRIX_NUMBER_OR(2, colf, 0);
    OMBRIX_NUMBER_OR(3, area_number, 1);
    // INDEX((A1:B2,D1:E2),1,1,2): the area the last argument picks from a union.
    Item src = c.args[0];
    const std::size_t areas = src.kind == Item::Range && src.areas ? src.areas->size() : 1;
    if (area_number < 1 || std::trunc(area_number) > double(areas))
        OMBRIX_RETURN(err(area_number < 1 ? ErrorCode::Value : ErrorCode::Ref));
    if (areas > 1) {
        src.area = (*src.areas)[static_cast<std::size_t>(area_number) - 1];
        src.areas = nullptr;
    }
    View t(c.ev, src);
    double r = std::trunc(rowf), k = std::trunc(colf);
    // A column left empty, INDEX(row,1,), is 0: the whole row.
    if (c.argc < 3) {
        if (t.rows == 1 && t.cols > 1) // a single row: the one index picks the column
            std::swap(r, k);
    }
    if (r < 0 || k < 0)
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (r > t.rows || k > t.cols)
        OMBRIX_RETURN(err(ErrorCode::Ref));
    std::int32_t r1 = r == 0 ? 0 : static_cast<std::int32_t>(r) - 1, r2 = r == 0 ? t.rows - 1 : r1;
    std::int32_t c1 = k == 0 ? 0 : static_cast<std::int32_t>(k) - 1, c2 = k == 0 ? t.cols - 1 : c1;
    if (src.kind == Item::Range) {
        out.kind = Item::Range;
        out.area = Area{src.area.sheet, src.area.r1 + r1, src.area.c1 + c1, src.area.r1 + r2, src.area.c1 + c2};
        return;
    }
    if (r1 == r2 && c1 == c2)
        OMBRIX_RETURN(t.at(r1, c1));
    auto a = std::make_shared<Array>();
    a->rows = r2 - r1 + 1;
    a->cols = c2 - c1 + 1;
    for (std::int32_t i = r1; i <= r2; ++i)
        for (std::int32_t j = c1; j <= c2; ++j)
            a->values.push_back(t.at(i, j));
    out.kind = Item::Arr;
    out.arr = c.ev.keep(std::move(a));
}

// ---- LOOKUP, XLOOKUP, XMATCH ----

// The n-th value of a row or column (or of a grid's first row or column by `along_rows`).
Value vector_at(const View& v, std::int64_t i, bool along_rows) {
    std::int32_t k = static_cast<std::int32_t>(i);
    return along_rows ? v.at(k, 0) : v.at(0, k);
}

OMBRIX_FN(lookup) {
    Value key = c.arg(0);
    if (key.is_error())
        OMBRIX_RETURN(key);
    View t(c.ev, c.args[1]);
    // The array form searches the first row of a wide grid, else the first column, and
    // answers from the last one.
    bool along_rows = !(t.cols > t.rows);
    std::int64_t n = along_rows ? t.rows : t.cols;
    const LookupIndex* index = range_index(c.ev.grid, c.args[1], along_rows ? 'c' : 'r');
    std::int64_t pos = position(index, key, n, 1, [&](std::int64_t i) { return vector_at(t, i, along_rows); });
    if (pos < 0)
        OMBRIX_RETURN(err(ErrorCode::NA));
    if (c.missing(2)) {
        std::int32_t p = static_cast<std::int32_t>(pos);
        OMBRIX_RETURN(along_rows ? t.at(p, t.cols - 1) : t.at(t.rows - 1, p));
    }
    View r(c.ev, c.args[2]);
    bool result_rows = r.cols == 1;
    if (r.rows != 1 && r.cols != 1)
        OMBRIX_RETURN(err(ErrorCode::NA));
    if (pos >= (result_rows ? r.rows : r.cols))
        OMBRIX_RETURN(err(ErrorCode::NA));
    OMBRIX_RETURN(vector_at(r, pos, result_rows));
}

// XLOOKUP's and XMATCH's exact match: values of one kind, text ignoring case; an empty key
// finds an empty cell.
bool x_equal(const Value& v, const Value& key) {
    if (key.is_empty())
        return v.is_empty();
    return v.type() == key.type() && !v.is_error() && compare(v, key) == 0;
}

// A row or column as XLOOKUP and XMATCH search it.
struct Vector {
    const View& view;
    bool along_rows;
    std::int64_t size() const { return along_rows ? view.rows : view.cols; }
    Value operator[](std::int64_t i) const { return vector_at(view, i, along_rows); }
};

// Regular-expression match (match mode 3): the first text cell in search order that the
// key, read as a pattern, matches somewhere; -2 when the pattern is invalid or unsupported.
std::int64_t regex_position(const Value& key, const Vector& t, int search) {
#ifdef OMBRIX_HAVE_PCRE2
    Regex regex(to_text(key), false);
    if (!regex.valid())
        return -2;
    std::int64_t found = -1;
    const std::int64_t n = t.size();
    for (std::int64_t k = 0; k < n && found == -1; ++k) {
        const std::int64_t i = search < 0 ? n - 1 - k : k;
        const Value v = t[i];
        if (!v.is_text())
            continue;
        const int rc = regex.match(v.as_text(), 0);
        if (rc >= 0)
            found = i;
        else if (rc < PCRE2_ERROR_NOMATCH)
            found = -2;
    }
    return found;
#else
    (void)key, (void)t, (void)search;
    return -2;
#endif
}

// Binary search (search mode 2 ascending, -2 descending), probing as the spreadsheet does:
// the middle of the bounds (the lower of two), narrowed by each comparison, stopping at the
// first value equal to the key, from where repeats next to it give the first in ascending
// order. Unsorted data is probed all the same. Trailing empty cells are not part of the data.
// Values of every kind are ordered numbers < text < booleans.
std::int64_t binary_position(const Value& key, const Vector& t, int match, int search) {
    std::int64_t n = t.size();
    while (n > 0 && t[n - 1].is_empty())
        --n;
    // An empty key finds the first empty cell after the data; else, as a key above every
    // value, "next smaller" finds the last of the data.
    if (key.is_empty()) {
        if (n < t.size())
            return n;
        return match == -1 && n > 0 ? (search > 0 ? n - 1 : 0) : -1;
    }
    const std::int64_t step = search > 0 ? -1 : 1; // toward the smaller values
    std::int64_t lo = 0, hi = n - 1;
    while (lo <= hi) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        const Value v = t[mid];
        const int order = compare(v, key) * (search > 0 ? 1 : -1);
        if (order == 0 && x_equal(v, key)) {
            std::int64_t at = mid;
            while (at + step >= 0 && at + step < n && x_equal(t[at + step], key))
                at += step;
            return at;
        }
        if (order < 0)
            lo = mid + 1;
        else
            hi = mid - 1;
    }
    // Not found: lo is where the key would go; next smaller is the value before it in
    // ascending order, next larger the one after.
    const std::int64_t smaller = search > 0 ? hi : lo, larger = search > 0 ? lo : hi;
    const std::int64_t found = match == -1 ? smaller : match == 1 ? larger : -1;
    return found >= 0 && found < n ? found : -1;
}

// Position of key in a row or column for XLOOKUP and XMATCH; -1 if none, -2 for #VALUE!.
// match: 0 exact, -1 exact or next smaller, 1 exact or next larger, 2 wildcards, 3 regular
// expression. search: 1 from the first, -1 from the last, 2/-2 binary search of ascending /
// descending data. "Next smaller" and "next larger" order all kinds: numbers < text < booleans.
// An empty key matches an empty cell exactly and otherwise stands above every value.
std::int64_t x_position(const Value& key, const View& view, bool along_rows, int match, int search) {
    const Vector t{view, along_rows};
    if (search == 2 || search == -2)
        return match >= 2 ? -2 : binary_position(key, t, match, search);
    if (match == 3)
        return regex_position(key, t, search);
    const bool wildcards = match == 2 && key.is_text() && has_wildcards(key.as_text());
    // An exact match, wherever there is one, is the answer of every mode but wildcards.
    const LookupIndex* index = !wildcards && !key.is_empty() ? range_index(view.ev.grid, view.item) : nullptr;
    if (index) {
        if (const LookupIndex::Entry* e = index->find(key, x_equal, search < 0))
            return std::int64_t(e->offset);
        if (match == 0 || match == 2)
            return -1;
    }
    const std::int64_t n = t.size();
    std::int64_t best = -1;
    Value best_value;
    for (std::int64_t k = 0; k < n; ++k) {
        const std::int64_t i = search < 0 ? n - 1 - k : k;
        const Value v = t[i];
        if (wildcards) {
            if (v.is_text() && wildcard_match(key.as_text(), v.as_text()))
                return i;
            continue;
        }
        if (x_equal(v, key))
            return i;
        if (v.is_empty() || v.is_error() || (match != -1 && match != 1))
            continue;
        // An empty key found no empty cell: it stands above every value, so "next smaller"
        // is the largest one and "next larger" none.
        const int cmp = key.is_empty() ? -1 : compare(v, key);
        if ((match == -1 && cmp < 0) || (match == 1 && cmp > 0)) {
            if (best < 0 || (match == -1 ? compare(v, best_value) > 0 : compare(v, best_value) < 0)) {
                best = i;
                best_value = v;
            }
        }
    }
    return best;
}

bool x_modes(const Ctx& c, int at, int& match, int& search, Value& out) {
    double m, s;
    if (!num(c, at, m, out, 0) || !num(c, at + 1, s, out, 1))
        return false;
    m = std::trunc(m);
    s = std::trunc(s);
    if (!(m >= -1 && m <= 3) || !(s == 1 || s == -1 || s == 2 || s == -2)) {
        out = err(ErrorCode::Value);
        return false;
    }
    match = int(m);
    search = int(s);
    return true;
}

OMBRIX_FN(xlookup) {
    Value key = c.arg(0);
    if (key.is_error())
        OMBRIX_RETURN(key);
    View t(c.ev, c.args[1]), r(c.ev, c.args[2]);
    if (t.rows != 1 && t.cols != 1)
        OMBRIX_RETURN(err(ErrorCode::Value));
    bool along_rows = t.cols == 1 && !(t.rows == 1 && r.rows == 1 && r.cols > 1);
    if (along_rows ? r.rows != t.rows : r.cols != t.cols)
        OMBRIX_RETURN(err(ErrorCode::Value));
    int match, search;
    if (!x_modes(c, 4, match, search, out.v))
        return;
    std::int64_t pos = x_position(key, t, along_rows, match, search);
    if (pos == -2)
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (pos < 0) {
        if (c.missing(3))
            OMBRIX_RETURN(err(ErrorCode::NA));
        out = c.args[3];
        return;
    }
    std::int32_t p = static_cast<std::int32_t>(pos);
    const Item& src = c.args[2];
    if (src.kind == Item::Range) {
        out.kind = Item::Range;
        const Area& a = src.area;
        out.area =
            along_rows ? Area{a.sheet, a.r1 + p, a.c1, a.r1 + p, a.c2} : Area{a.sheet, a.r1, a.c1 + p, a.r2, a.c1 + p};
        return;
    }
    if ((along_rows ? r.cols : r.rows) == 1)
        OMBRIX_RETURN(along_rows ? r.at(p, 0) : r.at(0, p));
    auto arr = std::make_shared<Array>();
    arr->rows = along_rows ? 1 : r.rows;
    arr->cols = along_rows ? r.cols : 1;
    for (std::int32_t i = 0; i < (along_rows ? r.cols : r.rows); ++i)
        arr->values.push_back(along_rows ? r.at(p, i) : r.at(i, p));
    out.kind = Item::Arr;
    out.arr = c.ev.keep(std::move(arr));
}

OMBRIX_FN(xmatch) {
    Value key = c.arg(0);
    if (key.is_error())
        OMBRIX_RETURN(key);
    View t(c.ev, c.args[1]);
    if (t.rows != 1 && t.cols != 1)
        OMBRIX_RETURN(err(ErrorCode::Value));
    int match, search;
    if (!x_modes(c, 2, match, search, out.v))
        return;
    std::int64_t pos = x_position(key, t, t.cols == 1, match, search);
    if (pos == -2)
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (pos < 0)
        OMBRIX_RETURN(err(ErrorCode::NA));
    OMBRIX_RETURN(Value::number(double(pos + 1)));
}

// LET is compiled into bindings; it is listed for its name and argument count only.
OMBRIX_FN(let) {
    (void)c;
    OMBRIX_RETURN(err(ErrorCode::Value));
}

} // namespace

std::vector<Entry> lookup_functions() {
    return {
        {{"CHOOSE", 2, -1, 0, "v(f)"}, fn_choose},
        {{"VLOOKUP", 3, 4, 0, "vavv"}, fn_vlookup},
        {{"HLOOKUP", 3, 4, 0, "vavv"}, fn_hlookup},
        {{"INDEX", 2, 4, 0, "avvv"}, fn_index},
        {{"MATCH", 2, 3, 0, "vav"}, fn_match},
        {{"LOOKUP", 2, 3, 0, "vaa"}, fn_lookup},
        {{"XLOOKUP", 3, 6, 0, "vaaavv"}, fn_xlookup},
        {{"XMATCH", 2, 4, 0, "vavv"}, fn_xmatch},
        {{"LET", 3, 253, 0}, fn_let},
    };
}

} // namespace host::engine::detail::fn
