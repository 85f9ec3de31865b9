#include "excel/Array.hpp"

#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/framewrk/Framework.hpp"

#include <cstdint>

namespace excel {

Allocator Array::allocator(32, 256);
Allocator ArrayDouble::allocator(256, 2048);

Array::Array(unsigned rows, unsigned columns) : owned(true), elements_end(nullptr) {
    // An empty array has no storage to describe, and the counts are 16-bit in the record.
    if (rows == 0 || columns == 0)
        throw ExcelException("An array needs at least one row and one column");
    if (rows > 0xFFFFu || columns > 0xFFFFu)
        throw ExcelException("An array may have at most 65535 rows and 65535 columns");
    const std::uint64_t n = std::uint64_t(rows) * columns;
    const std::uint64_t bytes = n * sizeof(XLOPER);
    if (bytes > UINT32_MAX)
        throw ExcelException("Array too large");

    XLOPER* elements = static_cast<XLOPER*>(allocator.allocate(static_cast<std::uint32_t>(bytes)));
    elements_end = elements + n;
    for (XLOPER* e = elements; e != elements_end; ++e)
        e->xltype = xltypeNil;
    value.xltype = xltypeMulti;
    value.val.array.lparray = elements;
    value.val.array.rows = static_cast<std::uint16_t>(rows);
    value.val.array.columns = static_cast<std::uint16_t>(columns);
}

Array::Array(const XLOPER* source) : owned(false), elements_end(nullptr) {
    value.xltype = xltypeNil;
    if (source->xltype != xltypeMulti && source->xltype != xltypeSRef && source->xltype != xltypeRef)
        throw ErrorVALUE;
    throw_on_bad_ret(
        static_cast<std::uint16_t>(Excel(xlCoerce, &value, 2, const_cast<LPXLOPER>(source), TempInt(xltypeMulti))));
    if (value.xltype != xltypeMulti) {
        Excel(xlFree, nullptr, 1, &value);
        throw ErrorVALUE;
    }
    elements_end = value.val.array.lparray + std::size_t(value.val.array.rows) * value.val.array.columns;
}

Array::~Array() {
    if (owned)
        allocator.deallocate(value.val.array.lparray);
    else
        Excel(xlFree, nullptr, 1, &value);
}

ArrayDouble::ArrayDouble(const XLOPER* source) : Array(source), doubles(nullptr), doubles_end(nullptr) {
    const std::size_t n = size();
    if (n == 0)
        return;
    if (n > UINT32_MAX / sizeof(double)) {
        Excel(xlFree, nullptr, 1, &value);
        owned = true; // nothing left for the Array part to release
        value.val.array.lparray = nullptr;
        throw ExcelException("Array too large");
    }
    doubles = static_cast<double*>(allocator.allocate(static_cast<std::uint32_t>(n * sizeof(double))));
    doubles_end = doubles + n;
    const XLOPER* e = value.val.array.lparray;
    for (std::size_t i = 0; i < n; ++i, ++e) {
        switch (e->xltype) {
        case xltypeNum: doubles[i] = e->val.num; break;
        case xltypeNil: doubles[i] = 0.0; break;
        default: {
            // The Array part is released by its own destructor; the numbers are ours.
            const Error error = e->xltype == xltypeErr ? Error(e->val.err) : ErrorVALUE;
            allocator.deallocate(doubles);
            throw error;
        }
        }
    }
}

ArrayDouble::~ArrayDouble() { allocator.deallocate(doubles); }

} // namespace excel
