// Loading a workbook: the records read from the package's parts become sheets, names and cells.
#include "io/Xlsx.hpp"

#include "engine/FreeMemory.hpp"
#include "engine/OutsideWorld.hpp"
#include "io/IoError.hpp"
#include "io/Xml.hpp"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace host::io {

namespace {

// A formula as a message quotes it: long ones (a cell may hold 32,767 characters) cut.
std::string quoted_formula(const std::string& text) {
    const std::size_t shown = 100;
    if (text.size() <= shown)
        return "=" + text;
    return "=" + text.substr(0, shown) + "... (" + std::to_string(text.size()) + " characters)";
}

std::string formula_failure(const engine::FormulaError& e) {
    return "formula does not parse: " + quoted_formula(e.formula()) + ": " + e.reason() + " at character " +
           std::to_string(e.position() + 1);
}

// A formula the engine cannot read (a reference form or operator it does not know) is
// treated like an unknown function: the cell shows #NAME?, the user is warned, the rest of
// the workbook loads, and saving leaves the cell's formula in the file untouched.
void keep_unread(Document& document, const engine::CellAddress& cell) {
    document.workbook.set_value(cell, engine::Value::error(engine::ErrorCode::Name));
    document.unread_formulas.emplace(cell.sheet, cell.row, cell.col);
}

// Sets a formula given without '='; false when it does not parse (the cell is kept unread
// and a warning names it). An array formula fills its block up to `last`, or spills.
bool set_formula(const std::string& file, Document& document, int sheet, Address at, const std::string& text,
                 bool array, Address last = {}, bool spills = false) {
    engine::CellAddress cell{sheet, std::int32_t(at.row), std::int32_t(at.column)};
    try {
        if (spills)
            document.workbook.set_spilling_formula(cell, text);
        else if (array && last.row >= at.row && last.column >= at.column)
            document.workbook.set_array_formula(cell, text, std::int32_t(last.row - at.row + 1),
                                                std::int32_t(last.column - at.column + 1));
        else
            document.workbook.set_formula(cell, text, array);
    } catch (const engine::FormulaError& e) {
        keep_unread(document, cell);
        document.warnings.push_back(file + ": warning: sheet '" + document.workbook.sheet_name(sheet) + "', cell " +
                                    format_address(at) + ": " + formula_failure(e) + "; the cell shows #NAME?");
        return false;
    } catch (const engine::EngineError& e) {
        throw IoError(file, document.workbook.sheet_name(sheet), format_address(at), e.what());
    }
    return true;
}

// The formulas that call a function needing the outside world or a data model (WEBSERVICE,
// CUBEVALUE, ...), or a function of an add-in that is not loaded here (_xll.NAME, a macro's),
// which no calculation here can answer: the cell keeps the value the file cached, as a
// constant its dependents read, an array formula the values of its whole block, and saving
// leaves its formula as it was.
struct KeptCached {
    struct Kind {
        std::vector<std::string> functions; // each once, in the order met
        std::vector<engine::CellAddress> cells;
    };
    Kind outside, addins;
    std::vector<engine::CellRange> blocks; // the array formulas kept, their cells still to fill

    // Whether the formula in `cell` is kept (its value set when it is no array formula).
    bool keep(Document& document, const engine::CellAddress& cell, const engine::Value& cached, bool array = false) {
        // Nothing cached, or #NAME? (a function nobody had): the formula stays and gives #NAME?.
        if (cached.is_empty() || cached == engine::Value::error(engine::ErrorCode::Name))
            return false;
        const std::vector<std::string> calls = engine::outside_world_calls(document.workbook, cell);
        const std::vector<std::string> added =
            calls.empty() ? engine::addin_calls(document.workbook, cell) : std::vector<std::string>();
        Kind& kind = calls.empty() ? addins : outside;
        if (calls.empty() && added.empty())
            return false;
        for (const std::string& name : calls.empty() ? added : calls)
            if (std::find(kind.functions.begin(), kind.functions.end(), name) == kind.functions.end())
                kind.functions.push_back(name);
        kind.cells.push_back(cell);
        if (!array)
            keep_value(document, cell, cached);
        return true;
    }

    static void keep_value(Document& document, const engine::CellAddress& cell, const engine::Value& cached) {
        document.workbook.set_value(cell, cached);
        document.unread_formulas.emplace(cell.sheet, cell.row, cell.col);
    }

