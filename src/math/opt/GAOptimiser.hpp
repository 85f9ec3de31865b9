#ifndef OMBRIX_MATH_OPT_GAOPTIMISER_HPP
#define OMBRIX_MATH_OPT_GAOPTIMISER_HPP

#include "math/opt/Coding.hpp"
#include "math/opt/ConstrainedOptimiser.hpp"
#include "math/opt/Evaluation.hpp"

#include <boost/numeric/conversion/converter_policies.hpp>
#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_01.hpp>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace math {
namespace opt {

// A bit-string genetic algorithm over a box of intervals. Every variable is one 32-bit word
// of the chromosome, a fixed-point fraction of its interval. Each generation is evaluate,
// roulette-wheel selection, one-point crossover of neighbouring pairs, per-bit mutation.
//
// All randomness comes from one uniform source, one engine output per draw, in a fixed
// order, so a run is a pure function of the settings, the box, the objective and the
// caller's engine state.
class GAOptimiser : public ConstrainedOptimiser {
public:
    // One draw is the engine's next output k as k * 2^-32.
    typedef boost::uniform_01<boost::mt19937, double> UniformSource;
    // (chromosome index, objective value), one entry per chromosome.
    typedef std::vector<std::pair<unsigned int, double>> FitnessTable;

    // A bit string packed into 32-bit words. Bit i is in word i / 32 at position
    // 31 - i % 32: bit 0 is the most significant bit of word 0.
    class Chromosome {
    public:
        static const unsigned int BITS_PER_WORD = 32;

        explicit Chromosome(unsigned int word_count) : words(word_count, 0u) {}

        unsigned int length() const { return static_cast<unsigned int>(words.size()) * BITS_PER_WORD; }
        unsigned int operator[](unsigned int i) const { return (words[i >> 5] >> (31 - (i & 31))) & 1u; }
        void flip(unsigned int i) { words[i >> 5] ^= 1u << (31 - (i & 31)); }

        // Exchanges between a and b the bits that mask selects.
        static void cross_word(unsigned int& a, unsigned int& b, unsigned int mask) {
            const unsigned int old_a = a;
            a = (a & ~mask) | (b & mask);
            b = (b & ~mask) | (old_a & mask);
        }
        // Exchanges bits k to length() - 1 with other; other has at least as many words and
        // k < length().
        void cross(Chromosome& other, unsigned int k);
        // One draw per word, word 0 first: the word is the draw times 2^32 - 1, truncated.
        void randomise(UniformSource& source);

        std::vector<unsigned int> words;
    };

    class Population : public std::vector<Chromosome> {
    public:
        Population(unsigned int size, unsigned int word_count)
            : std::vector<Chromosome>(size, Chromosome(word_count)) {}

        void randomise(UniformSource& source);
        // Replaces the population by copies of the chromosomes at the listed indices.
        void auto_select(const std::vector<unsigned int>& indices);
    };

    class SelectionStrategy {
    public:
        // Fills every element of selected with a position in the fitness table.
        virtual void select(const FitnessTable& fitness, std::vector<unsigned int>& selected, int generation,
                            UniformSource& source) const = 0;

    protected:
        SelectionStrategy() = default;
        SelectionStrategy(const SelectionStrategy&) = default;
        SelectionStrategy& operator=(const SelectionStrategy&) = default;
        ~SelectionStrategy() = default;
    };

    // Fitness-proportional sampling with replacement on a linearly rescaled wheel.
    class RouletteWheelSelection : public SelectionStrategy {
    public:
        enum { normal = 0, shifted = 1, scaled = 2 };

        RouletteWheelSelection() : mode(scaled), factor(10.0) {}

        void select(const FitnessTable& fitness, std::vector<unsigned int>& selected, int generation,
                    UniformSource& source) const override;

        static void calculate_stats(const FitnessTable& fitness, double& sum, double& min, double& max);
        double calculate_alpha(double average, double min, double max) const;
        // Refuses a factor not above 1 with usr::Exception.
        void scale_to_max_fitness(double factor);
        static void make_wheel_scaled(const FitnessTable& fitness, double average, double alpha,
                                      std::vector<double>& wheel);
        static void make_wheel_shifted(const FitnessTable& fitness, double shift, double sum,
                                       std::vector<double>& wheel);
        void sample_selection(const std::vector<double>& wheel, std::vector<unsigned int>& selected, int generation,
                              UniformSource& source) const;

