// Functions that tell what kind of value they are given.

#include "engine/functions/Common.hpp"

#include "engine/A1.hpp"

#include <cctype>
#include <cmath>
#include <string>

namespace host::engine::detail::fn {

namespace {

OMBRIX_FN(isnumber) { OMBRIX_RETURN(Value::boolean(c.arg(0).is_number())); }
OMBRIX_FN(iserror) { OMBRIX_RETURN(Value::boolean(c.arg(0).is_error())); }
OMBRIX_FN(isna) {
    Value v = c.arg(0);
    OMBRIX_RETURN(Value::boolean(v.is_error() && v.as_error() == ErrorCode::NA));
}
OMBRIX_FN(isblank) { OMBRIX_RETURN(Value::boolean(!c.missing(0) && c.arg(0).is_empty())); }
OMBRIX_FN(istext) { OMBRIX_RETURN(Value::boolean(c.arg(0).is_text())); }

OMBRIX_FN(iserr) {
    Value v = c.arg(0);
    OMBRIX_RETURN(Value::boolean(v.is_error() && v.as_error() != ErrorCode::NA));
}
OMBRIX_FN(islogical) { OMBRIX_RETURN(Value::boolean(c.arg(0).is_boolean())); }
OMBRIX_FN(isnontext) { OMBRIX_RETURN(Value::boolean(!c.arg(0).is_text())); }

// ISEVEN and ISODD take numbers (an empty cell is 0) and text that reads as one, but no TRUE or FALSE.
void parity(Ctx& c, Item& out, bool even) {
    if (c.arg(0).is_boolean())
        OMBRIX_RETURN(err(ErrorCode::Value));
    OMBRIX_NUMBER(0, x);
    OMBRIX_RETURN(Value::boolean((std::fmod(std::trunc(std::fabs(x)), 2) == 0) == even));
}
OMBRIX_FN(iseven) { parity(c, out, true); }
OMBRIX_FN(isodd) { parity(c, out, false); }

OMBRIX_FN(isref) { OMBRIX_RETURN(Value::boolean(c.args[0].kind == Item::Cell || c.args[0].kind == Item::Range)); }
OMBRIX_FN(isformula) {
    const Item& it = c.args[0];
    std::uint32_t id;
    if (it.kind == Item::Cell) {
        id = it.cell;
    } else if (it.kind == Item::Range) {
        const Area& a = it.area;
        if (!c.ev.grid.slot_at(a.sheet, a.r1, a.c1, id))
            OMBRIX_RETURN(Value::boolean(false));
    } else {
        OMBRIX_RETURN(it.v.is_error() ? it.v : err(ErrorCode::Value));
    }
    OMBRIX_RETURN(Value::boolean(c.ev.grid.cell_program(id) != nullptr));
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
        if (c.ev.grid.slot_at(a.sheet, a.r1, a.c1, id))
            return true;
        out.v = err(ErrorCode::NA);
        return false;
    }
    out.v = it.kind == Item::Val && it.v.is_error() ? it.v : err(ErrorCode::NA);
    return false;
}

OMBRIX_FN(formulatext) {
    std::uint32_t id;
    if (!first_cell(c, out, id))
        return;
    // A legacy array formula shows in braces, in every cell of its range.
    const bool legacy = c.ev.grid.legacy_array(id);
    std::string_view f = c.ev.grid.cell_formula(id);
    if (f.empty())
        OMBRIX_RETURN(err(ErrorCode::NA));
    // Newer functions are shown without the prefixes the file writes them with.
    std::string text = legacy ? "{=" : "=";
    bool quoted = false;
    for (std::size_t i = 0; i < f.size(); ++i) {
        if (f[i] == '"')
            quoted = !quoted;
        if (!quoted && f[i] == '_' && (f.substr(i, 6) == "_xlfn." || f.substr(i, 6) == "_xlws.")) {
            i += 5;
            continue;
        }
        if (!quoted && f[i] == '_' && f.substr(i, 7) == "_xludf.") {
            i += 6;
            continue;
        }
        text += f[i];
    }
    if (legacy)
        text += '}';
    OMBRIX_RETURN(Value::text(text));
}

OMBRIX_FN(sheet) {
    if (c.argc == 0)
        OMBRIX_RETURN(Value::number(c.ev.sheet + 1));
    const Item& it = c.args[0];
    if (it.kind == Item::Cell)
        OMBRIX_RETURN(Value::number(c.ev.grid.cell_area(it.cell).sheet + 1));
    if (it.kind == Item::Range)
        OMBRIX_RETURN(Value::number(it.area.sheet + 1));
    Value v = c.arg(0);
    if (v.is_error())
        OMBRIX_RETURN(v);
    if (!v.is_text())
        OMBRIX_RETURN(err(ErrorCode::NA));
    int s = c.ev.grid.sheet_index(v.as_text());
    OMBRIX_RETURN(s < 0 ? err(ErrorCode::NA) : Value::number(s + 1));
}
OMBRIX_FN(sheets) {
    if (c.argc == 0)
        OMBRIX_RETURN(Value::number(c.ev.grid.sheet_count()));
    const Item& it = c.args[0];
    if (it.kind == Item::Cell)
        OMBRIX_RETURN(Value::number(1));
    if (it.kind == Item::Range)
        OMBRIX_RETURN(Value::number(it.areas ? 1 : std::max(it.area.sheet, it.last_sheet) - it.area.sheet + 1));
    Value v = c.arg(0);
    OMBRIX_RETURN(v.is_error() ? v : err(ErrorCode::NA));
}
OMBRIX_FN(type) {
    const Item& it = c.args[0];
    if (it.closure) // a LAMBDA, or a function passed by name
        OMBRIX_RETURN(Value::number(128));
    if (it.kind == Item::Arr || (it.kind == Item::Range && it.area.size() > 1))
        OMBRIX_RETURN(Value::number(64));
    Value v = c.arg(0);
    OMBRIX_RETURN(Value::number(v.is_number() || v.is_empty() ? 1 : v.is_text() ? 2 : v.is_boolean() ? 4 : 16));
}

// N and T take a reference's first cell in an array formula, not each of its cells.
OMBRIX_FN(n) {
    Value v = c.ev.scalar(c.args[0], c.array);
    if (v.is_number() || v.is_error())
        OMBRIX_RETURN(v);
    OMBRIX_RETURN(Value::number(v.is_boolean() && v.as_boolean() ? 1 : 0));
}
OMBRIX_FN(t) {
    if (c.args[0].kind == Item::Range && !c.array) { // a range of several cells is no text
        View range(c.ev, c.args[0]);
        if (range.rows != 1 || range.cols != 1)
            OMBRIX_RETURN(Value::text(""));
    }
    Value v = c.ev.scalar(c.args[0], c.array);
    OMBRIX_RETURN(v.is_text() || v.is_error() ? v : Value::text(""));
}
OMBRIX_FN(error_type) {
    Value v = c.arg(0);
    if (!v.is_error())
        OMBRIX_RETURN(err(ErrorCode::NA));
    switch (v.as_error()) {
    case ErrorCode::Null: OMBRIX_RETURN(Value::number(1));
    case ErrorCode::Div0: OMBRIX_RETURN(Value::number(2));
    case ErrorCode::Value: OMBRIX_RETURN(Value::number(3));
    case ErrorCode::Ref: OMBRIX_RETURN(Value::number(4));
    case ErrorCode::Name: OMBRIX_RETURN(Value::number(5));
    case ErrorCode::Num: OMBRIX_RETURN(Value::number(6));
    case ErrorCode::NA: OMBRIX_RETURN(Value::number(7));
    case ErrorCode::GettingData: OMBRIX_RETURN(Value::number(8));
    case ErrorCode::Spill: OMBRIX_RETURN(Value::number(9));
    case ErrorCode::Calc: OMBRIX_RETURN(Value::number(14));
    }
    OMBRIX_RETURN(err(ErrorCode::NA));
}

// CELL(info_type, [reference]) about the top-left cell of the reference (the formula's own
// cell when it is omitted). The engine keeps no cell styles, so the types about formatting
// answer as for a cell of the default style: "format" G (General), "color" and
// "parentheses" 0, "prefix" "" , "protect" 1 (locked); "width" is the column's, in whole
// characters; "filename" the workbook's file and the sheet, "folder/[book.xlsx]Sheet" ("" for
// a workbook never saved).
OMBRIX_FN(cell) {
    const Value kind = c.arg(0);
    if (kind.is_error())
        OMBRIX_RETURN(kind);
    if (!kind.is_text())
        OMBRIX_RETURN(err(ErrorCode::Value));
    std::string type(kind.as_text());
    for (char& ch : type)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    int sheet = c.ev.sheet;
    std::int32_t row = c.ev.row, col = c.ev.col;
    if (!c.missing(1)) {
        const Item& it = c.args[1];
        if (it.kind == Item::Cell) {
            const Area a = c.ev.grid.cell_area(it.cell);
            sheet = a.sheet, row = a.r1, col = a.c1;
        } else if (it.kind == Item::Range) {
            sheet = it.area.sheet, row = it.area.r1, col = it.area.c1;
        } else {
            OMBRIX_RETURN(it.kind == Item::Val && it.v.is_error() ? it.v : err(ErrorCode::Value));
        }
    }
    // Only "contents" and "type" read the cell: the others may name the formula's own cell.
    if (type == "contents" || type == "type") {
        const Value& v = c.ev.grid.value_at(sheet, row, col);
        if (type == "contents")
            OMBRIX_RETURN(v.is_empty() ? Value::number(0) : v);
        OMBRIX_RETURN(Value::text(v.is_empty() ? "b" : v.is_text() ? "l" : "v"));
    }
    if (type == "address")
        OMBRIX_RETURN(Value::text("$" + column_name(col) + "$" + std::to_string(row + 1)));
    if (type == "col")
        OMBRIX_RETURN(Value::number(col + 1));
    if (type == "row")
        OMBRIX_RETURN(Value::number(row + 1));
    if (type == "format")
        OMBRIX_RETURN(Value::text("G"));
    if (type == "color" || type == "parentheses")
        OMBRIX_RETURN(Value::number(0));
    if (type == "prefix")
        OMBRIX_RETURN(Value::text(""));
    if (type == "filename")
        OMBRIX_RETURN(Value::text(c.ev.grid.file_name_of(sheet)));
    if (type == "protect")
        OMBRIX_RETURN(Value::number(1));
    if (type == "width")
        OMBRIX_RETURN(Value::number(std::trunc(c.ev.grid.column_width(sheet, col))));
    OMBRIX_RETURN(err(ErrorCode::Value));
}

// INFO(type_text) where this host can answer as the spreadsheet would: the number of sheets,
// automatic recalculation, the system and version the workbook's formulas are written for,
// the top-left cell of the window. The folder and the memory types have no answer: #N/A.
OMBRIX_FN(info) {
    const Value kind = c.arg(0);
    if (kind.is_error())
        OMBRIX_RETURN(kind);
    std::string type = to_text(kind);
    for (char& ch : type)
        ch = char(std::tolower(static_cast<unsigned char>(ch)));
    if (type == "numfile")
        OMBRIX_RETURN(Value::number(c.ev.grid.sheet_count()));
    if (type == "recalc")
        OMBRIX_RETURN(Value::text("Automatic"));
    if (type == "system")
        OMBRIX_RETURN(Value::text("pcdos"));
    if (type == "release")
        OMBRIX_RETURN(Value::text("16.0"));
    if (type == "osversion")
        OMBRIX_RETURN(Value::text("Windows (64-bit) NT 10.00"));
    if (type == "origin")
        OMBRIX_RETURN(Value::text("$A:$A$1"));
    if (type == "directory" || type == "memavail" || type == "memused" || type == "totmem")
        OMBRIX_RETURN(err(ErrorCode::NA));
    OMBRIX_RETURN(err(ErrorCode::Value));
}

// AREAS(reference): how many areas a reference (a union in parentheses) has.
OMBRIX_FN(areas) {
    const Item& it = c.args[0];
    if (it.kind == Item::Cell)
        OMBRIX_RETURN(Value::number(1));
    if (it.kind == Item::Range)
        OMBRIX_RETURN(Value::number(it.areas ? double(it.areas->size()) : 1));
    OMBRIX_RETURN(it.kind == Item::Val && it.v.is_error() ? it.v : err(ErrorCode::Value));
}

// HYPERLINK(link, [friendly_name]): the cell shows the friendly name, else the link; the link
// itself is for the spreadsheet's window, which this host has not.
OMBRIX_FN(hyperlink) {
    const Value shown = c.missing(1) ? c.arg(0) : c.arg(1);
    OMBRIX_RETURN(shown.is_empty() ? Value::number(0) : shown);
}

OMBRIX_FN(na) {
    (void)c;
    OMBRIX_RETURN(err(ErrorCode::NA));
}

} // namespace

