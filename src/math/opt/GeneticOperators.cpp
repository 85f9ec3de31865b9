#include "math/opt/Check.hpp"
#include "math/opt/GAOptimiser.hpp"
#include "math/opt/Truncate.hpp"

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

void GAOptimiser::UniformMutation::mutate(Chromosome& c, int /*generation*/,
                                          UniformSource& source) const {
    // One draw per bit, flipped or not, bit 0 (the top of word 0) first.
    const double p = rate;
    for (unsigned int& word : c.words) {
        unsigned int w = word;
        for (unsigned int bit = 0x80000000u; bit != 0; bit >>= 1) {
            if (p > source())
                w ^= bit;
        }
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
