#ifndef OMBRIX_TESTS_FLATJSON_HPP
#define OMBRIX_TESTS_FLATJSON_HPP

// Reads the flat JSON objects that the corpus and `ombrix calc --json` use: keys mapped to
// numbers, strings, true/false, or {"error": "#DIV/0!"}. Throws std::runtime_error.

#include "engine/Value.hpp"

#include <algorithm>
#include <cstdlib>
#include <map>
#include <ostream>
#include <stdexcept>
#include <string>

namespace host::engine {
// Failures show the value, not its bytes.
inline void PrintTo(const Value& v, std::ostream* os) {
    static const char* const types[] = {"empty", "number", "text", "boolean", "error"};
    *os << types[int(v.type())] << " " << v.to_string();
}
} // namespace host::engine

namespace testing_json {

inline std::map<std::string, host::engine::Value> parse_object(const std::string& s) {
    using host::engine::Value;
    std::size_t i = 0;
    auto fail = [&](const std::string& why) { return std::runtime_error("JSON at " + std::to_string(i) + ": " + why); };
    auto peek = [&] {
        i = std::min(s.find_first_not_of(" \t\r\n", i), s.size());
        return i < s.size() ? s[i] : '\0';
    };
    auto expect = [&](char c) {
        if (peek() != c)
            throw fail(std::string("expected ") + c);
        ++i;
    };
    auto string = [&] { // the texts these files hold need no escapes
        expect('"');
        std::size_t end = s.find('"', i);
        if (end == std::string::npos || s.find('\\', i) < end)
            throw fail("expected a string without escapes");
        std::string text = s.substr(i, end - i);
        i = end + 1;
        return text;
    };
    std::map<std::string, Value> out;
    expect('{');
    while (peek() != '}') {
        if (!out.empty())
            expect(',');
        std::string key = string();
        expect(':');
        char c = peek();
        if (c == '"') {
            out[key] = Value::text(string());
        } else if (c == '{') {
            ++i;
            if (string() != "error")
                throw fail("expected \"error\"");
            expect(':');
            auto code = host::engine::parse_error(string());
            if (!code)
                throw fail("unknown error");
            out[key] = Value::error(*code);
            expect('}');
        } else if (s.compare(i, 4, "true") == 0 || s.compare(i, 5, "false") == 0) {
            out[key] = Value::boolean(c == 't');
            i += c == 't' ? 4 : 5;
        } else {
            char* end = nullptr;
            double x = std::strtod(s.c_str() + i, &end);
            if (end == s.c_str() + i)
                throw fail("expected a value");
            i = std::size_t(end - s.c_str());
            out[key] = Value::number(x);
        }
    }
    return out;
}

} // namespace testing_json

#endif
