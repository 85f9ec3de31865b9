#ifndef OMBRIX_HOST_ENGINE_WORKBOOKIMPL_HPP
#define OMBRIX_HOST_ENGINE_WORKBOOKIMPL_HPP

// The engine's own: everything outside host/engine goes through engine/Workbook.hpp.
#ifndef OMBRIX_ENGINE_INTERNALS
#error "engine/internal/ headers are private to the engine (use engine/Workbook.hpp)"
#endif

// The workbook's insides, shared by the files that make it up: Workbook.cpp (sheets and cell
// storage), WorkbookLinking.cpp (references resolved, dependencies registered),
// WorkbookNames.cpp (defined names and tables) and WorkbookRecalc.cpp (recalculation and
// what it reports).

#include "engine/internal/Dependencies.hpp"
#include "engine/internal/Eval.hpp"
#include "engine/internal/LookupIndex.hpp"
#include "engine/internal/NumbersOnly.hpp"
#include "engine/internal/NumericCompile.hpp"
#include "engine/internal/Program.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

namespace host::engine {

namespace detail {

constexpr std::uint32_t none = 0xFFFFFFFFu;

inline std::uint64_t key_of(std::int32_t row, std::int32_t col) {
    return (std::uint64_t(std::uint32_t(row)) << 14) | std::uint64_t(std::uint32_t(col));
}

// A cell slot; where it is lies in the parallel list of places.
struct Cell {
    Value value;
    std::uint32_t formula = none;
};

struct Formula {
    std::uint32_t cell = none;
    std::string text;
    Linked linked;
    bool array = false;
    // An array formula fills `rows` x `cols` cells from its own; one that `spills` fills as
    // many as its last result has (dynamic arrays). Its other cells are `members`.
    bool spills = false;
    std::int32_t rows = 1, cols = 1;
    std::shared_ptr<const Array> result;
    std::vector<std::uint32_t> members;
    std::vector<Area> blocked; // the cells that kept a spill out, read to learn when they empty
    // A member: element (at_row, at_col) of the array formula in cell `anchor`.
    std::uint32_t anchor = none;
    std::int32_t at_row = 0, at_col = 0;
    bool uses_names = false;
    bool uses_tables = false;
    bool unresolved = false; // refers to a sheet that does not exist (yet)
    bool has_unknown = false;
    bool reads_links = false; // another workbook's cells or names ([1]Sheet1!A1, [1]!Rate)
    bool is_volatile = false; // calls a volatile function, itself or through a name
    std::vector<Area> built;  // the references OFFSET and INDIRECT gave when last computed
    std::shared_ptr<const DataTableDef> data_table; // a data table's anchor: no program of its own
    Reads reads;
    NumericProgram numeric; // empty: the general evaluator only
    std::int32_t numeric_misses = 0;
};

// A formula that shares its compiled form with the others of its shape (the cells of a
// filled-down block): a numeric program whose cell operands are each formula's own, and a
// text that is the shape's first text moved to the formula's cell. The cell's formula index
// is `compact_bit | index into compact_formulas`.
constexpr std::uint32_t compact_bit = 0x80000000u;
inline bool is_compact(std::uint32_t formula) { return formula != none && (formula & compact_bit); }

struct CompactFormula {
    std::uint32_t shape = none;
    std::uint32_t operands = 0; // its first slot in Impl::operand_slots; the shape says how many
};

// A reference of a shape's founding formula, for placing the shape in another cell without
// reading its text: the absolute parts stay, the relative ones move with the cell.
struct ShapeRef {
    std::int32_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    int sheet = 0;
    bool row_absolute = false, col_absolute = false;
};

// An operand of a shape: the cell `row`, `col` of the reference `ref`'s area.
struct ShapeOperand {
    std::uint32_t ref = 0;
    std::int32_t row = 0, col = 0;
};

struct Shape {
    std::string key;        // the numeric program with its operands numbered, not placed
    NumericProgram numeric; // its Cell steps and ids number the operands
    std::uint32_t operand_count = 0;
    bool on_numbers = false; // runs_on_numbers(numeric): a faster loop where the cells hold numbers
    std::vector<FunctionMemo> memos; // the faster loop's, kept between recalculations
    Linked program;          // the code and constants only: the references are each formula's own
    std::unique_ptr<FormulaMover> text;
    std::int32_t row = 0, col = 0; // where `text` is written as it is
    int sheet = 0;
    // Empty where a cell joins the shape only through its text (see place_shape()).
    std::vector<ShapeRef> refs;
    std::vector<ShapeOperand> operands;
};

struct LinkedCopy; // a linked workbook's saved values, indexed (WorkbookLinks.cpp)

struct NameDef {
    std::string name; // as defined
    int sheet = -1;   // the sheet it belongs to; -1: the workbook's
    std::string text;
    bool defined = false;
    Program program;
    Linked linked;
    // The same, as an array formula or a spilling one sees it: element by element.
    Program array_program;
    Linked array_linked;
    // A reference without '$' (=A$4:A$8): the name means other cells for each cell using it,
    // as if it were written in A1 and copied there. Each place gets its own moved copy.
    bool relative = false;
    // A name it uses is relative (=DATE(2019,MONTH(Start),1), Start =Calendar!$C1): it moves too.
    bool uses_relative = false;
    bool moves() const { return relative || uses_relative; }
    std::uint32_t moved_from = none; // a moved copy: the name it was made from
    bool moving = false;             // a moved copy being linked (a name that uses itself stops)
};

// A sheet's cells: place key_of(row, col) to slot, 4 bytes an entry (the slot + 1; its place,
// and so its key, is in the workbook's list of places) in an open-addressed table at most
// three quarters full.
class CellMap {
public:
    static constexpr std::uint32_t max_slot = (1u << 30) - 2;
    using Item = std::pair<std::uint64_t, std::uint32_t>;
    class iterator {
    public:
        iterator(const CellMap* map, std::size_t at) : map_(map), at_(at) { skip(); }
        iterator(const CellMap* map, std::size_t at, const Item& item) : map_(map), at_(at), item_(item) {}
        const Item& operator*() const { return item_; }
        const Item* operator->() const { return &item_; }
        iterator& operator++() {
            ++at_;
            skip();
            return *this;
        }
        bool operator==(const iterator& o) const { return at_ == o.at_; }
        bool operator!=(const iterator& o) const { return at_ != o.at_; }

