#ifndef OMBRIX_SOLVER_ENTRY_EXPORTS_HPP
#define OMBRIX_SOLVER_ENTRY_EXPORTS_HPP

// The functions the add-in module exports, under their plain names, with the calling
// convention the spreadsheet uses for add-in callbacks.

#include "excel/framewrk/ExcelApi.hpp"

#if defined(_WIN32)
#define OMBRIX_CALL __stdcall
#define OMBRIX_EXPORT
#else
#define OMBRIX_CALL
#define OMBRIX_EXPORT __attribute__((visibility("default")))
#endif

extern "C" {
OMBRIX_EXPORT int OMBRIX_CALL xlAutoOpen(void);
OMBRIX_EXPORT int OMBRIX_CALL xlAutoClose(void);
OMBRIX_EXPORT int OMBRIX_CALL xlAutoAdd(void);
OMBRIX_EXPORT int OMBRIX_CALL xlAutoRemove(void);
OMBRIX_EXPORT LPXLOPER OMBRIX_CALL xlAddInManagerInfo(LPXLOPER action);
OMBRIX_EXPORT void OMBRIX_CALL xlAutoFree(LPXLOPER value);
OMBRIX_EXPORT int OMBRIX_CALL Solve(void);
OMBRIX_EXPORT int OMBRIX_CALL Options(void);
OMBRIX_EXPORT int OMBRIX_CALL About(void);
OMBRIX_EXPORT int OMBRIX_CALL RunTests(void);
OMBRIX_EXPORT int OMBRIX_CALL Test(void);
OMBRIX_EXPORT int OMBRIX_CALL CheckInstance(void);
}

#endif
