#include "FakeExcel.hpp"

#include <cstdarg>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>

namespace bridge_fake {

namespace {

Fake* current = nullptr;

char* counted(const std::string& s, Fake& f)
{
    char* p = new char[s.size() + 1];
    p[0] = static_cast<char>(s.size());
    std::memcpy(p + 1, s.data(), s.size());
    f.allocated.insert(p);
    return p;
}

bool target(const XLOPER* x, Fake& f, XLREF& r, IDSHEET& sheet)
{
    if (x->xltype == xltypeSRef) {
        r = x->val.sref.ref;
        sheet = f.active;
        return true;
    }
    if (x->xltype != xltypeRef || x->val.mref.lpmref == nullptr)
        return false;
    r = x->val.mref.lpmref->reftbl[0];
    sheet = x->val.mref.idSheet;
    return true;
}

void fill(XLOPER& x, const Cell& c, Fake& f)
{
    x.xltype = c.type;
    if (c.type == xltypeNum)
        x.val.num = c.num;
    else if (c.type == xltypeErr)
        x.val.err = static_cast<std::uint16_t>(c.num);
    else if (c.type == xltypeStr)
        x.val.str = counted(c.str, f);
}

int coerce(Fake& f, XLOPER* result, XLOPER* src, int to)
{
    XLREF r;
    IDSHEET sheet;
    if (!target(src, f, r, sheet)) {
        if (src->xltype != xltypeNum || to != xltypeStr)
            return xlretFailed;
        std::ostringstream os;
        os << src->val.num;
        fill(*result, Cell{xltypeStr, 0, os.str()}, f);
        return xlretSuccess;
    }
    if (to == xltypeNum) {
        Cell c = f.at(r.rwFirst, r.colFirst, sheet);
        if (c.type == xltypeStr)
            return xlretFailed;
        fill(*result, c.type == xltypeErr ? c : Cell{xltypeNum, c.num, ""}, f);
        return xlretSuccess;
    }
    int rows = r.rwLast - r.rwFirst + 1, cols = r.colLast - r.colFirst + 1;
    if (f.coerce_shape.first > 0)
        std::tie(rows, cols) = f.coerce_shape;
    XLOPER* e = new XLOPER[std::size_t(rows) * cols];
    f.allocated.insert(e);
    for (int i = 0; i < rows * cols; ++i)
        fill(e[i], f.at(r.rwFirst + i / cols, r.colFirst + i % cols, sheet), f);
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
    const int rows = target(ref, f, r, sheet) ? r.rwLast - r.rwFirst + 1 : 0;
    const int cols = r.colLast - r.colFirst + 1;
    if (rows == 0 || (v->xltype == xltypeMulti &&
                      (v->val.array.rows != rows || v->val.array.columns != cols)))
        return xlretFailed;
    for (int i = 0; i < rows * cols; ++i)
        f.put(r.rwFirst + i / cols, r.colFirst + i % cols,
              v->xltype == xltypeNum ? v->val.num : v->val.array.lparray[i].val.num, xltypeNum,
              sheet);
    return xlretSuccess;
}

void release(Fake& f, XLOPER* x)
{
    if (x->xltype == xltypeStr && f.allocated.erase(x->val.str)) {
        delete[] x->val.str;
    } else if (x->xltype == xltypeMulti && f.allocated.erase(x->val.array.lparray)) {
        for (int i = 0; i < x->val.array.rows * x->val.array.columns; ++i)
            release(f, &x->val.array.lparray[i]);
        delete[] x->val.array.lparray;
    }
}

} // namespace

Fake& fake()
{
    if (current == nullptr)
        reset();
    return *current;
}

void reset()
{
    delete current;
    current = new Fake;
    current->caller.xltype = xltypeErr;
}

void Fake::put(int row, int col, double v, std::uint16_t type, IDSHEET sheet)
{
    at(row, col, sheet) = Cell{type, v, ""};
}

void Fake::put_str(int row, int col, const std::string& s)
{
    at(row, col) = Cell{xltypeStr, 0, s};
}

int Fake::count(int function) const
{
    int n = 0;
    for (const auto& c : calls)
        n += c.first == function;
    return n;
}

} // namespace bridge_fake

using namespace bridge_fake;

extern "C" int XLCALL_CONV Excel4v(int xlfn, LPXLOPER result, int count, LPXLOPER opers[])
{
    Fake& f = fake();
    std::vector<std::uint16_t> types;
    for (int i = 0; i < count; ++i)
        types.push_back(opers[i]->xltype);
    f.calls.emplace_back(xlfn, types);
    if (f.forced.count(xlfn) != 0)
        return f.forced[xlfn];

    const auto text = [](const XLOPER* x) {
        return std::string(x->val.str + 1, static_cast<unsigned char>(x->val.str[0]));
    };
    switch (xlfn) {
    case xlSheetId: {
        auto it = count == 0 ? f.sheets.end() : f.sheets.find(text(opers[0]));
        if (count != 0 && it == f.sheets.end())
            return xlretFailed;
        result->xltype = xltypeRef;
        result->val.mref.lpmref = nullptr;
        result->val.mref.idSheet = count == 0 ? f.active : it->second;
        return xlretSuccess;
    }
    case xlCoerce:
        return coerce(f, result, opers[0], opers[1]->val.w);
    case xlSet:
        return set(f, opers[0], opers[1]);
    case xlFree:
        for (int i = 0; i < count; ++i)
            release(f, opers[i]);
        return xlretSuccess;
    case xlfCaller:
        *result = f.caller;
        return xlretSuccess;
    case xlSheetNm:
        for (const auto& s : f.sheets)
            if (s.second == f.active)
                fill(*result, Cell{xltypeStr, 0, "[Book1]" + s.first}, f);
        return xlretSuccess;
    case xlcAlert:
        f.alert = text(opers[0]);
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
