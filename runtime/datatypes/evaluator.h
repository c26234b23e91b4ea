// The evaluator as the datatypes see it: the entry points through which a
// datatype runs Kem code (make object! and error! from a spec block, sort
// comparators, change handlers). The interpreter, a layer above, defines
// them; declaring them here keeps every include pointing down.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/stack.h"

namespace kem::interp {

// The block being evaluated and, as its index, the expression being evaluated.
extern Cell position;

// A non-local exit is pending: the caller returns at once.
inline bool pending() { return last_throw_code != 0; }

// Evaluates a block (or paren) from its position to its tail in an eval frame.
// The last result is copied into the caller's result cell (return_result) or
// left pushed on the stack.
void eval_block(const Cell* block, bool return_result);

// Kind bits of the runtime's callers of Kem callbacks, in the order of the
// fields of system/state/callbacks.
enum CallbackKind : uint32_t {
    CALLBACK_EVAL = 0,
    CALLBACK_LEXER = 1,
    CALLBACK_PARSE = 2,
    CALLBACK_SORT = 4,
    CALLBACK_CHANGE = 8,
    CALLBACK_DEEP = 16,
    CALLBACK_PORT = 32,
};

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
