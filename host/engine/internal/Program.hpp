#ifndef OMBRIX_HOST_ENGINE_PROGRAM_HPP
#define OMBRIX_HOST_ENGINE_PROGRAM_HPP

// The engine's own: everything outside host/engine goes through engine/Workbook.hpp.
#ifndef OMBRIX_ENGINE_INTERNALS
#error "engine/internal/ headers are private to the engine (use engine/Workbook.hpp)"
#endif

// The engine's internals: a formula compiled to postfix code, and its references.

#include "engine/Unicode.hpp"
#include "engine/Value.hpp"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host::engine::detail {

enum class Op : std::uint8_t {
    Const,   // push consts[operand]
    Missing, // push an omitted argument
    Ref,     // push refs[operand]
    Name,    // push the value of defined name names[operand]
    Array,   // push arrays[operand]
    Neg,
    Plus,
    Percent,
    Add,
    Sub,
    Mul,
    Div,
    Pow,
    Concat,
    Eq,
    Ne,
    Lt,
    Le,
    Gt,
    Ge,
    Call,      // call function `operand` with `argc` arguments
    IfFalse,   // pop the condition; if false jump to operand; on error push it and jump to
               // the target of the Jump just before operand
    Jump,      // jump to operand
    Bind,      // pop a value into local operand (a name bound by LET)
    Local,     // push local operand
    Intersect, // the cells two references share (the space operator)
    Range,     // the smallest range holding two references (':' between computed references)
    Union,     // argc references as one, (A1:B2,D4): only aggregates take it
    Lambda,    // push a function of argc parameters, bound to the locals from operand on;
               // its body follows the Jump after this instruction
    Invoke,    // call the function below the top argc arguments
    Function,  // push built-in function operand as a value (_xleta.SUM in files)
};

// Instructions flagged ArrayContext work element by element on ranges and arrays; the others
// reduce a range to one cell (implicit intersection with the formula's row or column).
constexpr std::uint8_t ArrayContext = 1;
// On a Name: a defined name spelled like built-in function argc (BYROW(A1:B3,SUM)); when the
// workbook defines no such name it is that function, as a value a LAMBDA's caller can call.
constexpr std::uint8_t NameOrFunction = 2;

struct Instr {
    Op op;
    std::uint8_t flags;
    std::uint16_t argc;
    std::uint32_t operand;
};

// A rectangle of cells on one sheet; rows and columns 0-based, inclusive.
struct Area {
    int sheet;
    std::int32_t r1, c1, r2, c2;
    std::int64_t size() const { return std::int64_t(r2 - r1 + 1) * (c2 - c1 + 1); }
    bool contains(std::int32_t r, std::int32_t c) const { return r >= r1 && r <= r2 && c >= c1 && c <= c2; }
};

// A reference as written: the sheet by name, the cells, and which parts are absolute.
struct SymRef {
    std::string sheet; // empty: the formula's own sheet
    // The rarer forms, shared and absent from most references so that those stay small.
    struct Rare {
        std::string last_sheet; // "Jan:Mar!B2", through several sheets: the last one
        std::string table;      // "Sales[[#Totals],[Qty]]": the table (upper case) ...
        std::string table_spec; // ... and what is inside its outer brackets
    };
    std::shared_ptr<const Rare> rare;
    const std::string& last_sheet() const { return rare ? rare->last_sheet : no_text(); }
    const std::string& table() const { return rare ? rare->table : no_text(); }
    const std::string& table_spec() const { return rare ? rare->table_spec : no_text(); }
    static const std::string& no_text() {
        static const std::string empty;
        return empty;
    }
    bool external = false;   // "[1]Sheet!A1": another workbook's cells, as the file saved them
    std::uint16_t book = 0;  // external: its number in the file's links ([1]); 0 when named otherwise
    bool invalid = false;    // written as #REF! or moved off the grid
    bool whole_rows = false; // "1:3"
    bool whole_cols = false; // "A:C"
    std::int32_t r1 = 0, c1 = 0, r2 = 0, c2 = 0;
    bool r1_abs = false, c1_abs = false, r2_abs = false, c2_abs = false;
    bool single() const { return r1 == r2 && c1 == c2 && !whole_rows && !whole_cols; }
};

// A literal array {1,2;3,4}, or an array computed during evaluation.
struct Closure;
struct Array {
    std::int32_t rows = 0, cols = 0;
    std::vector<Value> values; // row by row
    // Where MAP's function gave functions (a LAMBDA that returns one): the function of each
    // element, nullptr for an ordinary value (whose value is #CALC!, as a cell shows one); empty
    // when there is none. REDUCE, SCAN and MAP call them; anything else sees #CALC!.
    std::vector<const Closure*> functions;
    // A range of another workbook, read from the values the file saved of it: the functions
    // that need the workbook open to read its cells (SUMIF and the like) cannot take it.
    bool linked = false;
    const Value& at(std::int32_t r, std::int32_t c) const { return values[std::size_t(r) * cols + c]; }
};

struct Program {
    std::vector<Instr> code;
    std::vector<Value> consts;
    std::vector<SymRef> refs;
    std::vector<std::string> names; // upper case
    std::vector<std::shared_ptr<const Array>> arrays;
    std::vector<std::string> unknown_functions; // upper case, each once
    std::uint32_t locals = 0;                   // names bound by LET
};

// Deepest nesting of parentheses, function calls and unary operators a formula may have.
constexpr int max_nesting = 256;

// Parses a formula (a leading '=' is skipped). Throws FormulaError. `array` compiles the
// whole formula in array context.
Program parse(std::string_view text, bool array = false);

// A built-in function.
struct Function {
    const char* name;
    int min_args;
    int max_args; // -1: any number
    std::uint8_t flags;
    // What each parameter takes, one letter each: 'v' one value (given an array, or a range in
    // array context, the call is applied element by element), 'f' one value too, but only
    // taken element by element along with a 'v' parameter given an array (CHOOSE's choices,
    // IFERROR's fallback), 'c' one cell's reference (a range in array context is taken cell by
    // cell, each as a reference: ISFORMULA), 't' one value, but a range gives its first cell
    // and only an array is taken element by element (N, T), 'a' an array or range, whole,
    // 'A' the same, its expression evaluated in array context in any formula (INDEX's array).
    // Letters in parentheses repeat for the
    // further arguments; without them the last letter does. None: 'v' for every parameter with
    // FnLift, else 'a'.
    const char* params = nullptr;
};
constexpr std::uint8_t FnArrayArgs = 1; // arguments are evaluated in array context
constexpr std::uint8_t FnLift = 2;      // scalar: applied element by element to arrays
constexpr std::uint8_t FnVolatile = 4;  // the value may change on every recalculation
// A reference of more than one cell given to a one-value parameter gives #VALUE!, in an array
// formula too, rather than its cells one by one or the cell beside the formula: the functions
// that began as an add-in's (EDATE, ISEVEN, the IM... ones) take such a parameter as a
// reference and accept one cell only. An array (A1:A3+0) is taken element by element.
constexpr std::uint8_t FnOneCellRefs = 8;
// The IS functions: as the outermost call of a legacy array formula, taken over the formula's
// whole area, an argument's elements beyond it #N/A (ISNA(A1:A2) in three cells is TRUE in
// the third, where another function shows #N/A).
constexpr std::uint8_t FnFillsArea = 16;

// What parameter i (from 0) of the function takes: one of the letters above.
char parameter_kind(const Function& f, int i);

// The function's index in functions(), or -1.
int find_function(std::string_view upper_name);
const std::vector<Function>& functions();

} // namespace host::engine::detail

#endif
