// Cells and ranges read and written through the fake spreadsheet, and the vector
// references built on them.

#include "FakeExcel.hpp"

#include "excel/Cell.hpp"
#include "excel/ExcelException.hpp"
#include "excel/Range.hpp"
#include "solver/VectorRef.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using bridge_fake::fake;
using Msg = excel::ExcelException;
using V = std::vector<double>;

namespace {

class Sheet : public ::testing::Test {
protected:
    // A1:C2 holds 1 2 3 / 4 5 6 on the active sheet.
    void SetUp() override
    {
        bridge_fake::reset();
        for (int i = 0; i < 6; ++i)
            fake().put(i / 3, i % 3, i + 1);
    }
    void TearDown() override { EXPECT_TRUE(fake().allocated.empty()) << "arrays not freed"; }

    static V row_major(int rows, int cols, IDSHEET sheet = 1)
    {
        V v;
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j)
                v.push_back(fake().at(i, j, sheet).num);
        return v;
    }
};

TEST_F(Sheet, CellAddressesItsRowAndColumn)
{
    excel::Cell c("C5");
    EXPECT_EQ(c.xltype, xltypeSRef);
    const XLREF& r = c.val.sref.ref;
    EXPECT_EQ(std::vector<int>({r.rwFirst, r.rwLast, r.colFirst, r.colLast}),
              std::vector<int>({4, 4, 2, 2}));
    c.set(-2.5);
    EXPECT_EQ(fake().at(4, 2).num, -2.5);
    EXPECT_EQ(excel::Cell(excel::CellRef(2, 4, true, false)).get_as_double(), -2.5);
}

TEST_F(Sheet, CellFailures)
{
    fake().put(0, 0, 7, xltypeErr);
    EXPECT_EQ(bridge_fake::message_of<Msg>([] { excel::Cell("A1").get_as_double(); }),
              "Failed to get cell value as double");
    fake().put_str(0, 0, "text");
    EXPECT_EQ(bridge_fake::message_of<Msg>([] { excel::Cell("A1").get_as_double(); }),
              "Failed to get cell value as double");
    fake().forced[xlSet] = xlretFailed;
    EXPECT_EQ(bridge_fake::message_of<Msg>([] { excel::Cell("A1").set(1); }), "Failed to set cell");
    for (const excel::CellRef& off : {excel::CellRef(256, 0, false, false),
                                      excel::CellRef(0, -1, false, false),
                                      excel::CellRef(0, 65536, false, false)})
        EXPECT_EQ(bridge_fake::message_of<Msg>([&] { excel::Cell c(off); }), "Cell reference lies outside the sheet");
}

TEST_F(Sheet, NamedSheetIsTheSheetThatIsWritten)
{
    std::vector<excel::Cell> cells;
    {
        excel::Cell on_sheet2("Sheet2!B1");
        EXPECT_EQ(on_sheet2.xltype, xltypeRef);
        cells.push_back(on_sheet2);  // a copy must keep its own reference list
        cells.push_back(excel::Cell("'[Book1]Sheet3'!$A$1"));
    }
    cells[0].set(7);
    cells[1].set(8);
    EXPECT_EQ(fake().at(0, 1, 2).num, 7);
    EXPECT_EQ(fake().at(0, 0, 3).num, 8);
    EXPECT_EQ(fake().at(0, 1).num, 2);  // the active sheet's B1 untouched
    EXPECT_EQ(fake().at(0, 0).num, 1);
    EXPECT_EQ(cells[0].get_as_double(), 7);

    EXPECT_EQ(bridge_fake::message_of<Msg>([] { excel::Cell c("Sheet9!A1"); }), "No sheet named 'Sheet9' is open");
    EXPECT_EQ(bridge_fake::message_of<Msg>([] { excel::Cell c("[Book2]Sheet1!A1"); }),
              "No sheet named '[Book2]Sheet1' is open");
    EXPECT_EQ(bridge_fake::message_of<Msg>([] { excel::Cell c("[Book1]!A1"); }),
              "The reference names the book 'Book1' but no sheet");

    fake().put(0, 0, 10, xltypeNum, 2);
    fake().put(1, 0, 20, xltypeNum, 2);
    excel::Range r("Sheet2!A1:A2");
    V v;
    r.get(v);
    EXPECT_EQ(v, (V{10, 20}));
    r.set(V{30, 40});
    EXPECT_EQ(fake().at(1, 0, 2).num, 40);
    EXPECT_EQ(fake().at(1, 0).num, 4);
}

