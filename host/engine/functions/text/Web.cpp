// Text for and from the web that needs no connection: ENCODEURL, and FILTERXML over XML
// given as text (its own small reader, and the XPath paths such text is queried with).

#include "engine/functions/ArrayArgs.hpp"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <set>
#include <utility>

namespace host::engine::detail::fn {

namespace {

constexpr std::size_t max_text = max_text_length;

// Every byte of the UTF-8 text but the unreserved characters of a URL (letters, digits,
// - _ . ~) written as %XX.
OMBRIX_FN(encodeurl) {
    OMBRIX_TEXT(0, text);
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (unsigned char ch : text) {
        if (std::isalnum(ch) && ch < 0x80) {
            encoded += char(ch);
        } else if (ch == '-' || ch == '_' || ch == '.' || ch == '~') {
            encoded += char(ch);
        } else {
            encoded += '%';
            encoded += hex[ch >> 4];
            encoded += hex[ch & 15];
        }
    }
    if (encoded.size() > max_text) // every character is one byte now
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_RETURN(Value::text(encoded));
}

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
std::string string_value(const XmlNode& n) {
    if (n.name.empty())
        return n.text;
    std::string out;
    for (const auto& child : n.children)
        out += string_value(*child);
    return out;
}

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
    // Comments, processing instructions, a document type and white space between elements.
    bool misc() {
        for (;;) {
            spaces();
            if (starts("<!--")) {
                if (!skip_past("-->"))
                    return false;
            } else if (starts("<?")) {
                if (!skip_past("?>"))
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
            if (starts("<!--")) {
                if (!skip_past("-->"))
                    return false;
            } else if (starts("<?")) {
                if (!skip_past("?>"))
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

// A node found by a path: an element or text piece, or an attribute's value.
struct Found {
    const XmlNode* node = nullptr;
    const std::string* attribute = nullptr;
    std::string value() const { return attribute ? *attribute : string_value(*node); }
};

// The XPath this reads: location paths from the root (/a/b) or anywhere (//b), steps of
// element names or *, @name or @*, text(), node(), . and .., each with predicates: a position
// ([2], [last()]), an attribute or child that exists ([@id], [b]) or equals a literal or
// number ([@id='x'], [b=3], [.='x']). Anything else is #VALUE!.
class XPath {
public:
    XPath(std::string_view path, const XmlNode& document) : p_(path), document_(document) {}

    bool run(std::vector<Found>& out) {
        std::vector<Found> current{Found{&document_, nullptr}};
        spaces();
        if (!starts("/"))
            return false; // relative paths start from the document too
        while (starts("/")) {
            ++i_;
            bool anywhere = false;
            if (starts("/")) {
                ++i_;
                anywhere = true;
            }
            if (!step(current, anywhere))
                return false;
            spaces();
        }
        if (i_ != p_.size())
            return false;
        out = std::move(current);
        return true;
    }

private:
    bool starts(std::string_view s) const { return p_.substr(i_, s.size()) == s; }
    void spaces() {
        while (i_ < p_.size() && p_[i_] == ' ')
            ++i_;
    }
    std::string name() {
        const std::size_t from = i_;
        while (i_ < p_.size() && (std::isalnum(static_cast<unsigned char>(p_[i_])) || p_[i_] == '_' || p_[i_] == ':' ||
                                  p_[i_] == '-' || p_[i_] == '.' || (p_[i_] & 0x80)))
            ++i_;
        return std::string(p_.substr(from, i_ - from));
    }
    static void descendants(const XmlNode& n, std::vector<const XmlNode*>& out) {
        out.push_back(&n);
        for (const auto& child : n.children)
            if (!child->name.empty())
                descendants(*child, out);
    }
    bool step(std::vector<Found>& current, bool anywhere) {
        spaces();
        std::vector<const XmlNode*> contexts;
        for (const Found& f : current)
            if (!f.attribute) {
                if (anywhere)
                    descendants(*f.node, contexts);
                else
                    contexts.push_back(f.node);
            }
        // Nested matches reach the same descendants twice: each context once, in order.
        std::vector<const XmlNode*> unique;
        std::set<const XmlNode*> seen_contexts;
        for (const XmlNode* n : contexts)
            if (seen_contexts.insert(n).second)
                unique.push_back(n);
        contexts = std::move(unique);
        enum { Element, Attribute, Text, Node, Self, Parent } kind = Element;
        std::string wanted;
        if (starts("@")) {
            ++i_;
            kind = Attribute;
            wanted = starts("*") ? (++i_, "*") : name();
        } else if (starts("text()")) {
            i_ += 6;
            kind = Text;
        } else if (starts("node()")) {
            i_ += 6;
            kind = Node;
        } else if (starts("..")) {
            i_ += 2;
            kind = Parent;
        } else if (starts(".")) {
            ++i_;
            kind = Self;
        } else {
            wanted = starts("*") ? (++i_, "*") : name();
        }
        if ((kind == Element || kind == Attribute) && wanted.empty())
            return false;
        // Each context's matches are filtered by the step's predicates on their own (positions
        // count within them); the predicates are read again for each.
        const std::size_t predicates_at = i_;
        auto filter = [&](std::vector<Found>& group) {
            i_ = predicates_at;
            for (;;) {
                spaces();
                if (!starts("["))
                    return true;
                ++i_;
                if (!predicate(group))
                    return false;
            }
        };
        std::vector<Found> next;
        std::set<std::pair<const XmlNode*, const std::string*>> seen;
        for (const XmlNode* context : contexts) {
            std::vector<Found> group;
            if (kind == Attribute) {
                for (const auto& a : context->attributes)
                    if (wanted == "*" || a.first == wanted)
                        group.push_back(Found{context, &a.second});
            } else if (kind == Self) {
                group.push_back(Found{context, nullptr});
            } else if (kind == Parent) {
                if (context->parent)
                    group.push_back(Found{context->parent, nullptr});
            } else {
                for (const auto& child : context->children) {
                    const bool text = child->name.empty();
                    if ((kind == Text && text) || kind == Node ||
                        (kind == Element && !text && (wanted == "*" || child->name == wanted)))
                        group.push_back(Found{child.get(), nullptr});
                }
            }
            if (!filter(group))
                return false;
            for (const Found& f : group)
                if (seen.emplace(f.node, f.attribute).second)
                    next.push_back(f);
        }
        std::vector<Found> none;
        if (!filter(none)) // leaves the reading past the predicates, whatever matched
            return false;
        current = std::move(next);
        return true;
    }
    // One predicate, after its '[', through its ']': filters the group.
    bool predicate(std::vector<Found>& group) {
        spaces();
        std::vector<Found> kept;
        if (starts("last()")) {
            i_ += 6;
            if (!group.empty())
                kept.push_back(group.back());
        } else if (i_ < p_.size() && std::isdigit(static_cast<unsigned char>(p_[i_]))) {
            const std::size_t n = std::size_t(std::atoi(std::string(p_.substr(i_)).c_str()));
            while (i_ < p_.size() && std::isdigit(static_cast<unsigned char>(p_[i_])))
                ++i_;
            if (n >= 1 && n <= group.size())
                kept.push_back(group[n - 1]);
        } else {
            const bool attribute = starts("@");
            if (attribute)
                ++i_;
            const std::string key = name();
            if (key.empty())
                return false;
            spaces();
            bool compare = false;
            std::string literal;
            if (starts("=")) {
                ++i_;
                spaces();
                compare = true;
                if (starts("'") || starts("\"")) {
                    const std::size_t end = p_.find(p_[i_], i_ + 1);
                    if (end == std::string_view::npos)
                        return false;
                    literal.assign(p_.substr(i_ + 1, end - i_ - 1));
                    i_ = end + 1;
                } else {
                    const std::size_t from = i_;
                    while (i_ < p_.size() &&
                           (std::isdigit(static_cast<unsigned char>(p_[i_])) || p_[i_] == '.' || p_[i_] == '-'))
                        ++i_;
                    literal.assign(p_.substr(from, i_ - from));
                    if (literal.empty())
                        return false;
                }
            }
            for (const Found& f : group) {
                if (f.attribute)
                    continue;
                bool match = false;
                auto test = [&](const std::string& v) { match = match || !compare || v == literal; };
                if (key == ".") {
                    test(string_value(*f.node));
                } else if (attribute) {
                    for (const auto& a : f.node->attributes)
                        if (a.first == key)
                            test(a.second);
                } else {
                    for (const auto& child : f.node->children)
                        if (child->name == key)
                            test(string_value(*child));
                }
                if (match)
                    kept.push_back(f);
            }
        }
        spaces();
        if (!starts("]"))
            return false;
        ++i_;
        group = std::move(kept);
        return true;
    }

    std::string_view p_;
    const XmlNode& document_;
    std::size_t i_ = 0;
};

// FILTERXML(xml, xpath): the text of every node the path finds, in a column; text that reads
// as a number is that number. #VALUE! when the XML or the path cannot be read, or nothing is found.
OMBRIX_FN(filterxml) {
    OMBRIX_TEXT(0, xml);
    OMBRIX_TEXT(1, path);
    std::unique_ptr<XmlNode> document = XmlReader(xml).read();
    std::vector<Found> found;
    if (!document || !XPath(path, *document).run(found) || found.empty())
        OMBRIX_RETURN(err(ErrorCode::Value));
    ValueGrid g;
    g.rows = std::int32_t(found.size());
    g.cols = 1;
    for (const Found& f : found) {
        const std::string text = f.value();
        const auto number = parse_number(text);
        g.values.push_back(number ? Value::number(*number) : Value::text(text));
    }
    give(c, out, std::move(g));
}

} // namespace

std::vector<Entry> web_functions() {
    const std::uint8_t L = FnLift;
    return {
        {{"ENCODEURL", 1, 1, L}, fn_encodeurl},
        {{"FILTERXML", 2, 2, L}, fn_filterxml},
    };
}

} // namespace host::engine::detail::fn
