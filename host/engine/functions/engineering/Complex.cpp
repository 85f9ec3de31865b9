// Complex numbers written as text ("3+4i", "-2.5j", "i"): COMPLEX and the IM functions.

#include "engine/functions/Common.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace host::engine::detail::fn {

namespace {

using Cx = std::complex<double>;

// A number in the text of a complex number: 15 significant digits, as the spreadsheet writes
// them; a small one in full while that takes 19 decimals at most (1E-19, 6.9244267461386E-05),
// else in scientific form (1E-20, 1.28233995888454E-06).
std::string part(double x) {
    char buf[64];
    int magnitude = x == 0 ? 0 : int(std::floor(std::log10(std::fabs(x))));
    std::snprintf(buf, sizeof buf, "%.15G", x);
    if (magnitude < -4 && magnitude > -20) {
        std::string digits = buf;
        digits = digits.substr(0, digits.find('E'));
        digits.erase(digits.find_last_not_of('0') + 1);
        const std::size_t significant = std::count_if(
            digits.begin(), digits.end(), [](char ch) { return std::isdigit(static_cast<unsigned char>(ch)); });
        const int decimals = -magnitude - 1 + int(significant);
        if (decimals <= 19)
            std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
    }
    std::string s = buf;
    std::size_t e = s.find('E');
    std::string mantissa = s.substr(0, e), exponent = e == std::string::npos ? "" : s.substr(e);
    // Two exponent digits at least, never three with a leading zero (as some C runtimes write).
    while (exponent.size() > 4 && exponent[2] == '0')
        exponent.erase(2, 1);
    if (mantissa.find('.') != std::string::npos) {
        mantissa.erase(mantissa.find_last_not_of('0') + 1);
        if (mantissa.back() == '.')
            mantissa.pop_back();
    }
    return mantissa + exponent;
}

std::string write(Cx z, char suffix) {
    double re = z.real() == 0 ? 0 : z.real(), im = z.imag() == 0 ? 0 : z.imag();
    if (im == 0)
        return part(re);
    std::string i = im == 1 ? "" : im == -1 ? "-" : part(im);
    i += suffix;
    if (re == 0)
        return i;
    return part(re) + (im > 0 ? "+" : "") + i;
}

// Reads "a+bi", "bi", "a", "i", "-j"; the suffix read goes to `suffix` (0 for none).
bool parse(const std::string& s, Cx& z, char& suffix) {
    suffix = 0;
    if (s.empty()) {
        z = 0;
        return true;
    }
    const char* p = s.c_str();
    const char* end = p + s.size();
    auto number = [&](double& x) {
        if (p == end || *p == ' ' || *p == '\t')
            return false;
        if (!std::isdigit(static_cast<unsigned char>(*p)) && *p != '.' && *p != '+' && *p != '-')
            return false;
        char* stop;
        x = std::strtod(p, &stop);
        if (stop == p)
            return false;
        std::string_view read(p, std::size_t(stop - p));
        if (read.find_first_of("xXnN") != std::string_view::npos) // no hex, inf or nan
            return false;
        p = stop;
        return true;
    };
    auto is_suffix = [](char ch) { return ch == 'i' || ch == 'j'; };
    double a = 0;
    // A lone imaginary unit with a sign: "i", "+i", "-j".
    auto unit = [&](double sign) {
        suffix = *p++;
        z = Cx(0, sign);
        return p == end;
    };
    if (is_suffix(*p))
        return unit(1);
    if ((*p == '+' || *p == '-') && p + 1 < end && is_suffix(p[1])) {
        double sign = *p == '-' ? -1 : 1;
        ++p;
        return unit(sign);
    }
    if (!number(a))
        return false;
    if (p == end) {
        z = a;
        return true;
    }
    if (is_suffix(*p)) {
        suffix = *p++;
        z = Cx(0, a);
        return p == end;
    }
    if (*p != '+' && *p != '-')
        return false;
    double b;
    if (p + 1 < end && is_suffix(p[1])) {
        b = *p == '-' ? -1 : 1;
        p += 1;
    } else if (!number(b)) {
        return false;
    }
    if (p == end || !is_suffix(*p))
        return false;
    suffix = *p++;
    z = Cx(a, b);
    return p == end;
}

// Argument i as a complex number: numbers as they are, text parsed (#NUM! when it is none),
// booleans #VALUE!.
bool complex_arg(const Ctx& c, int i, Cx& z, char& suffix, Value& out) {
    Value v = c.arg(i);
    suffix = 0;
    if (v.is_error()) {
        out = v;
        return false;
    }
    if (v.is_boolean()) {
        out = err(ErrorCode::Value);
        return false;
    }
    if (v.is_number()) {
        z = v.as_number();
        return true;
    }
    if (!parse(to_text(v), z, suffix)) {
        out = err(ErrorCode::Num);
        return false;
    }
    return true;
}

Value result(Cx z, char suffix) {
    if (!std::isfinite(z.real()) || !std::isfinite(z.imag()))
        return err(ErrorCode::Num);
    return Value::text(write(z, suffix ? suffix : 'i'));
}

OMBRIX_FN(complex) {
    OMBRIX_NUMBER(0, re);
    OMBRIX_NUMBER(1, im);
    std::string suffix = "i";
    if (!c.missing(2)) {
        if (!text_arg(c, 2, suffix, out.v))
            return;
        if (suffix.empty())
            suffix = "i";
        if (suffix != "i" && suffix != "j")
            OMBRIX_RETURN(err(ErrorCode::Value));
    }
    OMBRIX_RETURN(result(Cx(re, im), suffix[0]));
}

template <int Which>
void component(Ctx& c, Item& out) {
    Cx z;
    char s;
    if (!complex_arg(c, 0, z, s, out.v))
        return;
    if (Which == 3 && z == Cx(0))
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(Which == 0   ? z.real()
                                : Which == 1 ? z.imag()
                                : Which == 2 ? std::abs(z)
                                             : std::arg(z)));
}

