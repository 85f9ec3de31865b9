#ifndef OMBRIX_EXCEL_FRAMEWRK_XLAUTO_INTERNAL_HPP
#define OMBRIX_EXCEL_FRAMEWRK_XLAUTO_INTERNAL_HPP

// What the set-up and the coercion share; not for use elsewhere.

#include "excel/framewrk/ExcelApi.hpp"

#include <string>

#ifdef _WIN32
#include <windows.h>
#include <ole2.h>
#include <oleauto.h>
#endif

namespace xlauto {

struct State {
    bool ole_initialised = false;
    bool checking = false;
    bool correct_instance = false;
    bool message_shown = false;
    std::string version;
#ifdef _WIN32
    IDispatch* application = nullptr;
    IDispatch* workbooks = nullptr;
#endif
};

State& state();

// A counted string in its own buffer (cut at 255 characters).
struct Counted {
    explicit Counted(const std::string& text);
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;
    char buffer[256];
    XLOPER value;
};

std::string text_of(const XLOPER& x);
void debug_output(const char* text);

#ifdef _WIN32
// A property get or method call with at most one argument.
HRESULT invoke(IDispatch* object, const wchar_t* member, WORD flags, VARIANT* out, VARIANT* argument);
#endif

} // namespace xlauto

#endif
