#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/value.h"

using namespace kem;

namespace {

class Value : public ::testing::Test {
protected:
    void SetUp() override {
        memory_init();
        memory_free_all();
    }
    void TearDown() override { memory_free_all(); }
};

// Appends text to a string buffer as units of the buffer's unit size.
void put_text(NodeId n, const char* text) {
    SeriesBuffer* b = node_buffer(n);
    uint32_t unit = b->unit();
    size_t len = std::strlen(text);
    uint8_t* p = alloc_tail_bytes(b, uint32_t(len * unit));
    for (size_t i = 0; i < len; i++) {
        uint32_t ch = static_cast<uint8_t>(text[i]);
        std::memcpy(p + i * unit, &ch, unit);  // little-endian: the low bytes
    }
}

std::string text_of(NodeId n) {
    SeriesBuffer* b = node_buffer(n);
    uint32_t unit = b->unit();
    std::string s;
    for (uint32_t off = b->head; off < b->tail; off += unit) {
        uint32_t ch = 0;
        std::memcpy(&ch, b->data() + off, unit);
        s += ch < 0x80 ? char(ch) : '?';
    }
    return s;
}

} // namespace

TEST(Cell, SetTypeKeepsEveryOtherHeaderBit) {
    Cell c{HEADER_NEW_LINE | 0x00401800 | TYPE_BLOCK, 1, 2, 3};
    set_type(&c, TYPE_STRING);
    EXPECT_EQ(c.header, HEADER_NEW_LINE | 0x00401800 | TYPE_STRING);
    EXPECT_EQ(c.data1, 1u);
    clear_new_line(&c);
    EXPECT_EQ(c.header, 0x00401800u | TYPE_STRING);
    set_type(&c, 0x1FF);  // only the type byte is ever written
    EXPECT_EQ(c.header, 0x00401800u | 0xFF);
}

TEST(Cell, CopyCell) {
    Cell a{TYPE_INTEGER | HEADER_NEW_LINE, 5, 6, 7};
    EXPECT_EQ(copy_cell(&a, &a), &a);
    EXPECT_EQ(a.header, TYPE_INTEGER | HEADER_NEW_LINE);
    EXPECT_EQ(a.data1 + a.data2 + a.data3, 18u);
    Cell b{};
    EXPECT_EQ(copy_cell(&a, &b), &b);
    EXPECT_EQ(std::memcmp(&a, &b, sizeof(Cell)), 0);
}

TEST_F(Value, AllocTailDoublesAFullBlockAndAddsAnUnsetCell) {
    NodeId n = alloc_cells(2);
    for (int i = 0; i < 2; i++) {
        Cell* c = alloc_tail(node_buffer(n));
        EXPECT_EQ(c->header, uint32_t(TYPE_UNSET));
        make_integer(c, 10 + i);
    }
    SeriesBuffer* full = node_buffer(n);
    ASSERT_EQ(full->size, 32u);
    Cell* c = alloc_tail(full);
    SeriesBuffer* b = node_buffer(n);
    EXPECT_NE(b, full);
    EXPECT_EQ(b->size, 64u);
    EXPECT_EQ(b->used(), 48u);
    EXPECT_EQ(c, b->cell_head() + 2);
    EXPECT_EQ(c->header, uint32_t(TYPE_UNSET));
    EXPECT_EQ(cell_int(&b->cell_head()[0]), 10);
    EXPECT_EQ(cell_int(&b->cell_head()[1]), 11);

    Cell block;
    make_series(&block, TYPE_BLOCK, alloc_cells(0));
    Cell* first = block_alloc_tail(&block);
    EXPECT_EQ(node_buffer(series_node(&block))->size, 16u) << "an empty buffer grows to one cell";
    EXPECT_EQ(first, node_buffer(series_node(&block))->cell_head());
}

TEST_F(Value, AllocTailWithAMiddleHeadGrowsWhenTheDataEndIsReached) {
    NodeId n = alloc_series(4, 16, -1);  // 64 bytes, head at 32: two cells of room
    alloc_tail(node_buffer(n));
    alloc_tail(node_buffer(n));
    EXPECT_EQ(node_buffer(n)->size, 64u);
    alloc_tail(node_buffer(n));
    EXPECT_EQ(node_buffer(n)->size, 128u);
    EXPECT_EQ(node_buffer(n)->used(), 48u);
}

TEST_F(Value, AllocTailBytes) {
    // size, bytes already used, n -> size afterwards
    struct { uint32_t size; uint32_t used; uint32_t n; uint32_t grown; } cases[] = {
        {16, 10, 6, 16},    // exactly fits
        {16, 10, 7, 32},    // twice the size
        {16, 10, 40, 80},   // n above the size: 2n
        {32, 32, 32, 64},
        {0, 0, 0, 0},
        {0, 0, 5, 16},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " " << c.used << " " << c.n);
        NodeId node = alloc_series(c.size, 1, 0);
        SeriesBuffer* b = node_buffer(node);
        ASSERT_EQ(b->size, c.size);
        for (uint32_t i = 0; i < c.used; i++) b->data()[i] = uint8_t('a' + i);
        b->tail = c.used;
        uint8_t* p = alloc_tail_bytes(b, c.n);
        b = node_buffer(node);
        EXPECT_EQ(b->size, c.grown);
        EXPECT_EQ(p, b->head_ptr() + c.used) << "the old tail, in the buffer that holds it now";
        EXPECT_EQ(b->used(), c.used + c.n);
        for (uint32_t i = 0; i < c.used; i++) EXPECT_EQ(b->head_ptr()[i], uint8_t('a' + i));
        std::memset(p, 'z', c.n);  // the reserved bytes are writable
    }
}

