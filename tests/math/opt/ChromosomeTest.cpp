#include "math/opt/GAOptimiser.hpp"
#include "math/opt/Truncate.hpp"

#include "EngineTools.hpp"

#include <boost/numeric/conversion/cast.hpp>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using math::opt::GAOptimiser;
typedef GAOptimiser::Chromosome Chromosome;
typedef GAOptimiser::Population Population;
typedef GAOptimiser::UniformSource Source;
using namespace enginetools;

Chromosome of_words(std::vector<unsigned int> words) {
    Chromosome c(static_cast<unsigned int>(words.size()));
    c.words = words;
    return c;
}

TEST(Chromosome, EmptyChromosomeHasNoBitsAndDrawsNothing) {
    Chromosome c(0);
    EXPECT_EQ(c.length(), 0u);
    boost::mt19937 engine(7);
    Source source(engine);
    c.randomise(source);
    EXPECT_TRUE(source.base() == engine);
}

TEST(Chromosome, FreshChromosomeIsAllZero) {
    Chromosome c(3);
    EXPECT_EQ(c.length(), 96u);
    for (unsigned int i = 0; i < c.length(); ++i)
        EXPECT_EQ(c[i], 0u) << "bit " << i;
}

TEST(Chromosome, BitZeroIsTheTopOfWordZero) {
    Chromosome c(1);
    c.flip(0);
    EXPECT_EQ(c.words[0], 0x80000000u);
    c.flip(0);
    c.flip(31);
    EXPECT_EQ(c.words[0], 0x00000001u);
}

TEST(Chromosome, FlipAndIndexAgreeOnEveryBitOfTwoWords) {
    for (unsigned int i = 0; i < 64; ++i) {
        Chromosome c(2);
        c.flip(i);
        const unsigned int word = i / 32;
        EXPECT_EQ(c.words[word], 1u << (31 - i % 32)) << "bit " << i;
        EXPECT_EQ(c.words[1 - word], 0u) << "bit " << i;
        for (unsigned int j = 0; j < 64; ++j)
            EXPECT_EQ(c[j], j == i ? 1u : 0u) << "flipped " << i << ", read " << j;
    }
}

TEST(Chromosome, CrossWordExchangesOnlyMaskedBits) {
    struct Case { unsigned int mask, new_a, new_b; };
    const unsigned int a = 0x12345678u, b = 0xABCDEF01u;
    const Case cases[] = {
        {0x00000000u, a, b},
        {0xFFFFFFFFu, b, a},
        {0x0000FFFFu, 0x1234EF01u, 0xABCD5678u},
        {0xF0F0F0F0u, 0xA2C4E608u, 0x1B3D5F71u},
    };
    for (const Case& c : cases) {
        unsigned int x = a, y = b;
        Chromosome::cross_word(x, y, c.mask);
        EXPECT_EQ(x, c.new_a) << std::hex << c.mask;
        EXPECT_EQ(y, c.new_b) << std::hex << c.mask;
    }
}

TEST(Chromosome, CrossAtNamedCutsExchangesTheTail) {
    struct Case { unsigned int k; std::vector<unsigned int> first, second; };
    const std::vector<unsigned int> a = {0x11111111u, 0x22222222u, 0x33333333u};
    const std::vector<unsigned int> b = {0xEEEEEEEEu, 0xDDDDDDDDu, 0xCCCCCCCCu};
    const Case cases[] = {
        {0, b, a},
        {31, {0x11111110u, 0xDDDDDDDDu, 0xCCCCCCCCu}, {0xEEEEEEEFu, 0x22222222u, 0x33333333u}},
        {32, {0x11111111u, 0xDDDDDDDDu, 0xCCCCCCCCu}, {0xEEEEEEEEu, 0x22222222u, 0x33333333u}},
        {40, {0x11111111u, 0x22DDDDDDu, 0xCCCCCCCCu}, {0xEEEEEEEEu, 0xDD222222u, 0x33333333u}},
        {95, {0x11111111u, 0x22222222u, 0x33333332u}, {0xEEEEEEEEu, 0xDDDDDDDDu, 0xCCCCCCCDu}},
    };
    for (const Case& c : cases) {
        Chromosome p = of_words(a), q = of_words(b);
        p.cross(q, c.k);
        EXPECT_EQ(p.words, c.first) << "k = " << c.k;
        EXPECT_EQ(q.words, c.second) << "k = " << c.k;
    }
}

