// The lexer: UTF-8 source text to values.
//
// Three modes: load builds the values; scan checks one token and answers its
// datatype; prescan answers the datatype the recogniser alone assigns. A
// callback (transcode/trace, load/trap, the console) can watch and steer the
// lexer through six events.
//
// Nested runs (a callback that calls transcode again) share one output cell
// buffer and stack strictly inside their caller. The collector reaches the
// values a run has buffered through lexer_mark_buffers.
#pragma once
#include <cstdint>
#include <functional>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/loader.h"

namespace kem {

// Allocates the shared buffers and builds the Unicode delimiter bits. Needs
// the symbol table and the global context. Later calls do nothing. The entry
// points datatypes call (loading a string!, numbers from text) are declared
// in datatypes/loader.h.
void lexer_init();

// --- callbacks -------------------------------------------------------------------

enum LexerEventBit : uint32_t {
    LEX_EVENT_PRESCAN = 1,
    LEX_EVENT_SCAN = 2,
    LEX_EVENT_LOAD = 4,
    LEX_EVENT_OPEN = 8,
    LEX_EVENT_CLOSE = 16,
    LEX_EVENT_ERROR = 32,
};
constexpr uint32_t LEX_ALL_EVENTS = 63;

// The arguments of one callback call. The callee may move `input` (same
// series, another index): scanning then goes on from there.
struct LexerEventArgs {
    Cell event;    // word!: prescan scan load open close error
    Cell input;    // the source string! or binary! positioned at the token (none! for raw text)
    Cell type;     // datatype!, none!, or the exit-states value of a kind without a datatype
    int32_t line;  // current line, from 1
    Cell token;    // the loaded value (load events), else a pair! of the 1-based
                   // character (byte, for a binary! source) offsets of the token
};

// A callback as the evaluator fills it in: the hook runs the Kem function or
// routine (kept in `function` so the collector sees it) and answers its truth.
// Exits and errors leave the hook as C++ exceptions; the lexer cleans up and
// lets them pass.
struct LexerCallback {
    std::function<bool(LexerEventArgs&)> hook;
    uint32_t mask = LEX_ALL_EVENTS;
    Cell function{TYPE_NONE, 0, 0, 0};
};

// The event mask a callback's body asks for: when the first value of the body
// is a block, the OR of the bits of the event words in it (an empty block asks
// for nothing); otherwise every event.
uint32_t lexer_event_mask(const Cell* body_first);

// The values by which a kind without a datatype is reported (system/lexer/
// exit-states): a block of 36 values, words for eof, comment, hex and
// rawstring, datatype! values for the rest. Made into `out`.
Cell* lexer_exit_states(Cell* out);

// --- running the lexer ---------------------------------------------------------------

// One run over UTF-8 text; returns the datatype id of the last token (0 for
// none, 34 error! after a syntax error in the scanning modes). When loading,
// dst receives the block of values (or, with one_value and not always_block,
// the first value); into, when given, receives the values appended at its tail
// instead. consumed (may be null) receives the bytes read, or the characters
// when source is a string!. source (may be null) is what the callback sees as
// `input`. Syntax errors in load mode raise KemError (category syntax).
// The text must stay where it is for the whole run: with a callback (which
// may run Kem code, and so a collection) it must not lie in a series buffer;
// lexer_load_string and transcode copy it out first.
int32_t lexer_scan(Cell* dst, const uint8_t* text, uint32_t length, bool one_value, bool not_prescan,
                   bool not_scan, bool always_block, uint32_t* consumed, LexerCallback* callback,
                   const Cell* source, Cell* into);

// The first value of the text, loaded only to learn its datatype and length
// (as lexer_scan loading one value): its words and issues name no symbol and
// are bound to nothing, so probing text never interns a name. dst is good
// only for type_of.
int32_t lexer_probe(Cell* dst, const uint8_t* text, uint32_t length, uint32_t* consumed);

// What the transcode native asks for.
struct TranscodeRequest {
    bool next = false;                // answer [value rest]
    bool one = false;                 // the first value only
    bool prescan = false;
    bool scan = false;
    const Cell* part = nullptr;       // /part: an integer! length or a position in the source
    Cell* into = nullptr;             // /into: a block to append to
    LexerCallback* trace = nullptr;   // /trace
};
// Runs the lexer over a string! or binary! (from its position; a binary!
// loses a leading UTF-8 byte-order mark) and writes the native's answer into
// out: the block (or value) loaded; in the scanning modes none! for empty
// input, else the datatype! of the token; with next a block of the answer and
// the source moved past what was read. A /part length is cut to the data; a
// /part position in another series raises script invalid-refine-arg.
Cell* transcode(const Cell* source, const TranscodeRequest& request, Cell* out);

// For the collector: every cell buffered by a running lexer, its source value
// and its callback function.
void lexer_mark_buffers(void (*mark)(const Cell*));

} // namespace kem
