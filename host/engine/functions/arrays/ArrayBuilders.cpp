// Functions that build arrays: SEQUENCE, RANDARRAY, MUNIT; the matrices (MMULT, MINVERSE,
// MDETERM), FREQUENCY's counts, and TEXTSPLIT's pieces.

#include "engine/A1.hpp"
#include "engine/functions/ArrayArgs.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace host::engine::detail::fn {

bool matrix_arg(const Ctx& c, int i, ValueGrid& g, std::vector<double>& m, Value& out) {
    if (!grid_arg(c, i, g, out))
        return false;
    m.clear();
    for (const Value& v : g.values) {
        if (v.is_error()) {
            out = v;
            return false;
        }
        if (!v.is_number()) {
            out = err(ErrorCode::Value);
            return false;
        }
        m.push_back(v.as_number());
    }
    return true;
}

namespace {

// ---- building ----

OMBRIX_FN(sequence) {
    std::int32_t rows, cols = 1;
    if (!count_arg(c, 0, 1, 0, double(max_rows), rows, out.v))
        return;
    if (c.argc > 1 && !c.missing(1) && !count_arg(c, 1, 1, 0, double(max_columns), cols, out.v))
        return;
    OMBRIX_NUMBER_OR(2, start, 1);
    OMBRIX_NUMBER_OR(3, step, 1);
    if (std::int64_t(rows) * cols > max_dense_cells)
        OMBRIX_RETURN(err(ErrorCode::Num));
    ValueGrid r = sized(rows, cols);
    for (std::size_t i = 0; i < r.values.size(); ++i)
        r.values[i] = Value::number(start + step * double(i));
    give(c, out, std::move(r));
}

OMBRIX_FN(randarray) {
    std::int32_t rows = 1, cols = 1;
    if (c.argc > 0 && !c.missing(0) && !count_arg(c, 0, 1, 1, double(max_rows), rows, out.v))
        return;
    if (c.argc > 1 && !c.missing(1) && !count_arg(c, 1, 1, 1, double(max_columns), cols, out.v))
        return;
    OMBRIX_NUMBER_OR(2, lo, 0);
    OMBRIX_NUMBER_OR(3, hi, 1);
    OMBRIX_FLAG(4, whole);
    if (hi < lo || (whole && std::ceil(lo) > std::floor(hi)))
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (std::int64_t(rows) * cols > max_dense_cells)
        OMBRIX_RETURN(err(ErrorCode::Num));
    ValueGrid r = sized(rows, cols);
    static const int rand_id = find_function("RAND");
    for (Value& v : r.values) {
        Item unit;
        call_function(c.ev, rand_id, nullptr, 0, unit, false);
        double u = unit.v.as_number();
        v = Value::number(whole ? std::ceil(lo) + std::floor(u * (std::floor(hi) - std::ceil(lo) + 1))
                                : lo + u * (hi - lo));
    }
    give(c, out, std::move(r));
}

// ---- matrices ----

OMBRIX_FN(mmult) {
    ValueGrid ga, gb;
    std::vector<double> a, b;
    if (!matrix_arg(c, 0, ga, a, out.v) || !matrix_arg(c, 1, gb, b, out.v))
        return;
    if (ga.cols != gb.rows)
        OMBRIX_RETURN(err(ErrorCode::Value));
    ValueGrid r = sized(ga.rows, gb.cols);
    for (std::int32_t i = 0; i < ga.rows; ++i)
        for (std::int32_t k = 0; k < gb.cols; ++k) {
            double sum = 0;
            for (std::int32_t j = 0; j < ga.cols; ++j)
                sum += a[std::size_t(i) * std::size_t(ga.cols) + std::size_t(j)] *
                       b[std::size_t(j) * std::size_t(gb.cols) + std::size_t(k)];
            if (!std::isfinite(sum)) // an overflow anywhere makes the whole product #NUM!
                OMBRIX_RETURN(err(ErrorCode::Num));
            r.values[std::size_t(i) * std::size_t(gb.cols) + std::size_t(k)] = Value::number(sum);
        }
    give(c, out, std::move(r));
}

OMBRIX_FN(minverse) {
    ValueGrid g;
    std::vector<double> a;
    if (!matrix_arg(c, 0, g, a, out.v))
        return;
    if (g.rows != g.cols)
        OMBRIX_RETURN(err(ErrorCode::Value));
    const std::size_t n = std::size_t(g.rows);
    std::vector<double> inv(n * n, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        inv[i * n + i] = 1;
    // Gauss-Jordan with partial pivoting.
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < n; ++r)
            if (std::fabs(a[r * n + col]) > std::fabs(a[pivot * n + col]))
                pivot = r;
        if (std::fabs(a[pivot * n + col]) < 1e-300)
            OMBRIX_RETURN(err(ErrorCode::Num));
        if (pivot != col)
            for (std::size_t k = 0; k < n; ++k) {
                std::swap(a[pivot * n + k], a[col * n + k]);
                std::swap(inv[pivot * n + k], inv[col * n + k]);
            }
        double p = a[col * n + col];
        for (std::size_t k = 0; k < n; ++k) {
            a[col * n + k] /= p;
            inv[col * n + k] /= p;
        }
        for (std::size_t r = 0; r < n; ++r) {
            if (r == col || a[r * n + col] == 0)
                continue;
            double f = a[r * n + col];
            for (std::size_t k = 0; k < n; ++k) {
                a[r * n + k] -= f * a[col * n + k];
                inv[r * n + k] -= f * inv[col * n + k];
            }
        }
    }
    ValueGrid r = sized(g.rows, g.cols);
    for (std::size_t i = 0; i < n * n; ++i)
        r.values[i] = Value::number(inv[i]);
    give(c, out, std::move(r));
}

