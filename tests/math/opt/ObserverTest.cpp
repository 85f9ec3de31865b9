#include "math/opt/GAOptimiser.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

using math::opt::GAOptimiser;

class Recorder : public GAOptimiser::Objective {
public:
    double operator()(const std::vector<double>& x) const override {
        points.push_back(x);
        values.push_back(std::sin(3.0 * x[0]) + std::cos(x[1] * x[2]) - 0.1 * x[2] * x[2]);
        return values.back();
    }
    mutable std::vector<std::vector<double> > points;
    mutable std::vector<double> values;
};

// Keeps what it is shown; stops the run once `stop` generations are done.
class Watcher : public GAOptimiser::RunObserver {
public:
    explicit Watcher(unsigned long long stop_ = ~0ull) : stop(stop_) {}
    bool proceed(const GAOptimiser::Progress& p) override {
        seen.push_back(p);
        return p.done < stop;
    }
    unsigned long long stop;
    std::vector<GAOptimiser::Progress> seen;
};

std::vector<double> run(Watcher* watcher, Recorder& f, boost::mt19937& engine) {
    GAOptimiser o;
    o.population_size = 10;
    o.generations = 7;
    o.trials = 3;
    for (int j = 0; j < 3; ++j)
        o.design_variable(math::opt::Interval(-3.0, 2.0));
    o.observer = watcher;
    return o.maximise(f, engine);
}

TEST(Observer, SeesEveryGenerationAndLeavesTheRunUnchanged) {
    Watcher watcher;
    boost::mt19937 e1(99), e2(99);
    Recorder f1, f2;
    EXPECT_EQ(run(nullptr, f1, e1), run(&watcher, f2, e2));
    EXPECT_EQ(f1.values, f2.values);
    EXPECT_EQ(e1(), e2()) << "the same engine state after the run";
    ASSERT_EQ(watcher.seen.size(), 21u) << "asked before each of 3 x 7 generations";
    double best = -std::numeric_limits<double>::max();
    for (std::size_t k = 0; k < watcher.seen.size(); ++k) {
        const GAOptimiser::Progress& p = watcher.seen[k];
        EXPECT_EQ(std::vector<unsigned long long>({k / 7, k % 7, 3, 7, k}),
                  std::vector<unsigned long long>({p.trial, p.generation, p.trials, p.generations, p.done}));
        EXPECT_TRUE(k == 0 || p.best_value == best) << "the best of the generations before " << k;
        best = std::max(best, *std::max_element(f2.values.begin() + k * 10, f2.values.begin() + k * 10 + 10));
    }
}

TEST(Observer, AStoppedRunReturnsTheBestSoFarAndEvaluatesNoMore) {
    for (unsigned long long stop : {0ull, 1ull, 9ull, 20ull}) {
        Watcher watcher(stop);
        boost::mt19937 engine(5);
        Recorder f;
        const std::vector<double> result = run(&watcher, f, engine);
        ASSERT_EQ(f.values.size(), stop * 10) << stop;
        const std::size_t top = std::max_element(f.values.begin(), f.values.end()) - f.values.begin();
        EXPECT_EQ(result, stop ? f.points[top] : std::vector<double>(3, -3.0)) << "lower bounds if none";
    }
}

} // namespace
