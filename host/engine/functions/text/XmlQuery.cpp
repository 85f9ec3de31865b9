// XPath 1.0 paths over XML given as text: what FILTERXML finds.

#include "engine/functions/text/XmlQuery.hpp"

#include "engine/functions/text/XPathReader.hpp"

#include "engine/Unicode.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <utility>

namespace host::engine::detail::fn {

namespace {

using xml::read_xml;
using xml::string_value;
using xml::XmlNode;

// A node found by a path: an element or text piece, or an attribute's value.
struct Found {
    const XmlNode* node = nullptr;
    const std::string* attribute = nullptr;
    std::string value() const { return attribute ? *attribute : string_value(*node); }
};

// The XPath this reads: location paths from the root (/a/b) or anywhere (//b), steps along
// any axis (element names or *, @name or @*, text(), node(), . and .., following::s...), each
// with predicates that are XPath 1.0 expressions: a position ([2], [last()-1]), or a test with
// its operators, paths and functions ([not(.=preceding::*)], [.*0=0], [contains(.,'x')],
// [translate(.,'0123456789','')='']). Anything else is #VALUE!.
class XPath : private xml::PathReader {
public:
    XPath(std::string_view path, const XmlNode& document) : PathReader(path), document_(document) {}

    bool run(std::vector<Found>& out) {
        spaces();
        if (!starts("/"))
            return false; // relative paths start from the document too
        std::unique_ptr<Expr> e = path();
        spaces();
        if (!e || i_ != p_.size())
            return false;
        out = follow(*e, Context{Found{&document_, nullptr}, 1, 1});
        return true;
    }

private:
    struct XValue {
        enum Kind { Number, String, Boolean, Nodes } kind = Boolean;
        double number = 0;
        std::string string;
        bool boolean = false;
        std::vector<Found> nodes;
    };
    struct Context {
        Found node;
        std::size_t position, size;
    };

    // Document order: every node's place, and the place past its last descendant.
    void number_nodes(const XmlNode& n) {
        const std::size_t at = order_.size();
        order_.push_back(&n);
        for (const auto& child : n.children)
            number_nodes(*child);
        place_[&n] = {at, order_.size()};
    }
    std::pair<std::size_t, std::size_t> place(const XmlNode* n) {
        if (order_.empty())
            number_nodes(document_);
        return place_[n];
    }
    static bool passes(const XmlNode& n, const std::string& test) {
        if (test == "node()")
            return true;
        if (test == "text()")
            return n.name.empty();
        return !n.name.empty() && n.parent && (test == "*" || n.name == test);
    }
    // The nodes one step reaches from a node, nearest first (reverse axes backwards).
    void along(const Found& from, const Step& step, std::vector<Found>& out) {
        const XmlNode* n = from.node;
        auto add = [&](const XmlNode* m) {
            if (passes(*m, step.test))
                out.push_back(Found{m, nullptr});
        };
        if (from.attribute) { // an attribute has a parent, itself and the parent's ancestors only
            if (step.axis == Axis::Self && step.test == "node()")
                out.push_back(from);
            else if (step.axis == Axis::Parent || step.axis == Axis::Ancestor)
                for (const XmlNode* m = n; m; m = step.axis == Axis::Parent ? nullptr : m->parent)
                    add(m);
            return;
        }
        switch (step.axis) {
        case Axis::Child:
            for (const auto& child : n->children)
                add(child.get());
            break;
        case Axis::Attribute:
            for (const auto& a : n->attributes)
                if (step.test == "*" || step.test == "node()" || a.first == step.test)
                    out.push_back(Found{n, &a.second});
            break;
        case Axis::Self: add(n); break;
        case Axis::Parent:
            if (n->parent)
                add(n->parent);
            break;
        case Axis::Ancestor:
            for (const XmlNode* m = n->parent; m; m = m->parent)
                add(m);
            break;
        case Axis::Descendant:
        case Axis::DescendantOrSelf: {
            const auto [first, past] = place(n);
            for (std::size_t k = step.axis == Axis::Descendant ? first + 1 : first; k < past; ++k)
                add(order_[k]);
            break;
        }
        case Axis::Following: {
            const std::size_t past = place(n).second;
            for (std::size_t k = past; k < order_.size(); ++k)
                add(order_[k]);
            break;
        }
        case Axis::Preceding: {
            const std::size_t first = place(n).first;
            for (std::size_t k = first; k-- > 0;)
                if (place(order_[k]).second <= first) // not an ancestor
                    add(order_[k]);
            break;
        }
        case Axis::FollowingSibling:
        case Axis::PrecedingSibling: {
            if (!n->parent)
                break;
            const auto& siblings = n->parent->children;
            std::size_t k = 0;
            while (k < siblings.size() && siblings[k].get() != n)
                ++k;
            if (step.axis == Axis::FollowingSibling)
                for (std::size_t j = k + 1; j < siblings.size(); ++j)
                    add(siblings[j].get());
            else
                for (std::size_t j = k; j-- > 0;)
                    add(siblings[j].get());
            break;
        }
        }
    }
    std::vector<Found> follow(const Expr& e, const Context& c) {
        std::vector<Found> current;
        if (e.absolute)
            current.push_back(Found{&document_, nullptr});
        else
            current.push_back(c.node);
        for (const Step& step : e.steps) {
            std::vector<Found> next;
            for (const Found& from : current) {
                std::vector<Found> reached;
                along(from, step, reached);
                for (const auto& p : step.predicates) {
                    std::vector<Found> kept;
                    for (std::size_t k = 0; k < reached.size(); ++k) {
                        const XValue v = eval(*p, Context{reached[k], k + 1, reached.size()});
                        if (v.kind == XValue::Number ? v.number == double(k + 1) : truth(v))
                            kept.push_back(reached[k]);
                    }
                    reached = std::move(kept);
                }
                next.insert(next.end(), reached.begin(), reached.end());
            }
            // In document order, each node once.
            std::sort(next.begin(), next.end(), [&](const Found& a, const Found& b) {
                const std::size_t pa = place(a.node).first, pb = place(b.node).first;
                if (pa != pb)
                    return pa < pb;
                return (a.attribute != nullptr) < (b.attribute != nullptr) ||
                       (a.attribute && b.attribute && a.attribute < b.attribute);
            });
            next.erase(std::unique(next.begin(), next.end(),
                                   [](const Found& a, const Found& b) {
                                       return a.node == b.node && a.attribute == b.attribute;
                                   }),
                       next.end());
            current = std::move(next);
        }
        return current;
    }