TEST_F(Sheet, RangeReaders)
{
    excel::Range r("A1:C2");
    EXPECT_EQ(r.height(), 2);
    EXPECT_EQ(r.width(), 3);
    V v(10, 9.0);
    r.get(v);
    EXPECT_EQ(v, (V{1, 2, 3, 4, 5, 6}));
    r.get_col_vector(v);
    EXPECT_EQ(v, (V{1, 4}));
    r.get_row_vector(v);
    EXPECT_EQ(v, (V{1, 2, 3}));

    excel::RangeRef one;
    ASSERT_TRUE(excel::RangeRef::coerce_to_range("B2", one));
    excel::Range cell(one);
    EXPECT_EQ(cell.height(), 1);
    EXPECT_EQ(cell.width(), 1);
    cell.get(v);
    EXPECT_EQ(v, V{5});
}

TEST_F(Sheet, RangeReadersRefuseAnythingButNumbers)
{
    excel::Range r("A1:C2");
    V v;
    fake().cells.erase({1, {1, 0}});  // A2 empty: in the first column, not the first row
    EXPECT_EQ(bridge_fake::message_of<Msg>([&] { r.get(v); }), "range element not a double");
    EXPECT_EQ(bridge_fake::message_of<Msg>([&] { r.get_col_vector(v); }), "Column element not a double");
    r.get_row_vector(v);
    EXPECT_EQ(v, (V{1, 2, 3}));
    fake().put_str(0, 2, "x");  // C1: first row only
    EXPECT_EQ(bridge_fake::message_of<Msg>([&] { r.get_row_vector(v); }), "Row element not a double");
    fake().put(1, 0, 4);
    fake().put(0, 2, 42, xltypeErr);
    v.assign(1, 9.0);
    EXPECT_EQ(bridge_fake::message_of<Msg>([&] { r.get(v); }), "range element not a double");
    EXPECT_EQ(v, (V{1, 2, 0, 0, 0, 0}));  // resized; what was copied before the refusal stays
}

TEST_F(Sheet, RangeLookupFailures)
{
    excel::Range r("A1:C2");
    V v;
    fake().forced[xlCoerce] = xlretFailed;
    EXPECT_EQ(bridge_fake::message_of<Msg>([&] { r.get(v); }), "Range lookup failed");
    fake().forced.clear();
    for (auto shape : {std::make_pair(2, 2), std::make_pair(3, 3), std::make_pair(1, 3)}) {
        fake().coerce_shape = shape;
        EXPECT_EQ(bridge_fake::message_of<Msg>([&] { r.get(v); }), "Range lookup width mismatch");
    }
    EXPECT_EQ(fake().count(xlFree), 3);
}

TEST_F(Sheet, RangeWriters)
{
    excel::Range r("A1:C2");
    r.set_cols(V{7, 8});
    EXPECT_EQ(row_major(2, 3), (V{7, 7, 7, 8, 8, 8}));
    r.set_rows(V{7, 8, 9});
    EXPECT_EQ(row_major(2, 3), (V{7, 8, 9, 7, 8, 9}));
    r.set(V{1, 2, 3, 4, 5, 6});
    EXPECT_EQ(row_major(2, 3), (V{1, 2, 3, 4, 5, 6}));

    const int sets = fake().count(xlSet);
    struct Case { std::function<void()> write; const char* message; };
    const Case refusals[] = {
        {[&] { r.set(V{9, 9, 9, 9, 9}); }, "Range set size mismatch"},
        {[&] { r.set_cols(V{9, 9, 9}); }, "Range set column length mismatch"},
        {[&] { r.set_rows(V{9, 9}); }, "Range set row length mismatch"}};
    for (const Case& c : refusals)
        EXPECT_EQ(bridge_fake::message_of<Msg>(c.write), c.message);
    EXPECT_EQ(fake().count(xlSet), sets);  // nothing written
    EXPECT_EQ(row_major(2, 3), (V{1, 2, 3, 4, 5, 6}));

    fake().forced[xlSet] = xlretFailed;
    EXPECT_EQ(bridge_fake::message_of<Msg>([&] { r.set(V{1, 2, 3, 4, 5, 6}); }), "Failed to set range");
    EXPECT_EQ(bridge_fake::message_of<Msg>([&] { r.set_cols(V{1, 2}); }), "Failed to set range");
    EXPECT_EQ(bridge_fake::message_of<Msg>([&] { r.set_rows(V{1, 2, 3}); }), "Failed to set range");
}

