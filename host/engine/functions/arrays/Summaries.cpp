// GROUPBY and PIVOTBY, a table summarised by the values of its key columns (the formula form of
// a pivot table), and PERCENTOF, the share of a subset in a total, their usual companion.
//
// Each axis (the rows of both, the columns of PIVOTBY) is a list of entries: a group of the
// table's rows with the labels it shows, a subtotal of a group of groups, or the grand total.
// A cell of the result is the function of the values in its row entry's and column entry's
// rows.

#include "engine/functions/ArrayArgs.hpp"

#include <algorithm>
#include <cmath>
#include <functional>
#include <iterator>
#include <map>

namespace host::engine::detail::fn {

namespace {

// One entry of an axis: its rows of the table and the label it shows in each key column.
struct AxisEntry {
    std::vector<std::int32_t> rows;
    std::vector<Value> labels;
    std::int32_t level = 0; // the labels it shows: every key column for a group, fewer for a subtotal
};

// A key column's cells as the result shows them: an empty one stays blank.
Value shown(const Value& v) { return v.is_empty() ? Value::text("") : v; }

// How one axis is grouped, sorted and totalled.
struct AxisRules {
    std::int32_t depth = 1;       // 0 no totals, 1 grand total, 2+ subtotals too; negative: at the top
    std::vector<std::int32_t> by; // sort keys: 1-based key columns then value columns, negative descending
    bool table = false;           // each row sorted as a whole rather than level by level
};

// The keys of an axis, one column per level, and a way to compare groups by an aggregate
// (a value column's function of a group's rows).
class Axis {
public:
    Axis(const ValueGrid& keys, const AxisRules& rules, std::function<Value(const std::vector<std::int32_t>&, int)> agg)
        : keys_(keys), rules_(rules), aggregate_(std::move(agg)) {}

    std::vector<AxisEntry> arrange(const std::vector<std::int32_t>& rows) {
        std::vector<AxisEntry> out;
        const std::int32_t levels = keys_.cols;
        const bool top = rules_.depth < 0;
        AxisEntry total{rows, std::vector<Value>(std::size_t(levels), Value::text("")), 0};
        // "Grand Total" beside subtotals, plain "Total" alone.
        if (levels > 0)
            total.labels[0] = Value::text(subtotals_at(0) ? "Grand Total" : "Total");
        if (rules_.depth != 0 && top)
            out.push_back(total);
        std::vector<Group> leaves = group(rows, levels);
        if (rules_.table) {
            std::stable_sort(leaves.begin(), leaves.end(),
                             [&](const Group& a, const Group& b) { return before(a, b, -1); });
            // Each key as first written in its column: the first row of its group there.
            std::vector<std::vector<std::int32_t>> spelled(static_cast<std::size_t>(levels),
                                                           std::vector<std::int32_t>(std::size_t(keys_.rows)));
            for (std::int32_t l = 0; l < levels; ++l)
                for (const Group& g : group_at(rows, l))
                    for (std::int32_t r : g.rows)
                        spelled[std::size_t(l)][std::size_t(r)] = g.first;
            for (Group& g : leaves) {
                std::vector<std::int32_t> path;
                for (std::int32_t l = 0; l < levels; ++l)
                    path.push_back(spelled[std::size_t(l)][std::size_t(g.first)]);
                out.push_back(entry(g, levels, path));
            }
        } else {
            std::vector<std::int32_t> path;
            nest(leaves, 0, path, out);
        }
        if (rules_.depth != 0 && !top)
            out.push_back(total);
        return out;
    }

private:
    struct Group {
        std::vector<std::int32_t> rows;
        std::int32_t first = 0; // the row whose labels the group shows
    };

    const Value& key(std::int32_t row, std::int32_t level) const { return keys_.at(row, level); }

    // Whether the groups at `level` (0 the first key column) are followed by subtotals.
    bool subtotals_at(std::int32_t level) const {
        return level + 1 < keys_.cols && level + 1 < std::abs(rules_.depth) && !rules_.table;
    }

