// Mathematical and trigonometric functions.

#include "engine/functions/Common.hpp"

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>

namespace host::engine::detail::fn {

namespace {

template <double (*F)(double)>
void math1(Ctx& c, Item& out) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(Value::number(F(x)));
}

// The trigonometric functions take arguments below 2^27 in size; beyond, #NUM!.
template <double (*F)(double)>
void trig(Ctx& c, Item& out) {
    OMBRIX_NUMBER(0, x);
    if (!(std::fabs(x) < 134217728.0))
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(F(x)));
}

double f_exp(double x) { return std::exp(x); }
double f_sin(double x) { return std::sin(x); }
double f_cos(double x) { return std::cos(x); }
double f_tan(double x) { return std::tan(x); }
double f_atan(double x) { return std::atan(x); }
double f_sinh(double x) { return std::sinh(x); }
double f_cosh(double x) { return std::cosh(x); }
double f_tanh(double x) { return std::tanh(x); }

OMBRIX_FN(abs) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(Value::number(std::fabs(x)));
}
OMBRIX_FN(sqrt) {
    OMBRIX_NUMBER(0, x);
    if (x < 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::sqrt(x)));
}
OMBRIX_FN(ln) {
    OMBRIX_NUMBER(0, x);
    if (x <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::log(x)));
}
OMBRIX_FN(log10) {
    OMBRIX_NUMBER(0, x);
    if (x <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::log10(x)));
}
OMBRIX_FN(log) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER_OR(1, base, 10);
    if (x <= 0 || base <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (base == 1)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(base == 10 ? std::log10(x) : std::log(x) / std::log(base)));
}
OMBRIX_FN(power) { OMBRIX_RETURN(apply_binary(Op::Pow, c.arg(0), c.arg(1), c.ev.grid.date1904())); }
OMBRIX_FN(mod) {
    OMBRIX_NUMBER(0, a);
    OMBRIX_NUMBER(1, b);
    if (b == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    // The remainder of the division itself (not a - b*INT(a/b), which loses the small ones),
    // given the divisor's sign. Of whole numbers below 2^53 it is the integers' remainder,
    // exactly as fmod() gives it (but for the sign of a zero, which a number loses), faster.
    constexpr double whole = 9007199254740992.0;
    double r = a == std::trunc(a) && b == std::trunc(b) && std::fabs(a) < whole && std::fabs(b) < whole
                   ? double(std::int64_t(a) % std::int64_t(b))
                   : std::fmod(a, b);
    if (r != 0 && (r < 0) != (b < 0))
        r += b;
    if (r != 0 && approx_equal(r, b))
        r = 0;
    OMBRIX_RETURN(Value::number(r));
}
OMBRIX_FN(int) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(Value::number(std::floor(x)));
}
OMBRIX_FN(trunc) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER_OR(1, d, 0);
    OMBRIX_RETURN(round_digits(x, d, 2));
}
OMBRIX_FN(round) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, d);
    OMBRIX_RETURN(round_digits(x, d, 0));
}
OMBRIX_FN(roundup) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, d);
    OMBRIX_RETURN(round_digits(x, d, 1));
}
OMBRIX_FN(rounddown) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, d);
    OMBRIX_RETURN(round_digits(x, d, 2));
}
OMBRIX_FN(sign) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(Value::number(x > 0 ? 1 : x < 0 ? -1 : 0));
}
OMBRIX_FN(pi) {
    (void)c;
    OMBRIX_RETURN(Value::number(3.14159265358979323846));
}
OMBRIX_FN(asin) {
    OMBRIX_NUMBER(0, x);
    if (x < -1 || x > 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::asin(x)));
}
OMBRIX_FN(acos) {
    OMBRIX_NUMBER(0, x);
    if (x < -1 || x > 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::acos(x)));
}
OMBRIX_FN(atan2) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, y);
    if (x == 0 && y == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(std::atan2(y, x)));
}
OMBRIX_FN(degrees) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(Value::number(x * (180.0 / 3.14159265358979323846)));
}
OMBRIX_FN(radians) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(Value::number(x * (3.14159265358979323846 / 180.0)));
}
OMBRIX_FN(floor) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER_OR(1, s, 1);
    if (s == 0)
        OMBRIX_RETURN(x == 0 ? Value::number(0) : err(ErrorCode::Div0));
    if (x > 0 && s < 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::floor(snap15(x / s)) * s));
}
OMBRIX_FN(ceiling) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER_OR(1, s, 1);
    if (s == 0)
        OMBRIX_RETURN(Value::number(0));
    if (x > 0 && s < 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::ceil(snap15(x / s)) * s));
}
OMBRIX_FN(fact) {
    OMBRIX_NUMBER(0, x);
    if (x < 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double n = std::floor(x), r = 1;
    if (n > 170)
        OMBRIX_RETURN(err(ErrorCode::Num));
    for (double k = 2; k <= n; ++k)
        r *= k;
    OMBRIX_RETURN(Value::number(r));
}

OMBRIX_FN(mround) {
    if (c.argc < 2 || c.args[0].kind == Item::Missing || c.args[1].kind == Item::Missing)
        OMBRIX_RETURN(err(ErrorCode::NA));
    double x, m;
    if (!plain_number(c, 0, x, out.v) || !plain_number(c, 1, m, out.v))
        return;
    if (m == 0 || x == 0)
        OMBRIX_RETURN(Value::number(0));
    if ((x > 0) != (m > 0))
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::round(snap15(x / m)) * m));
}
OMBRIX_FN(quotient) {
    double a, b;
    if (!plain_number(c, 0, a, out.v) || !plain_number(c, 1, b, out.v))
        return;
    if (b == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(std::trunc(a / b)));
}
// Away from zero to the nearest even (EVEN) or odd (ODD) integer.
OMBRIX_FN(even) {
    OMBRIX_NUMBER(0, x);
    double r = std::ceil(snap15(std::fabs(x) / 2)) * 2;
    OMBRIX_RETURN(Value::number(x < 0 ? -r : r));
}
OMBRIX_FN(odd) {
    OMBRIX_NUMBER(0, x);
    double r = std::ceil(snap15((std::fabs(x) + 1) / 2)) * 2 - 1;
    OMBRIX_RETURN(Value::number(x < 0 ? -r : r));
}

