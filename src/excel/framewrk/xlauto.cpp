#include "excel/framewrk/xlauto.hpp"

#include "excel/framewrk/ExcelApi.hpp"
#include "excel/framewrk/Framework.hpp"
#include "excel/framewrk/xlauto_internal.hpp"

#include <cstring>

#ifdef _WIN32
#include <cstdio>
#include <vector>
#endif

namespace xlauto {

State& state() {
    static State s;
    return s;
}

const std::string& version_text() { return state().version; }
bool correct_instance() { return state().correct_instance; }
bool message_shown() { return state().message_shown; }
void set_message_shown() { state().message_shown = true; }
bool automation_ready() {
#ifdef _WIN32
    return state().application && state().workbooks;
#else
    return false;
#endif
}

Counted::Counted(const std::string& text) {
    const std::size_t n = text.size() < 255 ? text.size() : 255;
    buffer[0] = static_cast<char>(static_cast<unsigned char>(n));
    std::memcpy(buffer + 1, text.data(), n);
    value.xltype = xltypeStr;
    value.val.str = buffer;
}

std::string text_of(const XLOPER& x) {
    if ((x.xltype & 0x0FFF) != xltypeStr || !x.val.str)
        return std::string();
    return std::string(x.val.str + 1, static_cast<unsigned char>(x.val.str[0]));
}

void debug_output(const char* text) {
#ifdef _WIN32
    OutputDebugStringA(text);
#else
    (void)text; // no debugger channel off Windows
#endif
}

#ifdef _WIN32

HRESULT invoke(IDispatch* object, const wchar_t* member, WORD flags, VARIANT* out, VARIANT* argument) {
    // The result is always initialised, so callers may clear it whatever happened.
    VariantInit(out);
    if (!object)
        return E_POINTER;
    DISPID id;
    LPOLESTR name = const_cast<LPOLESTR>(member);
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr))
        return hr;
    DISPPARAMS params;
    params.rgvarg = argument;
    params.rgdispidNamedArgs = nullptr;
    params.cArgs = argument ? 1 : 0;
    params.cNamedArgs = 0;
    return object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, out, nullptr, nullptr);
}