TEST(Chromosome, CrossMatchesABitByBitExchangeAtEveryCut) {
    boost::mt19937 engine(99);
    for (unsigned int k = 0; k < 96; ++k) {
        const Chromosome a = of_words({engine(), engine(), engine()});
        const Chromosome b = of_words({engine(), engine(), engine()});
        Chromosome p = a, q = b;
        p.cross(q, k);
        for (unsigned int i = 0; i < 96; ++i) {
            EXPECT_EQ(p[i], i < k ? a[i] : b[i]) << "k = " << k << ", bit " << i;
            EXPECT_EQ(q[i], i < k ? b[i] : a[i]) << "k = " << k << ", bit " << i;
        }
    }
}

TEST(Chromosome, RandomiseTakesOneDrawPerWordInOrder) {
    boost::mt19937 engine(2024);
    Source source(engine);
    Chromosome c(5);
    c.randomise(source);
    boost::mt19937 reference = engine;
    for (unsigned int j = 0; j < 5; ++j) {
        const double draw = reference() / 4294967296.0;
        EXPECT_EQ(c.words[j], static_cast<unsigned int>(std::floor(draw * 4294967295.0)));
    }
    EXPECT_TRUE(source.base() == reference);
}

TEST(Chromosome, RandomiseMapsTheExtremeDrawsInsideTheWordRange) {
    // Outputs 0 and 2^32 - 1 are the smallest and largest draws.
    boost::mt19937 engine = engine_with_outputs({0u, 0xFFFFFFFFu, 0x80000000u});
    Source source(engine);
    Chromosome c(3);
    c.randomise(source);
    EXPECT_EQ(c.words[0], 0u);
    EXPECT_EQ(c.words[1], 4294967294u); // never the all-ones word
    EXPECT_EQ(c.words[2], 2147483647u); // 0.5 * (2^32 - 1), truncated
}

TEST(Truncation, AgreesWithNumericCast) {
    const double values[] = {0.0, -0.0, -0.999999, 0.5, 1.0, 2147483647.5, 4294967294.9,
                             4294967295.0, 4294967295.999, std::nextafter(-1.0, 0.0)};
    for (double x : values)
        EXPECT_EQ(math::opt::truncate_to_unsigned(x), boost::numeric_cast<unsigned int>(x)) << x;
}

TEST(Truncation, RefusesWhatDoesNotFit) {
    EXPECT_THROW(math::opt::truncate_to_unsigned(-1.0), boost::numeric::negative_overflow);
    EXPECT_THROW(math::opt::truncate_to_unsigned(4294967296.0), boost::numeric::positive_overflow);
    EXPECT_THROW(math::opt::truncate_to_unsigned(std::numeric_limits<double>::infinity()),
                 boost::numeric::positive_overflow);
    EXPECT_THROW(math::opt::truncate_to_unsigned(std::nan("")), boost::numeric::bad_numeric_cast);
}

TEST(Population, StartsWithZeroedChromosomesOfTheGivenSize) {
    Population p(4, 3);
    ASSERT_EQ(p.size(), 4u);
    for (const Chromosome& c : p)
        EXPECT_EQ(c.words, std::vector<unsigned int>(3, 0u));
}

TEST(Population, RandomiseGoesChromosomeByChromosome) {
    boost::mt19937 engine(5);
    Source source(engine);
    Population p(3, 2);
    p.randomise(source);
    Source again(engine);
    for (unsigned int i = 0; i < 3; ++i) {
        Chromosome c(2);
        c.randomise(again);
        EXPECT_EQ(p[i].words, c.words) << "chromosome " << i;
    }
}

TEST(Population, AutoSelectCopiesListedChromosomes) {
    Population p(3, 1);
    p[0].words[0] = 10;
    p[1].words[0] = 11;
    p[2].words[0] = 12;
    p.auto_select({2, 2, 0});
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0].words[0], 12u);
    EXPECT_EQ(p[1].words[0], 12u);
    EXPECT_EQ(p[2].words[0], 10u);
    p[0].flip(0); // the copies are independent
    EXPECT_EQ(p[1].words[0], 12u);

    p.auto_select({1, 0, 2, 2, 1});
    ASSERT_EQ(p.size(), 5u);
    EXPECT_EQ(p[0].words[0], 12u);
    EXPECT_EQ(p[1].words[0], 12u | 0x80000000u);

    p.auto_select({});
    EXPECT_TRUE(p.empty());
}

} // namespace
