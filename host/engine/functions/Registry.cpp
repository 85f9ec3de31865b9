// The table of built-in functions, joined from the families, and how a call reaches one.

#include "engine/functions/Common.hpp"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

namespace host::engine::detail {

namespace {

using fn::Entry;
using fn::Impl;

// The functions that began as the analysis add-in's, with FnOneCellRefs.
bool takes_one_cell_references(std::string_view name) {
    static const std::unordered_set<std::string_view> names{
        "ACCRINT",      "ACCRINTM",   "AMORDEGRC",   "AMORLINC",  "BESSELI",     "BESSELJ",   "BESSELK",
        "BESSELY",      "BIN2DEC",    "BIN2HEX",     "BIN2OCT",   "COMPLEX",     "CONVERT",   "COUPDAYBS",
        "COUPDAYS",     "COUPDAYSNC", "COUPNCD",     "COUPNUM",   "COUPPCD",     "CUMIPMT",   "CUMPRINC",
        "DEC2BIN",      "DEC2HEX",    "DEC2OCT",     "DELTA",     "DISC",        "DOLLARDE",  "DOLLARFR",
        "DURATION",     "EDATE",      "EFFECT",      "EOMONTH",   "ERF",         "ERFC",      "ERF.PRECISE",
        "ERFC.PRECISE", "FACTDOUBLE", "GESTEP",      "HEX2BIN",   "HEX2DEC",     "HEX2OCT",   "IMABS",
        "IMAGINARY",    "IMARGUMENT", "IMCONJUGATE", "IMCOS",     "IMCOSH",      "IMCOT",     "IMCSC",
        "IMCSCH",       "IMDIV",      "IMEXP",       "IMLN",      "IMLOG10",     "IMLOG2",    "IMPOWER",
        "IMREAL",       "IMSEC",      "IMSECH",      "IMSIN",     "IMSINH",      "IMSQRT",    "IMSUB",
        "IMTAN",        "INTRATE",    "ISEVEN",      "ISODD",     "MDURATION",   "MROUND",    "NOMINAL",
        "OCT2BIN",      "OCT2DEC",    "OCT2HEX",     "ODDFPRICE", "ODDFYIELD",   "ODDLPRICE", "ODDLYIELD",
        "PRICE",        "PRICEDISC",  "PRICEMAT",    "QUOTIENT",  "RANDBETWEEN", "RECEIVED",  "SQRTPI",
        "TBILLEQ",      "TBILLPRICE", "TBILLYIELD",  "WEEKNUM",   "YEARFRAC",    "YIELD",     "YIELDDISC",
        "YIELDMAT"};
    return names.count(name) != 0;
}

__attribute__((noinline)) void mark_one_cell_references(std::vector<Entry>& all) {
    for (Entry& e : all)
        if (takes_one_cell_references(e.meta.name))
            e.meta.flags |= FnOneCellRefs;
}

// A new family is one more line here.
const std::vector<Entry>& table() {
    static const std::vector<Entry> t = [] {
        std::vector<Entry> all;
        for (auto family : {
                 fn::math_functions,           fn::aggregate_functions,
                 fn::statistics_functions,     fn::distribution_functions,
                 fn::conditional_functions,    fn::logic_functions,
                 fn::information_functions,    fn::lookup_functions,
                 fn::finance_functions,        fn::text_functions,
                 fn::date_functions,           fn::format_functions,
                 fn::engineering_functions,    fn::more_math_functions,
                 fn::convert_functions,        fn::more_statistics_functions,
                 fn::more_text_functions,      fn::more_distribution_functions,
                 fn::securities_functions,     fn::complex_functions,
                 fn::array_functions,          fn::array_choosing_functions,
                 fn::array_building_functions, fn::lambda_functions,
                 fn::odd_period_functions,     fn::database_functions,
                 fn::bessel_functions,         fn::reference_functions,
                 fn::depreciation_functions,   fn::web_functions,
                 fn::forecasting_functions,    fn::summary_functions,
             }) {
            std::vector<Entry> part = family();
            all.insert(all.end(), part.begin(), part.end());
        }
        mark_one_cell_references(all);
        return all;
    }();
    return t;
}

bool is_multi(const Item& item) { return item.kind == Item::Arr || (item.kind == Item::Range && item.area.size() > 1); }

// Whether a parameter of this kind makes the call element by element when given an array.
bool lifting(char kind) { return kind == 'v' || kind == 'c' || kind == 't'; }

// Whether an argument a parameter of this kind is given is taken element by element: an array
// always, a range in array context (elsewhere a 'v' parameter takes the one cell of a range
// beside the formula) but never with 't', and with 'f' a range anywhere.
bool taken_apart(char kind, const Item& item, bool array) {
    if (kind == 'a' || kind == 'A' || !is_multi(item))
        return false;
    if (item.kind == Item::Arr)
        return item.arr->values.size() > 1;
    return kind == 'f' || (array && kind != 't');
}

// Whether a function with FnOneCellRefs is given a range of more than one cell for a
// parameter taking one value (kept out of the common path of calls).
__attribute__((noinline)) bool takes_a_larger_range(const Entry& e, const Item* args, int argc) {
    for (int i = 0; i < argc; ++i)
        if (args[i].kind == Item::Range && (args[i].area.size() > 1 || args[i].areas || args[i].last_sheet >= 0) &&
            parameter_kind(e.meta, i) == 'v')
            return true;
    return false;
}

// A scalar function given arrays: applied element by element.
__attribute__((noinline)) void lift(Evaluator& ev, const Entry& e, Item* given, int argc, Item& out, bool array) {
    // The arguments sit on the evaluator's stack, which a call of a LAMBDA (MAKEARRAY's) may
    // move: a copy stays put.
    std::vector<Item> copies(given, given + argc);
    Item* args = copies.data();
    std::vector<View> views;
    std::vector<char> apart(static_cast<std::size_t>(argc)), cells(static_cast<std::size_t>(argc));
    views.reserve(std::size_t(argc));
    std::int32_t rows = 1, cols = 1;
    for (int i = 0; i < argc; ++i) {
        views.emplace_back(ev, args[i]);
        const char kind = parameter_kind(e.meta, i);
        apart[std::size_t(i)] = taken_apart(kind, args[i], array);
        cells[std::size_t(i)] = kind == 'c' && args[i].kind == Item::Range && !args[i].areas && args[i].last_sheet < 0;
        if (apart[std::size_t(i)]) {
            views[i].reading_all();
            rows = std::max(rows, views[i].rows);
            cols = std::max(cols, views[i].cols);
        }
    }
    if ((e.meta.flags & FnFillsArea) && array && ev.area_rows > 0 && ev.outermost(given, argc)) {
        rows = std::max(rows, ev.area_rows);
        cols = std::max(cols, ev.area_cols);
    }
    if (std::int64_t(rows) * cols > max_dense_cells) {
        out.v = Value::error(ErrorCode::Num);
        return;
    }
    auto result = std::make_shared<Array>();
    result->rows = rows;
    result->cols = cols;
    std::vector<Item> element(static_cast<std::size_t>(argc));
    for (std::int32_t r = 0; r < rows; ++r)
        for (std::int32_t c = 0; c < cols; ++c) {
            for (int i = 0; i < argc; ++i) {
                if (!apart[std::size_t(i)]) {
                    element[std::size_t(i)] = args[i];
                    continue;
                }
                const View& v = views[std::size_t(i)];
                Item& el = element[std::size_t(i)];
                el.kind = Item::Val;
                std::int32_t rr = v.rows == 1 ? 0 : r, cc = v.cols == 1 ? 0 : c;
                const bool inside = rr < v.rows && cc < v.cols;
                if (inside && cells[std::size_t(i)]) { // each cell as a reference of its own
                    const Area& a = args[i].area;
                    el.kind = Item::Range;
                    el.area = Area{a.sheet, a.r1 + rr, a.c1 + cc, a.r1 + rr, a.c1 + cc};
                    continue;
                }
                el.v = inside ? v.at(rr, cc) : Value::error(ErrorCode::NA);
            }
            Item o;
            fn::Ctx ctx{ev, element.data(), argc, array};
            const Evaluator::Mark before = ev.mark();
            e.impl(ctx, o);
            Value v = ev.scalar(o, true);
            result->values.push_back(too_long(v) ? Value::error(ErrorCode::Value) : std::move(v));
            ev.release(before, Item());
        }
    out.kind = Item::Arr;
    out.arr = ev.keep(std::move(result));
}

} // namespace

const std::vector<Function>& functions() {
    static const std::vector<Function> list = [] {
        std::vector<Function> l;
        for (const Entry& e : table())
            l.push_back(e.meta);
        return l;
    }();
    return list;
}

int find_function(std::string_view upper_name) {
    static const std::unordered_map<std::string, int> index = [] {
        std::unordered_map<std::string, int> m;
        const auto& t = table();
        for (std::size_t i = 0; i < t.size(); ++i)
            m.emplace(t[i].meta.name, static_cast<int>(i));
        return m;
    }();
    auto it = index.find(std::string(upper_name));
    return it == index.end() ? -1 : it->second;
}

char parameter_kind(const Function& f, int i) {
    if (!f.params)
        return f.flags & FnLift ? 'v' : 'a';
    const std::string_view p = f.params;
    const std::size_t open = p.find('(');
    if (open == std::string_view::npos)
        return p.empty() ? 'a' : p[std::min(std::size_t(i), p.size() - 1)];
    if (std::size_t(i) < open)
        return p[std::size_t(i)];
    const std::size_t period = p.size() - open - 2;
    return p[open + 1 + (std::size_t(i) - open) % period];
}

// Whether argument i, a reference to one cell, holds a logical value that a function with
// FnOneCellRefs refuses (#VALUE!): all of them do but ACCRINT's calculation method.
__attribute__((noinline)) bool refused_logical(const Evaluator& ev, const Entry& e, const Item& arg, int i) {
    return ev.grid.cell_value(arg.cell).is_boolean() && !(i == 7 && std::string_view(e.meta.name) == "ACCRINT");
}

void call_function(Evaluator& ev, int id, Item* args, int argc, Item& out, bool array) {
    const Entry& e = table()[static_cast<std::size_t>(id)];
    if ((e.meta.flags & FnLift) || e.meta.params) {
        for (int i = 0; i < argc; ++i) {
            // Most functions take one value everywhere: no need to read their parameter list.
            const char kind = e.meta.params ? parameter_kind(e.meta, i) : 'v';
            if (!lifting(kind))
                continue;
            if ((e.meta.flags & FnOneCellRefs) && args[i].kind == Item::Cell && refused_logical(ev, e, args[i], i)) {
                out = Item();
                out.v = Value::error(ErrorCode::Value);
                return;
            }
            const bool apart = taken_apart(kind, args[i], array);
            // (Every function with FnOneCellRefs has a parameter that takes one value.)
            if ((apart || args[i].kind == Item::Range) && (e.meta.flags & FnOneCellRefs) &&
                takes_a_larger_range(e, args, argc)) {
                out = Item();
                out.v = Value::error(ErrorCode::Value);
                return;
            }
            if (apart) {
                lift(ev, e, args, argc, out, array);
                return;
            }
        }
    }
    fn::Ctx ctx{ev, args, argc, array};
    e.impl(ctx, out);
    if (out.kind == Item::Val && too_long(out.v))
        out.v = Value::error(ErrorCode::Value);
}

} // namespace host::engine::detail
