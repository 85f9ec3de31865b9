// Financial functions.

#include "engine/functions/Common.hpp"

#include <cmath>

namespace host::engine::detail::fn {

namespace {

FN(npv) {
    NUM(0, rate);
    auto& xs = numbers();
    Value e;
    if (!collect(c, 1, c.argc, xs, e))
        RET(e);
    if (rate == -1)
        RET(err(ErrorCode::Div0));
    double total = 0, f = 1;
    for (double x : xs) {
        f *= 1 + rate;
        total += x / f;
    }
    RET(Value::number(total));
}
FN(pmt) {
    NUM(0, rate); NUM(1, nper); NUM(2, pv); NUMD(3, fv, 0); NUMD(4, type, 0);
    double t = type != 0 ? 1 : 0;
    if (rate == 0) {
        if (nper == 0)
            RET(err(ErrorCode::Div0));
        RET(Value::number(-(pv + fv) / nper));
    }
    double g = std::pow(1 + rate, nper);
    double d = (1 + rate * t) * (g - 1);
    if (d == 0)
        RET(err(ErrorCode::Div0));
    RET(Value::number(-(fv + pv * g) * rate / d));
}
FN(fv) {
    NUM(0, rate); NUM(1, nper); NUM(2, pmt); NUMD(3, pv, 0); NUMD(4, type, 0);
    double t = type != 0 ? 1 : 0;
    if (rate == 0)
        RET(Value::number(-(pv + pmt * nper)));
    double g = std::pow(1 + rate, nper);
    RET(Value::number(-(pv * g + pmt * (1 + rate * t) * (g - 1) / rate)));
}
FN(pv) {
    NUM(0, rate); NUM(1, nper); NUM(2, pmt); NUMD(3, fv, 0); NUMD(4, type, 0);
    double t = type != 0 ? 1 : 0;
    if (rate == 0)
        RET(Value::number(-(fv + pmt * nper)));
    double g = std::pow(1 + rate, nper);
    if (g == 0)
        RET(err(ErrorCode::Div0));
    RET(Value::number(-(fv + pmt * (1 + rate * t) * (g - 1) / rate) / g));
}

} // namespace

std::vector<Entry> finance_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"NPV", 2, -1, 0}, fn_npv},
        {{"PMT", 3, 5, L}, fn_pmt},
        {{"FV", 3, 5, L}, fn_fv},
        {{"PV", 3, 5, L}, fn_pv},
    };
}

} // namespace host::engine::detail::fn
