// The functions that call a LAMBDA: MAP, REDUCE, SCAN, BYROW, BYCOL, MAKEARRAY; and
// ISOMITTED, for a parameter the call left out.
//
// A call runs on the evaluator's stack, where the arguments live: each function here copies
// what it needs from its arguments before the first call.

#include "engine/functions/ArrayArgs.hpp"

namespace host::engine::detail::fn {

namespace {

// The function in argument i, or nullptr (with #VALUE! in `out`).
const Closure* function_arg(const Ctx& c, int i, Value& out) {
    if (i < c.argc && c.args[i].closure)
        return c.args[i].closure;
    out = i < c.argc && c.args[i].kind == Item::Val && c.args[i].v.is_error() && !c.args[i].closure
              ? c.args[i].v
              : err(ErrorCode::Value);
    return nullptr;
}

Item value_item(const Value& v) {
    Item it;
    it.v = v;
    return it;
}

// Argument i's elements as a function takes them: from a range, each a reference to its
// cell (MAX(x) then passes over text as it does in a range, ISREF(x) is TRUE); from an array
// MAP made of functions, each its function; otherwise each its value.
struct Elements {
    ValueGrid g;
    // Copied: the arguments live on the evaluator's stack, which the calls move.
    const std::vector<const Closure*>* functions = nullptr;
    bool from_range = false;
    Area area{0, 0, 0, 0, 0};

