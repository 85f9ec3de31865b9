#ifndef OMBRIX_IO_PACKAGE_HPP
#define OMBRIX_IO_PACKAGE_HPP

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace host::io {

// One relationship of a part, with its target already resolved to a part name.
struct Relationship {
    std::string id;
    std::string type;   // full type URI
    std::string target; // part name without a leading '/', or the raw target if external
    bool external = false;
};

// What reading one workbook may cost at most. A few hundred compressed kilobytes can unpack
// to gigabytes of cells, so a workbook beyond any of these is refused as too large before
// it is parsed, rather than left to exhaust the machine.
struct LoadLimits {
    // All parts read, after decompression.
    std::size_t max_unpacked_bytes = std::size_t(1) << 30;
    // Cells of all sheets together.
    std::size_t max_cells = 10'000'000;
    // What parsing the sheets would take, estimated from each sheet's text and cell count.
    std::size_t max_memory = sizeof(void*) >= 8 ? std::size_t(6) << 30 : std::size_t(1) << 30;
};

// A zip package (an .xlsx file) opened read only from bytes in memory. Part names never
// start with '/'. Errors throw io::IoError naming `file`.
class Package {
public:
    // Parts larger than this are refused rather than read: a guard against zip bombs.
    static constexpr std::size_t max_part_size = std::size_t(1) << 30;

    Package(std::string file, std::string bytes, LoadLimits limits = LoadLimits());
    ~Package();
    Package(const Package&) = delete;
    Package& operator=(const Package&) = delete;

    const std::string& file() const { return file_; }
    const std::string& bytes() const { return bytes_; }
    const LoadLimits& limits() const { return limits_; }
    // Loading is done: later reads (saving reads the parts again) no longer count against
    // the unpacked-size limit, each part stays bounded by max_part_size.
    void loaded() const { loaded_ = true; }
    // Entry names in the order of the archive's directory, each '\\' read as '/' (some
    // writers separate folders with it, and the spreadsheet's repair reads them so); of two
    // names that then read the same, the first.
    const std::vector<std::string>& entries() const { return entries_; }

    // The stored name of a part: exact match first, then ignoring ASCII case, as part
    // names are case insensitive. Empty when absent.
    std::string find(const std::string& part) const;
    bool has(const std::string& part) const { return !find(part).empty(); }
    // `arrived`, when given, sees the text read so far after each piece is decompressed, and
    // may stop the reading by throwing.
    std::string read(const std::string& part, const std::function<void(const std::string&)>& arrived = nullptr) const;

    // The relationships of `part` (read from its _rels/NAME.rels); empty when it has none.
    std::vector<Relationship> relationships(const std::string& part) const;

    // The relationships part of a part: "xl/workbook.xml" -> "xl/_rels/workbook.xml.rels";
    // "" (the package itself) -> "_rels/.rels".
    static std::string rels_name(const std::string& part);
    // Resolves a relationship target against its source part: relative targets against the
    // source's directory, absolute ones ("/xl/...") from the root; "." and ".." removed and
    // %XX escapes decoded.
    static std::string resolve(const std::string& source_part, const std::string& target);

private:
    friend class PackageWriter;
    struct Archive;
    std::string file_;
    std::string bytes_;
    std::unique_ptr<Archive> zip_;
    std::vector<std::string> entries_;
    // The archive's index of each entry name, the first of any that read the same.
    std::unordered_map<std::string, std::uint64_t> indices_;
    // The index of an entry name of entries(); -1 when there is none.
    std::int64_t index_of(const std::string& entry) const;
    LoadLimits limits_;
    // Decompressed bytes read so far, against limits_.max_unpacked_bytes.
    mutable std::size_t unpacked_ = 0;
    mutable bool loaded_ = false;
};

// "the workbook is too large: <what>" for a limit crossed while loading.
std::string too_large(const std::string& what);

// The whole content of a file; throws io::IoError naming it.
std::string read_file(const std::string& path);

// `path` made absolute against the working directory, as the file's own name is reported
// (CELL("filename")); `path` itself when that cannot be worked out. Inline: the Windows
// build's .csv reader has this header without the package's code.
inline std::string absolute_path(const std::string& path) {
    std::error_code failed;
    std::filesystem::path full = std::filesystem::absolute(std::filesystem::path(path), failed);
    return failed ? path : full.lexically_normal().string();
}

// Builds a new zip package in memory; entries keep the order in which they are added.
class PackageWriter {
public:
    explicit PackageWriter(std::string file);
    ~PackageWriter();
    PackageWriter(const PackageWriter&) = delete;
    PackageWriter& operator=(const PackageWriter&) = delete;

    void add(const std::string& name, std::string data);
    // Copies an entry of `from` as it is stored (no recompression where possible).
    void copy(const Package& from, const std::string& name);
    // Finishes the archive and returns its bytes. The writer is spent afterwards.
    std::string finish();

private:
    struct Archive;
    std::string file_;
    // Declared before the archive so that the archive, which points into them, goes first.
    std::vector<std::unique_ptr<std::string>> buffers_;
    std::unique_ptr<Archive> zip_;
};

} // namespace host::io

#endif
