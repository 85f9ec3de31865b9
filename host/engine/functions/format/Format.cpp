// TEXT, FIXED and DOLLAR: numbers shown through a number format (NumberFormat.hpp), and the
// reading of numbers written as a cell shows them ("$1,234.50", "(12)", "15%", dates).

#include "engine/functions/dates/Calendar.hpp"
#include "engine/functions/Common.hpp"
#include "engine/functions/format/NumberFormat.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

namespace host::engine::detail::fn {

bool read_shown_number(std::string_view text, bool date1904, double& out) {
    if (auto x = parse_number(text)) {
        out = *x;
        return true;
    }
    std::string_view s = text;
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    bool negative = false;
    if (s.size() > 2 && s.front() == '(' && s.back() == ')') {
        negative = true;
        s = s.substr(1, s.size() - 2);
    }
    std::string plain(s);
    bool currency = false;
    for (std::string_view symbol : {"$", "\xE2\x82\xAC"}) { // $ and the euro sign
        std::size_t at = plain.find(symbol);
        if (at == std::string::npos || currency)
            continue;
        bool leading = plain.find_first_not_of("+- ") == at, trailing = at + symbol.size() == plain.size();
        if (leading || trailing) {
            plain.erase(at, symbol.size());
            currency = true;
        }
    }
    // Thousands separators: groups of three digits after the first, before any decimal point.
    std::size_t point = plain.find_first_of(".eE%");
    std::size_t comma = plain.find(',');
    if (comma != std::string::npos && comma < point) {
        std::size_t digits_after = 0;
        for (std::size_t i = comma; i < std::min(point, plain.size()); ++i) {
            if (plain[i] == ',') {
                if (i != comma && digits_after != 3)
                    return false;
                digits_after = 0;
            } else if (std::isdigit(static_cast<unsigned char>(plain[i]))) {
                ++digits_after;
            } else {
                return false;
            }
        }
        if (digits_after != 3 || comma == 0 || !std::isdigit(static_cast<unsigned char>(plain[comma - 1])))
            return false;
        plain.erase(std::remove(plain.begin(), plain.end(), ','), plain.end());
    }
    if ((currency || negative || plain.size() != s.size()) && !plain.empty()) {
        if (auto x = parse_number(plain)) {
            out = negative ? -*x : *x;
            return !(negative && *x < 0);
        }
    }
    return !negative && !currency && date_text_serial(text, date1904, out);
}

namespace {

// Noted once per run of equal formats: TEXT may be applied to a whole array.
void note_unsupported(Ctx& c, const std::string& format) {
    auto& notes = c.ev.unsupported_formats;
    if (notes.empty() || notes.back() != format)
        notes.push_back(format);
}

// Shows x through `format` as text, or the error TEXT gives.
Value shown(Ctx& c, double x, const std::string& format) {
    std::string r;
    switch (format_value(x, format, c.ev.grid.date1904(), r)) {
    case Formatted::Shown: return Value::text(r);
    case Formatted::NotShown: return err(ErrorCode::Value);
    case Formatted::Unsupported: break;
    }
    note_unsupported(c, format);
    return err(ErrorCode::Value);
}

OMBRIX_FN(text) {
    Value v = c.arg(0);
    if (v.is_error())
        OMBRIX_RETURN(v);
    OMBRIX_TEXT(1, format);
    double x = 0;
    if (v.is_number()) {
        x = v.as_number();
    } else if (v.is_boolean()) { // TRUE and FALSE show as their words, through a text section if any
        std::string word = v.as_boolean() ? "TRUE" : "FALSE", r;
        OMBRIX_RETURN(Value::text(format_text(word, format, r) == Formatted::Shown ? r : word));
    } else if (v.is_text() && !read_shown_number(v.as_text(), c.ev.grid.date1904(), x)) {
        // Text stays text, unless the format has a section for it.
        std::string r;
        if (format_text(v.as_text(), format, r) == Formatted::Shown)
            OMBRIX_RETURN(Value::text(r));
        note_unsupported(c, format);
        OMBRIX_RETURN(err(ErrorCode::Value));
    }
    OMBRIX_RETURN(shown(c, x, format));
}

// The number rounded to `decimals` places (to tens, hundreds... when negative), for FIXED and
// DOLLAR; #VALUE! past 127 places.
bool rounded(Ctx& c, Item& out, double& x, double& decimals) {
    if (!num(c, 0, x, out.v) || !num(c, 1, decimals, out.v, 2))
        return false;
    decimals = std::trunc(decimals);
    Value r = round_digits(x, decimals, 0);
    if (decimals > 127 || r.is_error()) {
        out.v = err(ErrorCode::Value);
        return false;
    }
    x = r.as_number();
    return true;
}

std::string places(double decimals) { return decimals > 0 ? "." + std::string(std::size_t(decimals), '0') : ""; }

// FIXED(number, [decimals], [no_commas]).
OMBRIX_FN(fixed) {
    double x, decimals;
    if (!rounded(c, out, x, decimals))
        return;
    bool no_commas;
    if (!flag(c, 2, no_commas, out.v))
        return;
    OMBRIX_RETURN(shown(c, x, (no_commas ? "0" : "#,##0") + places(decimals)));
}

// DOLLAR(number, [decimals]): currency, negatives in parentheses.
OMBRIX_FN(dollar) {
    double x, decimals;
    if (!rounded(c, out, x, decimals))
        return;
    std::string format = "$#,##0" + places(decimals);
    OMBRIX_RETURN(shown(c, x, format + ";(" + format + ")"));
}

} // namespace

std::vector<Entry> format_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"TEXT", 2, 2, L}, fn_text},
        {{"FIXED", 1, 3, L}, fn_fixed},
        {{"DOLLAR", 1, 2, L}, fn_dollar},
        {{"USDOLLAR", 1, 2, L}, fn_dollar},
    };
}

} // namespace host::engine::detail::fn
