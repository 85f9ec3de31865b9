#include "io/Document.hpp"

#include "engine/FileForm.hpp"
#include "engine/OutsideWorld.hpp"
#include "io/Csv.hpp"
#include "io/IoError.hpp"
#include "io/Xlsx.hpp"

namespace host::io {

Format format_of(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return Format::Xlsx;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return ext == "csv" ? Format::Csv : Format::Xlsx;
}

Document load(const std::string& path) { return format_of(path) == Format::Csv ? load_csv(path) : load_xlsx(path); }

void save(const Document& document, const std::string& path) {
    if (format_of(path) == Format::Csv)
        write_file_atomically(path, csv_text(document.workbook, document.workbook.active_sheet()));
    else
        save_xlsx(document, path);
}

std::string cell_key(const engine::Workbook& workbook, const engine::CellAddress& cell) {
    return workbook.sheet_name(cell.sheet) + "!" + engine::a1_name(cell.row, cell.col);
}

std::string cell_list(const engine::Workbook& workbook, const std::vector<engine::CellAddress>& cells) {
    const std::size_t shown = 10;
    std::string out;
    for (std::size_t i = 0; i < cells.size() && i < shown; ++i) {
        if (i)
            out += ", ";
        out += cell_key(workbook, cells[i]);
    }
    if (cells.size() > shown)
        out += " and " + std::to_string(cells.size() - shown) + " more";
    return out;
}

std::vector<std::string> diagnostic_warnings(const std::string& file, const engine::Workbook& workbook) {
    std::vector<std::string> out;
    engine::Diagnostics d = workbook.diagnostics();
    for (const auto& unknown : d.unknown_functions)
        out.push_back(file + ": warning: " +
                      (engine::needs_outside_world(unknown.name)
                           ? unknown.name + " needs the outside world or a data model, which no calculation here "
                                            "can reach; it gives #NAME? in "
                       : !engine::file_prefix(unknown.name).empty()
                           ? unknown.name + " was typed where the spreadsheet did not have it yet (the file calls it " +
                                 "without its " + std::string(engine::file_prefix(unknown.name)) +
                                 " prefix): it gives #NAME? in "
                           : "unknown function " + unknown.name + " in ") +
                      cell_list(workbook, unknown.cells));
    for (const auto& format : d.unsupported_formats)
        out.push_back(file + ": warning: TEXT cannot show the number format \"" + format.format +
                      "\" (it gives #VALUE!) in " + cell_list(workbook, format.cells));
    if (!workbook.calc_settings().iterate) // a cycle computed on purpose needs no warning
        for (const auto& cycle : d.cycles)
            out.push_back(file + ": warning: circular reference through " + cell_list(workbook, cycle));
    return out;
}

} // namespace host::io
