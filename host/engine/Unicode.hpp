#ifndef OMBRIX_HOST_ENGINE_UNICODE_HPP
#define OMBRIX_HOST_ENGINE_UNICODE_HPP

// Text as the host holds it, UTF-8: the one place it is decoded, encoded, counted and
// compared ignoring case.

#include <cstddef>
#include <string>
#include <string_view>

namespace host::engine {

// The length (1 to 4) of the well-formed UTF-8 sequence at text[i]; 0 when none starts
// there: a continuation byte, a cut-off sequence, an overlong form, a surrogate, or a code
// point past U+10FFFF.
std::size_t utf8_sequence_length(std::string_view text, std::size_t i);

// The code point at text[i], moving i past it. A byte that starts no well-formed sequence
// is read alone, as 0x110000 + the byte, so that it stands for itself.
char32_t next_code_point(std::string_view text, std::size_t& i);

// Appends code point `cp` as UTF-8; a byte read alone by next_code_point goes back as it was.
void append_utf8(std::string& out, char32_t cp);

// The number of characters in the text (every byte but continuation bytes), and the byte
// offset of character k (the text's size when there are no more).
std::size_t utf8_length(std::string_view text);
std::size_t utf8_offset(std::string_view text, std::size_t k);

// As the engine compares names of sheets, defined names and functions: ASCII letters fold.
bool iequals(std::string_view a, std::string_view b);
std::string to_upper(std::string_view text);

// The text in one case for comparisons that ignore it, beyond ASCII where the C library
// knows the letters (the C.UTF-8 locale; ASCII only on Windows). Bytes that are not UTF-8
// stay as they are.
std::string fold_case(std::string_view utf8);

// The order of two texts ignoring case (-1, 0 or 1): a letter with a mark sorts with its base
// letter, after it where the texts differ in nothing else ("Côte" < "Croatia", "e" < "é").
// ASCII texts compare as their bytes in upper case.
int compare_ignoring_case(std::string_view a, std::string_view b);

} // namespace host::engine

#endif
