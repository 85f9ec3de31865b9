#ifndef OMBRIX_MATH_OPT_STRATEGIES_HPP
#define OMBRIX_MATH_OPT_STRATEGIES_HPP

// The new strategies' runs. Each compares candidates only through better() and evaluates a
// generation in one call (SearchRun::evaluate_repaired, the one place where a strategy's raw
// vector becomes the point evaluated: clamped into the box, whole numbers rounded, permutations
// ranked).

#include "math/opt/SearchRun.hpp"

#include <vector>

namespace math {
namespace opt {

// When a differential evolution starts again from random points: once its population has
// converged (values within converged_spread of each other, relative to the best), or when the
// population's best has not improved for stall generations (values too noisy to converge).
class RestartRule {
public:
    explicit RestartRule(unsigned int variables) : stall_(variables * 10 < 100 ? 100 : variables * 10) {}
    // After each generation of a population: whether the next one starts afresh.
    bool due(const std::vector<Evaluation>& population);

    static const double converged_spread;

private:
    unsigned int stall_;
    unsigned int stale_ = 0;
    bool have_best_ = false;
    Evaluation best_ = {0.0, 0.0};
};

// Self-adaptive differential evolution (Brest et al.'s jDE): rand/1 mutation, binomial
// crossover, each individual carrying its own F and CR. When the population has converged
// it starts again from random points (RestartRule), the best found so far kept by the run.
class DifferentialEvolution {
public:
    explicit DifferentialEvolution(SearchRun& run) : run_(run) {}
    void run();

private:
    SearchRun& run_;
};

// Success-history based adaptive differential evolution (Tanabe and Fukunaga's SHADE):
// current-to-pbest/1 mutation with an archive of replaced parents, binomial crossover, F and
// CR drawn around means learnt from the trials that succeeded. Restarts by RestartRule.
class ShadeDE {
public:
    explicit ShadeDE(SearchRun& run) : run_(run) {}
    void run();

private:
    // About normal around mean with deviation 0.1 (twelve draws), and Cauchy around mean with
    // scale 0.1 (a point drawn in the unit disc: its slope is Cauchy).
    double normal(double mean);
    double cauchy(double mean);

    SearchRun& run_;
};

// A real-coded genetic algorithm: binary tournaments, simulated binary crossover of pairs,
// polynomial mutation, and the best of parents and children together kept as the next
// population, so the best point is never lost.
class RealCodedGA {
public:
    explicit RealCodedGA(SearchRun& run) : run_(run) {}
    void run();

private:
    unsigned int tournament(const std::vector<Evaluation>& e);
    void crossover(std::vector<double>& a, std::vector<double>& b);
    void mutate(std::vector<double>& x);

    SearchRun& run_;
};

inline void run_differential_evolution(SearchRun& run) { DifferentialEvolution(run).run(); }
inline void run_shade(SearchRun& run) { ShadeDE(run).run(); }
inline void run_real_coded(SearchRun& run) { RealCodedGA(run).run(); }

} // namespace opt
} // namespace math

#endif
