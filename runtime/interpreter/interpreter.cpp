#include "runtime/interpreter/interpreter.h"
#include <cstring>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/stack_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/dispatch.h"
#include "runtime/interpreter/natives.h"
#include "runtime/interpreter/trace.h"

namespace kem::interp {

Cell position = {TYPE_UNSET, 0, 0, 0};

namespace {
// Off while the body of a function that is part of the system runs (as
// compiled code would): interpreted? asks.
bool track_position = true;
} // namespace

bool running_system_code() { return !track_position; }

namespace {

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

[[noreturn]] void fire_expect(const Cell* fn_word, const Cell* value, const Cell* callable, int word_index) {
    Cell type;
    make_datatype(&type, type_of(value));
    Cell spec = callable_spec(callable);
    fire(Err::script_expect_arg, *fn_word, type, spec_argument_word(&spec, word_index));
}

// The name a call's frame carries.
Cell frame_name(const Cell* name, const Cell* path) {
    if (name) return *name;
    if (path) {
        Cell first = cell_at(path, path->data1);
        if (type_of(&first) == TYPE_WORD) return first;
    }
    return rt_words.anon_frame;
}

// How refinements given in a path are placed: each name looked up in the
// argument list. Returns the entry index of the refinement, -1 when absent.
int32_t find_refinement(const Cell* list, uint32_t n, uint32_t symbol) {
    for (uint32_t i = 0; i < n; i++) {
        Cell e = cell_at(list, i);
        if (type_of(&e) == TYPE_REFINEMENT && symbol_resolve(e.data2) == symbol_resolve(symbol)) return int32_t(i);
    }
    return -1;
}

uint32_t fetch_argument(const Cell* entry, uint32_t pos, uint32_t tail, const Cell* block, bool infix_call,
                        const Cell* fn_word, const Cell* callable, int word_index);

// The types eval_expression does something with; every other value is its
// own result.
constexpr uint64_t type_bit(uint8_t t) { return uint64_t(1) << t; }
constexpr uint64_t ACTIVE_TYPES =
    type_bit(TYPE_PAREN) | type_bit(TYPE_WORD) | type_bit(TYPE_SET_WORD) | type_bit(TYPE_LIT_WORD) |
    type_bit(TYPE_GET_WORD) | type_bit(TYPE_ISSUE) | type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) |
    type_bit(TYPE_FUNCTION) | type_bit(TYPE_ROUTINE) | type_bit(TYPE_OP) | type_bit(TYPE_LIT_PATH) |
    type_bit(TYPE_PATH) | type_bit(TYPE_GET_PATH) | type_bit(TYPE_SET_PATH);
// What a word's value may be for the word to give it as it stands.
constexpr uint64_t NOT_PLAIN_WORD_VALUES = type_bit(TYPE_UNSET) | type_bit(TYPE_NATIVE) | type_bit(TYPE_ACTION) |
                                           type_bit(TYPE_FUNCTION) | type_bit(TYPE_ROUTINE) | type_bit(TYPE_OP);
static_assert(TYPE_COUNT <= 64);

// The value an expression starting with v gives before any operator, when
// that needs no evaluation: v itself, or the value of a bound word holding
// no callable; nullptr otherwise.
inline const Cell* plain_value(const Cell* v) {
    const uint8_t t = type_of(v);
    if (t >= 64) return nullptr;
    if (!(ACTIVE_TYPES & type_bit(t))) return v;
    if (t != TYPE_WORD || !v->data1) return nullptr;
    const Cell* value = word_value_cell(v);
    const uint8_t vt = type_of(value);
    return vt < 64 && !(NOT_PLAIN_WORD_VALUES & type_bit(vt)) ? value : nullptr;
}

[[gnu::always_inline]] inline uint32_t infix_steps(uint32_t pos, uint32_t tail, const Cell* block);
[[gnu::cold, gnu::noinline]] void trace_push(const Cell* block, uint32_t pos, const Cell* value);

// What a call event names: the word that called, or the callable itself
// when it was called without one.
inline const Cell* call_ref(const Cell* callable, const Cell* fn_word) {
    return (fn_word && fn_word->data2 != rt_words.anon_frame.data2) ? fn_word : callable;
}

// The end of fetch_arguments for a native, action or routine while tracing:
// the call event, and the throw and catch events around those natives.
void run_traced_native(const Cell* callable, const Cell* block, uint32_t pos, const Cell* fn_word, int32_t* refs) {
    const uint8_t kind = type_of(callable);
    fire_trace_event(EV_CALL, block, int32_t(pos), callable, trace_call_ref(callable, call_ref(callable, fn_word)));
    if (kind == TYPE_ROUTINE) return;  // eval_call runs it
    if (kind == TYPE_ACTION) {
        action_dispatcher_table[native_number(callable)](refs);
        return;
    }
    const uint32_t n = native_number(callable);
    if (n == NAT_THROW && tracing) fire_trace_event(EV_THROW, block, int32_t(pos), stack::arguments, nullptr);
    // catch pushes its frame where the top is now: a throw that unwinds to it
    // is caught there unless catch passes it on.
    const void* catch_frame = stack::frames_top;
    native_table[n](refs);
    if (n == NAT_THROW || n == NAT_CATCH) {
        if (last_throw_code == THROW_CODE_THROW) trace_thrown();
        else if (n == NAT_CATCH && !pending() && trace_take_caught(catch_frame) && tracing)
            fire_trace_event(EV_CATCH, block, int32_t(pos), stack::arguments, nullptr);
    }
}

// The end of fetch_arguments: runs a native or action, or sets up a
// function's locals.
inline uint32_t run_call(const Cell* callable, uint8_t kind, uint32_t pos, const Cell* block, const Cell* fn_word,
                         int32_t* refs, uint32_t locals) {
    if (tracing) [[unlikely]] {
        if (kind != TYPE_FUNCTION) {
            run_traced_native(callable, block, pos, fn_word, refs);
            return pos;
        }
    }
    if (kind == TYPE_NATIVE) native_table[native_number(callable)](refs);
    else if (kind == TYPE_ACTION) action_dispatcher_table[native_number(callable)](refs);
    else if (locals) function_init_locals(locals);
    return pos;
}

// The shape of an argument list, read once and kept: where its required
// arguments are, and what its refinements leave on the stack when none is
// given (a native: that many unused refinements; a function: false for each
// refinement, none for each of their arguments, in spec order). Argument
// lists are made once and never changed; the cache is dropped at every
// collection, since a freed list's node may be reused.
struct CallShape {
    NodeId list = 0;
    uint32_t entries = 0;
    uint8_t required = 0;
    uint8_t refinements = 0;
    uint8_t rest_slots = 0;
    uint8_t usable = 0;           // 0: the list does not fit a shape
    uint8_t required_at[8] = {};  // list indexes of the required arguments
    uint64_t rest_flags = 0;      // bit n: slot n after the required ones is a refinement's
    uint32_t locals = 0;
};
constexpr uint32_t CALL_SHAPES = 512;
CallShape call_shapes[CALL_SHAPES];

const CallShape& call_shape(const Cell& list) {
    const uint32_t n = length_of(&list);
    CallShape& c = call_shapes[(list.data2 * 2654435761u >> 7) % CALL_SHAPES];
    if (c.list == list.data2 && c.entries == n) return c;
    c = CallShape{};
    c.list = list.data2;
    c.entries = n;
    bool required = true;
    uint32_t rest = 0, refinements = 0;
    bool usable = true;
    for (uint32_t i = 0; i < n; i++) {
        const Cell e = cell_at(&list, i);
        switch (type_of(&e)) {
        case TYPE_TYPESET:
            if (arg_kind(&e) == ARG_RETURN) break;
            if (required) {
                if (c.required == 8) usable = false;
                else c.required_at[c.required++] = uint8_t(i);
            } else {
                rest++;
            }
            break;
        case TYPE_REFINEMENT:
            required = false;
            if (rest < 64) c.rest_flags |= uint64_t(1) << rest;
            rest++;
            refinements++;
            break;
        case TYPE_INTEGER: c.locals = uint32_t(cell_int(&e)); break;
        default: break;
        }
    }
    if (rest > 64 || refinements > 64 || n > 255) usable = false;
    c.rest_slots = uint8_t(rest);
    c.refinements = uint8_t(refinements);
    c.usable = usable;
    return c;
}

void clear_call_shapes() {
    for (CallShape& c : call_shapes) c = CallShape{};
}

// The commonest argument, a literal or a word holding a plain value, taken
// without a full expression step: pushed, the operators after it applied
// (unless the call is an operator's). False when the argument needs the
// full step; true with an exit possibly pending otherwise.
[[gnu::always_inline]] inline bool plain_argument(uint32_t* pos, uint32_t tail, const Cell* block, bool infix_call) {
    if (tracing) [[unlikely]] return false;
    const uint32_t at = *pos;
    if (at >= tail || at >= length_of(block)) return false;
    // Read in place: nothing runs before the value is pushed.
    const Cell* plain = plain_value(node_buffer(block->data2)->cell_head() + at);
    if (!plain) return false;
    stack::push(plain);
    *pos = at + 1;
    if (!infix_call) {
        *pos = infix_steps(at + 1, tail, block);
        if (pending()) return true;
        // The operators' code may have switched tracing on.
        if (tracing) [[unlikely]] trace_push(block, *pos, stack::top - 1);
    }
    return true;
}

// Gathers the arguments of a call whose frame is on top (arguments from
// stack::arguments on) and, for natives and actions, runs them. The first
// `given` arguments are in place already (an operator's operands), only checked;
// with any given, the arguments read take no operators after them.
uint32_t fetch_arguments(const Cell* callable, uint32_t pos, uint32_t tail, const Cell* block, const Cell* path,
                         uint32_t path_pos, uint32_t given, const Cell* fn_word) {
    const bool infix = given != 0;
    const uint8_t kind = type_of(callable);
    const bool native_kind = kind == TYPE_NATIVE || kind == TYPE_ACTION;
    Cell list = callable_arg_list(callable);
    const uint32_t n = length_of(&list);
    int32_t refs[64];
    uint32_t ref_count = 0;
    uint32_t locals = 0;

    // Without refinements given, the list's shape drives a tight loop.
    const CallShape& shape = call_shape(list);
    if (!path && shape.usable) {
        const uint32_t required = shape.required;
        const uint32_t rest_slots = shape.rest_slots;
        const uint64_t rest_flags = shape.rest_flags;
        uint8_t at[8];
        std::memcpy(at, shape.required_at, sizeof at);
        ref_count = shape.refinements;
        locals = shape.locals;
        // The shape may be replaced while the arguments are evaluated.
        for (uint32_t k = 0; k < required; k++) {
            const Cell e = cell_at(&list, at[k]);
            if (k < given) {
                const Cell* in_place = stack::arguments + k;
                if (!typeset_has(&e, type_of(in_place))) fire_expect(fn_word, in_place, callable, int(k));
            } else if (arg_kind(&e) == ARG_NORMAL && plain_argument(&pos, tail, block, infix)) {
                if (pending()) return pos;
                const Cell* got = stack::top - 1;
                if (!typeset_has(&e, type_of(got))) fire_expect(fn_word, got, callable, int(k));
            } else {
                pos = fetch_argument(&e, pos, tail, block, infix, fn_word, callable, int(k));
                if (pending()) return pos;
            }
        }
        if (native_kind) {
            for (uint32_t r = 0; r < ref_count; r++) refs[r] = -1;
            locals = 0;
        } else {
            for (uint32_t r = 0; r < rest_slots; r++) {
                if (rest_flags >> r & 1) make_logic(stack::push_slot(), false);
                else make_none(stack::push_slot());
            }
        }
        return run_call(callable, kind, pos, block, fn_word, refs, locals);
    }

    // Required arguments, then the slots of every refinement (inactive).
    bool active = true;
    int word_index = 0;
    for (uint32_t i = 0; i < n; i++) {
        Cell e = cell_at(&list, i);
        switch (type_of(&e)) {
        case TYPE_TYPESET:
            if (arg_kind(&e) == ARG_RETURN) break;
            if (active) {
                if (uint32_t(word_index) < given) {
                    const Cell* in_place = stack::arguments + word_index;
                    if (!typeset_has(&e, type_of(in_place))) fire_expect(fn_word, in_place, callable, word_index);
                } else {
                    pos = fetch_argument(&e, pos, tail, block, infix, fn_word, callable, word_index);
                    if (pending()) return pos;
                }
            } else if (!native_kind) {
                make_none(stack::push_slot());
            }
            word_index++;
            break;
        case TYPE_REFINEMENT:
            active = false;
            if (native_kind) {
                if (ref_count < 64) refs[ref_count] = -1;
                ref_count++;
            } else {
                make_logic(stack::push_slot(), false);
            }
            word_index++;
            break;
        case TYPE_INTEGER:
            if (!native_kind) locals = uint32_t(cell_int(&e));
            break;
        default: break;
        }
    }
    if (ref_count > 64) fire(Err::internal_limit_hit, Cell{TYPE_INTEGER, 0, ref_count, 0});

    // Refinements named in the path, in the path's order; their values land in
    // spec order (functions: their slots; natives: positions in refs).
    if (path) {
        const uint32_t path_len = length_of(path);
        uint32_t used_mask[4] = {0, 0, 0, 0};
        for (uint32_t p = path_pos; p < path_len; p++) {
            Cell el = cell_at(path, p);
            bool on = true;
            if (type_of(&el) == TYPE_GET_WORD) {
                on = is_truthy(word_value_cell(&el));
            } else if (type_of(&el) != TYPE_WORD) {
                fire(Err::script_bad_refine, el);
            }
            int32_t at = find_refinement(&list, n, el.data2);
            if (at < 0) fire(Err::script_no_refine, *fn_word, el);
            if (used_mask[at / 32 % 4] & (1u << (at % 32))) fire(Err::script_dup_refine, *path);
            used_mask[at / 32 % 4] |= 1u << (at % 32);
            // The refinement's slot (functions) and its argument slots follow
            // the entries before it.
            uint32_t slot = 0;
            int widx = 0;
            uint32_t ref_number = 0;
            for (int32_t i = 0; i < at; i++) {
                Cell e = cell_at(&list, uint32_t(i));
                if (type_of(&e) == TYPE_REFINEMENT) {
                    slot++;
                    widx++;
                    ref_number++;
                } else if (type_of(&e) == TYPE_TYPESET && arg_kind(&e) != ARG_RETURN) {
                    slot++;
                    widx++;
                }
            }
            widx++;
            if (native_kind) {
                refs[ref_number] = on ? int32_t(stack::top - stack::arguments) : -1;
            } else {
                make_logic(stack::arguments + slot, on);
            }
            for (uint32_t i = uint32_t(at) + 1; i < n; i++) {
                Cell e = cell_at(&list, i);
                if (type_of(&e) != TYPE_TYPESET || arg_kind(&e) == ARG_RETURN) break;
                slot++;
                Cell* before = stack::top;
                pos = fetch_argument(&e, pos, tail, block, infix, fn_word, callable, widx);
                if (pending()) return pos;
                if (native_kind) {
                    if (!on) stack::top = before;  // an unused refinement's arguments are dropped
                } else {
                    Cell v = *(stack::top - 1);
                    stack::top--;
                    stack::arguments[slot] = on ? v : none_value;
                }
                widx++;
            }
        }
    }

    return run_call(callable, kind, pos, block, fn_word, refs, native_kind ? 0 : locals);
}

uint32_t fetch_argument(const Cell* entry, uint32_t pos, uint32_t tail, const Cell* block, bool infix_call,
                        const Cell* fn_word, const Cell* callable, int word_index) {
    if (pos >= tail || pos >= length_of(block)) {
        if (arg_kind(entry) == ARG_LIT && typeset_has(entry, TYPE_UNSET)) {
            make_unset(stack::push_slot());
            return pos;
        }
        Cell spec = callable_spec(callable);
        fire(Err::script_no_arg, *fn_word, spec_argument_word(&spec, word_index));
    }
    switch (arg_kind(entry)) {
    case ARG_GET: {
        Cell v = cell_at(block, pos);
        stack::push(&v);
        pos++;
        break;
    }
    case ARG_LIT: {
        Cell v = cell_at(block, pos);
        pos++;
        switch (type_of(&v)) {
        case TYPE_PAREN:
            stack::push_frame(&rt_words.anon_frame, FRAME_TOP_NATIVE);
            eval_block(&v, true);
            if (pending()) return pos;
            stack::pop_frame_keep_result();
            break;
        case TYPE_GET_WORD: stack::push(word_value_cell(&v)); break;
        case TYPE_GET_PATH: {
            Cell cursor = *block;
            pos = eval_path(&v, pos, tail, &cursor, EvalFlags::get | EvalFlags::push);
            if (pending()) return pos;
            break;
        }
        default: stack::push(&v); break;
        }
        break;
    }
    default:
        if (plain_argument(&pos, tail, block, infix_call)) {
            if (pending()) return pos;
            break;
        }
        pos = eval_expression(pos, tail, block, (infix_call ? EvalFlags::no_infix : EvalFlags::none) | EvalFlags::push);
        if (pending()) return pos;
        break;
    }
    const Cell* got = stack::top - 1;
    if (!typeset_has(entry, type_of(got))) fire_expect(fn_word, got, callable, word_index);
    return pos;
}

// The direct path of the common operators: an operator over the add,
// subtract, multiply, divide or remainder action with integers and floats,
// over and~, or~ or xor~ with integers, or over a comparison native with two
// integers, when the result needs nothing more (no overflow into a float, no
// zero divisor, no tolerance of float comparison). Computes into *left and
// returns true; false when the operator's action must run.
bool number_infix(const Cell* op, Cell* left, const Cell* right) {
    const uint8_t lt = type_of(left);
    const uint8_t rt = type_of(right);
    const uint8_t wrapped = op_wrapped_type(op);
    const uint32_t n = native_number(op);
    if (lt == TYPE_INTEGER && rt == TYPE_INTEGER) {
        const int32_t a = cell_int(left), b = cell_int(right);
        if (wrapped == TYPE_ACTION) {
            int32_t r;
            switch (n) {
            case ACT_ADD:
                if (__builtin_add_overflow(a, b, &r)) return false;
                break;
            case ACT_SUBTRACT:
                if (__builtin_sub_overflow(a, b, &r)) return false;
                break;
            case ACT_MULTIPLY:
                if (__builtin_mul_overflow(a, b, &r)) return false;
                break;
            case ACT_DIVIDE:
                if (b == 0 || (a == INT32_MIN && b == -1)) return false;
                if (a % b != 0) {
                    make_float(left, double(a) / double(b));
                    return true;
                }
                r = a / b;
                break;
            case ACT_REMAINDER:
                if (b == 0 || (a == INT32_MIN && b == -1)) return false;
                r = a % b;
                break;
            case ACT_AND_T: r = a & b; break;
            case ACT_OR_T: r = a | b; break;
            case ACT_XOR_T: r = a ^ b; break;
            default: return false;
            }
            make_integer(left, r);
            return true;
        }
        if (wrapped != TYPE_NATIVE) return false;
        bool outcome;
        switch (n) {
        case NAT_EQUAL_Q:
        case NAT_STRICT_EQUAL_Q: outcome = a == b; break;
        case NAT_NOT_EQUAL_Q: outcome = a != b; break;
        case NAT_LESSER_Q: outcome = a < b; break;
        case NAT_GREATER_Q: outcome = a > b; break;
        case NAT_LESSER_OR_EQUAL_Q: outcome = a <= b; break;
        case NAT_GREATER_OR_EQUAL_Q: outcome = a >= b; break;
        default: return false;
        }
        make_logic(left, outcome);
        return true;
    }
    // Float arithmetic is plain IEEE; float comparisons have their own
    // tolerance and keep the full call.
    if ((lt != TYPE_INTEGER && lt != TYPE_FLOAT) || (rt != TYPE_INTEGER && rt != TYPE_FLOAT)) return false;
    if (wrapped != TYPE_ACTION) return false;
    const double x = lt == TYPE_FLOAT ? cell_float(left) : double(cell_int(left));
    const double y = rt == TYPE_FLOAT ? cell_float(right) : double(cell_int(right));
    double r;
    switch (n) {
    case ACT_ADD: r = x + y; break;
    case ACT_SUBTRACT: r = x - y; break;
    case ACT_MULTIPLY: r = x * y; break;
    default: return false;
    }
    make_float(left, r);
    return true;
}

// Whether an operator may take the direct path with this left operand: its
// right operand is then evaluated before the call is set up. The left
// operand must be one the operator accepts, so no type error is raised
// later than the full call would raise it.
inline bool direct_operator(const Cell* op, const Cell* left) {
    const uint8_t lt = type_of(left);
    if (lt != TYPE_INTEGER && lt != TYPE_FLOAT) return false;
    const uint32_t n = native_number(op);
    switch (op_wrapped_type(op)) {
    case TYPE_ACTION:
        switch (n) {
        case ACT_ADD:
        case ACT_SUBTRACT:
        case ACT_MULTIPLY:
        case ACT_DIVIDE:
        case ACT_REMAINDER: return true;
        case ACT_AND_T:
        case ACT_OR_T:
        case ACT_XOR_T: return lt == TYPE_INTEGER;
        default: return false;
        }
    case TYPE_NATIVE:
        static_assert(NAT_NOT_EQUAL_Q == NAT_EQUAL_Q + 1 && NAT_STRICT_EQUAL_Q == NAT_EQUAL_Q + 2 &&
                      NAT_LESSER_Q == NAT_EQUAL_Q + 3 && NAT_GREATER_Q == NAT_EQUAL_Q + 4 &&
                      NAT_LESSER_OR_EQUAL_Q == NAT_EQUAL_Q + 5 && NAT_GREATER_OR_EQUAL_Q == NAT_EQUAL_Q + 6);
        return n >= NAT_EQUAL_Q && n <= NAT_GREATER_OR_EQUAL_Q;
    default: return false;
    }
}

// An operator's call with its right operand evaluated first, in the
// operator's frame: the direct path when the numbers allow, else the
// operator's action or native with both operands in hand. The left operand
// is on top of the stack; the result replaces it.
uint32_t operator_call(const Cell* op, const Cell* name, uint32_t pos, uint32_t tail, const Cell* block) {
    Cell* left = stack::top - 1;
    stack::top = left;
    stack::push_interp_native_frame(name);
    stack::top = left + 1;
    pos = eval_expression(pos, tail, block, EvalFlags::no_infix | EvalFlags::push);
    if (pending()) return pos;
    if (number_infix(op, stack::arguments, stack::arguments + 1)) {
        stack::pop_frame_keep_result();
        return pos;
    }
    const Cell fn = op_callable(op);
    try {
        pos = fetch_arguments(&fn, pos, tail, block, nullptr, 0, 2, name);
        if (pending()) return pos;
        stack::pop_frame_keep_result();
        // Tracing may have been switched on by the right operand's code.
        if (tracing) [[unlikely]]
            fire_trace_event(EV_RETURN, block, int32_t(pos), stack::top - 1, call_ref(&fn, name));
    } catch (const PendingExit&) {
        // The stacks are already set for the exit's catcher.
    }
    return pos;
}

// Traced, the path a call at its end was written with, for eval_call to
// name the call by (a path that gives refinements names it already).
const Cell* traced_call_path = nullptr;

// The evaluator's push and fetch events, out of the way of the untraced
// path. A value a return, exit or set event has just carried is not
// reported again as pushed.
[[gnu::cold, gnu::noinline]] void trace_push(const Cell* block, uint32_t pos, const Cell* value) {
    if (!trace_value_reported()) fire_trace_event(EV_PUSH, block, int32_t(pos), value, nullptr);
}
[[gnu::cold, gnu::noinline]] void trace_fetch(const Cell* block, uint32_t pos) {
    const Cell fetched = cell_at(block, pos);
    fire_trace_event(EV_FETCH, block, int32_t(pos), &fetched, nullptr);
}

// After an expression, applies the operators that follow it, left to right.
[[gnu::always_inline]] inline uint32_t infix_steps(uint32_t pos, uint32_t tail, const Cell* block) {
    while (pos < tail && pos < length_of(block)) {
        const Cell* at = node_buffer(block->data2)->cell_head() + pos;
        if (type_of(at) != TYPE_WORD || !at->data1) break;
        const Cell* slot = word_value_cell(at);
        if (type_of(slot) != TYPE_OP) break;
        const Cell next = *at;
        // A copy: the trace callback runs Kem code, which may move the slot.
        const Cell op = *slot;
        if (tracing) [[unlikely]] {
            // Each operator is reported as a call: no shortcut. The callback
            // may take the operator from its word while it runs.
            RootedCell keep_op(&op);
            // The left operand is complete: pushed as the operator's argument.
            trace_push(block, pos, stack::top - 1);
            trace_fetch(block, pos);
        } else if (pos + 1 < tail && pos + 1 < length_of(block) && direct_operator(&op, stack::top - 1)) {
            // A number or a word's number needs no frame to be read.
            const Cell right = cell_at(block, pos + 1);
            const Cell* value = &right;
            if (type_of(&right) == TYPE_WORD && right.data1) value = word_value_cell(&right);
            const uint8_t vt = type_of(value);
            if ((type_of(&right) == TYPE_WORD || value == &right) && (vt == TYPE_INTEGER || vt == TYPE_FLOAT)) {
                if (number_infix(&op, stack::top - 1, value)) {
                    pos += 2;
                    continue;
                }
            } else {
                pos = operator_call(&op, &next, pos + 1, tail, block);
                if (pending()) return pos;
                continue;
            }
        }
        Cell callable = op_callable(&op);
        pos = eval_call(&callable, pos + 1, tail, block, EvalFlags::push | EvalFlags::infix, &next, nullptr, 0);
        if (pending()) return pos;
    }
    return pos;
}

// The system's own code stands for compiled code, which notes no position:
// an error in it is reported where the script called it. Every other block,
// also one the system runs for the script (a line at the console, a script
// run by do), notes where its evaluation is.
bool tracks_position(const Cell& blk) { return !(node_buffer(blk.data2)->flags & SERIES_SYSTEM_CODE); }

// The walk of a block from pos to its tail, on the eval frame already pushed.
// Traced, it reports enter, each expression and exit, and an error by the
// innermost block it leaves; untraced, those hooks compile away.
template <bool Traced>
void walk_block(const Cell& blk, const Cell& saved, uint32_t pos, uint32_t tail, bool return_result) {
    const bool track = tracks_position(blk);
    uint32_t at = pos;
    // False when an exit is pending: its catcher goes on in an outer block
    // and reports from there.
    auto walk = [&]() -> bool {
        if constexpr (Traced) fire_trace_event(EV_ENTER, &blk, int32_t(pos), nullptr, nullptr);
        if (pos >= tail) {
            make_unset(stack::arguments);
            stack::top = stack::arguments + 1;
        }
        while (pos < tail) {
            stack::top = stack::arguments;
            collector::safe_point();
            if (track) position = Cell{blk.header & HEADER_TYPE_MASK, pos, blk.data2, 0};
            if constexpr (Traced) at = pos;
            pos = eval_expression(pos, tail, &blk, EvalFlags::none);
            if (pending()) {
                position = saved;
                return false;
            }
            if constexpr (Traced) {
                trace_error_settled();
                if (tracing) fire_trace_event(EV_EXPR, &blk, int32_t(at), stack::arguments, nullptr);
            }
            uint32_t now = length_of(&blk);
            if (now < tail) tail = now;
        }
        if constexpr (Traced) {
            at = pos;
            if (tracing) fire_trace_event(EV_EXIT, &blk, int32_t(pos), stack::arguments, nullptr);
        }
        return true;
    };
    if constexpr (Traced) {
        try {
            if (!walk()) return;
        } catch (const KemError& e) {
            if (tracing) trace_error(e, &blk, int32_t(at));
            throw;
        } catch (const PendingExit&) {
            position = saved;
            throw;
        }
    } else {
        if (!walk()) return;
    }
    position = saved;
    if (return_result) stack::pop_frame_return_result();
    else stack::pop_frame_keep_result();
}

// Where each p/x found its field last, by the path's node and head: the
// field's symbol and the object's context guard the index (an object's word
// list only grows and never reorders). Nodes are freed only by the
// collector, which clears the table.
struct PathField {
    NodeId path = 0;
    uint32_t head = 0;
    uint32_t symbol = 0;
    NodeId ctx = 0;
    uint32_t index = 0;
};
constexpr uint32_t PATH_FIELDS = 256;
PathField path_fields[PATH_FIELDS];

void clear_path_fields() {
    for (PathField& e : path_fields) e = PathField{};
}

// The commonest paths, p/x and p/x:, where p holds an object!: the field
// found through the field cache, no general walk. Gives the object's
// context and the field's word (bound to it, as the walk leaves it), or 0
// when the general walk must run (a longer path, another value, a missing
// field).
[[gnu::always_inline]] inline NodeId object_field_path(const Cell& path, Cell* obj, Cell* field) {
    const uint32_t head = path.data1;
    SeriesBuffer* b = node_buffer(path.data2);
    if (b->used() / 16 != head + 2) return 0;
    const Cell* first = b->cell_head() + head;
    *field = first[1];
    if (type_of(first) != TYPE_WORD || type_of(field) != TYPE_WORD || !first->data1) return 0;
    *obj = *word_value_cell(first);
    if (type_of(obj) != TYPE_OBJECT) return 0;
    const NodeId ctx = object_context(obj);
    PathField& e = path_fields[(path.data2 * 2654435761u >> 8) % PATH_FIELDS];
    if (e.path == path.data2 && e.head == head && e.symbol == field->data2 && e.ctx == ctx) [[likely]] {
        field->data1 = ctx;
        field->data3 = e.index;
        return ctx;
    }
    const int32_t index = object_field_index(ctx, field->data2);
    if (index < 0) return 0;
    e = PathField{path.data2, head, field->data2, ctx, uint32_t(index)};
    field->data1 = ctx;
    field->data3 = uint32_t(index);
    return ctx;
}

// p/x: pushes the field's value, or calls it when it is a function.
// Returns false when the general walk must run.
bool object_field_get(const Cell& path, uint32_t* pos, uint32_t tail, const Cell* block) {
    Cell obj, field;
    const NodeId ctx = object_field_path(path, &obj, &field);
    if (!ctx) return false;
    const Cell* slot = context_value_slot_checked(ctx, field.data3);
    if (!slot || type_of(slot) == TYPE_UNSET) return false;
    if (callable_type(type_of(slot))) {
        const Cell fn = *slot;
        *pos = eval_call(&fn, *pos, tail, block, EvalFlags::push, &field, nullptr, 0);
    } else {
        stack::push(slot);
    }
    return true;
}

// p/x: value, the value in the current result cell, for an object without
// change handlers; the value stays the result. Returns false when the
// general walk must run.
bool object_field_set(const Cell& path) {
    Cell obj, field;
    const NodeId ctx = object_field_path(path, &obj, &field);
    if (!ctx || object_on_set(&obj) || context_values_on_stack(ctx) || context_kind(ctx) != CONTEXT_OBJECT) return false;
    Cell* slot = context_value_slot_checked(ctx, field.data3);
    if (!slot) return false;
    *slot = *(stack::top - 1);
    context_word_cell(ctx, field.data3)->header |= WORD_CHANGED;
    *stack::arguments = *slot;
    stack::top = stack::arguments + 1;
    return true;
}

// A block's or paren's expressions, run on the current frame: its value is
// pushed. The block and the position to put back are held on the stack below
// the expressions, so that code which drops the block from where it was
// cannot free it while it runs.
void walk_here(const Cell* paren) {
    Cell* result = stack::push_slot();
    const Cell* blk = stack::push(paren);
    const Cell* saved = stack::push(&position);
    Cell* base = stack::top;
    uint32_t pos = blk->data1;
    uint32_t tail = length_of(blk);
    const bool track = tracks_position(*blk);
    while (pos < tail) {
        // The value before is dropped: it must not outlive its expression.
        make_unset(result);
        stack::top = base;
        collector::safe_point();
        if (track) position = Cell{blk->header & HEADER_TYPE_MASK, pos, blk->data2, 0};
        pos = eval_expression(pos, tail, blk, EvalFlags::push);
        if (pending()) {
            position = *saved;
            return;
        }
        *result = *(stack::top - 1);
        const uint32_t now = length_of(blk);
        if (now < tail) tail = now;
    }
    position = *saved;
    stack::top = result + 1;
}

} // namespace

