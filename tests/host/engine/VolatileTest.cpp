// Volatile functions are computed again on every recalculation with all that depends on
// them, and references built at run time are read after their cells are up to date.

#include "Fixture.hpp"

#include <algorithm>
#include <vector>

namespace {

using namespace enginetest;

CellAddress at(const char* a1) {
    CellAddress c;
    host::engine::parse_a1(a1, c.row, c.col);
    return c;
}

TEST(Volatile, RecomputedWithTheirDependentsOnEveryRecalculation) {
    Workbook wb;
    wb.add_sheet("Sheet1");
    wb.set_value(at("A1"), N(1));
    wb.set_formula(at("B1"), "RAND()");
    wb.set_formula(at("C1"), "B1+A1");       // depends on a volatile cell
    wb.set_formula(at("D1"), "A1*2");        // does not
    wb.recalculate();
    std::vector<double> draws;
    std::uint64_t before = wb.evaluation_count();
    for (int i = 0; i < 5; ++i) {
        wb.recalculate();                    // nothing written
        draws.push_back(wb.value(at("B1")).as_number());
        EXPECT_DOUBLE_EQ(draws.back() + 1, wb.value(at("C1")).as_number());
    }
    EXPECT_EQ(before + 10, wb.evaluation_count());   // B1 and C1 each time, never D1
    std::sort(draws.begin(), draws.end());
    EXPECT_EQ(draws.end(), std::unique(draws.begin(), draws.end()));

    EXPECT_EQ((std::vector<CellAddress>{at("B1")}), wb.volatile_sources(at("C1")));
    EXPECT_TRUE(wb.volatile_sources(at("D1")).empty());
    EXPECT_TRUE(wb.volatile_sources(at("A1")).empty());

    wb.set_formula(at("B1"), "0.5");         // no longer volatile
    wb.recalculate();
    before = wb.evaluation_count();
    wb.recalculate();
    EXPECT_EQ(before, wb.evaluation_count());
    EXPECT_TRUE(wb.volatile_sources(at("C1")).empty());
}

TEST(Volatile, BuiltReferencesReadUpToDateCells) {
    Workbook wb;
    wb.add_sheet("Sheet1");
    wb.set_automatic(true);
    // The reading cells come first in the sheet, so an order that ignored the built
    // references would read B1 and the SUM range before they are computed.
    wb.set_formula(at("A5"), "INDIRECT(\"B\"&A6)*10");
    wb.set_value(at("A6"), N(1));
    wb.set_formula(at("A7"), "SUM(OFFSET(B1,0,0,A6+1))");
    wb.set_formula(at("A8"), "A5+1");
    wb.set_formula(at("B1"), "C1*2");
    wb.set_formula(at("B2"), "C1*3");
    for (double x : {1.0, 2.0, 7.0}) {
        wb.set_value(at("C1"), N(x));
        EXPECT_TRUE(same(N(20 * x), wb.value(at("A5"))));
        EXPECT_TRUE(same(N(5 * x), wb.value(at("A7"))));
        EXPECT_TRUE(same(N(20 * x + 1), wb.value(at("A8"))));
    }
    wb.set_value(at("A6"), N(2));            // the reference moves to B2
    EXPECT_TRUE(same(N(210), wb.value(at("A5"))));
    EXPECT_EQ((std::vector<CellAddress>{at("A5")}), wb.volatile_sources(at("A8")));
}

TEST(Volatile, ThroughADefinedName) {
    Workbook wb;
    wb.add_sheet("Sheet1");
    wb.define_name("Noise", "RAND()*0");
    wb.set_formula(at("A1"), "Noise+1");
    EXPECT_EQ((std::vector<CellAddress>{at("A1")}), wb.volatile_sources(at("A1")));
}

} // namespace
