#include "io/IoError.hpp"

#include <utility>

namespace host::io {

IoError::IoError(std::string file, std::string reason)
    : IoError(std::move(file), std::string(), std::string(), std::move(reason)) {}

IoError::IoError(std::string file, std::string sheet, std::string cell, std::string reason)
    : Error(compose(file, sheet, cell, reason)), file_(std::move(file)), sheet_(std::move(sheet)),
      cell_(std::move(cell)), reason_(std::move(reason)) {}

IoError::~IoError() noexcept = default;

std::string IoError::compose(const std::string& file, const std::string& sheet, const std::string& cell,
                             const std::string& reason) {
    std::string out = file;
    if (!sheet.empty())
        out += ": sheet '" + sheet + "'";
    if (!cell.empty())
        out += (sheet.empty() ? ": cell " : ", cell ") + cell;
    out += ": " + reason;
    return out;
}

} // namespace host::io
