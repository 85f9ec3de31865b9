#ifndef OMBRIX_HOST_ENGINE_A1_HPP
#define OMBRIX_HOST_ENGINE_A1_HPP

// The grid and the A1 notation for its cells, for the whole host.

#include <cstdint>
#include <string>
#include <string_view>

namespace host::engine {

// The grid: 16384 columns x 1048576 rows. The add-in itself addresses only the first 256
// columns and 65536 rows, but workbooks written by newer programs use the whole grid.
constexpr std::int32_t max_rows = 1048576;
constexpr std::int32_t max_columns = 16384;

// "A" for 0, "Z" for 25, "AA" for 26 ... "XFD" for 16383.
std::string column_name(std::int32_t col);
// "B3" for row 2, column 1.
std::string a1_name(std::int32_t row, std::int32_t col);

enum class A1Parse { Ok, Malformed, OffSheet };

// Reads "B3", "$B$3" or "b3" into 0-based row and column. A cell off the grid ("XFE1",
// "A1048577") is told apart from text that is no cell reference at all.
A1Parse read_a1(std::string_view text, std::int32_t& row, std::int32_t& col);

// As read_a1, true only for a cell on the grid.
inline bool parse_a1(std::string_view text, std::int32_t& row, std::int32_t& col) {
    return read_a1(text, row, col) == A1Parse::Ok;
}

} // namespace host::engine

#endif
