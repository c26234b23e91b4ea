// map!: keys, making, storing and reading, extend, the foreach step, reflect,
// copy, mold and form, comparison and the registration of the map! row.
//
// Pointers into the storage block are good only until the next allocation:
// every function keeps the storage node and cell indexes, and copies cells
// out before it calls anything that may allocate.
#include "runtime/datatypes/map.h"
#include <algorithm>
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hashtable.h"

namespace kem {

namespace {

// The largest buffer the memory manager hands out, in bytes.
constexpr uint64_t MAX_STORAGE_BYTES = 0x7FFFFF00;

inline Cell* cells_of(NodeId node) { return node_buffer(node)->cell_head(); }
inline uint32_t cell_count(NodeId node) { return node_buffer(node)->used() / 16; }
inline bool removed(const Cell* value) { return value->header == 0; }

[[noreturn]] void fire_invalid_key(const Cell* key, const Cell* path) {
    Cell dt;
    make_datatype(&dt, type_of(key));
    fire(Err::script_invalid_path, path ? *path : none_value, dt);
}

// Cells from a block's position to its tail, 0 past the tail.
int32_t cells_after(const Cell* blk) { return std::max(block_rs_length(blk), 0); }

[[noreturn]] void fire_bad_to(const Cell* spec) {
    Cell dt;
    make_datatype(&dt, TYPE_MAP);
    fire(Err::script_bad_to_arg, dt, *spec);
}

// Storage bytes for `cells` cells, checked before anything is allocated: a
// user-given size must end in a catchable error, never in the allocator.
uint32_t checked_storage_bytes(uint64_t cells) {
    uint64_t bytes = cells * 16;
    if (bytes > MAX_STORAGE_BYTES) fire(Err::internal_no_memory);
    return uint32_t(bytes);
}

// Room for `more` cells after the storage tail, grown once.
void reserve_cells(NodeId node, uint64_t more) {
    SeriesBuffer* b = node_buffer(node);
    uint64_t need = uint64_t(b->used()) + more * 16;
    if (uint64_t(b->tail) + more * 16 <= b->size) return;
    if (need > MAX_STORAGE_BYTES) fire(Err::internal_no_memory);
    // Grow by doubling: growing by the few cells asked for each time would
    // copy the whole storage on every put.
    uint64_t size = std::max<uint64_t>(need, uint64_t(b->size) * 2);
    expand_series(b, int64_t(std::min<uint64_t>(size, MAX_STORAGE_BYTES)));
}

// A stored key as the user sees it: set-words come back as words.
Cell shown_key(const Cell* key) {
    Cell k = *key;
    clear_new_line(&k);
    if (is_type(&k, TYPE_SET_WORD)) set_type(&k, TYPE_WORD);
    return k;
}

// Normalises every key of a storage block and clears its new-line markers.
void prepare_storage(NodeId node) {
    uint32_t n = cell_count(node);
    for (uint32_t i = 0; i < n; i++) {
        Cell c = cells_of(node)[i];
        clear_new_line(&c);
        if ((i & 1) == 0) map_normalize_key(&c, &c, nullptr);
        cells_of(node)[i] = c;
    }
}

// Indexes the storage block (position 0) and writes the map cell.
Cell* build(Cell* out, NodeId node, uint32_t pairs) {
    Cell series;
    make_series(&series, TYPE_BLOCK, node, 0);
    NodeId table = hash_make(pairs, &series, HASH_MAP, 0);
    *out = Cell{TYPE_MAP, 0, node, table};
    return out;
}

Cell* make_empty(Cell* out, int64_t pairs) {
    uint64_t cells = pairs == 0 ? 2 : uint64_t(pairs) * 2;
    checked_storage_bytes(cells);
    NodeId node = alloc_cells(uint32_t(cells));
    return build(out, node, uint32_t(pairs));
}

// An independent copy of the storage and its index.
Cell duplicate(const Cell* map) {
    NodeId node = copy_series_buffer(node_buffer(map_storage(map)));
    NodeId table = hash_duplicate(map_table(map), node);
    return Cell{TYPE_MAP, 0, node, table};
}

void deep_copy_cell(NodeId node, uint32_t index) {
    Cell original = cells_of(node)[index];
    Cell copy;
    make_unset(&copy);
    Cell made = *get_action_for_value<ACT_COPY>(&original)(&original, &copy, CopyArgs{.deep = true});
    made.header = (made.header & ~HEADER_NEW_LINE) | (original.header & HEADER_NEW_LINE);
    cells_of(node)[index] = made;
}

CompareOp lookup_op(bool case_, bool same) {
    return same ? MAP_LOOKUP_SAME : (case_ ? MAP_LOOKUP_STRICT : MAP_LOOKUP_EQUAL);
}

bool is_field(int32_t field_symbol, const char* name) {
    return symbol_resolve(uint32_t(field_symbol)) == symbol_resolve(symbol_make(name));
}

} // namespace

// --- keys ------------------------------------------------------------------------------

int32_t map_count(const Cell* map) { return hash_count(map_table(map)); }

bool map_valid_key_type(uint8_t t) {
    return (t >= TYPE_STRING && t <= TYPE_FLOAT) || (t >= TYPE_WORD && t <= TYPE_ISSUE) ||
           (t >= TYPE_PAIR && t <= TYPE_TUPLE) || t == TYPE_BINARY || (t >= TYPE_TIME && t <= TYPE_EMAIL) ||
           t == TYPE_DATE || (t >= TYPE_MONEY && t <= TYPE_POINT3D);
}

void map_normalize_key(const Cell* key_in, Cell* out, const Cell* path) {
    Cell key = *key_in;
    uint8_t t = type_of(&key);
    if (!map_valid_key_type(t)) fire_invalid_key(&key, path);
    switch (t) {
    case TYPE_STRING: case TYPE_FILE: case TYPE_URL: case TYPE_BINARY:
    case TYPE_TAG: case TYPE_EMAIL: case TYPE_REF: {
        // A private copy from the position: later changes to the source stay out.
        SeriesBuffer* b = node_buffer(series_node(&key));
        uint32_t unit = unit_bytes(b);
        uint32_t total = b->used() / unit;
        uint32_t pos = uint32_t(std::clamp<int32_t>(series_position(&key), 0, int32_t(total)));
        NodeId copy = copy_series_slice(series_node(&key), pos, total - pos);
        *out = Cell{t, 0, copy, 0};
        return;
    }
    case TYPE_WORD: case TYPE_LIT_WORD: case TYPE_GET_WORD:
        set_type(&key, TYPE_SET_WORD);
        break;
    default: break;
    }
    clear_new_line(&key);
    *out = key;
}

// --- making -----------------------------------------------------------------------------

Cell* map_make_at(Cell* out, const Cell* block, int32_t size) {
    Cell made;
    if (!block) {
        if (size < 0) {
            Cell n;
            make_integer(&n, size);
            fire(Err::script_out_of_range, n);
        }
        make_empty(&made, size);
    } else {
        Cell blk = *block;
        int32_t length = cells_after(&blk);
        if (length & 1) fire(Err::script_invalid_arg, blk);
        if (series_position(&blk) != 0 || type_of(&blk) != TYPE_BLOCK) {
            block_clone_at(&blk, &blk, false, false);
            set_type(&blk, TYPE_BLOCK);
        }
        NodeId node = series_node(&blk);
        prepare_storage(node);
        build(&made, node, uint32_t(length / 2));
    }
    *out = made;
    return out;
}

namespace {

Cell* make_common(Cell* spec, bool to) {
    Cell* out = stack::push_slot();
    make_unset(out);
    switch (type_of(spec)) {
    case TYPE_BLOCK: case TYPE_PAREN: case TYPE_HASH: {
        if (cells_after(spec) & 1) fire(Err::script_invalid_arg, *spec);
        Cell copy;
        block_clone_at(&copy, spec, false, false);
        set_type(&copy, TYPE_BLOCK);
        return map_make_at(out, &copy, 0);
    }
    case TYPE_INTEGER: case TYPE_FLOAT: {
        if (to) fire_bad_to(spec);
        int32_t n = to_int_checked(spec);
        if (n < 0) fire(Err::script_out_of_range, *spec);
        return map_make_at(out, nullptr, n);
    }
    case TYPE_MAP: return map_copy(spec, out, CopyArgs{});
    default: fire_bad_to(spec);
    }
}

} // namespace

Cell* map_make(Cell*, Cell* spec, int32_t) { return make_common(spec, false); }
Cell* map_to(Cell*, Cell* spec, int32_t) { return make_common(spec, true); }

// --- storing and reading ------------------------------------------------------------------

int32_t map_find_key(const Cell* map, const Cell* key, CompareOp op) {
    NodeId node = map_storage(map);
    Cell k = *key;
    Cell* found = hash_find_options(map_table(map), &k, 0, 1, op, false, false);
    if (!found) return -1;
    int32_t index = int32_t(found - cells_of(node));
    if (uint32_t(index) + 1 >= cell_count(node) || removed(cells_of(node) + index + 1)) return -1;
    return index;
}

Cell* map_store(Cell* map, const Cell* key_in, Cell* value_in, bool case_, const Cell* path) {
    Cell key = *key_in;
    Cell value = *value_in;
    clear_new_line(&value);
    const NodeId node = map_storage(map);
    const NodeId table = map_table(map);
    if (!map_valid_key_type(type_of(&key))) fire_invalid_key(&key, path);
    Cell* found = hash_find_options(table, &key, 0, 1, case_ ? MAP_LOOKUP_STRICT : MAP_LOOKUP_EQUAL, false, false);
    if (found) {
        uint32_t index = uint32_t(found - cells_of(node));
        Cell* slot = cells_of(node) + index + 1;
        if (removed(slot)) hash_record(table)->size++;
        *slot = value;
        return value_in;
    }
    Cell stored;
    map_normalize_key(&key, &stored, path);
    reserve_cells(node, 2);
    uint32_t index = cell_count(node);
    *alloc_tail(node_buffer(node)) = stored;
    alloc_tail(node_buffer(node));  // unset until the key is indexed
    hash_insert_cell(table, index);
    cells_of(node)[index + 1] = value;
    return value_in;
}

void map_extend(Cell* map, const Cell* spec, bool case_) {
    std::vector<Cell> cells;
    if (is_type(spec, TYPE_MAP)) {
        NodeId from = map_storage(spec);
        for (uint32_t i = 0; i + 1 < cell_count(from); i += 2) {
            if (removed(cells_of(from) + i + 1)) continue;
            cells.push_back(cells_of(from)[i]);
            cells.push_back(cells_of(from)[i + 1]);
        }
    } else {
        if (cells_after(spec) & 1) fire(Err::script_invalid_arg, *spec);
        cells = block_cells_copy(spec);
    }
    reserve_cells(map_storage(map), cells.size());
    for (size_t i = 0; i + 1 < cells.size(); i += 2) map_store(map, &cells[i], &cells[i + 1], case_, nullptr);
}

// --- foreach ----------------------------------------------------------------------------------

bool map_collect_key_words(const Cell* words_in, Cell* map) {
    std::vector<Cell> words = block_cells_copy(words_in);
    // A handler may clear the words block: the copies keep the words' contexts.
    RootedCells keep(words.data(), uint32_t(words.size()));
    for (const Cell& w : words) {
        uint8_t t = type_of(&w);
        if (t < TYPE_WORD || t > TYPE_GET_WORD) fire(Err::script_invalid_arg, w);
    }
    const NodeId node = map_storage(map);
    uint32_t index = map->data1;
    bool assigned = false;
    for (const Cell& w : words) {
        // A change handler run by an assignment may have changed the map.
        uint32_t total = cell_count(node);
        if ((index & 1) == 0)
            while (index + 1 < total && removed(cells_of(node) + index + 1)) index += 2;
        Cell value;
        if (index < total) {
            value = (index & 1) == 0 ? shown_key(cells_of(node) + index) : cells_of(node)[index];
            index++;
            assigned = true;
        } else {
            make_none(&value);
        }
        Cell word = w;
        word_set(&word, &value);
    }
    map->data1 = index;
    return assigned;
}

// --- reflect and copy ----------------------------------------------------------------------------

Cell* map_reflect_into(const Cell* map_in, MapField field, Cell* out) {
    Cell map = *map_in;
    int32_t live = map_count(&map);
    Cell blk;
    block_make_at(&blk, std::max(field == MapField::body ? 2 * live : live, 1));
    const NodeId node = map_storage(&map);
    for (uint32_t i = 0; i + 1 < cell_count(node); i += 2) {
        if (removed(cells_of(node) + i + 1)) continue;
        Cell key = cells_of(node)[i];
        Cell value = cells_of(node)[i + 1];
        switch (field) {
        case MapField::words: key = shown_key(&key); block_append_cell(&blk, &key); break;
        case MapField::values: block_append_cell(&blk, &value); break;
        case MapField::body:
            key.header |= HEADER_NEW_LINE;
            block_append_cell(&blk, &key);
            block_append_cell(&blk, &value);
            break;
        }
    }
    *out = blk;
    return out;
}

Cell* map_reflect(Cell* value, int32_t field_symbol) {
    MapField field;
    if (is_field(field_symbol, "words")) field = MapField::words;
    else if (is_field(field_symbol, "values")) field = MapField::values;
    else if (is_field(field_symbol, "body")) field = MapField::body;
    else fire(Err::internal_not_done);
    Cell* out = stack::push_slot();
    make_unset(out);
    return map_reflect_into(value, field, out);
}

Cell* map_copy(Cell* value, Cell* result, const CopyArgs& refs) {
    Cell map = *value;
    const NodeId source = map_storage(&map);
    CycleScope open;
    if (refs.deep && refs.types) {
        if (cycle_find(source)) {
            cycle_reset();
            fire(Err::internal_no_cycle);
        }
        open.push(source);
    }
    Cell copy = duplicate(&map);
    const NodeId node = map_storage(&copy);
    if (refs.types) {
        block_copy_types(node, 0, cell_count(node), 1, refs.deep, refs.types);
    } else if (refs.deep) {
        for (uint32_t i = 0; i < cell_count(node); i++)
            if (any_series_type(type_of(cells_of(node) + i))) deep_copy_cell(node, i);
    }
    *result = copy;
    return result;
}

Cell* map_copy_deep(const Cell* map, Cell* result) {
    cycle_reset();
    Cell m = *map;
    return map_copy(&m, result, CopyArgs{.deep = true});
}

// --- the other actions ----------------------------------------------------------------------------

Cell* map_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    if (value) return map_store(parent, element, value, false, step.path);
    int32_t index = map_find_key(parent, element, MAP_LOOKUP_EQUAL);
    if (index < 0) return none_push();
    return stack::push(cells_of(map_storage(parent)) + index + 1);
}

