#include "io/Document.hpp"
#include "io/Package.hpp"

#include "FlatJson.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

using host::engine::Value;

namespace {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

class CalcCommand : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ombrix-app-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }

    // Runs `ombrix ARGS` and collects its exit status and both outputs.
    Outcome ombrix(const std::string& args) {
        std::string command = std::string("'") + OMBRIX_EXE + "' " + args + " >'" + dir +
                              "/out' 2>'" + dir + "/err' </dev/null";
        Outcome run;
        int status = std::system(command.c_str());
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.out = host::io::read_file(dir + "/out");
        run.err = host::io::read_file(dir + "/err");
        return run;
    }

    std::string write(const std::string& name, const std::string& content) {
        std::ofstream(dir + "/" + name, std::ios::binary) << content;
        return dir + "/" + name;
    }

    std::string dir;
};

std::string corpus(const std::string& name) {
    return std::string(OMBRIX_SOURCE_DIR) + "/tests/host/corpus/" + name;
}

TEST_F(CalcCommand, HelpExplainsTheCommands) {
    Outcome top = ombrix("--help");
    EXPECT_EQ(top.status, 0);
    EXPECT_NE(top.out.find("calc"), std::string::npos) << top.out;
    Outcome calc = ombrix("calc --help");
    EXPECT_EQ(calc.status, 0);
    for (const char* word : {"BOOK", "--output", "--json"})
        EXPECT_NE(calc.out.find(word), std::string::npos) << word << " missing from\n" << calc.out;
    EXPECT_NE(ombrix("calc").status, 0) << "BOOK is required";
    EXPECT_NE(ombrix("calc a.xlsx --no-such-option").status, 0);
}

TEST_F(CalcCommand, JsonHoldsEveryFormulaValue) {
    auto expected = testing_json::parse_object(host::io::read_file(corpus("expected.json")));
    for (const char* name : {"openpyxl.xlsx", "libxlsxwriter.xlsx", "libreoffice.xlsx", "handmade.xlsx"}) {
        Outcome run = ombrix("calc --json '" + corpus(name) + "'");
        ASSERT_EQ(run.status, 0) << name << ": " << run.err;
        EXPECT_EQ(run.err, "") << name;
        auto values = testing_json::parse_object(run.out);
        for (const auto& e : expected) {
            ASSERT_TRUE(values.count(e.first)) << name << " lacks " << e.first;
            EXPECT_EQ(values[e.first], e.second) << name << " " << e.first;
        }
        // Only formula cells are printed: LibreOffice stores TRUE as a formula.
        std::size_t extra = std::string(name) == "libreoffice.xlsx" ? 1 : 0;
        EXPECT_EQ(values.size(), expected.size() + extra) << name;
    }
}

TEST_F(CalcCommand, PlainOutputIsOneLinePerFormula) {
    std::string book = write("m.csv", "2,=A1*3,=A1/0\n\"x\",=A2&\"y\",=A1>1\n");
    Outcome run = ombrix("calc '" + book + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "m!B1\t6\nm!C1\t#DIV/0!\nm!B2\txy\nm!C2\tTRUE\n");
}

TEST_F(CalcCommand, OutputSavesTheRecalculatedWorkbook) {
    std::string saved = dir + "/saved.xlsx";
    Outcome run = ombrix("calc '" + corpus("openpyxl.xlsx") + "' --json --output '" + saved + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    Outcome again = ombrix("calc --json '" + saved + "'");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(testing_json::parse_object(again.out), testing_json::parse_object(run.out));
    // The cached values were written, to the last bit.
    host::io::Package package(saved, host::io::read_file(saved));
    EXPECT_NE(package.read("xl/worksheets/sheet2.xml").find("<v>0.30000000000000004</v>"), std::string::npos);

    std::string csv = dir + "/saved.csv";
    ASSERT_EQ(ombrix("calc '" + write("q.csv", "1,=A1+1\n") + "' -o '" + csv + "'").status, 0);
    EXPECT_EQ(host::io::read_file(csv), "1,=A1+1\n");
}

TEST_F(CalcCommand, BadFilesGiveOneMessageAndFailure) {
    struct Case {
        std::string file;
        std::string message;
    } cases[] = {
        {write("text.xlsx", "not a zip"), "text.xlsx: not an .xlsx workbook"},
        {dir + "/missing.xlsx", "missing.xlsx: cannot open the file"},
        {write("bad.csv", "1\n2,=SUM(A1\n"), "bad.csv: sheet 'bad', cell B2: formula does not parse"},
    };
    for (const Case& c : cases) {
        Outcome run = ombrix("calc '" + c.file + "'");
        EXPECT_EQ(run.status, 1) << c.file;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    }
    // A save that cannot be made is refused before anything is printed.
    std::string book = write("ok.csv", "1,=A1\n");
    Outcome run = ombrix("calc '" + book + "' --output '" + dir + "/no/such/dir/out.xlsx'");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("cannot save"), std::string::npos) << run.err;
}

TEST_F(CalcCommand, UnknownFunctionsAndCyclesAreWarnings) {
    std::string book = write("w.csv", "=FOO(1),=foo(2)\n=A3\n=A2\n");
    Outcome run = ombrix("calc --json '" + book + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("warning: unknown function FOO in w!A1, w!B1"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("warning: circular reference through w!A2, w!A3"), std::string::npos) << run.err;
    auto values = testing_json::parse_object(run.out);
    EXPECT_EQ(values["w!A1"], Value::error(host::engine::ErrorCode::Name));
}

} // namespace
