#include "io/XlsxParts.hpp"

#include "engine/FileForm.hpp"
#include "io/IoError.hpp"
#include "io/XlsxLoad.hpp"
#include "io/Xml.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace host::io {

bool type_is(const std::string& type, const char* suffix) {
    std::string tail = std::string("/") + suffix;
    return type.size() >= tail.size() && type.compare(type.size() - tail.size(), tail.size(), tail) == 0;
}

namespace {

const char* const conventional_workbook_part = "xl/workbook.xml";

// The text of an <si> or <is>: the plain <t> and every run's <t>, phonetic runs left out.
std::string rich_text(const pugi::xml_node& node) {
    std::string out;
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element)
            continue;
        if (is(c, "t")) {
            out += c.child_value();
        } else if (is(c, "r")) {
            pugi::xml_node t = child(c, "t");
            if (t)
                out += t.child_value();
        }
    }
    return decode_escapes(std::move(out));
}

bool ends_name(char c) { return c == ' ' || c == '>' || c == '/' || c == '\t' || c == '\n' || c == '\r' || c == '<'; }

// Elements with the given local name in text, counted without parsing it ("<c ", "<c>",
// "<x:c/>" for "c"). A name that runs into the end is not counted. One pass, no calls but
// the search for '<': it runs over every byte of every sheet.
std::size_t count_tags(const char* p, const char* const end, std::string_view tag) {
    std::size_t count = 0;
    while ((p = static_cast<const char*>(std::memchr(p, '<', std::size_t(end - p)))) != nullptr) {
        const char* local = ++p;
        for (; p < end && !ends_name(*p); ++p)
            if (*p == ':')
                local = p + 1;
        if (p < end && *p != '<' && std::size_t(p - local) == tag.size() && std::equal(local, p, tag.begin()))
            ++count;
    }
    return count;
}

// Counts the tags of a part's text as it is decompressed: each time up to its last '<',
// whose name may not have arrived whole.
class TagCounter {
public:
    explicit TagCounter(std::string_view tag) : tag_(tag) {}
    std::size_t count(const std::string& text, bool whole) {
        const std::size_t upto = whole ? text.size() : text.rfind('<');
        if (upto != std::string::npos && upto > scanned_) {
            total_ += count_tags(text.data() + scanned_, text.data() + upto, tag_);
            scanned_ = upto;
        }
        return total_;
    }

private:
    std::string_view tag_;
    std::size_t scanned_ = 0;
    std::size_t total_ = 0;
};

} // namespace

std::string read_counted(const Package& package, const std::string& part, const char* tag, bool are_cells,
                         LoadCost& cost, const std::function<void(const std::string&)>& refuse) {
    TagCounter counter(tag);
    auto check = [&](const std::string& text, bool whole) {
        const std::size_t elements = counter.count(text, whole);
        const std::string why = cost.over(package.limits(), text.size(), elements, are_cells);
        if (!why.empty())
            refuse(why);
        return elements;
    };
    std::string text = package.read(part, [&](const std::string& so_far) { check(so_far, false); });
    cost.add(text.size(), check(text, true), are_cells);
    return text;
}

namespace {

std::vector<std::string> shared_strings(const Package& package, const std::string& part, LoadCost* cost) {
    std::string text = cost ? read_counted(package, part, "si", false, *cost,
                                           [&](const std::string& why) {
                                               throw IoError(package.file(), why +
                                                                                 " (the limit was crossed "
                                                                                 "reading part " +
                                                                                 part + ")");
                                           })
                            : package.read(part);
    std::vector<std::string> out;
    XmlDocument doc = parse_xml(package.file(), part, std::move(text));
    for (pugi::xml_node si = doc.root().first_child(); si; si = si.next_sibling())
        if (si.type() == pugi::node_element && is(si, "si"))
            out.push_back(rich_text(si));
    return out;
}

} // namespace

std::vector<std::string> read_shared_strings(const Package& package, const std::string& part) {
    return shared_strings(package, part, nullptr);
}

