// `ombrix solve` with a model beyond a box: constraints, whole-number variables, several
// variable ranges, as flags.
#include "ProgramRun.hpp"

#include "SavedModel.hpp"
#include "io/Document.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using program_run::json_number_at;
using program_run::Result;
using program_run::slurp;

class ModelCommand : public program_run::ProgramTest {};

// x, y, z in A1:C1; the objective B3 = x + 2y + 3z; B4 = x + y + z; bounds in A6:C7.
const char* model_csv = "1,1,1\n\n,=A1+2*B1+3*C1\n,=A1+B1+C1\n\n0,0,0\n5,5,5\n";

struct Row {
    const char* flags;
    int status;
    const char* says;   // in standard error; empty: nothing to find
    double objective;   // NaN: any value within the model
    double sum_at_most; // B4's largest allowed value
    bool whole;         // every variable a whole number
};

const double any = std::nan("");

TEST_F(ModelCommand, FlagsDescribeTheModel) {
    const Row rows[] = {
        // Bounds from constraints on single variables, a constraint on a formula, integers.
        {"--var A1,B1:C1 --constraint \"A1:C1 >= 0\" --constraint \"A1:C1 <= 5\" --constraint \"B4 <= 6\" "
         "--integer A1:C1",
         0, "", 17, 6, true},
        // Binary variables need no bounds; two of three may be chosen.
        {"--var A1:C1 --binary A1:C1 --constraint \"B4 <= 2\"", 0, "", 5, 2, true},
        // A permutation of 1..3 whatever the bounds say.
        {"--var A1:C1 --min A6:C6 --max A7:C7 --all-different A1:C1", 0, "", 14, 6, true},
        // An equality met within the tolerance by whole numbers.
        {"--var A1:C1 --min A6:C6 --max A7:C7 --integer A1:C1 --constraint \"B4 = 4\"", 0, "", 12, 4, true},
        // Non-negative gives the lower bounds the constraints do not.
        {"--var A1:C1 --non-negative --constraint \"A1:C1 <= 2\" --integer A1:C1", 0, "", 12, 6, true},
        // Several ranges in the Min and Max ranges too.
        {"--var A1:B1,C1 --min A6:B6,C6 --max A7,B7:C7 --constraint \"B4 <= 1\"", 0, "", any, 1 + 1e-6, false},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --constraint \"B4 >= 100\"", 1,
         "No point met every constraint; the least violation found was 85", any, 0, false},
        {"--var A1:C1 --constraint \"A1:C1 >= 0\"", 1, "The variable cell A1 has no upper bound", any, 0, false},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --constraint \"B4 => 2 =\"", 1, "has \"2 =\" as a side", any, 0, false},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --constraint \"B4 < 2\"", 1,
         "must be LHS <= RHS, LHS = RHS or LHS >= RHS", any, 0, false},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --constraint \"B4:B5 <= A6:C6\"", 1, "has sides of different sizes", any,
         0, false},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --integer A1:D1", 1,
         "The integer cell D1 is not one of the variable cells", any, 0, false},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --binary A1 --constraint \"A1 >= 2\"", 1,
         "The variable cell A1 has no value between its bounds: at least 2 and at most 1", any, 0, false},
        {"--var A1:C1,B1 --min A6:C6 --max A7:C7 --integer A1", 1, "The variable cell B1 is named twice", any, 0,
         false},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --constraint \"B4 <= 2; B4 >= 1\"", 2, "takes one constraint", any, 0,
         false},
        {"--var A1:C1 --min A6:C6 --max A7:B7 --integer A1", 1, "Max vector has different size from variable vector",
         any, 0, false},
        // The other strategies: the same optima, whole numbers and permutations.
        {"--var A1,B1:C1 --constraint \"A1:C1 >= 0\" --constraint \"A1:C1 <= 5\" --constraint \"B4 <= 6\" "
         "--integer A1:C1 --strategy shade",
         0, "", 17, 6, true},
        {"--var A1:C1 --binary A1:C1 --constraint \"B4 <= 2\" --strategy de", 0, "", 5, 2, true},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --all-different A1:C1 --strategy real", 0, "", 14, 6, true},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --all-different A1:C1 --strategy shade --start-from-current", 0, "", 14,
         6, true},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --integer A1:C1 --constraint \"B4 = 4\" --strategy shade", 0, "", 12, 4,
         true},
        {"--var A1:B1,C1 --min A6:B6,C6 --max A7,B7:C7 --constraint \"B4 <= 1\" --strategy shade --stop-after 300", 0,
         "", any, 1 + 1e-6, false},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --constraint \"B4 >= 100\" --strategy shade", 1,
         "No point met every constraint; the least violation found was 85", any, 0, false},
        {"--var A1:C1 --min A6:C6 --max A7:C7 --tolerance 2", 1, "Expected tolerance to be a number between 0 and 1",
         any, 0, false},
    };
    const std::string input = (dir / "Model.csv").string();
    std::ofstream(input, std::ios::binary) << model_csv;
    const std::string before = slurp(input);
    for (const Row& row : rows) {
        fs::remove(dir / "out.xlsx");
        Result r = ombrix("solve " + input + " " + row.flags + " --objective B3 --goal maximise --json -o " +
                          (dir / "out.xlsx").string());
        EXPECT_EQ(r.status, row.status) << row.flags << "\n" << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << row.flags << "\n" << r.err;
        EXPECT_EQ(slurp(input), before) << row.flags;
        if (row.status != 0) {
            EXPECT_FALSE(fs::exists(dir / "out.xlsx")) << row.flags;
            continue;
        }
        const double x = json_number_at(r.out, "Model!A1"), y = json_number_at(r.out, "Model!B1"),
                     z = json_number_at(r.out, "Model!C1");
        EXPECT_EQ(json_number_at(r.out, "Model!B3"), x + 2 * y + 3 * z) << row.flags;
        EXPECT_LE(x + y + z, row.sum_at_most) << row.flags;
        if (!std::isnan(row.objective)) {
            EXPECT_EQ(x + 2 * y + 3 * z, row.objective) << row.flags << "\n" << r.out;
        }
        for (double v : {x, y, z}) {
            EXPECT_GE(v, 0.0) << row.flags;
            if (row.whole) {
                EXPECT_EQ(v, std::floor(v)) << row.flags;
            }
        }
        // The generations, then with constraints on continuous variables a short local search.
        EXPECT_GE(json_number_at(r.out, "evaluations"), 10000) << row.flags;
        EXPECT_LE(json_number_at(r.out, "evaluations"), 10000 + 100 * 50) << row.flags;
        EXPECT_EQ(json_number_at(r.out, "generations"), 200) << row.flags;
    }
}

} // namespace

