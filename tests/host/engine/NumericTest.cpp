// The lean numeric evaluator where cells change under it (its formula tables are in
// formulas/numeric.tsv).

#include "Fixture.hpp"

namespace enginetest {
namespace {

using Numeric = Engine;

// A formula whose cells stop being numbers, and become numbers again, many times.
TEST_F(Numeric, CellsChangingTypeBetweenRecalculations) {
    wb.set_formula({0, 0, 10}, "K2*2+SUM(K3:K4)");
    for (int round = 0; round < 60; ++round) {
        Value k2 = round % 3 == 0 ? T("x") : round % 3 == 1 ? N(round) : Value();
        wb.set_values({{{0, 1, 10}, k2}, {{0, 2, 10}, N(1)}, {{0, 3, 10}, round % 5 == 0 ? E(ErrorCode::NA) : N(2)}});
        wb.recalculate();
        Value expected = round % 3 == 0   ? E(ErrorCode::Value)
                         : round % 5 == 0 ? E(ErrorCode::NA)
                         : round % 3 == 1 ? N(2.0 * round + 3)
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
    wb.set_value({0, 70, 11}, N(1000)); // just outside
    wb.set_value({added, 3, 0}, N(1000));
    wb.recalculate();
    EXPECT_TRUE(same(N(117), wb.value({0, 0, 11})));
}

} // namespace
} // namespace enginetest
