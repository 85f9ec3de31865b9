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
                         bp::rounding_error<bp::ignore_error>,
                         bp::indeterminate_result_error<bp::ignore_error>>;

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

FN(norm_dist) {
    NUM(0, x); NUM(1, mean); NUM(2, sd); FLAG(3, cumulative);
    if (sd <= 0)
        RET(err(ErrorCode::Num));
    RET(density(Normal(mean, sd), x, cumulative));
}
FN(norm_inv) {
    NUM(0, p); NUM(1, mean); NUM(2, sd);
    if (!open_unit(p) || sd <= 0)
        RET(err(ErrorCode::Num));
    RET(inverse(Normal(mean, sd), p));
}
FN(norm_s_dist) {   // NORMSDIST has no second argument: always cumulative
    NUM(0, z);
    bool cumulative = true;
    if (c.argc > 1 && !flag(c, 1, cumulative, out.v))
        return;
    RET(density(Normal(0, 1), z, cumulative));
}
FN(norm_s_inv) {
    NUM(0, p);
    if (!open_unit(p))
        RET(err(ErrorCode::Num));
    RET(inverse(Normal(0, 1), p));
}
FN(lognorm_dist) {
    NUM(0, x); NUM(1, mean); NUM(2, sd); FLAG(3, cumulative);
    if (x <= 0 || sd <= 0)
        RET(err(ErrorCode::Num));
    RET(density(bm::lognormal_distribution<double, Quiet>(mean, sd), x, cumulative));
}
FN(lognorm_inv) {
    NUM(0, p); NUM(1, mean); NUM(2, sd);
    if (!open_unit(p) || sd <= 0)
        RET(err(ErrorCode::Num));
    RET(inverse(bm::lognormal_distribution<double, Quiet>(mean, sd), p));
}
FN(expon_dist) {
    NUM(0, x); NUM(1, lambda); FLAG(2, cumulative);
    if (x < 0 || lambda <= 0)
        RET(err(ErrorCode::Num));
    RET(density(bm::exponential_distribution<double, Quiet>(lambda), x, cumulative));
}
FN(binom_dist) {
    NUM(0, kf); NUM(1, nf); NUM(2, p); FLAG(3, cumulative);
    double k = std::trunc(kf), n = std::trunc(nf);
    if (k < 0 || n < k || p < 0 || p > 1)
        RET(err(ErrorCode::Num));
    RET(density(bm::binomial_distribution<double, Quiet>(n, p), k, cumulative));
}
FN(poisson_dist) {
    NUM(0, kf); NUM(1, mean); FLAG(2, cumulative);
    double k = std::trunc(kf);
    if (k < 0 || mean < 0)
        RET(err(ErrorCode::Num));
    if (mean == 0)   // all the mass at 0, which the distribution's parameters leave out
        RET(Value::number(cumulative || k == 0 ? 1 : 0));
    RET(density(bm::poisson_distribution<double, Quiet>(mean), k, cumulative));
}
FN(gamma_dist) {
    NUM(0, x); NUM(1, alpha); NUM(2, beta); FLAG(3, cumulative);
    if (x < 0 || alpha <= 0 || beta <= 0)
        RET(err(ErrorCode::Num));
    if (x == 0 && !cumulative && alpha <= 1)   // the density's limit at 0, infinite for alpha < 1
        RET(alpha == 1 ? Value::number(1 / beta) : err(ErrorCode::Num));
    RET(density(bm::gamma_distribution<double, Quiet>(alpha, beta), x, cumulative));
}
FN(t_dist) {
    NUM(0, x); NUM(1, df); FLAG(2, cumulative);
    df = std::trunc(df);
    if (df < 1)
        RET(err(ErrorCode::Num));
    RET(density(bm::students_t_distribution<double, Quiet>(df), x, cumulative));
}
FN(t_inv) {
    NUM(0, p); NUM(1, df);
    df = std::trunc(df);
    if (!open_unit(p) || df < 1)
        RET(err(ErrorCode::Num));
    RET(inverse(bm::students_t_distribution<double, Quiet>(df), p));
}
FN(chisq_dist) {
    NUM(0, x); NUM(1, df); FLAG(2, cumulative);
    df = std::trunc(df);
    if (x < 0 || df < 1 || df > 1e10)
        RET(err(ErrorCode::Num));
    RET(density(bm::chi_squared_distribution<double, Quiet>(df), x, cumulative));
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
        {{"BINOM.DIST", 4, 4, L}, fn_binom_dist},
        {{"POISSON.DIST", 3, 3, L}, fn_poisson_dist},
        {{"GAMMA.DIST", 4, 4, L}, fn_gamma_dist},
        {{"T.DIST", 3, 3, L}, fn_t_dist},
        {{"T.INV", 2, 2, L}, fn_t_inv},
        {{"CHISQ.DIST", 3, 3, L}, fn_chisq_dist},
    };
}

} // namespace host::engine::detail::fn
