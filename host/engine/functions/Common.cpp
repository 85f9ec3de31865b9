// Helpers shared by the built-in functions.

#include "engine/functions/Common.hpp"
#include "engine/Unicode.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace host::engine::detail::fn {

bool num(const Ctx& c, int i, double& x, Value& out, double fallback) {
    if (c.missing(i)) {
        x = fallback;
        return true;
    }
    ErrorCode e;
    if (!to_number(c.arg(i), x, e, c.ev.grid.date1904())) {
        out = err(e);
        return false;
    }
    return true;
}

bool plain_number(const Ctx& c, int i, double& x, Value& out, double fallback) {
    if (c.arg(i).is_boolean()) {
        out = err(ErrorCode::Value);
        return false;
    }
    return num(c, i, x, out, fallback);
}

bool text_arg(const Ctx& c, int i, std::string& s, Value& out) {
    Value v = c.arg(i);
    if (v.is_error()) {
        out = v;
        return false;
    }
    s = to_text(v);
    return true;
}

bool collect(const Ctx& c, int from, int to, std::vector<double>& out, Value& error) {
    for (int i = from; i < to && i < c.argc; ++i) {
        const Item& it = c.args[i];
        auto take_ref = [&](const Value& v) {
            if (v.is_number())
                out.push_back(v.as_number());
            else if (v.is_error()) {
                error = v;
                return false;
            }
            return true;
        };
        switch (it.kind) {
        case Item::Missing: out.push_back(0); break;
        case Item::Val: {
            if (it.v.is_empty())
                break;
            double x;
            ErrorCode e;
            if (!to_number(it.v, x, e, c.ev.grid.date1904())) {
                error = err(e);
                return false;
            }
            out.push_back(x);
            break;
        }
        case Item::Cell:
            if (!take_ref(c.ev.grid.cell_value(it.cell)))
                return false;
            break;
        case Item::Range:
            if (!each_cell(c, it, take_ref))
                return false;
            break;
        case Item::Arr:
            for (const Value& v : it.arr->values)
                if (!take_ref(v))
                    return false;
            break;
        }
    }
    return true;
}

bool paired_numbers(const Ctx& c, int a, int b, std::vector<double>& xs, std::vector<double>& ys, Value& error) {
    View va(c.ev, c.args[a]), vb(c.ev, c.args[b]);
    std::int64_t n = std::int64_t(va.rows) * va.cols;
    if (n != std::int64_t(vb.rows) * vb.cols) {
        error = err(ErrorCode::NA);
        return false;
    }
    if (n > max_dense_cells) {
        error = err(ErrorCode::Num);
        return false;
    }
    for (std::int64_t i = 0; i < n; ++i) {
        Value x = va.at(std::int32_t(i / va.cols), std::int32_t(i % va.cols));
        Value y = vb.at(std::int32_t(i / vb.cols), std::int32_t(i % vb.cols));
        if (x.is_error() || y.is_error()) {
            error = x.is_error() ? x : y;
            return false;
        }
        if (x.is_number() && y.is_number()) {
            xs.push_back(x.as_number());
            ys.push_back(y.as_number());
        }
    }
    return true;
}

bool flag(const Ctx& c, int i, bool& b, Value& out, bool fallback) {
    if (c.missing(i)) {
        b = fallback;
        return true;
    }
    ErrorCode e;
    if (!to_boolean(c.arg(i), b, e)) {
        out = err(e);
        return false;
    }
    return true;
}

std::vector<double>& numbers() {
    thread_local std::vector<double> scratch;
    scratch.clear();
    return scratch;
}

double snap15(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return std::strtod(buf, nullptr);
}

Value round_digits(double x, double digits, int mode) {
    double d = std::trunc(digits);
    if (d > 308)
        d = 308;
    if (d < -308)
        d = -308;
    double p = std::pow(10.0, std::fabs(d));
    double v = d >= 0 ? x * p : x / p;
    if (!std::isfinite(v) || std::fabs(v) >= 1e300)
        return Value::number(x);
    v = snap15(v);
    double r = mode == 0 ? std::round(v) : mode == 1 ? (v < 0 ? -std::ceil(-v) : std::ceil(v)) : std::trunc(v);
    return Value::number(d >= 0 ? r / p : r * p);
}

namespace {

// * any run, ? any one character, ~ makes the next character itself (a final ~ stands for
// nothing); `same` compares two characters ignoring case.
template <class Char, class Same>
bool match_wildcards(const std::basic_string_view<Char> pattern, const std::basic_string_view<Char> text, Same same) {
    std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    const std::size_t np = pattern.size();
    while (t < text.size()) {
        if (p < np && pattern[p] == Char('*')) {
            star = p++;
            mark = t;
            continue;
        }
        if (p + 1 == np && pattern[p] == Char('~')) {
            ++p;
            continue;
        }
        if (p < np) {
            Char pc = pattern[p];
            std::size_t adv = 1;
            bool any = pc == Char('?');
            if (pc == Char('~'))
                pc = pattern[p + 1], adv = 2, any = false;
            if (any || same(pc, text[t])) {
                p += adv;
                ++t;
                continue;
            }
        }
        if (star == std::string_view::npos)
            return false;
        p = star + 1;
        t = ++mark;
    }
    while (p < np && (pattern[p] == Char('*') || (p + 1 == np && pattern[p] == Char('~'))))
        ++p;
    return p == np;
}

std::u32string code_points(std::string_view utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();)
        out += next_code_point(utf8, i);
    return out;
}

} // namespace

bool wildcard_match(std::string_view pattern, std::string_view text) {
    auto ascii = [](std::string_view s) {
        return std::all_of(s.begin(), s.end(), [](char ch) { return static_cast<unsigned char>(ch) < 0x80; });
    };
    if (ascii(pattern) && ascii(text))
        return match_wildcards(pattern, text, [](char a, char b) {
            return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
        });
    const std::u32string p = code_points(fold_case(pattern)), t = code_points(fold_case(text));
    return match_wildcards(std::u32string_view(p), std::u32string_view(t),
                           [](char32_t a, char32_t b) { return a == b; });
}

bool has_wildcards(std::string_view s) { return s.find_first_of("*?~") != std::string_view::npos; }

Value variance(const std::vector<double>& xs, bool sample) {
    std::size_t n = xs.size();
    if (n == 0 || (sample && n < 2))
        return err(ErrorCode::Div0);
    double mean = 0;
    for (double x : xs)
        mean += x;
    mean /= double(n);
    double ss = 0;
    for (double x : xs)
        ss += (x - mean) * (x - mean);
    return Value::number(ss / double(sample ? n - 1 : n));
}

} // namespace host::engine::detail::fn
