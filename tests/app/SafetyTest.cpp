// What `ombrix` refuses, what it never writes, and how it reports: run as a user runs it, on
// real files, checking that refused requests leave every file as it was.
#include "io/Document.hpp"
#include "io/IoError.hpp"

#include "ProgramRun.hpp"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>

#include <regex>

namespace {

namespace fs = std::filesystem;
using host::engine::CellAddress;
using host::engine::Value;

using program_run::json_number_at;
using program_run::Result;
using program_run::slurp;

const char* quick = " --population 8 --generations 4 --trials 1";

class Safety : public program_run::ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        // Front (active): a formula at the address the variables have on Vars. Vars: a
        // model whose objective F2 reads B2:B4, and cells that make bad requests.
        host::io::Document d;
        host::engine::Workbook& b = d.workbook;
        int front = b.add_sheet("Front"), vars = b.add_sheet("Vars"), plan = b.add_sheet("Plän");
        b.set_value({front, 1, 1}, Value::text("label"));
        b.set_value({front, 2, 1}, Value::number(1));
        b.set_formula({front, 3, 1}, "B3*2");
        b.set_formula({front, 5, 1}, "Vars!F2");
        for (int r = 1; r <= 3; ++r) {
            b.set_value({vars, r, 1}, Value::number(0));
            b.set_value({vars, r, 2}, Value::number(-1));
            b.set_value({vars, r, 3}, Value::number(1));
        }
        b.set_formula({vars, 1, 5}, "(B2-0.5)^2+(B3+0.25)^2+B4^2");
        b.set_value({vars, 1, 6}, Value::number(5));
        b.set_formula({vars, 3, 5}, "D2*3");
        b.set_formula({vars, 4, 5}, "1/(B2-B2)");
        b.set_formula({vars, 9, 1}, "B2*2");
        b.set_value({plan, 0, 0}, Value::number(7));
        b.define_name("Top", "Vars!$B$2");
        book = (dir / "two.xlsx").string();
        host::io::save(d, book);
    }
    std::vector<std::string> files() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename() != "stdout" && e.path().filename() != "stderr")
                names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    std::string book;
};

const std::string vars = " --var Vars!B2:B4 --min Vars!C2:C4 --max Vars!D2:D4 --goal minimise";

