// Calls: the run loop's calls through call records, and the general calls of
// eval_call, which read the argument list entry by entry.
#include "runtime/interpreter/calls.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/stack_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/dispatch.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/trace.h"
#include "runtime/interpreter/walk.h"

namespace kem::interp {

[[noreturn]] void fire_expect(const Cell* fn_word, const Cell* value, const Cell* callable, int word_index) {
    Cell type;
    make_datatype(&type, type_of(value));
    Cell spec = callable_spec(callable);
    fire(Err::script_expect_arg, *fn_word, type, spec_argument_word(&spec, word_index));
}

namespace {

// The name a call's frame carries.
Cell frame_name(const Cell* name, const Cell* path) {
    if (name) return *name;
    if (path) {
        Cell first = cell_at(path, path->data1);
        if (type_of(&first) == TYPE_WORD) return first;
    }
    return rt_words.anon_frame;
}

// How refinements given in a path are placed: each name looked up in the
// argument list. Returns the entry index of the refinement, -1 when absent.
int32_t find_refinement(const Cell* list, uint32_t n, uint32_t symbol) {
    for (uint32_t i = 0; i < n; i++) {
        Cell e = cell_at(list, i);
        if (type_of(&e) == TYPE_REFINEMENT && symbol_resolve(e.data2) == symbol_resolve(symbol)) return int32_t(i);
    }
    return -1;
}


// What a call event names: the word that called, or the callable itself
// when it was called without one.
inline const Cell* call_ref(const Cell* callable, const Cell* fn_word) {
    return (fn_word && fn_word->data2 != rt_words.anon_frame.data2) ? fn_word : callable;
}

// The end of fetch_arguments for a native, action or routine while tracing:
// the call event, and the throw and catch events around those natives.
void run_traced_native(const Cell* callable, const Cell* block, uint32_t pos, const Cell* fn_word, int32_t* refs) {
    const uint8_t kind = type_of(callable);
    fire_trace_event(EV_CALL, block, int32_t(pos), callable, trace_call_ref(callable, call_ref(callable, fn_word)));
    if (kind == TYPE_ROUTINE) return;  // eval_call runs it
    if (kind == TYPE_ACTION) {
        action_dispatcher_table[native_number(callable)](refs);
        return;
    }
    const uint32_t n = native_number(callable);
    if (n == NAT_THROW && tracing) fire_trace_event(EV_THROW, block, int32_t(pos), stack::arguments, nullptr);
    // catch pushes its frame where the top is now: a throw that unwinds to it
    // is caught there unless catch passes it on.
    const void* catch_frame = stack::frames_top;
    native_table[n](refs);
    if (n == NAT_THROW || n == NAT_CATCH) {
        if (last_throw_code == THROW_CODE_THROW) trace_thrown();
        else if (n == NAT_CATCH && !pending() && trace_take_caught(catch_frame) && tracing)
            fire_trace_event(EV_CATCH, block, int32_t(pos), stack::arguments, nullptr);
    }
}

// The end of fetch_arguments: runs a native or action, or sets up a
// function's locals.
inline uint32_t finish_call(const Cell* callable, uint8_t kind, uint32_t pos, const Cell* block, const Cell* fn_word,
                         int32_t* refs, uint32_t locals) {
    if (tracing) [[unlikely]] {
        if (kind != TYPE_FUNCTION) {
            run_traced_native(callable, block, pos, fn_word, refs);
            return pos;
        }
    }
    if (kind == TYPE_NATIVE) native_table[native_number(callable)](refs);
    else if (kind == TYPE_ACTION) action_dispatcher_table[native_number(callable)](refs);
    else if (locals) function_init_locals(locals);
    return pos;
}

uint32_t fetch_argument(const Cell* entry, uint32_t pos, uint32_t tail, const Cell* block, bool infix_call,
                        const Cell* fn_word, const Cell* callable, int word_index);

} // namespace

// Gathers the arguments of a call whose frame is on top (arguments from
// stack::arguments on) and, for natives and actions, runs them. The first
// `given` arguments are in place already (an operator's operands), only checked;
// with any given, the arguments read take no operators after them.
uint32_t fetch_arguments(const Cell* callable, uint32_t pos, uint32_t tail, const Cell* block, const Cell* path,
                         uint32_t path_pos, uint32_t given, const Cell* fn_word) {
    const bool infix = given != 0;
    const uint8_t kind = type_of(callable);
    const bool native_kind = kind == TYPE_NATIVE || kind == TYPE_ACTION;
    Cell list = callable_arg_list(callable);
    const uint32_t n = length_of(&list);
    int32_t refs[64];
    uint32_t ref_count = 0;
    uint32_t locals = 0;

    // Required arguments, then the slots of every refinement (inactive).
    bool active = true;
    int word_index = 0;
    for (uint32_t i = 0; i < n; i++) {
        Cell e = cell_at(&list, i);
        switch (type_of(&e)) {
        case TYPE_TYPESET:
            if (arg_kind(&e) == ARG_RETURN) break;
            if (active) {
                if (uint32_t(word_index) < given) {
                    const Cell* in_place = stack::arguments + word_index;
                    if (!typeset_has(&e, type_of(in_place))) fire_expect(fn_word, in_place, callable, word_index);
                } else {
                    pos = fetch_argument(&e, pos, tail, block, infix, fn_word, callable, word_index);
                    if (pending()) return pos;
                }
            } else if (!native_kind) {
                make_none(stack::push_slot());
            }
            word_index++;
            break;
        case TYPE_REFINEMENT:
            active = false;
            if (native_kind) {
                if (ref_count < 64) refs[ref_count] = -1;
                ref_count++;
            } else {
                make_logic(stack::push_slot(), false);
            }
            word_index++;
            break;
        case TYPE_INTEGER:
            if (!native_kind) locals = uint32_t(cell_int(&e));
            break;
        default: break;
        }
    }
    if (ref_count > 64) fire(Err::internal_limit_hit, Cell{TYPE_INTEGER, 0, ref_count, 0});

    // Refinements named in the path, in the path's order; their values land in
    // spec order (functions: their slots; natives: positions in refs).
    if (path) {
        const uint32_t path_len = length_of(path);
        uint32_t used_mask[4] = {0, 0, 0, 0};
        for (uint32_t p = path_pos; p < path_len; p++) {
            Cell el = cell_at(path, p);
            bool on = true;
            if (type_of(&el) == TYPE_GET_WORD) {
                on = is_truthy(word_value_cell(&el));
            } else if (type_of(&el) != TYPE_WORD) {
                fire(Err::script_bad_refine, el);
            }
            int32_t at = find_refinement(&list, n, el.data2);
            if (at < 0) fire(Err::script_no_refine, *fn_word, el);
            if (used_mask[at / 32 % 4] & (1u << (at % 32))) fire(Err::script_dup_refine, *path);
            used_mask[at / 32 % 4] |= 1u << (at % 32);
            // The refinement's slot (functions) and its argument slots follow
            // the entries before it.
            uint32_t slot = 0;
            int widx = 0;
            uint32_t ref_number = 0;
            for (int32_t i = 0; i < at; i++) {
                Cell e = cell_at(&list, uint32_t(i));
                if (type_of(&e) == TYPE_REFINEMENT) {
                    slot++;
                    widx++;
                    ref_number++;
                } else if (type_of(&e) == TYPE_TYPESET && arg_kind(&e) != ARG_RETURN) {
                    slot++;
                    widx++;
                }
            }
            widx++;
            if (native_kind) {
                refs[ref_number] = on ? int32_t(stack::top - stack::arguments) : -1;
            } else {
                make_logic(stack::arguments + slot, on);
            }
            for (uint32_t i = uint32_t(at) + 1; i < n; i++) {
                Cell e = cell_at(&list, i);
                if (type_of(&e) != TYPE_TYPESET || arg_kind(&e) == ARG_RETURN) break;
                slot++;
                Cell* before = stack::top;
                pos = fetch_argument(&e, pos, tail, block, infix, fn_word, callable, widx);
                if (pending()) return pos;
                if (native_kind) {
                    if (!on) stack::top = before;  // an unused refinement's arguments are dropped
                } else {
                    Cell v = *(stack::top - 1);
                    stack::top--;
                    stack::arguments[slot] = on ? v : none_value;
                }
                widx++;
            }
        }
    }

    return finish_call(callable, kind, pos, block, fn_word, refs, native_kind ? 0 : locals);
}

namespace {

uint32_t fetch_argument(const Cell* entry, uint32_t pos, uint32_t tail, const Cell* block, bool infix_call,
                        const Cell* fn_word, const Cell* callable, int word_index) {
    if (pos >= tail || pos >= length_of(block)) {
        if (arg_kind(entry) == ARG_LIT && typeset_has(entry, TYPE_UNSET)) {
            make_unset(stack::push_slot());
            return pos;
        }
        Cell spec = callable_spec(callable);
        fire(Err::script_no_arg, *fn_word, spec_argument_word(&spec, word_index));
    }
    switch (arg_kind(entry)) {
    case ARG_GET: {
        Cell v = cell_at(block, pos);
        stack::push(&v);
        pos++;
        break;
    }
    case ARG_LIT:
        pos = push_literal_argument(cell_at(block, pos), pos + 1, tail, block);
        if (pending()) return pos;
        break;
    default:
        pos = eval_expression(pos, tail, block, (infix_call ? EvalFlags::no_infix : EvalFlags::none) | EvalFlags::push);
        if (pending()) return pos;
        break;
    }
    const Cell* got = stack::top - 1;
    if (!typeset_has(entry, type_of(got))) fire_expect(fn_word, got, callable, word_index);
    return pos;
}

} // namespace

uint32_t push_literal_argument(const Cell& v, uint32_t pos, uint32_t tail, const Cell* block) {
    switch (type_of(&v)) {
    case TYPE_PAREN: {
        const Cell paren = v;
        stack::push_frame(&rt_words.anon_frame, FRAME_TOP_NATIVE);
        eval_block(&paren, true);
        if (pending()) return pos;
        stack::pop_frame_keep_result();
        return pos;
    }
    case TYPE_GET_WORD: stack::push(word_value_cell(&v)); return pos;
    case TYPE_GET_PATH: {
        const Cell path = v;
        const Cell cursor = *block;
        return eval_path(&path, pos, tail, &cursor, EvalFlags::get | EvalFlags::push);
    }
    default: stack::push(&v); return pos;
    }
}

namespace {

// A call; traced, named holds the name its events give it.
template <bool Traced>
[[gnu::always_inline]] inline uint32_t eval_call_body(const Cell* callable, uint32_t pos, uint32_t tail,
                                                      const Cell* block, EvalFlags flags, const Cell* name,
                                                      const Cell* path, uint32_t path_pos,
                                                      const TraceCallName* named) {
    const bool push = has(flags, EvalFlags::push);
    const bool infix = has(flags, EvalFlags::infix);
    const Cell fn = *callable;
    const Cell word = frame_name(name, path);
    Cell* callable_slot = nullptr;
    // An operator's function is not on the stack while it runs.
    RootedCell keep_fn(&fn);
    if (infix) {
        // The left operand, already pushed, becomes the first argument.
        stack::top--;
    } else {
        callable_slot = stack::push(&fn);
    }
    Cell* left = stack::top;
    try {
    if constexpr (Traced) {
        if (tracing) fire_trace_event(EV_OPEN, block, int32_t(pos), &named->ref, nullptr);
    }
    switch (type_of(&fn)) {
    case TYPE_FUNCTION:
        // A function of the system is seen as one call, like a native.
        if (function_is_system(&fn)) stack::push_function_frame(&word, function_context(&fn));
        else stack::push_interp_function_frame(&word, function_context(&fn));
        if (infix) stack::top = left + 1;
        pos = fetch_arguments(&fn, pos, tail, block, path, path_pos, infix ? 1 : 0, &word);
        if (pending()) return pos;
        call_function(&fn);
        if (pending()) return pos;
        stack::pop_function_frame_keep_result();
        break;
    case TYPE_ROUTINE: {
        stack::push_interp_native_frame(&word);
        if (infix) stack::top = left + 1;
        pos = fetch_arguments(&fn, pos, tail, block, path, path_pos, infix ? 1 : 0, &word);
        if (pending()) return pos;
        Cell* result = routine_entry(&fn)(stack::arguments);
        if (pending()) return pos;
        if (result) *stack::arguments = *result;
        else make_unset(stack::arguments);
        stack::pop_frame_keep_result();
        break;
    }
    default:
        stack::push_interp_native_frame(&word);
        if (infix) stack::top = left + 1;
        pos = fetch_arguments(&fn, pos, tail, block, path, path_pos, infix ? 1 : 0, &word);
        if (pending()) return pos;
        stack::pop_frame_keep_result();
        break;
    }
    } catch (const PendingExit&) {
        // The stacks are already set for the exit's catcher.
        return pos;
    }
    // The result sits just above the callable's cell: move it down over it.
    if (callable_slot) {
        *callable_slot = *(stack::top - 1);
        stack::top = callable_slot + 1;
    }
    // A function reports its own return, also when a callback runs it.
    if (tracing && type_of(&fn) != TYPE_FUNCTION) [[unlikely]] {
        try {
            fire_trace_event(EV_RETURN, block, int32_t(pos), stack::top - 1,
                             named && trace_call_name == named ? &named->ref : call_ref(&fn, &word));
        } catch (const PendingExit&) {
            return pos;
        }
    }
    settle(push);
    return pos;
}

} // namespace

uint32_t eval_call(const Cell* callable, uint32_t pos, uint32_t tail, const Cell* block, EvalFlags flags,
                   const Cell* name, const Cell* path, uint32_t path_pos) {
    if (!tracing) [[likely]]
        return eval_call_body<false>(callable, pos, tail, block, flags, name, path, path_pos, nullptr);
    // Traced, the callee's events name it by its word or path, also while
    // its arguments run calls of their own.
    const Cell* called_by = traced_call_path;
    traced_call_path = nullptr;
    const Cell word = frame_name(name, path);
    const TraceCallName named{*callable, path ? *path : called_by ? *called_by : *call_ref(callable, &word)};
    struct Restore {
        const TraceCallName* outer = trace_call_name;
        ~Restore() { trace_call_name = outer; }
    } restore;
    trace_call_name = &named;
    return eval_call_body<true>(callable, pos, tail, block, flags, name, path, path_pos, &named);
}

namespace {

// What a call changes that must be put back however it ends: the position
// tracking and, for a traced call, the tracer's switch; when the call does
// not end normally, also the frame's return target and the context's values.
template <bool Traced>
struct CallGuard {
    CallFrame* frame;
    NodeId ctx;
    NodeId saved;
    bool tracked = track_position;
    bool was_tracing = Traced && tracing;
    bool done = false;
    void end() {
        done = true;
        frame->header &= ~FRAME_RETURN_TARGET;
        set_context_values_node(ctx, saved);
    }
    ~CallGuard() {
        track_position = tracked;
        if constexpr (Traced) tracing = was_tracing && trace_on;
        if (!done) end();
    }
};

// The tracer's switch as a traced call found it, put back when it ends.
template <bool Traced> struct TracingRestore {};
template <> struct TracingRestore<true> {
    bool was = tracing;
    ~TracingRestore() { tracing = was && trace_on; }
};

// A function call on the frame on top, its arguments and locals on the data
// stack. Traced, it also applies the callback kind filter and the function's
// trace attributes and reports call, prolog, epilog and return; untraced,
// those hooks compile away.
template <bool Traced>
void run_function(const Cell* fn, uint32_t trace_flags) {
    const Cell f = *fn;
    CallFrame* frame = stack::frames_top - 1;
    [[maybe_unused]] TracingRestore<Traced> outer;
    Cell name;
    if constexpr (Traced) {
        if (tracing && trace_flags && !(callback_bits() & trace_flags)) tracing = false;
        name = stack::frame_named(frame) ? stack::frame_word(frame) : f;
        name = *trace_call_ref(&f, &name);
        if (tracing) fire_trace_event(EV_CALL, nullptr, -1, &f, &name);
    }
    const NodeId ctx = function_context(&f);
    const NodeId saved = context_values_node(ctx);
    set_context_values_node(ctx, stack::cell_index(stack::arguments));
    // A function of the system is no return target: a return in a block it
    // runs for its caller leaves the caller's function, as through a native.
    const bool system = function_is_system(&f);
    const bool returns_here = !system;
    stack::set_return_target(returns_here);
    {
        CallGuard<Traced> guard{frame, ctx, saved};
        if constexpr (Traced) {
            const uint32_t attrs = function_flags(&f);
            if (attrs & FUNCTION_NO_TRACE) tracing = false;
            else if (attrs & FUNCTION_TRACE) tracing = trace_on;
            if (tracing) fire_trace_event(EV_PROLOG, nullptr, -1, nullptr, &f);
        }
        Cell body = *function_body(&f);
        if (type_of(&body) == TYPE_BLOCK) {
            if (system) track_position = false;
            eval_block(&body, true);
        } else {
            make_unset(stack::arguments);
            stack::top = stack::arguments + 1;
        }
        // return and exit land on this frame with the result in place.
        if ((last_throw_code == THROW_CODE_RETURN || last_throw_code == THROW_CODE_EXIT) && returns_here) {
            last_throw_code = 0;
            stack::top = stack::arguments + 1;
        }
        if constexpr (Traced) {
            if (tracing && stack::frames_top == frame + 1) {
                // The epilog runs with no exit pending; one in flight goes on after it.
                const uint32_t code = last_throw_code;
                last_throw_code = 0;
                Cell* top = stack::top;
                fire_trace_event(EV_EPILOG, nullptr, -1, stack::arguments, &f);
                last_throw_code = code;
                stack::top = top;
            }
        }
        guard.end();
    }
    if constexpr (Traced) {
        // Returned, the call is the caller's again, as after a native's return.
        if (tracing && !pending())
            fire_trace_event(EV_RETURN, nullptr, -1, stack::arguments, &name, int32_t(frame->saved_args));
    }
}

} // namespace

void call_function(const Cell* fn, uint32_t trace_flags) {
    if (trace_on) [[unlikely]] run_function<true>(fn, trace_flags);
    else run_function<false>(fn, trace_flags);
}

int push_callback_arguments(const Cell* fn, const Cell* values, int n) {
    const Cell list = callable_arg_list(fn);
    const uint32_t count = length_of(&list);
    int taken = 0;
    bool required = true;
    uint32_t locals = 0;
    for (uint32_t i = 0; i < count; i++) {
        const Cell entry = cell_at(&list, i);
        switch (type_of(&entry)) {
        case TYPE_TYPESET:
            if (arg_kind(&entry) == ARG_RETURN) break;
            if (required && taken < n) stack::push(&values[taken++]);
            else stack::push(&none_value);
            break;
        case TYPE_REFINEMENT:
            required = false;
            stack::push(&false_value);
            break;
        case TYPE_INTEGER: locals = uint32_t(cell_int(&entry)); break;
        default: break;
        }
    }
    if (locals) function_init_locals(locals);
    return taken;
}


// --- calls through call records ---------------------------------------------

const int32_t no_refinements[64] = {
#define R8 -1, -1, -1, -1, -1, -1, -1, -1
    R8, R8, R8, R8, R8, R8, R8, R8
#undef R8
};

void missing_argument(const Cell& name, const Cell& fn, const CallRecord* rec, uint32_t k) {
    if (rec->arg_kind[k] == ARG_LIT && record_accepts(rec, k, TYPE_UNSET)) {
        make_unset(stack::push_slot());
        return;
    }
    const Cell spec = callable_spec(&fn);
    fire(Err::script_no_arg, name, spec_argument_word(&spec, int(k)));
}

void push_function_slots(const CallRecord* rec) {
    const uint64_t rest_flags = rec->rest_flags;
    for (uint32_t i = 0, n = rec->rest_slots; i < n; i++) {
        if ((rest_flags >> i) & 1) make_logic(stack::push_slot(), false);
        else make_none(stack::push_slot());
    }
    if (rec->locals) function_init_locals(rec->locals);
}

} // namespace kem::interp
