// The output escape dialect and its translation into VT sequences.
//
// The dialect positions the cursor column first, both counted from 0, and has
// colour codes of its own (a 16-bit attribute word: 30-37 and 40-47 set the
// colours, 1, 39 and 49 add intensities, 7 swaps foreground and background,
// other numbers become the word itself). The translator keeps that word and
// writes the VT sequence that gives the terminal the same look.
#include <cstdio>
#include "runtime/services/output_console.h"

namespace kem::output {

namespace {

// Dialect colour bits (blue 1, green 2, red 4) to an ANSI colour number (red 1,
// green 2, blue 4): bits 0 and 2 exchanged. The table is its own inverse.
constexpr int swap_red_blue[8] = {0, 4, 2, 6, 1, 5, 3, 7};

void put_number(int n) {
    char text[16];
    int len = std::snprintf(text, sizeof text, "%d", n);
    put_bytes(text, size_t(len));
}

// Erasing fills with the default attributes, as the dialect says; on a VT
// terminal erased cells take the current background, so reset around it.
template <class F>
void erase_with_defaults(F erase) {
    bool coloured = console.attributes != console.default_attributes;
    if (coloured) put_string("\x1b[0m");
    erase();
    if (coloured) put_sgr(console.attributes);
}

} // namespace

void put_sgr(uint16_t a) {
    uint16_t d = console.default_attributes;
    put_string("\x1b[0");
    // A field equal to the default stays the terminal's own default colour.
    if ((a & 0x0F) != (d & 0x0F)) {
        put_string(";");
        put_number(((a & ATTR_FOREGROUND_INTENSITY) ? 90 : 30) + swap_red_blue[a & 7]);
    }
    if ((a & 0xF0) != (d & 0xF0)) {
        put_string(";");
        put_number(((a & ATTR_BACKGROUND_INTENSITY) ? 100 : 40) + swap_red_blue[(a >> 4) & 7]);
    }
    if (a & ATTR_UNDERSCORE) put_string(";4");
    if (a & ATTR_REVERSE) put_string(";7");
    put_string("m");
}

uint16_t apply_attribute_code(uint16_t a, int32_t code, uint16_t defaults) {
    if (code == 0) return defaults;
    if (code == 1) return uint16_t(a | ATTR_FOREGROUND_INTENSITY | ATTR_BACKGROUND_INTENSITY);
    if (code == 4) return uint16_t(a | ATTR_UNDERSCORE);
    if (code == 7) return uint16_t(((a & 0x0F) << 4) | ((a >> 4) & 0x0F));
    if (code >= 30 && code <= 37) return uint16_t((a & 0xF8) | swap_red_blue[code - 30]);
    if (code == 39) return uint16_t(a | ATTR_FOREGROUND_INTENSITY);
    if (code >= 40 && code <= 47) return uint16_t((a & 0x8F) | (swap_red_blue[code - 40] << 4));
    if (code == 49) return uint16_t(a | ATTR_BACKGROUND_INTENSITY);
    return uint16_t(code);
}

// ---- the parser

void EscapeParser::push(int32_t p) {
    if (count == MAX_PARAMS) {
        overflow = true;
        return;
    }
    params[count++] = p;
}

bool EscapeParser::param(int i, int32_t* p) const {
    if (i >= count || params[i] < 0) return false;
    *p = params[i];
    return true;
}

EscapeParser::Status EscapeParser::feed(int32_t cp) {
    if (!bracket) {
        if (cp != '[') return REJECT;
        bracket = true;
        return MORE;
    }
    if (cp >= '0' && cp <= '9') {
        current = ((current < 0 ? 0 : current) * 10 + (cp - '0')) % 65535;
        return MORE;
    }
    if (cp == ';') {
        push(current);
        current = -1;
        return MORE;
    }
    final = cp;
    if (current >= 0 || count > 0) push(current);
    return DONE;
}

void EscapeParser::execute() {
    if (overflow) return;
    switch (final) {
    case 's':
        put_string("\x1b[s");
        return;
    case 'u':
        // Terminals restore their colours with the position; the dialect keeps
        // the colours in force.
        put_string("\x1b[u");
        put_sgr(console.attributes);
        return;
    case 'H':
    case 'f': {
        if (count == 0) {
            put_string("\x1b[H");
            return;
        }
        int32_t column, row;
        if (count != 2 || !param(0, &column) || !param(1, &row)) return;
        put_string("\x1b[");
        put_number(row + 1);
        put_string(";");
        put_number(column + 1);
        put_string("H");
        return;
    }
    case 'A':
    case 'B':
    case 'C':
    case 'D':
        cursor_move(char(final));
        return;
    case 'J':
        erase_display();
        return;
    case 'K':
        erase_line();
        return;
    case 'm':
        attributes();
        return;
    case '?':
        report();
        return;
    default:
        return;
    }
}

// The dialect moves by exactly n, 0 being no move; VT takes 0 as 1. The
// terminal stops the cursor at the screen's edges as the dialect does.
void EscapeParser::cursor_move(char vt_final) {
    int32_t n = 0;
    if (count > 1 || (count == 1 && !param(0, &n)) || n == 0) return;
    put_string("\x1b[");
    put_number(n);
    put_bytes(&vt_final, 1);
}

void EscapeParser::erase_display() {
    int32_t p = 0;
    if (count == 0) {
        // From the start of the cursor's row to the end of the screen.
        erase_with_defaults([] { put_string("\x1b[2K\x1b[J"); });
        return;
    }
    if (count != 1 || !param(0, &p)) return;
    if (p == 2) {
        // The whole buffer, scrollback included, and the cursor home.
        erase_with_defaults([] { put_string("\x1b[2J\x1b[3J\x1b[H"); });
    } else if (p == 1) {
        // The rows above the cursor's row: VT erases up to the cursor itself,
        // so erase from the end of the row above and come back. That needs the
        // cursor's place; when the terminal does not tell, nothing is erased.
        int column, row;
        if (!query_cursor(&column, &row) || row <= 0) return;
        erase_with_defaults([&] {
            put_string("\x1b[");
            put_number(row);
            put_string(";1H\x1b[1J\x1b[2K\x1b[");
            put_number(row + 1);
            put_string(";");
            put_number(column + 1);
            put_string("H");
        });
    }
}

void EscapeParser::erase_line() {
    int32_t p = 0;
    if (count == 0) {
        erase_with_defaults([] { put_string("\x1b[K"); });
        return;
    }
    if (count != 1 || !param(0, &p)) return;
    // Both forms leave the cursor at the row's start.
    if (p == 1) erase_with_defaults([] { put_string("\x1b[1K\r"); });
    else if (p == 2) erase_with_defaults([] { put_string("\x1b[2K\r"); });
}

void EscapeParser::attributes() {
    uint16_t a = console.attributes;
    if (count == 0) {
        a = console.default_attributes;
    } else {
        for (int i = 0; i < count; i++)
            if (params[i] < 0) return;  // a parameter missing before the end
        for (int i = 0; i < count; i++) a = apply_attribute_code(a, params[i], console.default_attributes);
    }
    console.attributes = a;
    put_sgr(a);
}

// The diagnostic: the terminal's size and cursor, as text lines. A terminal
// window shows its whole buffer, so window and buffer have the same size.
void EscapeParser::report() {
    int columns = 0, rows = 0, column = 0, row = 0;
    if (!query_size(&columns, &rows)) columns = rows = 0;
    bool cursor = query_cursor(&column, &row);
    char text[256];
    int len = std::snprintf(text, sizeof text, "Screen buffer size: %d x %d\n", columns, rows);
    put_bytes(text, size_t(len));
    if (cursor) len = std::snprintf(text, sizeof text, "Cursor position: %d, %d\n", column, row);
    else len = std::snprintf(text, sizeof text, "Cursor position: unknown\n");
    put_bytes(text, size_t(len));
    len = std::snprintf(text, sizeof text, "Window: left 0, top 0, right %d, bottom %d\n",
                        columns > 0 ? columns - 1 : 0, rows > 0 ? rows - 1 : 0);
    put_bytes(text, size_t(len));
    len = std::snprintf(text, sizeof text, "Maximum window size: %d x %d\n", columns, rows);
    put_bytes(text, size_t(len));
}

} // namespace kem::output
