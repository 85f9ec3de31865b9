#include "engine/internal/Lexer.hpp"
#include "engine/internal/WorkbookImpl.hpp"

namespace host::engine {

using namespace detail;

namespace {

bool calls_volatile(const std::vector<Instr>& code) {
    const auto& list = functions();
    for (const Instr& in : code)
        if (in.op == Op::Call && (list[in.operand].flags & FnVolatile))
            return true;
    return false;
}

} // namespace

// Resolves the program's references; `sheet` is the formula's own sheet (-1 for names).
// Sales[...]: the cells of table `r.table` that the part in brackets names, for a formula
// in `row` (-1: not in a cell).
LinkedRef Workbook::Impl::link_table(const SymRef& r, std::int32_t row, bool& unresolved) {
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
        std::int32_t k = 0;
        while (k < std::int32_t(t->columns.size()) && !iequals(t->columns[std::size_t(k)], text))
            ++k;
        // #All, #Data ... unless a column has that name (written ['#Shame])
        if (!text.empty() && text[0] == '#' && k == std::int32_t(t->columns.size())) {
            if (iequals(text, "#All"))
                all = true;
            else if (iequals(text, "#Headers"))
                headers = true;
            else if (iequals(text, "#Data"))
                data = true;
            else if (iequals(text, "#Totals"))
                totals = true;
            else if (iequals(text, "#This Row"))
                this_row = true;
            else
                return lr;
            continue;
        }
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
        // With the data, a header or totals row the table does not show adds nothing.
        if (data) {
            headers = headers && t->header_row;
            totals = totals && t->totals_row;
        }
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
// A name with relative references as the formula in (row, col) sees it: a copy of it with
// those references moved by (row, col), wrapping around the sheet as the spreadsheet does.
std::uint32_t Workbook::Impl::moved_name(std::uint32_t name, std::int32_t row, std::int32_t col) {
    const std::string key = "~" + std::to_string(name) + "@" + std::to_string(row) + "," + std::to_string(col);
    auto move_refs = [row, col](Program p) {
        for (SymRef& r : p.refs) {
            auto move = [](std::int32_t& at, bool absolute, std::int32_t by, std::int32_t size) {
                if (!absolute)
                    at = static_cast<std::int32_t>((std::int64_t(at) + by) % size);
            };
            if (!r.whole_cols) {
                move(r.r1, r.r1_abs, row, max_rows);
                move(r.r2, r.r2_abs, row, max_rows);
            }
            if (!r.whole_rows) {
                move(r.c1, r.c1_abs, col, max_columns);
                move(r.c2, r.c2_abs, col, max_columns);
            }
            if (r.r1 > r.r2)
                std::swap(r.r1, r.r2);
            if (r.c1 > r.c2)
                std::swap(r.c1, r.c2);
        }
        return p;
    };
    Program program = move_refs(names[name].program), array_program = move_refs(names[name].array_program);
    const int sheet = names[name].sheet;
    std::uint32_t id;
    auto it = name_index.find(key);
    if (it != name_index.end()) {
        id = it->second;
        if (names[id].moving)
            return id;
    } else {
        id = static_cast<std::uint32_t>(names.size());
        names.emplace_back();
        name_index.emplace(key, id);
    }
    bool unresolved = false;
    const int at = sheet >= 0 ? sheet : active;
    // The names it uses move with it; the formula's row is also that of tables' [#This Row].
    names[id].moving = true;
    Linked linked = link(program, at, sheet, unresolved, row, col),
           array_linked = link(array_program, at, sheet, unresolved, row, col);
    NameDef& n = names[id]; // link() may have added names
    n.moving = false;
    n.name = key;
    n.sheet = sheet;
    n.defined = true;
    n.moved_from = name;
    n.program = std::move(program);
    n.array_program = std::move(array_program);
    n.linked = std::move(linked);
    n.array_linked = std::move(array_linked);
    return id;
}

Linked Workbook::Impl::link(const Program& p, int sheet, int scope, bool& unresolved, std::int32_t row,
                            std::int32_t col) {
    Linked l;
    l.code = p.code;
    l.consts = p.consts;
    l.arrays = p.arrays;
    l.locals = p.locals;
    for (const SymRef& r : p.refs) {
        if (r.table() == own_table) { // [Qty]: the table holding the formula's cell
            const TableDef* home = nullptr;
            for (const TableDef& d : tables)
                if (d.sheet == sheet && row >= d.first_row && row <= d.last_row && col >= d.first_col &&
                    col <= d.last_col)
                    home = &d;
            SymRef named = r;
            named.rare = std::make_shared<SymRef::Rare>(SymRef::Rare{{}, home ? home->name : "", r.table_spec()});
            l.refs.push_back(home ? link_table(named, row, unresolved) : LinkedRef());
            continue;
        }
        if (!r.table().empty()) {
            l.refs.push_back(link_table(r, row, unresolved));
            continue;
        }
        if (r.external) { // its instruction reads the copy of the other workbook instead
            l.refs.emplace_back();
            link_external(r, std::uint32_t(l.refs.size() - 1), l);
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
    for (const std::string& n : p.names) {
        std::uint32_t id = resolve_name(n, scope);
        if (col >= 0 && names[id].defined && names[id].moves())
            id = moved_name(id, row, col);
        l.names.push_back(id);
    }
    return l;
}

void Workbook::Impl::add_read(Formula& f, const Area& a) {
    if (a.size() <= small_range) {
        for (std::int32_t row = a.r1; row <= a.r2; ++row)
            for (std::int32_t col = a.c1; col <= a.c2; ++col)
                f.reads.cells.push_back(slot(a.sheet, row, col));
    } else {
        f.reads.ranges.push_back(a);
    }
}

void Workbook::Impl::gather(const Linked& l, Formula& f, int depth, std::vector<std::uint32_t>& seen_names) {
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
void Workbook::Impl::register_formula(std::uint32_t fi) {
    Formula& f = formulas[fi];
    f.reads = Reads();
    f.is_volatile = calls_volatile(f.linked.code);
    std::vector<std::uint32_t> seen;
    gather(f.linked, f, 0, seen);
    for (const Area& a : f.built)
        add_read(f, a);
    for (const Area& a : f.blocked)
        add_read(f, a);
    if (f.data_table)
        for (const Area& a : data_table_reads(*f.data_table))
            add_read(f, a);
    if (f.is_volatile)
        volatile_cells.push_back(f.cell);
    std::vector<std::uint32_t>& read = f.reads.cells;
    std::sort(read.begin(), read.end());
    read.erase(std::unique(read.begin(), read.end()), read.end());
    dependencies.add(f.cell, f.reads);
}

void Workbook::Impl::unregister_formula(std::uint32_t fi) {
    Formula& f = formulas[fi];
    dependencies.remove(f.cell, f.reads);
    f.reads = Reads();
    if (f.is_volatile)
        volatile_cells.erase(std::remove(volatile_cells.begin(), volatile_cells.end(), f.cell), volatile_cells.end());
    f.is_volatile = false;
}

// Parses (already parsed: `p`) and links formula fi, then registers its dependencies.
void Workbook::Impl::install(std::uint32_t fi, const Program& p) {
    int sheet = places[formulas[fi].cell].sheet;
    bool unresolved = false;
    Linked l = link(p, sheet, sheet, unresolved, places[formulas[fi].cell].row, places[formulas[fi].cell].col);
    Formula& g = formulas[fi]; // link() may add cells but not formulas
    g.linked = std::move(l);
    g.unresolved = unresolved;
    g.uses_names = !p.names.empty();
    g.uses_tables = std::any_of(p.refs.begin(), p.refs.end(), [](const SymRef& r) { return !r.table().empty(); });
    g.has_unknown = !p.unknown_functions.empty();
    g.reads_links = std::any_of(p.refs.begin(), p.refs.end(), [](const SymRef& r) { return r.external; }) ||
                    std::any_of(p.names.begin(), p.names.end(), [](const std::string& n) { return n[0] == '['; });
    register_formula(fi);
    compile(formulas[fi]);
}

// The numeric form, where the formula has one. Small ranges have every slot already
// (register_formula made them), so their cells are listed once here.
void Workbook::Impl::compile(Formula& f) {
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

void Workbook::Impl::remove_formula(std::uint32_t id) {
    std::uint32_t fi = cells[id].formula;
    if (fi == none)
        return;
    if (is_compact(fi)) {
        dependencies.remove(id, compact_reads(id));
        remove_compact(id);
        return;
    }
    if (formulas[fi].anchor != none) // the array loses this cell: it shows #SPILL! or goes on
        dependencies.mark_changed(formulas[fi].anchor);
    std::vector<std::uint32_t> members = std::move(formulas[fi].members);
    for (std::uint32_t m : members)
        drop_member(m);
    unregister_formula(fi);
    formulas[fi] = Formula();
    free_formulas.push_back(fi);
    cells[id].formula = none;
}

void Workbook::Impl::relink_where(bool (*pred)(const Formula&)) {
    for (std::uint32_t fi = 0; fi < formulas.size(); ++fi) {
        Formula& f = formulas[fi];
        if (f.cell == none || f.anchor != none || !pred(f))
            continue;
        unregister_formula(fi);
        Program p = f.data_table ? Program() : parse(f.text, f.array);
        install(fi, p);
        dependencies.mark_changed(formulas[fi].cell);
    }
}

void Workbook::Impl::relink_names() {
    // Create every name the definitions mention first: linking must not grow `names`
    // while it reads a definition in it.
    for (std::size_t i = 0; i < names.size(); ++i)
        if (names[i].defined)
            for (std::size_t k = 0; k < names[i].program.names.size(); ++k)
                name_slot(std::string(names[i].program.names[k]));
    for (NameDef& n : names) {
        if (!n.defined || n.moved_from != none) // moved copies are made again as formulas link
            continue;
        bool unresolved = false;
        n.linked = link(n.program, n.sheet >= 0 ? n.sheet : active, n.sheet, unresolved);
        n.array_linked = link(n.array_program, n.sheet >= 0 ? n.sheet : active, n.sheet, unresolved);
    }
    // Which names use a relative one, however indirectly.
    for (NameDef& n : names)
        n.uses_relative = false;
    for (bool more = true; more;) {
        more = false;
        for (NameDef& n : names)
            if (n.defined && n.moved_from == none && !n.moves() &&
                std::any_of(n.linked.names.begin(), n.linked.names.end(),
                            [&](std::uint32_t id) { return names[id].defined && names[id].moves(); }))
                n.uses_relative = more = true;
    }
}

// Whether the program, or a name it uses, calls INDIRECT or OFFSET: what it reads is known
// only once it runs.
bool Workbook::Impl::builds_references(const Linked& l, std::vector<std::uint8_t>& seen_names) const {
    static const int indirect = find_function("INDIRECT"), offset = find_function("OFFSET");
    for (const Instr& in : l.code)
        if (in.op == Op::Call && (int(in.operand) == indirect || int(in.operand) == offset))
            return true;
    for (std::uint32_t n : l.names) {
        if (seen_names[n])
            continue;
        seen_names[n] = 1;
        if (names[n].defined && builds_references(names[n].linked, seen_names))
            return true;
    }
    return false;
}

bool Workbook::depends_on(const CellAddress& cell, const CellRange& range) const {
    const Impl& m = *impl_;
    const std::uint32_t start = m.find(cell);
    if (start == none || m.cells[start].formula == none)
        return false;
    auto overlaps = [&](const Area& a) {
        return a.sheet == range.sheet && a.r1 <= range.last_row && range.first_row <= a.r2 && a.c1 <= range.last_col &&
               range.first_col <= a.c2;
    };
    std::vector<std::uint8_t> seen(m.cells.size(), 0), seen_names(m.names.size(), 0);
    std::vector<std::uint32_t> todo{start};
    seen[start] = 1;
    auto follow = [&](std::uint32_t id) {
        if (!seen[id] && m.cells[id].formula != none) {
            seen[id] = 1;
            todo.push_back(id);
        }
    };
    while (!todo.empty()) {
        const std::uint32_t fi = m.cells[todo.back()].formula;
        if (is_compact(fi)) {
            const Reads reads = m.compact_reads(todo.back());
            todo.pop_back();
            for (std::uint32_t id : reads.cells) {
                if (range.contains(m.address(id)))
                    return true;
                follow(id);
            }
            continue;
        }
        const Formula& f = m.formulas[fi];
        todo.pop_back();
        if (m.builds_references(f.linked, seen_names))
            return true;
        for (std::uint32_t id : f.reads.cells) {
            if (range.contains(m.address(id)))
                return true;
            follow(id);
        }
        for (const Area& a : f.reads.ranges) {
            if (overlaps(a))
                return true;
            for (std::uint32_t id : m.cells_in(a))
                follow(id);
        }
    }
    return false;
}

} // namespace host::engine
