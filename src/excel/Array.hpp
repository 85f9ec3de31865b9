#ifndef OMBRIX_EXCEL_ARRAY_HPP
#define OMBRIX_EXCEL_ARRAY_HPP

#include "excel/Allocator.hpp"
#include "excel/framewrk/ExcelApi.hpp"

#include <cstddef>

namespace excel {

// A two-dimensional array value (xltypeMulti), elements row by row. Either built here
// (elements from Array::allocator, all empty to begin with) or filled by the spreadsheet
// from a reference or an array (released with xlFree). Not copyable.
class Array {
public:
    // Throws ExcelException when either count is 0 or too large for the value record.
    Array(unsigned rows, unsigned columns);
    // The source must be an array or a reference (else Error VALUE); the spreadsheet
    // converts it, and failures are as throw_on_bad_ret decides.
    explicit Array(const XLOPER* source);
    ~Array();

    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;

    unsigned rows() const { return value.val.array.rows; }
    unsigned columns() const { return value.val.array.columns; }
    std::size_t size() const { return static_cast<std::size_t>(elements_end - value.val.array.lparray); }
    XLOPER& operator()(unsigned row, unsigned column) {
        return value.val.array.lparray[std::size_t(row) * columns() + column];
    }
    XLOPER* begin() { return value.val.array.lparray; }
    XLOPER* end() { return elements_end; }
    LPXLOPER xloper() { return &value; }

    static Allocator allocator;

    bool owned;
    XLOPER value;
    XLOPER* elements_end;
};

// An array read from the spreadsheet together with its elements as numbers: numbers as
// they are, empty cells 0.0; an error cell throws Error with its code, anything else
// Error VALUE.
class ArrayDouble : public Array {
public:
    explicit ArrayDouble(const XLOPER* source);
    ~ArrayDouble();

    double at(unsigned row, unsigned column) const { return doubles[std::size_t(row) * columns() + column]; }
    const double* begin_doubles() const { return doubles; }
    const double* end_doubles() const { return doubles_end; }

    static Allocator allocator;

    double* doubles;
    double* doubles_end;
};

} // namespace excel

#endif
