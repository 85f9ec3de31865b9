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

#include <cstring>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// The cells of one shape that do not read each other (a row of a filled-down block) run
// together: each step once for `number_lanes` cells, so that the dispatch is paid once a step
// rather than once a cell and the arithmetic runs two lanes an instruction. Every lane
// computes exactly what run_on_numbers() computes for its cell, bit for bit (IEEE operations
// give the same result in a vector as alone). Where run_on_numbers() would give up at a step
// (a result not finite, a case it leaves to run_numeric()), the lane is poisoned instead: its
// `poison` turns NaN and stays so, since x - x is 0 for every finite x and NaN otherwise.
constexpr int number_lanes = 16;

// A function step's last argument (its bits) and result, lane by lane: SIN(A$1) filled down
// a column has the same argument in every row. Only answers function_of() accepted are
// kept; no argument is ever a signalling NaN's bits, which an empty memo holds.
struct FunctionMemo {
    static constexpr std::uint64_t nothing = 0x7FF0000000000001ull;
    std::uint64_t argument[number_lanes];
    double result[number_lanes];
    FunctionMemo() {
        for (int k = 0; k < number_lanes; ++k) {
            argument[k] = nothing;
            result[k] = 0;
        }
    }
};

// The functions whose last argument and result are remembered: the costly ones.
constexpr bool remembered(NumOp op) { return op >= NumOp::Exp && op <= NumOp::Atan; }

// The memos run_on_numbers() and run_on_number_lanes() take for `p`: one a costly function step.
inline std::size_t function_memos(const NumericProgram& p) {
    std::size_t n = 0;
    for (const NumStep& s : p.code)
        n += remembered(s.op);
    return n;
}

// Sum .. Max of a step's argc arguments, `argument(i)` the i-th, as run_numeric's aggregates
// over values given directly (each counts); not yet checked to be finite.
template <class Argument>
OMBRIX_ALWAYS_INLINE inline double aggregate_of(const NumStep& s, Argument argument) {
    double acc = s.op == NumOp::Product ? 1 : s.op == NumOp::Min || s.op == NumOp::Max ? argument(0) : 0;
    for (int i = 0; i < s.argc; ++i) {
        const double x = argument(i);
        switch (s.op) {
        case NumOp::Sum:
        case NumOp::Average: acc += x; break;
        case NumOp::SumSq: acc += x * x; break;
        case NumOp::Product: acc *= x; break;
        case NumOp::Min: acc = i == 0 || x < acc ? x : acc; break;
        default: acc = i == 0 || x > acc ? x : acc; break;
        }
    }
    return s.op == NumOp::Average ? acc / double(s.argc) : acc;
}

