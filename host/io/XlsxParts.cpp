#include "io/XlsxParts.hpp"

#include "io/IoError.hpp"
#include "io/Xml.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace host::io {

bool type_is(const std::string& type, const char* suffix) {
    std::string tail = std::string("/") + suffix;
    return type.size() >= tail.size() && type.compare(type.size() - tail.size(), tail.size(), tail) == 0;
}

namespace {

const char* const conventional_workbook_part = "xl/workbook.xml";

// The text of an <si> or <is>: the plain <t> and every run's <t>, phonetic runs left out.
std::string rich_text(const pugi::xml_node& node) {
    std::string out;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element)
            continue;
        if (is(c, "t")) {
            out += c.child_value();
        } else if (is(c, "r")) {
            pugi::xml_node t = child(c, "t");
            if (t)
                out += t.child_value();
        }
    }
    return decode_escapes(std::move(out));
}

bool ends_name(char c) { return c == ' ' || c == '>' || c == '/' || c == '\t' || c == '\n' || c == '\r' || c == '<'; }

// Elements with the given local name in text, counted without parsing it ("<c ", "<c>",
// "<x:c/>" for "c"). A name that runs into the end is not counted. One pass, no calls but
// the search for '<': it runs over every byte of every sheet.
std::size_t count_tags(const char* p, const char* const end, std::string_view tag) {
    std::size_t count = 0;
    while ((p = static_cast<const char*>(std::memchr(p, '<', std::size_t(end - p)))) != nullptr) {
        const char* local = ++p;
        for (; p < end && !ends_name(*p); ++p)
            if (*p == ':')
                local = p + 1;
        if (p < end && *p != '<' && std::size_t(p - local) == tag.size() && std::equal(local, p, tag.begin()))
            ++count;
    }
    return count;
}

// Counts the tags of a part's text as it is decompressed: each time up to its last '<',
// whose name may not have arrived whole.
class TagCounter {
public:
    explicit TagCounter(std::string_view tag) : tag_(tag) {}
    std::size_t count(const std::string& text, bool whole) {
        const std::size_t upto = whole ? text.size() : text.rfind('<');
        if (upto != std::string::npos && upto > scanned_) {
            total_ += count_tags(text.data() + scanned_, text.data() + upto, tag_);
            scanned_ = upto;
        }
        return total_;
    }

private:
    std::string_view tag_;
    std::size_t scanned_ = 0;
    std::size_t total_ = 0;
};

// Bytes loading takes per byte of a part's text and per element of interest (a cell, a
// shared string), about: the text twice (read and the parser's copy), the element's nodes,
// its record and its place in the workbook.
constexpr double memory_per_text_byte = 2.0;
constexpr double memory_per_element = 400.0;

// What the parts read so far will cost, against the package's limits.
struct LoadCost {
    std::size_t cells = 0;
    double memory = 0;

    // Why the workbook is too large with a part of `bytes` holding `elements` added, "" when
    // it is not.
    std::string over(const LoadLimits& limits, std::size_t bytes, std::size_t elements, bool are_cells) const {
        if (are_cells && cells + elements > limits.max_cells)
            return too_large("more than " + std::to_string(limits.max_cells) + " cells");
        if (memory + cost(bytes, elements) > double(limits.max_memory))
            return too_large("loading it would take more than the " + std::to_string(limits.max_memory >> 20) +
                             " MiB of memory allowed");
        return std::string();
    }
    void add(std::size_t bytes, std::size_t elements, bool are_cells) {
        if (are_cells)
            cells += elements;
        memory += cost(bytes, elements);
    }
    static double cost(std::size_t bytes, std::size_t elements) {
        return memory_per_text_byte * double(bytes) + memory_per_element * double(elements);
    }
};

// Reads a part whose `tag` elements count towards the cost, refusing it as soon as what has
// arrived crosses a limit; `refuse` turns the reason into the exception to throw.
std::string read_counted(const Package& package, const std::string& part, const char* tag, bool are_cells,
                         LoadCost& cost, const std::function<void(const std::string&)>& refuse) {
    TagCounter counter(tag);
    auto check = [&](const std::string& text, bool whole) {
        const std::size_t elements = counter.count(text, whole);
        const std::string why = cost.over(package.limits(), text.size(), elements, are_cells);
        if (!why.empty())
            refuse(why);
        return elements;
    };
    std::string text = package.read(part, [&](const std::string& so_far) { check(so_far, false); });
    cost.add(text.size(), check(text, true), are_cells);
    return text;
}

