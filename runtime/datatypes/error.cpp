// error!: making errors from the catalog, the report text, mold, compare and
// the capture of the call stack.
//
// The catalog (system/catalog/errors) and the prototype (system/standard/error)
// are read from the system object each time: scripts may change them.
#include "runtime/datatypes/error.h"
#include <algorithm>
#include "runtime/collector/collector.h"
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
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/stack_words.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"

namespace kem {

namespace {

// Symbols of the names error code looks up, interned on first use.
struct Names {
    uint32_t system, catalog, errors, standard, error, state, stack_trace, source_files;
    uint32_t type, id, user, message, internal, invalid_error, syntax;
};
const Names& names() {
    static Names n{};
    static bool ready = false;
    if (!ready) {
        n = Names{symbol_make("system"),       symbol_make("catalog"),      symbol_make("errors"),
                  symbol_make("standard"),     symbol_make("error"),        symbol_make("state"),
                  symbol_make("stack-trace"),  symbol_make("source-files"), symbol_make("type"),
                  symbol_make("id"),           symbol_make("user"),         symbol_make("message"),
                  symbol_make("internal"),     symbol_make("invalid-error"), symbol_make("syntax")};
        ready = true;
    }
    return n;
}

inline bool same_symbol(uint32_t a, uint32_t b) { return symbol_resolve(a) == symbol_resolve(b); }

// The field of an object named by the symbol, or nullptr.
Cell* field_of(const Cell* obj, uint32_t symbol) {
    if (!obj || !any_object_type(type_of(obj))) return nullptr;
    const NodeId ctx = object_context(obj);
    const int32_t i = context_find_word(ctx, symbol, true);
    return i < 0 ? nullptr : context_value_slot(ctx, uint32_t(i));
}

Cell* system_field(uint32_t symbol) { return field_of(context_global_value_cell(names().system), symbol); }

const Cell* catalog() {
    const Cell* c = field_of(system_field(names().catalog), names().errors);
    if (!c) fire(Err::internal_not_done);
    return c;
}

// A word of an object's word list, as a word! bound to that object.
Cell object_word(const Cell* obj, uint32_t index) {
    const NodeId ctx = object_context(obj);
    Cell w = *context_word_cell(ctx, index);
    w.header = TYPE_WORD;
    w.data1 = ctx;
    return w;
}

Cell word_cell(uint32_t symbol) {
    Cell w{};
    word_make_at(symbol, &w);
    return w;
}

// Index of a word's symbol in an object, -1 when absent.
int32_t index_in(const Cell* obj, const Cell* word) {
    if (!any_object_type(type_of(obj))) return -1;
    return context_find_word(object_context(obj), word->data2, true);
}

// Fills code, type and id from a category index and an id index.
void set_identity(const Cell* err, const Cell* cat, int32_t k, int32_t i) {
    const Cell category = *context_value_slot(object_context(cat), uint32_t(k));
    const Cell type = object_word(cat, uint32_t(k));
    const Cell id = object_word(&category, uint32_t(i));
    make_integer(error_field(err, ERROR_CODE), 100 * k + i - 2);
    *error_field(err, ERROR_TYPE) = type;
    *error_field(err, ERROR_ID) = id;
}

// Checks that type and id name a catalog entry and fills code from them.
void identity_from_fields(const Cell* err, const Cell* field_name_type, const Cell* field_name_id) {
    const Cell* cat = catalog();
    const Cell type = *error_field(err, ERROR_TYPE);
    const int32_t k = is_type(&type, TYPE_WORD) ? index_in(cat, &type) : -1;
    if (k < 0) fire(Err::script_invalid_spec_field, *field_name_type);
    const Cell category = *context_value_slot(object_context(cat), uint32_t(k));
    const Cell id = *error_field(err, ERROR_ID);
    const int32_t i = is_type(&id, TYPE_WORD) ? index_in(&category, &id) : -1;
    if (i < 2) fire(Err::script_invalid_spec_field, *field_name_id);
    make_integer(error_field(err, ERROR_CODE), 100 * k + i - 2);
}

// Text appended to a string since `from` (code points) cut back to `limit`.
void cut_to(const Cell* buffer, uint32_t from, uint32_t limit) {
    if (string_full_length(buffer) > from + limit) string_truncate(series_node(buffer), from + limit);
}

void append_molded(Cell* buffer, const Cell* value, bool only, uint32_t limit) {
    Cell v = *value;
    const uint32_t from = string_full_length(buffer);
    mold_direct(&v, buffer, MoldArgs{.only = only, .flat = true}, int32_t(limit), 0);
    cut_to(buffer, from, limit);
}

void append_formed(Cell* buffer, const Cell* value, uint32_t limit) {
    Cell v = *value;
    const uint32_t from = string_full_length(buffer);
    form_direct(&v, buffer, nullptr, int32_t(limit));
    cut_to(buffer, from, limit);
}

// The template's items in order, strings as they are and argument words as
// the fields they name, one blank between items.
void reduce_message(const Cell* tmpl, Cell* buffer, const Cell* err) {
    const Cell block = *tmpl;
    const Cell type = *error_field(err, ERROR_TYPE);
    const bool formed = is_type(&type, TYPE_WORD) && same_symbol(type.data2, names().syntax);
    bool first = true;
    const uint32_t total = block_full_length(&block);
    for (uint32_t i = uint32_t(std::max(series_position(&block), 0)); i < total; i++) {
        const Cell item = *block_rs_abs_at(&block, i);
        const uint8_t t = type_of(&item);
        if (t != TYPE_STRING && t != TYPE_WORD && t != TYPE_GET_WORD) continue;
        if (!first) string_append_ascii(buffer, " ");
        first = false;
        if (t == TYPE_STRING) {
            append_formed(buffer, &item, 0x7FFFFFFF);
            continue;
        }
        const Cell value = *object_rs_select(err, &item);
        stack::push_frame(&rt_words.body_frame, FRAME_TOP_NATIVE);
        if (formed) append_formed(buffer, &value, 80);
        else append_molded(buffer, &value, false, 80);
        stack::pop_frame_drop();
    }
}

// The error becomes internal invalid-error about `what`.
void replace_invalid(const Cell* err, const Cell* what) {
    const Cell v = *what;
    *error_field(err, ERROR_ARG1) = v;
    *error_field(err, ERROR_TYPE) = word_cell(names().internal);
    *error_field(err, ERROR_ID) = word_cell(names().invalid_error);
}

int32_t stack_trace_level() {
    const Cell* v = field_of(system_field(names().state), names().stack_trace);
    return v && is_type(v, TYPE_INTEGER) ? int32_t(v->data2) : 0;
}

} // namespace

Cell* error_field(const Cell* error, ErrorField f) { return context_value_slot(object_context(error), f); }

// --- making --------------------------------------------------------------------------

Cell* error_make(Cell*, Cell* spec_in, int32_t) {
    Cell spec = *spec_in;
    const Cell* proto = field_of(system_field(names().standard), names().error);
    if (!proto || !any_object_type(type_of(proto))) fire(Err::internal_not_done);
    Cell* out = stack::push_slot();
    make_unset(out);
    object_clone(proto, out, false, nullptr, false);
    *out = Cell{TYPE_ERROR, object_context(out), ERROR_CLASS_ID, 0};
    *context_self_cell(object_context(out)) = *out;

    const Cell type_word = word_cell(names().type);
    const Cell id_word = word_cell(names().id);
    const Cell* cat = catalog();
    switch (type_of(&spec)) {
    case TYPE_INTEGER: {
        const int32_t code = int32_t(spec.data2);
        const int32_t k = code / 100;
        if (code < 0 || uint32_t(k) >= object_count_words(cat)) fire(Err::script_out_of_range, spec);
        const Cell* category = context_value_slot(object_context(cat), uint32_t(k));
        const int32_t i = code % 100 + 2;
        if (!any_object_type(type_of(category)) || uint32_t(i) >= object_count_words(category))
            fire(Err::script_out_of_range, spec);
        set_identity(out, cat, k, i);
        break;
    }
    case TYPE_BLOCK: {
        const uint32_t at = uint32_t(std::max(series_position(&spec), 0));
        const uint32_t total = block_full_length(&spec);
        const Cell first = at < total ? *block_rs_abs_at(&spec, at) : none_value;
        if (is_type(&first, TYPE_WORD)) {
            const int32_t k = index_in(cat, &first);
            if (k < 0) fire(Err::script_invalid_spec_field, type_word);
            if (at + 1 >= total) fire(Err::script_invalid_spec_field, id_word);
            const Cell second = *block_rs_abs_at(&spec, at + 1);
            if (!is_type(&second, TYPE_WORD)) fire(Err::script_invalid_arg, second);
            const Cell* category = context_value_slot(object_context(cat), uint32_t(k));
            const int32_t i = index_in(category, &second);
            if (i < 2) fire(Err::script_invalid_spec_field, id_word);
            set_identity(out, cat, k, i);
        } else if (is_type(&first, TYPE_SET_WORD)) {
            const NodeId ctx = object_context(out);
            context_bind_block(&spec, ctx, true);
            stack::push_frame(&rt_words.body_frame, FRAME_TOP_NATIVE);
            interp::eval_block(&spec, true);
            if (interp::pending()) return stack::arguments;
            stack::pop_frame_drop();
            identity_from_fields(out, &type_word, &id_word);
        } else {
            fire(Err::internal_invalid_error, spec);
        }
        break;
    }
    case TYPE_STRING: {
        stack::top = out;
        const Cell user = word_cell(names().user);
        const Cell message = word_cell(names().message);
        Cell* made = error_create(&user, &message, &spec, nullptr, nullptr);
        make_none(error_field(made, ERROR_NEAR));
        return made;
    }
    default: {
        Cell dt;
        make_datatype(&dt, TYPE_ERROR);
        fire(Err::script_bad_make_arg, dt, spec);
    }
    }
    // Outside any evaluation (the start-up's own calls) there is no place to name.
    if (is_type(&interp::position, TYPE_UNSET)) make_none(error_field(out, ERROR_NEAR));
    else *error_field(out, ERROR_NEAR) = interp::position;
    stack::top = out + 1;
    return out;
}

Cell* error_create(const Cell* category, const Cell* id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    const Cell a[3] = {arg1 ? *arg1 : none_value, arg2 ? *arg2 : none_value, arg3 ? *arg3 : none_value};
    const bool given[3] = {arg1 != nullptr, arg2 != nullptr, arg3 != nullptr};
    Cell* saved_top = stack::top;
    Cell* spec = stack::push_slot();
    block_make_at(spec, 2);
    block_append_cell(spec, category);
    block_append_cell(spec, id);
    Cell proto = none_value;
    Cell made = *error_make(&proto, spec, TYPE_ERROR);
    int last = -1;
    for (int n = 0; n < 3; n++)
        if (given[n]) *error_field(&made, ErrorField(ERROR_ARG1 + n)) = a[last = n];
    // Text read outside the script's own code (a script before it starts, a
    // line at the console) has no place of its own to name: a syntax error
    // shows its source text, its last argument.
    Cell* near = error_field(&made, ERROR_NEAR);
    if ((is_type(near, TYPE_UNSET) || is_type(near, TYPE_NONE)) && last >= 0 && is_type(category, TYPE_WORD) && same_symbol(category->data2, names().syntax))
        *near = a[last];
    stack::top = saved_top;
    return stack::push(&made);
}

Cell* error_create_id(Err e, int argc, const Cell* args) {
    const ErrorInfo* info = error_info(e);
    if (!info) fire(Err::internal_invalid_error, Cell{TYPE_INTEGER, 0, uint32_t(error_code(e)), 0});
    const Cell cat = word_cell(symbol_make(error_category_info(info->category).name));
    const Cell id = word_cell(symbol_make(info->name));
    return error_create(&cat, &id, argc > 0 ? &args[0] : nullptr, argc > 1 ? &args[1] : nullptr,
                        argc > 2 ? &args[2] : nullptr);
}

Cell* error_from_exception(const KemError& e) {
    Cell* err = e.has_value ? stack::push(&e.value) : error_create_id(e.id, e.argc, e.args);
    if (stack::ready() && !stack::empty_frames()) {
        const Cell where = stack::caller_word();
        error_set_where(err, &where);
        error_save_stack(err);
    }
    return err;
}

void error_raise(const Cell& error) {
    const Cell* code = error_field(&error, ERROR_CODE);
    Err id = Err::internal_invalid_error;
    if (is_type(code, TYPE_INTEGER) && error_info(Err(uint16_t(code->data2))) && int32_t(code->data2) >= 0)
        id = Err(uint16_t(code->data2));
    KemError k(id);
    k.has_value = true;
    k.value = error;
    throw k;
}

void error_set_where(Cell* error, const Cell* word) {
    Cell* where = error_field(error, ERROR_WHERE);
    if (is_type(where, TYPE_NONE)) *where = *word;
}

void error_save_stack(Cell* error) {
    Cell* s = error_field(error, ERROR_STACK);
    if (!is_type(s, TYPE_BLOCK)) make_integer(s, int32_t(stack::frames_top - stack::frames_bottom));
}

void error_capture_stack(Cell* error_in) {
    const Cell error = *error_in;
    if (!is_type(&error, TYPE_ERROR)) return;
    const Cell marker = *error_field(&error, ERROR_STACK);
    if (!is_type(&marker, TYPE_INTEGER)) return;
    const int32_t level = stack_trace_level();
    Cell* saved_top = stack::top;
    Cell* trace = stack::push_slot();
    block_make_at(trace, 20);
    stack::frame_words(level > 0 ? level : 1, trace, stack::frames_bottom + int32_t(marker.data2));
    *error_field(&error, ERROR_STACK) = *trace;
    const Cell* files = field_of(system_field(names().state), names().source_files);
    if (files && is_type(files, TYPE_BLOCK) && block_full_length(files) > uint32_t(series_position(files))) {
        Cell copy;
        block_clone_at(&copy, files, false, false);
        *error_field(&error, ERROR_FILES) = copy;
    }
    stack::top = saved_top;
}

// --- report, mold, compare -----------------------------------------------------------

int32_t error_form(Cell* value, Cell* buffer, Cell*, int32_t part) {
    const Cell err = *value;
    const uint32_t start = string_full_length(buffer);
    string_append_ascii(buffer, "*** ");

    // An unknown type or id, or a template of the wrong kind, turns the error
    // into internal invalid-error about it; that entry always exists.
    Cell tmpl = none_value;
    Cell type_text = none_value;
    for (int attempt = 0; attempt < 2; attempt++) {
        const Cell* cat = catalog();
        const Cell type = *error_field(&err, ERROR_TYPE);
        const Cell* category = is_type(&type, TYPE_WORD) ? field_of(cat, type.data2) : nullptr;
        if (!category) {
            replace_invalid(&err, &type);
            continue;
        }
        const Cell id = *error_field(&err, ERROR_ID);
        const Cell* found = is_type(&id, TYPE_WORD) ? field_of(category, id.data2) : nullptr;
        if (!found || index_in(category, &id) < 2) {
            replace_invalid(&err, &id);
            continue;
        }
        tmpl = *found;
        type_text = *context_value_slot(object_context(category), 1);
        if (is_type(&tmpl, TYPE_WORD)) tmpl = *object_rs_select(&err, &tmpl);
        if (is_type(&tmpl, TYPE_STRING) || is_type(&tmpl, TYPE_BLOCK)) break;
        replace_invalid(&err, &type);
        tmpl = none_value;
    }
    append_formed(buffer, &type_text, 0x7FFFFFFF);
    string_append_ascii(buffer, ": ");
    if (is_type(&tmpl, TYPE_STRING)) append_formed(buffer, &tmpl, 0x7FFFFFFF);
    else if (is_type(&tmpl, TYPE_BLOCK)) reduce_message(&tmpl, buffer, &err);

    string_append_ascii(buffer, "\n*** Where: ");
    const Cell where = *error_field(&err, ERROR_WHERE);
    if (is_type(&where, TYPE_WORD) || is_type(&where, TYPE_STRING)) append_formed(buffer, &where, 0x7FFFFFFF);
    else string_append_ascii(buffer, "???");

    string_append_ascii(buffer, "\n*** Near : ");
    const Cell near = *error_field(&err, ERROR_NEAR);
    append_molded(buffer, &near, true, 40);

    const int32_t level = stack_trace_level();
    const Cell trace = *error_field(&err, ERROR_STACK);
    if (level > 0 && is_type(&trace, TYPE_INTEGER)) {
        string_append_ascii(buffer, "\n*** Stack: ");
        stack::form_frame_words(level, stack::frames_bottom + int32_t(trace.data2), buffer, 0x7FFFFFFF);
    } else if (level > 0 && is_type(&trace, TYPE_BLOCK)) {
        string_append_ascii(buffer, "\n*** Stack: ");
        append_formed(buffer, &trace, 0x7FFFFFFF);
    }
    const Cell files = *error_field(&err, ERROR_FILES);
    if (is_type(&files, TYPE_BLOCK)) {
        string_append_ascii(buffer, "\n*** Files: ");
        append_molded(buffer, &files, true, 40);
    }
    return part - int32_t(string_full_length(buffer) - start);
}

int32_t error_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    const NodeId out = series_node(buffer);
    if (!refs.only) {
        string_append_ascii(out, "make error! [");
        part -= 13;
    }
    part = object_serialize(value, buffer, refs, part, true, indent + 1, true);
    if (!refs.flat && indent >= 1) part = mold_indent(out, uint32_t(indent), part);
    if (!refs.only) {
        string_append_ascii(out, "]");
        part--;
    }
    return part;
}

int32_t error_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_ERROR)) return -2;
    Cell a = *value1;
    Cell b = *value2;
    set_type(&a, TYPE_OBJECT);
    set_type(&b, TYPE_OBJECT);
    return object_compare(&a, &b, op);
}

void register_error() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(error_make)
        .inherit(ACT_REFLECT)
        .set<ACT_FORM>(error_form)
        .set<ACT_MOLD>(error_mold)
        .set<ACT_EVAL_PATH>(object_eval_path)
        .set<ACT_COMPARE>(error_compare)
        .inherit(ACT_COPY)
        .inherit(ACT_SELECT);
    register_datatype(TYPE_ERROR, TYPE_OBJECT, "error!", row);
    collector::set_mark_kind(TYPE_ERROR, collector::MK_OBJECT);
}

} // namespace kem
