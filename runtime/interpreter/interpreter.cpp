// The evaluator's entry points, and the general walk: one value at a time
// as the block holds it, with every trace event. Untraced evaluation goes
// through the run loop (run.h), which leaves only a few kinds of expression
// to the walk here.
#include "runtime/interpreter/interpreter.h"
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/calls.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/run.h"
#include "runtime/interpreter/trace.h"
#include "runtime/interpreter/walk.h"

namespace kem::interp {

Cell position = {TYPE_UNSET, 0, 0, 0};
bool track_position = true;

bool running_system_code() { return !track_position; }

const Cell* traced_call_path = nullptr;

// The evaluator's push and fetch events, out of the way of the untraced
// path. A value a return, exit or set event has just carried is not
// reported again as pushed.
[[gnu::cold, gnu::noinline]] void trace_push(const Cell* block, uint32_t pos, const Cell* value) {
    if (!trace_value_reported()) fire_trace_event(EV_PUSH, block, int32_t(pos), value, nullptr);
}

bool assign_from_frame(Cell* slot) {
    const Cell* value = stack::arguments + 1;
    if (slot) {
        *slot = *value;
        *stack::arguments = *value;
    } else {
        try {
            word_set_from_arg();
        } catch (const PendingExit&) {
            return false;
        }
    }
    stack::pop_frame_keep_result();
    return true;
}

namespace {

[[gnu::cold, gnu::noinline]] void trace_fetch(const Cell* block, uint32_t pos) {
    const Cell fetched = cell_at(block, pos);
    fire_trace_event(EV_FETCH, block, int32_t(pos), &fetched, nullptr);
}

// After an expression, applies the operators that follow it, left to right.
uint32_t infix_steps(uint32_t pos, uint32_t tail, const Cell* block) {
    while (pos < tail && pos < length_of(block)) {
        const Cell* at = node_buffer(block->data2)->cell_head() + pos;
        if (type_of(at) != TYPE_WORD || !at->data1) break;
        const Cell* slot = word_value_cell(at);
        if (type_of(slot) != TYPE_OP) break;
        const Cell next = *at;
        // A copy: the trace callback runs Kem code, which may move the slot.
        const Cell op = *slot;
        if (tracing) [[unlikely]] {
            // Each operator is reported as a call: no shortcut. The callback
            // may take the operator from its word while it runs.
            RootedCell keep_op(&op);
            // The left operand is complete: pushed as the operator's argument.
            trace_push(block, pos, stack::top - 1);
            trace_fetch(block, pos);
        }
        Cell callable = op_callable(&op);
        pos = eval_call(&callable, pos + 1, tail, block, EvalFlags::push | EvalFlags::infix, &next, nullptr, 0);
        if (pending()) return pos;
    }
    return pos;
}

// A traced block's walk from pos to its tail, on the eval frame already
// pushed: it reports enter, each expression and exit, and an error by the
// innermost block it leaves.
void walk_block(const Cell& blk, const Cell& saved, uint32_t pos, uint32_t tail, bool return_result) {
    const bool track = tracks_position(blk.data2);
    uint32_t at = pos;
    // False when an exit is pending: its catcher goes on in an outer block
    // and reports from there.
    auto walk = [&]() -> bool {
        fire_trace_event(EV_ENTER, &blk, int32_t(pos), nullptr, nullptr);
        if (pos >= tail) {
            make_unset(stack::arguments);
            stack::top = stack::arguments + 1;
        }
        while (pos < tail) {
            stack::top = stack::arguments;
            collector::safe_point();
            if (track) position = Cell{blk.header & HEADER_TYPE_MASK, pos, blk.data2, 0};
            at = pos;
            pos = eval_expression(pos, tail, &blk, EvalFlags::none);
            if (pending()) {
                position = saved;
                return false;
            }
            trace_error_settled();
            if (tracing) fire_trace_event(EV_EXPR, &blk, int32_t(at), stack::arguments, nullptr);
            uint32_t now = length_of(&blk);
            if (now < tail) tail = now;
        }
        at = pos;
        if (tracing) fire_trace_event(EV_EXIT, &blk, int32_t(pos), stack::arguments, nullptr);
        return true;
    };
    try {
        if (!walk()) return;
    } catch (const KemError& e) {
        if (tracing) trace_error(e, &blk, int32_t(at));
        throw;
    } catch (const PendingExit&) {
        position = saved;
        throw;
    }
    position = saved;
    if (return_result) stack::pop_frame_return_result();
    else stack::pop_frame_keep_result();
}

} // namespace

void init() {
    make_unset(&position);
    collector::add_layer_root("position", [] { collector::mark_value(&position); });
    run_init();
    trace_init();
}

void eval_block(const Cell* block, bool return_result) {
    if (!tracing) [[likely]] {
        run_block(block);
        if (return_result && !pending()) *stack::arguments = *(stack::top - 1);
        return;
    }
    // Traced, a block has its own frame. The block may lose every other reference while it runs, and so may the
    // outer position that is put back at the end.
    Cell held[2] = {*block, position};
    RootedCells keep(held, 2);
    const Cell& blk = held[0];
    const Cell& saved = held[1];
    stack::push_frame(&rt_words.body_frame, FRAME_TOP_EVAL);
    const uint32_t pos = blk.data1;
    const uint32_t tail = length_of(&blk);
    walk_block(blk, saved, pos, tail, return_result);
}

uint32_t eval_expression(uint32_t pos, uint32_t tail, const Cell* block, EvalFlags flags) {
    if (tracing || has(flags, EvalFlags::literal_callables)) [[unlikely]]
        return walk_expression(pos, tail, block, flags);
    if (pos >= tail || pos >= length_of(block)) return walk_expression(pos, tail, block, flags);
    pos = run_expression(*block, pos, tail, has(flags, EvalFlags::no_infix));
    if (pending()) return pos;
    settle(has(flags, EvalFlags::push));
    return pos;
}

uint32_t walk_expression(uint32_t pos, uint32_t tail, const Cell* block, EvalFlags flags) {
    const bool push = has(flags, EvalFlags::push);
    const Cell blk = *block;
    if (tracing) [[unlikely]] {
        trace_fetch(&blk, pos);
        // The callback may have cut the block short: the value is gone.
        if (pos >= length_of(&blk)) {
            make_unset(stack::push_slot());
            settle(push);
            return pos + 1;
        }
    }
    Cell v = cell_at(&blk, pos);
    pos++;
    switch (type_of(&v)) {
    case TYPE_PAREN:
        if (tracing) [[unlikely]] {
            // Traced, a paren is a block of its own: entered, walked, left.
            stack::push_frame(&rt_words.body_frame, FRAME_TOP_NATIVE);
            eval_block(&v, true);
            if (pending()) return pos;
            stack::pop_frame_keep_result();
        } else {
            run_block(&v);
            if (pending()) return pos;
        }
        break;
    case TYPE_WORD: {
        const Cell* vc = word_value_cell(&v);
        const uint8_t t = type_of(vc);
        if (t == TYPE_UNSET) fire(Err::script_no_value, v);
        // return and exit leave as cheaply as a call returns: their value goes
        // straight into the current result cell and the stacks unwind from here.
        if (t == TYPE_NATIVE && native_number(vc) == NAT_RETURN && pos < tail && pos < length_of(&blk)) {
            pos = eval_expression(pos, tail, &blk, EvalFlags::none);
            if (pending()) return pos;
            stack::unwind_return(true, true, &v);
            return pos;
        }
        if (t == TYPE_NATIVE && native_number(vc) == NAT_EXIT) {
            stack::unwind_return(false, true, &v);
            return pos;
        }
        if (callable_type(t)) {
            Cell callable = *vc;
            pos = eval_call(&callable, pos, tail, &blk, EvalFlags::push, &v, nullptr, 0);
            if (pending()) return pos;
        } else if (t == TYPE_OP) {
            fire(Err::script_no_op_arg, v);
        } else {
            stack::push(vc);
        }
        break;
    }
    case TYPE_SET_WORD: {
        if (pos >= tail) fire(Err::script_need_value, v);
        stack::push_frame(&v, FRAME_TOP_NATIVE);
        stack::push(&v);
        // The assignment opens an expression that its value completes.
        if (tracing) [[unlikely]] trace_push(&blk, pos, &v);
        pos = eval_expression(pos, tail, &blk, EvalFlags::push);
        if (pending()) return pos;
        if (tracing) [[unlikely]] fire_trace_event(EV_SET, &blk, int32_t(pos), stack::top - 1, &v);
        const Cell* value = stack::arguments + 1;
        if (!assign_from_frame(type_of(value) != TYPE_UNSET ? context_store_slot(&v) : nullptr)) return pos;
        if (tracing) [[unlikely]] trace_push(&blk, pos, stack::top - 1);
        settle(push);
        return pos;  // the value assigned already took the operators after it
    }
    case TYPE_LIT_WORD:
        set_type(&v, TYPE_WORD);
        stack::push(&v);
        break;
    case TYPE_GET_WORD: stack::push(word_value_cell(&v)); break;
    case TYPE_ISSUE: {
        if (pos < tail && (v.data2 == rt_symbols.system || v.data2 == rt_symbols.system_global)) {
            Cell next = cell_at(&blk, pos);
            if (type_of(&next) == TYPE_BLOCK) fire(Err::internal_kem_system);
        }
        stack::push(&v);
        break;
    }
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
        if (has(flags, EvalFlags::literal_callables)) {
            stack::push(&v);
        } else {
            pos = eval_call(&v, pos, tail, &blk, EvalFlags::push, nullptr, nullptr, 0);
            if (pending()) return pos;
        }
        break;
    case TYPE_OP: fire(Err::internal_not_done);
    case TYPE_LIT_PATH:
        set_type(&v, TYPE_PATH);
        stack::push(&v);
        break;
    case TYPE_PATH:
        pos = eval_path(&v, pos, tail, &blk, EvalFlags::push);
        if (pending()) return pos;
        break;
    case TYPE_GET_PATH:
        pos = eval_path(&v, pos, tail, &blk, EvalFlags::get | EvalFlags::push);
        if (pending()) return pos;
        break;
    case TYPE_SET_PATH: {
        if (pos >= tail) fire(Err::script_need_value, v);
        // The value's code may take the path out of its block.
        RootedCell keep_path(&v);
        stack::push_frame(&rt_words.set_path, FRAME_TOP_NATIVE);
        if (tracing) [[unlikely]] trace_push(&blk, pos, &v);
        pos = eval_expression(pos, tail, &blk, EvalFlags::push);
        if (pending()) return pos;
        if (tracing) [[unlikely]] fire_trace_event(EV_SET, &blk, int32_t(pos), stack::top - 1, &v);
        eval_path(&v, pos, tail, &blk, EvalFlags::set);
        if (pending()) return pos;
        stack::pop_frame_keep_result();
        if (tracing) [[unlikely]] trace_push(&blk, pos, stack::top - 1);
        settle(push);
        return pos;
    }
    default: stack::push(&v); break;
    }
    if (!has(flags, EvalFlags::no_infix)) {
        pos = infix_steps(pos, tail, &blk);
        if (pending()) return pos;
    }
    if (tracing) [[unlikely]] trace_push(&blk, pos, stack::top - 1);
    settle(push);
    return pos;
}

uint32_t eval_next(const Cell* block, uint32_t pos, uint32_t tail, EvalFlags flags) {
    const bool push = has(flags, EvalFlags::push);
    const Cell blk = *block;
    stack::push_frame(&rt_words.body_frame, FRAME_TOP_INTERP_NATIVE);
    pos = eval_expression(pos, tail, &blk, EvalFlags::none);
    if (pending()) return pos;
    if (push) stack::pop_frame_keep_result();
    else stack::pop_frame_return_result();
    return pos;
}

uint32_t eval_at(const Cell* block) {
    uint32_t pos = block->data1;
    uint32_t tail = length_of(block);
    if (pos >= tail) {
        make_unset(stack::arguments);
        stack::top = stack::arguments + 1;
        return pos;
    }
    return eval_next(block, pos, tail, EvalFlags::none);
}

} // namespace kem::interp
