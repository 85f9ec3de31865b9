// The number format language: a code is split into sections, each section into tokens, and
// the section that applies shows the value as a number, a fraction, scientific notation, a
// date or time, or text.

#include "engine/functions/format/NumberFormat.hpp"

#include "engine/functions/Common.hpp"
#include "engine/functions/format/FormatCode.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace host::engine::detail::fn {

using format::Condition;
using format::none;
using format::Section;
using format::Token;

namespace {

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

// A whole number padded on the left to its placeholders: '0' with zeros, '?' with spaces.
std::string pad_left(const std::string& digits, const std::string& places) {
    std::string pad;
    for (std::size_t k = 0; k + digits.size() < places.size(); ++k)
        pad += places[k] == '0' ? "0" : places[k] == '?' ? " " : "";
    return pad + digits;
}

// The fraction the spreadsheet shows for x with q at most `largest`: the last convergent of
// x's continued fraction, worked out in doubles, whose denominator fits. Not always the
// nearest fraction: 0.7 with one digit shows as 2/3, not 5/7, and 0.91 as 1, not 8/9.
void fraction_of(double x, long long largest, long long& p, long long& q) {
    long long p0 = 0, q0 = 1, p1 = 1, q1 = 0;
    double r = x;
    for (int step = 0; step < 64; ++step) {
        double a = std::floor(r);
        if (a > 1e15 || a * double(q1) + double(q0) > double(largest))
            break;
        long long p2 = static_cast<long long>(a) * p1 + p0, q2 = static_cast<long long>(a) * q1 + q0;
        p0 = p1, q0 = q1, p1 = p2, q1 = q2;
        if (r - a <= 0)
            break;
        r = 1 / (r - a);
    }
    if (q1 == 0) { // not even a whole number fits: x is huge
        p = std::llround(x), q = 1;
        return;
    }
    p = p1;
    q = q1;
}

// The roles of a number section's tokens.
enum Role : char { Plain = 0, Int = 'i', Frac = 'f', Exp = 'e', Num = 'n', Den = 'd', Group = 'g', Scale = 's' };

// Shows v >= 0 through a section of digit placeholders; `nonzero` tells whether what shows is
// not zero (a minus sign goes in front only then).
Formatted show_number(const Section& section, double v, std::string& out, bool& nonzero) {
    const std::vector<Token>& t = section.tokens;
    const std::size_t n = t.size();
    std::vector<char> role(n, Plain);
    std::size_t exponent = none, point = none, slash = none, numerator_end = none, denominator_start = none;
    // Literals may stand between a fraction's bar and its digits: "# ?? / ??", "#=/=#".
    auto literal = [&](std::size_t i) { return t[i].kind == Token::Literal; };
    for (std::size_t i = 0; i < n; ++i) {
        if (t[i].kind == Token::Exponent && exponent == none)
            exponent = i;
        if (t[i].kind == Token::Point && point == none && exponent == none)
            point = i;
        if (t[i].kind != Token::Slash || slash != none)
            continue;
        std::size_t before = i, after = i + 1;
        while (before > 0 && literal(before - 1))
            --before;
        while (after < n && literal(after))
            ++after;
        if (before > 0 && t[before - 1].kind == Token::Digit && after < n &&
            (t[after].kind == Token::Digit || t[after].kind == Token::Denominator)) {
            slash = i;
            numerator_end = before;
            denominator_start = after;
        }
    }
    if (exponent != none || point != none)
        slash = none;
    if (slash != none) {
        std::size_t k = numerator_end;
        while (k > 0 && t[k - 1].kind == Token::Digit)
            role[--k] = Num;
        for (std::size_t i = 0; i < k; ++i)
            if (t[i].kind == Token::Digit)
                role[i] = Int;
        for (std::size_t i = denominator_start; i < n && (t[i].kind == Token::Digit || t[i].kind == Token::Denominator);
             ++i)
            role[i] = Den;
    } else {
        for (std::size_t i = 0; i < n; ++i)
            if (t[i].kind == Token::Digit)
                role[i] = exponent != none && i > exponent ? Exp : point != none && i > point ? Frac : Int;
    }
    for (std::size_t i = 0; i < n; ++i)
        if (t[i].kind == Token::Digit && role[i] == Plain)
            return Formatted::Unsupported; // placeholders after a fraction
    auto before = [&](std::size_t i, char r) {
        for (std::size_t k = 0; k < i; ++k)
            if (role[k] == r)
                return true;
        return false;
    };
    // Commas: right after the digits (or before the point) each divides by 1000; between
    // integer placeholders they group thousands; anywhere else they are themselves.
    bool grouping = false;
    int scale = 0, percents = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (t[i].kind == Token::Percent)
            ++percents;
        if (t[i].kind != Token::Comma)
            continue;
        std::size_t j = i;
        while (j < n && t[j].kind == Token::Comma)
            ++j;
        if (i > 0 && t[i - 1].kind == Token::Digit && (j == n || t[j].kind != Token::Digit)) {
            for (std::size_t k = i; k < j; ++k, ++scale)
                role[k] = Scale;
        } else if (before(i, Int) && j < n && role[j] == Int) {
            grouping = true;
            for (std::size_t k = i; k < j; ++k)
                role[k] = Group;
        } else if (exponent != none && i > exponent) { // among the exponent's digits: nothing
            for (std::size_t k = i; k < j; ++k)
                role[k] = Group;
        }
        i = j - 1;
    }
    // In scientific notation a percent sign shows without multiplying, and commas after the
    // digits neither scale nor show.
    for (int k = 0; k < percents && exponent == none; ++k)
        v *= 100;
    for (int k = 0; k < scale && exponent == none; ++k)
        v /= 1000;
    std::string int_places, frac_places, exp_places, num_places, den_places;
    for (std::size_t i = 0; i < n; ++i)
        if (t[i].kind == Token::Digit) {
            std::string& places = role[i] == Int    ? int_places
                                  : role[i] == Frac ? frac_places
                                  : role[i] == Exp  ? exp_places
                                  : role[i] == Num  ? num_places
                                                    : den_places;
            places += t[i].text;
        }
    out.clear();
    if (!std::isfinite(v) || (slash != none && v >= 1e15))
        return Formatted::NotShown; // too large once scaled
    int decimals = int(frac_places.size());
    if (decimals > 127 || int_places.size() > 255)
        return Formatted::Unsupported;

