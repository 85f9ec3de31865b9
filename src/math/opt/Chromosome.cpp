#include "math/opt/GAOptimiser.hpp"
#include "math/opt/Truncate.hpp"

#include <algorithm>
#include <utility>

namespace math {
namespace opt {

const unsigned int GAOptimiser::Chromosome::BITS_PER_WORD;

void GAOptimiser::Chromosome::cross(Chromosome& other, unsigned int k) {
    // The cut word keeps its bits before k; every later word changes hands whole.
    const unsigned int w = k >> 5;
    const unsigned int mask = 0xFFFFFFFFu >> (k & 31);
    cross_word(words[w], other.words[w], mask);
    for (std::size_t j = w + 1; j < words.size(); ++j)
        std::swap(words[j], other.words[j]);
}

void GAOptimiser::Chromosome::randomise(UniformSource& source) {
    // The largest draw is 1 - 2^-32, so the all-ones word never comes out of here.
    for (unsigned int& word : words)
        word = truncate_to_unsigned(source() * 4294967295.0);
}

void GAOptimiser::Population::randomise(UniformSource& source) {
    for (Chromosome& c : *this)
        c.randomise(source);
}

void GAOptimiser::Population::auto_select(const std::vector<unsigned int>& indices) {
    // The run's case, same size and equal word counts, reuses the chromosomes' storage: one
    // flat snapshot instead of an allocation per chromosome in every generation.
    const std::size_t m = empty() ? 0 : front().words.size();
    bool same_shape = indices.size() == size();
    for (std::size_t i = 0; same_shape && i < size(); ++i)
        same_shape = (*this)[i].words.size() == m;
    if (same_shape) {
        std::vector<unsigned int> snapshot;
        snapshot.reserve(size() * m);
        for (const Chromosome& c : *this)
            snapshot.insert(snapshot.end(), c.words.begin(), c.words.end());
        for (std::size_t i = 0; i < size(); ++i)
            std::copy(snapshot.begin() + indices[i] * m, snapshot.begin() + (indices[i] + 1) * m,
                      (*this)[i].words.begin());
        return;
    }
    std::vector<Chromosome> next;
    next.reserve(size());
    for (unsigned int index : indices)
        next.push_back((*this)[index]);
    swap(next);
}

} // namespace opt
} // namespace math
