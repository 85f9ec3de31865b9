#include "excel/Caller.hpp"

#include "excel/Error.hpp"
#include "excel/ExcelException.hpp"
#include "excel/String.hpp"
#include "excel/framewrk/Framework.hpp"

#include <cstdint>

namespace excel {

namespace {

// The xlfCaller result, released with xlFree when done.
struct CallerValue {
    XLOPER value;

    CallerValue() {
        value.xltype = xltypeNil;
        throw_on_bad_ret(static_cast<std::uint16_t>(Excel(xlfCaller, &value, 0)));
    }
    ~CallerValue() { Excel(xlFree, nullptr, 1, &value); }
    CallerValue(const CallerValue&) = delete;
    CallerValue& operator=(const CallerValue&) = delete;

    // The calling cell: the top-left of its rectangle.
    XLREF rectangle() const {
        if (value.xltype == xltypeSRef)
            return value.val.sref.ref;
        if (value.xltype == xltypeRef && value.val.mref.lpmref != nullptr && value.val.mref.lpmref->count >= 1)
            return value.val.mref.lpmref->reftbl[0];
        throw ExcelException("The caller is not a cell");
    }
};

} // namespace

std::string column_letters(unsigned column) {
    std::string letters;
    if (column / 26 != 0)
        letters += static_cast<char>('A' + column / 26 - 1);
    letters += static_cast<char>('A' + column % 26);
    return letters;
}

std::string sheetname() {
    CallerValue caller;
    caller.rectangle(); // refuses a caller that is not a cell
    XLOPER name;
    name.xltype = xltypeNil;
    throw_on_bad_ret(static_cast<std::uint16_t>(Excel(xlSheetNm, &name, 1, &caller.value)));
    struct Release {
        XLOPER* x;
        ~Release() { Excel(xlFree, nullptr, 1, x); }
    } release{&name};
    if (name.xltype != xltypeStr)
        throw ErrorVALUE;
    String text(&name);
    return std::string(text.c_str(), text.length());
}

std::string cellref() {
    XLREF r;
    {
        CallerValue caller;
        r = caller.rectangle();
    }
    return column_letters(r.colFirst) + std::to_string(unsigned(r.rwFirst) + 1);
}

std::string cellfullref() {
    const std::string cell = cellref();
    return sheetname() + "!" + cell;
}

} // namespace excel
