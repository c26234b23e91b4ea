// Internals shared by the lexer's token loop, scanners, loaders and entry:
// the per-run state, the shared output cell buffer and the error path.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/lexer/lexer.h"
#include "runtime/lexer/tables.h"

namespace kem::lexer {

// One record per running lexer, chained from the outermost to the innermost.
// Output positions are indexes into the shared buffer, so growing it never
// disturbs a state.
struct LexerState {
    LexerState* link = nullptr;     // the next (inner) state
    LexerState* parent = nullptr;   // the enclosing (outer) state
    uint32_t head = 0;              // first cell of this run's output
    uint32_t tail = 0;              // first content cell of the innermost open container
    uint32_t pos = 0;               // next free cell
    const uint8_t* input = nullptr;
    const uint8_t* input_end = nullptr;
    const uint8_t* position = nullptr;
    const uint8_t* token_start = nullptr;
    const uint8_t* token_end = nullptr;
    int32_t line = 1;
    int32_t lines_crossed = 0;      // line feeds read for this token (new-line marker test)
    int32_t type_override = -1;
    int32_t type = 0;
    int entry_state = ENTRY_TOKEN;
    int exit_state = 0;
    int kind = TOKEN_EOF;           // token kind being handled
    int32_t error_type = 0;         // the container a missing error names
    int32_t last_type = 0;
    const uint8_t* braced_start = nullptr;
    int32_t braced_depth = 0;
    uint32_t braced_flags = 0;
    int32_t point_line = 0;
    LexerCallback* callback = nullptr;
    uint32_t event_mask = 0;
    Cell source{TYPE_NONE, 0, 0, 0};   // string! or binary! the text came from
    uint32_t source_base = 0;          // the source's index at the text start
    bool load = false;                 // values are built
    // Values are built only to be looked at and dropped: a word or issue
    // names no symbol and is bound to nothing, so no name is interned and the
    // global context gains no word.
    bool probe = false;
    bool prescan = false;
    bool one_value = false;
    const uint8_t* last_counted = nullptr;   // memo of the byte-to-character count
    uint32_t last_chars = 0;
    int64_t cell_mark = -1;            // pos before the current loader call, -1 outside one
    bool syntax_error = false;         // the run ends on its own syntax error
};

// A scanner or a loader: validates (load false) or builds (load true) the
// token start..end, moves the position past it and appends at most one cell.
using TokenFn = void (*)(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
extern TokenFn scanners[TOKEN_KIND_COUNT];
extern TokenFn loaders[TOKEN_KIND_COUNT];

// Thrown to abandon the current token (an error event answered false) or, in
// the scanning modes, to end the scan after a syntax error.
struct TokenAbandoned {};

// --- the output buffer -------------------------------------------------------------

extern Cell* out_cells;
extern uint32_t out_capacity;
void output_buffer_init();
// The index of a new unset! cell at pos, with the new-line marker when the
// token crossed a line feed. Grows the buffer (doubling) when full.
uint32_t alloc_cell(LexerState& s);
inline Cell* cell_at(uint32_t index) { return out_cells + index; }
// Appends a finished value, with the new-line marker of its token.
inline void emit_value(LexerState& s, Cell value) {
    uint32_t index = alloc_cell(s);
    value.header |= cell_at(index)->header & HEADER_NEW_LINE;
    *cell_at(index) = value;
}

// Marker cells of open containers: type 31 inside this buffer only.
constexpr uint8_t MARKER_TYPE = TYPE_TRIPLE;
inline bool is_marker(const Cell* c) { return type_of(c) == MARKER_TYPE; }
inline uint8_t marker_container(const Cell* c) { return static_cast<uint8_t>(c->data2 & 0xFFFF); }
inline uint32_t marker_commas(const Cell* c) { return c->data2 >> 16; }
// The innermost open container's datatype, 0 when none is open.
inline uint8_t innermost_container(const LexerState& s) {
    return s.tail > s.head ? marker_container(cell_at(s.tail - 1)) : 0;
}
inline bool path_type(int32_t t) { return t >= TYPE_PATH && t <= TYPE_GET_PATH; }

// --- structure ----------------------------------------------------------------------

// The token loop.
void scan_tokens(LexerState& s);
void open_container(LexerState& s, uint8_t type, const uint8_t* start, const uint8_t* end);
// Closes the innermost container as `type`; answers it, or 0 when a callback refused.
int32_t close_container(LexerState& s, const uint8_t* start, const uint8_t* end, uint8_t type, bool no_callback);
// A new series of the datatype holding copies of the cells, written to out.
void make_block(const Cell* cells, uint32_t count, uint8_t type, Cell* out);

// Validates and builds one value token through a scanner (may be null) and a
// loader, with the scan and load events.
void deliver_value(LexerState& s, TokenFn scanner, TokenFn loader, uint32_t flags);

// --- errors ------------------------------------------------------------------------

// code: a datatype id (invalid), -1 bad-char, -2 malconstruct, -3 missing at
// the position, -4 missing at the end. start null: at the innermost container.
[[noreturn]] void throw_load_error(LexerState& s, const uint8_t* start, const uint8_t* end, int32_t code);

// --- callbacks ---------------------------------------------------------------------

// Sends one event; true when there is no callback or the event is masked.
bool call_callback(LexerState& s, uint32_t event, int32_t type, const Cell* value, const uint8_t* start,
                   const uint8_t* end);

// --- shared loader pieces ------------------------------------------------------------

// The escape after a "^" at p (p < end): the code point, -1 when invalid;
// *next is set past the escape.
int32_t decode_escape(const uint8_t* p, const uint8_t* end, const uint8_t** next);
// Text of a string kind from start to end (content only): checks it, and with
// load makes the value of `type` in a new output cell. escapes: decode "^".
// flags: the token's lead-byte flags (unit) and new-line bit.
void load_text(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool escapes,
               uint8_t type, bool load);
// The float syntax table: whether start..end is a float text (at most 312 bytes).
bool float_syntax_ok(const uint8_t* start, const uint8_t* end);
// The double of a checked float text ("'" separators dropped) scaled by 10^e0;
// false when the conversion did not take the whole text.
bool float_convert(const uint8_t* start, const uint8_t* end, int e0, double* out);
// The word loader over start..end with the kind given (prefix and trailing ":"
// stripped), or the kind found from the token when kind is 0.
void load_word_kind(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, int32_t kind,
                    bool load);

// Scanners and loaders registered in the token table.
void scan_string(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void scan_word(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void scan_issue(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_string_token(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_braced(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_word(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_integer(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_refinement(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_char(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_file(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_binary(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_percent(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_float(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_float_special(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_tuple(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_date(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_pair(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_point(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_time(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_money(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_tag(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_url(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_email(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_hex(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_rawstring(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);
void load_ref(LexerState& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load);

// The chain of running lexers (outermost first).
extern LexerState* chain_head;
extern LexerState* chain_tail;

} // namespace kem::lexer
