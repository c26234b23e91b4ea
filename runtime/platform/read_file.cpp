// Reading a whole file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include "runtime/platform/platform.h"

namespace kem::platform {

std::optional<std::vector<uint8_t>> read_file(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st;
    std::optional<std::vector<uint8_t>> out;
    if (fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode)) {
        std::vector<uint8_t> bytes;
        // The size is a first guess: special files report 0 and a file may grow.
        bytes.resize(st.st_size > 0 ? size_t(st.st_size) : 4096);
        size_t used = 0;
        for (;;) {
            if (used == bytes.size()) bytes.resize(bytes.size() * 2);
            const ssize_t n = read(fd, bytes.data() + used, bytes.size() - used);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) break;
            if (n == 0) {
                bytes.resize(used);
                out = std::move(bytes);
                break;
            }
            used += size_t(n);
        }
    }
    close(fd);
    return out;
}

} // namespace kem::platform
