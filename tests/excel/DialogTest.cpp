// The add-in's dialog against the host: the table it lays out, the names of its lists, and
// how each kind of control reads its result back.

#include "excel/Dialog.hpp"
#include "excel/ExcelException.hpp"

#include "api/Host.hpp"

#include "Message.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

using host::engine::Value;

class DialogBox : public ::testing::Test {
protected:
    DialogBox() : host(book), scope(host) {
        book.add_sheet("Sheet1");
        host.set_dialog_handler([this](host::api::Table& t) {
            shown.push_back(t);
            if (while_shown)
                while_shown();
            if (!ok)
                return false;
            const int first = t.at(2, 0) == Value::number(2) ? 3 : 2; // past OK (and Cancel)
            for (const auto& [control, value] : results)
                t.at(first + 2 * control + 1, 6) = value;
            return true;
        });
    }
    ~DialogBox() override {
        // The answer went back with xlFree, and no list name outlived the display.
        EXPECT_EQ(host.allocations().outstanding(), 0u);
        EXPECT_EQ(host.name_count(), 0u);
    }

    // The user presses OK having entered results[i] for control i.
    void answer_ok(std::map<int, Value> r) { ok = true, results = std::move(r); }

    host::engine::Workbook book;
    host::api::Host host;
    host::api::CurrentHost scope;
    std::vector<host::api::Table> shown;
    bool ok = false;
    std::map<int, Value> results;
    std::function<void()> while_shown;
};

Value N(double x) { return Value::number(x); }
Value T(const std::string& s) { return Value::text(s); }

// The dialog row, OK, Cancel (only when asked for), then a label line and a control line
// for each control.
TEST_F(DialogBox, EveryKindOfControlGetsItsCodeAndLine) {
    excel::Dialog dialog("D");
    dialog.add_editbox("Seed", "233");
    dialog.add_statictext("Domain:");
    dialog.add_cellpicker("Var", "$A$1");
    dialog.add_checkbox("On", true);
    dialog.add_checkbox("Off", false);
    EXPECT_FALSE(dialog.display(true));
    dialog.display(false);
    ASSERT_EQ(shown.size(), 2u);
    const Value _;
    const host::api::Table& t = shown[0];
    ASSERT_EQ(t.rows, 13);
    for (int c = 0; c < 7; ++c) {
        const Value rows[][7] = {{_, _, _, N(430), N(200), T("D"), _},
                                 {N(1), N(50), N(150), N(80), _, T("OK"), _},
                                 {N(2), N(150), N(150), N(80), _, T("Cancel"), _},
                                 {N(5), N(10), N(20), N(430), _, T("Seed"), _},
                                 {N(6), N(220), N(20), N(200), _, T(""), T("233")}};
        for (int r = 0; r < 5; ++r)
            EXPECT_EQ(t.at(r, c), rows[r][c]) << "row " << r << ", column " << c;
    }
    EXPECT_EQ(shown[1].rows, 12) << "no Cancel row";
    const int codes[] = {6, 5, 10, 13, 13};
    const char* values[] = {"233", "", "$A$1", "1", ""};
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(t.at(3 + 2 * k, 2), N(20 + 20 * k)) << k;
        EXPECT_EQ(t.at(4 + 2 * k, 0), N(codes[k])) << k;
        EXPECT_EQ(t.at(4 + 2 * k, 1), N(220)) << k;
        EXPECT_EQ(t.at(4 + 2 * k, 2), N(20 + 20 * k)) << k;
        EXPECT_EQ(t.at(4 + 2 * k, 6), T(values[k])) << k;
    }
    EXPECT_EQ(t.at(5, 5), T("Domain:"));
    EXPECT_EQ(t.at(6, 5), T(""));
}

TEST_F(DialogBox, DropDownDefinesItsEntriesUnderAFreshNameForTheDisplayOnly) {
    excel::Dialog dialog("D");
    dialog.add_listbox("Goal:", {"Maximise", "Minimise"}, "Minimise");
    dialog.add_listbox("Empty", {}, "x"); // no entries: no name, no list height
    const std::string name = dialog.control(0).name;
    EXPECT_EQ(name.substr(0, 4), "USTR");
    EXPECT_EQ(dialog[0], "2");
    std::vector<Value> entries;
    std::size_t names = 0;
    while_shown = [&] {
        names = host.name_count();
        if (const host::api::Table* v = host.name_value(name))
            entries = v->cells;
    };
    EXPECT_FALSE(dialog.display(true)); // deleted on Cancel too: the fixture checks
    EXPECT_EQ(entries, (std::vector<Value>{T("Maximise"), T("Minimise")}));
    EXPECT_EQ(names, 1u);
    const host::api::Table& t = shown.at(0);
    EXPECT_EQ(t.at(0, 4), N(40 + 2 + 100));
    EXPECT_EQ(t.at(1, 2), N(40 + 2 + 50));
    EXPECT_EQ(t.at(4, 0), N(21));
    EXPECT_EQ(t.at(4, 4), N(30));
    EXPECT_EQ(t.at(4, 5), T(name));
    EXPECT_EQ(t.at(4, 6), T("2"));
    EXPECT_EQ(t.at(6, 4), Value());
    EXPECT_EQ(t.at(6, 5), T(dialog.control(1).name));
    EXPECT_EQ(t.at(6, 6), T("1"));

    // List names count up across dialogs.
    excel::Dialog second("B");
    second.add_listbox("c", {"z"}, "z");
    const unsigned long first = std::stoul(name.substr(4));
    EXPECT_EQ(dialog.control(1).name, "USTR" + std::to_string(first + 1));
    EXPECT_EQ(second.control(0).name, "USTR" + std::to_string(first + 2));
}