TEST_F(Value, AllocTailBytesOnACellBufferReservesWholeUnits) {
    NodeId n = alloc_cells(0);
    uint8_t* p = alloc_tail_bytes(node_buffer(n), 4);
    SeriesBuffer* b = node_buffer(n);
    EXPECT_GE(b->size, 16u);
    EXPECT_EQ(p, b->data());
    std::memset(p, 1, 4);
}

TEST_F(Value, CopySeriesSliceCopiesUnitsFromTheHead) {
    for (uint32_t unit : {1u, 2u, 4u, 16u}) {
        SCOPED_TRACE(unit);
        NodeId src = alloc_series(8, unit, -1);
        set_series_flags(src, SERIES_OWNED | SERIES_COMPLEMENT);
        SeriesBuffer* b = node_buffer(src);
        uint8_t* p = alloc_tail_bytes(b, 6 * unit);
        for (uint32_t i = 0; i < 6 * unit; i++) p[i] = uint8_t(i + 1);
        b = node_buffer(src);

        NodeId n = copy_series_slice(src, 2, 3);
        SeriesBuffer* s = node_buffer(n);
        EXPECT_NE(n, src);
        EXPECT_EQ(s->node, n);
        EXPECT_EQ(s->unit(), unit);
        EXPECT_EQ(s->head, 0u);
        EXPECT_EQ(s->tail, 3 * unit);
        EXPECT_EQ(s->flags & SERIES_OWNED, 0u) << "the copy is owned by no one";
        EXPECT_NE(s->flags & SERIES_COMPLEMENT, 0u);
        EXPECT_NE(s->flags & SERIES_IN_USE, 0u);
        EXPECT_EQ(std::memcmp(s->data(), b->head_ptr() + 2 * unit, 3 * unit), 0);
        EXPECT_EQ(s->data()[0], uint8_t(2 * unit + 1));

        EXPECT_EQ(node_buffer(copy_series_slice(src, 6, 0))->used(), 0u);
    }
}

TEST(ToIntChecked, TruncatesInRangeFloatsAndRejectsTheRest) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct { double d; bool ok; int32_t v; } cases[] = {
        {2147483647.0, true, 2147483647},  {2147483647.5, false, 0}, {-2147483648.0, true, INT32_MIN},
        {-2147483648.9, false, 0},         {-1.7, true, -1},         {1.7, true, 1},
        {-0.0, true, 0},                   {nan, false, 0},          {INFINITY, false, 0},
        {-INFINITY, false, 0},             {1e300, false, 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.d);
        Cell cell;
        make_float(&cell, c.d);
        if (c.ok) {
            EXPECT_EQ(to_int_checked(&cell), c.v);
            continue;
        }
        try {
            to_int_checked(&cell);
            ADD_FAILURE() << "no error";
        } catch (const KemError& e) {
            EXPECT_EQ(e.id, Err::script_out_of_range);
            ASSERT_EQ(e.argc, 1);
            EXPECT_EQ(std::memcmp(&e.args[0], &cell, sizeof(Cell)), 0) << "the value is the argument";
        }
    }
    Cell i;
    make_integer(&i, -5);
    EXPECT_EQ(to_int_checked(&i), -5);
    make_integer(&i, INT32_MAX);
    EXPECT_EQ(to_int_checked(&i), INT32_MAX);
}

TEST(FillRepeat, FillsCountRecordsAndReturnsTheEnd) {
    for (size_t count : {0u, 1u, 2u, 3u, 5u, 8u, 13u}) {
        SCOPED_TRACE(count);
        uint8_t buf[3 * 13 + 4];
        std::memset(buf, 0xEE, sizeof buf);
        std::memcpy(buf, "abc", 3);
        void* end = fill_repeat(buf, 3, count);
        EXPECT_EQ(end, buf + 3 * count);
        for (size_t i = 0; i < count; i++) EXPECT_EQ(std::memcmp(buf + 3 * i, "abc", 3), 0) << i;
        size_t filled = count ? 3 * count : 3;
        EXPECT_EQ(buf[filled], 0xEE) << "nothing past the last record";
    }
    uint8_t one = 9;
    EXPECT_EQ(fill_repeat(&one, 0, 4), &one) << "an empty record fills nothing";
}

TEST_F(Value, MoldIndentAppendsFourSpacesPerLevelInTheStringsUnit) {
    for (uint32_t unit : {1u, 2u, 4u}) {
        SCOPED_TRACE(unit);
        NodeId s = alloc_string_buffer(0, unit);
        put_text(s, "x");
        EXPECT_EQ(mold_indent(s, 2, 100), 92);
        EXPECT_EQ(text_of(s), "x        ");
        EXPECT_EQ(node_buffer(s)->unit(), unit);
        EXPECT_EQ(mold_indent(s, 0, 7), 7);
        EXPECT_EQ(text_of(s), "x        ");
        // Grows the buffer as needed and keeps the text.
        EXPECT_EQ(mold_indent(s, 5, 0), -20);
        EXPECT_EQ(text_of(s), "x" + std::string(28, ' '));
    }
}

TEST(BootValues, IndexTheBootBlock) {
    Cell block[3] = {{TYPE_INTEGER, 7, 1, 0}, {TYPE_NONE, 8, 0, 0}, {TYPE_UNSET, 9, 0, 0}};
    set_boot_values(block, 3);
    EXPECT_EQ(boot_value(2), &block[2]);
    EXPECT_EQ(boot_value_data(1), 8u);
    EXPECT_STREQ(build_date(), "9-Nov-2026/23:15:27");
}
