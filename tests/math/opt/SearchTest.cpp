#include "math/opt/Search.hpp"
#include "usr/Exception.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

namespace {

using math::opt::BatchObjective;
using math::opt::Evaluation;
using math::opt::GAOptimiser;
using math::opt::Interval;
using math::opt::SearchSettings;
using math::opt::Strategy;
typedef std::function<double(const std::vector<double>&)> Fn;

const double pi = 3.14159265358979323846;

double sphere(const std::vector<double>& x) {
    double s = 0.0;
    for (double v : x)
        s += v * v;
    return s;
}
double rosenbrock(const std::vector<double>& x) {
    double s = 0.0;
    for (std::size_t i = 0; i + 1 < x.size(); ++i)
        s += 100.0 * (x[i + 1] - x[i] * x[i]) * (x[i + 1] - x[i] * x[i]) + (1.0 - x[i]) * (1.0 - x[i]);
    return s;
}
double rastrigin(const std::vector<double>& x) {
    double s = 10.0 * x.size();
    for (double v : x)
        s += v * v - 10.0 * std::cos(2.0 * pi * v);
    return s;
}
double ackley(const std::vector<double>& x) {
    double a = 0.0, b = 0.0;
    for (double v : x) {
        a += v * v;
        b += std::cos(2.0 * pi * v);
    }
    const double n = static_cast<double>(x.size());
    return -20.0 * std::exp(-0.2 * std::sqrt(a / n)) - std::exp(b / n) + 20.0 + std::exp(1.0);
}
double schwefel(const std::vector<double>& x) {
    double s = 418.9829 * x.size();
    for (double v : x)
        s -= v * std::sin(std::sqrt(std::fabs(v)));
    return s;
}

struct Model {
    const char* name;
    Fn f;
    double lower, upper;
    double minimiser; // the same in every coordinate
};
const Model models[] = {
    {"sphere", sphere, -5.0, 5.0, 0.0},
    {"rosenbrock", rosenbrock, -5.0, 10.0, 1.0},
    {"rastrigin", rastrigin, -5.12, 5.12, 0.0},
    {"ackley", ackley, -32.768, 32.768, 0.0},
    // Its minimiser to the digits published; the value there is what a run must come within.
    {"schwefel", schwefel, -500.0, 500.0, 420.968746},
};
const Model& model(const std::string& name) {
    for (const Model& m : models)
        if (name == m.name)
            return m;
    throw std::runtime_error("no model " + name);
}

// Counts evaluations, generations and keeps the first generation's points.
class Counted : public BatchObjective {
public:
    explicit Counted(Fn f_, bool minimise_ = true) : f(f_), sign(minimise_ ? -1.0 : 1.0) {}
    void evaluate_all(const std::vector<std::vector<double>>& points, std::vector<Evaluation>& results) const override {
        if (batches++ == 0)
            first = points;
        sizes.push_back(points.size());
        results.resize(points.size());
        for (std::size_t i = 0; i < points.size(); ++i)
            results[i] = Evaluation{sign * f(points[i]), 0.0};
        evaluations += points.size();
    }
    Fn f;
    double sign;
    mutable std::size_t batches = 0, evaluations = 0;
    mutable std::vector<std::size_t> sizes;
    mutable std::vector<std::vector<double>> first;
};

GAOptimiser box(const Model& m, unsigned int n, unsigned int population, unsigned int generations,
                unsigned int trials = 1) {
    GAOptimiser ga;
    ga.population_size = population;
    ga.generations = generations;
    ga.trials = trials;
    for (unsigned int j = 0; j < n; ++j)
        ga.design_variable(Interval(m.lower, m.upper));
    return ga;
}

SearchSettings with(Strategy s) {
    SearchSettings settings;
    settings.strategy = s;
    return settings;
}

TEST(Search, ReachesTheKnownOptimum) {
    struct Case {
        Strategy strategy;
        const char* model;
        unsigned int n, seed, population, generations;
        double within; // of the value at the known minimiser
    } cases[] = {
        {Strategy::shade, "rosenbrock", 10, 1, 50, 1000, 1e-6},
        {Strategy::shade, "rastrigin", 10, 2, 50, 1000, 1e-6},
        {Strategy::shade, "ackley", 10, 3, 50, 1000, 1e-6},
        {Strategy::shade, "schwefel", 10, 4, 50, 1000, 1e-6},
        {Strategy::shade, "sphere", 3, 5, 20, 300, 1e-12},
        {Strategy::differential, "sphere", 5, 6, 30, 600, 1e-12},
        {Strategy::differential, "rastrigin", 5, 7, 30, 1000, 1e-6},
        {Strategy::differential, "schwefel", 5, 8, 30, 1000, 1e-6},
        {Strategy::differential, "ackley", 5, 9, 30, 1000, 1e-6},
        {Strategy::real, "sphere", 5, 10, 40, 500, 1e-4},
        {Strategy::real, "rastrigin", 2, 11, 40, 500, 1e-3},
    };
    for (const Case& c : cases) {
        const Model& m = model(c.model);
        GAOptimiser ga = box(m, c.n, c.population, c.generations);
        Counted f(m.f);
        boost::mt19937 engine(c.seed);
        const std::vector<double> x = math::opt::search_maximise(ga, with(c.strategy), f, engine);
        const double optimum = m.f(std::vector<double>(c.n, m.minimiser));
        EXPECT_LE(m.f(x), optimum + c.within) << math::opt::strategy_name(c.strategy) << " on " << c.model;
        EXPECT_EQ(f.evaluations, std::size_t(c.population) * c.generations) << c.model;
    }
}

TEST(Search, SameSeedSameBitsAndTheEngineMovesOn) {
    struct Case {
        Strategy strategy;
        const char* model;
        unsigned int seed;
    } cases[] = {{Strategy::shade, "rastrigin", 1},
                 {Strategy::differential, "schwefel", 2},
                 {Strategy::real, "ackley", 3},
                 {Strategy::shade, "rosenbrock", 4}};
    for (const Case& c : cases) {
        const Model& m = model(c.model);
        GAOptimiser ga = box(m, 4, 20, 40);
        Counted f(m.f);
        boost::mt19937 a(c.seed), b(c.seed), other(c.seed + 100);
        const std::vector<double> xa = math::opt::search_maximise(ga, with(c.strategy), f, a);
        const std::vector<double> xb = math::opt::search_maximise(ga, with(c.strategy), f, b);
        const std::vector<double> xo = math::opt::search_maximise(ga, with(c.strategy), f, other);
        EXPECT_EQ(xa, xb) << c.model;
        EXPECT_TRUE(a == b) << "the engines end in the same state";
        EXPECT_FALSE(a == boost::mt19937(c.seed)) << "the caller's engine is advanced";
        EXPECT_NE(xa, xo) << "another seed, another run";
        // The run continues the engine: a second run from it differs from the first.
        const std::vector<double> again = math::opt::search_maximise(ga, with(c.strategy), f, a);
        EXPECT_NE(again, xa);
    }
}

TEST(Search, EachGenerationIsOneBatchOfThePopulation) {
    for (Strategy s : {Strategy::real, Strategy::differential, Strategy::shade}) {
        GAOptimiser ga = box(model("sphere"), 3, 12, 7, 3);
        Counted f(sphere);
        boost::mt19937 engine(9);
        math::opt::search_maximise(ga, with(s), f, engine);
        EXPECT_EQ(f.sizes, std::vector<std::size_t>(21, 12)) << math::opt::strategy_name(s);
        for (const std::vector<double>& p : f.first)
            for (double v : p) {
                EXPECT_GE(v, -5.0);
                EXPECT_LE(v, 5.0);
            }
    }
}

TEST(Search, StopsEarlyAtTheTargetOrWhenNothingImproves) {
    struct Case {
        Strategy strategy;
        unsigned int stop_after;
        bool has_target;
        double target; // maximised: -f
        std::size_t most_generations;
        std::size_t least_generations;
    } cases[] = {
        // A target met at once ends after the first generation.
        {Strategy::shade, 0, true, -1e9, 1, 1},
        {Strategy::real, 0, true, -1e9, 1, 1},
        {Strategy::classic, 0, true, -1e9, 1, 1},
        // The sphere's minimum is 0 and reached to within 1e-10 well before the budget.
        {Strategy::shade, 0, true, -1e-10, 399, 2},
        {Strategy::differential, 0, true, -1e-10, 399, 2},
        // A flat function never improves after its first generation.
        {Strategy::shade, 5, false, 0.0, 6, 6},
        {Strategy::classic, 5, false, 0.0, 6, 6},
        {Strategy::real, 1, false, 0.0, 2, 2},
        // Unreachable: the whole budget runs.
        {Strategy::differential, 0, true, 1.0, 400, 400},
    };
    for (const Case& c : cases) {
        const bool flat = c.stop_after > 0;
        Fn f = flat ? Fn([](const std::vector<double>&) { return 3.0; }) : Fn(sphere);
        GAOptimiser ga = box(model("sphere"), 2, 10, 200, 2);
        SearchSettings s = with(c.strategy);
        s.stop_after = c.stop_after;
        s.has_target = c.has_target;
        s.target = c.target;
        std::size_t generations = 0;
        boost::mt19937 engine(3);
        if (c.strategy == Strategy::classic) {
            struct Plain : GAOptimiser::Objective {
                Fn f;
                mutable std::size_t calls = 0;
                double operator()(const std::vector<double>& x) const override { return ++calls, -f(x); }
            } plain;
            plain.f = f;
            math::opt::search_maximise(ga, s, plain, engine);
            generations = plain.calls / 10;
        } else {
            Counted counted(f);
            math::opt::search_maximise(ga, s, counted, engine);
            generations = counted.batches;
        }
        EXPECT_LE(generations, c.most_generations) << math::opt::strategy_name(c.strategy) << " " << c.target;
        EXPECT_GE(generations, c.least_generations) << math::opt::strategy_name(c.strategy) << " " << c.target;
    }
}

TEST(Search, TheStartPointIsTheFirstCandidate) {
    const std::vector<double> start = {1.25, -7.0, 0.5}; // the second lies outside [-5, 5]
    for (Strategy s : {Strategy::real, Strategy::differential, Strategy::shade}) {
        GAOptimiser ga = box(model("sphere"), 3, 10, 2);
        SearchSettings settings = with(s);
        settings.start = start;
        Counted f(sphere);
        boost::mt19937 engine(1);
        math::opt::search_maximise(ga, settings, f, engine);
        EXPECT_EQ(f.first.at(0), (std::vector<double>{1.25, -5.0, 0.5})) << math::opt::strategy_name(s);
    }
    // The classic run codes it into its first chromosome: the grid value at or below it.
    struct Recorder : GAOptimiser::Objective {
        mutable std::vector<std::vector<double>> points;
        double operator()(const std::vector<double>& x) const override { return points.push_back(x), -sphere(x); }
    } recorder;
    GAOptimiser ga = box(model("sphere"), 3, 10, 2);
    SearchSettings settings = with(Strategy::classic);
    settings.start = start;
    boost::mt19937 engine(1);
    math::opt::search_maximise(ga, settings, recorder, engine);
    EXPECT_NEAR(recorder.points.at(0)[0], 1.25, 1e-8);
    EXPECT_EQ(recorder.points.at(0)[1], -5.0);
    EXPECT_TRUE(ga.start.empty()) << "the optimiser's own settings are left as they were";
}

TEST(Search, ClassicWithNothingSetIsTheGeneticAlgorithmBitForBit) {
    struct Plain : GAOptimiser::Objective {
        double operator()(const std::vector<double>& x) const override { return -rastrigin(x); }
    } f;
    GAOptimiser ga = box(model("rastrigin"), 3, 20, 30, 2);
    boost::mt19937 a(17), b(17);
    SearchSettings s = with(Strategy::classic);
    s.stop_after = 100000; // never reached, but goes through the watching observer
    EXPECT_EQ(math::opt::search_maximise(ga, s, f, a), ga.maximise(f, b));
    EXPECT_TRUE(a == b);
}

TEST(Search, BetterWithinTheConstraintsWins) {
    // x + y with x + y <= 1 and x - y >= -4: points beyond report their excess as violation.
    class Constrained : public math::opt::ConstrainedObjective {
    public:
        Evaluation evaluate(const std::vector<double>& x) const override {
            const double sum = x[0] + x[1], gap = x[0] - x[1];
            return Evaluation{sum, (sum > 1.0 ? sum - 1.0 : 0.0) + (gap < -4.0 ? -4.0 - gap : 0.0)};
        }
    } f;
    struct Case {
        Strategy strategy;
        bool minimise;
        double least, most; // of x + y found
    } cases[] = {
        {Strategy::real, false, 0.999, 1.0},
        {Strategy::differential, false, 0.999, 1.0},
        {Strategy::shade, false, 0.999, 1.0},
        {Strategy::shade, true, -10.0, -9.999},
    };
    for (const Case& c : cases) {
        GAOptimiser ga = box(model("sphere"), 2, 20, 300);
        boost::mt19937 engine(5);
        const math::opt::SerialConstrainedObjective batch(f, c.minimise);
        const std::vector<double> x = math::opt::search_maximise(ga, with(c.strategy), batch, engine);
        EXPECT_EQ(f.evaluate(x).violation, 0.0) << math::opt::strategy_name(c.strategy);
        EXPECT_GE(x[0] + x[1], c.least) << math::opt::strategy_name(c.strategy) << c.minimise;
        EXPECT_LE(x[0] + x[1], c.most) << math::opt::strategy_name(c.strategy) << c.minimise;
    }
}

// The classic run of a constrained model with early stops and a start point. The model: x + y
// with x + y <= 1 and x - y >= -4 in [-5, 5]^2, or a flat one (3 everywhere, within).
TEST(Search, ClassicConstrainedRunStopsEarlyAndStartsWhereAsked) {
    class Recorded : public math::opt::ConstrainedObjective {
    public:
        explicit Recorded(bool flat_) : flat(flat_) {}
        Evaluation evaluate(const std::vector<double>& x) const override {
            points.push_back(x);
            if (flat)
                return Evaluation{3.0, 0.0};
            const double sum = x[0] + x[1], gap = x[0] - x[1];
            return Evaluation{sum, (sum > 1.0 ? sum - 1.0 : 0.0) + (gap < -4.0 ? -4.0 - gap : 0.0)};
        }
        bool flat;
        mutable std::vector<std::vector<double>> points;
    };
    const std::size_t population = 10, generations = 100, polish = 200, budget = population * generations;
    struct Case {
        const char* what;
        bool flat;
        unsigned int stop_after;
        bool has_target;
        double target;
        std::vector<double> start;
        std::size_t least, most; // evaluations
        double reached;          // the best value at least this, within the constraints
    } cases[] = {
        {"target within the constraints", false, 0, true, 0.5, {}, population, budget / 2, 0.5},
        // x + y = 10 lies far outside; the points that reach it do not count.
        {"target only outside", false, 0, true, 5.0, {}, budget + 1, budget + polish, 0.99},
        {"a feasible start meets the target", false, 0, true, 0.9, {0.5, 0.45}, population, population, 0.9},
        {"flat: nothing improves after the first generation",
         true,
         3,
         false,
         0.0,
         {},
         4 * population,
         4 * population,
         3.0},
        {"never stale enough", false, 100000, false, 0.0, {}, budget + 1, budget + polish, 0.99},
        {"start outside the box", false, 0, false, 0.0, {9.0, -0.25}, budget + 1, budget + polish, 0.99},
    };
    for (const Case& c : cases) {
        GAOptimiser ga = box(model("sphere"), 2, population, generations);
        ga.polish_evaluations = polish;
        SearchSettings s = with(Strategy::classic);
        s.stop_after = c.stop_after;
        s.has_target = c.has_target;
        s.target = c.target;
        s.start = c.start;
        Recorded f(c.flat);
        Evaluation best = {0.0, 0.0};
        boost::mt19937 engine(8);
        const std::vector<double> x = math::opt::search_maximise(ga, s, f, engine, &best);
        EXPECT_GE(f.points.size(), c.least) << c.what;
        EXPECT_LE(f.points.size(), c.most) << c.what;
        EXPECT_EQ(best.violation, 0.0) << c.what;
        EXPECT_GE(best.value, c.reached) << c.what;
        EXPECT_EQ(f.evaluate(x).value, best.value) << c.what;
        if (!c.start.empty()) {
            // Coded into the first chromosome: the grid value at or below it, inside the box.
            EXPECT_NEAR(f.points.at(0)[0], std::min(c.start[0], 5.0), 1e-8) << c.what;
            EXPECT_NEAR(f.points.at(0)[1], c.start[1], 1e-8) << c.what;
        }
        EXPECT_TRUE(ga.start.empty() && ga.observer == nullptr) << "the optimiser's own settings are left as they were";
    }
}

TEST(Search, ClassicConstrainedRunWithNothingSetIsTheGeneticAlgorithmBitForBit) {
    class Constrained : public math::opt::ConstrainedObjective {
    public:
        Evaluation evaluate(const std::vector<double>& x) const override {
            return Evaluation{-rastrigin(x), std::max(0.0, x[0] + x[1] + x[2] - 1.0)};
        }
    } f;
    for (unsigned int stop_after : {0u, 100000u}) {
        GAOptimiser ga = box(model("rastrigin"), 3, 20, 30, 2);
        ga.polish_evaluations = 300;
        boost::mt19937 a(17), b(17);
        SearchSettings s = with(Strategy::classic);
        s.stop_after = stop_after; // never reached, but goes through the watching observer
        Evaluation ea = {0.0, 0.0}, eb = {1.0, 1.0};
        EXPECT_EQ(math::opt::search_maximise(ga, s, f, a, &ea), ga.maximise(f, b, &eb)) << stop_after;
        EXPECT_TRUE(a == b);
        EXPECT_EQ(ea.value, eb.value);
        EXPECT_EQ(ea.violation, eb.violation);
    }
    GAOptimiser ga = box(model("rastrigin"), 3, 20, 30, 2);
    boost::mt19937 engine(1);
    EXPECT_THROW(math::opt::search_maximise(ga, with(Strategy::shade), f, engine), usr::Exception);
}

// The start point of a classic run with whole numbers and a permutation group: repaired as the
// other strategies repair each candidate, then coded into the first chromosome.
TEST(Search, ClassicStartPointIsRepairedToTheCoding) {
    class Recorded : public math::opt::ConstrainedObjective {
    public:
        Evaluation evaluate(const std::vector<double>& x) const override {
            points.push_back(x);
            return Evaluation{x[0], 0.0};
        }
        mutable std::vector<std::vector<double>> points;
    };
    struct Case {
        std::vector<double> start, first; // variable 0 whole in [-3, 7], 1-3 a permutation, 4 in [0, 1]
    } cases[] = {
        {{2.6, 3.0, 1.0, 2.0, 0.25}, {3.0, 3.0, 1.0, 2.0, 0.25}},
        {{-2.5, 2.0, 2.0, 1.0, 1.0}, {-2.0, 2.0, 3.0, 1.0, 1.0}}, // -2.5 to -2 as rounding does; ties by position
        {{40.0, 0.0, 0.0, 0.0, -3.0}, {7.0, 1.0, 2.0, 3.0, 0.0}},
    };
    for (const Case& c : cases) {
        GAOptimiser ga;
        ga.population_size = 4;
        ga.generations = 2;
        ga.trials = 1;
        ga.design_variable(Interval(-3.0, 7.0));
        for (int j = 0; j < 3; ++j)
            ga.design_variable(Interval(1.0, 3.0));
        ga.design_variable(Interval(0.0, 1.0));
        ga.coding.kinds = {math::opt::VariableKind::integer, math::opt::VariableKind::continuous,
                           math::opt::VariableKind::continuous, math::opt::VariableKind::continuous,
                           math::opt::VariableKind::continuous};
        ga.coding.permutations = {{1, 2, 3}};
        SearchSettings s = with(Strategy::classic);
        s.start = c.start;
        Recorded f;
        boost::mt19937 engine(4);
        math::opt::search_maximise(ga, s, f, engine);
        ASSERT_FALSE(f.points.empty());
        for (std::size_t j = 0; j < c.first.size(); ++j)
            EXPECT_NEAR(f.points[0][j], c.first[j], 1e-8) << c.start[0] << " variable " << j;
    }
}

TEST(Search, WholeNumbersAndPermutationsAsCoded) {
    // Variables 0-1 whole numbers in [-3, 7], 2-6 a permutation group, 7 continuous in [0, 1].
    // Maximised: -(x0 - 2.6)^2 - (x1 + 1.4)^2 + sum (k + 1) x_(2+k) - (x7 - 0.25)^2, whose best
    // is (3, -1, 1, 2, 3, 4, 5, 0.25) with value 54.84.
    Fn f = [](const std::vector<double>& x) {
        double s = -(x[0] - 2.6) * (x[0] - 2.6) - (x[1] + 1.4) * (x[1] + 1.4) - (x[7] - 0.25) * (x[7] - 0.25);
        for (int k = 0; k < 5; ++k)
            s += (k + 1) * x[2 + k];
        return s;
    };
    struct Case {
        Strategy strategy;
        unsigned int seed, population, generations;
    } cases[] = {
        {Strategy::real, 1, 40, 200},
        {Strategy::differential, 2, 40, 200},
        {Strategy::shade, 3, 40, 200},
        {Strategy::shade, 4, 10, 400},
    };
    for (const Case& c : cases) {
        GAOptimiser ga;
        ga.population_size = c.population;
        ga.generations = c.generations;
        ga.trials = 1;
        for (int j = 0; j < 2; ++j)
            ga.design_variable(Interval(-3.0, 7.0));
        for (int j = 0; j < 5; ++j)
            ga.design_variable(Interval(1.0, 5.0));
        ga.design_variable(Interval(0.0, 1.0));
        ga.coding.kinds.assign(8, math::opt::VariableKind::continuous);
        ga.coding.kinds[0] = ga.coding.kinds[1] = math::opt::VariableKind::integer;
        ga.coding.permutations.push_back({2, 3, 4, 5, 6});
        std::vector<std::vector<double>> seen;
        Counted counted(
            [&](const std::vector<double>& x) {
                seen.push_back(x);
                return f(x);
            },
            false);
        boost::mt19937 engine(c.seed);
        const std::vector<double> x = math::opt::search_maximise(ga, with(c.strategy), counted, engine);
        const char* name = math::opt::strategy_name(c.strategy);
        EXPECT_EQ(seen.size(), std::size_t(c.population) * c.generations) << name;
        seen.push_back(x);
        for (const std::vector<double>& p : seen) {
            for (int j = 0; j < 2; ++j)
                ASSERT_TRUE(p[j] == std::floor(p[j]) && p[j] >= -3.0 && p[j] <= 7.0) << name << " " << p[j];
            std::vector<double> group(p.begin() + 2, p.begin() + 7);
            std::sort(group.begin(), group.end());
            ASSERT_EQ(group, (std::vector<double>{1, 2, 3, 4, 5})) << name;
        }
        EXPECT_EQ(x[0], 3.0) << name;
        EXPECT_EQ(x[1], -1.0) << name;
        EXPECT_EQ(std::vector<double>(x.begin() + 2, x.begin() + 7), (std::vector<double>{1, 2, 3, 4, 5})) << name;
        EXPECT_NEAR(x[7], 0.25, 1e-3) << name;
    }
}

TEST(Search, WholeNumbersAreDrawnEvenly) {
    // The first population's whole numbers of [0, 2]: rounding uniform values would give 0
    // and 2 a quarter each and 1 a half.
    for (Strategy s : {Strategy::real, Strategy::differential, Strategy::shade}) {
        GAOptimiser ga;
        ga.population_size = 3000;
        ga.generations = 1;
        ga.trials = 1;
        ga.design_variable(Interval(0.0, 2.0));
        ga.coding.kinds.assign(1, math::opt::VariableKind::integer);
        Counted counted([](const std::vector<double>& x) { return x[0]; }, false);
        boost::mt19937 engine(9);
        math::opt::search_maximise(ga, with(s), counted, engine);
        int count[3] = {0, 0, 0};
        for (const std::vector<double>& p : counted.first)
            ++count[static_cast<int>(p[0])];
        for (int k = 0; k < 3; ++k) {
            EXPECT_GT(count[k], 900) << math::opt::strategy_name(s) << " " << k;
            EXPECT_LT(count[k], 1100) << math::opt::strategy_name(s) << " " << k;
        }
    }
}

TEST(Search, BoxesNearTheLargestDoublesStayFinite) {
    // Steps between far-apart points overflow; every candidate must still lie in the box.
    for (Strategy s : {Strategy::real, Strategy::differential, Strategy::shade}) {
        GAOptimiser ga;
        ga.population_size = 10;
        ga.generations = 30;
        ga.trials = 1;
        ga.design_variable(Interval(-8e307, 8e307));
        ga.design_variable(Interval(0.0, 1.7e308));
        Counted f([](const std::vector<double>& x) { return x[0] * 1e-300 + x[1] * 1e-300; });
        boost::mt19937 engine(2);
        const std::vector<double> x = math::opt::search_maximise(ga, with(s), f, engine);
        EXPECT_TRUE(x[0] >= -8e307 && x[0] <= 8e307 && x[1] >= 0.0 && x[1] <= 1.7e308)
            << math::opt::strategy_name(s) << " " << x[0] << " " << x[1];
    }
}

TEST(Search, RefusesWhatCannotRun) {
    struct Case {
        Strategy strategy;
        unsigned int population, variables;
        std::vector<double> start;
        const char* message;
    } cases[] = {
        {Strategy::differential, 3, 2, {}, "population of at least 4"},
        {Strategy::shade, 2, 2, {}, "population of at least 4"},
        {Strategy::real, 1, 2, {}, "population of at least 2"},
        {Strategy::shade, 10, 0, {}, "no design variables"},
        {Strategy::shade, 10, 2, {1.0}, "start point has 1 values for 2"},
        {Strategy::classic, 10, 2, {1.0, 2.0, 3.0}, "start point has 3 values for 2"},
        {Strategy::real, 10, 2, {1.0, std::nan("")}, "value 2 is not a finite number"},
    };
    for (const Case& c : cases) {
        GAOptimiser ga = box(model("sphere"), c.variables, c.population, 5);
        SearchSettings s = with(c.strategy);
        s.start = c.start;
        struct Plain : GAOptimiser::Objective {
            double operator()(const std::vector<double>& x) const override { return sphere(x); }
        } f;
        boost::mt19937 engine(1);
        try {
            math::opt::search_maximise(ga, s, f, engine);
            ADD_FAILURE() << "accepted: " << c.message;
        } catch (const usr::Exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
        EXPECT_TRUE(engine == boost::mt19937(1));
    }
    // A value that is not finite ends the run with the point that gave it.
    GAOptimiser ga = box(model("sphere"), 2, 10, 5);
    Counted f([](const std::vector<double>& x) { return x[0] > 0.0 ? std::nan("") : 1.0; });
    boost::mt19937 engine(1);
    EXPECT_THROW(math::opt::search_maximise(ga, with(Strategy::shade), f, engine), usr::Exception);
}

TEST(Search, StrategyNames) {
    for (Strategy s : math::opt::all_strategies()) {
        Strategy back = Strategy::classic;
        EXPECT_TRUE(math::opt::strategy_from_name(math::opt::strategy_name(s), back));
        EXPECT_EQ(back, s);
    }
    Strategy s = Strategy::classic;
    EXPECT_TRUE(math::opt::strategy_from_name("SHADE", s));
    EXPECT_EQ(s, Strategy::shade);
    EXPECT_FALSE(math::opt::strategy_from_name("cma-es", s));
    EXPECT_FALSE(math::opt::strategy_from_name("", s));
}

} // namespace
