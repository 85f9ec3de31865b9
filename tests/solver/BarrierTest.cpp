// The barriers of the add-in's entry points: whatever a command throws ends in one error
// alert of the host, and the entry point answers as the spreadsheet expects.

#include "solver/entry/Barrier.hpp"

#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"

#include "api/Host.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>
#include <string>

namespace {

struct Case {
    const char* what;
    std::function<void()> body;
    std::string command_text; // empty: no alert
    std::string open_text;
};

const Case cases[] = {
    {"success", [] {}, "", ""},
    {"spreadsheet error", [] { throw excel::ErrorDIV0; }, "Error: Div/0", "Caught unknown exception"},
    {"uncalculated", [] { throw excel::ErrorUNCALC; }, "Error: Value", "Caught unknown exception"},
    {"validation", [] { throw excel::ExcelException("Expected population size to be an integer above 2"); },
     "Expected population size to be an integer above 2", "Expected population size to be an integer above 2"},
    {"wrapped", [] { throw excel::ExcelException("outer", excel::ExcelException("inner")); }, "outer", "outer"},
    {"plain usr::Exception", [] { throw usr::Exception("plain"); }, "plain", "plain"},
    {"runtime_error", [] { throw std::runtime_error("not shown"); }, "Unknown exception", "Caught unknown exception"},
    {"an int", [] { throw 7; }, "Unknown exception", "Caught unknown exception"},
    {"out of memory", [] { throw std::bad_alloc(); }, "Not enough memory to finish the command",
     "Caught unknown exception"},
};

TEST(Barriers, CommandsAnswerZeroAndOpeningOneWithOneErrorAlertAtMost) {
    for (const Case& c : cases)
        for (bool opening : {false, true}) {
            host::engine::Workbook book;
            book.add_sheet("Sheet1");
            host::api::Host host(book);
            host::api::CurrentHost scope(host);
            EXPECT_EQ(opening ? entry::open_barrier(c.body) : entry::command_barrier(c.body), opening ? 1 : 0);
            const std::string& text = opening ? c.open_text : c.command_text;
            const auto& alerts = host.alerts();
            ASSERT_EQ(alerts.size(), text.empty() ? 0u : 1u) << c.what;
            if (!text.empty()) {
                EXPECT_EQ(alerts[0].text, text) << c.what << (opening ? " opening" : "");
                EXPECT_EQ(alerts[0].type, 3) << c.what;
            }
        }
}

} // namespace
