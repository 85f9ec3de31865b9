// What a save writes reads back as it was: every character of cell text, formula text and
// formula results, in a new package and in one written back; spills with the range they cover
// now and the metadata of their errors.
#include "io/Csv.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using host::engine::CellAddress;
using host::engine::Value;

namespace {

// Texts a cell may hold, each of which XML alone would not carry.
const char* const texts[] = {
    "a\r\nb",                       // carriage return: XML readers normalise line ends
    "\r",                           //
    "lone\rreturn",                 //
    "tab\tand\nline",               //
    "\x01\x02\x1F",                 // control characters: not XML characters at all
    "_x0041_",                      // reads as an escape unless escaped itself
    "_x005F_x0041_",                //
    "a_x000D_b\r",                  //
    "  padded  ",                   //
    "\xEF\xBF\xBE",                 // U+FFFE, not an XML character
    "caf\xC3\xA9 \xF0\x9F\x98\x80", // UTF-8 beyond ASCII
    "<&>\"'",                       //
};

std::string formula_literal(const std::string& text) {
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

TEST(SavedText, EveryCharacterReadsBack) {
    host::io::Document d = host::io::load_csv_text("t.csv", "");
    auto& book = d.workbook;
    std::int32_t row = 0;
    for (const char* text : texts) {
        book.set_value(CellAddress{0, row, 0}, Value::text(text));
        book.set_formula(CellAddress{0, row, 1}, formula_literal(text));
        book.set_formula(CellAddress{0, row, 2}, "A" + std::to_string(row + 1) + "&\"\"");
        ++row;
    }
    book.recalculate_all();
    // A new package, then that package written back after a change to every row.
    const std::string first = host::io::xlsx_bytes(d, "t.xlsx");
    host::io::Document again = host::io::load_xlsx_bytes("t.xlsx", first);
    for (std::int32_t r = 0; r < row; ++r)
        again.workbook.set_value(CellAddress{0, r, 3}, Value::number(r));
    again.workbook.recalculate_all();
    const std::string second = host::io::xlsx_bytes(again, "t.xlsx");
    for (const std::string* bytes : {&first, &second}) {
        host::io::Document read = host::io::load_xlsx_bytes("t.xlsx", *bytes);
        read.workbook.recalculate_all();
        for (std::int32_t r = 0; r < row; ++r) {
            const std::string text = texts[r];
            SCOPED_TRACE(text);
            EXPECT_EQ(read.workbook.value(CellAddress{0, r, 0}), Value::text(text));
            EXPECT_EQ(read.workbook.formula_text(CellAddress{0, r, 1}), formula_literal(text));
            EXPECT_EQ(read.workbook.value(CellAddress{0, r, 2}), Value::text(text));
        }
    }
}

// Formula text as the file holds it: other programs read it as written, so only what XML
// cannot carry is escaped.
TEST(SavedText, FormulaTextIsWrittenAsItIsButForWhatXmlCannotCarry) {
    const std::pair<const char*, const char*> cases[] = {
        {"\"_x0041_\"", "<f>\"_x0041_\"</f>"},
        {"\"a\rb\"", "<f>\"a&#13;b\"</f>"},
        {"\"a\x01"
         "b\"",
         "<f>\"a_x0001_b\"</f>"},
        {"\"_x0001_\"", "<f>\"_x005F_x0001_\"</f>"},
        {"\"a<b&c\"", "<f>\"a&lt;b&amp;c\"</f>"},
    };
    for (const auto& [formula, xml] : cases) {
        host::io::Document d = host::io::load_csv_text("t.csv", "");
        d.workbook.set_formula(CellAddress{0, 0, 0}, formula);
        const std::string bytes = host::io::xlsx_bytes(d, "t.xlsx");
        const std::string sheet = host::io::Package("t.xlsx", bytes).read("xl/worksheets/sheet1.xml");
        EXPECT_NE(sheet.find(xml), std::string::npos) << sheet;
        EXPECT_EQ(host::io::load_xlsx_bytes("t.xlsx", bytes).workbook.formula_text(CellAddress{0, 0, 0}), formula);
    }
}

TEST(SavedText, BytesThatAreNotUtf8BecomeReplacementCharacters) {
    host::io::Document d = host::io::load_csv_text("t.csv", "");
    d.workbook.set_value(CellAddress{0, 0, 0}, Value::text("na\xFFme\xC3"));
    const std::string bytes = host::io::xlsx_bytes(d, "t.xlsx");
    host::io::Package package("t.xlsx", bytes);
    const std::string sheet = package.read("xl/worksheets/sheet1.xml");
    EXPECT_NE(sheet.find("na\xEF\xBF\xBDme\xEF\xBF\xBD"), std::string::npos) << sheet;
}

// A spill of as many cells as A1 says, saved after A1 changes: the file says the range it
// covers now, and #SPILL! where it is blocked.
struct SpillCase {
    double size;
    const char* blocker; // a constant in B4, or none
    const char* anchor;  // the anchor's value as read back
    int members;         // cells below the anchor holding values
};

TEST(SavedSpills, CoverTheirRangeAsCalculatedAndReadBackTheSame) {
    const SpillCase cases[] = {
        {2, nullptr, "1", 1}, {5, nullptr, "1", 4}, {1, nullptr, "1", 0}, {6, "x", "#SPILL!", 0}, {2, "x", "1", 1},
    };
    for (const SpillCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.size) + (c.blocker ? " blocked" : ""));
        // Saved first over three cells, then read and changed.
        host::io::Document d = host::io::load_csv_text("s.csv", "3\n");
        d.workbook.set_spilling_formula(CellAddress{0, 0, 1}, "SEQUENCE(A1)");
        if (c.blocker)
            d.workbook.set_value(CellAddress{0, 5, 1}, Value::text(c.blocker));
        d.workbook.recalculate_all();
        host::io::Document loaded = host::io::load_xlsx_bytes("s.xlsx", host::io::xlsx_bytes(d, "s.xlsx"));
        loaded.workbook.set_value(CellAddress{0, 0, 0}, Value::number(c.size));
        loaded.workbook.recalculate_all();
        host::io::Document read = host::io::load_xlsx_bytes("s.xlsx", host::io::xlsx_bytes(loaded, "s.xlsx"));
        read.workbook.recalculate_all();
        EXPECT_TRUE(read.workbook.is_spilling_formula(CellAddress{0, 0, 1}));
        EXPECT_EQ(read.workbook.value(CellAddress{0, 0, 1}).to_string(), c.anchor);
        int members = 0;
        for (std::int32_t r = 1; r < 5; ++r)
            members += read.workbook.value(CellAddress{0, r, 1}).is_empty() ? 0 : 1;
        EXPECT_EQ(members, c.members);
        // The file says where it spills now.
        const std::string sheet =
            host::io::Package("s.xlsx", host::io::xlsx_bytes(loaded, "s.xlsx")).read("xl/worksheets/sheet1.xml");
        const std::string ref = c.members ? "B1:B" + std::to_string(c.members + 1) : "B1";
        EXPECT_NE(sheet.find("ref=\"" + ref + "\""), std::string::npos) << sheet;
        EXPECT_EQ(sheet.find("vm=") != std::string::npos, std::string(c.anchor) == "#SPILL!") << sheet;
    }
}

} // namespace
