// block!: accessors, append and insert helpers, making, form and mold,
// comparison, path access and the registration of the block! row.
#include "runtime/datatypes/block.h"
#include <algorithm>
#include <cstring>
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/loader.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/map.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/object.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/typeset.h"
#include "runtime/datatypes/vector.h"
#include "runtime/services/unicode/text.h"

namespace kem {

// --- accessors ---------------------------------------------------------------

Cell* block_rs_head(Cell* blk) {
    int32_t count = int32_t(block_full_length(blk));
    int32_t pos = series_position(blk);
    if (pos > count || pos < 0) set_series_position(blk, pos < 0 ? 0 : count);
    return block_rs_abs_at(blk, uint32_t(series_position(blk)));
}

void block_set_tail_at(const Cell* blk, uint32_t index) {
    SeriesBuffer* b = series_buffer(blk);
    uint64_t tail = uint64_t(b->head) + uint64_t(index) * 16;
    b->tail = uint32_t(std::min<uint64_t>(tail, b->size));
}

// --- appending and inserting ---------------------------------------------------

namespace {

// Room for `more` cells after the tail; the buffer may move.
SeriesBuffer* reserve_cells(NodeId node, uint64_t more, bool doubled) {
    SeriesBuffer* b = node_buffer(node);
    uint64_t need = uint64_t(b->tail) + more * 16;
    if (need <= b->size) return b;
    uint64_t want = uint64_t(b->used()) + more * 16;
    if (doubled) want *= 2;
    if (want > 0x7FFFFF00) fire(Err::internal_no_memory);
    return expand_series(b, int64_t(want));
}

} // namespace

std::vector<Cell> block_cells_copy(const Cell* blk, int64_t limit) {
    int32_t n = std::max(block_rs_length(blk), 0);
    if (limit >= 0 && limit < n) n = int32_t(limit);
    if (n == 0) return {};
    const Cell* from = block_rs_abs_at(blk, uint32_t(std::max(series_position(blk), 0)));
    return std::vector<Cell>(from, from + n);
}

Cell* block_append_cell(const Cell* blk, const Cell* value) {
    Cell v = *value;
    Cell* c = alloc_tail(series_buffer(blk));
    *c = v;
    return c;
}

void block_remove_last(Cell* blk) {
    SeriesBuffer* b = series_buffer(blk);
    if (b->used() >= 16) b->tail -= 16;
    if (series_position(blk) > int32_t(block_full_length(blk))) set_series_position(blk, block_full_length(blk));
}

void block_append_all(const Cell* target, const Cell* source) {
    std::vector<Cell> cells = block_cells_copy(source);
    if (cells.empty()) return;
    SeriesBuffer* b = reserve_cells(series_node(target), cells.size(), false);
    std::memcpy(b->tail_ptr(), cells.data(), cells.size() * 16);
    b->tail += uint32_t(cells.size() * 16);
}

Cell* block_insert_value(Cell* blk, const Cell* value, bool advance, bool at_head) {
    Cell v = *value;
    NodeId node = series_node(blk);
    uint32_t count = block_full_length(blk);
    uint32_t at = at_head ? 0 : uint32_t(std::clamp<int32_t>(series_position(blk), 0, int32_t(count)));
    SeriesBuffer* b = node_buffer(node);
    if (b->tail + 16 > b->size) b = expand_series(b, int64_t(b->used() + 16) * 2);
    Cell* p = b->cell_head() + at;
    std::memmove(p + 1, p, size_t(count - at) * 16);
    *p = v;
    b->tail += 16;
    if (advance) set_series_position(blk, int64_t(at) + 1);
    return blk;
}

void block_insert_all(Cell* blk, const Cell* source) {
    for (const Cell& c : block_cells_copy(source)) block_insert_value(blk, &c, true, false);
}

// --- making ----------------------------------------------------------------------

Cell* block_make_at(Cell* c, int32_t n) {
    c->header = TYPE_UNSET;
    NodeId node = alloc_cells(uint32_t(n < 1 ? 1 : n));
    make_series(c, TYPE_BLOCK, node, 0);
    return c;
}

Cell* block_make_filled_at(Cell* c, int32_t n, bool heap) {
    c->header = TYPE_UNSET;
    uint32_t count = uint32_t(n < 1 ? 1 : n);
    NodeId node;
    if (heap) {
        node = alloc_heap_series(count, 16, 0);
        SeriesBuffer* b = node_buffer(node);
        Cell* cells = reinterpret_cast<Cell*>(b->data());
        for (uint32_t i = 0; i < b->size / 16; i++) make_unset(&cells[i]);
    } else {
        node = alloc_unset_cells(count);
    }
    make_series(c, TYPE_BLOCK, node, 0);
    return c;
}

namespace {
Cell* make_in(const Cell* parent, int32_t n, bool filled) {
    NodeId pnode = series_node(parent);
    alloc_tail(node_buffer(pnode));
    uint32_t index = (node_buffer(pnode)->used() >> 4) - 1;
    Cell made;
    if (filled) block_make_filled_at(&made, n, true);
    else block_make_at(&made, n);
    Cell* c = node_buffer(pnode)->cell_head() + index;
    *c = made;
    return c;
}
} // namespace

Cell* block_make_in(const Cell* parent, int32_t n) { return make_in(parent, n, false); }

Cell* block_push_only(int32_t n) { return block_make_at(stack::push_slot(), n == 0 ? 1 : n); }

Cell* block_clone_at(Cell* out, const Cell* blk, bool deep, bool any_block) {
    Cell source = *blk;
    std::vector<Cell> cells = block_cells_copy(&source);
    Cell made;
    block_make_at(&made, int32_t(cells.size()));
    SeriesBuffer* b = series_buffer(&made);
    if (!cells.empty()) std::memcpy(b->cell_head(), cells.data(), cells.size() * 16);
    b->tail = b->head + uint32_t(cells.size() * 16);
    set_type(&made, type_of(&source));
    if (deep) {
        if (cycle_find(series_node(&source))) {
            cycle_reset();
            fire(Err::internal_no_cycle);
        }
        CycleScope open(series_node(&source));
        for (uint32_t i = 0; i < cells.size(); i++) {
            uint8_t t = type_of(&cells[i]);
            bool nested = t == TYPE_BLOCK || (any_block && (t == TYPE_PAREN || (t >= TYPE_PATH && t <= TYPE_GET_PATH)));
            if (!nested) continue;
            Cell copy;
            block_clone_at(&copy, &cells[i], true, any_block);
            copy.header = cells[i].header;
            *block_rs_abs_at(&made, i) = copy;
        }
    }
    *out = made;
    return out;
}

Cell* block_clone(const Cell* blk, bool deep, bool any_block) {
    Cell source = *blk;
    Cell* out = stack::push_slot();
    out->header = TYPE_UNSET;
    return block_clone_at(out, &source, deep, any_block);
}

namespace {
// A map's body, the key/value pairs, in a new block on the stack.
Cell* map_body_block(const Cell* spec) {
    Cell map = *spec;
    Cell* result = stack::push_slot();
    make_none(result);
    return map_reflect_into(&map, MapField::body, result);
}

// An object's body, its fields as set-words and values, in a new block on the stack.
Cell* object_body_block(const Cell* spec) {
    Cell obj = *spec;
    return object_reflect(&obj, int32_t(rt_symbols.body));
}
} // namespace

Cell* block_make(Cell* proto, Cell* spec, int32_t type) {
    uint8_t st = type_of(spec);
    Cell* result;
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        int32_t n = to_int_checked(spec);
        result = block_push_only(n < 1 ? 1 : n);
    } else if (any_block_type(st)) {
        result = block_clone(spec, false, false);
    } else if (st == TYPE_MAP) {
        result = map_body_block(spec);
    } else if (st == TYPE_VECTOR) {
        result = vector_to_block(spec, stack::push_slot());
    } else if (st == TYPE_OBJECT) {
        result = object_body_block(spec);
    } else {
        Cell dt;
        make_datatype(&dt, uint8_t(type));
        fire(Err::script_bad_make_arg, dt, *spec);
    }
    set_type(result, uint32_t(type));
    return result;
}

