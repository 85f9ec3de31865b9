#include "Fixture.hpp"

#include <vector>

namespace enginetest {
namespace {



class F : public Model {
protected:
    void check(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.formula);
            EXPECT_TRUE(same(c.expected, eval(c.formula)));
        }
    }
};

const double pi = 3.14159265358979323846;

TEST_F(F, Math) {
    check({
        {"ABS(-2.5)", N(2.5)}, {"ABS(\"x\")", E(ErrorCode::Value)},
        {"SQRT(16)", N(4)}, {"SQRT(-1)", E(ErrorCode::Num)},
        {"EXP(1)", N(2.718281828459045)}, {"EXP(1000)", E(ErrorCode::Num)},
        {"LN(EXP(2))", N(2)}, {"LN(0)", E(ErrorCode::Num)},
        {"LOG(8,2)", N(3)}, {"LOG(1000)", N(3)}, {"LOG(10,1)", E(ErrorCode::Div0)}, {"LOG(-1)", E(ErrorCode::Num)},
        {"LOG10(0.01)", N(-2)}, {"LOG10(0)", E(ErrorCode::Num)},
        {"POWER(2,10)", N(1024)}, {"POWER(0,0)", E(ErrorCode::Num)},
        {"MOD(7,3)", N(1)}, {"MOD(-7,3)", N(2)}, {"MOD(7,-3)", N(-2)}, {"MOD(1,0)", E(ErrorCode::Div0)},
        {"INT(2.7)", N(2)}, {"INT(-2.5)", N(-3)},
        {"TRUNC(-2.7)", N(-2)}, {"TRUNC(3.14159,2)", N(3.14)},
        {"ROUND(2.5,0)", N(3)}, {"ROUND(-2.5,0)", N(-3)}, {"ROUND(2.675,2)", N(2.68)},
        {"ROUND(1234.5,-2)", N(1200)}, {"ROUND(0.285,2)", N(0.29)},
        {"ROUNDUP(1.21,1)", N(1.3)}, {"ROUNDUP(-1.21,1)", N(-1.3)}, {"ROUNDUP(0.3*3,1)", N(0.9)},
        {"ROUNDDOWN(1.29,1)", N(1.2)}, {"ROUNDDOWN(-1.29,1)", N(-1.2)},
        {"SIGN(-3)", N(-1)}, {"SIGN(0)", N(0)}, {"SIGN(2)", N(1)},
        {"PI()", N(pi)},
        {"SIN(PI()/2)", N(1)}, {"COS(0)", N(1)}, {"TAN(PI()/4)", N(1)},
        {"ASIN(1)", N(pi / 2)}, {"ASIN(2)", E(ErrorCode::Num)}, {"ACOS(1)", N(0)}, {"ACOS(-2)", E(ErrorCode::Num)},
        {"ATAN(1)", N(pi / 4)}, {"ATAN2(1,1)", N(pi / 4)}, {"ATAN2(0,-1)", N(-pi / 2)}, {"ATAN2(0,0)", E(ErrorCode::Div0)},
        {"SINH(0)", N(0)}, {"COSH(0)", N(1)}, {"TANH(0)", N(0)},
        {"DEGREES(PI())", N(180)}, {"RADIANS(180)", N(pi)},
        {"FLOOR(2.5,1)", N(2)}, {"FLOOR(-2.5,2)", N(-4)}, {"FLOOR(-2.5,-2)", N(-2)}, {"FLOOR(2.5,-1)", E(ErrorCode::Num)},
        {"FLOOR(0.7,0.1)", N(0.7)}, {"FLOOR(5,0)", E(ErrorCode::Div0)},
        {"CEILING(2.1,1)", N(3)}, {"CEILING(-2.5,2)", N(-2)}, {"CEILING(-2.5,-2)", N(-4)}, {"CEILING(2.5,-1)", E(ErrorCode::Num)},
        {"CEILING(5,0)", N(0)},
        {"FACT(5)", N(120)}, {"FACT(5.9)", N(120)}, {"FACT(0)", N(1)}, {"FACT(-1)", E(ErrorCode::Num)}, {"FACT(171)", E(ErrorCode::Num)},
        {"SQRT(C1)", E(ErrorCode::Div0)},
    });
}

