#include "runtime/collector/collector.h"
#include <cstdio>
#include <cstdlib>
#include <vector>
#include "runtime/core/handles.h"
#include "runtime/core/slots.h"
#include "runtime/core/stack.h"
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

// Marks a node's buffer; true when it was not marked before.
inline bool mark_buffer(NodeId n) {
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
    SeriesBuffer* b = node_buffer(n);
    if (!b) return false;
    if (b->flags & SERIES_MARK) return false;
    b->flags |= SERIES_MARK;
    // Side buffers never outlive a collection: nothing marks them, so they
    // are freed, and what they cached is derived again on the next use.
    b->side = 0;
    return true;
}

inline void mark_cells_of(NodeId n) {
    if (mark_buffer(n)) gray().push_back(n);
}

void mark_table_slot(uint32_t* slot) {
    static const HashMarker marker{
        [](uint32_t* s) { return mark_buffer(*s); },
        [](NodeId n) { gray().push_back(n); },
    };
    if (*slot) hash_mark(slot, marker);
}

void mark_cell(const Cell* c) {
    switch (mark_rows[type_of(c)]) {
    case MK_NONE: break;
    case MK_CELLS2: mark_cells_of(c->data2); break;
    case MK_BYTES2: mark_buffer(c->data2); break;
    case MK_IMAGE:
        if (mark_buffer(c->data2) && image_mark_hook) image_mark_hook(c->data2);
        break;
    case MK_SYMBOL:
        mark_buffer(c->data3);
        mark_buffer(c->data2);
        break;
    case MK_CONTEXT: {
        uint32_t table = c->data1;
        mark_table_slot(&table);
        if (!(c->header & CONTEXT_VALUES_ON_STACK)) mark_cells_of(c->data2);
        break;
    }
    case MK_WORD: mark_cells_of(c->data1); break;
    case MK_OP:
        if (((c->header >> 16) & 0xFF) == TYPE_FUNCTION || ((c->header >> 16) & 0xFF) == TYPE_ROUTINE)
            mark_cells_of(c->data1);
        mark_cells_of(c->data2);
        mark_cells_of(c->data3);
        break;
    case MK_FUNCTION: mark_cells_of(c->data1); [[fallthrough]];
    case MK_NATIVE:
        mark_cells_of(c->data2);
        mark_cells_of(c->data3);
        break;
    case MK_OBJECT:
        mark_cells_of(c->data1);
        mark_cells_of(c->data3);
        break;
    case MK_MAP: {
        mark_cells_of(c->data2);
        uint32_t table = c->data3;
        mark_table_slot(&table);
        break;
    }
    case MK_HANDLE:
        if (int32_t(c->data3) >= 0) handle_mark(int32_t(c->data3), 0);
        break;
    case MK_EVENT:
        if (c->header & EVENT_HOLDS_CELLS) mark_cells_of(c->data2);
        break;
    }
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
    for (const CallFrame* f = stack::frames_bottom; f < stack::frames_top; f++) {
        mark_cells_of(f->context);
        if (!f->function_ctx) continue;
        mark_cells_of(f->function_ctx);
        if (frame_kind(f) == FRAME_FUNCTION && f->saved_values && !context_values_on_stack(f->function_ctx))
            mark_cells_of(f->saved_values);
    }
}

void mark_roots() {
    marking_root = "root block";
    mark_value(root_block());
    drain();
    marking_root = "stacks";
    if (stack::ready()) {
        mark_buffer(stack::data_buffer_node());
        mark_buffer(stack::call_buffer_node());
        stack_scan = true;
        mark_values(stack::bottom, stack::top);
        stack_scan = false;
        mark_frames();
    }
    drain();
    marking_root = "slots";
    mark_value(slots_table());
    static const HashMarker globals_marker{
        [](uint32_t* s) { return mark_buffer(*s); },
        [](NodeId n) { gray().push_back(n); },
    };
    hash_mark_globals(globals_marker);
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
        if (e.count == ROOT_NODE) mark_cells_of(*static_cast<NodeId*>(e.address));
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
        // Never reused here: a stale node id then names an unusable address.
        node_slots[n] = 0xDEAD0001;
#else
        node_free(f, n);
#endif
    }
    queue.clear();
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

bool mark_node(uint32_t* slot) { return mark_buffer(*slot); }

void mark_block_node(uint32_t* slot) { mark_cells_of(*slot); }

void mark_context(uint32_t* slot) { mark_cells_of(*slot); }

void mark_values(const Cell* first, const Cell* end) {
    for (const Cell* c = first; c < end; c++) mark_cell(c);
}

void mark_table(NodeId table) { mark_table_slot(&table); }

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

    mark_roots();
    for (uint32_t i = 0; i < layer_root_count; i++)
        if (layer_roots[i].sweep) layer_roots[i].sweep();
    handle_sweep();
    uint64_t freed = 0;
    uint64_t live = series_frames_compact(queue_node, &freed);
    big_frames_sweep(queue_node);
    live += heap_series_sweep(queue_node);
    free_queued_nodes();
    node_frames_after_collection();
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
    collector_switch.running = false;
}

void collect_if_enabled() {
    if (collector_switch.active) collect();
    else collector_switch.requested = false;
}

} // namespace collector
} // namespace kem
