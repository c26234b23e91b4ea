// Files and folders over POSIX calls.
#include "runtime/platform/files.h"
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace kem::platform {

int open_file(const std::string& path, unsigned mode) {
    int flags = O_CLOEXEC;
    if (mode & FILE_WRITE) {
        flags |= O_WRONLY | O_CREAT;
        if (mode & FILE_APPEND) flags |= O_APPEND;
        else if (!(mode & FILE_SEEK)) flags |= O_TRUNC;
    } else {
        flags |= O_RDONLY;
    }
    int fd;
    do fd = ::open(path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) return -1;
    struct stat st;
    if (!(mode & FILE_WRITE) && (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool close_file(int fd) {
    // After EINTR the descriptor is gone on Linux: closing again could close
    // another file's.
    return fd < 0 || ::close(fd) == 0 || errno == EINTR;
}

int64_t file_size(int fd) {
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return int64_t(st.st_size);
}

int64_t seek_file(int fd, int64_t offset) {
    const off_t at = ::lseek(fd, off_t(offset), SEEK_SET);
    return at < 0 ? -1 : int64_t(at);
}

int64_t read_data(int fd, uint8_t* buffer, size_t count) {
    for (;;) {
        const ssize_t n = ::read(fd, buffer, count);
        if (n >= 0) return int64_t(n);
        if (errno != EINTR) return -1;
    }
}

bool write_data(int fd, const uint8_t* data, size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(fd, data, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;  // no progress and no error: the device takes nothing
        data += n;
        count -= size_t(n);
    }
    return true;
}

std::optional<std::vector<uint8_t>> read_to_end(int fd, int64_t limit, size_t max_size, bool* no_memory) {
    if (no_memory) *no_memory = false;
    auto out_of_memory = [no_memory]() -> std::optional<std::vector<uint8_t>> {
        if (no_memory) *no_memory = true;
        return std::nullopt;
    };
    std::vector<uint8_t> bytes;
    // A regular file's size is a good first guess; it may still grow or
    // shrink while it is read, so the end is where a read returns 0.
    const int64_t size = file_size(fd);
    const off_t at = ::lseek(fd, 0, SEEK_CUR);
    size_t guess = 65536;
    if (size >= 0 && at >= 0) guess = size_t(std::max<int64_t>(size - at, 0)) + 1;
    if (limit >= 0) guess = size_t(std::min<int64_t>(int64_t(guess), limit));
    if (guess > max_size) guess = max_size + 1;
    // Growing may find no memory long before max_size (an address-space
    // limit, an endless device such as /dev/zero).
    try {
        bytes.resize(guess);
        size_t used = 0;
        for (;;) {
            if (limit >= 0 && int64_t(used) == limit) break;
            if (used == bytes.size()) {
                if (bytes.size() > max_size) return out_of_memory();
                bytes.resize(std::min(bytes.size() * 2, max_size + 1));
            }
            size_t room = bytes.size() - used;
            if (limit >= 0) room = size_t(std::min<int64_t>(int64_t(room), limit - int64_t(used)));
            const int64_t n = read_data(fd, bytes.data() + used, room);
            if (n < 0) return std::nullopt;
            if (n == 0) break;
            used += size_t(n);
        }
        if (used > max_size) return out_of_memory();
        bytes.resize(used);
    } catch (const std::bad_alloc&) {
        return out_of_memory();
    }
    return bytes;
}

int64_t path_size(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    const int64_t size = ::fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode) ? int64_t(st.st_size) : -1;
    ::close(fd);
    return size;
}

bool file_exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

bool is_folder(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool make_dir(const std::string& path, bool private_) { return ::mkdir(path.c_str(), private_ ? 0700 : 0777) == 0; }

bool delete_file(const std::string& path, bool folder) {
    return (folder ? ::rmdir(path.c_str()) : ::unlink(path.c_str())) == 0;
}

bool rename_file(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

std::optional<std::vector<DirEntry>> read_dir(const std::string& path) {
    DIR* dir = ::opendir(path.c_str());
    if (!dir) return std::nullopt;
    std::vector<DirEntry> entries;
    const int dfd = ::dirfd(dir);
    for (;;) {
        errno = 0;
        const dirent* e = ::readdir(dir);
        if (!e) break;
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        bool folder = e->d_type == DT_DIR;
        // Links and file systems that give no type are asked: a link to a
        // folder lists as a folder, since reading it lists that folder.
        if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
            struct stat st;
            folder = ::fstatat(dfd, e->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode);
        }
        entries.push_back({e->d_name, folder});
    }
    const bool failed = errno != 0;
    ::closedir(dir);
    if (failed) return std::nullopt;
    return entries;
}

std::optional<FileTime> file_modified(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return FileTime{int64_t(st.st_mtim.tv_sec), int32_t(st.st_mtim.tv_nsec)};
}

} // namespace kem::platform
