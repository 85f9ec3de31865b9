// The parts beside the sheets that the reader takes from: the value metadata of errors newer
// than the file format, the sheets' table parts and the external links' copies of values.

#include "io/XlsxParts.hpp"

#include "io/IoError.hpp"
#include "io/Xml.hpp"

#include <optional>
#include <string_view>

namespace host::io {

// Through the value metadata, a rich value of structure "_error" whose errorType says which
// error; nothing where an entry is another.
RichErrors read_rich_errors(const Package& package, const std::vector<Relationship>& rels) {
    std::string metadata, values, structures;
    for (const Relationship& r : rels) {
        if (r.external || !package.has(r.target))
            continue;
        if (type_is(r.type, "sheetMetadata"))
            metadata = r.target;
        else if (type_is(r.type, "rdRichValue"))
            values = r.target;
        else if (type_is(r.type, "rdRichValueStructure"))
            structures = r.target;
    }
    RichErrors out;
    if (metadata.empty() || values.empty() || structures.empty())
        return out;
    auto elements = [](const pugi::xml_node& parent, const char* name) {
        std::vector<pugi::xml_node> list;
        for (pugi::xml_node n = parent.first_child(); n; n = n.next_sibling())
            if (n.type() == pugi::node_element && is(n, name))
                list.push_back(n);
        return list;
    };
    // The position of errorType among the keys of each structure, -1 for one of no error.
    std::vector<int> error_key;
    XmlDocument structure_doc = parse_xml(package.file(), structures, package.read(structures));
    for (const pugi::xml_node& st : elements(structure_doc.root(), "s")) {
        int at = -1, k = 0;
        for (const pugi::xml_node& key : elements(st, "k")) {
            if (std::string_view(key.attribute("n").value()) == "errorType")
                at = k;
            ++k;
        }
        error_key.push_back(std::string_view(st.attribute("t").value()) == "_error" ? at : -1);
    }
    // The errors of the rich values, in their order. errorType numbers them from #NULL! (0)
    // to #N/A (6), then #GETTING_DATA, #SPILL! (8) ... #CALC! (13).
    RichErrors rich;
    XmlDocument value_doc = parse_xml(package.file(), values, package.read(values));
    for (const pugi::xml_node& rv : elements(value_doc.root(), "rv")) {
        long long st = -1, type = -1;
        std::optional<engine::ErrorCode> error;
        if (read_int(rv.attribute("s").value(), st) && st >= 0 && st < static_cast<long long>(error_key.size()) &&
            error_key[std::size_t(st)] >= 0) {
            const auto v = elements(rv, "v");
            const std::size_t key = std::size_t(error_key[std::size_t(st)]);
            if (key < v.size() && read_int(v[key].child_value(), type)) {
                if (type >= 0 && type <= 6)
                    error = static_cast<engine::ErrorCode>(type);
                else if (type == 7)
                    error = engine::ErrorCode::GettingData;
                else if (type == 8)
                    error = engine::ErrorCode::Spill;
                else if (type == 13)
                    error = engine::ErrorCode::Calc;
            }
        }
        rich.push_back(error);
    }
    XmlDocument meta_doc = parse_xml(package.file(), metadata, package.read(metadata));
    pugi::xml_node root = meta_doc.root();
    std::vector<std::string> types;
    for (const pugi::xml_node& t : elements(child(root, "metadataTypes"), "metadataType"))
        types.push_back(t.attribute("name").value());
    std::vector<long long> rich_of_block; // the XLRICHVALUE future metadata: each block's rich value
    for (const pugi::xml_node& future : elements(root, "futureMetadata")) {
        if (std::string_view(future.attribute("name").value()) != "XLRICHVALUE")
            continue;
        for (const pugi::xml_node& bk : elements(future, "bk")) {
            long long i = -1;
            for (const pugi::xml_node& ext : elements(child(bk, "extLst"), "ext"))
                if (pugi::xml_node rvb = child(ext, "rvb"))
                    read_int(rvb.attribute("i").value(), i);
            rich_of_block.push_back(i);
        }
    }
    for (const pugi::xml_node& bk : elements(child(root, "valueMetadata"), "bk")) {
        std::optional<engine::ErrorCode> error;
        pugi::xml_node rc = child(bk, "rc");
        long long t = 0, v = -1;
        if (rc && read_int(rc.attribute("t").value(), t) && t >= 1 && t <= static_cast<long long>(types.size()) &&
            types[std::size_t(t - 1)] == "XLRICHVALUE" && read_int(rc.attribute("v").value(), v) && v >= 0 &&
            v < static_cast<long long>(rich_of_block.size())) {
            const long long i = rich_of_block[std::size_t(v)];
            if (i >= 0 && i < static_cast<long long>(rich.size()))
                error = rich[std::size_t(i)];
        }
        out.push_back(error);
    }
    return out;
}

// The sheet's table parts: name, place, header and totals rows, column names.
void read_tables(const Package& package, SheetRecord& sheet) {
    for (const Relationship& r : package.relationships(sheet.part)) {
        if (r.external || !type_is(r.type, "table") || !package.has(r.target))
            continue;
        XmlDocument doc = parse_xml(package.file(), r.target, package.read(r.target));
        pugi::xml_node t = doc.root();
        engine::TableDef table;
        table.name = t.attribute("displayName").value();
        if (table.name.empty())
            table.name = t.attribute("name").value();
        std::string ref = t.attribute("ref").value();
        std::size_t colon = ref.find(':');
        long long header = 1, totals = 0;
        if (t.attribute("headerRowCount"))
            read_int(t.attribute("headerRowCount").value(), header);
        if (t.attribute("totalsRowCount"))
            read_int(t.attribute("totalsRowCount").value(), totals);
        table.header_row = header > 0;
        table.totals_row = totals > 0;
        if (colon == std::string::npos || !engine::parse_a1(ref.substr(0, colon), table.first_row, table.first_col) ||
            !engine::parse_a1(ref.substr(colon + 1), table.last_row, table.last_col))
            throw IoError(package.file(), sheet.name, std::string(),
                          "table " + table.name + " has no valid range (" + ref + ")");
        if (pugi::xml_node columns = child(t, "tableColumns"))
            for (pugi::xml_node c = columns.first_child(); c; c = c.next_sibling())
                if (c.type() == pugi::node_element && is(c, "tableColumn"))
                    table.columns.push_back(decode_escapes(c.attribute("name").value()));
        // A part may list more columns than its range holds; the spreadsheet keeps the first
        // ones, those the range spans.
        const std::int64_t width = std::int64_t(table.last_col) - table.first_col + 1;
        if (width > 0 && std::int64_t(table.columns.size()) > width)
            table.columns.resize(std::size_t(width));
        Block filter;
        if (pugi::xml_node auto_filter = child(t, "autoFilter"))
            if (read_active_filter(auto_filter, filter))
                sheet.filters.push_back(filter);
        sheet.tables.push_back(std::move(table));
    }
}

// An external link part: the linked workbook's sheets, the values of its cells that formulas
// read and its names, as the spreadsheet saved them. DDE and OLE links hold none.
bool read_link(const Package& package, const std::string& part, std::string text,
               const std::vector<std::string>& strings, bool date1904, engine::LinkedBook& book) {
    XmlDocument doc = parse_xml(package.file(), part, std::move(text));
    pugi::xml_node external = child(doc.root(), "externalBook");
    if (!external)
        return false;
    if (pugi::xml_attribute id = attribute_local(external, "id"))
        for (const Relationship& r : package.relationships(part))
            if (r.id == id.value())
                book.file = r.target;
    for (pugi::xml_node n = child(child(external, "sheetNames"), "sheetName"); n; n = n.next_sibling())
        if (n.type() == pugi::node_element && is(n, "sheetName")) {
            book.sheets.emplace_back();
            book.sheets.back().name = decode_escapes(n.attribute("val").value());
        }
    for (pugi::xml_node n = child(child(external, "definedNames"), "definedName"); n; n = n.next_sibling()) {
        if (n.type() != pugi::node_element || !is(n, "definedName"))
            continue;
        engine::LinkedBook::Name name;
        name.name = n.attribute("name").value();
        name.refers_to = n.attribute("refersTo").value();
        long long sheet = -1;
        if (n.attribute("sheetId") && read_int(n.attribute("sheetId").value(), sheet) && sheet >= 0 &&
            sheet < static_cast<long long>(book.sheets.size()))
            name.sheet = int(sheet);
        book.names.push_back(std::move(name));
    }
    for (pugi::xml_node data = child(child(external, "sheetDataSet"), "sheetData"); data; data = data.next_sibling()) {
        long long sheet = -1;
        if (data.type() != pugi::node_element || !is(data, "sheetData") ||
            !read_int(data.attribute("sheetId").value(), sheet) || sheet < 0 ||
            sheet >= static_cast<long long>(book.sheets.size()))
            continue;
        engine::LinkedBook::Sheet& s = book.sheets[std::size_t(sheet)];
        const std::string_view refresh_error = data.attribute("refreshError").value();
        s.readable = refresh_error != "1" && refresh_error != "true";
        for (pugi::xml_node row = data.first_child(); row; row = row.next_sibling()) {
            if (row.type() != pugi::node_element || !is(row, "row"))
                continue;
            for (pugi::xml_node c = row.first_child(); c; c = c.next_sibling()) {
                Address at;
                engine::Value value;
                std::string why;
                if (c.type() != pugi::node_element || !is(c, "cell") ||
                    parse_address(c.attribute("r").value(), at) != A1Parse::Ok ||
                    !decode_value(c, strings, date1904, value, why))
                    continue; // a cell the copy does not hold readably is not in it
                s.cells.push_back({std::int32_t(at.row), std::int32_t(at.column), std::move(value)});
            }
        }
    }
    return true;
}

} // namespace host::io
