// More probability distributions (beta, gamma, F, chi-squared and t tails, negative binomial,
// hypergeometric, Weibull), the gamma function, and the small normal helpers (GAUSS, PHI,
// STANDARDIZE, CONFIDENCE, FISHER), with their legacy names.

#include "engine/functions/Common.hpp"

#include <boost/math/distributions/beta.hpp>
#include <boost/math/distributions/binomial.hpp>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/gamma.hpp>
#include <boost/math/distributions/hypergeometric.hpp>
#include <boost/math/distributions/negative_binomial.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <boost/math/distributions/weibull.hpp>
#include <boost/math/special_functions/gamma.hpp>

#include <cmath>

namespace host::engine::detail::fn {

namespace {

namespace bm = boost::math;
namespace bp = boost::math::policies;

// Boost's errors become NaN or infinity, which Value::number turns into #NUM!.
using Quiet = bp::policy<bp::domain_error<bp::ignore_error>, bp::pole_error<bp::ignore_error>,
                         bp::overflow_error<bp::ignore_error>, bp::underflow_error<bp::ignore_error>,
                         bp::denorm_error<bp::ignore_error>, bp::evaluation_error<bp::ignore_error>,
                         bp::rounding_error<bp::ignore_error>, bp::indeterminate_result_error<bp::ignore_error>,
                         bp::discrete_quantile<bp::integer_round_up>>;

template <class F>
Value guarded(F f) {
    try {
        double r = f();
        return std::isfinite(r) ? Value::number(r) : err(ErrorCode::Num);
    } catch (...) {
        return err(ErrorCode::Num);
    }
}

bool open_unit(double p) { return p > 0 && p < 1; }

OMBRIX_FN(gamma) {
    OMBRIX_NUMBER(0, x);
    if (x == 0 || (x < 0 && x == std::floor(x)))
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(guarded([&] { return bm::tgamma(x, Quiet()); }));
}
OMBRIX_FN(gammaln) {
    OMBRIX_NUMBER(0, x);
    if (x <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(guarded([&] { return bm::lgamma(x, Quiet()); }));
}
OMBRIX_FN(gamma_inv) {
    OMBRIX_NUMBER(0, p);
    OMBRIX_NUMBER(1, alpha);
    OMBRIX_NUMBER(2, beta);
    if (p < 0 || p >= 1 || alpha <= 0 || beta <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(guarded([&] { return bm::quantile(bm::gamma_distribution<double, Quiet>(alpha, beta), p); }));
}

// BETA.DIST(x, alpha, beta, cumulative, [A], [B]) and BETADIST(x, alpha, beta, [A], [B]).
template <bool Legacy>
void beta_dist(Ctx& c, Item& out) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, alpha);
    OMBRIX_NUMBER(2, beta);
    bool cumulative = true;
    int bounds = 3;
    if (!Legacy) {
        if (!flag(c, 3, cumulative, out.v))
            return;
        bounds = 4;
    }
    OMBRIX_NUMBER_OR(bounds, a, 0);
    OMBRIX_NUMBER_OR(bounds + 1, b, 1);
    if (alpha <= 0 || beta <= 0 || a >= b || x < a || x > b)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double t = (x - a) / (b - a);
    bm::beta_distribution<double, Quiet> d(alpha, beta);
    OMBRIX_RETURN(guarded([&] { return cumulative ? bm::cdf(d, t) : bm::pdf(d, t) / (b - a); }));
}
OMBRIX_FN(beta_inv) {
    OMBRIX_NUMBER(0, p);
    OMBRIX_NUMBER(1, alpha);
    OMBRIX_NUMBER(2, beta);
    OMBRIX_NUMBER_OR(3, a, 0);
    OMBRIX_NUMBER_OR(4, b, 1);
    if (p <= 0 || p >= 1 || alpha <= 0 || beta <= 0 || a >= b)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(
        guarded([&] { return a + (b - a) * bm::quantile(bm::beta_distribution<double, Quiet>(alpha, beta), p); }));
}

OMBRIX_FN(negbinom_dist) {
    OMBRIX_NUMBER(0, ff);
    OMBRIX_NUMBER(1, sf);
    OMBRIX_NUMBER(2, p);
    bool cumulative = false;
    if (c.argc > 3 && !flag(c, 3, cumulative, out.v))
        return;
    double f = std::trunc(ff), s = std::trunc(sf);
    if (f < 0 || s < 1 || p <= 0 || p >= 1) // certain success or failure is no distribution
        OMBRIX_RETURN(err(ErrorCode::Num));
    bm::negative_binomial_distribution<double, Quiet> d(s, p);
    OMBRIX_RETURN(guarded([&] { return cumulative ? bm::cdf(d, f) : bm::pdf(d, f); }));
}

// The smallest k whose cumulative binomial probability reaches alpha.
OMBRIX_FN(binom_inv) {
    OMBRIX_NUMBER(0, nf);
    OMBRIX_NUMBER(1, p);
    OMBRIX_NUMBER(2, alpha);
    double n = std::trunc(nf);
    if (n < 0 || p < 0 || p >= 1 || alpha <= 0 || alpha >= 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    bm::binomial_distribution<double, Quiet> d(n, p);
    double total = 0;
    for (double k = 0; k <= n; ++k) {
        total += bm::pdf(d, k);
        if (total >= alpha * (1 - 1e-15))
            OMBRIX_RETURN(Value::number(k));
    }
    OMBRIX_RETURN(Value::number(n));
}
OMBRIX_FN(binom_dist_range) {
    OMBRIX_NUMBER(0, nf);
    OMBRIX_NUMBER(1, p);
    OMBRIX_NUMBER(2, s1f);
    double n = std::trunc(nf), s1 = std::trunc(s1f), s2 = s1;
    if (!c.missing(3)) {
        OMBRIX_NUMBER(3, s2f);
        s2 = std::trunc(s2f);
    }
    if (n < 0 || p < 0 || p > 1 || s1 < 0 || s1 > n || s2 < s1 || s2 > n)
        OMBRIX_RETURN(err(ErrorCode::Num));
    bm::binomial_distribution<double, Quiet> d(n, p);
    double total = 0;
    for (double k = s1; k <= s2; ++k)
        total += bm::pdf(d, k);
    OMBRIX_RETURN(Value::number(total));
}

// HYPGEOM.DIST(sample_s, number_sample, population_s, number_pop, cumulative); the legacy
// HYPGEOMDIST has no cumulative.
OMBRIX_FN(hypgeom_dist) {
    OMBRIX_NUMBER(0, kf);
    OMBRIX_NUMBER(1, nf);
    OMBRIX_NUMBER(2, Kf);
    OMBRIX_NUMBER(3, Nf);
    bool cumulative = false;
    if (c.argc > 4 && !flag(c, 4, cumulative, out.v))
        return;
    double k = std::trunc(kf), n = std::trunc(nf), K = std::trunc(Kf), N = std::trunc(Nf);
    if (k < 0 || n < 0 || K < 0 || N < 0 || n > N || K > N)
        OMBRIX_RETURN(err(ErrorCode::Num));
    // Successes the sample cannot hold: the cumulative probability is 0 below the fewest
    // possible and 1 from the most on; HYPGEOM.DIST gives 0 for the probability of fewer (as
    // saved workbooks show), #NUM! for more; the legacy function refuses both.
    const double fewest = std::max(0.0, n - N + K), most = std::min(n, K);
    if (k < fewest || k > most) {
        if (cumulative)
            OMBRIX_RETURN(Value::number(k < fewest ? 0 : 1));
        OMBRIX_RETURN(k < fewest && c.argc > 4 ? Value::number(0) : err(ErrorCode::Num));
    }
    if (n == 0 || K == 0 || K == N) // a single possible count
        OMBRIX_RETURN(Value::number(1));
    const bm::hypergeometric_distribution<double, Quiet> d{unsigned(K), unsigned(n), unsigned(N)};
    OMBRIX_RETURN(guarded([&] { return cumulative ? bm::cdf(d, unsigned(k)) : bm::pdf(d, unsigned(k)); }));
}

OMBRIX_FN(weibull_dist) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, alpha);
    OMBRIX_NUMBER(2, beta);
    OMBRIX_FLAG(3, cumulative);
    if (x < 0 || alpha <= 0 || beta <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    bm::weibull_distribution<double, Quiet> d(alpha, beta);
    OMBRIX_RETURN(guarded([&] { return cumulative ? bm::cdf(d, x) : bm::pdf(d, x); }));
}

// F.DIST(x, d1, d2, cumulative), F.DIST.RT / FDIST(x, d1, d2), F.INV, F.INV.RT / FINV.
OMBRIX_FN(f_dist) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, d1f);
    OMBRIX_NUMBER(2, d2f);
    OMBRIX_FLAG(3, cumulative);
    double d1 = std::trunc(d1f), d2 = std::trunc(d2f);
    if (x < 0 || d1 < 1 || d2 < 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    bm::fisher_f_distribution<double, Quiet> d(d1, d2);
    OMBRIX_RETURN(guarded([&] { return cumulative ? bm::cdf(d, x) : bm::pdf(d, x); }));
}
OMBRIX_FN(f_dist_rt) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, d1f);
    OMBRIX_NUMBER(2, d2f);
    double d1 = std::trunc(d1f), d2 = std::trunc(d2f);
    if (x < 0 || d1 < 1 || d2 < 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(
        guarded([&] { return bm::cdf(bm::complement(bm::fisher_f_distribution<double, Quiet>(d1, d2), x)); }));
}
template <bool RightTail>
void f_inv(Ctx& c, Item& out) {
    OMBRIX_NUMBER(0, p);
    OMBRIX_NUMBER(1, d1f);
    OMBRIX_NUMBER(2, d2f);
    double d1 = std::trunc(d1f), d2 = std::trunc(d2f);
    if (p <= 0 || p > 1 || d1 < 1 || d2 < 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    bm::fisher_f_distribution<double, Quiet> d(d1, d2);
    OMBRIX_RETURN(guarded([&] { return bm::quantile(d, RightTail ? 1 - p : p); }));
}

OMBRIX_FN(chisq_dist_rt) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, kf);
    double k = std::trunc(kf);
    if (x < 0 || k < 1 || k > 1e10)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(guarded([&] { return bm::cdf(bm::complement(bm::chi_squared_distribution<double, Quiet>(k), x)); }));
}
template <bool RightTail>
void chisq_inv(Ctx& c, Item& out) {
    OMBRIX_NUMBER(0, p);
    OMBRIX_NUMBER(1, kf);
    double k = std::trunc(kf);
    if (p < 0 || p > 1 || (RightTail && p == 0) || k < 1 || k > 1e10)
        OMBRIX_RETURN(err(ErrorCode::Num));
    bm::chi_squared_distribution<double, Quiet> d(k);
    OMBRIX_RETURN(guarded([&] { return RightTail ? bm::quantile(bm::complement(d, p)) : bm::quantile(d, p); }));
}

