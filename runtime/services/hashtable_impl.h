// Internals shared by the hash table files: buckets, keys, the index array and
// chains. Pointers returned here are valid until the next allocation.
#pragma once
#include <cstdint>
#include <cstring>
#include "runtime/services/hashtable.h"

namespace kem::hash_detail {

constexpr uint32_t BUCKET_LIVE = 0;
constexpr uint32_t BUCKET_DELETED = 1;
constexpr uint32_t BUCKET_EMPTY = 2;
constexpr uint8_t ALL_EMPTY = 0xAA;
constexpr uint32_t NO_BUCKET = 0xFFFFFFFF;

inline uint32_t* flag_words(const HashRecord* r) { return reinterpret_cast<uint32_t*>(node_buffer(r->flags)->data()); }
inline int32_t* key_words(const HashRecord* r) { return reinterpret_cast<int32_t*>(node_buffer(r->keys)->data()); }

inline uint32_t bucket_state(const uint32_t* flags, uint32_t i) { return (flags[i >> 4] >> ((i & 15) * 2)) & 3; }
inline void set_bucket_state(uint32_t* flags, uint32_t i, uint32_t state) {
    uint32_t shift = (i & 15) * 2;
    flags[i >> 4] = (flags[i >> 4] & ~(3u << shift)) | (state << shift);
}

inline uint32_t next_pow2(uint32_t x) {
    if (x == 0) return 0;
    x--;
    x |= x >> 1;
    x |= x >> 2;
    x |= x >> 4;
    x |= x >> 8;
    x |= x >> 16;
    return x + 1;
}

// Request for growing at the load limit: shrink-or-clean when most buckets
// are deleted, else grow.
inline uint32_t grow_request(const HashRecord* r) {
    return 2 * r->size < r->n_buckets ? uint32_t(r->n_buckets) - 1 : uint32_t(r->n_buckets) + 1;
}

// A hash! or map! bucket holds its cell index (or chain) and, beside it, the
// key's hash, so that a probe compares hashes before it reads the stored key
// (which lies elsewhere in memory). Other kinds hold one word per bucket.
inline uint32_t key_stride(int32_t kind) { return kind == HASH_VALUES || kind == HASH_MAP ? 2 : 1; }
// A bucket's words in the keys buffer, for loops that hold the buffer: the
// key (or chain), and with a stride of 2 the hash after it.
template <typename Word>
inline Word& key_slot(Word* keys, uint32_t stride, uint32_t bucket) {
    return keys[stride * bucket];
}
template <typename Word>
inline Word& hash_slot(Word* keys, uint32_t bucket) {
    return keys[2 * bucket + 1];
}
inline int32_t& bucket_key(const HashRecord* r, uint32_t bucket) {
    return key_slot(key_words(r), key_stride(r->kind), bucket);
}
// Kinds 0 and 1 only.
inline uint32_t& bucket_hash(const HashRecord* r, uint32_t bucket) {
    return reinterpret_cast<uint32_t&>(hash_slot(key_words(r), bucket));
}

// Flags for n buckets, all empty; keys for n buckets, all 0.
NodeId alloc_flags(uint32_t n_buckets);
NodeId alloc_keys(uint32_t n_buckets, uint32_t stride = 1);
void fill_series(NodeId node, uint8_t byte);

// The indexed block.
inline Cell* block_cells(const HashRecord* r) { return node_buffer(r->block)->cell_head(); }
inline uint32_t block_count(const HashRecord* r) { return node_buffer(r->block)->used() / 16; }

// Kind 0: index array entries (1-based bucket or NO_BUCKET) and chains.
inline uint32_t* index_words(const HashRecord* r) { return reinterpret_cast<uint32_t*>(node_buffer(r->indexes)->data()); }
inline uint32_t index_capacity(const HashRecord* r) { return node_buffer(r->indexes)->size / 4; }
inline uint32_t index_entry(const HashRecord* r, uint32_t cell) {
    return cell < index_capacity(r) ? index_words(r)[cell] : NO_BUCKET;
}
// Grows the index array (doubling, new room NO_BUCKET) until cell fits.
void ensure_index_capacity(NodeId table, uint32_t cell);
inline uint32_t* chain_list(const HashRecord* r) { return reinterpret_cast<uint32_t*>(node_buffer(r->chains)->head_ptr()); }
inline uint32_t chain_count(const HashRecord* r) { return node_buffer(r->chains)->used() / 4; }
// The chain a negative key names.
inline NodeId chain_of(const HashRecord* r, int32_t key) { return chain_list(r)[-key - 1]; }
// The first member of the group a kind 0 key names.
int32_t group_first(const HashRecord* r, int32_t key);

// Kind 0: takes one cell out of its group; frees the bucket when the group empties.
void unindex_cell(NodeId table, uint32_t cell);

// Kinds 3, 4: the entry at a byte offset of the entries block.
inline Cell* entry_at(const HashRecord* r, int32_t offset) {
    return reinterpret_cast<Cell*>(node_buffer(r->block)->head_ptr() + offset);
}
constexpr uint32_t ENTRY_ALIVE = TYPE_UNSET;

// A kind 3 set of chain nodes, cleared after every use.
NodeId visited_chains();

} // namespace kem::hash_detail
