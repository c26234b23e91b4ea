// Node-keyed tables: kinds 3 and 4 in series, the integer table on the heap;
// and collector support for every kind.
//
// An entry is a key cell (header 2 while alive, 0 once removed; payload word 1
// the key node) followed by the value cells; buckets hold entry byte offsets.
// Keys are node ids, so a collection that moves nodes leaves the buckets stale
// until the table's stamp tells the next lookup to re-index.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include "runtime/core/array.h"
#include "runtime/core/value.h"
#include "runtime/platform/exit.h"
#include "runtime/services/hashtable.h"
#include "runtime/services/hashtable_impl.h"

namespace kem {

using namespace hash_detail;

namespace {

inline uint32_t entry_bytes(const HashRecord* r) { return r->indexes; }

// The bucket of a live entry with that key, or -1.
int64_t find_bucket(const HashRecord* r, NodeId key) {
    const uint32_t* flags = flag_words(r);
    const int32_t* keys = key_words(r);
    const uint32_t mask = uint32_t(r->n_buckets) - 1;
    uint32_t i = hash_int(key) & mask;
    const uint32_t start = i;
    uint32_t step = 0;
    for (;;) {
        uint32_t state = bucket_state(flags, i);
        if (state == BUCKET_EMPTY) return -1;
        if (state == BUCKET_LIVE && entry_at(r, keys[i])->data1 == key) return i;
        i = (i + ++step) & mask;
        if (i == start) return -1;
    }
}

// First empty bucket of the key's probe sequence (keys known to be absent).
uint32_t empty_bucket(const HashRecord* r, NodeId key) {
    const uint32_t* flags = flag_words(r);
    const uint32_t mask = uint32_t(r->n_buckets) - 1;
    uint32_t i = hash_int(key) & mask, step = 0;
    while (bucket_state(flags, i) != BUCKET_EMPTY) i = (i + ++step) & mask;
    return i;
}

bool is_marked(NodeId n) {
    if (n == 0 || node_is_free(n)) return false;
    SeriesBuffer* b = node_buffer(n);
    return b && (b->flags & SERIES_MARK);
}

} // namespace

Cell* hash_put(NodeId table, NodeId key) {
    hash_refresh_if_moved(table);
    HashRecord* r = hash_record(table);
    if (r->kind < HASH_POINTERS) return nullptr;
    if (r->n_occupied >= r->upper_bound) hash_resize(table, grow_request(r));
    r = hash_record(table);
    const uint32_t mask = uint32_t(r->n_buckets) - 1;
    uint32_t i = hash_int(key) & mask;
    const uint32_t start = i;
    uint32_t step = 0;
    int64_t reuse = -1;
    for (;;) {
        uint32_t state = bucket_state(flag_words(r), i);
        if (state == BUCKET_EMPTY) break;
        if (state == BUCKET_DELETED) {
            if (reuse < 0) reuse = i;
        } else {
            Cell* entry = entry_at(r, key_words(r)[i]);
            if (entry->data1 == key) return entry + 1;
        }
        i = (i + ++step) & mask;
        if (i == start) break;
    }
    int32_t offset;
    uint32_t target;
    if (reuse >= 0) {
        // A deleted bucket brings its old entry back into use.
        target = uint32_t(reuse);
        offset = key_words(r)[target];
    } else {
        target = i;
        SeriesBuffer* b = node_buffer(r->block);
        offset = int32_t(b->used());
        alloc_tail_bytes(b, entry_bytes(r));
        r = hash_record(table);
        r->n_occupied++;
    }
    set_bucket_state(flag_words(r), target, BUCKET_LIVE);
    key_words(r)[target] = offset;
    r->size++;
    Cell* entry = entry_at(r, offset);
    for (uint32_t c = 0; c < entry_bytes(r) / 16; c++) entry[c].header = ENTRY_ALIVE;
    entry->data1 = key;
    return entry + 1;
}

Cell* hash_get(NodeId table, NodeId key) {
    hash_refresh_if_moved(table);
    HashRecord* r = hash_record(table);
    if (r->kind < HASH_POINTERS) return nullptr;
    int64_t bucket = find_bucket(r, key);
    return bucket < 0 ? nullptr : entry_at(r, key_words(r)[bucket]) + 1;
}

Cell* hash_remove_key(NodeId table, NodeId key) {
    hash_refresh_if_moved(table);
    HashRecord* r = hash_record(table);
    if (r->kind < HASH_POINTERS) return nullptr;
    int64_t bucket = find_bucket(r, key);
    if (bucket < 0) return nullptr;
    set_bucket_state(flag_words(r), uint32_t(bucket), BUCKET_DELETED);
    r->size--;
    Cell* entry = entry_at(r, key_words(r)[bucket]);
    entry->header = 0;
    return entry + 1;
}

void hash_rebuild_entries(NodeId table, uint32_t request) {
    const uint32_t stamp = node_evacuation.count + 1;
    HashRecord* r = hash_record(table);
    const uint32_t p = next_pow2(request);
    const uint32_t nb = p > 4 ? p : 4;
    const uint32_t bytes = entry_bytes(r);
    NodeId flags = alloc_flags(nb);
    NodeId keys = alloc_keys(nb);
    uint32_t live = uint32_t(hash_record(table)->size);
    NodeId entries = alloc_cells(bytes / 16 * (live ? live : 1));
    r = hash_record(table);
    const NodeId old = r->block;
    r->flags = flags;
    r->keys = keys;
    r->block = entries;
    r->n_buckets = int32_t(nb);
    r->upper_bound = int32_t(p * 0.77 + 0.5);
    r->size = r->n_occupied = 0;
    // Live entries move to the new block in their old order; removed ones stay behind.
    for (uint32_t offset = 0; offset + bytes <= node_buffer(old)->used(); offset += bytes) {
        const Cell* from = reinterpret_cast<Cell*>(node_buffer(old)->head_ptr() + offset);
        if (from->header != ENTRY_ALIVE) continue;
        SeriesBuffer* b = node_buffer(entries);
        int32_t to = int32_t(b->used());
        uint8_t* dst = alloc_tail_bytes(b, bytes);
        from = reinterpret_cast<Cell*>(node_buffer(old)->head_ptr() + offset);
        std::memcpy(dst, from, bytes);
        r = hash_record(table);
        uint32_t i = empty_bucket(r, from->data1);
        set_bucket_state(flag_words(r), i, BUCKET_LIVE);
        key_words(r)[i] = to;
        r->size++;
        r->n_occupied++;
    }
    hash_record(table)->stamp = int32_t(stamp);
}

void hash_reindex_pointers(NodeId table) {
    HashRecord* r = hash_record(table);
    if (r->kind < HASH_POINTERS) return;
    fill_series(r->flags, ALL_EMPTY);
    r->size = r->n_occupied = 0;
    const uint32_t bytes = entry_bytes(r);
    const uint32_t used = node_buffer(r->block)->used();
    for (uint32_t offset = 0; offset + bytes <= used; offset += bytes) {
        Cell* entry = entry_at(r, int32_t(offset));
        if (entry->header != ENTRY_ALIVE) continue;
        uint32_t i = empty_bucket(r, entry->data1);
        set_bucket_state(flag_words(r), i, BUCKET_LIVE);
        key_words(r)[i] = int32_t(offset);
        r->size++;
        r->n_occupied++;
    }
    r->stamp = int32_t(node_evacuation.count + 1);
}

// --- Integer tables ----------------------------------------------------------

namespace {

[[noreturn]] void out_of_memory() { report_runtime_error(94, __builtin_return_address(0)); }

void* heap_alloc(size_t bytes) {
    void* p = std::malloc(bytes ? bytes : 1);
    if (!p) out_of_memory();
    return p;
}

void* heap_realloc(void* p, size_t bytes) {
    void* q = std::realloc(p, bytes ? bytes : 1);
    if (!q) out_of_memory();
    return q;
}

// Flags words for n buckets, every bucket empty.
uint32_t* empty_flags(uint32_t n_buckets) {
    size_t words = (n_buckets + 15) / 16;
    auto* f = static_cast<uint32_t*>(heap_alloc(words * 4));
    std::memset(f, ALL_EMPTY, words * 4);
    return f;
}

} // namespace

IntTable* int_table_make(uint32_t n) {
    uint32_t size = std::max(n, 4u);
    uint32_t nb = next_pow2(uint32_t(size / 0.77));
    auto* t = static_cast<IntTable*>(heap_alloc(sizeof(IntTable)));
    t->size = 0;
    t->n_occupied = 0;
    t->n_buckets = int32_t(nb);
    t->upper_bound = int32_t(nb * 0.77);
    t->flags = empty_flags(nb);
    t->pairs = static_cast<uint32_t*>(heap_alloc(size_t(nb) * 8));
    return t;
}

int32_t int_table_find(const IntTable* t, uint32_t key) {
    const uint32_t mask = uint32_t(t->n_buckets) - 1;
    uint32_t i = hash_int(key) & mask;
    const uint32_t start = i;
    uint32_t step = 0;
    for (;;) {
        uint32_t state = bucket_state(t->flags, i);
        if (state == BUCKET_EMPTY) return -1;
        if (state == BUCKET_LIVE && t->pairs[2 * i] == key) return int32_t(i);
        i = (i + ++step) & mask;
        if (i == start) return -1;
    }
}

uint32_t* int_table_get(IntTable* t, uint32_t key) {
    int32_t i = int_table_find(t, key);
    return i < 0 ? nullptr : &t->pairs[2 * i + 1];
}

void int_table_put(IntTable* t, uint32_t key, uint32_t value) {
    if (t->n_occupied >= t->upper_bound)
        int_table_resize(t, 2 * t->size < t->n_buckets ? uint32_t(t->n_buckets) - 1 : uint32_t(t->n_buckets) + 1);
    // Entries are never removed, so there are no deleted buckets to reuse.
    const uint32_t mask = uint32_t(t->n_buckets) - 1;
    uint32_t i = hash_int(key) & mask, step = 0;
    while (bucket_state(t->flags, i) == BUCKET_LIVE) {
        if (t->pairs[2 * i] == key) {
            t->pairs[2 * i + 1] = value;
            return;
        }
        i = (i + ++step) & mask;
    }
    set_bucket_state(t->flags, i, BUCKET_LIVE);
    t->pairs[2 * i] = key;
    t->pairs[2 * i + 1] = value;
    t->size++;
    t->n_occupied++;
}

void int_table_resize(IntTable* t, uint32_t request) {
    const uint32_t nb = std::max(next_pow2(request), 4u);
    const int32_t ub = int32_t(nb * 0.77 + 0.5);
    if (ub <= t->size) return;
    const uint32_t old_nb = uint32_t(t->n_buckets);
    uint32_t* flags = empty_flags(nb);
    if (nb > old_nb) t->pairs = static_cast<uint32_t*>(heap_realloc(t->pairs, size_t(nb) * 8));
    const uint32_t mask = nb - 1;
    for (uint32_t j = 0; j < old_nb; j++) {
        if (bucket_state(t->flags, j) != BUCKET_LIVE) continue;
        uint32_t key = t->pairs[2 * j], value = t->pairs[2 * j + 1];
        set_bucket_state(t->flags, j, BUCKET_DELETED);
        for (;;) {
            uint32_t i = hash_int(key) & mask, step = 0;
            while (bucket_state(flags, i) != BUCKET_EMPTY) i = (i + ++step) & mask;
            set_bucket_state(flags, i, BUCKET_LIVE);
            if (i < old_nb && bucket_state(t->flags, i) == BUCKET_LIVE) {
                std::swap(key, t->pairs[2 * i]);
                std::swap(value, t->pairs[2 * i + 1]);
                set_bucket_state(t->flags, i, BUCKET_DELETED);
                continue;
            }
            t->pairs[2 * i] = key;
            t->pairs[2 * i + 1] = value;
            break;
        }
    }
    std::free(t->flags);
    t->flags = flags;
    if (nb < old_nb) t->pairs = static_cast<uint32_t*>(heap_realloc(t->pairs, size_t(nb) * 8));
    t->n_buckets = int32_t(nb);
    t->upper_bound = ub;
    t->n_occupied = t->size;
}

void int_table_free(IntTable* t) {
    if (!t) return;
    std::free(t->flags);
    std::free(t->pairs);
    std::free(t);
}

// --- Collector support -----------------------------------------------------

void hash_mark(uint32_t* table_slot, const HashMarker& marker) {
    if (!marker.mark_node(table_slot)) return;
    // Marking moves no buffer, so the record stays where it is meanwhile.
    HashRecord* r = hash_record(*table_slot);
    if (r->kind == HASH_VALUES) {
        marker.mark_node(&r->indexes);
        marker.mark_node(&r->chains);
        uint32_t* chains = chain_list(r);
        for (uint32_t j = 0; j < chain_count(r); j++)
            if (chains[j]) marker.mark_node(&chains[j]);
    }
    marker.mark_node(&r->flags);
    marker.mark_node(&r->keys);
    if (r->kind >= HASH_POINTERS) {
        const uint32_t* flags = flag_words(r);
        const int32_t* keys = key_words(r);
        for (uint32_t i = 0; i < uint32_t(r->n_buckets); i++) {
            if (bucket_state(flags, i) != BUCKET_LIVE) continue;
            Cell* entry = entry_at(r, keys[i]);
            if (marker.mark_node(&entry->data1) && node_buffer(entry->data1)->unit() == 16)
                marker.mark_cells(entry->data1);
        }
    }
    // The ownership table keeps owned series, never their owners: an entry
    // whose owner died goes at the sweep.
    if (marker.mark_node(&r->block) && r->kind != HASH_OWNERSHIP) marker.mark_cells(r->block);
}

void hash_sweep(NodeId table, void (*forward)(Cell* first, Cell* end)) {
    HashRecord* r = hash_record(table);
    if (r->kind < HASH_POINTERS) return;
    // The buckets are walked directly: keys re-pointed by this collection no
    // longer hash to their buckets, and re-indexing waits for the next lookup.
    uint32_t* flags = flag_words(r);
    const int32_t* keys = key_words(r);
    for (uint32_t i = 0; i < uint32_t(r->n_buckets); i++) {
        if (bucket_state(flags, i) != BUCKET_LIVE) continue;
        Cell* entry = entry_at(r, keys[i]);
        // Marking rewrote the key; the value cells were not marked.
        if (forward) forward(entry + 1, entry + entry_bytes(r) / 16);
        bool dead = !is_marked(entry->data1) || (r->kind == HASH_OWNERSHIP && !is_marked(entry[2].data1));
        if (!dead) continue;
        set_bucket_state(flags, i, BUCKET_DELETED);
        r->size--;
        for (uint32_t c = 0; c < entry_bytes(r) / 16; c++) entry[c] = Cell{0, 0, 0, 0};
    }
}

void hash_dump(NodeId table, std::FILE* out) {
    HashRecord* r = hash_record(table);
    auto line = [&](uint32_t i) {
        int32_t key = key_words(r)[key_stride(r->kind) * i];
        if (r->kind >= HASH_POINTERS) {
            const Cell* entry = entry_at(r, key);
            std::fprintf(out, "%u", entry->data1);
            for (uint32_t c = 1; c < entry_bytes(r) / 16; c++) std::fprintf(out, " %u", type_of(entry + c));
        } else {
            int32_t l = r->kind == HASH_VALUES ? group_first(r, key) : key;
            uint32_t count = block_count(r);
            const Cell* cells = block_cells(r);
            // A deleted bucket may name a cell that is gone.
            if (l < 0 || uint32_t(l) >= count) std::fputs("-", out);
            else std::fprintf(out, "%u", type_of(cells + l));
            if (r->kind != HASH_VALUES && l >= 0 && uint32_t(l) + 1 < count)
                std::fprintf(out, " %u", type_of(cells + l + 1));
        }
        std::fputc('\n', out);
    };
    std::fputs("\n== Deleted keys ==\n", out);
    for (uint32_t i = 0; i < uint32_t(r->n_buckets); i++)
        if (bucket_state(flag_words(r), i) == BUCKET_DELETED) line(i);
    std::fputs("== Alive keys ==\n", out);
    for (uint32_t i = 0; i < uint32_t(r->n_buckets); i++)
        if (bucket_state(flag_words(r), i) == BUCKET_LIVE) line(i);
}

} // namespace kem
