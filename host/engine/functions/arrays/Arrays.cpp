// Functions whose result is an array: reshaping (TRANSPOSE, TAKE, DROP, VSTACK ...) and the
// spill operators' functions (ANCHORARRAY for A1#, SINGLE for @, the trim operators). Choosing
// (FILTER, SORT, UNIQUE) is in Choosing.cpp, building (SEQUENCE, MUNIT, the matrices) in
// ArrayBuilders.cpp.

#include "engine/A1.hpp"
#include "engine/functions/ArrayArgs.hpp"

#include <cmath>

namespace host::engine::detail::fn {

bool grid_arg(const Ctx& c, int i, ValueGrid& g, Value& out) {
    const Item& it = c.args[i];
    if (it.kind == Item::Val && it.v.is_error()) {
        out = it.v;
        return false;
    }
    if (it.kind == Item::Range && (it.areas || it.last_sheet >= 0)) {
        out = err(ErrorCode::Value);
        return false;
    }
    View v(c.ev, it);
    if (std::int64_t(v.rows) * v.cols > max_dense_cells) {
        out = err(ErrorCode::Num);
        return false;
    }
    g.rows = v.rows;
    g.cols = v.cols;
    g.values.clear();
    g.values.reserve(std::size_t(v.rows) * std::size_t(v.cols));
    for (std::int32_t r = 0; r < v.rows; ++r)
        for (std::int32_t k = 0; k < v.cols; ++k)
            g.values.push_back(v.at(r, k));
    return true;
}

void give_with_functions(Ctx& c, Item& out, ValueGrid g, std::vector<const Closure*> functions) {
    if (functions.empty())
        return give(c, out, std::move(g));
    auto arr = std::make_shared<Array>();
    arr->rows = g.rows;
    arr->cols = g.cols;
    arr->values = std::move(g.values);
    arr->functions = std::move(functions);
    out.kind = Item::Arr;
    out.arr = c.ev.keep(std::move(arr));
}

void give(Ctx& c, Item& out, ValueGrid g) {
    if (g.rows <= 0 || g.cols <= 0) // an empty array, as the spreadsheet calls it
        OMBRIX_RETURN(err(ErrorCode::Calc));
    auto a = std::make_shared<Array>();
    a->rows = g.rows;
    a->cols = g.cols;
    a->values = std::move(g.values);
    out.kind = Item::Arr;
    out.arr = c.ev.keep(std::move(a));
}

// A count argument: truncated; within [lo, hi].
bool count_arg(const Ctx& c, int i, double fallback, double lo, double hi, std::int32_t& n, Value& out) {
    double x;
    if (!num(c, i, x, out, fallback))
        return false;
    x = std::trunc(x);
    if (x < lo || x > hi) {
        out = err(x < lo ? ErrorCode::Value : ErrorCode::Num);
        return false;
    }
    n = static_cast<std::int32_t>(x);
    return true;
}

ValueGrid sized(std::int32_t rows, std::int32_t cols, const Value& fill) {
    ValueGrid g;
    g.rows = rows;
    g.cols = cols;
    g.values.assign(std::size_t(rows) * std::size_t(cols), fill);
    return g;
}

namespace {

// ---- the spill operators ----

OMBRIX_FN(anchorarray) { // A1#
    const Item& it = c.args[0];
    if (it.kind == Item::Val && it.v.is_error())
        OMBRIX_RETURN(it.v);
    std::uint32_t anchor = it.cell;
    if (it.kind == Item::Range && it.area.size() == 1 && !it.areas && it.last_sheet < 0) { // OFFSET(A1,1,1)#
        const auto& ids = c.ev.grid.cells_in(it.area);
        if (ids.empty())
            OMBRIX_RETURN(err(ErrorCode::Ref));
        anchor = ids.front();
    } else if (it.kind != Item::Cell) {
        OMBRIX_RETURN(err(ErrorCode::Ref));
    }
    Area a;
    Value error;
    if (!c.ev.grid.spill_area(anchor, a, error))
        OMBRIX_RETURN(error);
    if (c.ev.built_refs)
        c.ev.built_refs->push_back(a);
    out.kind = a.r1 == a.r2 && a.c1 == a.c2 ? Item::Cell : Item::Range;
    out.cell = anchor;
    out.area = a;
}

OMBRIX_FN(single) { // @x: one value, by implicit intersection
    OMBRIX_RETURN(c.ev.scalar(c.args[0]));
}

// TRIMRANGE(range, [rows], [columns]) and the trim operators (A1:.B9, written
// _xlfn._TRO_TRAILING(A1:B9) in files): the range without its empty outer rows and columns,
// 0 none, 1 the leading ones, 2 the trailing ones, 3 both (the default).
void trim_range(Ctx& c, Item& out, int rows_mode, int cols_mode) {
    const Item& it = c.args[0];
    if (it.kind == Item::Val && it.v.is_error())
        OMBRIX_RETURN(it.v);
    if (it.kind != Item::Cell && (it.kind != Item::Range || it.areas || it.last_sheet >= 0))
        OMBRIX_RETURN(err(ErrorCode::Value));
    const Area whole = it.kind == Item::Cell ? c.ev.grid.cell_area(it.cell) : it.area;
    Area used{whole.sheet, whole.r2 + 1, whole.c2 + 1, whole.r1 - 1, whole.c1 - 1};
    for (std::uint32_t id : c.ev.grid.cells_in(whole)) {
        if (c.ev.grid.cell_value(id).is_empty())
            continue;
        const Area at = c.ev.grid.cell_area(id);
        used = Area{whole.sheet, std::min(used.r1, at.r1), std::min(used.c1, at.c1), std::max(used.r2, at.r2),
                    std::max(used.c2, at.c2)};
    }
    if (used.r1 > used.r2) // nothing in it: its first cell
        used = Area{whole.sheet, whole.r1, whole.c1, whole.r1, whole.c1};
    Area a = whole;
    if (rows_mode & 1)
        a.r1 = used.r1;
    if (rows_mode & 2)
        a.r2 = used.r2;
    if (cols_mode & 1)
        a.c1 = used.c1;
    if (cols_mode & 2)
        a.c2 = used.c2;
    out.kind = Item::Range;
    out.area = a;
}

bool trim_mode(const Ctx& c, int i, int& mode, Value& out) {
    double x;
    if (!num(c, i, x, out, 3))
        return false;
    if (x < 0 || x > 3 || x != std::trunc(x)) {
        out = err(ErrorCode::Value);
        return false;
    }
    mode = int(x);
    return true;
}

OMBRIX_FN(trimrange) {
    int rows_mode, cols_mode;
    if (trim_mode(c, 1, rows_mode, out.v) && trim_mode(c, 2, cols_mode, out.v))
        trim_range(c, out, rows_mode, cols_mode);
}
OMBRIX_FN(trim_all) { trim_range(c, out, 3, 3); }
OMBRIX_FN(trim_leading) { trim_range(c, out, 1, 1); }
OMBRIX_FN(trim_trailing) { trim_range(c, out, 2, 2); }

// ---- reshaping ----

OMBRIX_FN(transpose) {
    OMBRIX_GRID(0, g);
    ValueGrid t = sized(g.cols, g.rows);
    for (std::int32_t r = 0; r < g.rows; ++r)
        for (std::int32_t k = 0; k < g.cols; ++k)
            t.values[std::size_t(k) * std::size_t(g.rows) + std::size_t(r)] = g.at(r, k);
    for (Value& v : t.values)
        if (v.is_empty())
            v = Value::number(0);
    give(c, out, std::move(t));
}

// The rows [r1, r2) and columns [c1, c2) of a grid.
ValueGrid part(const ValueGrid& g, std::int32_t r1, std::int32_t r2, std::int32_t c1, std::int32_t c2) {
    ValueGrid p = sized(std::max(0, r2 - r1), std::max(0, c2 - c1));
    for (std::int32_t r = 0; r < p.rows; ++r)
        for (std::int32_t k = 0; k < p.cols; ++k)
            p.values[std::size_t(r) * std::size_t(p.cols) + std::size_t(k)] = g.at(r1 + r, c1 + k);
    return p;
}

// TAKE and DROP: counts from the start, or from the end when negative. Of one range, the
// kept cells are a reference, as INDEX's are: OFFSET, ROW or a LAMBDA of MAP can use them.
void take_or_drop(Ctx& c, Item& out, bool take) {
    const Item& source = c.args[0];
    const bool of_range =
        (source.kind == Item::Range && !source.areas && source.last_sheet < 0) || source.kind == Item::Cell;
    const Area whole = source.kind == Item::Cell ? c.ev.grid.cell_area(source.cell) : source.area;
    ValueGrid g;
    if (of_range) {
        g.rows = whole.r2 - whole.r1 + 1;
        g.cols = whole.c2 - whole.c1 + 1;
    } else if (!grid_arg(c, 0, g, out.v)) {
        return;
    }
    double limit = double(max_rows);
    std::int32_t rows = take ? g.rows : 0, cols = take ? g.cols : 0;
    if (!c.missing(1) && !count_arg(c, 1, 0, -limit, limit, rows, out.v))
        return;
    if (c.argc > 2 && !c.missing(2) && !count_arg(c, 2, 0, -limit, limit, cols, out.v))
        return;
    auto span = [take](std::int32_t n, std::int32_t size, std::int32_t& from, std::int32_t& to) {
        n = std::max(-size, std::min(size, n));
        if (take) {
            from = n >= 0 ? 0 : size + n;
            to = n >= 0 ? n : size;
        } else {
            from = n >= 0 ? n : 0;
            to = n >= 0 ? size : size + n;
        }
    };
    std::int32_t r1, r2, c1, c2;
    span(rows, g.rows, r1, r2);
    span(cols, g.cols, c1, c2);
    if (of_range && r1 < r2 && c1 < c2) {
        out.kind = Item::Range;
        out.area = Area{whole.sheet, whole.r1 + r1, whole.c1 + c1, whole.r1 + r2 - 1, whole.c1 + c2 - 1};
        return;
    }
    if (of_range) // nothing kept
        OMBRIX_RETURN(err(ErrorCode::Calc));
    give(c, out, part(g, r1, r2, c1, c2));
}
OMBRIX_FN(take) { take_or_drop(c, out, true); }
OMBRIX_FN(drop) { take_or_drop(c, out, false); }

// CHOOSECOLS and CHOOSEROWS: the listed columns (rows), counted from the end when negative;
// a list of them is a row or a column (one of several rows and columns is #VALUE!).
void choose_lines(Ctx& c, Item& out, bool columns) {
    OMBRIX_GRID(0, g);
    std::int32_t size = columns ? g.cols : g.rows;
    std::vector<std::int32_t> picks;
    for (int i = 1; i < c.argc; ++i) {
        ValueGrid list;
        if (!grid_arg(c, i, list, out.v))
            return;
        if (list.rows > 1 && list.cols > 1)
            OMBRIX_RETURN(err(ErrorCode::Value));
        for (const Value& v : list.values) {
            double x;
            ErrorCode e = ErrorCode::Value;
            if (!to_number(v, x, e, c.ev.grid.date1904()))
                OMBRIX_RETURN(err(e));
            x = std::trunc(x);
            if (x == 0 || std::fabs(x) > size)
                OMBRIX_RETURN(err(ErrorCode::Value));
            picks.push_back(x > 0 ? std::int32_t(x) - 1 : size + std::int32_t(x));
        }
    }
    ValueGrid r = columns ? sized(g.rows, std::int32_t(picks.size())) : sized(std::int32_t(picks.size()), g.cols);
    for (std::int32_t i = 0; i < r.rows; ++i)
        for (std::int32_t k = 0; k < r.cols; ++k)
            r.values[std::size_t(i) * std::size_t(r.cols) + std::size_t(k)] =
                columns ? g.at(i, picks[std::size_t(k)]) : g.at(picks[std::size_t(i)], k);
    give(c, out, std::move(r));
}
OMBRIX_FN(choosecols) { choose_lines(c, out, true); }
OMBRIX_FN(chooserows) { choose_lines(c, out, false); }

OMBRIX_FN(expand) {
    OMBRIX_GRID(0, g);
    double limit = double(max_rows);
    std::int32_t rows = g.rows, cols = g.cols;
    if (!c.missing(1) && !count_arg(c, 1, 0, 1, limit, rows, out.v))
        return;
    if (c.argc > 2 && !c.missing(2) && !count_arg(c, 2, 0, 1, max_columns, cols, out.v))
        return;
    if (rows < g.rows || cols < g.cols)
        OMBRIX_RETURN(err(ErrorCode::Value));
    Value pad = c.argc > 3 && !c.missing(3) ? c.arg(3) : err(ErrorCode::NA);
    if (std::int64_t(rows) * cols > max_dense_cells)
        OMBRIX_RETURN(err(ErrorCode::Num));
    ValueGrid r = sized(rows, cols, pad);
    for (std::int32_t i = 0; i < g.rows; ++i)
        for (std::int32_t k = 0; k < g.cols; ++k)
            r.values[std::size_t(i) * std::size_t(cols) + std::size_t(k)] = g.at(i, k);
    give(c, out, std::move(r));
}

// VSTACK and HSTACK: the arguments one after another, short ones padded with #N/A.
void stack_args(Ctx& c, Item& out, bool vertical) {
    std::vector<ValueGrid> parts(std::size_t(c.argc));
    std::int64_t along = 0, across = 0;
    for (int i = 0; i < c.argc; ++i) {
        // A function: one cell, #CALC! as a value; an error: one cell holding it.
        if (c.args[i].closure || (c.args[i].kind == Item::Val && c.args[i].v.is_error()))
            parts[std::size_t(i)] = sized(1, 1, c.args[i].v);
        else if (!grid_arg(c, i, parts[std::size_t(i)], out.v))
            return;
        const ValueGrid& p = parts[std::size_t(i)];
        along += vertical ? p.rows : p.cols;
        across = std::max<std::int64_t>(across, vertical ? p.cols : p.rows);
    }
    if (along * across > max_dense_cells)
        OMBRIX_RETURN(err(ErrorCode::Num));
    ValueGrid r = vertical ? sized(std::int32_t(along), std::int32_t(across), err(ErrorCode::NA))
                           : sized(std::int32_t(across), std::int32_t(along), err(ErrorCode::NA));
    std::int32_t offset = 0;
    for (const ValueGrid& p : parts) {
        for (std::int32_t i = 0; i < p.rows; ++i)
            for (std::int32_t k = 0; k < p.cols; ++k) {
                std::int32_t rr = vertical ? offset + i : i, cc = vertical ? k : offset + k;
                const Value& v = p.at(i, k);
                r.values[std::size_t(rr) * std::size_t(r.cols) + std::size_t(cc)] = v.is_empty() ? Value::number(0) : v;
            }
        offset += vertical ? p.rows : p.cols;
    }
    // Functions stacked (HSTACK(SUM, LAMBDA(x, ...))) stay functions, for GROUPBY and PIVOTBY.
    std::vector<const Closure*> made;
    offset = 0;
    for (int i = 0; i < c.argc; ++i) {
        const Item& a = c.args[i];
        const ValueGrid& p = parts[std::size_t(i)];
        const bool listed =
            a.kind == Item::Arr && !a.arr->functions.empty() && a.arr->rows == p.rows && a.arr->cols == p.cols;
        if (a.closure || listed) {
            made.resize(r.values.size());
            for (std::int32_t k = 0; k < p.rows * p.cols; ++k) {
                std::int32_t rr = vertical ? offset + k / p.cols : k / p.cols,
                             cc = vertical ? k % p.cols : offset + k % p.cols;
                made[std::size_t(rr) * std::size_t(r.cols) + std::size_t(cc)] =
                    a.closure ? a.closure : a.arr->functions[std::size_t(k)];
            }
        }
        offset += vertical ? p.rows : p.cols;
    }
    give_with_functions(c, out, std::move(r), std::move(made));
}
OMBRIX_FN(vstack) { stack_args(c, out, true); }
OMBRIX_FN(hstack) { stack_args(c, out, false); }

// TOCOL and TOROW: every value in one line; `ignore` 1 skips blanks, 2 errors, 3 both.
void to_line(Ctx& c, Item& out, bool column) {
    OMBRIX_GRID(0, g);
    std::int32_t ignore = 0; // 0 to 3; any other is #VALUE!, above as below
    if (c.argc > 1 && !c.missing(1) && !count_arg(c, 1, 0, 0, double(max_rows), ignore, out.v))
        return;
    if (ignore > 3)
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_FLAG(2, by_column);
    std::vector<Value> line;
    std::int32_t outer = by_column ? g.cols : g.rows, inner = by_column ? g.rows : g.cols;
    for (std::int32_t i = 0; i < outer; ++i)
        for (std::int32_t k = 0; k < inner; ++k) {
            const Value& v = by_column ? g.at(k, i) : g.at(i, k);
            if (((ignore & 1) && v.is_empty()) || ((ignore & 2) && v.is_error()))
                continue;
            line.push_back(v.is_empty() ? Value::number(0) : v);
        }
    ValueGrid r;
    r.rows = column ? std::int32_t(line.size()) : 1;
    r.cols = column ? 1 : std::int32_t(line.size());
    r.values = std::move(line);
    give(c, out, std::move(r));
}
OMBRIX_FN(tocol) { to_line(c, out, true); }
OMBRIX_FN(torow) { to_line(c, out, false); }

// WRAPROWS and WRAPCOLS: a line cut into rows (columns) of `count`, the last padded.
void wrap(Ctx& c, Item& out, bool rows) {
    OMBRIX_GRID(0, g);
    if (g.rows > 1 && g.cols > 1)
        OMBRIX_RETURN(err(ErrorCode::Value));
    std::int32_t count;
    if (!count_arg(c, 1, 0, 1, double(max_rows), count, out.v))
        return;
    Value pad = c.argc > 2 && !c.missing(2) ? c.arg(2) : err(ErrorCode::NA);
    std::int32_t n = std::int32_t(g.values.size());
    count = std::min(count, n); // a line never longer than the values
    std::int32_t lines = (n + count - 1) / count;
    ValueGrid r = rows ? sized(lines, count, pad) : sized(count, lines, pad);
    for (std::int32_t i = 0; i < n; ++i) {
        std::int32_t line = i / count, at = i % count;
        std::int32_t rr = rows ? line : at, cc = rows ? at : line;
        const Value& v = g.values[std::size_t(i)];
        r.values[std::size_t(rr) * std::size_t(r.cols) + std::size_t(cc)] = v.is_empty() ? Value::number(0) : v;
    }
    give(c, out, std::move(r));
}
OMBRIX_FN(wraprows) { wrap(c, out, true); }
OMBRIX_FN(wrapcols) { wrap(c, out, false); }

} // namespace

std::vector<Entry> array_functions() {
    constexpr std::uint8_t A = FnArrayArgs;
    return {
        {{"ANCHORARRAY", 1, 1, 0}, fn_anchorarray},
        {{"SINGLE", 1, 1, 0}, fn_single},
        {{"TRIMRANGE", 1, 3, 0}, fn_trimrange},
        {{"_TRO_ALL", 1, 1, 0}, fn_trim_all},
        {{"_TRO_LEADING", 1, 1, 0}, fn_trim_leading},
        {{"_TRO_TRAILING", 1, 1, 0}, fn_trim_trailing},
        {{"TRANSPOSE", 1, 1, A}, fn_transpose},
        {{"TAKE", 2, 3, A, "avv"}, fn_take},
        {{"DROP", 2, 3, A, "avv"}, fn_drop},
        {{"CHOOSECOLS", 2, -1, A}, fn_choosecols},
        {{"CHOOSEROWS", 2, -1, A}, fn_chooserows},
        {{"EXPAND", 2, 4, A}, fn_expand},
        {{"VSTACK", 1, -1, A}, fn_vstack},
        {{"HSTACK", 1, -1, A}, fn_hstack},
        {{"TOCOL", 1, 3, A, "avv"}, fn_tocol},
        {{"TOROW", 1, 3, A, "avv"}, fn_torow},
        {{"WRAPROWS", 2, 3, A, "ava"}, fn_wraprows},
        {{"WRAPCOLS", 2, 3, A, "ava"}, fn_wrapcols},
    };
}

} // namespace host::engine::detail::fn
