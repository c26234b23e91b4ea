#include "view/backends/terminal/screen.h"
#include <algorithm>
#include <cstdio>
#include "runtime/services/output.h"
#include "runtime/services/unicode/utf.h"
#include "view/backends/terminal/colors.h"
#include "view/backends/terminal/console_modes.h"
#include "view/backends/terminal/face_values.h"

namespace kem::gui {

ScreenState screen;

namespace {

const ScreenClient* client = nullptr;

void append_count(std::string& out, int n, char final) {
    out += "\x1b[";
    out += std::to_string(n);
    out += final;
}

// A cell's character as the terminal should see it. Characters that would
// act instead of show (control codes, which move the cursor or begin a
// sequence) and values that are no character show as a space, so no text can
// upset the frame.
void append_character(std::string& out, const GuiCell& c) {
    uint32_t cp = c.code;
    if (c.style & STYLE_MASKED) cp = '*';
    const bool control = cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
    if (control || (cp >= 0xD800 && cp < 0xE000) || cp > 0x10FFFF) cp = ' ';
    uint8_t bytes[4];
    const int n = utf8_encode_char(int32_t(cp), bytes);
    out.append(reinterpret_cast<const char*>(bytes), size_t(n));
}

} // namespace

void set_screen_client(const ScreenClient* c) { client = c; }

void screen_init() {
    screen.out.reserve(2000);
    screen.color_mode = color_mode_from_environment();
    set_screen_hooks(suspend_screen, resume_screen);
}

void screen_shutdown() {
    const int color_mode = screen.color_mode;
    screen = ScreenState{};
    screen.color_mode = color_mode;
    screen.out.reserve(2000);
    console.origin_row = 0;
}

void set_screen_size(int width, int height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width > screen.width || height > screen.height) screen.cells.assign(size_t(width) * size_t(height), GuiCell{});
    screen.width = width;
    screen.height = height;
}

void resize_screen(float left, float top, float right, float bottom) {
    if (!console.active) return;
    const int width = std::min(saturate_int(double(right) - double(left)), console.width);
    const int height = std::min(saturate_int(double(bottom) - double(top)), console.height);
    if (width != screen.width || height != screen.height) set_screen_size(width, height);
}

void clear_cells() { std::fill(screen.cells.begin(), screen.cells.end(), GuiCell{}); }

void free_cells() {
    screen.cells = std::vector<GuiCell>();
    screen.width = 0;
    screen.height = 0;
}

void emit_attributes(std::string& out, const GuiCell& from, const GuiCell& to) {
    const auto on = [&](uint32_t bit) { return (to.style & bit) && !(from.style & bit); };
    const auto off = [&](uint32_t bit) { return !(to.style & bit) && (from.style & bit); };
    // One sequence ends both bold and dim: whichever of them stays on is
    // written again after it.
    bool intensity_reset = false;
    if (on(STYLE_DIM)) out += "\x1b[2m";
    if (off(STYLE_DIM)) {
        out += "\x1b[22m";
        intensity_reset = true;
    }
    if (on(STYLE_REVERSE)) out += "\x1b[7m";
    if (off(STYLE_REVERSE)) out += "\x1b[27m";
    if ((to.style & STYLE_BOLD) && (!(from.style & STYLE_BOLD) || intensity_reset)) out += "\x1b[1m";
    if (off(STYLE_BOLD)) {
        out += "\x1b[22m";
        if (to.style & STYLE_DIM) out += "\x1b[2m";
    }
    if (on(STYLE_ITALIC)) out += "\x1b[3m";
    if (off(STYLE_ITALIC)) out += "\x1b[23m";
    if (on(STYLE_STRIKE)) out += "\x1b[9m";
    if (off(STYLE_STRIKE)) out += "\x1b[29m";
    if (on(STYLE_UNDERLINE)) out += "\x1b[4m";
    if (off(STYLE_UNDERLINE)) out += "\x1b[24m";
    if (from.fg != to.fg) append_color_sequence(out, to.fg, true);
    if (from.bg != to.bg) append_color_sequence(out, to.bg, false);
}

