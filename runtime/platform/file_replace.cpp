// Whole-file writes through a temporary file and a rename.
#include "runtime/platform/file_replace.h"
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>
#include <string_view>
#include "runtime/platform/files.h"

namespace kem::platform {

namespace {

// Names there that are links to open descriptors (/dev/stdout, /proc/self/fd/N)
// must be written through: replacing what they point at would leave the
// descriptor writing to a file that no longer has a name.
bool system_name(std::string_view path) { return path.starts_with("/dev/") || path.starts_with("/proc/"); }

// The file a write of path lands in: the links of its last name followed (a
// relative one from the link's folder). nullopt when it must be written in
// place, or fails there: anything but a regular file or a missing name.
std::optional<std::string> resolve_target(const std::string& path) {
    std::string at = path;
    for (int hops = 0;; hops++) {
        if (at.empty() || at.back() == '/' || system_name(at)) return std::nullopt;
        struct stat st;
        if (::lstat(at.c_str(), &st) != 0) {
            if (errno == ENOENT) return at;
            return std::nullopt;
        }
        if (S_ISREG(st.st_mode)) return at;
        if (!S_ISLNK(st.st_mode) || hops == 40) return std::nullopt;
        char link[PATH_MAX];
        const ssize_t n = ::readlink(at.c_str(), link, sizeof link);
        if (n <= 0 || size_t(n) == sizeof link) return std::nullopt;
        const std::string_view text(link, size_t(n));
        const size_t slash = at.rfind('/');
        if (text.front() == '/' || slash == std::string::npos) at.assign(text);
        else at = at.substr(0, slash + 1).append(text);
    }
}

// A name beside the target that no other write uses: hidden, with the
// process id and a count; the target's name is cut so that it stays a
// valid name.
std::string temp_name(const std::string& target) {
    static unsigned count = 0;
    const size_t slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string name = target.substr(slash == std::string::npos ? 0 : slash + 1, 200);
    return folder + "." + name + ".kem-" + std::to_string(::getpid()) + "-" + std::to_string(++count);
}

// Creates the temporary file with the target's permission bits and owner
// when it exists, else as a new file is made (0666 less the umask).
int open_temp(const char* target, const char* temp) {
    struct stat st;
    const bool exists = ::stat(target, &st) == 0;
    int fd;
    do fd = ::open(temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0 || !exists) return fd;
    // The owner first: changing it clears the set-id bits that fchmod sets.
    if ((st.st_uid != ::geteuid() || st.st_gid != ::getegid()) && ::fchown(fd, st.st_uid, st.st_gid) != 0) {
        // Only a privileged process may give a file away; the new file stays ours.
    }
    if (::fchmod(fd, st.st_mode & 07777) != 0) {
        const int error = errno;
        ::close(fd);
        ::unlink(temp);
        errno = error;
        return -1;
    }
    return fd;
}

// The rename itself reaches the disk only when the folder is flushed too.
void sync_folder_of(const char* path) {
    char folder[PATH_MAX];
    const char* slash = std::strrchr(path, '/');
    size_t n = slash ? size_t(slash - path) : 0;
    if (n >= sizeof folder) return;
    if (slash && n == 0) n = 1;  // the root folder
    if (n) std::memcpy(folder, path, n);
    else folder[n++] = '.';
    folder[n] = 0;
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

// Flushes and closes the temporary file and renames it over the target; on
// any failure it is removed instead.
bool finish(int fd, const char* temp, const char* target) {
    bool ok = ::fsync(fd) == 0;
    ok = close_file(fd) && ok;
    if (!ok || ::rename(temp, target) != 0) {
        ::unlink(temp);
        return false;
    }
    sync_folder_of(target);
    return true;
}

} // namespace

WholeFileWrite::WholeFileWrite(const std::string& path) {
    std::optional<std::string> target = resolve_target(path);
    if (target) {
        // A file that may not be written is refused, as an in-place write is.
        if (::faccessat(AT_FDCWD, target->c_str(), W_OK, AT_EACCESS) != 0 && errno != ENOENT) return;
        for (int tries = 0; tries < 100; tries++) {
            std::string temp = temp_name(*target);
            fd_ = open_temp(target->c_str(), temp.c_str());
            if (fd_ >= 0) {
                target_ = std::move(*target);
                temp_ = std::move(temp);
                return;
            }
            if (errno != EEXIST) break;
        }
        if (errno != EACCES && errno != EPERM) return;
    }
    fd_ = open_file(path, FILE_WRITE);
}

WholeFileWrite::~WholeFileWrite() {
    if (fd_ < 0) return;
    close_file(fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
}

bool WholeFileWrite::commit() {
    const int fd = fd_;
    fd_ = -1;
    if (fd < 0) return false;
    if (target_.empty()) return close_file(fd);
    return finish(fd, temp_.c_str(), target_.c_str());
}

std::optional<ReplacementNames> replacement_names(const std::string& path) {
    std::optional<std::string> target = resolve_target(path);
    if (!target) return std::nullopt;
    std::string temp = temp_name(*target);
    return ReplacementNames{std::move(*target), std::move(temp)};
}

bool replace_file(const char* target, const char* temp, const uint8_t* data, size_t count) {
    const int fd = open_temp(target, temp);
    if (fd < 0) return false;
    if (!write_data(fd, data, count)) {
        ::close(fd);
        ::unlink(temp);
        return false;
    }
    return finish(fd, temp, target);
}

} // namespace kem::platform
