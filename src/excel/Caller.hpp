#ifndef OMBRIX_EXCEL_CALLER_HPP
#define OMBRIX_EXCEL_CALLER_HPP

#include <string>

namespace excel {

// The cell that called the add-in, for a worksheet function. Each throws ExcelException
// when the caller is not a cell (a command run from a menu), and as throw_on_bad_ret
// decides when the spreadsheet refuses a call.

// The caller's sheet name, with the book name in brackets in front ("[Book1]Sheet1").
std::string sheetname();
// The caller in A1 notation ("AB10").
std::string cellref();
// sheetname(), "!", cellref().
std::string cellfullref();

// Column letters of a zero-based column index on the sheet (0 to 255): A, Z, AA, IV.
std::string column_letters(unsigned column);

} // namespace excel

#endif
