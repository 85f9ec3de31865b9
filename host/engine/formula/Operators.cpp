// The scalar rules both evaluators share: coercions, comparison, and the operators applied
// to single values.

#include "engine/internal/Eval.hpp"

#include "engine/functions/dates/Calendar.hpp"
#include "engine/functions/format/NumberFormat.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace host::engine::detail {

namespace {

Value numeric(double x) { return Value::number(x); }

// Text taken for a date or a time where a number is wanted: it has a date's or a time's
// separator or a month's name. Digits with commas alone ("1,5") stay #VALUE!.
bool reads_as_date(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char ch) {
        return ch == '/' || ch == '-' || ch == ':' || std::isalpha(static_cast<unsigned char>(ch));
    });
}

bool has_currency_sign(std::string_view text) {
    return text.find('$') != std::string_view::npos || text.find("\xE2\x82\xAC") != std::string_view::npos;
}

} // namespace

bool to_number(const Value& v, double& out, ErrorCode& error, bool date1904) {
    switch (v.type()) {
    case ValueType::Empty: out = 0; return true;
    case ValueType::Number: out = v.as_number(); return true;
    case ValueType::Boolean: out = v.as_boolean() ? 1 : 0; return true;
    case ValueType::Text: {
        if (auto x = parse_number(v.as_text())) {
            out = *x;
            return true;
        }
        if (reads_as_date(v.as_text()) && fn::date_text_serial(v.as_text(), date1904, out))
            return true;
        // An amount with a currency sign reads as the number it shows ("€100", "$1,000", "($5)").
        if (has_currency_sign(v.as_text()) && fn::read_shown_number(v.as_text(), date1904, out))
            return true;
        error = ErrorCode::Value;
        return false;
    }
    case ValueType::Error: error = v.as_error(); return false;
    }
    return false;
}

bool to_boolean(const Value& v, bool& out, ErrorCode& error) {
    switch (v.type()) {
    case ValueType::Empty: out = false; return true;
    case ValueType::Number: out = v.as_number() != 0; return true;
    case ValueType::Boolean: out = v.as_boolean(); return true;
    case ValueType::Text:
        if (iequals(v.as_text(), "TRUE")) {
            out = true;
            return true;
        }
        if (iequals(v.as_text(), "FALSE")) {
            out = false;
            return true;
        }
        error = ErrorCode::Value;
        return false;
    case ValueType::Error: error = v.as_error(); return false;
    }
    return false;
}

std::string general_number(double x) {
    char buf[40];
    if (std::fabs(x) < 1e15 && x == std::trunc(x)) {
        std::snprintf(buf, sizeof buf, "%.0f", x);
    } else {
        std::snprintf(buf, sizeof buf, "%.15G", x);
        // Down to 1E-9 the spreadsheet writes small numbers out: 0.00001, not 1E-05.
        const char* e = std::strchr(buf, 'E');
        if (e && e[1] == '-' && std::atoi(e + 2) <= 9) {
            std::snprintf(buf, sizeof buf, "%.*f", 14 + std::atoi(e + 2), x);
            std::size_t end = std::strlen(buf);
            while (end > 0 && buf[end - 1] == '0')
                buf[--end] = '\0';
        }
    }
    std::string s(buf);
    return s == "-0" ? "0" : s;
}

std::string to_text(const Value& v) {
    switch (v.type()) {
    case ValueType::Empty: return std::string();
    case ValueType::Number: return general_number(v.as_number());
    case ValueType::Boolean: return v.as_boolean() ? "TRUE" : "FALSE";
    case ValueType::Text: return std::string(v.as_text());
    case ValueType::Error: return error_text(v.as_error());
    }
    return std::string();
}

