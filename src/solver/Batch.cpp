#include "solver/Batch.hpp"

namespace solver {

bool spreadsheet_takes_batches() {
    XLOPER workers;
    workers.xltype = xltypeNil;
    const bool taken = Excel4(xlEvaluateBatch, &workers, 0) == xlretSuccess;
    if (taken)
        Excel4(xlFree, nullptr, 1, &workers);
    return taken;
}

BatchRows::BatchRows(const std::vector<std::vector<double>>& points, std::size_t n) : elements(points.size() * n) {
    for (std::size_t i = 0; i < points.size(); ++i)
        for (std::size_t j = 0; j < n; ++j) {
            elements[i * n + j].xltype = xltypeNum;
            elements[i * n + j].val.num = points[i][j];
        }
    rows.xltype = xltypeMulti;
    rows.val.array.lparray = elements.data();
    rows.val.array.rows = static_cast<decltype(rows.val.array.rows)>(points.size());
    rows.val.array.columns = static_cast<decltype(rows.val.array.columns)>(n);
}

bool coerce_number(const XLOPER& v, double& out) {
    if ((v.xltype & 0x0FFF) == xltypeNum) {
        out = v.val.num;
        return true;
    }
    XLOPER target;
    target.xltype = xltypeInt;
    target.val.w = xltypeNum;
    XLOPER number;
    number.xltype = xltypeNil;
    const int code = Excel4(xlCoerce, &number, 2, const_cast<LPXLOPER>(&v), &target);
    if (code == xlretSuccess && number.xltype == xltypeNum) {
        out = number.val.num;
        return true;
    }
    if (code == xlretSuccess)
        Excel4(xlFree, nullptr, 1, &number);
    return false;
}

} // namespace solver
