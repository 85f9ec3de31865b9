// `ombrix solve BOOK`: the add-in's Solve command on a workbook, its dialog answered from the
// flags, the result saved to a new file.
#include "AddinCommands.hpp"
#include "Calc.hpp"
#include "Commands.hpp"
#include "RunControl.hpp"

#include "excel/CellRef.hpp"
#include "excel/RangeRef.hpp"
#include "io/Document.hpp"
#include "io/IoError.hpp"
#include "ui/Dialog.hpp"
#include "usr/Exception.hpp"

#include <unistd.h>

#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>

namespace app {

namespace {

namespace fs = std::filesystem;
using host::engine::CellAddress;
using host::engine::Value;

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
    // Flag values by the label of the dialog control they fill, in the dialog's order.
    std::vector<std::pair<std::string, std::string>> flags;
    std::vector<std::string> fields;
};

// The Solve dialog's input controls, each with the flag that fills it.
struct FlagLabel {
    const char* flag;
    const char* label;
    const char* help;
};
const FlagLabel solve_flags[] = {
    {"--var", "Var Vector", "The variable cells: one row or one column, e.g. B3:D3"},
    {"--min", "Min Vector", "Cells holding each variable's minimum, as many as the variables"},
    {"--max", "Max Vector", "Cells holding each variable's maximum"},
    {"--objective", "Function Cell", "The cell whose value is optimised, e.g. B16"},
    {"--goal", "Goal:", "maximise or minimise (any case)"},
    {"--seed", "Seed", "Seed of the random engine (a whole number, default 233)"},
    {"--population", "Population", "Chromosomes per generation (default 50)"},
    {"--generations", "Generations", "Generations per trial (default 100)"},
    {"--trials", "Trials", "Independent trials, the best of which is kept (default 2)"},
    {"--crossover", "Crossover Rate", "Probability that a pair is crossed, 0 to 1 (default 1)"},
    {"--mutation", "Mutation Rate", "Probability that a bit flips, 0 to 1 (default 0.03125)"},
};

// The cells a reference text names on the active sheet (the add-in ignores book and sheet
// names, so the host does too).
std::vector<CellAddress> cells_of(const std::string& text, int sheet) {
    std::vector<CellAddress> cells;
    excel::RangeRef range;
    if (!excel::RangeRef::coerce_to_range(text, range)) return cells;
    for (int y = range.first.y; y < range.end.y; ++y)
        for (int x = range.first.x; x < range.end.x; ++x)
            cells.push_back(CellAddress{sheet, y, x});
    return cells;
}

// Formula evaluations that one write of these cells (unchanged) costs: every formula that
// depends on them is computed once.
std::uint64_t evaluations_per_write(host::engine::Workbook& book, const std::vector<CellAddress>& cells) {
    std::vector<std::pair<CellAddress, Value>> same;
    for (const CellAddress& c : cells) same.emplace_back(c, book.value(c));
    std::uint64_t before = book.evaluation_count();
    book.set_values(same);
    book.recalculate();
    return book.evaluation_count() - before;
}

int run_solve(const SolveOptions& options, std::istream* form_input, std::ostream& out, std::ostream& err) {
    try {
        SessionOptions session;
        session.addin = options.addin;
        session.answers = options.flags;
        for (const std::string& f : options.fields) session.answers.push_back(host::ui::split_field(f));
        // A label the Solve dialog does not have is a mistake worth stopping for before anything runs.
        for (const auto& answer : session.answers) {
            bool known = false;
            std::string labels;
            for (const FlagLabel& f : solve_flags) {
                known = known || host::ui::label_key(f.label) == host::ui::label_key(answer.first);
                labels += std::string(labels.empty() ? "" : ", ") + f.label;
            }
            if (!known)
                throw UsageError("the Solve dialog has no field \"" + answer.first + "\" (its fields: " + labels + ")");
        }
        if (session.answers.empty()) session.form_input = form_input;

        std::string target = output_path(options.book, options.output, options.in_place, "solved");
        host::io::Document document = host::io::load(options.book);
        for (const std::string& w : document.warnings) err << w << "\n";
        host::engine::Workbook& book = document.workbook;
        book.recalculate_all();
        if (!options.sheet.empty()) {
            int s = book.find_sheet(options.sheet);
            if (s < 0) {
                std::string names;
                for (const std::string& n : book.sheet_names()) names += (names.empty() ? "" : ", ") + n;
                throw UsageError("the workbook has no sheet \"" + options.sheet + "\" (its sheets: " + names + ")");
            }
            book.set_active_sheet(s);
        }

        // The add-in's notes would break the JSON on standard output.
        Session s(book, fs::path(options.book).filename().string(), session, options.json ? err : out, err);
        host::ui::FrontEnd& front = s.front_end();
        front.set_status_display(options.quiet ? host::ui::StatusDisplay::none
                                 : isatty(2)   ? host::ui::StatusDisplay::in_place
                                 : options.progress ? host::ui::StatusDisplay::lines
                                                    : host::ui::StatusDisplay::none);
        // The run, its clock and Ctrl-C begin once the dialog is answered.
        RunControl control(options.time_limit);
        control.attach(s.host());
        s.host().set_dialog_handler([&front, &control](host::api::Table& table) {
            bool ok = front.answer(table);
            if (ok) control.start();
            return ok;
        });
        std::uint64_t evaluations_before = book.evaluation_count();
        s.run("Solve");
        control.finish();
        double seconds = control.seconds();
        std::uint64_t evaluated = book.evaluation_count() - evaluations_before;

        if (front.answer_error()) throw UsageError(*front.answer_error());
        if (front.error_alerts() > 0) return report(err, "Solve failed; the workbook was not saved", exit_failed);
        if (front.dialogs() == 0 || front.cancelled()) {
            err << "Solve was cancelled; the workbook was not saved.\n";
            return exit_ok;
        }

        int sheet = book.active_sheet();
        std::vector<CellAddress> variables = cells_of(front.accepted("Var Vector"), sheet);
        std::vector<CellAddress> objective = cells_of(front.accepted("Function Cell"), sheet);
        // Each candidate is one write of the variable cells and the recalculation it starts;
        // the last write puts the best point back.
        std::optional<std::uint64_t> evaluations;
        if (!variables.empty()) {
            std::uint64_t per_write = evaluations_per_write(book, variables);
            if (per_write > 0 && evaluated % per_write == 0 && evaluated >= per_write)
                evaluations = evaluated / per_write - 1;
        }
        // Every generation evaluates the whole population.
        std::optional<std::uint64_t> generations;
        std::uint64_t population = std::strtoull(front.accepted("Population").c_str(), nullptr, 10);
        if (evaluations && population > 0 && *evaluations % population == 0)
            generations = *evaluations / population;
        const char* ended = run_end_name(control.end());

        host::io::save(document, target);

        if (options.json) {
            out << "{\"variables\": {";
            for (std::size_t i = 0; i < variables.size(); ++i) {
                const Value& v = book.value(variables[i]);
                out << (i ? ", " : "") << json_string(host::io::cell_key(book, variables[i])) << ": "
                    << (v.is_number() ? json_number(v.as_number()) : json_value(v));
            }
            out << "}, \"objective\": {";
            if (!objective.empty()) {
                const Value& v = book.value(objective[0]);
                out << json_string(host::io::cell_key(book, objective[0])) << ": "
                    << (v.is_number() ? json_number(v.as_number()) : json_value(v));
            }
            out << "}, \"evaluations\": " << (evaluations ? std::to_string(*evaluations) : "null")
                << ", \"generations\": " << (generations ? std::to_string(*generations) : "null")
                << ", \"ended\": " << json_string(ended) << ", \"seconds\": " << json_number(seconds) << ", \"output\": " << json_string(target) << "}\n";
        } else {
            char taken[32];
            std::snprintf(taken, sizeof taken, "%.3f", seconds);
            out << (control.end() == RunEnd::completed     ? "Solved in "
                     : control.end() == RunEnd::interrupted ? "Interrupted after "
                                                            : "Stopped at the time limit after ")
                << taken << " s";
            if (evaluations) out << " with " << *evaluations << " evaluations";
            if (generations && control.end() != RunEnd::completed)
                out << " (" << *generations << " generations); the best point so far was kept";
            out << ".\n";
            for (const CellAddress& c : variables)
                out << "  " << host::io::cell_key(book, c) << "\t" << json_number(book.value(c).as_number()) << "\n";
            if (!objective.empty()) {
                const Value& v = book.value(objective[0]);
                out << "Objective " << host::io::cell_key(book, objective[0]) << "\t"
                    << (v.is_number() ? json_number(v.as_number()) : v.to_string()) << "\n";
            }
            out << "Saved " << target << "\n";
        }
        return exit_ok;
    } catch (...) {
        return report_current_exception(err, options.book + ": ");
    }
}

} // namespace

