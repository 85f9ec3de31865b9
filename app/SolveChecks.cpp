#include "SolveChecks.hpp"

#include "BookFiles.hpp"

#include "engine/Program.hpp"
#include "io/Document.hpp"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

namespace app {

namespace {

using host::engine::CellAddress;
using host::engine::Workbook;
using host::engine::detail::Area;
using host::engine::detail::SymRef;

// The area a reference names, resolved against `sheet` when it names none.
std::optional<Area> area_of(const Workbook& book, const SymRef& r, int sheet) {
    if (r.external || r.invalid) return std::nullopt;
    int s = r.sheet.empty() ? sheet : find_sheet(book, r.sheet);
    if (s < 0) return std::nullopt;
    return Area{s, r.r1, r.c1, r.r2, r.c2};
}

// The one area a dialog's reference text names.
std::optional<Area> area_of(const Workbook& book, const std::string& text) {
    try {
        host::engine::detail::Program p = host::engine::detail::parse(text);
        if (p.refs.size() != 1 || !p.names.empty() || p.code.size() != 1) return std::nullopt;
        return area_of(book, p.refs[0], book.active_sheet());
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

bool overlaps(const Area& a, const Area& b) {
    return a.sheet == b.sheet && a.r1 <= b.r2 && b.r1 <= a.r2 && a.c1 <= b.c2 && b.c1 <= a.c2;
}

// Whether the formula at `start` reads any cell of `variables`, through other formulas and
// defined names. A formula whose references are worked out while it runs (INDIRECT,
// OFFSET) is taken to depend on them.
class Dependencies {
public:
    Dependencies(const Workbook& book, const Area& variables) : book_(book), variables_(variables) {}

    bool reach(const CellAddress& start) {
        std::vector<CellAddress> todo{start};
        seen_.insert(start);
        while (!todo.empty()) {
            CellAddress at = todo.back();
            todo.pop_back();
            std::vector<Area> read;
            if (!areas_read(book_.formula_text(at), at.sheet, read, 0)) return true;
            for (const Area& a : read) {
                if (overlaps(a, variables_)) return true;
                for (const CellAddress& f : formulas_in(a))
                    if (seen_.insert(f).second) todo.push_back(f);
            }
        }
        return false;
    }

private:
    // The areas a formula reads; false when they cannot be known before it runs.
    bool areas_read(const std::string& formula, int sheet, std::vector<Area>& out, int depth) {
        std::string upper = fold_case(formula);
        if (upper.find("indirect") != std::string::npos || upper.find("offset") != std::string::npos) return false;
        host::engine::detail::Program p;
        try {
            p = host::engine::detail::parse(formula);
        } catch (const std::exception&) {
            return true;   // an unparsed formula is an error value: it reads nothing
        }
        for (const SymRef& r : p.refs)
            if (auto a = area_of(book_, r, sheet)) out.push_back(*a);
        for (const std::string& name : p.names) {
            std::string text = book_.name_formula(name);
            if (!text.empty() && depth < 32 && !areas_read(text, sheet, out, depth + 1)) return false;
        }
        return true;
    }

    std::vector<CellAddress> formulas_in(const Area& a) {
        std::vector<CellAddress> out;
        if (a.size() <= 4096) {
            for (std::int32_t r = a.r1; r <= a.r2; ++r)
                for (std::int32_t c = a.c1; c <= a.c2; ++c)
                    if (book_.is_formula({a.sheet, r, c})) out.push_back({a.sheet, r, c});
            return out;
        }
        for (const CellAddress& f : sheet_formulas(a.sheet))
            if (a.contains(f.row, f.col)) out.push_back(f);
        return out;
    }

    const std::vector<CellAddress>& sheet_formulas(int sheet) {
        auto it = formulas_.find(sheet);
        if (it != formulas_.end()) return it->second;
        std::vector<CellAddress>& list = formulas_[sheet];
        book_.for_each_cell(sheet, [&](std::int32_t r, std::int32_t c, const host::engine::Value&) {
            if (book_.is_formula({sheet, r, c})) list.push_back({sheet, r, c});
        });
        return list;
    }

    const Workbook& book_;
    Area variables_;
    std::set<CellAddress> seen_;
    std::map<int, std::vector<CellAddress>> formulas_;
};

} // namespace

std::optional<std::string> solve_refusal(const Workbook& book, const std::string& variables,
                                         const std::string& objective) {
    std::optional<Area> vars = area_of(book, variables);
    std::optional<Area> goal = area_of(book, objective);
    if (!vars || !goal || vars->size() > 1 << 20) return std::nullopt;
    for (std::int32_t r = vars->r1; r <= vars->r2; ++r)
        for (std::int32_t c = vars->c1; c <= vars->c2; ++c) {
            CellAddress at{vars->sheet, r, c};
            if (book.is_formula(at))
                return "the variable cell " + host::io::cell_key(book, at) + " holds a formula (=" +
                       book.formula_text(at) + "), which solving would overwrite with a number; "
                       "name cells that hold plain values";
        }
    CellAddress target{goal->sheet, goal->r1, goal->c1};
    std::string where = "the objective cell " + host::io::cell_key(book, target);
    if (vars->contains(target.row, target.col) && vars->sheet == target.sheet)
        return where + " is one of the variable cells; it must be a formula that reads them";
    if (!book.is_formula(target))
        return where + (book.value(target).is_empty() ? " is blank" : " holds a constant") +
               ", so it does not depend on the variable cells";
    if (!Dependencies(book, *vars).reach(target))
        return where + " does not depend on any variable cell, so solving cannot change it";
    return std::nullopt;
}

std::vector<CellAddress> cells_named(const Workbook& book, const std::string& text) {
    std::vector<CellAddress> cells;
    std::optional<Area> a = area_of(book, text);
    if (a && std::int64_t(a->r2 - a->r1 + 1) * (a->c2 - a->c1 + 1) <= 65536)
        for (std::int32_t r = a->r1; r <= a->r2; ++r)
            for (std::int32_t c = a->c1; c <= a->c2; ++c) cells.push_back({a->sheet, r, c});
    return cells;
}

} // namespace app
