// Securities: coupon dates (COUP*), accrued interest, bond prices and yields, discounted
// securities and Treasury bills, and the smaller finance functions (DOLLARDE, SYD, VDB, ...).

#include "engine/functions/finance/Securities.hpp"

#include "engine/functions/dates/Calendar.hpp"

#include <algorithm>
#include <cmath>

namespace host::engine::detail::fn {

bool d1904(const Ctx& c) { return c.ev.grid.date1904(); }

bool date_arg(const Ctx& c, int i, long& day, Value& out, bool booleans) {
    double x;
    if (!(booleans ? num(c, i, x, out) : plain_number(c, i, x, out)))
        return false;
    if (x < 0 || x > double(max_serial(d1904(c)))) {
        out = err(ErrorCode::Num);
        return false;
    }
    day = long(std::trunc(x));
    return true;
}

bool basis_arg(const Ctx& c, int i, int& basis, Value& out) {
    double b;
    if (!plain_number(c, i, b, out, 0))
        return false;
    b = std::trunc(b);
    if (b < 0 || b > 4) {
        out = err(ErrorCode::Num);
        return false;
    }
    basis = int(b);
    return true;
}

bool frequency_arg(const Ctx& c, int i, int& f, Value& out) {
    double x;
    if (!plain_number(c, i, x, out))
        return false;
    x = std::trunc(x);
    if (x != 1 && x != 2 && x != 4) {
        out = err(ErrorCode::Num);
        return false;
    }
    f = int(x);
    return true;
}

long shift_months(long anchor, long months, bool date1904) {
    Ymd a = serial_to_ymd(anchor, date1904);
    long total = a.y * 12 + (a.m - 1) + months;
    long y = total >= 0 ? total / 12 : -((-total + 11) / 12), m = total - y * 12 + 1;
    long dim = days_in_month(y, m, date1904);
    bool month_end = a.d == days_in_month(a.y, a.m, date1904);
    return ymd_to_serial(y, m, month_end ? dim : std::min(a.d, dim), date1904);
}

namespace {

// The coupon dates around `settlement` of a security maturing at `maturity`: the last on or
// before it and the first after it, and how many coupons remain.
struct Coupons {
    long previous, next;
    long remaining;
};
Coupons coupons(long settlement, long maturity, int frequency, bool date1904) {
    long step = 12 / frequency;
    long k = 0;
    long date = maturity;
    // Whole years back first, then period by period.
    Ymd s = serial_to_ymd(settlement, date1904), m = serial_to_ymd(maturity, date1904);
    long skip = std::max(0L, (m.y - s.y - 1) * frequency);
    k = skip;
    date = shift_months(maturity, -k * step, date1904);
    while (date > settlement) {
        ++k;
        date = shift_months(maturity, -k * step, date1904);
    }
    return {date, shift_months(maturity, -(k - 1) * step, date1904), k};
}

// The length of the coupon period holding `settlement`, in days of the basis.
double period_days(const Coupons& p, int frequency, int basis) {
    if (basis == 1)
        return double(p.next - p.previous);
    return (basis == 3 ? 365.0 : 360.0) / frequency;
}

// The arguments every COUP* function reads.
#define OMBRIX_COUPON_ARGS                                                                                             \
    OMBRIX_DATE(0, settlement);                                                                                        \
    OMBRIX_DATE(1, maturity);                                                                                          \
    OMBRIX_FREQUENCY(2, frequency);                                                                                    \
    OMBRIX_BASIS(3, basis);                                                                                            \
    if (settlement >= maturity)                                                                                        \
        OMBRIX_RETURN(err(ErrorCode::Num));                                                                            \
    const bool sys = d1904(c);                                                                                         \
    const Coupons p = coupons(settlement, maturity, frequency, sys)

double days_before(const Coupons& p, long settlement, int basis, bool sys) {
    return day_count(p.previous, settlement, basis, sys);
}
double days_after(const Coupons& p, long settlement, int frequency, int basis, bool sys) {
    if (basis == 0)
        return period_days(p, frequency, basis) - days_before(p, settlement, basis, sys);
    return day_count(settlement, p.next, basis, sys);
}

OMBRIX_FN(coupdaybs) {
    OMBRIX_COUPON_ARGS;
    OMBRIX_RETURN(Value::number(days_before(p, settlement, basis, sys)));
}
OMBRIX_FN(coupdays) {
    OMBRIX_COUPON_ARGS;
    (void)sys;
    OMBRIX_RETURN(Value::number(period_days(p, frequency, basis)));
}
OMBRIX_FN(coupdaysnc) {
    OMBRIX_COUPON_ARGS;
    OMBRIX_RETURN(Value::number(days_after(p, settlement, frequency, basis, sys)));
}
OMBRIX_FN(coupncd) {
    OMBRIX_COUPON_ARGS;
    (void)basis;
    (void)sys;
    OMBRIX_RETURN(Value::number(double(p.next)));
}
OMBRIX_FN(couppcd) {
    OMBRIX_COUPON_ARGS;
    (void)basis;
    (void)sys;
    OMBRIX_RETURN(Value::number(double(p.previous)));
}
OMBRIX_FN(coupnum) {
    OMBRIX_COUPON_ARGS;
    (void)basis;
    (void)sys;
    OMBRIX_RETURN(Value::number(double(p.remaining)));
}

// The price of a bond per 100 of face value at yield `yld`.
double bond_price(long settlement, long maturity, double rate, double yld, double redemption, int frequency, int basis,
                  bool sys) {
    const Coupons p = coupons(settlement, maturity, frequency, sys);
    double e = period_days(p, frequency, basis);
    double a = days_before(p, settlement, basis, sys);
    // Actual/360 and actual/365 count the days to the next coupon as the period's normal
    // length less those accrued, not as the calendar has them.
    double dsc = basis == 2 || basis == 3 ? e - a : days_after(p, settlement, frequency, basis, sys);
    double coupon = 100 * rate / frequency;
    double n = double(p.remaining);
    if (n == 1)
        return (redemption + coupon) / (1 + dsc / e * yld / frequency) - coupon * a / e;
    double price = redemption / std::pow(1 + yld / frequency, n - 1 + dsc / e);
    for (double k = 1; k <= n; ++k)
        price += coupon / std::pow(1 + yld / frequency, k - 1 + dsc / e);
    return price - coupon * a / e;
}

OMBRIX_FN(price) {
    OMBRIX_DATE(0, settlement);
    OMBRIX_DATE(1, maturity);
    OMBRIX_NUMBER(2, rate);
    OMBRIX_NUMBER(3, yld);
    OMBRIX_NUMBER(4, redemption);
    OMBRIX_FREQUENCY(5, frequency);
    OMBRIX_BASIS(6, basis);
    if (settlement >= maturity || rate < 0 || yld < 0 || redemption <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(bond_price(settlement, maturity, rate, yld, redemption, frequency, basis, d1904(c))));
}

OMBRIX_FN(yield) {
    OMBRIX_DATE(0, settlement);
    OMBRIX_DATE(1, maturity);
    OMBRIX_NUMBER(2, rate);
    OMBRIX_NUMBER(3, pr);
    OMBRIX_NUMBER(4, redemption);
    OMBRIX_FREQUENCY(5, frequency);
    OMBRIX_BASIS(6, basis);
    if (settlement >= maturity || rate < 0 || pr <= 0 || redemption <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    const bool sys = d1904(c);
    const Coupons p = coupons(settlement, maturity, frequency, sys);
    if (p.remaining == 1) {
        double e = period_days(p, frequency, basis), a = days_before(p, settlement, basis, sys);
        double dsr = e - a;
        double coupon = rate / frequency;
        double paid = redemption / 100 + coupon, cost = pr / 100 + a / e * coupon;
        OMBRIX_RETURN(Value::number((paid - cost) / cost * frequency * e / dsr));
    }
    // The price falls as the yield rises: bisection, then Newton's steps to polish.
    double lo = -frequency + 1e-10, hi = 1;
    while (bond_price(settlement, maturity, rate, hi, redemption, frequency, basis, sys) > pr && hi < 1e6)
        hi *= 2;
    for (int i = 0; i < 200 && hi - lo > 1e-15 * std::max(1.0, std::fabs(hi)); ++i) {
        double mid = (lo + hi) / 2;
        if (bond_price(settlement, maturity, rate, mid, redemption, frequency, basis, sys) > pr)
            lo = mid;
        else
            hi = mid;
    }
    OMBRIX_RETURN(Value::number((lo + hi) / 2));
}

// Macaulay duration in years (Modified when `modified`).
template <bool Modified>
void duration(Ctx& c, Item& out) {
    OMBRIX_DATE(0, settlement);
    OMBRIX_DATE(1, maturity);
    OMBRIX_NUMBER(2, coupon_rate);
    OMBRIX_NUMBER(3, yld);
    OMBRIX_FREQUENCY(4, frequency);
    OMBRIX_BASIS(5, basis);
    if (settlement >= maturity || coupon_rate < 0 || yld < 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    const bool sys = d1904(c);
    const Coupons p = coupons(settlement, maturity, frequency, sys);
    double e = period_days(p, frequency, basis);
    double dsc = days_after(p, settlement, frequency, basis, sys);
    double coupon = 100 * coupon_rate / frequency, y = 1 + yld / frequency;
    double weighted = 0, total = 0;
    for (long k = 1; k <= p.remaining; ++k) {
        double t = double(k - 1) + dsc / e;
        double cash = coupon + (k == p.remaining ? 100 : 0);
        double pv = cash / std::pow(y, t);
        weighted += t * pv;
        total += pv;
    }
    double years = weighted / total / frequency;
    OMBRIX_RETURN(Value::number(Modified ? years / y : years));
}

// The interest accrued since issue on quasi-coupon periods anchored on the first interest date
// (the spreadsheet's own rule, which its cached values confirm): the days of the period holding
// settlement (counted from the period that ends on the first interest date when settlement is
// not past it, so negative before its start) over the length of that first period, plus one for
// each whole earlier period and each partial one's fraction. calc_method FALSE leaves the whole
// periods out, keeping only the fraction of the one holding the issue date.
OMBRIX_FN(accrint) {
    OMBRIX_DATE(0, issue);
    OMBRIX_DATE(1, first_interest);
    OMBRIX_DATE(2, settlement);
    OMBRIX_NUMBER(3, rate);
    OMBRIX_NUMBER(4, par);
    OMBRIX_FREQUENCY(5, frequency);
    OMBRIX_BASIS(6, basis);
    OMBRIX_FLAG(7, from_issue_flag);
    bool from_issue = c.missing(7) ? true : from_issue_flag;
    if (rate <= 0 || par <= 0 || issue >= settlement)
        OMBRIX_RETURN(err(ErrorCode::Num));
    const bool sys = d1904(c);
    const long step = 12 / frequency;
    auto date = [&](long j) { return shift_months(first_interest, j * step, sys); };
    auto length = [&](long j) { // of the period ending on date(j)
        return basis == 1 ? double(date(j) - date(j - 1)) : (basis == 3 ? 365.0 : 360.0) / frequency;
    };
    // The period of settlement ends on date(current + 1).
    long current = -1;
    if (from_issue && settlement > first_interest)
        for (current = 0; date(current + 1) < settlement;)
            ++current;
    double periods = day_count(std::max(issue, date(current)), settlement, basis, sys) / length(0);
    for (long j = current; date(j) > issue; --j) {
        if (date(j - 1) < issue)
            periods += day_count(issue, date(j), basis, sys) / length(j);
        else if (from_issue)
            periods += 1;
    }
    OMBRIX_RETURN(Value::number(par * rate / frequency * periods));
}

OMBRIX_FN(accrintm) {
    OMBRIX_DATE(0, issue);
    OMBRIX_DATE(1, settlement);
    OMBRIX_NUMBER(2, rate);
    OMBRIX_NUMBER_OR(3, par, 1000);
    OMBRIX_BASIS(4, basis);
    if (rate <= 0 || par <= 0 || issue >= settlement)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(par * rate * year_fraction(issue, settlement, basis, d1904(c))));
}

// DISC, INTRATE, RECEIVED, PRICEDISC, YIELDDISC: settlement, maturity, two amounts, basis.
template <int Kind>
void discounted(Ctx& c, Item& out) {
    OMBRIX_DATE(0, settlement);
    OMBRIX_DATE(1, maturity);
    OMBRIX_NUMBER(2, a);
    OMBRIX_NUMBER(3, b);
    OMBRIX_BASIS(4, basis);
    if (settlement >= maturity || a <= 0 || b <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double t = year_fraction(settlement, maturity, basis, d1904(c));
    switch (Kind) {
    case 0: OMBRIX_RETURN(Value::number((b - a) / b / t)); // DISC(price, redemption)
    case 1: OMBRIX_RETURN(Value::number((b - a) / a / t)); // INTRATE(investment, redemption)
    case 2: {                                              // RECEIVED(investment, discount)
        double d = 1 - b * t;
        OMBRIX_RETURN(d <= 0 ? err(ErrorCode::Num) : Value::number(a / d));
    }
    case 3: OMBRIX_RETURN(Value::number(b * (1 - a * t)));  // PRICEDISC(discount, redemption)
    default: OMBRIX_RETURN(Value::number((b - a) / a / t)); // YIELDDISC(price, redemption)
    }
}

// PRICEMAT and YIELDMAT: securities paying interest at maturity.
template <bool Yield>
void at_maturity(Ctx& c, Item& out) {
    OMBRIX_DATE(0, settlement);
    OMBRIX_DATE(1, maturity);
    OMBRIX_DATE(2, issue);
    OMBRIX_NUMBER(3, rate);
    OMBRIX_NUMBER(4, x);
    OMBRIX_BASIS(5, basis);
    if (settlement >= maturity || rate < 0 || x < 0 || (Yield && x == 0))
        OMBRIX_RETURN(err(ErrorCode::Num));
    const bool sys = d1904(c);
    double dim = year_fraction(issue, maturity, basis, sys), a = year_fraction(issue, settlement, basis, sys);
    double dsm = year_fraction(settlement, maturity, basis, sys);
    if (Yield)
        OMBRIX_RETURN(Value::number(((1 + dim * rate) / (x / 100 + a * rate) - 1) / dsm));
    OMBRIX_RETURN(Value::number((100 + dim * rate * 100) / (1 + dsm * x) - a * rate * 100));
}

// TBILLPRICE, TBILLYIELD, TBILLEQ: a bill of at most a year.
template <int Kind>
void tbill(Ctx& c, Item& out) {
    OMBRIX_DATE(0, settlement);
    OMBRIX_DATE(1, maturity);
    OMBRIX_PLAIN_NUMBER(2, x);
    double dsm = double(maturity - settlement);
    if (settlement >= maturity || x <= 0 || maturity > shift_months(settlement, 12, d1904(c)))
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (Kind == 0) {
        double p = 100 * (1 - x * dsm / 360);
        OMBRIX_RETURN(p <= 0 ? err(ErrorCode::Num) : Value::number(p));
    }
    if (Kind == 1)
        OMBRIX_RETURN(Value::number((100 - x) / x * 360 / dsm));
    if (dsm <= 182)
        OMBRIX_RETURN(Value::number(365 * x / (360 - x * dsm)));
    double price = 100 * (1 - x * dsm / 360);
    if (price <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    // Over half a year the bond-equivalent yield compounds once; a bill of 366 days (a year
    // across a 29 February) lasts a whole year.
    double t = dsm / std::max(365.0, dsm);
    OMBRIX_RETURN(Value::number((-t + std::sqrt(t * t - (2 * t - 1) * (1 - 100 / price))) / (t - 0.5)));
}

template <bool ToDecimal>
void dollar_fraction(Ctx& c, Item& out) {
    OMBRIX_PLAIN_NUMBER(0, x);
    OMBRIX_PLAIN_NUMBER(1, f);
    f = std::trunc(f);
    if (f < 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (f == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    double whole = std::trunc(x), part = x - whole;
    double scale = std::pow(10.0, std::ceil(std::log10(f)));
    OMBRIX_RETURN(Value::number(whole + (ToDecimal ? part * scale / f : part * f / scale)));
}

OMBRIX_FN(syd) {
    OMBRIX_NUMBER(0, cost);
    OMBRIX_NUMBER(1, salvage);
    OMBRIX_NUMBER(2, life);
    OMBRIX_NUMBER(3, per);
    if (life <= 0 || per <= 0 || per > life)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number((cost - salvage) * (life - per + 1) * 2 / (life * (life + 1))));
}

// Declining balance over [start, end) of the life, switching to straight line when that
// gives more (unless no_switch). The periods are counted from start's fraction of a period, as
// the spreadsheet counts them: [0, f], [f, f + 1], [f + 1, f + 2], ... where the first, part
// period depreciates that fraction of a whole first period.
OMBRIX_FN(vdb) {
    OMBRIX_NUMBER(0, cost);
    OMBRIX_NUMBER(1, salvage);
    OMBRIX_NUMBER(2, life);
    OMBRIX_NUMBER(3, start);
    OMBRIX_NUMBER(4, end);
    OMBRIX_NUMBER_OR(5, factor, 2);
    OMBRIX_FLAG(6, no_switch);
    if (cost < 0 || salvage < 0 || life <= 0 || start < 0 || end < start || end > life || factor <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (end > 1e6)
        OMBRIX_RETURN(err(ErrorCode::Num));        // computed period by period: a bound on the work
    double value = cost, total = 0, straight = -1; // the straight-line amount once switched to it
    // The depreciation of a whole period beginning at `at`; `switching`: a switch to straight
    // line holds from then on.
    auto period_amount = [&](double at, bool switching) {
        if (straight >= 0)
            return straight;
        double declining = std::min(value * factor / life, std::max(0.0, value - salvage));
        double line = life > at ? (value - salvage) / (life - at) : 0;
        if (no_switch || line <= declining)
            return declining;
        if (switching)
            straight = line;
        return line;
    };
    double at = start - std::floor(start);
    value -= at * period_amount(0, false);
    for (; at < end; at += 1) {
        double amount = period_amount(at, true);
        double lo = std::max(start, at), hi = std::min(end, at + 1);
        if (hi > lo)
            total += amount * (hi - lo);
        value -= amount;
    }
    OMBRIX_RETURN(Value::number(total));
}

OMBRIX_FN(pduration) {
    OMBRIX_NUMBER(0, rate);
    OMBRIX_NUMBER(1, pv);
    OMBRIX_NUMBER(2, fv);
    if (rate <= 0 || pv <= 0 || fv <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number((std::log(fv) - std::log(pv)) / std::log1p(rate)));
}
OMBRIX_FN(rri) {
    OMBRIX_NUMBER(0, n);
    OMBRIX_NUMBER(1, pv);
    OMBRIX_NUMBER(2, fv);
    if (n <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (pv == 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::pow(fv / pv, 1 / n) - 1));
}
OMBRIX_FN(ispmt) {
    OMBRIX_NUMBER(0, rate);
    OMBRIX_NUMBER(1, per);
    OMBRIX_NUMBER(2, nper);
    OMBRIX_NUMBER(3, pv);
    if (nper == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(pv * rate * (per / nper - 1)));
}
OMBRIX_FN(fvschedule) {
    OMBRIX_NUMBER(0, principal);
    std::vector<double> rates;
    Value e;
    if (!collect(c, 1, 2, rates, e))
        OMBRIX_RETURN(e);
    for (double r : rates)
        principal *= 1 + r;
    OMBRIX_RETURN(Value::number(principal));
}

// DAYS360: the US method moves a start on a month's last day to the 30th, and an end on the
// 31st to the 1st of the next month when the start is before the 30th; the European one moves
// both 31sts to the 30th.
OMBRIX_FN(days360) {
    long start, end;
    if (!date_arg(c, 0, start, out.v, true) || !date_arg(c, 1, end, out.v, true))
        return;
    OMBRIX_FLAG(2, european);
    const bool sys = d1904(c);
    Ymd a = serial_to_ymd(start, sys), b = serial_to_ymd(end, sys);
    long d1 = a.d, d2 = b.d;
    if (european) {
        d1 = std::min(d1, 30L);
        d2 = std::min(d2, 30L);
    } else {
        if (d1 == days_in_month(a.y, a.m, sys))
            d1 = 30;
        if (d2 == 31) {
            if (d1 < 30) {
                d2 = 1;
                if (++b.m > 12)
                    b.m = 1, ++b.y;
            } else {
                d2 = 30;
            }
        }
    }
    OMBRIX_RETURN(Value::number(double((b.y - a.y) * 360 + (b.m - a.m) * 30 + (d2 - d1))));
}

// The ISO 8601 week: weeks start on Monday, week 1 holds the year's first Thursday.
OMBRIX_FN(isoweeknum) {
    long day;
    if (!date_arg(c, 0, day, out.v, true))
        return;
    const bool sys = d1904(c);
    int weekday = (day_of_week(day, sys) + 6) % 7; // Monday 0
    long thursday = day - weekday + 3;
    // A Thursday before the first day of the date system is in the year before it (1899 or
    // 1903, of 365 days), where the weeks run on as they do after.
    const long start = ymd_to_serial(sys ? 1904 : 1900, 1, 1, sys);
    long first = thursday < start ? start - 365 : ymd_to_serial(serial_to_ymd(thursday, sys).y, 1, 1, sys);
    OMBRIX_RETURN(Value::number(double((thursday - first) / 7 + 1)));
}

} // namespace

std::vector<Entry> securities_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"COUPDAYBS", 3, 4, L}, fn_coupdaybs},
        {{"COUPDAYS", 3, 4, L}, fn_coupdays},
        {{"COUPDAYSNC", 3, 4, L}, fn_coupdaysnc},
        {{"COUPNCD", 3, 4, L}, fn_coupncd},
        {{"COUPPCD", 3, 4, L}, fn_couppcd},
        {{"COUPNUM", 3, 4, L}, fn_coupnum},
        {{"PRICE", 6, 7, L}, fn_price},
        {{"YIELD", 6, 7, L}, fn_yield},
        {{"DURATION", 5, 6, L}, duration<false>},
        {{"MDURATION", 5, 6, L}, duration<true>},
        {{"ACCRINT", 6, 8, L}, fn_accrint},
        {{"ACCRINTM", 3, 5, L}, fn_accrintm},
        {{"DISC", 4, 5, L}, discounted<0>},
        {{"INTRATE", 4, 5, L}, discounted<1>},
        {{"RECEIVED", 4, 5, L}, discounted<2>},
        {{"PRICEDISC", 4, 5, L}, discounted<3>},
        {{"YIELDDISC", 4, 5, L}, discounted<4>},
        {{"PRICEMAT", 5, 6, L}, at_maturity<false>},
        {{"YIELDMAT", 5, 6, L}, at_maturity<true>},
        {{"TBILLPRICE", 3, 3, L}, tbill<0>},
        {{"TBILLYIELD", 3, 3, L}, tbill<1>},
        {{"TBILLEQ", 3, 3, L}, tbill<2>},
        {{"DOLLARDE", 2, 2, L}, dollar_fraction<true>},
        {{"DOLLARFR", 2, 2, L}, dollar_fraction<false>},
        {{"SYD", 4, 4, L}, fn_syd},
        {{"VDB", 5, 7, L}, fn_vdb},
        {{"PDURATION", 3, 3, L}, fn_pduration},
        {{"RRI", 3, 3, L}, fn_rri},
        {{"ISPMT", 4, 4, L}, fn_ispmt},
        {{"FVSCHEDULE", 2, 2, FnArrayArgs}, fn_fvschedule},
        {{"DAYS360", 2, 3, L}, fn_days360},
        {{"ISOWEEKNUM", 1, 1, L}, fn_isoweeknum},
    };
}

#undef OMBRIX_COUPON_ARGS

} // namespace host::engine::detail::fn
