// Date cells ("d": ISO 8601 dates, times and date-times) and the workbook's date system, read
// from packages built in memory.

#include "TestPackages.hpp"

#include "engine/Workbook.hpp"
#include "io/Document.hpp"
#include "io/Xlsx.hpp"

#include <gtest/gtest.h>

namespace {

using host::engine::Value;
using namespace testing_packages;

// Dates typed in cells and read back by the date functions, on one sheet.
const char* const sheet =
    "<row r=\"1\"><c r=\"A1\" t=\"d\"><v>2024-01-15</v></c><c r=\"B1\"><f>YEAR(A1)*100+MONTH(A1)</f></c></row>"
    "<row r=\"2\"><c r=\"A2\" t=\"d\"><v>10:10:10</v></c><c r=\"B2\"><f>HOUR(A2)*100+MINUTE(A2)</f></c></row>"
    "<row r=\"3\"><c r=\"A3\" t=\"d\"><v>2024-01-15T18:00:00</v></c><c r=\"B3\"><f>DATE(2024,1,15)</f></c></row>"
    "<row r=\"4\"><c r=\"B4\"><f>TEXT(0,\"yyyy-mm-dd\")</f></c><c r=\"C4\"><f>DATE(1903,12,31)</f></c>"
    "<c r=\"D4\"><f>\"2024-01-15\"+0</f></c></row>";

host::io::Document load(bool date1904) {
    std::string pr = date1904 ? "<workbookPr date1904=\"1\"/>" : "";
    host::io::Document d = host::io::load_xlsx_bytes("dates.xlsx", zip(workbook_parts({{"S", sheet}}, "", pr)));
    d.workbook.recalculate_all();
    return d;
}

Value at(const host::io::Document& d, const char* a1) {
    return d.workbook.value(cell_at(d.workbook, std::string("S!") + a1));
}

TEST(DateCells, LoadAsSerialsOfTheWorkbooksDateSystem) {
    // 2024-01-15 is serial 45306 from 1900 and 1462 days fewer from 1904.
    struct Case {
        bool date1904;
        double day;
        Value text_of_zero, before_1904;
    } cases[] = {
        {false, 45306, Value::text("1900-01-00"), Value::number(1461)},
        {true, 45306 - 1462, Value::text("1904-01-01"), Value::error(host::engine::ErrorCode::Num)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.date1904 ? "1904" : "1900");
        host::io::Document d = load(c.date1904);
        EXPECT_EQ(d.workbook.date1904(), c.date1904);
        EXPECT_EQ(at(d, "A1"), Value::number(c.day));
        EXPECT_EQ(at(d, "B1"), Value::number(202401));
        EXPECT_DOUBLE_EQ(at(d, "A2").as_number(), (10 * 3600 + 10 * 60 + 10) / 86400.0);
        EXPECT_EQ(at(d, "B2"), Value::number(1010));
        EXPECT_EQ(at(d, "A3"), Value::number(c.day + 0.75));
        EXPECT_EQ(at(d, "B3"), Value::number(c.day));
        EXPECT_EQ(at(d, "B4"), c.text_of_zero);
        EXPECT_EQ(at(d, "C4"), c.before_1904);
        EXPECT_EQ(at(d, "D4"), Value::number(c.day)); // date text in arithmetic
    }
}

} // namespace
