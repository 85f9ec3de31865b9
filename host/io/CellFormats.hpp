#ifndef OMBRIX_IO_CELLFORMATS_HPP
#define OMBRIX_IO_CELLFORMATS_HPP

// The number format each cell of an .xlsx document shows its value through. The workbook
// model keeps no styles, so they are read from the package when asked for, and only then.

#include "io/Document.hpp"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace host::io {

class CellFormats {
public:
    // Reads the styles and the cells' style indexes of every sheet; a document without a
    // package (a .csv file) has General everywhere. Throws io::IoError on a malformed part.
    explicit CellFormats(const Document& document);

    // The number format code of a cell; "General" for a cell without one.
    std::string_view code(const engine::CellAddress& at) const;

    // The cell's value as the cell shows it through its format.
    std::string shown(const engine::CellAddress& at) const;

private:
    const Document& document_;
    std::vector<std::string> style_codes_; // the code of each cell style, by index
    // Per sheet, the style index of each cell that has one, keyed by row and column.
    std::vector<std::unordered_map<std::uint64_t, std::uint32_t>> styles_;
};

} // namespace host::io

#endif
