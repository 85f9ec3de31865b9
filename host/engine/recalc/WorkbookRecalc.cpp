#include "engine/FreeMemory.hpp"
#include "engine/internal/WorkbookImpl.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

namespace host::engine {

using namespace detail;

void Workbook::Impl::evaluate(std::uint32_t id) {
    ++evaluations;
    touched(id);
    if (is_compact(cells[id].formula)) {
        if (evaluate_compact(id))
            return;
        expand(id);
        evaluate_general(id);
        return;
    }
    Cell& c = cells[id];
    Formula& f = formulas[c.formula];
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

// Kept out of evaluate(), whose lean path is the hot one.
void Workbook::Impl::evaluate_general(std::uint32_t id) {
    Cell& c = cells[id];
    Formula& f = formulas[c.formula];
    if (f.data_table) {
        evaluate_data_table(id);
        return;
    }
    if (f.anchor != none) {
        std::uint32_t af = cells[f.anchor].formula;
        c.value = af != none && formulas[af].result ? element(*formulas[af].result, f.at_row, f.at_col) : Value();
        return;
    }
    const Place& at = places[id];
    Evaluator& evaluator = resolving ? noting_evaluator : this->evaluator;
    std::vector<Area> built;
    evaluator.built_refs = f.is_volatile ? &built : nullptr;
    if (f.array) {
        const bool call = !f.spills && !f.linked.code.empty() && f.linked.code.back().op == Op::Call;
        evaluator.area_rows = call ? f.rows : 0;
        evaluator.area_cols = call ? f.cols : 0;
        auto result = evaluator.run_array(f.linked, at.sheet, at.row, at.col);
        evaluator.area_rows = evaluator.area_cols = 0;
        evaluator.built_refs = nullptr;
        keep_format_warnings(id);
        rewire_if_built(id, built);
        place_array(id, std::move(result));
        return;
    }
    Value v = evaluator.run(f.linked, at.sheet, at.row, at.col, f.array);
    evaluator.built_refs = nullptr;
    c.value = std::move(v);
    keep_format_warnings(id);
    rewire_if_built(id, built);
}

void Workbook::Impl::keep_format_warnings(std::uint32_t id) {
    auto& unsupported = (resolving ? noting_evaluator : evaluator).unsupported_formats;
    if (!unsupported.empty()) {
        format_warnings[id] = std::move(unsupported);
        unsupported.clear();
    } else if (!format_warnings.empty()) {
        format_warnings.erase(id);
    }
}

void Workbook::Impl::rewire_if_built(std::uint32_t id, std::vector<Area>& built) {
    std::uint32_t fi = cells[id].formula;
    if (formulas[fi].is_volatile && !same_areas(built, formulas[fi].built)) {
        // The graph learns what the formula read; the pass is run again in its new order.
        unregister_formula(fi);
        formulas[fi].built = std::move(built);
        register_formula(fi);
        rewired = true;
    }
}

bool Workbook::Impl::same_areas(std::vector<Area>& a, const std::vector<Area>& b) {
    auto less = [](const Area& x, const Area& y) {
        return std::tie(x.sheet, x.r1, x.c1, x.r2, x.c2) < std::tie(y.sheet, y.r1, y.c1, y.r2, y.c2);
    };
    std::sort(a.begin(), a.end(), less);
    a.erase(std::unique(a.begin(), a.end(), [&](const Area& x, const Area& y) { return !less(x, y) && !less(y, x); }),
            a.end());
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](const Area& x, const Area& y) { return !less(x, y) && !less(y, x); });
}

void Workbook::Impl::run(const std::vector<std::uint32_t>& order) {
    for (std::size_t i = 0; i < order.size(); ++i) {
        std::uint32_t entry = order[i];
        std::uint32_t id = entry & ~entry_flags;
        if (!(entry & cyclic_bit)) {
            if (entry & batch_mark) {
                evaluate_batch(order.data() + i + 1, id);
                i += id;
                continue;
            }
            if (cells[id].formula != none)
                evaluate(id);
            continue;
        }
        std::size_t end = i + 1;
        while (end < order.size() && (order[end] & cyclic_bit) && !(order[end] & cycle_start_bit))
            ++end;
        run_cycle(resolve_cycle(order.data() + i, end - i));
        i = end - 1;
    }
}

