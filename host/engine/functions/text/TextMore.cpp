// Text functions beyond the classic ones: TEXTBEFORE, TEXTAFTER, UNICODE, UNICHAR,
// VALUETOTEXT, CLEAN, NUMBERVALUE, REGEXTEST and REGEXREPLACE (PCRE2, where the build has it),
// and those of particular scripts: ASC and DBCS/JIS (half- and full-width forms), BAHTTEXT (an
// amount in Thai words), PHONETIC (the reading of Japanese text; the text itself where a file
// stores none).

#include "engine/functions/Common.hpp"
#include "engine/functions/text/Regex.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <string>
#include <vector>

namespace host::engine::detail::fn {

namespace {

// TEXTBEFORE(text, delimiter, [instance], [match_mode], [match_end], [if_not_found]) and
// TEXTAFTER: a negative instance counts from the end; match_end makes the end of the text (the
// start, counting from the end) a delimiter too. An array of delimiters splits at any of them
// (the first listed that fits where several start at one place).
template <bool After>
void text_around(Ctx& c, Item& out) {
    OMBRIX_TEXT(0, text);
    std::vector<std::string> delimiters;
    if (c.args[1].kind == Item::Arr || c.args[1].kind == Item::Range) {
        Value bad;
        each_value(c, 1, 2, [&](const Value& v, bool, bool) {
            if (v.is_error() && bad.is_empty())
                bad = v;
            if (!v.is_empty())
                delimiters.push_back(to_text(v));
        });
        if (!bad.is_empty())
            OMBRIX_RETURN(bad);
    } else {
        OMBRIX_TEXT(1, delimiter);
        delimiters.push_back(delimiter);
    }
    if (delimiters.size() > 1) // an empty delimiter among others finds nothing
        delimiters.erase(std::remove(delimiters.begin(), delimiters.end(), std::string()), delimiters.end());
    if (delimiters.empty())
        delimiters.emplace_back();
    std::size_t shortest = delimiters[0].size(), shortest_length = utf8_length(delimiters[0]);
    for (const std::string& d : delimiters)
        if (d.size() < shortest)
            shortest = d.size(), shortest_length = utf8_length(d);
    OMBRIX_NUMBER_OR(2, instance_arg, 1);
    OMBRIX_NUMBER_OR(3, mode, 0);
    OMBRIX_NUMBER_OR(4, match_end, 0);
    // An instance given counts at most the places the delimiter fits in the text.
    double instance = std::floor(instance_arg);
    double places = double(utf8_length(text)) - double(shortest_length) + 1;
    if (instance == 0 || (!c.missing(2) && std::fabs(instance) > std::max(places, shortest == 0 ? 1.0 : 0.0)) ||
        (mode != 0 && mode != 1) || (match_end != 0 && match_end != 1))
        OMBRIX_RETURN(err(ErrorCode::Value));
    auto not_found = [&] {
        if (c.missing(5))
            OMBRIX_RETURN(err(ErrorCode::NA));
        Value v = c.arg(5);
        OMBRIX_RETURN(v.is_empty() ? Value::text("") : v);
    };
    std::size_t at = 0, length = 0;
    if (shortest == 0) {
        at = instance > 0 ? 0 : text.size();
    } else {
        std::string hay = mode == 1 ? to_upper(text) : text;
        std::vector<std::string> needles;
        for (const std::string& d : delimiters)
            needles.push_back(mode == 1 ? to_upper(d) : d);
        std::vector<std::pair<std::size_t, std::size_t>> found; // where, how long
        if (match_end != 0 && instance < 0)
            found.emplace_back(0, 0);
        for (std::size_t p = 0; p < hay.size();) {
            std::size_t fits = 0;
            for (const std::string& needle : needles)
                if (hay.compare(p, needle.size(), needle) == 0) {
                    fits = needle.size();
                    break;
                }
            if (fits == 0) {
                ++p;
                continue;
            }
            found.emplace_back(p, fits);
            p += fits;
        }
        if (match_end != 0 && instance > 0)
            found.emplace_back(text.size(), 0);
        double n = std::fabs(instance);
        if (n > double(found.size()))
            return not_found();
        const auto& hit = instance > 0 ? found[std::size_t(n) - 1] : found[found.size() - std::size_t(n)];
        at = hit.first, length = hit.second;
    }
    OMBRIX_RETURN(Value::text(After ? text.substr(std::min(text.size(), at + length)) : text.substr(0, at)));
}

// The code point starting at s[i], and its length in bytes.
std::uint32_t decode(const std::string& s, std::size_t i, std::size_t& length) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    length = b < 0x80 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : 4;
    if (i + length > s.size())
        length = 1;
    std::uint32_t cp = length == 1 ? b : length == 2 ? (b & 0x1F) : length == 3 ? (b & 0x0F) : (b & 0x07);
    for (std::size_t k = 1; k < length; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(s[i + k]) & 0x3F);
    return cp;
}

std::string encode(std::uint32_t cp) {
    std::string s;
    if (cp < 0x80) {
        s += char(cp);
    } else if (cp < 0x800) {
        s += char(0xC0 | (cp >> 6));
        s += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        s += char(0xE0 | (cp >> 12));
        s += char(0x80 | ((cp >> 6) & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    } else {
        s += char(0xF0 | (cp >> 18));
        s += char(0x80 | ((cp >> 12) & 0x3F));
        s += char(0x80 | ((cp >> 6) & 0x3F));
        s += char(0x80 | (cp & 0x3F));
    }
    return s;
}

OMBRIX_FN(unicode) {
    OMBRIX_TEXT(0, s);
    if (s.empty())
        OMBRIX_RETURN(err(ErrorCode::Value));
    std::size_t length;
    OMBRIX_RETURN(Value::number(double(decode(s, 0, length))));
}
OMBRIX_FN(unichar) {
    OMBRIX_NUMBER(0, x);
    x = std::trunc(x);
    if (x < 1 || x > 1114111)
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (x >= 0xD800 && x <= 0xDFFF)
        OMBRIX_RETURN(err(ErrorCode::NA));
    OMBRIX_RETURN(Value::text(encode(std::uint32_t(x))));
}

// VALUETOTEXT(value, [format]): format 1 quotes text, as a formula would write it.
OMBRIX_FN(valuetotext) {
    Value v = c.arg(0);
    OMBRIX_NUMBER_OR(1, format, 0);
    if (format != 0 && format != 1)
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (v.is_text() && format == 1) {
        std::string quoted = "\"";
        for (char ch : v.as_text())
            quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
        OMBRIX_RETURN(Value::text(quoted + "\""));
    }
    OMBRIX_RETURN(Value::text(v.is_error() ? std::string(error_text(v.as_error())) : to_text(v)));
}

OMBRIX_FN(clean) {
    OMBRIX_TEXT(0, s);
    std::string r;
    for (char ch : s)
        if (static_cast<unsigned char>(ch) >= 32)
            r += ch;
    OMBRIX_RETURN(Value::text(r));
}

// NUMBERVALUE(text, [decimal_separator], [group_separator]): group separators anywhere before
// the decimal one are dropped, spaces ignored, trailing percent signs divide by 100 each.
OMBRIX_FN(numbervalue) {
    OMBRIX_TEXT(0, s);
    std::string decimal = ".", group = ",";
    if (!c.missing(1) && !text_arg(c, 1, decimal, out.v))
        return;
    if (!c.missing(2) && !text_arg(c, 2, group, out.v))
        return;
    if (decimal.empty() || group.empty())
        OMBRIX_RETURN(err(ErrorCode::Value));
    char dec = decimal[0], grp = group[0];
    if (dec == grp)
        OMBRIX_RETURN(err(ErrorCode::Value));
    std::string plain;
    double scale = 1;
    bool seen_decimal = false;
    // A number in parentheses is negative, as an accounting format shows it: "(2.5%)%".
    bool opened = false, closed = false;
    for (char ch : s) {
        if (ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r')
            continue;
        if (ch == '%') {
            scale /= 100;
            continue;
        }
        if (ch == '(' && !opened && plain.empty() && !seen_decimal && scale == 1) {
            opened = true;
            continue;
        }
        if (ch == ')' && opened && !closed) {
            closed = true;
            continue;
        }
        if (scale != 1 || closed)
            OMBRIX_RETURN(err(ErrorCode::Value));
        if (ch == dec) {
            if (seen_decimal)
                OMBRIX_RETURN(err(ErrorCode::Value));
            seen_decimal = true;
            plain += '.';
        } else if (ch == grp) {
            if (seen_decimal)
                OMBRIX_RETURN(err(ErrorCode::Value));
        } else {
            plain += ch;
        }
    }
    if (opened != closed)
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (plain.empty())
        OMBRIX_RETURN(Value::number(0));
    double x;
    ErrorCode e;
    if (plain.find_first_not_of("0123456789.+-eE") != std::string::npos || !to_number(Value::text(plain), x, e, false))
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_RETURN(Value::number((opened ? -x : x) * scale));
}

// The full-width forms U+FF01..U+FF5E mirror ASCII ! to ~; U+3000 is the full-width space.
constexpr char32_t full_width_offset = 0xFF01 - 0x21;

OMBRIX_FN(asc) {
    OMBRIX_TEXT(0, s);
    std::string r;
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = next_code_point(s, i);
        if (cp >= 0xFF01 && cp <= 0xFF5E)
            cp -= full_width_offset;
        else if (cp == 0x3000)
            cp = ' ';
        append_utf8(r, cp);
    }
    OMBRIX_RETURN(Value::text(r));
}

OMBRIX_FN(dbcs) {
    OMBRIX_TEXT(0, s);
    std::string r;
    for (std::size_t i = 0; i < s.size();) {
        char32_t cp = next_code_point(s, i);
        if (cp >= 0x21 && cp <= 0x7E)
            cp += full_width_offset;
        else if (cp == ' ')
            cp = 0x3000;
        append_utf8(r, cp);
    }
    OMBRIX_RETURN(Value::text(r));
}

const char* const thai_digits[10] = {"ศูนย์", "หนึ่ง", "สอง", "สาม", "สี่", "ห้า", "หก", "เจ็ด", "แปด", "เก้า"};
const char* const thai_places[6] = {"", "สิบ", "ร้อย", "พัน", "หมื่น", "แสน"};

// A whole number below a million in Thai words: ten is "สิบ", twenty "ยี่สิบ", and a final one
// after other digits "เอ็ด" (eleven "สิบเอ็ด"). `more` says digits come before this group.
std::string thai_below_million(long long n, bool more) {
    std::string out;
    std::string digits = std::to_string(n);
    for (std::size_t i = 0; i < digits.size(); ++i) {
        int d = digits[i] - '0';
        std::size_t place = digits.size() - 1 - i;
        if (d == 0)
            continue;
        if (place == 1 && d == 2)
            out += "ยี่";
        else if (place == 0 && d == 1 && (more || n > 9))
            out += "เอ็ด";
        else if (place != 1 || d != 1)
            out += thai_digits[d];
        out += thai_places[place];
    }
    return out;
}

std::string thai_number(long long n) {
    if (n < 1000000)
        return thai_below_million(n, false);
    return thai_number(n / 1000000) + "ล้าน" + thai_below_million(n % 1000000, true);
}

// BAHTTEXT(number): the amount in baht ("บาท") and satang ("สตางค์"), "ถ้วน" (exactly) when no
// satang, "ลบ" before a negative amount.
OMBRIX_FN(bahttext) {
    OMBRIX_NUMBER(0, x);
    Value r = round_digits(std::fabs(x), 2, 0);
    if (r.is_error() || r.as_number() >= 1e15)
        OMBRIX_RETURN(err(ErrorCode::Value));
    long long cents = std::llround(r.as_number() * 100);
    long long baht = cents / 100, satang = cents % 100;
    std::string words = x < 0 && cents != 0 ? "ลบ" : "";
    if (baht != 0 || satang == 0)
        words += (baht == 0 ? std::string(thai_digits[0]) : thai_number(baht)) + "บาท";
    words += satang == 0 ? "ถ้วน" : thai_below_million(satang, false) + "สตางค์";
    OMBRIX_RETURN(Value::text(words));
}

OMBRIX_FN(phonetic) {
    OMBRIX_TEXT(0, s);
    OMBRIX_RETURN(Value::text(s));
}

#ifdef OMBRIX_HAVE_PCRE2
// The most characters of replacement text REGEXREPLACE reads, over all its matches.
constexpr std::size_t max_replacement_work = std::size_t(1) << 24;

bool case_arg(const Ctx& c, int i, bool& ignore_case, Value& out) {
    double x;
    if (!num(c, i, x, out, 0))
        return false;
    if (x != 0 && x != 1) {
        out = err(ErrorCode::Value);
        return false;
    }
    ignore_case = x == 1;
    return true;
}

OMBRIX_FN(regextest) {
    OMBRIX_TEXT(0, text);
    OMBRIX_TEXT(1, pattern);
    bool ignore_case;
    if (!case_arg(c, 2, ignore_case, out.v))
        return;
    Regex regex(pattern, ignore_case);
    if (!regex.valid())
        OMBRIX_RETURN(err(ErrorCode::Value));
    const int rc = regex.match(text, 0);
    if (rc < PCRE2_ERROR_NOMATCH)
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_RETURN(Value::boolean(rc >= 0));
}

// REGEXREPLACE(text, pattern, replacement, [occurrence], [case_sensitivity]): every match
// (occurrence 0), the n-th, or the n-th from the end (negative); $1 and ${name} in the
// replacement name groups.
OMBRIX_FN(regexreplace) {
    OMBRIX_TEXT(0, text);
    OMBRIX_TEXT(1, pattern);
    OMBRIX_TEXT(2, replacement);
    OMBRIX_NUMBER_OR(3, occurrence_arg, 0);
    bool ignore_case;
    if (!case_arg(c, 4, ignore_case, out.v))
        return;
    Regex regex(pattern, ignore_case);
    if (!regex.valid())
        OMBRIX_RETURN(err(ErrorCode::Value));
    long occurrence = long(std::trunc(std::max(-1e9, std::min(occurrence_arg, 1e9))));
    // Where each match is, to pick the one that is wanted or to bound the work.
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at <= text.size();) {
        const int rc = regex.match(text, at);
        if (rc == PCRE2_ERROR_NOMATCH)
            break;
        if (rc < 0)
            OMBRIX_RETURN(err(ErrorCode::Value));
        starts.push_back(regex.start(0));
        at = next_search_start(text, regex.start(0), regex.end(0));
    }
    // Anything longer is past the text limit whatever its characters.
    const std::size_t longest = 4 * max_text_length;
    std::string replaced;
    if (occurrence == 0) {
        // The replacement is read again for every match: a long one over many matches would
        // take seconds, and is #VALUE! as a text past the limit is.
        if (double(starts.size()) * double(replacement.size()) > double(max_replacement_work))
            OMBRIX_RETURN(err(ErrorCode::Value));
        if (!regex.substitute(text, 0, true, replacement, longest, replaced))
            OMBRIX_RETURN(err(ErrorCode::Value));
        OMBRIX_RETURN(Value::text(replaced));
    }
    long n = long(starts.size());
    long index = occurrence > 0 ? occurrence - 1 : n + occurrence;
    if (index < 0 || index >= n)
        OMBRIX_RETURN(Value::text(text));
    // The substitution copies the text before the match unchanged.
    if (!regex.substitute(text, starts[std::size_t(index)], false, replacement, longest, replaced))
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_RETURN(Value::text(replaced));
}
#endif

} // namespace

std::vector<Entry> more_text_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"TEXTBEFORE", 2, 6, 0, "vav"}, text_around<false>},
        {{"TEXTAFTER", 2, 6, 0, "vav"}, text_around<true>},
        {{"UNICODE", 1, 1, L}, fn_unicode},
        {{"UNICHAR", 1, 1, L}, fn_unichar},
        {{"VALUETOTEXT", 1, 2, L}, fn_valuetotext},
        {{"CLEAN", 1, 1, L}, fn_clean},
        {{"NUMBERVALUE", 1, 3, L}, fn_numbervalue},
        {{"ASC", 1, 1, L}, fn_asc},
        {{"DBCS", 1, 1, L}, fn_dbcs},
        {{"JIS", 1, 1, L}, fn_dbcs},
        {{"BAHTTEXT", 1, 1, L}, fn_bahttext},
        {{"PHONETIC", 1, 1, 0}, fn_phonetic},
#ifdef OMBRIX_HAVE_PCRE2
        {{"REGEXTEST", 2, 3, L}, fn_regextest},
        {{"REGEXREPLACE", 3, 5, L}, fn_regexreplace},
#endif
    };
}

} // namespace host::engine::detail::fn
