#include "Convergence.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace app {

using host::engine::Value;

namespace {

const double none = std::numeric_limits<double>::quiet_NaN();

} // namespace

ConvergenceTable::ConvergenceTable(std::uint64_t population, std::uint64_t generations_per_trial, bool maximise)
    : population_(population), generations_per_trial_(generations_per_trial), maximise_(maximise), best_(none),
      best_so_far_(none) {}

void ConvergenceTable::add(const Value& objective) {
    if (population_ == 0 || generations_per_trial_ == 0)
        return;
    auto better = [this](double a, double b) { return std::isnan(b) || (maximise_ ? a > b : a < b); };
    if (objective.is_number()) {
        double x = objective.as_number();
        if (better(x, best_))
            best_ = x;
        sum_ += x;
        ++count_;
    }
    if (++seen_ < population_)
        return;
    std::uint64_t index = rows_.size();
    GenerationRow row;
    row.trial = index / generations_per_trial_ + 1;
    row.generation = index % generations_per_trial_ + 1;
    if (row.generation == 1)
        best_so_far_ = none;
    row.count = count_;
    if (row.count > 0 && better(best_, best_so_far_))
        best_so_far_ = best_;
    row.best = best_;
    row.mean = row.count > 0 ? sum_ / double(row.count) : none;
    row.best_so_far = best_so_far_;
    rows_.push_back(row);
    seen_ = count_ = 0;
    sum_ = 0;
    best_ = none;
}

std::vector<GenerationRow> convergence(const std::vector<Value>& objectives, std::uint64_t population,
                                       std::uint64_t generations_per_trial, bool maximise) {
    ConvergenceTable table(population, generations_per_trial, maximise);
    for (const Value& v : objectives)
        table.add(v);
    return table.rows();
}

namespace {

std::string csv_field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + "\"";
}

std::string csv_value(const Value& v) {
    return v.is_number() ? host::engine::format_number(v.as_number()) : csv_field(v.to_string());
}

} // namespace

TraceWriter::TraceWriter(Sink sink, const std::vector<std::string>& variable_names, std::uint64_t population,
                         std::uint64_t generations_per_trial)
    : sink_(std::move(sink)), population_(population), generations_per_trial_(generations_per_trial) {
    std::string header = "evaluation,trial,generation,objective";
    for (const std::string& name : variable_names)
        header += "," + csv_field(name);
    sink_(header + "\n");
}

void TraceWriter::add(const Value& objective, const std::vector<Value>& variables) {
    std::string row = csv_value(objective);
    for (const Value& v : variables)
        row += "," + csv_value(v);
    held_.push_back(std::move(row));
    // Without generations no row ever has one: nothing to wait for.
    if (population_ == 0 || generations_per_trial_ == 0)
        write_held(false);
    else if (held_.size() == population_)
        write_held(true);
}

void TraceWriter::finish() { write_held(false); }

void TraceWriter::write_held(bool complete) {
    std::string text;
    for (const std::string& row : held_) {
        text += std::to_string(++evaluations_) + ",";
        if (complete) {
            std::uint64_t generation = (evaluations_ - 1) / population_;
            text += std::to_string(generation / generations_per_trial_ + 1) + "," +
                    std::to_string(generation % generations_per_trial_ + 1);
        } else {
            text += ",";
        }
        text += "," + row + "\n";
    }
    held_.clear();
    if (!text.empty())
        sink_(text);
}

RunRecorder::RunRecorder(std::vector<host::engine::CellAddress> variables, std::uint64_t population,
                         std::uint64_t generations_per_trial, bool maximise, bool table)
    : variables_(std::move(variables)), population_(population), generations_per_trial_(generations_per_trial),
      table_rows_(population, generations_per_trial, maximise), keep_table_(table) {}

template <class Work>
bool RunRecorder::Part::guarded(Work work) noexcept {
    if (failed_)
        return false;
    try {
        work();
        return true;
    } catch (const std::bad_alloc&) {
        fail("out of memory");
    } catch (const std::exception& e) {
        fail(e.what());
    } catch (...) {
        fail("unknown error");
    }
    return false;
}

void RunRecorder::Part::fail(const char* why) noexcept {
    failed_ = true;
    try {
        why_ = why;
    } catch (...) {
        why_.clear();
    }
}

std::optional<std::string> RunRecorder::Part::failure() const {
    if (!failed_)
        return std::nullopt;
    return why_.empty() ? std::string("out of memory") : why_;
}

std::optional<std::string> RunRecorder::trace_failure() const {
    // A trace stops with the rest of the record.
    return trace_part_.failed() ? trace_part_.failure() : table_.failure();
}

void RunRecorder::trace_to(TraceWriter::Sink sink, const std::vector<std::string>& variable_names) noexcept {
    if (!trace_part_.guarded([&] {
            trace_ =
                std::make_unique<TraceWriter>(std::move(sink), variable_names, population_, generations_per_trial_);
        }))
        trace_.reset();
}

void RunRecorder::record(const host::engine::Workbook& book, const Value& objective,
                         const std::vector<std::pair<host::engine::CellAddress, Value>>& written) noexcept {
    const bool recorded = table_.guarded([&] {
        if (keep_table_ && evaluations_ < table_limit_)
            table_rows_.add(objective);
        ++evaluations_;
    });
    if (!recorded || !trace_)
        return;
    if (!trace_part_.guarded([&] {
            values_.clear();
            for (std::size_t j = 0; j < variables_.size(); ++j) {
                // The variables are written together and in order, as a rule; one not
                // written reads as the book holds it.
                if (j < written.size() && written[j].first == variables_[j]) {
                    values_.push_back(written[j].second);
                    continue;
                }
                auto it = std::find_if(written.begin(), written.end(),
                                       [&](const auto& cell) { return cell.first == variables_[j]; });
                values_.push_back(it != written.end() ? it->second : book.value(variables_[j]));
            }
            trace_->add(objective, values_);
        }))
        trace_.reset();
}

void RunRecorder::finish() noexcept {
    if (trace_ && !table_.failed() && !trace_part_.guarded([&] { trace_->finish(); }))
        trace_.reset();
}

} // namespace app
