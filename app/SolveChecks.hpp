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

// The pieces of a list of references ("B3:D3,F3"), split at commas outside quoted sheet
// names and trimmed.
std::vector<std::string> reference_list(const std::string& text);

// The blocks a list of references names; none when one of them names no block of this
// workbook.
std::vector<host::engine::CellRange> ranges_named(const host::engine::Workbook& book, const std::string& text);

// The cells a dialog's reference text names (one block or a list of them), block by block
// in row order; none when it names no block of this workbook.
std::vector<host::engine::CellAddress> cells_named(const host::engine::Workbook& book, const std::string& text);

// Writes each CELL=VALUE (a number, TRUE or FALSE in any case, otherwise text; nothing after
// the = empties the cell) into that one cell, on the active sheet unless it names one. Refuses
// (UsageError, before writing anything) a reference to more or less than one cell, a cell
// holding a formula or filled by one, and a value that is a formula.
void set_inputs(host::engine::Workbook& book, const std::vector<std::string>& inputs);

} // namespace app

#endif
