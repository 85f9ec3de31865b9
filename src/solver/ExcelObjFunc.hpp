#ifndef OMBRIX_SOLVER_EXCELOBJFUNC_HPP
#define OMBRIX_SOLVER_EXCELOBJFUNC_HPP

#include "excel/Cell.hpp"
#include "excel/CellRef.hpp"
#include "excel/Range.hpp"
#include "excel/RangeRef.hpp"
#include "math/function/Function.hpp"

#include <vector>

// The worksheet model as the optimiser's objective: a candidate goes into the variable
// cells, the spreadsheet recalculates, and the objective cell is read back. Both references
// address the active sheet.
class ExcelObjFunc : public math::function::Function<double, std::vector<double> > {
public:
    // Touches no cell.
    ExcelObjFunc(const excel::RangeRef& variables, const excel::CellRef& target);

    // One write of all variable cells, then one read of the objective cell. Throws
    // ExcelException "Failed to set range" or "Failed to get cell value as double".
    double operator()(const std::vector<double>& x) const override;

private:
    excel::Range range;
    excel::Cell cell;
};

#endif
