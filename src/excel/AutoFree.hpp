#ifndef OMBRIX_EXCEL_AUTOFREE_HPP
#define OMBRIX_EXCEL_AUTOFREE_HPP

#include "excel/framewrk/ExcelApi.hpp"

namespace excel {

// What the exported xlAutoFree does with a value the add-in returned with xlbitDLLFree:
// a string goes back to String::allocator; an array gives back each of its strings, then
// its element storage to Array::allocator. Any other value (or one without the bit) is
// left alone. Such values must have been built from those allocators; the shared empty
// text that default strings point at is never given back.
void auto_free(LPXLOPER value);

} // namespace excel

#endif