    // The digits to place: the whole part, the decimals, the exponent, or a fraction.
    std::string whole, fraction, exponent_text, exponent_digits, numerator, denominator;
    bool blank_fraction = false, blank_spaces = false;
    if (slash != none) {
        bool with_whole = !int_places.empty();
        double w = with_whole ? std::floor(v) : 0, f = v - w;
        long long p = 0, q = 1;
        if (t[denominator_start].kind == Token::Denominator) {
            if (t[denominator_start].text.size() > 9)
                return Formatted::Unsupported;
            q = std::atoll(t[denominator_start].text.c_str());
            p = std::llround(f * double(q));
        } else {
            std::size_t places = 0;
            for (std::size_t i = denominator_start; i < n && role[i] == Den; ++i)
                ++places;
            fraction_of(f, static_cast<long long>(std::pow(10.0, double(std::min<std::size_t>(places, 7)))) - 1, p, q);
        }
        if (with_whole && p == q) {
            w += 1;
            p = 0;
        }
        if (w >= 1e15 || p > 999999999999LL)
            return Formatted::NotShown;
        nonzero = v != 0; // -0.01 in halves shows as -0
        // Zero shows as 0, unless a 0/1 shows it and no placeholder asks for the whole 0.
        whole = w != 0   ? fixed_digits(w, 0)
                : p != 0 ? ""
                : !with_whole || num_places.find('0') == std::string::npos || int_places.back() != '#' ? "0"
                                                                                                       : "";
        numerator = pad_left(std::to_string(p), num_places);
        // The denominator aligns left: '?' pads with spaces after it, '0' with zeros before.
        denominator = std::to_string(q);
        std::size_t digits = denominator.size();
        for (std::size_t k = digits; k < den_places.size(); ++k)
            if (den_places[k] == '?')
                denominator += ' ';
            else if (den_places[k] == '0')
                denominator.insert(0, "0");
        // A whole number leaves out its fraction, or leaves its width blank where '?' pads it;
        // a '0' in the numerator shows it all the same ("# 0/4" shows 2 as 2 0/4).
        blank_fraction = with_whole && p == 0 && num_places.find('0') == std::string::npos;
        blank_spaces = blank_fraction && (int_places + num_places + den_places).find('?') != std::string::npos;
    } else if (exponent == none) {
        Value r = round_digits(v, decimals, 0);
        if (r.is_error())
            return Formatted::Unsupported;
        nonzero = r.as_number() != 0;
        std::string digits = fixed_digits(r.as_number(), decimals);
        whole = digits.substr(0, digits.find('.'));
        fraction = decimals > 0 ? digits.substr(digits.find('.') + 1) : "";
        if (whole == "0")
            whole.clear();
    } else {
        // The exponent is a multiple of the integer places ("##0.0E+0" shows 12345 as
        // 12.3E+3, "0000.0E+0" as 0001.2E+4); zero shows a 0 in every integer place.
        const int ints = std::max<int>(1, int(int_places.size()));
        int shift = 0;
        double r = 0;
        if (v != 0) {
            char buf[64];
            std::snprintf(buf, sizeof buf, "%.14e", v);
            const int e = std::atoi(std::strchr(buf, 'e') + 1);
            shift = (e >= 0 ? e / ints : -((-e + ints - 1) / ints)) * ints;
            for (int pass = 0; pass < 2; ++pass) {
                // In two steps: 10^shift alone leaves the doubles for the smallest numbers.
                double mantissa = v / std::pow(10.0, shift / 2) / std::pow(10.0, shift - shift / 2);
                r = round_digits(mantissa, decimals, 0).as_number();
                if (r < std::pow(10.0, ints)) // else rounding carried into one more place
                    break;
                shift += ints;
            }
        }
        nonzero = r != 0;
        std::string digits = fixed_digits(r, decimals);
        whole = v == 0 ? std::string(int_places.size(), '0') : digits.substr(0, digits.find('.'));
        fraction = decimals > 0 ? digits.substr(digits.find('.') + 1) : "";
        exponent_text = std::string(1, t[exponent].text[0]);
        exponent_digits = shift < 0 ? "-" : t[exponent].text[1] == '+' ? "+" : "";
        // Its digits pad as the integer's do: '0' with zeros, '?' with spaces.
        std::string ed = pad_left(std::to_string(std::abs(shift)), exp_places);
        exponent_digits += ed;
    }
    // Zeros after the last digit of the decimals: '#' drops them, '?' leaves a space, '0' shows
    // them, even with a '#' before it ("0.0#0" shows 1.5 as 1.50).
    const std::size_t significant =
        fraction.find_last_not_of('0') == std::string::npos ? 0 : fraction.find_last_not_of('0') + 1;
    for (std::size_t k = significant; k < frac_places.size(); ++k)
        if (frac_places[k] != '0')
            fraction[k] = frac_places[k] == '#' ? '\0' : ' ';

