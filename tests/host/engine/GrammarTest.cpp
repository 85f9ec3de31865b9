#include "Fixture.hpp"

#include <vector>

namespace enginetest {
namespace {

using host::engine::FormulaError;
using host::engine::move_formula;

using Grammar = Engine;

// Array context in a cell's own formula (the rest is in formulas/grammar.tsv).
TEST_F(Grammar, ImplicitIntersectionAndArrayFormulas) {
    for (int i = 0; i < 4; ++i)
        wb.set_value({0, i, 1}, N(10.0 * (i + 1)));
    wb.set_formula({0, 2, 6}, "B1:B4*2"); // G3 intersects row 3
    wb.recalculate();
    EXPECT_TRUE(same(N(60), wb.value({0, 2, 6})));
    EXPECT_TRUE(same(N(200), eval("SUM(B1:B4*2)", true)));
    EXPECT_TRUE(same(N(20), eval("B1:B4*2", true))); // top-left of the result
}

TEST_F(Grammar, BadFormulasThrowWithPosition) {
    struct Bad {
        const char* text;
        std::size_t position;
    };
    // Argument counts are checked when parsing too.
    std::vector<Bad> bad = {
        {"1+*2", 2},         {"=1+", 3},          {"(1", 2},
        {"1)", 1},           {"\"abc", 0},        {"", 0},
        {"SUM(1", 5},        {"'Sheet1!A1", 0},   {"A1:", 3},
        {"#FOO", 0},         {"{1,2;3}", 0},      {"ROUND(1)", 0},
        {"IF(1)", 0},        {"PI(1)", 0},        {"1 2", 2},
        {"$A", 0},           {"SQRT()", 0},       {"SQRT(1,2)", 0},
        {"ROUND(1,2,3)", 0}, {"MID(\"a\",1)", 0}, {"VLOOKUP(1,A1:B2)", 0},
        {"NA(1)", 0},        {"1+1e999", 2},
    };
    for (const Bad& b : bad) {
        SCOPED_TRACE(b.text);
        try {
            wb.set_formula({0, 0, 10}, b.text);
            ADD_FAILURE() << "parsed";
        } catch (const FormulaError& e) {
            EXPECT_EQ(b.position, e.position());
            EXPECT_NE(std::string(e.what()).find("Cannot read the formula"), std::string::npos);
        }
    }
    // The failed formula left the cell as it was.
    EXPECT_FALSE(wb.is_formula({0, 0, 10}));
}

TEST_F(Grammar, NestingIsLimited) {
    std::string ok = std::string(200, '(') + "1" + std::string(200, ')');
    EXPECT_TRUE(same(N(1), eval(ok)));
    std::string deep = std::string(300, '(') + "1" + std::string(300, ')');
    EXPECT_THROW(eval(deep), FormulaError);
    EXPECT_THROW(eval(std::string(300, '-') + "1"), FormulaError);
    // Long flat chains are not nesting: they parse and evaluate without recursion.
    std::string chain = "0";
    for (int i = 0; i < 5000; ++i)
        chain += "+1";
    EXPECT_TRUE(same(N(5000), eval(chain)));
}

TEST(MoveFormula, MovesRelativePartsOnly) {
    struct M {
        const char* in;
        int rows, cols;
        const char* out;
    };
    std::vector<M> cases = {
        {"A1+$B2+C$3+$D$4", 1, 1, "B2+$B3+D$3+$D$4"},
        {"=SUM(A1:B2)", 2, 0, "=SUM(A3:B4)"},
        {"'My Sheet'!A1*Sheet1!$A1", 0, 2, "'My Sheet'!C1*Sheet1!$A1"},
        {"SUM(A:A)+SUM(1:2)", 3, 1, "SUM(B:B)+SUM(4:5)"},
        {"SUM($A:A)", 0, 1, "SUM($A:B)"},
        {"SUM(2:$1)+SUM($3:4)", 3, 0, "SUM($1:5)+SUM($3:7)"},
        {"A2-1", -1, 0, "A1-1"},
        {"A1+1", -1, 0, "#REF!+1"},
        {"SUM(A1:B2)", 0, -1, "SUM(#REF!)"},
        {"XFD1", 0, 1, "#REF!"},
        {"\"A1\"&A1&name1", 1, 0, "\"A1\"&A2&name1"},
        {"LOG10(A1)", 1, 0, "LOG10(A2)"},
        {"SUM(A1#)+B2#", 0, -1, "SUM(#REF!)+A2#"},
        {"SUM(A1:.C3)+name1:.C3", 0, -2, "SUM(#REF!)+name1:.A3"},
        {"name1:.B3", 0, -2, "name1:.#REF!"},
        // Absolute references only: the same text wherever it moves, as it reads back.
        {"=($B$1-3)^2+SIN($E$1*2)*0.4", 7, 3, "=($B$1-3)^2+SIN($E$1*2)*0.4"},
        {"$a$1+sum($b$2:$c$3)", 2, 2, "$A$1+sum($B$2:$C$3)"},
        {"SUM($A:$B)+SUM($1:$2)", 4, -1, "SUM($A:$B)+SUM($1:$2)"},
        {"$XFD$1048576+1", 5, 5, "$XFD$1048576+1"},
        {"SUM($A$1:B2)", 1, 1, "SUM($A$1:C3)"},
    };
    for (const M& m : cases) {
        SCOPED_TRACE(m.in);
        EXPECT_EQ(m.out, move_formula(m.in, m.rows, m.cols));
    }
    EXPECT_THROW(move_formula("1+", 1, 1), FormulaError);
}

} // namespace
} // namespace enginetest
