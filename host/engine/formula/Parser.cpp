// The formula parser's expression grammar: operators by precedence, references, calls.

#include "engine/internal/Parser.hpp"

#include <algorithm>

namespace host::engine::detail {

Program FormulaParser::run() {
    if (tok_.kind == Tok::End)
        lex_.fail(tok_.begin, "the formula is empty");
    expression();
    if (tok_.kind != Tok::End)
        unexpected();
    if (!unions_.empty())
        lex_.fail(unions_.front(), "a union of references, (A1,B2), can only be an argument of SUM, AVERAGE, "
                                   "COUNT, COUNTA, MAX, MIN, PRODUCT, STDEV, VAR, MEDIAN, LARGE, SMALL, "
                                   "RANK, PERCENTILE, QUARTILE, AREAS, INDEX and their kin");
    if (!cubes_.empty())
        lex_.fail(cubes_.front(), "a reference through several sheets can only be an argument of SUM, AVERAGE, "
                                  "COUNT, COUNTA, MAX, MIN, PRODUCT, STDEV, VAR and their kin");
    // Elsewhere (Rate*2) a name spelled like a function is only ever the defined name.
    for (std::size_t i = 0; i < prog_.code.size(); ++i)
        if (prog_.code[i].op == Op::Name &&
            std::find(function_values_.begin(), function_values_.end(), i) == function_values_.end())
            prog_.code[i].flags &= std::uint8_t(~NameOrFunction);
    return std::move(prog_);
}

void FormulaParser::argument() {
    const std::size_t first = prog_.code.size();
    expression();
    if (prog_.code.size() == first + 1 && prog_.code[first].op == Op::Name)
        function_values_.push_back(first);
}

void FormulaParser::expression() {
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

void FormulaParser::concatenation() {
    additive();
    while (is_op("&")) {
        advance();
        additive();
        emit(Op::Concat);
    }
}

void FormulaParser::additive() {
    multiplicative();
    while (is_op("+") || is_op("-")) {
        Op op = text_is("+") ? Op::Add : Op::Sub;
        advance();
        multiplicative();
        emit(op);
    }
}

void FormulaParser::multiplicative() {
    power();
    while (is_op("*") || is_op("/")) {
        Op op = text_is("*") ? Op::Mul : Op::Div;
        advance();
        power();
        emit(op);
    }
}

void FormulaParser::power() {
    unary();
    while (is_op("^")) {
        advance();
        unary();
        emit(Op::Pow);
    }
}

void FormulaParser::unary() {
    if (is_op("@")) { // implicit intersection, written _xlfn.SINGLE(...) in files
        enter();
        std::size_t at = tok_.begin;
        advance();
        unary();
        emit_call("SINGLE", 1, at);
        --depth_;
        return;
    }
    if (is_op("-") || is_op("+")) {
        enter();
        Op op = text_is("-") ? Op::Neg : Op::Plus;
        advance();
        unary();
        if (op == Op::Neg)
            emit(op);
        --depth_;
        return;
    }
    postfix();
}

// A call the grammar makes itself (the spill and implicit intersection operators).
void FormulaParser::emit_call(const char* name, std::uint16_t argc, std::size_t at) {
    int id = find_function(name);
    if (id < 0)
        lex_.fail(at, std::string("no function ") + name);
    emit(Op::Call, static_cast<std::uint32_t>(id), argc);
}

// The arguments of a call up to its ')', each an expression or omitted; their count.
int FormulaParser::arguments(std::size_t at) {
    int argc = 0;
    if (tok_.kind == Tok::RParen) {
        advance();
        return 0;
    }
    for (;;) {
        if (tok_.kind == Tok::Comma || tok_.kind == Tok::RParen)
            emit(Op::Missing);
        else
            argument();
        if (++argc > 255)
            lex_.fail(at, "more than 255 arguments");
        if (tok_.kind == Tok::Comma) {
            advance();
            continue;
        }
        if (tok_.kind != Tok::RParen)
            unexpected();
        advance();
        return argc;
    }
}

// The right side of ':' between references that only a calculation gives,
// OFFSET(A1,0,0):INDEX(B:B,4): a reference, a call or a parenthesised expression.
void FormulaParser::range_operand(const std::string& colon, std::size_t at) {
    if (tok_.kind != Tok::Ref && tok_.kind != Tok::Func && tok_.kind != Tok::Ident && tok_.kind != Tok::LParen &&
        tok_.kind != Tok::Error)
        lex_.fail(tok_.begin, "a range needs a reference on each side of ':'");
    primary();
    emit(Op::Range);
    trim(colon, at);
}

// The ':' ranges that follow an operand (a reference reads its own).
void FormulaParser::ranges() {
    while (tok_.kind == Tok::Colon) {
        const std::string colon = tok_.text;
        const std::size_t at = tok_.begin;
        advance();
        range_operand(colon, at);
    }
}

void FormulaParser::postfix() {
    primary();
    ranges();
    while (tok_.kind == Tok::LParen && tok_.begin == prev_end_ && prev_end_ > 0 &&
           text_[prev_end_ - 1] == ')') { // LAMBDA(x,x+1)(5): a call of the function made
        std::size_t at = tok_.begin;
        enter();
        advance();
        int argc = arguments(at);
        emit(Op::Invoke, 0, static_cast<std::uint16_t>(argc));
        --depth_;
    }
    while (is_op("#")) { // A1#: written _xlfn.ANCHORARRAY(A1) in files
        emit_call("ANCHORARRAY", 1, tok_.begin);
        advance();
    }
    // A1:C3 B2:D2, written with a space between two references: their intersection. A
    // reference moved off the sheet reads #REF! and stays an operand.
    while (tok_.begin > prev_end_ &&
           (tok_.kind == Tok::Ref || tok_.kind == Tok::Ident || tok_.kind == Tok::Func || tok_.kind == Tok::LParen ||
            (tok_.kind == Tok::Error && tok_.error == ErrorCode::Ref)) &&
           std::string_view(text_).substr(prev_end_, tok_.begin - prev_end_).find_first_not_of(' ') ==
               std::string_view::npos) {
        primary();
        ranges(); // ':' binds tighter than the intersection: A1:C3 #REF!:B2
        emit(Op::Intersect);
    }
    while (is_op("%")) {
        advance();
        emit(Op::Percent);
    }
}

void FormulaParser::primary() {
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
    case Tok::Ref: reference(); return;
    case Tok::Ident:
        if (text_is("TRUE") || text_is("FALSE")) {
            emit_const(Value::boolean(text_is("TRUE")));
        } else if (int local = find_local(tok_.text); local >= 0) {
            emit(Op::Local, static_cast<std::uint32_t>(local));
        } else if (tok_.text.compare(0, 7, "_XLETA.") == 0) { // a function passed by name, as files write it
            int id = find_function(tok_.text.substr(7));
            if (id < 0)
                lex_.fail(tok_.begin, "no function " + tok_.text.substr(7));
            emit(Op::Function, static_cast<std::uint32_t>(id));
        } else if (int id = find_function(tok_.text); id >= 0) { // SUM as typed: a name of that spelling first
            prog_.code.push_back(
                Instr{Op::Name, std::uint8_t(flags() | NameOrFunction), std::uint16_t(id), name_index(tok_.text)});
        } else {
            emit(Op::Name, name_index(tok_.text));
        }
        advance();
        return;
    case Tok::Func: call(); return;
    case Tok::LParen: {
        enter();
        std::size_t at = tok_.begin;
        advance();
        expression();
        int parts = 1;
        while (tok_.kind == Tok::Comma) { // (A1:B2,D4): a union
            advance();
            expression();
            ++parts;
        }
        if (parts > 1) {
            if (parts > 255)
                lex_.fail(at, "more than 255 references in a union");
            emit(Op::Union, 0, static_cast<std::uint16_t>(parts));
            unions_.push_back(at);
        }
        if (tok_.kind != Tok::RParen)
            unexpected();
        advance();
        --depth_;
        return;
    }
    case Tok::LBrace: array_literal(); return;
    default: unexpected();
    }
}

void FormulaParser::reference() {
    SymRef r = tok_.ref;
    std::size_t at = tok_.begin;
    advance();
    std::string colon;
    if (tok_.kind == Tok::Colon && r.table().empty()) {
        colon = tok_.text;
        advance();
        if (tok_.kind != Tok::Ref) { // A1:OFFSET(A1,4,0): the range is made when it runs
            prog_.refs.push_back(std::move(r));
            emit(Op::Ref, static_cast<std::uint32_t>(prog_.refs.size() - 1));
            range_operand(colon, at);
            return;
        }
        if (r.whole_cols || r.whole_rows || tok_.ref.whole_cols || tok_.ref.whole_rows)
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
    if (!r.last_sheet().empty())
        cubes_.push_back(at);
    prog_.refs.push_back(std::move(r));
    emit(Op::Ref, static_cast<std::uint32_t>(prog_.refs.size() - 1));
    trim(colon, at);
}

// The trim operators: A1.:B9 drops the range's empty leading rows and columns, A1:.B9 the
// trailing ones, A1.:.B9 both (written _xlfn._TRO_LEADING(A1:B9) ... in files).
void FormulaParser::trim(const std::string& colon, std::size_t at) {
    if (colon == ".:.")
        emit_call("_TRO_ALL", 1, at);
    else if (colon == ".:")
        emit_call("_TRO_LEADING", 1, at);
    else if (colon == ":.")
        emit_call("_TRO_TRAILING", 1, at);
}

void FormulaParser::call() {
    std::string name = tok_.text;
    std::size_t at = tok_.begin;
    for (const char* prefix : {"_XLFN.", "_XLWS.", "_XLL."})
        if (name.compare(0, std::string_view(prefix).size(), prefix) == 0)
            name = name.substr(std::string_view(prefix).size());
    // _xludf.IFS: the user's function of that name, never the built-in one (the name typed
    // where the spreadsheet did not have the function yet).
    const bool users = name.compare(0, 7, "_XLUDF.") == 0 && name.size() > 7;
    if (users)
        name = name.substr(7);
    enter();
    advance();
    int id = users ? -1 : find_function(name);
    bool array_args = id >= 0 && (functions()[id].flags & FnArrayArgs);
    if (array_args)
        ++array_;
    int argc = 0;
    // Not a built-in function: a function LET or LAMBDA's parameters hold, or a defined
    // name holding a LAMBDA (a function the engine does not know otherwise).
    const bool named_function = id < 0 && (users || (name != "IF" && name != "LET" && name != "LAMBDA"));
    if (named_function) {
        if (int local = find_local(name); local >= 0) {
            emit(Op::Local, static_cast<std::uint32_t>(local));
        } else {
            emit(Op::Name, name_index(name));
            bool seen = false;
            for (const auto& u : prog_.unknown_functions)
                seen = seen || u == name;
            if (!seen)
                prog_.unknown_functions.push_back(name);
        }
    }
    if (name == "IF" && !users) {
        argc = if_call(at);
    } else if (name == "LET" && !users) {
        argc = let_call(at);
    } else if (name == "LAMBDA" && !users) {
        lambda_call(at);
    } else if (tok_.kind == Tok::RParen) {
        advance();
    } else {
        for (;;) {
            std::size_t first = prog_.code.size(), cubes = cubes_.size(), unions = unions_.size();
            if (tok_.kind == Tok::Comma || tok_.kind == Tok::RParen)
                emit(Op::Missing);
            else
                argument();
            // A bare reference through several sheets, where the function takes one.
            if (cubes_.size() == cubes + 1 && prog_.code.size() == first + 1 && prog_.code[first].op == Op::Ref &&
                takes_sheet_spans(name))
                cubes_.pop_back();
            // A union, or what a union shares with a reference, ((A1:B2,C3) C3:D4), where the
            // function takes several areas.
            if (unions_.size() > unions &&
                (prog_.code.back().op == Op::Union || prog_.code.back().op == Op::Intersect) && takes_union(name, argc))
                unions_.resize(unions);
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
    if (named_function) {
        emit(Op::Invoke, 0, static_cast<std::uint16_t>(argc));
        return;
    }
    if (id < 0)
        return; // IF, LET and LAMBDA made their own code
    const Function& f = functions()[id];
    if (argc < f.min_args || (f.max_args >= 0 && argc > f.max_args)) {
        std::string expected = f.min_args == f.max_args ? std::to_string(f.min_args)
                               : f.max_args < 0         ? "at least " + std::to_string(f.min_args)
                                                : std::to_string(f.min_args) + " to " + std::to_string(f.max_args);
        lex_.fail(at, name + " takes " + expected + " argument" + (expected == "1" ? "" : "s") + ", not " +
                          std::to_string(argc));
    }
    if (name != "IF" && name != "LET") // LAMBDA is no built-in function: it returned above
        emit(Op::Call, static_cast<std::uint32_t>(id), static_cast<std::uint16_t>(argc));
}

Program parse(std::string_view text, bool array) { return FormulaParser(text, array).run(); }

} // namespace host::engine::detail
