#include "usr/Exception.hpp"
#include "excel/ExcelException.hpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// what() is the newest message; the trace lists the entries newest first.
TEST(Exception, TrailsOfMessagesCausesRethrowsAndWraps) {
    const std::runtime_error cause("disk full");
    const usr::Exception inner("Exception", "Dialog index out of bounds", usr::Exception());
    usr::Exception wrapped("outer");
    wrapped.wrap(usr::Exception("inner"));
    const struct {
        usr::Exception e;
        const char* what;
        const char* trace;
    } cases[] = {
        {usr::Exception("x"), "x", "Exception:\tx"},
        {usr::Exception("Saver", cause), "disk full", "Saver:\tdisk full"},
        {usr::Exception("Outer", "could not save", "runtime_error", cause), "could not save",
         "Outer:\tcould not save\nruntime_error:\tdisk full"},
        {usr::Exception("Exception", "M", inner), "M", "Exception:\tM\nException:\tDialog index out of bounds"},
        {wrapped, "outer", "Exception:\touter\nException:\tinner"},
    };
    for (const auto& c : cases) {
        EXPECT_STREQ(c.e.what(), c.what);
        EXPECT_EQ(c.e.format_trace(), c.trace);
    }
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
    EXPECT_EXIT(usr::fail("gave up", "g.cpp", 7), ::testing::ExitedWithCode(1), "g\\.cpp\\(7\\)\tERROR: gave up");
}

} // namespace
