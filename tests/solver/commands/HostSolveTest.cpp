// The Solve road over the host's workbook engine: real formulas, recalculated by the
// spreadsheet stand-in after every write, and the dialog answered as its front end does.

#include "api/Host.hpp"
#include "engine/Workbook.hpp"

#include "math/function/Function.hpp"
#include "math/opt/GAOptimiser.hpp"
#include "solver/OmbrixImpl.hpp"
#include "usr/Exception.hpp"

#include <boost/random/mersenne_twister.hpp>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using host::engine::CellAddress;
using host::engine::Value;

double model(double x, double y, double z)
{
    return -((x - 1.0) * (x - 1.0) + (y - 2.0) * (y - 2.0) + (z + 1.0) * (z + 1.0));
}

// The formula in D1, operation for operation the same as model().
const char* const model_formula = "=-((A1-1)*(A1-1)+(B1-2)*(B1-2)+(C1+1)*(C1+1))";

class PlainModel : public math::function::Function<double, std::vector<double> > {
public:
    double operator()(const std::vector<double>& v) const override
    {
        return model(v.at(0), v.at(1), v.at(2));
    }
};

std::vector<double> direct_run(unsigned int population, unsigned int generations,
                               unsigned int trials, unsigned int seed, double lower,
                               double upper, bool maximise)
{
    math::opt::GAOptimiser direct;
    direct.population_size = population;
    direct.generations = generations;
    direct.trials = trials;
    for (int i = 0; i < 3; ++i)
        direct.design_variable(math::opt::Interval(lower, upper));
    boost::mt19937 engine(seed);
    const PlainModel f;
    return maximise ? direct.maximise(f, engine) : direct.minimise(f, engine);
}

class HostSolve : public ::testing::Test {
protected:
    void SetUp() override
    {
        sheet = book.add_sheet("Sheet1");
        book.set_active_sheet(sheet);
        for (int col = 0; col < 3; ++col) {
            book.set_value(at(0, col), Value::number(0.5));
            book.set_value(at(1, col), Value::number(-2.0));
            book.set_value(at(2, col), Value::number(3.0));
        }
        book.set_formula(at(0, 3), model_formula);
        host.reset(new host::api::Host(book));
        current.reset(new host::api::CurrentHost(*host));
        host->set_dialog_handler([this](host::api::Table& table) { return answer(table); });
    }

    void TearDown() override
    {
        current.reset();
        EXPECT_EQ(0u, host->allocations().outstanding());
    }

    CellAddress at(int row, int col) const { return CellAddress{sheet, row, col}; }

    double number(int row, int col) const
    {
        const Value& v = book.value(at(row, col));
        EXPECT_TRUE(v.is_number()) << "row " << row << " column " << col;
        return v.as_number();
    }

    std::vector<double> variables() const { return {number(0, 0), number(0, 1), number(0, 2)}; }

    // Fills in the dialog as the user would: labelled controls get the typed text, a list
    // the position of the typed entry (or its initial one); everything else stays.
    bool answer(host::api::Table& table)
    {
        for (int row = 1; row + 1 < table.rows; ++row) {
            const Value& code = table.at(row, 0);
            const Value& x = table.at(row, 1);
            if (!code.is_number() || code.as_number() != 5 || !x.is_number() || x.as_number() != 10)
                continue;
            const std::string label(table.at(row, 5).as_text());
            Value& result = table.at(row + 1, 6);
            const std::map<std::string, std::string>::const_iterator t = typed.find(label);
            if (table.at(row + 1, 0).as_number() == 21) {
                double position = std::stod(std::string(result.as_text()));
                if (t != typed.end())
                    position = t->second == "Minimise" ? 2 : 1;
                result = Value::number(position);
            } else if (t != typed.end()) {
                result = Value::text(t->second);
            }
        }
        return true;
    }

    std::string solve_message()
    {
        try {
            impl.solve();
        } catch (const usr::Exception& e) {
            return e.what();
        }
        return std::string();
    }

    host::engine::Workbook book;
    int sheet = 0;
    std::unique_ptr<host::api::Host> host;
    std::unique_ptr<host::api::CurrentHost> current;
    std::map<std::string, std::string> typed{
        {"Min Vector", "A2:C2"}, {"Max Vector", "A3:C3"}, {"Var Vector", "A1:C1"},
        {"Function Cell", "D1"},  {"Population", "12"},  {"Generations", "8"},
        {"Trials", "2"},          {"Seed", "1234"}};
    OmbrixImpl impl;
};

TEST_F(HostSolve, WorkbookModelGivesTheOptimisersOwnAnswer)
{
    ASSERT_EQ("", solve_message());
    const std::vector<double> expected = direct_run(12, 8, 2, 1234, -2.0, 3.0, true);
    EXPECT_EQ(expected, variables());
    EXPECT_EQ(model(expected[0], expected[1], expected[2]), number(0, 3));
    EXPECT_TRUE(host->alerts().empty());
    EXPECT_EQ(1u, host->dialogs_shown());
}

TEST_F(HostSolve, MinimiseOverBoundsThatAreFormulas)
{
    book.set_formula(at(1, 0), "=-4/2");
    book.set_formula(at(2, 1), "=1+2");
    typed["Goal:"] = "Minimise";
    ASSERT_EQ("", solve_message());
    EXPECT_EQ(direct_run(12, 8, 2, 1234, -2.0, 3.0, false), variables());
    // The bounds keep their formulas.
    EXPECT_TRUE(book.is_formula(at(1, 0)));
    EXPECT_TRUE(book.is_formula(at(2, 1)));
}

TEST_F(HostSolve, ErrorInTheModelEndsTheRunAndRestoresTheInputs)
{
    book.clear(at(0, 1));
    book.set_value(at(0, 2), Value::text("start"));
    // #NUM! for every candidate with A1 above 2.
    book.set_formula(at(0, 3), "=SQRT(2-A1)");
    EXPECT_EQ("Failed to get cell value as double", solve_message());
    EXPECT_EQ(0.5, number(0, 0));
    EXPECT_TRUE(book.value(at(0, 1)).is_empty());
    EXPECT_EQ("start", std::string(book.value(at(0, 2)).as_text()));
}

TEST_F(HostSolve, BoundReadFailuresNameTheVector)
{
    book.set_value(at(2, 1), Value::text("three"));
    EXPECT_EQ("Failed to read Max vector. Ensure all values are numbers", solve_message());
    EXPECT_EQ((std::vector<double>{0.5, 0.5, 0.5}), variables());
}

} // namespace
