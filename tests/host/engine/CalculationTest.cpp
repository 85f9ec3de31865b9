// Calculation: volatile functions are computed again on every recalculation with all that
// depends on them, references built at run time are read after their cells are up to date,
// and circular references follow the workbook's settings.

#include "Fixture.hpp"

#include <algorithm>
#include <vector>

namespace {

using namespace enginetest;
using Volatile = Engine;
using Circular = Engine;

TEST_F(Volatile, RecomputedWithTheirDependentsOnEveryRecalculation) {
    wb.set_value(at("A1"), N(1));
    wb.set_formula(at("B1"), "RAND()");
    wb.set_formula(at("C1"), "B1+A1"); // depends on a volatile cell
    wb.set_formula(at("D1"), "A1*2");  // does not
    wb.recalculate();
    std::vector<double> draws;
    std::uint64_t before = wb.evaluation_count();
    for (int i = 0; i < 5; ++i) {
        wb.recalculate(); // nothing written
        draws.push_back(wb.value(at("B1")).as_number());
        EXPECT_DOUBLE_EQ(draws.back() + 1, wb.value(at("C1")).as_number());
    }
    EXPECT_EQ(before + 10, wb.evaluation_count()); // B1 and C1 each time, never D1
    std::sort(draws.begin(), draws.end());
    EXPECT_EQ(draws.end(), std::unique(draws.begin(), draws.end()));

    EXPECT_EQ((std::vector<CellAddress>{at("B1")}), wb.volatile_sources(at("C1")));
    EXPECT_TRUE(wb.volatile_sources(at("D1")).empty());
    EXPECT_TRUE(wb.volatile_sources(at("A1")).empty());

    wb.set_formula(at("B1"), "0.5"); // no longer volatile
    wb.recalculate();
    EXPECT_EQ(0u, recalculated());
    EXPECT_TRUE(wb.volatile_sources(at("C1")).empty());
}

TEST_F(Volatile, BuiltReferencesReadUpToDateCells) {
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
    wb.set_value(at("A6"), N(2)); // the reference moves to B2
    EXPECT_TRUE(same(N(210), wb.value(at("A5"))));
    EXPECT_EQ((std::vector<CellAddress>{at("A5")}), wb.volatile_sources(at("A8")));
}

TEST_F(Volatile, ThroughADefinedName) {
    wb.define_name("Noise", "RAND()*0");
    wb.set_formula(at("A1"), "Noise+1");
    EXPECT_EQ((std::vector<CellAddress>{at("A1")}), wb.volatile_sources(at("A1")));
}

TEST(SheetSpans, OnlyAggregatesTakeThemAndTheyFollowEverySheet) {
    Workbook wb;
    for (const char* name : {"Jan", "Feb", "Mar"})
        wb.add_sheet(name);
    wb.set_automatic(true);
    for (const char* bad : {"Jan:Mar!B2+1", "INDEX(Jan:Mar!B2:B3,1)", "SUM(Jan:Mar!B2*2)", "Jan:Mar!B2"})
        EXPECT_THROW(wb.set_formula(at("A1"), bad), host::engine::FormulaError) << bad;
    wb.set_formula(at("A1"), "SUM(Jan:Mar!B2:B100)"); // a large range on each sheet
    wb.set_formula(at("A2"), "COUNT(Jan:Mar!B2)");
    wb.set_value(CellAddress{1, 1, 1}, N(5));
    wb.set_value(CellAddress{2, 99, 1}, N(7));
    EXPECT_TRUE(same(N(12), wb.value(at("A1"))));
    EXPECT_TRUE(same(N(1), wb.value(at("A2"))));
    EXPECT_EQ("SUM(Jan:Mar!C3:C101)", host::engine::move_formula("SUM(Jan:Mar!B2:B100)", 1, 1));
    // Unions likewise (INDEX, AREAS, ROWS and COLUMNS take them as their areas).
    for (const char* bad : {"(B1,B2)", "ABS((B1,B2))", "SUM((B1,B2)+1)"})
        EXPECT_THROW(wb.set_formula(at("A3"), bad), host::engine::FormulaError) << bad;
}

TEST_F(Circular, IterationFollowsTheSettings) {
    wb.set_formula(at("A1"), "A1/2+1"); // settles at 2
    wb.set_formula(at("B1"), "C1+10");  // B1 = 10 + B1/10: 100/9
    wb.set_formula(at("C1"), "B1/10");
    wb.set_formula(at("D1"), "A1+B1"); // downstream of the cycles

    wb.recalculate_all(); // no iteration: the cycles hold 0
    for (const char* cell : {"A1", "B1", "C1"})
        EXPECT_TRUE(same(N(0), wb.value(at(cell)))) << cell;
    EXPECT_TRUE(same(N(0), wb.value(at("D1"))));

    host::engine::CalcSettings settings;
    auto restart = [&] { // new settings; A1 starts again from 0
        wb.set_calc_settings(settings);
        wb.set_value(at("A1"), N(0));
        wb.set_formula(at("A1"), "A1/2+1");
    };
    settings.iterate = true;
    settings.max_iterations = 3;
    restart();
    wb.recalculate();
    EXPECT_TRUE(same(N(1.75), wb.value(at("A1")))); // from 0: 1, 1.5, 1.75
    settings.max_iterations = 100;
    restart();
    std::uint64_t before = wb.evaluation_count();
    wb.recalculate_all();
    EXPECT_NEAR(2, wb.value(at("A1")).as_number(), 0.001);
    EXPECT_NEAR(100.0 / 9, wb.value(at("B1")).as_number(), 0.001);
    EXPECT_NEAR(100.0 / 9 + 2, wb.value(at("D1")).as_number(), 0.002);
    EXPECT_LT(wb.evaluation_count() - before, 60u); // stopped when the change was small

    settings.max_change = 0; // never small enough: stops at the limit
    settings.max_iterations = 7;
    restart();
    wb.recalculate();
    EXPECT_TRUE(same(N(2 - 1.0 / 64), wb.value(at("A1"))));
}

} // namespace
