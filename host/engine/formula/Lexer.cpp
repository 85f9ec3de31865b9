#include "engine/internal/Lexer.hpp"

#include "engine/A1.hpp"
#include "engine/Errors.hpp"

#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>
#include <system_error>

namespace host::engine::detail {

namespace {

// The position of the ']' that closes the '[' at p ('x escapes x in a column's name), or npos.
std::size_t closing_bracket(std::string_view s, std::size_t p) {
    int depth = 0;
    for (std::size_t q = p; q < s.size(); ++q) {
        if (s[q] == '\'' && q + 1 < s.size()) {
            ++q;
            continue;
        }
        if (s[q] == '[')
            ++depth;
        else if (s[q] == ']' && --depth == 0)
            return q;
    }
    return std::string_view::npos;
}

} // namespace

void Lexer::fail(std::size_t at, const std::string& why) const { throw FormulaError(std::string(s_), at, why); }

Token Lexer::next() {
    while (pos_ < s_.size() && (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r'))
        ++pos_;
    Token t;
    t.begin = pos_;
    if (pos_ >= s_.size()) {
        t.end = pos_;
        return t;
    }
    char ch = s_[pos_];
    if (ch == '"')
        return lex_string(t);
    if (ch == '#')
        return lex_error_or_ref(t);
    if (ch == '[') { // [Qty] inside its own table, or a book: [1]Sheet1!A1, [Book.xlsx]Sheet1!A1
        std::size_t q = closing_bracket(s_, pos_);
        if (q != std::string_view::npos && !is_digit(s_[pos_ + 1]) &&
            (q + 1 == s_.size() || !(is_name_start(s_[q + 1]) || s_[q + 1] == '!' || s_[q + 1] == '\''))) {
            t.kind = Tok::Ref;
            t.ref.rare = std::make_shared<SymRef::Rare>(
                SymRef::Rare{{}, std::string(own_table), std::string(s_.substr(pos_ + 1, q - pos_ - 1))});
            t.ref_start = pos_;
            pos_ = t.end = q + 1;
            return t;
        }
    }
    if (ch == '\'' || ch == '[')
        return lex_prefixed(t);
    if (is_digit(ch) || (ch == '.' && pos_ + 1 < s_.size() && is_digit(s_[pos_ + 1]))) {
        if (lex_row_range(t, pos_, std::string(), false))
            return t;
        return lex_number(t);
    }
    if (ch == '$' || is_name_start(ch))
        return lex_word(t);
    ++pos_;
    t.end = pos_;
    switch (ch) {
    case '(': t.kind = Tok::LParen; return t;
    case ')': t.kind = Tok::RParen; return t;
    case ',': t.kind = Tok::Comma; return t;
    case ';': t.kind = Tok::Semicolon; return t;
    case '{': t.kind = Tok::LBrace; return t;
    case '}': t.kind = Tok::RBrace; return t;
    case '.': // A1.:B9 and A1.:.B9, the trim operators
        if (pos_ >= s_.size() || s_[pos_] != ':')
            fail(t.begin, "unexpected '.'");
        ++pos_;
        [[fallthrough]];
    case ':':
        t.kind = Tok::Colon;
        // A1:.B9, also A1:.#REF! (a moved formula's reference that fell off the grid)
        if (pos_ + 1 < s_.size() && s_[pos_] == '.' &&
            (s_[pos_ + 1] == '$' || s_[pos_ + 1] == '#' || is_letter(s_[pos_ + 1])))
            ++pos_;
        t.text = std::string(s_.substr(t.begin, pos_ - t.begin));
        t.end = pos_;
        return t;
    case '+':
    case '-':
    case '*':
    case '/':
    case '^':
    case '&':
    case '=':
    case '%':
    case '@':
        t.kind = Tok::Op;
        t.text = std::string(1, ch);
        return t;
    case '<':
        t.kind = Tok::Op;
        if (pos_ < s_.size() && (s_[pos_] == '=' || s_[pos_] == '>'))
            t.text = std::string("<") + s_[pos_++];
        else
            t.text = "<";
        t.end = pos_;
        return t;
    case '>':
        t.kind = Tok::Op;
        if (pos_ < s_.size() && s_[pos_] == '=')
            t.text = ">=", ++pos_;
        else
            t.text = ">";
        t.end = pos_;
        return t;
    default: break;
    }
    fail(t.begin, std::string("unexpected '") + ch + "'");
}

Token& Lexer::lex_string(Token& t) {
    ++pos_;
    for (;;) {
        if (pos_ >= s_.size())
            fail(t.begin, "a text is not closed with '\"'");
        if (s_[pos_] == '"') {
            if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '"') {
                t.text += '"';
                pos_ += 2;
                continue;
            }
            ++pos_;
            break;
        }
        t.text += s_[pos_++];
    }
    t.kind = Tok::String;
    t.end = pos_;
    return t;
}

Token& Lexer::lex_error_or_ref(Token& t) {
    for (int i = 0; i <= int(ErrorCode::GettingData); ++i) {
        std::string_view e(error_text(static_cast<ErrorCode>(i)));
        if (iequals(s_.substr(pos_, e.size()), e)) {
            pos_ += e.size();
            t.kind = Tok::Error;
            t.error = static_cast<ErrorCode>(i);
            t.end = pos_;
            return t;
        }
    }
    // A1#, right after a reference or a call: the spill of the array formula there.
    if (t.begin > 0 && (is_name_char(s_[t.begin - 1]) || s_[t.begin - 1] == ')')) {
        t.kind = Tok::Op;
        t.text = "#";
        t.end = ++pos_;
        return t;
    }
    fail(t.begin, "unknown error value");
}

namespace {

// The number of "1" in [1]Sheet1!A1: the file's link; 0 for a book named otherwise.
std::uint16_t book_number(std::string_view inside) {
    unsigned n = 0;
    for (char ch : inside) {
        if (!is_digit(ch) || n > 6553)
            return 0;
        n = n * 10 + unsigned(ch - '0');
    }
    return n > 65535 ? 0 : static_cast<std::uint16_t>(n);
}

} // namespace

Token& Lexer::lex_prefixed(Token& t) {
    bool external = false;
    std::uint16_t book = 0;
    if (s_[pos_] == '[') {
        std::size_t close = s_.find(']', pos_);
        if (close == std::string_view::npos)
            fail(t.begin, "'[' without ']'");
        external = true;
        book = book_number(s_.substr(pos_ + 1, close - pos_ - 1));
        pos_ = close + 1;
        if (pos_ < s_.size() && s_[pos_] == '!') { // [1]!Rate: a name of the other workbook
            std::size_t p = ++pos_;
            while (p < s_.size() && is_name_char(s_[p]))
                ++p;
            if (p == pos_ || !is_name_start(s_[pos_]))
                fail(t.begin, "expected a name after the workbook");
            t.kind = Tok::Ident;
            t.text = to_upper(s_.substr(pos_, p - pos_));
            if (s_.substr(t.begin, 4) != "[0]!") // book 0 is this workbook: its own name
                t.text = "[" + std::to_string(book) + "]!" + t.text;
            pos_ = t.end = p;
            // [1]!sql(...): a function of the other workbook (an add-in's), called.
            if (p < s_.size() && s_[p] == '(') {
                t.kind = Tok::Func;
                pos_ = t.end = p + 1;
            }
            return t;
        }
    }
    std::string sheet;
    if (pos_ < s_.size() && s_[pos_] == '\'') {
        ++pos_;
        for (;;) {
            if (pos_ >= s_.size())
                fail(t.begin, "a sheet name is not closed with an apostrophe");
            if (s_[pos_] == '\'') {
                if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
                    sheet += '\'';
                    pos_ += 2;
                    continue;
                }
                ++pos_;
                break;
            }
            sheet += s_[pos_++];
        }
        if (!sheet.empty() && sheet[0] == '[') { // '[1]My Sheet'!A1: the book inside the quotes
            std::size_t close = sheet.find(']');
            if (close != std::string::npos) {
                external = true;
                book = book_number(std::string_view(sheet).substr(1, close - 1));
                sheet = sheet.substr(close + 1);
            }
        }
    } else {
        while (pos_ < s_.size() && is_name_char(s_[pos_]))
            sheet += s_[pos_++];
    }
    if (pos_ >= s_.size() || s_[pos_] != '!')
        fail(t.begin, "a sheet name must be followed by '!'");
    ++pos_;
    if (sheet.empty())
        fail(t.begin, "empty sheet name");
    lex_reference_after_sheet(t, sheet);
    t.ref.external = external;
    t.ref.book = book;
    if (external && t.kind == Tok::Ident) // [1]Sheet1!Rate: a name of one of its sheets
        t.text = "[" + std::to_string(book) + "]" + t.text;
    return t;
}

void Lexer::lex_reference_after_sheet(Token& t, const std::string& sheets) {
    // A colon cannot be part of a sheet's name: "Jan:Mar" are the first and last of several.
    std::size_t colon = sheets.find(':');
    std::string sheet = sheets.substr(0, colon);
    lex_one_sheet_reference(t, sheet);
    if (colon != std::string::npos)
        t.ref.rare = std::make_shared<SymRef::Rare>(SymRef::Rare{sheets.substr(colon + 1), {}, {}});
}

void Lexer::lex_one_sheet_reference(Token& t, const std::string& sheet) {
    std::size_t at = pos_;
    t.ref_start = at;
    if (at < s_.size() && s_[at] == '#') {
        if (iequals(s_.substr(at, 5), "#REF!")) {
            pos_ = at + 5;
            t.kind = Tok::Ref;
            t.ref.sheet = sheet;
            t.ref.invalid = true;
            t.end = pos_;
            return;
        }
    }
    if (lex_row_range(t, at, sheet, true) || lex_col_range(t, at, sheet) || lex_cell(t, at, sheet))
        return;
    if (!sheet.empty() && at < s_.size() && is_name_start(s_[at])) { // Defines!Rate: a name seen from that sheet
        std::size_t p = at;
        while (p < s_.size() && is_name_char(s_[p]))
            ++p;
        t.kind = Tok::Ident;
        t.text = to_upper(sheet) + "!" + to_upper(s_.substr(at, p - at));
        pos_ = t.end = p;
        return;
    }
    fail(at, "expected a cell reference or a name after the sheet name");
}

bool Lexer::scan_cell(std::size_t at, std::int32_t& row, std::int32_t& col, bool& row_abs, bool& col_abs,
                      std::size_t& end) const {
    std::size_t p = at;
    col_abs = p < s_.size() && s_[p] == '$';
    if (col_abs)
        ++p;
    std::size_t letters = 0;
    std::int64_t c = 0;
    while (p < s_.size() && is_letter(s_[p]) && letters < 4) {
        c = c * 26 + (std::toupper(static_cast<unsigned char>(s_[p])) - 'A' + 1);
        ++p, ++letters;
    }
    if (letters == 0 || letters > 3)
        return false;
    row_abs = p < s_.size() && s_[p] == '$';
    if (row_abs)
        ++p;
    std::size_t digits = 0;
    std::int64_t r = 0;
    while (p < s_.size() && is_digit(s_[p]) && digits < 8) {
        r = r * 10 + (s_[p] - '0');
        ++p, ++digits;
    }
    if (digits == 0 || digits > 7 || r < 1 || r > max_rows || c > max_columns)
        return false;
    const bool trims = p + 1 < s_.size() && s_[p] == '.' && s_[p + 1] == ':'; // A1.:B9
    if (p < s_.size() && !trims && (is_name_char(s_[p]) || s_[p] == '(' || s_[p] == '$'))
        return false;
    row = static_cast<std::int32_t>(r - 1);
    col = static_cast<std::int32_t>(c - 1);
    end = p;
    return true;
}

bool Lexer::lex_cell(Token& t, std::size_t at, const std::string& sheet) {
    std::int32_t row, col;
    bool ra, ca;
    std::size_t end;
    if (!scan_cell(at, row, col, ra, ca, end))
        return false;
    t.kind = Tok::Ref;
    t.ref_start = at;
    t.ref.sheet = sheet;
    t.ref.r1 = t.ref.r2 = row;
    t.ref.c1 = t.ref.c2 = col;
    t.ref.r1_abs = t.ref.r2_abs = ra;
    t.ref.c1_abs = t.ref.c2_abs = ca;
    pos_ = t.end = end;
    return true;
}

bool Lexer::scan_col(std::size_t& p, std::int32_t& col, bool& abs) const {
    abs = p < s_.size() && s_[p] == '$';
    std::size_t q = abs ? p + 1 : p;
    std::int64_t c = 0;
    std::size_t letters = 0;
    while (q < s_.size() && is_letter(s_[q]) && letters < 4)
        c = c * 26 + (std::toupper(static_cast<unsigned char>(s_[q])) - 'A' + 1), ++q, ++letters;
    if (letters == 0 || letters > 3 || c > max_columns)
        return false;
    col = static_cast<std::int32_t>(c - 1);
    p = q;
    return true;
}

bool Lexer::scan_row(std::size_t& p, std::int32_t& row, bool& abs) const {
    abs = p < s_.size() && s_[p] == '$';
    std::size_t q = abs ? p + 1 : p;
    std::int64_t r = 0;
    std::size_t digits = 0;
    while (q < s_.size() && is_digit(s_[q]) && digits < 8)
        r = r * 10 + (s_[q] - '0'), ++q, ++digits;
    if (digits == 0 || digits > 7 || r < 1 || r > max_rows)
        return false;
    row = static_cast<std::int32_t>(r - 1);
    p = q;
    return true;
}

bool Lexer::lex_col_range(Token& t, std::size_t at, const std::string& sheet) {
    std::size_t p = at;
    SymRef r;
    if (!scan_col(p, r.c1, r.c1_abs) || p >= s_.size() || s_[p] != ':')
        return false;
    ++p;
    if (!scan_col(p, r.c2, r.c2_abs))
        return false;
    if (p < s_.size() && (is_name_char(s_[p]) || s_[p] == '(' || s_[p] == '$'))
        return false;
    r.whole_cols = true;
    r.r1 = 0;
    r.r2 = max_rows - 1;
    r.sheet = sheet;
    if (r.c1 > r.c2)
        std::swap(r.c1, r.c2), std::swap(r.c1_abs, r.c2_abs);
    t.kind = Tok::Ref;
    t.ref = r;
    t.ref_start = at;
    pos_ = t.end = p;
    return true;
}

bool Lexer::lex_row_range(Token& t, std::size_t at, const std::string& sheet, bool allow_dollar) {
    std::size_t p = at;
    SymRef r;
    if (!allow_dollar && p < s_.size() && s_[p] == '$')
        return false;
    if (!scan_row(p, r.r1, r.r1_abs) || p >= s_.size() || s_[p] != ':')
        return false;
    ++p;
    if (!scan_row(p, r.r2, r.r2_abs))
        return false;
    if (p < s_.size() && (is_name_char(s_[p]) || s_[p] == '(' || s_[p] == '$'))
        return false;
    r.whole_rows = true;
    r.c1 = 0;
    r.c2 = max_columns - 1;
    r.sheet = sheet;
    if (r.r1 > r.r2)
        std::swap(r.r1, r.r2), std::swap(r.r1_abs, r.r2_abs);
    t.kind = Tok::Ref;
    t.ref = r;
    t.ref_start = at;
    pos_ = t.end = p;
    return true;
}

Token& Lexer::lex_number(Token& t) {
    std::size_t p = pos_;
    while (p < s_.size() && is_digit(s_[p]))
        ++p;
    if (p < s_.size() && s_[p] == '.') {
        ++p;
        while (p < s_.size() && is_digit(s_[p]))
            ++p;
    }
    if (p < s_.size() && (s_[p] == 'e' || s_[p] == 'E')) {
        std::size_t q = p + 1;
        if (q < s_.size() && (s_[q] == '+' || s_[q] == '-'))
            ++q;
        if (q < s_.size() && is_digit(s_[q])) {
            while (q < s_.size() && is_digit(s_[q]))
                ++q;
            p = q;
        }
    }
    // from_chars reads the same digits as strtod, correctly rounded, without a copy or the
    // locale; out of range it leaves x alone, and strtod then tells overflow from underflow.
    double x = 0;
    const auto read = std::from_chars(s_.data() + pos_, s_.data() + p, x);
    if (read.ec != std::errc() || read.ptr != s_.data() + p) {
        x = std::strtod(std::string(s_.substr(pos_, p - pos_)).c_str(), nullptr);
        if (!std::isfinite(x))
            fail(t.begin, "number too large");
    }
    t.kind = Tok::Number;
    t.number = x;
    pos_ = t.end = p;
    return t;
}

Token& Lexer::lex_word(Token& t) {
    std::size_t at = pos_;
    // A sheet prefix: Sheet1!A1
    if (s_[at] != '$') {
        std::size_t p = at;
        while (p < s_.size() && is_name_char(s_[p]))
            ++p;
        if (p + 1 < s_.size() && s_[p] == ':' && is_name_start(s_[p + 1])) { // Jan:Mar!B2
            std::size_t q = p + 1;
            while (q < s_.size() && is_name_char(s_[q]))
                ++q;
            if (q < s_.size() && s_[q] == '!')
                p = q;
        }
        if (p < s_.size() && s_[p] == '!') {
            std::string sheet(s_.substr(at, p - at));
            pos_ = p + 1;
            lex_reference_after_sheet(t, sheet);
            return t;
        }
    }
    if (lex_col_range(t, at, std::string()) || lex_cell(t, at, std::string()) ||
        (s_[at] == '$' && lex_row_range(t, at, std::string(), true)))
        return t;
    if (s_[at] == '$')
        fail(at, "'$' must be part of a cell reference");
    std::size_t p = at;
    while (p < s_.size() && is_name_char(s_[p]))
        ++p;
    t.text = to_upper(s_.substr(at, p - at));
    pos_ = t.end = p;
    if (p < s_.size() && s_[p] == '[') { // Sales[Qty], Sales[[#This Row],[Qty]]
        std::size_t q = closing_bracket(s_, p);
        if (q == std::string_view::npos)
            fail(p, "'[' without ']'");
        t.kind = Tok::Ref;
        t.ref.rare = std::make_shared<SymRef::Rare>(SymRef::Rare{{}, t.text, std::string(s_.substr(p + 1, q - p - 1))});
        t.ref_start = at;
        pos_ = t.end = q + 1;
        return t;
    }
    if (p < s_.size() && s_[p] == '(') {
        t.kind = Tok::Func;
        ++pos_;
        t.end = pos_;
    } else {
        t.kind = Tok::Ident;
    }
    return t;
}

} // namespace host::engine::detail
