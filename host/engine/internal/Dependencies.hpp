#ifndef OMBRIX_HOST_ENGINE_DEPENDENCIES_HPP
#define OMBRIX_HOST_ENGINE_DEPENDENCIES_HPP

// The engine's own: everything outside host/engine goes through engine/Workbook.hpp.
#ifndef OMBRIX_ENGINE_INTERNALS
#error "engine/internal/ headers are private to the engine (use engine/Workbook.hpp)"
#endif

// Which formula cells read which cells, which cells changed since the last recalculation,
// and the order that brings their dependents up to date.

#include "engine/internal/Program.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <vector>

namespace host::engine::detail {

// Where a cell slot is on the grid.
struct Place {
    std::int32_t sheet = 0, row = 0, col = 0;
};

// What one formula reads: cell slots (sorted, each once) and the large ranges, which are
// tracked as areas rather than cell by cell.
struct Reads {
    std::vector<std::uint32_t> cells;
    std::vector<Area> ranges;
};

// Ranges of up to this many cells are read cell by cell; larger ones through the range index.
constexpr std::int64_t small_range = 64;

// An entry of an evaluation order: a cell slot, with this bit set when the cell is on a
// circular reference.
constexpr std::uint32_t cyclic_bit = 0x80000000u;
// Set on the first entry of each circular reference, so that one cycle is told from the
// next.
constexpr std::uint32_t cycle_start_bit = 0x40000000u;
constexpr std::uint32_t entry_flags = cyclic_bit | cycle_start_bit;
// Without cyclic_bit: not a cell but a mark that the next (entry & ~entry_flags) entries are
// cells of one group (see Dependencies::by_levels) that read none of each other.
constexpr std::uint32_t batch_mark = cycle_start_bit;

// Per cell slot, the formula cells that read it, in the order they came; removing one moves
// the last into its place. Most cells are read by one formula: that one is the slot's entry
// (4 bytes); a cell read by more has a list of them all, its entry the list's index.
class DependentLists {
public:
    void add_slot() { entries_.push_back(empty); }
    void pop_slot() { entries_.pop_back(); }
    void reserve(std::size_t slots) { entries_.reserve(slots); }
    void push(std::uint32_t slot, std::uint32_t cell) {
        std::uint32_t& e = entries_[slot];
        if (e == empty) {
            e = cell;
            return;
        }
        if (!(e & list_bit)) {
            std::uint32_t list;
            if (!free_.empty()) {
                list = free_.back();
                free_.pop_back();
            } else {
                list = static_cast<std::uint32_t>(more_.size());
                more_.emplace_back();
            }
            more_[list].push_back(e);
            e = list_bit | list;
        }
        more_[e & ~list_bit].push_back(cell);
    }
    void remove(std::uint32_t slot, std::uint32_t cell);
    template <class F>
    void each(std::uint32_t slot, F f) const {
        const std::uint32_t e = entries_[slot];
        if (e == empty)
            return;
        if (!(e & list_bit)) {
            f(e);
            return;
        }
        for (std::uint32_t d : more_[e & ~list_bit])
            f(d);
    }

private:
    // Cell slots are below 2^30: the top bit marks an index into more_.
    static constexpr std::uint32_t empty = 0xFFFFFFFFu, list_bit = 0x80000000u;
    std::vector<std::uint32_t> entries_;
    std::vector<std::vector<std::uint32_t>> more_;
    std::vector<std::uint32_t> free_; // lists of more_ that emptied
};

// The dependency graph over the cell slots of a workbook's storage. Each formula cell's
// reads are indexed both ways: a cell knows the formulas that read it directly, and a sheet
// keeps its large ranges in an index by blocks of columns. Each distinct large range is one
// node of the graph between its cells and the formulas that read it, so that n formula cells
// in a range that m formulas read cost n + m edges rather than n * m.
//
// The order for a set of changed cells is computed once and reused while no formula's reads
// change, so writing the same cells again costs no search and no allocation.
class Dependencies {
public:
    // The storage's place of every slot, read as the graph needs it; add_slot() tells of
    // each new one.
    explicit Dependencies(const std::vector<Place>& places) : places_(places) {}

    void add_slot();
    void reserve(std::size_t slots) {
        dependents_.reserve(slots);
        changed_.reserve(slots);
    }
    // A formula cell's reads, indexed after its formula is linked and taken out (with the
    // same reads) before the formula changes or goes.
    void add(std::uint32_t formula_cell, const Reads& reads);
    void remove(std::uint32_t formula_cell, const Reads& reads);