    // Integer placeholders fill from the right; the leftmost takes every digit left over.
    const std::size_t ints = int_places.size();
    std::size_t int_seen = 0, frac_seen = 0;
    bool numerator_shown = false, denominator_shown = false;
    auto int_digit = [&](std::size_t k) { // the digit counting 10^k, and its separator
        out += whole[whole.size() - 1 - k];
        if (grouping && k > 0 && k % 3 == 0)
            out += ',';
    };
    // A fraction's parts: the literals between the whole number and the numerator show with
    // the whole number; without it, as spaces where a '?' pads, else not at all.
    std::size_t last_int = none, first_num = none, last_den = none;
    for (std::size_t i = 0; i < n; ++i) {
        if (role[i] == Int)
            last_int = i;
        if (role[i] == Num && first_num == none)
            first_num = i;
        if (role[i] == Den)
            last_den = i;
    }
    const bool whole_shown = !whole.empty() || int_places.find('0') != std::string::npos;
    const bool pads = (int_places + num_places).find('?') != std::string::npos;
    auto width = [&](const Token& tok) {
        return tok.kind == Token::Digit || tok.kind == Token::Slash ? 1 : utf8_length(tok.text);
    };
    for (std::size_t i = 0; i < n; ++i) {
        const Token& tok = t[i];
        if (slash != none && last_int != none && i > last_int) {
            bool blanked = blank_fraction ? i <= last_den : !whole_shown && i < first_num && role[i] == Plain;
            if (blanked) {
                if (blank_fraction ? blank_spaces : pads)
                    out += std::string(width(tok), ' ');
                continue;
            }
        }
        switch (role[i]) {
        case Int: {
            std::size_t k = ints - 1 - int_seen++;
            if (k == ints - 1)
                for (std::size_t m = whole.size(); m-- > k + 1;)
                    int_digit(m);
            if (k < whole.size())
                int_digit(k);
            else if (tok.text == "0")
                out += grouping && k > 0 && k % 3 == 0 ? "0," : "0";
            else if (tok.text == "?") // a space, and one for the separator it would carry
                out += grouping && k > 0 && k % 3 == 0 ? "  " : " ";
            break;
        }
        case Frac:
            if (fraction[frac_seen] != '\0')
                out += fraction[frac_seen];
            ++frac_seen;
            break;
        case Num:
            if (!numerator_shown)
                out += numerator;
            numerator_shown = true;
            break;
        case Den:
            if (!denominator_shown)
                out += denominator;
            denominator_shown = true;
            break;
        case Exp: // the exponent's digits stand where its first placeholder does, after any literal
            out += exponent_digits;
            exponent_digits.clear();
            break;
        case Group:
        case Scale: break;
        default:
            if (tok.kind == Token::Point && i == point && ints == 0)
                out += whole; // ".00" shows 12.5 as 12.50
            if (tok.kind == Token::Exponent && i == exponent)
                out += exponent_text;
            else if (tok.kind == Token::Slash && i == slash)
                out += "/";
            else if (tok.kind == Token::General)
                out += general_in_eleven(v);
            else if (tok.kind != Token::Exponent && tok.kind != Token::At)
                out += tok.text;
        }
    }
    if (slash == none && exponent == none && ints == 0 && point == none && frac_places.empty())
        nonzero = v != 0; // no placeholders: the sign goes with the value
    return Formatted::Shown;
}

