// The console's terminal module: how `ask` gets a line. On a terminal the line
// editor (line_editor.cpp) draws the prompt and the line and edits it in place
// with history and completion; from redirected standard input a line is read
// as UTF-8 text up to a line feed, with no prompt.
//
// The module keeps its state for the whole process, and is not re-entrant: one
// line is edited at a time. The editor works with the terminal in raw mode
// only while it edits; every way out of an edit (return, error, end of input)
// puts the terminal back exactly as it was.
//
// The screen model: the editor knows the column where the prompt began and
// counts rows below that row. It moves the cursor only relatively (line feeds
// down, which scroll the screen when needed, cursor-up, carriage return and
// cursor-forward), so a screen that scrolled under the line needs no
// correction.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>
#include "runtime/core/cell.h"
#include "runtime/datatypes/routine.h"

namespace kem::terminal {

// Keys that give no character; characters come as their code points (Ctrl-A
// is 1, Enter 13, Backspace 8 or 127).
enum KeyCode : int32_t {
    KEY_NONE = 0,      // a key the editor has no use for
    KEY_FAILED = -1,   // the terminal is gone: end of input
    KEY_UP = -20,
    KEY_DOWN = -21,
    KEY_RIGHT = -22,
    KEY_LEFT = -23,
    KEY_END = -24,
    KEY_HOME = -25,
    KEY_INSERT = -26,
    KEY_DELETE = -27,
    KEY_PAGE_UP = -28,
    KEY_PAGE_DOWN = -29,
};

struct State {
    bool initialized = false;
    bool console = true;       // the line editor is used; set by init
    int width = -1;            // the terminal's size in characters; -1 until read
    int height = -1;
    int start_column = 0;      // where the prompt began
    int cursor_row = 0;        // rows below the prompt's row where the terminal cursor is
    int last_row = 0;          // row below the prompt's holding the end of the line
    int offset = 0;            // columns from the prompt row's column 0 to the cursor
    bool hide = false;         // each character of the line is drawn as "*"
    bool first_draw = false;   // the next redraw starts the picture
    bool redraw = true;        // the next redraw rewrites prompt and line (else only moves the cursor)
    bool editing = false;
    bool input_ended = false;  // a read found the end of input or a terminal gone
    bool listed = false;       // the last edit ended by listing completion candidates
    std::vector<int32_t> output;  // code points built for one write
    size_t capacity = 128;     // bytes the output buffer has room for
};
extern State state;

// Cells of the module, kept alive by the collector for the whole process.
enum ModuleCell { LINE, PROMPT, HISTORY, WORK, CELL_COUNT };
Cell* module_cell(ModuleCell which);

// Whether the editor is used, and the terminal's size. The line editor
// needs standard input and the console output to be terminals. Runs once;
// every entry point below calls it first.
void init();
// Makes the work string when it does not exist yet.
void init_globals();
// Reads the terminal's size into the state and system/console/size, and with
// take_cursor the column where the prompt will begin. 0, or -1 when the
// terminal reports no size (the width is then 80).
int screen_info(bool take_cursor);

// One key: a code point or a KeyCode. A window resize while waiting updates
// the size and goes on waiting.
int32_t read_key();

// Cursor and erasing, queued for the next write.
void move_cursor(int row, int column);
void cursor_to_start();
void cursor_to_last_row();
void erase_to_end();
// Writes the output buffer's code points (escape sequences of the output
// dialect translated, as for print) and what is queued before them.
void write_wide();

// Stores the line and history cells for the next edit.
void setup(const Cell* line, const Cell* history);
// Sizes the output buffer for a prompt and a line and empties it. A size that
// cannot be had ends the process.
void init_buffer(const Cell* line, const Cell* prompt);

// Reads one line into the string: on a terminal with the editor, otherwise
// from redirected input.
void edit(const Cell* prompt, bool hidden);
// The line editor itself (the terminal in raw mode).
void edit_on_terminal();

// One code point of redirected input, or -1 at the end of input or when the
// read fails. Bytes that are not UTF-8 give U+FFFD each; a byte that breaks a
// sequence is read again as the start of the next character.
int32_t read_utf8_char();
// Appends one line of redirected input to the string (its line feed is not
// stored, a carriage return before it is). At the end of input, what was read.
void stdin_readline(const Cell* string);
// Reads up to count bytes of standard input with one read: their number, 0
// at the end of input, -1 when the read fails.
long read_stdin_bytes(uint8_t* bytes, size_t count);

// A read found the end of standard input or a terminal gone (the console
// ends then, as quit does, rather than reading empty lines for ever).
inline bool input_ended() { return state.input_ended; }
// The last edit returned an empty line because completion listed candidates:
// that line is no input.
inline bool listed_candidates() { return state.listed; }

// The module's routines, for start-up to bind: _set-buffer-history,
// _read-input, input-stdin, read-stdin, _terminate-console, and _input-ended?
// and _listed-candidates? for the console loop.
std::span<const RoutineEntry> routines();
// The routine start-up keeps in system/console/init.
RoutineEntry console_init_routine();

// system/console/size, when the console object exists and the field holds a
// pair or none; nullptr otherwise.
Cell* console_size_cell();

} // namespace kem::terminal
