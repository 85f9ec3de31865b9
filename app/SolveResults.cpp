// A solve run's files and results: the --chart and --trace files checked before the run, the
// run's report from the host's record, printed plain or as JSON.
#include "SolveCommand.hpp"

#include "Calc.hpp"
#include "SolveChecks.hpp"

#include "engine/Unicode.hpp"
#include "io/Document.hpp"
#include "io/IoError.hpp"
#include "usr/Exception.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace app {

namespace {

namespace fs = std::filesystem;
using host::engine::CellAddress;
using host::engine::fold_case;
using host::engine::Value;

std::string shown(const Value& v) { return v.is_number() ? json_number(v.as_number()) : v.to_string(); }

} // namespace

std::vector<ReportConstraint> constraint_rows(const host::engine::Workbook& book, const SolveOptions& options) {
    const double tolerance = options.tolerance ? std::strtod(options.tolerance->c_str(), nullptr) : 1e-6;
    std::vector<ReportConstraint> rows;
    for (const std::string& c : options.constraints) {
        std::size_t at = c.find_first_of("<>=");
        if (at == std::string::npos)
            continue;
        std::size_t end = c.find_first_not_of("<>=", at);
        const std::string rel = c.substr(at, end - at);
        const std::string left = c.substr(0, at), right = end == std::string::npos ? "" : c.substr(end);
        std::vector<CellAddress> lhs = cells_named(book, left), rhs = cells_named(book, right);
        char* stop = nullptr;
        const double number = std::strtod(right.c_str(), &stop);
        const bool is_number = rhs.empty() && stop != right.c_str();
        for (std::size_t i = 0; i < lhs.size(); ++i) {
            ReportConstraint row;
            row.constraint =
                c +
                (lhs.size() > 1 ? " (cell " + std::to_string(i + 1) + " of " + std::to_string(lhs.size()) + ")" : "");
            row.left = book.value(lhs[i]);
            row.right = is_number     ? Value::number(number)
                        : rhs.empty() ? Value()
                                      : book.value(rhs[rhs.size() == 1 ? 0 : i]);
            if (row.left.is_number() && row.right.is_number()) {
                const double l = row.left.as_number(), r = row.right.as_number();
                const double excess = rel[0] == '<' || rel == "=<"   ? l - r
                                      : rel[0] == '>' || rel == "=>" ? r - l
                                                                     : std::fabs(l - r);
                row.holds = excess <= tolerance * std::max(1.0, std::fabs(r));
            }
            rows.push_back(row);
        }
    }
    return rows;
}

SolveReport report_of(const host::api::CellActivity& activity, double seconds) {
    SolveReport report;
    report.variables = activity.written;
    for (const auto& [cell, count] : activity.read_after_write)
        if (count > report.evaluations) {
            report.objective = cell;
            report.evaluations = count;
        }
    report.seconds = seconds;
    return report;
}

void print_json(std::ostream& out, const host::engine::Workbook& book, const SolveReport& r, const std::string& saved,
                const std::vector<std::pair<std::string, std::string>>& extra) {
    auto json_cell = [&](const CellAddress& c) {
        const Value& v = book.value(c);
        return json_string(host::io::cell_key(book, c)) + ": " +
               (v.is_number() ? json_number(v.as_number()) : json_value(v));
    };
    out << "{\"variables\": {";
    for (std::size_t i = 0; i < r.variables.size(); ++i)
        out << (i ? ", " : "") << json_cell(r.variables[i]);
    out << "}, \"objective\": {" << (r.objective ? json_cell(*r.objective) : "")
        << "}, \"evaluations\": " << r.evaluations
        << ", \"generations\": " << (r.generations ? std::to_string(*r.generations) : "null")
        << ", \"ended\": " << json_string(run_end_name(r.end)) << ", \"seconds\": " << json_number(r.seconds)
        << ", \"output\": " << (saved.empty() ? "null" : json_string(saved));
    for (const auto& [key, value] : extra)
        out << ", " << json_string(key) << ": " << json_string(value);
    out << "}\n";
}

void print_plain(std::ostream& out, const host::engine::Workbook& book, const SolveReport& r) {
    char taken[32];
    std::snprintf(taken, sizeof taken, "%.3f", r.seconds);
    out << (r.end == RunEnd::completed     ? "Solved in "
            : r.end == RunEnd::interrupted ? "Interrupted after "
                                           : "Stopped at the time limit after ")
        << taken << " s with " << r.evaluations << " evaluations";
    if (r.generations && r.end != RunEnd::completed)
        out << " (" << *r.generations << " generations); the best point so far was kept";
    out << ".\n";
    for (const CellAddress& c : r.variables)
        out << "  " << escaped_line(host::io::cell_key(book, c)) << "\t" << escaped_line(shown(book.value(c))) << "\n";
    if (r.objective)
        out << "Objective " << escaped_line(host::io::cell_key(book, *r.objective)) << "\t"
            << escaped_line(shown(book.value(*r.objective))) << "\n";
}

fs::path canonical(const std::string& path) {
    std::error_code ec;
    fs::path resolved = fs::weakly_canonical(path, ec);
    return ec ? fs::absolute(path, ec).lexically_normal() : resolved;
}

void check_run_file(const std::string& path, const char* flag, const std::string& book, const std::string& target) {
    for (const std::string& other : {book, target})
        if (canonical(path) == canonical(other))
            throw UsageError(std::string(flag) + " " + path + " is the workbook " + (other == book ? "read" : "saved") +
                             "; give another file");
    try {
        host::io::check_save_target(path);
    } catch (const host::io::IoError& e) {
        throw UsageError(e.what());
    }
}

bool ends_with_folded(const std::string& text, const std::string& suffix) {
    std::string folded = host::engine::fold_case(text);
    return folded.size() >= suffix.size() && folded.compare(folded.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace app
