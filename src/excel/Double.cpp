#include "excel/Double.hpp"

#include "excel/Error.hpp"
#include "excel/framewrk/Framework.hpp"

namespace excel {

Double::Double(const XLOPER* source) {
    xltype = xltypeNil;
    throw_on_bad_ret(
        static_cast<std::uint16_t>(Excel(xlCoerce, this, 2, const_cast<LPXLOPER>(source), TempInt(xltypeNum))));
    if (xltype != xltypeNum) {
        Excel(xlFree, nullptr, 1, static_cast<LPXLOPER>(this));
        throw ErrorVALUE;
    }
}

} // namespace excel
