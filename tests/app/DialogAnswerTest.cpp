// Reading the add-in's dialog table and answering it from fields and from the terminal form.
#include "DialogTables.hpp"
#include "Message.hpp"

#include "ui/Dialog.hpp"
#include "ui/Form.hpp"
#include "ui/FrontEnd.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using host::engine::Value;
using host::ui::DialogAnswerError;
using host::ui::DialogLine;
using testing_tables::dialog_table;
using testing_tables::solve_controls;

host::ui::EntriesLookup goals() {
    return [](const std::string& name) {
        return name == "USTR0" ? std::vector<std::string>{"Maximise", "Minimise"} : std::vector<std::string>{};
    };
}

// The row of the control line of control k in a table with a Cancel button.
int control_row(int k) { return 3 + 2 * k + 1; }

TEST(DialogLayout, SolveDialogReadsAsElevenLabelledInputs) {
    host::api::Table t = dialog_table("Ombrix", solve_controls());
    host::ui::DialogLayout layout = host::ui::read_layout(t, goals());
    EXPECT_EQ(layout.title, "Ombrix");
    EXPECT_TRUE(layout.has_cancel);
    ASSERT_EQ(layout.lines.size(), 20u); // one line per control, static texts included
    std::size_t inputs = 0;
    for (const DialogLine& line : layout.lines)
        if (line.is_input())
            ++inputs;
    EXPECT_EQ(inputs, 11u); // the static texts between them take no answer
    const DialogLine* goal = host::ui::find_input(layout, "goal");
    ASSERT_NE(goal, nullptr);
    EXPECT_EQ(goal->kind, DialogLine::Kind::list);
    EXPECT_EQ(goal->entries, (std::vector<std::string>{"Maximise", "Minimise"}));
    EXPECT_EQ(host::ui::find_input(layout, "Domain"), nullptr); // a static text takes no answer
}

