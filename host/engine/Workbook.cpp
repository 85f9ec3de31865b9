#include "engine/Workbook.hpp"

#include "engine/Dependencies.hpp"
#include "engine/Eval.hpp"
#include "engine/Numeric.hpp"
#include "engine/Program.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <tuple>
#include <unordered_map>

namespace host::engine {

using namespace detail;

namespace {

constexpr std::uint32_t none = 0xFFFFFFFFu;

std::uint64_t key_of(std::int32_t row, std::int32_t col) {
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
    std::vector<Area> blocked;   // the cells that kept a spill out, read to learn when they empty
    // A member: element (at_row, at_col) of the array formula in cell `anchor`.
    std::uint32_t anchor = none;
    std::int32_t at_row = 0, at_col = 0;
    bool uses_names = false;
    bool uses_tables = false;
    bool unresolved = false;    // refers to a sheet that does not exist (yet)
    bool has_unknown = false;
    bool is_volatile = false;   // calls a volatile function, itself or through a name
    std::vector<Area> built;    // the references OFFSET and INDIRECT gave when last computed
    Reads reads;
    NumericProgram numeric;     // empty: the general evaluator only
    std::int32_t numeric_misses = 0;
};

struct NameDef {
    std::string name;    // as defined
    int sheet = -1;      // the sheet it belongs to; -1: the workbook's
    std::string text;
    bool defined = false;
    Program program;
    Linked linked;
};

struct Sheet {
    std::string name;
    std::unordered_map<std::uint64_t, std::uint32_t> cells;
    std::uint64_t generation = 0;                   // bumped when a cell slot is added
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

bool calls_volatile(const std::vector<Instr>& code) {
    const auto& list = functions();
    for (const Instr& in : code)
        if (in.op == Op::Call && (list[in.operand].flags & FnVolatile))
            return true;
    return false;
}

bool valid_sheet_name(const std::string& name) {
    if (name.empty() || name.size() > 31 || name.front() == '\'' || name.back() == '\'')
        return false;
    return name.find_first_of("[]:*?/\\") == std::string::npos;
}

bool valid_name(const std::string& name) {
    if (name.empty() || name.size() > 255)
        return false;
    unsigned char first = static_cast<unsigned char>(name[0]);
    if (!(std::isalpha(first) || first == '_' || first == '\\' || first >= 0x80))
        return false;
    for (char ch : name) {
        unsigned char u = static_cast<unsigned char>(ch);
        if (!(std::isalnum(u) || u == '_' || u == '.' || u == '\\' || u >= 0x80))
            return false;
    }
    std::int32_t r, c;
    if (parse_a1(name, r, c) || iequals(name, "TRUE") || iequals(name, "FALSE"))
        return false;
    return true;
}

} // namespace

struct Workbook::Impl final : Grid {
    std::vector<Sheet> sheets;
    std::vector<Cell> cells;
    std::vector<Place> places;   // of each cell slot
    std::vector<Formula> formulas;
    std::vector<std::uint32_t> free_formulas;
    std::vector<NameDef> names;
    std::vector<std::uint32_t> volatile_cells;
    std::vector<TableDef> tables;   // formula cells recomputed on every recalculation
    std::unordered_map<std::string, std::uint32_t> name_index;   // upper case; "3!NAME" for sheet 3's
    int active = 0;
    bool automatic = false;

    Dependencies dependencies{places};
    mutable std::unordered_map<AreaKey, CachedCells, AreaHash> area_cells;

    std::uint64_t evaluations = 0;
    Evaluator evaluator{*this};
    bool dates_from_1904 = false;
    std::map<std::uint32_t, std::vector<std::string>> format_warnings;   // by cell slot

    // ---- Grid ----
    const Value& cell_value(std::uint32_t id) const override { return cells[id].value; }
    Area cell_area(std::uint32_t id) const override {
        const Place& p = places[id];
        return Area{p.sheet, p.row, p.col, p.row, p.col};
    }
    const Value& value_at(int sheet, std::int32_t row, std::int32_t col) const override {
        static const Value empty;
        const auto& m = sheets[std::size_t(sheet)].cells;
        auto it = m.find(key_of(row, col));
        return it == m.end() ? empty : cells[it->second].value;
    }
    const std::vector<std::uint32_t>& cells_in(const Area& a) const override {
        const Sheet& s = sheets[std::size_t(a.sheet)];
        CachedCells& cached = area_cells[AreaKey{a}];
        if (cached.generation == s.generation)
            return cached.ids;
        cached.ids.clear();
        if (a.size() <= std::int64_t(s.cells.size()) * 2) {
            for (std::int32_t r = a.r1; r <= a.r2; ++r)
                for (std::int32_t c = a.c1; c <= a.c2; ++c) {
                    auto it = s.cells.find(key_of(r, c));
                    if (it != s.cells.end())
                        cached.ids.push_back(it->second);
                }
        } else {
            for (const auto& kv : s.cells) {
                const Place& p = places[kv.second];
                if (a.contains(p.row, p.col))
                    cached.ids.push_back(kv.second);
            }
            std::sort(cached.ids.begin(), cached.ids.end(), [&](std::uint32_t x, std::uint32_t y) {
                const Place& p = places[x];
                const Place& q = places[y];
                return p.row != q.row ? p.row < q.row : p.col < q.col;
            });
        }
        cached.generation = s.generation;
        return cached.ids;
    }
    bool date1904() const override { return dates_from_1904; }
    const Linked* name_program(std::uint32_t name) const override {
        return names[name].defined ? &names[name].linked : nullptr;
    }
    const Linked* visible_name(std::string_view name, int sheet, bool sheet_only) const override {
        const std::string upper = to_upper(name);
        auto defined = [&](const std::string& key) -> const Linked* {
            auto it = name_index.find(key);
            return it != name_index.end() && names[it->second].defined ? &names[it->second].linked : nullptr;
        };
        if (const Linked* own = defined(name_key(upper, sheet)))
            return own;
        return sheet_only ? nullptr : defined(upper);
    }
    int sheet_index(std::string_view name) const override { return find_sheet(name); }
    bool spill_area(std::uint32_t id, Area& out, Value& error) const override {
        std::uint32_t fi = cells[id].formula;
        if (fi == none || !formulas[fi].array || formulas[fi].anchor != none) {
            error = Value::error(ErrorCode::Ref);
            return false;
        }
        const Formula& f = formulas[fi];
        if (cells[id].value.is_error() && cells[id].value.as_error() == ErrorCode::Spill) {
            error = cells[id].value;
            return false;
        }
        const Place& p = places[id];
        out = Area{p.sheet, p.row, p.col, p.row, p.col};
        if (!f.spills) {
            out.r2 = p.row + f.rows - 1, out.c2 = p.col + f.cols - 1;
            return true;
        }
        for (std::uint32_t m : f.members) {
            out.r2 = std::max(out.r2, places[m].row);
            out.c2 = std::max(out.c2, places[m].col);
        }
        return true;
    }
    const Linked* cell_program(std::uint32_t id) const override {
        return cells[id].formula == none ? nullptr : &formulas[cells[id].formula].linked;
    }

