// Sums, counts and their kin over any mix of values, references and arrays.

#include "engine/functions/Common.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>

namespace host::engine::detail::fn {

namespace {

FN(sum) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        double s = 0;
        for (double x : xs)
            s += x;
        return Value::number(s);
    });
}
FN(sumsq) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        double s = 0;
        for (double x : xs)
            s += x * x;
        return Value::number(s);
    });
}
FN(product) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        if (xs.empty())
            return Value::number(0);
        double p = 1;
        for (double x : xs)
            p *= x;
        return Value::number(p);
    });
}
FN(average) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        if (xs.empty())
            return err(ErrorCode::Div0);
        double s = 0;
        for (double x : xs)
            s += x;
        return Value::number(s / double(xs.size()));
    });
}
FN(min) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        return Value::number(xs.empty() ? 0 : *std::min_element(xs.begin(), xs.end()));
    });
}
FN(max) {
    aggregate(c, out, [](const std::vector<double>& xs) {
        return Value::number(xs.empty() ? 0 : *std::max_element(xs.begin(), xs.end()));
    });
}
FN(count) {
    double n = 0;
    each_value(c, 0, c.argc, [&](const Value& v, bool direct, bool missing) {
        if (missing)
            return;
        if (v.is_number())
            ++n;
        else if (direct && (v.is_boolean() || (v.is_text() && parse_number(v.as_text()))))
            ++n;
    });
    RET(Value::number(n));
}
FN(counta) {
    double n = 0;
    each_value(c, 0, c.argc, [&](const Value& v, bool direct, bool missing) {
        if (missing || !v.is_empty() || direct)
            ++n;
    });
    RET(Value::number(n));
}
FN(countblank) {
    const Item& it = c.args[0];
    auto blank = [](const Value& v) { return v.is_empty() || (v.is_text() && v.as_text().empty()); };
    if (it.kind == Item::Range) {
        const auto& ids = c.ev.grid.cells_in(it.area);
        double n = double(it.area.size() - std::int64_t(ids.size()));
        for (std::uint32_t id : ids)
            n += blank(c.ev.grid.cell_value(id));
        RET(Value::number(n));
    }
    double n = 0;
    each_value(c, 0, 1, [&](const Value& v, bool, bool) { n += blank(v); });
    RET(Value::number(n));
}

FN(sumproduct) {
    std::vector<View> views;
    views.reserve(std::size_t(c.argc));
    for (int i = 0; i < c.argc; ++i) {
        views.emplace_back(c.ev, c.args[i]);
        if (views[i].rows != views[0].rows || views[i].cols != views[0].cols)
            RET(err(ErrorCode::Value));
    }
    if (std::int64_t(views[0].rows) * views[0].cols > max_dense_cells)
        RET(err(ErrorCode::Num));
    double total = 0;
    for (std::int32_t r = 0; r < views[0].rows; ++r)
        for (std::int32_t col = 0; col < views[0].cols; ++col) {
            double p = 1;
            for (const View& v : views) {
                Value x = v.at(r, col);
                if (x.is_error())
                    RET(x);
                p *= x.is_number() ? x.as_number() : 0;
            }
            total += p;
        }
    RET(Value::number(total));
}

} // namespace

std::vector<Entry> aggregate_functions() {
    return {
        {{"SUMSQ", 1, -1, 0}, fn_sumsq},
        {{"PRODUCT", 1, -1, 0}, fn_product},
        {{"SUM", 1, -1, 0}, fn_sum},
        {{"AVERAGE", 1, -1, 0}, fn_average},
        {{"MIN", 1, -1, 0}, fn_min},
        {{"MAX", 1, -1, 0}, fn_max},
        {{"COUNT", 1, -1, 0}, fn_count},
        {{"COUNTA", 1, -1, 0}, fn_counta},
        {{"COUNTBLANK", 1, 1, 0}, fn_countblank},
        {{"SUMPRODUCT", 1, -1, FnArrayArgs}, fn_sumproduct},
    };
}

} // namespace host::engine::detail::fn
