// string!: the storage layer (accessors, code point writers, concatenation,
// making and loading, hexadecimal text) and the registration of the row.
#include "runtime/datatypes/string.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/platform/exit.h"
#include "runtime/services/float_text.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"

namespace kem {

namespace {

constexpr uint32_t SWAP_BUFFER_SIZE = 65536;
// The shared scratch block of string_swap_blocks.
std::unique_ptr<uint8_t[]> swap_buffer;

// The narrowest unit that holds cp.
uint32_t unit_for(int32_t cp) { return cp > 0xFFFF ? 4 : cp > 0xFF ? 2 : 1; }

// Room for `more` bytes after the tail; grows to twice the need.
SeriesBuffer* reserve_bytes(SeriesBuffer* b, uint64_t more) {
    if (uint64_t(b->tail) + more <= b->size) return b;
    uint64_t want = (uint64_t(b->used()) + more) * 2;
    if (want > 0x7FFFFF00) want = uint64_t(b->used()) + more;
    if (want > 0x7FFFFF00) fire(Err::internal_no_memory);
    return expand_series(b, int64_t(want));
}

// A symbol! names its text through its cached string (payload word 2) or
// else its UTF-8 name (word 3).
NodeId symbol_string_node(const Cell* symbol) {
    if (symbol->data2) return symbol->data2;
    SeriesBuffer* name = node_buffer(symbol->data3);
    return load_text_new(name->head_ptr(), name->used());
}

} // namespace

// --- accessors -----------------------------------------------------------------

TextRange string_text_range(const Cell* value) {
    TextRange r{};
    uint32_t pos = 0;
    if (is_type(value, TYPE_SYMBOL)) {
        r.node = symbol_string_node(value);
    } else {
        r.node = series_node(value);
        pos = uint32_t(std::max(series_position(value), 0));
        r.bytes = is_type(value, TYPE_BINARY);
    }
    SeriesBuffer* b = node_buffer(r.node);
    r.unit = r.bytes ? 1 : text_unit(b);
    uint32_t total = b->used() / r.unit;
    r.pos = std::min(pos, total);
    r.length = total - r.pos;
    return r;
}

int32_t string_rs_length(const Cell* s) {
    int64_t total = string_full_length(s);
    int64_t pos = std::max(series_position(s), 0);
    return pos >= total ? 0 : int32_t(total - pos);
}

uint32_t string_full_length(const Cell* s) {
    const SeriesBuffer* b = series_buffer(s);
    return b->used() / text_unit(b);
}

uint8_t* string_rs_head(Cell* s) {
    SeriesBuffer* b = series_buffer(s);
    uint32_t unit = text_unit(b);
    int64_t total = b->used() / unit;
    int64_t pos = std::max(series_position(s), 0);
    if (pos > total) {
        pos = total;
        set_series_position(s, pos);
    }
    return b->head_ptr() + pos * unit;
}

uint8_t* string_rs_tail(const Cell* s) { return series_buffer(s)->tail_ptr(); }

bool string_rs_tail_q(const Cell* s) { return string_rs_length(s) == 0; }

int32_t string_char_at(const Cell* s, uint32_t index) {
    SeriesBuffer* b = series_buffer(s);
    uint32_t unit = text_unit(b);
    return read_unit(b->head_ptr() + size_t(index) * unit, unit);
}

int32_t string_get_char(const uint8_t* p, uint32_t unit) {
    if (unit != 1 && unit != 2 && unit != 4) report_runtime_error(101, nullptr);
    return read_unit(p, unit);
}

Cell* string_reset(Cell* s) {
    SeriesBuffer* b = series_buffer(s);
    b->tail = b->head;
    b->flags = (b->flags & ~SERIES_UNIT_MASK) | 1;
    set_series_position(s, 0);
    return s;
}

int32_t string_find_char(const Cell* s, int32_t cp) {
    SeriesBuffer* b = series_buffer(s);
    uint32_t unit = text_unit(b);
    uint32_t total = b->used() / unit;
    uint32_t pos = uint32_t(std::max(series_position(s), 0));
    for (uint32_t i = pos; i < total; i++)
        if (read_unit(b->head_ptr() + size_t(i) * unit, unit) == cp) return int32_t(i - pos);
    return -1;
}

void string_truncate(NodeId string, uint32_t n) {
    SeriesBuffer* b = node_buffer(string);
    uint64_t unit = b->unit() ? b->unit() : 1;
    uint64_t cut = uint64_t(b->head) + uint64_t(n) * unit;
    if (cut <= b->size && b->tail > cut) b->tail = static_cast<uint32_t>(cut);
}

void string_remove_units(Cell* s, uint32_t index, uint32_t n) {
    uint32_t total = string_full_length(s);
    if (index >= total || n == 0) return;
    series_delete_units(s, index, std::min(n, total - index));
}

// --- writing code points ---------------------------------------------------------

SeriesBuffer* string_append_char(SeriesBuffer* b, int32_t cp) {
    uint32_t unit = text_unit(b);
    if ((unit == 1 && cp > 0x7F) || (unit == 2 && cp > 0xFFFF)) b = widen_string_buffer(b, cp > 0xFFFF ? 4 : 2);
    unit = b->unit();
    NodeId node = b->node;
    uint8_t* p = alloc_tail_bytes(b, unit);
    write_unit(p, unit, cp);
    return node ? node_buffer(node) : b;
}

SeriesBuffer* string_overwrite_char(SeriesBuffer* b, uint32_t index, int32_t cp) {
    b = widen_string_buffer(b, std::max(text_unit(b), unit_for(cp)));
    uint32_t unit = b->unit();
    uint64_t end = uint64_t(b->head) + (uint64_t(index) + 1) * unit;
    if (end > b->size) b = expand_series(b, int64_t(std::max<uint64_t>(uint64_t(b->size) * 2, end * 2)));
    uint8_t* at = b->head_ptr() + size_t(index) * unit;
    write_unit(at, unit, cp);
    if (at >= b->tail_ptr()) b->tail = uint32_t(end);
    return b;
}

SeriesBuffer* string_insert_char(SeriesBuffer* b, uint32_t index, int32_t cp) {
    b = widen_string_buffer(b, std::max(text_unit(b), unit_for(cp)));
    uint32_t unit = b->unit();
    b = reserve_bytes(b, unit);
    uint32_t total = b->used() / unit;
    uint8_t* at = b->head_ptr() + size_t(std::min(index, total)) * unit;
    std::memmove(at + unit, at, size_t(b->tail_ptr() - at));
    write_unit(at, unit, cp);
    b->tail += unit;
    return b;
}

SeriesBuffer* string_poke_char(SeriesBuffer* b, uint8_t* at, int32_t cp) {
    uint32_t unit = text_unit(b);
    size_t index = size_t(at - b->head_ptr()) / unit;
    if (unit_for(cp) > unit) {
        b = widen_string_buffer(b, unit_for(cp));
        unit = b->unit();
    }
    write_unit(b->head_ptr() + index * unit, unit, cp);
    return b;
}

SeriesBuffer* string_copy_widen(SeriesBuffer* source, SeriesBuffer* target, uint32_t unit, uint32_t size,
                                uint32_t start, int32_t end, bool keep_tail) {
    uint32_t from = text_unit(source);
    if (unit < from || (unit != 1 && unit != 2 && unit != 4)) report_runtime_error(101, nullptr);
    uint32_t stop = end < 1 ? source->used() : std::min<uint32_t>(uint32_t(end), source->used());
    uint32_t first = start / from;
    uint32_t count = stop > start ? (stop - start) / from : 0;
    // The source buffer stays readable after it moves: it is dead space only.
    const uint8_t* src = source->head_ptr() + size_t(first) * from;
    if (!target) {
        uint64_t need = uint64_t(first + count) * unit;
        target = expand_series_buffer(source, int64_t(std::max<uint64_t>(size, need)));
    } else if (uint64_t(target->head) + uint64_t(first + count) * unit > target->size) {
        report_runtime_error(101, nullptr);
    }
    uint8_t* dst = target->head_ptr() + size_t(first) * unit;
    if (unit == from) {
        std::memmove(dst, src, size_t(count) * unit);
    } else {
        // Last unit first, so a target that is the source's own buffer widens in place.
        for (uint32_t i = count; i-- > 0;)
            write_unit(dst + size_t(i) * unit, unit, read_unit(src + size_t(i) * from, from));
    }
    if (!keep_tail) {
        target->tail = target->head + (first + count) * unit;
        target->flags = (target->flags & ~SERIES_UNIT_MASK) | unit;
    }
    return target;
}

// --- appending text ----------------------------------------------------------------

void string_append_c_string(const Cell* s, const char* text) {
    string_append_bytes(s, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)));
}