Cx sec(Cx z) { return 1.0 / std::cos(z); }
Cx csc(Cx z) { return 1.0 / std::sin(z); }
Cx cot(Cx z) { return std::cos(z) / std::sin(z); }
Cx sech(Cx z) { return 1.0 / std::cosh(z); }
Cx csch(Cx z) { return 1.0 / std::sinh(z); }
Cx conj(Cx z) { return std::conj(z); }
Cx csqrt(Cx z) { return std::sqrt(z); }
Cx cexp(Cx z) { return std::exp(z); }
Cx csin(Cx z) { return std::sin(z); }
Cx ccos(Cx z) { return std::cos(z); }
Cx ctan(Cx z) { return std::tan(z); }
Cx csinh(Cx z) { return std::sinh(z); }
Cx ccosh(Cx z) { return std::cosh(z); }
Cx cln(Cx z) { return std::log(z); }
Cx clog10(Cx z) { return std::log(z) / std::log(10.0); }
Cx clog2(Cx z) { return std::log(z) / std::log(2.0); }

// A function of one complex number; `NonZero` when 0 is outside its domain.
template <Cx (*F)(Cx), bool NonZero = false>
void unary(Ctx& c, Item& out) {
    Cx z;
    char s;
    if (!complex_arg(c, 0, z, s, out.v))
        return;
    if (NonZero && z == Cx(0))
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(result(F(z), s));
}

// Every complex number of the arguments (ranges and arrays included, an empty cell as 0),
// all written with the same suffix.
bool complex_list(const Ctx& c, std::vector<Cx>& zs, char& suffix, Value& out) {
    bool ok = true;
    suffix = 0;
    each_value(c, 0, c.argc, [&](const Value& v, bool, bool) {
        if (!ok)
            return;
        Cx z;
        char s = 0;
        if (v.is_error()) {
            out = v, ok = false;
            return;
        }
        if (v.is_boolean()) {
            out = err(ErrorCode::Value), ok = false;
            return;
        }
        if (v.is_number())
            z = v.as_number();
        else if (!parse(to_text(v), z, s)) {
            out = err(ErrorCode::Num), ok = false;
            return;
        }
        if (s && suffix && s != suffix) {
            out = err(ErrorCode::Value), ok = false;
            return;
        }
        if (s)
            suffix = s;
        zs.push_back(z);
    });
    return ok;
}

