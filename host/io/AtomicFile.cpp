// Saving a file so that a failure or an interruption never leaves the target half written.
#include "io/Document.hpp"
#include "io/IoError.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <functional>

namespace host::io {

namespace {

std::string directory_of(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path names once its symbolic links are followed (the path itself when it is
// not a link); the link chain may end at a file that does not exist yet.
std::string link_target(const std::string& path) {
    std::string at = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return at;
        char buffer[PATH_MAX];
        ssize_t n = ::readlink(at.c_str(), buffer, sizeof buffer - 1);
        if (n < 0)
            throw IoError(path, std::string("cannot save: cannot read the link: ") + std::strerror(errno));
        std::string next(buffer, std::size_t(n));
        at = next.front() == '/' ? next : directory_of(at) + "/" + next;
    }
    throw IoError(path, "cannot save: too many levels of symbolic links");
}

const char* kind_of(mode_t mode) {
    if (S_ISDIR(mode))
        return "a directory";
    if (S_ISCHR(mode))
        return "a character device";
    if (S_ISBLK(mode))
        return "a block device";
    if (S_ISFIFO(mode))
        return "a FIFO";
    if (S_ISSOCK(mode))
        return "a socket";
    return "not a regular file";
}

// Refuses the resolved target; fills `st` and returns true when the file exists.
bool check_resolved(const std::string& path, const std::string& target, struct stat& st) {
    auto refuse = [&](const std::string& why) { throw IoError(path, "cannot save: " + why); };
    std::string dir = directory_of(target);
    struct stat dir_st;
    if (::stat(dir.c_str(), &dir_st) != 0 || !S_ISDIR(dir_st.st_mode))
        refuse("the directory " + dir + " does not exist");
    if (::access(dir.c_str(), W_OK | X_OK) != 0)
        refuse("the directory " + dir + " cannot be written");
    if (::stat(target.c_str(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode))
        refuse(std::string("it is ") + kind_of(st.st_mode) + ", not a workbook file");
    // Write permission for nobody is read-only even for the superuser.
    if ((st.st_mode & 0222) == 0 || ::access(target.c_str(), W_OK) != 0)
        refuse("the file is read-only");
    // Replacing the file makes the new one ours; only the superuser can give it back.
    if (::geteuid() != 0 && st.st_uid != ::geteuid())
        refuse("the file belongs to another user");
    return true;
}

// The temporary file being written, removed if SIGINT or SIGTERM arrives meanwhile.
char pending_temp[PATH_MAX];
volatile sig_atomic_t pending = 0;

extern "C" void remove_pending_temp(int signal_number) {
    if (pending)
        ::unlink(pending_temp);
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
}

// Creates the temporary file (mkstemp) and removes it on SIGINT/SIGTERM for the life of the
// object, then puts the previous handlers back.
class TempFile {
public:
    explicit TempFile(std::string& pattern)
        : TempFile(pattern, [](std::string& name) { return ::mkstemp(&name[0]); }) {}
    // The file made by `create`, which may change the name it is given.
    TempFile(std::string& pattern, const std::function<int(std::string&)>& create) {
        struct sigaction action {};
        action.sa_handler = remove_pending_temp;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &old_int_);
        ::sigaction(SIGTERM, &action, &old_term_);
        // Held back until the file's name is known to the handler.
        sigset_t signals, previous;
        sigemptyset(&signals);
        sigaddset(&signals, SIGINT);
        sigaddset(&signals, SIGTERM);
        ::sigprocmask(SIG_BLOCK, &signals, &previous);
        fd = create(pattern);
        if (fd >= 0 && pattern.size() < sizeof pending_temp) {
            std::memcpy(pending_temp, pattern.c_str(), pattern.size() + 1);
            pending = 1;
        }
        int saved = errno;
        ::sigprocmask(SIG_SETMASK, &previous, nullptr);
        errno = saved;
    }
    ~TempFile() {
        pending = 0;
        ::sigaction(SIGINT, &old_int_, nullptr);
        ::sigaction(SIGTERM, &old_term_, nullptr);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    int fd = -1;

private:
    struct sigaction old_int_ {
    }, old_term_{};
};

} // namespace

void check_save_target(const std::string& path) {
    struct stat st;
    check_resolved(path, link_target(path), st);
}

void write_file_atomically(const std::string& path, const std::string& bytes) {
    if (path.empty() || path.back() == '/')
        throw IoError(path, "cannot save: not a file name");
    const std::string target = link_target(path);
    struct stat st;
    const bool exists = check_resolved(path, target, st);
    std::size_t slash = target.find_last_of('/');
    std::string temp = (slash == std::string::npos ? std::string() : target.substr(0, slash + 1)) + "." +
                       target.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";

    auto failure = [&](const char* what) {
        return IoError(path, std::string("cannot save: ") + what + ": " + std::strerror(errno));
    };
    TempFile file(temp);
    const int fd = file.fd;
    if (fd < 0)
        throw failure("cannot create a temporary file in the target's directory");
    auto give_up = [&](const char* what) {
        IoError error = failure(what);
        ::close(fd);
        ::unlink(temp.c_str());
        throw error;
    };
    // The new file takes the place of the old one: same mode, owner and group; a new file
    // gets the permissions of any newly created file.
    mode_t mode;
    if (exists) {
        mode = st.st_mode & 07777;
        if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(fd, st.st_uid, st.st_gid) != 0)
            give_up("cannot keep the file's owner and group");
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(fd, mode) != 0)
        give_up("cannot set permissions");
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            give_up("cannot write");
        }
        done += std::size_t(n);
    }
    if (::fsync(fd) != 0)
        give_up("cannot flush to disk");
    if (::close(fd) != 0) {
        IoError error = failure("cannot write");
        ::unlink(temp.c_str());
        throw error;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        IoError error = failure("cannot replace the target");
        ::unlink(temp.c_str());
        throw error;
    }
    // Make the rename itself durable.
    int dfd = ::open(directory_of(target).c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

struct AtomicFileWriter::State {
    std::string path, target, temp;
    struct stat st {};
    bool exists = false;
    int fd = -1;
    bool anonymous = false; // O_TMPFILE: linked into the directory at commit
    bool committed = false;
    std::string pending; // written in large pieces

    IoError failure(const char* what) const {
        return IoError(path, std::string("cannot save: ") + what + ": " + std::strerror(errno));
    }
    void flush() {
        std::size_t done = 0;
        while (done < pending.size()) {
            ssize_t n = ::write(fd, pending.data() + done, pending.size() - done);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                throw failure("cannot write");
            }
            done += std::size_t(n);
        }
        pending.clear();
    }
};

AtomicFileWriter::AtomicFileWriter(const std::string& path) : state_(new State) {
    State& s = *state_;
    s.path = path;
    if (path.empty() || path.back() == '/')
        throw IoError(path, "cannot save: not a file name");
    s.target = link_target(path);
    s.exists = check_resolved(path, s.target, s.st);
    std::size_t slash = s.target.find_last_of('/');
    s.temp = (slash == std::string::npos ? std::string() : s.target.substr(0, slash + 1)) + "." +
             s.target.substr(slash == std::string::npos ? 0 : slash + 1) + ".XXXXXX";
#ifdef O_TMPFILE
    // Linked into the directory at the end through /proc, so both must be there.
    if (::access("/proc/self/fd", X_OK) == 0) {
        s.fd = ::open(directory_of(s.target).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        s.anonymous = s.fd >= 0;
    }
#endif
    if (s.fd < 0)
        s.fd = ::mkstemp(&s.temp[0]);
    if (s.fd < 0)
        throw s.failure("cannot create a temporary file in the target's directory");
}

AtomicFileWriter::~AtomicFileWriter() {
    State& s = *state_;
    if (s.fd >= 0)
        ::close(s.fd);
    if (!s.committed && !s.anonymous)
        ::unlink(s.temp.c_str());
}

void AtomicFileWriter::write(const std::string& bytes) {
    State& s = *state_;
    if (s.committed)
        return;
    s.pending += bytes;
    if (s.pending.size() >= (std::size_t(1) << 16))
        s.flush();
}

void AtomicFileWriter::commit() {
    State& s = *state_;
    s.flush();
    mode_t mode;
    if (s.exists) {
        mode = s.st.st_mode & 07777;
        if ((s.st.st_uid != ::geteuid() || s.st.st_gid != ::getegid()) && ::fchown(s.fd, s.st.st_uid, s.st.st_gid) != 0)
            throw s.failure("cannot keep the file's owner and group");
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(s.fd, mode) != 0)
        throw s.failure("cannot set permissions");
    if (::fsync(s.fd) != 0)
        throw s.failure("cannot flush to disk");
    if (s.anonymous) {
        // A name for the file, removed again if SIGINT or SIGTERM arrives before the rename.
        const std::string fd_path = "/proc/self/fd/" + std::to_string(s.fd);
        const std::string base = s.temp.substr(0, s.temp.size() - 6);
        TempFile named(s.temp, [&](std::string& name) {
            for (unsigned attempt = 0; attempt < 100; ++attempt) {
                name = base + std::to_string(::getpid()) + "-" + std::to_string(attempt);
                if (::linkat(AT_FDCWD, fd_path.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0)
                    return 0;
                if (errno != EEXIST)
                    return -1;
            }
            return -1;
        });
        if (named.fd < 0)
            throw s.failure("cannot name the temporary file");
        s.anonymous = false; // it has a name now, removed below on failure
        if (::rename(s.temp.c_str(), s.target.c_str()) != 0) {
            IoError error = s.failure("cannot replace the target");
            ::unlink(s.temp.c_str());
            throw error;
        }
    } else if (::rename(s.temp.c_str(), s.target.c_str()) != 0) {
        throw s.failure("cannot replace the target");
    }
    s.committed = true;
    int dfd = ::open(directory_of(s.target).c_str(), O_RDONLY | O_DIRECTORY);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

} // namespace host::io
