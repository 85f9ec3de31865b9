#ifndef OMBRIX_IO_XLSX_HPP
#define OMBRIX_IO_XLSX_HPP

#include "io/Document.hpp"
#include "io/XlsxParts.hpp"

#include <string>

namespace host::io {

// Reads an .xlsx workbook: sheets in order, values, formulas (shared ones expanded, array
// formulas in their anchors), workbook names, the active sheet. Nothing is recalculated.
// Throws io::IoError naming the file, and the sheet and cell where they apply.
Document load_xlsx(const std::string& path);
// The same from bytes in memory; `file` names them in messages. A workbook beyond `limits`
// is refused as too large, naming the limit it crossed.
Document load_xlsx_bytes(const std::string& file, std::string bytes, const LoadLimits& limits = LoadLimits());

// Turns the parts read from a package into a workbook (throws io::IoError); the sheets' cell
// records are freed as they are built.
void build_workbook(const std::string& file, WorkbookRecord& record, Document& document);

// The package to save: for a document read from an .xlsx file, the original with only the
// changed worksheets rewritten (changed constants and every formula's cached value) and the
// workbook marked for full recalculation on open; otherwise a new package. `file` names the
// target in messages.
std::string xlsx_bytes(const Document& document, const std::string& file);

void save_xlsx(const Document& document, const std::string& path);

} // namespace host::io

#endif
