#ifndef OMBRIX_APP_CONVERGENCE_HPP
#define OMBRIX_APP_CONVERGENCE_HPP

// How a run's search progressed, from what the host saw of it: every evaluation (the
// variable cells written, the objective read back), grouped into generations by the
// population size and into trials by the generations per trial that the dialog was given.
// Recorded as the run goes, in memory that depends on the population and the generations,
// never on the number of evaluations: the table keeps a row per generation, the trace goes
// to its file a generation at a time.

#include "engine/Value.hpp"
#include "engine/Workbook.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace app {

// One generation of one trial. The statistics cover the objectives that are numbers; a
// generation with none has count 0 and its best and mean are NaN, as is best_so_far until
// a trial has seen a number.
struct GenerationRow {
    std::uint64_t trial = 0;      // from 1
    std::uint64_t generation = 0; // from 1, within the trial
    double best_so_far = 0;
    double best = 0;
    double mean = 0;
    std::uint64_t count = 0;
};

// The convergence table, built an objective at a time: the complete generations, of
// `population` evaluations each, in trials of `generations_per_trial` generations; best is
// the largest objective when `maximise`. No rows when population or generations_per_trial
// is 0.
class ConvergenceTable {
public:
    ConvergenceTable(std::uint64_t population, std::uint64_t generations_per_trial, bool maximise);
    void add(const host::engine::Value& objective);
    const std::vector<GenerationRow>& rows() const { return rows_; }

private:
    std::uint64_t population_, generations_per_trial_;
    bool maximise_;
    std::vector<GenerationRow> rows_;
    // The generation under way.
    std::uint64_t seen_ = 0, count_ = 0;
    double best_, sum_ = 0, best_so_far_;
};

// The same table of a whole run's objectives.
std::vector<GenerationRow> convergence(const std::vector<host::engine::Value>& objectives, std::uint64_t population,
                                       std::uint64_t generations_per_trial, bool maximise);

// The evaluations as CSV, written as they come: a header (evaluation, trial, generation,
// objective, then each variable's cell), then a row per evaluation. Trial and generation are
// empty for the evaluations of a generation left incomplete, so a generation's rows are held
// until it completes, and finish() writes those of the last one.
class TraceWriter {
public:
    using Sink = std::function<void(const std::string&)>;
    TraceWriter(Sink sink, const std::vector<std::string>& variable_names, std::uint64_t population,
                std::uint64_t generations_per_trial);
    void add(const host::engine::Value& objective, const std::vector<host::engine::Value>& variables);
    void finish();

private:
    void write_held(bool complete);

    Sink sink_;
    std::uint64_t population_, generations_per_trial_;
    std::uint64_t evaluations_ = 0;
    std::vector<std::string> held_; // the generation under way: each row from its objective on
};

// What the host sees of a run, recorded as it goes for the report, the chart and the trace.
// Recording never fails the run: whatever goes wrong stops that part of the record (the trace
// on a full disk; everything when memory runs out), and table_failure() and trace_failure()
// say what for the command to report once the run is over.
class RunRecorder {
public:
    // The convergence table is kept when `table` is set (for the report and the chart).
    RunRecorder(std::vector<host::engine::CellAddress> variables, std::uint64_t population,
                std::uint64_t generations_per_trial, bool maximise, bool table = true);
    // Streams the trace through `sink` (which may throw) from now on.
    void trace_to(TraceWriter::Sink sink, const std::vector<std::string>& variable_names) noexcept;
    // One evaluation: the objective's value and the variables' as written (any not written,
    // as the book holds it).
    void record(const host::engine::Workbook& book, const host::engine::Value& objective,
                const std::vector<std::pair<host::engine::CellAddress, host::engine::Value>>& written) noexcept;
    // The run is over: the trace's last rows.
    void finish() noexcept;
    // Evaluations past the first `evaluations` (a local search after the last generation) are
    // traced but belong to no generation of the table.
    void tabulate_at_most(std::uint64_t evaluations) { table_limit_ = evaluations; }

    const std::vector<host::engine::CellAddress>& variables() const { return variables_; }
    const std::vector<GenerationRow>& table() const { return table_rows_.rows(); }
    // Why the table (and so everything) or the trace stopped, if it did.
    std::optional<std::string> table_failure() const { return table_.failure(); }
    std::optional<std::string> trace_failure() const;

private:
    // What went wrong with one part of the record.
    class Part {
    public:
        // Runs `work`, turning whatever it throws into this part's failure; false then.
        template <class Work>
        bool guarded(Work work) noexcept;
        bool failed() const { return failed_; }
        std::optional<std::string> failure() const;

    private:
        void fail(const char* why) noexcept;
        bool failed_ = false;
        std::string why_;
    };

    std::vector<host::engine::CellAddress> variables_;
    std::uint64_t population_, generations_per_trial_;
    ConvergenceTable table_rows_;
    bool keep_table_;
    Part table_, trace_part_;
    std::unique_ptr<TraceWriter> trace_;
    std::vector<host::engine::Value> values_; // the variables' values, reused
    std::uint64_t table_limit_ = UINT64_MAX, evaluations_ = 0;
};

} // namespace app

#endif
