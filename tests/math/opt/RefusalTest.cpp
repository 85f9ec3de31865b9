#include "math/opt/GAOptimiser.hpp"
#include "usr/Exception.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <stdexcept>
#include <string>

namespace {

using math::opt::GAOptimiser;
using math::opt::Interval;
typedef GAOptimiser::Objective Objective;

class Counted : public Objective {
public:
    explicit Counted(std::function<double(const std::vector<double>&)> f_) : f(f_) {}
    double operator()(const std::vector<double>& x) const override {
        ++calls;
        return f(x);
    }
    std::function<double(const std::vector<double>&)> f;
    mutable int calls = 0;
};

double sum(const std::vector<double>& x) {
    double s = 0;
    for (double v : x)
        s += v;
    return s;
}

// Runs o on a fresh engine and returns the message of the usr::Exception it must throw; the
// engine must come back untouched.
std::string refusal(GAOptimiser& o, const Objective& f, bool minimise = false) {
    const boost::mt19937 before(99);
    boost::mt19937 engine = before;
    try {
        if (minimise)
            o.minimise(f, engine);
        else
            o.maximise(f, engine);
    } catch (const usr::Exception& e) {
        EXPECT_TRUE(engine == before) << "a failed run must leave the engine alone";
        return e.what();
    }
    ADD_FAILURE() << "the run was not refused";
    return "";
}

GAOptimiser small() {
    GAOptimiser o;
    o.population_size = 4;
    o.generations = 3;
    o.trials = 1;
    o.design_variable(Interval(0.0, 1.0));
    o.design_variable(Interval(-1.0, 1.0));
    return o;
}

TEST(Refusal, SettingsThatCannotMakeARunAreRefusedBeforeAnyDraw) {
    struct Case { const char* what; std::function<void(GAOptimiser&)> spoil; const char* message; };
    const double big = std::numeric_limits<double>::max();
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"odd population", [](GAOptimiser& o) { o.population_size = 7; },
         "The population size must be an even number of at least 2, not 7"},
        {"population of one", [](GAOptimiser& o) { o.population_size = 1; },
         "The population size must be an even number of at least 2, not 1"},
        {"empty population", [](GAOptimiser& o) { o.population_size = 0; },
         "The population size must be an even number of at least 2, not 0"},
        {"no variables", [](GAOptimiser& o) { o.clear_design_variables(); },
         "There are no design variables: the optimiser needs at least one variable to search"},
        {"no variables, no generations",
         [](GAOptimiser& o) { o.clear_design_variables(); o.generations = 0; },
         "There are no design variables: the optimiser needs at least one variable to search"},
        {"overflowing width", [big](GAOptimiser& o) { o.design_variable(Interval(-big, big)); },
         "Design variable 3 has the range [-1.79769e+308, 1.79769e+308], which is too wide to "
         "search: its width is not a finite number"},
        {"unbounded", [inf](GAOptimiser& o) { o.design_variable(0) = Interval(0.0, inf); },
         "Design variable 1 has the range [0, inf], which is too wide to search: its width is "
         "not a finite number"},
        {"no selection", [](GAOptimiser& o) { o.selection = nullptr; },
         "The optimiser has no selection strategy"},
        {"no mutation", [](GAOptimiser& o) { o.mutation = nullptr; },
         "The optimiser has no mutation strategy"},
    };
    for (const Case& c : cases) {
        GAOptimiser o = small();
        c.spoil(o);
        const Counted f(sum);
        EXPECT_EQ(refusal(o, f), c.message) << c.what;
        EXPECT_EQ(refusal(o, f, true), c.message) << c.what << " (minimise)";
        EXPECT_EQ(f.calls, 0) << c.what;
    }
}

TEST(Refusal, TheSmallestEvenPopulationRuns) {
    GAOptimiser o = small();
    o.population_size = 2;
    boost::mt19937 engine(1);
    EXPECT_EQ(o.maximise(Counted(sum), engine).size(), 2u);
}

TEST(Refusal, ObjectiveValuesMustBeFinite) {
    struct Case { double bad; const char* says; };
    const double inf = std::numeric_limits<double>::infinity();
    for (const Case& c : {Case{std::nan(""), "returned NaN (not a number) at the point ("},
                          Case{inf, "returned an infinite value at the point ("},
                          Case{-inf, "returned an infinite value at the point ("}}) {
        for (bool minimise : {false, true}) {
            GAOptimiser o = small();
            // Good values for a while, then one bad one in the second generation.
            int calls = 0;
            const Counted late([&](const std::vector<double>& x) {
                return ++calls == 6 ? c.bad : sum(x);
            });
            const std::string message = refusal(o, late, minimise);
            EXPECT_NE(message.find(c.says), std::string::npos) << message;
            EXPECT_NE(message.find("needs a finite value"), std::string::npos) << message;
            EXPECT_EQ(late.calls, 8) << "the generation is evaluated, then refused";
        }
    }
}

TEST(Refusal, TheMostNegativeFiniteValueIsAcceptable) {
    GAOptimiser o = small();
    boost::mt19937 engine(2);
    const Counted flat([](const std::vector<double>&) { return -std::numeric_limits<double>::max(); });
    // Nothing beats the starting best, so the all-zero chromosome (the lower bounds) stays.
    EXPECT_EQ(o.maximise(flat, engine), (std::vector<double>{0.0, -1.0}));
}

TEST(Refusal, AnObjectivesOwnExceptionPassesThroughAndLeavesTheEngine) {
    GAOptimiser o = small();
    const boost::mt19937 before(3);
    boost::mt19937 engine = before;
    int calls = 0;
    const Counted failing([&calls](const std::vector<double>&) -> double {
        if (++calls == 5)
            throw std::runtime_error("cell unreadable");
        return 1.0;
    });
    EXPECT_THROW(o.maximise(failing, engine), std::runtime_error);
    EXPECT_TRUE(engine == before);
}

TEST(Refusal, AnUnknownSelectionModeIsReportedNotFollowed) {
    GAOptimiser o = small();
    o.roulette_wheel_selection.mode = 9;
    const std::string message = refusal(o, Counted(sum));
    EXPECT_NE(message.find("Unknown roulette-wheel mode 9"), std::string::npos) << message;
}

TEST(Refusal, ExceptionsNameTheOptimiser) {
    GAOptimiser o = small();
    o.population_size = 3;
    boost::mt19937 engine(1);
    try {
        o.maximise(Counted(sum), engine);
        FAIL();
    } catch (const usr::Exception& e) {
        ASSERT_EQ(e.trail.size(), 1u);
        EXPECT_EQ(e.trail[0].first, "GAOptimiser");
    }
}

} // namespace
