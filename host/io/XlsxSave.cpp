// Writing a workbook back: the original package with only the changed worksheets rewritten,
// or a new package for a workbook that did not come from an .xlsx file.
#include "io/Xlsx.hpp"

#include "engine/FileForm.hpp"
#include "io/IoError.hpp"
#include "io/XlsxCellXml.hpp"
#include "io/XlsxMetadata.hpp"
#include "io/XlsxParts.hpp"
#include "io/XlsxSheetEdit.hpp"
#include "io/Xml.hpp"

#include <cctype>
#include <cstdint>
#include <map>
#include <utility>

namespace host::io {

namespace {

const char* const main_namespace = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const char* const rel_namespace = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string mark_full_calculation(const std::string& file, const std::string& part, std::string text) {
    XmlDocument doc = parse_xml(file, part, std::move(text), true);
    pugi::xml_node root = doc.root();
    pugi::xml_node calc = child(root, "calcPr");
    if (!calc) {
        // calcPr follows these in the workbook's element order.
        static const char* const before[] = {"fileVersion",        "fileSharing",        "workbookPr",
                                             "workbookProtection", "bookViews",          "sheets",
                                             "functionGroups",     "externalReferences", "definedNames"};
        pugi::xml_node after;
        for (pugi::xml_node c = root.first_child(); c; c = c.next_sibling())
            for (const char* name : before)
                if (c.type() == pugi::node_element && is(c, name))
                    after = c;
        std::string name = prefix_of(root) + "calcPr";
        calc = after ? root.insert_child_after(name.c_str(), after) : root.prepend_child(name.c_str());
    }
    set_attribute(calc, "fullCalcOnLoad", "1");
    return write_xml(doc.doc());
}

bool same_name(const char* a, const std::string& b) {
    std::string x = a;
    if (x.size() != b.size())
        return false;
    for (std::size_t i = 0; i < x.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(x[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The workbook part with the defined names edited: each replaces its name in its scope (the
// position of its sheet in the part's sheet list), or joins the list hidden.
std::string edit_defined_names(const std::string& file, const std::string& part, std::string text,
                               const engine::Workbook& book, const std::vector<Document::NameEdit>& edits) {
    if (edits.empty())
        return text;
    XmlDocument doc = parse_xml(file, part, std::move(text), true);
    pugi::xml_node root = doc.root();
    std::vector<std::string> order;
    for (pugi::xml_node s = child(child(root, "sheets"), "sheet"); s; s = s.next_sibling())
        if (s.type() == pugi::node_element && is(s, "sheet"))
            order.push_back(s.attribute("name").value());
    pugi::xml_node names = child(root, "definedNames");
    if (!names) {
        static const char* const before[] = {"fileVersion", "fileSharing", "workbookPr",     "workbookProtection",
                                             "bookViews",   "sheets",      "functionGroups", "externalReferences"};
        pugi::xml_node after;
        for (pugi::xml_node c = root.first_child(); c; c = c.next_sibling())
            for (const char* name : before)
                if (c.type() == pugi::node_element && is(c, name))
                    after = c;
        std::string name = prefix_of(root) + "definedNames";
        names = after ? root.insert_child_after(name.c_str(), after) : root.prepend_child(name.c_str());
    }
    for (const Document::NameEdit& edit : edits) {
        std::string local;
        if (edit.sheet >= 0)
            for (std::size_t p = 0; p < order.size(); ++p)
                if (same_name(order[p].c_str(), book.sheet_name(edit.sheet)))
                    local = std::to_string(p);
        pugi::xml_node found;
        for (pugi::xml_node n = names.first_child(); n && !found; n = n.next_sibling())
            if (n.type() == pugi::node_element && is(n, "definedName") &&
                same_name(n.attribute("name").value(), edit.name) && local == n.attribute("localSheetId").value())
                found = n;
        if (!found) {
            found = names.append_child((prefix_of(root) + "definedName").c_str());
            found.append_attribute("name").set_value(edit.name.c_str());
            if (!local.empty())
                found.append_attribute("localSheetId").set_value(local.c_str());
            found.append_attribute("hidden").set_value("1");
        }
        found.text().set(engine::formula_for_file(edit.formula).c_str());
    }
    return write_xml(doc.doc());
}

const char* const xml_declaration = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

std::string xml_text(pugi::xml_document& doc) { return xml_declaration + write_xml(doc); }

// A package of our own, for a workbook that did not come from an .xlsx file.
std::string new_package(const engine::Workbook& book, const std::string& file,
                        const std::vector<Document::NameEdit>& edits) {
    PackageWriter writer(file);
    int count = book.sheet_count();
    SavedMetadata metadata(nullptr, "xl/workbook.xml");
    // The sheets first: they say which metadata the package needs.
    std::vector<std::string> sheet_texts;

    // Written as text, cell by cell: as a document, a sheet of 100,000 formulas took seven
    // times the memory of its text and most of the time of saving it.
    for (int s = 0; s < count; ++s) {
        std::string text = xml_declaration;
        text += "<worksheet xmlns=\"";
        text += main_namespace;
        text += "\">";
        std::int32_t row_number = -1;
        book.for_each_cell(s, [&](std::int32_t rr, std::int32_t cc, const engine::Value& value) {
            if (rr != row_number) {
                text += row_number < 0 ? "<sheetData><row r=\"" : "</row><row r=\"";
                text += std::to_string(rr + 1);
                text += "\">";
                row_number = rr;
            }
            append_cell(text, book, engine::CellAddress{s, rr, cc}, Address{std::uint32_t(rr), std::uint32_t(cc)},
                        value, metadata);
        });
        text += row_number < 0 ? "<sheetData/></worksheet>" : "</row></sheetData></worksheet>";
        sheet_texts.push_back(std::move(text));
    }
    pugi::xml_document types;
    pugi::xml_node t = types.append_child("Types");
    t.append_attribute("xmlns").set_value("http://schemas.openxmlformats.org/package/2006/content-types");
    pugi::xml_node d = t.append_child("Default");
    d.append_attribute("Extension").set_value("rels");
    d.append_attribute("ContentType").set_value("application/vnd.openxmlformats-package.relationships+xml");
    d = t.append_child("Default");
    d.append_attribute("Extension").set_value("xml");
    d.append_attribute("ContentType").set_value("application/xml");
    pugi::xml_node o = t.append_child("Override");
    o.append_attribute("PartName").set_value("/xl/workbook.xml");
    o.append_attribute("ContentType")
        .set_value("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml");
    for (int s = 0; s < count; ++s) {
        o = t.append_child("Override");
        o.append_attribute("PartName").set_value(("/xl/worksheets/sheet" + std::to_string(s + 1) + ".xml").c_str());
        o.append_attribute("ContentType")
            .set_value("application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml");
    }
    std::vector<SavedMetadata::Part> parts = metadata.parts();
    for (const SavedMetadata::Part& part : parts)
        SavedMetadata::register_part(part, pugi::xml_node(), t);
    writer.add("[Content_Types].xml", xml_text(types));

    pugi::xml_document rels;
    pugi::xml_node r = rels.append_child("Relationships");
    r.append_attribute("xmlns").set_value("http://schemas.openxmlformats.org/package/2006/relationships");
    pugi::xml_node rel = r.append_child("Relationship");
    rel.append_attribute("Id").set_value("rId1");
    rel.append_attribute("Type").set_value((std::string(rel_namespace) + "/officeDocument").c_str());
    rel.append_attribute("Target").set_value("xl/workbook.xml");
    writer.add("_rels/.rels", xml_text(rels));

    pugi::xml_document wb;
    pugi::xml_node w = wb.append_child("workbook");
    w.append_attribute("xmlns").set_value(main_namespace);
    w.append_attribute("xmlns:r").set_value(rel_namespace);
    if (book.date1904())
        w.append_child("workbookPr").append_attribute("date1904").set_value("1");
    w.append_child("bookViews")
        .append_child("workbookView")
        .append_attribute("activeTab")
        .set_value(book.active_sheet());
    pugi::xml_node sheets = w.append_child("sheets");
    for (int s = 0; s < count; ++s) {
        pugi::xml_node sh = sheets.append_child("sheet");
        sh.append_attribute("name").set_value(book.sheet_name(s).c_str());
        sh.append_attribute("sheetId").set_value(s + 1);
        sh.append_attribute("r:id").set_value(("rId" + std::to_string(s + 1)).c_str());
    }
    std::vector<std::string> names = book.names();
    if (!names.empty() || !edits.empty()) {
        pugi::xml_node defined = w.append_child("definedNames");
        for (const std::string& name : names) {
            bool edited = false;
            for (const Document::NameEdit& e : edits)
                edited = edited || (e.sheet < 0 && same_name(name.c_str(), e.name));
            if (edited)
                continue;
            pugi::xml_node n = defined.append_child("definedName");
            n.append_attribute("name").set_value(name.c_str());
            n.text().set(engine::formula_for_file(book.name_formula(name)).c_str());
        }
        for (const Document::NameEdit& e : edits) {
            pugi::xml_node n = defined.append_child("definedName");
            n.append_attribute("name").set_value(e.name.c_str());
            if (e.sheet >= 0)
                n.append_attribute("localSheetId").set_value(e.sheet);
            n.append_attribute("hidden").set_value("1");
            n.text().set(engine::formula_for_file(e.formula).c_str());
        }
    }
    pugi::xml_node calc = w.append_child("calcPr");
    calc.append_attribute("fullCalcOnLoad").set_value("1");
    if (book.calc_settings().iterate) {
        calc.append_attribute("iterate").set_value("1");
        calc.append_attribute("iterateCount").set_value(book.calc_settings().max_iterations);
        calc.append_attribute("iterateDelta").set_value(book.calc_settings().max_change);
    }
    writer.add("xl/workbook.xml", xml_text(wb));

    pugi::xml_document wbrels;
    r = wbrels.append_child("Relationships");
    r.append_attribute("xmlns").set_value("http://schemas.openxmlformats.org/package/2006/relationships");
    for (int s = 0; s < count; ++s) {
        rel = r.append_child("Relationship");
        rel.append_attribute("Id").set_value(("rId" + std::to_string(s + 1)).c_str());
        rel.append_attribute("Type").set_value((std::string(rel_namespace) + "/worksheet").c_str());
        rel.append_attribute("Target").set_value(("worksheets/sheet" + std::to_string(s + 1) + ".xml").c_str());
    }
    for (const SavedMetadata::Part& part : parts)
        SavedMetadata::register_part(part, r, pugi::xml_node());
    writer.add("xl/_rels/workbook.xml.rels", xml_text(wbrels));

    for (std::string& text : sheet_texts)
        writer.add("xl/worksheets/sheet" + std::to_string(&text - sheet_texts.data() + 1) + ".xml", std::move(text));
    for (SavedMetadata::Part& part : parts)
        writer.add(part.name, std::move(part.text));
    return writer.finish();
}

} // namespace

std::string xlsx_bytes(const Document& document, const std::string& file) {
    const engine::Workbook& book = document.workbook;
    if (!document.package)
        return new_package(book, file, document.name_edits);
    const Package& package = *document.package;
    if (std::size_t(book.sheet_count()) != document.sheet_parts.size())
        throw IoError(file, "sheets were added or removed after loading; the workbook cannot be "
                            "written back over its original package");

    std::string workbook_part = document.workbook_part;
    std::vector<std::string> strings;
    bool date1904 = false;
    {
        for (const Relationship& r : package.relationships(workbook_part))
            if (!r.external && r.type.size() >= 14 && r.type.compare(r.type.size() - 14, 14, "/sharedStrings") == 0 &&
                package.has(r.target))
                strings = read_shared_strings(package, r.target);
        XmlDocument wb = parse_xml(package.file(), workbook_part, package.read(workbook_part));
        if (pugi::xml_node pr = child(wb.root(), "workbookPr")) {
            std::string v = pr.attribute("date1904").value();
            date1904 = v == "1" || v == "true";
        }
    }

    std::map<std::string, std::string> replaced;
    SavedMetadata metadata(&package, workbook_part);
    for (int s = 0; s < book.sheet_count(); ++s) {
        const std::string& part = document.sheet_parts[std::size_t(s)];
        if (part.empty())
            continue;
        std::string text =
            edit_sheet(file, package, book, s, part, strings, date1904, document.unread_formulas, metadata);
        if (!text.empty())
            replaced[package.find(part)] = std::move(text);
    }
    replaced[package.find(workbook_part)] =
        edit_defined_names(file, workbook_part, mark_full_calculation(file, workbook_part, package.read(workbook_part)),
                           book, document.name_edits);

    // Metadata the sheets now need, in parts of their own or the package's.
    std::vector<SavedMetadata::Part> added;
    for (SavedMetadata::Part& part : metadata.parts()) {
        if (part.added)
            added.push_back(std::move(part));
        else
            replaced[package.find(part.name)] = std::move(part.text);
    }
    if (!added.empty()) {
        const std::string rels_part = Package::rels_name(workbook_part);
        const std::string types_part = "[Content_Types].xml";
        if (!package.has(rels_part) || !package.has(types_part))
            throw IoError(file, "the package lacks its relationships or content types");
        XmlDocument rels = parse_xml(file, rels_part, package.read(package.find(rels_part)), true);
        XmlDocument types = parse_xml(file, types_part, package.read(package.find(types_part)), true);
        for (const SavedMetadata::Part& part : added)
            SavedMetadata::register_part(part, rels.root(), types.root());
        replaced[package.find(rels_part)] = write_xml(rels.doc());
        replaced[package.find(types_part)] = write_xml(types.doc());
    }

    PackageWriter writer(file);
    for (const std::string& entry : package.entries()) {
        auto edited = replaced.find(entry);
        if (edited != replaced.end())
            writer.add(entry, std::move(edited->second));
        else
            writer.copy(package, entry);
    }
    for (SavedMetadata::Part& part : added)
        writer.add(part.name, std::move(part.text));
    return writer.finish();
}

void save_xlsx(const Document& document, const std::string& path) {
    write_file_atomically(path, xlsx_bytes(document, path));
}

} // namespace host::io
