// What the optimiser costs, next to the random numbers it cannot do without.
//
//   BM_BareDraws                  the uniform draws of one generation and nothing else
//   BM_OneGeneration              one real generation: population 50, 10 variables,
//                                 trivial objective (evaluate, select, cross, mutate)
//   BM_DefaultRun_Rastrigin10     a whole default run (population 50, 100 generations,
//                                 2 trials) minimising Rastrigin's function in 10 variables
//
// Both per-generation benchmarks report draws/s: the closer BM_OneGeneration's rate comes to
// BM_BareDraws', the less the algorithm adds on top of its random numbers (the goal is a time
// within 1.5 times the bare draws). The whole run reports the best value it found
// (best_value; the optimum is 0) and its objective evaluations.

#include "math/opt/GAOptimiser.hpp"

#include <benchmark/benchmark.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

using math::opt::GAOptimiser;
using math::opt::Interval;

const unsigned int population = 50;
const unsigned int variables = 10;

class SumObjective : public GAOptimiser::Objective {
public:
    double operator()(const std::vector<double>& x) const override {
        double s = 0.0;
        for (double v : x)
            s += v;
        return s;
    }
};

class Rastrigin : public GAOptimiser::Objective {
public:
    double operator()(const std::vector<double>& x) const override {
        double s = 10.0 * static_cast<double>(x.size());
        for (double v : x)
            s += v * v - 10.0 * std::cos(2.0 * 3.14159265358979323846 * v);
        return s;
    }
};

GAOptimiser box_of(unsigned int n, double lower, double upper) {
    GAOptimiser o;
    for (unsigned int j = 0; j < n; ++j)
        o.design_variable(Interval(lower, upper));
    return o;
}

// Engine outputs one generation consumes, counted on the engine rather than assumed.
long draws_per_generation() {
    const GAOptimiser o = box_of(variables, -1.0, 1.0);
    GAOptimiser::UniformSource source(boost::mt19937(1));
    GAOptimiser::Population pop(population, variables);
    pop.randomise(source);
    GAOptimiser::FitnessTable fitness(population);
    std::vector<unsigned int> selected(population);
    GAOptimiser::Chromosome best(variables);
    double best_value = -std::numeric_limits<double>::max();
    boost::mt19937 counter = source.base();
    o.generation(pop, SumObjective(), fitness, selected, 0, source, best, best_value);
    long n = 0;
    for (; !(counter == source.base()) && n < 1000000; ++n)
        counter();
    return n;
}

void BM_BareDraws(benchmark::State& state) {
    const long draws = draws_per_generation();
    boost::uniform_01<boost::mt19937, double> source(boost::mt19937(233));
    for (auto _ : state) {
        for (long i = 0; i < draws; ++i) {
            double r = source();
            benchmark::DoNotOptimize(r); // keeps each draw without a chain of additions
        }
    }
    state.counters["draws"] =
        benchmark::Counter(static_cast<double>(draws), benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel(std::to_string(draws) + " uniform_01<mt19937> draws per iteration");
}
BENCHMARK(BM_BareDraws);

void BM_OneGeneration(benchmark::State& state) {
    const long draws = draws_per_generation();
    const GAOptimiser o = box_of(variables, -1.0, 1.0);
    const SumObjective f;
    GAOptimiser::UniformSource source(boost::mt19937(233));
    GAOptimiser::Population pop(population, variables);
    pop.randomise(source);
    GAOptimiser::FitnessTable fitness(population);
    std::vector<unsigned int> selected(population);
    GAOptimiser::Chromosome best(variables);
    double best_value = -std::numeric_limits<double>::max();
    int g = 0;
    for (auto _ : state)
        o.generation(pop, f, fitness, selected, g++, source, best, best_value);
    benchmark::DoNotOptimize(best_value);
    state.counters["draws"] =
        benchmark::Counter(static_cast<double>(draws), benchmark::Counter::kIsIterationInvariantRate);
    state.SetLabel("population 50, 10 variables, objective = sum");
}
BENCHMARK(BM_OneGeneration);

void BM_DefaultRun_Rastrigin10(benchmark::State& state) {
    GAOptimiser o = box_of(variables, -5.12, 5.12);
    o.trials = 2; // the solver's default
    const Rastrigin f;
    std::vector<double> best;
    for (auto _ : state) {
        boost::mt19937 engine(233); // the solver's default seed: every iteration is the same run
        best = o.minimise(f, engine);
    }
    state.counters["best_value"] = f(best);
    state.counters["evaluations"] = static_cast<double>(o.population_size) * o.generations * o.trials;
    state.SetLabel("seed 233; minimum 0 at the origin");
}
BENCHMARK(BM_DefaultRun_Rastrigin10)->Unit(benchmark::kMillisecond);

} // namespace
