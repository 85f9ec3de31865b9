#include "solver/CellSnapshot.hpp"

#include "excel/ExcelException.hpp"

namespace {

excel::Range::XLOperHandle read(const excel::Range& range) {
    try {
        return range.lookup_cell_values();
    } catch (const excel::ExcelException&) {
        return excel::Range::XLOperHandle();
    }
}

} // namespace

CellSnapshot::CellSnapshot(const excel::RangeRef& cells) : range(cells), saved(read(range)) {}

bool CellSnapshot::restore() const {
    if (!saved.live)
        return false;
    // xlSet only reads its arguments, but takes them as non-const.
    XLOPER target = range.ref;
    XLOPER contents = saved.value;
    return Excel4(xlSet, nullptr, 2, &target, &contents) == xlretSuccess;
}
