// The add-in's own classes talking to the host: cells and ranges read and written with
// recalculation in between, and bound vectors. (Registration and menus: tests/app/RoadTest;
// dialogs: tests/excel/DialogTest.)

#include "Calls.hpp"
#include "Message.hpp"

#include "excel/Cell.hpp"
#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/Range.hpp"
#include "excel/Registration.hpp"

namespace host::api::testing {
namespace {

using engine::Value;

class ApiBridge : public HostTest {
protected:
    ApiBridge() {
        // The model: D1 = A1 + 2*B1 + 3*C1, E1 = D1^2 on Data.
        book.set_formula(at(0, "D1"), "=A1+2*B1+3*C1");
        book.set_formula(at(1, "E1"), "=Sheet1!D1^2");
        book.recalculate();
    }
};

TEST_F(ApiBridge, RangeWriteThenCellReadSeesTheRecalculatedModel) {
    excel::Range vars("A1:C1");
    excel::Cell objective("D1");
    vars.set({1, 2, 3});
    EXPECT_EQ(objective.get_as_double(), 14);
    vars.set_rows({0.5, 0, -1});
    EXPECT_EQ(objective.get_as_double(), -2.5);
    objective.set(7); // overwrites the formula, as the spreadsheet does
    EXPECT_EQ(excel::Cell("Data!E1").get_as_double(), 49);
}

TEST_F(ApiBridge, ReadersOfABlock) {
    excel::Range block("A1:C2");
    block.set({1, 2, 3, 4, 5, 6});
    std::vector<double> out(10, 9.0);
    block.get(out);
    EXPECT_EQ(out, (std::vector<double>{1, 2, 3, 4, 5, 6}));
    block.get_col_vector(out);
    EXPECT_EQ(out, (std::vector<double>{1, 4}));
    block.get_row_vector(out);
    EXPECT_EQ(out, (std::vector<double>{1, 2, 3}));
    block.set_cols({7, 8});
    EXPECT_EQ(book.value(at(0, "C1")), Value::number(7));
    EXPECT_EQ(book.value(at(0, "A2")), Value::number(8));
}

TEST_F(ApiBridge, NamedSheetReferences) {
    excel::Range data("Data!B2:B4");
    data.set({1, 2, 3});
    EXPECT_EQ(book.value(at(1, "B3")), Value::number(2));
    EXPECT_TRUE(book.value(at(0, "B3")).is_empty());
    EXPECT_EQ(excel::Cell("'Data'!B4").get_as_double(), 3);
    EXPECT_NE(message_of([] { excel::Cell("Nope!A1"); }), "");
}

TEST_F(ApiBridge, CellsThatHoldNoNumber) {
    book.set_value(at(0, "A5"), Value::text("abc"));
    book.set_formula(at(0, "A6"), "=1/0");
    book.recalculate();
    for (const char* a1 : {"A5", "A6"}) {
        SCOPED_TRACE(a1);
        excel::Cell c{std::string(a1)};
        EXPECT_EQ(message_of([&] { c.get_as_double(); }), "Failed to get cell value as double");
    }
    // An empty cell reads as 0 through a cell, but is refused in a range.
    EXPECT_EQ(excel::Cell("A7").get_as_double(), 0);
    std::vector<double> out;
    EXPECT_EQ(message_of([&] { excel::Range("A7:A8").get(out); }), "range element not a double");
    EXPECT_EQ(message_of([&] { excel::Range("A5:B5").get_col_vector(out); }), "Column element not a double");
    EXPECT_EQ(message_of([&] { excel::Range("A5:B6").get_row_vector(out); }), "Row element not a double");
}

TEST_F(ApiBridge, RefusalsOfTheHostBecomeTheBridgeMessages) {
    excel::Cell c("A1");
    excel::Range r("A1:B1");
    std::vector<double> out;
    set_current_host(nullptr);
    EXPECT_EQ(message_of([&] { c.get_as_double(); }), "Failed to get cell value as double");
    EXPECT_EQ(message_of([&] { c.set(1); }), "Failed to set cell");
    EXPECT_EQ(message_of([&] { r.get(out); }), "Range lookup failed");
    EXPECT_EQ(message_of([&] { r.set({1, 2}); }), "Failed to set range");
    set_current_host(&host);
    EXPECT_EQ(message_of([&] { r.set({1, 2, 3}); }), "Range set size mismatch");
    EXPECT_TRUE(book.value(at(0, "A1")).is_empty());
}

// A help text of 255 characters is registered whole; one more is refused before the host is asked.
TEST_F(ApiBridge, RegistrationTextsOfAtMost255Characters) {
    excel::Args args;
    excel::RetImpl::set_result(args, 'I');
    for (std::size_t length : {255, 256}) {
        const std::string help(length, 'h');
        excel::CommandMacro command("Ombrix", "Long", args, help.c_str());
        XLOPER module = nil();
        ASSERT_EQ(call(xlGetName, &module, {}), xlretSuccess);
        std::string message = message_of([&] { command.reg(&module); });
        free_value(module);
        if (length == 255) {
            ASSERT_EQ(host.registrations().size(), 1u);
            EXPECT_EQ(host.registrations()[0].argument(9), help);
            command.unreg();
        } else {
            EXPECT_EQ(message, "String overrun");
        }
    }
    EXPECT_TRUE(host.registrations().empty());
}

} // namespace
} // namespace host::api::testing
