#ifndef OMBRIX_IO_CHARTPART_HPP
#define OMBRIX_IO_CHARTPART_HPP

// The drawing and chart parts of a report sheet's line charts (DrawingML), with the values
// cached so that a reader that does not recalculate still draws them.

#include "io/ReportSheet.hpp"

#include <string>

namespace host::io {

// The sheet's drawing: chart k anchored over its cells, linked by relationship "rId<k+1>".
std::string drawing_part_xml(const std::vector<ReportChart>& charts);

// One line chart of the sheet named `sheet_name`, whose cells are `sheet.rows`.
std::string chart_part_xml(const ReportChart& chart, const ReportSheet& sheet, const std::string& sheet_name);

// The colour of line k, "RRGGBB": a few distinct ones, repeating.
const char* chart_colour(std::size_t k);

// Text escaped for XML content and for attribute values in double quotes.
std::string xml_escaped(const std::string& text);

} // namespace host::io

#endif
