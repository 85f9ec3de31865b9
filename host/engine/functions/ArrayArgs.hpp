#ifndef OMBRIX_HOST_ENGINE_FUNCTIONS_ARRAYARGS_HPP
#define OMBRIX_HOST_ENGINE_FUNCTIONS_ARRAYARGS_HPP

// What the functions that take and give whole arrays share (Arrays.cpp, Choosing.cpp, ArrayBuilders.cpp,
// Regression.cpp, Lambda.cpp).

#include "engine/functions/Common.hpp"

namespace host::engine::detail::fn {

// An argument's values as a grid, row by row; a range's empty cells stay empty.
struct ValueGrid {
    std::int32_t rows = 0, cols = 0;
    std::vector<Value> values;
    const Value& at(std::int32_t r, std::int32_t c) const {
        return values[std::size_t(r) * std::size_t(cols) + std::size_t(c)];
    }
};

// Argument i as a grid; false (with the error in `out`) when it is an error, a union or a
// reference through several sheets, or too large.
bool grid_arg(const Ctx& c, int i, ValueGrid& g, Value& out);

// Hands a computed grid on as the result, an array even of one element (ROWS of one error
// in it is 1); an array of no cells (all rows dropped, a sequence of none) is #CALC!, as the
// spreadsheet gives it.
void give(Ctx& c, Item& out, ValueGrid g);
// The same, with the functions (LAMBDAs, or built-ins passed by name) that some elements are,
// by position (null for a plain value), for REDUCE, SCAN or GROUPBY to call; none: give().
void give_with_functions(Ctx& c, Item& out, ValueGrid g, std::vector<const Closure*> functions);

// A count argument: truncated; within [lo, hi] (below is #VALUE!, above #NUM!); `fallback`
// when omitted.
bool count_arg(const Ctx& c, int i, double fallback, double lo, double hi, std::int32_t& n, Value& out);

// Argument i as a matrix of numbers, row by row; any other value is #VALUE!, an error itself.
bool matrix_arg(const Ctx& c, int i, ValueGrid& g, std::vector<double>& m, Value& out);

// LINEST, LOGEST, TREND, GROWTH and MODE.MULT (Regression.cpp), listed with the builders.
std::vector<Entry> regression_functions();
// ARRAYTOTEXT and REGEXEXTRACT (ArrayText.cpp).
std::vector<Entry> array_text_functions();

// Argument i as the grid `var`, or the function returns with the error.
#define OMBRIX_GRID(i, var)                                                                                            \
    ValueGrid var;                                                                                                     \
    if (!grid_arg(c, i, var, out.v))                                                                                   \
    return

// A grid of rows x cols cells holding `fill`.
ValueGrid sized(std::int32_t rows, std::int32_t cols, const Value& fill = Value());

} // namespace host::engine::detail::fn

#endif
