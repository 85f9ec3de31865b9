// Whole generations evaluated on copies of the workbook (--jobs): the answer, the trace and
// the saved workbook do not depend on how many copies evaluate them. The models and flags are rows of
// parallel/solves.tsv, and of parallel/constrained.tsv for models with constraints, whole numbers
// or several variable ranges (whose batches carry the constraints' cells too).

#include "io/Document.hpp"

#include "ProgramRun.hpp"

#include <fstream>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using program_run::slurp;

struct Row {
    std::string book, flags;
};

std::vector<Row> rows(const std::string& table) {
    std::ifstream in(std::string(OMBRIX_SOURCE_DIR) + "/tests/app/parallel/" + table);
    std::vector<Row> all;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::size_t tab = line.find('\t');
        all.push_back({line.substr(0, tab), line.substr(tab + 1)});
    }
    return all;
}

class ParallelSolve : public program_run::ProgramTest {
protected:
    // The run's JSON without its clock and file names, its trace, and the saved model's
    // formulas as calc prints them. (The report's tables come from the trace's evaluations;
    // its clock differs from run to run.)
    std::string run(const Row& row, int jobs) {
        const std::string tag = "j" + std::to_string(jobs);
        // An example's name, or a workbook's path in the source tree.
        const std::string name = fs::path(row.book).filename().string();
        fs::remove(dir / (tag + "-" + name));
        fs::path book = dir / (tag + "-" + name);
        if (row.book.find('/') == std::string::npos)
            book = example(row.book, tag + "-" + name);
        else
            fs::copy_file(fs::path(OMBRIX_SOURCE_DIR) / row.book, book);
        const fs::path out = dir / (tag + ".xlsx"), trace = dir / (tag + ".csv");
        const program_run::Result r =
            ombrix("solve '" + book.string() + "' " + row.flags + " --jobs " + std::to_string(jobs) +
                   " --json --quiet -o '" + out.string() + "' --trace '" + trace.string() + "'");
        EXPECT_EQ(0, r.status) << row.flags << "\n" << r.err;
        std::string json = std::regex_replace(r.out, std::regex("\"seconds\": [0-9.e+-]+"), "");
        json = std::regex_replace(json, std::regex(dir.string() + "/j[0-9]"), "");
        const std::string saved = ombrix("calc '" + out.string() + "'").out;
        return json + "\n" + slurp(trace) + "\n" + std::regex_replace(saved, std::regex("j[0-9]"), "");
    }
};

TEST_F(ParallelSolve, SameRunForAnyNumberOfJobs) {
    for (const char* table : {"solves.tsv", "constrained.tsv"}) {
        const std::vector<Row> all = rows(table);
        ASSERT_GE(all.size(), 6u) << table;
        for (const Row& row : all) {
            const std::string one = run(row, 1);
            EXPECT_NE(std::string::npos, one.find("evaluation,trial,generation")) << one;
            for (int jobs : {2, 3})
                EXPECT_EQ(one, run(row, jobs)) << row.book << " " << row.flags << " --jobs " << jobs;
        }
    }
}

TEST_F(ParallelSolve, VolatileObjectiveStaysSequentialAndSaysSo) {
    host::io::Document d;
    auto& book = d.workbook;
    book.add_sheet("M");
    book.set_value({0, 0, 0}, host::engine::Value::number(1));
    book.set_value({0, 1, 0}, host::engine::Value::number(0));
    book.set_value({0, 2, 0}, host::engine::Value::number(2));
    book.set_formula({0, 0, 1}, "A1*A1+RAND()*0");
    const std::string m = (dir / "m.xlsx").string();
    host::io::save(d, m);
    const std::string solve = "solve '" + m +
                              "' --var A1 --min A2 --max A3 --objective B1 --generations 2 "
                              "--population 4 --strategy de -o '" +
                              (dir / "out.xlsx").string() + "' ";
    const std::string note = "candidates are evaluated one at a time (--jobs has no effect)";
    EXPECT_NE(std::string::npos, ombrix(solve + "--jobs 2").err.find(note));
    EXPECT_EQ(std::string::npos, ombrix(solve + "--jobs 2 --quiet").err.find(note));
    EXPECT_EQ(std::string::npos, ombrix(solve + "--jobs 1").err.find(note));
}

} // namespace
