#ifndef OMBRIX_EXCEL_FRAMEWRK_XLAUTO_HPP
#define OMBRIX_EXCEL_FRAMEWRK_XLAUTO_HPP

// Set-up and tear-down of the framework, and of the automation fallback that lets a
// worksheet function read text out of a reference on spreadsheet version 8.0. Elsewhere
// the fallback only keeps the add-in loaded by registering CheckInstance.

#include <string>

// OLE status codes as the set-up returns them.
typedef long XLAutoStatus;
constexpr XLAutoStatus xlauto_ok = 0;
constexpr XLAutoStatus xlauto_fail = static_cast<XLAutoStatus>(0x80004005UL); // E_FAIL

// Empties the temporary pool, then sets up the fallback; returns InitXLCoerce's status.
int InitFramework();
// Takes the fallback down; returns TermXLCoerce's result.
int QuitFramework();

XLAutoStatus InitXLCoerce();
int TermXLCoerce();

// The body of the exported CheckInstance: always 1; while a probe is running it also
// records that the probe reached this process.
int check_instance_probe();

namespace xlauto {

// State shared with the coercion.
const std::string& version_text();
bool correct_instance();
bool message_shown();
void set_message_shown();
// Whether the automation objects of the hosting spreadsheet are at hand.
bool automation_ready();

} // namespace xlauto

#endif
