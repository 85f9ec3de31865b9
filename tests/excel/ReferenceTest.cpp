// Cell and range references: parsing (A1 and R1C1, with book and sheet), printing, the
// limits of the sheet, moves. Parsed forms print and read back; every refusal has its message.

#include "excel/CellRef.hpp"
#include "excel/ExcelException.hpp"
#include "excel/RangeRef.hpp"

#include "Message.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>

namespace {

using excel::CellRef;
using excel::RangeRef;

const char* const off_sheet = "Cannot make cell into an absolute reference, out of sheet";
const char* const no_rc = "R1C1 cell ref has no 'R/C'";
const char* const relative = "Relative cell references in R1C1 mode not supported";
const char* const truncated = "R1C1 cell ref is truncated";

TEST(References, CellsParsePrintAndReadBack) {
    const struct {
        const char* text;
        CellRef ref;
        const char* printed; // null: off the sheet
    } cases[] = {
        {"A1", CellRef(0, 0, false, false), "A1"},
        {"$A1", CellRef(0, 0, true, false), "$A1"},
        {"A$1", CellRef(0, 0, false, true), "A$1"},
        {"AB15", CellRef(27, 14, false, false), "AB15"},
        {"iv65536", CellRef(255, 65535, false, false), "IV65536"},
        {"AA1", CellRef(26, 0, false, false), "AA1"},
        {"R1C2", CellRef(1, 0, true, true), "$B$1"},
        {"R2", CellRef(17, 1, false, false), "R2"},
        {"[Book1]Sheet1!$A$1", CellRef(0, 0, true, true, "Sheet1", "Book1"), "'[Book1]Sheet1'!$A$1"},
        {"Sheet2!$A$1", CellRef(0, 0, true, true, "Sheet2"), "'Sheet2'!$A$1"},
        {"'Sheet 2'!$A$1", CellRef(0, 0, true, true, "Sheet 2"), "'Sheet 2'!$A$1"},
        {"'[Book 2.xls]Sheet2'!$A$1", CellRef(0, 0, true, true, "Sheet2", "Book 2.xls"), "'[Book 2.xls]Sheet2'!$A$1"},
        {"[Book1]!A1", CellRef(0, 0, false, false, "", "Book1"), "A1"},
        {"'!A1", CellRef(0, 0, false, false, "'"), "'''!A1"},
        {"It's!B2", CellRef(1, 1, false, false, "It's"), "'It's'!B2"},
        {"R-5C3", CellRef(2, -6, true, true), nullptr},
        {"IW1", CellRef(256, 0, false, false), nullptr},
        {"A65537", CellRef(0, 65536, false, false), nullptr},
        {"A0", CellRef(0, -1, false, false), nullptr},
        {"RC2", CellRef(470, 1, false, false), nullptr},
        {"R0C1", CellRef(0, -1, true, true), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        CellRef ref;
        EXPECT_EQ(CellRef::parse_ref(c.text, ref), std::string(c.text).size());
        EXPECT_EQ(ref, c.ref);
        EXPECT_EQ(CellRef(c.text), ref);
        EXPECT_EQ(ref.is_valid(), c.printed != nullptr);
        std::ostringstream os;
        if (!c.printed) { // refused only when printed
            EXPECT_MESSAGE(os << ref, off_sheet);
            EXPECT_MESSAGE(ref.cell_name(), off_sheet);
            EXPECT_EQ(os.str(), "");
            continue;
        }
        os << ref;
        EXPECT_EQ(os.str(), c.printed);
        CellRef back;
        ASSERT_TRUE(CellRef::coerce_to_cell(os.str(), back));
        CellRef expected = ref;
        if (expected.sheet.empty())
            expected.book.clear(); // a book is printed only with a sheet
        EXPECT_EQ(back, expected);
    }
    EXPECT_FALSE(CellRef(-1, 0, false, false).is_valid());
}

TEST(References, RangesParseNormaliseAndPrint) {
    const struct {
        const char* text;
        CellRef first, end;
        const char* printed;
    } cases[] = {
        {"A1:C3", CellRef(0, 0, false, false), CellRef(3, 3, false, false), "A1:C3"},
        {"C3:A1", CellRef(0, 0, false, false), CellRef(3, 3, false, false), "A1:C3"},
        {"C$3:$A1", CellRef(0, 0, true, false), CellRef(3, 3, false, true), "$A1:C$3"},
        {"$A1:A$2", CellRef(0, 0, false, false), CellRef(1, 2, false, true), "A1:A$2"},
        {"Sheet2!A1:B2", CellRef(0, 0, false, false, "Sheet2"), CellRef(2, 2, false, false), "'Sheet2'!A1:B2"},
        {"[B]S!A1:B2", CellRef(0, 0, false, false, "S", "B"), CellRef(2, 2, false, false), "'[B]S'!A1:B2"},
        {"R1C1:B2", CellRef(0, 0, true, true), CellRef(2, 2, false, false), "$A$1:B2"},
        {"IU1:IV2", CellRef(254, 0, false, false), CellRef(256, 2, false, false), "IU1:IV2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        RangeRef range;
        EXPECT_EQ(RangeRef::parse_ref(c.text, range), std::string(c.text).size());
        EXPECT_EQ(range.first, c.first);
        EXPECT_EQ(range.end, c.end);
        EXPECT_EQ(RangeRef(c.text), range);
        EXPECT_EQ(range.to_string(), c.printed);
        RangeRef back;
        ASSERT_TRUE(RangeRef::coerce_to_range(range.to_string(), back));
        EXPECT_EQ(back, range);
    }
    EXPECT_EQ(RangeRef("A1:C3").last(), CellRef(2, 2, false, false));
    EXPECT_EQ(RangeRef("C$3:$A1").last().cell_name(), "C$3");
    for (const char* text : {"A1:IW1", "A0:B2", "IV65536:IV65537", "R1C1:R0C1"}) {
        const RangeRef r(text);
        EXPECT_MESSAGE(r.to_string(), off_sheet) << text;
    }
}

// Refusals: a cell through its whole parser, through the A1 parser alone, or a range. The
// target of a refused parse keeps its value.
TEST(References, RefusalsCarryTheirMessages) {
    enum Parser { Cell, A1, Range };
    const struct {
        Parser parser;
        const char* text;
        const char* message;
    } cases[] = {
        {Cell, "$$A1", no_rc},
        {Cell, "A$$1", no_rc},
        {Cell, "1A", no_rc},
        {Cell, "A1B", no_rc},
        {Cell, "", no_rc},
        {Cell, "r1c1", no_rc},
        {Cell, "R01C1", no_rc},
        {Cell, "R+1C1", no_rc},
        {Cell, "R 1C 2", no_rc},
        {Cell, "RC", relative},
        {Cell, "RC[1]", relative},
        {Cell, "R[1]C[1]", relative},
        {Cell, "R1C-", relative},
        {Cell, "R2147483648C1", relative},
        {Cell, "R", truncated},
        {Cell, "R1C", truncated},
        {Cell, "R1C  ", truncated},
        {Cell, "[Book1Sheet1!A1", "Malformed book name in cell reference"},
        {A1, "$$A1", "Malformed cell reference (x fixed)"},
        {A1, "1A", "Malformed cell reference - no letters"},
        {A1, "A$$1", "Malformed cell reference (y fixed)"},
        {A1, "A", "Malformed cell reference - no digits"},
        {A1, "S!$A$", "Malformed cell reference - no digits"},
        {Range, "A1", "Reference is not a range but a single cell"},
        {Range, "A1B", no_rc},
        {Range, "Sheet2!A1:Sheet2!B2", "Malformed second cell in range refefence"},
        {Range, "A1:[B]!B2", "Reference is not a range but a single cell"}, // one cell on sheet "A1:[B]"
        {Range, "A1:", no_rc},
        {Range, "[B1]S!A1:R1C", truncated},
        {Range, "[Bk!A1:B2", "Malformed book name in cell reference"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const CellRef cell_before(7, 8, true, false, "S", "B");
        const RangeRef range_before(CellRef(5, 5, true, true, "S"), 2, 2);
        CellRef cell = cell_before;
        RangeRef range = range_before;
        switch (c.parser) {
        case Cell:
            EXPECT_MESSAGE(CellRef::parse_ref(c.text, cell), c.message);
            EXPECT_MESSAGE(CellRef{c.text}, c.message);
            EXPECT_FALSE(CellRef::coerce_to_cell(c.text, cell));
            break;
        case A1:
            EXPECT_MESSAGE(CellRef::parse_ref_ln(c.text, cell), c.message);
            EXPECT_EQ(cell, cell_before);
            break;
        case Range:
            EXPECT_MESSAGE(RangeRef::parse_ref(c.text, range), c.message);
            EXPECT_EQ(range, range_before);
            break;
        }
    }
    // A failed R1C1 retry leaves the A1 result.
    CellRef ref(9, 9, true, true);
    EXPECT_MESSAGE(CellRef::parse_ref("B7x", ref), no_rc);
    EXPECT_EQ(ref, CellRef(1, 6, false, false));
    // Corners on different sheets or books.
    EXPECT_MESSAGE(RangeRef(CellRef("S!A1"), CellRef("T!B2")),
                   "Could not make a range reference from two cells on different sheets");
    EXPECT_MESSAGE(RangeRef(CellRef("[X]S!A1"), CellRef("[Y]S!B2")),
                   "Could not make a range reference from two cells on different books");
}

TEST(References, WhatAParseCountsAndCoercionAccepts) {
    CellRef ref;
    EXPECT_EQ(CellRef::parse_ref("A1:C1", ref), 2u);
    EXPECT_FALSE(CellRef::coerce_to_cell("A1:C1", ref));
    EXPECT_EQ(CellRef::parse_ref("R1C 2", ref), 4u); // white space is read but not counted
    EXPECT_EQ(ref, CellRef(1, 0, true, true));

    std::string book = "b", sheet = "s";
    EXPECT_EQ(CellRef::parse_book_sheet_name("A1", book, sheet), 0u);
    EXPECT_EQ(book + sheet, "");
    EXPECT_EQ(CellRef::parse_book_sheet_name("[!A1", book, sheet), 2u); // one character: a sheet
    EXPECT_EQ(sheet, "[");
    EXPECT_EQ(CellRef::parse_book_sheet_name("'It''s'!A1", book, sheet), 8u);
    EXPECT_EQ(sheet, "It''s");

    RangeRef range;
    for (const char* text : {"", "A1:", "A1:C3x", "Sheet2!A1:Sheet2!B2", "A1x"})
        EXPECT_FALSE(RangeRef::coerce_to_range(text, range)) << text;
    EXPECT_EQ(RangeRef::parse_ref("A1:B2:C3", range), 5u);
    EXPECT_FALSE(RangeRef::coerce_to_range("A1:B2:C3", range));
    EXPECT_EQ(range.to_string(), "A1:B2"); // assigned although not whole
    ASSERT_TRUE(RangeRef::coerce_to_range("$B2", range));
    EXPECT_EQ(range.to_string(), "$B2:$B2");
    EXPECT_EQ(range.end, CellRef(2, 2, true, false));
}

TEST(References, CornersFlagsAndLimits) {
    EXPECT_EQ(RangeRef(CellRef("Sheet1!A1"), CellRef("B2")).to_string(), "'Sheet1'!A1:B2");
    const RangeRef books(CellRef("S!A1"), CellRef("[Y]S!B2")); // the second cell may add a book
    EXPECT_EQ(books.first, CellRef(0, 0, false, false, "S", "Y"));
    EXPECT_EQ(books.end.sheet + books.end.book, "");
    // Flags travel with their coordinates; equal coordinates take the second cell's.
    const RangeRef r(CellRef(4, 1, true, false), CellRef(2, 7, false, true));
    EXPECT_EQ(r.first, CellRef(2, 1, false, false));
    EXPECT_EQ(r.end, CellRef(5, 8, true, true));
    const RangeRef same(CellRef(3, 3, true, true), CellRef(3, 3, false, false));
    EXPECT_EQ(same.first, CellRef(3, 3, false, false));
    EXPECT_EQ(same.end, CellRef(4, 4, false, false));
    const RangeRef sized(CellRef(1, 2, true, true, "S", "B"), 3, 4);
    EXPECT_EQ(sized.end, CellRef(4, 6, false, false));
    EXPECT_EQ(sized.last(), CellRef(3, 5, false, false));
    EXPECT_EQ(sized.to_string(), "'[B]S'!$B$3:D6");

    // Huge coordinates saturate off the sheet; ends stop at the int maximum.
    CellRef ref;
    ASSERT_TRUE(CellRef::coerce_to_cell("A" + std::string(40, '9'), ref));
    EXPECT_EQ(ref.y, INT_MAX - 1);
    ASSERT_TRUE(CellRef::coerce_to_cell(std::string(40, 'Z') + "1", ref));
    EXPECT_EQ(ref.x, INT_MAX - 1);
    ASSERT_TRUE(CellRef::coerce_to_cell("R-2147483648C2147483647", ref));
    EXPECT_EQ(ref.y, INT_MIN);
    ref.shift(INT_MIN, INT_MIN); // absolute: stays put
    EXPECT_EQ(ref.y, INT_MIN);
    CellRef loose(INT_MAX - 1, INT_MIN + 1, false, false);
    loose.shift(INT_MAX, INT_MIN);
    EXPECT_EQ(loose, CellRef(INT_MAX, INT_MIN, false, false));
    EXPECT_EQ(RangeRef(CellRef(INT_MAX - 1, INT_MAX, false, false), UINT_MAX, 1).end,
              CellRef(INT_MAX, INT_MAX, false, false));
    EXPECT_EQ(RangeRef(CellRef(INT_MAX, 0, false, false), CellRef(INT_MAX, 0, false, false)).end.x, INT_MAX);
    EXPECT_EQ(RangeRef(CellRef(INT_MIN, INT_MIN, false, false), 0, 0).last(), CellRef(INT_MIN, INT_MIN, false, false));
}

TEST(References, ShiftMovesOnlyRelativeCoordinates) {
    CellRef a("$A1"), b("$A$1"), c("Sheet2!B3");
    a.shift(1, 1);
    b.shift(1, 1);
    c.shift(-1, 2);
    EXPECT_EQ(a.to_string() + " " + b.to_string() + " " + c.to_string(), "$A2 $A$1 'Sheet2'!A5");
    EXPECT_EQ(c.fixed(), CellRef(0, 4, true, true, "Sheet2"));
    RangeRef r("A1:C3"), s("$A$1:C3");
    r.shift(1, 1);
    s.shift(1, 1);
    EXPECT_EQ(r.to_string() + " " + s.to_string(), "B2:D4 $A$1:D4");
    EXPECT_EQ(RangeRef("Sheet2!A1:C3").fixed().to_string(), "'Sheet2'!$A$1:$C$3");
    RangeRef edge("IV65536:IV65536");
    EXPECT_EQ(edge.to_string(), "IV65536:IV65536");
    edge.shift(1, 0);
    EXPECT_MESSAGE(edge.to_string(), off_sheet);
}

} // namespace
