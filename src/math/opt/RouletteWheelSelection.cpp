#include "math/opt/Check.hpp"
#include "math/opt/GAOptimiser.hpp"
#include "usr/Exception.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>

namespace math {
namespace opt {

namespace {

typedef GAOptimiser::FitnessTable FitnessTable;

usr::Exception selection_error(const std::string& message) {
    return usr::Exception("RouletteWheelSelection", message, usr::Exception());
}

// The wheel builders without their closing checks: each returns its running total.
double fill_scaled(const FitnessTable& fitness, double average, double alpha, std::vector<double>& wheel) {
    const double n = static_cast<double>(fitness.size());
    wheel.resize(fitness.size());
    double cumulative_value = 0.0;
    for (std::size_t i = 0; i < fitness.size(); ++i) {
        cumulative_value += 1.0 + alpha * (fitness[i].second - average);
        wheel[i] = cumulative_value / n;
    }
    return cumulative_value;
}

double fill_shifted(const FitnessTable& fitness, double shift, double total, std::vector<double>& wheel) {
    wheel.resize(fitness.size());
    double cumulative_value = 0.0;
    for (std::size_t i = 0; i < fitness.size(); ++i) {
        cumulative_value += fitness[i].second + shift;
        wheel[i] = cumulative_value / total;
    }
    return cumulative_value;
}

void fill_uniform(std::vector<double>& wheel) {
    const double n = static_cast<double>(wheel.size());
    for (std::size_t k = 0; k < wheel.size(); ++k)
        wheel[k] = static_cast<double>(k + 1) / n;
}

} // namespace

void GAOptimiser::RouletteWheelSelection::select(const FitnessTable& fitness, std::vector<unsigned int>& selected,
                                                 int generation, UniformSource& source) const {
    if (mode != normal && mode != shifted && mode != scaled) {
        std::ostringstream message;
        message << "Unknown roulette-wheel mode " << mode << ": use 0 (normal), 1 (shifted) or 2 (scaled)";
        throw selection_error(message.str());
    }
    const std::size_t n = fitness.size();
    std::vector<double> wheel(n, 0.0);
    double sum = 0.0;
    double min = 0.0;
    double max = 0.0;
    calculate_stats(fitness, sum, min, max);

    if (0.001 > max - min) {
        fill_uniform(wheel);
    } else {
        // A wheel that misses its closing check is not the answer to any sensible question:
        // it only happens when the sum overflows or the values agree to about 15 digits
        // (the average then rounds onto the minimum). Every chromosome is then as good as
        // any other, so fall back to the uniform wheel instead of failing the check.
        bool valid = false;
        if (mode == scaled) {
            const double average = sum / static_cast<double>(n);
            const double alpha = calculate_alpha(average, min, max);
            const double total = fill_scaled(fitness, average, alpha, wheel);
            valid = std::isfinite(total) && total > static_cast<double>(n) - 0.5;
        } else {
            if (mode == normal && min < 0.0) {
                std::ostringstream message;
                message << "Normal roulette selection must have a non-negative value function; "
                        << "the smallest value is " << min;
                throw selection_error(message.str());
            }
            const double shift = mode == shifted ? -min : 0.0;
            const double total = sum + static_cast<double>(n) * shift;
            const double cumulative_value = fill_shifted(fitness, shift, total, wheel);
            valid = std::isfinite(total) && std::isfinite(cumulative_value) && cumulative_value > total - 0.5;
        }
        if (!valid)
            fill_uniform(wheel);
    }
    // Rounding can leave the last entry a hair below 1; a draw above it would find no
    // entry. Raising it changes no draw that does find one.
    if (!wheel.empty() && wheel.back() < 1.0)
        wheel.back() = 1.0;
    sample_selection(wheel, selected, generation, source);
}

void GAOptimiser::RouletteWheelSelection::calculate_stats(const FitnessTable& fitness, double& sum, double& min,
                                                          double& max) {
    sum = 0.0;
    min = std::numeric_limits<double>::max();
    max = -std::numeric_limits<double>::max();
    for (const auto& entry : fitness) {
        sum += entry.second;
        min = std::min(min, entry.second);
        max = std::max(max, entry.second);
    }
}

double GAOptimiser::RouletteWheelSelection::calculate_alpha(double average, double min, double max) const {
    // r1 keeps the worst weight at 0 or above, r2 the best at factor or below.
    const double r1 = -1.0 / (min - average);
    const double r2 = (factor - 1.0) / (max - average);
    return r2 < r1 ? r2 : r1;
}

void GAOptimiser::RouletteWheelSelection::scale_to_max_fitness(double factor_) {
    if (!(factor_ > 1.0)) {
        std::ostringstream message;
        message << "The largest selection weight must be greater than 1, not " << factor_;
        throw selection_error(message.str());
    }
    mode = scaled;
    factor = factor_;
}

void GAOptimiser::RouletteWheelSelection::make_wheel_scaled(const FitnessTable& fitness, double average, double alpha,
                                                            std::vector<double>& wheel) {
    const double cumulative_value = fill_scaled(fitness, average, alpha, wheel);
    OMBRIX_CHECK(cumulative_value > (fitness.size() - 0.5));
}

void GAOptimiser::RouletteWheelSelection::make_wheel_shifted(const FitnessTable& fitness, double shift, double sum,
                                                             std::vector<double>& wheel) {
    sum += static_cast<double>(fitness.size()) * shift;
    const double cumulative_value = fill_shifted(fitness, shift, sum, wheel);
    OMBRIX_CHECK(cumulative_value > (sum - 0.5));
}

void GAOptimiser::RouletteWheelSelection::sample_selection(const std::vector<double>& cumulative_probs,
                                                           std::vector<unsigned int>& selected, int /*generation*/,
                                                           UniformSource& source) const {
    for (unsigned int& position : selected) {
        const double r = source();
        const auto p = std::lower_bound(cumulative_probs.begin(), cumulative_probs.end(), r);
        OMBRIX_CHECK(p != cumulative_probs.end());
        position = static_cast<unsigned int>(p - cumulative_probs.begin());
    }
}

} // namespace opt
} // namespace math
