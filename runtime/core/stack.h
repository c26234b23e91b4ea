// The data stack of cells and the call stack of frames.
//
// Both live in buffers that never move, so raw pointers into them are safe.
// A call's first argument cell is also its result cell.
//
// Non-local exits: break, continue, return, exit and throw set the stack to
// their target frame at once and leave their code in `last_throw_code`; every
// C++ caller returns at once while a code is pending (no frame popping on the
// way) until the catcher that owns the code clears it. Errors travel as a C++
// KemError exception; the catch point restores the stack itself.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace kem {

extern uint32_t last_throw_code;

// Kem code called from C++ code that cannot check for pending exits (change
// handlers, comparators) may end with an exit aimed at a frame outside it: the
// code stays in last_throw_code and this exception carries it across that C++
// code. The evaluator catches it where a call returns and goes on as for any
// pending exit.
struct PendingExit {};

struct CallFrame {
    uint32_t header;       // bits 8-23 symbol, 24-27 kind, 28 return target, 31 pushed by the evaluator
    uint32_t saved_args;   // the caller's argument base, as a cell index from the bottom
    NodeId context;        // context of the called word (0 when none)
    NodeId function_ctx;   // kind 1: the function's context
    NodeId saved_values;   // kind 1: that context's values node at the push
};
static_assert(sizeof(CallFrame) == 20);

enum FrameKind : uint8_t {
    FRAME_FUNCTION = 1,
    FRAME_NATIVE = 2,
    FRAME_TRY = 4,
    FRAME_TRY_ALL = 5,
    FRAME_CATCH = 6,
    FRAME_EVAL = 7,
    FRAME_LOOP = 8,
};

// Header top bytes of the push operations.
constexpr uint8_t FRAME_TOP_FUNCTION = 0x01;
constexpr uint8_t FRAME_TOP_INTERP_FUNCTION = 0x81;
constexpr uint8_t FRAME_TOP_NATIVE = 0x02;
constexpr uint8_t FRAME_TOP_INTERP_NATIVE = 0x82;
constexpr uint8_t FRAME_TOP_COMPILED_FUNCTION = 0x12;
constexpr uint8_t FRAME_TOP_TRY = 0x04;
constexpr uint8_t FRAME_TOP_TRY_ALL = 0x05;
constexpr uint8_t FRAME_TOP_CATCH = 0x06;
constexpr uint8_t FRAME_TOP_EVAL = 0x87;
constexpr uint8_t FRAME_TOP_LOOP = 0x08;

constexpr uint32_t FRAME_RETURN_TARGET = 0x10000000;
constexpr uint32_t FRAME_EVAL_BIT = 0x80000000;

inline uint8_t frame_kind(const CallFrame* f) { return (f->header >> 24) & 0x0F; }
inline uint32_t frame_symbol(const CallFrame* f) { return (f->header >> 8) & 0xFFFF; }

// Context helpers the frames need (the context module keeps its values node in
// payload word 2 of the context! cell at the head of the context's buffer; the
// header flag tells values on the data stack from a values series).
constexpr uint32_t CONTEXT_VALUES_ON_STACK = 0x400000;
inline bool context_values_on_stack(NodeId ctx) {
    return (node_buffer(ctx)->cell_head()->header & CONTEXT_VALUES_ON_STACK) != 0;
}
// A context with values on the data stack keeps the cell index of value 0 plus
// one, so that 0 still means "no call running" for a call based at the stack
// bottom. Saving and restoring through these two functions round-trips either way.
inline NodeId context_values_node(NodeId ctx) {
    const Cell* c = node_buffer(ctx)->cell_head();
    return (c->header & CONTEXT_VALUES_ON_STACK) ? c->data2 - 1 : c->data2;
}
inline void set_context_values_node(NodeId ctx, NodeId values) {
    Cell* c = node_buffer(ctx)->cell_head();
    c->data2 = (c->header & CONTEXT_VALUES_ON_STACK) ? values + 1 : values;
}

