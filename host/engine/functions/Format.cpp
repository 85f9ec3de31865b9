// Number formats, for TEXT and FIXED: digits (0 # ?), decimal point, thousands separator,
// percent, scientific notation, quoted or escaped literals, dates and times, colours (ignored),
// and sections for negative numbers and zero. Anything else (conditions, fractions, fills,
// elapsed times) is reported as unsupported rather than shown wrongly.

#include "engine/functions/Calendar.hpp"
#include "engine/functions/Common.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace host::engine::detail::fn {

namespace {

// General as a cell of standard width shows a number: at most 11 characters besides the sign,
// fewer decimals first, then scientific notation (123456789012 is 1.23457E+11).
std::string general_in_eleven(double x) {
    std::string s = general_number(x);
    double a = std::fabs(x);
    if (s.size() - (x < 0 ? 1 : 0) <= 11)
        return s;
    char buf[64];
    if (a >= 1e-4 && a < 1e11) {
        int whole = a >= 1 ? int(std::floor(std::log10(a))) + 1 : 1;
        std::snprintf(buf, sizeof buf, "%.*f", std::max(0, 11 - whole - 1), x);
        std::string d = buf;
        if (d.find('.') != std::string::npos) {
            d.erase(d.find_last_not_of('0') + 1);
            if (d.back() == '.')
                d.pop_back();
        }
        return d;
    }
    for (int digits = 5; digits >= 0; --digits) {
        std::snprintf(buf, sizeof buf, "%.*E", digits, x);
        std::string e = buf;
        std::size_t at = e.find('E');
        std::string mantissa = e.substr(0, at), exponent = e.substr(at);
        while (exponent.size() > 4 && exponent[2] == '0') // two exponent digits on every C runtime
            exponent.erase(2, 1);
        if (mantissa.find('.') != std::string::npos) {
            mantissa.erase(mantissa.find_last_not_of('0') + 1);
            if (mantissa.back() == '.')
                mantissa.pop_back();
        }
        e = mantissa + exponent;
        if (e.size() - (x < 0 ? 1 : 0) <= 11)
            return e;
    }
    return s;
}

struct Token {
    enum Kind { Literal, Digit, Point, Comma, Percent, Exponent, DatePart, AmPm, General, At } kind;
    std::string text; // the literal, the placeholder ('0', '#', '?'), the date code ("yyyy", "mm"...)
};

std::vector<std::string> split_sections(std::string_view f) {
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < f.size(); ++i) {
        char ch = f[i];
        if (ch == '"') {
            std::size_t j = f.find('"', i + 1);
            if (j == std::string_view::npos)
                j = f.size() - 1;
            out.back() += f.substr(i, j - i + 1);
            i = j;
        } else if (ch == '\\' && i + 1 < f.size()) {
            out.back() += f.substr(i, 2);
            ++i;
        } else if (ch == ';') {
            out.emplace_back();
        } else {
            out.back() += ch;
        }
    }
    return out;
}

bool starts_with_ci(std::string_view s, std::size_t at, std::string_view word) {
    if (s.size() - at < word.size())
        return false;
    for (std::size_t k = 0; k < word.size(); ++k)
        if (std::tolower(static_cast<unsigned char>(s[at + k])) != std::tolower(static_cast<unsigned char>(word[k])))
            return false;
    return true;
}

// "[Red]", "[Color12]" and the like.
bool is_colour(std::string_view s, std::size_t at) {
    std::size_t end = s.find(']', at);
    if (end == std::string_view::npos)
        return false;
    std::string name = to_upper(s.substr(at + 1, end - at - 1));
    for (const char* colour : {"BLACK", "BLUE", "CYAN", "GREEN", "MAGENTA", "RED", "WHITE", "YELLOW"})
        if (name == colour)
            return true;
    return name.size() > 5 && name.compare(0, 5, "COLOR") == 0 &&
           name.find_first_not_of("0123456789", 5) == std::string::npos;
}