void write_screen(bool caret_shown) {
    const int width = screen.width, height = screen.height;
    if (width < 1 || height < 1) return;
    screen.needs_redraw = true;
    std::string& out = screen.out;
    out.clear();
    if (screen.full_screen) {
        out += "\x1b[H";
    } else {
        out += '\r';
        if (screen.lines_written > 0) append_count(out, screen.lines_written, 'A');
        out += "\x1b[0J";
    }
    // The terminal is taken to be in the plain state at every frame's start.
    GuiCell current{};
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            const GuiCell& c = cell_at(x, y);
            if (c.style & STYLE_CONTINUATION) continue;
            emit_attributes(out, current, c);
            current = c;
            append_character(out, c);
        }
        if (y < height - 1) {
            out += "\x1b[49m\r\n";
            current.bg = 0;
        }
    }
    emit_attributes(out, current, GuiCell{});
    if (caret_shown && !(screen.caret_column < 0 && screen.caret_row < 0)) {
        const int row = std::clamp(screen.caret_row, 0, height - 1);
        const int column = std::clamp(screen.caret_column, 0, width - 1);
        out += '\r';
        if (height - (row + 1) > 0) append_count(out, height - (row + 1), 'A');
        if (column > 0) append_count(out, column, 'C');
        screen.lines_written = row;
    } else {
        screen.lines_written = height - 1;
    }
    write_out(out);
    out.clear();
    screen.frame_written = true;
    screen.needs_redraw = false;
}

void flush_screen() {
    if (screen.full_screen) {
        console.origin_row = 0;
    } else if (console.origin_row + screen.height > console.height) {
        console.origin_row = std::max(console.height - screen.height, 0);
    }
    if (!screen.needs_redraw) return;
    float left, top, right, bottom;
    if (!client || !client->top_window_extent(&left, &top, &right, &bottom)) return;
    resize_screen(left, top, right, bottom);
    // No cells to draw into (the console is not the GUI's, or the window is
    // empty): renderers must not run.
    if (screen.width < 1 || screen.height < 1) return;
    clear_cells();
    client->render_top_window();
    const bool caret = client->caret_shown && client->caret_shown();
    // A console the GUI did not take (redirected) gets no cursor switches.
    if (!caret && console.active) {
        hide_cursor();
        std::fflush(nullptr);
    }
    write_screen(caret);
    if (caret && console.active) {
        show_cursor();
        std::fflush(nullptr);
    }
}

void erase_inline_area() {
    if (screen.frame_written) {
        std::string out = "\r";
        if (screen.lines_written > 0) append_count(out, screen.lines_written, 'A');
        // Also for a frame of one row, which the text about to be printed
        // would otherwise only partly cover.
        out += "\x1b[0J";
        write_out(out);
    }
    screen.lines_written = 0;
}

void leave_inline_area(bool keep) {
    const bool drawn = screen.frame_written;
    if (drawn) cursor_down(screen.height - 1 - screen.lines_written);
    write_out("\r\n");
    screen.picture_kept = keep && drawn && !screen.full_screen;
    if (!screen.picture_kept) return;
    screen.lines_written = screen.height;
    // A picture on the last rows scrolled up with the line end.
    if (console.origin_row + screen.height >= console.height) console.origin_row = console.height - 1 - screen.height;
    screen.kept_row = console.origin_row + screen.height;
}

void forget_picture() {
    if (!screen.picture_kept) return;
    screen.picture_kept = false;
    screen.frame_written = false;
    screen.lines_written = 0;
}

void enter_full_screen() {
    if (!screen.full_screen || screen.in_alt_screen) return;
    enter_alt_screen();
    screen.in_alt_screen = true;
}

void leave_full_screen() {
    if (!screen.in_alt_screen) return;
    leave_alt_screen();
    screen.in_alt_screen = false;
}

void screen_resize_windows(int width, int height) {
    if (client && client->resize_windows) client->resize_windows(width, height);
    if (screen.in_alt_screen) flush_screen();
}

} // namespace kem::gui
