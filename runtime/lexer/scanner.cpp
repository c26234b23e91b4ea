// The lexer's token loop and its structural scanners: containers (blocks,
// parens, maps, paths, points), braced strings, construction syntax, and the
// syntax errors with their texts.
#include <cstdlib>
#include <cstring>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/lexer/lexer_state.h"
#include "runtime/platform/exit.h"
#include "runtime/services/unicode/utf.h"

namespace kem::lexer {

// --- the output buffer ---------------------------------------------------------------

Cell* out_cells = nullptr;
uint32_t out_capacity = 0;

namespace {
constexpr uint32_t OUTPUT_START_CELLS = 1000;
constexpr uint32_t OUTPUT_MAX_CELLS = 0x40000000;
} // namespace

void output_buffer_init() {
    if (out_cells) return;
    out_cells = static_cast<Cell*>(std::malloc(OUTPUT_START_CELLS * sizeof(Cell)));
    if (!out_cells) report_runtime_error(94, nullptr);
    out_capacity = OUTPUT_START_CELLS;
}

uint32_t alloc_cell(LexerState& s) {
    if (s.pos >= out_capacity) {
        if (out_capacity >= OUTPUT_MAX_CELLS) report_runtime_error(94, nullptr);
        uint32_t grown = out_capacity * 2;
        void* moved = std::realloc(out_cells, size_t(grown) * sizeof(Cell));
        if (!moved) report_runtime_error(94, nullptr);
        out_cells = static_cast<Cell*>(moved);
        out_capacity = grown;
    }
    uint32_t index = s.pos++;
    out_cells[index] = Cell{uint32_t(TYPE_UNSET) | (s.lines_crossed > 0 ? HEADER_NEW_LINE : 0), 0, 0, 0};
    return index;
}

// --- containers ------------------------------------------------------------------------

void make_block(const Cell* cells, uint32_t count, uint8_t type, Cell* out) {
    Cell made;
    block_make_at(&made, int32_t(count));
    SeriesBuffer* b = series_buffer(&made);
    if (count) std::memcpy(b->cell_tail(), cells, size_t(count) * sizeof(Cell));
    b->tail += count * uint32_t(sizeof(Cell));
    set_type(&made, type);
    *out = made;
}

namespace {

// Opens a container unless a callback refuses; answers whether it opened.
bool open_marker(LexerState& s, uint8_t type, const uint8_t* start, const uint8_t* end) {
    if (innermost_container(s) == TYPE_POINT2D) throw_load_error(s, start, end, TYPE_POINT2D);
    if (!call_callback(s, LEX_EVENT_OPEN, type, nullptr, start, end)) return false;
    uint32_t index = alloc_cell(s);
    Cell* marker = cell_at(index);
    marker->header = (marker->header & HEADER_NEW_LINE) | MARKER_TYPE;
    marker->data1 = index + 1 - s.tail;   // back to the enclosing container's first content cell
    marker->data2 = type;
    marker->data3 = uint32_t(start - s.input);
    s.tail = index + 1;
    s.entry_state = ENTRY_TOKEN;
    return true;
}

// A map's content must come in pairs of an accepted key type and a value.
void check_map_content(LexerState& s, uint32_t first, uint32_t count) {
    bool ok = count % 2 == 0;
    for (uint32_t i = 0; ok && i < count; i += 2) ok = map_valid_key_type(type_of(cell_at(first + i)));
    if (!ok) throw_load_error(s, nullptr, nullptr, TYPE_MAP);
}

} // namespace

void open_container(LexerState& s, uint8_t type, const uint8_t* start, const uint8_t* end) {
    open_marker(s, type, start, end);
}

int32_t close_container(LexerState& s, const uint8_t* start, const uint8_t* end, uint8_t type, bool no_callback) {
    if (!no_callback && !call_callback(s, LEX_EVENT_CLOSE, type, nullptr, start, end)) {
        s.entry_state = ENTRY_TOKEN;
        return 0;
    }
    uint32_t marker = s.tail - 1;
    uint32_t back = cell_at(marker)->data1;
    uint32_t count = s.pos - s.tail;
    uint32_t new_line = cell_at(marker)->header & HEADER_NEW_LINE;
    Cell value;
    if (type == TYPE_MAP) {
        // Without loading, only nested containers are buffered: no pairs to check.
        if (s.load) check_map_content(s, s.tail, count);
        else count = 0;
        Cell storage;
        make_block(cell_at(s.tail), count, TYPE_BLOCK, &storage);
        map_make_at(&value, &storage, 0);
    } else {
        make_block(cell_at(s.tail), count, type, &value);
    }
    value.header |= new_line;
    s.tail -= back;
    s.pos = marker + 1;
    *cell_at(marker) = value;
    s.type = type;
    s.entry_state = path_type(innermost_container(s)) ? ENTRY_PATH : ENTRY_TOKEN;
    return type;
}

// --- errors ------------------------------------------------------------------------

namespace {

// The input from start up to the first line feed, the end, or the first
// character starting 30 or more bytes on. Bytes that are not UTF-8 show as U+FFFD.
Cell near_text(const uint8_t* start, const uint8_t* end) {
    Cell text;
    string_make_at(&text, 32);
    for (const uint8_t* p = start; p < end && *p != '\n' && p - start < 30;) {
        int32_t cp;
        int n = unicode::check_utf8_char(p, size_t(end - p), &cp);
        if (n <= 0) {
            cp = 0xFFFD;
            n = 1;
        }
        string_append_char(&text, cp);
        p += n;
    }
    return text;
}

Cell string_cell(const std::string& text) {
    Cell c;
    string_make_utf8(&c, text);
    return c;
}

char missing_char(int32_t container, int byte) {
    if (container == TYPE_BLOCK || container == TYPE_MAP) return byte == ']' ? '[' : ']';
    if (container == TYPE_PAREN || container == TYPE_POINT2D) return byte == ')' ? '(' : ')';
    return byte == ')' ? '(' : '[';
}

[[noreturn]] void raise_syntax_error(LexerState& s, const uint8_t* start, int32_t code) {
    s.syntax_error = true;
    Cell where = string_cell("(line " + std::to_string(s.line) + ")");
    Cell near = near_text(start, s.input_end);
    int32_t container = s.error_type;
    s.error_type = 0;
    if (path_type(container)) fire(Err::syntax_bad_char, where, near);
    if (code > 0) {
        Cell type;
        make_datatype(&type, uint8_t(code));
        fire(Err::syntax_invalid, where, type, near);
    }
    if (code == -1) fire(Err::syntax_bad_char, where, near);
    if (code == -2) fire(Err::syntax_malconstruct, where, near);
    int byte = code == -3 && start < s.input_end ? *start : -1;
    Cell missing = string_cell(std::string(1, missing_char(container, byte)));
    fire(Err::syntax_missing, where, missing, near);
}

} // namespace

void throw_load_error(LexerState& s, const uint8_t* start, const uint8_t* end, int32_t code) {
    // A cell the failing loader took is given back.
    if (s.cell_mark >= 0 && s.pos > uint32_t(s.cell_mark)) s.pos = uint32_t(s.cell_mark);
    s.cell_mark = -1;
    if (!start) start = s.tail > s.head ? s.input + cell_at(s.tail - 1)->data3 : s.input;
    if (!end) end = start;
    if (!s.load) {
        s.type = TYPE_ERROR;
        throw TokenAbandoned{};
    }
    if (s.callback) {
        int32_t type = code > 0                ? code
                       : s.error_type > 0      ? s.error_type
                       : s.type > 0            ? s.type
                       : s.type_override > 0   ? s.type_override
                                               : int32_t(TYPE_ERROR);
        if (s.entry_state == ENTRY_PATH && path_type(innermost_container(s)))
            close_container(s, start, end, innermost_container(s), true);
        if (!call_callback(s, LEX_EVENT_ERROR, type, nullptr, start, end)) {
            s.error_type = 0;
            throw TokenAbandoned{};
        }
    }
    raise_syntax_error(s, start, code);
}

// --- structural scanners -------------------------------------------------------------

namespace {

void scan_eof(LexerState& s, const uint8_t*, const uint8_t*, uint32_t, bool) { s.position = s.input_end; }

void scan_error(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    int32_t type = token_datatypes[s.exit_state];
    const uint8_t* at = start;
    if (path_type(type) || type == TYPE_BLOCK || type == TYPE_PAREN) at = nullptr;
    if (s.entry_state == ENTRY_BRACED) at = s.braced_start;
    // What follows a broken point is read as ordinary tokens.
    if (s.entry_state == ENTRY_POINT) s.entry_state = ENTRY_TOKEN;
    s.position = end;
    throw_load_error(s, at, end, type > 0 ? type : -1);
}

void scan_block_open(LexerState& s, const uint8_t* start, const uint8_t*, uint32_t, bool) {
    s.position = start + 1;
    open_container(s, TYPE_BLOCK, start, start + 1);
}

// `]` and `)`: the innermost container must be one they close.
void close_with(LexerState& s, const uint8_t* at, uint8_t want1, uint8_t want2) {
    s.position = at + 1;
    uint8_t container = innermost_container(s);
    if (container == 0 || (container != want1 && container != want2)) {
        s.error_type = container;
        throw_load_error(s, at, at + 1, -3);
    }
    close_container(s, at, at + 1, container, false);
}

void scan_block_close(LexerState& s, const uint8_t* start, const uint8_t*, uint32_t, bool) {
    close_with(s, start, TYPE_BLOCK, TYPE_MAP);
}

void scan_paren_close(LexerState& s, const uint8_t* start, const uint8_t*, uint32_t, bool) {
    close_with(s, start, TYPE_PAREN, TYPE_PAREN);
}

void scan_paren_open(LexerState& s, const uint8_t* start, const uint8_t*, uint32_t, bool) {
    s.position = start + 1;
    if (innermost_container(s) == TYPE_POINT2D) throw_load_error(s, start, start + 1, TYPE_POINT2D);
    if (point_test(start + 1, s.input_end)) {
        s.point_line = s.lines_crossed;
        s.type = 0;
        s.entry_state = ENTRY_POINT;
        return;
    }
    open_container(s, TYPE_PAREN, start, start + 1);
}

void scan_map_open(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    s.position = end + 1;
    open_container(s, TYPE_MAP, start, end + 1);
}

void scan_string_open(LexerState& s, const uint8_t*, const uint8_t* end, uint32_t flags, bool) {
    s.position = end + 1;
    if (s.entry_state == ENTRY_BRACED) {
        s.braced_depth++;
        s.braced_flags |= flags;
        return;
    }
    s.braced_start = end;
    s.braced_depth = 1;
    s.braced_flags = flags | (s.lines_crossed > 0 ? FLAG_NEW_LINE_BEFORE : 0);
    s.entry_state = ENTRY_BRACED;
    call_callback(s, LEX_EVENT_OPEN, TYPE_STRING, nullptr, end, end + 1);
}

void scan_string_close(LexerState& s, const uint8_t*, const uint8_t* end, uint32_t flags, bool) {
    s.position = end + 1;
    s.braced_flags |= flags;
    if (--s.braced_depth > 0) {
        if (s.position >= s.input_end) throw_load_error(s, s.braced_start, s.input_end, TYPE_STRING);
        return;
    }
    s.entry_state = ENTRY_TOKEN;
    call_callback(s, LEX_EVENT_CLOSE, TYPE_STRING, nullptr, end, end + 1);
    s.token_start = s.braced_start;
    s.token_end = end;
    s.type = TYPE_STRING;
    deliver_value(s, nullptr, load_braced, s.braced_flags);
}

void scan_path_head(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool) {
    uint8_t kind = *start == '\'' ? TYPE_LIT_PATH : *start == ':' ? TYPE_GET_PATH : TYPE_PATH;
    const uint8_t* after = end + 1;   // past the "/"
    s.position = end;
    if (after >= s.input_end) throw_load_error(s, start, s.input_end, TYPE_PATH);
    if (!open_marker(s, kind, start, after)) return;
    s.token_start = start;
    s.token_end = end;
    s.type = TYPE_WORD;
    s.type_override = TYPE_WORD;
    deliver_value(s, nullptr, load_word, flags);
    s.position = after;
    s.entry_state = ENTRY_PATH;
}

bool same_letters(const uint8_t* text, const char* name, size_t n) {
    for (size_t i = 0; i < n; i++) {
        uint8_t a = text[i], b = uint8_t(name[i]);
        if (a >= 'A' && a <= 'Z') a = uint8_t(a + 32);
        if (b >= 'A' && b <= 'Z') b = uint8_t(b + 32);
        if (a != b) return false;
    }
    return true;
}

// #(...): the four constant words, or a datatype by name with or without its
// "!". Names must match whole: a mere prefix of a name is no match.
void scan_construct(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    const uint8_t* name = start + 2;
    size_t n = size_t(end - name);
    s.position = end + 1;
    Cell value;
    static const char* const CONSTANTS[] = {"true", "false", "none", "unset"};
    int constant = -1;
    for (int i = 0; i < 4 && constant < 0; i++)
        if (n == std::strlen(CONSTANTS[i]) && same_letters(name, CONSTANTS[i], n)) constant = i;
    if (constant == 0 || constant == 1) make_logic(&value, constant == 0);
    else if (constant == 2) make_none(&value);
    else if (constant == 3) make_unset(&value);
    else {
        int found = 0;
        for (int id = 1; id <= highest_type_id && !found; id++) {
            const DatatypeName& t = datatype_names[id];
            if (!t.name) continue;
            if ((n == t.length || n == t.length + 1) && same_letters(name, t.name, n)) found = id;
        }
        if (!found) throw_load_error(s, start, end + 1, -2);
        make_datatype(&value, uint8_t(found));
    }
    s.type = type_of(&value);
    if (!load) return;
    uint32_t index = alloc_cell(s);
    value.header |= cell_at(index)->header & HEADER_NEW_LINE;
    *cell_at(index) = value;
}

void scan_comment(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    call_callback(s, LEX_EVENT_SCAN, -(TOKEN_COMMENT + 1), nullptr, start, end);
}

// A comma turns the innermost paren into a point container and counts there.
void scan_comma(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t, bool) {
    s.position = end + 1;
    uint8_t container = innermost_container(s);
    if (container != TYPE_PAREN && container != TYPE_POINT2D) throw_load_error(s, start, end + 1, TYPE_POINT2D);
    Cell* marker = cell_at(s.tail - 1);
    uint32_t commas = container == TYPE_PAREN ? 1 : marker_commas(marker) + 1;
    marker->data2 = TYPE_POINT2D | (commas << 16);
}

// After an element inside a path: a delimiter (or the end) closes the path, a
// ":" there making it a set-path; any other byte separates the next element.
void path_continue(LexerState& s) {
    const uint8_t* p = s.position;
    uint8_t kind = innermost_container(s);
    if (p < s.input_end && !delimiter_byte(*p)) {
        s.position = p + 1;
        if (s.position >= s.input_end) throw_load_error(s, nullptr, s.input_end, TYPE_PATH);
        return;
    }
    if (p < s.input_end && *p == ':') {
        if (kind != TYPE_PATH) {
            s.error_type = kind;
            throw_load_error(s, nullptr, p + 1, -3);
        }
        s.position = ++p;
        if (p < s.input_end && *p == '/') throw_load_error(s, nullptr, p, TYPE_PATH);
        kind = TYPE_SET_PATH;
    }
    close_container(s, s.position, s.position, kind, false);
}

// A prescan false answer skips the whole token, closing delimiter included.
void skip_token(LexerState& s, int kind, const uint8_t* start, const uint8_t* end) {
    switch (kind) {
    case TOKEN_EOF: s.position = s.input_end; return;
    case TOKEN_BLOCK_OPEN: case TOKEN_BLOCK_CLOSE: case TOKEN_PAREN_OPEN: case TOKEN_PAREN_CLOSE:
    case TOKEN_STRING_OPEN: case TOKEN_STRING_CLOSE: case TOKEN_MAP_OPEN: case TOKEN_CONSTRUCT:
    case TOKEN_COMMA: case TOKEN_STRING: case TOKEN_CHAR: case TOKEN_BINARY: case TOKEN_PERCENT:
    case TOKEN_POINT: case TOKEN_TAG:
        s.position = end + 1;
        break;
    case TOKEN_FILE:
        s.position = end - start > 1 && start[1] == '"' ? end + 1 : end;
        break;
    default: s.position = end; break;
    }
    if (kind == TOKEN_POINT) s.entry_state = ENTRY_TOKEN;
    if (s.position > s.input_end) s.position = s.input_end;
}

const uint8_t* skip_unicode_delimiters(const uint8_t* p, const uint8_t* end) {
    while (p < end && *p >= 0x80) {
        int32_t cp;
        int n = unicode::check_utf8_char(p, size_t(end - p), &cp);
        if (n <= 0 || !unicode_delimiter(cp)) break;
        p += n;
    }
    return p;
}

// Whether exactly one complete value (or nothing) is buffered.
bool one_value_done(const LexerState& s) {
    uint32_t n = s.pos - s.head;
    return n == 0 || (n == 1 && !is_marker(cell_at(s.head)));
}

// Scans one token already recognised; TokenAbandoned leaves it.
void handle_token(LexerState& s, int kind, uint32_t flags) {
    const uint8_t* start = s.token_start;
    const uint8_t* end = s.token_end;
    bool braced = s.entry_state == ENTRY_BRACED;
    if (s.prescan && kind <= TOKEN_STRING) scanners[kind](s, start, end, flags, false);
    bool go;
    if (s.callback) {
        bool answer = call_callback(s, LEX_EVENT_PRESCAN, s.type > 0 ? s.type : -(kind + 1), nullptr, start, end);
        go = braced || answer;
    } else {
        go = !s.prescan;
    }
    if (s.prescan) {
        // Only the structural scanners run; other tokens are stepped over whole.
        if (kind > TOKEN_STRING) skip_token(s, kind, start, end);
        return;
    }
    if (!go) {
        skip_token(s, kind, start, end);
        return;
    }
    if (kind >= TOKEN_STRING) {
        deliver_value(s, kind == TOKEN_STRING ? nullptr : scanners[kind], loaders[kind], flags);
    } else {
        scanners[kind](s, start, end, flags, s.load);
    }
}

} // namespace

void deliver_value(LexerState& s, TokenFn scanner, TokenFn loader, uint32_t flags) {
    bool scan_events = s.callback && (s.event_mask & LEX_EVENT_SCAN);
    bool build = s.load;
    if (!s.load || scanner || scan_events) {
        (scanner ? scanner : loader)(s, s.token_start, s.token_end, flags, false);
        if (s.callback)
            build = call_callback(s, LEX_EVENT_SCAN, s.type, nullptr, s.token_start, s.token_end) && s.load;
    }
    if (!build) return;
    s.cell_mark = s.pos;
    loader(s, s.token_start, s.token_end, flags, true);
    if (s.callback && s.pos > uint32_t(s.cell_mark)) {
        Cell value = *cell_at(s.pos - 1);
        if (!call_callback(s, LEX_EVENT_LOAD, s.type, &value, s.token_start, s.token_end))
            s.pos = uint32_t(s.cell_mark);
    }
    s.cell_mark = -1;
}

void scan_tokens(LexerState& s) {
    while (s.position < s.input_end) {
        const uint8_t* run_start = s.position;
        TokenRun run = recognise(s.entry_state, s.position, s.input_end);
        // Only line feeds before the token mark the value as starting a line.
        int32_t before = 0;
        for (const uint8_t* p = run_start; p < run.start; p++) before += *p == '\n';
        s.position = run.end;
        s.token_start = run.start;
        s.token_end = run.end;
        s.line += run.lines;
        s.lines_crossed = before;
        s.exit_state = run.exit_state;
        s.type_override = -1;
        s.type = token_datatypes[run.final_state];
        int kind = run.final_state - FINAL_STATE_FIRST;
        if (kind == TOKEN_WORD) {
            s.token_start = skip_unicode_delimiters(run.start, run.end);
            if (s.token_start == run.end) {   // only space-like characters: blank
                s.type = 0;
                continue;
            }
        }
        s.kind = kind;
        bool abandoned = false;
        try {
            handle_token(s, kind, run.flags);
            if (s.entry_state == ENTRY_PATH && kind != TOKEN_PATH_HEAD && kind != TOKEN_ERROR) path_continue(s);
        } catch (const TokenAbandoned&) {
            if (!s.load) break;
            abandoned = true;   // a refused error: the value is still to come
        }
        s.cell_mark = -1;
        if ((s.one_value || s.prescan) && s.type > 0 && !abandoned && s.entry_state != ENTRY_PATH &&
            s.entry_state != ENTRY_BRACED && one_value_done(s))
            break;
        s.last_type = s.type;
        // Every token moves the scan on, so an abandoned token cannot come back forever.
        if (s.position <= s.token_start && s.position < s.input_end) {
            int32_t cp;
            int n = unicode::check_utf8_char(s.token_start, size_t(s.input_end - s.token_start), &cp);
            s.position = s.token_start + (n > 0 ? n : 1);
        }
    }
    if (s.entry_state == ENTRY_BRACED && s.type == 0)
        throw_load_error(s, s.braced_start, s.input_end, TYPE_STRING);
}

TokenFn scanners[TOKEN_KIND_COUNT] = {
    scan_eof, scan_error, scan_block_open, scan_block_close, scan_paren_open, scan_paren_close,
    scan_string_open, scan_string_close, scan_map_open, scan_path_head, scan_construct, scan_comment,
    scan_comma, scan_string, scan_word, scan_issue,
};

TokenFn loaders[TOKEN_KIND_COUNT] = {
    nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
    nullptr, nullptr, load_string_token, load_word, load_word, load_integer, load_refinement, load_char,
    load_file, load_binary, load_percent, load_float, load_float_special, load_tuple, load_date, load_pair,
    load_point, load_time, load_money, load_tag, load_url, load_email, load_hex, load_rawstring, load_ref,
};

} // namespace kem::lexer