// MDETERM(matrix): the determinant, by elimination with partial pivoting.
OMBRIX_FN(mdeterm) {
    ValueGrid g;
    std::vector<double> a;
    if (!matrix_arg(c, 0, g, a, out.v))
        return;
    if (g.rows != g.cols)
        OMBRIX_RETURN(err(ErrorCode::Value));
    const std::size_t n = std::size_t(g.rows);
    double det = 1;
    for (std::size_t col = 0; col < n; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < n; ++r)
            if (std::fabs(a[r * n + col]) > std::fabs(a[pivot * n + col]))
                pivot = r;
        if (a[pivot * n + col] == 0)
            OMBRIX_RETURN(Value::number(0));
        if (pivot != col) {
            for (std::size_t k = 0; k < n; ++k)
                std::swap(a[pivot * n + k], a[col * n + k]);
            det = -det;
        }
        det *= a[col * n + col];
        for (std::size_t r = col + 1; r < n; ++r) {
            const double f = a[r * n + col] / a[col * n + col];
            for (std::size_t k = col; k < n; ++k)
                a[r * n + k] -= f * a[col * n + k];
        }
    }
    OMBRIX_RETURN(std::isfinite(det) ? Value::number(det) : err(ErrorCode::Num));
}

OMBRIX_FN(munit) {
    std::int32_t n;
    if (!count_arg(c, 0, 1, 1, 1024, n, out.v))
        return;
    ValueGrid r = sized(n, n, Value::number(0));
    for (std::int32_t i = 0; i < n; ++i)
        r.values[std::size_t(i) * std::size_t(n) + std::size_t(i)] = Value::number(1);
    give(c, out, std::move(r));
}

// FREQUENCY(data, bins): how many numbers fall at or below each bin and above the one before,
// in the bins' own order, and one more count for those above every bin.
OMBRIX_FN(frequency) {
    std::vector<double> data, bins;
    Value e;
    auto numbers_of = [&](int i, std::vector<double>& out_list) {
        bool ok = true;
        each_value(c, i, i + 1, [&](const Value& v, bool, bool) {
            if (v.is_error() && ok) {
                e = v;
                ok = false;
            } else if (v.is_number()) {
                out_list.push_back(v.as_number());
            }
        });
        return ok;
    };
    if (!numbers_of(0, data) || !numbers_of(1, bins))
        OMBRIX_RETURN(e);
    std::vector<std::size_t> order(bins.size());
    std::iota(order.begin(), order.end(), std::size_t(0));
    std::stable_sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return bins[x] < bins[y]; });
    ValueGrid r = sized(std::int32_t(bins.size()) + 1, 1, Value::number(0));
    std::vector<double> counts(bins.size() + 1, 0);
    for (double x : data) {
        // The first bin, in ascending order, that x does not exceed.
        std::size_t k =
            std::size_t(std::partition_point(order.begin(), order.end(), [&](std::size_t b) { return x > bins[b]; }) -
                        order.begin());
        counts[k < order.size() ? order[k] : bins.size()] += 1;
    }
    for (std::size_t k = 0; k < counts.size(); ++k)
        r.values[k] = Value::number(counts[k]);
    give(c, out, std::move(r));
}

// ---- text ----

