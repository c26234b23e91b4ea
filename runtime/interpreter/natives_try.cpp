// The native try: the catch point of errors.
//
// Errors travel as C++ exceptions, so the call stack still holds the frames of
// the raise when try catches one: the error value takes its where and its
// stack marker from them before the stacks go back to try's own position.
// With /all the barrier frame makes break, continue, return, exit and throw
// fire their own errors instead of crossing it, so they arrive here too.
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"

namespace kem {

namespace {

inline bool present(int32_t ref) { return ref >= 0; }

void native_try(const int32_t* refs) {
    const bool all = present(refs[0]);
    const bool keep = present(refs[1]);
    const Cell block = stack::arguments[0];

    // Where the stacks go back to when an error arrives.
    CallFrame* const frames_mark = stack::frames_top;
    Cell* const args_mark = stack::arguments;
    Cell* const top_mark = stack::top;
    const Cell position_mark = interp::position;
    RootedCell keep_position(&position_mark);

    if (all) stack::push_try_barrier_frame(&rt_words.try_);
    else stack::push_try_frame(&rt_words.try_);
    try {
        interp::eval_block(&block, true);
    } catch (const KemError& e) {
        Cell err = *error_from_exception(e);
        if (keep) error_capture_stack(&err);
        stack::unwind_to(frames_mark, args_mark, top_mark);
        interp::position = position_mark;
        stack::set_last_keep(&err);
        return;
    }
    // Any other exit has already unwound past this frame to its own catcher.
    if (interp::pending()) return;
    stack::pop_frame_return_result();
    if (keep) error_capture_stack(stack::arguments);
}

} // namespace

void register_try_natives() { native_register(NAT_TRY, native_try); }

} // namespace kem
