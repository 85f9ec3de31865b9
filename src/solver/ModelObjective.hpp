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

    // Evaluates the points in order in one request, where the spreadsheet takes a whole
    // batch (xlEvaluateBatch, reading the objective and every constraint's cells): results[i]
    // is then what evaluate(points[i]) gives, and the cells end as the last point leaves them.
    // False, with nothing written, where it does not; once refused it is not asked again. A
    // point whose cells do not read as numbers is evaluated again alone, which throws as
    // evaluate() does.
    bool evaluate_batch(const std::vector<std::vector<double>>& points,
                        std::vector<math::opt::Evaluation>& results) const;

    // Writes x into the variable ranges.
    void write(const std::vector<double>& x) const;
    // The total violation of the cells as they stand, and the constraint that contributes
    // most to it, described for a message ("B5 <= 240: the left side is 250").
    double violation_now(std::string* worst) const;
    // Puts back what the variable cells held before the first write; never throws.
    bool restore_inputs() const;

private:
    // The total violation of the constraints with each one's sides given by `sides`, which
    // fills the left values and the right ones (one for a number).
    template <typename Sides>
    double add_up(const Sides& sides, std::string* worst) const;
    // The request's reads: the objective cell, then each distinct side range once; false when
    // they do not fit in one request.
    bool plan_reads() const;

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

    enum class Batches { unknown, taken, refused };
    mutable Batches batches = Batches::unknown;
    mutable std::vector<const XLOPER*> reads;        // after the objective cell
    mutable std::vector<std::size_t> lhs_at, rhs_at; // per bound, where its sides start in a row
    mutable std::size_t read_cells = 0;              // in a row
};

// The model's generations for a search: in one request where the spreadsheet takes them,
// else one candidate after another. Values are negated when minimising (the violations are
// not), as the negated objective gives them.
class ModelGenerations : public math::opt::BatchObjective {
public:
    ModelGenerations(const ModelObjective& f_, bool minimise_) : f(f_), minimise(minimise_) {}
    void evaluate_all(const std::vector<std::vector<double>>& points,
                      std::vector<math::opt::Evaluation>& results) const override;

    const ModelObjective& f;
    bool minimise;
};

} // namespace solver

#endif
