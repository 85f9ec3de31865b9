// Values that change on every recalculation: `calc` marks them, `solve` warns when the
// objective depends on one.

#include "io/Document.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <string>

namespace {

std::string run(const std::string& args, const std::string& dir, std::string* err = nullptr) {
    std::system(("'" + std::string(OMBRIX_EXE) + "' " + args + " >'" + dir + "/out' 2>'" + dir + "/err' </dev/null").c_str());
    if (err)
        *err = host::io::read_file(dir + "/err");
    return host::io::read_file(dir + "/out");
}

TEST(VolatileCommand, CalcMarksAndSolveWarns) {
    char pattern[] = "/tmp/ombrix-volatile.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string dir = pattern;
    host::io::Document d;
    auto& book = d.workbook;
    book.add_sheet("M");
    book.set_value({0, 0, 0}, host::engine::Value::number(1));   // A1 the variable
    book.set_value({0, 1, 0}, host::engine::Value::number(0));   // A2, A3 its bounds
    book.set_value({0, 2, 0}, host::engine::Value::number(2));
    book.set_formula({0, 0, 1}, "A1*A1");                        // B1 reproducible
    book.set_formula({0, 1, 1}, "RAND()");                       // B2
    book.set_formula({0, 2, 1}, "B1+B2*0");                      // B3 depends on B2
    host::io::save(d, dir + "/m.xlsx");

    std::string out = run("calc '" + dir + "/m.xlsx'", dir);
    EXPECT_NE(std::string::npos, out.find("M!B1\t1\n")) << out;
    EXPECT_NE(std::string::npos, out.find("M!B2\t")) << out;
    EXPECT_NE(std::string::npos, out.find("M!B3\t1\tvolatile\n")) << out;

    std::string err;
    run("solve '" + dir + "/m.xlsx' --var A1 --min A2 --max A3 --objective B3 --generations 2 --population 4", dir, &err);
    EXPECT_NE(std::string::npos,
              err.find("warning: the objective M!B3 depends on volatile functions in M!B2; its value changes on every "
                       "recalculation, so the optimum found will not be reproducible"))
        << err;
    run("solve '" + dir + "/m.xlsx' --var A1 --min A2 --max A3 --objective B1 --generations 2 --population 4", dir, &err);
    EXPECT_EQ(std::string::npos, err.find("volatile")) << err;
    std::system(("rm -rf '" + dir + "'").c_str());
}

} // namespace
