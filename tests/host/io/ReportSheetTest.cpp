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

} // namespace
