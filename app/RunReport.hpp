#ifndef OMBRIX_APP_RUNREPORT_HPP
#define OMBRIX_APP_RUNREPORT_HPP

// What `solve --report` and `--chart` show of a finished run: the answer report sheet (the
// run's facts, then its convergence table and a chart of it) and the chart alone as SVG.

#include "Convergence.hpp"

#include "engine/Value.hpp"
#include "io/ReportSheet.hpp"

#include <ctime>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace app {

struct ReportVariable {
    std::string cell;
    host::engine::Value minimum, maximum, original, final;
};

// A run's facts, as the command saw them.
struct RunSummary {
    std::time_t started = 0;
    bool date1904 = false; // the workbook's date system, for the date cell
    std::string book, sheet;
    std::vector<ReportVariable> variables;
    std::string objective; // "Sheet1!B16"
    host::engine::Value objective_original, objective_final;
    std::string goal;
    std::vector<std::pair<std::string, std::string>> settings; // the dialog's labels and values
    std::uint64_t evaluations = 0;
    std::optional<std::uint64_t> generations;
    double seconds = 0;
    std::string ended; // completed, interrupted, time-limit
};

// The report sheet: the summary from A1 down, the convergence table below it, and a line chart
// of the table (best so far solid and generation mean dashed, one colour per trial) beside them.
// A sheet has `max_rows` rows: a longer table is thinned to fit, and a line says so.
host::io::ReportSheet report_sheet(const RunSummary& run, const std::vector<GenerationRow>& table,
                                   std::size_t max_rows = 1048576);

// The rows of `table` a sheet with room for `room` of them shows: all when they fit, else a
// row of every so many generations of each trial from its first, and each trial's last, in order.
std::vector<std::size_t> thinned_rows(const std::vector<GenerationRow>& table, std::size_t room);

// The same chart as a standalone SVG picture.
std::string convergence_svg(const std::vector<GenerationRow>& table, const std::string& objective);

// A time as a serial date of the spreadsheet: days since 1899-12-30, or since 1904-01-01.
double serial_date(std::time_t when, bool date1904);

} // namespace app

#endif
