#ifndef OMBRIX_TESTS_HOST_ENGINE_FIXTURE_HPP
#define OMBRIX_TESTS_HOST_ENGINE_FIXTURE_HPP

#include "engine/Workbook.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace enginetest {

using host::engine::CellAddress;
using host::engine::ErrorCode;
using host::engine::Value;
using host::engine::Workbook;

inline Value N(double x) { return Value::number(x); }
inline Value T(const char* s) { return Value::text(s); }
inline Value B(bool b) { return Value::boolean(b); }
inline Value E(ErrorCode e) { return Value::error(e); }

inline std::string show(const Value& v) {
    switch (v.type()) {
    case host::engine::ValueType::Empty: return "<empty>";
    case host::engine::ValueType::Text: return "\"" + std::string(v.as_text()) + "\"";
    default: return v.to_string();
    }
}

// Same type; numbers equal to 12 significant digits.
inline ::testing::AssertionResult same(const Value& expected, const Value& actual) {
    if (expected.is_number() && actual.is_number()) {
        double a = expected.as_number(), b = actual.as_number();
        if (std::fabs(a - b) <= 1e-12 * std::max(1.0, std::fabs(a)))
            return ::testing::AssertionSuccess();
    } else if (expected == actual) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "expected " << show(expected) << ", got " << show(actual);
}

// A small model shared by the formula tests. Sheet1:
//   A1..A7: 1, 2, 3, "4", TRUE, (empty), "abc"      B1..B4: 10, 20, 30, 40
//   C1: #DIV/0!                                     D1..D3: "apple", "banana", "cherry"
//   E1..E3: 1, 2, 3                                 F1..F5: 10, 20, 30, 40, 50
// 'My Sheet'!A1: 100
class Model : public ::testing::Test {
protected:
    void SetUp() override {
        wb.add_sheet("Sheet1");
        wb.add_sheet("My Sheet");
        put("A1", N(1));
        put("A2", N(2));
        put("A3", N(3));
        put("A4", T("4"));
        put("A5", B(true));
        put("A7", T("abc"));
        for (int i = 0; i < 4; ++i)
            wb.set_value({0, i, 1}, N(10.0 * (i + 1)));
        put("C1", E(ErrorCode::Div0));
        put("D1", T("apple"));
        put("D2", T("banana"));
        put("D3", T("cherry"));
        for (int i = 0; i < 3; ++i)
            wb.set_value({0, i, 4}, N(i + 1));
        for (int i = 0; i < 5; ++i)
            wb.set_value({0, i, 5}, N(10.0 * (i + 1)));
        wb.set_value({1, 0, 0}, N(100));
    }

    void put(const char* a1, const Value& v, int sheet = 0) {
        std::int32_t r, c;
        ASSERT_TRUE(host::engine::parse_a1(a1, r, c));
        wb.set_value({sheet, r, c}, v);
    }

    // The value of `formula` placed in Z100 of Sheet1.
    Value eval(const std::string& formula, bool array = false) {
        wb.set_formula({0, 99, 25}, formula, array);
        wb.recalculate();
        return wb.value({0, 99, 25});
    }

    Workbook wb;
};

} // namespace enginetest

#endif
