#ifndef OMBRIX_HOST_ENGINE_DISPLAY_HPP
#define OMBRIX_HOST_ENGINE_DISPLAY_HPP

// What a cell shows: its value through its number format code, as the spreadsheet displays it
// in a cell wide enough for it.

#include "engine/Value.hpp"

#include <string>
#include <string_view>

namespace host::engine {

// Numbers, dates and times through the code (General for an empty code or one the format
// language has not), text through the code's text section, TRUE and FALSE as such, errors by
// their code, nothing for an empty cell; "#######" for a number the code cannot show, as a
// negative date.
std::string displayed(const Value& value, std::string_view format_code, bool date1904);

// The code of a built-in number format (numFmtId 0 to 49 of a workbook's styles) as the
// spreadsheet shows it in the United States; empty for an id with no built-in code.
std::string_view builtin_number_format(int id);

} // namespace host::engine

#endif
