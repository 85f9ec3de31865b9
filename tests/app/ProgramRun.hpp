#ifndef OMBRIX_TESTS_APP_PROGRAMRUN_HPP
#define OMBRIX_TESTS_APP_PROGRAMRUN_HPP

// The `ombrix` program run as a user runs it, in a temporary directory of its own.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace program_run {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& p) {
    std::ostringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
}

// The number after "KEY": in a JSON text, read back exactly.
inline double json_number_at(const std::string& json, const std::string& key) {
    std::size_t at = json.find("\"" + key + "\": ");
    if (at == std::string::npos) {
        ADD_FAILURE() << key << " not in " << json;
        return 0;
    }
    return std::strtod(json.c_str() + at + key.size() + 4, nullptr);
}

struct Result {
    int status = -1;
    std::string out, err;
};

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ombrix-app-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    // Runs the program with its standard input closed, as in a script; `shell` goes before it
    // (limits, traps).
    Result ombrix(const std::string& args, const std::string& shell = "") const {
        std::string cmd = shell + OMBRIX_EXE + " " + args + " >" + (dir / "stdout").string() + " 2>" +
                          (dir / "stderr").string() + " </dev/null";
        int rc = std::system(cmd.c_str());
        return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, slurp(dir / "stdout"), slurp(dir / "stderr")};
    }
    // A copy of a bundled example in dir.
    fs::path example(const std::string& name, const std::string& as = "") const {
        fs::path copy = dir / (as.empty() ? name : as);
        fs::copy_file(fs::path(OMBRIX_SOURCE_DIR) / "examples" / name, copy);
        return copy;
    }

    fs::path dir;
};

} // namespace program_run

#endif
