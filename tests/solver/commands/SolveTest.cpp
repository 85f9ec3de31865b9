#include "SolverFixture.hpp"

#include "math/opt/GAOptimiser.hpp"

#include <boost/random/mersenne_twister.hpp>

#include <stdexcept>

namespace solver_test {
namespace {

struct ShownRow {
    int type;
    std::string label;
    std::string initial;
};

const std::vector<ShownRow> default_dialog = {
    {5, "Domain:", ""},       {10, "Min Vector", ""},     {10, "Max Vector", ""},
    {10, "Var Vector", ""},   {5, "", ""},                {5, "Objective:", ""},
    {10, "Function Cell", ""}, {21, "Goal:", "1"},          {5, "", ""},
    {5, "Parameters:", ""},   {6, "Seed", "233"},         {6, "Population", "50"},
    {6, "Generations", "100"}, {6, "Trials", "2"},          {5, "", ""},
    {5, "Advanced:", ""},     {6, "Crossover Rate", "1"}, {6, "Mutation Rate", "0.03125"},
    {5, "", ""}};

std::string initial_of(const fake::ShownDialog& dialog, const std::string& label)
{
    for (const fake::ShownControl& c : dialog.controls)
        if (c.label == label)
            return c.initial;
    ADD_FAILURE() << "no control labelled " << label;
    return std::string();
}

// The optimiser run straight on the plain model, with the settings Solve was given.
std::vector<double> direct_run(unsigned int population, unsigned int generations,
                               unsigned int trials, unsigned int seed, bool maximise)
{
    math::opt::GAOptimiser direct;
    direct.population_size = population;
    direct.generations = generations;
    direct.trials = trials;
    for (int i = 0; i < 3; ++i)
        direct.design_variable(math::opt::Interval(-2.0, 3.0));
    boost::mt19937 engine(seed);
    const PlainModel f;
    return maximise ? direct.maximise(f, engine) : direct.minimise(f, engine);
}

// --- The dialog ------------------------------------------------------------------------

TEST_F(SolverTest, DialogShowsEveryControlWithTheDefaultSettings)
{
    answer_cancel();
    EXPECT_EQ("", solve_message());
    ASSERT_EQ(1u, excel().dialogs.size());
    const fake::ShownDialog& shown = excel().dialogs[0];
    EXPECT_EQ("Ombrix", shown.title);
    EXPECT_TRUE(shown.has_cancel);
    ASSERT_EQ(default_dialog.size() + 1, shown.controls.size());
    for (std::size_t i = 0; i < default_dialog.size(); ++i) {
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(default_dialog[i].type, shown.controls[i].type);
        EXPECT_EQ(default_dialog[i].label, shown.controls[i].label);
        EXPECT_EQ(default_dialog[i].initial, shown.controls[i].initial);
    }
    EXPECT_EQ((std::vector<std::string>{"Maximise", "Minimise"}), shown.controls[7].entries);
    const fake::ShownControl& help = shown.controls.back();
    EXPECT_EQ(5, help.type);
    EXPECT_EQ(0u, help.label.find("For help visit: "));
    EXPECT_GT(help.label.size(), std::string("For help visit: ").size());
}

TEST_F(SolverTest, CancelChangesNothingNotEvenTheTypedTexts)
{
    fake::DialogAnswer cancel;
    cancel.ok = false;
    cancel.typed = with(with(small_run(), "Seed", "9"), "Goal:", "Minimise");
    excel().answers.push_back(cancel);
    answer_cancel();
    EXPECT_EQ("", solve_message());
    EXPECT_EQ("", solve_message());
    ASSERT_EQ(2u, excel().dialogs.size());
    for (std::size_t i = 0; i < default_dialog.size(); ++i)
        EXPECT_EQ(default_dialog[i].initial, excel().dialogs[1].controls[i].initial) << i;
    EXPECT_EQ(0, excel().set_calls);
    EXPECT_EQ(0.5, sheet().num("A1"));
}

// --- The whole road --------------------------------------------------------------------

TEST_F(SolverTest, SolveWritesTheSameBestPointAsTheOptimiserOnThePlainModel)
{
    answer_ok(with(small_run(), "Seed", "4242"));
    ASSERT_EQ("", solve_message());
    const std::vector<double> expected = direct_run(10, 6, 2, 4242, true);
    ASSERT_EQ(3u, expected.size());
    // Bit for bit: the workbook is only a detour to the same function.
    EXPECT_EQ(expected, variables());
    // The objective cell was recalculated for the written point.
    EXPECT_EQ(model(expected[0], expected[1], expected[2]), sheet().num("D1"));
    // One write per evaluation, then one for the result; no other cell was touched.
    EXPECT_EQ(10 * 6 * 2 + 1, excel().set_calls);
    EXPECT_EQ(-2.0, sheet().num("A2"));
    EXPECT_EQ(3.0, sheet().num("C3"));
    EXPECT_TRUE(excel().alerts.empty());
}

TEST_F(SolverTest, MinimiseGoalMinimises)
{
    answer_ok(with(small_run(), "Goal:", "Minimise"));
    ASSERT_EQ("", solve_message());
    EXPECT_EQ(direct_run(10, 6, 2, 233, false), variables());
    EXPECT_NE(direct_run(10, 6, 2, 233, true), variables());
}

TEST_F(SolverTest, RepeatedSolveWithTheSameSettingsRepeatsTheResult)
{
    answer_ok(small_run());
    ASSERT_EQ("", solve_message());
    const std::vector<double> first = variables();
    sheet().set("A1", 0.0);
    answer_ok(Typed());  // OK on the dialog as it opens: the stored settings
    ASSERT_EQ("", solve_message());
    EXPECT_EQ(first, variables());
}

TEST_F(SolverTest, EvaluationsTakeAllVariablesInOneWrite)
{
    answer_ok(with(with(small_run(), "Generations", "2"), "Trials", "1"));
    ASSERT_EQ("", solve_message());
    EXPECT_EQ(10 * 2 + 1, excel().set_calls);
}

struct LayoutCase {
    const char* name;
    const char* variables;
    const char* min;
    const char* max;
    const char* target;
};

class SolverLayouts : public SolverTest, public ::testing::WithParamInterface<LayoutCase> {};

TEST_P(SolverLayouts, AcceptedReferenceShapes)
{
    const LayoutCase& c = GetParam();
    sheet().set("E1", -2.0); sheet().set("E2", -2.0); sheet().set("E3", -2.0);
    sheet().set("F1", 3.0);  sheet().set("F2", 3.0);  sheet().set("F3", 3.0);
    Typed typed = small_run();
    typed["Var Vector"] = c.variables;
    typed["Min Vector"] = c.min;
    typed["Max Vector"] = c.max;
    typed["Function Cell"] = c.target;
    answer_ok(typed);
    ASSERT_EQ("", solve_message());
    EXPECT_EQ(direct_run(10, 6, 2, 233, true), variables());
}

INSTANTIATE_TEST_SUITE_P(
    Table, SolverLayouts,
    ::testing::Values(LayoutCase{"RowWithColumnBounds", "A1:C1", "E1:E3", "F1:F3", "D1"},
                      LayoutCase{"AbsoluteReferences", "$A$1:$C$1", "$A$2:$C$2", "A3:C3", "$D$1"},
                      LayoutCase{"R1C1Target", "A1:C1", "A2:C2", "A3:C3", "R1C4"},
                      LayoutCase{"NamedActiveSheet", "'Sheet1'!A1:C1", "Sheet1!A2:C2", "A3:C3",
                                 "Sheet1!D1"}),
    [](const ::testing::TestParamInfo<LayoutCase>& info) { return info.param.name; });

TEST_F(SolverTest, SingleCellVariableAndFixedInterval)
{
    // One variable between 5 and 5: every candidate, and so the result, is 5.
    excel().recalc = [](fake::Sheet& s) { s.set("D1", -s.num("B2")); };
    sheet().set("B5", 5.0);
    sheet().set("B6", 5.0);
    answer_ok(with(with(with(with(small_run(), "Var Vector", "B2"), "Min Vector", "B5"),
                        "Max Vector", "B6"),
                   "Function Cell", "D1"));
    ASSERT_EQ("", solve_message());
    EXPECT_EQ(5.0, sheet().num("B2"));
    EXPECT_EQ(-5.0, sheet().num("D1"));
}

// --- Settings between commands ---------------------------------------------------------

TEST_F(SolverTest, FieldsBeforeABadOneAreKeptAndTheRestAreNot)
{
    answer_ok(Typed{{"Min Vector", "A2:C2"}, {"Max Vector", "$A$3:$C$3"}, {"Var Vector", "A1:C1"},
                    {"Function Cell", "R1C4"}, {"Goal:", "Minimise"},     {"Seed", "77"},
                    {"Population", "12"},      {"Generations", "x"},      {"Trials", "5"},
                    {"Crossover Rate", "0.5"}, {"Mutation Rate", "0.5"}});
    EXPECT_EQ("Expected number of generations to be an integer above 2", solve_message());
    answer_cancel();
    EXPECT_EQ("", solve_message());
    ASSERT_EQ(2u, excel().dialogs.size());
    const fake::ShownDialog& next = excel().dialogs[1];
    EXPECT_EQ("A2:C2", initial_of(next, "Min Vector"));
    EXPECT_EQ("$A$3:$C$3", initial_of(next, "Max Vector"));
    EXPECT_EQ("A1:C1", initial_of(next, "Var Vector"));
    EXPECT_EQ("$D$1", initial_of(next, "Function Cell"));  // the picker's canonical form
    EXPECT_EQ("2", initial_of(next, "Goal:"));
    EXPECT_EQ("77", initial_of(next, "Seed"));
    EXPECT_EQ("12", initial_of(next, "Population"));
    EXPECT_EQ("100", initial_of(next, "Generations"));
    EXPECT_EQ("2", initial_of(next, "Trials"));
    EXPECT_EQ("1", initial_of(next, "Crossover Rate"));
    EXPECT_EQ("0.03125", initial_of(next, "Mutation Rate"));
    EXPECT_EQ(0, excel().set_calls);
}

TEST_F(SolverTest, RatesComeBackWithSeventeenDigits)
{
    answer_ok(with(with(with(small_run(), "Crossover Rate", "0.1"), "Mutation Rate", "0.25"),
                   "Var Vector", ""));
    EXPECT_EQ("Expected variable vector", solve_message());
    answer_cancel();
    solve_message();
    EXPECT_EQ("0.10000000000000001", initial_of(excel().dialogs[1], "Crossover Rate"));
    EXPECT_EQ("0.25", initial_of(excel().dialogs[1], "Mutation Rate"));
    EXPECT_EQ(0.1, impl.optimiser.one_point_crossover.rate);
}

TEST_F(SolverTest, OddPopulationIsRefusedAndNotStored)
{
    answer_ok(with(with(small_run(), "Seed", "5"), "Population", "7"));
    EXPECT_EQ(OmbrixImpl::odd_population_message, solve_message());
    EXPECT_EQ(5u, impl.seed);
    EXPECT_EQ(50u, impl.optimiser.population_size);
    EXPECT_EQ(0, excel().set_calls);
    EXPECT_EQ(0, excel().coerce_calls);
}

TEST_F(SolverTest, ProcessRefusesAnOddPopulationBeforeReadingTheSheet)
{
    impl.variable_text = "A1:C1";
    impl.min_text = "A2:C2";
    impl.max_text = "A3:C3";
    impl.target_text = "D1";
    impl.optimiser.population_size = 9;
    try {
        impl.process();
        FAIL() << "an odd population ran";
    } catch (const excel::ExcelException& e) {
        EXPECT_EQ(OmbrixImpl::odd_population_message, std::string(e.what()));
    }
    EXPECT_EQ(0, excel().coerce_calls);
    EXPECT_EQ(0, excel().set_calls);
}

// --- Failures: the first fault in checking order is the one reported -------------------

struct FailureCase {
    const char* name;
    Typed changes;            // entries that differ from the small run
    const char* empty_cell;   // a cell emptied before the run, or null
    const char* text_cell;    // a cell given text before the run, or null
    std::string message;
};

class SolverFailures : public SolverTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SolverFailures, EndWithTheirMessageAndLeaveTheWorkbookAlone)
{
    const FailureCase& c = GetParam();
    if (c.empty_cell)
        sheet().set(c.empty_cell, fake::Value());
    if (c.text_cell)
        sheet().set(c.text_cell, fake::Value::of_text("abc"));
    Typed typed = small_run();
    for (const auto& change : c.changes)
        typed[change.first] = change.second;
    answer_ok(typed);
    EXPECT_EQ(c.message, solve_message());
    EXPECT_EQ(0, excel().set_calls);
    EXPECT_EQ((std::vector<double>{0.5, 0.5, 0.5}), variables());
}

const std::string population_message = "Expected population size to be an integer above 2";

INSTANTIATE_TEST_SUITE_P(
    Table, SolverFailures,
    ::testing::Values(
        // One bad text per numeric field: each field is parsed with its own message.
        FailureCase{"BadSeed", {{"Seed", "-1"}}, nullptr, nullptr,
                    "Expected seed to be a positive integer"},
        FailureCase{"BadPopulation", {{"Population", "1"}}, nullptr, nullptr, population_message},
        FailureCase{"BadGenerations", {{"Generations", "1"}}, nullptr, nullptr,
                    "Expected number of generations to be an integer above 2"},
        FailureCase{"BadTrials", {{"Trials", "0"}}, nullptr, nullptr,
                    "Expected number of trials to be an integer above 1"},
        FailureCase{"BadCrossover", {{"Crossover Rate", "1.0000001"}}, nullptr, nullptr,
                    "Expected crossover rate to be a number  between 0 and 1"},
        FailureCase{"BadMutation", {{"Mutation Rate", "-0.5"}}, nullptr, nullptr,
                    "Expected mutation rate to be a number between 0 and 1"},
        FailureCase{"PopulationBeforeRanges", {{"Population", "1"}, {"Var Vector", ""}}, nullptr,
                    nullptr, population_message},
        FailureCase{"EmptyVariables", {{"Var Vector", ""}, {"Min Vector", ""}}, nullptr, nullptr,
                    "Expected variable vector"},
        FailureCase{"BlockVariables", {{"Var Vector", "A1:B2"}}, nullptr, nullptr,
                    "variable vector must be a row or column"},
        FailureCase{"EmptyMin", {{"Min Vector", ""}, {"Max Vector", ""}}, nullptr, nullptr,
                    "Expected Min vector"},
        FailureCase{"BlockMax", {{"Max Vector", "A3:C4"}}, nullptr, nullptr,
                    "Max vector must be a row or column"},
        FailureCase{"ShortMax", {{"Max Vector", "A3:B3"}}, nullptr, nullptr,
                    "Max vector has different size from variable vector"},
        FailureCase{"LongMin", {{"Min Vector", "A2:D2"}, {"Max Vector", "A3:B3"}}, "D2", nullptr,
                    "Failed to read Min vector. Ensure all values are numbers"},
        FailureCase{"EmptyMinCell", {}, "B2", nullptr,
                    "Failed to read Min vector. Ensure all values are numbers"},
        FailureCase{"TextMaxCell", {}, nullptr, "C3",
                    "Failed to read Max vector. Ensure all values are numbers"},
        FailureCase{"MinCheckedBeforeMax", {{"Max Vector", ""}}, "A2", nullptr,
                    "Failed to read Min vector. Ensure all values are numbers"},
        FailureCase{"BlockTarget", {{"Function Cell", "A1:B2"}}, nullptr, nullptr,
                    "Invalid target cell specified"},
        FailureCase{"OneCellRangeTarget", {{"Function Cell", "D1:D1"}}, nullptr, nullptr,
                    "Invalid target cell specified"},
        FailureCase{"EmptyTarget", {{"Function Cell", ""}}, nullptr, nullptr,
                    "Invalid target cell specified"},
        FailureCase{"MalformedPick", {{"Var Vector", "A1:B2:C3"}}, nullptr, nullptr,
                    "Cell picker returned malformed"}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST_F(SolverTest, MaximumBelowMinimumIsNoUserMessage)
{
    sheet().set("B3", -3.0);  // below B2's -2
    answer_ok(small_run());
    try {
        impl.solve();
        FAIL() << "an empty interval was accepted";
    } catch (const usr::Exception&) {
        FAIL() << "the barrier would show this text instead of its fixed one";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string("boost::interval: empty interval created"), e.what());
    }
    // The variable before the faulty one was declared; the cells were not touched.
    EXPECT_EQ(1u, impl.optimiser.design_variable_count());
    EXPECT_EQ(0, excel().set_calls);
    EXPECT_EQ((std::vector<double>{0.5, 0.5, 0.5}), variables());
}

// --- A run that fails part-way puts the inputs back ------------------------------------

TEST_F(SolverTest, FailedEvaluationRestoresTheStartingContents)
{
    sheet().set("B1", fake::Value());
    sheet().set("C1", fake::Value::of_text("start"));
    // The model breaks for some candidates, as a formula with a division by zero would.
    excel().recalc = [](fake::Sheet& s) {
        if (s.num("A1") > 2.0)
            s.set("D1", fake::Value::of_error(7));
        else
            s.set("D1", model(s.num("A1"), s.num("B1"), s.num("C1")));
    };
    answer_ok(small_run());
    EXPECT_EQ("Failed to get cell value as double", solve_message());
    EXPECT_GT(excel().set_calls, 1);
    EXPECT_EQ(fake::Value::of(0.5), sheet().get("A1"));
    EXPECT_EQ(fake::Value(), sheet().get("B1"));
    EXPECT_EQ(fake::Value::of_text("start"), sheet().get("C1"));
}

TEST_F(SolverTest, FailedWriteRestoresTheStartingContents)
{
    excel().failing_set = 5;
    answer_ok(small_run());
    EXPECT_EQ("Failed to set range", solve_message());
    EXPECT_EQ((std::vector<double>{0.5, 0.5, 0.5}), variables());
    // The four evaluations before, the failed write, and the one that put the inputs back.
    EXPECT_EQ(6, excel().set_calls);
}

TEST_F(SolverTest, FailedFinalWriteRestoresTheStartingContents)
{
    excel().failing_set = 10 * 6 * 2 + 1;
    answer_ok(small_run());
    EXPECT_EQ("Failed to set range", solve_message());
    EXPECT_EQ((std::vector<double>{0.5, 0.5, 0.5}), variables());
}

} // namespace
} // namespace solver_test
