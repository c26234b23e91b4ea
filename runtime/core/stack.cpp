#include "runtime/core/stack.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"

namespace kem {

uint32_t last_throw_code = 0;

namespace stack {

Cell* bottom = nullptr;
Cell* top = nullptr;
Cell* limit = nullptr;
Cell* arguments = nullptr;
CallFrame* frames_bottom = nullptr;
CallFrame* frames_top = nullptr;
CallFrame* frames_limit = nullptr;
CallFrame* throw_origin = nullptr;
uint32_t anon_symbol = 0;
uint32_t body_symbol = 0;

void overflow() {
    top = (top - 5 > bottom) ? top - 5 : bottom;
    cycle_reset();
    fire(Err::internal_stack_overflow);
}

namespace {

const Cell unset_cell = {TYPE_UNSET, 0, 0, 0};
NodeId data_node = 0;
NodeId call_node = 0;

inline Cell* saved_base(const CallFrame* f) { return bottom + f->saved_args; }

// The argument base of frame f's own call: saved by the frame above it, or the
// current base when f is the top frame.
inline Cell* own_base(const CallFrame* f) { return f + 1 < frames_top ? saved_base(f + 1) : arguments; }

} // namespace

void init(uint32_t data_cells, uint32_t frames) {
    if (!data_node) {
        data_node = alloc_heap_series(data_cells, 16, 0);
        // Frames are 20 bytes: the call-stack block is sized in cells to hold them.
        call_node = alloc_heap_series((uint64_t(frames) * sizeof(CallFrame) + 15) / 16, 16, 0);
    }
    SeriesBuffer* d = node_buffer(data_node);
    bottom = top = arguments = d->cell_head();
    limit = bottom + d->size / 16;
    SeriesBuffer* c = node_buffer(call_node);
    frames_bottom = frames_top = reinterpret_cast<CallFrame*>(c->head_ptr());
    frames_limit = frames_bottom + frames;
    throw_origin = nullptr;
    last_throw_code = 0;
}

bool ready() { return bottom != nullptr; }
NodeId* data_buffer_slot() { return &data_node; }
NodeId* call_buffer_slot() { return &call_node; }

void pop_frame() {
    CallFrame* f = --frames_top;
    restore_function_context(f);
    top = arguments;
    arguments = saved_base(f);
    if (frames_top == frames_bottom) top = arguments = bottom;
}

void pop_frame_return_result() {
    Cell* result = arguments;
    pop_frame_keep_result();
    *arguments = *result;
}

void pop_frame_drop() {
    CallFrame* f = --frames_top;
    arguments = saved_base(f);
    top = arguments;
}

void pop_function_frame_drop() {
    restore_function_context(frames_top - 1);
    pop_frame_drop();
}

void set_return_target(bool flag) {
    CallFrame* f = frames_top - 1;
    if (flag) f->header |= FRAME_RETURN_TARGET;
    else f->header &= ~FRAME_RETURN_TARGET;
}

CallFrame* claim_return_target() {
    CallFrame* f = frames_top - 2;
    if (f < frames_bottom || (f->header & FRAME_RETURN_TARGET)) return nullptr;
    f->header |= FRAME_RETURN_TARGET;
    return f;
}

void release_return_target(CallFrame* f) {
    if (f) f->header &= ~FRAME_RETURN_TARGET;
}

void mark_eval() { (frames_top - 1)->header |= FRAME_EVAL_BIT; }

bool eval_q(CallFrame* from, bool only_next) {
    CallFrame* f = (from ? from : frames_top) - 1;
    if (only_next) return f >= frames_bottom && (f->header & FRAME_EVAL_BIT);
    for (; f >= frames_bottom; f--)
        if (f->header & FRAME_EVAL_BIT) return true;
    return false;
}

Cell* push_slot_keep() {
    Cell* c = top;
    if (c + 1 >= limit) overflow();
    top = c + 1;
    return c;
}

void pop(uint32_t n) { top = (uint32_t(top - bottom) > n) ? top - n : bottom; }

void pop_frames_to_kind(uint8_t kind, bool keep) {
    CallFrame* f = frames_top - 1;
    bool popped = false;
    while (f > frames_bottom) {
        uint8_t k = frame_kind(f);
        if (k == kind || k == FRAME_TRY_ALL) break;
        restore_function_context(f);
        arguments = saved_base(f);
        f--;
        popped = true;
    }
    if (f < frames_bottom) {
        frames_top = frames_bottom;
        top = arguments = bottom;
        return;
    }
    frames_top = f + 1;
    if (!keep) {
        arguments = saved_base(f);
        popped = true;
    }
    if (!popped) top = arguments + 1;
    if (frames_top == frames_bottom) top = arguments = bottom;
}

void unwind_to(CallFrame* frames_mark, Cell* args, Cell* data_top) {
    while (frames_top > frames_mark) restore_function_context(--frames_top);
    arguments = args;
    top = data_top;
}

void break_loop(bool with_value, bool is_continue) {
    Cell* saved_args = arguments;
    Cell* saved_top = top;
    CallFrame* saved_frames = frames_top;
    // Step below the native's own frame.
    CallFrame* f = frames_top - 2;
    for (; f >= frames_bottom; f--) {
        uint8_t k = frame_kind(f);
        if (k == FRAME_LOOP) break;
        if (k == FRAME_TRY_ALL) {
            f = nullptr;
            break;
        }
    }
    if (!f || f < frames_bottom) {
        arguments = saved_args;
        top = saved_top;
        frames_top = saved_frames;
        fire(is_continue ? Err::throw__continue : Err::throw__break);
    }
    for (CallFrame* p = frames_top - 1; p > f; p--) restore_function_context(p);
    Cell* base = saved_base(f + 1);
    frames_top = f + 1;
    arguments = base;
    top = base;
    if (with_value && !is_continue) *base = *saved_args;
    else make_unset(base);
    last_throw_code = is_continue ? THROW_CODE_CONTINUE : THROW_CODE_BREAK;
}

void unwind_return(bool is_return, bool start_here, const Cell* word) {
    Cell* saved_args = arguments;
    Cell* saved_top = top;
    CallFrame* saved_frames = frames_top;
    CallFrame* f = frames_top - 1;
    if (!start_here) f--;
    CallFrame* target = nullptr;
    for (; f >= frames_bottom; f--) {
        if (frame_kind(f) == FRAME_TRY_ALL) break;
        if (f->header & FRAME_RETURN_TARGET) {
            target = f;
            break;
        }
    }
    if (!target) {
        arguments = saved_args;
        top = saved_top;
        frames_top = saved_frames;
        if (word) push_native_frame(word);
        fire(Err::throw__return);
    }
    if (is_return) return_to(target, saved_args);
    else return_to(target, &unset_cell);
    last_throw_code = is_return ? THROW_CODE_RETURN : THROW_CODE_EXIT;
}

void return_to(CallFrame* target, const Cell* value) {
    const Cell v = *value;
    for (CallFrame* p = frames_top - 1; p > target; p--) restore_function_context(p);
    Cell* base = own_base(target);
    frames_top = target + 1;
    arguments = base;
    top = base;
    *base = v;
}

void throw_value(uint32_t code) {
    Cell* saved_args = arguments;
    Cell* saved_top = top;
    CallFrame* saved_frames = frames_top;
    if (!throw_origin) throw_origin = frames_top;
    CallFrame* target = nullptr;
    for (CallFrame* f = frames_top - 2; f >= frames_bottom; f--) {
        uint8_t k = frame_kind(f);
        if (k == FRAME_TRY_ALL) break;
        if (k == FRAME_CATCH) {
            target = f;
            break;
        }
    }
    if (!target) {
        Cell value = *saved_args;
        arguments = saved_args;
        top = saved_top;
        frames_top = saved_frames;
        fire(Err::throw__throw, value);
    }
    // Caught: the origin only names the thrower of a throw nobody catches, and
    // left set it would name the wrong frame in a later error's report.
    throw_origin = nullptr;
    Cell value = *saved_args;
    Cell name = (saved_top > saved_args + 1) ? saved_args[1] : Cell{TYPE_UNSET, 0, 0, 0};
    for (CallFrame* p = frames_top - 1; p > target; p--) restore_function_context(p);
    Cell* base = own_base(target);
    frames_top = target + 1;
    arguments = base;
    top = base;
    *push_slot() = value;
    *push_slot() = name;
    last_throw_code = code;
}

} // namespace stack
} // namespace kem
