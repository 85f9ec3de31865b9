// Probability distributions, computed by Boost.Math.

#include "engine/functions/Common.hpp"

#include <boost/math/distributions/binomial.hpp>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/exponential.hpp>
#include <boost/math/distributions/gamma.hpp>
#include <boost/math/distributions/lognormal.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/poisson.hpp>
#include <boost/math/distributions/students_t.hpp>

#include <cmath>

namespace host::engine::detail::fn {

namespace {

namespace bm = boost::math;
namespace bp = boost::math::policies;

// Every error Boost could report becomes a NaN or an infinity, which Value::number turns into
// #NUM!; nothing is thrown.
using Quiet = bp::policy<bp::domain_error<bp::ignore_error>, bp::pole_error<bp::ignore_error>,
                         bp::overflow_error<bp::ignore_error>, bp::underflow_error<bp::ignore_error>,
                         bp::denorm_error<bp::ignore_error>, bp::evaluation_error<bp::ignore_error>,
                         bp::rounding_error<bp::ignore_error>, bp::indeterminate_result_error<bp::ignore_error>>;

using Normal = bm::normal_distribution<double, Quiet>;

// The density or the cumulative probability at x.
template <class Dist>
Value density(const Dist& d, double x, bool cumulative) {
    try {
        return Value::number(cumulative ? bm::cdf(d, x) : bm::pdf(d, x));
    } catch (...) {
        return err(ErrorCode::Num);
    }
}

template <class Dist>
Value inverse(const Dist& d, double p) {
    try {
        return Value::number(bm::quantile(d, p));
    } catch (...) {
        return err(ErrorCode::Num);
    }
}

bool open_unit(double p) { return p > 0 && p < 1; }

OMBRIX_FN(norm_dist) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, mean);
    OMBRIX_NUMBER(2, sd);
    OMBRIX_FLAG(3, cumulative);
    if (sd <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(density(Normal(mean, sd), x, cumulative));
}
OMBRIX_FN(norm_inv) {
    OMBRIX_NUMBER(0, p);
    OMBRIX_NUMBER(1, mean);
    OMBRIX_NUMBER(2, sd);
    if (!open_unit(p) || sd <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(inverse(Normal(mean, sd), p));
}
OMBRIX_FN(norm_s_dist) { // NORMSDIST has no second argument: always cumulative
    OMBRIX_NUMBER(0, z);
    bool cumulative = true;
    if (c.argc > 1 && !flag(c, 1, cumulative, out.v))
        return;
    OMBRIX_RETURN(density(Normal(0, 1), z, cumulative));
}
OMBRIX_FN(norm_s_inv) {
    OMBRIX_NUMBER(0, p);
    if (!open_unit(p))
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(inverse(Normal(0, 1), p));
}
OMBRIX_FN(lognorm_dist) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, mean);
    OMBRIX_NUMBER(2, sd);
    OMBRIX_FLAG(3, cumulative);
    if (x <= 0 || sd <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(density(bm::lognormal_distribution<double, Quiet>(mean, sd), x, cumulative));
}
// The older name, always the cumulative distribution.
OMBRIX_FN(lognormdist) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, mean);
    OMBRIX_NUMBER(2, sd);
    if (x <= 0 || sd <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(density(bm::lognormal_distribution<double, Quiet>(mean, sd), x, true));
}
OMBRIX_FN(lognorm_inv) {
    OMBRIX_NUMBER(0, p);
    OMBRIX_NUMBER(1, mean);
    OMBRIX_NUMBER(2, sd);
    if (!open_unit(p) || sd <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(inverse(bm::lognormal_distribution<double, Quiet>(mean, sd), p));
}
OMBRIX_FN(expon_dist) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, lambda);
    OMBRIX_FLAG(2, cumulative);
    if (x < 0 || lambda <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(density(bm::exponential_distribution<double, Quiet>(lambda), x, cumulative));
}
OMBRIX_FN(binom_dist) {
    OMBRIX_NUMBER(0, kf);
    OMBRIX_NUMBER(1, nf);
    OMBRIX_NUMBER(2, p);
    OMBRIX_FLAG(3, cumulative);
    double k = std::trunc(kf), n = std::trunc(nf);
    if (k < 0 || n < k || p < 0 || p > 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(density(bm::binomial_distribution<double, Quiet>(n, p), k, cumulative));
}
OMBRIX_FN(poisson_dist) {
    OMBRIX_NUMBER(0, kf);
    OMBRIX_NUMBER(1, mean);
    OMBRIX_FLAG(2, cumulative);
    double k = std::trunc(kf);
    if (kf < 0 || mean < 0) // a negative count is #NUM! even when it truncates to 0
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (mean == 0) // all the mass at 0, which the distribution's parameters leave out
        OMBRIX_RETURN(Value::number(cumulative || k == 0 ? 1 : 0));
    OMBRIX_RETURN(density(bm::poisson_distribution<double, Quiet>(mean), k, cumulative));
}
OMBRIX_FN(gamma_dist) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, alpha);
    OMBRIX_NUMBER(2, beta);
    OMBRIX_FLAG(3, cumulative);
    if (x < 0 || alpha <= 0 || beta <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (x == 0 && !cumulative && alpha <= 1) // the density's limit at 0, infinite for alpha < 1
        OMBRIX_RETURN(alpha == 1 ? Value::number(1 / beta) : err(ErrorCode::Num));
    OMBRIX_RETURN(density(bm::gamma_distribution<double, Quiet>(alpha, beta), x, cumulative));
}
OMBRIX_FN(t_dist) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, df);
    OMBRIX_FLAG(2, cumulative);
    df = std::trunc(df);
    if (df < 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(density(bm::students_t_distribution<double, Quiet>(df), x, cumulative));
}
OMBRIX_FN(t_inv) {
    OMBRIX_NUMBER(0, p);
    OMBRIX_NUMBER(1, df);
    df = std::trunc(df);
    if (!open_unit(p) || df < 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(inverse(bm::students_t_distribution<double, Quiet>(df), p));
}
OMBRIX_FN(chisq_dist) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, df);
    OMBRIX_FLAG(2, cumulative);
    df = std::trunc(df);
    if (x < 0 || df < 1 || df > 1e10)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(density(bm::chi_squared_distribution<double, Quiet>(df), x, cumulative));
}

} // namespace

