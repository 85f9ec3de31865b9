#ifndef OMBRIX_TESTS_SOLVER_COMMANDS_WORKBOOK_HPP
#define OMBRIX_TESTS_SOLVER_COMMANDS_WORKBOOK_HPP

// The solver's commands run against the host's workbook engine: real formulas, recalculated
// after every write, and the dialog filled in by label as the user would.

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

namespace solver_test {

using host::engine::Value;

inline double model(double x, double y, double z)
{
    return -((x - 1.0) * (x - 1.0) + (y - 2.0) * (y - 2.0) + (z + 1.0) * (z + 1.0));
}

// The optimiser run straight on model() with the fixture's quick settings and this seed,
// watched by the observer when one is given.
inline std::vector<double> direct_run(unsigned int seed, bool maximise,
                                      math::opt::GAOptimiser::RunObserver* observer = nullptr)
{
    struct Plain : math::function::Function<double, std::vector<double> > {
        double operator()(const std::vector<double>& v) const override { return model(v.at(0), v.at(1), v.at(2)); }
    } f;
    math::opt::GAOptimiser direct;
    direct.population_size = 12;
    direct.generations = 6;
    direct.trials = 2;
    for (int i = 0; i < 3; ++i)
        direct.design_variable(math::opt::Interval(-2.0, 3.0));
    direct.observer = observer;
    boost::mt19937 engine(seed);
    return maximise ? direct.maximise(f, engine) : direct.minimise(f, engine);
}

// One control as the dialog table showed it.
struct Shown {
    int type = 0;
    std::string label;
    std::string initial;
};

typedef std::map<std::string, std::string> Typed;

// Variables A1:C1 (0.5 each), minima A2:C2 (-2), maxima A3:C3 (3); D1 is model() as a formula.
class Workbook : public ::testing::Test {
protected:
    void SetUp() override { build(); }

    // A fresh workbook, host session and solver.
    void build()
    {
        current.reset();
        host.reset();
        book = host::engine::Workbook();
        impl = OmbrixImpl();
        shown.clear();
        sheet = book.add_sheet("Sheet1");
        book.set_active_sheet(sheet);
        for (const char* c : {"A", "B", "C"}) {
            set(std::string(c) + "1", Value::number(0.5));
            set(std::string(c) + "2", Value::number(-2.0));
            set(std::string(c) + "3", Value::number(3.0));
        }
        formula("D1", "=-((A1-1)*(A1-1)+(B1-2)*(B1-2)+(C1+1)*(C1+1))");
        host.reset(new host::api::Host(book));
        current.reset(new host::api::CurrentHost(*host));
        host->set_dialog_handler([this](host::api::Table& t) { return answer(t); });
    }

    void TearDown() override
    {
        current.reset();
        // Every value the host filled for the add-in came back through xlFree.
        EXPECT_EQ(0u, host->allocations().outstanding());
    }

    host::engine::CellAddress at(const std::string& a1) const
    {
        host::engine::CellAddress cell{sheet, 0, 0};
        EXPECT_TRUE(host::engine::parse_a1(a1, cell.row, cell.col)) << a1;
        return cell;
    }
    void set(const std::string& a1, const Value& v) { book.set_value(at(a1), v); }
    void formula(const std::string& a1, const char* f) { book.set_formula(at(a1), f); }
    const Value& get(const std::string& a1) const { return book.value(at(a1)); }
    double num(const std::string& a1) const
    {
        EXPECT_TRUE(get(a1).is_number()) << a1;
        return get(a1).as_number();
    }
    std::vector<double> variables() const { return {num("A1"), num("B1"), num("C1")}; }

    // Records the dialog, then answers it: OK with the typed texts (a list gets the position
    // of the typed entry), or Cancel.
    bool answer(host::api::Table& table)
    {
        shown.emplace_back();
        for (int row = 1; row + 1 < table.rows; ++row) {
            if (table.at(row, 0).as_number() != 5 || table.at(row, 1).as_number() != 10)
                continue;  // not a label line
            const std::string label(table.at(row, 5).as_text());
            const int type = static_cast<int>(table.at(row + 1, 0).as_number());
            Value& result = table.at(row + 1, 6);
            shown.back().push_back(Shown{type, label, std::string(result.as_text())});
            const Typed::const_iterator t = typed.find(label);
            if (type == 21) {
                const host::api::Table* entries =
                    host->name_value(std::string(table.at(row + 1, 5).as_text()));
                EXPECT_TRUE(entries != nullptr);
                double position = std::stod(shown.back().back().initial);
                for (int e = 0; entries && t != typed.end() && e < entries->rows; ++e)
                    if (entries->at(e, 0).as_text() == t->second)
                        position = e + 1;
                result = Value::number(position);
            } else if (t != typed.end()) {
                result = Value::text(t->second);
            }
        }
        return ok;
    }

    // Solve's failure as the user reads it; "" on success. Exceptions that are no
    // usr::Exception are marked: the barrier shows a fixed text for them.
    std::string solve_message()
    {
        try {
            impl.solve();
        } catch (const usr::Exception& e) {
            return e.what();
        } catch (const std::exception& e) {
            return std::string("(other) ") + e.what();
        }
        return std::string();
    }

    // The control of that label in the dialog-th dialog shown (from 0).
    Shown control(std::size_t dialog, const std::string& label) const
    {
        for (const Shown& s : shown.at(dialog))
            if (s.label == label)
                return s;
        ADD_FAILURE() << label;
        return Shown();
    }

    host::engine::Workbook book;
    int sheet = 0;
    std::unique_ptr<host::api::Host> host;
    std::unique_ptr<host::api::CurrentHost> current;
    OmbrixImpl impl;
    bool ok = true;
    // A quick run: 12 x 6 x 2 evaluations.
    Typed typed{{"Min Vector", "A2:C2"}, {"Max Vector", "A3:C3"}, {"Var Vector", "A1:C1"},
                {"Function Cell", "D1"},  {"Population", "12"},  {"Generations", "6"},
                {"Trials", "2"}};
    std::vector<std::vector<Shown> > shown;
};

} // namespace solver_test

#endif
