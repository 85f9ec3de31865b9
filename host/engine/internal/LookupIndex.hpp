#ifndef OMBRIX_HOST_ENGINE_LOOKUPINDEX_HPP
#define OMBRIX_HOST_ENGINE_LOOKUPINDEX_HPP

// The engine's own: everything outside host/engine goes through engine/Workbook.hpp.
#ifndef OMBRIX_ENGINE_INTERNALS
#error "engine/internal/ headers are private to the engine (use engine/Workbook.hpp)"
#endif

// An index of the values of a range, so that a lookup or a criterion does not walk the range
// on every call: the non-empty cells in order, a hash of each one's comparison key (numbers,
// text ignoring case, booleans and errors apart), and each kind's values in order with
// whether they are sorted (then an approximate lookup is a binary search).
//
// The index only narrows the search: every candidate is checked with the caller's own
// equality, so the answers are those of a scan, the first match winning. What it assumes of
// that equality: values of different kinds never match, numbers match only if equal to
// within 2^-48 relative, text only if equal ignoring ASCII case.

#include "engine/internal/Eval.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

namespace host::engine::detail {

class LookupIndex {
public:
    struct Entry {
        std::uint32_t offset; // row by row within the range
        Value value;
    };

    // `entries`: the range's non-empty cells, in offset order.
    explicit LookupIndex(std::vector<Entry> entries);

    const std::vector<Entry>& entries() const { return entries_; }

    // The first entry (the last when `last`) whose value `equal` holds for; nullptr if none.
    // `key` must not be a wildcard pattern: for those, walk entries().
    template <class Equal>
    const Entry* find(const Value& key, Equal equal, bool last = false) const {
        const Entry* best = nullptr;
        candidates(key, [&](std::uint32_t i) {
            const Entry& e = entries_[i];
            if ((!best || (last ? e.offset > best->offset : e.offset < best->offset)) && equal(e.value, key))
                best = &e;
        });
        return best;
    }

    // Calls f(entry) for each entry that `equal` holds for, in offset order. With
    // `any_text`, every text entry is a candidate too (for an equality that lets a number
    // equal text that reads as it).
    template <class Equal, class F>
    void each_equal(const Value& key, Equal equal, F f, bool any_text = false) const {
        std::vector<std::uint32_t> hits;
        auto check = [&](std::uint32_t i) {
            if (equal(entries_[i].value, key))
                hits.push_back(i);
        };
        candidates(key, check);
        if (any_text && !key.is_text())
            for (std::uint32_t i : texts_.items)
                check(i);
        std::sort(hits.begin(), hits.end());
        for (std::uint32_t i : hits)
            f(entries_[i]);
    }

    // An approximate lookup as the spreadsheet makes it on sorted data, `descending` false:
    // among the values of the key's kind, in order, the last one not greater than the key
    // before the first greater one (true: the first equal one, else the last greater one
    // before the first less one). nullptr if none.
    const Entry* sorted_find(const Value& key, bool descending) const;
    // Whether all `cells` cells of the range hold values of the key's kind, in ascending
    // order: then sorted_find answers as the spreadsheet's bisection over the cells does.
    bool sorted_throughout(const Value& key, std::size_t cells) const;

    std::size_t size() const { return entries_.size(); }

private:
    // The entries whose key hashes as `key` may match, each once.
    template <class F>
    void candidates(const Value& key, F f) const {
        std::uint64_t hashes[3];
        int n = probe_hashes(key, hashes);
        for (int k = 0; k < n && !buckets_.empty(); ++k) {
            for (std::size_t at = std::size_t(hashes[k]) & mask_;; at = (at + 1) & mask_) {
                const Bucket& b = buckets_[at];
                if (b.first == b.end) // a free place: no such hash
                    break;
                if (b.hash != hashes[k])
                    continue;
                for (std::uint32_t j = b.first; j < b.end; ++j)
                    f(by_key_[j]);
                break;
            }
        }
    }
    // The hashes under which a value matching `key` may be filed: one, or for a number its own
    // bucket and the two beside it (numbers that are nearly equal may fall either side of
    // a bucket's edge). 0 if no value can match.
    static int probe_hashes(const Value& key, std::uint64_t out[3]);

    std::vector<Entry> entries_;
    std::vector<std::uint32_t> by_key_; // entry numbers grouped by hash
    // hash -> its span of by_key_, open-addressed (the hashes are mixed: their low bits place
    // them), at most half full; a free place has an empty span.
    struct Bucket {
        std::uint64_t hash = 0;
        std::uint32_t first = 0, end = 0;
    };
    std::vector<Bucket> buckets_;
    std::size_t mask_ = 0;
    struct Kind {
        std::vector<std::uint32_t> items; // entry numbers of this kind, in offset order
        bool ascending = true, descending = true;
    };
    Kind numbers_, texts_, booleans_;
};

// The indexes of a workbook's ranges, each kept while the cells under it do not change.
// The workbook counts the writes to each column (of the cells' values, by a write or a
// calculation); an index remembers the counts it was built under. (A cell slot added empty
// changes no value.)
class LookupIndexes {
public:
    // Notes that the value of a cell of (sheet, column) changed or may have.
    OMBRIX_ALWAYS_INLINE void touched(int sheet, std::int32_t col) {
        if (std::size_t(sheet) < columns_.size()) {
            ++columns_[std::size_t(sheet)][std::size_t(col)];
            ++sheet_writes_[std::size_t(sheet)];
        }
    }
    // Whether writes are counted: only once a first index was asked for (before, no index
    // can be out of date).
    bool watching() const { return !columns_.empty(); }
    // Notes that the sheets changed.
    void sheets_changed(int count);

