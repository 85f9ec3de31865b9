#include "math/opt/Coding.hpp"
#include "math/opt/GAOptimiser.hpp"

#include <gtest/gtest.h>

#include <boost/random/mersenne_twister.hpp>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <vector>

namespace {

using math::opt::Coding;
using math::opt::ConstrainedObjective;
using math::opt::Evaluation;
using math::opt::GAOptimiser;
using math::opt::Interval;
using math::opt::VariableKind;

struct WholeRow {
    double lower, upper;
    double lowest;
    unsigned long long count;
};

TEST(Coding, WholeNumbersOfAnInterval) {
    const WholeRow rows[] = {
        {0, 1, 0, 2},
        {1, 10, 1, 10},
        {-3, 3, -3, 7},
        {0.5, 4.2, 1, 4},
        {2, 2, 2, 1},
        {0.2, 0.8, 1, 0},
        {0, 4294967295.0, 0, 4294967296ull},
        {0, 4294967296.0, 0, 0},
    };
    for (const WholeRow& r : rows) {
        double lowest;
        unsigned long long count;
        Coding::whole_numbers(Interval(r.lower, r.upper), lowest, count);
        EXPECT_EQ(count, r.count) << r.lower << ".." << r.upper;
        if (r.count > 0) {
            EXPECT_EQ(lowest, r.lowest) << r.lower << ".." << r.upper;
        }
    }
}

TEST(Coding, EveryWholeNumberIsReachedAndCodesBack) {
    const WholeRow rows[] = {{0, 1, 0, 2}, {1, 10, 1, 10}, {-3, 3, -3, 7}, {5, 5, 5, 1}, {0, 999, 0, 1000}};
    for (const WholeRow& r : rows) {
        EXPECT_EQ(Coding::decode_integer(0u, r.lowest, r.count), r.lowest);
        EXPECT_EQ(Coding::decode_integer(0xFFFFFFFFu, r.lowest, r.count), r.lowest + double(r.count - 1));
        for (unsigned long long k = 0; k < r.count; ++k) {
            const double v = r.lowest + double(k);
            const unsigned int w = Coding::code_integer(v, r.lowest, r.count);
            EXPECT_EQ(Coding::decode_integer(w, r.lowest, r.count), v) << v;
            // The first word of its value: the word below belongs to the value below.
            if (w > 0) {
                EXPECT_EQ(Coding::decode_integer(w - 1, r.lowest, r.count), v - 1) << v;
            }
        }
    }
}

// Draws words as a run does and counts the values: each must come within 3% of its share (the
// count for a fixed seed; the expected spread is well under 1%).
TEST(Coding, WholeNumbersAreEquallyLikely) {
    const unsigned long long counts[] = {2, 3, 5, 6, 7, 10};
    boost::mt19937 engine(233);
    GAOptimiser::UniformSource source(engine);
    const int draws = 60000;
    for (unsigned long long n : counts) {
        std::vector<int> seen(n, 0);
        GAOptimiser::Chromosome c(1);
        for (int i = 0; i < draws; ++i) {
            c.randomise(source);
            ++seen[static_cast<std::size_t>(Coding::decode_integer(c.words[0], 0.0, n))];
        }
        for (unsigned long long k = 0; k < n; ++k)
            EXPECT_NEAR(seen[k], double(draws) / n, 0.03 * draws / n) << "value " << k << " of " << n;
    }
}

TEST(Coding, PermutationsAreEquallyLikely) {
    Coding coding;
    coding.permutations = {{1, 2, 3}};
    boost::mt19937 engine(7);
    GAOptimiser::UniformSource source(engine);
    std::map<std::vector<double>, int> seen;
    const int draws = 30000;
    GAOptimiser::Chromosome c(4);
    for (int i = 0; i < draws; ++i) {
        c.randomise(source);
        std::vector<double> point(4, -1.0);
        coding.rank_permutations(c.words, point);
        ++seen[point];
        EXPECT_EQ(point[0], -1.0); // outside the group: untouched
    }
    ASSERT_EQ(seen.size(), 6u);
    for (const auto& [order, n] : seen) {
        std::vector<double> sorted(order.begin() + 1, order.end());
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, (std::vector<double>{1, 2, 3}));
        EXPECT_NEAR(n, draws / 6.0, 0.05 * draws / 6.0);
    }
}

TEST(Coding, EqualKeysRankByPosition) {
    Coding coding;
    coding.permutations = {{0, 1, 2}, {3, 4}};
    std::vector<double> point(5, 0.0);
    coding.rank_permutations(std::vector<unsigned int>{9, 9, 1, 5, 5}, point);
    EXPECT_EQ(point, (std::vector<double>{2, 3, 1, 1, 2}));
}

