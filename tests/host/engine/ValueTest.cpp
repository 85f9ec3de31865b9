#include "Fixture.hpp"

#include <cstdlib>
#include <limits>
#include <random>

namespace enginetest {
namespace {

using host::engine::error_text;
using host::engine::format_number;
using host::engine::parse_error;
using host::engine::parse_number;

TEST(Values, ErrorTextsReadBack) {
    const char* texts[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"};
    for (int i = 0; i < 7; ++i) {
        auto code = static_cast<ErrorCode>(i);
        EXPECT_STREQ(texts[i], error_text(code));
        ASSERT_TRUE(parse_error(texts[i]).has_value());
        EXPECT_EQ(code, *parse_error(texts[i]));
    }
    EXPECT_EQ(ErrorCode::NA, *parse_error("#n/a"));
    EXPECT_FALSE(parse_error("#N/A!").has_value());
    EXPECT_FALSE(parse_error("").has_value());
}

TEST(Values, CopiesShareTextAndStayIndependent) {
    Value a = Value::text("hello");
    Value b = a;
    Value c;
    c = b;
    a = Value::number(1);
    EXPECT_EQ("hello", b.as_text());
    EXPECT_EQ("hello", c.as_text());
    Value d = std::move(c);
    EXPECT_TRUE(c.is_empty());
    EXPECT_EQ("hello", d.as_text());
    const Value& self = d;
    d = self;
    EXPECT_EQ("hello", d.as_text());
    EXPECT_NE(Value::text("a"), Value::text("A"));
    EXPECT_NE(Value::number(1), Value::boolean(true));
    EXPECT_EQ(Value::error(ErrorCode::Num), Value::number(std::numeric_limits<double>::infinity()));
    EXPECT_EQ(Value::error(ErrorCode::Num), Value::number(std::nan("")));
}

TEST(Values, FormatNumberIsShortestRoundTrip) {
    for (auto [x, text] : {std::pair<double, const char*>{0.0, "0"},
                           {-0.0, "0"},
                           {0.1, "0.1"},
                           {-2.5, "-2.5"},
                           {123456789012.0, "123456789012"},
                           {0.1 + 0.2, "0.30000000000000004"},
                           {1e300, "1e+300"}})
        EXPECT_EQ(text, format_number(x));
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> exponent(-300, 300);
    for (int i = 0; i < 2000; ++i) {
        double x = std::ldexp(static_cast<double>(rng() >> 11), -53) * std::pow(10.0, exponent(rng));
        if (i % 2)
            x = -x;
        std::string s = format_number(x);
        EXPECT_EQ(x, std::strtod(s.c_str(), nullptr)) << s;
        EXPECT_LE(s.size(), 24u);
    }
}

TEST(Values, ParseNumberAcceptsWhatTheSpreadsheetCoerces) {
    struct P {
        const char* text;
        double value;
    };
    for (P p : {P{"3", 3}, P{" 3 ", 3}, P{"-1.5", -1.5}, P{"+2", 2}, P{".5", 0.5}, P{"1e3", 1000}, P{"2E-2", 0.02},
                P{"50%", 0.5}, P{"5.", 5}}) {
        SCOPED_TRACE(p.text);
        auto x = parse_number(p.text);
        ASSERT_TRUE(x.has_value());
        EXPECT_DOUBLE_EQ(p.value, *x);
    }
    for (const char* bad : {"", " ", "abc", "TRUE", "1,2", "1e", "--1", "1 2", "%", "1e999", "0x10", "inf", "nan"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(parse_number(bad).has_value());
    }
}

TEST(Addresses, A1NamesRoundTripAndLimits) {
    std::int32_t r, c;
    for (auto [col, name] : {std::pair<std::int32_t, const char*>{0, "A"},
                             {25, "Z"},
                             {26, "AA"},
                             {255, "IV"},
                             {701, "ZZ"},
                             {702, "AAA"},
                             {16383, "XFD"}}) {
        EXPECT_EQ(name, host::engine::column_name(col));
        ASSERT_TRUE(host::engine::parse_a1(host::engine::a1_name(41, col), r, c));
        EXPECT_EQ(std::make_pair(41, col), std::make_pair(r, c));
    }
    ASSERT_TRUE(host::engine::parse_a1("$b$3", r, c));
    EXPECT_EQ(std::make_pair(2, 1), std::make_pair(r, c));
    for (const char* bad : {"A0", "XFE1", "A1048577", "1A", "A", "A1B", ""})
        EXPECT_FALSE(host::engine::parse_a1(bad, r, c)) << bad;
}

} // namespace
} // namespace enginetest
