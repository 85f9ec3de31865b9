#include "excel/RangeRef.hpp"
#include "excel/ExcelException.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>
#include <string>

using excel::CellRef;
using excel::RangeRef;

namespace {

template <typename F> std::string message_of(F f) {
    try {
        f();
    } catch (const excel::ExcelException& e) {
        return e.what();
    }
    return "<no exception>";
}

const char* const kNoRC = "R1C1 cell ref has no 'R/C'";

struct Parsed {
    const char* text;
    CellRef first;
    CellRef end;
    const char* printed;
};

const Parsed kRanges[] = {
    {"A1:C3", CellRef(0, 0, false, false), CellRef(3, 3, false, false), "A1:C3"},
    {"A1:C1", CellRef(0, 0, false, false), CellRef(3, 1, false, false), "A1:C1"},
    {"C3:A1", CellRef(0, 0, false, false), CellRef(3, 3, false, false), "A1:C3"},
    {"C$3:$A1", CellRef(0, 0, true, false), CellRef(3, 3, false, true), "$A1:C$3"},
    {"$A1:A$2", CellRef(0, 0, false, false), CellRef(1, 2, false, true), "A1:A$2"},
    {"Sheet2!A1:B2", CellRef(0, 0, false, false, "Sheet2"), CellRef(2, 2, false, false),
     "'Sheet2'!A1:B2"},
    {"[B]S!A1:B2", CellRef(0, 0, false, false, "S", "B"), CellRef(2, 2, false, false),
     "'[B]S'!A1:B2"},
    {"R1C1:R2C2", CellRef(0, 0, true, true), CellRef(2, 2, true, true), "$A$1:$B$2"},
    {"R1C1:B2", CellRef(0, 0, true, true), CellRef(2, 2, false, false), "$A$1:B2"},
    {"IU1:IV2", CellRef(254, 0, false, false), CellRef(256, 2, false, false), "IU1:IV2"},
};

TEST(RangeRefParse, TableParsesNormalisesAndPrints) {
    for (const Parsed& t : kRanges) {
        SCOPED_TRACE(t.text);
        RangeRef range;
        EXPECT_EQ(RangeRef::parse_ref(t.text, range), std::string(t.text).size());
        EXPECT_EQ(range.first, t.first);
        EXPECT_EQ(range.end, t.end);
        EXPECT_EQ(RangeRef(t.text), range);
        std::ostringstream os;
        os << range;
        EXPECT_EQ(os.str(), t.printed);
        RangeRef back;
        ASSERT_TRUE(RangeRef::coerce_to_range(os.str(), back));
        EXPECT_EQ(back, range);
    }
    EXPECT_EQ(RangeRef("A1:C3").last(), CellRef(2, 2, false, false));
    EXPECT_EQ(RangeRef("C$3:$A1").last().cell_name(), "C$3");
}

TEST(RangeRefParse, FailuresAndWholeTextTest) {
    const std::pair<const char*, const char*> cases[] = {
        {"A1", "Reference is not a range but a single cell"},
        {"A1B", kNoRC},
        {"Sheet2!A1:Sheet2!B2", "Malformed second cell in range refefence"},
        {"S!A1:[B]!B2", "Malformed second cell in range refefence"},
        // The prefix runs to the first "!", so this is one cell on sheet "A1:[B]".
        {"A1:[B]!B2", "Reference is not a range but a single cell"},
        {"A1:", kNoRC},
        {"A1:C3x", kNoRC},
        {"[B1]S!A1:R1C", "R1C1 cell ref is truncated"},
        {"[Bk!A1:B2", "Malformed book name in cell reference"},
    };
    const RangeRef before(CellRef(5, 5, true, true, "S"), 2, 2);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        RangeRef range = before;
        EXPECT_EQ(message_of([&] { RangeRef::parse_ref(c.first, range); }), c.second);
        EXPECT_EQ(range, before);  // assigned only on success
    }
    RangeRef range;
    EXPECT_FALSE(RangeRef::coerce_to_range("A1:", range));
    EXPECT_FALSE(RangeRef::coerce_to_range("A1:C3x", range));
    EXPECT_FALSE(RangeRef::coerce_to_range("", range));
    EXPECT_FALSE(RangeRef::coerce_to_range("Sheet2!A1:Sheet2!B2", range));
    EXPECT_EQ(RangeRef::parse_ref("A1:B2:C3", range), 5u);
    EXPECT_FALSE(RangeRef::coerce_to_range("A1:B2:C3", range));
    EXPECT_EQ(range.to_string(), "A1:B2");  // assigned although not whole

