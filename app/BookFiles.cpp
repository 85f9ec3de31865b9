#include "BookFiles.hpp"

#include "engine/Unicode.hpp"
#include "io/IoError.hpp"

#include <ostream>

namespace app {

host::io::Document open_book(const std::string& path, const std::string& sheet, std::ostream& err) {
    host::io::Document document = host::io::load(path);
    for (const std::string& w : document.warnings)
        err << w << "\n";
    host::engine::Workbook& book = document.workbook;
    book.recalculate_all();
    if (!sheet.empty()) {
        int s = find_sheet(book, sheet);
        if (s < 0) {
            std::string names;
            for (const std::string& n : book.sheet_names())
                names += (names.empty() ? "" : ", ") + n;
            throw UsageError("the workbook has no sheet \"" + sheet + "\" (its sheets: " + names + ")");
        }
        book.set_active_sheet(s);
    }
    return document;
}

int find_sheet(const host::engine::Workbook& book, std::string_view name) {
    int exact = book.find_sheet(name);
    if (exact >= 0)
        return exact;
    std::string folded = host::engine::fold_case(name);
    for (int s = 0; s < book.sheet_count(); ++s)
        if (host::engine::fold_case(book.sheet_name(s)) == folded)
            return s;
    return -1;
}

void check_save(const host::io::Document& document, const std::string& target, bool sheet_chosen) {
    // Found before any work is done, a target that cannot be saved is a mistake in the request.
    try {
        host::io::check_save_target(target);
    } catch (const host::io::IoError& e) {
        throw UsageError(e.what());
    }
    if (host::io::format_of(target) != host::io::Format::Csv || sheet_chosen)
        return;
    const host::engine::Workbook& book = document.workbook;
    std::string lost;
    for (int s = 0; s < book.sheet_count(); ++s)
        if (s != book.active_sheet())
            lost += (lost.empty() ? "the sheets " : ", ") + book.sheet_name(s);
    std::vector<std::string> names = book.names();
    for (std::size_t i = 0; i < names.size(); ++i)
        lost += (i == 0 ? std::string(lost.empty() ? "" : " and ") + "the defined names " : ", ") + names[i];
    if (!lost.empty())
        throw UsageError("a .csv file holds one sheet and no names: saving " + target + " would lose " + lost +
                         "; save as .xlsx, or pick the sheet to write with --sheet");
}

} // namespace app
