// Inside the console writer: its state, its byte buffer and the translator of
// the output escape dialect. Only the output modules include this.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/services/output.h"

namespace kem::output {

constexpr uint32_t CONSOLE_BUFFER_SIZE = 1024;
// Flushed once more than this is pending, so one more UTF-8 sequence always fits.
constexpr uint32_t CONSOLE_BUFFER_HIGH = CONSOLE_BUFFER_SIZE - 4;

// Colour attributes of the dialect: foreground in bits 0-3 (blue 1, green 2,
// red 4, intensity 8), background in bits 4-7 likewise, underscore 0x8000 and
// reverse video 0x4000.
constexpr uint16_t ATTR_FOREGROUND_INTENSITY = 0x08;
constexpr uint16_t ATTR_BACKGROUND_INTENSITY = 0x80;
constexpr uint16_t ATTR_REVERSE = 0x4000;
constexpr uint16_t ATTR_UNDERSCORE = 0x8000;
constexpr uint16_t ATTR_TERMINAL_DEFAULT = 0x07;

struct Console {
    int fd = 1;
    bool terminal = false;
    uint16_t default_attributes = ATTR_TERMINAL_DEFAULT;
    uint16_t attributes = ATTR_TERMINAL_DEFAULT;
    CursorQuery cursor = nullptr;  // null: ask the terminal itself
    SizeQuery size = nullptr;
    uint32_t fill = 0;
    uint8_t buffer[CONSOLE_BUFFER_SIZE];
};
extern Console console;

// Buffered bytes to the console descriptor; write errors are ignored.
void put_bytes(const void* bytes, size_t count);
void put_string(const char* text);
void flush();

// The terminal's facts, through the installed queries. query_cursor flushes
// the pending text first, since the answer depends on it.
bool query_cursor(int* column, int* row);
bool query_size(int* columns, int* rows);

// The code point shown on a terminal for an ESC that starts no sequence of the
// dialect: a raw ESC would let the terminal run a sequence of its own.
constexpr int32_t VISIBLE_ESCAPE = 0x241B;

// Reads one sequence of the dialect, fed the code points after its ESC one at
// a time: ESC [ then decimal parameters separated by ";" (each kept modulo
// 65535), ended by any other character. execute() then writes its VT
// translation, or nothing when the dialect gives the sequence no effect.
class EscapeParser {
public:
    enum Status { MORE, DONE, REJECT };
    Status feed(int32_t cp);
    void execute();

private:
    static constexpr int MAX_PARAMS = 16;
    void push(int32_t p);
    bool param(int i, int32_t* p) const;  // false when absent or empty
    void cursor_move(char vt_final);
    void erase_display();
    void erase_line();
    void attributes();
    void report();

    bool bracket = false;
    bool overflow = false;
    int count = 0;
    int32_t current = -1;  // -1: no digit yet
    int32_t final = 0;
    int32_t params[MAX_PARAMS];
};

// Writes the SGR sequence that sets the terminal to the given attributes,
// starting from a reset so the result does not depend on what came before.
void put_sgr(uint16_t attributes);
// Applies one colour code of the dialect to attributes.
uint16_t apply_attribute_code(uint16_t attributes, int32_t code, uint16_t defaults);

} // namespace kem::output
