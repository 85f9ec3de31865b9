#ifndef OMBRIX_TESTS_MATH_OPT_ENGINETOOLS_HPP
#define OMBRIX_TESTS_MATH_OPT_ENGINETOOLS_HPP

// Yardsticks for what the optimiser draws: an MT19937 written from the published algorithm,
// engines with explicit state words or chosen first outputs, and state arithmetic.

#include <boost/random/mersenne_twister.hpp>

#include <array>
#include <cstdint>
#include <sstream>
#include <vector>

namespace enginetools {

typedef std::array<std::uint32_t, 624> State;

// Matsumoto and Nishimura's genrand_int32, started at the end of a block of given words.
class ReferenceMt {
public:
    explicit ReferenceMt(const State& state) : mt(state), index(624) {}
    std::uint32_t next() {
        if (index == 624) {
            for (int k = 0; k < 624; ++k) {
                const std::uint32_t y = (mt[k] & 0x80000000u) | (mt[(k + 1) % 624] & 0x7fffffffu);
                mt[k] = mt[(k + 397) % 624] ^ (y >> 1) ^ ((y & 1u) ? 0x9908b0dfu : 0u);
            }
            index = 0;
        }
        std::uint32_t y = mt[index++];
        y ^= y >> 11;
        y ^= (y << 7) & 0x9d2c5680u;
        y ^= (y << 15) & 0xefc60000u;
        return y ^ (y >> 18);
    }

private:
    State mt;
    int index;
};

inline std::uint32_t untemper(std::uint32_t y) {
    y ^= y >> 18;
    y ^= (y << 15) & 0xefc60000u;
    std::uint32_t t = y;
    for (int i = 0; i < 5; ++i)
        t = y ^ ((t << 7) & 0x9d2c5680u);
    y = t;
    for (int i = 0; i < 3; ++i)
        t = y ^ (t >> 11);
    return t;
}

// An engine whose first outputs (at most 227) are the given ones: with words 0..227 zero,
// regeneration copies word 397 + j into word j.
inline boost::mt19937 engine_with_outputs(const std::vector<std::uint32_t>& outputs) {
    State state{};
    for (std::size_t j = 0; j < outputs.size() && j < 227; ++j)
        state[397 + j] = untemper(outputs[j]);
    std::ostringstream text;
    for (std::uint32_t w : state)
        text << w << ' ';
    boost::mt19937 engine;
    std::istringstream in(text.str());
    in >> engine;
    return engine;
}

// The output whose draw is d, for d a multiple of 2^-32 in [0, 1).
inline std::uint32_t output_for(double d) { return static_cast<std::uint32_t>(d * 4294967296.0); }

inline boost::mt19937 advanced(boost::mt19937 engine, long n) {
    engine.discard(static_cast<boost::uintmax_t>(n));
    return engine;
}

// Outputs that take `from` to `to`, or -1 if more than limit.
inline long draws_between(boost::mt19937 from, const boost::mt19937& to, long limit = 5000) {
    for (long n = 0; n <= limit; ++n, from())
        if (from == to)
            return n;
    return -1;
}

inline State next_outputs(boost::mt19937 engine) {
    State s;
    for (auto& w : s)
        w = engine();
    return s;
}

} // namespace enginetools

#endif
