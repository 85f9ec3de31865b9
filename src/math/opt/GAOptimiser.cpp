#include "math/opt/GAOptimiser.hpp"

#include "math/opt/Check.hpp"
#include "math/opt/Truncate.hpp"
#include "usr/Exception.hpp"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <sstream>
#include <string>

namespace math {
namespace opt {

namespace {

const double lowest_value = -std::numeric_limits<double>::max();

usr::Exception optimiser_error(const std::string& message) {
    return usr::Exception("GAOptimiser", message, usr::Exception());
}

// "(x1, x2, ...)", cut short for long points so that a message stays readable.
std::string format_point(const std::vector<double>& point) {
    const std::size_t shown = 8;
    std::ostringstream text;
    text << '(';
    for (std::size_t j = 0; j < point.size() && j < shown; ++j)
        text << (j ? ", " : "") << point[j];
    if (point.size() > shown)
        text << ", ... " << point.size() - shown << " more";
    text << ')';
    return text.str();
}

} // namespace

const unsigned int GAOptimiser::MAX_DESIGN_VARIABLES;
// A quarter of what a 32-bit process can address, 2 GiB where pointers are wider.
const std::size_t GAOptimiser::DEFAULT_MAX_RUN_MEMORY =
    sizeof(void*) >= 8 ? std::size_t(1) << 31 : std::size_t(1) << 30;

double GAOptimiser::run_memory(double population_size, double variables) {
    // Per chromosome: its vector and heap block (rounded, with the allocator's header), its
    // words again in the selection snapshot, a fitness entry, a selected index, a wheel slot.
    const double word_bytes = sizeof(unsigned int) * variables;
    const double block = 16.0 * std::ceil(word_bytes / 16.0) + 16.0;
    const double per_chromosome = sizeof(Chromosome) + block + word_bytes + sizeof(FitnessTable::value_type) +
                                  sizeof(unsigned int) + sizeof(double);
    return population_size * per_chromosome;
}

GAOptimiser::GAOptimiser()
    : population_size(50), generations(100), trials(10), selection(&roulette_wheel_selection),
      crossover(&one_point_crossover), mutation(&uniform_mutation), max_run_memory(DEFAULT_MAX_RUN_MEMORY),
      observer(nullptr) {
    roulette_wheel_selection.scale_to_max_fitness(10.0);
    one_point_crossover.rate = 1.0;
    uniform_mutation.rate = 0.03125;
}

GAOptimiser::GAOptimiser(const GAOptimiser& other)
    : ConstrainedOptimiser(other), population_size(other.population_size), generations(other.generations),
      trials(other.trials), design_variables(other.design_variables),
      roulette_wheel_selection(other.roulette_wheel_selection), one_point_crossover(other.one_point_crossover),
      uniform_mutation(other.uniform_mutation), max_run_memory(other.max_run_memory), start(other.start),
      observer(other.observer) {
    rebind_strategies(other);
}

GAOptimiser& GAOptimiser::operator=(const GAOptimiser& other) {
    if (this != &other) {
        population_size = other.population_size;
        generations = other.generations;
        trials = other.trials;
        design_variables = other.design_variables;
        roulette_wheel_selection = other.roulette_wheel_selection;
        one_point_crossover = other.one_point_crossover;
        uniform_mutation = other.uniform_mutation;
        max_run_memory = other.max_run_memory;
        start = other.start;
        observer = other.observer;
        rebind_strategies(other);
    }
    return *this;
}

void GAOptimiser::rebind_strategies(const GAOptimiser& other) {
    // A pointer at the other optimiser's own strategy means "my own strategy"; a pointer
    // at an outside strategy is shared.
    selection = other.selection == &other.roulette_wheel_selection ? &roulette_wheel_selection : other.selection;
    crossover = other.crossover == &other.one_point_crossover ? &one_point_crossover : other.crossover;
    mutation = other.mutation == &other.uniform_mutation ? &uniform_mutation : other.mutation;
}

void GAOptimiser::design_variable(const interval& x) { design_variables.push_back(x); }

void GAOptimiser::clear_design_variables() { design_variables.clear(); }

unsigned int GAOptimiser::design_variable_count() const { return static_cast<unsigned int>(design_variables.size()); }

const GAOptimiser::interval& GAOptimiser::design_variable(unsigned int index) const { return design_variables[index]; }

GAOptimiser::interval& GAOptimiser::design_variable(unsigned int index) { return design_variables[index]; }

void GAOptimiser::decode(unsigned int word, double& value, const interval& x) const {
    value = static_cast<double>(word) * upward_width(x) / 4294967295.0 + x.lower();
}

void GAOptimiser::code(double value, const interval& x, unsigned int& word) const {
    const double width = upward_width(x);
    // The one value of a degenerate interval would be 0 / 0; any word decodes back to it.
    if (width == 0.0 && value == x.lower()) {
        word = 0;
        return;
    }
    word = truncate_to_unsigned((value - x.lower()) * 4294967295.0 / width);
}

void GAOptimiser::decode(const Chromosome& c, std::vector<double>& point) const {
    for (std::size_t j = 0; j < c.words.size(); ++j)
        decode(c.words[j], point[j], design_variables[j]);
}

void GAOptimiser::code(const std::vector<double>& point, Chromosome& c) const {
    for (std::size_t j = 0; j < point.size(); ++j)
        code(point[j], design_variables[j], c.words[j]);
}

unsigned int GAOptimiser::evaluate(const Population& population, const Objective& f, FitnessTable& fitness) const {
    std::vector<double> point(design_variable_count(), 0.0);
    double best_value = lowest_value;
    unsigned int best_position = 0;
    for (unsigned int i = 0; i < population.size(); ++i) {
        decode(population[i], point);
        const double y = f(point);
        fitness[i] = std::make_pair(i, y);
        if (y > best_value) {
            best_value = y;
            best_position = i;
        }
    }
    return best_position;
}

void GAOptimiser::print(const Population& population, const FitnessTable& fitness) const {
    std::vector<double> point(design_variable_count(), 0.0);
    double sum = 0.0;
    for (std::size_t i = 0; i < population.size(); ++i) {
        const Chromosome& c = population[i];
        std::cout << '#' << i << '\t';
        for (unsigned int b = 0; b < c.length(); ++b)
            std::cout << c[b];
        std::cout << '\t';
        decode(c, point);
        for (std::size_t j = 0; j < c.words.size(); ++j)
            std::cout << point[j] << ' ';
        std::cout << '\t' << "fitness:" << fitness[i].second << '\n';
        sum += fitness[i].second;
    }
    std::cout << "Average Fitness:" << sum / static_cast<double>(fitness.size()) << '\n';
}

void GAOptimiser::generation(Population& population, const Objective& f, FitnessTable& fitness,
                             std::vector<unsigned int>& selected, int g, UniformSource& source, Chromosome& best,
                             double& best_value) const {
    const unsigned int i = evaluate(population, f, fitness);
    // The wheel needs finite values; rather than guess what an infinity or a NaN should be
    // worth, stop the run and say where it came from.
    for (std::size_t k = 0; k < population.size(); ++k) {
        const double y = fitness[k].second;
        if (!std::isfinite(y)) {
            std::vector<double> point(design_variable_count(), 0.0);
            decode(population[fitness[k].first], point);
            std::ostringstream message;
            message << "The objective function returned "
                    << (std::isnan(y) ? "NaN (not a number)" : "an infinite value") << " at the point "
                    << format_point(point) << "; the optimiser needs a finite value at every point of the box";
            throw optimiser_error(message.str());
        }
    }
    if (fitness[i].second > best_value) {
        best_value = fitness[i].second;
        best = population[fitness[i].first];
    }
    selection->select(fitness, selected, g, source);
    population.auto_select(selected);
    cross(population, g, source);
    mutate(population, g, source);
}

boost::mt19937 GAOptimiser::spawn_run_engine(const boost::mt19937& parent) {
    // Constructing or seeding one Boost engine from another is not portable across Boost
    // versions (1.74 copies), and seed(first, last) rewrites word 0. The text form is
    // exact: the 624 state words, then the position, which is the end of the block.
    boost::mt19937 copy(parent);
    std::ostringstream text;
    for (int j = 0; j < 624; ++j)
        text << copy() << ' ';
    text << 624;
    boost::mt19937 run;
    std::istringstream in(text.str());
    in >> run;
    OMBRIX_CHECK(!in.fail());
    return run;
}

// Everything a run needs before its first draw. The checks do not depend on generations or
// trials, so settings that cannot run are refused even when those are 0 and no generation
// would have been reached.
void GAOptimiser::refuse_invalid_settings() const {
    std::ostringstream message;
    if (selection == nullptr || crossover == nullptr || mutation == nullptr) {
        message << "The optimiser has no "
                << (selection == nullptr   ? "selection"
                    : crossover == nullptr ? "crossover"
                                           : "mutation")
                << " strategy";
    } else if (population_size < 2 || population_size % 2 != 0) {
        // Crossing pairs neighbours, so the population must split into pairs.
        message << "The population size must be an even number of at least 2, not " << population_size;
    } else if (design_variables.empty()) {
        message << "There are no design variables: the optimiser needs at least one variable "
                   "to search";
    } else if (design_variables.size() > MAX_DESIGN_VARIABLES) {
        message << "Too many design variables (" << design_variables.size() << "); at most " << MAX_DESIGN_VARIABLES
                << " fit in a chromosome";
    } else if (run_memory(population_size, double(design_variables.size())) > double(max_run_memory)) {
        const double mib = 1024.0 * 1024.0;
        message << "A population of " << population_size << " with " << design_variables.size()
                << " variables would need about "
                << static_cast<unsigned long long>(
                       std::ceil(run_memory(population_size, double(design_variables.size())) / mib))
                << " MiB of memory, more than the " << static_cast<unsigned long long>(double(max_run_memory) / mib)
                << " MiB a run may take; choose a smaller population";
    } else if (!start.empty() && start.size() != design_variables.size()) {
        message << "The start point has " << start.size() << " values for " << design_variables.size() << " variables";
    } else {
        for (std::size_t j = 0; j < start.size(); ++j)
            if (!std::isfinite(start[j])) {
                message << "The start point's value " << j + 1 << " is not a finite number";
                break;
            }
        for (std::size_t j = 0; j < design_variables.size() && message.str().empty(); ++j) {
            const interval& x = design_variables[j];
            if (!std::isfinite(upward_width(x))) {
                message << "Design variable " << j + 1 << " has the range [" << x.lower() << ", " << x.upper()
                        << "], which is too wide to search: its width is not a "
                        << "finite number";
                break;
            }
        }
    }
    if (!message.str().empty())
        throw optimiser_error(message.str());
}

std::vector<double> GAOptimiser::maximise(const Objective& f, boost::mt19937& engine) {
    refuse_invalid_settings();

    const unsigned int m = design_variable_count();
    UniformSource source(spawn_run_engine(engine));
    Population population(population_size, m);
    population.randomise(source);
    if (!start.empty()) {
        std::vector<double> x(start);
        for (std::size_t j = 0; j < x.size(); ++j)
            x[j] = std::min(std::max(x[j], design_variables[j].lower()), design_variables[j].upper());
        code(x, population[0]);
    }

    double best_value = lowest_value;
    Chromosome best(m);
    FitnessTable fitness(population_size, std::make_pair(0u, 0.0));
    std::vector<unsigned int> selected(population_size, 0u);

    // The population carries over from trial to trial; only the generation number restarts.
    Progress progress = {0, 0, trials, generations, 0, lowest_value};
    bool stopped = false;
    for (unsigned int t = 0; t < trials && !stopped; ++t) {
        for (unsigned int g = 0; g < generations; ++g) {
            if (observer != nullptr) {
                progress.trial = t;
                progress.generation = g;
                progress.best_value = best_value;
                if (!observer->proceed(progress)) {
                    stopped = true;
                    break;
                }
            }
            generation(population, f, fitness, selected, static_cast<int>(g), source, best, best_value);
            ++progress.done;
        }
    }

    std::vector<double> result(m, 0.0);
    decode(best, result);
    engine = source.base();
    return result;
}

std::vector<double> GAOptimiser::minimise(const Objective& f, boost::mt19937& engine) {
    const NegativeObjectiveFunction negative(f);
    return maximise(negative, engine);
}

} // namespace opt
} // namespace math