    static XValue of(double x) {
        XValue v;
        v.kind = XValue::Number;
        v.number = x;
        return v;
    }
    static XValue of(std::string s) {
        XValue v;
        v.kind = XValue::String;
        v.string = std::move(s);
        return v;
    }
    static XValue of(bool b) {
        XValue v;
        v.kind = XValue::Boolean;
        v.boolean = b;
        return v;
    }
    static bool truth(const XValue& v) {
        switch (v.kind) {
        case XValue::Number: return v.number != 0 && !std::isnan(v.number);
        case XValue::String: return !v.string.empty();
        case XValue::Boolean: return v.boolean;
        case XValue::Nodes: return !v.nodes.empty();
        }
        return false;
    }
    static std::string text_of(const XValue& v) {
        switch (v.kind) {
        case XValue::String: return v.string;
        case XValue::Boolean: return v.boolean ? "true" : "false";
        case XValue::Nodes: return v.nodes.empty() ? std::string() : v.nodes.front().value();
        case XValue::Number: {
            if (std::isnan(v.number))
                return "NaN";
            if (std::isinf(v.number))
                return v.number > 0 ? "Infinity" : "-Infinity";
            char buf[40];
            std::snprintf(buf, sizeof buf, "%.15g", v.number);
            return buf;
        }
        }
        return std::string();
    }
    static double number_of_text(const std::string& s) {
        std::size_t a = 0, b = s.size();
        while (a < b && std::isspace(static_cast<unsigned char>(s[a])))
            ++a;
        while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1])))
            --b;
        const std::string t = s.substr(a, b - a);
        std::size_t k = t.size() && t[0] == '-' ? 1 : 0, digits = 0, dots = 0;
        for (std::size_t j = k; j < t.size(); ++j) {
            if (std::isdigit(static_cast<unsigned char>(t[j])))
                ++digits;
            else if (t[j] == '.' && ++dots == 1)
                continue;
            else
                return std::nan("");
        }
        return digits ? std::atof(t.c_str()) : std::nan("");
    }
    static double number_of(const XValue& v) {
        switch (v.kind) {
        case XValue::Number: return v.number;
        case XValue::Boolean: return v.boolean ? 1 : 0;
        default: return number_of_text(text_of(v));
        }
    }
    // = != < <= > >=, where a node set compares as any of its nodes.
    static bool compare(Expr::Kind op, const XValue& a, const XValue& b) {
        if (a.kind == XValue::Nodes || b.kind == XValue::Nodes) {
            if (a.kind == XValue::Nodes && b.kind == XValue::Nodes) {
                for (const Found& x : a.nodes)
                    for (const Found& y : b.nodes)
                        if (compare(op, of(x.value()), of(y.value())))
                            return true;
                return false;
            }
            const bool nodes_first = a.kind == XValue::Nodes;
            const XValue& set = nodes_first ? a : b;
            const XValue& other = nodes_first ? b : a;
            if (other.kind == XValue::Boolean)
                return nodes_first ? compare(op, of(truth(set)), other) : compare(op, other, of(truth(set)));
            for (const Found& x : set.nodes) {
                XValue each = other.kind == XValue::Number ? of(number_of_text(x.value())) : of(x.value());
                if (nodes_first ? compare(op, each, other) : compare(op, other, each))
                    return true;
            }
            return false;
        }
        if (op == Expr::Eq || op == Expr::Ne) {
            bool equal;
            if (a.kind == XValue::Boolean || b.kind == XValue::Boolean)
                equal = truth(a) == truth(b);
            else if (a.kind == XValue::Number || b.kind == XValue::Number)
                equal = number_of(a) == number_of(b);
            else
                equal = a.string == b.string;
            return op == Expr::Eq ? equal : !equal;
        }
        const double x = number_of(a), y = number_of(b);
        switch (op) {
        case Expr::Lt: return x < y;
        case Expr::Le: return x <= y;
        case Expr::Gt: return x > y;
        default: return x >= y;
        }
    }
    XValue eval(const Expr& e, const Context& c) {
        switch (e.kind) {
        case Expr::Or: return of(truth(eval(*e.args[0], c)) || truth(eval(*e.args[1], c)));
        case Expr::And: return of(truth(eval(*e.args[0], c)) && truth(eval(*e.args[1], c)));
        case Expr::Eq:
        case Expr::Ne:
        case Expr::Lt:
        case Expr::Le:
        case Expr::Gt:
        case Expr::Ge: return of(compare(e.kind, eval(*e.args[0], c), eval(*e.args[1], c)));
        case Expr::Add:
        case Expr::Sub:
        case Expr::Mul:
        case Expr::Div:
        case Expr::Mod: {
            const double x = number_of(eval(*e.args[0], c)), y = number_of(eval(*e.args[1], c));
            switch (e.kind) {
            case Expr::Add: return of(x + y);
            case Expr::Sub: return of(x - y);
            case Expr::Mul: return of(x * y);
            case Expr::Div: return of(x / y);
            default: return of(std::fmod(x, y));
            }
        }
        case Expr::Neg: return of(-number_of(eval(*e.args[0], c)));
        case Expr::Literal: return of(e.text);
        case Expr::Number: return of(e.number);
        case Expr::Path: {
            XValue v;
            v.kind = XValue::Nodes;
            v.nodes = follow(e, c);
            return v;
        }
        case Expr::Call: return call_value(e, c);
        }
        return of(false);
    }
    XValue call_value(const Expr& e, const Context& c) {
        const std::string& f = e.text;
        std::vector<XValue> a;
        for (const auto& arg : e.args)
            a.push_back(eval(*arg, c));
        auto text = [&](std::size_t k) { return k < a.size() ? text_of(a[k]) : c.node.value(); };
        if (f == "position")
            return of(double(c.position));
        if (f == "last")
            return of(double(c.size));
        if (f == "count" || f == "sum") {
            if (a.size() != 1 || a[0].kind != XValue::Nodes)
                return of(std::nan(""));
            if (f == "count")
                return of(double(a[0].nodes.size()));
            double total = 0;
            for (const Found& n : a[0].nodes)
                total += number_of_text(n.value());
            return of(total);
        }
        if (f == "not")
            return of(a.empty() || !truth(a[0]));
        if (f == "true" || f == "false")
            return of(f == "true");
        if (f == "boolean")
            return of(!a.empty() && truth(a[0]));
        if (f == "number")
            return of(a.empty() ? number_of_text(c.node.value()) : number_of(a[0]));
        if (f == "string")
            return of(text(0));
        if (f == "concat") {
            std::string out;
            for (const XValue& v : a)
                out += text_of(v);
            return of(out);
        }
        if (f == "contains")
            return of(text(0).find(text(1)) != std::string::npos);
        if (f == "starts-with")
            return of(text(0).compare(0, text(1).size(), text(1)) == 0);
        if (f == "substring-before" || f == "substring-after") {
            const std::string s = text(0), t = text(1);
            const std::size_t at = s.find(t);
            if (at == std::string::npos)
                return of(std::string());
            return of(f == "substring-before" ? s.substr(0, at) : s.substr(at + t.size()));
        }
        if (f == "string-length")
            return of(double(utf8_length(text(0))));
        if (f == "normalize-space") {
            std::string out;
            for (char ch : text(0)) {
                if (std::isspace(static_cast<unsigned char>(ch))) {
                    if (!out.empty() && out.back() != ' ')
                        out += ' ';
                } else {
                    out += ch;
                }
            }
            if (!out.empty() && out.back() == ' ')
                out.pop_back();
            return of(out);
        }
        if (f == "substring") {
            // Characters from the rounded start for the rounded length, counting from 1.
            const std::string s = text(0);
            const double start = std::round(a.size() > 1 ? number_of(a[1]) : std::nan(""));
            const double end = a.size() > 2 ? start + std::round(number_of(a[2])) : HUGE_VAL;
            std::string out;
            std::size_t k = 0;
            for (std::size_t j = 1; k < s.size(); ++j) {
                const std::size_t from = k;
                next_code_point(s, k);
                if (double(j) >= start && double(j) < end)
                    out.append(s, from, k - from);
            }
            return of(out);
        }
        if (f == "translate") {
            // Each character of the second text becomes the one at its place in the third, or
            // goes where the third is shorter.
            const std::string s = text(0), from = text(1), to = text(2);
            std::vector<std::string> to_chars;
            for (std::size_t k = 0; k < to.size();) {
                const std::size_t at = k;
                next_code_point(to, k);
                to_chars.push_back(to.substr(at, k - at));
            }
            std::string out;
            for (std::size_t k = 0; k < s.size();) {
                const std::size_t at = k;
                next_code_point(s, k);
                const std::string ch = s.substr(at, k - at);
                std::size_t index = 0, j = 0;
                bool mapped = false;
                while (j < from.size()) {
                    const std::size_t f0 = j;
                    next_code_point(from, j);
                    if (from.compare(f0, j - f0, ch) == 0) {
                        mapped = true;
                        break;
                    }
                    ++index;
                }
                if (!mapped)
                    out += ch;
                else if (index < to_chars.size())
                    out += to_chars[index];
            }
            return of(out);
        }
        if (f == "floor" || f == "ceiling" || f == "round") {
            const double x = a.empty() ? std::nan("") : number_of(a[0]);
            return of(f == "floor" ? std::floor(x) : f == "ceiling" ? std::ceil(x) : std::floor(x + 0.5));
        }
        // name(), local-name()
        const Found n = a.empty()                                           ? c.node
                        : a[0].kind == XValue::Nodes && !a[0].nodes.empty() ? a[0].nodes.front()
                                                                            : Found{};
        std::string name = n.node && !n.attribute && n.node->parent ? n.node->name : std::string();
        if (n.attribute)
            for (const auto& attr : n.node->attributes)
                if (&attr.second == n.attribute)
                    name = attr.first;
        if (f == "local-name" && name.find(':') != std::string::npos)
            name = name.substr(name.find(':') + 1);
        return of(name);
    }

    const XmlNode& document_;
    std::vector<const XmlNode*> order_;
    std::map<const XmlNode*, std::pair<std::size_t, std::size_t>> place_;
};

} // namespace

std::optional<std::vector<std::string>> query_xml(std::string_view xml, std::string_view path) {
    std::unique_ptr<XmlNode> document = read_xml(xml);
    std::vector<Found> found;
    if (!document || !XPath(path, *document).run(found))
        return std::nullopt;
    std::vector<std::string> texts;
    texts.reserve(found.size());
    for (const Found& f : found)
        texts.push_back(f.value());
    return texts;
}

} // namespace host::engine::detail::fn
