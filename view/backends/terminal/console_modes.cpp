#include "view/backends/terminal/console_modes.h"
#include <cstdio>
#include <string>
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/pair.h"
#include "runtime/platform/terminal.h"
#include "view/backends/terminal/face_values.h"
#include "view/backends/terminal/screen.h"

namespace kem::gui {

ConsoleState console;

namespace {

constexpr int STDIN = 0;
constexpr int STDOUT = 1;
OutputSink sink = nullptr;

void write_mode(int mode, bool on) {
    std::string text = "\x1b[?" + std::to_string(mode) + (on ? 'h' : 'l');
    write_out(text);
}

// A mode is noted before the sequence that switches it on and after the one
// that switches it off: a signal in between undoes a mode that may already be
// undone, never leaves one on.
void switch_mode(unsigned noted, bool on, void (*write)()) {
    if (on) platform::note_terminal_mode(STDOUT, noted, true);
    write();
    if (!on) platform::note_terminal_mode(STDOUT, noted, false);
}

} // namespace

void set_output_sink(OutputSink s) { sink = s; }

void write_out(std::string_view bytes) {
    if (sink) sink(bytes.data(), bytes.size());
    else (void)platform::write_all(STDOUT, bytes.data(), bytes.size());
}

void set_private_mode(int mode) { write_mode(mode, true); }
void reset_private_mode(int mode) { write_mode(mode, false); }
void ask_cursor_position() {
    write_out("\x1b[6n");
    console.reports_due++;
}

void enter_alt_screen() {
    switch_mode(platform::MODE_ALT_SCREEN, true, [] {
        set_private_mode(1049);
        write_out("\x1b[2J");
    });
}

void leave_alt_screen() {
    switch_mode(platform::MODE_ALT_SCREEN, false, [] { reset_private_mode(1049); });
}

void mouse_on() {
    switch_mode(platform::MODE_MOUSE, true, [] {
        for (int mode : {1000, 1003, 1015, 1006}) set_private_mode(mode);
    });
}

void mouse_off() {
    switch_mode(platform::MODE_MOUSE, false, [] {
        for (int mode : {1000, 1003, 1015, 1006}) reset_private_mode(mode);
    });
}

void hide_cursor() {
    if (console.cursor_hidden) return;
    switch_mode(platform::MODE_CURSOR_HIDDEN, true, [] { reset_private_mode(25); });
    console.cursor_hidden = true;
}

void show_cursor() {
    if (!console.cursor_hidden) return;
    switch_mode(platform::MODE_CURSOR_HIDDEN, false, [] { set_private_mode(25); });
    console.cursor_hidden = false;
}

void cursor_down(int n) {
    if (n < 1) return;
    write_out("\x1b[" + std::to_string(n) + "B");
}

bool console_setup() { return platform::enter_raw_mode(STDIN); }

void console_restore() { platform::restore_terminal(); }

void console_begin() {
    // Frames need a terminal to show on, as keys need one to come from.
    if (!console.active && platform::is_terminal(STDIN) && platform::is_terminal(STDOUT) && console_setup()) {
        refresh_screen_size();
        console.active = true;
    }
    if (console.active && !screen.full_screen && !screen.picture_kept) ask_cursor_position();
    if (!console.active) forget_picture();
}

void console_end() {
    if (!console.active) return;
    console_restore();
    console.active = false;
    console.reports_due = 0;
}

int console_size(int* width, int* height) {
    if (auto size = platform::terminal_size(STDOUT)) {
        *width = size->columns;
        *height = size->rows;
        return 0;
    }
    *width = 80;
    *height = 24;
    return -1;
}

void refresh_screen_size() {
    const int width = console.width, height = console.height;
    console_size(&console.width, &console.height);
    // A terminal that changed size has moved its lines about.
    if (console.width != width || console.height != height) forget_picture();
    // Written straight into the face: the screen's size is no change to report.
    const Cell* screens = view_field("screens");
    if (screens && is_type(screens, TYPE_BLOCK) && block_rs_length(screens) > 0) {
        const Cell first = *block_rs_abs_at(screens, series_index(screens));
        if (Cell* size = field_at(&first, FACET_SIZE)) pair_set_in(size, console.width, console.height);
    }
    if (console.active) screen_resize_windows(console.width, console.height);
}

void cursor_report(int row, int column) {
    console.origin_row = row - 1;
    console.cursor_column = column - 1;
    if (console.reports_due > 0) console.reports_due--;
}

void suspend_screen() {
    // Output while the GUI is away writes below (or over) the picture it left.
    if (!console.active) {
        forget_picture();
        return;
    }
    erase_inline_area();
    screen.frame_written = false;
    std::fflush(nullptr);
}

void resume_screen() {
    if (!console.active) return;
    screen.needs_redraw = true;
    ask_cursor_position();
}

} // namespace kem::gui
