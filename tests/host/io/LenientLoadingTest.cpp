// Workbooks the spreadsheet program opens although they bend the format: they load here too.

#include "io/Document.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"

#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using host::io::Document;
using host::io::load_xlsx_bytes;
using testing_packages::io_failure;
using testing_packages::Parts;
using testing_packages::workbook_parts;
using testing_packages::zip;

namespace {

std::string repeated(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i)
        out += piece;
    return out;
}

std::string& part(Parts& parts, const std::string& name) {
    for (auto& p : parts)
        if (p.first == name)
            return p.second;
    throw std::runtime_error("no part " + name);
}

void replace(std::string& text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    if (at == std::string::npos)
        throw std::runtime_error("no '" + from + "' in " + text);
    text.replace(at, from.size(), to);
}

TEST(LenientLoading, SheetNamesAreLimitedInCharactersNotBytes) {
    const std::string cyrillic = "\xD0\x96"; // one character, two bytes
    const struct {
        std::string name;
        bool loads;
    } cases[] = {
        {repeated(cyrillic, 20), true},
        {repeated(cyrillic, 31), true},
        {repeated(cyrillic, 32), false},
        {repeated("a", 31), true},
        {repeated("a", 32), false},
        {"\xE2\x82\xAC" + repeated("b", 30), true}, // a three-byte character and 30 more
    };
    for (const auto& c : cases) {
        std::string bytes = zip(workbook_parts({{c.name, "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"}}));
        std::string failure = io_failure([&] { load_xlsx_bytes("names.xlsx", bytes); });
        if (c.loads)
            EXPECT_EQ(failure, "") << c.name;
        else
            EXPECT_NE(failure.find("must have 1 to 31 characters"), std::string::npos) << c.name << ": " << failure;
    }
}

