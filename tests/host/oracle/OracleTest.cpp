// Cross-checks the engine against LibreOffice Calc: every formula of formulas/*.txt, over the
// mixed inputs below, is written into one workbook without cached values, recalculated by
// LibreOffice (headless, converting the file, which makes it compute every formula), and every
// value is compared with the engine's. A line FORMULA<TAB>ANSWER<TAB>WHY is a known difference:
// LibreOffice departs from the spreadsheet's own semantics, and the engine must give ANSWER.

#include "engine/Program.hpp"
#include "engine/Workbook.hpp"
#include "io/Document.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"
#include "io/XlsxParts.hpp"

#include "FormulaTable.hpp"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <algorithm>
#include <map>
#include <string>
#include <vector>

using host::engine::ErrorCode;
using host::engine::Value;

namespace {

// The inputs, on sheet "In". Errors are made by formulas, as a user would have them.
struct Input {
    const char* cell;
    Value value;
    const char* formula;
};

std::vector<Input> inputs() {
    return {
        {"A1", Value::number(3), nullptr},
        {"A2", Value::number(-2.5), nullptr},
        {"A3", Value::number(0), nullptr},
        {"A4", Value::text("3"), nullptr},
        {"A5", Value::text("abc"), nullptr},
        {"A6", Value::boolean(true), nullptr},
        {"A7", Value::boolean(false), nullptr},
        // A8 stays empty.
        {"A9", Value(), "1/0"},
        {"A10", Value(), "NA()"},
        {"A11", Value::number(0.5), nullptr},
        {"A12", Value::number(100), nullptr},
        {"A13", Value::number(-7), nullptr},
        {"A14", Value::number(2.75), nullptr},
        {"A15", Value::text("  padded   text "), nullptr},
        {"A16", Value::text("Hello World"), nullptr},
        {"A17", Value::number(1e10), nullptr},
        {"A18", Value::number(0.001), nullptr},
        // A column of numbers with a text and a boolean among them, for aggregates.
        {"B1", Value::number(4), nullptr},
        {"B2", Value::number(8), nullptr},
        {"B3", Value::number(15), nullptr},
        {"B4", Value::number(16), nullptr},
        {"B5", Value::number(23), nullptr},
        {"B6", Value::number(42), nullptr},
        {"B7", Value::text("x"), nullptr},
        {"B8", Value::boolean(true), nullptr},
        // A lookup table, keys ascending.
        {"C1", Value::number(1), nullptr}, {"D1", Value::text("one"), nullptr},
        {"C2", Value::number(2), nullptr}, {"D2", Value::text("two"), nullptr},
        {"C3", Value::number(3), nullptr}, {"D3", Value::text("three"), nullptr},
        {"C4", Value::number(5), nullptr}, {"D4", Value::text("five"), nullptr},
        {"C5", Value::number(8), nullptr}, {"D5", Value::text("eight"), nullptr},
        {"C6", Value::number(13), nullptr}, {"D6", Value::text("thirteen"), nullptr},
        {"E1", Value::number(10), nullptr}, {"E2", Value::number(20), nullptr},
        {"E3", Value::number(30), nullptr}, {"E4", Value::number(40), nullptr},
        {"E5", Value::number(50), nullptr}, {"E6", Value::number(60), nullptr},
        // A row table for HLOOKUP.
        {"G1", Value::number(1), nullptr}, {"H1", Value::number(2), nullptr},
        {"I1", Value::number(4), nullptr}, {"J1", Value::number(8), nullptr},
        {"G2", Value::text("a"), nullptr}, {"H2", Value::text("b"), nullptr},
        {"I2", Value::text("c"), nullptr}, {"J2", Value::text("d"), nullptr},
        // Subtotals within subtotals, for SUBTOTAL.
        {"K1", Value::number(1), nullptr}, {"K2", Value::number(2), nullptr},
        {"K3", Value(), "SUBTOTAL(9,K1:K2)"}, {"K4", Value::number(4), nullptr},
        {"K5", Value(), "SUBTOTAL(9,K1:K4)"}, {"K6", Value::text("x"), nullptr},
    };
}

struct Formula {
    std::string where, text;   // where: file:line
    bool known_difference = false;
    Value spreadsheet;         // a known difference: the spreadsheet's answer (the engine's too)
    std::string why;
};

std::vector<Formula> formulas() {
    const std::string dir = OMBRIX_SOURCE_DIR "/tests/host/oracle/formulas";
    std::vector<std::string> files;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (dirent* e = ::readdir(d))
            if (std::string name = e->d_name; name.size() > 4 && name.substr(name.size() - 4) == ".txt")
                files.push_back(name);
        ::closedir(d);
    }
    std::sort(files.begin(), files.end());
    std::vector<Formula> all;
    for (const std::string& file : files)
        for (const auto& row : formulatable::read_rows(dir + "/" + file)) {
            Formula f;
            f.where = row.file + ":" + std::to_string(row.line), f.text = row.columns[0];
            if (row.columns.size() == 3)
                f.known_difference = true, f.spreadsheet = formulatable::parse_value(row.columns[1]), f.why = row.columns[2];
            else if (row.columns.size() != 1)
                ADD_FAILURE() << f.where << ": a line is FORMULA or FORMULA<TAB>ANSWER<TAB>WHY";
            all.push_back(f);
        }
    return all;
}

