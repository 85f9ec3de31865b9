#include "math/opt/Check.hpp"
#include "math/opt/GAOptimiser.hpp"
#include "math/opt/Truncate.hpp"

#include <cmath>
#include <cstdint>

namespace math {
namespace opt {

void GAOptimiser::OnePointCrossover::cross(Chromosome& p1, Chromosome& p2, int /*generation*/,
                                           UniformSource& source) const {
    // One draw decides, a second places the cut: k in 1 .. length - 1.
    if (!(rate > source()))
        return;
    const double r2 = source();
    const unsigned int k = 1 + truncate_to_unsigned(r2 * (p1.length() - 1));
    OMBRIX_CHECK(0 < k && k < p1.length());
    p1.cross(p2, k);
}

void GAOptimiser::UniformMutation::mutate(Chromosome& c, int /*generation*/, UniformSource& source) const {
    // One draw per bit, flipped or not, bit 0 (the top of word 0) first. A draw is the engine
    // output k times 2^-32, and scaling by 2^32 is exact, so "rate > draw" is exactly
    // "k < ceil(rate * 2^32)": the same decision for every draw, made on the output itself.
    // This is the optimiser's hot loop; it also runs branch-free, since flips are random.
    std::uint64_t threshold = 0; // NaN and rates up to 0 never flip
    if (rate >= 1.0)
        threshold = std::uint64_t(1) << 32;
    else if (rate > 0.0)
        threshold = static_cast<std::uint64_t>(std::ceil(rate * 4294967296.0));
    boost::mt19937& engine = source.base();
    for (unsigned int& word : c.words) {
        unsigned int w = word;
        for (unsigned int bit = 0x80000000u; bit != 0; bit >>= 1)
            w ^= bit & (0u - static_cast<unsigned int>(std::uint64_t(engine()) < threshold));
        word = w;
    }
}

void GAOptimiser::cross(Population& population, int generation, UniformSource& source) const {
    OMBRIX_CHECK_MSG("Population size must be equal", (population.size() % 2) == 0);
    for (std::size_t i = 0; i < population.size(); i += 2)
        crossover->cross(population[i], population[i + 1], generation, source);
}

void GAOptimiser::mutate(Population& population, int generation, UniformSource& source) const {
    // Only the first of each crossover pair mutates.
    for (std::size_t i = 0; i < population.size(); i += 2)
        mutation->mutate(population[i], generation, source);
}

} // namespace opt
} // namespace math
