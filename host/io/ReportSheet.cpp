#include "io/ReportSheet.hpp"

#include "io/Address.hpp"
#include "io/ChartPart.hpp"
#include "io/IoError.hpp"
#include "io/Package.hpp"
#include "io/Xlsx.hpp"
#include "io/XlsxParts.hpp"
#include "io/Xml.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

namespace host::io {

namespace {

const char* const relationships_namespace = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
const char* const package_relationships_namespace = "http://schemas.openxmlformats.org/package/2006/relationships";
const char* const content_type_prefix = "application/vnd.openxmlformats-officedocument.";

std::string lower_ascii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return text;
}

std::string directory_of(const std::string& part) {
    std::size_t slash = part.rfind('/');
    return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

// "<dir><stem><n>.xml" for the first n from 1 that names no part of the package; with
// `bare`, "<dir><stem>.xml" first (a part the format names so, as styles.xml).
std::string free_part(const Package& package, const std::set<std::string>& taken, const std::string& stem,
                      bool bare = false) {
    for (int n = bare ? 0 : 1;; ++n) {
        std::string name = stem + (n == 0 ? std::string() : std::to_string(n)) + ".xml";
        if (!package.has(name) && taken.count(lower_ascii(name)) == 0)
            return name;
    }
}

// The relationship id that the relationships part does not use yet.
std::string free_relationship_id(const pugi::xml_node& relationships) {
    std::set<std::string> ids;
    for (pugi::xml_node r = relationships.first_child(); r; r = r.next_sibling())
        if (r.type() == pugi::node_element)
            ids.insert(r.attribute("Id").value());
    for (int n = 1;; ++n)
        if (ids.count("rId" + std::to_string(n)) == 0)
            return "rId" + std::to_string(n);
}

pugi::xml_node append_relationship(pugi::xml_node relationships, const std::string& type, const std::string& target) {
    pugi::xml_node r = relationships.append_child((prefix_of(relationships) + "Relationship").c_str());
    r.append_attribute("Id").set_value(free_relationship_id(relationships).c_str());
    r.append_attribute("Type").set_value((std::string(relationships_namespace) + "/" + type).c_str());
    r.append_attribute("Target").set_value(target.c_str());
    return r;
}

void append_override(pugi::xml_node types, const std::string& part, const std::string& type) {
    pugi::xml_node o = types.append_child((prefix_of(types) + "Override").c_str());
    o.append_attribute("PartName").set_value(("/" + part).c_str());
    o.append_attribute("ContentType").set_value((content_type_prefix + type).c_str());
}

// The target of a relationship from a part in `from_dir` to `part`, both under the same root.
std::string relative_target(const std::string& from_dir, const std::string& part) {
    if (part.compare(0, from_dir.size(), from_dir) == 0)
        return part.substr(from_dir.size());
    std::string up;
    std::string dir = from_dir;
    while (!dir.empty() && part.compare(0, dir.size(), dir) != 0) {
        dir.pop_back();
        std::size_t slash = dir.rfind('/');
        dir = slash == std::string::npos ? std::string() : dir.substr(0, slash + 1);
        up += "../";
    }
    return up + part.substr(dir.size());
}

// Indexes into cellXfs of the report's styles, in the order of ReportStyle.
using StyleIndexes = std::vector<unsigned>;

const char* const number_format_codes[] = {"#,##0.000000", "0.000", "yyyy-mm-dd hh:mm:ss"};

unsigned count_of(pugi::xml_node list) {
    unsigned n = 0;
    for (pugi::xml_node c = list.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element)
            ++n;
    return n;
}

// The child `name` of the style sheet, made where the schema's order puts it if missing.
pugi::xml_node style_list(pugi::xml_node sheet, const char* name) {
    if (pugi::xml_node found = child(sheet, name))
        return found;
    static const char* const order[] = {"numFmts", "fonts", "fills", "borders", "cellStyleXfs", "cellXfs"};
    pugi::xml_node before;
    for (const char* earlier : order) {
        if (std::string(earlier) == name)
            break;
        if (pugi::xml_node e = child(sheet, earlier))
            before = e;
    }
    std::string element = prefix_of(sheet) + name;
    return before ? sheet.insert_child_after(element.c_str(), before) : sheet.prepend_child(element.c_str());
}

// Adds a bold font, the number formats and one cell format per report style to a style sheet.
StyleIndexes add_report_styles(pugi::xml_node sheet) {
    std::string prefix = prefix_of(sheet);
    pugi::xml_node formats = style_list(sheet, "numFmts");
    // Custom formats take ids from 164 that the book does not use; whatever ids it holds
    // (out of range, malformed), the built-in ones below 164 are never redefined.
    std::set<std::string> used;
    for (pugi::xml_node f = formats.first_child(); f; f = f.next_sibling())
        if (f.type() == pugi::node_element)
            used.insert(std::string(trim_xml_space(f.attribute("numFmtId").value())));
    unsigned next_id = 164;
    unsigned format_ids[std::size(number_format_codes)];
    for (std::size_t k = 0; k < std::size(number_format_codes); ++k) {
        pugi::xml_node f = formats.append_child((prefix + "numFmt").c_str());
        while (used.count(std::to_string(next_id)))
            ++next_id;
        format_ids[k] = next_id++;
        f.append_attribute("numFmtId").set_value(format_ids[k]);
        f.append_attribute("formatCode").set_value(number_format_codes[k]);
    }
    formats.remove_attribute("count");
    formats.append_attribute("count").set_value(count_of(formats));

    // The bold font is the default font made bold, so the report keeps the workbook's look.
    pugi::xml_node fonts = style_list(sheet, "fonts");
    if (!child(fonts, "font")) { // a font list starts with the default font
        pugi::xml_node font = fonts.append_child((prefix + "font").c_str());
        font.append_child((prefix + "sz").c_str()).append_attribute("val").set_value(11);
        font.append_child((prefix + "name").c_str()).append_attribute("val").set_value("Calibri");
    }
    pugi::xml_node bold = fonts.append_copy(child(fonts, "font"));
    if (!child(bold, "b"))
        bold.prepend_child((prefix + "b").c_str());
    unsigned bold_font = count_of(fonts) - 1;
    fonts.remove_attribute("count");
    fonts.append_attribute("count").set_value(count_of(fonts));
    // Cell formats refer to fill 0 and border 0, and to the first cell style format.
    for (const char* list : {"fills", "borders", "cellStyleXfs"}) {
        pugi::xml_node l = style_list(sheet, list);
        if (count_of(l) == 0) {
            std::string item = prefix + (std::string(list) == "fills"     ? "fill"
                                         : std::string(list) == "borders" ? "border"
                                                                          : "xf");
            l.append_child(item.c_str());
            l.remove_attribute("count");
            l.append_attribute("count").set_value(1);
        }
    }
    pugi::xml_node xfs = style_list(sheet, "cellXfs");
    if (count_of(xfs) == 0)
        xfs.append_child((prefix + "xf").c_str());
    StyleIndexes indexes;
    auto add_xf = [&](unsigned format, unsigned font) {
        pugi::xml_node xf = xfs.append_child((prefix + "xf").c_str());
        xf.append_attribute("numFmtId").set_value(format);
        xf.append_attribute("fontId").set_value(font);
        xf.append_attribute("fillId").set_value(0);
        xf.append_attribute("borderId").set_value(0);
        xf.append_attribute("xfId").set_value(0);
        if (format != 0)
            xf.append_attribute("applyNumberFormat").set_value(1);
        if (font != 0)
            xf.append_attribute("applyFont").set_value(1);
        indexes.push_back(count_of(xfs) - 1);
    };
    add_xf(0, 0);             // text
    add_xf(0, bold_font);     // heading
    add_xf(format_ids[0], 0); // number
    add_xf(1, 0);             // whole: the built-in "0"
    add_xf(format_ids[1], 0); // seconds
    add_xf(format_ids[2], 0); // date_time
    xfs.remove_attribute("count");
    xfs.append_attribute("count").set_value(count_of(xfs));
    return indexes;
}

std::string new_style_sheet() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
           "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
           "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
           "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
           "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
           "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/></border></borders>"
           "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\"/></cellStyleXfs>"
           "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" borderId=\"0\" xfId=\"0\"/></cellXfs>"
           "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" builtinId=\"0\"/></cellStyles>"
           "</styleSheet>";
}

std::string cell_xml(const ReportCell& cell, Address at, const StyleIndexes& styles) {
    const engine::Value& v = cell.value;
    std::string head =
        "<c r=\"" + format_address(at) + "\" s=\"" + std::to_string(styles[std::size_t(cell.style)]) + "\"";
    switch (v.type()) {
    case engine::ValueType::Empty: return std::string();
    case engine::ValueType::Number:
        if (!std::isfinite(v.as_number()))
            return std::string();
        return head + "><v>" + engine::format_number(v.as_number()) + "</v></c>";
    case engine::ValueType::Boolean: return head + " t=\"b\"><v>" + (v.as_boolean() ? "1" : "0") + "</v></c>";
    case engine::ValueType::Error: return head + " t=\"e\"><v>" + engine::error_text(v.as_error()) + "</v></c>";
    case engine::ValueType::Text: {
        std::string text = xml_escaped(encode_escapes(std::string(v.as_text())));
        return head + " t=\"inlineStr\"><is><t xml:space=\"preserve\">" + text + "</t></is></c>";
    }
    }
    return std::string();
}

std::string worksheet_xml(const std::string& file, const ReportSheet& sheet, const StyleIndexes& styles,
                          bool with_drawing) {
    // Nothing is written outside the grid: a reader refuses the whole book.
    if (sheet.rows.size() > grid_rows)
        throw IoError(file, "the report has " + std::to_string(sheet.rows.size()) + " rows; a sheet holds " +
                                std::to_string(grid_rows));
    for (const auto& row : sheet.rows)
        if (row.size() > grid_columns)
            throw IoError(file, "a row of the report has more cells than a sheet has columns");
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\""
                      " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                      // Printed (and so converted to PDF) a page wide, with the chart beside the table.
                      "<sheetPr><pageSetUpPr fitToPage=\"1\"/></sheetPr>";
    if (!sheet.column_widths.empty()) {
        xml += "<cols>";
        for (std::size_t k = 0; k < sheet.column_widths.size(); ++k)
            xml += "<col min=\"" + std::to_string(k + 1) + "\" max=\"" + std::to_string(k + 1) + "\" width=\"" +
                   engine::format_number(sheet.column_widths[k]) + "\" customWidth=\"1\"/>";
        xml += "</cols>";
    }
    xml += "<sheetData>";
    for (std::size_t r = 0; r < sheet.rows.size(); ++r) {
        std::string cells;
        for (std::size_t c = 0; c < sheet.rows[r].size(); ++c)
            cells += cell_xml(sheet.rows[r][c], Address{std::uint32_t(r), std::uint32_t(c)}, styles);
        if (!cells.empty())
            xml += "<row r=\"" + std::to_string(r + 1) + "\">" + cells + "</row>";
    }
    xml +=
        "</sheetData><pageMargins left=\"0.5\" right=\"0.5\" top=\"0.5\" bottom=\"0.5\" header=\"0.3\" footer=\"0.3\"/>"
        "<pageSetup orientation=\"landscape\" fitToWidth=\"1\" fitToHeight=\"0\"/>";
    if (with_drawing)
        xml += "<drawing r:id=\"rId1\"/>";
    return xml + "</worksheet>";
}

std::string relationships_xml(const std::vector<std::pair<std::string, std::string>>& type_targets) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n<Relationships xmlns=\"" +
                      std::string(package_relationships_namespace) + "\">";
    for (std::size_t k = 0; k < type_targets.size(); ++k)
        xml += "<Relationship Id=\"rId" + std::to_string(k + 1) + "\" Type=\"" + relationships_namespace + "/" +
               type_targets[k].first + "\" Target=\"" + xml_escaped(type_targets[k].second) + "\"/>";
    return xml + "</Relationships>";
}

