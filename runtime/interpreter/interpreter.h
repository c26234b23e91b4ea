// The evaluator: runs blocks of values one expression at a time.
//
// Results live on the data stack. A non-local exit (break, continue, return,
// exit, throw) leaves its code in last_throw_code with the stacks already set
// for its catcher: every function here returns at once while a code is
// pending, and callers must do the same. Errors travel as C++ exceptions.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/stack.h"

namespace kem::interp {

// The block being evaluated and, as its index, the expression being evaluated.
extern Cell position;

inline bool pending() { return last_throw_code != 0; }

void init();

// Evaluates a block (or paren) from its position to its tail in an eval frame.
// The last result is copied into the caller's result cell (return_result) or
// left pushed on the stack.
void eval_block(const Cell* block, bool return_result);

// Evaluates one expression of `block` starting at index pos; infix operators
// that follow apply unless no_infix. The result is pushed (push) or written
// into the current result cell with the data top just past it. Returns the
// index after the expression.
uint32_t eval_expression(uint32_t pos, uint32_t tail, const Cell* block, bool no_infix, bool push,
                         bool literal_callables);

// One expression in its own native frame named <body>; the result is pushed
// (push) or returned into the current result cell. Returns the next index.
uint32_t eval_next(const Cell* block, uint32_t pos, uint32_t tail, bool push);

// The expression at the value's own position (do/next); unset at the tail.
// Returns the new index.
uint32_t eval_at(const Cell* block);

// Calls a native!, action!, function! or routine! whose arguments follow at
// pos in the block. name: the word that named it (or nullptr); path and
// path_pos: the refinements given in a path after it (or nullptr).
uint32_t eval_call(const Cell* callable, uint32_t pos, uint32_t tail, const Cell* block, bool push,
                   const Cell* name, const Cell* path, uint32_t path_pos, bool infix);

// Evaluates a path!, get-path! or set-path! value (set: the value to store is
// the current result cell). Returns the next index.
uint32_t eval_path(const Cell* path, uint32_t pos, uint32_t tail, const Cell* block, bool set, bool get,
                   bool push);

// Runs a function whose argument and local cells are already on the data
// stack, in the function frame on top.
// trace_flags: the kind bit of a runtime caller that runs the function as a
// callback (sort, parse, lexer, change handlers ...); 0 for the evaluator.
void call_function(const Cell* fn, uint32_t trace_flags = 0);

// Pushes the arguments of a function that runtime code calls back (trace,
// lexer, sort and change callbacks): values[0..n) for its leading arguments
// (a callback may take fewer; none past them), false for its refinements,
// then its locals. Returns how many values it took. Its frame is already on top.
int push_callback_arguments(const Cell* fn, const Cell* values, int n);

} // namespace kem::interp
