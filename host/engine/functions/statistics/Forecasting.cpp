// The exponential smoothing forecasts (FORECAST.ETS and its CONFINT, SEASONALITY and STAT):
// additive error, trend and season (AAA). The series is put on a regular timeline first:
// sorted, duplicates aggregated, gaps completed. The smoothing parameters are those that
// minimise the one-step-ahead squared errors, found by a bounded search of our own: the
// spreadsheet's optimiser is not published, so its last digits may differ.

#include "engine/functions/ArrayArgs.hpp"

#include <boost/math/distributions/normal.hpp>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace host::engine::detail::fn {

namespace {

// The longest season the spreadsheet accepts (a year of hours).
constexpr double max_season = 8760;

struct Series {
    std::vector<double> y; // one value per step of the timeline
    double start = 0, step = 0;
};

// How duplicates of a timeline point are combined (the aggregation argument).
double aggregate_points(std::vector<double> xs, int how) {
    switch (how) {
    case 2:
    case 3: return double(xs.size()); // COUNT, COUNTA
    case 4: return *std::max_element(xs.begin(), xs.end());
    case 5: {
        std::sort(xs.begin(), xs.end());
        const std::size_t n = xs.size();
        return n % 2 ? xs[n / 2] : (xs[n / 2 - 1] + xs[n / 2]) / 2;
    }
    case 6: return *std::min_element(xs.begin(), xs.end());
    case 7: return std::accumulate(xs.begin(), xs.end(), 0.0);
    default: return std::accumulate(xs.begin(), xs.end(), 0.0) / double(xs.size()); // AVERAGE
    }
}

// values, timeline, and the completion and aggregation arguments at `completion_at` and the next.
bool read_series(Ctx& c, int values_at, int timeline_at, int completion_at, Series& s, Value& out) {
    ValueGrid values, timeline;
    if (!grid_arg(c, values_at, values, out) || !grid_arg(c, timeline_at, timeline, out))
        return false;
    if (values.values.size() != timeline.values.size()) {
        out = err(ErrorCode::NA);
        return false;
    }
    double completion = 1, aggregation = 1;
    if (!plain_number(c, completion_at, completion, out, 1) || !plain_number(c, completion_at + 1, aggregation, out, 1))
        return false;
    completion = std::trunc(completion);
    aggregation = std::trunc(aggregation);
    if ((completion != 0 && completion != 1) || aggregation < 1 || aggregation > 7) {
        out = err(ErrorCode::Num);
        return false;
    }
    std::vector<std::pair<double, double>> points; // (time, value); empty values are missing
    for (std::size_t i = 0; i < values.values.size(); ++i) {
        const Value &t = timeline.values[i], &v = values.values[i];
        if (t.is_error() || v.is_error()) {
            out = t.is_error() ? t : v;
            return false;
        }
        if (!t.is_number()) {
            out = err(ErrorCode::Value);
            return false;
        }
        if (v.is_number())
            points.emplace_back(t.as_number(), v.as_number());
        else if (!v.is_empty()) {
            out = err(ErrorCode::Value);
            return false;
        }
    }
    std::sort(points.begin(), points.end());
    std::vector<double> times, ys;
    for (std::size_t i = 0; i < points.size();) {
        std::vector<double> same;
        std::size_t j = i;
        for (; j < points.size() && points[j].first == points[i].first; ++j)
            same.push_back(points[j].second);
        times.push_back(points[i].first);
        ys.push_back(aggregate_points(same, int(aggregation)));
        i = j;
    }
    if (times.size() < 3) {
        out = err(ErrorCode::Num);
        return false;
    }
    // The step is the smallest gap; every gap must be a whole number of steps.
    double step = times[1] - times[0];
    for (std::size_t i = 2; i < times.size(); ++i)
        step = std::min(step, times[i] - times[i - 1]);
    s.start = times[0];
    s.step = step;
    s.y.assign(1, ys[0]);
    for (std::size_t i = 1; i < times.size(); ++i) {
        const double gaps = (times[i] - times[i - 1]) / step, whole = std::round(gaps);
        if (std::fabs(gaps - whole) > 1e-9 * whole || s.y.size() + std::size_t(whole) > 1000000) {
            out = err(ErrorCode::Num);
            return false;
        }
        for (double k = 1; k < whole; ++k) // a missing point: between its neighbours, or 0
            s.y.push_back(completion == 1 ? ys[i - 1] + (ys[i] - ys[i - 1]) * k / whole : 0);
        s.y.push_back(ys[i]);
    }
    return true;
}

// Argument i as a season length: 1 (or omitted) detects it, 0 is none.
bool season_arg(Ctx& c, int i, double& season, Value& out) {
    if (!plain_number(c, i, season, out, 1))
        return false;
    season = std::trunc(season);
    if (season < 0 || season > max_season) {
        out = err(ErrorCode::Num);
        return false;
    }
    return true;
}

// The season whose lag correlates best with the detrended series, among lags up to a third
// of its length that are peaks of the autocorrelation; 1 when none stands out.
int detect_season(const std::vector<double>& y) {
    const std::size_t n = y.size();
    std::vector<double> d(n);
    const double mean_x = double(n - 1) / 2, mean_y = std::accumulate(y.begin(), y.end(), 0.0) / double(n);
    double sxy = 0, sxx = 0;
    for (std::size_t i = 0; i < n; ++i) {
        sxy += (double(i) - mean_x) * (y[i] - mean_y);
        sxx += (double(i) - mean_x) * (double(i) - mean_x);
    }
    const double slope = sxx > 0 ? sxy / sxx : 0;
    double variance = 0;
    for (std::size_t i = 0; i < n; ++i) {
        d[i] = y[i] - mean_y - slope * (double(i) - mean_x);
        variance += d[i] * d[i];
    }
    if (variance <= 1e-12 * std::max(1.0, mean_y * mean_y) * double(n))
        return 1;
    std::vector<double> r(n / 3 + 2, 0.0);
    for (std::size_t lag = 1; lag < r.size(); ++lag) {
        double s = 0;
        for (std::size_t i = lag; i < n; ++i)
            s += d[i] * d[i - lag];
        r[lag] = s / variance;
    }
    int best = 1;
    double best_r = 0.5; // weaker correlations are taken for noise
    for (std::size_t lag = 2; lag + 1 < r.size(); ++lag)
        if (r[lag] > r[lag - 1] && r[lag] >= r[lag + 1] && r[lag] > best_r) {
            best = int(lag);
            best_r = r[lag];
        }
    return best;
}

struct Fit {
    double alpha = 0, beta = 0, gamma = 0;
    double level = 0, trend = 0;
    std::vector<double> season; // the last m seasonal terms, the next one first
    std::vector<double> fitted; // one-step forecasts of every point after the first season
    double sse = 0;
};

// Runs the smoothing with the given parameters over the whole series.
Fit smooth(const std::vector<double>& y, std::size_t m, double alpha, double beta, double gamma) {
    Fit f;
    f.alpha = alpha;
    f.beta = beta;
    f.gamma = gamma;
    const std::size_t start = std::max<std::size_t>(m, 1);
    if (m > 1) {
        double first = 0, second = 0;
        for (std::size_t i = 0; i < m; ++i)
            first += y[i] / double(m);
        const bool two = y.size() >= 2 * m;
        for (std::size_t i = 0; two && i < m; ++i)
            second += y[m + i] / double(m);
        // The first season's mean is the level at its middle; its points less the line
        // through it are the seasonal terms.
        f.trend = two ? (second - first) / double(m) : 0;
        const double middle = (double(m) - 1) / 2;
        for (std::size_t i = 0; i < m; ++i)
            f.season.push_back(y[i] - (first + f.trend * (double(i) - middle)));
        f.level = first + f.trend * middle; // at the season's last point
    } else {
        f.level = y[0];
        f.trend = y[1] - y[0];
        f.season.assign(1, 0.0);
    }
    for (std::size_t t = start; t < y.size(); ++t) {
        const double s = m > 1 ? f.season[(t - start) % m] : 0;
        const double forecast = f.level + f.trend + s;
        const double e = y[t] - forecast;
        f.fitted.push_back(forecast);
        f.sse += e * e;
        const double level = alpha * (y[t] - s) + (1 - alpha) * (f.level + f.trend);
        f.trend = beta * (level - f.level) + (1 - beta) * f.trend;
        f.level = level;
        if (m > 1)
            f.season[(t - start) % m] = gamma * (y[t] - level) + (1 - gamma) * s;
    }
    if (m > 1) // the next point's seasonal term first
        std::rotate(f.season.begin(), f.season.begin() + std::ptrdiff_t((y.size() - start) % m), f.season.end());
    return f;
}

// The parameters minimising the squared one-step errors: a coarse grid, then golden-section
// searches along each parameter in turn.
Fit fit(const std::vector<double>& y, std::size_t m) {
    const bool seasonal = m > 1;
    double best[3] = {0.5, 0.1, seasonal ? 0.1 : 0.0};
    double best_sse = smooth(y, m, best[0], best[1], best[2]).sse;
    const std::vector<double> grid{0.05, 0.2, 0.4, 0.6, 0.8, 0.95};
    const std::vector<double> gammas = seasonal ? grid : std::vector<double>{0.0};
    for (double a : grid)
        for (double b : grid)
            for (double gamma : gammas) {
                const double sse = smooth(y, m, a, b, gamma).sse;
                if (sse < best_sse) {
                    best_sse = sse;
                    best[0] = a, best[1] = b, best[2] = gamma;
                }
            }
    const double golden = (std::sqrt(5.0) - 1) / 2;
    for (int round = 0; round < 4; ++round)
        for (int k = 0; k < (seasonal ? 3 : 2); ++k) {
            auto sse_at = [&](double x) {
                double p[3] = {best[0], best[1], best[2]};
                p[k] = x;
                return smooth(y, m, p[0], p[1], p[2]).sse;
            };
            double lo = 0, hi = 1, x1 = hi - golden * (hi - lo), x2 = lo + golden * (hi - lo);
            double f1 = sse_at(x1), f2 = sse_at(x2);
            for (int i = 0; i < 40; ++i) {
                if (f1 <= f2) {
                    hi = x2, x2 = x1, f2 = f1;
                    x1 = hi - golden * (hi - lo);
                    f1 = sse_at(x1);
                } else {
                    lo = x1, x1 = x2, f1 = f2;
                    x2 = lo + golden * (hi - lo);
                    f2 = sse_at(x2);
                }
            }
            const double x = (lo + hi) / 2, sse = sse_at(x);
            if (sse < best_sse) {
                best_sse = sse;
                best[k] = x;
            }
        }
    return smooth(y, m, best[0], best[1], best[2]);
}

// The forecast h steps past the last point (h >= 0, fractional between points).
double forecast_at(const Fit& f, std::size_t m, double h) {
    auto whole = [&](double k) {
        if (k <= 0)
            return f.level;
        const double s = m > 1 ? f.season[(std::size_t(k) - 1) % m] : 0;
        return f.level + k * f.trend + s;
    };
    const double below = std::floor(h);
    return below == h ? whole(h) : whole(below) + (h - below) * (whole(below + 1) - whole(below));
}

// Reads what the four functions share and fits the model: the series, its season, the fit.
struct Model {
    Series series;
    std::size_t season = 0;
    Fit fit;
};

// The season is argument season_at, then the data completion and aggregation; without
// season_at (-1) it is detected and they come at completion_at.
bool build_model(Ctx& c, int values_at, int timeline_at, int season_at, Model& model, Value& out,
                 int completion_at = -1) {
    double season = 1;
    if ((season_at >= 0 && !season_arg(c, season_at, season, out)) ||
        !read_series(c, values_at, timeline_at, season_at >= 0 ? season_at + 1 : completion_at, model.series, out))
        return false;
    const std::vector<double>& y = model.series.y;
    if (season == 1)
        season = detect_season(y);
    if (season > 1 && double(y.size()) < 2 * season) { // too few points to see a season
        out = err(ErrorCode::Num);
        return false;
    }
    model.season = season > 1 ? std::size_t(season) : 0;
    model.fit = fit(y, model.season);
    return true;
}

// The steps from the last point to the target date; #NUM! before it.
bool horizon(Ctx& c, const Model& model, double& h, Value& out) {
    double target;
    if (!plain_number(c, 0, target, out))
        return false;
    const double last = model.series.start + model.series.step * double(model.series.y.size() - 1);
    h = (target - last) / model.series.step;
    if (h < 0 || h > 1e6) {
        out = err(ErrorCode::Num);
        return false;
    }
    return true;
}

OMBRIX_FN(forecast_ets) {
    Model model;
    double h;
    if (!build_model(c, 1, 2, 3, model, out.v) || !horizon(c, model, h, out.v))
        return;
    OMBRIX_RETURN(Value::number(forecast_at(model.fit, model.season, h)));
}

// Half the width of the prediction interval: the one-step errors' deviation grown with the
// horizon as the model's errors add up, times the normal quantile of the confidence.
OMBRIX_FN(forecast_ets_confint) {
    double confidence;
    if (!plain_number(c, 3, confidence, out.v, 0.95))
        return;
    if (confidence <= 0 || confidence >= 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    Model model;
    double h;
    if (!build_model(c, 1, 2, 4, model, out.v) || !horizon(c, model, h, out.v))
        return;
    const Fit& f = model.fit;
    const double n = double(f.fitted.size());
    const double variance = n > 0 ? f.sse / n : 0;
    double growth = 1;
    for (double j = 1; j < std::ceil(h); ++j) {
        const bool season_step = model.season > 1 && std::fmod(j, double(model.season)) == 0;
        const double cj = f.alpha * (1 + j * f.beta) + (season_step ? f.gamma : 0);
        growth += cj * cj;
    }
    const double z = boost::math::quantile(boost::math::normal_distribution<double>(), (1 + confidence) / 2);
    OMBRIX_RETURN(Value::number(z * std::sqrt(variance * growth)));
}

// FORECAST.ETS.SEASONALITY(values, timeline, [data_completion], [aggregation]): the season
// it detects.
OMBRIX_FN(forecast_ets_seasonality) {
    Model model;
    if (!build_model(c, 0, 1, -1, model, out.v, 2))
        return;
    OMBRIX_RETURN(Value::number(double(std::max<std::size_t>(model.season, 1))));
}

// 1 alpha, 2 beta, 3 gamma, 4 MASE, 5 SMAPE, 6 MAE, 7 RMSE, 8 the timeline's step.
OMBRIX_FN(forecast_ets_stat) {
    double type;
    if (!plain_number(c, 2, type, out.v))
        return;
    type = std::trunc(type);
    if (type < 1 || type > 8)
        OMBRIX_RETURN(err(ErrorCode::Num));
    Model model;
    if (!build_model(c, 0, 1, 3, model, out.v))
        return;
    const Fit& f = model.fit;
    const std::vector<double>& y = model.series.y;
    const std::size_t first = y.size() - f.fitted.size();
    double abs_sum = 0, smape = 0, naive = 0;
    for (std::size_t i = 0; i < f.fitted.size(); ++i) {
        const double actual = y[first + i], e = actual - f.fitted[i];
        abs_sum += std::fabs(e);
        const double scale = std::fabs(actual) + std::fabs(f.fitted[i]);
        smape += scale > 0 ? 2 * std::fabs(e) / scale : 0;
    }
    for (std::size_t i = 1; i < y.size(); ++i)
        naive += std::fabs(y[i] - y[i - 1]) / double(y.size() - 1);
    const double n = double(std::max<std::size_t>(f.fitted.size(), 1));
    switch (int(type)) {
    case 1: OMBRIX_RETURN(Value::number(f.alpha));
    case 2: OMBRIX_RETURN(Value::number(f.beta));
    case 3: OMBRIX_RETURN(Value::number(f.gamma));
    case 4: OMBRIX_RETURN(naive > 0 ? Value::number(abs_sum / n / naive) : err(ErrorCode::Div0));
    case 5: OMBRIX_RETURN(Value::number(smape / n));
    case 6: OMBRIX_RETURN(Value::number(abs_sum / n));
    case 7: OMBRIX_RETURN(Value::number(std::sqrt(f.sse / n)));
    default: OMBRIX_RETURN(Value::number(model.series.step));
    }
}

} // namespace

std::vector<Entry> forecasting_functions() {
    return {
        {{"FORECAST.ETS", 3, 6, FnArrayArgs, "vaav"}, fn_forecast_ets},
        {{"FORECAST.ETS.CONFINT", 3, 7, FnArrayArgs, "vaav"}, fn_forecast_ets_confint},
        {{"FORECAST.ETS.SEASONALITY", 2, 4, FnArrayArgs, "aav"}, fn_forecast_ets_seasonality},
        {{"FORECAST.ETS.STAT", 3, 6, FnArrayArgs, "aav"}, fn_forecast_ets_stat},
    };
}

} // namespace host::engine::detail::fn