    // The order of two rows' keys at `level`: as the spreadsheet compares values (text
    // ignoring case), empty cells last.
    int order(std::int32_t a, std::int32_t b, std::int32_t level) const {
        const Value &x = key(a, level), &y = key(b, level);
        if (x.is_empty() || y.is_empty())
            return int(x.is_empty()) - int(y.is_empty());
        return compare(x, y);
    }

    bool same_key(std::int32_t a, std::int32_t b, std::int32_t level) const { return order(a, b, level) == 0; }

    // The rows split by their keys in the first `levels` columns, in the order each group first
    // appears; each group's rows ascending.
    std::vector<Group> group(const std::vector<std::int32_t>& rows, std::int32_t levels) const {
        std::vector<std::int32_t> sorted = rows;
        std::stable_sort(sorted.begin(), sorted.end(), [&](std::int32_t a, std::int32_t b) {
            for (std::int32_t l = 0; l < levels; ++l)
                if (int o = order(a, b, l); o != 0)
                    return o < 0;
            return false;
        });
        std::vector<Group> groups;
        for (std::int32_t r : sorted) {
            bool same = !groups.empty();
            for (std::int32_t l = 0; l < levels && same; ++l)
                same = same_key(groups.back().first, r, l);
            if (same)
                groups.back().rows.push_back(r);
            else
                groups.push_back(Group{{r}, r});
        }
        std::sort(groups.begin(), groups.end(), [](const Group& a, const Group& b) { return a.first < b.first; });
        return groups;
    }

    // The rows split by their key in column `level` alone.
    std::vector<Group> group_at(const std::vector<std::int32_t>& rows, std::int32_t level) const {
        std::vector<std::int32_t> sorted = rows;
        std::stable_sort(sorted.begin(), sorted.end(),
                         [&](std::int32_t a, std::int32_t b) { return order(a, b, level) < 0; });
        std::vector<Group> groups;
        for (std::int32_t r : sorted) {
            if (!groups.empty() && same_key(groups.back().first, r, level))
                groups.back().rows.push_back(r);
            else
                groups.push_back(Group{{r}, r});
        }
        return groups;
    }

    // A group's entry showing its first `shown_levels` keys, each as the group it belongs to at
    // that level first wrote it (`path`: that group's first row, level by level).
    AxisEntry entry(const Group& g, std::int32_t shown_levels, const std::vector<std::int32_t>& path = {}) const {
        AxisEntry e{g.rows, std::vector<Value>(std::size_t(keys_.cols), Value::text("")), shown_levels};
        for (std::int32_t l = 0; l < shown_levels; ++l)
            e.labels[std::size_t(l)] = shown(key(std::size_t(l) < path.size() ? path[std::size_t(l)] : g.first, l));
        return e;
    }

    // Whether group a comes before b: by the sort keys that apply (at `level` only, unless
    // -1: every key column), then by the labels, ascending.
    bool before(const Group& a, const Group& b, std::int32_t level) {
        for (std::int32_t s : rules_.by) {
            const std::int32_t column = std::abs(s) - 1;
            int o;
            if (column < keys_.cols) {
                if (level >= 0 && column != level)
                    continue;
                o = order(a.first, b.first, column);
            } else {
                // A group's values show, and order it, at the last level or beside its subtotal;
                // the levels above keep the order of their keys.
                if (level >= 0 && level + 1 < keys_.cols && !subtotals_at(level))
                    continue;
                o = compare(aggregate(a, column - keys_.cols), aggregate(b, column - keys_.cols));
            }
            if (o != 0)
                return s < 0 ? o > 0 : o < 0;
        }
        for (std::int32_t l = level < 0 ? 0 : level; l < (level < 0 ? keys_.cols : level + 1); ++l)
            if (int o = order(a.first, b.first, l); o != 0)
                return o < 0;
        return false;
    }

