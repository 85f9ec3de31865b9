#include "excel/SheetRef.hpp"

#include "excel/CellRef.hpp"
#include "excel/ExcelException.hpp"

#include <cstring>

namespace excel {
namespace sheetref {

XLREF rectangle(int x0, int y0, int x1, int y1, const char* off_sheet) {
    if (x0 < 0 || y0 < 0 || x0 > x1 || y0 > y1 || x1 > CellRef::last_column || y1 > CellRef::last_row)
        throw ExcelException(off_sheet);
    XLREF r;
    r.rwFirst = static_cast<std::uint16_t>(y0);
    r.rwLast = static_cast<std::uint16_t>(y1);
    r.colFirst = static_cast<std::uint8_t>(x0);
    r.colLast = static_cast<std::uint8_t>(x1);
    return r;
}

IDSHEET sheet_id(const std::string& book, const std::string& sheet) {
    if (sheet.empty())
        throw ExcelException("The reference names the book '" + book + "' but no sheet");
    const std::string name = book.empty() ? sheet : "[" + book + "]" + sheet;
    if (name.size() > 255)
        throw ExcelException("Sheet name too long: '" + name + "'");

    char text[256];
    text[0] = static_cast<char>(static_cast<unsigned char>(name.size()));
    std::memcpy(text + 1, name.data(), name.size());
    XLOPER arg;
    arg.xltype = xltypeStr;
    arg.val.str = text;
    XLOPER result;
    result.xltype = xltypeNil;
    const int code = Excel4(xlSheetId, &result, 1, &arg);
    if (code != xlretSuccess)
        throw ExcelException("No sheet named '" + name + "' is open");
    const bool found = result.xltype == xltypeRef;
    const IDSHEET id = found ? result.val.mref.idSheet : 0;
    Excel4(xlFree, nullptr, 1, &result);
    if (!found)
        throw ExcelException("No sheet named '" + name + "' is open");
    return id;
}

void make_reference(XLOPER& ref, XLMREF& mref, const XLREF& rect, const std::string& book, const std::string& sheet) {
    mref.count = 1;
    mref.reftbl[0] = rect;
    if (sheet.empty() && book.empty()) {
        ref.xltype = xltypeSRef;
        ref.val.sref.count = 1;
        ref.val.sref.ref = rect;
    } else {
        const IDSHEET id = sheet_id(book, sheet);
        ref.xltype = xltypeRef;
        ref.val.mref.lpmref = &mref;
        ref.val.mref.idSheet = id;
    }
}

} // namespace sheetref
} // namespace excel
