#include "excel/Dialog.hpp"

#include "FakeExcel.hpp"
#include "excel/ExcelException.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <string>
#include <vector>

namespace {

using fake::Value;

class DialogBox : public ::testing::Test {
protected:
    void SetUp() override {
        fake::Excel::instance().reset();
        base = excel_().outstanding();
    }
    void TearDown() override {
        // The dialog's answer went back with xlFree and no list name outlived the display.
        EXPECT_EQ(excel_().outstanding(), base);
        EXPECT_TRUE(excel_().names.empty());
    }
    static fake::Excel& excel_() { return fake::Excel::instance(); }

    // The user presses OK having entered, for control i, results[i] in the result column.
    void answer_ok(bool with_cancel, std::map<unsigned, Value> results) {
        const unsigned first = with_cancel ? 3 : 2;
        excel_().overrides[xlfDialogBox] = [first, results](int, XLOPER* result,
                                                              const std::vector<XLOPER*>& args) {
            Value table = Value::copy(args.at(0));
            for (const auto& r : results)
                table.elements.at((first + 2 * r.first + 1) * table.columns + 6) = r.second;
            fake::Excel::instance().give_array(result, table);
            return 0;
        };
    }

    // The table the dialog was shown with.
    const Value& shown() {
        auto calls = excel_().calls_of(xlfDialogBox);
        if (calls.size() != 1u || calls[0]->args.size() != 1u)
            throw std::runtime_error("expected one dialog with one argument");
        return calls[0]->args[0];
    }

