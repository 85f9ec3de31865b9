// The case tables of LetterCase.hpp: blocks of letters whose two cases lie a fixed distance
// apart or alternate, and the few pairs outside them.

#include "engine/functions/text/LetterCase.hpp"

#include "engine/Unicode.hpp"

namespace host::engine::detail::fn {

namespace {

// A block where upper and lower case alternate, the upper one on even (or odd) code points.
struct Alternating {
    char32_t first, last;
    bool upper_even;
};
constexpr Alternating alternating[] = {
    {0x0100, 0x012F, true},  {0x0132, 0x0137, true}, {0x0139, 0x0148, false}, {0x014A, 0x0177, true},
    {0x0179, 0x017E, false}, {0x0460, 0x0481, true}, {0x048A, 0x04BF, true},  {0x04C1, 0x04CE, false},
    {0x04D0, 0x04FF, true},  {0x1E00, 0x1E95, true}, {0x1EA0, 0x1EFF, true},
};

// A block of capitals whose small letters lie `offset` code points further on.
struct Shifted {
    char32_t first, last, offset;
};
constexpr Shifted shifted[] = {
    {0x0041, 0x005A, 0x20}, {0x00C0, 0x00D6, 0x20}, {0x00D8, 0x00DE, 0x20}, {0x0388, 0x038A, 0x25},
    {0x038E, 0x038F, 0x3F}, {0x0391, 0x03A1, 0x20}, {0x03A3, 0x03AB, 0x20}, {0x0400, 0x040F, 0x50},
    {0x0410, 0x042F, 0x20}, {0x0531, 0x0556, 0x30}, {0xFF21, 0xFF3A, 0x20},
};

// Pairs outside the blocks: {capital, small}.
constexpr char32_t pairs[][2] = {{0x0178, 0x00FF}, {0x0386, 0x03AC}, {0x038C, 0x03CC}};

} // namespace

char32_t upper_case(char32_t cp) {
    if (cp >= 'a' && cp <= 'z')
        return cp - 0x20;
    if (cp < 0x80)
        return cp;
    if (cp == 0x03C2) // final sigma
        return 0x03A3;
    if (cp == 0x0131) // dotless i
        return 'I';
    for (const Shifted& b : shifted)
        if (cp >= b.first + b.offset && cp <= b.last + b.offset)
            return cp - b.offset;
    for (const Alternating& b : alternating)
        if (cp >= b.first && cp <= b.last && (cp % 2 == 0) != b.upper_even)
            return cp - 1;
    for (const auto& p : pairs)
        if (cp == p[1])
            return p[0];
    return cp;
}

char32_t lower_case(char32_t cp) {
    if (cp >= 'A' && cp <= 'Z')
        return cp + 0x20;
    if (cp < 0x80)
        return cp;
    if (cp == 0x0130) // capital I with a dot
        return 'i';
    for (const Shifted& b : shifted)
        if (cp >= b.first && cp <= b.last)
            return cp + b.offset;
    for (const Alternating& b : alternating)
        if (cp >= b.first && cp <= b.last && (cp % 2 == 0) == b.upper_even)
            return cp + 1;
    for (const auto& p : pairs)
        if (cp == p[0])
            return p[1];
    return cp;
}

std::string upper_case(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();)
        append_utf8(out, upper_case(next_code_point(utf8, i)));
    return out;
}

std::string lower_case(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();)
        append_utf8(out, lower_case(next_code_point(utf8, i)));
    return out;
}

} // namespace host::engine::detail::fn
