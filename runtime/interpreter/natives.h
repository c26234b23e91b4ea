// The native table: the C++ body of each of the 107 natives, by index.
#pragma once
#include <cstdint>
#include "runtime/core/stack.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/interpreter/native_specs.h"

namespace kem {

// A native's body: the arguments lie at stack::arguments[0..]; refinements
// arrive as one integer each in spec order (-1 absent, else the stack index of
// the refinement's first argument, or any other value for one without). The
// evaluator has checked the arguments against the native's spec. The result
// goes into stack::arguments[0].
using NativeFn = void (*)(const int32_t* refinements);

extern NativeFn native_table[NATIVE_TABLE_SIZE + 1];

// Fills the table: each group of natives registers its bodies; an index no
// group fills raises internal not-done when called.
void natives_init();
void native_register(uint32_t index, NativeFn fn);

// The groups of natives, one module each.
void register_control_natives();
void register_loop_natives();
void register_value_natives();
void register_math_natives();
void register_exits_natives();
void register_system_natives();
void register_try_natives();
void register_sets_natives();

// if, unless and either, their arguments on the current frame: the block
// the native runs, or nullptr with the result (none) set. if and unless take
// an unset condition as true; either refuses it (no-return).
[[gnu::always_inline]] inline const Cell* conditional_branch(uint32_t number) {
    Cell* args = stack::arguments;
    if (number == NAT_EITHER) {
        if (type_of(args) == TYPE_UNSET) [[unlikely]]
            logic_result_true_q();
        return args + (is_truthy(args) ? 1 : 2);
    }
    if (is_truthy(args) != (number == NAT_UNLESS)) return args + 1;
    *args = none_value;
    return nullptr;
}

// The last-line-feed flag print and prin keep (1 after print, 0 after prin).
namespace natives {
extern uint32_t last_lf_q;
}

// Binds every native and action to its global word, from its spec text.
void natives_make_words();

// What `wait` does with its time while a GUI has windows open: the GUI's
// passes (timers, input, redraws) run for that many milliseconds. The GUI
// layer registers it; it answers false when there is nothing to run, and the
// wait is a plain sleep.
using WaitPasses = bool (*)(uint64_t milliseconds);
void set_wait_passes(WaitPasses passes);

} // namespace kem
