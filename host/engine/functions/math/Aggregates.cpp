// Sums, counts and their kin over any mix of values, references and arrays.

#include "engine/functions/Common.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>
#include <cmath>
#include <memory>

namespace host::engine::detail::fn {

namespace {

OMBRIX_FN(sum) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        double s = 0;
        for (double x : xs)
            s += x;
        return Value::number(s);
    });
}
OMBRIX_FN(sumsq) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        double s = 0;
        for (double x : xs)
            s += x * x;
        return Value::number(s);
    });
}
OMBRIX_FN(product) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        if (xs.empty())
            return Value::number(0);
        double p = 1;
        for (double x : xs)
            p *= x;
        return Value::number(p);
    });
}
// The reductions AVERAGE, MIN and MAX share with AVERAGEA, MINA and MAXA.
Value mean_of(const std::vector<double>& xs) {
    if (xs.empty())
        return err(ErrorCode::Div0);
    double s = 0;
    for (double x : xs)
        s += x;
    return Value::number(s / double(xs.size()));
}
Value min_of(const std::vector<double>& xs) {
    return Value::number(xs.empty() ? 0 : *std::min_element(xs.begin(), xs.end()));
}
Value max_of(const std::vector<double>& xs) {
    return Value::number(xs.empty() ? 0 : *std::max_element(xs.begin(), xs.end()));
}

OMBRIX_FN(average) { aggregate(c, out, mean_of); }
OMBRIX_FN(min) { aggregate(c, out, min_of); }
OMBRIX_FN(max) { aggregate(c, out, max_of); }
OMBRIX_FN(count) {
    double n = 0;
    each_value(c, 0, c.argc, [&](const Value& v, bool direct, bool missing) {
        if (missing)
            return;
        if (v.is_number())
            ++n;
        else if (direct && (v.is_boolean() || (v.is_text() && parse_number(v.as_text()))))
            ++n;
    });
    OMBRIX_RETURN(Value::number(n));
}
OMBRIX_FN(counta) {
    double n = 0;
    each_value(c, 0, c.argc, [&](const Value& v, bool direct, bool missing) {
        if (missing || !v.is_empty() || direct)
            ++n;
    });
    OMBRIX_RETURN(Value::number(n));
}
OMBRIX_FN(countblank) {
    const Item& it = c.args[0];
    auto blank = [](const Value& v) { return v.is_empty() || (v.is_text() && v.as_text().empty()); };
    if (closed_book_range(it))
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (it.kind == Item::Range) {
        const auto& ids = c.ev.grid.cells_in(it.area);
        double n = double(it.area.size() - std::int64_t(ids.size()));
        for (std::uint32_t id : ids)
            n += blank(c.ev.grid.cell_value(id));
        OMBRIX_RETURN(Value::number(n));
    }
    double n = 0;
    each_value(c, 0, 1, [&](const Value& v, bool, bool) { n += blank(v); });
    OMBRIX_RETURN(Value::number(n));
}

OMBRIX_FN(sumproduct) {
    std::vector<View> views;
    views.reserve(std::size_t(c.argc));
    for (int i = 0; i < c.argc; ++i) {
        views.emplace_back(c.ev, c.args[i]);
        if (views[i].rows != views[0].rows || views[i].cols != views[0].cols)
            OMBRIX_RETURN(err(ErrorCode::Value));
    }
    if (std::int64_t(views[0].rows) * views[0].cols > max_dense_cells)
        OMBRIX_RETURN(err(ErrorCode::Num));
    // Of single values, text is #VALUE!; in larger arrays it counts as 0.
    const bool single = views[0].rows == 1 && views[0].cols == 1;
    double total = 0;
    for (std::int32_t r = 0; r < views[0].rows; ++r)
        for (std::int32_t col = 0; col < views[0].cols; ++col) {
            double p = 1;
            for (const View& v : views) {
                Value x = v.at(r, col);
                if (x.is_error())
                    OMBRIX_RETURN(x);
                if (single && x.is_text())
                    OMBRIX_RETURN(err(ErrorCode::Value));
                p *= x.is_number() ? x.as_number() : 0;
            }
            total += p;
        }
    OMBRIX_RETURN(Value::number(total));
}

