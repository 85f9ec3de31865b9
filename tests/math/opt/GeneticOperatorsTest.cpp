#include "math/opt/GAOptimiser.hpp"
#include "usr/Exception.hpp"

#include "EngineTools.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace {

using math::opt::GAOptimiser;
typedef GAOptimiser::RouletteWheelSelection Wheel;
typedef GAOptimiser::Chromosome Chromosome;
typedef GAOptimiser::UniformSource Source;
using namespace enginetools;
const double top = 1.0 - 1.0 / 4294967296.0; // the largest draw

GAOptimiser::FitnessTable table(const std::vector<double>& values) {
    GAOptimiser::FitnessTable t;
    for (std::size_t i = 0; i < values.size(); ++i)
        t.emplace_back(static_cast<unsigned int>(i) + 100, values[i]); // positions, not indices
    return t;
}

std::vector<unsigned int> sampled(const std::vector<double>& wheel, std::size_t n, const boost::mt19937& e) {
    Source source(e);
    std::vector<unsigned int> out(n);
    Wheel().sample_selection(wheel, out, 0, source);
    return out;
}

std::vector<unsigned int> selected(int mode, const std::vector<double>& values, std::size_t n,
                                   const boost::mt19937& e) {
    Wheel w;
    w.mode = mode;
    Source source(e);
    std::vector<unsigned int> out(n);
    w.select(table(values), out, 0, source);
    EXPECT_EQ(draws_between(e, source.base()), long(n)) << "one draw per selected element";
    return out;
}

TEST(Selection, WorkedScaledExamples) {
    std::vector<double> capped(12, 0.0), capped_wheel(12, 1.0);
    capped[11] = 12.0; // average 1: r2 = 9/11 < r1 = 1 caps the best weight at 10
    for (int k = 0; k < 11; ++k)
        capped_wheel[k] = (k + 1) * (2.0 / 11.0) / 12.0;
    struct Case {
        std::vector<double> values;
        double alpha;
        std::vector<double> wheel;
    };
    for (const Case& c :
         {Case{{1, 2, 3, 4}, 2.0 / 3, {0, 1.0 / 6, 0.5, 1}}, Case{{-4, -3, -2, -1}, 2.0 / 3, {0, 1.0 / 6, 0.5, 1}},
          Case{{10, 10, 10, 100}, 1 / 22.5, {0, 0, 0, 1}}, Case{capped, 9.0 / 11, capped_wheel}}) {
        double sum, min, max;
        Wheel::calculate_stats(table(c.values), sum, min, max);
        const double average = sum / c.values.size(), alpha = Wheel().calculate_alpha(average, min, max);
        EXPECT_NEAR(alpha, c.alpha, 1e-12);
        std::vector<double> wheel;
        Wheel::make_wheel_scaled(table(c.values), average, alpha, wheel);
        for (std::size_t i = 0; i < wheel.size(); ++i)
            EXPECT_NEAR(wheel[i], c.wheel[i], 1e-12) << i;
    }
}

TEST(Selection, SamplesTheModesWheelOrTheUniformOne) {
    const boost::mt19937 e(4242);
    EXPECT_EQ(selected(Wheel::scaled, {1, 2, 3, 4}, 200, e), sampled({0, 1.0 / 6, 0.5, 1}, 200, e));
    EXPECT_EQ(selected(Wheel::shifted, {1, 2, 3, 4}, 200, e), sampled({0, 1.0 / 6, 0.5, 1}, 200, e));
    EXPECT_EQ(selected(Wheel::normal, {1, 2, 3, 4}, 200, e), sampled({0.1, 0.3, 0.6, 1}, 200, e));
    for (int mode : {Wheel::normal, Wheel::shifted, Wheel::scaled}) // spread below 0.001
        EXPECT_EQ(selected(mode, {0, 0.0009, 0, 0}, 100, e), sampled({0.25, 0.5, 0.75, 1}, 100, e));
    EXPECT_EQ(selected(Wheel::scaled, {0, 0, 0, 0.001}, 100, e), std::vector<unsigned int>(100, 3u));
    for (unsigned int p : selected(Wheel::scaled, {4, 1, 4, 4}, 2000, e))
        ASSERT_NE(p, 1u) << "weight 0";
    // ...except that a draw of exactly 0 lands on position 0 whatever its weight.
    EXPECT_EQ(selected(Wheel::scaled, {1, 4, 4, 4}, 3, engine_with_outputs({0u, 1u, 0x80000000u})),
              (std::vector<unsigned int>{0, 1, 2}));

    // The average rounding onto an end, an overflowing sum, a shifted total adrift by more
    // than 0.5: each would fail a consistency check, and is sampled uniformly instead.
    const double big = std::numeric_limits<double>::max(), near = std::nextafter(1e20, 2e20);
    for (const std::vector<double>& v : std::vector<std::vector<double>>{
             {1e20, near}, {1.5e308, 1.5e308, 0, 0}, {big, -big, big, -big}, {1e17, 3e17 + 64, 7e17, 7e17}, {-big, 0}})
        for (int mode : {Wheel::shifted, Wheel::scaled})
            for (unsigned int p : selected(mode, v, 64, e))
                ASSERT_LT(p, v.size());
    EXPECT_EQ(selected(Wheel::scaled, {1e20, near}, 64, e), sampled({0.5, 1}, 64, e));
    EXPECT_EQ(selected(Wheel::shifted, {1.5e308, 1.5e308, 0, 0}, 64, e), sampled({0.25, 0.5, 0.75, 1}, 64, e));
}

