// Financial functions.

#include "engine/functions/finance/Securities.hpp"

#include <algorithm>
#include <cmath>

namespace host::engine::detail::fn {

namespace {

OMBRIX_FN(npv) {
    OMBRIX_NUMBER(0, rate);
    auto& xs = numbers();
    Value e;
    if (!collect(c, 1, c.argc, xs, e))
        OMBRIX_RETURN(e);
    if (rate == -1)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    double total = 0, f = 1;
    for (double x : xs) {
        f *= 1 + rate;
        total += x / f;
    }
    OMBRIX_RETURN(Value::number(total));
}
// The payment, future and present values of an annuity; `type` 1 pays at the start of each
// period. Infinite or NaN results become #NUM! when made into values.
double annuity_pmt(double rate, double nper, double pv, double fv, double type) {
    double t = type != 0 ? 1 : 0;
    if (rate == 0)
        return -(pv + fv) / nper;
    double g = std::pow(1 + rate, nper);
    return -(fv + pv * g) * rate / ((1 + rate * t) * (g - 1));
}
double annuity_fv(double rate, double nper, double pmt, double pv, double type) {
    double t = type != 0 ? 1 : 0;
    if (rate == 0)
        return -(pv + pmt * nper);
    double g = std::pow(1 + rate, nper);
    return -(pv * g + pmt * (1 + rate * t) * (g - 1) / rate);
}

Value finite_or(double x, ErrorCode e) { return std::isfinite(x) ? Value::number(x) : err(e); }

OMBRIX_FN(pmt) {
    OMBRIX_NUMBER(0, rate);
    OMBRIX_NUMBER(1, nper);
    OMBRIX_NUMBER(2, pv);
    OMBRIX_NUMBER_OR(3, fv, 0);
    OMBRIX_NUMBER_OR(4, type, 0);
    double t = type != 0 ? 1 : 0;
    if (rate <= -1 || nper == 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (rate != 0 && (1 + rate * t) * (std::pow(1 + rate, nper) - 1) == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(annuity_pmt(rate, nper, pv, fv, type)));
}
OMBRIX_FN(fv) {
    OMBRIX_NUMBER(0, rate);
    OMBRIX_NUMBER(1, nper);
    OMBRIX_NUMBER(2, pmt);
    OMBRIX_NUMBER_OR(3, pv, 0);
    OMBRIX_NUMBER_OR(4, type, 0);
    if (rate == -1 && nper < 0) // a power of zero below zero
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(annuity_fv(rate, nper, pmt, pv, type)));
}
OMBRIX_FN(pv) {
    OMBRIX_NUMBER(0, rate);
    OMBRIX_NUMBER(1, nper);
    OMBRIX_NUMBER(2, pmt);
    OMBRIX_NUMBER_OR(3, fv, 0);
    OMBRIX_NUMBER_OR(4, type, 0);
    double t = type != 0 ? 1 : 0;
    if (rate == 0)
        OMBRIX_RETURN(Value::number(-(fv + pmt * nper)));
    double g = std::pow(1 + rate, nper);
    if (g == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(-(fv + pmt * (1 + rate * t) * (g - 1) / rate) / g));
}

// Newton's method from `guess`, as the spreadsheet iterates: done when a step is smaller than
// `tolerance`, #NUM! after `limit` steps or when it leaves the domain (rate <= -1).
template <class F>
Value newton(double guess, double tolerance, int limit, F f) {
    double r = guess;
    for (int i = 0; i < limit; ++i) {
        double value, slope;
        f(r, value, slope);
        if (!std::isfinite(value) || !std::isfinite(slope) || slope == 0)
            return err(ErrorCode::Num);
        double next = r - value / slope;
        if (!std::isfinite(next) || next <= -1)
            return err(ErrorCode::Num);
        if (std::fabs(next - r) < tolerance)
            return Value::number(next);
        r = next;
    }
    return err(ErrorCode::Num);
}

// Where Newton's steps run off: a change of sign of f looked for from `guess` outwards (down
// toward -1 and up), then halved to the last digit; #NUM! without one.
template <class F>
Value bracketed_root(double guess, F f) {
    auto sign_at = [&](double r) {
        double value, slope;
        f(r, value, slope);
        return std::isnan(value) ? 0 : (value > 0) - (value < 0);
    };
    const int at_guess = sign_at(guess);
    if (at_guess == 0)
        return Value::number(guess);
    double below = guess, above = guess; // the farthest samples yet of the guess's sign
    double lo = 0, hi = 0;
    bool found = false;
    for (int k = 1; k <= 30 && !found; ++k) { // down to about 1e-9 above -1
        double down = -1 + (1 + guess) * std::ldexp(1.0, -k), up = guess + (1 + guess) * (std::ldexp(1.0, k) - 1);
        if (sign_at(down) * at_guess < 0)
            lo = down, hi = below, found = true;
        else if (sign_at(up) * at_guess < 0)
            lo = above, hi = up, found = true;
        else
            below = down, above = up;
    }
    if (!found)
        return err(ErrorCode::Num);
    const int at_lo = sign_at(lo);
    for (int i = 0; i < 200; ++i) {
        double mid = lo + (hi - lo) / 2;
        if (mid <= lo || mid >= hi)
            break;
        (sign_at(mid) == at_lo ? lo : hi) = mid;
    }
    return Value::number(lo + (hi - lo) / 2);
}

bool has_both_signs(const std::vector<double>& xs) {
    bool pos = false, neg = false;
    for (double x : xs)
        pos |= x > 0, neg |= x < 0;
    return pos && neg;
}

// An error among the flows is #VALUE!, whichever it is.
OMBRIX_FN(irr) {
    std::vector<double> xs;
    Value e;
    if (!collect(c, 0, 1, xs, e))
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_NUMBER_OR(1, guess, 0.1);
    if (guess <= -1)
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (!has_both_signs(xs))
        OMBRIX_RETURN(err(ErrorCode::Num));
    Value discounted = newton(guess, 1e-7, 20, [&](double r, double& value, double& slope) {
        value = slope = 0;
        double f = 1;
        for (std::size_t i = 0; i < xs.size(); ++i) {
            value += xs[i] / f;
            slope -= double(i) * xs[i] / (f * (1 + r));
            f *= 1 + r;
        }
    });
    if (discounted.is_number())
        OMBRIX_RETURN(discounted);
    // Where the discounted sum's steps run off (far from the root, below it), the same root
    // as the zero of the flows compounded to the last period, whose steps stay near it.
    auto compounded = [&](double r, double& value, double& slope) {
        value = slope = 0;
        for (double x : xs) {
            slope = slope * (1 + r) + value;
            value = value * (1 + r) + x;
        }
    };
    Value rate = newton(guess, 1e-7, 20, compounded);
    // From a guess far above the root neither converges: the nearest change of sign.
    OMBRIX_RETURN(rate.is_number() ? rate : bracketed_root(guess, compounded));
}

// The cash flows and their dates of XNPV and XIRR: as many dates as values, none before the
// first. A value that is no number is #NUM! to XNPV; to XIRR an empty cell is no flow and
// text or TRUE is #VALUE!.
bool dated_flows(const Ctx& c, int values_at, bool for_xirr, std::vector<double>& values, std::vector<double>& dates,
                 Value& out) {
    if (for_xirr) { // cell by cell, where an empty pair is none
        const View vs(c.ev, c.args[values_at]), ds(c.ev, c.args[values_at + 1]);
        const bool direct = c.args[values_at].kind == Item::Val, direct_days = c.args[values_at + 1].kind == Item::Val;
        const std::int64_t n = std::int64_t(vs.rows) * vs.cols;
        if (n != std::int64_t(ds.rows) * ds.cols) {
            out = err(ErrorCode::Num);
            return false;
        }
        const bool date1904 = c.ev.grid.date1904();
        for (std::int64_t i = 0; i < n; ++i) {
            const Value v = vs.at(std::int32_t(i / vs.cols), std::int32_t(i % vs.cols));
            const Value day = ds.at(std::int32_t(i / ds.cols), std::int32_t(i % ds.cols));
            if (v.is_empty() && day.is_empty() && !direct)
                continue;
            double x = 0, t = 0;
            ErrorCode e;
            if ((!v.is_empty() && !v.is_number() && !direct) || (!v.is_empty() && !to_number(v, x, e, date1904)) ||
                (!day.is_number() && !direct_days) || !to_number(day, t, e, date1904)) {
                out = err(ErrorCode::Value);
                return false;
            }
            values.push_back(x);
            dates.push_back(std::floor(t));
        }
    }
    for (int k = 0; k < 2 && !for_xirr; ++k) { // XNPV: each list whole, in turn
        std::vector<double>& into = k == 0 ? values : dates;
        bool ok = true;
        each_value(c, values_at + k, values_at + k + 1, [&](const Value& v, bool direct, bool) {
            if (!ok)
                return;
            double x;
            ErrorCode e;
            if (v.is_error() || (!v.is_number() && !direct) || !to_number(v, x, e, c.ev.grid.date1904())) {
                out = v.is_error() ? v : err(k == 0 ? ErrorCode::Num : ErrorCode::Value);
                ok = false;
                return;
            }
            into.push_back(k == 1 ? std::floor(x) : x);
        });
        if (!ok)
            return false;
    }
    if (values.empty() || values.size() != dates.size()) {
        out = err(ErrorCode::Num);
        return false;
    }
    for (double d : dates)
        if (d < dates[0] || d < 0) {
            out = err(ErrorCode::Num);
            return false;
        }
    return true;
}

void xnpv_at(double r, const std::vector<double>& v, const std::vector<double>& d, double& value, double& slope) {
    value = slope = 0;
    for (std::size_t i = 0; i < v.size(); ++i) {
        double t = (d[i] - d[0]) / 365;
        double f = std::pow(1 + r, t);
        value += v[i] / f;
        slope -= t * v[i] / (f * (1 + r));
    }
}

OMBRIX_FN(xnpv) {
    OMBRIX_NUMBER(0, rate);
    std::vector<double> v, d;
    if (!dated_flows(c, 1, false, v, d, out.v))
        return;
    if (rate < 0) // as the spreadsheet has it, though the sum has a value down to -1
        OMBRIX_RETURN(err(ErrorCode::Num));
    double value, slope;
    xnpv_at(rate, v, d, value, slope);
    OMBRIX_RETURN(Value::number(value));
}

// XIRR reads its guess first (a logical one is #VALUE!), then the dates' errors, then the
// values'; a flow whose value and date cells are both empty is none.
OMBRIX_FN(xirr) {
    double guess = 0.1;
    if (!c.missing(2)) {
        if (c.arg(2).is_boolean())
            OMBRIX_RETURN(err(ErrorCode::Value));
        if (!num(c, 2, guess, out.v))
            return;
    }
    const View values(c.ev, c.args[0]), days(c.ev, c.args[1]);
    for (const View* view : {&days, &values})
        for (std::int32_t r = 0; r < view->rows; ++r)
            for (std::int32_t k = 0; k < view->cols; ++k)
                if (const Value e = view->at(r, k); e.is_error())
                    OMBRIX_RETURN(e);
    std::vector<double> v, d;
    if (!dated_flows(c, 0, true, v, d, out.v))
        return;
    if (!has_both_signs(v) || guess <= -1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    auto at = [&](double r, double& value, double& slope) { xnpv_at(r, v, d, value, slope); };
    Value rate = newton(guess, 1e-8, 100, at);
    OMBRIX_RETURN(rate.is_number() ? rate : bracketed_root(guess, at));
}

OMBRIX_FN(mirr) {
    std::vector<double> xs;
    Value e;
    if (!collect(c, 0, 1, xs, e))
        OMBRIX_RETURN(e);
    OMBRIX_NUMBER(1, finance_rate);
    OMBRIX_NUMBER(2, reinvest_rate);
    double n = double(xs.size());
    double pos = 0, neg = 0, fp = 1, fn = 1;
    for (double x : xs) {
        if (x > 0)
            pos += x / fp;
        else
            neg += x / fn;
        fp *= 1 + reinvest_rate;
        fn *= 1 + finance_rate;
    }
    if (neg == 0 || n < 2) // without an outlay (with no income the rate is -1)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    // Positive flows carried forward to the last period, negative ones discounted to the first.
    double ratio = -pos * std::pow(1 + reinvest_rate, n - 1) / neg;
    OMBRIX_RETURN(finite_or(std::pow(ratio, 1 / (n - 1)) - 1, ErrorCode::Num));
}

OMBRIX_FN(rate) {
    OMBRIX_NUMBER(0, nper);
    OMBRIX_NUMBER(1, pmt);
    OMBRIX_NUMBER(2, pv);
    OMBRIX_NUMBER_OR(3, fv, 0);
    OMBRIX_NUMBER_OR(4, type, 0);
    OMBRIX_NUMBER_OR(5, guess, 0.1);
    double t = type != 0 ? 1 : 0;
    if (nper <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    // The spreadsheet converges where 20 steps do not (RATE(300,-200,8000,0,1) takes 27).
    OMBRIX_RETURN(newton(guess, 1e-7, 50, [&](double r, double& value, double& slope) {
        if (std::fabs(r) < 1e-12) {
            value = pv + pmt * nper + fv;
            slope = pv * nper + pmt * t * nper + pmt * nper * (nper - 1) / 2;
            return;
        }
        double g = std::pow(1 + r, nper), dg = nper * std::pow(1 + r, nper - 1);
        value = pv * g + pmt * (1 + r * t) * (g - 1) / r + fv;
        slope = pv * dg + pmt * t * (g - 1) / r + pmt * (1 + r * t) * (dg * r - (g - 1)) / (r * r);
    }));
}

OMBRIX_FN(nper) {
    OMBRIX_NUMBER(0, rate);
    OMBRIX_NUMBER(1, pmt);
    OMBRIX_NUMBER(2, pv);
    OMBRIX_NUMBER_OR(3, fv, 0);
    OMBRIX_NUMBER_OR(4, type, 0);
    double t = type != 0 ? 1 : 0;
    if (rate == 0) {
        if (pmt == 0)
            OMBRIX_RETURN(err(ErrorCode::Num));
        OMBRIX_RETURN(Value::number(-(pv + fv) / pmt));
    }
    double a = pmt * (1 + rate * t);
    double ratio = (a - fv * rate) / (a + pv * rate);
    if (!(ratio > 0) || rate <= -1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(finite_or(std::log(ratio) / std::log1p(rate), ErrorCode::Num));
}

// The interest part of payment `per`.
double interest_part(double rate, double per, double nper, double pv, double fv, double t) {
    double pmt = annuity_pmt(rate, nper, pv, fv, t);
    double interest;
    if (per == 1)
        interest = t > 0 ? 0 : -pv;
    else if (t > 0)
        interest = annuity_fv(rate, per - 2, pmt, pv, 1) - pmt;
    else
        interest = annuity_fv(rate, per - 1, pmt, pv, 0);
    return interest * rate;
}

void payment_part(Ctx& c, Item& out, bool principal) {
    OMBRIX_NUMBER(0, rate);
    OMBRIX_NUMBER(1, per);
    OMBRIX_NUMBER(2, nper);
    OMBRIX_NUMBER(3, pv);
    OMBRIX_NUMBER_OR(4, fv, 0);
    OMBRIX_NUMBER_OR(5, type, 0);
    double t = type != 0 ? 1 : 0;
    if (per < 1 || per >= nper + 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double interest = interest_part(rate, per, nper, pv, fv, t);
    double value = principal ? annuity_pmt(rate, nper, pv, fv, t) - interest : interest;
    OMBRIX_RETURN(finite_or(value, ErrorCode::Num));
}
OMBRIX_FN(ipmt) { payment_part(c, out, false); }
OMBRIX_FN(ppmt) { payment_part(c, out, true); }

// The payments whose periods lie in [first, last], whole periods only.
void cumulative(Ctx& c, Item& out, bool principal) {
    OMBRIX_PLAIN_NUMBER(0, rate);
    OMBRIX_PLAIN_NUMBER(1, nper);
    OMBRIX_PLAIN_NUMBER(2, pv);
    OMBRIX_PLAIN_NUMBER(3, first);
    OMBRIX_PLAIN_NUMBER(4, last);
    OMBRIX_PLAIN_NUMBER(5, type);
    first = std::ceil(first), last = std::floor(last);
    if (rate <= 0 || nper <= 0 || pv <= 0 || first < 1 || last < first || last > nper || (type != 0 && type != 1))
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (last - first > 1e6)
        OMBRIX_RETURN(err(ErrorCode::Num)); // summed period by period: a bound on the work
    double pmt = annuity_pmt(rate, nper, pv, 0, type);
    double total = 0;
    for (double per = first; per <= last; ++per) {
        double interest = interest_part(rate, per, nper, pv, 0, type);
        total += principal ? pmt - interest : interest;
    }
    OMBRIX_RETURN(finite_or(total, ErrorCode::Num));
}
OMBRIX_FN(cumipmt) { cumulative(c, out, false); }
OMBRIX_FN(cumprinc) { cumulative(c, out, true); }

OMBRIX_FN(sln) {
    OMBRIX_NUMBER(0, cost);
    OMBRIX_NUMBER(1, salvage);
    OMBRIX_NUMBER(2, life);
    if (life == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number((cost - salvage) / life));
}

OMBRIX_FN(db) {
    OMBRIX_NUMBER(0, cost);
    OMBRIX_NUMBER(1, salvage);
    OMBRIX_NUMBER(2, life);
    OMBRIX_NUMBER(3, period);
    OMBRIX_NUMBER_OR(4, month, 12);
    month = std::trunc(month);
    period = std::trunc(period);
    if (cost < 0 || salvage < 0 || life <= 0 || period <= 0 || month < 1 || month > 12 ||
        period > life + (month < 12 ? 1 : 0) || period > 1e6)
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (cost == 0)
        OMBRIX_RETURN(Value::number(0));
    double rate = std::round((1 - std::pow(salvage / cost, 1 / life)) * 1000) / 1000;
    double first = cost * rate * month / 12;
    if (period == 1)
        OMBRIX_RETURN(Value::number(first));
    double total = first, dep = 0;
    for (double p = 2; p <= period; ++p) {
        dep = p > life ? (cost - total) * rate * (12 - month) / 12 : (cost - total) * rate;
        total += dep;
    }
    OMBRIX_RETURN(Value::number(dep));
}

OMBRIX_FN(ddb) {
    OMBRIX_NUMBER(0, cost);
    OMBRIX_NUMBER(1, salvage);
    OMBRIX_NUMBER(2, life);
    OMBRIX_NUMBER(3, period);
    OMBRIX_NUMBER_OR(4, factor, 2);
    if (cost < 0 || salvage < 0 || life <= 0 || period <= 0 || factor <= 0 || period > life)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double rate = factor / life, before;
    if (rate >= 1) {
        rate = 1;
        before = period == 1 ? cost : 0;
    } else {
        before = cost * std::pow(1 - rate, period - 1);
    }
    double after = cost * std::pow(1 - rate, period);
    double dep = after < salvage ? before - salvage : before - after;
    OMBRIX_RETURN(Value::number(std::max(dep, 0.0)));
}

OMBRIX_FN(effect) {
    OMBRIX_PLAIN_NUMBER(0, nominal);
    OMBRIX_PLAIN_NUMBER(1, periods);
    periods = std::trunc(periods);
    if (nominal <= 0 || periods < 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(finite_or(std::pow(1 + nominal / periods, periods) - 1, ErrorCode::Num));
}

OMBRIX_FN(nominal) {
    OMBRIX_PLAIN_NUMBER(0, effective);
    OMBRIX_PLAIN_NUMBER(1, periods);
    periods = std::trunc(periods);
    if (effective <= 0 || periods < 1)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(finite_or(periods * (std::pow(1 + effective, 1 / periods) - 1), ErrorCode::Num));
}

} // namespace

std::vector<Entry> finance_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"NPV", 2, -1, 0, "v(a)"}, fn_npv},
        {{"PMT", 3, 5, L}, fn_pmt},
        {{"FV", 3, 5, L}, fn_fv},
        {{"PV", 3, 5, L}, fn_pv},
        {{"IRR", 1, 2, 0, "av"}, fn_irr},
        {{"XIRR", 2, 3, 0}, fn_xirr},
        {{"XNPV", 3, 3, 0}, fn_xnpv},
        {{"MIRR", 3, 3, 0}, fn_mirr},
        {{"RATE", 3, 6, L}, fn_rate},
        {{"NPER", 3, 5, L}, fn_nper},
        {{"IPMT", 4, 6, L}, fn_ipmt},
        {{"PPMT", 4, 6, L}, fn_ppmt},
        {{"CUMIPMT", 6, 6, L}, fn_cumipmt},
        {{"CUMPRINC", 6, 6, L}, fn_cumprinc},
        {{"SLN", 3, 3, L}, fn_sln},
        {{"DB", 4, 5, L}, fn_db},
        {{"DDB", 4, 5, L}, fn_ddb},
        {{"EFFECT", 2, 2, L}, fn_effect},
        {{"NOMINAL", 2, 2, L}, fn_nominal},
    };
}

} // namespace host::engine::detail::fn
