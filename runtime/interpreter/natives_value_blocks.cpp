// Natives that evaluate blocks into values or bind their words: reduce,
// compose, print and prin (which reduce a block before writing it), bind, in.
//
// Every evaluation may move any series buffer: the blocks being walked and
// the blocks being filled are kept as cells on the data stack (or by value,
// node and index) and their cells re-read after each evaluation.
#include <algorithm>
#include <cstdint>
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/core/cell.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/services/output.h"

namespace kem {

namespace natives {
extern uint32_t last_lf_q;  // natives_value.cpp
} // namespace natives

namespace value_natives {

namespace {

uint32_t reduce_symbol = 0;
// The block that print and prin reduce into, kept in the root block.
NodeId scratch_node = 0;

inline bool present(const int32_t* refinements, int at) { return refinements[at] != -1; }
inline bool word_kind(uint8_t t) { return t >= TYPE_WORD && t <= TYPE_REFINEMENT; }

// --- adding to a target block -------------------------------------------------

// A target block is filled either at its tail (append: its position stays) or
// at its position (insert: it moves past each addition). A hash! goes through
// its own actions so that its index follows.
void add_one(Cell* target, const Cell* value, bool append) {
    if (type_of(target) == TYPE_HASH) {
        Cell v = *value;
        if (append) {
            Cell t = *target;
            append_direct(&t, &v, -1, true, 1);
        } else {
            *target = *insert_direct(target, &v, -1, true, 1);
        }
    } else if (append) {
        block_append_cell(target, value);
    } else {
        block_insert_value(target, value, true, false);
    }
}

// The items of a block value from its position, spliced.
void add_all(Cell* target, const Cell* items, bool append) {
    if (type_of(target) == TYPE_HASH) {
        Cell v = *items;
        if (append) {
            Cell t = *target;
            append_direct(&t, &v, -1, false, 1);
        } else {
            *target = *insert_direct(target, &v, -1, false, 1);
        }
    } else if (append) {
        block_append_all(target, items);
    } else {
        block_insert_all(target, items);
    }
}

// Prepares an /into target: appended to when it stands at (or past) its tail,
// else inserted into at its position. Returns whether it is appended to.
bool into_mode(Cell* target) {
    const int32_t left = block_rs_length(target);
    if (left > 0) return false;
    if (left < 0) set_series_position(target, block_full_length(target));
    return true;
}

// --- reduce -------------------------------------------------------------------

// Reduces `value`; with `out`, into that block. The result (the new block,
// `out`, or a non-block's value) goes into the current call's result cell.
// Returns at once when an exit is pending.
void reduce_star(const Cell* value_in, const Cell* out) {
    const Cell value = *value_in;
    const bool into = out != nullptr;
    const Cell out_value = into ? *out : none_value;
    const bool is_block = type_of(&value) == TYPE_BLOCK;

    stack::push_frame_named(reduce_symbol, global_context, FRAME_TOP_NATIVE);
    Cell* const base = stack::arguments;  // data-stack cells never move
    stack::push(&value);                  // base[0]: keeps the block referenced, then the result
    Cell* target = stack::push_slot();    // base[1]
    bool append = true;
    uint32_t start = 0;
    if (into) {
        *target = out_value;
        append = into_mode(target);
        start = uint32_t(series_position(target));
    } else if (is_block) {
        block_make_at(target, std::max(block_rs_length(&value), 1));
    } else {
        make_none(target);
    }

    uint32_t added = 0;
    if (is_block) {
        uint32_t pos = uint32_t(std::max(series_position(&value), 0));
        uint32_t tail = block_full_length(&value);
        while (pos < tail) {
            pos = interp::eval_next(&value, pos, tail, interp::EvalFlags::push);
            if (interp::pending()) return;
            Cell* result = stack::top - 1;
            clear_new_line(result);
            add_one(target, result, append);
            stack::top = result;
            added++;
            tail = std::min(tail, block_full_length(&value));
        }
    } else {
        Cell* result;
        if (any_callable_type(type_of(&value))) {
            result = stack::push(&value);
        } else {
            // One expression: the value alone in a block of its own.
            Cell* code = block_make_at(stack::push_slot(), 1);
            block_append_cell(code, &value);
            const Cell expression = *code;
            interp::eval_expression(0, 1, &expression, interp::EvalFlags::push);
            if (interp::pending()) return;
            result = stack::top - 1;
        }
        if (into) {
            clear_new_line(result);
            add_one(target, result, append);
            added++;
        } else {
            *target = *result;
        }
    }
    if (into && added)
        series_notify_owner(target, append ? ChangeWord::appended : ChangeWord::inserted, nullptr, int32_t(start),
                            int32_t(added));
    base[0] = *target;
    stack::pop_frame_return_result();
    stack::keep_result();
}

void native_reduce(const int32_t* refinements) {
    const int32_t into = refinements[native_ref(NAT_REDUCE, "into")];
    reduce_star(stack::arguments, into >= 0 ? stack::arguments + into : nullptr);
}

// --- compose ------------------------------------------------------------------

struct ComposeFlags {
    bool deep, only;
};

// Composes the items of `block` into `target`. `open` holds the nodes of the
// blocks this walk is inside, so that /deep stops at a block that contains
// itself; other compose calls made by the parens keep their own.
void compose_block(const Cell block, Cell* target, bool append, ComposeFlags flags, std::vector<NodeId>& open) {
    const NodeId node = series_node(&block);
    if (std::find(open.begin(), open.end(), node) != open.end()) fire(Err::internal_no_cycle);
    if (open.size() >= CYCLE_CAPACITY) fire(Err::internal_too_deep);
    open.push_back(node);
    uint32_t tail = block_full_length(&block);
    for (uint32_t pos = uint32_t(std::max(series_position(&block), 0)); pos < tail; pos++) {
        const Cell item = *block_rs_abs_at(&block, pos);
        switch (type_of(&item)) {
        case TYPE_BLOCK:
            if (flags.deep) {
                // Held on the stack: the parens inside may drop it from its parent.
                Cell* held = stack::push(&item);
                Cell* nested = block_make_at(stack::push_slot(), std::max(block_rs_length(&item), 1));
                compose_block(item, nested, true, flags, open);
                if (interp::pending()) return;
                nested->header |= item.header & HEADER_NEW_LINE;
                add_one(target, nested, append);
                stack::top = held;
            } else {
                add_one(target, &item, append);
            }
            break;
        case TYPE_PAREN: {
            if (block_rs_length(&item) <= 0) break;
            Cell* held = stack::push(&item);
            interp::eval_block(&item, false);
            if (interp::pending()) return;
            Cell* result = stack::top - 1;
            const uint8_t t = type_of(result);
            if (t == TYPE_UNSET) {
                // nothing to add
            } else if (t == TYPE_BLOCK && !flags.only) {
                if (block_rs_length(result) > 0) add_all(target, result, append);
            } else {
                add_one(target, result, append);
            }
            stack::top = held;
            break;
        }
        default: add_one(target, &item, append); break;
        }
        // The parens may have shortened the block.
        tail = std::min(tail, block_full_length(&block));
    }
    open.pop_back();
}

void native_compose(const int32_t* refinements) {
    Cell* value = stack::arguments;
    if (type_of(value) != TYPE_BLOCK) {
        Cell expected, got;
        make_datatype(&expected, TYPE_BLOCK);
        make_datatype(&got, type_of(value));
        fire(Err::script_expect_val, expected, got);
    }
    const ComposeFlags flags{present(refinements, native_ref(NAT_COMPOSE, "deep")),
                             present(refinements, native_ref(NAT_COMPOSE, "only"))};
    const int32_t into = refinements[native_ref(NAT_COMPOSE, "into")];
    Cell* target = stack::push_slot();
    bool append = true;
    if (into >= 0) {
        *target = stack::arguments[into];
        append = into_mode(target);
    } else {
        block_make_at(target, std::max(block_rs_length(value), 1));
    }
    std::vector<NodeId> open;
    compose_block(*value, target, append, flags, open);
    if (interp::pending()) return;
    *stack::arguments = *target;
    stack::keep_result();
}

// --- print and prin -------------------------------------------------------------

// Cuts what a print added to the scratch block, however the print ends: the
// scratch block is shared by nested prints, each removing only its own values.
struct ScratchCut {
    uint32_t length;
    ~ScratchCut() {
        const Cell scratch{TYPE_BLOCK, 0, scratch_node, 0};
        block_set_tail_at(&scratch, length);
    }
};

// Writes the value formed (a block reduced first) to every output writer,
// with a line end when line_feed is set. The result is unset.
void form_reduced(bool line_feed) {
    Cell scratch{TYPE_BLOCK, 0, scratch_node, 0};
    RootedCell keep(&scratch);
    const uint32_t saved = block_full_length(&scratch);
    ScratchCut cut{saved};
    if (type_of(stack::arguments) == TYPE_BLOCK) {
        // The values land after any that an enclosing print has added.
        set_series_position(&scratch, saved);
        reduce_star(stack::arguments, &scratch);
        if (interp::pending()) return;
    }
    Cell* value = stack::arguments;
    Cell text;
    if (type_of(value) == TYPE_STRING) {
        const int32_t length = int32_t(string_full_length(value));
        if (series_position(value) > length) set_series_position(value, length);
        text = *value;
    } else {
        Cell* buffer = string_make_at(stack::push_slot(), 16);
        form_direct(value, buffer, nullptr, INT32_MAX);
        text = *buffer;
    }
    output_writers_call(&text, line_feed);
    natives::last_lf_q = line_feed ? 1 : 0;
    make_unset(stack::arguments);
    stack::keep_result();
}

void native_print(const int32_t*) { form_reduced(true); }
void native_prin(const int32_t*) { form_reduced(false); }

// --- bind and in ------------------------------------------------------------------

void native_bind(const int32_t* refinements) {
    const Cell* context = stack::arguments + 1;
    NodeId ctx = 0;
    const uint8_t ct = type_of(context);
    if (word_kind(ct)) {
        ctx = context->data1;
        if (!ctx) fire(Err::script_not_in_context, *context);
    } else if (ct == TYPE_FUNCTION) {
        ctx = function_context(context);
    } else if (ct == TYPE_OBJECT || ct == TYPE_ERROR || ct == TYPE_PORT) {
        ctx = context->data1;  // the object's context
    } else {
        fire_expect_arg(context, 1);
    }

    Cell* target = stack::arguments;
    const uint8_t t = type_of(target);
    if (t == TYPE_BLOCK) {
        if (present(refinements, native_ref(NAT_BIND, "copy"))) {
            // Parens and paths too: binding the copy must leave the original alone.
            *target = *block_clone(target, true, true);
        }
        // Only an object's context binds `self` to the object itself.
        context_bind_block(target, ctx, ct == TYPE_OBJECT);
    } else if (word_kind(t) && t != TYPE_REFINEMENT) {
        context_bind_word(ctx, target);
    } else {
        fire_expect_arg(target, 0);
    }
    stack::keep_result();
}

void native_in(const int32_t* refinements) {
    const Cell* holder = stack::arguments;
    NodeId ctx = 0;  // 0: a context without words
    switch (type_of(holder)) {
    case TYPE_FUNCTION:
    case TYPE_ROUTINE: ctx = holder->data1; break;
    case TYPE_OP:
        // An op of a function or routine carries that callable's context.
        if (op_wrapped_type(holder) == TYPE_FUNCTION || op_wrapped_type(holder) == TYPE_ROUTINE) ctx = holder->data1;
        break;
    case TYPE_NATIVE:
    case TYPE_ACTION: break;  // their function context names no words
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT: ctx = holder->data1; break;  // the object's context
    default: fire_expect_arg(holder, 0);
    }
    Cell word = stack::arguments[1];
    if (!word_kind(type_of(&word))) fire_expect_arg(&word, 1);
    if (!ctx || context_bind_word(ctx, &word) < 0) {
        make_none(stack::arguments);
    } else {
        if (type_of(&word) == TYPE_REFINEMENT) set_type(&word, TYPE_WORD);
        *stack::arguments = word;
    }
    stack::keep_result();
}

} // namespace

void register_block_natives() {
    reduce_symbol = symbol_make("reduce");
    if (!scratch_node) {
        Cell scratch;
        block_make_at(&scratch, 32);
        block_append_cell(root_block(), &scratch);
        scratch_node = series_node(&scratch);
        // The root block keeps it; its id is kept here too.
        collector::add_layer_root("print scratch", [] { collector::mark_block_node(&scratch_node); });
    }
    native_register(NAT_PRINT, native_print);
    native_register(NAT_PRIN, native_prin);
    native_register(NAT_REDUCE, native_reduce);
    native_register(NAT_COMPOSE, native_compose);
    native_register(NAT_BIND, native_bind);
    native_register(NAT_IN, native_in);
}

} // namespace value_natives
} // namespace kem
