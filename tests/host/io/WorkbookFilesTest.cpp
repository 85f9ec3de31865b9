#include "io/Csv.hpp"
#include "io/Document.hpp"
#include "io/IoError.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"
#include "io/XlsxParts.hpp"

#include "FlatJson.hpp"
#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

using host::engine::CellAddress;
using host::engine::Value;
using host::engine::Workbook;
using host::io::Document;
using host::io::IoError;
using host::io::Package;
using testing_packages::corpus;
using testing_packages::workbook_parts;
using testing_packages::zip;

namespace {

CellAddress at(const Workbook& book, const std::string& key) { return testing_packages::cell_at(book, key); }
Value value(const Workbook& book, const std::string& key) { return book.value(at(book, key)); }

std::map<std::string, Value> expected_values() {
    return testing_json::parse_object(host::io::read_file(corpus("expected.json")));
}

// Every value of every formula cell, by "Sheet!A1".
std::map<std::string, Value> formula_values(const Workbook& book) {
    std::map<std::string, Value> out;
    for (int s = 0; s < book.sheet_count(); ++s)
        book.for_each_cell(s, [&](std::int32_t r, std::int32_t c, const Value& v) {
            CellAddress a{s, r, c};
            if (book.is_formula(a))
                out[host::io::cell_key(book, a)] = v;
        });
    return out;
}

Document reload(const Document& document) {
    return host::io::load_xlsx_bytes("saved.xlsx", host::io::xlsx_bytes(document, "saved.xlsx"));
}

std::string part_text(const std::string& bytes, const std::string& part) {
    return Package("saved.xlsx", bytes).read(part);
}

class Corpus : public ::testing::TestWithParam<const char*> {};

TEST_P(Corpus, LoadsAndRecalculatesToTheExpectedValues) {
    Document d = host::io::load_xlsx(corpus(GetParam()));
    d.workbook.recalculate_all();
    EXPECT_EQ(d.workbook.active_sheet(), 1);
    EXPECT_TRUE(d.warnings.empty());
    auto expected = expected_values();
    ASSERT_EQ(expected.size(), 16u);
    for (const auto& e : expected)
        EXPECT_EQ(value(d.workbook, e.first), e.second) << e.first;
}

TEST_P(Corpus, SavedPackageReloadsWithTheSameValuesAndUntouchedParts) {
    Document d = host::io::load_xlsx(corpus(GetParam()));
    d.workbook.recalculate_all();
    std::string bytes = host::io::xlsx_bytes(d, "saved.xlsx");
    Package before("in.xlsx", host::io::read_file(corpus(GetParam())));
    Package after("saved.xlsx", bytes);
    ASSERT_EQ(after.entries(), before.entries());

    // Only the workbook part and the sheet with formulas may change; Inputs holds only
    // constants that did not change.
    std::set<std::string> may_change = {d.workbook_part, d.sheet_parts[1]};
    for (const std::string& entry : before.entries())
        if (!may_change.count(entry)) {
            EXPECT_EQ(after.read(entry), before.read(entry)) << entry;
        }
    EXPECT_NE(after.read(d.workbook_part).find("fullCalcOnLoad=\"1\""), std::string::npos);

    // The cached values in the file are the engine's, to the last bit.
    host::io::WorkbookRecord record = host::io::read_workbook_parts(after);
    std::map<std::string, Value> values = formula_values(d.workbook);
    for (const auto& cell : record.sheets[1].cells) {
        std::string key = "Calc Sheet!" + host::io::format_address(cell.at());
        ASSERT_TRUE(values.count(key)) << key;
        EXPECT_EQ(cell.value, values[key]) << key;
    }

    Document again = host::io::load_xlsx_bytes("saved.xlsx", bytes);
    again.workbook.recalculate_all();
    EXPECT_EQ(formula_values(again.workbook), values);
    EXPECT_EQ(again.workbook.active_sheet(), 1);
    EXPECT_EQ(again.workbook.name_formula("rate"), d.workbook.name_formula("rate"));
}

INSTANTIATE_TEST_SUITE_P(Producers, Corpus,
                         ::testing::Values("openpyxl.xlsx", "libxlsxwriter.xlsx", "libreoffice.xlsx", "handmade.xlsx",
                                           "handmade-prefixed.xlsx"));

TEST(XlsxWriteBack, ChangedNewAndClearedCellsKeepStylesAndOrder) {
    Document d = host::io::load_xlsx(corpus("handmade.xlsx"));
    Workbook& book = d.workbook;
    book.set_value(at(book, "Inputs!B2"), Value::number(20));       // changed number
    book.set_value(at(book, "Inputs!A1"), Value::text("Title"));    // shared string -> inline
    book.set_value(at(book, "Inputs!C2"), Value::number(1.5));      // new cell, existing row
    book.set_value(at(book, "Inputs!D10"), Value::text("<&> new")); // new row past the end
    book.set_value(at(book, "Inputs!A9"), Value::boolean(false));   // new row between
    book.clear(at(book, "Inputs!B6"));                              // cleared
    book.recalculate_all();
    std::string bytes = host::io::xlsx_bytes(d, "saved.xlsx");

    Document again = host::io::load_xlsx_bytes("saved.xlsx", bytes);
    again.workbook.recalculate_all();
    for (const char* key : {"Inputs!B2", "Inputs!A1", "Inputs!C2", "Inputs!D10", "Inputs!A9", "Inputs!B6", "Inputs!B7",
                            "Calc Sheet!A1", "Calc Sheet!A4"})
        EXPECT_EQ(value(again.workbook, key), value(book, key)) << key;
    EXPECT_EQ(value(again.workbook, "Calc Sheet!A1"), Value::number(80));
    EXPECT_TRUE(value(again.workbook, "Inputs!B6").is_empty());

    Package before("in.xlsx", host::io::read_file(corpus("handmade.xlsx")));
    Package after("saved.xlsx", bytes);
    for (const char* part :
         {"xl/sharedStrings.xml", "xl/styles.xml", "xl/calcChain.xml", "xl/comments1.xml",
          "xl/drawings/vmlDrawing1.vml", "xl/worksheets/_rels/sheet1.xml.rels", "[Content_Types].xml"})
        EXPECT_EQ(after.read(part), before.read(part)) << part;

    host::io::XmlDocument sheet = host::io::parse_xml("saved.xlsx", "sheet1", after.read("xl/worksheets/sheet1.xml"));
    pugi::xml_node data = host::io::child(sheet.root(), "sheetData");
    std::vector<host::io::Address> order;
    std::map<std::string, std::string> styles;
    for (pugi::xml_node row : data.children("row"))
        for (pugi::xml_node c : row.children("c")) {
            order.emplace_back();
            ASSERT_EQ(host::io::parse_address(c.attribute("r").value(), order.back()), host::io::A1Parse::Ok);
            EXPECT_EQ(order.back().row + 1, row.attribute("r").as_uint());
            styles[c.attribute("r").value()] = c.attribute("s").value();
        }
    EXPECT_EQ(std::adjacent_find(order.begin(), order.end(), [](auto& a, auto& b) { return !(a < b); }), order.end())
        << "cells out of order";
    EXPECT_EQ(styles["A1"], "1"); // style kept on a changed cell
    EXPECT_EQ(styles["A2"], "1");
    EXPECT_EQ(styles["B2"], "");
    EXPECT_TRUE(styles.count("D10"));
    EXPECT_EQ(std::string(host::io::child(sheet.root(), "dimension").attribute("ref").value()), "A1:D10");
    // The legacy drawing element after the sheet data is still there.
    EXPECT_TRUE(host::io::child(sheet.root(), "legacyDrawing"));

    std::string workbook = after.read("xl/workbook.xml");
    EXPECT_NE(workbook.find("<calcPr calcId=\"191029\" fullCalcOnLoad=\"1\"/>"), std::string::npos) << workbook;
}

TEST(XlsxWriteBack, ConstantOverASharedAnchorGivesDependentsTheirOwnFormulas) {
    Document d = host::io::load_xlsx(corpus("handmade.xlsx"));
    d.workbook.set_value(at(d.workbook, "Calc Sheet!B1"), Value::number(5));
    d.workbook.recalculate_all();
    Document again = reload(d);
    again.workbook.recalculate_all();
    EXPECT_FALSE(again.workbook.is_formula(at(again.workbook, "Calc Sheet!B1")));
    EXPECT_EQ(value(again.workbook, "Calc Sheet!B1"), Value::number(5));
    for (const char* key : {"Calc Sheet!B2", "Calc Sheet!B3", "Calc Sheet!B4", "Calc Sheet!B5"}) {
        EXPECT_TRUE(again.workbook.is_formula(at(again.workbook, key))) << key;
        EXPECT_EQ(value(again.workbook, key), value(d.workbook, key)) << key;
    }
    EXPECT_EQ(again.workbook.formula_text(at(again.workbook, "Calc Sheet!B3")), "Inputs!B4*2");
}

TEST(XlsxWriteBack, InsertionIntoImplicitPositionsKeepsEveryCellInPlace) {
    auto cells = [](const Workbook& book) {
        std::map<std::string, Value> out;
        book.for_each_cell(
            0, [&](std::int32_t r, std::int32_t c, const Value& v) { out[host::engine::a1_name(r, c)] = v; });
        return out;
    };
    Document d = host::io::load_xlsx(corpus("handmade-prefixed.xlsx"));
    std::map<std::string, Value> inputs = cells(d.workbook);
    d.workbook.set_value(at(d.workbook, "Inputs!C3"), inputs["C3"] = Value::number(-7));
    d.workbook.set_value(at(d.workbook, "Inputs!A12"), inputs["A12"] = Value::text("x"));
    std::string bytes = host::io::xlsx_bytes(d, "saved.xlsx");
    EXPECT_EQ(cells(host::io::load_xlsx_bytes("saved.xlsx", bytes).workbook), inputs);
    std::string sheet = part_text(bytes, "xl/worksheets/sheet1.xml");
    EXPECT_NE(sheet.find("<x:c r=\"C3\"><x:v>-7</x:v></x:c>"), std::string::npos) << sheet;
    EXPECT_EQ(sheet.find("<c "), std::string::npos) << "new elements take the document's prefix";
}

// Written into an existing package and as CSV, every value reads back as it was.
TEST(WriteBack, ValuesReadBackExactlyFromXlsxAndCsv) {
    const Value values[] = {
        Value::number(0.1 + 0.2),
        Value::number(1e-300),
        Value::number(5e-324),
        Value::number(1.7976931348623157e308),
        Value::number(-2.5e-10),
        Value::number(123456789012345680000.0),
        Value::number(1.0 / 3.0),
        Value::number(-0.0),
        Value::number(1e15),
        Value::number(1e16 + 2),
        Value::boolean(true),
        Value::error(host::engine::ErrorCode::NA),
        Value::text("  lead and trail  "),
        Value::text("a\x01"
                    "b"),
        Value::text("_x0041_"),
        Value::text("<&>\"'"),
        Value::text("tab\there"),
        Value::text("line\nbreak\r\n"),
        Value::text(""),
        Value::text("=not a formula"),
        Value::text("1e5"),
        Value::text("3"),
        Value::text("a,b"),
        Value::text("TRUE"),
        Value::text("#N/A"),
    };
    Document d = host::io::load_xlsx(corpus("handmade.xlsx"));
    std::int32_t row = 20;
    for (const Value& v : values)
        d.workbook.set_value({0, row++, 0}, v);
    d.workbook.set_formula({0, row, 0}, "SUM(B2,B3)");
    const Workbook xlsx = reload(d).workbook;
    const Workbook csv = host::io::load_csv_text("m.csv", host::io::csv_text(d.workbook, 0)).workbook;
    for (const Workbook* back : {&xlsx, &csv}) {
        SCOPED_TRACE(back == &csv ? "csv" : "xlsx");
        row = 20;
        for (const Value& v : values)
            EXPECT_EQ(back->value({0, row++, 0}), v) << v.to_string();
        EXPECT_EQ(back->formula_text({0, row, 0}), "SUM(B2,B3)");
        EXPECT_TRUE(back->value({0, 15, 0}).is_empty());
    }
}

// Formula results of every type are cached with their type; a sheet where nothing changed is copied.
TEST(XlsxWriteBack, FormulaResultsOfEveryTypeAndUnchangedSheets) {
    Package p(
        "t.xlsx",
        zip(workbook_parts({{"S", "<row r=\"1\"><c r=\"A1\"><f>1+1</f><v>2</v></c>"
                                  "<c r=\"B1\"><f>\"a\"&amp;\"b\"</f></c>"
                                  "<c r=\"C1\"><f>1&lt;2</f></c>"
                                  "<c r=\"D1\"><f>1/0</f></c><c r=\"E1\" t=\"e\"><f>1+2</f><v>#N/A</v></c></row>"},
                            {"T", "<row r=\"1\"><c r=\"A1\"><v>4</v></c><c r=\"B1\"><f>A1*2</f><v>8</v></c></row>"}})));
    Document d = host::io::load_xlsx_bytes("t.xlsx", p.bytes());
    d.workbook.recalculate_all();
    std::string bytes = host::io::xlsx_bytes(d, "saved.xlsx");
    std::string sheet = part_text(bytes, "xl/worksheets/sheet1.xml");
    EXPECT_NE(sheet.find("<c r=\"A1\"><f>1+1</f><v>2</v></c>"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("<c r=\"B1\" t=\"str\"><f>\"a\"&amp;\"b\"</f><v>ab</v></c>"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("<c r=\"C1\" t=\"b\"><f>1&lt;2</f><v>1</v></c>"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("<c r=\"D1\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>"), std::string::npos) << sheet;
    EXPECT_NE(sheet.find("<c r=\"E1\"><f>1+2</f><v>3</v></c>"), std::string::npos) << sheet;
    EXPECT_EQ(part_text(bytes, "xl/worksheets/sheet2.xml"), p.read("xl/worksheets/sheet2.xml"));
    // A stale cached value is a change.
    d.workbook.set_value({1, 0, 0}, Value::number(5));
    d.workbook.recalculate_all();
    bytes = host::io::xlsx_bytes(d, "saved.xlsx");
    EXPECT_NE(part_text(bytes, "xl/worksheets/sheet2.xml").find("<f>A1*2</f><v>10</v>"), std::string::npos);
}

TEST(XlsxWriteBack, WorkbookWithoutPackageGetsANewOne) {
    Document d;
    int s = d.workbook.add_sheet("New one");
    d.workbook.add_sheet("Second");
    d.workbook.set_value({s, 0, 0}, Value::number(2.5));
    d.workbook.set_value({s, 1, 0}, Value::text("t"));
    d.workbook.set_formula({s, 2, 1}, "A1*4");
    d.workbook.set_formula({1, 0, 0}, "'New one'!B3+1");
    d.workbook.define_name("half", "0.5");
    d.workbook.set_active_sheet(1);
    // The date system and iteration settings travel in the new package.
    d.workbook.set_date1904(true);
    d.workbook.set_calc_settings({true, 50, 0.0001});
    d.workbook.recalculate_all();
    Document again = reload(d);
    again.workbook.recalculate_all();
    EXPECT_EQ(again.workbook.sheet_names(), d.workbook.sheet_names());
    EXPECT_EQ(again.workbook.active_sheet(), 1);
    EXPECT_EQ(again.workbook.value({0, 1, 0}), Value::text("t"));
    EXPECT_EQ(again.workbook.value({1, 0, 0}), Value::number(11));
    EXPECT_EQ(again.workbook.name_formula("half"), "0.5");
    EXPECT_TRUE(again.workbook.date1904());
    const host::engine::CalcSettings& back = again.workbook.calc_settings();
    EXPECT_TRUE(back.iterate && back.max_iterations == 50 && back.max_change == 0.0001);
}

// The cells of a shared formula, each the anchor's formula moved to it as copying it would:
// the same text and value as the moved text set on its own, whether the cell takes a compiled
// program from the cell before it or reads its text.
struct SharedBlock {
    const char* formula;    // in B2, shared over B2 to the last cell
    int last_row, last_col; // 0-based
    const char* index;      // the shared formula's number in the file
};
const SharedBlock shared_blocks[] = {
    {"A2*0.5+SIN(B$1)*0.25+B$1/(1+ABS(B1))", 29, 5, "0"}, // filled down and across
    {"B1+1", 29, 1, "65535"},
    {"AVERAGE(A1:A3)*2+$A$40", 19, 3, "65536"},
    {"A2/$A$5-A1", 11, 4, "2147483647"},
    {"SUM($A$1:A2)", 29, 1, "7"}, // a range whose corners move differently
    {"A2+$A$3", 9, 1, "70000"},   // A3 twice in B3
};

TEST(XlsxLoad, SharedFormulasAsTheirMovedTexts) {
    for (const SharedBlock& block : shared_blocks) {
        Workbook written;
        written.add_sheet("Plan");
        std::string rows;
        for (int r = 0; r <= 40; ++r) {
            const std::string n = std::to_string(r + 1);
            rows += "<row r=\"" + n + "\">";
            for (int c = 0; c <= block.last_col; ++c) {
                const std::string cell = host::engine::a1_name(r, c);
                if (r == 0 || c == 0) {
                    const double x = 1 + r * 0.75 - c * 0.5;
                    rows += "<c r=\"" + cell + "\"><v>" + std::to_string(x) + "</v></c>";
                    written.set_value({0, r, c}, Value::number(std::stod(std::to_string(x))));
                } else if (r <= block.last_row) {
                    rows += "<c r=\"" + cell + "\"><f t=\"shared\" si=\"" + block.index + "\"";
                    if (r == 1 && c == 1)
                        rows += " ref=\"B2:" + host::engine::a1_name(block.last_row, block.last_col) + "\">" +
                                block.formula + "</f>";
                    else
                        rows += "/>";
                    rows += "<v>0</v></c>";
                    written.set_formula({0, r, c}, host::engine::move_formula(block.formula, r - 1, c - 1));
                }
            }
            rows += "</row>";
        }
        Document d = host::io::load_xlsx_bytes("book.xlsx", zip(workbook_parts({{"Plan", rows}})));
        d.workbook.recalculate_all();
        written.recalculate_all();
        for (int r = 1; r <= block.last_row; ++r)
            for (int c = 1; c <= block.last_col; ++c) {
                const CellAddress cell{0, r, c};
                EXPECT_EQ(written.formula_text(cell), d.workbook.formula_text(cell)) << block.formula;
                EXPECT_EQ(written.value(cell), d.workbook.value(cell))
                    << block.formula << " in " << host::engine::a1_name(r, c);
            }
    }
}

TEST(XlsxLoad, FormulaErrorsNameTheFileSheetAndCell) {
    const std::string message = "book.xlsx: sheet 'Plan', cell A2: shared formula 3 has no anchor cell";
    try {
        host::io::load_xlsx_bytes(
            "book.xlsx",
            zip(workbook_parts({{"Plan", "<row r=\"2\"><c r=\"A2\"><f t=\"shared\" si=\"3\"/></c></row>"}})));
        ADD_FAILURE() << "no error";
    } catch (const IoError& e) {
        EXPECT_EQ(std::string(e.what()).rfind(message, 0), 0u) << e.what();
        EXPECT_EQ(e.sheet(), "Plan");
    }
    try { // a name no sheet may have
        host::io::load_xlsx_bytes("book.xlsx", zip(workbook_parts({{"a[1]", ""}})));
        ADD_FAILURE() << "a sheet named a[1]";
    } catch (const IoError& e) {
        EXPECT_EQ(e.sheet(), "a[1]");
    }
}

TEST(XlsxLoad, NamesThatCannotBeDefinedAreWarnings) {
    Document d = host::io::load_xlsx_bytes(
        "book.xlsx", zip(workbook_parts({{"S", "<row r=\"1\"><c r=\"A1\"><f>good*2</f></c></row>"}}, "",
                                        "<definedNames><definedName name=\"good\">3</definedName>"
                                        "<definedName name=\"broken\">1+*</definedName>"
                                        "<definedName name=\"_xlnm.Print_Area\">S!$A$1</definedName>"
                                        "</definedNames>")));
    d.workbook.recalculate_all();
    EXPECT_EQ(d.workbook.value({0, 0, 0}), Value::number(6));
    ASSERT_EQ(d.warnings.size(), 1u);
    EXPECT_EQ(d.warnings[0].rfind("book.xlsx: warning: name broken ignored: formula does not parse", 0), 0u)
        << d.warnings[0];
}

} // namespace

// CELL("filename") gives the file a workbook was opened from, as "folder/[book]Sheet", so that
// the usual formulas for a sheet's own name work; a workbook never saved gives "".
TEST(XlsxLoad, CellFilenameNamesTheFileAndTheSheet) {
    const std::string path = corpus("handmade.xlsx");
    Document d = host::io::load_xlsx(path);
    const std::string folder = path.substr(0, path.find_last_of('/') + 1);
    d.workbook.set_formula({0, 40, 0}, "CELL(\"filename\",A1)");
    d.workbook.set_formula({0, 41, 0}, "MID(CELL(\"filename\",'Calc Sheet'!B2),FIND(\"]\",CELL(\"filename\",A1))+1,99)");
    d.workbook.set_formula({0, 42, 0}, "CELL(\"filename\")");
    d.workbook.recalculate();
    EXPECT_EQ(d.workbook.value({0, 40, 0}), Value::text(folder + "[handmade.xlsx]Inputs"));
    EXPECT_EQ(d.workbook.value({0, 41, 0}), Value::text("Calc Sheet"));
    EXPECT_EQ(d.workbook.value({0, 42, 0}), Value::text(folder + "[handmade.xlsx]Inputs"));
    Workbook fresh;
    fresh.add_sheet("S");
    fresh.set_formula({0, 0, 0}, "CELL(\"filename\",A2)");
    fresh.recalculate();
    EXPECT_EQ(fresh.value({0, 0, 0}), Value::text(""));
}