Cell* map_clear(Cell* map) {
    hash_clear(map_table(map));
    map->data1 = 0;
    return map;
}

Cell* map_find(Cell* series, Cell* value, const FindArgs& refs) {
    int32_t index = map_find_key(series, value, lookup_op(refs.case_, refs.same));
    if (index < 0) return none_push();
    Cell key = shown_key(cells_of(map_storage(series)) + index);
    return stack::push(&key);
}

int32_t map_length_q(Cell* map) { return map_count(map); }

Cell* map_put(Cell* series, Cell* key, Cell* value, const PutArgs& refs) {
    return map_store(series, key, value, refs.case_, nullptr);
}

Cell* map_remove(Cell* series, const RemoveArgs& refs) {
    if (!refs.key) fire(Err::script_missing_arg);
    int32_t index = map_find_key(series, refs.key, MAP_LOOKUP_STRICT);
    if (index >= 0) hash_delete(map_table(series), uint32_t(index));
    return series;
}

Cell* map_select(Cell* series, Cell* value, const SelectArgs& refs) {
    int32_t index = map_find_key(series, value, lookup_op(refs.case_, refs.same));
    if (index < 0) return none_push();
    return stack::push(cells_of(map_storage(series)) + index + 1);
}

// --- mold, form and compare ---------------------------------------------------------------

