#include "io/Xml.hpp"

#include "io/IoError.hpp"

#include <new>
#include <sstream>

namespace host::io {

namespace {

struct StringWriter : pugi::xml_writer {
    std::string out;
    void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

} // namespace

XmlDocument parse_xml(const std::string& file, const std::string& part, std::string text, bool faithful) {
    XmlDocument result;
    unsigned options = faithful ? (pugi::parse_full | pugi::parse_ws_pcdata) & ~unsigned(pugi::parse_eol)
                                // Text that is only white space (" " in a <t>) is a value.
                                : pugi::parse_default | pugi::parse_ws_pcdata_single;
    pugi::xml_parse_result parsed = result.doc_->load_buffer(text.data(), text.size(), options, pugi::encoding_auto);
    // Memory exhaustion is not the file's fault: it reaches the user as such.
    if (parsed.status == pugi::status_out_of_memory)
        throw std::bad_alloc();
    if (!parsed) {
        // Offsets are more useful to a user as a line number.
        std::size_t offset = std::size_t(parsed.offset);
        std::size_t line = 1;
        for (std::size_t i = 0; i < offset && i < text.size(); ++i)
            if (text[i] == '\n')
                ++line;
        std::ostringstream why;
        why << "malformed XML in part " << part << " (line " << line << "): " << parsed.description();
        throw IoError(file, why.str());
    }
    if (!result.root())
        throw IoError(file, "malformed XML in part " + part + ": no root element");
    return result;
}

std::string write_xml(const pugi::xml_document& doc) {
    StringWriter writer;
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return writer.out;
}

pugi::xml_attribute attribute_local(const pugi::xml_node& node, const char* name) {
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute()) {
        const char* n = a.name();
        const char* colon = std::strchr(n, ':');
        if (std::strcmp(colon ? colon + 1 : n, name) == 0)
            return a;
    }
    return pugi::xml_attribute();
}

std::string prefix_of(const pugi::xml_node& node) {
    const char* name = node.name();
    const char* colon = std::strchr(name, ':');
    return colon ? std::string(name, std::size_t(colon - name + 1)) : std::string();
}

} // namespace host::io
