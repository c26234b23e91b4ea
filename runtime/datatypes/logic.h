// unset!, none! and logic!: the shared cells, boxing helpers and truthiness.
#pragma once
#include "runtime/core/cell.h"

namespace kem {

// Shared read-only cells that lookups return; code copies them, never writes them.
extern const Cell unset_value;
extern const Cell none_value;
extern const Cell true_value;
extern const Cell false_value;

Cell* unset_push();
Cell* none_box();
Cell* none_push();

inline uint32_t logic_get(const Cell* c) { return c->data1; }
Cell* logic_push(bool flag);

// Truthy: anything but none! and a logic! whose payload is not exactly 1.
inline bool is_truthy(const Cell* c) {
    uint8_t t = type_of(c);
    return t != TYPE_NONE && !(t == TYPE_LOGIC && c->data1 != 1);
}
// With check set, unset! raises script no-value naming the word.
bool logic_true_q(const Cell* value, bool check, const Cell* word);
bool logic_result_true_q();   // unset! raises script no-return
bool logic_result_false_q();

} // namespace kem
