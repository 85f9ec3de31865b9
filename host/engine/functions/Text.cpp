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
    };
}

} // namespace host::engine::detail::fn
