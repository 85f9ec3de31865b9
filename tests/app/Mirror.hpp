#ifndef OMBRIX_TESTS_APP_MIRROR_HPP
#define OMBRIX_TESTS_APP_MIRROR_HPP

// Workbook models written out again in plain C++, operation for operation as the formula
// engine evaluates them, and the optimiser run on them directly: what the add-in must
// reproduce bit for bit through the workbook.

#include "math/opt/GAOptimiser.hpp"

#include <cmath>
#include <vector>

namespace mirror {

// Variables in B1:C1, objective "=3-(B1-1.25)^2-2*(C1+0.5)^2".
constexpr const char* bowl_formula = "3-(B1-1.25)^2-2*(C1+0.5)^2";
inline double bowl(const std::vector<double>& x) {
    double a = x[0] - 1.25, b = x[1] + 0.5;
    return (3 - a * a) - 2 * (b * b);
}

// examples/rastrigin.xlsx: terms B6:D6 "=B3^2-10*COS(2*PI()*B3)", objective "=10*3+SUM(B6:D6)".
inline double rastrigin(const std::vector<double>& x) {
    double sum = 0;
    for (double xi : x)
        sum += xi * xi - 10 * std::cos(2 * 3.14159265358979323846 * xi);
    return 10 * 3 + sum;
}

struct Settings {
    unsigned int seed;
    unsigned int population;
    unsigned int generations;
    unsigned int trials;
    double crossover;
    double mutation;
    bool maximise;
};

template <class F>
std::vector<double> solve(const Settings& s, const std::vector<double>& min, const std::vector<double>& max, F f) {
    struct Objective : math::opt::Optimiser::Objective {
        F f;
        explicit Objective(F g) : f(g) {}
        double operator()(const std::vector<double>& x) const override { return f(x); }
    } objective(f);
    math::opt::GAOptimiser optimiser;
    optimiser.population_size = s.population;
    optimiser.generations = s.generations;
    optimiser.trials = s.trials;
    optimiser.one_point_crossover.rate = s.crossover;
    optimiser.uniform_mutation.rate = s.mutation;
    for (std::size_t i = 0; i < min.size(); ++i)
        optimiser.design_variable(math::opt::Interval(min[i], max[i]));
    boost::mt19937 engine(s.seed);
    return s.maximise ? optimiser.maximise(objective, engine) : optimiser.minimise(objective, engine);
}

} // namespace mirror

#endif