void init() {
    make_unset(&position);
    collector::add_layer_root("position", [] { collector::mark_value(&position); });
    collector::add_layer_root("call shapes", clear_call_shapes);
    collector::add_layer_root("path fields", clear_path_fields);
    trace_init();
}

void eval_block(const Cell* block, bool return_result) {
    if (!tracing) [[likely]] {
        walk_here(block);
        if (return_result && !pending()) *stack::arguments = *(stack::top - 1);
        return;
    }
    // Traced, a block has its own frame. The block may lose every other reference while it runs, and so may the
    // outer position that is put back at the end.
    Cell held[2] = {*block, position};
    RootedCells keep(held, 2);
    const Cell& blk = held[0];
    const Cell& saved = held[1];
    stack::push_frame(&rt_words.body_frame, FRAME_TOP_EVAL);
    const uint32_t pos = blk.data1;
    const uint32_t tail = length_of(&blk);
    walk_block<true>(blk, saved, pos, tail, return_result);
}

uint32_t eval_expression(uint32_t pos, uint32_t tail, const Cell* block, EvalFlags flags) {
    const bool push = has(flags, EvalFlags::push);
    const Cell blk = *block;
    if (tracing) [[unlikely]] {
        trace_fetch(&blk, pos);
        // The callback may have cut the block short: the value is gone.
        if (pos >= length_of(&blk)) {
            make_unset(stack::push_slot());
            settle(push);
            return pos + 1;
        }
    }
    Cell v = cell_at(&blk, pos);
    pos++;
    switch (type_of(&v)) {
    case TYPE_PAREN:
        if (tracing) [[unlikely]] {
            // Traced, a paren is a block of its own: entered, walked, left.
            stack::push_frame(&rt_words.body_frame, FRAME_TOP_NATIVE);
            eval_block(&v, true);
            if (pending()) return pos;
            stack::pop_frame_keep_result();
        } else {
            walk_here(&v);
            if (pending()) return pos;
        }
        break;
    case TYPE_WORD: {
        const Cell* vc = word_value_cell(&v);
        const uint8_t t = type_of(vc);
        if (t == TYPE_UNSET) fire(Err::script_no_value, v);
        // return and exit leave as cheaply as a call returns: their value goes
        // straight into the current result cell and the stacks unwind from here.
        if (t == TYPE_NATIVE && native_number(vc) == NAT_RETURN && pos < tail && pos < length_of(&blk)) {
            pos = eval_expression(pos, tail, &blk, EvalFlags::none);
            if (pending()) return pos;
            stack::unwind_return(true, true, &v);
            return pos;
        }
        if (t == TYPE_NATIVE && native_number(vc) == NAT_EXIT) {
            stack::unwind_return(false, true, &v);
            return pos;
        }
        if (callable_type(t)) {
            Cell callable = *vc;
            pos = eval_call(&callable, pos, tail, &blk, EvalFlags::push, &v, nullptr, 0);
            if (pending()) return pos;
        } else if (t == TYPE_OP) {
            fire(Err::script_no_op_arg, v);
        } else {
            stack::push(vc);
        }
        break;
    }
    case TYPE_SET_WORD: {
        if (pos >= tail) fire(Err::script_need_value, v);
        stack::push_frame(&v, FRAME_TOP_NATIVE);
        stack::push(&v);
        // The assignment opens an expression that its value completes.
        if (tracing) [[unlikely]] trace_push(&blk, pos, &v);
        if (!plain_argument(&pos, tail, &blk, false)) pos = eval_expression(pos, tail, &blk, EvalFlags::push);
        if (pending()) return pos;
        if (tracing) [[unlikely]] fire_trace_event(EV_SET, &blk, int32_t(pos), stack::top - 1, &v);
        Cell* value = stack::arguments + 1;
        Cell* slot = type_of(value) != TYPE_UNSET ? context_store_slot(&v) : nullptr;
        if (slot) {
            *slot = *value;
            *stack::arguments = *value;
        } else {
            try {
                word_set_from_arg();
            } catch (const PendingExit&) {
                return pos;  // a change handler left with an exit
            }
        }
        stack::pop_frame_keep_result();
        if (tracing) [[unlikely]] trace_push(&blk, pos, stack::top - 1);
        settle(push);
        return pos;  // the value assigned already took the operators after it
    }
    case TYPE_LIT_WORD:
        set_type(&v, TYPE_WORD);
        stack::push(&v);
        break;
    case TYPE_GET_WORD: stack::push(word_value_cell(&v)); break;
    case TYPE_ISSUE: {
        if (pos < tail && (v.data2 == rt_symbols.system || v.data2 == rt_symbols.system_global)) {
            Cell next = cell_at(&blk, pos);
            if (type_of(&next) == TYPE_BLOCK) fire(Err::internal_kem_system);
        }
        stack::push(&v);
        break;
    }
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_FUNCTION:
    case TYPE_ROUTINE:
        if (has(flags, EvalFlags::literal_callables)) {
            stack::push(&v);
        } else {
            pos = eval_call(&v, pos, tail, &blk, EvalFlags::push, nullptr, nullptr, 0);
            if (pending()) return pos;
        }
        break;
    case TYPE_OP: fire(Err::internal_not_done);
    case TYPE_LIT_PATH:
        set_type(&v, TYPE_PATH);
        stack::push(&v);
        break;
    case TYPE_PATH:
        if (tracing || !object_field_get(v, &pos, tail, &blk)) pos = eval_path(&v, pos, tail, &blk, EvalFlags::push);
        if (pending()) return pos;
        break;
    case TYPE_GET_PATH:
        pos = eval_path(&v, pos, tail, &blk, EvalFlags::get | EvalFlags::push);
        if (pending()) return pos;
        break;
    case TYPE_SET_PATH: {
        if (pos >= tail) fire(Err::script_need_value, v);
        // The value's code may take the path out of its block.
        RootedCell keep_path(&v);
        stack::push_frame(&rt_words.set_path, FRAME_TOP_NATIVE);
        if (tracing) [[unlikely]] trace_push(&blk, pos, &v);
        pos = eval_expression(pos, tail, &blk, EvalFlags::push);
        if (pending()) return pos;
        if (tracing) [[unlikely]] fire_trace_event(EV_SET, &blk, int32_t(pos), stack::top - 1, &v);
        if (tracing || !object_field_set(v)) eval_path(&v, pos, tail, &blk, EvalFlags::set);
        if (pending()) return pos;
        stack::pop_frame_keep_result();
        if (tracing) [[unlikely]] trace_push(&blk, pos, stack::top - 1);
        settle(push);
        return pos;
    }
    default: stack::push(&v); break;
    }
    if (!has(flags, EvalFlags::no_infix)) {
        pos = infix_steps(pos, tail, &blk);
        if (pending()) return pos;
    }
    if (tracing) [[unlikely]] trace_push(&blk, pos, stack::top - 1);
    settle(push);
    return pos;
}

