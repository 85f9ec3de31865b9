#ifndef OMBRIX_HOST_ENGINE_WORKBOOK_HPP
#define OMBRIX_HOST_ENGINE_WORKBOOK_HPP

#include "engine/A1.hpp"
#include "engine/Errors.hpp"
#include "engine/Value.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host::engine {

// A cell: sheet index (0-based, in workbook order), row and column (0-based).
struct CellAddress {
    int sheet = 0;
    std::int32_t row = 0;
    std::int32_t col = 0;
    bool operator==(const CellAddress& o) const { return sheet == o.sheet && row == o.row && col == o.col; }
    bool operator!=(const CellAddress& o) const { return !(*this == o); }
    bool operator<(const CellAddress& o) const {
        return sheet != o.sheet ? sheet < o.sheet : row != o.row ? row < o.row : col < o.col;
    }
};

// A block of cells on one sheet, corners included.
struct CellRange {
    int sheet = 0;
    std::int32_t first_row = 0, first_col = 0, last_row = 0, last_col = 0;
    bool contains(const CellAddress& cell) const {
        return cell.sheet == sheet && cell.row >= first_row && cell.row <= last_row && cell.col >= first_col &&
               cell.col <= last_col;
    }
    std::int64_t size() const { return std::int64_t(last_row - first_row + 1) * (last_col - first_col + 1); }
};

// The size of an array formula's range.
struct ArrayExtent {
    std::int32_t rows = 0, cols = 0;
};

// What a loader should tell the user about a workbook.
struct Diagnostics {
    struct UnknownFunction {
        std::string name;               // upper case, as written
        std::vector<CellAddress> cells; // every cell using it, sorted
    };
    std::vector<UnknownFunction> unknown_functions; // sorted by name
    std::vector<std::vector<CellAddress>> cycles;   // the cells of each circular reference, sorted
    struct UnsupportedFormat {
        std::string format;             // a number format TEXT cannot show (it gave #VALUE!)
        std::vector<CellAddress> cells; // sorted
    };
    std::vector<UnsupportedFormat> unsupported_formats; // sorted by format, as of the last calculation
};

// How circular references are computed. Without iteration the cells of a cycle show what
// they held when they first joined one, as the spreadsheet leaves them: the values the file
// cached (set_cached_value()), or 0 for a formula that held nothing, as one just set; and
// diagnostics() names them. Writing a cell the cycle reads changes none of them, and a cell
// in a cycle for some inputs only shows the same each time it is; the cells that only read a
// cycle are computed from its values as usual. With iteration each cycle is computed again
// and again from the values it holds, up to max_iterations times or until no value of it
// changes by more than max_change.
struct CalcSettings {
    bool iterate = false;
    int max_iterations = 100;
    double max_change = 0.001;
};

// A table: a block of rows with a header row of column names (unless header_row is false)
// and optionally a totals row, which formulas address as Sales[Qty], Sales[#Totals],
// Sales[[#This Row],[Qty]] or Sales[@Qty].
struct TableDef {
    std::string name;
    int sheet = 0;
    std::int32_t first_row = 0, first_col = 0, last_row = 0, last_col = 0; // header and totals included
    std::vector<std::string> columns;                                      // one per column, left to right
    bool header_row = true;
    bool totals_row = false;
};

// Whether a row is hidden, and how: by the user, or by a filter (a row of a filtered range or
// table that its criteria leave out).
enum class RowHidden : std::uint8_t { No, ByUser, ByFilter };
// A what-if data table (the spreadsheet's TABLE()): each of its cells is a formula's value
// with one or two input cells set, for that calculation only, to the values along the
// table's edges. With one input whose values run down the column left of `cells`, each
// column's formula is in the row above it; with values along the row above, each row's
// formula is in the column to its left; with two inputs, the row input takes the row above's
// values, the column input the left column's, and the one formula is in the corner.
struct DataTableDef {
    CellRange cells; // the results, without the edges
    bool has_row_input = false, has_column_input = false;
    CellAddress row_input, column_input; // on the table's sheet
    bool input_deleted = false;          // an input cell was deleted: every cell is #REF!
};

