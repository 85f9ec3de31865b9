// Solve against the host's workbook: the run, its refusals and what a failure leaves behind.
#include "Workbook.hpp"

#include "Message.hpp"

#include <stdexcept>

namespace solver_test {
namespace {

TEST_F(Workbook, CancelChangesNothing) {
    ok = false;
    typed["Seed"] = "99";
    ASSERT_EQ("", solve_message());
    typed.clear();
    ASSERT_EQ("", solve_message());
    EXPECT_EQ(shown("Seed"), "233"); // not even the texts typed before Cancel
    EXPECT_EQ((std::vector<double>{0.5, 0.5, 0.5}), variables());
}

// The dialog's controls in the order they are shown, each with its type and initial value
// (from settings made different from each other, so that two controls swapped show).
TEST_F(Workbook, TheDialogShowsEverySettingInItsPlace) {
    impl.seed = 11;
    impl.optimiser.population_size = 22;
    impl.optimiser.generations = 33;
    impl.optimiser.trials = 44;
    impl.optimiser.one_point_crossover.rate = 0.5;
    impl.optimiser.uniform_mutation.rate = 0.25;
    impl.min_text = "A2:C2";
    impl.max_text = "A3:C3";
    impl.variable_text = "A1:C1";
    impl.target_text = "D1";
    const struct {
        int type;
        const char* label;
        const char* initial;
    } expected[] = {
        {10, "Min Vector", "A2:C2"},  {10, "Max Vector", "A3:C3"},  {10, "Var Vector", "A1:C1"},
        {10, "Function Cell", "D1"},  {21, "Goal:", "1"},           {6, "Seed", "11"},
        {6, "Population", "22"},      {6, "Generations", "33"},     {6, "Trials", "44"},
        {6, "Crossover Rate", "0.5"}, {6, "Mutation Rate", "0.25"},
    };
    host::api::Table shown_table;
    host->set_dialog_handler([&](host::api::Table& t) {
        shown_table = t;
        return false;
    });
    ASSERT_EQ("", solve_message());
    // Each control line follows its label line.
    std::vector<std::string> got, want;
    for (int r = 4; r < shown_table.rows; ++r) {
        const host::engine::Value& code = shown_table.at(r, 0);
        if (!code.is_number() || code.as_number() == 5)
            continue;
        const host::engine::Value& initial = shown_table.at(r, 6);
        got.push_back(
            std::to_string(int(code.as_number())) + " " + std::string(shown_table.at(r - 1, 5).as_text()) + " = " +
            (initial.is_number() ? std::to_string(int(initial.as_number())) : std::string(initial.as_text())));
    }
    for (const auto& e : expected)
        want.push_back(std::to_string(e.type) + " " + e.label + " = " + e.initial);
    EXPECT_EQ(got, want);
}

TEST_F(Workbook, SolveGivesTheOptimisersOwnAnswerBitForBit) {
    for (const bool maximise : {true, false}) {
        typed["Goal:"] = maximise ? "Maximise" : "Minimise";
        typed["Seed"] = "4242";
        const std::uint64_t before = book.evaluation_count();
        ASSERT_EQ("", solve_message());
        const std::vector<double> expected = direct_run(4242, maximise);
        EXPECT_EQ(expected, variables()) << maximise;
        EXPECT_EQ(model(expected[0], expected[1], expected[2]), num("D1"));
        // One write (and so one recalculation) per evaluation, and one for the result.
        EXPECT_EQ(12u * 6 * 2 + 1, book.evaluation_count() - before);
    }
    EXPECT_NE(direct_run(4242, true), direct_run(4242, false));
    EXPECT_TRUE(host->alerts().empty());
}

TEST_F(Workbook, SecondSolveWithTheSameSettingsRepeatsTheResult) {
    ASSERT_EQ("", solve_message());
    const std::vector<double> first = variables();
    set("A1", Value::number(0.0));
    typed.clear(); // OK on the dialog as it opens
    ASSERT_EQ("", solve_message());
    EXPECT_EQ(first, variables());
    EXPECT_EQ(direct_run(233, true), first);
}

struct Layout {
    const char* variables;
    const char* min;
    const char* max;
    const char* target;
};

TEST_F(Workbook, AcceptedReferenceShapes) {
    for (const char* c : {"E1", "E2", "E3"})
        set(c, Value::number(-2.0));
    for (const char* c : {"F1", "F2", "F3"})
        set(c, Value::number(3.0));
    formula("F2", "=1+2"); // bounds are read as they are when the run starts
    for (const Layout& l :
         {Layout{"A1:C1", "E1:E3", "F1:F3", "D1"}, Layout{"$A$1:$C$1", "$A$2:$C$2", "A3:C3", "$D$1"},
          Layout{"A1:C1", "A2:C2", "A3:C3", "R1C4"}, Layout{"'Sheet1'!A1:C1", "Sheet1!A2:C2", "A3:C3", "Sheet1!D1"}}) {
        typed["Var Vector"] = l.variables;
        typed["Min Vector"] = l.min;
        typed["Max Vector"] = l.max;
        typed["Function Cell"] = l.target;
        EXPECT_EQ("", solve_message()) << l.variables << " " << l.min << " " << l.target;
        EXPECT_EQ(direct_run(233, true), variables()) << l.variables << " " << l.min;
    }
}

TEST_F(Workbook, OneCellVariableWithEqualBounds) {
    set("B5", Value::number(5.0));
    set("B6", Value::number(5.0));
    formula("D1", "=-B2");
    typed = {{"Var Vector", "B2"},    {"Min Vector", "B5"}, {"Max Vector", "B6"},
             {"Function Cell", "D1"}, {"Population", "4"},  {"Generations", "2"}};
    ASSERT_EQ("", solve_message());
    EXPECT_EQ(5.0, num("B2"));
    EXPECT_EQ(-5.0, num("D1"));
}

TEST_F(Workbook, AcceptedFieldsAreKeptWhenALaterOneFails) {
    typed = {{"Min Vector", "A2:C2"},   {"Max Vector", "$A$3:$C$3"}, {"Var Vector", "A1:C1"},
             {"Function Cell", "R1C4"}, {"Goal:", "Minimise"},       {"Seed", "77"},
             {"Population", "12"},      {"Generations", "x"},        {"Trials", "5"},
             {"Crossover Rate", "0.5"}, {"Mutation Rate", "0.5"}};
    EXPECT_EQ("Expected number of generations to be an integer above 2", solve_message());
    typed = {{"Crossover Rate", "0.1"}, {"Var Vector", ""}};
    EXPECT_EQ("Expected variable vector", solve_message());
    ok = false;
    typed.clear();
    solve_message();
    const Typed expected = {{"Min Vector", "A2:C2"},
                            {"Max Vector", "$A$3:$C$3"},
                            {"Var Vector", ""},
                            {"Function Cell", "$D$1"},
                            {"Goal:", "2"},
                            {"Seed", "77"},
                            {"Population", "12"},
                            {"Generations", "100"},
                            {"Trials", "2"},
                            {"Crossover Rate", "0.10000000000000001"},
                            {"Mutation Rate", "0.03125"}};
    for (const auto& e : expected)
        EXPECT_EQ(e.second, shown(e.first)) << e.first;
    EXPECT_EQ((std::vector<double>{0.5, 0.5, 0.5}), variables());
}

TEST_F(Workbook, OddPopulationIsRefusedBeforeAnythingIsRead) {
    typed["Seed"] = "5";
    typed["Population"] = "7";
    EXPECT_EQ(OmbrixImpl::odd_population_message, solve_message());
    EXPECT_EQ(5u, impl.seed);
    EXPECT_EQ(50u, impl.optimiser.population_size);
    // Settings made some other way are refused by the run as well.
    impl.optimiser.population_size = 9;
    EXPECT_MESSAGE(impl.process(), OmbrixImpl::odd_population_message);
    EXPECT_EQ((std::vector<double>{0.5, 0.5, 0.5}), variables());
}

struct Failure {
    Typed changes;
    const char* cell; // a cell given text before the run, or null
    std::string message;
    const char* objective = nullptr; // a formula for D1, or null
};

TEST_F(Workbook, FailuresAreReportedInCheckingOrderAndLeaveTheCellsAlone) {
    const std::string population = "Expected population size to be an integer above 2";
    const std::vector<Failure> cases = {
        {{{"Seed", "-1"}}, nullptr, "Expected seed to be a positive integer"},
        {{{"Population", "1"}, {"Var Vector", ""}}, nullptr, population},
        {{{"Generations", "1"}}, nullptr, "Expected number of generations to be an integer above 2"},
        {{{"Trials", "0"}}, nullptr, "Expected number of trials to be an integer above 1"},
        {{{"Crossover Rate", "1.5"}}, nullptr, "Expected crossover rate to be a number  between 0 and 1"},
        {{{"Mutation Rate", "-0.5"}}, nullptr, "Expected mutation rate to be a number between 0 and 1"},
        {{{"Var Vector", ""}, {"Min Vector", ""}}, nullptr, "Expected variable vector"},
        {{{"Var Vector", "A1:B2"}}, nullptr, "variable vector must be a row or column"},
        {{{"Min Vector", ""}, {"Max Vector", ""}}, nullptr, "Expected Min vector"},
        {{{"Max Vector", "A3:C4"}}, nullptr, "Max vector must be a row or column"},
        {{{"Max Vector", "A3:B3"}}, nullptr, "Max vector has different size from variable vector"},
        {{{"Max Vector", "A3:B3"}}, "B2", "Failed to read Min vector. Ensure all values are numbers"},
        {{{"Min Vector", "A2:D2"}}, nullptr, "Failed to read Min vector. Ensure all values are numbers"},
        {{}, "C3", "Failed to read Max vector. Ensure all values are numbers"},
        {{{"Function Cell", "A1:B2"}}, nullptr, "Invalid target cell specified"},
        {{{"Function Cell", ""}}, nullptr, "Invalid target cell specified"},
        {{{"Var Vector", "A1:B2:C3"}}, nullptr, "Cell picker returned malformed"},
        {{}, "D1", "Failed to get cell value as double"},
        // An unreadable objective: the cell, what it held and the point.
        {{},
         nullptr,
         "Failed to get cell value as double: the objective cell D1 held #DIV/0! at the candidate point (",
         "=1/(A1-A1)"},
        {{},
         nullptr,
         "Failed to get cell value as double: the objective cell D1 held the text \"many apples\" at the "
         "candidate point (",
         "=\"many \"&\"apples\""},
        {{},
         nullptr,
         "Failed to get cell value as double: the objective cell D1 held #REF! (an invalid or circular "
         "reference) at the candidate point (",
         "=INDEX(A1:B1,1,3)"},
        {{{"Min Vector", "'X'!A2:C2"}}, nullptr, "No sheet named 'X' is open"},
        {{{"Max Vector", "'X'!A3:C3"}}, nullptr, "No sheet named 'X' is open"},
        {{{"Var Vector", "'X'!A1:C1"}}, nullptr, "No sheet named 'X' is open"}};
    for (const Failure& c : cases) {
        build();
        for (const auto& change : c.changes)
            typed[change.first] = change.second;
        if (c.cell)
            set(c.cell, Value::text("abc"));
        if (c.objective)
            formula("D1", c.objective);
        const std::uint64_t before = book.evaluation_count();
        // A failed evaluation adds what the objective held after the message.
        EXPECT_EQ(c.message, solve_message().substr(0, c.message.size()));
        EXPECT_EQ((std::vector<double>{0.5, 0.5, 0.5}), variables()) << c.message;
        if (c.message.find("cell value") == std::string::npos) {
            EXPECT_EQ(before, book.evaluation_count()) << c.message;
        }
        EXPECT_EQ(0u, host->allocations().outstanding()) << c.message;
    }
}

TEST_F(Workbook, MaximumBelowItsMinimumIsNoUserMessage) {
    set("B3", Value::number(-3.0)); // below B2's -2
    try {
        impl.solve();
        ADD_FAILURE() << "an empty interval was accepted";
    } catch (const usr::Exception&) {
        ADD_FAILURE() << "the barrier would show this text instead of \"Unknown exception\"";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string("boost::interval: empty interval created"), e.what());
    }
    EXPECT_EQ(1u, impl.optimiser.design_variable_count());
    EXPECT_EQ((std::vector<double>{0.5, 0.5, 0.5}), variables());
}

TEST_F(Workbook, FailedEvaluationPutsTheStartingContentsBack) {
    book.clear(at("B1"));
    set("C1", Value::text("start"));
    formula("D1", "=SQRT(2-A1)"); // #NUM! for every candidate with A1 above 2
    EXPECT_EQ(0u, solve_message().find("Failed to get cell value as double: "));
    EXPECT_EQ(0.5, num("A1"));
    EXPECT_TRUE(get("B1").is_empty());
    EXPECT_EQ("start", std::string(get("C1").as_text()));
}

TEST_F(Workbook, ARunRefusedBeforeItsFirstCandidateTouchesNoCell) {
    const Typed wide_box{{"Min Vector", "E2:G2"}, {"Max Vector", "E3:G3"}};
    struct Case {
        Typed typed;
        const char* message;
    };
    const Case cases[] = {
        {{{"Population", "100000000"}}, "A population of 100000000 with 3 variables would need"},
        {{{"Population", "1000000000"}}, "A population of 1000000000 with 3 variables would need"},
        {wide_box, "Design variable 1 has the range"},
    };
    for (const Case& c : cases) {
        build();
        formula("A1", "=B2*0+0.5");
        // Each bound is a number, their distance is not.
        set("E2", Value::number(-1e308));
        set("E3", Value::number(1e308));
        for (const char* a1 : {"F2", "G2"})
            set(a1, Value::number(-2));
        for (const char* a1 : {"F3", "G3"})
            set(a1, Value::number(3));
        for (const auto& t : c.typed)
            typed[t.first] = t.second;
        const std::string message = solve_message();
        EXPECT_EQ(0u, message.find(c.message)) << message;
        // The formula in a variable cell is still a formula.
        EXPECT_TRUE(book.is_formula(at("A1"))) << c.message;
        EXPECT_EQ(0.5, num("A1"));
    }
}

TEST_F(Workbook, AReferenceTooLongOnceWrittenInFullIsRefusedWhenGiven) {
    // 248 letters, "!" and "A2:C2": 254 characters, 256 once the sheet name is quoted.
    const std::string sheet(248, 'S');
    typed["Min Vector"] = sheet + "!A2:C2";
    ASSERT_EQ(254u, typed["Min Vector"].size());
    const std::string message = solve_message();
    EXPECT_EQ(0u, message.find("The reference given for Min Vector is too long")) << message;
    EXPECT_NE(std::string::npos, message.find("256 characters")) << message;
    EXPECT_EQ("", impl.min_text);
    // The next Solve shows its dialog and runs.
    typed["Min Vector"] = "A2:C2";
    EXPECT_EQ("", solve_message());
    EXPECT_EQ(2u, front->dialogs());
}

} // namespace
} // namespace solver_test
