#ifndef OMBRIX_HOST_ENGINE_PARSER_HPP
#define OMBRIX_HOST_ENGINE_PARSER_HPP

// The engine's own: everything outside host/engine goes through engine/Workbook.hpp.
#ifndef OMBRIX_ENGINE_INTERNALS
#error "engine/internal/ headers are private to the engine (use engine/Workbook.hpp)"
#endif

// The formula parser: emits postfix code directly (no tree, so long chains of operators need
// no recursion). Parser.cpp holds the expression grammar, ParserForms.cpp the forms with rules
// of their own: IF, LET, LAMBDA, array constants, and which functions take unions.

#include "engine/internal/Lexer.hpp"

#include <string>
#include <utility>
#include <vector>

namespace host::engine::detail {

class FormulaParser {
public:
    FormulaParser(std::string_view text, bool array)
        : text_(text), lex_(text, skip_equals(text)), array_(array ? 1 : 0) {
        advance();
    }

    Program run();

private:
    static std::size_t skip_equals(std::string_view text) {
        std::size_t p = 0;
        while (p < text.size() && text[p] == ' ')
            ++p;
        return p < text.size() && text[p] == '=' ? p + 1 : 0;
    }

    void advance() {
        prev_end_ = tok_.end;
        tok_ = lex_.next();
    }

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

    // Compared as views: the operator's length is known where it is called, so no strlen.
    bool is_op(std::string_view op) const { return tok_.kind == Tok::Op && text_is(op); }
    bool text_is(std::string_view text) const { return std::string_view(tok_.text) == text; }

    void enter() {
        if (++depth_ > max_nesting)
            lex_.fail(tok_.begin, "the formula is nested more than " + std::to_string(max_nesting) + " levels deep");
    }

    void expression();
    void concatenation();
    void additive();
    void multiplicative();
    void power();
    void unary();

    // A call the grammar makes itself (the spill and implicit intersection operators).
    void emit_call(const char* name, std::uint16_t argc, std::size_t at);

    // The arguments of a call up to its ')', each an expression or omitted; their count.
    int arguments(std::size_t at);

    // One argument of a call or value of LET: a built-in function named alone there
    // (BYROW(A1:B3,SUM)) is that function when no defined name has its spelling.
    void argument();

    // The right side of ':' between references that only a calculation gives,
    // OFFSET(A1,0,0):INDEX(B:B,4): a reference, a call or a parenthesised expression.
    void range_operand(const std::string& colon, std::size_t at);
    void trim(const std::string& colon, std::size_t at);
    void ranges();
    void postfix();
    void primary();
    void reference();

    // The functions that take references through several sheets.
    static bool takes_sheet_spans(const std::string& name);

    // Functions that read argument `index` as a list of numbers also take a union there.
    static bool takes_union(const std::string& name, int index);
    void array_literal();
    void call();

    // IF(condition, then, else): the branch not taken is not evaluated.
    int if_call(std::size_t at);

    // LET(name, value, [name, value, ...] calculation): each name is bound in what follows it.
    int let_call(std::size_t at);

    // LAMBDA(parameter, ..., body): the body's code follows a jump over it, so that it runs
    // only when the function is called; the parameters are locals, as LET's names are.
    void lambda_call(std::size_t at);

    std::uint32_t name_index(const std::string& upper) {
        std::uint32_t index = 0;
        while (index < prog_.names.size() && prog_.names[index] != upper)
            ++index;
        if (index == prog_.names.size())
            prog_.names.push_back(upper);
        return index;
    }

    // Files write the names LET and LAMBDA bind with a prefix: _xlpm.x, and _xlop.x for a
    // parameter a call may leave out.
    static std::string local_name(const std::string& upper) {
        return upper.compare(0, 6, "_XLPM.") == 0 || upper.compare(0, 6, "_XLOP.") == 0 ? upper.substr(6) : upper;
    }

    int find_local(const std::string& written) const {
        std::string upper = local_name(written);
        for (std::size_t i = scope_.size(); i-- > 0;)
            if (scope_[i].first == upper)
                return static_cast<int>(scope_[i].second);
        return -1;
    }

    std::vector<std::pair<std::string, std::uint32_t>> scope_;
    std::vector<std::size_t> cubes_; // where each reference through several sheets not yet accepted is
    std::string_view text_;
    Lexer lex_;
    Token tok_;
    std::size_t prev_end_ = 0;
    std::vector<std::size_t> unions_; // where each union not yet accepted as an argument is
    std::vector<std::size_t> function_values_; // the code of each function named alone as an argument
    Program prog_;
    int array_;
    int depth_ = 0;
};

} // namespace host::engine::detail

#endif
