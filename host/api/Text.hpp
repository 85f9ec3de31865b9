#ifndef OMBRIX_HOST_API_TEXT_HPP
#define OMBRIX_HOST_API_TEXT_HPP

#include <string>
#include <string_view>

namespace host::api {

// ASCII upper case: names, sheets and menus compare ignoring case, as the spreadsheet does.
std::string upper(std::string_view text);
bool same_text(std::string_view a, std::string_view b);
// Menu titles compare ignoring case and the "&" that marks the access key.
bool same_menu_title(std::string_view a, std::string_view b);

// A number as the spreadsheet's general format writes it when a value is coerced to text:
// up to 15 significant digits, trailing zeros dropped, an exponent for very large or small
// magnitudes ("1E+20").
std::string general_text(double x);

} // namespace host::api

#endif