// Another workbook's values as the spreadsheet saved them with this one, for the formulas that
// read it: [1]Sheet1!A1, '[1]My Sheet'!A1:B3, [1]!Rate, [1]Sheet1!Rate (1 is its number in the
// file's list of links). A cell the copy does not hold, a sheet the spreadsheet could not read
// and a name that is not a reference into the copy give #REF!; in a range the copy holds
// cells of, those it does not are blank.
struct LinkedBook {
    struct Sheet {
        std::string name;
        bool readable = true; // false: the spreadsheet could not read it when it saved the copy
        struct CellValue {
            std::int32_t row = 0, col = 0;
            Value value;
        };
        std::vector<CellValue> cells;
    };
    struct Name {
        std::string name;
        int sheet = -1;        // the sheet of `sheets` it belongs to; -1: the workbook's
        std::string refers_to; // "Sheet1!$A$1" (a leading '=' is skipped)
    };
    std::string file; // as the link names it, for messages
    std::vector<Sheet> sheets;
    std::vector<Name> names;
};

// A sheet's used area: the smallest rectangle holding every non-empty cell.
struct UsedRange {
    bool empty = true;
    std::int32_t first_row = 0, first_col = 0, last_row = -1, last_col = -1;
};

// A workbook: sheets of cells, defined names, and recalculation that follows the
// dependencies of formulas.
//
// Formulas are given as text, with or without the leading '='. They are parsed once; each
// cell that a formula reads is resolved when the formula is set. References to sheets or
// names that do not exist yet evaluate to #REF! / #NAME? and are resolved again when the
// sheet is added or the name defined.
//
// Recalculation: every write marks the cell changed. In manual mode (the default) nothing
// is computed until recalculate(), which evaluates each formula that depends on a changed
// cell once, in dependency order. In automatic mode every write is followed at once by
// that recalculation, as the spreadsheet does; set_values() writes a batch and recalculates
// once. Formulas calling a volatile function, and all that depend on them, are computed again
// on every recalculation. Circular references are computed as CalcSettings says and listed by
// diagnostics(). The evaluation order for a set of changed cells is computed once and
// reused while no formula changes, so writing the same cells again is cheap.
class Workbook {
public:
    Workbook();
    ~Workbook();
    Workbook(Workbook&&) noexcept;
    Workbook& operator=(Workbook&&) noexcept;
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    // Sheets. Names are unique ignoring case, 1 to 31 characters, none of []:*?/\ and
    // not starting or ending with an apostrophe; add_sheet throws EngineError otherwise.
    int add_sheet(const std::string& name);
    int find_sheet(std::string_view name) const; // -1 if there is none
    int sheet_count() const;
    const std::string& sheet_name(int sheet) const;
    std::vector<std::string> sheet_names() const;
    int active_sheet() const;
    void set_active_sheet(int sheet);

    // Cells. Addresses off the grid or on a missing sheet throw EngineError.
    void set_value(const CellAddress& cell, const Value& value);
    // Writes several cells; in automatic mode recalculates once after the last.
    void set_values(const std::vector<std::pair<CellAddress, Value>>& cells);
    // Parses and sets a formula (throws FormulaError, leaving the cell unchanged). An array
    // formula is evaluated in array context; this one fills its own cell only.
    void set_formula(const CellAddress& cell, std::string_view text, bool array = false);
    // Gives `cell` the formula of `from` moved there, as copying it would, where that needs
    // no text: `from` holds a formula of a filled-down block whose cells share one compiled
    // program (the cells of a shared formula). False, leaving the cell unchanged, where the
    // caller must move the text and set it.
    bool set_moved_formula(const CellAddress& cell, const CellAddress& from);
    // The value a formula cell showed when its workbook was saved: it holds it until it is
    // calculated, and keeps it while it is in a circular reference that does not iterate
    // (see CalcSettings). Nothing is marked changed; a cell without a formula is left alone.
    // A formula set afterwards joins a cycle as one that held nothing.
    void set_cached_value(const CellAddress& cell, const Value& value);
    // Room for `cells` more cells on the sheet, `formulas` of them of filled-down blocks: a
    // large sheet's tables are then allocated once rather than grown. A hint only.
    void reserve_cells(int sheet, std::size_t cells, std::size_t formulas);
    // An array formula filling `rows` x `cols` cells from `anchor` (the legacy array formula,
    // {=...}): each cell gets its element of the result; a result of one row or column
    // repeats across the range; cells beyond the result show #N/A. Throws EngineError when the
    // range is empty or leaves the sheet.
    void set_array_formula(const CellAddress& anchor, std::string_view text, std::int32_t rows, std::int32_t cols);
    // A formula evaluated in array context whose result spills into the cells below and to
    // the right, as many as it has (a dynamic array). A spill that would cover a cell holding
    // something, or leave the sheet, shows #SPILL! in the formula's cell instead.
    void set_spilling_formula(const CellAddress& cell, std::string_view text);
    void clear(const CellAddress& cell) { set_value(cell, Value()); }
    // Makes `table.cells` a data table, its formula TABLE(row input,column input) in its
    // top-left cell. Throws EngineError when it has no input, its edges or inputs leave the
    // sheet, or an input is inside it.
    void set_data_table(const DataTableDef& table);
    // The data table the cell is one of the results of, if any.
    std::optional<DataTableDef> data_table(const CellAddress& cell) const;
    // Merged cells, shown as one: a spill of more than one cell that would cover any of them
    // shows #SPILL!, as one in the way of a value does. Spills already calculated stay until
    // they are calculated again. Throws EngineError for a block off the grid or upside down.
    void merge_cells(const CellRange& block);