uint32_t eval_next(const Cell* block, uint32_t pos, uint32_t tail, EvalFlags flags) {
    const bool push = has(flags, EvalFlags::push);
    const Cell blk = *block;
    stack::push_frame(&rt_words.body_frame, FRAME_TOP_INTERP_NATIVE);
    pos = eval_expression(pos, tail, &blk, EvalFlags::none);
    if (pending()) return pos;
    if (push) stack::pop_frame_keep_result();
    else stack::pop_frame_return_result();
    return pos;
}

uint32_t eval_at(const Cell* block) {
    uint32_t pos = block->data1;
    uint32_t tail = length_of(block);
    if (pos >= tail) {
        make_unset(stack::arguments);
        stack::top = stack::arguments + 1;
        return pos;
    }
    return eval_next(block, pos, tail, EvalFlags::none);
}

namespace {

// A call; traced, named holds the name its events give it.
template <bool Traced>
[[gnu::always_inline]] inline uint32_t eval_call_body(const Cell* callable, uint32_t pos, uint32_t tail,
                                                      const Cell* block, EvalFlags flags, const Cell* name,
                                                      const Cell* path, uint32_t path_pos,
                                                      const TraceCallName* named) {
    const bool push = has(flags, EvalFlags::push);
    const bool infix = has(flags, EvalFlags::infix);
    const Cell fn = *callable;
    const Cell word = frame_name(name, path);
    Cell* callable_slot = nullptr;
    // An operator's function is not on the stack while it runs.
    RootedCell keep_fn(&fn);
    if (infix) {
        // The left operand, already pushed, becomes the first argument.
        stack::top--;
    } else {
        callable_slot = stack::push(&fn);
    }
    Cell* left = stack::top;
    try {
    if constexpr (Traced) {
        if (tracing) fire_trace_event(EV_OPEN, block, int32_t(pos), &named->ref, nullptr);
    }
    switch (type_of(&fn)) {
    case TYPE_FUNCTION:
        // A function of the system is seen as one call, like a native.
        if (function_is_system(&fn)) stack::push_function_frame(&word, function_context(&fn));
        else stack::push_interp_function_frame(&word, function_context(&fn));
        if (infix) stack::top = left + 1;
        pos = fetch_arguments(&fn, pos, tail, block, path, path_pos, infix ? 1 : 0, &word);
        if (pending()) return pos;
        call_function(&fn);
        if (pending()) return pos;
        stack::pop_function_frame_keep_result();
        break;
    case TYPE_ROUTINE: {
        stack::push_interp_native_frame(&word);
        if (infix) stack::top = left + 1;
        pos = fetch_arguments(&fn, pos, tail, block, path, path_pos, infix ? 1 : 0, &word);
        if (pending()) return pos;
        Cell* result = routine_entry(&fn)(stack::arguments);
        if (pending()) return pos;
        if (result) *stack::arguments = *result;
        else make_unset(stack::arguments);
        stack::pop_frame_keep_result();
        break;
    }
    default:
        stack::push_interp_native_frame(&word);
        if (infix) stack::top = left + 1;
        pos = fetch_arguments(&fn, pos, tail, block, path, path_pos, infix ? 1 : 0, &word);
        if (pending()) return pos;
        stack::pop_frame_keep_result();
        break;
    }
    } catch (const PendingExit&) {
        // The stacks are already set for the exit's catcher.
        return pos;
    }
    // The result sits just above the callable's cell: move it down over it.
    if (callable_slot) {
        *callable_slot = *(stack::top - 1);
        stack::top = callable_slot + 1;
    }
    // A function reports its own return, also when a callback runs it.
    if (tracing && type_of(&fn) != TYPE_FUNCTION) [[unlikely]] {
        try {
            fire_trace_event(EV_RETURN, block, int32_t(pos), stack::top - 1,
                             named && trace_call_name == named ? &named->ref : call_ref(&fn, &word));
        } catch (const PendingExit&) {
            return pos;
        }
    }
    settle(push);
    return pos;
}

} // namespace

