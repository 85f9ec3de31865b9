#include "io/ChartPart.hpp"

#include "io/Address.hpp"
#include "io/Xml.hpp"

#include <cmath>

namespace host::io {

namespace {

const char* const chart_namespaces = " xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\""
                                     " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\""
                                     " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"";

std::string anchor_corner(const char* tag, Address at) {
    return std::string("<xdr:") + tag + "><xdr:col>" + std::to_string(at.column) +
           "</xdr:col><xdr:colOff>0</xdr:colOff><xdr:row>" + std::to_string(at.row) +
           "</xdr:row><xdr:rowOff>0</xdr:rowOff></xdr:" + tag + ">";
}

std::string rich_text(const std::string& text, bool bold, int size) {
    return "<c:tx><c:rich><a:bodyPr/><a:lstStyle/><a:p><a:pPr><a:defRPr b=\"" + std::string(bold ? "1" : "0") +
           "\" sz=\"" + std::to_string(size) + "\"/></a:pPr><a:r><a:rPr lang=\"en-GB\" b=\"" + (bold ? "1" : "0") +
           "\" sz=\"" + std::to_string(size) + "\"/><a:t>" + xml_escaped(text) + "</a:t></a:r></a:p></c:rich></c:tx>";
}

std::string title(const std::string& text, bool bold, int size) {
    return "<c:title>" + rich_text(text, bold, size) + "<c:overlay val=\"0\"/></c:title>";
}

// 'Sheet name'!$B$3:$B$9
std::string range_formula(const std::string& sheet_name, std::uint32_t column, std::uint32_t first,
                          std::uint32_t last) {
    std::string quoted = "'";
    for (char c : sheet_name)
        quoted += c == '\'' ? std::string("''") : std::string(1, c);
    quoted += "'";
    auto absolute = [](Address a) {
        std::string text = format_address(a);
        std::size_t digits = text.find_first_of("0123456789");
        return "$" + text.substr(0, digits) + "$" + text.substr(digits);
    };
    return quoted + "!" + absolute({first, column}) + ":" + absolute({last, column});
}

// A numeric reference with its values cached from the sheet's cells.
std::string number_reference(const ReportSheet& sheet, const std::string& sheet_name, std::uint32_t column,
                             std::uint32_t first, std::uint32_t last) {
    std::string points;
    std::uint32_t count = last - first + 1;
    for (std::uint32_t r = first; r <= last; ++r) {
        if (r >= sheet.rows.size() || column >= sheet.rows[r].size())
            continue;
        const engine::Value& v = sheet.rows[r][column].value;
        if (!v.is_number() || !std::isfinite(v.as_number()))
            continue;
        points += "<c:pt idx=\"" + std::to_string(r - first) + "\"><c:v>" + engine::format_number(v.as_number()) +
                  "</c:v></c:pt>";
    }
    return "<c:numRef><c:f>" + xml_escaped(range_formula(sheet_name, column, first, last)) +
           "</c:f><c:numCache><c:formatCode>General</c:formatCode><c:ptCount val=\"" + std::to_string(count) + "\"/>" +
           points + "</c:numCache></c:numRef>";
}

} // namespace

const char* chart_colour(std::size_t k) {
    static const char* const colours[] = {"1F77B4", "D62728", "2CA02C", "9467BD",
                                          "FF7F0E", "8C564B", "E377C2", "17BECF"};
    return colours[k % std::size(colours)];
}

std::string xml_escaped(const std::string& text) { return xml_escaped_text(text); }

std::string drawing_part_xml(const std::vector<ReportChart>& charts) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                      "<xdr:wsDr xmlns:xdr=\"http://schemas.openxmlformats.org/drawingml/2006/spreadsheetDrawing\""
                      " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\">";
    for (std::size_t k = 0; k < charts.size(); ++k) {
        std::string id = std::to_string(k + 1);
        xml += "<xdr:twoCellAnchor>" + anchor_corner("from", charts[k].from) + anchor_corner("to", charts[k].to) +
               "<xdr:graphicFrame macro=\"\"><xdr:nvGraphicFramePr><xdr:cNvPr id=\"" + std::to_string(k + 2) +
               "\" name=\"Chart " + id +
               "\"/><xdr:cNvGraphicFramePr/></xdr:nvGraphicFramePr>"
               "<xdr:xfrm><a:off x=\"0\" y=\"0\"/><a:ext cx=\"0\" cy=\"0\"/></xdr:xfrm><a:graphic>"
               "<a:graphicData uri=\"http://schemas.openxmlformats.org/drawingml/2006/chart\">"
               "<c:chart xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\""
               " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" r:id=\"rId" +
               id + "\"/></a:graphicData></a:graphic></xdr:graphicFrame><xdr:clientData/></xdr:twoCellAnchor>";
    }
    return xml + "</xdr:wsDr>";
}