    // The cell's value; a formula gives its last computed value.
    const Value& value(const CellAddress& cell) const;
    bool is_formula(const CellAddress& cell) const;
    bool is_array_formula(const CellAddress& cell) const;
    bool is_spilling_formula(const CellAddress& cell) const;
    // The cells an array formula fills from its cell: its range, or what its spill covers as
    // of the last calculation (1x1 when it shows #SPILL!); 0x0 for any other cell.
    ArrayExtent array_extent(const CellAddress& cell) const;
    // The array formula whose result gives this cell its value (the cell itself for the
    // formula's own cell), if any.
    std::optional<CellAddress> array_anchor(const CellAddress& cell) const;
    // The block's cells hold, as values, what an array formula in its first cell last gave
    // (a formula whose value is kept from the file): A1# of that cell is the block, until the
    // cell is written again. Throws EngineError for a block off the grid or upside down.
    void keep_spill(const CellRange& block);
    // The formula as it was set, without the leading '='; "" if the cell has none.
    std::string formula_text(const CellAddress& cell) const;

    // Calls f(row, col, value) for every cell of the sheet that holds a value or formula,
    // row by row, left to right.
    void for_each_cell(int sheet,
                       const std::function<void(std::int32_t row, std::int32_t col, const Value& value)>& f) const;
    UsedRange used_range(int sheet) const;

    // Workbook-scoped names: a reference ("Sheet1!$A$1:$B$3"), a constant ("0.5") or any
    // formula. Names follow the spreadsheet's rules (letter, '_' or '\' first; letters,
    // digits, '_' and '.'; not a cell reference; not TRUE/FALSE); ignoring case. Redefining
    // replaces. Throws FormulaError if the text does not parse, EngineError for a bad name.
    // A name of sheet `sheet` (0-based) is seen by the formulas of that sheet only, where it
    // wins over a workbook name of the same spelling.
    void define_name(const std::string& name, std::string_view formula, int sheet = -1);
    bool has_name(std::string_view name) const;                            // workbook names
    std::string name_formula(std::string_view name, int sheet = -1) const; // "" if undefined
    std::vector<std::string> names() const;                                // workbook names

    // Dates count from 1904-01-01 (serial 0) rather than 1900-01-00, as the workbook's file
    // may say. Changing it recalculates nothing by itself.
    void set_date1904(bool date1904);
    bool date1904() const;
    // The file the workbook was opened from, an absolute path, for CELL("filename"); "" (as
    // for a workbook never saved) unless set. Recalculates nothing by itself.
    void set_file_name(const std::string& path);

    // TODAY() and NOW() answer this moment (a serial date and time in the workbook's date
    // system) rather than the clock's, until a negative value clears it: a calculation as of a
    // given day, such as the day a file was saved. Recalculates nothing by itself.
    void set_fixed_now(double serial);

    // Tables. Names follow the rules of defined names; redefining replaces. Throws EngineError.
    void define_table(const TableDef& table);

    // Hidden rows, which SUBTOTAL and AGGREGATE can leave out: SUBTOTAL(1..11) the rows of a
    // filter, SUBTOTAL(101..111) and AGGREGATE's odd options every hidden row. Hidden columns
    // change nothing. Throws EngineError for a row off the grid; recalculates nothing by itself.
    void set_row_hidden(int sheet, std::int32_t row, RowHidden how);
    RowHidden row_hidden(int sheet, std::int32_t row) const;
    // Column widths in characters of the default font, as CELL("width") reports them (its
    // integer part): columns first..last of a sheet, or every other one with set_default_width
    // (8.43 unless set). Throws EngineError for a sheet or column off the grid.
    void set_column_width(int sheet, std::int32_t first, std::int32_t last, double width);
    void set_default_width(int sheet, double width);
    // The copy of linked workbook `number` (1 for [1]); setting it again replaces it. Throws
    // EngineError for a number outside 1 to 65535.
    void set_linked_book(int number, const LinkedBook& book);
    // The formula cells that read a linked workbook's copy, sorted.
    std::vector<CellAddress> linked_readers() const;

