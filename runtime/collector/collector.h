// The garbage collector: stop-the-world mark and compact.
//
// Marking starts from the roots (the root block, the stacks and their frames,
// the slot table, the C++ roots of roots.h, the roots each layer above
// registers, such as the symbol table and the global context, and the
// callbacks of add_root) and follows every value by the mark row of its
// datatype, which the datatype's module registers. Series frames are then
// compacted so their free space is contiguous at the end; big frames, heap
// series and external handles are swept; dead nodes return to their frames'
// free lists. The collector includes no datatype: it knows them only by
// their mark rows.
//
// Buffers move without their node ids changing: only the node slots are
// rewritten. Nodes move too, seldom: a node frame that has stayed sparse over
// several collections is emptied at the start of one (its nodes get new ids in
// other frames) and released after it; marking rewrites every reference it
// reaches to a moved node, so everything that keeps node ids across a safe
// point must be reached by marking: cells (on the stacks, in buffers, in C++
// roots), call frames, RootedNode slots, the node ids of the layer roots, hash
// tables. Tables keyed by node id re-index at their next use; side tables of
// the layers above drop or forward their ids from their layer root.
// Allocation never collects: it counts what it takes (memory.h) and asks for a
// collection once the budget is spent, and the next safe point of the
// evaluator or of the parse engine's steps (or `recycle`) runs it.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/core/roots.h"

namespace kem::collector {

struct Stats {
    uint32_t cycles = 0;         // collections so far
    uint32_t nodes_cycles = 0;   // collections that evacuated node frames
    uint64_t freed_bytes = 0;    // series bytes reclaimed by the last collection
    uint32_t freed_nodes = 0;    // nodes freed by the last collection
    uint64_t live_bytes = 0;     // series bytes in use after the last collection
    // Collections over which a node frame's used count must have stayed the
    // same, plus one, before it is emptied.
    uint32_t stability = 5;
};
extern Stats stats;

void init_stats();

// How a datatype's payload refers to memory: its mark row.
enum MarkKind : uint8_t {
    MK_NONE,
    MK_CELLS2,      // word 2: a node of cells (block kinds)
    MK_BYTES2,      // word 2: a node of data (strings, binary, bitset, vector)
    MK_SYMBOL,      // word 3: the name; word 2: the cached string
    MK_CONTEXT,     // word 1: the word table; word 2: the values unless on the stack
    MK_WORD,        // word 1: the context
    MK_NATIVE,      // words 2 and 3: spec and extras
    MK_OP,          // as native, and word 1 when it wraps a function or routine
    MK_FUNCTION,    // word 1: the context; words 2 and 3: spec and extras
    MK_OBJECT,      // word 1: the context; word 3: the on-set block
    MK_MAP,         // word 2: the storage; word 3: the hash table
    MK_HANDLE,      // word 3: a handle table entry when not negative
    MK_IMAGE,       // word 2: the record, then the image mark hook
    MK_EVENT,       // word 2: cells, when the header says so
};
// Every datatype whose cells name nodes registers its row with its actions;
// a type without one holds no node.
void set_mark_kind(uint8_t type, MarkKind kind);
// MK_IMAGE: called once a collection with each image record node it marks,
// for what the record names outside the series frames.
void set_image_mark_hook(void (*hook)(NodeId record));

// Roots a layer above the collector keeps (the symbol table, the global
// context, the lexer's buffers ...): `mark` runs at every collection, after
// the core's roots; `sweep`, when given, runs once marking is done, for a
// table whose entries die with what they name. `name` tells a dead node's
// report where marking was. Registering the same mark function again does
// nothing.
//
// This is also where a side table of a layer (caches keyed by node id, call
// shapes, decoded code) learns of a collection: its `mark` either drops the
// table, or keeps it and passes each node id it holds through forward_node
// (or its cells through forward_values) so that ids of moved nodes are
// rewritten; nodes_moved() tells whether any moved. What the table takes
// from the heap until then counts toward the budget through note_allocation
// (memory.h).
void add_layer_root(const char* name, void (*mark)(), void (*sweep)() = nullptr);

// Collections run once start-up has every layer's roots registered.
void start();

// One full collection (runs whether or not the collector is enabled).
void collect();
// A collection when the collector is enabled.
void collect_if_enabled();
inline bool running() { return collector_switch.running; }
inline bool active() { return collector_switch.active; }
void set_active(bool on);

// Marking, for the marking callbacks of other modules. Each rewrites the
// slot (or the cells) it is given when the node named there moved, so it must
// be given the place that keeps the id, never a copy. mark_node tells whether
// the node's buffer was newly marked; the others mark through to the cells.
bool mark_node(uint32_t* slot);
void mark_block_node(uint32_t* slot);
void mark_context(uint32_t* slot);
void mark_values(const Cell* first, const Cell* end);
// A hash table made by hash_make: its buffers and the cells of its key block.
void mark_table(NodeId* table);
inline void mark_value(const Cell* c) { mark_values(c, c + 1); }

// During a collection (in layer roots' mark and sweep): whether it moved
// nodes; an id's new value (the id itself when its node did not move); the
// same rewriting done in place, without marking anything.
bool nodes_moved();
NodeId forwarded(NodeId node);
void forward_node(NodeId* slot);
void forward_values(Cell* first, Cell* end);

// Callbacks called during marking, after the built-in roots (at most 100).
bool add_root(void (*callback)());
void remove_root(void (*callback)());

// --- safe points -----------------------------------------------------------

// The GC-stress build requests a collection every `stress_period` safe points
// (KEM_GC_PERIOD from the environment, 1 when unset; 0 turns it off).
extern uint32_t stress_period;
extern uint32_t stress_tick;

// A collection when one has been requested; answers whether one ran, after
// which buffers may have moved.
inline bool collect_if_due() {
    if (collector_switch.requested) [[unlikely]] {
        const uint32_t before = collector_switch.count;
        collect_if_enabled();
        return collector_switch.count != before;
    }
    return false;
}

// The evaluator calls this between expressions: every live value is then on
// the data stack, in a frame, in a context or in a root. Answers as
// collect_if_due.
inline bool safe_point() {
#ifdef KEM_GC_STRESS
    if (stress_period && ++stress_tick >= stress_period && collector_switch.active) {
        stress_tick = 0;
        collector_switch.requested = true;
    }
#endif
    return collect_if_due();
}

} // namespace kem::collector
