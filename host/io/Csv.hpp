#ifndef OMBRIX_IO_CSV_HPP
#define OMBRIX_IO_CSV_HPP

#include "io/Document.hpp"

#include <string>

namespace host::io {

// Comma-separated values, for quick models. Reading makes one sheet named after the file
// (without its extension). An unquoted field is a number, TRUE/FALSE, an error value, a
// formula when it starts with '=', or else text; a quoted field (with "" for a quote) is
// always text. A formula whose text holds commas, quotes or line breaks is written as '='
// followed by the rest quoted, ="SUM(A1,B1)" for =SUM(A1,B1). An empty field is an empty
// cell.
Document load_csv(const std::string& path);
// The same from text in memory; `file` names it in messages and gives the sheet its name.
Document load_csv_text(const std::string& file, const std::string& text);

// One sheet as text, from A1 to the last used cell: values, and formulas as "=...".
// Fields are quoted where they would otherwise read back differently.
std::string csv_text(const engine::Workbook& workbook, int sheet);

// A sheet name made from a file name: its stem, with characters a sheet name cannot hold
// replaced by '_', at most 31 characters.
std::string sheet_name_for(const std::string& path);

} // namespace host::io

#endif
