// Engineering functions: Roman numerals, number bases, bits, steps and the error function.

#include "engine/functions/Common.hpp"

#include <boost/math/special_functions/erf.hpp>

#include <cctype>
#include <cmath>
#include <cstdint>
#include <string>

namespace host::engine::detail::fn {

namespace {

namespace bm = boost::math;

// ROMAN's forms 0 (classic) to 4 (most concise). A digit 4 or 9 is written as a subtraction;
// each further form lets the subtracted numeral be a smaller one (499: CDXCIX, LDVLIV, XDIX,
// VDIV, ID) as long as what it leaves is still written after it.
std::string roman(int n, int form) {
    static const char letters[] = {'M', 'D', 'C', 'L', 'X', 'V', 'I'};
    static const int values[] = {1000, 500, 100, 50, 10, 5, 1};
    constexpr int last = 6;
    std::string out;
    for (int i = 0; i <= last; i += 2) {
        int digit = n / values[i];
        if (digit % 5 == 4) {
            int big = digit == 4 ? i - 1 : i - 2; // the numeral subtracted from
            int small = i;
            for (int step = 0; step < form && small < last; ++step) {
                if (values[big] - values[small + 1] <= n)
                    ++small;
                else
                    break;
            }
            out += letters[small];
            out += letters[big];
            n -= values[big] - values[small];
        } else {
            if (digit > 4)
                out += letters[i - 1];
            out.append(std::size_t(digit % 5), letters[i]);
            n %= values[i];
        }
    }
    return out;
}

OMBRIX_FN(roman) {
    OMBRIX_NUMBER(0, x);
    double form = 0;
    if (!c.missing(1)) {
        Value f = c.arg(1);
        if (f.is_boolean())
            form = f.as_boolean() ? 0 : 4;
        else if (!num(c, 1, form, out.v))
            return;
    }
    form = std::trunc(form);
    x = std::trunc(x);
    if (x < 0 || x > 3999 || form < 0 || form > 4)
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_RETURN(Value::text(roman(int(x), int(form))));
}

int roman_value(char ch) {
    switch (std::toupper(static_cast<unsigned char>(ch))) {
    case 'I': return 1;
    case 'V': return 5;
    case 'X': return 10;
    case 'L': return 50;
    case 'C': return 100;
    case 'D': return 500;
    case 'M': return 1000;
    default: return 0;
    }
}

OMBRIX_FN(arabic) {
    OMBRIX_TEXT(0, s);
    std::size_t b = s.find_first_not_of(' '), e = s.find_last_not_of(' ');
    s = b == std::string::npos ? "" : s.substr(b, e - b + 1);
    if (s.size() > 255)
        OMBRIX_RETURN(err(ErrorCode::Value));
    double sign = 1;
    if (!s.empty() && s[0] == '-') {
        sign = -1;
        s.erase(0, 1);
    }
    // Read from the right: a numeral below the largest one after it is taken away, so that
    // ill-formed ones count as the spreadsheet counts them ("IIIIIIV" is -1).
    double total = 0;
    int largest = 0;
    for (std::size_t i = s.size(); i-- > 0;) {
        int v = roman_value(s[i]);
        if (v == 0)
            OMBRIX_RETURN(err(ErrorCode::Value));
        total += v < largest ? -v : v;
        largest = std::max(largest, v);
    }
    OMBRIX_RETURN(Value::number(sign * total));
}

// The number bases of DEC2BIN and its kin: digits of 10 at most, negatives in two's complement.
struct Base {
    int radix;
    double limit; // radix^10 / 2: the first number out of range
};
constexpr Base bin{2, 512}, oct{8, 536870912}, hex{16, 549755813888};

// The places argument of DEC2BIN and its kin, read before the number: a whole number from
// 1 to 10, or 0 when omitted.
bool read_places(const Ctx& c, int i, double& places, Value& out) {
    places = 0;
    if (c.missing(i))
        return true;
    if (!plain_number(c, i, places, out))
        return false;
    places = std::trunc(places);
    if (places < 1 || places > 10) {
        out = err(ErrorCode::Num);
        return false;
    }
    return true;
}

// A whole number in [-limit, limit) written in `to`; a positive one padded to `places` digits.
Value write_base(double n, const Base& to, double places) {
    if (n < -to.limit || n >= to.limit)
        return err(ErrorCode::Num);
    double full = to.limit * 2;
    double u = n < 0 ? full + n : n;
    std::string digits;
    do {
        int d = int(std::fmod(u, to.radix));
        digits.insert(digits.begin(), "0123456789ABCDEF"[d]);
        u = std::floor(u / to.radix);
    } while (u > 0);
    if (n >= 0 && places > 0) {
        if (places < double(digits.size()))
            return err(ErrorCode::Num);
        digits.insert(0, std::size_t(places) - digits.size(), '0');
    }
    return Value::text(digits);
}

// Text of up to ten digits of `from` (a number argument read as its digits).
bool read_base(const Ctx& c, int i, const Base& from, double& n, Value& out) {
    Value v = c.arg(i);
    if (v.is_error()) {
        out = v;
        return false;
    }
    if (v.is_boolean()) {
        out = err(ErrorCode::Value);
        return false;
    }
    std::string s = to_text(v);
    if (s.size() > 10) {
        out = err(ErrorCode::Num);
        return false;
    }
    double u = 0;
    for (char ch : s) {
        int d = std::isdigit(static_cast<unsigned char>(ch))   ? ch - '0'
                : std::isalpha(static_cast<unsigned char>(ch)) ? std::toupper(static_cast<unsigned char>(ch)) - 'A' + 10
                                                               : 99;
        if (d >= from.radix) {
            out = err(ErrorCode::Num);
            return false;
        }
        u = u * from.radix + d;
    }
    n = s.size() == 10 && u >= from.limit ? u - 2 * from.limit : u;
    return true;
}

template <const Base& From, const Base& To>
void convert_base(Ctx& c, Item& out) {
    double n, places;
    if (!read_places(c, 1, places, out.v) || !read_base(c, 0, From, n, out.v))
        return;
    OMBRIX_RETURN(write_base(n, To, places));
}

template <const Base& From>
void base_to_decimal(Ctx& c, Item& out) {
    double n;
    if (!read_base(c, 0, From, n, out.v))
        return;
    OMBRIX_RETURN(Value::number(n));
}

template <const Base& To>
void decimal_to_base(Ctx& c, Item& out) {
    double places;
    if (!read_places(c, 1, places, out.v))
        return;
    if (c.arg(0).is_boolean())
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(write_base(std::trunc(x), To, places));
}

OMBRIX_FN(base) {
    OMBRIX_NUMBER(0, x);
    OMBRIX_NUMBER(1, radix);
    OMBRIX_NUMBER_OR(2, length, 0);
    x = std::trunc(x), radix = std::trunc(radix), length = std::trunc(length);
    if (x < 0 || x >= 9007199254740992.0 || radix < 2 || radix > 36 || length < 0 || length > 255)
        OMBRIX_RETURN(err(ErrorCode::Num));
    std::string digits;
    do {
        digits.insert(digits.begin(), "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[int(std::fmod(x, radix))]);
        x = std::floor(x / radix);
    } while (x > 0);
    if (double(digits.size()) < length)
        digits.insert(0, std::size_t(length) - digits.size(), '0');
    OMBRIX_RETURN(Value::text(digits));
}

OMBRIX_FN(decimal) {
    OMBRIX_TEXT(0, s);
    OMBRIX_NUMBER(1, radix);
    radix = std::trunc(radix);
    if (radix < 2 || radix > 36 || s.size() > 255)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double n = 0;
    for (char ch : s) {
        int d = std::isdigit(static_cast<unsigned char>(ch))   ? ch - '0'
                : std::isalpha(static_cast<unsigned char>(ch)) ? std::toupper(static_cast<unsigned char>(ch)) - 'A' + 10
                                                               : 99;
        if (d >= radix)
            OMBRIX_RETURN(err(ErrorCode::Num));
        n = n * radix + d;
    }
    if (n >= 9007199254740992.0)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(n));
}

// The bit functions take whole numbers in [0, 2^48).
constexpr double bit_limit = 281474976710656.0;

bool bits(const Ctx& c, int i, std::uint64_t& b, Value& out) {
    double x;
    if (!num(c, i, x, out))
        return false;
    if (x < 0 || x >= bit_limit || x != std::floor(x)) {
        out = err(ErrorCode::Num);
        return false;
    }
    b = std::uint64_t(x);
    return true;
}

template <int Op>
void bitwise(Ctx& c, Item& out) {
    std::uint64_t a, b;
    if (!bits(c, 0, a, out.v) || !bits(c, 1, b, out.v))
        return;
    OMBRIX_RETURN(Value::number(double(Op == 0 ? (a & b) : Op == 1 ? (a | b) : (a ^ b))));
}

template <int Direction>
void bitshift(Ctx& c, Item& out) {
    std::uint64_t a;
    if (!bits(c, 0, a, out.v))
        return;
    OMBRIX_NUMBER(1, shift);
    shift = std::trunc(shift) * Direction;
    if (std::fabs(shift) > 53)
        OMBRIX_RETURN(err(ErrorCode::Num));
    double r =
        shift >= 0 ? double(a) * std::ldexp(1.0, int(shift)) : std::floor(double(a) / std::ldexp(1.0, int(-shift)));
    if (r >= bit_limit)
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(Value::number(r));
}

OMBRIX_FN(delta) {
    double a, b;
    if (!plain_number(c, 0, a, out.v) || !plain_number(c, 1, b, out.v))
        return;
    OMBRIX_RETURN(Value::number(a == b ? 1 : 0));
}
OMBRIX_FN(gestep) {
    double a, b;
    if (!plain_number(c, 0, a, out.v) || !plain_number(c, 1, b, out.v))
        return;
    OMBRIX_RETURN(Value::number(a >= b ? 1 : 0));
}

// The error functions take no TRUE or FALSE, even from a cell.
OMBRIX_FN(erf) {
    double lo, hi;
    if (!plain_number(c, 0, lo, out.v))
        return;
    if (c.missing(1))
        OMBRIX_RETURN(Value::number(bm::erf(lo)));
    if (!plain_number(c, 1, hi, out.v))
        return;
    OMBRIX_RETURN(Value::number(bm::erf(hi) - bm::erf(lo)));
}
OMBRIX_FN(erf_precise) {
    double x;
    if (!plain_number(c, 0, x, out.v))
        return;
    OMBRIX_RETURN(Value::number(bm::erf(x)));
}
OMBRIX_FN(erfc) {
    double x;
    if (!plain_number(c, 0, x, out.v))
        return;
    OMBRIX_RETURN(Value::number(bm::erfc(x)));
}

} // namespace

std::vector<Entry> engineering_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"ROMAN", 1, 2, L}, fn_roman},
        {{"ARABIC", 1, 1, L}, fn_arabic},
        {{"DEC2BIN", 1, 2, L}, decimal_to_base<bin>},
        {{"DEC2OCT", 1, 2, L}, decimal_to_base<oct>},
        {{"DEC2HEX", 1, 2, L}, decimal_to_base<hex>},
        {{"BIN2DEC", 1, 1, L}, base_to_decimal<bin>},
        {{"OCT2DEC", 1, 1, L}, base_to_decimal<oct>},
        {{"HEX2DEC", 1, 1, L}, base_to_decimal<hex>},
        {{"BIN2OCT", 1, 2, L}, convert_base<bin, oct>},
        {{"BIN2HEX", 1, 2, L}, convert_base<bin, hex>},
        {{"OCT2BIN", 1, 2, L}, convert_base<oct, bin>},
        {{"OCT2HEX", 1, 2, L}, convert_base<oct, hex>},
        {{"HEX2BIN", 1, 2, L}, convert_base<hex, bin>},
        {{"HEX2OCT", 1, 2, L}, convert_base<hex, oct>},
        {{"BASE", 2, 3, L}, fn_base},
        {{"DECIMAL", 2, 2, L}, fn_decimal},
        {{"BITAND", 2, 2, L}, bitwise<0>},
        {{"BITOR", 2, 2, L}, bitwise<1>},
        {{"BITXOR", 2, 2, L}, bitwise<2>},
        {{"BITLSHIFT", 2, 2, L}, bitshift<1>},
        {{"BITRSHIFT", 2, 2, L}, bitshift<-1>},
        {{"DELTA", 1, 2, L}, fn_delta},
        {{"GESTEP", 1, 2, L}, fn_gestep},
        {{"ERF", 1, 2, L}, fn_erf},
        {{"ERF.PRECISE", 1, 1, L}, fn_erf_precise},
        {{"ERFC", 1, 1, L}, fn_erfc},
        {{"ERFC.PRECISE", 1, 1, L}, fn_erfc},
    };
}

} // namespace host::engine::detail::fn
