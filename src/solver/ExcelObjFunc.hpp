#ifndef OMBRIX_SOLVER_EXCELOBJFUNC_HPP
#define OMBRIX_SOLVER_EXCELOBJFUNC_HPP

#include "excel/Cell.hpp"
#include "excel/CellRef.hpp"
#include "excel/Range.hpp"
#include "excel/RangeRef.hpp"
#include "math/function/Function.hpp"
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
};

#endif
