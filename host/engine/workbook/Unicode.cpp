#include "engine/Unicode.hpp"

#include <cctype>

#ifndef _WIN32
#include <cwctype>
#include <locale.h>
#endif

namespace host::engine {

std::size_t utf8_sequence_length(std::string_view text, std::size_t i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const std::size_t n = c < 0x80                 ? 1
                          : c >= 0xC2 && c <= 0xDF ? 2
                          : c >= 0xE0 && c <= 0xEF ? 3
                          : c >= 0xF0 && c <= 0xF4 ? 4
                                                   : 0;
    if (n == 0 || i + n > text.size())
        return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(text[i + k]) & 0xC0) != 0x80)
            return 0;
    const unsigned char second = n > 1 ? static_cast<unsigned char>(text[i + 1]) : 0;
    // Overlong forms, surrogates and code points past U+10FFFF.
    if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second >= 0xA0) || (c == 0xF0 && second < 0x90) ||
        (c == 0xF4 && second >= 0x90))
        return 0;
    return n;
}

char32_t next_code_point(std::string_view text, std::size_t& i) {
    const std::size_t n = utf8_sequence_length(text, i);
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (n == 0) {
        ++i;
        return 0x110000 + c;
    }
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    i += n;
    return cp;
}

void append_utf8(std::string& out, char32_t cp) {
    if (cp >= 0x110000) {
        out += char(cp - 0x110000);
    } else if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::size_t utf8_length(std::string_view text) {
    std::size_t n = 0;
    for (char ch : text)
        if ((static_cast<unsigned char>(ch) & 0xC0) != 0x80)
            ++n;
    return n;
}

std::size_t utf8_offset(std::string_view text, std::size_t k) {
    std::size_t n = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (n == k)
                return i;
            ++n;
        }
    }
    return text.size();
}

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string to_upper(std::string_view text) {
    std::string out(text);
    for (char& ch : out)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return out;
}

namespace {

// The lower case of the upper case, which folds the letters with two lower forms (final
// sigma); ASCII only where the C library has no Unicode character classes.
char32_t fold(char32_t cp) {
    if (cp < 0x80)
        return cp >= 'A' && cp <= 'Z' ? cp + ('a' - 'A') : cp;
#ifndef _WIN32
    static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    if (cp < 0x110000 && unicode != locale_t(nullptr)) {
        const wint_t c = static_cast<wint_t>(cp);
        return static_cast<char32_t>(towlower_l(towupper_l(c, unicode), unicode));
    }
#endif
    return cp;
}

} // namespace

namespace {

// The letter a Latin letter with a mark sorts with (À, é, ş, Ł...), upper case; 0 for the rest.
char32_t base_letter(char32_t cp) {
    static const char latin1[] = "AAAAAAACEEEEIIIIDNOOOOO.OUUUUY.SAAAAAAACEEEEIIIIDNOOOOO.OUUUUY.Y";
    static const char extended[] = "AAAAAACCCCCCCCDDDDEEEEEEEEEEGGGGGGGGHHHHIIIIIIIIIIIIJJKKKLLLLLLLLLLNNNNNNNNN"
                                   "OOOOOOOORRRRRRSSSSSSSSTTTTTTUUUUUUUUUUUUWWYYYZZZZZZS";
    static_assert(sizeof latin1 == 65 && sizeof extended == 129, "one letter a code point");
    char base = '.';
    if (cp >= 0xC0 && cp < 0x100)
        base = latin1[cp - 0xC0];
    else if (cp >= 0x100 && cp < 0x180)
        base = extended[cp - 0x100];
    return base == '.' ? 0 : char32_t(base);
}

// A letter beyond ASCII in one case, never folded into a letter of another length in UTF-8
// (the Kelvin sign into k): the hashes of texts that compare equal take every byte beyond
// ASCII alike.
char32_t fold_beyond_ascii(char32_t cp) {
    // The Latin letters with marks here, whatever the C library knows.
    if (cp >= 0xC0 && cp <= 0xDE && cp != 0xD7)
        return cp + 0x20;
    if (cp == 0x178)
        return 0xFF;
    if ((cp >= 0x100 && cp < 0x138) || (cp >= 0x14A && cp < 0x178))
        return cp | 1;
    if ((cp >= 0x139 && cp < 0x149) || (cp >= 0x179 && cp < 0x17F))
        return cp + (cp & 1);
    if (cp >= 0xDF && cp < 0x180)
        return cp;
    const char32_t f = fold(cp);
    auto bytes = [](char32_t x) { return x < 0x80 ? 1 : x < 0x800 ? 2 : x < 0x10000 ? 3 : 4; };
    return bytes(f) == bytes(cp) ? f : cp;
}

} // namespace

int compare_ignoring_case(std::string_view a, std::string_view b) {
    // First by letters alone, a marked one as its base letter (ASCII in upper case, so that
    // ASCII texts order as their bytes do); where those agree, an unmarked letter comes first.
    int marks = 0;
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const char32_t x = fold_beyond_ascii(next_code_point(a, i)), y = fold_beyond_ascii(next_code_point(b, j));
        const char32_t bx = base_letter(x), by = base_letter(y);
        const char32_t px = x < 0x80 ? char32_t(std::toupper(int(x))) : bx ? bx : x;
        const char32_t py = y < 0x80 ? char32_t(std::toupper(int(y))) : by ? by : y;
        if (px != py)
            return px < py ? -1 : 1;
        if (marks == 0 && x != y)
            marks = x < y ? -1 : 1;
    }
    if (i < a.size() || j < b.size())
        return i < a.size() ? 1 : -1;
    return marks;
}

std::string fold_case(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();)
        append_utf8(out, fold(next_code_point(utf8, i)));
    return out;
}

} // namespace host::engine
