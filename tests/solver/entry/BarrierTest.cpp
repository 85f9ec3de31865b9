#include "solver/entry/Barrier.hpp"

#include "FakeExcel.hpp"
#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace {

struct Alert {
    std::string text;
    int type;
};

std::vector<Alert> alerts() {
    std::vector<Alert> out;
    for (const fake::Call* c : fake::Excel::instance().calls_of(xlcAlert))
        out.push_back(Alert{c->args.at(0).str, c->args.at(1).word});
    return out;
}

struct Case {
    const char* what;
    std::function<void()> body;
    std::string command_text; // empty: no alert
    std::string open_text;
};

class Barriers : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { fake::Excel::instance().reset(); }
};

const Case cases[] = {
    {"success", [] {}, "", ""},
    {"spreadsheet error", [] { throw excel::ErrorDIV0; }, "Error: Div/0", "Caught unknown exception"},
    {"uncalculated", [] { throw excel::ErrorUNCALC; }, "Error: Value", "Caught unknown exception"},
    {"validation", [] { throw excel::ExcelException("Expected population size to be an integer above 2"); },
     "Expected population size to be an integer above 2", "Expected population size to be an integer above 2"},
    {"wrapped", [] {
         throw excel::ExcelException("outer", excel::ExcelException("inner"));
     }, "outer", "outer"},
    {"plain usr::Exception", [] { throw usr::Exception("plain"); }, "plain", "plain"},
    {"runtime_error", [] { throw std::runtime_error("not shown"); }, "Unknown exception", "Caught unknown exception"},
    {"an int", [] { throw 7; }, "Unknown exception", "Caught unknown exception"},
};

TEST_P(Barriers, CommandBarrierShowsOneErrorAlertAndReturnsZero) {
    const Case& c = cases[GetParam()];
    EXPECT_EQ(entry::command_barrier(c.body), 0) << c.what;
    auto shown = alerts();
    if (c.command_text.empty()) {
        EXPECT_TRUE(shown.empty()) << c.what;
        return;
    }
    ASSERT_EQ(shown.size(), 1u) << c.what;
    EXPECT_EQ(shown[0].text, c.command_text) << c.what;
    EXPECT_EQ(shown[0].type, 3) << c.what;
}

TEST_P(Barriers, OpeningBarrierShowsOneErrorAlertAndReturnsOne) {
    const Case& c = cases[GetParam()];
    EXPECT_EQ(entry::open_barrier(c.body), 1) << c.what;
    auto shown = alerts();
    if (c.open_text.empty()) {
        EXPECT_TRUE(shown.empty()) << c.what;
        return;
    }
    ASSERT_EQ(shown.size(), 1u) << c.what;
    EXPECT_EQ(shown[0].text, c.open_text) << c.what;
    EXPECT_EQ(shown[0].type, 3) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Failures, Barriers,
                         ::testing::Range(0, static_cast<int>(sizeof(cases) / sizeof(cases[0]))));

} // namespace
