#include "io/Csv.hpp"
#include "io/Document.hpp"
#include "io/IoError.hpp"
#include "io/Package.hpp"

#include "FlatJson.hpp"
#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using host::engine::CellAddress;
using host::engine::ErrorCode;
using host::engine::Value;
using host::io::Document;
using host::io::IoError;

namespace {

TEST(CsvRead, FieldsBecomeTheirValues) {
    Document d = host::io::load_csv_text("/tmp/models/plan.v2.csv",
                                         "\xEF\xBB\xBF"
                                         "1.5,-2,TRUE,false,#DIV/0!,text,\"quoted, with \"\"quotes\"\"\"\r\n"
                                         ",\"\",\"3\",=A1*2,=\"SUM(A1,B1)\",  spaced ,50%\r\n"
                                         "\n"
                                         "\"multi\nline\",x\"y,\"a\"b\n");
    const auto& b = d.workbook;
    ASSERT_EQ(b.sheet_count(), 1);
    EXPECT_EQ(b.sheet_name(0), "plan.v2");
    d.workbook.recalculate_all();
    struct Case {
        std::int32_t row, col;
        Value value;
    } cases[] = {
        {0, 0, Value::number(1.5)},
        {0, 1, Value::number(-2)},
        {0, 2, Value::boolean(true)},
        {0, 3, Value::boolean(false)},
        {0, 4, Value::error(ErrorCode::Div0)},
        {0, 5, Value::text("text")},
        {0, 6, Value::text("quoted, with \"quotes\"")},
        {1, 0, Value()},
        {1, 1, Value::text("")},
        {1, 2, Value::text("3")},
        {1, 3, Value::number(3)},
        {1, 4, Value::number(-0.5)},
        {1, 5, Value::text("  spaced ")},
        {1, 6, Value::number(0.5)},
        {2, 0, Value()},
        {3, 0, Value::text("multi\nline")},
        {3, 1, Value::text("x\"y")},
        {3, 2, Value::text("ab")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(b.value({0, c.row, c.col}), c.value) << host::engine::a1_name(c.row, c.col);
    EXPECT_TRUE(b.is_formula({0, 1, 4}));
    EXPECT_EQ(b.formula_text({0, 1, 4}), "SUM(A1,B1)");
}

TEST(CsvRead, BadFieldsNameTheCell) {
    // The file's text -> the start of the message.
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {"1,2\n3,=1+*2\n", "m.csv: sheet 'm', cell B2: formula does not parse: =1+*2: "},
        {"1,\"open\n2\n", "m.csv: sheet 'm': quoted field opened on line 1 is never closed"},
        {std::string(16383, ',') + "1\n", ""}, // XFD1: the last column
        {std::string(16384, ',') + "1\n",
         "m.csv: sheet 'm': row 1 has more than 16,384 columns: its field 16385 would be cell XFE1, past the "
         "sheet's last column XFD"},
        {"\n\n" + std::string(16400, ',') + "\"\"\n", "m.csv: sheet 'm': row 3 has more than 16,384 columns: "
                                                      "its field 16401 would be cell XFU3"},
        {std::string(16500, ',') + "\n", ""}, // empty fields are no cells
        {std::string(1048575, '\n') + "1\n", ""},
        {std::string(1048576, '\n') + "1\n",
         "m.csv: sheet 'm': more than 1,048,576 rows: row 1048577 would be past the sheet's last row"},
    };
    for (const auto& c : cases) {
        const std::string failure = testing_packages::io_failure([&] { host::io::load_csv_text("m.csv", c.text); });
        EXPECT_EQ(failure.substr(0, c.message.size()), c.message) << c.text.substr(0, 40);
        EXPECT_EQ(failure.empty(), c.message.empty()) << failure;
    }
}

TEST(CsvWrite, SheetNamesFromFileNames) {
    struct Case {
        const char *path, *name;
    } cases[] = {
        {"model.csv", "model"},
        {"/a/b/Q1 [draft].csv", "Q1 _draft_"},
        {"dir.d/noext", "noext"},
        {".csv", ".csv"},
        {"'quoted'.csv", "quoted"},
        {"/x/.csv/", "Sheet1"},
        {"abcdefghijklmnopqrstuvwxyz0123456789.csv", "abcdefghijklmnopqrstuvwxyz01234"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(host::io::sheet_name_for(c.path), c.name) << c.path;
}

class SaveFiles : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/ombrix-io-test.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::vector<std::string> files() const {
        std::vector<std::string> out;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            out.push_back(entry.path().filename());
        return out;
    }
    std::string dir;
};

TEST_F(SaveFiles, AtomicWriteReplacesAndKeepsPermissions) {
    std::string path = dir + "/book.xlsx";
    host::io::write_file_atomically(path, "first");
    EXPECT_EQ(host::io::read_file(path), "first");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    host::io::write_file_atomically(path, std::string(100000, 'b'));
    EXPECT_EQ(host::io::read_file(path), std::string(100000, 'b'));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(files(), std::vector<std::string>{"book.xlsx"}) << "no temporary file left";
}

TEST_F(SaveFiles, FailureLeavesTheTargetAndNoTemporaryFile) {
    // The target is a directory: the rename fails after the temporary file was written.
    std::string target = dir + "/sub";
    ASSERT_EQ(::mkdir(target.c_str(), 0755), 0);
    EXPECT_THROW(host::io::write_file_atomically(target, "data"), IoError);
    struct stat st;
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(files(), std::vector<std::string>{"sub"});
    EXPECT_EQ(testing_packages::io_failure([&] {
                  host::io::write_file_atomically(dir + "/missing/book.xlsx", "data");
              }).rfind(dir + "/missing/book.xlsx: cannot save", 0),
              0u);
}

TEST_F(SaveFiles, SaveChoosesTheFormatByExtension) {
    Document d = host::io::load_csv_text("m.csv", "1,=A1+1\n");
    d.workbook.recalculate_all();
    host::io::save(d, dir + "/out.csv");
    host::io::save(d, dir + "/out.XLSX");
    EXPECT_EQ(host::io::read_file(dir + "/out.csv"), "1,=A1+1\n");
    Document x = host::io::load(dir + "/out.XLSX");
    x.workbook.recalculate_all();
    EXPECT_EQ(x.workbook.value({0, 0, 1}), Value::number(2));
    EXPECT_EQ(host::io::format_of("a/b.Csv"), host::io::Format::Csv);
    EXPECT_EQ(host::io::format_of("a.csv/b"), host::io::Format::Xlsx);
}

TEST(Diagnostics, UnknownFunctionsOnceEachCyclesAndTextFormats) {
    Document d =
        host::io::load_csv_text("m.csv", "=NOSUCH(1),=nosuch(2),=OTHER()\n=A3,,\n=A2,=\"TEXT(1,\"\"[DBNum1]0\"\")\"\n");
    d.workbook.recalculate_all();
    EXPECT_EQ(d.workbook.value({0, 2, 1}), Value::error(ErrorCode::Value));
    std::vector<std::string> w = host::io::diagnostic_warnings("m.csv", d.workbook);
    ASSERT_EQ(w.size(), 4u);
    EXPECT_EQ(w[0], "m.csv: warning: unknown function NOSUCH in m!A1, m!B1");
    EXPECT_EQ(w[1], "m.csv: warning: unknown function OTHER in m!C1");
    EXPECT_EQ(w[2], "m.csv: warning: TEXT cannot show the number format \"[DBNum1]0\" (it gives #VALUE!) in m!B3");
    EXPECT_EQ(w[3], "m.csv: warning: circular reference through m!A2, m!A3");
    // Once the format is one the engine knows, its warning goes.
    d.workbook.set_formula({0, 2, 1}, "TEXT(1,\"0\")");
    d.workbook.recalculate();
    EXPECT_EQ(host::io::diagnostic_warnings("m.csv", d.workbook).size(), 3u);
}

} // namespace