namespace {

// Runs CheckInstance through the candidate's macro interpreter: if the call lands in this
// process, the candidate is the spreadsheet hosting the add-in.
bool probe(IDispatch* application, const std::string& module_path) {
    std::vector<char> macro(module_path.size() + 64);
    std::snprintf(macro.data(), macro.size(), "%s%s%s", "cALL(\"", module_path.c_str(), "\",\"CheckInstance\",\"j\")");
    const int wide_length = MultiByteToWideChar(CP_ACP, 0, macro.data(), -1, nullptr, 0);
    if (wide_length <= 0)
        return false;
    std::vector<wchar_t> wide(static_cast<std::size_t>(wide_length));
    MultiByteToWideChar(CP_ACP, 0, macro.data(), -1, wide.data(), wide_length);

    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = SysAllocString(wide.data());
    if (!argument.bstrVal)
        return false;

    State& s = state();
    s.checking = true;
    VARIANT out;
    invoke(application, L"ExecuteExcel4Macro", DISPATCH_METHOD, &out, &argument);
    s.checking = false;
    VariantClear(&out);
    VariantClear(&argument);
    return s.correct_instance;
}

// The "Application" property of an automation object, probed; the application object is
// kept in the state when the probe reaches this process.
bool try_candidate(IUnknown* object, const std::string& module_path) {
    IDispatch* dispatch = nullptr;
    if (FAILED(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
        return false;
    VARIANT application;
    HRESULT hr = invoke(dispatch, L"Application", DISPATCH_PROPERTYGET, &application, nullptr);
    dispatch->Release();
    if (FAILED(hr) || application.vt != VT_DISPATCH || !application.pdispVal) {
        VariantClear(&application);
        return false;
    }
    if (probe(application.pdispVal, module_path)) {
        state().application = application.pdispVal; // keeps the reference
        return true;
    }
    VariantClear(&application);
    return false;
}

HRESULT find_host(const std::string& module_path) {
    State& s = state();
    if (s.application)
        return E_UNEXPECTED; // a search starts from nothing

    Excel(xlcEcho, nullptr, 1, TempBool(0));
    XLOPER sheet;
    sheet.xltype = xltypeErr;
    const bool opened = Excel(xlcNew, &sheet, 1, TempNum(6)) == xlretSuccess && (sheet.xltype & 0x0FFF) != xltypeErr;
    Excel(xlFree, nullptr, 1, &sheet);

    HRESULT hr = S_OK;
    if (!s.ole_initialised) {
        hr = OleInitialize(nullptr);
        if (FAILED(hr))
            debug_output("OleInitialize Failed\n");
        else
            s.ole_initialised = true;
    }

    if (SUCCEEDED(hr)) {
        CLSID clsid;
        IUnknown* active = nullptr;
        if (SUCCEEDED(CLSIDFromProgID(L"Excel.Application", &clsid)) &&
            SUCCEEDED(GetActiveObject(clsid, nullptr, &active)) && active) {
            try_candidate(active, module_path);
            active->Release();
        }

        IBindCtx* context = nullptr;
        IRunningObjectTable* table = nullptr;
        IEnumMoniker* running = nullptr;
        if (!s.correct_instance && SUCCEEDED(CreateBindCtx(0, &context)) &&
            SUCCEEDED(context->GetRunningObjectTable(&table)) && SUCCEEDED(table->EnumRunning(&running))) {
            IMoniker* moniker = nullptr;
            while (!s.correct_instance && running->Next(1, &moniker, nullptr) == S_OK) {
                IUnknown* object = nullptr;
                if (SUCCEEDED(table->GetObject(moniker, &object)) && object) {
                    try_candidate(object, module_path);
                    object->Release();
                }
                moniker->Release();
            }
        }
        if (running)
            running->Release();
        if (table)
            table->Release();
        if (context)
            context->Release();
        hr = s.correct_instance ? S_OK : E_FAIL;
    }

    if (opened)
        Excel(xlcClose, nullptr, 1, TempBool(0));
    // Echo goes back on whatever happened: a failed search must not leave the screen frozen.
    Excel(xlcEcho, nullptr, 1, TempBool(1));
    return hr;
}

} // namespace

#endif // _WIN32

} // namespace xlauto

using xlauto::Counted;
using xlauto::state;

int InitFramework() {
    FreeAllTempMemory();
    return static_cast<int>(InitXLCoerce());
}

int QuitFramework() { return TermXLCoerce(); }

int check_instance_probe() {
    if (state().checking)
        state().correct_instance = true;
    return 1;
}

XLAutoStatus InitXLCoerce() {
    TermXLCoerce();

    XLOPER module;
    module.xltype = xltypeNil;
    if (Excel(xlGetName, &module, 0) != xlretSuccess)
        return xlauto_fail;
    if ((module.xltype & 0x0FFF) != xltypeStr) {
        Excel(xlFree, nullptr, 1, &module);
        return xlauto_fail;
    }

    // Registering CheckInstance keeps the add-in loaded, and gives the probe a procedure
    // to call.
    Counted procedure("CheckInstance");
    XLOPER id;
    id.xltype = xltypeNil;
    bool kept =
        Excel(xlfRegisterId, &id, 2, &module, &procedure.value) == xlretSuccess && (id.xltype & 0x0FFF) == xltypeNum;
    Excel(xlFree, nullptr, 1, &id);
    if (!kept) {
        Counted types("J");
        id.xltype = xltypeNil;
        kept = Excel(xlfRegister, &id, 3, &module, &procedure.value, &types.value) == xlretSuccess &&
               (id.xltype & 0x0FFF) == xltypeNum;
        Excel(xlFree, nullptr, 1, &id);
    }
    if (!kept) {
        xlauto::debug_output("KeepDLLLoaded Failed\n");
        Excel(xlFree, nullptr, 1, &module);
        return xlauto_fail;
    }

    XLOPER version;
    version.xltype = xltypeNil;
    XLAutoStatus status = Excel(xlfGetWorkspace, &version, 1, TempNum(2.0));
    if (status == xlretSuccess) {
        if ((version.xltype & 0x0FFF) == xltypeStr)
            state().version = xlauto::text_of(version);
        else
            status = xlretFailed;
        Excel(xlFree, nullptr, 1, &version);
    }

    if (state().version != "8.0") {
        Excel(xlFree, nullptr, 1, &module);
        return status;
    }

    // A search starts from nothing: an instance found while the add-in was last open proves
    // nothing now.
    state().correct_instance = false;

#ifdef _WIN32
    const std::string path = xlauto::text_of(module);
    Excel(xlFree, nullptr, 1, &module);
    HRESULT hr = xlauto::find_host(path);
    if (FAILED(hr))
        return hr;
    VARIANT workbooks;
    hr = xlauto::invoke(state().application, L"Workbooks", DISPATCH_PROPERTYGET, &workbooks, nullptr);
    if (FAILED(hr) || workbooks.vt != VT_DISPATCH || !workbooks.pdispVal) {
        VariantClear(&workbooks);
        state().application->Release();
        state().application = nullptr;
        return FAILED(hr) ? hr : E_FAIL;
    }
    state().workbooks = workbooks.pdispVal;
    return xlauto_ok;
#else
    // No automation interface off Windows: the fallback stays unset.
    Excel(xlFree, nullptr, 1, &module);
    return xlauto_fail;
#endif
}

int TermXLCoerce() {
#ifdef _WIN32
    if (state().workbooks) {
        state().workbooks->Release();
        state().workbooks = nullptr;
    }
    if (state().application) {
        state().application->Release();
        state().application = nullptr;
    }
    if (state().ole_initialised) {
        OleUninitialize();
        state().ole_initialised = false;
    }
#endif
    XLOPER module;
    module.xltype = xltypeNil;
    int code = Excel(xlGetName, &module, 0);
    if (code != xlretSuccess)
        return code;
    if ((module.xltype & 0x0FFF) == xltypeStr) {
        Counted procedure("CheckInstance");
        XLOPER id;
        id.xltype = xltypeNil;
        code = Excel(xlfRegisterId, &id, 2, &module, &procedure.value);
        if (code == xlretSuccess) {
            if ((id.xltype & 0x0FFF) == xltypeNum)
                code = Excel(xlfUnregister, nullptr, 1, &id);
            Excel(xlFree, nullptr, 1, &id);
        }
    }
    Excel(xlFree, nullptr, 1, &module);
    return code;
}
