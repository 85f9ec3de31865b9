// `ombrix batch MANIFEST.csv`: one solve per row of a table, each row's result in a file of its
// own, and a summary that merges them. A row is the solve command run with the row's flags;
// schedulers (Slurm job arrays, Kubernetes indexed jobs, GNU parallel) run one row a task.
#include "AddinCommands.hpp"
#include "Commands.hpp"
#include "Manifest.hpp"

#include "io/Document.hpp"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

extern char** environ;

namespace app {

namespace {

namespace fs = std::filesystem;

struct BatchOptions {
    std::string manifest;
    std::string results;
    std::optional<std::size_t> task;
    bool all = false;
    bool summary = false;
    std::string addin;
};

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error(path + ": cannot be read: " + std::strerror(errno));
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

fs::path results_dir(const BatchOptions& options) {
    if (!options.results.empty())
        return options.results;
    fs::path m(options.manifest);
    return m.parent_path() / (m.stem().string() + ".results");
}

fs::path row_file(const fs::path& dir, std::size_t row, const std::string& extension) {
    return dir / ("row-" + std::to_string(row) + extension);
}

// A path the manifest gives, taken from the manifest's own directory.
std::string beside_manifest(const std::string& manifest, const std::string& path) {
    fs::path p(path);
    return p.is_absolute() ? path : (fs::path(manifest).parent_path() / p).string();
}

// The row's solve, in this process; its result file written whatever happens.
int run_row(const ManifestRow& row, const BatchOptions& options, const fs::path& dir, std::ostream& out,
            std::ostream& err) {
    const std::string book = beside_manifest(options.manifest, row.workbook);
    std::string extension = fs::path(row.workbook).extension().string();
    const std::string output = row.output.empty()
                                   ? row_file(dir, row.number, extension.empty() ? ".xlsx" : extension).string()
                                   : beside_manifest(options.manifest, row.output);
    std::vector<std::string> arguments{book, "--output", output, "--json", "--quiet"};
    if (!options.addin.empty())
        arguments.insert(arguments.end(), {"--addin", options.addin});
    arguments.insert(arguments.end(), row.arguments.begin(), row.arguments.end());
    std::ostringstream result, messages;
    int status = exit_failed;
    try {
        status = solve_with_arguments(arguments, result, messages);
    } catch (const std::bad_alloc&) {
        messages << "ombrix: not enough memory to solve this row\n";
    } catch (const std::exception& e) {
        messages << "ombrix: " << e.what() << "\n";
    }
    std::string solved = result.str();
    while (!solved.empty() && (solved.back() == '\n' || solved.back() == ' '))
        solved.pop_back();
    std::string json = "{\"row\": " + std::to_string(row.number) + ", \"name\": " + json_string(row.name) +
                       ", \"workbook\": " + json_string(row.workbook) + ", \"status\": " + std::to_string(status) +
                       ", \"messages\": " + json_string(messages.str()) +
                       ", \"result\": " + (solved.empty() || solved[0] != '{' ? "null" : solved) + "}\n";
    const std::string file = row_file(dir, row.number, ".json").string();
    host::io::write_file_atomically(file, json);
    std::istringstream lines(messages.str());
    for (std::string line; std::getline(lines, line);)
        err << "row " << row.number << ": " << line << "\n";
    out << "row " << row.number << ": " << (status == exit_ok ? "solved" : "failed") << ", " << file << "\n";
    return status;
}

// One row in a process of its own, so that a row that fails in any way leaves the others be.
volatile sig_atomic_t batch_interrupted = 0;
void on_batch_interrupt(int) { batch_interrupted = 1; }

int run_row_apart(const ManifestRow& row, const BatchOptions& options, const fs::path& dir, std::ostream& err) {
    std::vector<std::string> words{"ombrix",    "batch",     options.manifest, "--task", std::to_string(row.number),
                                   "--results", dir.string()};
    if (!options.addin.empty())
        words.insert(words.end(), {"--addin", options.addin});
    std::vector<char*> argv;
    for (std::string& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    std::cout.flush();
    if (int e = posix_spawn(&child, "/proc/self/exe", nullptr, nullptr, argv.data(), environ); e != 0) {
        err << "ombrix: row " << row.number << ": cannot start its solve: " << std::strerror(e) << "\n";
        return exit_failed;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR)
            return exit_failed;
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    // Killed before it could say so itself.
    const std::string message = "the solve ended with signal " + std::to_string(WTERMSIG(status)) + "\n";
    host::io::write_file_atomically(row_file(dir, row.number, ".json").string(),
                                    "{\"row\": " + std::to_string(row.number) + ", \"name\": " + json_string(row.name) +
                                        ", \"workbook\": " + json_string(row.workbook) +
                                        ", \"status\": " + std::to_string(128 + WTERMSIG(status)) +
                                        ", \"messages\": " + json_string(message) + ", \"result\": null}\n");
    err << "row " << row.number << ": " << message;
    return 128 + WTERMSIG(status);
}

// A value of the solve's JSON as the summary shows it.
std::string summary_shown(const JsonValue* v) {
    if (v == nullptr || v->kind == JsonValue::Kind::null)
        return "";
    if (v->kind == JsonValue::Kind::boolean)
        return v->text == "true" ? "TRUE" : "FALSE";
    if (v->kind == JsonValue::Kind::object) // an error value
        return v->find("error") ? v->find("error")->text : "";
    return v->text;
}

// Every row's result, one CSV line each, in the manifest's order; rows with no result say so.
int write_summary(const std::vector<ManifestRow>& rows, const fs::path& dir, std::ostream& out, std::ostream& err) {
    std::string csv = "row,name,workbook,status,ended,objective,value,evaluations,generations,seconds,output,"
                      "variables,messages\n";
    int status = exit_ok;
    for (const ManifestRow& row : rows) {
        std::vector<std::string> fields{std::to_string(row.number), row.name, row.workbook};
        const fs::path file = row_file(dir, row.number, ".json");
        std::error_code ec;
        if (!fs::exists(file, ec)) {
            status = exit_failed;
            fields.insert(fields.end(), {"", "", "", "", "", "", "", "", "", "no result: the row has not run"});
        } else {
            try {
                JsonValue json = parse_json(read_text(file.string()));
                const JsonValue* result = json.find("result");
                const std::string row_status = summary_shown(json.find("status"));
                if (row_status != "0")
                    status = exit_failed;
                fields.push_back(row_status);
                fields.push_back(result ? summary_shown(result->find("ended")) : "");
                std::string objective, value, variables;
                if (const JsonValue* o = result ? result->find("objective") : nullptr; o && !o->members.empty()) {
                    objective = o->members[0].first;
                    value = summary_shown(&o->members[0].second);
                }
                if (const JsonValue* vars = result ? result->find("variables") : nullptr)
                    for (const auto& [cell, v] : vars->members)
                        variables += (variables.empty() ? "" : ";") + cell + "=" + summary_shown(&v);
                fields.insert(fields.end(), {objective, value});
                for (const char* key : {"evaluations", "generations", "seconds", "output"})
                    fields.push_back(result ? summary_shown(result->find(key)) : "");
                fields.push_back(variables);
                std::string messages = summary_shown(json.find("messages"));
                while (!messages.empty() && messages.back() == '\n')
                    messages.pop_back();
                fields.push_back(messages);
            } catch (const std::exception& e) {
                status = exit_failed;
                fields.insert(fields.end(),
                              {"", "", "", "", "", "", "", "", "", file.string() + " cannot be read: " + e.what()});
            }
        }
        std::string line;
        for (const std::string& f : fields)
            line += (line.empty() ? "" : ",") + csv_field(f);
        csv += line + "\n";
    }
    const fs::path summary = dir / "summary.csv";
    host::io::write_file_atomically(summary.string(), csv);
    out << "Summary " << summary.string() << "\n";
    if (status != exit_ok)
        err << "ombrix: some rows failed or have not run; see " << summary.string() << "\n";
    return status;
}

int run_batch(const BatchOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<ManifestRow> rows;
    try {
        rows = parse_manifest(read_text(options.manifest), solve_flag_takes_value);
    } catch (const ManifestError& e) {
        return report(err, options.manifest + ": " + e.what(), exit_usage);
    } catch (const std::exception& e) {
        return report(err, e.what(), exit_failed);
    }
    const fs::path dir = results_dir(options);
    std::optional<std::size_t> task = options.task;
    std::string source = "--task";
    if (!task && !options.all && !options.summary) {
        try {
            task = task_from_environment([](const char* name) { return std::getenv(name); }, &source);
        } catch (const ManifestError& e) {
            return report(err, e.what(), exit_usage);
        }
    }
    if (task && (*task < 1 || *task > rows.size()))
        return report(err,
                      source + " asks for row " + std::to_string(*task) + ", but " + options.manifest + " has " +
                          std::to_string(rows.size()) + " row" + (rows.size() == 1 ? "" : "s") + " (from 1)",
                      exit_usage);
    try {
        std::error_code ec;
        fs::create_directories(dir, ec);
        if (ec && !fs::is_directory(dir))
            throw std::runtime_error(dir.string() + ": cannot make the results directory: " + ec.message());
        if (options.summary)
            return write_summary(rows, dir, out, err);
        if (task)
            return run_row(rows[*task - 1], options, dir, out, err);
        // Every row, one after the other; Ctrl-C stops the row running (which keeps its best
        // point) and the batch after it.
        struct sigaction action {
        }, previous{};
        action.sa_handler = on_batch_interrupt;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous);
        int status = exit_ok;
        for (const ManifestRow& row : rows) {
            if (batch_interrupted)
                break;
            if (run_row_apart(row, options, dir, err) != exit_ok)
                status = exit_failed;
        }
        sigaction(SIGINT, &previous, nullptr);
        int merged = write_summary(rows, dir, out, err);
        if (batch_interrupted)
            return report(err, "interrupted; the rows not run are marked so in the summary", 130);
        return status != exit_ok ? status : merged;
    } catch (...) {
        return report_current_exception(err, "");
    }
}

} // namespace

void add_batch_command(CLI::App& ombrix, Outcome& outcome) {
    auto options = std::make_shared<BatchOptions>();
    CLI::App* batch =
        ombrix.add_subcommand("batch", "Run one solve per row of a manifest (CSV), on one machine or many");
    batch->footer("TABLE, the manifest (.csv), names the columns on its first line: workbook (required), flags "
                  "(solve's flags as a\n"
                  "shell splits them), inputs (CELL=VALUE;CELL=VALUE written before the run, as --set), output\n"
                  "(the solved workbook; default RESULTS/row-K.xlsx), name (a label), and any flag of solve as\n"
                  "a column of its own (--var, --seed...; true/false for a flag that takes no value). Paths in\n"
                  "the workbook and output columns are taken from the manifest's directory. Rows count from 1.\n\n"
                  "Each row's result goes to RESULTS/row-K.json (RESULTS: --results, default TABLE.results\n"
                  "beside the manifest), a row that fails included; --summary merges them into\n"
                  "RESULTS/summary.csv. Without --task, the row comes from the environment a scheduler sets:\n"
                  "PARALLEL_SEQ (GNU parallel, from 1), JOB_COMPLETION_INDEX (Kubernetes indexed jobs, from 0:\n"
                  "row = index + 1), SLURM_ARRAY_TASK_ID (Slurm job arrays: the row, so --array=1-N), the first\n"
                  "set in that order. With none of them, or with --all, every row runs, one after the other,\n"
                  "each in a process of its own, and the summary is written.\n\n"
                  "Exit status: a task's is its row's solve's; for every row, 1 if any row failed; 2 for a\n"
                  "manifest that cannot be read or a row that does not exist.\n\n"
                  "Examples:\n"
                  "  ombrix batch sweep.csv                      # every row here\n"
                  "  ombrix batch sweep.csv --task 3             # row 3 only\n"
                  "  seq 100 | parallel ombrix batch sweep.csv --task {}\n"
                  "  ombrix batch sweep.csv --summary            # sweep.results/summary.csv");
    batch->add_option("TABLE", options->manifest, "The manifest: a CSV table, one solve a row")->required();
    auto* task = batch->add_option("--task", options->task, "Run only this row (from 1)")
                     ->type_name("K")
                     ->check(CLI::PositiveNumber);
    batch
        ->add_option("--results", options->results,
                     "Where the rows' results go (default TABLE.results, TABLE's name without .csv)")
        ->type_name("DIR");
    auto* summary = batch->add_flag("--summary", options->summary,
                                    "Run nothing: merge the rows' results into RESULTS/summary.csv (status 1 "
                                    "when a row failed or has no result yet)");
    batch->add_flag("--all", options->all, "Run every row even where a scheduler's task variable is set")
        ->excludes(task)
        ->excludes(summary);
    summary->excludes(task);
    add_addin_option(batch, options->addin);
    batch->callback([options, &outcome]() { outcome.status = run_batch(*options, std::cout, std::cerr); });
}

} // namespace app
