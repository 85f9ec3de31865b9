#include "math/opt/GAOptimiser.hpp"
#include "usr/Exception.hpp"

#include "EngineTools.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using math::opt::GAOptimiser;
typedef GAOptimiser::RouletteWheelSelection Wheel;
typedef GAOptimiser::FitnessTable FitnessTable;
typedef GAOptimiser::UniformSource Source;
using namespace enginetools;

FitnessTable table(const std::vector<double>& values) {
    FitnessTable t;
    for (std::size_t i = 0; i < values.size(); ++i)
        t.emplace_back(static_cast<unsigned int>(i), values[i]);
    return t;
}

// What sampling the given wheel picks from this engine, draw by draw.
std::vector<unsigned int> sampled(const std::vector<double>& wheel, std::size_t draws,
                                  const boost::mt19937& engine) {
    Wheel w;
    Source source(engine);
    std::vector<unsigned int> out(draws);
    w.sample_selection(wheel, out, 0, source);
    return out;
}

std::vector<unsigned int> selected_by(const Wheel& w, const FitnessTable& fitness,
                                      std::size_t draws, const boost::mt19937& engine) {
    Source source(engine);
    std::vector<unsigned int> out(draws);
    w.select(fitness, out, 0, source);
    return out;
}

void expect_wheel(const std::vector<double>& actual, const std::vector<double>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(actual[i], expected[i], 1e-12) << "entry " << i;
}

TEST(Wheel, StatsAreSumMinimumAndMaximum) {
    double sum = 0, min = 0, max = 0;
    Wheel::calculate_stats(table({3.0, -2.0, 7.5, 0.0}), sum, min, max);
    EXPECT_EQ(sum, 8.5);
    EXPECT_EQ(min, -2.0);
    EXPECT_EQ(max, 7.5);
    Wheel::calculate_stats(table({}), sum, min, max);
    EXPECT_EQ(min, std::numeric_limits<double>::max());
    EXPECT_EQ(max, -std::numeric_limits<double>::max());
}

TEST(Wheel, WorkedScaledExamples) {
    struct Case { std::vector<double> values; double alpha; std::vector<double> wheel; };
    std::vector<double> capped(12, 0.0), capped_wheel(12, 0.0);
    capped[11] = 12.0; // average 1: r1 = 1 but r2 = 9/11 keeps the best weight at 10
    for (int k = 0; k < 11; ++k)
        capped_wheel[k] = (k + 1) * (2.0 / 11.0) / 12.0;
    capped_wheel[11] = 1.0;
    const Case cases[] = {
        {{1, 2, 3, 4}, 2.0 / 3.0, {0.0, 1.0 / 6.0, 0.5, 1.0}},
        {{10, 10, 10, 100}, 1.0 / 22.5, {0.0, 0.0, 0.0, 1.0}},
        {{-4, -3, -2, -1}, 2.0 / 3.0, {0.0, 1.0 / 6.0, 0.5, 1.0}}, // negative values alike
        {capped, 9.0 / 11.0, capped_wheel},
    };
    for (const Case& c : cases) {
        Wheel w; // scaled, factor 10
        double sum = 0, min = 0, max = 0;
        Wheel::calculate_stats(table(c.values), sum, min, max);
        const double average = sum / c.values.size();
        const double alpha = w.calculate_alpha(average, min, max);
        EXPECT_NEAR(alpha, c.alpha, 1e-12);
        std::vector<double> wheel;
        Wheel::make_wheel_scaled(table(c.values), average, alpha, wheel);
        expect_wheel(wheel, c.wheel);
    }
}

TEST(Wheel, ShiftedGivesTheWorstWeightZero) {
    std::vector<double> wheel;
    // shift 1 on -1, 0, 2: weights 0, 1, 3 out of 4
    Wheel::make_wheel_shifted(table({-1.0, 0.0, 2.0}), 1.0, 1.0, wheel);
    expect_wheel(wheel, {0.0, 0.25, 1.0});
    Wheel::make_wheel_shifted(table({1.0, 3.0}), 0.0, 4.0, wheel);
    expect_wheel(wheel, {0.25, 1.0});
}

TEST(Wheel, SelectBuildsTheModesWheel) {
    const boost::mt19937 engine(4242);
    const std::vector<double> values = {1, 2, 3, 4};
    Wheel scaled;
    EXPECT_EQ(selected_by(scaled, table(values), 200, engine),
              sampled({0.0, 1.0 / 6.0, 0.5, 1.0}, 200, engine));
    Wheel shifted;
    shifted.mode = Wheel::shifted; // weights 0, 1, 2, 3
    EXPECT_EQ(selected_by(shifted, table(values), 200, engine),
              sampled({0.0, 1.0 / 6.0, 0.5, 1.0}, 200, engine));
    Wheel normal;
    normal.mode = Wheel::normal; // weights 1, 2, 3, 4
    EXPECT_EQ(selected_by(normal, table(values), 200, engine),
              sampled({0.1, 0.3, 0.6, 1.0}, 200, engine));
}

TEST(Wheel, ValuesWithinAThousandthGiveEveryoneTheSameChance) {
    const boost::mt19937 engine(7);
    const std::vector<double> uniform = {0.25, 0.5, 0.75, 1.0};
    for (int mode : {Wheel::normal, Wheel::shifted, Wheel::scaled}) {
        Wheel w;
        w.mode = mode;
        EXPECT_EQ(selected_by(w, table({5, 5, 5, 5}), 100, engine), sampled(uniform, 100, engine));
        EXPECT_EQ(selected_by(w, table({0, 0.0009, 0, 0}), 100, engine),
                  sampled(uniform, 100, engine));
    }
    // At exactly 0.001 apart the scaled wheel is used: weights 0, 0, 0, 4.
    Wheel w;
    const auto picks = selected_by(w, table({0.0, 0.0, 0.0, 0.001}), 400, engine);
    EXPECT_EQ(picks, std::vector<unsigned int>(400, 3u));
}

