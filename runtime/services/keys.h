// Keys from the bytes a terminal sends: characters as UTF-8, and the editing
// keys as the escape sequences of the xterm, VT220, rxvt and Linux console
// families, with or without modifiers (which are dropped: Ctrl-Left is Left),
// the function keys, and the SGR mouse reports of xterm's mouse modes.
//
// The decoder is fed bytes as they arrive. A sequence cut short by a read stays
// pending until the rest comes; when the wait for it runs out (flush), its
// bytes are given as keys of their own (ESC, then the characters), so no
// keystroke is lost. A byte that breaks a sequence ends it the same way and
// is then decoded afresh.
//
// On top of it: reading keys from a terminal in raw mode, and asking the
// terminal where its cursor is, without losing the keys typed meanwhile.
#pragma once
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>

namespace kem::keys {

enum class Key : int32_t {
    UP, DOWN, LEFT, RIGHT, HOME, END, INSERT, DELETE, PAGE_UP, PAGE_DOWN, OTHER,
    F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
};

struct KeyEvent {
    enum Kind : uint8_t { CHARACTER, KEY, CURSOR_REPORT, MOUSE };
    Kind kind = CHARACTER;
    int32_t code = 0;  // CHARACTER: the code point; KEY: a Key; MOUSE: the button byte
    int row = 0;       // CURSOR_REPORT, MOUSE: the position reported, counted from 1
    int column = 0;
    bool shift = false;    // CHARACTER 9: Shift-Tab
    bool release = false;  // MOUSE: a button was let go
};

class KeyDecoder {
public:
    // The longest sequence kept waiting; a longer one is broken.
    static constexpr size_t MAX_SEQUENCE = 32;
    // How long to wait for the rest of a cut-off sequence before flushing it.
    static constexpr int WAIT_MS = 100;

    void feed(uint8_t byte);
    void feed(const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; i++) feed(bytes[i]);
    }
    // The rest of the pending sequence will not come: its bytes become keys.
    void flush();
    // Bytes of an unfinished sequence are waiting.
    bool pending() const { return length_ > 0; }

    // Takes the oldest decoded event; false when there is none.
    bool next(KeyEvent* event);
    // Takes the oldest cursor position report, leaving the other events queued.
    bool take_cursor_report(int* row, int* column);
    // Drops everything, pending bytes included.
    void clear();

private:
    void decode(bool final);

    std::deque<KeyEvent> events_;
    uint8_t bytes_[MAX_SEQUENCE];
    size_t length_ = 0;
};

struct CursorPosition {
    int column;  // counted from 0
    int row;     // counted from 0, from the top of the window
};
// Asks the terminal for its cursor position (a device status report) and waits
// up to timeout_ms for the answer on in_fd. Both descriptors must be terminals.
// Input mode is switched to non-canonical without echo for the exchange and
// restored after it. Keys typed before the answer arrives are kept for
// read_key on the same descriptor.
std::optional<CursorPosition> terminal_cursor(int in_fd, int out_fd, int timeout_ms = 250);

enum class KeyRead { KEY, RESIZED, FAILED };
// Waits for the next key from the terminal on fd (in raw mode). RESIZED: the
// window changed size while waiting (ask terminal_size again). FAILED: the
// terminal is gone (hung up, closed, a read error); keys that arrived before
// are given first. A cursor report that nobody asked for is Key::OTHER.
KeyRead read_key(int fd, KeyEvent* event);

} // namespace kem::keys
