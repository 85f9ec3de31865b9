#ifndef OMBRIX_APP_CALC_HPP
#define OMBRIX_APP_CALC_HPP

#include "engine/Workbook.hpp"

#include <iosfwd>
#include <string>

namespace app {

struct CalcOptions {
    std::string book;
    std::string output;  // empty: do not save
    bool json = false;
};

// Opens the workbook, recalculates everything, prints every formula cell's value to `out`
// (as JSON with options.json) and saves it when asked. Warnings and errors go to `err`.
// Returns the exit status: 0, or 1 after an error.
int run_calc(const CalcOptions& options, std::ostream& out, std::ostream& err);

// Text for JSON: quoted and escaped.
std::string json_string(const std::string& text);
// One value as JSON: a number that reads back exactly, a string, true/false, or
// {"error": "#DIV/0!"}.
std::string json_value(const host::engine::Value& value);

} // namespace app

#endif
