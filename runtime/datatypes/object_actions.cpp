// object!: the actions (make, reflect, form and mold, path access, compare,
// copy, put, select, modify), set on objects and the row's registration.
#include <algorithm>
#include "runtime/collector/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/evaluator.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace kem {

namespace {

inline Cell* value_at(NodeId ctx, uint32_t i) { return context_value_slot(ctx, i); }

inline bool is_field(int32_t symbol, uint32_t name) { return symbol_resolve(uint32_t(symbol)) == symbol_resolve(name); }

inline bool handler_word(uint32_t symbol) {
    return is_field(int32_t(symbol), rt_words.on_change_star.data2) ||
           is_field(int32_t(symbol), rt_words.on_deep_change_star.data2);
}

// A field's word bound to its object, without the changed mark.
Cell field_word(NodeId ctx, uint32_t i, uint8_t type) {
    Cell w = *context_word_cell(ctx, i);
    w.header = type;
    w.data1 = ctx;
    return w;
}

Cell datatype_of(const Cell* v) {
    Cell dt;
    make_datatype(&dt, type_of(v));
    return dt;
}

// Assigns a field as set does: through the change handler when there is one.
void assign_field(const Cell& obj, uint32_t i, const Cell& value) {
    const NodeId ctx = object_context(&obj);
    if (object_on_set(&obj)) {
        const Cell old_value = *value_at(ctx, i);
        *value_at(ctx, i) = value;
        const Cell word = field_word(ctx, i, TYPE_WORD);
        object_field_assigned(&obj, &word, &old_value, &value);
    } else {
        *value_at(ctx, i) = value;
    }
}

[[noreturn]] void fire_missing(const Cell* path, const Cell* element, bool last) {
    const Cell p = path ? *path : none_value;
    if (last) fire(Err::script_invalid_path, p, *element);
    fire(Err::script_unset_path, p, *element);
}

} // namespace

// --- make -------------------------------------------------------------------------

Cell* object_make(Cell* proto_in, Cell* spec_in, int32_t) {
    const Cell proto = *proto_in;
    Cell spec = *spec_in;
    const bool from_object = any_object_type(type_of(&proto));
    Cell* out = stack::push_slot();
    make_unset(out);
    if (from_object) object_clone(&proto, out, true, nullptr, false);
    else object_make_at(out, 4);
    const NodeId ctx = object_context(out);

    bool added;
    switch (type_of(&spec)) {
    case TYPE_OBJECT:
        added = object_extend_from(ctx, &spec);
        out->data2 = added || !from_object ? object_next_class_id() : object_class_id(&proto);
        break;
    case TYPE_BLOCK: {
        added = context_collect_set_words(ctx, &spec);
        context_bind_block(&spec, ctx, true);
        if (from_object) object_copy_series_from(object_context(&proto), ctx, false);
        *context_self_cell(ctx) = *out;
        stack::push_frame(&rt_words.body_frame, FRAME_TOP_NATIVE);
        interp::eval_block(&spec, true);
        // The exit's catcher already owns the stacks: its result cell is left as it is.
        if (interp::pending()) return stack::arguments;
        stack::pop_frame_drop();
        object_clear_changed(ctx);
        clear_new_lines(context_cell(ctx)->data2);
        out->data2 = added || !from_object ? object_next_class_id() : object_class_id(&proto);
        break;
    }
    default: fire(Err::syntax_malconstruct, spec);
    }
    object_init_events(out);
    stack::top = out + 1;
    return out;
}

// --- reflect -------------------------------------------------------------------------

