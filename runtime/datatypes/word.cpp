// word! and its kinds: making words, reading and writing their values, and
// the actions of the five types.
#include "runtime/datatypes/word.h"
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/loader.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/services/hash_keys.h"

namespace kem {

bool startup_word_mode = false;

void words_init() {
    symbol_table_init();
    context_global_init();
}

namespace {

// Value n of a context that must have values; script not-defined (word n) otherwise.
Cell* slot_or_fail(NodeId ctx, uint32_t n) {
    Cell* slot = context_value_slot_checked(ctx, n);
    if (slot) return slot;
    Cell word = n < context_word_count(ctx) ? *context_word_cell(ctx, n) : Cell{TYPE_NONE, 0, 0, 0};
    fire(Err::script_not_defined, word);
}

void mark_changed(NodeId ctx, uint32_t n) {
    if (!context_values_on_stack(ctx) && context_kind(ctx) == CONTEXT_OBJECT)
        context_word_cell(ctx, n)->header |= WORD_CHANGED;
}

// The string! cell of a symbol's cached name.
Cell name_string(uint32_t symbol) {
    Cell s;
    make_series(&s, TYPE_STRING, symbol_to_string(symbol));
    return s;
}

// The one word the lexer loads from a string!; script invalid-chars for
// anything else.
Cell load_word(Cell* string) {
    Cell out;
    make_unset(&out);
    load_one_value(string, &out);
    if (!any_word_type(type_of(&out))) fire(Err::script_invalid_chars);
    return out;
}

int32_t mold_marked(Cell* value, Cell* buffer, Cell* arg, int32_t part, const char* before, const char* after) {
    if (before) {
        string_append_ascii(buffer, before);
        part -= 1;
    }
    part = word_form(value, buffer, arg, part);
    if (after) {
        string_append_ascii(buffer, after);
        part -= 1;
    }
    return part;
}

} // namespace

// --- making words --------------------------------------------------------------------

Cell word_load(const char* name, uint8_t type) {
    Cell word = context_global_slot(symbol_make(name), true, true);
    set_type(&word, type);
    if (startup_word_mode) word_record(&word);
    return word;
}

Cell* word_load_in(const char* name, const Cell* block, uint8_t type) {
    Cell word;
    word_make_at(symbol_make(name), &word);
    set_type(&word, type);
    Cell* c = block_alloc_tail(block);
    *c = word;
    return c;
}

Cell* word_make_at(uint32_t symbol, Cell* c) {
    Cell word{TYPE_WORD, global_context, symbol, 0};
    word.data3 = uint32_t(context_add_word(global_context, &word));
    *c = word;
    return c;
}

Cell* word_make_in(uint32_t symbol, const Cell* block) {
    Cell word;
    word_make_at(symbol, &word);
    Cell* c = block_alloc_tail(block);
    *c = word;
    return c;
}

Cell* word_record(const Cell* word) {
    const Cell* root = root_block();
    if (!is_type(root, TYPE_BLOCK)) return nullptr;
    const Cell copy = *word;  // the word may lie in the root block itself
    Cell* c = block_alloc_tail(root);
    *c = copy;
    return c;
}

int32_t word_scan_name(const Cell* word) {
    std::string_view name = symbol_name(word->data2);
    return lexer_scan_type(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()));
}

Cell refinement_load(const char* name) {
    Cell refinement{TYPE_REFINEMENT, 0, symbol_make(name), 0xFFFFFFFF};
    word_record(&refinement);
    return refinement;
}

// --- pushing words ---------------------------------------------------------------------

Cell* word_push_local(NodeId ctx, uint32_t n, uint8_t type) {
    Cell* c = stack::push(context_word_cell(ctx, n));
    set_type(c, type);
    return c;
}

// --- values by context and slot ------------------------------------------------------

Cell* word_local_cell(NodeId ctx, uint32_t n) { return context_word_cell(ctx, n); }

Cell* word_get_in(NodeId ctx, uint32_t n) { return slot_or_fail(ctx, n); }

Cell* word_push_frame_value(NodeId ctx, uint32_t n) { return stack::push(slot_or_fail(ctx, n)); }