    // ---- cells ----
    void check(const CellAddress& a) const {
        if (a.sheet < 0 || a.sheet >= int(sheets.size()))
            throw EngineError("There is no sheet number " + std::to_string(a.sheet + 1) + " in the workbook");
        if (a.row < 0 || a.row >= max_rows || a.col < 0 || a.col >= max_columns)
            throw EngineError("The cell at row " + std::to_string(std::int64_t(a.row) + 1) + ", column " +
                              std::to_string(std::int64_t(a.col) + 1) + " is outside the sheet");
    }

    std::uint32_t find(const CellAddress& a) const {
        if (a.sheet < 0 || a.sheet >= int(sheets.size()))
            return none;
        const auto& m = sheets[std::size_t(a.sheet)].cells;
        auto it = m.find(key_of(a.row, a.col));
        return it == m.end() ? none : it->second;
    }

    std::uint32_t slot(int sheet, std::int32_t row, std::int32_t col) {
        Sheet& s = sheets[std::size_t(sheet)];
        const std::uint32_t id = static_cast<std::uint32_t>(cells.size());
        auto [it, added] = s.cells.try_emplace(key_of(row, col), id);
        if (!added)
            return it->second;
        try {
            cells.emplace_back();
            places.push_back(Place{sheet, row, col});
            dependencies.add_slot();
        } catch (...) {   // out of memory: no half-made slot for the next cell to share
            s.cells.erase(it);
            cells.resize(id);
            places.resize(id);
            throw;
        }
        ++s.generation;
        return id;
    }

    // ---- linking ----
    static std::string name_key(const std::string& upper, int sheet) {
        return sheet < 0 ? upper : std::to_string(sheet) + "!" + upper;
    }

    std::uint32_t name_slot(const std::string& upper, int sheet = -1) {
        std::string key = name_key(upper, sheet);
        auto it = name_index.find(key);
        if (it != name_index.end())
            return it->second;
        std::uint32_t id = static_cast<std::uint32_t>(names.size());
        names.emplace_back();
        names.back().name = upper;
        names.back().sheet = sheet;
        name_index.emplace(key, id);
        return id;
    }

    // A name as a formula on `sheet` sees it: the sheet's own name of that spelling wins
    // over the workbook's.
    std::uint32_t resolve_name(const std::string& upper, int sheet) {
        if (sheet >= 0) {
            auto it = name_index.find(name_key(upper, sheet));
            if (it != name_index.end() && names[it->second].defined)
                return it->second;
        }
        return name_slot(upper);
    }

    // Resolves the program's references; `sheet` is the formula's own sheet (-1 for names).
    // Sales[...]: the cells of table `r.table` that the part in brackets names, for a formula
    // in `row` (-1: not in a cell).
    LinkedRef link_table(const SymRef& r, std::int32_t row, bool& unresolved) {
        LinkedRef lr;
        const TableDef* t = nullptr;
        for (const TableDef& d : tables)
            if (iequals(d.name, r.table()))
                t = &d;
        if (!t) {
            unresolved = true;
            return lr;
        }
        // The bracketed items, each unescaped ('x is x), with the separator before it.
        std::vector<std::pair<char, std::string>> items;
        std::string_view inside = r.table_spec();
        auto trim = [](std::string_view v) {
            while (!v.empty() && v.front() == ' ')
                v.remove_prefix(1);
            while (!v.empty() && v.back() == ' ')
                v.remove_suffix(1);
            return v;
        };
        auto unescape = [](std::string_view v) {
            std::string out;
            for (std::size_t i = 0; i < v.size(); ++i) {
                if (v[i] == '\'' && i + 1 < v.size())
                    ++i;
                out += v[i];
            }
            return out;
        };
        inside = trim(inside);
        bool this_row = false;
        if (!inside.empty() && inside[0] == '@') {
            this_row = true;
            inside = trim(inside.substr(1));
        }
        if (!inside.empty() && inside[0] != '[') {
            items.emplace_back(',', unescape(inside));
        } else {
            char sep = ',';
            std::size_t i = 0;
            while (i < inside.size()) {
                if (inside[i] == ' ') {
                    ++i;
                    continue;
                }
                if (inside[i] == ',' || inside[i] == ':') {
                    sep = inside[i++];
                    continue;
                }
                if (inside[i] != '[')
                    return lr;
                std::size_t j = i + 1;
                while (j < inside.size() && inside[j] != ']')
                    j += inside[j] == '\'' ? 2 : 1;
                if (j >= inside.size())
                    return lr;
                items.emplace_back(sep, unescape(inside.substr(i + 1, j - i - 1)));
                sep = ',';
                i = j + 1;
            }
        }
        bool all = false, headers = false, data = false, totals = false;
        std::int32_t c1 = -1, c2 = -1;
        for (const auto& item : items) {
            const std::string& text = item.second;
            if (!text.empty() && text[0] == '#') {
                if (iequals(text, "#All")) all = true;
                else if (iequals(text, "#Headers")) headers = true;
                else if (iequals(text, "#Data")) data = true;
                else if (iequals(text, "#Totals")) totals = true;
                else if (iequals(text, "#This Row")) this_row = true;
                else return lr;
                continue;
            }
            std::int32_t k = 0;
            while (k < std::int32_t(t->columns.size()) && !iequals(t->columns[std::size_t(k)], text))
                ++k;
            if (k == std::int32_t(t->columns.size()))
                return lr;
            if (item.first == ':' && c1 >= 0) {
                c2 = std::max(c1, k);
                c1 = std::min(c1, k);
            } else {
                c1 = c2 = k;
            }
        }
        std::int32_t d1 = t->first_row + (t->header_row ? 1 : 0), d2 = t->last_row - (t->totals_row ? 1 : 0);
        std::int32_t r1 = d1, r2 = d2;
        if (all) {
            r1 = t->first_row, r2 = t->last_row;
        } else if (this_row) {
            if (row < d1 || row > d2) {
                lr.error = ErrorCode::Value;
                return lr;
            }
            r1 = r2 = row;
        } else if (headers || totals) {
            if ((headers && !t->header_row) || (totals && !t->totals_row))
                return lr;
            r1 = headers ? t->first_row : data ? d1 : t->last_row;
            r2 = totals ? t->last_row : data ? d2 : t->first_row;
            if (headers && totals && !data)
                return lr;
        }
        if (r2 < r1)
            return lr;
        Area a{t->sheet, r1, t->first_col, r2, t->last_col};
        if (c1 >= 0)
            a.c1 = t->first_col + c1, a.c2 = t->first_col + c2;
        if (a.r1 == a.r2 && a.c1 == a.c2) {
            lr.kind = LinkedRef::Cell;
            lr.cell = slot(a.sheet, a.r1, a.c1);
        } else {
            lr.kind = LinkedRef::Range;
            lr.area = a;
        }
        return lr;
    }

