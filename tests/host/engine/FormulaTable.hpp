#ifndef OMBRIX_TESTS_HOST_ENGINE_FORMULA_TABLE_HPP
#define OMBRIX_TESTS_HOST_ENGINE_FORMULA_TABLE_HPP

// The formula tables of tests/host/*/formulas: tab-separated rows, '#' comments and blank
// lines skipped; values written as 3, "text" (a quote doubled inside), TRUE, FALSE, an error
// literal or `blank`.

#include "engine/Value.hpp"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace formulatable {

struct Row {
    std::string file;   // the file's name, for messages
    int line = 0;
    std::vector<std::string> columns;
};

inline std::vector<Row> read_rows(const std::string& path) {
    std::ifstream in(path);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    std::vector<Row> rows;
    std::string text;
    for (int line = 1; std::getline(in, text); ++line) {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (text.find_first_not_of(" \t") == std::string::npos || text[0] == '#')
            continue;
        Row row{path.substr(path.find_last_of('/') + 1), line, {}};
        std::istringstream columns(text);
        for (std::string column; std::getline(columns, column, '\t');)
            row.columns.push_back(column);
        rows.push_back(row);
    }
    return rows;
}

inline host::engine::Value parse_value(const std::string& s) {
    using host::engine::Value;
    if (s == "blank")
        return Value();
    if (s == "TRUE" || s == "FALSE")
        return Value::boolean(s == "TRUE");
    if (auto error = host::engine::parse_error(s))
        return Value::error(*error);
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') {
        std::string text;
        for (std::size_t i = 1; i + 1 < s.size(); ++i) {
            text += s[i];
            if (s[i] == '"')
                ++i;   // a doubled quote
        }
        return Value::text(text);
    }
    char* end = nullptr;
    double x = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0')
        throw std::runtime_error("not a value: " + s);
    return Value::number(x);
}

// What a value looks like in a message.
inline std::string show(const host::engine::Value& v) {
    switch (v.type()) {
    case host::engine::ValueType::Empty: return "blank";
    case host::engine::ValueType::Text: return "\"" + std::string(v.as_text()) + "\"";
    default: return v.to_string();
    }
}

} // namespace formulatable

#endif