// The sections numbers use: all but a last one holding @ (the text's own section).
std::size_t number_sections(const std::vector<Section>& sections) {
    std::size_t count = sections.size();
    return count == 4 || (count > 0 && sections.back().has(Token::At)) ? count - 1 : count;
}

} // namespace

Formatted format_value(double x, std::string_view code, bool date1904, std::string& out) {
    out.clear();
    std::vector<Section> sections;
    if (!parse_code(code, sections))
        return Formatted::Unsupported;
    const std::size_t count = number_sections(sections);
    if (count == 0) {
        out = general_in_eleven(x);
        return Formatted::Shown;
    }
    // Without conditions: positive;negative;zero, the negative section showing the number
    // without its sign. With conditions on the first two sections, the first whose condition
    // holds, else the next one without a condition.
    std::size_t pick = 0;
    bool minus = x < 0;
    const Condition& first = sections[0].condition;
    const Condition* second = count > 1 ? &sections[1].condition : nullptr;
    if (first.op.empty() && (!second || second->op.empty())) {
        if (x < 0 && count > 1) {
            pick = 1;
            minus = false;
        } else if (x == 0 && count > 2) {
            pick = 2;
        }
    } else {
        if (!first.op.empty() && first.holds(x))
            pick = 0;
        else if (second && !second->op.empty() && second->holds(x))
            pick = 1;
        else if (count > 1)
            pick = count > 2 && !first.op.empty() && second && !second->op.empty() ? 2 : 1;
        // A section meant for the negative numbers shows them without their sign: a first
        // section [<0] or [<=0], a second one after [>=0], or [<0] after [>0] ("[<-10]" keeps
        // it). The third, for what the conditions leave, keeps the sign too:
        // "[>=1000]0,""K"";0" shows -1500 as -1500.
        std::string op1 = first.op, op2 = second ? second->op : "";
        bool at_zero = first.value == 0 && (!second || second->value == 0);
        if (at_zero && pick == 0 &&
            ((op1 == "<" && op2 != "<" && op2 != "<=" && op2 != "<>") || (op1 == "<=" && (op2.empty() || op2 == ">"))))
            minus = false;
        if (at_zero && pick == 1 && ((op1 == ">=" && op2.empty()) || (op1 == ">" && op2 == "<")))
            minus = false;
        if (count == 1 && !first.holds(x)) { // a lone section's condition fails: General shows it
            out = general_in_eleven(x);
            return Formatted::Shown;
        }
    }
    const Section& section = sections[pick];
    if (section.dated()) {
        if (x < 0 && (count == 1 || pick == 0) && !section.has(Token::Elapsed))
            return Formatted::NotShown;
        return format::show_date(section, minus ? x : std::fabs(x), date1904, out);
    }
    if (section.has(Token::At)) { // a number in a text section shows as it is
        for (const Token& t : section.tokens)
            out += t.kind == Token::At ? general_number(x) : t.kind == Token::Literal ? t.text : "";
        return Formatted::Shown;
    }
    bool nonzero = false;
    Formatted shown = show_number(section, std::fabs(x), out, nonzero);
    if (shown != Formatted::Shown)
        return shown;
    if (minus && nonzero)
        out.insert(0, "-");
    return Formatted::Shown;
}