    // `scope`: the sheet whose own names the program sees (-1: the workbook's only); `row`:
    // the formula's row, for tables' [#This Row].
    Linked link(const Program& p, int sheet, int scope, bool& unresolved, std::int32_t row = -1) {
        Linked l;
        l.code = p.code;
        l.consts = p.consts;
        l.arrays = p.arrays;
        l.locals = p.locals;
        for (const SymRef& r : p.refs) {
            if (!r.table().empty()) {
                l.refs.push_back(link_table(r, row, unresolved));
                continue;
            }
            LinkedRef lr;
            int s = sheet;
            if (!r.sheet.empty()) {
                s = find_sheet(r.sheet);
                if (s < 0 && !r.external)
                    unresolved = true;
            }
            int last = s;
            if (!r.last_sheet().empty()) {
                last = find_sheet(r.last_sheet());
                if (last < 0)
                    unresolved = true;
            }
            if (r.invalid || r.external || s < 0 || last < 0) {
                lr.kind = LinkedRef::Error;
            } else if (last != s) {
                lr.kind = LinkedRef::Sheets;
                lr.area = Area{std::min(s, last), r.r1, r.c1, r.r2, r.c2};
                lr.last_sheet = std::max(s, last);
            } else if (r.single()) {
                lr.kind = LinkedRef::Cell;
                lr.cell = slot(s, r.r1, r.c1);
            } else {
                lr.kind = LinkedRef::Range;
                lr.area = Area{s, r.r1, r.c1, r.r2, r.c2};
            }
            l.refs.push_back(lr);
        }
        for (const std::string& n : p.names)
            l.names.push_back(resolve_name(n, scope));
        return l;
    }

    int find_sheet(std::string_view name) const {
        for (std::size_t i = 0; i < sheets.size(); ++i)
            if (iequals(sheets[i].name, name))
                return int(i);
        return -1;
    }

    void add_read(Formula& f, const Area& a) {
        if (a.size() <= small_range) {
            for (std::int32_t row = a.r1; row <= a.r2; ++row)
                for (std::int32_t col = a.c1; col <= a.c2; ++col)
                    f.reads.cells.push_back(slot(a.sheet, row, col));
        } else {
            f.reads.ranges.push_back(a);
        }
    }

    void gather(const Linked& l, Formula& f, int depth, std::vector<std::uint32_t>& seen_names) {
        for (const LinkedRef& r : l.refs) {
            if (r.kind == LinkedRef::Cell) {
                f.reads.cells.push_back(r.cell);
            } else if (r.kind == LinkedRef::Range) {
                add_read(f, r.area);
            } else if (r.kind == LinkedRef::Sheets) {
                for (int s = r.area.sheet; s <= r.last_sheet; ++s) {
                    Area a = r.area;
                    a.sheet = s;
                    add_read(f, a);
                }
            }
        }
        if (depth > 32)
            return;
        for (std::uint32_t n : l.names) {
            if (std::find(seen_names.begin(), seen_names.end(), n) != seen_names.end())
                continue;
            seen_names.push_back(n);
            if (names[n].defined) {
                f.is_volatile = f.is_volatile || calls_volatile(names[n].linked.code);
                gather(names[n].linked, f, depth + 1, seen_names);
            }
        }
    }

    // Works out what the linked formula reads (through names too) and indexes it.
    void register_formula(std::uint32_t fi) {
        Formula& f = formulas[fi];
        f.reads = Reads();
        f.is_volatile = calls_volatile(f.linked.code);
        std::vector<std::uint32_t> seen;
        gather(f.linked, f, 0, seen);
        for (const Area& a : f.built)
            add_read(f, a);
        for (const Area& a : f.blocked)
            add_read(f, a);
        if (f.is_volatile)
            volatile_cells.push_back(f.cell);
        std::vector<std::uint32_t>& read = f.reads.cells;
        std::sort(read.begin(), read.end());
        read.erase(std::unique(read.begin(), read.end()), read.end());
        dependencies.add(f.cell, f.reads);
    }

