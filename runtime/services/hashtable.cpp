// Tables over blocks (kinds 0..2): making, indexing, searching and resizing;
// interning symbols and finding context words (kind 2).
#include "runtime/services/hashtable.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include "runtime/core/array.h"
#include "runtime/core/value.h"
#include "runtime/services/hashtable_impl.h"

namespace kem {

NodeEvacuation node_evacuation;

using namespace hash_detail;

namespace hash_detail {

NodeId alloc_flags(uint32_t n_buckets) {
    NodeId f = alloc_bytes_filled(n_buckets / 4 ? n_buckets / 4 : 1, ALL_EMPTY);
    node_buffer(f)->tail = node_buffer(f)->size;
    return f;
}

NodeId alloc_keys(uint32_t n_buckets, uint32_t stride) {
    NodeId k = alloc_bytes_filled(n_buckets * 4 * stride, 0);
    node_buffer(k)->tail = node_buffer(k)->size;
    return k;
}

void fill_series(NodeId node, uint8_t byte) {
    SeriesBuffer* b = node_buffer(node);
    std::memset(b->data(), byte, b->size);
}

void ensure_index_capacity(NodeId table, uint32_t cell) {
    HashRecord* r = hash_record(table);
    if (cell < index_capacity(r)) return;
    uint64_t size = node_buffer(r->indexes)->size;
    while (size / 4 <= cell) size *= 2;
    SeriesBuffer* b = expand_series_filled(node_buffer(r->indexes), int64_t(size), 0xFF);
    b->tail = b->size;
}

int32_t group_first(const HashRecord* r, int32_t key) {
    if (key >= 0) return key;
    NodeId chain = chain_of(r, key);
    return chain && array_length(chain) ? array_pick_int(chain, 1) : -1;
}

} // namespace hash_detail

namespace {

uint32_t trunc_u32(double x) { return x >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(x); }

void set_index_entry(NodeId table, uint32_t cell, uint32_t bucket) {
    ensure_index_capacity(table, cell);
    index_words(hash_record(table))[cell] = bucket + 1;
}

// Kind 0: the cell joins the group of the live bucket, which becomes a chain
// when it held one cell.
void join_group(NodeId table, uint32_t bucket, uint32_t cell) {
    HashRecord* r = hash_record(table);
    int32_t key = bucket_key(r, bucket);
    NodeId chain;
    if (key >= 0) {
        chain = array_make(4, 4);
        array_append_int(chain, key);
        r = hash_record(table);
        uint8_t* slot = alloc_tail_bytes(node_buffer(r->chains), 4);
        std::memcpy(slot, &chain, 4);
        r = hash_record(table);
        bucket_key(r, bucket) = -int32_t(chain_count(r));
    } else {
        chain = chain_of(r, key);
    }
    array_append_int(chain, int32_t(cell));
}

// Indexes one cell of the block without looking at the load limit. False when
// no bucket was free, which the load limit normally rules out.
bool insert_raw(NodeId table, uint32_t cell) {
    HashRecord* r = hash_record(table);
    Cell key = block_cells(r)[cell];
    const int32_t kind = r->kind;
    if (kind == HASH_VALUES && r->stamp == 0 && hash_node_key(type_of(&key)))
        r->stamp = int32_t(node_evacuation.count + 1);
    const uint32_t mask = uint32_t(r->n_buckets) - 1;
    const uint32_t stride = key_stride(kind);
    const uint32_t h = hash_value(&key, false);
    uint32_t i = h & mask;
    const uint32_t start = i;
    uint32_t step = 0;
    int64_t reuse = -1;
    bool empty_found = false;
    for (;;) {
        r = hash_record(table);
        uint32_t state = bucket_state(flag_words(r), i);
        if (state == BUCKET_EMPTY) {
            empty_found = true;
            break;
        }
        if (state == BUCKET_DELETED) {
            if (reuse < 0) reuse = i;
        } else if (stride == 1 || bucket_hash(r, i) == h) {
            int32_t k = bucket_key(r, i);
            if (kind == HASH_VALUES) {
                int32_t first = group_first(r, k);
                Cell* member = block_cells(r) + first;
                if (first >= 0 && type_of(member) == type_of(&key) && hash_keys_equal(member, &key, CompareOp::equal)) {
                    join_group(table, i, cell);
                    set_index_entry(table, cell, i);
                    return true;
                }
            } else {
                Cell* stored = block_cells(r) + k;
                if (type_of(stored) == type_of(&key) && hash_keys_equal(stored, &key, CompareOp::strict_equal))
                    return true;
            }
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    if (!empty_found && reuse < 0) return false;
    uint32_t target = reuse >= 0 ? uint32_t(reuse) : i;
    r = hash_record(table);
    uint32_t* flags = flag_words(r);
    if (bucket_state(flags, target) == BUCKET_EMPTY) r->n_occupied++;
    set_bucket_state(flags, target, BUCKET_LIVE);
    bucket_key(r, target) = int32_t(cell);
    if (stride == 2) bucket_hash(r, target) = h;
    r->size++;
    if (kind == HASH_VALUES) set_index_entry(table, cell, target);
    return true;
}

// Kind 0: the best member of a group for find with options, or -1.
int32_t find_in_group(NodeId table, int32_t key_word, const Cell* key, int32_t start, int32_t skip, CompareOp op,
                      bool last, bool reverse) {
    HashRecord* r = hash_record(table);
    int32_t first = group_first(r, key_word);
    if (first < 0 || !hash_keys_equal(block_cells(r) + first, key, CompareOp::equal)) return -1;
    const bool forward = !last && !reverse;
    const int32_t count = int32_t(block_count(hash_record(table)));
    int32_t best = forward ? count : -1;
    auto consider = [&](int32_t l) {
        if (l < 0 || l >= count) return;
        if (!hash_keys_equal(block_cells(hash_record(table)) + l, key, op)) return;
        int32_t offset = forward ? l - start : start - l - 1;
        int32_t m = offset % skip;
        if (m < 0) m += std::abs(skip);
        if (m != 0) return;
        if (reverse) {
            if (l < start && l > best) best = l;
        } else if (last) {
            if (l >= start && l > best) best = l;
        } else if (l >= start && l < best) {
            best = l;
        }
    };
    if (key_word >= 0) {
        consider(key_word);
    } else {
        NodeId chain = chain_of(hash_record(table), key_word);
        uint32_t n = array_length(chain);
        for (uint32_t j = 1; j <= n; j++) consider(array_pick_int(chain, j));
    }
    return (forward ? best < count : best >= 0) ? best : -1;
}

// A map! looks word keys up as the set-words it stores.
Cell search_key(const HashRecord* r, const Cell* key) {
    Cell k = *key;
    if (r->kind == HASH_MAP && type_of(&k) >= TYPE_WORD && type_of(&k) <= TYPE_GET_WORD) set_type(&k, TYPE_SET_WORD);
    return k;
}

} // namespace

NodeId hash_make(uint32_t n, const Cell* series, int32_t kind, int32_t extra) {
    if (kind == HASH_SYMBOLS && extra == 2 && series) return hash_copy_symbols(series->data2);
    uint32_t size = kind == HASH_SYMBOLS && n >= 4000 ? n * 2 : std::max(n, 4u);
    uint32_t nb = next_pow2(trunc_u32(size / 0.77));
    NodeId table = alloc_bytes_filled(sizeof(HashRecord), 0);
    node_buffer(table)->tail = sizeof(HashRecord);
    NodeId flags = alloc_flags(nb);
    NodeId keys = alloc_keys(nb, key_stride(kind));
    uint32_t indexes = 0, chains = 0;
    if (kind == HASH_VALUES) {
        indexes = alloc_bytes_filled(std::max(n, 4u) * 4, 0xFF);
        node_buffer(indexes)->tail = node_buffer(indexes)->size;
        chains = alloc_bytes(16);
    } else if (kind >= HASH_POINTERS) {
        indexes = 16 * uint32_t(extra + 1);
    }
    bool indexes_series = series && kind < HASH_POINTERS;
    NodeId block = indexes_series ? series_node(series) : alloc_cells(size);
    *hash_record(table) = HashRecord{0,  indexes, chains, flags, keys, block, 0, int32_t(nb), int32_t(nb * 0.77),
                                     kind, kind >= HASH_POINTERS ? int32_t(node_evacuation.count + 1) : 0};
    if (indexes_series) hash_rehash_from(table, series_index(series), kind == HASH_MAP ? 2 : 1);
    return table;
}

int hash_insert_cell(NodeId table, uint32_t index) {
    HashRecord* r = hash_record(table);
    if (r->kind >= HASH_POINTERS || index >= block_count(r)) return 0;
    if (r->kind == HASH_VALUES && index_entry(r, index) != NO_BUCKET) unindex_cell(table, index);
    r = hash_record(table);
    if (r->n_occupied >= r->upper_bound) {
        if (r->kind == HASH_VALUES) {
            hash_resize(table, grow_request(r));
            return 2;
        }
        hash_resize_map(table, r->kind == HASH_MAP ? uint32_t(r->n_buckets) + 1 : grow_request(r));
    }
    while (!insert_raw(table, index)) {
        r = hash_record(table);
        if (r->kind == HASH_VALUES) {
            hash_resize(table, uint32_t(r->n_buckets) * 2);
            return 2;
        }
        hash_resize_map(table, uint32_t(r->n_buckets) * 2);
    }
    return 0;
}

void hash_rehash_from(NodeId table, uint32_t index, uint32_t step) {
    if (step == 0) step = 1;
    HashRecord* r = hash_record(table);
    if (r->kind != HASH_MAP) {
        for (uint32_t i = index; i < block_count(hash_record(table)); i += step)
            if (hash_insert_cell(table, i) == 2) return;
        return;
    }
    uint32_t i = index;
    while (i < block_count(r = hash_record(table))) {
        Cell key = block_cells(r)[i];
        Cell* found = hash_find_options(table, &key, 0, 1, CompareOp::strict_equal, false, false);
        if (!found) {
            hash_insert_cell(table, i);
            i += step;
            continue;
        }
        // A repeated key: its value goes to the earlier pair, its pair leaves.
        r = hash_record(table);
        SeriesBuffer* b = node_buffer(r->block);
        Cell* cells = b->cell_head();
        uint32_t count = b->used() / 16;
        uint32_t earlier = uint32_t(found - cells);
        if (i + 1 < count && earlier + 1 < count) {
            if (cells[earlier + 1].header == 0) r->size++;  // a removed entry comes back
            cells[earlier + 1] = cells[i + 1];
        }
        uint32_t drop = std::min<uint32_t>(2, count - i);
        std::memmove(cells + i, cells + i + drop, size_t(count - i - drop) * 16);
        b->tail -= drop * 16;
    }
}

Cell* hash_find_options(NodeId table, const Cell* key_in, int32_t start, int32_t skip, CompareOp op, bool last,
                        bool reverse) {
    hash_refresh_if_moved(table);
    HashRecord* r = hash_record(table);
    const int32_t kind = r->kind;
    if (kind >= HASH_POINTERS) return nullptr;
    Cell key = search_key(r, key_in);
    if (skip == 0) skip = 1;
    const bool slice = type_of(&key) == TYPE_LOOKUP_SLICE;
    const uint32_t mask = uint32_t(r->n_buckets) - 1;
    const uint32_t stride = key_stride(kind);
    const uint32_t h = hash_value(&key, false);
    uint32_t i = h & mask;
    const uint32_t first_bucket = i;
    uint32_t step = 0;
    // Only a comparison can allocate: the pointers are taken again after one.
    const uint32_t* flags = flag_words(r);
    const int32_t* keys = key_words(r);
    for (;;) {
        uint32_t state = bucket_state(flags, i);
        if (state == BUCKET_EMPTY) return nullptr;
        if (state == BUCKET_LIVE && (stride == 1 || uint32_t(hash_slot(keys, i)) == h)) {
            int32_t k = key_slot(keys, stride, i);
            if (kind == HASH_VALUES) {
                int32_t best = find_in_group(table, k, &key, start, skip, op, last, reverse);
                if (best >= 0) return block_cells(hash_record(table)) + best;
            } else {
                Cell* stored = block_cells(r) + k;
                if ((slice || type_of(stored) == type_of(&key)) && hash_keys_equal(stored, &key, op))
                    return block_cells(hash_record(table)) + k;
            }
            r = hash_record(table);
            flags = flag_words(r);
            keys = key_words(r);
        }
        i = (i + ++step) & mask;
        if (i == first_bucket) return nullptr;
    }
}

void hash_group_members(NodeId table, const Cell* key_in, std::vector<uint32_t>& out) {
    out.clear();
    hash_refresh_if_moved(table);
    HashRecord* r = hash_record(table);
    if (r->kind != HASH_VALUES) return;
    const Cell key = *key_in;
    const uint32_t mask = uint32_t(r->n_buckets) - 1;
    const uint32_t h = hash_value(&key, false);
    uint32_t i = h & mask;
    const uint32_t first_bucket = i;
    uint32_t step = 0;
    for (;;) {
        // A comparison may allocate: the record is taken again each time.
        r = hash_record(table);
        const uint32_t state = bucket_state(flag_words(r), i);
        if (state == BUCKET_EMPTY) return;
        if (state == BUCKET_LIVE && bucket_hash(r, i) == h) {
            const int32_t k = bucket_key(r, i);
            const int32_t first = group_first(r, k);
            if (first >= 0 && hash_keys_equal(block_cells(r) + first, &key, CompareOp::equal)) {
                r = hash_record(table);
                if (k >= 0) {
                    out.push_back(uint32_t(k));
                } else {
                    const NodeId chain = chain_of(r, k);
                    const uint32_t n = array_length(chain);
                    for (uint32_t j = 1; j <= n; j++) out.push_back(uint32_t(array_pick_int(chain, j)));
                }
            }
        }
        i = (i + ++step) & mask;
        if (i == first_bucket) return;
    }
}

Cell* hash_compare_maps(NodeId table, const Cell* key_in, HashProbe& probe) {
    constexpr int32_t EXHAUSTED = -2;
    if (probe.position == EXHAUSTED) return nullptr;
    HashRecord* r = hash_record(table);
    if (r->kind >= HASH_POINTERS) return nullptr;
    Cell key = search_key(r, key_in);
    const uint32_t mask = uint32_t(r->n_buckets) - 1;
    uint32_t i;
    if (probe.position < 0) {
        i = hash_value(&key, false) & mask;
        probe.stop = int32_t(i);
        probe.count = 0;
    } else {
        i = (uint32_t(probe.position) + uint32_t(++probe.count)) & mask;
        if (i == uint32_t(probe.stop)) {
            probe.position = EXHAUSTED;
            return nullptr;
        }
    }
    for (;;) {
        r = hash_record(table);
        uint32_t state = bucket_state(flag_words(r), i);
        if (state == BUCKET_EMPTY) break;
        if (state == BUCKET_LIVE) {
            int32_t k = bucket_key(r, i);
            Cell* stored = block_cells(r) + group_first(r, k);
            if (type_of(stored) == type_of(&key) && hash_keys_equal(stored, &key, CompareOp::equal)) {
                probe.position = int32_t(i);
                return block_cells(hash_record(table)) + group_first(hash_record(table), k);
            }
        }
        i = (i + uint32_t(++probe.count)) & mask;
        if (i == uint32_t(probe.stop)) break;
    }
    probe.position = EXHAUSTED;
    return nullptr;
}

void hash_rebuild(NodeId table, uint32_t count) {
    if (hash_record(table)->kind != HASH_VALUES) return;
    uint64_t c = count;
    for (;;) {
        uint32_t p = next_pow2(trunc_u32(double(c) * 1.5));
        uint32_t nb = std::max(p, 4u);
        NodeId flags = alloc_flags(nb);
        NodeId keys = alloc_keys(nb, key_stride(HASH_VALUES));
        HashRecord* r = hash_record(table);
        r->flags = flags;
        r->keys = keys;
        r->n_buckets = int32_t(nb);
        r->upper_bound = int32_t(trunc_u32(p * 0.77));
        r->size = r->n_occupied = 0;
        r->stamp = 0;
        uint32_t cells = block_count(r);
        if (cells) ensure_index_capacity(table, cells - 1);
        r = hash_record(table);
        fill_series(r->indexes, 0xFF);
        node_buffer(r->chains)->tail = node_buffer(r->chains)->head;
        // The next insertion grows a table past its bound; a rebuild only
        // needs one empty bucket left so that searches end.
        bool fits = true;
        for (uint32_t l = 0; l < cells && fits; l++) {
            if (uint32_t(hash_record(table)->n_occupied) + 1 >= nb) fits = false;
            else insert_raw(table, l);
        }
        if (fits) return;
        c = std::max<uint64_t>({uint64_t(cells), c * 2, 4});
    }
}

void hash_resize(NodeId table, uint32_t request) {
    // Evacuation would move the nodes being hashed; restored on any exit.
    struct Pause {
        bool saved = node_evacuation.enabled;
        Pause() { node_evacuation.enabled = false; }
        ~Pause() { node_evacuation.enabled = saved; }
    } pause;
    int32_t kind = hash_record(table)->kind;
    if (kind == HASH_VALUES) hash_rebuild(table, request);
    else if (kind >= HASH_POINTERS) hash_rebuild_entries(table, request);
    else hash_resize_map(table, request);
}

void hash_resize_map(NodeId table, uint32_t request) {
    HashRecord* r = hash_record(table);
    const uint32_t nb = std::max(next_pow2(request), 4u);
    const int32_t ub = int32_t(trunc_u32(nb * 0.77 + 0.5));
    if (ub <= r->size) return;
    const uint32_t old_nb = uint32_t(r->n_buckets);
    const int32_t kind = r->kind;
    const uint32_t stride = key_stride(kind);
    NodeId new_flags = alloc_flags(nb);
    if (nb > old_nb) {
        SeriesBuffer* kb = expand_series_filled(node_buffer(hash_record(table)->keys), int64_t(nb) * 4 * stride, 0);
        kb->tail = kb->size;
    }
    r = hash_record(table);
    uint32_t* old_flags = flag_words(r);
    auto* flags = reinterpret_cast<uint32_t*>(node_buffer(new_flags)->data());
    int32_t* keys = key_words(r);
    const uint32_t mask = nb - 1;
    // Displacement: each live key moves to its new bucket; a key still waiting
    // there is evicted and placed next. Old flags mark the keys placed.
    // A map! bucket's hash travels with its index.
    for (uint32_t j = 0; j < old_nb; j++) {
        if (bucket_state(old_flags, j) != BUCKET_LIVE) continue;
        int32_t k = key_slot(keys, stride, j);
        int32_t kh = stride == 2 ? hash_slot(keys, j) : 0;
        set_bucket_state(old_flags, j, BUCKET_DELETED);
        for (;;) {
            uint32_t h = stride == 2 ? uint32_t(kh)
                         : kind < HASH_POINTERS ? hash_value(block_cells(r) + k, false)
                                                : hash_int(entry_at(r, k)->data1);
            uint32_t i = h & mask, step = 0;
            while (bucket_state(flags, i) != BUCKET_EMPTY) i = (i + ++step) & mask;
            set_bucket_state(flags, i, BUCKET_LIVE);
            if (i < old_nb && bucket_state(old_flags, i) == BUCKET_LIVE) {
                std::swap(k, key_slot(keys, stride, i));
                if (stride == 2) std::swap(kh, hash_slot(keys, i));
                set_bucket_state(old_flags, i, BUCKET_DELETED);
                continue;
            }
            key_slot(keys, stride, i) = k;
            if (stride == 2) hash_slot(keys, i) = kh;
            break;
        }
    }
    r->flags = new_flags;
    if (nb < old_nb) {
        SeriesBuffer* kb = expand_series(node_buffer(r->keys), int64_t(nb) * 4 * stride);
        kb->tail = kb->size;
    }
    r = hash_record(table);
    r->n_buckets = int32_t(nb);
    r->upper_bound = ub;
    // Removed map! entries keep their buckets.
    if (kind != HASH_MAP) r->n_occupied = r->size;
}

void hash_refresh_if_moved(NodeId table) {
    HashRecord* r = hash_record(table);
    if (r->stamp == 0 || uint32_t(r->stamp) == node_evacuation.count + 1 || collector_switch.running) return;
    if (r->kind == HASH_VALUES) hash_resize(table, block_count(r));
    else if (r->kind >= HASH_POINTERS) hash_reindex_pointers(table);
}

void hash_clear(NodeId table) {
    HashRecord* r = hash_record(table);
    r->size = r->n_occupied = 0;
    fill_series(r->flags, ALL_EMPTY);
    SeriesBuffer* b = node_buffer(r->block);
    b->tail = b->head;
    if (r->kind == HASH_VALUES) {
        fill_series(r->indexes, 0xFF);
        node_buffer(r->chains)->tail = node_buffer(r->chains)->head;
    }
}

NodeId hash_duplicate(NodeId table, NodeId new_block) {
    NodeId copy = copy_series_buffer(node_buffer(table));
    NodeId flags = copy_series_buffer(node_buffer(hash_record(table)->flags));
    NodeId keys = copy_series_buffer(node_buffer(hash_record(table)->keys));
    HashRecord* r = hash_record(table);
    const int32_t kind = r->kind;
    uint32_t indexes = r->indexes, chains = r->chains;
    if (kind == HASH_VALUES) {
        indexes = copy_series_buffer(node_buffer(hash_record(table)->indexes));
        chains = copy_series_buffer(node_buffer(hash_record(table)->chains));
        // Chains are per table: the copy gets its own.
        uint32_t n = node_buffer(chains)->used() / 4;
        for (uint32_t j = 0; j < n; j++) {
            uint32_t chain;
            std::memcpy(&chain, node_buffer(chains)->head_ptr() + 4 * j, 4);
            if (!chain) continue;
            chain = array_copy(chain);
            std::memcpy(node_buffer(chains)->head_ptr() + 4 * j, &chain, 4);
        }
    } else if (kind >= HASH_POINTERS && !new_block) {
        new_block = copy_series_buffer(node_buffer(hash_record(table)->block));
    }
    HashRecord* c = hash_record(copy);
    c->flags = flags;
    c->keys = keys;
    c->indexes = indexes;
    c->chains = chains;
    c->block = new_block;
    return copy;
}

// --- Symbols and context words (kind 2) -------------------------------------

namespace {

// Symbol and word tables grow 16-fold at their load limit.
constexpr uint32_t SYMBOL_GROWTH = 16;

bool same_ascii_caseless(const uint8_t* a, const uint8_t* b, uint32_t n) {
    for (uint32_t i = 0; i < n; i++) {
        uint8_t x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x |= 0x20;
        if (y >= 'A' && y <= 'Z') y |= 0x20;
        if (x != y) return false;
    }
    return true;
}

void grow_symbols(NodeId table, bool always) {
    HashRecord* r = hash_record(table);
    if (always || r->n_occupied >= r->upper_bound) hash_resize_map(table, SYMBOL_GROWTH * grow_request(r));
}

// Marks a free bucket as holding block cell `index`.
void occupy(NodeId table, uint32_t bucket, uint32_t index) {
    HashRecord* r = hash_record(table);
    set_bucket_state(flag_words(r), bucket, BUCKET_LIVE);
    key_words(r)[bucket] = int32_t(index);
    r->size++;
    r->n_occupied++;
}

// Candidate symbol `k` of the block against a name: 1 exact, 2 caseless only, 0 neither.
int name_match(const HashRecord* r, int32_t k, const uint8_t* name, uint32_t length, bool want_exact) {
    SeriesBuffer* b = node_buffer(block_cells(r)[k].data3);
    if (b->used() != length) return 0;
    if (want_exact) return std::memcmp(b->head_ptr(), name, length) == 0 ? 1 : 0;
    return same_ascii_caseless(b->head_ptr(), name, length) ? 2 : 0;
}

} // namespace

uint32_t symbol_table_find(NodeId table, const uint8_t* name, uint32_t length, bool any_case) {
    grow_symbols(table, false);
    const uint32_t h = hash_symbol_name(name, length);
    for (;;) {
        HashRecord* r = hash_record(table);
        const uint32_t mask = uint32_t(r->n_buckets) - 1;
        const uint32_t start = h & mask;
        int64_t insert_at = -1;
        int32_t alias = -1;
        // Pass 1 (exact) runs unless any spelling will do; pass 2 looks for a
        // case variant. Both walk the same chain, which ends at an empty bucket.
        for (int pass = any_case ? 2 : 1; pass <= 2 && alias < 0; pass++) {
            uint32_t i = start, step = 0;
            for (;;) {
                uint32_t state = bucket_state(flag_words(r), i);
                if (state == BUCKET_EMPTY) {
                    if (insert_at < 0) insert_at = i;
                    break;
                }
                if (state == BUCKET_LIVE) {
                    int32_t k = key_words(r)[i];
                    if (name_match(r, k, name, length, pass == 1)) {
                        if (pass == 1 || any_case) return uint32_t(k) + 1;
                        // An alias always names the canonical spelling.
                        int32_t a = int32_t(block_cells(r)[k].data1);
                        alias = a > 0 ? a : k + 1;
                        break;
                    }
                }
                i = (i + ++step) & mask;
                if (i == start) break;
            }
        }
        if (insert_at < 0) {
            grow_symbols(table, true);
            continue;
        }
        // The new cell is unset until its name exists, so a collection in between sees a valid cell.
        alloc_tail(node_buffer(hash_record(table)->block));
        uint32_t index = block_count(hash_record(table)) - 1;
        occupy(table, uint32_t(insert_at), index);
        NodeId bytes = alloc_bytes(length + 1);
        SeriesBuffer* b = node_buffer(bytes);
        if (length) std::memcpy(b->head_ptr(), name, length);
        b->head_ptr()[length] = 0;
        b->tail = b->head + length;
        block_cells(hash_record(table))[index] = Cell{TYPE_SYMBOL, uint32_t(alias), 0, bytes};
        return index + 1;
    }
}

int32_t hash_symbol_find(NodeId table, uint32_t symbol, bool caseless, NodeId context, int32_t* out) {
    if (context) grow_symbols(table, false);
    const uint32_t canonical = hash_key_hooks.resolve_symbol(symbol);
    for (;;) {
        HashRecord* r = hash_record(table);
        const uint32_t mask = uint32_t(r->n_buckets) - 1;
        uint32_t i = hash_int(canonical) & mask;
        const uint32_t start = i;
        uint32_t step = 0;
        int64_t insert_at = -1;
        for (;;) {
            uint32_t state = bucket_state(flag_words(r), i);
            if (state == BUCKET_EMPTY) {
                insert_at = i;
                break;
            }
            if (state == BUCKET_LIVE) {
                int32_t k = key_words(r)[i];
                uint32_t s = block_cells(r)[k].data2;
                if (s == symbol || (caseless && hash_key_hooks.resolve_symbol(s) == canonical)) {
                    if (out) *out = k;
                    return k;
                }
            }
            i = (i + ++step) & mask;
            if (i == start) break;
        }
        if (!context) return -1;
        if (insert_at < 0) {
            grow_symbols(table, true);
            continue;
        }
        uint32_t position = block_count(r);
        Cell* word = alloc_tail(node_buffer(r->block));
        *word = Cell{TYPE_WORD, context, symbol, position};
        occupy(table, uint32_t(insert_at), position);
        if (out) *out = int32_t(position);
        return -1;
    }
}

NodeId hash_copy_symbols(NodeId source) {
    NodeId words = copy_series_buffer(node_buffer(hash_record(source)->block));
    return hash_duplicate(source, words);
}

} // namespace kem
