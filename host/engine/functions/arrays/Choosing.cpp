// Functions that choose and order an array's lines: FILTER, SORT, SORTBY and UNIQUE.

#include "engine/functions/ArrayArgs.hpp"

#include <cctype>
#include <cstring>
#include <numeric>
#include <unordered_map>

namespace host::engine::detail::fn {

namespace {

OMBRIX_FN(filter) {
    OMBRIX_GRID(0, g);
    OMBRIX_GRID(1, keep);
    bool by_row = keep.cols == 1 && keep.rows == g.rows;
    bool by_col = !by_row && keep.rows == 1 && keep.cols == g.cols;
    if (!by_row && !by_col)
        OMBRIX_RETURN(err(ErrorCode::Value));
    std::vector<std::int32_t> chosen;
    for (std::int32_t i = 0; i < std::int32_t(keep.values.size()); ++i) {
        const Value& v = keep.values[std::size_t(i)];
        bool b;
        ErrorCode e = ErrorCode::Value;
        if (v.is_text() || !to_boolean(v, b, e))
            OMBRIX_RETURN(err(e));
        if (b)
            chosen.push_back(i);
    }
    if (chosen.empty()) { // if_empty as it is, an array or a range whole
        if (c.argc > 2 && !c.missing(2)) {
            out = c.args[2];
            return;
        }
        OMBRIX_RETURN(err(ErrorCode::Calc));
    }
    ValueGrid r = by_row ? sized(std::int32_t(chosen.size()), g.cols) : sized(g.rows, std::int32_t(chosen.size()));
    for (std::int32_t i = 0; i < r.rows; ++i)
        for (std::int32_t k = 0; k < r.cols; ++k)
            r.values[std::size_t(i) * std::size_t(r.cols) + std::size_t(k)] =
                by_row ? g.at(chosen[std::size_t(i)], k) : g.at(i, chosen[std::size_t(k)]);
    give(c, out, std::move(r));
}

// The order of values in sorting: numbers, text, booleans, then errors by their codes.
int sort_compare(const Value& a, const Value& b) {
    if (a.is_error() && b.is_error())
        return int(a.as_error()) - int(b.as_error());
    if (a.is_error() || b.is_error())
        return int(a.is_error()) - int(b.is_error());
    return compare(a, b);
}

// The lines (rows, or columns when `by_col`) of `g` ordered by the keys, stable.
struct SortKey {
    ValueGrid values; // one value per line, in line order
    bool descending = false;
};

ValueGrid ordered(const ValueGrid& g, bool by_col, const std::vector<SortKey>& keys) {
    std::int32_t lines = by_col ? g.cols : g.rows;
    std::vector<std::int32_t> order(static_cast<std::size_t>(lines));
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&](std::int32_t x, std::int32_t y) {
        for (const SortKey& k : keys) {
            const Value &a = k.values.values[std::size_t(x)], &b = k.values.values[std::size_t(y)];
            if (a.is_empty() || b.is_empty()) { // empty cells go last, in either order
                if (a.is_empty() != b.is_empty())
                    return b.is_empty();
                continue;
            }
            int r = sort_compare(a, b);
            if (r != 0)
                return k.descending ? r > 0 : r < 0;
        }
        return false;
    });
    ValueGrid r = sized(g.rows, g.cols);
    for (std::int32_t i = 0; i < g.rows; ++i)
        for (std::int32_t k = 0; k < g.cols; ++k) {
            const Value& v = by_col ? g.at(i, order[std::size_t(k)]) : g.at(order[std::size_t(i)], k);
            r.values[std::size_t(i) * std::size_t(g.cols) + std::size_t(k)] = v.is_empty() ? Value::number(0) : v;
        }
    return r;
}

// A grid's column `which` (its row, when `by_col`) as a key, one value per line.
SortKey key_of(const ValueGrid& g, std::int32_t which, bool by_col, bool descending) {
    SortKey k;
    k.descending = descending;
    std::int32_t lines = by_col ? g.cols : g.rows;
    k.values = sized(lines, 1);
    for (std::int32_t i = 0; i < lines; ++i)
        k.values.values[std::size_t(i)] = by_col ? g.at(which, i) : g.at(i, which);
    return k;
}

bool sort_order_arg(const Ctx& c, int i, bool& descending, Value& out) {
    double x;
    if (!num(c, i, x, out, 1))
        return false;
    if (x != 1 && x != -1) {
        out = err(ErrorCode::Value);
        return false;
    }
    descending = x == -1;
    return true;
}

