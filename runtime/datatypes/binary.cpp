// binary!: accessors, byte writers, making, conversion into bytes (to),
// form and mold, comparison and the byte matchers of parse and the lexer.
#include "runtime/datatypes/binary.h"
#include <algorithm>
#include <bit>
#include <cstring>
#include <string>
#include <string_view>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/bitset.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"

namespace kem {

namespace {

// The largest data a series buffer may hold.
constexpr uint64_t MAX_BYTES = 0x7FFFFF00;

// Bytes of the series at or after `p` would be read from a buffer that a
// growth abandons: such sources are copied out first.
bool inside(const SeriesBuffer* b, const uint8_t* p) {
    const uint8_t* start = reinterpret_cast<const uint8_t*>(b + 1);
    return p >= start && p < start + b->size;
}

const char HEX[] = "0123456789ABCDEF";

} // namespace

// --- accessors ---------------------------------------------------------------

uint32_t binary_index(const Cell* bin) {
    int64_t pos = series_position(bin);
    uint32_t used = series_buffer(bin)->used();
    return uint32_t(std::clamp<int64_t>(pos, 0, used));
}

int32_t binary_rs_length(const Cell* bin) { return int32_t(series_buffer(bin)->used() - binary_index(bin)); }

uint8_t* binary_rs_head(Cell* bin) {
    uint32_t index = binary_index(bin);
    set_series_position(bin, index);
    return series_buffer(bin)->head_ptr() + index;
}

bool binary_rs_tail_q(const Cell* bin) { return binary_rs_length(bin) == 0; }

void binary_rs_skip(Cell* bin, int32_t n) {
    int64_t pos = int64_t(binary_index(bin)) + n;
    set_series_position(bin, std::clamp<int64_t>(pos, 0, series_buffer(bin)->used()));
}

void binary_rs_clear(Cell* bin) {
    SeriesBuffer* b = series_buffer(bin);
    b->tail = b->head + binary_index(bin);
}

uint8_t binary_byte_at(const Cell* bin, uint32_t offset) { return series_buffer(bin)->head_ptr()[offset]; }

// --- writing bytes -----------------------------------------------------------

SeriesBuffer* binary_reserve(NodeId node, uint64_t extra) {
    SeriesBuffer* b = node_buffer(node);
    if (uint64_t(b->tail) + extra <= b->size) return b;
    uint64_t need = uint64_t(b->used()) + extra;
    if (need > MAX_BYTES) fire(Err::internal_no_memory);
    uint64_t size = std::min(std::max(need, uint64_t(b->size) * 2), MAX_BYTES);
    return expand_series(b, int64_t(size));
}

void binary_append_bytes(const Cell* bin, const uint8_t* bytes, uint32_t n) {
    binary_insert_bytes(bin, series_buffer(bin)->used(), bytes, n);
}

void binary_insert_bytes(const Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n) {
    if (n == 0) return;
    NodeId node = series_node(bin);
    std::vector<uint8_t> copy;
    if (inside(node_buffer(node), bytes)) {
        copy.assign(bytes, bytes + n);
        bytes = copy.data();
    }
    SeriesBuffer* b = binary_reserve(node, n);
    offset = std::min(offset, b->used());
    uint8_t* at = b->head_ptr() + offset;
    std::memmove(at + n, at, b->used() - offset);
    std::memcpy(at, bytes, n);
    b->tail += n;
}

void binary_write_bytes_at(const Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n) {
    if (n == 0) return;
    NodeId node = series_node(bin);
    std::vector<uint8_t> copy;
    if (inside(node_buffer(node), bytes)) {
        copy.assign(bytes, bytes + n);
        bytes = copy.data();
    }
    SeriesBuffer* b = node_buffer(node);
    offset = std::min(offset, b->used());
    uint64_t end = uint64_t(offset) + n;
    if (end > b->used()) {
        b = binary_reserve(node, end - b->used());
        b->tail = b->head + uint32_t(end);
    }
    std::memmove(b->head_ptr() + offset, bytes, n);
}

void binary_append_int32_be(const Cell* bin, int32_t value) {
    uint32_t v = uint32_t(value);
    uint8_t bytes[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
    binary_append_bytes(bin, bytes, 4);
}

// --- making -------------------------------------------------------------------------

Cell* binary_make_at(Cell* c, uint32_t n) {
    make_series(c, TYPE_BINARY, alloc_bytes(n), 0);
    return c;
}

Cell* binary_make_in(const Cell* block, uint32_t n) {
    Cell made;
    binary_make_at(&made, n);
    Cell* c = block_alloc_tail(block);
    *c = made;
    return c;
}

Cell* binary_load_at(const uint8_t* bytes, uint32_t n, Cell* c) {
    NodeId node = alloc_bytes(n);
    SeriesBuffer* b = node_buffer(node);
    if (n) std::memcpy(b->head_ptr(), bytes, n);
    b->tail = b->head + n;
    if (!c) c = stack::push_slot();
    make_series(c, TYPE_BINARY, node, 0);
    return c;
}

Cell* binary_load_in(const uint8_t* bytes, uint32_t n, const Cell* block) {
    if (!block) return binary_load_at(bytes, n, nullptr);
    Cell made;
    binary_load_at(bytes, n, &made);
    Cell* c = block_alloc_tail(block);
    *c = made;
    return c;
}

// --- bytes of values ---------------------------------------------------------------

uint8_t binary_byte_arg(const Cell* value) {
    uint8_t t = type_of(value);
    if (t != TYPE_INTEGER && t != TYPE_CHAR) fire(Err::script_invalid_arg, *value);
    return uint8_t(value->data2);
}

std::vector<uint8_t> binary_text_bytes(const Cell* text, int32_t limit) {
    TextRange r = string_text_range(text);
    uint32_t count = limit < 0 ? r.length : std::min<uint32_t>(r.length, uint32_t(limit));
    const uint8_t* p = node_buffer(r.node)->head_ptr() + size_t(r.pos) * r.unit;
    std::vector<uint8_t> out(utf8_count_bytes(p, p + size_t(count) * r.unit, r.unit));
    size_t at = 0;
    for (uint32_t i = 0; i < count; i++)
        at += size_t(utf8_encode_char(read_unit(p + size_t(i) * r.unit, r.unit), out.data() + at));
    return out;
}

namespace {

// The bytes a matcher or comparison sees of a binary or a string kind.
std::vector<uint8_t> bytes_of(const Cell* value) {
    if (is_type(value, TYPE_BINARY)) {
        const uint8_t* p = series_buffer(value)->head_ptr() + binary_index(value);
        return std::vector<uint8_t>(p, p + binary_rs_length(value));
    }
    return binary_text_bytes(value);
}

} // namespace

bool binary_match_q(const Cell* bin, const Cell* value) {
    uint32_t length = uint32_t(binary_rs_length(bin));
    const uint8_t* head = series_buffer(bin)->head_ptr() + binary_index(bin);
    uint8_t t = type_of(value);
    if (t == TYPE_CHAR) return length > 0 && uint32_t(cell_int(value)) == head[0];
    if (t != TYPE_BINARY && !any_string_type(t)) return false;
    std::vector<uint8_t> pattern = bytes_of(value);
    head = series_buffer(bin)->head_ptr() + binary_index(bin);
    return pattern.size() <= length && std::memcmp(head, pattern.data(), pattern.size()) == 0;
}

bool binary_match_bitset_q(const Cell* bin, const Cell* bitset) {
    if (binary_rs_tail_q(bin)) return false;
    return bitset_member_q(bitset, binary_byte_at(bin, binary_index(bin)));
}

Cell* binary_from_base16(const Cell* issue, Cell* out) {
    std::string_view name = symbol_name(issue->data2);
    std::vector<uint8_t> bytes;
    if (!base_decode_16(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), 1, bytes))
        fire(Err::script_invalid_data, *issue);
    return binary_load_at(bytes.data(), uint32_t(bytes.size()), out);
}

int32_t binary_compare_bytes(const Cell* value1, const Cell* value2, CompareOp op) {
    uint8_t t2 = type_of(value2);
    if (t2 != TYPE_BINARY && !any_string_type(t2)) return -2;
    if (t2 == TYPE_BINARY && series_node(value1) == series_node(value2) &&
        series_position(value1) == series_position(value2))
        return 0;
    if (op == CompareOp::same) return -1;
    std::vector<uint8_t> right = bytes_of(value2);
    uint32_t a = uint32_t(binary_rs_length(value1));
    uint32_t b = uint32_t(right.size());
    if (a == 0 && b == 0) return 0;
    bool equality =
        op == CompareOp::equal || op == CompareOp::not_equal || op == CompareOp::strict_equal || op == CompareOp::find;
    if (a != b && equality) return 1;
    const uint8_t* left = series_buffer(value1)->head_ptr() + binary_index(value1);
    int r = std::memcmp(left, right.data(), std::min(a, b));
    if (r != 0) return r < 0 ? -1 : 1;
    return a < b ? -1 : (a > b ? 1 : 0);
}

// --- to --------------------------------------------------------------------------------

Cell* binary_to(Cell* proto, Cell* spec_arg, int32_t type) {
    Cell spec = *spec_arg;
    uint8_t st = type_of(&spec);
    Cell* result = stack::push_slot();
    make_unset(result);
    if (st == TYPE_BLOCK || st == TYPE_PAREN || st == TYPE_HASH) {
        binary_make_at(result, 16);
        binary_append(result, &spec, -1, false, 1, true);
    } else if (any_string_type(st)) {
        std::vector<uint8_t> bytes = binary_text_bytes(&spec);
        binary_load_at(bytes.data(), uint32_t(bytes.size()), result);
    } else if (st == TYPE_CHAR) {
        uint8_t seq[4];
        int n = utf8_encode_char(cell_int(&spec), seq);
        binary_load_at(seq, uint32_t(n), result);
    } else if (st == TYPE_INTEGER) {
        binary_make_at(result, 4);
        binary_append_int32_be(result, cell_int(&spec));
    } else if (st == TYPE_FLOAT || st == TYPE_PERCENT) {
        uint64_t bits = std::bit_cast<uint64_t>(cell_float(&spec));
        uint8_t bytes[8];
        for (int i = 0; i < 8; i++) bytes[i] = uint8_t(bits >> (56 - 8 * i));
        binary_load_at(bytes, 8, result);
    } else if (st == TYPE_ISSUE) {
        binary_from_base16(&spec, result);
    } else if (st == TYPE_BITSET) {
        SeriesBuffer* b = series_buffer(&spec);
        binary_load_at(b->head_ptr(), b->used(), result);
    } else if (st == TYPE_TUPLE) {
        uint32_t n = std::min<uint32_t>((spec.header >> 19) & 0xF, 12);
        binary_load_at(reinterpret_cast<const uint8_t*>(&spec.data1), n, result);
    } else if (st == TYPE_BINARY) {
        binary_load_at(series_buffer(&spec)->head_ptr() + binary_index(&spec), uint32_t(binary_rs_length(&spec)),
                       result);
    } else if (st == TYPE_IMAGE) {
        image_extract_data(&spec, ImageChannels::argb, result);
    } else {
        Cell dt;
        make_datatype(&dt, TYPE_BINARY);
        fire(Err::script_bad_to_arg, dt, spec);
    }
    return result;
}

// --- form and mold -----------------------------------------------------------------

namespace {

// Content of this many bytes or more is written one line of 32 bytes after
// another, unless flat.
constexpr uint32_t MOLD_LINES_FROM = 31;
constexpr uint32_t BYTES_PER_LINE = 32;

// The one writer of form and mold. `limited`: a /part budget is in force, so
// writing stops once it is spent.
int32_t write_binary(const Cell* value, Cell* buffer, bool only, bool flat, bool limited, int32_t part,
                     int32_t indent) {
    uint32_t length = uint32_t(binary_rs_length(value));
    uint32_t index = binary_index(value);
    bool lines = !flat && length >= MOLD_LINES_FROM;
    int32_t depth = std::max(indent, 0);
    std::string out;
    // Each piece costs its own length unless stated; nothing more is written
    // once the budget is spent.
    auto emit = [&](std::string_view text, int64_t cost) {
        if (limited && part <= 0) return false;
        out += text;
        part = int32_t(std::max<int64_t>(int64_t(part) - cost, INT32_MIN));
        return true;
    };
    auto spaces = [](int32_t levels) { return std::string(size_t(levels) * 4, ' '); };
    bool going = true;
    if (!only) going = emit("#{", 2);
    // The break right after "#{" is free; its indentation is not.
    if (going && lines) going = emit("\n", 0) && emit(spaces(depth + 1), 4 * (depth + 1));
    for (uint32_t i = 0; going && i < length; i++) {
        uint8_t byte = series_buffer(value)->head_ptr()[index + i];
        char digits[2] = {HEX[byte >> 4], HEX[byte & 15]};
        going = emit(std::string_view(digits, 2), 2);
        if (going && lines && (i + 1) % BYTES_PER_LINE == 0) {
            int32_t next = i + 1 < length ? depth + 1 : depth;
            going = emit("\n", 1) && emit(spaces(next), 4 * next);
        }
    }
    if (going && lines && length % BYTES_PER_LINE != 0) going = emit("\n", 1) && emit(spaces(depth), 4 * depth);
    if (going && !only) emit("}", 1);
    string_append_ascii(buffer, out);
    return part;
}

} // namespace

int32_t binary_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return write_binary(value, buffer, false, false, arg != nullptr, part, 0);
}

int32_t binary_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return write_binary(value, buffer, refs.only, refs.flat, refs.limit != nullptr, part, indent);
}

int32_t binary_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_BINARY)) return -2;
    return binary_compare_bytes(value1, value2, op);
}

} // namespace kem
