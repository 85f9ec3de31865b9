#include "solver/RunStatus.hpp"

#include "excel/framewrk/Framework.hpp"

#include <cstdio>

namespace {

// TRUE when the spreadsheet answers that a break is pending; false when it is not or when
// the call fails (usable is then cleared, and the run is no longer checked).
bool break_pending(bool clear, bool& usable) {
    XLOPER result;
    result.xltype = xltypeNil;
    const int code = clear ? Excel(xlAbort, &result, 1, TempBool(0)) : Excel(xlAbort, &result, 0);
    if (code != xlretSuccess || result.xltype != xltypeBool) {
        if (code == xlretSuccess)
            Excel(xlFree, nullptr, 1, &result);
        usable = false;
        return false;
    }
    return result.val.xbool != 0;
}

void show(const std::string& text, bool& usable) {
    // A counted string: the first byte is a placeholder for the length.
    char buffer[257] = " ";
    text.copy(buffer + 1, 255);
    if (Excel(xlcMessage, nullptr, 2, TempBool(1), TempStr(buffer)) != xlretSuccess)
        usable = false;
}

std::string where(const math::opt::GAOptimiser::Progress& p) {
    return "trial " + std::to_string(p.trial + 1) + " of " + std::to_string(p.trials) + ", generation " +
           std::to_string(p.generation + 1) + " of " + std::to_string(p.generations);
}

} // namespace

RunStatus::RunStatus(bool minimising, std::chrono::steady_clock::duration interval)
    : minimising_(minimising), interval_(interval) {}

std::string RunStatus::status_text(const math::opt::GAOptimiser::Progress& progress) const {
    std::string text = "Ombrix: " + where(progress);
    if (progress.done > 0) {
        char best[32];
        std::snprintf(best, sizeof best, "%g", minimising_ ? -progress.best_value : progress.best_value);
        text += std::string(", best ") + best;
    }
    return text;
}

bool RunStatus::proceed(const math::opt::GAOptimiser::Progress& progress) {
    last_ = progress;
    if (abort_usable_ && break_pending(false, abort_usable_)) {
        stopped_ = true;
        return false;
    }
    if (message_usable_) {
        const std::chrono::steady_clock::time_point now = std::chrono::steady_clock::now();
        if (!shown_ || now - shown_at_ >= interval_) {
            show(status_text(progress), message_usable_);
            shown_ = true;
            shown_at_ = now;
        }
    }
    return true;
}

void RunStatus::finish() {
    if (finished_)
        return;
    finished_ = true;
    if (shown_ && message_usable_)
        Excel(xlcMessage, nullptr, 1, TempBool(0));
    // The break that stopped this run must not stop the next command.
    if (stopped_ && abort_usable_)
        break_pending(true, abort_usable_);
}

std::string RunStatus::stop_message() const {
    if (!evaluated())
        return "The run was stopped before any point was evaluated; the variable cells keep "
               "their starting values.";
    char best[32];
    std::snprintf(best, sizeof best, "%g", minimising_ ? -last_.best_value : last_.best_value);
    return "The run was stopped at " + where(last_) + ", after " + std::to_string(last_.done) +
           (last_.done == 1 ? " generation" : " generations") + "; the best point found so far (" + best +
           ") was kept in the variable cells.";
}