// Splits a section into tokens; false for what is not supported.
bool tokenize(std::string_view s, std::vector<Token>& out) {
    for (std::size_t i = 0; i < s.size();) {
        char ch = s[i];
        char lo = char(std::tolower(static_cast<unsigned char>(ch)));
        if (ch == '"') {
            std::size_t j = s.find('"', i + 1);
            if (j == std::string_view::npos)
                return false;
            out.push_back({Token::Literal, std::string(s.substr(i + 1, j - i - 1))});
            i = j + 1;
        } else if (ch == '\\') {
            if (i + 1 >= s.size())
                return false;
            std::size_t n = utf8_offset(s.substr(i + 1), 1);
            out.push_back({Token::Literal, std::string(s.substr(i + 1, n))});
            i += 1 + n;
        } else if (ch == '_' || ch == '*') {
            // "_x" leaves the space of an x (in text, one space); "*x" fills the cell's width,
            // which text has not: nothing.
            if (i + 1 >= s.size())
                return false;
            std::size_t n = utf8_offset(s.substr(i + 1), 1);
            if (ch == '_')
                out.push_back({Token::Literal, " "});
            i += 1 + n;
        } else if (ch == '[' && is_colour(s, i)) {
            i = s.find(']', i) + 1; // a colour changes nothing in text
        } else if (ch == '[' && i + 1 < s.size() && s[i + 1] == '$' && s.find(']', i) != std::string_view::npos) {
            // "[$-409]" names a locale, "[$€-407]" a currency symbol too: the symbol is shown.
            std::string_view inside = s.substr(i + 2, s.find(']', i) - i - 2);
            out.push_back({Token::Literal, std::string(inside.substr(0, inside.find('-')))});
            i = s.find(']', i) + 1;
        } else if (ch == '0' || ch == '#' || ch == '?') {
            out.push_back({Token::Digit, std::string(1, ch)});
            ++i;
        } else if (ch == '.') {
            out.push_back({Token::Point, "."});
            ++i;
        } else if (ch == ',') {
            out.push_back({Token::Comma, ","});
            ++i;
        } else if (ch == '%') {
            out.push_back({Token::Percent, "%"});
            ++i;
        } else if (ch == '@') {
            out.push_back({Token::At, "@"});
            ++i;
        } else if (lo == 'e' && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
            out.push_back({Token::Exponent, std::string(s.substr(i, 2))});
            i += 2;
        } else if (starts_with_ci(s, i, "general")) {
            out.push_back({Token::General, ""});
            i += 7;
        } else if (starts_with_ci(s, i, "am/pm") || starts_with_ci(s, i, "a/p")) {
            std::size_t n = starts_with_ci(s, i, "am/pm") ? 5 : 3;
            out.push_back({Token::AmPm, std::string(s.substr(i, n))});
            i += n;
        } else if (lo == 'y' || lo == 'm' || lo == 'd' || lo == 'h' || lo == 's') {
            std::size_t j = i;
            while (j < s.size() && std::tolower(static_cast<unsigned char>(s[j])) == lo)
                ++j;
            std::string code(j - i, lo);
            out.push_back({Token::DatePart, code});
            i = j;
        } else if (std::string_view(" $-+/():!^&'~{}<>=").find(ch) != std::string_view::npos ||
                   static_cast<unsigned char>(ch) >= 0x80) {
            std::size_t n = utf8_offset(s.substr(i), 1);
            out.push_back({Token::Literal, std::string(s.substr(i, n))});
            i += n;
        } else {
            return false; // [condition], other letters
        }
    }
    return true;
}

std::string two_digits(long v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "%02ld", v);
    return buf;
}