void word_set_local_push_old(NodeId ctx, uint32_t n) {
    mark_changed(ctx, n);
    Cell* slot = slot_or_fail(ctx, n);
    const Cell value = *stack::top_value();
    stack::push(slot);
    *slot = value;
}

void word_set_local_from_top(NodeId ctx, uint32_t n) {
    mark_changed(ctx, n);
    *slot_or_fail(ctx, n) = *stack::top_value();
}

// --- values by word ----------------------------------------------------------------------

Cell* word_value_cell_in(const Cell* word, NodeId ctx) {
    const int32_t index = static_cast<int32_t>(word->data3);
    if (index < 0) {
        if (word->data2 == self_symbol && word->data1) return context_self_cell(word->data1);
        fire(Err::script_no_value, *word);
    }
    Cell* slot = ctx ? context_value_slot_checked(ctx, uint32_t(index)) : nullptr;
    if (!slot) fire(Err::script_not_in_context, *word);
    return slot;
}

Cell* word_get(const Cell* word) {
    Cell* value = word_value_cell(word);
    if (is_type(value, TYPE_UNSET)) fire(Err::script_no_value, *word);
    return stack::push(value);
}

Cell* word_push_value_any(const Cell* word) { return stack::push(word_value_cell(word)); }

Cell* word_set(Cell* word, const Cell* value) { return context_set_in(word, value, word->data1, true); }

Cell* word_set_from_arg() {
    Cell* args = stack::arguments;
    if (is_type(args + 1, TYPE_UNSET)) fire(Err::script_need_value, args[0]);
    return word_set_from_arg_any();
}

Cell* word_set_from_arg_any() {
    Cell* args = stack::arguments;
    const Cell value = args[1];
    word_set(args, &value);
    return stack::set_last(&value);
}

Cell* word_get_from_arg() {
    const Cell value = *word_value_cell(stack::arguments);
    return stack::set_last(&value);
}

int32_t word_set_integer(Cell* word, int32_t value) {
    if (static_cast<int32_t>(word->data3) < 0) {
        int32_t index = word->data1 ? context_find_word(word->data1, word->data2, false) : -1;
        if (index < 0) fire(Err::script_no_value, *word);
        word->data3 = uint32_t(index);
    }
    make_integer(word_value_cell(word), value);
    return value;
}

Cell* word_push_name(const Cell* word) {
    const Cell name = name_string(word->data2);
    return stack::push(&name);
}

Cell* word_symbol_cell(const Cell* word) { return symbol_get(word->data2); }

// --- actions -------------------------------------------------------------------------------

Cell* word_make(Cell* proto, Cell* spec, int32_t type) {
    Cell target;
    make_datatype(&target, uint8_t(type));
    Cell result;
    switch (type_of(spec)) {
    case TYPE_WORD:
    case TYPE_SET_WORD:
    case TYPE_LIT_WORD:
    case TYPE_GET_WORD: result = *spec; break;
    case TYPE_REFINEMENT:
    case TYPE_ISSUE: {
        int32_t token = word_scan_name(spec);
        if (token < TYPE_WORD || token > TYPE_GET_WORD) fire(Err::script_bad_to_arg, target, *spec);
        result = *spec;
        context_bind_word(global_context, &result);
        break;
    }
    case TYPE_STRING: result = load_word(spec); break;
    case TYPE_CHAR: {
        Cell text;
        string_make_at(&text, 1);
        string_append_char(&text, cell_int(spec));
        result = load_word(&text);
        break;
    }
    case TYPE_DATATYPE: {
        uint32_t id = spec->data1;
        if (id == 0 || id >= uint32_t(TYPE_TABLE_SIZE) || !datatype_names[id].name)
            fire(Err::script_bad_to_arg, target, *spec);
        const DatatypeName& entry = datatype_names[id];
        result = entry.word.header ? entry.word : word_load(entry.name);
        break;
    }
    case TYPE_LOGIC: word_make_at(symbol_make(spec->data1 ? "true" : "false"), &result); break;
    default: fire(Err::script_bad_to_arg, target, *spec);
    }
    result.header = uint32_t(type);
    return stack::push(&result);
}

