#ifndef OMBRIX_SOLVER_RUNSTATUS_HPP
#define OMBRIX_SOLVER_RUNSTATUS_HPP

#include "math/opt/GAOptimiser.hpp"

#include <chrono>
#include <string>

// Watches a run between generations: shows where it stands in the status bar, and stops it
// when the user has pressed Esc. A spreadsheet that answers either call with an error only
// loses that call: the run goes on without progress or without interruption.
class RunStatus : public math::opt::GAOptimiser::RunObserver {
public:
    // minimising: the optimiser sees negated values; the status shows the user's own.
    // interval: the least time between two status texts (the first is shown at once).
    RunStatus(bool minimising, std::chrono::steady_clock::duration interval);
    RunStatus(const RunStatus&) = delete;
    RunStatus& operator=(const RunStatus&) = delete;
    // Ends the run's display, whatever ended the run.
    ~RunStatus() { finish(); }

    bool proceed(const math::opt::GAOptimiser::Progress& progress) override;

    // Clears the status bar and the pending break of a stopped run; does nothing the second
    // time. Never throws.
    void finish();

    bool stopped() const { return stopped_; }
    // Whether any point was evaluated before the run stopped.
    bool evaluated() const { return last_.done > 0; }
    // What the alert after a stopped run says.
    std::string stop_message() const;
    // "Ombrix: trial 1 of 2, generation 37 of 100, best 2344.49"
    std::string status_text(const math::opt::GAOptimiser::Progress& progress) const;

private:
    bool minimising_;
    std::chrono::steady_clock::duration interval_;
    std::chrono::steady_clock::time_point shown_at_;
    bool abort_usable_ = true;
    bool message_usable_ = true;
    bool shown_ = false;
    bool stopped_ = false;
    bool finished_ = false;
    math::opt::GAOptimiser::Progress last_ = {0, 0, 0, 0, 0, 0.0};
};

#endif
