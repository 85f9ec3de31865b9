#include "ui/StatusLine.hpp"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using host::ui::StatusDisplay;
using host::ui::StatusLine;

TEST(StatusLine, ProgressIsReadFromNestedCounters) {
    const std::pair<const char*, double> cases[] = {// < 0: no progress
                                                    {"Ombrix: trial 1 of 2, generation 1 of 100", 0.0},
                                                    {"trial 2 of 4, step 3 of 10, best 2344.49", 0.3},
                                                    {"copying 3 of 12 files", 2.0 / 12},
                                                    {"best 12 of", -1},
                                                    {"item 7 of 3, 0 of 9, A1 of 4", -1}};
    for (const auto& [text, done] : cases)
        EXPECT_DOUBLE_EQ(done, host::ui::progress_of(text).value_or(-1)) << text;
}

TEST(StatusLine, InPlaceLinesOrNothing) {
    std::ostringstream in_place, lines, none;
    StatusLine a(in_place, StatusDisplay::in_place), b(lines, StatusDisplay::lines), c(none, StatusDisplay::none);
    for (StatusLine* s : {&a, &b, &c}) {
        s->show(std::string("trial 2 of 2, step 1 of 4"));
        s->show(std::string("no counter"));
        s->make_room();
        s->make_room();
        s->show(std::nullopt);
    }
    EXPECT_EQ("\r[#####.....] trial 2 of 2, step 1 of 4\x1b[K\rno counter\x1b[K\r\x1b[K", in_place.str());
    EXPECT_EQ("trial 2 of 2, step 1 of 4\n", lines.str()) << "at most one line a second";
    EXPECT_EQ("", none.str());
}

} // namespace
