#ifndef OMBRIX_TESTS_SOLVER_SOLVERFIXTURE_HPP
#define OMBRIX_TESTS_SOLVER_SOLVERFIXTURE_HPP

#include "FakeExcel.hpp"

#include "math/function/Function.hpp"
#include "solver/OmbrixImpl.hpp"
#include "usr/Exception.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace solver_test {

// The worksheet model of most tests: three variables, a peak at (1, 2, -1).
inline double model(double x, double y, double z)
{
    return -((x - 1.0) * (x - 1.0) + (y - 2.0) * (y - 2.0) + (z + 1.0) * (z + 1.0));
}

// The same model as a plain function, for running the optimiser without a workbook.
class PlainModel : public math::function::Function<double, std::vector<double> > {
public:
    double operator()(const std::vector<double>& v) const override
    {
        return model(v.at(0), v.at(1), v.at(2));
    }
};

typedef std::map<std::string, std::string> Typed;

// A sheet with variables in A1:C1 (all 0.5), minima in A2:C2 (-2), maxima in A3:C3 (3) and
// the objective in D1, recalculated after every write.
class SolverTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        excel().reset();
        for (const char* c : {"A", "B", "C"}) {
            sheet().set(std::string(c) + "1", 0.5);
            sheet().set(std::string(c) + "2", -2.0);
            sheet().set(std::string(c) + "3", 3.0);
        }
        excel().recalc = [](fake::Sheet& s) {
            s.set("D1", model(s.num("A1"), s.num("B1"), s.num("C1")));
        };
    }

    void TearDown() override
    {
        // Every value the spreadsheet filled for the add-in went back through xlFree.
        EXPECT_EQ(0, excel().outstanding());
        excel().reset();
    }

    static fake::Excel& excel() { return fake::Excel::instance(); }
    static fake::Sheet& sheet() { return excel().sheet; }

    // The entries of a dialog that runs a small, quick optimisation of the model.
    static Typed small_run()
    {
        return Typed{{"Min Vector", "A2:C2"}, {"Max Vector", "A3:C3"}, {"Var Vector", "A1:C1"},
                     {"Function Cell", "D1"},  {"Population", "10"},  {"Generations", "6"},
                     {"Trials", "2"}};
    }

    static Typed with(Typed typed, const std::string& label, const std::string& text)
    {
        typed[label] = text;
        return typed;
    }

    static void answer_ok(const Typed& typed)
    {
        fake::DialogAnswer a;
        a.typed = typed;
        excel().answers.push_back(a);
    }

    static void answer_cancel()
    {
        fake::DialogAnswer a;
        a.ok = false;
        excel().answers.push_back(a);
    }

    // Runs Solve and returns the message of its failure as the user would read it, "" when
    // it succeeds. Exceptions of other kinds are marked, since the user sees no text of theirs.
    std::string solve_message()
    {
        try {
            impl.solve();
        } catch (const usr::Exception& e) {
            return e.what();
        } catch (const std::exception& e) {
            return std::string("(not a usr::Exception) ") + e.what();
        }
        return std::string();
    }

    std::vector<double> variables() const
    {
        return {sheet().num("A1"), sheet().num("B1"), sheet().num("C1")};
    }

    OmbrixImpl impl;
};

} // namespace solver_test

#endif
