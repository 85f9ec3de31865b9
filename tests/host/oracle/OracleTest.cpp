// Cross-checks the engine against LibreOffice Calc: a workbook of a few hundred formulas over
// mixed inputs is written without cached values, recalculated by LibreOffice (headless,
// converting the file, which makes it compute every formula), and every value is compared
// with the engine's. Where LibreOffice departs from the spreadsheet's own semantics, the
// difference is listed below with the spreadsheet's answer, which the engine must give.

#include "engine/Program.hpp"
#include "engine/Workbook.hpp"
#include "io/Document.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"
#include "io/XlsxParts.hpp"

#include "FlatJson.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
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
    };
}

// Operands that the generated formulas combine: every kind of input.
const char* const operands[] = {
    "In!A1", "In!A2", "In!A3", "In!A4", "In!A5", "In!A6", "In!A7", "In!A8", "In!A9", "In!A10",
    "In!A11", "In!A14", "0.7", "-0.7", "\"2\"", "TRUE",
};

const char* const unary_functions[] = {
    "ABS", "SQRT", "EXP", "LN", "LOG10", "INT", "TRUNC", "SIGN", "SIN", "COS", "TAN", "ASIN",
    "ACOS", "ATAN", "SINH", "COSH", "TANH", "DEGREES", "RADIANS", "FACT", "NOT", "ISNUMBER",
    "ISTEXT", "ISBLANK", "ISERROR", "ISNA", "LEN", "UPPER", "VALUE", "TRIM", "LOG",
};

const char* const binary_operators[] = {"+", "-", "*", "/", "^", "&", "=", "<>", "<", "<=", ">", ">="};

const char* const operand_pairs[][2] = {
    {"In!A1", "In!A2"}, {"In!A1", "In!A3"}, {"In!A4", "In!A1"}, {"In!A5", "In!A1"},
    {"In!A6", "In!A1"}, {"In!A8", "In!A1"}, {"In!A9", "In!A1"}, {"In!A2", "In!A11"},
    {"\"abc\"", "\"ABC\""}, {"In!A8", "\"\""}, {"In!A7", "In!A3"}, {"In!A5", "In!A6"},
    {"In!A13", "In!A14"},
};

