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
#include "runtime/datatypes/evaluator.h"

namespace kem::interp {

// Also the entry points datatypes call: position, pending, eval_block,
// call_function and push_callback_arguments (datatypes/evaluator.h).

// Whether the code running is the body of a function of the system (the
// library): calls it makes stand for calls made by compiled code.
bool running_system_code();

void init();

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


} // namespace kem::interp
