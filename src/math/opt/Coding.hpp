#ifndef OMBRIX_MATH_OPT_CODING_HPP
#define OMBRIX_MATH_OPT_CODING_HPP

#include "math/opt/Interval.hpp"

#include <algorithm>
#include <string>
#include <vector>

namespace math {
namespace opt {

// What values a design variable takes besides its interval.
enum class VariableKind {
    continuous, // any value of the interval, on the fixed-point grid
    integer,    // the whole numbers of the interval, each as likely as the others
};

// How words (32-bit, uniformly drawn) become a point when some variables are whole numbers or
// groups of them must hold a permutation. Empty, it is the plain fixed-point coding.
//
// A whole-number variable with n values takes value k for the words w with
// floor(w * n / 2^32) == k: every value gets floor or ceil of 2^32 / n words, so no value is
// favoured by more than one word in 2^32 / n whatever n is (rounding a fixed-point value
// would give the two end values half the chance of the others).
//
// A permutation group of m variables takes the values 1..m in the order of its words (random
// keys): with independent uniform words every order is as likely; equal words are ranked by
// position.
struct Coding {
    // One per variable, or empty: all continuous.
    std::vector<VariableKind> kinds;
    // Groups of variable indices; a variable is in at most one group and a group's own kind
    // and interval are ignored.
    std::vector<std::vector<unsigned int>> permutations;

    bool plain() const { return kinds.empty() && permutations.empty(); }
    VariableKind kind(unsigned int j) const { return j < kinds.size() ? kinds[j] : VariableKind::continuous; }

    // The whole numbers of x: lowest and count. Count 0 when there is none (or too many to
    // code: more than 2^32).
    static void whole_numbers(const Interval& x, double& lowest, unsigned long long& count);
    static double decode_integer(unsigned int word, double lowest, unsigned long long count);
    // The first word that decodes to value (clamped into the numbers).
    static unsigned int code_integer(double value, double lowest, unsigned long long count);

    // Replaces the values of the permutation groups by the ranks of the keys (1 for the
    // smallest key); keys has one element per variable.
    template <class Key>
    void rank_permutations(const std::vector<Key>& keys, std::vector<double>& point) const;

    // For a search over real values: moves each whole-number variable to the nearest whole
    // number of its interval and gives each permutation group the ranks of its values.
    void repair(const std::vector<Interval>& intervals, std::vector<double>& point) const;

    // Why this coding cannot serve these intervals (an index out of range, a variable in two
    // groups, an integer interval with no whole number); empty when it can.
    std::string refusal(const std::vector<Interval>& intervals) const;
};

template <class Key>
void Coding::rank_permutations(const std::vector<Key>& keys, std::vector<double>& point) const {
    std::vector<unsigned int> order;
    for (const std::vector<unsigned int>& group : permutations) {
        order.assign(group.begin(), group.end());
        // Stable, so equal keys keep the group's order.
        std::stable_sort(order.begin(), order.end(),
                         [&keys](unsigned int a, unsigned int b) { return keys[a] < keys[b]; });
        for (std::size_t r = 0; r < order.size(); ++r)
            point[order[r]] = static_cast<double>(r + 1);
    }
}

} // namespace opt
} // namespace math

#endif