struct RefusalRow {
    std::vector<VariableKind> kinds;
    std::vector<std::vector<unsigned int>> groups;
    const char* says; // empty: accepted
};

TEST(Coding, RefusesWhatCannotBeCoded) {
    const std::vector<Interval> box = {Interval(0, 10), Interval(0.2, 0.7), Interval(1, 3)};
    const VariableKind I = VariableKind::integer, C = VariableKind::continuous;
    const RefusalRow rows[] = {
        {{I, C, I}, {}, ""},
        {{}, {{0, 2}}, ""},
        {{C, I}, {}, "Design variable 2 must be a whole number, but its range [0.2, 0.7] holds none"},
        {{C, C, C, I}, {}, "The coding has 4 variable kinds for 3 variables"},
        {{}, {{0, 1}, {1, 2}}, "Design variable 2 is in two permutation groups"},
        {{}, {{0, 3}}, "A permutation group names variable 4 of 3"},
    };
    for (const RefusalRow& r : rows) {
        Coding coding;
        coding.kinds = r.kinds;
        coding.permutations = r.groups;
        EXPECT_EQ(coding.refusal(box), r.says);
    }
}

TEST(Coding, AnIntegerRunWritesWholeNumbersOnly) {
    GAOptimiser o;
    o.population_size = 10;
    o.generations = 5;
    o.trials = 1;
    o.design_variable(Interval(-2.5, 7.5));
    o.design_variable(Interval(0, 1));
    o.design_variable(Interval(0, 1));
    o.design_variable(Interval(0, 1));
    o.coding.kinds = {VariableKind::integer, VariableKind::integer};
    o.coding.permutations = {{2, 3}};
    struct Sum : GAOptimiser::Objective {
        double operator()(const std::vector<double>& x) const override {
            EXPECT_EQ(x[0], std::floor(x[0]));
            EXPECT_GE(x[0], -2.0);
            EXPECT_LE(x[0], 7.0);
            EXPECT_TRUE(x[1] == 0.0 || x[1] == 1.0);
            EXPECT_EQ(x[2] + x[3], 3.0);
            EXPECT_NE(x[2], x[3]);
            return x[0] + x[1];
        }
    } f;
    boost::mt19937 engine(1);
    const std::vector<double> best = o.maximise(f, engine);
    EXPECT_EQ(best[0] + best[1], 8.0);
}

struct FitnessRow {
    std::vector<Evaluation> evaluations;
    std::vector<double> fitness;
};

TEST(Constrained, FitnessKeepsTheFeasibilityOrder) {
    const FitnessRow rows[] = {
        {{{3, 0}, {5, 0}, {9, 2}}, {3, 5, 1}},         // infeasible: worst feasible less violation
        {{{3, 1}, {5, 0.5}, {-1, 4}}, {-1, -0.5, -4}}, // none feasible: less violation is fitter
        {{{3, 0}, {-7, 0}}, {3, -7}},                  // none outside: the values
    };
    for (const FitnessRow& r : rows) {
        GAOptimiser::FitnessTable table(r.evaluations.size());
        GAOptimiser::feasibility_fitness(r.evaluations, table);
        for (std::size_t k = 0; k < r.fitness.size(); ++k) {
            EXPECT_EQ(table[k].first, k);
            EXPECT_EQ(table[k].second, r.fitness[k]);
        }
    }
}

class Model : public ConstrainedObjective {
public:
    typedef std::function<Evaluation(const std::vector<double>&)> Fn;
    explicit Model(Fn f_) : f(f_) {}
    Evaluation evaluate(const std::vector<double>& x) const override { return f(x); }
    Fn f;
};

GAOptimiser box_of(std::vector<std::pair<double, double>> box, unsigned int population, unsigned int generations) {
    GAOptimiser o;
    o.population_size = population;
    o.generations = generations;
    o.trials = 2;
    for (const auto& [lo, hi] : box)
        o.design_variable(Interval(lo, hi));
    return o;
}

TEST(Constrained, WithNoViolationItIsThePlainRunBitForBit) {
    GAOptimiser o = box_of({{-3, 3}, {0, 5}}, 20, 15);
    auto value = [](const std::vector<double>& x) { return std::sin(3 * x[0]) * x[1] - x[0] * x[0]; };
    struct Plain : GAOptimiser::Objective {
        std::function<double(const std::vector<double>&)> f;
        double operator()(const std::vector<double>& x) const override { return f(x); }
    } plain;
    plain.f = value;
    const Model model([&](const std::vector<double>& x) { return Evaluation{value(x), 0.0}; });
    for (bool maximise : {true, false}) {
        boost::mt19937 a(42), b(42);
        const std::vector<double> p = maximise ? o.maximise(plain, a) : o.minimise(plain, a);
        const std::vector<double> q = maximise ? o.maximise(model, b) : o.minimise(model, b);
        EXPECT_EQ(p, q);
        EXPECT_TRUE(a == b);
    }
}

