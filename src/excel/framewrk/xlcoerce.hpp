#ifndef OMBRIX_EXCEL_FRAMEWRK_XLCOERCE_HPP
#define OMBRIX_EXCEL_FRAMEWRK_XLCOERCE_HPP

#include "excel/framewrk/ExcelApi.hpp"

// A stand-in for xlCoerce: on spreadsheet version 8.0, a worksheet function's text held in
// a reference is read through automation; every other request goes to xlCoerce unchanged.
// target, when given, is the target type as an xltypeInt value.
int XLCoerce(LPXLOPER result, LPXLOPER source, LPXLOPER target = nullptr);
// The same with a count (1 or 2) and an argument array: source, then the optional target.
// Another count, or a target that is not xltypeInt, answers xlretInvCount.
int XLCoercev(LPXLOPER result, int count, LPXLOPER* args);

#endif
