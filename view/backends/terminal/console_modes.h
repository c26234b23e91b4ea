// The terminal while a GUI window is up: raw input, the private modes the
// backend switches (alternate screen, mouse reporting, cursor), the size of
// the console, and the pause of the GUI's picture around ordinary console
// output.
//
// Every mode switched on is also noted with the platform layer, so that
// restore_terminal undoes it on any way out of the process (an error, quit,
// a signal, a fatal runtime error), not only when the event loop ends.
#pragma once
#include <cstddef>
#include <string_view>

namespace kem::gui {

struct ConsoleState {
    bool active = false;         // switched to the GUI's modes
    bool cursor_hidden = false;
    int width = 80;              // the console in cells, 80 x 24 until measured
    int height = 24;
    int origin_row = 0;          // from the last cursor report, 0-based
    int cursor_column = 0;
    int reports_due = 0;         // position queries not answered yet
};
extern ConsoleState console;

// Where the backend's bytes go: standard output unless a test puts its own
// sink in place (null puts standard output back).
using OutputSink = void (*)(const char* bytes, size_t count);
void set_output_sink(OutputSink sink);
// Writes the bytes to the sink; a terminal that refuses is not an error.
void write_out(std::string_view bytes);

void set_private_mode(int mode);    // "\033[?%dh"
void reset_private_mode(int mode);  // "\033[?%dl"
void ask_cursor_position();         // "\033[6n"; the answer comes through cursor_report
void enter_alt_screen();
void leave_alt_screen();
void mouse_on();
void mouse_off();
void hide_cursor();                 // only when not hidden already
void show_cursor();                 // only when hidden
void cursor_down(int n);            // nothing for n below 1

// Raw input on standard input, saved for console_restore.
bool console_setup();
void console_restore();
// Switches to the GUI's modes when standard input and output are terminals
// (once), then, unless the GUI draws full-screen or over the picture it
// left, asks where the cursor is so that the inline area starts there.
void console_begin();
void console_end();
// The console's size in cells: 0, or -1 with 80 x 24 when it reports none.
int console_size(int* width, int* height);
// Measures the console, sets the size of the first screen face in
// system/view/screens, and while active resizes the windows.
void refresh_screen_size();
// The answer to the cursor position request (1-based row and column).
void cursor_report(int row, int column);

// Around each ordinary console write while the GUI is active: the inline area
// is erased before it and redrawn below the text after it.
void suspend_screen();
void resume_screen();

} // namespace kem::gui
