// Least-squares fits and what they give as arrays: LINEST and LOGEST (the coefficients and,
// on request, their statistics), TREND and GROWTH (the fitted values at new points); and
// MODE.MULT, the statistic whose answer is a list.

#include "engine/functions/ArrayArgs.hpp"

#include <cmath>
#include <map>

namespace host::engine::detail::fn {

namespace {

// The data of a fit: n observations of y and of k predictors (x[i * k + j]).
struct FitData {
    std::size_t n = 0, k = 0;
    std::vector<double> y, x;
    bool y_is_row = false; // the observations run along a row: each row of x is a predictor
};

// The known values of a fit (arguments 0 and 1): a column of y takes one predictor per column
// of x, a row of y one per row; any other shape of y takes one x of its own shape. Without x,
// the predictor is 1, 2, 3 ... A mismatch is #REF!, a value that is no number #VALUE!.
bool fit_data(const Ctx& c, bool logarithmic, FitData& d, ValueGrid& xs_shape, Value& out) {
    // Shapes that do not fit are #REF! before what the cells hold is looked at.
    if (!c.missing(1)) {
        const View vy(c.ev, c.args[0]), vx(c.ev, c.args[1]);
        const std::int64_t n = std::int64_t(vy.rows) * vy.cols;
        if (std::int64_t(vx.rows) * vx.cols != n && !(vy.cols == 1 && vy.rows > 1 && vx.rows == vy.rows) &&
            !(vy.rows == 1 && vy.cols > 1 && vx.cols == vy.cols)) {
            out = err(ErrorCode::Ref);
            return false;
        }
    }
    ValueGrid gy, gx;
    if (!matrix_arg(c, 0, gy, d.y, out))
        return false;
    d.n = d.y.size();
    d.y_is_row = gy.rows == 1 && gy.cols > 1;
    if (c.missing(1)) {
        d.k = 1;
        d.x.resize(d.n);
        for (std::size_t i = 0; i < d.n; ++i)
            d.x[i] = double(i + 1);
        xs_shape = sized(gy.rows, gy.cols);
    } else {
        std::vector<double> raw;
        if (!matrix_arg(c, 1, gx, raw, out))
            return false;
        xs_shape = sized(gx.rows, gx.cols);
        const bool column = gy.cols == 1 && gy.rows > 1;
        if (raw.size() == d.n) {
            d.k = 1;
            d.x = raw;
        } else if (column && gx.rows == gy.rows) {
            d.k = std::size_t(gx.cols);
            d.x = raw;
        } else if (d.y_is_row && gx.cols == gy.cols) {
            d.k = std::size_t(gx.rows);
            d.x.resize(raw.size());
            for (std::size_t j = 0; j < d.k; ++j)
                for (std::size_t i = 0; i < d.n; ++i)
                    d.x[i * d.k + j] = raw[j * d.n + i];
        } else {
            out = err(ErrorCode::Ref);
            return false;
        }
    }
    if (logarithmic)
        for (double& v : d.y) {
            if (v <= 0) {
                out = err(ErrorCode::Num);
                return false;
            }
            v = std::log(v);
        }
    return true;
}

// An ordinary least-squares fit, on centred data when it has a constant (for accuracy).
struct Fit {
    std::vector<double> slopes; // one per predictor
    double intercept = 0;
    std::vector<double> means;       // of each predictor (0 without a constant)
    std::vector<double> inverse;     // of X'X (centred), k x k
    double ss_reg = 0, ss_resid = 0; // explained and residual sums of squares
    double df = 0;                   // residual degrees of freedom
    std::size_t kept = 0;            // predictors in the fit: those no combination of others
};

bool solve_kept(const FitData& d, bool constant, Fit& f);

// The predictors that stay, in order: each one that is no combination of those kept before
// it (nor constant, with a constant in the fit). The spreadsheet drops the others, giving
// them a coefficient and a standard error of 0.
std::vector<std::size_t> independent(const FitData& d, bool constant) {
    const std::size_t n = d.n, k = d.k;
    std::vector<double> means(k, 0.0);
    if (constant)
        for (std::size_t i = 0; i < n; ++i)
            for (std::size_t j = 0; j < k; ++j)
                means[j] += d.x[i * k + j] / double(n);
    std::vector<double> a(k * k, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < k; ++j)
            for (std::size_t l = 0; l < k; ++l)
                a[j * k + l] += (d.x[i * k + j] - means[j]) * (d.x[i * k + l] - means[l]);
    std::vector<std::size_t> kept;
    std::vector<std::vector<double>> lower; // the Cholesky factor of the kept ones' products
    for (std::size_t j = 0; j < k; ++j) {
        std::vector<double> z(kept.size());
        double r = a[j * k + j];
        for (std::size_t p = 0; p < kept.size(); ++p) {
            double sum = a[kept[p] * k + j];
            for (std::size_t q = 0; q < p; ++q)
                sum -= lower[p][q] * z[q];
            z[p] = sum / lower[p][p];
            r -= z[p] * z[p];
        }
        if (!(r > 1e-12 * a[j * k + j]) || !(a[j * k + j] > 0))
            continue;
        z.push_back(std::sqrt(r));
        lower.push_back(std::move(z));
        kept.push_back(j);
    }
    return kept;
}

bool solve(const FitData& d, bool constant, Fit& f) {
    const std::vector<std::size_t> kept = independent(d, constant);
    if (kept.size() == d.k)
        return solve_kept(d, constant, f);
    FitData part = d;
    part.k = kept.size();
    part.x.assign(d.n * part.k, 0.0);
    for (std::size_t i = 0; i < d.n; ++i)
        for (std::size_t p = 0; p < part.k; ++p)
            part.x[i * part.k + p] = d.x[i * d.k + kept[p]];
    Fit g;
    if (part.k > 0 && !solve_kept(part, constant, g))
        return false;
    if (part.k == 0) { // nothing to fit but the constant
        double y_mean = 0;
        for (double y : d.y)
            y_mean += y / double(d.n);
        g.intercept = constant ? y_mean : 0;
        for (double y : d.y)
            g.ss_resid += (y - g.intercept) * (y - g.intercept);
        g.ss_reg = 0;
        g.df = double(d.n) - (constant ? 1 : 0);
    }
    f = Fit();
    f.kept = part.k;
    f.intercept = g.intercept;
    f.ss_reg = g.ss_reg;
    f.ss_resid = g.ss_resid;
    f.df = g.df;
    f.slopes.assign(d.k, 0.0);
    f.means.assign(d.k, 0.0);
    f.inverse.assign(d.k * d.k, 0.0);
    for (std::size_t p = 0; p < part.k; ++p) {
        f.slopes[kept[p]] = g.slopes[p];
        f.means[kept[p]] = g.means[p];
        for (std::size_t q = 0; q < part.k; ++q)
            f.inverse[kept[p] * d.k + kept[q]] = g.inverse[p * part.k + q];
    }
    return true;
}

bool solve_kept(const FitData& d, bool constant, Fit& f) {
    f.kept = d.k;
    const std::size_t n = d.n, k = d.k;
    double y_mean = 0;
    f.means.assign(k, 0.0);
    if (constant) {
        for (std::size_t i = 0; i < n; ++i) {
            y_mean += d.y[i];
            for (std::size_t j = 0; j < k; ++j)
                f.means[j] += d.x[i * k + j];
        }
        y_mean /= double(n);
        for (double& m : f.means)
            m /= double(n);
    }
    std::vector<double> a(k * k, 0.0), g(k, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < k; ++j) {
            const double xj = d.x[i * k + j] - f.means[j];
            g[j] += xj * (d.y[i] - y_mean);
            for (std::size_t l = 0; l < k; ++l)
                a[j * k + l] += xj * (d.x[i * k + l] - f.means[l]);
        }
    // Gauss-Jordan with partial pivoting; a predictor that is a combination of the others
    // (or constant) leaves no unique fit.
    std::vector<double>& inv = f.inverse;
    inv.assign(k * k, 0.0);
    for (std::size_t i = 0; i < k; ++i)
        inv[i * k + i] = 1;
    double scale = 0;
    for (std::size_t i = 0; i < k; ++i)
        scale = std::max(scale, std::fabs(a[i * k + i]));
    for (std::size_t col = 0; col < k; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < k; ++r)
            if (std::fabs(a[r * k + col]) > std::fabs(a[pivot * k + col]))
                pivot = r;
        if (!(std::fabs(a[pivot * k + col]) > 1e-13 * scale))
            return false;
        for (std::size_t l = 0; l < k && pivot != col; ++l) {
            std::swap(a[pivot * k + l], a[col * k + l]);
            std::swap(inv[pivot * k + l], inv[col * k + l]);
        }
        const double p = a[col * k + col];
        for (std::size_t l = 0; l < k; ++l) {
            a[col * k + l] /= p;
            inv[col * k + l] /= p;
        }
        for (std::size_t r = 0; r < k; ++r) {
            const double m = a[r * k + col];
            if (r == col || m == 0)
                continue;
            for (std::size_t l = 0; l < k; ++l) {
                a[r * k + l] -= m * a[col * k + l];
                inv[r * k + l] -= m * inv[col * k + l];
            }
        }
    }
    f.slopes.assign(k, 0.0);
    for (std::size_t j = 0; j < k; ++j)
        for (std::size_t l = 0; l < k; ++l)
            f.slopes[j] += inv[j * k + l] * g[l];
    f.intercept = y_mean;
    for (std::size_t j = 0; j < k; ++j)
        f.intercept -= f.slopes[j] * f.means[j];
    double ss_total = 0;
    for (std::size_t i = 0; i < n; ++i) {
        double fitted = f.intercept;
        for (std::size_t j = 0; j < k; ++j)
            fitted += f.slopes[j] * d.x[i * k + j];
        f.ss_resid += (d.y[i] - fitted) * (d.y[i] - fitted);
        ss_total += (d.y[i] - y_mean) * (d.y[i] - y_mean);
    }
    f.ss_reg = ss_total - f.ss_resid;
    f.df = double(n) - double(k) - (constant ? 1 : 0);
    return true;
}

// LINEST and LOGEST: the coefficients last predictor first, then the constant; with `stats`
// four more rows (standard errors; r squared and the standard error of y; F and the degrees
// of freedom; the regression and residual sums of squares), #N/A where a row has no more.
void estimate(Ctx& c, Item& out, bool logarithmic) {
    FitData d;
    ValueGrid shape;
    if (!fit_data(c, logarithmic, d, shape, out.v))
        return;
    bool constant;
    if (!flag(c, 2, constant, out.v, true))
        return;
    OMBRIX_FLAG(3, stats);
    Fit f;
    if (!solve(d, constant, f))
        OMBRIX_RETURN(err(ErrorCode::Num));
    auto shown = [&](double v) { return Value::number(logarithmic ? std::exp(v) : v); };
    const std::int32_t width = std::int32_t(d.k) + 1;
    ValueGrid r = sized(stats ? 5 : 1, width, err(ErrorCode::NA));
    auto put = [&](std::int32_t row, std::int32_t col, Value v) {
        r.values[std::size_t(row) * std::size_t(width) + std::size_t(col)] = std::move(v);
    };
    for (std::size_t j = 0; j < d.k; ++j)
        put(0, std::int32_t(d.k - 1 - j), shown(f.slopes[j]));
    put(0, width - 1, shown(constant ? f.intercept : 0));
    if (stats) {
        const double variance = f.df > 0 ? f.ss_resid / f.df : 0;
        for (std::size_t j = 0; j < d.k; ++j)
            put(1, std::int32_t(d.k - 1 - j), Value::number(std::sqrt(variance * f.inverse[j * d.k + j])));
        if (constant) {
            double q = 1.0 / double(d.n);
            for (std::size_t j = 0; j < d.k; ++j)
                for (std::size_t l = 0; l < d.k; ++l)
                    q += f.means[j] * f.inverse[j * d.k + l] * f.means[l];
            put(1, width - 1, Value::number(std::sqrt(variance * q)));
        }
        const double ss_total = f.ss_reg + f.ss_resid;
        put(2, 0, ss_total > 0 ? Value::number(f.ss_reg / ss_total) : err(ErrorCode::Num));
        put(2, 1, f.df > 0 ? Value::number(std::sqrt(variance)) : err(ErrorCode::Num));
        put(3, 0,
            f.df > 0 && f.ss_resid > 0 && f.kept > 0 ? Value::number((f.ss_reg / double(f.kept)) / variance)
                                                     : err(ErrorCode::Num));
        put(3, 1, Value::number(f.df));
        put(4, 0, Value::number(f.ss_reg));
        put(4, 1, Value::number(f.ss_resid));
    }
    give(c, out, std::move(r));
}

OMBRIX_FN(linest) { estimate(c, out, false); }
OMBRIX_FN(logest) { estimate(c, out, true); }

// TREND and GROWTH: the fitted values at new_x (argument 2, the known x when omitted), in
// new_x's shape, or one per row (column) of it when there are several predictors.
void predict(Ctx& c, Item& out, bool logarithmic) {
    FitData d;
    ValueGrid shape;
    if (!fit_data(c, logarithmic, d, shape, out.v))
        return;
    bool constant;
    if (!flag(c, 3, constant, out.v, true))
        return;
    ValueGrid gn;
    std::vector<double> at;
    if (c.missing(2)) {
        gn = shape;
        at = d.x;
        if (d.y_is_row && d.k > 1) { // back to one predictor per row
            for (std::size_t j = 0; j < d.k; ++j)
                for (std::size_t i = 0; i < d.n; ++i)
                    at[j * d.n + i] = d.x[i * d.k + j];
        }
    } else if (!matrix_arg(c, 2, gn, at, out.v)) {
        return;
    }
    Fit f;
    if (!solve(d, constant, f))
        OMBRIX_RETURN(err(ErrorCode::Num));
    auto fitted = [&](auto x_of) {
        double v = constant ? f.intercept : 0;
        for (std::size_t j = 0; j < d.k; ++j)
            v += f.slopes[j] * x_of(j);
        return Value::number(logarithmic ? std::exp(v) : v);
    };
    ValueGrid r;
    if (d.k == 1) {
        r = sized(gn.rows, gn.cols);
        for (std::size_t i = 0; i < at.size(); ++i)
            r.values[i] = fitted([&](std::size_t) { return at[i]; });
    } else if (!d.y_is_row && gn.cols == std::int32_t(d.k)) {
        r = sized(gn.rows, 1);
        for (std::int32_t i = 0; i < gn.rows; ++i)
            r.values[std::size_t(i)] = fitted([&](std::size_t j) { return at[std::size_t(i) * d.k + j]; });
    } else if (d.y_is_row && gn.rows == std::int32_t(d.k)) {
        r = sized(1, gn.cols);
        for (std::int32_t i = 0; i < gn.cols; ++i)
            r.values[std::size_t(i)] =
                fitted([&](std::size_t j) { return at[j * std::size_t(gn.cols) + std::size_t(i)]; });
    } else {
        OMBRIX_RETURN(err(ErrorCode::Ref));
    }
    give(c, out, std::move(r));
}

OMBRIX_FN(trend) { predict(c, out, false); }
OMBRIX_FN(growth) { predict(c, out, true); }

// MODE.MULT: every most frequent number, in the order each first appears, as a column; #N/A
// when no number repeats.
OMBRIX_FN(mode_mult) {
    std::vector<double> xs;
    Value e;
    if (!collect(c, 0, c.argc, xs, e))
        OMBRIX_RETURN(e);
    std::map<double, std::size_t> count;
    std::size_t most = 0;
    for (double x : xs)
        most = std::max(most, ++count[x]);
    if (most < 2)
        OMBRIX_RETURN(err(ErrorCode::NA));
    ValueGrid r;
    r.cols = 1;
    for (double x : xs) {
        auto it = count.find(x);
        if (it->second == most) {
            r.values.push_back(Value::number(x));
            it->second = 0; // each once
        }
    }
    r.rows = std::int32_t(r.values.size());
    give(c, out, std::move(r));
}

} // namespace

std::vector<Entry> regression_functions() {
    constexpr std::uint8_t A = FnArrayArgs;
    return {
        {{"LINEST", 1, 4, A}, fn_linest}, {{"LOGEST", 1, 4, A}, fn_logest},         {{"TREND", 1, 4, A}, fn_trend},
        {{"GROWTH", 1, 4, A}, fn_growth}, {{"MODE.MULT", 1, 255, A}, fn_mode_mult},
    };
}

} // namespace host::engine::detail::fn
