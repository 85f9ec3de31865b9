// Lookup and reference functions.

#include "engine/functions/Common.hpp"
#include "engine/internal/LookupIndex.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <utility>

#ifdef OMBRIX_HAVE_PCRE2
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif

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

// Position of key among n values given by at(i): mode 0 exact, 1 the last value <= key in
// ascending data, -1 the last value >= key in descending data. -1 if none.
template <class At>
std::int64_t find_position(const Value& key, std::int64_t n, int mode, At at) {
    std::int64_t best = -1;
    for (std::int64_t i = 0; i < n; ++i) {
        Value v = at(i);
        if (mode == 0) {
            if (lookup_equal(v, key))
                return i;
            continue;
        }
        if (v.is_empty() || v.is_error())
            continue;
        bool same = (v.is_number() && key.is_number()) || (v.is_text() && key.is_text()) ||
                    (v.is_boolean() && key.is_boolean());
        if (!same)
            continue;
        int cmp = compare(v, key);
        if (mode > 0 ? cmp <= 0 : cmp >= 0)
            best = i;
        else
            break;
    }
    return best;
}

// find_position through the index of the searched row or column: the same answers.
std::int64_t indexed_position(const LookupIndex& index, const Value& key, int mode) {
    const LookupIndex::Entry* found = nullptr;
    if (mode != 0) {
        found = index.sorted_find(key, mode < 0);
    } else if (key.is_text() && has_wildcards(key.as_text())) {
        for (const LookupIndex::Entry& e : index.entries())
            if (lookup_equal(e.value, key)) {
                found = &e;
                break;
            }
    } else {
        found = index.find(key, lookup_equal);
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
    if (key.is_empty())
        OMBRIX_RETURN(err(ErrorCode::NA));
    double k = std::trunc(index);
    if (k < 1)
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (k > (vertical ? t.cols : t.rows))
        OMBRIX_RETURN(err(ErrorCode::Ref));
    std::int64_t n = vertical ? t.rows : t.cols;
    const LookupIndex* keys = range_index(c.ev.grid, c.args[1], vertical ? 'c' : 'r');
    std::int64_t pos =
        keys ? indexed_position(*keys, key, sorted ? 1 : 0)
             : find_position(key, n, sorted ? 1 : 0, [&](std::int64_t i) {
                   return vertical ? t.at(static_cast<std::int32_t>(i), 0) : t.at(0, static_cast<std::int32_t>(i));
               });
    if (pos < 0)
        OMBRIX_RETURN(err(ErrorCode::NA));
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
    OMBRIX_NUMBER_OR(2, type, 1);
    if (t.rows != 1 && t.cols != 1)
        OMBRIX_RETURN(err(ErrorCode::NA));
    int mode = type > 0 ? 1 : type < 0 ? -1 : 0;
    bool column = t.cols == 1;
    const LookupIndex* index = range_index(c.ev.grid, c.args[1]);
    std::int64_t pos =
        index ? indexed_position(*index, key, mode)
              : find_position(key, column ? t.rows : t.cols, mode, [&](std::int64_t i) {
                    return column ? t.at(static_cast<std::int32_t>(i), 0) : t.at(0, static_cast<std::int32_t>(i));
                });
    if (pos < 0)
        OMBRIX_RETURN(err(ErrorCode::NA));
    OMBRIX_RETURN(Value::number(double(pos + 1)));
}

OMBRIX_FN(index) {
    const Item& src = c.args[0];
    View t(c.ev, src);
    OMBRIX_NUMBER_OR(1, rowf, 0);
    OMBRIX_NUMBER_OR(2, colf, 0);
    OMBRIX_NUMBER_OR(3, area_number, 1);
    if (std::trunc(area_number) != 1) // a reference here is always one area
        OMBRIX_RETURN(err(area_number < 1 ? ErrorCode::Value : ErrorCode::Ref));
    double r = std::trunc(rowf), k = std::trunc(colf);
    if (c.argc < 3 || c.missing(2)) {
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

// ---- positions ----

// The area an item refers to, if it is a reference.
bool area_of(const Ctx& c, const Item& it, Area& a) {
    if (it.kind == Item::Cell) {
        a = c.ev.grid.cell_area(it.cell);
        return true;
    }
    if (it.kind == Item::Range) {
        a = it.area;
        return true;
    }
    return false;
}

// ROW and COLUMN: the formula's own position without an argument; a range gives all its
// rows (columns), the first where one value is wanted.
void position(Ctx& c, Item& out, bool rows) {
    if (c.missing(0))
        OMBRIX_RETURN(Value::number(double((rows ? c.ev.row : c.ev.col) + 1)));
    Area a;
    if (!area_of(c, c.args[0], a))
        OMBRIX_RETURN(c.args[0].kind == Item::Val && c.args[0].v.is_error() ? c.args[0].v : err(ErrorCode::Value));
    std::int32_t first = rows ? a.r1 : a.c1, last = rows ? a.r2 : a.c2;
    if (first == last)
        OMBRIX_RETURN(Value::number(double(first + 1)));
    auto arr = std::make_shared<Array>();
    arr->rows = rows ? last - first + 1 : 1;
    arr->cols = rows ? 1 : last - first + 1;
    for (std::int32_t i = first; i <= last; ++i)
        arr->values.push_back(Value::number(double(i + 1)));
    out.kind = Item::Arr;
    out.arr = c.ev.keep(std::move(arr));
}
OMBRIX_FN(row) { position(c, out, true); }
OMBRIX_FN(column) { position(c, out, false); }

void extent(Ctx& c, Item& out, bool rows) {
    const Item& it = c.args[0];
    if (it.kind == Item::Val && it.v.is_error())
        OMBRIX_RETURN(it.v);
    View v(c.ev, it);
    OMBRIX_RETURN(Value::number(double(rows ? v.rows : v.cols)));
}
OMBRIX_FN(rows) { extent(c, out, true); }
OMBRIX_FN(columns) { extent(c, out, false); }

// ---- references built at run time ----

OMBRIX_FN(offset) {
    Area a;
    if (!area_of(c, c.args[0], a))
        OMBRIX_RETURN(c.args[0].kind == Item::Val && c.args[0].v.is_error() ? c.args[0].v : err(ErrorCode::Value));
    OMBRIX_NUMBER(1, dr);
    OMBRIX_NUMBER(2, dc);
    OMBRIX_NUMBER_OR(3, height, a.r2 - a.r1 + 1);
    OMBRIX_NUMBER_OR(4, width, a.c2 - a.c1 + 1);
    // A size is truncated, but a fraction of one counts as one; a negative size reaches up or
    // left from the offset cell.
    auto size = [](double v) { return std::fabs(v) < 1 && v != 0 ? std::copysign(1.0, v) : std::trunc(v); };
    const double h = size(height), w = size(width);
    if (h == 0 || w == 0)
        OMBRIX_RETURN(err(ErrorCode::Ref));
    double r1 = a.r1 + std::trunc(dr), c1 = a.c1 + std::trunc(dc);
    double r2 = r1 + h - 1, c2 = c1 + w - 1;
    if (h < 0)
        r2 = r1, r1 = r1 + h + 1;
    if (w < 0)
        c2 = c1, c1 = c1 + w + 1;
    if (r1 < 0 || c1 < 0 || r2 >= max_rows || c2 >= max_columns)
        OMBRIX_RETURN(err(ErrorCode::Ref));
    out.kind = Item::Range;
    out.area = Area{a.sheet, std::int32_t(r1), std::int32_t(c1), std::int32_t(r2), std::int32_t(c2)};
    if (c.ev.built_refs)
        c.ev.built_refs->push_back(out.area);
}

// "R2C3", "R[-1]C[2]", "RC" relative to the formula's cell; false if it is not one.
bool read_r1c1_part(std::string_view& s, char letter, std::int32_t here, std::int32_t limit, std::int32_t& out) {
    if (s.empty() || std::toupper(static_cast<unsigned char>(s[0])) != letter)
        return false;
    s.remove_prefix(1);
    bool relative = !s.empty() && s[0] == '[';
    if (relative)
        s.remove_prefix(1);
    std::int64_t v = 0;
    bool negative = relative && !s.empty() && s[0] == '-';
    if (negative)
        s.remove_prefix(1);
    std::size_t digits = 0;
    while (digits < s.size() && digits < 8 && s[digits] >= '0' && s[digits] <= '9')
        v = v * 10 + (s[digits++] - '0');
    s.remove_prefix(digits);
    if (relative) {
        if (s.empty() || s[0] != ']' || digits == 0)
            return false;
        s.remove_prefix(1);
        v = here + (negative ? -v : v);
    } else if (digits == 0) {
        v = here;
    } else {
        v -= 1;
    }
    if (v < 0 || v >= limit)
        return false;
    out = std::int32_t(v);
    return true;
}

bool read_r1c1(std::string_view s, const Evaluator& ev, std::int32_t& row, std::int32_t& col) {
    return read_r1c1_part(s, 'R', ev.row, max_rows, row) && read_r1c1_part(s, 'C', ev.col, max_columns, col) &&
           s.empty();
}

// A defined name that is one reference ("Prices" for =Sheet1!$A$1:$A$9). Names that are
// formulas give #REF! in INDIRECT, as in the spreadsheet.
bool named_reference(const Grid& grid, std::string_view name, int sheet, bool sheet_only, Area& out) {
    const Linked* named = grid.visible_name(name, sheet, sheet_only);
    if (!named || named->code.size() != 1 || named->code[0].op != Op::Ref)
        return false;
    const LinkedRef& r = named->refs[named->code[0].operand];
    if (r.kind == LinkedRef::Cell)
        out = grid.cell_area(r.cell);
    else if (r.kind == LinkedRef::Range)
        out = r.area;
    else
        return false;
    return true;
}

// One end of a whole-column ("D", "$XFD") or whole-row ("7", "$07") reference in A1 text.
bool read_column(std::string_view s, std::int32_t& col) {
    if (!s.empty() && s[0] == '$')
        s.remove_prefix(1);
    if (s.empty() || s.size() > 3)
        return false;
    std::int32_t n = 0;
    for (char ch : s) {
        if (!std::isalpha(static_cast<unsigned char>(ch)))
            return false;
        n = n * 26 + (std::toupper(static_cast<unsigned char>(ch)) - 'A' + 1);
    }
    col = n - 1;
    return col < max_columns;
}
bool read_row(std::string_view s, std::int32_t& row) {
    if (!s.empty() && s[0] == '$')
        s.remove_prefix(1);
    if (s.empty() || s.size() > 7)
        return false;
    std::int32_t n = 0;
    for (char ch : s) {
        if (ch < '0' || ch > '9')
            return false;
        n = n * 10 + (ch - '0');
    }
    row = n - 1;
    return row >= 0 && row < max_rows;
}

OMBRIX_FN(indirect) {
    OMBRIX_TEXT(0, ref);
    bool a1 = true;
    if (!c.missing(1)) {
        ErrorCode e;
        if (!to_boolean(c.arg(1), a1, e))
            OMBRIX_RETURN(err(e));
    }
    int sheet = c.ev.sheet;
    std::string_view cells = ref;
    std::size_t bang = ref.rfind('!');
    if (bang != std::string::npos) {
        std::string name = ref.substr(0, bang);
        if (name.size() >= 2 && name.front() == '\'' && name.back() == '\'') {
            std::string unquoted;
            for (std::size_t i = 1; i + 1 < name.size(); ++i) {
                unquoted += name[i];
                if (name[i] == '\'' && i + 2 < name.size() && name[i + 1] == '\'')
                    ++i;
            }
            name = unquoted;
        }
        sheet = c.ev.grid.sheet_index(name);
        if (sheet < 0)
            OMBRIX_RETURN(err(ErrorCode::Ref));
        cells = std::string_view(ref).substr(bang + 1);
    }
    std::size_t colon = cells.find(':');
    std::string_view first = cells.substr(0, colon);
    std::string_view second = colon == std::string_view::npos ? first : cells.substr(colon + 1);
    std::int32_t r1, c1, r2, c2;
    bool ok = a1 ? parse_a1(first, r1, c1) && parse_a1(second, r2, c2)
                 : read_r1c1(first, c.ev, r1, c1) && read_r1c1(second, c.ev, r2, c2);
    if (!ok && a1 && colon != std::string_view::npos) { // whole columns (D:F) or whole rows (5:7)
        if (read_column(first, c1) && read_column(second, c2)) {
            r1 = 0, r2 = max_rows - 1, ok = true;
        } else if (read_row(first, r1) && read_row(second, r2)) {
            c1 = 0, c2 = max_columns - 1, ok = true;
        }
    }
    if (ok) {
        out.area = Area{sheet, std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2)};
    } else if (!named_reference(c.ev.grid, cells, sheet, bang != std::string::npos, out.area)) {
        OMBRIX_RETURN(err(ErrorCode::Ref));
    }
    out.kind = Item::Range;
    if (c.ev.built_refs)
        c.ev.built_refs->push_back(out.area);
}

// A sheet name as a reference writes it: quoted unless it is letters, digits and '_' not
// starting with a digit.
std::string sheet_prefix(const std::string& name) {
    bool plain = !name.empty() && !std::isdigit(static_cast<unsigned char>(name[0]));
    for (char ch : name)
        plain = plain && (std::isalnum(static_cast<unsigned char>(ch)) || ch == '_' || ch == '.');
    std::int32_t r, k;
    if (plain && !parse_a1(name, r, k))
        return name + "!";
    std::string q = "'";
    for (char ch : name) {
        q += ch;
        if (ch == '\'')
            q += '\'';
    }
    return q + "'!";
}

OMBRIX_FN(address) {
    OMBRIX_NUMBER(0, rowf);
    OMBRIX_NUMBER(1, colf);
    OMBRIX_NUMBER_OR(2, absf, 1);
    bool a1 = true;
    if (!c.missing(3)) {
        ErrorCode e;
        if (!to_boolean(c.arg(3), a1, e))
            OMBRIX_RETURN(err(e));
    }
    double r = std::trunc(rowf), k = std::trunc(colf), mode = std::trunc(absf);
    if (r < 1 || r > max_rows || k < 1 || k > max_columns || mode < 1 || mode > 4)
        OMBRIX_RETURN(err(ErrorCode::Value));
    bool row_abs = mode == 1 || mode == 2, col_abs = mode == 1 || mode == 3;
    std::string prefix;
    if (!c.missing(4)) {
        OMBRIX_TEXT(4, sheet);
        prefix = sheet_prefix(sheet);
    }
    std::int64_t ri = std::int64_t(r), ki = std::int64_t(k);
    if (a1)
        OMBRIX_RETURN(Value::text(prefix + (col_abs ? "$" : "") + column_name(std::int32_t(ki - 1)) +
                                  (row_abs ? "$" : "") + std::to_string(ri)));
    auto part = [](char letter, std::int64_t v, bool abs) {
        return std::string(1, letter) + (abs ? std::to_string(v) : "[" + std::to_string(v) + "]");
    };
    OMBRIX_RETURN(Value::text(prefix + part('R', ri, row_abs) + part('C', ki, col_abs)));
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
    std::int64_t pos = index ? indexed_position(*index, key, 1)
                             : find_position(key, n, 1, [&](std::int64_t i) { return vector_at(t, i, along_rows); });
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
    const std::string pattern = to_text(key);
    int error;
    PCRE2_SIZE offset;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(), PCRE2_UTF, &error,
                                     &offset, nullptr);
    if (!code)
        return -2;
    pcre2_match_data* md = pcre2_match_data_create_from_pattern(code, nullptr);
    std::int64_t found = -1;
    const std::int64_t n = t.size();
    for (std::int64_t k = 0; k < n && found == -1; ++k) {
        const std::int64_t i = search < 0 ? n - 1 - k : k;
        const Value v = t[i];
        if (!v.is_text())
            continue;
        const std::string_view text = v.as_text();
        const int rc = pcre2_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), 0, 0, md, nullptr);
        if (rc >= 0)
            found = i;
        else if (rc < PCRE2_ERROR_NOMATCH)
            found = -2;
    }
    pcre2_match_data_free(md);
    pcre2_code_free(code);
    return found;
