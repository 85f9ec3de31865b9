#ifndef OMBRIX_EXCEL_DOUBLE_HPP
#define OMBRIX_EXCEL_DOUBLE_HPP

#include "excel/framewrk/ExcelApi.hpp"

namespace excel {

// A number, laid out as one xltypeNum value.
class Double : public XLOPER {
public:
    explicit Double(double d) {
        xltype = xltypeNum;
        val.num = d;
    }
    // The source converted to a number by the spreadsheet; failures as throw_on_bad_ret
    // decides, and Error VALUE if the spreadsheet answers something other than a number.
    explicit Double(const XLOPER* source);

    double get() const { return val.num; }
};

} // namespace excel

#endif
