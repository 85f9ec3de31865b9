#include "solver/ModelObjective.hpp"

#include "excel/ExcelException.hpp"
#include "solver/Batch.hpp"

#include <charconv>
#include <cmath>

namespace solver {

namespace {

std::string shortest(double v) {
    char text[32];
    const std::to_chars_result r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

std::size_t cells_of(const excel::RangeRef& r) {
    return static_cast<std::size_t>(static_cast<long long>(r.end.x) - r.first.x) *
           static_cast<std::size_t>(static_cast<long long>(r.end.y) - r.first.y);
}

} // namespace

ModelObjective::ModelObjective(const std::vector<excel::RangeRef>& variables, const excel::CellRef& target,
                               const std::vector<Constraint>& constraints_, double tolerance_)
    : refs(variables), cell(target), target_text(target.to_string()), constraints(constraints_), tolerance(tolerance_) {
    for (const excel::RangeRef& r : refs) {
        ranges.emplace_back(new excel::Range(r));
        sizes.push_back(cells_of(r));
    }
    for (const Constraint& c : constraints) {
        Bound b;
        b.constraint = &c;
        b.lhs.reset(new excel::Range(c.lhs.range));
        if (!c.rhs.is_number)
            b.rhs.reset(new excel::Range(c.rhs.range));
        bounds.push_back(std::move(b));
    }
}

void ModelObjective::write(const std::vector<double>& x) const {
    if (inputs.empty())
        for (const excel::RangeRef& r : refs)
            inputs.emplace_back(new CellSnapshot(r));
    std::size_t at = 0;
    for (std::size_t k = 0; k < ranges.size(); ++k) {
        piece.assign(x.begin() + static_cast<std::ptrdiff_t>(at),
                     x.begin() + static_cast<std::ptrdiff_t>(at + sizes[k]));
        ranges[k]->set(piece);
        at += sizes[k];
    }
}

math::opt::Evaluation ModelObjective::evaluate(const std::vector<double>& x) const {
    write(x);
    math::opt::Evaluation e;
    try {
        e.value = cell.get_as_double();
    } catch (const excel::ExcelException& error) {
        throw excel::ExcelException("Failed to get cell value as double: the objective cell " + target_text +
                                        " holds no number at this candidate",
                                    error);
    }
    e.violation = violation_now(nullptr);
    return e;
}

template <typename Sides>
double ModelObjective::add_up(const Sides& sides, std::string* worst) const {
    double total = 0.0;
    double largest = 0.0;
    for (std::size_t k = 0; k < bounds.size(); ++k) {
        const Constraint& c = *bounds[k].constraint;
        sides(k, left, right);
        for (std::size_t i = 0; i < left.size(); ++i) {
            const double r = right.size() == 1 ? right[0] : right[i];
            const double v = violation(c.relation, left[i], r, tolerance);
            total += v;
            if (worst && v > largest) {
                largest = v;
                *worst = "\"" + c.text + "\" (" + (left.size() > 1 ? "cell " + std::to_string(i + 1) + " of " : "") +
                         "its left side is " + shortest(left[i]) + ", its right side " + shortest(r) + ")";
            }
        }
    }
    return total;
}

double ModelObjective::violation_now(std::string* worst) const {
    return add_up(
        [&](std::size_t k, std::vector<double>& l, std::vector<double>& r) {
            const Bound& b = bounds[k];
            try {
                b.lhs->get(l);
                if (b.rhs)
                    b.rhs->get(r);
                else
                    r.assign(1, b.constraint->rhs.number);
            } catch (const excel::ExcelException& error) {
                throw excel::ExcelException("The constraint \"" + b.constraint->text +
                                                "\" cannot be checked: its cells must hold numbers, and one does not",
                                            error);
            }
        },
        worst);
}

bool ModelObjective::plan_reads() const {
    // The arguments left after the variables, the rows and the objective cell.
    const std::size_t room = static_cast<std::size_t>(max_callback_args) - ranges.size() - 2;
    const auto same = [](const XLOPER& a, const XLOPER& b) {
        if (a.xltype != b.xltype)
            return false;
        const XLREF& x = a.xltype == xltypeSRef ? a.val.sref.ref : a.val.mref.lpmref->reftbl[0];
        const XLREF& y = b.xltype == xltypeSRef ? b.val.sref.ref : b.val.mref.lpmref->reftbl[0];
        return (a.xltype == xltypeSRef || a.val.mref.idSheet == b.val.mref.idSheet) && x.rwFirst == y.rwFirst &&
               x.rwLast == y.rwLast && x.colFirst == y.colFirst && x.colLast == y.colLast;
    };
    std::vector<std::size_t> starts;
    read_cells = 1;
    const auto place = [&](const excel::Range& range) {
        for (std::size_t k = 0; k < reads.size(); ++k)
            if (same(*reads[k], range.ref))
                return starts[k];
        reads.push_back(&range.ref);
        starts.push_back(read_cells);
        read_cells += static_cast<std::size_t>(range.width()) * static_cast<std::size_t>(range.height());
        return starts.back();
    };
    for (const Bound& b : bounds) {
        lhs_at.push_back(place(*b.lhs));
        rhs_at.push_back(b.rhs ? place(*b.rhs) : 0);
    }
    return reads.size() <= room && read_cells <= 65535;
}

bool ModelObjective::evaluate_batch(const std::vector<std::vector<double>>& points,
                                    std::vector<math::opt::Evaluation>& results) const {
    std::size_t n = 0;
    for (std::size_t size : sizes)
        n += size;
    if (batches == Batches::refused || points.size() < 2 || points.size() > 65535 || n > 65535)
        return false;
    if (batches == Batches::unknown) {
        batches = ranges.size() + 3 <= static_cast<std::size_t>(max_callback_args) && plan_reads() &&
                          solver::spreadsheet_takes_batches()
                      ? Batches::taken
                      : Batches::refused;
        if (batches == Batches::refused)
            return false;
    }
    for (const std::vector<double>& x : points)
        if (x.size() != n)
            return false; // the one-at-a-time path says what is wrong

    BatchRows rows(points, n);
    if (inputs.empty())
        for (const excel::RangeRef& r : refs)
            inputs.emplace_back(new CellSnapshot(r));
    std::vector<LPXLOPER> args;
    for (const std::unique_ptr<excel::Range>& r : ranges)
        args.push_back(const_cast<LPXLOPER>(&r->ref));
    args.push_back(&rows.rows);
    args.push_back(const_cast<LPXLOPER>(static_cast<const XLOPER*>(&cell)));
    for (const XLOPER* r : reads)
        args.push_back(const_cast<LPXLOPER>(r));
    XLOPER read;
    read.xltype = xltypeNil;
    if (Excel4v(xlEvaluateBatch, &read, static_cast<int>(args.size()), args.data()) != xlretSuccess) {
        batches = Batches::refused;
        return false;
    }
    const bool shaped = read.xltype == xltypeMulti && read.val.array.lparray &&
                        static_cast<std::size_t>(read.val.array.rows) == points.size() &&
                        static_cast<std::size_t>(read.val.array.columns) == read_cells;
    if (!shaped) {
        Excel4(xlFree, nullptr, 1, &read);
        throw excel::ExcelException("Failed to evaluate a batch of candidates: the answer has the wrong shape");
    }
    results.resize(points.size());
    std::size_t unreadable = points.size();
    for (std::size_t i = 0; i < points.size() && unreadable == points.size(); ++i) {
        const XLOPER* row = read.val.array.lparray + i * read_cells;
        bool numbers = coerce_number(row[0], results[i].value);
        // Each side as Range::get reads it: numbers only.
        const auto copy = [&](std::size_t at, std::size_t count, std::vector<double>& out) {
            out.resize(count);
            for (std::size_t j = 0; j < count; ++j) {
                numbers = numbers && row[at + j].xltype == xltypeNum;
                out[j] = numbers ? row[at + j].val.num : 0.0;
            }
        };
        if (numbers)
            results[i].violation = add_up(
                [&](std::size_t k, std::vector<double>& l, std::vector<double>& r) {
                    const Bound& b = bounds[k];
                    copy(lhs_at[k],
                         static_cast<std::size_t>(b.lhs->width()) * static_cast<std::size_t>(b.lhs->height()), l);
                    if (b.rhs)
                        copy(rhs_at[k],
                             static_cast<std::size_t>(b.rhs->width()) * static_cast<std::size_t>(b.rhs->height()), r);
                    else
                        r.assign(1, b.constraint->rhs.number);
                },
                nullptr);
        if (!numbers)
            unreadable = i;
    }
    Excel4(xlFree, nullptr, 1, &read);
    // Alone, from the first point whose cells do not all read as numbers: that one fails there
    // with evaluate()'s own message.
    for (std::size_t i = unreadable; i < points.size(); ++i)
        results[i] = evaluate(points[i]);
    return true;
}

bool ModelObjective::restore_inputs() const {
    bool all = !inputs.empty();
    for (const std::unique_ptr<CellSnapshot>& s : inputs)
        all = s->restore() && all;
    return all;
}

void ModelGenerations::evaluate_all(const std::vector<std::vector<double>>& points,
                                    std::vector<math::opt::Evaluation>& results) const {
    if (!f.evaluate_batch(points, results)) {
        results.resize(points.size());
        for (std::size_t i = 0; i < points.size(); ++i)
            results[i] = f.evaluate(points[i]);
    }
    if (minimise)
        for (math::opt::Evaluation& e : results)
            e.value = -e.value;
}

} // namespace solver
