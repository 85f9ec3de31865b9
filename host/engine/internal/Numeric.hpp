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

namespace numeric {

// An operand of arithmetic: numbers, booleans and empty cells coerce.
OMBRIX_ALWAYS_INLINE inline bool arith_value(const Value& v, double& x) {
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
}

// An operand of a comparison: booleans rank above numbers, so only numbers and empty.
OMBRIX_ALWAYS_INLINE inline bool comparable_value(const Value& v, double& x) {
    if (v.is_number()) {
        x = v.as_number();
        return true;
    }
    if (v.is_empty()) {
        x = 0;
        return true;
    }
    return false;
}

// x op y for Add .. Pow into x; false where the slow path decides (errors, infinities).
OMBRIX_ALWAYS_INLINE inline bool arithmetic(NumOp op, double& x, double y) {
    switch (op) {
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
    return finite(x);
}

// x op y for Eq .. Ge, numbers equal as the spreadsheet counts them equal.
OMBRIX_ALWAYS_INLINE inline bool comparison(NumOp op, double x, double y) {
    const int c = approx_equal(x, y) ? 0 : x < y ? -1 : 1;
    switch (op) {
    case NumOp::Eq: return c == 0;
    case NumOp::Ne: return c != 0;
    case NumOp::Lt: return c < 0;
    case NumOp::Le: return c <= 0;
    case NumOp::Gt: return c > 0;
    default: return c >= 0;
    }
}

// SIN, COS and TAN, NaN beyond 2^27 in size, where the slow path gives #NUM!. Called as the
// library's functions are, so that the lean path's code is as it was.
__attribute__((noinline)) inline double bounded_sin(double x) { return std::fabs(x) < 134217728.0 ? std::sin(x) : NAN; }
__attribute__((noinline)) inline double bounded_cos(double x) { return std::fabs(x) < 134217728.0 ? std::cos(x) : NAN; }
__attribute__((noinline)) inline double bounded_tan(double x) { return std::fabs(x) < 134217728.0 ? std::tan(x) : NAN; }

// The functions of one number, Abs .. Atan, into x; false where the slow path decides.
OMBRIX_ALWAYS_INLINE inline bool function_of(NumOp op, double& x) {
    switch (op) {
    case NumOp::Abs: x = std::fabs(x); break;
    case NumOp::Sqrt:
        if (x < 0)
            return false;
        x = std::sqrt(x);
        break;
    case NumOp::Exp: x = std::exp(x); break;
    case NumOp::Sin: x = bounded_sin(x); break;
    case NumOp::Cos: x = bounded_cos(x); break;
    case NumOp::Tan: x = bounded_tan(x); break;
    case NumOp::Atan: x = std::atan(x); break;
    default:
        if (x <= 0)
            return false;
        x = std::log(x);
        break;
    }
    return finite(x);
}

} // namespace numeric

// Runs a numeric program. `cell(id)` gives a cell's value, `area_cells(area)` the slots in
// a large area (as Grid::cells_in). Returns false if the general evaluator must decide.
template <class CellValue, class AreaCells>
bool run_numeric(const NumericProgram& p, CellValue cell, AreaCells area_cells, Value& out) {
    using numeric::Entry;
    Entry st[numeric_stack];
    int sp = 0;
    auto arith = [&](const Entry& e, double& x) OMBRIX_ALWAYS_INLINE {
        if (e.kind == NumOp::Num) {
            x = e.x;
            return true;
        }
        if (e.kind == NumOp::Bool) {
            x = e.a ? 1.0 : 0.0;
            return true;
        }
        return e.kind == NumOp::Cell && numeric::arith_value(cell(e.a), x);
    };
    auto comparable = [&](const Entry& e, double& x) OMBRIX_ALWAYS_INLINE {
        if (e.kind == NumOp::Num) {
            x = e.x;
            return true;
        }
        return e.kind == NumOp::Cell && numeric::comparable_value(cell(e.a), x);
    };
    // A binary step's operands, each from the stack, the step or a cell, read as `value_of`
    // reads a cell and `entry_of` a stack entry. Returns where the result goes (the left
    // operand's entry, or a new one on top), or nullptr where the slow path decides.
    auto operands = [&](const NumStep& s, auto value_of, auto entry_of, double& x, double& y)
                        OMBRIX_ALWAYS_INLINE -> Entry* {
        if (s.right == InStep)
            y = s.x;
        else if (s.right == InCell ? !value_of(cell(s.a), y) : !entry_of(st[--sp], y))
            return nullptr;
        if (s.left == InCell)
            return value_of(cell(s.a), x) ? &st[sp++] : nullptr;
        return entry_of(st[sp - 1], x) ? &st[sp - 1] : nullptr;
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
    // SUM .. MAX over the top `argc` entries, replaced by the result.
    auto aggregate = [&](NumOp op, int argc) OMBRIX_ALWAYS_INLINE {
        const int from = sp - argc;
        double acc = 0;
        std::size_t count = 0;
        bool ok;
        switch (op) {
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
        if (op == NumOp::Average) {
            if (count == 0)
                return false;
            acc = acc / double(count);
        }
        if (!numeric::finite(acc))
            return false;
        sp = from + 1;
        st[sp - 1].number(acc);
        return true;
    };
    // IF's condition, popped; false where the slow path decides.
    auto condition = [&](bool& b) OMBRIX_ALWAYS_INLINE {
        const Entry& e = st[sp - 1];
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
            Entry* result = operands(s, numeric::arith_value, arith, x, y);
            if (!result || !numeric::arithmetic(s.op, x, y))
                return false;
            result->number(x);
            break;
        }
        case NumOp::Eq:
        case NumOp::Ne:
        case NumOp::Lt:
        case NumOp::Le:
        case NumOp::Gt:
        case NumOp::Ge: {
            double x, y;
            Entry* result = operands(s, numeric::comparable_value, comparable, x, y);
            if (!result)
                return false;
            result->ref(NumOp::Bool, numeric::comparison(s.op, x, y) ? 1u : 0u);
            break;
        }
        case NumOp::Sum:
        case NumOp::SumSq:
        case NumOp::Product:
        case NumOp::Average:
        case NumOp::Min:
        case NumOp::Max:
            if (!aggregate(s.op, s.argc))
                return false;
            break;
        case NumOp::Abs:
        case NumOp::Sqrt:
        case NumOp::Exp:
        case NumOp::Ln:
        case NumOp::Sin:
        case NumOp::Cos:
        case NumOp::Tan:
        case NumOp::Atan: {
            double x;
            if (!arith(st[sp - 1], x) || !numeric::function_of(s.op, x))
                return false;
            st[sp - 1].number(x);
            break;
        }
        case NumOp::IfFalse: {
            bool b;
            if (!condition(b))
                return false;
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

} // namespace host::engine::detail

#endif
