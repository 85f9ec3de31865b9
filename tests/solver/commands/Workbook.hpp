#ifndef OMBRIX_TESTS_SOLVER_COMMANDS_WORKBOOK_HPP
#define OMBRIX_TESTS_SOLVER_COMMANDS_WORKBOOK_HPP

// The solver's commands run against the host's workbook engine: real formulas, recalculated
// after every write, and the dialog filled in by label as the user would.

#include "api/Host.hpp"
#include "engine/Workbook.hpp"
#include "math/function/Function.hpp"
#include "math/opt/GAOptimiser.hpp"
#include "solver/OmbrixImpl.hpp"
#include "ui/FrontEnd.hpp"
#include "usr/Exception.hpp"

#include <boost/random/mersenne_twister.hpp>
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace solver_test {

using host::engine::Value;

inline double model(double x, double y, double z) {
    return -((x - 1.0) * (x - 1.0) + (y - 2.0) * (y - 2.0) + (z + 1.0) * (z + 1.0));
}

// The optimiser run straight on model() with the fixture's quick settings and this seed, stopped
// after that many generations.
inline std::vector<double> direct_run(unsigned int seed, bool maximise, unsigned long long generations = ~0ull) {
    struct Plain : math::function::Function<double, std::vector<double>> {
        double operator()(const std::vector<double>& v) const override { return model(v.at(0), v.at(1), v.at(2)); }
    } f;
    struct StopAfter : math::opt::GAOptimiser::RunObserver {
        unsigned long long generations = 0;
        bool proceed(const math::opt::GAOptimiser::Progress& p) override { return p.done < generations; }
    } stop;
    stop.generations = generations;
    math::opt::GAOptimiser direct;
    direct.population_size = 12;
    direct.generations = 6;
    direct.trials = 2;
    for (int i = 0; i < 3; ++i)
        direct.design_variable(math::opt::Interval(-2.0, 3.0));
    direct.observer = &stop;
    boost::mt19937 engine(seed);
    return maximise ? direct.maximise(f, engine) : direct.minimise(f, engine);
}

typedef std::map<std::string, std::string> Typed;

// Variables A1:C1 (0.5 each), minima A2:C2 (-2), maxima A3:C3 (3); D1 is model() as a formula.
class Workbook : public ::testing::Test {
protected:
    void SetUp() override { build(); }

    // A fresh workbook, host session and solver, and the quick run typed into an accepted dialog.
    void build() {
        current.reset();
        host.reset();
        book = host::engine::Workbook();
        impl = OmbrixImpl();
        ok = true;
        // A quick run: 12 x 6 x 2 evaluations.
        typed = {{"Min Vector", "A2:C2"}, {"Max Vector", "A3:C3"}, {"Var Vector", "A1:C1"}, {"Function Cell", "D1"},
                 {"Population", "12"},    {"Generations", "6"},    {"Trials", "2"}};
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
        front.reset(new host::ui::FrontEnd(screen, screen));
        front->attach(*host);
        // The dialog answered by label with the typed texts, then OK or Cancel.
        host->set_dialog_handler([this](host::api::Table& t) {
            front->set_answers({typed.begin(), typed.end()});
            const bool answered = front->answer(t);
            EXPECT_FALSE(front->answer_error()) << *front->answer_error();
            return answered && ok;
        });
    }

    void TearDown() override {
        current.reset();
        // Every value the host filled for the add-in came back through xlFree.
        EXPECT_EQ(0u, host->allocations().outstanding());
    }

    host::engine::CellAddress at(const std::string& a1) const {
        host::engine::CellAddress cell{sheet, 0, 0};
        EXPECT_TRUE(host::engine::parse_a1(a1, cell.row, cell.col)) << a1;
        return cell;
    }
    void set(const std::string& a1, const Value& v) { book.set_value(at(a1), v); }
    void formula(const std::string& a1, const char* f) { book.set_formula(at(a1), f); }
    const Value& get(const std::string& a1) const { return book.value(at(a1)); }
    double num(const std::string& a1) const {
        EXPECT_TRUE(get(a1).is_number()) << a1;
        return get(a1).as_number();
    }
    std::vector<double> variables() const { return {num("A1"), num("B1"), num("C1")}; }

    // Solve's failure as the user reads it; "" on success. Exceptions that are no
    // usr::Exception are marked: the barrier shows a fixed text for them.
    std::string solve_message() {
        try {
            impl.solve();
        } catch (const usr::Exception& e) {
            return e.what();
        } catch (const std::exception& e) {
            return std::string("(other) ") + e.what();
        }
        return std::string();
    }

    // What the control of that label held when the last dialog was answered.
    std::string shown(const std::string& label) const { return front->accepted(label); }

    host::engine::Workbook book;
    int sheet = 0;
    std::unique_ptr<host::api::Host> host;
    std::unique_ptr<host::api::CurrentHost> current;
    std::ostringstream screen;
    std::unique_ptr<host::ui::FrontEnd> front;
    OmbrixImpl impl;
    bool ok = true;
    Typed typed;
};

} // namespace solver_test

#endif
