#include "math/opt/GAOptimiser.hpp"

#include "EngineTools.hpp"

#include <gtest/gtest.h>

namespace {

using math::opt::GAOptimiser;
typedef GAOptimiser::Chromosome Chromosome;
typedef GAOptimiser::Population Population;
typedef GAOptimiser::UniformSource Source;
using namespace enginetools;

long draws_used(const Source& source, const boost::mt19937& start, long limit = 5000) {
    return outputs_between(start, source.base(), limit);
}

Chromosome ones(unsigned int words) {
    Chromosome c(words);
    for (auto& w : c.words)
        w = 0xFFFFFFFFu;
    return c;
}

TEST(Crossover, CutComesFromTheSecondDraw) {
    // Draw 1 (0) is below the rate; draw 2 places the cut at 1 + floor(r2 * 63).
    struct Case { double r2; unsigned int k; };
    const Case cases[] = {{0.0, 1}, {0.5, 32}, {0.25, 16}, {1.0 - 1.0 / 4294967296.0, 63}};
    for (const Case& c : cases) {
        const boost::mt19937 engine = engine_with_outputs({0u, output_for(c.r2)});
        Source source(engine);
        Chromosome p1(2), p2 = ones(2);
        GAOptimiser::OnePointCrossover crossover;
        crossover.cross(p1, p2, 0, source);
        for (unsigned int i = 0; i < 64; ++i) {
            ASSERT_EQ(p1[i], i < c.k ? 0u : 1u) << "r2 " << c.r2 << ", bit " << i;
            ASSERT_EQ(p2[i], i < c.k ? 1u : 0u) << "r2 " << c.r2 << ", bit " << i;
        }
        EXPECT_EQ(draws_used(source, engine), 2);
    }
}

TEST(Crossover, RateDecidesWithOneDraw) {
    struct Case { double rate; double r; bool crossed; };
    const Case cases[] = {
        {1.0, 1.0 - 1.0 / 4294967296.0, true}, // a draw is always below 1
        {0.0, 0.0, false},                     // nor is 0 above 0
        {0.5, 0.5, false},                     // "rate not greater than r": no cross
        {0.5, 0.25, true},
    };
    for (const Case& c : cases) {
        const boost::mt19937 engine = engine_with_outputs({output_for(c.r), output_for(0.5)});
        Source source(engine);
        Chromosome p1(1), p2 = ones(1);
        GAOptimiser::OnePointCrossover crossover;
        crossover.rate = c.rate;
        crossover.cross(p1, p2, 0, source);
        EXPECT_EQ(p1.words[0] != 0u, c.crossed) << "rate " << c.rate << ", r " << c.r;
        EXPECT_EQ(draws_used(source, engine), c.crossed ? 2 : 1);
    }
}

TEST(Crossover, OneWordParentsAlwaysSwapBit31AndNeverBit0) {
    GAOptimiser::OnePointCrossover crossover;
    Source source(boost::mt19937(17));
    for (int i = 0; i < 500; ++i) {
        Chromosome p1(1), p2 = ones(1);
        crossover.cross(p1, p2, i, source);
        ASSERT_EQ(p1[31], 1u);
        ASSERT_EQ(p1[0], 0u);
        ASSERT_EQ(p1.words[0] | p2.words[0], 0xFFFFFFFFu);
        ASSERT_EQ(p1.words[0] & p2.words[0], 0u);
    }
}

TEST(Mutation, OneDrawPerBitAndFlipsWhereTheDrawIsBelowTheRate) {
    // rate 0.5: draws 0.25 (flip), 0.5 (stay), 0.75 (stay), 0 (flip), then 0.9 for the rest.
    std::vector<std::uint32_t> outputs = {output_for(0.25), output_for(0.5), output_for(0.75),
                                          output_for(0.0)};
    outputs.resize(64, output_for(0.9));
    const boost::mt19937 engine = engine_with_outputs(outputs);
    Source source(engine);
    GAOptimiser::UniformMutation mutation;
    mutation.rate = 0.5;
    Chromosome c(2);
    mutation.mutate(c, 0, source);
    EXPECT_EQ(c.words[0], 0x90000000u);
    EXPECT_EQ(c.words[1], 0u);
    EXPECT_EQ(draws_used(source, engine), 64);
}

TEST(Mutation, RateZeroStillDrawsForEveryBit) {
    const boost::mt19937 engine(21);
    Source source(engine);
    GAOptimiser::UniformMutation mutation;
    EXPECT_EQ(mutation.rate, 0.03125);
    mutation.rate = 0.0;
    Chromosome c(3);
    c.words = {1u, 2u, 3u};
    mutation.mutate(c, 0, source);
    EXPECT_EQ(c.words, (std::vector<unsigned int>{1u, 2u, 3u}));
    EXPECT_EQ(draws_used(source, engine), 96);
}

TEST(PopulationOperators, PairsCrossInOrderAndOnlyEvenPositionsMutate) {
    GAOptimiser o;
    o.one_point_crossover.rate = 0.0; // one draw per pair, nothing crossed
    o.uniform_mutation.rate = 1.0;    // every bit of a mutated chromosome flips
    Population p(4, 2);
    for (unsigned int i = 0; i < 4; ++i)
        p[i].words = {i, 100 + i};
    const boost::mt19937 engine(3);
    Source source(engine);
    o.cross(p, 0, source);
    EXPECT_EQ(draws_used(source, engine), 2);
    o.mutate(p, 0, source);
    EXPECT_EQ(draws_used(source, engine), 2 + 2 * 64);
    for (unsigned int i = 0; i < 4; ++i) {
        const bool mutated = i % 2 == 0;
        EXPECT_EQ(p[i].words[0], mutated ? ~i : i) << "chromosome " << i;
        EXPECT_EQ(p[i].words[1], mutated ? ~(100 + i) : 100 + i) << "chromosome " << i;
    }
}

TEST(PopulationOperators, CrossingPairsNeighboursFirstPairFirst) {
    // Rate 1 and cut draws of 0.5 on two-word chromosomes: each pair swaps word 1.
    std::vector<std::uint32_t> outputs(8, output_for(0.5));
    const boost::mt19937 engine = engine_with_outputs(outputs);
    Source source(engine);
    GAOptimiser o;
    Population p(4, 2);
    for (unsigned int i = 0; i < 4; ++i)
        p[i].words = {i, 10 + i};
    o.cross(p, 0, source);
    EXPECT_EQ(p[0].words, (std::vector<unsigned int>{0u, 11u}));
    EXPECT_EQ(p[1].words, (std::vector<unsigned int>{1u, 10u}));
    EXPECT_EQ(p[2].words, (std::vector<unsigned int>{2u, 13u}));
    EXPECT_EQ(p[3].words, (std::vector<unsigned int>{3u, 12u}));
    EXPECT_EQ(draws_used(source, engine), 4);
}

TEST(PopulationOperators, EmptyPopulationDrawsNothing) {
    GAOptimiser o;
    const boost::mt19937 engine(4);
    Source source(engine);
    Population p(0, 3);
    o.cross(p, 0, source);
    o.mutate(p, 0, source);
    EXPECT_TRUE(source.base() == engine);
}

TEST(PopulationOperatorsDeathTest, OddPopulationFailsTheEvennessCheck) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    GAOptimiser o;
    Population p(3, 1);
    Source source(boost::mt19937(1));
    EXPECT_DEATH(o.cross(p, 0, source),
                 "consistency check failed: \\(\"Population size must be equal\",");
}

TEST(PopulationOperatorsDeathTest, ZeroLengthParentsFailTheCutCheck) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    GAOptimiser::OnePointCrossover crossover;
    Chromosome a(0), b(0);
    Source source(boost::mt19937(1));
    EXPECT_DEATH(crossover.cross(a, b, 0, source), "0 < k && k < p1.length\\(\\)");
}

} // namespace
