// A worksheet's cells are read, and written back, a piece of about a megabyte at a time, the
// rest of the worksheet as a small document of its own. Every shape of worksheet text reads
// as it would whole, faults are reported where they are in the whole part, and saving changes
// only what the run changed, wherever the pieces were cut.

#include "io/Document.hpp"
#include "io/IoError.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"
#include "io/XlsxParts.hpp"
#include "io/Xml.hpp"

#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

using host::engine::Value;
using host::io::Document;
using host::io::Package;
using testing_packages::workbook_parts;
using testing_packages::zip;

namespace {

const char* const main_ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";

// The parts of a workbook of one sheet, S, whose part is `worksheet`, whole.
testing_packages::Parts parts_with(const std::string& worksheet) {
    testing_packages::Parts parts = workbook_parts({{"S", ""}});
    for (auto& part : parts)
        if (part.first == "xl/worksheets/sheet1.xml")
            part.second = worksheet;
    return parts;
}

std::string book_with(const std::string& worksheet) { return zip(parts_with(worksheet)); }

host::engine::CellAddress at(const std::string& a1) {
    host::engine::CellAddress a{0, 0, 0};
    if (!host::engine::parse_a1(a1, a.row, a.col))
        throw std::runtime_error("bad cell " + a1);
    return a;
}

// The cells read, "A1 1; B1 =A1*2 2": position, formula if any, value.
std::string cells_read(const std::string& worksheet) {
    Package package("book.xlsx", book_with(worksheet));
    const host::io::WorkbookRecord book = host::io::read_workbook_parts(package);
    const host::io::SheetRecord& sheet = book.sheets[0];
    std::string out;
    for (const host::io::CellRecord& c : sheet.cells) {
        out += out.empty() ? "" : "; ";
        out += host::io::format_address(c.at()) + " ";
        if (c.kind() == host::io::FormulaKind::SharedDependent)
            out += "=(shared " + std::to_string(sheet.shared_indexes[c.detail()]) + ") ";
        else if (c.kind() != host::io::FormulaKind::None)
            out += "=" + sheet.formulas[c.detail()].text + " ";
        out += c.value.to_string();
    }
    return out;
}

TEST(LargeSheets, EveryShapeOfWorksheetTextReads) {
    const std::string ws = std::string("<worksheet xmlns=\"") + main_ns + "\">";
    const struct {
        const char* what;
        std::string worksheet;
        const char* cells;
    } cases[] = {
        {"prefixed names",
         std::string("<x:worksheet xmlns:x=\"") + main_ns +
             "\"><x:sheetData><x:row r=\"1\"><x:c r=\"A1\"><x:v>1</x:v></x:c><x:c r=\"B1\" t=\"inlineStr\">"
             "<x:is><x:t>a</x:t></x:is></x:c></x:row></x:sheetData></x:worksheet>",
         "A1 1; B1 a"},
        {"attributes in any order and quotes, '>' in a value",
         ws + "<sheetData><row spans='1:2' r='2'><c t=\"str\" s='1>' r='B2'><f>\"&gt;\"&amp;\"x\"</f>"
              "<v>&gt;x</v></c></row></sheetData></worksheet>",
         "B2 =\">\"&\"x\" >x"},
        {"comments, instructions and CDATA between and inside rows",
         ws + "<sheetData><!-- a <row> here --><?pi <row>?><row r=\"1\"><!-- x --><c r=\"A1\" t=\"inlineStr\">"
              "<is><t><![CDATA[<b>]]></t></is></c></row><!----></sheetData></worksheet>",
         "A1 <b>"},
        {"entities",
         ws + "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>&lt;&#65;&#x42;&quot;</t></is>"
              "</c></row></sheetData></worksheet>",
         "A1 <AB\""},
        {"rows and cells without positions",
         ws + "<sheetData><row><c><v>1</v></c><c><v>2</v></c></row><row><c r=\"C2\"><v>3</v></c><c><v>4</v></c>"
              "</row></sheetData></worksheet>",
         "A1 1; B1 2; C2 3; D2 4"},
        {"white space and line ends between everything",
         "\r\n" + ws +
             "\r\n <sheetData >\r\n  <row r=\"3\" >\r\n   <c r=\"A3\" >\r\n<v>5</v>\r\n</c >\r\n  </row>\r\n"
             " </sheetData\r\n>\r\n</worksheet>",
         "A3 5"},
        {"closed sheet data", ws + "<sheetData/></worksheet>", ""},
        {"no sheet data", ws + "<dimension ref=\"A1\"/></worksheet>", ""},
        {"a second sheet data is not read",
         ws + "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData><sheetData><row r=\"2\"><c r=\"A2\">"
              "<v>2</v></c></row></sheetData></worksheet>",
         "A1 1"},
        {"byte order mark and declaration",
         "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n" + ws +
             "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>\xC3\xA9</t></is></c></row></sheetData>"
             "</worksheet>",
         "A1 \xC3\xA9"},
        {"another encoding",
         "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + ws +
             "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>\xE9</t></is></c></row></sheetData>"
             "</worksheet>",
         "A1 \xC3\xA9"},
        {"document type declaration",
         "<!DOCTYPE worksheet [<!ELEMENT worksheet ANY>]>" + ws +
             "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData></worksheet>",
         "A1 1"},
        {"the grid's corners, and shared formulas numbered as files may",
         ws + "<sheetData><row r=\"1\"><c r=\"XFD1\"><f t=\"shared\" ref=\"XFD1:XFD2\" si=\"70000\">A1</f>"
              "<v>1</v></c></row><row r=\"2\"><c r=\"XFD2\"><f t=\"shared\" si=\"70000\"/><v>2</v></c></row>"
              "<row r=\"1048575\"><c r=\"A1048575\"><f t=\"shared\" ref=\"A1048575:B1048576\" si=\"2147483647\">"
              "C1</f><v>3</v></c><c r=\"B1048575\"><f t=\"shared\" si=\"2147483647\"/><v>4</v></c></row>"
              "<row r=\"1048576\"><c r=\"A1048576\"><f t=\"shared\" si=\"2147483647\"/><v>5</v></c>"
              "<c r=\"XFD1048576\"><f t=\"shared\" si=\"70000\"/><v>6</v></c></row></sheetData></worksheet>",
         "XFD1 =A1 1; XFD2 =(shared 70000) 2; A1048575 =C1 3; B1048575 =(shared 2147483647) 4; "
         "A1048576 =(shared 2147483647) 5; XFD1048576 =(shared 70000) 6"},
    };
    for (const auto& c : cases) {
        std::string read;
        try {
            read = cells_read(c.worksheet);
        } catch (const std::exception& e) {
            read = std::string("error: ") + e.what();
        }
        EXPECT_EQ(read, c.cells) << c.what;
    }
}

// A sheet parsed whole because its text is not one the pieces take keeps what was read
// before its cells: its tables' filters tell the rows they hide.
TEST(LargeSheets, ParsedWholeAfterItsTables) {
    const std::string sheet_data = "<sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>x</t></is></c>"
                                   "</row><row r=\"3\" hidden=\"1\"/><row r=\"7\" hidden=\"1\"/></sheetData>";
    const std::string ws = std::string("<worksheet xmlns=\"") + main_ns + "\">" + sheet_data + "</worksheet>";
    const struct {
        const char* what;
        std::string worksheet;
    } cases[] = {
        {"in pieces", ws},
        {"document type declaration", "<!DOCTYPE worksheet>" + ws},
        {"another encoding", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + ws},
    };
    for (const auto& c : cases) {
        testing_packages::Parts parts = parts_with(c.worksheet);
        parts.emplace_back("xl/worksheets/_rels/sheet1.xml.rels",
                           std::string("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                                       "relationships\"><Relationship Id=\"rId1\" Type=\"") +
                               testing_packages::rel_ns + "/table\" Target=\"../tables/table1.xml\"/></Relationships>");
        parts.emplace_back("xl/tables/table1.xml",
                           std::string("<table xmlns=\"") + main_ns +
                               "\" id=\"1\" name=\"T\" displayName=\"T\" ref=\"A1:A5\"><autoFilter ref=\"A1:A5\">"
                               "<filterColumn colId=\"0\"><filters><filter val=\"y\"/></filters></filterColumn>"
                               "</autoFilter><tableColumns count=\"1\"><tableColumn id=\"1\" name=\"x\"/>"
                               "</tableColumns></table>");
        const Document d = host::io::load_xlsx_bytes("tables.xlsx", zip(parts));
        EXPECT_EQ(d.workbook.row_hidden(0, 2), host::engine::RowHidden::ByFilter) << c.what;
        // Beyond the table too: a sheet with a filter on takes every hidden row for a filtered one.
        EXPECT_EQ(d.workbook.row_hidden(0, 6), host::engine::RowHidden::ByFilter) << c.what;
        EXPECT_EQ(d.workbook.value(at("A1")), Value::text("x")) << c.what;
    }
}

// A sheet of many pieces: row 2i holds i (A), "t&i" (B, inline) and a formula filled down
// from C2 (=A2*2, its cached values 0) or 2i; each row on a line of its own, the worksheet's
// start on line 1. Rows not written have nothing. `row_text` may replace rows.
struct LargeSheet {
    int rows = 20000;
    std::map<int, std::string> row_text; // by row number
    bool positions = true;               // without, the cells of every 1000th row omit theirs
    bool formulas = true;