// TEXTSPLIT(text, column delimiters, [row delimiters], [ignore empty], [match mode], [pad]).
OMBRIX_FN(textsplit) {
    OMBRIX_TEXT(0, text);
    if (text.empty()) // nothing to split, an empty cell or "", is #VALUE!
        OMBRIX_RETURN(err(ErrorCode::Value));
    auto delimiters = [&](int i, std::vector<std::string>& list) {
        if (i >= c.argc || c.missing(i))
            return true;
        ValueGrid g;
        if (!grid_arg(c, i, g, out.v))
            return false;
        for (const Value& v : g.values) {
            if (v.is_error()) {
                out.v = v;
                return false;
            }
            std::string s = to_text(v);
            if (!s.empty())
                list.push_back(s);
        }
        return true;
    };
    std::vector<std::string> col_delims, row_delims;
    if (!delimiters(1, col_delims) || !delimiters(2, row_delims))
        return;
    if (col_delims.empty() && row_delims.empty())
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_FLAG(3, ignore_empty);
    OMBRIX_NUMBER_OR(4, match_mode, 0);
    Value pad = c.argc > 5 && !c.missing(5) ? c.arg(5) : err(ErrorCode::NA);
    const bool fold = match_mode == 1;
    std::string hay = fold ? to_upper(text) : text;
    if (fold)
        for (auto* list : {&col_delims, &row_delims})
            for (std::string& d : *list)
                d = to_upper(d);
    // Splits [from, to) of the text at the earliest of the delimiters, looking no further than
    // `to` (a line's end, not the text's).
    auto split = [&](std::size_t from, std::size_t to, const std::vector<std::string>& delims) {
        std::vector<std::pair<std::size_t, std::size_t>> pieces;
        const std::string_view within = std::string_view(hay).substr(0, to);
        std::size_t start = from;
        while (true) {
            std::size_t best = std::string::npos, length = 0;
            for (const std::string& needle : delims) {
                std::size_t at = within.find(needle, start);
                if (at != std::string::npos && (at < best || (at == best && needle.size() > length)))
                    best = at, length = needle.size();
            }
            if (best == std::string::npos) {
                pieces.emplace_back(start, to);
                break;
            }
            pieces.emplace_back(start, best);
            start = best + length;
        }
        if (ignore_empty)
            pieces.erase(
                std::remove_if(pieces.begin(), pieces.end(), [](const auto& p) { return p.first == p.second; }),
                pieces.end());
        return pieces;
    };
    std::vector<std::vector<std::pair<std::size_t, std::size_t>>> lines;
    for (const auto& line : row_delims.empty() ? std::vector<std::pair<std::size_t, std::size_t>>{{0, text.size()}}
                                               : split(0, text.size(), row_delims))
        lines.push_back(col_delims.empty() ? std::vector<std::pair<std::size_t, std::size_t>>{line}
                                           : split(line.first, line.second, col_delims));
    std::size_t width = 0;
    for (const auto& l : lines)
        width = std::max(width, l.size());
    // Lines of many pieces each, padded to the longest, would be gigabytes.
    if (double(lines.size()) * double(width) > double(max_dense_cells))
        OMBRIX_RETURN(err(ErrorCode::Num));
    ValueGrid r = sized(std::int32_t(lines.size()), std::int32_t(width), pad);
    for (std::size_t i = 0; i < lines.size(); ++i)
        for (std::size_t k = 0; k < lines[i].size(); ++k)
            r.values[i * width + k] =
                Value::text(std::string_view(text).substr(lines[i][k].first, lines[i][k].second - lines[i][k].first));
    give(c, out, std::move(r));
}

#undef OMBRIX_GRID

} // namespace

std::vector<Entry> array_building_functions() {
    constexpr std::uint8_t A = FnArrayArgs;
    std::vector<Entry> list = {
        {{"SEQUENCE", 1, 4, 0}, fn_sequence},
        {{"RANDARRAY", 0, 5, FnVolatile}, fn_randarray},
        {{"MMULT", 2, 2, A}, fn_mmult},
        {{"MINVERSE", 1, 1, A}, fn_minverse},
        {{"MUNIT", 1, 1, 0, "v"}, fn_munit},
        {{"FREQUENCY", 2, 2, A}, fn_frequency},
        {{"TEXTSPLIT", 2, 6, A, "vaa"}, fn_textsplit},
        {{"MDETERM", 1, 1, A}, fn_mdeterm},
    };
    for (auto family : {regression_functions, array_text_functions})
        for (Entry& e : family())
            list.push_back(e);
    return list;
}

} // namespace host::engine::detail::fn
