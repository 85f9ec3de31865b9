// `ombrix solve BOOK`: the add-in's Solve command on a workbook, its dialog answered from the
// flags, the result saved to a new file.
#include "AddinCommands.hpp"
#include "Calc.hpp"
#include "Commands.hpp"
#include "RunControl.hpp"
#include "ParallelBatch.hpp"
#include "RunReport.hpp"

#include "SavedModel.hpp"
#include "SolveChecks.hpp"

#include "engine/Unicode.hpp"
#include "io/Document.hpp"
#include "io/IoError.hpp"
#include "io/ReportSheet.hpp"
#include "ui/Dialog.hpp"
#include "usr/Exception.hpp"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <optional>

namespace app {

namespace {

namespace fs = std::filesystem;
using host::engine::CellAddress;
using host::engine::fold_case;
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
    unsigned int jobs = 0; // 0: the cores available
    bool report = false; // add the answer report sheet to the saved workbook
    std::string chart;   // the convergence chart as SVG
    std::string trace;   // every evaluation as CSV
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

// The memory kept for the results of candidates already evaluated.
constexpr std::size_t recalculation_memo_bytes = std::size_t(32) << 20;

// The Solve dialog's input controls, each with the flag that fills it.
struct FlagLabel {
    const char* flag;
    const char* label;
    const char* help;
};
const FlagLabel solve_flags[] = {
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
const FlagLabel option_flags[] = {
    {"--strategy", "Strategy:",
     "The search: classic (the default: the bit-string genetic algorithm), real (a real-coded genetic algorithm: "
     "tournaments, simulated binary crossover, polynomial mutation, elitism), de (self-adaptive differential "
     "evolution, jDE) or shade (recommended) for hard models (success-history adaptive differential "
     "evolution, SHADE); de and shade restart from random points whenever their population has converged, keeping the "
     "best"},
    {"--stop-after", "Stop After", "Stop after this many generations in a row without a better point (0: never)"},
    {"--target", "Target",
     "Stop as soon as the objective reaches this value (at least it when maximising, at most "
     "when minimising)"},
    {"--start-from-current", "Start From Current", "Put the variable cells' current values into the first population"},
};

// The dialogs' answers from the flags and --field, in that order, split between the Solve
// dialog and the Options dialog by label; refuses a label neither has and a control given twice.
struct Answers {
    std::vector<std::pair<std::string, std::string>> solve, options;
};
Answers answers_of(const SolveOptions& options) {
    std::vector<std::pair<std::string, std::string>> answers = options.flags;
    for (const std::string& f : options.fields)
        answers.push_back(host::ui::split_field(f));
    std::string labels, option_labels;
    for (const FlagLabel& f : solve_flags)
        labels += std::string(labels.empty() ? "" : ", ") + f.label;
    for (const FlagLabel& f : option_flags)
        option_labels += std::string(option_labels.empty() ? "" : ", ") + f.label;
    Answers split;
    for (std::size_t i = 0; i < answers.size(); ++i) {
        std::string key = host::ui::label_key(answers[i].first);
        const FlagLabel* flag = nullptr;
        bool option = false;
        for (const FlagLabel& f : solve_flags)
            if (host::ui::label_key(f.label) == key)
                flag = &f;
        for (const FlagLabel& f : option_flags)
            if (host::ui::label_key(f.label) == key)
                flag = &f, option = true;
        if (flag == nullptr)
            throw UsageError("the Solve dialog has no field \"" + answers[i].first + "\" (its fields: " + labels +
                             "; and the Options dialog's: " + option_labels + ")");
        auto source = [&](std::size_t k) {
            return k < options.flags.size() ? std::string(flag->flag)
                                            : "--field \"" + options.fields[k - options.flags.size()] + "\"";
        };
        for (std::size_t j = 0; j < i; ++j)
            if (host::ui::label_key(answers[j].first) == key)
                throw UsageError(std::string(flag->label) + " is given twice, by " + source(j) + " and by " +
                                 source(i) + "; give it once");
        // Either spelling of the goal.
        std::string& value = answers[i].second;
        if (key == host::ui::label_key("Goal:")) {
            std::string folded = host::engine::fold_case(value);
            if (folded == "maximize" || folded == "minimize")
                value.replace(value.size() - 2, 1, "s");
        }
        (option ? split.options : split.solve).push_back(answers[i]);
    }
    return split;
}

// The Model dialog's answers: constraints packed into its boxes (each holds at most 255
// characters), the whole-number ranges, the tolerance.
constexpr std::size_t constraint_boxes = 4;
constexpr std::size_t box_text = 255;

std::vector<std::pair<std::string, std::string>> model_answers_of(const SolveOptions& options) {
    std::vector<std::pair<std::string, std::string>> answers;
    std::vector<std::string> boxes;
    for (const std::string& c : options.constraints) {
        if (c.find(';') != std::string::npos)
            throw UsageError("--constraint takes one constraint, without \";\": \"" + c + "\"");
        if (c.size() > box_text)
            throw UsageError("the constraint \"" + c.substr(0, 24) + "...\" is longer than " +
                             std::to_string(box_text) + " characters");
        if (boxes.empty() || boxes.back().size() + 2 + c.size() > box_text)
            boxes.push_back(c);
        else
            boxes.back() += "; " + c;
    }
    if (boxes.size() > constraint_boxes)
        throw UsageError("the constraints take more than the model's " + std::to_string(constraint_boxes) +
                         " boxes of " + std::to_string(box_text) +
                         " characters; give a range of cells on each side to say many in one");
    for (std::size_t i = 0; i < boxes.size(); ++i)
        answers.emplace_back("Constraints " + std::to_string(i + 1), boxes[i]);
    auto join = [](const std::vector<std::string>& ranges) {
        std::string all;
        for (const std::string& r : ranges)
            all += (all.empty() ? "" : ",") + r;
        return all;
    };
    if (!options.integer.empty())
        answers.emplace_back("Integer", join(options.integer));
    if (!options.binary.empty())
        answers.emplace_back("Binary", join(options.binary));
    if (!options.all_different.empty())
        answers.emplace_back("All Different", join(options.all_different));
    if (options.tolerance)
        answers.emplace_back("Tolerance", *options.tolerance);
    if (options.non_negative)
        answers.emplace_back("Non-negative", "true");
    return answers;
}

bool has_label(const std::vector<std::pair<std::string, std::string>>& answers, const char* label) {
    for (const auto& [l, v] : answers)
        if (host::ui::label_key(l) == host::ui::label_key(label))
            return true;
    return false;
}

// The model a workbook keeps, under the flags: a run with neither --var nor --objective runs it,
// each flag given overriding or adding to it.
std::optional<SavedModel> apply_saved_model(const host::io::Document& document, SolveOptions& options,
                                            std::vector<std::pair<std::string, std::string>>& answers) {
    if (has_label(answers, "Var Vector") || has_label(answers, "Function Cell"))
        return std::nullopt;
    std::optional<SavedModel> model = read_saved_model(document, document.workbook.active_sheet());
    if (!model)
        return std::nullopt;
    std::vector<std::pair<std::string, std::string>> saved = {{"Var Vector", model->variables},
                                                              {"Function Cell", model->objective}};
    if (!has_label(answers, "Goal:"))
        saved.emplace_back("Goal:", model->goal);
    if (model->seed && !has_label(answers, "Seed"))
        saved.emplace_back("Seed", *model->seed);
    if (model->population && !has_label(answers, "Population"))
        saved.emplace_back("Population", *model->population);
    if (model->mutation && !has_label(answers, "Mutation Rate"))
        saved.emplace_back("Mutation Rate", *model->mutation);
    answers.insert(answers.begin(), saved.begin(), saved.end());
    auto before = [](std::vector<std::string>& flags, const std::vector<std::string>& kept) {
        flags.insert(flags.begin(), kept.begin(), kept.end());
    };
    before(options.constraints, model->constraints);
    before(options.integer, model->integer);
    before(options.binary, model->binary);
    before(options.all_different, model->all_different);
    options.non_negative = options.non_negative || model->non_negative;
    if (!options.time_limit)
        options.time_limit = model->time_limit;
    return model;
}

// "LHS REL RHS" with each side that names cells in the names' absolute form.
std::string absolute_constraint(const host::engine::Workbook& book, const std::string& c) {
    std::size_t at = c.find_first_of("<>=");
    if (at == std::string::npos)
        return c;
    std::size_t end = c.find_first_not_of("<>=", at);
    auto trim = [](std::string s) {
        std::size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
        return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
    };
    std::string rel = c.substr(at, end - at);
    rel = rel == "=<" ? "<=" : rel == "=>" ? ">=" : rel;
    return absolute_reference(book, trim(c.substr(0, at))) + " " + rel + " " +
           absolute_reference(book, trim(end == std::string::npos ? std::string() : c.substr(end)));
}

// The model that ran, as the names keep it: the Min and Max ranges become constraints.
SavedModel model_that_ran(const host::engine::Workbook& book, const host::ui::FrontEnd& front,
                          const SolveOptions& options, int scope) {
    SavedModel model;
    model.scope = scope;
    model.objective = absolute_reference(book, front.accepted("Function Cell"));
    model.goal = front.accepted_shown("Goal:");
    model.variables = absolute_reference(book, front.accepted("Var Vector"));
    if (!front.accepted("Min Vector").empty())
        model.constraints.push_back(model.variables + " >= " + absolute_reference(book, front.accepted("Min Vector")));
    if (!front.accepted("Max Vector").empty())
        model.constraints.push_back(model.variables + " <= " + absolute_reference(book, front.accepted("Max Vector")));
    for (const std::string& c : options.constraints)
        model.constraints.push_back(absolute_constraint(book, c));
    for (const std::string& r : options.integer)
        model.integer.push_back(absolute_reference(book, r));
    for (const std::string& r : options.binary)
        model.binary.push_back(absolute_reference(book, r));
    for (const std::string& r : options.all_different)
        model.all_different.push_back(absolute_reference(book, r));
    model.non_negative = options.non_negative;
    model.seed = front.accepted("Seed");
    model.population = front.accepted("Population");
    model.mutation = front.accepted("Mutation Rate");
    return model;
}

// Each cell of each constraint at the answer: both sides and whether it holds within the
// tolerance, as the add-in judged it.
std::vector<ReportConstraint> constraint_rows(const host::engine::Workbook& book, const SolveOptions& options) {
    const double tolerance = options.tolerance ? std::strtod(options.tolerance->c_str(), nullptr) : 1e-6;
    std::vector<ReportConstraint> rows;
    for (const std::string& c : options.constraints) {
        std::size_t at = c.find_first_of("<>=");
        if (at == std::string::npos)
            continue;
        std::size_t end = c.find_first_not_of("<>=", at);
        const std::string rel = c.substr(at, end - at);
        const std::string left = c.substr(0, at), right = end == std::string::npos ? "" : c.substr(end);
        std::vector<CellAddress> lhs = cells_named(book, left), rhs = cells_named(book, right);
        char* stop = nullptr;
        const double number = std::strtod(right.c_str(), &stop);
        const bool is_number = rhs.empty() && stop != right.c_str();
        for (std::size_t i = 0; i < lhs.size(); ++i) {
            ReportConstraint row;
            row.constraint =
                c +
                (lhs.size() > 1 ? " (cell " + std::to_string(i + 1) + " of " + std::to_string(lhs.size()) + ")" : "");
            row.left = book.value(lhs[i]);
            row.right = is_number     ? Value::number(number)
                        : rhs.empty() ? Value()
                                      : book.value(rhs[rhs.size() == 1 ? 0 : i]);
            if (row.left.is_number() && row.right.is_number()) {
                const double l = row.left.as_number(), r = row.right.as_number();
                const double excess = rel[0] == '<' || rel == "=<"   ? l - r
                                      : rel[0] == '>' || rel == "=>" ? r - l
                                                                     : std::fabs(l - r);
                row.holds = excess <= tolerance * std::max(1.0, std::fabs(r));
            }
            rows.push_back(row);
        }
    }
    return rows;
}

// What a run did, from the host's record of the add-in's writes and reads: the cells it
// solved (every cell it wrote), the cell it evaluated after each write and how often.
struct SolveReport {
    std::vector<CellAddress> variables;
    std::optional<CellAddress> objective;
    std::uint64_t evaluations = 0;
    std::optional<std::uint64_t> generations;
    RunEnd end = RunEnd::completed;
    double seconds = 0;
};

SolveReport report_of(const host::api::CellActivity& activity, double seconds) {
    SolveReport report;
    report.variables = activity.written;
    for (const auto& [cell, count] : activity.read_after_write)
        if (count > report.evaluations) {
            report.objective = cell;
            report.evaluations = count;
        }
    report.seconds = seconds;
    return report;
}

std::string shown(const Value& v) { return v.is_number() ? json_number(v.as_number()) : v.to_string(); }

void print_json(std::ostream& out, const host::engine::Workbook& book, const SolveReport& r, const std::string& saved,
                const std::vector<std::pair<std::string, std::string>>& extra) {
    auto json_cell = [&](const CellAddress& c) {
        const Value& v = book.value(c);
        return json_string(host::io::cell_key(book, c)) + ": " +
               (v.is_number() ? json_number(v.as_number()) : json_value(v));
    };
    out << "{\"variables\": {";
    for (std::size_t i = 0; i < r.variables.size(); ++i)
        out << (i ? ", " : "") << json_cell(r.variables[i]);
    out << "}, \"objective\": {" << (r.objective ? json_cell(*r.objective) : "")
        << "}, \"evaluations\": " << r.evaluations
        << ", \"generations\": " << (r.generations ? std::to_string(*r.generations) : "null")
        << ", \"ended\": " << json_string(run_end_name(r.end)) << ", \"seconds\": " << json_number(r.seconds)
        << ", \"output\": " << (saved.empty() ? "null" : json_string(saved));
    for (const auto& [key, value] : extra)
        out << ", " << json_string(key) << ": " << json_string(value);
    out << "}\n";
}

void print_plain(std::ostream& out, const host::engine::Workbook& book, const SolveReport& r) {
    char taken[32];
    std::snprintf(taken, sizeof taken, "%.3f", r.seconds);
    out << (r.end == RunEnd::completed     ? "Solved in "
            : r.end == RunEnd::interrupted ? "Interrupted after "
                                           : "Stopped at the time limit after ")
        << taken << " s with " << r.evaluations << " evaluations";
    if (r.generations && r.end != RunEnd::completed)
        out << " (" << *r.generations << " generations); the best point so far was kept";
    out << ".\n";
    for (const CellAddress& c : r.variables)
        out << "  " << escaped_line(host::io::cell_key(book, c)) << "\t" << escaped_line(shown(book.value(c))) << "\n";
    if (r.objective)
        out << "Objective " << escaped_line(host::io::cell_key(book, *r.objective)) << "\t"
            << escaped_line(shown(book.value(*r.objective))) << "\n";
}

// Refuses, before the run, a --chart or --trace file that would be lost or would overwrite the
// workbook read or saved.
fs::path canonical(const std::string& path) {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? fs::absolute(path, ec).lexically_normal() : resolved;
}

void check_run_file(const std::string& path, const char* flag, const std::string& book, const std::string& target) {
    for (const std::string& other : {book, target})
        if (canonical(path) == canonical(other))
            throw UsageError(std::string(flag) + " " + path + " is the workbook " + (other == book ? "read" : "saved") +
                             "; give another file");
    try {
        host::io::check_save_target(path);
    } catch (const host::io::IoError& e) {
        throw UsageError(e.what());
    }
}

bool ends_with_folded(const std::string& text, const std::string& suffix) {
    std::string folded = host::engine::fold_case(text);
    return folded.size() >= suffix.size() && folded.compare(folded.size() - suffix.size(), suffix.size(), suffix) == 0;
}

int run_solve(const SolveOptions& options, std::istream* form_input, std::ostream& out, std::ostream& err) {
    try {
        SessionOptions session;
        session.addin = options.addin;
        Answers answers = answers_of(options);
        session.answers = answers.solve;
        if (session.answers.empty())
            session.form_input = form_input;
        std::string target = output_path(options.book, options.output, options.in_place, "solved");
        host::io::Document document = open_book(options.book, options.sheet, err);
        SolveOptions model_options = options;
        std::optional<SavedModel> saved = apply_saved_model(document, model_options, session.answers);
        if (saved)
            session.form_input = nullptr;
        std::vector<std::pair<std::string, std::string>> model_answers = model_answers_of(model_options);

        // Everything that would make the run pointless or its result unsaveable is refused
        // before it starts.
        set_inputs(document.workbook, options.inputs);
        check_save(document, target, !options.sheet.empty());
        if (options.report && host::io::format_of(target) != host::io::Format::Xlsx)
            throw UsageError("--report adds a sheet and a chart, which a .csv file cannot hold: save the workbook as "
                             ".xlsx with --output FILE.xlsx");
        if (!options.chart.empty() && !ends_with_folded(options.chart, ".svg"))
            throw UsageError("--chart writes an SVG picture: give it a file name ending in .svg");
        if (!options.chart.empty())
            check_run_file(options.chart, "--chart", options.book, target);
        if (!options.trace.empty())
            check_run_file(options.trace, "--trace", options.book, target);
        if (!options.chart.empty() && !options.trace.empty() && canonical(options.chart) == canonical(options.trace))
            throw UsageError("--chart and --trace name the same file " + options.trace + "; give two files");
        host::engine::Workbook& book = document.workbook;
        // A candidate written again, bit for bit, gets the results of its first evaluation
        // back instead of a recalculation (never where a volatile function is read).
        book.set_recalculation_memo(recalculation_memo_bytes);
        // The run as the host sees it, for the report, the chart and the trace, recorded as it
        // goes; the trace is written beside its file meanwhile and put in place at the end.
        bool recording = options.report || !options.chart.empty() || !options.trace.empty();
        std::unique_ptr<host::io::AtomicFileWriter> trace_file;
        if (!options.trace.empty()) {
            try {
                trace_file = std::make_unique<host::io::AtomicFileWriter>(options.trace);
            } catch (const host::io::IoError& e) {
                throw UsageError(e.what());
            }
        }
        std::unique_ptr<RunRecorder> recorder;
        RunSummary summary;
        // The run, its clock and Ctrl-C begin once the dialog is answered and accepted.
        RunControl control(model_options.time_limit);
        const bool tabled = options.report || !options.chart.empty();
        // Only the Solve dialog starts a run; the Model and Options dialogs before it only set.
        bool solving = false;
        session.vet_dialog = [&book, &control, &recorder, &trace_file, &summary, &solving, recording,
                              tabled](const host::ui::FrontEnd& front) {
            if (!solving)
                return std::optional<std::string>();
            auto refusal = solve_refusal(book, front.accepted("Var Vector"), front.accepted("Function Cell"));
            if (refusal)
                return refusal;
            // What the cells held before the run.
            std::vector<CellAddress> variables = cells_named(book, front.accepted("Var Vector"));
            summary.variables.clear();
            for (const CellAddress& c : variables)
                summary.variables.push_back({host::io::cell_key(book, c), Value(), Value(), book.value(c), Value()});
            if (recording && !recorder) {
                // A generation evaluates the whole population, a trial runs the generations given.
                recorder = std::make_unique<RunRecorder>(
                    variables, std::strtoull(front.accepted("Population").c_str(), nullptr, 10),
                    std::strtoull(front.accepted("Generations").c_str(), nullptr, 10),
                    host::engine::fold_case(front.accepted_shown("Goal:")).rfind("max", 0) == 0, tabled);
                // A constrained run ends with a local search after its generations.
                std::uint64_t planned = 1;
                for (const char* label : {"Population", "Generations", "Trials"}) {
                    const std::uint64_t n = std::strtoull(front.accepted(label).c_str(), nullptr, 10);
                    planned = n != 0 && planned > UINT64_MAX / n ? UINT64_MAX : planned * n;
                }
                recorder->tabulate_at_most(planned);
                if (trace_file) {
                    std::vector<std::string> names;
                    for (const CellAddress& c : variables)
                        names.push_back(host::io::cell_key(book, c));
                    host::io::AtomicFileWriter* file = trace_file.get();
                    recorder->trace_to([file](const std::string& text) { file->write(text); }, names);
                }
            }
            if (auto objective = cells_named(book, front.accepted("Function Cell")); objective.size() == 1)
                summary.objective_original = book.value(objective[0]);
            summary.started = std::time(nullptr);
            control.start();
            return refusal;
        };

        // A volatile function under the objective makes every evaluation a new draw.
        bool volatile_objective = false;
        for (const auto& answer : session.answers)
            if (host::ui::label_key(answer.first) == host::ui::label_key("Function Cell"))
                for (const CellAddress& cell : cells_named(book, answer.second)) {
                    std::vector<CellAddress> sources = book.volatile_sources(cell);
                    if (sources.empty())
                        continue;
                    std::string names;
                    for (const CellAddress& v : sources)
                        names += (names.empty() ? "" : ", ") + host::io::cell_key(book, v);
                    err << options.book << ": warning: the objective " << host::io::cell_key(book, cell)
                        << " depends on volatile functions in " << names
                        << "; its value changes on every recalculation, so the optimum found will not be "
                           "reproducible\n";
                    volatile_objective = true;
                }
        const unsigned int jobs = options.jobs > 0 ? options.jobs : available_cores();
        if (volatile_objective && jobs > 1 && !options.quiet)
            err << options.book
                << ": note: the objective changes on every recalculation, so candidates are "
                   "evaluated one at a time (--jobs has no effect)\n";

        // Outlives the session that refers to it.
        std::unique_ptr<ParallelBatch> batch;
        // The add-in's notes would break the JSON on standard output.
        Session s(book, fs::path(options.book).filename().string(), session, options.json ? err : out, err);
        host::ui::FrontEnd& front = s.front_end();
        front.set_status_display(options.quiet      ? host::ui::StatusDisplay::none
                                 : isatty(2)        ? host::ui::StatusDisplay::in_place
                                 : options.progress ? host::ui::StatusDisplay::lines
                                                    : host::ui::StatusDisplay::none);
        control.attach(s.host());
        if (recording)
            s.host().set_evaluation_observer(
                [&recorder, &book](const CellAddress&, const Value& value,
                                   const std::vector<std::pair<CellAddress, Value>>& written) {
                    if (recorder)
                        recorder->record(book, value, written);
                });
        // Whole generations on copies of the book, each opened again from the file and given
        // the inputs set, as this one was before the add-in wrote to it. The host refuses them
        // for a volatile model, as the spreadsheet does, and the add-in evaluates one candidate
        // at a time.
        if (jobs > 1 && !volatile_objective) {
            batch = std::make_unique<ParallelBatch>(jobs, [&options]() {
                std::ostringstream ignored;
                host::io::Document copy = open_book(options.book, options.sheet, ignored);
                set_inputs(copy.workbook, options.inputs);
                return std::move(copy.workbook);
            });
            s.host().set_batch_evaluator(batch.get());
        }
        if (!model_answers.empty()) {
            front.set_answers(model_answers);
            s.run("Model");
            if (front.answer_error())
                throw UsageError(*front.answer_error());
            if (front.error_alerts() > 0)
                return report(err, "the model was refused; nothing was solved or saved", exit_failed);
            front.set_answers(session.answers);
        }
        // The search settings first, through the add-in's Options dialog, then Solve.
        std::vector<std::pair<std::string, std::string>> option_settings;
        if (!answers.options.empty()) {
            front.set_answers(answers.options);
            s.run("Options");
            if (front.answer_error())
                throw UsageError(*front.answer_error());
            if (front.error_alerts() > 0)
                return report(err, "the Options were refused; nothing was solved or saved", exit_failed);
            for (const FlagLabel& f : option_flags) {
                std::string label = f.label;
                if (!label.empty() && label.back() == ':')
                    label.pop_back();
                option_settings.emplace_back(label, front.accepted_shown(f.label));
            }
            front.set_answers(session.answers);
        }
        solving = true;
        s.run("Solve");
        control.finish();
        double seconds = control.seconds();

        if (front.answer_error())
            throw UsageError(*front.answer_error());
        if (s.refusal())
            throw UsageError(*s.refusal() + "; nothing was solved or saved");
        if (front.error_alerts() > 0)
            return report(err, "Solve failed; the workbook was not saved", exit_failed);
        if (front.dialogs() == 0 || front.cancelled()) {
            err << "Solve was cancelled; the workbook was not saved.\n";
            return exit_ok;
        }

        SolveReport result = report_of(s.host().activity(), seconds);
        // Constraints are read after each write too: the objective is the cell named for it.
        if (auto named = cells_named(book, front.accepted("Function Cell")); named.size() == 1) {
            const auto& reads = s.host().activity().read_after_write;
            if (auto found = reads.find(named[0]); found != reads.end()) {
                result.objective = named[0];
                result.evaluations = found->second;
            }
        }
        // A run stopped before its first candidate wrote nothing: the cells it was given kept
        // their starting values.
        if (result.variables.empty())
            result.variables = cells_named(book, front.accepted("Var Vector"));
        if (!result.objective)
            if (auto named = cells_named(book, front.accepted("Function Cell")); named.size() == 1)
                result.objective = named[0];
        // Every generation evaluates the whole population.
        std::uint64_t population = std::strtoull(front.accepted("Population").c_str(), nullptr, 10);
        if (population > 0 && result.evaluations % population == 0)
            result.generations = result.evaluations / population;
        // A constrained run that went through all its generations ends with a local search.
        const std::uint64_t planned = std::strtoull(front.accepted("Generations").c_str(), nullptr, 10) *
                                      std::strtoull(front.accepted("Trials").c_str(), nullptr, 10);
        if (population > 0 && !model_answers.empty() && result.evaluations > population * planned)
            result.generations = planned;
        result.end = control.end();

        // A record that failed is reported, and the run's result saved all the same: the
        // trace alone when its file could not be written, everything when memory ran out.
        std::optional<std::string> record_error;
        bool tables_lost = false;
        if (recorder) {
            recorder->finish();
            if (auto why = recorder->table_failure()) {
                tables_lost = true;
                record_error = "the run's record stopped (" + *why + "), so " +
                               std::string(options.trace.empty() ? "" : "the trace, ") +
                               "the report and the chart were not written";
            } else if (auto trace_why = recorder->trace_failure(); trace_why && trace_file) {
                record_error = "the trace was not written: " + *trace_why;
            }
        }
        const std::vector<GenerationRow> no_rows;
        const std::vector<GenerationRow>& table = recorder ? recorder->table() : no_rows;
        std::vector<CellAddress> recorded_variables;
        if (recorder)
            recorded_variables = recorder->variables();
        if (recording && !tables_lost) {
            std::string goal = front.accepted_shown("Goal:");
            summary.date1904 = book.date1904();
            summary.book = fs::path(options.book).filename().string();
            summary.sheet = book.sheet_name(book.active_sheet());
            std::vector<CellAddress> minima = cells_named(book, front.accepted("Min Vector"));
            std::vector<CellAddress> maxima = cells_named(book, front.accepted("Max Vector"));
            for (std::size_t i = 0; i < summary.variables.size() && i < recorded_variables.size(); ++i) {
                ReportVariable& v = summary.variables[i];
                if (i < minima.size())
                    v.minimum = book.value(minima[i]);
                if (i < maxima.size())
                    v.maximum = book.value(maxima[i]);
                v.final = book.value(recorded_variables[i]);
            }
            if (result.objective) {
                summary.objective = host::io::cell_key(book, *result.objective);
                summary.objective_final = book.value(*result.objective);
            }
            summary.goal = goal;
            summary.constraints = constraint_rows(book, model_options);
            for (const FlagLabel& f : solve_flags) {
                std::string label = f.label;
                if (!label.empty() && label.back() == ':')
                    label.pop_back();
                summary.settings.emplace_back(label, front.accepted_shown(f.label));
            }
            summary.settings.insert(summary.settings.end(), option_settings.begin(), option_settings.end());
            summary.evaluations = result.evaluations;
            summary.generations = result.generations;
            summary.seconds = seconds;
            summary.ended = run_end_name(result.end);
        }

        // A model beyond the Solve dialog goes back into the names it came from, or those the
        // spreadsheet's Solver would give it.
        if (saved || !model_answers.empty()) {
            const int scope = saved ? saved->scope : document.package ? book.active_sheet() : -1;
            for (const auto& [name, formula] : saved_model_names(model_that_ran(book, front, model_options, scope)))
                document.name_edits.push_back({name, scope, formula});
        }

        // The result is shown even when it cannot be saved.
        std::optional<std::string> save_error;
        std::vector<std::pair<std::string, std::string>> written;
        try {
            if (options.report && !tables_lost) {
                std::string sheet = host::io::save_with_report(document, target, report_sheet(summary, table));
                written.emplace_back("report_sheet", sheet);
            } else {
                host::io::save(document, target);
            }
        } catch (const std::exception& e) {
            save_error = e.what();
        }
        try {
            if (!options.chart.empty() && !tables_lost) {
                host::io::write_file_atomically(options.chart, convergence_svg(table, summary.objective));
                written.emplace_back("chart", options.chart);
            }
            if (trace_file && recorder && !record_error) {
                trace_file->commit();
                written.emplace_back("trace", options.trace);
            }
        } catch (const std::exception& e) {
            save_error = save_error ? *save_error + "; " + e.what() : std::string(e.what());
        }
        if (options.json) {
            print_json(out, book, result, save_error ? std::string() : target, written);
        } else {
            print_plain(out, book, result);
            if (!save_error)
                out << "Saved " << target << "\n";
            for (const auto& [what, where] : written)
                if (what == "report_sheet")
                    out << "Report sheet \"" << escaped_line(where) << "\"\n";
                else
                    out << (what == "chart" ? "Chart " : "Trace ") << escaped_line(where) << "\n";
        }
        if (save_error && record_error)
            return report(err, *save_error + "; " + *record_error, exit_failed);
        if (save_error || record_error)
            return report(err, save_error ? *save_error : *record_error, exit_failed);
        return exit_ok;
    } catch (...) {
        return report_current_exception(err, options.book + ": ");
    }
}

// The solve command's flags on `ombrix`; `run` is called with the options once they are read.
CLI::App* solve_subcommand(CLI::App& ombrix, std::function<void(const SolveOptions&)> run) {
    struct State {
        SolveOptions options;
        std::vector<std::string> values = std::vector<std::string>(std::size(solve_flags));
        std::vector<std::string> option_values = std::vector<std::string>(std::size(option_flags));
        bool start_from_current = false;
    };
    auto state = std::make_shared<State>();
    CLI::App* solve =
        ombrix.add_subcommand("solve", "Optimise a workbook model with the add-in's Solve command and save the result");
    solve->footer("Searches the variable cells, between their minimum and maximum cells, for the values that\n"
                  "maximise or minimise the objective cell, writes the best into the variable cells and saves\n"
                  "the workbook to a new file next to BOOK (BOOK.solved.xlsx). Each flag fills the Solve\n"
                  "dialog's control of that name; --strategy, --stop-after, --target and --start-from-current\n"
                  "fill the add-in's Options dialog, which is answered first. Controls left unset keep the\n"
                  "add-in's values (on a terminal with no flags, a form shows them). The add-in checks the\n"
                  "entries and reports problems itself, on standard error; the exit status is then 1.\n"
                  "Refused before the run, with status 2 and nothing written: variable cells holding\n"
                  "formulas, an objective that is a variable or does not depend on them, and an output that\n"
                  "cannot be saved (see ombrix --help). Ctrl-C during the run stops it and keeps and saves\n"
                  "the best point found so far; a second Ctrl-C quits at once, saving nothing.\n\n"
                  "Example:\n  ombrix solve examples/production.xlsx --var B3:D3 --min B4:D4 --max B5:D5 "
                  "--objective B16 --goal maximise");
    solve->add_option("BOOK", state->options.book, "The workbook (.xlsx or .csv)")->required()->check(not_empty());
    solve
        ->add_option("--sheet", state->options.sheet,
                     "Make this sheet active first: the references "
                     "are taken on the active sheet (its name in any case)")
        ->type_name("NAME")
        ->check(not_empty());
    for (std::size_t i = 0; i < std::size(solve_flags); ++i)
        solve->add_option(solve_flags[i].flag, state->values[i], solve_flags[i].help)
            ->type_name(i < 4    ? (i == 3 ? "CELL" : "RANGE")
                        : i == 4 ? "GOAL"
                        : i < 9  ? "N"
                                 : "X");
    for (std::size_t i = 0; i < std::size(option_flags); ++i) {
        if (i + 1 == std::size(option_flags))
            solve->add_flag(option_flags[i].flag, state->start_from_current, option_flags[i].help);
        else
            solve->add_option(option_flags[i].flag, state->option_values[i], option_flags[i].help)
                ->type_name(i == 0   ? "NAME"
                            : i == 1 ? "N"
                                     : "VALUE");
    }
    solve
        ->add_option("--field", state->options.fields,
                     "Fill the dialog control with this label, e.g. --field \"Seed=7\" or --field \"Target=0\" "
                     "(repeatable)")
        ->type_name("LABEL=VALUE");
    solve
        ->add_option("--set", state->options.inputs,
                     "Write VALUE into CELL before the run, e.g. --set B7=12.5 (a number, TRUE/FALSE, or text; "
                     "repeatable); the cell must hold no formula and is saved with the result")
        ->type_name("CELL=VALUE");
    auto* output = solve
                       ->add_option("-o,--output", state->options.output,
                                    "Save the solved workbook here instead (never over BOOK)")
                       ->type_name("FILE")
                       ->check(not_empty());
    solve->add_flag("--in-place", state->options.in_place, "Save the solved workbook over BOOK")->excludes(output);
    solve->add_flag("--json", state->options.json,
                    "Print one JSON object: the variable cells' values, the objective cell's value, "
                    "the number of evaluations and generations, how the run ended (completed, interrupted, "
                    "time-limit), the seconds the run took and the file saved (and report_sheet, chart, trace with "
                    "those flags)");
    solve
        ->add_option("--time-limit", state->options.time_limit,
                     "Stop the run after this many seconds, keeping the best point found so far")
        ->type_name("SECONDS")
        ->check(CLI::NonNegativeNumber);
    solve->add_flag("--report", state->options.report,
                    "Add a sheet \"Ombrix Report\" to the saved .xlsx workbook: the variables, the objective and "
                    "the settings before and after the run, how it ended, and each generation's best so far, best and "
                    "mean with a line chart of them");
    solve
        ->add_option("--chart", state->options.chart,
                     "Draw the convergence chart (best so far and generation mean per trial) as an SVG picture")
        ->type_name("FILE.svg")
        ->check(not_empty());
    solve
        ->add_option("--trace", state->options.trace,
                     "Write every evaluation as CSV: its number, trial, generation, objective and the variables")
        ->type_name("FILE.csv")
        ->check(not_empty());
    solve
        ->add_option("--constraint", state->options.constraints,
                     "A constraint \"LHS REL RHS\": REL is <=, = or >=, each side a cell, a range or a number "
                     "(a range on the right as large as the left, or one cell for all); repeatable. A feasible point "
                     "beats any infeasible one; with no point within them the run fails with status 1")
        ->type_name("\"LHS REL RHS\"");
    solve
        ->add_option("--integer", state->options.integer,
                     "Variable cells that take whole numbers only (repeatable; several ranges with commas)")
        ->type_name("RANGE");
    solve->add_option("--binary", state->options.binary, "Variable cells that take 0 or 1 only (repeatable)")
        ->type_name("RANGE");
    solve
        ->add_option("--all-different", state->options.all_different,
                     "Variable cells that hold a permutation of 1 to their number (repeatable: each range a group)")
        ->type_name("RANGE");
    solve
        ->add_option("--tolerance", state->options.tolerance,
                     "How far a constraint may miss, relative to its right side (at least 1): default 1e-06")
        ->type_name("X");
    solve->add_flag("--non-negative", state->options.non_negative,
                    "Variables with no lower bound from --min or a constraint start at 0");
    solve
        ->add_option("--jobs", state->options.jobs,
                     "Evaluate up to this many candidates of a generation at once, each on its own copy of the "
                     "workbook (default: the cores available); the answer, trace and report are the same for any "
                     "number. A volatile objective is evaluated one candidate at a time")
        ->type_name("N")
        ->check(CLI::Range(1u, 1024u));
    auto* quiet = solve->add_flag("--quiet", state->options.quiet, "Show no progress");
    solve
        ->add_flag("--progress", state->options.progress,
                   "Show progress on standard error even when it is no terminal (one line a second)")
        ->excludes(quiet);
    add_addin_option(solve, state->options.addin);
    solve->callback([state, solve, run]() {
        state->options.flags.clear();
        for (std::size_t i = 0; i < std::size(solve_flags); ++i)
            if (solve->count(solve_flags[i].flag) > 0)
                state->options.flags.emplace_back(solve_flags[i].label, state->values[i]);
        for (std::size_t i = 0; i + 1 < std::size(option_flags); ++i)
            if (solve->count(option_flags[i].flag) > 0)
                state->options.flags.emplace_back(option_flags[i].label, state->option_values[i]);
        if (state->start_from_current)
            state->options.flags.emplace_back(option_flags[std::size(option_flags) - 1].label, "true");
        run(state->options);
    });
    return solve;
}

} // namespace

void add_solve_command(CLI::App& ombrix, Outcome& outcome) {
    solve_subcommand(ombrix, [&outcome](const SolveOptions& options) {
        outcome.status = run_solve(options, isatty(0) ? &std::cin : nullptr, std::cout, std::cerr);
    });
}

std::optional<bool> solve_flag_takes_value(const std::string& flag) {
    CLI::App ombrix;
    CLI::App* solve = solve_subcommand(ombrix, [](const SolveOptions&) {});
    const CLI::Option* option = solve->get_option_no_throw(flag);
    if (option == nullptr || option->get_positional())
        return std::nullopt;
    return std::optional<bool>(option->get_expected_min() > 0);
}

int solve_with_arguments(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    CLI::App ombrix("", "ombrix");
    int status = exit_ok;
    solve_subcommand(ombrix, [&](const SolveOptions& options) { status = run_solve(options, nullptr, out, err); });
    std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
    reversed.push_back("solve");
    try {
        ombrix.parse(std::move(reversed));
    } catch (const CLI::ParseError& e) {
        return report(err, std::string("solve: ") + e.what(), exit_usage);
    }
    return status;
}

} // namespace app
