// Every workbook of the corpus (tests/host/corpus and below: workbooks the spreadsheet program
// saved, and those of other writers), loaded, recalculated and saved, holds what it held:
// - every part but the worksheets, the workbook part and the calculation chain, byte for byte;
// - the workbook part the same XML but for the flag asking for recalculation on load;
// - each worksheet the same XML outside its cells and rows, the same rows and cells, each
//   cell with the same attributes and formula element; constants the same value as written,
//   and every cell the value the engine holds (the cached values of formulas).

#include "io/Document.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"
#include "io/XlsxParts.hpp"
#include "io/Xml.hpp"

#include "TestPackages.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

using host::engine::ErrorCode;
using host::engine::Value;
using host::io::Address;
using host::io::Document;
using host::io::Package;
using host::io::XmlDocument;

namespace {

std::vector<std::string> corpus_workbooks() {
    std::vector<std::string> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(testing_packages::corpus("")))
        if (entry.is_regular_file() && (entry.path().extension() == ".xlsx" || entry.path().extension() == ".xlsm"))
            out.push_back(entry.path().string());
    std::sort(out.begin(), out.end());
    return out;
}

std::string xml_of(const pugi::xml_node& node) {
    pugi::xml_document copy;
    copy.append_copy(node);
    return host::io::write_xml(copy);
}

std::string attributes_of(const pugi::xml_node& node, const std::set<std::string>& left_out = {}) {
    std::string out;
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
        if (!left_out.count(a.name()))
            out += std::string(" ") + a.name() + "=\"" + a.value() + "\"";
    return out;
}

// The cells of a worksheet by position, and its rows' attributes.
struct SheetCells {
    std::map<std::pair<std::uint32_t, std::uint32_t>, pugi::xml_node> cells;
    std::map<std::uint32_t, std::string> rows;
};

SheetCells cells_of(const pugi::xml_node& data) {
    SheetCells out;
    std::uint32_t next_row = 0;
    for (pugi::xml_node row = data.first_child(); row; row = row.next_sibling()) {
        if (row.type() != pugi::node_element)
            continue;
        std::uint32_t r = row.attribute("r") ? row.attribute("r").as_uint() - 1 : next_row;
        out.rows[r] = attributes_of(row) + xml_of(host::io::child(row, "extLst"));
        std::uint32_t next_column = 0;
        for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
            if (c.type() != pugi::node_element || !host::io::is(c, "c"))
                continue;
            Address at{r, next_column};
            if (c.attribute("r"))
                host::io::parse_address(c.attribute("r").value(), at);
            out.cells[{at.row, at.column}] = c;
            next_column = at.column + 1;
        }
        next_row = r + 1;
    }
    return out;
}

// A cell without its value: its attributes but the type, and its formula element.
std::string cell_shape(const pugi::xml_node& c) { return attributes_of(c, {"t"}) + xml_of(host::io::child(c, "f")); }

// A cell's value as written: type and text.
std::string cell_value(const pugi::xml_node& c) {
    return attributes_of(c, {"r", "s", "cm", "vm", "ph"}) + xml_of(host::io::child(c, "v")) +
           xml_of(host::io::child(c, "is"));
}

// The shared strings of a package as the file has them, every white space kept: read here,
// not by the reader under test. Phonetic runs are left out.
std::vector<std::string> strings_of(const Package& package, const std::string& workbook_part) {
    std::vector<std::string> out;
    for (const host::io::Relationship& r : package.relationships(workbook_part)) {
        if (r.external || r.type.size() < 14 || r.type.compare(r.type.size() - 14, 14, "/sharedStrings") != 0 ||
            !package.has(r.target))
            continue;
        // Line ends normalised, as every XML reader does; white space kept.
        pugi::xml_document doc;
        const std::string text = package.read(r.target);
        EXPECT_TRUE(doc.load_buffer(text.data(), text.size(), pugi::parse_default | pugi::parse_ws_pcdata));
        for (pugi::xml_node si = doc.document_element().first_child(); si; si = si.next_sibling()) {
            if (si.type() != pugi::node_element || !host::io::is(si, "si"))
                continue;
            std::string text;
            for (pugi::xml_node piece = si.first_child(); piece; piece = piece.next_sibling()) {
                if (piece.type() != pugi::node_element)
                    continue;
                if (host::io::is(piece, "t"))
                    text += piece.child_value();
                else if (host::io::is(piece, "r"))
                    text += host::io::child(piece, "t").child_value();
            }
            out.push_back(host::io::decode_escapes(text));
        }
    }
    return out;
}

