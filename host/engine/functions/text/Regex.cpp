#include "engine/functions/text/Regex.hpp"

#ifdef OMBRIX_HAVE_PCRE2

#include "engine/Unicode.hpp"

#include <vector>

namespace host::engine::detail::fn {

Regex::Regex(std::string_view pattern, bool ignore_case) {
    int error;
    PCRE2_SIZE offset;
    code_ = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                          PCRE2_UTF | (ignore_case ? PCRE2_CASELESS : 0), &error, &offset, nullptr);
    if (!code_)
        return;
    context_ = pcre2_match_context_create(nullptr);
    data_ = pcre2_match_data_create_from_pattern(code_, nullptr);
    if (!context_ || !data_) {
        pcre2_code_free(code_);
        code_ = nullptr;
        return;
    }
    pcre2_set_match_limit(context_, regex_match_limit);
    pcre2_set_depth_limit(context_, regex_depth_limit);
}

Regex::~Regex() {
    pcre2_match_data_free(data_);
    pcre2_match_context_free(context_);
    pcre2_code_free(code_);
}

int Regex::match(std::string_view text, std::size_t at) {
    // PCRE2 checks that the whole text is UTF-8 on every call unless told it was: once is
    // enough for the matches along one text, the first from its start and the others on from
    // a character's start.
    const bool checked = at > 0 && text.data() == checked_.data() && text.size() == checked_.size();
    const int rc = pcre2_match(code_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), at,
                               checked ? PCRE2_NO_UTF_CHECK : 0, data_, context_);
    if (!checked && (rc >= 0 || rc == PCRE2_ERROR_NOMATCH))
        checked_ = text;
    return rc;
}

bool Regex::substitute(std::string_view text, std::size_t from, bool global, std::string_view replacement,
                       std::size_t max_bytes, std::string& out) {
    const std::uint32_t options = PCRE2_SUBSTITUTE_OVERFLOW_LENGTH | (global ? PCRE2_SUBSTITUTE_GLOBAL : 0);
    // A guess first; when it is short, PCRE2 says how long the result is.
    std::vector<PCRE2_UCHAR> buffer(text.size() + replacement.size() + 256);
    for (int attempt = 0; attempt < 2; ++attempt) {
        PCRE2_SIZE length = buffer.size();
        const int rc = pcre2_substitute(code_, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), from, options,
                                        data_, context_, reinterpret_cast<PCRE2_SPTR>(replacement.data()),
                                        replacement.size(), buffer.data(), &length);
        if (rc == PCRE2_ERROR_NOMEMORY && attempt == 0) {
            if (length > max_bytes)
                return false;
            buffer.resize(length);
            continue;
        }
        if (rc < 0)
            return false;
        out.assign(reinterpret_cast<const char*>(buffer.data()), length);
        return true;
    }
    return false;
}

std::size_t next_search_start(std::string_view text, std::size_t start, std::size_t end) {
    if (end > start)
        return end;
    if (end >= text.size())
        return end + 1;
    const std::size_t length = utf8_sequence_length(text, end);
    return end + (length == 0 ? 1 : length);
}

} // namespace host::engine::detail::fn

#endif