bool decode_value(const pugi::xml_node& c, const std::vector<std::string>& strings, bool date1904, engine::Value& out,
                  std::string& why, std::vector<engine::Value>* interned) {
    out = engine::Value();
    pugi::xml_node v = child(c, "v");
    std::string_view type = c.attribute("t").value();
    if (type.empty())
        type = "n";
    if (type == "inlineStr") {
        pugi::xml_node inline_string = child(c, "is");
        if (inline_string)
            out = engine::Value::text(rich_text(inline_string));
        else if (v)
            out = engine::Value::text(decode_escapes(v.child_value()));
        return true;
    }
    if (!v)
        return true;
    std::string text = v.child_value();
    // Some producers write an empty <v/> for a formula they did not calculate.
    if (type != "str" && trim_xml_space(text).empty())
        return true;
    if (type == "n") {
        double x = 0;
        if (!read_double(text, x)) {
            why = "bad number '" + text + "'";
            return false;
        }
        out = engine::Value::number(x);
    } else if (type == "s") {
        long long index = -1;
        if (!read_int(text, index) || index < 0 || static_cast<unsigned long long>(index) >= strings.size()) {
            why = "shared string " + text + " does not exist";
            return false;
        }
        if (!interned) {
            out = engine::Value::text(strings[std::size_t(index)]);
        } else {
            interned->resize(strings.size());
            engine::Value& shared = (*interned)[std::size_t(index)];
            if (!shared.is_text())
                shared = engine::Value::text(strings[std::size_t(index)]);
            out = shared;
        }
    } else if (type == "str") {
        out = engine::Value::text(decode_escapes(text));
    } else if (type == "b") {
        std::string_view t = trim_xml_space(text);
        if (t == "1" || t == "true")
            out = engine::Value::boolean(true);
        else if (t == "0" || t == "false")
            out = engine::Value::boolean(false);
        else {
            why = "bad boolean '" + text + "'";
            return false;
        }
    } else if (type == "e") {
        auto code = engine::parse_error(trim_xml_space(text));
        // Error kinds the engine does not know (#FIELD!, #BLOCKED!, ...) read as #N/A.
        out = engine::Value::error(code ? *code : engine::ErrorCode::NA);
    } else if (type == "d") {
        double serial = 0;
        if (!parse_iso_date(std::string(trim_xml_space(text)), date1904, serial)) {
            why = "bad date '" + text + "'";
            return false;
        }
        out = engine::Value::number(serial);
    } else {
        why = "unknown cell type '" + std::string(type) + "'";
        return false;
    }
    return true;
}

bool read_active_filter(const pugi::xml_node& auto_filter, Block& range) {
    bool criteria = false;
    for (pugi::xml_node column = auto_filter.first_child(); column && !criteria; column = column.next_sibling())
        if (column.type() == pugi::node_element && is(column, "filterColumn"))
            for (pugi::xml_node c = column.first_child(); c && !criteria; c = c.next_sibling())
                criteria = c.type() == pugi::node_element;
    return criteria && parse_block(auto_filter.attribute("ref").value(), range) == A1Parse::Ok;
}

bool formula_is_read(const pugi::xml_node& f) {
    const std::string_view type = f.attribute("t").value();
    if (type == "shared" || type == "array")
        return true;
    return (type.empty() || type == "normal") && !trim_xml_space(f.child_value()).empty();
}

std::string find_workbook_part(const Package& package) {
    for (const Relationship& r : package.relationships(""))
        if (!r.external && type_is(r.type, "officeDocument"))
            return r.target;
    if (!package.has("_rels/.rels")) {
        // Other readers then look where the workbook part usually is, and so do we.
        if (package.has(conventional_workbook_part))
            return conventional_workbook_part;
        throw IoError(package.file(), "not an .xlsx workbook (missing parts _rels/.rels and " +
                                          std::string(conventional_workbook_part) + ")");
    }
    throw IoError(package.file(), "not an .xlsx workbook (no workbook in the package)");
}

