// Cells shown through their number formats, as the styles of the file give them.

#include "TestPackages.hpp"

#include "io/CellFormats.hpp"
#include "io/Xlsx.hpp"

#include <gtest/gtest.h>

namespace {

using namespace testing_packages;

// FormatKM.xlsx: beside each formula cell of columns B and D, its author wrote in C and E the
// text the spreadsheet shows for it ("[>999999]#,,""M"";[>999]#,""K"";#" and the like).
TEST(CellFormats, ShowValuesAsTheSpreadsheetShowsThem) {
    host::io::Document d = host::io::load(corpus("real/poi/FormatKM.xlsx"));
    d.workbook.recalculate_all();
    host::io::CellFormats formats(d);
    int compared = 0;
    for (std::int32_t row = 1; row < 40; ++row)
        for (std::int32_t col : {1, 3}) {
            const host::engine::CellAddress at{0, row, col}, beside{0, row, col + 1};
            if (!d.workbook.is_formula(at) || !d.workbook.value(beside).is_text())
                continue;
            EXPECT_EQ(formats.shown(at), d.workbook.value(beside).as_text()) << "row " << row + 1;
            ++compared;
        }
    EXPECT_EQ(compared, 22);
}

// Built-in formats by their ids, a format of the file's own, and cells without a style.
TEST(CellFormats, BuiltInFormatsShowAsInTheUnitedStates) {
    struct Case {
        const char* value;
        int format; // a numFmtId; -1 for no style at all
        const char* shown;
    } cases[] = {
        {"45306.75", 14, "1/15/2024"},
        {"45306.75", 22, "1/15/2024 18:00"},
        {"45306.75", 15, "15-Jan-24"},
        {"0.75", 18, "6:00 PM"},
        {"1.5", 46, "36:00:00"},
        {"0.25", 9, "25%"},
        {"1.25", 12, "1 1/4"},
        {"-1234.5", 4, "-1,234.50"},
        {"-1234.5", 39, "(1,234.50)"},
        {"12345", 48, "12.3E+3"},
        {"12345", 11, "1.23E+04"},
        {"-1", 14, "#######"},
        {"1500", 164, "1.5K"},
        {"0.1", -1, "0.1"},
        {"123456789012", 0, "1.23457E+11"},
    };
    std::string sheet, xfs = "<xf numFmtId=\"0\"/>";
    int row = 1, style = 1;
    for (const Case& c : cases) {
        const std::string s = c.format < 0 ? "" : " s=\"" + std::to_string(style++) + "\"";
        if (c.format >= 0)
            xfs += "<xf numFmtId=\"" + std::to_string(c.format) + "\" applyNumberFormat=\"1\"/>";
        sheet += "<row r=\"" + std::to_string(row) + "\"><c r=\"A" + std::to_string(row) + "\"" + s + "><v>" + c.value +
                 "</v></c></row>";
        ++row;
    }
    Parts parts = workbook_parts({{"S", sheet}});
    for (auto& part : parts)
        if (part.first == "xl/_rels/workbook.xml.rels")
            part.second.insert(part.second.rfind("</Relationships>"), std::string("<Relationship Id=\"rIdY\" Type=\"") +
                                                                          rel_ns + "/styles\" Target=\"styles.xml\"/>");
    parts.emplace_back("xl/styles.xml",
                       "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                       "<numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"0.0,&quot;K&quot;\"/></numFmts>"
                       "<cellXfs>" +
                           xfs + "</cellXfs></styleSheet>");
    host::io::Document d = host::io::load_xlsx_bytes("styled.xlsx", zip(parts));
    host::io::CellFormats formats(d);
    row = 0;
    for (const Case& c : cases)
        EXPECT_EQ(formats.shown({0, row++, 0}), c.shown) << c.value << " in format " << c.format;
}

} // namespace