// T.DIST.2T, T.DIST.RT and the legacy TDIST(x, df, tails).
template <int Tails>
void t_tail(Ctx& c, Item& out) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, dff);
    double tails = Tails;
    if (Tails == 0) {
        OMBRIX_NUMBER(2, tf);
        tails = std::trunc(tf);
        if (tails != 1 && tails != 2)
            OMBRIX_RETURN(err(ErrorCode::Num));
        if (x < 0)
            OMBRIX_RETURN(err(ErrorCode::Num));
    }
    double df = std::trunc(dff);
    if (df < 1 || (tails == 2 && x < 0))
        OMBRIX_RETURN(err(ErrorCode::Num));
    bm::students_t_distribution<double, Quiet> d(df);
    OMBRIX_RETURN(guarded([&] { return tails * bm::cdf(bm::complement(d, tails == 2 ? std::fabs(x) : x)); }));
}
OMBRIX_FN(t_inv_2t) {
    OMBRIX_NUMBER(0, p);
    OMBRIX_NUMBER(1, dff);
    double df = std::trunc(dff);
    if (p <= 0 || p > 1 || df < 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(
        guarded([&] { return bm::quantile(bm::complement(bm::students_t_distribution<double, Quiet>(df), p / 2)); }));
}

OMBRIX_FN(fisher) {
    OMBRIX_NUMBER(0, x);
    if (x <= -1 || x >= 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    // The defining formula as written, not atanh: near 0 the spreadsheet's digits are its.
    OMBRIX_RETURN(Value::number(0.5 * std::log((1 + x) / (1 - x))));
}
OMBRIX_FN(fisherinv) {
    OMBRIX_NUMBER(0, y);
    OMBRIX_RETURN(Value::number(std::tanh(y)));
}
OMBRIX_FN(gauss) {
    OMBRIX_NUMBER(0, z);
    OMBRIX_RETURN(guarded([&] { return bm::cdf(bm::normal_distribution<double, Quiet>(0, 1), z) - 0.5; }));
}
OMBRIX_FN(phi) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(Value::number(std::exp(-x * x / 2) / std::sqrt(2 * 3.14159265358979323846)));
}
OMBRIX_FN(standardize) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, mean);
    OMBRIX_NUMBER(2, sd);
    if (sd <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number((x - mean) / sd));
}
// CONFIDENCE.NORM (and CONFIDENCE) and CONFIDENCE.T: half the width of the interval.
template <bool StudentT>
void confidence(Ctx& c, Item& out) {
    OMBRIX_NUMBER(0, alpha);
    OMBRIX_NUMBER(1, sd);
    OMBRIX_NUMBER(2, nf);
    double n = std::trunc(nf);
    if (!open_unit(alpha) || sd <= 0 || n < 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (StudentT) {
        if (n == 1)
            OMBRIX_RETURN(err(ErrorCode::Div0));
        OMBRIX_RETURN(guarded([&] {
            return bm::quantile(bm::complement(bm::students_t_distribution<double, Quiet>(n - 1), alpha / 2)) * sd /
                   std::sqrt(n);
        }));
    }
    OMBRIX_RETURN(guarded([&] {
        return bm::quantile(bm::complement(bm::normal_distribution<double, Quiet>(0, 1), alpha / 2)) * sd /
               std::sqrt(n);
    }));
}

} // namespace

