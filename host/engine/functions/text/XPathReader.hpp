#ifndef OMBRIX_HOST_ENGINE_FUNCTIONS_TEXT_XPATHREADER_HPP
#define OMBRIX_HOST_ENGINE_FUNCTIONS_TEXT_XPATHREADER_HPP

// Reading an XPath 1.0 path into its expression tree: location steps along the axes, and
// predicates with XPath's operators, literals, numbers and function calls. Evaluating the tree
// over a document is the deriving class's part.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace host::engine::detail::fn::xml {

class PathReader {
protected:
    explicit PathReader(std::string_view path) : p_(path) {}

    bool starts(std::string_view s) const { return p_.substr(i_, s.size()) == s; }
    void spaces() {
        while (i_ < p_.size() && p_[i_] == ' ')
            ++i_;
    }
    std::string name() {
        const std::size_t from = i_;
        while (i_ < p_.size() && (std::isalnum(static_cast<unsigned char>(p_[i_])) || p_[i_] == '_' || p_[i_] == ':' ||
                                  p_[i_] == '-' || p_[i_] == '.' || (p_[i_] & 0x80)))
            ++i_;
        return std::string(p_.substr(from, i_ - from));
    }
    // ---- expressions in predicates: XPath 1.0's operators, paths along its axes, and its
    // functions on strings, numbers and node sets ----