bool format_date(double x, const std::vector<Token>& tokens, bool date1904, std::string& out) {
    long total = long(std::llround(x * 86400.0 - std::floor(x) * 86400.0));
    long day = long(std::floor(x)) + total / 86400;
    total %= 86400;
    Ymd ymd = serial_to_ymd(day, date1904);
    bool twelve = std::any_of(tokens.begin(), tokens.end(), [](const Token& t) { return t.kind == Token::AmPm; });
    long hour = total / 3600, minute = total / 60 % 60, second = total % 60;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind == Token::Literal || t.kind == Token::Comma || t.kind == Token::Point) {
            out += t.text; // "dd.mm.yyyy", "mmmm d, yyyy"
        } else if (t.kind == Token::AmPm) {
            bool pm = hour >= 12;
            bool lower_case = std::islower(static_cast<unsigned char>(t.text[0])) != 0;
            std::string mark = t.text.size() == 3 ? (pm ? "P" : "A") : (pm ? "PM" : "AM");
            if (lower_case)
                for (char& ch : mark)
                    ch = char(std::tolower(static_cast<unsigned char>(ch)));
            out += mark;
        } else if (t.kind == Token::DatePart) {
            std::size_t n = t.text.size();
            char code = t.text[0];
            if (code == 'm') {
                // Minutes right after hours or right before seconds; months otherwise.
                bool minutes = false;
                for (std::size_t k = i; k-- > 0;)
                    if (tokens[k].kind == Token::DatePart) {
                        minutes = tokens[k].text[0] == 'h';
                        break;
                    }
                for (std::size_t k = i + 1; !minutes && k < tokens.size(); ++k)
                    if (tokens[k].kind == Token::DatePart) {
                        minutes = tokens[k].text[0] == 's';
                        break;
                    }
                if (minutes && n <= 2)
                    out += n == 1 ? std::to_string(minute) : two_digits(minute);
                else if (n <= 2)
                    out += n == 1 ? std::to_string(ymd.m) : two_digits(ymd.m);
                else if (n == 3)
                    out += std::string(month_names[ymd.m - 1], 3);
                else if (n == 4)
                    out += month_names[ymd.m - 1];
                else
                    out += month_names[ymd.m - 1][0];
            } else if (code == 'y') {
                out += n <= 2 ? two_digits(ymd.y % 100) : std::to_string(ymd.y);
            } else if (code == 'd') {
                int dow = day_of_week(day, date1904);
                if (n <= 2)
                    out += n == 1 ? std::to_string(ymd.d) : two_digits(ymd.d);
                else
                    out += n == 3 ? std::string(day_names[dow], 3) : std::string(day_names[dow]);
            } else if (code == 'h') {
                long h = twelve ? (hour % 12 == 0 ? 12 : hour % 12) : hour;
                out += n == 1 ? std::to_string(h) : two_digits(h);
            } else {
                out += n == 1 ? std::to_string(second) : two_digits(second);
            }
        } else {
            return false; // digit placeholders among date codes (fractions of seconds)
        }
    }
    return true;
}

// |r| with `decimals` places, at most 15 digits significant and zeros after them, as the
// spreadsheet shows numbers. `r` is already rounded to its places.
std::string fixed_digits(double r, int decimals) {
    std::string whole, fraction(std::size_t(std::max(decimals, 0)), '0');
    if (r == 0) {
        whole = "0";
    } else {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.14e", std::fabs(r));
        std::string digits = std::string(1, buf[0]) + std::string(buf + 2, 14);
        int e = std::atoi(std::strchr(buf, 'e') + 1); // digits[i] counts 10^(e-i)
        if (e < 0)
            whole = "0";
        for (int i = 0; i <= e; ++i)
            whole += i < 15 ? digits[std::size_t(i)] : '0';
        for (int j = 1; j <= decimals; ++j)
            if (e + j >= 0 && e + j < 15)
                fraction[std::size_t(j - 1)] = digits[std::size_t(e + j)];
    }
    return decimals > 0 ? whole + "." + fraction : whole;
}

