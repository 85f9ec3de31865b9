// A convergence table longer than the sheet: the rows the report keeps, and the sheet never
// passes its last row.
#include "RunReport.hpp"

#include <gtest/gtest.h>

#include <algorithm>

#include <set>
#include <string>
#include <vector>

namespace {

std::vector<app::GenerationRow> table_of(const std::vector<std::uint64_t>& trial_lengths) {
    std::vector<app::GenerationRow> table;
    for (std::size_t t = 0; t < trial_lengths.size(); ++t)
        for (std::uint64_t g = 1; g <= trial_lengths[t]; ++g)
            table.push_back({t + 1, g, 0, 0, 0, 2});
    return table;
}

struct ThinCase {
    std::vector<std::uint64_t> trials; // generations of each
    std::size_t room;
    std::size_t kept; // how many rows are kept
    bool ends;        // each trial's first and last are among them
};

TEST(ReportThinning, KeepsWhatFitsWithEachTrialsEnds) {
    const ThinCase cases[] = {
        {{5}, 10, 5, true},         // fits: all
        {{10}, 10, 10, true},       //
        {{11}, 10, 6, true},        // every second from the first (the last among them)
        {{100, 100}, 20, 12, true}, // every 20th of each, and its last
        {{1000}, 3, 3, true},       //
        {{3, 3, 3}, 5, 5, false},   // too many trials for their ends: evenly over the table
        {{4}, 0, 0, false},         //
    };
    for (const ThinCase& c : cases) {
        const std::vector<app::GenerationRow> table = table_of(c.trials);
        SCOPED_TRACE(std::to_string(table.size()) + " rows in " + std::to_string(c.room));
        const std::vector<std::size_t> kept = app::thinned_rows(table, c.room);
        EXPECT_EQ(kept.size(), c.kept);
        EXPECT_TRUE(std::is_sorted(kept.begin(), kept.end()));
        EXPECT_EQ(std::set<std::size_t>(kept.begin(), kept.end()).size(), kept.size());
        if (c.ends) {
            std::size_t start = 0;
            for (std::uint64_t length : c.trials) {
                EXPECT_TRUE(std::count(kept.begin(), kept.end(), start));
                EXPECT_TRUE(std::count(kept.begin(), kept.end(), start + length - 1));
                start += length;
            }
        }
    }
}

TEST(ReportThinning, TheSheetStaysInsideItsRowsAndSaysSo) {
    app::RunSummary run;
    for (std::size_t max_rows : {60, 80, 200}) {
        SCOPED_TRACE(max_rows);
        const host::io::ReportSheet sheet = app::report_sheet(run, table_of({90, 40}), max_rows);
        EXPECT_LE(sheet.rows.size(), max_rows);
        bool said = false;
        for (const auto& row : sheet.rows)
            said = said || (!row.empty() && row[0].value.is_text() &&
                            std::string(row[0].value.as_text()).find("longer than a sheet") != std::string::npos);
        EXPECT_EQ(said, max_rows < 200);
        for (const host::io::ReportSeries& s : sheet.charts.at(0).series)
            EXPECT_LT(s.last_row, sheet.rows.size());
    }
}

} // namespace
