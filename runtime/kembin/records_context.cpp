// KEMBIN records of words, contexts and what owns them: object!, function!,
// native!, action!, op! and error!.
//
// A word bound to an object's or a function's context carries the owner
// record the first time that context is met, and a reference to it after;
// the owner is read before the word's value matters, so a context is always
// rebuilt whole.
#include <algorithm>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/error.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/word.h"
#include "runtime/kembin/decoder.h"
#include "runtime/kembin/encoder.h"
#include "runtime/kembin/records.h"

namespace kem::kembin {

namespace {

struct ContextHead {
    uint32_t kind = 0;
    bool on_stack = false;
    bool self = false;
    bool values = false;
};

ContextHead from_compact(uint8_t flags) {
    return {uint32_t(flags & CTX_KIND_MASK), (flags & CTX_ON_STACK) != 0, (flags & CTX_SELF) != 0,
            (flags & CTX_VALUES) != 0};
}

ContextHead from_fixed(uint32_t word) {
    return {(word >> FIXED_CTX_KIND_SHIFT) & 3, (word & FIXED_CTX_ON_STACK) != 0, (word & FIXED_CTX_SELF) != 0,
            (word & FIXED_CTX_VALUES) != 0};
}

// The context record that follows an object!'s or function!'s header.
ContextHead read_context_head(Decoder& d) {
    const uint8_t* at = d.at();
    if (d.compact()) {
        const uint8_t b = d.byte();
        if (b >= 0x80 || (b & TYPE_BITS) != TYPE_CONTEXT) d.invalid(at);
        return from_compact(d.byte());
    }
    const uint32_t word = d.u32();
    if ((word & FIXED_TYPE_MASK) != TYPE_CONTEXT) d.invalid(at);
    return from_fixed(word);
}

// The words of a context, each once and in order.
void read_words(Decoder& d, NodeId ctx, uint32_t n) {
    for (uint32_t i = 0; i < n; i++) {
        const uint8_t* at = d.at();
        context_find_or_add(ctx, d.read_symbol(), false, nullptr);
        if (context_word_count(ctx) != i + 1) d.invalid(at);
    }
}

// One value per word, read into the values series.
void read_values(Decoder& d, NodeId ctx, uint32_t n) {
    const NodeId values = context_values_node(ctx);
    const uint8_t* at = d.at();
    const Cell block{TYPE_BLOCK, 0, values, 0};
    block_set_tail_at(&block, 0);
    for (uint32_t i = 0; i < n; i++) d.record(block);
    if (cell_count(values) != n) d.invalid(at);
}

uint32_t word_count(Decoder& d) { return d.count_of(d.compact() ? 1 : 4); }

// Appends an object! over a new context read from the record; class -1
// when read by the codec, whose objects belong to no class of this run.
void build_object(Decoder& d, const ContextHead& c, uint32_t class_id, bool on_set, const Cell& target,
                  const uint8_t* at) {
    if (c.on_stack) d.invalid(at);
    const uint32_t n = word_count(d);
    const NodeId ctx = context_make(n, false, c.self, 0, c.kind);
    Cell obj{TYPE_OBJECT, ctx, d.codec() ? 0xFFFFFFFF : class_id, 0};
    *context_self_cell(ctx) = obj;
    const NodeId holder = series_node(&target);
    const uint32_t k = cell_count(holder);
    *block_alloc_tail(&target) = obj;
    d.bind_owner(ctx);
    read_words(d, ctx, n);
    if (c.values) read_values(d, ctx, n);
    if (!on_set) return;
    // The handlers are the object's own fields: link them again from there.
    try {
        object_init_events(&obj);
    } catch (const KemError&) {
        d.invalid(at);
    }
    *cell_at(holder, k) = obj;
}

// The value a shared object!, function! or word record stands for: the self
// value of the context found, which must be of the type asked.
Cell owner_found(Decoder& d, uint8_t type) {
    const uint8_t* at = d.at();
    Cell found = d.follow_path();
    if (is_type(&found, TYPE_OP) && op_wrapped_type(&found) == TYPE_FUNCTION) found = op_callable(&found);
    if (any_word_type(type_of(&found)) && found.data1) {
        // The encoder never shares the global context as an object: data
        // that asks for it through a global word would hand out every word.
        if (found.data1 == global_context) d.invalid(at);
        found = *context_self_cell(found.data1);
    }
    if (!is_type(&found, type)) d.invalid(at);
    return found;
}

// A spec or body block of a function! record, into the fresh series `fresh`,
// or the series of the block a reference leads to.
NodeId read_function_block(Decoder& d, NodeId fresh) {
    const uint8_t* at = d.at();
    bool shared = false;
    if (d.compact()) {
        uint8_t b;
        while ((b = d.byte()) == PREFIX_NEW_LINE || b == PREFIX_SHARED) shared |= b == PREFIX_SHARED;
        if (b >= 0x80 || (b & TYPE_BITS) != TYPE_BLOCK) d.invalid(at);
        if (b & EXTRA_FLAG) d.count();
    } else {
        const uint32_t word = d.u32();
        if ((word & FIXED_TYPE_MASK) != TYPE_BLOCK) d.invalid(at);
        shared = (word & FIXED_SHARED) != 0;
        d.count();
    }
    if (shared) return shared_series(d, SeriesNeed::cells);
    const uint32_t n = d.count_of(d.compact() ? 1 : 4);
    const Cell block{TYPE_BLOCK, 0, fresh, 0};
    for (uint32_t i = 0; i < n; i++) d.record(block);
    return fresh;
}

// Whether the spec names exactly the context's words, in order: the frame of
// a call holds one value per argument, refinement and local of the spec.
bool spec_fits_context(NodeId spec, NodeId ctx) {
    const uint32_t words = context_word_count(ctx);
    uint32_t k = 0;
    for (uint32_t i = 0; i < cell_count(spec); i++) {
        const Cell* c = cell_at(spec, i);
        const uint8_t t = type_of(c);
        if (t != TYPE_WORD && t != TYPE_GET_WORD && t != TYPE_LIT_WORD && t != TYPE_REFINEMENT) continue;
        if (k >= words || context_word_cell(ctx, k)->data2 != c->data2) return false;
        k++;
    }
    return k == words;
}

// A context written in place: kind, on-stack and self flags, the words, and
// the values unless they live on the data stack or are all unset.
void write_context(Encoder& e, NodeId ctx) {
    const uint32_t n = context_word_count(ctx);
    const bool on_stack = context_values_on_stack(ctx);
    const bool self = (context_cell(ctx)->header & CONTEXT_MAKER_FLAG) != 0;
    const uint32_t kind = context_kind(ctx);
    bool values = false;
    for (uint32_t i = 0; !on_stack && !values && i < n; i++) {
        const Cell* v = context_value_slot_checked(ctx, i);
        values = v && !is_type(v, TYPE_UNSET);
    }
    if (e.compact()) {
        e.header(TYPE_CONTEXT, false, 0);
        e.byte(uint8_t(kind | (on_stack ? CTX_ON_STACK : 0) | (self ? CTX_SELF : 0) | (values ? CTX_VALUES : 0)));
    } else {
        e.header(TYPE_CONTEXT, false,
                 kind << FIXED_CTX_KIND_SHIFT | (self ? FIXED_CTX_SELF : 0) | (on_stack ? FIXED_CTX_ON_STACK : 0) |
                     (values ? FIXED_CTX_VALUES : 0));
    }
    e.uint(n);
    for (uint32_t i = 0; i < n; i++) e.uint(e.symbol(context_word_cell(ctx, i)->data2));
    if (!values) return;
    for (uint32_t i = 0; i < n; i++) {
        const Cell* v = context_value_slot_checked(ctx, i);
        e.value(v ? *v : unset_value);
    }
}

} // namespace

// --- words -------------------------------------------------------------------------------

bool word_has_owner(const Cell& word) {
    const NodeId ctx = word.data1;
    if (ctx == 0 || ctx == global_context) return false;
    const Cell* self = context_self_cell(ctx);
    return (is_type(self, TYPE_OBJECT) || is_type(self, TYPE_FUNCTION)) && self->data1 == ctx;
}

void write_word(Encoder& e, const Cell& v) {
    const uint8_t type = type_of(&v);
    const uint32_t symbol = e.symbol(v.data2);
    // Words of other contexts (an error!'s, a port!'s, a native's) read back as global words.
    if (e.boot() || !word_has_owner(v)) {
        e.header(type, false, e.compact() || e.boot() ? 0 : FIXED_GLOBAL);
        e.uint(symbol);
        if (e.compact()) return;
        if (e.boot()) {
            e.sint(-1);
            e.sint(-1);
        } else {
            e.sint(int32_t(v.data3));
        }
        return;
    }
    e.header(type, true, 0);
    e.uint(symbol);
    e.sint(int32_t(v.data3));
    if (e.shared()) return e.path();
    e.owner(*context_self_cell(v.data1));
}

namespace {

// The context of a value a word may take its binding from.
NodeId context_of(const Cell& v) {
    const uint8_t t = type_of(&v);
    if (t == TYPE_OBJECT || t == TYPE_FUNCTION || any_word_type(t)) return v.data1;
    if (t == TYPE_OP && op_wrapped_type(&v) == TYPE_FUNCTION) return v.data1;
    return 0;
}

void check_index(Decoder& d, NodeId ctx, int32_t index, const uint8_t* at) {
    if (index < -1 || (index >= 0 && uint32_t(index) >= context_word_count(ctx))) d.invalid(at);
}

// Start-up form: a context position among this load's root values and a word
// index, -1 for a lookup by name.
Cell boot_bound_word(Decoder& d, const RecordHead& h, uint32_t symbol, int32_t position, int32_t index) {
    const uint8_t* at = h.at;
    const Cell& out = d.output();
    const uint64_t at_root = uint64_t(d.first_new()) + uint32_t(position);
    if (position < 0 || at_root >= block_full_length(&out)) d.invalid(at);
    const NodeId ctx = context_of(*block_rs_abs_at(&out, uint32_t(at_root)));
    if (!ctx) d.invalid(at);
    if (index == -1) index = context_find_word(ctx, symbol, false);
    if (index < 0) d.invalid(at);
    check_index(d, ctx, index, at);
    return Cell{h.type, ctx, symbol, uint32_t(index)};
}

} // namespace

void read_word(Decoder& d, const RecordHead& h, const Cell& target) {
    const uint8_t* symbol_at = d.at();
    Cell w = d.global_word(d.read_symbol_index(), symbol_at);
    const uint32_t symbol = w.data2;
    set_type(&w, h.type);
    if (!d.codec()) {
        int32_t position = -1, index = -1;
        if (!d.compact()) {
            position = d.sint();
            index = d.sint();
        } else if (h.x) {
            position = int32_t(d.count());
            index = d.sint();
        }
        if (position != -1 || (d.compact() && h.x)) w = boot_bound_word(d, h, symbol, position, index);
        *block_alloc_tail(&target) = w;
        return;
    }
    const bool global = d.compact() ? !h.x : (h.word & FIXED_GLOBAL) != 0;
    const uint8_t* at = d.at();
    const int32_t index = global && d.compact() ? 0 : d.sint();
    if (global) {
        *block_alloc_tail(&target) = w;
        return;
    }
    if (h.shared) {
        const Cell found = d.follow_path();
        const NodeId ctx = context_of(found);
        if (!ctx) d.invalid(at);
        check_index(d, ctx, index, at);
        *block_alloc_tail(&target) = Cell{h.type, ctx, symbol, uint32_t(index)};
        return;
    }
    // The owner record follows; the word is in place first so that paths
    // through it reach the owner's values as they are read.
    const NodeId holder = series_node(&target);
    const uint32_t k = cell_count(holder);
    *block_alloc_tail(&target) = Cell{h.type, 0, symbol, uint32_t(index)};
    RecordHead owner;
    owner.at = d.at();
    if (d.compact()) {
        const uint8_t b = d.byte();
        owner.x = (b & EXTRA_FLAG) != 0;
        owner.type = b & TYPE_BITS;
        if (b >= 0x80) owner.type = 0;
    } else {
        owner.word = d.u32();
        owner.type = uint8_t(owner.word & FIXED_TYPE_MASK);
    }
    if (owner.type != TYPE_OBJECT && owner.type != TYPE_FUNCTION) d.invalid(owner.at);
    Cell scratch;
    block_make_at(&scratch, 1);
    d.expect_owner(holder, k);
    if (owner.type == TYPE_OBJECT) read_object(d, owner, scratch);
    else read_function(d, owner, scratch);
    check_index(d, cell_at(holder, k)->data1, index, at);
}

// --- contexts and objects -------------------------------------------------------------------

void read_context(Decoder& d, const RecordHead& h, const Cell& target) {
    const ContextHead c = d.compact() ? from_compact(d.byte()) : from_fixed(h.word);
    build_object(d, c, 0xFFFFFFFF, false, target, h.at);
}

void write_object(Encoder& e, const Cell& v) {
    const NodeId on_set = object_on_set(&v);
    e.header(TYPE_OBJECT, on_set != 0, on_set ? FIXED_ON_SET : 0);
    if (e.shared()) return e.path();
    e.sint(int32_t(object_class_id(&v)));
    if (on_set) {
        e.sint(int32_t(cell_at(on_set, 0)->data2));
        e.sint(int32_t(cell_at(on_set, 1)->data2));
    }
    write_context(e, object_context(&v));
}

void read_object(Decoder& d, const RecordHead& h, const Cell& target) {
    if (h.shared) {
        *block_alloc_tail(&target) = owner_found(d, TYPE_OBJECT);
        return;
    }
    const uint32_t class_id = uint32_t(d.sint());
    const bool on_set = d.compact() ? h.x : (h.word & FIXED_ON_SET) != 0;
    if (on_set) {
        d.sint();
        d.sint();
    }
    const ContextHead c = read_context_head(d);
    build_object(d, c, class_id, on_set, target, h.at);
}

// --- functions ------------------------------------------------------------------------------

void write_function(Encoder& e, const Cell& v) {
    e.header(TYPE_FUNCTION, false, 0);
    if (e.shared()) return e.path();
    const Cell spec = callable_spec(&v);
    const Cell body = *function_body(&v);
    const bool has_body = any_block_type(type_of(&body));
    e.uint(block_full_length(&spec));
    e.uint(has_body ? block_full_length(&body) : 0);
    write_context(e, function_context(&v));
    const uint32_t saved = e.counter();
    e.set_counter(0);
    e.value(spec);
    e.set_counter(1);
    if (has_body) {
        Cell block = body;
        set_type(&block, TYPE_BLOCK);
        e.value(block);
    } else {
        // No body (make function! without one): an empty block stands for it.
        e.header(TYPE_BLOCK, false, 0);
        e.uint(0);
    }
    e.set_counter(saved);
}

void read_function(Decoder& d, const RecordHead& h, const Cell& target) {
    if (h.shared) {
        *block_alloc_tail(&target) = owner_found(d, TYPE_FUNCTION);
        return;
    }
    // Capacities only: no more cells than bytes are left can follow.
    const uint32_t spec_cells = d.count();
    const uint32_t body_cells = d.count();
    const uint32_t spec_room = uint32_t(std::min<uint64_t>(spec_cells, d.remaining() + 1));
    const uint32_t body_room = uint32_t(std::min<uint64_t>(body_cells, d.remaining() + 1));
    const ContextHead c = read_context_head(d);
    if (!c.on_stack) d.invalid(h.at);
    const uint32_t n = word_count(d);
    const NodeId ctx = context_make(n, true, c.self, 0, c.kind);
    Cell spec, body, extras;
    block_make_at(&spec, int32_t(spec_room));
    block_make_at(&body, int32_t(body_room));
    block_make_at(&extras, int32_t(FUNCTION_EXTRAS));
    block_append_cell(&extras, &body);
    for (uint32_t i = 1; i < FUNCTION_EXTRAS; i++) block_append_cell(&extras, &unset_value);
    Cell fn{TYPE_FUNCTION, ctx, series_node(&spec), series_node(&extras)};
    *context_self_cell(ctx) = fn;
    const NodeId holder = series_node(&target);
    const uint32_t k = cell_count(holder);
    *block_alloc_tail(&target) = fn;
    d.bind_owner(ctx);
    read_words(d, ctx, n);
    const NodeId spec_node = read_function_block(d, series_node(&spec));
    if (spec_node != fn.data2) {
        fn.data2 = spec_node;
        *context_self_cell(ctx) = fn;
        *cell_at(holder, k) = fn;
    }
    const NodeId body_node = read_function_block(d, series_node(&body));
    cell_at(fn.data3, EXTRA_BODY)->data2 = body_node;
    if (!spec_fits_context(spec_node, ctx)) d.invalid(h.at);
}

// --- natives, actions and operators ------------------------------------------------------------

void write_native(Encoder& e, const Cell& v) {
    e.header(type_of(&v), false, 0);
    e.uint(native_number(&v));
    // The spec is part of this value, not one of its own.
    e.value(callable_spec(&v));
    e.set_counter(e.counter() - 1);
}

void read_native(Decoder& d, const RecordHead& h, const Cell& target) {
    const uint8_t* at = d.at();
    const uint32_t number = d.compact() ? d.varint() : d.u32();
    const uint32_t limit = h.type == TYPE_NATIVE ? native_table_count : uint32_t(ACTION_SLOT_COUNT);
    if (number < 1 || number > limit) d.invalid(at);
    // The spec is read in the native's place: paths into the native lead into it.
    const NodeId holder = series_node(&target);
    const uint32_t k = cell_count(holder);
    const uint8_t* spec_at = d.at();
    d.record(target);
    const Cell spec = *cell_at(holder, k);
    if (!is_type(&spec, TYPE_BLOCK) || cell_count(holder) != k + 1) d.invalid(spec_at);
    // Data from outside stands for the native start-up made: its spec says how
    // the native's arguments are read, and is not to be taken from outside.
    const Cell* made = d.codec() ? native_kept(h.type, number) : nullptr;
    if (made) *cell_at(holder, k) = *made;
    else native_make_at(cell_at(holder, k), h.type, number, &spec);
    // The start-up load keeps the spec as a root value of its own.
    if (!d.codec() && holder == series_node(&d.output())) *block_alloc_tail(&target) = spec;
}

void write_op(Encoder& e, const Cell& v) {
    const uint8_t wrapped = op_wrapped_type(&v);
    if (wrapped == TYPE_ROUTINE) refuse(e.compact() ? TYPE_OP : TYPE_ROUTINE);
    e.header(TYPE_OP, false, uint32_t(wrapped) << FIXED_WRAPPED_SHIFT);
    Cell inner = v;
    inner.header = wrapped;
    e.value(inner);
    e.set_counter(e.counter() - 1);
}

void read_op(Decoder& d, const RecordHead& h, const Cell& target) {
    // The wrapped record is read in the operator's place, and becomes it.
    const NodeId holder = series_node(&target);
    const uint32_t k = cell_count(holder);
    const uint8_t* at = d.at();
    d.record(target);
    Cell inner = *cell_at(holder, k);
    const uint8_t wrapped = type_of(&inner);
    if (cell_count(holder) != k + 1 || (wrapped != TYPE_FUNCTION && wrapped != TYPE_NATIVE && wrapped != TYPE_ACTION))
        d.invalid(at);
    if (!d.compact() && ((h.word >> FIXED_WRAPPED_SHIFT) & 0xFF) != wrapped) d.invalid(h.at);
    const Cell spec = callable_spec(&inner);
    if (!op_spec_binary(&spec)) d.invalid(at);
    inner.header = wrapped;
    if (wrapped == TYPE_FUNCTION) *callable_extra_cell(&inner, EXTRA_OP) = inner;
    inner.header = op_header(&inner);
    *cell_at(holder, k) = inner;
}

// --- error! ------------------------------------------------------------------------------------

void write_error(Encoder& e, const Cell& v) {
    e.header(TYPE_ERROR, false, 0);
    const Cell* code = error_field(&v, ERROR_CODE);
    e.uint(is_type(code, TYPE_INTEGER) ? uint32_t(std::max(cell_int(code), 0)) : 0);
    e.push_level();
    for (uint32_t f = ERROR_ARG1; f <= ERROR_STACK; f++) e.value(*error_field(&v, ErrorField(f)));
    e.pop_level();
}

void read_error(Decoder& d, const RecordHead& h, const Cell& target) {
    const uint8_t* at = d.at();
    Cell code;
    make_integer(&code, int32_t(d.count()));
    Cell* const saved_top = stack::top;
    Cell err;
    try {
        err = *error_make(nullptr, &code, TYPE_ERROR);
    } catch (const KemError&) {
        d.invalid(at);
    }
    stack::top = saved_top;
    *block_alloc_tail(&target) = err;
    // The fields after code, type and id come from the record; files stays none.
    const NodeId values = context_values_node(object_context(&err));
    const Cell block{TYPE_BLOCK, 0, values, 0};
    block_set_tail_at(&block, ERROR_ARG1);
    for (uint32_t f = ERROR_ARG1; f <= ERROR_STACK; f++) d.record(block);
    if (cell_count(values) != ERROR_FILES) d.invalid(at);
    *block_alloc_tail(&block) = none_value;
}

} // namespace kem::kembin
