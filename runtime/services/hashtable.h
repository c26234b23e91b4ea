// Open-addressing hash tables: symbols, context words, hash! and map! indexes,
// the ownership table and pointer sets.
//
// A table is a byte series (its node is the table's identity) holding a
// HashRecord; its flags, keys, index array and chains are series too, so the
// collector moves and reclaims them like any series. Tables never own what
// they index: kinds 0..2 store cell indexes into a block the caller owns, kinds
// 3 and 4 byte offsets into an entries block of their own.
//
// Buckets are probed from hash & (n_buckets - 1) in triangular steps. Every
// operation may allocate, so callers keep table and block node ids, never raw
// pointers, across calls; a returned Cell* is valid until the next allocation.
#pragma once
#include <cstdint>
#include <cstdio>
#include <vector>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/services/hash_keys.h"

namespace kem {

enum HashKind : int32_t {
    HASH_VALUES = 0,     // hash!: groups of equal values, chains of duplicates
    HASH_MAP = 1,        // map! keys, pairs of cells
    HASH_SYMBOLS = 2,    // the symbol table and context word tables
    HASH_POINTERS = 3,   // node keys with value cells
    HASH_OWNERSHIP = 4,  // node keys with three value cells
};

struct HashRecord {
    int32_t size;          // live entries
    uint32_t indexes;      // kind 0: index array node; kinds 3, 4: entry size in bytes
    uint32_t chains;       // kind 0: node of the chain list
    uint32_t flags;        // node: 2 bits per bucket, 2 empty, 1 deleted, 0 live
    uint32_t keys;         // node: one 32-bit key per bucket
    uint32_t block;        // node of the indexed block (kinds 3, 4: the entries)
    int32_t n_occupied;    // live or deleted buckets
    int32_t n_buckets;     // a power of two, at least 4
    int32_t upper_bound;   // n_occupied at which an insertion grows the table first
    int32_t kind;
    int32_t stamp;         // 0, or evacuation count + 1 when last indexed
};
static_assert(sizeof(HashRecord) == 44);

inline HashRecord* hash_record(NodeId table) { return reinterpret_cast<HashRecord*>(node_buffer(table)->data()); }
inline int32_t hash_count(NodeId table) { return hash_record(table)->size; }

// The collector's node evacuation as the tables see it: the collector adds 1
// to `count` after each collection that moved nodes, and skips evacuation while
// `enabled` is false. Tables stamped with another count re-index at first use.
struct NodeEvacuation {
    uint32_t count = 0;
    bool enabled = true;
};
extern NodeEvacuation node_evacuation;

// n expected entries. With a series (kinds 0..2) the table indexes its block
// from the series' position (map! pairs two cells at a time); without one it
// makes a block of max(n, 4) cells. Extra: value cells per entry for kinds 3
// and 4. Kind 2 with extra 2 and a series copies the context table whose node
// is the series' payload word 2 (hash_copy_symbols).
NodeId hash_make(uint32_t n, const Cell* series, int32_t kind, int32_t extra);

// Indexes cell `index` of the table's block (kinds 0..2). Status 2 when a
// hash! table was rebuilt instead (the cell is then indexed already). A hash!
// cell indexed before is first taken out of its old group.
int hash_insert_cell(NodeId table, uint32_t index);
// Indexes every step-th cell from index to the tail. A map! key equal (strict)
// to one already indexed gives its value to the earlier pair and its own pair
// leaves the block.
void hash_rehash_from(NodeId table, uint32_t index, uint32_t step);

// The stored cell equal to key under operator op, or nullptr. For hash! the
// members of the matching group are filtered by start, skip, last and reverse
// as block find does; other kinds ignore them.
Cell* hash_find_options(NodeId table, const Cell* key, int32_t start, int32_t skip, CompareOp op, bool last,
                        bool reverse);

// hash!: the indexes of every cell in the groups whose first member equals
// key (equal?), in no particular order: the cells a lookup of key under any
// stricter equality can find, for the caller to filter.
void hash_group_members(NodeId table, const Cell* key, std::vector<uint32_t>& out);

// Walks the stored keys equal (equal?) to key, one per call; position -1
// starts a walk. nullptr when there are no more.
struct HashProbe {
    int32_t position = -1;
    int32_t stop = 0;
    int32_t count = 0;
};
Cell* hash_compare_maps(NodeId table, const Cell* key, HashProbe& probe);

// hash!: takes cell `index` out of the index. map!: marks the pair whose key is
// cell `index` removed (its value's header becomes 0); the bucket stays.
void hash_delete(NodeId table, uint32_t index);
// Takes n cells from `first` out of a hash! index; all of them resets it.
void hash_remove_range(NodeId table, uint32_t first, uint32_t n);
// Follows |d| cells inserted (d > 0) or removed (d < 0) before cell `first` of a
// hash! block, for `count` cells from `first`; drop also takes the removed cells
// out. 1 when the caller must rebuild instead (nothing was done).
int hash_shift_indexes(NodeId table, int32_t d, uint32_t first, uint32_t count, bool drop);
// Follows a move of count cells from `first` to land before cell `dest`
// (counted before the move), as block move does within one buffer.
void hash_move_range(NodeId table, uint32_t dest, uint32_t first, uint32_t count);

// hash!: re-indexes every cell of the block into a table sized for `count`.
void hash_rebuild(NodeId table, uint32_t count);
// Full rebuild (kinds 0, 3, 4) with node evacuation suspended.
void hash_resize(NodeId table, uint32_t request);
// In-place rehash to next_pow2(request) buckets (kinds 1, 2).
void hash_resize_map(NodeId table, uint32_t request);
// Re-indexes a table stamped before the last node evacuation (not while a
// collection runs).
void hash_refresh_if_moved(NodeId table);

// Pointer-keyed tables (kinds 3, 4): the first value cell of the key's entry.
Cell* hash_put(NodeId table, NodeId key);
Cell* hash_get(NodeId table, NodeId key);
Cell* hash_remove_key(NodeId table, NodeId key);
void hash_rebuild_entries(NodeId table, uint32_t request);
void hash_reindex_pointers(NodeId table);

// Empties the table and its block.
void hash_clear(NodeId table);
// An independent copy indexing new_block (kinds 3, 4: 0 copies the entries).
NodeId hash_duplicate(NodeId table, NodeId new_block);

// Kind 2. The position of the word with that symbol (exact, or any case
// variant when caseless), or -1. Given a context node, a missing word is
// appended to the word block (out = its position) and -1 returned.
int32_t hash_symbol_find(NodeId table, uint32_t symbol, bool caseless, NodeId context, int32_t* out);
// Interns a UTF-8 name in the symbol table; returns its symbol id (1-based).
uint32_t symbol_table_find(NodeId table, const uint8_t* name, uint32_t length, bool any_case);
// A new context table with a copy of the source's word block.
NodeId hash_copy_symbols(NodeId source);

// Collector support. mark_node marks the node in the slot, first re-pointing
// the slot when the node moved, and tells whether it was newly marked;
// mark_cells marks the cells of a buffer from head to tail.
struct HashMarker {
    bool (*mark_node)(uint32_t* slot);
    void (*mark_cells)(NodeId node);
};
void hash_mark(uint32_t* table_slot, const HashMarker& marker);
// The tables' own process-wide series (the visited-chain set).
void hash_mark_globals(const HashMarker& marker);
// After marking: removes the entries whose key, or (kind 4) whose owner's
// context, is not marked. The value cells of each entry kept pass through
// `forward` first, when given: it rewrites the ids of nodes the collection moved.
void hash_sweep(NodeId table, void (*forward)(Cell* first, Cell* end) = nullptr);

// Integer tables: a 32-bit key to 32-bit value map on the process heap, for
// the collector's node relocation while series memory is being rearranged.
// Same flags and probing as the series tables; entries are never removed.
// Refused heap memory ends the process with runtime error 94.
struct IntTable {
    int32_t size;
    uint32_t* flags;   // 2 bits per bucket: 2 empty, 0 live
    uint32_t* pairs;   // n_buckets pairs: key, then value
    int32_t n_occupied;
    int32_t n_buckets;
    int32_t upper_bound;
};

IntTable* int_table_make(uint32_t n);
// Stores the value under the key, replacing an earlier one.
void int_table_put(IntTable* table, uint32_t key, uint32_t value);
// The key's bucket, or -1.
int32_t int_table_find(const IntTable* table, uint32_t key);
// The key's value slot, or nullptr; valid until the next put.
uint32_t* int_table_get(IntTable* table, uint32_t key);
// In-place rehash to next_pow2(request) buckets; nothing when that would not
// hold the entries.
void int_table_resize(IntTable* table, uint32_t request);
void int_table_free(IntTable* table);

// Debug listing of the deleted and live buckets.
void hash_dump(NodeId table, std::FILE* out = stdout);

} // namespace kem
