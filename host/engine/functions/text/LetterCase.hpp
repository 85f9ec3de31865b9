#ifndef OMBRIX_HOST_ENGINE_FUNCTIONS_LETTERCASE_HPP
#define OMBRIX_HOST_ENGINE_FUNCTIONS_LETTERCASE_HPP

// The letters' simple case mappings as UPPER, LOWER and PROPER make them, the same on every
// system (the C library's are ASCII only on some): Latin with its extensions and full-width
// forms, Greek, Cyrillic, Armenian. Other code points, and ß, stay as they are.

#include <string>
#include <string_view>

namespace host::engine::detail::fn {

char32_t upper_case(char32_t cp);
char32_t lower_case(char32_t cp);
std::string upper_case(std::string_view utf8);
std::string lower_case(std::string_view utf8);

} // namespace host::engine::detail::fn

#endif
