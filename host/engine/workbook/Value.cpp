#include "engine/Value.hpp"
#include "engine/internal/Program.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace host::engine {

namespace {

const char* const error_texts[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!",  "#NAME?",
                                   "#NUM!",  "#N/A",    "#SPILL!", "#CALC!", "#GETTING_DATA"};

} // namespace

const char* error_text(ErrorCode code) { return error_texts[static_cast<int>(code)]; }

std::optional<ErrorCode> parse_error(std::string_view text) {
    for (int i = 0; i < int(std::size(error_texts)); ++i)
        if (iequals(text, error_texts[i]))
            return static_cast<ErrorCode>(i);
    return std::nullopt;
}

void Value::release() noexcept {
    if (type_ == ValueType::Text && --text_->refs == 0)
        delete text_;
    type_ = ValueType::Empty;
}

Value Value::text(std::string_view s) {
    Value v;
    v.text_ = new Text{1, std::string(s)};
    v.type_ = ValueType::Text;
    return v;
}

Value Value::boolean(bool b) noexcept {
    Value v;
    v.type_ = ValueType::Boolean;
    v.boolean_ = b;
    return v;
}

Value Value::error(ErrorCode code) noexcept {
    Value v;
    v.type_ = ValueType::Error;
    v.error_ = code;
    return v;
}

std::string_view Value::as_text() const noexcept {
    return type_ == ValueType::Text ? std::string_view(text_->s) : std::string_view();
}

std::string Value::to_string() const {
    switch (type_) {
    case ValueType::Empty: return std::string();
    case ValueType::Number: return format_number(number_);
    case ValueType::Text: return text_->s;
    case ValueType::Boolean: return boolean_ ? "TRUE" : "FALSE";
    case ValueType::Error: return error_text(error_);
    }
    return std::string();
}

bool Value::operator==(const Value& other) const noexcept {
    if (type_ != other.type_)
        return false;
    switch (type_) {
    case ValueType::Empty: return true;
    case ValueType::Number: return number_ == other.number_;
    case ValueType::Text: return text_->s == other.text_->s;
    case ValueType::Boolean: return boolean_ == other.boolean_;
    case ValueType::Error: return error_ == other.error_;
    }
    return false;
}

std::string format_number(double x) {
    if (!std::isfinite(x))
        return "#NUM!";
    if (x == 0)
        return "0";
    char buf[40];
    // Integers below 2^53 read best without exponent.
    if (std::fabs(x) < 1e15 && x == std::trunc(x)) {
        std::snprintf(buf, sizeof buf, "%.0f", x);
        return buf;
    }
    // The fewest significant digits that read back the same, in %g style.
    auto end = std::to_chars(buf, buf + sizeof buf, x, std::chars_format::general).ptr;
    return std::string(buf, end);
}

std::optional<double> parse_number(std::string_view text) {
    std::size_t i = 0, n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    while (n > i && text[n - 1] == ' ')
        --n;
    bool percent = false;
    if (n > i && text[n - 1] == '%') {
        percent = true;
        --n;
        while (n > i && text[n - 1] == ' ')
            --n;
    }
    std::string s;
    std::size_t j = i;
    if (j < n && (text[j] == '+' || text[j] == '-'))
        s += text[j++];
    std::size_t digits = 0;
    while (j < n && std::isdigit(static_cast<unsigned char>(text[j])))
        s += text[j++], ++digits;
    if (j < n && text[j] == '.') {
        s += text[j++];
        while (j < n && std::isdigit(static_cast<unsigned char>(text[j])))
            s += text[j++], ++digits;
    }
    if (digits == 0)
        return std::nullopt;
    if (j < n && (text[j] == 'e' || text[j] == 'E')) {
        s += 'e';
        ++j;
        if (j < n && (text[j] == '+' || text[j] == '-'))
            s += text[j++];
        std::size_t exp_digits = 0;
        while (j < n && std::isdigit(static_cast<unsigned char>(text[j])))
            s += text[j++], ++exp_digits;
        if (exp_digits == 0)
            return std::nullopt;
    }
    if (j != n)
        return std::nullopt;
    double x = std::strtod(s.c_str(), nullptr);
    if (percent)
        x /= 100;
    if (!std::isfinite(x))
        return std::nullopt;
    return x;
}

} // namespace host::engine
