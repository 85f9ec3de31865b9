#ifndef OMBRIX_SOLVER_VECTORREF_HPP
#define OMBRIX_SOLVER_VECTORREF_HPP

#include "excel/RangeRef.hpp"

#include <string>
#include <vector>

namespace solver {

// Fills range from text when the text is a range (or a single cell) one row high or one
// column wide. Throws ExcelException "Expected <name> vector" when the text is not a
// range, "<name> vector must be a row or column" when it is a block. name serves only
// the messages.
void as_vector(const std::string& text, const std::string& name, excel::RangeRef& range);

// The numbers of the cells text names, row by row, when there are as many as reference
// has elements. Besides as_vector's messages, throws ExcelException "Failed to read <name>
// vector. Ensure all values are numbers" when a cell cannot be read as a number, and
// "<name> vector has different size from variable vector" on a count mismatch.
std::vector<double> get_constant_vector(const std::string& text, const std::string& name,
                                        const std::vector<double>& reference);

} // namespace solver

#endif