// Each kind of control reads its result back, or refuses a result of the wrong kind with a
// message; results before a refused one are kept, the refused control keeps its value.
TEST_F(DialogBox, ResultsAreReadBackByKind) {
    enum Kind { Edit, Picker, Check, List };
    struct Case {
        Kind kind;
        Value result;
        std::string expected; // the control's value after OK, or the message of the refusal
        bool refused = false;
    } cases[] = {
        {Edit, T("7"), "7"},
        {Edit, T(std::string(200, 'y')), std::string(200, 'y')}, // the length byte is unsigned
        {Edit, Value::boolean(true), "xltype not a string", true},
        {Check, Value::boolean(true), "true"},
        {Check, T("yes"), "xltype not a bool", true},
        {List, N(1), "one"},
        {List, T("1"), "xltype not an int", true},
        {List, N(std::numeric_limits<double>::quiet_NaN()), "xltype not an int", true},
        {List, N(1e300), "xltype not an int", true},
        {List, N(0), "Drop-down list returned a choice outside its entries", true},
        {List, N(3), "Drop-down list returned a choice outside its entries", true},
        {Picker, Value(), ""},
        {Picker, T("A1:C3"), "A1:C3"},
        {Picker, T("[Book1]Sheet1!$A$1:$B$2"), "'[Book1]Sheet1'!$A$1:$B$2"},
        {Picker, T("R1C2"), "$B$1"},
        {Picker, T("A1:B2:C3"), "Cell picker returned malformed", true},
        {Picker, T("1A"), "R1C1 cell ref has no 'R/C'", true},
        {Picker, N(3), "xltype not a string", true},
    };
    for (const Case& c : cases) {
        std::string what = "kind " + std::to_string(c.kind) + ", result " + c.result.to_string();
        excel::Dialog dialog("D");
        dialog.add_editbox("Before", "b");
        switch (c.kind) {
        case Edit: dialog.add_editbox("E", "e"); break;
        case Picker: dialog.add_cellpicker("P", "p"); break;
        case Check: dialog.add_checkbox("C", true); break;
        case List: dialog.add_listbox("L", {"one", "two"}, "two"); break;
        }
        const std::string initial = dialog[1];
        answer_ok({{0, T("converted")}, {1, c.result}});
        const std::string refusal = message_of([&] { EXPECT_TRUE(dialog.display(true)) << what; });
        EXPECT_EQ(refusal, c.refused ? c.expected : "<no exception>") << what;
        EXPECT_EQ(dialog[1], c.refused ? initial : c.expected) << what;
        EXPECT_EQ(dialog[0], "converted") << what;
        EXPECT_EQ(host.allocations().outstanding(), 0u) << what << ": the answer was not released";
        EXPECT_EQ(host.name_count(), 0u) << what << ": a list name outlived the display";
    }
}

// Texts of up to 255 characters pass whole; one more is refused before anything is shown.
TEST_F(DialogBox, TextsOfAtMost255Characters) {
    for (std::size_t length : {255, 256})
        for (int where = 0; where < 4; ++where) {
            SCOPED_TRACE(std::to_string(length) + " characters in place " + std::to_string(where));
            const std::string text(length, 'x');
            excel::Dialog dialog(where == 0 ? text : "D");
            if (where == 1)
                dialog.add_statictext(text);
            else if (where == 2)
                dialog.add_editbox("E", text);
            else if (where == 3)
                dialog.add_listbox("L", {"a", text}, "a");
            const std::size_t before = shown.size();
            const std::string refusal = message_of([&] { dialog.display(true); });
            EXPECT_EQ(refusal.rfind("Dialog text longer than 255 characters", 0) == 0, length == 256) << refusal;
            ASSERT_EQ(shown.size(), before + (length == 255));
            if (length == 255 && where < 3) {
                const host::api::Table& t = shown.back();
                EXPECT_EQ(where == 0 ? t.at(0, 5) : where == 1 ? t.at(3, 5) : t.at(4, 6), T(text));
            }
        }
}

TEST_F(DialogBox, IndexPastTheLastControlIsRefused) {
    excel::Dialog dialog("D");
    for (int i = 0; i < 20; ++i)
        dialog.add_editbox("E" + std::to_string(i), std::to_string(i));
    EXPECT_EQ(dialog[19], "19");
    EXPECT_MESSAGE(dialog[20], "Dialog index out of bounds");
}

} // namespace
