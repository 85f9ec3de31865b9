// Bonds whose first or last coupon period is odd, shorter or longer than the others: ODDFPRICE,
// ODDFYIELD, ODDLPRICE, ODDLYIELD. An odd period is cut into quasi-coupon periods, the regular
// periods it would have had; each contributes its days over its normal length.

#include "engine/functions/dates/Calendar.hpp"
#include "engine/functions/finance/Securities.hpp"

#include <algorithm>
#include <cmath>

namespace host::engine::detail::fn {

namespace {

struct OddFirst {
    long settlement, maturity, issue, first_coupon;
    double rate, redemption;
    int frequency, basis;
    bool sys;
};

// The price per 100 of face value at yield `yld`; quasi-coupon periods run back from the first
// coupon date, regular ones on from it to maturity.
double odd_first_price(const OddFirst& b, double yld) {
    const long step = 12 / b.frequency;
    auto date = [&](long j) { return shift_months(b.first_coupon, j * step, b.sys); };
    auto length = [&](long j) { // of the period ending on date(j)
        return b.basis == 1 ? double(date(j) - date(j - 1)) : (b.basis == 3 ? 365.0 : 360.0) / b.frequency;
    };
    auto days = [&](long from, long to) { return day_count(from, to, b.basis, b.sys); };
    const double coupon = 100 * b.rate / b.frequency, g = 1 + yld / b.frequency;
    long later = 0; // coupons after the first; a part of a period counts as one
    while (date(later) < b.maturity)
        ++later;
    if (b.issue >= date(-1)) { // short first period
        double e = length(0), dsc = days(b.settlement, b.first_coupon) / e;
        double price = b.redemption / std::pow(g, double(later) + dsc) +
                       coupon * days(b.issue, b.first_coupon) / e / std::pow(g, dsc);
        for (long k = 1; k <= later; ++k)
            price += coupon / std::pow(g, double(k) + dsc);
        return price - coupon * days(b.issue, b.settlement) / e;
    }
    // Long first period: the first coupon pays every quasi-period's part of it.
    double paid = 0, accrued = 0, dsc = 0;
    long whole_after = 0; // quasi-periods after the one holding settlement
    for (long j = 0; date(j) > b.issue; --j) {
        long from = date(j - 1), to = date(j);
        double normal = length(j);
        bool whole = from >= b.issue;
        paid += whole ? 1 : days(b.issue, to) / normal;
        if (b.settlement > from)
            accrued +=
                whole && b.settlement >= to ? 1 : days(std::max(b.issue, from), std::min(b.settlement, to)) / normal;
        if (from <= b.settlement && b.settlement < to)
            dsc = days(b.settlement, to) / normal;
        if (from > b.settlement)
            ++whole_after;
    }
    double ahead = double(whole_after) + dsc;
    double price = b.redemption / std::pow(g, double(later) + ahead) + coupon * paid / std::pow(g, ahead);
    for (long k = 1; k <= later; ++k)
        price += coupon / std::pow(g, double(k) + ahead);
    return price - coupon * accrued;
}

// settlement, maturity, issue, first_coupon, rate, yld or pr, redemption, frequency, basis.
bool odd_first_args(Ctx& c, OddFirst& b, double& x, Value& out) {
    if (!date_arg(c, 0, b.settlement, out) || !date_arg(c, 1, b.maturity, out) || !date_arg(c, 2, b.issue, out) ||
        !date_arg(c, 3, b.first_coupon, out) || !num(c, 4, b.rate, out) || !num(c, 5, x, out) ||
        !num(c, 6, b.redemption, out) || !frequency_arg(c, 7, b.frequency, out) || !basis_arg(c, 8, b.basis, out))
        return false;
    b.sys = d1904(c);
    if (!(b.maturity > b.first_coupon && b.first_coupon > b.settlement && b.settlement > b.issue) || b.rate < 0 ||
        b.redemption <= 0) {
        out = err(ErrorCode::Num);
        return false;
    }
    return true;
}

OMBRIX_FN(oddfprice) {
    OddFirst b;
    double yld;
    if (!odd_first_args(c, b, yld, out.v))
        return;
    if (yld < 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double price = odd_first_price(b, yld);
    OMBRIX_RETURN(std::isfinite(price) ? Value::number(price) : err(ErrorCode::Num));
}

// The price falls as the yield rises: the yield is found by bisection to the last digit.
OMBRIX_FN(oddfyield) {
    OddFirst b;
    double pr;
    if (!odd_first_args(c, b, pr, out.v))
        return;
    if (pr <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double lo = -b.frequency + 1e-10, hi = 1;
    while (odd_first_price(b, hi) > pr && hi < 1e6)
        hi *= 2;
    if (odd_first_price(b, hi) > pr || !(odd_first_price(b, lo) > pr))
        OMBRIX_RETURN(err(ErrorCode::Num));
    for (int i = 0; i < 200 && hi - lo > 1e-15 * std::max(1.0, std::fabs(hi)); ++i) {
        double mid = (lo + hi) / 2;
        (odd_first_price(b, mid) > pr ? lo : hi) = mid;
    }
    OMBRIX_RETURN(Value::number((lo + hi) / 2));
}

// The odd last period's quasi-coupon periods, run on from the last interest date: the parts
// paid at maturity, accrued at settlement, and left from settlement to maturity, each in
// periods. Basis 1, 2 and 3 measure each period by its actual length.
struct OddLast {
    double paid = 0, accrued = 0, ahead = 0;
};
bool odd_last(Ctx& c, double& rate, double& x, double& redemption, int& frequency, OddLast& s, Value& out) {
    long settlement, maturity, last_interest;
    int basis;
    if (!date_arg(c, 0, settlement, out) || !date_arg(c, 1, maturity, out) || !date_arg(c, 2, last_interest, out) ||
        !num(c, 3, rate, out) || !num(c, 4, x, out) || !num(c, 5, redemption, out) ||
        !frequency_arg(c, 6, frequency, out) || !basis_arg(c, 7, basis, out))
        return false;
    if (!(maturity > settlement && settlement > last_interest) || rate < 0 || redemption <= 0) {
        out = err(ErrorCode::Num);
        return false;
    }
    const bool sys = d1904(c);
    const long step = 12 / frequency;
    for (long j = 0;; ++j) {
        long from = shift_months(last_interest, j * step, sys);
        if (from >= maturity)
            break;
        long to = shift_months(last_interest, (j + 1) * step, sys), end = std::min(to, maturity);
        double normal = basis == 0 || basis == 4 ? 360.0 / frequency : double(to - from);
        auto part = [&](long a, long b) { return day_count(a, b, basis, sys) / normal; };
        s.paid += part(from, end);
        if (settlement > from)
            s.accrued += part(from, std::min(settlement, end));
        if (settlement < end)
            s.ahead += part(std::max(settlement, from), end);
    }
    return true;
}

OMBRIX_FN(oddlprice) {
    double rate, yld, redemption;
    int frequency;
    OddLast s;
    if (!odd_last(c, rate, yld, redemption, frequency, s, out.v))
        return;
    if (yld < 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double coupon = 100 * rate / frequency;
    double price = (redemption + s.paid * coupon) / (1 + s.ahead * yld / frequency) - s.accrued * coupon;
    OMBRIX_RETURN(std::isfinite(price) ? Value::number(price) : err(ErrorCode::Num));
}

OMBRIX_FN(oddlyield) {
    double rate, pr, redemption;
    int frequency;
    OddLast s;
    if (!odd_last(c, rate, pr, redemption, frequency, s, out.v))
        return;
    if (pr <= 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double coupon = 100 * rate / frequency, cost = pr + s.accrued * coupon;
    double yld = (redemption + s.paid * coupon - cost) / cost * frequency / s.ahead;
    OMBRIX_RETURN(std::isfinite(yld) ? Value::number(yld) : err(ErrorCode::Num));
}

} // namespace

std::vector<Entry> odd_period_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"ODDFPRICE", 8, 9, L}, fn_oddfprice},
        {{"ODDFYIELD", 8, 9, L}, fn_oddfyield},
        {{"ODDLPRICE", 7, 8, L}, fn_oddlprice},
        {{"ODDLYIELD", 7, 8, L}, fn_oddlyield},
    };
}

} // namespace host::engine::detail::fn
