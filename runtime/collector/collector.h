// The garbage collector: stop-the-world mark and compact.
//
// Marking starts from the roots (the root block, the stacks and their frames,
// the symbol and ownership tables, the global context, registered callbacks
// and the C++ roots below) and follows every value by its datatype. Series
// frames are then compacted so their free space is contiguous at the end;
// big frames, heap series and external handles are swept; dead nodes return
// to their frames' free lists.
//
// Nodes never move (values name them by id), so nothing but the node slots is
// rewritten when buffers move. Allocation never collects: it asks for a
// collection, and the next safe point of the evaluator (or `recycle`) runs it.
// C++ code that keeps a value across a point where Kem code may run roots it
// (RootedCell, RootedNode or a data-stack slot) and re-derives every buffer
// pointer afterwards.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"

namespace kem::collector {

struct Stats {
    uint32_t cycles = 0;         // collections so far
    uint32_t nodes_cycles = 0;   // collections that moved nodes (never: nodes stay put)
    uint64_t freed_bytes = 0;    // series bytes reclaimed by the last collection
    uint32_t freed_nodes = 0;    // nodes freed by the last collection
    uint64_t live_bytes = 0;     // series bytes in use after the last collection
};
extern Stats stats;

void init_stats();

// One full collection (runs whether or not the collector is enabled).
void collect();
// A collection when the collector is enabled.
void collect_if_enabled();
inline bool running() { return collector_switch.running; }
inline bool active() { return collector_switch.active; }
void set_active(bool on);

// Marking, for the marking callbacks of other modules. mark_node tells whether
// the node's buffer was newly marked; the others mark through to the cells.
bool mark_node(uint32_t* slot);
void mark_block_node(uint32_t* slot);
void mark_context(uint32_t* slot);
void mark_values(const Cell* first, const Cell* end);
inline void mark_value(const Cell* c) { mark_values(c, c + 1); }

// Callbacks called during marking, after the built-in roots (at most 100).
bool add_root(void (*callback)());
void remove_root(void (*callback)());

// Queues a node for freeing at the end of the collection (0 is ignored).
void push_address(NodeId node);

// --- safe points -----------------------------------------------------------

// The GC-stress build requests a collection every `stress_period` safe points
// (KEM_GC_PERIOD from the environment, 1 when unset; 0 turns it off).
extern uint32_t stress_period;
extern uint32_t stress_tick;

// The evaluator calls this between expressions: every live value is then on
// the data stack, in a frame, in a context or in a root.
inline void safe_point() {
#ifdef KEM_GC_STRESS
    if (stress_period && ++stress_tick >= stress_period && collector_switch.active) {
        stress_tick = 0;
        collector_switch.requested = true;
    }
#endif
    if (collector_switch.requested) [[unlikely]] collect_if_enabled();
}

} // namespace kem::collector

namespace kem {

// Roots for values that C++ code keeps in its own variables across a safe
// point. They nest strictly (RAII), like the C++ frames that own them.
struct RootEntry {
    void* address;
    uint32_t count;   // cells at address, or ROOT_NODE: one NodeId at address
};
constexpr uint32_t ROOT_NODE = 0xFFFFFFFF;
extern RootEntry* root_entries;
extern uint32_t root_entry_top;
extern uint32_t root_entry_capacity;
void grow_root_entries();

inline void push_root(void* address, uint32_t count) {
    if (root_entry_top == root_entry_capacity) [[unlikely]] grow_root_entries();
    root_entries[root_entry_top++] = RootEntry{address, count};
}

class RootedCells {
public:
    RootedCells(Cell* cells, uint32_t n) : mark_(root_entry_top) { push_root(cells, n); }
    ~RootedCells() { root_entry_top = mark_; }
    RootedCells(const RootedCells&) = delete;
    RootedCells& operator=(const RootedCells&) = delete;

private:
    uint32_t mark_;
};

// A cell the collector marks while this object lives.
class RootedCell : public RootedCells {
public:
    explicit RootedCell(Cell* c) : RootedCells(c, 1) {}
    explicit RootedCell(const Cell* c) : RootedCells(const_cast<Cell*>(c), 1) {}
};

// A node id (with its cells when it holds cells) the collector marks while
// this object lives; 0 is ignored.
class RootedNode {
public:
    explicit RootedNode(NodeId* n) : mark_(root_entry_top) { push_root(n, ROOT_NODE); }
    ~RootedNode() { root_entry_top = mark_; }
    RootedNode(const RootedNode&) = delete;
    RootedNode& operator=(const RootedNode&) = delete;

private:
    uint32_t mark_;
};

// The cells of an error on its way to its catcher, which makes the error's
// value from them: rooted while Kem code runs before it gets there.
class RootedError {
public:
    explicit RootedError(const KemError& e)
        : args_(const_cast<Cell*>(e.args), 3), value_(const_cast<Cell*>(&e.value)) {}

private:
    RootedCells args_;
    RootedCell value_;
};

} // namespace kem