std::vector<std::string> shared_strings(const Package& package, const std::string& part, LoadCost* cost) {
    std::string text = cost ? read_counted(package, part, "si", false, *cost,
                                           [&](const std::string& why) {
                                               throw IoError(package.file(), why +
                                                                                 " (the limit was crossed "
                                                                                 "reading part " +
                                                                                 part + ")");
                                           })
                            : package.read(part);
    std::vector<std::string> out;
    XmlDocument doc = parse_xml(package.file(), part, std::move(text));
    for (pugi::xml_node si = doc.root().first_child(); si; si = si.next_sibling())
        if (si.type() == pugi::node_element && is(si, "si"))
            out.push_back(rich_text(si));
    return out;
}

} // namespace

std::vector<std::string> read_shared_strings(const Package& package, const std::string& part) {
    return shared_strings(package, part, nullptr);
}

bool decode_value(const pugi::xml_node& c, const std::vector<std::string>& strings, bool date1904, engine::Value& out,
                  std::string& why) {
    out = engine::Value();
    pugi::xml_node v = child(c, "v");
    std::string_view type = c.attribute("t").value();
    if (type.empty())
        type = "n";
    if (type == "inlineStr") {
        pugi::xml_node inline_string = child(c, "is");
        if (inline_string)
            out = engine::Value::text(rich_text(inline_string));
        else if (v)
            out = engine::Value::text(decode_escapes(v.child_value()));
        return true;
    }
    if (!v)
        return true;
    std::string text = v.child_value();
    // Some producers write an empty <v/> for a formula they did not calculate.
    if (type != "str" && trim_xml_space(text).empty())
        return true;
    if (type == "n") {
        double x = 0;
        if (!read_double(text, x)) {
            why = "bad number '" + text + "'";
            return false;
        }
        out = engine::Value::number(x);
    } else if (type == "s") {
        long long index = -1;
        if (!read_int(text, index) || index < 0 || static_cast<unsigned long long>(index) >= strings.size()) {
            why = "shared string " + text + " does not exist";
            return false;
        }
        out = engine::Value::text(strings[std::size_t(index)]);
    } else if (type == "str") {
        out = engine::Value::text(decode_escapes(text));
    } else if (type == "b") {
        std::string_view t = trim_xml_space(text);
        if (t == "1" || t == "true")
            out = engine::Value::boolean(true);
        else if (t == "0" || t == "false")
            out = engine::Value::boolean(false);
        else {
            why = "bad boolean '" + text + "'";
            return false;
        }
    } else if (type == "e") {
        auto code = engine::parse_error(trim_xml_space(text));
        // Error kinds the engine does not know (#FIELD!, #BLOCKED!, ...) read as #N/A.
        out = engine::Value::error(code ? *code : engine::ErrorCode::NA);
    } else if (type == "d") {
        double serial = 0;
        if (!parse_iso_date(std::string(trim_xml_space(text)), date1904, serial)) {
            why = "bad date '" + text + "'";
            return false;
        }
        out = engine::Value::number(serial);
    } else {
        why = "unknown cell type '" + std::string(type) + "'";
        return false;
    }
    return true;
}

bool read_active_filter(const pugi::xml_node& auto_filter, Block& range) {
    bool criteria = false;
    for (pugi::xml_node column = auto_filter.first_child(); column && !criteria; column = column.next_sibling())
        if (column.type() == pugi::node_element && is(column, "filterColumn"))
            for (pugi::xml_node c = column.first_child(); c && !criteria; c = c.next_sibling())
                criteria = c.type() == pugi::node_element;
    return criteria && parse_block(auto_filter.attribute("ref").value(), range) == A1Parse::Ok;
}

