// The French accounting system's depreciation (AMORLINC, AMORDEGRC) and the conversions
// between the euro and the currencies it replaced (EUROCONVERT), at their fixed rates.

#include "engine/functions/finance/Securities.hpp"

#include "engine/functions/dates/Calendar.hpp"

#include <array>
#include <cctype>
#include <cmath>
#include <string_view>

namespace host::engine::detail::fn {

namespace {

// cost, purchase date, end of the first period, salvage, period, rate, basis: shared by both.
struct Asset {
    double cost = 0, salvage = 0, period = 0, rate = 0;
    double first_fraction = 0; // of a year, from purchase to the end of the first period
};

bool read_asset(Ctx& c, Asset& a, Value& out) {
    long purchased = 0, first_end = 0;
    int basis = 0;
    if (!plain_number(c, 0, a.cost, out) || !date_arg(c, 1, purchased, out) || !date_arg(c, 2, first_end, out) ||
        !plain_number(c, 3, a.salvage, out) || !plain_number(c, 4, a.period, out) || !plain_number(c, 5, a.rate, out) ||
        !basis_arg(c, 6, basis, out))
        return false;
    a.period = std::trunc(a.period);
    // The 360-day year of basis 2 is not one of this system's.
    if (basis == 2 || a.cost < 0 || a.salvage < 0 || a.salvage > a.cost || a.period < 0 || a.rate <= 0 ||
        purchased > first_end) {
        out = err(ErrorCode::Num);
        return false;
    }
    a.first_fraction = year_fraction(purchased, first_end, basis, d1904(c));
    return true;
}

OMBRIX_FN(amorlinc) {
    Asset a;
    if (!read_asset(c, a, out.v))
        return;
    const double full = a.cost * a.rate, first = a.first_fraction * a.rate * a.cost;
    const double full_periods = std::trunc((a.cost - a.salvage - first) / full);
    if (a.period == 0)
        OMBRIX_RETURN(Value::number(first));
    if (a.period <= full_periods)
        OMBRIX_RETURN(Value::number(full));
    if (a.period == full_periods + 1)
        OMBRIX_RETURN(Value::number(std::max(0.0, a.cost - a.salvage - full * full_periods - first)));
    OMBRIX_RETURN(Value::number(0));
}

// Each period's depreciation is rounded to whole units; the rate is scaled by the asset's
// life (1/rate); once the rest would fall below the salvage, the period before the last
// takes half of what is left and the later ones nothing.
OMBRIX_FN(amordegrc) {
    Asset a;
    if (!read_asset(c, a, out.v))
        return;
    const double life = 1 / a.rate;
    double coefficient;
    if (life >= 3 && life <= 4)
        coefficient = 1.5;
    else if (life >= 5 && life <= 6)
        coefficient = 2;
    else if (life > 6)
        coefficient = 2.5;
    else
        OMBRIX_RETURN(err(ErrorCode::Num)); // lives under 3 years, or between 4 and 5
    const double rate = a.rate * coefficient;
    double depreciation = std::round(a.first_fraction * rate * a.cost);
    double value = a.cost - depreciation, rest = value - a.salvage;
    for (double n = 0; n < a.period; ++n) {
        depreciation = std::round(rate * value);
        rest -= depreciation;
        if (rest < 0)
            OMBRIX_RETURN(Value::number(a.period - n <= 1 ? std::round(value * 0.5) : 0));
        value -= depreciation;
    }
    OMBRIX_RETURN(Value::number(depreciation));
}

struct EuroCurrency {
    std::string_view code;
    double per_euro;
    int digits; // the precision the currency's amounts are rounded to
};

const std::array<EuroCurrency, 14> euro_currencies{{
    {"EUR", 1, 2},
    {"BEF", 40.3399, 0},
    {"LUF", 40.3399, 0},
    {"DEM", 1.95583, 2},
    {"ESP", 166.386, 0},
    {"FRF", 6.55957, 2},
    {"IEP", 0.787564, 2},
    {"ITL", 1936.27, 0},
    {"NLG", 2.20371, 2},
    {"ATS", 13.7603, 2},
    {"PTE", 200.482, 1},
    {"FIM", 5.94573, 2},
    {"GRD", 340.75, 0},
    {"SIT", 239.64, 2},
}};

const EuroCurrency* euro_currency(std::string code) {
    for (char& ch : code)
        ch = char(std::toupper(static_cast<unsigned char>(ch)));
    for (const EuroCurrency& e : euro_currencies)
        if (e.code == code)
            return &e;
    return nullptr;
}

double round_to(double x, int digits) {
    const double scale = std::pow(10.0, digits);
    return std::round(x * scale) / scale;
}

// From one currency to another through the euro: the euro amount rounded to the triangulation
// precision when one is given (3 digits or more), the result to the target's precision unless
// full precision is asked for.
OMBRIX_FN(euroconvert) {
    OMBRIX_NUMBER(0, amount);
    OMBRIX_TEXT(1, source_code);
    OMBRIX_TEXT(2, target_code);
    OMBRIX_FLAG(3, full_precision);
    const EuroCurrency *source = euro_currency(source_code), *target = euro_currency(target_code);
    if (!source || !target)
        OMBRIX_RETURN(err(ErrorCode::Value));
    double euros = amount / source->per_euro;
    if (!c.missing(4)) {
        OMBRIX_NUMBER(4, triangulation);
        triangulation = std::trunc(triangulation);
        if (triangulation < 3)
            OMBRIX_RETURN(err(ErrorCode::Value));
        if (source->code != "EUR" && target->code != "EUR")
            euros = round_to(euros, int(std::min(triangulation, 15.0)));
    }
    const double result = euros * target->per_euro;
    OMBRIX_RETURN(Value::number(full_precision ? result : round_to(result, target->digits)));
}

} // namespace

std::vector<Entry> depreciation_functions() {
    const std::uint8_t L = FnLift;
    return {
        {{"AMORLINC", 6, 7, L}, fn_amorlinc},
        {{"AMORDEGRC", 6, 7, L}, fn_amordegrc},
        {{"EUROCONVERT", 3, 5, L}, fn_euroconvert},
    };
}

} // namespace host::engine::detail::fn
