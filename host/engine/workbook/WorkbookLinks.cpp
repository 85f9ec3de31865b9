// Linked workbooks: formulas read another workbook's cells ([1]Sheet1!A1) and names ([1]!Rate)
// from the copy of their values that the spreadsheet saves with the workbook. A reference to
// one is linked as the value the copy holds (a constant, or an array for a range): nothing of
// it changes while the workbook is open, so the formula depends on no cell for it.

#include "engine/internal/WorkbookImpl.hpp"

#include <array>
#include <map>
#include <unordered_map>

namespace host::engine {

using namespace detail;

namespace detail {

struct LinkedCopy {
    struct Sheet {
        std::string name;
        bool readable = true;
        std::unordered_map<std::uint64_t, Value> cells; // by key_of(row, col)
        std::int32_t last_row = -1, last_col = -1;
        // The arrays made of its ranges so far: the formulas reading one share it.
        mutable std::map<std::array<std::int32_t, 4>, std::shared_ptr<const Array>> ranges;
    };
    std::vector<Sheet> sheets;
};

} // namespace detail

namespace {

Value no_value() { return Value::error(ErrorCode::Ref); }

// The most cells a linked range is read as in full; past it, only up to the copy's last cells.
constexpr std::int64_t whole_linked_range = std::int64_t(1) << 16;

} // namespace

bool Workbook::Impl::linked_value(const SymRef& r, Value& value, std::shared_ptr<const Array>& array) const {
    value = no_value();
    array.reset();
    auto book = linked_books.find(r.book);
    if (r.book == 0 || book == linked_books.end() || r.invalid || !r.last_sheet().empty())
        return false;
    const LinkedCopy::Sheet* sheet = nullptr;
    for (const LinkedCopy::Sheet& s : book->second->sheets)
        if (iequals(s.name, r.sheet))
            sheet = &s;
    if (!sheet || !sheet->readable)
        return false;
    // The copy leaves out blank cells: one it does not hold reads as blank.
    if (r.single()) {
        auto found = sheet->cells.find(key_of(r.r1, r.c1));
        value = found == sheet->cells.end() ? Value() : found->second;
        return true;
    }
    // A range keeps its shape unless large; a large one stops after the last row and column the
    // copy holds (at least one of each), as what lies past them is blank.
    const std::array<std::int32_t, 4> key{r.r1, r.c1, r.r2, r.c2};
    if (auto made = sheet->ranges.find(key); made != sheet->ranges.end()) {
        array = made->second;
        return true;
    }
    std::int32_t last_row = r.r2, last_col = r.c2;
    if (std::int64_t(r.r2 - r.r1 + 1) * (r.c2 - r.c1 + 1) > whole_linked_range) {
        last_row = std::max(r.r1, std::min(r.r2, sheet->last_row));
        last_col = std::max(r.c1, std::min(r.c2, sheet->last_col));
    }
    if (std::int64_t(last_row - r.r1 + 1) * (last_col - r.c1 + 1) > max_dense_cells)
        return false;
    auto out = std::make_shared<Array>();
    out->rows = last_row - r.r1 + 1;
    out->cols = last_col - r.c1 + 1;
    out->values.resize(std::size_t(out->rows) * std::size_t(out->cols));
    out->linked = true;
    for (std::int32_t row = r.r1; row <= std::min(last_row, sheet->last_row); ++row)
        for (std::int32_t col = r.c1; col <= std::min(last_col, sheet->last_col); ++col) {
            auto found = sheet->cells.find(key_of(row, col));
            if (found != sheet->cells.end())
                out->values[std::size_t(row - r.r1) * std::size_t(out->cols) + std::size_t(col - r.c1)] = found->second;
        }
    array = sheet->ranges[key] = std::move(out);
    return true;
}

// The instructions that push reference `ref` push the copy's value instead.
void Workbook::Impl::link_external(const SymRef& r, std::uint32_t ref, Linked& l) const {
    Value value;
    std::shared_ptr<const Array> array;
    linked_value(r, value, array);
    for (Instr& in : l.code) {
        if (in.op != Op::Ref || in.operand != ref)
            continue;
        if (array) {
            in.op = Op::Array;
            in.operand = std::uint32_t(l.arrays.size());
            l.arrays.push_back(array);
        } else {
            in.op = Op::Const;
            in.operand = std::uint32_t(l.consts.size());
            l.consts.push_back(value);
        }
    }
}

void Workbook::set_linked_book(int number, const LinkedBook& book) {
    Impl& m = *impl_;
    m.memo.forget();
    if (number < 1 || number > 65535)
        throw EngineError("A linked workbook's number must be from 1 to 65535, not " + std::to_string(number));
    auto copy = std::make_shared<LinkedCopy>();
    for (const LinkedBook::Sheet& s : book.sheets) {
        LinkedCopy::Sheet sheet;
        sheet.name = s.name;
        sheet.readable = s.readable;
        for (const LinkedBook::Sheet::CellValue& c : s.cells) {
            if (c.row < 0 || c.row >= max_rows || c.col < 0 || c.col >= max_columns)
                continue;
            sheet.cells[key_of(c.row, c.col)] = c.value;
            sheet.last_row = std::max(sheet.last_row, c.row);
            sheet.last_col = std::max(sheet.last_col, c.col);
        }
        copy->sheets.push_back(std::move(sheet));
    }
    m.linked_books[number] = copy;

    // Its names: [1]!Rate, or [1]Sheet1!Rate for one of a sheet, each the value it refers to.
    const std::string prefix = "[" + std::to_string(number) + "]";
    for (const LinkedBook::Name& n : book.names) {
        const bool of_sheet = n.sheet >= 0 && n.sheet < int(book.sheets.size());
        const std::string key = prefix + (of_sheet ? to_upper(book.sheets[std::size_t(n.sheet)].name) : std::string()) +
                                "!" + to_upper(n.name);
        Program p;
        p.code.push_back(Instr{Op::Const, 0, 0, 0});
        p.consts.push_back(no_value());
        try {
            Program refers = parse(n.refers_to);
            if (refers.refs.size() == 1 && refers.code.size() == 1 && refers.names.empty()) {
                SymRef r = refers.refs[0];
                if (r.sheet.empty() && of_sheet)
                    r.sheet = book.sheets[std::size_t(n.sheet)].name;
                r.external = true;
                r.book = std::uint16_t(number);
                Value value;
                std::shared_ptr<const Array> array;
                m.linked_value(r, value, array);
                if (array) {
                    p.code[0] = Instr{Op::Array, 0, 0, 0};
                    p.arrays.push_back(array);
                } else {
                    p.consts[0] = value;
                }
            } else if (refers.refs.empty() && refers.names.empty()) {
                p = std::move(refers); // a constant: =0.05
            }
        } catch (const FormulaError&) { // what the copy says is no formula: #REF!
        }
        // A name that refers to nothing is a macro or function of the workbook's code (an
        // add-in's =[1]!Tax(A1)): with the workbook closed there is no such function.
        if (n.refers_to.find_first_not_of(" =") == std::string::npos) {
            p = Program();
            p.code.push_back(Instr{Op::Const, 0, 0, 0});
            p.consts.push_back(Value::error(ErrorCode::Name));
        }
        const std::uint32_t id = m.name_slot(key);
        bool unresolved = false;
        Linked linked = m.link(p, m.active, -1, unresolved);
        NameDef& def = m.names[id];
        def.defined = true;
        def.text = n.refers_to;
        def.program = p;
        def.array_program = p;
        def.linked = linked;
        def.array_linked = std::move(linked);
    }
    m.relink_names();
    m.relink_where([](const Formula& f) { return f.reads_links || f.uses_names; });
    m.after_write();
}

std::vector<CellAddress> Workbook::linked_readers() const {
    std::vector<CellAddress> out;
    for (const Formula& f : impl_->formulas)
        if (f.cell != none && f.anchor == none && f.reads_links)
            out.push_back(impl_->address(f.cell));
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace host::engine
