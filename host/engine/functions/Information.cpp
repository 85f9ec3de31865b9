// Functions that tell what kind of value they are given.

#include "engine/functions/Common.hpp"

#include <cmath>

namespace host::engine::detail::fn {

namespace {

FN(isnumber) { RET(Value::boolean(c.arg(0).is_number())); }
FN(iserror) { RET(Value::boolean(c.arg(0).is_error())); }
FN(isna) { Value v = c.arg(0); RET(Value::boolean(v.is_error() && v.as_error() == ErrorCode::NA)); }
FN(isblank) { RET(Value::boolean(!c.missing(0) && c.arg(0).is_empty())); }
FN(istext) { RET(Value::boolean(c.arg(0).is_text())); }

FN(iserr) { Value v = c.arg(0); RET(Value::boolean(v.is_error() && v.as_error() != ErrorCode::NA)); }
FN(islogical) { RET(Value::boolean(c.arg(0).is_boolean())); }
FN(isnontext) { RET(Value::boolean(!c.arg(0).is_text())); }

// ISEVEN and ISODD take numbers (an empty cell is 0) and text that reads as one, but no TRUE or FALSE.
void parity(Ctx& c, Item& out, bool even) {
    if (c.arg(0).is_boolean())
        RET(err(ErrorCode::Value));
    NUM(0, x);
    RET(Value::boolean((std::fmod(std::trunc(std::fabs(x)), 2) == 0) == even));
}
FN(iseven) { parity(c, out, true); }
FN(isodd) { parity(c, out, false); }

FN(isref) { RET(Value::boolean(c.args[0].kind == Item::Cell || c.args[0].kind == Item::Range)); }
FN(isformula) {
    const Item& it = c.args[0];
    std::uint32_t id;
    if (it.kind == Item::Cell) {
        id = it.cell;
    } else if (it.kind == Item::Range) {
        const Area& a = it.area;
        const auto& ids = c.ev.grid.cells_in(Area{a.sheet, a.r1, a.c1, a.r1, a.c1});
        if (ids.empty())
            RET(Value::boolean(false));
        id = ids[0];
    } else {
        RET(it.v.is_error() ? it.v : err(ErrorCode::Value));
    }
    RET(Value::boolean(c.ev.grid.cell_program(id) != nullptr));
}

// The slot of the top-left cell of a reference argument; false (with the result set) when
// the argument is no reference or that cell does not exist.
bool first_cell(Ctx& c, Item& out, std::uint32_t& id) {
    const Item& it = c.args[0];
    if (it.kind == Item::Cell) {
        id = it.cell;
        return true;
    }
    if (it.kind == Item::Range) {
        const Area& a = it.area;
        const auto& ids = c.ev.grid.cells_in(Area{a.sheet, a.r1, a.c1, a.r1, a.c1});
        if (!ids.empty()) {
            id = ids[0];
            return true;
        }
        out.v = err(ErrorCode::NA);
        return false;
    }
    out.v = it.kind == Item::Val && it.v.is_error() ? it.v : err(ErrorCode::NA);
    return false;
}

FN(formulatext) {
    std::uint32_t id;
    if (!first_cell(c, out, id))
        return;
    std::string_view f = c.ev.grid.cell_formula(id);
    if (f.empty())
        RET(err(ErrorCode::NA));
    // Newer functions are shown without the prefixes the file writes them with.
    std::string text = "=";
    bool quoted = false;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] == '"')
            quoted = !quoted;
        if (!quoted && f[i] == '_' && (f.substr(i, 6) == "_xlfn." || f.substr(i, 6) == "_xlws.")) {
            i += 5;
            continue;
        }
        text += f[i];
    }
    RET(Value::text(text));
}

