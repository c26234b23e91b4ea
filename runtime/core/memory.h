// Memory of values: node frames, series frames, big frames and series buffers.
//
// A value never points at a buffer: it names a node (a 32-bit id), and the node
// slot holds the buffer's address, so buffers may move when they grow or when the
// collector compacts a frame. Node slots live in one reserved address range
// indexed by node id; frames of 10000 nodes are committed there on demand.
#pragma once
#include <cstddef>
#include <cstdint>
#include "runtime/core/cell.h"

namespace kem {

using NodeId = uint32_t;

// Series buffer flags.
constexpr uint32_t SERIES_UNIT_MASK = 0x1F;
constexpr uint32_t SERIES_IN_USE = 0x80000000;
constexpr uint32_t SERIES_NEW = 0x20000000;          // set on every allocation
constexpr uint32_t SERIES_HEAD_MIDDLE = 0x10000000;  // head placed in the middle of the data
constexpr uint32_t SERIES_MARK = 0x08000000;         // collector mark
constexpr uint32_t SERIES_BIG = 0x01000000;          // lives alone in a big frame
constexpr uint32_t SERIES_HEAP = 0x00100000;         // lives on the process heap, never moves
constexpr uint32_t SERIES_COMPLEMENT = 0x00080000;   // complemented bitset
constexpr uint32_t SERIES_SYSTEM_CODE = 0x00040000;  // a block of the system's own code (the boot block's)
constexpr uint32_t SERIES_OWNED = 0x00020000;        // series owned by an object

// Head and tail are byte offsets from the data start, so a buffer can move as a
// whole without fixing them up.
struct SeriesBuffer {
    uint32_t flags;
    NodeId node;      // 0 once abandoned by an expansion
    uint32_t size;    // data capacity in bytes, a multiple of 16
    uint32_t head;
    uint32_t tail;
    NodeId side;      // a side buffer derived from the contents (0: none), see series_changed

    uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
    uint8_t* head_ptr() { return data() + head; }
    uint8_t* tail_ptr() { return data() + tail; }
    uint8_t* end_ptr() { return data() + size; }
    Cell* cell_head() { return reinterpret_cast<Cell*>(head_ptr()); }
    Cell* cell_tail() { return reinterpret_cast<Cell*>(tail_ptr()); }
    uint32_t unit() const { return flags & SERIES_UNIT_MASK; }
    uint32_t used() const { return tail - head; }  // in bytes
};
static_assert(sizeof(SeriesBuffer) == 24);
// Raised whenever a raw pointer or node id that a cache keeps may have gone
// stale: at every collection (buffers move, nodes are freed and side buffers
// dropped), whenever a series with a side buffer changes, and whenever a
// context's values grow. A cache filled under one value is trusted only
// while it lasts.
extern uint32_t cache_epoch;
inline void advance_cache_epoch() {
    if (++cache_epoch == 0) cache_epoch = 1;  // 0 stays the mark of an empty cache
}

// A side buffer holds what was derived from a series' contents (the decoded
// form of a block of code). It is an ordinary buffer of bytes, counted like
// any other; the collector drops every side buffer at each collection, and
// any change to the series drops its own: code that changes a series' units
// in place, or moves its buffer, calls this first.
inline void series_changed(SeriesBuffer* b) {
    if (b->side) [[unlikely]] {
        b->side = 0;
        advance_cache_epoch();
    }
}

// A buffer in a series frame takes its header plus its data: the next header
// follows size + SERIES_OVERHEAD bytes after this one.
constexpr uint32_t SERIES_OVERHEAD = sizeof(SeriesBuffer);

constexpr uint32_t NODES_PER_FRAME = 10000;
constexpr uint32_t NODE_FRAME_STRIDE = 10240;   // node ids per frame range, whole pages of slots
constexpr uint32_t MAX_NODE_FRAMES = 32768;
// The fewest node frames start-up settles for when address space is short.
constexpr uint32_t MIN_NODE_FRAMES = 16;

struct NodeFrame {
    NodeFrame* next;
    NodeFrame* prev;
    uint32_t capacity;
    NodeId free_head;          // 0 when every node is used
    uint32_t used;
    uint32_t made_at;          // collection count when made
    uint32_t used_at_last;     // used count at the end of the previous collection
    uint32_t stability;        // history: bit 0 set when the used count did not change
    uint32_t condemned;
    uint32_t spent;            // GC-stress builds: dead nodes never taken again
    uint32_t hold;             // collections left before it may be emptied again
    uint32_t pins;             // times the machine stack kept it from being emptied
    uint32_t fixed;            // holds a node that must never move
    uint32_t index;            // position of its range of node ids
    NodeId first_id() const { return index * NODE_FRAME_STRIDE + 1; }
    bool owns(NodeId n) const { return n >= first_id() && n < first_id() + capacity; }
    // Nodes on its free list.
    uint32_t free_count() const { return capacity - used - spent; }
};

struct SeriesFrame {
    SeriesFrame* next;
    SeriesFrame* prev;
    uint64_t size;     // frame size plus header
    uint8_t* free;     // next unallocated byte
    uint8_t* end;      // just past the frame
    uint64_t reserved;
    uint8_t* first() { return reinterpret_cast<uint8_t*>(this + 1); }
};
static_assert(sizeof(SeriesFrame) % 16 == 0);

struct BigFrame {
    BigFrame* next;
    uint32_t zero;
    uint32_t request;
    SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigFrame) == 16);