bool formula_is_read(const pugi::xml_node& f) {
    const std::string_view type = f.attribute("t").value();
    if (type == "shared" || type == "array")
        return true;
    return (type.empty() || type == "normal") && !trim_xml_space(f.child_value()).empty();
}

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
        // The records of all cells, allocated once.
        sheet_.cells.reserve(cells);
        // What the sheet had before (its tables' filters are read first).
        const std::size_t hidden_before = sheet_.hidden_rows.size(), filters_before = sheet_.filters.size(),
                          tables_before = sheet_.data_tables.size(), warnings_before = warnings_.size(),
                          merged_before = sheet_.merged.size();
        ContentPieces pieces;
        if (split_content(text, "sheetData", piece_size, pieces) && read_pieces(text, pieces))
            return;
        // Text the pieces do not cover, or that they show to be malformed, is parsed whole, so
        // that messages count lines in the whole part.
        sheet_.cells.clear();
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

    void read_filter(const pugi::xml_node& root) {
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
        cell.at = at;
        // The cell's name for a message only: most cells never need it.
        auto where = [&] { return format_address(at); };
        pugi::xml_node f = child(c, "f");
        std::string why;
        if (!decode_value(c, strings_, date1904_, cell.value, why))
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
            cell.formula = decode_formula_escapes(f.child_value());
            if (ftype == "shared") {
                long long si = -1;
                if (!read_int(f.attribute("si").value(), si) || si < 0 || si > 0x7fffffff)
                    fail(where(), "shared formula without a valid index");
                cell.shared_index = std::int32_t(si);
                cell.kind =
                    trim_xml_space(cell.formula).empty() ? FormulaKind::SharedDependent : FormulaKind::SharedAnchor;
            } else if (ftype == "array") {
                cell.kind = FormulaKind::Array;
                Block block{at, at};
                if (f.attribute("ref") && parse_block(f.attribute("ref").value(), block) == A1Parse::Ok &&
                    block.first == at && at.row <= block.last.row && at.column <= block.last.column)
                    cell.last = block.last;
                else
                    cell.last = at;
                // The metadata of dynamic arrays is the one cell metadata files carry.
                cell.spills = bool(c.attribute("cm"));
            } else {
                cell.kind = FormulaKind::Normal;
            }
        }
        if (cell.kind == FormulaKind::None && cell.value.is_empty())
            return;
        sheet_.cells.push_back(std::move(cell));
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
            warnings_.push_back("sheet '" + sheet_.name + "', cell " + format_address(cell.at) + ": " + why +
                                "; its cells keep the values saved in the file");
        };
        Block block{cell.at, cell.at};
        if (f.attribute("ref") && parse_block(f.attribute("ref").value(), block) != A1Parse::Ok)
            return keep_values("data table with a bad range '" + std::string(f.attribute("ref").value()) + "'");
        if (!(block.first == cell.at))
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
        cell.kind = FormulaKind::DataTable;
        cell.last = block.last;
        sheet_.data_tables.push_back(table);
    }

    const Package& package_;
    const std::vector<std::string>& strings_;
    SheetRecord& sheet_;
    bool date1904_;
    LoadCost& cost_;
    std::vector<std::string>& warnings_;
    const RichErrors& rich_errors_;
    std::uint32_t next_row_ = 0; // where a row without a number is
};

} // namespace

std::string find_workbook_part(const Package& package) {
    for (const Relationship& r : package.relationships(""))
        if (!r.external && type_is(r.type, "officeDocument"))
            return r.target;
    if (!package.has("_rels/.rels")) {
        // Other readers then look where the workbook part usually is, and so do we.
        if (package.has(conventional_workbook_part))
            return conventional_workbook_part;
        throw IoError(package.file(), "not an .xlsx workbook (missing parts _rels/.rels and " +
                                          std::string(conventional_workbook_part) + ")");
    }
    throw IoError(package.file(), "not an .xlsx workbook (no workbook in the package)");
}

