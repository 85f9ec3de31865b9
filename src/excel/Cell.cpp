#include "excel/Cell.hpp"

#include "excel/Double.hpp"
#include "excel/ExcelException.hpp"
#include "excel/SheetRef.hpp"

namespace excel {

namespace {

CellRef parse_cell(const std::string& text) {
    CellRef ref;
    CellRef::parse_ref(text, ref);
    return ref;
}

} // namespace

Cell::Cell(const CellRef& ref) {
    const XLREF rect = sheetref::rectangle(ref.x, ref.y, ref.x, ref.y, "Cell reference lies outside the sheet");
    sheetref::make_reference(*this, mref_, rect, ref.book, ref.sheet);
}

Cell::Cell(const std::string& text) : Cell(parse_cell(text)) {}

Cell::Cell(const Cell& other) : XLOPER(other), mref_(other.mref_) { sheetref::repoint(*this, mref_); }

Cell& Cell::operator=(const Cell& other) {
    static_cast<XLOPER&>(*this) = other;
    mref_ = other.mref_;
    sheetref::repoint(*this, mref_);
    return *this;
}

double Cell::get_as_double() const {
    XLOPER target;
    target.xltype = xltypeInt;
    target.val.w = xltypeNum;
    XLOPER result;
    result.xltype = xltypeNil;
    const int code = Excel4(xlCoerce, &result, 2, const_cast<LPXLOPER>(static_cast<const XLOPER*>(this)), &target);
    if (code != xlretSuccess)
        throw ExcelException("Failed to get cell value as double");
    if (result.xltype != xltypeNum) {
        // A cell holding an error value coerces "successfully" to that error.
        Excel4(xlFree, nullptr, 1, &result);
        throw ExcelException("Failed to get cell value as double");
    }
    return result.val.num;
}

void Cell::set(double d) {
    Double value(d);
    if (Excel4(xlSet, nullptr, 2, static_cast<LPXLOPER>(this), static_cast<LPXLOPER>(&value)) != xlretSuccess)
        throw ExcelException("Failed to set cell");
}

} // namespace excel
