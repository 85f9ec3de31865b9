#include "io/Xml.hpp"

#include "engine/Unicode.hpp"
#include "io/IoError.hpp"

#include <cctype>
#include <new>
#include <sstream>

namespace host::io {

namespace {

struct StringWriter : pugi::xml_writer {
    explicit StringWriter(std::string& to) : out(to) {}
    std::string& out;
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

bool parse_fragment(const char* text, std::size_t size, pugi::xml_document& doc) {
    pugi::xml_parse_result parsed = doc.load_buffer(
        text, size, pugi::parse_default | pugi::parse_ws_pcdata_single | pugi::parse_fragment, pugi::encoding_utf8);
    if (parsed.status == pugi::status_out_of_memory)
        throw std::bad_alloc();
    return bool(parsed);
}

namespace {

enum class Markup { Start, Empty, End, Other, Bad };

struct Tag {
    Markup kind = Markup::Bad;
    std::string_view name;
    std::size_t end = std::string_view::npos; // just past the closing '>'
};

bool ends_tag_name(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '>' || c == '/'; }

std::string_view local_part(std::string_view name) {
    const std::size_t colon = name.find(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

// The markup that starts at text[at] == '<': its kind, its name and where it ends. It runs
// over every tag of a large sheet: one look at the character after '<' decides.
Tag scan_markup(std::string_view text, std::size_t at) {
    const std::size_t npos = std::string_view::npos;
    auto past = [&](std::size_t from, std::string_view close) {
        const std::size_t found = text.find(close, from);
        return found == npos ? npos : found + close.size();
    };
    Tag tag;
    const char next = at + 1 < text.size() ? text[at + 1] : '\0';
    if (next == '!') {
        if (text.compare(at, 4, "<!--") == 0) {
            tag.kind = Markup::Other;
            tag.end = past(at + 4, "-->");
        } else if (text.compare(at, 9, "<![CDATA[") == 0) {
            tag.kind = Markup::Other;
            tag.end = past(at + 9, "]]>");
        } else {
            return tag; // a document type declaration, whose entities only the parser knows
        }
    } else if (next == '?') {
        tag.kind = Markup::Other;
        tag.end = past(at + 2, "?>");
    } else {
        const bool closing = next == '/';
        std::size_t p = at + (closing ? 2 : 1);
        const std::size_t name_begin = p;
        while (p < text.size() && !ends_tag_name(text[p]) && text[p] != '<')
            ++p;
        if (p == name_begin || p >= text.size() || text[p] == '<')
            return tag;
        tag.name = text.substr(name_begin, p - name_begin);
        // Attribute values may hold '>'.
        for (; p < text.size() && text[p] != '>'; ++p)
            if (text[p] == '"' || text[p] == '\'') {
                p = text.find(text[p], p + 1);
                if (p == npos)
                    return tag;
            }
        if (p >= text.size())
            return tag;
        tag.end = p + 1;
        tag.kind = closing ? Markup::End : text[p - 1] == '/' ? Markup::Empty : Markup::Start;
    }
    if (tag.end == npos)
        tag.kind = Markup::Bad;
    return tag;
}

// Whether the text is UTF-8, the one encoding the pieces are parsed in: no byte order mark
// of UTF-16 or UTF-32, no declaration naming another encoding.
bool is_utf8(std::string_view text) {
    if (!text.empty() && (static_cast<unsigned char>(text[0]) == 0xFE || static_cast<unsigned char>(text[0]) == 0xFF))
        return false;
    for (std::size_t i = 0; i < text.size() && i < 4; ++i)
        if (text[i] == '\0')
            return false;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0)
        text.remove_prefix(3);
    if (text.compare(0, 5, "<?xml") != 0)
        return true;
    std::string_view declaration = text.substr(0, text.find("?>"));
    const std::size_t encoding = declaration.find("encoding");
    if (encoding == std::string_view::npos)
        return true;
    const std::size_t quote = declaration.find_first_of("\"'", encoding);
    if (quote == std::string_view::npos)
        return false;
    const std::size_t close = declaration.find(declaration[quote], quote + 1);
    if (close == std::string_view::npos)
        return false;
    std::string name(declaration.substr(quote + 1, close - quote - 1));
    for (char& c : name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return name == "utf-8" || name == "utf8";
}

} // namespace

bool split_content(std::string_view text, std::string_view local, std::size_t piece_size, ContentPieces& out) {
    if (!is_utf8(text))
        return false;
    out = ContentPieces();
    // Depth 1 is inside the document element; `inner` counts elements open in the content.
    int depth = 0;
    bool inside = false;
    long inner = 0;
    for (std::size_t p = 0;;) {
        p = text.find('<', p);
        if (p == std::string_view::npos)
            return false;
        const Tag tag = scan_markup(text, p);
        if (tag.kind == Markup::Bad)
            return false;
        if (!inside) {
            if ((tag.kind == Markup::Start || tag.kind == Markup::Empty) && depth == 1 &&
                local_part(tag.name) == local) {
                out.begin = tag.end;
                out.cuts.push_back(tag.end);
                if (tag.kind == Markup::Empty) {
                    out.end = tag.end;
                    out.cuts.push_back(tag.end);
                    return true;
                }
                inside = true;
            } else if (tag.kind == Markup::Start) {
                ++depth;
            } else if (tag.kind == Markup::End && --depth <= 0) {
                return false; // the document element closed without it
            }
        } else if (tag.kind == Markup::Start) {
            ++inner;
        } else if (tag.kind == Markup::End) {
            if (inner == 0) {
                if (local_part(tag.name) != local)
                    return false;
                out.end = p;
                if (out.cuts.back() != p)
                    out.cuts.push_back(p);
                return true;
            }
            --inner;
        }
        if (inside && inner == 0 && tag.end - out.cuts.back() >= piece_size)
            out.cuts.push_back(tag.end);
        p = tag.end;
    }
}

namespace {

const char* const replacement = "\xEF\xBF\xBD"; // U+FFFD
// A carriage return in text is written as this, then as a character reference.
const char cr_mark = '\x01';

// Whether the text holds anything the writer must change: bytes that are not UTF-8, U+FFFE,
// U+FFFF, control characters (carriage return among them when `cr` is set).
bool needs_cleaning(std::string_view text, bool cr) {
    for (char ch : text) {
        const unsigned char c = static_cast<unsigned char>(ch);
        if ((c < 0x20 && c != '\t' && c != '\n' && (cr || c != '\r')) || c >= 0x80)
            return true;
    }
    return false;
}

// The text made writable: bytes that are not UTF-8, U+FFFE and U+FFFF as U+FFFD; control
// characters as the format's _xHHHH_ escapes where `escapes` (cell and formula text) or else
// as U+FFFD; a carriage return as the mark when `mark_cr`.
std::string cleaned(std::string_view text, bool escapes, bool mark_cr) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r') {
            out += mark_cr ? cr_mark : '\r';
            ++i;
        } else if (c < 0x20 && c != '\t' && c != '\n') {
            if (escapes) {
                out += "_x00";
                out += digits[c >> 4];
                out += digits[c & 15];
                out += '_';
            } else {
                out += replacement;
            }
            ++i;
        } else if (const std::size_t n = engine::utf8_sequence_length(text, i);
                   n == 0 || (n == 3 && c == 0xEF && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
                              static_cast<unsigned char>(text[i + 2]) >= 0xBE)) {
            out += replacement;
            i += n == 0 ? 1 : n;
        } else {
            out.append(text, i, n);
            i += n;
        }
    }
    return out;
}

bool holds_elements(const pugi::xml_node& node) {
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (c.type() == pugi::node_element)
            return true;
    return false;
}

// Makes every text and attribute of the document writable as well-formed XML that reads back
// the same: a carriage return in text is lost to line-end normalisation unless written as a
// character reference (raw ones between elements are layout and stay). True when marks were
// placed.
bool make_writable(pugi::xml_node root) {
    bool marked = false;
    pugi::xml_node node = root;
    while (node) {
        if (node.type() == pugi::node_element) {
            for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
                if (needs_cleaning(a.value(), false))
                    a.set_value(cleaned(a.value(), false, false).c_str());
        } else if (node.type() == pugi::node_pcdata) {
            const char* text = node.value();
            pugi::xml_node parent = node.parent();
            if (needs_cleaning(text, true) &&
                !(std::strspn(text, " \t\r\n") == std::strlen(text) && holds_elements(parent))) {
                const bool escapes = is(parent, "t") || is(parent, "v") || is(parent, "f");
                const std::string fixed = cleaned(text, escapes, true);
                marked = marked || fixed.find(cr_mark) != std::string::npos;
                node.set_value(fixed.c_str());
            }
        }
        // Depth first, without recursion: documents may nest deeply.
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node && node != root && !node.next_sibling())
            node = node.parent();
        if (!node || node == root)
            break;
        node = node.next_sibling();
    }
    return marked;
}

} // namespace

std::string write_xml(pugi::xml_document& doc) {
    std::string out;
    append_xml(doc, out);
    return out;
}

void append_xml(pugi::xml_document& doc, std::string& out) {
    const std::size_t start = out.size();
    const bool marked = make_writable(doc);
    StringWriter writer(out);
    doc.save(writer, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    if (!marked)
        return;
    // The writer writes the mark as "&#01;".
    const std::string from = "&#01;", to = "&#13;";
    for (std::size_t at = out.find(from, start); at != std::string::npos; at = out.find(from, at + to.size()))
        out.replace(at, from.size(), to);
}

void append_xml_content(std::string& out, std::string_view text, bool escapes) {
    // As the document writer: its texts end at a NUL; cleaned as make_writable() cleans them.
    text = text.substr(0, text.find('\0'));
    std::string fixed;
    if (needs_cleaning(text, true)) {
        fixed = cleaned(text, escapes, true);
        text = fixed;
    }
    std::size_t from = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char* escape;
        switch (text[i]) {
        case '&': escape = "&amp;"; break;
        case '<': escape = "&lt;"; break;
        case '>': escape = "&gt;"; break;
        case cr_mark: escape = "&#13;"; break;
        default: continue;
        }
        out.append(text, from, i - from);
        out += escape;
        from = i + 1;
    }
    out.append(text, from, std::string_view::npos);
}

void append_xml_attribute(std::string& out, std::string_view value) {
    value = value.substr(0, value.find('\0'));
    std::string fixed;
    if (needs_cleaning(value, false)) {
        fixed = cleaned(value, false, false);
        value = fixed;
    }
    for (char c : value) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '"': out += "&quot;"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                out += "&#";
                out += char('0' + c / 10);
                out += char('0' + c % 10);
                out += ';';
            } else {
                out += c;
            }
        }
    }
}

std::string xml_escaped_text(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : cleaned(text, false, false)) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\r': out += "&#13;"; break;
        default: out += c;
        }
    }
    return out;
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
