#ifndef OMBRIX_SOLVER_ENTRY_BARRIER_HPP
#define OMBRIX_SOLVER_ENTRY_BARRIER_HPP

// The exception barriers of the exported functions: nothing may return into the
// spreadsheet as an exception, so every failure ends as one error alert.

#include "excel/Error.hpp"
#include "usr/Exception.hpp"

#include <new>

namespace entry {

// Alert type of an error alert (stop icon).
constexpr int error_alert = 3;

// Runs a command's body. A spreadsheet error value shows its text, one of the system's
// exceptions its newest message, memory exhaustion says so, anything else "Unknown exception". Returns 0 either way.
template <class Body>
int command_barrier(Body body) noexcept {
    try {
        body();
    } catch (const excel::Error& e) {
        excel::display_dialog_box(e.what(), error_alert);
    } catch (const usr::Exception& e) {
        excel::display_dialog_box(e.what(), error_alert);
    } catch (const std::bad_alloc&) {
        excel::display_dialog_box("Not enough memory to finish the command", error_alert);
    } catch (...) {
        excel::display_dialog_box("Unknown exception", error_alert);
    }
    return 0;
}

// Runs the opening sequence. The add-in counts as opened even when registration failed
// part-way, so the result is 1 either way.
template <class Body>
int open_barrier(Body body) noexcept {
    try {
        body();
    } catch (const usr::Exception& e) {
        excel::display_dialog_box(e.what(), error_alert);
    } catch (...) {
        excel::display_dialog_box("Caught unknown exception", error_alert);
    }
    return 1;
}

} // namespace entry

#endif