    // The changed set: cells written since the last recalculation.
    void mark_changed(std::uint32_t cell);
    // Counts every cell marked changed and every change of a formula's reads: equal counts
    // mean that nothing was written and no formula changed in between.
    std::uint64_t changes() const { return changes_; }
    bool has_changes() const { return !pending_.empty(); }
    void forget_changes();
    // The order that brings every dependent of the changed cells up to date, each after what
    // it reads; empties the changed set. Valid until the graph or the changed set changes.
    // `arrange`, if given, rearranges each newly computed order before it is kept.
    const std::vector<std::uint32_t>& changed_order(void (*arrange)(void*, std::vector<std::uint32_t>&) = nullptr,
                                                    void* context = nullptr);

    // Orders every cell reachable from `roots` so that each comes after what it reads; cells
    // on a cycle carry cyclic_bit. Optionally collects the cells of each cycle.
    void order(const std::vector<std::uint32_t>& roots, std::vector<std::uint32_t>& out,
               std::vector<std::vector<std::uint32_t>>* cycles) const;
    // The same with the roots the slots for which `is_root(context, slot)` holds, in slot
    // order, without a list of them.
    void order_where(bool (*is_root)(const void*, std::uint32_t), const void* context, std::vector<std::uint32_t>& out,
                     std::vector<std::vector<std::uint32_t>>* cycles) const;

    // Rearranges an order without circular references level by level: a cell's level is one
    // more than the highest of the cells it reads in the order, so the cells of a level read
    // none of each other. Within a level the cells of one group (`group(cell)`; 0xFFFFFFFF for
    // none) come together, stable, and each run of two or more is preceded by a batch_mark.
    template <class Group>
    void by_levels(std::vector<std::uint32_t>& order, Group group) const {
        constexpr std::uint32_t no_group = 0xFFFFFFFFu;
        Levels l;
        levels(order, l);
        // A slot's level is not needed again: its space holds the slot's group.
        std::vector<std::uint32_t>& groups = l.scratch;
        for (std::uint32_t v : l.cells)
            groups[v] = group(v);
        const std::size_t count = l.cells.size();
        std::vector<std::uint32_t> out;
        out.reserve(count + count / 8);
        auto by_group = [&](std::uint32_t x, std::uint32_t y) { return groups[x] < groups[y]; };
        for (std::size_t level = 0; level + 1 < l.start.size(); ++level) {
            const auto first = l.cells.begin() + l.start[level], last = l.cells.begin() + l.start[level + 1];
            if (!std::is_sorted(first, last, by_group))
                std::stable_sort(first, last, by_group);
            for (auto it = first; it != last;) {
                auto end = it + 1;
                while (end != last && groups[*end] == groups[*it])
                    ++end;
                if (groups[*it] != no_group && end - it >= 2)
                    out.push_back(batch_mark | std::uint32_t(end - it));
                for (; it != end; ++it)
                    out.push_back(*it);
            }
        }
        order = std::move(out);
    }

private:
    // An order's cells by level (each level's in the order's order), where each level starts
    // in them, and a scratch list of one entry per slot; the order is emptied.
    struct Levels {
        std::vector<std::uint32_t> cells, start, scratch;
    };
    void levels(std::vector<std::uint32_t>& order, Levels& out) const;

    // A large range and the formula cells that read it, in the order they came (a cell once
    // for each time its reads name the range). No readers: the node is free.
    struct AreaNode {
        Area area;
        std::vector<std::uint32_t> readers;
    };
    using AreaKey = std::array<std::int32_t, 5>;
    static AreaKey key_of(const Area& a) { return {a.sheet, a.r1, a.c1, a.r2, a.c2}; }

    // The graph's nodes are the cell slots, then (from places_.size() on) the range nodes.
    // order() from the roots `each_root` calls its argument with.
    template <class Roots>
    void order_from(Roots each_root, std::vector<std::uint32_t>& out,
                    std::vector<std::vector<std::uint32_t>>* cycles) const;
    template <class F>
    void each_dependent(std::uint32_t node, F f) const;
    // The range nodes whose range holds the cell.
    template <class F>
    void each_area_holding(std::uint32_t cell, F f) const;

    const std::vector<Place>& places_;
    DependentLists dependents_;
    std::vector<std::uint8_t> changed_; // per slot: in pending_
    std::vector<std::uint32_t> pending_;
    static constexpr std::size_t large_pending = std::size_t(1) << 16;
    std::vector<AreaNode> areas_;
    std::vector<std::uint32_t> free_areas_;
    std::map<AreaKey, std::uint32_t> area_ids_;
    std::vector<std::vector<std::vector<std::uint32_t>>> buckets_; // per sheet, by blocks of columns: range nodes

    std::uint64_t changes_ = 0;
    std::uint64_t structure_ = 0;       // bumped whenever a formula's reads change
    std::uint64_t cache_structure_ = 0; // the structure the cached orders were made for
    std::map<std::vector<std::uint32_t>, std::vector<std::uint32_t>> orders_;
};

} // namespace host::engine::detail

#endif
