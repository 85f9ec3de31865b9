// The callback entry the add-in imports, answered by the current host. It is its own
// object library (ombrix_callback_entry) so that every program hosting the add-in or its
// core links it explicitly, whatever the order of its libraries.

#include "api/Host.hpp"

extern "C" int XLCALL_CONV Excel4v(int xlfn, LPXLOPER operRes, int count, LPXLOPER opers[]) {
    host::api::Host* host = host::api::current_host();
    if (host == nullptr)
        return xlretFailed;
    return host->call(xlfn, operRes, count, opers);
}
