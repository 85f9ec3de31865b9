// Reading one worksheet part's cells, a piece of sheetData at a time where it can.
#include "io/XlsxLoad.hpp"

#include "io/IoError.hpp"
#include "io/Xml.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>
#include <unordered_map>

namespace host::io {

namespace {

class SheetReader {
public:
    SheetReader(const Package& package, const std::vector<std::string>& strings, SheetRecord& sheet, bool date1904,
                LoadCost& cost, std::vector<std::string>& warnings, const RichErrors& rich_errors)
        : package_(package), strings_(strings), sheet_(sheet), date1904_(date1904), cost_(cost), warnings_(warnings),
          rich_errors_(rich_errors) {}

    void read() {
        std::size_t cells = 0;
        std::string text = load(cells);
        uncounted_cells_ = cells;
        // What the sheet had before (its tables' filters are read first).
        const std::size_t hidden_before = sheet_.hidden_rows.size(), filters_before = sheet_.filters.size(),
                          tables_before = sheet_.data_tables.size(), warnings_before = warnings_.size(),
                          merged_before = sheet_.merged.size(), formulas_before = sheet_.formulas.size(),
                          shared_before = sheet_.shared_indexes.size();
        const LoadCost cost_before = cost_;
        ContentPieces pieces;
        if (split_content(text, "sheetData", piece_size, pieces) && read_pieces(text, pieces))
            return;
        // Data tables are counted again as they are read again.
        cost_ = cost_before;
        uncounted_cells_ = cells;
        // Text the pieces do not cover, or that they show to be malformed, is parsed whole, so
        // that messages count lines in the whole part.
        sheet_.cells.clear();
        sheet_.formulas.erase(sheet_.formulas.begin() + std::ptrdiff_t(formulas_before), sheet_.formulas.end());
        sheet_.shared_indexes.erase(sheet_.shared_indexes.begin() + std::ptrdiff_t(shared_before),
                                    sheet_.shared_indexes.end());
        shared_.clear();
        shared_direct_.clear();
        sheet_.hidden_rows.erase(sheet_.hidden_rows.begin() + std::ptrdiff_t(hidden_before), sheet_.hidden_rows.end());
        sheet_.filters.erase(sheet_.filters.begin() + std::ptrdiff_t(filters_before), sheet_.filters.end());
        sheet_.data_tables.erase(sheet_.data_tables.begin() + std::ptrdiff_t(tables_before), sheet_.data_tables.end());
        sheet_.merged.erase(sheet_.merged.begin() + std::ptrdiff_t(merged_before), sheet_.merged.end());
        warnings_.erase(warnings_.begin() + std::ptrdiff_t(warnings_before), warnings_.end());
        next_row_ = 0;
        XmlDocument doc = parse(std::move(text));
        read_filter(doc.root());
        if (pugi::xml_node data = child(doc.root(), "sheetData"))
            read_rows(data.first_child());
    }

private:
    // The cells are read a piece of sheetData at a time, the rest of the sheet as one
    // document: a sheet's whole tree would take several times its text.
    static constexpr std::size_t piece_size = std::size_t(1) << 20;

    // False, with nothing read, if the sheet's XML is malformed: a parse of the whole text then
    // says where.
    bool read_pieces(const std::string& text, const ContentPieces& pieces) {
        {
            std::string rest;
            rest.reserve(text.size() - (pieces.end - pieces.begin));
            rest.append(text, 0, pieces.begin).append(text, pieces.end, std::string::npos);
            XmlDocument doc;
            try {
                doc = parse_xml(package_.file(), sheet_.part, std::move(rest));
            } catch (const IoError&) {
                return false;
            }
            read_filter(doc.root());
        }
        pugi::xml_document piece;
        try {
            for (std::size_t i = 0; i + 1 < pieces.cuts.size(); ++i) {
                if (!parse_fragment(text.data() + pieces.cuts[i], pieces.cuts[i + 1] - pieces.cuts[i], piece))
                    return false;
                read_rows(piece.first_child());
            }
        } catch (const IoError&) {
            // A malformed part is reported as such, whatever cell before the fault was wrong.
            parse(text);
            throw;
        }
        return true;
    }

    // A width in the file counts the cell's padding too: 5 pixels, with the digits of the
    // default font 7 wide, the width a whole number of pixels.
    static double characters(double stored) { return std::max(0.0, (std::round(stored * 7) - 5) / 7); }

