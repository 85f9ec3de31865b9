// Formulas of one shape: the cells of a filled-down block compute the same numeric program on
// their own cells. They share one compiled program and one text, so a cell of such a block
// costs its value, its place in the dependency graph and the slots of the cells it reads.
// The first time the numeric program hands a cell back to the general evaluator, the cell
// gets a formula of its own again.

#include "engine/internal/WorkbookImpl.hpp"

#include "engine/internal/NumbersOnly.hpp"

#include <cstring>
#include <functional>

namespace host::engine {

using namespace detail;

namespace {

// Shapes a key may have (formulas whose numeric programs agree but whose texts do not move
// into each other); beyond it new formulas of that key keep programs of their own.
constexpr std::size_t max_shapes_a_key = 8;
// How many cells ahead evaluate_batch() asks for a cell's cache line.
constexpr std::uint32_t prefetch_distance = 8;

bool reads_cell(const NumStep& s) {
    const bool binary = s.op >= NumOp::Add && s.op <= NumOp::Ge;
    return s.op == NumOp::Cell || (binary && (s.left == InCell || s.right == InCell));
}

void append(std::string& key, const void* bytes, std::size_t size) {
    key.append(static_cast<const char*>(bytes), size);
}

} // namespace

// Whether formula f can be one of a shape: its numeric program reads cells only (no large
// area) and nothing else does (no names, tables or references built at run time). Gives the
// program with its cells numbered as operands, the cells in that order, and the key that
// formulas of the same program share.
bool Workbook::Impl::compactable(const Formula& f, NumericProgram& shaped, std::vector<std::uint32_t>& slots,
                                 std::string& key) const {
    if (f.cell == none || f.numeric.empty() || !f.numeric.areas.empty() || f.array || f.anchor != none ||
        f.uses_names || f.uses_tables || f.reads_links || f.unresolved || f.has_unknown || f.is_volatile ||
        !f.built.empty() || !f.blocked.empty() || !f.reads.ranges.empty())
        return false;
    auto operand = [&](std::uint32_t slot) {
        for (std::uint32_t i = 0; i < slots.size(); ++i)
            if (slots[i] == slot)
                return i;
        slots.push_back(slot);
        return static_cast<std::uint32_t>(slots.size() - 1);
    };
    shaped = f.numeric;
    for (NumStep& s : shaped.code)
        if (reads_cell(s))
            s.a = operand(s.a);
    for (std::uint32_t& id : shaped.ids)
        id = operand(id);
    // The formula's reads are exactly its operands: the graph then knows it as it knows a
    // formula of its own.
    std::vector<std::uint32_t> sorted = slots;
    std::sort(sorted.begin(), sorted.end());
    if (sorted != f.reads.cells)
        return false;
    key.clear();
    for (const NumStep& s : shaped.code) {
        const std::uint8_t head[4] = {std::uint8_t(s.op), s.right, s.left, s.argc};
        append(key, head, sizeof head);
        append(key, &s.a, sizeof s.a);
        std::uint64_t bits;
        std::memcpy(&bits, &s.x, sizeof bits);
        append(key, &bits, sizeof bits);
    }
    append(key, shaped.ids.data(), shaped.ids.size() * sizeof(std::uint32_t));
    return true;
}

// Called once formula fi is installed: it joins the shape whose text moves into its own, or
// founds one with the formula of the same program seen before it.
void Workbook::Impl::share_shape(std::uint32_t fi) {
    NumericProgram shaped;
    std::vector<std::uint32_t> slots;
    std::string key;
    if (!compactable(formulas[fi], shaped, slots, key))
        return;
    const std::size_t hash = std::hash<std::string>()(key);
    const Place at = places[formulas[fi].cell];
    auto moves_into = [&](std::uint32_t shape, const Formula& f) {
        const Shape& s = shapes[shape];
        const Place& p = places[f.cell];
        return s.key == key && s.text->move(p.row - s.row, p.col - s.col) == f.text;
    };
    auto same_key = shapes_by_key.find(hash);
    const std::size_t shapes_of_key = same_key == shapes_by_key.end() ? 0 : same_key->second.size();
    for (std::size_t i = 0; i < shapes_of_key; ++i)
        if (moves_into(same_key->second[i], formulas[fi])) {
            make_compact(fi, same_key->second[i], slots);
            return;
        }
    auto lone = lone_formulas.find(hash);
    if (lone == lone_formulas.end() || lone->second == fi || shapes_of_key >= max_shapes_a_key) {
        lone_formulas[hash] = fi;
        return;
    }
    const std::uint32_t other = lone->second;
    lone_formulas.erase(lone);
    Shape s;
    s.key = key;
    s.numeric = std::move(shaped);
    s.operand_count = static_cast<std::uint32_t>(slots.size());
    s.on_numbers = runs_on_numbers(s.numeric, s.operand_count);
    if (s.on_numbers)
        s.memos.resize(function_memos(s.numeric));
    s.program.code = formulas[fi].linked.code;
    s.program.consts = formulas[fi].linked.consts;
    s.text = std::make_unique<FormulaMover>(formulas[fi].text);
    s.row = at.row;
    s.col = at.col;
    if (s.text->move(0, 0) != formulas[fi].text) // written in a way moving would change ("a1")
        return;
    s.sheet = at.sheet;
    describe_references(s, formulas[fi], slots);
    const std::uint32_t shape = static_cast<std::uint32_t>(shapes.size());
    shapes.push_back(std::move(s));
    shapes_by_key[hash].push_back(shape);
    make_compact(fi, shape, slots);
    // The formula seen first joins too, if it is still there and moves into the same text.
    NumericProgram other_shaped;
    std::vector<std::uint32_t> other_slots;
    std::string other_key;
    if (other < formulas.size() && compactable(formulas[other], other_shaped, other_slots, other_key) &&
        other_key == key && moves_into(shape, formulas[other]))
        make_compact(other, shape, other_slots);
}

// Where the founding formula's references and operands are, as place_shape() moves them.
// Left empty where moving could make another cell's formula differ from what its text
// would give: a range whose corners move differently, or a cell read both through an
// absolute and a relative reference.
void Workbook::Impl::describe_references(Shape& s, const Formula& founder,
                                         const std::vector<std::uint32_t>& slots) const {
    const Program p = parse(founder.text);
    if (p.refs.size() != founder.linked.refs.size())
        return;
    std::vector<ShapeRef> refs;
    for (std::size_t k = 0; k < p.refs.size(); ++k) {
        const SymRef& r = p.refs[k];
        const LinkedRef& l = founder.linked.refs[k];
        ShapeRef d;
        d.row_absolute = r.r1_abs;
        d.col_absolute = r.c1_abs;
        if (l.kind == LinkedRef::Cell) {
            const Place& q = places[l.cell];
            d.sheet = q.sheet;
            d.r1 = d.r2 = q.row;
            d.c1 = d.c2 = q.col;
        } else if (l.kind == LinkedRef::Range && r.r1_abs == r.r2_abs && r.c1_abs == r.c2_abs && !r.whole_rows &&
                   !r.whole_cols) {
            d.sheet = l.area.sheet;
            d.r1 = l.area.r1;
            d.c1 = l.area.c1;
            d.r2 = l.area.r2;
            d.c2 = l.area.c2;
        } else {
            return;
        }
        refs.push_back(d);
    }
    std::vector<ShapeOperand> operands;
    for (std::uint32_t slot : slots) {
        const Place& q = places[slot];
        std::uint32_t found = none;
        for (std::uint32_t k = 0; k < refs.size(); ++k) {
            const ShapeRef& d = refs[k];
            if (d.sheet != q.sheet || !Area{d.sheet, d.r1, d.c1, d.r2, d.c2}.contains(q.row, q.col))
                continue;
            if (found == none)
                found = k;
            else if (refs[found].row_absolute != d.row_absolute || refs[found].col_absolute != d.col_absolute)
                return;
        }
        if (found == none)
            return;
        operands.push_back(ShapeOperand{found, q.row - refs[found].r1, q.col - refs[found].c1});
    }
    s.refs = std::move(refs);
    s.operands = std::move(operands);
}

// Gives cell `a` the formula of cell `from`, one of a shape, moved there as copying it
// would, without its text: the shape's references moved, their cells given slots in the
// order linking the moved text would give them. False, with nothing changed, where that
// could differ from the moved text's formula: `from` is not one of a shape that can move, a
// reference would leave the grid, or two operands would meet in one cell.
bool Workbook::Impl::place_shape(const CellAddress& a, const CellAddress& from) {
    check(a);
    const std::uint32_t source = find(from);
    if (source == none || !is_compact(cells[source].formula))
        return false;
    const std::uint32_t shape = compact_formulas[cells[source].formula & ~compact_bit].shape;
    const Shape& s = shapes[shape];
    if (s.refs.empty() || s.sheet != a.sheet)
        return false;
    const std::int32_t rows = a.row - s.row, cols = a.col - s.col;
    auto row_of = [&](const ShapeRef& d, std::int32_t r) { return d.row_absolute ? r : r + rows; };
    auto col_of = [&](const ShapeRef& d, std::int32_t c) { return d.col_absolute ? c : c + cols; };
    for (const ShapeRef& d : s.refs)
        if (row_of(d, d.r1) < 0 || row_of(d, d.r2) >= max_rows || col_of(d, d.c1) < 0 || col_of(d, d.c2) >= max_columns)
            return false;
    shape_scratch.clear();
    for (const ShapeOperand& o : s.operands) {
        const ShapeRef& d = s.refs[o.ref];
        shape_scratch.push_back(std::uint64_t(d.sheet) << 40 |
                                key_of(row_of(d, d.r1) + o.row, col_of(d, d.c1) + o.col));
    }
    std::sort(shape_scratch.begin(), shape_scratch.end());
    if (std::adjacent_find(shape_scratch.begin(), shape_scratch.end()) != shape_scratch.end())
        return false;

    const std::uint32_t id = slot(a.sheet, a.row, a.col);
    remove_formula(id);
    forget_seed(id); // a new formula has shown nothing yet
    for (const ShapeRef& d : s.refs)
        if (d.r1 == d.r2 && d.c1 == d.c2)
            slot(d.sheet, row_of(d, d.r1), col_of(d, d.c1));
    for (const ShapeRef& d : s.refs)
        if (d.r1 != d.r2 || d.c1 != d.c2)
            for (std::int32_t r = d.r1; r <= d.r2; ++r)
                for (std::int32_t c = d.c1; c <= d.c2; ++c)
                    slot(d.sheet, row_of(d, r), col_of(d, c));
    slots_scratch.clear();
    for (const ShapeOperand& o : s.operands) {
        const ShapeRef& d = s.refs[o.ref];
        slots_scratch.push_back(find(CellAddress{d.sheet, row_of(d, d.r1) + o.row, col_of(d, d.c1) + o.col}));
    }
    place_compact(id, shape, slots_scratch);
    reads_scratch.cells = slots_scratch;
    std::sort(reads_scratch.cells.begin(), reads_scratch.cells.end());
    dependencies.add(id, reads_scratch);
    touched(id);
    dependencies.mark_changed(id);
    after_write();
    return true;
}

void Workbook::Impl::make_compact(std::uint32_t fi, std::uint32_t shape, const std::vector<std::uint32_t>& slots) {
    place_compact(formulas[fi].cell, shape, slots);
    formulas[fi] = Formula();
    free_formulas.push_back(fi);
}

// The cell's formula becomes one of the shape, reading `slots` as its operands.
void Workbook::Impl::place_compact(std::uint32_t id, std::uint32_t shape, const std::vector<std::uint32_t>& slots) {
    const std::uint32_t count = static_cast<std::uint32_t>(slots.size());
    std::uint32_t operands;
    auto reuse = free_operands.find(count);
    if (reuse != free_operands.end() && !reuse->second.empty()) {
        operands = reuse->second.back();
        reuse->second.pop_back();
    } else {
        operands = static_cast<std::uint32_t>(operand_slots.size());
        operand_slots.resize(operand_slots.size() + count);
    }
    std::copy(slots.begin(), slots.end(), operand_slots.begin() + operands);
    std::uint32_t k;
    if (!free_compact.empty()) {
        k = free_compact.back();
        free_compact.pop_back();
    } else {
        k = static_cast<std::uint32_t>(compact_formulas.size());
        compact_formulas.emplace_back();
    }
    compact_formulas[k] = CompactFormula{shape, operands};
    cells[id].formula = compact_bit | k;
}

// False when the general evaluator must decide: the cell has a formula of its own then.
bool Workbook::Impl::evaluate_compact(std::uint32_t id) {
    const CompactFormula& k = compact_formulas[cells[id].formula & ~compact_bit];
    const std::uint32_t* slots = operand_slots.data() + k.operands;
    Shape& shape = shapes[k.shape];
    if (shape.on_numbers) {
        double numbers[numbers_only_operands];
        std::uint32_t i = 0;
        for (; i < shape.operand_count && cells[slots[i]].value.is_number(); ++i)
            numbers[i] = cells[slots[i]].value.as_number();
        double result;
        if (i == shape.operand_count &&
            run_on_numbers(shape.numeric, numbers, result, shape.memos.empty() ? nullptr : shape.memos.data())) {
            cells[id].value.set_number(result);
            return true;
        }
    }
    return run_numeric(
        shape.numeric, [&](std::uint32_t i) -> const Value& { return cells[slots[i]].value; },
        [this](const Area& a) -> const std::vector<std::uint32_t>& { return cells_in(a); }, cells[id].value);
}

// Cells that were of one numbers-only shape when the order was made, none reading another:
// they run in lanes, a chunk at a time. A cell whose formula changed since, or whose operands
// are not all numbers, or that the lanes hand back, goes the way of a cell on its own.
void Workbook::Impl::evaluate_batch(const std::uint32_t* ids, std::uint32_t count) {
    const std::uint32_t first = cells[ids[0]].formula;
    const std::uint32_t shape_id = is_compact(first) ? compact_formulas[first & ~compact_bit].shape : none;
    if (shape_id == none || !shapes[shape_id].on_numbers) {
        for (std::uint32_t i = 0; i < count; ++i)
            if (cells[ids[i]].formula != none)
                evaluate(ids[i]);
        return;
    }
    Shape& shape = shapes[shape_id];
    FunctionMemo* memos = shape.memos.empty() ? nullptr : shape.memos.data();
    const std::uint32_t operands = shape.operand_count;
    const bool indexed = lookup_indexes.watching();
    alignas(lanes::Pair) double v[numbers_only_operands * number_lanes];
    for (std::uint32_t i = 0; i < operands * number_lanes / 2; ++i) // lanes not in use hold numbers too
        reinterpret_cast<lanes::Pair*>(v)[i] = lanes::both(1.0);
    double results[number_lanes];
    bool ok[number_lanes];
    std::uint32_t lane_ids[number_lanes];
    for (std::uint32_t next = 0; next < count;) {
        std::uint32_t n = 0;
        for (; next < count && n < number_lanes; ++next) {
            // The cells are rows apart, beyond what the processor foresees.
            if (next + prefetch_distance < count)
                __builtin_prefetch(&cells[ids[next + prefetch_distance]]);
            const std::uint32_t id = ids[next];
            const std::uint32_t fi = cells[id].formula;
            if (is_compact(fi) && compact_formulas[fi & ~compact_bit].shape == shape_id) {
                const std::uint32_t* slots = operand_slots.data() + compact_formulas[fi & ~compact_bit].operands;
                std::uint32_t i = 0;
                for (; i < operands; ++i) {
                    const Value& x = cells[slots[i]].value;
                    if (!x.is_number())
                        break;
                    v[i * number_lanes + n] = x.as_number();
                }
                if (i == operands) {
                    lane_ids[n++] = id;
                    continue;
                }
            }
            if (fi != none)
                evaluate(id);
        }
        if (n == 0)
            continue;
        run_on_number_lanes(shape.numeric, v, int(n), results, ok, memos);
        evaluations += n;
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::uint32_t id = lane_ids[k];
            if (!ok[k]) {
                --evaluations; // counted again there
                evaluate(id);
                continue;
            }
            if (indexed)
                touched(id);
            cells[id].value.set_finite_number(results[k]);
        }
    }
}

