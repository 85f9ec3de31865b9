#include "BookFiles.hpp"

#include "io/IoError.hpp"

#include <clocale>
#include <cwctype>
#include <locale.h>
#include <ostream>

namespace app {

host::io::Document open_book(const std::string& path, const std::string& sheet, std::ostream& err) {
    host::io::Document document = host::io::load(path);
    for (const std::string& w : document.warnings) err << w << "\n";
    host::engine::Workbook& book = document.workbook;
    book.recalculate_all();
    if (!sheet.empty()) {
        int s = find_sheet(book, sheet);
        if (s < 0) {
            std::string names;
            for (const std::string& n : book.sheet_names()) names += (names.empty() ? "" : ", ") + n;
            throw UsageError("the workbook has no sheet \"" + sheet + "\" (its sheets: " + names + ")");
        }
        book.set_active_sheet(s);
    }
    return document;
}

namespace {

// The next code point of UTF-8 text from `i`; a byte that does not start a valid sequence
// stands for itself (as a code point above the Unicode range, so it matches only itself).
char32_t next_code_point(std::string_view s, std::size_t& i) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length == 0 || i + std::size_t(length) > s.size()) return 0x110000 + s[i++];
    char32_t cp = length == 1 ? c : c & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        unsigned char b = static_cast<unsigned char>(s[i + std::size_t(k)]);
        if ((b & 0xC0) != 0x80) return 0x110000 + s[i++];
        cp = (cp << 6) | (b & 0x3F);
    }
    i += std::size_t(length);
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

// The C library's Unicode character classes (the C.UTF-8 locale, always present with glibc);
// without it only ASCII letters fold.
locale_t unicode_locale() {
    static locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    return locale;
}

} // namespace

std::string fold_case(std::string_view utf8) {
    locale_t locale = unicode_locale();
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = next_code_point(utf8, i);
        if (cp < 0x80) {
            if (cp >= 'A' && cp <= 'Z') cp += 'a' - 'A';
        } else if (cp < 0x110000 && locale != locale_t(nullptr)) {
            // Lower case of the upper case: folds the letters with two lower forms (final sigma).
            wint_t c = static_cast<wint_t>(cp);
            cp = static_cast<char32_t>(towlower_l(towupper_l(c, locale), locale));
        }
        append_utf8(out, cp);
    }
    return out;
}

int find_sheet(const host::engine::Workbook& book, std::string_view name) {
    int exact = book.find_sheet(name);
    if (exact >= 0) return exact;
    std::string folded = fold_case(name);
    for (int s = 0; s < book.sheet_count(); ++s)
        if (fold_case(book.sheet_name(s)) == folded) return s;
    return -1;
}

void check_save(const host::io::Document& document, const std::string& target, bool sheet_chosen) {
    // Found before any work is done, a target that cannot be saved is a mistake in the request.
    try {
        host::io::check_save_target(target);
    } catch (const host::io::IoError& e) {
        throw UsageError(e.what());
    }
    if (host::io::format_of(target) != host::io::Format::Csv || sheet_chosen) return;
    const host::engine::Workbook& book = document.workbook;
    std::string lost;
    for (int s = 0; s < book.sheet_count(); ++s)
        if (s != book.active_sheet()) lost += (lost.empty() ? "the sheets " : ", ") + book.sheet_name(s);
    std::vector<std::string> names = book.names();
    for (std::size_t i = 0; i < names.size(); ++i)
        lost += (i == 0 ? std::string(lost.empty() ? "" : " and ") + "the defined names " : ", ") + names[i];
    if (!lost.empty())
        throw UsageError("a .csv file holds one sheet and no names: saving " + target + " would lose " + lost +
                         "; save as .xlsx, or pick the sheet to write with --sheet");
}

} // namespace app