Cell* block_to(Cell* proto, Cell* spec, int32_t type) {
    uint8_t st = type_of(spec);
    Cell* result;
    if (st == TYPE_MAP) {
        result = map_body_block(spec);
    } else if (st == TYPE_STRING) {
        Cell text = *spec;
        result = stack::push_slot();
        make_none(result);
        lexer_load_string(result, &text, -1, false, true, true, true, nullptr, nullptr, nullptr);
    } else if (st == TYPE_TYPESET) {
        Cell set = *spec;
        result = stack::push_slot();
        make_none(result);
        typeset_to_block(&set, result);
    } else if (st == TYPE_VECTOR) {
        result = vector_to_block(spec, stack::push_slot());
    } else if (st == TYPE_OBJECT) {
        result = object_body_block(spec);
    } else if (any_block_type(st)) {
        result = block_clone(spec, false, false);
    } else {
        Cell value = *spec;
        result = block_push_only(1);
        block_append_cell(result, &value);
    }
    set_type(result, uint32_t(type));
    return result;
}

// --- form and mold ---------------------------------------------------------------

namespace {

bool ends_with_break(const Cell* buffer) {
    SeriesBuffer* b = series_buffer(buffer);
    uint32_t unit = unit_bytes(b);
    if (b->used() < unit) return false;
    int32_t c = read_unit(b->tail_ptr() - unit, unit);
    return c == '\n' || c == '\r' || c == '\t';
}

} // namespace

