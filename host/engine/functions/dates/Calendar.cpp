// Serial dates: the calendar arithmetic and the reading of date and time text.

#include "engine/functions/dates/Calendar.hpp"

#include "engine/Unicode.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace host::engine::detail::fn {

const char* const month_names[12] = {"January", "February", "March",     "April",   "May",      "June",
                                     "July",    "August",   "September", "October", "November", "December"};
const char* const day_names[7] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

namespace {

// Days since 1970-01-01 of a proleptic Gregorian date, and back.
long days_from_civil(long y, long m, long d) {
    y -= m <= 2;
    long era = (y >= 0 ? y : y - 399) / 400;
    long yoe = y - era * 400;
    long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

Ymd civil_from_days(long z) {
    z += 719468;
    long era = (z >= 0 ? z : z - 146096) / 146097;
    long doe = z - era * 146097;
    long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    long mp = (5 * doy + 2) / 153;
    long d = doy - (153 * mp + 2) / 5 + 1;
    long m = mp < 10 ? mp + 3 : mp - 9;
    return {yoe + era * 400 + (m <= 2), m, d};
}

constexpr long epoch1900 = 25569; // serial of 1970-01-01 in the 1900 system
constexpr long epoch1904 = 24107; // and in the 1904 system

} // namespace

long max_serial(bool date1904) { return date1904 ? 2957003 : 2958465; }

Ymd serial_to_ymd(long serial, bool date1904) {
    if (date1904)
        return civil_from_days(serial - epoch1904);
    if (serial == 0)
        return {1900, 1, 0};
    if (serial == 60)
        return {1900, 2, 29};
    return civil_from_days(serial - epoch1900 + (serial < 60 ? 1 : 0));
}

long ymd_to_serial(long y, long m, long d, bool date1904) {
    y += floor_div(m - 1, 12);
    m = m - 1 - floor_div(m - 1, 12) * 12 + 1;
    long first = days_from_civil(y, m, 1);
    if (date1904)
        return first + epoch1904 + d - 1;
    first += epoch1900;
    if (first < 61)
        first -= 1; // before the 29 February 1900 that the 1900 system counts
    return first + d - 1;
}

long days_in_month(long y, long m, bool date1904) {
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m == 2 && (leap(y) || (y == 1900 && !date1904)))
        return 29;
    return days[m - 1];
}

int day_of_week(long serial, bool date1904) {
    long s = date1904 ? serial + 1462 : serial;
    return int(((s + 6) % 7 + 7) % 7);
}

double now_serial(bool date1904) {
    std::time_t t = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &t);
#else
    localtime_r(&t, &local);
#endif
    long day = ymd_to_serial(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, date1904);
    return double(day) + (local.tm_hour * 3600.0 + local.tm_min * 60.0 + local.tm_sec) / 86400.0;
}

