#include "SolveChecks.hpp"

#include "BookFiles.hpp"

#include "engine/Unicode.hpp"
#include "io/Document.hpp"

#include <utility>

namespace app {

namespace {

using host::engine::CellAddress;
using host::engine::CellRange;
using host::engine::Workbook;

// The one block of cells a dialog's reference text names, found as the add-in's own
// reading of it will find it.
std::optional<CellRange> range_named(const Workbook& book, const std::string& text) {
    return book.reference_range(text, book.active_sheet());
}

} // namespace

std::optional<std::string> solve_refusal(const Workbook& book, const std::string& variables,
                                         const std::string& objective) {
    std::optional<CellRange> vars = range_named(book, variables);
    std::optional<CellRange> goal = range_named(book, objective);
    if (!vars || !goal || vars->size() > 1 << 20)
        return std::nullopt;
    for (std::int32_t r = vars->first_row; r <= vars->last_row; ++r)
        for (std::int32_t c = vars->first_col; c <= vars->last_col; ++c) {
            CellAddress at{vars->sheet, r, c};
            // Every cell of a data table holds its TABLE() formula.
            const std::optional<CellAddress> holder = book.data_table(at) ? book.array_anchor(at) : at;
            if (book.is_formula(*holder))
                return "the variable cell " + host::io::cell_key(book, at) +
                       " holds a formula (=" + book.formula_text(*holder) +
                       "), which solving would overwrite with a number; "
                       "name cells that hold plain values";
            // A cell of an array formula's range or of a spill takes its value from the
            // formula: writing it would break the range or block the spill.
            const std::optional<CellAddress> anchor = book.array_anchor(at);
            if (anchor && *anchor != at)
                return "the variable cell " + host::io::cell_key(book, at) + " is part of the " +
                       (book.is_spilling_formula(*anchor) ? "spilled result" : "array formula") + " of " +
                       host::io::cell_key(book, *anchor) + " (=" + book.formula_text(*anchor) +
                       "), which solving would overwrite; name cells that hold plain values";
        }
    CellAddress target{goal->sheet, goal->first_row, goal->first_col};
    std::string where = "the objective cell " + host::io::cell_key(book, target);
    if (vars->contains(target))
        return where + " is one of the variable cells; it must be a formula that reads them";
    if (!book.is_formula(target))
        return where + (book.value(target).is_empty() ? " is blank" : " holds a constant") +
               ", so it does not depend on the variable cells";
    if (!book.depends_on(target, *vars))
        return where + " does not depend on any variable cell, so solving cannot change it";
    return std::nullopt;
}

std::vector<CellAddress> cells_named(const Workbook& book, const std::string& text) {
    std::vector<CellAddress> cells;
    std::optional<CellRange> a = range_named(book, text);
    if (a && a->size() <= 65536)
        for (std::int32_t r = a->first_row; r <= a->last_row; ++r)
            for (std::int32_t c = a->first_col; c <= a->last_col; ++c)
                cells.push_back({a->sheet, r, c});
    return cells;
}

void set_inputs(Workbook& book, const std::vector<std::string>& inputs) {
    using host::engine::Value;
    std::vector<std::pair<CellAddress, Value>> writes;
    for (const std::string& input : inputs) {
        const std::size_t equals = input.find('=');
        if (equals == std::string::npos || equals == 0)
            throw UsageError("--set " + input + ": give CELL=VALUE, such as B7=12.5");
        const std::string reference = input.substr(0, equals), text = input.substr(equals + 1);
        std::optional<CellRange> range = range_named(book, reference);
        if (!range)
            throw UsageError("--set " + input + ": " + reference + " is not a cell of this workbook");
        if (range->size() != 1)
            throw UsageError("--set " + input + ": " + reference + " names " + std::to_string(range->size()) +
                             " cells; name one cell");
        const CellAddress at{range->sheet, range->first_row, range->first_col};
        const std::string cell = host::io::cell_key(book, at);
        if (book.is_formula(at))
            throw UsageError("--set " + input + ": " + cell + " holds a formula (=" + book.formula_text(at) +
                             "), which the value would overwrite; name a cell that holds a plain value");
        if (std::optional<CellAddress> anchor = book.array_anchor(at))
            throw UsageError("--set " + input + ": " + cell + " is filled by the array formula in " +
                             host::io::cell_key(book, *anchor) + "; name a cell that holds a plain value");
        if (!text.empty() && text[0] == '=')
            throw UsageError("--set " + input + ": the value is a formula; --set writes values only");
        for (const auto& earlier : writes)
            if (earlier.first == at)
                throw UsageError("--set names " + cell + " twice; give each cell once");
        const std::string folded = host::engine::fold_case(text);
        Value value = text.empty()                       ? Value()
                      : folded == "true"                 ? Value::boolean(true)
                      : folded == "false"                ? Value::boolean(false)
                      : host::engine::parse_number(text) ? Value::number(*host::engine::parse_number(text))
                                                         : Value::text(text);
        writes.emplace_back(at, std::move(value));
    }
    if (!writes.empty())
        book.set_values(writes);
}

} // namespace app
