// Answers each callback the add-in makes, over the host's workbook.
//
// Every request is checked before anything changes: a value record of an unknown type or
// with broken insides answers xlretInvXloper, a wrong argument count xlretInvCount, an
// unknown function number xlretInvXlfn, and a request that is well formed but cannot be done
// (a reference off the sheet, an unknown sheet, a text that is no number) xlretFailed. A
// result is built aside and handed over only when the whole call succeeded, so a failure
// leaves no memory behind.
//
// Each function number is one case of the switch below and one member of Dispatch, in the
// file of its concern (see Dispatch.hpp). What applies to every call belongs in Host::call.

#include "api/Dispatch.hpp"

namespace host::api {

using namespace detail;

int Dispatch::run(int xlfn) {
    // xlFree is given back what the host made; its records are not read, only looked up.
    if (xlfn != xlFree)
        check_records();
    switch (xlfn) {
    case xlFree: return free_values();
    case xlCoerce: return do_coerce();
    case xlSet: return do_set();
    case xlSheetId: return sheet_id();
    case xlSheetNm: return sheet_name();
    case xlGetName: return get_name();
    case xlfCaller: return caller();
    case xlcAlert: return alert();
    case xlfRegister: return do_register();
    case xlfRegisterId: return register_id();
    case xlfUnregister: return unregister();
    case xlfAddMenu: return add_menu();
    case xlfDeleteMenu: return delete_menu();
    case xlfGetBar: return get_bar();
    case xlfSetName: return set_name();
    case xlfDialogBox: return dialog_box();
    case xlfGetWorkspace: return get_workspace();
    case xlcEcho: return echo();
    case xlcActivate: return activate();
    case xlfIstext: return is_text();
    case xlfOr: return logical_or();
    case xlAbort: return check_break();
    case xlcMessage: return message();
    case xlEvaluateBatch: return evaluate_batch();
    case xlcNew:
    case xlcClose:
        // The host has one workbook and no windows: it opens no other and does not close
        // it at the add-in's request.
        want_count(0, 4);
        return xlretFailed;
    default: return xlretInvXlfn;
    }
}

int Host::call(int xlfn, XLOPER* result, int count, XLOPER* const* args) {
    if (count < 0 || count > max_callback_args || (count > 0 && args == nullptr))
        return xlretInvCount;
    for (int i = 0; i < count; ++i)
        if (args[i] == nullptr)
            return xlretInvXloper;
    Dispatch d{*this, count, args};
    int code = injected_fault(xlfn);
    try {
        if (code == xlretSuccess)
            code = d.run(xlfn);
    } catch (const Refusal& r) {
        code = r.code;
    } catch (...) {
        // The front end's handlers, the engine and memory exhaustion: none crosses the API.
        code = xlretFailed;
    }
    try {
        if (code != xlretSuccess || result == nullptr) {
            d.discard();
            if (result != nullptr && code != xlretSuccess && xlfn != xlFree)
                *result = error_value(ErrorCode::Value);
        } else {
            *result = d.out;
        }
    } catch (...) {
        return xlretFailed;
    }
    return code;
}

} // namespace host::api