std::vector<Entry> information_functions() {
    constexpr std::uint8_t L = FnLift;
    return {
        {{"ISNUMBER", 1, 1, L | FnFillsArea}, fn_isnumber},
        {{"ISERROR", 1, 1, L | FnFillsArea}, fn_iserror},
        {{"ISNA", 1, 1, L | FnFillsArea}, fn_isna},
        {{"ISBLANK", 1, 1, L | FnFillsArea}, fn_isblank},
        {{"ISTEXT", 1, 1, L | FnFillsArea}, fn_istext},
        {{"ISERR", 1, 1, L | FnFillsArea}, fn_iserr},
        {{"ISLOGICAL", 1, 1, L | FnFillsArea}, fn_islogical},
        {{"ISNONTEXT", 1, 1, L | FnFillsArea}, fn_isnontext},
        {{"ISEVEN", 1, 1, L}, fn_iseven},
        {{"ISODD", 1, 1, L}, fn_isodd},
        {{"ISREF", 1, 1, 0}, fn_isref},
        {{"ISFORMULA", 1, 1, 0, "c"}, fn_isformula},
        {{"N", 1, 1, 0, "t"}, fn_n},
        {{"T", 1, 1, 0, "t"}, fn_t},
        {{"ERROR.TYPE", 1, 1, L}, fn_error_type},
        {{"NA", 0, 0, 0}, fn_na},
        {{"FORMULATEXT", 1, 1, 0}, fn_formulatext},
        {{"SHEET", 0, 1, 0}, fn_sheet},
        {{"SHEETS", 0, 1, 0}, fn_sheets},
        {{"TYPE", 1, 1, 0}, fn_type},
        {{"CELL", 1, 2, 0}, fn_cell},
        {{"AREAS", 1, 1, 0}, fn_areas},
        {{"INFO", 1, 2, 0}, fn_info},
        {{"HYPERLINK", 1, 2, L}, fn_hyperlink},
    };
}

} // namespace host::engine::detail::fn
