#include "runtime/datatypes/string.h"
#include <cstring>
#include "runtime/value.h"

namespace kem {

void string_append_ascii(NodeId string, std::string_view text) {
    if (text.empty()) return;
    SeriesBuffer* b = node_buffer(string);
    uint32_t unit = b->unit() ? b->unit() : 1;
    uint8_t* p = alloc_tail_bytes(b, static_cast<uint32_t>(text.size()) * unit);
    switch (unit) {
    case 1: std::memcpy(p, text.data(), text.size()); break;
    case 2:
        for (size_t i = 0; i < text.size(); i++) {
            uint16_t u = static_cast<uint8_t>(text[i]);
            std::memcpy(p + 2 * i, &u, 2);
        }
        break;
    default:
        for (size_t i = 0; i < text.size(); i++) {
            uint32_t u = static_cast<uint8_t>(text[i]);
            std::memcpy(p + 4 * i, &u, 4);
        }
        break;
    }
}

Cell* string_make_at(Cell* c, uint32_t n, uint32_t unit) {
    NodeId node = alloc_string_buffer(n, unit);
    make_series(c, TYPE_STRING, node, 0);
    return c;
}

void string_truncate(NodeId string, uint32_t n) {
    SeriesBuffer* b = node_buffer(string);
    uint64_t unit = b->unit() ? b->unit() : 1;
    uint64_t cut = uint64_t(b->head) + uint64_t(n) * unit;
    if (cut <= b->size && b->tail > cut) b->tail = static_cast<uint32_t>(cut);
}

} // namespace kem
