#ifndef OMBRIX_HOST_ENGINE_FUNCTIONS_FORMATCODE_HPP
#define OMBRIX_HOST_ENGINE_FUNCTIONS_FORMATCODE_HPP

// A number format code read into tokens, shared by the parts of NumberFormat.hpp's work:
// numbers (NumberFormat.cpp) and dates and times (DateFormat.cpp).

#include "engine/functions/format/NumberFormat.hpp"

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace host::engine::detail::fn::format {

constexpr std::size_t none = std::string::npos;

struct Token {
    enum Kind {
        Literal,
        Digit,       // a placeholder: '0', '#' or '?'
        Point,       // the decimal point
        Comma,       // a thousands separator, a scaling by 1000, or itself
        Percent,     // "%", multiplying by 100
        Exponent,    // "E+", "E-", "e+" or "e-"
        Slash,       // a fraction bar, or itself
        Denominator, // the fixed denominator of "# ?/16"
        DatePart,    // a run of one of the letters y m d h s, e (the year), b (the Buddhist year), lower case
        Elapsed,     // [h], [mm], [ss]...: time elapsed, past a day
        AmPm,        // "AM/PM" or "A/P" as written
        General,
        At, // the text itself
    } kind;
    std::string text;
};

struct Condition {
    std::string op; // "<", "<=", ">", ">=", "=", "<>"; empty for none
    double value = 0;

    bool holds(double x) const {
        if (op == "<")
            return x < value;
        if (op == "<=")
            return x <= value;
        if (op == ">")
            return x > value;
        if (op == ">=")
            return x >= value;
        if (op == "=")
            return x == value;
        return op == "<>" && x != value;
    }
};

struct Section {
    std::vector<Token> tokens;
    Condition condition;
    int language = 0; // the primary language of a [$-407] locale (0x07 German), 0 for none

    bool has(Token::Kind k) const {
        return std::any_of(tokens.begin(), tokens.end(), [k](const Token& t) { return t.kind == k; });
    }
    bool dated() const { return has(Token::DatePart) || has(Token::Elapsed) || has(Token::AmPm); }
};

// Splits a code into its sections and tokens; false for what the language does not have.
bool parse_code(std::string_view code, std::vector<Section>& sections);

// Shows a date or time section; x is negative only for elapsed times.
Formatted show_date(const Section& section, double x, bool date1904, std::string& out);

} // namespace host::engine::detail::fn::format

#endif
