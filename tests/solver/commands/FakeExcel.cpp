#include "FakeExcel.hpp"

#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>
#include <stdexcept>

namespace fake {

namespace {

std::pair<int, int> position(const std::string& a1)
{
    std::size_t i = 0;
    int col = 0;
    while (i < a1.size() && a1[i] >= 'A' && a1[i] <= 'Z')
        col = col * 26 + (a1[i++] - 'A' + 1);
    int row = 0;
    while (i < a1.size() && a1[i] >= '0' && a1[i] <= '9')
        row = row * 10 + (a1[i++] - '0');
    if (col == 0 || row == 0 || i != a1.size())
        throw std::invalid_argument("fake sheet: bad cell name " + a1);
    return std::make_pair(row - 1, col - 1);
}

std::string number_text(double d)
{
    std::ostringstream os;
    os.precision(17);
    os << d;
    return os.str();
}

const IDSHEET the_sheet = 1;

// The rectangle of a reference to the one sheet; null for anything else.
const XLREF* rectangle(const XLOPER& ref)
{
    if (ref.xltype == xltypeSRef)
        return &ref.val.sref.ref;
    if (ref.xltype == xltypeRef && ref.val.mref.idSheet == the_sheet && ref.val.mref.lpmref &&
        ref.val.mref.lpmref->count == 1)
        return &ref.val.mref.lpmref->reftbl[0];
    return nullptr;
}

// The cell of a table row and column.
const XLOPER& at(const XLOPER& table, int row, int col)
{
    return table.val.array.lparray[row * table.val.array.columns + col];
}

} // namespace

bool operator==(const Value& a, const Value& b)
{
    if (a.kind != b.kind)
        return false;
    switch (a.kind) {
    case Value::nil: return true;
    case Value::number: return a.num == b.num;
    case Value::text: return a.str == b.str;
    case Value::boolean: return a.flag == b.flag;
    case Value::error: return a.err == b.err;
    }
    return false;
}

std::string text_of(const XLOPER& v)
{
    if (v.xltype != xltypeStr || v.val.str == nullptr)
        return std::string();
    return std::string(v.val.str + 1, static_cast<unsigned char>(v.val.str[0]));
}

void Sheet::set(const std::string& a1, const Value& v)
{
    const std::pair<int, int> p = position(a1);
    set(p.first, p.second, v);
}

Value Sheet::get(const std::string& a1) const
{
    const std::pair<int, int> p = position(a1);
    return get(p.first, p.second);
}

double Sheet::num(const std::string& a1) const
{
    const Value v = get(a1);
    return v.kind == Value::number ? v.num : std::numeric_limits<double>::quiet_NaN();
}

void Sheet::set(int row, int col, const Value& v)
{
    if (v.kind == Value::nil)
        cells.erase(std::make_pair(row, col));
    else
        cells[std::make_pair(row, col)] = v;
}

Value Sheet::get(int row, int col) const
{
    std::map<std::pair<int, int>, Value>::const_iterator it = cells.find(std::make_pair(row, col));
    return it == cells.end() ? Value() : it->second;
}

Excel& Excel::instance()
{
    static Excel excel;
    return excel;
}

void Excel::reset()
{
    sheet = Sheet();
    recalc = nullptr;
    answers.clear();
    failing_set = 0;
    sheet_name = "Sheet1";
    alerts.clear();
    dialogs.clear();
    set_calls = 0;
    coerce_calls = 0;
    names.clear();
    // Anything still live was leaked by the code under test; tests check outstanding()
    // before resetting, so dropping the record here is enough.
    live.clear();
}

char* Excel::new_string(const std::string& s)
{
    const std::size_t n = s.size() > 255 ? 255 : s.size();
    char* p = new char[n + 1];
    p[0] = static_cast<char>(n);
    std::memcpy(p + 1, s.data(), n);
    live[p] = true;
    return p;
}

XLOPER Excel::to_oper(const Value& v)
{
    XLOPER x;
    std::memset(&x, 0, sizeof x);
    switch (v.kind) {
    case Value::nil: x.xltype = xltypeNil; break;
    case Value::number: x.xltype = xltypeNum; x.val.num = v.num; break;
    case Value::text: x.xltype = xltypeStr; x.val.str = new_string(v.str); break;
    case Value::boolean: x.xltype = xltypeBool; x.val.xbool = v.flag ? 1 : 0; break;
    case Value::error: x.xltype = xltypeErr; x.val.err = static_cast<std::uint16_t>(v.err); break;
    }
    return x;
}

void Excel::free_value(XLOPER& value)
{
    if (value.xltype == xltypeStr && live.erase(value.val.str)) {
        delete[] value.val.str;
    } else if (value.xltype == xltypeMulti && live.count(value.val.array.lparray)) {
        const int n = value.val.array.rows * value.val.array.columns;
        for (int i = 0; i < n; ++i)
            free_value(value.val.array.lparray[i]);
        live.erase(value.val.array.lparray);
        delete[] value.val.array.lparray;
    }
    value.xltype = xltypeNil;
}

int Excel::coerce(LPXLOPER result, const XLOPER& from, int type)
{
    ++coerce_calls;
    const XLREF* rect = rectangle(from);
    if (rect == nullptr || result == nullptr)
        return xlretFailed;
    const XLREF& r = *rect;
    if (type == xltypeMulti) {
        const int rows = r.rwLast - r.rwFirst + 1;
        const int cols = r.colLast - r.colFirst + 1;
        XLOPER* array = new XLOPER[rows * cols];
        live[array] = true;
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j)
                array[i * cols + j] = to_oper(sheet.get(r.rwFirst + i, r.colFirst + j));
        result->xltype = xltypeMulti;
        result->val.array.lparray = array;
        result->val.array.rows = static_cast<std::uint16_t>(rows);
        result->val.array.columns = static_cast<std::uint16_t>(cols);
        return xlretSuccess;
    }
    if (type == xltypeNum) {
        if (r.rwFirst != r.rwLast || r.colFirst != r.colLast)
            return xlretFailed;
        const Value v = sheet.get(r.rwFirst, r.colFirst);
        double d = 0.0;
        switch (v.kind) {
        case Value::nil: d = 0.0; break;
        case Value::number: d = v.num; break;
        case Value::boolean: d = v.flag ? 1.0 : 0.0; break;
        case Value::text: {
            // Text converts only when it is a whole number.
            std::istringstream is(v.str);
            if (!(is >> d) || !is.eof())
                return xlretFailed;
            break;
        }
        case Value::error: return xlretFailed;
        }
        result->xltype = xltypeNum;
        result->val.num = d;
        return xlretSuccess;
    }
    return xlretFailed;
}

