// Rounding to multiples (the .MATH and .PRECISE forms), reciprocal and hyperbolic
// trigonometry, and counting functions beyond COMBIN and PERMUT.

#include "engine/functions/Common.hpp"

#include <algorithm>
#include <cmath>

namespace host::engine::detail::fn {

namespace {

// x rounded down (Up false) or up to a multiple of |s|; 0 when s is 0.
double to_multiple(double x, double s, bool up) {
    s = std::fabs(s);
    if (s == 0 || x == 0)
        return 0;
    double q = snap15(x / s);
    return (up ? std::ceil(q) : std::floor(q)) * s;
}

// FLOOR.MATH and CEILING.MATH: a negative number goes toward zero (CEILING) or away from it
// (FLOOR) unless mode is non-zero, which turns that direction round.
template <bool Up>
void rounding_math(Ctx& c, Item& out) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER_OR(1, s, 1);
    OMBRIX_NUMBER_OR(2, mode, 0);
    bool up = Up;
    if (x < 0 && mode != 0)
        up = !up;
    OMBRIX_RETURN(Value::number(to_multiple(x, s, up)));
}

template <bool Up>
void rounding_precise(Ctx& c, Item& out) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER_OR(1, s, 1);
    OMBRIX_RETURN(Value::number(to_multiple(x, s, Up)));
}

constexpr double trig_limit = 134217728.0; // 2^27: beyond it SEC, CSC and COT are #NUM!

template <int Kind>
void reciprocal_trig(Ctx& c, Item& out) {
    OMBRIX_NUMBER(0, x);
    if (std::fabs(x) >= trig_limit)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double d = Kind == 0 ? std::cos(x) : Kind == 1 ? std::sin(x) : std::tan(x);
    if (d == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(1 / d));
}

OMBRIX_FN(sech) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(Value::number(1 / std::cosh(x)));
}
OMBRIX_FN(csch) {
    OMBRIX_NUMBER(0, x);
    if (x == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(1 / std::sinh(x)));
}
OMBRIX_FN(coth) {
    OMBRIX_NUMBER(0, x);
    if (x == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(1 / std::tanh(x)));
}
OMBRIX_FN(acot) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(Value::number(std::atan2(1.0, x)));
}
OMBRIX_FN(acoth) {
    OMBRIX_NUMBER(0, x);
    if (std::fabs(x) <= 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::atanh(1 / x)));
}
OMBRIX_FN(asinh) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(Value::number(std::asinh(x)));
}
OMBRIX_FN(acosh) {
    OMBRIX_NUMBER(0, x);
    if (x < 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::acosh(x)));
}
OMBRIX_FN(atanh) {
    OMBRIX_NUMBER(0, x);
    if (std::fabs(x) >= 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::atanh(x)));
}

// n choose k for whole n >= k >= 0.
double choose(double n, double k) {
    k = std::min(k, n - k);
    double r = 1;
    for (double i = 1; i <= k && std::isfinite(r); ++i)
        r = r * (n - k + i) / i;
    return r < 9007199254740992.0 ? std::round(r) : r;
}

