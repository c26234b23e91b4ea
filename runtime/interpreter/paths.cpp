// Paths: the general walk of eval_path, and the run loop's p/x, p/x: and
// p/f on an object, found through a cache kept with the path.
#include "runtime/interpreter/paths.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/context.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/calls.h"
#include "runtime/interpreter/trace.h"
#include "runtime/interpreter/walk.h"

namespace kem::interp {

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

bool object_field(const Cell& path, Field* f) {
    SeriesBuffer* b = node_buffer(path.data2);
    const uint32_t head = path.data1;
    if (b->used() / sizeof(Cell) != head + 2) return false;
    const Cell* first = b->cell_head() + head;
    if (type_of(first) != TYPE_WORD || !first->data1 || type_of(first + 1) != TYPE_WORD) return false;
    const uint32_t symbol = first[1].data2;
    const Cell* value = word_value_cell(first);
    if (type_of(value) != TYPE_OBJECT) return false;
    f->object = *value;
    const NodeId ctx = object_context(value);
    auto* code = reinterpret_cast<PathCode*>(side_of(path.data2, SIDE_PATH));
    if (code && code->epoch == cache_epoch && code->object == ctx && code->head == head) [[likely]] {
        f->word = Cell{TYPE_WORD, ctx, symbol, code->index};
        f->slot = code->slot;
        f->code = code;
        return true;
    }
    const int32_t index = object_field_index(ctx, symbol);
    if (index < 0 || context_values_on_stack(ctx)) return false;
    Cell* slot = context_value_slot_checked(ctx, uint32_t(index));
    if (!slot) return false;
    // Making the cache allocates, which moves no buffer: the slot stays good.
    if (!code) code = reinterpret_cast<PathCode*>(new_side(path.data2, sizeof(PathCode), SIDE_PATH));
    code->claim();
    code->object = ctx;
    code->index = uint32_t(index);
    code->head = head;
    code->slot = slot;
    f->word = Cell{TYPE_WORD, ctx, symbol, uint32_t(index)};
    f->slot = slot;
    f->code = code;
    return true;
}

bool path_site(Site& s, const Cell& path, bool set) {
    Field f;
    if (!object_field(path, &f) || f.word.data3 > 0xFFFF) return false;
    if (set && (object_on_set(&f.object) || context_kind(f.word.data1) != CONTEXT_OBJECT)) return false;
    const Cell* first = node_buffer(path.data2)->cell_head() + path.data1;
    // Values on the stack change with each call: such a word is not kept.
    if (context_values_on_stack(first->data1)) return false;
    Cell* holder = word_value_cell(first);
    s.claim();
    s.holder = holder;
    s.object = f.word.data1;
    s.field = uint16_t(f.word.data3);
    s.slot = f.slot;
    if (set) s.word_cell = context_word_cell(f.word.data1, f.word.data3);
    return true;
}

bool store_field(const Cell& path) {
    Field f;
    if (!object_field(path, &f) || object_on_set(&f.object) || context_kind(f.word.data1) != CONTEXT_OBJECT)
        return false;
    *f.slot = *(stack::top - 1);
    context_word_cell(f.word.data1, f.word.data3)->header |= WORD_CHANGED;
    *stack::arguments = *f.slot;
    stack::top = stack::arguments + 1;
    return true;
}

} // namespace kem::interp
