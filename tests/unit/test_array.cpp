#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "runtime/core/array.h"
#include "runtime/core/memory.h"

using namespace kem;

namespace {

class Array : public ::testing::Test {
protected:
    void SetUp() override {
        memory_init();
        memory_free_all();
    }
    void TearDown() override { memory_free_all(); }

    static NodeId ints(std::vector<int32_t> values, uint32_t capacity = 8) {
        NodeId a = array_make(capacity, 4);
        for (int32_t v : values) array_append_int(a, v);
        return a;
    }
    static std::vector<int32_t> items(NodeId a) {
        std::vector<int32_t> v;
        for (uint32_t i = 1; i <= array_length(a); i++) v.push_back(array_pick_int(a, i));
        return v;
    }
};

using Ints = std::vector<int32_t>;

} // namespace

TEST_F(Array, MakeGivesAnEmptyArrayOfTheUnit) {
    struct { uint32_t n; uint32_t unit; uint32_t capacity; } cases[] = {{4, 4, 16}, {5, 4, 32}, {10, 1, 16}, {0, 4, 0}};
    for (auto& c : cases) {
        NodeId a = array_make(c.n, c.unit);
        EXPECT_EQ(array_length(a), 0u);
        EXPECT_EQ(array_flags(a) & SERIES_UNIT_MASK, c.unit);
        EXPECT_EQ(array_flags(a), node_buffer(a)->flags);
        EXPECT_EQ(node_buffer(a)->size, c.capacity);
    }
}

TEST_F(Array, AppendPickPoke) {
    NodeId a = array_make(2, 4);
    int32_t* p = array_append_int(a, -7);
    EXPECT_EQ(*p, -7);
    EXPECT_EQ(p, reinterpret_cast<int32_t*>(array_head(a)));
    EXPECT_EQ(array_push_int(a, 42), 42);
    EXPECT_EQ(array_push_int(a, INT32_MIN), INT32_MIN);
    EXPECT_EQ(array_length(a), 3u);
    EXPECT_EQ(array_pick_int(a, 1), -7);
    EXPECT_EQ(array_int_at(a, 2), 42);
    EXPECT_EQ(array_pick_int(a, 3), INT32_MIN);
    array_poke_int(a, 2, 5);
    EXPECT_EQ(items(a), (Ints{-7, 5, INT32_MIN}));
}

TEST_F(Array, AppendingToAFullArrayKeepsItemsAndOrder) {
    NodeId a = array_make(4, 4);
    std::vector<int32_t> want;
    SeriesBuffer* first = node_buffer(a);
    for (int32_t i = 0; i < 1000; i++) {
        array_append_int(a, i * 3);
        want.push_back(i * 3);
    }
    EXPECT_NE(node_buffer(a), first) << "the buffer moved";
    EXPECT_EQ(node_buffer(a)->node, a);
    EXPECT_EQ(items(a), want);
    EXPECT_EQ(array_flags(a) & SERIES_UNIT_MASK, 4u);

    NodeId e = array_make(0, 4);
    array_append_int(e, 1);
    array_append_int(e, 2);
    EXPECT_EQ(items(e), (Ints{1, 2}));
}

TEST_F(Array, FindReturnsByteOffsetsThatRemoveAccepts) {
    NodeId a = ints({10, 20, 30, 40, 30});
    EXPECT_EQ(array_find_int(a, 30), 8) << "third item";
    EXPECT_EQ(array_find_int(a, 10), 0);
    EXPECT_EQ(array_find_int(a, 99), -1);
    EXPECT_EQ(array_find_ptr(a, 40u), 12);
    array_remove_bytes(a, 8, 4);
    EXPECT_EQ(items(a), (Ints{10, 20, 40, 30}));
    EXPECT_EQ(array_find_int(a, 30), 12);
    array_remove_bytes(a, 12, 4);  // the last item
    EXPECT_EQ(items(a), (Ints{10, 20, 40}));
    array_remove_bytes(a, 0, 8);
    EXPECT_EQ(items(a), (Ints{40}));
}

