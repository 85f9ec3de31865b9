#ifndef OMBRIX_HOST_ENGINE_EVAL_HPP
#define OMBRIX_HOST_ENGINE_EVAL_HPP

// The engine's own: everything outside host/engine goes through engine/Workbook.hpp.
#ifndef OMBRIX_ENGINE_INTERNALS
#error "engine/internal/ headers are private to the engine (use engine/Workbook.hpp)"
#endif

// The evaluator: runs a linked program against the cells of a workbook.

#include "engine/internal/Program.hpp"
#include "engine/Workbook.hpp"

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host::engine::detail {

// A reference resolved against the workbook: a cell slot, an area, or an error.
struct LinkedRef {
    enum Kind : std::uint8_t { Cell, Range, Sheets, Error } kind = Error;
    ErrorCode error = ErrorCode::Ref;
    std::uint32_t cell = 0;
    Area area{0, 0, 0, 0, 0};
    std::int32_t last_sheet = -1; // Sheets: the area on every sheet from area.sheet to this one
};

// A program ready to run: the references resolved, names by workbook index.
struct Linked {
    std::vector<Instr> code;
    std::vector<Value> consts;
    std::vector<LinkedRef> refs;
    std::vector<std::uint32_t> names;
    std::vector<std::shared_ptr<const Array>> arrays;
    std::uint32_t locals = 0;
};

// The most cells an operation works through one by one (an element-by-element operation,
// SUMPRODUCT, a criterion that matches empty cells): one full column. Beyond it the result
// is #NUM! rather than minutes of work and gigabytes of memory.
constexpr std::int64_t max_dense_cells = std::int64_t(1) << 20;

// The longest text a cell holds, in characters: whatever makes a longer text (&, a text
// function, a lifted one's element) gives #VALUE! instead.
constexpr std::size_t max_text_length = 32767;
bool too_long_text(std::string_view text);
// The same for a value: true for a text past the limit.
inline bool too_long(const Value& v) { return v.is_text() && too_long_text(v.as_text()); }

struct Closure;

// One entry of the evaluation stack.
struct Item {
    enum Kind : std::uint8_t { Val, Cell, Range, Arr, Missing } kind = Val;
    std::uint32_t cell = 0;
    Value v;
    Area area{0, 0, 0, 0, 0};
    const Array* arr = nullptr;               // owned by the program or the evaluator's arena
    std::int32_t last_sheet = -1;             // a Range through several sheets (only aggregates see one)
    const std::vector<Area>* areas = nullptr; // a Range that is a union (only aggregates see one)
    // A function made by LAMBDA: a Val whose value, #CALC!, is what anything but a call sees.
    const Closure* closure = nullptr;
};

// LAMBDA's function: code[begin, end) of its program, its parameters in the locals from
// first_local on, and the locals as they were where it was made (LET's names, outer
// parameters). Or a built-in function passed by name: `builtin` its index, no program.
struct Closure {
    int builtin = -1;
    const Linked* program = nullptr;
    std::size_t begin = 0, end = 0;
    std::uint32_t first_local = 0;
    std::uint16_t params = 0;
    std::vector<Item> captured;
};

class LookupIndex;

// What the evaluator needs from the workbook.
class Grid {
public:
    virtual ~Grid() = default;
    virtual const Value& cell_value(std::uint32_t id) const = 0;
    virtual Area cell_area(std::uint32_t id) const = 0;
    virtual const Value& value_at(int sheet, std::int32_t row, std::int32_t col) const = 0;
    // The slots that exist in the area, row by row.
    virtual const std::vector<std::uint32_t>& cells_in(const Area& area) const = 0;
    // Every position of the area, row by row, as its slot or 0xFFFFFFFF where no cell is:
    // reading a large range element by element without a lookup a cell. Null where the grid
    // keeps none (or the area is too large to keep).
    virtual const std::vector<std::uint32_t>* slots_by_position(const Area& area) const {
        (void)area;
        return nullptr;
    }
    // The slot of one cell, false when it does not exist; its value is not read, so that a
    // formula asking ISFORMULA or CELL("row") of its own cell is no circular reference.
    virtual bool slot_at(int sheet, std::int32_t row, std::int32_t col, std::uint32_t& id) const {
        const std::vector<std::uint32_t>& ids = cells_in(Area{sheet, row, col, row, col});
        if (ids.empty())
            return false;
        id = ids[0];
        return true;
    }
    // A defined name's program, or nullptr if the name is not defined.
    virtual const Linked* name_program(std::uint32_t name, bool array) const = 0;
    // The program of the defined name `name` as a formula on `sheet` sees it: the sheet's own
    // name first, then (unless `sheet_only`) the workbook's; nullptr if there is none.
    virtual const Linked* visible_name(std::string_view name, int sheet, bool sheet_only) const = 0;
    // The sheet of that name (ignoring case), or -1.
    virtual int sheet_index(std::string_view name) const = 0;
    // The formula of a cell slot, or nullptr if the cell holds a constant.
    virtual const Linked* cell_program(std::uint32_t id) const = 0;
    // The cells the array formula in cell `id` fills as of its last calculation (A1#); false
    // with the error to give when the cell holds none (#REF!) or its spill is blocked.
    virtual bool spill_area(std::uint32_t id, Area& out, Value& error) const {
        (void)id, (void)out;
        error = Value::error(ErrorCode::Ref);
        return false;
    }
    // Dates count from 1904-01-01 rather than 1900-01-00.
    virtual bool date1904() const { return false; }
    // The moment TODAY() and NOW() answer when the workbook fixes one (false: the clock's).
    virtual bool fixed_now(double& serial) const {
        (void)serial;
        return false;
    }
    // An index of the values in the area (engine/internal/LookupIndex.hpp), or nullptr: walk the cells.
    virtual const LookupIndex* lookup_index(const Area& area) const {
        (void)area;
        return nullptr;
    }
    // The text of a cell slot's formula (without '='), empty for a constant; for FORMULATEXT.
    virtual std::string_view cell_formula(std::uint32_t) const { return {}; }
    // Whether the cell is one of a legacy array formula's range (entered over its cells at
    // once, shown in braces); `id` then becomes the slot of the formula's own cell.
    virtual bool legacy_array(std::uint32_t& id) const {
        (void)id;
        return false;
    }
    virtual int sheet_count() const { return 1; }
    // CELL("filename") of a cell on `sheet`: "folder/[book.xlsx]Sheet", or "" for a workbook
    // that was never saved.
    virtual std::string file_name_of(int sheet) const {
        (void)sheet;
        return {};
    }
    virtual RowHidden row_hidden(int sheet, std::int32_t row) const {
        (void)sheet, (void)row;
        return RowHidden::No;
    }
    // A column's width in characters (CELL("width")).
    virtual double column_width(int sheet, std::int32_t col) const {
        (void)sheet, (void)col;
        return 8.43;
    }
};

// Coercions, as the spreadsheet makes them. Text that is not a number may be a date or a
// time ("2024-01-15", "10:30"): its serial in the workbook's date system (`date1904`).
bool to_number(const Value& v, double& out, ErrorCode& error, bool date1904);
std::string to_text(const Value& v); // numbers with up to 15 significant digits
bool to_boolean(const Value& v, bool& out, ErrorCode& error);
std::string general_number(double x);
// -1, 0, 1: numbers < text < booleans, empty as 0, "" or FALSE; text ignoring case.
int compare(const Value& a, const Value& b);
// Equal to within 2^-48 relative; the spreadsheet's idea of equal numbers.
OMBRIX_ALWAYS_INLINE inline bool approx_equal(double a, double b) {
    if (a == b)
        return true;
    if (a == 0 || b == 0)
        return false;
    const double eps = 1.0 / (16777216.0 * 16777216.0); // 2^-48
    double d = std::fabs(a - b);
    return d < std::fabs(a) * eps && d < std::fabs(b) * eps;
}

// Sums and differences of nearly equal numbers are snapped to 0, as the spreadsheet does,
// so that 0.1+0.2-0.3 is 0.
OMBRIX_ALWAYS_INLINE inline double approx_add(double a, double b) {
    if (((a < 0 && b > 0) || (a > 0 && b < 0)) && approx_equal(a, -b))
        return 0;
    return a + b;
}

OMBRIX_ALWAYS_INLINE inline double approx_sub(double a, double b) {
    if (((a < 0 && b < 0) || (a > 0 && b > 0)) && approx_equal(a, b))
        return 0;
    return a - b;
}

class Evaluator {
public:
    explicit Evaluator(const Grid& grid) : grid(grid) {}

    // The value of a formula placed at (sheet, row, col).
    Value run(const Linked& program, int sheet, std::int32_t row, std::int32_t col, bool array_formula);

    // The whole value of an array formula placed at (sheet, row, col): a range's cells or an
    // array's values, row by row; one value as 1x1. Too large a result is a 1x1 #NUM!.
    std::shared_ptr<const Array> run_array(const Linked& program, int sheet, std::int32_t row, std::int32_t col);

    // The area of the legacy array formula being run (rows x cols) when its outermost
    // operation is a call, else 0 x 0.
    std::int32_t area_rows = 0, area_cols = 0;
    // Whether args[0..argc) are all the stack holds: with such an area, the outermost call.
    bool outermost(const Item* args, int argc) const {
        return args == stack_.data() && stack_.size() == std::size_t(argc);
    }

    // Calls a LAMBDA's function with args[0..argc); fewer arguments than parameters leave the
    // rest omitted (ISOMITTED), more are #VALUE!.
    Item invoke(const Closure& function, const Item* args, int argc);

    // An item reduced to one value: a range by implicit intersection with the formula's
    // row or column (or its top-left cell when `array`), an array by its top-left element.
    Value scalar(const Item& item, bool array = false) const;

    // Keeps an array computed during this evaluation alive until the next one, or until
    // release() frees what was made since a mark before it.
    const Array* keep(std::shared_ptr<const Array> array) {
        arena_.push_back(std::move(array));
        return arena_.back().get();
    }

    // How much the evaluation holds at a moment (arrays, unions, functions made).
    struct Mark {
        std::size_t arrays = 0, unions = 0, closures = 0;
    };
    Mark mark() const { return {arena_.size(), unions_.size(), closures_.size()}; }
    // Frees what was made since `m` but what `kept` refers to, once nothing else can: a call
    // that returns, an element of a loop whose value has been taken. A function made since
    // `m` may hold anything made with it, so it keeps everything.
    void release(const Mark& m, const Item& kept);

    const Grid& grid;
    int sheet = 0;
    // Number formats that TEXT met and cannot show, for the workbook's warnings.
    std::vector<std::string> unsupported_formats;
    std::int32_t row = 0, col = 0;
    // When set, references built at run time (OFFSET, INDIRECT) are recorded here, for the
    // dependency graph.
    std::vector<Area>* built_refs = nullptr;

private:
    Item evaluate(const Linked& program, int depth);
    Item execute(const Linked& program, std::size_t begin, std::size_t end, int depth, std::vector<Item>& locals);
    void push_ref(const LinkedRef& ref);
    void push_name(const Instr& in, std::uint32_t name, int depth);
    bool numbers_only(Op op);
    std::size_t branch(const Linked& program, std::size_t pc, int depth, std::vector<Item>& locals);
    bool single_area(const Item& item, Area& out) const;
    bool area_operands(Area& x, Area& y);
    void intersect();
    void span();
    void unite(std::size_t count);
    void make_closure(const Linked& program, std::size_t pc, const std::vector<Item>& locals);
    void push_function(int builtin);
    void call_closure(std::size_t argc);
    void binary(Op op, Item& a, const Item& b, bool array);
    void unary(Op op, Item& a, bool array);

    std::vector<Item> stack_;
    std::vector<std::shared_ptr<const Array>> arena_;
    std::vector<std::unique_ptr<std::vector<Area>>> unions_;
    std::vector<std::unique_ptr<Closure>> closures_;
    int depth_ = 0; // of names and calls, against runaway recursion
};

// An item seen as a grid of values: a range, an array, or one value as 1x1.
struct View {
    View(const Evaluator& ev, const Item& item);
    // The value, not a copy: a text's count of holders is not touched, which a range of
    // thousands of texts read element by element would pay for in cache misses.
    const Value& at(std::int32_t r, std::int32_t c) const;
    const Evaluator& ev;
    const Item& item;
    std::int32_t rows = 1, cols = 1;
    const std::vector<std::uint32_t>* slots = nullptr; // a large range's cells by position
};

// Calls built-in function `id` on args[0..argc), leaving the result in `out`.
void call_function(Evaluator& ev, int id, Item* args, int argc, Item& out, bool array);

// Scalar operators, shared by the evaluator and element-by-element evaluation.
Value apply_binary(Op op, const Value& a, const Value& b, bool date1904);
Value apply_unary(Op op, const Value& a, bool date1904);

} // namespace host::engine::detail

#endif
