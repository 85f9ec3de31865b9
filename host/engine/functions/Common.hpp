#ifndef OMBRIX_HOST_ENGINE_FUNCTIONS_COMMON_HPP
#define OMBRIX_HOST_ENGINE_FUNCTIONS_COMMON_HPP

// What the built-in functions share: the argument context, the coercions they make, and the
// per-family tables that Registry.cpp joins into one.

#include "engine/internal/Eval.hpp"

#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace host::engine::detail::fn {

struct Ctx {
    Evaluator& ev;
    Item* args;
    int argc;
    bool array;

    bool missing(int i) const { return i >= argc || args[i].kind == Item::Missing; }
    Value arg(int i) const { return i < argc ? ev.scalar(args[i]) : Value(); }
};

using Impl = void (*)(Ctx&, Item&);

// A range of another workbook read from the values the file saved of it: SUMIF, COUNTBLANK
// and the like read the cells of an open workbook only, and give #VALUE! for it.
inline bool closed_book_range(const Item& it) { return it.kind == Item::Arr && it.arr && it.arr->linked; }

struct Entry {
    Function meta;
    Impl impl;
};

// One table per family; Registry.cpp lists them.
std::vector<Entry> math_functions();
std::vector<Entry> aggregate_functions();
std::vector<Entry> statistics_functions();
std::vector<Entry> distribution_functions();
std::vector<Entry> conditional_functions();
std::vector<Entry> logic_functions();
std::vector<Entry> information_functions();
std::vector<Entry> lookup_functions();
std::vector<Entry> finance_functions();
std::vector<Entry> text_functions();
std::vector<Entry> date_functions();
std::vector<Entry> format_functions();
std::vector<Entry> engineering_functions();
std::vector<Entry> bessel_functions();
std::vector<Entry> more_math_functions();
std::vector<Entry> convert_functions();
std::vector<Entry> more_statistics_functions();
std::vector<Entry> more_text_functions();
std::vector<Entry> more_distribution_functions();
std::vector<Entry> securities_functions();
std::vector<Entry> odd_period_functions();
std::vector<Entry> database_functions();
std::vector<Entry> complex_functions();
std::vector<Entry> array_functions();
std::vector<Entry> array_choosing_functions();
std::vector<Entry> array_building_functions();
std::vector<Entry> lambda_functions();
std::vector<Entry> summary_functions(); // GROUPBY, PIVOTBY, PERCENTOF
std::vector<Entry> reference_functions();
std::vector<Entry> depreciation_functions();
std::vector<Entry> web_functions();
std::vector<Entry> forecasting_functions();

inline Value err(ErrorCode e) { return Value::error(e); }

// Reads argument i as a number; `fallback` when it is omitted.
bool num(const Ctx& c, int i, double& x, Value& out, double fallback = 0);

// Reads argument i as a number as num() does, but TRUE and FALSE are #VALUE! (functions that
// take no booleans, even from cells).
bool plain_number(const Ctx& c, int i, double& x, Value& out, double fallback = 0);

// Reads argument i as text (numbers formatted as the spreadsheet shows them).
bool text_arg(const Ctx& c, int i, std::string& s, Value& out);

// Numbers seen as the aggregate functions see them: in ranges and arrays only numbers count
// (text, booleans and empty cells are skipped); a direct argument is coerced ("3" is 3,
// TRUE is 1, other text is #VALUE!). The first error met is the result.
bool collect(const Ctx& c, int from, int to, std::vector<double>& out, Value& error);

// The numbers of two equally long arrays taken in pairs, skipping any pair where either
// value is not a number: #N/A when the lengths differ, the first error met otherwise.
bool paired_numbers(const Ctx& c, int a, int b, std::vector<double>& xs, std::vector<double>& ys, Value& error);

// Reads argument i as TRUE or FALSE; `fallback` when it is omitted.
bool flag(const Ctx& c, int i, bool& b, Value& out, bool fallback = false);