TEST_F(Array, RemoveBytesStaysInsideTheItems) {
    NodeId a = ints({1, 2, 3});
    array_remove_bytes(a, 8, 100);
    EXPECT_EQ(items(a), (Ints{1, 2}));
    array_remove_bytes(a, 8, 4);
    EXPECT_EQ(items(a), (Ints{1, 2}));
}

TEST_F(Array, RemovePtr) {
    NodeId a = ints({5, 6, 5, 7});
    EXPECT_EQ(array_remove_ptr(a, 9u), -1);
    EXPECT_EQ(items(a), (Ints{5, 6, 5, 7})) << "absent: nothing changes";
    EXPECT_EQ(array_remove_ptr(a, 5u), 0);
    EXPECT_EQ(items(a), (Ints{6, 5, 7})) << "only the first equal item";
    EXPECT_EQ(array_remove_ptr(a, 7u), 8);
    EXPECT_EQ(array_remove_ptr(a, 0xFFFFFFFFu), -1);
    array_append_int(a, -1);
    EXPECT_EQ(array_remove_ptr(a, 0xFFFFFFFFu), 8) << "ids compare as their 32 bits";
    EXPECT_EQ(items(a), (Ints{6, 5}));
}

TEST_F(Array, SetTailAndClear) {
    struct { uint32_t n; Ints left; } cases[] = {
        {1, {}}, {0, {}}, {2, {1}}, {4, {1, 2, 3}}, {5, {1, 2, 3, 4}}, {9, {1, 2, 3, 4}},
    };
    for (auto& c : cases) {
        NodeId a = ints({1, 2, 3, 4});
        array_set_tail(a, c.n);
        EXPECT_EQ(items(a), c.left) << c.n;
    }
    NodeId a = ints({1, 2});
    array_clear(a);
    EXPECT_EQ(array_length(a), 0u);
    array_append_int(a, 3);
    EXPECT_EQ(items(a), (Ints{3}));
}

TEST_F(Array, ByteArrays) {
    NodeId a = array_make(4, 1);
    for (char ch : std::string("hello")) array_append_byte(a, uint8_t(ch));
    EXPECT_EQ(array_length(a), 5u);
    array_append_bytes(a, ", world", 7);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(array_head(a)), array_length(a)), "hello, world");
    array_remove_bytes(a, 5, 2);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(array_head(a)), array_length(a)), "helloworld");
    array_set_tail(a, 6);
    EXPECT_EQ(array_length(a), 5u);
    array_append_bytes(a, nullptr, 0);
    EXPECT_EQ(array_length(a), 5u);
}

TEST_F(Array, AppendingItsOwnBytesSurvivesTheMove) {
    NodeId a = array_make(16, 1);
    array_append_bytes(a, "0123456789abcdef", 16);
    SeriesBuffer* before = node_buffer(a);
    array_append_bytes(a, array_head(a), 16);  // full: this append moves the buffer
    EXPECT_NE(node_buffer(a), before);
    std::string s(reinterpret_cast<char*>(array_head(a)), array_length(a));
    EXPECT_EQ(s, "0123456789abcdef0123456789abcdef");
    array_append_bytes(a, array_head(a) + 4, 4);
    s.assign(reinterpret_cast<char*>(array_head(a)), array_length(a));
    EXPECT_EQ(s.substr(32), "4567");
}

TEST_F(Array, CopyIsIndependent) {
    NodeId a = ints({1, 2, 3});
    NodeId b = array_copy(a);
    EXPECT_NE(a, b);
    EXPECT_EQ(array_flags(b) & SERIES_UNIT_MASK, 4u);
    EXPECT_EQ(items(b), (Ints{1, 2, 3}));
    array_poke_int(a, 1, 100);
    array_append_int(b, 4);
    EXPECT_EQ(items(a), (Ints{100, 2, 3}));
    EXPECT_EQ(items(b), (Ints{1, 2, 3, 4}));
}
