// Reference forms and calculation settings as a real workbook file holds them
// (tests/host/corpus/forms.xlsx, written by openpyxl through make_corpus.py).

#include "io/Document.hpp"
#include "io/Xlsx.hpp"

#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using host::engine::CellAddress;
using host::io::Document;
using testing_packages::corpus;

class Forms : public ::testing::Test {
protected:
    void SetUp() override {
        d = host::io::load_xlsx(corpus("forms.xlsx"));
        d.workbook.recalculate_all();
    }
    double number(const char* sheet, const char* cell) {
        CellAddress at{d.workbook.find_sheet(sheet), 0, 0};
        EXPECT_TRUE(host::engine::parse_a1(cell, at.row, at.col));
        const auto& v = d.workbook.value(at);
        EXPECT_TRUE(v.is_number()) << sheet << "!" << cell << " is " << v.to_string();
        return v.is_number() ? v.as_number() : 0;
    }
    Document d;
};

TEST_F(Forms, IterationSettingsComputeTheCycles) {
    const auto& settings = d.workbook.calc_settings();
    EXPECT_TRUE(settings.iterate);
    EXPECT_EQ(50, settings.max_iterations);
    EXPECT_DOUBLE_EQ(0.0001, settings.max_change);
    EXPECT_NEAR(2, number("Calc", "A1"), 0.0002);
    EXPECT_NEAR(1000.0 / 9, number("Calc", "B1"), 0.001);
    for (const std::string& w : host::io::diagnostic_warnings("forms.xlsx", d.workbook))
        EXPECT_EQ(std::string::npos, w.find("circular")) << w; // iterated on purpose
}

// A sheet's own name, references through several sheets, structured references to a table.
TEST_F(Forms, EachFormGivesItsValue) {
    const struct {
        const char *sheet, *cell;
        double value;
    } cases[] = {
        {"Calc", "D1", 10},   {"Jan", "B5", 20},                         // the sheet's own Rate on Jan only
        {"Calc", "E1", 6},    {"Calc", "E2", 2},                         // through several sheets
        {"Sales", "D2", 7.5}, {"Sales", "D3", 5},                        // [[#This Row],[Qty]], an escaped name
        {"Sales", "D4", 24},  {"Sales", "D5", 36.5}, {"Calc", "F1", 15}, // [@Qty]
        {"Calc", "F2", 36.5}, {"Calc", "F3", 36.5},  {"Calc", "F4", 4},  // [#Totals], [#Headers]
        {"Calc", "F5", 5},    {"Calc", "F6", 66.5},                      // [#All], [[Qty]:[Amount]]
    };
    for (const auto& c : cases)
        EXPECT_DOUBLE_EQ(c.value, number(c.sheet, c.cell)) << c.sheet << "!" << c.cell;
    EXPECT_EQ("0.2", d.workbook.name_formula("Rate", d.workbook.find_sheet("Jan")));
    EXPECT_EQ("0.1", d.workbook.name_formula("Rate"));

    // The values follow the table's cells; a cell off the table's rows has no [#This Row].
    CellAddress qty{d.workbook.find_sheet("Sales"), 2, 1};
    d.workbook.set_automatic(true);
    d.workbook.set_value(qty, host::engine::Value::number(20));
    EXPECT_DOUBLE_EQ(25, number("Calc", "F1"));
    d.workbook.set_formula({0, 9, 0}, "Sales[@Qty]");
    EXPECT_EQ(host::engine::Value::error(host::engine::ErrorCode::Value), d.workbook.value({0, 9, 0}));
    d.workbook.set_formula({0, 9, 0}, "SUM(Sales[Nothing])");
    EXPECT_EQ(host::engine::Value::error(host::engine::ErrorCode::Ref), d.workbook.value({0, 9, 0}));
}

TEST_F(Forms, VolatileSourcesOfACell) {
    CellAddress h2{0, 1, 7}, h1{0, 0, 7}, a1{0, 0, 0};
    EXPECT_EQ(std::vector<CellAddress>{h1}, d.workbook.volatile_sources(h2));
    EXPECT_TRUE(d.workbook.volatile_sources(a1).empty());
}

} // namespace