    void unregister_formula(std::uint32_t fi) {
        Formula& f = formulas[fi];
        dependencies.remove(f.cell, f.reads);
        f.reads = Reads();
        if (f.is_volatile)
            volatile_cells.erase(std::remove(volatile_cells.begin(), volatile_cells.end(), f.cell),
                                 volatile_cells.end());
        f.is_volatile = false;
    }

    // Parses (already parsed: `p`) and links formula fi, then registers its dependencies.
    void install(std::uint32_t fi, const Program& p) {
        int sheet = places[formulas[fi].cell].sheet;
        bool unresolved = false;
        Linked l = link(p, sheet, sheet, unresolved, places[formulas[fi].cell].row);
        Formula& g = formulas[fi];   // link() may add cells but not formulas
        g.linked = std::move(l);
        g.unresolved = unresolved;
        g.uses_names = !p.names.empty();
        g.uses_tables = std::any_of(p.refs.begin(), p.refs.end(), [](const SymRef& r) { return !r.table().empty(); });
        g.has_unknown = !p.unknown_functions.empty();
        register_formula(fi);
        compile(formulas[fi]);
    }

    // The numeric form, where the formula has one. Small ranges have every slot already
    // (register_formula made them), so their cells are listed once here.
    void compile(Formula& f) {
        f.numeric_misses = 0;
        if (f.array || f.uses_names) {
            f.numeric = NumericProgram();
            return;
        }
        auto cells_of = [this](const Area& a, std::vector<std::uint32_t>& ids) {
            if (a.size() > small_range)
                return false;
            const auto& m = sheets[std::size_t(a.sheet)].cells;
            for (std::int32_t r = a.r1; r <= a.r2; ++r)
                for (std::int32_t c = a.c1; c <= a.c2; ++c) {
                    auto it = m.find(key_of(r, c));
                    if (it == m.end())
                        return false;
                    ids.push_back(it->second);
                }
            return true;
        };
        compile_numeric(f.linked, cells_of, f.numeric);
    }

    void remove_formula(std::uint32_t id) {
        std::uint32_t fi = cells[id].formula;
        if (fi == none)
            return;
        if (formulas[fi].anchor != none)   // the array loses this cell: it shows #SPILL! or goes on
            dependencies.mark_changed(formulas[fi].anchor);
        std::vector<std::uint32_t> members = std::move(formulas[fi].members);
        for (std::uint32_t m : members)
            drop_member(m);
        unregister_formula(fi);
        formulas[fi] = Formula();
        free_formulas.push_back(fi);
        cells[id].formula = none;
    }

    void relink_where(bool (*pred)(const Formula&)) {
        for (std::uint32_t fi = 0; fi < formulas.size(); ++fi) {
            Formula& f = formulas[fi];
            if (f.cell == none || f.anchor != none || !pred(f))
                continue;
            unregister_formula(fi);
            Program p = parse(f.text, f.array);
            install(fi, p);
            dependencies.mark_changed(formulas[fi].cell);
        }
    }

    void relink_names() {
        // Create every name the definitions mention first: linking must not grow `names`
        // while it reads a definition in it.
        for (std::size_t i = 0; i < names.size(); ++i)
            if (names[i].defined)
                for (std::size_t k = 0; k < names[i].program.names.size(); ++k)
                    name_slot(std::string(names[i].program.names[k]));
        for (NameDef& n : names) {
            if (!n.defined)
                continue;
            bool unresolved = false;
            n.linked = link(n.program, n.sheet >= 0 ? n.sheet : active, n.sheet, unresolved);
        }
    }

    // ---- recalculation ----
    // A formula that the numeric form keeps handing back is left to the general evaluator.
    static constexpr std::int32_t max_numeric_misses = 16;

    void evaluate(std::uint32_t id) {
        Cell& c = cells[id];
        Formula& f = formulas[c.formula];
        ++evaluations;
        if (!f.numeric.empty()) {
            Value& out = c.value;
            bool done = run_numeric(
                f.numeric, [this](std::uint32_t k) -> const Value& { return cells[k].value; },
                [this](const Area& a) -> const std::vector<std::uint32_t>& { return cells_in(a); }, out);
            if (done) {
                if (f.numeric_misses > 0)
                    --f.numeric_misses;
                return;
            }
            if (++f.numeric_misses >= max_numeric_misses)
                f.numeric = NumericProgram();
        }
        evaluate_general(id);
    }

    // ---- arrays ----
    std::uint32_t new_formula() {
        if (!free_formulas.empty()) {
            std::uint32_t fi = free_formulas.back();
            free_formulas.pop_back();
            return fi;
        }
        formulas.emplace_back();
        return static_cast<std::uint32_t>(formulas.size() - 1);
    }

    // Element (r, c) of an array formula's result where it fills `rows` x `cols` cells: a
    // single row or column repeats, as the spreadsheet fills a legacy array's range; #N/A
    // beyond the result.
    static Value element(const Array& a, std::int32_t r, std::int32_t c) {
        if (a.rows == 1)
            r = 0;
        if (a.cols == 1)
            c = 0;
        if (r >= a.rows || c >= a.cols)
            return Value::error(ErrorCode::NA);
        return a.at(r, c);
    }

    void add_member(std::uint32_t anchor_cell, std::uint32_t slot_id, std::int32_t r, std::int32_t c) {
        std::uint32_t fi = new_formula();
        Formula& m = formulas[fi];
        m.cell = slot_id;
        m.anchor = anchor_cell;
        m.at_row = r;
        m.at_col = c;
        m.reads.cells.push_back(anchor_cell);
        dependencies.add(slot_id, m.reads);
        cells[slot_id].formula = fi;
    }

    void drop_member(std::uint32_t slot_id) {
        std::uint32_t fi = cells[slot_id].formula;
        if (fi == none || formulas[fi].anchor == none)
            return;
        dependencies.remove(slot_id, formulas[fi].reads);
        formulas[fi] = Formula();
        free_formulas.push_back(fi);
        cells[slot_id].formula = none;
        cells[slot_id].value = Value();
        dependencies.mark_changed(slot_id);
    }

