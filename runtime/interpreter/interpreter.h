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

// How an entry point of the evaluator treats what it evaluates; the flags
// combine with |.
enum class EvalFlags : uint32_t {
    none = 0,
    push = 1,               // the result is pushed, not written into the current result cell
    no_infix = 2,           // operators after the expression do not apply
    literal_callables = 4,  // a function value in the block is the result, not called
    infix = 8,              // an operator's call: its left operand, pushed already, is the first argument
    set = 16,               // a set-path: the current result cell is the value to store
    get = 32,               // a get-path: a function at its end is not called
};
constexpr EvalFlags operator|(EvalFlags a, EvalFlags b) { return EvalFlags(uint32_t(a) | uint32_t(b)); }
constexpr bool has(EvalFlags flags, EvalFlags f) { return (uint32_t(flags) & uint32_t(f)) != 0; }

// Evaluates one expression of `block` starting at index pos; infix operators
// that follow apply unless no_infix. The result is pushed (push) or written
// into the current result cell with the data top just past it. Returns the
// index after the expression. Flags: push, no_infix, literal_callables.
uint32_t eval_expression(uint32_t pos, uint32_t tail, const Cell* block, EvalFlags flags);

// One expression in its own native frame named <body>; the result is pushed
// (push) or returned into the current result cell. Returns the next index.
uint32_t eval_next(const Cell* block, uint32_t pos, uint32_t tail, EvalFlags flags);

// The expression at the value's own position (do/next); unset at the tail.
// Returns the new index.
uint32_t eval_at(const Cell* block);

// Calls a native!, action!, function! or routine! whose arguments follow at
// pos in the block. name: the word that named it (or nullptr); path and
// path_pos: the refinements given in a path after it (or nullptr). Flags:
// push, infix.
uint32_t eval_call(const Cell* callable, uint32_t pos, uint32_t tail, const Cell* block, EvalFlags flags,
                   const Cell* name, const Cell* path, uint32_t path_pos);

// Evaluates a path!, get-path! or set-path! value. Returns the next index.
// Flags: set, get, push.
uint32_t eval_path(const Cell* path, uint32_t pos, uint32_t tail, const Cell* block, EvalFlags flags);

} // namespace kem::interp