std::string group_thousands(const std::string& digits) {
    std::string out;
    std::size_t n = digits.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (i > 0 && (n - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

// Digits of a whole number shown through its placeholders: '0' pads with zeros, '?' with
// spaces, '#' adds nothing; a bare zero shows only if some placeholder is '0'.
std::string integer_digits(std::string digits, const std::string& places, bool grouping) {
    std::size_t zeros = std::count(places.begin(), places.end(), '0');
    std::size_t spaces = std::count(places.begin(), places.end(), '?');
    if (digits == "0")
        digits.clear();
    while (digits.size() < zeros)
        digits.insert(0, "0");
    if (grouping)
        digits = group_thousands(digits);
    while (digits.size() < zeros + spaces)
        digits.insert(0, " ");
    return digits;
}

std::string fraction_digits(std::string digits, const std::string& places) {
    for (std::size_t k = places.size(); k-- > 0;) {
        if (digits[k] != '0' || places[k] == '0')
            break;
        if (places[k] == '#')
            digits.erase(k, 1);
        else
            digits[k] = ' ';
    }
    return digits;
}

bool format_number(double x, const std::vector<Token>& tokens, std::string& out) {
    std::string prefix, suffix, int_places, frac_places, exp_places, exp_sign;
    bool grouping = false, seen_point = false, seen_digit = false;
    int percents = 0, scale = 0;
    std::size_t first_digit = tokens.size(), last_digit = 0;
    for (std::size_t i = 0; i < tokens.size(); ++i)
        if (tokens[i].kind == Token::Digit || tokens[i].kind == Token::Point) {
            first_digit = std::min(first_digit, i);
            last_digit = i;
        }
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        bool inside = i > first_digit && i < last_digit;
        switch (t.kind) {
        case Token::Literal:
            if (inside)
                return false; // "000-0000" and the like
            (i < first_digit ? prefix : suffix) += t.text;
            break;
        case Token::Percent:
            ++percents;
            (i < first_digit ? prefix : suffix) += "%";
            break;
        case Token::Digit:
            seen_digit = true;
            if (!exp_sign.empty())
                exp_places += t.text;
            else
                (seen_point ? frac_places : int_places) += t.text;
            break;
        case Token::Point:
            if (seen_point || !exp_sign.empty())
                return false;
            seen_point = true;
            break;
        case Token::Comma:
            if (inside && !seen_point && exp_sign.empty())
                grouping = true;
            else if (i > last_digit || (i + 1 < tokens.size() && tokens[i + 1].kind == Token::Point))
                ++scale; // a comma after the digits divides by a thousand
            else if (i < first_digit)
                prefix += ",";
            break;
        case Token::Exponent:
            if (!exp_sign.empty() || !seen_digit)
                return false;
            exp_sign = t.text;
            break;
        default: return false;
        }
    }
    if (!exp_sign.empty() && exp_places.empty())
        return false;
    for (int k = 0; k < percents; ++k)
        x *= 100;
    for (int k = 0; k < scale; ++k)
        x /= 1000;
    int decimals = int(frac_places.size());
    if (decimals > 127 || int_places.size() > 30)
        return false;
    std::string body;
    if (!seen_digit) {
        body.clear();
    } else if (exp_sign.empty()) {
        Value r = round_digits(std::fabs(x), decimals, 0);
        if (r.is_error())
            return false;
        std::string digits = fixed_digits(r.as_number(), decimals);
        std::size_t dot = digits.find('.');
        std::string whole = digits.substr(0, dot);
        body = integer_digits(whole, int_places, grouping);
        if (seen_point)
            body +=
                "." + (dot == std::string::npos ? std::string() : fraction_digits(digits.substr(dot + 1), frac_places));
    } else {
        int ints = std::max<int>(1, int(int_places.size()));
        bool engineering = ints > 1 && int_places.find('#') != std::string::npos;
        double a = std::fabs(x);
        int e = 0;
        if (a != 0) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.*e", ints + decimals - 1, a);
            e = std::atoi(std::strchr(buf, 'e') + 1);
        }
        int shift = engineering ? (e >= 0 ? e / ints * ints : -((-e + ints - 1) / ints) * ints) : e - (ints - 1);
        if (a == 0)
            shift = 0;
        // In two steps: 10^shift alone leaves the doubles for the smallest numbers.
        double mantissa = a / std::pow(10.0, shift / 2) / std::pow(10.0, shift - shift / 2);
        std::string digits = fixed_digits(round_digits(mantissa, decimals, 0).as_number(), decimals);
        std::size_t dot = digits.find('.');
        body = integer_digits(digits.substr(0, dot), int_places, false);
        if (seen_point)
            body +=
                "." + (dot == std::string::npos ? std::string() : fraction_digits(digits.substr(dot + 1), frac_places));
        body += exp_sign[0];
        if (shift < 0)
            body += '-';
        else if (exp_sign[1] == '+')
            body += '+';
        std::string ed = std::to_string(std::abs(shift));
        std::size_t zeros = std::count(exp_places.begin(), exp_places.end(), '0');
        while (ed.size() < zeros)
            ed.insert(0, "0");
        body += ed;
    }
    out = prefix + body + suffix;
    return true;
}

// Formats x with a number format; false when the format is not supported. `out_of_range`
// is set for a date format given a number that is no date.
bool format_with(double x, std::string_view format, bool date1904, std::string& out, bool& out_of_range) {
    out.clear();
    out_of_range = false;
    std::vector<std::string> sections = split_sections(format);
    if (sections.size() > 4)
        return false;
    std::size_t pick = 0;
    bool minus = false;
    if (x < 0 && sections.size() >= 2 && !sections[1].empty()) {
        pick = 1;
        x = -x;
    } else if (x == 0 && sections.size() >= 3) {
        pick = 2;
    } else if (x < 0) {
        minus = true;
    }
    std::vector<Token> tokens;
    if (!tokenize(sections[pick], tokens))
        return false;
    bool dated = std::any_of(tokens.begin(), tokens.end(),
                             [](const Token& t) { return t.kind == Token::DatePart || t.kind == Token::AmPm; });
    if (dated) {
        if (minus || x >= double(max_serial(date1904)) + 1) {
            out_of_range = true;
            return true;
        }
        return format_date(x, tokens, date1904, out);
    }
    if (std::any_of(tokens.begin(), tokens.end(), [](const Token& t) { return t.kind == Token::At; })) {
        for (const Token& t : tokens) // a number in a text format shows as it is
            out += t.kind == Token::At ? general_number(minus ? -x : x) : t.text;
        return true;
    }
    if (tokens.size() == 1 && tokens[0].kind == Token::General) {
        out = general_in_eleven(x);
        return true;
    }
    if (!format_number(x, tokens, out))
        return false;
    // A negative number rounded to zero shows no sign.
    if (minus && out.find_first_of("123456789") != std::string::npos)
        out.insert(0, "-");
    return true;
}

// Noted once per run of equal formats: TEXT may be applied to a whole array.
void note_unsupported(Ctx& c, const std::string& format) {
    auto& notes = c.ev.unsupported_formats;
    if (notes.empty() || notes.back() != format)
        notes.push_back(format);
}

OMBRIX_FN(text) {
    Value v = c.arg(0);
    if (v.is_error())
        OMBRIX_RETURN(v);
    OMBRIX_TEXT(1, format);
    bool d1904 = c.ev.grid.date1904();
    double x = 0;
    if (v.is_number()) {
        x = v.as_number();
    } else if (v.is_boolean()) {
        OMBRIX_RETURN(Value::text(v.as_boolean() ? "TRUE" : "FALSE"));
    } else if (v.is_text()) {
        if (auto n = parse_number(v.as_text()))
            x = *n;
        else if (!date_text_serial(v.as_text(), d1904, x)) {
            // Text stays text, unless the format has a place for it.
            std::vector<std::string> sections = split_sections(format);
            std::string& s = sections.size() == 4 ? sections[3] : sections[0];
            if (s.find('@') == std::string::npos)
                OMBRIX_RETURN(v);
            std::vector<Token> tokens;
            if (!tokenize(s, tokens)) {
                note_unsupported(c, format);
                OMBRIX_RETURN(err(ErrorCode::Value));
            }
            std::string r;
            for (const Token& t : tokens)
                r += t.kind == Token::At ? std::string(v.as_text()) : t.text;
            OMBRIX_RETURN(Value::text(r));
        }
    }
    std::string r;
    bool out_of_range;
    if (!format_with(x, format, d1904, r, out_of_range)) {
        note_unsupported(c, format);
        OMBRIX_RETURN(err(ErrorCode::Value));
    }
    if (out_of_range)
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_RETURN(Value::text(r));
}

OMBRIX_FN(fixed) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER_OR(1, decimals, 2);
    Value plain = c.missing(2) ? Value::boolean(false) : c.arg(2);
    bool no_commas;
    ErrorCode e;
    if (!to_boolean(plain, no_commas, e))
        OMBRIX_RETURN(err(e));
    decimals = std::trunc(decimals);
    if (decimals > 127)
        OMBRIX_RETURN(err(ErrorCode::Value));
    Value r = round_digits(x, decimals, 0);
    std::string format = no_commas ? "0" : "#,##0";
    if (decimals > 0)
        format += "." + std::string(std::size_t(decimals), '0');
    std::string s;
    bool out_of_range;
    if (r.is_error() || !format_with(r.as_number(), format, false, s, out_of_range))
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_RETURN(Value::text(s));
}

} // namespace

std::vector<Entry> format_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"TEXT", 2, 2, L}, fn_text},
        {{"FIXED", 1, 3, L}, fn_fixed},
    };
}

} // namespace host::engine::detail::fn
