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
#include "SolveCommand.hpp"

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

// The memory kept for the results of candidates already evaluated.
constexpr std::size_t recalculation_memo_bytes = std::size_t(32) << 20;

int run_solve(const SolveOptions& options, std::istream* form_input, std::ostream& out, std::ostream& err) {
    try {
        SessionOptions session;
        session.addin = options.addin;
        Answers answers = answers_of(options);
        session.answers = answers.solve;
        if (session.answers.empty())
            session.form_input = form_input;
        std::string target = output_path(options.book, options.output, options.in_place, "solved");
        // Whole generations on copies of the book, each opened again from the file by its own
        // thread while this one opens the book, and given the inputs set, as this one is before
        // the add-in writes to it. Outlives the session that refers to it.
        const unsigned int jobs = options.jobs > 0 ? options.jobs : available_cores();
        std::unique_ptr<ParallelBatch> batch;
        if (jobs > 1) {
            batch = std::make_unique<ParallelBatch>(jobs, [&options]() {
                std::ostringstream ignored;
                host::io::Document copy = open_book(options.book, options.sheet, ignored);
                set_inputs(copy.workbook, options.inputs);
                return std::move(copy.workbook);
            });
            batch->start();
        }
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
        if (volatile_objective)
            batch.reset();
        if (volatile_objective && jobs > 1 && !options.quiet)
            err << options.book
                << ": note: the objective changes on every recalculation, so candidates are "
                   "evaluated one at a time (--jobs has no effect)\n";

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
        // The host refuses batches for a volatile model, as the spreadsheet does, and the
        // add-in evaluates one candidate at a time.
        if (batch && !volatile_objective)
            s.host().set_batch_evaluator(batch.get());
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
        // The copies' books are freed while this one is saved.
        if (batch)
            batch->finish();
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
