#ifndef OMBRIX_IO_DOCUMENT_HPP
#define OMBRIX_IO_DOCUMENT_HPP

#include "engine/Workbook.hpp"
#include "io/Package.hpp"

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace host::io {

enum class Format { Xlsx, Csv };

// A workbook together with the file it came from. For an .xlsx file the original package
// is kept, so that saving rewrites only what changed.
struct Document {
    std::string path;
    Format format = Format::Xlsx;
    engine::Workbook workbook;
    // The package read, and the worksheet part of each sheet ("" for chart sheets);
    // empty for a workbook that came from elsewhere.
    std::shared_ptr<const Package> package;
    std::string workbook_part;
    std::vector<std::string> sheet_parts;
    // What the user should hear about while loading: names that could not be defined.
    // Unknown functions and circular references: diagnostic_warnings().
    std::vector<std::string> warnings;
    // Cells of an .xlsx file whose formula the engine cannot read: they hold #NAME? here, and
    // saving leaves them in the file as they were, formula and all.
    std::set<std::tuple<int, std::int32_t, std::int32_t>> unread_formulas;
    // Defined names to write with the workbook, each replacing the name of that spelling and
    // scope (sheet index, -1: the workbook) or added hidden; the formula without "=".
    struct NameEdit {
        std::string name;
        int sheet = -1;
        std::string formula;
    };
    std::vector<NameEdit> name_edits;
    // Defined names the engine could not read (a union of ranges, say), as the file has them.
    std::vector<NameEdit> unread_names;
};

// Loads by extension: .csv as text, anything else as an .xlsx package. Throws io::IoError.
Document load(const std::string& path);

// Saves by the extension of `path`: .csv writes the active sheet, anything else an .xlsx
// package (written back over the original package when the document has one). Atomic:
// on failure the target is left as it was. Throws io::IoError.
void save(const Document& document, const std::string& path);

// The format a path names by its extension (case-insensitive ".csv" is Csv).
Format format_of(const std::string& path);

// Writes `bytes` to `path` through a temporary file in the same directory, synced and then
// renamed over the target; on any failure, or SIGINT/SIGTERM while writing, the temporary
// file is removed and the target is untouched. A symbolic link is saved through to the file
// it names; an existing file keeps its owner, group and mode. Throws io::IoError, also for
// everything check_save_target() refuses.
void write_file_atomically(const std::string& path, const std::string& bytes);

// A file written piece by piece while something runs, put in place only by commit(), with
// what write_file_atomically() promises. Until then the pieces are in a file without a name
// in the target's directory (where the file system has them; a hidden temporary file
// otherwise), so that nothing is left behind however the program ends. Throws io::IoError.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const std::string& path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void write(const std::string& bytes);
    void commit();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Refuses (io::IoError, saying why) a save target that cannot be replaced by a workbook
// file: not a regular file (a directory, device, FIFO...), read-only, owned by another user,
// or in a directory that is missing or cannot be written. For checking before long work.
void check_save_target(const std::string& path);

// "Sheet1!B7" for messages and keys: the sheet name unquoted.
std::string cell_key(const engine::Workbook& workbook, const engine::CellAddress& cell);

// "Sheet1!A1, Sheet1!B2" for messages: the first ten cells, then how many more.
std::string cell_list(const engine::Workbook& workbook, const std::vector<engine::CellAddress>& cells);

// Warnings for the workbook's unknown functions (once each, with its cells), number formats
// TEXT could not show, and circular references, prefixed with the file name.
std::vector<std::string> diagnostic_warnings(const std::string& file, const engine::Workbook& workbook);

} // namespace host::io

#endif
