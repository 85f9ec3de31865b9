// The formula parser: emits postfix code directly (no tree, so long chains of operators
// need no recursion).

#include "engine/internal/Lexer.hpp"

#include <algorithm>
#include <iterator>
#include <memory>

namespace host::engine::detail {

namespace {

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
        if (!unions_.empty())
            lex_.fail(unions_.front(), "a union of references, (A1,B2), can only be an argument of SUM, AVERAGE, "
                                       "COUNT, COUNTA, MAX, MIN, PRODUCT, STDEV, VAR, MEDIAN, LARGE, SMALL, "
                                       "RANK, PERCENTILE, QUARTILE and their kin");
        if (!cubes_.empty())
            lex_.fail(cubes_.front(), "a reference through several sheets can only be an argument of SUM, AVERAGE, "
                                      "COUNT, COUNTA, MAX, MIN, PRODUCT, STDEV, VAR and their kin");
        return std::move(prog_);
    }

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
            Op op = text_is("+") ? Op::Add : Op::Sub;
            advance();
            multiplicative();
            emit(op);
        }
    }

    void multiplicative() {
        power();
        while (is_op("*") || is_op("/")) {
            Op op = text_is("*") ? Op::Mul : Op::Div;
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
    void emit_call(const char* name, std::uint16_t argc, std::size_t at) {
        int id = find_function(name);
        if (id < 0)
            lex_.fail(at, std::string("no function ") + name);
        emit(Op::Call, static_cast<std::uint32_t>(id), argc);
    }

    // The arguments of a call up to its ')', each an expression or omitted; their count.
    int arguments(std::size_t at) {
        int argc = 0;
        if (tok_.kind == Tok::RParen) {
            advance();
            return 0;
        }
        for (;;) {
            if (tok_.kind == Tok::Comma || tok_.kind == Tok::RParen)
                emit(Op::Missing);
            else
                expression();
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

    void postfix() {
        primary();
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
               (tok_.kind == Tok::Ref || tok_.kind == Tok::Ident || tok_.kind == Tok::Func ||
                tok_.kind == Tok::LParen || (tok_.kind == Tok::Error && tok_.error == ErrorCode::Ref)) &&
               std::string_view(text_).substr(prev_end_, tok_.begin - prev_end_).find_first_not_of(' ') ==
                   std::string_view::npos) {
            primary();
            emit(Op::Intersect);
        }
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
        case Tok::Ref: reference(); return;
        case Tok::Ident:
            if (text_is("TRUE") || text_is("FALSE")) {
                emit_const(Value::boolean(text_is("TRUE")));
            } else if (int local = find_local(tok_.text); local >= 0) {
                emit(Op::Local, static_cast<std::uint32_t>(local));
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

    void reference() {
        SymRef r = tok_.ref;
        std::size_t at = tok_.begin;
        advance();
        if (tok_.kind == Tok::Colon && r.table().empty()) {
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
        if (!r.last_sheet().empty())
            cubes_.push_back(at);
        prog_.refs.push_back(std::move(r));
        emit(Op::Ref, static_cast<std::uint32_t>(prog_.refs.size() - 1));
    }

    // The functions that take references through several sheets.
    static bool takes_sheet_spans(const std::string& name) {
        static const char* const list[] = {"SUM",     "AVERAGE", "AVERAGEA", "COUNT", "COUNTA", "MAX",    "MAXA",
                                           "MIN",     "MINA",    "PRODUCT",  "SUMSQ", "STDEV",  "STDEVP", "STDEV.S",
                                           "STDEV.P", "VAR",     "VARP",     "VAR.S", "VAR.P"};
        for (const char* n : list)
            if (name == n)
                return true;
        return false;
    }

    // Functions that read argument `index` as a list of numbers also take a union there.
    static bool takes_union(const std::string& name, int index) {
        static const char* const any[] = {"MEDIAN", "MODE", "MODE.SNGL", "GEOMEAN", "HARMEAN"};
        static const char* const first[] = {"LARGE",          "SMALL",    "PERCENTILE",   "PERCENTILE.INC",
                                            "PERCENTILE.EXC", "QUARTILE", "QUARTILE.INC", "QUARTILE.EXC"};
        static const char* const second[] = {"RANK", "RANK.EQ", "RANK.AVG"};
        auto in = [&](const auto& list) {
            return std::any_of(std::begin(list), std::end(list), [&](const char* n) { return name == n; });
        };
        return takes_sheet_spans(name) || in(any) || (index == 0 && in(first)) || (index == 1 && in(second));
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
        // Not a built-in function: a function LET or LAMBDA's parameters hold, or a defined
        // name holding a LAMBDA (a function the engine does not know otherwise).
        const bool named_function = id < 0 && name != "IF" && name != "LET" && name != "LAMBDA";
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
        if (name == "IF") {
            argc = if_call(at);
        } else if (name == "LET") {
            argc = let_call(at);
        } else if (name == "LAMBDA") {
            lambda_call(at);
        } else if (tok_.kind == Tok::RParen) {
            advance();
        } else {
            for (;;) {
                std::size_t first = prog_.code.size(), cubes = cubes_.size(), unions = unions_.size();
                if (tok_.kind == Tok::Comma || tok_.kind == Tok::RParen)
                    emit(Op::Missing);
                else
                    expression();
                // A bare reference through several sheets, where the function takes one.
                if (cubes_.size() == cubes + 1 && prog_.code.size() == first + 1 && prog_.code[first].op == Op::Ref &&
                    takes_sheet_spans(name))
                    cubes_.pop_back();
                if (unions_.size() == unions + 1 && prog_.code.back().op == Op::Union && takes_union(name, argc))
                    unions_.pop_back();
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

    // LET(name, value, [name, value, ...] calculation): each name is bound in what follows it.
    int let_call(std::size_t at) {
        std::size_t outer = scope_.size();
        int argc = 0;
        for (;;) {
            Token t = tok_;
            advance();
            if (t.kind == Tok::Ident && tok_.kind == Tok::Comma && t.text != "TRUE" && t.text != "FALSE") {
                advance();
                std::uint32_t slot = prog_.locals++;
                expression();
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
    void lambda_call(std::size_t at) {
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
    Program prog_;
    int array_;
    int depth_ = 0;
};

} // namespace

Program parse(std::string_view text, bool array) { return Parser(text, array).run(); }

} // namespace host::engine::detail
