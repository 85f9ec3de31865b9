// References and the cells behind them: reading an area, xlSet, sheet ids and names, and
// the calling cell.

#include "api/Dispatch.hpp"

namespace host::api {

using namespace detail;

Area Dispatch::area_of(const XLOPER& v) {
    Area a{};
    switch (base_type(v)) {
    case xltypeSRef:
        if (v.val.sref.count != 1)
            refuse(xlretInvXloper);
        a.sheet = book().active_sheet();
        a.rect = v.val.sref.ref;
        break;
    case xltypeRef:
        if (v.val.mref.lpmref == nullptr || v.val.mref.lpmref->count == 0)
            refuse(xlretInvXloper);
        if (v.val.mref.lpmref->count != 1)
            refuse(xlretFailed); // several areas: nothing the add-in asks for
        a.sheet = host.sheet_of(v.val.mref.idSheet);
        if (a.sheet < 0)
            refuse(xlretFailed);
        a.rect = v.val.mref.lpmref->reftbl[0];
        break;
    default: refuse(xlretFailed);
    }
    if (a.rect.rwFirst > a.rect.rwLast || a.rect.colFirst > a.rect.colLast)
        refuse(xlretFailed);
    return a;
}

// A block larger than the host reads or writes in one call is refused.
void Dispatch::check_block(const Area& a) {
    if (a.cells() > max_block_cells)
        refuse(xlretFailed);
}

// The values of an area as an xltypeMulti result.
void Dispatch::area_values(const Area& a) {
    check_block(a);
    XLOPER* elements = start_array(a.rows(), a.columns());
    for (int r = 0; r < a.rows(); ++r)
        for (int c = 0; c < a.columns(); ++c)
            put(book().value(a.cell(r, c)), elements[r * a.columns() + c], elements);
}

void Dispatch::make_ref(int sheet, const XLREF& rect) {
    out.val.mref.lpmref = memory().make_mref(rect);
    out.val.mref.idSheet = host.sheet_id(sheet);
    out.xltype = xltypeRef;
}

Table Dispatch::table_of(const XLOPER& v) {
    Table t;
    if (is_reference(base_type(v))) {
        Area a = area_of(v);
        check_block(a);
        t.rows = a.rows();
        t.columns = a.columns();
        for (int r = 0; r < t.rows; ++r)
            for (int c = 0; c < t.columns; ++c)
                t.cells.push_back(book().value(a.cell(r, c)));
    } else if (base_type(v) == xltypeMulti) {
        std::size_t n = multi_size(v);
        t.rows = v.val.array.rows;
        t.columns = v.val.array.columns;
        for (std::size_t k = 0; k < n; ++k)
            t.cells.push_back(scalar_of(v.val.array.lparray[k]));
    } else {
        t.rows = t.columns = 1;
        t.cells.push_back(scalar_of(v));
    }
    return t;
}

int Dispatch::do_set() {
    want_count(1, 2);
    if (!is_reference(type(0)))
        refuse(xlretFailed);
    Area a = area_of(arg(0));
    check_block(a);
    auto& pending = host.pending_;
    pending.clear();
    std::size_t cells = std::size_t(a.rows()) * std::size_t(a.columns());
    pending.reserve(cells);
    if (count < 2 || is_scalar_type(type(1))) {
        // One value (none: empty) into every cell of the area.
        Value v = count < 2 ? Value() : scalar_of(arg(1));
        for (int r = 0; r < a.rows(); ++r)
            for (int c = 0; c < a.columns(); ++c)
                pending.emplace_back(a.cell(r, c), v);
    } else if (type(1) == xltypeMulti) {
        const XLOPER& m = arg(1);
        multi_size(m);
        if (m.val.array.rows != a.rows() || m.val.array.columns != a.columns())
            refuse(xlretFailed);
        for (int r = 0; r < a.rows(); ++r)
            for (int c = 0; c < a.columns(); ++c)
                pending.emplace_back(a.cell(r, c), scalar_of(m.val.array.lparray[r * a.columns() + c]));
    } else {
        refuse(xlretFailed);
    }
    book().set_values(pending);
    host.record_write(pending);
    if (host.batch_)
        host.batch_->wrote(pending);
    pending.clear();
    if (!book().automatic())
        book().recalculate();
    out = bool_value(true);
    return xlretSuccess;
}

// "Sheet1" or "[Book1]Sheet1".
int Dispatch::find_sheet(std::string_view name) {
    if (!name.empty() && name.front() == '[') {
        std::size_t close = name.find(']');
        if (close == std::string_view::npos || !same_text(name.substr(1, close - 1), host.book_name_))
            return -1;
        name.remove_prefix(close + 1);
    }
    return book().find_sheet(name);
}

int Dispatch::sheet_id() {
    want_count(0, 1);
    int sheet = book().active_sheet();
    if (given(0)) {
        if (type(0) != xltypeStr)
            refuse(xlretFailed);
        sheet = find_sheet(counted(arg(0).val.str));
        if (sheet < 0)
            refuse(xlretFailed);
    }
    out.val.mref.lpmref = nullptr;
    out.val.mref.idSheet = host.sheet_id(sheet);
    out.xltype = xltypeRef;
    return xlretSuccess;
}

int Dispatch::sheet_name() {
    want_count(1, 1);
    if (!is_reference(type(0)))
        refuse(xlretFailed);
    // Only the sheet matters: a reference without a rectangle (as xlSheetId gives) names
    // its sheet as well.
    int sheet;
    if (type(0) == xltypeRef) {
        sheet = host.sheet_of(arg(0).val.mref.idSheet);
        if (sheet < 0)
            refuse(xlretFailed);
    } else {
        sheet = area_of(arg(0)).sheet;
    }
    set_text_result("[" + host.book_name_ + "]" + book().sheet_name(sheet));
    return xlretSuccess;
}

int Dispatch::caller() {
    want_count(0, 0);
    if (!host.caller_) {
        out = error_value(ErrorCode::Ref);
        return xlretSuccess;
    }
    out.val.sref.count = 1;
    out.val.sref.ref.rwFirst = out.val.sref.ref.rwLast = host.caller_->first;
    out.val.sref.ref.colFirst = out.val.sref.ref.colLast = host.caller_->second;
    out.xltype = xltypeSRef;
    return xlretSuccess;
}

} // namespace host::api
