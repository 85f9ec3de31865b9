// Every tests/host/engine/formulas/NAME.tsv, on a fresh workbook of its own: its `@CELL`
// rows set the inputs (`@3:3` rows hide a row), and each formula row must give its expected value both ways the
// engine evaluates a formula. A formula of numbers only takes the lean numeric evaluator
// where it accepts it; the same formula behind IF(a defined name, ...) is never compiled
// that way, so it takes the general evaluator. The two must agree bit for bit.

#include "Fixture.hpp"

#include <cstdio>

namespace enginetest {
namespace {

using host::engine::RowHidden;

const std::string dir = OMBRIX_SOURCE_DIR "/tests/host/engine/formulas";

// The sheet of `@'Sheet name'!CELL` (removing the prefix), added when first named; -1 without one.
int input_sheet(Workbook& wb, std::string& at) {
    auto bang = at.rfind('!');
    if (bang == std::string::npos)
        return -1;
    std::string sheet = at.substr(0, bang);
    if (sheet.size() > 1 && sheet.front() == '\'')
        sheet = sheet.substr(1, sheet.size() - 2);
    at = at.substr(bang + 1);
    return wb.find_sheet(sheet) >= 0 ? wb.find_sheet(sheet) : wb.add_sheet(sheet);
}

// `@CELL` or `@'Sheet name'!CELL`, on Sheet1 without a sheet.
CellAddress input_cell(Workbook& wb, std::string at) {
    CellAddress cell{std::max(0, input_sheet(wb, at)), 0, 0};
    if (!host::engine::parse_a1(at, cell.row, cell.col))
        throw std::runtime_error("not a cell: " + at);
    return cell;
}

// `@3:3` with `hidden` or `filtered`: the row hidden by the user or by a filter.
bool hide_row(Workbook& wb, const std::string& at, const std::string& how) {
    std::int32_t first = 0, last = 0;
    char tail = 0;
    if (std::sscanf(at.c_str(), "%d:%d%c", &first, &last, &tail) != 2 || first != last)
        return false;
    if (how != "hidden" && how != "filtered")
        throw std::runtime_error("a row is hidden or filtered, not " + how);
    wb.set_row_hidden(0, first - 1, how == "hidden" ? RowHidden::ByUser : RowHidden::ByFilter);
    return true;
}

class FormulaTable : public ::testing::TestWithParam<std::string> {};

TEST_P(FormulaTable, EveryRowBothWays) {
    Workbook wb;
    wb.add_sheet("Sheet1");
    wb.define_name("ombrix_general_road", "TRUE");
    const CellAddress lean{0, 49999, 300}, general{0, 49999, 301};
    int formulas = 0;
    for (const auto& row : read_rows(dir + "/" + GetParam())) {
        const auto& c = row.columns;
        std::string where = row.where + ": ";
        if (c[0][0] == '@') {
            ASSERT_EQ(c.size(), 2u) << where << "an input is @CELL or @=NAME, a tab, and its content";
            if (c[0].size() > 1 && c[0][1] == '=') { // a defined name, the sheet's own with a prefix
                std::string name = c[0].substr(2);
                const int sheet = input_sheet(wb, name);
                wb.define_name(name, c[1], sheet);
            } else if (!hide_row(wb, c[0].substr(1), c[1])) {
                put(wb, input_cell(wb, c[0].substr(1)), c[1]);
            }
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
        EXPECT_TRUE(same(expected, b, tolerance)) << where << c[0];
        bool agree = a.type() == b.type() && a.to_string() == b.to_string() &&
                     (!a.is_number() || std::signbit(a.as_number()) == std::signbit(b.as_number()));
        EXPECT_TRUE(agree) << where << c[0] << ": numeric evaluator " << show(a) << ", general " << show(b);
        ++formulas;
    }
    EXPECT_GT(formulas, 0) << GetParam() << " has no formulas";
}

INSTANTIATE_TEST_SUITE_P(Formulas, FormulaTable, ::testing::ValuesIn(files_in(dir, ".tsv")),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(0, info.param.size() - 4);
                             std::replace_if(
                                 name.begin(), name.end(), [](char ch) { return !std::isalnum(ch); }, '_');
                             return name;
                         });

} // namespace
} // namespace enginetest
