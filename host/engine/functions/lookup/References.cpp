// The reference functions: where a reference is (ROW, COLUMN, ROWS, COLUMNS) and references
// built at run time (OFFSET, INDIRECT, ADDRESS).

#include "engine/functions/Common.hpp"
#include "engine/Workbook.hpp"

#include <algorithm>
#include <cctype>
#include <cmath>

namespace host::engine::detail::fn {

namespace {

// ---- positions ----

// The area an item refers to, if it is a reference.
bool area_of(const Ctx& c, const Item& it, Area& a) {
    if (it.kind == Item::Cell) {
        a = c.ev.grid.cell_area(it.cell);
        return true;
    }
    if (it.kind == Item::Range) {
        a = it.area;
        return true;
    }
    return false;
}

// ROW and COLUMN: the formula's own position without an argument; a range gives all its
// rows (columns), the first where one value is wanted.
void position(Ctx& c, Item& out, bool rows) {
    if (c.missing(0))
        OMBRIX_RETURN(Value::number(double((rows ? c.ev.row : c.ev.col) + 1)));
    Area a;
    if (!area_of(c, c.args[0], a))
        OMBRIX_RETURN(c.args[0].kind == Item::Val && c.args[0].v.is_error() ? c.args[0].v : err(ErrorCode::Value));
    std::int32_t first = rows ? a.r1 : a.c1, last = rows ? a.r2 : a.c2;
    if (first == last)
        OMBRIX_RETURN(Value::number(double(first + 1)));
    auto arr = std::make_shared<Array>();
    arr->rows = rows ? last - first + 1 : 1;
    arr->cols = rows ? 1 : last - first + 1;
    for (std::int32_t i = first; i <= last; ++i)
        arr->values.push_back(Value::number(double(i + 1)));
    out.kind = Item::Arr;
    out.arr = c.ev.keep(std::move(arr));
}
OMBRIX_FN(row) { position(c, out, true); }
OMBRIX_FN(column) { position(c, out, false); }

void extent(Ctx& c, Item& out, bool rows) {
    const Item& it = c.args[0];
    if (it.kind == Item::Val && it.v.is_error())
        OMBRIX_RETURN(it.v);
    if (it.kind == Item::Range && it.areas) // several areas have no one size
        OMBRIX_RETURN(err(ErrorCode::Ref));
    View v(c.ev, it);
    OMBRIX_RETURN(Value::number(double(rows ? v.rows : v.cols)));
}
OMBRIX_FN(rows) { extent(c, out, true); }
OMBRIX_FN(columns) { extent(c, out, false); }

// ---- references built at run time ----

OMBRIX_FN(offset) {
    Area a;
    if (!area_of(c, c.args[0], a))
        OMBRIX_RETURN(c.args[0].kind == Item::Val && c.args[0].v.is_error() ? c.args[0].v : err(ErrorCode::Value));
    OMBRIX_NUMBER(1, dr);
    OMBRIX_NUMBER(2, dc);
    OMBRIX_NUMBER_OR(3, height, a.r2 - a.r1 + 1);
    OMBRIX_NUMBER_OR(4, width, a.c2 - a.c1 + 1);
    // A size is truncated, but a fraction of one counts as one; a negative size reaches up or
    // left from the offset cell.
    auto size = [](double v) { return std::fabs(v) < 1 && v != 0 ? std::copysign(1.0, v) : std::trunc(v); };
    const double h = size(height), w = size(width);
    if (h == 0 || w == 0)
        OMBRIX_RETURN(err(ErrorCode::Ref));
    double r1 = a.r1 + std::trunc(dr), c1 = a.c1 + std::trunc(dc);
    double r2 = r1 + h - 1, c2 = c1 + w - 1;
    if (h < 0)
        r2 = r1, r1 = r1 + h + 1;
    if (w < 0)
        c2 = c1, c1 = c1 + w + 1;
    if (r1 < 0 || c1 < 0 || r2 >= max_rows || c2 >= max_columns)
        OMBRIX_RETURN(err(ErrorCode::Ref));
    out.kind = Item::Range;
    out.area = Area{a.sheet, std::int32_t(r1), std::int32_t(c1), std::int32_t(r2), std::int32_t(c2)};
    if (c.ev.built_refs)
        c.ev.built_refs->push_back(out.area);
}

// "R2C3", "R[-1]C[2]", "RC" relative to the formula's cell; false if it is not one.
bool read_r1c1_part(std::string_view& s, char letter, std::int32_t here, std::int32_t limit, std::int32_t& out) {
    if (s.empty() || std::toupper(static_cast<unsigned char>(s[0])) != letter)
        return false;
    s.remove_prefix(1);
    bool relative = !s.empty() && s[0] == '[';
    if (relative)
        s.remove_prefix(1);
    std::int64_t v = 0;
    bool negative = relative && !s.empty() && s[0] == '-';
    if (negative)
        s.remove_prefix(1);
    std::size_t digits = 0;
    while (digits < s.size() && digits < 8 && s[digits] >= '0' && s[digits] <= '9')
        v = v * 10 + (s[digits++] - '0');
    s.remove_prefix(digits);
    if (relative) {
        if (s.empty() || s[0] != ']' || digits == 0)
            return false;
        s.remove_prefix(1);
        v = here + (negative ? -v : v);
    } else if (digits == 0) {
        v = here;
    } else {
        v -= 1;
    }
    if (v < 0 || v >= limit)
        return false;
    out = std::int32_t(v);
    return true;
}

bool read_r1c1(std::string_view s, const Evaluator& ev, std::int32_t& row, std::int32_t& col) {
    return read_r1c1_part(s, 'R', ev.row, max_rows, row) && read_r1c1_part(s, 'C', ev.col, max_columns, col) &&
           s.empty();
}

// A defined name that is one reference ("Prices" for =Sheet1!$A$1:$A$9). Names that are
// formulas give #REF! in INDIRECT, as in the spreadsheet.
bool named_reference(const Grid& grid, std::string_view name, int sheet, bool sheet_only, Area& out) {
    const Linked* named = grid.visible_name(name, sheet, sheet_only);
    if (!named || named->code.size() != 1 || named->code[0].op != Op::Ref)
        return false;
    const LinkedRef& r = named->refs[named->code[0].operand];
    if (r.kind == LinkedRef::Cell)
        out = grid.cell_area(r.cell);
    else if (r.kind == LinkedRef::Range)
        out = r.area;
    else
        return false;
    return true;
}

// One end of a whole-column ("D", "$XFD") or whole-row ("7", "$07") reference in A1 text.
bool read_column(std::string_view s, std::int32_t& col) {
    if (!s.empty() && s[0] == '$')
        s.remove_prefix(1);
    if (s.empty() || s.size() > 3)
        return false;
    std::int32_t n = 0;
    for (char ch : s) {
        if (!std::isalpha(static_cast<unsigned char>(ch)))
            return false;
        n = n * 26 + (std::toupper(static_cast<unsigned char>(ch)) - 'A' + 1);
    }
    col = n - 1;
    return col < max_columns;
}
bool read_row(std::string_view s, std::int32_t& row) {
    if (!s.empty() && s[0] == '$')
        s.remove_prefix(1);
    if (s.empty() || s.size() > 7)
        return false;
    std::int32_t n = 0;
    for (char ch : s) {
        if (ch < '0' || ch > '9')
            return false;
        n = n * 10 + (ch - '0');
    }
    row = n - 1;
    return row >= 0 && row < max_rows;
}

OMBRIX_FN(indirect) {
    OMBRIX_TEXT(0, ref);
    bool a1 = true;
    if (!c.missing(1)) {
        ErrorCode e;
        if (!to_boolean(c.arg(1), a1, e))
            OMBRIX_RETURN(err(e));
    }
    int sheet = c.ev.sheet;
    std::string_view cells = ref;
    std::size_t bang = ref.rfind('!');
    if (bang != std::string::npos) {
        std::string name = ref.substr(0, bang);
        if (name.size() >= 2 && name.front() == '\'' && name.back() == '\'') {
            std::string unquoted;
            for (std::size_t i = 1; i + 1 < name.size(); ++i) {
                unquoted += name[i];
                if (name[i] == '\'' && i + 2 < name.size() && name[i + 1] == '\'')
                    ++i;
            }
            name = unquoted;
        }
        sheet = c.ev.grid.sheet_index(name);
        if (sheet < 0)
            OMBRIX_RETURN(err(ErrorCode::Ref));
        cells = std::string_view(ref).substr(bang + 1);
    }
    std::size_t colon = cells.find(':');
    std::string_view first = cells.substr(0, colon);
    std::string_view second = colon == std::string_view::npos ? first : cells.substr(colon + 1);
    std::int32_t r1, c1, r2, c2;
    bool ok = a1 ? parse_a1(first, r1, c1) && parse_a1(second, r2, c2)
                 : read_r1c1(first, c.ev, r1, c1) && read_r1c1(second, c.ev, r2, c2);
    if (!ok && a1 && colon != std::string_view::npos) { // whole columns (D:F) or whole rows (5:7)
        if (read_column(first, c1) && read_column(second, c2)) {
            r1 = 0, r2 = max_rows - 1, ok = true;
        } else if (read_row(first, r1) && read_row(second, r2)) {
            c1 = 0, c2 = max_columns - 1, ok = true;
        }
    }
    if (ok) {
        out.area = Area{sheet, std::min(r1, r2), std::min(c1, c2), std::max(r1, r2), std::max(c1, c2)};
    } else if (!named_reference(c.ev.grid, cells, sheet, bang != std::string::npos, out.area)) {
        OMBRIX_RETURN(err(ErrorCode::Ref));
    }
    out.kind = Item::Range;
    if (c.ev.built_refs)
        c.ev.built_refs->push_back(out.area);
}

// A sheet name as a reference writes it: quoted unless it is letters, digits and '_' not
// starting with a digit.
std::string sheet_prefix(const std::string& name) {
    if (name.empty()) // ADDRESS(1,3,1,TRUE,"") is "!$C$1"
        return "!";
    // "[Book1]Sheet1" names a sheet of another book: only the sheet's part may need quotes.
    const std::size_t book_end = name[0] == '[' ? name.find(']') : std::string::npos;
    const std::string sheet = book_end == std::string::npos ? name : name.substr(book_end + 1);
    bool plain = !sheet.empty() && !std::isdigit(static_cast<unsigned char>(sheet[0]));
    for (char ch : sheet)
        plain = plain && (std::isalnum(static_cast<unsigned char>(ch)) || ch == '_' || ch == '.');
    std::int32_t r, k;
    if (plain && !parse_a1(sheet, r, k))
        return name + "!";
    std::string q = "'";
    for (char ch : name) {
        q += ch;
        if (ch == '\'')
            q += '\'';
    }
    return q + "'!";
}

OMBRIX_FN(address) {
    OMBRIX_NUMBER(0, rowf);
    OMBRIX_NUMBER(1, colf);
    OMBRIX_NUMBER_OR(2, absf, 1);
    bool a1 = true;
    if (!c.missing(3)) {
        ErrorCode e;
        if (!to_boolean(c.arg(3), a1, e))
            OMBRIX_RETURN(err(e));
    }
    double r = std::trunc(rowf), k = std::trunc(colf), mode = std::trunc(absf);
    if (r < 1 || r > max_rows || k < 1 || k > max_columns || mode < 1 || mode > 4)
        OMBRIX_RETURN(err(ErrorCode::Value));
    bool row_abs = mode == 1 || mode == 2, col_abs = mode == 1 || mode == 3;
    std::string prefix;
    if (!c.missing(4)) {
        OMBRIX_TEXT(4, sheet);
        prefix = sheet_prefix(sheet);
    }
    std::int64_t ri = std::int64_t(r), ki = std::int64_t(k);
    if (a1)
        OMBRIX_RETURN(Value::text(prefix + (col_abs ? "$" : "") + column_name(std::int32_t(ki - 1)) +
                                  (row_abs ? "$" : "") + std::to_string(ri)));
    auto part = [](char letter, std::int64_t v, bool abs) {
        return std::string(1, letter) + (abs ? std::to_string(v) : "[" + std::to_string(v) + "]");
    };
    OMBRIX_RETURN(Value::text(prefix + part('R', ri, row_abs) + part('C', ki, col_abs)));
}

} // namespace

std::vector<Entry> reference_functions() {
    return {
        {{"ROW", 0, 1, 0}, fn_row},
        {{"COLUMN", 0, 1, 0}, fn_column},
        {{"ROWS", 1, 1, 0}, fn_rows},
        {{"COLUMNS", 1, 1, 0}, fn_columns},
        {{"OFFSET", 3, 5, FnVolatile}, fn_offset},
        {{"INDIRECT", 1, 2, FnVolatile}, fn_indirect},
        {{"ADDRESS", 2, 5, 0, "v"}, fn_address},
    };
}

} // namespace host::engine::detail::fn
