#include "runtime/core/slots.h"
#include "runtime/core/memory.h"

namespace kem {

namespace {
// A free slot is an integer! cell whose value is the index of the next free
// slot (-1 for the last); free_head is the first (-1 when none).
Cell table{TYPE_NONE, 0, 0, 0};
int32_t free_head = -1;

SeriesBuffer* table_buffer() { return node_buffer(series_node(&table)); }
Cell* cells() { return reinterpret_cast<Cell*>(table_buffer()->data()); }

// Chains every cell from index k to the end of the buffer as free slots.
void chain_from(uint32_t k) {
    SeriesBuffer* b = table_buffer();
    uint32_t cap = b->size / 16;
    Cell* c = reinterpret_cast<Cell*>(b->data());
    for (uint32_t i = k; i < cap; i++) make_integer(&c[i], i + 1 < cap ? static_cast<int32_t>(i + 1) : -1);
    free_head = k < cap ? static_cast<int32_t>(k) : -1;
    b->tail = b->size;
}

bool is_free(int32_t index) {
    for (int32_t i = free_head; i >= 0; i = cell_int(&cells()[i]))
        if (i == index) return true;
    return false;
}
} // namespace

void slots_init() {
    NodeId node = alloc_cells(SLOTS_INITIAL_CAPACITY);
    make_series(&table, TYPE_BLOCK, node);
    chain_from(0);
}

uint32_t slots_store(const Cell* value) {
    // The value may live in the table itself, which growth moves.
    Cell copy = *value;
    if (free_head < 0) {
        SeriesBuffer* b = table_buffer();
        uint32_t old_cap = b->size / 16;
        expand_series(b, int64_t(b->size) * 2);
        chain_from(old_cap);
    }
    int32_t index = free_head;
    Cell* slot = &cells()[index];
    free_head = cell_int(slot);
    *slot = copy;
    return static_cast<uint32_t>(index) + 1;
}

Cell* slots_get(uint32_t number) {
    if (number == 0 || number > slots_capacity()) return nullptr;
    return &cells()[number - 1];
}

void slots_free(uint32_t number) {
    if (number == 0 || number > slots_capacity()) return;
    int32_t index = static_cast<int32_t>(number - 1);
    // A second free of the same slot would loop the free chain.
    if (is_type(&cells()[index], TYPE_INTEGER) && is_free(index)) return;
    make_integer(&cells()[index], free_head);
    free_head = index;
}

Cell* slots_table() { return &table; }

uint32_t slots_capacity() { return is_type(&table, TYPE_BLOCK) ? table_buffer()->size / 16 : 0; }

} // namespace kem
