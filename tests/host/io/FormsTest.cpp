// Reference forms and calculation settings as a real workbook file holds them
// (tests/host/corpus/forms.xlsx, written by openpyxl through make_corpus.py).

#include "io/Document.hpp"
#include "io/Xlsx.hpp"

#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <cstdio>
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

TEST_F(Forms, IterationSettingsComputeTheCyclesAndTravelWithTheFile) {
    const auto& settings = d.workbook.calc_settings();
    EXPECT_TRUE(settings.iterate);
    EXPECT_EQ(50, settings.max_iterations);
    EXPECT_DOUBLE_EQ(0.0001, settings.max_change);
    EXPECT_NEAR(2, number("Calc", "A1"), 0.0002);
    EXPECT_NEAR(1000.0 / 9, number("Calc", "B1"), 0.001);
    for (const std::string& w : host::io::diagnostic_warnings("forms.xlsx", d.workbook))
        EXPECT_EQ(std::string::npos, w.find("circular")) << w;   // iterated on purpose

    // A new workbook saved with the same settings reads them back.
    Document copy;
    copy.workbook.add_sheet("S");
    copy.workbook.set_calc_settings(settings);
    std::string path = ::testing::TempDir() + "forms-copy.xlsx";
    host::io::save(copy, path);
    Document back = host::io::load_xlsx(path);
    std::remove(path.c_str());
    EXPECT_TRUE(back.workbook.calc_settings().iterate);
    EXPECT_EQ(50, back.workbook.calc_settings().max_iterations);
    EXPECT_DOUBLE_EQ(0.0001, back.workbook.calc_settings().max_change);
}

TEST_F(Forms, ASheetsOwnNameWinsOnThatSheetOnly) {
    EXPECT_DOUBLE_EQ(10, number("Calc", "D1"));
    EXPECT_DOUBLE_EQ(20, number("Jan", "B5"));
    EXPECT_EQ("0.2", d.workbook.name_formula("Rate", d.workbook.find_sheet("Jan")));
    EXPECT_EQ("0.1", d.workbook.name_formula("Rate"));
}

TEST_F(Forms, ReferencesThroughSeveralSheets) {
    EXPECT_DOUBLE_EQ(6, number("Calc", "E1"));
    EXPECT_DOUBLE_EQ(2, number("Calc", "E2"));
}

TEST_F(Forms, StructuredReferencesToATable) {
    EXPECT_DOUBLE_EQ(7.5, number("Sales", "D2"));   // [[#This Row],[Qty]], an escaped column name
    EXPECT_DOUBLE_EQ(5, number("Sales", "D3"));
    EXPECT_DOUBLE_EQ(24, number("Sales", "D4"));    // [@Qty]
    EXPECT_DOUBLE_EQ(36.5, number("Sales", "D5"));
    EXPECT_DOUBLE_EQ(15, number("Calc", "F1"));
    EXPECT_DOUBLE_EQ(36.5, number("Calc", "F2"));   // [#Totals]
    EXPECT_DOUBLE_EQ(36.5, number("Calc", "F3"));
    EXPECT_DOUBLE_EQ(4, number("Calc", "F4"));      // [#Headers]
    EXPECT_DOUBLE_EQ(5, number("Calc", "F5"));      // [#All]
    EXPECT_DOUBLE_EQ(66.5, number("Calc", "F6"));   // [[Qty]:[Amount]]

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
