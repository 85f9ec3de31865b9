#include "solver/OmbrixImpl.hpp"

const char* const OmbrixImpl::odd_population_message = "Expected population size to be an even integer of 2 or more";
const char* const OmbrixImpl::help_line = "For help visit: http://www.quenmark.com/ombrix/help";

OmbrixImpl::OmbrixImpl() : seed(233), status_interval(std::chrono::milliseconds(250)) {
    goals.push_back("Maximise");
    goals.push_back("Minimise");
    // The dialog's default is fewer trials than the optimiser's own.
    optimiser.trials = 2;
    goal = goals[0];
    for (math::opt::Strategy s : math::opt::all_strategies())
        strategies.push_back(math::opt::strategy_name(s));
}

math::opt::SearchSettings OmbrixImpl::search_settings(bool maximise) const {
    math::opt::SearchSettings s;
    s.strategy = strategy;
    s.stop_after = stop_after;
    s.has_target = has_target;
    // The optimiser maximises: a minimum to reach becomes a negated maximum.
    s.target = maximise ? target_value : -target_value;
    return s;
}
