// Cross-checks the engine against LibreOffice Calc: every formula of formulas/*.txt, over the
// mixed inputs below, is written into one workbook without cached values, recalculated by
// LibreOffice (headless, converting the file, which makes it compute every formula), and every
// value is compared with the engine's. A line FORMULA<TAB>ANSWER<TAB>WHY is a known difference:
// LibreOffice departs from the spreadsheet's own semantics, and the engine must give ANSWER.
// A line {=FORMULA}[<TAB>ROWSxCOLUMNS] is a legacy array formula over that many cells (one
// without a size), on a sheet of their own; every cell of it is compared.

#include "engine/Workbook.hpp"
#include "io/Document.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"
#include "io/XlsxParts.hpp"

#include "Fixture.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <tuple>

using namespace enginetest;

namespace {

// The inputs, on sheet "In", as CELL CONTENT pairs in the tables' syntax (errors are made by
// formulas, as a user would have them): mixed values in A (A8 empty); a column of numbers with a
// text and a boolean among them, for aggregates; a lookup table with ascending keys; a row
// table for HLOOKUP; subtotals within subtotals, for SUBTOTAL.
const char* const inputs[][2] = {
    {"A1", "3"},
    {"A2", "-2.5"},
    {"A3", "0"},
    {"A4", "\"3\""},
    {"A5", "\"abc\""},
    {"A6", "TRUE"},
    {"A7", "FALSE"},
    {"A9", "=1/0"},
    {"A10", "=NA()"},
    {"A11", "0.5"},
    {"A12", "100"},
    {"A13", "-7"},
    {"A14", "2.75"},
    {"A15", "\"  padded   text \""},
    {"A16", "\"Hello World\""},
    {"A17", "1e10"},
    {"A18", "0.001"},
    {"B1", "4"},
    {"B2", "8"},
    {"B3", "15"},
    {"B4", "16"},
    {"B5", "23"},
    {"B6", "42"},
    {"B7", "\"x\""},
    {"B8", "TRUE"},
    {"C1", "1"},
    {"D1", "\"one\""},
    {"C2", "2"},
    {"D2", "\"two\""},
    {"C3", "3"},
    {"D3", "\"three\""},
    {"C4", "5"},
    {"D4", "\"five\""},
    {"C5", "8"},
    {"D5", "\"eight\""},
    {"C6", "13"},
    {"D6", "\"thirteen\""},
    {"E1", "10"},
    {"E2", "20"},
    {"E3", "30"},
    {"E4", "40"},
    {"E5", "50"},
    {"E6", "60"},
    {"G1", "1"},
    {"H1", "2"},
    {"I1", "4"},
    {"J1", "8"},
    {"G2", "\"a\""},
    {"H2", "\"b\""},
    {"I2", "\"c\""},
    {"J2", "\"d\""},
    {"K1", "1"},
    {"K2", "2"},
    {"K3", "=SUBTOTAL(9,K1:K2)"},
    {"K4", "4"},
    {"K5", "=SUBTOTAL(9,K1:K4)"},
    {"K6", "\"x\""},
};

struct Formula {
    std::string where, text; // where: file:line
    bool known_difference;
    Value spreadsheet; // a known difference: the spreadsheet's answer (the engine's too)
    std::string why;
    std::int32_t rows = 0, cols = 0; // a legacy array formula's cells (0: an ordinary formula)
};

// Each legacy array formula's block on sheet "A": its own rows, as many as the largest takes.
constexpr std::int32_t array_block_rows = 8;

std::vector<Formula> formulas() {
    const std::string dir = OMBRIX_SOURCE_DIR "/tests/host/oracle/formulas";
    std::vector<Formula> all;
    for (const std::string& file : files_in(dir, ".txt"))
        for (const Row& row : read_rows(dir + "/" + file)) {
            Formula f{row.where, row.columns[0], false, Value(), ""};
            const std::string& text = row.columns[0];
            if (text.size() > 3 && text.compare(0, 2, "{=") == 0 && text.back() == '}') {
                f.text = text.substr(2, text.size() - 3);
                f.rows = f.cols = 1;
                char x = 0;
                if (row.columns.size() > 2 ||
                    (row.columns.size() == 2 &&
                     (std::sscanf(row.columns[1].c_str(), "%dx%d%c", &f.rows, &f.cols, &x) != 2 || f.rows < 1 ||
                      f.cols < 1 || f.rows > array_block_rows || f.cols > 26)))
                    ADD_FAILURE() << f.where << ": an array line is {=FORMULA} or {=FORMULA}<TAB>ROWSxCOLUMNS, "
                                  << "at most " << array_block_rows << " rows";
                all.push_back(f);
                continue;
            }
            if (row.columns.size() == 3)
                f.known_difference = true, f.spreadsheet = parse_value(row.columns[1]), f.why = row.columns[2];
            else if (row.columns.size() != 1)
                ADD_FAILURE() << f.where << ": a line is FORMULA or FORMULA<TAB>ANSWER<TAB>WHY";
            all.push_back(f);
        }
    return all;
}

struct TempDir {
    TempDir() {
        char pattern[] = "/tmp/ombrix-oracle.XXXXXX";
        if (mkdtemp(pattern))
            path = pattern;
    }
    ~TempDir() {
        if (!path.empty())
            std::system(("rm -rf '" + path + "'").c_str());
    }
    std::string path;
};

TEST(Oracle, EveryFormulaAgreesWithLibreOfficeOrIsAKnownDifference) {
    const std::string office = "/usr/bin/soffice";
    ASSERT_EQ(::access(office.c_str(), X_OK), 0)
        << "LibreOffice (soffice) is not installed; the oracle test needs it: run scripts/setup --test";

    const std::vector<Formula> all = formulas();
    ASSERT_GT(all.size(), 300u);

    // Every function the engine knows is exercised: here against LibreOffice, or, for those that
    // have no oracle line yet, by the documented answers of the engine's own formula tables.
    std::string text;
    for (const Formula& f : all)
        text += f.text + " ";
    for (const char* tables : {"/tests/host/engine/formulas", "/tests/host/engine/arrays"}) {
        const std::string dir = std::string(OMBRIX_SOURCE_DIR) + tables;
        for (const std::string& file : files_in(dir, ".tsv"))
            for (const Row& row : read_rows(dir + "/" + file))
                if (!row.columns.empty())
                    text += row.columns[0] + " ";
    }
    // The grammar writes these two as A1# and @A1, which the spill tables use.
    text += "ANCHORARRAY( SINGLE( ";
    for (const std::string& name : host::engine::function_names())
        EXPECT_NE(text.find(name + "("), std::string::npos) << name << " has no formula in the oracle test";

    host::io::Document d;
    auto& book = d.workbook;
    int in = book.add_sheet("In");
    int out = book.add_sheet("F");
    int arrays = book.add_sheet("A");
    for (const auto& input : inputs)
        put(book, at(input[0], in), input[1]);
    // Where each formula sits: row i of F, or its block of A.
    std::vector<host::engine::CellAddress> place;
    for (std::int32_t i = 0, block = 0; i < std::int32_t(all.size()); ++i)
        place.push_back(all[std::size_t(i)].rows ? host::engine::CellAddress{arrays, array_block_rows * block++, 0}
                                                 : host::engine::CellAddress{out, i, 0});
    for (std::size_t i = 0; i < all.size(); ++i) {
        try {
            if (all[i].rows)
                book.set_array_formula(place[i], all[i].text, all[i].rows, all[i].cols);
            else
                book.set_formula(place[i], all[i].text);
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
        ASSERT_EQ(package.read("xl/worksheets/sheet3.xml").find("<v>"), std::string::npos);
    }
    std::string command = "cd '" + dir.path + "' && HOME='" + dir.path + "' '" + office +
                          "' -env:UserInstallation=file://" + dir.path +
                          "/profile --headless --norestore --nolockcheck --convert-to "
                          "'xlsx:Calc MS Excel 2007 XML' --outdir '" +
                          dir.path + "/out' oracle.xlsx >'" + dir.path + "/soffice.log' 2>&1";
    int status = std::system(command.c_str());
    std::string converted = dir.path + "/out/oracle.xlsx";
    struct stat st;
    ASSERT_TRUE(status == 0 && ::stat(converted.c_str(), &st) == 0)
        << "LibreOffice did not convert the workbook (status " << status
        << "): " << host::io::read_file(dir.path + "/soffice.log");

    host::io::Package result("LibreOffice's oracle.xlsx", host::io::read_file(converted));
    host::io::WorkbookRecord record = host::io::read_workbook_parts(result);
    ASSERT_EQ(record.sheets.size(), 3u);
    std::map<std::tuple<int, std::int32_t, std::int32_t>, Value> theirs;
    for (int sheet : {out, arrays})
        for (const auto& cell : record.sheets[std::size_t(sheet)].cells)
            theirs[{sheet, std::int32_t(cell.at().row), std::int32_t(cell.at().column)}] = cell.value;

    book.recalculate_all();
    int agreed = 0, differences = 0; // within the 15 significant digits the file holds
    for (std::size_t i = 0; i < all.size(); ++i) {
        const Formula& f = all[i];
        for (std::int32_t r = 0; r < std::max(f.rows, 1); ++r)
            for (std::int32_t c = 0; c < std::max(f.cols, 1); ++c) {
                const host::engine::CellAddress cell{place[i].sheet, place[i].row + r, place[i].col + c};
                const Value& ours = book.value(cell);
                auto found = theirs.find({cell.sheet, cell.row, cell.col});
                Value lo = found == theirs.end() ? Value() : found->second;
                const std::string what =
                    f.rows ? "{=" + f.text + "} at row " + std::to_string(r + 1) + ", column " + std::to_string(c + 1)
                           : "=" + f.text;
                if (f.known_difference) {
                    ++differences;
                    EXPECT_TRUE(same(f.spreadsheet, ours, 1e-13)) << f.where << ": " << what << " (" << f.why << ")";
                    EXPECT_FALSE(same(f.spreadsheet, lo, 1e-13))
                        << f.where << ": " << what << ": LibreOffice now agrees; drop the listed difference";
                } else if (same(lo, ours, 1e-13)) {
                    ++agreed;
                } else {
                    ADD_FAILURE() << f.where << ": " << what << ": engine " << show(ours) << ", LibreOffice "
                                  << show(lo);
                }
            }
    }
    std::cout << all.size() << " formulas, " << agreed << " agree with LibreOffice, " << differences
              << " known differences\n";
}

} // namespace
