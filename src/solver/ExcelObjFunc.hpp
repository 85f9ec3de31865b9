#ifndef OMBRIX_SOLVER_EXCELOBJFUNC_HPP
#define OMBRIX_SOLVER_EXCELOBJFUNC_HPP

#include "excel/Cell.hpp"
#include "excel/CellRef.hpp"
#include "excel/Range.hpp"
#include "excel/RangeRef.hpp"
#include "math/function/Function.hpp"
#include "math/opt/Evaluation.hpp"
#include "solver/CellSnapshot.hpp"

#include <memory>
#include <string>
#include <vector>

// The worksheet model as the optimiser's objective: a candidate goes into the variable
// cells, the spreadsheet recalculates, and the objective cell is read back. Both references
// address the active sheet.
class ExcelObjFunc : public math::function::Function<double, std::vector<double>> {
public:
    // Touches no cell.
    ExcelObjFunc(const excel::RangeRef& variables, const excel::CellRef& target);

    // One write of all variable cells, then one read of the objective cell. Throws
    // ExcelException "Failed to set range", or "Failed to get cell value as double" followed
    // by the objective cell, what it held and the candidate point. The first call keeps the
    // variable cells' contents first, for restore_inputs.
    double operator()(const std::vector<double>& x) const override;

    // Evaluates the points in order in one request, where the spreadsheet takes a whole
    // batch (xlEvaluateBatch): values[i] is then what operator()(points[i]) returns, and the
    // cells end as the last point leaves them. False, with nothing written, where it does not;
    // once refused it is not asked again, and the caller evaluates one point at a time. A
    // point whose objective is no number is evaluated again alone, which throws as
    // operator() does.
    bool evaluate_batch(const std::vector<std::vector<double>>& points, std::vector<double>& values) const;

    // Puts back what the variable cells held before the first candidate was written; false
    // when nothing was written (nothing to undo) or the spreadsheet refused. Never throws.
    bool restore_inputs() const;

    // What a cell's value is, for a message: "#DIV/0!", "the text \"abc\"", "nothing".
    static std::string describe_value(const XLOPER& value);

private:
    std::string unreadable_objective(const std::vector<double>& x) const;

    excel::Range range;
    excel::Cell cell;
    std::string target_text;
    excel::RangeRef variables;
    mutable std::unique_ptr<CellSnapshot> inputs;
    enum class Batches { unknown, taken, refused };
    mutable Batches batches = Batches::unknown;
};

// The model's generations for a search: in one request where the spreadsheet takes them,
// else one candidate after another. Values are negated when minimising, as the optimiser's
// negated objective gives them; no constraints.
class WorkbookGenerations : public math::opt::BatchObjective {
public:
    WorkbookGenerations(const ExcelObjFunc& f_, bool minimise_) : f(f_), minimise(minimise_) {}
    void evaluate_all(const std::vector<std::vector<double>>& points,
                      std::vector<math::opt::Evaluation>& results) const override;

    const ExcelObjFunc& f;
    bool minimise;
};

#endif
