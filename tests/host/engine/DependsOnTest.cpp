// What a cell's formula reads, as the solve checks ask it: whether the objective can change
// when the variable cells do.
#include "Fixture.hpp"

#include <optional>

namespace enginetest {
namespace {

using host::engine::CellRange;

TEST_F(Engine, DependsOnFollowsFormulasNamesAndRangesToTheCellsTheyRead) {
    // The variables are A1:A3; each row: a formula in column B, and whether it reads them.
    const struct {
        const char* cell;
        const char* formula;
        bool reads_variables;
    } rows[] = {
        {"B1", "A1*2", true},          {"B2", "B1+1", true}, // through another formula
        {"B3", "SUM(C1:C100)", true},                        // a large range holding a formula (C50) that reads A2
        {"B4", "Top*2", true},                               // a defined name for A3
        {"B5", "5*2", false},          {"B6", "INDIRECT(\"Z1\")", true}, // references built while it runs: anything
        {"B7", "Moving+1", true},                                        // the same, behind a name
        {"B8", "SUM(D1:D200)", false},                                   // a large range of constants
        {"B9", "Other!A1", true},                                        // a formula on another sheet
        {"B10", "SUM(A1:A3)", true},   {"B11", "SUM(A4:A100)", false},   // next to the variables, not on them
        {"B12", "RAND()+B5", false},                                     // volatile, but it reads no variable
        {"B13", "Far*1", false},                                         // a name for other cells
        {"B14", "Other!A1:A2", true},                                    // a range holding the formula Other!A1
    };
    const int other = wb.add_sheet("Other");
    for (const char* a : {"A1", "A2", "A3", "A4", "D1", "D150", "Z1"})
        wb.set_value(at(a), N(1));
    wb.set_formula(at("C50"), "A2-1");
    wb.set_formula(at("A1", other), "Sheet1!A2+1");
    wb.define_name("Top", "Sheet1!$A$3");
    wb.define_name("Moving", "OFFSET(Sheet1!$Z$1,0,0)");
    wb.define_name("Far", "Sheet1!$D$1:$D$3");
    for (const auto& row : rows)
        wb.set_formula(at(row.cell), row.formula);
    const CellRange variables{0, 0, 0, 2, 0};
    for (const auto& row : rows)
        EXPECT_EQ(wb.depends_on(at(row.cell), variables), row.reads_variables) << row.cell << ": " << row.formula;
    EXPECT_FALSE(wb.depends_on(at("A1"), variables)) << "a constant reads nothing";
    EXPECT_FALSE(wb.depends_on(at("B1"), CellRange{other, 0, 0, 2, 0})) << "the same cells on another sheet";
}

TEST_F(Engine, ReferenceRangeReadsOneBlockOfCells) {
    wb.add_sheet("Plan");
    const struct {
        const char* text;
        std::optional<CellRange> range;
    } rows[] = {
        {"B3:D3", CellRange{0, 2, 1, 2, 3}},
        {"$B$16", CellRange{0, 15, 1, 15, 1}},
        {"Plan!A1:B2", CellRange{1, 0, 0, 1, 1}},
        {"plan!C5", CellRange{1, 4, 2, 4, 2}},
        {"Nowhere!A1", std::nullopt},
        {"A1+1", std::nullopt},
        {"Top", std::nullopt},
        {"[1]Plan!A1", std::nullopt},
        {"Sheet1:Plan!A1", std::nullopt},
        {"", std::nullopt},
        {"B3:", std::nullopt},
    };
    for (const auto& row : rows) {
        std::optional<CellRange> got = wb.reference_range(row.text, 0);
        ASSERT_EQ(got.has_value(), row.range.has_value()) << row.text;
        if (!got)
            continue;
        EXPECT_EQ(got->sheet, row.range->sheet) << row.text;
        EXPECT_EQ(got->first_row, row.range->first_row) << row.text;
        EXPECT_EQ(got->first_col, row.range->first_col) << row.text;
        EXPECT_EQ(got->last_row, row.range->last_row) << row.text;
        EXPECT_EQ(got->last_col, row.range->last_col) << row.text;
    }
}

} // namespace
} // namespace enginetest
