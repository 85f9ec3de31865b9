#ifndef OMBRIX_SOLVER_MODELOBJECTIVE_HPP
#define OMBRIX_SOLVER_MODELOBJECTIVE_HPP

#include "excel/Cell.hpp"
#include "excel/CellRef.hpp"
#include "excel/Range.hpp"
#include "excel/RangeRef.hpp"
#include "math/opt/Evaluation.hpp"
#include "solver/CellSnapshot.hpp"
#include "solver/Model.hpp"

#include <memory>
#include <string>
#include <vector>

namespace solver {

// A worksheet model with several variable ranges and constraints, as the optimiser sees it:
// a candidate is written into the variable ranges (one write per range, in order), the
// spreadsheet recalculates, and the objective cell and both sides of every constraint are
// read back.
class ModelObjective : public math::opt::ConstrainedObjective {
public:
    // Touches no cell.
    ModelObjective(const std::vector<excel::RangeRef>& variables, const excel::CellRef& target,
                   const std::vector<Constraint>& constraints, double tolerance);

    math::opt::Evaluation evaluate(const std::vector<double>& x) const override;

    // Writes x into the variable ranges.
    void write(const std::vector<double>& x) const;
    // The total violation of the cells as they stand, and the constraint that contributes
    // most to it, described for a message ("B5 <= 240: the left side is 250").
    double violation_now(std::string* worst) const;
    // Puts back what the variable cells held before the first write; never throws.
    bool restore_inputs() const;

private:
    struct Bound {
        const Constraint* constraint;
        std::unique_ptr<excel::Range> lhs;
        std::unique_ptr<excel::Range> rhs; // null: a number
    };

    std::vector<excel::RangeRef> refs;
    std::vector<std::unique_ptr<excel::Range>> ranges;
    std::vector<std::size_t> sizes;
    excel::Cell cell;
    std::string target_text;
    std::vector<Constraint> constraints;
    std::vector<Bound> bounds;
    double tolerance;
    mutable std::vector<std::unique_ptr<CellSnapshot>> inputs;
    mutable std::vector<double> piece, left, right;
};

} // namespace solver

#endif
