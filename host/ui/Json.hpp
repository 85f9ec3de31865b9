#ifndef OMBRIX_HOST_UI_JSON_HPP
#define OMBRIX_HOST_UI_JSON_HPP

// JSON as the front ends print it: the command's --json output and the Windows driver's
// lines, so that the two can be compared byte for byte.

#include "engine/Value.hpp"

#include <string>
#include <string_view>

namespace host::ui {

// Text quoted and escaped; bytes that are not UTF-8 become U+FFFD.
std::string json_string(std::string_view text);

// A number that reads back as the same double, in the engine's shortest form; null when it
// is not finite.
std::string json_number(double x);

// One cell's value: a number, a string, true/false or {"error": "#DIV/0!"}; an empty value
// is 0, as a formula whose result is an empty cell reads in the spreadsheet.
std::string json_value(const engine::Value& value);

} // namespace host::ui

#endif
