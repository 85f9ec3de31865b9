#include "Convergence.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace app {

using host::engine::Value;

void EvaluationLog::record(const host::engine::Workbook& book, const Value& objective,
                           const std::vector<std::pair<host::engine::CellAddress, Value>>& written) {
    objectives.push_back(objective);
    if (!keep_variables)
        return;
    for (std::size_t j = 0; j < variables.size(); ++j) {
        // The variables are written together and in order, as a rule.
        if (j < written.size() && written[j].first == variables[j]) {
            variable_values.push_back(written[j].second);
            continue;
        }
        auto it =
            std::find_if(written.begin(), written.end(), [&](const auto& cell) { return cell.first == variables[j]; });
        variable_values.push_back(it != written.end() ? it->second : book.value(variables[j]));
    }
}

std::vector<GenerationRow> convergence(const std::vector<Value>& objectives, std::uint64_t population,
                                       std::uint64_t generations_per_trial, bool maximise) {
    std::vector<GenerationRow> rows;
    if (population == 0 || generations_per_trial == 0)
        return rows;
    const double none = std::numeric_limits<double>::quiet_NaN();
    auto better = [maximise](double a, double b) { return std::isnan(b) || (maximise ? a > b : a < b); };
    double best_so_far = none;
    for (std::uint64_t start = 0; objectives.size() - start >= population; start += population) {
        std::uint64_t index = start / population;
        GenerationRow row;
        row.trial = index / generations_per_trial + 1;
        row.generation = index % generations_per_trial + 1;
        if (row.generation == 1)
            best_so_far = none;
        double best = none, sum = 0;
        for (std::uint64_t k = start; k < start + population; ++k) {
            if (!objectives[k].is_number())
                continue;
            double x = objectives[k].as_number();
            if (better(x, best))
                best = x;
            sum += x;
            ++row.count;
        }
        if (row.count > 0 && better(best, best_so_far))
            best_so_far = best;
        row.best = best;
        row.mean = row.count > 0 ? sum / double(row.count) : none;
        row.best_so_far = best_so_far;
        rows.push_back(row);
    }
    return rows;
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

std::string trace_csv(const EvaluationLog& log, const std::vector<std::string>& variable_names,
                      std::uint64_t population, std::uint64_t generations_per_trial) {
    std::string text = "evaluation,trial,generation,objective";
    for (const std::string& name : variable_names)
        text += "," + csv_field(name);
    text += "\n";
    std::size_t width = log.variables.size();
    std::uint64_t complete = population > 0 ? log.objectives.size() / population * population : 0;
    for (std::size_t i = 0; i < log.objectives.size(); ++i) {
        text += std::to_string(i + 1) + ",";
        if (i < complete && generations_per_trial > 0) {
            std::uint64_t generation = i / population;
            text += std::to_string(generation / generations_per_trial + 1) + "," +
                    std::to_string(generation % generations_per_trial + 1);
        } else {
            text += ",";
        }
        text += "," + csv_value(log.objectives[i]);
        for (std::size_t k = 0; k < width && log.keep_variables; ++k)
            text += "," + csv_value(log.variable_values[i * width + k]);
        text += "\n";
    }
    return text;
}

} // namespace app
