// Workbooks the spreadsheet program saved itself (public test files of IronCalc, xlcalculator
// and ClosedXML, see real/*/SOURCE): each is loaded, recalculated from scratch, and every
// formula cell compared with the value the spreadsheet cached in the file. Numbers agree to
// 1e-9 relative, text exactly, errors by kind. real/accepted.tsv lists the known differences
// with their reasons; a difference not listed there fails, and the agreement is printed.
// TODAY() and NOW() answer the moment the file says it was saved.

#include "io/Document.hpp"
#include "io/IoError.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"
#include "io/XlsxParts.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using host::engine::CellAddress;
using host::engine::Value;
using host::engine::ValueType;

namespace {

const std::filesystem::path root = OMBRIX_SOURCE_DIR "/tests/host/corpus/real";

bool agrees(const Value& cached, const Value& ours) {
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

std::string shown(const Value& v) {
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
double saved_at(const host::io::Package& package) {
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

// "source/file.xlsx" -> cells ("Sheet!A1", or "*" for every cell of the workbook).
std::map<std::string, std::set<std::string>> accepted_differences() {
    std::map<std::string, std::set<std::string>> out;
    std::ifstream in(root / "accepted.tsv");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::istringstream fields(line);
        std::string file, cell, reason;
        std::getline(fields, file, '\t');
        std::getline(fields, cell, '\t');
        std::getline(fields, reason);
        EXPECT_FALSE(reason.empty()) << "accepted.tsv: " << file << " " << cell << " has no reason";
        out[file].insert(cell);
    }
    return out;
}

std::vector<std::string> workbooks() {
    std::vector<std::string> out;
    for (const auto& dir : std::filesystem::directory_iterator(root))
        if (dir.is_directory())
            for (const auto& f : std::filesystem::directory_iterator(dir.path()))
                if (f.path().extension() == ".xlsx")
                    out.push_back(dir.path().filename().string() + "/" + f.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

TEST(RealWorkbooks, RecalculateToTheirCachedValues) {
    const auto accepted = accepted_differences();
    std::map<std::string, std::pair<long, long>> by_source; // agreeing, compared
    std::map<std::string, std::pair<long, long>> by_kind;   // the same for the cells of arrays
    long accepted_count = 0;
    std::vector<std::string> stale;
    for (const std::string& name : workbooks()) {
        const std::string source = name.substr(0, name.find('/'));
        auto listed = accepted.find(name);
        auto is_listed = [&](const std::string& cell) {
            return listed != accepted.end() && (listed->second.count(cell) || listed->second.count("*"));
        };
        host::io::Document d;
        double saved = -1;
        std::vector<std::pair<CellAddress, Value>> cached;
        std::map<CellAddress, std::string> array_kind; // every cell of an array formula's block
        try {
            std::string bytes = host::io::read_file((root / name).string());
            host::io::Package package(name, bytes);
            const host::io::WorkbookRecord record = host::io::read_workbook_parts(package);
            saved = saved_at(package);
            for (std::size_t s = 0; s < record.sheets.size(); ++s) {
                for (const auto& cell : record.sheets[s].cells)
                    if (cell.kind() == host::io::FormulaKind::Array ||
                        cell.kind() == host::io::FormulaKind::DataTable) {
                        const host::io::FormulaRecord& f = record.sheets[s].formulas[cell.detail()];
                        for (auto r = cell.at().row; r <= f.last.row; ++r)
                            for (auto c = cell.at().column; c <= f.last.column; ++c)
                                array_kind[CellAddress{int(s), std::int32_t(r), std::int32_t(c)}] =
                                    cell.kind() == host::io::FormulaKind::DataTable ? "data tables"
                                    : f.spills                                      ? "dynamic arrays"
                                                                                    : "legacy arrays";
                    }
                // Every cell of an array's block is compared, not only the formula's own.
                for (const auto& cell : record.sheets[s].cells) {
                    CellAddress at{int(s), std::int32_t(cell.at().row), std::int32_t(cell.at().column)};
                    if (cell.kind() != host::io::FormulaKind::None || array_kind.count(at))
                        cached.emplace_back(at, cell.value);
                }
            }
            d = host::io::load_xlsx_bytes(name, std::move(bytes));
        } catch (const std::exception& e) {
            if (!is_listed("*"))
                ADD_FAILURE() << name << ": does not load: " << e.what();
            continue;
        }
        auto& book = d.workbook;
        if (saved >= 0 && !book.date1904())
            book.set_fixed_now(saved);
        book.recalculate_all();
        std::set<std::string> differing;
        for (const auto& [cell, value] : cached) {
            const std::string key = host::io::cell_key(book, cell);
            auto& counts = by_source[source];
            auto kind = array_kind.find(cell);
            ++counts.second;
            if (kind != array_kind.end())
                ++by_kind[kind->second].second;
            if (agrees(value, book.value(cell))) {
                ++counts.first;
                if (kind != array_kind.end())
                    ++by_kind[kind->second].first;
                continue;
            }
            differing.insert(key);
            if (is_listed(key)) {
                ++accepted_count;
                continue;
            }
            ADD_FAILURE() << name << "\t" << key << "\t=" << book.formula_text(cell) << "\tcached " << shown(value)
                          << ", ours " << shown(book.value(cell));
        }
        if (listed != accepted.end())
            for (const std::string& cell : listed->second)
                if (cell != "*" && !differing.count(cell))
                    stale.push_back(name + " " + cell);
    }
    long agreeing = 0, compared = 0;
    for (const auto& [source, counts] : by_source) {
        std::cout << "[ corpus   ] " << source << ": " << counts.first << " / " << counts.second
                  << " formula cells agree with their cached values\n";
        agreeing += counts.first;
        compared += counts.second;
    }
    for (const auto& [kind, counts] : by_kind)
        std::cout << "[ corpus   ] " << kind << ": " << counts.first << " / " << counts.second
                  << " cells agree with their cached values\n";
    std::cout << "[ corpus   ] all: " << agreeing << " / " << compared << " ("
              << (compared ? 100.0 * double(agreeing) / double(compared) : 0.0) << "%), " << accepted_count
              << " accepted differences\n";
    for (const std::string& s : stale)
        std::cout << "[ corpus   ] now agrees, remove from accepted.tsv: " << s << "\n";
    EXPECT_GT(compared, 0);
}

} // namespace

namespace {

// The cells `ombrix calc` marks volatile, found in one pass, are those whose own walk finds a
// volatile source: cell by cell over every corpus workbook.
TEST(RealWorkbooks, VolatileDependentsAreTheCellsWithVolatileSources) {
    long marked = 0;
    for (const std::string& name : workbooks()) {
        host::io::Document d;
        try {
            d = host::io::load((root / name).string());
        } catch (const std::exception&) {
            continue; // the test above reports what does not load
        }
        const auto& book = d.workbook;
        const std::vector<CellAddress> all = book.volatile_dependents();
        EXPECT_TRUE(std::is_sorted(all.begin(), all.end())) << name;
        for (int s = 0; s < book.sheet_count(); ++s)
            book.for_each_cell(s, [&](std::int32_t r, std::int32_t c, const Value&) {
                const CellAddress at{s, r, c};
                const bool walked = !book.volatile_sources(at).empty();
                marked += walked;
                EXPECT_EQ(std::binary_search(all.begin(), all.end(), at), walked)
                    << name << " " << host::io::cell_key(book, at);
            });
    }
    EXPECT_GT(marked, 7000); // the lookup workbook alone has 7,062
}

} // namespace
