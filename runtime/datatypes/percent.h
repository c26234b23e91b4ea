// percent!: a float! whose double holds the fraction (50% is 0.5); only its
// text forms are its own, everything else comes from float!.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

inline double percent_get(const Cell* c) { return cell_float(c); }
void percent_set_in(Cell* c, double d);
void percent_set_in_halves(Cell* c, uint32_t high, uint32_t low);
Cell* percent_push64(uint32_t high, uint32_t low);
Cell* percent_make_in(const Cell* block, uint32_t high, uint32_t low);

} // namespace kem
