#include "engine/internal/WorkbookImpl.hpp"

namespace host::engine {

using namespace detail;

namespace {

bool valid_sheet_name(const std::string& name) {
    // The limit is in characters: a name of 31 Cyrillic letters takes 62 bytes.
    if (name.empty() || utf8_length(name) > 31 || name.front() == '\'' || name.back() == '\'')
        return false;
    return name.find_first_of("[]:*?/\\") == std::string::npos;
}

} // namespace

void Workbook::Impl::check(const CellAddress& a) const {
    if (a.sheet < 0 || a.sheet >= int(sheets.size()))
        throw EngineError("There is no sheet number " + std::to_string(a.sheet + 1) + " in the workbook");
    if (a.row < 0 || a.row >= max_rows || a.col < 0 || a.col >= max_columns)
        throw EngineError("The cell at row " + std::to_string(std::int64_t(a.row) + 1) + ", column " +
                          std::to_string(std::int64_t(a.col) + 1) + " is outside the sheet");
}

std::uint32_t Workbook::Impl::find(const CellAddress& a) const {
    if (a.sheet < 0 || a.sheet >= int(sheets.size()))
        return none;
    return sheets[std::size_t(a.sheet)].cells.slot_at(a.row, a.col);
}

std::uint32_t Workbook::Impl::slot(int sheet, std::int32_t row, std::int32_t col) {
    Sheet& s = sheets[std::size_t(sheet)];
    const std::uint32_t id = static_cast<std::uint32_t>(cells.size());
    if (id > CellMap::max_slot && s.cells.find(key_of(row, col)) == s.cells.end())
        throw EngineError("The workbook cannot hold more than " + std::to_string(CellMap::max_slot) + " cells");
    auto [it, added] = s.cells.try_emplace(key_of(row, col), id);
    if (!added)
        return it->second;
    try {
        cells.emplace_back();
        places.push_back(Place{sheet, row, col});
        dependencies.add_slot();
    } catch (...) { // out of memory: no half-made slot for the next cell to share
        s.cells.erase(it);
        cells.resize(id);
        places.resize(id);
        throw;
    }
    ++s.generation;
    return id;
}

int Workbook::Impl::find_sheet(std::string_view name) const {
    for (std::size_t i = 0; i < sheets.size(); ++i)
        if (iequals(sheets[i].name, name))
            return int(i);
    return -1;
}

CellAddress Workbook::Impl::address(std::uint32_t id) const {
    const Place& p = places[id];
    return CellAddress{p.sheet, p.row, p.col};
}

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
    impl_->sheets.back().cells.attach(&impl_->places);
    impl_->lookup_indexes.sheets_changed(int(impl_->sheets.size()));
    impl_->relink_names();
    impl_->relink_where([](const Formula& f) { return f.unresolved || f.uses_names; });
    impl_->after_write();
    return int(impl_->sheets.size()) - 1;
}

void Workbook::reserve_cells(int sheet, std::size_t cells, std::size_t formulas) {
    if (sheet < 0 || sheet >= sheet_count() || cells > CellMap::max_slot || formulas > cells)
        return;
    const std::size_t total = impl_->cells.size() + cells;
    impl_->cells.reserve(total);
    impl_->places.reserve(total);
    impl_->dependencies.reserve(total);
    impl_->compact_formulas.reserve(impl_->compact_formulas.size() + formulas);
    impl_->sheets[std::size_t(sheet)].cells.reserve(impl_->sheets[std::size_t(sheet)].cells.size() + cells);
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
    if (!impl_->kept_spills.empty())
        impl_->kept_spills.erase(id);
    impl_->cells[id].value = value;
    impl_->touched(id);
    impl_->dependencies.mark_changed(id);
    impl_->after_write();
}

void Workbook::set_values(const std::vector<std::pair<CellAddress, Value>>& cells) {
    const bool memo = impl_->memo.budget > 0 && impl_->automatic;
    const std::uint64_t stamp = impl_->dependencies.changes();
    if (memo && impl_->memo_recall(cells))
        return;
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
    if (memo)
        impl_->memo_keep(cells, stamp);
}

