#ifndef OMBRIX_MATH_OPT_CONSTRAINEDOPTIMISER_HPP
#define OMBRIX_MATH_OPT_CONSTRAINEDOPTIMISER_HPP

#include "math/opt/Interval.hpp"
#include "math/opt/Optimiser.hpp"

#include <boost/random/mersenne_twister.hpp>

#include <vector>

namespace math {
namespace opt {

// An optimiser over a box: one closed interval per design variable.
class ConstrainedOptimiser : public Optimiser {
public:
    typedef math::opt::Interval interval;

    virtual void design_variable(const interval& x) = 0;
    virtual void clear_design_variables() = 0;
    virtual unsigned int design_variable_count() const = 0;
    virtual const interval& design_variable(unsigned int index) const = 0;
    virtual interval& design_variable(unsigned int index) = 0;
    // Both return the best point found and leave the engine advanced past the run.
    virtual std::vector<double> maximise(const Objective& f, boost::mt19937& engine) = 0;
    virtual std::vector<double> minimise(const Objective& f, boost::mt19937& engine) = 0;

protected:
    ConstrainedOptimiser() = default;
    ConstrainedOptimiser(const ConstrainedOptimiser&) = default;
    ConstrainedOptimiser& operator=(const ConstrainedOptimiser&) = default;
    ~ConstrainedOptimiser() = default;
};

} // namespace opt
} // namespace math

#endif
