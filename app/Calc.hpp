#ifndef OMBRIX_APP_CALC_HPP
#define OMBRIX_APP_CALC_HPP

#include "engine/Workbook.hpp"
#include "ui/Json.hpp"

#include <iosfwd>
#include <string>

namespace app {

struct CalcOptions {
    std::string book;
    std::string sheet;  // made active first: the sheet a .csv output holds
    std::string output; // empty: do not save
    bool json = false;
    bool shown = false; // values as their cells show them, through their number formats
};

// Opens the workbook, recalculates everything, prints every formula cell's value to `out`
// (as JSON with options.json; as the cell shows it with options.shown) and saves it when asked. Warnings and errors go
// to `err`. Returns the exit status: 0, 1 after an error, 2 for a save the command refuses.
int run_calc(const CalcOptions& options, std::ostream& out, std::ostream& err);

using host::ui::json_string;
using host::ui::json_value;

// Text for one tab-separated line: backslash, tab and line breaks escaped as \\, \t, \n, \r.
std::string escaped_line(const std::string& text);

} // namespace app

#endif
