#ifndef OMBRIX_HOST_ENGINE_FUNCTIONS_REGEX_HPP
#define OMBRIX_HOST_ENGINE_FUNCTIONS_REGEX_HPP

// The regular expressions of REGEXTEST, REGEXREPLACE, REGEXEXTRACT and XMATCH's pattern mode:
// PCRE2 (where the build has it), every match bounded in backtracking steps and depth so that
// no pattern, however it backtracks, costs more than a few milliseconds a match. A match that
// reaches the bound gives #VALUE!, as an invalid pattern does: the answer is unknown, not "no
// match".

#ifdef OMBRIX_HAVE_PCRE2

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace host::engine::detail::fn {

// The bounds of one match: steps of the backtracking engine and how deep it may nest.
constexpr std::uint32_t regex_match_limit = 100'000;
constexpr std::uint32_t regex_depth_limit = 100'000;

class Regex {
public:
    Regex(std::string_view pattern, bool ignore_case);
    ~Regex();
    Regex(const Regex&) = delete;
    Regex& operator=(const Regex&) = delete;

    // False for a pattern that does not compile.
    bool valid() const { return code_ != nullptr; }
    // A match in text from byte `at`: the number of groups set (>= 1, the spans in start()
    // and end()), PCRE2_ERROR_NOMATCH, or another negative code when the match gave up (a
    // bound reached, a text that is not UTF-8). A search along a text starts at 0 and goes on
    // from next_search_start().
    int match(std::string_view text, std::size_t at);
    // Start and end of group `group` (0 the whole match) of the last match; PCRE2_UNSET when
    // the group took no part.
    std::size_t start(int group) const { return pcre2_get_ovector_pointer(data_)[2 * group]; }
    std::size_t end(int group) const { return pcre2_get_ovector_pointer(data_)[2 * group + 1]; }
    // pcre2_substitute over the text from byte `from` (every match when `global`), within the
    // same bounds; false when a match gave up, the replacement is invalid or the result would
    // take more than `max_bytes`.
    bool substitute(std::string_view text, std::size_t from, bool global, std::string_view replacement,
                    std::size_t max_bytes, std::string& out);

private:
    pcre2_code* code_ = nullptr;
    pcre2_match_context* context_ = nullptr;
    pcre2_match_data* data_ = nullptr;
    std::string_view checked_; // the text last found to be UTF-8
};

// Where the search goes on after a match [start, end): its end, or past the next whole
// character when the match was empty (never inside a character).
std::size_t next_search_start(std::string_view text, std::size_t start, std::size_t end);

} // namespace host::engine::detail::fn

#endif

#endif
