// On Windows the spreadsheet's callback library exports only the vector form, Excel4v; the
// add-in's variadic Excel4 is built over it here. On Linux the host program provides both.
#ifdef _WIN32

#include "excel/framewrk/ExcelApi.hpp"

#include <cstdarg>

extern "C" int Excel4(int xlfn, LPXLOPER operRes, int count, ...) {
    // The spreadsheet takes at most 30 arguments.
    constexpr int max_args = 30;
    if (count < 0 || count > max_args)
        return xlretInvCount;
    LPXLOPER args[max_args];
    va_list ap;
    va_start(ap, count);
    for (int i = 0; i < count; ++i)
        args[i] = va_arg(ap, LPXLOPER);
    va_end(ap);
    return Excel4v(xlfn, operRes, count, args);
}

#endif
