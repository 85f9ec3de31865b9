// Functions newer than the file format are written with a prefix (_xlfn.IFS). A file the
// spreadsheet saved that calls one without it had it typed into a version that did not know
// the function: it is an unknown function there, and here (unless a macro of that name gave
// the value the file cached: it is kept as an add-in's). Files of other programs, and
// formulas typed here, call the function; saving writes the prefix.

#include "io/Document.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"

#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using host::engine::ErrorCode;
using host::engine::Value;
using host::io::Document;
using host::io::load_xlsx_bytes;
using host::io::xlsx_bytes;
using testing_packages::cell_at;
using testing_packages::Parts;
using testing_packages::workbook_parts;
using testing_packages::zip;

namespace {

const Value name_error = Value::error(ErrorCode::Name);

// The cells (B1 = 5), as the file holds them, and their values after recalculation in a file
// of the spreadsheet's and in one of another program's.
struct Cell {
    const char* key;
    const char* xml;
    Value in_its_file, elsewhere;
};
const std::vector<Cell> cells = {
    {"S!A1", "<c r=\"A1\" t=\"e\"><f>IFS(B1&gt;1,\"big\",TRUE,\"small\")</f><v>#NAME?</v></c>", name_error,
     Value::text("big")},
    {"S!A2", "<c r=\"A2\" t=\"str\"><f>_xlfn.IFS(B1&gt;1,\"big\",TRUE,\"small\")</f><v>big</v></c>", Value::text("big"),
     Value::text("big")},
    {"S!A3", "<c r=\"A3\" t=\"str\"><f>IFERROR(xlookup(B1,B1,B1),\"none\")</f><v>none</v></c>", Value::text("none"),
     Value::number(5)},
    {"S!A4", "<c r=\"A4\" t=\"e\"><f t=\"shared\" ref=\"A4:A5\" si=\"0\">CONCAT(B1,\"x\")</f><v>#NAME?</v></c>",
     name_error, Value::text("5x")},
    {"S!A5", "<c r=\"A5\" t=\"e\"><f t=\"shared\" si=\"0\"/><v>#NAME?</v></c>", name_error, Value::text("x")},
    {"S!A6", "<c r=\"A6\" t=\"e\"><f>Pick</f><v>#NAME?</v></c>", name_error, Value::text("five")},
    // A macro's function of the name (files give it the _xludf. prefix): its value is kept.
    {"S!A7", "<c r=\"A7\" t=\"str\"><f>_xludf.TEXTJOIN(B1)</f><v>macro</v></c>", Value::text("macro"),
     Value::text("macro")},
};

std::string book(const std::string& app_xml, const std::string& app_part = "docProps/app.xml") {
    std::string rows = "<row r=\"1\"><c r=\"B1\"><v>5</v></c></row>";
    for (const Cell& c : cells)
        rows += "<row r=\"" + std::string(c.key + 3) + "\">" + c.xml + "</row>";
    Parts parts = workbook_parts({{"S", rows}}, "",
                                 "<definedNames><definedName name=\"Pick\">SWITCH(S!$B$1,5,\"five\",\"other\")"
                                 "</definedName></definedNames>");
    if (!app_xml.empty())
        parts.emplace_back(app_part, "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                                     "extended-properties\"><Application>" +
                                         app_xml + "</Application></Properties>");
    if (app_part != "docProps/app.xml") {
        std::string& rels = parts[0].second;
        rels.insert(rels.find("</Relationships>"),
                    "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                    "relationships/extended-properties\" Target=\"" +
                        app_part + "\"/>");
    }
    return zip(parts);
}

std::string part_of(const std::string& bytes, const std::string& part) {
    return host::io::Package("saved.xlsx", bytes).read(part);
}

TEST(NewerFunctions, UnprefixedAreUnknownInTheSpreadsheetsOwnFilesOnly) {
    const struct {
        std::string application, part;
        bool its_own;
    } files[] = {
        {"Microsoft Excel", "docProps/app.xml", true},
        {"Microsoft Macintosh Excel", "props/app.xml", true},
        {"LibreOffice/7.4.7.2$Linux_X86_64 LibreOffice_project/40$Build-2", "docProps/app.xml", false},
        {"", "docProps/app.xml", false}, // no properties at all: our own files, among others
    };
    // A cached value other than #NAME? may be a macro's: it is kept as the add-ins' are.
    const std::vector<std::string> typed_early = {
        "newer.xlsx: warning: CONCAT was typed where the spreadsheet did not have it yet (the file calls it without "
        "its _xlfn. prefix): it gives #NAME? in S!A4, S!A5",
        "newer.xlsx: warning: IFS was typed where the spreadsheet did not have it yet (the file calls it without its "
        "_xlfn. prefix): it gives #NAME? in S!A1"};
    for (const auto& f : files) {
        Document d = load_xlsx_bytes("newer.xlsx", book(f.application, f.part));
        ASSERT_EQ(d.warnings.size(), 1u) << f.application;
        EXPECT_EQ(d.warnings[0], f.its_own ? "newer.xlsx: warning: XLOOKUP, TEXTJOIN need an add-in that is not "
                                             "loaded here; 2 cells keep the values the file cached: S!A3, S!A7"
                                           : "newer.xlsx: warning: TEXTJOIN needs an add-in that is not loaded here; "
                                             "1 cell keeps the value the file cached: S!A7");
        d.workbook.recalculate_all();
        const std::vector<std::string> diagnosed = host::io::diagnostic_warnings("newer.xlsx", d.workbook);
        EXPECT_EQ(diagnosed, f.its_own ? typed_early : std::vector<std::string>()) << f.application;
        for (const Cell& c : cells)
            EXPECT_EQ(d.workbook.value(cell_at(d.workbook, c.key)), f.its_own ? c.in_its_file : c.elsewhere)
                << f.application << ": " << c.key;
    }
}

// Saved, the spreadsheet's file keeps its formulas as written, a formula typed here takes the
// prefixes, and the saved file gives what the workbook gave.
TEST(NewerFunctions, SavingKeepsTheFilesFormulasAndPrefixesTypedOnes) {
    Document d = load_xlsx_bytes("newer.xlsx", book("Microsoft Excel"));
    const host::engine::CellAddress typed = cell_at(d.workbook, "S!C1"), b1 = cell_at(d.workbook, "S!B1");
    d.workbook.set_formula(typed, "TEXTJOIN(\"-\",TRUE,B1,IFS(B1>1,\"big\",TRUE,\"small\"))");
    d.workbook.set_value(b1, Value::number(0));
    d.workbook.recalculate_all();
    ASSERT_EQ(d.workbook.value(typed), Value::text("0-small"));
    const std::string saved = xlsx_bytes(d, "saved.xlsx");
    const std::string sheet = part_of(saved, "xl/worksheets/sheet1.xml");
    for (const Cell& c : cells) {
        const std::string xml = c.xml, formula = xml.substr(xml.find("<f"), xml.find("<v>") - xml.find("<f"));
        EXPECT_NE(sheet.find(formula), std::string::npos) << formula << " in " << sheet;
    }
    EXPECT_NE(sheet.find("<f>_xlfn.TEXTJOIN(\"-\",TRUE,B1,_xlfn.IFS(B1&gt;1,"), std::string::npos) << sheet;
    Document again = load_xlsx_bytes("saved.xlsx", saved);
    again.workbook.recalculate_all();
    for (const char* key : {"S!A1", "S!A2", "S!A3", "S!A4", "S!A5", "S!A6", "S!A7", "S!C1"})
        EXPECT_EQ(again.workbook.value(cell_at(again.workbook, key)), d.workbook.value(cell_at(d.workbook, key)))
            << key;
}

// A workbook of our own (no file behind it) writes the prefixes, in cells and names, and its
// unknown functions stay unknown.
TEST(NewerFunctions, OurOwnFilesPrefixThemAndReadBackTheSame) {
    Document d;
    d.workbook.add_sheet("S");
    d.workbook.define_name("Twice", "CONCAT(1,1)");
    const char* const formulas[] = {"IFS(1>2,1,TRUE,2)", "_xludf.IFS(1,2)", "Twice&SWITCH(1,1,\"a\")"};
    for (int r = 0; r < 3; ++r)
        d.workbook.set_formula({0, r, 0}, formulas[r]);
    d.workbook.recalculate_all();
    EXPECT_EQ(d.workbook.value({0, 0, 0}), Value::number(2));
    EXPECT_EQ(d.workbook.value({0, 1, 0}), name_error);
    EXPECT_EQ(d.workbook.value({0, 2, 0}), Value::text("11a"));
    const std::string saved = xlsx_bytes(d, "own.xlsx");
    const std::string sheet = part_of(saved, "xl/worksheets/sheet1.xml");
    for (const char* stored :
         {"<f>_xlfn.IFS(1&gt;2,1,TRUE,2)</f>", "<f>_xludf.IFS(1,2)</f>", "<f>Twice&amp;_xlfn.SWITCH(1,1,\"a\")</f>"})
        EXPECT_NE(sheet.find(stored), std::string::npos) << stored << " in " << sheet;
    EXPECT_NE(part_of(saved, "xl/workbook.xml").find(">_xlfn.CONCAT(1,1)<"), std::string::npos);
    Document again = load_xlsx_bytes("own.xlsx", saved);
    again.workbook.recalculate_all();
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ(again.workbook.value({0, r, 0}), d.workbook.value({0, r, 0})) << formulas[r];
}

} // namespace