    // Whether the cell holds something of its own, which a spill may not cover.
    bool occupied(int sheet, std::int32_t row, std::int32_t col, std::uint32_t anchor_cell) const {
        std::uint32_t id = find(CellAddress{sheet, row, col});
        if (id == none || id == anchor_cell)
            return false;
        std::uint32_t fi = cells[id].formula;
        if (fi != none)
            return formulas[fi].anchor != anchor_cell;
        return !cells[id].value.is_empty();
    }

    // An array formula's result put in its cells: the members follow the result's shape when
    // the formula spills, and a spill that meets a filled cell is #SPILL!.
    void place_array(std::uint32_t id, std::shared_ptr<const Array> result) {
        const Place at = places[id];
        std::uint32_t fi = cells[id].formula;
        bool spills = formulas[fi].spills;
        std::int32_t rows = spills ? result->rows : formulas[fi].rows;
        std::int32_t cols = spills ? result->cols : formulas[fi].cols;
        Area want{at.sheet, at.row, at.col, at.row + rows - 1, at.col + cols - 1};
        std::vector<Area> blocked;   // the spill's cells but its own, when something is in the way
        bool off_grid = std::int64_t(at.row) + rows > max_rows || std::int64_t(at.col) + cols > max_columns;
        if (off_grid) {
            want.r2 = std::min(want.r2, max_rows - 1);
            want.c2 = std::min(want.c2, max_columns - 1);
        }
        bool in_the_way = false;
        for (std::int32_t r = want.r1; spills && !off_grid && r <= want.r2 && !in_the_way; ++r)
            for (std::int32_t c = want.c1; c <= want.c2 && !in_the_way; ++c)
                in_the_way = occupied(at.sheet, r, c, id);
        if (in_the_way) {
            if (want.c2 > want.c1)
                blocked.push_back(Area{at.sheet, want.r1, want.c1 + 1, want.r1, want.c2});
            if (want.r2 > want.r1)
                blocked.push_back(Area{at.sheet, want.r1 + 1, want.c1, want.r2, want.c2});
        }
        if (spills && (off_grid || in_the_way)) {
            result = std::make_shared<Array>(Array{1, 1, {Value::error(ErrorCode::Spill)}});
            want = Area{at.sheet, at.row, at.col, at.row, at.col};
        }
        // Members no longer covered go; new ones come, and what reads them runs again.
        std::vector<std::uint32_t> old = std::move(formulas[fi].members), kept;
        for (std::uint32_t m : old) {
            const Place& p = places[m];
            if (want.contains(p.row, p.col) && cells[m].formula != none && formulas[cells[m].formula].anchor == id)
                kept.push_back(m);
            else
                drop_member(m);
        }
        for (std::int32_t r = want.r1; r <= want.r2; ++r)
            for (std::int32_t c = want.c1; c <= want.c2; ++c) {
                if (r == at.row && c == at.col)
                    continue;
                std::uint32_t m = slot(at.sheet, r, c);
                if (cells[m].formula == none) {
                    if (!cells[m].value.is_empty() && !spills)
                        continue;   // a legacy array's cell overwritten since: it keeps its value
                    add_member(id, m, r - at.row, c - at.col);
                    dependencies.mark_changed(m);
                    rewired = true;
                    kept.push_back(m);
                } else if (formulas[cells[m].formula].anchor != id) {
                    continue;
                }
                cells[m].value = element(*result, r - at.row, c - at.col);
            }
        Formula& f = formulas[fi];
        f.members = std::move(kept);
        cells[id].value = element(*result, 0, 0);
        f.result = std::move(result);
        if (!same_areas(blocked, f.blocked)) {
            unregister_formula(fi);
            formulas[fi].blocked = std::move(blocked);
            register_formula(fi);
            rewired = true;
        }
    }

    // Kept out of evaluate(), whose lean path is the hot one.
    __attribute__((noinline)) void evaluate_general(std::uint32_t id) {
        Cell& c = cells[id];
        Formula& f = formulas[c.formula];
        if (f.anchor != none) {
            std::uint32_t af = cells[f.anchor].formula;
            c.value = af != none && formulas[af].result ? element(*formulas[af].result, f.at_row, f.at_col) : Value();
            return;
        }
        const Place& at = places[id];
        if (f.array) {
            std::vector<Area> built;
            evaluator.built_refs = f.is_volatile ? &built : nullptr;
            auto result = evaluator.run_array(f.linked, at.sheet, at.row, at.col);
            evaluator.built_refs = nullptr;
            keep_format_warnings(id);
            rewire_if_built(id, built);
            place_array(id, std::move(result));
            return;
        }
        std::vector<Area> built;
        evaluator.built_refs = f.is_volatile ? &built : nullptr;
        Value v = evaluator.run(f.linked, at.sheet, at.row, at.col, f.array);
        evaluator.built_refs = nullptr;
        c.value = std::move(v);
        keep_format_warnings(id);
        rewire_if_built(id, built);
    }

    void keep_format_warnings(std::uint32_t id) {
        if (!evaluator.unsupported_formats.empty()) {
            format_warnings[id] = std::move(evaluator.unsupported_formats);
            evaluator.unsupported_formats.clear();
        } else if (!format_warnings.empty()) {
            format_warnings.erase(id);
        }
    }

    void rewire_if_built(std::uint32_t id, std::vector<Area>& built) {
        std::uint32_t fi = cells[id].formula;
        if (formulas[fi].is_volatile && !same_areas(built, formulas[fi].built)) {
            // The graph learns what the formula read; the pass is run again in its new order.
            unregister_formula(fi);
            formulas[fi].built = std::move(built);
            register_formula(fi);
            rewired = true;
        }
    }

