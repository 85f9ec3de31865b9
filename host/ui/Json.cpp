#include "ui/Json.hpp"

#include "engine/Unicode.hpp"

#include <cmath>

namespace host::ui {

std::string json_string(std::string_view text) {
    static const char digits[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            std::size_t n = engine::utf8_sequence_length(text, i);
            if (n == 0) {
                out += "\xEF\xBF\xBD"; // U+FFFD REPLACEMENT CHARACTER
                ++i;
            } else {
                out.append(text, i, n);
                i += n;
            }
            continue;
        }
        ++i;
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += digits[c >> 4];
                out += digits[c & 15];
            } else {
                out += char(c);
            }
        }
    }
    return out + "\"";
}

std::string json_number(double x) {
    if (!std::isfinite(x))
        return "null";
    return engine::format_number(x);
}

std::string json_value(const engine::Value& value) {
    using engine::ValueType;
    switch (value.type()) {
    case ValueType::Number: return json_number(value.as_number());
    case ValueType::Text: return json_string(value.as_text());
    case ValueType::Boolean: return value.as_boolean() ? "true" : "false";
    case ValueType::Error: return std::string("{\"error\": ") + json_string(engine::error_text(value.as_error())) + "}";
    case ValueType::Empty: break;
    }
    return "0";
}

} // namespace host::ui
