#include "Fixture.hpp"

#include <vector>

namespace enginetest {
namespace {

using host::engine::FormulaError;
using host::engine::move_formula;

using Grammar = Model;

TEST_F(Grammar, OperatorPrecedenceFollowsTheSpreadsheet) {
    std::vector<Case> cases = {
        {"-2^2", N(4)},          // negation binds tighter than ^
        {"2^3^2", N(64)},        // ^ is left-associative
        {"=2+3*4", N(14)},
        {"(2+3)*4", N(20)},
        {"10%", N(0.1)},
        {"50%*4", N(2)},
        {"2^200%", N(4)},        // percent before ^
        {"-A1", N(-1)},
        {"--A2", N(2)},
        {"+A3", N(3)},
        {"1+2&3", T("33")},      // & below +
        {"1&2=\"12\"", B(true)}, // comparison below &
        {"2*3>5", B(true)},
        {"10/4", N(2.5)},
        {"1-2-3", N(-4)},
        {"12/2/3", N(2)},
        {"1E3+1.5e-1", N(1000.15)},
        {".5*2", N(1)},
        {"  1 +\t2 ", N(3)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.formula);
        EXPECT_TRUE(same(c.expected, eval(c.formula)));
    }
}

TEST_F(Grammar, LiteralsAndReferences) {
    std::vector<Case> cases = {
        {"\"say \"\"hi\"\"\"", T("say \"hi\"")},
        {"TRUE", B(true)},
        {"false", B(false)},
        {"#N/A", E(ErrorCode::NA)},
        {"#div/0!", E(ErrorCode::Div0)},
        {"$A$1+A$2+$A3", N(6)},
        {"a1", N(1)},
        {"'My Sheet'!A1", N(100)},
        {"'my sheet'!$A$1*2", N(200)},
        {"Sheet1!B2", N(20)},
        {"SUM(Sheet1!B1:B4)", N(100)},
        {"SUM(B4:B1)", N(100)},                 // corners in any order
        {"SUM(B:B)", N(100)},
        {"SUM(2:2)", N(2 + 20 + 2 + 20)},       // A2 B2 E2 F2
        {"SUM({1,2;3,4})", N(10)},
        {"Nowhere!A1", E(ErrorCode::Ref)},
        {"#REF!", E(ErrorCode::Ref)},
        {"Sheet1!#REF!", E(ErrorCode::Ref)},
        {"[1]Sheet1!A1", E(ErrorCode::Ref)},
        {"A6", N(0)},                           // an empty cell reads as 0 in a formula cell
        {"A7", T("abc")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.formula);
        EXPECT_TRUE(same(c.expected, eval(c.formula)));
    }
}

TEST_F(Grammar, CoercionInArithmeticAndText) {
    std::vector<Case> cases = {
        {"A4+1", N(5)},                  // numeric text is coerced
        {"\" 2 \"*3", N(6)},
        {"\"50%\"*2", N(1)},
        {"A7+1", E(ErrorCode::Value)},
        {"A5+1", N(2)},                  // TRUE is 1
        {"A6+1", N(1)},                  // empty is 0
        {"\"TRUE\"+0", E(ErrorCode::Value)},
        {"\"a\"&1", T("a1")},
        {"A5&\"\"", T("TRUE")},
        {"A6&\"x\"", T("x")},
        {"1/3&\"\"", T("0.333333333333333")},
        {"1E+20&\"\"", T("1E+20")},
        {"0.1+0.2-0.3", N(0)},           // near-equal differences snap to zero
        {"1/0", E(ErrorCode::Div0)},
        {"0^0", E(ErrorCode::Num)},
        {"0^-1", E(ErrorCode::Div0)},
        {"(-8)^(1/3)", E(ErrorCode::Num)},
        {"(-2)^3", N(-8)},
        {"10^400", E(ErrorCode::Num)},   // never infinity
        {"-\"x\"", E(ErrorCode::Value)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.formula);
        EXPECT_TRUE(same(c.expected, eval(c.formula)));
    }
}

TEST_F(Grammar, ComparisonsAcrossTypes) {
    std::vector<Case> cases = {
        {"\"abc\"=\"ABC\"", B(true)},        // text ignores case
        {"\"a\"<\"B\"", B(true)},
        {"\"b\">\"A\"", B(true)},
        {"\"abc\"<\"abcd\"", B(true)},
        {"\"1\"=1", B(false)},               // no coercion in comparisons
        {"\"a\">99999", B(true)},            // any text > any number
        {"TRUE>\"zzz\"", B(true)},           // TRUE > any text
        {"FALSE>\"zzz\"", B(true)},
        {"TRUE=1", B(false)},
        {"A6=0", B(true)},                   // empty equals 0, "" and FALSE
        {"A6=\"\"", B(true)},
        {"A6=FALSE", B(true)},
        {"A6<1", B(true)},
        {"0.1+0.2=0.3", B(true)},
        {"1<>2", B(true)},
        {"2<=2", B(true)},
        {"3>=4", B(false)},
        {"C1=1", E(ErrorCode::Div0)},
        {"NA()=C1", E(ErrorCode::NA)},       // the left error wins
        {"C1+NA()", E(ErrorCode::Div0)},
        {"NA()+C1", E(ErrorCode::NA)},
        {"\"x\"+C1", E(ErrorCode::Value)},   // left coercion fails first
        {"C1&\"x\"", E(ErrorCode::Div0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.formula);
        EXPECT_TRUE(same(c.expected, eval(c.formula)));
    }
}

TEST_F(Grammar, ImplicitIntersectionAndArrayContext) {
    // Z100 is row 100: B1:B4 does not reach it, so a single column range is #VALUE!.
    EXPECT_TRUE(same(E(ErrorCode::Value), eval("B1:B4*2")));
    wb.set_formula({0, 2, 6}, "B1:B4*2");   // G3 intersects row 3
    wb.recalculate();
    EXPECT_TRUE(same(N(60), wb.value({0, 2, 6})));
    EXPECT_TRUE(same(N(200), eval("SUMPRODUCT(B1:B4*2)")));
    EXPECT_TRUE(same(N(2), eval("SUMPRODUCT((B1:B4>15)*(B1:B4<35))")));
    EXPECT_TRUE(same(N(100), eval("SUMPRODUCT(ABS(-B1:B4))")));
    EXPECT_TRUE(same(N(200), eval("SUM(B1:B4*2)", true)));   // array formula
    EXPECT_TRUE(same(N(20), eval("B1:B4*2", true)));         // top-left of the result
}

TEST_F(Grammar, BadFormulasThrowWithPosition) {
    struct Bad {
        const char* text;
        std::size_t position;
    };
    std::vector<Bad> bad = {
        {"1+*2", 2}, {"=1+", 3}, {"(1", 2}, {"1)", 1}, {"\"abc", 0}, {"", 0},
        {"SUM(1", 5}, {"'Sheet1!A1", 0}, {"A1:", 3}, {"#FOO", 0}, {"{1,2;3}", 0},
        {"ROUND(1)", 0}, {"IF(1)", 0}, {"PI(1)", 0}, {"1 2", 2}, {"$A", 0},
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

TEST_F(Grammar, UnknownFunctionsAreNameErrors) {
    EXPECT_TRUE(same(E(ErrorCode::Name), eval("FOO(1,2)+1")));
    EXPECT_TRUE(same(E(ErrorCode::Name), eval("undefined_name*2")));
    EXPECT_TRUE(same(N(3), eval("_xlfn.SUM(1,2)")));   // prefixes of newer files are dropped
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
    };
    for (const M& m : cases) {
        SCOPED_TRACE(m.in);
        EXPECT_EQ(m.out, move_formula(m.in, m.rows, m.cols));
    }
    EXPECT_THROW(move_formula("1+", 1, 1), FormulaError);
}

} // namespace
} // namespace enginetest
