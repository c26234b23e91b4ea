#include "view/backends/terminal/input.h"

namespace kem::gui {

namespace {

int32_t special_code(keys::Key k) {
    using keys::Key;
    switch (k) {
    case Key::UP: return KEY_UP;
    case Key::DOWN: return KEY_DOWN;
    case Key::RIGHT: return KEY_RIGHT;
    case Key::LEFT: return KEY_LEFT;
    case Key::END: return KEY_END;
    case Key::HOME: return KEY_HOME;
    case Key::DELETE: return KEY_DELETE;
    case Key::PAGE_UP: return KEY_PAGE_UP;
    case Key::PAGE_DOWN: return KEY_PAGE_DOWN;
    default:
        if (k >= Key::F1 && k <= Key::F12) return KEY_F1 - (int32_t(k) - int32_t(Key::F1));
        return 0;  // Insert and keys without a code
    }
}

} // namespace

GuiInput translate_key(const keys::KeyEvent& e) {
    GuiInput in;
    switch (e.kind) {
    case keys::KeyEvent::CHARACTER:
        in.kind = GuiInput::KEY;
        in.key = e.code == 8 ? 127 : e.code == 10 ? 13 : e.code;
        in.shift = e.code == 9 && e.shift;  // back-tab: Tab with the shift flag
        break;
    case keys::KeyEvent::KEY:
        in.special = special_code(keys::Key(e.code));
        if (in.special) in.kind = GuiInput::KEY;
        break;
    case keys::KeyEvent::CURSOR_REPORT:
        in.kind = GuiInput::CURSOR_REPORT;
        in.row = e.row;
        in.column = e.column;
        break;
    case keys::KeyEvent::MOUSE: {
        const int b = e.code;
        in.button = (b & 3) + ((b & 0x40) >> 4);
        if (in.button > 5) break;
        in.kind = GuiInput::MOUSE;
        if (b & 4) in.flags |= 0x20000000;   // shift
        if (b & 8) in.flags |= 0x40000000;   // alt
        if (b & 16) in.flags |= 0x10000000;  // control
        in.release = e.release;
        in.column = e.column - 1;
        in.row = e.row - 1;
        break;
    }
    }
    return in;
}

} // namespace kem::gui
