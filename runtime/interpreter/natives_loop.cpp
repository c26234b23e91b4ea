// Natives: while until loop repeat forever foreach forall remove-each.
//
// Every loop runs its passes inside one loop frame (named <body>) whose
// argument base is the loop's result cell: break and continue unwind to that
// frame and leave their value (or unset) there, so after each pass the cell
// holds what the loop answers if it ends now. Codes that are not the loop's
// (return, exit, throw) are left pending and the native returns at once,
// without touching the stacks the unwinder already set.
//
// Loop state that must survive a pass lives in data-stack cells below the
// loop frame (they never move and the body cannot reach them); plain counts
// live in C++ locals.
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

// --- the shared skeleton --------------------------------------------------------

// How a pass ended.
enum class Pass : uint8_t {
    normal,     // the body ran to its end
    continued,  // continue: the result cell is unset
    broke,      // break: the result cell holds unset or break/return's value
    left,       // an exit that belongs to someone else is in flight
};

// Pushes the loop frame on the current top; its argument base, the next cell,
// is the loop's result cell and starts unset.
void open_loop() {
    stack::push_loop_frame(&rt_words.body_frame);
    make_unset(stack::push_slot());
}

// Pops the loop frame, its result cell becoming the native's result.
inline void close_loop() { stack::pop_frame_return_result(); }

// Takes the loop's own codes; anything else stays pending.
Pass settle_pass() {
    switch (last_throw_code) {
    case 0: return Pass::normal;
    case THROW_CODE_CONTINUE: last_throw_code = 0; return Pass::continued;
    case THROW_CODE_BREAK: last_throw_code = 0; return Pass::broke;
    default: return Pass::left;
    }
}

// One evaluation of a block in the loop frame, its value into the result cell.
Pass run_pass(const Cell* body) {
    stack::top = stack::arguments;
    interp::eval_block(body, true);
    return settle_pass();
}

// The result cell stays pushed while the loop steps: code run by a step (a
// change handler behind a word assignment) must not overwrite it.
inline void guard_result() { stack::top = stack::arguments + 1; }

inline bool never_done(Pass) { return false; }

// The passes of a loop: body runs while more() holds, and done(pass), asked
// after each pass that was not broken, may end the loop. Answers how the last
// pass ended: left when an exit that is not the loop's is in flight (the
// native then returns at once, leaving the loop frame to the unwinder),
// broke after a break, normal otherwise.
template <class More, class Done = bool (*)(Pass)>
Pass run_passes(const Cell* body, More more, Done done = never_done) {
    while (more()) {
        const Pass p = run_pass(body);
        if (p == Pass::left || p == Pass::broke) return p;
        if (done(p)) break;
    }
    return Pass::normal;
}

inline bool always() { return true; }

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

// --- the natives ------------------------------------------------------------------------

// cond body: the result is always unset.
void native_while(const int32_t*) {
    Cell* args = stack::arguments;
    stack::top = args + 2;
    open_loop();
    bool cond_left = false;  // an exit out of the condition is in flight
    const auto cond = [&] {
        stack::top = stack::arguments;
        interp::eval_block(args, true);
        if (last_throw_code == THROW_CODE_BREAK || last_throw_code == THROW_CODE_CONTINUE) {
            last_throw_code = 0;
            fire(Err::throw__while_cond);
        }
        cond_left = interp::pending();
        return !cond_left && logic_result_true_q();
    };
    if (run_passes(args + 1, cond) == Pass::left || cond_left) return;
    make_unset(stack::arguments);
    close_loop();
}

// body: until its value is truthy; continue skips the test.
void native_until(const int32_t*) {
    Cell* args = stack::arguments;
    stack::top = args + 1;
    open_loop();
    const auto truthy = [](Pass p) { return p == Pass::normal && is_truthy(stack::arguments); };
    if (run_passes(args, always, truthy) == Pass::left) return;
    close_loop();
}

// count body
void native_loop(const int32_t*) {
    Cell* args = stack::arguments;
    const int64_t count = to_count(args);
    if (count < 1) {
        stack::set_last_keep(&none_value);
        return;
    }
    stack::top = args + 2;
    open_loop();
    int64_t i = 0;
    if (run_passes(args + 1, [&] { return i++ < count; }) == Pass::left) return;
    close_loop();
}