// The cells of a shape in an order are rows apart: read where they were placed, each would
// cost a cache line for its entry and another for its operands, most of a recalculation's
// memory traffic in a large model. Laid out in the order's sequence, they are read as a stream.
void Workbook::Impl::pack_compact(const std::vector<std::uint32_t>& order) {
    const std::size_t live = compact_formulas.size() - free_compact.size();
    // Not inside a data table's calculation, which runs within another recalculation's order.
    if (live < packed_minimum || data_table_depth > 0)
        return;
    std::size_t in_order = 0;
    bool sequential = true;
    for (std::uint32_t entry : order) {
        if (entry & cyclic_bit)
            return; // a cycle's cells run in their iteration's order
        if (entry & batch_mark)
            continue;
        const std::uint32_t fi = cells[entry].formula;
        if (!is_compact(fi))
            continue;
        sequential = sequential && (fi & ~compact_bit) == in_order;
        ++in_order;
    }
    if (sequential || in_order * 2 < live)
        return;
    std::vector<std::uint32_t> moved_to(compact_formulas.size(), none);
    std::vector<CompactFormula> packed;
    std::vector<std::uint32_t> slots;
    packed.reserve(live);
    slots.reserve(operand_slots.size());
    auto move = [&](std::uint32_t k) {
        const CompactFormula& c = compact_formulas[k];
        moved_to[k] = static_cast<std::uint32_t>(packed.size());
        packed.push_back(CompactFormula{c.shape, static_cast<std::uint32_t>(slots.size())});
        slots.insert(slots.end(), operand_slots.begin() + c.operands,
                     operand_slots.begin() + c.operands + shapes[c.shape].operand_count);
    };
    for (std::uint32_t entry : order)
        if (!(entry & batch_mark) && is_compact(cells[entry].formula))
            move(cells[entry].formula & ~compact_bit);
    for (std::uint32_t k = 0; k < compact_formulas.size(); ++k)
        if (compact_formulas[k].shape != none && moved_to[k] == none)
            move(k);
    for (Cell& c : cells)
        if (is_compact(c.formula))
            c.formula = compact_bit | moved_to[c.formula & ~compact_bit];
    compact_formulas = std::move(packed);
    operand_slots = std::move(slots);
    free_compact.clear();
    free_operands.clear();
}

