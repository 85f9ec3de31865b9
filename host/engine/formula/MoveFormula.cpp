// Moving a formula as copying its cell does: the relative parts of its references shift.

#include "engine/A1.hpp"
#include "engine/internal/Lexer.hpp"
#include "engine/Workbook.hpp"

#include <memory>
#include <vector>

namespace host::engine {

namespace {

std::string cell_text(std::int32_t row, std::int32_t col, bool row_abs, bool col_abs) {
    return (col_abs ? "$" : "") + column_name(col) + (row_abs ? "$" : "") + std::to_string(row + 1);
}

} // namespace

struct FormulaMover::Impl {
    std::string formula;
    std::size_t start = 0; // after a leading '='
    std::vector<detail::Token> tokens;
    // Without a relative reference the text is the same wherever it moves: a shape of
    // $B$1-style references is moved once a cell when a large sheet is read and saved.
    bool fixed = false;
    std::string fixed_text;
};

FormulaMover::FormulaMover(std::string_view text) : impl_(std::make_unique<Impl>()) {
    using namespace detail;
    parse(text); // reject what does not parse before rewriting it
    impl_->formula = std::string(text);
    std::string_view formula = impl_->formula;
    std::size_t start = 0;
    while (start < formula.size() && formula[start] == ' ')
        ++start;
    if (start < formula.size() && formula[start] == '=')
        ++start;
    else
        start = 0;
    impl_->start = start;
    Lexer lex(formula, start);
    for (;;) {
        impl_->tokens.push_back(lex.next());
        if (impl_->tokens.back().kind == Tok::End)
            break;
    }
    bool fixed = true;
    for (const Token& t : impl_->tokens)
        if (t.kind == Tok::Ref && !t.ref.invalid) {
            const SymRef& r = t.ref;
            fixed = fixed && (r.whole_cols   ? r.c1_abs && r.c2_abs
                              : r.whole_rows ? r.r1_abs && r.r2_abs
                                             : r.r1_abs && r.c1_abs);
        }
    if (fixed) {
        impl_->fixed_text = move(0, 0);
        impl_->fixed = true;
    }
}

FormulaMover::~FormulaMover() = default;
FormulaMover::FormulaMover(FormulaMover&&) noexcept = default;

std::string move_formula(std::string_view formula, std::int32_t rows, std::int32_t cols) {
    return FormulaMover(formula).move(rows, cols);
}

std::string FormulaMover::move(std::int32_t rows, std::int32_t cols) const {
    if (impl_->fixed)
        return impl_->fixed_text;
    using namespace detail;
    const std::string_view formula = impl_->formula;
    const std::size_t start = impl_->start;
    const std::vector<Token>& tokens = impl_->tokens;
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
        if (t.kind != Tok::Ref || t.ref.invalid || !t.ref.table().empty())
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
                    moved[k] = prefix + (r.c1_abs ? "$" : "") + column_name(c1) + ":" + (r.c2_abs ? "$" : "") +
                               column_name(c2);
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
        std::size_t last = pair ? i + 2 : i;
        std::size_t end = tokens[last].end;
        // #REF!# does not parse: a spill of a reference off the grid is just #REF!.
        bool spill = last + 1 < tokens.size() && tokens[last + 1].kind == Tok::Op && tokens[last + 1].text == "#";
        if (off && spill)
            end = tokens[last + 1].end;
        out.append(formula.substr(copied, t.begin - copied));
        if (off)
            out += "#REF!";
        else if (pair)
            out += moved[0] + std::string(formula.substr(t.end, tokens[i + 2].begin - t.end)) + moved[1];
        else
            out += moved[0];
        copied = end;
        i = last + (off && spill ? 1 : 0);
    }
    out.append(formula.substr(copied));
    return out;
}

} // namespace host::engine
