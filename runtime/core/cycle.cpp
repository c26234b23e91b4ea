#include "runtime/core/cycle.h"
#include <cstdlib>
#include "runtime/core/errors.h"
#include "runtime/platform/exit.h"

namespace kem {

namespace {
// Entries bottom[0] .. bottom[top - 1] are open; top == CYCLE_CAPACITY never
// survives a push.
NodeId* bottom = nullptr;
uint32_t top = 0;

const char* placeholder(uint8_t type, bool mold) {
    if (!mold) return "...";
    switch (type) {
    case TYPE_BLOCK:
    case TYPE_HASH: return "[...]";
    case TYPE_PAREN: return "(...)";
    case TYPE_MAP: return "#[...]";
    // error! and port! are objects and mold through the object code.
    case TYPE_OBJECT:
    case TYPE_ERROR:
    case TYPE_PORT: return "make object! [...]";
    default: return "...";
    }
}
} // namespace

void cycle_init() {
    if (!bottom) {
        bottom = static_cast<NodeId*>(std::malloc(sizeof(NodeId) * CYCLE_CAPACITY));
        if (!bottom) report_runtime_error(94, __builtin_return_address(0));
        register_heap_block(bottom);
    }
    top = 0;
}

void cycle_push(NodeId node) {
    bottom[top++] = node;
    if (top == CYCLE_CAPACITY) {
        top = 0;
        fire(Err::internal_too_deep);
    }
}

void cycle_pop() {
    if (top > 0) top--;
}

void cycle_drop(uint32_t n) { top = n < top ? top - n : 0; }

void cycle_reset() { top = 0; }

bool cycle_find(NodeId node) {
    for (uint32_t i = 0; i < top; i++)
        if (bottom[i] == node) return true;
    return false;
}

uint32_t cycle_depth() { return top; }

void cycle_cut(uint32_t depth) {
    if (depth < top) top = depth;
}

void cycle_relocate(NodeId (*map)(NodeId)) {
    for (uint32_t i = 0; i < top; i++)
        if (bottom[i]) bottom[i] = map(bottom[i]);
}

const char* cycle_placeholder(const Cell* value, bool mold) {
    return cycle_find(cycle_node_of(value)) ? placeholder(type_of(value), mold) : nullptr;
}

} // namespace kem
