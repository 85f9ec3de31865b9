// Reading a number format code: its sections, and each section's tokens.

#include "engine/functions/Common.hpp"
#include "engine/functions/format/FormatCode.hpp"

#include <cctype>
#include <string>
#include <vector>

namespace host::engine::detail::fn::format {

namespace {

// Sections end at semicolons outside quotes and escapes.
std::vector<std::string> split_sections(std::string_view f) {
    std::vector<std::string> out(1);
    for (std::size_t i = 0; i < f.size(); ++i) {
        char ch = f[i];
        if (ch == '"') {
            std::size_t j = f.find('"', i + 1);
            if (j == none)
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

char lower(char ch) { return char(std::tolower(static_cast<unsigned char>(ch))); }

bool starts_with_ci(std::string_view s, std::size_t at, std::string_view word) {
    if (s.size() - at < word.size())
        return false;
    for (std::size_t k = 0; k < word.size(); ++k)
        if (lower(s[at + k]) != lower(word[k]))
            return false;
    return true;
}

bool is_colour(std::string_view inside) {
    std::string name = to_upper(inside);
    for (const char* colour : {"BLACK", "BLUE", "CYAN", "GREEN", "MAGENTA", "RED", "WHITE", "YELLOW"})
        if (name == colour)
            return true;
    return name.size() > 5 && name.compare(0, 5, "COLOR") == 0 &&
           name.find_first_not_of("0123456789", 5) == std::string::npos;
}

// What a [...] holds: a condition, a colour, a currency or locale, or an elapsed time unit.
bool parse_bracket(std::string_view inside, Section& out) {
    if (inside.empty())
        return false;
    char first = inside[0];
    if (first == '<' || first == '>' || first == '=') {
        std::size_t n = inside.size() > 1 && (inside[1] == '=' || (first == '<' && inside[1] == '>')) ? 2 : 1;
        auto value = parse_number(inside.substr(n));
        if (!value || inside.find('%') != none)
            return false;
        out.condition = {std::string(inside.substr(0, n)), *value};
        return true;
    }
    if (first == '$') { // "[$-409]" names a locale, "[$€-407]" a currency symbol too, which shows
        const std::size_t dash = inside.find('-');
        std::string_view symbol = inside.substr(1, dash == none ? none : dash - 1);
        out.tokens.push_back({Token::Literal, std::string(symbol)});
        // The locale's number: calendar and digits above its low 16 bits, the language in
        // the low 10 of those.
        if (dash != none && dash + 1 < inside.size() &&
            inside.find_first_not_of("0123456789abcdefABCDEF", dash + 1) == none && inside.size() - dash - 1 <= 8)
            out.language = int(std::stoul(std::string(inside.substr(dash + 1)), nullptr, 16) & 0x3FF);
        return true;
    }
    char unit = lower(first);
    if ((unit == 'h' || unit == 'm' || unit == 's') &&
        std::all_of(inside.begin(), inside.end(), [unit](char ch) { return lower(ch) == unit; })) {
        out.tokens.push_back({Token::Elapsed, std::string(inside.size(), unit)});
        return true;
    }
    return is_colour(inside); // a colour changes nothing in text
}

// Splits one section into tokens; false for what the language does not have.
bool parse_section(std::string_view s, Section& out) {
    auto literal = [&](std::string text) { out.tokens.push_back({Token::Literal, std::move(text)}); };
    for (std::size_t i = 0; i < s.size();) {
        char ch = s[i], lo = lower(ch);
        if (ch == '"') {
            std::size_t j = s.find('"', i + 1);
            if (j == none)
                return false;
            literal(std::string(s.substr(i + 1, j - i - 1)));
            i = j + 1;
        } else if (ch == '\\' || ch == '_' || ch == '*') {
            // "\x" shows x; "_x" leaves the space of an x (in text, one space); "*x" fills the
            // cell's width, which text has not: nothing.
            if (i + 1 >= s.size())
                return false;
            std::size_t n = utf8_offset(s.substr(i + 1), 1);
            if (ch != '*')
                literal(ch == '\\' ? std::string(s.substr(i + 1, n)) : " ");
            i += 1 + n;
        } else if (ch == '[') {
            std::size_t end = s.find(']', i);
            if (end == none || !parse_bracket(s.substr(i + 1, end - i - 1), out))
                return false;
            i = end + 1;
        } else if (ch == '0' || ch == '#' || ch == '?') {
            out.tokens.push_back({Token::Digit, std::string(1, ch)});
            ++i;
        } else if (ch == '.' || ch == ',' || ch == '%' || ch == '@') {
            Token::Kind kind = ch == '.'   ? Token::Point
                               : ch == ',' ? Token::Comma
                               : ch == '%' ? Token::Percent
                                           : Token::At;
            out.tokens.push_back({kind, std::string(1, ch)});
            ++i;
        } else if (lo == 'e' && i + 1 < s.size() && (s[i + 1] == '+' || s[i + 1] == '-')) {
            out.tokens.push_back({Token::Exponent, std::string(s.substr(i, 2))});
            i += 2;
        } else if (starts_with_ci(s, i, "general")) {
            out.tokens.push_back({Token::General, ""});
            i += 7;
        } else if (starts_with_ci(s, i, "am/pm") || starts_with_ci(s, i, "a/p")) {
            std::size_t n = starts_with_ci(s, i, "am/pm") ? 5 : 3;
            out.tokens.push_back({Token::AmPm, std::string(s.substr(i, n))});
            i += n;
        } else if (ch == '/') {
            out.tokens.push_back({Token::Slash, "/"});
            std::size_t j = ++i;
            if (j < s.size() && s[j] >= '1' && s[j] <= '9') {
                while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
                    ++j;
                out.tokens.push_back({Token::Denominator, std::string(s.substr(i, j - i))});
                i = j;
            }
        } else if (lo == 'b' && i + 1 < s.size() && (s[i + 1] == '1' || s[i + 1] == '2')) {
            if (s[i + 1] == '2')
                return false; // the Hijri calendar ("B2yyyy") is not shown here
            i += 2;           // "B1": the Gregorian calendar, as without it
        } else if (lo == 'y' || lo == 'm' || lo == 'd' || lo == 'h' || lo == 's' || lo == 'e' || lo == 'b') {
            std::size_t j = i;
            while (j < s.size() && lower(s[j]) == lo)
                ++j;
            out.tokens.push_back({Token::DatePart, std::string(j - i, lo)});
            i = j;
        } else {
            // Any other character shows as itself: TEXT(x,"0cc###") and "#°F" work unquoted.
            std::size_t n = utf8_offset(s.substr(i), 1);
            literal(std::string(s.substr(i, n)));
            i += n;
        }
    }
    return true;
}

} // namespace

bool parse_code(std::string_view code, std::vector<Section>& sections) {
    std::vector<std::string> parts = split_sections(code);
    if (parts.size() > 4)
        return false;
    sections.resize(parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i)
        if (!parse_section(parts[i], sections[i]))
            return false;
    return true;
}

} // namespace host::engine::detail::fn::format