void compare_sheet(const Document& document, int sheet, const std::string& before_text, const std::string& after_text,
                   const std::vector<std::string>& strings, bool date1904) {
    XmlDocument before = host::io::parse_xml("in", "sheet", before_text, true);
    XmlDocument after = host::io::parse_xml("out", "sheet", after_text, true);
    pugi::xml_node before_data = host::io::child(before.root(), "sheetData");
    pugi::xml_node after_data = host::io::child(after.root(), "sheetData");
    SheetCells was = cells_of(before_data), is = cells_of(after_data);
    EXPECT_EQ(is.rows, was.rows);
    ASSERT_EQ(is.cells.size(), was.cells.size());

    // Cells the engine computes: formulas and the ranges of array formulas and data tables.
    std::set<std::pair<std::uint32_t, std::uint32_t>> computed;
    for (const auto& cell : was.cells) {
        pugi::xml_node f = host::io::child(cell.second, "f");
        if (!f)
            continue;
        computed.insert(cell.first);
        host::io::Block block;
        std::string type = f.attribute("t").value();
        if ((type == "array" || type == "dataTable") &&
            host::io::parse_block(f.attribute("ref").value(), block) == host::io::A1Parse::Ok)
            for (std::uint32_t r = block.first.row; r <= block.last.row; ++r)
                for (std::uint32_t c = block.first.column; c <= block.last.column; ++c)
                    computed.insert({r, c});
    }
    for (const auto& cell : was.cells) {
        auto saved = is.cells.find(cell.first);
        const std::string where = host::io::format_address(Address{cell.first.first, cell.first.second});
        ASSERT_TRUE(saved != is.cells.end()) << where << " is gone";
        EXPECT_EQ(cell_shape(saved->second), cell_shape(cell.second)) << where;
        if (!computed.count(cell.first)) {
            EXPECT_EQ(cell_value(saved->second), cell_value(cell.second)) << where;
        }
        const bool unread = document.unread_formulas.count(std::make_tuple(sheet, std::int32_t(cell.first.first),
                                                                           std::int32_t(cell.first.second))) > 0;
        Value written;
        std::string why;
        ASSERT_TRUE(host::io::decode_value(saved->second, strings, date1904, written, why)) << where << ": " << why;
        if (!unread) {
            const Value held =
                document.workbook.value({sheet, std::int32_t(cell.first.first), std::int32_t(cell.first.second)});
            // #SPILL! and #CALC! are written #VALUE!, the cell's value metadata saying which.
            const bool rich_error = saved->second.attribute("vm") && written == Value::error(ErrorCode::Value) &&
                                    (held == Value::error(ErrorCode::Spill) || held == Value::error(ErrorCode::Calc));
            if (!rich_error) {
                EXPECT_EQ(written, held) << where << " holds \"" << written.to_string() << "\", the engine \""
                                         << held.to_string() << "\"";
            }
        }
    }

    // Everything outside the cells and rows.
    before.root().remove_child(before_data);
    after.root().remove_child(after_data);
    EXPECT_EQ(host::io::write_xml(after.doc()), host::io::write_xml(before.doc()));
}

// The workbook part without the flag that asks for recalculation on load.
std::string without_recalculation_flag(const std::string& text) {
    XmlDocument doc = host::io::parse_xml("workbook", "workbook", text, true);
    if (pugi::xml_node calc = host::io::child(doc.root(), "calcPr")) {
        calc.remove_attribute("fullCalcOnLoad");
        if (!calc.first_attribute() && !calc.first_child())
            doc.root().remove_child(calc);
    }
    return host::io::write_xml(doc.doc());
}

TEST(CorpusRoundTrip, SavingChangesOnlyCachedValuesCalculationChainAndRecalculationFlag) {
    const std::vector<std::string> workbooks = corpus_workbooks();
    ASSERT_FALSE(workbooks.empty());
    for (const std::string& path : workbooks) {
        SCOPED_TRACE(path);
        Document document = host::io::load_xlsx(path);
        document.workbook.recalculate_all();
        const std::string saved = host::io::xlsx_bytes(document, "saved.xlsx");
        Package before(path, host::io::read_file(path));
        Package after("saved.xlsx", saved);
        ASSERT_EQ(after.entries(), before.entries());

        std::map<std::string, int> sheets;
        for (std::size_t s = 0; s < document.sheet_parts.size(); ++s)
            if (!document.sheet_parts[s].empty())
                sheets[before.find(document.sheet_parts[s])] = int(s);
        const std::string workbook_part = before.find(document.workbook_part);
        const std::vector<std::string> strings = strings_of(after, document.workbook_part);
        for (const std::string& entry : before.entries()) {
            SCOPED_TRACE(entry);
            if (entry.size() >= 13 && entry.compare(entry.size() - 13, 13, "calcChain.xml") == 0)
                continue;
            auto sheet = sheets.find(entry);
            if (sheet != sheets.end())
                compare_sheet(document, sheet->second, before.read(entry), after.read(entry), strings,
                              document.workbook.date1904());
            else if (entry == workbook_part)
                EXPECT_EQ(without_recalculation_flag(after.read(entry)),
                          without_recalculation_flag(before.read(entry)));
            else
                EXPECT_TRUE(after.read(entry) == before.read(entry)) << "part changed";
        }
    }
}

} // namespace
