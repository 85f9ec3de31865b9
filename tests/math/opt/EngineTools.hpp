#ifndef OMBRIX_TESTS_MATH_OPT_ENGINETOOLS_HPP
#define OMBRIX_TESTS_MATH_OPT_ENGINETOOLS_HPP

// Tools for pinning down what the optimiser draws: an independent MT19937 written from the
// published algorithm, engines built from explicit state words, engines whose first outputs
// are chosen, and a counter of the outputs between two engine states.

#include <boost/random/mersenne_twister.hpp>

#include <array>
#include <cstdint>
#include <sstream>
#include <vector>

namespace enginetools {

typedef std::array<std::uint32_t, 624> State;

// MT19937 after Matsumoto and Nishimura's genrand_int32.
class ReferenceMt {
public:
    explicit ReferenceMt(std::uint32_t seed) : index(624) {
        mt[0] = seed;
        for (int i = 1; i < 624; ++i)
            mt[i] = 1812433253u * (mt[i - 1] ^ (mt[i - 1] >> 30)) + static_cast<std::uint32_t>(i);
    }
    // The given words, with the next output after regenerating the whole block.
    explicit ReferenceMt(const State& state) : mt(state), index(624) {}

    std::uint32_t next() {
        if (index >= 624) {
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
        y ^= y >> 18;
        return y;
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
    t = y;
    for (int i = 0; i < 3; ++i)
        t = y ^ (t >> 11);
    return t;
}

// A Boost engine holding exactly these state words, positioned at the end of the block.
inline boost::mt19937 engine_from_state(const State& state) {
    std::ostringstream text;
    for (std::uint32_t w : state)
        text << w << ' ';
    boost::mt19937 engine;
    std::istringstream in(text.str());
    in >> engine;
    return engine;
}

// An engine whose first outputs are the given ones (at most 227). With words 0..227 zero,
// regenerating the block makes word j a copy of word 397 + j for j < 227.
inline boost::mt19937 engine_with_outputs(const std::vector<std::uint32_t>& outputs) {
    State state;
    state.fill(0u);
    for (std::size_t j = 228; j < 397; ++j)
        state[j] = 0x5eed0000u + static_cast<std::uint32_t>(j); // anything will do here
    for (std::size_t j = 0; j < outputs.size() && j < 227; ++j)
        state[397 + j] = untemper(outputs[j]);
    return engine_from_state(state);
}

// The engine output whose draw is d (d a multiple of 2^-32 in [0, 1)).
inline std::uint32_t output_for(double d) {
    return static_cast<std::uint32_t>(d * 4294967296.0);
}

// Outputs that take `from` to the state of `to`, or -1 if none within limit.
inline long outputs_between(boost::mt19937 from, const boost::mt19937& to, long limit) {
    for (long n = 0; n <= limit; ++n) {
        if (from == to)
            return n;
        from();
    }
    return -1;
}

inline boost::mt19937 advanced(boost::mt19937 engine, long n) {
    engine.discard(static_cast<boost::uintmax_t>(n));
    return engine;
}

// The first 624 outputs of a copy of the engine.
inline State next_outputs(boost::mt19937 engine) {
    State s;
    for (auto& w : s)
        w = engine();
    return s;
}

} // namespace enginetools

#endif
