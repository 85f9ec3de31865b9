// Formulas reading other workbooks ([1]Sheet1!A1, [1]!Rate) take the values the spreadsheet
// saved in the workbook's external link part, warn once that they do, and the part survives
// a save untouched.

#include "io/Document.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"

#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <string>

using host::engine::Value;
using host::io::Document;
using host::io::load_xlsx_bytes;
using testing_packages::Parts;

namespace {

// The copy of Rates.xlsx: Sheet1 A1:B3 (A1 5, B1 0.25, A2 2, B2 TRUE, A3 "x", B3 not held),
// 'My Sheet'!B2 "text", a sheet the spreadsheet could not read, three names and a function of
// its code (Tax, a name that refers to nothing).
const char* const link_part =
    "<externalLink xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
    "<externalBook xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" r:id=\"rId1\">"
    "<sheetNames><sheetName val=\"Sheet1\"/><sheetName val=\"My Sheet\"/><sheetName val=\"Gone\"/></sheetNames>"
    "<definedNames><definedName name=\"Rate\" refersTo=\"=Sheet1!$B$1\"/>"
    "<definedName name=\"Local\" refersTo=\"=Sheet1!$A$2\" sheetId=\"0\"/>"
    "<definedName name=\"Constant\" refersTo=\"=0.05\"/>"
    "<definedName name=\"Block\" refersTo=\"=Sheet1!$A$1:$A$2\"/><definedName name=\"Tax\"/></definedNames>"
    "<sheetDataSet><sheetData sheetId=\"0\">"
    "<row r=\"1\"><cell r=\"A1\"><v>5</v></cell><cell r=\"B1\"><v>0.25</v></cell></row>"
    "<row r=\"2\"><cell r=\"A2\"><v>2</v></cell><cell r=\"B2\" t=\"b\"><v>1</v></cell></row>"
    "<row r=\"3\"><cell r=\"A3\" t=\"str\"><v>x</v></cell></row></sheetData>"
    "<sheetData sheetId=\"1\"><row r=\"2\"><cell r=\"B2\" t=\"str\"><v>text</v></cell></row></sheetData>"
    "<sheetData sheetId=\"2\" refreshError=\"1\"/></sheetDataSet></externalBook></externalLink>";

const struct {
    const char* formula;
    const char* expected; // a number, "text" in quotes, or an error
} cases[] = {
    {"[1]Sheet1!A1", "5"},
    {"[1]Sheet1!$A$1*2+B1", "11"}, // B1 holds 1
    {"SUM([1]Sheet1!A1:B3)", "7.25"},
    {"COUNTA([1]Sheet1!A1:B3)", "5"}, // B3 is blank
    {"INDEX([1]Sheet1!A1:B3,3,1)", "\"x\""},
    {"'[1]My Sheet'!B2", "\"text\""},
    {"[1]!Rate*4", "1"},
    {"[1]Sheet1!Local", "2"},
    {"[1]!Constant", "0.05"},
    {"SUM([1]!Block)", "7"},
    // The copy leaves blank cells out: a cell it does not hold is blank.
    {"[1]Sheet1!C9", "0"},
    {"IF([1]Sheet1!C9=\"\",\"blank\",1)", "\"blank\""},
    {"IF('[1]My Sheet'!A1=\"\",\"blank\",1)", "\"blank\""},
    {"SUM([1]Sheet1!D5:E9)", "0"},
    {"SUM([1]Sheet1!A1:A500)", "7"}, // partly held
    {"ROWS([1]Sheet1!A1:B500)*10+COLUMNS([1]Sheet1!A1:B500)", "5002"},
    {"COUNTA([1]Sheet1!A:A)", "3"},
    {"INDEX([1]Sheet1!A1:A10,8)", "0"},
    {"[1]Gone!A1", "#REF!"},   // a sheet the spreadsheet could not read
    {"[1]Other!A1", "#REF!"},  // a sheet the copy does not have
    {"[2]Sheet1!A1", "#REF!"}, // a link the workbook does not have
    // Functions that read the cells of an open workbook only cannot take its ranges
    {"SUMIF([1]Sheet1!A1:A3,\">1\")", "#VALUE!"},
    {"SUMIF(B1:B3,\">0\",[1]Sheet1!A1:A3)", "#VALUE!"},
    {"SUMIFS([1]Sheet1!A:A,[1]Sheet1!A:A,\">1\")", "#VALUE!"},
    {"SUMIFS(B1:B3,B1:B3,\">0\",[1]Sheet1!A1:A3,\">0\")", "#VALUE!"},
    {"COUNTIF([1]!Block,2)", "#VALUE!"},
    {"COUNTIFS([1]Sheet1!A1:A3,\">1\")", "#VALUE!"},
    {"AVERAGEIF([1]Sheet1!A1:A3,\">1\")", "#VALUE!"},
    {"AVERAGEIFS([1]Sheet1!A1:A3,B1:B3,\">0\")", "#VALUE!"},
    {"MAXIFS([1]Sheet1!A1:A3,B1:B3,\">0\")", "#VALUE!"},
    {"MINIFS(B1:B3,[1]Sheet1!A1:A3,\">0\")", "#VALUE!"},
    {"COUNTBLANK([1]Sheet1!A1:B3)", "#VALUE!"},
    {"COUNTIF(B1:B3,[1]Sheet1!A1-4)", "1"}, // a criterion from it is a value
    {"[1]!Tax(B1)", "#NAME?"},              // its code is not there to run
};

Parts linked_workbook() {
    std::string cells = "<row r=\"1\"><c r=\"B1\"><v>1</v></c></row>";
    int row = 1;
    for (const auto& c : cases) {
        std::string text;
        for (const char* p = c.formula; *p; ++p)
            text += *p == '\'' ? "&apos;" : std::string(1, *p);
        const std::string r = std::to_string(++row);
        // A function nobody had is cached as #NAME? (otherwise the cell would keep its value).
        const std::string cached = std::string(c.expected) == "#NAME?" ? " t=\"e\"><f>" + text + "</f><v>#NAME?</v>"
                                                                       : "><f>" + text + "</f><v>0</v>";
        cells += "<row r=\"" + r + "\"><c r=\"A" + r + "\"" + cached + "</c></row>";
    }
    Parts parts = testing_packages::workbook_parts(
        {{"S", cells}}, std::string(), "<externalReferences><externalReference r:id=\"rIdL\"/></externalReferences>");
    for (auto& part : parts)
        if (part.first == "xl/_rels/workbook.xml.rels")
            part.second.insert(part.second.rfind("</Relationships>"),
                               std::string("<Relationship Id=\"rIdL\" Type=\"") + testing_packages::rel_ns +
                                   "/externalLink\" Target=\"externalLinks/externalLink1.xml\"/>");
    parts.emplace_back("xl/externalLinks/externalLink1.xml", link_part);
    parts.emplace_back("xl/externalLinks/_rels/externalLink1.xml.rels",
                       std::string("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                                   "relationships\"><Relationship Id=\"rId1\" Type=\"") +
                           testing_packages::rel_ns +
                           "/externalLinkPath\" Target=\"file:///C:/Models/Rates.xlsx\" TargetMode=\"External\"/>"
                           "</Relationships>");
    return parts;
}

Value expected_value(const std::string& text) {
    if (text[0] == '"')
        return Value::text(text.substr(1, text.size() - 2));
    if (auto error = host::engine::parse_error(text))
        return Value::error(*error);
    return Value::number(std::stod(text));
}

TEST(LinkedBooks, FormulasReadTheSavedCopy) {
    Document d = load_xlsx_bytes("model.xlsx", testing_packages::zip(linked_workbook()));
    d.workbook.recalculate_all();
    int row = 1;
    for (const auto& c : cases) {
        const host::engine::CellAddress cell{0, row++, 0};
        EXPECT_EQ(d.workbook.value(cell), expected_value(c.expected))
            << "=" << c.formula << " gives " << d.workbook.value(cell).to_string();
    }
    ASSERT_EQ(d.warnings.size(), 1u) << "one warning for the whole workbook";
    EXPECT_NE(d.warnings[0].find("formulas in S!A2, S!A3, S!A4, S!A5, S!A6 and 29 more read other workbooks ([1] "
                                 "file:///C:/Models/Rates.xlsx)"),
              std::string::npos)
        << d.warnings[0];
    EXPECT_TRUE(d.workbook.names().empty()) << "the linked workbook's names are not this one's";
}

TEST(LinkedBooks, SavingKeepsTheLinkPartAndTheFormulas) {
    const std::string original = testing_packages::zip(linked_workbook());
    Document d = load_xlsx_bytes("model.xlsx", original);
    d.workbook.recalculate_all();
    d.workbook.set_value({0, 0, 1}, Value::number(2)); // B1: the run's change
    d.workbook.recalculate();
    const std::string saved = host::io::xlsx_bytes(d, "saved.xlsx");
    host::io::Package before("model.xlsx", original), after("saved.xlsx", saved);
    for (const char* part : {"xl/externalLinks/externalLink1.xml", "xl/externalLinks/_rels/externalLink1.xml.rels"})
        EXPECT_EQ(after.read(part), before.read(part)) << part;
    Document again = load_xlsx_bytes("saved.xlsx", saved);
    again.workbook.recalculate_all();
    int row = 1;
    for (const auto& c : cases) {
        const host::engine::CellAddress cell{0, row++, 0};
        EXPECT_EQ(again.workbook.formula_text(cell), c.formula);
        EXPECT_EQ(again.workbook.value(cell), d.workbook.value(cell)) << c.formula;
    }
    EXPECT_EQ(again.workbook.value({0, 2, 0}), Value::number(12));
}

} // namespace
