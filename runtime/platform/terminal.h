// Facts about the terminal and raw writes to it: whether a descriptor is a
// terminal, its size in character cells, where its cursor stands, and writing
// a run of bytes in full.
#pragma once
#include <cstddef>
#include <optional>

namespace kem::platform {

// True when the descriptor is a terminal (the Linux meaning of "a console").
bool is_terminal(int fd);

struct TerminalSize {
    int columns;
    int rows;
};
// The window size of the terminal on fd; nullopt when fd is not a terminal or
// reports no size (0 x 0, as a serial line or a fresh pseudo-terminal may).
std::optional<TerminalSize> terminal_size(int fd);

// Writes every byte, going on after interruptions and partial writes and
// waiting while a non-blocking descriptor is full. False when the descriptor
// refuses (closed pipe, full disk); callers that ignore write errors may drop it.
bool write_all(int fd, const void* bytes, size_t count);

struct CursorPosition {
    int column;  // counted from 0
    int row;     // counted from 0, from the top of the window
};
// Asks the terminal for its cursor position (a device status report) and waits
// up to timeout_ms for the answer on in_fd. Both descriptors must be terminals.
// Input mode is switched to non-canonical without echo for the exchange and
// restored after it; keys typed before the answer arrives are lost.
std::optional<CursorPosition> terminal_cursor(int in_fd, int out_fd, int timeout_ms = 250);

} // namespace kem::platform
