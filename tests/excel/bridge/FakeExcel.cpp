#include "FakeExcel.hpp"

#include <cstdarg>
#include <cstring>
#include <sstream>

namespace bridge_fake {

namespace {

Fake* current = nullptr;

char* new_counted(const std::string& s, Fake& f)
{
    char* p = new char[s.size() + 1];
    p[0] = static_cast<char>(s.size());
    std::memcpy(p + 1, s.data(), s.size());
    f.allocated.insert(p);
    return p;
}

// The rectangle and sheet a reference value names.
bool target(const XLOPER* x, Fake& f, XLREF& r, IDSHEET& sheet)
{
    if (x->xltype == xltypeSRef) {
        r = x->val.sref.ref;
        sheet = f.active;
        return true;
    }
    if (x->xltype == xltypeRef && x->val.mref.lpmref != nullptr) {
        r = x->val.mref.lpmref->reftbl[0];
        sheet = x->val.mref.idSheet;
        return true;
    }
    return false;
}

int coerce(Fake& f, XLOPER* result, XLOPER* src, int to)
{
    XLREF r;
    IDSHEET sheet;
    if (!target(src, f, r, sheet)) {
        if (src->xltype == xltypeNum && to == xltypeStr) {
            std::ostringstream os;
            os << src->val.num;
            result->xltype = xltypeStr;
            result->val.str = new_counted(os.str(), f);
            return xlretSuccess;
        }
        return xlretFailed;
    }
    if (to == xltypeNum) {
        const Cell& c = f.at(r.rwFirst, r.colFirst, sheet);
        if (c.type == xltypeStr)
            return xlretFailed;
        result->xltype = c.type == xltypeErr ? xltypeErr : xltypeNum;
        if (c.type == xltypeErr)
            result->val.err = c.err;
        else
            result->val.num = c.num;
        return xlretSuccess;
    }
    if (to != xltypeMulti)
        return xlretFailed;
    int rows = r.rwLast - r.rwFirst + 1, cols = r.colLast - r.colFirst + 1;
    if (f.coerce_shape.first > 0) {
        rows = f.coerce_shape.first;
        cols = f.coerce_shape.second;
    }
    XLOPER* e = new XLOPER[std::size_t(rows) * cols];
    f.allocated.insert(e);
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            const Cell& c = f.at(r.rwFirst + i, r.colFirst + j, sheet);
            XLOPER& x = e[i * cols + j];
            x.xltype = c.type;
            if (c.type == xltypeNum)
                x.val.num = c.num;
            else if (c.type == xltypeErr)
                x.val.err = c.err;
            else if (c.type == xltypeStr)
                x.val.str = new_counted(c.str, f);
        }
    }
    result->xltype = xltypeMulti;
    result->val.array.lparray = e;
    result->val.array.rows = static_cast<std::uint16_t>(rows);
    result->val.array.columns = static_cast<std::uint16_t>(cols);
    return xlretSuccess;
}

int set(Fake& f, XLOPER* ref, XLOPER* v)
{
    XLREF r;
    IDSHEET sheet;
    if (!target(ref, f, r, sheet))
        return xlretFailed;
    const int rows = r.rwLast - r.rwFirst + 1, cols = r.colLast - r.colFirst + 1;
    if (v->xltype == xltypeMulti && (v->val.array.rows != rows || v->val.array.columns != cols))
        return xlretFailed;
    for (int i = 0; i < rows; ++i)
        for (int j = 0; j < cols; ++j)
            f.put(r.rwFirst + i, r.colFirst + j,
                  v->xltype == xltypeNum ? v->val.num : v->val.array.lparray[i * cols + j].val.num,
                  sheet);
    return xlretSuccess;
}