namespace {

// Framed (mold without /only): "#[", the pairs, "]"; on separate lines,
// indented one level deeper than the map itself, unless flat. Unframed (form
// and mold/only): the pairs alone, one per line (separated by spaces when flat).
int32_t serialize(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent, bool mold) {
    Cell map = *value;
    const NodeId out = series_node(buffer);
    if (mold_cycle(&map, out, part, mold)) return part;
    const bool framed = mold && !refs.only;
    const bool lines = framed && !refs.flat;
    if (framed) {
        string_append_ascii(out, "#[");
        part -= 2;
        if (map_count(&map) == 0) {
            string_append_ascii(out, "]");
            return part - 1;
        }
        if (lines) {
            string_append_ascii(out, "\n");
            part--;
        }
    }
    const NodeId node = map_storage(&map);
    const int32_t inner = framed ? indent + 1 : indent;
    {
        CycleScope scope;
        scope.push(node);
        bool first = true;
        for (uint32_t i = 0; i + 1 < cell_count(node); i += 2) {
            if (removed(cells_of(node) + i + 1)) continue;
            if (refs.limit && part < 1) break;
            if (!first && !lines) {
                string_append_ascii(out, refs.flat ? " " : "\n");
                part--;
            }
            if (lines) part = mold_indent(out, uint32_t(inner), part);
            Cell key = cells_of(node)[i];
            Cell item = cells_of(node)[i + 1];
            part = mold_direct(&key, buffer, mold_nested(refs), part, inner);
            string_append_ascii(out, " ");
            part--;
            part = mold_direct(&item, buffer, mold_nested(refs), part, inner);
            if (lines) {
                string_append_ascii(out, "\n");
                part--;
            }
            first = false;
        }
    }
    if (framed) {
        if (lines) part = mold_indent(out, uint32_t(indent), part);
        string_append_ascii(out, "]");
        part--;
    }
    return part;
}

bool equality_op(CompareOp op) {
    return op == CompareOp::equal || op == CompareOp::not_equal || op == CompareOp::strict_equal ||
           op == CompareOp::same || op == CompareOp::find;
}

// Whether some live entry of `other` under a key equal (equal?) to key
// holds a value equal to item.
bool any_candidate_matches(const Cell* other, const Cell* key, Cell* item, CompareOp op) {
    const NodeId node = map_storage(other);
    HashProbe probe;
    while (Cell* candidate = hash_compare_maps(map_table(other), key, probe)) {
        uint32_t index = uint32_t(candidate - cells_of(node));
        Cell value = cells_of(node)[index + 1];
        if (removed(&value)) continue;
        if (compare_values(item, &value, op) == 0) return true;
    }
    return false;
}

} // namespace

