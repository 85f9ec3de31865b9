#include "io/Package.hpp"

#include "io/IoError.hpp"
#include "io/Xml.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

namespace host::io {

namespace {

std::string zip_message(zip_error_t* error) {
    std::string text = zip_error_strerror(error);
    zip_error_fini(error);
    return text;
}

bool iequal(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z')
            y = char(y - 'A' + 'a');
        if (x != y)
            return false;
    }
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// An encrypted workbook is an OLE compound file holding the encrypted package, not a zip.
bool is_compound_file(const std::string& bytes) {
    static const unsigned char signature[] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
    return bytes.size() >= sizeof signature && std::memcmp(bytes.data(), signature, sizeof signature) == 0;
}

std::uint32_t little_endian(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + std::size_t(i)]);
    return value;
}

// The first entry whose local header disagrees with the directory about its checksum, or
// whose contents do not match it; "" when none can be named.
std::string damaged_entry(const std::string& bytes) {
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
    zip_t* zip = source ? zip_open_from_source(source, ZIP_RDONLY, &error) : nullptr;
    zip_error_fini(&error);
    if (!zip) {
        if (source)
            zip_source_free(source);
        return std::string();
    }
    std::string damaged;
    // Local headers in file order: signature, versions, flags, method, time, date, crc,
    // sizes, name and extra lengths, then the name.
    for (std::size_t at = 0; damaged.empty() && at + 30 <= bytes.size();) {
        if (little_endian(bytes, at, 4) != 0x04034b50u)
            break;
        const std::uint32_t flags = little_endian(bytes, at + 6, 2);
        const std::uint32_t crc = little_endian(bytes, at + 14, 4);
        const std::size_t packed = little_endian(bytes, at + 18, 4);
        const std::size_t name_length = little_endian(bytes, at + 26, 2);
        const std::size_t extra_length = little_endian(bytes, at + 28, 2);
        if (at + 30 + name_length > bytes.size())
            break;
        const std::string name = bytes.substr(at + 30, name_length);
        zip_stat_t st;
        zip_stat_init(&st);
        if ((flags & 8u) == 0 && zip_stat(zip, name.c_str(), 0, &st) == 0 && (st.valid & ZIP_STAT_CRC) && st.crc != crc)
            damaged = name;
        if (flags & 8u)
            break; // sizes follow the data: no way to step over it here
        at += 30 + name_length + extra_length + packed;
    }
    // Contents that do not match the directory's checksum.
    const zip_int64_t count = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; damaged.empty() && i < count; ++i) {
        zip_file_t* entry = zip_fopen_index(zip, zip_uint64_t(i), 0);
        if (!entry)
            continue;
        char buffer[65536];
        std::size_t total = 0;
        zip_int64_t n = 0;
        while ((n = zip_fread(entry, buffer, sizeof buffer)) > 0 && total < Package::max_part_size)
            total += std::size_t(n);
        if (n < 0) {
            const char* name = zip_get_name(zip, zip_uint64_t(i), 0);
            damaged = name ? name : "";
        }
        zip_fclose(entry);
    }
    zip_discard(zip);
    return damaged;
}

// Common zip readers accept a local header whose time stamp differs from the directory's;
// libzip's consistency check compares it with the rest. Such headers are given the
// directory's time stamp, so that everything else is still checked when the archive is
// opened again. True when a header was changed.
bool align_local_time_stamps(std::string& bytes) {
    // The end of central directory record: 22 bytes and a comment of up to 65,535.
    const std::size_t end_size = 22;
    if (bytes.size() < end_size)
        return false;
    std::size_t end = bytes.size() - end_size;
    const std::size_t lowest = end > 65535 ? end - 65535 : 0;
    while (little_endian(bytes, end, 4) != 0x06054b50u) {
        if (end == lowest)
            return false;
        --end;
    }
    const std::size_t count = little_endian(bytes, end + 10, 2);
    std::size_t at = little_endian(bytes, end + 16, 4);
    bool changed = false;
    for (std::size_t i = 0; i < count; ++i) {
        // Central header: time and date at 12, lengths of name, extra field and comment at
        // 28, 30 and 32, the local header's offset at 42.
        if (at + 46 > bytes.size() || little_endian(bytes, at, 4) != 0x02014b50u)
            return false;
        const std::size_t local = little_endian(bytes, at + 42, 4);
        // Local header: time and date at 10.
        if (local + 30 > bytes.size() || little_endian(bytes, local, 4) != 0x04034b50u)
            return false;
        const std::string stamp = bytes.substr(at + 12, 4);
        if (bytes.compare(local + 10, 4, stamp) != 0) {
            bytes.replace(local + 10, 4, stamp);
            changed = true;
        }
        at +=
            46 + little_endian(bytes, at + 28, 2) + little_endian(bytes, at + 30, 2) + little_endian(bytes, at + 32, 2);
    }
    return changed;
}

} // namespace

