#include "solver/OmbrixImpl.hpp"

#include "excel/CellRef.hpp"
#include "excel/Dialog.hpp"
#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/Range.hpp"
#include "excel/RangeRef.hpp"
#include "solver/ExcelObjFunc.hpp"
#include "solver/RunStatus.hpp"

#include <boost/lexical_cast.hpp>
#include <boost/random/mersenne_twister.hpp>

#include <new>
#include <string>

namespace {

const int information_alert = 2;

template <class T>
std::string as_text(T value) {
    return boost::lexical_cast<std::string>(value);
}

} // namespace

void OmbrixImpl::check_population(unsigned int size) {
    // Crossover works on neighbouring pairs; an odd chromosome would have no partner.
    if (size % 2 != 0)
        throw excel::ExcelException(odd_population_message);
}

void OmbrixImpl::solve() {
    excel::Dialog dialog("Ombrix");
    dialog.add_statictext("Domain:");
    dialog.add_cellpicker("Min Vector", min_text);
    dialog.add_cellpicker("Max Vector", max_text);
    dialog.add_cellpicker("Var Vector", variable_text);
    dialog.add_statictext("");
    dialog.add_statictext("Objective:");
    dialog.add_cellpicker("Function Cell", target_text);
    dialog.add_listbox("Goal:", goals, goal);
    dialog.add_statictext("");
    dialog.add_statictext("Parameters:");
    dialog.add_editbox("Seed", as_text(seed));
    dialog.add_editbox("Population", as_text(optimiser.population_size));
    dialog.add_editbox("Generations", as_text(optimiser.generations));
    dialog.add_editbox("Trials", as_text(optimiser.trials));
    dialog.add_statictext("");
    dialog.add_statictext("Advanced:");
    dialog.add_editbox("Crossover Rate", as_text(optimiser.one_point_crossover.rate));
    dialog.add_editbox("Mutation Rate", as_text(optimiser.uniform_mutation.rate));
    dialog.add_statictext("");
    dialog.add_statictext(help_line);

    if (!dialog.display(true))
        return;

    min_text = dialog[1];
    max_text = dialog[2];
    variable_text = dialog[3];
    target_text = dialog[6];
    goal = dialog[7];

    // Each value is kept the moment it is accepted, so the next dialog shows it even when
    // a later field is refused.
    seed = parse_param<unsigned int>(dialog[10], 0u, 4294967295u, "Expected seed to be a positive integer");
    const int population =
        parse_param<int>(dialog[11], 2, 2147483647, "Expected population size to be an integer above 2");
    check_population(static_cast<unsigned int>(population));
    optimiser.population_size = static_cast<unsigned int>(population);
    optimiser.generations = static_cast<unsigned int>(
        parse_param<int>(dialog[12], 2, 2147483647, "Expected number of generations to be an integer above 2"));
    optimiser.trials = static_cast<unsigned int>(
        parse_param<int>(dialog[13], 1, 2147483647, "Expected number of trials to be an integer above 1"));
    optimiser.one_point_crossover.rate =
        parse_param<double>(dialog[16], 0.0, 1.0, "Expected crossover rate to be a number  between 0 and 1");
    optimiser.uniform_mutation.rate =
        parse_param<double>(dialog[17], 0.0, 1.0, "Expected mutation rate to be a number between 0 and 1");

    process();
}

void OmbrixImpl::options() {
    excel::Dialog dialog("Ombrix Options");
    dialog.add_statictext("Search:");
    dialog.add_listbox("Strategy:", strategies, math::opt::strategy_name(strategy));
    dialog.add_statictext("Stop early:");
    dialog.add_editbox("Stop After", as_text(stop_after));
    dialog.add_editbox("Target", has_target ? as_text(target_value) : std::string());
    dialog.add_statictext("Start:");
    dialog.add_checkbox("Start From Current", start_from_current);
    dialog.add_statictext("");
    dialog.add_statictext("Stop After: generations without a better point (0: never). Target: stop once");
    dialog.add_statictext("the objective reaches it (empty: never). Start From Current: the variable");
    dialog.add_statictext("cells' values join the first population.");
    dialog.add_statictext(help_line);

    if (!dialog.display(true))
        return;

    math::opt::Strategy chosen;
    if (!math::opt::strategy_from_name(dialog[1], chosen))
        throw excel::ExcelException("Expected a strategy: classic, real, de or shade");
    strategy = chosen;
    stop_after = static_cast<unsigned int>(parse_param<int>(
        dialog[3], 0, 2147483647, "Expected generations without improvement to be a whole number of 0 or more"));
    if (dialog[4].empty()) {
        has_target = false;
    } else {
        target_value = parse_param<double>(dialog[4], -1.7976931348623157e308, 1.7976931348623157e308,
                                           "Expected the target to be a number, or nothing for none");
        has_target = true;
    }
    start_from_current = dialog[6] == "true";
}