Cell* object_reflect(Cell* value, int32_t field) {
    const Cell obj = *value;
    const NodeId ctx = object_context(&obj);
    const uint32_t n = context_word_count(ctx);
    Cell* out = stack::push_slot();
    if (is_field(field, rt_symbols.class_)) {
        make_integer(out, int32_t(object_class_id(&obj)));
        return out;
    }
    if (is_field(field, rt_symbols.owner)) {
        make_logic(out, (context_cell(ctx)->header & CONTEXT_OWNER_FLAG) != 0);
        return out;
    }
    if (is_field(field, rt_symbols.events_q)) {
        make_logic(out, object_on_set(&obj) != 0);
        return out;
    }
    const bool words = is_field(field, rt_symbols.words), values = is_field(field, rt_symbols.values);
    const bool body = is_field(field, rt_symbols.body), changed = is_field(field, rt_words.changed.data2);
    if (!words && !values && !body && !changed) fire(Err::internal_not_done);
    block_make_at(out, int32_t(body ? 2 * n : n));
    const Cell blk = *out;
    for (uint32_t i = 0; i < n; i++) {
        if (changed && !(context_word_cell(ctx, i)->header & WORD_CHANGED)) continue;
        if (words || changed) {
            const Cell w = field_word(ctx, i, TYPE_WORD);
            block_append_cell(&blk, &w);
            continue;
        }
        Cell v = *value_at(ctx, i);
        if (body) {
            Cell w = field_word(ctx, i, TYPE_SET_WORD);
            w.header |= HEADER_NEW_LINE;
            block_append_cell(&blk, &w);
            if (is_type(&v, TYPE_WORD)) set_type(&v, TYPE_LIT_WORD);
            else if (is_type(&v, TYPE_PATH)) set_type(&v, TYPE_LIT_PATH);
        }
        block_append_cell(&blk, &v);
    }
    return out;
}

// --- form and mold -------------------------------------------------------------------

int32_t object_serialize(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, bool indent, int32_t level,
                         bool mold) {
    const Cell obj = *value;
    const NodeId ctx = object_context(&obj);
    const NodeId out = series_node(buffer);
    const uint32_t n = context_word_count(ctx);
    if (n == 0) return part;
    const char* separator = refs.flat ? " " : "\n";
    if (refs.flat) {
        indent = false;
    } else if (mold && !refs.only) {
        string_append_ascii(out, "\n");
        part--;
    } else {
        indent = false;
    }
    CycleScope scope;
    scope.push(ctx);
    for (uint32_t i = 0; i < n && part >= 1; i++) {
        Cell word = field_word(ctx, i, TYPE_WORD);
        if (!refs.all && handler_word(word.data2)) continue;
        if (indent) part = mold_indent(out, uint32_t(level), part);
        part = mold_direct(&word, buffer, mold_nested(refs), part, level);
        string_append_ascii(out, ": ");
        part -= 2;
        Cell v = *value_at(ctx, i);
        if (type_of(&v) == 0) make_unset(&v);
        if (is_type(&v, TYPE_WORD)) {
            string_append_ascii(out, "'");
            part--;
        }
        part = mold_direct(&v, buffer, mold_nested(refs), part, level);
        if (i + 1 < n || indent) {
            string_append_ascii(out, separator);
            part--;
        }
    }
    return part;
}

int32_t object_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    if (mold_cycle(value, series_node(buffer), part, false)) return part;
    return object_serialize(value, buffer, MoldArgs{.limit = arg}, part, false, 0, false);
}

int32_t object_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    const NodeId out = series_node(buffer);
    if (mold_cycle(value, out, part, true)) return part;
    if (!refs.only) {
        string_append_ascii(out, "make object! [");
        part -= 14;
    }
    part = object_serialize(value, buffer, refs, part, true, indent + 1, true);
    if (!refs.flat && indent >= 1) part = mold_indent(out, uint32_t(indent), part);
    if (!refs.only) {
        string_append_ascii(out, "]");
        part--;
    }
    return part;
}

// --- path access ------------------------------------------------------------------------

