#include "RunControl.hpp"

#include <unistd.h>

#include <csignal>

namespace app {

namespace {

volatile std::sig_atomic_t interrupts = 0;
void (*previous_handler)(int) = SIG_DFL;

extern "C" void on_interrupt(int) {
    if (interrupts != 0) {
        static const char message[] = "\nombrix: stopped at once; nothing was saved\n";
        (void)!write(2, message, sizeof message - 1);
        _exit(130);
    }
    interrupts = 1;
    static const char message[] = "\nombrix: stopping; the best point so far will be kept and saved "
                                  "(Ctrl-C again to quit at once, saving nothing)\n";
    (void)!write(2, message, sizeof message - 1);
}

} // namespace

const char* run_end_name(RunEnd end) {
    switch (end) {
    case RunEnd::completed: break;
    case RunEnd::interrupted: return "interrupted";
    case RunEnd::time_limit: return "time-limit";
    }
    return "completed";
}

RunControl::RunControl(std::optional<double> time_limit_seconds) {
    if (time_limit_seconds)
        limit_ = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::chrono::duration<double>(*time_limit_seconds));
}

void RunControl::attach(host::api::Host& host) {
    host.set_break_source([this] { return poll(); });
}

void RunControl::start() {
    if (started_)
        return;
    started_ = std::chrono::steady_clock::now();
    interrupts = 0;
    previous_handler = std::signal(SIGINT, on_interrupt);
    catching_ = true;
}

void RunControl::finish() {
    if (started_ && !finished_)
        finished_ = std::chrono::steady_clock::now();
    if (catching_) {
        std::signal(SIGINT, previous_handler == SIG_ERR ? SIG_DFL : previous_handler);
        catching_ = false;
    }
}

double RunControl::seconds() const {
    if (!started_)
        return 0;
    auto end = finished_ ? *finished_ : std::chrono::steady_clock::now();
    return std::chrono::duration<double>(end - *started_).count();
}

// One break per run: the add-in keeps it pending until it stops.
bool RunControl::poll() {
    if (delivered_ || !started_ || finished_)
        return false;
    if (interrupts != 0)
        end_ = RunEnd::interrupted;
    else if (limit_ && std::chrono::steady_clock::now() - *started_ >= *limit_)
        end_ = RunEnd::time_limit;
    else
        return false;
    delivered_ = true;
    return true;
}

} // namespace app