    private:
        friend class CellMap;
        void skip() {
            while (at_ < map_->table_.size() && map_->table_[at_] == 0)
                ++at_;
            if (at_ < map_->table_.size())
                item_ = Item{map_->key_at(at_), map_->table_[at_] - 1};
        }
        const CellMap* map_;
        std::size_t at_;
        Item item_{};
    };

    // The places of the slots the keys are read from; set before the first insertion.
    void attach(const std::vector<Place>* places) { places_ = places; }
    // Each slot, in the table's order (cheaper than iterating: no keys).
    template <class F>
    void each_slot(F f) const {
        for (std::uint32_t e : table_)
            if (e != 0)
                f(e - 1);
    }
    iterator begin() const { return iterator(this, 0); }
    iterator end() const { return iterator(this, table_.size(), Item{}); }
    std::size_t size() const { return size_; }
    // The slot at (row, col), or none: find() without an iterator.
    std::uint32_t slot_at(std::int32_t row, std::int32_t col) const {
        if (table_.empty())
            return none;
        const Place* places = places_->data();
        for (std::size_t i = home(key_of(row, col));; i = (i + 1) & (table_.size() - 1)) {
            const std::uint32_t e = table_[i];
            if (e == 0)
                return none;
            const Place& p = places[e - 1];
            if (p.row == row && p.col == col)
                return e - 1;
        }
    }
    iterator find(std::uint64_t key) const {
        if (table_.empty())
            return end();
        for (std::size_t i = home(key);; i = (i + 1) & (table_.size() - 1)) {
            const std::uint32_t e = table_[i];
            if (e == 0)
                return end();
            if (key_of_slot(e - 1) == key)
                return iterator(this, i, Item{key, e - 1});
        }
    }
    // As std::unordered_map's: the slot at `key`, or `slot` put there (its place may be added
    // to the list of places after).
    std::pair<iterator, bool> try_emplace(std::uint64_t key, std::uint32_t slot) {
        // One walk finds the key or the free entry it would take.
        std::size_t i = 0;
        if (!table_.empty())
            for (i = home(key); table_[i] != 0; i = (i + 1) & (table_.size() - 1))
                if (key_of_slot(table_[i] - 1) == key)
                    return {iterator(this, i, Item{key, table_[i] - 1}), false};
        if ((size_ + 1) * 4 > table_.size() * 3) {
            grow(table_.empty() ? 16 : table_.size() * 2);
            for (i = home(key); table_[i] != 0;)
                i = (i + 1) & (table_.size() - 1);
        }
        table_[i] = slot + 1;
        ++size_;
        return {iterator(this, i, Item{key, slot}), true};
    }
    // Room for `n` entries without growing.
    void reserve(std::size_t n) {
        std::size_t size = table_.empty() ? 16 : table_.size();
        while (n * 4 > size * 3)
            size *= 2;
        if (size > table_.size())
            grow(size);
    }
    void erase(iterator it) {
        // Backward shift: the entries after the gap that would not be found past it move in.
        const std::size_t n = table_.size() - 1;
        std::size_t gap = it.at_;
        for (std::size_t i = (gap + 1) & n; table_[i] != 0; i = (i + 1) & n) {
            const std::size_t h = home(key_at(i));
            if (((i - h) & n) >= ((i - gap) & n)) {
                table_[gap] = table_[i];
                gap = i;
            }
        }
        table_[gap] = 0;
        --size_;
    }

private:
    std::uint64_t key_of_slot(std::uint32_t slot) const {
        const Place& p = (*places_)[slot];
        return key_of(p.row, p.col);
    }
    std::uint64_t key_at(std::size_t i) const { return key_of_slot(table_[i] - 1); }
    std::size_t home(std::uint64_t key) const { return std::size_t((key * 0x9E3779B97F4A7C15ull) >> shift_); }
    void grow(std::size_t size) {
        std::vector<std::uint32_t> old(size, 0);
        old.swap(table_);
        shift_ = 64;
        for (std::size_t n = table_.size(); n > 1; n /= 2)
            --shift_;
        for (std::uint32_t e : old)
            if (e != 0) {
                std::size_t i = home(key_of_slot(e - 1));
                while (table_[i] != 0)
                    i = (i + 1) & (table_.size() - 1);
                table_[i] = e;
            }
    }
    std::vector<std::uint32_t> table_; // 0: free
    std::size_t size_ = 0;
    int shift_ = 64; // 64 - log2 of the table's size
    const std::vector<Place>* places_ = nullptr;
};

struct Sheet {
    std::string name;
    CellMap cells;
    std::uint64_t generation = 0; // bumped when a cell slot is added
};

struct AreaKey {
    Area a;
    bool operator==(const AreaKey& o) const {
        return a.sheet == o.a.sheet && a.r1 == o.a.r1 && a.c1 == o.a.c1 && a.r2 == o.a.r2 && a.c2 == o.a.c2;
    }
};
struct AreaHash {
    std::size_t operator()(const AreaKey& k) const {
        std::uint64_t h = std::uint64_t(k.a.sheet) * 0x9E3779B97F4A7C15ull;
        for (std::int32_t v : {k.a.r1, k.a.c1, k.a.r2, k.a.c2})
            h = (h ^ std::uint64_t(std::uint32_t(v))) * 0x100000001B3ull;
        return std::size_t(h ^ (h >> 29));
    }
};
struct CachedCells {
    std::uint64_t generation = ~0ull;
    std::vector<std::uint32_t> ids;
};

} // namespace detail

struct Workbook::Impl final : detail::Grid {
    std::vector<detail::Sheet> sheets;
    std::vector<detail::Cell> cells;
    std::vector<detail::Place> places; // of each cell slot
    std::vector<detail::Formula> formulas;
    std::vector<std::uint32_t> free_formulas;
    std::vector<detail::NameDef> names;
    std::vector<std::uint32_t> volatile_cells;
    std::vector<TableDef> tables;                              // formula cells recomputed on every recalculation
    std::unordered_map<std::string, std::uint32_t> name_index; // upper case; "3!NAME" for sheet 3's
    int active = 0;
    bool automatic = false;