// The cells of one circular reference of the graph, computed as their formulas' references
// turn out: each after the cells of the group it reads. One that reads a cell not yet computed
// waits for it, which is computed first, and is computed again after; one that reads a cell
// waiting for it is in a real cycle, as is every cell reading one. Returns the cells of real
// cycles, in the graph's order, for run_cycle().
std::vector<std::uint32_t> Workbook::Impl::resolve_cycle(const std::uint32_t* entries, std::size_t n) {
    if (cycle_state.size() < cells.size())
        cycle_state.resize(cells.size(), Outside);
    // A real cycle's cells start its iteration from the values they had.
    std::vector<Value> before(n);
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t id = entries[k] & ~entry_flags;
        cycle_state[id] = cells[id].formula != none ? Pending : Done;
        before[k] = cells[id].value;
        if (cells[id].formula != none)
            cycle_seeds.emplace(id, before[k]);
    }
    resolving = true;
    std::vector<std::uint32_t> stack;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t root = entries[k] & ~entry_flags;
        if (cycle_state[root] != Pending)
            continue;
        stack.push_back(root);
        while (!stack.empty()) {
            const std::uint32_t id = stack.back();
            if (cycle_state[id] == Done || cycle_state[id] == Cyclic) {
                stack.pop_back();
                continue;
            }
            cycle_state[id] = Waiting;
            reads_pending.clear();
            if (is_compact(cells[id].formula))
                expand(id);
            ++evaluations;
            touched(id);
            evaluate_general(id);
            bool cyclic = false, waits = false;
            for (std::uint32_t read : reads_pending) {
                if (cycle_state[read] == Pending) {
                    stack.push_back(read);
                    waits = true;
                } else {
                    cyclic = true; // waiting for this one, or in a real cycle
                }
            }
            if (cyclic) {
                // Every cell from the one read up to here waits on this one: a real cycle.
                for (std::uint32_t waiting : stack)
                    if (cycle_state[waiting] == Waiting)
                        cycle_state[waiting] = Cyclic;
                cycle_state[id] = Cyclic;
                while (!stack.empty() && stack.back() != root)
                    stack.pop_back();
                continue;
            }
            if (!waits) {
                cycle_state[id] = Done;
                stack.pop_back();
            }
        }
    }
    resolving = false;
    std::vector<std::uint32_t> left;
    for (std::size_t k = 0; k < n; ++k) {
        const std::uint32_t id = entries[k] & ~entry_flags;
        if (cycle_state[id] == Cyclic) {
            left.push_back(id);
            acyclic.erase(id);
            cells[id].value = std::move(before[k]);
        } else {
            acyclic.insert(id);
        }
        cycle_state[id] = Outside;
    }
    return left;
}

// The cells of a real circular reference. Without iteration they show what they held when
// they joined it (what the file cached: the spreadsheet leaves a cycle's cells as they were),
// or 0 for a formula that held nothing; with iteration they are computed in turn until they
// settle.
void Workbook::Impl::run_cycle(const std::vector<std::uint32_t>& ids) {
    if (!settings.iterate) {
        for (std::uint32_t id : ids) {
            if (cells[id].formula == none)
                continue;
            auto seed = cycle_seeds.find(id);
            cells[id].value = seed != cycle_seeds.end() && !seed->second.is_empty() ? seed->second : Value::number(0);
            touched(id);
        }
        return;
    }
    for (int pass = 0; pass < settings.max_iterations; ++pass) {
        double largest = 0;
        for (std::uint32_t id : ids) {
            if (cells[id].formula == none)
                continue;
            Value before = cells[id].value;
            evaluate(id);
            const Value& after = cells[id].value;
            double change = before.is_number() && after.is_number() ? std::fabs(after.as_number() - before.as_number())
                            : before == after                       ? 0
                                                                    : HUGE_VAL;
            largest = std::max(largest, change);
        }
        if (!(largest >= settings.max_change))
            break;
    }
}