void add_solve_command(CLI::App& ombrix, Outcome& outcome) {
    struct State {
        SolveOptions options;
        std::vector<std::string> values = std::vector<std::string>(std::size(solve_flags));
    };
    auto state = std::make_shared<State>();
    CLI::App* solve = ombrix.add_subcommand(
        "solve", "Optimise a workbook model with the add-in's Solve command and save the result");
    solve->footer(
        "Searches the variable cells, between their minimum and maximum cells, for the values that\n"
        "maximise or minimise the objective cell, writes the best into the variable cells and saves\n"
        "the workbook to a new file next to BOOK (BOOK.solved.xlsx). Each flag fills the Solve\n"
        "dialog's control of that name; controls left unset keep the add-in's values (on a terminal\n"
        "with no flags, a form shows them). The add-in checks the entries and reports problems\n"
        "itself, on standard error; the exit status is then 1. Ctrl-C during the run stops it and\n"
        "keeps and saves the best point found so far; a second Ctrl-C quits at once, saving nothing.\n\n"
        "Example:\n  ombrix solve examples/production.xlsx --var B3:D3 --min B4:D4 --max B5:D5 "
        "--objective B16 --goal maximise");
    solve->add_option("BOOK", state->options.book, "The workbook (.xlsx or .csv)")->required();
    solve->add_option("--sheet", state->options.sheet, "Make this sheet active first: the references "
                      "are taken on the active sheet")->type_name("NAME");
    for (std::size_t i = 0; i < std::size(solve_flags); ++i)
        solve->add_option(solve_flags[i].flag, state->values[i], solve_flags[i].help)->type_name(
            i < 4 ? (i == 3 ? "CELL" : "RANGE") : i == 4 ? "GOAL" : i < 9 ? "N" : "X");
    solve->add_option("--field", state->options.fields,
                      "Fill the dialog control with this label, e.g. --field \"Seed=7\" (repeatable)")
        ->type_name("LABEL=VALUE");
    auto* output = solve->add_option("-o,--output", state->options.output,
                                     "Save the solved workbook here instead (never over BOOK)")
                       ->type_name("FILE");
    solve->add_flag("--in-place", state->options.in_place, "Save the solved workbook over BOOK")->excludes(output);
    solve->add_flag("--json", state->options.json,
                    "Print one JSON object: the variable cells' values, the objective cell's value, "
                    "the number of evaluations and generations, how the run ended (completed, interrupted, "
                    "time-limit), the seconds the run took and the file saved");
    solve->add_option("--time-limit", state->options.time_limit,
                      "Stop the run after this many seconds, keeping the best point found so far")
        ->type_name("SECONDS")
        ->check(CLI::NonNegativeNumber);
    auto* quiet = solve->add_flag("--quiet", state->options.quiet, "Show no progress");
    solve->add_flag("--progress", state->options.progress,
                    "Show progress on standard error even when it is no terminal (one line a second)")
        ->excludes(quiet);
    add_addin_option(solve, state->options.addin);
    solve->callback([state, solve, &outcome]() {
        state->options.flags.clear();
        for (std::size_t i = 0; i < std::size(solve_flags); ++i)
            if (solve->count(solve_flags[i].flag) > 0)
                state->options.flags.emplace_back(solve_flags[i].label, state->values[i]);
        outcome.status = run_solve(state->options, isatty(0) ? &std::cin : nullptr, std::cout, std::cerr);
    });
}

} // namespace app
