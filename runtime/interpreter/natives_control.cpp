// Natives: if unless either any all switch case func function does has:
// the conditionals and the function makers. do, get and set are in
// natives_control_eval.cpp.
//
// Blocks are evaluated in place: a native keeps the blocks it walks in its
// own argument cells (or pushes them) so that they stay rooted while the code
// runs, and reads them by node and index, since the code may change them.
#include <algorithm>
#include "runtime/core/errors.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"

namespace kem {

void register_control_eval_natives();

namespace {

using interp::pending;

inline uint32_t length_of(const Cell* block) { return block_full_length(block); }
inline uint32_t start_of(const Cell* block) { return uint32_t(std::max(series_position(block), 0)); }

// Evaluates the block in argument cell `at`; its value becomes the result.
inline void run_block_arg(int at) {
    const Cell body = stack::arguments[at];
    interp::eval_block(&body, true);
}

// --- if unless either ----------------------------------------------------------------

void run_conditional(uint32_t number) {
    if (const Cell* branch = conditional_branch(number)) {
        const Cell body = *branch;
        interp::eval_block(&body, true);
    }
}

void native_if(const int32_t*) { run_conditional(NAT_IF); }
void native_unless(const int32_t*) { run_conditional(NAT_UNLESS); }
void native_either(const int32_t*) { run_conditional(NAT_EITHER); }

// --- any all ---------------------------------------------------------------------------

// Evaluates the expressions of the block in the result cell one by one, each
// pushed above it. any stops at the first truthy value and all at the first
// falsy one; that value (for all: none) is the result. Otherwise any gives
// none and all the last value, or none for an empty block.
void any_or_all(bool any) {
    const Cell conds = stack::arguments[0];  // stays in place until the result is written
    uint32_t pos = start_of(&conds);
    Cell last = none_value;
    while (pos < length_of(&conds)) {
        pos = interp::eval_next(&conds, pos, length_of(&conds), interp::EvalFlags::push);
        if (pending()) return;
        const Cell value = *(stack::top - 1);
        stack::keep_result();
        if (is_truthy(&value) == any) {
            stack::set_last(any ? &value : &none_value);
            return;
        }
        last = value;
    }
    stack::set_last(any ? &none_value : &last);
}

void native_any(const int32_t*) { any_or_all(true); }
void native_all(const int32_t*) { any_or_all(false); }

// --- switch case ------------------------------------------------------------------------

// The block that follows the first value of `cases` equal to `value` and of
// its datatype; none when nothing matches (a block value never does) and
// when no block follows the match. *matched tells the two apart.
Cell switch_select(const Cell* value, const Cell* cases, bool* matched) {
    *matched = false;
    Cell v = *value;
    if (is_type(&v, TYPE_BLOCK)) return none_value;
    const uint32_t tail = length_of(cases);
    for (uint32_t i = start_of(cases); i < tail; i++) {
        Cell item = *block_rs_abs_at(cases, i);
        if (type_of(&item) != type_of(&v) || !compare_outcome(&v, &item, CompareOp::equal)) continue;
        *matched = true;
        for (uint32_t j = i + 1; j < tail; j++) {
            const Cell* after = block_rs_abs_at(cases, j);
            if (is_type(after, TYPE_BLOCK)) return *after;
        }
        return none_value;
    }
    return none_value;
}

void native_switch(const int32_t* refinements) {
    const int32_t default_at = refinements[native_ref(NAT_SWITCH, "default")];
    bool matched = false;
    const Cell found = switch_select(stack::arguments, stack::arguments + 1, &matched);
    if (is_type(&found, TYPE_BLOCK)) {
        // Pushed, so that it stays alive even if its code changes the cases.
        interp::eval_block(stack::push(&found), true);
        return;
    }
    if (!matched && default_at >= 0) {
        run_block_arg(default_at);
        return;
    }
    stack::set_last(&none_value);
}

void native_case(const int32_t* refinements) {
    const bool all = refinements[native_ref(NAT_CASE, "all")] >= 0;
    const Cell cases = stack::arguments[0];  // stays below the frame while the walk runs
    uint32_t pos = start_of(&cases);
    if (pos >= length_of(&cases)) {
        stack::set_last(&none_value);
        return;
    }
    stack::push_frame(&rt_words.anon_frame, FRAME_TOP_NATIVE);
    bool last_true = false;
    while (pos < length_of(&cases)) {
        pos = interp::eval_next(&cases, pos, length_of(&cases), interp::EvalFlags::none);
        if (pending()) return;
        if (pos >= length_of(&cases)) {
            const Cell word = word_load("case");
            fire(Err::script_need_value, word);
        }
        last_true = logic_result_true_q();
        if (!last_true) {
            pos++;  // one value: the block, or the first value of an expression
            continue;
        }
        const Cell next = *block_rs_abs_at(&cases, pos);
        if (is_type(&next, TYPE_BLOCK)) {
            interp::eval_block(&next, true);
            pos++;
        } else {
            pos = interp::eval_next(&cases, pos, length_of(&cases), interp::EvalFlags::none);
        }
        if (pending()) return;
        if (!all) break;
    }
    if (!last_true) stack::set_last(&none_value);
    stack::pop_frame_return_result();
}

// --- function makers ------------------------------------------------------------------------

// The spec in argument cell 0 and the body in cell 1 become a function!,
// which replaces the spec as the result.
void make_function() {
    Cell spec = stack::arguments[0];
    const int32_t length = int32_t(length_of(&spec));
    if (series_position(&spec) > length) set_series_position(&spec, length);
    const uint32_t flags = function_validate(&spec);
    const Cell body = stack::arguments[1];
    const Cell* fn = function_push(&spec, &body, 0, function_system_mode(), 0, flags);
    stack::set_last(fn);
}

void native_func(const int32_t*) { make_function(); }

// The words that /extern keeps global are named in the spec itself, after
// /extern; the native's own /extern refinement adds nothing to that.
void native_function(const int32_t*) {
    const Cell spec = stack::arguments[0];
    block_clone_at(stack::arguments, &spec, false, false);
    set_type(stack::arguments, TYPE_BLOCK);
    const Cell body = stack::arguments[1];
    function_collect_words(stack::arguments, &body);
    make_function();
}

void native_does(const int32_t*) {
    stack::top = stack::arguments + 1;
    stack::push(stack::arguments);
    block_make_at(stack::arguments, 0);
    make_function();
}

void native_has(const int32_t*) {
    const Cell vars = stack::arguments[0];
    block_clone_at(stack::arguments, &vars, false, false);
    set_type(stack::arguments, TYPE_BLOCK);
    block_insert_value(stack::arguments, &rt_refinements.local, false, true);
    make_function();
}

} // namespace

void register_control_natives() {
    native_register(NAT_IF, native_if);
    native_register(NAT_UNLESS, native_unless);
    native_register(NAT_EITHER, native_either);
    native_register(NAT_ANY, native_any);
    native_register(NAT_ALL, native_all);
    native_register(NAT_SWITCH, native_switch);
    native_register(NAT_CASE, native_case);
    native_register(NAT_FUNC, native_func);
    native_register(NAT_FUNCTION, native_function);
    native_register(NAT_DOES, native_does);
    native_register(NAT_HAS, native_has);
    register_control_eval_natives();
}

} // namespace kem