std::string chart_part_xml(const ReportChart& chart, const ReportSheet& sheet, const std::string& sheet_name) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<c:chartSpace" +
                      std::string(chart_namespaces) + "><c:roundedCorners val=\"0\"/><c:chart>" +
                      title(chart.title, true, 1200) +
                      "<c:autoTitleDeleted val=\"0\"/><c:plotArea><c:layout/><c:lineChart>"
                      "<c:grouping val=\"standard\"/><c:varyColors val=\"0\"/>";
    // The longest series gives the category axis its labels.
    std::size_t longest = 0;
    for (std::size_t k = 0; k < chart.series.size(); ++k) {
        const ReportSeries& s = chart.series[k];
        if (s.last_row - s.first_row > chart.series[longest].last_row - chart.series[longest].first_row)
            longest = k;
    }
    std::vector<std::size_t> order;
    if (!chart.series.empty())
        order.push_back(longest);
    for (std::size_t k = 0; k < chart.series.size(); ++k)
        if (k != longest)
            order.push_back(k);
    for (std::size_t i = 0; i < order.size(); ++i) {
        const ReportSeries& s = chart.series[order[i]];
        std::string index = std::to_string(order[i]);
        xml += "<c:ser><c:idx val=\"" + index + "\"/><c:order val=\"" + index + "\"/><c:tx><c:v>" +
               xml_escaped(s.name) + "</c:v></c:tx><c:spPr><a:ln w=\"" + (s.dashed ? "15875" : "22225") +
               "\" cap=\"rnd\"><a:solidFill><a:srgbClr val=\"" + chart_colour(s.colour) +
               "\"/></a:solidFill><a:prstDash val=\"" + (s.dashed ? "dash" : "solid") +
               "\"/><a:round/></a:ln></c:spPr><c:marker><c:symbol val=\"none\"/></c:marker><c:cat>" +
               number_reference(sheet, sheet_name, s.category_column, s.first_row, s.last_row) + "</c:cat><c:val>" +
               number_reference(sheet, sheet_name, s.value_column, s.first_row, s.last_row) +
               "</c:val><c:smooth val=\"0\"/></c:ser>";
    }
    xml += "<c:marker val=\"1\"/><c:axId val=\"500000001\"/><c:axId val=\"500000002\"/></c:lineChart>"
           "<c:catAx><c:axId val=\"500000001\"/><c:scaling><c:orientation val=\"minMax\"/></c:scaling>"
           "<c:delete val=\"0\"/><c:axPos val=\"b\"/>" +
           title(chart.x_title, false, 1000) +
           "<c:numFmt formatCode=\"General\" sourceLinked=\"1\"/><c:majorTickMark val=\"out\"/>"
           "<c:minorTickMark val=\"none\"/><c:tickLblPos val=\"low\"/><c:crossAx val=\"500000002\"/>"
           "<c:crosses val=\"autoZero\"/><c:auto val=\"1\"/><c:lblAlgn val=\"ctr\"/><c:lblOffset val=\"100\"/>"
           "<c:noMultiLvlLbl val=\"0\"/></c:catAx>"
           "<c:valAx><c:axId val=\"500000002\"/><c:scaling><c:orientation val=\"minMax\"/></c:scaling>"
           "<c:delete val=\"0\"/><c:axPos val=\"l\"/><c:majorGridlines/>" +
           title(chart.y_title, false, 1000) +
           "<c:numFmt formatCode=\"General\" sourceLinked=\"0\"/><c:majorTickMark val=\"out\"/>"
           "<c:minorTickMark val=\"none\"/><c:tickLblPos val=\"nextTo\"/><c:crossAx val=\"500000001\"/>"
           "<c:crosses val=\"autoZero\"/><c:crossBetween val=\"midCat\"/></c:valAx></c:plotArea>"
           "<c:legend><c:legendPos val=\"b\"/><c:overlay val=\"0\"/></c:legend><c:plotVisOnly val=\"1\"/>"
           "<c:dispBlanksAs val=\"gap\"/></c:chart></c:chartSpace>";
    return xml;
}

} // namespace host::io
