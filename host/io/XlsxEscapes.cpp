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

} // namespace

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

std::string encode_escapes(const std::string& text) {
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
        const bool looks_escaped = c == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
                                   hex(text[i + 2]) >= 0 && hex(text[i + 3]) >= 0 && hex(text[i + 4]) >= 0 &&
                                   hex(text[i + 5]) >= 0;
        if (control || looks_escaped)
            escape(c);
        else
            out.append(text, i, n);
        i += n;
    }
    return out;
}

} // namespace host::io