OMBRIX_FN(combina) {
    OMBRIX_NUMBER(0, nf);
    OMBRIX_NUMBER(1, kf);
    double n = std::trunc(nf), k = std::trunc(kf);
    if (n < 0 || k < 0 || (n == 0 && k > 0))
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (k == 0)
        OMBRIX_RETURN(Value::number(1));
    OMBRIX_RETURN(Value::number(choose(n + k - 1, k)));
}
OMBRIX_FN(permutationa) {
    OMBRIX_NUMBER(0, nf);
    OMBRIX_NUMBER(1, kf);
    double n = std::trunc(nf), k = std::trunc(kf);
    if (n < 0 || k < 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::pow(n, k)));
}
OMBRIX_FN(multinomial) {
    bool boolean = false;
    each_value(c, 0, c.argc, [&](const Value& v, bool, bool) { boolean = boolean || v.is_boolean(); });
    if (boolean) // TRUE and FALSE are not counts, wherever they are
        OMBRIX_RETURN(err(ErrorCode::Value));
    auto& xs = numbers();
    Value e;
    if (!collect(c, 0, c.argc, xs, e))
        OMBRIX_RETURN(e);
    double sum = 0, r = 1;
    for (double x : xs) {
        x = std::trunc(x);
        if (x < 0)
            OMBRIX_RETURN(err(ErrorCode::Num));
        sum += x;
        r *= choose(sum, x);
    }
    OMBRIX_RETURN(Value::number(r));
}
OMBRIX_FN(factdouble) {
    OMBRIX_NUMBER(0, x);
    double n = std::trunc(x);
    if (n < -1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double r = 1;
    for (; n > 1 && std::isfinite(r); n -= 2)
        r *= n;
    OMBRIX_RETURN(Value::number(r));
}
OMBRIX_FN(seriessum) {
    double x, n, m;
    if (!plain_number(c, 0, x, out.v) || !plain_number(c, 1, n, out.v) || !plain_number(c, 2, m, out.v))
        return;
    std::vector<double> as;
    Value e;
    if (!collect(c, 3, 4, as, e))
        OMBRIX_RETURN(e);
    double s = 0;
    for (std::size_t i = 0; i < as.size(); ++i) {
        const double power = n + double(i) * m;
        if (x == 0 && power <= 0) // 0^0 and 1/0
            OMBRIX_RETURN(err(ErrorCode::Num));
        s += as[i] * std::pow(x, power);
    }
    OMBRIX_RETURN(Value::number(s));
}
// The sum of a part over the sum of the whole, each summed as SUM does.
// An error value among either's is #NUM!, whichever it is.
OMBRIX_FN(percentof) {
    bool error = false;
    each_value(c, 0, 2, [&](const Value& v, bool, bool) { error = error || v.is_error(); });
    if (error)
        OMBRIX_RETURN(err(ErrorCode::Num));
    std::vector<double> part, whole;
    Value e;
    if (!collect(c, 0, 1, part, e) || !collect(c, 1, 2, whole, e))
        OMBRIX_RETURN(e);
    double part_sum = 0, whole_sum = 0;
    for (double x : part)
        part_sum += x;
    for (double x : whole)
        whole_sum += x;
    if (whole_sum == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(part_sum / whole_sum));
}

} // namespace

std::vector<Entry> more_math_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"FLOOR.MATH", 1, 3, L}, rounding_math<false>},
        {{"PERCENTOF", 2, 2, 0}, fn_percentof},
        {{"CEILING.MATH", 1, 3, L}, rounding_math<true>},
        {{"FLOOR.PRECISE", 1, 2, L}, rounding_precise<false>},
        {{"CEILING.PRECISE", 1, 2, L}, rounding_precise<true>},
        {{"ISO.CEILING", 1, 2, L}, rounding_precise<true>},
        {{"SEC", 1, 1, L}, reciprocal_trig<0>},
        {{"CSC", 1, 1, L}, reciprocal_trig<1>},
        {{"COT", 1, 1, L}, reciprocal_trig<2>},
        {{"SECH", 1, 1, L}, fn_sech},
        {{"CSCH", 1, 1, L}, fn_csch},
        {{"COTH", 1, 1, L}, fn_coth},
        {{"ACOT", 1, 1, L}, fn_acot},
        {{"ACOTH", 1, 1, L}, fn_acoth},
        {{"ASINH", 1, 1, L}, fn_asinh},
        {{"ACOSH", 1, 1, L}, fn_acosh},
        {{"ATANH", 1, 1, L}, fn_atanh},
        {{"COMBINA", 2, 2, L}, fn_combina},
        {{"PERMUTATIONA", 2, 2, L}, fn_permutationa},
        {{"MULTINOMIAL", 1, -1, 0}, fn_multinomial},
        {{"FACTDOUBLE", 1, 1, L}, fn_factdouble},
        {{"SERIESSUM", 4, 4, FnArrayArgs}, fn_seriessum},
    };
}

} // namespace host::engine::detail::fn
