#include "excel/framewrk/xlcoerce.hpp"

#include "excel/framewrk/Framework.hpp"
#include "excel/framewrk/xlauto.hpp"
#include "excel/framewrk/xlauto_internal.hpp"

#ifdef _WIN32
#include <cstring>
#include <cwchar>
#include <memory>
#include <vector>
#endif

namespace {

int plain_coerce(LPXLOPER result, int count, LPXLOPER* args) {
    if (count == 1)
        return Excel(xlCoerce, result, 1, args[0]);
    return Excel(xlCoerce, result, 2, args[0], args[1]);
}

bool is_reference(const XLOPER* x) {
    const int t = x->xltype & 0x0FFF;
    return t == xltypeRef || t == xltypeSRef;
}

#ifdef _WIN32

std::string column_letters(unsigned column) {
    std::string letters;
    if (column / 26)
        letters += static_cast<char>('A' + column / 26 - 1);
    letters += static_cast<char>('A' + column % 26);
    return letters;
}

// Storage of one temporary value built from an automation result.
struct Temporary {
    std::vector<std::unique_ptr<char[]>> strings;
    std::vector<XLOPER> elements;
    XLOPER value;

    void set_string(XLOPER& x, BSTR text) {
        const int n = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
        std::unique_ptr<char[]> s(new char[n > 1 ? n : 1]);
        if (n > 1)
            WideCharToMultiByte(CP_ACP, 0, text, -1, s.get() + 1, n - 1, nullptr, nullptr);
        const int length = n > 1 ? (n - 1 > 255 ? 255 : n - 1) : 0;
        s[0] = static_cast<char>(static_cast<unsigned char>(length));
        x.xltype = xltypeStr;
        x.val.str = s.get();
        strings.push_back(std::move(s));
    }

    void set_scalar(XLOPER& x, VARIANT& v) {
        if (v.vt == VT_BSTR) {
            set_string(x, v.bstrVal);
            return;
        }
        if (v.vt == VT_EMPTY) {
            x.xltype = xltypeNil;
            return;
        }
        VARIANT number;
        VariantInit(&number);
        if (SUCCEEDED(VariantChangeType(&number, &v, 0, VT_R8))) {
            x.xltype = xltypeNum;
            x.val.num = number.dblVal;
        } else {
            x.xltype = xltypeErr;
            x.val.err = 15;
        }
        VariantClear(&number);
    }
};

int read_through_automation(LPXLOPER result, const XLOPER& reference, LPXLOPER target) {
    if (reference.val.mref.lpmref == nullptr || reference.val.mref.lpmref->count != 1)
        return xlretFailed;

    XLOPER sheet_name;
    sheet_name.xltype = xltypeNil;
    XLOPER ref = reference;
    if (Excel(xlSheetNm, &sheet_name, 1, &ref) != xlretSuccess)
        return xlretFailed;
    const std::string full = xlauto::text_of(sheet_name);
    Excel(xlFree, nullptr, 1, &sheet_name);
    const std::size_t close = full.find(']');
    if (full.empty() || full[0] != '[' || close == std::string::npos)
        return xlretFailed;
    const std::string book = full.substr(1, close - 1);
    const std::string sheet = full.substr(close + 1);

    const XLREF& r = reference.val.mref.lpmref->reftbl[0];
    const std::string address = column_letters(r.colFirst) + std::to_string(r.rwFirst + 1u) + ":" +
                                column_letters(r.colLast) + std::to_string(r.rwLast + 1u);

    auto wide = [](const std::string& s) {
        const int n = MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, nullptr, 0);
        std::vector<wchar_t> w(n > 0 ? n : 1);
        if (n > 0)
            MultiByteToWideChar(CP_ACP, 0, s.c_str(), -1, w.data(), n);
        return SysAllocString(w.data());
    };
    auto step = [&](IDispatch* object, const wchar_t* member, const std::string* argument, VARIANT* out) {
        VARIANT arg;
        VariantInit(&arg);
        if (argument) {
            arg.vt = VT_BSTR;
            arg.bstrVal = wide(*argument);
        }
        HRESULT hr = xlauto::invoke(object, member, DISPATCH_PROPERTYGET, out, argument ? &arg : nullptr);
        VariantClear(&arg);
        return SUCCEEDED(hr) && (out->vt == VT_DISPATCH || std::wcscmp(member, L"Value") == 0);
    };

