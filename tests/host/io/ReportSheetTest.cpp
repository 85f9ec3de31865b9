// A report sheet added to saved packages: it joins every kind of workbook as its last sheet
// under a free name, reads back as written, and leaves every other part as it was.
#include "io/Csv.hpp"
#include "io/Package.hpp"
#include "io/ReportSheet.hpp"
#include "io/Xlsx.hpp"

#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

using host::engine::Value;
using host::io::ReportCell;
using host::io::ReportSheet;
using host::io::ReportStyle;

namespace {

struct NameCase {
    std::vector<std::string> taken;
    std::string wanted, expected;
};

TEST(ReportSheet, TakesAFreeName) {
    const std::string long_name = "A report name of thirty-one chr";
    const NameCase cases[] = {
        {{"Sheet1"}, "Ombrix Report", "Ombrix Report"},
        {{"Sheet1", "OMBRIX REPORT"}, "Ombrix Report", "Ombrix Report (2)"},
        {{"Ombrix Report", "ombrix report (2)"}, "Ombrix Report", "Ombrix Report (3)"},
        {{long_name}, long_name, "A report name of thirty-one (2)"},
    };
    for (const NameCase& c : cases)
        EXPECT_EQ(host::io::free_sheet_name(c.taken, c.wanted), c.expected) << c.wanted;
}

ReportSheet small_report() {
    ReportSheet sheet;
    sheet.name = "Ombrix Report";
    sheet.column_widths = {20, 12};
    sheet.rows = {{{Value::text("Title & <notes>"), ReportStyle::heading}},
                  {{Value::text("Run ended"), ReportStyle::text}, {Value::text("completed"), ReportStyle::text}},
                  {{Value::text("Date"), ReportStyle::text}, {Value::number(46000.5), ReportStyle::date_time}},
                  {{Value::number(1), ReportStyle::whole}, {Value::number(-2.5), ReportStyle::number}},
                  {{Value::number(2), ReportStyle::whole}, {Value::number(0.125), ReportStyle::seconds}}};
    host::io::ReportChart chart;
    chart.title = "Convergence";
    chart.x_title = "Generation";
    chart.y_title = "Objective";
    chart.series = {{"Trial 1", 0, 1, 3, 4, false, 0}};
    chart.from = {0, 3};
    chart.to = {10, 9};
    sheet.charts.push_back(chart);
    return sheet;
}

// The values of every cell of a sheet, by position.
std::vector<std::string> cells_of(const host::engine::Workbook& book, int sheet) {
    std::vector<std::string> cells;
    book.for_each_cell(sheet, [&](std::int32_t row, std::int32_t column, const Value& v) {
        cells.push_back(std::to_string(row) + "," + std::to_string(column) + "=" + v.to_string());
    });
    return cells;
}

TEST(ReportSheet, JoinsEachWorkbookAsItsLastSheetAndChangesNoOtherPart) {
    // Workbooks from several producers, and one of our own making with no style sheet.
    std::vector<std::pair<std::string, std::string>> books;
    for (const char* name :
         {"handmade.xlsx", "handmade-prefixed.xlsx", "libreoffice.xlsx", "openpyxl.xlsx", "libxlsxwriter.xlsx"})
        books.emplace_back(name, host::io::read_file(testing_packages::corpus(name)));
    host::io::Document from_csv = host::io::load_csv_text("model.csv", "1,2\n=A1+B1,x\n");
    books.emplace_back("model.csv as .xlsx", host::io::xlsx_bytes(from_csv, "model.xlsx"));

    const std::set<std::string> edited_parts = {"[Content_Types].xml", "workbook.xml", "workbook.xml.rels",
                                                "styles.xml"};
    for (const auto& [name, bytes] : books) {
        SCOPED_TRACE(name);
        host::io::Document before = host::io::load_xlsx_bytes(name, bytes);
        std::string added;
        std::string saved = host::io::add_report_sheet(name, bytes, small_report(), added);
        host::io::Document after = host::io::load_xlsx_bytes(name, saved);

        const host::engine::Workbook& book = after.workbook;
        int sheets = before.workbook.sheet_count();
        ASSERT_EQ(book.sheet_count(), sheets + 1);
        EXPECT_EQ(book.sheet_name(sheets), added);
        for (int s = 0; s < sheets; ++s) {
            EXPECT_EQ(book.sheet_name(s), before.workbook.sheet_name(s));
            EXPECT_EQ(cells_of(book, s), cells_of(before.workbook, s));
        }
        EXPECT_EQ(cells_of(book, sheets),
                  (std::vector<std::string>{"0,0=Title & <notes>", "1,0=Run ended", "1,1=completed", "2,0=Date",
                                            "2,1=46000.5", "3,0=1", "3,1=-2.5", "4,0=2", "4,1=0.125"}));

        // Every part the workbook had is still there; only the lists and styles changed.
        host::io::Package old_package(name, bytes), new_package(name, saved);
        for (const std::string& entry : old_package.entries()) {
            ASSERT_TRUE(new_package.has(entry)) << entry;
            std::string base = entry.substr(entry.rfind('/') + 1);
            if (edited_parts.count(base) == 0) {
                EXPECT_EQ(new_package.read(entry), old_package.read(entry)) << entry;
            }
        }
        // The chart is reachable from the new sheet through the drawing.
        std::string sheet_part = after.sheet_parts.back();
        std::vector<host::io::Relationship> drawings = new_package.relationships(sheet_part);
        ASSERT_EQ(drawings.size(), 1u);
        std::vector<host::io::Relationship> charts = new_package.relationships(drawings[0].target);
        ASSERT_EQ(charts.size(), 1u);
        std::string chart = new_package.read(charts[0].target);
        EXPECT_NE(chart.find("<c:f>'" + added + "'!$B$4:$B$5</c:f>"), std::string::npos) << chart;
        EXPECT_NE(chart.find("<c:pt idx=\"0\"><c:v>-2.5</c:v></c:pt>"), std::string::npos) << chart;
    }
}

TEST(ReportSheet, AddedTwiceTakesTwoNames) {
    std::string bytes = host::io::read_file(testing_packages::corpus("handmade.xlsx"));
    std::string first, second;
    std::string once = host::io::add_report_sheet("a.xlsx", bytes, small_report(), first);
    std::string twice = host::io::add_report_sheet("a.xlsx", once, small_report(), second);
    EXPECT_EQ(first, "Ombrix Report");
    EXPECT_EQ(second, "Ombrix Report (2)");
    host::io::Document after = host::io::load_xlsx_bytes("a.xlsx", twice);
    EXPECT_EQ(cells_of(after.workbook, after.workbook.sheet_count() - 1),
              cells_of(after.workbook, after.workbook.sheet_count() - 2));
}

// The ids the report's three number formats get in a book whose style sheet holds these.
struct FormatCase {
    const char* formats; // numFmt elements
    std::vector<std::string> ids;
};

TEST(ReportSheet, NumberFormatsTakeFreeCustomIdsAndANewStyleSheetIsStylesXml) {
    const FormatCase cases[] = {
        {"", {"164", "165", "166"}},
        {"<numFmt numFmtId=\"164\" formatCode=\"0%\"/><numFmt numFmtId=\"166\" formatCode=\"0.0\"/>",
         {"165", "167", "168"}},
        {"<numFmt numFmtId=\"4294967295\" formatCode=\"0.0\"/>", {"164", "165", "166"}}, // would wrap to 0
        {"<numFmt numFmtId=\"-1\" formatCode=\"0.0\"/><numFmt numFmtId=\"x\" formatCode=\"@\"/>",
         {"164", "165", "166"}},
        {"<numFmt numFmtId=\"70000\" formatCode=\"0.0\"/><numFmt numFmtId=\" 165 \" formatCode=\"0\"/>",
         {"164", "166", "167"}},
        {nullptr, {"164", "165", "166"}}, // no style sheet at all
    };
    const std::string ns = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.formats ? c.formats : "no style sheet");
        testing_packages::Parts parts =
            testing_packages::workbook_parts({{"S", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"}});
        std::string types = "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                            "<Default Extension=\"xml\" ContentType=\"application/xml\"/></Types>";
        parts.emplace_back("[Content_Types].xml", types);
        if (c.formats) {
            parts.emplace_back("xl/styles.xml",
                               "<styleSheet xmlns=\"" + ns + "\"><numFmts>" + c.formats + "</numFmts></styleSheet>");
            for (auto& part : parts)
                if (part.first == "xl/_rels/workbook.xml.rels")
                    part.second.insert(part.second.rfind("</Relationships>"),
                                       std::string("<Relationship Id=\"rId9\" Type=\"") + testing_packages::rel_ns +
                                           "/styles\" Target=\"styles.xml\"/>");
        }
        std::string added;
        const std::string saved =
            host::io::add_report_sheet("b.xlsx", testing_packages::zip(parts), small_report(), added);
        host::io::Package package("b.xlsx", saved);
        ASSERT_TRUE(package.has("xl/styles.xml"));
        EXPECT_FALSE(package.has("xl/styles1.xml"));
        const std::string styles = package.read("xl/styles.xml");
        std::vector<std::string> ids;
        for (const char* code : {"#,##0.000000", "0.000", "yyyy-mm-dd hh:mm:ss"}) {
            const std::size_t at = styles.find(std::string("formatCode=\"") + code + "\"");
            ASSERT_NE(at, std::string::npos) << styles;
            const std::size_t id = styles.rfind("numFmtId=\"", at) + 10;
            ids.push_back(styles.substr(id, styles.find('"', id) - id));
        }
        EXPECT_EQ(ids, c.ids);
        host::io::Document read = host::io::load_xlsx_bytes("b.xlsx", saved);
        EXPECT_EQ(read.workbook.sheet_count(), 2);
    }
}

} // namespace
