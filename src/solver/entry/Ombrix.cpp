// The add-in's face to the spreadsheet: the static objects that declare its commands and
// menu, and the exported functions, each behind an exception barrier.

#include "solver/entry/Barrier.hpp"
#include "solver/entry/Exports.hpp"

#include "excel/AutoFree.hpp"
#include "excel/Registration.hpp"
#include "excel/String.hpp"
#include "excel/framewrk/Framework.hpp"
#include "excel/framewrk/xlauto.hpp"
#include "solver/OmbrixImpl.hpp"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

excel::Args command_args() {
    excel::Args args;
    excel::RetImpl::set_result(args, 'I');
    return args;
}

// Constructed in this order at load and destroyed in reverse at unload. The lists are
// most recent first, so Solve is registered and listed first, then Options, then About.
OmbrixImpl _impl;
excel::Addin _addin("Ombrix");
excel::CommandMacro _c2("Ombrix", "About", command_args(), "About");
excel::CommandMacro _c3("Ombrix", "Options", command_args(), "Options");
excel::CommandMacro _c1("Ombrix", "Solve", command_args(), "Solve");
excel::Menu _m1("&Ombrix");
excel::MenuOption _mo2(_m1, "About");
excel::MenuOption _mo3(_m1, "Options...", "Options");
excel::MenuOption _mo1(_m1, "Solve");

} // namespace

extern "C" {

int OMBRIX_CALL xlAutoOpen(void) {
    return entry::open_barrier([] {
        InitFramework();
        XLOPER name;
        name.xltype = xltypeNil;
        Excel(xlGetName, &name, 0);
        struct Release {
            XLOPER& x;
            ~Release() { Excel(xlFree, nullptr, 1, &x); }
        } release{name};
        _addin.reg(&name);
    });
}

int OMBRIX_CALL xlAutoClose(void) {
    entry::open_barrier([] {
        _addin.unreg();
        QuitFramework();
    });
    return 1;
}

int OMBRIX_CALL xlAutoAdd(void) { return 1; }

int OMBRIX_CALL xlAutoRemove(void) { return 1; }

LPXLOPER OMBRIX_CALL xlAddInManagerInfo(LPXLOPER action) {
    static XLOPER info;
    info.xltype = xltypeErr;
    info.val.err = 15;
    entry::open_barrier([action] {
        XLOPER number;
        number.xltype = xltypeNil;
        // An action that cannot be made a number leaves number as it was: #VALUE!.
        Excel(xlCoerce, &number, 2, action, TempInt(xltypeInt));
        if ((number.xltype & 0x0FFF) != xltypeInt || number.val.w != 1)
            return;
        static excel::String name;
        name = _addin.name;
        info = name;
    });
    return &info;
}

void OMBRIX_CALL xlAutoFree(LPXLOPER value) { excel::auto_free(value); }

int OMBRIX_CALL Solve(void) {
    return entry::command_barrier([] { _impl.solve(); });
}

int OMBRIX_CALL Options(void) {
    return entry::command_barrier([] { _impl.options(); });
}

int OMBRIX_CALL About(void) {
    return entry::command_barrier([] { _impl.about(); });
}

int OMBRIX_CALL RunTests(void) {
    return entry::command_barrier([] { OmbrixImpl::run_tests(); });
}

int OMBRIX_CALL Test(void) {
    return entry::command_barrier([] { OmbrixImpl::test(); });
}

int OMBRIX_CALL CheckInstance(void) { return check_instance_probe(); }

} // extern "C"

#ifdef _WIN32
BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