struct MemoryState {
    uint64_t total = 0;               // bytes obtained from the OS and still held
    NodeFrame* first_node_frame = nullptr;
    NodeFrame* last_node_frame = nullptr;
    NodeFrame* current_node_frame = nullptr;
    SeriesFrame* first_series_frame = nullptr;
    SeriesFrame* current_series_frame = nullptr;
    SeriesFrame* last_series_frame = nullptr;
    uint32_t initial_series_frame_size = 0x100000;
    uint32_t next_series_frame_size = 0x100000;
    uint32_t big_threshold = 0x200000;   // also the largest series frame size
    BigFrame* big_frames = nullptr;
    BigFrame* last_big_frame = nullptr;
    uint64_t allocated = 0;            // bytes allocated since the last collection, of every kind
    uint64_t budget = 0x800000;        // allocation that makes a collection due
    uint64_t external = 0;             // bytes values hold outside the frames (pixels and the like)
    uint32_t node_frame_limit = 0;     // node frames the reserved range of node slots holds
    // The most bytes one series buffer may take (0: no limit). A fuzz target
    // sets it so one input cannot grow a series past the memory it runs in;
    // a larger request raises no-memory, as a failed allocation does.
    uint64_t series_limit = 0;
};
extern MemoryState memory;

// The collector's switch as the allocator sees it. Allocation never collects:
// where a collection is due it asks for one, and the next safe point runs it.
struct CollectorSwitch {
    bool active = false;
    bool running = false;
    bool requested = false;
    uint32_t count = 0;      // collections so far
};
extern CollectorSwitch collector_switch;
inline void request_collection() {
    if (collector_switch.active) collector_switch.requested = true;
}

// Every allocation that only a collection gives back counts here: series
// buffers (frames, big frames, the process heap), nodes, memory that values
// name outside the frames (image pixels through the handle table), and C++
// side tables that live until the next collection. Once the bytes allocated
// since the last collection reach the budget a collection is requested, so
// when one runs depends on how much was allocated, never on where free room
// happens to be. Code above the core that keeps such tables calls
// note_allocation with their size when it grows them (and drops or rewrites
// them from a collector layer root, see collector.h).
inline void note_allocation(uint64_t bytes) {
    memory.allocated += bytes;
    if (memory.allocated >= memory.budget) [[unlikely]] request_collection();
}
// Memory a value holds outside the frames: counted as allocation when taken,
// and as live until its release callback gives it back.
inline void note_external_alloc(uint64_t bytes) {
    memory.external += bytes;
    note_allocation(bytes);
}
inline void note_external_free(uint64_t bytes) { memory.external -= bytes < memory.external ? bytes : memory.external; }
// The budget after a collection: as much again as what survived, and never
// less than a floor, so a large live heap is not marked over and over for
// little garbage while a small one is still collected often.
constexpr uint64_t BUDGET_FLOOR = 0x800000;
inline void set_budget_after_collection(uint64_t live) {
    memory.allocated = 0;
    memory.budget = live > BUDGET_FLOOR ? live : BUDGET_FLOOR;
}
// What a node costs: its slot.
constexpr uint32_t NODE_BYTES = sizeof(uintptr_t);