uint32_t eval_call(const Cell* callable, uint32_t pos, uint32_t tail, const Cell* block, EvalFlags flags,
                   const Cell* name, const Cell* path, uint32_t path_pos) {
    if (!tracing) [[likely]]
        return eval_call_body<false>(callable, pos, tail, block, flags, name, path, path_pos, nullptr);
    // Traced, the callee's events name it by its word or path, also while
    // its arguments run calls of their own.
    const Cell* called_by = traced_call_path;
    traced_call_path = nullptr;
    const Cell word = frame_name(name, path);
    const TraceCallName named{*callable, path ? *path : called_by ? *called_by : *call_ref(callable, &word)};
    struct Restore {
        const TraceCallName* outer = trace_call_name;
        ~Restore() { trace_call_name = outer; }
    } restore;
    trace_call_name = &named;
    return eval_call_body<true>(callable, pos, tail, block, flags, name, path, path_pos, &named);
}

namespace {

// What a call changes that must be put back however it ends: the position
// tracking and, for a traced call, the tracer's switch; when the call does
// not end normally, also the frame's return target and the context's values.
template <bool Traced>
struct CallGuard {
    CallFrame* frame;
    NodeId ctx;
    NodeId saved;
    bool tracked = track_position;
    bool was_tracing = Traced && tracing;
    bool done = false;
    void end() {
        done = true;
        frame->header &= ~FRAME_RETURN_TARGET;
        set_context_values_node(ctx, saved);
    }
    ~CallGuard() {
        track_position = tracked;
        if constexpr (Traced) tracing = was_tracing && trace_on;
        if (!done) end();
    }
};

// The tracer's switch as a traced call found it, put back when it ends.
template <bool Traced> struct TracingRestore {};
template <> struct TracingRestore<true> {
    bool was = tracing;
    ~TracingRestore() { tracing = was && trace_on; }
};

// A function call on the frame on top, its arguments and locals on the data
// stack. Traced, it also applies the callback kind filter and the function's
// trace attributes and reports call, prolog, epilog and return; untraced,
// those hooks compile away.
template <bool Traced>
void run_function(const Cell* fn, uint32_t trace_flags) {
    const Cell f = *fn;
    CallFrame* frame = stack::frames_top - 1;
    [[maybe_unused]] TracingRestore<Traced> outer;
    Cell name;
    if constexpr (Traced) {
        if (tracing && trace_flags && !(callback_bits() & trace_flags)) tracing = false;
        name = stack::frame_named(frame) ? stack::frame_word(frame) : f;
        name = *trace_call_ref(&f, &name);
        if (tracing) fire_trace_event(EV_CALL, nullptr, -1, &f, &name);
    }
    const NodeId ctx = function_context(&f);
    const NodeId saved = context_values_node(ctx);
    set_context_values_node(ctx, stack::cell_index(stack::arguments));
    // A function of the system is no return target: a return in a block it
    // runs for its caller leaves the caller's function, as through a native.
    const bool system = function_is_system(&f);
    const bool returns_here = !system;
    stack::set_return_target(returns_here);
    {
        CallGuard<Traced> guard{frame, ctx, saved};
        if constexpr (Traced) {
            const uint32_t attrs = function_flags(&f);
            if (attrs & FUNCTION_NO_TRACE) tracing = false;
            else if (attrs & FUNCTION_TRACE) tracing = trace_on;
            if (tracing) fire_trace_event(EV_PROLOG, nullptr, -1, nullptr, &f);
        }
        Cell body = *function_body(&f);
        if (type_of(&body) == TYPE_BLOCK) {
            if (system) track_position = false;
            eval_block(&body, true);
        } else {
            make_unset(stack::arguments);
            stack::top = stack::arguments + 1;
        }
        // return and exit land on this frame with the result in place.
        if ((last_throw_code == THROW_CODE_RETURN || last_throw_code == THROW_CODE_EXIT) && returns_here) {
            last_throw_code = 0;
            stack::top = stack::arguments + 1;
        }
        if constexpr (Traced) {
            if (tracing && stack::frames_top == frame + 1) {
                // The epilog runs with no exit pending; one in flight goes on after it.
                const uint32_t code = last_throw_code;
                last_throw_code = 0;
                Cell* top = stack::top;
                fire_trace_event(EV_EPILOG, nullptr, -1, stack::arguments, &f);
                last_throw_code = code;
                stack::top = top;
            }
        }
        guard.end();
    }
    if constexpr (Traced) {
        // Returned, the call is the caller's again, as after a native's return.
        if (tracing && !pending())
            fire_trace_event(EV_RETURN, nullptr, -1, stack::arguments, &name, int32_t(frame->saved_args));
    }
}

} // namespace

