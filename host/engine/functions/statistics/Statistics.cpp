// Statistical functions.

#include "engine/functions/Common.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <unordered_map>

namespace host::engine::detail::fn {

namespace {

OMBRIX_FN(median) {
    aggregate(c, out, [](std::vector<double>& xs) {
        if (xs.empty())
            return err(ErrorCode::Num);
        std::sort(xs.begin(), xs.end());
        std::size_t n = xs.size();
        return Value::number(n % 2 ? xs[n / 2] : (xs[n / 2 - 1] + xs[n / 2]) / 2);
    });
}

Value root(const Value& v) { return v.is_number() ? Value::number(std::sqrt(v.as_number())) : v; }
OMBRIX_FN(var) {
    aggregate(c, out, [](const std::vector<double>& xs) { return variance(xs, true); });
}
OMBRIX_FN(varp) {
    aggregate(c, out, [](const std::vector<double>& xs) { return variance(xs, false); });
}
OMBRIX_FN(stdev) {
    aggregate(c, out, [](const std::vector<double>& xs) { return root(variance(xs, true)); });
}
OMBRIX_FN(stdevp) {
    aggregate(c, out, [](const std::vector<double>& xs) { return root(variance(xs, false)); });
}

// k is read before the data: an error in it comes before one among the data.
void kth(Ctx& c, Item& out, bool largest) {
    OMBRIX_NUMBER(1, k);
    auto& xs = numbers();
    Value e;
    if (!collect(c, 0, 1, xs, e))
        OMBRIX_RETURN(e);
    // A fractional k rounds away from the middle: up for LARGE, down for SMALL; below 1 it is
    // #NUM! before it is rounded.
    double kk = largest ? std::ceil(snap15(k)) : std::floor(snap15(k));
    if (k < 1 || kk < 1 || kk > double(xs.size()))
        OMBRIX_RETURN(err(ErrorCode::Num));
    std::size_t i = static_cast<std::size_t>(kk) - 1;
    if (largest)
        std::nth_element(xs.begin(), xs.begin() + std::ptrdiff_t(i), xs.end(), std::greater<double>());
    else
        std::nth_element(xs.begin(), xs.begin() + std::ptrdiff_t(i), xs.end());
    OMBRIX_RETURN(Value::number(xs[i]));
}
OMBRIX_FN(large) { kth(c, out, true); }
OMBRIX_FN(small) { kth(c, out, false); }

// CORREL, COVARIANCE.S, COVARIANCE.P over the pairs where both values are numbers.
enum class Pairwise { Correlation, SampleCovariance, PopulationCovariance };

void pairwise(Ctx& c, Item& out, Pairwise kind) {
    std::vector<double> xs, ys;
    Value e;
    if (!paired_numbers(c, 0, 1, xs, ys, e))
        OMBRIX_RETURN(e);
    std::size_t n = xs.size();
    if (n == 0 || (kind == Pairwise::SampleCovariance && n < 2))
        OMBRIX_RETURN(err(ErrorCode::Div0));
    double mx = 0, my = 0;
    for (std::size_t i = 0; i < n; ++i)
        mx += xs[i], my += ys[i];
    mx /= double(n), my /= double(n);
    double sxy = 0, sxx = 0, syy = 0;
    for (std::size_t i = 0; i < n; ++i) {
        double dx = xs[i] - mx, dy = ys[i] - my;
        sxy += dx * dy, sxx += dx * dx, syy += dy * dy;
    }
    if (kind == Pairwise::Correlation) {
        if (sxx == 0 || syy == 0)
            OMBRIX_RETURN(err(ErrorCode::Div0));
        OMBRIX_RETURN(Value::number(sxy / std::sqrt(sxx * syy)));
    }
    OMBRIX_RETURN(Value::number(sxy / double(kind == Pairwise::SampleCovariance ? n - 1 : n)));
}
OMBRIX_FN(correl) { pairwise(c, out, Pairwise::Correlation); }
OMBRIX_FN(covariance_s) { pairwise(c, out, Pairwise::SampleCovariance); }
OMBRIX_FN(covariance_p) { pairwise(c, out, Pairwise::PopulationCovariance); }

// The value at fractional 0-based position h of sorted xs, between neighbours.
double interpolate(const std::vector<double>& xs, double h) {
    std::size_t i = std::size_t(h);
    double frac = h - double(i);
    return i + 1 < xs.size() && frac > 0 ? xs[i] + frac * (xs[i + 1] - xs[i]) : xs[i];
}

// PERCENTILE(.INC) ranks k in [0, 1] across the data; .EXC in (0, 1), within 1/(n+1) of the ends.
Value percentile(std::vector<double>& xs, double k, bool exclusive) {
    std::size_t n = xs.size();
    if (n == 0 || (exclusive ? k <= 0 || k >= 1 : k < 0 || k > 1))
        return err(ErrorCode::Num);
    double h = exclusive ? k * double(n + 1) - 1 : k * double(n - 1);
    if (h < 0 || h > double(n - 1))
        return err(ErrorCode::Num);
    std::sort(xs.begin(), xs.end());
    return Value::number(interpolate(xs, h));
}

// A quart below 0 is #NUM! before it is truncated (QUARTILE(x,-0.5)); 4.5 is 4.
void percentile_of(Ctx& c, Item& out, bool exclusive, bool quartile) {
    OMBRIX_NUMBER(1, k);
    auto& xs = numbers();
    Value e;
    if (!collect(c, 0, 1, xs, e))
        OMBRIX_RETURN(e);
    if (quartile) {
        if (k < 0)
            OMBRIX_RETURN(err(ErrorCode::Num));
        k = std::trunc(k);
        if (k > 4 || (exclusive && (k <= 0 || k >= 4)))
            OMBRIX_RETURN(err(ErrorCode::Num));
        k /= 4;
    }
    OMBRIX_RETURN(percentile(xs, k, exclusive));
}
OMBRIX_FN(percentile_inc) { percentile_of(c, out, false, false); }
OMBRIX_FN(percentile_exc) { percentile_of(c, out, true, false); }
OMBRIX_FN(quartile_inc) { percentile_of(c, out, false, true); }
OMBRIX_FN(quartile_exc) { percentile_of(c, out, true, true); }

// RANK(.EQ): 1 + how many come before the number in the order (descending unless the third
// argument is nonzero); RANK.AVG averages the places of equal numbers. #N/A if it is absent.
void rank(Ctx& c, Item& out, bool average) {
    OMBRIX_NUMBER(0, x);
    auto& xs = numbers();
    Value e;
    if (!collect(c, 1, 2, xs, e))
        OMBRIX_RETURN(e);
    OMBRIX_NUMBER_OR(2, order, 0);
    double before = 0, equal = 0;
    for (double v : xs) {
        if (v == x)
            ++equal;
        else if (order == 0 ? v > x : v < x)
            ++before;
    }
    if (equal == 0)
        OMBRIX_RETURN(err(ErrorCode::NA));
    OMBRIX_RETURN(Value::number(before + 1 + (average ? (equal - 1) / 2 : 0)));
}
OMBRIX_FN(rank_eq) { rank(c, out, false); }
OMBRIX_FN(rank_avg) { rank(c, out, true); }

// The most frequent number; among equally frequent ones the first met. #N/A if none repeats.
// Only numbers are taken: text typed as an argument, or a reference to one empty cell, is
// #VALUE! (unless an error comes first).
OMBRIX_FN(mode) {
    auto& xs = numbers();
    Value e;
    for (int i = 0; i < c.argc; ++i) {
        const Item& it = c.args[i];
        if ((it.kind == Item::Val && it.v.is_text()) || (it.kind == Item::Cell && c.arg(i).is_empty()))
            OMBRIX_RETURN(err(ErrorCode::Value));
        if (!collect(c, i, i + 1, xs, e))
            OMBRIX_RETURN(e);
    }
    std::unordered_map<double, std::size_t> counts;
    for (double x : xs)
        ++counts[x];
    std::size_t best = 1;
    double mode = 0;
    for (double x : xs)
        if (counts[x] > best)
            best = counts[x], mode = x;
    OMBRIX_RETURN(best > 1 ? Value::number(mode) : err(ErrorCode::NA));
}

OMBRIX_FN(geomean) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        double logs = 0;
        for (double x : xs) {
            if (x <= 0)
                return err(ErrorCode::Num);
            logs += std::log(x);
        }
        return xs.empty() ? err(ErrorCode::Num) : Value::number(std::exp(logs / double(xs.size())));
    });
}
OMBRIX_FN(harmean) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        double inverses = 0;
        for (double x : xs) {
            if (x <= 0)
                return err(ErrorCode::Num);
            inverses += 1 / x;
        }
        return xs.empty() ? err(ErrorCode::Num) : Value::number(double(xs.size()) / inverses);
    });
}

} // namespace