std::string too_large(const std::string& what) { return "the workbook is too large: " + what; }

struct Package::Archive {
    zip_t* zip = nullptr;
    ~Archive() {
        if (zip)
            zip_discard(zip);
    }
};

Package::Package(std::string file, std::string bytes, LoadLimits limits)
    : file_(std::move(file)), bytes_(std::move(bytes)), zip_(new Archive), limits_(limits) {
    if (bytes_.empty())
        throw IoError(file_, "not an .xlsx workbook (the file is empty)");
    if (is_compound_file(bytes_))
        throw IoError(file_, "the workbook is encrypted (protected by a password); save it "
                             "without a password and try again");
    zip_error_t error;
    auto open = [&]() {
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes_.data(), bytes_.size(), 0, &error);
        if (!source)
            throw IoError(file_, "cannot read the file: " + zip_message(&error));
        zip_->zip = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
        if (!zip_->zip)
            zip_source_free(source);
    };
    open();
    if (!zip_->zip && zip_error_code_zip(&error) == ZIP_ER_INCONS && align_local_time_stamps(bytes_)) {
        zip_error_fini(&error);
        open();
    }
    if (!zip_->zip) {
        const bool inconsistent = zip_error_code_zip(&error) == ZIP_ER_INCONS;
        const std::string why = zip_message(&error);
        const std::string damaged = inconsistent ? damaged_entry(bytes_) : std::string();
        if (!damaged.empty())
            throw IoError(file_, "the workbook is damaged: part " + damaged + " does not match its checksum");
        throw IoError(file_, "not an .xlsx workbook (not a valid zip archive: " + why + ")");
    }
    zip_error_fini(&error);
    zip_int64_t count = zip_get_num_entries(zip_->zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(zip_->zip, zip_uint64_t(i), 0);
        std::string entry = name ? name : "";
        std::replace(entry.begin(), entry.end(), '\\', '/');
        // Of two names that read the same, the first is the part; a copy would hold both.
        if (indices_.emplace(entry, std::uint64_t(i)).second)
            entries_.push_back(std::move(entry));
    }
}

std::int64_t Package::index_of(const std::string& entry) const {
    auto it = indices_.find(entry);
    return it == indices_.end() ? -1 : std::int64_t(it->second);
}

Package::~Package() = default;

std::string read_file(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw IoError(path, std::string("cannot open the file: ") + std::strerror(errno));
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw IoError(path, "cannot open the file: not a regular file");
    }
    std::string data;
    data.reserve(std::size_t(st.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            int error = errno;
            ::close(fd);
            throw IoError(path, std::string("cannot read the file: ") + std::strerror(error));
        }
        if (n == 0)
            break;
        data.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return data;
}

std::string Package::find(const std::string& part) const {
    for (const std::string& name : entries_)
        if (name == part)
            return name;
    for (const std::string& name : entries_)
        if (iequal(name, part))
            return name;
    return std::string();
}

