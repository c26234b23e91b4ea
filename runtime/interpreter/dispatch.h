// The table-form action dispatchers: what an action! value calls.
//
// A dispatcher finds its arguments on the data stack from stack::arguments
// (the first is also the result cell) and receives one integer per refinement
// of the action's spec, in spec order: -1 when the refinement is absent, else
// the stack index (from stack::arguments) of its first argument cell; for a
// refinement without argument any value but -1 means present. It leaves the
// result in the result cell.
#pragma once
#include <cstdint>
#include "runtime/datatypes/action_types.h"

namespace kem {

// A null pointer stands for every refinement absent.
using ActionDispatcher = void (*)(const int32_t* refinements);

// Indexed by slot (1..62). Slot 8 is never filled; slot 9 (comparison) takes
// cells and an operator instead and is reached as compare_star (actions.h).
extern ActionDispatcher action_dispatcher_table[ACTION_SLOT_COUNT + 1];

// Fills the table in slot order; runs once at start-up before any action call.
void actions_init();
// Copies `count` dispatchers into the table from slot 1 on.
void actions_register_all(int count, const ActionDispatcher* list);

} // namespace kem