std::vector<Entry> statistics_functions() {
    return {
        {{"MEDIAN", 1, -1, 0}, fn_median},
        {{"STDEV", 1, -1, 0}, fn_stdev},
        {{"STDEVP", 1, -1, 0}, fn_stdevp},
        {{"VAR", 1, -1, 0}, fn_var},
        {{"VARP", 1, -1, 0}, fn_varp},
        {{"STDEV.S", 1, -1, 0}, fn_stdev},
        {{"STDEV.P", 1, -1, 0}, fn_stdevp},
        {{"VAR.S", 1, -1, 0}, fn_var},
        {{"VAR.P", 1, -1, 0}, fn_varp},
        {{"CORREL", 2, 2, FnArrayArgs}, fn_correl},
        {{"COVARIANCE.S", 2, 2, FnArrayArgs}, fn_covariance_s},
        {{"COVARIANCE.P", 2, 2, FnArrayArgs}, fn_covariance_p},
        {{"COVAR", 2, 2, FnArrayArgs}, fn_covariance_p},
        {{"PERCENTILE", 2, 2, 0, "av"}, fn_percentile_inc},
        {{"PERCENTILE.INC", 2, 2, 0, "av"}, fn_percentile_inc},
        {{"PERCENTILE.EXC", 2, 2, 0, "av"}, fn_percentile_exc},
        {{"QUARTILE", 2, 2, 0, "av"}, fn_quartile_inc},
        {{"QUARTILE.INC", 2, 2, 0, "av"}, fn_quartile_inc},
        {{"QUARTILE.EXC", 2, 2, 0, "av"}, fn_quartile_exc},
        {{"RANK", 2, 3, 0, "vav"}, fn_rank_eq},
        {{"RANK.EQ", 2, 3, 0, "vav"}, fn_rank_eq},
        {{"RANK.AVG", 2, 3, 0, "vav"}, fn_rank_avg},
        // MODE(MATCH(A1:A9,A1:A9,0)) in an ordinary formula: the most frequent position.
        {{"MODE", 1, -1, FnArrayArgs}, fn_mode},
        {{"MODE.SNGL", 1, -1, FnArrayArgs}, fn_mode},
        {{"GEOMEAN", 1, -1, 0}, fn_geomean},
        {{"HARMEAN", 1, -1, 0}, fn_harmean},
        {{"LARGE", 2, 2, 0, "av"}, fn_large},
        {{"SMALL", 2, 2, 0, "av"}, fn_small},
    };
}

} // namespace host::engine::detail::fn
