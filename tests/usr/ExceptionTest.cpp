#include "usr/Exception.hpp"
#include "excel/ExcelException.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(Exception, MessageAloneGivesOneEntry) {
    usr::Exception e("x");
    EXPECT_STREQ(e.what(), "x");
    EXPECT_EQ(e.format_trace(), "Exception:\tx");
}

TEST(Exception, StdCauseContributesItsText) {
    std::runtime_error cause("disk full");
    usr::Exception e("Saver", cause);
    ASSERT_EQ(e.trail.size(), 1u);
    EXPECT_EQ(e.trail[0].first, "Saver");
    EXPECT_EQ(e.trail[0].second, "disk full");

    usr::Exception f("Outer", "could not save", "runtime_error", cause);
    EXPECT_STREQ(f.what(), "could not save");
    EXPECT_EQ(f.format_trace(), "Outer:\tcould not save\nruntime_error:\tdisk full");
}

TEST(Exception, RethrowKeepsTheWholeTrailNewestLast) {
    usr::Exception inner("Exception", "Dialog index out of bounds", usr::Exception());
    usr::Exception outer("Exception", "M", inner);
    EXPECT_STREQ(outer.what(), "M");
    EXPECT_EQ(outer.format_trace(), "Exception:\tM\nException:\tDialog index out of bounds");
}

TEST(Exception, AppendNamesTheEntryAfterTheNewest) {
    usr::Exception e("Range", "first", usr::Exception());
    e.append("second");
    ASSERT_EQ(e.trail.size(), 2u);
    EXPECT_EQ(e.trail[1].first, "Range");
    EXPECT_STREQ(e.what(), "second");

    usr::Exception empty;
    EXPECT_STREQ(empty.what(), "");
    EXPECT_EQ(empty.format_trace(), "");
    empty.append("late");
    EXPECT_EQ(empty.trail[0].first, "Exception");
}

TEST(Exception, WrapPutsTheInnerTrailOldest) {
    usr::Exception outer("outer");
    outer.wrap(usr::Exception("inner"));
    EXPECT_STREQ(outer.what(), "outer");
    EXPECT_EQ(outer.format_trace(), "Exception:\touter\nException:\tinner");
}

TEST(Exception, ExcelExceptionCarriesOneNamedEntry) {
    excel::ExcelException e("Dialog index out of bounds");
    ASSERT_EQ(e.trail.size(), 1u);
    EXPECT_EQ(e.trail[0].first, "ExcelException");
    e.append("more");
    EXPECT_EQ(e.trail[1].first, "ExcelException");
    try {
        throw excel::ExcelException("M", e);
    } catch (const usr::Exception& caught) {
        EXPECT_EQ(caught.format_trace(),
                  "ExcelException:\tM\nExcelException:\tmore\nExcelException:\tDialog index out of bounds");
    }
}

TEST(ExceptionDeathTest, AssertionReportsAndExits) {
    usr::a_ssert(true, "never shown", "f.cpp", 1);
    EXPECT_EXIT(usr::a_ssert(false, "bad state", "f.cpp", 12), ::testing::ExitedWithCode(1),
                "f\\.cpp\\(12\\)\tASSERTION FAILED: bad state");
    EXPECT_EXIT(usr::fail("gave up", "g.cpp", 7), ::testing::ExitedWithCode(1),
                "g\\.cpp\\(7\\)\tERROR: gave up");
}

} // namespace
