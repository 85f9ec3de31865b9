// Logical functions.

#include "engine/functions/Common.hpp"

namespace host::engine::detail::fn {

namespace {

void logical(Ctx& c, Item& out, bool is_and) {
    bool any = false, acc = is_and;
    Value error;
    each_value(c, 0, c.argc, [&](const Value& v, bool direct, bool missing) {
        if (error.is_error() || missing)
            return;
        bool b;
        if (v.is_error()) {
            error = v;
            return;
        }
        if (v.is_number() || v.is_boolean()) {
            b = v.is_boolean() ? v.as_boolean() : v.as_number() != 0;
        } else if (direct && v.is_text()) {
            ErrorCode e;
            if (!to_boolean(v, b, e)) {
                error = err(e);
                return;
            }
        } else {
            return;
        }
        any = true;
        acc = is_and ? (acc && b) : (acc || b);
    });
    if (error.is_error())
        RET(error);
    if (!any)
        RET(err(ErrorCode::Value));
    RET(Value::boolean(acc));
}
FN(and) { logical(c, out, true); }
FN(or) { logical(c, out, false); }
FN(not) {
    bool b;
    ErrorCode e;
    if (!to_boolean(c.arg(0), b, e))
        RET(err(e));
    RET(Value::boolean(!b));
}
FN(if) {   // only reached through array lifting; normally compiled to jumps
    bool b;
    ErrorCode e;
    if (!to_boolean(c.arg(0), b, e))
        RET(err(e));
    if (b)
        RET(c.missing(1) ? Value::number(0) : c.arg(1));
    RET(c.argc < 3 ? Value::boolean(false) : c.missing(2) ? Value::number(0) : c.arg(2));
}
FN(iferror) {
    Value v = c.arg(0);
    RET(v.is_error() ? c.arg(1) : v);
}
FN(true) { (void)c; RET(Value::boolean(true)); }
FN(false) { (void)c; RET(Value::boolean(false)); }

} // namespace

std::vector<Entry> logic_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"IF", 2, 3, L}, fn_if},
        {{"AND", 1, -1, 0}, fn_and},
        {{"OR", 1, -1, 0}, fn_or},
        {{"NOT", 1, 1, L}, fn_not},
        {{"IFERROR", 2, 2, L}, fn_iferror},
        {{"TRUE", 0, 0, 0}, fn_true},
        {{"FALSE", 0, 0, 0}, fn_false},
    };
}

} // namespace host::engine::detail::fn
