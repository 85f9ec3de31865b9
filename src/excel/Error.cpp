#include "excel/Error.hpp"

#include "excel/ExcelException.hpp"
#include "excel/framewrk/Framework.hpp"

#include <cstring>

namespace excel {

const char* Error::what() const {
    switch (code_) {
    case 0: return "Error: Null";
    case 7: return "Error: Div/0";
    case 15: return "Error: Value";
    case 23: return "Error: Ref";
    case 29: return "Error: Name";
    case 36: return "Error: Num";
    case 42: return "Error: N/A";
    default: return "Error: Unknown";
    }
}

void throw_on_bad_ret(std::uint16_t code) {
    switch (code) {
    case xlretSuccess: return;
    case xlretAbort:
    case xlretStackOvfl:
    case xlretUncalced: throw ErrorUNCALC;
    default: throw ExcelException("Bad return value");
    }
}

int display_dialog_box(const char* text, int type) {
    // Length byte, at most 255 characters: a longer text is cut, never written past the
    // buffer or mis-counted in the length byte.
    char buffer[256];
    std::size_t n = text != nullptr ? std::strlen(text) : 0;
    if (n > 255)
        n = 255;
    buffer[0] = static_cast<char>(static_cast<unsigned char>(n));
    if (n > 0)
        std::memcpy(buffer + 1, text, n);

    XLOPER message;
    message.xltype = xltypeStr;
    message.val.str = buffer;
    return Excel(xlcAlert, nullptr, 2, &message, TempInt(static_cast<short>(type)));
}

} // namespace excel
