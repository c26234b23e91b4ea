// binary!: the modifying actions (append, insert, change, trim, complement),
// the bitwise actions and the registration of the row.
//
// The bytes a value adds are gathered first and written in one move, so the
// buffer grows once, and a value that reads from the very buffer being
// changed sees it as it was before the change.
#include <algorithm>
#include <cstring>
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/unicode/text.h"
#include "runtime/services/unicode/utf.h"

namespace kem {

namespace {

constexpr uint64_t MAX_BYTES = 0x7FFFFF00;

bool block_kind(uint8_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }

void add_binary(const Cell* bin, int64_t limit, std::vector<uint8_t>& out) {
    uint32_t n = uint32_t(binary_rs_length(bin));
    if (limit >= 0) n = uint32_t(std::min<int64_t>(n, limit));
    const uint8_t* p = series_buffer(bin)->head_ptr() + binary_index(bin);
    out.insert(out.end(), p, p + n);
}

void gather(const Cell* value, bool change, std::vector<uint8_t>& out);

void gather_block(const Cell* blk, int64_t count, int64_t budget, bool change, std::vector<uint8_t>& out) {
    // A block that contains itself raises an error instead of recursing forever.
    CycleOpen open(series_node(blk));
    int64_t start = std::max(series_position(blk), 0);
    int64_t end = series_buffer(blk)->used() / 16;
    if (count >= 0) end = std::min(end, start + count);
    size_t first = out.size();
    for (int64_t i = start; i < end; i++) {
        if (budget >= 0 && int64_t(out.size() - first) >= budget) break;
        Cell element = series_buffer(blk)->cell_head()[i];
        gather(&element, change, out);
    }
    if (budget >= 0 && int64_t(out.size() - first) > budget) out.resize(first + size_t(budget));
}

// The bytes of one value; anything without bytes of its own is refused, or
// with `change` given as its formed text.
void gather(const Cell* value, bool change, std::vector<uint8_t>& out) {
    uint8_t t = type_of(value);
    if (t == TYPE_CHAR) {
        uint8_t seq[4];
        int n = utf8_encode_char(cell_int(value), seq);
        out.insert(out.end(), seq, seq + n);
    } else if (t == TYPE_INTEGER) {
        int32_t v = cell_int(value);
        if (v < -128 || v > 255) fire(Err::script_invalid_arg, *value);
        out.push_back(uint8_t(v));
    } else if (t == TYPE_BINARY) {
        add_binary(value, -1, out);
    } else if (t == TYPE_TUPLE) {
        uint32_t n = std::min<uint32_t>((value->header >> 19) & 0xF, 12);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(&value->data1);
        out.insert(out.end(), p, p + n);
    } else if (any_string_type(t)) {
        std::vector<uint8_t> text = binary_text_bytes(value);
        out.insert(out.end(), text.begin(), text.end());
    } else if (block_kind(t)) {
        gather_block(value, -1, -1, change, out);
    } else if (change) {
        Cell* formed = string_make_at(stack::push_slot(), 16);
        Cell v = *value;
        form_direct(&v, formed, nullptr, INT32_MAX);
        std::vector<uint8_t> text = binary_text_bytes(formed);
        stack::pop(1);
        out.insert(out.end(), text.begin(), text.end());
    } else {
        Cell dt;
        make_datatype(&dt, TYPE_BINARY);
        fire(Err::script_bad_to_arg, dt, *value);
    }
}

// What append, insert or change adds for a value under /part (negative: no
// limit): bytes of a binary, characters of text (so a UTF-8 sequence is never
// cut), values of a block, or with /only bytes of a block.
std::vector<uint8_t> value_bytes(const Cell* value, int32_t part, bool only, bool change) {
    std::vector<uint8_t> out;
    uint8_t t = type_of(value);
    if (part >= 0 && t == TYPE_BINARY) add_binary(value, part, out);
    else if (part >= 0 && any_string_type(t)) out = binary_text_bytes(value, part);
    else if (part >= 0 && block_kind(t)) gather_block(value, only ? -1 : part, only ? part : -1, change, out);
    else gather(value, change, out);
    return out;
}

// Total of n bytes repeated dup times, refused past the largest buffer.
uint64_t repeated_size(size_t n, int32_t dup, uint64_t kept) {
    uint64_t size = uint64_t(n) * uint64_t(std::max(dup, 1));
    if (size > MAX_BYTES || kept + size > MAX_BYTES) fire(Err::internal_no_memory);
    return size;
}

void fill_repeated(uint8_t* at, const std::vector<uint8_t>& bytes, uint64_t size) {
    if (bytes.empty()) return;
    for (uint64_t done = 0; done < size; done += bytes.size()) std::memcpy(at + done, bytes.data(), bytes.size());
}

// or~, and~, xor~ of two bytes.
uint8_t bitwise(int32_t op, uint8_t a, uint8_t b) {
    switch (op) {
    case 5: return a | b;
    case 6: return a & b;
    default: return a ^ b;
    }
}

} // namespace

// --- append, insert, change ------------------------------------------------------

Cell* binary_append(Cell* series, Cell* value_arg, int32_t part, bool only, int32_t dup, bool append) {
    Cell value = *value_arg;
    if (dup < 1) return series;
    std::vector<uint8_t> bytes = value_bytes(&value, part, only, false);
    NodeId node = series_node(series);
    uint32_t total = node_buffer(node)->used();
    uint32_t pos = append ? total : binary_index(series);
    uint64_t size = repeated_size(bytes.size(), dup, total);
    bool told = append ? series_notify_owner(series, ChangeWord::append, &value, int32_t(total), -1)
                       : series_notify_owner(series, ChangeWord::insert, &value, int32_t(pos), -1);
    if (told) {
        // The handler may have changed the binary's length.
        total = node_buffer(node)->used();
        pos = append ? total : std::min(pos, total);
        size = repeated_size(bytes.size(), dup, total);
    }
    SeriesBuffer* b = binary_reserve(node, size);
    uint8_t* at = b->head_ptr() + pos;
    std::memmove(at + size, at, b->used() - pos);
    fill_repeated(at, bytes, size);
    b->tail += uint32_t(size);
    if (told) {
        if (append) series_notify_owner(series, ChangeWord::appended, &value, int32_t(total), int32_t(size));
        else series_notify_owner(series, ChangeWord::inserted, &value, int32_t(pos), int32_t(size));
    }
    set_series_position(series, append ? 0 : pos + size);
    return series;
}

Cell* binary_change(Cell* series, Cell* value_arg, int32_t part, bool only, int32_t dup) {
    Cell value = *value_arg;
    uint32_t pos = binary_index(series);
    set_series_position(series, pos);
    if (dup < 1) return series;
    std::vector<uint8_t> bytes = value_bytes(&value, -1, only, true);
    NodeId node = series_node(series);
    uint32_t total = node_buffer(node)->used();
    uint32_t room = total - pos;
    uint64_t size = repeated_size(bytes.size(), dup, total);
    uint32_t removed = part >= 0 ? std::min<uint32_t>(uint32_t(part), room) : uint32_t(std::min<uint64_t>(size, room));
    if (uint64_t(total) - removed + size > MAX_BYTES) fire(Err::internal_no_memory);
    bool told = series_notify_owner(series, ChangeWord::change, &value, int32_t(pos), part);
    if (told) {
        // The handler may have changed the binary's length.
        total = node_buffer(node)->used();
        pos = std::min(pos, total);
        set_series_position(series, pos);
        room = total - pos;
        size = repeated_size(bytes.size(), dup, total);
        removed = part >= 0 ? std::min<uint32_t>(uint32_t(part), room) : uint32_t(std::min<uint64_t>(size, room));
        if (uint64_t(total) - removed + size > MAX_BYTES) fire(Err::internal_no_memory);
    }
    SeriesBuffer* b = size > removed ? binary_reserve(node, size - removed) : node_buffer(node);
    uint8_t* at = b->head_ptr() + pos;
    // The bytes after the change move only when the lengths differ.
    if (size != removed) std::memmove(at + size, at + removed, total - pos - removed);
    fill_repeated(at, bytes, size);
    b->tail = b->head + uint32_t(uint64_t(total) - removed + size);
    if (told) series_notify_owner(series, ChangeWord::changed, &value, int32_t(pos), int32_t(size));
    set_series_position(series, pos + size);
    return series;
}

// --- trim -----------------------------------------------------------------------------

void binary_trim_zeros(Cell* bin, bool head, bool tail) {
    SeriesBuffer* b = series_buffer(bin);
    uint32_t pos = binary_index(bin);
    uint8_t* first = b->head_ptr() + pos;
    uint8_t* end = b->tail_ptr();
    uint8_t* from = first;
    if (head)
        while (from < end && *from == 0) from++;
    if (tail)
        while (end > from && end[-1] == 0) end--;
    size_t kept = size_t(end - from);
    std::memmove(first, from, kept);
    b->tail = b->head + pos + uint32_t(kept);
}

Cell* binary_trim(Cell* series, const TrimArgs& refs) {
    if (refs.auto_ || refs.lines) fire(Err::internal_not_done);
    // The byte values to remove everywhere, for /with and /all.
    bool drop[256] = {};
    bool everywhere = refs.with || refs.all;
    if (refs.with) {
        uint8_t wt = type_of(refs.with);
        if (wt == TYPE_CHAR || wt == TYPE_INTEGER) {
            uint32_t v = refs.with->data2;
            if (v < 256) drop[v] = true;
        } else if (wt == TYPE_BINARY) {
            for (uint8_t byte : value_bytes(refs.with, -1, false, false)) drop[byte] = true;
        } else if (any_string_type(wt)) {
            TextRange r = string_text_range(refs.with);
            const uint8_t* p = node_buffer(r.node)->head_ptr() + size_t(r.pos) * r.unit;
            for (uint32_t i = 0; i < r.length; i++) {
                int32_t cp = read_unit(p + size_t(i) * r.unit, r.unit);
                if (cp >= 0 && cp < 256) drop[cp] = true;
            }
        } else {
            fire(Err::script_invalid_arg, *refs.with);
        }
    } else if (refs.all) {
        drop[0] = true;
    }
    uint32_t pos = binary_index(series);
    if (everywhere) {
        SeriesBuffer* b = series_buffer(series);
        uint8_t* out = b->head_ptr() + pos;
        for (uint8_t* in = out; in < b->tail_ptr(); in++)
            if (!drop[*in]) *out++ = *in;
        b->tail = uint32_t(out - b->data());
    } else {
        binary_trim_zeros(series, refs.head || !refs.tail, refs.tail || !refs.head);
    }
    series_notify_owner(series, ChangeWord::trimmed, nullptr, int32_t(pos), -1);
    return series;
}

// --- bitwise and complement ----------------------------------------------------------

Cell* binary_do_bitwise(int32_t op) {
    Cell a = stack::arguments[0];
    Cell b = stack::arguments[1];
    if (!is_type(&b, TYPE_BINARY)) fire(Err::script_invalid_arg, b);
    uint32_t la = uint32_t(binary_rs_length(&a)), lb = uint32_t(binary_rs_length(&b));
    uint32_t ia = binary_index(&a), ib = binary_index(&b);
    uint32_t common = std::min(la, lb), longest = std::max(la, lb);
    Cell result;
    binary_make_at(&result, longest);
    const uint8_t* pa = series_buffer(&a)->head_ptr() + ia;
    const uint8_t* pb = series_buffer(&b)->head_ptr() + ib;
    SeriesBuffer* r = series_buffer(&result);
    uint8_t* out = r->head_ptr();
    for (uint32_t i = 0; i < common; i++) out[i] = bitwise(op, pa[i], pb[i]);
    // Past the shorter operand: and~ gives zeros, or~ and xor~ the longer's bytes.
    const uint8_t* rest = la > lb ? pa : pb;
    for (uint32_t i = common; i < longest; i++) out[i] = op == 6 ? 0 : rest[i];
    r->tail = r->head + longest;
    stack::arguments[0] = result;
    return stack::arguments;
}

Cell* binary_and() { return binary_do_bitwise(6); }
Cell* binary_or() { return binary_do_bitwise(5); }
Cell* binary_xor() { return binary_do_bitwise(7); }

Cell* binary_complement(Cell* value) {
    SeriesBuffer* b = series_buffer(value);
    for (uint8_t* p = b->head_ptr() + binary_index(value); p < b->tail_ptr(); p++) *p = uint8_t(~*p);
    return value;
}

// --- registration ----------------------------------------------------------------------

void register_binary() {
    ActionRow row = ActionRow::none_all();
    for (int slot : {ACT_MAKE, ACT_RANDOM, ACT_REFLECT, ACT_EVAL_PATH, ACT_AT, ACT_BACK, ACT_CLEAR, ACT_COPY,
                     ACT_FIND, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_LENGTH_Q, ACT_MOVE, ACT_NEXT, ACT_PICK,
                     ACT_POKE, ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SORT, ACT_SKIP, ACT_SWAP, ACT_TAIL,
                     ACT_TAIL_Q, ACT_TAKE, ACT_MODIFY})
        row.inherit(slot);
    row.set<ACT_TO>(binary_to)
        .set<ACT_FORM>(binary_form)
        .set<ACT_MOLD>(binary_mold)
        .set<ACT_COMPARE>(binary_compare)
        .set<ACT_AND_T>(binary_and)
        .set<ACT_COMPLEMENT>(binary_complement)
        .set<ACT_OR_T>(binary_or)
        .set<ACT_XOR_T>(binary_xor)
        .set<ACT_APPEND>(binary_append)
        .set<ACT_CHANGE>(binary_change)
        .set<ACT_INSERT>(binary_append)
        .set<ACT_TRIM>(binary_trim);
    register_datatype(TYPE_BINARY, TYPE_STRING, "binary!", row);
    collector::set_mark_kind(TYPE_BINARY, collector::MK_BYTES2);
    hash_compare_slots[TYPE_BINARY] = binary_compare;
}

} // namespace kem