// Where many cells of one numeric shape are to be computed, the order goes level by level so
// that each level's cells of a shape run together (evaluate_batch()). Only where nothing can
// tell the orders apart: no circular reference (its cells' order is their iteration's), no
// volatile function (RAND draws its numbers in the order of the cells), no data table and
// no array formula (they compute or place other cells as they go).
std::uint32_t Workbook::Impl::batch_group(std::uint32_t id) const {
    const std::uint32_t fi = cells[id].formula;
    if (!is_compact(fi))
        return none;
    const std::uint32_t shape = compact_formulas[fi & ~compact_bit].shape;
    return shapes[shape].on_numbers ? shape : none;
}

void Workbook::Impl::arrange(std::vector<std::uint32_t>& order) const {
    std::size_t grouped = 0;
    for (std::uint32_t entry : order) {
        if (entry & entry_flags)
            return;
        const std::uint32_t fi = cells[entry].formula;
        if (is_compact(fi)) {
            grouped += shapes[compact_formulas[fi & ~compact_bit].shape].on_numbers;
            continue;
        }
        if (fi != none) {
            const Formula& f = formulas[fi];
            if (f.is_volatile || f.array || f.anchor != none || f.data_table)
                return;
        }
    }
    if (grouped >= 2)
        dependencies.by_levels(order, [this](std::uint32_t id) { return batch_group(id); });
}

void Workbook::Impl::arrange_order(void* impl, std::vector<std::uint32_t>& order) {
    static_cast<Impl*>(impl)->arrange(order);
    static_cast<Impl*>(impl)->pack_compact(order);
}

void Workbook::Impl::recalculate() {
    for (std::uint32_t id : volatile_cells)
        dependencies.mark_changed(id);
    if (!dependencies.has_changes())
        return;
    rewired = false;
    run(dependencies.changed_order(arrange_order, this));
    again_if_rewired();
}

void Workbook::Impl::again_if_rewired() {
    for (int pass = 0; rewired && pass < max_rewired_passes; ++pass) {
        rewired = false;
        for (std::uint32_t id : volatile_cells)
            dependencies.mark_changed(id);
        run(dependencies.changed_order(arrange_order, this));
    }
}

// A cell with a formula slot (its own, one of a shape's, or an array formula's member).
bool Workbook::Impl::has_formula(const void* impl, std::uint32_t id) {
    return static_cast<const Impl*>(impl)->cells[id].formula != none;
}

void Workbook::Impl::recalculate_all() {
    memo.forget();
    dependencies.forget_changes();
    std::vector<std::uint32_t> order;
    dependencies.order_where(&has_formula, this, order, nullptr);
    arrange(order);
    pack_compact(order);
    rewired = false;
    run(order);
    again_if_rewired();
    // The ordering's scratch space, tens of bytes a formula, is free again; the C library
    // would keep its pages for the next allocation rather than give them back.
    if (order.size() >= large_order) {
        std::vector<std::uint32_t>().swap(order);
        give_back_free_memory();
    }
}

void Workbook::Impl::after_write() {
    if (automatic)
        recalculate();
}

void Workbook::set_automatic(bool automatic) {
    impl_->automatic = automatic;
    impl_->after_write();
}

bool Workbook::automatic() const { return impl_->automatic; }
void Workbook::set_date1904(bool date1904) {
    impl_->memo.forget();
    impl_->dates_from_1904 = date1904;
}
bool Workbook::date1904() const { return impl_->dates_from_1904; }

void Workbook::set_file_name(const std::string& path) { impl_->file_path = path; }
void Workbook::set_fixed_now(double serial) { impl_->fixed_now_serial = serial; }
void Workbook::recalculate() { impl_->recalculate(); }
void Workbook::recalculate_all() { impl_->recalculate_all(); }

void Workbook::set_recalculation_memo(std::size_t bytes) {
    impl_->memo.forget();
    impl_->memo.budget = bytes;
}

std::uint64_t Workbook::recalculations_recalled() const { return impl_->memo.recalled; }

