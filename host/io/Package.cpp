#include "io/Package.hpp"

#include "io/IoError.hpp"
#include "io/Xml.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
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
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

} // namespace

struct Package::Archive {
    zip_t* zip = nullptr;
    ~Archive() {
        if (zip) zip_discard(zip);
    }
};

Package::Package(std::string file, std::string bytes)
    : file_(std::move(file)), bytes_(std::move(bytes)), zip_(new Archive) {
    if (bytes_.empty()) throw IoError(file_, "not an .xlsx workbook (the file is empty)");
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(bytes_.data(), bytes_.size(), 0, &error);
    if (!source) throw IoError(file_, "cannot read the file: " + zip_message(&error));
    zip_->zip = zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &error);
    if (!zip_->zip) {
        zip_source_free(source);
        throw IoError(file_, "not an .xlsx workbook (not a valid zip archive: " +
                                 zip_message(&error) + ")");
    }
    zip_error_fini(&error);
    zip_int64_t count = zip_get_num_entries(zip_->zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(zip_->zip, zip_uint64_t(i), 0);
        entries_.push_back(name ? name : "");
    }
}

Package::~Package() = default;

std::string read_file(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw IoError(path, std::string("cannot open the file: ") + std::strerror(errno));
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
            if (errno == EINTR) continue;
            int error = errno;
            ::close(fd);
            throw IoError(path, std::string("cannot read the file: ") + std::strerror(error));
        }
        if (n == 0) break;
        data.append(buffer, std::size_t(n));
    }
    ::close(fd);
    return data;
}

std::string Package::find(const std::string& part) const {
    for (const std::string& name : entries_)
        if (name == part) return name;
    for (const std::string& name : entries_)
        if (iequal(name, part)) return name;
    return std::string();
}

std::string Package::read(const std::string& part) const {
    std::string name = find(part);
    if (name.empty()) throw IoError(file_, "missing part " + part);
    zip_int64_t index = zip_name_locate(zip_->zip, name.c_str(), 0);
    zip_stat_t st;
    zip_stat_init(&st);
    if (index < 0 || zip_stat_index(zip_->zip, zip_uint64_t(index), 0, &st) != 0)
        throw IoError(file_, "cannot read part " + part);
    if ((st.valid & ZIP_STAT_SIZE) && st.size > max_part_size)
        throw IoError(file_, "part " + part + " is too large");
    zip_file_t* entry = zip_fopen_index(zip_->zip, zip_uint64_t(index), 0);
    if (!entry)
        throw IoError(file_, "cannot read part " + part + ": " + zip_strerror(zip_->zip));
    std::string data;
    if (st.valid & ZIP_STAT_SIZE) data.reserve(std::size_t(st.size));
    char buffer[65536];
    for (;;) {
        zip_int64_t n = zip_fread(entry, buffer, sizeof buffer);
        if (n < 0) {
            std::string why = zip_error_strerror(zip_file_get_error(entry));
            zip_fclose(entry);
            throw IoError(file_, "cannot read part " + part + ": " + why);
        }
        if (n == 0) break;
        if (data.size() + std::size_t(n) > max_part_size) {
            zip_fclose(entry);
            throw IoError(file_, "part " + part + " is too large");
        }
        data.append(buffer, std::size_t(n));
    }
    zip_fclose(entry);
    return data;
}

std::string Package::rels_name(const std::string& part) {
    std::size_t slash = part.rfind('/');
    if (slash == std::string::npos) return "_rels/" + part + ".rels";
    return part.substr(0, slash + 1) + "_rels/" + part.substr(slash + 1) + ".rels";
}

std::string Package::resolve(const std::string& source_part, const std::string& target) {
    std::string decoded;
    for (std::size_t i = 0; i < target.size(); ++i) {
        if (target[i] == '%' && i + 2 < target.size() &&
            hex_value(target[i + 1]) >= 0 && hex_value(target[i + 2]) >= 0) {
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
        path = (slash == std::string::npos ? std::string() : source_part.substr(0, slash + 1)) +
               decoded;
    }
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        std::string segment = path.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty()) segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string& segment : segments) {
        if (!out.empty()) out += '/';
        out += segment;
    }
    return out;
}

std::vector<Relationship> Package::relationships(const std::string& part) const {
    std::vector<Relationship> out;
    std::string rels = rels_name(part);
    if (!has(rels)) return out;
    XmlDocument doc = parse_xml(file_, rels, read(rels));
    pugi::xml_node root = doc.root();
    for (pugi::xml_node node : root.children()) {
        if (node.type() != pugi::node_element || !is(node, "Relationship")) continue;
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
        if (zip) zip_discard(zip);
        if (source) zip_source_free(source);
    }
};

PackageWriter::PackageWriter(std::string file) : file_(std::move(file)), zip_(new Archive) {
    zip_error_t error;
    zip_error_init(&error);
    zip_->source = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!zip_->source) throw IoError(file_, "cannot build the workbook: " + zip_message(&error));
    // The archive must not free the buffer source when it closes: its bytes are the result.
    zip_source_keep(zip_->source);
    zip_->zip = zip_open_from_source(zip_->source, ZIP_TRUNCATE, &error);
    if (!zip_->zip) throw IoError(file_, "cannot build the workbook: " + zip_message(&error));
    zip_error_fini(&error);
}

PackageWriter::~PackageWriter() = default;

void PackageWriter::add(const std::string& name, std::string data) {
    if (!zip_->zip) throw IoError(file_, "cannot add part " + name + ": the package is finished");
    buffers_.emplace_back(new std::string(std::move(data)));
    const std::string& held = *buffers_.back();
    zip_source_t* source = zip_source_buffer(zip_->zip, held.data(), held.size(), 0);
    if (!source || zip_file_add(zip_->zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
        if (source) zip_source_free(source);
        throw IoError(file_, "cannot add part " + name + ": " + zip_strerror(zip_->zip));
    }
}

void PackageWriter::copy(const Package& from, const std::string& name) {
    if (!zip_->zip) throw IoError(file_, "cannot copy part " + name + ": the package is finished");
    zip_int64_t index = zip_name_locate(from.zip_->zip, name.c_str(), 0);
    if (index < 0) throw IoError(file_, "missing part " + name);
    zip_source_t* source = zip_source_zip(zip_->zip, from.zip_->zip, zip_uint64_t(index), 0, 0, -1);
    if (!source || zip_file_add(zip_->zip, name.c_str(), source, ZIP_FL_ENC_UTF_8) < 0) {
        if (source) zip_source_free(source);
        throw IoError(file_, "cannot copy part " + name + ": " + zip_strerror(zip_->zip));
    }
}

std::string PackageWriter::finish() {
    if (!zip_->zip) throw IoError(file_, "the package is finished");
    if (zip_close(zip_->zip) != 0)
        throw IoError(file_, std::string("cannot build the workbook: ") + zip_strerror(zip_->zip));
    zip_->zip = nullptr;
    buffers_.clear();
    zip_source_t* source = zip_->source;
    std::string out;
    if (zip_source_open(source) < 0)
        throw IoError(file_, "cannot build the workbook: " +
                                 std::string(zip_error_strerror(zip_source_error(source))));
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