TEST(LenientLoading, SheetsWithoutAPartAreSkippedWithTheirNamesAndAWarning) {
    // A macro workbook's very hidden sheets may have no part (r:id=""). The active tab and
    // local names count sheets in the file's order, skipped ones included.
    Parts parts = workbook_parts({{"First", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"},
                                  {"Last", "<row r=\"1\"><c r=\"A1\"><v>2</v></c></row>"}},
                                 std::string(),
                                 "<definedNames><definedName name=\"here\" localSheetId=\"2\">Last!$A$1</definedName>"
                                 "<definedName name=\"gone\" localSheetId=\"1\">1</definedName>"
                                 "<definedName name=\"all\">First!$A$1+Last!$A$1</definedName></definedNames>");
    std::string& workbook = part(parts, "xl/workbook.xml");
    replace(workbook, "<sheet name=\"Last\"",
            "<sheet name=\"Macro1\" sheetId=\"7\" state=\"veryHidden\" r:id=\"\"/><sheet name=\"Last\"");
    replace(workbook, "<sheets>", "<bookViews><workbookView activeTab=\"2\"/></bookViews><sheets>");
    Document d = load_xlsx_bytes("macros.xlsm", zip(parts));
    const host::engine::Workbook& book = d.workbook;
    ASSERT_EQ(book.sheet_count(), 2);
    EXPECT_EQ(book.sheet_name(1), "Last");
    EXPECT_EQ(book.active_sheet(), 1);
    EXPECT_EQ(book.names(), (std::vector<std::string>{"all"}));
    EXPECT_EQ(book.name_formula("here", 1), "Last!$A$1");
    ASSERT_EQ(d.warnings.size(), 1u);
    EXPECT_EQ(d.warnings[0], "macros.xlsm: warning: sheet 'Macro1' skipped: the workbook names no part "
                             "for it (with its 1 local name)");

    // Saving leaves the workbook's list of sheets as it was.
    host::io::Package saved("saved.xlsm", host::io::xlsx_bytes(d, "saved.xlsm"));
    EXPECT_NE(
        saved.read("xl/workbook.xml").find("<sheet name=\"Macro1\" sheetId=\"7\" state=\"veryHidden\" r:id=\"\"/>"),
        std::string::npos);
}

TEST(LenientLoading, ZipHeadersMayDisagreeInTimeStampsOnly) {
    // Offsets into the first local header, and what a changed byte there does.
    const struct {
        std::size_t offset;
        const char* failure;
    } cases[] = {
        {10, ""},                            // time
        {13, ""},                            // date
        {14, "does not match its checksum"}, // checksum
        {18, "not a valid zip archive"},     // compressed size
        {22, "not a valid zip archive"},     // size
    };
    const std::string original = zip(workbook_parts({{"S", "<row r=\"1\"><c r=\"A1\"><v>3</v></c></row>"}}));
    for (const auto& c : cases) {
        std::string bytes = original;
        bytes[c.offset] = char(bytes[c.offset] ^ 0x11);
        std::string failure = io_failure([&] {
            Document d = load_xlsx_bytes("stamps.xlsx", bytes);
            EXPECT_EQ(d.workbook.value({0, 0, 0}), host::engine::Value::number(3));
            // The package it saves is whole.
            load_xlsx_bytes("saved.xlsx", host::io::xlsx_bytes(d, "saved.xlsx"));
        });
        if (*c.failure == '\0')
            EXPECT_EQ(failure, "") << "byte " << c.offset;
        else
            EXPECT_NE(failure.find(c.failure), std::string::npos) << "byte " << c.offset << ": " << failure;
    }
}

TEST(LenientLoading, WithoutPackageRelationshipsTheWorkbookIsLookedForInItsUsualPlace) {
    const struct {
        std::vector<std::string> removed;
        const char* failure;
    } cases[] = {
        {{"_rels/.rels"}, ""},
        {{"_rels/.rels", "xl/workbook.xml"}, "missing parts _rels/.rels and xl/workbook.xml"},
    };
    for (const auto& c : cases) {
        Parts parts;
        for (auto& p : workbook_parts({{"S", "<row r=\"1\"><c r=\"A1\"><v>4</v></c></row>"}}))
            if (std::find(c.removed.begin(), c.removed.end(), p.first) == c.removed.end())
                parts.push_back(p);
        std::string failure = io_failure([&] {
            Document d = load_xlsx_bytes("norels.xlsx", zip(parts));
            EXPECT_EQ(d.workbook.value({0, 0, 0}), host::engine::Value::number(4));
        });
        if (*c.failure == '\0')
            EXPECT_EQ(failure, "") << c.removed.size();
        else
            EXPECT_NE(failure.find(c.failure), std::string::npos) << failure;
    }
}

TEST(LenientLoading, TablesListingMoreColumnsThanTheirRangeKeepTheFirst) {
    const std::string two = "<tableColumn id=\"1\" name=\"x\"/><tableColumn id=\"2\" name=\"y\"/>";
    const struct {
        std::string columns;
        const char* formula;
        bool error; // else 5, the sum of y
    } cases[] = {
        {two, "SUM(T[y])", false},
        {two + "<tableColumn id=\"3\" name=\"z\"/><tableColumn id=\"4\" name=\"w\"/>", "SUM(T[y])", false},
        {two + "<tableColumn id=\"3\" name=\"z\"/>", "SUM(T[z])", true}, // beyond the range: no column
    };
    for (const auto& c : cases) {
        Parts parts = workbook_parts(
            {{"S", std::string("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is></c><c r=\"B1\" "
                               "t=\"inlineStr\"><is><t>y</t></is></c></row><row r=\"2\"><c r=\"A2\"><v>1</v></c>"
                               "<c r=\"B2\"><v>2</v></c><c r=\"D2\"><f>") +
                       c.formula +
                       "</f></c></row><row r=\"3\"><c r=\"A3\"><v>1</v></c><c r=\"B3\"><v>3</v></c></row>"}});
        parts.emplace_back("xl/worksheets/_rels/sheet1.xml.rels",
                           std::string("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                                       "relationships\"><Relationship Id=\"rId1\" Type=\"") +
                               testing_packages::rel_ns + "/table\" Target=\"../tables/table1.xml\"/></Relationships>");
        parts.emplace_back("xl/tables/table1.xml",
                           "<table xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" id=\"1\" "
                           "name=\"T\" displayName=\"T\" ref=\"A1:B3\"><tableColumns>" +
                               c.columns + "</tableColumns></table>");
        Document d = load_xlsx_bytes("tables.xlsx", zip(parts));
        d.workbook.recalculate_all();
        const host::engine::Value v = d.workbook.value({0, 1, 3});
        if (c.error)
            EXPECT_TRUE(v.is_error()) << c.formula << " gives " << v.to_string();
        else
            EXPECT_EQ(v, host::engine::Value::number(5)) << c.formula << " gives " << v.to_string();
        EXPECT_TRUE(d.warnings.empty()) << c.formula << ": " << (d.warnings.empty() ? "" : d.warnings[0]);
    }
}

} // namespace