TEST_F(F, AggregatesSkipTextInRangesButCoerceDirectArguments) {
    check({
        {"SUM(A1:A7)", N(6)},                        // "4", TRUE, "abc" and the blank are skipped
        {"SUM(A4)", N(0)},                           // a reference is a range, even of one cell
        {"SUM(\"4\",1)", N(5)},                      // a direct text argument is coerced
        {"SUM(TRUE,1)", N(2)},
        {"SUM(\"abc\")", E(ErrorCode::Value)},
        {"SUM(A1,C1)", E(ErrorCode::Div0)},
        {"SUM(1,,2)", N(3)},
        {"SUMSQ(A1:A3)", N(14)},
        {"PRODUCT(A1:A3,2)", N(12)}, {"PRODUCT(A6)", N(0)},
        {"AVERAGE(A1:A7)", N(2)}, {"AVERAGE(A6:A7)", E(ErrorCode::Div0)},
        {"MIN(B1:B4,5)", N(5)}, {"MAX(B1:B4)", N(40)}, {"MAX(A6:A7)", N(0)}, {"MIN(B1:B4,C1)", E(ErrorCode::Div0)},
        {"COUNT(A1:A7)", N(3)}, {"COUNT(1,\"2\",\"x\",TRUE)", N(3)}, {"COUNT(C1,A1)", N(1)},
        {"COUNTA(A1:A7)", N(6)}, {"COUNTA(C1)", N(1)},
        {"COUNTBLANK(A1:A7)", N(1)}, {"COUNTBLANK(G1:G10)", N(10)},
        {"MEDIAN(1,3,2)", N(2)}, {"MEDIAN(B1:B4)", N(25)}, {"MEDIAN(A7)", E(ErrorCode::Num)},
        {"STDEV(B1:B4)", N(12.909944487358056)}, {"STDEV(1)", E(ErrorCode::Div0)},
        {"STDEVP(B1:B4)", N(11.180339887498949)},
        {"VAR(B1:B4)", N(166.66666666666666)}, {"VARP(B1:B4)", N(125)}, {"VARP(A7)", E(ErrorCode::Div0)},
        {"LARGE(B1:B4,1)", N(40)}, {"LARGE(B1:B4,4)", N(10)}, {"LARGE(B1:B4,5)", E(ErrorCode::Num)},
        {"SMALL(B1:B4,2)", N(20)}, {"SMALL(B1:B4,0)", E(ErrorCode::Num)},
        {"SUMPRODUCT(A1:A3,B1:B3)", N(140)}, {"SUMPRODUCT(A1:A4,B1:B4)", N(140)},   // text counts as 0
        {"SUMPRODUCT(A1:A3,B1:B4)", E(ErrorCode::Value)},
        {"SUMPRODUCT({1,2,3})", N(6)},
    });
}

TEST_F(F, ConditionalAggregates) {
    check({
        {"SUMIF(B1:B4,\">15\")", N(90)},
        {"SUMIF(B1:B4,\">=20\",A1:A4)", N(5)},       // "4" in the sum range is not a number
        {"SUMIF(D1:D3,\"b*\",E1:E3)", N(2)},
        {"SUMIF(D1:D3,\"?pple\",E1:E3)", N(1)},
        {"SUMIF(D1:D3,\"<>banana\",E1:E3)", N(4)},
        {"SUMIF(B1:B4,20)", N(20)},
        {"SUMIF(B1:B4,\"=30\")", N(30)},
        {"SUMIF(B:B,\">0\")", N(100)},
        {"COUNTIF(A1:A7,\">1\")", N(2)},
        {"COUNTIF(D1:D3,\"*an*\")", N(1)},
        {"COUNTIF(D1:D3,\"BANANA\")", N(1)},          // ignoring case
        {"COUNTIF(A1:A7,\"\")", N(1)},
        {"COUNTIF(A1:A7,\"<>\")", N(6)},
        {"COUNTIF(A1:A7,TRUE)", N(1)},
        {"COUNTIF(G1:G5,\"\")", N(5)},
        {"AVERAGEIF(B1:B4,\">15\")", N(30)},
        {"AVERAGEIF(B1:B4,\">100\")", E(ErrorCode::Div0)},
        {"SUMIF(B1:B4,C1)", E(ErrorCode::Div0)},
    });
}

