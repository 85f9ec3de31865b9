// The `ombrix` program run as a user runs it: solve, calc, about, run-tests, test, menu and run,
// on the bundled examples, the workbook corpus and small workbooks made here.
#include "AddinCommands.hpp"
#include "Mirror.hpp"
#include "ProgramRun.hpp"

#include "io/Document.hpp"
#include "io/Package.hpp"

#include "FlatJson.hpp"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

namespace fs = std::filesystem;
using host::engine::Value;

using program_run::json_number_at;
using program_run::Result;
using program_run::slurp;

class Command : public program_run::ProgramTest {
protected:
    std::string write(const std::string& name, const std::string& content) const {
        std::ofstream(dir / name, std::ios::binary) << content;
        return (dir / name).string();
    }
    static std::string corpus(const std::string& name) { return OMBRIX_SOURCE_DIR "/tests/host/corpus/" + name; }
};

const char* rastrigin_flags = "--var B3:D3 --min B4:D4 --max B5:D5 --objective B8 --goal minimise";

TEST_F(Command, SolveMatchesTheOptimiserCalledDirectly) {
    fs::path input = example("rastrigin.xlsx");
    Result r = ombrix("solve " + input.string() + " " + rastrigin_flags + " --seed 5 --generations 40 --json");
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<double> got = {json_number_at(r.out, "Rastrigin!B3"), json_number_at(r.out, "Rastrigin!C3"),
                               json_number_at(r.out, "Rastrigin!D3")};
    mirror::Settings s{5, 50, 40, 2, 1.0, 0.03125, false};
    std::vector<double> best = mirror::solve(s, {-5.12, -5.12, -5.12}, {5.12, 5.12, 5.12}, mirror::rastrigin);
    EXPECT_EQ(got, best);
    EXPECT_EQ(json_number_at(r.out, "Rastrigin!B8"), mirror::rastrigin(best));
    EXPECT_EQ(json_number_at(r.out, "evaluations"), 50 * 40 * 2);

    // The result is written into the saved workbook, next to the input; the input is untouched.
    fs::path output = dir / "rastrigin.solved.xlsx";
    ASSERT_TRUE(fs::exists(output));
    host::io::Document solved = host::io::load(output.string());
    EXPECT_EQ(solved.workbook.value({0, 2, 3}), Value::number(best[2]));
    EXPECT_EQ(slurp(input), slurp(fs::path(OMBRIX_SOURCE_DIR) / "examples/rastrigin.xlsx"));
}

TEST_F(Command, SolveSavesWhereAsked) {
    const std::string input =
        write("Model.csv", ",0,0\n,-3,-2\n,4,1.5\n\n,=" + std::string(mirror::bowl_formula) + "\n");
    std::string flags = " --sheet Model --var B1:C1 --min B2:C2 --max B3:C3 --objective B5 --generations 10";
    std::string before = slurp(input);

    Result r = ombrix("solve " + input + flags + " --output " + (dir / "out.xlsx").string());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out.xlsx"));
    EXPECT_FALSE(fs::exists(dir / "Model.solved.csv"));
    EXPECT_NE(r.out.find("Objective Model!B5"), std::string::npos) << r.out;
    EXPECT_EQ(slurp(input), before);

    r = ombrix("solve " + input + flags + " --output " + input);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--in-place"), std::string::npos) << r.err;
    EXPECT_EQ(slurp(input), before);

    r = ombrix("solve " + input + flags + " --in-place");
    ASSERT_EQ(r.status, 0) << r.err;
    host::io::Document solved = host::io::load(input);
    EXPECT_NEAR(solved.workbook.value({0, 0, 2}).as_number(), -0.5, 0.2);
}

TEST_F(Command, UnknownFieldsAreRefusedBeforeTheAddinRuns) {
    fs::path input = example("production.xlsx");
    // The module named does not exist: refusing the flags must come first.
    for (const char* flags : {"--field Colour=red", "--field Seed", "--field =3"}) {
        Result r = ombrix("solve " + input.string() + " " + flags + " --addin /nonexistent.so");
        EXPECT_EQ(r.status, 2) << flags << r.err;
        EXPECT_EQ(r.err.find("nonexistent"), std::string::npos) << flags << ": " << r.err;
    }
    // A goal that is no entry is found once the dialog's list is known.
    Result r = ombrix("solve " + input.string() + " --var B3:D3 --goal sideways");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("Maximise or Minimise"), std::string::npos) << r.err;
    r = ombrix("solve " + input.string() + " --field \"goal=MINIMISE\" --field \"seed=3\" " +
               "--var B3:D3 --min B4:D4 --max B5:D5 --objective B16 --generations 5 --json");
    EXPECT_EQ(r.status, 0) << r.err;
}

TEST_F(Command, AboutRunTestsMenuAndRun) {
    Result r = ombrix("about");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Ombrix V", 0), 0u) << r.out;

    r = ombrix("run-tests");
    EXPECT_EQ(r.status, 0) << r.err;

    r = ombrix("menu");
    EXPECT_EQ(r.status, 0) << r.err;
    std::size_t menu = r.out.find("&Ombrix (in front of &Help)\n  Solve  -> runs Solve\n  Model...  -> runs Model\n  "
                                  "Options...  -> runs Options\n  About  -> runs About\n");
    EXPECT_NE(menu, std::string::npos) << r.out;

    r = ombrix("run NoSuchCommand");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("NoSuchCommand"), std::string::npos);
}

