// point2D! and point3D!: coordinates in single-precision floating point,
// written (x, y) and (x, y, z).
//
// Cell: header type 51 or 52; x, y (and z) as IEEE 754 singles in payload
// words 1, 2 (and 3). Arithmetic runs in doubles through the float core and
// each axis is stored back rounded to a single; it never raises for IEEE
// results (division by zero gives infinities or NaN). point3D! does not mix
// with pairs or point2D! values.
#pragma once
#include <cstdint>
#include <cstring>
#include "runtime/core/cell.h"
#include "runtime/core/compare_op.h"

namespace kem {

inline int point_axes(uint8_t type) { return type == TYPE_POINT3D ? 3 : 2; }
// Axis i (0 = x, 1 = y, 2 = z).
inline float point_axis(const Cell* c, int i) {
    float f;
    std::memcpy(&f, reinterpret_cast<const uint8_t*>(&c->data1) + 4 * i, sizeof f);
    return f;
}
inline void set_point_axis(Cell* c, int i, float f) {
    std::memcpy(reinterpret_cast<uint8_t*>(&c->data1) + 4 * i, &f, sizeof f);
}

Cell* point2D_make_at(Cell* c, float x, float y);
Cell* point3D_make_at(Cell* c, float x, float y, float z);

// The axis a word names, by its symbol without regard to case: 1 for x, 2 for
// y, 3 for z, 0 for any other word.
int32_t axis_word_index(const Cell* word);

// Operators 0 add .. 4 remainder on the current call's two arguments, the
// point on the left; the result replaces the left argument.
Cell* point2D_do_math(int32_t op);

int32_t point2D_compare(Cell* value1, Cell* value2, CompareOp op);

void register_point2D();
void register_point3D();

} // namespace kem
