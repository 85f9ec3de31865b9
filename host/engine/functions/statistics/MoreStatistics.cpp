// Descriptive statistics beyond the classic ones (TRIMMEAN, KURT, SKEW, AVEDEV, DEVSQ, the A
// variants of STDEV and VAR), linear regression of two arrays (SLOPE, INTERCEPT, RSQ, PEARSON,
// STEYX, FORECAST), PERCENTRANK, PROB and the tests (Z.TEST, T.TEST, F.TEST, CHISQ.TEST).

#include "engine/functions/Common.hpp"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/fisher_f.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>

#include <algorithm>
#include <cmath>

namespace host::engine::detail::fn {

namespace {

namespace bm = boost::math;

double mean(const std::vector<double>& xs) {
    double s = 0;
    for (double x : xs)
        s += x;
    return s / double(xs.size());
}

double squared_deviations(const std::vector<double>& xs) {
    double m = mean(xs), s = 0;
    for (double x : xs)
        s += (x - m) * (x - m);
    return s;
}

OMBRIX_FN(trimmean) {
    std::vector<double> xs;
    Value e;
    if (!collect(c, 0, 1, xs, e))
        OMBRIX_RETURN(e);
    OMBRIX_NUMBER(1, fraction);
    if (fraction < 0 || fraction >= 1 || xs.empty())
        OMBRIX_RETURN(err(ErrorCode::Num));
    // Trimmed symmetrically: the count dropped is rounded down to an even number.
    std::size_t drop = std::size_t(std::floor(double(xs.size()) * fraction / 2));
    std::sort(xs.begin(), xs.end());
    std::vector<double> kept(xs.begin() + std::ptrdiff_t(drop), xs.end() - std::ptrdiff_t(drop));
    OMBRIX_RETURN(Value::number(mean(kept)));
}

OMBRIX_FN(devsq) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        return xs.empty() ? err(ErrorCode::Num) : Value::number(squared_deviations(xs));
    });
}
OMBRIX_FN(avedev) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        if (xs.empty())
            return err(ErrorCode::Num);
        double m = mean(xs), s = 0;
        for (double x : xs)
            s += std::fabs(x - m);
        return Value::number(s / double(xs.size()));
    });
}

// SKEW (sample), SKEW.P (population) and KURT.
template <int Kind>
void shape(Ctx& c, Item& out) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        double n = double(xs.size());
        if ((Kind == 0 && n < 3) || (Kind == 1 && n < 1) || (Kind == 2 && n < 4))
            return err(ErrorCode::Div0);
        double m = mean(xs);
        double sd = std::sqrt(squared_deviations(xs) / (Kind == 1 ? n : n - 1));
        if (sd == 0)
            return err(ErrorCode::Div0);
        double s3 = 0, s4 = 0;
        for (double x : xs) {
            double z = (x - m) / sd;
            s3 += z * z * z;
            s4 += z * z * z * z;
        }
        if (Kind == 0)
            return Value::number(n / ((n - 1) * (n - 2)) * s3);
        if (Kind == 1)
            return Value::number(s3 / n);
        return Value::number(n * (n + 1) / ((n - 1) * (n - 2) * (n - 3)) * s4 -
                             3 * (n - 1) * (n - 1) / ((n - 2) * (n - 3)));
    });
}

// STDEVA, STDEVPA, VARA, VARPA: text and FALSE in references count as 0, TRUE as 1.
template <bool Sample, bool Root>
void variance_a(Ctx& c, Item& out) {
    std::vector<double> xs;
    Value error;
    each_value(c, 0, c.argc, [&](const Value& v, bool direct, bool missing) {
        if (error.is_error() || (v.is_empty() && !missing))
            return;
        if (v.is_error()) {
            error = v;
            return;
        }
        if (v.is_number())
            xs.push_back(v.as_number());
        else if (v.is_boolean())
            xs.push_back(v.as_boolean() ? 1 : 0);
        else if (v.is_text()) {
            double x = 0;
            ErrorCode e;
            if (direct && !to_number(v, x, e, c.ev.grid.date1904()))
                error = err(ErrorCode::Value);
            xs.push_back(direct ? x : 0);
        } else if (missing) {
            xs.push_back(0);
        }
    });
    if (error.is_error())
        OMBRIX_RETURN(error);
    Value v = variance(xs, Sample);
    OMBRIX_RETURN(Root && v.is_number() ? Value::number(std::sqrt(v.as_number())) : v);
}