constexpr double two53 = 9007199254740992.0; // beyond it not every integer is a double

// The whole numbers of every argument for GCD and LCM, truncated: text is read as a number
// wherever it is (in cells and arrays too), booleans are #VALUE!, a negative number or one of
// 2^53 or more #NUM!, an omitted argument #N/A. An empty cell of a range counts as 0; an empty
// single cell is skipped, and when nothing else is given the answer is #VALUE!.
bool whole_numbers(Ctx& c, std::vector<double>& xs, Value& error) {
    bool ok = true, empty_cell = false;
    for (int i = 0; i < c.argc && ok; ++i) {
        const Item& it = c.args[i];
        if (it.kind == Item::Missing) {
            error = err(ErrorCode::NA);
            return false;
        }
        each_value(c, i, i + 1, [&](const Value& v, bool, bool) {
            if (!ok)
                return;
            if (v.is_empty() && it.kind != Item::Range) {
                empty_cell = true;
                return;
            }
            double x = 0;
            ErrorCode e = ErrorCode::Value;
            if (v.is_boolean() || !to_number(v, x, e, c.ev.grid.date1904())) {
                error = err(e), ok = false;
                return;
            }
            if (x < 0 || x >= two53) {
                error = err(ErrorCode::Num), ok = false;
                return;
            }
            xs.push_back(std::trunc(x));
        });
    }
    if (ok && xs.empty() && empty_cell) {
        error = err(ErrorCode::Value);
        return false;
    }
    return ok;
}
double gcd(double a, double b) {
    while (b != 0)
        a = std::fmod(a, b), std::swap(a, b);
    return a;
}
OMBRIX_FN(gcd) {
    auto& xs = numbers();
    Value e;
    if (!whole_numbers(c, xs, e))
        OMBRIX_RETURN(e);
    double g = 0;
    for (double x : xs)
        g = gcd(g, x);
    OMBRIX_RETURN(Value::number(g));
}
OMBRIX_FN(lcm) {
    auto& xs = numbers();
    Value e;
    if (!whole_numbers(c, xs, e))
        OMBRIX_RETURN(e);
    if (xs.empty())
        OMBRIX_RETURN(Value::number(0));
    double l = 1;
    for (double x : xs) {
        if (x == 0)
            OMBRIX_RETURN(Value::number(0));
        l = l / gcd(l, x) * x;
        if (l >= two53)
            OMBRIX_RETURN(err(ErrorCode::Num));
    }
    OMBRIX_RETURN(Value::number(l));
}
OMBRIX_FN(combin) {
    OMBRIX_NUMBER(0, nf);
    OMBRIX_NUMBER(1, kf);
    double n = std::trunc(nf), k = std::trunc(kf);
    if (n < 0 || k < 0 || n < k)
        OMBRIX_RETURN(err(ErrorCode::Num));
    k = std::min(k, n - k);
    double r = 1;
    for (double i = 1; i <= k && std::isfinite(r); ++i) // each factor >= 1: overflows soon if at all
        r = r * (n - k + i) / i;
    OMBRIX_RETURN(Value::number(r < two53 ? std::round(r) : r));
}
OMBRIX_FN(permut) {
    OMBRIX_NUMBER(0, nf);
    OMBRIX_NUMBER(1, kf);
    double n = std::trunc(nf), k = std::trunc(kf);
    if (n <= 0 || k < 0 || n < k)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double r = 1;
    for (double i = 0; i < k && std::isfinite(r); ++i)
        r *= n - i;
    OMBRIX_RETURN(Value::number(r));
}

