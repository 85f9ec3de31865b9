#include "math/opt/Coding.hpp"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace math {
namespace opt {

namespace {

const double two_to_32 = 4294967296.0;

} // namespace

void Coding::whole_numbers(const Interval& x, double& lowest, unsigned long long& count) {
    lowest = std::ceil(x.lower());
    const double highest = std::floor(x.upper());
    count = 0;
    if (!(highest >= lowest) || highest - lowest >= two_to_32)
        return;
    count = static_cast<unsigned long long>(highest - lowest) + 1;
}

double Coding::decode_integer(unsigned int word, double lowest, unsigned long long count) {
    // word * count < 2^64: exact in 64 bits.
    return lowest + static_cast<double>((static_cast<unsigned long long>(word) * count) >> 32);
}

unsigned int Coding::code_integer(double value, double lowest, unsigned long long count) {
    double k = std::floor(value - lowest + 0.5);
    if (!(k >= 0.0))
        k = 0.0;
    if (k > static_cast<double>(count - 1))
        k = static_cast<double>(count - 1);
    // The least w with w * count >= k * 2^32.
    const unsigned long long kk = static_cast<unsigned long long>(k);
    return static_cast<unsigned int>(((kk << 32) + count - 1) / count);
}

void Coding::repair(const std::vector<Interval>& intervals, std::vector<double>& point) const {
    for (std::size_t j = 0; j < kinds.size() && j < point.size(); ++j) {
        if (kinds[j] != VariableKind::integer)
            continue;
        double lowest;
        unsigned long long count;
        whole_numbers(intervals[j], lowest, count);
        if (count > 0)
            point[j] = std::min(std::max(std::floor(point[j] + 0.5), lowest), lowest + double(count - 1));
    }
    const std::vector<double> keys = point;
    rank_permutations(keys, point);
}

std::string Coding::refusal(const std::vector<Interval>& intervals) const {
    std::ostringstream message;
    if (kinds.size() > intervals.size())
        message << "The coding has " << kinds.size() << " variable kinds for " << intervals.size() << " variables";
    for (std::size_t j = 0; j < kinds.size() && message.str().empty(); ++j) {
        double lowest;
        unsigned long long count;
        whole_numbers(intervals[j], lowest, count);
        if (kinds[j] == VariableKind::integer && count == 0)
            message << "Design variable " << j + 1 << " must be a whole number, but its range [" << intervals[j].lower()
                    << ", " << intervals[j].upper() << "] "
                    << (std::floor(intervals[j].upper()) < std::ceil(intervals[j].lower())
                            ? "holds none"
                            : "holds more than 4294967296 of them");
    }
    std::vector<bool> grouped(intervals.size(), false);
    for (const std::vector<unsigned int>& group : permutations)
        for (unsigned int j : group) {
            if (!message.str().empty())
                break;
            if (j >= intervals.size())
                message << "A permutation group names variable " << j + 1 << " of " << intervals.size();
            else if (grouped[j])
                message << "Design variable " << j + 1 << " is in two permutation groups";
            else
                grouped[j] = true;
        }
    return message.str();
}

} // namespace opt
} // namespace math
