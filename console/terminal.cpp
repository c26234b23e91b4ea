// The terminal module's lower half: the module's state, the terminal's size
// and keys, cursor moves and the output buffer, and redirected input.
#include "console/terminal.h"
#include <errno.h>
#include <poll.h>
#include <unistd.h>
#include <algorithm>
#include <new>
#include <string>
#include "runtime/collector/collector.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/platform/exit.h"
#include "runtime/platform/terminal.h"
#include "runtime/services/keys.h"
#include "runtime/services/output.h"
#include "runtime/services/unicode/utf.h"

namespace kem::terminal {

State state;

namespace {

Cell cells[CELL_COUNT];

void mark_cells() { collector::mark_values(cells, cells + CELL_COUNT); }

// A byte of redirected input that broke a UTF-8 sequence: the next read of
// a character starts with it (the line reader always takes it).
int held_byte = -1;

// The value of a global word, or nullptr when the word does not exist.
const Cell* global_value(const char* name) {
    const int32_t slot = context_find_word(global_context, symbol_make(name), true);
    return slot < 0 ? nullptr : context_value_slot(global_context, uint32_t(slot));
}

const Cell* field_of(const Cell* object, const char* name) {
    if (!object || !is_type(object, TYPE_OBJECT)) return nullptr;
    const Cell obj = *object;
    const Cell word = word_load(name);
    if (object_get_word_index(&obj, &word) < 0) return nullptr;
    return object_rs_select(&obj, &word);
}

void put_count_sequence(std::string* out, int n, char final) {
    *out += "\x1b[";
    *out += std::to_string(n);
    *out += final;
}

} // namespace

Cell* console_size_cell() {
    Cell* size = const_cast<Cell*>(field_of(field_of(global_value("system"), "console"), "size"));
    return size && (is_type(size, TYPE_PAIR) || is_type(size, TYPE_NONE)) ? size : nullptr;
}

Cell* module_cell(ModuleCell which) { return &cells[which]; }

void init() {
    if (state.initialized) return;
    state.initialized = true;
    for (Cell& c : cells) make_none(&c);
    collector::add_layer_root("terminal", mark_cells);
    // The editor draws on the console output: it must be the terminal too.
    state.console = platform::is_terminal(STDIN_FILENO) && console_is_terminal();
    if (state.console) screen_info(false);
}

void init_globals() {
    if (!is_type(&cells[WORK], TYPE_STRING)) string_make_at(&cells[WORK], 16);
}

int screen_info(bool take_cursor) {
    if (const Cell* size = console_size_cell(); size && is_type(size, TYPE_PAIR)) {
        state.width = pair_x(size);
        state.height = pair_y(size);
    }
    int result = -1;
    if (auto size = platform::terminal_size(console_fd())) {
        state.width = size->columns;
        state.height = size->rows;
        if (Cell* cell = console_size_cell()) pair_set_in(cell, size->columns, size->rows);
        result = 0;
    }
    if (state.width <= 0) {
        state.width = 80;
        if (Cell* cell = console_size_cell(); cell && is_type(cell, TYPE_PAIR)) pair_set_in(cell, 80, pair_y(cell));
    }
    if (take_cursor) {
        // A terminal that does not answer gets the prompt's column taken as 0.
        auto at = keys::terminal_cursor(STDIN_FILENO, console_fd());
        state.start_column = at ? std::min(at->column, state.width - 1) : 0;
    }
    return result;
}

int32_t read_key() {
    static constexpr int32_t codes[] = {KEY_UP,     KEY_DOWN,   KEY_LEFT,   KEY_RIGHT,     KEY_HOME, KEY_END,
                                        KEY_INSERT, KEY_DELETE, KEY_PAGE_UP, KEY_PAGE_DOWN, KEY_NONE};
    for (;;) {
        keys::KeyEvent e;
        switch (keys::read_key(STDIN_FILENO, &e)) {
        case keys::KeyRead::FAILED: return KEY_FAILED;
        case keys::KeyRead::RESIZED: screen_info(false); continue;
        case keys::KeyRead::KEY: break;
        }
        if (e.kind == keys::KeyEvent::CHARACTER) return e.code;
        return codes[std::min<size_t>(size_t(e.code), std::size(codes) - 1)];
    }
}

// ---- the cursor, relative to the row where the prompt began

void move_cursor(int row, int column) {
    std::string out;
    // Line feeds make the rows below when the screen must scroll for them.
    if (row > state.cursor_row) out.append(size_t(row - state.cursor_row), '\n');
    else if (row < state.cursor_row) put_count_sequence(&out, state.cursor_row - row, 'A');
    out += '\r';
    if (column > 0) put_count_sequence(&out, column, 'C');
    state.cursor_row = row;
    console_put_control(out);
}

void cursor_to_start() { move_cursor(0, state.start_column); }

void cursor_to_last_row() { move_cursor(state.last_row, 0); }

void erase_to_end() { console_put_control("\x1b[J"); }

void write_wide() {
    write_codepoints(reinterpret_cast<const uint8_t*>(state.output.data()), uint32_t(state.output.size() * 4));
}

// ---- the editor's cells and buffer

void setup(const Cell* line, const Cell* history) {
    init();
    // The edit under way reads these cells (a completion that asks again).
    if (state.editing) fire(Err::internal_feature_na);
    cells[LINE] = *line;
    cells[HISTORY] = *history;
}

void init_buffer(const Cell* line, const Cell* prompt) {
    const size_t unit = std::max<size_t>(series_buffer(line)->unit(), 2);
    const size_t needed = (size_t(string_full_length(line)) + string_full_length(prompt)) * unit * 4;
    if (state.capacity < needed) {
        state.capacity = 2 * needed;
        try {
            state.output.reserve(state.capacity / 4);
        } catch (const std::bad_alloc&) {
            print_line("Cannot allocate memory: init-buffer: ", int64_t(needed));
            exit_process(94);
        }
    }
    state.output.clear();
}

// ---- redirected input

namespace {

// One byte of standard input; -1 at the end of input or when the read fails.
int read_byte() {
    if (held_byte >= 0) {
        const int b = held_byte;
        held_byte = -1;
        return b;
    }
    for (;;) {
        uint8_t b;
        const ssize_t n = ::read(STDIN_FILENO, &b, 1);
        if (n == 1) return b;
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd pfd{STDIN_FILENO, POLLIN, 0};
            poll(&pfd, 1, -1);
            continue;
        }
        state.input_ended = true;
        return -1;
    }
}

} // namespace

int32_t read_utf8_char() {
    int b = read_byte();
    if (b < 0) return -1;
    uint8_t bytes[4] = {uint8_t(b)};
    size_t n = 1;
    for (;;) {
        int32_t cp = 0;
        const int r = unicode::check_utf8_char(bytes, n, &cp);
        if (r > 0) return cp;
        if (r < 0) {
            // The byte that broke the sequence may start the next character.
            if (n > 1) held_byte = bytes[n - 1];
            return 0xFFFD;
        }
        b = read_byte();
        if (b < 0) return 0xFFFD;  // cut off by the end of input
        bytes[n++] = uint8_t(b);
    }
}

void stdin_readline(const Cell* string) {
    for (;;) {
        const int32_t c = read_utf8_char();
        if (c < 0 || c == '\n') return;
        string_append_char(string, c);
    }
}

long read_stdin_bytes(uint8_t* bytes, size_t count) {
    if (count == 0) return 0;
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, bytes, count);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) state.input_ended = true;
        return n;
    }
}

} // namespace kem::terminal
