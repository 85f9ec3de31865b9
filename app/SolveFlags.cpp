// The solve command's flags: the dialog controls they fill, the dialogs' answers built from
// them, and the model a workbook keeps under them.
#include "SolveCommand.hpp"

#include "Commands.hpp"
#include "SolveChecks.hpp"

#include "engine/Unicode.hpp"
#include "ui/Dialog.hpp"
#include "usr/Exception.hpp"

#include <memory>

namespace app {

namespace {

constexpr std::size_t constraint_boxes = 4;
constexpr std::size_t box_text = 255;

bool has_label(const std::vector<std::pair<std::string, std::string>>& answers, const char* label) {
    for (const auto& [l, v] : answers)
        if (host::ui::label_key(l) == host::ui::label_key(label))
            return true;
    return false;
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

} // namespace

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

} // namespace app