// The sums of a least-squares line through the pairs of two arrays (ys first, as SLOPE takes them).
struct Line {
    double n = 0, mx = 0, my = 0, sxx = 0, syy = 0, sxy = 0;
};
bool line(Ctx& c, int ys_arg, int xs_arg, Line& l, Value& out) {
    std::vector<double> xs, ys;
    if (!paired_numbers(c, xs_arg, ys_arg, xs, ys, out))
        return false;
    l.n = double(xs.size());
    if (l.n == 0) {
        out = err(ErrorCode::Div0);
        return false;
    }
    l.mx = mean(xs), l.my = mean(ys);
    for (std::size_t i = 0; i < xs.size(); ++i) {
        double dx = xs[i] - l.mx, dy = ys[i] - l.my;
        l.sxx += dx * dx, l.syy += dy * dy, l.sxy += dx * dy;
    }
    return true;
}

template <int Kind> // 0 SLOPE, 1 INTERCEPT, 2 RSQ, 3 PEARSON, 4 STEYX
void regression(Ctx& c, Item& out) {
    Line l;
    if (!line(c, 0, 1, l, out.v))
        return;
    switch (Kind) {
    case 0: OMBRIX_RETURN(l.sxx == 0 ? err(ErrorCode::Div0) : Value::number(l.sxy / l.sxx));
    case 1: OMBRIX_RETURN(l.sxx == 0 ? err(ErrorCode::Div0) : Value::number(l.my - l.sxy / l.sxx * l.mx));
    case 2:
    case 3: {
        if (l.sxx == 0 || l.syy == 0)
            OMBRIX_RETURN(err(ErrorCode::Div0));
        double r = l.sxy / std::sqrt(l.sxx * l.syy);
        OMBRIX_RETURN(Value::number(Kind == 2 ? r * r : r));
    }
    default:
        if (l.n < 3 || l.sxx == 0)
            OMBRIX_RETURN(err(ErrorCode::Div0));
        OMBRIX_RETURN(Value::number(std::sqrt((l.syy - l.sxy * l.sxy / l.sxx) / (l.n - 2))));
    }
}