    // The kept array formulas' blocks, from the cached values of the sheet's cells in blocks.
    void fill_blocks(Document& document, int sheet, const std::vector<std::pair<Address, engine::Value>>& cells) {
        for (const engine::CellRange& block : blocks)
            document.workbook.set_value({sheet, block.first_row, block.first_col}, engine::Value());
        for (const auto& [place, value] : cells) {
            const engine::CellAddress at{sheet, std::int32_t(place.row), std::int32_t(place.column)};
            for (const engine::CellRange& block : blocks)
                if (block.contains(at) && !value.is_empty())
                    keep_value(document, at, value);
        }
        // A1# of a kept formula's cell is still its block.
        for (const engine::CellRange& block : blocks)
            document.workbook.keep_spill(block);
        blocks.clear();
    }

    void warn(const std::string& file, Document& document) const {
        warn(file, document, outside, " the outside world or a data model, which no calculation here can reach; ");
        warn(file, document, addins, " an add-in that is not loaded here; ");
    }

    static void warn(const std::string& file, Document& document, const Kind& kind, const std::string& what) {
        if (kind.cells.empty())
            return;
        std::string names;
        for (const std::string& name : kind.functions)
            names += (names.empty() ? "" : ", ") + name;
        document.warnings.push_back(file + ": warning: " + names + (kind.functions.size() == 1 ? " needs" : " need") +
                                    what + std::to_string(kind.cells.size()) +
                                    (kind.cells.size() == 1 ? " cell keeps the value" : " cells keep the values") +
                                    " the file cached: " + cell_list(document.workbook, kind.cells));
    }
};

} // namespace

// Records built between two returns of their freed pages.
constexpr std::size_t records_trimmed = std::size_t(1) << 16;

