#ifndef OMBRIX_HOST_ENGINE_FUNCTIONS_TEXT_XMLQUERY_HPP
#define OMBRIX_HOST_ENGINE_FUNCTIONS_TEXT_XMLQUERY_HPP

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host::engine::detail::fn {

namespace xml {

// An element of the document: its name as written (with any prefix), attributes, and its
// content in order, text pieces as children without a name.
struct XmlNode {
    std::string name; // empty for a text piece
    std::string text; // a text piece's characters
    std::vector<std::pair<std::string, std::string>> attributes;
    std::vector<std::unique_ptr<XmlNode>> children;
    XmlNode* parent = nullptr;
};

// The concatenated text of a node and everything in it.
std::string string_value(const XmlNode& n);

// The document read from `text`: a root without a name holding the top element; null when
// the text is not well-formed XML.
std::unique_ptr<XmlNode> read_xml(std::string_view text);

} // namespace xml

// The text of every node that the XPath `path` finds in the XML document `xml`, in document
// order; none when the document or the path cannot be read.
std::optional<std::vector<std::string>> query_xml(std::string_view xml, std::string_view path);

} // namespace host::engine::detail::fn

#endif