    void read_widths(const pugi::xml_node& root) {
        sheet_.default_width = 0;
        sheet_.widths.clear();
        double w = 0;
        if (pugi::xml_node format = child(root, "sheetFormatPr")) {
            if (read_double(format.attribute("defaultColWidth").value(), w) && w >= 0)
                sheet_.default_width = characters(w);
            else if (read_double(format.attribute("baseColWidth").value(), w) && w >= 0)
                sheet_.default_width = w;
        }
        if (pugi::xml_node cols = child(root, "cols"))
            for (pugi::xml_node col = cols.first_child(); col; col = col.next_sibling()) {
                long long first = 0, last = 0;
                if (col.type() != pugi::node_element || !is(col, "col") ||
                    !read_int(col.attribute("min").value(), first) || !read_int(col.attribute("max").value(), last) ||
                    first < 1 || last < first || last > static_cast<long long>(grid_columns))
                    continue;
                const std::string_view hidden = col.attribute("hidden").value();
                if (hidden == "1" || hidden == "true")
                    w = 0;
                else if (read_double(col.attribute("width").value(), w) && w >= 0)
                    w = characters(w);
                else
                    continue;
                sheet_.widths.push_back({std::uint32_t(first - 1), std::uint32_t(last - 1), w});
            }
    }

    void read_filter(const pugi::xml_node& root) {
        read_widths(root);
        Block filter;
        if (pugi::xml_node auto_filter = child(root, "autoFilter"))
            if (read_active_filter(auto_filter, filter))
                sheet_.filters.push_back(filter);
        // Merged blocks matter to spills only; one that cannot be read merges nothing.
        if (pugi::xml_node merges = child(root, "mergeCells"))
            for (pugi::xml_node m = merges.first_child(); m; m = m.next_sibling()) {
                Block block;
                if (m.type() == pugi::node_element && is(m, "mergeCell") &&
                    parse_block(m.attribute("ref").value(), block) == A1Parse::Ok)
                    sheet_.merged.push_back(block);
            }
    }

    // The rows from `first` on, and its siblings.
    void read_rows(pugi::xml_node first) {
        for (pugi::xml_node row = first; row; row = row.next_sibling()) {
            if (row.type() != pugi::node_element || !is(row, "row"))
                continue;
            std::uint32_t r = next_row_;
            if (pugi::xml_attribute ra = row.attribute("r")) {
                long long n = 0;
                if (!read_int(ra.value(), n) || n < 1)
                    fail(std::string(), "bad row number '" + std::string(ra.value()) + "'");
                if (n > static_cast<long long>(grid_rows))
                    fail("row " + std::string(ra.value()), "reference off the sheet");
                r = std::uint32_t(n - 1);
            }
            if (r >= grid_rows)
                fail("row " + std::to_string(std::uint64_t(r) + 1), "reference off the sheet");
            const std::string_view hidden = row.attribute("hidden").value();
            if (hidden == "1" || hidden == "true")
                sheet_.hidden_rows.push_back(r);
            read_row(row, r);
            next_row_ = r + 1;
        }
    }

    // The sheet's text, bounded while it arrives (parsing is what costs), and its cell count.
    std::string load(std::size_t& cells) {
        const std::size_t before = cost_.cells;
        std::string text;
        try {
            text = read_counted(package_, sheet_.part, "c", true, cost_, [&](const std::string& why) {
                fail(std::string(), why + " (the limit was crossed in this sheet)");
            });
        } catch (const IoError& e) {
            if (!e.sheet().empty())
                throw;
            throw IoError(package_.file(), sheet_.name, std::string(), e.reason());
        }
        cells = cost_.cells - before;
        return text;
    }

    XmlDocument parse(std::string text) {
        try {
            return parse_xml(package_.file(), sheet_.part, std::move(text));
        } catch (const IoError& e) {
            throw IoError(package_.file(), sheet_.name, std::string(), e.reason());
        }
    }

    [[noreturn]] void fail(const std::string& cell, const std::string& reason) {
        throw IoError(package_.file(), sheet_.name, cell, reason);
    }

    void read_row(const pugi::xml_node& row, std::uint32_t r) {
        std::uint32_t next_column = 0;
        for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element || !is(c, "c"))
                continue;
            Address at{r, next_column};
            if (pugi::xml_attribute ref = c.attribute("r")) {
                A1Parse parsed = parse_address(ref.value(), at);
                if (parsed == A1Parse::OffSheet)
                    fail(ref.value(), "reference off the sheet");
                if (parsed != A1Parse::Malformed && at.row != r && row.attribute("r"))
                    fail(ref.value(), "cell is outside its row " + std::to_string(r + 1));
                if (parsed == A1Parse::Malformed)
                    fail(std::string(), "bad cell reference '" + std::string(ref.value()) + "'");
            }
            if (at.column >= grid_columns)
                fail(format_address(Address{at.row, grid_columns - 1}), "reference off the sheet");
            read_cell(c, at);
            next_column = at.column + 1;
        }
    }