TEST(DialogLabels, CompareWithoutCaseColonBlanksOrAccelerators) {
    struct Case {
        const char* a;
        const char* b;
        bool same;
    } cases[] = {
        {"Goal :", "goal", true},
        {"&Seed", "SEED", true},
        {" Crossover Rate ", "crossover rate", true},
        {"Seed", "Seeds", false},
        {"Function Cell", "FunctionCell", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(host::ui::label_key(c.a) == host::ui::label_key(c.b), c.same) << c.a << " vs " << c.b;
}

TEST(DialogFill, UnansweredControlsKeepTheirValuesAnsweredOnesTakeTheirAnswer) {
    host::api::Table t = dialog_table("Ombrix", solve_controls());
    host::ui::DialogLayout layout = host::ui::read_layout(t, goals());
    host::ui::fill_table(t, layout, {});
    EXPECT_EQ(t.at(control_row(10), 6), Value::text("233"));
    EXPECT_TRUE(t.at(control_row(1), 6).is_empty());      // an empty reference stays empty
    EXPECT_EQ(t.at(control_row(7), 6), Value::number(1)); // the list's position as a number
    EXPECT_TRUE(t.at(control_row(0), 6).is_empty());      // static texts untouched

    // Answers go to the control of their label.
    host::ui::fill_table(t, layout,
                         {{"Var Vector", "B3:D3"}, {"goal", "MINIMISE"}, {"Seed", "7"}, {"Seed", "8"}, {"Trials", ""}});
    EXPECT_EQ(t.at(control_row(3), 6), Value::text("B3:D3"));
    EXPECT_EQ(t.at(control_row(7), 6), Value::number(2));
    EXPECT_EQ(t.at(control_row(10), 6), Value::text("8")); // the last answer wins
    EXPECT_TRUE(t.at(control_row(13), 6).is_empty());      // an empty answer empties the field
}

TEST(DialogFill, ListTakesEntryNamesOrPositions) {
    host::api::Table t = dialog_table("Ombrix", solve_controls());
    host::ui::DialogLayout layout = host::ui::read_layout(t, goals());
    const DialogLine& goal = *host::ui::find_input(layout, "Goal:");
    EXPECT_EQ(host::ui::list_choice(goal, " Minimise "), 2);
    EXPECT_EQ(host::ui::list_choice(goal, "2"), 2);
    for (const char* bad : {"3", "0", "1.5", "maximize", ""})
        EXPECT_NE(message_of([&] { host::ui::list_choice(goal, bad); }).find("Maximise or Minimise"), std::string::npos)
            << bad;
}

// Check boxes, in a table without Cancel and with a control of no known kind.
TEST(DialogFill, CheckBoxesTakeTruthValues) {
    host::api::Table t =
        dialog_table("T", {{13, "Verbose", "1", ""}, {13, "Quiet", "", ""}, {23, "Picture", "", ""}}, false);
    host::ui::DialogLayout layout = host::ui::read_layout(t, nullptr);
    EXPECT_FALSE(layout.has_cancel);
    ASSERT_EQ(layout.lines.size(), 3u);
    EXPECT_EQ(layout.lines[2].kind, DialogLine::Kind::unsupported);
    EXPECT_THROW(host::ui::fill_table(t, layout, {{"Picture", "1"}}), DialogAnswerError);
    host::ui::fill_table(t, layout, {});
    EXPECT_EQ(t.at(control_row(0) - 1, 6), Value::boolean(true));
    EXPECT_EQ(t.at(control_row(1) - 1, 6), Value::boolean(false));
    host::ui::fill_table(t, layout, {{"Verbose", "no"}, {"Quiet", "TRUE"}});
    EXPECT_EQ(t.at(control_row(0) - 1, 6), Value::boolean(false));
    EXPECT_EQ(t.at(control_row(1) - 1, 6), Value::boolean(true));
    EXPECT_THROW(host::ui::fill_table(t, layout, {{"Quiet", "maybe"}}), DialogAnswerError);
    // Tables too small to be a dialog give no lines rather than reading past their end.
    EXPECT_TRUE(host::ui::read_layout(host::api::Table(), nullptr).lines.empty());
}

TEST(DialogFields, SplitAtFirstEquals) {
    EXPECT_EQ(host::ui::split_field("Seed=7"), (std::pair<std::string, std::string>{"Seed", "7"}));
    EXPECT_EQ(host::ui::split_field(" Goal: =a=b"), (std::pair<std::string, std::string>{"Goal:", "a=b"}));
    EXPECT_EQ(host::ui::split_field("Var Vector="), (std::pair<std::string, std::string>{"Var Vector", ""}));
}

struct FormRun {
    bool ok;
    std::vector<std::pair<std::string, std::string>> answers;
    std::string shown;
};

FormRun run_form(const std::string& typed) {
    static host::api::Table t = dialog_table("Ombrix", solve_controls());
    static host::ui::DialogLayout layout = host::ui::read_layout(t, goals());
    std::istringstream in(typed);
    std::ostringstream out;
    host::ui::Form form(layout, in, out);
    bool ok = form.run();
    return {ok, form.answers(), out.str()};
}

TEST(DialogForm, ShowsEveryControlWithItsValue) {
    FormRun r = run_form("\n");
    EXPECT_TRUE(r.ok);
    EXPECT_TRUE(r.answers.empty());
    for (const char* shown : {"Ombrix", "Domain:", "Min Vector", "[233]", "[x] 1) Maximise", "[ ] 2) Minimise"})
        EXPECT_NE(r.shown.find(shown), std::string::npos) << shown << " missing from\n" << r.shown;
    // Inputs are numbered 1 to 11; static texts are not.
    EXPECT_NE(r.shown.find("  11 Mutation Rate"), std::string::npos) << r.shown;
    EXPECT_EQ(r.shown.find("  12 "), std::string::npos);
}

TEST(DialogForm, AcceptCancelAndEdit) {
    struct Case {
        const char* typed;
        bool ok;
        std::vector<std::pair<std::string, std::string>> answers;
    } cases[] = {
        {"ok\n", true, {}},
        {"c\n", false, {}},
        {"", false, {}},                     // end of input cancels
        {"6\n7\n\n", true, {{"Seed", "7"}}}, // field 6 is Seed
        {"5\nminimise\n\n", true, {{"Goal:", "minimise"}}},
        {"5\nsideways\n2\n\n", true, {{"Goal:", "2"}}},           // a bad choice is asked again
        {"99\nx\n3\nB3:D3\n\n", true, {{"Var Vector", "B3:D3"}}}, // no such field: asked again
        {"6\n\n\n", true, {}},                                    // an empty edit keeps the value
        {"6\n7\nc\n", false, {{"Seed", "7"}}},                    // edits are dropped with cancel
        {"6\n", false, {}},                                       // input ends mid-edit
    };
    for (const Case& c : cases) {
        FormRun r = run_form(c.typed);
        EXPECT_EQ(r.ok, c.ok) << c.typed;
        if (c.ok) {
            EXPECT_EQ(r.answers, c.answers) << c.typed;
        }
    }
    FormRun edited = run_form("6\n7\n\n");
    EXPECT_NE(edited.shown.find("[7]"), std::string::npos); // the form is shown again with the new value
}

TEST(FrontEndAlerts, ErrorsGoToStandardErrorOthersToOutput) {
    std::ostringstream out, err;
    host::ui::print_alert({"About text\rsecond line", 2}, out, err);
    host::ui::print_alert({"Expected variable vector", 3}, out, err);
    host::ui::print_alert({"Continue?", 1}, out, err);
    EXPECT_EQ(out.str(), "About text\nsecond line\nContinue?\n");
    EXPECT_EQ(err.str(), "Error: Expected variable vector\n");
}

// A bad answer leaves the table untouched, cancels the dialog and is kept with the fields listed.
TEST(FrontEndDialogs, AnswerErrorCancelsAndIsKept) {
    std::ostringstream out, err;
    host::ui::FrontEnd front(out, err);
    host::api::Table t = dialog_table("Ombrix", solve_controls());
    const host::api::Table before = t;
    front.set_answers({{"Seed", "9"}, {"Goal:", "sideways"}});
    EXPECT_FALSE(front.answer(t));
    front.set_answers({{"Seed", "9"}, {"Colour", "red"}});
    EXPECT_FALSE(front.answer(t));
    EXPECT_EQ(t.cells, before.cells);
    ASSERT_TRUE(front.answer_error().has_value());
    EXPECT_NE(front.answer_error()->find("\"Colour\""), std::string::npos);
    EXPECT_NE(front.answer_error()->find("Mutation Rate"), std::string::npos) << *front.answer_error();
    EXPECT_TRUE(front.cancelled());

    front.set_answers({{"Seed", "9"}, {"Var Vector", "A1:C1"}});
    EXPECT_TRUE(front.answer(t));
    EXPECT_EQ(front.accepted("seed"), "9");
    EXPECT_EQ(front.accepted("Var Vector"), "A1:C1");
    EXPECT_EQ(front.accepted("Population"), "50");
    EXPECT_EQ(front.dialogs(), 3u);
}

} // namespace
