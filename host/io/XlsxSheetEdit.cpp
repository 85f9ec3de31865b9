// Writing back one worksheet read from a file, a piece of its cells at a time where it can.
#include "io/XlsxSheetEdit.hpp"

#include "io/IoError.hpp"
#include "io/XlsxCellXml.hpp"
#include "io/XlsxParts.hpp"
#include "io/Xml.hpp"

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace host::io {

namespace {

std::uint64_t key_of(std::uint32_t row, std::uint32_t column) { return (std::uint64_t(row) << 32) | column; }

// A cell of the workbook with what it holds, in the order for_each_cell gives them.
struct HeldCell {
    std::uint32_t row, column;
    engine::Value value;
};

// What makes the writer take the whole worksheet as one document: positions only implied,
// rows or cells out of order, a shared formula's anchor dropped (its cells may be anywhere).
struct NeedsWholeSheet {};

const char* const sheet_data_mark = "ombrix:sheetData";

// One worksheet being written back, either as one document or a piece of sheetData at a
// time (the rest of the worksheet as a small document of its own): a large sheet's whole
// tree would take many times its text.
class SheetEditor {
public:
    SheetEditor(const engine::Workbook& book, int sheet, const std::vector<std::string>& strings, bool date1904,
                const std::set<std::tuple<int, std::int32_t, std::int32_t>>& unread, SavedMetadata& metadata)
        : book_(book), sheet_(sheet), strings_(strings), date1904_(date1904), unread_(unread), metadata_(metadata) {}

    // The new text of the part, or "" when nothing changed.
    std::string edit_whole(const std::string& file, const std::string& part, const std::string& text,
                           const std::vector<HeldCell>& held) {
        XmlDocument doc = parse_xml(file, part, text, true);
        pugi::xml_node root = doc.root();
        prefix_ = prefix_of(root);
        root_ = root;
        data_ = child(root, "sheetData");
        index();
        edit_cells(held, 0, held.size());
        clear_unheld();
        if (!changed_)
            return std::string();
        update_dimension(root);
        return write_xml(doc.doc());
    }

    // The same a piece at a time; throws NeedsWholeSheet when the sheet is not one this way
    // takes (then nothing of it has been used).
    std::string edit_in_pieces(const std::string& file, const std::string& part, const std::string& text,
                               const std::vector<HeldCell>& held) {
        in_pieces_ = true;
        ContentPieces pieces;
        if (!split_content(text, "sheetData", piece_size, pieces) || pieces.begin == pieces.end)
            throw NeedsWholeSheet();
        // The rest of the worksheet, a comment marking where its cells go.
        XmlDocument rest;
        try {
            rest = parse_xml(file, part,
                             text.substr(0, pieces.begin) + "<!--" + sheet_data_mark + "-->" + text.substr(pieces.end),
                             true);
        } catch (const IoError&) {
            throw NeedsWholeSheet(); // reported by the whole parse
        }
        prefix_ = prefix_of(rest.root());
        root_ = rest.root();
        // The new text, its cells written straight into it. Values the calculation gave
        // take more characters than the file's ("0"); pages reserved but not written are not
        // resident.
        std::string out;
        out.reserve(2 * text.size() + 4096);
        out.append(text, 0, pieces.begin);
        std::size_t next = 0; // the first held cell not yet given to a piece
        pugi::xml_document piece;
        const unsigned options = (pugi::parse_full | pugi::parse_ws_pcdata | pugi::parse_fragment) & ~pugi::parse_eol;
        for (std::size_t i = 0; i + 1 < pieces.cuts.size(); ++i) {
            const std::size_t from = pieces.cuts[i], size = pieces.cuts[i + 1] - from;
            if (!piece.load_buffer(text.data() + from, size, options, pugi::encoding_utf8))
                throw NeedsWholeSheet();
            data_ = piece;
            index();
            // A piece takes the cells up to its last row; the last piece, all the rest.
            std::size_t end = next;
            if (i + 2 == pieces.cuts.size())
                end = held.size();
            else if (!rows_.empty())
                while (end < held.size() && held[end].row <= rows_.rbegin()->first)
                    ++end;
            const bool changed_before = changed_;
            changed_ = false;
            edit_cells(held, next, end);
            clear_unheld();
            next = end;
            if (changed_)
                append_xml(piece, out);
            else
                out.append(text, from, size);
            changed_ = changed_ || changed_before;
        }
        if (!changed_)
            return std::string();
        if (!added_)
            return out.append(text, pieces.end, std::string::npos);
        // Cells were added: the dimension of the rest may change.
        update_dimension(rest.root());
        std::string whole = write_xml(rest.doc());
        const std::string mark = std::string("<!--") + sheet_data_mark + "-->";
        const std::size_t at = whole.find(mark);
        if (at == std::string::npos || whole.find(mark, at + 1) != std::string::npos)
            throw NeedsWholeSheet();
        return whole.replace(at, mark.size(), out, pieces.begin, std::string::npos);
    }

private:
    static constexpr std::size_t piece_size = std::size_t(1) << 20;

    struct FileCell {
        pugi::xml_node c;
        bool held = false; // the workbook still holds the cell
    };

    void edit_cells(const std::vector<HeldCell>& held, std::size_t from, std::size_t to) {
        for (std::size_t i = from; i < to; ++i)
            edit_cell(held[i].row, held[i].column, held[i].value);
    }

    void edit_cell(std::uint32_t row, std::uint32_t column, const engine::Value& value) {
        const Address a{row, column};
        const std::int32_t r = std::int32_t(row), col = std::int32_t(column);
        engine::CellAddress at{sheet_, r, col};
        bool formula = book_.is_formula(at);
        // A data table's cells hold values as formulas' do; only its first has the <f>.
        const bool in_table = book_.data_table(at).has_value();
        // A formula the engine could not read (#NAME?), or one whose cached value it kept,
        // stays in the file as it was, unless the cell was given something else since.
        const bool unread = !formula && unread_.count(std::make_tuple(sheet_, r, col));
        auto found = cells_.find(key_of(a.row, a.column));
        if (found != cells_.end())
            found->second.held = true;
        if (unread && value == engine::Value::error(engine::ErrorCode::Name))
            return;
        if (unread && found != cells_.end()) {
            engine::Value cached;
            std::string why;
            if (decode_value(found->second.c, strings_, date1904_, cached, why) && cached == value)
                return;
        }
        if (found == cells_.end()) {
            pugi::xml_node c = insert_cell(a);
            if (formula)
                write_formula(c, prefix_, book_, at, a, metadata_);
            write_value(c, prefix_, value, formula || in_table, metadata_);
            changed_ = true;
            return;
        }
        pugi::xml_node c = found->second.c;
        pugi::xml_node f = child(c, "f");
        // A data table's <f> stays as it was read, and so does an empty mark (<f ca="1"/>),
        // which is not the engine's; the cell's value goes beside it as a formula's would.
        const bool kept = in_table || (f && !formula_is_read(f) && !is_table_formula(f));
        if (formula) {
            if (!f) {
                write_formula(c, prefix_, book_, at, a, metadata_);
                changed_ = true;
            } else {
                // Shared and array formulas keep their text as the file has it; only a normal
                // formula's text is compared (writing it out is what costs).
                const std::string_view kind = f.attribute("t").value();
                if (kind.empty() || kind == "normal") {
                    const std::string held = book_.formula_text(at);
                    const std::string text = formula_xml_text(held);
                    if (text != f.child_value() && !formula_as_read(f.child_value(), held)) {
                        f.text().set(text.c_str());
                        changed_ = true;
                    }
                } else if (kind == "array" && book_.is_array_formula(at)) {
                    // A spill covers what it covers now, and says it spills.
                    const engine::ArrayExtent extent = book_.array_extent(at);
                    Block block;
                    if (parse_block(f.attribute("ref").value(), block) != A1Parse::Ok || !(block.first == a) ||
                        block.last.row - a.row + 1 != std::uint32_t(extent.rows) ||
                        block.last.column - a.column + 1 != std::uint32_t(extent.cols)) {
                        const std::string ref = array_ref(book_, at, a);
                        set_attribute(f, "ref", ref.c_str());
                        changed_ = true;
                    }
                    if (book_.is_spilling_formula(at) && !c.attribute("cm")) {
                        set_attribute(c, "cm", std::to_string(metadata_.dynamic_array_cm()).c_str());
                        changed_ = true;
                    }
                }
            }
        } else if (f && !kept) {
            drop_formula(c, f);
        }
        engine::Value current;
        std::string why;
        const bool read = decode_value(c, strings_, date1904_, current, why);
        // #SPILL! and #CALC! are saved as #VALUE!, the value metadata (vm) saying which.
        if (read && current.is_error())
            if (std::optional<engine::ErrorCode> rich = metadata_.error_of(c.attribute("vm").as_uint()))
                current = engine::Value::error(*rich);
        if (!read || current != value) {
            write_value(c, prefix_, value, formula || kept, metadata_);
            changed_ = true;
        }
    }

    // Cells the workbook no longer holds.
    void clear_unheld() {
        for (auto& entry : cells_) {
            if (entry.second.held)
                continue;
            pugi::xml_node c = entry.second.c;
            pugi::xml_node f = child(c, "f");
            if (f && !formula_is_read(f) && !is_table_formula(f)) {
                // Kept as it was; only a value the run cleared goes.
                engine::Value current;
                std::string why;
                if (decode_value(c, strings_, date1904_, current, why) && current.is_empty())
                    continue;
                write_value(c, prefix_, engine::Value(), true, metadata_);
                changed_ = true;
                continue;
            }
            bool holds = child(c, "v") || child(c, "is") || f;
            if (!holds)
                continue;
            if (f)
                drop_formula(c, f);
            write_value(c, prefix_, engine::Value(), false, metadata_);
            changed_ = true;
        }
    }

    // Positions of rows and cells, as the reader computes them (implicit when r is absent).
    // A piece must have them all written out, in order.
    void index() {
        rows_.clear();
        cells_.clear();
        if (!data_)
            return;
        std::uint32_t next_row = 0;
        for (pugi::xml_node row = data_.first_child(); row; row = row.next_sibling()) {
            if (row.type() != pugi::node_element || !is(row, "row"))
                continue;
            std::uint32_t r = next_row;
            if (pugi::xml_attribute ra = row.attribute("r"))
                r = std::uint32_t(ra.as_uint() - 1);
            else
                implicit_ = true;
            if (in_pieces_) {
                if (implicit_ || (last_row_ >= 0 && std::int64_t(r) <= last_row_) || !row.attribute("r").as_uint())
                    throw NeedsWholeSheet();
                last_row_ = r;
            }
            rows_[r] = row;
            std::uint32_t next_column = 0;
            for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
                if (c.type() != pugi::node_element || !is(c, "c"))
                    continue;
                Address a{r, next_column};
                if (pugi::xml_attribute ref = c.attribute("r")) {
                    if (parse_address(ref.value(), a) != A1Parse::Ok && in_pieces_)
                        throw NeedsWholeSheet();
                } else {
                    implicit_ = true;
                }
                if (in_pieces_ && (implicit_ || a.row != r || a.column < next_column))
                    throw NeedsWholeSheet();
                cells_[key_of(a.row, a.column)] = FileCell{c};
                next_column = a.column + 1;
            }
            next_row = r + 1;
        }
    }

    // Before anything is inserted, every row and cell gets its position written out, so
    // that an insertion cannot shift positions that were only implied.
    void make_explicit() {
        if (!implicit_)
            return;
        implicit_ = false;
        for (auto& entry : rows_)
            if (!entry.second.attribute("r"))
                entry.second.prepend_attribute("r").set_value(entry.first + 1);
        for (auto& entry : cells_) {
            if (entry.second.c.attribute("r"))
                continue;
            Address a{std::uint32_t(entry.first >> 32), std::uint32_t(entry.first & 0xffffffffu)};
            entry.second.c.prepend_attribute("r").set_value(format_address(a).c_str());
        }
    }

    pugi::xml_node ensure_sheet_data() {
        if (data_)
            return data_;
        pugi::xml_node root = root_;
        // sheetData follows these in the worksheet's element order.
        static const char* const before[] = {"sheetPr", "dimension", "sheetViews", "sheetFormatPr", "cols"};
        pugi::xml_node after;
        for (pugi::xml_node c = root.first_child(); c; c = c.next_sibling())
            for (const char* name : before)
                if (c.type() == pugi::node_element && is(c, name))
                    after = c;
        data_ = after ? root.insert_child_after((prefix_ + "sheetData").c_str(), after)
                      : root.prepend_child((prefix_ + "sheetData").c_str());
        return data_;
    }

    pugi::xml_node insert_cell(Address a) {
        make_explicit();
        pugi::xml_node data = ensure_sheet_data();
        pugi::xml_node row;
        auto found = rows_.find(a.row);
        if (found != rows_.end()) {
            row = found->second;
        } else {
            auto next = rows_.upper_bound(a.row);
            row = next == rows_.end() ? data.append_child((prefix_ + "row").c_str())
                                      : data.insert_child_before((prefix_ + "row").c_str(), next->second);
            row.append_attribute("r").set_value(a.row + 1);
            rows_[a.row] = row;
        }
        pugi::xml_node before;
        for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element || !is(c, "c"))
                continue;
            Address other{a.row, 0};
            parse_address(c.attribute("r").value(), other);
            if (other.column > a.column) {
                before = c;
                break;
            }
        }
        pugi::xml_node c;
        if (before) {
            c = row.insert_child_before((prefix_ + "c").c_str(), before);
        } else {
            // After the last cell, but before any extension list of the row.
            pugi::xml_node ext = child(row, "extLst");
            c = ext ? row.insert_child_before((prefix_ + "c").c_str(), ext) : row.append_child((prefix_ + "c").c_str());
        }
        c.append_attribute("r").set_value(format_address(a).c_str());
        cells_[key_of(a.row, a.column)] = FileCell{c, true};
        extend(a);
        return c;
    }

    // Removes a formula from a cell that now holds a constant. Cells that shared this one's
    // formula get their own text, since their anchor is gone.
    void drop_formula(pugi::xml_node c, pugi::xml_node f) {
        std::string kind = f.attribute("t").value();
        bool anchor =
            kind == "shared" && std::string(f.child_value()).find_first_not_of(" \t\r\n") != std::string::npos;
        std::string si = f.attribute("si").value();
        // Its cells may be in other pieces.
        if (anchor && in_pieces_)
            throw NeedsWholeSheet();
        c.remove_child(f);
        changed_ = true;
        if (!anchor)
            return;
        for (auto& entry : cells_) {
            pugi::xml_node other = entry.second.c;
            pugi::xml_node of = child(other, "f");
            if (!of || std::string(of.attribute("t").value()) != "shared" || si != of.attribute("si").value())
                continue;
            engine::CellAddress at{sheet_, std::int32_t(entry.first >> 32), std::int32_t(entry.first & 0xffffffffu)};
            of.remove_attribute("t");
            of.remove_attribute("si");
            of.remove_attribute("ref");
            of.text().set(formula_xml_text(book_.formula_text(at)).c_str());
        }
    }

    void extend(Address a) {
        if (!added_) {
            added_ = true;
            added_block_ = Block{a, a};
            return;
        }
        added_block_.first.row = std::min(added_block_.first.row, a.row);
        added_block_.first.column = std::min(added_block_.first.column, a.column);
        added_block_.last.row = std::max(added_block_.last.row, a.row);
        added_block_.last.column = std::max(added_block_.last.column, a.column);
    }

    // The dimension must still cover every cell after insertions.
    void update_dimension(pugi::xml_node root) {
        if (!added_)
            return;
        pugi::xml_node dimension = child(root, "dimension");
        if (!dimension)
            return;
        Block block;
        if (parse_block(dimension.attribute("ref").value(), block) != A1Parse::Ok)
            block = added_block_;
        block.first.row = std::min(block.first.row, added_block_.first.row);
        block.first.column = std::min(block.first.column, added_block_.first.column);
        block.last.row = std::max(block.last.row, added_block_.last.row);
        block.last.column = std::max(block.last.column, added_block_.last.column);
        std::string ref = format_address(block.first);
        if (!(block.first == block.last))
            ref += ":" + format_address(block.last);
        set_attribute(dimension, "ref", ref.c_str());
    }

    const engine::Workbook& book_;
    int sheet_;
    const std::vector<std::string>& strings_;
    bool date1904_;
    const std::set<std::tuple<int, std::int32_t, std::int32_t>>& unread_;
    SavedMetadata& metadata_;
    std::string prefix_;
    pugi::xml_node root_; // the worksheet element
    pugi::xml_node data_; // sheetData, or the piece of it being edited
    std::map<std::uint32_t, pugi::xml_node> rows_;
    std::unordered_map<std::uint64_t, FileCell> cells_;
    bool in_pieces_ = false;
    std::int64_t last_row_ = -1; // of the pieces before
    bool implicit_ = false;
    bool changed_ = false;
    bool added_ = false;
    Block added_block_;
};

} // namespace

std::string edit_sheet(const std::string& file, const Package& package, const engine::Workbook& book, int sheet,
                       const std::string& part, const std::vector<std::string>& strings, bool date1904,
                       const std::set<std::tuple<int, std::int32_t, std::int32_t>>& unread, SavedMetadata& metadata) {
    std::vector<HeldCell> held;
    book.for_each_cell(sheet, [&](std::int32_t r, std::int32_t c, const engine::Value& value) {
        held.push_back(HeldCell{std::uint32_t(r), std::uint32_t(c), value});
    });
    const std::string text = package.read(part);
    try {
        return SheetEditor(book, sheet, strings, date1904, unread, metadata).edit_in_pieces(file, part, text, held);
    } catch (const NeedsWholeSheet&) {
    }
    return SheetEditor(book, sheet, strings, date1904, unread, metadata).edit_whole(file, part, text, held);
}

} // namespace host::io