    detail::Dependencies dependencies{places};
    mutable std::unordered_map<detail::AreaKey, detail::CachedCells, detail::AreaHash> area_cells;
    mutable std::unordered_map<detail::AreaKey, detail::CachedCells, detail::AreaHash> area_positions;
    mutable std::size_t area_positions_kept = 0; // entries over all of them
    mutable detail::LookupIndexes lookup_indexes;
    bool use_lookup_indexes = true;

    std::uint64_t evaluations = 0;
    detail::Evaluator evaluator{*this};
    bool dates_from_1904 = false;
    std::string file_path; // the file the workbook was opened from or saved to, if any
    double fixed_now_serial = -1;                                      // TODAY() and NOW() read the clock when negative
    std::map<std::uint32_t, std::vector<std::string>> format_warnings; // by cell slot
    std::map<std::pair<int, std::int32_t>, RowHidden> hidden_rows;     // by sheet and row
    struct Widths {
        double fallback = 8.43;
        std::map<std::int32_t, std::pair<std::int32_t, double>> spans; // by first column: last, width
    };
    std::map<int, Widths> widths;                                      // by sheet, where any is set
    std::unordered_map<std::uint32_t, detail::Area> kept_spills;       // by anchor slot (Workbook::keep_spill)
    // Merged blocks, sorted by sheet and first row when merged_sorted; the most rows one has.
    std::vector<detail::Area> merged;
    bool merged_sorted = true;
    std::int32_t merged_tallest = 0;

