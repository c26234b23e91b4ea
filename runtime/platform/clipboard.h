// The clipboard: the desktop's, through xclip under X11 or wl-copy and
// wl-paste under Wayland, when a desktop is there; otherwise a clipboard
// local to the process. Contents cross this layer as bytes in a format.
//
// The desktop is looked for at each call (WAYLAND_DISPLAY, then DISPLAY, with
// the programs found in PATH), so a script that sets DISPLAY reaches it.
#pragma once
#include <cstdint>
#include <span>
#include <vector>

namespace kem::platform {

enum class ClipFormat : uint8_t {
    text,   // UTF-8
    files,  // a URI list: one file: URI a line, lines ended by CR LF
    png,
    jpeg,
    gif,
    bmp,    // a BMP file
};

enum class ClipboardBackend : uint8_t { local, x11, wayland };
ClipboardBackend clipboard_backend();

struct ClipItem {
    ClipFormat format;
    std::vector<uint8_t> bytes;
};

enum class ClipStatus : uint8_t {
    found,        // item holds the first wanted format present
    empty,        // none of the wanted formats is there
    unreachable,  // the desktop's clipboard cannot be reached
};

struct ClipRead {
    ClipStatus status = ClipStatus::empty;
    ClipItem item{ClipFormat::text, {}};
};

// The first format of `wanted`, in that order, that the clipboard holds.
ClipRead clipboard_read(std::span<const ClipFormat> wanted);

// Empties the clipboard, then offers the items (none: it stays empty). The
// desktop's clipboard is served by one program per format offered, and a
// second would take the clipboard from the first: it gets the first item
// only. False when the clipboard cannot be reached.
bool clipboard_write(std::span<const ClipItem> items);

} // namespace kem::platform