TEST_F(Sheet, RangeOffTheSheetIsRefused)
{
    EXPECT_EQ(bridge_fake::message_of<Msg>([] { excel::Range r("A1:IW2"); }), "Range reference lies outside the sheet");
    EXPECT_EQ(bridge_fake::message_of<Msg>([] { excel::Range r("A0:B2"); }), "Range reference lies outside the sheet");
    EXPECT_EQ(bridge_fake::message_of<Msg>([] { excel::Range r("Sheet9!A1:B2"); }), "No sheet named 'Sheet9' is open");
}

TEST_F(Sheet, VectorShapes)
{
    excel::RangeRef range;
    for (const char* ok : {"A1:C1", "A1:A3", "B2", "$C$3:C9"})
        EXPECT_NO_THROW(solver::as_vector(ok, "variable", range)) << ok;
    solver::as_vector("C3:A3", "variable", range);
    EXPECT_EQ(range.first.x, 0);
    EXPECT_EQ(range.end.x, 3);

    struct Case { const char* text; const char* name; const char* message; };
    const Case refusals[] = {
        {"", "Min", "Expected Min vector"},
        {"A1:", "Max", "Expected Max vector"},
        {"Sheet1!A1:Sheet2!B2", "variable", "Expected variable vector"},
        {"A1:B2", "Max", "Max vector must be a row or column"}};
    for (const Case& c : refusals)
        EXPECT_EQ(bridge_fake::message_of<Msg>([&] { solver::as_vector(c.text, c.name, range); }), c.message) << c.text;
}

TEST_F(Sheet, BoundVectors)
{
    fake().put(2, 0, 1);
    fake().put(2, 1, 2);
    fake().put(2, 2, 3);
    const V three(3);
    EXPECT_EQ(solver::get_constant_vector("A3:C3", "Max", three), (V{1, 2, 3}));
    EXPECT_EQ(solver::get_constant_vector("A1:A2", "Min", V(2)), (V{1, 4}));

    struct Case { const char* text; const char* name; const char* message; };
    const Case refusals[] = {
        {"A3:B3", "Max", "Max vector has different size from variable vector"},
        {"A3:D3", "Min", "Failed to read Min vector. Ensure all values are numbers"},
        {"", "Min", "Expected Min vector"},
        {"A1:B2", "Max", "Max vector must be a row or column"},
        {"Sheet9!A1:C1", "Min", "No sheet named 'Sheet9' is open"}};
    for (const Case& c : refusals)
        EXPECT_EQ(bridge_fake::message_of<Msg>([&] { solver::get_constant_vector(c.text, c.name, three); }), c.message)
            << c.text;
    fake().put_str(2, 1, "two");
    EXPECT_EQ(bridge_fake::message_of<Msg>([&] { solver::get_constant_vector("A3:C3", "Min", three); }),
              "Failed to read Min vector. Ensure all values are numbers");

    // Nothing is read before the text is accepted as a vector.
    const int coercions = fake().count(xlCoerce);
    EXPECT_EQ(bridge_fake::message_of<Msg>([&] { solver::get_constant_vector("A1:B2", "Max", three); }),
              "Max vector must be a row or column");
    EXPECT_EQ(fake().count(xlCoerce), coercions);
}

} // namespace
