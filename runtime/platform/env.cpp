// Environment variables of the process.
#include "runtime/platform/platform.h"
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace kem::platform {

namespace {

// getenv and setenv stop at a NUL and treat '=' as the end of the name, so
// such a name would reach a different variable than the one asked for.
bool valid_name(std::string_view name) {
    return !name.empty() && name.find('=') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

const char* lookup(std::string_view name) {
    if (!valid_name(name)) return nullptr;
    return std::getenv(std::string(name).c_str());
}

} // namespace

bool set_env(std::string_view name, std::optional<std::string_view> value) {
    if (!valid_name(name)) return false;
    std::string n(name);
    if (!value) return unsetenv(n.c_str()) == 0;
    if (value->find('\0') != std::string_view::npos) return false;
    return setenv(n.c_str(), std::string(*value).c_str(), 1) == 0;
}

std::optional<std::string> get_env(std::string_view name) {
    const char* v = lookup(name);
    if (!v) return std::nullopt;
    return std::string(v);
}

size_t get_env(std::string_view name, char* buffer, size_t size) {
    const char* v = lookup(name);
    if (!v) return 0;
    size_t length = std::strlen(v);
    if (buffer == nullptr || size <= length) return length + 1;
    std::memcpy(buffer, v, length + 1);
    return length;
}

std::vector<std::pair<std::string, std::string>> list_env() {
    std::vector<std::pair<std::string, std::string>> vars;
    if (!environ) return vars;
    for (char** e = environ; *e; e++) {
        const char* eq = std::strchr(*e, '=');
        // An entry without a name (or without '=') is no variable anyone can look up.
        if (!eq || eq == *e) continue;
        vars.emplace_back(std::string(*e, static_cast<size_t>(eq - *e)), std::string(eq + 1));
    }
    return vars;
}

} // namespace kem::platform