// Calls f(value) for every cell of a range item: each area of a union, each sheet of a
// reference through several sheets. Stops, answering false, when f answers false.
template <class F>
bool each_cell(const Ctx& c, const Item& it, F f) {
    auto walk = [&](const Area& a) {
        for (std::uint32_t id : c.ev.grid.cells_in(a))
            if (!f(c.ev.grid.cell_value(id)))
                return false;
        return true;
    };
    if (it.areas) {
        for (const Area& a : *it.areas)
            if (!walk(a))
                return false;
        return true;
    }
    for (int s = it.area.sheet; s <= std::max(it.area.sheet, it.last_sheet); ++s) {
        Area a = it.area;
        a.sheet = s;
        if (!walk(a))
            return false;
    }
    return true;
}

// Calls f(value, direct, missing) for every value of the arguments, references and arrays
// included; `direct` when the value was an argument itself rather than inside a reference.
template <class F>
void each_value(const Ctx& c, int from, int to, F f) {
    for (int i = from; i < to && i < c.argc; ++i) {
        const Item& it = c.args[i];
        switch (it.kind) {
        case Item::Missing: f(Value(), true, true); break;
        case Item::Val: f(it.v, true, false); break;
        case Item::Cell: f(c.ev.grid.cell_value(it.cell), false, false); break;
        case Item::Range:
            each_cell(c, it, [&](const Value& v) {
                f(v, false, false);
                return true;
            });
            break;
        case Item::Arr:
            for (const Value& v : it.arr->values)
                f(v, false, false);
            break;
        }
    }
}

// A reusable buffer for collect(), emptied.
std::vector<double>& numbers();

// x rounded to 15 significant digits, as the spreadsheet sees a result before rounding it.
double snap15(double v);

// mode 0: half away from zero, 1: away from zero, 2: toward zero.
Value round_digits(double x, double digits, int mode);

// A criterion as SUMIF and COUNTIF read it (5, "<10", "a*", ""): the test of one value.
std::function<bool(const Value&)> criterion_test(const Value& criterion, bool date1904);

// Wildcard match ignoring case: '*' any run, '?' one character, '~' escapes.
bool wildcard_match(std::string_view pattern, std::string_view text);
bool has_wildcards(std::string_view s);

// Population or sample variance; #DIV/0! when there are too few numbers.
Value variance(const std::vector<double>& xs, bool sample);

// The shape of a function body, and the argument readers it uses: each declares `var` and, when
// the argument cannot be read, leaves the error in the result and returns from the body.
#define OMBRIX_FN(name) void fn_##name(Ctx& c, Item& out)
#define OMBRIX_RETURN(value)                                                                                           \
    do {                                                                                                               \
        out.v = (value);                                                                                               \
        return;                                                                                                        \
    } while (0)
#define OMBRIX_NUMBER(i, var)                                                                                          \
    double var;                                                                                                        \
    if (!num(c, i, var, out.v))                                                                                        \
    return
#define OMBRIX_NUMBER_OR(i, var, dflt)                                                                                 \
    double var;                                                                                                        \
    if (!num(c, i, var, out.v, dflt))                                                                                  \
    return
#define OMBRIX_FLAG(i, var)                                                                                            \
    bool var;                                                                                                          \
    if (!flag(c, i, var, out.v))                                                                                       \
    return
#define OMBRIX_TEXT(i, var)                                                                                            \
    std::string var;                                                                                                   \
    if (!text_arg(c, i, var, out.v))                                                                                   \
    return

// Collects every argument's numbers and hands them to reduce(xs) for the result.
template <class Reduce>
void aggregate(Ctx& c, Item& out, Reduce reduce) {
    auto& xs = numbers();
    Value e;
    if (!collect(c, 0, c.argc, xs, e))
        OMBRIX_RETURN(e);
    OMBRIX_RETURN(reduce(xs));
}

} // namespace host::engine::detail::fn

#endif
