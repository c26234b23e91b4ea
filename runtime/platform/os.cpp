// The command line rebuilt from argv, and the description of the system from
// uname and os-release.
#include "runtime/platform/os.h"
#include <sys/utsname.h>
#include <algorithm>
#include <cctype>
#include <climits>
#include <fstream>
#include <sstream>

namespace kem::platform {

namespace {

inline bool blank(char c) { return c == ' ' || c == '\t'; }

// A token as the splitting keeps it: one leading and one trailing double
// quote taken off (a lone quote is both and goes once).
std::string kept(const std::string& token) {
    size_t from = token.size() > 0 && token[0] == '"' ? 1 : 0;
    size_t to = token.size();
    if (to > from && token[to - 1] == '"') to--;
    return token.substr(from, to - from);
}

// Whether text, written where arguments are split, is one token that keeps as
// arg; with closed, the quotes in it must also leave splitting on after it.
bool reads_back(const std::string& text, const std::string& arg, bool closed) {
    if (text.empty()) return false;
    bool split = true;
    for (char c : text) {
        if (c == '"') split = !split;
        else if (split && blank(c)) return false;
    }
    return (split || !closed) && kept(text) == arg;
}

std::string written(const std::string& arg, bool last) {
    const std::string forms[] = {arg, '"' + arg + '"', '"' + arg, arg + '"'};
    for (bool closed : {true, false}) {
        // Only the last argument may leave splitting off: nothing follows it.
        if (!closed && !last) break;
        for (const std::string& f : forms)
            if (reads_back(f, arg, closed)) return f;
    }
    return forms[1];
}

std::string recorded;

} // namespace

std::string join_command_line(const std::vector<std::string>& args) {
    std::string line;
    for (size_t i = 0; i < args.size(); i++) {
        if (i) line += ' ';
        line += written(args[i], i + 1 == args.size());
    }
    return line;
}

std::vector<std::string> split_command_line(const std::string& line) {
    std::vector<std::string> tokens;
    std::string token;
    bool split = true;
    for (char c : line) {
        if (c == '"') split = !split;
        if (split && blank(c)) {
            if (!token.empty()) tokens.push_back(kept(token));
            token.clear();
            continue;
        }
        token += c;
    }
    if (!token.empty()) tokens.push_back(kept(token));
    return tokens;
}

void set_command_line(int argc, const char* const* argv) {
    recorded = join_command_line(std::vector<std::string>(argv, argv + argc));
}

const std::string& command_line() { return recorded; }

// ---- operating system

std::string os_release_name(const std::string& text) {
    std::string pretty, name, version;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        const std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        // Shell quoting: a quoted value loses its quotes and its backslashes
        // stand before the character they keep.
        if (value.size() >= 2 && (value[0] == '"' || value[0] == '\'') && value.back() == value[0]) {
            const bool escapes = value[0] == '"';
            std::string unquoted;
            for (size_t i = 1; i + 1 < value.size(); i++) {
                if (escapes && value[i] == '\\' && i + 2 < value.size()) i++;
                unquoted += value[i];
            }
            value = unquoted;
        }
        if (key == "PRETTY_NAME") pretty = value;
        else if (key == "NAME") name = value;
        else if (key == "VERSION") version = value;
    }
    if (!pretty.empty()) return pretty;
    if (!name.empty() && !version.empty()) return name + " " + version;
    return name;
}

std::string arch_word(const std::string& machine) {
    if (machine == "x86_64" || machine == "amd64") return "x86-64";
    if (machine == "aarch64" || machine == "arm64") return "ARM64";
    if (machine == "ia64") return "IA-64";
    if (machine.size() == 4 && machine[0] == 'i' && machine.compare(2, 2, "86") == 0) return "x86-32";
    if (machine.rfind("arm", 0) == 0) return "ARM";
    return "Unknown";
}

void release_numbers(const std::string& release, uint8_t out[3]) {
    size_t at = 0;
    for (int i = 0; i < 3; i++) {
        unsigned n = 0;
        bool digits = false;
        while (at < release.size() && std::isdigit(static_cast<unsigned char>(release[at]))) {
            n = std::min(n * 10 + unsigned(release[at] - '0'), 255u);
            at++;
            digits = true;
        }
        out[i] = uint8_t(n);
        // The numbers are the dotted ones at the start: 6.1.0-18 ends at the "-".
        if (!digits || at >= release.size() || release[at] != '.') {
            for (int j = i + 1; j < 3; j++) out[j] = 0;
            return;
        }
        at++;
    }
}

int32_t build_number(const std::string& version) {
    if (version.empty() || version[0] != '#') return 0;
    int64_t n = 0;
    for (size_t i = 1; i < version.size() && std::isdigit(static_cast<unsigned char>(version[i])); i++)
        n = std::min<int64_t>(n * 10 + (version[i] - '0'), INT32_MAX);
    return int32_t(n);
}

OsInfo os_info() {
    OsInfo info{};
    struct utsname u{};
    const bool named = uname(&u) == 0;
    for (const char* file : {"/etc/os-release", "/usr/lib/os-release"}) {
        std::ifstream in(file);
        if (!in) continue;
        std::stringstream text;
        text << in.rdbuf();
        info.name = os_release_name(text.str());
        break;
    }
    if (info.name.empty()) info.name = named ? u.sysname : "Linux";
    info.arch = arch_word(named ? u.machine : "");
    release_numbers(named ? u.release : "", info.version);
    info.build = build_number(named ? u.version : "");
    return info;
}

} // namespace kem::platform
