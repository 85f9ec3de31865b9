// The _xHHHH_ escapes with which the format stores characters XML cannot carry.
#include "io/XlsxParts.hpp"

#include <string>

namespace host::io {

namespace {

void append_utf8(std::string& out, unsigned long code) {
    if (code < 0x80) {
        out += char(code);
    } else if (code < 0x800) {
        out += char(0xC0 | (code >> 6));
        out += char(0x80 | (code & 0x3F));
    } else {
        out += char(0xE0 | (code >> 12));
        out += char(0x80 | ((code >> 6) & 0x3F));
        out += char(0x80 | (code & 0x3F));
    }
}

int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

std::string decode_escapes(std::string text) {
    std::size_t pos = text.find("_x");
    if (pos == std::string::npos) return text;
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '_' && i + 6 < text.size() && text[i + 1] == 'x' && text[i + 6] == '_' &&
            hex(text[i + 2]) >= 0 && hex(text[i + 3]) >= 0 && hex(text[i + 4]) >= 0 &&
            hex(text[i + 5]) >= 0) {
            unsigned long code = 0;
            for (int k = 2; k < 6; ++k) code = code * 16 + unsigned(hex(text[i + std::size_t(k)]));
            append_utf8(out, code);
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
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        // A carriage return would be lost to line-end normalisation when read back.
        bool control = c < 0x20 && c != '\t' && c != '\n';
        bool looks_escaped = c == '_' && i + 6 < text.size() && text[i + 1] == 'x' &&
                             text[i + 6] == '_' && hex(text[i + 2]) >= 0 &&
                             hex(text[i + 3]) >= 0 && hex(text[i + 4]) >= 0 &&
                             hex(text[i + 5]) >= 0;
        if (control || looks_escaped) {
            out += "_x00";
            out += digits[c >> 4];
            out += digits[c & 15];
            out += '_';
        } else {
            out += char(c);
        }
    }
    return out;
}

} // namespace host::io