    // ---- Grid ----
    const Value& cell_value(std::uint32_t id) const override { return cells[id].value; }
    detail::Area cell_area(std::uint32_t id) const override {
        const detail::Place& p = places[id];
        return detail::Area{p.sheet, p.row, p.col, p.row, p.col};
    }
    const Value& value_at(int sheet, std::int32_t row, std::int32_t col) const override {
        static const Value empty;
        const std::uint32_t id = sheets[std::size_t(sheet)].cells.slot_at(row, col);
        return id == detail::none ? empty : cells[id].value;
    }
    bool slot_at(int sheet, std::int32_t row, std::int32_t col, std::uint32_t& id) const override {
        const auto& m = sheets[std::size_t(sheet)].cells;
        auto it = m.find(detail::key_of(row, col));
        if (it == m.end())
            return false;
        id = it->second;
        return true;
    }
    const std::vector<std::uint32_t>& cells_in(const detail::Area& a) const override {
        const detail::Sheet& s = sheets[std::size_t(a.sheet)];
        detail::CachedCells& cached = area_cells[detail::AreaKey{a}];
        if (cached.generation == s.generation)
            return cached.ids;
        cached.ids.clear();
        if (a.size() <= std::int64_t(s.cells.size()) * 2) {
            for (std::int32_t r = a.r1; r <= a.r2; ++r)
                for (std::int32_t c = a.c1; c <= a.c2; ++c) {
                    auto it = s.cells.find(detail::key_of(r, c));
                    if (it != s.cells.end())
                        cached.ids.push_back(it->second);
                }
        } else {
            s.cells.each_slot([&](std::uint32_t id) {
                const detail::Place& p = places[id];
                if (a.contains(p.row, p.col))
                    cached.ids.push_back(id);
            });
            std::sort(cached.ids.begin(), cached.ids.end(), [&](std::uint32_t x, std::uint32_t y) {
                const detail::Place& p = places[x];
                const detail::Place& q = places[y];
                return p.row != q.row ? p.row < q.row : p.col < q.col;
            });
        }
        cached.generation = s.generation;
        return cached.ids;
    }
    const std::vector<std::uint32_t>* slots_by_position(const detail::Area& a) const override {
        constexpr std::size_t most = std::size_t(1) << 24; // 64 MB of slots over every area kept
        const std::size_t size = std::size_t(a.size());
        if (size > most / 4)
            return nullptr;
        const detail::Sheet& s = sheets[std::size_t(a.sheet)];
        auto found = area_positions.find(detail::AreaKey{a});
        if (found != area_positions.end() && found->second.generation == s.generation)
            return &found->second.ids;
        if (found == area_positions.end() && area_positions_kept + size > most) {
            area_positions.clear();
            area_positions_kept = 0;
        }
        detail::CachedCells& cached = area_positions[detail::AreaKey{a}];
        if (cached.ids.empty())
            area_positions_kept += size;
        cached.ids.assign(size, detail::none);
        const std::size_t cols = std::size_t(a.c2 - a.c1 + 1);
        for (std::uint32_t id : cells_in(a)) {
            const detail::Place& p = places[id];
            cached.ids[std::size_t(p.row - a.r1) * cols + std::size_t(p.col - a.c1)] = id;
        }
        cached.generation = s.generation;
        return &cached.ids;
    }
    bool date1904() const override { return dates_from_1904; }
    bool fixed_now(double& serial) const override {
        serial = fixed_now_serial;
        return fixed_now_serial >= 0;
    }
    const detail::LookupIndex* lookup_index(const detail::Area& a) const override;
    // Each write of a cell's value, by the user or a calculation, goes through here.
    OMBRIX_ALWAYS_INLINE void touched(std::uint32_t id) { lookup_indexes.touched(places[id].sheet, places[id].col); }
    const detail::Linked* name_program(std::uint32_t name, bool array) const override {
        return !names[name].defined ? nullptr : array ? &names[name].array_linked : &names[name].linked;
    }
    const detail::Linked* visible_name(std::string_view name, int sheet, bool sheet_only) const override;
    int sheet_index(std::string_view name) const override { return find_sheet(name); }
    const detail::Linked* cell_program(std::uint32_t id) const override {
        const std::uint32_t fi = cells[id].formula;
        if (detail::is_compact(fi))
            return &shapes[compact_formulas[fi & ~detail::compact_bit].shape].program;
        return fi == detail::none ? nullptr : &formulas[fi].linked;
    }
    std::string_view cell_formula(std::uint32_t id) const override {
        const std::uint32_t fi = cells[id].formula;
        if (detail::is_compact(fi))
            return formula_scratch = compact_text(id);
        return fi == detail::none ? std::string_view() : std::string_view(formulas[fi].text);
    }
    bool legacy_array(std::uint32_t& id) const override {
        const std::uint32_t fi = cells[id].formula;
        if (fi == detail::none || detail::is_compact(fi))
            return false;
        const std::uint32_t anchor = formulas[fi].anchor == detail::none ? id : formulas[fi].anchor;
        const std::uint32_t afi = cells[anchor].formula;
        if (afi == detail::none || detail::is_compact(afi) || !formulas[afi].array || formulas[afi].spills)
            return false;
        id = anchor;
        return true;
    }
    int sheet_count() const override { return int(sheets.size()); }
    std::string file_name_of(int sheet) const override {
        if (file_path.empty() || sheet < 0 || std::size_t(sheet) >= sheets.size())
            return {};
        const std::size_t slash = file_path.find_last_of("/\\");
        const std::size_t base = slash == std::string::npos ? 0 : slash + 1;
        return file_path.substr(0, base) + "[" + file_path.substr(base) + "]" + sheets[std::size_t(sheet)].name;
    }
    RowHidden row_hidden(int sheet, std::int32_t row) const override {
        if (hidden_rows.empty())
            return RowHidden::No;
        auto it = hidden_rows.find({sheet, row});
        return it == hidden_rows.end() ? RowHidden::No : it->second;
    }
    double column_width(int sheet, std::int32_t col) const override {
        auto w = widths.find(sheet);
        if (w == widths.end())
            return 8.43;
        auto span = w->second.spans.upper_bound(col);
        if (span != w->second.spans.begin() && col <= (--span)->second.first)
            return span->second.second;
        return w->second.fallback;
    }
    bool spill_area(std::uint32_t id, detail::Area& out, Value& error) const override;

