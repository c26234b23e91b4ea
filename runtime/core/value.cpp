#include "runtime/core/value.h"
#include <cmath>
#include <cstring>
#include "runtime/core/errors.h"

namespace kem {

namespace {
Cell* boot_base = nullptr;
uint32_t boot_count = 0;
} // namespace

Cell* alloc_tail(SeriesBuffer* b) {
    if (b->tail + 16 > b->size) b = expand_series(b, b->size ? int64_t(b->size) * 2 : 16);
    Cell* c = b->cell_tail();
    c->header = TYPE_UNSET;
    b->tail += 16;
    return c;
}

Cell* block_alloc_tail(const Cell* series) { return alloc_tail(node_buffer(series_node(series))); }

uint8_t* alloc_tail_bytes(SeriesBuffer* b, uint32_t n) {
    if (uint64_t(b->tail) + n > b->size) {
        uint64_t want = n > b->size ? uint64_t(n) * 2 : uint64_t(b->size) * 2;
        // The expansion counts whole units: round up so the n bytes always fit.
        uint32_t unit = b->unit() ? b->unit() : 1;
        want = (want + unit - 1) / unit * unit;
        b = expand_series(b, int64_t(want));
    }
    uint8_t* p = b->tail_ptr();
    b->tail += n;
    return p;
}

NodeId copy_series_slice(NodeId node, uint32_t offset, uint32_t count) {
    SeriesBuffer* src = node_buffer(node);
    uint32_t unit = src->unit() ? src->unit() : 1;
    uint32_t bytes = count * unit;
    NodeId n = alloc_series(bytes, 1, 0);
    src = node_buffer(node);
    SeriesBuffer* dst = node_buffer(n);
    uint32_t placement = dst->flags & SERIES_BIG;
    dst->flags = (src->flags & ~(SERIES_OWNED | SERIES_BIG | SERIES_HEAP | SERIES_MARK)) | placement | SERIES_IN_USE;
    std::memcpy(dst->data(), src->head_ptr() + size_t(offset) * unit, bytes);
    dst->head = 0;
    dst->tail = bytes;
    return n;
}

void set_boot_values(Cell* base, uint32_t count) {
    boot_base = base;
    boot_count = count;
}

Cell* boot_value(uint32_t n) { return boot_base + n; }
uint32_t boot_value_count() { return boot_count; }
uint32_t boot_value_data(uint32_t n) { return boot_base[n].data1; }

const char* build_date() { return "9-Nov-2026/23:15:27"; }

int32_t to_int_checked(const Cell* c) {
    if (type_of(c) != TYPE_FLOAT) return cell_int(c);
    double d = cell_float(c);
    if (std::isnan(d) || d > 2147483647.0 || d < -2147483648.0) fire(Err::script_out_of_range, *c);
    return static_cast<int32_t>(d);
}

int32_t mold_indent(NodeId string, uint32_t n, int32_t remaining) {
    SeriesBuffer* b = node_buffer(string);
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint32_t count = 4 * n;
    uint8_t* p = alloc_tail_bytes(b, count * unit);
    for (uint32_t i = 0; i < count; i++) {
        switch (unit) {
        case 1: p[i] = ' '; break;
        case 2: { uint16_t s = ' '; std::memcpy(p + 2 * i, &s, 2); break; }
        default: { uint32_t s = ' '; std::memcpy(p + 4 * i, &s, 4); break; }
        }
    }
    return remaining - int32_t(count);
}

void* fill_repeat(void* buf, size_t record_size, size_t count) {
    auto* base = static_cast<uint8_t*>(buf);
    size_t total = record_size * count;
    if (total == 0) return base;  // nothing to fill, and an empty record would never double
    size_t filled = record_size;
    while (filled * 2 <= total) {
        std::memcpy(base + filled, base, filled);
        filled *= 2;
    }
    std::memcpy(base + filled, base, total - filled);
    return base + total;
}

} // namespace kem
