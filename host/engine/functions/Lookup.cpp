// Lookup and reference functions.

#include "engine/functions/Common.hpp"
#include "engine/Workbook.hpp"

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
        return has_wildcards(key.as_text()) ? wildcard_match(key.as_text(), cell.as_text())
                                            : compare(cell, key) == 0;
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

FN(choose) {
    NUM(0, x);
    double i = std::trunc(x);
    if (i < 1 || i >= c.argc)
        RET(err(ErrorCode::Value));
    out = c.args[static_cast<int>(i)];
    if (out.kind == Item::Missing) {
        out.kind = Item::Val;
        out.v = Value::number(0);
    }
}

void table_lookup(Ctx& c, Item& out, bool vertical) {
    Value key = c.arg(0);
    if (key.is_error())
        RET(key);
    if (key.is_empty())
        RET(err(ErrorCode::NA));
    View t(c.ev, c.args[1]);
    NUM(2, index);
    bool sorted = true;
    if (!c.missing(3) || c.argc > 3) {
        ErrorCode e;
        if (!to_boolean(c.arg(3), sorted, e))
            RET(err(e));
    }
    double k = std::trunc(index);
    if (k < 1)
        RET(err(ErrorCode::Value));
    if (k > (vertical ? t.cols : t.rows))
        RET(err(ErrorCode::Ref));
    std::int64_t n = vertical ? t.rows : t.cols;
    std::int64_t pos = find_position(key, n, sorted ? 1 : 0, [&](std::int64_t i) {
        return vertical ? t.at(static_cast<std::int32_t>(i), 0) : t.at(0, static_cast<std::int32_t>(i));
    });
    if (pos < 0)
        RET(err(ErrorCode::NA));
    std::int32_t off = static_cast<std::int32_t>(k) - 1, p = static_cast<std::int32_t>(pos);
    RET(vertical ? t.at(p, off) : t.at(off, p));
}
FN(vlookup) { table_lookup(c, out, true); }
FN(hlookup) { table_lookup(c, out, false); }

FN(match) {
    Value key = c.arg(0);
    if (key.is_error())
        RET(key);
    View t(c.ev, c.args[1]);
    NUMD(2, type, 1);
    if (t.rows != 1 && t.cols != 1)
        RET(err(ErrorCode::NA));
    int mode = type > 0 ? 1 : type < 0 ? -1 : 0;
    bool column = t.cols == 1;
    std::int64_t pos = find_position(key, column ? t.rows : t.cols, mode, [&](std::int64_t i) {
        return column ? t.at(static_cast<std::int32_t>(i), 0) : t.at(0, static_cast<std::int32_t>(i));
    });
    if (pos < 0)
        RET(err(ErrorCode::NA));
    RET(Value::number(double(pos + 1)));
}

FN(index) {
    const Item& src = c.args[0];
    View t(c.ev, src);
    NUMD(1, rowf, 0);
    NUMD(2, colf, 0);
    double r = std::trunc(rowf), k = std::trunc(colf);
    if (c.argc < 3 || c.missing(2)) {
        if (t.rows == 1 && t.cols > 1)   // a single row: the one index picks the column
            std::swap(r, k);
    }
    if (r < 0 || k < 0)
        RET(err(ErrorCode::Value));
    if (r > t.rows || k > t.cols)
        RET(err(ErrorCode::Ref));
    std::int32_t r1 = r == 0 ? 0 : static_cast<std::int32_t>(r) - 1, r2 = r == 0 ? t.rows - 1 : r1;
    std::int32_t c1 = k == 0 ? 0 : static_cast<std::int32_t>(k) - 1, c2 = k == 0 ? t.cols - 1 : c1;
    if (src.kind == Item::Range) {
        out.kind = Item::Range;
        out.area = Area{src.area.sheet, src.area.r1 + r1, src.area.c1 + c1, src.area.r1 + r2, src.area.c1 + c2};
        return;
    }
    if (r1 == r2 && c1 == c2)
        RET(t.at(r1, c1));
    auto a = std::make_shared<Array>();
    a->rows = r2 - r1 + 1;
    a->cols = c2 - c1 + 1;
    for (std::int32_t i = r1; i <= r2; ++i)
        for (std::int32_t j = c1; j <= c2; ++j)
            a->values.push_back(t.at(i, j));
    out.kind = Item::Arr;
    out.arr = c.ev.keep(std::move(a));
}

} // namespace

std::vector<Entry> lookup_functions() {
    return {
        {{"CHOOSE", 2, -1, 0}, fn_choose},
        {{"VLOOKUP", 3, 4, 0}, fn_vlookup},
        {{"HLOOKUP", 3, 4, 0}, fn_hlookup},
        {{"INDEX", 2, 3, 0}, fn_index},
        {{"MATCH", 2, 3, 0}, fn_match},
    };
}

} // namespace host::engine::detail::fn
