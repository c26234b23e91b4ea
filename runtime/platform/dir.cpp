// The process's current directory.
#include "runtime/platform/platform.h"
#include <unistd.h>
#include <cerrno>

namespace kem::platform {

std::optional<std::string> get_current_dir() {
    // PATH_MAX is no real bound: grow until the path fits.
    std::string buffer(256, '\0');
    for (;;) {
        if (getcwd(buffer.data(), buffer.size())) {
            buffer.resize(buffer.find('\0'));
            return buffer;
        }
        if (errno != ERANGE) return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

bool set_current_dir(std::string_view path) {
    if (path.find('\0') != std::string_view::npos) return false;
    return chdir(std::string(path).c_str()) == 0;
}

} // namespace kem::platform
