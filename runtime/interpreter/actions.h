// Action dispatch: find a slot's implementation for the first argument's type.
#pragma once
#include <cstdint>
#include "runtime/cell.h"
#include "runtime/datatypes/registry.h"

namespace kem {

// Raises script expect-arg for the current call: its word, the value's datatype
// and the word of argument `arg_index` (from 0) of the called function's spec.
[[noreturn]] void fire_expect_arg(const Cell* value, int arg_index);

// The implementation of `slot` for a value of `type`; a missing one raises
// expect-arg naming the calling word, the type and the first argument. A port!
// whose actor is a handle! takes its handlers for the series and port slots.
ActionFn get_action_ptr(uint8_t type, const Cell* value, int slot);
template <int Slot> inline typename ActionSignature<Slot>::type get_action_for_value(const Cell* value) {
    return reinterpret_cast<typename ActionSignature<Slot>::type>(get_action_ptr(type_of(value), value, Slot));
}

// The second argument of pick and poke as a number: integer! and char! their
// value, logic! 1 for true and 2 for false, any other type 0.
int32_t pick_index();

// Comparison through the compare slot (operator codes 0..12): -2 when the two
// cannot be compared, else the slot's answer.
int32_t compare_values(Cell* value1, Cell* value2, int32_t op);
// The outcome of a comparison operator as a truth value.
bool compare_outcome(Cell* value1, Cell* value2, int32_t op);

// Direct twins of the formatting actions: form/mold into a string cell.
int32_t form_direct(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t mold_direct(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t part,
                    int32_t indent);

} // namespace kem
