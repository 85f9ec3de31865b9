// Text functions.

#include "engine/functions/Common.hpp"
#include "engine/functions/text/LetterCase.hpp"
#include "engine/functions/format/NumberFormat.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace host::engine::detail::fn {

namespace {

OMBRIX_FN(len) {
    OMBRIX_TEXT(0, s);
    OMBRIX_RETURN(Value::number(double(utf8_length(s))));
}
OMBRIX_FN(upper) {
    OMBRIX_TEXT(0, s);
    OMBRIX_RETURN(Value::text(upper_case(s)));
}
OMBRIX_FN(lower) {
    OMBRIX_TEXT(0, s);
    OMBRIX_RETURN(Value::text(lower_case(s)));
}
OMBRIX_FN(left) {
    OMBRIX_TEXT(0, s);
    OMBRIX_NUMBER_OR(1, n, 1);
    if (n < 0)
        OMBRIX_RETURN(err(ErrorCode::Value));
    double k = std::min(std::trunc(n), 1e9);
    OMBRIX_RETURN(Value::text(s.substr(0, utf8_offset(s, static_cast<std::size_t>(k)))));
}
OMBRIX_FN(right) {
    OMBRIX_TEXT(0, s);
    OMBRIX_NUMBER_OR(1, n, 1);
    if (n < 0)
        OMBRIX_RETURN(err(ErrorCode::Value));
    double k = std::min(std::trunc(n), 1e9);
    std::size_t len = utf8_length(s), kk = static_cast<std::size_t>(k);
    OMBRIX_RETURN(Value::text(kk >= len ? s : s.substr(utf8_offset(s, len - kk))));
}
OMBRIX_FN(mid) {
    OMBRIX_TEXT(0, s);
    OMBRIX_NUMBER(1, start);
    OMBRIX_NUMBER(2, n);
    if (start < 1 || n < 0)
        OMBRIX_RETURN(err(ErrorCode::Value));
    std::size_t b = utf8_offset(s, static_cast<std::size_t>(std::min(std::trunc(start), 1e9)) - 1);
    std::size_t k = static_cast<std::size_t>(std::min(std::trunc(n), 1e9));
    std::string rest = s.substr(b);
    OMBRIX_RETURN(Value::text(rest.substr(0, utf8_offset(rest, k))));
}
OMBRIX_FN(concatenate) {
    std::string s;
    for (int i = 0; i < c.argc; ++i) {
        OMBRIX_TEXT(i, part);
        s += part;
    }
    OMBRIX_RETURN(Value::text(s));
}
OMBRIX_FN(value) {
    Value v = c.arg(0);
    switch (v.type()) {
    case ValueType::Error: OMBRIX_RETURN(v);
    case ValueType::Number: OMBRIX_RETURN(v);
    case ValueType::Empty: OMBRIX_RETURN(Value::number(0));
    case ValueType::Text: {
        double x;
        if (read_shown_number(v.as_text(), c.ev.grid.date1904(), x))
            OMBRIX_RETURN(Value::number(x));
        OMBRIX_RETURN(err(ErrorCode::Value));
    }
    default: OMBRIX_RETURN(err(ErrorCode::Value));
    }
}
OMBRIX_FN(trim) {
    OMBRIX_TEXT(0, s);
    std::string r;
    for (char ch : s) {
        if (ch == ' ' && (r.empty() || r.back() == ' '))
            continue;
        r += ch;
    }
    if (!r.empty() && r.back() == ' ')
        r.pop_back();
    OMBRIX_RETURN(Value::text(r));
}

constexpr std::size_t max_text = max_text_length;

Value text_result(std::string s) {
    if (utf8_length(s) > max_text)
        return err(ErrorCode::Value);
    return Value::text(s);
}

OMBRIX_FN(concat) {
    std::string s;
    Value e;
    each_value(c, 0, c.argc, [&](const Value& v, bool, bool) {
        if (v.is_error() && !e.is_error())
            e = v;
        else if (s.size() <= 4 * max_text)
            s += to_text(v);
    });
    if (e.is_error())
        OMBRIX_RETURN(e);
    OMBRIX_RETURN(text_result(std::move(s)));
}

OMBRIX_FN(textjoin) {
    std::vector<std::string> delimiters;
    Value e;
    each_value(c, 0, 1, [&](const Value& v, bool, bool) {
        if (v.is_error() && !e.is_error())
            e = v;
        delimiters.push_back(to_text(v));
    });
    if (e.is_error())
        OMBRIX_RETURN(e);
    // TEXTJOIN(",",,x) skips empty texts: an empty ignore_empty counts as TRUE, as the
    // spreadsheet's cached results show.
    bool skip_empty = true;
    ErrorCode code;
    if (!c.missing(1) && !to_boolean(c.arg(1), skip_empty, code))
        OMBRIX_RETURN(err(code));
    std::string s;
    std::size_t joined = 0;
    each_value(c, 2, c.argc, [&](const Value& v, bool, bool) {
        if (e.is_error())
            return;
        if (v.is_error()) {
            e = v;
            return;
        }
        std::string part = to_text(v);
        if (skip_empty && part.empty())
            return;
        // Past the limit already: the count goes on, the text no longer grows.
        if (joined++ > 0 && !delimiters.empty() && s.size() <= 4 * max_text)
            s += delimiters[(joined - 2) % delimiters.size()];
        if (s.size() <= 4 * max_text)
            s += part;
    });
    if (e.is_error())
        OMBRIX_RETURN(e);
    OMBRIX_RETURN(text_result(std::move(s)));
}

OMBRIX_FN(substitute) {
    OMBRIX_TEXT(0, s);
    OMBRIX_TEXT(1, from);
    OMBRIX_TEXT(2, to);
    double which = 0;
    if (!c.missing(3)) {
        if (!num(c, 3, which, out.v))
            return;
        if (which < 1)
            OMBRIX_RETURN(err(ErrorCode::Value));
    }
    if (from.empty())
        OMBRIX_RETURN(Value::text(s));
    std::string r;
    std::size_t at = 0, count = 0;
    long nth = long(std::min(std::trunc(which), 1e9));
    while (true) {
        std::size_t hit = s.find(from, at);
        if (hit == std::string::npos)
            break;
        ++count;
        r.append(s, at, hit - at);
        r += nth == 0 || long(count) == nth ? to : from;
        at = hit + from.size();
        if (r.size() > 4 * max_text)
            OMBRIX_RETURN(err(ErrorCode::Value));
    }
    r.append(s, at, std::string::npos);
    OMBRIX_RETURN(text_result(std::move(r)));
}

OMBRIX_FN(replace) {
    OMBRIX_TEXT(0, s);
    OMBRIX_NUMBER(1, start);
    OMBRIX_NUMBER(2, n);
    OMBRIX_TEXT(3, with);
    if (start < 1 || n < 0)
        OMBRIX_RETURN(err(ErrorCode::Value));
    std::size_t b = utf8_offset(s, std::size_t(std::min(std::trunc(start), 1e9)) - 1);
    std::size_t e = b + utf8_offset(std::string_view(s).substr(b), std::size_t(std::min(std::trunc(n), 1e9)));
    OMBRIX_RETURN(text_result(s.substr(0, b) + with + s.substr(e)));
}

// FIND and SEARCH: the 1-based position of `needle` in `hay` from character `start`.
void find_text(Ctx& c, Item& out, bool search) {
    OMBRIX_TEXT(0, needle);
    OMBRIX_TEXT(1, hay);
    OMBRIX_NUMBER_OR(2, start, 1);
    std::size_t len = utf8_length(hay);
    if (start < 1 || std::trunc(start) > double(len) + (needle.empty() ? 1 : 0))
        OMBRIX_RETURN(err(ErrorCode::Value));
    std::size_t k = std::size_t(std::trunc(start)) - 1;
    std::size_t tildes = needle.size() - needle.find_last_not_of('~') - 1;
    if (search && tildes % 2 == 1) // a final ~ escapes nothing
        needle.pop_back();
    if (needle.empty())
        OMBRIX_RETURN(Value::number(double(k + 1)));
    std::string pattern = needle + "*";
    for (std::size_t at = utf8_offset(hay, k); at < hay.size(); ++at) {
        if ((static_cast<unsigned char>(hay[at]) & 0xC0) == 0x80)
            continue; // inside a character
        std::string_view rest = std::string_view(hay).substr(at);
        if (search ? wildcard_match(pattern, rest) : rest.compare(0, needle.size(), needle) == 0)
            OMBRIX_RETURN(Value::number(double(k + 1)));
        ++k;
    }
    OMBRIX_RETURN(err(ErrorCode::Value));
}
OMBRIX_FN(find) { find_text(c, out, false); }
OMBRIX_FN(search) { find_text(c, out, true); }

OMBRIX_FN(rept) {
    OMBRIX_TEXT(0, s);
    OMBRIX_NUMBER(1, n);
    if (n < 0)
        OMBRIX_RETURN(err(ErrorCode::Value));
    double total = std::trunc(n) * double(utf8_length(s));
    if (total > double(max_text))
        OMBRIX_RETURN(err(ErrorCode::Value));
    std::string r;
    for (long i = 0; i < long(std::trunc(n)) && !s.empty(); ++i)
        r += s;
    OMBRIX_RETURN(Value::text(r));
}

OMBRIX_FN(exact) {
    OMBRIX_TEXT(0, a);
    OMBRIX_TEXT(1, b);
    OMBRIX_RETURN(Value::boolean(a == b));
}

// A letter's case after a letter is small, after anything else capital. Beyond ASCII every
// character but punctuation and symbols counts as a letter.
OMBRIX_FN(proper) {
    OMBRIX_TEXT(0, s);
    std::string cased;
    cased.reserve(s.size());
    bool after_letter = false;
    for (std::size_t i = 0; i < s.size();) {
        const char32_t cp = next_code_point(s, i);
        append_utf8(cased, after_letter ? lower_case(cp) : upper_case(cp));
        const bool symbol =
            (cp >= 0x80 && cp < 0xC0) || cp == 0xD7 || cp == 0xF7 || (cp >= 0x2000 && cp < 0x3000) || cp >= 0x110000;
        after_letter = cp < 0x80 ? std::isalpha(static_cast<int>(cp)) != 0 : !symbol;
    }
    OMBRIX_RETURN(Value::text(cased));
}

// The characters 128-159 of the Windows Latin code page the spreadsheet's CHAR and CODE use
// (0 where it has none); the others are the same as in Unicode.
const char32_t cp1252_high[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                  0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

std::string utf8_of(char32_t cp) {
    std::string s;
    append_utf8(s, cp);
    return s;
}

OMBRIX_FN(char) {
    OMBRIX_NUMBER(0, n);
    n = std::trunc(n);
    if (n < 1 || n > 255)
        OMBRIX_RETURN(err(ErrorCode::Value));
    char32_t cp = char32_t(n);
    if (cp >= 128 && cp < 160)
        cp = cp1252_high[cp - 128] ? cp1252_high[cp - 128] : cp;
    OMBRIX_RETURN(Value::text(utf8_of(cp)));
}

OMBRIX_FN(code) {
    OMBRIX_TEXT(0, s);
    if (s.empty())
        OMBRIX_RETURN(err(ErrorCode::Value));
    unsigned char u = static_cast<unsigned char>(s[0]);
    char32_t cp = u;
    std::size_t n = u < 0x80 ? 1 : u < 0xE0 ? 2 : u < 0xF0 ? 3 : 4;
    if (n > 1) {
        cp = u & (0x3F >> (n - 1));
        for (std::size_t i = 1; i < n && i < s.size(); ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
    }
    if (cp < 128 || (cp >= 160 && cp < 256))
        OMBRIX_RETURN(Value::number(double(cp)));
    for (int i = 0; i < 32; ++i)
        if (cp1252_high[i] == cp)
            OMBRIX_RETURN(Value::number(128.0 + i));
    OMBRIX_RETURN(Value::number(cp < 160 ? double(cp) : 63)); // '?' for what the code page lacks
}

} // namespace

std::vector<Entry> text_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"LEN", 1, 1, L}, fn_len},
        {{"UPPER", 1, 1, L}, fn_upper},
        {{"LOWER", 1, 1, L}, fn_lower},
        {{"LEFT", 1, 2, L}, fn_left},
        {{"RIGHT", 1, 2, L}, fn_right},
        {{"MID", 3, 3, L}, fn_mid},
        {{"CONCATENATE", 1, -1, L}, fn_concatenate},
        {{"VALUE", 1, 1, L}, fn_value},
        {{"TRIM", 1, 1, L}, fn_trim},
        {{"CONCAT", 1, -1, 0}, fn_concat},
        {{"TEXTJOIN", 3, -1, 0}, fn_textjoin},
        {{"SUBSTITUTE", 3, 4, L}, fn_substitute},
        {{"REPLACE", 4, 4, L}, fn_replace},
        {{"FIND", 2, 3, L}, fn_find},
        {{"SEARCH", 2, 3, L}, fn_search},
        {{"REPT", 2, 2, L}, fn_rept},
        {{"EXACT", 2, 2, L}, fn_exact},
        {{"PROPER", 1, 1, L}, fn_proper},
        {{"CHAR", 1, 1, L}, fn_char},
        {{"CODE", 1, 1, L}, fn_code},
        // The byte counting variants: with a single-byte default language, the same.
        {{"LENB", 1, 1, L}, fn_len},
        {{"LEFTB", 1, 2, L}, fn_left},
        {{"RIGHTB", 1, 2, L}, fn_right},
        {{"MIDB", 3, 3, L}, fn_mid},
        {{"FINDB", 2, 3, L}, fn_find},
        {{"SEARCHB", 2, 3, L}, fn_search},
        {{"REPLACEB", 4, 4, L}, fn_replace},
    };
}

} // namespace host::engine::detail::fn
