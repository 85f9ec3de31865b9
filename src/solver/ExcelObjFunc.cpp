#include "solver/ExcelObjFunc.hpp"

ExcelObjFunc::ExcelObjFunc(const excel::RangeRef& variables, const excel::CellRef& target)
    : range(variables), cell(target)
{
}

double ExcelObjFunc::operator()(const std::vector<double>& x) const
{
    range.set(x);
    return cell.get_as_double();
}