std::string Package::read(const std::string& part, const std::function<void(const std::string&)>& arrived) const {
    std::string name = find(part);
    if (name.empty())
        throw IoError(file_, "missing part " + part);
    zip_int64_t index = index_of(name);
    zip_stat_t st;
    zip_stat_init(&st);
    if (index < 0 || zip_stat_index(zip_->zip, zip_uint64_t(index), 0, &st) != 0)
        throw IoError(file_, "cannot read part " + part);
    const std::string part_too_large =
        too_large("part " + part + " unpacks to more than " + std::to_string(max_part_size) + " bytes");
    if ((st.valid & ZIP_STAT_SIZE) && st.size > max_part_size)
        throw IoError(file_, part_too_large);
    const std::size_t budget = loaded_                                  ? max_part_size
                               : limits_.max_unpacked_bytes > unpacked_ ? limits_.max_unpacked_bytes - unpacked_
                                                                        : 0;
    const std::string over_budget =
        too_large("its parts unpack to more than " + std::to_string(limits_.max_unpacked_bytes) +
                  " bytes (the limit was crossed reading part " + part + ")");
    // The size the directory declares is checked before anything is decompressed; the
    // bytes actually produced are counted as well, as the declaration may lie.
    if ((st.valid & ZIP_STAT_SIZE) && st.size > budget)
        throw IoError(file_, over_budget);
    zip_file_t* entry = zip_fopen_index(zip_->zip, zip_uint64_t(index), 0);
    if (!entry)
        throw IoError(file_, "cannot read part " + part + ": " + zip_strerror(zip_->zip));
    std::string data;
    if (st.valid & ZIP_STAT_SIZE)
        data.reserve(std::size_t(st.size));
    char buffer[65536];
    for (;;) {
        zip_int64_t n = zip_fread(entry, buffer, sizeof buffer);
        if (n < 0) {
            const bool crc = zip_error_code_zip(zip_file_get_error(entry)) == ZIP_ER_CRC;
            std::string why = zip_error_strerror(zip_file_get_error(entry));
            zip_fclose(entry);
            if (crc)
                throw IoError(file_, "the workbook is damaged: part " + part + " does not match its checksum");
            throw IoError(file_, "cannot read part " + part + ": " + why);
        }
        if (n == 0)
            break;
        if (data.size() + std::size_t(n) > max_part_size) {
            zip_fclose(entry);
            throw IoError(file_, part_too_large);
        }
        if (data.size() + std::size_t(n) > budget) {
            zip_fclose(entry);
            throw IoError(file_, over_budget);
        }
        data.append(buffer, std::size_t(n));
        if (arrived) {
            try {
                arrived(data);
            } catch (...) {
                zip_fclose(entry);
                throw;
            }
        }
    }
    zip_fclose(entry);
    unpacked_ += data.size();
    return data;
}

std::string Package::rels_name(const std::string& part) {
    std::size_t slash = part.rfind('/');
    if (slash == std::string::npos)
        return "_rels/" + part + ".rels";
    return part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
}

std::string Package::resolve(const std::string& source_part, const std::string& target) {
    std::string decoded;
    for (std::size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '%' && i + 2 < target.size() && hex_value(target[i + 1]) >= 0 &&
            hex_value(target[i + 2]) >= 0) {
            decoded += char(hex_value(target[i + 1]) * 16 + hex_value(target[i + 2]));
            i += 2;
        } else if (target[i] == '\\') {
            decoded += '/';
        } else {
            decoded += target[i];
        }
    }
    std::string path;
    if (!decoded.empty() && decoded[0] == '/') {
        path = decoded;
    } else {
        std::size_t slash = source_part.rfind('/');
        path = (slash == std::string::npos ? std::string() : source_part.substr(0, slash + 1)) + decoded;
    }
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        std::string segment = path.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string& segment : segments) {
        if (!out.empty())
            out += '/';
        out += segment;
    }
    return out;
}

std::vector<Relationship> Package::relationships(const std::string& part) const {
    std::vector<Relationship> out;
    std::string rels = rels_name(part);
    if (!has(rels))
        return out;
    XmlDocument doc = parse_xml(file_, rels, read(rels));
    pugi::xml_node root = doc.root();
    for (pugi::xml_node node : root.children()) {
        if (node.type() != pugi::node_element || !is(node, "Relationship"))
            continue;
        Relationship r;
        r.id = node.attribute("Id").value();
        r.type = node.attribute("Type").value();
        std::string target = node.attribute("Target").value();
        r.external = iequal(node.attribute("TargetMode").value(), std::string("External"));
        r.target = r.external ? target : resolve(part, target);
        out.push_back(std::move(r));
    }
    return out;
}

