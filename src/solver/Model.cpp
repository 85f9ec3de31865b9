#include "solver/Model.hpp"

#include "excel/ExcelException.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace solver {

namespace {

std::string trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

bool parse_number(const std::string& text, double& value) {
    if (text.empty())
        return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size() && std::isfinite(value);
}

Side parse_side(const std::string& text, const std::string& constraint) {
    Side side;
    if (parse_number(text, side.number)) {
        side.is_number = true;
        return side;
    }
    if (!excel::RangeRef::coerce_to_range(text, side.range))
        throw excel::ExcelException("The constraint \"" + constraint + "\" has \"" + text +
                                    "\" as a side, which is neither a cell, a range nor a number");
    return side;
}

unsigned long long cells_of(const excel::RangeRef& r) {
    return static_cast<unsigned long long>(static_cast<long long>(r.end.x) - r.first.x) *
           static_cast<unsigned long long>(static_cast<long long>(r.end.y) - r.first.y);
}

} // namespace

std::vector<std::string> split_list(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    std::string piece;
    bool quoted = false;
    for (char c : text) {
        if (c == '\'')
            quoted = !quoted;
        if (c == separator && !quoted) {
            pieces.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    pieces.push_back(piece);
    std::vector<std::string> kept;
    for (const std::string& p : pieces)
        if (!trim(p).empty())
            kept.push_back(trim(p));
    return kept;
}

std::vector<excel::RangeRef> parse_ranges(const std::string& text, const std::string& name) {
    std::vector<excel::RangeRef> ranges;
    for (const std::string& piece : split_list(text, ',')) {
        excel::RangeRef r;
        if (!excel::RangeRef::coerce_to_range(piece, r))
            throw excel::ExcelException("Expected " + name + " ranges: \"" + piece + "\" is not a range");
        ranges.push_back(r);
    }
    if (ranges.empty())
        throw excel::ExcelException("Expected " + name + " ranges");
    return ranges;
}

unsigned long long cell_count(const std::vector<excel::RangeRef>& ranges) {
    unsigned long long n = 0;
    for (const excel::RangeRef& r : ranges)
        n += cells_of(r);
    return n;
}

const char* relation_text(Relation relation) {
    switch (relation) {
    case Relation::at_most: return "<=";
    case Relation::equal: return "=";
    case Relation::at_least: return ">=";
    }
    return "=";
}

Constraint parse_constraint(const std::string& given) {
    Constraint c;
    c.text = trim(given);
    const std::string shape = "The constraint \"" + c.text + "\" must be LHS <= RHS, LHS = RHS or LHS >= RHS";
    // The first relation sign outside a quoted sheet name.
    std::size_t at = std::string::npos;
    bool quoted = false;
    for (std::size_t i = 0; i < c.text.size(); ++i) {
        if (c.text[i] == '\'')
            quoted = !quoted;
        if (!quoted && (c.text[i] == '<' || c.text[i] == '>' || c.text[i] == '=')) {
            at = i;
            break;
        }
    }
    if (at == std::string::npos)
        throw excel::ExcelException(shape);
    std::string sign = c.text.substr(at, 2);
    std::size_t length = 2;
    if (sign == "<=" || sign == "=<")
        c.relation = Relation::at_most;
    else if (sign == ">=" || sign == "=>")
        c.relation = Relation::at_least;
    else if (sign[0] == '=' && (sign.size() == 1 || (sign[1] != '<' && sign[1] != '>')))
        c.relation = Relation::equal, length = 1;
    else
        throw excel::ExcelException(shape);
    const std::string left = trim(c.text.substr(0, at));
    const std::string right = trim(c.text.substr(at + length));
    if (left.empty() || right.empty())
        throw excel::ExcelException(shape);
    c.lhs = parse_side(left, c.text);
    c.rhs = parse_side(right, c.text);
    if (c.lhs.is_number)
        throw excel::ExcelException("The constraint \"" + c.text + "\" must have cells on its left side");
    if (!c.rhs.is_number && cells_of(c.rhs.range) != 1 && cells_of(c.rhs.range) != cells_of(c.lhs.range))
        throw excel::ExcelException("The constraint \"" + c.text +
                                    "\" has sides of different sizes: the right side must be one cell or as many "
                                    "cells as the left");
    return c;
}

double violation(Relation relation, double lhs, double rhs, double tolerance) {
    const double excess = relation == Relation::at_most    ? lhs - rhs
                          : relation == Relation::at_least ? rhs - lhs
                                                           : std::fabs(lhs - rhs);
    return excess > tolerance * std::max(1.0, std::fabs(rhs)) ? excess : 0.0;
}

} // namespace solver
