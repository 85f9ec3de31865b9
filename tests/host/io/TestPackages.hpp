#ifndef OMBRIX_TESTS_TESTPACKAGES_HPP
#define OMBRIX_TESTS_TESTPACKAGES_HPP

// Small .xlsx packages built in memory for tests, and access to the checked-in corpus.

#include "engine/Workbook.hpp"
#include "io/IoError.hpp"
#include "io/Package.hpp"

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace testing_packages {

using Parts = std::vector<std::pair<std::string, std::string>>;

inline std::string corpus(const std::string& name) {
    return std::string(OMBRIX_SOURCE_DIR) + "/tests/host/corpus/" + name;
}

// The cell named "Sheet!A1" in book.
inline host::engine::CellAddress cell_at(const host::engine::Workbook& book, const std::string& key) {
    std::size_t bang = key.rfind('!');
    host::engine::CellAddress a;
    a.sheet = book.find_sheet(key.substr(0, bang));
    if (a.sheet < 0 || bang == std::string::npos || !host::engine::parse_a1(key.substr(bang + 1), a.row, a.col))
        throw std::runtime_error("no cell " + key);
    return a;
}

// The message of the IoError that f throws, or "" when it throws none.
template <class F>
std::string io_failure(F f) {
    try {
        f();
    } catch (const host::io::IoError& e) {
        return e.what();
    }
    return std::string();
}

inline std::string zip(const Parts& parts) {
    host::io::PackageWriter writer("test.xlsx");
    for (const auto& part : parts)
        writer.add(part.first, part.second);
    return writer.finish();
}

const char* const rel_ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

// A package with the given sheets (name, sheetData inner XML), shared strings optional.
inline Parts workbook_parts(const std::vector<std::pair<std::string, std::string>>& sheets,
                            const std::string& shared_strings = std::string(),
                            const std::string& extra_workbook_xml = std::string()) {
    Parts parts;
    parts.emplace_back(
        "_rels/.rels",
        std::string("<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
                    "<Relationship Id=\"rId1\" Type=\"") +
            rel_ns + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>");
    std::string wb = std::string("<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                                 "xmlns:r=\"") +
                     rel_ns + "\"><sheets>";
    std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    for (std::size_t i = 0; i < sheets.size(); ++i) {
        std::string n = std::to_string(i + 1);
        wb += "<sheet name=\"" + sheets[i].first + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        rels += "<Relationship Id=\"rId" + n + "\" Type=\"" + rel_ns + "/worksheet\" Target=\"worksheets/sheet" + n +
                ".xml\"/>";
        parts.emplace_back("xl/worksheets/sheet" + n + ".xml",
                           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
                           "<sheetData>" +
                               sheets[i].second + "</sheetData></worksheet>");
    }
    if (!shared_strings.empty()) {
        rels += std::string("<Relationship Id=\"rIdS\" Type=\"") + rel_ns +
                "/sharedStrings\" Target=\"sharedStrings.xml\"/>";
        parts.emplace_back("xl/sharedStrings.xml",
                           "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" +
                               shared_strings + "</sst>");
    }
    wb += "</sheets>" + extra_workbook_xml + "</workbook>";
    rels += "</Relationships>";
    parts.emplace_back("xl/workbook.xml", wb);
    parts.emplace_back("xl/_rels/workbook.xml.rels", rels);
    return parts;
}

} // namespace testing_packages

#endif