void string_append_bytes(const Cell* s, const uint8_t* bytes, uint32_t n) {
    NodeId node = series_node(s);
    for (uint32_t i = 0; i < n; i++) string_append_char(node_buffer(node), bytes[i]);
}

void string_append_ascii(NodeId string, std::string_view text) {
    if (text.empty()) return;
    SeriesBuffer* b = node_buffer(string);
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint8_t* p = alloc_tail_bytes(b, static_cast<uint32_t>(text.size()) * unit);
    for (size_t i = 0; i < text.size(); i++) write_unit(p + i * unit, unit, static_cast<uint8_t>(text[i]));
}

bool mold_cycle(const Cell* value, NodeId out, int32_t& remaining, bool mold) {
    const char* text = cycle_placeholder(value, mold);
    if (!text) return false;
    std::string_view placeholder(text);
    string_append_ascii(out, placeholder);
    remaining -= static_cast<int32_t>(placeholder.size());
    return true;
}

void string_concat_into(Cell* target, const Cell* source, int32_t part, int32_t offset, bool keep_source,
                        ConcatMode mode) {
    TextRange src = string_text_range(source);
    uint32_t count = part >= 0 ? std::min(src.length, uint32_t(part)) : src.length;
    if (count == 0) return;
    NodeId tnode = series_node(target);
    SeriesBuffer* sb = node_buffer(src.node);
    uint32_t sunit = src.unit;
    SeriesBuffer* tb = node_buffer(tnode);
    uint32_t tunit = text_unit(tb);
    if (tunit < sunit) {
        tb = widen_string_buffer(tb, sunit);
        tunit = sunit;
    } else if (sunit < tunit && !keep_source && !src.bytes && src.node != tnode) {
        widen_string_buffer(sb, tunit);
        sunit = tunit;
    }
    uint32_t bytes = count * tunit;
    tb = reserve_bytes(node_buffer(tnode), bytes);
    uint32_t total = tb->used() / tunit;
    uint32_t pos = std::min<uint32_t>(uint32_t(std::max(series_position(target), 0)), total);
    uint32_t at_index = mode == CONCAT_APPEND ? total : std::min<uint32_t>(pos + uint32_t(std::max(offset, 0)), total);
    uint8_t* at = tb->head_ptr() + size_t(at_index) * tunit;
    if (mode == CONCAT_INSERT) std::memmove(at + bytes, at, size_t(tb->tail_ptr() - at));
    if (src.node == tnode) {
        // The source is in the target's own buffer (same unit): no copy of it
        // is taken, since a buffer outside the series frames would escape the
        // memory count. The part of it an insert's gap shifted is read from
        // past the gap.
        uint8_t* s = tb->head_ptr() + size_t(src.pos) * tunit;
        if (mode == CONCAT_INSERT && s + bytes > at) {
            size_t before = s < at ? size_t(at - s) : 0;
            std::memmove(at, s, before);
            std::memmove(at + before, s + before + bytes, bytes - before);
        } else {
            std::memmove(at, s, bytes);
        }
    } else if (sunit == tunit) {
        std::memcpy(at, node_buffer(src.node)->head_ptr() + size_t(src.pos) * sunit, bytes);
    } else {
        const uint8_t* from = node_buffer(src.node)->head_ptr() + size_t(src.pos) * sunit;
        for (uint32_t i = 0; i < count; i++)
            write_unit(at + size_t(i) * tunit, tunit, read_unit(from + size_t(i) * sunit, sunit));
    }
    if (mode == CONCAT_OVERWRITE) tb->tail = std::max(tb->tail, uint32_t(at + bytes - tb->data()));
    else tb->tail += bytes;
}

