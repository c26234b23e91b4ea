// Calls: how the evaluator calls natives, actions, functions and routines.
//
// The run loop calls through a callable's call record (decode.h): the
// arguments are pushed where the callee reads them (a function's become its
// locals, the function's context pointing at them), a native runs at once
// and a function's body is walked by the same loop; the result replaces the
// callable's cell. Calls with refinements, routines and calls in a trace run
// take the general path of eval_call, which reads the argument list entry by
// entry. What both share is here.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/interpreter/decode.h"

namespace kem::interp {

// The call record of fn through a cache (a site, or a path's cache): the one
// it holds when it was filled for this very callee under this epoch.
template <class Cache>
inline CallRecord* cached_record(Cache& c, const Cell* fn) {
    if (c.epoch == cache_epoch && c.callee == fn->data3 && c.callee_type == type_of(fn)) [[likely]]
        return c.call;
    // Making the record allocates, which moves no buffer: c stays where it is.
    CallRecord* rec = call_record(fn);
    c.claim();
    c.callee = fn->data3;
    c.callee_type = type_of(fn);
    c.call = rec;
    return rec;
}

// --- shared with the general walk -------------------------------------------

[[noreturn]] void fire_expect(const Cell* fn_word, const Cell* value, const Cell* callable, int word_index);

// Gathers the arguments of a call whose frame is on top (arguments from
// stack::arguments on) and, for natives and actions, runs them. The first
// `given` arguments are in place already (an operator's operands), only
// checked; with any given, the arguments read take no operators after them.
uint32_t fetch_arguments(const Cell* callable, uint32_t pos, uint32_t tail, const Cell* block, const Cell* path,
                         uint32_t path_pos, uint32_t given, const Cell* fn_word);

// A literal argument ('word): a paren is evaluated, a get-word gives its
// word's value, a get-path is evaluated, any other value is pushed as it
// stands. v was read at pos - 1; returns the position after it.
uint32_t push_literal_argument(const Cell& v, uint32_t pos, uint32_t tail, const Cell* block);

// Every refinement absent, for a native or action called without any.
extern const int32_t no_refinements[64];

// The block ended before argument k of a call through rec: a literal
// argument that allows unset gets it (pushed), any other is missing.
void missing_argument(const Cell& name, const Cell& fn, const CallRecord* rec, uint32_t k);

// Pushes a function's slots after its required arguments: false for each
// refinement, none for each of their arguments, then its locals.
void push_function_slots(const CallRecord* rec);

} // namespace kem::interp
