// Aggregates over the cells that meet a criterion.

#include "engine/functions/Common.hpp"
#include "engine/internal/LookupIndex.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>

namespace host::engine::detail::fn {

namespace {

// ---- criteria (SUMIF, COUNTIF, AVERAGEIF) ----

struct Criterion {
    enum Kind { Eq, Ne, Lt, Le, Gt, Ge } op = Eq;
    Value target;
    bool blank_only = false;          // "="
    bool blank_or_empty_text = false; // ""
    bool never = false;               // "<", ">", "<=", ">=" with nothing to compare with

    Criterion(const Value& c, bool date1904) {
        if (!c.is_text()) {
            // An empty cell as the criterion is 0; an error counts the same errors.
            target = c.is_empty() ? Value::number(0) : c;
            return;
        }
        std::string_view s = c.as_text();
        static const std::pair<const char*, Kind> ops[] = {{"<=", Le}, {">=", Ge}, {"<>", Ne},
                                                           {"<", Lt},  {">", Gt},  {"=", Eq}};
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
            never = had_op && op != Eq && op != Ne;
            if (!had_op)
                blank_or_empty_text = true;
            else if (op == Eq)
                blank_only = true;
            return;
        }
        // What follows the operator reads as a typed-in entry would: a date, a time or an
        // amount ("2/10/2019", "10:30", "$5") compares as its number.
        double x;
        ErrorCode unused;
        if (to_number(Value::text(s), x, unused, date1904))
            target = Value::number(x);
        else if (iequals(s, "TRUE") || iequals(s, "FALSE"))
            target = Value::boolean(iequals(s, "TRUE"));
        else if (auto e = parse_error(s))
            target = Value::error(*e);
        else
            target = Value::text(s);
    }

