#ifndef OMBRIX_HOST_ENGINE_OUTSIDEWORLD_HPP
#define OMBRIX_HOST_ENGINE_OUTSIDEWORLD_HPP

// The spreadsheet's functions that no calculation here can answer: they need the outside world
// (WEBSERVICE, RTD, STOCKHISTORY, ...) or a data model (the CUBE functions, GETPIVOTDATA, ...).
// The engine does not know them, so a formula calling one gives #NAME?; a loader keeps the value
// the file cached for such a formula instead.

#include "engine/Workbook.hpp"

#include <string>
#include <string_view>
#include <vector>

namespace host::engine {

// Whether the function (upper case, without a _xlfn. prefix) is one of them.
bool needs_outside_world(std::string_view name);

// The ones the cell's formula calls, each once, in the order written; none for a constant.
std::vector<std::string> outside_world_calls(const Workbook& book, const CellAddress& cell);

// The functions of add-ins (_xll.NAME, or a macro's function) the cell's formula calls: known
// neither here nor as the spreadsheet's own, nor defined names. Where the add-in is not
// loaded they give #NAME?, so a loader keeps the value the file cached for them too.
std::vector<std::string> addin_calls(const Workbook& book, const CellAddress& cell);

} // namespace host::engine

#endif
