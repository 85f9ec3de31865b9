#ifndef OMBRIX_SOLVER_BATCH_HPP
#define OMBRIX_SOLVER_BATCH_HPP

// What the objectives share for evaluating a generation in one request (xlEvaluateBatch):
// asking whether the spreadsheet takes batches, and reading an answer's values as the
// one-at-a-time path reads cells.

#include "excel/framewrk/ExcelApi.hpp"

#include <cstddef>
#include <vector>

namespace solver {

// Whether the spreadsheet evaluates whole batches of candidates. The spreadsheet program
// refuses the request as unknown.
bool spreadsheet_takes_batches();

// Candidates as the request's rows: points[i] is row i. The elements stay owned here.
struct BatchRows {
    BatchRows(const std::vector<std::vector<double>>& points, std::size_t n);
    std::vector<XLOPER> elements;
    XLOPER rows;
};

// A value read as a cell's value is read as a number (xlCoerce to a number): a number, a
// number in text, a logical value. False for anything else.
bool coerce_number(const XLOPER& v, double& out);

} // namespace solver

#endif
