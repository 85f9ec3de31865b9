#include "api/Text.hpp"

#include <cstdio>
#include <cstring>

namespace host::api {

namespace {
char upper_char(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string without_ampersands(std::string_view text) {
    std::string s;
    for (char c : text)
        if (c != '&')
            s += upper_char(c);
    return s;
}
} // namespace

std::string upper(std::string_view text) {
    std::string s(text);
    for (char& c : s)
        c = upper_char(c);
    return s;
}

bool same_text(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper_char(a[i]) != upper_char(b[i]))
            return false;
    return true;
}

bool same_menu_title(std::string_view a, std::string_view b) { return without_ampersands(a) == without_ampersands(b); }

std::string general_text(double x) {
    if (x == 0)
        return "0"; // also for -0
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15G", x);
    std::string s(buf);
    // %G keeps at least two exponent digits already ("1E+20", "1E-05"); the mantissa may
    // carry trailing zeros only in the exponent form.
    std::size_t e = s.find('E');
    std::string mantissa = e == std::string::npos ? s : s.substr(0, e);
    std::string exponent = e == std::string::npos ? std::string() : s.substr(e);
    if (mantissa.find('.') != std::string::npos) {
        while (!mantissa.empty() && mantissa.back() == '0')
            mantissa.pop_back();
        if (!mantissa.empty() && mantissa.back() == '.')
            mantissa.pop_back();
    }
    return mantissa + exponent;
}

} // namespace host::api
