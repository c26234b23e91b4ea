// object!: the change handlers. An object whose fields include the function
// on-change* hears of every field assignment; one with on-deep-change* hears
// of changes inside the series it owns.
//
// The handlers run Kem code from C++: everything they are given sits on the
// data stack, and a pending exit that belongs outside leaves as PendingExit.
#include <algorithm>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/evaluator.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/symbol.h"

namespace kem {

namespace {

enum HandlerSlot : uint32_t { ON_CHANGE = 0, ON_DEEP_CHANGE = 1 };

struct HandlerRecord {
    int32_t index;   // field index, -1 for none
    int32_t count;   // local slots
    NodeId spec;     // spec node when the count was taken
};

inline Cell* on_set_cell(NodeId on_set, HandlerSlot slot) { return node_buffer(on_set)->cell_head() + slot; }

// A record is a block cell naming the spec, with the index and count packed
// into its position word: the collector then keeps the spec's id current when
// it moves nodes, so the comparison with the handler's spec stays sound.
HandlerRecord read_record(NodeId on_set, HandlerSlot slot) {
    const Cell* c = on_set_cell(on_set, slot);
    return {int32_t(int16_t(c->data1 >> 16)), int32_t(c->data1 & 0xFFFF), c->data2};
}

Cell record_cell(int32_t index, int32_t count, NodeId spec) {
    return Cell{TYPE_BLOCK, (uint32_t(index) << 16) | (uint32_t(count) & 0xFFFF), spec, 0};
}

inline bool handler_type(uint8_t t) { return t == TYPE_FUNCTION || t == TYPE_ROUTINE; }

int32_t count_locals(const Cell* fn) {
    const Cell spec = callable_spec(fn);
    return function_count_locals(&spec, 0, false);
}

// The handler's function, its local count refreshed when its spec changed
// since the count was taken (a field re-set to another function).
Cell current_handler(NodeId on_set, HandlerSlot slot, NodeId ctx, int32_t* locals) {
    HandlerRecord r = read_record(on_set, slot);
    const Cell fn = *context_value_slot(ctx, uint32_t(r.index));
    if (fn.data2 != r.spec) {
        r.count = count_locals(&fn);
        *on_set_cell(on_set, slot) = record_cell(r.index, r.count, fn.data2);
    }
    *locals = r.count;
    return fn;
}

// Calls a handler whose arguments the caller pushed after saved_top, in the
// frame already pushed; the stack is back at saved_top afterwards.
void run_handler(const Cell& fn, int32_t locals, Cell* saved_top, HandlerSlot slot) {
    if (locals > 0) function_init_locals(uint32_t(locals));
    interp::call_function(&fn, slot == ON_DEEP_CHANGE ? interp::CALLBACK_DEEP : interp::CALLBACK_CHANGE);
    if (interp::pending()) throw PendingExit{};
    stack::pop_function_frame_keep_result();
    stack::top = saved_top;
}

Cell frame_name(const Cell& word, NodeId ctx) { return Cell{TYPE_WORD, ctx, word.data2, 0xFFFFFFFF}; }

// context_set_in reports assignments to fields of objects with handlers here.
void on_context_change(Cell* object, Cell* word, Cell* old_value, Cell* new_value) {
    object_field_assigned(object, word, old_value, new_value);
}

} // namespace

NodeId object_make_on_set(NodeId change_spec, int32_t change_index, int32_t change_count, NodeId deep_spec,
                          int32_t deep_index, int32_t deep_count) {
    Cell blk;
    block_make_at(&blk, 2);
    const Cell change = record_cell(change_index, change_count, change_spec);
    const Cell deep = record_cell(deep_index, deep_count, deep_spec);
    block_append_cell(&blk, &change);
    block_append_cell(&blk, &deep);
    return series_node(&blk);
}

NodeId object_link_handlers(NodeId ctx) {
    const Cell* names[2] = {&rt_words.on_change_star, &rt_words.on_deep_change_star};
    int32_t index[2] = {-1, -1}, count[2] = {0, 0};
    NodeId spec[2] = {0, 0};
    for (int h = 0; h < 2; h++) {
        index[h] = context_find_word(ctx, names[h]->data2, true);
        if (index[h] < 0) continue;
        const Cell fn = *context_value_slot(ctx, uint32_t(index[h]));
        if (!handler_type(type_of(&fn))) {
            Cell dt;
            make_datatype(&dt, type_of(&fn));
            fire(Err::script_bad_field_set, *names[h], dt);
        }
        count[h] = count_locals(&fn);
        spec[h] = fn.data2;
    }
    if (index[0] < 0 && index[1] < 0) return 0;
    return object_make_on_set(spec[0], index[0], count[0], spec[1], index[1], count[1]);
}

bool object_on_set_active_q(const Cell* obj) {
    const NodeId on_set = object_on_set(obj);
    return on_set && read_record(on_set, ON_DEEP_CHANGE).index >= 0;
}

void object_init_events(Cell* obj) {
    const NodeId ctx = object_context(obj);
    obj->data3 = object_link_handlers(ctx);
    *context_self_cell(ctx) = *obj;
    if (object_on_set_active_q(obj)) {
        const Cell self = *obj;
        ownership_bind(&self, &self, &none_value);
        // The owner flag lives in the context cell, not in the object cell.
        *context_self_cell(ctx) = self;
    }
}

void object_call_on_change(const Cell* obj_in, const Cell* word_in, const Cell* old_in, const Cell* new_in) {
    const Cell obj = *obj_in;
    const NodeId on_set = object_on_set(&obj);
    if (!on_set || read_record(on_set, ON_CHANGE).index < 0) return;
    const NodeId ctx = object_context(&obj);
    const Cell old_value = *old_in;
    const Cell new_value = *new_in;
    Cell word = *word_in;
    if (!is_type(context_value_slot(ctx, uint32_t(read_record(on_set, ON_CHANGE).index)), TYPE_FUNCTION))
        fire(Err::script_invalid_obj_evt, rt_words.on_change_star);
    int32_t locals = 0;
    const Cell fn = current_handler(on_set, ON_CHANGE, ctx, &locals);
    if (word.data1 != ctx) context_bind_word(ctx, &word);
    word.header &= ~WORD_CHANGED;

    Cell* saved_top = stack::top;
    const Cell name = frame_name(rt_words.on_change_star, ctx);
    stack::push_function_frame(&name, function_context(&fn));
    stack::push(&word);
    stack::push(&old_value);
    stack::push(&new_value);
    run_handler(fn, locals, saved_top, ON_CHANGE);
}

void object_call_on_deep_change(const Cell* owner_in, const Cell* word_in, const Cell* target_in,
                                const Cell* action_in, const Cell* new_in, int32_t index, int32_t part) {
    const Cell owner = *owner_in;
    const NodeId on_set = object_on_set(&owner);
    if (!on_set) fire(Err::script_invalid_obj_evt, rt_words.on_deep_change_star);
    const HandlerRecord r = read_record(on_set, ON_DEEP_CHANGE);
    if (r.index < 0) return;
    const NodeId ctx = object_context(&owner);
    if (!is_type(context_value_slot(ctx, uint32_t(r.index)), TYPE_FUNCTION)) return;
    const Cell word = *word_in, target = *target_in, action = *action_in;
    const Cell added = new_in ? *new_in : none_value;
    int32_t locals = 0;
    const Cell fn = current_handler(on_set, ON_DEEP_CHANGE, ctx, &locals);

    Cell* saved_top = stack::top;
    const Cell name = frame_name(rt_words.on_deep_change_star, ctx);
    stack::push_function_frame(&name, function_context(&fn));
    stack::push(&owner);
    stack::push(&word);
    stack::push(&target);
    stack::push(&action);
    stack::push(&added);
    make_integer(stack::push_slot(), index);
    make_integer(stack::push_slot(), part);
    run_handler(fn, locals, saved_top, ON_DEEP_CHANGE);
}

void object_field_assigned(const Cell* obj_in, const Cell* word, const Cell* old_value, const Cell* new_value) {
    const Cell obj = *obj_in;
    if (object_on_set_active_q(&obj)) {
        // The new value's series now reach the owner's on-deep-change*.
        Cell field = *word;
        field.header &= ~WORD_CHANGED;
        ownership_bind(new_value, &obj, &field);
    }
    object_call_on_change(&obj, word, old_value, new_value);
}

void register_object_change() { context_on_change = on_context_change; }

} // namespace kem