TEST(Constrained, TheBestPointMeetsTheConstraints) {
    // Maximise x + y with x + y <= 1 and x = y: the optimum is (0.5, 0.5), away from the box's
    // corner (2, 2) that a search ignoring the constraints would find.
    GAOptimiser o = box_of({{0, 2}, {0, 2}}, 40, 60);
    const Model model([](const std::vector<double>& x) {
        double v = std::max(0.0, x[0] + x[1] - 1.0);
        const double gap = std::fabs(x[0] - x[1]);
        v += gap > 0.01 ? gap : 0.0;
        return Evaluation{x[0] + x[1], v};
    });
    boost::mt19937 engine(233);
    Evaluation found = {0, -1};
    const std::vector<double> best = o.maximise(model, engine, &found);
    EXPECT_EQ(found.violation, 0.0);
    EXPECT_EQ(found.value, best[0] + best[1]);
    EXPECT_LE(best[0] + best[1], 1.0);
    EXPECT_NEAR(best[0] + best[1], 1.0, 0.05);
    EXPECT_NEAR(best[0], best[1], 0.01);
    // Minimising -(x + y) is the same search.
    const Model negated([&](const std::vector<double>& x) {
        Evaluation e = model.evaluate(x);
        return Evaluation{-e.value, e.violation};
    });
    boost::mt19937 again(233);
    EXPECT_EQ(o.minimise(negated, again, &found), best);
    EXPECT_EQ(found.value, -(best[0] + best[1]));
}

TEST(Constrained, RefusesAViolationThatIsNoNumber) {
    GAOptimiser o = box_of({{0, 1}}, 4, 2);
    const Model model([](const std::vector<double>&) { return Evaluation{1.0, std::nan("")}; });
    boost::mt19937 engine(1);
    EXPECT_THROW(o.maximise(model, engine), std::exception);
}

} // namespace

namespace {

struct RepairRow {
    std::vector<double> before, after;
};

TEST(Coding, RepairPutsRealPointsOnTheCoding) {
    // x0 integer in [-2.5, 7.5], x1 continuous, x2..x4 a permutation.
    Coding coding;
    coding.kinds = {VariableKind::integer, VariableKind::continuous};
    coding.permutations = {{2, 3, 4}};
    const std::vector<Interval> box = {Interval(-2.5, 7.5), Interval(0, 1), Interval(0, 9), Interval(0, 9),
                                       Interval(0, 9)};
    const RepairRow rows[] = {
        {{3.4, 0.25, 0.5, 0.1, 0.9}, {3, 0.25, 2, 1, 3}},
        {{3.5, 0.5, 5, 5, 1}, {4, 0.5, 2, 3, 1}},
        {{-2.5, 1, 1, 2, 3}, {-2, 1, 1, 2, 3}},
        {{7.4, 0, 3, 2, 1}, {7, 0, 3, 2, 1}},
    };
    for (const RepairRow& r : rows) {
        std::vector<double> point = r.before;
        coding.repair(box, point);
        EXPECT_EQ(point, r.after);
    }
}

} // namespace

namespace {

struct PolishRow {
    unsigned int evaluations;
    bool feasible; // the best point meets the equality
    double value;  // within 1e-6 when feasible
};

TEST(Constrained, PolishLandsOnAnEquality) {
    // Maximise x + 2y + z with x + y + z = 1 (to 1e-9): the optimum is y = 1. Bit strings almost
    // never meet the equality; the compass search after the generations does.
    const Model model([](const std::vector<double>& x) {
        const double gap = std::fabs(x[0] + x[1] + x[2] - 1.0);
        return Evaluation{x[0] + 2 * x[1] + x[2], gap > 1e-9 ? gap : 0.0};
    });
    const PolishRow rows[] = {{0, false, 0}, {3000, true, 2}};
    for (const PolishRow& r : rows) {
        GAOptimiser o = box_of({{0, 1}, {0, 1}, {0, 1}}, 20, 30);
        o.polish_evaluations = r.evaluations;
        boost::mt19937 engine(3);
        Evaluation found;
        const std::vector<double> x = o.maximise(model, engine, &found);
        EXPECT_EQ(found.violation == 0.0, r.feasible) << r.evaluations;
        if (r.feasible) {
            EXPECT_NEAR(found.value, r.value, 1e-6);
            EXPECT_EQ(model.evaluate(x).value, found.value);
        }
    }
}

} // namespace