void call_function(const Cell* fn, uint32_t trace_flags) {
    if (trace_on) [[unlikely]] run_function<true>(fn, trace_flags);
    else run_function<false>(fn, trace_flags);
}

namespace {

struct StorageRef {
    NodeId node = 0;
    uint32_t offset = 0;
};

// The buffer holding a value cell of a path walk: the series or object the
// value was selected from, or the context of the path's first word.
StorageRef locate_storage(const Cell* r, const Cell& owner, const Cell& first) {
    NodeId candidates[3] = {0, 0, 0};
    const uint8_t ot = type_of(&owner);
    if (ot == TYPE_OBJECT || ot == TYPE_ERROR || ot == TYPE_PORT) {
        if (!context_values_on_stack(owner.data1)) candidates[0] = context_cell(owner.data1)->data2;
    } else if (ot == TYPE_BLOCK || ot == TYPE_PAREN || (ot >= TYPE_PATH && ot <= TYPE_GET_PATH) || ot == TYPE_MAP ||
               ot == TYPE_HASH) {
        candidates[0] = owner.data2;
    }
    if (first.data1 && !context_values_on_stack(first.data1)) candidates[1] = context_cell(first.data1)->data2;
    for (NodeId n : candidates) {
        if (!n || node_is_free(n)) continue;
        SeriesBuffer* b = node_buffer(n);
        const auto* at = reinterpret_cast<const uint8_t*>(r);
        if (at >= b->data() && at < b->end_ptr()) return StorageRef{n, uint32_t(at - b->data())};
    }
    return StorageRef{};
}

} // namespace