template <bool Product>
void fold(Ctx& c, Item& out) {
    std::vector<Cx> zs;
    char s;
    if (!complex_list(c, zs, s, out.v))
        return;
    Cx r = Product ? Cx(1) : Cx(0);
    for (Cx z : zs)
        r = Product ? r * z : r + z;
    OMBRIX_RETURN(result(r, s));
}

// IMSUB and IMDIV: two numbers with one suffix; mixed ones are #NUM! here (where IMSUM and
// IMPRODUCT give #VALUE!).
template <bool Divide>
void binary(Ctx& c, Item& out) {
    Cx a, b;
    char sa, sb;
    if (!complex_arg(c, 0, a, sa, out.v) || !complex_arg(c, 1, b, sb, out.v))
        return;
    if (sa && sb && sa != sb)
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (Divide && b == Cx(0))
        OMBRIX_RETURN(err(ErrorCode::Num));
    OMBRIX_RETURN(result(Divide ? a / b : a - b, sa ? sa : sb));
}

OMBRIX_FN(impower) {
    Cx z;
    char s;
    if (!complex_arg(c, 0, z, s, out.v))
        return;
    OMBRIX_NUMBER(1, n);
    if (z == Cx(0))
        OMBRIX_RETURN(n > 0 ? result(0, s) : err(ErrorCode::Num));
    // In polar form, so that whole powers of real numbers stay real.
    double r = std::pow(std::abs(z), n), t = std::arg(z) * n;
    OMBRIX_RETURN(result(Cx(r * std::cos(t), r * std::sin(t)), s));
}

} // namespace

std::vector<Entry> complex_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"COMPLEX", 2, 3, L}, fn_complex},          {{"IMREAL", 1, 1, L}, component<0>},
        {{"IMAGINARY", 1, 1, L}, component<1>},      {{"IMABS", 1, 1, L}, component<2>},
        {{"IMARGUMENT", 1, 1, L}, component<3>},     {{"IMCONJUGATE", 1, 1, L}, unary<conj>},
        {{"IMSUM", 1, -1, 0}, fold<false>},          {{"IMPRODUCT", 1, -1, 0}, fold<true>},
        {{"IMSUB", 2, 2, L}, binary<false>},         {{"IMDIV", 2, 2, L}, binary<true>},
        {{"IMPOWER", 2, 2, L}, fn_impower},          {{"IMSQRT", 1, 1, L}, unary<csqrt>},
        {{"IMEXP", 1, 1, L}, unary<cexp>},           {{"IMLN", 1, 1, L}, unary<cln, true>},
        {{"IMLOG10", 1, 1, L}, unary<clog10, true>}, {{"IMLOG2", 1, 1, L}, unary<clog2, true>},
        {{"IMSIN", 1, 1, L}, unary<csin>},           {{"IMCOS", 1, 1, L}, unary<ccos>},
        {{"IMTAN", 1, 1, L}, unary<ctan>},           {{"IMSINH", 1, 1, L}, unary<csinh>},
        {{"IMCOSH", 1, 1, L}, unary<ccosh>},         {{"IMSEC", 1, 1, L}, unary<sec>},
        {{"IMCSC", 1, 1, L}, unary<csc, true>},      {{"IMCOT", 1, 1, L}, unary<cot, true>},
        {{"IMSECH", 1, 1, L}, unary<sech>},          {{"IMCSCH", 1, 1, L}, unary<csch, true>},
    };
}

} // namespace host::engine::detail::fn