int Excel::set_cells(const XLOPER& ref, const XLOPER& value)
{
    ++set_calls;
    const XLREF* rect = rectangle(ref);
    if (rect == nullptr || set_calls == failing_set)
        return xlretFailed;
    const XLREF& r = *rect;
    const int rows = r.rwLast - r.rwFirst + 1;
    const int cols = r.colLast - r.colFirst + 1;
    auto value_of = [](const XLOPER& x) {
        switch (x.xltype & ~xlbitDLLFree) {
        case xltypeNum: return Value::of(x.val.num);
        case xltypeStr: return Value::of_text(text_of(x));
        case xltypeBool: return Value::of_bool(x.val.xbool != 0);
        case xltypeErr: return Value::of_error(x.val.err);
        default: return Value();
        }
    };
    if ((value.xltype & ~xlbitDLLFree) == xltypeMulti) {
        if (value.val.array.rows != rows || value.val.array.columns != cols)
            return xlretFailed;
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j)
                sheet.set(r.rwFirst + i, r.colFirst + j, value_of(at(value, i, j)));
    } else {
        for (int i = 0; i < rows; ++i)
            for (int j = 0; j < cols; ++j)
                sheet.set(r.rwFirst + i, r.colFirst + j, value_of(value));
    }
    if (recalc)
        recalc(sheet);
    return xlretSuccess;
}

int Excel::sheet_id(LPXLOPER result, int count, LPXLOPER* args)
{
    if (count == 1) {
        // Only the one sheet exists, by its name alone or with the book's.
        const std::string name = text_of(*args[0]);
        if (name != sheet_name && name != "[Book1]" + sheet_name)
            return xlretFailed;
    }
    if (result) {
        result->xltype = xltypeRef;
        result->val.mref.lpmref = nullptr;
        result->val.mref.idSheet = the_sheet;
    }
    return xlretSuccess;
}

int Excel::set_name(int count, LPXLOPER* args)
{
    const std::string name = text_of(*args[0]);
    if (count == 1) {
        names.erase(name);
        return xlretSuccess;
    }
    std::vector<std::string> entries;
    const XLOPER& array = *args[1];
    if (array.xltype == xltypeMulti)
        for (int i = 0; i < array.val.array.rows * array.val.array.columns; ++i)
            entries.push_back(text_of(array.val.array.lparray[i]));
    names[name] = entries;
    return xlretSuccess;
}

