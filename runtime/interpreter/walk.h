// The general walk: evaluates one value at a time as the block holds it, with
// every trace event. Traced runs go through it, and so does the run loop for
// the few kinds of expression it leaves to it (run.h). Also what the parts
// of the evaluator share: the position tracking and small block helpers.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/core/stack.h"
#include "runtime/interpreter/interpreter.h"

namespace kem::interp {

// Off while the body of a function that is part of the system runs (as
// compiled code would): interpreted? asks.
extern bool track_position;

// Blocks are read by node and index: evaluated code may grow the block it is
// in, which moves its buffer.
inline uint32_t length_of(const Cell* block) { return node_buffer(block->data2)->used() / 16; }
inline Cell cell_at(const Cell* block, uint32_t i) { return node_buffer(block->data2)->cell_head()[i]; }

inline bool callable_type(uint8_t t) {
    return t == TYPE_NATIVE || t == TYPE_ACTION || t == TYPE_FUNCTION || t == TYPE_ROUTINE;
}

// Writes the value on top of the stack into the current result cell when the
// expression is not to stay pushed.
inline void settle(bool push) {
    if (!push) {
        *stack::arguments = *(stack::top - 1);
        stack::top = stack::arguments + 1;
    }
}

// The system's own code stands for compiled code, which notes no position:
// an error in it is reported where the script called it. Every other block,
// also one the system runs for the script (a line at the console, a script
// run by do), notes where its evaluation is.
inline bool tracks_position(NodeId block) { return !(node_buffer(block)->flags & SERIES_SYSTEM_CODE); }

// One expression by the general walk: eval_expression's work, with the trace
// events when tracing.
uint32_t walk_expression(uint32_t pos, uint32_t tail, const Cell* block, EvalFlags flags);

// A set-word's frame holds its word, then its value: stores the value into
// slot, or with no slot (nullptr) by the full assignment, which runs an
// object's change handlers and refuses unset; then pops the frame, keeping
// the value. False when a change handler left with an exit.
bool assign_from_frame(Cell* slot);

// The evaluator's push event, out of the way of the untraced path.
[[gnu::cold, gnu::noinline]] void trace_push(const Cell* block, uint32_t pos, const Cell* value);

// Traced, the path a call at its end was written with, for eval_call to
// name the call by (a path that gives refinements names it already).
extern const Cell* traced_call_path;

} // namespace kem::interp
