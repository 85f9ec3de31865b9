#include "math/opt/GAOptimiser.hpp"
#include "math/opt/Truncate.hpp"

#include "EngineTools.hpp"

#include <boost/numeric/conversion/cast.hpp>
#include <gtest/gtest.h>

#include <cfenv>
#include <stdexcept>

namespace {

using math::opt::GAOptimiser;
using math::opt::Interval;
typedef GAOptimiser::Chromosome Chromosome;
typedef GAOptimiser::UniformSource Source;
using namespace enginetools;
const double inf = HUGE_VAL;

TEST(Engine, TheRunEngineStartsFromThe624NextOutputs) {
    for (std::uint32_t seed : {0u, 233u, 4294967295u}) {
        boost::mt19937 parent(seed);
        parent.discard(100);
        const boost::mt19937 before = parent;
        boost::mt19937 run = GAOptimiser::spawn_run_engine(parent);
        EXPECT_TRUE(parent == before) << "the parent must not move";
        ReferenceMt expected(next_outputs(parent));
        for (int i = 0; i < 1300; ++i)
            ASSERT_EQ(run(), expected.next()) << "seed " << seed << ", output " << i;
    }
}

TEST(Chromosome, BitsAreMostSignificantFirstAndCrossingSwapsTheTail) {
    EXPECT_EQ(Chromosome(0).length(), 0u);
    for (unsigned int i = 0; i < 64; ++i) {
        Chromosome c(2);
        c.flip(i);
        EXPECT_TRUE(c.words[i / 32] == 1u << (31 - i % 32) && c.words[1 - i / 32] == 0u) << i;
        for (unsigned int j = 0; j < 64; ++j)
            ASSERT_EQ(c[j], j == i ? 1u : 0u) << "flipped " << i << ", read " << j;
    }
    boost::mt19937 engine(99);
    for (unsigned int k = 0; k < 96; ++k) { // every cut against a bit-by-bit exchange
        Chromosome x(3), y(3);
        x.words = {engine(), engine(), engine()};
        y.words = {engine(), engine(), engine()};
        Chromosome p = x, q = y;
        p.cross(q, k);
        for (unsigned int i = 0; i < 96; ++i)
            ASSERT_TRUE(p[i] == (i < k ? x[i] : y[i]) && q[i] == (i < k ? y[i] : x[i])) << k << " " << i;
    }
}

TEST(Chromosome, RandomiseTakesOneTruncatedDrawPerWord) {
    const boost::mt19937 engine = engine_with_outputs({0u, ~0u, 0x80000000u, 77u});
    Source source(engine);
    Chromosome c(3), empty(0);
    c.randomise(source);
    empty.randomise(source);
    EXPECT_EQ(c.words, (std::vector<unsigned int>{0u, 4294967294u, 2147483647u})) << "never all ones";
    EXPECT_EQ(draws_between(engine, source.base()), 3);

    for (double x : {0.0, -0.999999, 0.5, 2147483647.5, 4294967295.999})
        EXPECT_EQ(math::opt::truncate_to_unsigned(x), boost::numeric_cast<unsigned int>(x)) << x;
    EXPECT_THROW(math::opt::truncate_to_unsigned(-1.0), boost::numeric::negative_overflow);
    EXPECT_THROW(math::opt::truncate_to_unsigned(4294967296.0), boost::numeric::positive_overflow);
    EXPECT_THROW(math::opt::truncate_to_unsigned(std::nan("")), boost::numeric::bad_numeric_cast);
}

// w >= upper - lower exactly, judged by w + lower rounded down at run time.
__attribute__((noinline)) bool covers(double w, double lower, double upper) {
    volatile double x = w, y = lower;
    std::fesetround(FE_DOWNWARD);
    volatile double s = x + y;
    std::fesetround(FE_TONEAREST);
    return s >= upper;
}

TEST(Coding, WidthIsTheNearestDifferenceSteppedUpOnlyWhenShort) {
    struct Case {
        double lower, upper;
        bool steps_up;
    };
    for (const Case& c : {Case{-1e-300, 3, true}, Case{-3.3, 10.1, true}, Case{-1, 9007199254740992.0, true},
                          Case{0.1, 0.7, false}, Case{0, 1, false}, Case{-5, 5, false}, Case{3, 3, false}}) {
        const double nearest = c.upper - c.lower;
        EXPECT_EQ(math::opt::upward_width(Interval(c.lower, c.upper)),
                  c.steps_up ? std::nextafter(nearest, inf) : nearest)
            << c.lower << " " << c.upper;
    }
    EXPECT_EQ(math::opt::upward_width(-1e292, 1.7976931348623157e308), inf);
    boost::mt19937 engine(31);
    for (int i = 0; i < 20000; ++i) {
        const double a = std::ldexp(engine() / 4294967296.0 - 0.5, int(engine() % 200) - 100);
        const double b = std::ldexp(engine() / 4294967296.0 - 0.5, int(engine() % 200) - 100);
        const double lo = std::min(a, b), hi = std::max(a, b), w = math::opt::upward_width(lo, hi);
        ASSERT_TRUE(covers(w, lo, hi) && (w == 0 || !covers(std::nextafter(w, 0.0), lo, hi))) << lo << " " << hi;
    }
}

TEST(Coding, WordsAndValuesAtTheIntervalEnds) {
    GAOptimiser o;
    struct Case {
        double lo, hi, value;
        unsigned int word;
        bool codes, decodes;
    };
    for (const Case& c :
         {Case{0, 1, 0.0, 0u, true, true}, Case{0, 1, 1.0, 4294967295u, true, true},
          Case{0, 1, 2147483648.0 / 4294967295.0, 2147483648u, false, true}, Case{-5, 5, -5, 0u, true, true},
          Case{-5, 5, 0, 2147483647u, true, false}, Case{-5, 5, -5.000000001, 0u, true, false},
          Case{3, 3, 3, 0u, true, true}, Case{-1e-300, 3, 3, 4294967294u, true, false}}) {
        unsigned int w = 99;
        o.code(c.value, Interval(c.lo, c.hi), w);
        EXPECT_TRUE(!c.codes || w == c.word) << c.value << " in [" << c.lo << ", " << c.hi << "] coded to " << w;
        double v = -1;
        o.decode(c.word, v, Interval(c.lo, c.hi));
        EXPECT_TRUE(!c.decodes || v == c.value) << c.word << " decoded to " << v;
    }
    double v = 0;
    o.decode(4294967295u, v, Interval(3, 3));
    EXPECT_EQ(v, 3.0);
    o.decode(4294967295u, v, Interval(-1e-300, 3)); // the top word sits on the widened end
    EXPECT_EQ(v, std::nextafter(3.0, inf));
    unsigned int w = 17;
    EXPECT_THROW(o.code(-6.0, Interval(-5, 5), w), boost::numeric::negative_overflow);
    EXPECT_THROW(o.code(6.0, Interval(-5, 5), w), boost::numeric::positive_overflow);
    EXPECT_THROW(o.code(std::nan(""), Interval(0, 1), w), boost::numeric::bad_numeric_cast);
    EXPECT_EQ(w, 17u) << "a refused value leaves the word alone";

    boost::mt19937 engine(11); // round trips never move up, and lose less than a level
    for (const Interval& x : {Interval(-3.3, 10.1), Interval(-1e6, -999.5), Interval(1e-9, 2e-9)})
        for (int i = 0; i < 3000; ++i) {
            const double value = x.lower() + engine() / 4294967296.0 * (x.upper() - x.lower());
            o.code(value, x, w);
            o.decode(w, v, x);
            ASSERT_TRUE(v <= value && value - v < 2 * math::opt::upward_width(x) / 4294967295.0) << value;
        }
}

} // namespace
