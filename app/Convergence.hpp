#ifndef OMBRIX_APP_CONVERGENCE_HPP
#define OMBRIX_APP_CONVERGENCE_HPP

// How a run's search progressed, from what the host saw of it: every evaluation (the
// variable cells written, the objective read back), grouped into generations by the
// population size and into trials by the generations per trial that the dialog was given.

#include "engine/Value.hpp"
#include "engine/Workbook.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace app {

// Every evaluation of a run, in order.
struct EvaluationLog {
    std::vector<host::engine::CellAddress> variables;
    std::vector<host::engine::Value> objectives;
    // variables.size() values per evaluation, kept only when keep_variables is set.
    std::vector<host::engine::Value> variable_values;
    bool keep_variables = false;

    // One evaluation: the objective's value, and the variables' as written (those not
    // written, as the book holds them).
    void record(const host::engine::Workbook& book, const host::engine::Value& objective,
                const std::vector<std::pair<host::engine::CellAddress, host::engine::Value>>& written);
};

// One generation of one trial. The statistics cover the objectives that are numbers; a
// generation with none has count 0 and its best and mean are NaN, as is best_so_far until
// a trial has seen a number.
struct GenerationRow {
    std::uint64_t trial = 0;      // from 1
    std::uint64_t generation = 0; // from 1, within the trial
    double best_so_far = 0;
    double best = 0;
    double mean = 0;
    std::uint64_t count = 0;
};

// The complete generations among `objectives`: `population` evaluations each, trials of
// `generations_per_trial` generations; best is the largest objective when `maximise`.
// Empty when population or generations_per_trial is 0.
std::vector<GenerationRow> convergence(const std::vector<host::engine::Value>& objectives, std::uint64_t population,
                                       std::uint64_t generations_per_trial, bool maximise);

// The evaluations as CSV: a header (evaluation, trial, generation, objective, then each
// variable's cell), then a row per evaluation; trial and generation are empty for the
// evaluations of an incomplete generation.
std::string trace_csv(const EvaluationLog& log, const std::vector<std::string>& variable_names,
                      std::uint64_t population, std::uint64_t generations_per_trial);

} // namespace app

#endif
