#include "math/opt/Strategies.hpp"

#include <algorithm>
#include <cmath>

namespace math {
namespace opt {

// Converged values differ by rounding alone; a hair above that lets a population that sits in
// one basin finish polishing its point before it starts again.
const double RestartRule::converged_spread = 1e-14;

bool RestartRule::due(const std::vector<Evaluation>& e) {
    std::size_t best = 0, worst = 0;
    for (std::size_t i = 1; i < e.size(); ++i) {
        if (better(e[i], e[best]))
            best = i;
        if (better(e[worst], e[i]))
            worst = i;
    }
    const Evaluation& b = e[best];
    const Evaluation& w = e[worst];
    if (!have_best_ || better(b, best_)) {
        have_best_ = true;
        best_ = b;
        stale_ = 0;
    } else if (++stale_ >= stall_) {
        have_best_ = false;
        stale_ = 0;
        return true;
    }
    bool converged;
    if (b.violation > 0.0 || w.violation > 0.0)
        converged = b.violation > 0.0 && w.violation - b.violation <= converged_spread * (1.0 + b.violation);
    else
        converged = b.value - w.value <= converged_spread * (1.0 + std::fabs(b.value));
    if (converged) {
        have_best_ = false;
        stale_ = 0;
    }
    return converged;
}

namespace {

// Brest et al.'s settings: each individual's F and CR are redrawn with probability 0.1, F in
// [0.1, 1), CR in [0, 1).
const double redraw = 0.1;
const double least_f = 0.1;
const double f_range = 0.9;
const double first_f = 0.5;
const double first_cr = 0.9;

} // namespace

void DifferentialEvolution::run() {
    const unsigned int np = run_.population();
    const unsigned int n = run_.variables();
    std::vector<std::vector<double>> x(np), trial(np, std::vector<double>(n));
    std::vector<double> f(np), cr(np), trial_f(np), trial_cr(np);
    std::vector<Evaluation> ex(np), et(np);
    RestartRule restart(n);
    bool fresh = true;
    bool first = true;
    while (run_.next_generation()) {
        if (fresh) {
            // A new population: the whole box again, with only the best kept by the run.
            run_.random_population(x, first);
            first = false;
            std::fill(f.begin(), f.end(), first_f);
            std::fill(cr.begin(), cr.end(), first_cr);
            run_.evaluate_repaired(x, ex);
            fresh = false;
            continue;
        }
        for (unsigned int i = 0; i < np; ++i) {
            trial_f[i] = run_.draw() < redraw ? least_f + f_range * run_.draw() : f[i];
            trial_cr[i] = run_.draw() < redraw ? run_.draw() : cr[i];
            unsigned int r1, r2, r3;
            do
                r1 = run_.index(np);
            while (r1 == i);
            do
                r2 = run_.index(np);
            while (r2 == i || r2 == r1);
            do
                r3 = run_.index(np);
            while (r3 == i || r3 == r1 || r3 == r2);
            const unsigned int forced = run_.index(n);
            std::vector<double>& u = trial[i];
            for (unsigned int j = 0; j < n; ++j) {
                if (j != forced && !(run_.draw() < trial_cr[i])) {
                    u[j] = x[i][j];
                    continue;
                }
                u[j] = run_.bounce(j, x[r1][j] + trial_f[i] * (x[r2][j] - x[r3][j]), x[i][j]);
            }
        }
        run_.evaluate_repaired(trial, et);
        for (unsigned int i = 0; i < np; ++i)
            if (!better(ex[i], et[i])) {
                x[i].swap(trial[i]);
                ex[i] = et[i];
                f[i] = trial_f[i];
                cr[i] = trial_cr[i];
            }
        fresh = restart.due(ex);
    }
}

} // namespace opt
} // namespace math