namespace {

std::uint64_t bits_of(double x) {
    std::uint64_t b;
    std::memcpy(&b, &x, sizeof b);
    return b;
}

std::uint64_t hash_of(const std::uint64_t* key, std::size_t n) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::size_t i = 0; i < n; ++i) {
        h ^= key[i] + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2);
        h *= 0x100000001b3ull;
    }
    return h;
}

} // namespace

bool Workbook::Impl::memo_recall(const std::vector<std::pair<CellAddress, Value>>& written) {
    if (!memo.usable || memo.stamp != dependencies.changes() || written.size() != memo.inputs.size() ||
        !volatile_cells.empty() || memo.keys.empty())
        return false;
    std::vector<std::uint64_t> key(written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        if (!written[i].second.is_number() || find(written[i].first) != memo.inputs[i])
            return false;
        key[i] = bits_of(written[i].second.as_number());
    }
    const std::uint64_t h = hash_of(key.data(), key.size());
    const std::size_t width = key.size(), count = memo.outputs.size();
    auto [first, last] = memo.by_hash.equal_range(h);
    for (auto it = first; it != last; ++it) {
        const std::size_t e = it->second;
        if (!std::equal(key.begin(), key.end(), memo.keys.begin() + std::ptrdiff_t(e * width)))
            continue;
        // The same numbers in the same cells of the same workbook: the results are those kept.
        for (std::size_t i = 0; i < written.size(); ++i) {
            cells[memo.inputs[i]].value = written[i].second;
            touched(memo.inputs[i]);
        }
        const double* kept = memo.numbers.data() + e * count;
        for (std::size_t i = 0; i < count; ++i) {
            cells[memo.outputs[i]].value = Value::number(kept[i]);
            touched(memo.outputs[i]);
        }
        ++memo.recalled;
        return true;
    }
    return false;
}

void Workbook::Impl::memo_keep(const std::vector<std::pair<CellAddress, Value>>& written, std::uint64_t stamp_before) {
    // Anything but these cells written since the last time, or a formula changed by the
    // recalculation itself (a reference built at run time): what was kept no longer holds.
    std::vector<std::uint32_t> inputs;
    inputs.reserve(written.size());
    bool numbers = volatile_cells.empty();
    for (const auto& c : written) {
        numbers = numbers && c.second.is_number();
        inputs.push_back(find(c.first));
    }
    const bool same_state = memo.usable && stamp_before == memo.stamp && inputs == memo.inputs;
    if (!same_state || !numbers) {
        memo.forget();
        if (!numbers)
            return;
        memo.inputs = inputs;
        std::vector<std::uint32_t> order;
        dependencies.order(inputs, order, nullptr);
        for (std::uint32_t entry : order) {
            if (entry & entry_flags)
                return; // a circular reference: its values depend on where iteration began
            const std::uint32_t fi = cells[entry].formula;
            if (fi == none)
                continue;
            if (!is_compact(fi)) {
                const Formula& f = formulas[fi];
                if (f.array || f.anchor != none || f.data_table || f.is_volatile)
                    return;
            }
            memo.outputs.push_back(entry);
        }
        const std::size_t entry_bytes =
            memo.outputs.size() * sizeof(double) + inputs.size() * sizeof(std::uint64_t) + 64;
        memo.capacity = std::min<std::size_t>(4096, memo.budget / entry_bytes);
        if (memo.capacity == 0)
            return;
        memo.usable = true;
    }
    // What this recalculation did after what it would do may differ: a reference built at run
    // time rewired the graph.
    const std::uint64_t writes = written.size();
    if (dependencies.changes() != stamp_before + writes) {
        memo.forget();
        return;
    }
    memo.stamp = dependencies.changes();
    const std::size_t width = written.size(), count = memo.outputs.size();
    const std::size_t e = memo.next;
    if (e < memo.hashes.size()) { // the oldest entry makes room
        auto [first, last] = memo.by_hash.equal_range(memo.hashes[e]);
        for (auto it = first; it != last; ++it)
            if (it->second == e) {
                memo.by_hash.erase(it);
                break;
            }
    } else {
        memo.hashes.push_back(0);
        memo.keys.resize(memo.keys.size() + width);
        memo.numbers.resize(memo.numbers.size() + count);
    }
    // Only results that are all numbers are kept; the entry stays free otherwise.
    double* kept = memo.numbers.data() + e * count;
    for (std::size_t i = 0; i < count; ++i) {
        const Value& v = cells[memo.outputs[i]].value;
        if (!v.is_number())
            return;
        kept[i] = v.as_number();
    }
    std::uint64_t* key = memo.keys.data() + e * width;
    for (std::size_t i = 0; i < width; ++i)
        key[i] = bits_of(written[i].second.as_number());
    const std::uint64_t h = hash_of(key, width);
    memo.hashes[e] = h;
    memo.by_hash.emplace(h, std::uint32_t(e));
    memo.next = (e + 1) % memo.capacity;
}

