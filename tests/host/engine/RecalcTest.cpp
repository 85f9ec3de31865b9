#include "Fixture.hpp"

#include <vector>

namespace enginetest {
namespace {

using host::engine::EngineError;
using host::engine::FormulaError;

using Recalc = Engine;

TEST_F(Recalc, AutomaticModeRecalculatesAfterEveryWrite) {
    wb.set_automatic(true);
    wb.set_value(at("A1"), N(2));
    wb.set_formula(at("B1"), "A1^2");
    EXPECT_TRUE(same(N(4), wb.value(at("B1"))));
    wb.set_value(at("A1"), N(3));
    EXPECT_TRUE(same(N(9), wb.value(at("B1"))));
    std::uint64_t before = wb.evaluation_count();
    wb.set_values({{at("A1"), N(4)}, {at("A2"), N(1)}, {at("A3"), N(1)}});
    EXPECT_EQ(1u, wb.evaluation_count() - before); // one recalculation for the batch
    EXPECT_TRUE(same(N(16), wb.value(at("B1"))));
}

TEST_F(Recalc, CircularReferencesTerminateAndAreReported) {
    wb.set_value(at("A1"), N(1));
    wb.set_formula(at("B1"), "C1+A1");
    wb.set_formula(at("C1"), "B1+1");
    wb.set_formula(at("D1"), "D1+1"); // reads itself
    wb.set_formula(at("E1"), "B1*2"); // downstream of the cycle, not on it
    wb.set_formula(at("F1"), "SUM(F2:F100)");
    wb.set_formula(at("F50"), "F1"); // a cycle through a large range
    wb.set_formula(at("G2"), "INDEX(G1:G9,ROW()-1)+1"); // the range holds it, the row above is read:
    wb.set_formula(at("G3"), "INDEX(G1:G9,ROW()-1)+1"); // no cycle
    wb.recalculate_all();
    EXPECT_TRUE(same(N(2), wb.value(at("G3"))));
    for (const char* cell : {"B1", "C1", "D1", "E1", "F1"}) // as the spreadsheet shows a cycle
        EXPECT_TRUE(same(N(0), wb.value(at(cell)))) << cell;
    auto d = wb.diagnostics();
    ASSERT_EQ(3u, d.cycles.size());
    EXPECT_EQ((std::vector<CellAddress>{at("B1"), at("C1")}), d.cycles[0]);
    EXPECT_EQ((std::vector<CellAddress>{at("D1")}), d.cycles[1]);
    EXPECT_EQ((std::vector<CellAddress>{at("F1"), at("F50")}), d.cycles[2]);

    // Breaking the cycle brings the values back.
    wb.set_formula(at("C1"), "A1+1");
    wb.recalculate();
    EXPECT_TRUE(same(N(3), wb.value(at("B1"))));
    EXPECT_TRUE(same(N(6), wb.value(at("E1"))));
    EXPECT_EQ(2u, wb.diagnostics().cycles.size());
}

TEST_F(Recalc, UnknownFunctionsReportedOnceWithTheirCells) {
    wb.set_formula(at("A1"), "FOO(1)+FOO(2)");
    wb.set_formula(at("A3"), "BAR()");
    wb.set_formula(at("A2"), "foo(3)*SUM(1)");
    wb.set_formula(at("A4"), "SUM(1)");
    wb.recalculate_all();
    EXPECT_TRUE(same(E(ErrorCode::Name), wb.value(at("A1"))));
    auto d = wb.diagnostics();
    ASSERT_EQ(2u, d.unknown_functions.size());
    EXPECT_EQ("BAR", d.unknown_functions[0].name);
    EXPECT_EQ(std::vector<CellAddress>{at("A3")}, d.unknown_functions[0].cells);
    EXPECT_EQ("FOO", d.unknown_functions[1].name);
    EXPECT_EQ((std::vector<CellAddress>{at("A1"), at("A2")}), d.unknown_functions[1].cells);
    EXPECT_TRUE(d.cycles.empty());
}

TEST_F(Recalc, DefinedNames) {
    wb.add_sheet("Data Sheet");
    wb.set_value(at("A1", 1), N(2));
    wb.set_value(at("A2", 1), N(3));
    wb.set_formula(at("A1"), "Rate*SUM(Block)"); // names defined later
    wb.recalculate();
    EXPECT_TRUE(same(E(ErrorCode::Name), wb.value(at("A1"))));
    wb.define_name("Rate", "0.5");
    wb.define_name("Block", "='Data Sheet'!$A$1:$A$2");
    wb.recalculate();
    EXPECT_TRUE(same(N(2.5), wb.value(at("A1"))));
    EXPECT_TRUE(wb.has_name("rate"));
    EXPECT_EQ("'Data Sheet'!$A$1:$A$2", wb.name_formula("BLOCK"));
    EXPECT_EQ((std::vector<std::string>{"Block", "Rate"}), wb.names());

    // A change inside a named range reaches the formula.
    wb.set_value(at("A2", 1), N(5));
    wb.recalculate();
    EXPECT_TRUE(same(N(3.5), wb.value(at("A1"))));
    // Redefining replaces; names may use names.
    wb.define_name("Rate", "Half/2");
    wb.define_name("Half", "0.5");
    wb.recalculate();
    EXPECT_TRUE(same(N(1.75), wb.value(at("A1"))));
    // A redefined range moves the dependency.
    wb.define_name("Block", "'Data Sheet'!$A$1");
    wb.recalculate();
    wb.set_value(at("A2", 1), N(9));
    EXPECT_EQ(0u, recalculated());
    wb.set_value(at("A1", 1), N(4));
    EXPECT_EQ(1u, recalculated());
    EXPECT_TRUE(same(N(1), wb.value(at("A1"))));
    // Names that refer to each other give an error instead of looping.
    wb.define_name("Loop1", "Loop2");
    wb.define_name("Loop2", "Loop1+1");
    wb.set_formula(at("A2"), "Loop1");
    wb.recalculate();
    EXPECT_TRUE(same(E(ErrorCode::Name), wb.value(at("A2"))));

    for (const char* bad : {"", "1abc", "A1", "TRUE", "has space", "XFD1"})
        EXPECT_THROW(wb.define_name(bad, "1"), EngineError) << bad;
    EXPECT_THROW(wb.define_name("ok", "1+"), FormulaError);
}

TEST_F(Recalc, SheetsReferencedBeforeTheyExist) {
    wb.set_formula(at("A1"), "'Later One'!B2*2");
    wb.recalculate();
    EXPECT_TRUE(same(E(ErrorCode::Ref), wb.value(at("A1"))));
    int later = wb.add_sheet("Later One");
    wb.set_value({later, 1, 1}, N(21));
    wb.recalculate();
    EXPECT_TRUE(same(N(42), wb.value(at("A1"))));
}

TEST_F(Recalc, SheetsAndCells) {
    using host::engine::max_columns;
    using host::engine::max_rows;
    EXPECT_EQ(1, wb.add_sheet("Second"));
    EXPECT_EQ(1, wb.find_sheet("SECOND"));
    EXPECT_EQ(-1, wb.find_sheet("Third"));
    EXPECT_EQ((std::vector<std::string>{"Sheet1", "Second"}), wb.sheet_names());
    for (const char* bad : {"second", "", "a:b", "x[1]", "'quoted", "this name is longer than thirty one"})
        EXPECT_THROW(wb.add_sheet(bad), EngineError) << bad;
    wb.set_active_sheet(1);
    EXPECT_EQ(1, wb.active_sheet());
    EXPECT_THROW(wb.set_active_sheet(2), EngineError);
    for (CellAddress bad : {CellAddress{0, max_rows, 0}, CellAddress{0, 0, max_columns}, CellAddress{5, 0, 0}})
        EXPECT_THROW(wb.set_value(bad, N(1)), EngineError);
    wb.set_value({0, max_rows - 1, max_columns - 1}, N(1));

    wb.set_value(at("C3", 1), T("x"));
    wb.set_formula(at("B5", 1), "=C3&\"y\"");
    wb.set_formula(at("A1", 1), "Z9"); // reads an empty cell; the read does not make Z9 used
    wb.set_value(at("D2", 1), N(1));
    wb.set_value(at("D2", 1), Value()); // cleared: no longer used
    wb.recalculate();
    EXPECT_EQ("C3&\"y\"", wb.formula_text(at("B5", 1)));
    EXPECT_TRUE(wb.is_formula(at("B5", 1)));
    EXPECT_EQ("", wb.formula_text(at("C3", 1)));
    std::vector<std::string> seen;
    wb.for_each_cell(1, [&](std::int32_t r, std::int32_t c, const Value& v) {
        seen.push_back(host::engine::a1_name(r, c) + "=" + v.to_string());
    });
    EXPECT_EQ((std::vector<std::string>{"A1=0", "C3=x", "B5=xy"}), seen);
    auto used = wb.used_range(1);
    EXPECT_FALSE(used.empty);
    EXPECT_EQ((std::vector<int>{0, 4, 0, 2}),
              (std::vector<int>{used.first_row, used.last_row, used.first_col, used.last_col}));
}

TEST_F(Recalc, LongChainsNeedNoDeepRecursion) {
    wb.set_value({0, 0, 0}, N(0));
    for (int i = 1; i < 20000; ++i)
        wb.set_formula({0, i, 0}, "A" + std::to_string(i) + "+1");
    wb.recalculate_all();
    EXPECT_TRUE(same(N(19999), wb.value({0, 19999, 0})));
    wb.set_value({0, 0, 0}, N(1));
    wb.recalculate();
    EXPECT_TRUE(same(N(20000), wb.value({0, 19999, 0})));
}

} // namespace
} // namespace enginetest
