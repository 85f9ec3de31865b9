#include "excel/AutoFree.hpp"

#include "excel/Array.hpp"
#include "excel/String.hpp"

#include <cstddef>

namespace excel {

namespace {

// The shared empty text of default strings was never allocated: handing it to the
// allocator would give a static to the heap.
void release_string(char* text) {
    if (text != nullptr && text != String::blank)
        String::allocator.deallocate(text);
}

} // namespace

void auto_free(LPXLOPER value) {
    if (value == nullptr)
        return;
    if (value->xltype == (xltypeStr | xlbitDLLFree)) {
        release_string(value->val.str);
    } else if (value->xltype == (xltypeMulti | xlbitDLLFree)) {
        XLOPER* elements = value->val.array.lparray;
        if (elements == nullptr)
            return;
        const std::size_t n = std::size_t(value->val.array.rows) * value->val.array.columns;
        for (std::size_t i = 0; i < n; ++i) {
            if ((elements[i].xltype & xltypeStr) != 0)
                release_string(elements[i].val.str);
        }
        Array::allocator.deallocate(elements);
    }
}

} // namespace excel