    // ---- cells (Workbook.cpp) ----
    void check(const CellAddress& a) const;
    std::uint32_t find(const CellAddress& a) const;
    std::uint32_t slot(int sheet, std::int32_t row, std::int32_t col);
    int find_sheet(std::string_view name) const;
    CellAddress address(std::uint32_t id) const;
    void set_formula(const CellAddress& a, std::string_view text, bool array, bool spills, std::int32_t rows,
                     std::int32_t cols);
    const detail::Formula* formula_at(const CellAddress& a) const;
    std::uint32_t new_formula();
    // The anchor of the array formula that the cell is a member of, or none.
    std::uint32_t anchor_of(std::uint32_t id) const {
        const std::uint32_t fi = cells[id].formula;
        return fi == detail::none || detail::is_compact(fi) ? detail::none : formulas[fi].anchor;
    }

    // ---- formulas of one shape (WorkbookShapes.cpp) ----
    std::vector<detail::CompactFormula> compact_formulas;
    std::vector<std::uint32_t> free_compact;
    std::vector<std::uint32_t> operand_slots;
    std::map<std::uint32_t, std::vector<std::uint32_t>> free_operands; // by count: where they were
    std::vector<detail::Shape> shapes;
    std::unordered_map<std::size_t, std::vector<std::uint32_t>> shapes_by_key; // by the key's hash
    std::unordered_map<std::size_t, std::uint32_t> lone_formulas;              // by key hash: a formula of no shape yet
    mutable std::string formula_scratch;

