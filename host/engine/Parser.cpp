// The formula grammar: a lexer, a parser that emits postfix code directly (no tree, so long
// chains of operators need no recursion), and the reference mover for shared formulas.

#include "engine/Program.hpp"
#include "engine/Workbook.hpp"

#include <cctype>
#include <cmath>
#include <cstdlib>

namespace host::engine {

FormulaError::FormulaError(const std::string& formula, std::size_t position, const std::string& reason)
    : EngineError("Cannot read the formula \"" + formula + "\": " + reason + " at character " +
                  std::to_string(position + 1)),
      formula_(formula), position_(position), reason_(reason) {}

FormulaError::~FormulaError() noexcept = default;
EngineError::~EngineError() noexcept = default;

namespace detail {

bool iequals(std::string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string to_upper(std::string_view s) {
    std::string out(s);
    for (char& ch : out)
        ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return out;
}

namespace {

enum class Tok { End, Number, String, Error, Ref, Ident, Func, Op, LParen, RParen, Comma, Semicolon, LBrace, RBrace, Colon };

struct Token {
    Tok kind = Tok::End;
    std::size_t begin = 0, end = 0;
    std::size_t ref_start = 0;   // Ref: where the cell part starts (after any sheet prefix)
    double number = 0;
    std::string text;            // String: the content; Ident/Func: upper-case name; Op: operator
    ErrorCode error = ErrorCode::Null;
    SymRef ref;
};

bool is_letter(char ch) { return std::isalpha(static_cast<unsigned char>(ch)) != 0; }
bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }
bool is_name_start(char ch) { return is_letter(ch) || ch == '_' || ch == '\\' || static_cast<unsigned char>(ch) >= 0x80; }
bool is_name_char(char ch) { return is_name_start(ch) || is_digit(ch) || ch == '.' || ch == '?'; }

class Lexer {
public:
    Lexer(std::string_view text, std::size_t offset) : s_(text), pos_(offset) {}

    [[noreturn]] void fail(std::size_t at, const std::string& why) const {
        throw FormulaError(std::string(s_), at, why);
    }

    Token next() {
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
        case ':': t.kind = Tok::Colon; return t;
        case '+': case '-': case '*': case '/': case '^': case '&': case '=': case '%':
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

    std::size_t pos() const { return pos_; }

private:
    Token& lex_string(Token& t) {
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

    Token& lex_error_or_ref(Token& t) {
        static const char* const texts[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"};
        for (int i = 0; i < 7; ++i) {
            std::string_view e(texts[i]);
            if (iequals(s_.substr(pos_, e.size()), e)) {
                pos_ += e.size();
                t.kind = Tok::Error;
                t.error = static_cast<ErrorCode>(i);
                t.end = pos_;
                return t;
            }
        }
        fail(t.begin, "unknown error value");
    }

    // '[1]Sheet'!A1, 'My sheet'!A1, [1]Sheet1!A1
    Token& lex_prefixed(Token& t) {
        bool external = false;
        if (s_[pos_] == '[') {
            std::size_t close = s_.find(']', pos_);
            if (close == std::string_view::npos)
                fail(t.begin, "'[' without ']'");
            external = true;
            pos_ = close + 1;
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
            if (external && sheet.size() > 1 && sheet[0] == '[') {
                // '[1]Sheet'!A1: the book part inside the quotes
            }
            if (!sheet.empty() && sheet[0] == '[') {
                std::size_t close = sheet.find(']');
                if (close != std::string::npos) {
                    external = true;
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
        return t;
    }

    void lex_reference_after_sheet(Token& t, const std::string& sheet) {
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
        fail(at, "expected a cell reference after the sheet name");
    }

    // $A$1 with optional $ markers; true and the position after it on success.
    bool scan_cell(std::size_t at, std::int32_t& row, std::int32_t& col, bool& row_abs, bool& col_abs,
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
        if (p < s_.size() && (is_name_char(s_[p]) || s_[p] == '(' || s_[p] == '$'))
            return false;
        row = static_cast<std::int32_t>(r - 1);
        col = static_cast<std::int32_t>(c - 1);
        end = p;
        return true;
    }

    bool lex_cell(Token& t, std::size_t at, const std::string& sheet) {
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

    bool scan_col(std::size_t& p, std::int32_t& col, bool& abs) const {
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

    bool scan_row(std::size_t& p, std::int32_t& row, bool& abs) const {
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

    bool lex_col_range(Token& t, std::size_t at, const std::string& sheet) {
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

    bool lex_row_range(Token& t, std::size_t at, const std::string& sheet, bool allow_dollar) {
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

    Token& lex_number(Token& t) {
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
        std::string digits(s_.substr(pos_, p - pos_));
        double x = std::strtod(digits.c_str(), nullptr);
        if (!std::isfinite(x))
            fail(t.begin, "number too large");
        t.kind = Tok::Number;
        t.number = x;
        pos_ = t.end = p;
        return t;
    }

    Token& lex_word(Token& t) {
        std::size_t at = pos_;
        // A sheet prefix: Sheet1!A1
        if (s_[at] != '$') {
            std::size_t p = at;
            while (p < s_.size() && is_name_char(s_[p]))
                ++p;
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
        if (p < s_.size() && s_[p] == '(') {
            t.kind = Tok::Func;
            ++pos_;
            t.end = pos_;
        } else {
            t.kind = Tok::Ident;
        }
        return t;
    }

    std::string_view s_;
    std::size_t pos_;
};

class Parser {
public:
    Parser(std::string_view text, bool array) : text_(text), lex_(text, skip_equals(text)), array_(array ? 1 : 0) {
        advance();
    }

    Program run() {
        if (tok_.kind == Tok::End)
            lex_.fail(tok_.begin, "the formula is empty");
        expression();
        if (tok_.kind != Tok::End)
            unexpected();
        return std::move(prog_);
    }

private:
    static std::size_t skip_equals(std::string_view text) {
        std::size_t p = 0;
        while (p < text.size() && text[p] == ' ')
            ++p;
        return p < text.size() && text[p] == '=' ? p + 1 : 0;
    }

    void advance() { tok_ = lex_.next(); }

    [[noreturn]] void unexpected() {
        if (tok_.kind == Tok::End)
            lex_.fail(tok_.begin, "the formula ends too early");
        lex_.fail(tok_.begin, "unexpected '" + std::string(text_.substr(tok_.begin, tok_.end - tok_.begin)) + "'");
    }

    std::uint8_t flags() const { return array_ > 0 ? ArrayContext : 0; }

    void emit(Op op, std::uint32_t operand = 0, std::uint16_t argc = 0) {
        prog_.code.push_back(Instr{op, flags(), argc, operand});
    }

    void emit_const(Value v) {
        prog_.consts.push_back(std::move(v));
        emit(Op::Const, static_cast<std::uint32_t>(prog_.consts.size() - 1));
    }

    bool is_op(const char* op) const { return tok_.kind == Tok::Op && tok_.text == op; }

    void enter() {
        if (++depth_ > max_nesting)
            lex_.fail(tok_.begin, "the formula is nested more than " + std::to_string(max_nesting) + " levels deep");
    }

    void expression() {
        concatenation();
        for (;;) {
            Op op;
            if (is_op("="))
                op = Op::Eq;
            else if (is_op("<>"))
                op = Op::Ne;
            else if (is_op("<"))
                op = Op::Lt;
            else if (is_op("<="))
                op = Op::Le;
            else if (is_op(">"))
                op = Op::Gt;
            else if (is_op(">="))
                op = Op::Ge;
            else
                return;
            advance();
            concatenation();
            emit(op);
        }
    }

    void concatenation() {
        additive();
        while (is_op("&")) {
            advance();
            additive();
            emit(Op::Concat);
        }
    }

    void additive() {
        multiplicative();
        while (is_op("+") || is_op("-")) {
            Op op = tok_.text == "+" ? Op::Add : Op::Sub;
            advance();
            multiplicative();
            emit(op);
        }
    }

    void multiplicative() {
        power();
        while (is_op("*") || is_op("/")) {
            Op op = tok_.text == "*" ? Op::Mul : Op::Div;
            advance();
            power();
            emit(op);
        }
    }

    void power() {
        unary();
        while (is_op("^")) {
            advance();
            unary();
            emit(Op::Pow);
        }
    }

    void unary() {
        if (is_op("-") || is_op("+")) {
            enter();
            Op op = tok_.text == "-" ? Op::Neg : Op::Plus;
            advance();
            unary();
            if (op == Op::Neg)
                emit(op);
            --depth_;
            return;
        }
        postfix();
    }

    void postfix() {
        primary();
        while (is_op("%")) {
            advance();
            emit(Op::Percent);
        }
    }

    void primary() {
        switch (tok_.kind) {
        case Tok::Number:
            emit_const(Value::number(tok_.number));
            advance();
            return;
        case Tok::String:
            emit_const(Value::text(tok_.text));
            advance();
            return;
        case Tok::Error:
            emit_const(Value::error(tok_.error));
            advance();
            return;
        case Tok::Ref:
            reference();
            return;
        case Tok::Ident:
            if (tok_.text == "TRUE" || tok_.text == "FALSE") {
                emit_const(Value::boolean(tok_.text == "TRUE"));
            } else {
                std::uint32_t index = 0;
                while (index < prog_.names.size() && prog_.names[index] != tok_.text)
                    ++index;
                if (index == prog_.names.size())
                    prog_.names.push_back(tok_.text);
                emit(Op::Name, index);
            }
            advance();
            return;
        case Tok::Func:
            call();
            return;
        case Tok::LParen:
            enter();
            advance();
            expression();
            if (tok_.kind != Tok::RParen)
                unexpected();
            advance();
            --depth_;
            return;
        case Tok::LBrace:
            array_literal();
            return;
        default:
            unexpected();
        }
    }

    void reference() {
        SymRef r = tok_.ref;
        std::size_t at = tok_.begin;
        advance();
        if (tok_.kind == Tok::Colon) {
            advance();
            if (tok_.kind != Tok::Ref || r.whole_cols || r.whole_rows || tok_.ref.whole_cols || tok_.ref.whole_rows)
                lex_.fail(tok_.begin, "a range needs a cell reference on each side of ':'");
            const SymRef& b = tok_.ref;
            if (!b.sheet.empty() && !iequals(b.sheet, r.sheet))
                lex_.fail(at, "a range cannot span sheets");
            if (b.invalid)
                r.invalid = true;
            if (b.r1 < r.r1)
                r.r1 = b.r1, r.r1_abs = b.r1_abs;
            else
                r.r2 = b.r2, r.r2_abs = b.r2_abs;
            if (b.c1 < r.c1)
                r.c1 = b.c1, r.c1_abs = b.c1_abs;
            else
                r.c2 = b.c2, r.c2_abs = b.c2_abs;
            advance();
        }
        prog_.refs.push_back(std::move(r));
        emit(Op::Ref, static_cast<std::uint32_t>(prog_.refs.size() - 1));
    }

    void array_literal() {
        std::size_t at = tok_.begin;
        advance();
        auto array = std::make_shared<Array>();
        std::int32_t cols = 0, col = 0;
        for (;;) {
            Value v;
            double sign = 1;
            if (is_op("-") || is_op("+")) {
                sign = tok_.text == "-" ? -1 : 1;
                advance();
                if (tok_.kind != Tok::Number)
                    unexpected();
            }
            switch (tok_.kind) {
            case Tok::Number: v = Value::number(sign * tok_.number); break;
            case Tok::String: v = Value::text(tok_.text); break;
            case Tok::Error: v = Value::error(tok_.error); break;
            case Tok::Ident:
                if (tok_.text == "TRUE" || tok_.text == "FALSE") {
                    v = Value::boolean(tok_.text == "TRUE");
                    break;
                }
                unexpected();
            default: unexpected();
            }
            array->values.push_back(std::move(v));
            ++col;
            advance();
            if (tok_.kind == Tok::Comma) {
                advance();
                continue;
            }
            if (tok_.kind == Tok::Semicolon || tok_.kind == Tok::RBrace) {
                if (array->rows == 0)
                    cols = col;
                else if (col != cols)
                    lex_.fail(at, "the rows of an array must have the same length");
                ++array->rows;
                col = 0;
                bool done = tok_.kind == Tok::RBrace;
                advance();
                if (done)
                    break;
                continue;
            }
            unexpected();
        }
        array->cols = cols;
        prog_.arrays.push_back(std::move(array));
        emit(Op::Array, static_cast<std::uint32_t>(prog_.arrays.size() - 1));
    }

    void call() {
        std::string name = tok_.text;
        std::size_t at = tok_.begin;
        for (const char* prefix : {"_XLFN.", "_XLWS.", "_XLL."})
            if (name.compare(0, std::string_view(prefix).size(), prefix) == 0)
                name = name.substr(std::string_view(prefix).size());
        enter();
        advance();
        int id = find_function(name);
        bool array_args = id >= 0 && (functions()[id].flags & FnArrayArgs);
        if (array_args)
            ++array_;
        int argc = 0;
        if (name == "IF") {
            argc = if_call(at);
        } else if (tok_.kind == Tok::RParen) {
            advance();
        } else {
            for (;;) {
                if (tok_.kind == Tok::Comma || tok_.kind == Tok::RParen)
                    emit(Op::Missing);
                else
                    expression();
                ++argc;
                if (argc > 255)
                    lex_.fail(at, "more than 255 arguments");
                if (tok_.kind == Tok::Comma) {
                    advance();
                    continue;
                }
                if (tok_.kind != Tok::RParen)
                    unexpected();
                advance();
                break;
            }
        }
        if (array_args)
            --array_;
        --depth_;
        if (id < 0) {
            bool seen = false;
            for (const auto& u : prog_.unknown_functions)
                seen = seen || u == name;
            if (!seen)
                prog_.unknown_functions.push_back(name);
            emit(Op::Unknown, 0, static_cast<std::uint16_t>(argc));
            return;
        }
        const Function& f = functions()[id];
        if (argc < f.min_args || (f.max_args >= 0 && argc > f.max_args)) {
            std::string expected = f.min_args == f.max_args ? std::to_string(f.min_args)
                                   : f.max_args < 0         ? "at least " + std::to_string(f.min_args)
                                                            : std::to_string(f.min_args) + " to " + std::to_string(f.max_args);
            lex_.fail(at, name + " takes " + expected + " argument" + (expected == "1" ? "" : "s") + ", not " +
                              std::to_string(argc));
        }
        if (name != "IF")
            emit(Op::Call, static_cast<std::uint32_t>(id), static_cast<std::uint16_t>(argc));
    }

    // IF(condition, then, else): the branch not taken is not evaluated.
    int if_call(std::size_t at) {
        auto argument = [&] {
            if (tok_.kind == Tok::Comma || tok_.kind == Tok::RParen)
                emit(Op::Missing);
            else
                expression();
        };
        argument();
        if (tok_.kind != Tok::Comma)
            lex_.fail(at, "IF takes 2 to 3 arguments, not 1");
        advance();
        std::size_t jump_if = prog_.code.size();
        emit(Op::IfFalse);
        argument();
        std::size_t jump_end = prog_.code.size();
        emit(Op::Jump);
        prog_.code[jump_if].operand = static_cast<std::uint32_t>(prog_.code.size());
        int argc = 2;
        if (tok_.kind == Tok::Comma) {
            advance();
            argument();
            argc = 3;
        } else {
            emit_const(Value::boolean(false));
        }
        if (tok_.kind == Tok::Comma)
            lex_.fail(at, "IF takes 2 to 3 arguments, not more");
        if (tok_.kind != Tok::RParen)
            unexpected();
        advance();
        prog_.code[jump_end].operand = static_cast<std::uint32_t>(prog_.code.size());
        return argc;
    }

    std::string_view text_;
    Lexer lex_;
    Token tok_;
    Program prog_;
    int array_;
    int depth_ = 0;
};

std::string cell_text(std::int32_t row, std::int32_t col, bool row_abs, bool col_abs) {
    return (col_abs ? "$" : "") + column_name(col) + (row_abs ? "$" : "") + std::to_string(row + 1);
}

} // namespace

Program parse(std::string_view text, bool array) {
    return Parser(text, array).run();
}

} // namespace detail

std::string column_name(std::int32_t col) {
    std::string out;
    std::int64_t c = std::int64_t(col) + 1;
    while (c > 0) {
        out.insert(out.begin(), static_cast<char>('A' + (c - 1) % 26));
        c = (c - 1) / 26;
    }
    return out;
}

std::string a1_name(std::int32_t row, std::int32_t col) {
    return column_name(col) + std::to_string(std::int64_t(row) + 1);
}

bool parse_a1(std::string_view text, std::int32_t& row, std::int32_t& col) {
    std::size_t p = 0;
    if (p < text.size() && text[p] == '$')
        ++p;
    std::int64_t c = 0;
    std::size_t letters = 0;
    while (p < text.size() && detail::is_letter(text[p]) && letters < 4)
        c = c * 26 + (std::toupper(static_cast<unsigned char>(text[p])) - 'A' + 1), ++p, ++letters;
    if (letters == 0 || letters > 3 || c > max_columns)
        return false;
    if (p < text.size() && text[p] == '$')
        ++p;
    std::int64_t r = 0;
    std::size_t digits = 0;
    while (p < text.size() && detail::is_digit(text[p]) && digits < 8)
        r = r * 10 + (text[p] - '0'), ++p, ++digits;
    if (digits == 0 || p != text.size() || r < 1 || r > max_rows)
        return false;
    row = static_cast<std::int32_t>(r - 1);
    col = static_cast<std::int32_t>(c - 1);
    return true;
}

std::string move_formula(std::string_view formula, std::int32_t rows, std::int32_t cols) {
    using namespace detail;
    parse(formula);   // reject what does not parse before rewriting it
    std::size_t start = 0;
    while (start < formula.size() && formula[start] == ' ')
        ++start;
    if (start < formula.size() && formula[start] == '=')
        ++start;
    else
        start = 0;
    Lexer lex(formula, start);
    std::vector<Token> tokens;
    for (;;) {
        tokens.push_back(lex.next());
        if (tokens.back().kind == Tok::End)
            break;
    }
    auto move = [](std::int32_t v, bool abs, std::int32_t by, std::int32_t limit, bool& off) {
        if (abs)
            return v;
        std::int64_t m = std::int64_t(v) + by;
        if (m < 0 || m >= limit)
            off = true;
        return static_cast<std::int32_t>(m);
    };
    std::string out(formula.substr(0, start));
    std::size_t copied = start;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.kind != Tok::Ref || t.ref.invalid)
            continue;
        // A1:B2 is two tokens; move them together so one off the grid spoils both.
        bool pair = !t.ref.whole_cols && !t.ref.whole_rows && i + 2 < tokens.size() &&
                    tokens[i + 1].kind == Tok::Colon && tokens[i + 2].kind == Tok::Ref &&
                    !tokens[i + 2].ref.whole_cols && !tokens[i + 2].ref.whole_rows && !tokens[i + 2].ref.invalid;
        const Token* parts[2] = {&t, pair ? &tokens[i + 2] : nullptr};
        bool off = false;
        std::string moved[2];
        for (int k = 0; k < 2; ++k) {
            const Token* p = parts[k];
            if (!p)
                continue;
            const SymRef& r = p->ref;
            std::string prefix(formula.substr(p->begin, p->ref_start - p->begin));
            if (r.whole_cols) {
                std::int32_t c1 = move(r.c1, r.c1_abs, cols, max_columns, off);
                std::int32_t c2 = move(r.c2, r.c2_abs, cols, max_columns, off);
                if (!off)
                    moved[k] = prefix + (r.c1_abs ? "$" : "") + column_name(c1) + ":" + (r.c2_abs ? "$" : "") + column_name(c2);
            } else if (r.whole_rows) {
                std::int32_t r1 = move(r.r1, r.r1_abs, rows, max_rows, off);
                std::int32_t r2 = move(r.r2, r.r2_abs, rows, max_rows, off);
                if (!off)
                    moved[k] = prefix + (r.r1_abs ? "$" : "") + std::to_string(r1 + 1) + ":" + (r.r2_abs ? "$" : "") +
                               std::to_string(r2 + 1);
            } else {
                std::int32_t row = move(r.r1, r.r1_abs, rows, max_rows, off);
                std::int32_t col = move(r.c1, r.c1_abs, cols, max_columns, off);
                if (!off)
                    moved[k] = prefix + cell_text(row, col, r.r1_abs, r.c1_abs);
            }
        }
        std::size_t end = pair ? tokens[i + 2].end : t.end;
        out.append(formula.substr(copied, t.begin - copied));
        if (off)
            out += "#REF!";
        else if (pair)
            out += moved[0] + std::string(formula.substr(t.end, tokens[i + 2].begin - t.end)) + moved[1];
        else
            out += moved[0];
        copied = end;
        if (pair)
            i += 2;
    }
    out.append(formula.substr(copied));
    return out;
}

} // namespace host::engine
