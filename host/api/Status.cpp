// The status bar and the break flag: what a long command shows while it runs, and how the
// user stops it.
#include "api/Dispatch.hpp"

namespace host::api {

using namespace detail;

void Host::show_status(std::optional<std::string> text) {
    status_ = std::move(text);
    if (status_handler_)
        status_handler_(status_);
}

bool Host::check_break(bool clear) {
    if (break_source_ && break_source_())
        break_pending_ = true;
    bool pending = break_pending_;
    if (clear)
        break_pending_ = false;
    return pending;
}

namespace {

std::optional<bool> flag_arg(const XLOPER& v) {
    return is_scalar_type(base_type(v)) ? bool_of(scalar_of(v)) : std::nullopt;
}

} // namespace

// No argument, or FALSE to clear the pending break; TRUE when a break is pending.
int Dispatch::check_break() {
    want_count(0, 1);
    bool clear = false;
    if (given(0)) {
        std::optional<bool> retain = flag_arg(arg(0));
        if (!retain)
            refuse(xlretFailed);
        clear = !*retain;
    }
    out = bool_value(host.check_break(clear));
    return xlretSuccess;
}

// TRUE and a text shows the text in the status bar; FALSE alone gives the bar back.
int Dispatch::message() {
    want_count(1, 2);
    std::optional<bool> display = flag_arg(arg(0));
    if (!display)
        refuse(xlretFailed);
    if (*display)
        host.show_status(text_arg(1, false));
    else
        host.show_status(std::nullopt);
    out = bool_value(true);
    return xlretSuccess;
}

} // namespace host::api