int32_t block_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    if (mold_cycle(value, series_node(buffer), part, false)) return part;
    Cell blk = *value;
    CycleScope open(series_node(&blk));
    for (int32_t i = std::max(series_position(&blk), 0); i < int32_t(block_full_length(&blk)); i++) {
        if (arg && part < 1) break;
        part = form_direct(block_rs_abs_at(&blk, uint32_t(i)), buffer, arg, part);
        if (i + 1 < int32_t(block_full_length(&blk)) && !ends_with_break(buffer)) {
            string_append_ascii(buffer, " ");
            part--;
        }
    }
    return part;
}

int32_t block_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    if (mold_cycle(value, series_node(buffer), part, true)) return part;
    if (!refs.only) {
        string_append_ascii(buffer, "[");
        part--;
    }
    part = block_mold_each(value, buffer, refs, part, indent);
    if (!refs.only) {
        string_append_ascii(buffer, "]");
        part--;
    }
    return part;
}

int32_t block_mold_each(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    Cell blk = *value;
    NodeId out = series_node(buffer);
    bool opened_with_break = false;
    CycleScope open(series_node(&blk));
    int32_t start = std::max(series_position(&blk), 0);
    for (int32_t i = start; i < int32_t(block_full_length(&blk)); i++) {
        if (refs.limit && part < 1) break;
        bool first = i == start;
        if (!refs.flat && (block_rs_abs_at(&blk, uint32_t(i))->header & HEADER_NEW_LINE)) {
            if (first && !refs.only) {
                opened_with_break = true;
                indent++;
            }
            if (!(first && refs.only)) {
                string_append_ascii(buffer, "\n");
                part--;
            }
            part = mold_indent(out, uint32_t(indent), part);
        } else if (!first) {
            string_append_ascii(buffer, " ");
            part--;
        }
        part = mold_direct(block_rs_abs_at(&blk, uint32_t(i)), buffer, mold_nested(refs), part, indent);
    }
    if (opened_with_break) {
        indent--;
        string_append_ascii(buffer, "\n");
        part = mold_indent(out, uint32_t(indent), part) - 1;
    }
    return part;
}

// --- compare ----------------------------------------------------------------------

namespace {

bool word_kind(uint8_t t) { return t >= TYPE_WORD && t <= TYPE_ISSUE; }
bool number_kind(uint8_t t) { return t == TYPE_INTEGER || t == TYPE_FLOAT || t == TYPE_PERCENT; }

} // namespace

