#ifndef OMBRIX_EXCEL_FRAMEWRK_FRAMEWORK_HPP
#define OMBRIX_EXCEL_FRAMEWRK_FRAMEWORK_HPP

// The call layer: one variadic call into the spreadsheet, and short-lived argument values
// handed out from a fixed 1024-byte pool that every such call empties.

#include "excel/framewrk/ExcelApi.hpp"

#include <cstdarg>
#include <cstddef>

// Calls Excel4v with the count argument pointers that follow, then empties the temporary
// pool (whatever the outcome) and returns the spreadsheet's code unchanged. More than
// max_callback_args arguments, or a negative count, answer xlretInvCount without a call.
int Excel(int xlfn, LPXLOPER pxResult, int count, ...);
// The same with the pointers in `args`, leaving the pool as it is (Excel4 is built on it).
int Excel4v_list(int xlfn, LPXLOPER operRes, int count, va_list args);

// bytes from the pool, or null when it cannot supply them (the pool is then unchanged).
// Every block starts on an even offset.
char* GetTempMemory(std::size_t bytes);
void FreeAllTempMemory();
// Offset of the first free byte of the pool (0 when empty).
int TempMemoryOffset();
constexpr std::size_t temp_memory_size = 1024;

// Temporary values, null when the pool is exhausted.
LPXLOPER TempNum(double d);
// text[0] is a placeholder that is overwritten with the length of the rest (capped at 255);
// the value points at the caller's buffer, which must live until the call that uses it.
LPXLOPER TempStr(char* text);
LPXLOPER TempBool(int b);
LPXLOPER TempInt(short i);
LPXLOPER TempErr(unsigned short err);
LPXLOPER TempMissing();

// References on the active sheet (zero-based, inclusive rectangles). They ask the
// spreadsheet for the active sheet's id with a direct Excel4 call, which leaves the pool
// alone; null when the pool is exhausted or the call fails.
LPXLOPER TempActiveRef(unsigned short rwFirst, unsigned short rwLast, unsigned char colFirst, unsigned char colLast);
LPXLOPER TempActiveCell(unsigned short rw, unsigned char col);
LPXLOPER TempActiveRow(unsigned short rw);    // columns 0 to 255
LPXLOPER TempActiveColumn(unsigned char col); // rows 0 to 16383

#endif
