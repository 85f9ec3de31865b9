#ifndef OMBRIX_APP_PARALLELBATCH_HPP
#define OMBRIX_APP_PARALLELBATCH_HPP

// The host's batches evaluated on several copies of the workbook at once: the book itself on
// the calling thread, and jobs - 1 copies, each opened by its own thread from start() (or
// the first batch) and kept for the next ones. Started before the book itself is opened, a
// copy opens on a core that would otherwise sit idle and is ready for the first batch; a
// copy joins the batches once it is open. Copies are kept in step by replaying every write the
// add-in made outside batches. A recalculation of a book whose read cells call no volatile
// function, and that computes no circular reference by iteration, depends only on its cells,
// so each candidate's values are the ones the book alone would give, whichever copy computed
// them.

#include "api/Host.hpp"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace app {

// The cores this process may run on.
unsigned int available_cores();

class ParallelBatch : public host::api::BatchEvaluator {
public:
    // copy: a fresh workbook as the book was before the add-in wrote to it (opened again).
    ParallelBatch(unsigned int jobs, std::function<host::engine::Workbook()> copy);
    ~ParallelBatch() override;
    // Starts opening the copies now rather than at the first batch.
    void start();
    // The copies quit and free their books, meanwhile; later batches go on the book alone.
    void finish();
    ParallelBatch(const ParallelBatch&) = delete;
    ParallelBatch& operator=(const ParallelBatch&) = delete;

    unsigned int workers() const override { return jobs_; }
    void wrote(const std::vector<std::pair<host::engine::CellAddress, host::engine::Value>>& cells) override;
    // The book ends holding the last row, recalculated: it evaluates that row itself, last.
    bool evaluate(host::engine::Workbook& book, const std::vector<host::engine::CellAddress>& write,
                  const std::vector<std::vector<host::engine::Value>>& rows,
                  const std::vector<host::engine::CellAddress>& read,
                  std::vector<std::vector<host::engine::Value>>& results) override;

    // How many rows the copies evaluated, over all batches.
    std::uint64_t rows_on_copies() const { return on_copies_; }

private:
    struct Job {
        const std::vector<host::engine::CellAddress>* write;
        const std::vector<std::vector<host::engine::Value>>* rows;
        const std::vector<host::engine::CellAddress>* read;
        std::vector<std::vector<host::engine::Value>>* results;
        std::size_t shared; // rows 0 .. shared-1 go to whoever is free
    };
    void work(); // a copy's thread
    void take_rows(host::engine::Workbook& on, const Job& job, bool& failed);
    // Whether a recalculation's values in `read` depend on more than the cells: a volatile
    // function, or a circular reference computed by iteration. Such batches are refused.
    bool depends_on_history(const host::engine::Workbook& book, const std::vector<host::engine::CellAddress>& read);

    unsigned int jobs_;
    std::function<host::engine::Workbook()> copy_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    const Job* job_ = nullptr; // the batch under way, if any
    std::uint64_t batch_ = 0;  // batches started
    unsigned int busy_ = 0;    // copies inside the batch under way
    bool quit_ = false;
    bool failed_ = false;
    std::atomic<std::size_t> next_{0};
    std::atomic<unsigned int> taking_{0}; // copies taking rows of the batch under way
    std::atomic<std::uint64_t> on_copies_{0};
    // The last value written outside batches to each cell, and when (a count of writes).
    std::map<host::engine::CellAddress, std::pair<host::engine::Value, std::uint64_t>> written_;
    std::uint64_t writes_ = 0;
    std::map<std::vector<host::engine::CellAddress>, bool> history_reads_;
};

} // namespace app

#endif
