#ifndef OMBRIX_TESTS_HOST_ENGINE_FIXTURE_HPP
#define OMBRIX_TESTS_HOST_ENGINE_FIXTURE_HPP

// What the engine tests share, and the reader of the formula tables of tests/host/*/formulas:
// tab-separated rows, '#' comments and blank lines skipped; values written as 3, "text" (a
// quote doubled inside), TRUE, FALSE, an error literal or `blank`.

#include "engine/Workbook.hpp"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace enginetest {

using host::engine::CellAddress;
using host::engine::ErrorCode;
using host::engine::Value;
using host::engine::Workbook;

inline Value N(double x) { return Value::number(x); }
inline Value T(const char* s) { return Value::text(s); }
inline Value E(ErrorCode e) { return Value::error(e); }

inline CellAddress at(const char* a1, int sheet = 0) {
    CellAddress c{sheet, 0, 0};
    host::engine::parse_a1(a1, c.row, c.col);
    return c;
}

inline std::string show(const Value& v) {
    switch (v.type()) {
    case host::engine::ValueType::Empty: return "blank";
    case host::engine::ValueType::Text: return "\"" + std::string(v.as_text()) + "\"";
    default: return v.to_string();
    }
}

// Same type; numbers equal within a relative tolerance.
inline ::testing::AssertionResult same(const Value& expected, const Value& actual, double tolerance = 1e-12) {
    if (expected.is_number() && actual.is_number()) {
        double a = expected.as_number(), b = actual.as_number();
        if (a == b || std::fabs(a - b) <= tolerance * std::max(std::fabs(a), std::fabs(b)))
            return ::testing::AssertionSuccess();
    } else if (expected == actual) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected " << show(expected) << ", got " << show(actual);
}

// A workbook with Sheet1; the value of a formula placed in Z100 of it; the number of formulas
// a recalculation evaluates.
class Engine : public ::testing::Test {
protected:
    void SetUp() override { wb.add_sheet("Sheet1"); }
    std::uint64_t recalculated() {
        std::uint64_t before = wb.evaluation_count();
        wb.recalculate();
        return wb.evaluation_count() - before;
    }
    Value eval(const std::string& formula, bool array = false) {
        wb.set_formula({0, 99, 25}, formula, array);
        wb.recalculate();
        return wb.value({0, 99, 25});
    }
    Workbook wb;
};

// The names of the files of `dir` ending in `ext`, sorted.
inline std::vector<std::string> files_in(const std::string& dir, const std::string& ext) {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string name = e->d_name;
                name.size() > ext.size() && name.compare(name.size() - ext.size(), ext.size(), ext) == 0)
                names.push_back(name);
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

struct Row {
    std::string where; // file:line, for messages
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
        Row row{path.substr(path.find_last_of('/') + 1) + ":" + std::to_string(line), {}};
        std::istringstream columns(text);
        for (std::string column; std::getline(columns, column, '\t');)
            row.columns.push_back(column);
        rows.push_back(row);
    }
    return rows;
}

inline Value parse_value(const std::string& s) {
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
                ++i; // a doubled quote
        }
        return Value::text(text);
    }
    char* end = nullptr;
    double x = std::strtod(s.c_str(), &end);
    if (s.empty() || *end != '\0')
        throw std::runtime_error("not a value: " + s);
    return Value::number(x);
}

// A cell's content as the tables write it: a value, `=FORMULA`, or `{=FORMULA}` (a legacy
// array formula of the one cell).
inline void put(Workbook& wb, const CellAddress& cell, const std::string& content) {
    if (content.size() > 3 && content.compare(0, 2, "{=") == 0 && content.back() == '}')
        wb.set_array_formula(cell, content.substr(2, content.size() - 3), 1, 1); // a legacy array formula
    else if (!content.empty() && content[0] == '=')
        wb.set_formula(cell, content);
    else
        wb.set_value(cell, parse_value(content));
}

} // namespace enginetest

#endif
