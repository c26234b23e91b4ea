// char!: one Unicode code point (0..0x10FFFF), kept in payload word 2 where
// integer! keeps its value, so the integer actions it inherits read it directly.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

constexpr int32_t CHAR_MAX_CODE_POINT = 0x10FFFF;

inline int32_t char_get(const Cell* c) { return cell_int(c); }
inline void make_char(Cell* c, int32_t cp) { *c = Cell{TYPE_CHAR, 0, static_cast<uint32_t>(cp), 0}; }

Cell* char_push(int32_t cp);
// Appends a new char! to a block and returns its cell.
Cell* char_make_in(const Cell* block, int32_t cp);

// make and to: script bad-to-arg for what gives no code point, out-of-range
// outside 0..0x10FFFF.
Cell* char_make(Cell* proto, Cell* spec, int32_t type);
int32_t char_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t char_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
// No case folding: #"a" and #"A" differ; a char! equals the integer! of its
// code point except for strict-equal and find.
int32_t char_compare(Cell* value1, Cell* value2, CompareOp op);

// Arithmetic on the current call's two arguments, the left one a char!:
// math overflow when the result leaves 0..0x10FFFF.
Cell* char_do_math(int32_t op);

void register_char();

} // namespace kem