    static bool same_areas(std::vector<Area>& a, const std::vector<Area>& b) {
        auto less = [](const Area& x, const Area& y) {
            return std::tie(x.sheet, x.r1, x.c1, x.r2, x.c2) < std::tie(y.sheet, y.r1, y.c1, y.r2, y.c2);
        };
        std::sort(a.begin(), a.end(), less);
        a.erase(std::unique(a.begin(), a.end(), [&](const Area& x, const Area& y) { return !less(x, y) && !less(y, x); }),
                a.end());
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](const Area& x, const Area& y) {
                   return !less(x, y) && !less(y, x);
               });
    }

    void run(const std::vector<std::uint32_t>& order) {
        for (std::size_t i = 0; i < order.size(); ++i) {
            std::uint32_t entry = order[i];
            std::uint32_t id = entry & ~entry_flags;
            if (!(entry & cyclic_bit)) {
                if (cells[id].formula != none)
                    evaluate(id);
                continue;
            }
            std::size_t end = i + 1;
            while (end < order.size() && (order[end] & cyclic_bit) && !(order[end] & cycle_start_bit))
                ++end;
            run_cycle(order, i, end);
            i = end - 1;
        }
    }

    // The cells order[begin, end) of one circular reference. Without iteration they hold 0,
    // as the spreadsheet shows them; with it they are computed in turn until they settle.
    void run_cycle(const std::vector<std::uint32_t>& order, std::size_t begin, std::size_t end) {
        if (!settings.iterate) {
            for (std::size_t i = begin; i < end; ++i) {
                std::uint32_t id = order[i] & ~entry_flags;
                if (cells[id].formula != none)
                    cells[id].value = Value::number(0);
            }
            return;
        }
        for (int pass = 0; pass < settings.max_iterations; ++pass) {
            double largest = 0;
            for (std::size_t i = begin; i < end; ++i) {
                std::uint32_t id = order[i] & ~entry_flags;
                if (cells[id].formula == none)
                    continue;
                Value before = cells[id].value;
                evaluate(id);
                const Value& after = cells[id].value;
                double change = before.is_number() && after.is_number()
                                    ? std::fabs(after.as_number() - before.as_number())
                                    : before == after ? 0 : HUGE_VAL;
                largest = std::max(largest, change);
            }
            if (!(largest >= settings.max_change))
                break;
        }
    }

    CalcSettings settings;

    void recalculate() {
        for (std::uint32_t id : volatile_cells)
            dependencies.mark_changed(id);
        if (!dependencies.has_changes())
            return;
        rewired = false;
        run(dependencies.changed_order());
        again_if_rewired();
    }

    // A reference built at run time may have been read before its cell was brought up to
    // date; once the graph knows it, the volatile cells run again in the right order.
    static constexpr int max_rewired_passes = 8;
    bool rewired = false;

    void again_if_rewired() {
        for (int pass = 0; rewired && pass < max_rewired_passes; ++pass) {
            rewired = false;
            for (std::uint32_t id : volatile_cells)
                dependencies.mark_changed(id);
            run(dependencies.changed_order());
        }
    }

    std::vector<std::uint32_t> all_formula_cells() const {
        std::vector<std::uint32_t> roots;
        for (const Formula& f : formulas)
            if (f.cell != none)
                roots.push_back(f.cell);
        std::sort(roots.begin(), roots.end());
        return roots;
    }

    void recalculate_all() {
        dependencies.forget_changes();
        std::vector<std::uint32_t> order;
        dependencies.order(all_formula_cells(), order, nullptr);
        rewired = false;
        run(order);
        again_if_rewired();
    }

    void after_write() {
        if (automatic)
            recalculate();
    }

    CellAddress address(std::uint32_t id) const {
        const Place& p = places[id];
        return CellAddress{p.sheet, p.row, p.col};
    }

    void set_formula(const CellAddress& a, std::string_view text, bool array, bool spills, std::int32_t rows,
                     std::int32_t cols);
    const Formula* formula_at(const CellAddress& a) const;
};

Workbook::Workbook() : impl_(std::make_unique<Impl>()) {}
Workbook::~Workbook() = default;
Workbook::Workbook(Workbook&&) noexcept = default;
Workbook& Workbook::operator=(Workbook&&) noexcept = default;

int Workbook::add_sheet(const std::string& name) {
    if (!valid_sheet_name(name))
        throw EngineError("\"" + name + "\" cannot be a sheet name: it must have 1 to 31 characters, none of " +
                          "[ ] : * ? / \\, and not begin or end with an apostrophe");
    if (impl_->find_sheet(name) >= 0)
        throw EngineError("The workbook already has a sheet named \"" + name + "\"");
    impl_->sheets.emplace_back();
    impl_->sheets.back().name = name;
    impl_->relink_names();
    impl_->relink_where([](const Formula& f) { return f.unresolved || f.uses_names; });
    impl_->after_write();
    return int(impl_->sheets.size()) - 1;
}

int Workbook::find_sheet(std::string_view name) const { return impl_->find_sheet(name); }
int Workbook::sheet_count() const { return int(impl_->sheets.size()); }

const std::string& Workbook::sheet_name(int sheet) const {
    if (sheet < 0 || sheet >= sheet_count())
        throw EngineError("There is no sheet number " + std::to_string(sheet + 1) + " in the workbook");
    return impl_->sheets[std::size_t(sheet)].name;
}

std::vector<std::string> Workbook::sheet_names() const {
    std::vector<std::string> out;
    for (const Sheet& s : impl_->sheets)
        out.push_back(s.name);
    return out;
}

int Workbook::active_sheet() const { return impl_->active; }

void Workbook::set_active_sheet(int sheet) {
    if (sheet < 0 || sheet >= sheet_count())
        throw EngineError("There is no sheet number " + std::to_string(sheet + 1) + " in the workbook");
    impl_->active = sheet;
}

void Workbook::set_value(const CellAddress& a, const Value& value) {
    impl_->check(a);
    std::uint32_t id = impl_->find(a);
    if (id == none) {
        if (value.is_empty())
            return;
        id = impl_->slot(a.sheet, a.row, a.col);
    }
    impl_->remove_formula(id);
    impl_->cells[id].value = value;
    impl_->dependencies.mark_changed(id);
    impl_->after_write();
}

