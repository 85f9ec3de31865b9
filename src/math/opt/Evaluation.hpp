#ifndef OMBRIX_MATH_OPT_EVALUATION_HPP
#define OMBRIX_MATH_OPT_EVALUATION_HPP

#include <vector>

namespace math {
namespace opt {

// What one evaluation of a candidate tells a search: its objective value and how far it lies
// outside the model's constraints (0 when it meets them all; a sum of non-negative amounts).
struct Evaluation {
    double value;
    double violation;
};

// The objective of a model with constraints: value and violation of a point in one call, so a
// workbook is recalculated once per candidate.
class ConstrainedObjective {
public:
    virtual Evaluation evaluate(const std::vector<double>& x) const = 0;

protected:
    ConstrainedObjective() = default;
    ConstrainedObjective(const ConstrainedObjective&) = default;
    ConstrainedObjective& operator=(const ConstrainedObjective&) = default;
    ~ConstrainedObjective() = default;
};

// A whole generation evaluated in one call, points in order: where evaluating several
// candidates at once plugs in. results gets one evaluation per point.
class BatchObjective {
public:
    virtual void evaluate_all(const std::vector<std::vector<double>>& points,
                              std::vector<Evaluation>& results) const = 0;

protected:
    BatchObjective() = default;
    BatchObjective(const BatchObjective&) = default;
    BatchObjective& operator=(const BatchObjective&) = default;
    ~BatchObjective() = default;
};

// Whether a is better than b for a search that maximises: a point within the constraints beats
// one outside them, two outside compare by total violation, two within by value. Without
// constraints every violation is 0 and this is plain a.value > b.value.
inline bool better(const Evaluation& a, const Evaluation& b) {
    const bool a_feasible = a.violation <= 0.0;
    const bool b_feasible = b.violation <= 0.0;
    if (a_feasible != b_feasible)
        return a_feasible;
    if (!a_feasible && a.violation != b.violation)
        return a.violation < b.violation;
    return a.value > b.value;
}

} // namespace opt
} // namespace math

#endif
