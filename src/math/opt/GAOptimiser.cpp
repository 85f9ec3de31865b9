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

// The trials of generations, the observer asked before each with the best value so far;
// whether it stopped the run.
template <typename Generation>
bool run_generations(GAOptimiser::RunObserver* observer, GAOptimiser::Progress& progress, const double& best_value,
                     const double& best_violation, Generation next) {
    for (unsigned int t = 0; t < progress.trials; ++t)
        for (unsigned int g = 0; g < progress.generations; ++g) {
            if (observer != nullptr) {
                progress.trial = t;
                progress.generation = g;
                progress.best_value = best_value;
                progress.best_violation = best_violation;
                if (!observer->proceed(progress))
                    return true;
            }
            next(g);
            ++progress.done;
        }
    return false;
}

} // namespace

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
      trials(other.trials), polish_evaluations(other.polish_evaluations), design_variables(other.design_variables),
      coding(other.coding), roulette_wheel_selection(other.roulette_wheel_selection),
      one_point_crossover(other.one_point_crossover), uniform_mutation(other.uniform_mutation),
      max_run_memory(other.max_run_memory), start(other.start), observer(other.observer), batch(other.batch) {
    rebind_strategies(other);
}

GAOptimiser& GAOptimiser::operator=(const GAOptimiser& other) {
    if (this != &other) {
        population_size = other.population_size;
        generations = other.generations;
        trials = other.trials;
        design_variables = other.design_variables;
        coding = other.coding;
        polish_evaluations = other.polish_evaluations;
        roulette_wheel_selection = other.roulette_wheel_selection;
        one_point_crossover = other.one_point_crossover;
        uniform_mutation = other.uniform_mutation;
        max_run_memory = other.max_run_memory;
        start = other.start;
        observer = other.observer;
        batch = other.batch;
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

void GAOptimiser::decode(const Chromosome& c, std::vector<double>& point) const { decode_words(c.words, point); }

void GAOptimiser::decode_words(const std::vector<unsigned int>& words, std::vector<double>& point) const {
    if (coding.plain()) {
        for (std::size_t j = 0; j < words.size(); ++j)
            decode(words[j], point[j], design_variables[j]);
        return;
    }
    for (std::size_t j = 0; j < words.size(); ++j) {
        if (coding.kind(static_cast<unsigned int>(j)) == VariableKind::integer) {
            double lowest;
            unsigned long long count;
            Coding::whole_numbers(design_variables[j], lowest, count);
            point[j] = Coding::decode_integer(words[j], lowest, count);
        } else {
            decode(words[j], point[j], design_variables[j]);
        }
    }
    coding.rank_permutations(words, point);
}

void GAOptimiser::code(const std::vector<double>& point, Chromosome& c) const {
    for (std::size_t j = 0; j < point.size(); ++j) {
        if (coding.kind(static_cast<unsigned int>(j)) == VariableKind::integer) {
            double lowest;
            unsigned long long count;
            Coding::whole_numbers(design_variables[j], lowest, count);
            c.words[j] = Coding::code_integer(point[j], lowest, count);
        } else {
            code(point[j], design_variables[j], c.words[j]);
        }
    }
    // A permutation's value v is the key of rank v.
    for (const std::vector<unsigned int>& group : coding.permutations)
        for (unsigned int j : group)
            if (j < point.size())
                c.words[j] = Coding::code_integer(point[j], 1.0, group.size());
}

unsigned int GAOptimiser::evaluate(const Population& population, const Objective& f, FitnessTable& fitness) const {
    std::vector<double> point(design_variable_count(), 0.0);
    double best_value = lowest_value;
    unsigned int best_position = 0;
    std::vector<std::vector<double>> points;
    std::vector<Evaluation> results;
    if (batch) {
        points.assign(population.size(), point);
        for (unsigned int i = 0; i < population.size(); ++i)
            decode(population[i], points[i]);
        batch->evaluate_all(points, results);
    }
    for (unsigned int i = 0; i < population.size(); ++i) {
        double y;
        if (batch) {
            y = results[i].value;
        } else {
            decode(population[i], point);
            y = f(point);
        }
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
    breed(population, fitness, selected, g, source);
}

void GAOptimiser::breed(Population& population, const FitnessTable& fitness, std::vector<unsigned int>& selected, int g,
                        UniformSource& source) const {
    selection->select(fitness, selected, g, source);
    population.auto_select(selected);
    cross(population, g, source);
    mutate(population, g, source);
}

void GAOptimiser::feasibility_fitness(const std::vector<Evaluation>& evaluations, FitnessTable& fitness) {
    // The worst value within the constraints; with none, 0, so that the wheel still prefers
    // the smaller violations.
    bool any_feasible = false;
    double worst = 0.0;
    for (const Evaluation& e : evaluations)
        if (e.violation <= 0.0 && (!any_feasible || e.value < worst)) {
            worst = e.value;
            any_feasible = true;
        }
    for (std::size_t k = 0; k < evaluations.size(); ++k) {
        const Evaluation& e = evaluations[k];
        fitness[k] = std::make_pair(static_cast<unsigned int>(k), e.violation <= 0.0 ? e.value : worst - e.violation);
    }
}

void GAOptimiser::constrained_generation(Population& population, const ConstrainedObjective& f,
                                         std::vector<Evaluation>& evaluations, FitnessTable& fitness,
                                         std::vector<unsigned int>& selected, int g, UniformSource& source,
                                         Chromosome& best, Evaluation& best_evaluation) const {
    std::vector<double> point(design_variable_count(), 0.0);
    unsigned int i = 0;
    for (unsigned int k = 0; k < population.size(); ++k) {
        decode(population[k], point);
        const Evaluation e = f.evaluate(point);
        if (!std::isfinite(e.value) || !(e.violation >= 0.0) || !std::isfinite(e.violation)) {
            std::ostringstream message;
            message << "The objective function returned "
                    << (std::isnan(e.value) || std::isnan(e.violation) ? "NaN (not a number)" : "an infinite value")
                    << (std::isfinite(e.value) ? " as the constraints' violation" : "") << " at the point "
                    << format_point(point) << "; the optimiser needs a finite value at every point of the box";
            throw optimiser_error(message.str());
        }
        evaluations[k] = e;
        if (better(e, evaluations[i]))
            i = k;
    }
    if (better(evaluations[i], best_evaluation)) {
        best_evaluation = evaluations[i];
        best = population[i];
    }
    feasibility_fitness(evaluations, fitness);
    breed(population, fitness, selected, g, source);
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
    } else if (!coding.refusal(design_variables).empty()) {
        message << coding.refusal(design_variables);
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
    const double feasible = 0.0;
    run_generations(observer, progress, best_value, feasible, [&](unsigned int g) {
        generation(population, f, fitness, selected, static_cast<int>(g), source, best, best_value);
    });

    std::vector<double> result(m, 0.0);
    decode(best, result);
    engine = source.base();
    return result;
}

std::vector<double> GAOptimiser::minimise(const Objective& f, boost::mt19937& engine) {
    const NegativeObjectiveFunction negative(f);
    return maximise(negative, engine);
}

namespace {

class NegativeConstrainedObjective : public ConstrainedObjective {
public:
    explicit NegativeConstrainedObjective(const ConstrainedObjective& objective_) : objective(objective_) {}
    Evaluation evaluate(const std::vector<double>& x) const override {
        Evaluation e = objective.evaluate(x);
        e.value = -e.value;
        return e;
    }

private:
    const ConstrainedObjective& objective;
};

} // namespace

std::vector<double> GAOptimiser::maximise(const ConstrainedObjective& f, boost::mt19937& engine, Evaluation* best_out) {
    refuse_invalid_settings();

    const unsigned int m = design_variable_count();
    UniformSource source(spawn_run_engine(engine));
    Population population(population_size, m);
    population.randomise(source);
    if (!start.empty()) {
        // As the other strategies take it: moved into the box, whole-number variables
        // rounded, permutation groups ranked.
        std::vector<double> x(start);
        for (std::size_t j = 0; j < x.size(); ++j)
            x[j] = std::min(std::max(x[j], design_variables[j].lower()), design_variables[j].upper());
        coding.repair(design_variables, x);
        code(x, population[0]);
    }

    // Worse than any evaluation: infinitely outside the constraints.
    Evaluation best_evaluation = {lowest_value, std::numeric_limits<double>::infinity()};
    Chromosome best(m);
    std::vector<Evaluation> evaluations(population_size, best_evaluation);
    FitnessTable fitness(population_size, std::make_pair(0u, 0.0));
    std::vector<unsigned int> selected(population_size, 0u);

    Progress progress = {0, 0, trials, generations, 0, lowest_value, best_evaluation.violation};
    const bool stopped =
        run_generations(observer, progress, best_evaluation.value, best_evaluation.violation, [&](unsigned int g) {
            constrained_generation(population, f, evaluations, fitness, selected, static_cast<int>(g), source, best,
                                   best_evaluation);
        });

    std::vector<double> result(m, 0.0);
    decode(best, result);
    engine = source.base();
    if (!stopped && progress.done > 0 && polish_evaluations > 0)
        result = polish(f, result, best_evaluation);
    if (best_out != nullptr)
        *best_out = best_evaluation;
    return result;
}

namespace {

// better(), with rounding noise not counted as progress: a move that only changes the last
// bits would keep the step from ever shrinking.
bool clearly_better(const Evaluation& a, const Evaluation& b) {
    if (!std::isfinite(a.value) || !std::isfinite(a.violation) || !better(a, b))
        return false;
    const bool a_feasible = a.violation <= 0.0, b_feasible = b.violation <= 0.0;
    if (a_feasible != b_feasible)
        return true;
    if (!a_feasible)
        return a.violation < b.violation * (1.0 - 1e-9);
    return a.value > b.value + 1e-13 * std::max(1.0, std::fabs(b.value));
}

} // namespace

std::vector<double> GAOptimiser::polish(const ConstrainedObjective& f, std::vector<double> x, Evaluation& e) const {
    std::vector<bool> grouped(x.size(), false);
    for (const std::vector<unsigned int>& group : coding.permutations)
        for (unsigned int j : group)
            grouped[j] = true;
    std::vector<unsigned int> free;
    for (unsigned int j = 0; j < x.size(); ++j)
        if (!grouped[j] && coding.kind(j) == VariableKind::continuous && upward_width(design_variables[j]) > 0.0)
            free.push_back(j);
    // (i, j, sign): x_i moves by sign * a and, for a pair, x_j by -sign * a. With i == none, the
    // move is a direction that keeps the sum of all free variables (an edge of "the shares sum
    // to 1" and another constraint is seldom along a pair).
    struct Move {
        unsigned int i, j;
        double sign;
        std::vector<double> direction;
    };
    std::vector<Move> moves;
    const unsigned int none = 0xFFFFFFFFu;
    for (unsigned int i : free)
        for (double sign : {1.0, -1.0})
            moves.push_back({i, none, sign, {}});
    // Whole-number variables step by one whatever the step.
    std::vector<unsigned int> whole;
    for (unsigned int j = 0; j < x.size(); ++j)
        if (!grouped[j] && coding.kind(j) == VariableKind::integer)
            whole.push_back(j);
    if (free.size() <= 12)
        for (std::size_t a = 0; a < free.size(); ++a)
            for (std::size_t b = a + 1; b < free.size(); ++b)
                for (double sign : {1.0, -1.0})
                    moves.push_back({free[a], free[b], sign, {}});
    // Directions drawn afresh each round, half of them keeping the sum of the free variables,
    // so that the search finds, in time, one close to an edge it must follow; from a generator
    // of its own with a fixed seed, so that it repeats.
    boost::mt19937 directions(5489u);
    const std::size_t first_random = moves.size();
    if (free.size() >= 2 && free.size() <= 12)
        for (std::size_t k = 0; k < 2 * free.size(); ++k)
            for (double sign : {1.0, -1.0})
                moves.push_back({none, none, sign, std::vector<double>(free.size())});
    auto draw_directions = [&]() {
        for (std::size_t k = first_random; k + 1 < moves.size(); k += 2) {
            std::vector<double>& d = moves[k].direction;
            double mean = 0.0;
            for (double& v : d) {
                v = static_cast<double>(directions()) / 4294967296.0 - 0.5;
                mean += v / static_cast<double>(free.size());
            }
            // Every other one any direction: the way along a curved limit.
            if ((k - first_random) % 4 == 2)
                mean = 0.0;
            double length = 0.0;
            for (double& v : d) {
                v -= mean;
                length = std::max(length, std::fabs(v));
            }
            for (double& v : d)
                v = length > 0.0 ? v / length : 0.0;
            moves[k + 1].direction = d;
        }
    };
    unsigned int budget = polish_evaluations;
    double step = 0.125;
    std::vector<double> y;
    Progress progress = {trials, 0, trials, generations, 0, e.value, e.violation};
    while (budget > 0 && step > 1e-15 && (!moves.empty() || !whole.empty())) {
        if (observer != nullptr) {
            progress.best_value = e.value;
            progress.best_violation = e.violation;
            if (!observer->proceed(progress))
                break;
        }
        draw_directions();
        bool moved = false;
        // One evaluation spent on y, which becomes x when clearly better.
        auto evaluate_y = [&]() {
            --budget;
            const Evaluation ey = f.evaluate(y);
            if (clearly_better(ey, e)) {
                x = y;
                e = ey;
                moved = true;
            }
        };
        for (unsigned int j : whole)
            for (double sign : {1.0, -1.0}) {
                if (budget == 0)
                    break;
                y = x;
                y[j] += sign;
                if (y[j] < design_variables[j].lower() || y[j] > design_variables[j].upper())
                    continue;
                evaluate_y();
            }
        for (const Move& move : moves) {
            if (budget == 0)
                break;
            if (move.i == none) {
                y = x;
                double least = upward_width(design_variables[free[0]]);
                for (unsigned int j : free)
                    least = std::min(least, upward_width(design_variables[j]));
                bool inside = true;
                for (std::size_t k = 0; k < free.size(); ++k) {
                    y[free[k]] += move.sign * step * least * move.direction[k];
                    inside = inside && y[free[k]] >= design_variables[free[k]].lower() &&
                             y[free[k]] <= design_variables[free[k]].upper();
                }
                if (!inside)
                    continue;
                evaluate_y();
                continue;
            }
            const Interval& xi = design_variables[move.i];
            double a = step * upward_width(xi);
            if (move.j != none)
                a = std::min(a, step * upward_width(design_variables[move.j]));
            y = x;
            y[move.i] += move.sign * a;
            if (move.j != none)
                y[move.j] -= move.sign * a;
            if (y[move.i] < xi.lower() || y[move.i] > xi.upper() ||
                (move.j != none &&
                 (y[move.j] < design_variables[move.j].lower() || y[move.j] > design_variables[move.j].upper())))
                continue;
            evaluate_y();
        }
        // A round that moved may move further: the step grows again, as after landing on an
        // equality with a small one.
        step = moved ? std::min(0.125, step * 2.0) : step / 2.0;
        // Stalled: start again from the point reached with a large step and new directions,
        // while there are evaluations left.
        if (step < 1e-12 && first_random < moves.size())
            step = 0.125;
    }
    return x;
}

std::vector<double> GAOptimiser::minimise(const ConstrainedObjective& f, boost::mt19937& engine, Evaluation* best) {
    const NegativeConstrainedObjective negative(f);
    const std::vector<double> result = maximise(negative, engine, best);
    if (best != nullptr)
        best->value = -best->value;
    return result;
}

} // namespace opt
} // namespace math
