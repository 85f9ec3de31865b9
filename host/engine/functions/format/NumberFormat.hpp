#ifndef OMBRIX_HOST_ENGINE_FUNCTIONS_NUMBERFORMAT_HPP
#define OMBRIX_HOST_ENGINE_FUNCTIONS_NUMBERFORMAT_HPP

// The spreadsheet's number format codes, as TEXT, FIXED and DOLLAR show values through them:
// up to four sections (positive;negative;zero;text) or sections chosen by conditions ([>100]),
// digit placeholders (0 # ?) with literals anywhere among them, thousands separators and
// scaling by trailing commas, percent, scientific notation, fractions (# ?/?, # ??/16),
// dates and times (AM/PM, m as month or minute, .000 seconds), elapsed time ([h]:mm:ss), @ for
// text, quoted and escaped literals, _ spacing, * fills (nothing in text), colours and locale
// tags (ignored, but a currency symbol in [$€-407] is shown), and General.

#include <string>
#include <string_view>

namespace host::engine::detail::fn {

enum class Formatted {
    Shown,       // `out` holds the text
    Unsupported, // a code the format language does not have
    NotShown,    // a number the format cannot show: no date (negative, past 9999), too large
};

// Shows number x through a format code.
Formatted format_value(double x, std::string_view code, bool date1904, std::string& out);

// Shows text through the code's text section (the fourth, or the last one holding @); the
// text itself when the code has none.
Formatted format_text(std::string_view text, std::string_view code, std::string& out);

// General in a cell of standard width: at most 11 characters besides the sign, in fixed
// notation while that shows as many significant digits as scientific notation would.
std::string general_in_eleven(double x);

// Reads a number written as a cell shows it, as VALUE and TEXT read text: plain numbers,
// thousands separators ("1,234.5"), a currency sign ("$12", "12€"), a percent sign,
// parentheses for negatives ("(12)"), dates and times ("2-Feb-2026", "10:30").
bool read_shown_number(std::string_view text, bool date1904, double& out);

} // namespace host::engine::detail::fn

#endif
