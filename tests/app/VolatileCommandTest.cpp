// Values that change on every recalculation: `calc` marks them, `solve` warns when the
// objective depends on one.

#include "io/Document.hpp"

#include "ProgramRun.hpp"

namespace {

class VolatileCommand : public program_run::ProgramTest {};

TEST_F(VolatileCommand, CalcMarksAndSolveWarns) {
    host::io::Document d;
    auto& book = d.workbook;
    book.add_sheet("M");
    book.set_value({0, 0, 0}, host::engine::Value::number(1)); // A1 the variable
    book.set_value({0, 1, 0}, host::engine::Value::number(0)); // A2, A3 its bounds
    book.set_value({0, 2, 0}, host::engine::Value::number(2));
    book.set_formula({0, 0, 1}, "A1*A1");   // B1 reproducible
    book.set_formula({0, 1, 1}, "RAND()");  // B2
    book.set_formula({0, 2, 1}, "B1+B2*0"); // B3 depends on B2
    const std::string m = (dir / "m.xlsx").string();
    host::io::save(d, m);

    std::string out = ombrix("calc '" + m + "'").out;
    EXPECT_NE(std::string::npos, out.find("M!B1\t1\n")) << out;
    EXPECT_NE(std::string::npos, out.find("M!B3\t1\tvolatile\n")) << out;

    const std::string solve =
        "solve '" + m + "' --var A1 --min A2 --max A3 --generations 2 --population 4 --objective ";
    std::string err = ombrix(solve + "B3").err;
    EXPECT_NE(std::string::npos,
              err.find("warning: the objective M!B3 depends on volatile functions in M!B2; its value changes on every "
                       "recalculation, so the optimum found will not be reproducible"))
        << err;
    err = ombrix(solve + "B1").err;
    EXPECT_EQ(std::string::npos, err.find("volatile")) << err;
}

} // namespace