    // `numeric_text`: the number 23 also equals the text "23" (as "=23" finds, though "<>23"
    // leaves that text in).
    bool equal(const Value& v, bool numeric_text = true) const {
        if (blank_only)
            return v.is_empty();
        if (blank_or_empty_text)
            return v.is_empty() || (v.is_text() && v.as_text().empty());
        if (target.is_text() && target.as_text().empty())
            return v.is_empty();
        if (numeric_text && target.is_number() && v.is_text()) {
            auto x = parse_number(v.as_text());
            return x && approx_equal(*x, target.as_number());
        }
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

    // Whether the cells it matches are those equal to one value, which a range's index finds
    // (a number also the text that reads as it, among the range's texts).
    bool exact() const {
        return op == Eq && !blank_only && !blank_or_empty_text && !target.is_empty() &&
               !(target.is_text() && (target.as_text().empty() || has_wildcards(target.as_text())));
    }

    // The cells of `range` it matches, through the range's index: f(row, col) row by row;
    // false if it cannot be used. A number also finds the text that reads as it.
    template <class F>
    bool each_indexed(const Ctx& c, const Item& range, F f) const {
        return exact() && each_indexed_match(
                              c.ev.grid, range, target, [this](const Value& v, const Value&) { return matches(v); }, f,
                              target.is_number());
    }

    bool matches(const Value& v) const {
        if (never)
            return false;
        if (op == Eq)
            return equal(v);
        if (op == Ne)
            return !equal(v, false);
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
    // A reference of another size (one cell too) is read from its top-left cell over the
    // range's size, as the spreadsheet extends it.
    const bool reference = other && (other->kind == Item::Range || other->kind == Item::Cell);
    const Area start = !reference                   ? Area{0, 0, 0, 0, 0}
                       : other->kind == Item::Range ? other->area
                                                    : c.ev.grid.cell_area(other->cell);
    auto other_at = [&](std::int32_t r, std::int32_t col) -> Value {
        if (!other)
            return Value();
        if (reference) {
            std::int64_t rr = std::int64_t(start.r1) + r, cc = std::int64_t(start.c1) + col;
            if (rr >= max_rows || cc >= max_columns)
                return Value();
            return c.ev.grid.value_at(start.sheet, static_cast<std::int32_t>(rr), static_cast<std::int32_t>(cc));
        }
        if (r < ov->rows && col < ov->cols)
            return ov->at(r, col);
        return Value();
    };
    bool blank_matches = crit.matches(Value());
    if (range.kind == Item::Range && !blank_matches) {
        if (crit.each_indexed(c, range, [&](std::int32_t r, std::int32_t col) { f(other_at(r, col)); }))
            return true;
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

void conditional(Ctx& c, Item& out, int kind) { // 0 SUMIF, 1 COUNTIF, 2 AVERAGEIF
    Criterion crit(c.arg(1), c.ev.grid.date1904());
    const Item& range = c.args[0];
    if (range.kind == Item::Val) // SUMIF(#REF!,...) is #REF!
        OMBRIX_RETURN(range.v.is_error() ? range.v : err(ErrorCode::Value));
    if (closed_book_range(range) || (kind != 1 && !c.missing(2) && closed_book_range(c.args[2])))
        OMBRIX_RETURN(err(ErrorCode::Value));
    if (kind != 1 && !c.missing(2) && c.args[2].kind == Item::Val && c.args[2].v.is_error())
        OMBRIX_RETURN(c.args[2].v);
    const Item* other = kind == 1 ? nullptr : (c.missing(2) ? &range : &c.args[2]);
    if (kind == 1) {
        double n = 0;
        if (range.kind == Item::Range && crit.matches(Value())) {
            const auto& ids = c.ev.grid.cells_in(range.area);
            n = double(range.area.size() - std::int64_t(ids.size()));
            for (std::uint32_t id : ids)
                n += crit.matches(c.ev.grid.cell_value(id));
            OMBRIX_RETURN(Value::number(n));
        }
        if (!each_match(c, range, nullptr, crit, [&](const Value&) { ++n; }))
            OMBRIX_RETURN(err(ErrorCode::Num));
        OMBRIX_RETURN(Value::number(n));
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
        OMBRIX_RETURN(err(ErrorCode::Num));
    if (error.is_error())
        OMBRIX_RETURN(error);
    if (kind == 2 && n == 0)
        OMBRIX_RETURN(err(ErrorCode::Div0));
    OMBRIX_RETURN(Value::number(kind == 2 ? sum / n : sum));
}
OMBRIX_FN(sumif) { conditional(c, out, 0); }
OMBRIX_FN(countif) { conditional(c, out, 1); }
OMBRIX_FN(averageif) { conditional(c, out, 2); }

// The several-criteria forms: (range, criterion) pairs from argument `first` on, every range
// of the same shape as the first (and as the range of values, argument 0, unless counting).
enum class Reduce { Sum, Count, Average, Max, Min };

void conditional_many(Ctx& c, Item& out, Reduce kind) {
    const bool counting = kind == Reduce::Count;
    const int first = counting ? 0 : 1;
    if (c.argc - first < 2 || (c.argc - first) % 2 != 0)
        OMBRIX_RETURN(err(ErrorCode::Value));
    std::vector<Criterion> crits;
    std::vector<View> views; // views[0] the values (unless counting), then one per criterion
    views.reserve(std::size_t(c.argc));
    for (int i = counting ? first : 0; i < c.argc; i += i < first ? 1 : 2) {
        const Item& range = c.args[i];
        if (range.kind == Item::Val || range.kind == Item::Missing)
            OMBRIX_RETURN(range.v.is_error() ? range.v : err(ErrorCode::Value));
        if (closed_book_range(range))
            OMBRIX_RETURN(err(ErrorCode::Value));
        views.emplace_back(c.ev, range);
        if (views.back().rows != views[0].rows || views.back().cols != views[0].cols)
            OMBRIX_RETURN(err(ErrorCode::Value));
        if (i < first)
            continue;
        crits.emplace_back(c.arg(i + 1), c.ev.grid.date1904());
    }
    const std::size_t skip = counting ? 0 : 1; // views[skip + k] goes with crits[k]
    double acc = 0, n = 0;
    Value error;
    auto visit = [&](std::int32_t r, std::int32_t col, std::size_t known) {
        for (std::size_t k = 0; k < crits.size(); ++k)
            if (k != known && !crits[k].matches(views[skip + k].at(r, col)))
                return;
        if (counting) {
            ++n;
            return;
        }
        Value v = views[0].at(r, col);
        if (v.is_error() && !error.is_error())
            error = v;
        if (!v.is_number())
            return;
        double x = v.as_number();
        if (kind == Reduce::Max)
            acc = n == 0 ? x : std::max(acc, x);
        else if (kind == Reduce::Min)
            acc = n == 0 ? x : std::min(acc, x);
        else
            acc += x;
        ++n;
    };
    // Sparse over the cells that exist of a range whose criterion empty cells cannot meet,
    // through its index when one such criterion is a single value.
    std::size_t sparse = crits.size();
    for (bool indexed : {true, false})
        for (std::size_t k = 0; k < crits.size() && sparse == crits.size(); ++k)
            if (views[skip + k].item.kind == Item::Range && !crits[k].matches(Value()) &&
                (!indexed || crits[k].exact()))
                sparse = k;
    auto visit_sparse = [&](std::int32_t r, std::int32_t col) { visit(r, col, sparse); };
    if (sparse < crits.size() && !crits[sparse].each_indexed(c, views[skip + sparse].item, visit_sparse)) {
        const Area& area = views[skip + sparse].item.area;
        for (std::uint32_t id : c.ev.grid.cells_in(area))
            if (crits[sparse].matches(c.ev.grid.cell_value(id))) {
                Area a = c.ev.grid.cell_area(id);
                visit_sparse(a.r1 - area.r1, a.c1 - area.c1);
            }
    } else if (sparse == crits.size()) {
        if (std::int64_t(views[0].rows) * views[0].cols > max_dense_cells)
            OMBRIX_RETURN(err(ErrorCode::Num));
        for (std::int32_t r = 0; r < views[0].rows; ++r)
            for (std::int32_t col = 0; col < views[0].cols; ++col)
                visit(r, col, crits.size());
    }
    if (error.is_error())
        OMBRIX_RETURN(error);
    if (kind == Reduce::Average)
        OMBRIX_RETURN(n == 0 ? err(ErrorCode::Div0) : Value::number(acc / n));
    OMBRIX_RETURN(Value::number(counting ? n : acc));
}
OMBRIX_FN(sumifs) { conditional_many(c, out, Reduce::Sum); }
OMBRIX_FN(countifs) { conditional_many(c, out, Reduce::Count); }
OMBRIX_FN(averageifs) { conditional_many(c, out, Reduce::Average); }
OMBRIX_FN(maxifs) { conditional_many(c, out, Reduce::Max); }
OMBRIX_FN(minifs) { conditional_many(c, out, Reduce::Min); }

} // namespace

std::function<bool(const Value&)> criterion_test(const Value& criterion, bool date1904) {
    return [test = Criterion(criterion, date1904)](const Value& v) { return test.matches(v); };
}

std::vector<Entry> conditional_functions() {
    // An array of criteria gives an array of answers, one for each.
    return {
        {{"SUMIF", 2, 3, 0, "ava"}, fn_sumif},         {{"COUNTIF", 2, 2, 0, "av"}, fn_countif},
        {{"AVERAGEIF", 2, 3, 0, "ava"}, fn_averageif}, {{"SUMIFS", 3, -1, 0, "a(av)"}, fn_sumifs},
        {{"COUNTIFS", 2, -1, 0, "(av)"}, fn_countifs}, {{"AVERAGEIFS", 3, -1, 0, "a(av)"}, fn_averageifs},
        {{"MAXIFS", 3, -1, 0, "a(av)"}, fn_maxifs},    {{"MINIFS", 3, -1, 0, "a(av)"}, fn_minifs},
    };
}

} // namespace host::engine::detail::fn