// Formulas written out for the functions and rules the tables above do not reach.
const char* const written[] = {
    // Operators: precedence, unary minus, percent, chains.
    "-In!A1^2", "2^3^2", "-2^2", "50%", "In!A1%*In!A12", "1+2*3-4/5", "(1+2)*3", "--In!A4",
    "+In!A5", "1=1=TRUE", "\"a\"&1&TRUE", "1/3", "0.1+0.2", "1/3&\"\"", "In!A17&\"\"",
    "In!A2&\"\"", "In!A18*1e-300", "10^308*10", "2^1024", "(-8)^(1/3)", "0^0", "\"1e3\"+0",
    "\" 12 \"+1", "\"1,5\"+1", "\"50%\"+0",
    // Aggregates over ranges (text and booleans in a range are skipped) and direct arguments.
    "SUM(In!B1:B8)", "SUM(1,\"2\",TRUE)", "SUM(In!A4)", "SUM(In!A9,1)",
    "AVERAGE(In!B1:B8)", "AVERAGE(In!A8)", "MIN(In!B1:B8)", "MAX(In!B1:B8)", "MIN(In!A4:A5)",
    "MAX(-1,\"-5\")", "COUNT(In!A1:A18)", "COUNT(1,\"2\",\"x\",TRUE)", "COUNTA(In!A1:A18)",
    "COUNTBLANK(In!A1:A18)", "PRODUCT(In!B1:B6)", "SUMSQ(In!B1:B6)", "SUMSQ(In!A1,\"2\")",
    "MEDIAN(In!B1:B6)", "MEDIAN(In!B1:B5)", "STDEV(In!B1:B6)", "STDEVP(In!B1:B6)",
    "VAR(In!B1:B6)", "VARP(In!B1:B6)", "STDEV(5)", "LARGE(In!B1:B8,2)", "SMALL(In!B1:B8,2)",
    "LARGE(In!B1:B8,9)", "SMALL(In!B1:B6,0)", "SUMPRODUCT(In!B1:B6,In!E1:E6)",
    "SUMPRODUCT(In!B1:B6,In!E1:E5)", "SUMPRODUCT(In!B1:B6*2)", "SUMIF(In!B1:B8,\">10\")",
    "SUMIF(In!C1:C6,\">=3\",In!E1:E6)", "SUMIF(In!D1:D6,\"t*\",In!E1:E6)",
    "COUNTIF(In!B1:B8,\">=15\")", "COUNTIF(In!D1:D6,\"five\")", "COUNTIF(In!A1:A18,\"<>\")",
    "COUNTIF(In!A1:A18,3)", "AVERAGEIF(In!B1:B8,\"<20\")", "AVERAGEIF(In!B1:B8,\">100\")",
    "AVERAGEIF(In!C1:C6,\"<>5\",In!E1:E6)",
    // Logic.
    "IF(In!A1>2,\"big\",\"small\")", "IF(In!A3,1,2)", "IF(In!A5,1,2)", "IF(FALSE,1)",
    "IF(In!A9,1,2)", "AND(TRUE,In!A1)", "AND(In!A1:A3)", "OR(FALSE,In!A3)",
    "OR(In!A6:A7)", "AND(\"x\")", "NOT(In!A1)", "IFERROR(In!A9,\"caught\")",
    "IFERROR(In!A1,\"caught\")", "IFERROR(In!A10,In!A2)", "TRUE()", "FALSE()", "TRUE+TRUE",
    "CHOOSE(2,\"a\",\"b\",\"c\")", "CHOOSE(4,\"a\",\"b\")", "CHOOSE(1.9,\"a\",\"b\")", "NA()",
    "ISNA(NA())", "ISERROR(NA())", "ISBLANK(\"\")", "ISNUMBER(\"1\")",
    // Lookups.
    "VLOOKUP(5,In!C1:D6,2,FALSE)", "VLOOKUP(6,In!C1:D6,2)", "VLOOKUP(0,In!C1:D6,2)",
    "VLOOKUP(100,In!C1:D6,2,TRUE)", "VLOOKUP(5,In!C1:D6,3,FALSE)", "VLOOKUP(\"FIVE\",In!D1:E6,2,FALSE)",
    "HLOOKUP(4,In!G1:J2,2,FALSE)", "HLOOKUP(5,In!G1:J2,2)", "HLOOKUP(0.5,In!G1:J2,2)",
    "INDEX(In!C1:D6,3,2)", "INDEX(In!C1:C6,4)", "INDEX(In!C1:D6,7,1)", "INDEX(In!G1:J1,3)",
    "MATCH(8,In!C1:C6,0)", "MATCH(9,In!C1:C6)", "MATCH(9,In!C1:C6,0)", "MATCH(\"five\",In!D1:D6,0)",
    "MATCH(0,In!C1:C6)", "MATCH(4,In!G1:J1,1)",
    // Money.
    "NPV(0.1,In!E1:E3)", "NPV(0.05,100,200,\"x\")", "PMT(0.05/12,360,200000)", "PMT(0,12,1200)",
    "PMT(0.05,10,-1000,0,1)", "FV(0.05,10,-100)", "FV(0.05,10,-100,-1000,1)", "FV(0,10,-100)",
    "PV(0.05,10,-100)", "PV(0.05,10,-100,1000,1)", "PV(0,5,-10)",
    // Text.
    "LEN(In!A15)", "LEFT(In!A16,5)", "LEFT(In!A16)", "LEFT(In!A16,0)", "LEFT(In!A16,-1)",
    "RIGHT(In!A16,3)", "RIGHT(In!A16,50)", "MID(In!A16,7,3)", "MID(In!A16,0,2)", "MID(In!A16,20,2)",
    "CONCATENATE(In!A1,\"-\",In!A6,In!A2)", "CONCATENATE(In!A8,\"x\")", "VALUE(\"12.5\")",
    "VALUE(\" -3e2 \")", "VALUE(\"\")", "TRIM(In!A15)", "UPPER(In!A16)", "LOWER(In!A16)",
    "LOWER(In!A6)", "UPPER(In!A2)", "LEN(In!A17)", "LEN(1/3)", "LEFT(123.456,4)",
    // Maths with arguments.
    "POWER(2,10)", "POWER(-8,1/3)", "POWER(0,-1)", "MOD(7,3)", "MOD(-7,3)", "MOD(7,-3)",
    "MOD(5.5,2)", "MOD(1,0)", "ROUND(2.5,0)", "ROUND(-2.5,0)", "ROUND(1234.5678,-2)",
    "ROUND(2.675,2)", "ROUNDUP(2.01,0)", "ROUNDUP(-2.01,0)", "ROUNDDOWN(-2.99,0)",
    "ROUNDDOWN(1234.5678,2)", "LOG(8,2)", "LOG(100)", "LOG(10,1)", "LOG(-1)", "ATAN2(1,1)",
    "ATAN2(-1,0)", "ATAN2(0,0)", "PI()", "SIN(PI())", "FLOOR(2.5,1)", "FLOOR(-2.5,-1)",
    "FLOOR(2.5,-1)", "FLOOR(7,2)", "FLOOR(5,0)", "CEILING(2.1,1)", "CEILING(-2.5,-1)",
    "CEILING(2.5,-1)", "CEILING(7,2)", "FACT(5)", "FACT(0)", "FACT(170)", "FACT(171)",
    "INT(-2.5)", "TRUNC(-2.5)", "TRUNC(3.14159,2)", "SQRT(-1)", "EXP(710)", "LN(0)",
    "ASIN(2)", "DEGREES(PI())", "RADIANS(180)", "SIGN(-0.001)",
};

