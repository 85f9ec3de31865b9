#ifndef OMBRIX_MATH_OPT_INTERVAL_HPP
#define OMBRIX_MATH_OPT_INTERVAL_HPP

#include <boost/numeric/interval.hpp>

#include <cmath>
#include <limits>

namespace math {
namespace opt {

// A design variable's range. Strict checking: building one whose upper bound is below its
// lower bound (or with a NaN bound) throws "boost::interval: empty interval created".
typedef boost::numeric::interval<
    double, boost::numeric::interval_lib::policies<boost::numeric::interval_lib::rounded_math<double>,
                                                   boost::numeric::interval_lib::checking_strict<double>>>
    Interval;

// upper - lower rounded toward +infinity: never below the true difference.
//
// Switching the rounding mode (as Boost's width does) is not safe under optimisation: the
// compiler may reuse a round-to-nearest difference computed nearby. Instead take the
// nearest difference and its exact remainder (Knuth's TwoSum, exact in round-to-nearest),
// and step up one ulp when the remainder is positive. Pure round-to-nearest arithmetic,
// so every build gives the same bits.
inline double upward_width(double lower, double upper) {
    const double d = upper - lower;
    if (!std::isfinite(d))
        return d; // overflow is +inf, which is already the upward answer
    const double b = -lower;
    const double b_virtual = d - upper;
    const double a_virtual = d - b_virtual;
    const double remainder = (upper - a_virtual) + (b - b_virtual);
    return remainder > 0.0 ? std::nextafter(d, std::numeric_limits<double>::infinity()) : d;
}

inline double upward_width(const Interval& x) { return upward_width(x.lower(), x.upper()); }

} // namespace opt
} // namespace math

#endif