namespace stack {

constexpr uint32_t DATA_CELLS = 20000;
constexpr uint32_t CALL_FRAMES = 12000;

extern Cell* bottom;
extern Cell* top;
extern Cell* limit;
extern Cell* arguments;
extern CallFrame* frames_bottom;
extern CallFrame* frames_top;
extern CallFrame* frames_limit;
extern CallFrame* throw_origin;
extern uint32_t anon_symbol;
extern uint32_t body_symbol;

// Makes the two stack buffers (on the process heap: they never move).
void init(uint32_t data_cells = DATA_CELLS, uint32_t frames = CALL_FRAMES);
bool ready();
// Where the nodes of the two stack buffers are kept (the collector marks
// them there, and rewrites them if they move).
NodeId* data_buffer_slot();
NodeId* call_buffer_slot();

inline uint32_t cell_index(const Cell* c) { return static_cast<uint32_t>(c - bottom); }
inline bool empty_frames() { return frames_top == frames_bottom; }

// --- frames
[[noreturn]] void overflow();
// Every call pushes a frame: inline, with its one check.
inline void push_frame_named(uint32_t symbol, NodeId context, uint8_t top_byte) {
    if (frames_top >= frames_limit) [[unlikely]] overflow();
    CallFrame* f = frames_top;
    f->header = ((symbol & 0xFFFF) << 8) | (uint32_t(top_byte) << 24);
    f->saved_args = cell_index(arguments);
    f->context = context;
    f->function_ctx = 0;
    f->saved_values = 0;
    frames_top++;
    arguments = top;
}
inline void push_frame(const Cell* word, uint8_t top_byte) { push_frame_named(word->data2, word->data1, top_byte); }
// A function frame keeps its context's values word as it found it (the
// context cell's payload word 2, either kind), to put it back at the pop.
inline void push_function_frame(const Cell* word, NodeId function_ctx) {
    push_frame(word, FRAME_TOP_FUNCTION);
    CallFrame* f = frames_top - 1;
    f->function_ctx = function_ctx;
    f->saved_values = function_ctx ? node_buffer(function_ctx)->cell_head()->data2 : 0;
}
inline void push_interp_function_frame(const Cell* word, NodeId function_ctx) {
    push_function_frame(word, function_ctx);
    (frames_top - 1)->header |= FRAME_EVAL_BIT;
}
// The run loop's function frame takes its context only once every argument
// is in place (an argument's own calls of the function put theirs back),
// pointing the context at the arguments from then on.
inline void enter_function_context(CallFrame* f, NodeId ctx) {
    Cell* c = node_buffer(ctx)->cell_head();
    f->function_ctx = ctx;
    f->saved_values = c->data2;
    c->data2 = cell_index(arguments) + ((c->header & CONTEXT_VALUES_ON_STACK) ? 1 : 0);
}
inline void push_native_frame(const Cell* w) { push_frame(w, FRAME_TOP_NATIVE); }
inline void push_interp_native_frame(const Cell* w) { push_frame(w, FRAME_TOP_INTERP_NATIVE); }
inline void push_try_frame(const Cell* w) { push_frame(w, FRAME_TOP_TRY); }
inline void push_try_barrier_frame(const Cell* w) { push_frame(w, FRAME_TOP_TRY_ALL); }
inline void push_catch_frame(const Cell* w) { push_frame(w, FRAME_TOP_CATCH); }
inline void push_loop_frame(const Cell* w) { push_frame(w, FRAME_TOP_LOOP); }

void pop_frame();
[[gnu::always_inline]] inline void pop_frame_keep_result() {
    CallFrame* f = --frames_top;
    top = arguments + 1;
    arguments = bottom + f->saved_args;
}
// A function frame puts back the values its function's context had.
inline void leave_function_context(const CallFrame* f) {
    node_buffer(f->function_ctx)->cell_head()->data2 = f->saved_values;
}
inline void restore_function_context(const CallFrame* f) {
    if (frame_kind(f) == FRAME_FUNCTION && f->function_ctx) leave_function_context(f);
}
inline void pop_function_frame_keep_result() {
    restore_function_context(frames_top - 1);
    pop_frame_keep_result();
}
void pop_frame_return_result();
void pop_frame_drop();
void pop_function_frame_drop();

inline CallFrame* top_frame() { return frames_top - 1; }
void set_return_target(bool flag);
CallFrame* claim_return_target();
void release_return_target(CallFrame* f);
void mark_eval();
bool eval_q(CallFrame* from, bool only_next);

// --- cells
[[gnu::always_inline]] inline Cell* push_slot() {
    Cell* c = top;
    if (c + 1 >= limit) [[unlikely]] overflow();
    top = c + 1;
    // Never a stale value: the collector reads every cell below the top.
    c->header = TYPE_UNSET;
    return c;
}
// Takes the cell at the top as it stands: a value left just above the top
// (an operator's left operand) stays. The caller must know the cell holds a
// value, since the collector reads it.
Cell* push_slot_keep();
inline Cell* push(const Cell* v) {
    Cell* c = push_slot();
    *c = *v;
    return c;
}
void pop(uint32_t n);
inline void reset() { top = arguments; }
inline void keep_result() { top = arguments + 1; }
inline Cell* set_last(const Cell* v) {
    *arguments = *v;
    return arguments;
}
inline Cell* set_last_keep(const Cell* v) {
    *arguments = *v;
    top = arguments + 1;
    return arguments;
}
inline Cell* top_value() { return top == bottom ? bottom : top - 1; }
inline Cell* arg(int n) { return arguments + n; }

// Whether a frame names a word in reports (datatypes/stack_words.h): not
// "<anon>" or "<body>" frames.
inline bool frame_named(const CallFrame* f) {
    uint32_t sym = frame_symbol(f);
    return sym != 0 && sym != anon_symbol && sym != body_symbol;
}

// --- unwinding
void pop_frames_to_kind(uint8_t kind, bool keep);
// Restores the stacks to a frame position saved before a call (the catch side
// of an error): pops every frame above it, restoring function contexts.
void unwind_to(CallFrame* frames_mark, Cell* args, Cell* data_top);

// These set the stacks to their target and leave their code in last_throw_code;
// with no target they raise the matching throw-category error.
void break_loop(bool with_value, bool is_continue);
// start_here: the evaluator runs return and exit without a frame of their own;
// it passes the word they were called by, which then names the error.
void unwind_return(bool is_return, bool start_here, const Cell* word = nullptr);
// The stacks of a return or exit landing on target, the innermost return
// target: the frames above it pop (their function contexts put back) and
// its result cell gets value. No code is left pending.
void return_to(CallFrame* target, const Cell* value);
void throw_value(uint32_t code);

} // namespace stack
} // namespace kem
