#include "io/IoError.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"
#include "io/XlsxParts.hpp"

#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

using host::engine::Value;
using host::io::CellRecord;
using host::io::FormulaKind;
using host::io::IoError;
using host::io::Package;
using host::io::read_workbook_parts;
using host::io::WorkbookRecord;
using testing_packages::corpus;
using testing_packages::workbook_parts;
using testing_packages::zip;

namespace {

const CellRecord* find_cell(const host::io::SheetRecord& sheet, const char* ref) {
    host::io::Address a;
    if (host::io::parse_address(ref, a) != host::io::A1Parse::Ok)
        return nullptr;
    for (const CellRecord& c : sheet.cells)
        if (c.at() == a)
            return &c;
    return nullptr;
}

// The cell, or an exception (which the test reports) when the reader lost it.
const CellRecord& cell(const host::io::SheetRecord& sheet, const char* ref) {
    const CellRecord* c = find_cell(sheet, ref);
    if (!c)
        throw std::runtime_error(std::string("no cell ") + ref + " in " + sheet.name);
    return *c;
}

WorkbookRecord read_corpus(const std::string& name) {
    Package p(name, host::io::read_file(corpus(name)));
    return read_workbook_parts(p);
}

// Every producer writes the same model: the same sheets, inputs, names and formulas.
class CorpusParts : public ::testing::TestWithParam<const char*> {};

// Their values after recalculation are checked with the rest of the workbook elsewhere.
TEST_P(CorpusParts, RichTextAndArrayFormulas) {
    WorkbookRecord book = read_corpus(GetParam());
    ASSERT_EQ(book.sheets.size(), 2u);
    const auto& inputs = book.sheets[0];
    // In the handmade file the first shared string is split into rich-text runs.
    EXPECT_EQ(cell(inputs, "A1").value, Value::text("Name"));
    EXPECT_EQ(find_cell(inputs, "C9"), nullptr);
    const auto& calc = book.sheets[1];
    EXPECT_EQ(calc.cells.size(), 16u);
    EXPECT_EQ(cell(calc, "C2").kind(), FormulaKind::Array);
    EXPECT_EQ(calc.formulas[cell(calc, "C2").detail()].text, "SUM(Inputs!B2:B3*2)");
    EXPECT_EQ(calc.formulas[cell(calc, "C5").detail()].text, "'Calc Sheet'!A1+1");
}

INSTANTIATE_TEST_SUITE_P(Producers, CorpusParts,
                         ::testing::Values("openpyxl.xlsx", "libxlsxwriter.xlsx", "libreoffice.xlsx", "handmade.xlsx",
                                           "handmade-prefixed.xlsx"));

TEST(XlsxParts, SharedFormulasKeepAnchorAndDependents) {
    for (const char* name : {"handmade.xlsx", "handmade-prefixed.xlsx"}) {
        WorkbookRecord book = read_corpus(name);
        const auto& calc = book.sheets[1];
        EXPECT_EQ(cell(calc, "B1").kind(), FormulaKind::SharedAnchor);
        EXPECT_EQ(calc.formulas[cell(calc, "B1").detail()].shared_index, 0);
        EXPECT_EQ(calc.formulas[cell(calc, "B1").detail()].text, "Inputs!B2*2");
        for (const char* ref : {"B2", "B3", "B4", "B5"}) {
            const CellRecord& dependent = cell(calc, ref);
            EXPECT_TRUE(dependent.kind() == FormulaKind::SharedDependent &&
                        calc.shared_indexes[dependent.detail()] == 0)
                << name << " " << ref;
        }
        // The cached values written by the producer are read as well.
        EXPECT_EQ(cell(calc, "B2").value, Value::number(8));
        EXPECT_EQ(cell(calc, "C3").value, Value::boolean(true));
        EXPECT_EQ(cell(calc, "A3").value, Value::text("on"));
        EXPECT_EQ(cell(calc, "A5").value, Value::error(host::engine::ErrorCode::Div0));
    }
}

TEST(XlsxParts, CellTypesAndImplicitPositions) {
    Package p("t.xlsx",
              zip(workbook_parts({{"S", "<row r=\"1\">"
                                        "<c r=\"A1\" t=\"s\"><v>1</v></c>"
                                        "<c r=\"B1\" t=\"inlineStr\"><is><t>in</t><r><t>line</t></r></is></c>"
                                        "<c r=\"C1\" t=\"b\"><v>0</v></c>"
                                        "<c r=\"D1\" t=\"e\"><v>#N/A</v></c>"
                                        "<c r=\"E1\" t=\"e\"><v>#FIELD!</v></c>"
                                        "<c r=\"F1\"><v> -1.5E-3 </v></c>"
                                        "<c r=\"G1\" s=\"3\"/><c r=\"H1\" t=\"e\"><v>#SPILL!</v></c>"
                                        "<c r=\"I1\" t=\"str\"><v>a_x000D_b</v></c>"
                                        "<c r=\"J1\"><f t=\"dataTable\" ref=\"J1\"/><v>7</v></c>"
                                        "<c r=\"K1\"><f>1+1</f><v/></c>"
                                        "</row>"
                                        // Cells and rows without positions follow the one before.
                                        "<row><c><v>1</v></c><c r=\"D2\"><v>2</v></c><c><v>3</v></c></row>"
                                        "<row r=\"5\"><c><v>4</v></c></row><row><c r=\"B6\"><v>5</v></c></row>"}},
                                 "<si><t>zero</t></si><si><t>one</t></si>")));
    WorkbookRecord book = read_workbook_parts(p);
    const auto& s = book.sheets[0];
    EXPECT_EQ(cell(s, "A1").value, Value::text("one"));
    EXPECT_EQ(cell(s, "B1").value, Value::text("inline"));
    EXPECT_EQ(cell(s, "C1").value, Value::boolean(false));
    EXPECT_EQ(cell(s, "D1").value, Value::error(host::engine::ErrorCode::NA));
    EXPECT_EQ(cell(s, "E1").value, Value::error(host::engine::ErrorCode::NA));
    EXPECT_EQ(cell(s, "H1").value, Value::error(host::engine::ErrorCode::Spill));
    EXPECT_EQ(cell(s, "F1").value, Value::number(-1.5e-3));
    EXPECT_EQ(find_cell(s, "G1"), nullptr) << "a styled empty cell holds nothing";
    EXPECT_EQ(cell(s, "I1").value, Value::text("a\rb"));
    EXPECT_EQ(cell(s, "J1").kind(), FormulaKind::None) << "a data table with no row above keeps its values";
    EXPECT_EQ(cell(s, "J1").value, Value::number(7));
    EXPECT_EQ(cell(s, "K1").kind(), FormulaKind::Normal);
    EXPECT_TRUE(cell(s, "K1").value.is_empty());
    const char* const positions[] = {"A2", "D2", "E2", "A5", "B6"};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(cell(s, positions[i]).value, Value::number(i + 1)) << positions[i];
    EXPECT_EQ(s.cells.size(), 10u + 5u) << "G1 holds nothing";
}

struct BadCase {
    const char* what;
    testing_packages::Parts parts;
    const char* message;
};

TEST(XlsxParts, BadFilesGiveOneClearMessage) {
    using testing_packages::Parts;
    Parts missing_sheet = workbook_parts({{"Plan", ""}});
    missing_sheet.erase(missing_sheet.begin() + 1); // the worksheet part
    const BadCase cases[] = {
        {"malformed sheet", workbook_parts({{"Plan", "<row><c><v>1</v></row>"}}),
         "book.xlsx: sheet 'Plan': malformed XML in part xl/worksheets/sheet1.xml (line 1): "},
        {"missing sheet part", missing_sheet, "book.xlsx: sheet 'Plan': missing part xl/worksheets/sheet1.xml"},
        {"no workbook anywhere",
         {{"docProps/app.xml", "<Properties/>"}},
         "book.xlsx: not an .xlsx workbook (missing parts _rels/.rels and xl/workbook.xml)"},
        {"malformed relationships",
         {{"_rels/.rels", "<Relationships><Relationship"}},
         "book.xlsx: malformed XML in part _rels/.rels (line 1)"},
        {"off the sheet", workbook_parts({{"Plan", "<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>"}}),
         "book.xlsx: sheet 'Plan', cell XFE1: reference off the sheet"},
        {"row off the sheet", workbook_parts({{"Plan", "<row r=\"1048577\"><c><v>1</v></c></row>"}}),
         "book.xlsx: sheet 'Plan', cell row 1048577: reference off the sheet"},
        {"bad shared string",
         workbook_parts({{"Plan", "<row><c r=\"B7\" t=\"s\"><v>4</v></c></row>"}}, "<si><t>a</t></si>"),
         "book.xlsx: sheet 'Plan', cell B7: shared string 4 does not exist"},
        {"bad number", workbook_parts({{"Plan", "<row><c r=\"C2\"><v>1,5</v></c></row>"}}),
         "book.xlsx: sheet 'Plan', cell C2: bad number '1,5'"},
        {"bad date", workbook_parts({{"Plan", "<row><c r=\"A1\" t=\"d\"><v>noon</v></c></row>"}}),
         "book.xlsx: sheet 'Plan', cell A1: bad date 'noon'"},
        {"bad boolean", workbook_parts({{"Plan", "<row><c r=\"A1\" t=\"b\"><v>yes</v></c></row>"}}),
         "book.xlsx: sheet 'Plan', cell A1: bad boolean 'yes'"},
        {"shared formula without index", workbook_parts({{"Plan", "<row><c r=\"A1\"><f t=\"shared\">1</f></c></row>"}}),
         "book.xlsx: sheet 'Plan', cell A1: shared formula without a valid index"},
        {"no sheets", workbook_parts({}), "book.xlsx: the workbook has no sheets"},
        {"duplicate sheets", workbook_parts({{"A", ""}, {"A", ""}}), "book.xlsx: two sheets named 'A'"},
    };
    for (const BadCase& c : cases) {
        const std::string message = testing_packages::io_failure([&] {
            Package p("book.xlsx", zip(c.parts));
            read_workbook_parts(p);
        });
        EXPECT_EQ(message.substr(0, std::string(c.message).size()), c.message) << c.what << ": " << message;
    }
}

TEST(XlsxParts, EscapesRoundTrip) {
    struct Case {
        const char *raw, *decoded;
    } cases[] = {
        {"plain", "plain"},           {"a_x000D_b", "a\rb"}, {"_x0001__x001F_", "\x01\x1F"}, {"_x00E9_", "\xC3\xA9"},
        {"_x005F_x0041_", "_x0041_"}, {"_x12_", "_x12_"},    {"_xZZZZ_", "_xZZZZ_"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(host::io::decode_escapes(c.raw), c.decoded) << c.raw;
    for (const char* text : {"a\x01z", "_x0041_", "tab\tand\nline", "_x", "__x0000__"})
        EXPECT_EQ(host::io::decode_escapes(host::io::encode_escapes(text)), text) << text;
}

TEST(XlsxParts, IsoDates) {
    struct Case {
        const char* text;
        bool date1904;
        double serial;
    } cases[] = {
        {"1900-01-01", false, 1},
        {"1900-02-28", false, 59},
        {"1900-03-01", false, 61},
        {"2024-02-29T12:00:00", false, 45351.5},
        {"1999-12-31T06:00:00Z", false, 36525.25},
        {"1904-01-01", true, 0},
        {"1904-01-02T00:00:00", true, 1},
    };
    for (const Case& c : cases) {
        double serial = -1;
        ASSERT_TRUE(host::io::parse_iso_date(c.text, c.date1904, serial)) << c.text;
        EXPECT_DOUBLE_EQ(serial, c.serial) << c.text;
    }
    double ignored;
    for (const char* bad : {"", "2024", "2024-13-01", "2024-01-01X", "2024/01/01", "2024-01-01T1:00", "10:61",
                            "2024-01-15T", "T", "noon"})
        EXPECT_FALSE(host::io::parse_iso_date(bad, false, ignored)) << bad;
}

// A spill never covers merged cells: B1 =SEQUENCE(3) (cached over B1:B3) beside the sheet's
// merged blocks, and what B1 then shows.
TEST(XlsxParts, MergedCellsStopSpills) {
    const std::string rows = "<row r=\"1\"><c r=\"B1\" cm=\"1\"><f t=\"array\" ref=\"B1:B3\">_xlfn.SEQUENCE(3)</f>"
                             "<v>1</v></c></row><row r=\"2\"><c r=\"B2\"><v>2</v></c></row>"
                             "<row r=\"3\"><c r=\"B3\"><v>3</v></c></row>";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "1"},
        {"<mergeCell ref=\"A1:A3\"/>", "1"},                                 // beside the spill
        {"<mergeCell ref=\"B3:C4\"/>", "#SPILL!"},                           // its last cell
        {"<mergeCell ref=\"B1:C1\"/>", "#SPILL!"},                           // its own cell
        {"<mergeCell ref=\"D9:E9\"/><mergeCell ref=\"A2:B2\"/>", "#SPILL!"}, // any block
        {"<mergeCell ref=\"B2:XFE2\"/><mergeCell/>", "1"},                   // unreadable: none
    };
    for (const auto& [merges, expected] : cases) {
        auto parts = workbook_parts({{"S", rows}});
        for (auto& part : parts)
            if (part.first == "xl/worksheets/sheet1.xml")
                part.second.replace(part.second.find("</sheetData>"), 12,
                                    "</sheetData><mergeCells>" + merges + "</mergeCells>");
        host::io::Document d = host::io::load_xlsx_bytes("merged.xlsx", zip(parts));
        d.workbook.recalculate_all();
        const Value& got = d.workbook.value({0, 0, 1});
        EXPECT_EQ(got, expected == "1" ? Value::number(1) : Value::error(host::engine::ErrorCode::Spill)) << merges;
        EXPECT_EQ(d.workbook.value({0, 2, 1}).is_empty(), expected != "1") << merges;
    }
}

} // namespace

