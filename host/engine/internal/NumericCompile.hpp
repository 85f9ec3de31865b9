#ifndef OMBRIX_HOST_ENGINE_NUMERICCOMPILE_HPP
#define OMBRIX_HOST_ENGINE_NUMERICCOMPILE_HPP

// The engine's own: everything outside host/engine goes through engine/Workbook.hpp.
#ifndef OMBRIX_ENGINE_INTERNALS
#error "engine/internal/ headers are private to the engine (use engine/Workbook.hpp)"
#endif

// Turning a linked formula into the numeric evaluator's steps (engine/internal/Numeric.hpp),
// where it is made of numbers, cells and the functions that evaluator knows.

#include "engine/internal/Numeric.hpp"

#include <cstdint>
#include <vector>

namespace host::engine::detail {

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

namespace numeric {

// The step of a binary operator, or Nop for any other instruction.
inline NumOp binary_step(Op op) {
    switch (op) {
    case Op::Add: return NumOp::Add;
    case Op::Sub: return NumOp::Sub;
    case Op::Mul: return NumOp::Mul;
    case Op::Div: return NumOp::Div;
    case Op::Pow: return NumOp::Pow;
    case Op::Eq: return NumOp::Eq;
    case Op::Ne: return NumOp::Ne;
    case Op::Lt: return NumOp::Lt;
    case Op::Le: return NumOp::Le;
    case Op::Gt: return NumOp::Gt;
    case Op::Ge: return NumOp::Ge;
    default: return NumOp::Nop;
    }
}

// The step of a call of built-in function `id` with `argc` arguments, or Nop where the
// numeric evaluator does not know it.
inline NumOp function_step(int id, int argc) {
    struct Known {
        int id;
        NumOp op;
        bool one_argument;
    };
    auto known = [](const char* name, NumOp op, bool one) { return Known{find_function(name), op, one}; };
    static const Known list[] = {
        known("SUM", NumOp::Sum, false),         known("SUMSQ", NumOp::SumSq, false),
        known("PRODUCT", NumOp::Product, false), known("AVERAGE", NumOp::Average, false),
        known("MIN", NumOp::Min, false),         known("MAX", NumOp::Max, false),
        known("ABS", NumOp::Abs, true),          known("SQRT", NumOp::Sqrt, true),
        known("EXP", NumOp::Exp, true),          known("LN", NumOp::Ln, true),
        known("SIN", NumOp::Sin, true),          known("COS", NumOp::Cos, true),
        known("TAN", NumOp::Tan, true),          known("ATAN", NumOp::Atan, true),
    };
    for (const Known& k : list)
        if (k.id == id)
            return k.one_argument && argc != 1 ? NumOp::Nop : k.op;
    return NumOp::Nop;
}

} // namespace numeric

// Compiles `l` if it is numeric-only; `cells_of(area, ids)` appends the slots of a small
// range row by row and returns false if the range is too big to list (it is then read
// through the workbook at each run). Leaves `out` empty otherwise.
template <class CellsOf>
void compile_numeric(const Linked& l, CellsOf cells_of, NumericProgram& out) {
    out = NumericProgram();
    NumericProgram p;
    int depth = 0, deepest = 0;
    for (const Instr& in : l.code) {
        if (in.flags & ArrayContext)
            return;
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
                return;
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
                return;
            }
            ++depth;
            break;
        }
        case Op::Plus: s.op = NumOp::Nop; break;
        case Op::Neg: s.op = NumOp::Neg; break;
        case Op::Percent: s.op = NumOp::Percent; break;
        case Op::Call: {
            const int argc = in.argc;
            s.op = numeric::function_step(static_cast<int>(in.operand), argc);
            if (s.op == NumOp::Nop || argc < 1 || argc > depth)
                return;
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
        default:
            s.op = numeric::binary_step(in.op);
            if (s.op == NumOp::Nop)
                return;
            --depth;
            break;
        }
        if (depth < 0)
            return;
        deepest = depth > deepest ? depth : deepest;
        p.code.push_back(s);
    }
    // The depth counted straight through the code is at least the real one: an IF's two
    // branches are both counted.
    if (p.code.empty() || deepest > numeric_stack)
        return;
    for (const NumStep& s : p.code)
        if ((s.op == NumOp::IfFalse || s.op == NumOp::Jump) && s.a > p.code.size())
            return;
    fuse(p);
    out = std::move(p);
}

} // namespace host::engine::detail

#endif
