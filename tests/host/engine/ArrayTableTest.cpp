// Every tests/host/engine/arrays/NAME.tsv, on a fresh workbook of its own: `@CELL` rows set
// the inputs as in the formula tables. A row `{=FORMULA}	{EXPECTED}` sets a legacy array
// formula over as many cells as EXPECTED has and checks each one; a row `=FORMULA	{EXPECTED}`
// sets a spilling formula and checks its whole spill, and that the spill stops there.
// EXPECTED is written as an array constant: {1,2;3,4}, rows split by ';'.

#include "Fixture.hpp"

namespace enginetest {
namespace {

const std::string dir = OMBRIX_SOURCE_DIR "/tests/host/engine/arrays";

// The values of `{a,b;c,d}` row by row (a single value is 1x1).
std::vector<std::vector<Value>> parse_grid(const std::string& text) {
    std::vector<std::vector<Value>> grid(1);
    if (text.size() < 2 || text.front() != '{' || text.back() != '}') {
        grid[0].push_back(parse_value(text));
        return grid;
    }
    std::string item;
    bool quoted = false;
    for (std::size_t i = 1; i + 1 <= text.size(); ++i) {
        char ch = i + 1 == text.size() ? ';' : text[i];
        if (ch == '"')
            quoted = !quoted;
        if (quoted || (ch != ',' && ch != ';')) {
            item += ch;
            continue;
        }
        grid.back().push_back(parse_value(item));
        item.clear();
        if (ch == ';' && i + 1 < text.size())
            grid.emplace_back();
    }
    for (const auto& row : grid)
        if (row.size() != grid[0].size())
            throw std::runtime_error("the rows of " + text + " differ in length");
    return grid;
}

class ArrayTable : public ::testing::TestWithParam<std::string> {};

TEST_P(ArrayTable, EveryCellOfEveryResult) {
    Workbook wb;
    wb.add_sheet("Sheet1");
    const CellAddress anchor{0, 40000, 200};
    int formulas = 0;
    for (const auto& row : read_rows(dir + "/" + GetParam())) {
        const auto& c = row.columns;
        std::string where = row.where + ": ";
        if (c[0][0] == '@') {
            ASSERT_EQ(c.size(), 2u) << where << "an input is @CELL or @=NAME, a tab, and its content";
            if (c[0].size() > 1 && c[0][1] == '=')
                wb.define_name(c[0].substr(2), c[1]);
            else
                put(wb, at(c[0].substr(1).c_str()), c[1]);
            continue;
        }
        ASSERT_TRUE(c.size() == 2 || c.size() == 3) << where << "a row is FORMULA, EXPECTED[, TOLERANCE]";
        const auto expected = parse_grid(c[1]);
        const double tolerance = c.size() == 3 ? std::stod(c[2]) : 1e-12;
        const auto rows = std::int32_t(expected.size()), cols = std::int32_t(expected[0].size());
        const bool legacy = c[0].size() > 2 && c[0].front() == '{' && c[0].back() == '}';
        try {
            if (legacy)
                wb.set_array_formula(anchor, c[0].substr(1, c[0].size() - 2), rows, cols);
            else
                wb.set_spilling_formula(anchor, c[0]);
        } catch (const std::exception& e) {
            ADD_FAILURE() << where << c[0] << ": " << e.what();
            continue;
        }
        wb.recalculate();
        for (std::int32_t r = 0; r < rows; ++r)
            for (std::int32_t k = 0; k < cols; ++k) {
                const Value& got = wb.value({0, anchor.row + r, anchor.col + k});
                EXPECT_TRUE(same(expected[std::size_t(r)][std::size_t(k)], got, tolerance))
                    << where << c[0] << " at row " << r + 1 << ", column " << k + 1;
            }
        if (!legacy) {
            EXPECT_TRUE(wb.value({0, anchor.row + rows, anchor.col}).is_empty()) << where << c[0] << ": spills lower";
            EXPECT_TRUE(wb.value({0, anchor.row, anchor.col + cols}).is_empty()) << where << c[0] << ": spills wider";
        }
        wb.clear(anchor);
        wb.recalculate();
        EXPECT_TRUE(wb.value({0, anchor.row + rows - 1, anchor.col + cols - 1}).is_empty())
            << where << c[0] << ": its cells outlive it";
        ++formulas;
    }
    EXPECT_GT(formulas, 0) << GetParam() << " has no formulas";
}

// What a spill does to the cells around it, step by step: each row writes one cell (a value,
// `=FORMULA` for a spilling formula, or `blank` to clear it) or a block (`{=FORMULA}` a legacy
// array formula over it, `merged` to merge its cells) and then checks one cell.
struct SpillStep {
    const char* cell;
    const char* content;
    const char* check;
    const char* expected;
};

TEST(Spills, BlockedFollowedAndRead) {
    const SpillStep steps[] = {
        {"A1", "=SEQUENCE(3)", "A3", "3"},
        {"B2", "=A2*10", "B2", "20"},   // a formula reading a spilled cell
        {"C1", "=SUM(A1#)", "C1", "6"}, // the whole spill by its anchor
        {"D1", "=ROWS(A1#)", "D1", "3"},
        {"A1", "=SEQUENCE(4,1,5)", "B2", "60"}, // the spill recomputed, its readers follow
        {"C1", "blank", "C1", "blank"},
        {"C5", "=SUM(A1#)", "C5", "26"},
        {"A3", "9", "A1", "#SPILL!"},   // a value in the way
        {"A2", "blank", "A2", "blank"}, // the blocked spill leaves its cells
        {"C6", "=A2+1", "C6", "1"},
        {"A3", "blank", "A2", "6"}, // the way clear again
        {"C6", "=A2+1", "C6", "7"},
        {"E1", "=A1:A2*2", "E2", "12"},
        {"F1", "=@A1:A4", "F1", "5"}, // @: one value by implicit intersection
        {"F2", "=@A1:A4", "F2", "6"},
        {"G1", "=_xlfn.SINGLE(A1:A4)", "G1", "5"}, // the forms files write
        {"G2", "=SUM(_xlfn.ANCHORARRAY(A1))", "G2", "26"},
        {"H1", "=SUM(B1#)", "H1", "#REF!"}, // not an array formula's cell
        {"A4", "=1", "A1", "#SPILL!"},      // a formula in the way
        {"H2", "=SUM(A1#)", "H2", "#SPILL!"},
        {"E5", "={1,2}", "F5", "2"},
        {"F5", "3", "E5", "#SPILL!"},
        {"J1:J2", "{={4;5}}", "J2", "5"},
        {"K1", "=SUM(J1#)", "K1", "9"}, // a legacy array's range, as the spreadsheet's files have it
        {"K2", "=ROWS(J2#)", "K2", "#REF!"},
        {"L2:M2", "merged", "L2", "blank"},
        {"L1", "=SEQUENCE(2)", "L1", "#SPILL!"}, // no spill into merged cells
        {"L1", "=SEQUENCE(1,2)", "M1", "2"},     // beside them
        {"L4", "=SEQUENCE(2,2)", "M5", "4"},
        {"M4:M5", "merged", "M5", "4"},            // (as the file says before it is calculated)
        {"L4", "=SEQUENCE(2,2)", "L4", "#SPILL!"}, // calculated again
        {"N1:N2", "merged", "N1", "blank"},
        {"N1", "=SEQUENCE(2)", "N1", "#SPILL!"}, // nor from one
        {"N1", "=SEQUENCE(1)", "N1", "1"},       // a single value stays in its merged cell
        {"O1", "={1;2;3}", "O3", "3"},
        {"K3", "=SUM(O1#)", "K3", "6"},
        {"K4", "=FORMULATEXT(J2)", "K4", "\"{={4;5}}\""}, // a legacy array's formula, in its braces in each cell
        {"K5", "=FORMULATEXT(O1)", "K5", "\"={1;2;3}\""}, // a spilling one without
    };
    Workbook wb;
    wb.add_sheet("Sheet1");
    wb.set_automatic(true);
    for (const SpillStep& s : steps) {
        std::string content = s.content;
        const std::string cell = s.cell;
        if (cell.find(':') != std::string::npos) {
            const CellAddress first = at(cell.substr(0, cell.find(':')).c_str());
            const CellAddress last = at(cell.substr(cell.find(':') + 1).c_str());
            if (content == "merged")
                wb.merge_cells({0, first.row, first.col, last.row, last.col});
            else
                wb.set_array_formula(first, content.substr(2, content.size() - 3), last.row - first.row + 1,
                                     last.col - first.col + 1);
        } else if (content[0] == '=')
            wb.set_spilling_formula(at(s.cell), content);
        else
            wb.set_value(at(s.cell), parse_value(content));
        EXPECT_TRUE(same(parse_value(s.expected), wb.value(at(s.check))))
            << s.cell << " := " << s.content << ", then " << s.check << " is " << show(wb.value(at(s.check)));
    }
}

// A defined name with references without '$' means, for each cell using it, the cells it
// would reach had it been written in A1 and copied there (wrapping around the sheet).
TEST(RelativeNames, MoveWithTheCellUsingThem) {
    struct Case {
        const char* cell;
        const char* formula;
        double expected;
    };
    const Case cases[] = {
        {"A10", "=SUM(COLUMN_DATA)", 15},  // A$4:A$8 from column A
        {"B10", "=SUM(COLUMN_DATA)", 150}, // ... and from column B: B$4:B$8
        {"C3", "=LEFT_CELL*2", 14},        // XFD1 from A1 is the cell to the left
        {"B12", "=SUM(FIXED)", 15},        // $A$4:$A$8 stays
    };
    Workbook wb;
    wb.add_sheet("Sheet1");
    for (int r = 4; r <= 8; ++r) {
        wb.set_value({0, r - 1, 0}, Value::number(r - 3));
        wb.set_value({0, r - 1, 1}, Value::number(10 * (r - 3)));
    }
    wb.set_value(at("B3"), Value::number(7));
    wb.define_name("COLUMN_DATA", "Sheet1!A$4:A$8");
    wb.define_name("LEFT_CELL", "Sheet1!XFD1");
    wb.define_name("FIXED", "Sheet1!$A$4:$A$8");
    for (const Case& c : cases)
        wb.set_formula(at(c.cell), c.formula);
    wb.recalculate();
    for (const Case& c : cases)
        EXPECT_TRUE(same(N(c.expected), wb.value(at(c.cell))))
            << c.cell << " " << c.formula << ": " << show(wb.value(at(c.cell)));
    wb.set_value(at("B5"), Value::number(1000)); // the moved copy is followed as a dependency
    wb.recalculate();
    EXPECT_TRUE(same(N(1130), wb.value(at("B10"))));
    EXPECT_EQ(wb.names(), (std::vector<std::string>{"COLUMN_DATA", "FIXED", "LEFT_CELL"}));
}

// Structured references written inside their own table, without its name (as a totals row's
// SUBTOTAL(109,[Qty]) is): Sales is A1:C4, its header row 1, its totals row 4. Plain is
// H1:H3 without a totals row: with the data, [#Totals] adds nothing; alone it is #REF!.
// QtyHere names Sales[[#This Row],[Qty]].
TEST(Tables, ColumnsWithoutTheTableName) {
    struct Case {
        const char* cell;
        const char* formula;
        const char* expected;
    };
    const Case cases[] = {
        {"C2", "=[@Qty]*2", "10"},
        {"C3", "=[@[Qty]]*2", "14"},
        {"B4", "=SUBTOTAL(109,[Qty])", "12"},
        {"C4", "=SUM([Twice])+ROWS([#Data])", "26"},
        {"A4", "=COUNTA(Sales[[#Data],[Item]:[Qty]])", "4"},
        {"E1", "=SUM([Qty])", "#REF!"}, // outside any table
        {"E2", "=SUM(Sales[[#Data],[#Totals],[Qty]])", "24"},
        {"E3", "=SUM(Plain[[#Data],[#Totals],[a]])", "3"},
        {"E4", "=SUM(Plain[[#Headers],[#Data],[a]])", "3"},
        {"E5", "=SUM(Plain[[#Totals],[a]])", "#REF!"},
        // a name's [#This Row] is the row of the formula using it, inside the table or not
        {"F2", "=QtyHere", "5"},
        {"F3", "=QtyHere+Sales[@Qty]", "14"},
        {"F5", "=QtyHere", "#VALUE!"},
    };
    Workbook wb;
    wb.add_sheet("Sheet1");
    put(wb, at("A1"), "\"Item\"");
    put(wb, at("B1"), "\"Qty\"");
    put(wb, at("C1"), "\"Twice\"");
    put(wb, at("A2"), "\"x\"");
    put(wb, at("B2"), "5");
    put(wb, at("A3"), "\"y\"");
    put(wb, at("B3"), "7");
    host::engine::TableDef sales;
    sales.name = "Sales";
    sales.first_row = 0, sales.first_col = 0, sales.last_row = 3, sales.last_col = 2;
    sales.columns = {"Item", "Qty", "Twice"};
    sales.totals_row = true;
    wb.define_table(sales);
    put(wb, at("H1"), "\"a\"");
    put(wb, at("H2"), "1");
    put(wb, at("H3"), "2");
    host::engine::TableDef plain;
    plain.name = "Plain";
    plain.first_row = 0, plain.first_col = 7, plain.last_row = 2, plain.last_col = 7;
    plain.columns = {"a"};
    wb.define_table(plain);
    wb.define_name("QtyHere", "Sales[[#This Row],[Qty]]");
    for (const Case& c : cases)
        wb.set_formula(at(c.cell), c.formula);
    wb.recalculate();
    for (const Case& c : cases)
        EXPECT_TRUE(same(parse_value(c.expected), wb.value(at(c.cell)))) << c.cell << " " << c.formula;
}

// Data tables: a formula's value with its input cells set to the values along the table's
// edges. The model: A1 the rate (the input), A2 the quantity, B1 = A1*A2 between them.
// E2:F4 takes column A1's values from D2:D4 into the formulas E1 and F1; L2:M3 takes the row
// input A1's values from L1:M1 into K2 and K3; I2:J3 takes row input A1 from I1:J1 and column
// input A2 from H2:H3 into H1. Each step writes one cell, then checks one.
TEST(DataTables, SubstituteTheirInputsAndFollowTheirFormulas) {
    const char* const model[][2] = {
        {"A1", "2"},   {"A2", "10"}, {"B1", "=A1*A2"}, {"E1", "=B1+1"},  {"F1", "=A2*2"}, {"D2", "1"},
        {"D3", "2"},   {"D4", "3"},  {"K2", "=B1+1"},  {"K3", "=A1-A2"}, {"L1", "5"},     {"M1", "6"},
        {"H1", "=B1"}, {"I1", "3"},  {"J1", "4"},      {"H2", "1"},      {"H3", "\"x\""}, {"N1", "=E3*2"},
    };
    const SpillStep steps[] = {
        {"A1", "2", "E2", "11"},                                    // 1*10+1
        {"A1", "2", "E4", "31"},        {"A1", "2", "F3", "20"},    // a formula that does not read the input
        {"A1", "2", "B1", "20"},                                    // the input and what reads it are put back
        {"A1", "2", "N1", "42"},                                    // a formula reading a table's cell
        {"A1", "2", "L2", "51"},                                    // 5*10+1
        {"A1", "2", "M3", "-4"},                                    // 6-10
        {"A1", "2", "I2", "3"},                                     // 3*1
        {"A1", "2", "J2", "4"},                                     // 4*1
        {"A1", "2", "J3", "#VALUE!"},                               // 4*"x"
        {"A2", "100", "E3", "201"},                                 // through the formulas' precedents
        {"A2", "100", "N1", "402"},     {"D3", "7", "E3", "701"},   // an edge's value
        {"E1", "=B1*2", "E2", "200"},                               // the formula itself
        {"A1", "3", "E2", "200"},                                   // the input's own value does not matter
        {"A1", "3", "B1", "300"},       {"L1", "blank", "L2", "1"}, // a blank input value: 0*100+1
        {"E3", "5", "E3", "5"},                                     // a table's cell written over keeps the value
        {"E2", "blank", "E4", "blank"},                             // the table goes with its first cell
    };
    Workbook wb;
    wb.add_sheet("Sheet1");
    wb.set_automatic(true);
    for (const auto& cell : model)
        put(wb, at(cell[0]), cell[1]);
    auto table = [&](const char* first, const char* last, const char* row_input, const char* column_input) {
        host::engine::DataTableDef t;
        t.cells = host::engine::CellRange{0, at(first).row, at(first).col, at(last).row, at(last).col};
        t.has_row_input = row_input != nullptr;
        t.has_column_input = column_input != nullptr;
        if (row_input)
            t.row_input = at(row_input);
        if (column_input)
            t.column_input = at(column_input);
        wb.set_data_table(t);
    };
    table("E2", "F4", nullptr, "A1");
    table("L2", "M3", "A1", nullptr);
    table("I2", "J3", "A1", "A2");
    EXPECT_EQ(wb.formula_text(at("E2")), "TABLE(,A1)");
    EXPECT_EQ(wb.formula_text(at("I2")), "TABLE(A1,A2)");
    for (const SpillStep& s : steps) {
        put(wb, at(s.cell), s.content);
        EXPECT_TRUE(same(parse_value(s.expected), wb.value(at(s.check))))
            << s.cell << " := " << s.content << ", then " << s.check << " is " << show(wb.value(at(s.check)));
    }
    EXPECT_THROW(table("B2", "B3", nullptr, "B3"), host::engine::EngineError) << "an input inside the table";
    EXPECT_THROW(table("A2", "B3", nullptr, nullptr), host::engine::EngineError) << "no input";
    EXPECT_THROW(table("A1", "B3", nullptr, "C9"), host::engine::EngineError) << "no row above it";
}

INSTANTIATE_TEST_SUITE_P(Arrays, ArrayTable, ::testing::ValuesIn(files_in(dir, ".tsv")),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param.substr(0, info.param.size() - 4);
                             std::replace(name.begin(), name.end(), '-', '_');
                             return name;
                         });

} // namespace
} // namespace enginetest
