// Arrays and text: ARRAYTOTEXT writes an array as one text, REGEXEXTRACT gives the matches of
// a pattern (PCRE2, where the build has it; elsewhere an unknown function, as REGEXTEST is).

#include "engine/functions/ArrayArgs.hpp"
#include "engine/functions/text/Regex.hpp"

#include <cmath>
#include <string>

namespace host::engine::detail::fn {

namespace {

// One value as ARRAYTOTEXT shows it: strict quotes text as a formula would write it.
std::string shown(const Value& v, bool strict) {
    if (v.is_error())
        return error_text(v.as_error());
    if (v.is_empty())
        return std::string();
    if (v.is_text() && strict) {
        std::string quoted = "\"";
        for (char ch : v.as_text())
            quoted += ch == '"' ? std::string("\"\"") : std::string(1, ch);
        return quoted + "\"";
    }
    return to_text(v);
}

// ARRAYTOTEXT(array, [format]): format 0 lists the values with ", " between them; format 1
// writes them as an array constant, {1,"a";TRUE,#N/A}; a fraction is truncated.
OMBRIX_FN(arraytotext) {
    ValueGrid g;
    if (!grid_arg(c, 0, g, out.v))
        return;
    OMBRIX_NUMBER_OR(1, format, 0);
    format = std::trunc(format);
    if (format != 0 && format != 1)
        OMBRIX_RETURN(err(ErrorCode::Value));
    const bool strict = format == 1;
    std::string text = strict ? "{" : "";
    for (std::int32_t r = 0; r < g.rows; ++r)
        for (std::int32_t k = 0; k < g.cols; ++k) {
            if (r > 0 || k > 0)
                text += !strict ? ", " : k == 0 ? ";" : ",";
            text += shown(g.at(r, k), strict);
            if (text.size() > 4 * max_text_length) // past the limit already: the rest need not be written
                OMBRIX_RETURN(err(ErrorCode::Value));
        }
    if (strict)
        text += "}";
    OMBRIX_RETURN(Value::text(text));
}

#ifdef OMBRIX_HAVE_PCRE2
// REGEXEXTRACT(text, pattern, [return_mode], [case_sensitivity]): mode 0 the first match, 1
// every match as a row, 2 the first match's capture groups as a row; #N/A without a match.
OMBRIX_FN(regexextract) {
    OMBRIX_TEXT(0, text);
    OMBRIX_TEXT(1, pattern);
    OMBRIX_NUMBER_OR(2, mode, 0);
    OMBRIX_NUMBER_OR(3, sensitivity, 0);
    if ((mode != 0 && mode != 1 && mode != 2) || (sensitivity != 0 && sensitivity != 1))
        OMBRIX_RETURN(err(ErrorCode::Value));
    Regex regex(pattern, sensitivity == 1);
    if (!regex.valid())
        OMBRIX_RETURN(err(ErrorCode::Value));
    ValueGrid found;
    found.rows = 1;
    for (std::size_t at = 0; at <= text.size();) {
        const int rc = regex.match(text, at);
        if (rc == PCRE2_ERROR_NOMATCH)
            break;
        if (rc < 0)
            OMBRIX_RETURN(err(ErrorCode::Value));
        auto piece = [&](int group) {
            if (regex.start(group) == PCRE2_UNSET)
                return Value::text("");
            return Value::text(
                std::string_view(text).substr(regex.start(group), regex.end(group) - regex.start(group)));
        };
        if (mode == 2) {
            for (int group = 1; group < rc; ++group)
                found.values.push_back(piece(group));
            if (rc == 1) // no groups: the match itself
                found.values.push_back(piece(0));
            break;
        }
        found.values.push_back(piece(0));
        if (mode == 0)
            break;
        at = next_search_start(text, regex.start(0), regex.end(0));
    }
    if (found.values.empty())
        OMBRIX_RETURN(err(ErrorCode::NA));
    found.cols = std::int32_t(found.values.size());
    give(c, out, std::move(found));
}
#endif

} // namespace

std::vector<Entry> array_text_functions() {
    return {
        {{"ARRAYTOTEXT", 1, 2, FnArrayArgs, "av"}, fn_arraytotext},
#ifdef OMBRIX_HAVE_PCRE2
        {{"REGEXEXTRACT", 2, 4, 0, "v"}, fn_regexextract},
#endif
    };
}

} // namespace host::engine::detail::fn