std::vector<Entry> distribution_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"NORM.DIST", 4, 4, L}, fn_norm_dist},
        {{"NORMDIST", 4, 4, L}, fn_norm_dist},
        {{"NORM.INV", 3, 3, L}, fn_norm_inv},
        {{"NORMINV", 3, 3, L}, fn_norm_inv},
        {{"NORM.S.DIST", 2, 2, L}, fn_norm_s_dist},
        {{"NORMSDIST", 1, 1, L}, fn_norm_s_dist},
        {{"NORM.S.INV", 1, 1, L}, fn_norm_s_inv},
        {{"NORMSINV", 1, 1, L}, fn_norm_s_inv},
        {{"LOGNORM.DIST", 4, 4, L}, fn_lognorm_dist},
        {{"LOGNORM.INV", 3, 3, L}, fn_lognorm_inv},
        {{"EXPON.DIST", 3, 3, L}, fn_expon_dist},
        {{"EXPONDIST", 3, 3, L}, fn_expon_dist},
        {{"BINOMDIST", 4, 4, L}, fn_binom_dist},
        {{"POISSON", 3, 3, L}, fn_poisson_dist},
        {{"GAMMADIST", 4, 4, L}, fn_gamma_dist},
        {{"LOGINV", 3, 3, L}, fn_lognorm_inv},
        {{"LOGNORMDIST", 3, 3, L}, fn_lognormdist},
        {{"BINOM.DIST", 4, 4, L}, fn_binom_dist},
        {{"POISSON.DIST", 3, 3, L}, fn_poisson_dist},
        {{"GAMMA.DIST", 4, 4, L}, fn_gamma_dist},
        {{"T.DIST", 3, 3, L}, fn_t_dist},
        {{"T.INV", 2, 2, L}, fn_t_inv},
        {{"CHISQ.DIST", 3, 3, L}, fn_chisq_dist},
    };
}

} // namespace host::engine::detail::fn