void build_workbook(const std::string& file, WorkbookRecord& record, Document& document) {
    engine::Workbook& book = document.workbook;
    for (const std::string& warning : record.warnings)
        document.warnings.push_back(file + ": warning: " + warning);
    for (const SheetRecord& sheet : record.sheets) {
        try {
            book.add_sheet(sheet.name);
        } catch (const engine::EngineError& e) {
            throw IoError(file, sheet.name, std::string(), e.what());
        }
        document.sheet_parts.push_back(sheet.part);
    }
    document.workbook_part = record.workbook_part;
    book.set_active_sheet(record.active_sheet);
    book.set_date1904(record.date1904);
    book.set_calc_settings(record.calc);
    for (std::size_t s = 0; s < record.sheets.size(); ++s)
        for (const Block& b : record.sheets[s].merged)
            book.merge_cells(engine::CellRange{int(s), std::int32_t(b.first.row), std::int32_t(b.first.column),
                                               std::int32_t(b.last.row), std::int32_t(b.last.column)});
    // Before any formula reads them.
    for (const LinkRecord& link : record.links) {
        try {
            book.set_linked_book(link.number, link.book);
        } catch (const engine::EngineError& e) {
            document.warnings.push_back(file + ": warning: linked workbook " + link.book.file +
                                        " ignored: " + e.what());
        }
    }
    for (std::size_t s = 0; s < record.sheets.size(); ++s)
        for (engine::TableDef table : record.sheets[s].tables) {
            table.sheet = int(s);
            try {
                book.define_table(table);
            } catch (const engine::EngineError& e) {
                document.warnings.push_back(file + ": warning: table " + table.name + " ignored: " + e.what());
            }
        }

    // On a sheet where a filter with criteria is on, the spreadsheet takes every hidden row for
    // a filtered one (SUBTOTAL(9,...) leaves out one hidden by hand beyond the filter's range too).
    for (std::size_t s = 0; s < record.sheets.size(); ++s)
        for (std::uint32_t row : record.sheets[s].hidden_rows)
            book.set_row_hidden(int(s), std::int32_t(row),
                                record.sheets[s].filters.empty() ? engine::RowHidden::ByUser
                                                                 : engine::RowHidden::ByFilter);

    for (std::size_t s = 0; s < record.sheets.size(); ++s) {
        const SheetRecord& sheet = record.sheets[s];
        if (sheet.default_width > 0)
            book.set_default_width(int(s), sheet.default_width);
        for (const SheetRecord::ColumnWidth& w : sheet.widths)
            book.set_column_width(int(s), std::int32_t(w.first), std::int32_t(w.last), w.width);
    }

    for (const NameRecord& name : record.names) {
        // Built-in names (print areas, filter ranges) mean nothing to a calculation.
        if (name.name.rfind("_xlnm.", 0) == 0)
            continue;
        try {
            book.define_name(name.name, name.formula, name.local_sheet);
        } catch (const engine::FormulaError& e) {
            document.unread_names.push_back({name.name, name.local_sheet, name.formula});
            document.warnings.push_back(file + ": warning: name " + name.name + " ignored: " + formula_failure(e));
        } catch (const engine::EngineError& e) {
            document.warnings.push_back(file + ": warning: name " + name.name + " ignored: " + e.what());
        }
    }

    KeptCached kept;
    // What a formula showed when saved is what it keeps while in a circular reference that
    // does not iterate; an iterated one starts from nothing, as it always has.
    const bool seed_cycles = !record.calc.iterate;
    auto cached = [&](const engine::CellAddress& at, const engine::Value& value) {
        if (seed_cycles && !value.is_empty())
            book.set_cached_value(at, value);
    };
    for (std::size_t s = 0; s < record.sheets.size(); ++s) {
        SheetRecord& sheet = record.sheets[s];
        int index = int(s);
        // The anchors of shared formulas; dependents are moved copies of the anchor's text.
        std::unordered_map<std::int32_t, std::pair<Address, const FormulaRecord*>> anchors;
        std::size_t moved = 0;
        for (const CellRecord& cell : sheet.cells)
            if (cell.kind() == FormulaKind::SharedAnchor) {
                const FormulaRecord& f = sheet.formulas[cell.detail()];
                anchors.emplace(f.shared_index, std::make_pair(cell.at(), &f));
            } else {
                moved += cell.kind() == FormulaKind::SharedDependent;
            }
        book.reserve_cells(index, sheet.cells.size(), moved);
        // Shared formulas whose anchor did not parse: their cells follow it silently.
        std::unordered_set<std::int32_t> unread_anchors;
        // Each anchor's formula read once for all its cells.
        std::unordered_map<std::int32_t, engine::FormulaMover> movers;
        // The cell each shared formula was last given to: the next takes its compiled program.
        std::unordered_map<std::int32_t, engine::CellAddress> last_given;
        // The blocks array formulas fill: their cells' cached values are the formulas' to give.
        std::vector<std::pair<Address, Address>> arrays;
        for (const CellRecord& cell : sheet.cells)
            if (cell.kind() == FormulaKind::Array || cell.kind() == FormulaKind::DataTable) {
                const Address last = sheet.formulas[cell.detail()].last;
                if (!(last == cell.at()))
                    arrays.emplace_back(cell.at(), last);
            }
        auto in_array = [&](Address a) {
            return std::any_of(arrays.begin(), arrays.end(), [&](const auto& b) {
                return a.row >= b.first.row && a.row <= b.second.row && a.column >= b.first.column &&
                       a.column <= b.second.column;
            });
        };
        // The cached values of the cells of blocks, kept for after the loop (the records go
        // as they are built).
        std::vector<std::pair<Address, engine::Value>> block_cells;
        for (std::size_t built = 1; !sheet.cells.empty(); sheet.cells.pop_front(), ++built) {
            // The records' pages go back to the system as the workbook's tables grow, rather
            // than both being resident at the end.
            if (built % records_trimmed == 0)
                engine::give_back_free_memory();
            const CellRecord& cell = sheet.cells.front();
            engine::CellAddress at{index, std::int32_t(cell.at().row), std::int32_t(cell.at().column)};
            if (cell.kind() == FormulaKind::Array || cell.kind() == FormulaKind::DataTable ||
                (!arrays.empty() && in_array(cell.at())))
                block_cells.emplace_back(cell.at(), cell.value);
            switch (cell.kind()) {
            case FormulaKind::None:
                if (!arrays.empty() && in_array(cell.at()))
                    break;
                book.set_value(at, cell.value);
                break;
            case FormulaKind::Normal:
                if (set_formula(file, document, index, cell.at(), sheet.formulas[cell.detail()].text, false) &&
                    !kept.keep(document, at, cell.value))
                    cached(at, cell.value);
                break;
            case FormulaKind::SharedAnchor: {
                const FormulaRecord& f = sheet.formulas[cell.detail()];
                if (!set_formula(file, document, index, cell.at(), f.text, false))
                    unread_anchors.insert(f.shared_index);
                else if (!kept.keep(document, at, cell.value))
                    cached(at, cell.value);
                break;
            }
            case FormulaKind::Array: {
                const FormulaRecord& f = sheet.formulas[cell.detail()];
                if (set_formula(file, document, index, cell.at(), f.text, true, f.last, f.spills) &&
                    kept.keep(document, at, cell.value, true))
                    kept.blocks.push_back(engine::CellRange{index, at.row, at.col,
                                                            std::max(at.row, std::int32_t(f.last.row)),
                                                            std::max(at.col, std::int32_t(f.last.column))});
                break;
            }
            case FormulaKind::DataTable: break; // below, once the cells around it are in
            case FormulaKind::SharedDependent: {
                const std::int32_t shared_index = sheet.shared_indexes[cell.detail()];
                auto anchor = anchors.find(shared_index);
                if (anchor == anchors.end())
                    throw IoError(file, sheet.name, format_address(cell.at()),
                                  "shared formula " + std::to_string(shared_index) + " has no anchor cell");
                const Address from = anchor->second.first;
                if (unread_anchors.count(shared_index)) {
                    keep_unread(document, at);
                    break;
                }
                // The compiled program of the cell given the formula before, moved: no text.
                // Such a program calls only functions known here, none the outside world
                // answers, so there is no cached value to keep.
                auto last = last_given.find(shared_index);
                const engine::CellAddress before =
                    last != last_given.end()
                        ? last->second
                        : engine::CellAddress{index, std::int32_t(from.row), std::int32_t(from.column)};
                last_given[shared_index] = at;
                try {
                    if (book.set_moved_formula(at, before)) {
                        cached(at, cell.value);
                        break;
                    }
                } catch (const engine::EngineError& e) {
                    throw IoError(file, sheet.name, format_address(cell.at()), e.what());
                }
                std::string moved;
                try {
                    auto mover = movers.find(shared_index);
                    if (mover == movers.end())
                        mover = movers.emplace(shared_index, engine::FormulaMover(anchor->second.second->text)).first;
                    moved = mover->second.move(std::int32_t(cell.at().row) - std::int32_t(from.row),
                                               std::int32_t(cell.at().column) - std::int32_t(from.column));
                } catch (const engine::FormulaError& e) {
                    keep_unread(document, at);
                    document.warnings.push_back(file + ": warning: sheet '" + sheet.name + "', cell " +
                                                format_address(cell.at()) + ": " + formula_failure(e) +
                                                "; the cell shows #NAME?");
                    break;
                }
                if (set_formula(file, document, index, cell.at(), moved, false) && !kept.keep(document, at, cell.value))
                    cached(at, cell.value);
                break;
            }
            }
        }
        std::deque<CellRecord>().swap(sheet.cells);
        std::vector<FormulaRecord>().swap(sheet.formulas);
        kept.fill_blocks(document, index, block_cells);
        for (engine::DataTableDef table : sheet.data_tables) {
            table.cells.sheet = table.row_input.sheet = table.column_input.sheet = index;
            try {
                book.set_data_table(table);
            } catch (const engine::EngineError& e) {
                document.warnings.push_back(file + ": warning: sheet '" + sheet.name + "', cell " +
                                            engine::a1_name(table.cells.first_row, table.cells.first_col) + ": " +
                                            e.what() + "; its cells keep the values saved in the file");
                for (const auto& [place, value] : block_cells) {
                    const engine::CellAddress at{index, std::int32_t(place.row), std::int32_t(place.column)};
                    if (table.cells.contains(at))
                        book.set_value(at, value);
                }
            }
        }
    }
    kept.warn(file, document);
}