        int mode;
        // For scaled: the largest weight a chromosome may get; the average gets 1.
        double factor;
    };

    class CrossoverStrategy {
    public:
        virtual void cross(Chromosome& p1, Chromosome& p2, int generation, UniformSource& source) const = 0;

    protected:
        CrossoverStrategy() = default;
        CrossoverStrategy(const CrossoverStrategy&) = default;
        CrossoverStrategy& operator=(const CrossoverStrategy&) = default;
        ~CrossoverStrategy() = default;
    };

    class OnePointCrossover : public CrossoverStrategy {
    public:
        OnePointCrossover() : rate(1.0) {}
        void cross(Chromosome& p1, Chromosome& p2, int generation, UniformSource& source) const override;

        // Probability that a pair is crossed.
        double rate;
    };

    class MutationStrategy {
    public:
        virtual void mutate(Chromosome& c, int generation, UniformSource& source) const = 0;

    protected:
        MutationStrategy() = default;
        MutationStrategy(const MutationStrategy&) = default;
        MutationStrategy& operator=(const MutationStrategy&) = default;
        ~MutationStrategy() = default;
    };

    class UniformMutation : public MutationStrategy {
    public:
        UniformMutation() : rate(0.03125) {}
        void mutate(Chromosome& c, int generation, UniformSource& source) const override;

        // Probability that a single bit flips.
        double rate;
    };

    // Where a run stands between two generations.
    struct Progress {
        unsigned int trial;      // of the next generation, from 0
        unsigned int generation; // the next generation within its trial, from 0
        unsigned int trials;
        unsigned int generations; // per trial
        unsigned long long done;  // generations run so far, over all trials
        double best_value;        // the best evaluated so far; only meaningful once done > 0
        // How far that best lies outside the constraints (0 within them, and always 0 for a run
        // without constraints).
        double best_violation = 0.0;
    };

    // Asked before every generation whether the run goes on. It sees the run but draws
    // nothing, so a run it lets finish is the same, bit for bit, as a run without it. A run
    // it stops returns the best point evaluated so far (the lower bounds if none was) and
    // leaves the engine advanced to where the run stopped.
    class RunObserver {
    public:
        virtual bool proceed(const Progress& progress) = 0;

    protected:
        RunObserver() = default;
        RunObserver(const RunObserver&) = default;
        RunObserver& operator=(const RunObserver&) = default;
        ~RunObserver() = default;
    };

    GAOptimiser();
    // Copies keep their strategy pointers on their own embedded strategies.
    GAOptimiser(const GAOptimiser& other);
    GAOptimiser& operator=(const GAOptimiser& other);
    ~GAOptimiser() = default;

    void design_variable(const interval& x) override;
    void clear_design_variables() override;
    unsigned int design_variable_count() const override;
    const interval& design_variable(unsigned int index) const override;
    interval& design_variable(unsigned int index) override;

    // Runs trials x generations generations and returns the best evaluated point. Settings
    // that cannot make a run are refused with usr::Exception before the engine is touched;
    // the caller's engine takes the run engine's state only when the run succeeds.
    std::vector<double> maximise(const Objective& f, boost::mt19937& engine) override;
    std::vector<double> minimise(const Objective& f, boost::mt19937& engine) override;

    // The same run for a model with constraints: candidates are compared with better(), and
    // the wheel sees a fitness that keeps that order (Deb's rule: a point outside the
    // constraints is worth the generation's worst value within them less its violation). A
    // model whose violations are all 0 runs exactly as maximise of its values.
    // best, when given, receives the returned point's evaluation (infinite violation when
    // nothing was evaluated).
    std::vector<double> maximise(const ConstrainedObjective& f, boost::mt19937& engine, Evaluation* best = nullptr);
    std::vector<double> minimise(const ConstrainedObjective& f, boost::mt19937& engine, Evaluation* best = nullptr);
    // After the generations of a constrained run, a compass search from the best point (each
    // continuous variable up and down, and with few of them pairs moved in opposite
    // directions, which keeps their sum: the way along an equality), accepting a move only
    // when better() says so and halving the step when none is. The generations land near a
    // constraint; this lands on it. The observer is
    // asked before each round of moves. Budget: polish_evaluations.
    std::vector<double> polish(const ConstrainedObjective& f, std::vector<double> x, Evaluation& e) const;

