// Mathematical and trigonometric functions.

#include "engine/functions/Common.hpp"

#include <cmath>

namespace host::engine::detail::fn {

namespace {

template <double (*F)(double)>
void math1(Ctx& c, Item& out) {
    NUM(0, x);
    RET(Value::number(F(x)));
}

double f_exp(double x) { return std::exp(x); }
double f_sin(double x) { return std::sin(x); }
double f_cos(double x) { return std::cos(x); }
double f_tan(double x) { return std::tan(x); }
double f_atan(double x) { return std::atan(x); }
double f_sinh(double x) { return std::sinh(x); }
double f_cosh(double x) { return std::cosh(x); }
double f_tanh(double x) { return std::tanh(x); }

FN(abs) { NUM(0, x); RET(Value::number(std::fabs(x))); }
FN(sqrt) { NUM(0, x); if (x < 0) RET(err(ErrorCode::Num)); RET(Value::number(std::sqrt(x))); }
FN(ln) { NUM(0, x); if (x <= 0) RET(err(ErrorCode::Num)); RET(Value::number(std::log(x))); }
FN(log10) { NUM(0, x); if (x <= 0) RET(err(ErrorCode::Num)); RET(Value::number(std::log10(x))); }
FN(log) {
    NUM(0, x);
    NUMD(1, base, 10);
    if (x <= 0 || base <= 0)
        RET(err(ErrorCode::Num));
    if (base == 1)
        RET(err(ErrorCode::Div0));
    RET(Value::number(base == 10 ? std::log10(x) : std::log(x) / std::log(base)));
}
FN(power) { RET(apply_binary(Op::Pow, c.arg(0), c.arg(1))); }
FN(mod) {
    NUM(0, a);
    NUM(1, b);
    if (b == 0)
        RET(err(ErrorCode::Div0));
    double r = a - b * std::floor(a / b);
    if (r != 0 && approx_equal(r, b))
        r = 0;
    RET(Value::number(r));
}
FN(int) { NUM(0, x); RET(Value::number(std::floor(x))); }
FN(trunc) { NUM(0, x); NUMD(1, d, 0); RET(round_digits(x, d, 2)); }
FN(round) { NUM(0, x); NUM(1, d); RET(round_digits(x, d, 0)); }
FN(roundup) { NUM(0, x); NUM(1, d); RET(round_digits(x, d, 1)); }
FN(rounddown) { NUM(0, x); NUM(1, d); RET(round_digits(x, d, 2)); }
FN(sign) { NUM(0, x); RET(Value::number(x > 0 ? 1 : x < 0 ? -1 : 0)); }
FN(pi) { (void)c; RET(Value::number(3.14159265358979323846)); }
FN(asin) { NUM(0, x); if (x < -1 || x > 1) RET(err(ErrorCode::Num)); RET(Value::number(std::asin(x))); }
FN(acos) { NUM(0, x); if (x < -1 || x > 1) RET(err(ErrorCode::Num)); RET(Value::number(std::acos(x))); }
FN(atan2) {
    NUM(0, x);
    NUM(1, y);
    if (x == 0 && y == 0)
        RET(err(ErrorCode::Div0));
    RET(Value::number(std::atan2(y, x)));
}
FN(degrees) { NUM(0, x); RET(Value::number(x * (180.0 / 3.14159265358979323846))); }
FN(radians) { NUM(0, x); RET(Value::number(x * (3.14159265358979323846 / 180.0))); }
FN(floor) {
    NUM(0, x);
    NUMD(1, s, 1);
    if (s == 0)
        RET(x == 0 ? Value::number(0) : err(ErrorCode::Div0));
    if (x > 0 && s < 0)
        RET(err(ErrorCode::Num));
    RET(Value::number(std::floor(snap15(x / s)) * s));
}
FN(ceiling) {
    NUM(0, x);
    NUMD(1, s, 1);
    if (s == 0)
        RET(Value::number(0));
    if (x > 0 && s < 0)
        RET(err(ErrorCode::Num));
    RET(Value::number(std::ceil(snap15(x / s)) * s));
}
FN(fact) {
    NUM(0, x);
    if (x < 0)
        RET(err(ErrorCode::Num));
    double n = std::floor(x), r = 1;
    if (n > 170)
        RET(err(ErrorCode::Num));
    for (double k = 2; k <= n; ++k)
        r *= k;
    RET(Value::number(r));
}

} // namespace

std::vector<Entry> math_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"ABS", 1, 1, L}, fn_abs},
        {{"SQRT", 1, 1, L}, fn_sqrt},
        {{"EXP", 1, 1, L}, math1<f_exp>},
        {{"LN", 1, 1, L}, fn_ln},
        {{"LOG", 1, 2, L}, fn_log},
        {{"LOG10", 1, 1, L}, fn_log10},
        {{"POWER", 2, 2, L}, fn_power},
        {{"MOD", 2, 2, L}, fn_mod},
        {{"INT", 1, 1, L}, fn_int},
        {{"TRUNC", 1, 2, L}, fn_trunc},
        {{"ROUND", 2, 2, L}, fn_round},
        {{"ROUNDUP", 2, 2, L}, fn_roundup},
        {{"ROUNDDOWN", 2, 2, L}, fn_rounddown},
        {{"SIGN", 1, 1, L}, fn_sign},
        {{"PI", 0, 0, 0}, fn_pi},
        {{"SIN", 1, 1, L}, math1<f_sin>},
        {{"COS", 1, 1, L}, math1<f_cos>},
        {{"TAN", 1, 1, L}, math1<f_tan>},
        {{"ASIN", 1, 1, L}, fn_asin},
        {{"ACOS", 1, 1, L}, fn_acos},
        {{"ATAN", 1, 1, L}, math1<f_atan>},
        {{"ATAN2", 2, 2, L}, fn_atan2},
        {{"SINH", 1, 1, L}, math1<f_sinh>},
        {{"COSH", 1, 1, L}, math1<f_cosh>},
        {{"TANH", 1, 1, L}, math1<f_tanh>},
        {{"DEGREES", 1, 1, L}, fn_degrees},
        {{"RADIANS", 1, 1, L}, fn_radians},
        {{"FLOOR", 1, 2, L}, fn_floor},
        {{"CEILING", 1, 2, L}, fn_ceiling},
        {{"FACT", 1, 1, L}, fn_fact},
    };
}

} // namespace host::engine::detail::fn
