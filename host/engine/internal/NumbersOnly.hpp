#ifndef OMBRIX_HOST_ENGINE_NUMBERSONLY_HPP
#define OMBRIX_HOST_ENGINE_NUMBERSONLY_HPP

// The engine's own: everything outside host/engine goes through engine/Workbook.hpp.
#ifndef OMBRIX_ENGINE_INTERNALS
#error "engine/internal/ headers are private to the engine (use engine/Workbook.hpp)"
#endif

// A numeric program run where every cell it reads holds a number, the common case of a
// large model: a stack of plain doubles, the cells' numbers read once into an array, no
// kinds of entries to keep. Only straight-line arithmetic of numbers qualifies (no booleans,
// comparisons, branches or ranges); anything it cannot settle goes to run_numeric(), which
// gives the same answers where both answer.

#include "engine/internal/Numeric.hpp"

namespace host::engine::detail {

// The most cells such a program may read.
constexpr std::uint32_t numbers_only_operands = 32;

// Whether `p` (its Cell steps numbering operands, as a shape's do) can run on numbers alone.
inline bool runs_on_numbers(const NumericProgram& p, std::uint32_t operands) {
    if (operands > numbers_only_operands || !p.ids.empty() || !p.areas.empty())
        return false;
    for (const NumStep& s : p.code) {
        const bool ok = s.op == NumOp::Num || s.op == NumOp::Cell || s.op == NumOp::Neg || s.op == NumOp::Percent ||
                        (s.op >= NumOp::Add && s.op <= NumOp::Pow) || (s.op >= NumOp::Sum && s.op <= NumOp::Atan);
        if (!ok)
            return false;
    }
    return true;
}

// Runs such a program on the operands' numbers `v`; false where run_numeric() must decide.
// Each operator has its own case, so that the arithmetic is not dispatched a second time.
OMBRIX_ALWAYS_INLINE inline bool run_on_numbers(const NumericProgram& p, const double* v, double& result) {
    double st[numeric_stack];
    int sp = 0;
    // x op y, the operands from the stack, the step or a cell, the result where x was (or
    // on top when x came from a cell).
    auto binary = [&](const NumStep& s, NumOp op) OMBRIX_ALWAYS_INLINE {
        const double y = s.right == InStep ? s.x : s.right == InCell ? v[s.a] : st[--sp];
        double x;
        if (s.left == InCell) {
            x = v[s.a];
            ++sp;
        } else {
            x = st[sp - 1];
        }
        if (!numeric::arithmetic(op, x, y))
            return false;
        st[sp - 1] = x;
        return true;
    };
    auto function = [&](NumOp op) OMBRIX_ALWAYS_INLINE {
        double x = st[sp - 1];
        if (!numeric::function_of(op, x))
            return false;
        st[sp - 1] = x;
        return true;
    };
    // As run_numeric's aggregates over values given directly: each counts.
    auto aggregate = [&](const NumStep& s) {
        const int from = sp - s.argc;
        double acc = s.op == NumOp::Product ? 1 : s.op == NumOp::Min || s.op == NumOp::Max ? st[from] : 0;
        for (int i = from; i < sp; ++i) {
            const double x = st[i];
            switch (s.op) {
            case NumOp::Sum:
            case NumOp::Average: acc += x; break;
            case NumOp::SumSq: acc += x * x; break;
            case NumOp::Product: acc *= x; break;
            case NumOp::Min: acc = i == from || x < acc ? x : acc; break;
            default: acc = i == from || x > acc ? x : acc; break;
            }
        }
        if (s.op == NumOp::Average)
            acc = acc / double(s.argc);
        if (!numeric::finite(acc))
            return false;
        sp = from + 1;
        st[sp - 1] = acc;
        return true;
    };
    bool ok = true;
    for (const NumStep& s : p.code) {
        switch (s.op) {
        case NumOp::Num: st[sp++] = s.x; break;
        case NumOp::Cell: st[sp++] = v[s.a]; break;
        case NumOp::Neg:
        case NumOp::Percent: {
            double x = s.op == NumOp::Neg ? -st[sp - 1] : st[sp - 1] / 100;
            ok = numeric::finite(x);
            st[sp - 1] = x;
            break;
        }
        case NumOp::Add: ok = binary(s, NumOp::Add); break;
        case NumOp::Sub: ok = binary(s, NumOp::Sub); break;
        case NumOp::Mul: ok = binary(s, NumOp::Mul); break;
        case NumOp::Div: ok = binary(s, NumOp::Div); break;
        case NumOp::Pow: ok = binary(s, NumOp::Pow); break;
        case NumOp::Abs: ok = function(NumOp::Abs); break;
        case NumOp::Sqrt: ok = function(NumOp::Sqrt); break;
        case NumOp::Exp: ok = function(NumOp::Exp); break;
        case NumOp::Ln: ok = function(NumOp::Ln); break;
        case NumOp::Sin: ok = function(NumOp::Sin); break;
        case NumOp::Cos: ok = function(NumOp::Cos); break;
        case NumOp::Tan: ok = function(NumOp::Tan); break;
        case NumOp::Atan: ok = function(NumOp::Atan); break;
        default: ok = aggregate(s); break; // Sum .. Max
        }
        if (!ok)
            return false;
    }
    if (sp != 1)
        return false;
    result = st[0];
    return true;
}

} // namespace host::engine::detail

#endif
