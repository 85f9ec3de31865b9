#include "math/opt/GAOptimiser.hpp"

#include "EngineTools.hpp"

#include <gtest/gtest.h>

#include <random>

namespace {

using math::opt::GAOptimiser;
using namespace enginetools;

// The tools below are the yardstick for every draw-order test, so check them first.
TEST(EngineTools, ReferenceMtGivesTheStandardSequence) {
    ReferenceMt reference(5489u);
    std::mt19937 standard; // default seed 5489
    for (int i = 0; i < 9999; ++i)
        ASSERT_EQ(reference.next(), standard()) << "output " << i;
    EXPECT_EQ(reference.next(), 4123659995u); // the 10000th output the C++ standard names
}

TEST(EngineTools, EngineFromStateMatchesTheReference) {
    State state;
    ReferenceMt filler(77u);
    for (auto& w : state)
        w = filler.next();
    boost::mt19937 engine = engine_from_state(state);
    ReferenceMt reference(state);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(engine(), reference.next()) << "output " << i;
}

TEST(EngineTools, EngineWithOutputsProducesThem) {
    const std::vector<std::uint32_t> wanted = {0u, 0xFFFFFFFFu, 0x80000000u, 12345u, 0xDEADBEEFu};
    boost::mt19937 engine = engine_with_outputs(wanted);
    for (std::uint32_t w : wanted)
        EXPECT_EQ(engine(), w);
    EXPECT_EQ(output_for(0.5), 0x80000000u);
    EXPECT_EQ(untemper(0u), 0u);
}

TEST(RunEngine, StateIsTheParentsNext624OutputsPositionedAtTheEnd) {
    for (std::uint32_t seed : {233u, 0u, 4294967295u}) {
        boost::mt19937 parent(seed);
        parent.discard(100); // anywhere inside a block
        const boost::mt19937 before = parent;
        boost::mt19937 run = GAOptimiser::spawn_run_engine(parent);
        EXPECT_TRUE(parent == before) << "the parent must not move";

        ReferenceMt reference(next_outputs(parent));
        for (int i = 0; i < 1500; ++i)
            ASSERT_EQ(run(), reference.next()) << "seed " << seed << ", output " << i;
    }
}

TEST(RunEngine, IsNotACopyOfTheParent) {
    // Boost 1.74 copies when one engine is constructed from another; the run engine must
    // not start where the parent stands.
    boost::mt19937 parent(233u);
    boost::mt19937 run = GAOptimiser::spawn_run_engine(parent);
    EXPECT_FALSE(run == parent);
    EXPECT_NE(run(), parent());
}

} // namespace