void string_swap_blocks(uint8_t* base, uint32_t a, uint8_t* b_at, uint32_t b) {
    if (a == 0 && b == 0) return;
    size_t gap = size_t(b_at - base) - a;
    uint32_t smaller = std::min(a, b);
    std::unique_ptr<uint8_t[]> large;
    uint8_t* scratch = swap_buffer.get();
    if (!scratch || smaller > SWAP_BUFFER_SIZE) {
        large = std::make_unique<uint8_t[]>(std::max<uint32_t>(smaller, 1));
        scratch = large.get();
    }
    if (a > b) {
        std::memcpy(scratch, b_at, b);
        std::memmove(base + b + gap, base, a);
        std::memcpy(base, scratch, b);
    } else {
        std::memcpy(scratch, base, a);
        std::memmove(base, b_at, b);
        std::memcpy(base + b + gap, scratch, a);
    }
}

void string_move_chars(Cell* source, Cell* target, int32_t n) {
    if (n < 1) return;
    uint32_t spos = uint32_t(std::max(series_position(source), 0));
    uint32_t count = std::min<uint32_t>(uint32_t(n), uint32_t(string_rs_length(source)));
    if (count == 0) return;
    std::vector<int32_t> moved(count);
    for (uint32_t i = 0; i < count; i++) moved[i] = string_char_at(source, spos + i);
    NodeId tnode = series_node(target);
    uint32_t tpos = std::min<uint32_t>(uint32_t(std::max(series_position(target), 0)), string_full_length(target));
    if (tnode == series_node(source)) {
        // One buffer: take the code points out first, then put them back in.
        string_remove_units(source, spos, count);
        if (tpos > spos) tpos = tpos >= spos + count ? tpos - count : spos;
    }
    for (uint32_t i = 0; i < count; i++) string_insert_char(node_buffer(tnode), tpos + i, moved[i]);
    if (tnode != series_node(source)) string_remove_units(source, spos, count);
}

