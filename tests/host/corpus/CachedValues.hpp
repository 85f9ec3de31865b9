#ifndef OMBRIX_TESTS_CORPUS_CACHEDVALUES_HPP
#define OMBRIX_TESTS_CORPUS_CACHEDVALUES_HPP

// What a workbook saved by the spreadsheet program says its formulas gave, and how our value
// is compared with it: shared by the corpus test and bench/agreement.

#include "engine/Value.hpp"
#include "engine/Workbook.hpp"
#include "io/Package.hpp"
#include "io/XlsxParts.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace corpus {

using host::engine::CellAddress;
using host::engine::Value;

// Numbers agree to 1e-9 relative, text exactly, errors by kind.
inline bool agrees(const Value& cached, const Value& ours) {
    if (cached.is_number() && ours.is_number()) {
        double a = cached.as_number(), b = ours.as_number();
        return a == b || std::fabs(a - b) <= 1e-9 * std::max(std::fabs(a), std::fabs(b)) || std::fabs(a - b) < 1e-300;
    }
    // An empty text cached for a formula is how the file writes "".
    auto empty_like = [](const Value& v) { return v.is_empty() || (v.is_text() && v.as_text().empty()); };
    if (empty_like(cached) && empty_like(ours))
        return true;
    if (cached.type() != ours.type())
        return false;
    return cached.to_string() == ours.to_string();
}

inline std::string shown(const Value& v) {
    if (v.is_text())
        return "\"" + std::string(v.as_text()) + "\"";
    if (v.is_number()) {
        std::ostringstream s;
        s.precision(17);
        s << v.as_number();
        return s.str();
    }
    return v.is_empty() ? "(empty)" : v.to_string();
}

// When the file was last saved (docProps/core.xml, "2026-07-23T10:34:23Z") as a serial date
// and time, so that TODAY() and NOW() give what they gave then; -1 if the file does not say.
inline double saved_at(const host::io::Package& package) {
    if (!package.has("docProps/core.xml"))
        return -1;
    const std::string core = package.read("docProps/core.xml");
    const std::size_t tag = core.find("modified");
    const std::size_t at = tag == std::string::npos ? tag : core.find('>', tag);
    int y, mo, d, h, mi, se;
    if (at == std::string::npos ||
        std::sscanf(core.c_str() + at + 1, "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &se) != 6)
        return -1;
    // Days from 1899-12-30 (serial 0 of the 1900 system, past its 1900-02-29) to the date.
    y -= mo <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400, yoe = y - era * 400;
    const long doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1, doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long days_since_1970 = era * 146097 + doe - 719468;
    return double(days_since_1970 + 25569) + (h * 3600.0 + mi * 60.0 + se) / 86400.0;
}

// The cells to compare: every formula cell and every cell of an array formula's block, with
// the value cached for it, and for the cells of blocks their kind ("dynamic arrays",
// "legacy arrays", "data tables").
struct Cached {
    std::vector<std::pair<CellAddress, Value>> cells;
    std::map<CellAddress, std::string> array_kind;
};

inline Cached cached_values(const host::io::WorkbookRecord& record) {
    Cached out;
    for (std::size_t s = 0; s < record.sheets.size(); ++s) {
        for (const auto& cell : record.sheets[s].cells)
            if (cell.kind() == host::io::FormulaKind::Array || cell.kind() == host::io::FormulaKind::DataTable) {
                const host::io::FormulaRecord& f = record.sheets[s].formulas[cell.detail()];
                for (auto r = cell.at().row; r <= f.last.row; ++r)
                    for (auto c = cell.at().column; c <= f.last.column; ++c)
                        out.array_kind[CellAddress{int(s), std::int32_t(r), std::int32_t(c)}] =
                            cell.kind() == host::io::FormulaKind::DataTable ? "data tables"
                            : f.spills                                      ? "dynamic arrays"
                                                                            : "legacy arrays";
            }
        for (const auto& cell : record.sheets[s].cells) {
            CellAddress at{int(s), std::int32_t(cell.at().row), std::int32_t(cell.at().column)};
            if (cell.kind() != host::io::FormulaKind::None || out.array_kind.count(at))
                out.cells.emplace_back(at, cell.value);
        }
    }
    return out;
}

} // namespace corpus

#endif
