// The host's books of the memory it hands out.

#include "api/Memory.hpp"

#include <gtest/gtest.h>

namespace host::api {
namespace {

XLOPER string_value(char* s) {
    XLOPER v;
    v.val.str = s;
    v.xltype = xltypeStr;
    return v;
}

TEST(ApiAllocations, ArraysGoWithTheirStrings) {
    Allocations a;
    XLOPER* array = a.make_array(3);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(array[i].xltype, xltypeNil);
    char* s = a.make_string("x");
    a.adopt_element_string(array, s);
    array[1] = string_value(s);
    EXPECT_EQ(a.outstanding(), 2u);
    // An element's string is part of the array: not released on its own.
    EXPECT_FALSE(a.release(array[1]));
    EXPECT_FALSE(a.release_block(s));
    // The add-in may overwrite the element: the array still knows its string.
    array[1].xltype = xltypeNum;
    XLOPER m;
    m.val.array.lparray = array;
    m.val.array.rows = 1;
    m.val.array.columns = 3;
    m.xltype = xltypeMulti;
    EXPECT_TRUE(a.release(m));
    EXPECT_EQ(a.outstanding(), 0u);
    EXPECT_EQ(a.total_released(), 2u);
    EXPECT_FALSE(a.release(m));
}

} // namespace
} // namespace host::api
