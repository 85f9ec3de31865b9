#include "engine/internal/WorkbookImpl.hpp"

#include <cctype>

namespace host::engine {

using namespace detail;

namespace {

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

const Linked* Workbook::Impl::visible_name(std::string_view name, int sheet, bool sheet_only) const {
    const std::string upper = to_upper(name);
    auto defined = [&](const std::string& key) -> const Linked* {
        auto it = name_index.find(key);
        return it != name_index.end() && names[it->second].defined ? &names[it->second].linked : nullptr;
    };
    if (const Linked* own = defined(name_key(upper, sheet)))
        return own;
    return sheet_only ? nullptr : defined(upper);
}

std::string Workbook::Impl::name_key(const std::string& upper, int sheet) {
    return sheet < 0 ? upper : std::to_string(sheet) + "!" + upper;
}

std::uint32_t Workbook::Impl::name_slot(const std::string& upper, int sheet) {
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
std::uint32_t Workbook::Impl::resolve_name(const std::string& upper, int sheet) {
    if (const std::size_t bang = upper.rfind('!'); bang != std::string::npos) { // Defines!Rate
        const int named_sheet = find_sheet(upper.substr(0, bang));
        if (named_sheet >= 0)
            return resolve_name(upper.substr(bang + 1), named_sheet);
    }
    if (sheet >= 0) {
        auto it = name_index.find(name_key(upper, sheet));
        if (it != name_index.end() && names[it->second].defined)
            return it->second;
    }
    return name_slot(upper);
}

void Workbook::define_name(const std::string& name, std::string_view formula, int sheet) {
    if (!valid_name(name))
        throw EngineError("\"" + name + "\" cannot be a name: it must begin with a letter, '_' or '\\', " +
                          "hold only letters, digits, '_' and '.', and not read as a cell reference");
    if (sheet < -1 || sheet >= sheet_count())
        throw EngineError("There is no sheet number " + std::to_string(sheet + 1) + " in the workbook");
    Program p = parse(formula);
    Program in_arrays = parse(formula, true);
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
    n.array_program = std::move(in_arrays);
    // A table's [#This Row] is relative too: the row of the formula using the name.
    auto this_row = [](const SymRef& r) {
        const std::string specifier = to_upper(r.table_spec());
        const std::size_t at = specifier.find('@');
        return specifier.find("#THIS ROW") != std::string::npos ||
               (at != std::string::npos && specifier.find_first_not_of(" [") == at);
    };
    n.relative = std::any_of(n.program.refs.begin(), n.program.refs.end(), [&](const SymRef& r) {
        if (!r.table().empty())
            return !r.table_spec().empty() && this_row(r);
        return !r.invalid && !r.external &&
               ((!r.whole_cols && (!r.r1_abs || !r.r2_abs)) || (!r.whole_rows && (!r.c1_abs || !r.c2_abs)));
    });
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
    tables.erase(
        std::remove_if(tables.begin(), tables.end(), [&](const TableDef& t) { return iequals(t.name, table.name); }),
        tables.end());
    tables.push_back(table);
    impl_->relink_where([](const Formula& f) { return f.unresolved || f.uses_tables; });
    impl_->after_write();
}

void Workbook::set_row_hidden(int sheet, std::int32_t row, RowHidden how) {
    impl_->check(CellAddress{sheet, row, 0});
    impl_->memo.forget();
    if (how == RowHidden::No)
        impl_->hidden_rows.erase({sheet, row});
    else
        impl_->hidden_rows[{sheet, row}] = how;
}

RowHidden Workbook::row_hidden(int sheet, std::int32_t row) const { return impl_->row_hidden(sheet, row); }

void Workbook::set_column_width(int sheet, std::int32_t first, std::int32_t last, double width) {
    impl_->check(CellAddress{sheet, 0, first});
    impl_->check(CellAddress{sheet, 0, last});
    if (last < first || !(width >= 0))
        throw EngineError("a column width needs first <= last and a width of 0 or more");
    impl_->memo.forget();
    auto& spans = impl_->widths[sheet].spans;
    spans[first] = {last, width};
}

void Workbook::set_default_width(int sheet, double width) {
    impl_->check(CellAddress{sheet, 0, 0});
    if (!(width >= 0))
        throw EngineError("a column width is 0 or more");
    impl_->memo.forget();
    impl_->widths[sheet].fallback = width;
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
        if (n.defined && n.sheet < 0 && n.moved_from == none && n.name.rfind('[', 0) != 0) // not a linked book's
            out.push_back(n.name);
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace host::engine