namespace {

// Once per workbook: formulas reading linked workbooks see the values saved with this one.
void warn_of_links(const std::string& file, const WorkbookRecord& record, Document& document) {
    if (record.links.empty())
        return;
    const std::vector<engine::CellAddress> readers = document.workbook.linked_readers();
    if (readers.empty())
        return;
    const std::size_t shown = 5;
    std::string cells;
    for (std::size_t i = 0; i < readers.size() && i < shown; ++i)
        cells += (i ? ", " : "") + cell_key(document.workbook, readers[i]);
    if (readers.size() > shown)
        cells += " and " + std::to_string(readers.size() - shown) + " more";
    std::string books;
    for (const LinkRecord& link : record.links)
        books += (books.empty() ? "" : ", ") + ("[" + std::to_string(link.number) + "] ") +
                 (link.book.file.empty() ? std::string("(unnamed)") : link.book.file);
    document.warnings.push_back(file + ": warning: formulas in " + cells + " read other workbooks (" + books +
                                "); their values are the copies saved in this file, which may be older than "
                                "the linked files");
}

} // namespace

Document load_xlsx_bytes(const std::string& file, std::string bytes, const LoadLimits& limits) {
    Document document;
    document.path = file;
    document.format = Format::Xlsx;
    auto package = std::make_shared<Package>(file, std::move(bytes), limits);
    WorkbookRecord record = read_workbook_parts(*package);
    build_workbook(file, record, document);
    warn_of_links(file, record, document);
    package->loaded();
    document.package = package;
    record = WorkbookRecord();
    // The parts' text and records are gone: their pages go back to the system rather than
    // stay resident beside the workbook for the rest of the run.
    engine::give_back_free_memory();
    return document;
}

Document load_xlsx(const std::string& path) {
    Document document = load_xlsx_bytes(path, read_file(path));
    document.workbook.set_file_name(absolute_path(path));
    return document;
}

} // namespace host::io
