#include "runtime/core/array.h"
#include <cstring>
#include "runtime/core/value.h"

namespace kem {

namespace {

constexpr uint32_t ITEM = 4;  // bytes of a 32-bit item

// Items are read and written through memcpy: a head offset need not keep them aligned.
int32_t load_item(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, ITEM);
    return v;
}

void store_item(uint8_t* p, int32_t v) { std::memcpy(p, &v, ITEM); }

uint8_t* item_address(NodeId array, uint32_t n) { return node_buffer(array)->head_ptr() + size_t(n - 1) * ITEM; }

} // namespace

NodeId array_make(uint32_t n, uint32_t unit) { return alloc_series(n, unit, 0); }

uint32_t array_length(NodeId array) {
    SeriesBuffer* b = node_buffer(array);
    uint32_t unit = b->unit() ? b->unit() : 1;
    return b->used() / unit;
}

void array_clear(NodeId array) {
    SeriesBuffer* b = node_buffer(array);
    b->tail = b->head;
}

void array_set_tail(NodeId array, uint32_t n) {
    SeriesBuffer* b = node_buffer(array);
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint32_t keep = n > 1 ? n - 1 : 0;
    // Only shortens: a tail past the used part would expose bytes never written.
    if (keep < b->used() / unit) b->tail = b->head + keep * unit;
}

NodeId array_copy(NodeId array) { return copy_series_buffer(node_buffer(array)); }

uint32_t array_flags(NodeId array) { return node_buffer(array)->flags; }

uint8_t* array_head(NodeId array) { return node_buffer(array)->head_ptr(); }

void array_append_byte(NodeId array, uint8_t byte) { *alloc_tail_bytes(node_buffer(array), 1) = byte; }

void array_append_bytes(NodeId array, const void* source, uint32_t n) {
    if (n == 0) return;
    SeriesBuffer* b = node_buffer(array);
    auto* src = static_cast<const uint8_t*>(source);
    // Items of this array are re-read where the expansion copied them.
    bool inside = src >= b->head_ptr() && src < b->tail_ptr();
    uint32_t from_head = inside ? static_cast<uint32_t>(src - b->head_ptr()) : 0;
    uint8_t* dst = alloc_tail_bytes(b, n);
    if (inside) src = node_buffer(array)->head_ptr() + from_head;
    std::memmove(dst, src, n);
}

int32_t* array_append_int(NodeId array, int32_t value) {
    uint8_t* p = alloc_tail_bytes(node_buffer(array), ITEM);
    store_item(p, value);
    return reinterpret_cast<int32_t*>(p);
}

int32_t array_push_int(NodeId array, int32_t value) {
    array_append_int(array, value);
    return value;
}

int32_t array_pick_int(NodeId array, uint32_t n) { return load_item(item_address(array, n)); }
int32_t array_int_at(NodeId array, uint32_t n) { return array_pick_int(array, n); }

void array_poke_int(NodeId array, uint32_t n, int32_t value) { store_item(item_address(array, n), value); }

int32_t array_find_int(NodeId array, int32_t value) {
    SeriesBuffer* b = node_buffer(array);
    const uint8_t* head = b->head_ptr();
    uint32_t used = b->used();
    for (uint32_t off = 0; off + ITEM <= used; off += ITEM)
        if (load_item(head + off) == value) return static_cast<int32_t>(off);
    return -1;
}

int32_t array_find_ptr(NodeId array, uint32_t value) { return array_find_int(array, static_cast<int32_t>(value)); }

void array_remove_bytes(NodeId array, uint32_t offset, uint32_t n) {
    SeriesBuffer* b = node_buffer(array);
    uint32_t used = b->used();
    // Offsets come from find; clamping keeps a stale one from moving bytes past the tail.
    if (offset >= used) return;
    if (n > used - offset) n = used - offset;
    uint8_t* at = b->head_ptr() + offset;
    std::memmove(at, at + n, used - offset - n);
    b->tail -= n;
}

int32_t array_remove_ptr(NodeId array, uint32_t value) {
    int32_t off = array_find_ptr(array, value);
    if (off >= 0) array_remove_bytes(array, static_cast<uint32_t>(off), ITEM);
    return off;
}

} // namespace kem