TEST(Selection, CallerMistakesAreRefused) {
    Source source{boost::mt19937(1)};
    std::vector<unsigned int> out(2);
    Wheel w;
    w.mode = Wheel::normal;
    EXPECT_THROW(w.select(table({-1.0, 2.0}), out, 0, source), usr::Exception);
    w.mode = 3;
    EXPECT_THROW(w.select(table({1.0, 2.0}), out, 0, source), usr::Exception);
    EXPECT_THROW(w.scale_to_max_fitness(1.0), usr::Exception);
    w.scale_to_max_fitness(3.0);
    EXPECT_EQ(w.mode, Wheel::scaled);
    EXPECT_NEAR(w.calculate_alpha(1.75, 1.0, 4.0), 2.0 / 2.25, 1e-12); // r2 of factor 3 wins
}

TEST(Crossover, OneDrawDecidesAndASecondPlacesTheCut) {
    struct Case {
        double rate, r, r2;
        unsigned int k;
    }; // k 0: not crossed
    for (const Case& c : {Case{1, top, 0.0, 1}, Case{1, 0, 0.5, 32}, Case{1, 0, 0.25, 16}, Case{1, 0, top, 63},
                          Case{0, 0, 0.5, 0}, Case{0.5, 0.5, 0.5, 0}, Case{0.5, 0.25, 0.5, 32}}) {
        const boost::mt19937 engine = engine_with_outputs({output_for(c.r), output_for(c.r2)});
        Source source(engine);
        GAOptimiser::OnePointCrossover crossover;
        crossover.rate = c.rate;
        Chromosome p1(2), p2(2);
        p2.words = {~0u, ~0u};
        crossover.cross(p1, p2, 0, source);
        for (unsigned int i = 0; i < 64; ++i)
            ASSERT_EQ(p1[i], c.k && i >= c.k ? 1u : 0u) << "rate " << c.rate << ", r " << c.r << ", bit " << i;
        EXPECT_EQ(draws_between(engine, source.base()), c.k ? 2 : 1);
    }
}

TEST(Mutation, OneDrawPerBitFlippingWhereTheDrawIsBelowTheRate) {
    std::vector<std::uint32_t> outputs = {output_for(0.25), output_for(0.5), output_for(0.75), 0u};
    outputs.resize(64, output_for(0.9));
    const boost::mt19937 engine = engine_with_outputs(outputs);
    Source source(engine);
    GAOptimiser::UniformMutation mutation;
    mutation.rate = 0.5;
    Chromosome c(2);
    mutation.mutate(c, 0, source);
    EXPECT_EQ(c.words, (std::vector<unsigned int>{0x90000000u, 0u}));
    mutation.rate = 0.0;
    mutation.mutate(c, 0, source);
    EXPECT_EQ(c.words, (std::vector<unsigned int>{0x90000000u, 0u}));
    EXPECT_EQ(draws_between(engine, source.base()), 128) << "rate 0 still draws for every bit";

    // A rate that is no multiple of 2^-32 against the draws just below and above it.
    const std::uint32_t below = 429496729u; // 0.1 * 2^32 = 429496729.6
    Source edge(engine_with_outputs({below, below + 1, below - 1}));
    mutation.rate = 0.1;
    Chromosome d(1);
    mutation.mutate(d, 0, edge);
    EXPECT_EQ(d.words[0] >> 29, 5u) << "bits 0 and 2 flip, bit 1 does not";
}

TEST(OperatorsDeathTest, ConsistencyChecksReportExpressionFileAndLine) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::vector<double> wheel;
    EXPECT_DEATH(Wheel::make_wheel_scaled(table({1, 2}), 10.0, 1.0, wheel),
                 "RouletteWheelSelection.cpp\\([0-9]+\\): consistency check failed: cumulative_value > "
                 "\\(fitness.size\\(\\) - 0.5\\)");
    EXPECT_DEATH(Wheel::make_wheel_shifted(table({1, 2}), 0.0, 10.0, wheel), "cumulative_value > \\(sum - 0.5\\)");
    Source source{boost::mt19937(1)};
    std::vector<unsigned int> out(1);
    EXPECT_DEATH(Wheel().sample_selection({}, out, 0, source), "p != cumulative_probs.end\\(\\)");
    GAOptimiser::Population odd(3, 1), empty_parents(2, 0);
    EXPECT_DEATH(GAOptimiser().cross(odd, 0, source), "\\(\"Population size must be equal\",");
    EXPECT_DEATH(GAOptimiser().cross(empty_parents, 0, source), "0 < k && k < p1.length\\(\\)");
}

} // namespace
