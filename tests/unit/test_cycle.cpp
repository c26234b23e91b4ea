#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/string.h"

using namespace kem;

namespace {

class CycleStack : public ::testing::Test {
protected:
    void SetUp() override {
        memory_init();
        cycle_init();
    }
    void TearDown() override { cycle_reset(); }
};

NodeId new_string(uint32_t unit, const char* initial) {
    NodeId s = alloc_string_buffer(4, unit);
    SeriesBuffer* b = node_buffer(s);
    size_t n = std::strlen(initial);
    uint8_t* p = alloc_tail_bytes(b, uint32_t(n * unit));
    for (size_t i = 0; i < n; i++) {
        uint32_t cp = static_cast<uint8_t>(initial[i]);
        std::memcpy(p + i * unit, &cp, unit);  // little-endian: low bytes first
    }
    return s;
}

// The string's code units as text; a unit above 0x7F shows as '?'.
std::string text_of(NodeId s) {
    SeriesBuffer* b = node_buffer(s);
    uint32_t unit = b->unit();
    std::string out;
    for (uint32_t off = b->head; off < b->tail; off += unit) {
        uint32_t cp = 0;
        std::memcpy(&cp, b->data() + off, unit);
        out += cp < 0x80 ? char(cp) : '?';
    }
    return out;
}

} // namespace

TEST_F(CycleStack, PushFindPopDropReset) {
    cycle_push(11);
    cycle_push(12);
    cycle_push(13);
    EXPECT_EQ(cycle_depth(), 3u);
    EXPECT_TRUE(cycle_find(11));
    EXPECT_TRUE(cycle_find(13));
    EXPECT_FALSE(cycle_find(14));

    cycle_pop();
    EXPECT_FALSE(cycle_find(13));
    EXPECT_TRUE(cycle_find(12));

    cycle_drop(2);
    EXPECT_EQ(cycle_depth(), 0u);
    EXPECT_FALSE(cycle_find(11));

    // Neither pop nor drop may go below the bottom: a later push must land at
    // the bottom, not before it.
    cycle_pop();
    cycle_drop(5);
    EXPECT_EQ(cycle_depth(), 0u);
    cycle_push(21);
    EXPECT_EQ(cycle_depth(), 1u);
    EXPECT_TRUE(cycle_find(21));

    cycle_push(22);
    cycle_reset();
    EXPECT_EQ(cycle_depth(), 0u);
    EXPECT_FALSE(cycle_find(21));
}

TEST_F(CycleStack, NestingDeeperThan999RaisesTooDeepAndEmpties) {
    for (NodeId n = 1; n <= 999; n++) cycle_push(n);
    EXPECT_EQ(cycle_depth(), 999u);
    EXPECT_TRUE(cycle_find(999));
    try {
        cycle_push(1000);
        FAIL() << "the 1000th open value must raise";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::internal_too_deep);
        EXPECT_EQ(e.argc, 0);
    }
    EXPECT_EQ(cycle_depth(), 0u);
    EXPECT_FALSE(cycle_find(1));
    // Usable again after the overflow.
    cycle_push(5);
    EXPECT_TRUE(cycle_find(5));
}

namespace {
NodeId moved(NodeId n) { return n == 200 ? 7000 : n == 300 ? 9000 : n; }
} // namespace

TEST_F(CycleStack, RelocateKeepsOpenValuesFindable) {
    cycle_push(100);
    cycle_push(200);
    cycle_push(300);
    cycle_relocate(moved);
    EXPECT_TRUE(cycle_find(100));
    EXPECT_TRUE(cycle_find(7000));
    EXPECT_TRUE(cycle_find(9000));
    EXPECT_FALSE(cycle_find(200));
    EXPECT_FALSE(cycle_find(300));
    EXPECT_EQ(cycle_depth(), 3u);
}

