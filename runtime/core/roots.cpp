#include "runtime/core/roots.h"
#include <cstdlib>

namespace kem {

RootEntry* root_entries = nullptr;
uint32_t root_entry_top = 0;
uint32_t root_entry_capacity = 0;

namespace {
constexpr uint32_t ROOT_BLOCK_CELLS = 8697;
Cell root = {TYPE_NONE, 0, 0, 0};
} // namespace

Cell* root_block() { return &root; }

void root_block_init() {
    if (is_type(&root, TYPE_BLOCK)) return;
    make_series(&root, TYPE_BLOCK, alloc_heap_series(ROOT_BLOCK_CELLS, 16, 0));
}

void grow_root_entries() {
    uint32_t n = root_entry_capacity ? root_entry_capacity * 2 : 1024;
    void* p = std::realloc(root_entries, size_t(n) * sizeof(RootEntry));
    if (!p) std::abort();
    root_entries = static_cast<RootEntry*>(p);
    root_entry_capacity = n;
}

} // namespace kem
