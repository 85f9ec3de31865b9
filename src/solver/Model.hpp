#ifndef OMBRIX_SOLVER_MODEL_HPP
#define OMBRIX_SOLVER_MODEL_HPP

#include "excel/RangeRef.hpp"

#include <string>
#include <vector>

namespace solver {

// The pieces of a list, split at separator outside quoted sheet names, trimmed of blanks;
// empty pieces are dropped.
std::vector<std::string> split_list(const std::string& text, char separator);

// Several ranges separated by commas ("B3:D3,F3,H2:H9"), each any block. Throws
// ExcelException "Expected <name> ranges" when a piece is not a range.
std::vector<excel::RangeRef> parse_ranges(const std::string& text, const std::string& name);
// How many cells the ranges hold together.
unsigned long long cell_count(const std::vector<excel::RangeRef>& ranges);

enum class Relation { at_most, equal, at_least };
const char* relation_text(Relation relation);

// One side of a constraint: cells, or a number.
struct Side {
    bool is_number = false;
    double number = 0.0;
    excel::RangeRef range;
};

struct Constraint {
    std::string text; // as given, trimmed
    Side lhs;
    Relation relation = Relation::at_most;
    Side rhs;
};

// "LHS REL RHS": REL one of <=, =, >= (also =<, =>); each side a cell, a range or a number.
// The right side is one cell or number for every cell of the left, or a range of as many
// cells. Throws ExcelException naming the constraint when it is none of these.
Constraint parse_constraint(const std::string& text);

// How far lhs lies outside "lhs REL rhs": 0 when it holds within tolerance, relative to
// the right side (at least 1 in size), else the whole distance.
double violation(Relation relation, double lhs, double rhs, double tolerance);

} // namespace solver

#endif
