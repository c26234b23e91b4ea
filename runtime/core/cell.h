// Value cells: every Kem value is one 16-byte cell.
#pragma once
#include <cstdint>
#include <cstring>

namespace kem {

enum TypeId : uint8_t {
#define KEM_TYPE(id, cname, name) TYPE_##cname = id,
#include "runtime/core/types.def"
#undef KEM_TYPE
};
constexpr int TYPE_COUNT = 54;

// Type families, asked by every layer: a new datatype of a family joins here.
// Series of cells: block!, paren!, hash! and the path types.
constexpr bool any_block_type(uint8_t t) {
    return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH || (t >= TYPE_PATH && t <= TYPE_GET_PATH);
}
// The string kinds that share the string cell layout.
constexpr bool any_string_type(uint8_t t) {
    return t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL || t == TYPE_TAG || t == TYPE_EMAIL || t == TYPE_REF;
}
// Every value that owns a series buffer and a position.
constexpr bool any_series_type(uint8_t t) {
    return any_block_type(t) || any_string_type(t) || t == TYPE_BINARY || t == TYPE_VECTOR || t == TYPE_IMAGE;
}

// Header word: bits 0-7 the type id; the other bits belong to the datatypes.
constexpr uint32_t HEADER_TYPE_MASK = 0xFF;
constexpr uint32_t HEADER_NEW_LINE = 0x40000000;

struct Cell {
    uint32_t header;
    uint32_t data1;
    uint32_t data2;
    uint32_t data3;
};
static_assert(sizeof(Cell) == 16, "a cell is four 32-bit words");

inline uint8_t type_of(const Cell* c) { return static_cast<uint8_t>(c->header & HEADER_TYPE_MASK); }
inline bool is_type(const Cell* c, uint8_t t) { return type_of(c) == t; }

// Replaces only the type byte: the new-line marker and datatype flags stay.
inline void set_type(Cell* c, uint32_t type) { c->header = (c->header & ~HEADER_TYPE_MASK) | (type & HEADER_TYPE_MASK); }
inline void clear_new_line(Cell* c) { c->header &= ~HEADER_NEW_LINE; }

inline Cell* copy_cell(const Cell* src, Cell* dst) {
    if (src != dst) *dst = *src;
    return dst;
}

// Payload conventions shared by many datatypes.
inline int32_t cell_int(const Cell* c) { return static_cast<int32_t>(c->data2); }
inline double cell_float(const Cell* c) {
    double d;
    std::memcpy(&d, &c->data2, sizeof d);
    return d;
}
inline void set_cell_float(Cell* c, double d) { std::memcpy(&c->data2, &d, sizeof d); }

inline void make_unset(Cell* c) { *c = Cell{TYPE_UNSET, 0, 0, 0}; }
inline void make_none(Cell* c) { *c = Cell{TYPE_NONE, 0, 0, 0}; }
inline void make_logic(Cell* c, bool b) { *c = Cell{TYPE_LOGIC, b ? 1u : 0u, 0, 0}; }
inline void make_integer(Cell* c, int32_t v) { *c = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0}; }
inline void make_float(Cell* c, double d) {
    *c = Cell{TYPE_FLOAT, 0, 0, 0};
    set_cell_float(c, d);
}
// A series value: head index (in units) in word 1, node in word 2.
inline void make_series(Cell* c, uint8_t type, uint32_t node, uint32_t head = 0) { *c = Cell{type, head, node, 0}; }
inline uint32_t series_node(const Cell* c) { return c->data2; }
inline uint32_t series_index(const Cell* c) { return c->data1; }

} // namespace kem