    VARIANT wb, sheets, ws, range, value;
    VariantInit(&wb);
    VariantInit(&sheets);
    VariantInit(&ws);
    VariantInit(&range);
    VariantInit(&value);
    int code = xlretFailed;
    if (step(xlauto::state().workbooks, L"Item", &book, &wb) && step(wb.pdispVal, L"Worksheets", nullptr, &sheets) &&
        step(sheets.pdispVal, L"Item", &sheet, &ws) && step(ws.pdispVal, L"Range", &address, &range) &&
        step(range.pdispVal, L"Value", nullptr, &value)) {
        Temporary temp;
        if ((value.vt & VT_ARRAY) && value.parray && SafeArrayGetDim(value.parray) == 2) {
            LONG r0, r1, c0, c1;
            SafeArrayGetLBound(value.parray, 1, &r0);
            SafeArrayGetUBound(value.parray, 1, &r1);
            SafeArrayGetLBound(value.parray, 2, &c0);
            SafeArrayGetUBound(value.parray, 2, &c1);
            const LONG rows = r1 - r0 + 1, columns = c1 - c0 + 1;
            temp.elements.resize(static_cast<std::size_t>(rows * columns));
            for (LONG i = 0; i < rows; ++i)
                for (LONG j = 0; j < columns; ++j) {
                    LONG index[2] = {r0 + i, c0 + j};
                    VARIANT element;
                    VariantInit(&element);
                    SafeArrayGetElement(value.parray, index, &element);
                    temp.set_scalar(temp.elements[static_cast<std::size_t>(i * columns + j)], element);
                    VariantClear(&element);
                }
            temp.value.xltype = xltypeMulti;
            temp.value.val.array.lparray = temp.elements.data();
            temp.value.val.array.rows = static_cast<std::uint16_t>(rows);
            temp.value.val.array.columns = static_cast<std::uint16_t>(columns);
        } else {
            temp.set_scalar(temp.value, value);
        }
        code = target ? Excel(xlCoerce, result, 2, &temp.value, target) : Excel(xlCoerce, result, 1, &temp.value);
    }
    VariantClear(&value);
    VariantClear(&range);
    VariantClear(&ws);
    VariantClear(&sheets);
    VariantClear(&wb);
    return code;
}

#endif // _WIN32

} // namespace

int XLCoercev(LPXLOPER result, int count, LPXLOPER* args) {
    if (count < 1 || count > 2 || !args || !args[0])
        return xlretInvCount;
    if (count == 2 && (!args[1] || (args[1]->xltype & 0x0FFF) != xltypeInt))
        return xlretInvCount;
    const int target = count == 2 ? static_cast<int>(args[1]->val.w) : static_cast<int>(xltypeMissing);
    if (!is_reference(args[0]) || (target != xltypeStr && target != xltypeMulti && target != xltypeMissing) ||
        xlauto::version_text() != "8.0")
        return plain_coerce(result, count, args);

#ifdef _WIN32
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Run as a command, not inside a worksheet function: the spreadsheet coerces itself.
        XLOPER active;
        active.xltype = xltypeNil;
        if (Excel(xlcActivate, &active, 0) == xlretSuccess) {
            const bool command = (active.xltype & 0x0FFF) == xltypeBool  ? active.val.xbool != 0
                                 : (active.xltype & 0x0FFF) == xltypeNum ? active.val.num != 0
                                                                         : false;
            Excel(xlFree, nullptr, 1, &active);
            if (command)
                return plain_coerce(result, count, args);
        }

        XLOPER is_text, any;
        is_text.xltype = xltypeNil;
        any.xltype = xltypeNil;
        Excel(xlfIstext, &is_text, 1, args[0]);
        Excel(xlfOr, &any, 1, &is_text);
        Excel(xlFree, nullptr, 1, &is_text);
        const bool has_text = (any.xltype & 0x0FFF) == xltypeBool && any.val.xbool;
        Excel(xlFree, nullptr, 1, &any);
        if (!has_text)
            return plain_coerce(result, count, args);

        if (xlauto::correct_instance() && xlauto::automation_ready()) {
            XLOPER reference;
            reference.xltype = xltypeNil;
            int code = Excel(xlCoerce, &reference, 2, args[0], TempInt(xltypeRef));
            if (code != xlretSuccess)
                return code;
            code = read_through_automation(result, reference, count == 2 ? args[1] : nullptr);
            Excel(xlFree, nullptr, 1, &reference);
            return code;
        }
        if (xlauto::message_shown())
            return xlretFailed;
        MessageBoxA(GetActiveWindow(),
                    "Unable to complete calculation with other instances of Excel Opened\n"
                    "Please close all other instances of Excel, then Click OK",
                    "Error", MB_OK);
        xlauto::set_message_shown();
        InitXLCoerce();
    }
    return xlretFailed;
#else
    return plain_coerce(result, count, args);
#endif
}

int XLCoerce(LPXLOPER result, LPXLOPER source, LPXLOPER target) {
    LPXLOPER args[2] = {source, target};
    return XLCoercev(result, target ? 2 : 1, args);
}