struct Difference {
    const char* formula;
    Value spreadsheet;  // what the spreadsheet itself answers (and the engine must)
    const char* why;
};

// Where LibreOffice and the spreadsheet part ways.
std::vector<Difference> known_differences() {
    const Value num = Value::error(ErrorCode::Num);
    const Value value = Value::error(ErrorCode::Value);
    const Value ref = Value::error(ErrorCode::Ref);
    const Value div0 = Value::error(ErrorCode::Div0);
    const Value yes = Value::boolean(true);
    const Value no = Value::boolean(false);
    auto n = [](double x) { return Value::number(x); };
    auto t = [](const char* s) { return Value::text(s); };
    // LibreOffice computes Err:502 ("invalid argument") and saves it as #VALUE!.
    const char* const invalid = "an argument out of the function's domain is #NUM!";
    // LibreOffice reads the booleans of a file (and its own TRUE) as the numbers 1 and 0.
    const char* const boolean = "TRUE and FALSE are booleans, not 1 and 0";
    const char* const direct = "text typed as an argument is converted to a number";
    return {
        {"SQRT(In!A2)", num, invalid}, {"SQRT(-0.7)", num, invalid}, {"SQRT(-1)", num, invalid},
        {"LN(In!A2)", num, invalid}, {"LN(In!A3)", num, invalid}, {"LN(In!A7)", num, invalid},
        {"LN(In!A8)", num, invalid}, {"LN(-0.7)", num, invalid}, {"LN(0)", num, invalid},
        {"LOG10(In!A2)", num, invalid}, {"LOG10(In!A3)", num, invalid},
        {"LOG10(In!A7)", num, invalid}, {"LOG10(In!A8)", num, invalid}, {"LOG10(-0.7)", num, invalid},
        {"LOG(In!A2)", num, invalid}, {"LOG(In!A3)", num, invalid}, {"LOG(In!A7)", num, invalid},
        {"LOG(In!A8)", num, invalid}, {"LOG(-0.7)", num, invalid}, {"LOG(-1)", num, invalid},
        {"FACT(In!A2)", num, invalid}, {"FACT(-0.7)", num, invalid}, {"FACT(171)", num, invalid},
        {"LARGE(In!B1:B8,9)", num, invalid}, {"SMALL(In!B1:B6,0)", num, invalid},
        {"FLOOR(2.5,-1)", num, "a number and a significance of different signs"},
        {"CEILING(2.5,-1)", num, "a number and a significance of different signs"},
        {"FLOOR(5,0)", div0, "a significance of zero divides by zero"},
        {"LOG(10,1)", div0, "the logarithm of base 1 divides by zero"},
        {"POWER(0,-1)", div0, "zero to a negative power divides by zero"},
        {"ATAN2(0,0)", div0, "the angle of the origin divides by zero"},
        {"In!A7^In!A3", num, "0^0 is #NUM!"}, {"0^0", num, "0^0 is #NUM!"},
        {"(-8)^(1/3)", num, "a negative number to a fractional power is #NUM!"},
        {"POWER(-8,1/3)", num, "a negative number to a fractional power is #NUM!"},
        {"VLOOKUP(5,In!C1:D6,3,FALSE)", ref, "a column past the table is #REF!"},
        {"INDEX(In!C1:D6,7,1)", ref, "a row past the table is #REF!"},
        {"NOT(In!A4)", value, "text is no logical value"}, {"NOT(\"2\")", value, "text is no logical value"},
        {"SUM(1,\"2\",TRUE)", n(4), direct}, {"MAX(-1,\"-5\")", n(-1), direct},
        {"SUMSQ(In!A1,\"2\")", n(13), direct},
        {"ISNUMBER(In!A6)", no, boolean}, {"ISNUMBER(In!A7)", no, boolean}, {"ISNUMBER(TRUE)", no, boolean},
        {"LEN(In!A6)", n(4), boolean}, {"LEN(In!A7)", n(5), boolean}, {"LEN(TRUE)", n(4), boolean},
        {"UPPER(In!A6)", t("TRUE"), boolean}, {"UPPER(In!A7)", t("FALSE"), boolean},
        {"UPPER(TRUE)", t("TRUE"), boolean}, {"LOWER(In!A6)", t("true"), boolean},
        {"TRIM(In!A6)", t("TRUE"), boolean}, {"TRIM(In!A7)", t("FALSE"), boolean},
        {"TRIM(TRUE)", t("TRUE"), boolean},
        {"VALUE(In!A6)", value, boolean}, {"VALUE(In!A7)", value, boolean}, {"VALUE(TRUE)", value, boolean},
        {"In!A6&In!A1", t("TRUE3"), boolean}, {"In!A7&In!A3", t("FALSE0"), boolean},
        {"In!A5&In!A6", t("abcTRUE"), boolean}, {"\"a\"&1&TRUE", t("a1TRUE"), boolean},
        {"CONCATENATE(In!A1,\"-\",In!A6,In!A2)", t("3-TRUE-2.5"), boolean},
        {"In!A7=In!A3", no, boolean}, {"In!A7<>In!A3", yes, boolean},
        {"In!A6<In!A1", no, boolean}, {"In!A6<=In!A1", no, boolean},
        {"In!A6>In!A1", yes, boolean}, {"In!A6>=In!A1", yes, boolean},
        {"In!A7<=In!A3", no, boolean}, {"In!A7>In!A3", yes, boolean},
        {"In!A5<In!A6", yes, boolean}, {"In!A5<=In!A6", yes, boolean},
        {"In!A5>In!A6", no, boolean}, {"In!A5>=In!A6", no, boolean},
        {"SUM(In!B1:B8)", n(108), boolean}, {"AVERAGE(In!B1:B8)", n(18), boolean},
        {"MIN(In!B1:B8)", n(4), boolean}, {"SMALL(In!B1:B8,2)", n(8), boolean},
        {"COUNT(In!A1:A18)", n(9), boolean}, {"AVERAGEIF(In!B1:B8,\"<20\")", n(10.75), boolean},
    };
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

    // The formulas.
    std::vector<std::string> formulas;
    for (const char* f : unary_functions)
        for (const char* x : operands) formulas.push_back(std::string(f) + "(" + x + ")");
    for (const char* op : binary_operators)
        for (const auto& pair : operand_pairs) formulas.push_back(std::string(pair[0]) + op + pair[1]);
    for (const char* x : operands) formulas.push_back(std::string("-") + x);
    for (const char* f : written) formulas.push_back(f);

    // Every function the engine knows is exercised.
    std::string all;
    for (const std::string& f : formulas) all += f + " ";
    for (const auto& fn : host::engine::detail::functions())
        EXPECT_NE(all.find(std::string(fn.name) + "("), std::string::npos)
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
    for (std::size_t i = 0; i < formulas.size(); ++i) {
        try {
            book.set_formula({out, std::int32_t(i), 0}, formulas[i]);
        } catch (const host::engine::FormulaError& e) {
            ADD_FAILURE() << e.what();
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
    std::map<std::string, Difference> differences;
    for (const Difference& difference : known_differences())
        differences.emplace(difference.formula, difference);
    std::set<std::string> used;
    int agreed = 0;
    for (std::size_t i = 0; i < formulas.size(); ++i) {
        const Value& ours = book.value({out, std::int32_t(i), 0});
        auto found = theirs.find(std::int32_t(i));
        Value lo = found == theirs.end() ? Value() : found->second;
        auto difference = differences.find(formulas[i]);
        if (difference != differences.end()) {
            used.insert(formulas[i]);
            EXPECT_TRUE(same(ours, difference->second.spreadsheet))
                << "=" << formulas[i] << ": engine " << show(ours) << ", the spreadsheet "
                << show(difference->second.spreadsheet) << " (" << difference->second.why << ")";
            EXPECT_FALSE(same(lo, difference->second.spreadsheet))
                << "=" << formulas[i] << ": LibreOffice now agrees; drop the listed difference";
            continue;
        }
        if (same(ours, lo)) ++agreed;
        else ADD_FAILURE() << "=" << formulas[i] << ": engine " << show(ours) << ", LibreOffice " << show(lo);
    }
    EXPECT_EQ(used.size(), differences.size()) << "a listed difference names no formula of the test";
    EXPECT_GT(formulas.size(), 300u);
    std::cout << formulas.size() << " formulas, " << agreed << " agree with LibreOffice, "
              << used.size() << " known differences\n";
}

} // namespace
