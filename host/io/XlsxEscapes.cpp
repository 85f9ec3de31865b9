// The _xHHHH_ escapes with which the format stores characters XML cannot carry.
#include "io/XlsxParts.hpp"

#include "engine/Unicode.hpp"

#include <string>

namespace host::io {

namespace {

int hex(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The character an escape at text[i] stands for, or -1 when none starts there.
long escape_at(const std::string& text, std::size_t i) {
    if (text[i] != '_' || i + 6 >= text.size() || text[i + 1] != 'x' || text[i + 6] != '_')
        return -1;
    long code = 0;
    for (std::size_t k = 2; k < 6; ++k) {
        const int h = hex(text[i + k]);
        if (h < 0)
            return -1;
        code = code * 16 + h;
    }
    return code;
}

// Formula text is read as written, but for the characters XML cannot carry at all.
bool decoded_in_formulas(long code) { return (code >= 0 && code < 0x20) || code == 0xFFFE || code == 0xFFFF; }

} // namespace

std::string decode_formula_escapes(std::string text) {
    if (text.find("_x") == std::string::npos)
        return text;
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const long code = escape_at(text, i);
        // The underscore of text that would read as such an escape is itself escaped.
        const bool underscore =
            code == 0x5F && i + 7 < text.size() && decoded_in_formulas(escape_at("_" + text.substr(i + 7, 6), 0));
        if (decoded_in_formulas(code) || underscore) {
            engine::append_utf8(out, static_cast<char32_t>(code));
            i += 7;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string decode_escapes(std::string text) {
    std::size_t pos = text.find("_x");
    if (pos == std::string::npos)
        return text;
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
            hex(text[i + 2]) >= 0 && hex(text[i + 3]) >= 0 && hex(text[i + 4]) >= 0 && hex(text[i + 5]) >= 0) {
            unsigned long code = 0;
            for (int k = 2; k < 6; ++k)
                code = code * 16 + unsigned(hex(text[i + std::size_t(k)]));
            engine::append_utf8(out, static_cast<char32_t>(code));
            i += 7;
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string encode_escapes(const std::string& text, bool formula) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    auto escape = [&](unsigned code) {
        out += "_x";
        for (int shift = 12; shift >= 0; shift -= 4)
            out += digits[(code >> shift) & 15];
        out += '_';
    };
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const std::size_t n = engine::utf8_sequence_length(text, i);
        if (n == 0) {
            out += "\xEF\xBF\xBD"; // bytes that are not UTF-8 cannot be written in XML
            ++i;
            continue;
        }
        if (n == 3 && c == 0xEF && static_cast<unsigned char>(text[i + 1]) == 0xBF &&
            static_cast<unsigned char>(text[i + 2]) >= 0xBE) {
            escape(0xFF00u | (static_cast<unsigned char>(text[i + 2]) & 0x3Fu) | 0xC0u); // U+FFFE, U+FFFF
            i += 3;
            continue;
        }
        // A carriage return stays: the XML writer writes it as a character reference, which
        // every reader reads (not every reader decodes the escape).
        const bool control = c < 0x20 && c != '\t' && c != '\n' && c != '\r';
        const long code = escape_at(text, i);
        const bool looks_escaped = code >= 0 && (!formula || decoded_in_formulas(code));
        if (control || looks_escaped)
            escape(c);
        else
            out.append(text, i, n);
        i += n;
    }
    return out;
}

} // namespace host::io