Cell* object_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    const Cell obj = *parent;
    const NodeId ctx = object_context(&obj);
    const uint8_t et = type_of(element);
    if (et != TYPE_WORD && et != TYPE_SET_WORD && et != TYPE_GET_WORD && et != TYPE_LIT_WORD)
        fire(Err::script_invalid_path, step.path ? *step.path : none_value, *element);
    int32_t index = int32_t(element->data3);
    if (element->data1 != ctx || index < 0 || uint32_t(index) >= context_word_count(ctx)) {
        index = object_field_index(ctx, element->data2);
        if (index < 0) {
            if (step.get && step.last) return stack::push(&unset_value);
            fire_missing(step.path, element, step.last);
        }
        element->data1 = ctx;
        element->data3 = uint32_t(index);
    }
    if (!value) {
        const Cell* v = value_at(ctx, uint32_t(index));
        if (is_type(v, TYPE_UNSET)) {
            if (step.get && step.last) return stack::push(&unset_value);
            fire_missing(step.path, element, step.last);
        }
        return stack::push(v);
    }
    const Cell new_value = *value;
    const Cell old_value = *value_at(ctx, uint32_t(index));
    Cell word = field_word(ctx, uint32_t(index), TYPE_WORD);
    context_set_in(&word, &new_value, ctx, false);
    if (object_on_set(&obj)) object_field_assigned(&obj, &word, &old_value, &new_value);
    return stack::push(&new_value);
}

// --- compare ----------------------------------------------------------------------------

int32_t object_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (type_of(value2) != type_of(value1)) return -2;
    const Cell a = *value1, b = *value2;
    const NodeId ca = object_context(&a), cb = object_context(&b);
    if (ca == cb) return 0;
    if (op == CompareOp::same) return -1;
    if (cycle_find(ca)) return cycle_find(cb) ? 0 : -1;
    const uint32_t na = context_word_count(ca), nb = context_word_count(cb);
    if (na != nb) return na < nb ? -1 : 1;
    if (na == 0) return 0;
    CycleScope scope;
    scope.push(ca);
    scope.push(cb);
    for (uint32_t i = 0; i < na; i++) {
        const uint32_t sa = symbol_resolve(context_word_cell(ca, i)->data2);
        const uint32_t sb = symbol_resolve(context_word_cell(cb, i)->data2);
        if (sa != sb) return sa < sb ? -1 : 1;
        Cell va = *value_at(ca, i), vb = *value_at(cb, i);
        const uint8_t ta = type_of(&va), tb = type_of(&vb);
        auto numeric = [](uint8_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; };
        if (ta != tb && !(any_word_type(ta) && any_word_type(tb)) && !(numeric(ta) && numeric(tb)))
            return ta < tb ? -1 : 1;
        const int32_t r = compare_values(&va, &vb, op);
        if (r != 0) return r;
    }
    return 0;
}

// --- copy, put, select, modify -------------------------------------------------------------

Cell* object_copy(Cell* value, Cell* result, const CopyArgs& refs) {
    if (refs.part) fire(Err::script_invalid_refine_arg, word_part, *refs.part);
    const Cell obj = *value;
    return object_clone(&obj, result, refs.deep, refs.types, true);
}

Cell* object_put(Cell* target, Cell* key, Cell* value, const PutArgs&) {
    if (!is_type(key, TYPE_WORD)) fire(Err::script_invalid_key_type, datatype_of(key));
    const Cell v = *value;
    Cell k = *key;
    Cell* saved_top = stack::top;
    object_eval_path(target, &k, value, PathStep{.index = -1, .last = true});
    stack::top = saved_top;
    return stack::push(&v);
}

Cell* object_select(Cell* series, Cell* value, const SelectArgs&) {
    const uint8_t t = type_of(value);
    if (!any_word_type(t) || t == TYPE_REFINEMENT || t == TYPE_ISSUE) fire(Err::script_invalid_type, datatype_of(value));
    return stack::push(object_rs_select(series, value));
}

