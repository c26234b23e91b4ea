#include "runtime/core/memory.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>
#ifdef KEM_ASAN
#include <sanitizer/asan_interface.h>
#endif
#include "runtime/core/errors.h"
#include "runtime/platform/exit.h"
#include "runtime/platform/vm.h"

namespace kem {

MemoryState memory;
CollectorSwitch collector_switch;
uint32_t cache_epoch = 1;
uintptr_t* node_slots = nullptr;

#ifdef KEM_ASAN
void memory_poison(const void* p, size_t n) { __asan_poison_memory_region(p, n); }
void memory_unpoison(const void* p, size_t n) { __asan_unpoison_memory_region(p, n); }
#endif

namespace {

// Heap series (they never move): the collector frees those no value reaches.
std::vector<SeriesBuffer*>& heap_series() {
    static auto* list = new std::vector<SeriesBuffer*>;
    return *list;
}

NodeFrame node_frame_table[MAX_NODE_FRAMES];
uint32_t node_frame_count = 0;          // frame indexes ever used
uint32_t free_frame_indexes[MAX_NODE_FRAMES];
uint32_t free_frame_index_count = 0;
// GC-stress builds: released ranges of node ids wait here before they are
// used again, so a node id kept across a collection that moved its node
// names slots that fault when read.
uint32_t retired_frame_indexes[MAX_NODE_FRAMES];
uint32_t retired_frame_index_count = 0;
#ifdef KEM_GC_STRESS
constexpr uint32_t RETIRED_FRAME_INDEXES_KEPT = 64;
#else
constexpr uint32_t RETIRED_FRAME_INDEXES_KEPT = 0;
#endif

constexpr size_t OS_FRAME_PREFIX = 16;  // the frame's rounded size, keeping the rest 16-aligned
constexpr uint32_t SERIES_FRAME_MIN_FREE = 0xCCCC;
constexpr uint64_t MAX_BUFFER_BYTES = 0x7FFFFF00;

inline uint64_t round16(uint64_t n) { return (n + 15) & ~uint64_t(15); }

size_t slot_range_bytes() { return size_t(NODE_FRAME_STRIDE) * sizeof(uintptr_t); }

void init_buffer(SeriesBuffer* b, uint32_t bytes, uint32_t unit, int64_t offset, uint32_t extra_flags) {
    b->size = bytes;
    b->node = 0;
    b->side = 0;
    b->flags = (unit & SERIES_UNIT_MASK) | SERIES_IN_USE | SERIES_NEW | extra_flags;
    uint32_t head = 0;
    if (offset < 0) {
        // Keep the middle on a unit boundary so the units before it stay whole.
        uint32_t u = unit ? unit : 1;
        head = (bytes / 2) / u * u;
        b->flags |= SERIES_HEAD_MIDDLE;
    } else {
        head = static_cast<uint32_t>(offset);
    }
    b->head = b->tail = head;
}

uint32_t checked_bytes(uint64_t count, uint32_t unit) {
    // A count below 2^31 times a 32-bit unit cannot overflow 64 bits.
    if (count > MAX_BUFFER_BYTES) fire(Err::internal_no_memory);
    uint64_t bytes = round16(count * unit);
    if (bytes > MAX_BUFFER_BYTES || (memory.series_limit && bytes > memory.series_limit))
        fire(Err::internal_no_memory);
    return static_cast<uint32_t>(bytes);
}

bool fits(SeriesFrame* f, uint64_t need) { return need < uint64_t(f->end - f->free); }

// A new frame for a request that no frame can take: a request at least as large
// as the next frame size gets the largest frame size instead.
SeriesFrame* series_frame_for(uint64_t need) {
    if (need >= memory.next_series_frame_size) memory.next_series_frame_size = memory.big_threshold;
    return series_frame_make();
}

} // namespace

bool memory_ready() { return node_slots != nullptr; }

void memory_init() {
    if (node_slots) return;
    memory = MemoryState{};
    // The range of node slots is address space only, but a process limited
    // to a few gigabytes may not have room for the largest: a smaller range
    // holds fewer nodes. Without room even for the smallest nothing can run.
    for (uint32_t frames = MAX_NODE_FRAMES; frames >= MIN_NODE_FRAMES; frames /= 2) {
        try {
            node_slots = static_cast<uintptr_t*>(platform::virtual_reserve(size_t(frames) * slot_range_bytes()));
        } catch (const PlatformFault&) {
            continue;
        }
        memory.node_frame_limit = frames;
        break;
    }
    if (!node_slots) report_runtime_error(94, __builtin_return_address(0));
    node_frame_count = 0;
    free_frame_index_count = 0;
    retired_frame_index_count = 0;
}

void* os_frame_alloc(size_t size, bool executable) {
    size_t rounded = (size + OS_FRAME_PREFIX + platform::PAGE_SIZE - 1) & ~(platform::PAGE_SIZE - 1);
    void* p;
    try {
        p = platform::virtual_alloc(rounded, executable);
    } catch (const PlatformFault&) {
        fire(Err::internal_no_memory);
    }
    // The range may have held a frame that was poisoned before it was released.
    memory_unpoison(p, rounded);
    *static_cast<uint64_t*>(p) = rounded;
    memory.total += rounded;
    return static_cast<uint8_t*>(p) + OS_FRAME_PREFIX;
}

void os_frame_free(void* address) {
    uint8_t* base = static_cast<uint8_t*>(address) - OS_FRAME_PREFIX;
    uint64_t rounded = *reinterpret_cast<uint64_t*>(base);
    memory.total -= rounded;
    try {
        platform::virtual_free(base, rounded);
    } catch (const PlatformFault&) {
        fire(Err::internal_wrong_mem);
    }
}

// --- Node frames -----------------------------------------------------------

NodeFrame* node_frame_of(NodeId n) {
    uint32_t index = n / NODE_FRAME_STRIDE;
    return index < node_frame_count ? &node_frame_table[index] : nullptr;
}

NodeFrame* node_frame_make(uint32_t n) {
    if (n == 0 || n > NODE_FRAME_STRIDE - 1) n = NODES_PER_FRAME;
    uint32_t index;
    if (free_frame_index_count > 0) {
        index = free_frame_indexes[--free_frame_index_count];
    } else {
        if (node_frame_count == memory.node_frame_limit) fire(Err::internal_no_memory);
        index = node_frame_count++;
    }
    uintptr_t* range = node_slots + size_t(index) * NODE_FRAME_STRIDE;
    try {
        platform::virtual_commit(range, slot_range_bytes());
    } catch (const PlatformFault&) {
        free_frame_indexes[free_frame_index_count++] = index;
        fire(Err::internal_no_memory);
    }
    memory.total += slot_range_bytes();

    NodeFrame* f = &node_frame_table[index];
    *f = NodeFrame{};
    f->index = index;
    f->capacity = n;
    f->made_at = collector_switch.count;
    NodeId first = f->first_id();
    for (uint32_t i = 0; i < n; i++) {
        NodeId next = (i + 1 < n) ? first + i + 1 : 0;
        node_slots[first + i] = (uintptr_t(next) << 1) | 1;
    }
    f->free_head = first;
    f->prev = memory.last_node_frame;
    if (memory.last_node_frame) memory.last_node_frame->next = f;
    else memory.first_node_frame = f;
    memory.last_node_frame = f;
    return f;
}

void node_frame_release(NodeFrame* f) {
    if (f->prev) f->prev->next = f->next;
    else memory.first_node_frame = f->next;
    if (f->next) f->next->prev = f->prev;
    else memory.last_node_frame = f->prev;
    if (memory.current_node_frame == f) memory.current_node_frame = memory.last_node_frame;
    uintptr_t* range = node_slots + size_t(f->index) * NODE_FRAME_STRIDE;
    memory.total -= slot_range_bytes();
    if (RETIRED_FRAME_INDEXES_KEPT) {
        retired_frame_indexes[retired_frame_index_count++] = f->index;
        if (retired_frame_index_count > RETIRED_FRAME_INDEXES_KEPT) {
            free_frame_indexes[free_frame_index_count++] = retired_frame_indexes[0];
            retired_frame_index_count--;
            std::memmove(retired_frame_indexes, retired_frame_indexes + 1, retired_frame_index_count * sizeof(uint32_t));
        }
    } else {
        free_frame_indexes[free_frame_index_count++] = f->index;
    }
    f->capacity = 0;
    f->condemned = 0;
    try {
        platform::virtual_decommit(range, slot_range_bytes());
    } catch (const PlatformFault&) {
        fire(Err::internal_wrong_mem);
    }
}

NodeId alloc_node() {
    NodeFrame* f = memory.current_node_frame;
    if (!f || f->free_head == 0) {
        f = nullptr;
        for (NodeFrame* g = memory.first_node_frame; g; g = g->next)
            if (g->free_head != 0 && !g->condemned) {
                f = g;
                break;
            }
        if (!f) f = node_frame_make(NODES_PER_FRAME);
        memory.current_node_frame = f;
    }
    NodeId n = f->free_head;
    f->free_head = static_cast<NodeId>(node_slots[n] >> 1);
    node_slots[n] = 0;
    f->used++;
    note_allocation(NODE_BYTES);
    return n;
}

void node_keep_in_place(NodeId n) {
    if (NodeFrame* f = node_frame_of(n)) f->fixed = 1;
}

void node_frame_evacuate(NodeFrame* f, void (*moved)(NodeId from, NodeId to)) {
    f->condemned = 1;
    if (memory.current_node_frame == f) memory.current_node_frame = nullptr;
    const NodeId first = f->first_id();
    for (NodeId n = first; n < first + f->capacity && f->used > 0; n++) {
        if (node_is_free(n)) continue;
        const uintptr_t buffer = node_slots[n];
        const NodeId to = alloc_node();
        node_slots[to] = buffer;
        if (buffer) reinterpret_cast<SeriesBuffer*>(buffer)->node = to;
        f->used--;
        moved(n, to);
    }
}

void node_free(NodeFrame* f, NodeId n) {
    node_slots[n] = (uintptr_t(f->free_head) << 1) | 1;
    f->free_head = n;
    f->used--;
}

void node_frames_after_collection() {
    NodeFrame* f = memory.first_node_frame;
    while (f) {
        NodeFrame* next = f->next;
        if (f->used == 0 || f->condemned) node_frame_release(f);
        f = next;
    }
    for (f = memory.first_node_frame; f; f = f->next)
        if (f->free_head != 0) {
            memory.current_node_frame = f;
            break;
        }
    for (f = memory.first_node_frame; f; f = f->next) {
        f->stability = (f->stability << 1) | (f->used == f->used_at_last ? 1u : 0u);
        f->used_at_last = f->used;
        if (f->hold) f->hold--;
    }
}

// --- Series frames ---------------------------------------------------------

SeriesFrame* series_frame_make() {
    uint32_t size = memory.next_series_frame_size;
    if (size < memory.big_threshold) memory.next_series_frame_size = size * 2;
    auto* f = static_cast<SeriesFrame*>(os_frame_alloc(size + sizeof(SeriesFrame)));
    f->size = size + sizeof(SeriesFrame);
    f->free = f->first();
    f->end = f->first() + size;
    f->reserved = 0;
    // Keep the list in address order.
    SeriesFrame* after = nullptr;
    for (SeriesFrame* g = memory.first_series_frame; g && g < f; g = g->next) after = g;
    f->prev = after;
    f->next = after ? after->next : memory.first_series_frame;
    if (after) after->next = f;
    else memory.first_series_frame = f;
    if (f->next) f->next->prev = f;
    else memory.last_series_frame = f;
    return f;
}

void series_frame_release(SeriesFrame* f) {
    if (f->prev) f->prev->next = f->next;
    else memory.first_series_frame = f->next;
    if (f->next) f->next->prev = f->prev;
    else memory.last_series_frame = f->prev;
    if (memory.current_series_frame == f) memory.current_series_frame = memory.first_series_frame;
    os_frame_free(f);
}

namespace {

// The frame a small buffer of `need` bytes goes into when the current one
// has no room: the first with room, else a new one.
[[gnu::noinline]] SeriesFrame* series_frame_with_room(uint64_t need) {
    SeriesFrame* f = nullptr;
    for (SeriesFrame* g = memory.first_series_frame; g; g = g->next)
        if (fits(g, need)) {
            f = g;
            break;
        }
    if (!f) {
        f = series_frame_for(need);
    } else if (uint64_t(f->end - f->free) < SERIES_FRAME_MIN_FREE) {
        // Do not settle in a nearly full frame.
        f = series_frame_for(need);
    }
    memory.current_series_frame = f;
    return f;
}

// Compiled into both makers of buffers: a new series is the most frequent
// allocation of all.
[[gnu::always_inline]] inline SeriesBuffer* new_buffer(uint64_t count, uint32_t unit, int64_t offset) {
    uint32_t bytes = checked_bytes(count, unit);
    uint64_t need = uint64_t(bytes) + SERIES_OVERHEAD;
    SeriesBuffer* b;
    note_allocation(need);
    if (need >= memory.big_threshold) [[unlikely]] {
        b = big_frame_alloc(bytes);
        init_buffer(b, bytes, unit, offset, SERIES_BIG);
        return b;
    }
    SeriesFrame* f = memory.current_series_frame;
    if (!f || !fits(f, need)) [[unlikely]] f = series_frame_with_room(need);
    b = reinterpret_cast<SeriesBuffer*>(f->free);
    memory_unpoison(b, need);
    f->free += need;
    init_buffer(b, bytes, unit, offset, 0);
    return b;
}

} // namespace

SeriesBuffer* alloc_series_buffer(uint64_t count, uint32_t unit, int64_t offset) { return new_buffer(count, unit, offset); }

NodeId alloc_series(uint64_t count, uint32_t unit, int64_t offset) {
    NodeId n = alloc_node();
    SeriesBuffer* b;
    try {
        b = new_buffer(count, unit, offset);
    } catch (...) {
        node_free(node_frame_of(n), n);
        throw;
    }
    b->node = n;
    set_node_buffer(n, b);
    return n;
}

NodeId alloc_cells(uint32_t n) { return alloc_series(n, 16, 0); }

NodeId alloc_unset_cells(uint32_t n) {
    NodeId node = alloc_cells(n ? n : 1);
    SeriesBuffer* b = node_buffer(node);
    Cell* c = reinterpret_cast<Cell*>(b->data());
    for (uint32_t i = 0; i < b->size / 16; i++) make_unset(&c[i]);
    return node;
}

NodeId alloc_bytes(uint32_t n) { return alloc_series(n ? n : 16, 1, 0); }

NodeId alloc_string_buffer(uint32_t n, uint32_t unit) {
    if (n == 0) n = 16 / (unit ? unit : 1);
    return alloc_series(n, unit, 0);
}

NodeId alloc_bytes_filled(uint32_t n, uint8_t byte) {
    NodeId node = alloc_bytes(n);
    SeriesBuffer* b = node_buffer(node);
    std::memset(b->data(), byte, b->size);
    return node;
}

NodeId alloc_heap_series(uint64_t count, uint32_t unit, int64_t offset) {
    uint32_t bytes = checked_bytes(count, unit);
    note_allocation(uint64_t(bytes) + SERIES_OVERHEAD);
    void* p = std::aligned_alloc(16, round16(uint64_t(bytes) + SERIES_OVERHEAD));
    if (!p) report_runtime_error(94, __builtin_return_address(0));
    auto* b = static_cast<SeriesBuffer*>(p);
    init_buffer(b, bytes, unit, offset, SERIES_HEAP);
    NodeId n = alloc_node();
    b->node = n;
    set_node_buffer(n, b);
    heap_series().push_back(b);
    return n;
}

void set_series_flags(NodeId node, uint32_t bits) { node_buffer(node)->flags |= bits; }

SeriesBuffer* expand_series_buffer(SeriesBuffer* b, int64_t new_size) {
    if (new_size == 0) new_size = int64_t(b->size) * 2;
    if (new_size <= 0) fire(Err::internal_no_memory);
    series_changed(b);
    uint32_t unit = b->unit() ? b->unit() : 1;
    SeriesBuffer* nb = alloc_series_buffer(uint64_t(new_size) / unit, unit, 0);
    NodeId node = b->node;
    uint32_t placement = nb->flags & SERIES_BIG;
    nb->flags = (b->flags & ~(SERIES_BIG | SERIES_HEAP)) | placement;
    nb->node = node;
    // A smaller size keeps what fits: the tail never passes the end of the data.
    nb->tail = nb->head + (b->used() < nb->size ? b->used() : nb->size);
    if (node) set_node_buffer(node, nb);
    b->node = 0;
    b->flags &= ~SERIES_IN_USE;
    return nb;
}

SeriesBuffer* expand_series(SeriesBuffer* b, int64_t new_size) {
    SeriesBuffer* nb = expand_series_buffer(b, new_size);
    std::memcpy(nb->head_ptr(), b->head_ptr(), nb->used());
    return nb;
}

SeriesBuffer* expand_series_filled(SeriesBuffer* b, int64_t new_size, uint8_t byte) {
    uint32_t old_size = b->size;
    SeriesBuffer* nb = expand_series(b, new_size);
    if (nb->size > old_size) std::memset(nb->data() + old_size, byte, nb->size - old_size);
    return nb;
}

NodeId copy_series_buffer(SeriesBuffer* b) {
    NodeId n = alloc_series(b->size, 1, 0);
    SeriesBuffer* nb = node_buffer(n);
    uint32_t placement = nb->flags & SERIES_BIG;
    nb->flags = (b->flags & ~(SERIES_BIG | SERIES_HEAP | SERIES_MARK)) | placement | SERIES_IN_USE;
    std::memcpy(nb->data(), b->head_ptr(), b->used());
    nb->tail = nb->head + b->used();
    return n;
}

// --- Big frames ------------------------------------------------------------

SeriesBuffer* big_frame_alloc(uint64_t size) {
    auto* f = static_cast<BigFrame*>(os_frame_alloc(sizeof(BigFrame) + SERIES_OVERHEAD + size));
    f->next = nullptr;
    f->zero = 0;
    f->request = static_cast<uint32_t>(size);
    if (memory.last_big_frame) memory.last_big_frame->next = f;
    else memory.big_frames = f;
    memory.last_big_frame = f;
    return f->buffer();
}

void big_frame_free(SeriesBuffer* b) {
    BigFrame* prev = nullptr;
    for (BigFrame* f = memory.big_frames; f; prev = f, f = f->next) {
        if (f->buffer() != b) continue;
        if (prev) prev->next = f->next;
        else memory.big_frames = f->next;
        if (memory.last_big_frame == f) memory.last_big_frame = prev;
        os_frame_free(f);
        return;
    }
}

void big_frames_sweep(void (*free_node)(NodeId)) {
    BigFrame* prev = nullptr;
    BigFrame* f = memory.big_frames;
    while (f) {
        BigFrame* next = f->next;
        SeriesBuffer* b = f->buffer();
        if (b->flags & SERIES_MARK) {
            b->flags &= ~SERIES_MARK;
            prev = f;
        } else {
            if (b->node && free_node) free_node(b->node);
            if (prev) prev->next = next;
            else memory.big_frames = next;
            if (memory.last_big_frame == f) memory.last_big_frame = prev;
            os_frame_free(f);
        }
        f = next;
    }
}

uint64_t heap_series_sweep(void (*free_node)(NodeId)) {
    auto& list = heap_series();
    size_t kept = 0;
    uint64_t live = 0;
    for (SeriesBuffer* b : list) {
        if ((b->flags & SERIES_MARK) && b->node) {
            b->flags &= ~SERIES_MARK;
            list[kept++] = b;
            live += b->size + SERIES_OVERHEAD;
            continue;
        }
        if (b->node && free_node) free_node(b->node);
        std::free(b);
    }
    list.resize(kept);
    return live;
}

namespace {

constexpr uint64_t MIN_ROOM_TO_FILL = 52429;

// Where compaction puts the next live run.
struct CompactTarget {
    SeriesFrame* frame = nullptr;
    uint8_t* cursor = nullptr;
};

// Moves the buffers in [from, to) to dest and re-points their nodes.
void move_run(uint8_t* from, uint8_t* to, uint8_t* dest) {
    size_t n = size_t(to - from);
    if (dest != from) {
        memory_unpoison(dest, n);
        std::memmove(dest, from, n);
    }
    for (uint8_t* p = dest; p < dest + n;) {
        auto* b = reinterpret_cast<SeriesBuffer*>(p);
        set_node_buffer(b->node, b);
        p += b->size + SERIES_OVERHEAD;
    }
}

inline bool buffer_live(const SeriesBuffer* b) {
    return (b->flags & SERIES_MARK) && (b->flags & SERIES_IN_USE) && b->node != 0;
}

} // namespace

uint64_t series_frames_compact(void (*free_node)(NodeId), uint64_t* freed) {
    uint64_t live = 0;
    CompactTarget target;
    SeriesFrame* f = memory.first_series_frame;
    while (f) {
        SeriesFrame* next = f->next;
        // A previous frame with little room left is not worth filling.
        if (!target.frame || uint64_t(target.frame->end - target.cursor) < MIN_ROOM_TO_FILL) {
            if (target.frame) target.frame->free = target.cursor;
            target = CompactTarget{f, f->first()};
        }
        uint8_t* p = f->first();
        while (p < f->free) {
            // Gather a run of live buffers.
            uint8_t* run = p;
            while (p < f->free) {
                auto* b = reinterpret_cast<SeriesBuffer*>(p);
                if (!buffer_live(b)) break;
                b->flags &= ~SERIES_MARK;
                p += b->size + SERIES_OVERHEAD;
            }
            // Place it: into the target frame as far as whole buffers fit,
            // the rest at the start of the free space of its own frame.
            while (run < p) {
                if (target.frame != f) {
                    uint64_t room = uint64_t(target.frame->end - target.cursor);
                    uint8_t* cut = run;
                    while (cut < p) {
                        uint64_t len = reinterpret_cast<SeriesBuffer*>(cut)->size + SERIES_OVERHEAD;
                        if (uint64_t(cut - run) + len > room) break;
                        cut += len;
                    }
                    if (cut > run) {
                        move_run(run, cut, target.cursor);
                        live += uint64_t(cut - run);
                        target.cursor += cut - run;
                        run = cut;
                    }
                    if (run < p) {
                        target.frame->free = target.cursor;
                        target = CompactTarget{f, f->first()};
                    }
                    continue;
                }
                move_run(run, p, target.cursor);
                live += uint64_t(p - run);
                target.cursor += p - run;
                run = p;
            }
            // Skip the dead buffers that follow.
            while (p < f->free) {
                auto* b = reinterpret_cast<SeriesBuffer*>(p);
                if (buffer_live(b)) break;
                uint64_t len = b->size + SERIES_OVERHEAD;
                if (b->node && (b->flags & SERIES_IN_USE) && free_node && node_buffer(b->node) == b) free_node(b->node);
                *freed += len;
                p += len;
            }
        }
        if (target.frame != f) {
            // Everything moved out: the frame is empty.
            f->free = f->first();
            if (next) {
                series_frame_release(f);
            } else {
                memory_poison(f->first(), size_t(f->end - f->first()));
            }
        }
        f = next;
    }
    if (target.frame) {
        target.frame->free = target.cursor;
        memory_poison(target.cursor, size_t(target.frame->end - target.cursor));
    }
    // Frames between the target and the end that were compacted in place.
    for (SeriesFrame* g = memory.first_series_frame; g; g = g->next)
        if (g != target.frame) memory_poison(g->free, size_t(g->end - g->free));
    memory.current_series_frame = memory.first_series_frame;
    return live;
}

namespace {
// Retired frames stay mapped but inaccessible for a while.
struct Retired {
    void* base;
    size_t size;
};
std::vector<Retired>& retired_frames() {
    static auto* list = new std::vector<Retired>;
    return *list;
}
constexpr size_t RETIRED_KEPT = 24;

void retire_series_frame(SeriesFrame* f) {
    if (f->prev) f->prev->next = f->next;
    else memory.first_series_frame = f->next;
    if (f->next) f->next->prev = f->prev;
    else memory.last_series_frame = f->prev;
    uint8_t* base = reinterpret_cast<uint8_t*>(f) - OS_FRAME_PREFIX;
    size_t rounded = *reinterpret_cast<uint64_t*>(base);
    memory.total -= rounded;
    memory_unpoison(base, rounded);
    platform::virtual_decommit(base, rounded);
    auto& list = retired_frames();
    list.push_back(Retired{base, rounded});
    if (list.size() > RETIRED_KEPT) {
        platform::virtual_free(list.front().base, list.front().size);
        list.erase(list.begin());
    }
}
} // namespace

void series_frames_relocate_all() {
    std::vector<SeriesFrame*> old;
    for (SeriesFrame* f = memory.first_series_frame; f; f = f->next) old.push_back(f);
    memory.current_series_frame = nullptr;
    // New frames of the same sizes, so the copies always fit.
    std::vector<SeriesFrame*> fresh;
    for (SeriesFrame* f : old) {
        uint32_t saved = memory.next_series_frame_size;
        memory.next_series_frame_size = uint32_t(f->size - sizeof(SeriesFrame));
        fresh.push_back(series_frame_make());
        memory.next_series_frame_size = saved;
    }
    for (size_t i = 0; i < old.size(); i++) {
        SeriesFrame* f = old[i];
        SeriesFrame* g = fresh[i];
        for (uint8_t* p = f->first(); p < f->free;) {
            auto* b = reinterpret_cast<SeriesBuffer*>(p);
            size_t len = b->size + SERIES_OVERHEAD;
            if (b->node && (b->flags & SERIES_IN_USE) && node_buffer(b->node) == b) {
                std::memcpy(g->free, p, len);
                set_node_buffer(b->node, reinterpret_cast<SeriesBuffer*>(g->free));
                g->free += len;
            }
            p += len;
        }
    }
    for (SeriesFrame* f : old) retire_series_frame(f);
    for (SeriesFrame* g : fresh) memory_poison(g->free, size_t(g->end - g->free));
    memory.current_series_frame = memory.first_series_frame;
}

void memory_free_all() {
    while (memory.first_node_frame) node_frame_release(memory.first_node_frame);
    while (memory.first_series_frame) series_frame_release(memory.first_series_frame);
    while (memory.big_frames) {
        BigFrame* f = memory.big_frames;
        memory.big_frames = f->next;
        os_frame_free(f);
    }
    memory.last_big_frame = nullptr;
    memory.current_node_frame = nullptr;
    memory.current_series_frame = nullptr;
    memory.next_series_frame_size = memory.initial_series_frame_size;
}

} // namespace kem
