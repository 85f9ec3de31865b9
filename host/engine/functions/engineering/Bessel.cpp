// BESSELJ, BESSELY, BESSELI and BESSELK as the spreadsheet computes them: not the exact functions
// but the classic published approximations (Hart's rational fits for J0, J1, Y0 and Y1, with
// their asymptotic forms from x = 8; Abramowitz & Stegun 9.8.1-9.8.8 for I0, I1, K0 and K1),
// taken to order n by recurrence: upward for Y and K and for J when x > n, Miller's downward
// recurrence for I and for J when x <= n. They differ from the exact values from about the 8th
// digit, and workbooks hold the spreadsheet's digits, so these are reproduced bit for bit,
// including two coefficients the spreadsheet has in its own form (see j0 and j1).

#include "engine/functions/Common.hpp"

#include <cmath>
#include <initializer_list>

namespace host::engine::detail::fn {

namespace {

// c0 + y*(c1 + y*(c2 + ...)), evaluated innermost first as the published forms are written.
double horner(std::initializer_list<double> coefficients, double y) {
    const double* first = coefficients.begin();
    const double* c = coefficients.end();
    double r = *--c;
    while (c != first)
        r = *--c + y * r;
    return r;
}

constexpr double two_over_pi = 0.636619772; // the fits' own rounding of 2/pi

// The asymptotic forms' P and Q for orders 0 and 1, beyond x = 8.
double p0(double y) { return horner({1.0, -0.1098628627e-2, 0.2734510407e-4, -0.2073370639e-5, 0.2093887211e-6}, y); }
double q0(double y) {
    return horner({-0.1562499995e-1, 0.1430488765e-3, -0.6911147651e-5, 0.7621095161e-6, -0.934935152e-7}, y);
}
double p1(double y) { return horner({1.0, 0.183105e-2, -0.3516396496e-4, 0.2457520174e-5, -0.240337019e-6}, y); }
double q1(double y) {
    return horner({0.04687499995, -0.2002690873e-3, 0.8449199096e-5, -0.88228987e-6, 0.105787412e-6}, y);
}

double j0(double x) {
    const double ax = std::fabs(x);
    if (ax < 8.0) {
        const double y = x * x;
        return horner({57568490574.0, -13362590354.0, 651619640.7, -11214424.18, 77392.33017, -184.9052456}, y) /
               horner({57568490411.0, 1029532985.0, 9494680.718, 59272.64853, 267.8532712, 1.0}, y);
    }
    const double z = 8.0 / ax, y = z * z, xx = ax - 0.785398164;
    // The spreadsheet's P has -0.1098628267e-2 where Y0's has -0.1098628627e-2.
    const double p = horner({1.0, -0.1098628267e-2, 0.2734510407e-4, -0.2073370639e-5, 0.2093887211e-6}, y);
    return std::sqrt(two_over_pi / ax) * (std::cos(xx) * p - z * std::sin(xx) * q0(y));
}

double j1(double x) {
    const double ax = std::fabs(x);
    if (ax < 8.0) {
        const double y = x * x;
        return x * horner({72362614232.0, -7895059235.0, 242396853.1, -2972611.439, 15704.48260, -30.16036606}, y) /
               horner({144725228442.0, 2300535178.0, 18583304.74, 99447.43394, 376.9991397, 1.0}, y);
    }
    const double z = 8.0 / ax, y = z * z, xx = ax - 2.356194491;
    // The spreadsheet's P repeats the y^2 coefficient as the y^3 one, one degree higher than Y1's.
    const double p =
        horner({1.0, 0.183105e-2, -0.3516396496e-4, -0.3516396496e-4, 0.2457520174e-5, -0.240337019e-6}, y);
    const double r = std::sqrt(two_over_pi / ax) * (std::cos(xx) * p - z * std::sin(xx) * q1(y));
    return x < 0 ? -r : r;
}

double y0(double x) {
    if (x < 8.0) {
        const double y = x * x;
        const double fit =
            horner({-2957821389.0, 7062834065.0, -512359803.6, 10879881.29, -86327.92757, 228.4622733}, y) /
            horner({40076544269.0, 745249964.8, 7189466.438, 47447.26470, 226.1030244, 1.0}, y);
        return fit + two_over_pi * j0(x) * std::log(x);
    }
    const double z = 8.0 / x, y = z * z, xx = x - 0.785398164;
    return std::sqrt(two_over_pi / x) * (std::sin(xx) * p0(y) + z * std::cos(xx) * q0(y));
}

double y1(double x) {
    if (x < 8.0) {
        const double y = x * x;
        const double fit = x *
                           horner({-0.4900604943e13, 0.1275274390e13, -0.5153438139e11, 0.7349264551e9, -0.4237922726e7,
                                   0.8511937935e4},
                                  y) /
                           horner({0.2499580570e14, 0.4244419664e12, 0.3733650367e10, 0.2245904002e8, 0.1020426050e6,
                                   0.3549632885e3, 1.0},
                                  y);
        return fit + two_over_pi * (j1(x) * std::log(x) - 1.0 / x);
    }
    const double z = 8.0 / x, y = z * z, xx = x - 2.356194491;
    return std::sqrt(two_over_pi / x) * (std::sin(xx) * p1(y) + z * std::cos(xx) * q1(y));
}

double i0(double x) {
    const double ax = std::fabs(x);
    if (ax < 3.75) {
        const double t = x / 3.75;
        return horner({1.0, 3.5156229, 3.0899424, 1.2067492, 0.2659732, 0.360768e-1, 0.45813e-2}, t * t);
    }
    const double y = 3.75 / ax;
    return (std::exp(ax) / std::sqrt(ax)) * horner({0.39894228, 0.1328592e-1, 0.225319e-2, -0.157565e-2, 0.916281e-2,
                                                    -0.2057706e-1, 0.2635537e-1, -0.1647633e-1, 0.392377e-2},
                                                   y);
}

double i1(double x) {
    const double ax = std::fabs(x);
    double r;
    if (ax < 3.75) {
        const double t = x / 3.75;
        r = ax * horner({0.5, 0.87890594, 0.51498869, 0.15084934, 0.2658733e-1, 0.301532e-2, 0.32411e-3}, t * t);
    } else {
        const double y = 3.75 / ax;
        r = horner({0.39894228, -0.3988024e-1, -0.362018e-2, 0.163801e-2, -0.1031555e-1, 0.2282967e-1, -0.2895312e-1,
                    0.1787654e-1, -0.420059e-2},
                   y) *
            (std::exp(ax) / std::sqrt(ax));
    }
    return x < 0 ? -r : r;
}

double k0(double x) {
    if (x <= 2.0) {
        const double y = x * x / 4.0;
        return (-std::log(x / 2.0) * i0(x)) +
               horner({-0.57721566, 0.42278420, 0.23069756, 0.3488590e-1, 0.262698e-2, 0.10750e-3, 0.74e-5}, y);
    }
    const double y = 2.0 / x;
    return (std::exp(-x) / std::sqrt(x)) *
           horner({1.25331414, -0.7832358e-1, 0.2189568e-1, -0.1062446e-1, 0.587872e-2, -0.251540e-2, 0.53208e-3}, y);
}

double k1(double x) {
    if (x <= 2.0) {
        const double y = x * x / 4.0;
        return (std::log(x / 2.0) * i1(x)) +
               (1.0 / x) *
                   horner({1.0, 0.15443144, -0.67278579, -0.18156897, -0.1919402e-1, -0.110404e-2, -0.4686e-4}, y);
    }
    const double y = 2.0 / x;
    return (std::exp(-x) / std::sqrt(x)) *
           horner({1.25331414, 0.23498619, -0.3655620e-1, 0.1504268e-1, -0.780353e-2, 0.325614e-2, -0.68245e-3}, y);
}

// Miller's downward recurrence starts this far above n (NR's ACC = 40); values beyond
// `rescale_above` are scaled down by `rescale_by` on the way to stay finite.
constexpr double start_margin = 40.0, rescale_above = 1e10, rescale_by = 1e-10;

int downward_start(int n) { return 2 * ((n + int(std::sqrt(start_margin * n))) / 2); }

double jn(int n, double x) {
    if (n == 0)
        return j0(x);
    if (n == 1)
        return j1(x);
    const double ax = std::fabs(x);
    if (ax == 0.0)
        return 0.0;
    const double tox = 2.0 / ax;
    double r;
    if (ax > n) {
        double below = j0(ax), at = j1(ax);
        for (int j = 1; j < n; ++j) {
            const double above = j * tox * at - below;
            below = at;
            at = above;
        }
        r = at;
    } else {
        bool odd_term = false;
        double above = 0, sum = 0, at = 1;
        r = 0;
        for (int j = downward_start(n); j > 0; --j) {
            const double below = j * tox * at - above;
            above = at;
            at = below;
            if (std::fabs(at) > rescale_above) {
                at *= rescale_by;
                above *= rescale_by;
                r *= rescale_by;
                sum *= rescale_by;
            }
            if (odd_term)
                sum += at;
            odd_term = !odd_term;
            if (j == n)
                r = above;
        }
        sum = 2.0 * sum - at; // J0 + 2 (J2 + J4 + ...) = 1 normalises the sequence
        r /= sum;
    }
    return x < 0 && (n & 1) ? -r : r;
}

double in(int n, double x) {
    if (n == 0)
        return i0(x);
    if (n == 1)
        return i1(x);
    if (x == 0.0)
        return 0.0;
    const double tox = 2.0 / std::fabs(x);
    double above = 0, at = 1, r = 0;
    for (int j = 2 * (n + int(std::sqrt(start_margin * n))); j > 0; --j) {
        const double below = above + j * tox * at;
        above = at;
        at = below;
        if (std::fabs(at) > rescale_above) {
            r *= rescale_by;
            at *= rescale_by;
            above *= rescale_by;
        }
        if (j == n)
            r = above;
    }
    r *= i0(x) / at;
    return x < 0 && (n & 1) ? -r : r;
}

// Y and K from their orders 0 and 1 upward (both grow with n, so upward is stable):
// Y(j+1) = 2j/x Y(j) - Y(j-1), K(j+1) = K(j-1) + 2j/x K(j).
template <bool IsK>
double upward(int n, double x) {
    const double tox = 2.0 / x;
    double below = IsK ? k0(x) : y0(x);
    if (n == 0)
        return below;
    double at = IsK ? k1(x) : y1(x);
    for (int j = 1; j < n && std::isfinite(at); ++j) {
        const double above = IsK ? below + j * tox * at : j * tox * at - below;
        below = at;
        at = above;
    }
    return at;
}

// Orders beyond this give #NUM! rather than recurrences of millions of steps.
constexpr double max_order = 1e6;

template <int Kind> // 0 J, 1 Y, 2 I, 3 K
void bessel(Ctx& c, Item& out) {
    double x, order;
    if (!plain_number(c, 0, x, out.v) || !plain_number(c, 1, order, out.v))
        return;
    order = std::trunc(order);
    if ((Kind == 0 || Kind == 2) && x == 0 && order > 0) // J and I at 0, of any order above 0
        OMBRIX_RETURN(Value::number(0));
    if (order < 0 || order > max_order || ((Kind == 1 || Kind == 3) && x <= 0))
        OMBRIX_RETURN(err(ErrorCode::Num));
    const int n = int(order);
    const double r = Kind == 0 ? jn(n, x) : Kind == 1 ? upward<false>(n, x) : Kind == 2 ? in(n, x) : upward<true>(n, x);
    OMBRIX_RETURN(std::isfinite(r) ? Value::number(r) : err(ErrorCode::Num));
}

} // namespace

std::vector<Entry> bessel_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"BESSELJ", 2, 2, L}, bessel<0>},
        {{"BESSELY", 2, 2, L}, bessel<1>},
        {{"BESSELI", 2, 2, L}, bessel<2>},
        {{"BESSELK", 2, 2, L}, bessel<3>},
    };
}

} // namespace host::engine::detail::fn
