#include "FakeExcel.hpp"

#include <cstdarg>
#include <cstring>
#include <sstream>
#include <stdexcept>

namespace fake {

const Value& Value::at(unsigned row, unsigned column) const {
    if (base_type() != xltypeMulti || row >= rows || column >= columns)
        throw std::out_of_range("fake::Value::at outside the array");
    return elements[row * columns + column];
}

Value Value::copy(const XLOPER* x) {
    Value v;
    if (!x)
        return v;
    v.type = x->xltype;
    switch (v.base_type()) {
    case xltypeNum: v.num = x->val.num; break;
    case xltypeStr:
        if (x->val.str)
            v.str.assign(x->val.str + 1, static_cast<unsigned char>(x->val.str[0]));
        else
            v.str_null = true;
        break;
    case xltypeBool: v.word = x->val.xbool; break;
    case xltypeErr: v.word = x->val.err; break;
    case xltypeInt: v.word = x->val.w; break;
    case xltypeSRef: v.ref = x->val.sref.ref; break;
    case xltypeRef:
        if (x->val.mref.lpmref)
            v.ref = x->val.mref.lpmref->reftbl[0];
        break;
    case xltypeMulti:
        v.rows = x->val.array.rows;
        v.columns = x->val.array.columns;
        for (unsigned i = 0; i < v.rows * v.columns; ++i)
            v.elements.push_back(copy(x->val.array.lparray + i));
        break;
    default: break;
    }
    return v;
}

Value num(double d) { Value v; v.type = xltypeNum; v.num = d; return v; }
Value str(const std::string& s) { Value v; v.type = xltypeStr; v.str = s; return v; }
Value boolean(bool b) { Value v; v.type = xltypeBool; v.word = b ? 1 : 0; return v; }
Value nil() { Value v; v.type = xltypeNil; return v; }
Value err(int code) { Value v; v.type = xltypeErr; v.word = code; return v; }
Value multi(unsigned rows, unsigned columns, std::vector<Value> elements) {
    if (elements.size() != rows * columns)
        throw std::invalid_argument("fake::multi: element count does not match the shape");
    Value v;
    v.type = xltypeMulti;
    v.rows = rows;
    v.columns = columns;
    v.elements = std::move(elements);
    return v;
}

Excel& Excel::instance() {
    static Excel excel;
    return excel;
}

void Excel::reset() {
    calls.clear();
    overrides.clear();
    module_path = "/addins/ombrix.so";
    version = "16.0";
    menus.clear();
    menu_order.clear();
    registered.clear();
    names.clear();
    deleted_names.clear();
    dialog_answer = Value();
    dialog_answer_set = false;
    next_id = 1.0;
    // Memory still held by the add-in stays owned, so outstanding() keeps telling.
}

std::vector<const Call*> Excel::calls_of(int function) const {
    std::vector<const Call*> out;
    for (const Call& c : calls)
        if (c.function == function)
            out.push_back(&c);
    return out;
}

void Excel::give_string(XLOPER* result, const std::string& text) {
    if (text.size() > 255)
        throw std::length_error("fake::Excel::give_string: text over 255 characters");
    char* s = new char[text.size() + 1];
    s[0] = static_cast<char>(text.size());
    std::memcpy(s + 1, text.data(), text.size());
    owned.insert(s);
    result->xltype = xltypeStr;
    result->val.str = s;
}

void Excel::build(XLOPER* target, const Value& v) {
    target->xltype = v.base_type();
    switch (v.base_type()) {
    case xltypeNum: target->val.num = v.num; break;
    case xltypeStr: give_string(target, v.str); break;
    case xltypeBool: target->val.xbool = static_cast<std::uint16_t>(v.word); break;
    case xltypeErr: target->val.err = static_cast<std::uint16_t>(v.word); break;
    case xltypeInt: target->val.w = static_cast<std::int16_t>(v.word); break;
    case xltypeMulti: give_array(target, v); break;
    default: break;
    }
}

void Excel::give_array(XLOPER* result, const Value& array) {
    XLOPER* elements = new XLOPER[array.elements.size() ? array.elements.size() : 1];
    owned.insert(elements);
    for (std::size_t i = 0; i < array.elements.size(); ++i)
        build(elements + i, array.elements[i]);
    result->xltype = xltypeMulti;
    result->val.array.lparray = elements;
    result->val.array.rows = static_cast<std::uint16_t>(array.rows);
    result->val.array.columns = static_cast<std::uint16_t>(array.columns);
}

void Excel::release(XLOPER* x) {
    if (!x)
        return;
    const std::uint16_t t = x->xltype & 0x0FFF;
    if (t == xltypeStr && owned.erase(x->val.str)) {
        delete[] x->val.str;
    } else if (t == xltypeMulti && owned.count(x->val.array.lparray)) {
        XLOPER* elements = x->val.array.lparray;
        for (unsigned i = 0; i < unsigned(x->val.array.rows) * x->val.array.columns; ++i)
            release(elements + i);
        owned.erase(elements);
        delete[] elements;
    }
}

namespace {

std::string text_of(const XLOPER* x) {
    if (x && (x->xltype & 0x0FFF) == xltypeStr && x->val.str)
        return std::string(x->val.str + 1, static_cast<unsigned char>(x->val.str[0]));
    return std::string();
}

bool number_of(const XLOPER* x, double& d) {
    if (!x)
        return false;
    switch (x->xltype & 0x0FFF) {
    case xltypeNum: d = x->val.num; return true;
    case xltypeInt: d = x->val.w; return true;
    case xltypeBool: d = x->val.xbool ? 1 : 0; return true;
    case xltypeStr: {
        std::istringstream in(text_of(x));
        return static_cast<bool>(in >> d) && in.eof();
    }
    default: return false;
    }
}

} // namespace

int Excel::emulate(int function, XLOPER* result, const std::vector<XLOPER*>& args) {
    auto arg = [&](std::size_t i) -> XLOPER* { return i < args.size() ? args[i] : nullptr; };
    auto give_num = [&](double d) { if (result) { result->xltype = xltypeNum; result->val.num = d; } };
    auto give_bool = [&](bool b) { if (result) { result->xltype = xltypeBool; result->val.xbool = b; } };
    auto give_err = [&](int e) { if (result) { result->xltype = xltypeErr; result->val.err = static_cast<std::uint16_t>(e); } };

    switch (function) {
    case xlFree:
        for (XLOPER* x : args)
            release(x);
        return xlretSuccess;
    case xlGetName:
        if (result)
            give_string(result, module_path);
        return xlretSuccess;
    case xlCoerce: {
        if (args.empty())
            return xlretInvCount;
        int target = arg(1) && (arg(1)->xltype & 0x0FFF) == xltypeInt ? arg(1)->val.w : 0;
        double d;
        if (target == xltypeInt && number_of(arg(0), d)) {
            if (result) { result->xltype = xltypeInt; result->val.w = static_cast<std::int16_t>(d); }
            return xlretSuccess;
        }
        if (target == xltypeNum && number_of(arg(0), d)) {
            give_num(d);
            return xlretSuccess;
        }
        if (target == xltypeStr && (arg(0)->xltype & 0x0FFF) == xltypeStr) {
            if (result) give_string(result, text_of(arg(0)));
            return xlretSuccess;
        }
        return xlretFailed;
    }
    case xlfRegister: {
        std::string name = text_of(arg(1));
        auto it = registered.find(name);
        double id = it != registered.end() ? it->second : next_id++;
        registered[name] = id;
        give_num(id);
        return xlretSuccess;
    }
    case xlfRegisterId: {
        auto it = registered.find(text_of(arg(1)));
        if (it == registered.end())
            give_err(15);
        else
            give_num(it->second);
        return xlretSuccess;
    }
    case xlfUnregister: {
        double id;
        bool found = false;
        if (number_of(arg(0), id))
            for (auto it = registered.begin(); it != registered.end(); ++it)
                if (it->second == id) { registered.erase(it); found = true; break; }
        give_bool(found);
        return xlretSuccess;
    }
    case xlfGetBar: {
        std::string title = text_of(arg(1));
        if (menus.count(title))
            give_num(1.0);
        else
            give_err(42);
        return xlretSuccess;
    }
    case xlfAddMenu: {
        if (!arg(1) || (arg(1)->xltype & 0x0FFF) != xltypeMulti)
            return xlretFailed;
        std::string title = text_of(arg(1)->val.array.lparray);
        menus.insert(title);
        menu_order.push_back(title);
        if (result) give_string(result, title);
        return xlretSuccess;
    }
    case xlfDeleteMenu: {
        std::string title = text_of(arg(1));
        menus.erase(title);
        give_bool(true);
        return xlretSuccess;
    }
    case xlfSetName: {
        std::string name = text_of(arg(0));
        if (args.size() >= 2) {
            names[name] = Value::copy(arg(1));
        } else {
            names.erase(name);
            deleted_names.push_back(name);
        }
        give_bool(true);
        return xlretSuccess;
    }
    case xlfDialogBox:
        if (dialog_answer_set && result)
            build(result, dialog_answer);
        else
            give_bool(false);
        return xlretSuccess;
    case xlfGetWorkspace:
        if (result) give_string(result, version);
        return xlretSuccess;
    case xlcAlert:
    case xlcEcho:
        give_bool(true);
        return xlretSuccess;
    default:
        give_err(15);
        return xlretFailed;
    }
}

int Excel::dispatch(int function, XLOPER* result, int count, XLOPER** args) {
    Call call;
    call.function = function;
    call.has_result = result != nullptr;
    std::vector<XLOPER*> list;
    for (int i = 0; i < count; ++i) {
        list.push_back(args[i]);
        call.args.push_back(Value::copy(args[i]));
    }
    calls.push_back(call);
    auto it = overrides.find(function);
    if (it != overrides.end())
        return it->second(function, result, list);
    return emulate(function, result, list);
}

} // namespace fake

extern "C" {

int XLCALL_CONV Excel4v(int xlfn, LPXLOPER operRes, int count, LPXLOPER opers[]) {
    return fake::Excel::instance().dispatch(xlfn, operRes, count, opers);
}

int Excel4(int xlfn, LPXLOPER operRes, int count, ...) {
    std::vector<LPXLOPER> args;
    va_list ap;
    va_start(ap, count);
    for (int i = 0; i < count; ++i)
        args.push_back(va_arg(ap, LPXLOPER));
    va_end(ap);
    return fake::Excel::instance().dispatch(xlfn, operRes, count, args.data());
}

} // extern "C"
