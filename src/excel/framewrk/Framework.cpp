#include "excel/framewrk/Framework.hpp"

#include <cstdarg>
#include <cstring>

namespace {

alignas(XLOPER) char vMemBlock[temp_memory_size];
int vOffsetMemBlock = 0;

// A block for one value record. Value records need their own alignment; raw blocks are
// only kept even, so after an odd-sized raw request the record skips to the next
// aligned offset. Records alone (all multiples of the alignment) never skip anything.
LPXLOPER temp_xloper() {
    const int align = static_cast<int>(alignof(XLOPER));
    const int saved = vOffsetMemBlock;
    vOffsetMemBlock = (vOffsetMemBlock + align - 1) / align * align;
    char* block = GetTempMemory(sizeof(XLOPER));
    if (block == nullptr) {
        vOffsetMemBlock = saved;
        return nullptr;
    }
    return reinterpret_cast<LPXLOPER>(block);
}

} // namespace

int Excel(int xlfn, LPXLOPER pxResult, int count, ...) {
    va_list args;
    va_start(args, count);
    const int ret = Excel4v_list(xlfn, pxResult, count, args);
    va_end(args);
    FreeAllTempMemory();
    return ret;
}

char* GetTempMemory(std::size_t bytes) {
    const std::size_t offset = static_cast<std::size_t>(vOffsetMemBlock);
    if (bytes > temp_memory_size - offset)
        return nullptr;
    std::size_t next = offset + bytes;
    next += next & 1u;
    vOffsetMemBlock = static_cast<int>(next);
    return vMemBlock + offset;
}

void FreeAllTempMemory() { vOffsetMemBlock = 0; }

int TempMemoryOffset() { return vOffsetMemBlock; }

LPXLOPER TempNum(double d) {
    LPXLOPER x = temp_xloper();
    if (x != nullptr) {
        x->xltype = xltypeNum;
        x->val.num = d;
    }
    return x;
}

LPXLOPER TempStr(char* text) {
    LPXLOPER x = temp_xloper();
    if (x != nullptr) {
        // A counted string cannot say more than 255; the rest of the text is not sent.
        std::size_t n = std::strlen(text + 1);
        if (n > 255)
            n = 255;
        text[0] = static_cast<char>(n);
        x->xltype = xltypeStr;
        x->val.str = text;
    }
    return x;
}

LPXLOPER TempBool(int b) {
    LPXLOPER x = temp_xloper();
    if (x != nullptr) {
        x->xltype = xltypeBool;
        x->val.xbool = b ? 1 : 0;
    }
    return x;
}

LPXLOPER TempInt(short i) {
    LPXLOPER x = temp_xloper();
    if (x != nullptr) {
        x->xltype = xltypeInt;
        x->val.w = i;
    }
    return x;
}

LPXLOPER TempErr(unsigned short err) {
    LPXLOPER x = temp_xloper();
    if (x != nullptr) {
        x->xltype = xltypeErr;
        x->val.err = err;
    }
    return x;
}

LPXLOPER TempMissing() {
    LPXLOPER x = temp_xloper();
    if (x != nullptr)
        x->xltype = xltypeMissing;
    return x;
}

LPXLOPER TempActiveRef(unsigned short rwFirst, unsigned short rwLast, unsigned char colFirst, unsigned char colLast) {
    const int saved = vOffsetMemBlock;
    LPXLOPER x = temp_xloper();
    char* block = x != nullptr ? GetTempMemory(sizeof(XLMREF)) : nullptr;
    if (block == nullptr) {
        vOffsetMemBlock = saved;
        return nullptr;
    }
    // Direct call: going through Excel() would empty the pool under our feet.
    if (Excel4(xlSheetId, x, 0) != xlretSuccess)
        return nullptr;
    LPXLMREF mref = reinterpret_cast<LPXLMREF>(block);
    mref->count = 1;
    mref->reftbl[0].rwFirst = rwFirst;
    mref->reftbl[0].rwLast = rwLast;
    mref->reftbl[0].colFirst = colFirst;
    mref->reftbl[0].colLast = colLast;
    x->xltype = xltypeRef;
    x->val.mref.lpmref = mref; // idSheet stays as the spreadsheet wrote it
    return x;
}

LPXLOPER TempActiveCell(unsigned short rw, unsigned char col) { return TempActiveRef(rw, rw, col, col); }

LPXLOPER TempActiveRow(unsigned short rw) { return TempActiveRef(rw, rw, 0, 255); }

LPXLOPER TempActiveColumn(unsigned char col) { return TempActiveRef(0, 16383, col, col); }