// SUMX2MY2, SUMX2PY2, SUMXMY2: a sum over the pairs of two arrays; #DIV/0! without a pair of
// numbers.
template <double (*F)(double, double)>
void sum_of_pairs(Ctx& c, Item& out) {
    std::vector<double> xs, ys;
    Value e;
    if (!paired_numbers(c, 0, 1, xs, ys, e))
        OMBRIX_RETURN(e);
    if (xs.empty())
        OMBRIX_RETURN(err(ErrorCode::Div0));
    double s = 0;
    for (std::size_t i = 0; i < xs.size(); ++i)
        s += F(xs[i], ys[i]);
    OMBRIX_RETURN(Value::number(s));
}
double x2my2(double x, double y) { return x * x - y * y; }
double x2py2(double x, double y) { return x * x + y * y; }
double xmy2(double x, double y) { return (x - y) * (x - y); }

OMBRIX_FN(sqrtpi) {
    OMBRIX_NUMBER(0, x);
    if (x < 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::sqrt(x * 3.14159265358979323846)));
}

// Uniform in [0, 1), 53 random bits.
double uniform() {
    thread_local std::mt19937_64 engine{std::random_device{}()};
    return double(engine() >> 11) * (1.0 / two53);
}
OMBRIX_FN(rand) {
    (void)c;
    OMBRIX_RETURN(Value::number(uniform()));
}
OMBRIX_FN(randbetween) {
    OMBRIX_NUMBER(0, lo);
    OMBRIX_NUMBER(1, hi);
    lo = std::ceil(lo), hi = std::floor(hi);
    if (lo > hi)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::min(hi, lo + std::floor(uniform() * (hi - lo + 1)))));
}

} // namespace

std::vector<Entry> math_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"ABS", 1, 1, L}, fn_abs},
        {{"SQRT", 1, 1, L}, fn_sqrt},
        {{"EXP", 1, 1, L}, math1<f_exp>},
        {{"LN", 1, 1, L}, fn_ln},
        {{"LOG", 1, 2, L}, fn_log},
        {{"LOG10", 1, 1, L}, fn_log10},
        {{"POWER", 2, 2, L}, fn_power},
        {{"MOD", 2, 2, L}, fn_mod},
        {{"INT", 1, 1, L}, fn_int},
        {{"TRUNC", 1, 2, L}, fn_trunc},
        {{"ROUND", 2, 2, L}, fn_round},
        {{"ROUNDUP", 2, 2, L}, fn_roundup},
        {{"ROUNDDOWN", 2, 2, L}, fn_rounddown},
        {{"SIGN", 1, 1, L}, fn_sign},
        {{"PI", 0, 0, 0}, fn_pi},
        {{"SIN", 1, 1, L}, trig<f_sin>},
        {{"COS", 1, 1, L}, trig<f_cos>},
        {{"TAN", 1, 1, L}, trig<f_tan>},
        {{"ASIN", 1, 1, L}, fn_asin},
        {{"ACOS", 1, 1, L}, fn_acos},
        {{"ATAN", 1, 1, L}, math1<f_atan>},
        {{"ATAN2", 2, 2, L}, fn_atan2},
        {{"SINH", 1, 1, L}, math1<f_sinh>},
        {{"COSH", 1, 1, L}, math1<f_cosh>},
        {{"TANH", 1, 1, L}, math1<f_tanh>},
        {{"DEGREES", 1, 1, L}, fn_degrees},
        {{"RADIANS", 1, 1, L}, fn_radians},
        {{"FLOOR", 1, 2, L}, fn_floor},
        {{"CEILING", 1, 2, L}, fn_ceiling},
        {{"FACT", 1, 1, L}, fn_fact},
        {{"MROUND", 2, 2, L}, fn_mround},
        {{"QUOTIENT", 2, 2, L}, fn_quotient},
        {{"EVEN", 1, 1, L}, fn_even},
        {{"ODD", 1, 1, L}, fn_odd},
        {{"GCD", 1, -1, 0}, fn_gcd},
        {{"LCM", 1, -1, 0}, fn_lcm},
        {{"COMBIN", 2, 2, L}, fn_combin},
        {{"PERMUT", 2, 2, L}, fn_permut},
        {{"SUMX2MY2", 2, 2, FnArrayArgs}, sum_of_pairs<x2my2>},
        {{"SUMX2PY2", 2, 2, FnArrayArgs}, sum_of_pairs<x2py2>},
        {{"SUMXMY2", 2, 2, FnArrayArgs}, sum_of_pairs<xmy2>},
        {{"SQRTPI", 1, 1, L}, fn_sqrtpi},
        {{"RAND", 0, 0, FnVolatile}, fn_rand},
        {{"RANDBETWEEN", 2, 2, L | FnVolatile}, fn_randbetween},
    };
}

} // namespace host::engine::detail::fn