// SORT(array, {2,1}, {1,-1}): several keys, the first deciding, each with its order (one
// order for all when it is one value).
bool sort_keys(Ctx& c, const ValueGrid& g, bool by_col, std::vector<SortKey>& keys, Value& out) {
    ValueGrid indexes, orders;
    if (!grid_arg(c, 1, indexes, out))
        return false;
    if (c.argc > 2 && !c.missing(2) && !grid_arg(c, 2, orders, out))
        return false;
    if (orders.values.size() > 1 && orders.values.size() != indexes.values.size()) {
        out = err(ErrorCode::Value);
        return false;
    }
    const double lines_across = by_col ? g.rows : g.cols;
    for (std::size_t k = 0; k < indexes.values.size(); ++k) {
        double index, order = 1;
        ErrorCode e;
        const bool date1904 = c.ev.grid.date1904();
        if (!to_number(indexes.values[k], index, e, date1904) ||
            (!orders.values.empty() &&
             !to_number(orders.values[orders.values.size() > 1 ? k : 0], order, e, date1904))) {
            out = err(e);
            return false;
        }
        index = std::trunc(index);
        if (index < 1 || index > lines_across || (order != 1 && order != -1)) {
            out = err(index > lines_across ? ErrorCode::Num : ErrorCode::Value);
            return false;
        }
        keys.push_back(key_of(g, std::int32_t(index) - 1, by_col, order == -1));
    }
    return true;
}

OMBRIX_FN(sort) {
    OMBRIX_GRID(0, g);
    OMBRIX_FLAG(3, by_col);
    if (c.argc > 1 && (c.args[1].kind == Item::Arr || (c.args[1].kind == Item::Range && c.args[1].area.size() > 1))) {
        std::vector<SortKey> keys;
        if (!sort_keys(c, g, by_col, keys, out.v))
            return;
        return give(c, out, ordered(g, by_col, keys));
    }
    std::int32_t lines_across = by_col ? g.rows : g.cols;
    std::int32_t index = 1;
    if (c.argc > 1 && !c.missing(1) && !count_arg(c, 1, 1, 1, double(lines_across), index, out.v))
        return;
    bool descending = false;
    if (c.argc > 2 && !c.missing(2) && !sort_order_arg(c, 2, descending, out.v))
        return;
    give(c, out, ordered(g, by_col, {key_of(g, index - 1, by_col, descending)}));
}

OMBRIX_FN(sortby) {
    OMBRIX_GRID(0, g);
    std::vector<SortKey> keys;
    bool by_col = false;
    for (int i = 1; i < c.argc; i += 2) {
        ValueGrid by;
        if (!grid_arg(c, i, by, out.v))
            return;
        bool descending = false;
        if (i + 1 < c.argc && !c.missing(i + 1) && !sort_order_arg(c, i + 1, descending, out.v))
            return;
        bool column = by.cols == 1 && by.rows == g.rows, row = by.rows == 1 && by.cols == g.cols;
        if (!column && !row)
            OMBRIX_RETURN(err(ErrorCode::Value));
        bool this_by_col = !column;
        if (i > 1 && this_by_col != by_col)
            OMBRIX_RETURN(err(ErrorCode::Value));
        by_col = this_by_col;
        keys.push_back(key_of(by, 0, by_col, descending));
    }
    give(c, out, ordered(g, by_col, keys));
}

// Whether UNIQUE takes two values for the same: the comparison's rules (text ignoring case,
// numbers to the spreadsheet's precision), of different kinds only when one is empty (which
// equals 0, "" and FALSE), an error only the same error.
bool same_value(const Value& a, const Value& b) {
    if (a.is_error() || b.is_error())
        return a.is_error() && b.is_error() && a.as_error() == b.as_error();
    if (a.type() != b.type() && !(a.is_empty() || b.is_empty()))
        return false;
    return compare(a, b) == 0;
}

// Keys that find a line's equals among the lines met before without comparing it with each:
// equal lines have equal keys. A value's key is its kind and content folded as the comparison
// folds it; a number's, its place among buckets of 256 neighbouring doubles, since equal
// numbers are at most a few dozen doubles apart; one within reach of its bucket's edge has the
// neighbouring bucket as a second key. Empty, 0, "" and FALSE share a key.
class LineKeys {
public:
    // The keys of a line, the one of its values' first keys first, then every other
    // combination; false, with that first key alone, when there would be too many to try.
    bool keys(const std::vector<const Value*>& line, std::vector<std::uint64_t>& out) const {
        out.assign(1, 0x9e3779b97f4a7c15ull);
        bool all = true;
        for (const Value* v : line) {
            std::uint64_t first = 0, second = 0;
            bool two = value_keys(*v, first, second);
            if (two && out.size() >= max_keys) {
                all = false;
                out.resize(1);
            }
            if (!all)
                two = false;
            const std::size_t n = out.size();
            for (std::size_t k = 0; k < n; ++k) {
                if (two)
                    out.push_back(mix(out[k], second));
                out[k] = mix(out[k], first);
            }
        }
        return all;
    }

private:
    static constexpr std::size_t max_keys = 64;

    static std::uint64_t mix(std::uint64_t h, std::uint64_t x) {
        x += h + 0x9e3779b97f4a7c15ull;
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
        return x ^ (x >> 31);
    }