    std::size_t base = 0;
};

// A table cell: a number, a text, or empty.
void expect_cell(const Value& cell, const char* what, double n) {
    EXPECT_EQ(cell.base_type(), xltypeNum) << what;
    EXPECT_EQ(cell.num, n) << what;
}
void expect_cell(const Value& cell, const char* what, const std::string& s) {
    EXPECT_TRUE(cell.is_str(s)) << what << ": type " << cell.type << " text '" << cell.str << "'";
}
void expect_empty(const Value& cell, const char* what) {
    EXPECT_EQ(cell.base_type(), xltypeNil) << what;
}

TEST_F(DialogBox, OneEditBoxWithCancelIsLaidOutInFiveRows) {
    excel::Dialog dialog("Title");
    dialog.add_editbox("Seed", "233");
    EXPECT_FALSE(dialog.display(true));
    const Value& t = shown();
    ASSERT_EQ(t.rows, 5u);
    ASSERT_EQ(t.columns, 7u);

    expect_empty(t.at(0, 0), "dialog code");
    expect_empty(t.at(0, 1), "dialog x");
    expect_empty(t.at(0, 2), "dialog y");
    expect_cell(t.at(0, 3), "dialog width", 430);
    expect_cell(t.at(0, 4), "dialog height", 120);
    expect_cell(t.at(0, 5), "dialog title", std::string("Title"));
    expect_empty(t.at(0, 6), "dialog value");

    const double ok[] = {1, 50, 70, 80};
    const double cancel[] = {2, 150, 70, 80};
    for (unsigned c = 0; c < 4; ++c) {
        expect_cell(t.at(1, c), "OK", ok[c]);
        expect_cell(t.at(2, c), "Cancel", cancel[c]);
    }
    expect_empty(t.at(1, 4), "OK height");
    expect_cell(t.at(1, 5), "OK text", std::string("OK"));
    expect_cell(t.at(2, 5), "Cancel text", std::string("Cancel"));

    const double label[] = {5, 10, 20, 430};
    for (unsigned c = 0; c < 4; ++c)
        expect_cell(t.at(3, c), "label line", label[c]);
    expect_empty(t.at(3, 4), "label height");
    expect_cell(t.at(3, 5), "label text", std::string("Seed"));
    expect_empty(t.at(3, 6), "label value");

    const double box[] = {6, 220, 20, 200};
    for (unsigned c = 0; c < 4; ++c)
        expect_cell(t.at(4, c), "edit box", box[c]);
    expect_empty(t.at(4, 4), "edit box height");
    expect_cell(t.at(4, 5), "edit box text", std::string(""));
    expect_cell(t.at(4, 6), "edit box value", std::string("233"));
}

TEST_F(DialogBox, EveryKindOfControlGetsItsCodeAndLine) {
    excel::Dialog dialog("D");
    dialog.add_statictext("Domain:");
    dialog.add_cellpicker("Var", "$A$1");
    dialog.add_checkbox("On", true);
    dialog.add_checkbox("Off", false);
    dialog.add_editbox("E", "");
    dialog.display(false);
    const Value& t = shown();
    ASSERT_EQ(t.rows, 12u) << "2n + 2 rows without Cancel";
    expect_cell(t.at(0, 4), "height", 5 * 20 + 100);
    expect_cell(t.at(1, 2), "OK y", 5 * 20 + 50);
    const int codes[] = {5, 10, 13, 13, 6};
    const char* values[] = {"", "$A$1", "1", "", ""};
    for (unsigned k = 0; k < 5; ++k) {
        expect_cell(t.at(2 + 2 * k, 2), "label y", 20 + 20 * k);
        expect_cell(t.at(3 + 2 * k, 0), "code", codes[k]);
        expect_cell(t.at(3 + 2 * k, 1), "x", 220);
        expect_cell(t.at(3 + 2 * k, 2), "y", 20 + 20 * k);
        expect_cell(t.at(3 + 2 * k, 6), "initial value", std::string(values[k]));
    }
    expect_cell(t.at(2, 5), "static text label", std::string("Domain:"));
    expect_cell(t.at(3, 5), "static text's second line", std::string(""));
}

TEST_F(DialogBox, DropDownDefinesItsEntriesUnderAFreshNameForTheDisplayOnly) {
    excel::Dialog dialog("D");
    dialog.add_listbox("Goal:", {"Maximise", "Minimise"}, "Minimise");
    const std::string name = dialog.control(0).name;
    EXPECT_EQ(name.substr(0, 4), "USTR");
    EXPECT_EQ(dialog[0], "2");

    Value defined;
    excel_().overrides[xlfDialogBox] = [&](int, XLOPER* result, const std::vector<XLOPER*>&) {
        defined = fake::Excel::instance().names.at(name);
        result->xltype = xltypeBool;
        result->val.xbool = 0;
        return 0;
    };
    EXPECT_FALSE(dialog.display(true));
    ASSERT_EQ(defined.rows, 2u);
    ASSERT_EQ(defined.columns, 1u);
    EXPECT_TRUE(defined.at(0, 0).is_str("Maximise"));
    EXPECT_TRUE(defined.at(1, 0).is_str("Minimise"));
    EXPECT_EQ(excel_().deleted_names, std::vector<std::string>{name}) << "deleted on cancel too";

    const Value& t = shown();
    ASSERT_EQ(t.rows, 5u);
    expect_cell(t.at(0, 4), "height", 122);
    expect_cell(t.at(1, 2), "OK y", 72);
    expect_cell(t.at(2, 2), "Cancel y", 72);
    expect_cell(t.at(4, 0), "code", 21);
    expect_cell(t.at(4, 4), "list height", 30);
    expect_cell(t.at(4, 5), "list name", name);
    expect_cell(t.at(4, 6), "initial position", std::string("2"));
}

TEST_F(DialogBox, ListNamesCountUpAcrossDialogs) {
    excel::Dialog first("A");
    first.add_listbox("a", {"x"}, "x");
    first.add_listbox("b", {"y"}, "y");
    excel::Dialog second("B");
    second.add_listbox("c", {"z"}, "z");
    const std::string a = first.control(0).name, b = first.control(1).name, c = second.control(0).name;
    const unsigned long na = std::stoul(a.substr(4));
    EXPECT_EQ(b, "USTR" + std::to_string(na + 1));
    EXPECT_EQ(c, "USTR" + std::to_string(na + 2));
    EXPECT_EQ(excel::Dialog::unique_string(), "USTR" + std::to_string(na + 3));
}

TEST_F(DialogBox, ListWithoutEntriesIsLaidOutLikeAnyControl) {
    excel::Dialog dialog("D");
    dialog.add_listbox("Empty", {}, "x");
    dialog.add_editbox("E", "1");
    dialog.display(true);
    const Value& t = shown();
    expect_cell(t.at(0, 4), "height", 40 + 100);
    expect_empty(t.at(4, 4), "list height");
    expect_cell(t.at(4, 5), "list name", dialog.control(0).name);
    expect_cell(t.at(4, 6), "initial position", std::string("1"));
    EXPECT_TRUE(excel_().calls_of(xlfSetName).empty());
}

TEST_F(DialogBox, ResultsAreReadBackByKind) {
    excel::Dialog dialog("D");
    dialog.add_statictext("Intro");
    dialog.add_editbox("Seed", "233");
    dialog.add_checkbox("Flag", false);
    dialog.add_listbox("Goal:", {"Maximise", "Minimise"}, "Minimise");
    dialog.add_cellpicker("Var", "");
    answer_ok(true, {{1, fake::str("7")}, {2, fake::boolean(true)}, {3, fake::num(1)},
                     {4, fake::str("Sheet1!$A$1")}});
    EXPECT_TRUE(dialog.display(true));
    EXPECT_EQ(dialog[0], "");
    EXPECT_EQ(dialog[1], "7");
    EXPECT_EQ(dialog[2], "true");
    EXPECT_EQ(dialog[3], "Maximise");
    EXPECT_EQ(dialog[4], "'Sheet1'!$A$1");
}

TEST_F(DialogBox, CancelLeavesEveryValueAsItWas) {
    excel::Dialog dialog("D");
    dialog.add_editbox("Seed", "233");
    dialog.add_checkbox("Flag", true);
    EXPECT_FALSE(dialog.display(true));
    EXPECT_EQ(dialog[0], "233");
    EXPECT_EQ(dialog[1], "1");
}

TEST_F(DialogBox, CellPickerResultsComeBackCanonical) {
    struct Case {
        std::string typed, expected;
    } cases[] = {{"", ""},
                 {"A1:C3", "A1:C3"},
                 {"$A$1:$C$3", "$A$1:$C$3"},
                 {"[Book1]Sheet1!$A$1:$B$2", "'[Book1]Sheet1'!$A$1:$B$2"},
                 {"R1C2", "$B$1"}};
    for (const Case& c : cases) {
        fake::Excel::instance().reset();
        excel::Dialog dialog("D");
        dialog.add_cellpicker("Var", "old");
        answer_ok(false, {{0, c.typed.empty() ? fake::nil() : fake::str(c.typed)}});
        ASSERT_TRUE(dialog.display(false)) << c.typed;
        EXPECT_EQ(dialog[0], c.expected) << c.typed;
    }
}

TEST_F(DialogBox, FaultyResultsAreRefusedWithTheirMessages) {
    struct Case {
        const char* what;
        int kind; // 0 edit box, 1 cell picker, 2 check box, 3 list
        Value result;
        std::string message;
    } cases[] = {
        {"picker with two colons", 1, fake::str("A1:B2:C3"), "Cell picker returned malformed"},
        {"picker with no reference", 1, fake::str("1A"), "R1C1 cell ref has no 'R/C'"},
        {"picker with a number", 1, fake::num(3), "xltype not a string"},
        {"edit box with a boolean", 0, fake::boolean(true), "xltype not a string"},
        {"check box with text", 2, fake::str("yes"), "xltype not a bool"},
        {"list with text", 3, fake::str("1"), "xltype not an int"},
        {"list with NaN", 3, fake::num(std::numeric_limits<double>::quiet_NaN()), "xltype not an int"},
        {"list with a huge number", 3, fake::num(1e300), "xltype not an int"},
        {"list before its first entry", 3, fake::num(0), "Drop-down list returned a choice outside its entries"},
        {"list past its last entry", 3, fake::num(3), "Drop-down list returned a choice outside its entries"},
        {"list far below", 3, fake::num(-5), "Drop-down list returned a choice outside its entries"},
    };
    for (const Case& c : cases) {
        fake::Excel::instance().reset();
        excel::Dialog dialog("D");
        dialog.add_editbox("Before", "b");
        switch (c.kind) {
        case 0: dialog.add_editbox("E", "e"); break;
        case 1: dialog.add_cellpicker("P", "p"); break;
        case 2: dialog.add_checkbox("C", true); break;
        default: dialog.add_listbox("L", {"one", "two"}, "two"); break;
        }
        const std::string initial = dialog[1];
        answer_ok(false, {{0, fake::str("converted")}, {1, c.result}});
        try {
            dialog.display(false);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const excel::ExcelException& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.what;
        }
        // Results before the faulty one stay; the faulty control keeps its value.
        EXPECT_EQ(dialog[0], "converted") << c.what;
        EXPECT_EQ(dialog[1], initial) << c.what;
        EXPECT_EQ(excel_().outstanding(), base) << c.what << ": the answer was not released";
        EXPECT_TRUE(excel_().names.empty()) << c.what << ": a list name outlived the failure";
    }
}

TEST_F(DialogBox, AnAnswerTableTooSmallIsRefusedRatherThanReadPastItsEnd) {
    excel::Dialog dialog("D");
    dialog.add_editbox("E", "e");
    excel_().dialog_answer = fake::multi(1, 7, std::vector<Value>(7, fake::nil()));
    excel_().dialog_answer_set = true;
    EXPECT_THROW(dialog.display(true), excel::ExcelException);
    EXPECT_EQ(dialog[0], "e");
}

TEST_F(DialogBox, LongTextsUpTo255CharactersPassWhole) {
    const std::string long_text(255, 'x');
    excel::Dialog dialog(long_text);
    dialog.add_editbox(long_text, long_text);
    answer_ok(false, {{0, fake::str(std::string(200, 'y'))}});
    ASSERT_TRUE(dialog.display(false));
    EXPECT_EQ(shown().at(0, 5).str, long_text);
    EXPECT_EQ(shown().at(3, 6).str, long_text);
    EXPECT_EQ(dialog[0], std::string(200, 'y')) << "the length byte is read unsigned";
}

TEST_F(DialogBox, TextsOver255CharactersAreRefusedBeforeAnythingIsShown) {
    const std::string too_long(256, 'x');
    for (int where = 0; where < 4; ++where) {
        fake::Excel::instance().reset();
        excel::Dialog dialog(where == 0 ? too_long : "D");
        if (where == 1)
            dialog.add_statictext(too_long);
        else if (where == 2)
            dialog.add_editbox("E", too_long);
        else
            dialog.add_listbox("L", {"a", too_long}, "a");
        try {
            dialog.display(true);
            ADD_FAILURE() << "case " << where << " accepted";
        } catch (const excel::ExcelException& e) {
            EXPECT_EQ(std::string(e.what()).rfind("Dialog text longer than 255 characters", 0), 0u)
                << e.what();
        }
        EXPECT_TRUE(excel_().calls_of(xlfDialogBox).empty()) << "case " << where;
        EXPECT_TRUE(excel_().calls_of(xlfSetName).empty()) << "case " << where;
    }
}

TEST_F(DialogBox, IndexPastTheLastControlIsRefused) {
    excel::Dialog dialog("D");
    for (int i = 0; i < 20; ++i)
        dialog.add_editbox("E" + std::to_string(i), std::to_string(i));
    for (unsigned i = 0; i < 20; ++i)
        EXPECT_EQ(dialog[i], std::to_string(i));
    try {
        dialog[20];
        FAIL() << "index 20 accepted";
    } catch (const excel::ExcelException& e) {
        EXPECT_STREQ(e.what(), "Dialog index out of bounds");
    }
}

TEST_F(DialogBox, ResultsBecomeTheNextInitialValues) {
    excel::Dialog dialog("D");
    dialog.add_editbox("E", "first");
    dialog.add_checkbox("C", true);
    answer_ok(true, {{0, fake::str("second")}, {1, fake::boolean(false)}});
    ASSERT_TRUE(dialog.display(true));
    excel_().calls.clear();
    excel_().overrides.clear();
    dialog.display(true);
    EXPECT_EQ(shown().at(4, 6).str, "second");
    EXPECT_EQ(shown().at(6, 6).str, "false");
}

} // namespace
