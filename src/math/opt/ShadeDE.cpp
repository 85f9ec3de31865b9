#include "math/opt/Strategies.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace math {
namespace opt {

namespace {

const double first_mean = 0.5;
const double most_p = 0.2;

} // namespace

double ShadeDE::normal(double mean) {
    double sum = 0.0;
    for (int k = 0; k < 12; ++k)
        sum += run_.draw();
    return mean + 0.1 * (sum - 6.0);
}

double ShadeDE::cauchy(double mean) {
    for (;;) {
        const double u = 2.0 * run_.draw() - 1.0;
        const double v = 2.0 * run_.draw() - 1.0;
        if (v != 0.0 && u * u + v * v <= 1.0)
            return mean + 0.1 * (u / v);
    }
}

void ShadeDE::run() {
    const unsigned int np = run_.population();
    const unsigned int n = run_.variables();
    // Six memory cells, as in L-SHADE: the means follow the latest successes closely, which
    // speeds the early search several times over a memory as large as the population.
    const unsigned int h = 6;
    std::vector<std::vector<double>> x(np), trial(np, std::vector<double>(n)), archive;
    std::vector<Evaluation> ex(np), et(np);
    std::vector<double> mean_cr(h), mean_f(h), cr(np), f(np);
    std::vector<double> good_cr, good_f, weight;
    std::vector<unsigned int> rank(np);
    unsigned int next_cell = 0;
    RestartRule restart(n);
    bool fresh = true;
    bool first = true;
    while (run_.next_generation()) {
        if (fresh) {
            run_.random_population(x, first);
            first = false;
            std::fill(mean_cr.begin(), mean_cr.end(), first_mean);
            std::fill(mean_f.begin(), mean_f.end(), first_mean);
            archive.clear();
            next_cell = 0;
            run_.evaluate_repaired(x, ex);
            fresh = false;
            continue;
        }
        std::iota(rank.begin(), rank.end(), 0u);
        std::stable_sort(rank.begin(), rank.end(),
                         [&](unsigned int p, unsigned int q) { return better(ex[p], ex[q]); });
        for (unsigned int i = 0; i < np; ++i) {
            const unsigned int cell = run_.index(h);
            cr[i] = std::min(std::max(normal(mean_cr[cell]), 0.0), 1.0);
            double fi;
            do
                fi = cauchy(mean_f[cell]);
            while (!(fi > 0.0));
            f[i] = std::min(fi, 1.0);
            const double p = 2.0 / np + run_.draw() * (most_p - 2.0 / np);
            const unsigned int top = std::max(2u, static_cast<unsigned int>(p * np));
            const unsigned int best = rank[run_.index(std::min(top, np))];
            unsigned int r1, r2;
            do
                r1 = run_.index(np);
            while (r1 == i);
            const unsigned int pool = np + static_cast<unsigned int>(archive.size());
            do
                r2 = run_.index(pool);
            while (r2 == i || r2 == r1);
            const std::vector<double>& xr2 = r2 < np ? x[r2] : archive[r2 - np];
            const unsigned int forced = run_.index(n);
            std::vector<double>& u = trial[i];
            for (unsigned int j = 0; j < n; ++j) {
                if (j != forced && !(run_.draw() < cr[i])) {
                    u[j] = x[i][j];
                    continue;
                }
                u[j] = run_.bounce(j, x[i][j] + f[i] * (x[best][j] - x[i][j]) + f[i] * (x[r1][j] - xr2[j]), x[i][j]);
            }
        }
        run_.evaluate_repaired(trial, et);
        good_cr.clear();
        good_f.clear();
        weight.clear();
        for (unsigned int i = 0; i < np; ++i) {
            if (better(ex[i], et[i]))
                continue;
            if (better(et[i], ex[i])) {
                good_cr.push_back(cr[i]);
                good_f.push_back(f[i]);
                const bool feasible = ex[i].violation <= 0.0 && et[i].violation <= 0.0;
                weight.push_back(feasible ? std::fabs(ex[i].value - et[i].value)
                                          : std::fabs(ex[i].violation - et[i].violation));
                // The archive keeps as many replaced parents as the population; a full one
                // loses a random member.
                if (archive.size() < np)
                    archive.push_back(x[i]);
                else
                    archive[run_.index(np)] = x[i];
            }
            x[i].swap(trial[i]);
            ex[i] = et[i];
        }
        if (!good_cr.empty()) {
            double total = 0.0;
            for (double w : weight)
                total += w;
            double sum_cr = 0.0, sum_f = 0.0, sum_f2 = 0.0;
            for (std::size_t k = 0; k < weight.size(); ++k) {
                const double w = total > 0.0 ? weight[k] / total : 1.0 / weight.size();
                sum_cr += w * good_cr[k];
                sum_f += w * good_f[k];
                sum_f2 += w * good_f[k] * good_f[k];
            }
            mean_cr[next_cell] = sum_cr;
            mean_f[next_cell] = sum_f > 0.0 ? sum_f2 / sum_f : first_mean;
            next_cell = (next_cell + 1) % h;
        }
        fresh = restart.due(ex);
    }
}

} // namespace opt
} // namespace math