    const Value& aggregate(const Group& g, int value_column) {
        auto& memo = sort_values_[std::make_pair(g.first, g.rows.size())];
        if (memo.size() <= std::size_t(value_column))
            memo.resize(std::size_t(value_column) + 1);
        if (!memo[std::size_t(value_column)].first) {
            memo[std::size_t(value_column)] = {true, aggregate_(g.rows, value_column)};
        }
        return memo[std::size_t(value_column)].second;
    }

    // The groups at `level` (sharing the keys before it) sorted, each followed (or preceded,
    // totals at the top) by its subtotal when the depth asks for one.
    void nest(const std::vector<Group>& leaves, std::int32_t level, std::vector<std::int32_t>& path,
              std::vector<AxisEntry>& out) {
        const std::int32_t levels = keys_.cols;
        if (level == levels) {
            for (const Group& g : leaves)
                out.push_back(entry(g, levels, path));
            return;
        }
        // Partition the leaves by their key at this level, in order of first appearance.
        std::vector<std::size_t> by_key(leaves.size());
        for (std::size_t i = 0; i < by_key.size(); ++i)
            by_key[i] = i;
        std::stable_sort(by_key.begin(), by_key.end(), [&](std::size_t a, std::size_t b) {
            return order(leaves[a].first, leaves[b].first, level) < 0;
        });
        std::vector<std::pair<Group, std::vector<Group>>> parts;
        for (std::size_t i : by_key) {
            const Group& leaf = leaves[i];
            if (!parts.empty() && same_key(parts.back().first.first, leaf.first, level)) {
                parts.back().first.rows.insert(parts.back().first.rows.end(), leaf.rows.begin(), leaf.rows.end());
                parts.back().second.push_back(leaf);
            } else {
                parts.push_back({Group{leaf.rows, leaf.first}, {leaf}});
            }
        }
        std::sort(parts.begin(), parts.end(),
                  [](const auto& a, const auto& b) { return a.first.first < b.first.first; });
        std::stable_sort(parts.begin(), parts.end(),
                         [&](const auto& a, const auto& b) { return before(a.first, b.first, level); });
        const std::int32_t prefix = level + 1;
        const bool subtotal = subtotals_at(level);
        for (auto& part : parts) {
            std::sort(part.first.rows.begin(), part.first.rows.end());
            path.push_back(part.first.first); // the leaves come in order of appearance: its first row
            if (subtotal && rules_.depth < 0)
                out.push_back(entry(part.first, prefix, path));
            nest(part.second, prefix, path, out);
            if (subtotal && rules_.depth > 0)
                out.push_back(entry(part.first, prefix, path));
            path.pop_back();
        }
    }