    ASSERT_TRUE(RangeRef::coerce_to_range("$B2", range));
    EXPECT_EQ(range.to_string(), "$B2:$B2");
    EXPECT_EQ(range.end, CellRef(2, 2, true, false));
    ASSERT_TRUE(RangeRef::coerce_to_range("A1", range));
    EXPECT_EQ(range.to_string(), "A1:A1");
    EXPECT_FALSE(RangeRef::coerce_to_range("A1x", range));
}

TEST(RangeRefCorners, BooksAndSheetsMustAgree) {
    EXPECT_EQ(message_of([] { RangeRef(CellRef("A1"), CellRef("Sheet1!B2")); }),
              "Could not make a range reference from two cells on different sheets");
    EXPECT_EQ(message_of([] { RangeRef(CellRef("S!A1"), CellRef("T!B2")); }),
              "Could not make a range reference from two cells on different sheets");
    EXPECT_EQ(message_of([] { RangeRef(CellRef("[X]S!A1"), CellRef("[Y]S!B2")); }),
              "Could not make a range reference from two cells on different books");
    EXPECT_EQ(RangeRef(CellRef("Sheet1!A1"), CellRef("B2")).to_string(), "'Sheet1'!A1:B2");
    // The second cell may add a book the first did not name.
    const RangeRef r(CellRef("S!A1"), CellRef("[Y]S!B2"));
    EXPECT_EQ(r.first, CellRef(0, 0, false, false, "S", "Y"));
    EXPECT_EQ(r.end.sheet + r.end.book, "");
}

TEST(RangeRefCorners, FlagsTravelWithTheirCoordinates) {
    const RangeRef r(CellRef(4, 1, true, false), CellRef(2, 7, false, true));
    EXPECT_EQ(r.first, CellRef(2, 1, false, false));
    EXPECT_EQ(r.end, CellRef(5, 8, true, true));
    // Equal coordinates: both corners take the second cell's marker.
    const RangeRef same(CellRef(3, 3, true, true), CellRef(3, 3, false, false));
    EXPECT_EQ(same.first, CellRef(3, 3, false, false));
    EXPECT_EQ(same.end, CellRef(4, 4, false, false));
}

TEST(RangeRefCorners, WidthHeightAndLast) {
    const RangeRef r(CellRef(1, 2, true, true, "S", "B"), 3, 4);
    EXPECT_EQ(r.first, CellRef(1, 2, true, true, "S", "B"));
    EXPECT_EQ(r.end, CellRef(4, 6, false, false));
    EXPECT_EQ(r.last(), CellRef(3, 5, false, false));
    EXPECT_EQ(r.to_string(), "'[B]S'!$B$3:D6");
    // Ends that would pass the int maximum stay there.
    const RangeRef far(CellRef(INT_MAX - 1, INT_MAX, false, false), UINT_MAX, 1);
    EXPECT_EQ(far.end, CellRef(INT_MAX, INT_MAX, false, false));
    const RangeRef top(CellRef(INT_MAX, 0, false, false), CellRef(INT_MAX, 0, false, false));
    EXPECT_EQ(top.end.x, INT_MAX);
    RangeRef low(CellRef(INT_MIN, INT_MIN, false, false), 0, 0);
    EXPECT_EQ(low.last(), CellRef(INT_MIN, INT_MIN, false, false));
}

TEST(RangeRefMoves, ShiftAndFixed) {
    RangeRef a("A1:C3"), b("$A$1:C3");
    a.shift(1, 1);
    b.shift(1, 1);
    EXPECT_EQ(a.to_string(), "B2:D4");
    EXPECT_EQ(b.to_string(), "$A$1:D4");
    EXPECT_EQ(RangeRef("Sheet2!A1:C3").fixed().to_string(), "'Sheet2'!$A$1:$C$3");
    EXPECT_EQ(RangeRef("A1:C3").fixed().end, CellRef(3, 3, true, true));
}

TEST(RangeRefMoves, OffSheetCornersRefuseToPrint) {
    for (const char* text : {"A1:IW1", "A0:B2", "IV65536:IV65537", "R1C1:R0C1"}) {
        SCOPED_TRACE(text);
        const RangeRef r(text);
        std::ostringstream os;
        EXPECT_EQ(message_of([&] { os << r; }),
                  "Cannot make cell into an absolute reference, out of sheet");
        EXPECT_EQ(os.str(), "");
    }
    RangeRef r("IV65536:IV65536");
    EXPECT_EQ(r.to_string(), "IV65536:IV65536");
    r.shift(1, 0);
    EXPECT_THROW(r.to_string(), excel::ExcelException);
}

} // namespace
