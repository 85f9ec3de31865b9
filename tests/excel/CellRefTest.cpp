#include "excel/CellRef.hpp"
#include "excel/ExcelException.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>

using excel::CellRef;

namespace {

// The message of the ExcelException that f throws, or a note that it threw none.
template <typename F> std::string message_of(F f) {
    try {
        f();
    } catch (const excel::ExcelException& e) {
        return e.what();
    }
    return "<no exception>";
}

const char* const kOffSheet = "Cannot make cell into an absolute reference, out of sheet";
const char* const kNoRC = "R1C1 cell ref has no 'R/C'";
const char* const kRelative = "Relative cell references in R1C1 mode not supported";

struct Parsed {
    const char* text;
    int x, y;
    bool x_fixed, y_fixed;
    const char* sheet;
    const char* book;
    const char* printed;
};

const Parsed kCells[] = {
    {"A1", 0, 0, false, false, "", "", "A1"},
    {"$A1", 0, 0, true, false, "", "", "$A1"},
    {"A$1", 0, 0, false, true, "", "", "A$1"},
    {"$A$1", 0, 0, true, true, "", "", "$A$1"},
    {"AB15", 27, 14, false, false, "", "", "AB15"},
    {"R1C2", 1, 0, true, true, "", "", "$B$1"},
    {"R2", 17, 1, false, false, "", "", "R2"},
    {"[Book1]Sheet1!$A$1", 0, 0, true, true, "Sheet1", "Book1", "'[Book1]Sheet1'!$A$1"},
    {"Sheet2!$A$1", 0, 0, true, true, "Sheet2", "", "'Sheet2'!$A$1"},
    {"'Sheet 2'!$A$1", 0, 0, true, true, "Sheet 2", "", "'Sheet 2'!$A$1"},
    {"'[Book 2.xls]Sheet2'!$A$1", 0, 0, true, true, "Sheet2", "Book 2.xls", "'[Book 2.xls]Sheet2'!$A$1"},
    {"'[Book1]Sheet1'!$A$1", 0, 0, true, true, "Sheet1", "Book1", "'[Book1]Sheet1'!$A$1"},
    {"ab15", 27, 14, false, false, "", "", "AB15"},
    {"iv65536", 255, 65535, false, false, "", "", "IV65536"},
    {"Z9", 25, 8, false, false, "", "", "Z9"},
    {"AA1", 26, 0, false, false, "", "", "AA1"},
    {"[Book1]!A1", 0, 0, false, false, "", "Book1", "A1"},
    {"'!A1", 0, 0, false, false, "'", "", "'''!A1"},
    {"It's!B2", 1, 1, false, false, "It's", "", "'It's'!B2"},
    {"R-5C3", 2, -6, true, true, "", "", nullptr},
};

TEST(CellRefParse, TableParsesPrintsAndReadsBack) {
    for (const Parsed& t : kCells) {
        SCOPED_TRACE(t.text);
        CellRef ref;
        EXPECT_EQ(CellRef::parse_ref(t.text, ref), std::string(t.text).size());
        EXPECT_EQ(ref, CellRef(t.x, t.y, t.x_fixed, t.y_fixed, t.sheet, t.book));
        EXPECT_EQ(CellRef(t.text), ref);
        if (!t.printed) {
            EXPECT_FALSE(ref.is_valid());
            continue;
        }
        std::ostringstream os;
        os << ref;
        EXPECT_EQ(os.str(), t.printed);
        CellRef back;
        ASSERT_TRUE(CellRef::coerce_to_cell(os.str(), back));
        // A book is printed only with a sheet.
        CellRef expected = ref;
        if (expected.sheet.empty()) expected.book.clear();
        EXPECT_EQ(back, expected);
    }
}

TEST(CellRefParse, A1FailuresSurfaceAsTheR1C1Messages) {
    const std::pair<const char*, const char*> cases[] = {
        {"$$A1", kNoRC}, {"A$$1", kNoRC}, {"1A", kNoRC}, {"A1B", kNoRC}, {"", kNoRC},
        {"r1c1", kNoRC}, {"R01C1", kNoRC}, {"R+1C1", kNoRC}, {"RC", kRelative},
        {"RC[1]", kRelative}, {"R[1]C[1]", kRelative}, {"R1C-", kRelative},
        {"R2147483648C1", kRelative}, {"R", "R1C1 cell ref is truncated"},
        {"R1C", "R1C1 cell ref is truncated"}, {"R1C  ", "R1C1 cell ref is truncated"}, {"R 1C 2", kNoRC},
        {"[Book1Sheet1!A1", "Malformed book name in cell reference"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        CellRef ref;
        EXPECT_EQ(message_of([&] { CellRef::parse_ref(c.first, ref); }), c.second);
        EXPECT_EQ(message_of([&] { CellRef cell(c.first); }), c.second);
        EXPECT_FALSE(CellRef::coerce_to_cell(c.first, ref));
    }
}

TEST(CellRefParse, A1ParserAloneHasItsOwnMessagesAndKeepsTheTargetOnFailure) {
    const std::pair<const char*, const char*> cases[] = {
        {"$$A1", "Malformed cell reference (x fixed)"},
        {"1A", "Malformed cell reference - no letters"},
        {"A$$1", "Malformed cell reference (y fixed)"},
        {"A", "Malformed cell reference - no digits"},
        {"S!$A$", "Malformed cell reference - no digits"},
    };
    const CellRef before(7, 8, true, false, "S", "B");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        CellRef ref = before;
        EXPECT_EQ(message_of([&] { CellRef::parse_ref_ln(c.first, ref); }), c.second);
        EXPECT_EQ(ref, before);
    }
}

TEST(CellRefParse, CountStopsAtTheEndOfTheReference) {
    CellRef ref;
    EXPECT_EQ(CellRef::parse_ref("A1:C1", ref), 2u);
    EXPECT_FALSE(CellRef::coerce_to_cell("A1:C1", ref));
    EXPECT_EQ(CellRef::parse_ref("R1C2x", ref), 4u);
    EXPECT_EQ(ref, CellRef(1, 0, true, true));
    EXPECT_FALSE(CellRef::coerce_to_cell("R1C2x", ref));
    EXPECT_EQ(CellRef::parse_ref("R1C 2", ref), 4u);  // white space is read but not counted
    EXPECT_EQ(ref, CellRef(1, 0, true, true));
    // The count of an R1C1 part is that of the number's canonical text.
    int n = 0;
    EXPECT_EQ(CellRef::parse_ref_rc_part("R007", 'R', n), 2u);
    EXPECT_EQ(n, 7);
    EXPECT_EQ(CellRef::parse_ref_rc_part("C-12", 'C', n), 4u);
    EXPECT_EQ(n, -12);
}

TEST(CellRefParse, FailedR1C1RetryLeavesTheA1Result) {
    CellRef ref(9, 9, true, true);
    EXPECT_EQ(message_of([&] { CellRef::parse_ref("B7x", ref); }), kNoRC);
    EXPECT_EQ(ref, CellRef(1, 6, false, false));
}

TEST(CellRefParse, BookAndSheetPrefix) {
    std::string book = "b", sheet = "s";
    EXPECT_EQ(CellRef::parse_book_sheet_name("A1", book, sheet), 0u);
    EXPECT_EQ(book + sheet, "");
    EXPECT_EQ(CellRef::parse_book_sheet_name("'[B]S'!A1", book, sheet), 7u);
    EXPECT_EQ(book, "B");
    EXPECT_EQ(sheet, "S");
    EXPECT_EQ(CellRef::parse_book_sheet_name("[!A1", book, sheet), 2u);  // one character: a sheet
    EXPECT_EQ(sheet, "[");
    EXPECT_EQ(CellRef::parse_book_sheet_name("'It''s'!A1", book, sheet), 8u);
    EXPECT_EQ(sheet, "It''s");
}

TEST(CellRefSheetLimits, ParsedOffSheetCellsFailOnlyWhenPrinted) {
    const std::pair<const char*, CellRef> cases[] = {
        {"IW1", CellRef(256, 0, false, false)},
        {"A65537", CellRef(0, 65536, false, false)},
        {"A0", CellRef(0, -1, false, false)},
        {"RC2", CellRef(470, 1, false, false)},
        {"R0C1", CellRef(0, -1, true, true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        CellRef ref;
        ASSERT_TRUE(CellRef::coerce_to_cell(c.first, ref));
        EXPECT_EQ(ref, c.second);
        EXPECT_FALSE(ref.is_valid());
        std::ostringstream os;
        EXPECT_EQ(message_of([&] { os << ref; }), kOffSheet);
        EXPECT_EQ(message_of([&] { ref.cell_name(); }), kOffSheet);
        EXPECT_EQ(os.str(), "");
    }
    EXPECT_TRUE(CellRef(255, 65535, false, false).is_valid());
    EXPECT_FALSE(CellRef(-1, 0, false, false).is_valid());
}

TEST(CellRefSheetLimits, HugeCoordinatesSaturateOffTheSheet) {
    CellRef ref;
    ASSERT_TRUE(CellRef::coerce_to_cell("A" + std::string(40, '9'), ref));
    EXPECT_EQ(ref.y, INT_MAX - 1);
    ASSERT_TRUE(CellRef::coerce_to_cell(std::string(40, 'Z') + "1", ref));
    EXPECT_EQ(ref.x, INT_MAX - 1);
    EXPECT_FALSE(ref.is_valid());
    ASSERT_TRUE(CellRef::coerce_to_cell("R-2147483648C2147483647", ref));
    EXPECT_EQ(ref.y, INT_MIN);
    EXPECT_EQ(ref.x, INT_MAX - 1);
    ref.shift(INT_MIN, INT_MIN);  // absolute: stays put
    EXPECT_EQ(ref.y, INT_MIN);
    CellRef loose(INT_MAX - 1, INT_MIN + 1, false, false);
    loose.shift(INT_MAX, INT_MIN);
    EXPECT_EQ(loose, CellRef(INT_MAX, INT_MIN, false, false));
}

TEST(CellRefMoves, ShiftMovesOnlyRelativeCoordinates) {
    CellRef a("$A1"), b("$A$1");
    a.shift(1, 1);
    b.shift(1, 1);
    EXPECT_EQ(a.to_string(), "$A2");
    EXPECT_EQ(b.to_string(), "$A$1");
    CellRef c("Sheet2!B3");
    c.shift(-1, 2);
    EXPECT_EQ(c.to_string(), "'Sheet2'!A5");
    EXPECT_EQ(c.fixed(), CellRef(0, 4, true, true, "Sheet2"));
    EXPECT_EQ(c.fixed().cell_name(), "$A$5");
}

} // namespace
