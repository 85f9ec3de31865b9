// Lookups and criteria through the indexes of their ranges give what walking the range gives.
// tests/host/engine/indexed.tsv is a script run on two workbooks, one with indexes and one
// without: `@CELL` rows write a cell (recalculating), each formula row adds the formula in
// a cell of its own and gives its expected value; after every row each formula so far must
// hold the same value in both books, so the writes check that an index follows its cells.

#include "Fixture.hpp"

namespace enginetest {
namespace {

CellAddress address(std::string a1) {
    CellAddress cell{0, 0, 0};
    if (auto bang = a1.rfind('!'); bang != std::string::npos) {
        cell.sheet = a1.substr(0, bang) == "Sheet2" ? 1 : 0;
        a1 = a1.substr(bang + 1);
    }
    if (!host::engine::parse_a1(a1, cell.row, cell.col))
        throw std::runtime_error("not a cell: " + a1);
    return cell;
}

bool identical(const Value& a, const Value& b) {
    return a.type() == b.type() && (a.is_number() ? a.as_number() == b.as_number() : a.to_string() == b.to_string());
}

TEST(LookupIndex, SameAnswersAsWalkingTheRange) {
    Workbook indexed, plain;
    for (Workbook* wb : {&indexed, &plain}) {
        wb->add_sheet("Sheet1");
        wb->add_sheet("Sheet2");
        wb->set_automatic(true);
    }
    plain.set_lookup_indexes(false);
    std::vector<CellAddress> formulas;
    int checked = 0;
    for (const auto& row : read_rows(OMBRIX_SOURCE_DIR "/tests/host/engine/indexed.tsv")) {
        const auto& c = row.columns;
        ASSERT_EQ(c.size(), 2u) << row.where << ": a row is @CELL and content, or FORMULA and expected value";
        if (c[0][0] == '@') {
            for (Workbook* wb : {&indexed, &plain})
                put(*wb, address(c[0].substr(1)), c[1]);
        } else {
            const CellAddress cell{0, 999 + int(formulas.size()), 30};
            for (Workbook* wb : {&indexed, &plain})
                wb->set_formula(cell, c[0]);
            formulas.push_back(cell);
            EXPECT_TRUE(same(parse_value(c[1]), indexed.value(cell))) << row.where << ": " << c[0];
            ++checked;
        }
        for (const CellAddress& f : formulas)
            EXPECT_TRUE(identical(indexed.value(f), plain.value(f)))
                << row.where << ": " << indexed.formula_text(f) << " gives " << show(indexed.value(f))
                << " with its index, " << show(plain.value(f)) << " without";
    }
    EXPECT_GT(checked, 0);
}

} // namespace
} // namespace enginetest
