#ifndef OMBRIX_HOST_ENGINE_LEXER_HPP
#define OMBRIX_HOST_ENGINE_LEXER_HPP

// The engine's own: everything outside host/engine goes through engine/Workbook.hpp.
#ifndef OMBRIX_ENGINE_INTERNALS
#error "engine/internal/ headers are private to the engine (use engine/Workbook.hpp)"
#endif

// The formula lexer: numbers, texts, error values, references (with sheet and book
// prefixes, whole rows and columns), names, function names and operators. Shared by the
// parser and the formula mover, which rewrites references token by token.

#include "engine/internal/Program.hpp"

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace host::engine::detail {

enum class Tok {
    End,
    Number,
    String,
    Error,
    Ref,
    Ident,
    Func,
    Op,
    LParen,
    RParen,
    Comma,
    Semicolon,
    LBrace,
    RBrace,
    Colon
};

struct Token {
    Tok kind = Tok::End;
    std::size_t begin = 0, end = 0;
    std::size_t ref_start = 0; // Ref: where the cell part starts (after any sheet prefix)
    double number = 0;
    std::string text; // String: the content; Ident/Func: upper-case name; Op: operator
    ErrorCode error = ErrorCode::Null;
    SymRef ref;
};

inline bool is_letter(char ch) { return std::isalpha(static_cast<unsigned char>(ch)) != 0; }
inline bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }
inline bool is_name_start(char ch) {
    return is_letter(ch) || ch == '_' || ch == '\\' || static_cast<unsigned char>(ch) >= 0x80;
}
inline bool is_name_char(char ch) { return is_name_start(ch) || is_digit(ch) || ch == '.' || ch == '?'; }

// The table a structured reference names when written inside its own table without a name,
// SUBTOTAL(109,[Qty]): resolved to the table holding the formula's cell.
constexpr std::string_view own_table = "[]";

// Reads tokens from `text`, starting at byte `offset`. Failures throw FormulaError with the
// position in the whole text.
class Lexer {
public:
    Lexer(std::string_view text, std::size_t offset) : s_(text), pos_(offset) {}

    [[noreturn]] void fail(std::size_t at, const std::string& why) const;
    Token next();

    std::size_t pos() const { return pos_; }

private:
    Token& lex_string(Token& t);
    Token& lex_error_or_ref(Token& t);

    // '[1]Sheet'!A1, 'My sheet'!A1, [1]Sheet1!A1
    Token& lex_prefixed(Token& t);
    void lex_reference_after_sheet(Token& t, const std::string& sheets);
    void lex_one_sheet_reference(Token& t, const std::string& sheet);

    // $A$1 with optional $ markers; true and the position after it on success.
    bool scan_cell(std::size_t at, std::int32_t& row, std::int32_t& col, bool& row_abs, bool& col_abs,
                   std::size_t& end) const;
    bool lex_cell(Token& t, std::size_t at, const std::string& sheet);
    bool scan_col(std::size_t& p, std::int32_t& col, bool& abs) const;
    bool scan_row(std::size_t& p, std::int32_t& row, bool& abs) const;
    bool lex_col_range(Token& t, std::size_t at, const std::string& sheet);
    bool lex_row_range(Token& t, std::size_t at, const std::string& sheet, bool allow_dollar);
    Token& lex_number(Token& t);
    Token& lex_word(Token& t);

    std::string_view s_;
    std::size_t pos_;
};

} // namespace host::engine::detail

#endif