// Rows the file marks hidden, told apart by the filters of the sheet: on a sheet where a filter
// that has criteria is on, every hidden row is the filter's; elsewhere the user's.
TEST(XlsxParts, HiddenRowsByTheUserOrAFilter) {
    struct Case {
        std::string filter; // what follows sheetData
        std::string hidden; // rows 1 to 8: '-' shown, 'U' hidden by the user, 'F' by a filter
    };
    const std::string criteria = "<filterColumn colId=\"0\"><filters><filter val=\"x\"/></filters></filterColumn>";
    const std::string rows = "<row r=\"1\" hidden=\"1\"/><row r=\"3\" hidden=\"1\"><c r=\"A3\"><v>1</v></c></row>"
                             "<row r=\"4\" hidden=\"0\"/><row r=\"5\" hidden=\"true\"/><row r=\"7\" hidden=\"1\"/>";
    const std::vector<std::pair<std::string, Case>> cases = {
        {"no filter", {"", "U-U-U-U-"}},
        {"a filter", {"<autoFilter ref=\"A1:A5\">" + criteria + "</autoFilter>", "F-F-F-F-"}},
        {"a filter without criteria", {"<autoFilter ref=\"A1:A5\"/>", "U-U-U-U-"}},
        {"a column with no criteria",
         {"<autoFilter ref=\"A1:A5\"><filterColumn colId=\"0\" hiddenButton=\"1\"/></autoFilter>", "U-U-U-U-"}},
        {"a filter without a range", {"<autoFilter>" + criteria + "</autoFilter>", "U-U-U-U-"}},
    };
    for (const auto& [name, c] : cases) {
        auto parts = workbook_parts({{"S", rows}});
        for (auto& part : parts)
            if (part.first == "xl/worksheets/sheet1.xml")
                part.second.replace(part.second.find("</sheetData>"), 12, std::string("</sheetData>") + c.filter);
        const host::io::Document d = host::io::load_xlsx_bytes("rows.xlsx", zip(parts));
        std::string hidden;
        for (std::int32_t row = 0; row < 8; ++row) {
            const host::engine::RowHidden how = d.workbook.row_hidden(0, row);
            hidden += how == host::engine::RowHidden::ByUser     ? 'U'
                      : how == host::engine::RowHidden::ByFilter ? 'F'
                                                                 : '-';
        }
        EXPECT_EQ(hidden, c.hidden) << name;
    }
}

