#ifndef OMBRIX_IO_ADDRESS_HPP
#define OMBRIX_IO_ADDRESS_HPP

#include <cstdint>
#include <string>
#include <string_view>

namespace host::io {

// The grid of a workbook file: 1,048,576 rows by 16,384 columns (A to XFD).
constexpr std::uint32_t max_rows = 1048576;
constexpr std::uint32_t max_columns = 16384;

// A zero-based cell position.
struct Address {
    std::uint32_t row = 0;
    std::uint32_t column = 0;
    bool operator==(const Address& o) const { return row == o.row && column == o.column; }
    bool operator<(const Address& o) const {
        return row != o.row ? row < o.row : column < o.column;
    }
};

enum class AddressParse { Ok, Malformed, OffSheet };

// "B7" or "$B$7" -> row 6, column 1. Off the grid ("XFE1", "A1048577") is told apart from
// text that is no cell reference at all.
AddressParse parse_address(std::string_view text, Address& out);
// "B7" for row 6, column 1.
std::string format_address(Address a);
std::string column_name(std::uint32_t column);

// A block of cells, both corners included: "A1:C3" or a single cell "B2".
struct Block {
    Address first;
    Address last;
};
AddressParse parse_block(std::string_view text, Block& out);

} // namespace host::io

#endif
