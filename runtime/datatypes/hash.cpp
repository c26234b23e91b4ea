// hash!: the upkeep of its index under the block actions, lookups through
// the index, and its own make, to, mold, copy, sort and trim.
#include "runtime/datatypes/hash.h"
#include <algorithm>
#include <string_view>
#include "runtime/collector/collector.h"
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/hashtable.h"

namespace kem {

// --- index upkeep ---------------------------------------------------------------------

void hash_reindex(const Cell* series) {
    if (NodeId t = hash_table_of(series)) hash_rebuild(t, block_full_length(series));
}

void hash_cells_replaced(const Cell* series, uint32_t at, uint32_t removed, uint32_t written) {
    const NodeId t = hash_table_of(series);
    if (!t || (removed == 0 && written == 0)) return;
    const uint32_t total = block_full_length(series);
    if (total == 0) {
        hash_clear(t);
        return;
    }
    // The cells after the change follow it; cells it dropped leave their groups.
    const int32_t d = int32_t(written) - int32_t(removed);
    const uint32_t moved = total - at - written;
    if (d != 0 && (moved > 0 || d < 0) && hash_shift_indexes(t, d, at + removed, moved, d < 0) != 0) {
        hash_rebuild(t, total);
        return;
    }
    // The replaced cells leave their groups before any new cell joins one, so
    // that no group is judged by a member that no longer holds its value. A
    // table that grows at its load limit is rebuilt whole, new cells included.
    for (uint32_t i = at; i < at + written; i++) hash_delete(t, i);
    for (uint32_t i = at; i < at + written; i++)
        if (hash_insert_cell(t, i) == 2) return;
}

Cell* hash_index_block(Cell* value) {
    const uint32_t n = block_full_length(value);
    set_type(value, TYPE_HASH);
    value->data1 = 0;
    value->data3 = 0;
    value->data3 = hash_make(std::max(n, 1u), value, HASH_VALUES, 0);
    return value;
}

bool hash_lookup_candidates(const Cell* series, const Cell* key, bool only, bool same,
                            std::vector<uint32_t>& out) {
    const NodeId t = hash_table_of(series);
    if (!t) return false;
    const uint8_t kt = type_of(key);
    if (!only && (kt == TYPE_DATATYPE || kt == TYPE_TYPESET)) return false;
    if (kt == TYPE_OBJECT && !same) return false;
    if (any_block_type(kt) && !(only && same)) return false;
    // Equal maps may be different maps.
    if (kt == TYPE_MAP || kt == TYPE_IMAGE) return false;
    hash_group_members(t, key, out);
    std::sort(out.begin(), out.end());
    return true;
}

// --- actions ----------------------------------------------------------------------------

namespace {

// A block copy of a hash!'s cells with its own index.
Cell* copy_hash(Cell* value, Cell* result, const CopyArgs& refs) {
    const Cell source = *value;
    const bool whole = series_position(&source) <= 0 && !refs.part && !refs.deep && !refs.types;
    block_copy(value, result, refs);
    set_type(result, TYPE_HASH);
    result->data3 = 0;
    // A copy of the whole block takes a duplicate of the index: nothing to hash again.
    if (whole && source.data3 && block_full_length(result) == block_full_length(&source))
        result->data3 = hash_duplicate(source.data3, series_node(result));
    else
        hash_index_block(result);
    return result;
}

Cell* to_hash(Cell* proto, Cell* spec, int32_t type) {
    if (is_type(spec, TYPE_HASH)) {
        Cell* result = stack::push_slot();
        make_unset(result);
        return copy_hash(spec, result, CopyArgs{});
    }
    return hash_index_block(block_to(proto, spec, TYPE_BLOCK));
}

// A number is the room to make: at least one value.
Cell* make_hash(Cell* proto, Cell* spec, int32_t type) {
    const uint8_t st = type_of(spec);
    if (st == TYPE_INTEGER || st == TYPE_FLOAT) {
        const int32_t n = std::max(to_int_checked(spec), 1);
        Cell* result = block_push_only(n);
        result->data3 = hash_make(uint32_t(n), result, HASH_VALUES, 0);
        set_type(result, TYPE_HASH);
        return result;
    }
    return to_hash(proto, spec, type);
}

int32_t mold_hash(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent) {
    constexpr std::string_view PREFIX = "make hash! ";
    if (!refs.only) {
        string_append_ascii(buffer, PREFIX);
        part -= int32_t(PREFIX.size());
    }
    return block_mold(value, buffer, refs, part, indent);
}

Cell* sort_hash(Cell* series, const SortArgs& refs) {
    Cell* result = block_sort(series, refs);
    hash_reindex(series);
    return result;
}

Cell* trim_hash(Cell* series, const TrimArgs& refs) {
    Cell* result = block_trim(series, refs);
    hash_reindex(series);
    return result;
}

} // namespace

void register_hash() {
    ActionRow row = ActionRow::none_all();
    for (int slot : {ACT_REFLECT, ACT_FORM, ACT_EVAL_PATH, ACT_COMPARE, ACT_APPEND, ACT_AT, ACT_BACK, ACT_CHANGE,
                     ACT_CLEAR, ACT_FIND, ACT_HEAD, ACT_HEAD_Q, ACT_INDEX_Q, ACT_INSERT, ACT_LENGTH_Q, ACT_MOVE,
                     ACT_NEXT, ACT_PICK, ACT_POKE, ACT_PUT, ACT_REMOVE, ACT_REVERSE, ACT_SELECT, ACT_SKIP, ACT_SWAP,
                     ACT_TAIL, ACT_TAIL_Q, ACT_TAKE, ACT_MODIFY})
        row.inherit(slot);
    row.set<ACT_MAKE>(make_hash)
        .set<ACT_TO>(to_hash)
        .set<ACT_MOLD>(mold_hash)
        .set<ACT_COPY>(copy_hash)
        .set<ACT_SORT>(sort_hash)
        .set<ACT_TRIM>(trim_hash);
    register_datatype(TYPE_HASH, TYPE_BLOCK, "hash!", row);
    collector::set_mark_kind(TYPE_HASH, collector::MK_MAP);
}

} // namespace kem