void free_value(Fake& f, XLOPER* x)
{
    if (x->xltype == xltypeStr && f.allocated.erase(x->val.str)) {
        delete[] x->val.str;
    } else if (x->xltype == xltypeMulti && f.allocated.erase(x->val.array.lparray)) {
        const int n = x->val.array.rows * x->val.array.columns;
        for (int i = 0; i < n; ++i)
            free_value(f, &x->val.array.lparray[i]);
        delete[] x->val.array.lparray;
    }
}

} // namespace

Fake& fake()
{
    if (current == nullptr)
        current = new Fake;
    return *current;
}

void reset()
{
    delete current;
    current = new Fake;
}

void Fake::put(int row, int col, double v, IDSHEET sheet)
{
    Cell& c = cells[{sheet, {row, col}}];
    c = Cell();
    c.type = xltypeNum;
    c.num = v;
}

void Fake::put_str(int row, int col, const std::string& s, IDSHEET sheet)
{
    Cell& c = cells[{sheet, {row, col}}];
    c = Cell();
    c.type = xltypeStr;
    c.str = s;
}

void Fake::put_err(int row, int col, std::uint16_t err, IDSHEET sheet)
{
    Cell& c = cells[{sheet, {row, col}}];
    c = Cell();
    c.type = xltypeErr;
    c.err = err;
}

const Cell& Fake::at(int row, int col, IDSHEET sheet)
{
    return cells[{sheet, {row, col}}];
}

int Fake::count(int function) const
{
    int n = 0;
    for (const Call& c : calls)
        n += c.function == function;
    return n;
}

} // namespace bridge_fake

using namespace bridge_fake;

extern "C" int XLCALL_CONV Excel4v(int xlfn, LPXLOPER result, int count, LPXLOPER opers[])
{
    Fake& f = fake();
    Call call{xlfn, {}, {}};
    for (int i = 0; i < count; ++i) {
        call.arg_types.push_back(opers[i]->xltype);
        call.args.push_back(*opers[i]);
    }
    f.calls.push_back(call);
    auto forced = f.forced.find(xlfn);
    if (forced != f.forced.end())
        return forced->second;

    switch (xlfn) {
    case xlSheetId:
        if (count == 0) {
            result->xltype = xltypeRef;
            result->val.mref.lpmref = nullptr;
            result->val.mref.idSheet = f.active;
            return xlretSuccess;
        } else {
            const std::string name(opers[0]->val.str + 1,
                                   static_cast<unsigned char>(opers[0]->val.str[0]));
            auto it = f.sheets.find(name);
            if (it == f.sheets.end())
                return xlretFailed;
            result->xltype = xltypeRef;
            result->val.mref.lpmref = nullptr;
            result->val.mref.idSheet = it->second;
            return xlretSuccess;
        }
    case xlCoerce:
        return coerce(f, result, opers[0], opers[1]->val.w);
    case xlSet:
        return set(f, opers[0], opers[1]);
    case xlFree:
        for (int i = 0; i < count; ++i)
            free_value(f, opers[i]);
        return xlretSuccess;
    case xlfCaller:
        *result = f.caller;
        return xlretSuccess;
    case xlSheetNm: {
        std::string name = "Sheet?";
        for (const auto& s : f.sheets)
            if (s.second == f.active)
                name = s.first;
        result->xltype = xltypeStr;
        result->val.str = new_counted("[Book1]" + name, f);
        return xlretSuccess;
    }
    case xlcAlert:
        f.alert.assign(opers[0]->val.str + 1, static_cast<unsigned char>(opers[0]->val.str[0]));
        f.alert_type = opers[1]->val.w;
        return xlretSuccess;
    default:
        return xlretSuccess;
    }
}

extern "C" int Excel4(int xlfn, LPXLOPER result, int count, ...)
{
    LPXLOPER args[32];
    va_list ap;
    va_start(ap, count);
    for (int i = 0; i < count && i < 32; ++i)
        args[i] = va_arg(ap, LPXLOPER);
    va_end(ap);
    return Excel4v(xlfn, result, count, args);
}
