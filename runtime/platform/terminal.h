// Facts about the terminal and raw writes to it: whether a descriptor is a
// terminal, its size in character cells, and writing a run of bytes in full;
// raw input mode for the line editor, and putting the terminal back as it was
// on every way out of the process. Keys and the cursor's position are read in
// services/keys.h.
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

// ---- raw key input

// Switches the terminal on fd to raw input: no line editing, no echo, Ctrl-C,
// Ctrl-Z and Ctrl-S arrive as characters, CR is not turned into LF. Output
// processing is left as it is. The state before is saved for
// restore_terminal. False when fd is not a terminal or refuses.
bool enter_raw_mode(int fd);
// Undoes every display mode still on (mouse reporting off, the alternate
// screen left, the cursor shown, in this order), then puts back the state
// enter_raw_mode saved, exactly; nothing of either when it is not in force.
// Safe in a signal handler: the exit paths and the fatal-signal handlers call
// it.
void restore_terminal();
bool raw_mode_active();
// Hides or shows the cursor of the terminal on fd (while the editor redraws).
void hide_cursor(int fd, bool hidden);

// Display modes that whoever switched them on writes the sequences for, and
// notes here, so that restore_terminal switches off what is still on.
enum TerminalMode : unsigned {
    MODE_CURSOR_HIDDEN = 1,
    MODE_ALT_SCREEN = 2,
    MODE_MOUSE = 4,  // the GUI's reporting modes 1000, 1003, 1015 and 1006
};
void note_terminal_mode(int fd, unsigned mode, bool on);
unsigned terminal_modes();

// Whether the window changed size since the last call (the signal that says
// so is caught once the terminal has been raw); clears the news.
bool take_resize();

} // namespace kem::platform