int32_t block_compare(Cell* value1, Cell* value2, CompareOp op) {
    uint8_t t1 = type_of(value1), t2 = type_of(value2);
    if (t1 != t2) {
        bool paths = (t1 == TYPE_PATH && t2 == TYPE_LIT_PATH) || (t1 == TYPE_LIT_PATH && t2 == TYPE_PATH);
        if (!(paths && (op == CompareOp::spelling || op == CompareOp::caseless))) return -2;
    }
    return block_compare_each(value1, value2, op);
}

int32_t block_compare_each(Cell* value1, Cell* value2, CompareOp op) {
    Cell a = *value1, b = *value2;
    NodeId na = series_node(&a), nb = series_node(&b);
    if (na == nb && series_position(&a) == series_position(&b)) return 0;
    if (op == CompareOp::same) return -1;
    if (cycle_find(na)) return cycle_find(nb) ? 0 : -1;
    int32_t l1 = std::max(block_rs_length(&a), 0);
    int32_t l2 = std::max(block_rs_length(&b), 0);
    if (l1 != l2 && (op <= CompareOp::strict_equal || op >= CompareOp::spelling)) return 1;
    // The shorter block is the lesser, an empty one included.
    if (l1 == 0) return l2 == 0 ? 0 : -1;
    CycleScope open(na);
    open.push(nb);
    uint32_t p1 = uint32_t(std::max(series_position(&a), 0));
    uint32_t p2 = uint32_t(std::max(series_position(&b), 0));
    int32_t r = 0;
    for (int32_t i = 0; i < std::min(l1, l2) && r == 0; i++) {
        Cell* c1 = block_rs_abs_at(&a, p1 + uint32_t(i));
        Cell* c2 = block_rs_abs_at(&b, p2 + uint32_t(i));
        uint8_t t1 = type_of(c1), t2 = type_of(c2);
        if (t1 != t2 && !(word_kind(t1) && word_kind(t2)) && !(number_kind(t1) && number_kind(t2)))
            return t1 < t2 ? -1 : 1;
        r = compare_values(c1, c2, op);
    }
    if (r != 0) return r;
    return l1 < l2 ? -1 : (l1 > l2 ? 1 : 0);
}

// --- path access ------------------------------------------------------------------

Cell* block_eval_path_case(Cell* parent, Cell* element, Cell* value, Cell* path, bool case_) {
    if (is_type(element, TYPE_INTEGER)) {
        if (!value) return series_pick(parent, cell_int(element), element);
        return series_poke(parent, cell_int(element), value, element);
    }
    if (!value) {
        if (is_type(element, TYPE_WORD) && !is_type(parent, TYPE_HASH))
            return const_cast<Cell*>(block_select_word(parent, element, case_));
        return block_select(parent, element, SelectArgs{.only = true, .case_ = case_});
    }
    Cell* saved_top = stack::top;
    Cell found = *block_find(parent, element, FindArgs{.case_ = case_});
    stack::top = saved_top;
    if (is_type(&found, TYPE_NONE)) fire(Err::script_bad_path_set, path ? *path : none_value, *element);
    return series_poke(&found, 2, value, element);
}

Cell* block_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    return block_eval_path_case(parent, element, value, step.path, false);
}

// --- registration -------------------------------------------------------------------

void register_block() {
    ActionRow row = ActionRow::inherit_all();
    row.set<ACT_MAKE>(block_make)
        .set<ACT_TO>(block_to)
        .set<ACT_FORM>(block_form)
        .set<ACT_MOLD>(block_mold)
        .set<ACT_EVAL_PATH>(block_eval_path)
        .set<ACT_COMPARE>(block_compare)
        .set<ACT_APPEND>(block_append)
        .set<ACT_CHANGE>(block_change)
        .set<ACT_COPY>(block_copy)
        .set<ACT_FIND>(block_find)
        .set<ACT_INSERT>(block_append)
        .set<ACT_PUT>(block_put)
        .set<ACT_SELECT>(block_select)
        .set<ACT_SORT>(block_sort)
        .set<ACT_SWAP>(block_swap)
        .set<ACT_TAKE>(block_take)
        .set<ACT_TRIM>(block_trim);
    register_datatype(TYPE_BLOCK, TYPE_SERIES, "block!", row);
    collector::set_mark_kind(TYPE_BLOCK, collector::MK_CELLS2);
}

} // namespace kem