// The cell's formula as one of its own, read from its text and linked as installing it did;
// its reads are already in the graph, unchanged.
std::uint32_t Workbook::Impl::expand(std::uint32_t id) {
    std::string text = compact_text(id);
    Reads reads = compact_reads(id);
    remove_compact(id);
    Program p = parse(text);
    const Place at = places[id];
    bool unresolved = false;
    Linked l = link(p, at.sheet, at.sheet, unresolved, at.row, at.col);
    const std::uint32_t fi = new_formula();
    Formula& f = formulas[fi];
    f.cell = id;
    f.text = std::move(text);
    f.linked = std::move(l);
    f.unresolved = unresolved;
    f.reads = std::move(reads);
    cells[id].formula = fi;
    compile(f);
    return fi;
}

// Frees the cell's compact formula; the graph's entries are the caller's business.
void Workbook::Impl::remove_compact(std::uint32_t id) {
    const std::uint32_t k = cells[id].formula & ~compact_bit;
    CompactFormula& c = compact_formulas[k];
    free_operands[shapes[c.shape].operand_count].push_back(c.operands);
    c = CompactFormula();
    free_compact.push_back(k);
    cells[id].formula = none;
}

std::string Workbook::Impl::compact_text(std::uint32_t id) const {
    const Shape& s = shapes[compact_formulas[cells[id].formula & ~compact_bit].shape];
    return s.text->move(places[id].row - s.row, places[id].col - s.col);
}

Reads Workbook::Impl::compact_reads(std::uint32_t id) const {
    const CompactFormula& k = compact_formulas[cells[id].formula & ~compact_bit];
    Reads reads;
    reads.cells.assign(operand_slots.begin() + k.operands,
                       operand_slots.begin() + k.operands + shapes[k.shape].operand_count);
    std::sort(reads.cells.begin(), reads.cells.end());
    return reads;
}

} // namespace host::engine