    // The wheel's fitness of each evaluation, by the rule above.
    static void feasibility_fitness(const std::vector<Evaluation>& evaluations, FitnessTable& fitness);

    // Fills the fitness table and returns the position of the best entry (the first on a
    // tie; 0 when no value beats the most negative finite double).
    unsigned int evaluate(const Population& population, const Objective& f, FitnessTable& fitness) const;
    void print(const Population& population, const FitnessTable& fitness) const;
    void cross(Population& population, int generation, UniformSource& source) const;
    void mutate(Population& population, int generation, UniformSource& source) const;

    void decode(unsigned int word, double& value, const interval& x) const;
    // Throws boost::numeric::negative_overflow / positive_overflow for a value a level or
    // more outside the interval, and bad_numeric_cast for a NaN value.
    void code(double value, const interval& x, unsigned int& word) const;
    void decode(const Chromosome& c, std::vector<double>& point) const;
    void code(const std::vector<double>& point, Chromosome& c) const;
    // Element j of point from word j under coding (the plain fixed-point coding when it is
    // plain); point has at least words.size() elements.
    void decode_words(const std::vector<unsigned int>& words, std::vector<double>& point) const;

    // One generation of a run: evaluate, remember the best, select, cross, mutate. Refuses
    // an objective value that is not finite with usr::Exception.
    void generation(Population& population, const Objective& f, FitnessTable& fitness,
                    std::vector<unsigned int>& selected, int g, UniformSource& source, Chromosome& best,
                    double& best_value) const;

    // The engine a run draws from: state words 0..623 are the next 624 outputs of a copy of
    // parent, in draw order, and its first output comes after a full regeneration.
    static boost::mt19937 spawn_run_engine(const boost::mt19937& parent);

    // Most variables a chromosome can hold with its bit length in an unsigned int.
    static const unsigned int MAX_DESIGN_VARIABLES = 0xFFFFFFFFu / Chromosome::BITS_PER_WORD;

    // Bytes of working memory a run of population_size chromosomes of `variables` words
    // needs, about: the population, its selection snapshot, the fitness table and the wheel.
    static double run_memory(double population_size, double variables);
    // Most working memory a run may take; a larger population is refused before anything is
    // allocated rather than left to exhaust the machine.
    static const std::size_t DEFAULT_MAX_RUN_MEMORY;

    unsigned int population_size;
    unsigned int generations;
    unsigned int trials;
    // Evaluations of the compass search after a constrained run; 0: none.
    unsigned int polish_evaluations = 0;
    std::vector<interval> design_variables;
    // Whole-number and permutation variables; plain by default.
    Coding coding;
    const SelectionStrategy* selection;
    const CrossoverStrategy* crossover;
    const MutationStrategy* mutation;
    RouletteWheelSelection roulette_wheel_selection;
    OnePointCrossover one_point_crossover;
    UniformMutation uniform_mutation;
    std::size_t max_run_memory;
    // A point coded into the first chromosome after the population is randomised (each value
    // moved into its interval; in a constrained run also put through the coding's repair());
    // empty, the default: the population is all random.
    std::vector<double> start;
    // Not owned; null: runs are not observed.
    RunObserver* observer;
    // Not owned; when set, each generation's chromosomes are evaluated by it in one call, in
    // population order, instead of one by one by the objective: it must give each point the
    // value the objective gives (negated when minimising). The run is then the same.
    const BatchObjective* batch = nullptr;

private:
    void refuse_invalid_settings() const;
    void breed(Population& population, const FitnessTable& fitness, std::vector<unsigned int>& selected, int g,
               UniformSource& source) const;
    void constrained_generation(Population& population, const ConstrainedObjective& f,
                                std::vector<Evaluation>& evaluations, FitnessTable& fitness,
                                std::vector<unsigned int>& selected, int g, UniformSource& source, Chromosome& best,
                                Evaluation& best_evaluation) const;
    void rebind_strategies(const GAOptimiser& other);
};

// "(x1, x2, ...)", cut short for long points so that a message stays readable.
std::string format_point(const std::vector<double>& point);

} // namespace opt
} // namespace math

#endif
