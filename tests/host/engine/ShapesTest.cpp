// Formulas filled down a column share one compiled program: each cell of the block must still
// compute what the same formula computes alone, keep the text it was given, and change like
// any other cell when it is overwritten.

#include "Fixture.hpp"

#include <set>

namespace enginetest {
namespace {

using Shapes = Engine;

// Each written in C2 and filled down to C41; A and B hold the inputs, C1 is empty.
const char* const filled_down[] = {
    "A2*0.5+SIN(B$1)*0.25+B$1/(1+ABS(C1))",
    "A2/B2",
    "IF(A2>B2,A2-B2,SUM(A$2:A2))",
    "a2+1", // moving it would not give back its spelling: it keeps a program of its own
    "A2^B2",
    "SQRT(A2)+LN(B2)",
    "(A2=B2)+(A2<>B2)*2",
    "AVERAGE(A2:B2)",
    "MAX(A1:B2)-MIN($A$2:$B$3)",
    "C1+A2",
    "-A2%",
    "A2",
    "PRODUCT(A2,B2,2)",
    "Sheet1!A2 - B1",
    "A2*3-A2-A2-A2", // sums that nearly cancel are 0
    "(A2+B2)-A2-B2",
    "SIN(B$1)+COS(B$1)*EXP(A2/1000)", // each row's function of B1: the last answer taken again for the same B1
    "TAN($B$1)-ATAN(A2)+LN(B$1)+EXP(B$1)",
    "C1/2+SIN(B$1)-ATAN($B$1)*LN(B$1)", // one cell after the other
};

// The inputs, taken in turn from a different place in each round.
const Value inputs[] = {N(3),   N(-2), Value(),  T("x"), Value::boolean(true),  E(ErrorCode::Div0), N(0),
                        N(0.1), N(2),  N(1e300), T("4"), Value::boolean(false), N(-0.000001),       N(7)};
constexpr int first_row = 1, last_row = 40; // rows 2 to 41: more cells than one run of lanes
constexpr int inputs_count = int(sizeof inputs / sizeof inputs[0]);

// Column C holds the block; column D the same formulas as CHOOSE(1, ...), which the general
// evaluator computes alone, to compare with.
TEST_F(Shapes, EachCellOfABlockAsTheFormulaAlone) {
    for (const char* formula : filled_down) {
        Workbook book;
        book.add_sheet("Sheet1");
        std::vector<std::string> texts;
        for (int row = first_row; row <= last_row; ++row) {
            texts.push_back(host::engine::move_formula(formula, row - first_row, 0));
            book.set_formula({0, row, 2}, texts.back());
            book.set_formula({0, row, 3}, "CHOOSE(1," + texts.back() + ")");
        }
        for (int round = 0; round < 4; ++round) {
            for (int row = 0; row <= last_row + 1; ++row) {
                book.set_value({0, row, 0}, inputs[(row * 3 + round * 5) % inputs_count]);
                book.set_value({0, row, 1}, inputs[(row * 7 + round) % inputs_count]);
            }
            book.recalculate();
            for (int row = first_row; row <= last_row; ++row) {
                const Value& block = book.value({0, row, 2});
                const Value& alone = book.value({0, row, 3});
                EXPECT_TRUE(block == alone) << formula << " in row " << row + 1 << ", round " << round << ": "
                                            << show(block) << " filled down, " << show(alone) << " alone";
            }
        }
        for (int row = first_row; row <= last_row; ++row)
            EXPECT_EQ(texts[std::size_t(row - first_row)], book.formula_text({0, row, 2}));
    }
}

// A block filled right as well as down (C2:H25): its rows run side by side where they read
// none of each other. Each cell against the same formula computed alone in a second book.
TEST_F(Shapes, WideBlocksAsTheFormulasAlone) {
    constexpr int rows = 24, cols = 6, first_col = 2;
    for (const char* formula : filled_down) {
        Workbook block, alone;
        for (Workbook* book : {&block, &alone})
            book->add_sheet("Sheet1");
        for (int r = 0; r < rows; ++r)
            for (int c = 0; c < cols; ++c) {
                const std::string text = host::engine::move_formula(formula, r, c);
                block.set_formula({0, first_row + r, first_col + c}, text);
                alone.set_formula({0, first_row + r, first_col + c}, "CHOOSE(1," + text + ")");
            }
        for (int round = 0; round < 3; ++round) {
            for (Workbook* book : {&block, &alone}) {
                for (int r = 0; r <= rows + 1; ++r)
                    for (int c = 0; c < first_col; ++c)
                        book->set_value({0, r, c}, inputs[(r * 5 + c * 3 + round * 7) % inputs_count]);
                for (int c = first_col; c < first_col + cols; ++c)
                    book->set_value({0, 0, c}, inputs[(c * 11 + round) % inputs_count]);
                book->recalculate();
            }
            for (int r = first_row; r < first_row + rows; ++r)
                for (int c = first_col; c < first_col + cols; ++c) {
                    const Value& a = block.value({0, r, c});
                    const Value& b = alone.value({0, r, c});
                    EXPECT_TRUE(a == b) << formula << " at row " << r + 1 << ", column " << c + 1 << ", round " << round
                                        << ": " << show(a) << " in the block, " << show(b) << " alone";
                }
        }
    }
}

// Many shapes interleaved row by row, more cells than the engine lays out in its
// recalculation's order (the cells of a shape run together though rows apart): each cell as
// the same formula alone in column D, through rounds of inputs, cells written over and given
// back their formula (which free and take again the shapes' entries).
struct Round {
    double b1, c1;
    const char* overwrite; // a cell of the block given a constant, or none
    const char* restore;   // a cell given back its formula, or none
};
const Round rounds[] = {
    {1, 2, nullptr, nullptr},  {-3.5, 0.25, "C100", nullptr}, {-3.5, 0.25, "C4000", "C100"}, {2, 4, nullptr, nullptr},
    {1e-3, -7, "C2", "C4000"}, {0, 0, nullptr, "C2"},         {5, -5, "C5001", nullptr},
};

TEST_F(Shapes, ManyShapesRowsApartAsTheFormulasAlone) {
    constexpr int rows = 5000;
    auto text = [](int i) { // 1,001 shapes (7 x 11 x 13), the cells of each 1,001 rows apart
        return "($B$1-" + std::to_string(i % 7) + ")^2+SIN($C$1*" + std::to_string(1 + i % 11) + ")*" +
               std::to_string(i % 13) + "/10";
    };
    for (int i = 0; i < rows; ++i) {
        wb.set_formula({0, i + 1, 2}, text(i));
        wb.set_formula({0, i + 1, 3}, "CHOOSE(1," + text(i) + ")");
    }
    std::set<int> constants; // rows of the block written over
    for (const Round& r : rounds) {
        if (r.overwrite) {
            wb.set_value(at(r.overwrite), N(-1));
            constants.insert(at(r.overwrite).row);
        }
        if (r.restore) {
            wb.set_formula(at(r.restore), text(at(r.restore).row - 1));
            constants.erase(at(r.restore).row);
        }
        wb.set_values({{at("B1"), N(r.b1)}, {at("C1"), N(r.c1)}});
        wb.recalculate();
        for (int row = 1; row <= rows; ++row) {
            if (constants.count(row))
                continue;
            const Value& block = wb.value({0, row, 2});
            const Value& alone = wb.value({0, row, 3});
            ASSERT_TRUE(block == alone) << "row " << row + 1 << ", B1 " << r.b1 << ": " << show(block)
                                        << " in the block, " << show(alone) << " alone";
        }
    }
}

// What the cells of a block answer as cells: their text, that they are formulas, and that
// they change as any cell when written over.
TEST_F(Shapes, CellsOfABlockAsCells) {
    for (int row = 1; row <= 20; ++row)
        wb.set_formula({0, row, 1}, host::engine::move_formula("B1+A2", row - 1, 0));
    for (int row = 0; row <= 20; ++row)
        wb.set_value({0, row, 0}, N(row));
    wb.set_formula(at("D1"), "FORMULATEXT(B7)&ISFORMULA(B8)&SUBTOTAL(9,B2:B3)");
    wb.recalculate();
    EXPECT_TRUE(same(T("=B6+A7TRUE4"), wb.value(at("D1"))));
    EXPECT_TRUE(wb.depends_on(at("B21"), {0, 4, 0, 4, 0}));
    EXPECT_FALSE(wb.depends_on(at("B5"), {0, 5, 0, 5, 0}));

    wb.set_value(at("B11"), N(-1000)); // the block loses a cell in its middle
    wb.set_formula(at("B15"), "B14*2");
    wb.recalculate();
    EXPECT_TRUE(same(N(-1000 + 11), wb.value(at("B12"))));
    EXPECT_TRUE(same(N(2 * (-1000 + 11 + 12 + 13)), wb.value(at("B15"))));
    EXPECT_TRUE(same(N(2 * (-1000 + 11 + 12 + 13) + 15 + 16), wb.value(at("B17"))));
    EXPECT_FALSE(wb.is_formula(at("B11")));
    EXPECT_EQ("B14*2", wb.formula_text(at("B15")));
    EXPECT_EQ("B16+A17", wb.formula_text(at("B17")));

    // A cell that gives the numeric program up (text) computes in the general evaluator,
    // and back again.
    wb.set_value(at("A13"), T("x"));
    wb.recalculate();
    EXPECT_TRUE(same(E(ErrorCode::Value), wb.value(at("B21"))));
    wb.set_value(at("A13"), N(1));
    wb.recalculate();
    EXPECT_TRUE(same(N(wb.value(at("B12")).as_number() + 1), wb.value(at("B13"))));

    // A spill may not cover a cell of a block.
    wb.set_spilling_formula(at("B1"), "SEQUENCE(3)");
    wb.recalculate();
    EXPECT_TRUE(same(E(ErrorCode::Spill), wb.value(at("B1"))));
}

// A cell given another cell's formula of a block without its text (a shared formula's cells
// as a file is loaded), against the same cell given the moved text: where the placement is
// taken it must be the formula the text gives, and where it is refused nothing may change.
struct Placement {
    const char* formula; // in C2, and moved to C10 so that the two found a block
    const char* cell;    // given C2's formula
    bool placed;         // false: the caller moves the text itself
};
const Placement placements[] = {
    {"A2*0.5+SIN(B$1)*0.25+B$1/(1+ABS(C1))", "C40", true},
    {"A2*0.5+SIN(B$1)*0.25+B$1/(1+ABS(C1))", "F7", true}, // to the right: B$1 becomes E$1
    {"AVERAGE(A2:B2)+Sheet2!A2", "E5", true},
    {"SUM($A$2:$B$3)*A4", "C20", true},
    {"SUM(A$2:A2)", "C5", false},                // the range's corners move differently
    {"MAX(A1:B2)-MIN($A$2:$B$3)", "C20", false}, // A2 read both absolute and relative
    {"A2+$A$3", "C3", false},                    // A3 and $A$3: one cell where two were
    {"A1+B1", "C1", false},                      // A0 is off the grid
    {"a2+1", "C5", false},                       // no block: its spelling does not move
    {"A2*2", "C5:Sheet2", false},                // another sheet
};

TEST_F(Shapes, CellsPlacedWithoutTheirText) {
    for (const Placement& p : placements) {
        std::string cell = p.cell;
        const int sheet = cell.find(":Sheet2") != std::string::npos ? 1 : 0;
        cell = cell.substr(0, cell.find(':'));
        const CellAddress target = at(cell.c_str(), sheet);
        Workbook placed, written;
        for (Workbook* book : {&placed, &written}) {
            book->add_sheet("Sheet1");
            book->add_sheet("Sheet2");
            book->set_formula(at("C2"), p.formula);
            book->set_formula(at("C10"), host::engine::move_formula(p.formula, 8, 0));
        }
        const std::string moved = host::engine::move_formula(p.formula, target.row - 1, target.col - 2);
        written.set_formula(target, moved);
        EXPECT_EQ(p.placed, placed.set_moved_formula(target, at("C2"))) << p.formula << " in " << p.cell;
        if (!p.placed) {
            EXPECT_FALSE(placed.is_formula(target)) << p.formula << " in " << p.cell;
            placed.set_formula(target, moved);
        }
        EXPECT_EQ(moved, placed.formula_text(target)) << p.formula << " in " << p.cell;
        for (int round = 0; round < 3; ++round) {
            for (Workbook* book : {&placed, &written})
                for (int s = 0; s < 2; ++s)
                    for (int row = 0; row < 45; ++row)
                        for (int col = 0; col < 6; ++col)
                            if (col != 2 && !(s == sheet && row == target.row && col == target.col))
                                book->set_value({s, row, col}, N(row * 7 + col * 3 + round + s));
            placed.recalculate();
            written.recalculate();
            EXPECT_TRUE(same(written.value(target), placed.value(target), 0))
                << p.formula << " in " << p.cell << ", round " << round;
        }
    }
}

} // namespace
} // namespace enginetest
