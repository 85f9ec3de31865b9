#ifndef OMBRIX_IO_XLSXSHEETEDIT_HPP
#define OMBRIX_IO_XLSXSHEETEDIT_HPP

// The saver's edit of one worksheet part read from a file: only the cells the run changed are
// rewritten, the rest of the part kept as the file has it.

#include "engine/Workbook.hpp"
#include "io/Package.hpp"
#include "io/XlsxMetadata.hpp"

#include <cstdint>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace host::io {

// The new text of a worksheet part, or "" when the run changed nothing in it.
std::string edit_sheet(const std::string& file, const Package& package, const engine::Workbook& book, int sheet,
                       const std::string& part, const std::vector<std::string>& strings, bool date1904,
                       const std::set<std::tuple<int, std::int32_t, std::int32_t>>& unread, SavedMetadata& metadata);

} // namespace host::io

#endif