    void share_shape(std::uint32_t fi);
    bool compactable(const detail::Formula& f, detail::NumericProgram& shaped, std::vector<std::uint32_t>& slots,
                     std::string& key) const;
    void make_compact(std::uint32_t fi, std::uint32_t shape, const std::vector<std::uint32_t>& slots);
    void place_compact(std::uint32_t id, std::uint32_t shape, const std::vector<std::uint32_t>& slots);
    void describe_references(detail::Shape& s, const detail::Formula& founder,
                             const std::vector<std::uint32_t>& slots) const;
    bool place_shape(const CellAddress& a, const CellAddress& from);
    std::vector<std::uint64_t> shape_scratch;
    std::vector<std::uint32_t> slots_scratch;
    detail::Reads reads_scratch;
    bool evaluate_compact(std::uint32_t id);
    void evaluate_batch(const std::uint32_t* ids, std::uint32_t count);
    std::uint32_t expand(std::uint32_t id);
    void remove_compact(std::uint32_t id);
    std::string compact_text(std::uint32_t id) const;
    detail::Reads compact_reads(std::uint32_t id) const;

    // ---- array formulas and spills (WorkbookArrays.cpp) ----
    static Value element(const detail::Array& a, std::int32_t r, std::int32_t c);
    void add_member(std::uint32_t anchor_cell, std::uint32_t slot_id, std::int32_t r, std::int32_t c);
    void drop_member(std::uint32_t slot_id);
    bool occupied(int sheet, std::int32_t row, std::int32_t col, std::uint32_t anchor_cell) const;
    // Whether the area shares a cell with a merged block.
    bool meets_merged(const detail::Area& area);
    void place_array(std::uint32_t id, std::shared_ptr<const detail::Array> result);

    // ---- data tables (WorkbookDataTables.cpp) ----
    int data_table_depth = 0; // tables computed inside the calculation of another
    std::vector<detail::Area> data_table_reads(const DataTableDef& table) const;
    void evaluate_data_table(std::uint32_t id);
    std::vector<std::uint32_t> substitution_order(const std::vector<std::uint32_t>& formulas,
                                                  const std::vector<std::uint32_t>& inputs, const detail::Area& table);

    // ---- linked workbooks (WorkbookLinks.cpp) ----
    std::map<int, std::shared_ptr<const detail::LinkedCopy>> linked_books; // by number
    // The value of an external reference as the copy holds it: a value, or an array for a range.
    bool linked_value(const detail::SymRef& r, Value& value, std::shared_ptr<const detail::Array>& array) const;
    void link_external(const detail::SymRef& r, std::uint32_t ref, detail::Linked& l) const;

    // ---- names (WorkbookNames.cpp) ----
    static std::string name_key(const std::string& upper, int sheet);
    std::uint32_t name_slot(const std::string& upper, int sheet = -1);
    std::uint32_t resolve_name(const std::string& upper, int sheet);

