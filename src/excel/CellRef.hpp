#ifndef OMBRIX_EXCEL_CELLREF_HPP
#define OMBRIX_EXCEL_CELLREF_HPP

#include <cstddef>
#include <iosfwd>
#include <string>

namespace excel {

// One worksheet cell as a user types it ("A1", "$A$1", "Sheet2!$A$1",
// "'[Book 2.xls]Sheet2'!$A$1", "R1C2"), printed back in canonical A1 form.
// Pure text and arithmetic: nothing here calls the spreadsheet.
//
// Parsing never enforces the sheet limits; is_valid() does, and printing refuses a cell
// off the sheet. Coordinates that would not fit in an int (very long runs of digits or
// letters, R1C1 numbers at the int limits) saturate instead of overflowing, so such a
// text always yields a cell that is_valid() rejects.
class CellRef {
public:
    // Largest zero-based column (IV) and row (65536) of the sheet.
    static constexpr int last_column = 255;
    static constexpr int last_row = 65535;

    // The relative cell A1, no sheet, no book.
    CellRef();
    // Starts from the zero cell and runs parse_ref; text after the reference is ignored.
    // Throws ExcelException.
    explicit CellRef(const std::string& text);
    CellRef(int x, int y, bool x_fixed, bool y_fixed, const std::string& sheet = std::string(),
            const std::string& book = std::string());

    // 0 <= x <= 255 and 0 <= y <= 65535.
    bool is_valid() const;
    // Moves the relative coordinates; an absolute one stays put. No range check (the sum
    // saturates at the int limits rather than wrapping).
    void shift(int dx, int dy);
    // Same cell, both coordinates absolute.
    CellRef fixed() const;

    // The cell with its book and sheet prefix, names always quoted; a book without a
    // sheet is not printed. Throws ExcelException for a cell off the sheet, writing nothing.
    void print(std::ostream& os) const;
    // The cell part alone ("$A$1"). Throws like print.
    void print_cell_name(std::ostream& os) const;
    std::string to_string() const;
    std::string cell_name() const;

    // A1 or R1C1 text; returns the number of characters consumed from the start.
    static std::size_t parse_ref(const std::string& text, CellRef& ref);
    // True when the whole text is one cell reference. Never throws ExcelException.
    static bool coerce_to_cell(const std::string& text, CellRef& ref);
    // A1 notation only; assigns ref only on success.
    static std::size_t parse_ref_ln(const std::string& text, CellRef& ref);
    // R1C1 notation only (absolute numbers); assigns ref only on success.
    static std::size_t parse_ref_rc(const std::string& text, CellRef& ref);
    // One R1C1 part: the letter, then a number. Returns 1 plus the length of the number's
    // canonical decimal text, which callers rely on as the part's length.
    static std::size_t parse_ref_rc_part(const std::string& text, char letter, int& number);
    // Splits the "[book]sheet!" prefix off; returns the index after the "!", or 0 if none.
    static std::size_t parse_book_sheet_name(const std::string& text, std::string& book, std::string& sheet);

    int x;        // zero-based column, A = 0
    int y;        // zero-based row, row 1 = 0
    bool x_fixed; // column written with "$"
    bool y_fixed; // row written with "$"
    std::string sheet;
    std::string book;
};

// All six fields equal.
bool operator==(const CellRef& a, const CellRef& b);
bool operator!=(const CellRef& a, const CellRef& b);

std::ostream& operator<<(std::ostream& os, const CellRef& ref);

} // namespace excel

#endif