int32_t map_form(Cell* value, Cell* buffer, Cell* arg, int32_t part) {
    return serialize(value, buffer, MoldArgs{.limit = arg}, part, 0, false);
}

int32_t map_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    return serialize(value, buffer, refs, part, indent, true);
}

int32_t map_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (!is_type(value2, TYPE_MAP)) return -2;
    if (equality_op(op)) return map_compare_maps(value1, value2, op);
    if (op == CompareOp::sort || op == CompareOp::case_sort) {
        // Sorting only needs a fixed order: the storage nodes give one.
        NodeId a = map_storage(value1), b = map_storage(value2);
        return a < b ? -1 : (a > b ? 1 : 0);
    }
    return -2;
}

int32_t map_compare_maps(Cell* value1, Cell* value2, CompareOp op) {
    Cell a = *value1, b = *value2;
    const NodeId na = map_storage(&a), nb = map_storage(&b);
    if (na == nb && a.data1 == b.data1) return 0;
    if (op == CompareOp::same) return 1;
    // Met again further down a nested comparison: equal only when both are.
    bool seen_a = cycle_find(na), seen_b = cycle_find(nb);
    if (seen_a || seen_b) return seen_a && seen_b ? 0 : 1;
    int32_t la = map_count(&a), lb = map_count(&b);
    if (la != lb) {
        if (equality_op(op)) return 1;
        return la < lb ? -1 : 1;
    }
    if (la == 0) return 0;
    // Values are asked whether they are equal, also under not-equal.
    const CompareOp value_op = op == CompareOp::not_equal ? CompareOp::equal : op;
    CycleScope scope;
    scope.push(na);
    scope.push(nb);
    for (uint32_t i = 0; i + 1 < cell_count(na); i += 2) {
        if (removed(cells_of(na) + i + 1)) continue;
        Cell key = cells_of(na)[i];
        Cell item = cells_of(na)[i + 1];
        if (op == MAP_LOOKUP_STRICT) {
            int32_t index = map_find_key(&b, &key, MAP_LOOKUP_STRICT);
            if (index < 0) return 1;
            Cell other = cells_of(nb)[index + 1];
            if (compare_values(&item, &other, value_op) != 0) return 1;
        } else if (!any_candidate_matches(&b, &key, &item, value_op)) {
            return 1;
        }
    }
    return 0;
}

void register_map() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_MAKE>(map_make)
        .set<ACT_REFLECT>(map_reflect)
        .set<ACT_TO>(map_to)
        .set<ACT_FORM>(map_form)
        .set<ACT_MOLD>(map_mold)
        .set<ACT_EVAL_PATH>(map_eval_path)
        .set<ACT_COMPARE>(map_compare)
        .set<ACT_CLEAR>(map_clear)
        .set<ACT_COPY>(map_copy)
        .set<ACT_FIND>(map_find)
        .set<ACT_LENGTH_Q>(map_length_q)
        .set<ACT_PUT>(map_put)
        .set<ACT_REMOVE>(map_remove)
        .set<ACT_SELECT>(map_select);
    register_datatype(TYPE_MAP, 0, "map!", row);
    collector::set_mark_kind(TYPE_MAP, collector::MK_MAP);
}

} // namespace kem