void Workbook::set_values(const std::vector<std::pair<CellAddress, Value>>& cells) {
    bool automatic = impl_->automatic;
    impl_->automatic = false;
    try {
        for (const auto& c : cells)
            set_value(c.first, c.second);
    } catch (...) {
        impl_->automatic = automatic;
        throw;
    }
    impl_->automatic = automatic;
    impl_->after_write();
}

void Workbook::set_formula(const CellAddress& a, std::string_view text, bool array) {
    impl_->set_formula(a, text, array, false, 1, 1);
}

void Workbook::set_array_formula(const CellAddress& anchor, std::string_view text, std::int32_t rows,
                                 std::int32_t cols) {
    if (rows < 1 || cols < 1 || std::int64_t(anchor.row) + rows > max_rows ||
        std::int64_t(anchor.col) + cols > max_columns)
        throw EngineError("An array formula's range must have at least one cell and fit on the sheet");
    impl_->set_formula(anchor, text, true, false, rows, cols);
}

void Workbook::set_spilling_formula(const CellAddress& cell, std::string_view text) {
    impl_->set_formula(cell, text, true, true, 1, 1);
}

void Workbook::Impl::set_formula(const CellAddress& a, std::string_view text, bool array, bool spills,
                                 std::int32_t rows, std::int32_t cols) {
    check(a);
    Program p = parse(text, array);
    std::uint32_t id = slot(a.sheet, a.row, a.col);
    remove_formula(id);
    std::uint32_t fi = new_formula();
    Formula& f = formulas[fi];
    std::size_t start = 0;
    while (start < text.size() && text[start] == ' ')
        ++start;
    if (start < text.size() && text[start] == '=')
        text.remove_prefix(start + 1);
    f.text = std::string(text);
    f.cell = id;
    f.array = array;
    f.spills = spills;
    f.rows = rows;
    f.cols = cols;
    cells[id].formula = fi;
    install(fi, p);
    dependencies.mark_changed(id);
    after_write();
}

const Value& Workbook::value(const CellAddress& a) const {
    static const Value empty;
    std::uint32_t id = impl_->find(a);
    return id == none ? empty : impl_->cells[id].value;
}

const Formula* Workbook::Impl::formula_at(const CellAddress& a) const {
    std::uint32_t id = find(a);
    if (id == none || cells[id].formula == none)
        return nullptr;
    return &formulas[cells[id].formula];
}

bool Workbook::is_formula(const CellAddress& a) const {
    const Formula* f = impl_->formula_at(a);
    return f && f->anchor == none;
}

bool Workbook::is_array_formula(const CellAddress& a) const {
    const Formula* f = impl_->formula_at(a);
    return f && f->anchor == none && f->array;
}

bool Workbook::is_spilling_formula(const CellAddress& a) const {
    const Formula* f = impl_->formula_at(a);
    return f && f->anchor == none && f->spills;
}

ArrayExtent Workbook::array_extent(const CellAddress& a) const {
    const Formula* f = impl_->formula_at(a);
    if (!f || f->anchor != none || !f->array)
        return ArrayExtent{0, 0};
    if (!f->spills)
        return ArrayExtent{f->rows, f->cols};
    ArrayExtent e{1, 1};
    for (std::uint32_t m : f->members) {
        const Place& p = impl_->places[m];
        e.rows = std::max(e.rows, p.row - a.row + 1);
        e.cols = std::max(e.cols, p.col - a.col + 1);
    }
    return e;
}

std::optional<CellAddress> Workbook::array_anchor(const CellAddress& a) const {
    const Formula* f = impl_->formula_at(a);
    if (!f || (f->anchor == none && !f->array))
        return std::nullopt;
    return f->anchor == none ? a : impl_->address(f->anchor);
}

std::string Workbook::formula_text(const CellAddress& a) const {
    const Formula* f = impl_->formula_at(a);
    return f && f->anchor == none ? f->text : std::string();
}

void Workbook::for_each_cell(int sheet, const std::function<void(std::int32_t, std::int32_t, const Value&)>& f) const {
    if (sheet < 0 || sheet >= sheet_count())
        return;
    std::vector<std::uint32_t> ids;
    for (const auto& kv : impl_->sheets[std::size_t(sheet)].cells) {
        const Cell& c = impl_->cells[kv.second];
        if (c.formula != none || !c.value.is_empty())
            ids.push_back(kv.second);
    }
    const auto& places = impl_->places;
    std::sort(ids.begin(), ids.end(), [&](std::uint32_t x, std::uint32_t y) {
        return places[x].row != places[y].row ? places[x].row < places[y].row : places[x].col < places[y].col;
    });
    for (std::uint32_t id : ids)
        f(places[id].row, places[id].col, impl_->cells[id].value);
}

UsedRange Workbook::used_range(int sheet) const {
    UsedRange u;
    for_each_cell(sheet, [&](std::int32_t r, std::int32_t c, const Value&) {
        if (u.empty) {
            u.empty = false;
            u.first_row = u.last_row = r;
            u.first_col = u.last_col = c;
        }
        u.first_row = std::min(u.first_row, r);
        u.last_row = std::max(u.last_row, r);
        u.first_col = std::min(u.first_col, c);
        u.last_col = std::max(u.last_col, c);
    });
    return u;
}

void Workbook::define_name(const std::string& name, std::string_view formula, int sheet) {
    if (!valid_name(name))
        throw EngineError("\"" + name + "\" cannot be a name: it must begin with a letter, '_' or '\\', " +
                          "hold only letters, digits, '_' and '.', and not read as a cell reference");
    if (sheet < -1 || sheet >= sheet_count())
        throw EngineError("There is no sheet number " + std::to_string(sheet + 1) + " in the workbook");
    Program p = parse(formula);
    std::uint32_t id = impl_->name_slot(to_upper(name), sheet);
    NameDef& n = impl_->names[id];
    n.name = name;
    std::size_t start = 0;
    while (start < formula.size() && formula[start] == ' ')
        ++start;
    if (start < formula.size() && formula[start] == '=')
        formula.remove_prefix(start + 1);
    n.text = std::string(formula);
    n.program = std::move(p);
    n.defined = true;
    impl_->relink_names();
    impl_->relink_where([](const Formula& f) { return f.uses_names; });
    impl_->after_write();
}

