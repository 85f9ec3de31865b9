// What the add-in shows the user: dialogs (xlfDialogBox) and alerts (xlcAlert), answered
// by the front end's handlers.

#include "api/Dispatch.hpp"

namespace host::api {

using namespace detail;

int Dispatch::dialog_box() {
    want_count(1, 1);
    if (type(0) != xltypeMulti)
        refuse(xlretFailed);
    const XLOPER& m = arg(0);
    multi_size(m);
    if (m.val.array.columns > 7)
        refuse(xlretFailed);
    // The front end always sees seven columns; a shorter table has empty trailing ones.
    Table t;
    t.rows = m.val.array.rows;
    t.columns = 7;
    t.cells.resize(std::size_t(t.rows) * 7);
    for (int r = 0; r < t.rows; ++r)
        for (int c = 0; c < m.val.array.columns; ++c)
            t.at(r, c) = scalar_of(m.val.array.lparray[r * m.val.array.columns + c]);
    ++host.dialogs_shown_;
    bool ok = host.dialog_handler_ && host.dialog_handler_(t);
    if (!ok) {
        out = bool_value(false);
        return xlretSuccess;
    }
    if (t.columns != 7 || t.rows != m.val.array.rows || t.cells.size() != std::size_t(t.rows) * 7)
        refuse(xlretFailed); // the front end must fill the table it was given
    XLOPER* e = start_array(t.rows, 7);
    for (std::size_t k = 0; k < t.cells.size(); ++k)
        put(t.cells[k], e[k], e);
    return xlretSuccess;
}

int Dispatch::alert() {
    want_count(1, 2);
    Alert a;
    if (!is_scalar_type(type(0)) || type(0) == xltypeMissing || type(0) == xltypeErr)
        refuse(xlretFailed);
    a.text = text_arg(0, false);
    a.type = given(1) ? static_cast<int>(int_arg(1)) : 2;
    if (a.type < 1 || a.type > 3)
        refuse(xlretFailed);
    host.alerts_.push_back(a);
    if (host.alert_handler_)
        host.alert_handler_(a);
    out = bool_value(true);
    return xlretSuccess;
}

} // namespace host::api
