// The clipboard over xclip, wl-copy and wl-paste, or local to the process.
#include "runtime/platform/clipboard.h"
#include <unistd.h>
#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include "runtime/platform/platform.h"
#include "runtime/platform/process.h"

namespace kem::platform {

namespace {

std::vector<ClipItem>& local_clipboard() {
    static auto* items = new std::vector<ClipItem>;
    return *items;
}

bool in_path(std::string_view program) {
    const auto path = get_env("PATH");
    if (!path) return false;
    size_t start = 0;
    while (start <= path->size()) {
        size_t end = path->find(':', start);
        if (end == std::string::npos) end = path->size();
        std::string dir = path->substr(start, end - start);
        if (dir.empty()) dir = ".";
        if (access((dir + "/" + std::string(program)).c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

bool set_and_not_empty(const char* name) {
    const auto v = get_env(name);
    return v && !v->empty();
}

// Names of the formats as the desktop offers them, the one we offer first.
std::vector<std::string_view> target_names(ClipFormat f, ClipboardBackend backend) {
    switch (f) {
    case ClipFormat::text:
        if (backend == ClipboardBackend::wayland)
            return {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain", "STRING", "TEXT"};
        return {"UTF8_STRING", "text/plain;charset=utf-8", "STRING", "TEXT", "text/plain"};
    case ClipFormat::files: return {"text/uri-list"};
    case ClipFormat::png: return {"image/png"};
    case ClipFormat::jpeg: return {"image/jpeg"};
    case ClipFormat::gif: return {"image/gif"};
    case ClipFormat::bmp: return {"image/bmp", "image/x-bmp"};
    }
    return {};
}

// What is offered when the desktop's clipboard is emptied under X11, where
// no program can give the clipboard up: an empty file, a format nobody
// takes for text or pictures.
constexpr std::string_view EMPTY_TARGET = "application/x-empty";

// Reading waits this long at most for the program holding the clipboard.
constexpr std::string_view READ_TIMEOUT_SECONDS = "10";
// A write is confirmed by reading it back, for at most about two seconds.
constexpr int SERVE_TRIES = 200;
constexpr double SERVE_PAUSE_SECONDS = 0.01;

struct Finished {
    int status = -1;
    std::vector<uint8_t> out;
    std::string err;
};

Finished run(std::vector<std::string> argv, const std::vector<uint8_t>* input, bool collect) {
    std::string command;
    for (const std::string& word : argv) command += (command.empty() ? "" : " ") + quote_word(word);
    ChildStream in, out, err;
    in.kind = input ? ChildStream::Kind::pipe : ChildStream::Kind::null_device;
    if (input) in.data = *input;
    // A program that goes on serving the clipboard in the background keeps
    // the streams it was given: pipes we read would never end.
    out.kind = err.kind = collect ? ChildStream::Kind::pipe : ChildStream::Kind::null_device;
    Finished f;
    f.status = run_command(command, false, true, in, out, err);
    // A content cut short by a lack of memory is no content.
    if (out.out_of_memory) f.status = -1;
    f.out = std::move(out.data);
    f.err.assign(err.data.begin(), err.data.end());
    return f;
}

std::vector<std::string> reader(ClipboardBackend backend, std::vector<std::string> args) {
    std::vector<std::string> argv;
    if (in_path("timeout")) argv = {"timeout", std::string(READ_TIMEOUT_SECONDS)};
    if (backend == ClipboardBackend::x11) {
        argv.insert(argv.end(), {"xclip", "-selection", "clipboard", "-o"});
    } else {
        argv.insert(argv.end(), {"wl-paste", "--no-newline"});
    }
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
}

// The targets the desktop's clipboard offers; nullopt when unreachable.
std::optional<std::vector<std::string>> desktop_targets(ClipboardBackend backend) {
    Finished f = run(reader(backend, backend == ClipboardBackend::x11 ? std::vector<std::string>{"-t", "TARGETS"}
                                                                      : std::vector<std::string>{"--list-types"}),
                     nullptr, true);
    std::vector<std::string> targets;
    if (f.status != 0) {
        // Nobody holding the clipboard is an empty clipboard; a display that
        // cannot be opened, a missing compositor or a timeout is no clipboard.
        const bool nothing = f.err.find("not available") != std::string::npos ||
                             f.err.find("Nothing is copied") != std::string::npos ||
                             f.err.find("No selection") != std::string::npos;
        if (nothing) return targets;
        return std::nullopt;
    }
    std::string line;
    for (uint8_t c : f.out) {
        if (c == '\n' || c == '\r') {
            if (!line.empty()) targets.push_back(line);
            line.clear();
        } else {
            line.push_back(char(c));
        }
    }
    if (!line.empty()) targets.push_back(line);
    return targets;
}

ClipRead desktop_read(ClipboardBackend backend, std::span<const ClipFormat> wanted) {
    ClipRead r;
    const auto targets = desktop_targets(backend);
    if (!targets) {
        r.status = ClipStatus::unreachable;
        return r;
    }
    for (ClipFormat f : wanted) {
        for (std::string_view name : target_names(f, backend)) {
            if (std::find(targets->begin(), targets->end(), name) == targets->end()) continue;
            Finished got = run(reader(backend, {backend == ClipboardBackend::x11 ? "-t" : "--type", std::string(name)}),
                               nullptr, true);
            if (got.status != 0) {
                r.status = ClipStatus::unreachable;
                return r;
            }
            r.status = ClipStatus::found;
            r.item = ClipItem{f, std::move(got.out)};
            return r;
        }
    }
    return r;
}

// Whether the desktop's clipboard now offers what was put there: the program
// that serves it takes the clipboard from the background, after it has
// returned, so a read at once could still meet the one before.
bool served(ClipboardBackend backend, const std::string& target, const std::vector<uint8_t>* bytes) {
    const auto targets = desktop_targets(backend);
    if (!targets) return false;
    if (!bytes) return std::find(targets->begin(), targets->end(), target) != targets->end() || targets->empty();
    if (std::find(targets->begin(), targets->end(), target) == targets->end()) return false;
    const Finished got = run(reader(backend, {backend == ClipboardBackend::x11 ? "-t" : "--type", target}), nullptr, true);
    return got.status == 0 && got.out == *bytes;
}

bool desktop_write(ClipboardBackend backend, std::span<const ClipItem> items) {
    const bool wayland = backend == ClipboardBackend::wayland;
    const std::vector<uint8_t> nothing;
    const std::vector<uint8_t>* bytes = items.empty() ? nullptr : &items.front().bytes;
    std::string target;
    Finished f;
    if (!bytes) {
        target = std::string(EMPTY_TARGET);
        f = wayland ? run({"wl-copy", "--clear"}, nullptr, false)
                    : run({"xclip", "-selection", "clipboard", "-i", "-t", target}, &nothing, false);
    } else {
        target = std::string(target_names(items.front().format, backend).front());
        f = wayland ? run({"wl-copy", "--type", target}, bytes, false)
                    : run({"xclip", "-selection", "clipboard", "-i", "-t", target}, bytes, false);
    }
    if (f.status != 0) return false;
    for (int tries = 0; tries < SERVE_TRIES; tries++) {
        if (served(backend, target, bytes)) return true;
        wait(SERVE_PAUSE_SECONDS);
    }
    return false;
}

} // namespace

ClipboardBackend clipboard_backend() {
    if (set_and_not_empty("WAYLAND_DISPLAY") && in_path("wl-copy") && in_path("wl-paste"))
        return ClipboardBackend::wayland;
    if (set_and_not_empty("DISPLAY") && in_path("xclip")) return ClipboardBackend::x11;
    return ClipboardBackend::local;
}

ClipRead clipboard_read(std::span<const ClipFormat> wanted) {
    const ClipboardBackend backend = clipboard_backend();
    if (backend != ClipboardBackend::local) return desktop_read(backend, wanted);
    ClipRead r;
    for (ClipFormat f : wanted) {
        const auto& items = local_clipboard();
        auto found = std::find_if(items.begin(), items.end(), [f](const ClipItem& i) { return i.format == f; });
        if (found != items.end()) {
            r.status = ClipStatus::found;
            r.item = *found;
            return r;
        }
    }
    return r;
}

bool clipboard_write(std::span<const ClipItem> items) {
    const ClipboardBackend backend = clipboard_backend();
    if (backend != ClipboardBackend::local) return desktop_write(backend, items);
    local_clipboard().assign(items.begin(), items.end());
    return true;
}

} // namespace kem::platform