    void read_cell(const pugi::xml_node& c, Address at) {
        CellRecord cell;
        cell.set_at(at);
        // The cell's name for a message only: most cells never need it.
        auto where = [&] { return format_address(at); };
        pugi::xml_node f = child(c, "f");
        std::string why;
        if (!decode_value(c, strings_, date1904_, cell.value, why, &interned_))
            fail(where(), why);
        long long vm = 0;
        if (cell.value.is_error() && !rich_errors_.empty() && read_int(c.attribute("vm").value(), vm) && vm >= 1 &&
            vm <= static_cast<long long>(rich_errors_.size()) && rich_errors_[std::size_t(vm - 1)])
            cell.value = engine::Value::error(*rich_errors_[std::size_t(vm - 1)]);

        // Empty marks keep their cached values as constants.
        if (f && std::string_view(f.attribute("t").value()) == "dataTable") {
            read_data_table(f, cell);
        } else if (f && formula_is_read(f)) {
            const std::string_view ftype = f.attribute("t").value();
            FormulaRecord formula;
            formula.text = decode_formula_escapes(f.child_value());
            FormulaKind kind = FormulaKind::Normal;
            if (ftype == "shared") {
                long long si = -1;
                if (!read_int(f.attribute("si").value(), si) || si < 0 || si > 0x7fffffff)
                    fail(where(), "shared formula without a valid index");
                if (trim_xml_space(formula.text).empty()) {
                    cell.set_kind(FormulaKind::SharedDependent, shared(where, std::int32_t(si)));
                } else {
                    kind = FormulaKind::SharedAnchor;
                    formula.shared_index = std::int32_t(si);
                }
            } else if (ftype == "array") {
                kind = FormulaKind::Array;
                Block block{at, at};
                if (f.attribute("ref") && parse_block(f.attribute("ref").value(), block) == A1Parse::Ok &&
                    block.first == at && at.row <= block.last.row && at.column <= block.last.column)
                    formula.last = block.last;
                else
                    formula.last = at;
                // The metadata of dynamic arrays is the one cell metadata files carry.
                formula.spills = bool(c.attribute("cm"));
            }
            if (cell.kind() != FormulaKind::SharedDependent)
                add_formula(where, cell, kind, std::move(formula));
        }
        if (cell.kind() == FormulaKind::None && cell.value.is_empty())
            return;
        sheet_.cells.push_back(std::move(cell));
    }

    // The index of shared formula `si` in the sheet's list, added if new.
    template <class Where>
    std::uint32_t shared(const Where& where, std::int32_t si) {
        // Files number their shared formulas from 0: the usual ones are looked up directly.
        constexpr std::int32_t direct = 1 << 16;
        std::uint32_t* known = nullptr;
        if (si < direct) {
            if (std::size_t(si) >= shared_direct_.size())
                shared_direct_.resize(std::size_t(si) + 1, unnumbered);
            known = &shared_direct_[std::size_t(si)];
        } else {
            known = &shared_.try_emplace(si, unnumbered).first->second;
        }
        if (*known == unnumbered) {
            if (sheet_.shared_indexes.size() > CellRecord::max_detail)
                fail(where(), "more than " + std::to_string(CellRecord::max_detail) + " shared formulas in one sheet");
            *known = std::uint32_t(sheet_.shared_indexes.size());
            sheet_.shared_indexes.push_back(si);
        }
        return *known;
    }

    template <class Where>
    void add_formula(const Where& where, CellRecord& cell, FormulaKind kind, FormulaRecord formula) {
        if (sheet_.formulas.size() > CellRecord::max_detail)
            fail(where(), "more than " + std::to_string(CellRecord::max_detail) + " formulas in one sheet");
        cell.set_kind(kind, std::uint32_t(sheet_.formulas.size()));
        sheet_.formulas.push_back(std::move(formula));
    }

