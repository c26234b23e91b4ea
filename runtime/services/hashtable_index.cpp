// hash! upkeep: following removals, insertions and moves of cells in the
// indexed block. Every cell's bucket is found through the index array; a
// bucket holds one cell index, or names a chain of equal cells.
#include <algorithm>
#include <cstring>
#include <vector>
#include "runtime/core/array.h"
#include "runtime/services/hashtable.h"
#include "runtime/services/hashtable_impl.h"

namespace kem {

using namespace hash_detail;

namespace {

constexpr uint32_t SHIFT_LIMIT = 30000;

// The chains already visited by one shift or move; kept between calls, empty
// outside them.
NodeId visited_set = 0;

// Each chain is rewritten once per call, however many of its cells the call
// walks over.
bool first_visit(NodeId chain) {
    NodeId set = visited_chains();
    if (hash_get(set, chain)) return false;
    hash_put(set, chain);
    return true;
}

// Rewrites the stored indexes of the group that cell l belongs to.
template <class Map> void remap_group(NodeId table, uint32_t l, Map map) {
    HashRecord* r = hash_record(table);
    uint32_t e = index_entry(r, l);
    if (e == NO_BUCKET) return;
    int32_t key = bucket_key(r, e - 1);
    if (key >= 0) {
        bucket_key(r, e - 1) = map(key);
        return;
    }
    NodeId chain = chain_of(r, key);
    if (!chain || !first_visit(chain)) return;
    uint32_t n = array_length(chain);
    for (uint32_t j = 1; j <= n; j++) array_poke_int(chain, j, map(array_pick_int(chain, j)));
}

} // namespace

namespace hash_detail {

NodeId visited_chains() {
    if (!visited_set) visited_set = hash_make(1024, nullptr, HASH_POINTERS, 0);
    return visited_set;
}

void unindex_cell(NodeId table, uint32_t cell) {
    HashRecord* r = hash_record(table);
    uint32_t e = index_entry(r, cell);
    if (e == NO_BUCKET) return;
    uint32_t bucket = e - 1;
    int32_t key = bucket_key(r, bucket);
    index_words(r)[cell] = NO_BUCKET;
    if (key >= 0) {
        if (uint32_t(key) != cell) return;  // the bucket indexes another cell
    } else {
        NodeId chain = chain_of(r, key);
        if (!chain) return;
        int32_t offset = array_find_int(chain, int32_t(cell));
        if (offset >= 0) array_remove_bytes(chain, uint32_t(offset), 4);
        if (array_length(chain) > 0) return;
        r = hash_record(table);
        chain_list(r)[-key - 1] = 0;
    }
    r = hash_record(table);
    set_bucket_state(flag_words(r), bucket, BUCKET_DELETED);
    r->size--;
}

} // namespace hash_detail

void hash_delete(NodeId table, uint32_t index) {
    HashRecord* r = hash_record(table);
    if (r->kind == HASH_VALUES) {
        unindex_cell(table, index);
    } else if (r->kind == HASH_MAP && index + 1 < block_count(r)) {
        Cell* value = block_cells(r) + index + 1;
        // A pair removed already is not counted twice.
        if (value->header != 0) {
            value->header = 0;
            r->size--;
        }
    }
}

void hash_remove_range(NodeId table, uint32_t first, uint32_t n) {
    HashRecord* r = hash_record(table);
    uint32_t cells = block_count(r);
    if (first >= cells || n == 0) return;
    n = std::min(n, cells - first);
    if (first == 0 && n == cells) {
        r->size = r->n_occupied = 0;
        fill_series(r->flags, ALL_EMPTY);
        if (r->kind == HASH_VALUES) {
            fill_series(r->indexes, 0xFF);
            node_buffer(r->chains)->tail = node_buffer(r->chains)->head;
        }
        return;
    }
    if (r->kind != HASH_VALUES) return;
    for (uint32_t l = first; l < first + n; l++) unindex_cell(table, l);
}

int hash_shift_indexes(NodeId table, int32_t d, uint32_t first, uint32_t count, bool drop) {
    if (count > SHIFT_LIMIT) return 1;
    HashRecord* r = hash_record(table);
    if (r->kind != HASH_VALUES || d == 0) return 0;
    // Cells cannot move before the block's head: let the caller rebuild.
    if (d < 0 && uint32_t(-int64_t(d)) > first) return 1;
    // Removed cells leave their groups before the others shift, so that no
    // shifted index is mistaken for a removed one.
    if (drop && d < 0)
        for (uint32_t l = first + uint32_t(d); l < first; l++) unindex_cell(table, l);
    uint32_t end = std::min<uint64_t>(uint64_t(first) + count, index_capacity(hash_record(table)));
    for (uint32_t l = first; l < end; l++)
        remap_group(table, l, [&](int32_t m) { return uint32_t(m) >= first ? m + d : m; });
    hash_clear(visited_chains());
    if (end <= first) return 0;
    uint32_t moved = end - first;
    if (d > 0) ensure_index_capacity(table, end - 1 + uint32_t(d));
    r = hash_record(table);
    uint32_t* ia = index_words(r);
    uint32_t to = first + uint32_t(d);
    std::memmove(ia + to, ia + first, size_t(moved) * 4);
    // What the move uncovered indexes nothing now.
    if (d > 0) std::memset(ia + first, 0xFF, size_t(d) * 4);
    else std::memset(ia + to + moved, 0xFF, size_t(first - to) * 4);
    return 0;
}

void hash_move_range(NodeId table, uint32_t dest, uint32_t first, uint32_t count) {
    HashRecord* r = hash_record(table);
    if (r->kind != HASH_VALUES || count == 0) return;
    if (dest >= first && dest <= first + count) return;
    const uint32_t lo = std::min(dest, first), hi = std::max(dest, first + count);
    ensure_index_capacity(table, hi - 1);
    // Where each cell of [lo, hi) lands.
    auto map = [&](int32_t m) -> int32_t {
        uint32_t l = uint32_t(m);
        if (l < lo || l >= hi) return m;
        if (l >= first && l < first + count) return dest < first ? m - int32_t(first - dest) : m + int32_t(dest - first - count);
        return dest < first ? m + int32_t(count) : m - int32_t(count);
    };
    for (uint32_t l = lo; l < hi; l++) remap_group(table, l, map);
    hash_clear(visited_chains());
    r = hash_record(table);
    uint32_t* ia = index_words(r);
    std::vector<uint32_t> moved(ia + first, ia + first + count);
    if (dest < first) {
        std::memmove(ia + dest + count, ia + dest, size_t(first - dest) * 4);
        std::memcpy(ia + dest, moved.data(), size_t(count) * 4);
    } else {
        std::memmove(ia + first, ia + first + count, size_t(dest - first - count) * 4);
        std::memcpy(ia + dest - count, moved.data(), size_t(count) * 4);
    }
}

void hash_mark_globals(const HashMarker& marker) {
    if (visited_set) hash_mark(&visited_set, marker);
}

} // namespace kem