    // Recalculation.
    void set_automatic(bool automatic);
    bool automatic() const;
    void recalculate();     // every formula depending on a cell changed since the last one
    void recalculate_all(); // every formula, ignoring what was computed before
    void set_calc_settings(const CalcSettings& settings);
    // Keeps, within about `bytes` of memory, the results of the recalculations that follow
    // set_values() of numbers into the same cells, so that writing numbers already written
    // (bit for bit) restores those results instead of computing them again: an optimiser's
    // repeated candidates. Only while nothing else in the workbook changes, and never for a
    // workbook with a volatile function, a circular reference or an array formula among the
    // cells recalculated. 0 (the default) keeps nothing.
    void set_recalculation_memo(std::size_t bytes);
    // How many recalculations set_values() replaced by results kept.
    std::uint64_t recalculations_recalled() const;
    const CalcSettings& calc_settings() const;

    // The formula cells calling a volatile function (RAND, NOW, OFFSET, INDIRECT...) that the
    // cell's value depends on, itself included, sorted: empty when the value is the same on
    // every recalculation.
    std::vector<CellAddress> volatile_sources(const CellAddress& cell) const;
    // Every cell whose volatile_sources() are not empty, sorted: the book's volatile formula
    // cells and all that depend on them, found in one pass (asking volatile_sources() of each
    // cell would walk the book once a cell).
    std::vector<CellAddress> volatile_dependents() const;

    // The cells a reference names: "B3:D3", "$B$16", "Plan!B3:D3", on `sheet` when it names
    // no sheet. Empty for any other text (a name, a formula, another workbook's cells, a
    // sheet that does not exist).
    std::optional<CellRange> reference_range(std::string_view text, int sheet) const;

    // Whether the formula in `cell` reads any cell of `cells`: itself, through the formulas
    // it reads, or through defined names, as recalculation follows them. A formula that
    // builds its references while it runs (INDIRECT, OFFSET) may read any cell, so it counts
    // as reading them. False for a cell without a formula.
    bool depends_on(const CellAddress& cell, const CellRange& cells) const;

    // Unknown functions and circular references of the workbook as it stands.
    Diagnostics diagnostics() const;

    // The functions the cell's formula calls that are neither built in nor defined names
    // holding a LAMBDA, upper case, each once, in the order written; none for a constant.
    std::vector<std::string> unknown_functions(const CellAddress& cell) const;

    // Formula evaluations so far (for tests and benchmarks).
    std::uint64_t evaluation_count() const;

    // Lookups and criteria find their cells through an index of the range they search, kept
    // while its cells do not change (the default), or walk the range on every call.
    void set_lookup_indexes(bool on);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The names of the functions formulas can call, upper case, in no particular order.
std::vector<std::string> function_names();

// What each argument of a call of the function with `argc` arguments takes, a letter each:
// 'v' one value (given an array, or a range in an array formula, the function is applied
// element by element), 'r' one value as 'v' but from a range of one cell only (a larger one
// gives #VALUE!, as the functions that began as an add-in's do), 'f' one value taken element
// by element only along with a 'v' one, 'a' an array or range, whole. Empty for a name that
// is no function.
std::string parameter_kinds(std::string_view name, int argc);

// Moves the relative parts of a formula's references by (rows, cols), as copying the cell
// does: "A1+$B2" moved by (1,1) is "B2+$B3". Absolute parts stay. A reference moved off the
// grid becomes #REF!. Text outside references (strings, names, functions) is unchanged.
// Takes and returns the text without a leading '=' (a leading '=' is kept if present).
// Throws FormulaError if the text does not parse.
std::string move_formula(std::string_view formula, std::int32_t rows, std::int32_t cols);

// The same for one formula moved to many places (the cells of a shared formula): it is read
// once, here, and each move only writes the text.
class FormulaMover {
public:
    explicit FormulaMover(std::string_view formula); // throws FormulaError if it does not parse
    ~FormulaMover();
    FormulaMover(FormulaMover&&) noexcept;
    std::string move(std::int32_t rows, std::int32_t cols) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

} // namespace host::engine

#endif