FN(sheet) {
    if (c.argc == 0)
        RET(Value::number(c.ev.sheet + 1));
    const Item& it = c.args[0];
    if (it.kind == Item::Cell)
        RET(Value::number(c.ev.grid.cell_area(it.cell).sheet + 1));
    if (it.kind == Item::Range)
        RET(Value::number(it.area.sheet + 1));
    Value v = c.arg(0);
    if (v.is_error())
        RET(v);
    if (!v.is_text())
        RET(err(ErrorCode::NA));
    int s = c.ev.grid.sheet_index(v.as_text());
    RET(s < 0 ? err(ErrorCode::NA) : Value::number(s + 1));
}
FN(sheets) {
    if (c.argc == 0)
        RET(Value::number(c.ev.grid.sheet_count()));
    const Item& it = c.args[0];
    if (it.kind == Item::Cell)
        RET(Value::number(1));
    if (it.kind == Item::Range)
        RET(Value::number(it.areas ? 1 : std::max(it.area.sheet, it.last_sheet) - it.area.sheet + 1));
    Value v = c.arg(0);
    RET(v.is_error() ? v : err(ErrorCode::NA));
}
FN(type) {
    const Item& it = c.args[0];
    if (it.kind == Item::Arr || (it.kind == Item::Range && it.area.size() > 1))
        RET(Value::number(64));
    Value v = c.arg(0);
    RET(Value::number(v.is_number() || v.is_empty() ? 1 : v.is_text() ? 2 : v.is_boolean() ? 4 : 16));
}

FN(n) {
    Value v = c.arg(0);
    if (v.is_number() || v.is_error())
        RET(v);
    RET(Value::number(v.is_boolean() && v.as_boolean() ? 1 : 0));
}
FN(t) {
    Value v = c.arg(0);
    RET(v.is_text() || v.is_error() ? v : Value::text(""));
}
FN(error_type) {
    Value v = c.arg(0);
    if (!v.is_error())
        RET(err(ErrorCode::NA));
    switch (v.as_error()) {
    case ErrorCode::Null: RET(Value::number(1));
    case ErrorCode::Div0: RET(Value::number(2));
    case ErrorCode::Value: RET(Value::number(3));
    case ErrorCode::Ref: RET(Value::number(4));
    case ErrorCode::Name: RET(Value::number(5));
    case ErrorCode::Num: RET(Value::number(6));
    case ErrorCode::NA: RET(Value::number(7));
    case ErrorCode::Spill: RET(Value::number(9));
    case ErrorCode::Calc: RET(Value::number(14));
    }
    RET(err(ErrorCode::NA));
}

FN(na) { (void)c; RET(err(ErrorCode::NA)); }

} // namespace

std::vector<Entry> information_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"ISNUMBER", 1, 1, L}, fn_isnumber},
        {{"ISERROR", 1, 1, L}, fn_iserror},
        {{"ISNA", 1, 1, L}, fn_isna},
        {{"ISBLANK", 1, 1, L}, fn_isblank},
        {{"ISTEXT", 1, 1, L}, fn_istext},
        {{"ISERR", 1, 1, L}, fn_iserr},
        {{"ISLOGICAL", 1, 1, L}, fn_islogical},
        {{"ISNONTEXT", 1, 1, L}, fn_isnontext},
        {{"ISEVEN", 1, 1, L}, fn_iseven},
        {{"ISODD", 1, 1, L}, fn_isodd},
        {{"ISREF", 1, 1, 0}, fn_isref},
        {{"ISFORMULA", 1, 1, 0}, fn_isformula},
        {{"N", 1, 1, L}, fn_n},
        {{"T", 1, 1, L}, fn_t},
        {{"ERROR.TYPE", 1, 1, L}, fn_error_type},
        {{"NA", 0, 0, 0}, fn_na},
        {{"FORMULATEXT", 1, 1, 0}, fn_formulatext},
        {{"SHEET", 0, 1, 0}, fn_sheet},
        {{"SHEETS", 0, 1, 0}, fn_sheets},
        {{"TYPE", 1, 1, 0}, fn_type},
    };
}

} // namespace host::engine::detail::fn