void Workbook::set_calc_settings(const CalcSettings& settings) {
    impl_->memo.forget();
    impl_->settings = settings;
    impl_->settings.max_iterations = std::max(1, std::min(settings.max_iterations, 32767));
    if (!(settings.max_change >= 0))
        impl_->settings.max_change = 0;
}

const CalcSettings& Workbook::calc_settings() const { return impl_->settings; }
std::uint64_t Workbook::evaluation_count() const { return impl_->evaluations; }

void Workbook::set_lookup_indexes(bool on) {
    impl_->use_lookup_indexes = on;
    impl_->lookup_indexes.clear();
}

const LookupIndex* Workbook::Impl::lookup_index(const Area& a) const {
    const std::int64_t width = a.c2 - a.c1 + 1;
    if (!use_lookup_indexes || a.sheet < 0 || a.sheet >= int(sheets.size()) || a.size() > std::int64_t(0xFFFFFFFFu))
        return nullptr;
    return lookup_indexes.get(a, [&] {
        std::vector<LookupIndex::Entry> list;
        for (std::uint32_t id : cells_in(a)) {
            const Value& v = cells[id].value;
            const Place& p = places[id];
            if (!v.is_empty())
                list.push_back({std::uint32_t((p.row - a.r1) * width + (p.col - a.c1)), v});
        }
        return list;
    });
}

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
        if (is_compact(fi)) {
            for (std::uint32_t read : impl_->compact_reads(id).cells)
                visit(read);
            continue;
        }
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

std::vector<std::string> Workbook::unknown_functions(const CellAddress& cell) const {
    std::vector<std::string> out;
    const Formula* f = impl_->formula_at(cell);
    if (!f || f->anchor != none || !f->has_unknown)
        return out;
    // A function of another workbook ([1]!sql) is unknown here whatever the link's copy names.
    for (const std::string& name : parse(f->text, f->array).unknown_functions)
        if (name[0] == '[' || !impl_->visible_name(name, cell.sheet, false))
            out.push_back(name);
    return out;
}

std::vector<CellAddress> Workbook::volatile_dependents() const {
    std::vector<CellAddress> out;
    if (impl_->volatile_cells.empty())
        return out;
    std::vector<std::uint32_t> reached;
    impl_->dependencies.order(impl_->volatile_cells, reached, nullptr);
    out.reserve(reached.size());
    for (std::uint32_t entry : reached)
        out.push_back(impl_->address(entry & ~detail::entry_flags));
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
        const int sheet = impl_->places[f.cell].sheet;
        for (const std::string& name : p.unknown_functions)
            if (!impl_->visible_name(name, sheet, false)) // a defined name's LAMBDA is known
                unknown[name].push_back(impl_->address(f.cell));
    }
    for (auto& kv : unknown) {
        std::sort(kv.second.begin(), kv.second.end());
        d.unknown_functions.push_back(Diagnostics::UnknownFunction{kv.first, kv.second});
    }
    std::vector<std::uint32_t> order;
    std::vector<std::vector<std::uint32_t>> cycles;
    impl_->dependencies.order_where(&Impl::has_formula, impl_.get(), order, &cycles);
    for (const auto& cycle : cycles) {
        std::vector<CellAddress> cells;
        for (std::uint32_t id : cycle)
            if (impl_->cells[id].formula != none && !impl_->acyclic.count(id))
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
