// pair!: a two-dimensional integer coordinate or size (10x20).
//
// Cell: header type 37; x and y are signed 32-bit integers in payload words 2
// and 3. Arithmetic stays in 32-bit integers and turns the pair into a
// point2D! when a result cannot stay integral (an overflow, an inexact
// division, a float factor or divisor).
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/compare_op.h"

namespace kem {

inline int32_t pair_x(const Cell* c) { return static_cast<int32_t>(c->data2); }
inline int32_t pair_y(const Cell* c) { return static_cast<int32_t>(c->data3); }

Cell* pair_set_in(Cell* c, int32_t x, int32_t y);
Cell* pair_push(int32_t x, int32_t y);

// An integer! as is, a float! or percent! truncated toward zero. A float that
// does not fit in 32 bits raises math overflow; an infinity or NaN script
// invalid-arg, so no double is ever narrowed without a defined result.
int32_t pair_get_int(const Cell* c);
// Turns the pair in c into a point2D! with single-precision coordinates.
Cell* pair_to_point2D(Cell* c);
// The axis a word names: 1 for x, 2 for y, 0 for any other word.
int32_t pair_field_index(const Cell* word);

// Operators 0 add .. 7 xor on the current call's two arguments, the pair on the
// left; the result replaces the left argument (a pair! or a point2D!).
Cell* pair_do_math(int32_t op);

Cell* pair_make(Cell* proto, Cell* spec, int32_t type);
int32_t pair_compare(Cell* value1, Cell* value2, CompareOp op);

// The one value the lexer loads from the text of a string kind: none! when the
// text holds more than one, unset! when it holds none. Internal not-done while
// no lexer is plugged in. (make and to of pair!, the points and tuple!.)
Cell load_text_value(const Cell* text);

// After a path wrote into a scalar (pair, point, tuple) that lives in a
// container: `owner` is the container one level up, `field` the path element
// that selected the scalar in it, `scalar` the changed cell itself. An object!
// with change handlers hears (field, old, new) through its on-change hook;
// with series_owners set, an owned block series hears a poke as well.
void scalar_path_changed(const Cell* owner, const Cell* field, const Cell& old_value, const Cell* scalar,
                         bool series_owners);

void register_pair();

} // namespace kem