// The values as MAXA, MINA and AVERAGEA see them: in references and arrays TRUE is 1, FALSE
// and any text 0, empty cells skipped; a direct argument coerced as for SUM.
bool collect_all(const Ctx& c, std::vector<double>& xs, Value& error) {
    bool ok = true;
    each_value(c, 0, c.argc, [&](const Value& v, bool direct, bool missing) {
        if (!ok || (v.is_empty() && !missing))
            return;
        if (v.is_error()) {
            error = v, ok = false;
            return;
        }
        double x = 0;
        ErrorCode e;
        if (direct && !to_number(v, x, e, c.ev.grid.date1904())) {
            error = err(e), ok = false;
            return;
        }
        if (!direct)
            x = v.is_number() ? v.as_number() : v.is_boolean() && v.as_boolean() ? 1 : 0;
        xs.push_back(x);
    });
    return ok;
}

template <class Reduce>
void aggregate_all(Ctx& c, Item& out, Reduce reduce) {
    auto& xs = numbers();
    Value e;
    if (!collect_all(c, xs, e))
        OMBRIX_RETURN(e);
    OMBRIX_RETURN(reduce(xs));
}
OMBRIX_FN(maxa) { aggregate_all(c, out, max_of); }
OMBRIX_FN(mina) { aggregate_all(c, out, min_of); }
OMBRIX_FN(averagea) { aggregate_all(c, out, mean_of); }

// True if the cell's formula calls SUBTOTAL or AGGREGATE, whose result a SUBTOTAL or
// AGGREGATE over it leaves out so that subtotals are not counted twice.
bool holds_subtotal(const Grid& grid, std::uint32_t id) {
    static const int subtotal = find_function("SUBTOTAL");
    static const int aggregate = find_function("AGGREGATE");
    const Linked* program = grid.cell_program(id);
    if (!program)
        return false;
    for (const Instr& in : program->code)
        if (in.op == Op::Call && (int(in.operand) == subtotal || int(in.operand) == aggregate))
            return true;
    return false;
}

// What SUBTOTAL and AGGREGATE leave out of their references.
struct Skipped {
    bool nested = false;      // cells holding a SUBTOTAL or AGGREGATE
    bool errors = false;      // error values (of arrays too)
    bool user_hidden = false; // rows the user hid
    bool filtered = false;    // rows a filter hides
};

// A reference or array argument handed on as an array of its values, less what `skip`
// names; false for a reference through several sheets, which neither function takes.
bool values_of(Ctx& c, Item& it, const Skipped& skip) {
    if (it.kind != Item::Cell && it.kind != Item::Range && !(it.kind == Item::Arr && skip.errors))
        return true;
    if (it.kind == Item::Range && it.last_sheet >= 0 && it.last_sheet != it.area.sheet)
        return false;
    const Grid& grid = c.ev.grid;
    auto values = std::make_shared<Array>();
    auto take = [&](const Value& v) {
        if (!(skip.errors && v.is_error()))
            values->values.push_back(v);
    };
    auto take_cell = [&](std::uint32_t id) {
        if (skip.user_hidden || skip.filtered) {
            const Area at = grid.cell_area(id);
            const RowHidden how = grid.row_hidden(at.sheet, at.r1);
            if ((how == RowHidden::ByUser && skip.user_hidden) || (how == RowHidden::ByFilter && skip.filtered))
                return;
        }
        if (!(skip.nested && holds_subtotal(grid, id)))
            take(grid.cell_value(id));
    };
    auto take_area = [&](const Area& area) {
        for (std::uint32_t id : grid.cells_in(area))
            take_cell(id);
    };
    if (it.kind == Item::Cell)
        take_cell(it.cell);
    else if (it.kind == Item::Range && it.areas)
        for (const Area& area : *it.areas)
            take_area(area);
    else if (it.kind == Item::Range)
        take_area(it.area);
    else
        for (const Value& v : it.arr->values)
            take(v);
    values->rows = 1;
    values->cols = std::int32_t(values->values.size());
    it = Item();
    it.kind = Item::Arr;
    it.arr = c.ev.keep(std::move(values));
    return true;
}

