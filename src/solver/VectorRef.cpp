#include "solver/VectorRef.hpp"

#include "excel/ExcelException.hpp"
#include "excel/Range.hpp"

namespace solver {

void as_vector(const std::string& text, const std::string& name, excel::RangeRef& range) {
    if (!excel::RangeRef::coerce_to_range(text, range))
        throw excel::ExcelException("Expected " + name + " vector");
    // Widened: parsed coordinates may sit at the int limits.
    const bool one_row = static_cast<long long>(range.end.y) - range.first.y == 1;
    const bool one_column = static_cast<long long>(range.end.x) - range.first.x == 1;
    if (!one_row && !one_column)
        throw excel::ExcelException(name + " vector must be a row or column");
}

std::vector<double> get_constant_vector(const std::string& text, const std::string& name,
                                        const std::vector<double>& reference) {
    excel::RangeRef range;
    as_vector(text, name, range);
    // Building the range looks up a named sheet: a missing sheet is its own message, not
    // a value that failed to read.
    const excel::Range cells(range);
    std::vector<double> values;
    try {
        cells.get(values);
    } catch (const excel::ExcelException&) {
        throw excel::ExcelException("Failed to read " + name + " vector. Ensure all values are numbers");
    }
    if (values.size() != reference.size())
        throw excel::ExcelException(name + " vector has different size from variable vector");
    return values;
}

} // namespace solver
