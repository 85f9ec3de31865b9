#include "io/CellFormats.hpp"

#include "engine/A1.hpp"
#include "engine/Display.hpp"
#include "io/Xml.hpp"

#include <cstdlib>
#include <map>

namespace host::io {

namespace {

std::uint64_t key(std::int32_t row, std::int32_t col) {
    return std::uint64_t(std::uint32_t(row)) << 32 | std::uint32_t(col);
}

int number_attribute(const pugi::xml_node& node, const char* name) {
    return int(std::strtol(node.attribute(name).value(), nullptr, 10));
}

// The code of each cell style (cellXfs) of a style sheet: its own numFmt, else a built-in one.
std::vector<std::string> style_codes(const pugi::xml_node& style_sheet) {
    std::map<int, std::string> own;
    std::vector<std::string> codes;
    for (pugi::xml_node list = style_sheet.first_child(); list; list = list.next_sibling()) {
        if (is(list, "numFmts")) {
            for (pugi::xml_node f = list.first_child(); f; f = f.next_sibling())
                if (is(f, "numFmt"))
                    own[number_attribute(f, "numFmtId")] = f.attribute("formatCode").value();
        } else if (is(list, "cellXfs")) {
            for (pugi::xml_node xf = list.first_child(); xf; xf = xf.next_sibling()) {
                if (!is(xf, "xf"))
                    continue;
                const int id = number_attribute(xf, "numFmtId");
                auto found = own.find(id);
                codes.emplace_back(found != own.end() ? found->second : std::string(engine::builtin_number_format(id)));
            }
        }
    }
    return codes;
}

} // namespace

CellFormats::CellFormats(const Document& document) : document_(document) {
    styles_.resize(std::size_t(document.workbook.sheet_count()));
    if (!document.package)
        return;
    const Package& package = *document.package;
    for (const Relationship& r : package.relationships(document.workbook_part))
        if (!r.external && r.type.size() >= 7 && r.type.compare(r.type.size() - 7, 7, "/styles") == 0 &&
            package.has(r.target))
            style_codes_ = style_codes(parse_xml(package.file(), r.target, package.read(r.target)).root());
    for (std::size_t s = 0; s < document.sheet_parts.size() && s < styles_.size(); ++s) {
        const std::string& part = document.sheet_parts[s];
        if (part.empty() || !package.has(part))
            continue;
        XmlDocument sheet = parse_xml(package.file(), part, package.read(part));
        for (pugi::xml_node data = sheet.root().first_child(); data; data = data.next_sibling()) {
            if (!is(data, "sheetData"))
                continue;
            std::int32_t row = -1;
            for (pugi::xml_node r = data.first_child(); r; r = r.next_sibling()) {
                if (!is(r, "row"))
                    continue;
                row = r.attribute("r") ? number_attribute(r, "r") - 1 : row + 1;
                std::int32_t col = -1;
                for (pugi::xml_node c = r.first_child(); c; c = c.next_sibling()) {
                    if (!is(c, "c"))
                        continue;
                    std::int32_t at_row = row, at_col = col + 1;
                    if (c.attribute("r") && !engine::parse_a1(c.attribute("r").value(), at_row, at_col))
                        continue;
                    col = at_col;
                    if (const int style = number_attribute(c, "s"); style > 0)
                        styles_[s][key(at_row, at_col)] = std::uint32_t(style);
                }
            }
        }
    }
}

std::string_view CellFormats::code(const engine::CellAddress& at) const {
    std::uint32_t style = 0;
    if (at.sheet >= 0 && std::size_t(at.sheet) < styles_.size()) {
        auto found = styles_[std::size_t(at.sheet)].find(key(at.row, at.col));
        if (found != styles_[std::size_t(at.sheet)].end())
            style = found->second;
    }
    if (style < style_codes_.size() && !style_codes_[style].empty())
        return style_codes_[style];
    return "General";
}

std::string CellFormats::shown(const engine::CellAddress& at) const {
    return engine::displayed(document_.workbook.value(at), code(at), document_.workbook.date1904());
}

} // namespace host::io
