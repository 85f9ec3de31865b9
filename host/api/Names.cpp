// Defined names the add-in keeps values under: xlfSetName.

#include "api/Dispatch.hpp"

namespace host::api {

using namespace detail;

int Dispatch::set_name() {
    want_count(1, 2);
    std::string name = text_arg(0, false);
    if (name.empty())
        refuse(xlretFailed);
    if (count == 1) {
        host.names_.erase(upper(name));
    } else {
        // Defined by value: a reference is read when the name is set.
        host.names_[upper(name)] = table_of(arg(1));
    }
    out = bool_value(true);
    return xlretSuccess;
}

} // namespace host::api