OMBRIX_FN(forecast) {
    OMBRIX_NUMBER(0, x);
    Line l;
    if (!line(c, 1, 2, l, out.v))
        return;
    if (l.sxx == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    double b = l.sxy / l.sxx;
    OMBRIX_RETURN(Value::number(l.my - b * l.mx + b * x));
}

// PERCENTRANK.INC (and PERCENTRANK) and PERCENTRANK.EXC: x's rank in the array, interpolated,
// truncated to `significance` digits.
template <bool Exclusive>
void percentrank(Ctx& c, Item& out) {
    std::vector<double> xs;
    Value e;
    if (!collect(c, 0, 1, xs, e))
        OMBRIX_RETURN(e);
    OMBRIX_NUMBER(1, x);
    OMBRIX_NUMBER_OR(2, digits_arg, 3);
    double digits = std::trunc(digits_arg);
    if (xs.empty() || digits < 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    std::sort(xs.begin(), xs.end());
    if (x < xs.front() || x > xs.back())
        OMBRIX_RETURN(err(ErrorCode::NA));
    double n = double(xs.size());
    auto rank_of = [&](double v) { // the number of values below v, interpolated
        auto lo = std::lower_bound(xs.begin(), xs.end(), v);
        double below = double(lo - xs.begin());
        if (lo != xs.end() && *lo == v)
            return below;
        double a = *(lo - 1), b = *lo;
        return below - 1 + (v - a) / (b - a);
    };
    double r = Exclusive ? (rank_of(x) + 1) / (n + 1) : (n == 1 ? 1 : rank_of(x) / (n - 1));
    double scale = std::pow(10.0, digits);
    OMBRIX_RETURN(Value::number(std::floor(snap15(r * scale)) / scale));
}

OMBRIX_FN(prob) {
    std::vector<double> xs, ps;
    Value e;
    if (!paired_numbers(c, 0, 1, xs, ps, e))
        OMBRIX_RETURN(e);
    OMBRIX_NUMBER(2, lo);
    double hi = lo;
    if (!c.missing(3) && !num(c, 3, hi, out.v))
        return;
    double total = 0, p = 0;
    for (std::size_t i = 0; i < xs.size(); ++i) {
        if (ps[i] < 0 || ps[i] > 1)
            OMBRIX_RETURN(err(ErrorCode::Num));
        total += ps[i];
        if (xs[i] >= lo && xs[i] <= hi)
            p += ps[i];
    }
    if (xs.empty()) // no pair of numbers: no probabilities to add up
        OMBRIX_RETURN(err(ErrorCode::Div0));
    if (std::fabs(total - 1) > 1e-10)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(p));
}

// x and sigma are read before the data, so their errors come first; a sigma of 0 or less is
// #NUM!, and one number is #DIV/0! even with sigma given.
OMBRIX_FN(z_test) {
    OMBRIX_NUMBER(1, mu);
    double sigma = 0;
    if (!c.missing(2)) {
        if (!num(c, 2, sigma, out.v))
            return;
        if (sigma <= 0)
            OMBRIX_RETURN(err(ErrorCode::Num));
    }
    std::vector<double> xs;
    Value e;
    if (!collect(c, 0, 1, xs, e))
        OMBRIX_RETURN(e);
    if (xs.empty())
        OMBRIX_RETURN(err(ErrorCode::NA));
    if (xs.size() < 2)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    if (c.missing(2))
        sigma = std::sqrt(squared_deviations(xs) / double(xs.size() - 1));
    if (sigma == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    double z = (mean(xs) - mu) / (sigma / std::sqrt(double(xs.size())));
    OMBRIX_RETURN(Value::number(1 - bm::cdf(bm::normal_distribution<>(0, 1), z)));
}

OMBRIX_FN(t_test) {
    OMBRIX_NUMBER(2, tails_arg);
    OMBRIX_NUMBER(3, type_arg);
    double tails = std::trunc(tails_arg), type = std::trunc(type_arg);
    if ((tails != 1 && tails != 2) || type < 1 || type > 3)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double t, df;
    if (type == 1) {
        std::vector<double> xs, ys;
        Value e;
        if (!paired_numbers(c, 0, 1, xs, ys, e))
            OMBRIX_RETURN(e);
        if (xs.size() < 2)
            OMBRIX_RETURN(err(ErrorCode::Div0));
        std::vector<double> d;
        for (std::size_t i = 0; i < xs.size(); ++i)
            d.push_back(xs[i] - ys[i]);
        double n = double(d.size()), sd = std::sqrt(squared_deviations(d) / (n - 1));
        if (sd == 0)
            OMBRIX_RETURN(err(ErrorCode::Div0));
        t = mean(d) / (sd / std::sqrt(n));
        df = n - 1;
    } else {
        std::vector<double> xs, ys;
        Value e;
        if (!collect(c, 0, 1, xs, e) || !collect(c, 1, 2, ys, e))
            OMBRIX_RETURN(e);
        double n1 = double(xs.size()), n2 = double(ys.size());
        if (n1 < 2 || n2 < 2)
            OMBRIX_RETURN(err(ErrorCode::Div0));
        double v1 = squared_deviations(xs) / (n1 - 1), v2 = squared_deviations(ys) / (n2 - 1);
        if (type == 2) {
            df = n1 + n2 - 2;
            double pooled = ((n1 - 1) * v1 + (n2 - 1) * v2) / df;
            t = (mean(xs) - mean(ys)) / std::sqrt(pooled * (1 / n1 + 1 / n2));
        } else {
            double a = v1 / n1, b = v2 / n2;
            t = (mean(xs) - mean(ys)) / std::sqrt(a + b);
            df = (a + b) * (a + b) / (a * a / (n1 - 1) + b * b / (n2 - 1));
        }
    }
    if (!std::isfinite(t))
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(tails * bm::cdf(bm::complement(bm::students_t_distribution<>(df), std::fabs(t)))));
}

OMBRIX_FN(f_test) {
    std::vector<double> xs, ys;
    Value e;
    if (!collect(c, 0, 1, xs, e) || !collect(c, 1, 2, ys, e))
        OMBRIX_RETURN(e);
    if (xs.size() < 2 || ys.size() < 2)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    double v1 = squared_deviations(xs) / double(xs.size() - 1), v2 = squared_deviations(ys) / double(ys.size() - 1);
    if (v1 == 0 || v2 == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    bm::fisher_f_distribution<> f(double(xs.size() - 1), double(ys.size() - 1));
    double p = bm::cdf(f, v1 / v2);
    OMBRIX_RETURN(Value::number(2 * std::min(p, 1 - p)));
}

OMBRIX_FN(chisq_test) {
    View observed(c.ev, c.args[0]), expected(c.ev, c.args[1]);
    if (observed.rows != expected.rows || observed.cols != expected.cols)
        OMBRIX_RETURN(err(ErrorCode::NA));
    double chi = 0;
    for (std::int32_t r = 0; r < observed.rows; ++r)
        for (std::int32_t col = 0; col < observed.cols; ++col) {
            Value o = observed.at(r, col), x = expected.at(r, col);
            if (o.is_error())
                OMBRIX_RETURN(o);
            if (x.is_error())
                OMBRIX_RETURN(x);
            if (!o.is_number() || !x.is_number())
                continue;
            if (x.as_number() == 0)
                OMBRIX_RETURN(err(ErrorCode::Div0));
            chi += (o.as_number() - x.as_number()) * (o.as_number() - x.as_number()) / x.as_number();
        }
    double df = observed.rows > 1 && observed.cols > 1 ? double(observed.rows - 1) * (observed.cols - 1)
                                                       : double(std::max(observed.rows, observed.cols) - 1);
    if (df < 1)
        OMBRIX_RETURN(err(ErrorCode::NA));
    OMBRIX_RETURN(Value::number(bm::cdf(bm::complement(bm::chi_squared_distribution<>(df), chi))));
}

} // namespace

std::vector<Entry> more_statistics_functions() {
    constexpr std::uint8_t A = FnArrayArgs;
    return {
        {{"TRIMMEAN", 2, 2, 0, "av"}, fn_trimmean},
        {{"DEVSQ", 1, -1, 0}, fn_devsq},
        {{"AVEDEV", 1, -1, 0}, fn_avedev},
        {{"SKEW", 1, -1, 0}, shape<0>},
        {{"SKEW.P", 1, -1, 0}, shape<1>},
        {{"KURT", 1, -1, 0}, shape<2>},
        {{"STDEVA", 1, -1, 0}, variance_a<true, true>},
        {{"STDEVPA", 1, -1, 0}, variance_a<false, true>},
        {{"VARA", 1, -1, 0}, variance_a<true, false>},
        {{"VARPA", 1, -1, 0}, variance_a<false, false>},
        {{"SLOPE", 2, 2, A}, regression<0>},
        {{"INTERCEPT", 2, 2, A}, regression<1>},
        {{"RSQ", 2, 2, A}, regression<2>},
        {{"PEARSON", 2, 2, A}, regression<3>},
        {{"STEYX", 2, 2, A}, regression<4>},
        {{"FORECAST", 3, 3, A, "vaa"}, fn_forecast},
        {{"FORECAST.LINEAR", 3, 3, A, "vaa"}, fn_forecast},
        {{"PERCENTRANK", 2, 3, A}, percentrank<false>},
        {{"PERCENTRANK.INC", 2, 3, A}, percentrank<false>},
        {{"PERCENTRANK.EXC", 2, 3, A}, percentrank<true>},
        {{"PROB", 3, 4, A, "aavv"}, fn_prob},
        {{"Z.TEST", 2, 3, A, "avv"}, fn_z_test},
        {{"ZTEST", 2, 3, A, "avv"}, fn_z_test},
        {{"T.TEST", 4, 4, A, "aavv"}, fn_t_test},
        {{"TTEST", 4, 4, A, "aavv"}, fn_t_test},
        {{"F.TEST", 2, 2, A}, fn_f_test},
        {{"FTEST", 2, 2, A}, fn_f_test},
        {{"CHISQ.TEST", 2, 2, A}, fn_chisq_test},
        {{"CHITEST", 2, 2, A}, fn_chisq_test},
    };
}

} // namespace host::engine::detail::fn
