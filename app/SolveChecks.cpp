#include "SolveChecks.hpp"

#include "io/Document.hpp"

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

} // namespace app
