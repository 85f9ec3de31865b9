// The metadata parts a save writes: dynamic-array marks and the rich values of newer errors,
// laid out as the spreadsheet program writes them.
#include "io/XlsxMetadata.hpp"

#include "io/IoError.hpp"
#include "io/XlsxCellXml.hpp"
#include "io/XlsxParts.hpp"

#include <string_view>

namespace host::io {

namespace {

const char* const rich_namespace = "http://schemas.microsoft.com/office/spreadsheetml/2017/richdata";
const char* const array_namespace = "http://schemas.microsoft.com/office/spreadsheetml/2017/dynamicarray";
const char* const rich_block_uri = "{3e2802c4-a4d2-4d8b-9148-e3be6c30e623}";
const char* const array_block_uri = "{bdbb8cdc-fa1e-496e-a857-3c3f30c029c3}";
const char* const head = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n";

struct PartKind {
    const char* relationship_suffix; // matched by type_is
    const char* relationship_type;
    const char* content_type;
    const char* stem; // beside the workbook part
    const char* skeleton;
};

const PartKind kinds[3] = {
    {"sheetMetadata", "http://schemas.openxmlformats.org/officeDocument/2006/relationships/sheetMetadata",
     "application/vnd.openxmlformats-officedocument.spreadsheetml.sheetMetadata+xml", "metadata",
     "<metadata xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"/>"},
    {"rdRichValue", "http://schemas.microsoft.com/office/2017/06/relationships/rdRichValue",
     "application/vnd.ms-excel.rdrichvalue+xml", "richData/rdrichvalue",
     "<rvData xmlns=\"http://schemas.microsoft.com/office/spreadsheetml/2017/richdata\" count=\"0\"/>"},
    {"rdRichValueStructure", "http://schemas.microsoft.com/office/2017/06/relationships/rdRichValueStructure",
     "application/vnd.ms-excel.rdrichvaluestructure+xml", "richData/rdrichvaluestructure",
     "<rvStructures xmlns=\"http://schemas.microsoft.com/office/spreadsheetml/2017/richdata\" count=\"0\"/>"},
};

unsigned count_elements(pugi::xml_node parent, const char* name) {
    unsigned n = 0;
    for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && is(c, name))
            ++n;
    return n;
}

void set_count(pugi::xml_node list, const char* item) {
    set_attribute(list, "count", std::to_string(count_elements(list, item)).c_str());
}

// The errorType number of a rich error value.
int error_type(engine::ErrorCode code) { return code == engine::ErrorCode::Spill ? 8 : 13; }

} // namespace

SavedMetadata::SavedMetadata(const Package* package, const std::string& workbook_part) : package_(package) {
    const std::size_t slash = workbook_part.rfind('/');
    directory_ = slash == std::string::npos ? std::string() : workbook_part.substr(0, slash + 1);
    for (int k = 0; k < 3; ++k)
        names_[k] = directory_ + kinds[k].stem + ".xml";
    if (!package_)
        return;
    const std::vector<Relationship> rels = package_->relationships(workbook_part);
    for (const Relationship& r : rels)
        for (int k = 0; k < 3; ++k)
            if (!r.external && type_is(r.type, kinds[k].relationship_suffix) && package_->has(r.target)) {
                names_[k] = package_->find(r.target);
                present_[k] = true;
            }
    // A new part's name must not be one the package already uses for something else.
    for (int k = 0; k < 3; ++k)
        for (int n = 2; !present_[k] && package_->has(names_[k]); ++n)
            names_[k] = directory_ + kinds[k].stem + std::to_string(n) + ".xml";
    errors_ = read_rich_errors(*package_, rels);
    for (std::size_t i = 0; i < errors_.size(); ++i)
        if (errors_[i] && is_rich(*errors_[i]) && !vm_.count(int(*errors_[i])))
            vm_[int(*errors_[i])] = unsigned(i + 1);
    if (present_[metadata_part]) {
        try {
            find_dynamic_array_mark();
        } catch (const IoError&) {
            // Read only if a spill needs its mark, which then fails with the reason.
        }
    }
}

// The first cell metadata entry that marks a dynamic array.
void SavedMetadata::find_dynamic_array_mark() {
    XmlDocument doc = parse_xml(package_->file(), names_[metadata_part], package_->read(names_[metadata_part]));
    pugi::xml_node meta = doc.root();
    std::vector<std::string> types;
    for (pugi::xml_node t = child(meta, "metadataTypes").first_child(); t; t = t.next_sibling())
        if (t.type() == pugi::node_element)
            types.push_back(t.attribute("name").value());
    unsigned k = 0;
    for (pugi::xml_node bk = child(meta, "cellMetadata").first_child(); bk && !cm_; bk = bk.next_sibling()) {
        if (bk.type() != pugi::node_element || !is(bk, "bk"))
            continue;
        ++k;
        const unsigned t = child(bk, "rc").attribute("t").as_uint();
        if (t >= 1 && t <= types.size() && types[t - 1] == "XLDAPR")
            cm_ = k;
    }
}

bool SavedMetadata::is_rich(engine::ErrorCode code) {
    return code == engine::ErrorCode::Spill || code == engine::ErrorCode::Calc;
}

std::optional<engine::ErrorCode> SavedMetadata::error_of(unsigned vm) const {
    if (vm >= 1 && vm <= errors_.size())
        return errors_[vm - 1];
    return std::nullopt;
}

pugi::xml_node SavedMetadata::root(Which which) {
    std::optional<XmlDocument>& d = docs_[which];
    if (!d)
        d = present_[which] ? parse_xml(package_->file(), names_[which], package_->read(names_[which]), true)
                            : parse_xml(std::string(), names_[which], std::string(head) + kinds[which].skeleton, true);
    return d->root();
}

std::string SavedMetadata::declare(const char* prefix, const char* uri) {
    pugi::xml_node meta = root(metadata_part);
    for (pugi::xml_attribute a = meta.first_attribute(); a; a = a.next_attribute()) {
        const std::string_view name = a.name();
        if (name.substr(0, 6) == "xmlns:" && std::string_view(a.value()) == uri)
            return std::string(name.substr(6));
    }
    std::string p = prefix;
    while (meta.attribute(("xmlns:" + p).c_str()))
        p += "x";
    meta.append_attribute(("xmlns:" + p).c_str()).set_value(uri);
    return p;
}

// A list of the metadata part, made where the schema's order puts it if missing.
pugi::xml_node SavedMetadata::metadata_list(const char* name) {
    static const char* const order[] = {"metadataTypes", "metadataStrings", "mdxMetadata", "futureMetadata",
                                        "cellMetadata",  "valueMetadata",   "extLst"};
    pugi::xml_node meta = root(metadata_part);
    if (std::string_view(name) != "futureMetadata")
        if (pugi::xml_node found = child(meta, name))
            return found;
    // After the last element that comes before it or is one of its kind.
    std::size_t rank = 0;
    while (std::string_view(order[rank]) != name)
        ++rank;
    pugi::xml_node after;
    for (pugi::xml_node c = meta.first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element)
            continue;
        for (std::size_t k = 0; k <= rank; ++k)
            if (is(c, order[k]))
                after = c;
    }
    const std::string element = prefix_of(meta) + name;
    return after ? meta.insert_child_after(element.c_str(), after) : meta.prepend_child(element.c_str());
}