WorkbookRecord read_workbook_parts(const Package& package) {
    WorkbookRecord book;
    book.workbook_part = find_workbook_part(package);
    if (!package.has(book.workbook_part))
        throw IoError(package.file(), "missing part " + book.workbook_part);
    std::vector<Relationship> rels = package.relationships(book.workbook_part);
    std::unordered_map<std::string, const Relationship*> by_id;
    for (const Relationship& r : rels) {
        by_id[r.id] = &r;
        if (!r.external && type_is(r.type, "sharedStrings"))
            book.shared_strings_part = r.target;
    }

    XmlDocument doc = parse_xml(package.file(), book.workbook_part, package.read(book.workbook_part));
    pugi::xml_node root = doc.root();
    if (pugi::xml_node pr = child(root, "workbookPr")) {
        std::string v = pr.attribute("date1904").value();
        book.date1904 = v == "1" || v == "true";
    }
    if (pugi::xml_node calc = child(root, "calcPr")) {
        std::string on = calc.attribute("iterate").value();
        book.calc.iterate = on == "1" || on == "true";
        long long count = 0;
        if (read_int(calc.attribute("iterateCount").value(), count) && count >= 1 && count <= 32767)
            book.calc.max_iterations = int(count);
        double delta = 0;
        if (read_double(calc.attribute("iterateDelta").value(), delta) && delta >= 0 && delta < 1e300)
            book.calc.max_change = delta;
    }
    // Sheets in the file's order -> their index in book.sheets, -1 for one skipped.
    std::vector<int> sheet_index;
    std::vector<std::string> skipped;
    pugi::xml_node sheets = child(root, "sheets");
    for (pugi::xml_node s = sheets.first_child(); s; s = s.next_sibling()) {
        if (s.type() != pugi::node_element || !is(s, "sheet"))
            continue;
        SheetRecord sheet;
        sheet.name = s.attribute("name").value();
        if (sheet.name.empty())
            throw IoError(package.file(), "a sheet without a name");
        for (const SheetRecord& other : book.sheets)
            if (other.name == sheet.name)
                throw IoError(package.file(), "two sheets named '" + sheet.name + "'");
        std::string state = s.attribute("state").value();
        sheet.hidden = !state.empty() && state != "visible";
        pugi::xml_attribute id = attribute_local(s, "id");
        // Macro workbooks may list very hidden sheets with no part at all (r:id=""): the
        // spreadsheet opens the rest, and so do we.
        if (id && *id.value() == '\0') {
            sheet_index.push_back(-1);
            skipped.push_back(sheet.name);
            continue;
        }
        auto found = by_id.find(id.value());
        if (found == by_id.end() || found->second->external)
            throw IoError(package.file(), sheet.name, std::string(), "the workbook names no part for this sheet");
        if (type_is(found->second->type, "worksheet")) {
            sheet.part = found->second->target;
            if (!package.has(sheet.part))
                throw IoError(package.file(), sheet.name, std::string(), "missing part " + sheet.part);
        }
        sheet_index.push_back(int(book.sheets.size()));
        book.sheets.push_back(std::move(sheet));
    }
    if (book.sheets.empty())
        throw IoError(package.file(), "the workbook has no sheets");
    // A position in the file's list of sheets as an index into book.sheets, -1 if skipped.
    auto book_sheet = [&](const char* text) {
        long long n = -1;
        if (!read_int(text, n) || n < 0 || n >= static_cast<long long>(sheet_index.size()))
            return -1;
        return sheet_index[std::size_t(n)];
    };

    if (pugi::xml_node views = child(root, "bookViews")) {
        if (pugi::xml_node view = child(views, "workbookView")) {
            int tab = book_sheet(view.attribute("activeTab").value());
            if (tab >= 0)
                book.active_sheet = tab;
        }
    }
    std::vector<int> names_dropped(sheet_index.size(), 0);
    if (pugi::xml_node names = child(root, "definedNames")) {
        for (pugi::xml_node n = names.first_child(); n; n = n.next_sibling()) {
            if (n.type() != pugi::node_element || !is(n, "definedName"))
                continue;
            NameRecord name;
            name.name = n.attribute("name").value();
            name.formula = std::string(trim_xml_space(n.child_value()));
            std::string hidden = n.attribute("hidden").value();
            name.hidden = hidden == "1" || hidden == "true";
            if (pugi::xml_attribute local = n.attribute("localSheetId")) {
                name.local_sheet = book_sheet(local.value());
                long long position = -1;
                // A name of a skipped sheet goes with it.
                if (name.local_sheet < 0 && read_int(local.value(), position) && position >= 0 &&
                    position < static_cast<long long>(sheet_index.size())) {
                    ++names_dropped[std::size_t(position)];
                    continue;
                }
            }
            book.names.push_back(std::move(name));
        }
    }
    for (std::size_t position = 0, k = 0; position < sheet_index.size(); ++position) {
        if (sheet_index[position] >= 0)
            continue;
        std::string what = "sheet '" + skipped[k++] + "' skipped: the workbook names no part for it";
        if (names_dropped[position] > 0)
            what += " (with its " + std::to_string(names_dropped[position]) + " local name" +
                    (names_dropped[position] > 1 ? "s" : "") + ")";
        book.warnings.push_back(what);
    }

    LoadCost cost;
    for (SheetRecord& sheet : book.sheets)
        if (!sheet.part.empty())
            read_tables(package, sheet);

    std::vector<std::string> strings;
    if (!book.shared_strings_part.empty() && package.has(book.shared_strings_part))
        strings = shared_strings(package, book.shared_strings_part, &cost);
    const RichErrors rich_errors = read_rich_errors(package, rels);
    for (SheetRecord& sheet : book.sheets) {
        if (sheet.part.empty())
            continue;
        SheetReader(package, strings, sheet, book.date1904, cost, book.warnings, rich_errors).read();
    }
    // [1] is the first external reference the workbook lists, whatever kind of link it is.
    int number = 0;
    for (pugi::xml_node r = child(child(root, "externalReferences"), "externalReference"); r; r = r.next_sibling()) {
        if (r.type() != pugi::node_element || !is(r, "externalReference"))
            continue;
        ++number;
        auto found = by_id.find(attribute_local(r, "id").value());
        if (found == by_id.end() || found->second->external || !package.has(found->second->target))
            continue;
        LinkRecord link;
        link.number = number;
        if (read_link(package, found->second->target, strings, book.date1904, link.book))
            book.links.push_back(std::move(link));
    }
    return book;
}

} // namespace host::io