void Workbook::set_formula(const CellAddress& a, std::string_view text, bool array) {
    impl_->set_formula(a, text, array, false, 1, 1);
}

bool Workbook::set_moved_formula(const CellAddress& cell, const CellAddress& from) {
    return impl_->place_shape(cell, from);
}

void Workbook::set_cached_value(const CellAddress& cell, const Value& value) {
    const std::uint32_t id = impl_->find(cell);
    if (id == none || impl_->cells[id].formula == none)
        return;
    impl_->cells[id].value = value;
    impl_->touched(id);
    // What the cell held when it joins a cycle is now this value: no seed is needed.
    impl_->cycle_seeds.erase(id);
}

std::uint32_t Workbook::Impl::new_formula() {
    if (!free_formulas.empty()) {
        std::uint32_t fi = free_formulas.back();
        free_formulas.pop_back();
        return fi;
    }
    formulas.emplace_back();
    return static_cast<std::uint32_t>(formulas.size() - 1);
}

void Workbook::Impl::set_formula(const CellAddress& a, std::string_view text, bool array, bool spills,
                                 std::int32_t rows, std::int32_t cols) {
    check(a);
    Program p = parse(text, array);
    std::uint32_t id = slot(a.sheet, a.row, a.col);
    remove_formula(id);
    forget_seed(id); // a new formula has shown nothing yet
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
    share_shape(fi);
    touched(id);
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
    // One of a shape is a plain formula: no array's, and its text is the shape's to give.
    static const Formula plain;
    return is_compact(cells[id].formula) ? &plain : &formulas[cells[id].formula];
}

// The cells of an array formula's result other than its own have a formula slot (so that the
// dependency graph orders them after it) but no formula of their own.
bool Workbook::is_formula(const CellAddress& a) const {
    const Formula* f = impl_->formula_at(a);
    return f && f->anchor == none;
}

bool Workbook::is_array_formula(const CellAddress& a) const {
    const Formula* f = impl_->formula_at(a);
    return f && f->anchor == none && f->array;
}

std::string Workbook::formula_text(const CellAddress& a) const {
    const std::uint32_t id = impl_->find(a);
    if (id != none && is_compact(impl_->cells[id].formula))
        return impl_->compact_text(id);
    const Formula* f = impl_->formula_at(a);
    return f && f->anchor == none ? f->text : std::string();
}

void Workbook::for_each_cell(int sheet, const std::function<void(std::int32_t, std::int32_t, const Value&)>& f) const {
    if (sheet < 0 || sheet >= sheet_count())
        return;
    std::vector<std::uint32_t> ids;
    impl_->sheets[std::size_t(sheet)].cells.each_slot([&](std::uint32_t id) {
        const Cell& c = impl_->cells[id];
        if (c.formula != none || !c.value.is_empty())
            ids.push_back(id);
    });
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

std::optional<CellRange> Workbook::reference_range(std::string_view text, int sheet) const {
    Program p;
    try {
        p = parse(text);
    } catch (const FormulaError&) {
        return std::nullopt;
    }
    if (p.refs.size() != 1 || !p.names.empty() || p.code.size() != 1)
        return std::nullopt;
    const SymRef& r = p.refs[0];
    if (r.external || r.invalid || !r.last_sheet().empty() || !r.table().empty())
        return std::nullopt;
    const int s = r.sheet.empty() ? sheet : impl_->find_sheet(r.sheet);
    if (s < 0 || s >= sheet_count())
        return std::nullopt;
    return CellRange{s, r.r1, r.c1, r.r2, r.c2};
}

std::vector<std::string> function_names() {
    std::vector<std::string> out;
    for (const Function& f : functions())
        out.emplace_back(f.name);
    return out;
}

std::string parameter_kinds(std::string_view name, int argc) {
    std::string out;
    const int id = find_function(name);
    for (int i = 0; id >= 0 && i < argc; ++i) {
        const Function& f = functions()[std::size_t(id)];
        const char kind = parameter_kind(f, i);
        out += kind == 'v' && (f.flags & FnOneCellRefs) ? 'r' : kind == 'A' ? 'a' : kind;
    }
    return out;
}

} // namespace host::engine