    std::string row(int r) const {
        auto replaced = row_text.find(r);
        if (replaced != row_text.end())
            return replaced->second;
        const std::string n = std::to_string(r), i = std::to_string(r / 2);
        const bool implied = !positions && r % 2000 == 0;
        auto c = [&](const char* column) {
            return implied ? std::string("<c") : std::string("<c r=\"") + column + n + "\"";
        };
        std::string text = "<row r=\"" + n + "\">" + c("A") + "><v>" + i + "</v></c>" + c("B") +
                           " t=\"inlineStr\"><is><t>t&amp;" + i + "</t></is></c>" + c("C") + ">";
        if (!formulas)
            return text + "<v>" + std::to_string(r) + "</v></c></row>";
        text += r == 2 ? "<f t=\"shared\" ref=\"C2:C" + std::to_string(2 * rows) + "\" si=\"0\">A2*2</f>"
                       : std::string("<f t=\"shared\" si=\"0\"/>");
        return text + "<v>0</v></c></row>";
    }

    // Rows 2, 4, ... 2 * rows; row r is on line r / 2 + 1.
    std::string worksheet(const std::string& after = std::string()) const {
        std::string text = std::string("<worksheet xmlns=\"") + main_ns + "\"><dimension ref=\"A2:C" +
                           std::to_string(2 * rows) + "\"/><sheetData>";
        for (int r = 2; r <= 2 * rows; r += 2)
            text += "\n" + row(r);
        return text + "</sheetData>" + after + "</worksheet>";
    }
};

TEST(LargeSheets, ReadInPiecesAsWhole) {
    LargeSheet sheet;
    sheet.positions = false;
    // A row longer than a piece, and markup that looks like a row's end.
    sheet.row_text[9000] = "<row r=\"9000\"><!-- </row> --><c r=\"B9000\" t=\"inlineStr\"><is><t>" +
                           std::string(3 << 20, 'x') + "</t></is></c></row>";
    const std::string text = sheet.worksheet();
    ASSERT_GT(text.size(), std::size_t(5) << 20) << "the sheet must span several pieces";
    Document d = host::io::load_xlsx_bytes("large.xlsx", book_with(text));
    d.workbook.recalculate_all();
    const struct {
        const char* cell;
        Value value;
    } probes[] = {
        {"A2", Value::number(1)},
        {"B2", Value::text("t&1")},
        {"C2", Value::number(2)},
        {"A4000", Value::number(2000)},
        {"C4000", Value::number(4000)},
        {"A8998", Value::number(4499)},
        {"A9000", Value()},
        {"C9000", Value()},
        {"C9002", Value::number(9002)},
        {"B40000", Value::text("t&20000")},
        {"C40000", Value::number(40000)},
        {"A3", Value()},
    };
    for (const auto& p : probes)
        EXPECT_EQ(d.workbook.value(at(p.cell)), p.value) << p.cell;
    EXPECT_EQ(d.workbook.value(at("B9000")).as_text().size(), std::size_t(3) << 20);
    std::size_t cells = 0;
    d.workbook.for_each_cell(0, [&](std::int32_t, std::int32_t, const Value&) { ++cells; });
    EXPECT_EQ(cells, 3u * 20000u - 2u);
}

TEST(LargeSheets, FaultsAreReportedWhereTheyAreInTheWholePart) {
    const std::string part = "large.xlsx: sheet 'S'";
    const struct {
        const char* what;
        std::map<int, std::string> rows;
        const char* after;
        std::string message;
    } cases[] = {
        {"malformed in a late piece",
         {{36000, "<row r=\"36000\"><c r=\"A36000\"><v>1</v></row>"}},
         "",
         part + ": malformed XML in part xl/worksheets/sheet1.xml (line 18001): "},
        {"a bad cell before a malformed row: the malformed part first",
         {{10, "<row r=\"10\"><c r=\"A10\"><v>1,5</v></c></row>"}, {36000, "<row r=\"36000\"><c></row>"}},
         "",
         part + ": malformed XML in part xl/worksheets/sheet1.xml (line 18001): "},
        {"a bad cell in a late piece",
         {{36000, "<row r=\"36000\"><c r=\"A36000\"><v>1,5</v></c></row>"}},
         "",
         part + ", cell A36000: bad number '1,5'"},
        {"rows out of the sheet",
         {{30000, "<row r=\"1048577\"/>"}},
         "",
         part + ", cell row 1048577: reference off the sheet"},
        {"malformed after the cells",
         {},
         "<autoFilter ref=\"A1:B2\"><bad></autoFilter>",
         part + ": malformed XML in part xl/worksheets/sheet1.xml (line 20001): "},
        {"stray end tag among the rows",
         {{20000, "</row>"}},
         "",
         part + ": malformed XML in part xl/worksheets/sheet1.xml (line 10001): "},
    };
    for (const auto& c : cases) {
        LargeSheet sheet;
        sheet.row_text = c.rows;
        const std::string bytes = book_with(sheet.worksheet(c.after));
        const std::string message =
            testing_packages::io_failure([&] { host::io::load_xlsx_bytes("large.xlsx", bytes); });
        EXPECT_EQ(message.substr(0, c.message.size()), c.message) << c.what << ": " << message;
    }
}

// The cells of sheet 0, by position, as "A1 1".
std::vector<std::string> cells_of(const host::engine::Workbook& book) {
    std::vector<std::string> out;
    book.for_each_cell(0, [&](std::int32_t r, std::int32_t c, const Value& v) {
        out.push_back(host::engine::a1_name(r, c) + " " + v.to_string());
    });
    return out;
}

// The values a saved sheet holds, formulas' cached values among them, as "A1 1".
std::vector<std::string> saved_values(const std::string& bytes) {
    Package package("saved.xlsx", bytes);
    const host::io::WorkbookRecord book = host::io::read_workbook_parts(package);
    std::vector<std::string> out;
    for (const host::io::CellRecord& c : book.sheets[0].cells)
        out.push_back(host::io::format_address(c.at()) + " " + c.value.to_string());
    return out;
}

// The first difference, "" when none.
std::string difference(const std::vector<std::string>& got, const std::vector<std::string>& expected) {
    for (std::size_t i = 0; i < got.size() && i < expected.size(); ++i)
        if (got[i] != expected[i])
            return "cell " + std::to_string(i) + ": " + got[i] + " instead of " + expected[i];
    if (got.size() != expected.size())
        return std::to_string(got.size()) + " cells instead of " + std::to_string(expected.size());
    return std::string();
}

TEST(LargeSheets, SavedInPiecesAsWhole) {
    // Changes in the first, middle and last pieces; new cells in rows that exist, in new rows
    // between rows and past the end; cells cleared; a shared formula's first cell overwritten
    // (its other cells are in later pieces).
    const struct {
        const char* cell;
        Value value;
    } edits[] = {
        {"A6", Value::number(100)},       {"A39998", Value::number(7)}, {"D20000", Value::text("new")},
        {"A20001", Value::boolean(true)}, {"E7", Value::number(-1)},    {"F50000", Value::text("far")},
        {"A1", Value::number(0.5)},       {"B30000", Value()},          {"C12000", Value()},
    };
    const struct {
        const char* what;
        bool positions;
        bool overwrite_anchor;
    } sheets[] = {
        {"every position written", true, false},
        {"positions implied", false, false},
        {"the shared formula's first cell overwritten", true, true},
    };
    for (const auto& s : sheets) {
        SCOPED_TRACE(s.what);
        LargeSheet sheet;
        sheet.positions = s.positions;
        Document d = host::io::load_xlsx_bytes("large.xlsx", book_with(sheet.worksheet()));
        for (const auto& e : edits)
            d.workbook.set_value(at(e.cell), e.value);
        if (s.overwrite_anchor)
            d.workbook.set_value(at("C2"), Value::number(3));
        d.workbook.recalculate_all();
        const std::string bytes = host::io::xlsx_bytes(d, "saved.xlsx");
        EXPECT_EQ(difference(saved_values(bytes), cells_of(d.workbook)), "") << "values and formulas' cached values";
        Document again = host::io::load_xlsx_bytes("saved.xlsx", bytes);
        again.workbook.recalculate_all();
        EXPECT_EQ(difference(cells_of(again.workbook), cells_of(d.workbook)), "") << "formulas saved as they were";
        EXPECT_EQ(again.workbook.formula_text(at("C40000")), "A40000*2");
        const std::string saved = Package("saved.xlsx", bytes).read("xl/worksheets/sheet1.xml");
        host::io::XmlDocument doc = host::io::parse_xml("saved.xlsx", "sheet1", saved);
        EXPECT_EQ(std::string(host::io::child(doc.root(), "dimension").attribute("ref").value()), "A1:F50000");
        // Rows in order, each once.
        long last = 0;
        for (std::size_t p = saved.find("<row r=\""); p != std::string::npos; p = saved.find("<row r=\"", p + 1)) {
            const long r = std::strtol(saved.c_str() + p + 8, nullptr, 10); // no copy of the rest of the text
            EXPECT_GT(r, last) << "row " << r << " after row " << last;
            last = r;
        }
        EXPECT_EQ(last, 50000);
    }
}

TEST(LargeSheets, UnchangedPiecesAreCopiedAsTheyWere) {
    LargeSheet sheet;
    sheet.formulas = false;
    // Spelled as a writer would not spell it.
    sheet.row_text[30000] = "<row r='30000' ><c r='A30000'  ><v>15000</v></c ></row>";
    const std::string text = sheet.worksheet();
    Document d = host::io::load_xlsx_bytes("large.xlsx", book_with(text));
    d.workbook.set_value(at("A6"), Value::number(100)); // in the first piece only
    d.workbook.recalculate_all();
    std::string saved = Package("saved.xlsx", host::io::xlsx_bytes(d, "saved.xlsx")).read("xl/worksheets/sheet1.xml");
    EXPECT_NE(saved.find(sheet.row_text.at(30000)), std::string::npos);
    EXPECT_EQ(saved.find("<v>3</v>"), std::string::npos) << "A6 was 3";
    EXPECT_EQ(saved.size(), text.size() + 2);
    // Saved again: nothing changed, nothing rewritten.
    Document again = host::io::load_xlsx_bytes("saved.xlsx", host::io::xlsx_bytes(d, "saved.xlsx"));
    again.workbook.recalculate_all();
    const std::string bytes = host::io::xlsx_bytes(again, "saved.xlsx");
    EXPECT_EQ(Package("saved.xlsx", bytes).read("xl/worksheets/sheet1.xml"), saved);
}

} // namespace
