#include "runtime/collector/collector.h"
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>
#include "runtime/core/cycle.h"
#include "runtime/core/handles.h"
#include "runtime/core/slots.h"
#include "runtime/core/stack.h"
#include "runtime/platform/thread.h"
#include "runtime/services/hashtable.h"

namespace kem {

namespace collector {

Stats stats;
uint32_t stress_period = 1;
uint32_t stress_tick = 0;

namespace {

constexpr uint32_t MAX_CALLBACKS = 100;
void (*callbacks[MAX_CALLBACKS])() = {};
uint32_t callback_count = 0;

// Buffers of cells marked but not yet scanned: marking is iterative, so a
// deeply nested value cannot exhaust the machine stack.
std::vector<NodeId>& gray() {
    static auto* list = new std::vector<NodeId>;
    return *list;
}
std::vector<NodeId>& freed_queue() {
    static auto* list = new std::vector<NodeId>;
    return *list;
}

// The mark row of each type id; types that hold no node stay MK_NONE.
MarkKind mark_rows[256] = {};
void (*image_mark_hook)(NodeId) = nullptr;

// Roots registered by the layers above.
struct LayerRoot {
    const char* name;
    void (*mark)();
    void (*sweep)();
};
constexpr uint32_t MAX_LAYER_ROOTS = 32;
LayerRoot layer_roots[MAX_LAYER_ROOTS] = {};
uint32_t layer_root_count = 0;
bool started = false;

constexpr uint32_t EVENT_HOLDS_CELLS = 0x1000;

// A node frame with fewer used nodes than this may be emptied; one
// collection moves at most so many nodes.
constexpr uint32_t EVACUATE_BELOW = 5000;
constexpr uint32_t MOVES_PER_COLLECTION = 20000;

// Where marking is, for the report of a value that names a dead node.
const char* marking_root = "";
NodeId scanning = 0;
bool stack_scan = false;

#ifdef KEM_ASAN
[[noreturn]] void bad_node(NodeId n) {
    std::fprintf(stderr, "collector: a value names node %u, which is not in use (root %s, in node %u)\n", n,
                 marking_root, scanning);
    std::abort();
}
#endif

// Node relocation: while a collection that evacuated node frames runs, the
// old id of every moved node maps to its new one. The old slots still name
// their buffers until the frames are released, so an old id read during the
// collection stays sound; every reference marking reaches is rewritten.
IntTable* relocation = nullptr;

inline NodeId relocated(NodeId n) {
    const uint32_t* to = int_table_get(relocation, n);
    return to ? *to : n;
}

// Marks a node's buffer, first rewriting the slot when the node moved; true
// when the buffer was not marked before.
inline bool mark_buffer(uint32_t* slot) {
    NodeId n = *slot;
    if (n == 0) return false;
    const NodeFrame* f = node_frame_of(n);
    if (!f || !f->owns(n) || node_is_free(n)) [[unlikely]] {
#ifdef KEM_ASAN
        // A cell just above a native's pushes may be left from an earlier
        // value; anywhere else this is a value that outlived its node.
        if (!stack_scan) bad_node(n);
        return false;
#else
        return false;
#endif
    }
    if (f->condemned) [[unlikely]] {
        n = relocated(n);
        *slot = n;
    }
    SeriesBuffer* b = node_buffer(n);
    if (!b) return false;
    if (b->flags & SERIES_MARK) return false;
    b->flags |= SERIES_MARK;
    // Side buffers never outlive a collection: nothing marks them, so they
    // are freed, and what they cached is derived again on the next use.
    b->side = 0;
    return true;
}

inline void mark_cells_of(uint32_t* slot) {
    if (mark_buffer(slot)) gray().push_back(*slot);
}

const HashMarker table_marker{
    [](uint32_t* s) { return mark_buffer(s); },
    [](NodeId n) { gray().push_back(n); },
};

void mark_table_slot(uint32_t* slot) {
    if (*slot) hash_mark(slot, table_marker);
}

// What a payload word names.
enum class Ref : uint8_t { bytes, cells, table, image };

// Calls visit(slot, kind) for each payload word of the cell that names a
// node, by the mark row of its type; handle entries go to handle(index).
template <typename Visit, typename Handle>
[[gnu::always_inline]] inline void each_reference(Cell* c, Visit&& visit, Handle&& handle) {
    switch (mark_rows[type_of(c)]) {
    case MK_NONE: break;
    case MK_CELLS2: visit(&c->data2, Ref::cells); break;
    case MK_BYTES2: visit(&c->data2, Ref::bytes); break;
    case MK_IMAGE: visit(&c->data2, Ref::image); break;
    case MK_SYMBOL:
        visit(&c->data3, Ref::bytes);
        visit(&c->data2, Ref::bytes);
        break;
    case MK_CONTEXT:
        visit(&c->data1, Ref::table);
        if (!(c->header & CONTEXT_VALUES_ON_STACK)) visit(&c->data2, Ref::cells);
        break;
    case MK_WORD: visit(&c->data1, Ref::cells); break;
    case MK_OP:
        if (((c->header >> 16) & 0xFF) == TYPE_FUNCTION || ((c->header >> 16) & 0xFF) == TYPE_ROUTINE)
            visit(&c->data1, Ref::cells);
        visit(&c->data2, Ref::cells);
        visit(&c->data3, Ref::cells);
        break;
    case MK_FUNCTION: visit(&c->data1, Ref::cells); [[fallthrough]];
    case MK_NATIVE:
        visit(&c->data2, Ref::cells);
        visit(&c->data3, Ref::cells);
        break;
    case MK_OBJECT:
        visit(&c->data1, Ref::cells);
        visit(&c->data3, Ref::cells);
        break;
    case MK_MAP:
        visit(&c->data2, Ref::cells);
        visit(&c->data3, Ref::table);
        break;
    case MK_HANDLE:
        if (int32_t(c->data3) >= 0) handle(int32_t(c->data3));
        break;
    case MK_EVENT:
        if (c->header & EVENT_HOLDS_CELLS) visit(&c->data2, Ref::cells);
        break;
    }
}

// Cells are marked in place: a reference to a moved node is rewritten there.
// Cells handed in as const (the roots of other layers) live in writable
// memory all the same; only such a reference is ever written.
void mark_cell(const Cell* cell) {
    each_reference(
        const_cast<Cell*>(cell),
        [](uint32_t* slot, Ref kind) __attribute__((always_inline)) {
            switch (kind) {
            case Ref::bytes: mark_buffer(slot); break;
            case Ref::cells: mark_cells_of(slot); break;
            case Ref::table: mark_table_slot(slot); break;
            case Ref::image:
                if (mark_buffer(slot) && image_mark_hook) image_mark_hook(*slot);
                break;
            }
        },
        [](int32_t index) { handle_mark(index, 0); });
}

inline void forward_slot(uint32_t* slot) {
    if (!relocation || *slot == 0) return;
    const NodeFrame* f = node_frame_of(*slot);
    if (f && f->condemned) *slot = relocated(*slot);
}

void drain() {
    auto& list = gray();
    while (!list.empty()) {
        NodeId n = list.back();
        list.pop_back();
        scanning = n;
        SeriesBuffer* b = node_buffer(n);
        if (b->unit() != 16) continue;
        const Cell* end = b->cell_tail();
        for (const Cell* c = b->cell_head(); c < end; c++) mark_cell(c);
    }
    scanning = 0;
}

void mark_frames() {
    for (CallFrame* f = stack::frames_bottom; f < stack::frames_top; f++) {
        mark_cells_of(&f->context);
        if (!f->function_ctx) continue;
        mark_cells_of(&f->function_ctx);
        if (frame_kind(f) == FRAME_FUNCTION && f->saved_values && !context_values_on_stack(f->function_ctx))
            mark_cells_of(&f->saved_values);
    }
}

void mark_roots() {
    marking_root = "root block";
    mark_value(root_block());
    drain();
    marking_root = "stacks";
    if (stack::ready()) {
        mark_buffer(stack::data_buffer_slot());
        mark_buffer(stack::call_buffer_slot());
        stack_scan = true;
        mark_values(stack::bottom, stack::top);
        stack_scan = false;
        mark_frames();
    }
    drain();
    marking_root = "slots";
    mark_value(slots_table());
    hash_mark_globals(table_marker);
    drain();
    for (uint32_t i = 0; i < layer_root_count; i++) {
        marking_root = layer_roots[i].name;
        layer_roots[i].mark();
        drain();
    }
    marking_root = "callbacks";
    for (uint32_t i = 0; i < callback_count; i++) {
        if (callbacks[i]) callbacks[i]();
        drain();
    }
    marking_root = "C++ roots";
    for (uint32_t i = 0; i < root_entry_top; i++) {
        const RootEntry& e = root_entries[i];
        if (e.count == ROOT_NODE) mark_cells_of(static_cast<NodeId*>(e.address));
        else mark_values(static_cast<Cell*>(e.address), static_cast<Cell*>(e.address) + e.count);
    }
    drain();
}

void queue_node(NodeId n) { freed_queue().push_back(n); }

void free_queued_nodes() {
    auto& queue = freed_queue();
    stats.freed_nodes = uint32_t(queue.size());
    for (NodeId n : queue) {
        NodeFrame* f = node_frame_of(n);
        if (!f || node_is_free(n)) continue;
#ifdef KEM_GC_STRESS
        // Never reused here: a stale node id then names an unusable address
        // (the tag reads as a free node). The frame counts it gone, so frames
        // still empty out and grow sparse enough to be evacuated.
        node_slots[n] = 0xDEAD0001;
        f->used--;
        f->spent++;
#else
        node_free(f, n);
#endif
    }
    queue.clear();
}

// --- node-frame evacuation ----------------------------------------------------

void note_move(NodeId from, NodeId to) { int_table_put(relocation, from, to); }

// Whether a frame is worth emptying: few of its nodes used, settled over the
// last collections (so a burst of short lives does not make nodes move back
// and forth, and nodes just moved in stay a while), not held back after the
// machine stack named it, and not the frame being filled. A frame left empty
// goes back after the collection anyway.
bool evacuation_candidate(const NodeFrame* f) {
    if (f == memory.current_node_frame || f->condemned || f->fixed || f->hold || f->used == 0 ||
        f->used >= EVACUATE_BELOW)
        return false;
    const uint32_t settled = (stats.stability + 1 >= 32) ? 0xFFFFFFFFu : (1u << (stats.stability + 1)) - 1;
    return (f->stability & settled) == settled;
}

// C++ code may keep node ids, and cells naming nodes, in its locals across a
// safe point, as long as the values live elsewhere too: such a local is no
// root and marking cannot rewrite it. So a frame is not emptied while the
// machine stack names one of its used nodes: the stack is read word by word
// (the registers spilled onto it first). A word that only looks like such an
// id keeps a frame in place; this decides only what stays where it is, never
// what lives.
[[gnu::noinline, gnu::no_sanitize_address]] void spare_frames_named_from(uintptr_t top) {
    volatile uint32_t here = 0;
    const auto* p = reinterpret_cast<const uint32_t*>(reinterpret_cast<uintptr_t>(&here) & ~uintptr_t(3));
    const auto* end = reinterpret_cast<const uint32_t*>(top);
    for (; p < end; p++) {
        const NodeId n = *p;
        NodeFrame* f = node_frame_of(n);
        if (f && f->condemned && f->owns(n) && !node_is_free(n)) f->condemned = 0;
    }
}

[[gnu::noinline]] void spare_frames_the_stack_names() {
    __builtin_unwind_init();
    spare_frames_named_from(platform::machine_stack_top());
}

// A frame the stack kept in place waits before it is tried again, twice as
// long each time, so that a long-lived local does not cost a reading of the
// stack at every collection.
void hold_back(NodeFrame* f) {
    f->hold = (stats.stability + 1) << (f->pins < 8 ? f->pins : 8);
    f->pins++;
}

// The sparsest candidates worth emptying: their live nodes must fit in the
// free nodes of the frames that stay (the denser candidates among them) and
// in fewer new frames than are emptied, so every evacuation returns frames,
// and at most MOVES_PER_COLLECTION nodes move at once.
uint32_t choose_frames(std::vector<NodeFrame*>& sparse) {
    int64_t room = 0;
    for (NodeFrame* f = memory.first_node_frame; f; f = f->next) {
        if (f->condemned) continue;
        room += f->free_count();
        if (evacuation_candidate(f)) sparse.push_back(f);
    }
    std::sort(sparse.begin(), sparse.end(), [](const NodeFrame* a, const NodeFrame* b) { return a->used < b->used; });
    int64_t moves = 0, best_gain = 0;
    uint32_t best = 0;
    for (uint32_t k = 0; k < sparse.size(); k++) {
        moves += sparse[k]->used;
        room -= sparse[k]->free_count();
        if (moves > int64_t(MOVES_PER_COLLECTION)) break;
        const int64_t made = moves > room ? (moves - room + NODES_PER_FRAME - 1) / NODES_PER_FRAME : 0;
        if (int64_t(k + 1) - made > best_gain) {
            best_gain = int64_t(k + 1) - made;
            best = k + 1;
        }
    }
    sparse.resize(best);
    return best;
}

// Empties sparse, settled node frames into the others; the frames are
// released once the collection is over. Frames are chosen first, so no node
// moves into a frame that is itself being emptied.
bool evacuate_node_frames() {
    if (!platform::machine_stack_top()) return false;
    // The frame being filled stays: moved nodes go there first.
    if (!memory.current_node_frame || memory.current_node_frame->free_head == 0)
        for (NodeFrame* f = memory.first_node_frame; f; f = f->next)
            if (f->free_head != 0 && !f->condemned) {
                memory.current_node_frame = f;
                break;
            }
    std::vector<NodeFrame*> chosen;
    if (!choose_frames(chosen)) return false;
    for (NodeFrame* f : chosen) f->condemned = 1;
    spare_frames_the_stack_names();
    uint32_t moves = 0;
    std::erase_if(chosen, [&moves](NodeFrame* f) {
        if (f->condemned) {
            moves += f->used;
            return false;
        }
        hold_back(f);
        return true;
    });
    if (chosen.empty()) return false;
    relocation = int_table_make(moves);
    for (NodeFrame* f : chosen) node_frame_evacuate(f, note_move);
    return true;
}

} // namespace

void init_stats() {
    stats = Stats{};
#ifdef KEM_GC_STRESS
    if (const char* p = std::getenv("KEM_GC_PERIOD")) stress_period = uint32_t(std::strtoul(p, nullptr, 10));
#endif
}

void set_active(bool on) { collector_switch.active = on; }

void set_mark_kind(uint8_t type, MarkKind kind) { mark_rows[type] = kind; }
void set_image_mark_hook(void (*hook)(NodeId record)) { image_mark_hook = hook; }

void add_layer_root(const char* name, void (*mark)(), void (*sweep)()) {
    for (uint32_t i = 0; i < layer_root_count; i++)
        if (layer_roots[i].mark == mark) return;
    if (layer_root_count == MAX_LAYER_ROOTS) {
        std::fprintf(stderr, "collector: more than %u layer roots\n", MAX_LAYER_ROOTS);
        std::abort();
    }
    layer_roots[layer_root_count++] = LayerRoot{name, mark, sweep};
}

void start() { started = true; }

bool mark_node(uint32_t* slot) { return mark_buffer(slot); }

void mark_block_node(uint32_t* slot) { mark_cells_of(slot); }

void mark_context(uint32_t* slot) { mark_cells_of(slot); }

void mark_values(const Cell* first, const Cell* end) {
    for (const Cell* c = first; c < end; c++) mark_cell(c);
}

void mark_table(NodeId* table) { mark_table_slot(table); }

bool nodes_moved() { return relocation != nullptr; }

void forward_node(NodeId* slot) { forward_slot(slot); }

NodeId forwarded(NodeId node) {
    forward_slot(&node);
    return node;
}

void forward_values(Cell* first, Cell* end) {
    if (!relocation) return;
    for (Cell* c = first; c < end; c++)
        each_reference(c, [](uint32_t* slot, Ref) { forward_slot(slot); }, [](int32_t) {});
}

bool add_root(void (*callback)()) {
    for (uint32_t i = 0; i < callback_count; i++)
        if (!callbacks[i]) {
            callbacks[i] = callback;
            return true;
        }
    if (callback_count == MAX_CALLBACKS) return false;
    callbacks[callback_count++] = callback;
    return true;
}

void remove_root(void (*callback)()) {
    for (uint32_t i = 0; i < callback_count; i++)
        if (callbacks[i] == callback) callbacks[i] = nullptr;
}

void collect() {
    if (collector_switch.running || !memory_ready() || !started) return;
    collector_switch.requested = false;
    collector_switch.running = true;

    const bool moved = node_evacuation.enabled && evacuate_node_frames();
    mark_roots();
    for (uint32_t i = 0; i < layer_root_count; i++)
        if (layer_roots[i].sweep) layer_roots[i].sweep();
    if (moved) cycle_relocate(forwarded);
    handle_sweep();
    uint64_t freed = 0;
    uint64_t live = series_frames_compact(queue_node, &freed);
    big_frames_sweep(queue_node);
    live += heap_series_sweep(queue_node);
    free_queued_nodes();
    node_frames_after_collection();
    if (moved) {
        int_table_free(relocation);
        relocation = nullptr;
        stats.nodes_cycles++;
        node_evacuation.count++;
    }
#ifdef KEM_GC_STRESS
    series_frames_relocate_all();
#endif
    for (BigFrame* f = memory.big_frames; f; f = f->next) live += f->buffer()->size + SERIES_OVERHEAD;
    uint64_t nodes = 0;
    for (NodeFrame* f = memory.first_node_frame; f; f = f->next) nodes += f->used;
    stats.freed_bytes = freed;
    stats.live_bytes = live;
    // What survived, of every kind that counts toward the budget.
    set_budget_after_collection(live + nodes * NODE_BYTES + memory.external);

    stats.cycles++;
    collector_switch.count++;
    advance_cache_epoch();
    collector_switch.requested = false;
    collector_switch.running = false;
}

void collect_if_enabled() {
    if (collector_switch.active) collect();
    else collector_switch.requested = false;
}

} // namespace collector
} // namespace kem