    // The index of `area`, built by `entries()` if there is none or it is out of date;
    // nullptr if the range holds more values than indexes may.
    template <class Entries>
    const LookupIndex* get(const Area& area, Entries entries) {
        if (columns_.empty())
            watch();
        const AreaKey k = key(area);
        const Stamp now = stamp(area);
        // Formulas filled down look up the same range one after another.
        if (last_ && last_key_ == k && last_->stamp == now)
            return last_->index.get();
        last_ = nullptr;
        auto found = slots_.find(k);
        if (found != slots_.end()) {
            if (found->second.stamp == now) {
                last_key_ = k;
                last_ = &found->second;
                return last_->index.get();
            }
            total_ -= found->second.index->size();
            slots_.erase(found);
        }
        std::vector<LookupIndex::Entry> list = entries();
        if (list.size() > max_total_entries)
            return nullptr;
        if (total_ + list.size() > max_total_entries)
            clear();
        total_ += list.size();
        Slot& slot = slots_[k];
        slot.index = std::make_unique<LookupIndex>(std::move(list));
        slot.stamp = now;
        last_key_ = k;
        last_ = &slot;
        return slot.index.get();
    }

    void clear() {
        slots_.clear();
        last_ = nullptr;
        total_ = 0;
    }

    // The most values all indexes together hold; past it they are dropped and built anew.
    static constexpr std::size_t max_total_entries = std::size_t(1) << 21;
    // Areas at most this wide are checked column by column, wider ones by their sheet.
    static constexpr std::int32_t max_checked_columns = 64;

private:
    // The counts an index depends on: its columns' writes, summed (they only grow, so an
    // unchanged sum means unchanged counts), or for wide areas the sheet's writes.
    struct Stamp {
        std::uint64_t writes = 0;
        bool operator==(const Stamp& o) const { return writes == o.writes; }
    };
    Stamp stamp(const Area& area) const;

    struct AreaKey {
        int sheet;
        std::int32_t r1, c1, r2, c2;
        bool operator==(const AreaKey& o) const {
            return sheet == o.sheet && r1 == o.r1 && c1 == o.c1 && r2 == o.r2 && c2 == o.c2;
        }
    };
    struct AreaHash {
        std::size_t operator()(const AreaKey& k) const;
    };
    static AreaKey key(const Area& a) { return AreaKey{a.sheet, a.r1, a.c1, a.r2, a.c2}; }

    struct Slot {
        std::unique_ptr<LookupIndex> index;
        Stamp stamp;
    };
    std::unordered_map<AreaKey, Slot, AreaHash> slots_;
    AreaKey last_key_{};
    Slot* last_ = nullptr;                            // the slot of last_key_, while it is in slots_
    std::vector<std::vector<std::uint64_t>> columns_; // writes, by sheet and column
    std::vector<std::uint64_t> sheet_writes_;
    int sheet_count_ = 0;
    std::size_t total_ = 0;
    void watch();
};

// The index of a range argument, or of its first column (`part` 'c') or first row ('r');
// nullptr if the argument is not a range or the workbook keeps no index of it.
inline const LookupIndex* range_index(const Grid& grid, const Item& item, char part = 0) {
    if (item.kind != Item::Range || item.areas || item.last_sheet >= 0)
        return nullptr;
    Area a = item.area;
    if (part == 'c')
        a.c2 = a.c1;
    else if (part == 'r')
        a.r2 = a.r1;
    return grid.lookup_index(a);
}

// Calls f(row, col), offsets within the range argument `range`, for each cell of it whose
// value `equal(value, key)` holds, row by row, through the range's index; false (nothing
// called) if there is none. Empty cells are never visited: only for keys they cannot match.
template <class Equal, class F>
bool each_indexed_match(const Grid& grid, const Item& range, const Value& key, Equal equal, F f,
                        bool any_text = false) {
    const LookupIndex* index = range_index(grid, range);
    if (!index)
        return false;
    const std::uint32_t width = std::uint32_t(range.area.c2 - range.area.c1 + 1);
    index->each_equal(
        key, equal,
        [&](const LookupIndex::Entry& e) { f(std::int32_t(e.offset / width), std::int32_t(e.offset % width)); },
        any_text);
    return true;
}

} // namespace host::engine::detail

#endif
