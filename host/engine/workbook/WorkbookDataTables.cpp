// Data tables, the spreadsheet's what-if tables: each cell is a formula computed again with its
// input cells set to the values along the table's edges. A table is an array formula without
// a program: its anchor reads the edges (the formulas and the values put in), so that the
// dependency graph brings it up to date after them; computing it sets the inputs, computes
// the formulas between them and the table's formulas, reads the results, and puts everything
// back as it was.

#include "engine/internal/WorkbookImpl.hpp"

#include <unordered_map>

namespace host::engine {

using namespace detail;

namespace {

// Tables whose formulas read other tables are computed inside them, this deep at most.
constexpr int max_nested_tables = 8;

std::string table_formula(const DataTableDef& t) {
    return "TABLE(" + (t.has_row_input ? a1_name(t.row_input.row, t.row_input.col) : std::string()) + "," +
           (t.has_column_input ? a1_name(t.column_input.row, t.column_input.col) : std::string()) + ")";
}

} // namespace

// The row above the results and the column to their left, with the corner for two inputs.
std::vector<Area> Workbook::Impl::data_table_reads(const DataTableDef& table) const {
    const CellRange& t = table.cells;
    std::vector<Area> out{Area{t.sheet, t.first_row - 1, t.first_col, t.first_row - 1, t.last_col},
                          Area{t.sheet, t.first_row, t.first_col - 1, t.last_row, t.first_col - 1}};
    if (table.has_row_input && table.has_column_input)
        out.push_back(Area{t.sheet, t.first_row - 1, t.first_col - 1, t.first_row - 1, t.first_col - 1});
    return out;
}

// The formula cells that lie between the inputs and the table's formulas, each after what
// it reads: what must be computed again when the inputs change. The table's own cells are
// not followed, nor the inputs (their values are the table's to set).
std::vector<std::uint32_t> Workbook::Impl::substitution_order(const std::vector<std::uint32_t>& formula_cells,
                                                              const std::vector<std::uint32_t>& inputs,
                                                              const Area& table) {
    enum : std::uint8_t { Visiting = 1, Unaffected, Affected };
    std::unordered_map<std::uint32_t, std::uint8_t> state;
    for (std::uint32_t id : inputs)
        state[id] = Affected;
    struct Frame {
        std::uint32_t id;
        std::vector<std::uint32_t> reads;
        std::size_t next = 0;
        bool affected = false;
    };
    std::vector<Frame> stack;
    std::vector<std::uint32_t> order;
    auto enter = [&](std::uint32_t id) {
        const Place& p = places[id];
        const std::uint32_t fi = cells[id].formula;
        if (fi == none || (p.sheet == table.sheet && table.contains(p.row, p.col))) {
            state[id] = Unaffected;
            return;
        }
        state[id] = Visiting;
        Frame frame{id, {}, 0, false};
        const Reads reads = is_compact(fi) ? compact_reads(id) : formulas[fi].reads;
        frame.reads = reads.cells;
        for (const Area& a : reads.ranges)
            for (std::uint32_t read : cells_in(a))
                frame.reads.push_back(read);
        stack.push_back(std::move(frame));
    };
    for (std::uint32_t start : formula_cells) {
        if (state.count(start))
            continue;
        enter(start);
        while (!stack.empty()) {
            Frame& top = stack.back();
            if (top.next < top.reads.size()) {
                const std::uint32_t read = top.reads[top.next++];
                auto known = state.find(read);
                if (known == state.end())
                    enter(read);
                else if (known->second == Affected)
                    top.affected = true;
                continue; // a cell Visiting is a circular reference: not followed again
            }
            const bool affected = top.affected;
            state[top.id] = affected ? Affected : Unaffected;
            if (affected)
                order.push_back(top.id);
            stack.pop_back();
            if (!stack.empty() && affected)
                stack.back().affected = true;
        }
    }
    return order;
}

void Workbook::Impl::evaluate_data_table(std::uint32_t id) {
    const std::shared_ptr<const DataTableDef> def = formulas[cells[id].formula].data_table;
    const CellRange& t = def->cells;
    const std::int32_t rows = t.last_row - t.first_row + 1, cols = t.last_col - t.first_col + 1;
    auto result = std::make_shared<Array>();
    result->rows = rows;
    result->cols = cols;
    if (def->input_deleted || data_table_depth >= max_nested_tables) {
        result->values.assign(std::size_t(rows) * std::size_t(cols), Value::error(ErrorCode::Ref));
        place_array(id, std::move(result));
        return;
    }
    result->values.resize(std::size_t(rows) * std::size_t(cols));
    const bool two_inputs = def->has_row_input && def->has_column_input;
    const int s = t.sheet;
    std::vector<std::uint32_t> formula_cells;
    if (two_inputs)
        formula_cells.push_back(slot(s, t.first_row - 1, t.first_col - 1));
    else if (def->has_column_input)
        for (std::int32_t c = t.first_col; c <= t.last_col; ++c)
            formula_cells.push_back(slot(s, t.first_row - 1, c));
    else
        for (std::int32_t r = t.first_row; r <= t.last_row; ++r)
            formula_cells.push_back(slot(s, r, t.first_col - 1));
    const std::uint32_t row_input = def->has_row_input ? slot(s, def->row_input.row, def->row_input.col) : none;
    const std::uint32_t column_input =
        def->has_column_input ? slot(s, def->column_input.row, def->column_input.col) : none;
    std::vector<std::uint32_t> inputs;
    for (std::uint32_t input : {row_input, column_input})
        if (input != none)
            inputs.push_back(input);
    std::vector<Value> saved;
    for (std::uint32_t input : inputs)
        saved.push_back(cells[input].value);
    const std::vector<std::uint32_t> order =
        substitution_order(formula_cells, inputs, Area{s, t.first_row, t.first_col, t.last_row, t.last_col});

    auto put = [&](std::uint32_t input, const Value& v) {
        cells[input].value = v;
        touched(input);
    };
    auto compute = [&] {
        for (std::uint32_t cell : order)
            if (cells[cell].formula != none)
                evaluate(cell);
    };
    // A formula cell left blank gives 0, as a reference to a blank cell does.
    auto result_of = [&](std::uint32_t cell) {
        const Value& v = cells[cell].value;
        return v.is_empty() ? Value::number(0) : v;
    };
    auto at = [&](std::int32_t r, std::int32_t c) -> Value& {
        return result->values[std::size_t(r) * std::size_t(cols) + std::size_t(c)];
    };
    ++data_table_depth;
    if (two_inputs) {
        for (std::int32_t r = 0; r < rows; ++r)
            for (std::int32_t c = 0; c < cols; ++c) {
                put(row_input, value_at(s, t.first_row - 1, t.first_col + c));
                put(column_input, value_at(s, t.first_row + r, t.first_col - 1));
                compute();
                at(r, c) = result_of(formula_cells[0]);
            }
    } else if (def->has_column_input) {
        for (std::int32_t r = 0; r < rows; ++r) {
            put(column_input, value_at(s, t.first_row + r, t.first_col - 1));
            compute();
            for (std::int32_t c = 0; c < cols; ++c)
                at(r, c) = result_of(formula_cells[std::size_t(c)]);
        }
    } else {
        for (std::int32_t c = 0; c < cols; ++c) {
            put(row_input, value_at(s, t.first_row - 1, t.first_col + c));
            compute();
            for (std::int32_t r = 0; r < rows; ++r)
                at(r, c) = result_of(formula_cells[std::size_t(r)]);
        }
    }
    for (std::size_t k = 0; k < inputs.size(); ++k)
        put(inputs[k], saved[k]);
    compute();
    --data_table_depth;
    place_array(id, std::move(result));
}

void Workbook::set_data_table(const DataTableDef& table) {
    Impl& m = *impl_;
    const CellRange& t = table.cells;
    m.check(CellAddress{t.sheet, t.first_row, t.first_col});
    m.check(CellAddress{t.sheet, t.last_row, t.last_col});
    if (t.last_row < t.first_row || t.last_col < t.first_col)
        throw EngineError("A data table's range must have at least one cell");
    if (!table.has_row_input && !table.has_column_input)
        throw EngineError("A data table needs a row input cell, a column input cell or both");
    if (t.first_row < 1 || t.first_col < 1)
        throw EngineError("A data table needs a row above it and a column to its left on the sheet");
    DataTableDef def = table;
    for (auto [has, input] : {std::pair<bool, CellAddress*>{def.has_row_input, &def.row_input},
                              std::pair<bool, CellAddress*>{def.has_column_input, &def.column_input}}) {
        if (!has)
            continue;
        input->sheet = t.sheet;
        m.check(*input);
        if (t.contains(*input))
            throw EngineError("A data table's input cell cannot be one of its own cells");
    }
    // The table's cells are its own, whatever they held.
    for (std::int32_t r = t.first_row; r <= t.last_row; ++r)
        for (std::int32_t c = t.first_col; c <= t.last_col; ++c) {
            const std::uint32_t cell = m.find(CellAddress{t.sheet, r, c});
            if (cell == none)
                continue;
            m.remove_formula(cell);
            m.cells[cell].value = Value();
            m.touched(cell);
            m.dependencies.mark_changed(cell);
        }
    const std::uint32_t id = m.slot(t.sheet, t.first_row, t.first_col);
    const std::uint32_t fi = m.new_formula();
    Formula& f = m.formulas[fi];
    f.text = table_formula(def);
    f.cell = id;
    f.array = true;
    f.rows = t.last_row - t.first_row + 1;
    f.cols = t.last_col - t.first_col + 1;
    f.data_table = std::make_shared<const DataTableDef>(def);
    m.cells[id].formula = fi;
    m.install(fi, Program());
    m.touched(id);
    m.dependencies.mark_changed(id);
    m.after_write();
}

std::optional<DataTableDef> Workbook::data_table(const CellAddress& cell) const {
    const Formula* f = impl_->formula_at(cell);
    if (!f)
        return std::nullopt;
    if (f->anchor != none) {
        const std::uint32_t fi = impl_->cells[f->anchor].formula;
        if (fi == none || is_compact(fi))
            return std::nullopt;
        f = &impl_->formulas[fi];
    }
    if (!f->data_table)
        return std::nullopt;
    return *f->data_table;
}

} // namespace host::engine
