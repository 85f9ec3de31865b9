#ifndef OMBRIX_EXCEL_RANGEREF_HPP
#define OMBRIX_EXCEL_RANGEREF_HPP

#include "excel/CellRef.hpp"

#include <cstddef>
#include <iosfwd>
#include <string>

namespace excel {

// A rectangular block of cells: the top-left cell and an exclusive bottom-right corner.
// After construction from two cells or from text, first.x < end.x and first.y < end.y
// (for any coordinates below the int maximum, which covers everything the parsers give).
class RangeRef {
public:
    // Both corners the zero cell (column 0, row 0, relative, no names): the state a
    // reference starts from before text is parsed into it. It covers no cells.
    RangeRef();
    // The range spanned by two opposite corners in any order. Each absolute marker moves
    // with its coordinate; on equal coordinates both corners take b's marker.
    // Throws ExcelException for cells on different books or sheets.
    RangeRef(const CellRef& a, const CellRef& b);
    // width columns and height rows from first (copied whole); end has no flags, no names.
    RangeRef(const CellRef& first, unsigned int width, unsigned int height);
    // Starts from the zero state and runs parse_ref; text after the range is ignored.
    explicit RangeRef(const std::string& text);

    // The bottom-right cell: end less one on each axis, end's flags, no names.
    CellRef last() const;
    // Shifts both corners; absolute coordinates stay, so such a range may grow or shrink.
    void shift(int dx, int dy);
    // Same cells, all four markers set.
    RangeRef fixed() const;
    std::string to_string() const;

    // Two cell references joined by ":"; returns the number of characters consumed.
    // Assigns range only on success.
    static std::size_t parse_ref(const std::string& text, RangeRef& range);
    // True when the whole text is a range or a single cell. Never throws ExcelException.
    static bool coerce_to_range(const std::string& text, RangeRef& range);

    CellRef first; // top-left cell; carries the range's sheet and book
    CellRef end;   // one past the bottom-right cell on both axes; never has names
};

// Both corners equal.
bool operator==(const RangeRef& a, const RangeRef& b);
bool operator!=(const RangeRef& a, const RangeRef& b);

// first with its prefix, ":", then the cell name of last(); a one-cell range prints as
// "A1:A1". Throws ExcelException when either corner is off the sheet, writing nothing.
std::ostream& operator<<(std::ostream& os, const RangeRef& range);

} // namespace excel

#endif
