#include "excel/Range.hpp"

#include "excel/ExcelException.hpp"
#include "excel/SheetRef.hpp"

#include <cstddef>

namespace excel {

namespace {

RangeRef parse_range(const std::string& text) {
    RangeRef range;
    RangeRef::parse_ref(text, range);
    return range;
}

const XLOPER* elements(const Range::XLOperHandle& h) { return h.value.val.array.lparray; }

} // namespace

Range::XLOperHandle::~XLOperHandle() {
    if (live)
        Excel4(xlFree, nullptr, 1, &value);
}

Range::Range(const RangeRef& r) {
    values.xltype = xltypeMulti;
    values.val.array.lparray = nullptr;
    init(r);
}

Range::Range(const std::string& text) : Range(parse_range(text)) {}

Range::~Range() { delete[] values.val.array.lparray; }

void Range::init(const RangeRef& r) {
    const CellRef last = r.last();
    const XLREF rect =
        sheetref::rectangle(r.first.x, r.first.y, last.x, last.y, "Range reference lies outside the sheet");
    XLOPER fresh_ref;
    XLMREF fresh_mref;
    sheetref::make_reference(fresh_ref, fresh_mref, rect, r.first.book, r.first.sheet);

    const int rows = rect.rwLast - rect.rwFirst + 1;
    const int columns = rect.colLast - rect.colFirst + 1;
    XLOPER* fresh_values = new XLOPER[std::size_t(rows) * columns];

    // Nothing below throws: the range changes all at once or not at all.
    ref = fresh_ref;
    mref_ = fresh_mref;
    sheetref::repoint(ref, mref_);
    delete[] values.val.array.lparray;
    values.xltype = xltypeMulti;
    values.val.array.lparray = fresh_values;
    values.val.array.rows = static_cast<std::uint16_t>(rows);
    values.val.array.columns = static_cast<std::uint16_t>(columns);
}

Range::XLOperHandle Range::lookup_cell_values() const {
    XLOPER target;
    target.xltype = xltypeInt;
    target.val.w = xltypeMulti;
    XLOperHandle h;
    if (Excel4(xlCoerce, &h.value, 2, const_cast<LPXLOPER>(&ref), &target) != xlretSuccess)
        throw ExcelException("Range lookup failed");
    h.live = true; // from here on every exit releases the array
    if (h.value.xltype != xltypeMulti)
        throw ExcelException("Range lookup failed");
    if (h.value.val.array.columns != values.val.array.columns || h.value.val.array.rows != values.val.array.rows)
        throw ExcelException("Range lookup width mismatch");
    return h;
}

void Range::get(std::vector<double>& out) const {
    const XLOperHandle h = lookup_cell_values();
    const std::size_t n = std::size_t(h.value.val.array.rows) * h.value.val.array.columns;
    out.resize(n);
    const XLOPER* e = elements(h);
    for (std::size_t i = 0; i < n; ++i) {
        if (e[i].xltype != xltypeNum)
            throw ExcelException("range element not a double");
        out[i] = e[i].val.num;
    }
}

void Range::get_col_vector(std::vector<double>& out) const {
    const XLOperHandle h = lookup_cell_values();
    const std::size_t rows = h.value.val.array.rows;
    const std::size_t columns = h.value.val.array.columns;
    out.resize(rows);
    const XLOPER* e = elements(h);
    for (std::size_t i = 0; i < rows; ++i) {
        const XLOPER& x = e[i * columns];
        if (x.xltype != xltypeNum)
            throw ExcelException("Column element not a double");
        out[i] = x.val.num;
    }
}

void Range::get_row_vector(std::vector<double>& out) const {
    const XLOperHandle h = lookup_cell_values();
    const std::size_t columns = h.value.val.array.columns;
    out.resize(columns);
    const XLOPER* e = elements(h);
    for (std::size_t i = 0; i < columns; ++i) {
        if (e[i].xltype != xltypeNum)
            throw ExcelException("Row element not a double");
        out[i] = e[i].val.num;
    }
}

void Range::write() const {
    if (Excel4(xlSet, nullptr, 2, const_cast<LPXLOPER>(&ref), const_cast<LPXLOPER>(&values)) != xlretSuccess)
        throw ExcelException("Failed to set range");
}

void Range::set(const std::vector<double>& v) const {
    const std::size_t n = std::size_t(values.val.array.rows) * values.val.array.columns;
    if (v.size() != n)
        throw ExcelException("Range set size mismatch");
    XLOPER* e = values.val.array.lparray;
    for (std::size_t i = 0; i < n; ++i) {
        e[i].xltype = xltypeNum;
        e[i].val.num = v[i];
    }
    write();
}

void Range::set_cols(const std::vector<double>& v) const {
    if (v.size() != static_cast<std::size_t>(height()))
        throw ExcelException("Range set column length mismatch");
    const std::size_t w = static_cast<std::size_t>(width());
    XLOPER* e = values.val.array.lparray;
    for (std::size_t p = 0; p < v.size(); ++p) {
        for (std::size_t q = 0; q < w; ++q) {
            e[p * w + q].xltype = xltypeNum;
            e[p * w + q].val.num = v[p];
        }
    }
    write();
}

void Range::set_rows(const std::vector<double>& v) const {
    if (v.size() != static_cast<std::size_t>(width()))
        throw ExcelException("Range set row length mismatch");
    const std::size_t h = static_cast<std::size_t>(height());
    const std::size_t w = v.size();
    XLOPER* e = values.val.array.lparray;
    for (std::size_t p = 0; p < h; ++p) {
        for (std::size_t q = 0; q < w; ++q) {
            e[p * w + q].xltype = xltypeNum;
            e[p * w + q].val.num = v[q];
        }
    }
    write();
}

} // namespace excel
