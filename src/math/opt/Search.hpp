#ifndef OMBRIX_MATH_OPT_SEARCH_HPP
#define OMBRIX_MATH_OPT_SEARCH_HPP

// Search strategies beside the bit-string genetic algorithm, and what every strategy shares:
// how a whole generation is evaluated, when a run stops early, where it may start.
//
// Each strategy draws from one uniform source (the same 32-bit draws as the classic run) and
// uses only the basic IEEE operations and square roots, so a run is the same bit for bit on
// every platform.

#include "math/opt/Evaluation.hpp"
#include "math/opt/GAOptimiser.hpp"

#include <boost/random/mersenne_twister.hpp>

#include <string>
#include <vector>

namespace math {
namespace opt {

enum class Strategy {
    classic,      // GAOptimiser as it is: roulette wheel, one-point crossover, bit flips
    real,         // real-coded genetic algorithm: tournaments, simulated binary crossover,
                  // polynomial mutation, the best kept from one generation to the next
    differential, // self-adaptive differential evolution (jDE) that restarts when it converges
    shade         // success-history adaptive differential evolution (SHADE), restarting likewise
};

// "classic", "real", "de".
const char* strategy_name(Strategy s);
// The strategy of that name (any case); false when there is none.
bool strategy_from_name(const std::string& name, Strategy& s);
// Every strategy, in the order of the Strategy enumeration.
std::vector<Strategy> all_strategies();

// What a run does besides its population, generations and trials.
struct SearchSettings {
    Strategy strategy = Strategy::classic;
    // Stop after this many generations in a row without a better point; 0: never.
    unsigned int stop_after = 0;
    // Stop as soon as a point within the constraints reaches this value (maximising).
    bool has_target = false;
    double target = 0.0;
    // A point put into the first population (clamped to the box); empty: none.
    std::vector<double> start;

    // Whether a classic run with these settings is GAOptimiser's run unchanged.
    bool plain() const { return strategy == Strategy::classic && stop_after == 0 && !has_target && start.empty(); }
};

// A plain objective evaluated one point after another, with no constraints.
class SerialObjective : public BatchObjective {
public:
    explicit SerialObjective(const Optimiser::Objective& f_) : f(f_) {}
    void evaluate_all(const std::vector<std::vector<double>>& points, std::vector<Evaluation>& results) const override;

    const Optimiser::Objective& f;
};

// A model with constraints evaluated one point after another; when minimising, the values
// are negated (the violations are not).
class SerialConstrainedObjective : public BatchObjective {
public:
    SerialConstrainedObjective(const ConstrainedObjective& f_, bool minimise_) : f(f_), minimise(minimise_) {}
    void evaluate_all(const std::vector<std::vector<double>>& points, std::vector<Evaluation>& results) const override;

    const ConstrainedObjective& f;
    bool minimise;
};

// Early stops: after stop_after generations without a better best, or once the best meets the
// target. Sees one generation's best at a time.
class StopRule {
public:
    explicit StopRule(const SearchSettings& settings);
    // Records the best after a generation (improved: it beat the best before); true when the
    // run should end here.
    bool after_generation(const Evaluation& best, bool improved);
    bool active() const { return stop_after_ > 0 || has_target_; }

private:
    unsigned int stop_after_;
    bool has_target_;
    double target_;
    unsigned int stale_ = 0;
};

// How a run of search_maximise over a batch objective ended: its best evaluation (infinitely
// outside the constraints when nothing was evaluated) and whether it went through all its
// generations (neither an early stop nor the observer ended it).
struct SearchOutcome {
    Evaluation best = {0.0, 0.0};
    bool completed = false;
};

// Runs the chosen strategy with the population size, generations, trials, box and observer of
// ga and returns the best point (maximising f). Every strategy makes population_size x
// generations x trials evaluations unless stopped early. The classic strategy is ga's own
// run, the same bit for bit when settings.plain(); a start point then replaces the first
// chromosome and the stop rule is checked between generations. Bad settings are refused with
// usr::Exception before anything is evaluated; the engine is advanced only by a run that ends.
std::vector<double> search_maximise(GAOptimiser& ga, const SearchSettings& settings, const Optimiser::Objective& f,
                                    boost::mt19937& engine);
// The classic run of a model with constraints (ga.maximise of f, best as there), with the
// early stops and start point of settings: the stop rule sees the generations' best as
// better() ranks it, so a target is met only within the constraints; the start point is moved
// into the box and repaired by ga's coding before it replaces the first chromosome. An early
// stop skips the local search after the generations. The same bit for bit as ga.maximise when
// settings.plain(). Refuses any other strategy.
std::vector<double> search_maximise(GAOptimiser& ga, const SearchSettings& settings, const ConstrainedObjective& f,
                                    boost::mt19937& engine, Evaluation* best = nullptr);
// The same over a batch objective (used by every strategy but classic, which needs a plain or
// constrained objective evaluated one point at a time). ga's coding applies: whole-number
// variables are drawn evenly and rounded, permutation groups ranked, before each evaluation.
std::vector<double> search_maximise(const GAOptimiser& ga, const SearchSettings& settings, const BatchObjective& f,
                                    boost::mt19937& engine, SearchOutcome* outcome = nullptr);

} // namespace opt
} // namespace math

#endif
