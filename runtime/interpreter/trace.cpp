// Trace events: installing the callback, its event mask, and delivering events.
#include "runtime/interpreter/trace.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/pair.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"

namespace kem::interp {

bool trace_run = false;
bool trace_on = false;
bool tracing = false;
uint32_t trace_mask = 0;
const void* trace_reported_error = nullptr;
const TraceCallName* trace_call_name = nullptr;
uint32_t trace_last_event = 0;

namespace {

// Index of the tracer's cell in the root block: the callback stays alive
// while it is installed, whatever its caller does with its own copy.
uint32_t tracer_slot = 0xFFFFFFFF;
Cell event_words[17];
// The frame a throw unwound to while tracing, until its catch reports it.
const void* thrown_to = nullptr;
uint32_t sym_system = 0, sym_state = 0, sym_callbacks = 0, sym_bits = 0;

Cell* tracer_cell() { return block_rs_abs_at(root_block(), tracer_slot); }

const Cell& event_word(uint32_t event) {
    for (int i = 0; i < 17; i++)
        if (event == (1u << i)) return event_words[i];
    return rt_words.anon_frame;
}

Cell* field_of(const Cell* obj, uint32_t symbol) {
    if (!obj || !is_type(obj, TYPE_OBJECT)) return nullptr;
    const NodeId ctx = object_context(obj);
    const int32_t i = context_find_word(ctx, symbol, true);
    return i < 0 ? nullptr : context_value_slot(ctx, uint32_t(i));
}

} // namespace

void trace_init() {
    const char* names[16] = {"init", "end",   "prolog", "epilog", "enter", "exit",  "open",  "return",
                             "fetch", "push", "set",    "call",   "error", "throw", "catch", "expr"};
    for (int i = 0; i < 16; i++) event_words[i] = word_load(names[i]);
    event_words[16] = rt_words.anon_frame;
    tracer_slot = block_full_length(root_block());
    block_append_cell(root_block(), &none_value);
    sym_system = symbol_make("system");
    sym_state = symbol_make("state");
    sym_callbacks = symbol_make("callbacks");
    sym_bits = symbol_make("bits");
    trace_run = trace_on = tracing = false;
}

uint32_t trace_event_mask(const Cell* fn) {
    const Cell body = *function_body(fn);
    if (!is_type(&body, TYPE_BLOCK) || series_position(&body) >= int32_t(block_full_length(&body))) return EV_ALL;
    const Cell head = *block_rs_abs_at(&body, uint32_t(series_position(&body)));
    if (!is_type(&head, TYPE_BLOCK)) return EV_ALL;
    uint32_t mask = 0;
    for (uint32_t i = uint32_t(series_position(&head)); i < block_full_length(&head); i++) {
        const Cell* w = block_rs_abs_at(&head, i);
        if (!is_type(w, TYPE_WORD)) continue;
        const uint32_t sym = symbol_resolve(w->data2);
        for (int e = 0; e < 16; e++)
            if (symbol_resolve(event_words[e].data2) == sym) mask |= 1u << e;
    }
    return mask;
}

bool trace_install(const Cell* fn) {
    if (trace_run) return false;
    trace_mask = trace_event_mask(fn);
    *tracer_cell() = *fn;
    trace_run = trace_on = tracing = true;
    trace_error_settled();
    thrown_to = nullptr;
    try {
        fire_trace_event(EV_INIT, nullptr, -1, nullptr, nullptr);
    } catch (...) {
        // A callback that fails at once is not left installed.
        make_none(tracer_cell());
        trace_run = trace_on = tracing = false;
        throw;
    }
    return true;
}

void trace_uninstall() {
    if (!trace_run) return;
    // The end event runs with no exit pending; an exit in flight goes on after it.
    // It reaches the callback even when the script switched delivery off, so
    // that the callback can always close its run.
    const uint32_t saved = last_throw_code;
    last_throw_code = 0;
    trace_on = tracing = true;
    try {
        fire_trace_event(EV_END, nullptr, -1, nullptr, nullptr);
    } catch (...) {
        make_none(tracer_cell());
        trace_run = trace_on = tracing = false;
        if (!last_throw_code) last_throw_code = saved;
        throw;
    }
    last_throw_code = saved;
    make_none(tracer_cell());
    trace_run = trace_on = tracing = false;
}

void trace_switch(bool on) {
    trace_on = on && trace_run;
    tracing = trace_on;
}

void fire_trace_event(uint32_t event, const Cell* code, int32_t pos, const Cell* value, const Cell* ref,
                      int32_t frame_x) {
    trace_last_event = event;
    if (!(trace_mask & event) || !trace_on) return;
    Cell* const saved_args = stack::arguments;
    Cell* const saved_top = stack::top;
    CallFrame* const saved_frames = stack::frames_top;

    // Everything is copied before anything is pushed: value and ref may sit
    // just above the data top.
    Cell values[6];
    values[0] = event_word(event);
    values[1] = code ? *code : none_value;
    int32_t offset = -1;
    if (code && pos >= 0) {
        const int32_t from = series_position(code);
        if (pos >= from && pos <= int32_t(block_full_length(code))) offset = pos - from;
    }
    make_integer(&values[2], offset);
    values[3] = (value && value->header != 0 && type_of(value) != TYPE_UNSET) ? *value : none_value;
    values[4] = ref ? *ref : none_value;
    values[5] = none_value;
    const Cell fn = *tracer_cell();

    // The cell at the top is kept as it is: it may be the reported value, or
    // an operator's left operand waiting for its call.
    stack::push_slot_keep();
    Cell* pair = pair_push(frame_x >= 0 ? frame_x : int32_t(stack::cell_index(saved_args)),
                           int32_t(stack::cell_index(saved_top)));
    values[5] = *pair;
    stack::top = pair;
    stack::push_function_frame(&rt_words.interp_callback, function_context(&fn));
    push_callback_arguments(&fn, values, 6);

    tracing = false;
    struct Resume {
        ~Resume() { tracing = trace_on; }
    } resume;
    call_function(&fn);
    if (pending()) throw PendingExit{};  // the stacks are already set for the exit's catcher
    stack::pop_function_frame_drop();
    stack::frames_top = saved_frames;
    stack::arguments = saved_args;
    stack::top = saved_top;
}

void trace_error(const KemError& e, const Cell* code, int32_t pos) {
    if (&e == trace_reported_error || !(trace_mask & EV_ERROR)) return;
    trace_reported_error = &e;
    Cell* const top = stack::top;
    const Cell value = *error_from_exception(e);
    // The callback runs Kem code while the error is still on its way to its
    // catcher, which makes its value again from the same arguments.
    RootedError keep_error(e);
    RootedCell keep_made(&value);
    fire_trace_event(EV_ERROR, code, pos, &value, nullptr);
    stack::top = top;
}

uint32_t callback_bits() {
    const Cell* sys = context_global_value_cell(sym_system);
    const Cell* bits = field_of(field_of(field_of(sys, sym_state), sym_callbacks), sym_bits);
    return bits && is_type(bits, TYPE_INTEGER) ? bits->data2 : 0;
}

const Cell* trace_call_ref(const Cell* callable, const Cell* fallback) {
    const TraceCallName* n = trace_call_name;
    if (n && n->callable.header == callable->header && n->callable.data1 == callable->data1 &&
        n->callable.data2 == callable->data2 && n->callable.data3 == callable->data3)
        return &n->ref;
    return fallback;
}

void trace_thrown() { thrown_to = stack::frames_top - 1; }

bool trace_take_caught(const void* frame) {
    if (thrown_to != frame) return false;
    thrown_to = nullptr;
    return true;
}

} // namespace kem::interp