unsigned SavedMetadata::metadata_type(const char* name) {
    pugi::xml_node types = metadata_list("metadataTypes");
    unsigned k = 0;
    for (pugi::xml_node t = types.first_child(); t; t = t.next_sibling()) {
        if (t.type() != pugi::node_element)
            continue;
        ++k;
        if (std::string_view(t.attribute("name").value()) == name)
            return k;
    }
    pugi::xml_node t = types.append_child((prefix_of(types) + "metadataType").c_str());
    t.append_attribute("name").set_value(name);
    t.append_attribute("minSupportedVersion").set_value("120000");
    for (const char* flag : {"copy", "pasteAll", "pasteValues", "merge", "splitFirst", "rowColShift", "clearFormats",
                             "clearComments", "assign", "coerce"})
        t.append_attribute(flag).set_value("1");
    if (std::string_view(name) == "XLDAPR")
        t.append_attribute("cellMeta").set_value("1");
    set_count(types, "metadataType");
    return k + 1;
}

pugi::xml_node SavedMetadata::new_future_block(const char* name, unsigned& index) {
    pugi::xml_node meta = root(metadata_part);
    pugi::xml_node future;
    for (pugi::xml_node c = meta.first_child(); c && !future; c = c.next_sibling())
        if (c.type() == pugi::node_element && is(c, "futureMetadata") &&
            std::string_view(c.attribute("name").value()) == name)
            future = c;
    if (!future) {
        future = metadata_list("futureMetadata");
        future.append_attribute("name").set_value(name);
    }
    index = count_elements(future, "bk");
    pugi::xml_node bk = future.append_child((prefix_of(meta) + "bk").c_str());
    set_count(future, "bk");
    return bk.append_child((prefix_of(meta) + "extLst").c_str()).append_child((prefix_of(meta) + "ext").c_str());
}

