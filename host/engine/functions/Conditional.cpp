// Aggregates over the cells that meet a criterion.

#include "engine/functions/Common.hpp"
#include "engine/Workbook.hpp"

#include <memory>

namespace host::engine::detail::fn {

namespace {

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

} // namespace

std::vector<Entry> conditional_functions() {
    return {
        {{"SUMIF", 2, 3, 0}, fn_sumif},
        {{"COUNTIF", 2, 2, 0}, fn_countif},
        {{"AVERAGEIF", 2, 3, 0}, fn_averageif},
    };
}

} // namespace host::engine::detail::fn