    const ValueGrid& keys_;
    const AxisRules& rules_;
    std::function<Value(const std::vector<std::int32_t>&, int)> aggregate_;
    std::map<std::pair<std::int32_t, std::size_t>, std::vector<std::pair<bool, Value>>> sort_values_;
};

// The function argument: a LAMBDA or a function passed by name, or a row or column of them
// (HSTACK or VSTACK of functions), each a further aggregation; `down` for a column.
bool functions_arg(const Ctx& c, int i, std::vector<const Closure*>& fs, bool& down, Value& out) {
    const Item& a = c.args[i];
    down = a.kind == Item::Arr && a.arr->cols == 1 && a.arr->rows > 1;
    if (a.closure) {
        fs.push_back(a.closure);
        return true;
    }
    if (a.kind == Item::Arr && !a.arr->functions.empty() && (a.arr->rows == 1 || a.arr->cols == 1)) {
        for (const Closure* f : a.arr->functions) {
            if (!f) {
                out = err(ErrorCode::Value);
                return false;
            }
            fs.push_back(f);
        }
        return true;
    }
    const Value v = a.kind == Item::Arr ? Value() : c.ev.scalar(a, true);
    out = v.is_error() ? v : err(ErrorCode::Value);
    return false;
}

// What a function is called in the row that names the aggregations: a built-in function's
// name, CUSTOM for a LAMBDA.
Value function_label(const Closure* f) {
    return Value::text(f->builtin >= 0 ? functions()[std::size_t(f->builtin)].name : "CUSTOM");
}

// A whole-number option; `fallback` when omitted.
bool option_arg(const Ctx& c, int i, std::int32_t fallback, std::int32_t lo, std::int32_t hi, std::int32_t& n,
                Value& out) {
    n = fallback;
    if (c.missing(i))
        return true;
    double x;
    if (!num(c, i, x, out))
        return false;
    x = std::trunc(x);
    if (x < lo || x > hi) {
        out = err(ErrorCode::Value);
        return false;
    }
    n = std::int32_t(x);
    return true;
}

// Sort keys: one number or a vector of them, each a column (1-based, negative descending)
// among `columns`; several only among the first `keys` (the key columns).
bool sort_arg(const Ctx& c, int i, std::int32_t keys, std::int32_t columns, std::vector<std::int32_t>& by, Value& out) {
    if (c.missing(i))
        return true;
    ValueGrid g;
    if (!grid_arg(c, i, g, out))
        return false;
    for (const Value& v : g.values) {
        double x;
        ErrorCode e;
        if (v.is_error() || !to_number(v, x, e, false)) {
            out = v.is_error() ? v : err(ErrorCode::Value);
            return false;
        }
        x = std::trunc(x);
        if (x == 0 || std::fabs(x) > columns) {
            out = err(ErrorCode::Value);
            return false;
        }
        by.push_back(std::int32_t(x));
    }
    if (by.size() > 1 && std::any_of(by.begin(), by.end(), [&](std::int32_t k) { return std::abs(k) > keys; })) {
        out = err(ErrorCode::Value);
        return false;
    }
    return true;
}

// One aggregation the result shows: a value column and a function. Several functions and
// several value columns pair up element by element, as arrays do (one of either goes with
// each of the other); a column past the shorter list is #N/A.
struct Measure {
    std::int32_t column = -1; // -1: none, #N/A
    const Closure* f = nullptr;
};

std::vector<Measure> measures_of(std::int32_t value_columns, const std::vector<const Closure*>& fs) {
    const std::size_t k = fs.size(), m = std::size_t(value_columns);
    const std::size_t n = k == 1 ? m : m == 1 ? k : std::max(k, m);
    std::vector<Measure> out(n);
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t fi = k == 1 ? 0 : j, vi = m == 1 ? 0 : j;
        if (fi < k)
            out[j].f = fs[fi];
        if (fi < k && vi < m)
            out[j].column = std::int32_t(vi);
    }
    return out;
}

// What GROUPBY and PIVOTBY share: the tables read, headers split off, rows filtered, and the
// functions applied to a set of rows.
struct Summary {
    Ctx& c;
    std::vector<const Closure*> fs;
    std::vector<Measure> measures;
    // Functions given as a column: each entry of the rows shows one line per function, named
    // in a column of its own, every value column aggregated by that line's function.
    std::vector<const Closure*> down;
    ValueGrid values;
    std::vector<std::int32_t> rows;  // the rows the filter keeps, headers excluded
    std::vector<std::int32_t> whole; // for PERCENTOF-like functions: the rows of the total

    // The functions read; false with the error to give.
    bool read_functions(int i, Value& out) {
        bool vertical;
        if (!functions_arg(c, i, fs, vertical, out))
            return false;
        if (vertical) {
            down = fs;
            measures = measures_of(values.cols, {fs[0]});
        } else {
            measures = measures_of(values.cols, fs);
        }
        return true;
    }

    // Whether the result names its aggregations in a row of their own.
    bool labelled() const { return fs.size() > 1 && down.empty(); }
    // The lines of each entry, one a function given as a column.
    std::int32_t lines() const { return down.empty() ? 1 : std::int32_t(down.size()); }