// ---------------------------------------------------------------------------------------

struct PackageWriter::Archive {
    zip_source_t* source = nullptr;
    zip_t* zip = nullptr;
    ~Archive() {
        if (zip)
            zip_discard(zip);
        if (source)
            zip_source_free(source);
    }
};

PackageWriter::PackageWriter(std::string file) : file_(std::move(file)), zip_(new Archive) {
    zip_error_t error;
    zip_error_init(&error);
    zip_->source = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!zip_->source)
        throw IoError(file_, "cannot build the workbook: " + zip_message(&error));
    // The archive must not free the buffer source when it closes: its bytes are the result.
    zip_source_keep(zip_->source);
    zip_->zip = zip_open_from_source(zip_->source, ZIP_TRUNCATE, &error);
    if (!zip_->zip)
        throw IoError(file_, "cannot build the workbook: " + zip_message(&error));
    zip_error_fini(&error);
}

PackageWriter::~PackageWriter() = default;

void PackageWriter::add(const std::string& name, std::string data) {
    if (!zip_->zip)
        throw IoError(file_, "cannot add part " + name + ": the package is finished");
    buffers_.emplace_back(new std::string(std::move(data)));
    const std::string& held = *buffers_.back();
    zip_source_t* source = zip_source_buffer(zip_->zip, held.data(), held.size(), 0);
    const zip_int64_t index = source ? zip_file_add(zip_->zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) : -1;
    if (index < 0) {
        if (source)
            zip_source_free(source);
        throw IoError(file_, "cannot add part " + name + ": " + zip_strerror(zip_->zip));
    }
    // A fast level: the archive's default (the best compression) takes seconds for a sheet of
    // a million cells, zlib's usual one still a third of saving it; either gains a few percent.
    if (zip_set_file_compression(zip_->zip, zip_uint64_t(index), ZIP_CM_DEFLATE, 3) < 0)
        throw IoError(file_, "cannot add part " + name + ": " + zip_strerror(zip_->zip));
}

void PackageWriter::copy(const Package& from, const std::string& name) {
    if (!zip_->zip)
        throw IoError(file_, "cannot copy part " + name + ": the package is finished");
    zip_int64_t index = from.index_of(name);
    if (index < 0)
        throw IoError(file_, "missing part " + name);
    zip_source_t* source = zip_source_zip(zip_->zip, from.zip_->zip, zip_uint64_t(index), 0, 0, -1);
    if (!source || zip_file_add(zip_->zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
        if (source)
            zip_source_free(source);
        throw IoError(file_, "cannot copy part " + name + ": " + zip_strerror(zip_->zip));
    }
}

std::string PackageWriter::finish() {
    if (!zip_->zip)
        throw IoError(file_, "the package is finished");
    if (zip_close(zip_->zip) != 0)
        throw IoError(file_, std::string("cannot build the workbook: ") + zip_strerror(zip_->zip));
    zip_->zip = nullptr;
    buffers_.clear();
    zip_source_t* source = zip_->source;
    std::string out;
    if (zip_source_open(source) < 0)
        throw IoError(file_, "cannot build the workbook: " + std::string(zip_error_strerror(zip_source_error(source))));
    zip_source_seek(source, 0, SEEK_END);
    zip_int64_t size = zip_source_tell(source);
    zip_source_seek(source, 0, SEEK_SET);
    if (size > 0) {
        out.resize(std::size_t(size));
        zip_int64_t got = zip_source_read(source, &out[0], zip_uint64_t(size));
        if (got != size) {
            zip_source_close(source);
            throw IoError(file_, "cannot build the workbook: short read");
        }
    }
    zip_source_close(source);
    return out;
}

} // namespace host::io
