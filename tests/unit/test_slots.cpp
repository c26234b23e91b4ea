#include <gtest/gtest.h>
#include "runtime/core/memory.h"
#include "runtime/core/slots.h"

using namespace kem;

namespace {

class SlotTable : public ::testing::Test {
protected:
    void SetUp() override {
        memory_init();
        slots_init();
    }
};

Cell string_value(uint32_t n) {
    Cell c;
    make_series(&c, TYPE_STRING, 1000 + n, n);
    return c;
}

} // namespace

TEST_F(SlotTable, InitChainsEveryCellFromIndexZero) {
    Cell* t = slots_table();
    ASSERT_TRUE(is_type(t, TYPE_BLOCK));
    EXPECT_EQ(series_index(t), 0u);
    SeriesBuffer* b = node_buffer(series_node(t));
    EXPECT_EQ(slots_capacity(), 100u);
    EXPECT_EQ(b->used(), 100u * 16);  // the tail sits at the end of the capacity
    for (uint32_t n = 1; n <= 100; n++) {
        const Cell* c = slots_get(n);
        ASSERT_TRUE(is_type(c, TYPE_INTEGER)) << n;
        EXPECT_EQ(cell_int(c), n < 100 ? int32_t(n) : -1) << n;
    }
}

TEST_F(SlotTable, StoringPastCapacityDoublesAndKeepsNumbers) {
    NodeId node = series_node(slots_table());
    for (uint32_t n = 1; n <= 101; n++) {
        Cell v = string_value(n);
        ASSERT_EQ(slots_store(&v), n);
    }
    EXPECT_EQ(slots_capacity(), 200u);
    EXPECT_EQ(series_node(slots_table()), node);  // same node, bigger buffer
    EXPECT_EQ(node_buffer(node)->used(), 200u * 16);
    for (uint32_t n = 1; n <= 101; n++) {
        const Cell* c = slots_get(n);
        ASSERT_TRUE(is_type(c, TYPE_STRING)) << n;
        EXPECT_EQ(series_node(c), 1000 + n);
        EXPECT_EQ(series_index(c), n);
    }
    // The new half is free, in order, up to the end of the new capacity.
    for (uint32_t n = 102; n <= 200; n++) {
        Cell v = string_value(n);
        ASSERT_EQ(slots_store(&v), n);
    }
    EXPECT_EQ(slots_capacity(), 200u);
    EXPECT_TRUE(is_type(slots_get(1), TYPE_STRING));
}

TEST_F(SlotTable, FreedSlotIsReusedFirst) {
    Cell v = string_value(1);
    for (int i = 0; i < 5; i++) slots_store(&v);
    slots_free(2);
    slots_free(4);
    EXPECT_TRUE(is_type(slots_get(4), TYPE_INTEGER));
    EXPECT_EQ(cell_int(slots_get(4)), 1);  // links to the slot freed before it
    EXPECT_EQ(slots_store(&v), 4u);
    EXPECT_EQ(slots_store(&v), 2u);
    EXPECT_EQ(slots_store(&v), 6u);
}

TEST_F(SlotTable, BadNumbersAndRepeatedFreesChangeNothing) {
    Cell v;
    make_integer(&v, 77);  // stored integers must not be taken for free slots
    EXPECT_EQ(slots_store(&v), 1u);
    EXPECT_EQ(slots_store(&v), 2u);
    EXPECT_EQ(slots_get(0), nullptr);
    EXPECT_EQ(slots_get(101), nullptr);
    slots_free(0);
    slots_free(101);
    slots_free(1);
    slots_free(1);
    EXPECT_EQ(slots_store(&v), 1u);
    // Slot 1 only once; the rest of the chain is intact up to the capacity.
    for (uint32_t n = 3; n <= 100; n++) ASSERT_EQ(slots_store(&v), n);
    EXPECT_EQ(slots_capacity(), 100u);
    EXPECT_EQ(slots_store(&v), 101u);
    EXPECT_EQ(cell_int(slots_get(2)), 77);
}

TEST_F(SlotTable, StoringAValueFromTheTableItselfSurvivesGrowth) {
    Cell v = string_value(9);
    for (int i = 0; i < 100; i++) slots_store(&v);
    // The table is full: this store moves the buffer the argument points into.
    EXPECT_EQ(slots_store(slots_get(1)), 101u);
    const Cell* c = slots_get(101);
    EXPECT_TRUE(is_type(c, TYPE_STRING));
    EXPECT_EQ(series_node(c), 1009u);
}
