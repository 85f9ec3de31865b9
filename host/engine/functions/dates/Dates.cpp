// Date and time functions, over serial date numbers.

#include "engine/functions/dates/Calendar.hpp"
#include "engine/functions/Common.hpp"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace host::engine::detail::fn {

namespace {

bool system1904(const Ctx& c) { return c.ev.grid.date1904(); }

} // namespace

namespace {

// A date argument: a number, or text that reads as a number or a date.
bool date_value(const Ctx& c, int i, double& x, Value& out, double fallback = 0) {
    if (c.missing(i)) {
        x = fallback;
        return true;
    }
    Value v = c.arg(i);
    if (v.is_text() && !parse_number(v.as_text())) {
        if (!date_text_serial(v.as_text(), system1904(c), x)) {
            out = err(ErrorCode::Value);
            return false;
        }
        return true;
    }
    return num(c, i, x, out, fallback);
}

// A date argument as a whole serial on the calendar; #NUM! outside it.
bool day_arg(const Ctx& c, int i, long& day, Value& out) {
    double x;
    if (!date_value(c, i, x, out))
        return false;
    if (x < 0 || std::floor(x) > double(max_serial(system1904(c)))) {
        out = err(ErrorCode::Num);
        return false;
    }
    day = long(std::floor(x));
    return true;
}

#define OMBRIX_DAY(i, var)                                                                                             \
    long var;                                                                                                          \
    if (!day_arg(c, i, var, out.v))                                                                                    \
    return
#define OMBRIX_DATE_VALUE(i, var)                                                                                      \
    double var;                                                                                                        \
    if (!date_value(c, i, var, out.v))                                                                                 \
    return

Value serial_result(long serial, bool date1904) {
    if (serial < 0 || serial > max_serial(date1904))
        return err(ErrorCode::Num);
    return Value::number(double(serial));
}

OMBRIX_FN(date) {
    OMBRIX_NUMBER(0, year);
    OMBRIX_NUMBER(1, month);
    OMBRIX_NUMBER(2, day);
    double y = std::trunc(year);
    if (y < 0 || y >= 10000 || std::fabs(month) > 1e6 || std::fabs(day) > 1e8)
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (y < 1900)
        y += 1900;
    // The months carry into the year first: beyond 9999 it is #NUM! whatever the day.
    if (y + std::floor((std::trunc(month) - 1) / 12) > 9999)
        OMBRIX_RETURN(err(ErrorCode::Num));
    bool d1904 = system1904(c);
    OMBRIX_RETURN(serial_result(ymd_to_serial(long(y), long(std::trunc(month)), long(std::trunc(day)), d1904), d1904));
}

OMBRIX_FN(time) {
    OMBRIX_NUMBER(0, h);
    OMBRIX_NUMBER(1, m);
    OMBRIX_NUMBER(2, s);
    h = std::trunc(h), m = std::trunc(m), s = std::trunc(s);
    if (h > 32767 || m > 32767 || s > 32767)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double total = h * 3600 + m * 60 + s;
    if (total < 0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(std::fmod(total, 86400) / 86400));
}

OMBRIX_FN(year) {
    OMBRIX_DAY(0, d);
    OMBRIX_RETURN(Value::number(double(serial_to_ymd(d, system1904(c)).y)));
}
OMBRIX_FN(month) {
    OMBRIX_DAY(0, d);
    OMBRIX_RETURN(Value::number(double(serial_to_ymd(d, system1904(c)).m)));
}
OMBRIX_FN(day) {
    OMBRIX_DAY(0, d);
    OMBRIX_RETURN(Value::number(double(serial_to_ymd(d, system1904(c)).d)));
}

// The time of day in whole seconds, rounded to the nearest as the clock shows it.
bool seconds_of_day(Ctx& c, Item& out, long& secs) {
    double x;
    if (!date_value(c, 0, x, out.v))
        return false;
    if (x < 0 || x > double(max_serial(system1904(c))) + 1) {
        out.v = err(ErrorCode::Num);
        return false;
    }
    secs = long(std::round((x - std::floor(x)) * 86400)) % 86400;
    return true;
}
OMBRIX_FN(hour) {
    long s;
    if (seconds_of_day(c, out, s))
        OMBRIX_RETURN(Value::number(double(s / 3600)));
}
OMBRIX_FN(minute) {
    long s;
    if (seconds_of_day(c, out, s))
        OMBRIX_RETURN(Value::number(double(s / 60 % 60)));
}
OMBRIX_FN(second) {
    long s;
    if (seconds_of_day(c, out, s))
        OMBRIX_RETURN(Value::number(double(s % 60)));
}

OMBRIX_FN(weekday) {
    OMBRIX_DAY(0, d);
    OMBRIX_NUMBER_OR(1, kind, 1);
    int dow = day_of_week(d, system1904(c));
    int k = int(std::trunc(kind));
    if (k == 1 || k == 17)
        OMBRIX_RETURN(Value::number(dow + 1));
    if (k == 2 || k == 11)
        OMBRIX_RETURN(Value::number((dow + 6) % 7 + 1));
    if (k == 3)
        OMBRIX_RETURN(Value::number((dow + 6) % 7));
    if (k >= 12 && k <= 16)
        OMBRIX_RETURN(Value::number((dow - (k - 10) + 7) % 7 + 1));
    OMBRIX_RETURN(err(ErrorCode::Num));
}

OMBRIX_FN(weeknum) {
    if (c.arg(0).is_boolean()) // TRUE and FALSE are no date here, as for EDATE
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_DAY(0, d);
    OMBRIX_NUMBER_OR(1, kind, 1);
    bool d1904 = system1904(c);
    int k = int(std::trunc(kind));
    if (d == 0 && !d1904 && k != 21 && (k == 1 || k == 2 || (k >= 11 && k <= 17)))
        OMBRIX_RETURN(Value::number(0)); // serial 0 is "January 0, 1900", before week 1
    Ymd ymd = serial_to_ymd(d, d1904);
    if (k == 21) {
        // ISO weeks: the week holding the year's first Thursday is week 1.
        long thursday = d - (day_of_week(d, d1904) + 6) % 7 + 3;
        long y = thursday < 0 ? ymd.y : serial_to_ymd(thursday, d1904).y;
        OMBRIX_RETURN(Value::number(double((thursday - ymd_to_serial(y, 1, 1, d1904)) / 7 + 1)));
    }
    int start; // the day weeks begin on, 0 for Sunday
    if (k == 1 || k == 17)
        start = 0;
    else if (k == 2 || k == 11)
        start = 1;
    else if (k >= 12 && k <= 16)
        start = k - 10;
    else
        OMBRIX_RETURN(err(ErrorCode::Num));
    long jan1 = ymd_to_serial(ymd.y, 1, 1, d1904);
    int offset = (day_of_week(jan1, d1904) - start + 7) % 7;
    OMBRIX_RETURN(Value::number(double((d - jan1 + offset) / 7 + 1)));
}

void month_shift(Ctx& c, Item& out, bool end_of_month) {
    if (c.arg(0).is_boolean()) // a start date of TRUE or FALSE is refused, even from a cell
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_DATE_VALUE(0, start);
    double months;
    if (!plain_number(c, 1, months, out.v)) // TRUE and FALSE are no count of months
        return;
    bool d1904 = system1904(c);
    if (start < 0 || start > double(max_serial(d1904)) || std::fabs(months) > 1e6)
        OMBRIX_RETURN(err(ErrorCode::Num));
    Ymd s = serial_to_ymd(long(start), d1904);
    long total = s.y * 12 + (s.m - 1) + long(std::trunc(months));
    long y = floor_div(total, 12), m = total - y * 12 + 1;
    if (y < 1900 || y > 9999)
        OMBRIX_RETURN(err(ErrorCode::Num));
    long dim = days_in_month(y, m, d1904);
    long day = end_of_month ? dim : std::min(s.d, dim);
    OMBRIX_RETURN(serial_result(ymd_to_serial(y, m, day, d1904), d1904));
}
OMBRIX_FN(edate) { month_shift(c, out, false); }
OMBRIX_FN(eomonth) { month_shift(c, out, true); }

OMBRIX_FN(days) {
    OMBRIX_DAY(0, end);
    OMBRIX_DAY(1, start);
    OMBRIX_RETURN(Value::number(double(end - start)));
}

OMBRIX_FN(datedif) {
    OMBRIX_DAY(0, start);
    OMBRIX_DAY(1, end);
    OMBRIX_TEXT(2, unit_text);
    if (start > end)
        OMBRIX_RETURN(err(ErrorCode::Num));
    bool d1904 = system1904(c);
    std::string unit = to_upper(unit_text);
    Ymd a = serial_to_ymd(start, d1904), b = serial_to_ymd(end, d1904);
    long months = (b.y - a.y) * 12 + (b.m - a.m) - (b.d < a.d ? 1 : 0);
    if (unit == "D")
        OMBRIX_RETURN(Value::number(double(end - start)));
    if (unit == "M")
        OMBRIX_RETURN(Value::number(double(months)));
    if (unit == "Y")
        OMBRIX_RETURN(Value::number(double(months / 12)));
    if (unit == "YM")
        OMBRIX_RETURN(Value::number(double(months % 12)));
    if (unit == "MD") {
        if (b.d >= a.d)
            OMBRIX_RETURN(Value::number(double(b.d - a.d)));
        OMBRIX_RETURN(Value::number(double(end - ymd_to_serial(b.y, b.m - 1, a.d, d1904))));
    }
    if (unit == "YD") {
        // The end's day of the year moved into the start's year (or the next), as the
        // spreadsheet counts it: 29 February 1900 included.
        bool same_year = b.m > a.m || (b.m == a.m && b.d >= a.d);
        long shifted = ymd_to_serial(same_year ? a.y : a.y + 1, b.m, b.d, d1904);
        OMBRIX_RETURN(Value::number(double(shifted - start)));
    }
    OMBRIX_RETURN(err(ErrorCode::Num));
}

// DATEVALUE's and TIMEVALUE's argument: text that reads as a date or time; otherwise `out`
// holds the error.
bool date_text_arg(const Ctx& c, DateText& dt, Item& out) {
    Value v = c.arg(0);
    if (v.is_error()) {
        out.v = v;
        return false;
    }
    bool d1904 = system1904(c);
    if (!v.is_text() || !parse_date_text(v.as_text(), d1904, current_year(d1904), dt)) {
        out.v = err(ErrorCode::Value);
        return false;
    }
    return true;
}

OMBRIX_FN(datevalue) {
    DateText dt;
    if (!date_text_arg(c, dt, out))
        return;
    OMBRIX_RETURN(dt.has_date ? Value::number(dt.days) : err(ErrorCode::Value));
}

OMBRIX_FN(timevalue) {
    DateText dt;
    if (!date_text_arg(c, dt, out))
        return;
    OMBRIX_RETURN(dt.has_time ? Value::number(dt.time - std::floor(dt.time)) : err(ErrorCode::Value));
}

// The holidays argument: whole serials, sorted, without duplicates.
bool holidays(const Ctx& c, int i, std::vector<long>& out, Value& error) {
    out.clear();
    if (c.missing(i))
        return true;
    bool ok = true;
    bool d1904 = c.ev.grid.date1904();
    each_value(c, i, i + 1, [&](const Value& v, bool direct, bool missing) {
        if (!ok || missing || v.is_empty())
            return;
        double x;
        if (v.is_error()) {
            error = v, ok = false;
            return;
        }
        if (v.is_number())
            x = v.as_number();
        else if (v.is_text()) {
            DateText dt;
            if (auto n = parse_number(v.as_text()))
                x = *n;
            else if (parse_date_text(v.as_text(), d1904, current_year(d1904), dt))
                x = dt.days;
            else {
                error = err(ErrorCode::Value), ok = false;
                return;
            }
        } else if (direct && v.is_boolean()) {
            x = v.as_boolean() ? 1 : 0;
        } else {
            error = err(ErrorCode::Value), ok = false;
            return;
        }
        if (x < 0 || x > double(max_serial(d1904))) {
            error = err(ErrorCode::Num), ok = false;
            return;
        }
        out.push_back(long(std::floor(x)));
    });
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return ok;
}

// The days of the week that are no working days, by day_of_week (0 Sunday ... 6 Saturday).
using Weekend = std::array<bool, 7>;
constexpr Weekend saturday_sunday = {true, false, false, false, false, false, true};

// The weekend argument of WORKDAY.INTL and NETWORKDAYS.INTL: 1-7 two days (1 Saturday and
// Sunday, 2 Sunday and Monday, ... 7 Friday and Saturday), 11-17 one day (11 Sunday ... 17
// Saturday), or seven 0/1 characters from Monday, 1 for a day off.
bool weekend_arg(const Ctx& c, int i, Weekend& out, Value& error) {
    out = saturday_sunday;
    if (c.missing(i))
        return true;
    const Value v = c.arg(i);
    if (v.is_error()) {
        error = v;
        return false;
    }
    if (v.is_text()) {
        const std::string_view days = v.as_text();
        if (days.size() != 7 || days.find_first_not_of("01") != std::string_view::npos) {
            error = err(ErrorCode::Value);
            return false;
        }
        for (std::size_t k = 0; k < 7; ++k)
            out[(k + 1) % 7] = days[k] == '1';
        return true;
    }
    double code;
    if (!num(c, i, code, error))
        return false;
    code = std::trunc(code);
    out.fill(false);
    if (code >= 1 && code <= 7) {
        out[(int(code) + 5) % 7] = true; // 1: Saturday (6) and the day after
        out[(int(code) + 6) % 7] = true;
    } else if (code >= 11 && code <= 17) {
        out[int(code) - 11] = true;
    } else {
        error = err(ErrorCode::Num);
        return false;
    }
    return true;
}

bool is_off(long d, bool d1904, const Weekend& off) { return off[std::size_t(day_of_week(d, d1904))]; }

long workdays_per_week(const Weekend& off) { return 7 - long(std::count(off.begin(), off.end(), true)); }

// The working days from a to b (a <= b), inclusive.
long workdays_between(long a, long b, bool d1904, const Weekend& off) {
    long n = b - a + 1, count = n / 7 * workdays_per_week(off);
    for (long d = a + n / 7 * 7; d <= b; ++d)
        count += is_off(d, d1904, off) ? 0 : 1;
    return count;
}

// NETWORKDAYS(start, end, [holidays]) and NETWORKDAYS.INTL(start, end, [weekend], [holidays]).
template <bool Intl>
void networkdays(Ctx& c, Item& out) {
    OMBRIX_DAY(0, start);
    OMBRIX_DAY(1, end);
    Weekend off = saturday_sunday;
    std::vector<long> free_days;
    Value e;
    if ((Intl && !weekend_arg(c, 2, off, e)) || !holidays(c, Intl ? 3 : 2, free_days, e))
        OMBRIX_RETURN(e);
    bool d1904 = system1904(c);
    long a = std::min(start, end), b = std::max(start, end);
    long n = workdays_between(a, b, d1904, off);
    for (long h : free_days)
        if (h >= a && h <= b && !is_off(h, d1904, off))
            --n;
    OMBRIX_RETURN(Value::number(double(start <= end ? n : -n)));
}

// WORKDAY(start, days, [holidays]) and WORKDAY.INTL(start, days, [weekend], [holidays]).
template <bool Intl>
void workday(Ctx& c, Item& out) {
    OMBRIX_DAY(0, start);
    OMBRIX_NUMBER(1, days);
    Weekend off = saturday_sunday;
    std::vector<long> free_days;
    Value e;
    if ((Intl && !weekend_arg(c, 2, off, e)) || !holidays(c, Intl ? 3 : 2, free_days, e))
        OMBRIX_RETURN(e);
    const long per_week = workdays_per_week(off);
    if (per_week == 0)
        OMBRIX_RETURN(err(ErrorCode::Value));
    bool d1904 = system1904(c);
    long left = long(std::trunc(std::max(-1e7, std::min(1e7, days))));
    long step = left < 0 ? -1 : 1, d = start;
    long limit = max_serial(d1904);
    // Whole weeks at a time where no holiday falls, else day by day.
    while (left != 0) {
        if (std::labs(left) > 2 * per_week) {
            long weeks = (std::labs(left) - per_week) / per_week;
            long to = d + step * weeks * 7;
            auto next = std::upper_bound(free_days.begin(), free_days.end(), std::min(d, to));
            if (next == free_days.end() || *next > std::max(d, to)) {
                d = to;
                left -= step * weeks * per_week;
            }
        }
        d += step;
        if (d < 0 || d > limit)
            OMBRIX_RETURN(err(ErrorCode::Num));
        if (!is_off(d, d1904, off) && !std::binary_search(free_days.begin(), free_days.end(), d))
            left -= step;
    }
    OMBRIX_RETURN(serial_result(d, d1904));
}

// The four ways of counting a year's fraction, by the day count basis.
double days360(Ymd a, Ymd b, bool european, bool d1904) {
    long d1 = a.d, d2 = b.d;
    if (european) {
        d1 = std::min(d1, 30L);
        d2 = std::min(d2, 30L);
    } else {
        bool a_feb_end = a.m == 2 && a.d == days_in_month(a.y, 2, d1904);
        bool b_feb_end = b.m == 2 && b.d == days_in_month(b.y, 2, d1904);
        if (d1 == 31 && d2 == 31)
            d1 = d2 = 30;
        else if (d1 == 31)
            d1 = 30;
        else if (d1 == 30 && d2 == 31)
            d2 = 30;
        else if (a_feb_end && b_feb_end)
            d1 = d2 = 30;
        else if (a_feb_end)
            d1 = 30;
    }
    return double((b.y - a.y) * 360 + (b.m - a.m) * 30 + (d2 - d1));
}

double actual_actual(long start, long end, bool d1904) {
    Ymd a = serial_to_ymd(start, d1904), b = serial_to_ymd(end, d1904);
    double days = double(end - start);
    bool within_year = a.y == b.y || (b.y == a.y + 1 && (a.m > b.m || (a.m == b.m && a.d >= b.d)));
    if (within_year) {
        double length = 365;
        if (a.y == b.y && leap(a.y))
            length = 366;
        else if ((leap(a.y) && start < ymd_to_serial(a.y, 3, 1, d1904)) ||
                 (leap(b.y) && end >= ymd_to_serial(b.y, 3, 1, d1904) && start < ymd_to_serial(b.y, 3, 1, d1904)) ||
                 (b.m == 2 && b.d == 29))
            length = 366;
        return days / length;
    }
    double years = double(b.y - a.y + 1);
    double total = double(ymd_to_serial(b.y + 1, 1, 1, d1904) - ymd_to_serial(a.y, 1, 1, d1904));
    if (!d1904 && a.y <= 1900)
        total -= 1; // the years' average length leaves out the 29 February 1900 that never was
    return days / (total / years);
}

// The basis is read first: its error, or #NUM! for one out of range, comes before the dates'.
// A logical value is no basis.
OMBRIX_FN(yearfrac) {
    if (c.argc > 2 && c.arg(2).is_boolean())
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_NUMBER_OR(2, basis_arg, 0);
    int basis = int(std::trunc(basis_arg));
    if (basis < 0 || basis > 4)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_DAY(0, start);
    OMBRIX_DAY(1, end);
    if (start > end)
        std::swap(start, end);
    bool d1904 = system1904(c);
    double days = double(end - start);
    switch (basis) {
    case 0:
        OMBRIX_RETURN(
            Value::number(days360(serial_to_ymd(start, d1904), serial_to_ymd(end, d1904), false, d1904) / 360));
    case 1: OMBRIX_RETURN(Value::number(actual_actual(start, end, d1904)));
    case 2: OMBRIX_RETURN(Value::number(days / 360));
    case 3: OMBRIX_RETURN(Value::number(days / 365));
    default:
        OMBRIX_RETURN(
            Value::number(days360(serial_to_ymd(start, d1904), serial_to_ymd(end, d1904), true, d1904) / 360));
    }
}

// The clock's moment, or the one the workbook fixes.
double now_of(const Ctx& c) {
    double serial;
    return c.ev.grid.fixed_now(serial) ? serial : now_serial(system1904(c));
}

OMBRIX_FN(today) { OMBRIX_RETURN(Value::number(std::floor(now_of(c)))); }
OMBRIX_FN(now) { OMBRIX_RETURN(Value::number(now_of(c))); }

} // namespace