Formatted format_text(std::string_view text, std::string_view code, std::string& out) {
    std::vector<Section> sections;
    if (!parse_code(code, sections))
        return Formatted::Unsupported;
    out.clear();
    if (number_sections(sections) == sections.size()) {
        out = text;
        return Formatted::Shown;
    }
    for (const Token& t : sections.back().tokens) {
        if (t.kind == Token::At || t.kind == Token::General) // General shows text as it is
            out += text;
        else if (t.kind == Token::Literal)
            out += t.text;
        else
            return Formatted::Unsupported;
    }
    return Formatted::Shown;
}

std::string general_in_eleven(double x) {
    if (x == 0 || !std::isfinite(x))
        return general_number(x);
    const std::string sign = x < 0 ? "-" : "";
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.14e", std::fabs(x));
    const double a = std::strtod(buf, nullptr); // at most 15 significant digits
    const int e = std::atoi(std::strchr(buf, 'e') + 1);
    std::string digits = std::string(1, buf[0]) + std::string(buf + 2, 14);
    const int needed = int(digits.find_last_not_of('0')) + 1;
    const int scientific_digits = e <= -100 || e >= 100 ? 5 : 6;
    if (e < 11) {
        int int_digits = e >= 0 ? e + 1 : 1;
        int decimals = std::max(0, 11 - int_digits - 1);
        int fixed_digits = e >= 0 ? int_digits + decimals : decimals + e + 1;
        if (fixed_digits >= std::min(needed, scientific_digits)) {
            std::snprintf(buf, sizeof buf, "%.*f", decimals, a);
            std::string s = buf;
            if (s.find('.') != std::string::npos) {
                s.erase(s.find_last_not_of('0') + 1);
                if (s.back() == '.')
                    s.pop_back();
            }
            if (s.size() <= 11)
                return sign + s;
        }
    }
    for (int places = scientific_digits - 1; places >= 0; --places) {
        std::snprintf(buf, sizeof buf, "%.*E", places, a);
        std::string s = buf;
        std::size_t at = s.find('E');
        std::string mantissa = s.substr(0, at), exponent = s.substr(at);
        while (exponent.size() > 4 && exponent[2] == '0') // two exponent digits on every C runtime
            exponent.erase(2, 1);
        if (mantissa.find('.') != std::string::npos) {
            mantissa.erase(mantissa.find_last_not_of('0') + 1);
            if (mantissa.back() == '.')
                mantissa.pop_back();
        }
        s = mantissa + exponent;
        if (s.size() <= 11)
            return sign + s;
    }
    return general_number(x);
}

} // namespace host::engine::detail::fn
