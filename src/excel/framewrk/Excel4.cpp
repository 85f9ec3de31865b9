// The callback library exports only the vector form, Excel4v; the add-in's variadic calls
// are built over it here, on every platform.

#include "excel/framewrk/Framework.hpp"

#include <cstdarg>

int Excel4v_list(int xlfn, LPXLOPER operRes, int count, va_list args) {
    if (count < 0 || count > max_callback_args)
        return xlretInvCount;
    LPXLOPER opers[max_callback_args];
    for (int i = 0; i < count; ++i)
        opers[i] = va_arg(args, LPXLOPER);
    return Excel4v(xlfn, operRes, count, opers);
}

extern "C" int Excel4(int xlfn, LPXLOPER operRes, int count, ...) {
    va_list args;
    va_start(args, count);
    const int ret = Excel4v_list(xlfn, operRes, count, args);
    va_end(args);
    return ret;
}