int compare(const Value& a0, const Value& b0) {
    auto rank = [](const Value& v) {
        switch (v.type()) {
        case ValueType::Text: return 1;
        case ValueType::Boolean: return 2;
        default: return 0;
        }
    };
    const Value* a = &a0;
    const Value* b = &b0;
    static const Value zero = Value::number(0);
    static const Value empty_text = Value::text("");
    static const Value no = Value::boolean(false);
    auto stand_in = [&](const Value& other) -> const Value* {
        switch (other.type()) {
        case ValueType::Text: return &empty_text;
        case ValueType::Boolean: return &no;
        default: return &zero;
        }
    };
    if (a->is_empty())
        a = stand_in(*b);
    if (b->is_empty())
        b = stand_in(*a);
    int ra = rank(*a), rb = rank(*b);
    if (ra != rb)
        return ra < rb ? -1 : 1;
    switch (a->type()) {
    case ValueType::Text: {
        std::string_view x = a->as_text(), y = b->as_text();
        std::size_t n = std::min(x.size(), y.size());
        for (std::size_t i = 0; i < n; ++i) {
            const unsigned char bx = static_cast<unsigned char>(x[i]), by = static_cast<unsigned char>(y[i]);
            if (bx >= 0x80 || by >= 0x80) // letters beyond ASCII: from here by their collation
                return compare_ignoring_case(x.substr(i), y.substr(i));
            int cx = std::toupper(bx);
            int cy = std::toupper(by);
            if (cx != cy)
                return cx < cy ? -1 : 1;
        }
        return x.size() == y.size() ? 0 : x.size() < y.size() ? -1 : 1;
    }
    case ValueType::Boolean: return int(a->as_boolean()) - int(b->as_boolean());
    default: {
        double x = a->as_number(), y = b->as_number();
        if (approx_equal(x, y))
            return 0;
        return x < y ? -1 : 1;
    }
    }
}

Value apply_unary(Op op, const Value& a, bool date1904) {
    double x;
    ErrorCode e;
    if (op == Op::Plus)
        return a;
    if (!to_number(a, x, e, date1904))
        return Value::error(e);
    return numeric(op == Op::Neg ? -x : x / 100);
}

bool too_long_text(std::string_view text) {
    // Every character takes at least a byte: most texts are decided by their size alone.
    return text.size() > max_text_length && utf8_length(text) > max_text_length;
}

Value apply_binary(Op op, const Value& a, const Value& b, bool date1904) {
    switch (op) {
    case Op::Concat: {
        if (a.is_error())
            return a;
        if (b.is_error())
            return b;
        std::string joined = to_text(a);
        joined += to_text(b);
        return too_long_text(joined) ? Value::error(ErrorCode::Value) : Value::text(joined);
    }
    case Op::Eq:
    case Op::Ne:
    case Op::Lt:
    case Op::Le:
    case Op::Gt:
    case Op::Ge: {
        if (a.is_error())
            return a;
        if (b.is_error())
            return b;
        int c = compare(a, b);
        switch (op) {
        case Op::Eq: return Value::boolean(c == 0);
        case Op::Ne: return Value::boolean(c != 0);
        case Op::Lt: return Value::boolean(c < 0);
        case Op::Le: return Value::boolean(c <= 0);
        case Op::Gt: return Value::boolean(c > 0);
        default: return Value::boolean(c >= 0);
        }
    }
    default: break;
    }
    double x, y;
    ErrorCode e;
    if (!to_number(a, x, e, date1904) || !to_number(b, y, e, date1904))
        return Value::error(e);
    switch (op) {
    case Op::Add: return numeric(approx_add(x, y));
    case Op::Sub: return numeric(approx_sub(x, y));
    case Op::Mul: return numeric(x * y);
    case Op::Div:
        if (y == 0)
            return Value::error(ErrorCode::Div0);
        return numeric(x / y);
    case Op::Pow:
        if (x == 0 && y == 0)
            return Value::error(ErrorCode::Num);
        if (x == 0 && y < 0)
            return Value::error(ErrorCode::Div0);
        if (x < 0 && y != std::trunc(y))
            return Value::error(ErrorCode::Num);
        if (y == 2)
            return numeric(x * x); // exact, and the most common power by far
        return numeric(std::pow(x, y));
    default: return Value::error(ErrorCode::Value);
    }
}

} // namespace host::engine::detail
