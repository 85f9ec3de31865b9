#include "engine/internal/Eval.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <type_traits>

namespace host::engine::detail {

namespace {

// Defined names may refer to each other; deeper than this is taken as a loop.
constexpr int max_name_depth = 32;
// Calls of LAMBDA's functions inside each other (recursion through a name); deeper is #NUM!.
constexpr int max_call_depth = 500;

bool is_multi(const Item& item) { return item.kind == Item::Arr || (item.kind == Item::Range && item.area.size() > 1); }

} // namespace

View::View(const Evaluator& ev, const Item& item) : ev(ev), item(item) {
    if (item.kind == Item::Range) {
        rows = item.area.r2 - item.area.r1 + 1;
        cols = item.area.c2 - item.area.c1 + 1;
    } else if (item.kind == Item::Arr) {
        rows = item.arr->rows;
        cols = item.arr->cols;
    }
}

void View::reading_all() {
    if (item.kind == Item::Range && std::int64_t(rows) * cols >= 256)
        slots = ev.grid.slots_by_position(item.area);
}

const Value& View::at(std::int32_t r, std::int32_t c) const {
    static const Value empty;
    switch (item.kind) {
    case Item::Range: {
        if (slots) {
            const std::uint32_t id = (*slots)[std::size_t(r) * std::size_t(cols) + std::size_t(c)];
            return id == 0xFFFFFFFFu ? empty : ev.grid.cell_value(id);
        }
        return ev.grid.value_at(item.area.sheet, item.area.r1 + r, item.area.c1 + c);
    }
    case Item::Arr: return item.arr->at(r, c);
    case Item::Cell: return ev.grid.cell_value(item.cell);
    case Item::Missing: return empty;
    default: return item.v;
    }
}

Value Evaluator::scalar(const Item& item, bool array) const {
    switch (item.kind) {
    case Item::Val: return item.v;
    case Item::Missing: return Value();
    case Item::Cell: return grid.cell_value(item.cell);
    case Item::Arr: return item.arr->values.empty() ? Value() : item.arr->values[0];
    case Item::Range: {
        const Area& a = item.area;
        if (array || (a.r1 == a.r2 && a.c1 == a.c2))
            return grid.value_at(a.sheet, a.r1, a.c1);
        if (a.c1 == a.c2 && row >= a.r1 && row <= a.r2)
            return grid.value_at(a.sheet, row, a.c1);
        if (a.r1 == a.r2 && col >= a.c1 && col <= a.c2)
            return grid.value_at(a.sheet, a.r1, col);
        // A block holding the formula's own cell meets its row and column there: a circular
        // reference, as the spreadsheet finds it.
        if (a.sheet == sheet && row >= a.r1 && row <= a.r2 && col >= a.c1 && col <= a.c2)
            return grid.value_at(a.sheet, row, col);
        return Value::error(ErrorCode::Value);
    }
    }
    return Value();
}

namespace {

// Whether an operand is taken element by element: an array always (an array constant in any
// formula), a range in array context only (elsewhere the cell beside the formula).
bool element_wise(const Item& item, bool array) {
    return item.kind == Item::Arr ? item.arr->values.size() > 1 : array && is_multi(item);
}

// An operator's operand: an array of any size gives an array of its shape, so that an error
// times {1} is the array {error}, one row and one column, not a lone error.
bool operand_element_wise(const Item& item, bool array) {
    return item.kind == Item::Arr ? !item.arr->values.empty() : array && is_multi(item);
}

} // namespace

void Evaluator::unary(Op op, Item& a, bool array) {
    if (operand_element_wise(a, array)) {
        View v(*this, a);
        v.reading_all();
        if (std::int64_t(v.rows) * v.cols > max_dense_cells) {
            a = Item();
            a.v = Value::error(ErrorCode::Num);
            return;
        }
        auto out = std::make_shared<Array>();
        out->rows = v.rows;
        out->cols = v.cols;
        out->values.reserve(std::size_t(v.rows) * v.cols);
        for (std::int32_t r = 0; r < v.rows; ++r)
            for (std::int32_t c = 0; c < v.cols; ++c)
                out->values.push_back(apply_unary(op, v.at(r, c), grid.date1904()));
        a.kind = Item::Arr;
        a.arr = keep(std::move(out));
        return;
    }
    a.v = apply_unary(op, scalar(a), grid.date1904());
    a.kind = Item::Val;
}

namespace {

// Element (r, c) of a view broadcast to a larger shape: a single row or column repeats.
const Value& broadcast(const View& v, std::int32_t r, std::int32_t c) {
    static const Value outside = Value::error(ErrorCode::NA);
    if (v.rows == 1)
        r = 0;
    if (v.cols == 1)
        c = 0;
    if (r >= v.rows || c >= v.cols)
        return outside;
    return v.at(r, c);
}

} // namespace

void Evaluator::binary(Op op, Item& a, const Item& b, bool array) {
    if (operand_element_wise(a, array) || operand_element_wise(b, array)) {
        // Outside array context a range beside an array gives its one cell beside the formula.
        Item one_a, one_b;
        if (!array && a.kind == Item::Range) {
            one_a.v = scalar(a);
            a = one_a;
        }
        if (!array && b.kind == Item::Range)
            one_b.v = scalar(b);
        View va(*this, a), vb(*this, !array && b.kind == Item::Range ? one_b : b);
        va.reading_all();
        vb.reading_all();
        std::int32_t rows = std::max(va.rows, vb.rows), cols = std::max(va.cols, vb.cols);
        if (std::int64_t(rows) * cols > max_dense_cells) {
            a = Item();
            a.v = Value::error(ErrorCode::Num);
            return;
        }
        auto out = std::make_shared<Array>();
        out->rows = rows;
        out->cols = cols;
        out->values.reserve(std::size_t(rows) * cols);
        for (std::int32_t r = 0; r < rows; ++r)
            for (std::int32_t c = 0; c < cols; ++c)
                out->values.push_back(apply_binary(op, broadcast(va, r, c), broadcast(vb, r, c), grid.date1904()));
        a.kind = Item::Arr;
        a.arr = keep(std::move(out));
        return;
    }
    a.v = apply_binary(op, scalar(a), scalar(b), grid.date1904());
    a.kind = Item::Val;
    a.arr = nullptr;
}

void Evaluator::push_ref(const LinkedRef& r) {
    stack_.emplace_back();
    Item& it = stack_.back();
    if (r.kind == LinkedRef::Cell) {
        it.kind = Item::Cell;
        it.cell = r.cell;
    } else if (r.kind == LinkedRef::Range || r.kind == LinkedRef::Sheets) {
        it.kind = Item::Range;
        it.area = r.area;
        it.last_sheet = r.last_sheet;
    } else {
        it.v = Value::error(r.error);
    }
}

// A name used in array context (an array formula's) is evaluated element by element too.
// A name's formula is evaluated as an array formula wherever the name is used, as the
// spreadsheet does (COUNT(Big) of Big =IF(A1:A9>2,A1:A9,NA()) counts the array's numbers);
// a reference it gives is taken as the place where the name is used takes one.
void Evaluator::push_name(const Instr& in, std::uint32_t name, int depth) {
    const Linked* named = grid.name_program(name, true);
    if (!named && (in.flags & NameOrFunction))
        return push_function(in.argc);
    if (!named || depth >= max_name_depth) {
        stack_.emplace_back();
        stack_.back().v = Value::error(ErrorCode::Name);
        return;
    }
    Item result = evaluate(*named, depth + 1);
    stack_.push_back(std::move(result));
}

// The common case, two numbers, without building values; false for anything else.
bool Evaluator::numbers_only(Op op) {
    Item& a = stack_[stack_.size() - 2];
    const Item& b = stack_.back();
    const Value* x = a.kind == Item::Val ? &a.v : a.kind == Item::Cell ? &grid.cell_value(a.cell) : nullptr;
    const Value* y = b.kind == Item::Val ? &b.v : b.kind == Item::Cell ? &grid.cell_value(b.cell) : nullptr;
    if (!x || !y || !x->is_number() || !y->is_number())
        return false;
    double p = x->as_number(), q = y->as_number();
    switch (op) {
    case Op::Add: a.v = Value::number(approx_add(p, q)); break;
    case Op::Sub: a.v = Value::number(approx_sub(p, q)); break;
    case Op::Mul: a.v = Value::number(p * q); break;
    case Op::Div: a.v = q == 0 ? Value::error(ErrorCode::Div0) : Value::number(p / q); break;
    case Op::Pow: a.v = apply_binary(Op::Pow, *x, *y, grid.date1904()); break;
    default: {
        int c = approx_equal(p, q) ? 0 : p < q ? -1 : 1;
        bool r = op == Op::Eq   ? c == 0
                 : op == Op::Ne ? c != 0
                 : op == Op::Lt ? c < 0
                 : op == Op::Le ? c <= 0
                 : op == Op::Gt ? c > 0
                                : c >= 0;
        a.v = Value::boolean(r);
    }
    }
    a.kind = Item::Val;
    stack_.pop_back();
    return true;
}

// IF's jump on the condition at the top of the stack; the next instruction to run. An array
// condition (an array anywhere, a range in array context) takes both branches and chooses
// element by element.
std::size_t Evaluator::branch(const Linked& p, std::size_t pc, int depth, std::vector<Item>& locals) {
    const Instr& in = p.code[pc];
    const std::size_t else_begin = in.operand, end = p.code[in.operand - 1].operand;
    Item& condition = stack_.back();
    if (condition.kind == Item::Val && condition.v.is_boolean()) {
        bool b = condition.v.as_boolean();
        stack_.pop_back();
        return b ? pc + 1 : else_begin;
    }
    if (element_wise(condition, in.flags & ArrayContext)) {
        std::size_t base = stack_.size() - 1;
        stack_.push_back(execute(p, pc + 1, else_begin - 1, depth, locals));
        stack_.push_back(execute(p, else_begin, end, depth, locals));
        Item out;
        call_function(*this, find_function("IF"), stack_.data() + base, 3, out, true);
        stack_.resize(base);
        stack_.push_back(std::move(out));
        return end;
    }
    Value c = scalar(condition, in.flags & ArrayContext);
    stack_.pop_back();
    bool b;
    ErrorCode e;
    if (!to_boolean(c, b, e)) {
        stack_.emplace_back();
        stack_.back().v = Value::error(e);
        return end;
    }
    return b ? pc + 1 : else_begin;
}

// The area of a reference item: a cell or a range on one sheet, not a union.
bool Evaluator::single_area(const Item& it, Area& out) const {
    if (it.kind == Item::Cell)
        out = grid.cell_area(it.cell);
    else if (it.kind == Item::Range && !it.areas && it.last_sheet < 0)
        out = it.area;
    else
        return false;
    return true;
}

// The operands of the reference operators, the right one popped: false with the result on
// the stack already (an error of either side, or #VALUE! for what is not one area of one
// sheet), else their areas, with the left one's place cleared for the result.
bool Evaluator::area_operands(Area& x, Area& y) {
    Item b = std::move(stack_.back());
    stack_.pop_back();
    Item& a = stack_.back();
    if (a.kind == Item::Val && a.v.is_error())
        return false;
    if (b.kind == Item::Val && b.v.is_error()) {
        a = std::move(b);
        return false;
    }
    if (!single_area(a, x) || !single_area(b, y) || x.sheet != y.sheet) {
        a = Item();
        a.v = Value::error(ErrorCode::Value);
        return false;
    }
    a = Item();
    return true;
}

// The space operator: the cells two references share. Each area of a union meets the other
// side, (A1:B2,C3) C3:D4 is C3, and what several areas share stays a union.
void Evaluator::intersect() {
    Item b = std::move(stack_.back());
    stack_.pop_back();
    Item& a = stack_.back();
    if (a.kind == Item::Val && a.v.is_error())
        return;
    if (b.kind == Item::Val && b.v.is_error()) {
        a = std::move(b);
        return;
    }
    auto areas_of = [&](const Item& it, std::vector<Area>& out) {
        Area one;
        if (it.kind == Item::Range && it.areas && it.last_sheet < 0)
            out = *it.areas;
        else if (single_area(it, one))
            out.push_back(one);
        else
            return false;
        return true;
    };
    std::vector<Area> xs, ys;
    auto shared = std::make_unique<std::vector<Area>>();
    bool same_sheet = areas_of(a, xs) && areas_of(b, ys);
    for (const Area& x : xs)
        for (const Area& y : ys) {
            same_sheet = same_sheet && x.sheet == y.sheet;
            Area both{x.sheet, std::max(x.r1, y.r1), std::max(x.c1, y.c1), std::min(x.r2, y.r2), std::min(x.c2, y.c2)};
            if (both.r1 <= both.r2 && both.c1 <= both.c2)
                shared->push_back(both);
        }
    a = Item();
    if (!same_sheet) {
        a.v = Value::error(ErrorCode::Value);
    } else if (shared->empty()) {
        a.v = Value::error(ErrorCode::Null);
    } else {
        a.kind = Item::Range;
        a.area = shared->front();
        if (shared->size() > 1) {
            a.areas = shared.get();
            unions_.push_back(std::move(shared));
        }
    }
}

// The ':' operator between references a calculation gave: the smallest range holding both.
void Evaluator::span() {
    Area x, y;
    if (!area_operands(x, y))
        return;
    Item& a = stack_.back();
    a.kind = Item::Range;
    a.area = Area{x.sheet, std::min(x.r1, y.r1), std::min(x.c1, y.c1), std::max(x.r2, y.r2), std::max(x.c2, y.c2)};
    if (built_refs)
        built_refs->push_back(a.area);
}

// (A1:B2,D4): the top `count` references as one.
void Evaluator::unite(std::size_t count) {
    auto list = std::make_unique<std::vector<Area>>();
    Item result;
    for (std::size_t k = stack_.size() - count; k < stack_.size(); ++k) {
        const Item& it = stack_[k];
        if (it.kind == Item::Cell) {
            list->push_back(grid.cell_area(it.cell));
        } else if (it.kind == Item::Range && it.last_sheet < 0) { // ((A1,B2),C3) is one union
            if (it.areas)
                list->insert(list->end(), it.areas->begin(), it.areas->end());
            else
                list->push_back(it.area);
        } else {
            result.v = it.kind == Item::Val && it.v.is_error() ? it.v : Value::error(ErrorCode::Value);
            break;
        }
    }
    stack_.resize(stack_.size() - count);
    if (result.v.is_empty()) {
        result.kind = Item::Range;
        result.area = list->front();
        result.areas = list.get();
        unions_.push_back(std::move(list));
    }
    stack_.push_back(std::move(result));
}

void Evaluator::make_closure(const Linked& p, std::size_t pc, const std::vector<Item>& locals) {
    const Instr& in = p.code[pc];
    auto f = std::make_unique<Closure>();
    f->program = &p;
    f->begin = pc + 2;
    f->end = p.code[pc + 1].operand;
    f->first_local = in.operand;
    f->params = in.argc;
    f->captured = locals;
    stack_.emplace_back();
    stack_.back().v = Value::error(ErrorCode::Calc);
    stack_.back().closure = f.get();
    closures_.push_back(std::move(f));
}

void Evaluator::push_function(int builtin) {
    auto f = std::make_unique<Closure>();
    f->builtin = builtin;
    const int most = functions()[std::size_t(builtin)].max_args; // -1: any number
    f->params = static_cast<std::uint16_t>(most < 0 || most > 255 ? 255 : most);
    stack_.emplace_back();
    stack_.back().v = Value::error(ErrorCode::Calc);
    stack_.back().closure = f.get();
    closures_.push_back(std::move(f));
}

// f(args): the function sits below its arguments.
void Evaluator::call_closure(std::size_t argc) {
    const std::size_t base = stack_.size() - argc - 1;
    const Item& callee = stack_[base];
    Item out;
    if (callee.closure) {
        out = invoke(*callee.closure, stack_.data() + base + 1, static_cast<int>(argc));
    } else {
        out.v = callee.kind == Item::Val && callee.v.is_error() ? callee.v : Value::error(ErrorCode::Value);
    }
    stack_.resize(base);
    stack_.push_back(std::move(out));
}

Item Evaluator::invoke(const Closure& f, const Item* args, int argc) {
    Item out;
    if (argc > f.params) {
        out.v = Value::error(ErrorCode::Value);
        return out;
    }
    if (depth_ >= max_call_depth) {
        out.v = Value::error(ErrorCode::Num);
        return out;
    }
    if (f.builtin >= 0) { // a built-in function passed by name takes what its call would
        if (argc < functions()[std::size_t(f.builtin)].min_args) {
            out.v = Value::error(ErrorCode::Value);
            return out;
        }
        std::vector<Item> copy(args, args + argc);
        const Mark before = mark();
        ++depth_;
        call_function(*this, f.builtin, copy.data(), argc, out, true);
        --depth_;
        release(before, out);
        return out;
    }
    std::vector<Item> locals = f.captured;
    for (int i = 0; i < f.params; ++i) {
        Item& slot = locals[f.first_local + std::size_t(i)];
        if (i < argc) {
            slot = args[i];
        } else {
            slot = Item();
            slot.kind = Item::Missing;
        }
    }
    // The call's temporaries go when it returns: a MAP over many elements would otherwise
    // hold every call's arrays until the formula ends.
    const Mark before = mark();
    ++depth_;
    out = execute(*f.program, f.begin, f.end, 0, locals);
    --depth_;
    locals.clear();
    release(before, out);
    return out;
}

void Evaluator::release(const Mark& m, const Item& kept) {
    if (kept.closure)
        for (std::size_t k = closures_.size(); k-- > m.closures;)
            if (closures_[k].get() == kept.closure)
                return;
    if (kept.kind == Item::Arr && !kept.arr->functions.empty() && closures_.size() > m.closures)
        return; // an array of functions, some maybe made since the mark
    // Truncates `made` to `from`, moving the entry that is `keep` (if made since) back on.
    auto drop = [](auto& made, std::size_t from, const void* keep) {
        if (made.size() <= from)
            return;
        typename std::decay_t<decltype(made)>::value_type saved;
        if (keep)
            for (std::size_t k = made.size(); k-- > from;)
                if (made[k].get() == keep) {
                    saved = std::move(made[k]);
                    break;
                }
        made.resize(from);
        if (saved)
            made.push_back(std::move(saved));
    };
    drop(arena_, m.arrays, kept.kind == Item::Arr ? static_cast<const void*>(kept.arr) : nullptr);
    drop(unions_, m.unions, kept.kind == Item::Range ? static_cast<const void*>(kept.areas) : nullptr);
    if (closures_.size() > m.closures)
        closures_.resize(m.closures);
}

Item Evaluator::evaluate(const Linked& p, int depth) {
    std::vector<Item> locals(p.locals);
    return execute(p, 0, p.code.size(), depth, locals);
}

// Runs code[begin, end) and answers what it leaves on the stack.
Item Evaluator::execute(const Linked& p, std::size_t begin, std::size_t end, int depth, std::vector<Item>& locals) {
    const std::size_t base = stack_.size();
    for (std::size_t pc = begin; pc < end;) {
        const Instr& in = p.code[pc];
        switch (in.op) {
        case Op::Const:
            stack_.emplace_back();
            stack_.back().v = p.consts[in.operand];
            break;
        case Op::Missing:
            stack_.emplace_back();
            stack_.back().kind = Item::Missing;
            break;
        case Op::Ref: push_ref(p.refs[in.operand]); break;
        case Op::Name: push_name(in, p.names[in.operand], depth); break;
        case Op::Array:
            stack_.emplace_back();
            stack_.back().kind = Item::Arr;
            stack_.back().arr = p.arrays[in.operand].get();
            break;
        case Op::Neg:
        case Op::Percent: unary(in.op, stack_.back(), in.flags & ArrayContext); break;
        case Op::Plus: break;
        case Op::Add:
        case Op::Sub:
        case Op::Mul:
        case Op::Div:
        case Op::Pow:
        case Op::Eq:
        case Op::Ne:
        case Op::Lt:
        case Op::Le:
        case Op::Gt:
        case Op::Ge:
            if (numbers_only(in.op))
                break;
            [[fallthrough]];
        case Op::Concat: {
            Item b = std::move(stack_.back());
            stack_.pop_back();
            binary(in.op, stack_.back(), b, in.flags & ArrayContext);
            break;
        }
        case Op::Call: {
            std::size_t argc = in.argc;
            Item out;
            call_function(*this, static_cast<int>(in.operand), stack_.data() + (stack_.size() - argc),
                          static_cast<int>(argc), out, in.flags & ArrayContext);
            stack_.resize(stack_.size() - argc);
            stack_.push_back(std::move(out));
            break;
        }
        case Op::IfFalse: pc = branch(p, pc, depth, locals); continue;
        case Op::Jump: pc = in.operand; continue;
        case Op::Bind:
            locals[in.operand] = std::move(stack_.back());
            stack_.pop_back();
            break;
        case Op::Local: stack_.push_back(locals[in.operand]); break;
        case Op::Intersect: intersect(); break;
        case Op::Range: span(); break;
        case Op::Union: unite(in.argc); break;
        case Op::Lambda:
            make_closure(p, pc, locals);
            pc = p.code[pc + 1].operand;
            continue;
        case Op::Invoke: call_closure(in.argc); break;
        case Op::Function: push_function(static_cast<int>(in.operand)); break;
        }
        ++pc;
    }
    Item result;
    if (stack_.size() > base)
        result = std::move(stack_.back());
    else
        result.v = Value::error(ErrorCode::Value);
    stack_.resize(base);
    return result;
}

Value Evaluator::run(const Linked& program, int sheet_, std::int32_t row_, std::int32_t col_, bool array_formula) {
    sheet = sheet_;
    row = row_;
    col = col_;
    arena_.clear();
    unions_.clear();
    closures_.clear();
    depth_ = 0;
    Item result = evaluate(program, 0);
    Value v = scalar(result, array_formula);
    if (v.is_empty())
        return Value::number(0);
    return v;
}

std::shared_ptr<const Array> Evaluator::run_array(const Linked& program, int sheet_, std::int32_t row_,
                                                  std::int32_t col_) {
    sheet = sheet_;
    row = row_;
    col = col_;
    arena_.clear();
    unions_.clear();
    closures_.clear();
    depth_ = 0;
    Item result = evaluate(program, 0);
    auto out = std::make_shared<Array>();
    if (is_multi(result) && !result.areas && result.last_sheet < 0) {
        View view(*this, result);
        if (std::int64_t(view.rows) * view.cols <= max_dense_cells) {
            out->rows = view.rows;
            out->cols = view.cols;
            out->values.reserve(std::size_t(view.rows) * view.cols);
            for (std::int32_t r = 0; r < view.rows; ++r)
                for (std::int32_t c = 0; c < view.cols; ++c) {
                    Value v = view.at(r, c);
                    out->values.push_back(v.is_empty() ? Value::number(0) : std::move(v));
                }
            return out;
        }
        result = Item();
        result.v = Value::error(ErrorCode::Num);
    }
    out->rows = out->cols = 1;
    Value v = scalar(result, true);
    out->values.push_back(v.is_empty() ? Value::number(0) : std::move(v));
    return out;
}

} // namespace host::engine::detail
