// Output hooks and console output: every text the language prints leaves the
// runtime here.
//
// `print` and `prin` hand each string value to the writer hooks; the default
// writer, print_string_by_unit, sends it to standard output. On a terminal the
// text goes out as UTF-8 and the output escape dialect (ESC [ ... with
// column-first, 0-based cursor positions and its own colour codes) is
// translated into VT sequences; when standard output is redirected the text is
// UTF-8 with every byte of the dialect passed on unchanged. Line ends are LF.
#pragma once
#include <cstdint>
#include <string_view>
#include <type_traits>
#include "runtime/core/cell.h"

namespace kem {

// ---- hooks

// A writer receives a string value and whether a line end follows it.
using OutputWriter = void (*)(const Cell* string, bool new_line);
// An after-output hook receives text as (address, length in bytes, unit 1, 2 or 4).
using AfterOutputHook = void (*)(const uint8_t* text, uint32_t length, uint32_t unit);

// Empties both lists and registers print_string_by_unit as the only writer.
void output_hooks_init();
// Appends each non-null function to its list.
void output_hook_add(OutputWriter writer, AfterOutputHook after);
// Removes the first occurrence of each non-null function from its list.
void output_hook_remove(OutputWriter writer, AfterOutputHook after);
// Calls every writer in registration order (print and prin).
void output_writers_call(const Cell* string, bool new_line);
// Calls every after-output hook in registration order.
void output_hooks_call(const uint8_t* text, uint32_t length, uint32_t unit);
uint32_t output_writer_count();
uint32_t output_after_hook_count();

// The text-terminal GUI pauses its screen before each console write and
// redraws after it; both are null until the GUI installs them.
using ScreenHook = void (*)();
void set_screen_hooks(ScreenHook suspend, ScreenHook resume);

// The default writer: the string from its position to its tail, by its unit
// width, then the line end when asked. A buffer whose unit is not 1, 2 or 4
// prints "Error: unknown string encoding: " and the unit instead.
void print_string_by_unit(const Cell* string, bool new_line);

// ---- the console

// Takes standard output and notes whether it is a terminal.
void console_probe();
// Sends console output to fd, translating the escape dialect when terminal
// is set; resets the colour state. console_probe is console_attach(1, isatty(1)).
void console_attach(int fd, bool terminal);
bool console_is_terminal();
int console_fd();
// Takes the terminal's present colours as the default that ESC [ 0 m and
// erasing return to. A terminal cannot report its colours, so this is the
// terminal's own default (light on dark, attributes 0x07 in the dialect).
void console_save_attributes();
// The colour attributes now in force, in the dialect's 16-bit form.
uint16_t console_attributes();

// What the escape translator asks of the terminal: the cursor position
// (0-based column, row) and the window size. The defaults ask the terminal on
// standard input and the console descriptor; tests put their own in place.
// Null restores the default.
using CursorQuery = bool (*)(int* column, int* row);
using SizeQuery = bool (*)(int* columns, int* rows);
void console_set_queries(CursorQuery cursor, SizeQuery size);

// Text of `bytes` bytes in units of 1 (Latin-1), 2 (UCS-2) or 4 (code points),
// little-endian. Each call is flushed to the descriptor before it returns.
void write_text(const uint8_t* text, uint32_t bytes, uint32_t unit, bool new_line);
// Text of 32-bit code points.
void write_codepoints(const uint8_t* text, uint32_t bytes);
// UTF-8 text (messages and numbers of the runtime itself).
void write_utf8(std::string_view text, bool new_line);
// Sequences of the terminal's own (the line editor's cursor moves and
// erasing), queued as they are, past the dialect's translation, and sent with
// the next text or console_flush.
void console_put_control(std::string_view sequence);
void console_flush();

// ---- plain printing for runtime code (no series involved, so it works when
// memory is exhausted). Each call is one console write: the GUI screen is
// paused around it.

void prin_parts_begin();
void prin_part(std::string_view text);
void prin_part(const char* text);
void prin_part(int64_t n);
void prin_parts_end(bool new_line);

template <class T>
inline void prin_any(const T& v) {
    if constexpr (std::is_integral_v<T> && !std::is_same_v<T, bool>) prin_part(static_cast<int64_t>(v));
    else prin_part(v);
}

// Prints C strings, string views and integers in order.
template <class... Parts>
void print_parts(const Parts&... parts) {
    prin_parts_begin();
    (prin_any(parts), ...);
    prin_parts_end(false);
}
// The same, followed by a line end.
template <class... Parts>
void print_line(const Parts&... parts) {
    prin_parts_begin();
    (prin_any(parts), ...);
    prin_parts_end(true);
}

namespace unicode {
// Display columns of a code point on the console: 0 for NUL and zero-width
// characters (combining marks, format controls), 1 for control characters, 2
// for East Asian Wide and Fullwidth characters, 1 otherwise.
int char_width(int32_t cp);
// As char_width, but East Asian Ambiguous characters take 2 columns.
int char_width_cjk(int32_t cp);
} // namespace unicode

} // namespace kem
