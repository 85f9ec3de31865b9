#ifndef OMBRIX_HOST_ENGINE_FUNCTIONS_CALENDAR_HPP
#define OMBRIX_HOST_ENGINE_FUNCTIONS_CALENDAR_HPP

// Serial date numbers as the spreadsheet counts them. In the 1900 system serial 1 is
// 1 January 1900, 0 is "0 January 1900" and 60 is a 29 February 1900 that never was, kept for
// compatibility; from 61 (1 March 1900) on, serials are plain day counts. In the 1904 system
// serial 0 is 1 January 1904.

#include <string_view>

namespace host::engine::detail::fn {

// Division rounding towards minus infinity, for months and days before an epoch.
inline long floor_div(long a, long b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
inline bool leap(long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

struct Ymd {
    long y, m, d;
};

// The last serial of 9999-12-31.
long max_serial(bool date1904);
// The date of a whole serial in [0, max_serial].
Ymd serial_to_ymd(long serial, bool date1904);
// Month and day outside their range roll over (month 13 is January of the next year, day 0
// the last day of the previous month), as DATE does. Any result, negatives included.
long ymd_to_serial(long y, long m, long d, bool date1904);
long days_in_month(long y, long m, bool date1904);
// 0 for Sunday ... 6 for Saturday, following the serial numbers (so 1900-01-01 is a Sunday).
int day_of_week(long serial, bool date1904);

// Reads a date and/or time typed as text ("2024-01-15", "1/15/2024", "15 Jan 2024",
// "January 15, 2024", "10:30", "3:45:10 PM", "2024-01-15 10:30"). A date without a year
// takes `this_year`.
struct DateText {
    double days = 0; // the date's serial, 0 without a date
    double time = 0; // fraction of a day, may exceed 1 for hours past 24
    bool has_date = false;
    bool has_time = false;
};
bool parse_date_text(std::string_view text, bool date1904, long this_year, DateText& out);
// The same as one serial (date plus time), a date without a year in the current one.
bool date_text_serial(std::string_view text, bool date1904, double& out);
// The year of today's date, for date text without a year.
long current_year(bool date1904);

// Days from start to end as the day count basis counts them: 0 US 30/360, 4 European 30/360,
// otherwise actual days.
double day_count(long start, long end, int basis, bool date1904);
// YEARFRAC's fraction of a year between two serials, for basis 0 to 4.
double year_fraction(long start, long end, int basis, bool date1904);

// The current local date and time as a serial.
double now_serial(bool date1904);

extern const char* const month_names[12];
extern const char* const day_names[7];

} // namespace host::engine::detail::fn

#endif