// SUBTOTAL(code, ref...): codes 1-11 name the function and leave out the rows a filter
// hides; 101-111 are the same functions leaving out every hidden row. Each reference is
// handed on as an array of its cells' values less those holding a SUBTOTAL or AGGREGATE.
OMBRIX_FN(subtotal) {
    static const char* const names[] = {"AVERAGE", "COUNT",  "COUNTA", "MAX", "MIN", "PRODUCT",
                                        "STDEV",   "STDEVP", "SUM",    "VAR", "VARP"};
    OMBRIX_NUMBER(0, code);
    double k = std::trunc(code);
    Skipped skip;
    skip.nested = skip.filtered = true;
    if (k > 100) {
        k -= 100;
        skip.user_hidden = true;
    }
    if (k < 1 || k > 11)
        OMBRIX_RETURN(err(ErrorCode::Value));
    std::vector<Item> args(c.args + 1, c.args + c.argc);
    for (Item& it : args)
        if (!values_of(c, it, skip))
            OMBRIX_RETURN(err(ErrorCode::Value));
    call_function(c.ev, find_function(names[int(k) - 1]), args.data(), int(args.size()), out, false);
}

// AGGREGATE(function, options, ref...) for functions 1-13, AGGREGATE(function, options,
// array, k) for 14-19. Options 0-3 leave out nested SUBTOTAL and AGGREGATE results, 2, 3, 6
// and 7 error values, the odd ones hidden rows (by the user or a filter).
OMBRIX_FN(aggregate) {
    static const char* const names[] = {"AVERAGE",        "COUNT",        "COUNTA",         "MAX",         "MIN",
                                        "PRODUCT",        "STDEV.S",      "STDEV.P",        "SUM",         "VAR.S",
                                        "VAR.P",          "MEDIAN",       "MODE.SNGL",      "LARGE",       "SMALL",
                                        "PERCENTILE.INC", "QUARTILE.INC", "PERCENTILE.EXC", "QUARTILE.EXC"};
    OMBRIX_NUMBER(0, code);
    OMBRIX_NUMBER_OR(1, options, 0);
    const double k = std::trunc(code), o = std::trunc(options);
    const bool with_k = k >= 14;
    if (k < 1 || k > 19 || o < 0 || o > 7 || c.argc < 3 || (with_k && c.argc != 4))
        OMBRIX_RETURN(err(ErrorCode::Value));
    const int option = int(o);
    Skipped skip;
    skip.nested = option <= 3;
    skip.errors = option == 2 || option == 3 || option == 6 || option == 7;
    skip.user_hidden = skip.filtered = option % 2 == 1;
    std::vector<Item> args(c.args + 2, c.args + c.argc);
    for (std::size_t i = 0; i < args.size(); ++i)
        if (!(with_k && i == 1) && !values_of(c, args[i], skip))
            OMBRIX_RETURN(err(ErrorCode::Value));
    call_function(c.ev, find_function(names[int(k) - 1]), args.data(), int(args.size()), out, false);
}

} // namespace

std::vector<Entry> aggregate_functions() {
    return {
        {{"SUMSQ", 1, -1, 0}, fn_sumsq},
        {{"PRODUCT", 1, -1, 0}, fn_product},
        {{"SUM", 1, -1, 0}, fn_sum},
        {{"AVERAGE", 1, -1, 0}, fn_average},
        {{"MIN", 1, -1, 0}, fn_min},
        {{"MAX", 1, -1, 0}, fn_max},
        {{"COUNT", 1, -1, 0}, fn_count},
        {{"COUNTA", 1, -1, 0}, fn_counta},
        {{"COUNTBLANK", 1, 1, 0}, fn_countblank},
        {{"SUMPRODUCT", 1, -1, FnArrayArgs}, fn_sumproduct},
        {{"MAXA", 1, -1, 0}, fn_maxa},
        {{"MINA", 1, -1, 0}, fn_mina},
        {{"AVERAGEA", 1, -1, 0}, fn_averagea},
        {{"SUBTOTAL", 2, -1, 0}, fn_subtotal},
        {{"AGGREGATE", 3, -1, FnArrayArgs}, fn_aggregate},
    };
}

} // namespace host::engine::detail::fn
