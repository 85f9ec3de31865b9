// `ombrix solve` stopped as a user stops it: Ctrl-C (a real SIGINT) and a time limit.
#include "io/Document.hpp"

#include "ProgramRun.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>

namespace {

namespace fs = std::filesystem;

using program_run::slurp;

class Interrupt : public program_run::ProgramTest {
protected:
    void SetUp() override {
        ProgramTest::SetUp();
        example("rastrigin.xlsx", "in.xlsx");
    }

    // Solves the example with these flags, its JSON into `out` and standard error into `err`,
    // sending a SIGINT each time standard error shows the next of `waits`. The exit status.
    int solve(const std::vector<std::string>& flags, const std::vector<std::string>& waits = {}) {
        std::vector<std::string> args = {OMBRIX_EXE,
                                         "solve",
                                         (dir / "in.xlsx").string(),
                                         "-o",
                                         (dir / "out.xlsx").string(),
                                         "--var",
                                         "B3:D3",
                                         "--min",
                                         "B4:D4",
                                         "--max",
                                         "B5:D5",
                                         "--objective",
                                         "B8",
                                         "--json"};
        args.insert(args.end(), flags.begin(), flags.end());
        int pipe_fds[2];
        if (pipe(pipe_fds) != 0)
            return -1;
        pid_t pid = fork();
        if (pid == 0) {
            dup2(open("/dev/null", O_RDONLY), 0);
            dup2(open((dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
            dup2(pipe_fds[1], 2);
            close(pipe_fds[0]);
            std::vector<char*> argv;
            for (std::string& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(pipe_fds[1]);
        err.clear();
        std::size_t sent = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (char buffer[4096];;) {
            pollfd p{pipe_fds[0], POLLIN, 0};
            ssize_t n = poll(&p, 1, 100) > 0 ? read(pipe_fds[0], buffer, sizeof buffer) : 1;
            if (n <= 0)
                break;
            if (p.revents)
                err.append(buffer, static_cast<std::size_t>(n));
            if (sent < waits.size() && err.find(waits[sent]) != std::string::npos && kill(pid, SIGINT) == 0)
                ++sent;
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "still running: " << err;
                kill(pid, SIGKILL);
                break;
            }
        }
        close(pipe_fds[0]);
        int rc = 0;
        waitpid(pid, &rc, 0);
        out = slurp(dir / "stdout");
        EXPECT_EQ(sent, waits.size()) << err;
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }

    // The run ended so, with at least `least` generations, and the saved variable cells hold
    // the values printed.
    void expect_saved(const std::string& ended, long least) {
        EXPECT_NE(std::string::npos, out.find("\"ended\": \"" + ended + "\"")) << out;
        EXPECT_LE(least, program_run::json_number_at(out, "generations")) << out;
        host::io::Document saved = host::io::load((dir / "out.xlsx").string());
        for (int col = 1; col <= 3; ++col) {
            std::string key = std::string("Rastrigin!") + char('A' + col) + "3";
            EXPECT_EQ(program_run::json_number_at(out, key),
                      saved.workbook.value({saved.workbook.active_sheet(), 2, col}).as_number())
                << key;
        }
    }

    std::string out, err;
};

TEST_F(Interrupt, CtrlCStopsTheRunAndSavesTheBestSoFar) {
    EXPECT_EQ(0, solve({"--generations", "10000000", "--trials", "1", "--progress"}, {"Ombrix: trial 1 of 1"})) << err;
    expect_saved("interrupted", 1);
    EXPECT_NE(std::string::npos, err.find("best point found so far")) << err;
}

TEST_F(Interrupt, ASecondCtrlCQuitsAtOnceSavingNothing) {
    const std::string before = slurp(dir / "in.xlsx");
    // Generations this big take long enough for the second Ctrl-C to land inside one.
    EXPECT_EQ(130, solve({"--population", "400000", "--progress"}, {"Ombrix: trial", "ombrix: stopping"})) << err;
    EXPECT_NE(std::string::npos, err.find("nothing was saved")) << err;
    EXPECT_EQ("", out);
    EXPECT_FALSE(fs::exists(dir / "out.xlsx"));
    EXPECT_EQ(before, slurp(dir / "in.xlsx"));
}

TEST_F(Interrupt, TheTimeLimitStopsTheRun) {
    EXPECT_EQ(0, solve({"--generations", "10000000", "--time-limit", "0.3"})) << err;
    expect_saved("time-limit", 1);
    // No time at all: no point is evaluated, the starting values stay, --quiet shows nothing.
    EXPECT_EQ(0, solve({"--time-limit", "0", "--quiet"})) << err;
    expect_saved("time-limit", 0);
    EXPECT_NE(std::string::npos, out.find("\"Rastrigin!B3\": 2.5, \"Rastrigin!C3\": 2.5")) << out;
    EXPECT_EQ(0u, err.find("The run was stopped before any point")) << err;
}

} // namespace