std::string soffice() {
    for (const char* path : {"/usr/bin/soffice", "/usr/lib/libreoffice/program/soffice"})
        if (::access(path, X_OK) == 0) return path;
    return std::string();
}

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/ombrix-oracle.XXXXXX";
        if (mkdtemp(pattern)) path = pattern;
    }
    ~TempDir() {
        if (!path.empty()) std::system(("rm -rf '" + path + "'").c_str());
    }
    std::string path;
};

bool same(const Value& engine, const Value& other) {
    if (engine.is_number() && other.is_number()) {
        double a = engine.as_number(), b = other.as_number();
        if (a == b) return true;
        // The file holds 15 significant digits.
        return std::fabs(a - b) <= 1e-13 * std::max(std::fabs(a), std::fabs(b));
    }
    return engine == other;
}

std::string show(const Value& v) {
    static const char* const types[] = {"empty", "number", "text", "boolean", "error"};
    return std::string(types[int(v.type())]) + " " + v.to_string();
}

TEST(Oracle, EveryFormulaAgreesWithLibreOfficeOrIsAKnownDifference) {
    std::string office = soffice();
    ASSERT_FALSE(office.empty())
        << "LibreOffice (soffice) is not installed; the oracle test needs it: run scripts/setup --test";

    const std::vector<Formula> all = formulas();
    ASSERT_GT(all.size(), 300u);

    // Every function the engine knows is exercised.
    std::string text;
    for (const Formula& f : all) text += f.text + " ";
    for (const auto& fn : host::engine::detail::functions())
        EXPECT_NE(text.find(std::string(fn.name) + "("), std::string::npos)
            << fn.name << " has no formula in the oracle test";

    host::io::Document d;
    auto& book = d.workbook;
    int in = book.add_sheet("In");
    int out = book.add_sheet("F");
    for (const Input& input : inputs()) {
        host::engine::CellAddress at{in, 0, 0};
        ASSERT_TRUE(host::engine::parse_a1(input.cell, at.row, at.col));
        if (input.formula) book.set_formula(at, input.formula);
        else book.set_value(at, input.value);
    }
    for (std::size_t i = 0; i < all.size(); ++i) {
        try {
            book.set_formula({out, std::int32_t(i), 0}, all[i].text);
        } catch (const host::engine::FormulaError& e) {
            ADD_FAILURE() << all[i].where << ": " << e.what();
        }
    }

    // Written before the engine calculates anything, so the file has no cached values and
    // LibreOffice must compute every one.
    TempDir dir;
    ASSERT_FALSE(dir.path.empty());
    std::string input_path = dir.path + "/oracle.xlsx";
    host::io::save(d, input_path);
    {
        host::io::Package package(input_path, host::io::read_file(input_path));
        ASSERT_EQ(package.read("xl/worksheets/sheet2.xml").find("<v>"), std::string::npos);
    }
    std::string command = "cd '" + dir.path + "' && HOME='" + dir.path + "' '" + office +
                          "' -env:UserInstallation=file://" + dir.path +
                          "/profile --headless --norestore --nolockcheck --convert-to "
                          "'xlsx:Calc MS Excel 2007 XML' --outdir '" + dir.path +
                          "/out' oracle.xlsx >'" + dir.path + "/soffice.log' 2>&1";
    int status = std::system(command.c_str());
    std::string converted = dir.path + "/out/oracle.xlsx";
    struct stat st;
    ASSERT_TRUE(status == 0 && ::stat(converted.c_str(), &st) == 0)
        << "LibreOffice did not convert the workbook (status " << status << "): "
        << host::io::read_file(dir.path + "/soffice.log");

    host::io::Package result("LibreOffice's oracle.xlsx", host::io::read_file(converted));
    host::io::WorkbookRecord record = host::io::read_workbook_parts(result);
    ASSERT_EQ(record.sheets.size(), 2u);
    std::map<std::int32_t, Value> theirs;
    for (const auto& cell : record.sheets[1].cells)
        if (cell.at.column == 0) theirs[std::int32_t(cell.at.row)] = cell.value;

    book.recalculate_all();
    int agreed = 0, differences = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Formula& f = all[i];
        const Value& ours = book.value({out, std::int32_t(i), 0});
        auto found = theirs.find(std::int32_t(i));
        Value lo = found == theirs.end() ? Value() : found->second;
        if (f.known_difference) {
            ++differences;
            EXPECT_TRUE(same(ours, f.spreadsheet)) << f.where << ": =" << f.text << ": engine " << show(ours)
                                                   << ", the spreadsheet " << show(f.spreadsheet) << " (" << f.why << ")";
            EXPECT_FALSE(same(lo, f.spreadsheet))
                << f.where << ": =" << f.text << ": LibreOffice now agrees; drop the listed difference";
        } else if (same(ours, lo)) {
            ++agreed;
        } else {
            ADD_FAILURE() << f.where << ": =" << f.text << ": engine " << show(ours) << ", LibreOffice " << show(lo);
        }
    }
    std::cout << all.size() << " formulas, " << agreed << " agree with LibreOffice, " << differences
              << " known differences\n";
}

} // namespace
