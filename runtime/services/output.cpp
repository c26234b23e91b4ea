// Output hooks and the console writer.
#include "runtime/services/output.h"
#include <unistd.h>
#include <cstdio>
#include <cstring>
#include <vector>
#include "runtime/core/memory.h"
#include "runtime/platform/terminal.h"
#include "runtime/services/keys.h"
#include "runtime/services/output_console.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"

namespace kem {

namespace output {
Console console;
} // namespace output

using namespace output;

// ---- hooks

namespace {

std::vector<OutputWriter> writers;
std::vector<AfterOutputHook> after_hooks;
ScreenHook suspend_screen = nullptr;
ScreenHook resume_screen = nullptr;

template <class F>
void remove_first(std::vector<F>& list, F f) {
    for (auto it = list.begin(); it != list.end(); ++it) {
        if (*it == f) {
            list.erase(it);
            return;
        }
    }
}

// Pauses the GUI screen for the length of one console write.
struct ScreenPause {
    ScreenPause() {
        if (suspend_screen) suspend_screen();
    }
    ~ScreenPause() {
        std::fflush(nullptr);
        if (resume_screen) resume_screen();
    }
    ScreenPause(const ScreenPause&) = delete;
    ScreenPause& operator=(const ScreenPause&) = delete;
};

} // namespace

void output_hooks_init() {
    writers.clear();
    after_hooks.clear();
    writers.reserve(5);
    after_hooks.reserve(5);
    writers.push_back(print_string_by_unit);
}

void output_hook_add(OutputWriter writer, AfterOutputHook after) {
    if (writer) writers.push_back(writer);
    if (after) after_hooks.push_back(after);
}

void output_hook_remove(OutputWriter writer, AfterOutputHook after) {
    if (writer) remove_first(writers, writer);
    if (after) remove_first(after_hooks, after);
}

// By index, so a hook that adds or removes hooks cannot leave a dangling iterator.
void output_writers_call(const Cell* string, bool new_line) {
    for (size_t i = 0; i < writers.size(); i++) writers[i](string, new_line);
}

void output_hooks_call(const uint8_t* text, uint32_t length, uint32_t unit) {
    for (size_t i = 0; i < after_hooks.size(); i++) after_hooks[i](text, length, unit);
}

uint32_t output_writer_count() { return uint32_t(writers.size()); }
uint32_t output_after_hook_count() { return uint32_t(after_hooks.size()); }

void set_screen_hooks(ScreenHook suspend, ScreenHook resume) {
    suspend_screen = suspend;
    resume_screen = resume;
}

// ---- the console's bytes

namespace output {

void flush() {
    if (console.fill == 0) return;
    // Write errors are ignored: output that cannot be delivered is dropped.
    (void)platform::write_all(console.fd, console.buffer, console.fill);
    console.fill = 0;
}

void put_bytes(const void* bytes, size_t count) {
    if (console.fill + count > CONSOLE_BUFFER_SIZE) flush();
    if (count > CONSOLE_BUFFER_SIZE) {
        (void)platform::write_all(console.fd, bytes, count);
        return;
    }
    std::memcpy(console.buffer + console.fill, bytes, count);
    console.fill += uint32_t(count);
}

void put_string(const char* text) { put_bytes(text, std::strlen(text)); }

bool query_cursor(int* column, int* row) {
    flush();
    if (console.cursor) return console.cursor(column, row);
    auto at = keys::terminal_cursor(STDIN_FILENO, console.fd);
    if (!at) return false;
    *column = at->column;
    *row = at->row;
    return true;
}

bool query_size(int* columns, int* rows) {
    if (console.size) return console.size(columns, rows);
    auto size = platform::terminal_size(console.fd);
    if (!size) return false;
    *columns = size->columns;
    *rows = size->rows;
    return true;
}

} // namespace output

namespace {

// One code point as UTF-8. Values no encoding can hold become U+FFFD.
inline void put_code_point(int32_t cp) {
    if (console.fill > CONSOLE_BUFFER_HIGH) flush();
    uint8_t* dst = console.buffer + console.fill;
    if (cp >= 0 && cp < 0x80) {
        *dst = uint8_t(cp);
        console.fill++;
        return;
    }
    if (cp < 0 || cp > 0x10FFFF) cp = 0xFFFD;
    console.fill += uint32_t(utf8_encode_char(cp, dst));
}

// On a terminal nothing may reach it that it would take as a control sequence
// of its own: C1 controls (0x9B is a one-character CSI) and text that is not
// valid UTF-8 (lone surrogates) are shown as U+FFFD.
inline void put_terminal_code_point(int32_t cp) {
    if ((cp >= 0x80 && cp <= 0x9F) || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    put_code_point(cp);
}

// Readers hand out code points one at a time and can go back to a position.
struct UnitReader {
    const uint8_t* p;
    const uint8_t* end;
    uint32_t unit;
    bool at_end() const { return p >= end; }
    int32_t next() {
        int32_t cp = read_unit(p, unit);
        p += unit;
        return cp;
    }
};

struct Utf8Reader {
    const uint8_t* p;
    const uint8_t* end;
    bool at_end() const { return p >= end; }
    int32_t next() {
        int32_t cp;
        p = unicode::fast_decode_utf8_char(p, end, &cp);
        return cp < 0 ? 0xFFFD : cp;
    }
};

// The terminal path: text as UTF-8 with the dialect's sequences translated.
// A sequence must lie wholly inside the text; one cut off by the text's end,
// or an ESC not followed by "[", is no sequence and its ESC is shown visibly.
template <class Reader>
void put_terminal_text(Reader r) {
    while (!r.at_end()) {
        int32_t cp = r.next();
        if (cp != 27) {
            put_terminal_code_point(cp);
            continue;
        }
        Reader after_escape = r;
        EscapeParser parser;
        EscapeParser::Status status = EscapeParser::MORE;
        while (status == EscapeParser::MORE && !r.at_end()) status = parser.feed(r.next());
        if (status == EscapeParser::DONE) {
            parser.execute();
        } else {
            r = after_escape;
            put_code_point(VISIBLE_ESCAPE);
        }
    }
}

// The redirected path: every unit taken as a code point, escapes untouched.
void put_units(const uint8_t* p, const uint8_t* end, uint32_t unit) {
    if (unit == 1) {
        for (; p < end; p++) {
            if (*p < 0x80) {
                if (console.fill > CONSOLE_BUFFER_HIGH) flush();
                console.buffer[console.fill++] = *p;
            } else {
                put_code_point(*p);
            }
        }
        return;
    }
    for (; p + unit <= end; p += unit) put_code_point(read_unit(p, unit));
}

void put_text(const uint8_t* text, uint32_t bytes, uint32_t unit, bool new_line) {
    std::fflush(stdout);  // whatever went through stdio comes first
    bytes -= bytes % unit;
    if (console.terminal) put_terminal_text(UnitReader{text, text + bytes, unit});
    else put_units(text, text + bytes, unit);
    if (new_line) put_bytes("\n", 1);
    flush();
}

} // namespace

// ---- the console

void console_attach(int fd, bool terminal) {
    flush();
    console.fd = fd;
    console.terminal = terminal;
    console.fill = 0;
    console.default_attributes = ATTR_TERMINAL_DEFAULT;
    console.attributes = ATTR_TERMINAL_DEFAULT;
}

void console_probe() { console_attach(STDOUT_FILENO, platform::is_terminal(STDOUT_FILENO)); }

bool console_is_terminal() { return console.terminal; }
int console_fd() { return console.fd; }

void console_save_attributes() {
    console.default_attributes = ATTR_TERMINAL_DEFAULT;
    console.attributes = ATTR_TERMINAL_DEFAULT;
}

uint16_t console_attributes() { return console.attributes; }

void console_set_queries(CursorQuery cursor, SizeQuery size) {
    console.cursor = cursor;
    console.size = size;
}

void write_text(const uint8_t* text, uint32_t bytes, uint32_t unit, bool new_line) {
    put_text(text, bytes, unit == 2 || unit == 4 ? unit : 1, new_line);
}

void write_codepoints(const uint8_t* text, uint32_t bytes) { put_text(text, bytes, 4, false); }

void write_utf8(std::string_view text, bool new_line) {
    std::fflush(stdout);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    if (console.terminal) put_terminal_text(Utf8Reader{p, p + text.size()});
    else put_bytes(p, text.size());
    if (new_line) put_bytes("\n", 1);
    flush();
}

void console_put_control(std::string_view sequence) { put_bytes(sequence.data(), sequence.size()); }

void console_flush() { flush(); }

void print_string_by_unit(const Cell* string, bool new_line) {
    ScreenPause pause;
    // Read the buffer only now: the GUI's pause may allocate.
    SeriesBuffer* b = node_buffer(series_node(string));
    uint32_t unit = b->unit();
    if (unit != 1 && unit != 2 && unit != 4) {
        char text[64];
        int len = std::snprintf(text, sizeof text, "Error: unknown string encoding: %u", unit);
        write_utf8(std::string_view(text, size_t(len)), true);
        return;
    }
    uint64_t offset = uint64_t(series_index(string)) * unit;
    uint32_t used = b->used();
    uint32_t start = offset < used ? uint32_t(offset) : used;
    const uint8_t* text = b->head_ptr() + start;
    uint32_t bytes = used - start;
    if (unit == 4) put_text(text, bytes, 4, new_line);
    else write_text(text, bytes, unit, new_line);
}

// ---- plain printing

namespace {
int parts_depth = 0;  // nested prints pause the GUI screen once
} // namespace

void prin_parts_begin() {
    if (parts_depth++ == 0 && suspend_screen) suspend_screen();
    std::fflush(stdout);
}

void prin_part(std::string_view text) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    if (console.terminal) put_terminal_text(Utf8Reader{p, p + text.size()});
    else put_bytes(p, text.size());
}

void prin_part(const char* text) { prin_part(std::string_view(text ? text : "")); }

void prin_part(int64_t n) {
    char text[24];
    int len = std::snprintf(text, sizeof text, "%lld", static_cast<long long>(n));
    put_bytes(text, size_t(len));
}

void prin_parts_end(bool new_line) {
    if (new_line) put_bytes("\n", 1);
    flush();
    if (--parts_depth == 0) {
        std::fflush(nullptr);
        if (resume_screen) resume_screen();
    }
}

} // namespace kem