    // <f t="dataTable" ref="C4:C8" dt2D="0" dtr="0" r1="A1" r2=".." del1="1" del2="1"/>: with
    // one input (r1) its values are in the row above the block (dtr) or the column to its
    // left; with two (dt2D), r1 is the row input and r2 the column input.
    void read_data_table(const pugi::xml_node& f, CellRecord& cell) {
        auto flag = [&](const char* name) {
            const std::string_view v = f.attribute(name).value();
            return v == "1" || v == "true";
        };
        // One the engine cannot take keeps its cached values, as constants.
        auto keep_values = [&](const std::string& why) {
            warnings_.push_back("sheet '" + sheet_.name + "', cell " + format_address(cell.at()) + ": " + why +
                                "; its cells keep the values saved in the file");
        };
        Block block{cell.at(), cell.at()};
        if (f.attribute("ref") && parse_block(f.attribute("ref").value(), block) != A1Parse::Ok)
            return keep_values("data table with a bad range '" + std::string(f.attribute("ref").value()) + "'");
        if (!(block.first == cell.at()))
            return keep_values("data table whose range does not start at its cell");
        if (block.first.row == 0 || block.first.column == 0)
            return keep_values("data table without a row above it or a column to its left");
        engine::DataTableDef table;
        table.cells = engine::CellRange{0, std::int32_t(block.first.row), std::int32_t(block.first.column),
                                        std::int32_t(block.last.row), std::int32_t(block.last.column)};
        table.input_deleted = flag("del1") || flag("del2");
        bool inputs_read = true;
        auto input = [&](const char* name, engine::CellAddress& out) {
            Address a;
            if (parse_address(f.attribute(name).value(), a) == A1Parse::Ok)
                out = engine::CellAddress{0, std::int32_t(a.row), std::int32_t(a.column)};
            else if (!table.input_deleted) // a deleted input's place no longer matters
                inputs_read = false;
            const engine::CellRange& t = table.cells;
            if (inputs_read && !table.input_deleted && t.contains(engine::CellAddress{0, out.row, out.col}))
                inputs_read = false;
        };
        if (flag("dt2D")) {
            table.has_row_input = table.has_column_input = true;
            input("r1", table.row_input);
            input("r2", table.column_input);
        } else if (flag("dtr")) {
            table.has_row_input = true;
            input("r1", table.row_input);
        } else {
            table.has_column_input = true;
            input("r1", table.column_input);
        }
        if (!inputs_read)
            return keep_values("data table without valid input cells");
        count_table_cells(cell.at(), block);
        FormulaRecord formula;
        formula.last = block.last;
        add_formula([&] { return format_address(cell.at()); }, cell, FormulaKind::DataTable, std::move(formula));
        sheet_.data_tables.push_back(table);
    }

    // A data table's every cell is computed, whether or not the file holds it: the cells it
    // covers beyond those the sheet holds count against the limits, before any is worked out.
    void count_table_cells(Address at, const Block& block) {
        const std::uint64_t area = (std::uint64_t(block.last.row) - block.first.row + 1) *
                                   (std::uint64_t(block.last.column) - block.first.column + 1);
        // The sheet's own cells may be the table's (as files write them); each counts once.
        const std::uint64_t held = std::min<std::uint64_t>(area, uncounted_cells_);
        uncounted_cells_ -= std::size_t(held);
        const std::uint64_t more = area - held;
        const LoadLimits& limits = package_.limits();
        // Past the cell limit whatever its size: no need for a count that overflows.
        const std::size_t elements = more > limits.max_cells ? limits.max_cells + 1 : std::size_t(more);
        const std::string why = cost_.over(limits, 0, elements, true);
        if (!why.empty())
            fail(format_address(at), why + " (the limit was crossed by the data table " + format_address(block.first) +
                                         ":" + format_address(block.last) + ", " + std::to_string(area) + " cells)");
        cost_.add(0, elements, true);
    }

    const Package& package_;
    const std::vector<std::string>& strings_;
    std::vector<engine::Value> interned_; // the shared strings' texts, made on first use
    SheetRecord& sheet_;
    bool date1904_;
    LoadCost& cost_;
    std::vector<std::string>& warnings_;
    const RichErrors& rich_errors_;
    std::uint32_t next_row_ = 0; // where a row without a number is
    // Shared formula (as the file numbers it) -> its index in the sheet's list; below 2^16 by
    // position.
    static constexpr std::uint32_t unnumbered = 0xFFFFFFFFu;
    std::vector<std::uint32_t> shared_direct_;
    std::unordered_map<std::int32_t, std::uint32_t> shared_;
    // The sheet's cells not yet counted as a data table's.
    std::size_t uncounted_cells_ = 0;
};

} // namespace

void read_sheet_cells(const Package& package, const std::vector<std::string>& strings, SheetRecord& sheet,
                      bool date1904, LoadCost& cost, std::vector<std::string>& warnings,
                      const RichErrors& rich_errors) {
    SheetReader(package, strings, sheet, date1904, cost, warnings, rich_errors).read();
}

} // namespace host::io
