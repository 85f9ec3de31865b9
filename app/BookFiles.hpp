#ifndef OMBRIX_APP_BOOKFILES_HPP
#define OMBRIX_APP_BOOKFILES_HPP

// Opening the workbook a command works on, and checking where it will be saved before any
// long work starts.

#include "io/Document.hpp"

#include <iosfwd>
#include <stdexcept>
#include <string>
#include <string_view>

namespace app {

// A mistake on the command line found before or while the add-in runs.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Loads the workbook (its warnings to err), recalculates it and makes `sheet` active when
// one is named (UsageError when the workbook has no such sheet).
host::io::Document open_book(const std::string& path, const std::string& sheet, std::ostream& err);

// The sheet of that name without regard to case in Unicode, as the spreadsheet matches
// them ("PLÄN" finds "Plän"); -1 if none.
int find_sheet(const host::engine::Workbook& book, std::string_view name);

// Refuses a target that saving would fail on or lose data at: see check_save_target(), and a
// .csv file for a workbook of several sheets or with defined names unless the sheet to keep
// was chosen (sheet_chosen). Throws UsageError.
void check_save(const host::io::Document& document, const std::string& target, bool sheet_chosen);

} // namespace app

#endif
