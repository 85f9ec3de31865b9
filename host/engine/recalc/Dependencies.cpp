#include "engine/internal/Dependencies.hpp"

#include "engine/Workbook.hpp"

#include <algorithm>

namespace host::engine::detail {

namespace {

constexpr std::int32_t bucket_columns = 64;
// Sets of changed cells whose order is kept; beyond it the cache starts again.
constexpr std::size_t max_cached_orders = 256;

} // namespace

void Dependencies::add_slot() {
    dependents_.add_slot();
    try {
        changed_.push_back(0);
    } catch (...) { // the two stay one entry per slot
        dependents_.pop_slot();
        throw;
    }
}

void DependentLists::remove(std::uint32_t slot, std::uint32_t cell) {
    std::uint32_t& e = entries_[slot];
    if (e == empty)
        return;
    if (!(e & list_bit)) {
        if (e == cell)
            e = empty;
        return;
    }
    const std::uint32_t index = e & ~list_bit;
    std::vector<std::uint32_t>& list = more_[index];
    auto it = std::find(list.begin(), list.end(), cell);
    if (it == list.end())
        return;
    *it = list.back();
    list.pop_back();
    if (list.size() == 1) {
        e = list.front();
        std::vector<std::uint32_t>().swap(list);
        free_.push_back(index);
    }
}

void Dependencies::add(std::uint32_t formula_cell, const Reads& reads) {
    for (std::uint32_t p : reads.cells)
        dependents_.push(p, formula_cell);
    for (const Area& a : reads.ranges) {
        auto found = area_ids_.find(key_of(a));
        if (found == area_ids_.end()) {
            std::uint32_t id;
            if (!free_areas_.empty()) {
                id = free_areas_.back();
                free_areas_.pop_back();
                areas_[id].area = a;
            } else {
                id = std::uint32_t(areas_.size());
                areas_.push_back(AreaNode{a, {}});
            }
            found = area_ids_.emplace(key_of(a), id).first;
            if (buckets_.size() <= std::size_t(a.sheet))
                buckets_.resize(std::size_t(a.sheet) + 1);
            auto& sheet = buckets_[std::size_t(a.sheet)];
            if (sheet.empty())
                sheet.resize(std::size_t(max_columns / bucket_columns));
            for (std::int32_t b = a.c1 / bucket_columns; b <= a.c2 / bucket_columns; ++b)
                sheet[std::size_t(b)].push_back(id);
        }
        areas_[found->second].readers.push_back(formula_cell);
    }
    ++structure_;
    ++changes_;
}

void Dependencies::remove(std::uint32_t formula_cell, const Reads& reads) {
    for (std::uint32_t p : reads.cells)
        dependents_.remove(p, formula_cell);
    for (const Area& a : reads.ranges) {
        auto found = area_ids_.find(key_of(a));
        if (found == area_ids_.end())
            continue;
        const std::uint32_t id = found->second;
        auto& readers = areas_[id].readers;
        // The readers keep the order they came in: the order of evaluation follows it.
        auto it = std::find(readers.rbegin(), readers.rend(), formula_cell);
        if (it != readers.rend())
            readers.erase(std::next(it).base());
        if (!readers.empty())
            continue;
        std::vector<std::uint32_t>().swap(readers);
        auto& sheet = buckets_[std::size_t(a.sheet)];
        for (std::int32_t b = a.c1 / bucket_columns; b <= a.c2 / bucket_columns; ++b) {
            auto& v = sheet[std::size_t(b)];
            v.erase(std::remove(v.begin(), v.end(), id), v.end());
        }
        area_ids_.erase(found);
        free_areas_.push_back(id);
    }
    ++structure_;
    ++changes_;
}

void Dependencies::mark_changed(std::uint32_t cell) {
    ++changes_;
    if (!changed_[cell]) {
        changed_[cell] = 1;
        pending_.push_back(cell);
    }
}

void Dependencies::forget_changes() {
    for (std::uint32_t id : pending_)
        changed_[id] = 0;
    // Loading a large model marks every cell: that list's space goes back.
    if (pending_.capacity() >= large_pending)
        std::vector<std::uint32_t>().swap(pending_);
    else
        pending_.clear();
}

const std::vector<std::uint32_t>& Dependencies::changed_order(void (*arrange)(void*, std::vector<std::uint32_t>&),
                                                              void* context) {
    std::sort(pending_.begin(), pending_.end());
    for (std::uint32_t id : pending_)
        changed_[id] = 0;
    if (cache_structure_ != structure_ || orders_.size() > max_cached_orders) {
        orders_.clear();
        cache_structure_ = structure_;
    }
    auto it = orders_.find(pending_);
    if (it == orders_.end()) {
        std::vector<std::uint32_t> computed;
        order(pending_, computed, nullptr);
        if (arrange)
            arrange(context, computed);
        it = orders_.emplace(pending_, std::move(computed)).first;
    }
    pending_.clear();
    return it->second;
}

template <class F>
void Dependencies::each_area_holding(std::uint32_t cell, F f) const {
    if (buckets_.empty()) // no large ranges anywhere: the place need not be read
        return;
    const Place& p = places_[cell];
    if (std::size_t(p.sheet) >= buckets_.size() || buckets_[std::size_t(p.sheet)].empty())
        return;
    for (std::uint32_t id : buckets_[std::size_t(p.sheet)][std::size_t(p.col / bucket_columns)])
        if (areas_[id].area.contains(p.row, p.col))
            f(id);
}

template <class F>
void Dependencies::each_dependent(std::uint32_t node, F f) const {
    const std::uint32_t n = std::uint32_t(places_.size());
    if (node >= n) {
        for (std::uint32_t reader : areas_[node - n].readers)
            f(reader);
        return;
    }
    dependents_.each(node, f);
    each_area_holding(node, [&](std::uint32_t id) { f(n + id); });
}

// Tarjan's strongly connected components, without recursion: long chains of formulas
// would otherwise run out of stack.
void Dependencies::order(const std::vector<std::uint32_t>& roots, std::vector<std::uint32_t>& out,
                         std::vector<std::vector<std::uint32_t>>* cycles) const {
    order_from(
        [&](auto visit_root) {
            for (std::uint32_t root : roots)
                visit_root(root);
        },
        out, cycles);
}

void Dependencies::order_where(bool (*is_root)(const void*, std::uint32_t), const void* context,
                               std::vector<std::uint32_t>& out, std::vector<std::vector<std::uint32_t>>* cycles) const {
    const std::uint32_t slots = static_cast<std::uint32_t>(places_.size());
    order_from(
        [&](auto visit_root) {
            for (std::uint32_t id = 0; id < slots; ++id)
                if (is_root(context, id))
                    visit_root(id);
        },
        out, cycles);
}

template <class Roots>
void Dependencies::order_from(Roots each_root, std::vector<std::uint32_t>& out,
                              std::vector<std::vector<std::uint32_t>>* cycles) const {
    // The scratch space, 9 bytes a slot, lives for this ordering only: orders are computed
    // rarely (once per set of changed cells) and a large model's slots are many.
    const std::size_t cells = places_.size(), n = cells + areas_.size();
    constexpr std::uint32_t unseen = 0xFFFFFFFFu;
    constexpr std::uint8_t on_stack = 1, self_loop = 2;
    std::vector<std::uint32_t> index(n, unseen), low(n);
    std::vector<std::uint8_t> flags(n, 0);
    struct Frame {
        std::uint32_t node;
        std::size_t begin, pos;
    };
    std::vector<Frame> frames;
    std::vector<std::uint32_t> edges, stack;
    // The components as found, reversed at the end.
    out.clear();
    std::uint32_t counter = 0;
    auto visit = [&](std::uint32_t v) {
        index[v] = low[v] = counter++;
        flags[v] = on_stack;
        stack.push_back(v);
        std::size_t begin = edges.size();
        each_dependent(v, [&](std::uint32_t w) { edges.push_back(w); });
        frames.push_back(Frame{v, begin, begin});
    };
    each_root([&](std::uint32_t root) {
        if (index[root] != unseen)
            return;
        visit(root);
        while (!frames.empty()) {
            Frame& fr = frames.back();
            std::uint32_t v = fr.node;
            if (fr.pos < edges.size()) {
                std::uint32_t w = edges[fr.pos++];
                if (w == v)
                    flags[v] |= self_loop;
                if (index[w] == unseen)
                    visit(w);
                else if (flags[w] & on_stack)
                    low[v] = std::min(low[v], index[w]);
                continue;
            }
            edges.resize(fr.begin);
            frames.pop_back();
            if (!frames.empty())
                low[frames.back().node] = std::min(low[frames.back().node], low[v]);
            if (low[v] != index[v])
                continue;
            std::size_t start = stack.size();
            do {
                --start;
            } while (stack[start] != v);
            // A range's node is no cell: it joins a cycle (its cells read what reads it) but is
            // left out of the order.
            bool cyclic = stack.size() - start > 1 || (flags[v] & self_loop);
            if (cyclic && cycles) {
                cycles->emplace_back();
                for (std::size_t i = start; i < stack.size(); ++i)
                    if (stack[i] < cells)
                        cycles->back().push_back(stack[i]);
            }
            std::size_t first = out.size();
            for (std::size_t i = stack.size(); i-- > start;) {
                flags[stack[i]] &= std::uint8_t(~on_stack);
                if (stack[i] >= cells)
                    continue;
                first = out.size();
                out.push_back(stack[i] | (cyclic ? cyclic_bit : 0));
            }
            if (cyclic && first < out.size())
                out[first] |= cycle_start_bit;
            stack.resize(start);
        }
    });
    std::reverse(out.begin(), out.end());
}

void Dependencies::levels(std::vector<std::uint32_t>& order, Levels& out) const {
    // The order is topological: a cell's level is final when its turn comes, once it has
    // taken the levels of the ranges it reads (each the highest of its cells' levels + 1).
    const std::size_t cells = places_.size();
    std::vector<std::uint32_t> level(cells, 0), area_level(areas_.size(), 0);
    // The ranges each formula cell reads, as lists by cell.
    std::vector<std::uint32_t> first_read, reads;
    if (!areas_.empty()) {
        first_read.assign(cells + 1, 0);
        for (const AreaNode& a : areas_)
            for (std::uint32_t r : a.readers)
                ++first_read[r + 1];
        for (std::size_t i = 1; i <= cells; ++i)
            first_read[i] += first_read[i - 1];
        reads.resize(first_read[cells]);
        std::vector<std::uint32_t> at(first_read.begin(), first_read.end() - 1);
        for (std::uint32_t id = 0; id < areas_.size(); ++id)
            for (std::uint32_t r : areas_[id].readers)
                reads[at[r]++] = id;
    }
    std::uint32_t level_count = 0;
    for (std::uint32_t v : order) {
        if (!first_read.empty())
            for (std::uint32_t i = first_read[v]; i < first_read[v + 1]; ++i)
                level[v] = std::max(level[v], area_level[reads[i]]);
        const std::uint32_t next = level[v] + 1;
        level_count = std::max(level_count, next);
        dependents_.each(v, [&](std::uint32_t w) { level[w] = std::max(level[w], next); });
        each_area_holding(v, [&](std::uint32_t id) { area_level[id] = std::max(area_level[id], next); });
    }
    std::vector<std::uint32_t>().swap(first_read);
    std::vector<std::uint32_t>().swap(reads);
    // Counting sort by level, stable.
    std::vector<std::uint32_t> start(std::size_t(level_count) + 1, 0);
    for (std::uint32_t v : order)
        ++start[level[v] + 1];
    for (std::size_t l = 1; l < start.size(); ++l)
        start[l] += start[l - 1];
    const std::size_t count = order.size();
    std::vector<std::uint32_t> by_level(count);
    {
        std::vector<std::uint32_t> at(start.begin(), start.end() - 1);
        for (std::uint32_t v : order)
            by_level[at[level[v]]++] = v;
    }
    std::vector<std::uint32_t>().swap(order);
    out.cells = std::move(by_level);
    out.start = std::move(start);
    out.scratch = std::move(level);
}

} // namespace host::engine::detail
