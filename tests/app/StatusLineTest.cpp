#include "ui/StatusLine.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using host::ui::StatusDisplay;
using host::ui::StatusLine;

TEST(StatusLine, ProgressIsReadFromNestedCounters) {
    const struct {
        const char* text;
        double done;   // < 0: none
    } cases[] = {
        {"Ombrix: trial 1 of 2, generation 1 of 100", 0.0},
        {"Ombrix: trial 2 of 4, generation 3 of 10, best 2344.49", 0.3},
        {"step 5 of 5", 0.8},
        {"copying 3 of 12 files", 2.0 / 12},
        {"best 12 of", -1},
        {"item 7 of 3, 0 of 9, A1 of 4", -1},
        {"working", -1},
    };
    for (const auto& c : cases) {
        std::optional<double> done = host::ui::progress_of(c.text);
        if (c.done < 0)
            EXPECT_FALSE(done) << c.text;
        else
            EXPECT_DOUBLE_EQ(c.done, done.value_or(-1)) << c.text;
    }
}

TEST(StatusLine, InPlaceRewritesOneLineAndClearsIt) {
    std::ostringstream out;
    StatusLine line(out, StatusDisplay::in_place);
    line.show(std::string("Ombrix: trial 2 of 2, generation 1 of 4"));
    line.show(std::string("no counter"));
    line.make_room();
    line.make_room();
    line.show(std::nullopt);
    EXPECT_EQ("\r[#####.....] Ombrix: trial 2 of 2, generation 1 of 4\x1b[K"
              "\rno counter\x1b[K\r\x1b[K",
              out.str());
}

TEST(StatusLine, LinesAreThrottledAndNoneShowsNothing) {
    std::ostringstream lines, none;
    StatusLine logged(lines, StatusDisplay::lines), silent(none, StatusDisplay::none);
    for (const char* text : {"first", "second"}) {
        logged.show(std::string(text));
        silent.show(std::string(text));
    }
    logged.show(std::nullopt);
    EXPECT_EQ("first\n", lines.str()) << "at most one line a second";
    EXPECT_EQ("", none.str());
}

} // namespace