bool saved_by_spreadsheet(const Package& package) {
    std::string part = "docProps/app.xml";
    for (const Relationship& r : package.relationships(""))
        if (!r.external && type_is(r.type, "extended-properties"))
            part = r.target;
    if (!package.has(part))
        return false;
    try {
        XmlDocument doc = parse_xml(package.file(), part, package.read(part));
        // "Microsoft Excel", "Microsoft Macintosh Excel", "Microsoft Excel Online"...
        return std::string_view(child(doc.root(), "Application").child_value()).find("Excel") != std::string_view::npos;
    } catch (const IoError&) {
        return false; // properties that do not read say nothing
    }
}

WorkbookRecord read_workbook_parts(const Package& package) {
    WorkbookRecord book;
    book.workbook_part = find_workbook_part(package);
    book.spreadsheet_saved = saved_by_spreadsheet(package);
    if (!package.has(book.workbook_part))
        throw IoError(package.file(), "missing part " + book.workbook_part);
    std::vector<Relationship> rels = package.relationships(book.workbook_part);
    std::unordered_map<std::string, const Relationship*> by_id;
    for (const Relationship& r : rels) {
        by_id[r.id] = &r;
        if (!r.external && type_is(r.type, "sharedStrings"))
            book.shared_strings_part = r.target;
    }

    XmlDocument doc = parse_xml(package.file(), book.workbook_part, package.read(book.workbook_part));
    pugi::xml_node root = doc.root();
    if (pugi::xml_node pr = child(root, "workbookPr")) {
        std::string v = pr.attribute("date1904").value();
        book.date1904 = v == "1" || v == "true";
    }
    if (pugi::xml_node calc = child(root, "calcPr")) {
        std::string on = calc.attribute("iterate").value();
        book.calc.iterate = on == "1" || on == "true";
        long long count = 0;
        if (read_int(calc.attribute("iterateCount").value(), count) && count >= 1 && count <= 32767)
            book.calc.max_iterations = int(count);
        double delta = 0;
        if (read_double(calc.attribute("iterateDelta").value(), delta) && delta >= 0 && delta < 1e300)
            book.calc.max_change = delta;
    }
    // Sheets in the file's order -> their index in book.sheets, -1 for one skipped.
    std::vector<int> sheet_index;
    std::vector<std::string> skipped;
    pugi::xml_node sheets = child(root, "sheets");
    for (pugi::xml_node s = sheets.first_child(); s; s = s.next_sibling()) {
        if (s.type() != pugi::node_element || !is(s, "sheet"))
            continue;
        SheetRecord sheet;
        sheet.name = s.attribute("name").value();
        if (sheet.name.empty())
            throw IoError(package.file(), "a sheet without a name");
        for (const SheetRecord& other : book.sheets)
            if (other.name == sheet.name)
                throw IoError(package.file(), "two sheets named '" + sheet.name + "'");
        std::string state = s.attribute("state").value();
        sheet.hidden = !state.empty() && state != "visible";
        pugi::xml_attribute id = attribute_local(s, "id");
        // Macro workbooks may list very hidden sheets with no part at all (r:id=""): the
        // spreadsheet opens the rest, and so do we.
        if (id && *id.value() == '\0') {
            sheet_index.push_back(-1);
            skipped.push_back(sheet.name);
            continue;
        }
        auto found = by_id.find(id.value());
        if (found == by_id.end() || found->second->external)
            throw IoError(package.file(), sheet.name, std::string(), "the workbook names no part for this sheet");
        if (type_is(found->second->type, "worksheet")) {
            sheet.part = found->second->target;
            if (!package.has(sheet.part))
                throw IoError(package.file(), sheet.name, std::string(), "missing part " + sheet.part);
        }
        sheet_index.push_back(int(book.sheets.size()));
        book.sheets.push_back(std::move(sheet));
    }
    if (book.sheets.empty())
        throw IoError(package.file(), "the workbook has no sheets");
    // A position in the file's list of sheets as an index into book.sheets, -1 if skipped.
    auto book_sheet = [&](const char* text) {
        long long n = -1;
        if (!read_int(text, n) || n < 0 || n >= static_cast<long long>(sheet_index.size()))
            return -1;
        return sheet_index[std::size_t(n)];
    };

    if (pugi::xml_node views = child(root, "bookViews")) {
        if (pugi::xml_node view = child(views, "workbookView")) {
            int tab = book_sheet(view.attribute("activeTab").value());
            if (tab >= 0)
                book.active_sheet = tab;
        }
    }
    std::vector<int> names_dropped(sheet_index.size(), 0);
    if (pugi::xml_node names = child(root, "definedNames")) {
        for (pugi::xml_node n = names.first_child(); n; n = n.next_sibling()) {
            if (n.type() != pugi::node_element || !is(n, "definedName"))
                continue;
            NameRecord name;
            name.name = n.attribute("name").value();
            name.formula = std::string(trim_xml_space(n.child_value()));
            std::string hidden = n.attribute("hidden").value();
            name.hidden = hidden == "1" || hidden == "true";
            if (pugi::xml_attribute local = n.attribute("localSheetId")) {
                name.local_sheet = book_sheet(local.value());
                long long position = -1;
                // A name of a skipped sheet goes with it.
                if (name.local_sheet < 0 && read_int(local.value(), position) && position >= 0 &&
                    position < static_cast<long long>(sheet_index.size())) {
                    ++names_dropped[std::size_t(position)];
                    continue;
                }
            }
            book.names.push_back(std::move(name));
        }
    }
    for (std::size_t position = 0, k = 0; position < sheet_index.size(); ++position) {
        if (sheet_index[position] >= 0)
            continue;
        std::string what = "sheet '" + skipped[k++] + "' skipped: the workbook names no part for it";
        if (names_dropped[position] > 0)
            what += " (with its " + std::to_string(names_dropped[position]) + " local name" +
                    (names_dropped[position] > 1 ? "s" : "") + ")";
        book.warnings.push_back(what);
    }

    LoadCost cost;
    for (SheetRecord& sheet : book.sheets)
        if (!sheet.part.empty())
            read_tables(package, sheet);

    std::vector<std::string> strings;
    if (!book.shared_strings_part.empty() && package.has(book.shared_strings_part))
        strings = shared_strings(package, book.shared_strings_part, &cost);
    const RichErrors rich_errors = read_rich_errors(package, rels);
    for (SheetRecord& sheet : book.sheets) {
        if (sheet.part.empty())
            continue;
        read_sheet_cells(package, strings, sheet, book.date1904, cost, book.warnings, rich_errors);
        if (book.spreadsheet_saved)
            for (FormulaRecord& f : sheet.formulas)
                engine::unknown_unprefixed_calls(f.text);
    }
    if (book.spreadsheet_saved)
        for (NameRecord& name : book.names)
            engine::unknown_unprefixed_calls(name.formula);
    // [1] is the first external reference the workbook lists, whatever kind of link it is.
    int number = 0;
    for (pugi::xml_node r = child(child(root, "externalReferences"), "externalReference"); r; r = r.next_sibling()) {
        if (r.type() != pugi::node_element || !is(r, "externalReference"))
            continue;
        ++number;
        auto found = by_id.find(attribute_local(r, "id").value());
        if (found == by_id.end() || found->second->external || !package.has(found->second->target))
            continue;
        LinkRecord link;
        link.number = number;
        // The copy's cells are cells the workbook holds: they count as a sheet's do.
        const std::string& part = found->second->target;
        std::string text = read_counted(package, part, "cell", true, cost, [&](const std::string& why) {
            throw IoError(package.file(), why + " (the limit was crossed reading part " + part + ")");
        });
        if (read_link(package, part, std::move(text), strings, book.date1904, link.book))
            book.links.push_back(std::move(link));
    }
    return book;
}

} // namespace host::io
