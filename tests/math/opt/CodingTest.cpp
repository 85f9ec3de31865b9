#include "math/opt/GAOptimiser.hpp"

#include <boost/random/mersenne_twister.hpp>
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

using math::opt::GAOptimiser;
using math::opt::Interval;
using math::opt::upward_width;
typedef GAOptimiser::Chromosome Chromosome;

const double inf = std::numeric_limits<double>::infinity();

// (a + b) rounded toward -infinity, done at run time whatever the optimiser knows.
__attribute__((noinline)) double add_down(double a, double b) {
    volatile double x = a, y = b;
    std::fesetround(FE_DOWNWARD);
    volatile double s = x + y;
    std::fesetround(FE_TONEAREST);
    return s;
}

// w >= upper - lower exactly: the sum w + lower rounded down is still at least upper.
bool covers(double w, double lower, double upper) { return add_down(w, lower) >= upper; }

TEST(UpwardWidth, NamedPairs) {
    struct Case { double lower, upper; bool steps_up; };
    const Case cases[] = {
        {-1e-300, 3.0, true},  {-3.3, 10.1, true},   {-1.0, 9007199254740992.0, true},
        {0.1, 0.7, false},     {-0.1, 0.2, false},   {1e-320, 1.0, false},
        {0.0, 1.0, false},     {-5.0, 5.0, false},   {3.0, 3.0, false},
        {0.5, 0.75, false},    {2.0, 3.5, false},    {-0.0, 0.0, false},
    };
    for (const Case& c : cases) {
        const double nearest = c.upper - c.lower;
        const double w = upward_width(Interval(c.lower, c.upper));
        EXPECT_EQ(w, c.steps_up ? std::nextafter(nearest, inf) : nearest)
            << "[" << c.lower << ", " << c.upper << "]";
    }
}

TEST(UpwardWidth, IsTheSmallestDoubleNotBelowTheTrueWidth) {
    boost::mt19937 engine(31);
    auto uniform = [&engine] { return engine() / 4294967296.0; };
    for (int i = 0; i < 20000; ++i) {
        // Mixed magnitudes, signs and exponent gaps, where the difference is rarely exact.
        const double a = std::ldexp(uniform() - 0.5, static_cast<int>(engine() % 200) - 100);
        const double b = std::ldexp(uniform() - 0.5, static_cast<int>(engine() % 200) - 100);
        const double lower = std::min(a, b), upper = std::max(a, b);
        const double w = upward_width(lower, upper);
        ASSERT_TRUE(covers(w, lower, upper)) << lower << " " << upper;
        if (w > 0.0) {
            const double below = std::nextafter(w, 0.0);
            ASSERT_FALSE(covers(below, lower, upper)) << lower << " " << upper;
        }
    }
}

TEST(UpwardWidth, OverflowIsInfinite) {
    const double big = std::numeric_limits<double>::max();
    EXPECT_EQ(upward_width(-big, big), inf);
    EXPECT_EQ(upward_width(-1e292, big), inf); // rounds to max, remainder positive
    EXPECT_EQ(upward_width(0.0, big), big);
}

TEST(Coding, UnitInterval) {
    GAOptimiser o;
    const Interval x(0.0, 1.0);
    double v = -1.0;
    o.decode(0u, v, x);
    EXPECT_EQ(v, 0.0);
    o.decode(4294967295u, v, x);
    EXPECT_EQ(v, 1.0);
    o.decode(2147483648u, v, x);
    EXPECT_EQ(v, 2147483648.0 / 4294967295.0);
    EXPECT_GT(v, 0.5);
    unsigned int w = 0;
    o.code(1.0, x, w);
    EXPECT_EQ(w, 4294967295u);
}

TEST(Coding, SymmetricInterval) {
    GAOptimiser o;
    const Interval x(-5.0, 5.0);
    unsigned int w = 99;
    o.code(-5.0, x, w);
    EXPECT_EQ(w, 0u);
    o.code(0.0, x, w); // q = 2147483647.5
    EXPECT_EQ(w, 2147483647u);
    o.code(-5.000000001, x, w); // less than one level below
    EXPECT_EQ(w, 0u);
    o.code(5.0, x, w);
    EXPECT_EQ(w, 4294967295u);
    w = 17;
    EXPECT_THROW(o.code(-6.0, x, w), boost::numeric::negative_overflow);
    EXPECT_THROW(o.code(6.0, x, w), boost::numeric::positive_overflow);
    EXPECT_THROW(o.code(std::nan(""), x, w), boost::numeric::bad_numeric_cast);
    EXPECT_EQ(w, 17u) << "a refused value leaves the word alone";
}

