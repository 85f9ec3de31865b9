#include "excel/ExcelException.hpp"

namespace excel {

ExcelException::~ExcelException() noexcept = default;

} // namespace excel
