// The line editor: the keys of one edit, drawing the prompt and the line
// wrapped by the display width of each character, the history and completion.
//
// Offsets count columns from column 0 of the row where the prompt began, row
// after row: row n holds offsets n x width to (n + 1) x width - 1. A wide
// character that finds only the last column of a row left starts the next row
// and that column counts as used, as the terminal leaves it empty.
#include <unistd.h>
#include <algorithm>
#include <cstdio>
#include <vector>
#include "console/terminal.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/platform/terminal.h"
#include "runtime/services/output.h"

namespace kem::terminal {

namespace {

Cell* line() { return module_cell(LINE); }
uint32_t cursor() { return series_index(line()); }
void set_cursor(uint32_t at) { set_series_position(line(), at); }
uint32_t line_length() { return string_full_length(line()); }

// Columns a character takes in the editor. The emoji pictographs are drawn
// wide by terminals although older width tables have them narrow.
int display_width(int32_t cp) {
    if (cp >= 0x1F300 && cp <= 0x1F5FF) return 2;
    return unicode::char_width(cp);
}

// Emits the characters from..to of a string into the output buffer and
// returns the columns they take, room being what is left of the first row.
// Escape sequences (ESC, "[" or "(", digits and ";", a final character) take
// no columns; other control characters are shown as their control pictures,
// so that the terminal never acts on them. Hidden, each character is one "*".
int emit_text(const Cell* s, uint32_t from, uint32_t to, int room, bool hide) {
    const int width = state.width;
    int total = 0;
    auto advance = [&](int w) {
        if (w == 0) return;
        if (w == 2 && room == 1) {
            total += 3;
            room = width - 2;
        } else {
            total += w;
            room -= w;
        }
        if (room <= 0) room = width;
    };
    std::vector<int32_t>& out = state.output;
    for (uint32_t i = from; i < to; i++) {
        const int32_t cp = string_char_at(s, i);
        if (hide) {
            out.push_back('*');
            advance(1);
        } else if (cp == '\t') {
            for (int k = 0; k < 4; k++) {
                out.push_back(' ');
                advance(1);
            }
        } else if (cp == 27) {
            out.push_back(27);
            if (i + 1 < to && (string_char_at(s, i + 1) == '[' || string_char_at(s, i + 1) == '(')) {
                out.push_back(string_char_at(s, ++i));
                while (i + 1 < to) {
                    const int32_t c = string_char_at(s, ++i);
                    out.push_back(c);
                    if (!((c >= '0' && c <= '9') || c == ';')) break;
                }
            }
        } else if (cp < 32 || cp == 127) {
            out.push_back(cp == 127 ? 0x2421 : 0x2400 + cp);
            advance(1);
        } else {
            out.push_back(cp);
            advance(display_width(cp));
        }
    }
    return total;
}

int room_after(int offset) { return state.width - offset % state.width; }

void place_cursor(int offset, int end) {
    std::fflush(nullptr);
    int row = offset / state.width;
    int column = offset % state.width;
    // A wide character that cannot start in the last column is drawn on the next row.
    if (column == state.width - 1 && !state.hide && cursor() < line_length() &&
        display_width(string_char_at(line(), cursor())) == 2) {
        row++;
        column = 0;
    }
    move_cursor(row, column);
    state.offset = offset;
    state.last_row = end / state.width;
    console_flush();
}

// Draws prompt and line from where the prompt began and puts the cursor in
// place; with the redraw flag clear it only moves the cursor.
void refresh_line() {
    const bool draw = state.redraw;
    if (draw) platform::hide_cursor(console_fd(), true);
    if (state.first_draw) {
        state.first_draw = false;
    } else if (draw) {
        cursor_to_start();
        erase_to_end();
    }
    const Cell prompt = *module_cell(PROMPT);
    const Cell text = *line();
    init_buffer(&text, &prompt);
    const int prompt_end = string_full_length(&prompt);
    int offset = state.start_column + emit_text(&prompt, series_index(&prompt), prompt_end,
                                                state.width - state.start_column, false);
    offset += emit_text(&text, 0, cursor(), room_after(offset), state.hide);
    const int end = offset + emit_text(&text, cursor(), line_length(), room_after(offset), state.hide);
    if (draw) {
        write_wide();
        // The terminal cursor stays on the row of the last column written.
        if (end > state.start_column) state.cursor_row = (end - 1) / state.width;
    }
    place_cursor(offset, end);
    if (draw) platform::hide_cursor(console_fd(), false);
}

// Replaces the text of a string by that of a value (a string from its
// position, anything else formed).
void set_text(Cell* target, const Cell* value) {
    string_reset(target);
    Cell v = *value;
    if (any_string_type(type_of(&v))) string_concat_into(target, &v, -1, 0, true, CONCAT_APPEND);
    else form_direct(&v, target, nullptr, 0x7FFFFFFF);
}

// Completion runs Kem code, which may have shortened the history block.
void show_history_entry(int index) {
    const Cell history = *module_cell(HISTORY);
    if (uint32_t(index) >= block_full_length(&history)) {
        string_reset(line());
        return;
    }
    const Cell entry = *block_rs_abs_at(&history, uint32_t(index));
    set_text(line(), &entry);
    set_cursor(line_length());
}

void empty_line() {
    string_reset(line());
}

void set_line(const char* text) {
    string_reset(line());
    string_append_ascii(line(), text);
    set_cursor(line_length());
}

// On Enter: the line goes to the head of the history, unless it is hidden,
// empty, or the same as the newest entry (letter case counted).
void add_to_history() {
    set_cursor(0);
    if (state.hide || line_length() == 0) return;
    Cell history = *module_cell(HISTORY);
    set_series_position(&history, 0);
    if (block_rs_length(&history) > 0) {
        Cell newest = *block_rs_head(&history);
        Cell text = *line();
        if (any_string_type(type_of(&newest)) &&
            string_compare_series(&newest, &text, CompareOp::strict_equal, false) == 0)
            return;
    }
    block_insert_value(&history, line(), false, true);
}

// A character typed: appended at the end (and written on its own, so typing
// writes one character), or inserted before the cursor (then all is redrawn).
void insert_character(int32_t cp) {
    const uint32_t at = cursor();
    if (at == line_length()) {
        string_append_char(line(), cp);
        state.output.clear();
        const int columns = emit_text(line(), at, at + 1, room_after(state.offset), state.hide);
        write_wide();
        if (columns > 0) state.cursor_row = (state.offset + columns - 1) / state.width;
        state.redraw = false;
    } else {
        string_insert_char(series_buffer(line()), at, cp);
    }
    set_cursor(at + 1);
    refresh_line();
}

// The global completion function, when the console's completion exists.
bool completion_function(Cell* fn) {
    const int32_t slot = context_find_word(global_context, symbol_make("kem-complete-ctx"), true);
    if (slot < 0) return false;
    const Cell ctx = *context_value_slot(global_context, uint32_t(slot));
    if (!is_type(&ctx, TYPE_OBJECT)) return false;
    const Cell word = word_load("complete-input");
    if (object_get_word_index(&ctx, &word) < 0) return false;
    *fn = *object_rs_select(&ctx, &word);
    const uint8_t t = type_of(fn);
    return t == TYPE_FUNCTION || t == TYPE_ROUTINE || t == TYPE_NATIVE || t == TYPE_ACTION;
}

// Calls the completion function with the line (at the cursor) and true. An
// error, or any exit that leaves it, counts as no completion.
bool call_completion(const Cell* fn, Cell* result) {
    CallFrame* const frames_mark = stack::frames_top;
    Cell* const args_mark = stack::arguments;
    Cell* const top_mark = stack::top;
    const Cell position_mark = interp::position;
    RootedCell keep_position(&position_mark);

    Cell* code = stack::push_slot();
    block_make_at(code, 3);
    block_append_cell(code, fn);
    block_append_cell(code, line());
    Cell yes;
    make_logic(&yes, true);
    block_append_cell(code, &yes);
    // The barrier turns break, return, throw and the like into errors.
    stack::push_try_barrier_frame(&rt_words.try_);
    bool done = false;
    try {
        interp::eval_block(code, true);
        if (!interp::pending()) {
            *result = *stack::arguments;
            done = true;
        }
    } catch (const KemError&) {
    } catch (const PendingExit&) {
    }
    last_throw_code = 0;
    stack::unwind_to(frames_mark, args_mark, top_mark);
    interp::position = position_mark;
    return done;
}

// Tab: the number of values of the completion's answer. One: the line is the
// completed text. More: the line lists the candidates and the completed text
// waits in the work string for the next edit.
int complete() {
    Cell fn, answer;
    if (!completion_function(&fn)) return 0;
    const bool answered = call_completion(&fn, &answer);
    // The completion got the line itself and may have changed it.
    set_cursor(std::min(cursor(), line_length()));
    if (!answered || !is_type(&answer, TYPE_BLOCK)) return 0;
    const int count = block_rs_length(&answer);
    if (count == 0) return 0;
    Cell completed = *block_rs_head(&answer);
    if (!any_string_type(type_of(&completed))) return 0;
    const uint32_t completed_cursor = series_index(&completed);
    set_series_position(&completed, 0);
    if (count == 1) {
        set_text(line(), &completed);
        set_cursor(completed_cursor);
        return 1;
    }
    Cell* work = module_cell(WORK);
    set_text(work, &completed);
    set_series_position(work, completed_cursor);
    empty_line();
    for (int i = 1; i < count; i++) {
        const Cell candidate = *(block_rs_head(&answer) + i);
        Cell text;
        string_make_at(&text, 16);
        set_text(&text, &candidate);
        string_concat_into(line(), &text, -1, 0, true, CONCAT_APPEND);
        string_append_char(line(), ' ');
    }
    set_cursor(line_length());
    return count;
}

} // namespace

void edit_on_terminal() {
    Cell* history = module_cell(HISTORY);
    set_series_position(history, 0);
    const int entries = block_rs_length(history);
    int position = -1;  // in the history: -1 before the newest entry
    screen_info(true);
    init_globals();
    const Cell work = *module_cell(WORK);
    if (string_full_length(&work) > 0) {
        Cell text = work;
        set_series_position(&text, 0);
        set_text(line(), &text);
        set_cursor(std::min(series_index(&work), line_length()));
    }
    state.redraw = true;
    refresh_line();

    // Every way out leaves the cursor below the line, so what follows does not
    // overwrite it.
    auto finish = [] {
        cursor_to_last_row();
        console_flush();
    };
    for (;;) {
        state.redraw = true;
        const int32_t key = read_key();
        switch (key) {
        case 9:
            if (const int found = complete(); found > 1) {
                refresh_line();
                empty_line();
                state.listed = true;
                finish();
                return;
            } else if (found == 1) {
                refresh_line();
                continue;
            }
            insert_character(9);
            continue;
        case 13:
        case 10:  // Enter typed ahead while the terminal was not raw arrives as a line feed
            finish();
            add_to_history();
            string_reset(module_cell(WORK));
            return;
        case 8:
        case 127:
            if (cursor() > 0) {
                set_cursor(cursor() - 1);
                string_remove_char(line(), cursor());
                if (cursor() == line_length()) state.redraw = false;
            }
            refresh_line();
            if (!state.redraw) {
                erase_to_end();
                console_flush();
            }
            continue;
        case KEY_LEFT:
        case 2:
            if (cursor() > 0) {
                set_cursor(cursor() - 1);
                state.redraw = false;
                refresh_line();
            }
            continue;
        case KEY_RIGHT:
        case 6:
            if (cursor() < line_length()) {
                set_cursor(cursor() + 1);
                state.redraw = false;
                refresh_line();
            }
            continue;
        case KEY_DOWN:
        case 14:
            if (position < 0) empty_line();
            else show_history_entry(position--);
            refresh_line();
            continue;
        case KEY_UP:
        case 16:
            if (position < entries - 1) show_history_entry(++position);
            else empty_line();
            refresh_line();
            continue;
        case KEY_HOME:
        case 1:
            set_cursor(0);
            refresh_line();
            continue;
        case KEY_END:
        case 5:
            set_cursor(line_length());
            refresh_line();
            continue;
        case KEY_DELETE:
            if (cursor() < line_length()) string_remove_char(line(), cursor());
            refresh_line();
            continue;
        case 11:
            if (cursor() < line_length()) string_remove_units(line(), cursor(), line_length() - cursor());
            refresh_line();
            continue;
        case 4:
            if (cursor() < line_length()) {
                string_remove_char(line(), cursor());
                refresh_line();
            } else if (line_length() == 0) {
                set_line("q");
                finish();
                return;
            }
            continue;
        case 3:
            set_line("q");
            finish();
            return;
        case 27:
            string_reset(module_cell(WORK));
            string_append_char(line(), 27);
            finish();
            return;
        case KEY_FAILED:
            // The terminal is gone: the line was never entered, so nothing
            // of it is given (it could run a command half typed).
            state.input_ended = true;
            set_line("");
            finish();
            return;
        default:
            if (key >= 32) insert_character(key);
            continue;
        }
    }
}

void edit(const Cell* prompt, bool hidden) {
    init();
    state.input_ended = false;
    state.listed = false;
    if (!is_type(line(), TYPE_STRING)) string_make_at(line(), 1);
    if (!state.console) {
        state.hide = false;
        stdin_readline(line());
        return;
    }
    if (state.editing) fire(Err::internal_feature_na);
    if (!is_type(module_cell(HISTORY), TYPE_BLOCK)) block_make_at(module_cell(HISTORY), 1);
    *module_cell(PROMPT) = *prompt;
    state.hide = hidden;
    state.first_draw = true;
    state.start_column = 0;
    state.cursor_row = 0;
    {
        // Raw mode, and the terminal back as it was however the edit ends.
        struct Session {
            bool raw;
            Session() : raw(platform::enter_raw_mode(STDIN_FILENO)) { state.editing = true; }
            ~Session() {
                console_flush();
                platform::restore_terminal();
                state.editing = false;
                state.output.clear();
                state.output.shrink_to_fit();
            }
        } session;
        if (!session.raw) {
            // A terminal that refuses raw input still gives lines.
            state.hide = false;
            stdin_readline(line());
            return;
        }
        edit_on_terminal();
    }
    print_line("");
}

} // namespace kem::terminal
