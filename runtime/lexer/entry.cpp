// Ways into the lexer (UTF-8 text, a string!, transcode), the callback
// protocol and what the rest of the runtime asks of the lexer.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include "runtime/collector/collector.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/lexer/lexer_state.h"
#include "runtime/platform/exit.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"

namespace kem {

namespace lexer {
LexerState* chain_head = nullptr;
LexerState* chain_tail = nullptr;
} // namespace lexer

using namespace lexer;

namespace {

bool ready = false;
constexpr const char* EVENT_NAMES[6] = {"prescan", "scan", "load", "open", "close", "error"};
Cell event_words[6];
uint32_t event_symbols[6];

// The scratch text buffer: nested loads take consecutive parts of it; a load
// that does not fit gets a private buffer for its duration.
constexpr uint32_t SCRATCH_SIZE = 100000;
uint8_t* scratch = nullptr;
uint32_t scratch_fill = 0;

class ScratchSpace {
public:
    explicit ScratchSpace(uint64_t n) : saved_(scratch_fill) {
        if (n < SCRATCH_SIZE - scratch_fill) {
            data_ = scratch + scratch_fill;
            scratch_fill += uint32_t(n) + 1;
        } else {
            own_.reset(new (std::nothrow) uint8_t[n + 1]);
            if (!own_) report_runtime_error(94, nullptr);
            data_ = own_.get();
        }
    }
    ~ScratchSpace() { scratch_fill = saved_; }
    ScratchSpace(const ScratchSpace&) = delete;
    ScratchSpace& operator=(const ScratchSpace&) = delete;
    uint8_t* data() { return data_; }

private:
    uint32_t saved_;
    uint8_t* data_ = nullptr;
    std::unique_ptr<uint8_t[]> own_;
};

// How a kind without a datatype is reported, by kind.
const char* const EXIT_STATES[TOKEN_KIND_COUNT] = {
    "eof", "error!", "block!", "block!", "paren!", "paren!", "string!", "string!", "map!", "path!",
    "datatype!", "comment", "comma", "string!", "word!", "issue!", "integer!", "refinement!", "char!",
    "file!", "binary!", "percent!", "float!", "float!", "tuple!", "date!", "pair!", "point2D!", "time!",
    "money!", "tag!", "url!", "email!", "hex", "rawstring", "ref!",
};

Cell exit_state_value(int kind) {
    const char* name = EXIT_STATES[kind];
    for (int id = 1; id <= highest_type_id; id++) {
        if (datatype_names[id].name && std::strcmp(datatype_names[id].name, name) == 0) {
            Cell c;
            make_datatype(&c, uint8_t(id));
            return c;
        }
    }
    Cell w;
    word_make_at(symbol_make(name), &w);
    return w;
}

bool text_source(const LexerState& s) { return any_string_type(type_of(&s.source)); }
bool has_source(const LexerState& s) { return text_source(s) || is_type(&s.source, TYPE_BINARY); }

// Offset of a byte position from the text start: characters for a string
// source (counted on from the last position asked for), else bytes.
uint32_t text_offset(LexerState& s, const uint8_t* at) {
    if (!text_source(s)) return uint32_t(at - s.input);
    if (s.last_counted && at >= s.last_counted) s.last_chars += utf8_count_chars(s.last_counted, at);
    else s.last_chars = utf8_count_chars(s.input, at);
    s.last_counted = at;
    return s.last_chars;
}

const uint8_t* text_position(LexerState& s, int64_t offset) {
    if (offset <= 0) return s.input;
    if (!text_source(s)) return s.input + std::min<int64_t>(offset, s.input_end - s.input);
    return utf8_skip(s.input, s.input_end, uint32_t(std::min<int64_t>(offset, UINT32_MAX)));
}

Cell type_value(int32_t type) {
    Cell c;
    if (type > 0) make_datatype(&c, uint8_t(type));
    else if (type == 0) make_none(&c);
    else c = exit_state_value(std::min(-type - 1, TOKEN_KIND_COUNT - 1));
    return c;
}

// Unlinks a state from the chain on every way out of a run.
struct ChainLink {
    LexerState& s;
    explicit ChainLink(LexerState& state) : s(state) {
        s.parent = chain_tail;
        if (chain_tail) chain_tail->link = &s;
        else chain_head = &s;
        chain_tail = &s;
    }
    ~ChainLink() {
        if (s.parent) s.parent->link = nullptr;
        else chain_head = nullptr;
        chain_tail = s.parent;
    }
};

// A traced run whose callback lets a syntax error end it still hands the
// values completed before the error to its into-block (load/trap gives them
// with the error): the cells before the outermost container left open.
void hand_over_complete_values(LexerState& s, Cell* into) {
    for (uint32_t i = s.head; i < s.pos && !is_marker(cell_at(i)); i++) {
        Cell v = *cell_at(i);
        block_append_cell(into, &v);
    }
}

uint32_t consumed_of(LexerState& s) {
    return text_source(s) ? utf8_count_chars(s.input, s.position) : uint32_t(s.position - s.input);
}

} // namespace

// --- start-up --------------------------------------------------------------------------

void lexer_init() {
    if (ready) return;
    output_buffer_init();
    scratch = static_cast<uint8_t*>(std::malloc(SCRATCH_SIZE));
    if (!scratch) report_runtime_error(94, nullptr);
    build_unicode_delimiters();
    collector::add_layer_root("lexer", [] { lexer_mark_buffers([](const Cell* c) { collector::mark_value(c); }); });
    for (int i = 0; i < 6; i++) {
        event_symbols[i] = symbol_make(EVENT_NAMES[i]);
        word_make_at(event_symbols[i], &event_words[i]);
    }
    ready = true;
}

// --- callbacks ---------------------------------------------------------------------------

uint32_t lexer_event_mask(const Cell* body_first) {
    if (!is_type(body_first, TYPE_BLOCK)) return LEX_ALL_EVENTS;
    uint32_t mask = 0;
    int32_t n = block_rs_length(body_first);
    for (int32_t i = 0; i < n; i++) {
        const Cell* c = block_rs_abs_at(body_first, uint32_t(series_position(body_first) + i));
        if (!is_type(c, TYPE_WORD)) continue;
        for (int e = 0; e < 6; e++)
            if (symbol_resolve(c->data2) == symbol_resolve(event_symbols[e])) mask |= 1u << e;
    }
    return mask;
}

Cell* lexer_exit_states(Cell* out) {
    block_make_at(out, TOKEN_KIND_COUNT);
    for (int kind = 0; kind < TOKEN_KIND_COUNT; kind++) {
        Cell v = exit_state_value(kind);
        block_append_cell(out, &v);
    }
    return out;
}

namespace lexer {

bool call_callback(LexerState& s, uint32_t event, int32_t type, const Cell* value, const uint8_t* start,
                   const uint8_t* end) {
    if (!s.callback || !(s.event_mask & event)) return true;
    if (event == LEX_EVENT_SCAN && type == -2) {
        event = LEX_EVENT_ERROR;
        type = TYPE_ERROR;
    }
    // A point is reported with its parentheses.
    if (s.kind == TOKEN_POINT && event != LEX_EVENT_ERROR && start > s.input) {
        start--;
        if (event == LEX_EVENT_PRESCAN && end < s.input_end && *end == ')') end++;
    }
    if (event == LEX_EVENT_PRESCAN && s.entry_state == ENTRY_BRACED && s.braced_start) start = s.braced_start;
    start = std::clamp(start, s.input, s.input_end);
    end = std::clamp(end, start, s.input_end);
    LexerEventArgs args;
    args.event = event_words[__builtin_ctz(event)];
    uint32_t start_offset = text_offset(s, start);
    uint32_t end_offset = text_offset(s, end);
    bool at_start = (event == LEX_EVENT_PRESCAN && type < 0) || event == LEX_EVENT_OPEN;
    uint32_t at = at_start ? start_offset : end_offset;
    if (has_source(s)) {
        args.input = s.source;
        args.input.data1 = s.source_base + at;
    } else {
        make_none(&args.input);
    }
    args.type = type_value(type);
    args.line = s.line;
    if (value) args.token = *value;
    else pair_set_in(&args.token, int32_t(start_offset + 1), int32_t(end_offset + 1));
    bool answer = s.callback->hook(args);
    if (has_source(s) && type_of(&args.input) == type_of(&s.source) &&
        series_node(&args.input) == series_node(&s.source) && args.input.data1 != s.source_base + at) {
        s.position = text_position(s, int64_t(int32_t(args.input.data1)) - int64_t(s.source_base));
        s.last_counted = nullptr;
    }
    return answer;
}

} // namespace lexer

// --- running ------------------------------------------------------------------------------

namespace {

int32_t run_lexer(Cell* dst, const uint8_t* text, uint32_t length, bool one_value, bool not_prescan, bool not_scan,
                  bool always_block, uint32_t* consumed, LexerCallback* callback, const Cell* source, Cell* into,
                  bool probe) {
    lexer_init();
    LexerState s;
    s.probe = probe;
    ChainLink link(s);
    s.head = s.tail = s.pos = s.parent ? s.parent->pos : 0;
    s.input = text;
    s.input_end = text + length;
    s.position = text;
    s.load = not_prescan && not_scan;
    s.prescan = !not_prescan;
    s.one_value = one_value;
    s.callback = callback;
    s.event_mask = callback ? callback->mask : 0;
    if (source) {
        s.source = *source;
        s.source_base = source->data1;
    }
    bool stopped = false;
    try {
        try {
            scan_tokens(s);
        } catch (const TokenAbandoned&) {
            stopped = true;
        }
        uint8_t open = innermost_container(s);
        if (open && (s.load || (!stopped && s.type != TYPE_ERROR))) {
            if (s.prescan && path_type(open)) {
                s.type = open;
            } else {
                s.error_type = open;
                try {
                    throw_load_error(s, nullptr, s.input_end, -4);
                } catch (const TokenAbandoned&) {
                    make_none(dst);
                    if (consumed) *consumed = consumed_of(s);
                    return s.type;
                }
            }
        }
    } catch (...) {
        if (s.syntax_error && s.load && callback && into) hand_over_complete_values(s, into);
        throw;
    }
    if (s.load) {
        uint32_t count = s.pos - s.head;
        if (one_value && !always_block && count > 0) {
            Cell first = *cell_at(s.head);
            if (into) {
                block_append_cell(into, &first);
                *dst = *into;
            } else {
                *dst = first;
            }
        } else if (into) {
            for (uint32_t i = 0; i < count; i++) {
                Cell v = *cell_at(s.head + i);
                block_append_cell(into, &v);
            }
            *dst = *into;
        } else {
            make_block(cell_at(s.head), count, TYPE_BLOCK, dst);
        }
    }
    if (consumed) *consumed = consumed_of(s);
    return s.type;
}

} // namespace

int32_t lexer_scan(Cell* dst, const uint8_t* text, uint32_t length, bool one_value, bool not_prescan,
                   bool not_scan, bool always_block, uint32_t* consumed, LexerCallback* callback,
                   const Cell* source, Cell* into) {
    return run_lexer(dst, text, length, one_value, not_prescan, not_scan, always_block, consumed, callback, source,
                     into, false);
}

int32_t lexer_probe(Cell* dst, const uint8_t* text, uint32_t length, uint32_t* consumed) {
    return run_lexer(dst, text, length, true, true, true, false, consumed, nullptr, nullptr, nullptr, true);
}

int32_t lexer_load_string(Cell* dst, const Cell* source, int32_t length, bool one_value, bool not_prescan,
                          bool not_scan, bool always_block, uint32_t* consumed, LexerCallback* callback,
                          Cell* into) {
    lexer_init();
    Cell text = *source;
    int32_t available = string_rs_length(&text);
    set_series_position(&text, std::max(series_position(&text), 0));
    if (length < 0 || length > available) length = available;
    uint32_t unit = unit_bytes(series_buffer(&text));
    ScratchSpace space(uint64_t(length) * (unit == 4 ? 4 : unit + 1));
    uint32_t bytes = string_to_utf8_buffer(&text, space.data(), length, false);
    return lexer_scan(dst, space.data(), bytes, one_value, not_prescan, not_scan, always_block, consumed, callback,
                      &text, into);
}

Cell* transcode(const Cell* source, const TranscodeRequest& request, Cell* out) {
    Cell src = *source;
    bool one = request.next || request.one || request.scan;
    bool scanning = request.scan || request.prescan;
    bool is_binary = is_type(&src, TYPE_BINARY);
    // A position past the tail has nothing left to read.
    int64_t total = std::max<int64_t>(0, is_binary ? binary_rs_length(&src) : string_rs_length(&src));
    int64_t length = total;
    if (request.part) length = std::clamp<int64_t>(series_part_count(&src, request.part), 0, total);
    Cell result;
    make_none(&result);
    uint32_t consumed = 0;
    uint32_t skipped = 0;
    int32_t type;
    if (!is_binary) {
        type = lexer_load_string(&result, &src, int32_t(length), one, !request.prescan, !request.scan, false,
                                 &consumed, request.trace, request.into);
    } else {
        const uint8_t* bytes = binary_rs_head(&src);
        if (length > 2 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) skipped = 3;
        Cell view = src;
        view.data1 += skipped;
        uint32_t n = uint32_t(length - skipped);
        // A callback may run Kem code that moves or changes the binary: it then
        // reads a private copy.
        std::unique_ptr<ScratchSpace> copy;
        if (request.trace) {
            copy = std::make_unique<ScratchSpace>(n);
            std::memcpy(copy->data(), bytes + skipped, n);
            bytes = copy->data();
        } else {
            bytes += skipped;
        }
        type = lexer_scan(&result, bytes, n, one, !request.prescan, !request.scan, false, &consumed, request.trace,
                          &view, request.into);
    }
    Cell answer = result;
    if (scanning) {
        if (type == 0) make_none(&answer);
        else make_datatype(&answer, uint8_t(type < 0 ? TYPE_ERROR : type));
    }
    if (request.next) {
        Cell rest = *source;
        set_series_position(&rest, series_position(&src) + int64_t(skipped) + consumed);
        Cell pair;
        block_make_at(&pair, 2);
        block_append_cell(&pair, &answer);
        block_append_cell(&pair, &rest);
        answer = pair;
    }
    *out = answer;
    return out;
}

// --- services to other modules ---------------------------------------------------------

int32_t lexer_scan_type(const uint8_t* text, uint32_t length) {
    Cell dst;
    int32_t type = lexer_scan(&dst, text, length, true, true, false, false, nullptr, nullptr, nullptr, nullptr);
    return type == TYPE_ERROR ? -1 : type;
}

const Cell* load_single_value_into(Cell* target, const Cell* string) {
    Cell text = *string;
    uint32_t consumed = 0;
    Cell result;
    int32_t type = lexer_load_string(&result, &text, -1, true, true, true, false, &consumed, nullptr, nullptr);
    if (consumed < uint32_t(string_rs_length(&text))) return &none_value;
    if (type == 0) make_unset(target);
    else *target = result;
    return target;
}

void lexer_mark_buffers(void (*mark)(const Cell*)) {
    for (LexerState* s = chain_head; s; s = s->link) {
        for (uint32_t i = s->head; i < s->pos; i++)
            if (!is_marker(cell_at(i))) mark(cell_at(i));
        mark(&s->source);
        if (s->callback) mark(&s->callback->function);
    }
}

} // namespace kem
