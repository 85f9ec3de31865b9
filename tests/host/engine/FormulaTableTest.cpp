// Every tests/host/engine/formulas/NAME.tsv, on a fresh workbook of its own: its `@CELL`
// rows set the inputs, and each formula row must give its expected value both ways the
// engine evaluates a formula. A formula of numbers only takes the lean numeric evaluator
// where it accepts it; the same formula behind IF(a defined name, ...) is never compiled
// that way, so it takes the general evaluator. The two must agree bit for bit.

#include "FormulaTable.hpp"

#include "engine/Workbook.hpp"

#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
#include <cmath>

namespace {

using formulatable::parse_value;
using formulatable::show;
using host::engine::CellAddress;
using host::engine::Value;
using host::engine::Workbook;

const std::string dir = OMBRIX_SOURCE_DIR "/tests/host/engine/formulas";

std::vector<std::string> table_names() {
    std::vector<std::string> names;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tsv") == 0)
                names.push_back(name.substr(0, name.size() - 4));
        }
        ::closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool same(const Value& expected, const Value& actual, double tolerance) {
    if (expected.is_number() && actual.is_number()) {
        double a = expected.as_number(), b = actual.as_number();
        return a == b || std::fabs(a - b) <= tolerance * std::fabs(a);
    }
    return expected == actual;
}

// `@CELL` or `@'Sheet name'!CELL`: a sheet other than Sheet1 is added when first named.
CellAddress input_cell(Workbook& wb, std::string at) {
    CellAddress cell{0, 0, 0};
    auto bang = at.rfind('!');
    if (bang != std::string::npos) {
        std::string sheet = at.substr(0, bang);
        if (sheet.size() > 1 && sheet.front() == '\'')
            sheet = sheet.substr(1, sheet.size() - 2);
        cell.sheet = wb.find_sheet(sheet) >= 0 ? wb.find_sheet(sheet) : wb.add_sheet(sheet);
        at = at.substr(bang + 1);
    }
    if (!host::engine::parse_a1(at, cell.row, cell.col))
        throw std::runtime_error("not a cell: " + at);
    return cell;
}

class FormulaTable : public ::testing::TestWithParam<std::string> {};

TEST_P(FormulaTable, EveryRowBothWays) {
    Workbook wb;
    wb.add_sheet("Sheet1");
    wb.define_name("ombrix_general_road", "TRUE");
    const CellAddress lean{0, 49999, 300}, general{0, 49999, 301};
    int formulas = 0;
    for (const auto& row : formulatable::read_rows(dir + "/" + GetParam() + ".tsv")) {
        const auto& c = row.columns;
        std::string where = row.file + ":" + std::to_string(row.line) + ": ";
        if (c[0][0] == '@') {
            ASSERT_EQ(c.size(), 2u) << where << "an input is @CELL, a tab, and its content";
            CellAddress cell = input_cell(wb, c[0].substr(1));
            if (c[1][0] == '=')
                wb.set_formula(cell, c[1]);
            else
                wb.set_value(cell, parse_value(c[1]));
            continue;
        }
        ASSERT_TRUE(c.size() == 2 || c.size() == 3) << where << "a row is FORMULA, EXPECTED[, TOLERANCE]";
        Value expected = parse_value(c[1]);
        double tolerance = c.size() == 3 ? std::stod(c[2]) : 1e-12;
        try {
            wb.set_formula(lean, c[0]);
            wb.set_formula(general, "IF(ombrix_general_road," + c[0] + ")");
        } catch (const std::exception& e) {
            ADD_FAILURE() << where << c[0] << ": " << e.what();
            continue;
        }
        wb.recalculate();
        const Value& a = wb.value(lean);
        const Value& b = wb.value(general);
        EXPECT_TRUE(same(expected, b, tolerance)) << where << c[0] << ": expected " << c[1] << ", got " << show(b);
        bool agree = a.type() == b.type() && a.to_string() == b.to_string() &&
                     (!a.is_number() || std::signbit(a.as_number()) == std::signbit(b.as_number()));
        EXPECT_TRUE(agree) << where << c[0] << ": numeric evaluator " << show(a) << ", general " << show(b);
        ++formulas;
    }
    EXPECT_GT(formulas, 0) << GetParam() << ".tsv has no formulas";
}

INSTANTIATE_TEST_SUITE_P(Formulas, FormulaTable, ::testing::ValuesIn(table_names()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             std::replace_if(name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
                             return name;
                         });

} // namespace
