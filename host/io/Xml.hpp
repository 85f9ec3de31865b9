#ifndef OMBRIX_IO_XML_HPP
#define OMBRIX_IO_XML_HPP

#include <pugixml.hpp>

#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace host::io {

// A parsed XML part.
class XmlDocument {
public:
    pugi::xml_document& doc() { return *doc_; }
    // The document element.
    pugi::xml_node root() const { return doc_->document_element(); }

private:
    friend XmlDocument parse_xml(const std::string&, const std::string&, std::string, bool);
    std::unique_ptr<pugi::xml_document> doc_{new pugi::xml_document};
};

// Parses `text`, the part `part` of `file`. Throws io::IoError naming both on malformed
// XML. `faithful` keeps the declaration, comments and every whitespace node, so that a
// document written back differs only where it was edited.
XmlDocument parse_xml(const std::string& file, const std::string& part, std::string text, bool faithful = false);

// Parses a piece of a part's text that holds elements side by side (no single root) into
// `doc`, as parse_xml reads a part; false when the piece is malformed.
bool parse_fragment(const char* text, std::size_t size, pugi::xml_document& doc);

// Where the children of one element of a large part lie in its text, found without parsing
// it: the content between the element's tags, cut at boundaries between its children into
// pieces of about `piece_size` bytes (a child larger than that stays whole), each of which
// parses alone with parse_fragment.
struct ContentPieces {
    std::size_t begin = 0, end = 0; // the content
    std::vector<std::size_t> cuts;  // begin, the boundaries, end
};

// The pieces of the first child of the document element with the local name `local`. False
// when the text is not one this scan takes apart (an encoding other than UTF-8, a document
// type declaration, markup left open, no such element): the caller then parses it whole.
// The scan does not check the text is well-formed; parsing the pieces and the rest does.
bool split_content(std::string_view text, std::string_view local, std::size_t piece_size, ContentPieces& out);

// Serialises without reformatting. Whatever XML cannot carry is made writable first: bytes
// that are not UTF-8 and control characters become U+FFFD (in cell and formula text, the
// format's _xHHHH_ escapes), and a carriage return in text a character reference.
std::string write_xml(pugi::xml_document& doc);
// The same at the end of `out`.
void append_xml(pugi::xml_document& doc, std::string& out);

// Element content and an attribute value, appended to `out` exactly as write_xml() writes
// them, for parts written as text rather than built as a document (a large sheet). `escapes`:
// the content of a <t>, <v> or <f> element, whose control characters become _xHHHH_ escapes.
void append_xml_content(std::string& out, std::string_view text, bool escapes);
void append_xml_attribute(std::string& out, std::string_view value);

// Text escaped for an XML attribute value or element content, made writable as above.
std::string xml_escaped_text(std::string_view text);

// The element name without its namespace prefix: producers differ in prefixes (none,
// "x:", "main:"), never in local names.
inline const char* local_name(const pugi::xml_node& node) {
    const char* name = node.name();
    const char* colon = std::strchr(name, ':');
    return colon ? colon + 1 : name;
}

inline bool is(const pugi::xml_node& node, const char* name) { return std::strcmp(local_name(node), name) == 0; }

// The first child element with the given local name.
inline pugi::xml_node child(const pugi::xml_node& node, const char* name) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element && is(c, name))
            return c;
    return pugi::xml_node();
}

// An attribute by local name ("r:id" and "id" alike are found by "id" only when the
// prefixed form is absent; prefer exact names where the schema fixes them).
pugi::xml_attribute attribute_local(const pugi::xml_node& node, const char* name);

// The prefix of an element's name including the colon ("x:"), or "".
std::string prefix_of(const pugi::xml_node& node);

} // namespace host::io

#endif
