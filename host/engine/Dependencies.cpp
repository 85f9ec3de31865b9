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
    Entry& e = entries_[slot];
    std::vector<std::uint32_t>* rest = e.more == empty ? nullptr : &more_[e.more];
    std::size_t at;
    if (e.first == empty)
        return;
    if (e.first == cell) {
        at = 0;
    } else {
        auto it = rest ? std::find(rest->begin(), rest->end(), cell) : std::vector<std::uint32_t>::iterator();
        if (!rest || it == rest->end())
            return;
        at = std::size_t(it - rest->begin()) + 1;
    }
    if (!rest) {
        e.first = empty;
        return;
    }
    const std::uint32_t last = rest->back();
    rest->pop_back();
    if (at == 0)
        e.first = last;
    else if (at - 1 < rest->size())
        (*rest)[at - 1] = last;
    if (rest->empty()) {
        std::vector<std::uint32_t>().swap(*rest);
        free_.push_back(e.more);
        e.more = empty;
    }
}

void Dependencies::add(std::uint32_t formula_cell, const Reads& reads) {
    for (std::uint32_t p : reads.cells)
        dependents_.push(p, formula_cell);
    for (const Area& a : reads.ranges) {
        if (buckets_.size() <= std::size_t(a.sheet))
            buckets_.resize(std::size_t(a.sheet) + 1);
        auto& sheet = buckets_[std::size_t(a.sheet)];
        if (sheet.empty())
            sheet.resize(std::size_t(max_columns / bucket_columns));
        for (std::int32_t b = a.c1 / bucket_columns; b <= a.c2 / bucket_columns; ++b)
            sheet[std::size_t(b)].push_back(RangeEntry{a, formula_cell});
    }
    ++structure_;
}

void Dependencies::remove(std::uint32_t formula_cell, const Reads& reads) {
    for (std::uint32_t p : reads.cells)
        dependents_.remove(p, formula_cell);
    for (const Area& a : reads.ranges) {
        auto& sheet = buckets_[std::size_t(a.sheet)];
        for (std::int32_t b = a.c1 / bucket_columns; b <= a.c2 / bucket_columns; ++b) {
            auto& v = sheet[std::size_t(b)];
            v.erase(std::remove_if(v.begin(), v.end(), [&](const RangeEntry& e) { return e.cell == formula_cell; }),
                    v.end());
        }
    }
    ++structure_;
}

void Dependencies::mark_changed(std::uint32_t cell) {
    if (!changed_[cell]) {
        changed_[cell] = 1;
        pending_.push_back(cell);
    }
}

void Dependencies::forget_changes() {
    for (std::uint32_t id : pending_)
        changed_[id] = 0;
    pending_.clear();
}

const std::vector<std::uint32_t>& Dependencies::changed_order() {
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
        it = orders_.emplace(pending_, std::move(computed)).first;
    }
    pending_.clear();
    return it->second;
}

template <class F>
void Dependencies::each_dependent(std::uint32_t cell, F f) const {
    dependents_.each(cell, f);
    if (buckets_.empty()) // no large ranges anywhere: the place need not be read
        return;
    const Place& p = places_[cell];
    if (std::size_t(p.sheet) >= buckets_.size() || buckets_[std::size_t(p.sheet)].empty())
        return;
    for (const RangeEntry& e : buckets_[std::size_t(p.sheet)][std::size_t(p.col / bucket_columns)])
        if (e.area.contains(p.row, p.col))
            f(e.cell);
}

// Tarjan's strongly connected components, without recursion: long chains of formulas
// would otherwise run out of stack.
void Dependencies::order(const std::vector<std::uint32_t>& roots, std::vector<std::uint32_t>& out,
                         std::vector<std::vector<std::uint32_t>>* cycles) {
    std::size_t n = places_.size();
    if (t_index_.size() < n) {
        t_index_.resize(n);
        t_low_.resize(n);
        t_stamp_.resize(n, 0);
        t_on_stack_.resize(n, 0);
        t_self_.resize(n, 0);
    }
    if (++t_run_ == 0) {
        std::fill(t_stamp_.begin(), t_stamp_.end(), 0);
        t_run_ = 1;
    }
    struct Frame {
        std::uint32_t node;
        std::size_t begin, pos;
    };
    std::vector<Frame> frames;
    std::vector<std::uint32_t> edges, stack, components;
    std::uint32_t counter = 0;
    auto visit = [&](std::uint32_t v) {
        t_stamp_[v] = t_run_;
        t_index_[v] = t_low_[v] = counter++;
        t_on_stack_[v] = 1;
        t_self_[v] = 0;
        stack.push_back(v);
        std::size_t begin = edges.size();
        each_dependent(v, [&](std::uint32_t w) { edges.push_back(w); });
        frames.push_back(Frame{v, begin, begin});
    };
    for (std::uint32_t root : roots) {
        if (t_stamp_[root] == t_run_)
            continue;
        visit(root);
        while (!frames.empty()) {
            Frame& fr = frames.back();
            std::uint32_t v = fr.node;
            if (fr.pos < edges.size()) {
                std::uint32_t w = edges[fr.pos++];
                if (w == v)
                    t_self_[v] = 1;
                if (t_stamp_[w] != t_run_)
                    visit(w);
                else if (t_on_stack_[w])
                    t_low_[v] = std::min(t_low_[v], t_index_[w]);
                continue;
            }
            edges.resize(fr.begin);
            frames.pop_back();
            if (!frames.empty())
                t_low_[frames.back().node] = std::min(t_low_[frames.back().node], t_low_[v]);
            if (t_low_[v] != t_index_[v])
                continue;
            std::size_t start = stack.size();
            do {
                --start;
            } while (stack[start] != v);
            bool cyclic = stack.size() - start > 1 || t_self_[v];
            if (cyclic && cycles)
                cycles->emplace_back(stack.begin() + std::ptrdiff_t(start), stack.end());
            for (std::size_t i = stack.size(); i-- > start;) {
                t_on_stack_[stack[i]] = 0;
                components.push_back(stack[i] | (cyclic ? cyclic_bit : 0) |
                                     (cyclic && i == start ? cycle_start_bit : 0));
            }
            stack.resize(start);
        }
    }
    out.assign(components.rbegin(), components.rend());
}

} // namespace host::engine::detail
