// What the writer does not compute itself survives a save as the file had it: text that is
// only white space, the empty volatile marks of cells in array ranges, data tables' formula
// elements (their values are the engine's).

#include "io/Document.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"

#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using host::engine::Value;
using host::io::Document;
using host::io::load_xlsx_bytes;
using host::io::xlsx_bytes;
using testing_packages::workbook_parts;
using testing_packages::zip;

namespace {

std::string sheet_xml(const std::string& bytes) {
    return host::io::Package("saved.xlsx", bytes).read("xl/worksheets/sheet1.xml");
}

TEST(FaithfulSave, TextOfOnlyWhiteSpaceIsReadAndWrittenExactly) {
    const char* const strings = "<si><t xml:space=\"preserve\"> </t></si><si><t xml:space=\"preserve\">\t</t></si>"
                                "<si><r><t xml:space=\"preserve\">  </t></r></si>";
    const struct {
        const char* cell;
        const char* text;
    } cases[] = {
        {"<c r=\"A1\" t=\"s\"><v>0</v></c>", " "},
        {"<c r=\"A2\" t=\"s\"><v>1</v></c>", "\t"},
        {"<c r=\"A3\" t=\"s\"><v>2</v></c>", "  "},
        {"<c r=\"A4\" t=\"inlineStr\"><is><t xml:space=\"preserve\"> </t></is></c>", " "},
        {"<c r=\"A5\" t=\"inlineStr\"><is><t xml:space=\"preserve\">\t</t></is></c>", "\t"},
    };
    std::string cells;
    int row = 0;
    for (const auto& c : cases)
        cells += "<row r=\"" + std::to_string(++row) + "\">" + c.cell + "</row>";
    Document d = load_xlsx_bytes("spaces.xlsx", zip(workbook_parts({{"S", cells}}, strings)));
    for (int r = 0; r < row; ++r)
        EXPECT_EQ(d.workbook.value({0, r, 0}), Value::text(cases[r].text)) << cases[r].cell;

    // Written again by the writer (the same texts one row down) and read back.
    for (int r = 0; r < row; ++r)
        d.workbook.set_value({0, r, 1}, Value::text(cases[r].text));
    d.workbook.recalculate_all();
    Document again = load_xlsx_bytes("saved.xlsx", xlsx_bytes(d, "saved.xlsx"));
    for (int r = 0; r < row; ++r) {
        EXPECT_EQ(again.workbook.value({0, r, 0}), Value::text(cases[r].text)) << cases[r].cell;
        EXPECT_EQ(again.workbook.value({0, r, 1}), Value::text(cases[r].text)) << cases[r].cell;
    }
}

TEST(FaithfulSave, VolatileMarksInArrayRangesStayAsTheyWere) {
    // Each cell as the file has it, and as the saved file must have it: its cached value
    // the engine's, its formula element untouched.
    const struct {
        int row;
        const char* before;
        const char* after;
    } cases[] = {
        // An array formula whose cached values were stale: the marks stay, values change
        // (D2 and D3 hold the array's results, D4 is cleared).
        {1, "<c r=\"D1\"><f t=\"array\" ref=\"D1:D3\" ca=\"1\">A1*{1;2;3}</f><v>0</v></c>",
         "<c r=\"D1\"><f t=\"array\" ref=\"D1:D3\" ca=\"1\">A1*{1;2;3}</f><v>7</v></c>"},
        {2, "<c r=\"D2\"><f ca=\"1\"/><v>0</v></c>", "<c r=\"D2\"><f ca=\"1\"/><v>14</v></c>"},
        {3, "<c r=\"D3\" t=\"e\"><f ca=\"1\"></f><v>#N/A</v></c>", "<c r=\"D3\"><f ca=\"1\"/><v>21</v></c>"},
        {4, "<c r=\"D4\"><f ca=\"1\"/><v>5</v></c>", "<c r=\"D4\"><f ca=\"1\"/></c>"},
    };
    std::string cells = "<row r=\"1\"><c r=\"A1\"><v>1</v></c>";
    for (const auto& c : cases) {
        if (c.row > 1)
            cells += "</row><row r=\"" + std::to_string(c.row) + "\">";
        cells += c.before;
    }
    cells += "</row>";
    Document d = load_xlsx_bytes("tables.xlsx", zip(workbook_parts({{"S", cells}})));
    d.workbook.set_value({0, 0, 0}, Value::number(7)); // A1: the run's change
    d.workbook.set_value({0, 1, 3}, Value::number(14));
    d.workbook.set_value({0, 2, 3}, Value::number(21));
    d.workbook.clear({0, 3, 3});
    d.workbook.recalculate_all();
    std::string saved = sheet_xml(xlsx_bytes(d, "saved.xlsx"));
    for (const auto& c : cases)
        EXPECT_NE(saved.find(c.after), std::string::npos) << c.after << "\nin " << saved;
}

// A formula needing the outside world or a data model cannot be computed here: loaded, it keeps
// the value the file cached, its dependents compute from that value, one warning names the
// functions, and saving leaves its cell as the file had it. Without a cached value it gives #NAME?.
TEST(FaithfulSave, FormulasNeedingTheOutsideWorldKeepTheirCachedValues) {
    const std::string webservice = "<c r=\"A1\" t=\"str\"><f>_xlfn.WEBSERVICE(\"http://example.com/\"&amp;B1)</f>"
                                   "<v>hello</v></c>";
    const std::string cube = "<c r=\"A2\"><f>CUBEVALUE(\"Model\",B1)</f><v>40</v></c>";
    const std::string cells = "<row r=\"1\">" + webservice +
                              "<c r=\"B1\"><v>1</v></c><c r=\"C1\"><f>LEN(A1)</f>"
                              "<v>0</v></c></row><row r=\"2\">" +
                              cube +
                              "<c r=\"C2\"><f>A2*B1</f><v>0</v></c>"
                              "</row><row r=\"3\"><c r=\"A3\"><f>RTD(\"x\",,\"y\")</f></c></row>";
    Document d = load_xlsx_bytes("outside.xlsx", zip(workbook_parts({{"S", cells}})));
    ASSERT_EQ(d.warnings.size(), 1u);
    EXPECT_EQ(d.warnings[0], "outside.xlsx: warning: WEBSERVICE, CUBEVALUE need the outside world or a data model, "
                             "which no calculation here can reach; 2 cells keep the values the file cached: S!A1, "
                             "S!A2");
    d.workbook.set_value({0, 0, 1}, Value::number(2)); // B1: the run's change
    d.workbook.recalculate_all();
    EXPECT_EQ(d.workbook.value({0, 0, 2}), Value::number(5));  // C1 = LEN("hello")
    EXPECT_EQ(d.workbook.value({0, 1, 2}), Value::number(80)); // C2 = 40 * B1
    EXPECT_EQ(d.workbook.value({0, 2, 0}), Value::error(host::engine::ErrorCode::Name));
    const std::vector<std::string> diagnosed = host::io::diagnostic_warnings("outside.xlsx", d.workbook);
    ASSERT_EQ(diagnosed.size(), 1u);
    EXPECT_EQ(diagnosed[0], "outside.xlsx: warning: RTD needs the outside world or a data model, which no "
                            "calculation here can reach; it gives #NAME? in S!A3");
    const std::string saved = sheet_xml(xlsx_bytes(d, "saved.xlsx"));
    EXPECT_NE(saved.find(webservice), std::string::npos) << saved;
    EXPECT_NE(saved.find(cube), std::string::npos) << saved;
}

// Functions of add-ins that are not loaded here (_xll.NAME, a macro's function, another
// workbook's function: [1]!sql) are kept as the outside world's are: the cached value, of an
// array formula its whole block (spilled or entered as an array, and A2# still that block),
// one warning naming the functions and cells, the cells saved as they were. A function
// cached as #NAME? was nobody's: it stays a formula and is diagnosed.
TEST(FaithfulSave, FunctionsOfAddInsNotLoadedKeepTheirCachedValues) {
    const std::string pricer = "<c r=\"A1\"><f>_xll.PRICER(B1,\"call\")</f><v>12.5</v></c>";
    const std::string spill = "<c r=\"A2\" cm=\"1\"><f t=\"array\" ref=\"A2:A4\">_xll.SERIES(B1)</f><v>1</v></c>";
    const std::string legacy = "<c r=\"D2\"><f t=\"array\" ref=\"D2:E2\">MYMACRO(B1)</f><v>7</v></c>";
    const std::string other_book = "<c r=\"F1\" t=\"str\"><f>[1]!sql(B1,\"id\")</f><v>x</v></c>";
    const std::string cells = "<row r=\"1\">" + pricer +
                              "<c r=\"B1\"><v>1</v></c><c r=\"C1\"><f>A1*2</f><v>0</v></c>"
                              "<c r=\"D1\"><f>SUMM(B1)</f><e>#NAME?</e></c>" +
                              other_book +
                              "</row>"
                              "<row r=\"2\">" +
                              spill + "<c r=\"C2\"><f>SUM(A2:A4)+E2</f><v>0</v></c>" + legacy +
                              "<c r=\"E2\"><v>8</v></c><c r=\"G2\"><f>SUM(_xlfn.ANCHORARRAY(A2))</f><v>0</v></c></row>"
                              "<row r=\"3\"><c r=\"A3\"><v>2</v></c></row><row r=\"4\"><c r=\"A4\"><v>3</v></c></row>";
    Document d = load_xlsx_bytes("addins.xlsx", zip(workbook_parts({{"S", cells}})));
    ASSERT_EQ(d.warnings.size(), 1u);
    EXPECT_EQ(d.warnings[0], "addins.xlsx: warning: PRICER, [1]!SQL, SERIES, MYMACRO need an add-in that is not loaded "
                             "here; 4 cells keep the values the file cached: S!A1, S!F1, S!A2, S!D2");
    d.workbook.set_value({0, 0, 1}, Value::number(2)); // B1: the run's change
    d.workbook.recalculate_all();
    EXPECT_EQ(d.workbook.value({0, 0, 2}), Value::number(25)); // C1 = A1*2
    EXPECT_EQ(d.workbook.value({0, 1, 2}), Value::number(14)); // C2 = 1+2+3+8
    EXPECT_EQ(d.workbook.value({0, 1, 6}), Value::number(6));  // G2 = SUM(A2#), the kept block
    EXPECT_EQ(d.workbook.value({0, 0, 3}), Value::error(host::engine::ErrorCode::Name));
    const std::vector<std::string> diagnosed = host::io::diagnostic_warnings("addins.xlsx", d.workbook);
    ASSERT_EQ(diagnosed.size(), 1u);
    EXPECT_EQ(diagnosed[0], "addins.xlsx: warning: unknown function SUMM in S!D1");
    const std::string saved = sheet_xml(xlsx_bytes(d, "saved.xlsx"));
    for (const std::string& cell : {pricer, spill, legacy, other_book, std::string("<c r=\"A4\"><v>3</v></c>"),
                                    std::string("<c r=\"E2\"><v>8</v></c>")})
        EXPECT_NE(saved.find(cell), std::string::npos) << cell << "\nin " << saved;
}

// Data tables computed again keep their formula element as the file had it (attributes the
// engine does not use included) and take their new values; their other cells hold values
// only, also one the file did not have. A1 and A2 are the inputs, B4 = A1*10 the one-input
// table's formula over A5:A6, B8 = A1*A2 the two-input table's, with A1 from C8:D8 and A2
// from B9:B10.
TEST(FaithfulSave, DataTablesKeepTheirFormulaElementAndTakeNewValues) {
    const char* const sheet =
        "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row><row r=\"2\"><c r=\"A2\"><v>1</v></c></row>"
        "<row r=\"4\"><c r=\"B4\"><f>A1*10</f><v>10</v></c></row>"
        "<row r=\"5\"><c r=\"A5\"><v>2</v></c>"
        "<c r=\"B5\" s=\"1\"><f t=\"dataTable\" ref=\"B5:B6\" dt2D=\"0\" dtr=\"0\" r1=\"A1\" "
        "ca=\"1\"/><v>5</v></c></row>"
        "<row r=\"6\"><c r=\"A6\"><v>3</v></c><c r=\"B6\"><v>6</v></c></row>"
        "<row r=\"8\"><c r=\"B8\"><f>A1*A2</f><v>1</v></c><c r=\"C8\"><v>1</v></c><c r=\"D8\"><v>2</v></c></row>"
        "<row r=\"9\"><c r=\"B9\"><v>3</v></c>"
        "<c r=\"C9\"><f t=\"dataTable\" ref=\"C9:D10\" dt2D=\"1\" dtr=\"1\" r1=\"A1\" r2=\"A2\"/></c></row>"
        "<row r=\"10\"><c r=\"B10\"><v>4</v></c></row>";
    const char* const after[] = {
        "<c r=\"B5\" s=\"1\"><f t=\"dataTable\" ref=\"B5:B6\" dt2D=\"0\" dtr=\"0\" r1=\"A1\" ca=\"1\"/><v>20</v></c>",
        "<c r=\"B6\"><v>30</v></c>",
        "<c r=\"C9\"><f t=\"dataTable\" ref=\"C9:D10\" dt2D=\"1\" dtr=\"1\" r1=\"A1\" r2=\"A2\"/><v>3</v></c>",
        "<c r=\"D9\"><v>6</v></c>",
        "<c r=\"D10\"><v>8</v></c>",
    };
    Document d = load_xlsx_bytes("tables.xlsx", zip(workbook_parts({{"S", sheet}})));
    d.workbook.set_value({0, 0, 0}, Value::number(7)); // the run's change: the tables do not see it
    d.workbook.recalculate_all();
    const std::string bytes = xlsx_bytes(d, "saved.xlsx");
    const std::string saved = sheet_xml(bytes);
    for (const char* cell : after)
        EXPECT_NE(saved.find(cell), std::string::npos) << cell << "\nin " << saved;

    // Read back, and written by the writer of new packages, they are the same tables.
    Document again = load_xlsx_bytes("saved.xlsx", bytes);
    again.workbook.recalculate_all();
    Document fresh;
    fresh.workbook.add_sheet("S");
    again.workbook.for_each_cell(0, [&](std::int32_t r, std::int32_t c, const Value& value) {
        const host::engine::CellAddress cell{0, r, c};
        if (again.workbook.data_table(cell))
            return;
        if (again.workbook.is_formula(cell))
            fresh.workbook.set_formula(cell, again.workbook.formula_text(cell));
        else
            fresh.workbook.set_value(cell, value);
    });
    for (const char* anchor : {"B5", "C9"}) {
        host::engine::CellAddress a = testing_packages::cell_at(again.workbook, std::string("S!") + anchor);
        ASSERT_TRUE(again.workbook.data_table(a)) << anchor;
        fresh.workbook.set_data_table(*again.workbook.data_table(a));
    }
    fresh.workbook.recalculate_all();
    Document copy = load_xlsx_bytes("fresh.xlsx", xlsx_bytes(fresh, "fresh.xlsx"));
    copy.workbook.recalculate_all();
    for (int r = 4; r < 10; ++r)
        for (int c = 1; c < 4; ++c) {
            const host::engine::CellAddress cell{0, r, c};
            EXPECT_EQ(again.workbook.value(cell), d.workbook.value(cell)) << r << "," << c;
            EXPECT_EQ(copy.workbook.value(cell), d.workbook.value(cell)) << r << "," << c;
            EXPECT_EQ(bool(copy.workbook.data_table(cell)), bool(d.workbook.data_table(cell))) << r << "," << c;
        }
}

// A circular reference in a workbook that does not iterate: its cells keep the values the file
// cached, the cells reading them compute from those, a formula cached with no value shows 0,
// each cycle is warned of, and saving leaves the cycle's cells as the file had them, even
// after a cell the cycle reads was written. A workbook that iterates computes its cycles from
// nothing, as before.
TEST(FaithfulSave, CircularReferencesKeepTheirCachedValuesWithoutIteration) {
    const Value div0 = Value::error(host::engine::ErrorCode::Div0);
    const struct {
        int row;
        const char *cell, *xml;
        Value kept, iterated; // iterated: a number within 0.01
        bool as_read;         // saved as the file had it
    } cells[] = {
        {1, "A1", "<c r=\"A1\"><v>3</v></c>", Value::number(3), Value::number(3), false},
        {1, "B1", "<c r=\"B1\"><f>C1/2+A1</f><v>7</v></c>", Value::number(7), Value::number(4), true},
        {1, "C1", "<c r=\"C1\"><f>B1/2</f><v>3</v></c>", Value::number(3), Value::number(2), true},
        {1, "D1", "<c r=\"D1\"><f>B1+C1+A1</f><v>1</v></c>", Value::number(13), Value::number(9), false},
        {1, "E1", "<c r=\"E1\"><f t=\"shared\" ref=\"E1:E2\" si=\"0\">E2/2+1</f><v>5</v></c>", Value::number(5),
         Value::number(2), true},
        {2, "A2", "<c r=\"A2\" t=\"e\"><f>A2+1</f><v>#DIV/0!</v></c>", div0, Value::number(100), true},
        {2, "B2", "<c r=\"B2\" t=\"str\"><f>IFERROR(B2,\"\")</f><v/></c>", Value::text(""), Value::number(0), true},
        {2, "C2", "<c r=\"C2\"><f>A2</f><v>0</v></c>", div0, Value::number(100), false},
        {2, "E2", "<c r=\"E2\"><f t=\"shared\" si=\"0\"/><v>4</v></c>", Value::number(4), Value::number(2), true},
        {3, "A3", "<c r=\"A3\"><f>B3*2</f></c>", Value::number(0), Value::number(0), false},
        {3, "B3", "<c r=\"B3\"><f>A3/2</f></c>", Value::number(0), Value::number(0), false},
        {3, "E3", "<c r=\"E3\"><f>E1</f><v>6</v></c>", Value::number(6), Value::number(2), true},
    };
    std::string xml;
    for (int row = 1; row <= 3; ++row) {
        xml += "<row r=\"" + std::to_string(row) + "\">";
        for (const auto& c : cells)
            if (c.row == row)
                xml += c.xml;
        xml += "</row>";
    }
    auto cell = [](const Document& d, const char* a1) {
        return testing_packages::cell_at(d.workbook, std::string("S!") + a1);
    };
    Document d = load_xlsx_bytes("cycles.xlsx", zip(workbook_parts({{"S", xml}})));
    d.workbook.recalculate_all();
    for (const auto& c : cells)
        EXPECT_EQ(d.workbook.value(cell(d, c.cell)), c.kept)
            << c.cell << ": " << d.workbook.value(cell(d, c.cell)).to_string();
    const std::vector<std::string> warnings = host::io::diagnostic_warnings("cycles.xlsx", d.workbook);
    EXPECT_EQ(warnings, (std::vector<std::string>{"cycles.xlsx: warning: circular reference through S!B1, S!C1",
                                                  "cycles.xlsx: warning: circular reference through S!E1, S!E2, S!E3",
                                                  "cycles.xlsx: warning: circular reference through S!A2",
                                                  "cycles.xlsx: warning: circular reference through S!B2",
                                                  "cycles.xlsx: warning: circular reference through S!A3, S!B3"}));

    d.workbook.set_value(cell(d, "A1"), Value::number(30)); // the run's change
    d.workbook.recalculate();
    EXPECT_EQ(d.workbook.value(cell(d, "B1")), Value::number(7));
    EXPECT_EQ(d.workbook.value(cell(d, "D1")), Value::number(40));
    const std::string saved = sheet_xml(xlsx_bytes(d, "saved.xlsx"));
    for (const auto& c : cells)
        if (c.as_read) {
            EXPECT_NE(saved.find(c.xml), std::string::npos) << c.xml << "\nin " << saved;
        }

    Document iterated =
        load_xlsx_bytes("iterated.xlsx", zip(workbook_parts({{"S", xml}}, std::string(), "<calcPr iterate=\"1\"/>")));
    iterated.workbook.recalculate_all();
    for (const auto& c : cells) {
        const Value& v = iterated.workbook.value(cell(iterated, c.cell));
        EXPECT_TRUE(v.is_number() && std::fabs(v.as_number() - c.iterated.as_number()) < 0.01)
            << c.cell << ": " << v.to_string();
    }
}

} // namespace
