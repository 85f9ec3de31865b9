#ifndef OMBRIX_EXCEL_RANGE_HPP
#define OMBRIX_EXCEL_RANGE_HPP

#include "excel/RangeRef.hpp"
#include "excel/framewrk/ExcelApi.hpp"

#include <string>
#include <vector>

namespace excel {

// A block of cells read and written as numbers. Like Cell it addresses the active sheet,
// or the sheet its reference names. Writes are staged in an array the range owns, so the
// hot path (write a vector, recalculate, read) allocates nothing. Not copyable.
class Range {
public:
    // A value the spreadsheet filled; released with xlFree when it goes out of scope.
    class XLOperHandle {
    public:
        XLOperHandle() : live(false) { value.xltype = xltypeNil; }
        XLOperHandle(XLOperHandle&& other) noexcept : value(other.value), live(other.live) { other.live = false; }
        XLOperHandle(const XLOperHandle&) = delete;
        XLOperHandle& operator=(const XLOperHandle&) = delete;
        XLOperHandle& operator=(XLOperHandle&&) = delete;
        ~XLOperHandle();

        const XLOPER& operator*() const { return value; }
        const XLOPER* operator->() const { return &value; }

        XLOPER value;
        bool live; // filled by the spreadsheet, so ours to release
    };

    // Both throw ExcelException for a range off the sheet, or a named sheet that is not
    // open; the text form lets parse errors through.
    explicit Range(const RangeRef& r);
    explicit Range(const std::string& text);
    ~Range();
    Range(const Range&) = delete;
    Range& operator=(const Range&) = delete;

    void init(const RangeRef& r);

    int height() const { return mref_.reftbl[0].rwLast - mref_.reftbl[0].rwFirst + 1; }
    int width() const { return mref_.reftbl[0].colLast - mref_.reftbl[0].colFirst + 1; }

    // The current contents as an array of the range's shape.
    XLOperHandle lookup_cell_values() const;

    // Readers resize out to the values they read; every element must be a number.
    void get(std::vector<double>& out) const;            // all cells, row by row
    void get_col_vector(std::vector<double>& out) const; // the first column
    void get_row_vector(std::vector<double>& out) const; // the first row

    // Writers check the size of v before anything is written.
    void set(const std::vector<double>& v) const;      // all cells, row by row
    void set_cols(const std::vector<double>& v) const; // every column gets v
    void set_rows(const std::vector<double>& v) const; // every row gets v

    XLOPER ref;    // the cells: xltypeSRef, or xltypeRef on a named sheet
    XLOPER values; // xltypeMulti staging area of the range's shape, owned

private:
    void write() const;

    XLMREF mref_;
};

} // namespace excel

#endif
