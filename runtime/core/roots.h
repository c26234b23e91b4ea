// What keeps values alive from outside the value world: the root block and
// the roots C++ code holds across a safe point.
//
// Allocation never collects; a collection runs only at a safe point. C++ code
// that keeps a value across a point where Kem code may run roots it
// (RootedCell, RootedNode or a data-stack slot) and re-derives every buffer
// pointer afterwards.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"

namespace kem {

// The root block: values that live for the whole run. A none! cell until
// root_block_init makes it; it never moves (it lives on the process heap).
Cell* root_block();
void root_block_init();

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