Cell* object_modify(Cell* target, Cell* field, Cell* value, const ModifyArgs&) {
    const Cell obj = *target;
    const Cell v = *value;
    const NodeId ctx = object_context(&obj);
    const int32_t symbol = int32_t(field->data2);
    if (is_field(symbol, rt_words.changed.data2)) {
        if (!is_type(&v, TYPE_NONE)) fire(Err::script_invalid_arg, v);
        object_clear_changed(ctx);
    } else if (is_field(symbol, rt_symbols.owner)) {
        ownership_bind(&obj, &obj, &none_value);
    } else if (is_field(symbol, rt_symbols.owned)) {
        if (is_type(&v, TYPE_NONE)) {
            // The object's own links go too: unbinding an owner object itself keeps them.
            for (uint32_t i = 0; i < context_word_count(ctx); i++) {
                const Cell item = *value_at(ctx, i);
                ownership_unbind(&item);
            }
        } else if (is_type(&v, TYPE_BLOCK) && block_rs_length(&v) >= 2) {
            const uint32_t at = uint32_t(series_position(&v));
            const Cell first = *block_rs_abs_at(&v, at);
            const Cell word = *block_rs_abs_at(&v, at + 1);
            // [owner word] hands this object's series to that owner, as for a
            // series; [series word] links that series to this object.
            if (any_object_type(type_of(&first))) ownership_modify_owned(&obj, &v);
            else ownership_bind(&first, &obj, &word);
        }
    }
    return stack::push(&v);
}

// --- set ---------------------------------------------------------------------------------

void object_set_many(const Cell* obj_in, const Cell* value_in, bool any, bool only, bool some) {
    // Handlers run between the assignments and may drop every other hold on
    // the object or on the block or object the values come from.
    Cell held[2] = {*obj_in, *value_in};
    RootedCells keep(held, 2);
    const Cell& obj = held[0];
    const Cell& value = held[1];
    const NodeId ctx = object_context(&obj);
    const uint32_t n = context_word_count(ctx);
    const uint8_t vt = type_of(&value);
    const bool from_block = !only && vt == TYPE_BLOCK;
    const bool from_object = !only && any_object_type(vt);
    const bool handlers = object_on_set(&obj) != 0;

    auto mark = [&](uint32_t i) { context_word_cell(ctx, i)->header |= WORD_CHANGED; };
    auto set_one = [&](uint32_t i, const Cell& v) {
        mark(i);
        if (some && is_type(&v, TYPE_NONE)) return;
        if (handlers && handler_word(context_word_cell(ctx, i)->data2)) return;
        assign_field(obj, i, v);
    };

    if (from_block) {
        const uint32_t pos = uint32_t(std::max(series_position(&value), 0));
        auto item = [&](uint32_t i) {
            return pos + i < block_full_length(&value) ? *block_rs_abs_at(&value, pos + i) : none_value;
        };
        if (!any && !some)
            for (uint32_t i = 0; i < n; i++)
                if (const Cell c = item(i); is_type(&c, TYPE_UNSET))
                    fire(Err::script_need_value, field_word(ctx, i, TYPE_WORD));
        for (uint32_t i = 0; i < n; i++) set_one(i, item(i));
        return;
    }
    if (from_object) {
        const NodeId src = object_context(&value);
        if (!any && !some)
            for (uint32_t i = 0; i < n; i++) {
                const int32_t j = context_find_word(src, context_word_cell(ctx, i)->data2, true);
                if (j >= 0 && is_type(value_at(src, uint32_t(j)), TYPE_UNSET))
                    fire(Err::script_need_value, field_word(ctx, i, TYPE_WORD));
            }
        for (uint32_t i = 0; i < n; i++) {
            const int32_t j = context_find_word(src, context_word_cell(ctx, i)->data2, true);
            if (j < 0) continue;
            set_one(i, *value_at(src, uint32_t(j)));
        }
        return;
    }
    for (uint32_t i = 0; i < n; i++) set_one(i, value);
}

// --- registration --------------------------------------------------------------------------

void register_object() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(object_make)
        .set<ACT_REFLECT>(object_reflect)
        .set<ACT_FORM>(object_form)
        .set<ACT_MOLD>(object_mold)
        .set<ACT_EVAL_PATH>(object_eval_path)
        .set<ACT_COMPARE>(object_compare)
        .set<ACT_COPY>(object_copy)
        .set<ACT_PUT>(object_put)
        .set<ACT_SELECT>(object_select)
        .set<ACT_MODIFY>(object_modify);
    register_datatype(TYPE_OBJECT, 0, "object!", row);
    collector::set_mark_kind(TYPE_OBJECT, collector::MK_OBJECT);
    collector::add_layer_root("object field cache", object_field_cache_clear);
    register_object_change();
}

} // namespace kem
