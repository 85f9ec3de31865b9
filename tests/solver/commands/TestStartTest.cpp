#include "solver/OmbrixImpl.hpp"

#include "excel/RangeRef.hpp"

#include <gtest/gtest.h>

// Alone in its program: the block Test reads lives as long as the library is loaded.
TEST(TestCommandStart, FirstBlockIsA1ToC3)
{
    EXPECT_EQ(excel::RangeRef("A1:C3"), OmbrixImpl::test_block());
}