    // ---- linking (WorkbookLinking.cpp) ----
    detail::LinkedRef link_table(const detail::SymRef& r, std::int32_t row, bool& unresolved);
    detail::Linked link(const detail::Program& p, int sheet, int scope, bool& unresolved, std::int32_t row = -1,
                        std::int32_t col = -1);
    std::uint32_t moved_name(std::uint32_t name, std::int32_t row, std::int32_t col);
    void add_read(detail::Formula& f, const detail::Area& a);
    void gather(const detail::Linked& l, detail::Formula& f, int depth, std::vector<std::uint32_t>& seen_names);
    void register_formula(std::uint32_t fi);
    void unregister_formula(std::uint32_t fi);
    void install(std::uint32_t fi, const detail::Program& p);
    void compile(detail::Formula& f);
    void remove_formula(std::uint32_t id);
    void relink_where(bool (*pred)(const detail::Formula&));
    void relink_names();
    bool builds_references(const detail::Linked& l, std::vector<std::uint8_t>& seen_names) const;

    // ---- recalculation (WorkbookRecalc.cpp) ----
    // A formula that the numeric form keeps handing back is left to the general evaluator.
    static constexpr std::int32_t max_numeric_misses = 16;

    void evaluate(std::uint32_t id);
    __attribute__((noinline)) void evaluate_general(std::uint32_t id);
    void keep_format_warnings(std::uint32_t id);
    void rewire_if_built(std::uint32_t id, std::vector<detail::Area>& built);
    static bool same_areas(std::vector<detail::Area>& a, const std::vector<detail::Area>& b);
    void arrange(std::vector<std::uint32_t>& order) const;
    // Lays the compact formulas and their operands out in the order's sequence where the order
    // runs most of them, so that a recalculation reads them front to back.
    void pack_compact(const std::vector<std::uint32_t>& order);
    static constexpr std::size_t packed_minimum = 4096;
    // The group a cell runs with in lanes: its numbers-only shape, or none.
    std::uint32_t batch_group(std::uint32_t id) const;
    static void arrange_order(void* impl, std::vector<std::uint32_t>& order);
    void run(const std::vector<std::uint32_t>& order);
    void run_cycle(const std::vector<std::uint32_t>& ids);

    // A circular reference of the graph may be none: it counts every cell a reference could
    // name (INDEX(A:A,ROW()-1) all of column A), but which cells a formula reads is known only
    // as it runs. While its cells are computed one by one (resolve_cycle()), formulas run on
    // `noting`, which reads as the workbook does and lands each read of a cell of the group
    // not yet computed (by `cycle_state`, per slot) in `reads_pending`; the usual path pays
    // nothing for it.
    enum CycleState : std::uint8_t { Outside, Pending, Waiting, Done, Cyclic };
    bool resolving = false;
    std::vector<std::uint8_t> cycle_state;
    mutable std::vector<std::uint32_t> reads_pending;
    // The cells of the graph's circular references that the last calculation found in none.
    std::unordered_set<std::uint32_t> acyclic;
    // What each formula of the graph's circular references held when it first joined one: the
    // value its file cached, or nothing for a formula just set (marked by an empty seed, the
    // cell keeping what it showed until it is calculated). Without iteration a cell of a real
    // cycle shows it, whatever it computed since, so that no result depends on the
    // calculations before (a cell may be in a cycle for some inputs only).
    std::unordered_map<std::uint32_t, Value> cycle_seeds;
    void forget_seed(std::uint32_t id) {
        if (!cells[id].value.is_empty()) // an empty cell joins a cycle as nothing anyway
            cycle_seeds[id] = Value();
        else if (!cycle_seeds.empty())
            cycle_seeds.erase(id);
    }
    void note_read(std::uint32_t id) const {
        if (id < cycle_state.size() && cycle_state[id] != Outside && cycle_state[id] != Done)
            reads_pending.push_back(id);
    }
    struct NotingGrid final : detail::Grid {
        const Impl& m;
        explicit NotingGrid(const Impl& m) : m(m) {}
        const Value& cell_value(std::uint32_t id) const override {
            m.note_read(id);
            return m.cell_value(id);
        }
        detail::Area cell_area(std::uint32_t id) const override { return m.cell_area(id); }
        const Value& value_at(int sheet, std::int32_t row, std::int32_t col) const override {
            const auto& cells = m.sheets[std::size_t(sheet)].cells;
            auto it = cells.find(detail::key_of(row, col));
            if (it != cells.end())
                m.note_read(it->second);
            return m.value_at(sheet, row, col);
        }
        bool slot_at(int sheet, std::int32_t row, std::int32_t col, std::uint32_t& id) const override {
            return m.slot_at(sheet, row, col, id);
        }
        const std::vector<std::uint32_t>& cells_in(const detail::Area& a) const override {
            const std::vector<std::uint32_t>& ids = m.cells_in(a);
            for (std::uint32_t id : ids)
                m.note_read(id);
            return ids;
        }
        bool date1904() const override { return m.date1904(); }
        bool fixed_now(double& serial) const override { return m.fixed_now(serial); }
        const detail::LookupIndex* lookup_index(const detail::Area&) const override { return nullptr; }
        const detail::Linked* name_program(std::uint32_t name, bool array) const override {
            return m.name_program(name, array);
        }
        const detail::Linked* visible_name(std::string_view name, int sheet, bool sheet_only) const override {
            return m.visible_name(name, sheet, sheet_only);
        }
        int sheet_index(std::string_view name) const override { return m.sheet_index(name); }
        const detail::Linked* cell_program(std::uint32_t id) const override { return m.cell_program(id); }
        std::string_view cell_formula(std::uint32_t id) const override { return m.cell_formula(id); }
        bool legacy_array(std::uint32_t& id) const override { return m.legacy_array(id); }
        int sheet_count() const override { return m.sheet_count(); }
        std::string file_name_of(int sheet) const override { return m.file_name_of(sheet); }
        RowHidden row_hidden(int sheet, std::int32_t row) const override { return m.row_hidden(sheet, row); }
        double column_width(int sheet, std::int32_t col) const override { return m.column_width(sheet, col); }
        bool spill_area(std::uint32_t id, detail::Area& out, Value& error) const override {
            return m.spill_area(id, out, error);
        }
    };
    NotingGrid noting{*this};
    detail::Evaluator noting_evaluator{noting};
    std::vector<std::uint32_t> resolve_cycle(const std::uint32_t* entries, std::size_t n);

