#ifndef OMBRIX_APP_SAVEDMODEL_HPP
#define OMBRIX_APP_SAVEDMODEL_HPP

// The model a workbook keeps in the spreadsheet Solver's hidden names (solver_opt,
// solver_adj, solver_lhs1...), read to run it and written back after a run.

#include "engine/Workbook.hpp"
#include "io/Document.hpp"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace app {

struct SavedModel {
    int scope = -1; // the sheet whose names hold it; -1: the workbook's
    std::string objective;
    std::string goal = "Maximise";
    std::string variables;
    std::vector<std::string> constraints; // "LHS REL RHS"
    std::vector<std::string> integer, binary, all_different;
    bool non_negative = false;
    std::optional<std::string> seed, population, mutation;
    std::optional<double> time_limit;
};

// The model saved with `sheet`'s names, else with the workbook's; nothing when neither has a
// solver_opt. Throws UsageError for a model it cannot run (a target value instead of a goal,
// a relation it does not know).
std::optional<SavedModel> read_saved_model(const host::io::Document& document, int sheet);

// The names that hold a model and their formulas, as the spreadsheet's Solver writes them.
std::vector<std::pair<std::string, std::string>> saved_model_names(const SavedModel& model);

// A reference text of the dialogs ("B3:D3", "$B$3,Plan!C3:D3") in the form the names hold:
// absolute, each piece with its sheet ("Plan!$B$3:$D$3"). Text that names no cells is kept.
std::string absolute_reference(const host::engine::Workbook& book, const std::string& text);

} // namespace app

#endif