TEST_F(CycleStack, MoldCycleWritesPlaceholderInTheStringsWidth) {
    const NodeId open = 4242, closed = 4343;
    struct Case {
        uint8_t type;
        const char* molded;
        const char* formed;
    } cases[] = {
        {TYPE_BLOCK, "[...]", "..."},    {TYPE_HASH, "[...]", "..."},
        {TYPE_PAREN, "(...)", "..."},    {TYPE_MAP, "#[...]", "..."},
        {TYPE_OBJECT, "make object! [...]", "..."},
        {TYPE_PATH, "...", "..."},       {TYPE_LIT_PATH, "...", "..."},
        {TYPE_SET_PATH, "...", "..."},   {TYPE_GET_PATH, "...", "..."},
    };
    cycle_push(open);
    for (const Case& c : cases) {
        for (uint32_t unit : {1u, 2u, 4u}) {
            for (bool mold : {true, false}) {
                SCOPED_TRACE(testing::Message() << "type " << int(c.type) << " unit " << unit << " mold " << mold);
                // An object names its context in word 1; word 2 is its class id,
                // which must not be taken for a node.
                Cell on{}, off{};
                if (c.type == TYPE_OBJECT) {
                    on = Cell{c.type, open, closed, 0};
                    off = Cell{c.type, closed, open, 0};
                } else {
                    make_series(&on, c.type, open);
                    make_series(&off, c.type, closed);
                    off.data1 = open;
                }
                NodeId s = new_string(unit, "ab");
                int32_t remaining = 50;
                EXPECT_FALSE(mold_cycle(&off, s, remaining, mold));
                EXPECT_EQ(remaining, 50);
                EXPECT_EQ(text_of(s), "ab");

                const char* expected = mold ? c.molded : c.formed;
                EXPECT_TRUE(mold_cycle(&on, s, remaining, mold));
                EXPECT_EQ(text_of(s), std::string("ab") + expected);
                EXPECT_EQ(remaining, 50 - int32_t(std::strlen(expected)));
            }
        }
    }
}

TEST_F(CycleStack, MoldCycleGrowsAFullString) {
    // A string with no room left must be expanded, keeping what it held.
    NodeId s = alloc_string_buffer(16, 1);
    SeriesBuffer* b = node_buffer(s);
    std::memset(alloc_tail_bytes(b, 16), 'x', 16);
    ASSERT_EQ(node_buffer(s)->tail, node_buffer(s)->size);
    Cell blk;
    make_series(&blk, TYPE_BLOCK, 77);
    cycle_push(77);
    int32_t remaining = 3;
    EXPECT_TRUE(mold_cycle(&blk, s, remaining, true));
    EXPECT_EQ(text_of(s), std::string(16, 'x') + "[...]");
    EXPECT_EQ(remaining, -2);
}

namespace {
// A miniature mold of blocks of integers and blocks, walking the way the block
// code does: cycle test, push, elements, pop.
void mini_mold(const Cell* v, NodeId out, int32_t& remaining, bool mold) {
    if (!is_type(v, TYPE_BLOCK)) {
        std::string t = std::to_string(cell_int(v));
        for (char ch : t) *alloc_tail_bytes(node_buffer(out), 1) = uint8_t(ch);
        remaining -= int32_t(t.size());
        return;
    }
    if (mold_cycle(v, out, remaining, mold)) return;
    cycle_push(series_node(v));
    if (mold) *alloc_tail_bytes(node_buffer(out), 1) = '[';
    SeriesBuffer* b = node_buffer(series_node(v));
    for (uint32_t off = b->head; off < b->tail; off += 16) {
        if (off != b->head) *alloc_tail_bytes(node_buffer(out), 1) = ' ';
        Cell item = *reinterpret_cast<Cell*>(node_buffer(series_node(v))->data() + off);
        mini_mold(&item, out, remaining, mold);
        b = node_buffer(series_node(v));
    }
    if (mold) *alloc_tail_bytes(node_buffer(out), 1) = ']';
    cycle_pop();
}
} // namespace

TEST_F(CycleStack, BlockContainingItselfMoldsAndFormsWithEllipsis) {
    NodeId node = alloc_cells(4);
    Cell blk;
    make_series(&blk, TYPE_BLOCK, node);
    make_integer(block_alloc_tail(&blk), 1);
    *block_alloc_tail(&blk) = blk;

    for (auto [mold, expected] : {std::pair{true, "[1 [...]]"}, std::pair{false, "1 ..."}}) {
        NodeId out = alloc_string_buffer(4, 1);
        int32_t remaining = 100;
        mini_mold(&blk, out, remaining, mold);
        EXPECT_EQ(text_of(out), expected);
        EXPECT_EQ(cycle_depth(), 0u);
    }
}
