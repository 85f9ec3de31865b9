#include "math/opt/Search.hpp"

#include "math/opt/SearchRun.hpp"
#include "math/opt/Strategies.hpp"
#include "usr/Exception.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

namespace math {
namespace opt {

namespace {

usr::Exception search_error(const std::string& message) { return usr::Exception("Search", message, usr::Exception()); }

struct Named {
    Strategy strategy;
    const char* name;
};
const Named names[] = {{Strategy::classic, "classic"},
                       {Strategy::real, "real"},
                       {Strategy::differential, "de"},
                       {Strategy::shade, "shade"}};

// The classic run's observer with the stop rule in front: it sees the best after every
// generation and draws nothing, so a run it lets go on is unchanged. before: the best before
// the first generation (a constrained run's lies infinitely outside the constraints).
class StoppingObserver : public GAOptimiser::RunObserver {
public:
    StoppingObserver(GAOptimiser::RunObserver* inner, const SearchSettings& settings, const Evaluation& before)
        : inner_(inner), rule_(settings), last_best_(before) {}

    bool proceed(const GAOptimiser::Progress& progress) override {
        if (progress.done > 0) {
            const Evaluation now = {progress.best_value, progress.best_violation};
            const bool improved = better(now, last_best_);
            last_best_ = now;
            if (rule_.after_generation(now, improved))
                return false;
        }
        return inner_ == nullptr || inner_->proceed(progress);
    }

private:
    GAOptimiser::RunObserver* inner_;
    StopRule rule_;
    Evaluation last_best_;
};

// Runs ga with the stop rule watching and the start point of settings, then puts ga's own
// observer and start point back.
template <typename Run>
std::vector<double> classic_run(GAOptimiser& ga, const SearchSettings& settings, const Evaluation& before, Run run) {
    if (!settings.start.empty() && settings.start.size() != ga.design_variable_count())
        throw search_error("The start point has " + std::to_string(settings.start.size()) + " values for " +
                           std::to_string(ga.design_variable_count()) + " variables");
    StoppingObserver stopping(ga.observer, settings, before);
    GAOptimiser::RunObserver* const observer = ga.observer;
    const std::vector<double> start = ga.start;
    if (StopRule(settings).active())
        ga.observer = &stopping;
    ga.start = settings.start;
    try {
        std::vector<double> result = run();
        ga.observer = observer;
        ga.start = start;
        return result;
    } catch (...) {
        ga.observer = observer;
        ga.start = start;
        throw;
    }
}

} // namespace

const char* strategy_name(Strategy s) {
    for (const Named& n : names)
        if (n.strategy == s)
            return n.name;
    return "classic";
}

bool strategy_from_name(const std::string& name, Strategy& s) {
    std::string folded = name;
    for (char& c : folded)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    for (const Named& n : names)
        if (folded == n.name) {
            s = n.strategy;
            return true;
        }
    return false;
}

std::vector<Strategy> all_strategies() {
    std::vector<Strategy> all;
    for (const Named& n : names)
        all.push_back(n.strategy);
    return all;
}

void SerialObjective::evaluate_all(const std::vector<std::vector<double>>& points,
                                   std::vector<Evaluation>& results) const {
    results.resize(points.size());
    for (std::size_t i = 0; i < points.size(); ++i)
        results[i] = Evaluation{f(points[i]), 0.0};
}

void SerialConstrainedObjective::evaluate_all(const std::vector<std::vector<double>>& points,
                                              std::vector<Evaluation>& results) const {
    results.resize(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) {
        results[i] = f.evaluate(points[i]);
        if (minimise)
            results[i].value = -results[i].value;
    }
}

StopRule::StopRule(const SearchSettings& settings)
    : stop_after_(settings.stop_after), has_target_(settings.has_target), target_(settings.target) {}

bool StopRule::after_generation(const Evaluation& best, bool improved) {
    stale_ = improved ? 0 : stale_ + 1;
    if (stop_after_ > 0 && stale_ >= stop_after_)
        return true;
    return has_target_ && best.violation <= 0.0 && best.value >= target_;
}

SearchRun::SearchRun(const GAOptimiser& ga, const SearchSettings& settings, const BatchObjective& f,
                     const boost::mt19937& engine)
    : box_(ga.design_variables), coding_(ga.coding), population_(ga.population_size), generations_(ga.generations),
      trials_(ga.trials), observer_(ga.observer), f_(f), source_(boost::mt19937()), rule_(settings),
      start_(settings.start) {
    std::ostringstream message;
    const unsigned int least =
        settings.strategy == Strategy::differential || settings.strategy == Strategy::shade ? 4 : 2;
    if (population_ < least) {
        message << "The " << strategy_name(settings.strategy) << " strategy needs a population of at least " << least
                << ", not " << population_;
    } else if (box_.empty()) {
        message << "There are no design variables: the optimiser needs at least one variable to search";
    } else if (!start_.empty() && start_.size() != box_.size()) {
        message << "The start point has " << start_.size() << " values for " << box_.size() << " variables";
    } else if (double(population_) * (4.0 * double(box_.size()) * sizeof(double) + 128.0) > double(ga.max_run_memory)) {
        message << "A population of " << population_ << " with " << box_.size()
                << " variables needs more memory than a run may take; choose a smaller population";
    } else if (!coding_.refusal(box_).empty()) {
        message << coding_.refusal(box_);
    } else {
        for (std::size_t j = 0; j < box_.size() && message.str().empty(); ++j)
            if (!std::isfinite(upward_width(box_[j])))
                message << "Design variable " << j + 1 << " has the range [" << box_[j].lower() << ", "
                        << box_[j].upper() << "], which is too wide to search: its width is not a finite number";
        for (std::size_t j = 0; j < start_.size() && message.str().empty(); ++j)
            if (!std::isfinite(start_[j]))
                message << "The start point's value " << j + 1 << " is not a finite number";
    }
    if (!message.str().empty())
        throw search_error(message.str());
    source_ = GAOptimiser::UniformSource(GAOptimiser::spawn_run_engine(engine));
    clamp(start_);
    best_point_.assign(box_.size(), 0.0);
    for (std::size_t j = 0; j < box_.size(); ++j)
        best_point_[j] = box_[j].lower();
    repair(best_point_);
}

void SearchRun::random_point(std::vector<double>& x) {
    x.resize(box_.size());
    for (std::size_t j = 0; j < box_.size(); ++j) {
        if (coding_.kind(static_cast<unsigned int>(j)) == VariableKind::integer) {
            // Each whole number of the interval as likely as the others: rounding a uniform
            // value would give the two end values half the chance.
            double lowest;
            unsigned long long count;
            Coding::whole_numbers(box_[j], lowest, count);
            x[j] = lowest + std::floor(draw() * static_cast<double>(count));
        } else {
            x[j] = box_[j].lower() + draw() * (box_[j].upper() - box_[j].lower());
        }
    }
    clamp(x);
}

void SearchRun::repair(std::vector<double>& x) const {
    clamp(x);
    if (!coding_.plain())
        coding_.repair(box_, x);
}

Evaluation SearchRun::best() const {
    return have_best_ ? best_
                      : Evaluation{-std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity()};
}

void SearchRun::clamp(std::vector<double>& x) const {
    // Written so that a NaN (a step that overflowed in a box near the largest doubles) goes to
    // the lower bound rather than into the model.
    for (std::size_t j = 0; j < x.size() && j < box_.size(); ++j) {
        if (!(x[j] >= box_[j].lower()))
            x[j] = box_[j].lower();
        else if (x[j] > box_[j].upper())
            x[j] = box_[j].upper();
    }
}

bool SearchRun::next_generation() {
    const unsigned long long total = static_cast<unsigned long long>(generations_) * trials_;
    if (stopped_ || done_ >= total)
        return false;
    if (observer_ != nullptr) {
        GAOptimiser::Progress progress = {static_cast<unsigned int>(done_ / generations_),
                                          static_cast<unsigned int>(done_ % generations_),
                                          trials_,
                                          generations_,
                                          done_,
                                          have_best_ ? best_.value : -std::numeric_limits<double>::max(),
                                          have_best_ ? best_.violation : std::numeric_limits<double>::infinity()};
        if (!observer_->proceed(progress)) {
            stopped_ = true;
            return false;
        }
    }
    return true;
}

void SearchRun::random_population(std::vector<std::vector<double>>& x, bool with_start) {
    for (std::vector<double>& point : x)
        random_point(point);
    if (with_start && !start_.empty())
        x[0] = start_;
}

void SearchRun::evaluate_repaired(const std::vector<std::vector<double>>& raw, std::vector<Evaluation>& results) {
    repaired_.resize(raw.size());
    for (std::size_t i = 0; i < raw.size(); ++i) {
        repaired_[i] = raw[i];
        repair(repaired_[i]);
    }
    evaluate(repaired_, results);
}

void SearchRun::evaluate(const std::vector<std::vector<double>>& points, std::vector<Evaluation>& results) {
    f_.evaluate_all(points, results);
    bool improved = false;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const Evaluation& e = results[i];
        if (!std::isfinite(e.value) || !std::isfinite(e.violation)) {
            std::ostringstream message;
            message << "The objective function returned "
                    << (std::isnan(e.value) || std::isnan(e.violation) ? "NaN (not a number)" : "an infinite value")
                    << " at the point " << format_point(points[i])
                    << "; the optimiser needs a finite value at every point of the box";
            throw search_error(message.str());
        }
        if (!have_best_ || better(e, best_)) {
            have_best_ = true;
            improved = true;
            best_ = e;
            best_point_ = points[i];
        }
    }
    ++done_;
    if (rule_.after_generation(best_, improved))
        stopped_ = true;
}

std::vector<double> SearchRun::finish(boost::mt19937& engine) {
    engine = source_.base();
    return best_point_;
}

std::vector<double> search_maximise(const GAOptimiser& ga, const SearchSettings& settings, const BatchObjective& f,
                                    boost::mt19937& engine, SearchOutcome* outcome) {
    SearchRun run(ga, settings, f, engine);
    switch (settings.strategy) {
    case Strategy::real: run_real_coded(run); break;
    case Strategy::differential: run_differential_evolution(run); break;
    case Strategy::shade: run_shade(run); break;
    case Strategy::classic: throw search_error("The classic strategy evaluates one point at a time");
    }
    if (outcome != nullptr) {
        outcome->best = run.best();
        outcome->completed = run.completed();
    }
    return run.finish(engine);
}

std::vector<double> search_maximise(GAOptimiser& ga, const SearchSettings& settings, const Optimiser::Objective& f,
                                    boost::mt19937& engine) {
    if (settings.strategy != Strategy::classic) {
        const SerialObjective serial(f);
        return search_maximise(static_cast<const GAOptimiser&>(ga), settings, serial, engine);
    }
    // Without constraints every violation is 0; the best before the first generation is the
    // lowest value, as the run's own.
    const Evaluation before = {-std::numeric_limits<double>::max(), 0.0};
    return classic_run(ga, settings, before, [&] { return ga.maximise(f, engine); });
}

std::vector<double> search_maximise(GAOptimiser& ga, const SearchSettings& settings, const ConstrainedObjective& f,
                                    boost::mt19937& engine, Evaluation* best) {
    if (settings.strategy != Strategy::classic)
        throw search_error("Only the classic strategy runs a constrained objective one point at a time");
    const Evaluation before = {-std::numeric_limits<double>::max(), std::numeric_limits<double>::infinity()};
    return classic_run(ga, settings, before, [&] { return ga.maximise(f, engine, best); });
}

} // namespace opt
} // namespace math
