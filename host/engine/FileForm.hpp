#ifndef OMBRIX_HOST_ENGINE_FILEFORM_HPP
#define OMBRIX_HOST_ENGINE_FILEFORM_HPP

// Formulas as workbook files store them. Functions newer than the file format are written
// with a prefix (_xlfn.IFS, _xlfn._xlws.FILTER); a file that calls one without it was typed
// into a version that did not know the function, and the spreadsheet still takes the name
// for a function it does not know (#NAME?). The engine reads such a call as _xludf.IFS (the
// prefix files give a function of the user's that shares a built-in one's name), so the
// text alone says what the formula means wherever it goes.

#include <string>
#include <string_view>

namespace host::engine {

// The prefix a file writes the function (upper case, no prefix) with: "_xlfn.",
// "_xlfn._xlws." or "" for the functions the file format always had.
std::string_view file_prefix(std::string_view upper_name);

// A formula read from a file the spreadsheet saved, as the engine takes it: calls of newer
// functions without their prefix become calls of unknown functions (_xludf.NAME). False,
// leaving the text, when there are none (or the text does not read as a formula).
bool unknown_unprefixed_calls(std::string& formula);

// A formula as a file stores it: calls of newer functions written without their prefix
// (as they are typed) get it. _xludf. calls stay as they are.
std::string formula_for_file(const std::string& formula);

} // namespace host::engine

#endif
