// Text for and from the web that needs no connection: ENCODEURL, and FILTERXML over XML
// given as text.

#include "engine/functions/ArrayArgs.hpp"
#include "engine/functions/text/XmlQuery.hpp"

#include <cctype>
#include <string>
#include <utility>

namespace host::engine::detail::fn {

namespace {

constexpr std::size_t max_text = max_text_length;

// Every byte of the UTF-8 text but the unreserved characters of a URL (letters, digits,
// - _ . ~) written as %XX.
OMBRIX_FN(encodeurl) {
    OMBRIX_TEXT(0, text);
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (unsigned char ch : text) {
        if (std::isalnum(ch) && ch < 0x80) {
            encoded += char(ch);
        } else if (ch == '-' || ch == '_' || ch == '.' || ch == '~') {
            encoded += char(ch);
        } else {
            encoded += '%';
            encoded += hex[ch >> 4];
            encoded += hex[ch & 15];
        }
    }
    if (encoded.size() > max_text) // every character is one byte now
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_RETURN(Value::text(encoded));
}

// FILTERXML(xml, xpath): the text of every node the path finds, in a column; text that reads
// as a number is that number. #VALUE! when the XML or the path cannot be read, or nothing is found.
OMBRIX_FN(filterxml) {
    OMBRIX_TEXT(0, xml);
    OMBRIX_TEXT(1, path);
    const auto found = query_xml(xml, path);
    if (!found || found->empty())
        OMBRIX_RETURN(err(ErrorCode::Value));
    ValueGrid g;
    g.rows = std::int32_t(found->size());
    g.cols = 1;
    for (const std::string& text : *found) {
        const auto number = parse_number(text);
        g.values.push_back(number ? Value::number(*number) : Value::text(text));
    }
    give(c, out, std::move(g));
}

} // namespace

std::vector<Entry> web_functions() {
    const std::uint8_t L = FnLift;
    return {
        {{"ENCODEURL", 1, 1, L}, fn_encodeurl},
        {{"FILTERXML", 2, 2, L}, fn_filterxml},
    };
}

} // namespace host::engine::detail::fn