std::vector<Entry> more_distribution_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"GAMMA", 1, 1, L}, fn_gamma},
        {{"GAMMALN", 1, 1, L}, fn_gammaln},
        {{"GAMMALN.PRECISE", 1, 1, L}, fn_gammaln},
        {{"GAMMA.INV", 3, 3, L}, fn_gamma_inv},
        {{"GAMMAINV", 3, 3, L}, fn_gamma_inv},
        {{"BETA.DIST", 4, 6, L}, beta_dist<false>},
        {{"BETADIST", 3, 5, L}, beta_dist<true>},
        {{"BETA.INV", 3, 5, L}, fn_beta_inv},
        {{"BETAINV", 3, 5, L}, fn_beta_inv},
        {{"NEGBINOM.DIST", 4, 4, L}, fn_negbinom_dist},
        {{"NEGBINOMDIST", 3, 3, L}, fn_negbinom_dist},
        {{"BINOM.INV", 3, 3, L}, fn_binom_inv},
        {{"CRITBINOM", 3, 3, L}, fn_binom_inv},
        {{"BINOM.DIST.RANGE", 3, 4, L}, fn_binom_dist_range},
        {{"HYPGEOM.DIST", 5, 5, L}, fn_hypgeom_dist},
        {{"HYPGEOMDIST", 4, 4, L}, fn_hypgeom_dist},
        {{"WEIBULL.DIST", 4, 4, L}, fn_weibull_dist},
        {{"WEIBULL", 4, 4, L}, fn_weibull_dist},
        {{"F.DIST", 4, 4, L}, fn_f_dist},
        {{"F.DIST.RT", 3, 3, L}, fn_f_dist_rt},
        {{"FDIST", 3, 3, L}, fn_f_dist_rt},
        {{"F.INV", 3, 3, L}, f_inv<false>},
        {{"F.INV.RT", 3, 3, L}, f_inv<true>},
        {{"FINV", 3, 3, L}, f_inv<true>},
        {{"CHISQ.DIST.RT", 2, 2, L}, fn_chisq_dist_rt},
        {{"CHIDIST", 2, 2, L}, fn_chisq_dist_rt},
        {{"CHISQ.INV", 2, 2, L}, chisq_inv<false>},
        {{"CHISQ.INV.RT", 2, 2, L}, chisq_inv<true>},
        {{"CHIINV", 2, 2, L}, chisq_inv<true>},
        {{"T.DIST.2T", 2, 2, L}, t_tail<2>},
        {{"T.DIST.RT", 2, 2, L}, t_tail<1>},
        {{"TDIST", 3, 3, L}, t_tail<0>},
        {{"T.INV.2T", 2, 2, L}, fn_t_inv_2t},
        {{"TINV", 2, 2, L}, fn_t_inv_2t},
        {{"FISHER", 1, 1, L}, fn_fisher},
        {{"FISHERINV", 1, 1, L}, fn_fisherinv},
        {{"GAUSS", 1, 1, L}, fn_gauss},
        {{"PHI", 1, 1, L}, fn_phi},
        {{"STANDARDIZE", 3, 3, L}, fn_standardize},
        {{"CONFIDENCE", 3, 3, L}, confidence<false>},
        {{"CONFIDENCE.NORM", 3, 3, L}, confidence<false>},
        {{"CONFIDENCE.T", 3, 3, L}, confidence<true>},
    };
}

} // namespace host::engine::detail::fn