// Column widths for CELL("width"), in whole characters: a width in the file counts the cell's
// padding (5/7 of a character), the sheet's base width does not, a hidden column is 0 wide.
TEST(XlsxParts, ColumnWidthsForCell) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        // before sheetData, widths of columns A to E
        {"", "8 8 8 8 8"},
        {"<sheetFormatPr baseColWidth=\"10\"/>", "10 10 10 10 10"},
        {"<sheetFormatPr defaultColWidth=\"12.7109375\"/>", "12 12 12 12 12"},
        {"<sheetFormatPr baseColWidth=\"10\"/><cols><col min=\"2\" max=\"3\" width=\"12\" customWidth=\"1\"/>"
         "<col min=\"5\" max=\"5\" width=\"20\" hidden=\"1\"/></cols>",
         "10 11 11 10 0"},
        {"<cols><col min=\"4\" max=\"4\" width=\"30.5\"/><col min=\"0\" max=\"2\" width=\"3\"/><col/></cols>",
         "8 8 8 29 8"},
    };
    std::string row = "<row r=\"1\">";
    for (char col : std::string("ABCDE"))
        row += std::string("<c r=\"") + col + "2\"><f>CELL(\"width\"," + col + "1)</f></c>";
    row = "<row r=\"2\">" + row.substr(std::string("<row r=\"1\">").size()) + "</row>";
    for (const auto& [before, expected] : cases) {
        auto parts = workbook_parts({{"S", row}});
        for (auto& part : parts)
            if (part.first == "xl/worksheets/sheet1.xml")
                part.second.replace(part.second.find("<sheetData>"), 11, before + "<sheetData>");
        host::io::Document d = host::io::load_xlsx_bytes("widths.xlsx", zip(parts));
        d.workbook.recalculate_all();
        std::string got;
        for (std::int32_t col = 0; col < 5; ++col)
            got += (col ? " " : "") + d.workbook.value({0, 1, col}).to_string();
        EXPECT_EQ(got, expected) << before;
    }
}