TEST_F(Command, TestCopiesTheBlockAndSaves) {
    Result r = ombrix("test " + write("block.csv", "0,1,2\n10,11,12\n20,21,22\n"));
    ASSERT_EQ(r.status, 0) << r.err;
    host::io::Document tested = host::io::load((dir / "block.tested.csv").string());
    for (int row = 0; row < 3; ++row)
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(tested.workbook.value({0, row + 1, c + 1}), Value::number(10 * row + c));

    r = ombrix("test " + write("holey.csv", "1\n"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("Error: range element not a double"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "holey.tested.csv"));
}

TEST(OutputPath, DefaultsNextToTheInput) {
    EXPECT_EQ(app::output_path("model.csv", "", false, "solved"), "model.solved.csv");
    EXPECT_EQ(app::output_path("a.b/model", "", false, "tested"), "a.b/model.tested");
    std::string self = std::string(OMBRIX_SOURCE_DIR) + "/examples/production.xlsx";
    EXPECT_THROW(app::output_path(self, std::string(OMBRIX_SOURCE_DIR) + "/examples/../examples/production.xlsx", false,
                                  "solved"),
                 app::UsageError);
}

TEST(JsonNumber, NotANumberIsNull) { EXPECT_EQ(app::json_number(std::nan("")), "null"); }

TEST_F(Command, CalcPlainOutputIsOneLinePerFormula) {
    // A line break in a value is escaped; bytes that are no UTF-8 pass as they are (JSON
    // replaces them).
    std::string book = write("m.csv", "2,=A1*3,=A1/0\n\"x\",=A2&\"y\",=A1>1\n\"two\nlines\",=A3,\"bad \xff\",=C3\n");
    Result run = ombrix("calc '" + book + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, "m!B1\t6\nm!C1\t#DIV/0!\nm!B2\txy\nm!C2\tTRUE\nm!B3\ttwo\\nlines\nm!D3\tbad \xff\n");
    run = ombrix("calc --json '" + book + "'");
    EXPECT_NE(run.out.find("\"m!D3\": \"bad \xEF\xBF\xBD\""), std::string::npos) << run.out;
}

// Every formula value, and only those, printed as JSON; the recalculated workbook saved.
TEST_F(Command, CalcJsonAndOutputSaveTheRecalculatedWorkbook) {
    std::string saved = (dir / "saved.xlsx").string();
    Result run = ombrix("calc '" + corpus("openpyxl.xlsx") + "' --json --output '" + saved + "'");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(testing_json::parse_object(run.out),
              testing_json::parse_object(host::io::read_file(corpus("expected.json"))));
    Result again = ombrix("calc --json '" + saved + "'");
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_EQ(testing_json::parse_object(again.out), testing_json::parse_object(run.out));
    // The cached values were written, to the last bit.
    host::io::Package package(saved, host::io::read_file(saved));
    EXPECT_NE(package.read("xl/worksheets/sheet2.xml").find("<v>0.30000000000000004</v>"), std::string::npos);

    std::string csv = (dir / "saved.csv").string();
    ASSERT_EQ(ombrix("calc '" + write("q.csv", "1,=A1+1\n") + "' -o '" + csv + "'").status, 0);
    EXPECT_EQ(host::io::read_file(csv), "1,=A1+1\n");
}

// --shown prints what the cells show through their number formats (the text beside each,
// which the file's author copied from the spreadsheet); without it, the values themselves.
TEST_F(Command, CalcShownPrintsValuesThroughTheirCellsFormats) {
    const std::string book = corpus("real/poi/FormatKM.xlsx");
    Result plain = ombrix("calc '" + book + "'"), shown = ombrix("calc --shown '" + book + "'");
    ASSERT_EQ(shown.status, 0) << shown.err;
    EXPECT_EQ(plain.out.find("1.021M"), std::string::npos) << plain.out;
    for (const char* line : {"Sheet1!B2\t1\n", "Sheet1!D2\t1.020\n", "Sheet1!B9\t1M\n", "Sheet1!D9\t1.021M\n"})
        EXPECT_NE(shown.out.find(line), std::string::npos) << line << " in\n" << shown.out;
    Result json = ombrix("calc --shown --json '" + book + "'");
    EXPECT_NE(json.out.find("\"Sheet1!D12\": \"1021.021M\""), std::string::npos) << json.out;
}

TEST_F(Command, CalcBadFilesGiveOneMessageAndFailure) {
    struct Case {
        std::string file;
        std::string message;
    } cases[] = {
        {write("text.xlsx", "not a zip"), "text.xlsx: not an .xlsx workbook"},
        {(dir / "missing.xlsx").string(), "missing.xlsx: cannot open the file"},
        {write("bad.csv", "1\n2,=SUM(A1\n"), "bad.csv: sheet 'bad', cell B2: formula does not parse"},
    };
    for (const Case& c : cases) {
        Result run = ombrix("calc '" + c.file + "'");
        EXPECT_EQ(run.status, 1) << c.file;
        EXPECT_EQ(run.out, "");
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << "one line: " << run.err;
    }
    // A save that cannot be made is refused before anything is printed.
    std::string book = write("ok.csv", "1,=A1\n");
    Result run = ombrix("calc '" + book + "' --output '" + (dir / "no/such/dir/out.xlsx").string() + "'");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("cannot save"), std::string::npos) << run.err;
}

TEST_F(Command, CalcUnknownFunctionsAndCyclesAreWarnings) {
    std::string book = write("w.csv", "=FOO(1),=foo(2)\n=A3\n=A2\n");
    Result run = ombrix("calc --json '" + book + "'");
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("warning: unknown function FOO in w!A1, w!B1"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("warning: circular reference through w!A2, w!A3"), std::string::npos) << run.err;
    auto values = testing_json::parse_object(run.out);
    EXPECT_EQ(values["w!A1"], Value::error(host::engine::ErrorCode::Name));
}

} // namespace
