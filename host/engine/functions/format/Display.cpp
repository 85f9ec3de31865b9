// A cell's value as the cell shows it, through its number format.

#include "engine/Display.hpp"

#include "engine/functions/format/NumberFormat.hpp"

namespace host::engine {

std::string displayed(const Value& value, std::string_view format_code, bool date1904) {
    using detail::fn::Formatted;
    std::string out;
    if (value.is_number()) {
        const double x = value.as_number();
        switch (detail::fn::format_value(x, format_code.empty() ? "General" : format_code, date1904, out)) {
        case Formatted::Shown: return out;
        case Formatted::NotShown: return "#######";
        case Formatted::Unsupported: return detail::fn::general_in_eleven(x);
        }
    }
    if (value.is_text() || value.is_boolean()) {
        std::string text = value.is_text() ? std::string(value.as_text()) : value.as_boolean() ? "TRUE" : "FALSE";
        return detail::fn::format_text(text, format_code, out) == Formatted::Shown ? out : text;
    }
    return value.is_empty() ? "" : value.to_string();
}

std::string_view builtin_number_format(int id) {
    // The short date (14, 22) follows the system's date order; these are the United States'.
    switch (id) {
    case 0: return "General";
    case 1: return "0";
    case 2: return "0.00";
    case 3: return "#,##0";
    case 4: return "#,##0.00";
    case 5: return "\"$\"#,##0_);(\"$\"#,##0)";
    case 6: return "\"$\"#,##0_);[Red](\"$\"#,##0)";
    case 7: return "\"$\"#,##0.00_);(\"$\"#,##0.00)";
    case 8: return "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)";
    case 9: return "0%";
    case 10: return "0.00%";
    case 11: return "0.00E+00";
    case 12: return "# ?/?";
    case 13: return "# ?\?/??"; // "?\?" keeps "??/" from reading as a trigraph
    case 14: return "m/d/yyyy";
    case 15: return "d-mmm-yy";
    case 16: return "d-mmm";
    case 17: return "mmm-yy";
    case 18: return "h:mm AM/PM";
    case 19: return "h:mm:ss AM/PM";
    case 20: return "h:mm";
    case 21: return "h:mm:ss";
    case 22: return "m/d/yyyy h:mm";
    case 37: return "#,##0 ;(#,##0)";
    case 38: return "#,##0 ;[Red](#,##0)";
    case 39: return "#,##0.00;(#,##0.00)";
    case 40: return "#,##0.00;[Red](#,##0.00)";
    case 41: return "_(* #,##0_);_(* (#,##0);_(* \"-\"_);_(@_)";
    case 42: return "_(\"$\"* #,##0_);_(\"$\"* (#,##0);_(\"$\"* \"-\"_);_(@_)";
    case 43: return "_(* #,##0.00_);_(* (#,##0.00);_(* \"-\"??_);_(@_)";
    case 44: return "_(\"$\"* #,##0.00_);_(\"$\"* (#,##0.00);_(\"$\"* \"-\"??_);_(@_)";
    case 45: return "mm:ss";
    case 46: return "[h]:mm:ss";
    case 47: return "mm:ss.0";
    case 48: return "##0.0E+0";
    case 49: return "@";
    default: return "";
    }
}

} // namespace host::engine
