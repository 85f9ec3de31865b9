// `ombrix solve` with the Options dialog's flags: the strategies, the early stops and the
// start from the variable cells, on the bundled examples.
#include "ProgramRun.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace {

namespace fs = std::filesystem;
using program_run::json_number_at;
using program_run::Result;
using program_run::slurp;

class OptionsCommand : public program_run::ProgramTest {};

const char* production = "--var B3:D3 --min B4:D4 --max B5:D5 --objective B16 --goal maximise --json";
const char* rastrigin = "--var B3:D3 --min B4:D4 --max B5:D5 --objective B8 --goal minimise --json";
// The production plan's best profit, to the digits the known optimum is published with.
const double production_best = 2351.9699;

TEST_F(OptionsCommand, FlagsAnswerTheOptionsDialog) {
    const double none = std::nan("");
    struct Case {
        const char* book;
        const char* flags;
        int status;
        const char* err;          // in standard error
        double least, most;       // the objective found lies within
        double fewer_evaluations; // than this many
    } cases[] = {
        {"production.xlsx", "--strategy shade --generations 400", 0, "", production_best, none, none},
        {"production.xlsx", "--strategy de --generations 400", 0, "", production_best, none, none},
        {"production.xlsx", "--strategy real --generations 400", 0, "", 2351.9, none, none},
        {"production.xlsx", "--field Strategy=SHADE --field \"Stop After=20\" --generations 100000", 0, "",
         production_best, none, 1e6},
        {"production.xlsx", "--strategy shade --target 2300 --generations 1000", 0, "", 2300, none, 5000},
        {"production.xlsx", "--target 2300 --generations 1000", 0, "", 2300, none, 50000},
        {"production.xlsx", "--stop-after 3 --generations 1000", 0, "", 0, none, 100000},
        {"rastrigin.xlsx", "--strategy shade --target 1e-6 --generations 100000", 0, "", none, 1e-6, 1e6},
        {"rastrigin.xlsx", "--strategy shade --generations 2000", 0, "", none, 1e-9, none},
        // Refused by the dialog's list before anything runs, by the add-in after.
        {"production.xlsx", "--strategy sideways", 2, "classic, real, de or shade", none, none, none},
        {"production.xlsx", "--stop-after -1", 1, "Expected generations without improvement", none, none, none},
        {"production.xlsx", "--target abc", 1, "Expected the target to be a number", none, none, none},
        {"production.xlsx", "--field \"Stop After=2\" --field \"stop after=3\"", 2, "given twice", none, none, none},
    };
    for (const Case& c : cases) {
        fs::path input = dir / c.book;
        if (!fs::exists(input))
            example(c.book);
        const char* model = std::string(c.book) == "production.xlsx" ? production : rastrigin;
        Result r =
            ombrix("solve " + input.string() + " " + model + " " + c.flags + " -o " + (dir / "out.xlsx").string());
        ASSERT_EQ(r.status, c.status) << c.flags << ": " << r.err;
        EXPECT_NE(r.err.find(c.err), std::string::npos) << c.flags << ": " << r.err;
        if (c.status != 0)
            continue;
        const double objective =
            json_number_at(r.out, std::string(c.book) == "production.xlsx" ? "Plan!B16" : "Rastrigin!B8");
        if (!std::isnan(c.least)) {
            EXPECT_GE(objective, c.least) << c.flags;
        }
        if (!std::isnan(c.most)) {
            EXPECT_LE(objective, c.most) << c.flags;
        }
        if (!std::isnan(c.fewer_evaluations)) {
            EXPECT_LT(json_number_at(r.out, "evaluations"), c.fewer_evaluations) << c.flags;
        }
    }
}

TEST_F(OptionsCommand, SameSeedSameAnswerAndTheDefaultIsUnchanged) {
    fs::path input = example("rastrigin.xlsx");
    auto run = [&](const std::string& flags) {
        Result r =
            ombrix("solve " + input.string() + " " + rastrigin + " " + flags + " -o " + (dir / "out.xlsx").string());
        EXPECT_EQ(r.status, 0) << r.err;
        // Everything but the seconds taken.
        return r.out.substr(0, r.out.find("\"seconds\""));
    };
    for (const char* strategy : {"real", "de", "shade"}) {
        const std::string flags = std::string("--strategy ") + strategy + " --seed 8 --generations 30";
        EXPECT_EQ(run(flags), run(flags)) << strategy;
        EXPECT_NE(run(flags), run(std::string("--strategy ") + strategy + " --seed 9 --generations 30"));
    }
    // The classic strategy chosen outright, and an Options dialog left at its values, run as
    // though no option had been given.
    EXPECT_EQ(run("--seed 8"), run("--seed 8 --strategy classic --stop-after 0"));
}

TEST_F(OptionsCommand, StartFromCurrentPutsTheCellsIntoTheFirstPopulation) {
    fs::path input = example("production.xlsx");
    fs::path trace = dir / "trace.csv";
    for (const char* strategy : {"shade", "real"}) {
        Result r = ombrix("solve " + input.string() + " " + production + " --start-from-current --strategy " +
                          strategy + " --population 4 --generations 2 --trials 1 --trace " + trace.string() + " -o " +
                          (dir / "out.xlsx").string());
        ASSERT_EQ(r.status, 0) << r.err;
        // The workbook's quantities are 10, 10 and 10.
        const std::string text = slurp(trace);
        const std::string first =
            text.substr(text.find('\n') + 1, text.find('\n', text.find('\n') + 1) - text.find('\n') - 1);
        EXPECT_EQ(first.substr(first.size() - 9), ",10,10,10") << strategy << ": " << first;
    }
    // A variable cell that holds no number cannot be a start.
    std::ofstream(dir / "Text.csv") << ",abc,0\n,-3,-2\n,4,1.5\n\n,=3-(B1-1.25)^2-2*(C1+0.5)^2\n";
    Result r = ombrix("solve " + (dir / "Text.csv").string() +
                      " --var B1:C1 --min B2:C2 --max B3:C3 --objective B5 --start-from-current -o " +
                      (dir / "out.csv").string());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Start From Current needs a number in every variable cell"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out.csv"));
}

TEST_F(OptionsCommand, HelpMarksTheRecommendedStrategyOnce) {
    Result r = ombrix("solve --help");
    ASSERT_EQ(r.status, 0);
    const std::size_t at = r.out.find("(recommended)");
    ASSERT_NE(at, std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("(recommended", at + 1), std::string::npos);
    EXPECT_LT(r.out.rfind("shade", at), at);
    EXPECT_GT(r.out.rfind("shade", at), r.out.rfind("--strategy", at));
}

} // namespace
