#ifndef OMBRIX_TESTS_FLATJSON_HPP
#define OMBRIX_TESTS_FLATJSON_HPP

// Reads the flat JSON objects that the corpus and `ombrix calc --json` use: keys mapped to
// numbers, strings, true/false, or {"error": "#DIV/0!"}. Throws std::runtime_error.

#include "engine/Value.hpp"

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

class Reader {
public:
    explicit Reader(const std::string& text) : s_(text) {}

    std::map<std::string, host::engine::Value> object() {
        std::map<std::string, host::engine::Value> out;
        expect('{');
        if (peek() == '}') {
            ++i_;
            return out;
        }
        for (;;) {
            std::string key = string();
            expect(':');
            out[key] = value();
            char c = next();
            if (c == '}') break;
            if (c != ',') fail("expected , or }");
        }
        return out;
    }

private:
    host::engine::Value value() {
        char c = peek();
        if (c == '"') return host::engine::Value::text(string());
        if (c == '{') {
            ++i_;
            std::string key = string();
            if (key != "error") fail("expected \"error\"");
            expect(':');
            std::string text = string();
            expect('}');
            auto code = host::engine::parse_error(text);
            if (!code) fail("unknown error " + text);
            return host::engine::Value::error(*code);
        }
        if (s_.compare(i_, 4, "true") == 0) {
            i_ += 4;
            return host::engine::Value::boolean(true);
        }
        if (s_.compare(i_, 5, "false") == 0) {
            i_ += 5;
            return host::engine::Value::boolean(false);
        }
        const char* start = s_.c_str() + i_;
        char* end = nullptr;
        double x = std::strtod(start, &end);
        if (end == start) fail("expected a value");
        i_ += std::size_t(end - start);
        return host::engine::Value::number(x);
    }

    std::string string() {
        expect('"');
        std::string out;
        while (i_ < s_.size() && s_[i_] != '"') {
            char c = s_[i_++];
            if (c != '\\') {
                out += c;
                continue;
            }
            if (i_ >= s_.size()) fail("bad escape");
            char e = s_[i_++];
            switch (e) {
            case 'n': out += '\n'; break;
            case 't': out += '\t'; break;
            case 'r': out += '\r'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {  // control characters only: `ombrix calc` writes other text as UTF-8
                unsigned code = unsigned(std::stoul(s_.substr(i_, 4), nullptr, 16));
                i_ += 4;
                if (code >= 0x80) fail("unexpected \\u escape above 0x7f");
                out += char(code);
                break;
            }
            default: out += e;
            }
        }
        expect('"');
        return out;
    }

    void skip() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\n' || s_[i_] == '\r' || s_[i_] == '\t'))
            ++i_;
    }
    char peek() {
        skip();
        return i_ < s_.size() ? s_[i_] : '\0';
    }
    char next() {
        char c = peek();
        ++i_;
        return c;
    }
    void expect(char c) {
        if (next() != c) fail(std::string("expected ") + c);
    }
    [[noreturn]] void fail(const std::string& why) {
        throw std::runtime_error("JSON at " + std::to_string(i_) + ": " + why);
    }

    const std::string& s_;
    std::size_t i_ = 0;
};

inline std::map<std::string, host::engine::Value> parse_object(const std::string& text) {
    return Reader(text).object();
}

} // namespace testing_json

#endif