void Workbook::define_table(const TableDef& table) {
    if (!valid_name(table.name))
        throw EngineError("\"" + table.name + "\" cannot be a table name");
    if (table.sheet < 0 || table.sheet >= sheet_count() || table.first_row < 0 || table.first_col < 0 ||
        table.last_row >= max_rows || table.last_col >= max_columns || table.first_row > table.last_row ||
        table.first_col > table.last_col ||
        std::int64_t(table.columns.size()) != std::int64_t(table.last_col) - table.first_col + 1)
        throw EngineError("Table " + table.name + " does not fit its sheet or its columns");
    auto& tables = impl_->tables;
    tables.erase(std::remove_if(tables.begin(), tables.end(),
                                [&](const TableDef& t) { return iequals(t.name, table.name); }),
                 tables.end());
    tables.push_back(table);
    impl_->relink_where([](const Formula& f) { return f.unresolved || f.uses_tables; });
    impl_->after_write();
}

bool Workbook::has_name(std::string_view name) const {
    auto it = impl_->name_index.find(to_upper(name));
    return it != impl_->name_index.end() && impl_->names[it->second].defined;
}

std::string Workbook::name_formula(std::string_view name, int sheet) const {
    auto it = impl_->name_index.find(Impl::name_key(to_upper(name), sheet));
    return it != impl_->name_index.end() && impl_->names[it->second].defined ? impl_->names[it->second].text
                                                                              : std::string();
}

std::vector<std::string> Workbook::names() const {
    std::vector<std::string> out;
    for (const NameDef& n : impl_->names)
        if (n.defined && n.sheet < 0)
            out.push_back(n.name);
    std::sort(out.begin(), out.end());
    return out;
}

void Workbook::set_automatic(bool automatic) {
    impl_->automatic = automatic;
    impl_->after_write();
}

bool Workbook::automatic() const { return impl_->automatic; }
void Workbook::set_date1904(bool date1904) { impl_->dates_from_1904 = date1904; }
bool Workbook::date1904() const { return impl_->dates_from_1904; }
void Workbook::recalculate() { impl_->recalculate(); }
void Workbook::recalculate_all() { impl_->recalculate_all(); }

void Workbook::set_calc_settings(const CalcSettings& settings) {
    impl_->settings = settings;
    impl_->settings.max_iterations = std::max(1, std::min(settings.max_iterations, 32767));
    if (!(settings.max_change >= 0))
        impl_->settings.max_change = 0;
}

const CalcSettings& Workbook::calc_settings() const { return impl_->settings; }
std::uint64_t Workbook::evaluation_count() const { return impl_->evaluations; }

std::vector<CellAddress> Workbook::volatile_sources(const CellAddress& cell) const {
    std::vector<CellAddress> out;
    std::uint32_t start = impl_->find(cell);
    if (start == none || impl_->volatile_cells.empty())
        return out;
    std::vector<std::uint8_t> seen(impl_->cells.size(), 0);
    std::vector<std::uint32_t> todo{start};
    seen[start] = 1;
    auto visit = [&](std::uint32_t id) {
        if (!seen[id]) {
            seen[id] = 1;
            todo.push_back(id);
        }
    };
    while (!todo.empty()) {
        std::uint32_t id = todo.back();
        todo.pop_back();
        std::uint32_t fi = impl_->cells[id].formula;
        if (fi == none)
            continue;
        const Formula& f = impl_->formulas[fi];
        if (f.is_volatile)
            out.push_back(impl_->address(id));
        for (std::uint32_t read : f.reads.cells)
            visit(read);
        for (const Area& a : f.reads.ranges)
            for (std::uint32_t read : impl_->cells_in(a))
                visit(read);
    }
    std::sort(out.begin(), out.end());
    return out;
}

Diagnostics Workbook::diagnostics() const {
    Diagnostics d;
    std::map<std::string, std::vector<CellAddress>> unknown;
    for (const Formula& f : impl_->formulas) {
        if (f.cell == none || !f.has_unknown)
            continue;
        Program p = parse(f.text, f.array);
        for (const std::string& name : p.unknown_functions)
            unknown[name].push_back(impl_->address(f.cell));
    }
    for (auto& kv : unknown) {
        std::sort(kv.second.begin(), kv.second.end());
        d.unknown_functions.push_back(Diagnostics::UnknownFunction{kv.first, kv.second});
    }
    std::vector<std::uint32_t> order;
    std::vector<std::vector<std::uint32_t>> cycles;
    impl_->dependencies.order(impl_->all_formula_cells(), order, &cycles);
    for (const auto& cycle : cycles) {
        std::vector<CellAddress> cells;
        for (std::uint32_t id : cycle)
            if (impl_->cells[id].formula != none)
                cells.push_back(impl_->address(id));
        std::sort(cells.begin(), cells.end());
        if (!cells.empty())
            d.cycles.push_back(std::move(cells));
    }
    std::sort(d.cycles.begin(), d.cycles.end());
    std::map<std::string, std::vector<CellAddress>> formats;
    for (const auto& kv : impl_->format_warnings)
        if (impl_->cells[kv.first].formula != none)
            for (const std::string& format : kv.second)
                formats[format].push_back(impl_->address(kv.first));
    for (auto& kv : formats) {
        std::sort(kv.second.begin(), kv.second.end());
        kv.second.erase(std::unique(kv.second.begin(), kv.second.end()), kv.second.end());
        d.unsupported_formats.push_back(Diagnostics::UnsupportedFormat{kv.first, kv.second});
    }
    return d;
}

} // namespace host::engine
