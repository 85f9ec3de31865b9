// Logical functions.

#include "engine/functions/Common.hpp"

namespace host::engine::detail::fn {

namespace {

enum class Combine { And, Or, Xor };

void logical(Ctx& c, Item& out, Combine how) {
    bool any = false, acc = how == Combine::And;
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
        } else if (direct && v.is_text() && !v.as_text().empty()) {
            // TRUE or FALSE as text counts; other text ("0", ">5") is passed over as text in a
            // range is (the spreadsheet's versions before 16 gave #VALUE! for it).
            ErrorCode e;
            if (!to_boolean(v, b, e))
                return;
        } else {
            return;
        }
        any = true;
        acc = how == Combine::And ? (acc && b) : how == Combine::Or ? (acc || b) : acc != b;
    });
    if (error.is_error())
        OMBRIX_RETURN(error);
    if (!any)
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_RETURN(Value::boolean(acc));
}
OMBRIX_FN(and) { logical(c, out, Combine::And); }
OMBRIX_FN(or) { logical(c, out, Combine::Or); }
OMBRIX_FN(xor) { logical(c, out, Combine::Xor); }
OMBRIX_FN(not ) {
    bool b;
    ErrorCode e;
    if (!to_boolean(c.arg(0), b, e))
        OMBRIX_RETURN(err(e));
    OMBRIX_RETURN(Value::boolean(!b));
}
OMBRIX_FN(if) { // only reached through array lifting; normally compiled to jumps
    bool b;
    ErrorCode e;
    if (!to_boolean(c.arg(0), b, e))
        OMBRIX_RETURN(err(e));
    if (b)
        OMBRIX_RETURN(c.missing(1) ? Value::number(0) : c.arg(1));
    OMBRIX_RETURN(c.argc < 3 ? Value::boolean(false) : c.missing(2) ? Value::number(0) : c.arg(2));
}
// The fallback is handed on whole: IFERROR(NA(), A1:A3) spills the three cells.
void fallback(Ctx& c, Item& out) {
    out = c.args[1];
    if (out.kind == Item::Missing) {
        out = Item();
        out.v = Value::number(0);
    }
}
OMBRIX_FN(iferror) {
    Value v = c.arg(0);
    if (!v.is_error())
        OMBRIX_RETURN(v);
    fallback(c, out);
}
OMBRIX_FN(true) {
    (void)c;
    OMBRIX_RETURN(Value::boolean(true));
}
OMBRIX_FN(false) {
    (void)c;
    OMBRIX_RETURN(Value::boolean(false));
}

OMBRIX_FN(ifna) {
    Value v = c.arg(0);
    if (!v.is_error() || v.as_error() != ErrorCode::NA)
        OMBRIX_RETURN(v);
    fallback(c, out);
}

// Hands argument i on as it is (a reference stays a reference); an omitted one is 0.
void pass(Ctx& c, Item& out, int i) {
    out = c.args[i];
    if (out.kind == Item::Missing) {
        out.kind = Item::Val;
        out.v = Value::number(0);
    }
}

// IFS(condition, value, ...): the value of the first condition that holds; #N/A if none does.
OMBRIX_FN(ifs) {
    if (c.argc % 2 != 0)
        OMBRIX_RETURN(err(ErrorCode::Value));
    for (int i = 0; i < c.argc; i += 2) {
        bool b;
        ErrorCode e;
        if (!to_boolean(c.arg(i), b, e))
            OMBRIX_RETURN(err(e));
        if (b)
            return pass(c, out, i + 1);
    }
    OMBRIX_RETURN(err(ErrorCode::NA));
}

// SWITCH(expression, value, result, ..., [default]): compared as by "=".
// An empty cell, as the expression or a value, is the number 0 to SWITCH: it matches 0, but
// neither FALSE nor "" as a comparison would.
OMBRIX_FN(switch) {
    auto zero_if_empty = [](Value v) { return v.is_empty() ? Value::number(0) : v; };
    Value x = zero_if_empty(c.arg(0));
    if (x.is_error())
        OMBRIX_RETURN(x);
    int i = 1;
    for (; i + 1 < c.argc; i += 2) {
        Value same = apply_binary(Op::Eq, x, zero_if_empty(c.arg(i)), c.ev.grid.date1904());
        if (same.is_error())
            OMBRIX_RETURN(same);
        if (same.as_boolean())
            return pass(c, out, i + 1);
    }
    if (i < c.argc)
        return pass(c, out, i);
    OMBRIX_RETURN(err(ErrorCode::NA));
}

} // namespace

std::vector<Entry> logic_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"IF", 2, 3, 0, "vff"}, fn_if},
        {{"AND", 1, -1, 0}, fn_and},
        {{"OR", 1, -1, 0}, fn_or},
        {{"NOT", 1, 1, L}, fn_not},
        {{"IFERROR", 2, 2, 0, "vf"}, fn_iferror},
        {{"XOR", 1, -1, 0}, fn_xor},
        {{"IFNA", 2, 2, 0, "vf"}, fn_ifna},
        {{"IFS", 2, -1, L, "(vf)"}, fn_ifs},
        {{"SWITCH", 3, -1, L, "v(vf)"}, fn_switch},
        {{"TRUE", 0, 0, 0}, fn_true},
        {{"FALSE", 0, 0, 0}, fn_false},
    };
}

} // namespace host::engine::detail::fn
