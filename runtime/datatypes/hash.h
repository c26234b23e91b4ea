// hash!: a block whose values are also entered in a hash table, so that find
// and select need no scan. It behaves as a block in every other respect.
//
// Cell: header type 36; payload word 1 the position, word 2 the node of the
// block's cells, word 3 the node of the hash table (HASH_VALUES) indexing
// every cell of the block from its head. The block actions it inherits keep
// the table in step through the upkeep calls below, which do nothing for a
// value that is no hash!.
#pragma once
#include <cstdint>
#include <vector>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace kem {

inline NodeId hash_table_of(const Cell* s) { return is_type(s, TYPE_HASH) ? s->data3 : 0; }

// --- index upkeep, called by the block actions
// After `removed` cells at `at` were replaced by `written` new ones, the
// cells after them moved to follow.
void hash_cells_replaced(const Cell* series, uint32_t at, uint32_t removed, uint32_t written);
inline void hash_cells_inserted(const Cell* s, uint32_t at, uint32_t n) { hash_cells_replaced(s, at, 0, n); }
inline void hash_cells_removed(const Cell* s, uint32_t at, uint32_t n) { hash_cells_replaced(s, at, n, 0); }
inline void hash_cells_changed(const Cell* s, uint32_t at, uint32_t n) { hash_cells_replaced(s, at, n, n); }
// After anything else: every cell indexed again.
void hash_reindex(const Cell* series);

// Turns a block value (position 0) into a hash! with a new table over its cells.
Cell* hash_index_block(Cell* value);

// The cells of the hash! a lookup of key can match under any equality,
// ascending; false when the key's kind of equality is no hash's (datatypes,
// typesets, blocks, objects and maps compare otherwise than they hash).
bool hash_lookup_candidates(const Cell* series, const Cell* key, bool only, bool same,
                            std::vector<uint32_t>& out);

void register_hash();

} // namespace kem
