#ifndef OMBRIX_APP_SOLVECOMMAND_HPP
#define OMBRIX_APP_SOLVECOMMAND_HPP

// What the pieces of `ombrix solve` share: its options, the dialog controls its flags fill,
// the dialogs' answers built from them, and the report of a finished run.

#include "AddinCommands.hpp"
#include "RunControl.hpp"
#include "RunReport.hpp"
#include "SavedModel.hpp"

#include "api/Host.hpp"
#include "engine/Workbook.hpp"
#include "io/Document.hpp"
#include "ui/FrontEnd.hpp"

#include <CLI/CLI.hpp>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace app {

struct SolveOptions {
    std::string book;
    std::string sheet;
    std::string addin;
    std::string output;
    bool in_place = false;
    bool json = false;
    std::optional<double> time_limit;
    bool progress = false;
    bool quiet = false;
    unsigned int jobs = 0; // 0: the cores available
    bool report = false;   // add the answer report sheet to the saved workbook
    std::string chart;     // the convergence chart as SVG
    std::string trace;     // every evaluation as CSV
    // Flag values by the label of the dialog control they fill, in the dialog's order.
    std::vector<std::pair<std::string, std::string>> flags;
    std::vector<std::string> fields;
    // The model beyond the Solve dialog, for the Model dialog.
    std::vector<std::string> constraints;
    std::vector<std::string> integer;
    std::vector<std::string> binary;
    std::vector<std::string> all_different;
    std::optional<std::string> tolerance;
    bool non_negative = false;
    std::vector<std::string> inputs; // CELL=VALUE written before the run
};

// The Solve dialog's input controls, each with the flag that fills it.
struct FlagLabel {
    const char* flag;
    const char* label;
    const char* help;
};
inline const FlagLabel solve_flags[] = {
    {"--var", "Var Vector",
     "The variable cells: one row or one column, e.g. B3:D3, or several ranges with commas (B3:D3,F3)"},
    {"--min", "Min Vector", "Cells holding each variable's minimum, as many as the variables"},
    {"--max", "Max Vector", "Cells holding each variable's maximum"},
    {"--objective", "Function Cell", "The cell whose value is optimised, e.g. B16"},
    {"--goal", "Goal:", "maximise or minimise (any case; also maximize, minimize)"},
    {"--seed", "Seed", "Seed of the random engine (a whole number, default 233)"},
    {"--population", "Population", "Chromosomes per generation (default 50)"},
    {"--generations", "Generations", "Generations per trial (default 100)"},
    {"--trials", "Trials",
     "Passes of the generations over one population (default 2): not independent restarts, the population "
     "carries on, so a run is trials x generations generations; for the other strategies only the budget"},
    {"--crossover", "Crossover Rate", "Probability that a pair is crossed, 0 to 1 (default 1)"},
    {"--mutation", "Mutation Rate", "Probability that a bit flips, 0 to 1 (default 0.03125)"},
};

// The Options dialog's input controls (the add-in's Options command), each with its flag.
inline const FlagLabel option_flags[] = {
    {"--strategy", "Strategy:",
     "The search: classic (the default: the bit-string genetic algorithm), real (a real-coded genetic algorithm: "
     "tournaments, simulated binary crossover, polynomial mutation, elitism), de (self-adaptive differential "
     "evolution, jDE) or shade (recommended) for hard models (success-history adaptive differential "
     "evolution, SHADE); de and shade restart from random points whenever their population has converged, keeping the "
     "best"},
    {"--stop-after", "Stop After", "Stop after this many generations in a row without a better point (0: never)"},
    {"--target", "Target",
     "Stop as soon as the objective reaches this value (at least it when maximising, at most "
     "when minimising) at a point that meets every constraint"},
    {"--start-from-current", "Start From Current", "Put the variable cells' current values into the first population"},
};

// The dialogs' answers from the flags and --field, in that order, split between the Solve
// dialog and the Options dialog by label; refuses a label neither has and a control given twice.
struct Answers {
    std::vector<std::pair<std::string, std::string>> solve, options;
};
Answers answers_of(const SolveOptions& options);

// The Model dialog's answers: constraints packed into its boxes (each holds at most 255
// characters), the whole-number ranges, the tolerance.
std::vector<std::pair<std::string, std::string>> model_answers_of(const SolveOptions& options);

// The model a workbook keeps, under the flags: a run with neither --var nor --objective runs it,
// each flag given overriding or adding to it.
std::optional<SavedModel> apply_saved_model(const host::io::Document& document, SolveOptions& options,
                                            std::vector<std::pair<std::string, std::string>>& answers);

// The model that ran, as the names keep it: the Min and Max ranges become constraints.
SavedModel model_that_ran(const host::engine::Workbook& book, const host::ui::FrontEnd& front,
                          const SolveOptions& options, int scope);

// Each cell of each constraint at the answer: both sides and whether it holds within the
// tolerance, as the add-in judged it.
std::vector<ReportConstraint> constraint_rows(const host::engine::Workbook& book, const SolveOptions& options);

// What a run did, from the host's record of the add-in's writes and reads: the cells it
// solved (every cell it wrote), the cell it evaluated after each write and how often.
struct SolveReport {
    std::vector<host::engine::CellAddress> variables;
    std::optional<host::engine::CellAddress> objective;
    std::uint64_t evaluations = 0;
    std::optional<std::uint64_t> generations;
    RunEnd end = RunEnd::completed;
    double seconds = 0;
};

SolveReport report_of(const host::api::CellActivity& activity, double seconds);

void print_json(std::ostream& out, const host::engine::Workbook& book, const SolveReport& r, const std::string& saved,
                const std::vector<std::pair<std::string, std::string>>& extra);
void print_plain(std::ostream& out, const host::engine::Workbook& book, const SolveReport& r);

// Refuses, before the run, a --chart or --trace file that would be lost or would overwrite the
// workbook read or saved.
std::filesystem::path canonical(const std::string& path);
void check_run_file(const std::string& path, const char* flag, const std::string& book, const std::string& target);

bool ends_with_folded(const std::string& text, const std::string& suffix);

// The solve command's flags on `ombrix`; `run` is called with the options once they are read.
CLI::App* solve_subcommand(CLI::App& ombrix, std::function<void(const SolveOptions&)> run);

} // namespace app

#endif