    enum class Axis {
        Child,
        Attribute,
        Self,
        Parent,
        Ancestor,
        Descendant,
        DescendantOrSelf,
        Following,
        Preceding,
        FollowingSibling,
        PrecedingSibling
    };
    struct Expr;
    struct Step {
        Axis axis = Axis::Child;
        std::string test; // a name, "*", "text()" or "node()"
        std::vector<std::unique_ptr<Expr>> predicates;
    };
    struct Expr {
        enum Kind { Or, And, Eq, Ne, Lt, Le, Gt, Ge, Add, Sub, Mul, Div, Mod, Neg, Literal, Number, Call, Path } kind;
        std::vector<std::unique_ptr<Expr>> args;
        std::string text; // a literal, a function's name
        double number = 0;
        bool absolute = false;
        std::vector<Step> steps;
    };
    static std::unique_ptr<Expr> make(Expr::Kind kind, std::unique_ptr<Expr> a = nullptr,
                                      std::unique_ptr<Expr> b = nullptr) {
        auto e = std::make_unique<Expr>();
        e->kind = kind;
        if (a)
            e->args.push_back(std::move(a));
        if (b)
            e->args.push_back(std::move(b));
        return e;
    }
    static bool name_char(char ch) {
        return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_' || ch == '-' || ch == '.' || (ch & 0x80);
    }
    // A word operator (and, or, div, mod) where an operator may stand.
    bool word(std::string_view w) {
        spaces();
        if (!starts(w) || (i_ + w.size() < p_.size() && name_char(p_[i_ + w.size()])))
            return false;
        i_ += w.size();
        return true;
    }
    bool symbol(std::string_view w) {
        spaces();
        if (!starts(w))
            return false;
        i_ += w.size();
        return true;
    }
    // Nested expressions (parentheses, arguments, predicates, signs) and operators are
    // limited, so that reading and evaluating a path stays within the stack.
    std::unique_ptr<Expr> or_expr() {
        if (nesting_ >= 64)
            return nullptr;
        ++nesting_;
        auto e = and_expr();
        while (e && word("or"))
            e = binary(Expr::Or, std::move(e), and_expr());
        --nesting_;
        return e;
    }
    std::unique_ptr<Expr> and_expr() {
        auto e = equality();
        while (e && word("and"))
            e = binary(Expr::And, std::move(e), equality());
        return e;
    }
    std::unique_ptr<Expr> equality() {
        auto e = relational();
        for (;;) {
            if (e && symbol("!="))
                e = binary(Expr::Ne, std::move(e), relational());
            else if (e && symbol("="))
                e = binary(Expr::Eq, std::move(e), relational());
            else
                return e;
        }
    }
    std::unique_ptr<Expr> relational() {
        auto e = additive();
        for (;;) {
            if (e && symbol("<="))
                e = binary(Expr::Le, std::move(e), additive());
            else if (e && symbol("<"))
                e = binary(Expr::Lt, std::move(e), additive());
            else if (e && symbol(">="))
                e = binary(Expr::Ge, std::move(e), additive());
            else if (e && symbol(">"))
                e = binary(Expr::Gt, std::move(e), additive());
            else
                return e;
        }
    }
    std::unique_ptr<Expr> additive() {
        auto e = multiplicative();
        for (;;) {
            if (e && symbol("+"))
                e = binary(Expr::Add, std::move(e), multiplicative());
            else if (e && symbol("-"))
                e = binary(Expr::Sub, std::move(e), multiplicative());
            else
                return e;
        }
    }
    std::unique_ptr<Expr> multiplicative() {
        auto e = unary();
        for (;;) {
            if (e && symbol("*"))
                e = binary(Expr::Mul, std::move(e), unary());
            else if (e && word("div"))
                e = binary(Expr::Div, std::move(e), unary());
            else if (e && word("mod"))
                e = binary(Expr::Mod, std::move(e), unary());
            else
                return e;
        }
    }
    std::unique_ptr<Expr> binary(Expr::Kind kind, std::unique_ptr<Expr> a, std::unique_ptr<Expr> b) {
        return b && ++operators_ <= 1000 ? make(kind, std::move(a), std::move(b)) : nullptr;
    }
    std::unique_ptr<Expr> unary() {
        if (symbol("-")) {
            ++nesting_;
            auto e = ++operators_ <= 1000 && nesting_ <= 64 ? unary() : nullptr;
            --nesting_;
            return e ? make(Expr::Neg, std::move(e)) : nullptr;
        }
        return primary();
    }
    std::unique_ptr<Expr> primary() {
        spaces();
        if (i_ >= p_.size())
            return nullptr;
        const char ch = p_[i_];
        if (ch == '(') {
            ++i_;
            auto e = or_expr();
            return e && symbol(")") ? std::move(e) : nullptr;
        }
        if (ch == '\'' || ch == '"') {
            const std::size_t end = p_.find(ch, i_ + 1);
            if (end == std::string_view::npos)
                return nullptr;
            auto e = make(Expr::Literal);
            e->text.assign(p_.substr(i_ + 1, end - i_ - 1));
            i_ = end + 1;
            return e;
        }
        if (std::isdigit(static_cast<unsigned char>(ch)) ||
            (ch == '.' && i_ + 1 < p_.size() && std::isdigit(static_cast<unsigned char>(p_[i_ + 1])))) {
            const std::size_t from = i_;
            while (i_ < p_.size() && (std::isdigit(static_cast<unsigned char>(p_[i_])) || p_[i_] == '.'))
                ++i_;
            auto e = make(Expr::Number);
            e->number = std::atof(std::string(p_.substr(from, i_ - from)).c_str());
            return e;
        }
        // A function: a name and '(' that is no node test.
        std::size_t at = i_;
        while (at < p_.size() && name_char(p_[at]))
            ++at;
        std::size_t paren = at;
        while (paren < p_.size() && p_[paren] == ' ')
            ++paren;
        const std::string fname(p_.substr(i_, at - i_));
        if (at > i_ && paren < p_.size() && p_[paren] == '(' && fname != "text" && fname != "node")
            return call(fname, paren + 1);
        return path();
    }
    std::unique_ptr<Expr> call(const std::string& fname, std::size_t after_paren) {
        static const std::string known = " position last count not true false boolean number string concat contains "
                                         "starts-with substring substring-before substring-after string-length "
                                         "normalize-space translate sum floor ceiling round name local-name ";
        if (known.find(" " + fname + " ") == std::string::npos)
            return nullptr;
        i_ = after_paren;
        auto e = make(Expr::Call);
        e->text = fname;
        if (symbol(")"))
            return e;
        for (;;) {
            auto a = or_expr();
            if (!a)
                return nullptr;
            e->args.push_back(std::move(a));
            if (symbol(")"))
                return e;
            if (!symbol(","))
                return nullptr;
        }
    }
    std::unique_ptr<Expr> path() {
        auto e = make(Expr::Path);
        spaces();
        bool anywhere = false;
        if (starts("/")) {
            e->absolute = true;
            ++i_;
            if (starts("/")) {
                ++i_;
                anywhere = true;
            } else if (i_ >= p_.size() || !(name_char(p_[i_]) || p_[i_] == '*' || p_[i_] == '@')) {
                return e; // the document itself
            }
        }
        for (;;) {
            if (anywhere) {
                Step any;
                any.axis = Axis::DescendantOrSelf;
                any.test = "node()";
                e->steps.push_back(std::move(any));
            }
            Step step;
            if (!read_step(step))
                return nullptr;
            e->steps.push_back(std::move(step));
            if (starts("//")) {
                i_ += 2;
                anywhere = true;
            } else if (starts("/")) {
                ++i_;
                anywhere = false;
            } else {
                return e;
            }
        }
    }
    bool read_step(Step& step) {
        spaces();
        if (starts("..")) {
            i_ += 2;
            step.axis = Axis::Parent;
            step.test = "node()";
            return true;
        }
        if (starts(".")) {
            ++i_;
            step.axis = Axis::Self;
            step.test = "node()";
            return true;
        }
        if (starts("@")) {
            ++i_;
            step.axis = Axis::Attribute;
        } else {
            std::size_t at = i_;
            while (at < p_.size() && name_char(p_[at]))
                ++at;
            if (p_.substr(at, 2) == "::") {
                static const std::pair<const char*, Axis> axes[] = {
                    {"child", Axis::Child},
                    {"attribute", Axis::Attribute},
                    {"self", Axis::Self},
                    {"parent", Axis::Parent},
                    {"ancestor", Axis::Ancestor},
                    {"descendant", Axis::Descendant},
                    {"descendant-or-self", Axis::DescendantOrSelf},
                    {"following", Axis::Following},
                    {"preceding", Axis::Preceding},
                    {"following-sibling", Axis::FollowingSibling},
                    {"preceding-sibling", Axis::PrecedingSibling},
                };
                const std::string_view axis = p_.substr(i_, at - i_);
                const auto* found =
                    std::find_if(std::begin(axes), std::end(axes), [&](const auto& a) { return axis == a.first; });
                if (found == std::end(axes))
                    return false;
                step.axis = found->second;
                i_ = at + 2;
            }
        }
        if (starts("*")) {
            ++i_;
            step.test = "*";
        } else if (starts("text()") || starts("node()")) {
            step.test.assign(p_.substr(i_, 6));
            i_ += 6;
        } else {
            step.test = name();
            if (step.test.empty())
                return false;
        }
        while (symbol("[")) {
            auto e = or_expr();
            if (!e || !symbol("]"))
                return false;
            step.predicates.push_back(std::move(e));
        }
        return true;
    }

    std::string_view p_;
    std::size_t i_ = 0;
    int nesting_ = 0, operators_ = 0;
};

} // namespace host::engine::detail::fn::xml

#endif
