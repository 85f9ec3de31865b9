// Workbooks the spreadsheet program saved itself (public test files of IronCalc, xlcalculator
// and ClosedXML, see real/*/SOURCE): each is loaded, recalculated from scratch, and every
// formula cell compared with the value the spreadsheet cached in the file. Numbers agree to
// 1e-9 relative, text exactly, errors by kind. real/accepted.tsv lists the known differences
// with their reasons; a difference not listed there fails, and the agreement is printed.
// TODAY() and NOW() answer the moment the file says it was saved.

#include "CachedValues.hpp"
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
            saved = corpus::saved_at(package);
            corpus::Cached found = corpus::cached_values(record);
            cached = std::move(found.cells);
            array_kind = std::move(found.array_kind);
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
            if (corpus::agrees(value, book.value(cell))) {
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
            ADD_FAILURE() << name << "\t" << key << "\t=" << book.formula_text(cell) << "\tcached "
                          << corpus::shown(value) << ", ours " << corpus::shown(book.value(cell));
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
