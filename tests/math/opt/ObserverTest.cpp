#include "math/opt/GAOptimiser.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using math::opt::GAOptimiser;

// Records every value the run sees.
class Recorder : public GAOptimiser::Objective {
public:
    double operator()(const std::vector<double>& x) const override {
        double s = 0.0;
        for (std::size_t j = 0; j < x.size(); ++j)
            s += std::sin(3.0 * x[j] + j) - 0.1 * x[j] * x[j];
        points.push_back(x);
        values.push_back(s);
        return s;
    }
    mutable std::vector<std::vector<double> > points;
    mutable std::vector<double> values;
};

// Keeps every progress it is shown; stops the run once `stop_after` generations are done.
class Watcher : public GAOptimiser::RunObserver {
public:
    explicit Watcher(unsigned long long stop_after_ = ~0ull) : stop_after(stop_after_) {}
    bool proceed(const GAOptimiser::Progress& p) override {
        seen.push_back(p);
        return p.done < stop_after;
    }
    unsigned long long stop_after;
    std::vector<GAOptimiser::Progress> seen;
};

GAOptimiser make() {
    GAOptimiser o;
    o.population_size = 10;
    o.generations = 7;
    o.trials = 3;
    for (int j = 0; j < 3; ++j)
        o.design_variable(math::opt::Interval(-3.0, 2.0));
    return o;
}

TEST(Observer, SeesEveryGenerationAndLeavesTheRunUnchanged) {
    GAOptimiser plain = make(), watched = make();
    Watcher watcher;
    watched.observer = &watcher;
    boost::mt19937 e1(99), e2(99);
    Recorder f1, f2;
    EXPECT_EQ(plain.maximise(f1, e1), watched.maximise(f2, e2));
    EXPECT_EQ(f1.values, f2.values);
    EXPECT_EQ(e1(), e2()) << "the same engine state after the run";

    ASSERT_EQ(watcher.seen.size(), 21u) << "asked before each of 3 x 7 generations";
    double best = -std::numeric_limits<double>::max();
    for (std::size_t k = 0; k < watcher.seen.size(); ++k) {
        const GAOptimiser::Progress& p = watcher.seen[k];
        EXPECT_EQ(p.trial, k / 7);
        EXPECT_EQ(p.generation, k % 7);
        EXPECT_EQ(p.trials * 100 + p.generations, 307u);
        EXPECT_EQ(p.done, k);
        if (k > 0) {
            EXPECT_EQ(p.best_value, best) << "the best of the generations before " << k;
        }
        for (std::size_t i = k * 10; i < (k + 1) * 10; ++i)
            best = std::max(best, f2.values[i]);
    }
}

TEST(Observer, AStoppedRunReturnsTheBestSoFarAndEvaluatesNoMore) {
    for (unsigned long long stop : {0ull, 1ull, 9ull, 20ull}) {
        GAOptimiser o = make();
        Watcher watcher(stop);
        o.observer = &watcher;
        boost::mt19937 engine(5);
        Recorder f;
        const std::vector<double> result = o.maximise(f, engine);
        ASSERT_EQ(f.values.size(), stop * 10) << stop;
        EXPECT_EQ(watcher.seen.back().done, stop);
        if (stop == 0) {
            EXPECT_EQ(result, std::vector<double>(3, -3.0)) << "nothing evaluated: the lower bounds";
            continue;
        }
        std::size_t top = 0;
        for (std::size_t i = 1; i < f.values.size(); ++i)
            if (f.values[i] > f.values[top])
                top = i;
        EXPECT_EQ(result, f.points[top]) << stop;
    }
}

} // namespace
