// The text forms of values in the format's XML: numbers as attributes and cell text hold them,
// and ISO 8601 dates.

#include "io/XlsxParts.hpp"

#include <cctype>
#include <charconv>
#include <cstdlib>
#include <string>

namespace host::io {

std::string_view trim_xml_space(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\n' || s.front() == '\r'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\n' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool read_double(std::string_view text, double& out) {
    text = trim_xml_space(text);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    if (text.empty())
        return false;
    auto result = std::from_chars(text.data(), text.data() + text.size(), out);
    if (result.ec == std::errc::result_out_of_range) {
        // Underflow reads as zero; overflow is not a finite number.
        out = std::strtod(std::string(text).c_str(), nullptr);
        return true;
    }
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool read_int(std::string_view text, long long& out) {
    text = trim_xml_space(text);
    if (text.empty())
        return false;
    auto result = std::from_chars(text.data(), text.data() + text.size(), out);
    return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

namespace {

// "hh:mm", "hh:mm:ss" or "hh:mm:ss.fff", optionally ending in 'Z': the fraction of a day.
bool parse_iso_time(std::string_view t, double& fraction) {
    if (!t.empty() && t.back() == 'Z')
        t.remove_suffix(1);
    if (t.size() < 5 || t[2] != ':')
        return false;
    long long h = 0, m = 0;
    double sec = 0;
    if (!read_int(t.substr(0, 2), h) || !read_int(t.substr(3, 2), m))
        return false;
    if (t.size() > 5) {
        if (t[5] != ':' || t.size() < 8 || !std::isdigit(static_cast<unsigned char>(t[6])) ||
            !read_double(t.substr(6), sec))
            return false;
    }
    if (h < 0 || h > 24 || m < 0 || m > 59 || sec < 0 || sec >= 61)
        return false;
    fraction = (double(h) * 3600.0 + double(m) * 60.0 + sec) / 86400.0;
    return true;
}

} // namespace

bool parse_iso_date(const std::string& text, bool date1904, double& serial) {
    std::string_view rest(text);
    double day = 0;
    if (rest.size() >= 10 && rest[4] == '-' && rest[7] == '-') {
        long long n = 0;
        if (!read_int(rest.substr(0, 4), n))
            return false;
        int y = int(n);
        if (!read_int(rest.substr(5, 2), n))
            return false;
        int m = int(n);
        if (!read_int(rest.substr(8, 2), n))
            return false;
        int d = int(n);
        if (m < 1 || m > 12 || d < 1 || d > 31 || y < 1)
            return false;
        // Days from the civil calendar (proleptic Gregorian), then to the workbook's epoch.
        int yy = y - (m <= 2 ? 1 : 0);
        long era = (yy >= 0 ? yy : yy - 399) / 400;
        long yoe = yy - era * 400;
        long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
        long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
        long days = era * 146097 + doe - 719468; // days since 1970-01-01
        if (date1904) {
            day = double(days + 24107); // 1904-01-01 is day 0
        } else {
            day = double(days + 25569); // 1970-01-01 is day 25569
            // The 1900 system counts a 29 February 1900 that never was.
            if (day < 61)
                day -= 1;
        }
        rest.remove_prefix(10);
        if (rest.empty()) {
            serial = day;
            return true;
        }
        if (rest[0] != 'T')
            return false;
    }
    // A time alone ("10:10:10", "T10:10") is a fraction of day 0.
    if (!rest.empty() && rest[0] == 'T')
        rest.remove_prefix(1);
    double fraction = 0;
    if (!parse_iso_time(rest, fraction))
        return false;
    serial = day + fraction;
    return true;
}

} // namespace host::io