// Runs such a program on the operands' numbers `v`; false where run_numeric() must decide.
// Each operator has its own case, so that the arithmetic is not dispatched a second time.
// `memos`, if given, has function_memos(p) entries, whose first lane this takes as its own.
OMBRIX_ALWAYS_INLINE inline bool run_on_numbers(const NumericProgram& p, const double* v, double& result,
                                                FunctionMemo* memos = nullptr) {
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
        FunctionMemo* memo = memos && remembered(op) ? memos++ : nullptr;
        std::uint64_t bits = 0;
        if (memo) {
            std::memcpy(&bits, &x, sizeof bits);
            if (memo->argument[0] == bits) {
                st[sp - 1] = memo->result[0];
                return true;
            }
        }
        if (!numeric::function_of(op, x))
            return false;
        if (memo) {
            memo->argument[0] = bits;
            memo->result[0] = x;
        }
        st[sp - 1] = x;
        return true;
    };
    auto aggregate = [&](const NumStep& s) {
        const int from = sp - s.argc;
        double acc = aggregate_of(s, [&](int i) { return st[from + i]; });
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

namespace lanes {

// may_alias: a lane's operands are written as doubles and read as pairs.
typedef double Pair __attribute__((vector_size(16), may_alias));
typedef long long Mask __attribute__((vector_size(16)));
constexpr int pairs = number_lanes / 2;

OMBRIX_ALWAYS_INLINE inline Pair both(double x) { return Pair{x, x}; }
OMBRIX_ALWAYS_INLINE inline Pair magnitude(Pair x) { return Pair(Mask(x) & Mask{~(1ll << 63), ~(1ll << 63)}); }
OMBRIX_ALWAYS_INLINE inline Pair smaller(Pair a, Pair b) { // of numbers, not NaN
#if defined(__SSE2__)
    return Pair(_mm_min_pd(__m128d(a), __m128d(b)));
#else
    return a < b ? a : b;
#endif
}

// x op y as numeric::arithmetic() computes it, for the first `live` pairs, into out (which
// may be x or y); a lane it would refuse is poisoned.
// y_step 0: y[0] for every pair (a constant).
template <NumOp op, int y_step>
OMBRIX_ALWAYS_INLINE inline void arithmetic(const Pair* x, const Pair* y, Pair* out, Pair* poison, int live) {
    const Pair zero = both(0.0);
    for (int k = 0; k < live; ++k) {
        const Pair a = x[k], b = y[k * y_step];
        Pair r;
        if constexpr (op == NumOp::Add || op == NumOp::Sub) {
            // approx_add() and approx_sub(): a result within 2^-48 of both operands'
            // magnitudes is 0. Only two numbers that nearly cancel can come that close, so
            // the signs need no test of their own, and below the smaller magnitude's 2^-48
            // is below both.
            r = op == NumOp::Add ? a + b : a - b;
            const Mask keep = magnitude(r) >= smaller(magnitude(a), magnitude(b)) * both(1.0 / 281474976710656.0);
            r = Pair(Mask(r) & keep);
        } else if constexpr (op == NumOp::Mul) {
            r = a * b;
        } else if constexpr (op == NumOp::Div) {
            r = a / b; // a division by 0 is not finite: poisoned below
        } else {
            for (int h = 0; h < 2; ++h) {
                double p = a[h];
                const bool refused = !numeric::arithmetic(NumOp::Pow, p, b[h]);
                r[h] = p;
                poison[k][h] += refused ? NAN : 0.0;
            }
        }
        poison[k] += r - r;
        out[k] = r + zero; // no negative zero, as numeric::finite()
    }
}

// The functions of one number as numeric::function_of() computes them, in place. With a
// memo, a lane whose argument is the one it last answered takes that answer again (the
// same function of the same bits gives the same bits).
template <NumOp op>
OMBRIX_ALWAYS_INLINE inline void function(Pair* x, Pair* poison, int used, FunctionMemo* memo) {
    if constexpr (op == NumOp::Abs) {
        for (int k = 0; k < (used + 1) / 2; ++k)
            x[k] = magnitude(x[k]);
    } else {
        double* lane = reinterpret_cast<double*>(x); // a vector aliases its elements
        unsigned refused = 0;
        for (int k = 0; k < used; ++k) { // a call each: only the lanes in use
            std::uint64_t bits = 0;
            if (memo) {
                std::memcpy(&bits, &lane[k], sizeof bits);
                if (memo->argument[k] == bits) {
                    lane[k] = memo->result[k];
                    continue;
                }
            }
            const bool ok = numeric::function_of(op, lane[k]);
            refused |= unsigned(!ok) << k;
            if (ok && memo) {
                memo->argument[k] = bits;
                memo->result[k] = lane[k];
            }
        }
        for (int k = 0; refused != 0; ++k, refused >>= 1)
            if (refused & 1)
                poison[k / 2][k % 2] = NAN;
    }
}

} // namespace lanes

// Operand i of lane k is v[i * number_lanes + k]; the lanes past `used` hold any finite
// numbers. v is aligned as lanes::Pair. ok[k] tells whether run_on_numbers() would have answered
// for lane k; if so its answer is result[k]. `memos`, if given, has function_memos(p) entries,
// kept from one call to the next for lanes that mostly see the same arguments.
inline void run_on_number_lanes(const NumericProgram& p, const double* v, int used, double* result, bool* ok,
                                FunctionMemo* memos = nullptr) {
    using Op = NumOp;
    using lanes::Pair;
    using lanes::pairs;
    Pair st[numeric_stack][pairs];
    Pair poison[pairs] = {};
    const int live = (used + 1) / 2;
    int sp = 0;
    auto operand = [&](std::uint32_t a) { return reinterpret_cast<const Pair*>(v + a * number_lanes); };
    FunctionMemo* next_memo = memos;
    auto memo = [&] { return next_memo ? next_memo++ : nullptr; };
    auto binary = [&](const NumStep& s, auto op) OMBRIX_ALWAYS_INLINE {
        constexpr NumOp o = decltype(op)::value;
        if (s.right == InStep) {
            const Pair constant = lanes::both(s.x);
            if (s.left == InCell)
                lanes::arithmetic<o, 0>(operand(s.a), &constant, st[sp++], poison, live);
            else
                lanes::arithmetic<o, 0>(st[sp - 1], &constant, st[sp - 1], poison, live);
            return;
        }
        const Pair* y = s.right == InCell ? operand(s.a) : st[--sp];
        if (s.left == InCell) {
            lanes::arithmetic<o, 1>(operand(s.a), y, st[sp], poison, live);
            ++sp;
        } else {
            lanes::arithmetic<o, 1>(st[sp - 1], y, st[sp - 1], poison, live);
        }
    };
    auto aggregate = [&](const NumStep& s) {
        const int from = sp - s.argc;
        for (int k = 0; k < live; ++k)
            for (int h = 0; h < 2; ++h) {
                const double acc = aggregate_of(s, [&](int i) { return st[from + i][k][h]; });
                poison[k][h] += acc - acc;
                st[from][k][h] = acc + 0.0;
            }
        sp = from + 1;
    };
    for (const NumStep& s : p.code) {
        switch (s.op) {
        case Op::Num:
            for (int k = 0; k < live; ++k)
                st[sp][k] = lanes::both(s.x);
            ++sp;
            break;
        case Op::Cell: {
            const Pair* x = operand(s.a);
            for (int k = 0; k < pairs; ++k) // all of them: a fixed count copies without a call
                st[sp][k] = x[k];
            ++sp;
            break;
        }
        case Op::Neg:
            for (int k = 0; k < live; ++k)
                st[sp - 1][k] = -st[sp - 1][k] + lanes::both(0.0);
            break;
        case Op::Percent:
            for (int k = 0; k < live; ++k) {
                const Pair x = st[sp - 1][k] / lanes::both(100.0);
                poison[k] += x - x;
                st[sp - 1][k] = x + lanes::both(0.0);
            }
            break;
        case Op::Add: binary(s, std::integral_constant<Op, Op::Add>()); break;
        case Op::Sub: binary(s, std::integral_constant<Op, Op::Sub>()); break;
        case Op::Mul: binary(s, std::integral_constant<Op, Op::Mul>()); break;
        case Op::Div: binary(s, std::integral_constant<Op, Op::Div>()); break;
        case Op::Pow: binary(s, std::integral_constant<Op, Op::Pow>()); break;
        case Op::Abs: lanes::function<Op::Abs>(st[sp - 1], poison, used, nullptr); break;
        case Op::Sqrt: lanes::function<Op::Sqrt>(st[sp - 1], poison, used, nullptr); break;
        case Op::Exp: lanes::function<Op::Exp>(st[sp - 1], poison, used, memo()); break;
        case Op::Ln: lanes::function<Op::Ln>(st[sp - 1], poison, used, memo()); break;
        case Op::Sin: lanes::function<Op::Sin>(st[sp - 1], poison, used, memo()); break;
        case Op::Cos: lanes::function<Op::Cos>(st[sp - 1], poison, used, memo()); break;
        case Op::Tan: lanes::function<Op::Tan>(st[sp - 1], poison, used, memo()); break;
        case Op::Atan: lanes::function<Op::Atan>(st[sp - 1], poison, used, memo()); break;
        default: aggregate(s); break; // Sum .. Max
        }
    }
    for (int k = 0; k < used; ++k) {
        ok[k] = sp == 1 && poison[k / 2][k % 2] == 0;
        result[k] = ok[k] ? st[0][k / 2][k % 2] : 0;
    }
}

} // namespace host::engine::detail

#endif
