// Array formulas: a legacy one fills its range, a dynamic one spills into as many cells as
// its result has. The cells other than the formula's own are members: each has a formula
// slot that reads the formula's cell, so the dependency graph brings them (and what reads
// them) up to date after it; their values are written when the formula is computed.

#include "engine/internal/WorkbookImpl.hpp"

#include <algorithm>
#include <tuple>

namespace host::engine {

using namespace detail;

// Element (r, c) of an array formula's result where it fills `rows` x `cols` cells: a single
// row or column repeats, as the spreadsheet fills a legacy array's range; #N/A beyond the
// result.
Value Workbook::Impl::element(const Array& a, std::int32_t r, std::int32_t c) {
    if (a.rows == 1)
        r = 0;
    if (a.cols == 1)
        c = 0;
    if (r >= a.rows || c >= a.cols)
        return Value::error(ErrorCode::NA);
    return a.at(r, c);
}

void Workbook::Impl::add_member(std::uint32_t anchor_cell, std::uint32_t slot_id, std::int32_t r, std::int32_t c) {
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

void Workbook::Impl::drop_member(std::uint32_t slot_id) {
    if (anchor_of(slot_id) == none)
        return;
    std::uint32_t fi = cells[slot_id].formula;
    dependencies.remove(slot_id, formulas[fi].reads);
    formulas[fi] = Formula();
    free_formulas.push_back(fi);
    cells[slot_id].formula = none;
    cells[slot_id].value = Value();
    touched(slot_id);
    dependencies.mark_changed(slot_id);
}

// Whether the cell holds something of its own, which a spill may not cover.
bool Workbook::Impl::occupied(int sheet, std::int32_t row, std::int32_t col, std::uint32_t anchor_cell) const {
    std::uint32_t id = find(CellAddress{sheet, row, col});
    if (id == none || id == anchor_cell)
        return false;
    if (cells[id].formula != none)
        return anchor_of(id) != anchor_cell;
    return !cells[id].value.is_empty();
}

bool Workbook::Impl::meets_merged(const Area& a) {
    if (merged.empty())
        return false;
    auto order = [](const Area& x, const Area& y) { return std::tie(x.sheet, x.r1) < std::tie(y.sheet, y.r1); };
    if (!merged_sorted) {
        std::sort(merged.begin(), merged.end(), order);
        merged_sorted = true;
    }
    // Only blocks starting at most the tallest one's height above the area can reach it.
    const Area from{a.sheet, std::max(0, a.r1 - merged_tallest + 1), 0, 0, 0};
    for (auto it = std::lower_bound(merged.begin(), merged.end(), from, order);
         it != merged.end() && it->sheet == a.sheet && it->r1 <= a.r2; ++it)
        if (it->r2 >= a.r1 && it->c1 <= a.c2 && it->c2 >= a.c1)
            return true;
    return false;
}

void Workbook::merge_cells(const CellRange& block) {
    impl_->check(CellAddress{block.sheet, block.first_row, block.first_col});
    impl_->check(CellAddress{block.sheet, block.last_row, block.last_col});
    if (block.last_row < block.first_row || block.last_col < block.first_col)
        throw EngineError("A merged block's last cell must be below and right of its first");
    Impl& m = *impl_;
    m.merged.push_back(Area{block.sheet, block.first_row, block.first_col, block.last_row, block.last_col});
    m.merged_sorted = m.merged.size() == 1;
    m.merged_tallest = std::max(m.merged_tallest, block.last_row - block.first_row + 1);
}

// An array formula's result put in its cells: the members follow the result's shape when the
// formula spills, and a spill that meets a filled or merged cell is #SPILL!.
void Workbook::Impl::place_array(std::uint32_t id, std::shared_ptr<const Array> result) {
    const Place at = places[id];
    std::uint32_t fi = cells[id].formula;
    bool spills = formulas[fi].spills;
    std::int32_t rows = spills ? result->rows : formulas[fi].rows;
    std::int32_t cols = spills ? result->cols : formulas[fi].cols;
    Area want{at.sheet, at.row, at.col, at.row + rows - 1, at.col + cols - 1};
    std::vector<Area> blocked; // the spill's cells but its own, when something is in the way
    bool off_grid = std::int64_t(at.row) + rows > max_rows || std::int64_t(at.col) + cols > max_columns;
    if (off_grid) {
        want.r2 = std::min(want.r2, max_rows - 1);
        want.c2 = std::min(want.c2, max_columns - 1);
    }
    bool in_the_way = false;
    for (std::int32_t r = want.r1; spills && !off_grid && r <= want.r2 && !in_the_way; ++r)
        for (std::int32_t c = want.c1; c <= want.c2 && !in_the_way; ++c)
            in_the_way = occupied(at.sheet, r, c, id);
    // The spreadsheet spills into no merged cell, the formula's own included.
    if (spills && !off_grid && !in_the_way && want.size() > 1)
        in_the_way = meets_merged(want);
    if (in_the_way) {
        if (want.c2 > want.c1)
            blocked.push_back(Area{at.sheet, want.r1, want.c1 + 1, want.r1, want.c2});
        if (want.r2 > want.r1)
            blocked.push_back(Area{at.sheet, want.r1 + 1, want.c1, want.r2, want.c2});
    }
    if (spills && (off_grid || in_the_way)) {
        result = std::make_shared<Array>(Array{1, 1, {Value::error(ErrorCode::Spill)}, {}});
        want = Area{at.sheet, at.row, at.col, at.row, at.col};
    }
    // Members no longer covered go; new ones come, and what reads them runs again.
    std::vector<std::uint32_t> old = std::move(formulas[fi].members), kept;
    for (std::uint32_t m : old) {
        const Place& p = places[m];
        if (want.contains(p.row, p.col) && anchor_of(m) == id)
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
                    continue; // a legacy array's cell overwritten since: it keeps its value
                add_member(id, m, r - at.row, c - at.col);
                dependencies.mark_changed(m);
                rewired = true;
                kept.push_back(m);
            } else if (anchor_of(m) != id) {
                continue;
            }
            cells[m].value = element(*result, r - at.row, c - at.col);
            touched(m);
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

bool Workbook::Impl::spill_area(std::uint32_t id, Area& out, Value& error) const {
    std::uint32_t fi = cells[id].formula;
    if (fi == none && !kept_spills.empty()) {
        auto kept = kept_spills.find(id);
        if (kept != kept_spills.end()) {
            out = kept->second;
            return true;
        }
    }
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

void Workbook::keep_spill(const CellRange& block) {
    const CellAddress first{block.sheet, block.first_row, block.first_col};
    impl_->check(first);
    impl_->check(CellAddress{block.sheet, block.last_row, block.last_col});
    if (block.last_row < block.first_row || block.last_col < block.first_col)
        throw EngineError("A kept spill's block must have at least one cell");
    std::uint32_t id = impl_->find(first);
    if (id == none)
        id = impl_->slot(first.sheet, first.row, first.col);
    impl_->kept_spills[id] = Area{block.sheet, block.first_row, block.first_col, block.last_row, block.last_col};
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

bool Workbook::is_spilling_formula(const CellAddress& a) const {
    const Formula* f = impl_->formula_at(a);
    return f && f->anchor == none && f->spills;
}

ArrayExtent Workbook::array_extent(const CellAddress& a) const {
    const Formula* f = impl_->formula_at(a);
    if (!f || f->anchor != none || !f->array)
        return ArrayExtent{0, 0};
    Area area;
    Value error;
    if (!impl_->spill_area(f->cell, area, error))
        return ArrayExtent{1, 1};
    return ArrayExtent{area.r2 - area.r1 + 1, area.c2 - area.c1 + 1};
}

std::optional<CellAddress> Workbook::array_anchor(const CellAddress& a) const {
    const Formula* f = impl_->formula_at(a);
    if (!f || (f->anchor == none && !f->array))
        return std::nullopt;
    return f->anchor == none ? a : impl_->address(f->anchor);
}

} // namespace host::engine
