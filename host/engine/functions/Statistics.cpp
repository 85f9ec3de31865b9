// Statistical functions.

#include "engine/functions/Common.hpp"

#include <algorithm>
#include <cmath>
#include <functional>

namespace host::engine::detail::fn {

namespace {

FN(median) {
    aggregate(c, out, [](std::vector<double>& xs) {
        if (xs.empty())
            return err(ErrorCode::Num);
        std::sort(xs.begin(), xs.end());
        std::size_t n = xs.size();
        return Value::number(n % 2 ? xs[n / 2] : (xs[n / 2 - 1] + xs[n / 2]) / 2);
    });
}

Value root(const Value& v) { return v.is_number() ? Value::number(std::sqrt(v.as_number())) : v; }
FN(var) { aggregate(c, out, [](const std::vector<double>& xs) { return variance(xs, true); }); }
FN(varp) { aggregate(c, out, [](const std::vector<double>& xs) { return variance(xs, false); }); }
FN(stdev) { aggregate(c, out, [](const std::vector<double>& xs) { return root(variance(xs, true)); }); }
FN(stdevp) { aggregate(c, out, [](const std::vector<double>& xs) { return root(variance(xs, false)); }); }

void kth(Ctx& c, Item& out, bool largest) {
    auto& xs = numbers();
    Value e;
    if (!collect(c, 0, 1, xs, e))
        RET(e);
    NUM(1, k);
    double kk = std::ceil(snap15(k));
    if (kk < 1 || kk > double(xs.size()))
        RET(err(ErrorCode::Num));
    std::size_t i = static_cast<std::size_t>(kk) - 1;
    if (largest)
        std::nth_element(xs.begin(), xs.begin() + std::ptrdiff_t(i), xs.end(), std::greater<double>());
    else
        std::nth_element(xs.begin(), xs.begin() + std::ptrdiff_t(i), xs.end());
    RET(Value::number(xs[i]));
}
FN(large) { kth(c, out, true); }
FN(small) { kth(c, out, false); }

} // namespace

std::vector<Entry> statistics_functions() {
    return {
        {{"MEDIAN", 1, -1, 0}, fn_median},
        {{"STDEV", 1, -1, 0}, fn_stdev},
        {{"STDEVP", 1, -1, 0}, fn_stdevp},
        {{"VAR", 1, -1, 0}, fn_var},
        {{"VARP", 1, -1, 0}, fn_varp},
        {{"LARGE", 2, 2, 0}, fn_large},
        {{"SMALL", 2, 2, 0}, fn_small},
    };
}

} // namespace host::engine::detail::fn