    CalcSettings settings;

    void recalculate();

    // A reference built at run time may have been read before its cell was brought up to
    // date; once the graph knows it, the volatile cells run again in the right order.
    static constexpr int max_rewired_passes = 8;
    bool rewired = false;

    void again_if_rewired();
    // Whether the slot holds a formula: the roots of a full recalculation's ordering.
    static bool has_formula(const void* impl, std::uint32_t id);
    // From this many formula cells on, a full recalculation gives its scratch pages back.
    static constexpr std::size_t large_order = std::size_t(1) << 16;
    void recalculate_all();
    void after_write();

    // The values a recalculation gave after set_values() wrote numbers into the same cells,
    // kept by those numbers: writing a set already seen restores them instead of computing
    // them again. Only while nothing else changes, in a workbook with no volatile function,
    // and where the cells recalculated are plain formulas (no circular reference, no array)
    // whose values are numbers.
    struct Memo {
        std::size_t budget = 0;             // bytes; 0: off
        std::uint64_t stamp = 0;            // Dependencies::changes() after the last write it saw
        bool usable = false;                // inputs and outputs stand for the workbook as it is
        std::vector<std::uint32_t> inputs;  // the cells written, in the order written
        std::vector<std::uint32_t> outputs; // the formula cells a write of the inputs recalculates
        std::size_t capacity = 0;           // entries that fit the budget
        std::vector<std::uint64_t> keys;    // per entry, the inputs' bits
        std::vector<double> numbers;        // per entry, the outputs' values (all numbers)
        std::unordered_multimap<std::uint64_t, std::uint32_t> by_hash;
        std::vector<std::uint64_t> hashes; // per entry
        std::size_t next = 0;              // the entry to fill (or replace) next
        std::uint64_t recalled = 0;
        void forget() {
            usable = false;
            inputs.clear();
            outputs.clear();
            keys.clear();
            numbers.clear();
            by_hash.clear();
            hashes.clear();
            next = 0;
        }
    } memo;
    bool memo_recall(const std::vector<std::pair<CellAddress, Value>>& cells);
    void memo_keep(const std::vector<std::pair<CellAddress, Value>>& cells, std::uint64_t stamp_before);
};

} // namespace host::engine

#endif
