#ifndef OMBRIX_HOST_ENGINE_NUMERIC_HPP
#define OMBRIX_HOST_ENGINE_NUMERIC_HPP

// The engine's own: everything outside host/engine goes through engine/Workbook.hpp.
#ifndef OMBRIX_ENGINE_INTERNALS
#error "engine/internal/ headers are private to the engine (use engine/Workbook.hpp)"
#endif

// Formulas of numbers only (arithmetic, comparisons, IF, the common aggregates) compiled
// for a lean evaluator: a fixed stack of doubles and no values built on the way. It gives
// up (returns false) on anything it does not model exactly - text, errors, infinities -
// and the caller then runs the general evaluator, which computes the same result the
// slow way. So it only has to be right where it answers.

#include "engine/internal/Eval.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

namespace host::engine::detail {

enum class NumOp : std::uint8_t {
    Num,   // push x
    Bool,  // push a = 0/1
    Cell,  // push cell slot a (read when used)
    Cells, // push the cells ids[a .. a+argc) of a small range, row by row
    Area,  // push areas[a], a range whose cells are looked up when used
    Nop,
    Neg,
    Percent,
    Add,
    Sub,
    Mul,
    Div,
    Pow,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Sum,
    SumSq,
    Product,
    Average,
    Min,
    Max, // over argc arguments
    Abs,
    Sqrt,
    Exp,
    Ln,
    Sin,
    Cos,
    Tan,
    Atan,
    IfFalse, // pop; if false jump to a
    Jump,    // jump to a
};

// Where a binary operator finds its operands.
enum : std::uint8_t { OnStack = 0, InStep = 1, InCell = 2 };

struct NumStep {
    NumOp op;
    std::uint8_t right = OnStack; // binary operators: the stack, x, or cell slot a
    std::uint8_t left = OnStack;  // the stack, or cell slot a (the right one then in x)
    std::uint8_t argc = 0;
    std::uint32_t a = 0;
    double x = 0;
};

struct NumericProgram {
    std::vector<NumStep> code;
    std::vector<std::uint32_t> ids;
    std::vector<Area> areas;
    bool empty() const { return code.empty(); }
};

// The deepest stack a numeric program may need.
constexpr int numeric_stack = 48;

// Compiles `l` if it is numeric-only; `cells_of(area, ids)` appends the slots of a small
// range row by row and returns false if the range is too big to list (it is then read
// through the workbook at each run). Leaves `out` empty otherwise.
template <class CellsOf>
void compile_numeric(const Linked& l, CellsOf cells_of, NumericProgram& out);

namespace numeric {

struct Entry {
    double x;
    std::uint32_t a;
    std::uint8_t n;
    NumOp kind; // Num, Bool, Cell, Cells or Area
    // Only the fields the kind uses are written.
    void number(double v) { x = v, kind = NumOp::Num; }
    void ref(NumOp k, std::uint32_t id, std::uint8_t count = 0) { a = id, n = count, kind = k; }
};

// The number, or false where the slow path must decide: finite results only, no
// negative zero (as Value::number()).
inline bool finite(double& x) {
    if (!(x - x == 0))
        return false;
    x += 0.0; // -0 + 0 is +0; every other number is unchanged
    return true;
}

} // namespace numeric

// Runs a numeric program. `cell(id)` gives a cell's value, `area_cells(area)` the slots in
// a large area (as Grid::cells_in). Returns false if the general evaluator must decide.
template <class CellValue, class AreaCells>
bool run_numeric(const NumericProgram& p, CellValue cell, AreaCells area_cells, Value& out) {
    using numeric::Entry;
    Entry st[numeric_stack];
    int sp = 0;
    // An operand of arithmetic: numbers, booleans and empty cells coerce.
    auto arith_value = [](const Value& v, double& x) OMBRIX_ALWAYS_INLINE {
        if (v.is_number()) {
            x = v.as_number();
            return true;
        }
        if (v.is_empty()) {
            x = 0;
            return true;
        }
        if (v.is_boolean()) {
            x = v.as_boolean() ? 1.0 : 0.0;
            return true;
        }
        return false;
    };
    auto arith = [&](const Entry& e, double& x) OMBRIX_ALWAYS_INLINE {
        if (e.kind == NumOp::Num) {
            x = e.x;
            return true;
        }
        if (e.kind == NumOp::Bool) {
            x = e.a ? 1.0 : 0.0;
            return true;
        }
        return e.kind == NumOp::Cell && arith_value(cell(e.a), x);
    };
    // An operand of a comparison: booleans rank above numbers, so only numbers and empty.
    auto comparable_value = [](const Value& v, double& x) OMBRIX_ALWAYS_INLINE {
        if (v.is_number()) {
            x = v.as_number();
            return true;
        }
        if (v.is_empty()) {
            x = 0;
            return true;
        }
        return false;
    };
    auto comparable = [&](const Entry& e, double& x) OMBRIX_ALWAYS_INLINE {
        if (e.kind == NumOp::Num) {
            x = e.x;
            return true;
        }
        return e.kind == NumOp::Cell && comparable_value(cell(e.a), x);
    };
    // The numbers an aggregate sees: direct values coerce, referenced cells count only if
    // numbers; an error anywhere is the slow path's business.
    auto each = [&](int from, auto f) OMBRIX_ALWAYS_INLINE {
        auto ref = [&](const Value& v) OMBRIX_ALWAYS_INLINE {
            if (v.is_number())
                f(v.as_number());
            else if (v.is_error())
                return false;
            return true;
        };
        for (int i = from; i < sp; ++i) {
            const Entry& e = st[i];
            switch (e.kind) {
            case NumOp::Num: f(e.x); break;
            case NumOp::Bool: f(e.a ? 1.0 : 0.0); break;
            case NumOp::Cell:
                if (!ref(cell(e.a)))
                    return false;
                break;
            case NumOp::Cells:
                for (std::uint32_t k = e.a, end = e.a + e.n; k < end; ++k)
                    if (!ref(cell(p.ids[k])))
                        return false;
                break;
            default:
                for (std::uint32_t id : area_cells(p.areas[e.a]))
                    if (!ref(cell(id)))
                        return false;
                break;
            }
        }
        return true;
    };

    const NumStep* code = p.code.data();
    const std::size_t n = p.code.size();
    for (std::size_t pc = 0; pc < n;) {
        const NumStep& s = code[pc];
        switch (s.op) {
        case NumOp::Num: st[sp++].number(s.x); break;
        case NumOp::Bool: st[sp++].ref(NumOp::Bool, s.a); break;
        case NumOp::Cell: {
            // A number read now is the same to every consumer; anything else stays a
            // reference, which aggregates treat differently from a value.
            const Value& v = cell(s.a);
            if (v.is_number())
                st[sp++].number(v.as_number());
            else
                st[sp++].ref(NumOp::Cell, s.a);
            break;
        }
        case NumOp::Cells: st[sp++].ref(NumOp::Cells, s.a, s.argc); break;
        case NumOp::Area: st[sp++].ref(NumOp::Area, s.a); break;
        case NumOp::Nop: break;
        case NumOp::Neg:
        case NumOp::Percent: {
            double x;
            if (!arith(st[sp - 1], x))
                return false;
            x = s.op == NumOp::Neg ? -x : x / 100;
            if (!numeric::finite(x))
                return false;
            st[sp - 1].number(x);
            break;
        }
        case NumOp::Add:
        case NumOp::Sub:
        case NumOp::Mul:
        case NumOp::Div:
        case NumOp::Pow: {
            double x, y;
            if (s.right == InStep)
                y = s.x;
            else if (s.right == InCell ? !arith_value(cell(s.a), y) : !arith(st[--sp], y))
                return false;
            Entry* dst;
            if (s.left == InCell) {
                if (!arith_value(cell(s.a), x))
                    return false;
                dst = &st[sp++];
            } else {
                if (!arith(st[sp - 1], x))
                    return false;
                dst = &st[sp - 1];
            }
            switch (s.op) {
            case NumOp::Add: x = approx_add(x, y); break;
            case NumOp::Sub: x = approx_sub(x, y); break;
            case NumOp::Mul: x = x * y; break;
            case NumOp::Div:
                if (y == 0)
                    return false;
                x = x / y;
                break;
            default:
                if (x == 0 && y <= 0)
                    return false;
                if (x < 0 && y != std::trunc(y))
                    return false;
                x = y == 2 ? x * x : std::pow(x, y);
                break;
            }
            if (!numeric::finite(x))
                return false;
            dst->number(x);
            break;
        }
        case NumOp::Eq:
        case NumOp::Ne:
        case NumOp::Lt:
        case NumOp::Le:
        case NumOp::Gt:
        case NumOp::Ge: {
            double x, y;
            if (s.right == InStep)
                y = s.x;
            else if (s.right == InCell ? !comparable_value(cell(s.a), y) : !comparable(st[--sp], y))
                return false;
            Entry* dst;
            if (s.left == InCell) {
                if (!comparable_value(cell(s.a), x))
                    return false;
                dst = &st[sp++];
            } else {
                if (!comparable(st[sp - 1], x))
                    return false;
                dst = &st[sp - 1];
            }
            int c = approx_equal(x, y) ? 0 : x < y ? -1 : 1;
            bool r = s.op == NumOp::Eq   ? c == 0
                     : s.op == NumOp::Ne ? c != 0
                     : s.op == NumOp::Lt ? c < 0
                     : s.op == NumOp::Le ? c <= 0
                     : s.op == NumOp::Gt ? c > 0
                                         : c >= 0;
            dst->ref(NumOp::Bool, r ? 1u : 0u);
            break;
        }
        case NumOp::Sum:
        case NumOp::SumSq:
        case NumOp::Product:
        case NumOp::Average:
        case NumOp::Min:
        case NumOp::Max: {
            const int from = sp - s.argc;
            double acc = 0;
            std::size_t count = 0;
            bool ok;
            switch (s.op) {
            case NumOp::Sum: ok = each(from, [&](double v) { acc += v; }); break;
            case NumOp::Average: ok = each(from, [&](double v) { acc += v, ++count; }); break;
            case NumOp::SumSq: ok = each(from, [&](double v) { acc += v * v; }); break;
            case NumOp::Product:
                acc = 1;
                ok = each(from, [&](double v) { acc *= v, ++count; });
                if (count == 0)
                    acc = 0;
                break;
            case NumOp::Min:
                ok = each(from, [&](double v) {
                    if (count++ == 0 || v < acc)
                        acc = v;
                });
                break;
            default:
                ok = each(from, [&](double v) {
                    if (count++ == 0 || v > acc)
                        acc = v;
                });
                break;
            }
            if (!ok)
                return false;
            if (s.op == NumOp::Average) {
                if (count == 0)
                    return false;
                acc = acc / double(count);
            }
            if (!numeric::finite(acc))
                return false;
            sp = from + 1;
            st[sp - 1].number(acc);
            break;
        }
        case NumOp::Abs:
        case NumOp::Sqrt:
        case NumOp::Exp:
        case NumOp::Ln:
        case NumOp::Sin:
        case NumOp::Cos:
        case NumOp::Tan:
        case NumOp::Atan: {
            double x;
            if (!arith(st[sp - 1], x))
                return false;
            switch (s.op) {
            case NumOp::Abs: x = std::fabs(x); break;
            case NumOp::Sqrt:
                if (x < 0)
                    return false;
                x = std::sqrt(x);
                break;
            case NumOp::Exp: x = std::exp(x); break;
            case NumOp::Sin: x = std::sin(x); break;
            case NumOp::Cos: x = std::cos(x); break;
            case NumOp::Tan: x = std::tan(x); break;
            case NumOp::Atan: x = std::atan(x); break;
            default:
                if (x <= 0)
                    return false;
                x = std::log(x);
                break;
            }
            if (!numeric::finite(x))
                return false;
            st[sp - 1].number(x);
            break;
        }
        case NumOp::IfFalse: {
            const Entry& e = st[sp - 1];
            bool b;
            if (e.kind == NumOp::Bool) {
                b = e.a != 0;
            } else if (e.kind == NumOp::Num) {
                b = e.x != 0;
            } else if (e.kind == NumOp::Cell) {
                const Value& v = cell(e.a);
                if (v.is_number())
                    b = v.as_number() != 0;
                else if (v.is_boolean())
                    b = v.as_boolean();
                else if (v.is_empty())
                    b = false;
                else
                    return false;
            } else {
                return false;
            }
            --sp;
            if (!b) {
                pc = s.a;
                continue;
            }
            break;
        }
        case NumOp::Jump: pc = s.a; continue;
        }
        ++pc;
    }
    if (sp != 1)
        return false;
    const Entry& e = st[0];
    switch (e.kind) {
    case NumOp::Num: out = Value::number(e.x); return true;
    case NumOp::Bool: out = Value::boolean(e.a != 0); return true;
    case NumOp::Cell: {
        const Value& v = cell(e.a);
        if (v.is_empty())
            out = Value::number(0);
        else
            out = v;
        return true;
    }
    default: return false;
    }
}

// Merges pairs of steps where merge(first, second, out) says so, and drops the no-ops;
// fewer steps to dispatch. Never where a jump lands on the second step: the first would
// be skipped on that path.
template <class Merge>
void merge_pairs(NumericProgram& p, Merge merge) {
    const std::size_t n = p.code.size();
    std::vector<bool> target(n + 1, false);
    for (const NumStep& s : p.code)
        if (s.op == NumOp::IfFalse || s.op == NumOp::Jump)
            target[s.a] = true;
    std::vector<std::uint32_t> moved(n + 1);
    std::vector<NumStep> code;
    code.reserve(n);
    for (std::size_t i = 0; i < n;) {
        const NumStep& s = p.code[i];
        moved[i] = static_cast<std::uint32_t>(code.size());
        if (s.op == NumOp::Nop) {
            ++i;
            continue;
        }
        NumStep f;
        if (i + 1 < n && !target[i + 1] && merge(s, p.code[i + 1], f)) {
            moved[i + 1] = moved[i];
            code.push_back(f);
            i += 2;
            continue;
        }
        code.push_back(s);
        ++i;
    }
    moved[n] = static_cast<std::uint32_t>(code.size());
    for (NumStep& s : code)
        if (s.op == NumOp::IfFalse || s.op == NumOp::Jump)
            s.a = moved[s.a];
    code.shrink_to_fit();
    p.code = std::move(code);
}

// Folds the operands that binary operators find in constants and cells into them:
// "A1*2" becomes one step instead of three.
inline void fuse(NumericProgram& p) {
    auto binary = [](NumOp op) { return op >= NumOp::Add && op <= NumOp::Ge; };
    merge_pairs(p, [&](const NumStep& push, const NumStep& op, NumStep& out) {
        if ((push.op != NumOp::Num && push.op != NumOp::Cell) || !binary(op.op) || op.right != OnStack)
            return false;
        out = op;
        out.right = push.op == NumOp::Num ? InStep : InCell;
        out.x = push.x;
        out.a = push.a;
        return true;
    });
    merge_pairs(p, [&](const NumStep& push, const NumStep& op, NumStep& out) {
        if (push.op != NumOp::Cell || !binary(op.op) || op.right != InStep || op.left != OnStack)
            return false;
        out = op;
        out.left = InCell;
        out.a = push.a;
        return true;
    });
}

template <class CellsOf>
void compile_numeric(const Linked& l, CellsOf cells_of, NumericProgram& out) {
    out = NumericProgram();
    static const int fn_sum = find_function("SUM"), fn_sumsq = find_function("SUMSQ"),
                     fn_product = find_function("PRODUCT"), fn_average = find_function("AVERAGE"),
                     fn_min = find_function("MIN"), fn_max = find_function("MAX"), fn_abs = find_function("ABS"),
                     fn_sqrt = find_function("SQRT"), fn_exp = find_function("EXP"), fn_ln = find_function("LN"),
                     fn_sin = find_function("SIN"), fn_cos = find_function("COS"), fn_tan = find_function("TAN"),
                     fn_atan = find_function("ATAN");
    NumericProgram p;
    int depth = 0, deepest = 0;
    auto fail = [&] { out = NumericProgram(); };
    for (const Instr& in : l.code) {
        if (in.flags & ArrayContext)
            return fail();
        NumStep s;
        switch (in.op) {
        case Op::Const: {
            const Value& v = l.consts[in.operand];
            if (v.is_number()) {
                s.op = NumOp::Num;
                s.x = v.as_number();
            } else if (v.is_boolean()) {
                s.op = NumOp::Bool;
                s.a = v.as_boolean() ? 1 : 0;
            } else {
                return fail();
            }
            ++depth;
            break;
        }
        case Op::Ref: {
            const LinkedRef& r = l.refs[in.operand];
            if (r.kind == LinkedRef::Cell) {
                s.op = NumOp::Cell;
                s.a = r.cell;
            } else if (r.kind == LinkedRef::Range) {
                std::size_t start = p.ids.size();
                if (cells_of(r.area, p.ids) && p.ids.size() - start <= 0xFF) {
                    s.op = NumOp::Cells;
                    s.a = static_cast<std::uint32_t>(start);
                    s.argc = static_cast<std::uint8_t>(p.ids.size() - start);
                } else {
                    p.ids.resize(start);
                    s.op = NumOp::Area;
                    s.a = static_cast<std::uint32_t>(p.areas.size());
                    p.areas.push_back(r.area);
                }
            } else {
                return fail();
            }
            ++depth;
            break;
        }
        case Op::Plus: s.op = NumOp::Nop; break;
        case Op::Neg: s.op = NumOp::Neg; break;
        case Op::Percent: s.op = NumOp::Percent; break;
        case Op::Add:
            s.op = NumOp::Add;
            --depth;
            break;
        case Op::Sub:
            s.op = NumOp::Sub;
            --depth;
            break;
        case Op::Mul:
            s.op = NumOp::Mul;
            --depth;
            break;
        case Op::Div:
            s.op = NumOp::Div;
            --depth;
            break;
        case Op::Pow:
            s.op = NumOp::Pow;
            --depth;
            break;
        case Op::Eq:
            s.op = NumOp::Eq;
            --depth;
            break;
        case Op::Ne:
            s.op = NumOp::Ne;
            --depth;
            break;
        case Op::Lt:
            s.op = NumOp::Lt;
            --depth;
            break;
        case Op::Le:
            s.op = NumOp::Le;
            --depth;
            break;
        case Op::Gt:
            s.op = NumOp::Gt;
            --depth;
            break;
        case Op::Ge:
            s.op = NumOp::Ge;
            --depth;
            break;
        case Op::Call: {
            int id = static_cast<int>(in.operand);
            int argc = in.argc;
            if (id == fn_sum)
                s.op = NumOp::Sum;
            else if (id == fn_sumsq)
                s.op = NumOp::SumSq;
            else if (id == fn_product)
                s.op = NumOp::Product;
            else if (id == fn_average)
                s.op = NumOp::Average;
            else if (id == fn_min)
                s.op = NumOp::Min;
            else if (id == fn_max)
                s.op = NumOp::Max;
            else if (id == fn_abs && argc == 1)
                s.op = NumOp::Abs;
            else if (id == fn_sqrt && argc == 1)
                s.op = NumOp::Sqrt;
            else if (id == fn_exp && argc == 1)
                s.op = NumOp::Exp;
            else if (id == fn_ln && argc == 1)
                s.op = NumOp::Ln;
            else if (id == fn_sin && argc == 1)
                s.op = NumOp::Sin;
            else if (id == fn_cos && argc == 1)
                s.op = NumOp::Cos;
            else if (id == fn_tan && argc == 1)
                s.op = NumOp::Tan;
            else if (id == fn_atan && argc == 1)
                s.op = NumOp::Atan;
            else
                return fail();
            if (argc < 1 || argc > depth)
                return fail();
            s.argc = static_cast<std::uint8_t>(argc);
            depth -= argc - 1;
            break;
        }
        case Op::IfFalse:
            s.op = NumOp::IfFalse;
            s.a = in.operand;
            --depth;
            break;
        case Op::Jump:
            s.op = NumOp::Jump;
            s.a = in.operand;
            break;
        default: return fail();
        }
        if (depth < 0)
            return fail();
        deepest = depth > deepest ? depth : deepest;
        p.code.push_back(s);
    }
    // The depth counted straight through the code is at least the real one: an IF's two
    // branches are both counted.
    if (p.code.empty() || deepest > numeric_stack)
        return fail();
    for (const NumStep& s : p.code)
        if ((s.op == NumOp::IfFalse || s.op == NumOp::Jump) && s.a > p.code.size())
            return fail();
    fuse(p);
    out = std::move(p);
}

} // namespace host::engine::detail

#endif