TEST_F(F, Logic) {
    check({
        {"IF(A1=1,\"yes\",\"no\")", T("yes")}, {"IF(A1=2,\"yes\",\"no\")", T("no")},
        {"IF(FALSE,1)", B(false)}, {"IF(TRUE,,1)", N(0)}, {"IF(\"true\",1,2)", N(1)},
        {"IF(\"x\",1,2)", E(ErrorCode::Value)}, {"IF(C1,1,2)", E(ErrorCode::Div0)},
        {"IF(TRUE,1,1/0)", N(1)}, {"IF(FALSE,1/0,2)", N(2)},
        {"IF(A6,1,2)", N(2)}, {"IF(IF(TRUE,FALSE,TRUE),1,2)", N(2)},
        {"AND(TRUE,1)", B(true)}, {"AND(TRUE,0)", B(false)}, {"AND(A1:A7)", B(true)},
        {"AND(A7)", E(ErrorCode::Value)}, {"AND(C1,TRUE)", E(ErrorCode::Div0)}, {"AND(\"x\")", E(ErrorCode::Value)},
        {"OR(FALSE,0)", B(false)}, {"OR(FALSE,2)", B(true)}, {"OR(A6)", E(ErrorCode::Value)},
        {"NOT(TRUE)", B(false)}, {"NOT(0)", B(true)}, {"NOT(\"x\")", E(ErrorCode::Value)},
        {"IFERROR(1/0,\"bad\")", T("bad")}, {"IFERROR(5,\"bad\")", N(5)}, {"IFERROR(NA(),C1)", E(ErrorCode::Div0)},
        {"ISNUMBER(A1)", B(true)}, {"ISNUMBER(A4)", B(false)}, {"ISNUMBER(C1)", B(false)},
        {"ISERROR(C1)", B(true)}, {"ISERROR(A1)", B(false)},
        {"ISNA(NA())", B(true)}, {"ISNA(C1)", B(false)},
        {"ISBLANK(A6)", B(true)}, {"ISBLANK(A7)", B(false)}, {"ISBLANK(\"\")", B(false)},
        {"ISTEXT(A4)", B(true)}, {"ISTEXT(A1)", B(false)},
        {"TRUE()", B(true)}, {"FALSE()", B(false)}, {"NA()", E(ErrorCode::NA)},
        {"CHOOSE(2,\"a\",\"b\",\"c\")", T("b")}, {"CHOOSE(2.9,1,2,3)", N(2)}, {"CHOOSE(4,1,2,3)", E(ErrorCode::Value)},
        {"CHOOSE(0,1,2)", E(ErrorCode::Value)}, {"SUM(CHOOSE(2,A1:A3,B1:B4))", N(100)},
    });
}