    Value label(std::size_t j) const { return measures[j].f ? function_label(measures[j].f) : err(ErrorCode::NA); }

    // Aggregation `j` over `subset` (and over the total, for a function that takes two).
    // `line`: which of the functions given as a column.
    Value apply(const std::vector<std::int32_t>& subset, std::size_t j, const std::vector<std::int32_t>& total,
                std::int32_t line = 0) {
        const Measure& ms = measures[j];
        if (ms.column < 0)
            return err(ErrorCode::NA);
        auto as_item = [&](const std::vector<std::int32_t>& which) {
            auto a = std::make_shared<Array>();
            a->rows = std::int32_t(which.size());
            a->cols = 1;
            for (std::int32_t r : which)
                a->values.push_back(values.at(r, ms.column));
            Item it;
            it.kind = Item::Arr;
            it.arr = c.ev.keep(std::move(a));
            return it;
        };
        // PERCENTOF, or a LAMBDA of two parameters, is given the total's values too; a
        // built-in function that may take more (IF) gets the group's alone.
        const Closure& f = down.empty() ? *ms.f : *down[std::size_t(line)];
        const bool two = f.builtin >= 0 ? functions()[std::size_t(f.builtin)].min_args == 2 &&
                                              functions()[std::size_t(f.builtin)].max_args == 2
                                        : f.params >= 2;
        Item args[2] = {as_item(subset), two ? as_item(total) : Item()};
        Item result = c.ev.invoke(f, args, two ? 2 : 1);
        if (result.kind == Item::Arr || (result.kind == Item::Range && result.area.size() > 1))
            return err(ErrorCode::Calc);
        Value v = c.ev.scalar(result, true);
        return v.is_empty() ? Value::number(0) : v;
    }
};

// field_headers: whether the first row holds headers, and whether the result shows them.
// Left out, a first value that is text over a number is a header, not shown (as 1 does).
bool headers_arg(const Ctx& c, int i, const ValueGrid& values, bool& has, bool& show, bool& generate, Value& out) {
    std::int32_t mode;
    if (!option_arg(c, i, -1, 0, 3, mode, out))
        return false;
    if (mode < 0) {
        has = values.rows >= 2 && values.at(0, 0).is_text() && values.at(1, 0).is_number();
        show = false;
    } else {
        has = mode == 1 || mode == 3;
        show = mode >= 2;
    }
    generate = mode == 2;
    return true;
}

// The rows a filter keeps (TRUE, or a non-zero number), all of them when there is none. A
// filter of several columns is read by its first.
bool filter_rows(const Ctx& c, int i, std::int32_t n, bool headers, std::vector<std::int32_t>& rows, Value& out) {
    ValueGrid keep;
    if (!c.missing(i)) {
        if (!grid_arg(c, i, keep, out))
            return false;
        if (keep.rows == n && keep.cols > 1) {
            ValueGrid first = sized(n, 1);
            for (std::int32_t r = 0; r < n; ++r)
                first.values[std::size_t(r)] = keep.at(r, 0);
            keep = std::move(first);
        } else if (std::int64_t(keep.rows) * keep.cols != n || (keep.rows != 1 && keep.cols != 1)) {
            out = err(ErrorCode::Value);
            return false;
        }
    }
    for (std::int32_t r = headers ? 1 : 0; r < n; ++r) {
        if (!keep.values.empty()) {
            const Value& k = keep.values[std::size_t(r)];
            if (k.is_error()) {
                out = k;
                return false;
            }
            bool yes;
            ErrorCode e;
            if (!to_boolean(k, yes, e) || !yes)
                continue;
        }
        rows.push_back(r);
    }
    return true;
}

Value header_label(const ValueGrid& g, bool has, bool generate, std::int32_t col, const char* generated) {
    if (has)
        return shown(g.at(0, col));
    return generate ? Value::text(std::string(generated) + " " + std::to_string(col + 1)) : Value::text("");
}

// GROUPBY(row_fields, values, function, [field_headers], [total_depth], [sort_order],
// [filter_array], [field_relationship]).
OMBRIX_FN(groupby) {
    ValueGrid keys;
    Summary s{c, {}, {}, {}, {}, {}, {}};
    if (!grid_arg(c, 0, keys, out.v) || !grid_arg(c, 1, s.values, out.v))
        return;
    if (!s.read_functions(2, out.v))
        return;
    if (keys.rows != s.values.rows)
        OMBRIX_RETURN(err(ErrorCode::Value));
    const std::int32_t n = std::int32_t(s.measures.size());
    bool has, show, generate;
    if (!headers_arg(c, 3, s.values, has, show, generate, out.v))
        return;
    AxisRules rules;
    std::int32_t relationship;
    const std::int32_t deepest = std::max(2, keys.cols);
    if (!option_arg(c, 4, 1, -deepest, deepest, rules.depth, out.v) ||
        !sort_arg(c, 5, keys.cols, keys.cols + n, rules.by, out.v) ||
        !filter_rows(c, 6, keys.rows, has, s.rows, out.v) || !option_arg(c, 7, 0, 0, 1, relationship, out.v))
        return;
    rules.table = relationship == 1;
    if (rules.table && std::abs(rules.depth) > 1)
        OMBRIX_RETURN(err(ErrorCode::Value)); // subtotals need the hierarchy
    if (s.rows.empty())
        OMBRIX_RETURN(err(ErrorCode::Calc));
    s.whole = s.rows;
    Axis axis(keys, rules,
              [&](const std::vector<std::int32_t>& subset, int j) { return s.apply(subset, std::size_t(j), s.whole); });
    const std::vector<AxisEntry> entries = axis.arrange(s.rows);
    const std::int32_t named = s.down.empty() ? 0 : 1; // the column naming each line's function
    const std::int32_t first = keys.cols + named;      // the first value column
    const std::int32_t width = first + n;
    const std::int32_t head = (show ? 1 : 0) + (s.labelled() ? 1 : 0);
    if ((std::int64_t(entries.size()) * s.lines() + head) * width > max_dense_cells)
        OMBRIX_RETURN(err(ErrorCode::Num));
    ValueGrid r = sized(std::int32_t(entries.size()) * s.lines() + head, width, Value::text(""));
    std::int32_t line = 0;
    if (show) {
        for (std::int32_t k = 0; k < keys.cols; ++k)
            r.values[std::size_t(k)] = header_label(keys, has, generate, k, "Row Field");
        for (std::int32_t j = 0; j < n; ++j) {
            const std::int32_t column = s.measures[std::size_t(j)].column;
            r.values[std::size_t(first + j)] =
                column < 0 ? err(ErrorCode::NA) : header_label(s.values, has, generate, column, "Value");
        }
        ++line;
    }
    if (s.labelled()) {
        for (std::int32_t j = 0; j < n; ++j)
            r.values[std::size_t(line) * std::size_t(width) + std::size_t(first + j)] = s.label(std::size_t(j));
        ++line;
    }
    for (const AxisEntry& e : entries)
        for (std::int32_t d = 0; d < s.lines(); ++d) {
            Value* cells = &r.values[std::size_t(line++) * std::size_t(width)];
            std::copy(e.labels.begin(), e.labels.end(), cells);
            if (named)
                cells[keys.cols] = function_label(s.down[std::size_t(d)]);
            for (std::int32_t j = 0; j < n; ++j)
                cells[first + j] = s.apply(e.rows, std::size_t(j), s.whole, d);
        }
    give(c, out, std::move(r));
}

// The rows two entries share (both sorted).
std::vector<std::int32_t> shared_rows(const std::vector<std::int32_t>& a, const std::vector<std::int32_t>& b) {
    std::vector<std::int32_t> both;
    std::set_intersection(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(both));
    return both;
}

// PIVOTBY(row_fields, col_fields, values, function, [field_headers], [row_total_depth],
// [row_sort_order], [col_total_depth], [col_sort_order], [filter_array], [relative_to]).
// A row and a column entry that share no rows leave their cell blank. relative_to picks the
// total a two-argument function (PERCENTOF) divides by: 0 the column's, 1 the row's, 2 the
// grand total, 3 and 4 the column's or row's parent group.
OMBRIX_FN(pivotby) {
    ValueGrid row_keys, col_keys;
    Summary s{c, {}, {}, {}, {}, {}, {}};
    if (!grid_arg(c, 0, row_keys, out.v) || !grid_arg(c, 1, col_keys, out.v) || !grid_arg(c, 2, s.values, out.v))
        return;
    if (!s.read_functions(3, out.v))
        return;
    if (row_keys.rows != s.values.rows || col_keys.rows != s.values.rows)
        OMBRIX_RETURN(err(ErrorCode::Value));
    const std::int32_t m = std::int32_t(s.measures.size());
    bool has, show, generate;
    if (!headers_arg(c, 4, s.values, has, show, generate, out.v))
        return;
    AxisRules down, across;
    std::int32_t relative;
    const std::int32_t deepest_down = std::max(2, row_keys.cols), deepest_across = std::max(2, col_keys.cols);
    if (!option_arg(c, 5, 1, -deepest_down, deepest_down, down.depth, out.v) ||
        !sort_arg(c, 6, row_keys.cols, row_keys.cols + m, down.by, out.v) ||
        !option_arg(c, 7, 1, -deepest_across, deepest_across, across.depth, out.v) ||
        !sort_arg(c, 8, col_keys.cols, col_keys.cols + m, across.by, out.v) ||
        !filter_rows(c, 9, s.values.rows, has, s.rows, out.v) || !option_arg(c, 10, 0, 0, 4, relative, out.v))
        return;
    if (s.rows.empty())
        OMBRIX_RETURN(err(ErrorCode::Calc));
    auto over_all = [&](const std::vector<std::int32_t>& subset, int j) {
        return s.apply(subset, std::size_t(j), s.rows);
    };
    const std::vector<AxisEntry> row_entries = Axis(row_keys, down, over_all).arrange(s.rows);
    const std::vector<AxisEntry> col_entries = Axis(col_keys, across, over_all).arrange(s.rows);
    if (std::int64_t(row_entries.size()) * s.lines() * std::int64_t(col_entries.size()) * m > max_dense_cells)
        OMBRIX_RETURN(err(ErrorCode::Num)); // too large a table to hold
    // The rows of each entry's parent: those sharing its keys but the last it shows (the
    // grand total's for a group of the first level and the total itself).
    auto parents = [&](const std::vector<AxisEntry>& entries, const ValueGrid& keys) {
        std::vector<std::vector<std::int32_t>> p;
        for (const AxisEntry& e : entries) {
            std::vector<std::int32_t> rows;
            for (std::int32_t r : s.rows) {
                bool same = true;
                for (std::int32_t l = 0; l + 1 < e.level && same; ++l)
                    same = compare(keys.at(r, l), keys.at(e.rows[0], l)) == 0 &&
                           keys.at(r, l).is_empty() == keys.at(e.rows[0], l).is_empty();
                if (same)
                    rows.push_back(r);
            }
            p.push_back(std::move(rows));
        }
        return p;
    };
    const auto row_parent = parents(row_entries, row_keys), col_parent = parents(col_entries, col_keys);
    // Above the table: the column fields' headers when shown, a line of labels per column
    // field (each over every aggregation of its entry), the value headers when shown, and the
    // functions' names when there are several.
    const std::int32_t fields_line = show ? 1 : 0;
    const std::int32_t values_line = show ? fields_line + col_keys.cols : -1;
    const std::int32_t names_line = s.labelled() ? fields_line + col_keys.cols + (show ? 1 : 0) : -1;
    const std::int32_t head = fields_line + col_keys.cols + (show ? 1 : 0) + (s.labelled() ? 1 : 0);
    const std::int32_t named = s.down.empty() ? 0 : 1; // the column naming each line's function
    const std::int32_t first = row_keys.cols + named;  // the first value column
    if ((std::int64_t(row_entries.size()) * s.lines() + head) * (first + std::int64_t(col_entries.size()) * m) >
        max_dense_cells)
        OMBRIX_RETURN(err(ErrorCode::Num)); // too large a table to hold
    const std::int32_t width = first + std::int32_t(col_entries.size()) * m;
    ValueGrid r = sized(head + std::int32_t(row_entries.size()) * s.lines(), width, Value::text(""));
    auto cell = [&](std::int32_t row, std::int32_t col) -> Value& {
        return r.values[std::size_t(row) * std::size_t(width) + std::size_t(col)];
    };
    if (show) {
        std::string fields;
        for (std::int32_t k = 0; k < col_keys.cols; ++k) {
            const Value h = header_label(col_keys, has, generate, k, "Col Field");
            fields += (k ? ", " : "") + (h.is_error() ? std::string("#N/A") : to_text(h));
        }
        if (width > first)
            cell(0, first) = Value::text(fields);
        for (std::int32_t k = 0; k < row_keys.cols; ++k)
            cell(values_line, k) = header_label(row_keys, has, generate, k, "Row Field");
    }
    for (std::size_t j = 0; j < col_entries.size(); ++j)
        for (std::int32_t v = 0; v < m; ++v) {
            const std::int32_t col = first + std::int32_t(j) * m + v;
            for (std::int32_t l = 0; l < col_keys.cols; ++l)
                cell(fields_line + l, col) = col_entries[j].labels[std::size_t(l)];
            if (show) {
                const std::int32_t column = s.measures[std::size_t(v)].column;
                cell(values_line, col) =
                    column < 0 ? err(ErrorCode::NA) : header_label(s.values, has, generate, column, "Value");
            }
            if (s.labelled())
                cell(names_line, col) = s.label(std::size_t(v));
        }
    for (std::size_t i = 0; i < row_entries.size(); ++i)
        for (std::int32_t d = 0; d < s.lines(); ++d) {
            const std::int32_t row = head + std::int32_t(i) * s.lines() + d;
            for (std::int32_t l = 0; l < row_keys.cols; ++l)
                cell(row, l) = row_entries[i].labels[std::size_t(l)];
            if (named)
                cell(row, row_keys.cols) = function_label(s.down[std::size_t(d)]);
            for (std::size_t j = 0; j < col_entries.size(); ++j) {
                const std::vector<std::int32_t> both = shared_rows(row_entries[i].rows, col_entries[j].rows);
                if (both.empty())
                    continue;
                const std::vector<std::int32_t>* total = &s.rows;
                switch (relative) {
                case 0: total = &col_entries[j].rows; break;
                case 1: total = &row_entries[i].rows; break;
                case 3: total = &col_parent[j]; break;
                case 4: total = &row_parent[i]; break;
                default: break;
                }
                const std::vector<std::int32_t> within = relative == 3   ? shared_rows(*total, row_entries[i].rows)
                                                         : relative == 4 ? shared_rows(*total, col_entries[j].rows)
                                                                         : *total;
                for (std::int32_t v = 0; v < m; ++v)
                    cell(row, first + std::int32_t(j) * m + v) = s.apply(both, std::size_t(v), within, d);
            }
        }
    give(c, out, std::move(r));
}

} // namespace

std::vector<Entry> summary_functions() {
    constexpr std::uint8_t A = FnArrayArgs;
    return {
        {{"GROUPBY", 3, 8, A}, fn_groupby},
        {{"PIVOTBY", 4, 11, A}, fn_pivotby},
    };
}

} // namespace host::engine::detail::fn
