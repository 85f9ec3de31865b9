#ifndef OMBRIX_MATH_OPT_TRUNCATE_HPP
#define OMBRIX_MATH_OPT_TRUNCATE_HPP

#include <boost/numeric/conversion/converter_policies.hpp>

namespace math {
namespace opt {

// double -> unsigned int as boost::numeric_cast does it: truncation toward zero, with
// x <= -1 raising negative_overflow and x >= 2^32 raising positive_overflow. A NaN, which
// numeric_cast would let through into undefined behaviour, raises bad_numeric_cast.
inline unsigned int truncate_to_unsigned(double x) {
    if (x <= -1.0)
        throw boost::numeric::negative_overflow();
    if (x >= 4294967296.0)
        throw boost::numeric::positive_overflow();
    if (x != x)
        throw boost::numeric::bad_numeric_cast();
    return static_cast<unsigned int>(x);
}

} // namespace opt
} // namespace math

#endif
