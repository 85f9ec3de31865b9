// The forms of the formula grammar with rules of their own: IF (the branch not taken is not
// run), LET and LAMBDA (names bound in what follows), array constants, and the functions that
// take unions and references through several sheets.

#include "engine/internal/Parser.hpp"

#include <algorithm>
#include <iterator>
#include <memory>

namespace host::engine::detail {

// The functions that take references through several sheets (SUBTOTAL and AGGREGATE to
// refuse them with #VALUE!, as the spreadsheet does).
bool FormulaParser::takes_sheet_spans(const std::string& name) {
    static const char* const list[] = {"SUM",     "AVERAGE", "AVERAGEA", "COUNT", "COUNTA", "MAX",      "MAXA",
                                       "MIN",     "MINA",    "PRODUCT",  "SUMSQ", "STDEV",  "STDEVP",   "STDEV.S",
                                       "STDEV.P", "VAR",     "VARP",     "VAR.S", "VAR.P",  "SUBTOTAL", "AGGREGATE"};
    for (const char* n : list)
        if (name == n)
            return true;
    return false;
}

// Functions that read argument `index` as a list of numbers also take a union there, and so
// do the functions that count or pick areas (ROWS and COLUMNS to refuse several with #REF!).
bool FormulaParser::takes_union(const std::string& name, int index) {
    static const char* const any[] = {"MEDIAN", "MODE", "MODE.SNGL", "GEOMEAN", "HARMEAN"};
    static const char* const first[] = {"LARGE",          "SMALL",    "PERCENTILE",   "PERCENTILE.INC",
                                        "PERCENTILE.EXC", "QUARTILE", "QUARTILE.INC", "QUARTILE.EXC",
                                        "AREAS",          "INDEX",    "ROWS",         "COLUMNS"};
    static const char* const second[] = {"RANK", "RANK.EQ", "RANK.AVG"};
    auto in = [&](const auto& list) {
        return std::any_of(std::begin(list), std::end(list), [&](const char* n) { return name == n; });
    };
    return takes_sheet_spans(name) || in(any) || (index == 0 && in(first)) || (index == 1 && in(second));
}

void FormulaParser::array_literal() {
    std::size_t at = tok_.begin;
    advance();
    auto array = std::make_shared<Array>();
    std::int32_t cols = 0, col = 0;
    for (;;) {
        Value v;
        double sign = 1;
        if (is_op("-") || is_op("+")) {
            sign = text_is("-") ? -1 : 1;
            advance();
            if (tok_.kind != Tok::Number)
                unexpected();
        }
        switch (tok_.kind) {
        case Tok::Number: v = Value::number(sign * tok_.number); break;
        case Tok::String: v = Value::text(tok_.text); break;
        case Tok::Error: v = Value::error(tok_.error); break;
        case Tok::Ident:
            if (text_is("TRUE") || text_is("FALSE")) {
                v = Value::boolean(text_is("TRUE"));
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

// IF(condition, then, else): the branch not taken is not evaluated.
int FormulaParser::if_call(std::size_t at) {
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

// LET(name, value, [name, value, ...] calculation): each name is bound in what follows it.
int FormulaParser::let_call(std::size_t at) {
    std::size_t outer = scope_.size();
    int argc = 0;
    for (;;) {
        Token t = tok_;
        advance();
        if (t.kind == Tok::Ident && tok_.kind == Tok::Comma && t.text != "TRUE" && t.text != "FALSE") {
            advance();
            std::uint32_t slot = prog_.locals++;
            argument();
            emit(Op::Bind, slot);
            scope_.emplace_back(local_name(t.text), slot);
            argc += 2;
            if (tok_.kind != Tok::Comma)
                lex_.fail(at, "LET needs a calculation after its names and values");
            advance();
            continue;
        }
        if (argc == 0)
            lex_.fail(t.begin, "LET needs a name before each value");
        lex_ = Lexer(text_, t.begin); // the calculation: read it again as an expression
        advance();
        expression();
        ++argc;
        if (tok_.kind != Tok::RParen)
            unexpected();
        break;
    }
    advance();
    scope_.resize(outer);
    return argc;
}

// LAMBDA(parameter, ..., body): the body's code follows a jump over it, so that it runs
// only when the function is called; the parameters are locals, as LET's names are.
void FormulaParser::lambda_call(std::size_t at) {
    std::size_t outer = scope_.size();
    std::vector<std::string> params;
    for (;;) {
        Token t = tok_;
        advance();
        if (t.kind == Tok::Ident && tok_.kind == Tok::Comma && t.text != "TRUE" && t.text != "FALSE") {
            params.push_back(local_name(t.text));
            if (params.size() > 253)
                lex_.fail(at, "LAMBDA takes at most 253 parameters");
            advance();
            continue;
        }
        const std::uint32_t first = prog_.locals;
        prog_.locals += static_cast<std::uint32_t>(params.size());
        for (std::size_t k = 0; k < params.size(); ++k)
            scope_.emplace_back(params[k], first + static_cast<std::uint32_t>(k));
        emit(Op::Lambda, first, static_cast<std::uint16_t>(params.size()));
        std::size_t jump = prog_.code.size();
        emit(Op::Jump);
        lex_ = Lexer(text_, t.begin); // the body: read it again as an expression
        advance();
        expression();
        if (tok_.kind != Tok::RParen)
            unexpected();
        prog_.code[jump].operand = static_cast<std::uint32_t>(prog_.code.size());
        break;
    }
    advance();
    scope_.resize(outer);
}

} // namespace host::engine::detail
