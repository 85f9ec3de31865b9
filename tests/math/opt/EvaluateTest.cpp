#include "math/opt/GAOptimiser.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {

using math::opt::GAOptimiser;
using math::opt::Interval;
typedef GAOptimiser::Objective Objective;
typedef GAOptimiser::Population Population;

class Table : public Objective {
public:
    explicit Table(std::vector<double> v) : values(v) {}
    double operator()(const std::vector<double>& x) const override {
        seen.push_back(x);
        return values[seen.size() - 1];
    }
    std::vector<double> values;
    mutable std::vector<std::vector<double> > seen;
};

GAOptimiser one_variable() {
    GAOptimiser o;
    o.design_variable(Interval(0.0, 1.0));
    return o;
}

Population of(std::vector<unsigned int> words) {
    Population p(static_cast<unsigned int>(words.size()), 1);
    for (std::size_t i = 0; i < words.size(); ++i)
        p[i].words[0] = words[i];
    return p;
}

TEST(Evaluate, FillsTheTableInOrderAndReturnsTheFirstBest) {
    const GAOptimiser o = one_variable();
    const Population p = of({0u, 4294967295u, 2147483648u, 7u});
    GAOptimiser::FitnessTable fitness(6, std::make_pair(9u, 9.0));
    const Table f({3.0, 5.0, 5.0, -1.0});
    EXPECT_EQ(o.evaluate(p, f, fitness), 1u);
    for (unsigned int i = 0; i < 4; ++i) {
        EXPECT_EQ(fitness[i].first, i);
        EXPECT_EQ(fitness[i].second, f.values[i]);
    }
    EXPECT_EQ(fitness[4], std::make_pair(9u, 9.0)) << "the table is not resized";
    ASSERT_EQ(f.seen.size(), 4u);
    EXPECT_EQ(f.seen[1], std::vector<double>{1.0});
    EXPECT_EQ(f.seen[0], std::vector<double>{0.0});
}

TEST(Evaluate, NothingAboveTheLowestFiniteValueGivesPositionZero) {
    const GAOptimiser o = one_variable();
    const Population p = of({1u, 2u, 3u});
    GAOptimiser::FitnessTable fitness(3);
    const double lowest = -std::numeric_limits<double>::max();
    EXPECT_EQ(o.evaluate(p, Table({lowest, -INFINITY, std::nan("")}), fitness), 0u);
    EXPECT_EQ(o.evaluate(p, Table({std::nan(""), lowest, 0.0}), fitness), 2u);
}

TEST(Print, ListsBitsValuesAndFitness) {
    GAOptimiser o;
    o.design_variable(Interval(0.0, 1.0));
    const Population p = of({0x80000001u, 0u});
    GAOptimiser::FitnessTable fitness = {{0u, 2.5}, {1u, -1.0}};
    testing::internal::CaptureStdout();
    o.print(p, fitness);
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string bits0 = "10000000000000000000000000000001";
    const std::string bits1(32, '0');
    EXPECT_EQ(out, "#0\t" + bits0 + "\t0.5 \tfitness:2.5\n#1\t" + bits1 +
                       "\t0 \tfitness:-1\nAverage Fitness:0.75\n");
}

} // namespace
