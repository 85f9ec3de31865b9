// The built-in functions.

#include "engine/Eval.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <unordered_map>

namespace host::engine::detail {

namespace {

struct Ctx {
    Evaluator& ev;
    Item* args;
    int argc;
    bool array;

    bool missing(int i) const { return i >= argc || args[i].kind == Item::Missing; }
    Value arg(int i) const { return i < argc ? ev.scalar(args[i]) : Value(); }
};

Value err(ErrorCode e) { return Value::error(e); }

// Reads argument i as a number; `fallback` when it is omitted.
bool num(const Ctx& c, int i, double& x, Value& out, double fallback = 0) {
    if (c.missing(i)) {
        x = fallback;
        return true;
    }
    ErrorCode e;
    if (!to_number(c.arg(i), x, e)) {
        out = err(e);
        return false;
    }
    return true;
}

// Numbers seen as the aggregate functions see them: in ranges and arrays only numbers count
// (text, booleans and empty cells are skipped); a direct argument is coerced ("3" is 3,
// TRUE is 1, other text is #VALUE!). The first error met is the result.
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
            if (!to_number(it.v, x, e)) {
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
            for (std::uint32_t id : c.ev.grid.cells_in(it.area))
                if (!take_ref(c.ev.grid.cell_value(id)))
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

// Calls f(value) for every value of the arguments, references and arrays included.
template <class F>
void each_value(const Ctx& c, int from, int to, F f) {
    for (int i = from; i < to && i < c.argc; ++i) {
        const Item& it = c.args[i];
        switch (it.kind) {
        case Item::Missing: f(Value(), true, true); break;
        case Item::Val: f(it.v, true, false); break;
        case Item::Cell: f(c.ev.grid.cell_value(it.cell), false, false); break;
        case Item::Range:
            for (std::uint32_t id : c.ev.grid.cells_in(it.area))
                f(c.ev.grid.cell_value(id), false, false);
            break;
        case Item::Arr:
            for (const Value& v : it.arr->values)
                f(v, false, false);
            break;
        }
    }
}

thread_local std::vector<double> scratch;

std::vector<double>& numbers() {
    scratch.clear();
    return scratch;
}

// ---- rounding ----

double snap15(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.15g", v);
    return std::strtod(buf, nullptr);
}

// mode 0: half away from zero, 1: away from zero, 2: toward zero.
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

// ---- text ----

std::size_t utf8_length(std::string_view s) {
    std::size_t n = 0;
    for (char ch : s)
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80)
            ++n;
    return n;
}

// Byte offset of code point k (or the size if there are fewer).
std::size_t utf8_offset(std::string_view s, std::size_t k) {
    std::size_t i = 0, n = 0;
    while (i < s.size()) {
        if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) {
            if (n == k)
                return i;
            ++n;
        }
        ++i;
    }
    return s.size();
}

// Wildcard match ignoring case: '*' any run, '?' one character, '~' escapes.
bool wildcard_match(std::string_view pattern, std::string_view text) {
    std::size_t p = 0, t = 0, star = std::string_view::npos, mark = 0;
    auto up = [](char ch) { return std::toupper(static_cast<unsigned char>(ch)); };
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            mark = t;
            continue;
        }
        if (p < pattern.size()) {
            char pc = pattern[p];
            std::size_t adv = 1;
            bool any = pc == '?';
            if (pc == '~' && p + 1 < pattern.size() && (pattern[p + 1] == '*' || pattern[p + 1] == '?' || pattern[p + 1] == '~'))
                pc = pattern[p + 1], adv = 2, any = false;
            if (any || up(pc) == up(text[t])) {
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
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

bool has_wildcards(std::string_view s) {
    return s.find_first_of("*?~") != std::string_view::npos;
}

// ---- criteria (SUMIF, COUNTIF, AVERAGEIF) ----

struct Criterion {
    enum Kind { Eq, Ne, Lt, Le, Gt, Ge } op = Eq;
    Value target;
    bool blank_only = false;   // "="
    bool blank_or_empty_text = false;   // ""

    explicit Criterion(const Value& c) {
        if (!c.is_text()) {
            target = c.is_empty() ? Value::text("") : c;
            if (c.is_empty())
                blank_or_empty_text = true;
            return;
        }
        std::string_view s = c.as_text();
        static const std::pair<const char*, Kind> ops[] = {{"<=", Le}, {">=", Ge}, {"<>", Ne}, {"<", Lt}, {">", Gt}, {"=", Eq}};
        bool had_op = false;
        for (const auto& o : ops) {
            std::string_view t(o.first);
            if (s.substr(0, t.size()) == t) {
                op = o.second;
                s.remove_prefix(t.size());
                had_op = true;
                break;
            }
        }
        if (s.empty()) {
            target = Value::text("");
            if (!had_op)
                blank_or_empty_text = true;
            else if (op == Eq)
                blank_only = true;
            return;
        }
        if (auto x = parse_number(s))
            target = Value::number(*x);
        else if (iequals(s, "TRUE") || iequals(s, "FALSE"))
            target = Value::boolean(iequals(s, "TRUE"));
        else if (auto e = parse_error(s))
            target = Value::error(*e);
        else
            target = Value::text(s);
    }

    bool equal(const Value& v) const {
        if (blank_only)
            return v.is_empty();
        if (blank_or_empty_text)
            return v.is_empty() || (v.is_text() && v.as_text().empty());
        if (target.is_text() && target.as_text().empty())
            return v.is_empty();
        if (v.type() != target.type())
            return false;
        switch (v.type()) {
        case ValueType::Number: return approx_equal(v.as_number(), target.as_number());
        case ValueType::Boolean: return v.as_boolean() == target.as_boolean();
        case ValueType::Error: return v.as_error() == target.as_error();
        case ValueType::Text: return wildcard_match(target.as_text(), v.as_text());
        default: return false;
        }
    }

    bool matches(const Value& v) const {
        if (op == Eq)
            return equal(v);
        if (op == Ne)
            return !equal(v);
        if (v.type() != target.type() || v.is_error())
            return false;
        int c = compare(v, target);
        switch (op) {
        case Lt: return c < 0;
        case Le: return c <= 0;
        case Gt: return c > 0;
        default: return c >= 0;
        }
    }
};

// Visits each position of `range` that matches, with the value at the same offset in
// `other` (the sum range). Sparse over the cells that exist when empty cells cannot match.
template <class F>
bool each_match(const Ctx& c, const Item& range, const Item* other, const Criterion& crit, F f) {
    View rv(c.ev, range);
    std::unique_ptr<View> ov;
    if (other)
        ov = std::make_unique<View>(c.ev, *other);
    auto other_at = [&](std::int32_t r, std::int32_t col) -> Value {
        if (!other)
            return Value();
        if (other->kind == Item::Range) {
            std::int64_t rr = std::int64_t(other->area.r1) + r, cc = std::int64_t(other->area.c1) + col;
            if (rr >= max_rows || cc >= max_columns)
                return Value();
            return c.ev.grid.value_at(other->area.sheet, static_cast<std::int32_t>(rr), static_cast<std::int32_t>(cc));
        }
        if (r < ov->rows && col < ov->cols)
            return ov->at(r, col);
        return Value();
    };
    bool blank_matches = crit.matches(Value());
    if (range.kind == Item::Range && !blank_matches) {
        for (std::uint32_t id : c.ev.grid.cells_in(range.area)) {
            const Value& v = c.ev.grid.cell_value(id);
            if (crit.matches(v)) {
                Area a = c.ev.grid.cell_area(id);
                f(other_at(a.r1 - range.area.r1, a.c1 - range.area.c1));
            }
        }
        return true;
    }
    if (std::int64_t(rv.rows) * rv.cols > max_dense_cells)
        return false;
    for (std::int32_t r = 0; r < rv.rows; ++r)
        for (std::int32_t col = 0; col < rv.cols; ++col)
            if (crit.matches(rv.at(r, col)))
                f(other_at(r, col));
    return true;
}

// ---- lookups ----

bool lookup_equal(const Value& cell, const Value& key) {
    if (cell.type() != key.type())
        return false;
    switch (key.type()) {
    case ValueType::Number: return approx_equal(cell.as_number(), key.as_number());
    case ValueType::Boolean: return cell.as_boolean() == key.as_boolean();
    case ValueType::Text:
        return has_wildcards(key.as_text()) ? wildcard_match(key.as_text(), cell.as_text())
                                            : compare(cell, key) == 0;
    default: return false;
    }
}

// Position of key among n values given by at(i): mode 0 exact, 1 the last value <= key in
// ascending data, -1 the last value >= key in descending data. -1 if none.
template <class At>
std::int64_t find_position(const Value& key, std::int64_t n, int mode, At at) {
    std::int64_t best = -1;
    for (std::int64_t i = 0; i < n; ++i) {
        Value v = at(i);
        if (mode == 0) {
            if (lookup_equal(v, key))
                return i;
            continue;
        }
        if (v.is_empty() || v.is_error())
            continue;
        bool same = (v.is_number() && key.is_number()) || (v.is_text() && key.is_text()) ||
                    (v.is_boolean() && key.is_boolean());
        if (!same)
            continue;
        int cmp = compare(v, key);
        if (mode > 0 ? cmp <= 0 : cmp >= 0)
            best = i;
        else
            break;
    }
    return best;
}

// ---- the functions ----

using Impl = void (*)(Ctx&, Item&);

#define FN(name) void fn_##name(Ctx& c, Item& out)
#define RET(value) do { out.v = (value); return; } while (0)
#define NUM(i, var) double var; if (!num(c, i, var, out.v)) return
#define NUMD(i, var, dflt) double var; if (!num(c, i, var, out.v, dflt)) return

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

template <class Reduce>
void aggregate(Ctx& c, Item& out, Reduce reduce) {
    auto& xs = numbers();
    Value e;
    if (!collect(c, 0, c.argc, xs, e))
        RET(e);
    RET(reduce(xs));
}

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
FN(median) {
    aggregate(c, out, [](std::vector<double>& xs) {
        if (xs.empty())
            return err(ErrorCode::Num);
        std::sort(xs.begin(), xs.end());
        std::size_t n = xs.size();
        return Value::number(n % 2 ? xs[n / 2] : (xs[n / 2 - 1] + xs[n / 2]) / 2);
    });
}

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

void conditional(Ctx& c, Item& out, int kind) {   // 0 SUMIF, 1 COUNTIF, 2 AVERAGEIF
    Value cv = c.arg(1);
    if (cv.is_error())
        RET(cv);
    Criterion crit(cv);
    const Item& range = c.args[0];
    if (range.kind == Item::Val)
        RET(err(ErrorCode::Value));
    const Item* other = kind == 1 ? nullptr : (c.missing(2) ? &range : &c.args[2]);
    if (kind == 1) {
        double n = 0;
        if (range.kind == Item::Range && crit.matches(Value())) {
            const auto& ids = c.ev.grid.cells_in(range.area);
            n = double(range.area.size() - std::int64_t(ids.size()));
            for (std::uint32_t id : ids)
                n += crit.matches(c.ev.grid.cell_value(id));
            RET(Value::number(n));
        }
        if (!each_match(c, range, nullptr, crit, [&](const Value&) { ++n; }))
            RET(err(ErrorCode::Num));
        RET(Value::number(n));
    }
    double sum = 0, n = 0;
    Value error;
    bool done = each_match(c, range, other, crit, [&](const Value& v) {
        if (v.is_error() && !error.is_error())
            error = v;
        if (v.is_number())
            sum += v.as_number(), ++n;
    });
    if (!done)
        RET(err(ErrorCode::Num));
    if (error.is_error())
        RET(error);
    if (kind == 2 && n == 0)
        RET(err(ErrorCode::Div0));
    RET(Value::number(kind == 2 ? sum / n : sum));
}
FN(sumif) { conditional(c, out, 0); }
FN(countif) { conditional(c, out, 1); }
FN(averageif) { conditional(c, out, 2); }

void logical(Ctx& c, Item& out, bool is_and) {
    bool any = false, acc = is_and;
    Value error;
    each_value(c, 0, c.argc, [&](const Value& v, bool direct, bool missing) {
        if (error.is_error() || missing)
            return;
        bool b;
        if (v.is_error()) {
            error = v;
            return;
        }
        if (v.is_number() || v.is_boolean()) {
            b = v.is_boolean() ? v.as_boolean() : v.as_number() != 0;
        } else if (direct && v.is_text()) {
            ErrorCode e;
            if (!to_boolean(v, b, e)) {
                error = err(e);
                return;
            }
        } else {
            return;
        }
        any = true;
        acc = is_and ? (acc && b) : (acc || b);
    });
    if (error.is_error())
        RET(error);
    if (!any)
        RET(err(ErrorCode::Value));
    RET(Value::boolean(acc));
}
FN(and) { logical(c, out, true); }
FN(or) { logical(c, out, false); }
FN(not) {
    bool b;
    ErrorCode e;
    if (!to_boolean(c.arg(0), b, e))
        RET(err(e));
    RET(Value::boolean(!b));
}
FN(if) {   // only reached through array lifting; normally compiled to jumps
    bool b;
    ErrorCode e;
    if (!to_boolean(c.arg(0), b, e))
        RET(err(e));
    if (b)
        RET(c.missing(1) ? Value::number(0) : c.arg(1));
    RET(c.argc < 3 ? Value::boolean(false) : c.missing(2) ? Value::number(0) : c.arg(2));
}
FN(iferror) {
    Value v = c.arg(0);
    RET(v.is_error() ? c.arg(1) : v);
}
FN(isnumber) { RET(Value::boolean(c.arg(0).is_number())); }
FN(iserror) { RET(Value::boolean(c.arg(0).is_error())); }
FN(isna) { Value v = c.arg(0); RET(Value::boolean(v.is_error() && v.as_error() == ErrorCode::NA)); }
FN(isblank) { RET(Value::boolean(!c.missing(0) && c.arg(0).is_empty())); }
FN(istext) { RET(Value::boolean(c.arg(0).is_text())); }
FN(true) { (void)c; RET(Value::boolean(true)); }
FN(false) { (void)c; RET(Value::boolean(false)); }
FN(na) { (void)c; RET(err(ErrorCode::NA)); }
FN(choose) {
    NUM(0, x);
    double i = std::trunc(x);
    if (i < 1 || i >= c.argc)
        RET(err(ErrorCode::Value));
    out = c.args[static_cast<int>(i)];
    if (out.kind == Item::Missing) {
        out.kind = Item::Val;
        out.v = Value::number(0);
    }
}

void table_lookup(Ctx& c, Item& out, bool vertical) {
    Value key = c.arg(0);
    if (key.is_error())
        RET(key);
    if (key.is_empty())
        RET(err(ErrorCode::NA));
    View t(c.ev, c.args[1]);
    NUM(2, index);
    bool sorted = true;
    if (!c.missing(3) || c.argc > 3) {
        ErrorCode e;
        if (!to_boolean(c.arg(3), sorted, e))
            RET(err(e));
    }
    double k = std::trunc(index);
    if (k < 1)
        RET(err(ErrorCode::Value));
    if (k > (vertical ? t.cols : t.rows))
        RET(err(ErrorCode::Ref));
    std::int64_t n = vertical ? t.rows : t.cols;
    std::int64_t pos = find_position(key, n, sorted ? 1 : 0, [&](std::int64_t i) {
        return vertical ? t.at(static_cast<std::int32_t>(i), 0) : t.at(0, static_cast<std::int32_t>(i));
    });
    if (pos < 0)
        RET(err(ErrorCode::NA));
    std::int32_t off = static_cast<std::int32_t>(k) - 1, p = static_cast<std::int32_t>(pos);
    RET(vertical ? t.at(p, off) : t.at(off, p));
}
FN(vlookup) { table_lookup(c, out, true); }
FN(hlookup) { table_lookup(c, out, false); }

FN(match) {
    Value key = c.arg(0);
    if (key.is_error())
        RET(key);
    View t(c.ev, c.args[1]);
    NUMD(2, type, 1);
    if (t.rows != 1 && t.cols != 1)
        RET(err(ErrorCode::NA));
    int mode = type > 0 ? 1 : type < 0 ? -1 : 0;
    bool column = t.cols == 1;
    std::int64_t pos = find_position(key, column ? t.rows : t.cols, mode, [&](std::int64_t i) {
        return column ? t.at(static_cast<std::int32_t>(i), 0) : t.at(0, static_cast<std::int32_t>(i));
    });
    if (pos < 0)
        RET(err(ErrorCode::NA));
    RET(Value::number(double(pos + 1)));
}

FN(index) {
    const Item& src = c.args[0];
    View t(c.ev, src);
    NUMD(1, rowf, 0);
    NUMD(2, colf, 0);
    double r = std::trunc(rowf), k = std::trunc(colf);
    if (c.argc < 3 || c.missing(2)) {
        if (t.rows == 1 && t.cols > 1)   // a single row: the one index picks the column
            std::swap(r, k);
    }
    if (r < 0 || k < 0)
        RET(err(ErrorCode::Value));
    if (r > t.rows || k > t.cols)
        RET(err(ErrorCode::Ref));
    std::int32_t r1 = r == 0 ? 0 : static_cast<std::int32_t>(r) - 1, r2 = r == 0 ? t.rows - 1 : r1;
    std::int32_t c1 = k == 0 ? 0 : static_cast<std::int32_t>(k) - 1, c2 = k == 0 ? t.cols - 1 : c1;
    if (src.kind == Item::Range) {
        out.kind = Item::Range;
        out.area = Area{src.area.sheet, src.area.r1 + r1, src.area.c1 + c1, src.area.r1 + r2, src.area.c1 + c2};
        return;
    }
    if (r1 == r2 && c1 == c2)
        RET(t.at(r1, c1));
    auto a = std::make_shared<Array>();
    a->rows = r2 - r1 + 1;
    a->cols = c2 - c1 + 1;
    for (std::int32_t i = r1; i <= r2; ++i)
        for (std::int32_t j = c1; j <= c2; ++j)
            a->values.push_back(t.at(i, j));
    out.kind = Item::Arr;
    out.arr = c.ev.keep(std::move(a));
}

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

bool text_arg(const Ctx& c, int i, std::string& s, Value& out) {
    Value v = c.arg(i);
    if (v.is_error()) {
        out = v;
        return false;
    }
    s = to_text(v);
    return true;
}
#define TEXT(i, var) std::string var; if (!text_arg(c, i, var, out.v)) return

FN(len) { TEXT(0, s); RET(Value::number(double(utf8_length(s)))); }
FN(upper) {
    TEXT(0, s);
    for (char& ch : s)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    RET(Value::text(s));
}
FN(lower) {
    TEXT(0, s);
    for (char& ch : s)
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    RET(Value::text(s));
}
FN(left) {
    TEXT(0, s);
    NUMD(1, n, 1);
    if (n < 0)
        RET(err(ErrorCode::Value));
    double k = std::min(std::trunc(n), 1e9);
    RET(Value::text(s.substr(0, utf8_offset(s, static_cast<std::size_t>(k)))));
}
FN(right) {
    TEXT(0, s);
    NUMD(1, n, 1);
    if (n < 0)
        RET(err(ErrorCode::Value));
    double k = std::min(std::trunc(n), 1e9);
    std::size_t len = utf8_length(s), kk = static_cast<std::size_t>(k);
    RET(Value::text(kk >= len ? s : s.substr(utf8_offset(s, len - kk))));
}
FN(mid) {
    TEXT(0, s);
    NUM(1, start);
    NUM(2, n);
    if (start < 1 || n < 0)
        RET(err(ErrorCode::Value));
    std::size_t b = utf8_offset(s, static_cast<std::size_t>(std::min(std::trunc(start), 1e9)) - 1);
    std::size_t k = static_cast<std::size_t>(std::min(std::trunc(n), 1e9));
    std::string rest = s.substr(b);
    RET(Value::text(rest.substr(0, utf8_offset(rest, k))));
}
FN(concatenate) {
    std::string s;
    for (int i = 0; i < c.argc; ++i) {
        TEXT(i, part);
        s += part;
    }
    RET(Value::text(s));
}
FN(value) {
    Value v = c.arg(0);
    switch (v.type()) {
    case ValueType::Error: RET(v);
    case ValueType::Number: RET(v);
    case ValueType::Empty: RET(Value::number(0));
    case ValueType::Text:
        if (auto x = parse_number(v.as_text()))
            RET(Value::number(*x));
        RET(err(ErrorCode::Value));
    default: RET(err(ErrorCode::Value));
    }
}
FN(trim) {
    TEXT(0, s);
    std::string r;
    for (char ch : s) {
        if (ch == ' ' && (r.empty() || r.back() == ' '))
            continue;
        r += ch;
    }
    if (!r.empty() && r.back() == ' ')
        r.pop_back();
    RET(Value::text(r));
}

struct Entry {
    Function meta;
    Impl impl;
};

const std::vector<Entry>& table() {
    constexpr std::uint8_t L = FnLift;
    static const std::vector<Entry> t = {
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
        {{"MEDIAN", 1, -1, 0}, fn_median},
        {{"STDEV", 1, -1, 0}, fn_stdev},
        {{"STDEVP", 1, -1, 0}, fn_stdevp},
        {{"VAR", 1, -1, 0}, fn_var},
        {{"VARP", 1, -1, 0}, fn_varp},
        {{"LARGE", 2, 2, 0}, fn_large},
        {{"SMALL", 2, 2, 0}, fn_small},
        {{"SUMIF", 2, 3, 0}, fn_sumif},
        {{"COUNTIF", 2, 2, 0}, fn_countif},
        {{"AVERAGEIF", 2, 3, 0}, fn_averageif},
        {{"IF", 2, 3, L}, fn_if},
        {{"AND", 1, -1, 0}, fn_and},
        {{"OR", 1, -1, 0}, fn_or},
        {{"NOT", 1, 1, L}, fn_not},
        {{"IFERROR", 2, 2, L}, fn_iferror},
        {{"ISNUMBER", 1, 1, L}, fn_isnumber},
        {{"ISERROR", 1, 1, L}, fn_iserror},
        {{"ISNA", 1, 1, L}, fn_isna},
        {{"ISBLANK", 1, 1, L}, fn_isblank},
        {{"ISTEXT", 1, 1, L}, fn_istext},
        {{"TRUE", 0, 0, 0}, fn_true},
        {{"FALSE", 0, 0, 0}, fn_false},
        {{"CHOOSE", 2, -1, 0}, fn_choose},
        {{"NA", 0, 0, 0}, fn_na},
        {{"VLOOKUP", 3, 4, 0}, fn_vlookup},
        {{"HLOOKUP", 3, 4, 0}, fn_hlookup},
        {{"INDEX", 2, 3, 0}, fn_index},
        {{"MATCH", 2, 3, 0}, fn_match},
        {{"NPV", 2, -1, 0}, fn_npv},
        {{"PMT", 3, 5, L}, fn_pmt},
        {{"FV", 3, 5, L}, fn_fv},
        {{"PV", 3, 5, L}, fn_pv},
        {{"LEN", 1, 1, L}, fn_len},
        {{"UPPER", 1, 1, L}, fn_upper},
        {{"LOWER", 1, 1, L}, fn_lower},
        {{"LEFT", 1, 2, L}, fn_left},
        {{"RIGHT", 1, 2, L}, fn_right},
        {{"MID", 3, 3, L}, fn_mid},
        {{"CONCATENATE", 1, -1, L}, fn_concatenate},
        {{"VALUE", 1, 1, L}, fn_value},
        {{"TRIM", 1, 1, L}, fn_trim},
    };
    return t;
}

bool is_multi(const Item& item) {
    return item.kind == Item::Arr || (item.kind == Item::Range && item.area.size() > 1);
}

// A scalar function given arrays in array context: applied element by element.
void lift(Evaluator& ev, Impl impl, Item* args, int argc, Item& out) {
    std::vector<View> views;
    views.reserve(std::size_t(argc));
    std::int32_t rows = 1, cols = 1;
    for (int i = 0; i < argc; ++i) {
        views.emplace_back(ev, args[i]);
        if (is_multi(args[i])) {
            rows = std::max(rows, views[i].rows);
            cols = std::max(cols, views[i].cols);
        }
    }
    if (std::int64_t(rows) * cols > max_dense_cells) {
        out.v = Value::error(ErrorCode::Num);
        return;
    }
    auto result = std::make_shared<Array>();
    result->rows = rows;
    result->cols = cols;
    std::vector<Item> element(static_cast<std::size_t>(argc));
    for (std::int32_t r = 0; r < rows; ++r)
        for (std::int32_t c = 0; c < cols; ++c) {
            for (int i = 0; i < argc; ++i) {
                if (!is_multi(args[i])) {
                    element[std::size_t(i)] = args[i];
                    continue;
                }
                const View& v = views[std::size_t(i)];
                Item& e = element[std::size_t(i)];
                e.kind = Item::Val;
                std::int32_t rr = v.rows == 1 ? 0 : r, cc = v.cols == 1 ? 0 : c;
                e.v = rr < v.rows && cc < v.cols ? v.at(rr, cc) : Value::error(ErrorCode::NA);
            }
            Item o;
            Ctx ctx{ev, element.data(), argc, true};
            impl(ctx, o);
            result->values.push_back(ev.scalar(o, true));
        }
    out.kind = Item::Arr;
    out.arr = ev.keep(std::move(result));
}

} // namespace

const std::vector<Function>& functions() {
    static const std::vector<Function> list = [] {
        std::vector<Function> l;
        for (const Entry& e : table())
            l.push_back(e.meta);
        return l;
    }();
    return list;
}

int find_function(std::string_view upper_name) {
    static const std::unordered_map<std::string, int> index = [] {
        std::unordered_map<std::string, int> m;
        const auto& t = table();
        for (std::size_t i = 0; i < t.size(); ++i)
            m.emplace(t[i].meta.name, static_cast<int>(i));
        return m;
    }();
    auto it = index.find(std::string(upper_name));
    return it == index.end() ? -1 : it->second;
}

void call_function(Evaluator& ev, int id, Item* args, int argc, Item& out, bool array) {
    const Entry& e = table()[static_cast<std::size_t>(id)];
    if (array && (e.meta.flags & FnLift)) {
        for (int i = 0; i < argc; ++i)
            if (is_multi(args[i])) {
                lift(ev, e.impl, args, argc, out);
                return;
            }
    }
    Ctx ctx{ev, args, argc, array};
    e.impl(ctx, out);
}

} // namespace host::engine::detail
