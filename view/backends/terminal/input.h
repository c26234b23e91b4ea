// Console input as the GUI sees it: the keys the decoder finds turned into
// the key codes of key events (special keys negative), and SGR mouse reports
// into a button, flags and a cell position.
#pragma once
#include <cstdint>
#include "runtime/services/keys.h"

namespace kem::gui {

enum SpecialKey : int32_t {
    KEY_UP = -20, KEY_DOWN = -21, KEY_RIGHT = -22, KEY_LEFT = -23, KEY_END = -24, KEY_HOME = -25,
    KEY_DELETE = -27, KEY_PAGE_UP = -28, KEY_PAGE_DOWN = -29, KEY_F1 = -31, KEY_F12 = -42,
};

struct GuiInput {
    enum Kind : uint8_t { NONE, KEY, MOUSE, CURSOR_REPORT };
    Kind kind = NONE;
    int32_t key = 0;      // KEY: the character
    int32_t special = 0;  // KEY: a special key code
    bool shift = false;   // KEY: Tab with Shift (back-tab)
    int button = 0;       // MOUSE: 0 left, 1 middle, 2 right, 3 motion, 4 wheel up, 5 wheel down
    uint32_t flags = 0;   // MOUSE: shift, alt and control
    bool release = false;
    int column = 0;       // MOUSE: 0-based; CURSOR_REPORT: 1-based
    int row = 0;
};

// Backspace 8 is 127 and line feed 10 is carriage return 13; Insert and
// keys with no code give NONE, and so do mouse buttons 6 and 7.
GuiInput translate_key(const keys::KeyEvent& e);

} // namespace kem::gui
