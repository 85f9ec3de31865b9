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

std::vector<std::string> reference_list(const std::string& text) {
    std::vector<std::string> pieces(1);
    bool quoted = false;
    for (char c : text) {
        if (c == '\'')
            quoted = !quoted;
        if (c == ',' && !quoted)
            pieces.emplace_back();
        else
            pieces.back() += c;
    }
    for (std::string& p : pieces) {
        std::size_t first = p.find_first_not_of(" \t"), last = p.find_last_not_of(" \t");
        p = first == std::string::npos ? std::string() : p.substr(first, last - first + 1);
    }
    return pieces;
}

std::vector<CellRange> ranges_named(const Workbook& book, const std::string& text) {
    std::vector<CellRange> ranges;
    for (const std::string& piece : reference_list(text)) {
        std::optional<CellRange> r = range_named(book, piece);
        if (!r)
            return {};
        ranges.push_back(*r);
    }
    return ranges;
}

std::optional<std::string> solve_refusal(const Workbook& book, const std::string& variables,
                                         const std::string& objective) {
    std::vector<CellRange> vars = ranges_named(book, variables);
    std::optional<CellRange> goal = range_named(book, objective);
    std::size_t cells = 0;
    for (const CellRange& v : vars)
        cells += v.size();
    if (vars.empty() || !goal || cells > 1 << 20)
        return std::nullopt;
    for (const CellRange& range : vars)
        for (std::int32_t r = range.first_row; r <= range.last_row; ++r)
            for (std::int32_t c = range.first_col; c <= range.last_col; ++c) {
                CellAddress at{range.sheet, r, c};
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
    bool depends = false;
    for (const CellRange& range : vars) {
        if (range.contains(target))
            return where + " is one of the variable cells; it must be a formula that reads them";
        depends = depends || (book.is_formula(target) && book.depends_on(target, range));
    }
    if (!book.is_formula(target))
        return where + (book.value(target).is_empty() ? " is blank" : " holds a constant") +
               ", so it does not depend on the variable cells";
    if (!depends)
        return where + " does not depend on any variable cell, so solving cannot change it";
    return std::nullopt;
}

std::vector<CellAddress> cells_named(const Workbook& book, const std::string& text) {
    std::vector<CellAddress> cells;
    std::size_t total = 0;
    for (const CellRange& a : ranges_named(book, text)) {
        total += a.size();
        if (total > 65536)
            return {};
        for (std::int32_t r = a.first_row; r <= a.last_row; ++r)
            for (std::int32_t c = a.first_col; c <= a.last_col; ++c)
                cells.push_back({a.sheet, r, c});
    }
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