TEST(Wheel, ZeroWeightIsNeverDrawnExceptByAZeroDrawAtPositionZero) {
    // 4, 1, 4, 4: average 3.25, r1 = 1/2.25 beats r2 = 12; position 1 weighs 0.
    Wheel w;
    const auto picks = selected_by(w, table({4, 1, 4, 4}), 2000, boost::mt19937(3));
    for (unsigned int p : picks)
        ASSERT_NE(p, 1u);
    // Position 0 weighs 0 here, yet a draw of exactly 0 lands on it.
    std::vector<std::uint32_t> outputs = {0u, 1u, 0x80000000u};
    const auto forced = selected_by(w, table({1, 4, 4, 4}), 3, engine_with_outputs(outputs));
    EXPECT_EQ(forced, (std::vector<unsigned int>{0u, 1u, 2u}));
}

TEST(Wheel, OneDrawPerSelectedElementAndPositionsNotIndices) {
    Wheel w;
    FitnessTable fitness = table({1, 2, 3, 4});
    for (auto& entry : fitness)
        entry.first += 100; // positions are what is returned
    const boost::mt19937 engine(8);
    for (std::size_t draws : {0u, 1u, 4u, 9u}) {
        Source source(engine);
        std::vector<unsigned int> out(draws, 77u);
        w.select(fitness, out, 5, source);
        EXPECT_TRUE(source.base() == advanced(engine, static_cast<long>(draws))) << draws;
        for (unsigned int p : out)
            EXPECT_LT(p, 4u);
    }
}

TEST(Wheel, ExtremeFiniteValuesNeverReachTheConsistencyChecks) {
    // Values that agree to sixteen digits (the average rounds onto an end), sums that
    // overflow, and magnitudes where the shifted total drifts by more than 0.5 all fall back
    // to the uniform wheel rather than aborting.
    const double big = std::numeric_limits<double>::max();
    const double near = std::nextafter(1e20, 2e20);
    const std::vector<std::vector<double> > hard = {
        {1e20, near}, {near, 1e20}, {1.5e308, 1.5e308, 0.0}, {big, -big, big, -big},
        {1e17, 3e17 + 64, 5e17 + 128, 7e17}, {-big, 0.0},
    };
    const boost::mt19937 engine(12);
    for (int mode : {Wheel::shifted, Wheel::scaled}) {
        for (const auto& values : hard) {
            Wheel w;
            w.mode = mode;
            const auto picks = selected_by(w, table(values), 64, engine);
            for (unsigned int p : picks)
                ASSERT_LT(p, values.size());
        }
    }
    // The cases above that really are hopeless give the uniform wheel.
    Wheel w;
    EXPECT_EQ(selected_by(w, table({1e20, near}), 64, engine), sampled({0.5, 1.0}, 64, engine));
}

TEST(Wheel, NormalModeRefusesNegativeValues) {
    Wheel w;
    w.mode = Wheel::normal;
    Source source(boost::mt19937(1));
    std::vector<unsigned int> out(2);
    try {
        w.select(table({-1.0, 2.0}), out, 0, source);
        FAIL() << "negative values were accepted";
    } catch (const usr::Exception& e) {
        EXPECT_NE(std::string(e.what()).find("non-negative"), std::string::npos) << e.what();
    }
}

TEST(Wheel, UnknownModeAndSmallFactorAreRefused) {
    Wheel w;
    w.mode = 3;
    Source source(boost::mt19937(1));
    std::vector<unsigned int> out(2);
    EXPECT_THROW(w.select(table({1.0, 2.0}), out, 0, source), usr::Exception);

    Wheel v;
    v.mode = Wheel::shifted;
    EXPECT_THROW(v.scale_to_max_fitness(1.0), usr::Exception);
    EXPECT_EQ(v.mode, Wheel::shifted);
    v.scale_to_max_fitness(3.0);
    EXPECT_EQ(v.mode, Wheel::scaled);
    EXPECT_EQ(v.factor, 3.0);
    // With factor 3 the best of 1, 1, 1, 4 is capped at weight 3: r2 = 2/2.25 < r1 = 4.
    EXPECT_NEAR(v.calculate_alpha(1.75, 1.0, 4.0), 2.0 / 2.25, 1e-12);
}

TEST(WheelDeathTest, ConsistencyChecksReportTheExpression) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::vector<double> wheel;
    // An average far off the values makes the weights sum to less than n - 0.5.
    EXPECT_DEATH(Wheel::make_wheel_scaled(table({1.0, 2.0}), 10.0, 1.0, wheel),
                 "consistency check failed: cumulative_value > \\(fitness.size\\(\\) - 0.5\\)");
    EXPECT_DEATH(Wheel::make_wheel_shifted(table({1.0, 2.0}), 0.0, 10.0, wheel),
                 "consistency check failed: cumulative_value > \\(sum - 0.5\\)");
    Wheel w;
    Source source(boost::mt19937(1));
    std::vector<unsigned int> out(1);
    EXPECT_DEATH(w.sample_selection({}, out, 0, source),
                 "RouletteWheelSelection.cpp\\([0-9]+\\): consistency check failed: "
                 "p != cumulative_probs.end\\(\\)");
}

} // namespace
