#ifndef OMBRIX_APP_PARALLELBATCH_HPP
#define OMBRIX_APP_PARALLELBATCH_HPP

// The host's batches evaluated on several copies of the workbook at once: the book itself and
// jobs - 1 copies, each on its own thread. A copy is made once, at the first batch, and kept in
// step by replaying every write the add-in made outside batches. A recalculation of a book
// with no volatile function depends only on its cells, so each candidate's values are the
// ones the book alone would give, whichever copy computed them.

#include "api/Host.hpp"

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace app {

// The cores this process may run on.
unsigned int available_cores();

class ParallelBatch : public host::api::BatchEvaluator {
public:
    // copy: a fresh workbook as the book was before the add-in wrote to it (opened again).
    ParallelBatch(unsigned int jobs, std::function<host::engine::Workbook()> copy);
    ~ParallelBatch() override;

    unsigned int workers() const override { return jobs_; }
    void wrote(const std::vector<std::pair<host::engine::CellAddress, host::engine::Value>>& cells) override;
    bool evaluate(host::engine::Workbook& book, const std::vector<host::engine::CellAddress>& write,
                  const std::vector<std::vector<host::engine::Value>>& rows,
                  const std::vector<host::engine::CellAddress>& read,
                  std::vector<std::vector<host::engine::Value>>& results) override;

    // Whether a batch was refused because a cell it reads depends on a volatile function.
    bool refused_volatile() const { return refused_volatile_; }

private:
    struct Copy {
        host::engine::Workbook book;
        std::size_t replayed = 0; // writes of the log applied
    };
    bool reads_volatile(const host::engine::Workbook& book, const std::vector<host::engine::CellAddress>& read);

    unsigned int jobs_;
    std::function<host::engine::Workbook()> copy_;
    std::vector<std::unique_ptr<Copy>> copies_;
    bool failed_ = false;
    bool refused_volatile_ = false;
    // Every write outside batches, in order, for copies to replay.
    std::vector<std::pair<host::engine::CellAddress, host::engine::Value>> log_;
    // Whether the cells read (as a list) depend on a volatile function, worked out once.
    std::map<std::vector<host::engine::CellAddress>, bool> volatile_reads_;
};

} // namespace app

#endif