int Excel::dialog_box(LPXLOPER result, const XLOPER& table)
{
    if (table.xltype != xltypeMulti || table.val.array.columns != 7 || result == nullptr)
        return xlretFailed;
    const int rows = table.val.array.rows;

    ShownDialog shown;
    shown.title = text_of(at(table, 0, 5));
    std::vector<int> control_rows;
    for (int i = 1; i < rows; ++i) {
        const XLOPER& code = at(table, i, 0);
        const XLOPER& x = at(table, i, 1);
        if (code.xltype != xltypeNum)
            continue;
        if (code.val.num == 2)
            shown.has_cancel = true;
        // A label line: a static text at the left margin, followed by its control line.
        if (code.val.num == 5 && x.xltype == xltypeNum && x.val.num == 10 && i + 1 < rows) {
            const XLOPER& control = at(table, i + 1, 0);
            ShownControl c;
            c.type = control.xltype == xltypeNum ? static_cast<int>(control.val.num) : 0;
            c.label = text_of(at(table, i, 5));
            const XLOPER& initial = at(table, i + 1, 6);
            if (initial.xltype == xltypeStr)
                c.initial = text_of(initial);
            else if (initial.xltype == xltypeNum)
                c.initial = number_text(initial.val.num);
            if (c.type == 21)
                c.entries = names[text_of(at(table, i + 1, 5))];
            shown.controls.push_back(c);
            control_rows.push_back(i + 1);
        }
    }
    dialogs.push_back(shown);

    DialogAnswer answer;
    answer.ok = false;
    if (!answers.empty()) {
        answer = answers.front();
        answers.erase(answers.begin());
    }
    if (!answer.ok) {
        result->xltype = xltypeBool;
        result->val.xbool = 0;
        return xlretSuccess;
    }

    XLOPER* copy = new XLOPER[rows * 7];
    live[copy] = true;
    for (int i = 0; i < rows * 7; ++i) {
        const XLOPER& from = table.val.array.lparray[i];
        copy[i] = from;
        if (from.xltype == xltypeStr)
            copy[i].val.str = new_string(text_of(from));
    }
    for (std::size_t k = 0; k < control_rows.size(); ++k) {
        const ShownControl& c = shown.controls[k];
        std::map<std::string, std::string>::const_iterator typed = answer.typed.find(c.label);
        XLOPER& cell = copy[control_rows[k] * 7 + 6];
        if (c.type == 21) {
            // A list answers the position of its entry as a number, also when left alone.
            double position = typed == answer.typed.end() ? std::atof(c.initial.c_str()) : 0.0;
            if (typed != answer.typed.end())
                for (std::size_t e = 0; e < c.entries.size(); ++e)
                    if (c.entries[e] == typed->second)
                        position = static_cast<double>(e + 1);
            free_value(cell);
            cell.xltype = xltypeNum;
            cell.val.num = position;
        } else if (typed != answer.typed.end()) {
            free_value(cell);
            cell = to_oper(Value::of_text(typed->second));
        }
    }
    result->xltype = xltypeMulti;
    result->val.array.lparray = copy;
    result->val.array.rows = static_cast<std::uint16_t>(rows);
    result->val.array.columns = 7;
    return xlretSuccess;
}

int Excel::call(int xlfn, LPXLOPER result, int count, LPXLOPER* args)
{
    switch (xlfn) {
    case xlFree:
        for (int i = 0; i < count; ++i)
            free_value(*args[i]);
        return xlretSuccess;
    case xlCoerce:
        if (count < 2 || args[1]->xltype != xltypeInt)
            return xlretFailed;
        return coerce(result, *args[0], args[1]->val.w);
    case xlSet:
        return count == 2 ? set_cells(*args[0], *args[1]) : xlretInvCount;
    case xlSheetId:
        return sheet_id(result, count, args);
    case xlcAlert:
        alerts.push_back(std::make_pair(text_of(*args[0]),
                                        count > 1 && args[1]->xltype == xltypeInt ? args[1]->val.w
                                        : count > 1 && args[1]->xltype == xltypeNum
                                            ? static_cast<int>(args[1]->val.num)
                                            : 0));
        return xlretSuccess;
    case xlfSetName:
        return set_name(count, args);
    case xlfDialogBox:
        return count == 1 ? dialog_box(result, *args[0]) : xlretInvCount;
    default:
        return xlretFailed;
    }
}

} // namespace fake

extern "C" int XLCALL_CONV Excel4v(int xlfn, LPXLOPER operRes, int count, LPXLOPER opers[])
{
    return fake::Excel::instance().call(xlfn, operRes, count, opers);
}

extern "C" int Excel4(int xlfn, LPXLOPER operRes, int count, ...)
{
    std::vector<LPXLOPER> args(count > 0 ? count : 0);
    va_list list;
    va_start(list, count);
    for (int i = 0; i < count; ++i)
        args[i] = va_arg(list, LPXLOPER);
    va_end(list);
    return Excel4v(xlfn, operRes, count, args.data());
}
