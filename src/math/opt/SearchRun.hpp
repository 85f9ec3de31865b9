#ifndef OMBRIX_MATH_OPT_SEARCHRUN_HPP
#define OMBRIX_MATH_OPT_SEARCHRUN_HPP

// The bookkeeping every new strategy shares: the box, the budget of generations, the observer,
// the best point so far and the early stops. A strategy keeps its own population and asks the
// run for draws, for each generation's evaluation and whether another generation may run.

#include "math/opt/Search.hpp"

#include <vector>

namespace math {
namespace opt {

class SearchRun {
public:
    // Refuses settings that cannot make a run (usr::Exception); takes the run engine from
    // engine without moving it.
    SearchRun(const GAOptimiser& ga, const SearchSettings& settings, const BatchObjective& f,
              const boost::mt19937& engine);

    unsigned int variables() const { return static_cast<unsigned int>(box_.size()); }
    unsigned int population() const { return population_; }
    double lower(unsigned int j) const { return box_[j].lower(); }
    double upper(unsigned int j) const { return box_[j].upper(); }
    const std::vector<double>& start() const { return start_; }

    // One draw in [0, 1), one engine output.
    double draw() { return source_(); }
    // A whole number in [0, n), from one draw (uniform to within 2^-32 of each chance).
    unsigned int index(unsigned int n) { return static_cast<unsigned int>(draw() * n); }
    // v, or, outside variable j's interval, halfway from parent to the bound it crossed.
    double bounce(unsigned int j, double v, double parent) const {
        if (v < lower(j))
            return lower(j) + (parent - lower(j)) * 0.5;
        if (v > upper(j))
            return upper(j) - (upper(j) - parent) * 0.5;
        return v;
    }
    // A point drawn uniformly in the box, one draw per variable, variable 0 first.
    void random_point(std::vector<double>& x);
    // random_point() for each of x's points in order; with with_start, the start point (if
    // one was given) then replaces the first.
    void random_population(std::vector<std::vector<double>>& x, bool with_start);
    // Each coordinate moved into its interval (a NaN to the lower bound).
    void clamp(std::vector<double>& x) const;
    // clamp(), then whole-number variables rounded and permutation groups ranked (the
    // coding's repair): what a strategy's raw vector becomes before it is evaluated. With a
    // plain coding it is clamp() alone.
    void repair(std::vector<double>& x) const;

    // Whether another generation runs: the budget is not spent, no early stop was met, and
    // the observer lets it go on.
    bool next_generation();
    // One generation's points, evaluated in order; refuses a value that is not finite. Keeps
    // the best and counts the generation.
    void evaluate(const std::vector<std::vector<double>>& points, std::vector<Evaluation>& results);
    // evaluate() of the raw vectors each put through repair(), the raw vectors unchanged.
    void evaluate_repaired(const std::vector<std::vector<double>>& raw, std::vector<Evaluation>& results);

    // The best point evaluated (the lower bounds when none was); the caller's engine takes the
    // run engine's state.
    std::vector<double> finish(boost::mt19937& engine);
    // The best evaluation (infinitely outside the constraints when nothing was evaluated),
    // and whether the run went through all its generations.
    Evaluation best() const;
    bool completed() const { return !stopped_; }

private:
    std::vector<Interval> box_;
    Coding coding_;
    unsigned int population_;
    unsigned int generations_;
    unsigned int trials_;
    unsigned long long done_ = 0;
    GAOptimiser::RunObserver* observer_;
    const BatchObjective& f_;
    GAOptimiser::UniformSource source_;
    StopRule rule_;
    bool stopped_ = false;
    bool have_best_ = false;
    Evaluation best_ = {0.0, 0.0};
    std::vector<double> best_point_;
    std::vector<double> start_;
    std::vector<std::vector<double>> repaired_;
};

} // namespace opt
} // namespace math

#endif