void OmbrixImpl::process() {
    check_population(optimiser.population_size);
    if (extended_model()) {
        run_model();
        return;
    }

    excel::RangeRef variables;
    as_vector(variable_text, "variable", variables);
    const unsigned int n =
        static_cast<unsigned int>((variables.end.x - variables.first.x) * (variables.end.y - variables.first.y));

    const std::vector<double> reference(n);
    const std::vector<double> min = get_constant_vector(min_text, "Min", reference);
    const std::vector<double> max = get_constant_vector(max_text, "Max", reference);

    excel::CellRef target;
    if (!excel::CellRef::coerce_to_cell(target_text, target))
        throw excel::ExcelException("Invalid target cell specified");

    start.clear();
    if (start_from_current) {
        try {
            start = get_constant_vector(variable_text, "variable", reference);
        } catch (const excel::ExcelException&) {
            throw excel::ExcelException("Start From Current needs a number in every variable cell");
        }
    }

    const bool maximise = goal == goals.front();
    setup(min, max, variables, target, maximise, seed);
}

void OmbrixImpl::setup(const std::vector<double>& min, const std::vector<double>& max, const excel::RangeRef& variables,
                       const excel::CellRef& target, bool maximise, unsigned int seed) {
    const unsigned int n =
        static_cast<unsigned int>((variables.end.x - variables.first.x) * (variables.end.y - variables.first.y));

    optimiser.clear_design_variables();
    optimiser.coding = math::opt::Coding();
    for (unsigned int i = 0; i < n; ++i)
        // An empty or NaN interval throws std::runtime_error from the interval type itself.
        optimiser.design_variable(math::opt::Interval(min[i], max[i]));

    ExcelObjFunc objective(variables, target);
    boost::mt19937 engine(seed);

    // Every evaluation overwrites the variable cells: a run that fails part-way puts back
    // what the user had there. The objective keeps that at its first write, so a run refused
    // before any candidate is written touches no cell.
    RunStatus status(!maximise, status_interval);
    optimiser.observer = &status;
    math::opt::SearchSettings search = search_settings(maximise);
    search.start = start;
    const auto restore_inputs = [&] { objective.restore_inputs(); };
    finish_run(status, n, restore_inputs, [&] {
        // With no option set, the run is the optimiser's own, as it always was. Where the
        // spreadsheet takes whole generations at once, they go in one request each.
        const math::opt::Optimiser::NegativeObjectiveFunction negative(objective);
        const WorkbookGenerations generations(objective, !maximise);
        optimiser.batch = &generations;
        const std::vector<double> result =
            search.plain() ? (maximise ? optimiser.maximise(objective, engine) : optimiser.minimise(objective, engine))
            : search.strategy != math::opt::Strategy::classic
                ? math::opt::search_maximise(static_cast<const math::opt::GAOptimiser&>(optimiser), search, generations,
                                             engine)
            : maximise ? math::opt::search_maximise(optimiser, search, objective, engine)
                       : math::opt::search_maximise(optimiser, search, negative, engine);
        optimiser.batch = nullptr;
        optimiser.observer = nullptr;
        // A run stopped before its first generation wrote nothing and has no point to keep.
        if (!status.stopped() || status.evaluated())
            excel::Range(variables).set(result);
    });
}

void OmbrixImpl::finish_run(RunStatus& status, std::size_t n, const std::function<void()>& restore_inputs,
                            const std::function<void()>& run) {
    try {
        run();
    } catch (const std::bad_alloc&) {
        optimiser.batch = nullptr;
        optimiser.observer = nullptr;
        status.finish();
        restore_inputs();
        throw excel::ExcelException("Not enough memory for the run: a population of " +
                                    std::to_string(optimiser.population_size) + " with " + std::to_string(n) +
                                    " variables does not fit; try a smaller population");
    } catch (...) {
        optimiser.batch = nullptr;
        optimiser.observer = nullptr;
        status.finish();
        restore_inputs();
        throw;
    }
    status.finish();
    if (status.stopped())
        excel::display_dialog_box(status.stop_message().c_str(), information_alert);
}