// Requests refused before anything runs (and one that fails in the add-in): the reason, and no
// file written or changed.
TEST_F(Safety, RefusedRequestsWriteNothing) {
    struct Case {
        std::string args;
        std::string message;
        int status = 2;
    } cases[] = {
        {"solve BOOK --var Vars!B10 --min Vars!C2 --max Vars!D2 --objective Vars!F2",
         "Vars!B10 holds a formula (=B2*2)"},
        {"solve BOOK" + vars + " --objective Vars!B3", "objective cell Vars!B3 is one of the variable cells"},
        {"run Solve BOOK --field \"Var Vector=Vars!B10\" --field \"Function Cell=Vars!F2\"",
         "Vars!B10 holds a formula"},
        {"solve BOOK" + vars + " --objective Vars!F3", "Vars!F3 is blank, so it does not depend"},
        {"solve BOOK" + vars + " --objective Vars!G2", "Vars!G2 holds a constant"},
        {"solve BOOK" + vars + " --objective Vars!F4", "Vars!F4 does not depend on any variable cell"},
        // Sound, but an error at the first candidate: the add-in's own failure.
        {"solve BOOK" + vars + " --objective Vars!F5", "Error: Failed to get cell value as double: the objective cell ",
         1},
        {"solve BOOK" + vars + " --objective Vars!F2 -o DIR/fifo.xlsx", "it is a FIFO"},
        {"solve BOOK" + vars + " --objective Vars!F2 -o DIR", "it is a directory"},
        {"solve BOOK" + vars + " --objective Vars!F2 -o DIR/missing/out.xlsx", "does not exist"},
        {"solve BOOK" + vars + " --objective Vars!F2 -o DIR/readonly.xlsx", "the file is read-only"},
        {"solve BOOK" + vars + " --objective Vars!F2 -o DIR/out.csv",
         "would lose the sheets Vars, Plän and the defined names Top"},
        {"solve BOOK" + vars + " --objective Vars!F2 --field Seed=7 --seed 8",
         "Seed is given twice, by --seed and by --field \"Seed=7\""},
        {"solve BOOK --frob", "not expected: --frob"},
        {"frob BOOK", "unknown command 'frob'"},
        {"solve BOOK" + vars + " --objective Vars!F2 --addin DIR", "it is a directory", 1},
        {"calc BOOK --sheet Nowhere", "no sheet \"Nowhere\""},
        // Cells an array formula or a spill fills are the formula's, as a data table's are.
        {"solve ARRAYS --var Model!D2:D3 --min Model!A1:A2 --max Model!A2:A3 --objective Model!E1",
         "the variable cell Model!D2 is part of the spilled result of Model!D1 (="},
        {"solve ARRAYS --var Model!D1:D3 --min Model!A1:A3 --max Model!A1:A3 --objective Model!E1",
         "the variable cell Model!D1 holds a formula (="},
        {"solve ARRAYS --var Model!B3 --min Model!A1 --max Model!A2 --objective Model!E1",
         "the variable cell Model!B3 is part of the array formula of Model!B1 (=A1:A3*2)"},
        {"run Solve ARRAYS --sheet Model --field \"Var Vector=D3\" --field \"Function Cell=E1\"",
         "Model!D3 is part of the spilled result of Model!D1"},
        // Only the add-in's commands run: no other symbol of the module is called.
        {"run free", "the add-in has no command \"free\" (its commands: Solve, Options, About, RunTests, Test)"},
        {"run abort", "no command \"abort\""},
        {"run system BOOK", "no command \"system\""},
        {"run exit", "no command \"exit\""},
        {"run _init", "no command \"_init\""},
        {"run xlAutoClose", "no command \"xlAutoClose\""},
        {"run CheckInstance", "no command \"CheckInstance\""},
        // An empty file or sheet name is a mistake, not the option left out.
        {"solve BOOK" + vars + " --objective Vars!F2 --chart ''", "--chart: the name is empty"},
        {"solve BOOK" + vars + " --objective Vars!F2 --trace ''", "--trace: the name is empty"},
        {"solve BOOK" + vars + " --objective Vars!F2 -o ''", "--output: the name is empty"},
        {"solve BOOK" + vars + " --objective Vars!F2 --sheet ''", "--sheet: the name is empty"},
        {"solve BOOK" + vars + " --objective Vars!F2 --addin ''", "--addin: the name is empty"},
        {"calc BOOK -o ''", "--output: the name is empty"},
        {"calc ''", "BOOK: the name is empty"},
        {"run About ''", "BOOK: the name is empty"},
        {"run Test BOOK --output ''", "--output: the name is empty"},
        {"test BOOK -o ''", "--output: the name is empty"},
    };
    ASSERT_EQ(::mkfifo((dir / "fifo.xlsx").c_str(), 0644), 0);
    std::ofstream(dir / "readonly.xlsx") << "keep";
    ASSERT_EQ(::chmod((dir / "readonly.xlsx").c_str(), 0444), 0);
    // A real workbook with a legacy array formula (B1:B3) and a spill (D1:D3) on sheet Model.
    const fs::path arrays = dir / "arrays.xlsx";
    fs::copy_file(OMBRIX_SOURCE_DIR "/tests/host/corpus/constructs.xlsx", arrays);
    const std::string before = slurp(book), arrays_before = slurp(arrays);
    const std::vector<std::string> listing = files();
    for (const Case& c : cases) {
        std::string args = std::regex_replace(c.args, std::regex("BOOK"), book);
        args = std::regex_replace(std::regex_replace(args, std::regex("ARRAYS"), arrays.string()), std::regex("DIR"),
                                  dir.string());
        Result r = ombrix(args + (args.find("--objective") != std::string::npos ? quick : ""));
        EXPECT_EQ(r.status, c.status) << args << "\n" << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << args << "\n" << r.err;
        EXPECT_EQ(slurp(book), before) << args;
        EXPECT_EQ(slurp(arrays), arrays_before) << args;
        EXPECT_EQ(files(), listing) << args;
    }
    EXPECT_EQ(slurp(dir / "readonly.xlsx"), "keep");
}

