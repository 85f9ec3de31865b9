#ifndef OMBRIX_APP_RUNCONTROL_HPP
#define OMBRIX_APP_RUNCONTROL_HPP

// The user's hold on a long command: Ctrl-C and a time limit, delivered to the add-in as a
// break, and the run's own clock.

#include "api/Host.hpp"

#include <chrono>
#include <optional>

namespace app {

enum class RunEnd { completed, interrupted, time_limit };
const char* run_end_name(RunEnd end); // "completed", "interrupted", "time-limit"

// From start() to finish(), the first Ctrl-C becomes a break for the add-in, which stops and
// keeps its best point; a second one ends the program at once (status 130) without saving.
// Once the time limit has passed since start(), the add-in is given a break as well.
class RunControl {
public:
    explicit RunControl(std::optional<double> time_limit_seconds);
    ~RunControl() { finish(); }
    RunControl(const RunControl&) = delete;
    RunControl& operator=(const RunControl&) = delete;

    // The host asks this control for breaks.
    void attach(host::api::Host& host);
    // The run begins (after the dialog): the clock starts and Ctrl-C is caught.
    void start();
    // The run is over: the clock stops and Ctrl-C has its usual effect again.
    void finish();

    // Seconds from start() to finish() (or to now while running); 0 if never started.
    double seconds() const;
    // Why a break was given, if one was.
    RunEnd end() const { return end_; }

private:
    bool poll();

    std::optional<std::chrono::steady_clock::duration> limit_;
    std::optional<std::chrono::steady_clock::time_point> started_, finished_;
    bool catching_ = false;
    bool delivered_ = false;
    RunEnd end_ = RunEnd::completed;
};

} // namespace app

#endif
