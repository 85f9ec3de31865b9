// Formulas of numbers only take a shorter road through the engine than the others; array
// formulas always take the long one. Each case is computed both ways and must agree, with
// the expected value, bit for bit.

#include "Fixture.hpp"

#include <cmath>

namespace enginetest {
namespace {

class Numeric : public Model {
protected:
    void SetUp() override {
        Model::SetUp();
        put("G1", N(0));
        put("G2", N(-8));
        put("G3", N(1e308));
        put("G4", B(false));
        put("G5", T(""));
        put("G6", N(0.1));
        put("G7", N(0.2));
        put("G8", N(0.3));
        for (int i = 0; i < 100; ++i)   // H1:H100, beyond the cell-by-cell tracking of ranges
            wb.set_value({0, i, 7}, N(i % 7 == 0 ? -1 : i));
        put("H50", T("skip"));
        put("H60", B(true));
    }

    // Both roads, checked against each other and against `expected`.
    void check(const Case& c) {
        SCOPED_TRACE(c.formula);
        Value plain = eval(c.formula);
        wb.set_formula({0, 99, 24}, c.formula, true);
        wb.recalculate();
        const Value& general = wb.value({0, 99, 24});
        EXPECT_EQ(general.type(), plain.type()) << show(general) << " / " << show(plain);
        EXPECT_EQ(general.to_string(), plain.to_string());
        EXPECT_TRUE(same(c.expected, plain));
        if (plain.is_number() && general.is_number()) {
            EXPECT_EQ(general.as_number(), plain.as_number());
            EXPECT_EQ(std::signbit(general.as_number()), std::signbit(plain.as_number()));
        }
    }
};

TEST_F(Numeric, ArithmeticAndCoercions) {
    const Case cases[] = {
        {"A1*5+A3^2-IF(A1>5,1,0)", N(14)},
        {"A6+1", N(1)},                      // empty as 0
        {"A5+1", N(2)},                      // TRUE as 1
        {"A4*2", N(8)},                      // text that reads as a number
        {"A7*2", E(ErrorCode::Value)},
        {"C1+1", E(ErrorCode::Div0)},
        {"1+C1*0", E(ErrorCode::Div0)},
        {"A1/G1", E(ErrorCode::Div0)},
        {"G1^G1", E(ErrorCode::Num)},
        {"G1^-1", E(ErrorCode::Div0)},
        {"G2^(1/3)", E(ErrorCode::Num)},
        {"G2^2", N(64)},
        {"G2^3", N(-512)},
        {"G3*10", E(ErrorCode::Num)},
        {"G3*10-G3*10", E(ErrorCode::Num)},
        {"G6+G7-G8", N(0)},                  // nearly equal: snapped to 0
        {"G8-G6-G7", N(0)},
        {"-G1", N(0)},                       // never negative zero
        {"G1*-1", N(0)},
        {"-A6", N(0)},
        {"A3%", N(0.03)},
        {"--A5", N(1)},
        {"+A1", N(1)},
        {"A6", N(0)},                        // an empty cell reads as 0
        {"D1", T("apple")},
        {"C1", E(ErrorCode::Div0)},
        {"A5", B(true)},
        {"(A1+A2)*(A3+B1)/B2", N(1.95)},
    };
    for (const Case& c : cases)
        check(c);
}

TEST_F(Numeric, ComparisonsAndConditions) {
    const Case cases[] = {
        {"A1<A2", B(true)},
        {"A6=0", B(true)},                   // empty compares as 0 with a number
        {"A6=G1", B(true)},
        {"A5>100", B(true)},                 // booleans rank above numbers
        {"G4<A1", B(false)},
        {"A7>1", B(true)},                   // so does text
        {"C1=1", E(ErrorCode::Div0)},
        {"G6+G7=G8", B(true)},
        {"(A1>0)=(A2>0)", B(true)},
        {"IF(A1,10,20)", N(10)},
        {"IF(G1,10,20)", N(20)},
        {"IF(A6,10,20)", N(20)},             // empty is FALSE
        {"IF(A5,10,20)", N(10)},
        {"IF(G4,10,20)", N(20)},
        {"IF(A7,10,20)", E(ErrorCode::Value)},
        {"IF(C1,10,20)", E(ErrorCode::Div0)},
        {"IF(A1>A2,10)", B(false)},
        {"IF(A1<A2,D1,B1)", T("apple")},
        {"IF(A1<A2,A6,B1)", N(0)},
        {"2*IF(A1>A2,A1,5)", N(10)},         // a branch ending where an operator is applied
        {"2*IF(A1<A2,A1,5)", N(2)},
        {"3-IF(A1<A2,A2,5)", N(1)},
        {"IF(IF(A1>0,G1,A1),1,2)+1", N(3)},
        {"IF(A1>0,IF(A2>5,1,2),3)*IF(A3<0,4,A3)", N(6)},
    };
    for (const Case& c : cases)
        check(c);
}

TEST_F(Numeric, Aggregates) {
    const Case cases[] = {
        {"SUM(A1:A7)", N(6)},                // text, booleans and empty cells in ranges skipped
        {"SUM(A1,A4,A5)", N(1)},             // and referenced one by one too
        {"SUM(1,TRUE)", N(2)},               // but a value given directly counts
        {"SUM(IF(A1>0,A4,0),1)", N(1)},      // IF hands on the reference, not its value
        {"SUM(A1:C1)", E(ErrorCode::Div0)},
        {"SUM(H1:H100)", N(4142)},
        {"SUM(B1:B4)*2+MAX(H1:H100)", N(299)},
        {"MAX(A6,G5)", N(0)},                // no numbers at all
        {"MIN(A6,G5)", N(0)},
        {"MIN(H1:H100)", N(-1)},
        {"MAX(G2,A1:A3)", N(3)},
        {"AVERAGE(A6,G5)", E(ErrorCode::Div0)},
        {"AVERAGE(B1:B4)", N(25)},
        {"PRODUCT(A6)", N(0)},
        {"PRODUCT(A1:A3,B1)", N(60)},
        {"SUMSQ(A1:A3,G2)", N(78)},
        {"SUM(G6,G7)-G8", N(0)},
        {"SUM(G3,G3)", E(ErrorCode::Num)},
        {"ABS(G2)", N(8)},
        {"SQRT(G2)", E(ErrorCode::Num)},
        {"LN(G1)", E(ErrorCode::Num)},
        {"EXP(1000)", E(ErrorCode::Num)},
        {"LN(EXP(2))", N(2)},
    };
    for (const Case& c : cases)
        check(c);
}

// A formula whose cells stop being numbers, and become numbers again, many times.
TEST_F(Numeric, CellsChangingTypeBetweenRecalculations) {
    wb.set_formula({0, 0, 10}, "K2*2+SUM(K3:K4)");
    for (int round = 0; round < 60; ++round) {
        Value k2 = round % 3 == 0 ? T("x") : round % 3 == 1 ? N(round) : Value();
        wb.set_values({{{0, 1, 10}, k2}, {{0, 2, 10}, N(1)}, {{0, 3, 10}, round % 5 == 0 ? E(ErrorCode::NA) : N(2)}});
        wb.recalculate();
        Value expected = round % 3 == 0        ? E(ErrorCode::Value)
                         : round % 5 == 0      ? E(ErrorCode::NA)
                         : round % 3 == 1      ? N(2.0 * round + 3)
                                               : N(3);
        EXPECT_TRUE(same(expected, wb.value({0, 0, 10}))) << "round " << round;
    }
}

// Cells of a small range that did not exist yet when the formula was set, or were on a
// sheet added later.
TEST_F(Numeric, RangesFilledInLater) {
    wb.set_formula({0, 0, 11}, "SUM(L2:L5)+SUM(L2:L70)+SUM('Added'!A1:A3)");
    wb.recalculate();
    EXPECT_TRUE(same(E(ErrorCode::Ref), wb.value({0, 0, 11})));
    int added = wb.add_sheet("Added");
    wb.set_value({0, 2, 11}, N(5));
    wb.set_value({0, 68, 11}, N(7));
    wb.set_value({added, 2, 0}, N(100));
    wb.recalculate();
    EXPECT_TRUE(same(N(5 + 12 + 100), wb.value({0, 0, 11})));
    wb.set_value({0, 70, 11}, N(1000));   // just outside
    wb.set_value({added, 3, 0}, N(1000));
    wb.recalculate();
    EXPECT_TRUE(same(N(117), wb.value({0, 0, 11})));
}

} // namespace
} // namespace enginetest
