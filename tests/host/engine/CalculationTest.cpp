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

// Without iteration a cycle's cells keep the values they held (here as a file cached them);
// the cells reading the cycle are computed from those. A formula just set has held nothing and
// shows 0. Writing a cell the cycle reads leaves the cycle as it was.
TEST_F(Circular, WithoutIterationTheCellsKeepTheirValues) {
    wb.set_value(at("A1"), N(1));
    const struct {
        const char *cell, *formula;
        Value cached, first, after; // after: A1 written, and B3 given its formula again
    } rows[] = {
        {"B1", "C1+A1", N(7), N(7), N(7)},
        {"C1", "B1*2", N(3), N(3), N(3)},
        {"D1", "B1+C1+A1", N(0), N(11), N(15)}, // reads the cycle
        {"A2", "A2+1", E(ErrorCode::Div0), E(ErrorCode::Div0), E(ErrorCode::Div0)},
        {"B2", "IFERROR(B2,\"x\")", T(""), T(""), T("")},
        {"C2", "A2", N(5), E(ErrorCode::Div0), E(ErrorCode::Div0)},
        {"A3", "B3+1", Value(), N(0), N(0)}, // nothing held yet
        {"B3", "A3", N(4), N(4), N(0)},
        {"C3", "A3+B3", N(9), N(4), N(0)},
        {"D3", "INDEX(D1:D9,1)+A1", N(8), N(12), N(20)}, // its range holds it, but it is no cycle
        {"F1", "IF(A1>2,F2,1)", N(10), N(1), N(10)},     // a cycle for some inputs only: what it
        {"F2", "F1+1", N(20), N(2), N(20)},              // shows then is what was cached, not its last value
        {"H5", "G4:I9", N(6), N(6), N(6)},               // a block holding it reads itself
        {"J1", "G4:I9", N(1), E(ErrorCode::Value), E(ErrorCode::Value)}, // one beside it is no cell
    };
    for (const auto& r : rows) {
        wb.set_formula(at(r.cell), r.formula);
        wb.set_cached_value(at(r.cell), r.cached);
    }
    wb.set_cached_value(at("A1"), N(99)); // no formula: left alone
    wb.recalculate_all();
    EXPECT_TRUE(same(N(1), wb.value(at("A1"))));
    for (const auto& r : rows)
        EXPECT_TRUE(same(r.first, wb.value(at(r.cell)))) << r.cell << ": " << show(wb.value(at(r.cell)));
    EXPECT_EQ(5u, wb.diagnostics().cycles.size());

    wb.set_value(at("A1"), N(5));
    wb.set_formula(at("B3"), "A3");
    wb.recalculate();
    for (const auto& r : rows)
        EXPECT_TRUE(same(r.after, wb.value(at(r.cell)))) << r.cell << ": " << show(wb.value(at(r.cell)));
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
