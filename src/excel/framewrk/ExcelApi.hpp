#ifndef OMBRIX_EXCEL_FRAMEWRK_EXCELAPI_HPP
#define OMBRIX_EXCEL_FRAMEWRK_EXCELAPI_HPP

// The spreadsheet's callback API as both sides of the conversation see it: the value
// record, its type codes, the return codes and the function numbers the add-in uses.
// The add-in and the host stand-in both include this header, so it holds declarations
// only, no add-in logic. Names keep the platform's own form.

#include <cstdint>

// Calling convention of the callback entry. On 32-bit Windows the vector form is
// __stdcall; everywhere else (64-bit Windows, Linux) there is one convention.
#if defined(_WIN32) && !defined(_WIN64)
#define XLCALL_CONV __stdcall
#else
#define XLCALL_CONV
#endif

// Sheet identifier carried by an xltypeRef. The platform makes it pointer sized:
// 32 bits in the i686 build, 64 bits in the 64-bit builds.
typedef std::uintptr_t IDSHEET;

// A rectangle of cells: 16-bit rows (65,536) and 8-bit columns (256), zero based,
// inclusive on both ends.
typedef struct xlref {
    std::uint16_t rwFirst;
    std::uint16_t rwLast;
    std::uint8_t colFirst;
    std::uint8_t colLast;
} XLREF, *LPXLREF;

// A list of rectangles; the add-in only ever uses a list of one.
typedef struct xlmref {
    std::uint16_t count;
    XLREF reftbl[1];
} XLMREF, *LPXLMREF;

// The value record: a value part, then the 16-bit type word. Strings are counted: the
// first byte is the length (0 to 255), then the characters, no terminator required.
// Arrays (xltypeMulti) are stored row by row.
//
// The value part is aligned on 8 bytes because the 32-bit Windows record aligns its
// double so; this makes every 32-bit target agree on the 16-byte record. On 64-bit
// targets the pointers are 8 bytes and the record is larger: code that depends on its
// size says sizeof(XLOPER), never 16.
typedef struct xloper {
    union alignas(8) {
        double num;
        char* str;
        std::uint16_t xbool;
        std::uint16_t err;
        std::int16_t w;
        struct {
            std::uint16_t count;
            XLREF ref;
        } sref;
        struct {
            XLMREF* lpmref;
            IDSHEET idSheet;
        } mref;
        struct {
            struct xloper* lparray;
            std::uint16_t rows;
            std::uint16_t columns;
        } array;
    } val;
    std::uint16_t xltype;
} XLOPER, *LPXLOPER;

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(XLOPER) == 16, "the 32-bit value record is 16 bytes");
static_assert(sizeof(XLMREF) == 8, "the 32-bit reference list of one rectangle is 8 bytes");
static_assert(sizeof(XLREF) == 6, "a rectangle is 6 bytes");
#endif

// Type codes (the xltype word).
enum : std::uint16_t {
    xltypeNum = 1,
    xltypeStr = 2,
    xltypeBool = 4,
    xltypeRef = 8,
    xltypeErr = 16,
    xltypeMulti = 64,
    xltypeMissing = 128,
    xltypeNil = 256,
    xltypeSRef = 1024,
    xltypeInt = 2048,
    // Set on a value the add-in returns: the spreadsheet hands it back through
    // xlAutoFree when it is done with it.
    xlbitDLLFree = 0x4000
};

// Return codes of Excel4 / Excel4v.
enum : int {
    xlretSuccess = 0,
    xlretAbort = 1,
    xlretInvCount = 4,
    xlretStackOvfl = 16,
    xlretFailed = 32,
    xlretUncalced = 64
};

// Function numbers.
enum : int {
    // Special functions of the callback API.
    xlFree = 16384,
    xlAbort = 16385,
    xlCoerce = 16386,
    xlSet = 16387,
    xlSheetId = 16388,
    xlSheetNm = 16389,
    xlGetName = 16393,
    // Beyond the spreadsheet's own numbers: a host that evaluates several candidates at once
    // answers it (see solver/ExcelObjFunc.hpp); the spreadsheet refuses it as unknown.
    xlEvaluateBatch = 16640,
    // Worksheet and macro-sheet functions.
    xlfOr = 37,
    xlfSetName = 88,
    xlfCaller = 89,
    xlfIstext = 127,
    xlfRegister = 149,
    xlfAddMenu = 152,
    xlfDeleteMenu = 158,
    xlfDialogBox = 161,
    xlfGetBar = 182,
    xlfGetWorkspace = 186,
    xlfUnregister = 201,
    xlfRegisterId = 267,
    // Commands.
    xlcClose = 32784,
    xlcActivate = 32871,
    xlcAlert = 32886,
    xlcNew = 32887,
    xlcMessage = 32890,
    xlcEcho = 32909
};

// The most arguments one callback takes; more answer xlretInvCount.
constexpr int max_callback_args = 30;

// The two callback entries. The spreadsheet program provides Excel4v: on Windows from its
// call library, on Linux from the host program that loads the add-in. The add-in builds
// its variadic Excel4 over it (excel/framewrk/Excel4.cpp).
extern "C" {
int Excel4(int xlfn, LPXLOPER operRes, int count, ...);
int XLCALL_CONV Excel4v(int xlfn, LPXLOPER operRes, int count, LPXLOPER opers[]);
}

#endif
