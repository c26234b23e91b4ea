// The cycle stack: the series and context nodes that recursive walks (mold,
// form, compare, copy, bind) are inside, so a value that contains itself stops
// the walk instead of recursing forever.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"

namespace kem {

// Entries the stack holds; one is never used, so at most 999 values are open.
constexpr uint32_t CYCLE_CAPACITY = 1000;

// Allocates the entry array on the process heap (once; a later call only empties
// the stack). The start-up code calls it before any walk.
void cycle_init();

// The node a walk records for a value: the context node (word 1) of an object
// and its kin, the series node (word 2) of everything else.
inline NodeId cycle_node_of(const Cell* value) {
    switch (type_of(value)) {
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT: return value->data1;
    default: return value->data2;
    }
}

// Raises internal too-deep, after emptying the stack, when the stack fills up.
void cycle_push(NodeId node);
void cycle_pop();                 // never below the bottom
void cycle_drop(uint32_t n);      // never below the bottom
void cycle_reset();
bool cycle_find(NodeId node);
uint32_t cycle_depth();
// Back to `depth` entries; never adds any.
void cycle_cut(uint32_t depth);

// Nodes a walk opens on the cycle stack, taken off again on every way out of
// it. An error caught further up must leave no entry behind: a later walk
// would take the value for one it is inside ("[...]", or no-cycle).
class CycleScope {
public:
    CycleScope() : mark_(cycle_depth()) {}
    explicit CycleScope(NodeId node) : CycleScope() { push(node); }
    ~CycleScope() { cycle_cut(mark_); }
    CycleScope(const CycleScope&) = delete;
    CycleScope& operator=(const CycleScope&) = delete;
    void push(NodeId node) { cycle_push(node); }

private:
    uint32_t mark_;
};

// A container whose values are gathered into something flat: one met again
// inside itself raises internal no-cycle.
class CycleOpen : public CycleScope {
public:
    explicit CycleOpen(NodeId node) {
        if (cycle_find(node)) fire(Err::internal_no_cycle);
        push(node);
    }
};

// After the collector moved nodes: every entry goes through `map`, which gives a
// node's new id (its argument when the node did not move).
void cycle_relocate(NodeId (*map)(NodeId));

// The text that stands for a value met again inside itself ("[...]" and the
// like when molding, "..." when forming); nullptr when its node is not open.
const char* cycle_placeholder(const Cell* value, bool mold);

} // namespace kem
