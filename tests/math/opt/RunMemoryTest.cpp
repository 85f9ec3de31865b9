// A run whose population cannot fit in the memory a run may take is refused before anything
// is allocated or drawn, and says so.
#include "math/opt/GAOptimiser.hpp"
#include "usr/Exception.hpp"

#include <gtest/gtest.h>

#include <boost/random/mersenne_twister.hpp>

#include <string>

namespace {

using math::opt::GAOptimiser;

class Counter : public GAOptimiser::Objective {
public:
    double operator()(const std::vector<double>& x) const override {
        ++calls;
        return x[0];
    }
    mutable unsigned long calls = 0;
};

struct SizeCase {
    unsigned int population;
    unsigned int variables;
    std::size_t max_run_memory;
    bool refused;
};

TEST(RunMemory, PopulationsBeyondTheRunMemoryAreRefusedBeforeTheFirstDraw) {
    const std::size_t mib = std::size_t(1) << 20;
    const SizeCase cases[] = {
        {1000000000u, 3, GAOptimiser::DEFAULT_MAX_RUN_MEMORY, true},
        {100000000u, 3, GAOptimiser::DEFAULT_MAX_RUN_MEMORY, true},
        {20000u, 3, mib, true},
        {20000u, 3, 4 * mib, false},
        {200u, 4000, mib, true},  // the variables count as well as the population
        {10u, 4, GAOptimiser::DEFAULT_MAX_RUN_MEMORY, false},
    };
    for (const SizeCase& c : cases) {
        GAOptimiser o;
        o.population_size = c.population;
        o.generations = 2;
        o.trials = 1;
        o.max_run_memory = c.max_run_memory;
        for (unsigned int j = 0; j < c.variables; ++j)
            o.design_variable(GAOptimiser::interval(0.0, 1.0));
        const Counter f;
        boost::mt19937 engine(7);
        const boost::mt19937 before = engine;
        std::string message;
        try {
            o.maximise(f, engine);
        } catch (const usr::Exception& e) {
            message = e.what();
        }
        const std::string where = std::to_string(c.population) + " x " + std::to_string(c.variables);
        if (!c.refused) {
            EXPECT_EQ("", message) << where;
            continue;
        }
        EXPECT_EQ(0u, message.find("A population of " + std::to_string(c.population) + " with " +
                                   std::to_string(c.variables) + " variables would need about "))
            << where << ": " << message;
        EXPECT_NE(std::string::npos, message.find("choose a smaller population")) << message;
        EXPECT_EQ(0u, f.calls) << where;
        EXPECT_TRUE(engine == before) << where;
    }
}

} // namespace