namespace {

// 1..12 for a month's name or its three-letter abbreviation, else 0.
int month_of(std::string_view word) {
    std::string w = fold_case(word);
    for (int i = 0; i < 12; ++i) {
        std::string full = fold_case(month_names[i]);
        if (w == full || (w.size() == 3 && full.compare(0, 3, w) == 0))
            return i + 1;
    }
    return 0;
}

bool parse_time(std::string_view s, bool pm, bool am, double& out) {
    double parts[3] = {0, 0, 0};
    int n = 0;
    std::size_t i = 0;
    while (i <= s.size() && n < 3) {
        std::size_t j = i;
        while (j < s.size() && (std::isdigit(static_cast<unsigned char>(s[j])) || (n == 2 && s[j] == '.')))
            ++j;
        if (j == i || j - i > 10)
            return false;
        parts[n++] = std::strtod(std::string(s.substr(i, j - i)).c_str(), nullptr);
        if (j == s.size())
            break;
        if (s[j] != ':')
            return false;
        i = j + 1;
    }
    if (n < 2 || i > s.size() || parts[1] >= 60 || parts[2] >= 60 || parts[0] >= 10000)
        return false;
    double h = parts[0];
    if (am || pm) {
        if (h < 1 || h > 12)
            return false;
        h = std::fmod(h, 12) + (pm ? 12 : 0);
    }
    out = (h * 3600 + parts[1] * 60 + parts[2]) / 86400;
    return true;
}

long two_digit_year(long y, std::size_t digits) {
    if (digits > 2)
        return y;
    return y < 30 ? 2000 + y : 1900 + y;
}

bool parse_date(std::string_view s, bool date1904, long this_year, double& out) {
    struct Part {
        bool word;
        long n;
        std::size_t digits;
        std::string_view text;
    };
    std::vector<Part> parts;
    char sep = 0;
    std::size_t i = 0;
    while (i < s.size()) {
        unsigned char ch = static_cast<unsigned char>(s[i]);
        std::size_t j = i;
        if (std::isdigit(ch)) {
            while (j < s.size() && std::isdigit(static_cast<unsigned char>(s[j])))
                ++j;
            if (j - i > 4)
                return false;
            parts.push_back({false, std::stol(std::string(s.substr(i, j - i))), j - i, s.substr(i, j - i)});
        } else if (std::isalpha(ch)) {
            while (j < s.size() && std::isalpha(static_cast<unsigned char>(s[j])))
                ++j;
            parts.push_back({true, 0, 0, s.substr(i, j - i)});
        } else if (ch == '-' || ch == '/' || ch == ' ' || ch == ',' || ch == '.') {
            if (ch == '-' || ch == '/') {
                if (sep && sep != char(ch))
                    return false;
                sep = char(ch);
            }
            j = i + 1;
        } else {
            return false;
        }
        i = j;
    }
    long y = this_year, m = 0, d = 1;
    std::size_t ydigits = 4;
    auto is_num = [&](std::size_t k) { return k < parts.size() && !parts[k].word; };
    auto is_word = [&](std::size_t k) { return k < parts.size() && parts[k].word; };
    if (parts.size() == 3 && is_num(0) && parts[0].digits >= 3 && is_num(1) && is_num(2)) {
        y = parts[0].n, m = parts[1].n, d = parts[2].n; // 2024-01-15
    } else if (parts.size() == 3 && is_num(0) && is_num(1) && is_num(2)) {
        m = parts[0].n, d = parts[1].n, y = parts[2].n, ydigits = parts[2].digits; // 1/15/2024
    } else if (parts.size() == 2 && is_num(0) && is_num(1)) {
        m = parts[0].n; // 1/15, or 1/2024 for its first day
        if (parts[1].n > 31 || parts[1].digits > 2)
            y = parts[1].n, ydigits = parts[1].digits;
        else
            d = parts[1].n;
    } else if (parts.size() >= 2 && parts.size() <= 3 && is_num(0) && is_word(1) && (parts.size() == 2 || is_num(2))) {
        d = parts[0].n, m = month_of(parts[1].text); // 15 Jan 2024, 15-Jan
        if (parts.size() == 3)
            y = parts[2].n, ydigits = parts[2].digits;
    } else if (parts.size() >= 2 && parts.size() <= 3 && is_word(0) && is_num(1) && (parts.size() == 2 || is_num(2))) {
        m = month_of(parts[0].text); // Jan 15, 2024; Jan-2024
        if (parts.size() == 3)
            d = parts[1].n, y = parts[2].n, ydigits = parts[2].digits;
        else if (parts[1].n > 31 || parts[1].digits > 2)
            y = parts[1].n, ydigits = parts[1].digits;
        else
            d = parts[1].n;
    } else {
        return false;
    }
    y = two_digit_year(y, ydigits);
    if (m < 1 || m > 12 || y < (date1904 ? 1904 : 1900) || y > 9999 || d < 1 || d > days_in_month(y, m, date1904))
        return false;
    out = double(ymd_to_serial(y, m, d, date1904));
    return true;
}

} // namespace

bool parse_date_text(std::string_view text, bool date1904, long this_year, DateText& out) {
    out = DateText();
    // The spreadsheet reads no date written with digits from text with a space before or after
    // it (" 2024-01-10 "), though it reads a time so (" 1:30 ").
    if (!text.empty() && (text.front() == ' ' || text.back() == ' ') &&
        text.find_first_of("-/") != std::string_view::npos)
        return false;
    std::string s(text);
    // "2024-01-15T10:30:00" is a date and a time.
    std::size_t t = s.find('T');
    if (t != std::string::npos && t > 0 && t + 1 < s.size() && std::isdigit(static_cast<unsigned char>(s[t - 1])) &&
        std::isdigit(static_cast<unsigned char>(s[t + 1])))
        s[t] = ' ';
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && s[i] == ' ')
            ++i;
        std::size_t j = i;
        while (j < s.size() && s[j] != ' ')
            ++j;
        if (j > i)
            words.push_back(s.substr(i, j - i));
        i = j;
    }
    std::string date, time;
    bool am = false, pm = false;
    for (const std::string& w : words) {
        std::string l = fold_case(w);
        if (l == "am" || l == "a")
            am = true;
        else if (l == "pm" || l == "p")
            pm = true;
        else if (w.find(':') != std::string::npos) {
            if (!time.empty())
                return false;
            time = w;
        } else {
            if (!time.empty())
                return false; // the date comes first
            date += date.empty() ? w : " " + w;
        }
    }
    if ((am || pm) && time.empty()) {
        // "3 PM": an hour alone.
        if (words.size() != 2 || date.empty() || date.find_first_not_of("0123456789") != std::string::npos)
            return false;
        time = date + ":00";
        date.clear();
    }
    if (am && pm)
        return false;
    if (!time.empty()) {
        if (!parse_time(time, pm, am, out.time))
            return false;
        out.has_time = true;
    }
    if (!date.empty()) {
        if (!parse_date(date, date1904, this_year, out.days))
            return false;
        out.has_date = true;
    }
    return out.has_date || out.has_time;
}

long current_year(bool date1904) { return serial_to_ymd(long(now_serial(date1904)), date1904).y; }

bool date_text_serial(std::string_view text, bool date1904, double& out) {
    DateText dt;
    if (!parse_date_text(text, date1904, current_year(date1904), dt))
        return false;
    out = dt.days + dt.time;
    return true;
}

} // namespace host::engine::detail::fn
