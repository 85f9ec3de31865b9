// Formulas to and from files: tests/host/engine/file_form.tsv gives each text as a file stores
// it and as the engine reads it from a file the spreadsheet saved.

#include "Fixture.hpp"

#include "engine/FileForm.hpp"

namespace enginetest {
namespace {

TEST(FileForm, NewerFunctionsPrefixedOnTheWayOutUnknownWithoutOnTheWayIn) {
    int rows = 0;
    for (const auto& row : read_rows(OMBRIX_SOURCE_DIR "/tests/host/engine/file_form.tsv")) {
        const auto& c = row.columns;
        ASSERT_EQ(c.size(), 3u) << row.where << ": a row is TEXT, AS STORED, AS READ";
        const std::string stored = c[1] == "same" ? c[0] : c[1], read = c[2] == "same" ? c[0] : c[2];
        EXPECT_EQ(host::engine::formula_for_file(c[0]), stored) << row.where;
        std::string text = c[0];
        EXPECT_EQ(host::engine::unknown_unprefixed_calls(text), read != c[0]) << row.where;
        EXPECT_EQ(text, read) << row.where;
        // What a file stores reads back as itself, and the engine's reading stores as read.
        EXPECT_EQ(host::engine::formula_for_file(stored), stored) << row.where;
        EXPECT_EQ(host::engine::formula_for_file(read), read) << row.where;
        ++rows;
    }
    EXPECT_GT(rows, 0);
}

TEST(FileForm, PrefixesOfFunctions) {
    EXPECT_EQ(host::engine::file_prefix("XLOOKUP"), "_xlfn.");
    EXPECT_EQ(host::engine::file_prefix("FILTER"), "_xlfn._xlws.");
    EXPECT_EQ(host::engine::file_prefix("SUM"), "");
    EXPECT_EQ(host::engine::file_prefix("WORKDAY.INTL"), "");
}

} // namespace
} // namespace enginetest
