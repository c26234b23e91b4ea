// What the two halves of the money! module share.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/registry.h"
#include "runtime/services/decimal.h"

namespace kem::money_detail {

Cell datatype_of(uint8_t type);
// Script type-limit naming the datatype.
[[noreturn]] void fire_type_limit(uint8_t type);
// Raises the error of a failed decimal operation: type-limit for an
// overflow, math zero-divide.
void check(DecimalStatus s);
// The arithmetic, comparison, rounding and random entries of the row.
void set_math_actions(ActionRow& row);

} // namespace kem::money_detail