// Node slots: a used node holds its buffer's address (8-aligned, 0 until set);
// a free node holds (next free id << 1) | 1, the tag telling them apart.
extern uintptr_t* node_slots;
inline SeriesBuffer* node_buffer(NodeId n) { return reinterpret_cast<SeriesBuffer*>(node_slots[n]); }
inline void set_node_buffer(NodeId n, SeriesBuffer* b) { node_slots[n] = reinterpret_cast<uintptr_t>(b); }
inline bool node_is_free(NodeId n) { return (node_slots[n] & 1) != 0; }
NodeFrame* node_frame_of(NodeId n);

void memory_init();
bool memory_ready();
void* os_frame_alloc(size_t size, bool executable = false);
void os_frame_free(void* address);

NodeFrame* node_frame_make(uint32_t n);
NodeId alloc_node();
void node_free(NodeFrame* frame, NodeId node);
void node_frame_release(NodeFrame* frame);
// The node's frame is never emptied: for a node whose id C++ code copies
// into places marking does not reach (the global context, which every word
// bound to it names).
void node_keep_in_place(NodeId node);
// Condemns the frame and moves each of its used nodes into a free node of a
// frame that is not condemned; `moved` hears each pair of ids. The old slot
// still names the buffer until the frame is released after the collection,
// but the buffer's node word names the new node.
void node_frame_evacuate(NodeFrame* frame, void (*moved)(NodeId from, NodeId to));

SeriesFrame* series_frame_make();
void series_frame_release(SeriesFrame* frame);

// offset: head offset in bytes, or -1 for the middle of the data.
SeriesBuffer* alloc_series_buffer(uint64_t count, uint32_t unit, int64_t offset);
NodeId alloc_series(uint64_t count, uint32_t unit, int64_t offset);
NodeId alloc_cells(uint32_t n);
NodeId alloc_unset_cells(uint32_t n);
NodeId alloc_bytes(uint32_t n);
NodeId alloc_string_buffer(uint32_t n, uint32_t unit);
NodeId alloc_bytes_filled(uint32_t n, uint8_t byte);
NodeId alloc_heap_series(uint64_t count, uint32_t unit, int64_t offset);
void set_series_flags(NodeId node, uint32_t bits);

// new_size is in bytes, 0 doubling the size; the old buffer is left behind as
// dead space. A smaller size keeps only the used bytes that fit.
SeriesBuffer* expand_series_buffer(SeriesBuffer* b, int64_t new_size);
SeriesBuffer* expand_series(SeriesBuffer* b, int64_t new_size);
SeriesBuffer* expand_series_filled(SeriesBuffer* b, int64_t new_size, uint8_t byte);
NodeId copy_series_buffer(SeriesBuffer* b);

SeriesBuffer* big_frame_alloc(uint64_t size);
void big_frame_free(SeriesBuffer* b);
// After marking: keeps marked big buffers (clearing the mark), releases the
// others and hands their nodes to `free_node` (the collector's queue).
void big_frames_sweep(void (*free_node)(NodeId));
// After a collection: releases empty and condemned node frames, picks the current
// frame and updates each frame's stability history and hold.
void node_frames_after_collection();
// After marking: heap series that are not marked are freed and their nodes
// handed to `free_node`; the marks of the others are cleared. Returns the
// bytes of those kept.
uint64_t heap_series_sweep(void (*free_node)(NodeId));
// After marking: compacts the series frames in address order. Unmarked
// buffers are dead (their nodes go to `free_node`); runs of marked buffers lose
// their marks and move down, into the previous frame's room when it has at
// least 52429 bytes, else within their own frame; each moved buffer's node is
// re-pointed. A frame left empty that is not the last is released. Returns the
// live bytes (headers included); adds the reclaimed bytes to *freed.
uint64_t series_frames_compact(void (*free_node)(NodeId), uint64_t* freed);
// GC-stress builds: copies every live buffer of the series frames into new
// frames and retires the old ones inaccessible for a while, so a raw pointer
// kept across a collection faults at its next use.
void series_frames_relocate_all();
void memory_free_all();

// AddressSanitizer: free space of series frames is poisoned.
#ifdef KEM_ASAN
void memory_poison(const void* p, size_t n);
void memory_unpoison(const void* p, size_t n);
#else
inline void memory_poison(const void*, size_t) {}
inline void memory_unpoison(const void*, size_t) {}
#endif

} // namespace kem