uint32_t eval_path(const Cell* path, uint32_t pos, uint32_t tail, const Cell* block, EvalFlags flags) {
    const bool set = has(flags, EvalFlags::set);
    const bool get = has(flags, EvalFlags::get);
    const bool push = has(flags, EvalFlags::push);
    const Cell p = *path;
    const uint32_t head = p.data1;
    const uint32_t len = length_of(&p);
    if (head >= len) fire(Err::script_empty_path);
    Cell first = cell_at(&p, head);
    if (type_of(&first) != TYPE_WORD) fire(Err::script_word_first, p);
    const Cell* vc = word_value_cell(&first);
    if (type_of(vc) == TYPE_UNSET) fire(Err::script_unset_path, p, first);
    Cell current = *vc;
    if (callable_type(type_of(&current))) {
        if (set) fire(Err::script_invalid_path_set, p);
        if (get) fire(Err::script_invalid_path_get, p);
        pos = eval_call(&current, pos, tail, block, EvalFlags::push, &first, &p, head + 1);
        if (pending()) return pos;
        settle(push);
        return pos;
    }
    // The value to set, when setting, is the current result cell.
    Cell to_set = set ? *(stack::top - 1) : Cell{TYPE_NONE, 0, 0, 0};
    Cell* base = stack::top;
    Cell owner = none_value;
    Cell prev = first;
    // A paren in the path runs Kem code: what the walk holds must survive it.
    Cell held[5] = {p, first, current, owner, prev};
    RootedCells keep(held, 5);
    // Where the current value is stored (a word's slot, a block's cell), so
    // that setting a field of a scalar (t/hour: 1, b/1/x: 2) changes it there;
    // null when the value only lives on the stack.
    Cell* storage = word_value_cell(&first);
    for (uint32_t i = head + 1; i < len; i++) {
        Cell el = cell_at(&p, i);
        if (type_of(&el) == TYPE_GET_WORD) {
            el = *word_value_cell(&el);
        } else if (type_of(&el) == TYPE_PAREN) {
            held[2] = current;
            held[3] = owner;
            held[4] = prev;
            // The storage cell is found again by node and offset: buffers
            // may move while the paren runs.
            const StorageRef where = storage ? locate_storage(storage, owner, first) : StorageRef{};
            stack::push_frame(&rt_words.body_frame, FRAME_TOP_NATIVE);
            eval_block(&el, true);
            if (pending()) return pos;
            el = *stack::arguments;
            stack::pop_frame_drop();
            storage = where.node ? reinterpret_cast<Cell*>(node_buffer(where.node)->data() + where.offset) : nullptr;
        }
        if (type_of(&el) == TYPE_UNSET) fire(Err::script_invalid_path, p, el);
        const bool last = i + 1 == len;
        bool notify = false;
        if (set && last && i - head >= 2) {
            uint8_t ot = type_of(&owner);
            notify = ot == TYPE_BLOCK || ot == TYPE_PAREN || ot == TYPE_HASH || (ot >= TYPE_PATH && ot <= TYPE_GET_PATH) ||
                     (ot == TYPE_OBJECT && owner.data3 != 0 && type_of(&prev) == TYPE_WORD);
        }
        Cell parent = current;
        Cell* target = (set && last && storage) ? storage : &parent;
        Cell* r;
        try {
            r = eval_path_direct(target, &el, (set && last) ? &to_set : nullptr,
                                 PathStep{.path = const_cast<Cell*>(&p),
                                          .owner = &owner,
                                          .prev_element = &prev,
                                          .index = int32_t(i - head),
                                          .push = push,
                                          .get = get,
                                          .last = last,
                                          .notify = notify});
        } catch (const PendingExit&) {
            return pos;  // a change handler left with an exit
        }
        Cell got = *r;
        // A cell inside a series or context can be written back; a stack cell cannot.
        storage = (r >= stack::bottom && r < stack::limit) || r == &parent ? nullptr : r;
        // An object's field is read as a copy: its slot is where a field of
        // the value (o/t/hour: 3) is written back.
        if (!storage && set && !last && any_object_type(type_of(&parent)) && type_of(&el) == TYPE_WORD) {
            const int32_t field = object_get_word_index(&parent, &el);
            if (field >= 0) {
                storage = context_value_slot_checked(object_context(&parent), uint32_t(field));
                context_word_cell(object_context(&parent), uint32_t(field))->header |= WORD_CHANGED;
            }
        }
        stack::top = base;
        owner = current;
        prev = el;
        current = got;
        if (!set && !get && !last && callable_type(type_of(&current))) {
            pos = eval_call(&current, pos, tail, block, EvalFlags::push, &el, &p, i + 1);
            if (pending()) return pos;
            settle(push);
            return pos;
        }
        if (!set && !get && last && callable_type(type_of(&current))) {
            if (tracing) [[unlikely]] traced_call_path = &p;
            pos = eval_call(&current, pos, tail, block, EvalFlags::push, &el, nullptr, 0);
            if (pending()) return pos;
            settle(push);
            return pos;
        }
    }
    stack::top = base;
    stack::push(set ? &to_set : &current);
    settle(push);
    return pos;
}

int push_callback_arguments(const Cell* fn, const Cell* values, int n) {
    const Cell list = callable_arg_list(fn);
    const uint32_t count = length_of(&list);
    int taken = 0;
    bool required = true;
    uint32_t locals = 0;
    for (uint32_t i = 0; i < count; i++) {
        const Cell entry = cell_at(&list, i);
        switch (type_of(&entry)) {
        case TYPE_TYPESET:
            if (arg_kind(&entry) == ARG_RETURN) break;
            if (required && taken < n) stack::push(&values[taken++]);
            else stack::push(&none_value);
            break;
        case TYPE_REFINEMENT:
            required = false;
            stack::push(&false_value);
            break;
        case TYPE_INTEGER: locals = uint32_t(cell_int(&entry)); break;
        default: break;
        }
    }
    if (locals) function_init_locals(locals);
    return taken;
}

} // namespace kem::interp