    bool read(const Ctx& c, int i, Value& out) {
        const Item& arg = c.args[i];
        if (arg.kind == Item::Val && arg.v.is_error() && !arg.closure) { // an error is an element too
            g = sized(1, 1, arg.v);
            return true;
        }
        if (!grid_arg(c, i, g, out))
            return false;
        if (arg.kind == Item::Range && !arg.areas && arg.last_sheet < 0 && arg.area.r2 - arg.area.r1 + 1 == g.rows &&
            arg.area.c2 - arg.area.c1 + 1 == g.cols)
            from_range = true, area = arg.area;
        else if (arg.kind == Item::Arr && !arg.arr->functions.empty() && arg.arr->rows == g.rows &&
                 arg.arr->cols == g.cols)
            functions = &arg.arr->functions;
        return true;
    }
    Item operator[](std::size_t k) const {
        Item it = value_item(g.values[k]);
        if (from_range) {
            const std::int32_t r = area.r1 + std::int32_t(k / std::size_t(g.cols)),
                               col = area.c1 + std::int32_t(k % std::size_t(g.cols));
            it.kind = Item::Range;
            it.area = Area{area.sheet, r, col, r, col};
        } else if (functions) {
            it.closure = (*functions)[k];
        }
        return it;
    }
};

// One value from a call whose result fills one cell; an array there is #CALC!, unless it
// holds a single element (`{#VALUE!}`, `x*{1}`), which counts as that element.
Value single_result(const Evaluator& ev, const Item& result) {
    if ((result.kind == Item::Arr && result.arr->values.size() != 1) ||
        (result.kind == Item::Range && result.area.size() > 1))
        return err(ErrorCode::Calc);
    Value v = ev.scalar(result, true);
    return v.is_empty() ? Value::number(0) : v;
}

// MAP(array1, [array2, ...], function): the function of the arrays' elements, one by one.
OMBRIX_FN(map) {
    const Closure* f = function_arg(c, c.argc - 1, out.v);
    if (!f)
        return;
    std::vector<Elements> grids(std::size_t(c.argc - 1));
    for (int i = 0; i + 1 < c.argc; ++i)
        if (!grids[std::size_t(i)].read(c, i, out.v))
            return;
    const ValueGrid& first = grids[0].g;
    for (const Elements& e : grids)
        if (e.g.rows != first.rows || e.g.cols != first.cols)
            OMBRIX_RETURN(err(ErrorCode::Value));
    ValueGrid r = sized(first.rows, first.cols);
    // A function that returns a function gives an array of them, for REDUCE or SCAN to call.
    std::vector<const Closure*> made;
    std::vector<Item> args(grids.size());
    for (std::size_t k = 0; k < r.values.size(); ++k) {
        for (std::size_t i = 0; i < grids.size(); ++i)
            args[i] = grids[i][k];
        const Item result = c.ev.invoke(*f, args.data(), int(args.size()));
        r.values[k] = single_result(c.ev, result);
        if (result.closure) {
            made.resize(r.values.size());
            made[k] = result.closure;
        }
    }
    give_with_functions(c, out, std::move(r), std::move(made));
}

// REDUCE([initial], array, function) and SCAN: the function of the accumulated value and each
// element in turn; SCAN keeps every step.
void accumulate(Ctx& c, Item& out, bool keep_steps) {
    const Closure* f = function_arg(c, 2, out.v);
    if (!f)
        return;
    Elements elements;
    if (!elements.read(c, 1, out.v))
        return;
    const ValueGrid& g = elements.g;
    Item acc = c.missing(0) ? value_item(Value()) : c.args[0];
    if (acc.kind == Item::Missing)
        acc = value_item(Value());
    ValueGrid steps = sized(g.rows, g.cols);
    // Only the latest accumulated value is kept: a REDUCE that stacks its elements would
    // otherwise hold every intermediate stack.
    const Evaluator::Mark before = c.ev.mark();
    for (std::size_t k = 0; k < g.values.size(); ++k) {
        Item args[2] = {acc, elements[k]};
        acc = c.ev.invoke(*f, args, 2);
        c.ev.release(before, acc);
        if (keep_steps)
            steps.values[k] = single_result(c.ev, acc);
    }
    if (keep_steps)
        return give(c, out, std::move(steps));
    out = acc;
    if (out.kind == Item::Val && out.v.is_empty())
        out.v = Value::number(0);
}
OMBRIX_FN(reduce) { accumulate(c, out, false); }
OMBRIX_FN(scan) { accumulate(c, out, true); }

// BYROW and BYCOL: the function of each row (column), one value each.
void by_line(Ctx& c, Item& out, bool rows) {
    const Closure* f = function_arg(c, 1, out.v);
    if (!f)
        return;
    Elements elements;
    if (!elements.read(c, 0, out.v))
        return;
    const ValueGrid& g = elements.g;
    std::int32_t lines = rows ? g.rows : g.cols, width = rows ? g.cols : g.rows;
    ValueGrid r = rows ? sized(lines, 1) : sized(1, lines);
    for (std::int32_t i = 0; i < lines; ++i) {
        if (elements.from_range) { // a row (column) of a range is a reference to it
            const Area* a = &elements.area;
            Item arg;
            arg.kind = Item::Range;
            arg.area = rows ? Area{a->sheet, a->r1 + i, a->c1, a->r1 + i, a->c2}
                            : Area{a->sheet, a->r1, a->c1 + i, a->r2, a->c1 + i};
            r.values[std::size_t(i)] = single_result(c.ev, c.ev.invoke(*f, &arg, 1));
            continue;
        }
        const Evaluator::Mark before = c.ev.mark();
        auto line = std::make_shared<Array>();
        line->rows = rows ? 1 : width;
        line->cols = rows ? width : 1;
        for (std::int32_t k = 0; k < width; ++k)
            line->values.push_back(rows ? g.at(i, k) : g.at(k, i));
        Item arg;
        arg.kind = Item::Arr;
        arg.arr = c.ev.keep(std::move(line));
        r.values[std::size_t(i)] = single_result(c.ev, c.ev.invoke(*f, &arg, 1));
        c.ev.release(before, Item()); // the line too
    }
    give(c, out, std::move(r));
}
OMBRIX_FN(byrow) { by_line(c, out, true); }
OMBRIX_FN(bycol) { by_line(c, out, false); }

// MAKEARRAY(rows, columns, function): the function of each cell's row and column numbers.
OMBRIX_FN(makearray) {
    OMBRIX_NUMBER(0, rows);
    OMBRIX_NUMBER(1, cols);
    const Closure* f = function_arg(c, 2, out.v);
    if (!f)
        return;
    rows = std::trunc(rows), cols = std::trunc(cols);
    if (rows < 1 || cols < 1)
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (rows * cols > double(max_dense_cells))
        OMBRIX_RETURN(err(ErrorCode::Num));
    ValueGrid r = sized(std::int32_t(rows), std::int32_t(cols));
    for (std::int32_t i = 0; i < r.rows; ++i)
        for (std::int32_t k = 0; k < r.cols; ++k) {
            Item args[2] = {value_item(Value::number(i + 1)), value_item(Value::number(k + 1))};
            r.values[std::size_t(i) * std::size_t(r.cols) + std::size_t(k)] =
                single_result(c.ev, c.ev.invoke(*f, args, 2));
        }
    give(c, out, std::move(r));
}

OMBRIX_FN(isomitted) { OMBRIX_RETURN(Value::boolean(c.args[0].kind == Item::Missing)); }

} // namespace

std::vector<Entry> lambda_functions() {
    constexpr std::uint8_t A = FnArrayArgs;
    return {
        {{"MAP", 2, -1, A}, fn_map},
        {{"REDUCE", 3, 3, A}, fn_reduce},
        {{"SCAN", 3, 3, A}, fn_scan},
        {{"BYROW", 2, 2, A}, fn_byrow},
        {{"BYCOL", 2, 2, A}, fn_bycol},
        {{"MAKEARRAY", 3, 3, 0, "vva"}, fn_makearray},
        {{"ISOMITTED", 1, 1, 0}, fn_isomitted},
    };
}

} // namespace host::engine::detail::fn
