// Recalculates workbooks the spreadsheet program saved and compares every formula cell, and
// every cell of an array's block, with the value cached in the file (as the corpus test does),
// for bench/agreement.py. Cells whose value follows RAND, NOW, TODAY... are left out.
//
// Prints, for each workbook given:
//   #book<TAB>FILE<TAB>compared<TAB>agreeing<TAB>spilled compared<TAB>spilled agreeing<TAB>left out
//   CELL<TAB>kind<TAB>root<TAB>formula<TAB>cached<TAB>ours      for each disagreement
// where kind is "cell", "spilled" (a member of a dynamic array other than its formula's cell),
// "legacy array" or "data table", and root is 1 when none of the cells it reads, as far as
// was looked, disagrees (the formula to blame), 0 when one does, and the formula is the
// array's for the cells of a block.

#include "CachedValues.hpp"
#include "io/Document.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"
#include "io/XlsxParts.hpp"

#include <algorithm>
#include <exception>
#include <iostream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

using host::engine::CellAddress;
using host::engine::CellRange;
using host::engine::Value;

namespace {

std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    return text;
}

void compare(const std::string& file) {
    std::string bytes = host::io::read_file(file);
    host::io::Package package(file, bytes);
    const host::io::WorkbookRecord record = host::io::read_workbook_parts(package);
    const double saved = corpus::saved_at(package);
    const corpus::Cached cached = corpus::cached_values(record);
    host::io::Document d = host::io::load_xlsx_bytes(file, std::move(bytes));
    auto& book = d.workbook;
    book.set_file_name(host::io::absolute_path(file)); // as opening the file gives it
    if (saved >= 0 && !book.date1904())
        book.set_fixed_now(saved);
    book.recalculate_all();

    // The cells that follow a function whose value is new on every calculation.
    static const std::regex changing(R"(\b(RAND|RANDBETWEEN|RANDARRAY|NOW|TODAY)\s*\()", std::regex::icase);
    std::set<CellAddress> left_out;
    std::map<CellAddress, bool> is_changing;
    for (const CellAddress& at : book.volatile_dependents())
        for (const CellAddress& source : book.volatile_sources(at)) {
            auto known = is_changing.find(source);
            if (known == is_changing.end())
                known = is_changing.emplace(source, std::regex_search(book.formula_text(source), changing)).first;
            if (known->second) {
                left_out.insert(at);
                break;
            }
        }

    long compared = 0, agreeing = 0, spilled = 0, spilled_agreeing = 0, excluded = 0;
    struct Difference {
        CellAddress at;
        std::string kind;
        Value value;
    };
    std::vector<Difference> differences;
    for (const auto& [at, value] : cached.cells) {
        const auto anchor = book.array_anchor(at);
        const CellAddress owner = anchor ? *anchor : at;
        if (left_out.count(owner)) {
            ++excluded;
            continue;
        }
        std::string kind = "cell";
        auto block = cached.array_kind.find(at);
        if (block != cached.array_kind.end())
            kind = block->second == "data tables"     ? "data table"
                   : block->second == "legacy arrays" ? "legacy array"
                   : book.is_formula(at)              ? "cell"
                                                      : "spilled";
        ++compared;
        spilled += kind == "spilled";
        if (corpus::agrees(value, book.value(at))) {
            ++agreeing;
            spilled_agreeing += kind == "spilled";
            continue;
        }
        differences.push_back({at, kind, value});
    }
    std::cout << "#book\t" << file << "\t" << compared << "\t" << agreeing << "\t" << spilled << "\t"
              << spilled_agreeing << "\t" << excluded << "\n";

    // A difference is blamed on the formulas that read no other differing cell; looking at
    // every pair costs a walk each, so each looks at the differing cells nearest before it.
    std::vector<CellAddress> formulas;
    for (const auto& d : differences) {
        const CellAddress owner = book.array_anchor(d.at) ? *book.array_anchor(d.at) : d.at;
        if (formulas.empty() || formulas.back() != owner)
            formulas.push_back(owner);
    }
    std::sort(formulas.begin(), formulas.end());
    formulas.erase(std::unique(formulas.begin(), formulas.end()), formulas.end());
    std::set<CellAddress> downstream;
    const std::size_t look = 40;
    for (std::size_t i = 0; i < formulas.size(); ++i) {
        std::size_t first = i > look ? i - look : 0, last = std::min(formulas.size(), i + look / 4);
        for (std::size_t j = first; j < last; ++j) {
            if (j == i)
                continue;
            const CellAddress& other = formulas[j];
            const CellRange one{other.sheet, other.row, other.col, other.row, other.col};
            if (book.depends_on(formulas[i], one)) {
                downstream.insert(formulas[i]);
                break;
            }
        }
    }
    for (const auto& d : differences) {
        const CellAddress owner = book.array_anchor(d.at) ? *book.array_anchor(d.at) : d.at;
        std::cout << one_line(host::io::cell_key(book, d.at)) << "\t" << d.kind << "\t" << !downstream.count(owner)
                  << "\t=" << one_line(book.formula_text(owner)) << "\t" << one_line(corpus::shown(d.value)) << "\t"
                  << one_line(corpus::shown(book.value(d.at))) << "\n";
    }
}

} // namespace

int main(int argc, char** argv) {
    int status = 0;
    for (int i = 1; i < argc; ++i) {
        try {
            compare(argv[i]);
        } catch (const std::exception& e) {
            std::cout << "#failed\t" << argv[i] << "\t" << one_line(e.what()) << "\n";
            status = 1;
        }
    }
    return status;
}