// 'word value body: the word is set from a counter the body cannot reach, so
// whatever the body stores in the word, the count goes on undisturbed.
void native_repeat(const int32_t*) {
    Cell* args = stack::arguments;
    const int64_t count = to_count(args + 1);
    if (count < 1) {
        stack::set_last_keep(&none_value);
        return;
    }
    Cell* word = args;
    Cell* counter = args + 1;
    stack::top = args + 3;
    open_loop();
    int64_t i = 0;
    const auto next = [&] {
        if (++i > count) return false;
        make_integer(counter, int32_t(i));
        guard_result();
        word_set(word, counter);
        return true;
    };
    if (run_passes(args + 2, next) == Pass::left) return;
    close_loop();
}

// body: only break (or an exit passing through) ends it.
void native_forever(const int32_t*) {
    Cell* args = stack::arguments;
    stack::top = args + 1;
    open_loop();
    if (run_passes(args, always) == Pass::left) return;
    close_loop();
}

// 'word series body: steps a private copy of the series.
void native_foreach(const int32_t*) {
    Cell* args = stack::arguments;
    const uint32_t n = word_count(args);
    if (!is_type(args, TYPE_BLOCK) && is_type(args + 1, TYPE_MAP)) fire(Err::script_invalid_arg, *args);
    stack::top = args + 3;
    Cell* series = stack::push(args + 1);
    Cell* words = stack::push(args);
    open_loop();
    if (run_passes(args + 2, [&] { return step(words, series, n); }) == Pass::left) return;
    close_loop();
}

// The series the forall word refers to now: it must still be the loop's
// buffer, since the loop moves its position in place.
Cell* forall_series(const Cell* word, const Cell* start) {
    Cell* value = word_value_cell(word);
    if (!any_series_type(type_of(value)) || series_node(value) != series_node(start))
        fire(Err::script_bad_loop_series, *value);
    return value;
}

// 'word body: moves the word's own series through its positions.
void native_forall(const int32_t*) {
    Cell* args = stack::arguments;
    const Cell value = *word_value_cell(args);
    if (!any_series_type(type_of(&value))) fire_expect_arg(&value, 0);
    stack::top = args + 2;
    Cell* start = stack::push(&value);
    Cell* word = stack::push(args);
    open_loop();
    const auto advance = [&](Pass) {
        Cell* at = forall_series(word, start);
        set_series_position(at, int64_t(series_position(at)) + 1);
        return false;
    };
    const Pass end = run_passes(args + 1, [&] { return before_tail(forall_series(word, start)); }, advance);
    if (end == Pass::left) return;
    if (end != Pass::broke) {  // after a break the word stays where the break found it
        guard_result();
        word_set(word, start);
    }
    close_loop();
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

// 'word data body: the result is the data at its starting position.
void native_remove_each(const int32_t*) {
    Cell* args = stack::arguments;
    const uint32_t n = is_type(args, TYPE_BLOCK) ? uint32_t(std::max(block_rs_length(args), 0)) : 1;
    stack::top = args + 3;
    make_integer(stack::push_slot(), int32_t(n));
    Cell* series = stack::push(args + 1);
    Cell* words = stack::push(args);
    open_loop();
    // An empty words block takes nothing: there is nothing to step through.
    const auto more = [&] { return n > 0 && step(words, series, n); };
    const auto remove_if_truthy = [&](Pass p) {
        if (p == Pass::normal && is_truthy(stack::arguments)) {
            guard_result();
            remove_visited(series, n);
        }
        return false;
    };
    if (run_passes(args + 2, more, remove_if_truthy) == Pass::left) return;
    *stack::arguments = args[1];
    close_loop();
}

} // namespace

void register_loop_natives() {
    native_register(NAT_WHILE, native_while);
    native_register(NAT_UNTIL, native_until);
    native_register(NAT_LOOP, native_loop);
    native_register(NAT_REPEAT, native_repeat);
    native_register(NAT_FOREVER, native_forever);
    native_register(NAT_FOREACH, native_foreach);
    native_register(NAT_FORALL, native_forall);
    native_register(NAT_REMOVE_EACH, native_remove_each);
}

} // namespace kem