#else
    (void)key, (void)t, (void)search;
    return -2;
#endif
}

// Binary search (search mode 2 ascending, -2 descending): the first position, in ascending
// order, whose value is not less than the key, as a lower bound finds it; trailing empty
// cells are not part of the data. Values of every kind are ordered numbers < text < booleans.
std::int64_t binary_position(const Value& key, const Vector& t, int match, int search) {
    std::int64_t n = t.size();
    while (n > 0 && t[n - 1].is_empty())
        --n;
    if (key.is_empty()) // an empty key finds the first empty cell after the data
        return n < t.size() ? n : -1;
    auto at = [&](std::int64_t k) { return search > 0 ? k : n - 1 - k; };
    std::int64_t lo = 0, hi = n;
    while (lo < hi) {
        const std::int64_t mid = lo + (hi - lo) / 2;
        if (compare(t[at(mid)], key) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    if (lo < n && x_equal(t[at(lo)], key))
        return at(lo);
    if (match == -1)
        return lo > 0 ? at(lo - 1) : -1;
    if (match == 1)
        return lo < n ? at(lo) : -1;
    return -1;
}

// Position of key in a row or column for XLOOKUP and XMATCH; -1 if none, -2 for #VALUE!.
// match: 0 exact, -1 exact or next smaller, 1 exact or next larger, 2 wildcards, 3 regular
// expression. search: 1 from the first, -1 from the last, 2/-2 binary search of ascending /
// descending data. "Next smaller" and "next larger" order all kinds: numbers < text < booleans.
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
        if (v.is_empty() || v.is_error() || key.is_empty() || (match != -1 && match != 1))
            continue;
        const int cmp = compare(v, key);
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
        {{"CHOOSE", 2, -1, 0}, fn_choose},
        {{"VLOOKUP", 3, 4, 0}, fn_vlookup},
        {{"HLOOKUP", 3, 4, 0}, fn_hlookup},
        {{"INDEX", 2, 4, 0}, fn_index},
        {{"MATCH", 2, 3, 0}, fn_match},
        {{"ROW", 0, 1, 0}, fn_row},
        {{"COLUMN", 0, 1, 0}, fn_column},
        {{"ROWS", 1, 1, 0}, fn_rows},
        {{"COLUMNS", 1, 1, 0}, fn_columns},
        {{"OFFSET", 3, 5, FnVolatile}, fn_offset},
        {{"INDIRECT", 1, 2, FnVolatile}, fn_indirect},
        {{"ADDRESS", 2, 5, 0}, fn_address},
        {{"LOOKUP", 2, 3, 0}, fn_lookup},
        {{"XLOOKUP", 3, 6, 0}, fn_xlookup},
        {{"XMATCH", 2, 4, 0}, fn_xmatch},
        {{"LET", 3, 253, 0}, fn_let},
    };
}

} // namespace host::engine::detail::fn