namespace {

struct EarlyRow {
    const char* flags; // beside the variables A1:C1 with bounds A6:C7 and the objective B3
    int least_generations, most_generations;
    double least, most; // of the objective found
    double sum_least;   // B4's smallest allowed value (its largest is in the flags)
    double first[3];    // the first candidate evaluated; NaN: any
};

// The classic strategy with a model's constraints takes the early stops and the start point:
// the target counts only within the constraints, and the start point is the current values
// moved into the bounds and made whole numbers or a permutation as the model asks.
TEST_F(ModelCommand, ClassicStopsEarlyAndStartsFromTheCurrentValues) {
    const EarlyRow rows[] = {
        {"--integer A1:C1 --constraint \"B4 <= 6\" --stop-after 5", 6, 199, 6, 17, 0, {any, any, any}},
        {"--integer A1:C1 --constraint \"B4 <= 6\" --target 15", 1, 199, 15, 17, 0, {any, any, any}},
        // Points outside the constraint reach 10 at once; they do not end the run.
        {"--constraint \"B4 <= 1\" --target 10", 200, 200, 2.9, 3 + 3e-6, 0, {any, any, any}},
        {"--goal minimise --constraint \"B4 >= 1\" --target 1.5", 1, 199, 1 - 1e-6, 1.5, 1 - 1e-6, {any, any, any}},
        // 0.4 and 2.6 rounded, 9 moved to the bound 5.
        {"--integer A1:C1 --constraint \"B4 <= 6\" --set A1=0.4 --set B1=2.6 --set C1=9 --start-from-current",
         200,
         200,
         6,
         17,
         0,
         {0, 3, 5}},
        {"--all-different A1:C1 --set A1=3 --set B1=1 --set C1=2 --start-from-current --target 14",
         1,
         199,
         14,
         14,
         6,
         {3, 1, 2}},
        // Two equal values take their order from their places.
        {"--all-different A1:C1 --set A1=2 --set B1=2 --set C1=1 --start-from-current", 200, 200, 14, 14, 6, {2, 3, 1}},
        // Stopped early, with no local search after it: better than the start (1.375), not the best (6).
        {"--constraint \"B4 <= 2\" --set A1=0.5 --set B1=0.25 --set C1=0.125 --start-from-current --stop-after 20",
         21,
         199,
         1.375,
         6 + 6e-6,
         0,
         {0.5, 0.25, 0.125}},
    };
    const std::string input = (dir / "Model.csv").string();
    std::ofstream(input, std::ios::binary) << model_csv;
    for (const EarlyRow& row : rows) {
        const std::string flags = row.flags;
        const std::string goal = flags.find("--goal") == std::string::npos ? " --goal maximise" : "";
        fs::remove(dir / "trace.csv");
        Result r =
            ombrix("solve " + input + " --var A1:C1 --min A6:C6 --max A7:C7 " + flags + " --objective B3" + goal +
                   " --json --trace " + (dir / "trace.csv").string() + " -o " + (dir / "out.xlsx").string());
        ASSERT_EQ(r.status, 0) << flags << "\n" << r.err;
        const double x = json_number_at(r.out, "Model!A1"), y = json_number_at(r.out, "Model!B1"),
                     z = json_number_at(r.out, "Model!C1");
        EXPECT_GE(json_number_at(r.out, "generations"), row.least_generations) << flags;
        EXPECT_LE(json_number_at(r.out, "generations"), row.most_generations) << flags;
        EXPECT_GE(x + 2 * y + 3 * z, row.least) << flags << "\n" << r.out;
        EXPECT_LE(x + 2 * y + 3 * z, row.most) << flags << "\n" << r.out;
        EXPECT_GE(x + y + z, row.sum_least) << flags << "\n" << r.out;
        // The trace's first row: evaluation, trial, generation, objective, then A1, B1, C1.
        std::istringstream trace(slurp(dir / "trace.csv"));
        std::string line;
        std::getline(trace, line);
        std::getline(trace, line);
        std::vector<double> fields;
        std::istringstream cells(line);
        for (std::string cell; std::getline(cells, cell, ',');)
            fields.push_back(std::stod(cell));
        ASSERT_EQ(fields.size(), 7u) << flags << "\n" << line;
        for (int j = 0; j < 3; ++j)
            if (!std::isnan(row.first[j])) {
                EXPECT_NEAR(fields[4 + j], row.first[j], 1e-8) << flags << " variable " << j;
            }
    }
    // The start needs numbers in the variable cells.
    Result r = ombrix("solve " + input +
                      " --var A1:C1 --min A6:C6 --max A7:C7 --integer A1:C1 --set B1=many --start-from-current "
                      "--objective B3 -o " +
                      (dir / "out.xlsx").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Start From Current needs a number in every variable cell"), std::string::npos) << r.err;
}

} // namespace

namespace {

struct SavedRow {
    const char* what;
    std::vector<std::pair<const char*, const char*>> names; // written over the model saved by the first run
    const char* flags;
    int status;
    const char* says;
};

// The first run saves its model in the Solver's names; each row edits them as the spreadsheet
// would and runs the workbook with no model flags.
TEST_F(ModelCommand, TheModelSavedInTheWorkbookRuns) {
    const std::string input = (dir / "Model.csv").string();
    std::ofstream(input, std::ios::binary) << model_csv;
    const std::string first = (dir / "first.xlsx").string();
    Result r =
        ombrix("solve " + input + " --var A1:C1 --min A6:C6 --max A7:C7 --integer A1:C1 --constraint \"B4 = 4\" " +
               "--objective B3 --json -o " + first);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string answer = r.out.substr(0, r.out.find("\"seconds\""));

    const SavedRow rows[] = {
        {"as saved", {}, "", 0, ""},
        {"flags override", {}, "--seed 9 --generations 20", 0, ""},
        {"minimise", {{"solver_typ", "2"}}, "", 0, ""},
        {"a target value", {{"solver_typ", "3"}}, "", 2, "asks for a target value of Model!$B$3 (solver_typ 3)"},
        {"bounds only below, made non-negative",
         {{"solver_num", "1"},
          {"solver_lhs1", "Model!$A$1:$C$1"},
          {"solver_rel1", "1"},
          {"solver_rhs1", "3"},
          {"solver_neg", "1"}},
         "",
         0,
         ""},
        {"a variable without a lower bound",
         {{"solver_num", "1"}, {"solver_lhs1", "Model!$A$1:$C$1"}, {"solver_rel1", "1"}, {"solver_rhs1", "3"}},
         "",
         1,
         "A1 has no lower bound: give it one in the Min ranges or by a constraint"},
        {"binary and all different",
         {{"solver_adj", "Model!$A$1,Model!$B$1:$C$1"},
          {"solver_num", "2"},
          {"solver_lhs1", "Model!$A$1"},
          {"solver_rel1", "5"},
          {"solver_lhs2", "Model!$B$1:$C$1"},
          {"solver_rel2", "6"}},
         "",
         0,
         ""},
        {"an unknown relation", {{"solver_rel1", "7"}}, "", 2, "relation 7, which is none of 1 to 6"},
    };
    for (const SavedRow& row : rows) {
        host::io::Document d = host::io::load(first);
        for (const auto& [name, formula] : row.names)
            d.name_edits.push_back({name, -1, formula});
        const std::string book = (dir / "edited.xlsx").string();
        host::io::save(d, book);
        fs::remove(dir / "out.xlsx");
        r = ombrix("solve " + book + " " + row.flags + " --json -o " + (dir / "out.xlsx").string());
        EXPECT_EQ(r.status, row.status) << row.what << "\n" << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << row.what << "\n" << r.err;
        if (row.status != 0)
            continue;
        const double x = json_number_at(r.out, "Model!A1"), y = json_number_at(r.out, "Model!B1"),
                     z = json_number_at(r.out, "Model!C1");
        if (std::string(row.what) == "as saved") {
            EXPECT_EQ(r.out.substr(0, r.out.find("\"seconds\"")), answer);
        } else if (std::string(row.what) == "flags override") {
            EXPECT_GE(json_number_at(r.out, "evaluations"), 50 * 20 * 2);
            EXPECT_LE(json_number_at(r.out, "evaluations"), 50 * 20 * 2 + 100 * 50);
        } else if (std::string(row.what) == "minimise") {
            EXPECT_EQ(x + y + z, 4) << r.out;
            EXPECT_LT(x + 2 * y + 3 * z, 12) << r.out; // the maximum is 12
        } else if (std::string(row.what) == "bounds only below, made non-negative") {
            EXPECT_NEAR(x + 2 * y + 3 * z, 18, 0.2) << r.out;
            EXPECT_LE(std::max({x, y, z}), 3) << r.out;
        } else {
            EXPECT_TRUE(x == 0 || x == 1) << r.out;
            EXPECT_EQ(std::min(y, z), 1) << r.out;
            EXPECT_EQ(std::max(y, z), 2) << r.out;
        }
        // The model that ran is back in the names; the cells are the answer.
        host::io::Document out = host::io::load((dir / "out.xlsx").string());
        EXPECT_EQ(out.workbook.name_formula("solver_opt"), "Model!$B$3") << row.what;
        EXPECT_EQ(out.workbook.value({0, 0, 0}), host::engine::Value::number(x)) << row.what;
    }
}

} // namespace

namespace {

// The report lists each cell of each constraint with both sides at the answer.
TEST_F(ModelCommand, TheReportListsTheConstraints) {
    const std::string input = (dir / "Model.csv").string();
    std::ofstream(input, std::ios::binary) << model_csv;
    const std::string out = (dir / "out.xlsx").string();
    Result r =
        ombrix("solve " + input + " --var A1:C1 --min A6:C6 --max A7:C7 --integer A1:C1 --constraint \"B4 <= 4\" " +
               "--constraint \"A1:B1 >= 1\" --objective B3 --report -o " + out);
    ASSERT_EQ(r.status, 0) << r.err;
    host::io::Document d = host::io::load(out);
    const int sheet = d.workbook.find_sheet("Ombrix Report");
    ASSERT_GE(sheet, 0);
    struct Expected {
        const char* constraint;
        int left_cell; // column of the model's row 1 (A1..C1), or -1 for B4
        double right;
    };
    const Expected rows[] = {
        {"B4 <= 4", -1, 4}, {"A1:B1 >= 1 (cell 1 of 2)", 0, 1}, {"A1:B1 >= 1 (cell 2 of 2)", 1, 1}};
    int found = 0;
    for (std::int32_t row = 0; row < 80; ++row)
        for (const Expected& e : rows)
            if (d.workbook.value({sheet, row, 0}) == host::engine::Value::text(e.constraint)) {
                ++found;
                // B4 is the sum of the variables.
                auto variable = [&](int c) { return d.workbook.value({0, 0, c}).as_number(); };
                const host::engine::Value left = host::engine::Value::number(
                    e.left_cell < 0 ? variable(0) + variable(1) + variable(2) : variable(e.left_cell));
                EXPECT_EQ(d.workbook.value({sheet, row, 1}), left) << e.constraint;
                EXPECT_EQ(d.workbook.value({sheet, row, 2}), host::engine::Value::number(e.right)) << e.constraint;
                EXPECT_EQ(d.workbook.value({sheet, row, 3}), host::engine::Value::text("yes")) << e.constraint;
            }
    EXPECT_EQ(found, 3);
}

} // namespace

namespace {

// A model saved by LibreOffice runs as the same model given as flags.
TEST_F(ModelCommand, AModelSavedByLibreOfficeRuns) {
    const fs::path book = dir / "plan.xlsx";
    fs::copy_file(fs::path(OMBRIX_SOURCE_DIR) / "tests/app/models/plan-libreoffice.xlsx", book);
    Result saved = ombrix("solve " + book.string() + " --json -o " + (dir / "a.xlsx").string());
    ASSERT_EQ(saved.status, 0) << saved.err;
    Result flags = ombrix("solve " + book.string() +
                          " --var B3:D3 --min B4:D4 --max B5:D5 --objective B16 --goal maximise --integer B3:D3 "
                          "--constraint \"B13 <= 60\" --json -o " +
                          (dir / "b.xlsx").string());
    ASSERT_EQ(flags.status, 0) << flags.err;
    for (const char* cell : {"Plan!B3", "Plan!C3", "Plan!D3", "Plan!B16"})
        EXPECT_EQ(json_number_at(saved.out, cell), json_number_at(flags.out, cell)) << cell;
    EXPECT_EQ(json_number_at(saved.out, "Plan!B3"), std::floor(json_number_at(saved.out, "Plan!B3")));
    // The names go back as they came, and a second run of the saved result repeats it.
    host::io::Document a = host::io::load((dir / "a.xlsx").string());
    EXPECT_EQ(a.workbook.name_formula("solver_rhs3", 0), "60");
    EXPECT_EQ(a.workbook.name_formula("solver_lhs3", 0), "Plan!$B$13");
    Result again = ombrix("solve " + (dir / "a.xlsx").string() + " --json -o " + (dir / "c.xlsx").string());
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(json_number_at(again.out, "Plan!B16"), json_number_at(saved.out, "Plan!B16"));
}

} // namespace

namespace {

struct SavedBySpreadsheet {
    const char* sheet;
    // The model its names hold; no objective: none.
    const char* objective;
    const char* goal;
    const char* variables;
    std::vector<std::string> constraints, integer;
    double time_limit;
    int status;       // of `ombrix solve BOOK --sheet SHEET`
    const char* says; // in its standard error
};

// A workbook the spreadsheet program saved with two Solver models of its own (a user's file
// from umya-spreadsheet's tests, see corpus/solver/SOURCE): each sheet's names are read as that
// sheet's model, and running them is refused for what the models are, naming the cells they name.
TEST_F(ModelCommand, ModelsTheSpreadsheetSavedAreRead) {
    const std::string book = OMBRIX_SOURCE_DIR "/tests/host/corpus/solver/umya-issue_216.xlsx";
    const SavedBySpreadsheet rows[] = {
        {"Explore",
         "Explore!$M$32",
         "Maximise",
         "Explore!$M$37:$M$50",
         {"Explore!$M$37:$M$50 >= 0"},
         {},
         100,
         2,
         "the objective cell Explore!M32 is blank, so it does not depend on the variable cells"},
        {"Military",
         "Military!$AJ$64",
         "Maximise",
         "Military!$AJ$64",
         {"Military!$AP$67 >= 0"},
         {"Military!$AJ$64"},
         100,
         2,
         "the objective cell Military!AJ64 is one of the variable cells"},
        {"Overview", nullptr, "", "", {}, {}, 0, 1, "Expected variable vector"},
    };
    const host::io::Document d = host::io::load(book);
    for (const SavedBySpreadsheet& row : rows) {
        const int sheet = d.workbook.find_sheet(row.sheet);
        ASSERT_GE(sheet, 0) << row.sheet;
        const std::optional<app::SavedModel> model = app::read_saved_model(d, sheet);
        EXPECT_EQ(model.has_value(), row.objective != nullptr) << row.sheet;
        if (model) {
            EXPECT_EQ(model->scope, sheet) << row.sheet;
            EXPECT_EQ(model->objective, row.objective) << row.sheet;
            EXPECT_EQ(model->goal, row.goal) << row.sheet;
            EXPECT_EQ(model->variables, row.variables) << row.sheet;
            EXPECT_EQ(model->constraints, row.constraints) << row.sheet;
            EXPECT_EQ(model->integer, row.integer) << row.sheet;
            EXPECT_TRUE(model->binary.empty() && model->all_different.empty()) << row.sheet;
            EXPECT_FALSE(model->non_negative) << row.sheet;
            EXPECT_EQ(model->time_limit.value_or(0), row.time_limit) << row.sheet;
            // Its engine's own settings stand: no seed, population or mutation rate.
            EXPECT_FALSE(model->seed || model->population || model->mutation) << row.sheet;
        }
        fs::remove(dir / "out.xlsx");
        Result r = ombrix("solve " + book + " --sheet " + row.sheet + " -o " + (dir / "out.xlsx").string());
        EXPECT_EQ(r.status, row.status) << row.sheet << "\n" << r.err;
        EXPECT_NE(r.err.find(row.says), std::string::npos) << row.sheet << "\n" << r.err;
        EXPECT_FALSE(fs::exists(dir / "out.xlsx")) << row.sheet;
    }
}

} // namespace
