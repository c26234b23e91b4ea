// Natives: while until loop repeat forever foreach forall remove-each, as
// steps (loops.h) that their native bodies drive with eval_block and that
// the run loop walks itself.
//
// Codes that are not the loop's (return, exit, throw) are left pending and
// the loop stops at once, without touching the stacks the unwinder already
// set.
#include "runtime/interpreter/loops.h"
#include <algorithm>
#include <cmath>
#include <cstdint>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"

namespace kem {

namespace {

// Pushes the loop frame on the current top; its argument base, the next cell,
// is the loop's result cell and starts unset.
void open_loop() {
    stack::push_loop_frame(&rt_words.body_frame);
    make_unset(stack::push_slot());
}

// Pops the loop frame, its result cell becoming the native's result.
inline void close_loop() { stack::pop_frame_return_result(); }

// The result cell stays pushed while the loop steps: code run by a step (a
// change handler behind a word assignment) must not overwrite it.
inline void guard_result() { stack::top = stack::arguments + 1; }

// A loop count: a float is truncated toward zero. Counts beyond the integer
// range saturate rather than wrap, and NaN counts as no passes.
int64_t to_count(const Cell* c) {
    if (!is_type(c, TYPE_FLOAT)) return cell_int(c);
    const double d = cell_float(c);
    if (std::isnan(d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int64_t>(d);
}

// --- series stepping ---------------------------------------------------------------

// The stepping position; a negative one counts as the head, so that no read
// ever lands before the buffer.
inline int64_t step_position(const Cell* s) {
    int32_t p = series_position(s);
    return p < 0 ? 0 : p;
}

inline bool before_tail(const Cell* s) {
    if (is_type(s, TYPE_MAP)) return step_position(s) < int64_t(node_buffer(map_storage(s))->used() / sizeof(Cell));
    return step_position(s) < int64_t(series_unit_count(s));
}

// The value at offset (from the head) of a series: the cell itself for the
// block kinds, what pick gives for the others (none past the tail).
Cell element_at(const Cell* series, int64_t offset) {
    if (any_block_type(type_of(series))) {
        if (offset < int64_t(block_full_length(series))) return *block_rs_abs_at(series, uint32_t(offset));
        return none_value;
    }
    Cell probe = *series;
    set_series_position(&probe, offset);
    Cell boxed;
    make_integer(&boxed, 1);
    return *pick_direct(&probe, 1, &boxed);
}

inline bool loop_word_type(uint8_t t) { return t >= TYPE_WORD && t <= TYPE_GET_WORD; }

// One word per pass: sets the word to the value at the position and moves on.
bool step_one(Cell* word, Cell* series) {
    if (!before_tail(series)) return false;
    const int64_t pos = step_position(series);
    Cell value = element_at(series, pos);
    word_set(word, &value);
    set_series_position(series, pos + 1);
    return true;
}

// The words block's word i (from its position); false when the block has
// shrunk below it since the loop began.
bool loop_word(const Cell* words, uint32_t i, Cell* out) {
    const int64_t at = int64_t(step_position(words)) + i;
    if (at >= int64_t(block_full_length(words))) return false;
    *out = *block_rs_abs_at(words, uint32_t(at));
    return true;
}

// n words per pass: word i gets the value i places after the position (none
// past the tail), then the position moves on by n. Every item of the words
// block must be a word kind before anything is assigned: setting through any
// other cell would write through whatever its payload happens to hold.
bool step_many(const Cell* words, Cell* series, uint32_t n) {
    if (!before_tail(series)) return false;
    if (is_type(series, TYPE_MAP)) {
        if (n != 2) fire(Err::script_invalid_arg, *words);
        return map_collect_key_words(words, series);
    }
    Cell w;
    for (uint32_t i = 0; i < n && loop_word(words, i, &w); i++)
        if (!loop_word_type(type_of(&w))) fire(Err::script_invalid_arg, w);
    const int64_t pos = step_position(series);
    for (uint32_t i = 0; i < n && loop_word(words, i, &w); i++) {
        Cell value = element_at(series, pos + i);
        word_set(&w, &value);
    }
    set_series_position(series, pos + n);
    return true;
}

// The number of loop words: 1 for a word, else the words block's length from
// its position; an empty block is refused.
uint32_t word_count(const Cell* words) {
    if (!is_type(words, TYPE_BLOCK)) return 1;
    const int32_t n = block_rs_length(words);
    if (n <= 0) fire(Err::script_invalid_arg, *words);
    return uint32_t(n);
}

inline bool step(Cell* words, Cell* series, uint32_t n) {
    guard_result();
    return is_type(words, TYPE_BLOCK) ? step_many(words, series, n) : step_one(words, series);
}

// Removes the n values the pass just visited: they end just before the
// stepping position. A body that shrank the series cannot make the removal
// reach outside it.
void remove_visited(Cell* series, uint32_t n) {
    int64_t pos = int64_t(series_position(series)) - n;
    if (pos < 0) pos = 0;
    set_series_position(series, pos);
    Cell target = *series;
    if (n > 1) {
        Cell part;
        make_integer(&part, int32_t(n));
        remove_direct(&target, RemoveArgs{.part = &part});
    } else {
        remove_direct(&target, RemoveArgs{});
    }
    set_series_position(series, pos);
}

// The series the forall word refers to now: it must still be the loop's
// buffer, since the loop moves its position in place.
Cell* forall_series(const Cell* word, const Cell* start) {
    Cell* value = word_value_cell(word);
    if (!any_series_type(type_of(value)) || series_node(value) != series_node(start))
        fire(Err::script_bad_loop_series, *value);
    return value;
}

inline void set_next(LoopState& s, LoopNext n) { s.next = n; }

// The body block of the loop.
const Cell* body_of(const LoopState& s) {
    switch (s.number) {
    case NAT_UNTIL:
    case NAT_FOREVER: return s.args;
    case NAT_WHILE:
    case NAT_LOOP:
    case NAT_FORALL: return s.args + 1;
    default: return s.args + 2;  // repeat, foreach, remove-each
    }
}

// Before a pass: whether there is one, setting the loop's words for it.
bool advance(LoopState& s) {
    switch (s.number) {
    case NAT_LOOP: return s.done++ < s.count;
    case NAT_REPEAT:
        // The word is set from a counter the body cannot reach, so whatever
        // the body stores in the word, the count goes on undisturbed.
        if (++s.done > s.count) return false;
        make_integer(s.series, int32_t(s.done));
        guard_result();
        word_set(s.word, s.series);
        return true;
    case NAT_FOREACH: return step(s.word, s.series, s.words);
    case NAT_FORALL: return before_tail(forall_series(s.word, s.series));
    case NAT_REMOVE_EACH:
        // An empty words block takes nothing: there is nothing to step through.
        return s.words > 0 && step(s.word, s.series, s.words);
    default: return true;  // until, forever
    }
}

// The loop is over: its result, and the loop frame goes.
void finish(LoopState& s) {
    switch (s.number) {
    case NAT_WHILE: make_unset(stack::arguments); break;
    case NAT_FORALL:
        // After a break the word stays where the break found it.
        if (!s.broke) {
            guard_result();
            word_set(s.word, s.series);
        }
        break;
    case NAT_REMOVE_EACH: *stack::arguments = s.args[1]; break;
    default: break;
    }
    close_loop();
}

// After a pass that was not broken (normal, or continued).
void after_pass(LoopState& s, bool continued) {
    switch (s.number) {
    case NAT_WHILE: set_next(s, NEXT_COND); return;
    case NAT_UNTIL:
        // continue skips the test.
        set_next(s, !continued && is_truthy(stack::arguments) ? NEXT_END : NEXT_PASS);
        return;
    case NAT_FORALL: {
        Cell* at = forall_series(s.word, s.series);
        set_series_position(at, int64_t(series_position(at)) + 1);
        break;
    }
    case NAT_REMOVE_EACH:
        if (!continued && is_truthy(stack::arguments)) {
            guard_result();
            remove_visited(s.series, s.words);
        }
        break;
    default: break;
    }
    set_next(s, NEXT_PASS);
}

} // namespace

bool loop_native(uint32_t number) {
    switch (number) {
    case NAT_WHILE:
    case NAT_UNTIL:
    case NAT_LOOP:
    case NAT_REPEAT:
    case NAT_FOREVER:
    case NAT_FOREACH:
    case NAT_FORALL:
    case NAT_REMOVE_EACH: return true;
    default: return false;
    }
}

bool loop_open(uint32_t number, LoopState& s) {
    Cell* args = stack::arguments;
    s = LoopState{.number = number, .next = NEXT_PASS, .handed = HANDED_BODY, .broke = 0, .words = 0, .count = 0,
                  .done = 0, .args = args, .series = nullptr, .word = nullptr};
    switch (number) {
    case NAT_WHILE:
        stack::top = args + 2;
        s.next = NEXT_COND;
        break;
    case NAT_UNTIL:
    case NAT_FOREVER: stack::top = args + 1; break;
    case NAT_LOOP:
        s.count = to_count(args);
        if (s.count < 1) {
            stack::set_last_keep(&none_value);
            return false;
        }
        stack::top = args + 2;
        break;
    case NAT_REPEAT:
        s.count = to_count(args + 1);
        if (s.count < 1) {
            stack::set_last_keep(&none_value);
            return false;
        }
        s.word = args;
        s.series = args + 1;
        stack::top = args + 3;
        break;
    case NAT_FOREACH: {
        const uint32_t n = word_count(args);
        if (!is_type(args, TYPE_BLOCK) && is_type(args + 1, TYPE_MAP)) fire(Err::script_invalid_arg, *args);
        s.words = n;
        stack::top = args + 3;
        s.series = stack::push(args + 1);
        s.word = stack::push(args);
        break;
    }
    case NAT_FORALL: {
        const Cell value = *word_value_cell(args);
        if (!any_series_type(type_of(&value))) fire_expect_arg(&value, 0);
        stack::top = args + 2;
        s.series = stack::push(&value);
        s.word = stack::push(args);
        break;
    }
    default: {  // remove-each
        const uint32_t n = is_type(args, TYPE_BLOCK) ? uint32_t(std::max(block_rs_length(args), 0)) : 1;
        s.words = n;
        stack::top = args + 3;
        make_integer(stack::push_slot(), int32_t(n));
        s.series = stack::push(args + 1);
        s.word = stack::push(args);
        break;
    }
    }
    open_loop();
    return true;
}

const Cell* loop_step(LoopState& s) {
    switch (s.next) {
    case NEXT_COND:
        stack::top = stack::arguments;
        s.handed = HANDED_COND;
        return s.args;
    case NEXT_BODY: break;
    case NEXT_PASS:
        if (advance(s)) break;
        [[fallthrough]];
    default:
        finish(s);
        return nullptr;
    }
    stack::top = stack::arguments;
    s.handed = HANDED_BODY;
    s.next = NEXT_PASS;
    return body_of(s);
}

bool loop_settle(LoopState& s) {
    const uint32_t code = last_throw_code;
    if (s.handed == HANDED_COND) {
        if (code == THROW_CODE_BREAK || code == THROW_CODE_CONTINUE) {
            last_throw_code = 0;
            fire(Err::throw__while_cond);
        }
        if (code) return false;
        set_next(s, logic_result_true_q() ? NEXT_BODY : NEXT_END);
        return true;
    }
    switch (code) {
    case 0: after_pass(s, false); return true;
    case THROW_CODE_CONTINUE:
        last_throw_code = 0;
        after_pass(s, true);
        return true;
    case THROW_CODE_BREAK:
        last_throw_code = 0;
        s.broke = 1;
        set_next(s, NEXT_END);
        return true;
    default: return false;
    }
}

namespace {

// A loop native's body: the steps, each block evaluated here.
template <uint32_t Number>
void run_loop_native(const int32_t*) {
    LoopState s;
    if (!loop_open(Number, s)) return;
    while (const Cell* block = loop_step(s)) {
        interp::eval_block(block, true);
        if (!loop_settle(s)) return;
    }
}

} // namespace

void register_loop_natives() {
    native_register(NAT_WHILE, run_loop_native<NAT_WHILE>);
    native_register(NAT_UNTIL, run_loop_native<NAT_UNTIL>);
    native_register(NAT_LOOP, run_loop_native<NAT_LOOP>);
    native_register(NAT_REPEAT, run_loop_native<NAT_REPEAT>);
    native_register(NAT_FOREVER, run_loop_native<NAT_FOREVER>);
    native_register(NAT_FOREACH, run_loop_native<NAT_FOREACH>);
    native_register(NAT_FORALL, run_loop_native<NAT_FORALL>);
    native_register(NAT_REMOVE_EACH, run_loop_native<NAT_REMOVE_EACH>);
}

} // namespace kem
