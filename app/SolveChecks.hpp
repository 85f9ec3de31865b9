#ifndef OMBRIX_APP_SOLVECHECKS_HPP
#define OMBRIX_APP_SOLVECHECKS_HPP

// What makes a Solve request unsafe or pointless, found before anything is written.

#include "engine/Workbook.hpp"

#include <optional>
#include <string>
#include <vector>

namespace app {

// Why solving with these variable and objective cells (reference texts as the dialog
// takes them, on the active sheet unless they name one) must not start: a variable cell
// holds a formula or takes its value from an array formula, a spill or a data table (it
// would be overwritten), the objective is one of the variables, or the objective does not
// depend on any variable cell (blank, a constant, or a formula that never reads them).
// Nothing when the request is sound or a reference cannot be read here (the add-in then
// reports it).
std::optional<std::string> solve_refusal(const host::engine::Workbook& book, const std::string& variables,
                                         const std::string& objective);

// The cells a dialog's reference text names, in row order; none when it names no single
// block of this workbook.
std::vector<host::engine::CellAddress> cells_named(const host::engine::Workbook& book, const std::string& text);

// Writes each CELL=VALUE (a number, TRUE or FALSE in any case, otherwise text; nothing after
// the = empties the cell) into that one cell, on the active sheet unless it names one. Refuses
// (UsageError, before writing anything) a reference to more or less than one cell, a cell
// holding a formula or filled by one, and a value that is a formula.
void set_inputs(host::engine::Workbook& book, const std::vector<std::string>& inputs);

} // namespace app

#endif
