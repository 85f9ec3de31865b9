// The program around the workbook: its version, screen updating, windows.

#include "api/Dispatch.hpp"

namespace host::api {

using namespace detail;

int Dispatch::get_workspace() {
    want_count(1, 1);
    switch (int_arg(0)) {
    case 1: set_text_result("Linux"); break;
    case 2: set_text_result(host.version_); break;
    default: out = error_value(ErrorCode::Value); break;
    }
    return xlretSuccess;
}

int Dispatch::echo() {
    want_count(0, 1);
    if (!given(0)) {
        host.echo_ = !host.echo_;
    } else {
        if (!is_scalar_type(type(0)))
            refuse(xlretFailed);
        std::optional<bool> b = bool_of(scalar_of(arg(0)));
        if (!b)
            refuse(xlretFailed);
        host.echo_ = *b;
    }
    out = bool_value(true);
    return xlretSuccess;
}

int Dispatch::activate() {
    want_count(0, 2);
    if (given(0)) {
        // A window is named by its book, or by "[Book]Sheet" to bring that sheet forward.
        std::string name = text_arg(0, false);
        if (!same_text(name, host.book_name_)) {
            int sheet = find_sheet(name);
            if (sheet < 0 || name.empty() || name.front() != '[') {
                out = bool_value(false);
                return xlretSuccess;
            }
            book().set_active_sheet(sheet);
        }
    }
    // The add-in always runs as a command here, never inside a worksheet formula.
    out = bool_value(true);
    return xlretSuccess;
}

} // namespace host::api