int32_t word_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    Cell name = name_string(value->data2);
    return string_form(&name, buffer, arg, part);
}

int32_t word_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t) {
    return word_form(value, buffer, refs.limit, part);
}

int32_t lit_word_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t) {
    return mold_marked(value, buffer, refs.limit, part, "'", nullptr);
}

int32_t set_word_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t) {
    return mold_marked(value, buffer, refs.limit, part, nullptr, ":");
}

int32_t get_word_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t) {
    return mold_marked(value, buffer, refs.limit, part, ":", nullptr);
}

int32_t refinement_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t) {
    return mold_marked(value, buffer, refs.limit, part, "/", nullptr);
}

int32_t word_compare(Cell* value1, Cell* value2, CompareOp op) {
    const uint8_t t1 = type_of(value1), t2 = type_of(value2);
    // issue! compares only with issue!, both ways round, so equality stays symmetric.
    if (!any_word_type(t2) || (t1 == TYPE_ISSUE) != (t2 == TYPE_ISSUE)) return -2;
    const uint32_t s1 = value1->data2, s2 = value2->data2;
    switch (op) {
    case CompareOp::equal:
    case CompareOp::not_equal:
    case CompareOp::find: return symbol_resolve(s1) == symbol_resolve(s2) ? 0 : 1;
    case CompareOp::strict_equal: return t1 == t2 && s1 == s2 ? 0 : 1;
    case CompareOp::same: return t1 == t2 && s1 == s2 && value1->data1 == value2->data1 ? 0 : 1;
    case CompareOp::spelling:
    case CompareOp::caseless: {
        bool names = op == CompareOp::spelling ? s1 == s2 : symbol_resolve(s1) == symbol_resolve(s2);
        bool word_and_lit = (t1 == TYPE_WORD && t2 == TYPE_LIT_WORD) || (t1 == TYPE_LIT_WORD && t2 == TYPE_WORD);
        return names && (t1 == t2 || word_and_lit) ? 0 : 1;
    }
    default: {
        Cell a = name_string(s1);
        Cell b = name_string(s2);
        return string_compare_series(&a, &b, op, false);
    }
    }
}

Cell* word_index_q() {
    Cell* word = stack::arguments;
    const int32_t index = static_cast<int32_t>(word->data3);
    if (index < 0) make_none(word);
    else make_integer(word, index + 1);
    return word;
}

// --- registration ----------------------------------------------------------------------------

namespace {

void register_kind(uint8_t type, const char* name, action_sig::Mold mold, bool has_index) {
    ActionRow row = ActionRow::none_all();
    row.inherit(ACT_MAKE).inherit(ACT_TO).inherit(ACT_FORM).inherit(ACT_COMPARE).set<ACT_MOLD>(mold);
    if (has_index) row.inherit(ACT_INDEX_Q);
    register_datatype(type, TYPE_WORD, name, row);
    collector::set_mark_kind(type, collector::MK_WORD);
    hash_compare_slots[type] = word_compare;
}

} // namespace

void register_word() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(word_make)
        .set<ACT_TO>(word_make)
        .set<ACT_FORM>(word_form)
        .set<ACT_MOLD>(word_mold)
        .set<ACT_COMPARE>(word_compare)
        .set<ACT_INDEX_Q>(word_index_q);
    register_datatype(TYPE_WORD, TYPE_SYMBOL, "word!", row);
    collector::set_mark_kind(TYPE_WORD, collector::MK_WORD);
    // Map keys and context tables compare words through the same rules.
    hash_compare_slots[TYPE_WORD] = word_compare;
}

void register_lit_word() { register_kind(TYPE_LIT_WORD, "lit-word!", lit_word_mold, true); }
void register_set_word() { register_kind(TYPE_SET_WORD, "set-word!", set_word_mold, true); }
void register_get_word() { register_kind(TYPE_GET_WORD, "get-word!", get_word_mold, true); }
void register_refinement() { register_kind(TYPE_REFINEMENT, "refinement!", refinement_mold, false); }

} // namespace kem
