#ifndef OMBRIX_APP_CALC_HPP
#define OMBRIX_APP_CALC_HPP

#include "engine/Workbook.hpp"

#include <iosfwd>
#include <string>

namespace app {

struct CalcOptions {
    std::string book;
    std::string sheet;   // made active first: the sheet a .csv output holds
    std::string output;  // empty: do not save
    bool json = false;
};

// Opens the workbook, recalculates everything, prints every formula cell's value to `out`
// (as JSON with options.json) and saves it when asked. Warnings and errors go to `err`.
// Returns the exit status: 0, 1 after an error, 2 for a save the command refuses.
int run_calc(const CalcOptions& options, std::ostream& out, std::ostream& err);

// Text for JSON: quoted and escaped; bytes that are not UTF-8 become U+FFFD.
std::string json_string(const std::string& text);
// Text for one tab-separated line: backslash, tab and line breaks escaped as \\, \t, \n, \r.
std::string escaped_line(const std::string& text);
// One value as JSON: a number that reads back exactly, a string, true/false, or
// {"error": "#DIV/0!"}.
std::string json_value(const host::engine::Value& value);

} // namespace app

#endif
