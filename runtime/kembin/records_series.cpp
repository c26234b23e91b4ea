// KEMBIN records of series values: the block kinds and hash!, the string
// kinds and binary!, vector!, bitset!, map! and image!. A series written before is a reference to it, and
// reads back sharing its buffer.
#include <algorithm>
#include <cstring>
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/vector.h"
#include "runtime/kembin/decoder.h"
#include "runtime/kembin/encoder.h"
#include "runtime/kembin/records.h"
#include "runtime/services/hashtable.h"

namespace kem::kembin {

namespace {

inline int32_t head_of(const Cell& v) { return std::max(series_position(&v), 0); }

// A series record's head and, for a reference, its path.
void write_head(Encoder& e, uint8_t type, const Cell& v, uint32_t fixed_bits) {
    const int32_t head = head_of(v);
    e.header(type, head != 0, fixed_bits);
    e.head(head, head != 0);
}

Cell appended(const Cell& target, const Cell& v) {
    *block_alloc_tail(&target) = v;
    return v;
}

} // namespace

int32_t read_head(Decoder& d, const RecordHead& h) {
    if (d.compact() && !h.x) return 0;
    return int32_t(d.count());
}

NodeId shared_series(Decoder& d, SeriesNeed need) {
    const uint8_t* at = d.at();
    const Cell found = d.follow_path();
    const uint8_t type = type_of(&found);
    // A map's storage and a hash!'s block keep an index, a vector!'s items are
    // read by its item type, an image's record names its pixels: only their
    // own kind may share them.
    const bool carrier = (any_series_type(type) && type != TYPE_HASH && type != TYPE_VECTOR && type != TYPE_IMAGE) ||
                         type == TYPE_BITSET ||
                         (any_callable_type(type) && type != TYPE_ROUTINE);
    if (!carrier || !found.data2) d.invalid(at);
    const uint32_t unit = node_buffer(found.data2)->unit();
    const bool fits = need == SeriesNeed::cells ? unit == 16
                      : need == SeriesNeed::bytes ? unit == 1
                                                  : (unit == 1 || unit == 2 || unit == 4);
    if (!fits) d.invalid(at);
    return found.data2;
}

// --- blocks ------------------------------------------------------------------------------

void write_block(Encoder& e, const Cell& v) {
    write_head(e, type_of(&v), v, 0);
    if (e.shared()) return e.path();
    const NodeId node = series_node(&v);
    const uint32_t n = cell_count(node);
    e.uint(n);
    for (uint32_t i = 0; i < n; i++) e.value(*cell_at(node, i));
}

void read_block(Decoder& d, const RecordHead& h, const Cell& target) {
    const int32_t head = read_head(d, h);
    const bool hash = h.type == TYPE_HASH;
    if (h.shared) {
        if (!hash) {
            appended(target, Cell{h.type, uint32_t(head), shared_series(d, SeriesNeed::cells), 0});
            return;
        }
        // A hash!'s block is shared only with its index, so only by a hash!.
        const uint8_t* at = d.at();
        const Cell found = d.follow_path();
        if (!is_type(&found, TYPE_HASH)) d.invalid(at);
        appended(target, Cell{TYPE_HASH, uint32_t(head), found.data2, found.data3});
        return;
    }
    const uint32_t n = d.count_of(d.compact() ? 1 : 4);
    Cell block;
    block_make_at(&block, int32_t(n));
    // The index exists (empty) before the values, for references to this hash! inside them.
    if (hash) block.data3 = hash_make(std::max(n, 1u), &block, HASH_VALUES, 0);
    block.header = h.type;
    block.data1 = uint32_t(head);
    appended(target, block);
    // The block is in place before its values, so paths inside reach it.
    for (uint32_t i = 0; i < n; i++) d.record(block);
    if (hash) hash_rehash_from(block.data3, 0, 1);
}

// --- string kinds and binary! ------------------------------------------------------------

void write_string(Encoder& e, const Cell& v) {
    const uint8_t type = type_of(&v);
    const SeriesBuffer* b = series_buffer(&v);
    const uint32_t unit = unit_bytes(b);
    const bool binary = type == TYPE_BINARY;
    write_head(e, type, v, unit << FIXED_UNIT_SHIFT);
    if (e.shared()) return e.path();
    const uint32_t length = b->used() / unit;
    if (binary) e.uint(length);
    else if (e.compact()) e.uint((length << 2) + unit_shift(b));
    else e.uint(length);
    e.bytes(series_buffer(&v)->head_ptr(), size_t(length) * unit);
}

void read_string(Decoder& d, const RecordHead& h, const Cell& target) {
    const int32_t head = read_head(d, h);
    const bool binary = h.type == TYPE_BINARY;
    if (h.shared) {
        const NodeId node = shared_series(d, binary ? SeriesNeed::bytes : SeriesNeed::text);
        appended(target, Cell{h.type, uint32_t(head), node, 0});
        return;
    }
    const uint8_t* at = d.at();
    uint32_t unit = 1, length;
    if (binary) {
        length = d.count();
    } else if (d.compact()) {
        const uint32_t v = d.count();
        if ((v & 3) == 3) d.invalid(at);
        unit = 1u << (v & 3);
        length = v >> 2;
    } else {
        unit = (h.word >> FIXED_UNIT_SHIFT) & 0xFF;
        if (unit != 1 && unit != 2 && unit != 4) d.invalid(h.at);
        length = d.count();
    }
    const uint64_t size = uint64_t(length) * unit;
    const uint8_t* src = d.bytes(size);
    if (unit == 4) {
        for (uint64_t i = 0; i < size; i += 4)
            if (get_u32(src + i) > 0x10FFFF) d.invalid(at);
    }
    const NodeId node = alloc_string_buffer(length, unit);
    SeriesBuffer* b = node_buffer(node);
    if (size) std::memcpy(b->head_ptr(), src, size_t(size));
    b->tail = b->head + uint32_t(size);
    appended(target, Cell{h.type, uint32_t(head), node, 0});
}

// --- vector! -------------------------------------------------------------------------------

void write_vector(Encoder& e, const Cell& v) {
    const SeriesBuffer* b = series_buffer(&v);
    const uint32_t unit = unit_bytes(b);
    write_head(e, TYPE_VECTOR, v, unit << FIXED_UNIT_SHIFT);
    if (e.shared()) return e.path();
    const uint32_t count = b->used() / unit;
    if (e.compact()) {
        e.byte(uint8_t((vector_item_type(&v) << 2) + unit_shift(b)));
        e.uint(count);
    } else {
        e.uint(count);
        e.uint(vector_item_type(&v));
    }
    e.bytes(series_buffer(&v)->head_ptr(), size_t(count) * unit);
}

void read_vector(Decoder& d, const RecordHead& h, const Cell& target) {
    const int32_t head = read_head(d, h);
    if (h.shared) {
        // Items are read by their vector's item type: only a vector shares them.
        const uint8_t* at = d.at();
        const Cell found = d.follow_path();
        if (!is_type(&found, TYPE_VECTOR)) d.invalid(at);
        appended(target, Cell{TYPE_VECTOR, uint32_t(head), found.data2, found.data3});
        return;
    }
    const uint8_t* at = d.at();
    uint32_t type, unit, count;
    if (d.compact()) {
        const uint8_t kind = d.byte();
        type = kind >> 2;
        unit = 1u << (kind & 3);
        count = d.count();
    } else {
        unit = (h.word >> FIXED_UNIT_SHIFT) & 0xFF;
        count = d.count();
        type = d.count();
    }
    const bool sized = vector_float_type(type) ? (unit == 8 || (unit == 4 && type == TYPE_FLOAT))
                                               : (type == TYPE_CHAR || type == TYPE_INTEGER) && (unit == 1 || unit == 2 || unit == 4);
    if (!sized) d.invalid(at);
    const uint64_t size = uint64_t(count) * unit;
    const uint8_t* src = d.bytes(size);
    Cell v;
    vector_make_buffer(&v, int64_t(count), type, unit);
    SeriesBuffer* b = series_buffer(&v);
    if (size) std::memcpy(b->head_ptr(), src, size_t(size));
    b->tail = b->head + uint32_t(size);
    v.data1 = uint32_t(head);
    appended(target, v);
}

// --- bitset! ---------------------------------------------------------------------------

void write_bitset(Encoder& e, const Cell& v) {
    const bool complemented = (series_buffer(&v)->flags & SERIES_COMPLEMENT) != 0;
    e.header(TYPE_BITSET, complemented, complemented ? FIXED_COMPLEMENT : 0);
    if (e.shared()) return e.path();
    const SeriesBuffer* b = series_buffer(&v);
    e.uint(b->used());
    e.bytes(series_buffer(&v)->head_ptr(), b->used());
}

void read_bitset(Decoder& d, const RecordHead& h, const Cell& target) {
    if (h.shared) {
        appended(target, Cell{TYPE_BITSET, 0, shared_series(d, SeriesNeed::bytes), 0});
        return;
    }
    const uint32_t n = d.count();
    const uint8_t* src = d.bytes(n);
    const NodeId node = alloc_bytes(n);
    SeriesBuffer* b = node_buffer(node);
    if (n) std::memcpy(b->head_ptr(), src, n);
    b->tail = b->head + n;
    if (d.compact() ? h.x : (h.word & FIXED_COMPLEMENT) != 0) b->flags |= SERIES_COMPLEMENT;
    appended(target, Cell{TYPE_BITSET, 0, node, 0});
}

// --- map! ----------------------------------------------------------------------------------

void write_map(Encoder& e, const Cell& v) {
    e.header(TYPE_MAP, false, 0);
    if (e.shared()) return e.path();
    const NodeId node = map_storage(&v);
    const uint32_t n = cell_count(node) & ~1u;
    uint32_t live = 0;
    for (uint32_t i = 0; i < n; i += 2) live += cell_at(node, i + 1)->header != 0;
    e.uint(live * 2);
    for (uint32_t i = 0; i < n; i += 2) {
        // A removed pair keeps its place with a value header of 0.
        if (cell_at(node, i + 1)->header == 0) continue;
        e.value(*cell_at(node, i));
        e.value(*cell_at(node, i + 1));
    }
}

void read_map(Decoder& d, const RecordHead& h, const Cell& target) {
    if (h.shared) {
        const uint8_t* at = d.at();
        const Cell found = d.follow_path();
        if (!is_type(&found, TYPE_MAP)) d.invalid(at);
        appended(target, Cell{TYPE_MAP, 0, found.data2, found.data3});
        return;
    }
    const uint8_t* at = d.at();
    const uint32_t n = d.count_of(d.compact() ? 1 : 4);
    if (n & 1) d.invalid(at);
    Cell map;
    map_make_at(&map, nullptr, int32_t(n / 2));
    appended(target, map);
    const NodeId storage = map_storage(&map);
    const Cell block{TYPE_BLOCK, 0, storage, 0};
    std::vector<const uint8_t*> key_at(n / 2);
    for (uint32_t i = 0; i < n; i++) {
        if ((i & 1) == 0) key_at[i / 2] = d.at();
        d.record(block);
    }
    for (uint32_t i = 0; i < n; i++) {
        Cell c = *cell_at(storage, i);
        clear_new_line(&c);
        if ((i & 1) == 0) {
            if (!map_valid_key_type(type_of(&c))) d.invalid(key_at[i / 2]);
            map_normalize_key(&c, &c, nullptr);
        }
        *cell_at(storage, i) = c;
    }
    hash_rehash_from(map_table(&map), 0, 2);
}

// --- image! ------------------------------------------------------------------------------

// The size (compact: width and height; fixed: the size word), then every
// pixel's four bytes as stored.
void write_image(Encoder& e, const Cell& v) {
    write_head(e, TYPE_IMAGE, v, 0);
    if (e.shared()) return e.path();
    if (e.compact()) {
        e.uint(image_width(&v));
        e.uint(image_height(&v));
    } else {
        e.u32(v.data3);
    }
    const platform::Bitmap* bm = image_bitmap(&v);
    if (bm) e.bytes(reinterpret_cast<const uint8_t*>(bm->data()), size_t(bm->count()) * 4);
}

void read_image(Decoder& d, const RecordHead& h, const Cell& target) {
    const int32_t head = read_head(d, h);
    const uint8_t* at = d.at();
    if (h.shared) {
        const Cell found = d.follow_path();
        if (!is_type(&found, TYPE_IMAGE)) d.invalid(at);
        appended(target, Cell{TYPE_IMAGE, uint32_t(head), found.data2, found.data3});
        return;
    }
    uint32_t width, height;
    if (d.compact()) {
        width = d.count();
        height = d.count();
        if (width > platform::IMAGE_MAX_SIDE || height > platform::IMAGE_MAX_SIDE) d.invalid(at);
    } else {
        const uint32_t size = d.u32();
        width = size & 0xFFFF;
        height = size >> 16;
    }
    // The pixels are there before anything is allocated for them.
    const uint8_t* pixels = d.bytes(uint64_t(width) * height * 4);
    Cell image;
    image_make_sized(&image, width, height);
    if (platform::Bitmap* bm = image_bitmap(&image))
        std::memcpy(bm->data(), pixels, size_t(bm->count()) * 4);
    image.data1 = uint32_t(head);
    appended(target, image);
}

} // namespace kem::kembin