TEST(Coding, DegenerateIntervalHoldsOneValue) {
    GAOptimiser o;
    const Interval x(3.0, 3.0);
    for (unsigned int word : {0u, 1u, 2147483648u, 4294967295u}) {
        double v = 0.0;
        o.decode(word, v, x);
        EXPECT_EQ(v, 3.0) << word;
    }
    unsigned int w = 5;
    o.code(3.0, x, w);
    EXPECT_EQ(w, 0u);
    EXPECT_THROW(o.code(3.5, x, w), boost::numeric::positive_overflow);
    EXPECT_THROW(o.code(2.5, x, w), boost::numeric::negative_overflow);
}

TEST(Coding, UpperBoundLosesALevelWhenTheWidthRoundsUp) {
    GAOptimiser o;
    const Interval x(-1e-300, 3.0);
    unsigned int w = 0;
    o.code(3.0, x, w);
    EXPECT_EQ(w, 4294967294u);
    double v = 0.0;
    o.decode(4294967295u, v, x); // the top word sits on the widened upper end
    EXPECT_EQ(v, std::nextafter(3.0, inf));
}

TEST(Coding, RoundTripNeverMovesUpAndLosesLessThanALevel) {
    GAOptimiser o;
    boost::mt19937 engine(11);
    const Interval boxes[] = {Interval(0.0, 1.0), Interval(-3.3, 10.1), Interval(-1e-300, 3.0),
                              Interval(-1e6, -999.5), Interval(1e-9, 2e-9)};
    for (const Interval& x : boxes) {
        const double level = upward_width(x) / 4294967295.0;
        std::vector<double> values = {x.lower(), x.upper()};
        for (int i = 0; i < 2000; ++i)
            values.push_back(x.lower() + (engine() / 4294967296.0) * (x.upper() - x.lower()));
        for (double value : values) {
            if (value > x.upper())
                continue;
            unsigned int w = 0;
            o.code(value, x, w);
            double back = 0.0;
            o.decode(w, back, x);
            ASSERT_LE(back, value) << "[" << x.lower() << ", " << x.upper() << "] " << value;
            ASSERT_LT(value - back, 2.0 * level + 1e-300) << value;
        }
    }
}

TEST(DesignVariables, KeepTheirOrderAndCodeTheirOwnWord) {
    GAOptimiser o;
    o.design_variable(Interval(0.0, 1.0));
    o.design_variable(Interval(-5.0, 5.0));
    ASSERT_EQ(o.design_variable_count(), 2u);
    EXPECT_EQ(o.design_variable(1).lower(), -5.0);

    Chromosome c(2);
    o.code({1.0, 0.0}, c);
    EXPECT_EQ(c.words[0], 4294967295u);
    EXPECT_EQ(c.words[1], 2147483647u);
    std::vector<double> point(2, 9.0);
    o.decode(c, point);
    EXPECT_EQ(point[0], 1.0);
    EXPECT_NEAR(point[1], 0.0, 1e-8);

    o.design_variable(1) = Interval(10.0, 20.0); // editable in place
    o.decode(c, point);
    EXPECT_NEAR(point[1], 15.0, 1e-8);

    o.clear_design_variables();
    EXPECT_EQ(o.design_variable_count(), 0u);
}

TEST(DesignVariables, CodingAPointStopsAtTheFirstRefusedElement) {
    GAOptimiser o;
    o.design_variable(Interval(0.0, 1.0));
    o.design_variable(Interval(0.0, 1.0));
    o.design_variable(Interval(0.0, 1.0));
    Chromosome c(3);
    c.words = {7u, 7u, 7u};
    EXPECT_THROW(o.code({1.0, 2.0, 0.0}, c), boost::numeric::positive_overflow);
    EXPECT_EQ(c.words, (std::vector<unsigned int>{4294967295u, 7u, 7u}));
}

TEST(DesignVariables, EmptyIntervalIsRefusedByTheIntervalType) {
    GAOptimiser o;
    try {
        o.design_variable(Interval(2.0, 1.0));
        FAIL() << "an empty interval was accepted";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "boost::interval: empty interval created");
    }
    EXPECT_EQ(o.design_variable_count(), 0u);
    EXPECT_THROW(Interval(std::nan(""), 1.0), std::runtime_error);
}

} // namespace