// Variables and objective away from the active sheet: only the named cells change, and the
// report names the cells really solved, the objective really used and the evaluations made.
TEST_F(Safety, SolvesTheNamedCellsOnTheirOwnSheets) {
    struct Case {
        std::string args;
        std::string objective;
    } cases[] = {
        {vars + " --objective Vars!F2", "Vars!F2"},
        {" --sheet vars --var B2:B4 --min C2:C4 --max D2:D4 --objective Front!B6 --goal MINIMIZE", "Front!B6"},
    };
    for (const Case& c : cases) {
        std::string out = (dir / "out.xlsx").string();
        Result r = ombrix("solve " + book + c.args + quick + " --json -o " + out);
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_NE(r.out.find("\"variables\": {\"Vars!B2\": "), std::string::npos) << r.out;
        EXPECT_NE(r.out.find("\"objective\": {\"" + c.objective + "\": "), std::string::npos) << r.out;
        EXPECT_EQ(json_number_at(r.out, "evaluations"), 32) << "8 a generation, 4 generations: " << r.out;

        host::io::Document saved = host::io::load(out);
        host::engine::Workbook& b = saved.workbook;
        EXPECT_TRUE(b.is_formula({0, 3, 1})) << "Front!B4 keeps its formula";
        EXPECT_TRUE(b.is_formula({1, 9, 1})) << "Vars!B10 keeps its formula";
        EXPECT_EQ(b.value({0, 1, 1}), Value::text("label"));
        fs::remove(out);
    }
}

TEST_F(Safety, SavesThroughLinksAndKeepsOwnerAndMode) {
    fs::path real = dir / "real.xlsx", link = dir / "link.xlsx";
    fs::copy_file(book, real);
    fs::create_symlink(real.filename(), link);
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    bool root = ::geteuid() == 0;
    ASSERT_TRUE(!root || ::chown(real.c_str(), 1234, 4321) == 0);
    Result r = ombrix("solve " + link.string() + vars + " --objective Vars!F2 --in-place" + quick);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(slurp(real), slurp(book));
    struct stat st;
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    if (root) {
        EXPECT_EQ(st.st_uid, 1234u);
        EXPECT_EQ(st.st_gid, 4321u);
    }
}

// A save that fails after the run (here: a file size limit) still shows the result.
TEST_F(Safety, FailedSaveStillPrintsTheResult) {
    Result r = ombrix("solve " + book + vars + " --objective Vars!F2" + quick, "trap '' XFSZ; ulimit -f 1; ");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Vars!B2\t"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("cannot save"), std::string::npos) << r.err;
    EXPECT_EQ(files(), std::vector<std::string>{"two.xlsx"});
}

TEST_F(Safety, SheetNamesMatchWithoutRegardToCase) {
    Result r = ombrix("calc " + book + " --sheet PLÄN -o " + (dir / "plan.csv").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(slurp(dir / "plan.csv"), "7\n");
}

// SIGTERM while a large file is written: the hidden temporary file goes with the process.
TEST(AtomicSave, SignalRemovesTheTemporaryFile) {
    char pattern[] = "/tmp/ombrix-signal-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    fs::path dir = pattern;
    pid_t child = fork();
    if (child == 0) {
        host::io::write_file_atomically((dir / "big.xlsx").string(), std::string(std::size_t(1) << 27, 'x'));
        _exit(0);
    }
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
        for (const auto& e : fs::directory_iterator(dir))
            seen = seen || e.path().filename().string()[0] == '.';
        if (!seen)
            ::usleep(100);
    }
    ::kill(child, SIGTERM);
    int status = 0;
    ::waitpid(child, &status, 0);
    bool killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM;
    bool left = !fs::is_empty(dir);
    fs::remove_all(dir);
    if (!killed)
        GTEST_SKIP() << "the save finished before the signal";
    EXPECT_TRUE(seen);
    EXPECT_FALSE(left) << "a temporary file was left behind";
}

} // namespace
