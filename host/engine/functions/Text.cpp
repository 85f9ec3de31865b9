// Text functions.

#include "engine/functions/Common.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace host::engine::detail::fn {

namespace {

FN(len) { TEXT(0, s); RET(Value::number(double(utf8_length(s)))); }
FN(upper) {
    TEXT(0, s);
    for (char& ch : s)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    RET(Value::text(s));
}
FN(lower) {
    TEXT(0, s);
    for (char& ch : s)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    RET(Value::text(s));
}
FN(left) {
    TEXT(0, s);
    NUMD(1, n, 1);
    if (n < 0)
        RET(err(ErrorCode::Value));
    double k = std::min(std::trunc(n), 1e9);
    RET(Value::text(s.substr(0, utf8_offset(s, static_cast<std::size_t>(k)))));
}
FN(right) {
    TEXT(0, s);
    NUMD(1, n, 1);
    if (n < 0)
        RET(err(ErrorCode::Value));
    double k = std::min(std::trunc(n), 1e9);
    std::size_t len = utf8_length(s), kk = static_cast<std::size_t>(k);
    RET(Value::text(kk >= len ? s : s.substr(utf8_offset(s, len - kk))));
}
FN(mid) {
    TEXT(0, s);
    NUM(1, start);
    NUM(2, n);
    if (start < 1 || n < 0)
        RET(err(ErrorCode::Value));
    std::size_t b = utf8_offset(s, static_cast<std::size_t>(std::min(std::trunc(start), 1e9)) - 1);
    std::size_t k = static_cast<std::size_t>(std::min(std::trunc(n), 1e9));
    std::string rest = s.substr(b);
    RET(Value::text(rest.substr(0, utf8_offset(rest, k))));
}
FN(concatenate) {
    std::string s;
    for (int i = 0; i < c.argc; ++i) {
        TEXT(i, part);
        s += part;
    }
    RET(Value::text(s));
}
FN(value) {
    Value v = c.arg(0);
    switch (v.type()) {
    case ValueType::Error: RET(v);
    case ValueType::Number: RET(v);
    case ValueType::Empty: RET(Value::number(0));
    case ValueType::Text:
        if (auto x = parse_number(v.as_text()))
            RET(Value::number(*x));
        RET(err(ErrorCode::Value));
    default: RET(err(ErrorCode::Value));
    }
}
FN(trim) {
    TEXT(0, s);
    std::string r;
    for (char ch : s) {
        if (ch == ' ' && (r.empty() || r.back() == ' '))
            continue;
        r += ch;
    }
    if (!r.empty() && r.back() == ' ')
        r.pop_back();
    RET(Value::text(r));
}

// The longest text a cell holds.
constexpr std::size_t max_text = 32767;

Value text_result(std::string s) {
    if (utf8_length(s) > max_text)
        return err(ErrorCode::Value);
    return Value::text(s);
}

FN(concat) {
    std::string s;
    Value e;
    each_value(c, 0, c.argc, [&](const Value& v, bool, bool) {
        if (v.is_error() && !e.is_error())
            e = v;
        else if (s.size() <= 4 * max_text)
            s += to_text(v);
    });
    if (e.is_error())
        RET(e);
    RET(text_result(std::move(s)));
}

FN(textjoin) {
    std::vector<std::string> delimiters;
    Value e;
    each_value(c, 0, 1, [&](const Value& v, bool, bool) {
        if (v.is_error() && !e.is_error())
            e = v;
        delimiters.push_back(to_text(v));
    });
    if (e.is_error())
        RET(e);
    bool skip_empty;
    ErrorCode code;
    if (!to_boolean(c.arg(1), skip_empty, code))
        RET(err(code));
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
        if (joined++ > 0 && !delimiters.empty())
            s += delimiters[(joined - 2) % delimiters.size()];
        if (s.size() <= 4 * max_text)
            s += part;
    });
    if (e.is_error())
        RET(e);
    RET(text_result(std::move(s)));
}

FN(substitute) {
    TEXT(0, s);
    TEXT(1, from);
    TEXT(2, to);
    double which = 0;
    if (!c.missing(3)) {
        if (!num(c, 3, which, out.v))
            return;
        if (which < 1)
            RET(err(ErrorCode::Value));
    }
    if (from.empty())
        RET(Value::text(s));
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
            RET(err(ErrorCode::Value));
    }
    r.append(s, at, std::string::npos);
    RET(text_result(std::move(r)));
}