// The prefix under which an element's document declares `uri`, declaring it as "r" (or a
// free variant) when it does not.
std::string namespace_prefix(pugi::xml_node root, const char* uri) {
    for (pugi::xml_attribute a = root.first_attribute(); a; a = a.next_attribute()) {
        std::string name = a.name();
        if (name.compare(0, 6, "xmlns:") == 0 && std::string(a.value()) == uri)
            return name.substr(6);
    }
    std::string prefix = "r";
    while (root.attribute(("xmlns:" + prefix).c_str()))
        prefix += "r";
    root.append_attribute(("xmlns:" + prefix).c_str()).set_value(uri);
    return prefix;
}

} // namespace

std::string free_sheet_name(const std::vector<std::string>& sheet_names, const std::string& wanted) {
    std::set<std::string> taken;
    for (const std::string& name : sheet_names)
        taken.insert(lower_ascii(name));
    for (int n = 1;; ++n) {
        std::string suffix = n == 1 ? std::string() : " (" + std::to_string(n) + ")";
        std::string name = wanted.substr(0, 31 - suffix.size()) + suffix;
        if (taken.count(lower_ascii(name)) == 0)
            return name;
    }
}

std::string add_report_sheet(const std::string& file, const std::string& bytes, const ReportSheet& sheet,
                             std::string& added_name) {
    Package package(file, bytes);
    package.loaded();
    std::string workbook_part = find_workbook_part(package);
    std::string workbook_dir = directory_of(workbook_part);
    std::string workbook_rels = Package::rels_name(workbook_part);
    if (!package.has(workbook_rels))
        throw IoError(file, "missing part " + workbook_rels);

    XmlDocument workbook = parse_xml(file, workbook_part, package.read(package.find(workbook_part)), true);
    XmlDocument rels = parse_xml(file, workbook_rels, package.read(package.find(workbook_rels)), true);
    XmlDocument types = parse_xml(file, "[Content_Types].xml", package.read(package.find("[Content_Types].xml")), true);

    pugi::xml_node sheets = child(workbook.root(), "sheets");
    if (!sheets)
        throw IoError(file, "the workbook part lists no sheets");
    std::vector<std::string> names;
    unsigned sheet_id = 0;
    for (pugi::xml_node s = sheets.first_child(); s; s = s.next_sibling()) {
        if (s.type() != pugi::node_element)
            continue;
        names.push_back(s.attribute("name").value());
        sheet_id = std::max(sheet_id, s.attribute("sheetId").as_uint());
    }
    added_name = free_sheet_name(names, sheet.name);

    // New parts beside the workbook's own.
    std::set<std::string> taken;
    auto new_part = [&](const std::string& stem, bool bare = false) {
        std::string name = free_part(package, taken, workbook_dir + stem, bare);
        taken.insert(lower_ascii(name));
        return name;
    };
    std::string sheet_part = new_part("worksheets/sheet");
    std::string drawing_part;
    std::vector<std::string> chart_parts;
    if (!sheet.charts.empty()) {
        drawing_part = new_part("drawings/drawing");
        for (std::size_t k = 0; k < sheet.charts.size(); ++k)
            chart_parts.push_back(new_part("charts/chart"));
    }

    // The sheet's styles join the workbook's style sheet, or make one.
    std::string styles_part;
    for (const Relationship& r : package.relationships(workbook_part))
        if (!r.external && r.type.size() >= 7 && r.type.compare(r.type.size() - 7, 7, "/styles") == 0 &&
            package.has(r.target))
            styles_part = package.find(r.target);
    std::map<std::string, std::string> replaced;
    StyleIndexes styles;
    if (styles_part.empty()) {
        styles_part = new_part("styles", true);
        XmlDocument style_sheet = parse_xml(file, styles_part, new_style_sheet(), true);
        styles = add_report_styles(style_sheet.root());
        replaced[styles_part] = write_xml(style_sheet.doc());
        append_relationship(rels.root(), "styles", relative_target(workbook_dir, styles_part));
        append_override(types.root(), styles_part, "spreadsheetml.styles+xml");
    } else {
        XmlDocument style_sheet = parse_xml(file, styles_part, package.read(styles_part), true);
        styles = add_report_styles(style_sheet.root());
        replaced[styles_part] = write_xml(style_sheet.doc());
    }

    pugi::xml_node relationship =
        append_relationship(rels.root(), "worksheet", relative_target(workbook_dir, sheet_part));
    std::string r_prefix = namespace_prefix(workbook.root(), relationships_namespace);
    pugi::xml_node entry = sheets.append_child((prefix_of(sheets) + "sheet").c_str());
    entry.append_attribute("name").set_value(added_name.c_str());
    entry.append_attribute("sheetId").set_value(sheet_id + 1);
    entry.append_attribute((r_prefix + ":id").c_str()).set_value(relationship.attribute("Id").value());
    append_override(types.root(), sheet_part, "spreadsheetml.worksheet+xml");
    if (!drawing_part.empty())
        append_override(types.root(), drawing_part, "drawing+xml");
    for (const std::string& part : chart_parts)
        append_override(types.root(), part, "drawingml.chart+xml");

    replaced[package.find(workbook_part)] = write_xml(workbook.doc());
    replaced[package.find(workbook_rels)] = write_xml(rels.doc());
    replaced[package.find("[Content_Types].xml")] = write_xml(types.doc());

    PackageWriter writer(file);
    for (const std::string& name : package.entries()) {
        auto edited = replaced.find(name);
        if (edited != replaced.end()) {
            writer.add(name, std::move(edited->second));
            replaced.erase(edited);
        } else {
            writer.copy(package, name);
        }
    }
    for (auto& [name, text] : replaced)
        writer.add(name, std::move(text)); // a new style sheet
    writer.add(sheet_part, worksheet_xml(file, sheet, styles, !drawing_part.empty()));
    if (!drawing_part.empty()) {
        writer.add(Package::rels_name(sheet_part),
                   relationships_xml({{"drawing", relative_target(directory_of(sheet_part), drawing_part)}}));
        writer.add(drawing_part, drawing_part_xml(sheet.charts));
        std::vector<std::pair<std::string, std::string>> chart_targets;
        for (std::size_t k = 0; k < chart_parts.size(); ++k) {
            chart_targets.emplace_back("chart", relative_target(directory_of(drawing_part), chart_parts[k]));
            writer.add(chart_parts[k], chart_part_xml(sheet.charts[k], sheet, added_name));
        }
        writer.add(Package::rels_name(drawing_part), relationships_xml(chart_targets));
    }
    return writer.finish();
}

std::string save_with_report(const Document& document, const std::string& path, const ReportSheet& sheet) {
    if (format_of(path) != Format::Xlsx)
        throw IoError(path, "a report sheet can only be saved in an .xlsx workbook");
    std::string added_name;
    std::string bytes = add_report_sheet(path, xlsx_bytes(document, path), sheet, added_name);
    write_file_atomically(path, bytes);
    return added_name;
}

} // namespace host::io
