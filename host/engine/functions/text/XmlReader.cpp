// A small XML reader: elements, attributes, and text with its entity and character references;
// comments, processing instructions and a document type are skipped.

#include "engine/Unicode.hpp"
#include "engine/functions/text/XmlQuery.hpp"

#include <cctype>
#include <cstdlib>
#include <string>

namespace host::engine::detail::fn::xml {

std::string string_value(const XmlNode& n) {
    if (n.name.empty())
        return n.text;
    std::string out;
    for (const auto& child : n.children)
        out += string_value(*child);
    return out;
}

namespace {

class XmlReader {
public:
    explicit XmlReader(std::string_view text) : s_(text) {}

    // The document's root element under a node of its own; null when the text is not
    // well-formed XML.
    std::unique_ptr<XmlNode> read() {
        auto document = std::make_unique<XmlNode>();
        document->name = "/";
        if (!misc() || !element(*document) || !misc() || i_ != s_.size())
            return nullptr;
        return document;
    }

private:
    bool starts(std::string_view p) const { return s_.substr(i_, p.size()) == p; }
    void spaces() {
        while (i_ < s_.size() && std::isspace(static_cast<unsigned char>(s_[i_])))
            ++i_;
    }
    bool skip_past(std::string_view end) {
        const std::size_t at = s_.find(end, i_);
        if (at == std::string_view::npos)
            return false;
        i_ = at + end.size();
        return true;
    }
    // A comment or a processing instruction at the reading point, read past: 1; none there: 0;
    // one never closed: -1.
    int comment_or_instruction() {
        const std::string_view end = starts("<!--") ? "-->" : starts("<?") ? "?>" : "";
        if (end.empty())
            return 0;
        return skip_past(end) ? 1 : -1;
    }
    // Comments, processing instructions, a document type and white space between elements.
    bool misc() {
        for (;;) {
            spaces();
            if (const int skipped = comment_or_instruction()) {
                if (skipped < 0)
                    return false;
            } else if (starts("<!DOCTYPE")) {
                if (!skip_past(">"))
                    return false;
            } else {
                return true;
            }
        }
    }
    bool name(std::string& out) {
        const std::size_t from = i_;
        while (i_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[i_])) || s_[i_] == '_' || s_[i_] == ':' ||
                                  s_[i_] == '-' || s_[i_] == '.' || (s_[i_] & 0x80)))
            ++i_;
        out.assign(s_.substr(from, i_ - from));
        return !out.empty() && !std::isdigit(static_cast<unsigned char>(out[0])) && out[0] != '-' && out[0] != '.';
    }
    // Text with its entity and character references replaced.
    bool decode(std::string_view raw, std::string& out) {
        for (std::size_t k = 0; k < raw.size(); ++k) {
            if (raw[k] != '&') {
                out += raw[k];
                continue;
            }
            const std::size_t end = raw.find(';', k);
            if (end == std::string_view::npos)
                return false;
            const std::string_view entity = raw.substr(k + 1, end - k - 1);
            static const std::pair<std::string_view, char> named[] = {
                {"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"quot", '"'}, {"apos", '\''}};
            bool found = false;
            for (const auto& e : named)
                if (entity == e.first) {
                    out += e.second;
                    found = true;
                }
            if (!found) {
                if (entity.size() < 2 || entity[0] != '#')
                    return false;
                const bool hex = entity[1] == 'x';
                const std::string digits(entity.substr(hex ? 2 : 1));
                char* stop = nullptr;
                const unsigned long cp = std::strtoul(digits.c_str(), &stop, hex ? 16 : 10);
                if (digits.empty() || *stop != '\0' || cp == 0 || cp > 0x10FFFF)
                    return false;
                append_utf8(out, char32_t(cp));
            }
            k = end;
        }
        return true;
    }
    bool element(XmlNode& parent) {
        if (!starts("<") || ++depth_ > 256)
            return false;
        ++i_;
        auto node = std::make_unique<XmlNode>();
        node->parent = &parent;
        if (!name(node->name))
            return false;
        for (;;) {
            spaces();
            if (starts("/>")) {
                i_ += 2;
                parent.children.push_back(std::move(node));
                --depth_;
                return true;
            }
            if (starts(">")) {
                ++i_;
                break;
            }
            std::string attribute, value;
            if (!name(attribute))
                return false;
            spaces();
            if (!starts("="))
                return false;
            ++i_;
            spaces();
            if (i_ >= s_.size() || (s_[i_] != '"' && s_[i_] != '\''))
                return false;
            const std::size_t end = s_.find(s_[i_], i_ + 1);
            if (end == std::string_view::npos || !decode(s_.substr(i_ + 1, end - i_ - 1), value))
                return false;
            i_ = end + 1;
            node->attributes.emplace_back(attribute, value);
        }
        for (;;) { // content up to the end tag
            if (i_ >= s_.size())
                return false;
            if (starts("</")) {
                i_ += 2;
                std::string closing;
                if (!name(closing) || closing != node->name)
                    return false;
                spaces();
                if (!starts(">"))
                    return false;
                ++i_;
                parent.children.push_back(std::move(node));
                --depth_;
                return true;
            }
            if (const int skipped = comment_or_instruction()) {
                if (skipped < 0)
                    return false;
            } else if (starts("<![CDATA[")) {
                const std::size_t from = i_ + 9;
                if (!skip_past("]]>"))
                    return false;
                add_text(*node, std::string(s_.substr(from, i_ - 3 - from)));
            } else if (starts("<")) {
                if (!element(*node))
                    return false;
            } else {
                const std::size_t end = std::min(s_.find('<', i_), s_.size());
                std::string text;
                if (!decode(s_.substr(i_, end - i_), text))
                    return false;
                add_text(*node, text);
                i_ = end;
            }
        }
    }
    static void add_text(XmlNode& node, const std::string& text) {
        if (!node.children.empty() && node.children.back()->name.empty()) {
            node.children.back()->text += text;
            return;
        }
        auto piece = std::make_unique<XmlNode>();
        piece->text = text;
        piece->parent = &node;
        node.children.push_back(std::move(piece));
    }

    std::string_view s_;
    std::size_t i_ = 0;
    int depth_ = 0;
};

} // namespace

std::unique_ptr<XmlNode> read_xml(std::string_view text) { return XmlReader(text).read(); }

} // namespace host::engine::detail::fn::xml