FN(replace) {
    TEXT(0, s);
    NUM(1, start);
    NUM(2, n);
    TEXT(3, with);
    if (start < 1 || n < 0)
        RET(err(ErrorCode::Value));
    std::size_t b = utf8_offset(s, std::size_t(std::min(std::trunc(start), 1e9)) - 1);
    std::size_t e = b + utf8_offset(std::string_view(s).substr(b), std::size_t(std::min(std::trunc(n), 1e9)));
    RET(text_result(s.substr(0, b) + with + s.substr(e)));
}

// FIND and SEARCH: the 1-based position of `needle` in `hay` from character `start`.
void find_text(Ctx& c, Item& out, bool search) {
    TEXT(0, needle);
    TEXT(1, hay);
    NUMD(2, start, 1);
    std::size_t len = utf8_length(hay);
    if (start < 1 || std::trunc(start) > double(len) + (needle.empty() ? 1 : 0))
        RET(err(ErrorCode::Value));
    std::size_t k = std::size_t(std::trunc(start)) - 1;
    if (needle.empty())
        RET(Value::number(double(k + 1)));
    std::string pattern = needle + "*";
    for (std::size_t at = utf8_offset(hay, k); at < hay.size(); ++at) {
        if ((static_cast<unsigned char>(hay[at]) & 0xC0) == 0x80)
            continue;   // inside a character
        std::string_view rest = std::string_view(hay).substr(at);
        if (search ? wildcard_match(pattern, rest) : rest.compare(0, needle.size(), needle) == 0)
            RET(Value::number(double(k + 1)));
        ++k;
    }
    RET(err(ErrorCode::Value));
}
FN(find) { find_text(c, out, false); }
FN(search) { find_text(c, out, true); }

FN(rept) {
    TEXT(0, s);
    NUM(1, n);
    if (n < 0)
        RET(err(ErrorCode::Value));
    double total = std::trunc(n) * double(utf8_length(s));
    if (total > double(max_text))
        RET(err(ErrorCode::Value));
    std::string r;
    for (long i = 0; i < long(std::trunc(n)) && !s.empty(); ++i)
        r += s;
    RET(Value::text(r));
}

FN(exact) {
    TEXT(0, a);
    TEXT(1, b);
    RET(Value::boolean(a == b));
}

FN(proper) {
    TEXT(0, s);
    bool after_letter = false;
    for (char& ch : s) {
        unsigned char u = static_cast<unsigned char>(ch);
        if (std::isalpha(u))
            ch = char(after_letter ? std::tolower(u) : std::toupper(u));
        after_letter = std::isalpha(u) || u >= 0x80;
    }
    RET(Value::text(s));
}

// The characters 128-159 of the Windows Latin code page the spreadsheet's CHAR and CODE use
// (0 where it has none); the others are the same as in Unicode.
const char32_t cp1252_high[32] = {0x20AC, 0, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0, 0x017D, 0,
                                  0, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0, 0x017E, 0x0178};

std::string utf8_of(char32_t cp) {
    std::string s;
    append_utf8(s, cp);
    return s;
}

FN(char) {
    NUM(0, n);
    n = std::trunc(n);
    if (n < 1 || n > 255)
        RET(err(ErrorCode::Value));
    char32_t cp = char32_t(n);
    if (cp >= 128 && cp < 160)
        cp = cp1252_high[cp - 128] ? cp1252_high[cp - 128] : cp;
    RET(Value::text(utf8_of(cp)));
}

FN(code) {
    TEXT(0, s);
    if (s.empty())
        RET(err(ErrorCode::Value));
    unsigned char u = static_cast<unsigned char>(s[0]);
    char32_t cp = u;
    std::size_t n = u < 0x80 ? 1 : u < 0xE0 ? 2 : u < 0xF0 ? 3 : 4;
    if (n > 1) {
        cp = u & (0x3F >> (n - 1));
        for (std::size_t i = 1; i < n && i < s.size(); ++i)
            cp = (cp << 6) | (static_cast<unsigned char>(s[i]) & 0x3F);
    }
    if (cp < 128 || (cp >= 160 && cp < 256))
        RET(Value::number(double(cp)));
    for (int i = 0; i < 32; ++i)
        if (cp1252_high[i] == cp)
            RET(Value::number(128.0 + i));
    RET(Value::number(cp < 160 ? double(cp) : 63));   // '?' for what the code page lacks
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
    };
}

} // namespace host::engine::detail::fn
