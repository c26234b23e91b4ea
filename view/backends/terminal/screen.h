// The cell screen: the buffer of character cells that windows are drawn
// into, and the writer that sends it to the terminal as one frame of UTF-8
// text and escape sequences. A window is shown inline, in the console lines
// from the cursor down (redrawn in place by going back up), or full-screen on
// the alternate screen.
#pragma once
#include <cstdint>
#include <string>
#include <vector>
#include "view/backends/terminal/cells.h"

namespace kem::gui {

struct ScreenState {
    std::vector<GuiCell> cells;  // width x height, row-major
    int width = 0;               // 0 before the first window
    int height = 0;
    int lines_written = 0;       // rows of the last frame above the cursor
    bool needs_redraw = false;
    int caret_column = -1;       // both negative: no caret
    int caret_row = -1;
    bool full_screen = false;    // a full-screen window was made
    bool in_alt_screen = false;
    bool frame_written = false;  // the inline area holds a frame
    // The GUI gave the terminal back with its picture left in place, the
    // cursor lines_written rows below its top; the next loop draws there
    // again unless console output came in between.
    bool picture_kept = false;
    int kept_row = 0;            // the cursor's row below a kept picture
    int color_mode = 4;          // ColorMode: what images are drawn with
    std::string out;             // one frame's bytes
};
extern ScreenState screen;

// What the screen asks of the windows above it, which the widget layer
// provides: the top window's extent (false when there is none), drawing it
// into the cells, whether the focused widget shows a text caret, and telling
// every window of a new console size.
struct ScreenClient {
    bool (*top_window_extent)(float* left, float* top, float* right, float* bottom);
    void (*render_top_window)();
    bool (*caret_shown)();
    void (*resize_windows)(int width, int height);
};
// Null: no windows (no frame is drawn).
void set_screen_client(const ScreenClient* client);

// Once, at the backend's start: the output buffer, the colour mode from the
// environment, and the pause of the picture around console output.
void screen_init();
// Everything back to the state before the first window (the colour mode
// stays).
void screen_shutdown();

// The cell at a column and row (inside the screen).
inline GuiCell& cell_at(int x, int y) { return screen.cells[size_t(y) * size_t(screen.width) + size_t(x)]; }
// Sets the size, making the buffer bigger when it grows (a shrinking screen
// keeps its buffer).
void set_screen_size(int width, int height);
// While the GUI is active: the size of a window's extent, each dimension cut
// to the console's.
void resize_screen(float left, float top, float right, float bottom);
void clear_cells();
void free_cells();

// One frame, when a redraw was asked for and there is a top window: the
// cells drawn anew from the top window, then written.
void flush_screen();
// The cells written as one frame; the caret is placed when shown.
void write_screen(bool caret_shown);
// The sequences that change the terminal's attributes from those of one cell
// to those of another.
void emit_attributes(std::string& out, const GuiCell& from, const GuiCell& to);

// Before console output: the inline frame erased, the cursor where it began.
void erase_inline_area();
// When the event loop ends: the cursor below the inline area; with keep,
// the picture is noted for the next loop to draw over.
void leave_inline_area(bool keep);
// The picture on the terminal is no longer the GUI's (output, a resize).
void forget_picture();
// The alternate screen, when a full-screen window was made; and back.
void enter_full_screen();
void leave_full_screen();
// A new console size for every window, then a frame on the alternate screen.
void screen_resize_windows(int width, int height);

} // namespace kem::gui