unsigned SavedMetadata::error_vm(engine::ErrorCode code) {
    auto found = vm_.find(int(code));
    if (found != vm_.end())
        return found->second;
    // A structure of one key, errorType.
    pugi::xml_node structures = root(structures_part);
    const std::string rp = prefix_of(structures);
    unsigned s = 0, structure = 0;
    bool have = false;
    for (pugi::xml_node st = structures.first_child(); st && !have; st = st.next_sibling()) {
        if (st.type() != pugi::node_element || !is(st, "s"))
            continue;
        const pugi::xml_node key = child(st, "k");
        if (std::string_view(st.attribute("t").value()) == "_error" && count_elements(st, "k") == 1 &&
            std::string_view(key.attribute("n").value()) == "errorType") {
            structure = s;
            have = true;
        }
        ++s;
    }
    if (!have) {
        structure = s;
        pugi::xml_node st = structures.append_child((rp + "s").c_str());
        st.append_attribute("t").set_value("_error");
        pugi::xml_node k = st.append_child((rp + "k").c_str());
        k.append_attribute("n").set_value("errorType");
        k.append_attribute("t").set_value("i");
        set_count(structures, "s");
        changed_[structures_part] = true;
    }
    pugi::xml_node values = root(values_part);
    const unsigned value = count_elements(values, "rv");
    pugi::xml_node rv = values.append_child((prefix_of(values) + "rv").c_str());
    rv.append_attribute("s").set_value(structure);
    rv.append_child((prefix_of(values) + "v").c_str()).text().set(error_type(code));
    set_count(values, "rv");
    changed_[values_part] = changed_[metadata_part] = true;

    const unsigned type = metadata_type("XLRICHVALUE");
    const std::string xlrd = declare("xlrd", rich_namespace);
    unsigned block = 0;
    pugi::xml_node ext = new_future_block("XLRICHVALUE", block);
    ext.append_attribute("uri").set_value(rich_block_uri);
    ext.append_child((xlrd + ":rvb").c_str()).append_attribute("i").set_value(value);
    pugi::xml_node list = metadata_list("valueMetadata");
    pugi::xml_node rc =
        list.append_child((prefix_of(list) + "bk").c_str()).append_child((prefix_of(list) + "rc").c_str());
    rc.append_attribute("t").set_value(type);
    rc.append_attribute("v").set_value(block);
    set_count(list, "bk");
    const unsigned vm = count_elements(list, "bk");
    vm_[int(code)] = vm;
    if (errors_.size() < vm)
        errors_.resize(vm);
    errors_[vm - 1] = code;
    return vm;
}

unsigned SavedMetadata::dynamic_array_cm() {
    if (cm_)
        return cm_;
    const unsigned type = metadata_type("XLDAPR");
    const std::string xda = declare("xda", array_namespace);
    unsigned block = 0;
    pugi::xml_node ext = new_future_block("XLDAPR", block);
    ext.append_attribute("uri").set_value(array_block_uri);
    pugi::xml_node p = ext.append_child((xda + ":dynamicArrayProperties").c_str());
    p.append_attribute("fDynamic").set_value("1");
    p.append_attribute("fCollapsed").set_value("0");
    pugi::xml_node list = metadata_list("cellMetadata");
    pugi::xml_node rc =
        list.append_child((prefix_of(list) + "bk").c_str()).append_child((prefix_of(list) + "rc").c_str());
    rc.append_attribute("t").set_value(type);
    rc.append_attribute("v").set_value(block);
    set_count(list, "bk");
    changed_[metadata_part] = true;
    cm_ = count_elements(list, "bk");
    return cm_;
}

std::vector<SavedMetadata::Part> SavedMetadata::parts() {
    std::vector<Part> out;
    for (int k = 0; k < 3; ++k) {
        if (!changed_[k])
            continue;
        Part part;
        part.name = names_[k];
        part.text = write_xml(docs_[k]->doc());
        if (!present_[k]) {
            part.added = true;
            part.content_type = kinds[k].content_type;
            part.relationship_type = kinds[k].relationship_type;
            part.target = names_[k].substr(directory_.size());
        }
        out.push_back(std::move(part));
    }
    return out;
}

void SavedMetadata::register_part(const Part& part, pugi::xml_node relationships, pugi::xml_node types) {
    if (!part.added)
        return;
    if (types) {
        pugi::xml_node o = types.append_child((prefix_of(types) + "Override").c_str());
        o.append_attribute("PartName").set_value(("/" + part.name).c_str());
        o.append_attribute("ContentType").set_value(part.content_type.c_str());
    }
    if (!relationships)
        return;
    std::string id;
    for (int n = 1; id.empty(); ++n) {
        const std::string candidate = "rId" + std::to_string(n);
        bool used = false;
        for (pugi::xml_node r = relationships.first_child(); r && !used; r = r.next_sibling())
            used = r.type() == pugi::node_element && candidate == r.attribute("Id").value();
        if (!used)
            id = candidate;
    }
    pugi::xml_node r = relationships.append_child((prefix_of(relationships) + "Relationship").c_str());
    r.append_attribute("Id").set_value(id.c_str());
    r.append_attribute("Type").set_value(part.relationship_type.c_str());
    r.append_attribute("Target").set_value(part.target.c_str());
}

} // namespace host::io