TEST_F(F, Lookups) {
    check({
        {"VLOOKUP(\"banana\",D1:E3,2,FALSE)", N(2)}, {"VLOOKUP(\"BAN*\",D1:E3,2,FALSE)", N(2)},
        {"VLOOKUP(\"kiwi\",D1:E3,2,FALSE)", E(ErrorCode::NA)}, {"VLOOKUP(\"apple\",D1:E3,3,FALSE)", E(ErrorCode::Ref)},
        {"VLOOKUP(\"apple\",D1:E3,0,FALSE)", E(ErrorCode::Value)},
        {"VLOOKUP(35,F1:F5,1)", N(30)}, {"VLOOKUP(35,F1:F5,1,TRUE)", N(30)}, {"VLOOKUP(5,F1:F5,1)", E(ErrorCode::NA)},
        {"VLOOKUP(99,F1:F5,1)", N(50)}, {"VLOOKUP(C1,F1:F5,1)", E(ErrorCode::Div0)},
        {"VLOOKUP(2,{1,\"one\";2,\"two\"},2,FALSE)", T("two")},
        {"HLOOKUP(2,{1,2,3;\"a\",\"b\",\"c\"},2,FALSE)", T("b")}, {"HLOOKUP(2.5,{1,2,3;\"a\",\"b\",\"c\"},2)", T("b")},
        {"MATCH(30,F1:F5,0)", N(3)}, {"MATCH(31,F1:F5)", N(3)}, {"MATCH(31,F1:F5,0)", E(ErrorCode::NA)},
        {"MATCH(\"CHERRY\",D1:D3,0)", N(3)}, {"MATCH(35,{50,40,30,20},-1)", N(2)}, {"MATCH(1,B1:C2,0)", E(ErrorCode::NA)},
        {"INDEX(D1:E3,2,2)", N(2)}, {"INDEX(D1:D3,3)", T("cherry")}, {"INDEX({1,2,3},2)", N(2)},
        {"INDEX(D1:E3,4,1)", E(ErrorCode::Ref)}, {"SUM(INDEX(E1:F3,0,2))", N(60)}, {"SUM(INDEX(E1:F3,2,0))", N(22)},
        {"INDEX(F1:F5,MATCH(40,F1:F5,0))", N(40)},
    });
}

TEST_F(F, Finance) {
    check({
        {"NPV(0.1,100,200)", N(100 / 1.1 + 200 / 1.21)},
        {"NPV(0.1,B1:B2,\"x\")", E(ErrorCode::Value)},
        {"NPV(-1,1)", E(ErrorCode::Div0)},
        {"PMT(0,10,1000)", N(-100)},
        {"PMT(0.01,12,1000)", N(-88.84878867834166)},
        {"PMT(0.01,12,1000,0,1)", N(-87.96909770132839)},
        {"FV(0,10,-100)", N(1000)},
        {"FV(0.05,10,-100)", N(1257.7892535548839)},
        {"FV(0.05,10,-100,-1000,1)", N(2949.573343010072)},
        {"PV(0,10,-100)", N(1000)},
        {"PV(0.05,10,-100)", N(772.1734929184818)},
        {"PMT(0,0,1000)", E(ErrorCode::Div0)},
    });
}

TEST_F(F, Text) {
    check({
        {"LEN(\"hello\")", N(5)}, {"LEN(A1*10)", N(2)}, {"LEN(\"h\xC3\xA9llo\")", N(5)}, {"LEN(C1)", E(ErrorCode::Div0)},
        {"UPPER(\"aBc\")", T("ABC")}, {"LOWER(\"aBc\")", T("abc")},
        {"LEFT(\"hello\",2)", T("he")}, {"LEFT(\"hello\")", T("h")}, {"LEFT(\"hi\",9)", T("hi")},
        {"LEFT(\"hi\",-1)", E(ErrorCode::Value)},
        {"RIGHT(\"hello\",3)", T("llo")}, {"RIGHT(\"h\xC3\xA9llo\",4)", T("\xC3\xA9llo")},
        {"MID(\"hello\",2,3)", T("ell")}, {"MID(\"hello\",9,3)", T("")}, {"MID(\"hello\",0,3)", E(ErrorCode::Value)},
        {"CONCATENATE(\"a\",1,TRUE)", T("a1TRUE")}, {"CONCATENATE(\"a\",C1)", E(ErrorCode::Div0)},
        {"VALUE(\"1.5e2\")", N(150)}, {"VALUE(\" 12 \")", N(12)}, {"VALUE(\"12%\")", N(0.12)},
        {"VALUE(\"x\")", E(ErrorCode::Value)}, {"VALUE(TRUE)", E(ErrorCode::Value)},
        {"TRIM(\"  a   b  \")", T("a b")},
    });
}

TEST_F(F, ArgumentCountsAreCheckedWhenParsing) {
    for (const char* bad : {"SQRT()", "SQRT(1,2)", "ROUND(1,2,3)", "MID(\"a\",1)", "VLOOKUP(1,A1:B2)", "NA(1)"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(eval(bad), host::engine::FormulaError);
    }
}

} // namespace
} // namespace enginetest
