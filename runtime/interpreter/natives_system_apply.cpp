// The apply native: calls a function with its arguments taken from a block.
//
// Two ways of reading the block. By default the arguments come first, one
// expression each, then the refinements as refinement! values (or words, or
// get-words whose value says whether the refinement is used), each followed
// by its own arguments. With /all every argument and every refinement flag
// (a logic! value) stands in spec order. /safer takes each argument as exactly
// one value of the block. A block that ends early leaves the remaining
// arguments none and the remaining refinements off. When a path names the
// function, its refinements are used too, their arguments taken from the
// block after the rest.
//
// The call itself is made the way the evaluator makes it: the callable is
// pushed, a frame is pushed, the arguments land on the data stack in spec
// order, then the native, action, routine or function body runs.
#include <algorithm>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/routine.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/dispatch.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"

namespace kem {

namespace {

constexpr int MODE_ALL = 1;    // every argument and refinement flag by position
constexpr int MODE_NAMED = 2;  // refinements named by refinement! values in the block
constexpr int MODE_SAFER = 4;  // each argument is exactly one value
constexpr uint32_t MAX_REFINEMENTS = 64;
// A refinement's flag is fetched as an ordinary argument: one expression.
const Cell FLAG_ENTRY = {TYPE_TYPESET, 0, 0, 0};

// One call being set up. The callable, its name and the argument block are
// copies of cells the apply native keeps on the data stack.
struct Call {
    Cell fn;
    Cell name;
    Cell block;
    Cell path;  // when a path named the function: its refinements count too
    bool have_path;
    int mode;
    uint8_t kind;
    bool native_kind;  // native! or action!: refinements become stack positions
    // Natives, actions and routines rely on their argument types; a function
    // may receive none for an argument the block did not give.
    bool typed_body;
};

inline bool at_end(const Call& c, uint32_t pos) { return pos >= block_full_length(&c.block); }

[[noreturn]] void fire_expect(const Call& c, const Cell* value, int word_index) {
    Cell type;
    make_datatype(&type, type_of(value));
    const Cell spec = callable_spec(&c.fn);
    fire(Err::script_expect_arg, c.name, type, spec_argument_word(&spec, word_index));
}

void check(const Call& c, const Cell* entry, const Cell* value, int word_index) {
    if (!typeset_has(entry, type_of(value))) fire_expect(c, value, word_index);
}

// Fetches one argument at pos as its kind says and pushes it; returns the
// position after it. The caller makes sure pos is before the tail.
uint32_t fetch_one(const Call& c, const Cell* entry, uint32_t pos) {
    const Cell block = c.block;
    const uint32_t tail = (c.mode & MODE_SAFER) ? pos + 1 : block_full_length(&block);
    switch (arg_kind(entry)) {
    case ARG_GET: stack::push(block_rs_abs_at(&block, pos)); return pos + 1;
    case ARG_LIT: {
        const Cell v = *block_rs_abs_at(&block, pos);
        pos++;
        switch (type_of(&v)) {
        case TYPE_PAREN:
            stack::push_frame(&rt_words.anon_frame, FRAME_TOP_NATIVE);
            interp::eval_block(&v, true);
            if (interp::pending()) return pos;
            stack::pop_frame_keep_result();
            break;
        case TYPE_GET_WORD: stack::push(word_value_cell(&v)); break;
        case TYPE_GET_PATH:
            return interp::eval_path(&v, pos, tail, &block, interp::EvalFlags::get | interp::EvalFlags::push);
        default: stack::push(&v); break;
        }
        return pos;
    }
    default: return interp::eval_expression(pos, tail, &block, interp::EvalFlags::push);
    }
}

// The value an argument gets when the block has ended: unset for a literal
// argument that allows it, else none.
void push_missing(const Call& c, const Cell* entry, int word_index) {
    const bool unset = arg_kind(entry) == ARG_LIT && typeset_has(entry, TYPE_UNSET);
    Cell* v = stack::push(unset ? &unset_value : &none_value);
    if (c.typed_body) check(c, entry, v, word_index);
}

// A required or active argument: fetched and checked, or missing.
uint32_t fetch_argument(const Call& c, const Cell* entry, uint32_t pos, int word_index) {
    if (at_end(c, pos)) {
        push_missing(c, entry, word_index);
        return pos;
    }
    pos = fetch_one(c, entry, pos);
    if (interp::pending()) return pos;
    check(c, entry, stack::top - 1, word_index);
    return pos;
}

// Turns on one refinement named by el (a word, a get-word whose value says
// whether it is used, or, from the block, a refinement!) and fetches its
// arguments from the block at pos into their places in spec order, as the
// refinements of a path are placed. `where` is what a duplicate names.
uint32_t use_refinement(const Call& c, const Cell& list, const Cell& el, bool from_block, const Cell& where,
                        uint32_t pos, int32_t* refs, std::vector<bool>& used) {
    bool on = true;
    if (is_type(&el, TYPE_GET_WORD)) on = is_truthy(word_value_cell(&el));
    else if (!is_type(&el, TYPE_WORD) && !(from_block && is_type(&el, TYPE_REFINEMENT)))
        fire(Err::script_bad_refine, el);
    // The entry of the refinement, and where its slot and number fall.
    const uint32_t n = block_full_length(&list);
    int32_t at = -1;
    uint32_t slot = 0, number = 0;
    int word_index = 0;
    for (uint32_t i = 0; i < n; i++) {
        const Cell e = *block_rs_abs_at(&list, i);
        if (is_type(&e, TYPE_REFINEMENT)) {
            if (symbol_resolve(e.data2) == symbol_resolve(el.data2)) {
                at = int32_t(i);
                break;
            }
            slot++;
            number++;
            word_index++;
        } else if (is_type(&e, TYPE_TYPESET) && arg_kind(&e) != ARG_RETURN) {
            slot++;
            word_index++;
        }
    }
    if (at < 0) fire(Err::script_no_refine, c.name, el);
    if (used[uint32_t(at)]) fire(Err::script_dup_refine, where);
    used[uint32_t(at)] = true;
    if (c.native_kind) refs[number] = on ? int32_t(stack::top - stack::arguments) : -1;
    else make_logic(stack::arguments + slot, on);
    word_index++;
    for (uint32_t i = uint32_t(at) + 1; i < n; i++) {
        const Cell e = *block_rs_abs_at(&list, i);
        if (!is_type(&e, TYPE_TYPESET) || arg_kind(&e) == ARG_RETURN) break;
        slot++;
        Cell* before = stack::top;
        pos = fetch_argument(c, &e, pos, word_index);
        if (interp::pending()) return pos;
        if (c.native_kind) {
            if (!on) stack::top = before;  // an unused refinement's arguments are dropped
        } else {
            const Cell v = *(stack::top - 1);
            stack::top--;
            stack::arguments[slot] = on ? v : none_value;
        }
        word_index++;
    }
    return pos;
}

// The refinements named after the function in its path, then (default mode)
// those named in the block after the arguments.
uint32_t named_refinements(const Call& c, const Cell& list, uint32_t pos, int32_t* refs) {
    std::vector<bool> used(block_full_length(&list));
    if (c.have_path) {
        for (uint32_t i = uint32_t(std::max(series_position(&c.path), 0)) + 1; i < block_full_length(&c.path); i++) {
            const Cell el = *block_rs_abs_at(&c.path, i);
            pos = use_refinement(c, list, el, false, c.path, pos, refs, used);
            if (interp::pending()) return pos;
        }
    }
    if (!(c.mode & MODE_NAMED)) return pos;
    while (!at_end(c, pos)) {
        const Cell el = *block_rs_abs_at(&c.block, pos);
        pos = use_refinement(c, list, el, true, c.block, pos + 1, refs, used);
        if (interp::pending()) return pos;
    }
    return pos;
}

// Gathers the arguments of the call whose frame is on top, then runs a native
// or action, or pushes a function's local slots.
void fetch_arguments(const Call& c) {
    const Cell list = callable_arg_list(&c.fn);
    const uint32_t n = block_full_length(&list);
    int32_t refs[MAX_REFINEMENTS];
    uint32_t ref_count = 0;
    uint32_t locals = 0;
    uint32_t pos = uint32_t(std::max(series_position(&c.block), 0));
    const bool positional_flags = !(c.mode & MODE_NAMED);
    bool active = true;
    int word_index = 0;
    for (uint32_t i = 0; i < n; i++) {
        const Cell e = *block_rs_abs_at(&list, i);
        switch (type_of(&e)) {
        case TYPE_TYPESET:
            if (arg_kind(&e) == ARG_RETURN) break;
            if (active) {
                pos = fetch_argument(c, &e, pos, word_index);
                if (interp::pending()) return;
            } else if (positional_flags && !c.have_path && !at_end(c, pos)) {
                // /all keeps the places of an unused refinement's arguments.
                Cell* before = stack::top;
                pos = fetch_one(c, &e, pos);
                if (interp::pending()) return;
                if (c.native_kind) stack::top = before;
            } else if (!c.native_kind) {
                stack::push(&none_value);
            }
            word_index++;
            break;
        case TYPE_REFINEMENT: {
            if (ref_count >= MAX_REFINEMENTS) fire(Err::internal_limit_hit, Cell{TYPE_INTEGER, 0, ref_count, 0});
            active = false;
            int32_t& ref = refs[ref_count++];
            ref = -1;
            if (positional_flags && !at_end(c, pos)) {
                Cell* flag = stack::top;
                pos = fetch_one(c, &FLAG_ENTRY, pos);
                if (interp::pending()) return;
                if (!is_type(flag, TYPE_LOGIC)) fire_expect(c, flag, word_index);
                active = flag->data1 != 0;
                if (c.native_kind) {
                    stack::top = flag;  // a native learns of it by position
                    if (active) ref = int32_t(stack::top - stack::arguments);
                }
            } else if (!c.native_kind) {
                stack::push(&false_value);
            }
            word_index++;
            break;
        }
        case TYPE_INTEGER:
            if (!c.native_kind) locals = uint32_t(cell_int(&e));
            break;
        default: break;
        }
    }
    named_refinements(c, list, pos, refs);
    if (interp::pending()) return;
    if (c.kind == TYPE_NATIVE) native_table[native_number(&c.fn)](refs);
    else if (c.kind == TYPE_ACTION) action_dispatcher_table[native_number(&c.fn)](refs);
    else if (locals) function_init_locals(locals);
}

// Makes the call with the callable pushed above the apply native's arguments,
// then moves its result into apply's result cell.
void call(const Call& c) {
    Cell* base = stack::arguments;
    stack::push(&c.fn);  // kept on the stack for the length of the call
    switch (c.kind) {
    case TYPE_FUNCTION:
        stack::push_interp_function_frame(&c.name, function_context(&c.fn));
        fetch_arguments(c);
        if (interp::pending()) return;
        interp::call_function(&c.fn);
        if (interp::pending()) return;
        stack::pop_function_frame_keep_result();
        break;
    case TYPE_ROUTINE: {
        stack::push_interp_native_frame(&c.name);
        fetch_arguments(c);
        if (interp::pending()) return;
        Cell* result = routine_entry(&c.fn)(stack::arguments);
        if (interp::pending()) return;
        if (result) *stack::arguments = *result;
        else make_unset(stack::arguments);
        stack::pop_frame_keep_result();
        break;
    }
    default:
        stack::push_interp_native_frame(&c.name);
        fetch_arguments(c);
        if (interp::pending()) return;
        stack::pop_frame_keep_result();
        break;
    }
    *base = *(stack::top - 1);
    stack::top = base + 1;
}

constexpr int APPLY_ALL = native_ref(NAT_APPLY, "all");
constexpr int APPLY_SAFER = native_ref(NAT_APPLY, "safer");

void native_apply(const int32_t* refinements) {
    Cell* args = stack::arguments;
    const Cell func = args[0];
    Call c{};
    c.block = args[1];
    c.mode = (refinements[APPLY_ALL] != -1 ? MODE_ALL : MODE_NAMED) | (refinements[APPLY_SAFER] != -1 ? MODE_SAFER : 0);
    switch (type_of(&func)) {
    case TYPE_WORD:
    case TYPE_PATH: {
        Cell word = func;
        if (is_type(&func, TYPE_PATH)) {
            // The path's first element names the function.
            const int32_t head = std::max(series_position(&func), 0);
            if (uint32_t(head) >= block_full_length(&func)) fire(Err::script_invalid_arg, func);
            word = *block_rs_abs_at(&func, uint32_t(head));
            if (!is_type(&word, TYPE_WORD)) fire(Err::script_invalid_arg, func);
            c.path = func;
            c.have_path = true;
        }
        c.fn = *word_value_cell(&word);
        if (!any_callable_type(type_of(&c.fn))) fire(Err::script_invalid_arg, func);
        c.name = word;
        break;
    }
    default:
        c.fn = func;
        c.name = rt_words.applied_frame;
        break;
    }
    if (is_type(&c.fn, TYPE_OP)) c.fn = op_callable(&c.fn);
    c.kind = type_of(&c.fn);
    c.native_kind = c.kind == TYPE_NATIVE || c.kind == TYPE_ACTION;
    c.typed_body = c.kind != TYPE_FUNCTION;
    stack::mark_eval();
    call(c);
}

} // namespace

void register_system_apply_natives() { native_register(NAT_APPLY, native_apply); }

} // namespace kem
