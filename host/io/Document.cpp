#include "io/Document.hpp"

#include "io/Csv.hpp"
#include "io/IoError.hpp"
#include "io/Xlsx.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace host::io {

Format format_of(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return Format::Xlsx;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return ext == "csv" ? Format::Csv : Format::Xlsx;
}

Document load(const std::string& path) {
    return format_of(path) == Format::Csv ? load_csv(path) : load_xlsx(path);
}

void save(const Document& document, const std::string& path) {
    if (format_of(path) == Format::Csv)
        write_file_atomically(path, csv_text(document.workbook, document.workbook.active_sheet()));
    else
        save_xlsx(document, path);
}

void write_file_atomically(const std::string& path, const std::string& bytes) {
    std::size_t slash = path.find_last_of('/');
    std::string dir = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    if (base.empty()) throw IoError(path, "cannot save: not a file name");
    std::string temp = (slash == std::string::npos ? std::string() : dir) + "." + base + ".XXXXXX";

    auto failure = [&](const char* what) {
        return IoError(path, std::string("cannot save: ") + what + ": " + std::strerror(errno));
    };
    int fd = mkstemp(&temp[0]);
    if (fd < 0) throw failure("cannot create a temporary file in the target's directory");
    auto give_up = [&](const char* what) {
        IoError error = failure(what);
        ::close(fd);
        ::unlink(temp.c_str());
        throw error;
    };
    // The new file gets the target's permissions, or those of a newly created file.
    struct stat st;
    mode_t mode;
    if (::stat(path.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd, mode) != 0) give_up("cannot set permissions");
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            give_up("cannot write");
        }
        done += std::size_t(n);
    }
    if (::fsync(fd) != 0) give_up("cannot flush to disk");
    if (::close(fd) != 0) {
        IoError error = failure("cannot write");
        ::unlink(temp.c_str());
        throw error;
    }
    if (::rename(temp.c_str(), path.c_str()) != 0) {
        IoError error = failure("cannot replace the target");
        ::unlink(temp.c_str());
        throw error;
    }
    // Make the rename itself durable.
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

std::string cell_key(const engine::Workbook& workbook, const engine::CellAddress& cell) {
    return workbook.sheet_name(cell.sheet) + "!" + engine::a1_name(cell.row, cell.col);
}

namespace {

std::string cell_list(const engine::Workbook& workbook,
                      const std::vector<engine::CellAddress>& cells) {
    const std::size_t shown = 10;
    std::string out;
    for (std::size_t i = 0; i < cells.size() && i < shown; ++i) {
        if (i) out += ", ";
        out += cell_key(workbook, cells[i]);
    }
    if (cells.size() > shown) out += " and " + std::to_string(cells.size() - shown) + " more";
    return out;
}

} // namespace

std::vector<std::string> diagnostic_warnings(const std::string& file,
                                             const engine::Workbook& workbook) {
    std::vector<std::string> out;
    engine::Diagnostics d = workbook.diagnostics();
    for (const auto& unknown : d.unknown_functions)
        out.push_back(file + ": warning: unknown function " + unknown.name + " in " +
                      cell_list(workbook, unknown.cells));
    for (const auto& format : d.unsupported_formats)
        out.push_back(file + ": warning: TEXT cannot show the number format \"" + format.format +
                      "\" (it gives #VALUE!) in " + cell_list(workbook, format.cells));
    for (const auto& cycle : d.cycles)
        out.push_back(file + ": warning: circular reference through " +
                      cell_list(workbook, cycle));
    return out;
}

} // namespace host::io
