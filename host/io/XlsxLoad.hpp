#ifndef OMBRIX_IO_XLSXLOAD_HPP
#define OMBRIX_IO_XLSXLOAD_HPP

// What the reading of a package's parts shares between its files: the running cost of what
// has been read against the package's limits, and the reader of one worksheet's cells.

#include "io/Package.hpp"
#include "io/XlsxParts.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace host::io {

// Bytes loading takes per byte of a part's text and per element of interest (a cell, a
// shared string), about: the text twice (read and the parser's copy), the element's nodes,
// its record and its place in the workbook.
constexpr double memory_per_text_byte = 2.0;
constexpr double memory_per_element = 400.0;

// What the parts read so far will cost, against the package's limits.
struct LoadCost {
    std::size_t cells = 0;
    double memory = 0;

    // Why the workbook is too large with a part of `bytes` holding `elements` added, "" when
    // it is not.
    std::string over(const LoadLimits& limits, std::size_t bytes, std::size_t elements, bool are_cells) const {
        if (are_cells && cells + elements > limits.max_cells)
            return too_large("more than " + std::to_string(limits.max_cells) + " cells");
        if (memory + cost(bytes, elements) > double(limits.max_memory))
            return too_large("loading it would take more than the " + std::to_string(limits.max_memory >> 20) +
                             " MiB of memory allowed");
        return std::string();
    }
    void add(std::size_t bytes, std::size_t elements, bool are_cells) {
        if (are_cells)
            cells += elements;
        memory += cost(bytes, elements);
    }
    static double cost(std::size_t bytes, std::size_t elements) {
        return memory_per_text_byte * double(bytes) + memory_per_element * double(elements);
    }
};

// Reads a part whose `tag` elements count towards the cost, refusing it as soon as what has
// arrived crosses a limit; `refuse` turns the reason into the exception to throw.
std::string read_counted(const Package& package, const std::string& part, const char* tag, bool are_cells,
                         LoadCost& cost, const std::function<void(const std::string&)>& refuse);

// Reads the cells, hidden rows, filters, data tables and merged blocks of a worksheet part
// into `sheet`, its cells counting towards `cost`. Throws io::IoError naming the sheet and
// cell.
void read_sheet_cells(const Package& package, const std::vector<std::string>& strings, SheetRecord& sheet,
                      bool date1904, LoadCost& cost, std::vector<std::string>& warnings, const RichErrors& rich_errors);

} // namespace host::io

#endif
