#ifndef OMBRIX_IO_REPORTSHEET_HPP
#define OMBRIX_IO_REPORTSHEET_HPP

// A sheet of values that a command adds to the workbook it saves (a run's answer report),
// with its styles and an optional line chart of some of its columns. The sheet is added to
// the saved package as its last sheet; nothing else in the package changes but the lists
// that name the new parts and the styles the sheet uses.

#include "engine/Value.hpp"
#include "engine/Workbook.hpp"
#include "io/Address.hpp"
#include "io/Document.hpp"

#include <cstdint>
#include <string>
#include <vector>

namespace host::io {

enum class ReportStyle : std::uint8_t {
    text,
    heading,   // bold
    number,    // #,##0.000000
    whole,     // 0
    seconds,   // 0.000
    date_time, // yyyy-mm-dd hh:mm:ss: a serial date in the workbook's date system
};

struct ReportCell {
    engine::Value value;
    ReportStyle style = ReportStyle::text;
};

// One line of the chart: its values in `value_column` and its categories (the x axis) in
// `category_column`, both over the rows first_row..last_row of the sheet (0-based).
struct ReportSeries {
    std::string name;
    std::uint32_t category_column = 0;
    std::uint32_t value_column = 0;
    std::uint32_t first_row = 0;
    std::uint32_t last_row = 0;
    bool dashed = false;
    std::size_t colour = 0; // chart_colour(colour)
};

struct ReportChart {
    std::string title, x_title, y_title;
    std::vector<ReportSeries> series;
    // The cells the chart covers, 0-based: from the top-left corner of `from` to the
    // top-left corner of `to`.
    Address from{0, 0}, to{0, 0};
};

struct ReportSheet {
    std::string name; // as wanted: saving picks a free one like it
    std::vector<std::vector<ReportCell>> rows;
    std::vector<double> column_widths; // in characters, from column A
    std::vector<ReportChart> charts;
};

// `wanted` when no sheet of the book has that name (in any case), else "wanted (2)",
// "wanted (3)"..., shortened to the 31 characters a sheet name may have.
std::string free_sheet_name(const std::vector<std::string>& sheet_names, const std::string& wanted);

// The package `bytes` (an .xlsx file named `file` in messages) with `sheet` added as its last
// worksheet under free_sheet_name(); returns the new package and sets `added_name`. Throws
// io::IoError.
std::string add_report_sheet(const std::string& file, const std::string& bytes, const ReportSheet& sheet,
                             std::string& added_name);

// Saves the document as an .xlsx file with the report sheet added (atomically, as save()).
// Returns the name the sheet was given.
std::string save_with_report(const Document& document, const std::string& path, const ReportSheet& sheet);

} // namespace host::io

#endif
