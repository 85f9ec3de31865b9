#ifndef OMBRIX_MATH_OPT_OPTIMISER_HPP
#define OMBRIX_MATH_OPT_OPTIMISER_HPP

#include "math/function/Function.hpp"

#include <vector>

namespace math {
namespace opt {

// Root of the optimisers. Minimising is maximising the negated objective.
class Optimiser {
public:
    typedef math::function::Function<double, std::vector<double>> Objective;

    // -f for an objective f, which it refers to but does not own.
    class NegativeObjectiveFunction : public Objective {
    public:
        explicit NegativeObjectiveFunction(const Objective& objective_) : objective(objective_) {}
        double operator()(const std::vector<double>& x) const override { return -objective(x); }

        const Objective& objective;
    };

protected:
    Optimiser() = default;
    Optimiser(const Optimiser&) = default;
    Optimiser& operator=(const Optimiser&) = default;
    ~Optimiser() = default;
};

} // namespace opt
} // namespace math

#endif