double day_count(long start, long end, int basis, bool date1904) {
    if (basis == 0 || basis == 4)
        return days360(serial_to_ymd(start, date1904), serial_to_ymd(end, date1904), basis == 4, date1904);
    return double(end - start);
}

double year_fraction(long start, long end, int basis, bool date1904) {
    if (start > end)
        std::swap(start, end);
    switch (basis) {
    case 1: return actual_actual(start, end, date1904);
    case 2: return double(end - start) / 360;
    case 3: return double(end - start) / 365;
    default: return day_count(start, end, basis, date1904) / 360;
    }
}

std::vector<Entry> date_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"DATE", 3, 3, L}, fn_date},
        {{"TIME", 3, 3, L}, fn_time},
        {{"YEAR", 1, 1, L}, fn_year},
        {{"MONTH", 1, 1, L}, fn_month},
        {{"DAY", 1, 1, L}, fn_day},
        {{"HOUR", 1, 1, L}, fn_hour},
        {{"MINUTE", 1, 1, L}, fn_minute},
        {{"SECOND", 1, 1, L}, fn_second},
        {{"WEEKDAY", 1, 2, L}, fn_weekday},
        {{"WEEKNUM", 1, 2, L}, fn_weeknum},
        {{"EDATE", 2, 2, L}, fn_edate},
        {{"EOMONTH", 2, 2, L}, fn_eomonth},
        {{"DAYS", 2, 2, L}, fn_days},
        {{"DATEDIF", 3, 3, L}, fn_datedif},
        {{"DATEVALUE", 1, 1, L}, fn_datevalue},
        {{"TIMEVALUE", 1, 1, L}, fn_timevalue},
        {{"NETWORKDAYS", 2, 3, 0}, networkdays<false>},
        {{"WORKDAY", 2, 3, 0}, workday<false>},
        {{"NETWORKDAYS.INTL", 2, 4, 0}, networkdays<true>},
        {{"WORKDAY.INTL", 2, 4, 0}, workday<true>},
        {{"YEARFRAC", 2, 3, L}, fn_yearfrac},
        {{"TODAY", 0, 0, FnVolatile}, fn_today},
        {{"NOW", 0, 0, FnVolatile}, fn_now},
    };
}

#undef OMBRIX_DAY
#undef OMBRIX_DATE_VALUE

} // namespace host::engine::detail::fn
