// Worksheet functions the add-in calls through the API: xlfIstext, xlfOr.

#include "api/Dispatch.hpp"

namespace host::api {

using namespace detail;

int Dispatch::is_text() {
    want_count(1, 1);
    if (is_reference(type(0)) || type(0) == xltypeMulti) {
        Table t = table_of(arg(0));
        if (t.cells.size() == 1 && is_reference(type(0))) {
            out = bool_value(t.cells[0].is_text());
            return xlretSuccess;
        }
        XLOPER* e = start_array(t.rows, t.columns);
        for (std::size_t k = 0; k < t.cells.size(); ++k)
            e[k] = bool_value(t.cells[k].is_text());
        return xlretSuccess;
    }
    out = bool_value(type(0) == xltypeStr);
    return xlretSuccess;
}

int Dispatch::logical_or() {
    want_count(1, max_callback_args);
    bool any = false, seen = false;
    for (int i = 0; i < count; ++i) {
        if (type(i) == xltypeMissing)
            continue;
        if (type(i) == xltypeStr) {
            // A text argument must read as a logical value itself.
            auto b = text_as_bool(counted(arg(i).val.str));
            if (!b) {
                out = error_value(ErrorCode::Value);
                return xlretSuccess;
            }
            any = any || *b;
            seen = true;
            continue;
        }
        Table t = table_of(arg(i));
        for (const Value& v : t.cells) {
            if (v.is_error()) {
                out = error_value(v.as_error());
                return xlretSuccess;
            }
            if (v.is_boolean() || v.is_number()) {
                any = any || v.as_boolean() || v.as_number() != 0;
                seen = true;
            }
        }
    }
    out = seen ? bool_value(any) : error_value(ErrorCode::Value);
    return xlretSuccess;
}

} // namespace host::api
