#include "ParallelBatch.hpp"

#include <sched.h>

namespace app {

using host::engine::CellAddress;
using host::engine::Value;
using host::engine::Workbook;

unsigned int available_cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return static_cast<unsigned int>(CPU_COUNT(&set));
    const unsigned int n = std::thread::hardware_concurrency();
    return n > 0 ? n : 1;
}

ParallelBatch::ParallelBatch(unsigned int jobs, std::function<Workbook()> copy)
    : jobs_(jobs < 1 ? 1 : jobs), copy_(std::move(copy)) {}

void ParallelBatch::start() {
    try {
        while (threads_.size() + 1 < jobs_)
            threads_.emplace_back([this] { work(); });
    } catch (...) {
        // Fewer copies, or none: the book does the rest.
    }
}

void ParallelBatch::finish() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
}

ParallelBatch::~ParallelBatch() {
    finish();
    for (std::thread& t : threads_)
        t.join();
}

void ParallelBatch::wrote(const std::vector<std::pair<CellAddress, Value>>& cells) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++writes_;
    for (const auto& cell : cells)
        written_[cell.first] = {cell.second, writes_};
}

bool ParallelBatch::depends_on_history(const Workbook& book, const std::vector<CellAddress>& read) {
    auto it = history_reads_.find(read);
    if (it != history_reads_.end())
        return it->second;
    // A circular reference computed by iteration starts from the values the last
    // recalculation left, which differ from copy to copy.
    bool any = book.calc_settings().iterate && !book.diagnostics().cycles.empty();
    for (const CellAddress& cell : read)
        if (any || !book.volatile_sources(cell).empty()) {
            any = true;
            break;
        }
    history_reads_.emplace(read, any);
    return any;
}

namespace {

// A value of its own for another thread: copies of a text share it, counting their owners
// without a lock.
Value own(const Value& v) { return v.is_text() ? Value::text(v.as_text()) : Value(v); }

// On a copy (apart), every value that crosses from or to the book's thread is its own.
void evaluate_row(Workbook& book, const std::vector<CellAddress>& write, const std::vector<Value>& row,
                  const std::vector<CellAddress>& read, std::vector<std::pair<CellAddress, Value>>& cells,
                  std::vector<Value>& result, bool apart) {
    cells.resize(write.size());
    for (std::size_t c = 0; c < write.size(); ++c)
        cells[c] = {write[c], apart ? own(row[c]) : row[c]};
    book.set_values(cells);
    if (!book.automatic())
        book.recalculate();
    result.clear();
    for (const CellAddress& cell : read)
        result.push_back(apart ? own(book.value(cell)) : book.value(cell));
}

} // namespace

void ParallelBatch::take_rows(Workbook& on, const Job& job, bool& failed) {
    std::vector<std::pair<CellAddress, Value>> cells;
    try {
        for (std::size_t r = next_++; r < job.shared; r = next_++)
            evaluate_row(on, *job.write, (*job.rows)[r], *job.read, cells, (*job.results)[r], true);
    } catch (...) {
        failed = true;
        next_ = job.shared;
    }
}

void ParallelBatch::work() {
    std::unique_ptr<Workbook> copy;
    try {
        copy = std::make_unique<Workbook>(copy_());
    } catch (...) {
        return; // the others do without it
    }
    std::uint64_t seen_batch = 0, seen_writes = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return quit_ || (job_ && batch_ != seen_batch); });
        if (quit_)
            return;
        seen_batch = batch_;
        const Job job = *job_;
        ++busy_;
        bool failed = false;
        try {
            // What the add-in wrote since this copy last looked, as the book holds it now.
            std::vector<std::pair<CellAddress, Value>> replay;
            for (const auto& cell : written_)
                if (cell.second.second > seen_writes)
                    replay.emplace_back(cell.first, own(cell.second.first));
            seen_writes = writes_;
            lock.unlock();
            if (!replay.empty()) {
                copy->set_values(replay);
                if (!copy->automatic())
                    copy->recalculate();
            }
            ++taking_;
            take_rows(*copy, job, failed);
            --taking_;
        } catch (...) {
            failed = true;
        }
        if (!lock.owns_lock())
            lock.lock();
        if (failed)
            failed_ = true;
        --busy_;
        done_.notify_all();
        if (failed)
            return;
    }
}

bool ParallelBatch::evaluate(Workbook& book, const std::vector<CellAddress>& write,
                             const std::vector<std::vector<Value>>& rows, const std::vector<CellAddress>& read,
                             std::vector<std::vector<Value>>& results) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (jobs_ < 2 || failed_ || rows.size() < 2)
            return false;
    }
    if (depends_on_history(book, read))
        return false;
    start();

    results.assign(rows.size(), std::vector<Value>());
    const Job job{&write, &rows, &read, &results, rows.size() - 1};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        next_ = 0;
        job_ = &job;
        ++batch_;
    }
    wake_.notify_all();
    bool failed = false;
    std::vector<std::pair<CellAddress, Value>> cells;
    std::uint64_t here = 0;
    try {
        // The rows that remain when there are no more of them than copies taking rows are
        // theirs: each finishes one while the book evaluates the last row (else, rows as long
        // as each other, the book would do one more than half of the batch and the copy wait).
        for (std::size_t r = next_.load(); r < job.shared && job.shared - r > taking_; r = next_.load())
            if (next_.compare_exchange_weak(r, r + 1)) {
                evaluate_row(book, write, rows[r], read, cells, results[r], false);
                ++here;
            }
    } catch (...) {
        failed = true;
        next_ = job.shared;
    }
    // The last row on the book itself, which then holds it as one at a time would leave it;
    // the copies finish their rows meanwhile.
    if (!failed)
        try {
            evaluate_row(book, write, rows.back(), read, cells, results.back(), false);
        } catch (...) {
            failed = true;
        }
    {
        // Copies still opening sit this batch out; those at work finish their row.
        std::unique_lock<std::mutex> lock(mutex_);
        job_ = nullptr;
        done_.wait(lock, [&] { return busy_ == 0; });
        failed = failed || failed_;
        failed_ = failed;
    }
    on_copies_ += job.shared - here;
    return !failed;
}

} // namespace app
