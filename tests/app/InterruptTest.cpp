// `ombrix solve` stopped as a user stops it: Ctrl-C (a real SIGINT to the process) and a
// time limit.
#include "io/Document.hpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Finished {
    int status = -1;
    std::string out, err;
};

class Interrupt : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ombrix-interrupt-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
        input = dir / "rastrigin.xlsx";
        fs::copy_file(fs::path(OMBRIX_SOURCE_DIR) / "examples" / "rastrigin.xlsx", input);
        output = dir / "out.xlsx";
    }
    void TearDown() override { fs::remove_all(dir); }

    // Solves the example with these extra flags; once standard error shows each of `waits`
    // in turn, sends the process a SIGINT.
    Finished solve(const std::vector<std::string>& flags, const std::vector<std::string>& waits = {}) {
        std::vector<std::string> args = {OMBRIX_EXE, "solve", input.string(), "--var", "B3:D3", "--min", "B4:D4",
                                         "--max", "B5:D5", "--objective", "B8", "--goal", "minimise",
                                         "--json", "-o", output.string()};
        args.insert(args.end(), flags.begin(), flags.end());
        int err_pipe[2];
        if (pipe(err_pipe) != 0) return {};
        pid_t pid = fork();
        if (pid == 0) {
            int out = open((dir / "stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            int in = open("/dev/null", O_RDONLY);
            dup2(in, 0);
            dup2(out, 1);
            dup2(err_pipe[1], 2);
            close(err_pipe[0]);
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(err_pipe[1]);
        Finished f;
        std::size_t next = 0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        char buffer[4096];
        for (;;) {
            pollfd p{err_pipe[0], POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                ssize_t n = read(err_pipe[0], buffer, sizeof buffer);
                if (n <= 0) break;
                f.err.append(buffer, static_cast<std::size_t>(n));
            }
            if (next < waits.size() && f.err.find(waits[next]) != std::string::npos) {
                kill(pid, SIGINT);
                ++next;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                ADD_FAILURE() << "still running; standard error so far: " << f.err;
                kill(pid, SIGKILL);
                break;
            }
        }
        close(err_pipe[0]);
        int rc = 0;
        waitpid(pid, &rc, 0);
        f.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        f.out = slurp(dir / "stdout");
        EXPECT_EQ(next, waits.size()) << f.err;
        return f;
    }

    // The saved variable cells equal the values the command printed.
    void expect_saved_as_printed(const std::string& json) {
        host::io::Document saved = host::io::load(output.string());
        int sheet = saved.workbook.active_sheet();
        for (int col = 1; col <= 3; ++col) {
            std::string key = std::string("\"Rastrigin!") + char('A' + col) + "3\": ";
            std::size_t at = json.find(key);
            ASSERT_NE(at, std::string::npos) << key << json;
            const host::engine::Value& v = saved.workbook.value({sheet, 2, col});
            ASSERT_TRUE(v.is_number());
            EXPECT_EQ(std::strtod(json.c_str() + at + key.size(), nullptr), v.as_number()) << key;
        }
    }

    static long generations(const std::string& json) {
        std::size_t at = json.find("\"generations\": ");
        return at == std::string::npos ? -1 : std::strtol(json.c_str() + at + 15, nullptr, 10);
    }

    fs::path dir, input, output;
};

TEST_F(Interrupt, CtrlCStopsTheRunAndSavesTheBestSoFar) {
    Finished f = solve({"--generations", "10000000", "--trials", "1", "--progress"}, {"Ombrix: trial 1 of 1"});
    EXPECT_EQ(0, f.status) << f.err;
    EXPECT_NE(std::string::npos, f.out.find("\"ended\": \"interrupted\"")) << f.out;
    EXPECT_LT(0, generations(f.out)) << f.out;
    EXPECT_LT(generations(f.out), 10000000) << f.out;
    EXPECT_NE(std::string::npos, f.err.find("best point found so far")) << f.err;
    expect_saved_as_printed(f.out);
}

TEST_F(Interrupt, ASecondCtrlCQuitsAtOnceSavingNothing) {
    const std::string before = slurp(input);
    // Generations of this size take long enough for the second Ctrl-C to land inside one.
    Finished f = solve({"--population", "400000", "--generations", "1000", "--progress"},
                       {"Ombrix: trial 1 of 2", "ombrix: stopping"});
    EXPECT_EQ(130, f.status) << f.err;
    EXPECT_NE(std::string::npos, f.err.find("nothing was saved")) << f.err;
    EXPECT_EQ("", f.out);
    EXPECT_FALSE(fs::exists(output));
    EXPECT_EQ(before, slurp(input));
}

TEST_F(Interrupt, TheTimeLimitStopsTheRun) {
    Finished f = solve({"--generations", "10000000", "--time-limit", "0.3"});
    EXPECT_EQ(0, f.status) << f.err;
    EXPECT_NE(std::string::npos, f.out.find("\"ended\": \"time-limit\"")) << f.out;
    EXPECT_LT(0, generations(f.out)) << f.out;
    expect_saved_as_printed(f.out);

    // No time at all: no point is evaluated and the starting values stay.
    f = solve({"--time-limit", "0", "--quiet"});
    EXPECT_EQ(0, f.status) << f.err;
    EXPECT_EQ(0, generations(f.out)) << f.out;
    EXPECT_NE(std::string::npos, f.out.find("\"Rastrigin!B3\": 2.5, \"Rastrigin!C3\": 2.5")) << f.out;
    EXPECT_EQ("", f.err.substr(0, f.err.find("The run was stopped before any point"))) << "no progress with --quiet";
}

} // namespace
