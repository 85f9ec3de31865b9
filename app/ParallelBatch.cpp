#include "ParallelBatch.hpp"

#include <atomic>
#include <exception>
#include <thread>

#include <sched.h>

namespace app {

using host::engine::CellAddress;
using host::engine::Value;
using host::engine::Workbook;

ParallelBatch::ParallelBatch(unsigned int jobs, std::function<Workbook()> copy)
    : jobs_(jobs < 1 ? 1 : jobs), copy_(std::move(copy)) {}

ParallelBatch::~ParallelBatch() = default;

unsigned int available_cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned int>(CPU_COUNT(&set));
    const unsigned int n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

void ParallelBatch::wrote(const std::vector<std::pair<CellAddress, Value>>& cells) {
    if (!copies_.empty())
        log_.insert(log_.end(), cells.begin(), cells.end());
}

bool ParallelBatch::reads_volatile(const Workbook& book, const std::vector<CellAddress>& read) {
    auto it = volatile_reads_.find(read);
    if (it != volatile_reads_.end())
        return it->second;
    bool any = false;
    for (const CellAddress& cell : read)
        if (!book.volatile_sources(cell).empty()) {
            any = true;
            break;
        }
    volatile_reads_.emplace(read, any);
    return any;
}

namespace {

void evaluate_one(Workbook& book, const std::vector<CellAddress>& write, const std::vector<Value>& row,
                  const std::vector<CellAddress>& read, std::vector<std::pair<CellAddress, Value>>& cells,
                  std::vector<Value>& result) {
    cells.resize(write.size());
    for (std::size_t c = 0; c < write.size(); ++c)
        cells[c] = {write[c], row[c]};
    book.set_values(cells);
    if (!book.automatic())
        book.recalculate();
    result.clear();
    for (const CellAddress& cell : read)
        result.push_back(book.value(cell));
}

} // namespace

bool ParallelBatch::evaluate(Workbook& book, const std::vector<CellAddress>& write,
                             const std::vector<std::vector<Value>>& rows, const std::vector<CellAddress>& read,
                             std::vector<std::vector<Value>>& results) {
    if (jobs_ < 2 || failed_ || rows.size() < 2)
        return false;
    if (reads_volatile(book, read)) {
        refused_volatile_ = true;
        return false;
    }
    const std::size_t threads = std::min<std::size_t>(jobs_, rows.size());
    try {
        while (copies_.size() + 1 < threads) {
            auto copy = std::make_unique<Copy>(Copy{copy_(), 0});
            copy->book.set_automatic(book.automatic());
            copy->book.set_active_sheet(book.active_sheet());
            copies_.push_back(std::move(copy));
        }
        for (std::size_t k = 0; k + 1 < threads; ++k) {
            Copy& copy = *copies_[k];
            if (copy.replayed < log_.size()) {
                copy.book.set_values({log_.begin() + static_cast<std::ptrdiff_t>(copy.replayed), log_.end()});
                if (!copy.book.automatic())
                    copy.book.recalculate();
                copy.replayed = log_.size();
            }
        }
    } catch (...) {
        // No copy: the add-in evaluates one at a time, as it would anyway.
        failed_ = true;
        copies_.clear();
        return false;
    }

    // Candidates are handed out in order to whichever book is free; each result goes to its
    // candidate's row, so the order of the answer is the order asked.
    results.assign(rows.size(), std::vector<Value>());
    std::atomic<std::size_t> next{0};
    std::vector<std::exception_ptr> errors(threads);
    auto work = [&](std::size_t worker, Workbook& on) {
        try {
            std::vector<std::pair<CellAddress, Value>> cells;
            for (std::size_t r = next++; r < rows.size(); r = next++)
                evaluate_one(on, write, rows[r], read, cells, results[r]);
        } catch (...) {
            errors[worker] = std::current_exception();
            next = rows.size();
        }
    };
    std::vector<std::thread> pool;
    try {
        for (std::size_t k = 0; k + 1 < threads; ++k)
            pool.emplace_back(work, k + 1, std::ref(copies_[k]->book));
    } catch (...) {
        next = rows.size();
        for (std::thread& t : pool)
            t.join();
        failed_ = true;
        return false;
    }
    work(0, book);
    for (std::thread& t : pool)
        t.join();
    for (const std::exception_ptr& e : errors)
        if (e) {
            // The add-in evaluates the batch again one at a time and meets the fault itself.
            failed_ = true;
            return false;
        }
    return true;
}

} // namespace app