    // The value's key, and whether `second` is another.
    static bool value_keys(const Value& v, std::uint64_t& first, std::uint64_t& second) {
        enum : std::uint64_t { blank = 1, yes = 2, error = 3, text = 4, positive = 5, negative = 6 };
        switch (v.type()) {
        case ValueType::Empty: first = blank; return false;
        case ValueType::Boolean: first = v.as_boolean() ? yes : blank; return false;
        case ValueType::Error: first = mix(error, std::uint64_t(v.as_error())); return false;
        case ValueType::Text: {
            if (v.as_text().empty()) {
                first = blank;
                return false;
            }
            // FNV-1a of the letters in one case, every byte beyond ASCII alike: the comparison
            // folds those letters too.
            std::uint64_t h = 0xcbf29ce484222325ull;
            for (char ch : v.as_text()) {
                const unsigned char u = static_cast<unsigned char>(ch);
                h = (h ^ std::uint64_t(u < 0x80 ? std::toupper(u) : 0x80)) * 0x100000001b3ull;
            }
            first = mix(text, h);
            return false;
        }
        case ValueType::Number: break;
        }
        const double x = v.as_number();
        if (x == 0) {
            first = blank;
            return false;
        }
        std::uint64_t bits;
        const double magnitude = std::fabs(x);
        std::memcpy(&bits, &magnitude, sizeof bits);
        const std::uint64_t sign = x < 0 ? negative : positive, bucket = bits >> 8, offset = bits & 0xff;
        first = mix(sign, bucket);
        if (offset < 32)
            second = mix(sign, bucket - 1);
        else if (offset >= 256 - 32)
            second = mix(sign, bucket + 1);
        else
            return false;
        return true;
    }
};

// UNIQUE(array, [by_col], [exactly_once]): the lines (rows, or columns) in the order they first
// appear, each line joining the first one met before it that it equals, with how often;
// exactly_once keeps the lines that came once.
OMBRIX_FN(unique) {
    OMBRIX_GRID(0, g);
    OMBRIX_FLAG(1, by_col);
    OMBRIX_FLAG(2, exactly_once);
    std::int32_t lines = by_col ? g.cols : g.rows, width = by_col ? g.rows : g.cols;
    auto same_line = [&](std::int32_t x, std::int32_t y) {
        for (std::int32_t k = 0; k < width; ++k)
            if (!same_value(by_col ? g.at(k, x) : g.at(x, k), by_col ? g.at(k, y) : g.at(y, k)))
                return false;
        return true;
    };
    // The first line of each group, by its first key; lines with too many keys to try are
    // compared with every group (only numbers on the edges of their buckets in many columns).
    std::vector<std::int32_t> first, count;
    std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> groups_by_key;
    const LineKeys keys;
    std::vector<const Value*> line(static_cast<std::size_t>(width));
    std::vector<std::uint64_t> line_keys;
    for (std::int32_t i = 0; i < lines; ++i) {
        for (std::int32_t k = 0; k < width; ++k)
            line[std::size_t(k)] = by_col ? &g.at(k, i) : &g.at(i, k);
        std::size_t group = first.size();
        if (keys.keys(line, line_keys)) {
            for (std::uint64_t key : line_keys) {
                auto found = groups_by_key.find(key);
                if (found == groups_by_key.end())
                    continue;
                for (std::uint32_t k : found->second) {
                    if (k >= group)
                        break;
                    if (same_line(first[k], i)) {
                        group = k;
                        break;
                    }
                }
            }
        } else {
            for (std::size_t k = 0; k < first.size() && group == first.size(); ++k)
                if (same_line(first[k], i))
                    group = k;
        }
        if (group == first.size()) {
            first.push_back(i);
            count.push_back(0);
            groups_by_key[line_keys.front()].push_back(std::uint32_t(group));
        }
        ++count[group];
    }
    std::vector<std::int32_t> chosen;
    for (std::size_t k = 0; k < first.size(); ++k)
        if (!exactly_once || count[k] == 1)
            chosen.push_back(first[k]);
    ValueGrid r = by_col ? sized(g.rows, std::int32_t(chosen.size())) : sized(std::int32_t(chosen.size()), g.cols);
    for (std::int32_t i = 0; i < r.rows; ++i)
        for (std::int32_t k = 0; k < r.cols; ++k) {
            const Value& v = by_col ? g.at(i, chosen[std::size_t(k)]) : g.at(chosen[std::size_t(i)], k);
            r.values[std::size_t(i) * std::size_t(r.cols) + std::size_t(k)] = v.is_empty() ? Value::number(0) : v;
        }
    give(c, out, std::move(r));
}

} // namespace

std::vector<Entry> array_choosing_functions() {
    constexpr std::uint8_t A = FnArrayArgs;
    return {
        {{"FILTER", 2, 3, A}, fn_filter},
        {{"SORT", 1, 4, A}, fn_sort},
        {{"SORTBY", 2, -1, A}, fn_sortby},
        {{"UNIQUE", 1, 3, A, "avv"}, fn_unique},
    };
}

} // namespace host::engine::detail::fn
