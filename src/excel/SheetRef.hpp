#ifndef OMBRIX_EXCEL_SHEETREF_HPP
#define OMBRIX_EXCEL_SHEETREF_HPP

// How Cell and Range address the cells a reference names: a reference without a sheet
// is a rectangle on the active sheet (xltypeSRef); a reference that names a sheet is the
// same rectangle on that sheet (xltypeRef with the sheet's id), so candidates are never
// written into some other sheet that happens to be active.

#include "excel/framewrk/ExcelApi.hpp"

#include <string>

namespace excel {
namespace sheetref {

// The inclusive rectangle from column x0 to x1 and row y0 to y1. Throws ExcelException
// with the message off_sheet when it is empty or not wholly on the sheet: the record's
// 8- and 16-bit fields would otherwise silently address other cells.
XLREF rectangle(int x0, int y0, int x1, int y1, const char* off_sheet);

// The spreadsheet's id of the sheet "[book]sheet" (or "sheet" when no book is named).
// Throws ExcelException naming the sheet when there is no such sheet.
IDSHEET sheet_id(const std::string& book, const std::string& sheet);

// Fills ref (and mref, which ref then points at when a sheet is named) for rect.
void make_reference(XLOPER& ref, XLMREF& mref, const XLREF& rect, const std::string& book, const std::string& sheet);

// Points a copied xltypeRef back at its owner's own mref.
inline void repoint(XLOPER& ref, XLMREF& mref) {
    if (ref.xltype == xltypeRef)
        ref.val.mref.lpmref = &mref;
}

} // namespace sheetref
} // namespace excel

#endif
