#ifndef OMBRIX_IO_ADDRESS_HPP
#define OMBRIX_IO_ADDRESS_HPP

// Cell positions as a workbook file's parts carry them. The grid and the A1 notation are
// the engine's; here they are seen as the unsigned positions of a file.

#include "engine/A1.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace host::io {

using engine::A1Parse;

// The engine's grid in the unsigned counts of file positions.
constexpr std::uint32_t grid_rows = std::uint32_t(engine::max_rows);
constexpr std::uint32_t grid_columns = std::uint32_t(engine::max_columns);

// A zero-based cell position.
struct Address {
    std::uint32_t row = 0;
    std::uint32_t column = 0;
    bool operator==(const Address& o) const { return row == o.row && column == o.column; }
    bool operator<(const Address& o) const { return row != o.row ? row < o.row : column < o.column; }
};

// "B7" or "$B$7" -> row 6, column 1.
A1Parse parse_address(std::string_view text, Address& out);
// "B7" for row 6, column 1.
std::string format_address(Address a);

// A block of cells, both corners included: "A1:C3" or a single cell "B2".
struct Block {
    Address first;
    Address last;
};
A1Parse parse_block(std::string_view text, Block& out);

} // namespace host::io

#endif
