#ifndef OMBRIX_EXCEL_CELL_HPP
#define OMBRIX_EXCEL_CELL_HPP

#include "excel/CellRef.hpp"
#include "excel/framewrk/ExcelApi.hpp"

#include <string>

namespace excel {

// One cell whose value is read and written as a number. It is itself the reference value
// passed to the spreadsheet: a rectangle of one cell on the active sheet, or, when the
// reference names a sheet, on that sheet (its id is looked up once, here). Calls go
// straight to Excel4 and never touch the temporary pool.
class Cell : public XLOPER {
public:
    // Throws ExcelException for a cell off the sheet, or a named sheet that is not open.
    explicit Cell(const CellRef& ref);
    // Parses the text (text after the reference is ignored); parse errors propagate.
    explicit Cell(const std::string& text);
    Cell(const Cell& other);
    Cell& operator=(const Cell& other);

    // The value as a number. Throws ExcelException "Failed to get cell value as double"
    // when the spreadsheet cannot give one (an error value or text in the cell included).
    double get_as_double() const;
    // Throws ExcelException "Failed to set cell" when the spreadsheet refuses.
    void set(double d);

    int row() const { return mref_.reftbl[0].rwFirst; }
    int column() const { return mref_.reftbl[0].colFirst; }

private:
    XLMREF mref_;
};

} // namespace excel

#endif
