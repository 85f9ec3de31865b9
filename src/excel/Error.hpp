#ifndef OMBRIX_EXCEL_ERROR_HPP
#define OMBRIX_EXCEL_ERROR_HPP

#include <cstdint>

namespace excel {

// A spreadsheet error code, thrown by value. Deliberately unrelated to usr::Exception:
// handlers catch both.
class Error {
public:
    constexpr explicit Error(std::uint16_t code) : code_(code) {}

    constexpr std::uint16_t code() const { return code_; }
    // "Error: Value" and the like; "Error: Unknown" for a code that is not an error value.
    const char* what() const;

private:
    std::uint16_t code_;
};

constexpr bool operator==(const Error& a, const Error& b) { return a.code() == b.code(); }
constexpr bool operator!=(const Error& a, const Error& b) { return !(a == b); }

inline constexpr Error ErrorNULL{0};
inline constexpr Error ErrorDIV0{7};
inline constexpr Error ErrorVALUE{15};
inline constexpr Error ErrorREF{23};
inline constexpr Error ErrorNAME{29};
inline constexpr Error ErrorNUM{36};
inline constexpr Error ErrorNA{42};
// What an aborted or uncalculated call is reported as: the same code as ErrorVALUE.
inline constexpr Error ErrorUNCALC{15};

// Returns on xlretSuccess. Abort, stack overflow and uncalculated throw ErrorUNCALC;
// every other code throws ExcelException "Bad return value".
void throw_on_bad_ret(std::uint16_t code);

// Shows a spreadsheet alert of the given type. The text is sent as a counted string, so
// only its first 255 characters are shown. Returns the spreadsheet's code.
int display_dialog_box(const char* text, int type);

} // namespace excel

#endif