// --- making and loading --------------------------------------------------------------

Cell* string_rs_make_at(Cell* c, uint32_t bytes) {
    c->header = TYPE_UNSET;
    make_series(c, TYPE_STRING, alloc_string_buffer(bytes ? bytes : 1, 1), 0);
    return c;
}

Cell* string_make_at(Cell* c, uint32_t n, uint32_t unit) {
    c->header = TYPE_UNSET;
    make_series(c, TYPE_STRING, alloc_string_buffer(n, unit), 0);
    return c;
}

Cell* string_load_at(const uint8_t* bytes, uint32_t size, Cell* c, int32_t encoding) {
    NodeId node;
    if (encoding == 0) {
        node = load_text_new(bytes, size);
    } else if (encoding == -1) {
        node = load_utf16le(bytes, size, nullptr, false);
    } else {
        // A caller asking for an encoding that does not exist: a fault of the
        // runtime itself, so the process stops, and says it failed.
        std::fflush(stdout);
        std::printf("*** Loading Error: input encoding unsupported\n");
        std::fflush(stdout);
        std::exit(EXIT_FAILURE);
    }
    if (!c) c = stack::push_slot();
    make_series(c, TYPE_STRING, node, 0);
    return c;
}

Cell* string_load_in(const uint8_t* bytes, uint32_t size, const Cell* block, int32_t encoding) {
    Cell made;
    string_load_at(bytes, size, &made, encoding);
    Cell* c = alloc_tail(series_buffer(block));
    *c = made;
    return c;
}

Cell* string_decode_utf8(const uint8_t* bytes, uint32_t size) {
    for (uint32_t i = 0; i < size;) {
        int32_t cp;
        int n = unicode::check_utf8_char(bytes + i, size - i, &cp);
        if (n <= 0) {
            Cell rest;
            NodeId node = alloc_bytes(size - i);
            SeriesBuffer* b = node_buffer(node);
            std::memcpy(b->head_ptr(), bytes + i, size - i);
            b->tail = b->head + (size - i);
            make_series(&rest, TYPE_BINARY, node, 0);
            fire(Err::access_invalid_utf8, rest);
        }
        i += uint32_t(n);
    }
    return string_load_at(bytes, size, nullptr, 0);
}

// --- hexadecimal and numbers -------------------------------------------------------------

namespace {
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
char byte_hex[3];
char int_hex[9];
} // namespace

const char* string_byte_to_hex(uint8_t byte) {
    byte_hex[0] = HEX_DIGITS[byte >> 4];
    byte_hex[1] = HEX_DIGITS[byte & 15];
    byte_hex[2] = 0;
    return byte_hex;
}

const char* string_int_to_hex(int32_t value, bool trim) {
    int32_t fill = value < 0 ? -1 : 0;
    std::memset(int_hex, value < 0 ? 'F' : '0', 8);
    int_hex[8] = 0;
    int i = 8;
    for (int32_t v = value; v != fill && i > 0; v >>= 4) int_hex[--i] = HEX_DIGITS[v & 15];
    if (!trim) return int_hex;
    // Nothing written (0 and -1): two fill digits.
    return int_hex + (i == 8 ? 6 : i);
}

double string_to_float(const char* start, uint32_t length, bool* error) {
    size_t left = 0;
    double d = decimal_to_float(start, start + length, 0, &left);
    if (error) *error = length == 0 || left != 0;
    return d;
}

// --- registration ------------------------------------------------------------------------

Cell* string_sort(Cell* series, const SortArgs& refs);  // string_sort.cpp

void register_string() {
    if (!swap_buffer) swap_buffer = std::make_unique_for_overwrite<uint8_t[]>(SWAP_BUFFER_SIZE);
    ActionRow row = ActionRow::inherit_all();
    row.set<ACT_MAKE>(string_make)
        .set<ACT_TO>(string_to)
        .set<ACT_FORM>(string_form)
        .set<ACT_MOLD>(string_mold)
        .set<ACT_EVAL_PATH>(string_eval_path)
        .set<ACT_COMPARE>(string_compare)
        .set<ACT_APPEND>(string_append)
        .set<ACT_CHANGE>(string_change)
        .set<ACT_FIND>(string_find)
        .set<ACT_INSERT>(string_append)
        .none(ACT_PUT)
        .set<ACT_SELECT>(string_select)
        .set<ACT_SORT>(string_sort)
        .set<ACT_SWAP>(string_swap)
        .set<ACT_TRIM>(string_trim);
    for (int slot = 52; slot <= ACTION_SLOT_COUNT; slot++)
        if (slot != ACT_MODIFY) row.none(slot);
    register_datatype(TYPE_STRING, TYPE_SERIES, "string!", row);
    collector::set_mark_kind(TYPE_STRING, collector::MK_BYTES2);
}

} // namespace kem
