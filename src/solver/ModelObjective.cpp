#include "solver/ModelObjective.hpp"

#include "excel/ExcelException.hpp"

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

double ModelObjective::violation_now(std::string* worst) const {
    double total = 0.0;
    double largest = 0.0;
    for (const Bound& b : bounds) {
        const Constraint& c = *b.constraint;
        try {
            b.lhs->get(left);
            if (b.rhs)
                b.rhs->get(right);
            else
                right.assign(1, c.rhs.number);
        } catch (const excel::ExcelException& error) {
            throw excel::ExcelException("The constraint \"" + c.text +
                                            "\" cannot be checked: its cells must hold numbers, and one does not",
                                        error);
        }
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

bool ModelObjective::restore_inputs() const {
    bool all = !inputs.empty();
    for (const std::unique_ptr<CellSnapshot>& s : inputs)
        all = s->restore() && all;
    return all;
}

} // namespace solver
