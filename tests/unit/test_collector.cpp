// The collector: what it keeps, what it frees, how buffers move and what it counts.
#include <gtest/gtest.h>
#include <cstring>
#include "eval_support.h"
#include "runtime/collector/collector.h"
#include "runtime/core/handles.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/hashtable.h"
#ifdef KEM_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace kem {
namespace {
using test::run_kem;

class Collector : public ::testing::Test {
protected:
    void SetUp() override {
        boot_all();
        stack::init();
        collector::set_active(true);
        collector::collect();  // start from memory holding only live values
    }
    void TearDown() override {
        stack::init();
        collector::set_active(true);
    }
};

// A string of n bytes filled with c, made on the side (not on the stack).
Cell make_text(uint32_t n, char c) {
    Cell s;
    string_make_at(&s, n);
    SeriesBuffer* b = node_buffer(s.data2);
    std::memset(b->head_ptr(), c, n);
    b->tail = b->head + n;
    return s;
}

// Whether a dead node's id names nothing any more: its node was freed, or
// its frame was emptied and went back (reading a slot there would fault).
bool node_gone(NodeId n) {
    const NodeFrame* f = node_frame_of(n);
    return !f || !f->owns(n) || node_is_free(n);
}

uint64_t series_frame_use() {
    uint64_t used = 0;
    for (SeriesFrame* f = memory.first_series_frame; f; f = f->next) used += uint64_t(f->free - f->first());
    return used;
}

bool text_is(const Cell& s, uint32_t n, char c) {
    SeriesBuffer* b = node_buffer(s.data2);
    if (b->used() != n) return false;
    for (uint32_t i = 0; i < n; i++)
        if (b->head_ptr()[i] != uint8_t(c)) return false;
    return true;
}

TEST_F(Collector, RootedValuesSurviveAndMoveOverDeadOnes) {
    Cell dead = make_text(4000, 'd');
    Cell kept = make_text(3000, 'k');
    NodeId kept_node_id = make_text(100, 'n').data2;
    stack::push(&dead);
    stack::pop(1);  // gone from the stack: nothing holds it now
    RootedCell root(&kept);
    RootedNode node_root(&kept_node_id);
    Cell on_stack = make_text(50, 's');
    stack::push(&on_stack);
    SeriesBuffer* before = node_buffer(kept.data2);

    collector::collect();

    EXPECT_TRUE(node_gone(dead.data2));
    EXPECT_NE(node_buffer(kept.data2), before) << "the live buffer slid down over the dead one";
    EXPECT_TRUE(text_is(kept, 3000, 'k'));
    Cell via_node{TYPE_STRING, 0, kept_node_id, 0};
    EXPECT_TRUE(text_is(via_node, 100, 'n'));
    EXPECT_TRUE(text_is(*(stack::top - 1), 50, 's'));
}

#ifdef KEM_ASAN
TEST_F(Collector, TheSpaceAMovedBufferLeftIsPoisoned) {
    // The checking builds rely on this: code that kept a raw pointer across a
    // collection reads poisoned memory and stops there.
    Cell dead = make_text(4000, 'd');
    Cell kept = make_text(3000, 'k');
    stack::push(&dead);
    stack::pop(1);
    RootedCell root(&kept);
    const uint8_t* before = node_buffer(kept.data2)->head_ptr();
    collector::collect();
    ASSERT_NE(node_buffer(kept.data2)->head_ptr(), before);
#ifndef KEM_GC_STRESS
    // (The stress build takes the old frames' pages away altogether.)
    EXPECT_TRUE(__asan_address_is_poisoned(before + 2999));
#endif
    EXPECT_FALSE(__asan_address_is_poisoned(node_buffer(kept.data2)->head_ptr() + 2999));
    // Whether the frame being filled has room left depends on what start-up
    // made; some frame has.
    SeriesFrame* f = memory.first_series_frame;
    while (f && !(f->free < f->end)) f = f->next;
    ASSERT_TRUE(f) << "no series frame has room left";
    EXPECT_TRUE(__asan_address_is_poisoned(f->free)) << "the room left in a frame is poisoned";
}
#endif

TEST_F(Collector, CellsOfRootedBlocksAreFollowed) {
    Cell blk;
    block_make_at(&blk, 4);
    RootedCell root(&blk);
    for (int i = 0; i < 3; i++) {
        Cell s = make_text(200, char('a' + i));
        block_append_cell(&blk, &s);
    }
    collector::collect();
    ASSERT_EQ(block_full_length(&blk), 3u);
    for (uint32_t i = 0; i < 3; i++) EXPECT_TRUE(text_is(*block_rs_abs_at(&blk, i), 200, char('a' + i)));
}

TEST_F(Collector, AbandonedBuffersGoWithoutFreeingNodes) {
    Cell blk;
    block_make_at(&blk, 1);
    RootedCell root(&blk);
    collector::collect();
    SeriesBuffer* old = node_buffer(blk.data2);
    const uint32_t old_bytes = old->size + SERIES_OVERHEAD;
    expand_series(old, 4096);  // the old buffer stays behind with node 0
    collector::collect();
    EXPECT_EQ(collector::stats.freed_nodes, 0u);
    EXPECT_GE(collector::stats.freed_bytes, old_bytes);
    EXPECT_FALSE(node_is_free(blk.data2));
    EXPECT_EQ(node_buffer(blk.data2)->size, 4096u);
}

TEST_F(Collector, DisabledCollectorOnlyAddsFrames) {
    collector::set_active(false);
    const uint32_t cycles = collector::stats.cycles;
    uint32_t frames_before = 0;
    for (SeriesFrame* f = memory.first_series_frame; f; f = f->next) frames_before++;
    for (int i = 0; i < 4000; i++) make_text(2000, 'x');
    EXPECT_FALSE(collector_switch.requested);
    collector::safe_point();
    collector::collect_if_enabled();
    EXPECT_EQ(collector::stats.cycles, cycles);
    uint32_t frames_after = 0;
    for (SeriesFrame* f = memory.first_series_frame; f; f = f->next) frames_after++;
    EXPECT_GT(frames_after, frames_before);
    // recycle without refinements still collects.
    collector::collect();
    EXPECT_EQ(collector::stats.cycles, cycles + 1);
}

TEST_F(Collector, EnabledCollectorRunsAtTheNextSafePointOnceRequested) {
    const uint32_t cycles = collector::stats.cycles;
    Cell kept = make_text(10, 'q');
    RootedCell root(&kept);
    // A collection is asked for once the allocation budget is spent.
    const uint64_t budget = memory.budget;
    uint64_t made = 0;
    for (int i = 0; i < 32000 && !collector_switch.requested; i++, made += 2000) make_text(2000, 'x');
    EXPECT_TRUE(collector_switch.requested);
    EXPECT_LE(made, budget);
    collector::safe_point();
    EXPECT_FALSE(collector_switch.requested);
    EXPECT_GT(collector::stats.cycles, cycles);
    EXPECT_TRUE(text_is(kept, 10, 'q'));
    EXPECT_LT(series_frame_use(), uint64_t(4) << 20) << "the garbage was reclaimed";
}

TEST_F(Collector, EachCollectionCountsOneCycle) {
    const uint32_t cycles = collector::stats.cycles;
    collector::collect();
    EXPECT_EQ(collector::stats.cycles, cycles + 1);
}

uint32_t node_frame_count() {
    uint32_t n = 0;
    for (NodeFrame* f = memory.first_node_frame; f; f = f->next) n++;
    return n;
}

// A node id that names a used node of a live frame.
bool names_live_node(NodeId n) {
    const NodeFrame* f = node_frame_of(n);
    return f && f->owns(n) && !f->condemned && !node_is_free(n) && node_buffer(n)->node == n;
}

// What the test keeps, off the machine stack: a frame whose nodes the stack
// names is left in place. Node ids are small numbers, so some word of the
// stack may name a frame by chance (more often in the sanitizer builds, whose
// frames are larger): strings are held from several frames, and most of them
// must move.
constexpr int HELD = 4;
struct Held {
    Cell kept, in_cpp[HELD], by_callback[HELD];
    NodeId node_in_cpp[HELD], table, before[HELD];
} held;

void mark_held_by_callback() {
    for (Cell& c : held.by_callback) collector::mark_value(&c);
    collector::mark_table(&held.table);
}

// Kept strings spread over the frames, held in every way C++ code may hold
// one. Done in a function of its own, so that no copy of their ids stays in
// the test's frame.
[[gnu::noinline]] void hold_strings() {
    for (int k = 0; k < HELD; k++) {
        const uint32_t at = block_full_length(&held.kept) * (2 * k + 1) / (2 * HELD);
        const Cell s = *block_rs_abs_at(&held.kept, at);
        held.in_cpp[k] = held.by_callback[k] = s;
        held.node_in_cpp[k] = held.before[k] = s.data2;
        *hash_put(held.table, s.data2) = s;
    }
}

// Frames left sparse by short lives are emptied once they have settled: their
// nodes get new ids in other frames, the frames go back to the system, and
// every place that keeps a moved id is rewritten: cells of blocks, C++ roots
// of both kinds, layer roots, and the keys of a node-keyed table.
TEST_F(Collector, SparseNodeFramesAreEmptiedAndReturned) {
    constexpr int MADE = 200000, KEEP_EVERY = 100;
    static_assert(HELD == 4);
    held = Held{};
    block_make_at(&held.kept, MADE / KEEP_EVERY);
    RootedCell root(&held.kept);
    RootedCells cpp_roots(held.in_cpp, HELD);
    RootedNode node_root0(&held.node_in_cpp[0]), node_root1(&held.node_in_cpp[1]);
    RootedNode node_root2(&held.node_in_cpp[2]), node_root3(&held.node_in_cpp[3]);
    held.table = hash_make(16, nullptr, HASH_POINTERS, 1);
    ASSERT_TRUE(collector::add_root(mark_held_by_callback));
    for (int i = 0; i < MADE; i++) {
        Cell s = make_text(8, char('a' + i / KEEP_EVERY % 26));
        if (i % KEEP_EVERY) continue;
        block_append_cell(&held.kept, &s);
    }
    hold_strings();
    collector::collect();
    const uint32_t frames = node_frame_count();
    const uint32_t nodes_cycles = collector::stats.nodes_cycles;
    for (uint32_t i = 0; i < collector::stats.stability + 2; i++) collector::collect();

    EXPECT_GT(collector::stats.nodes_cycles, nodes_cycles);
    EXPECT_LE(node_frame_count() + 15, frames) << "the emptied frames went back";
    ASSERT_EQ(block_full_length(&held.kept), uint32_t(MADE / KEEP_EVERY));
    for (uint32_t i = 0; i < uint32_t(MADE / KEEP_EVERY); i++) {
        const Cell* c = block_rs_abs_at(&held.kept, i);
        ASSERT_TRUE(names_live_node(c->data2)) << i;
        EXPECT_TRUE(text_is(*c, 8, char('a' + i % 26))) << i;
    }
    int moved = 0;
    for (int k = 0; k < HELD; k++) {
        const uint32_t at = uint32_t(MADE / KEEP_EVERY) * (2 * k + 1) / (2 * HELD);
        const NodeId now = block_rs_abs_at(&held.kept, at)->data2;
        EXPECT_EQ(held.in_cpp[k].data2, now) << k;
        EXPECT_EQ(held.node_in_cpp[k], now) << k;
        EXPECT_EQ(held.by_callback[k].data2, now) << k;
        const Cell* entry = hash_get(held.table, now);
        ASSERT_NE(entry, nullptr) << "the table found its key " << k;
        EXPECT_EQ(entry->data2, now) << "the entry's value cell followed " << k;
        if (now == held.before[k]) continue;
        moved++;
        EXPECT_EQ(hash_get(held.table, held.before[k]), nullptr) << k;
    }
    EXPECT_GE(moved, HELD - 1) << "the kept strings moved";
    collector::remove_root(mark_held_by_callback);
}

// A node id that only a local of a running C++ function keeps (its value
// lives on elsewhere) stays usable: its frame is not emptied meanwhile,
// while the frames around it are.
TEST_F(Collector, NodesTheMachineStackNamesStayWhereTheyAre) {
    constexpr int MADE = 200000, KEEP_EVERY = 100;
    held = Held{};
    block_make_at(&held.kept, MADE / KEEP_EVERY);
    RootedCell root(&held.kept);
    Cell local{TYPE_NONE, 0, 0, 0};
    // Counted from before the loop: a build that collects at every safe point
    // empties the sparse frames while they are being made.
    const uint32_t nodes_cycles = collector::stats.nodes_cycles;
    for (int i = 0; i < MADE; i++) {
        Cell s = make_text(8, 'z');
        if (i % KEEP_EVERY) continue;
        block_append_cell(&held.kept, &s);
        if (i == MADE / 2) local = s;
    }
    for (uint32_t i = 0; i < collector::stats.stability + 3; i++) collector::collect();
    EXPECT_GT(collector::stats.nodes_cycles, nodes_cycles);
    EXPECT_EQ(block_rs_abs_at(&held.kept, MADE / KEEP_EVERY / 2)->data2, local.data2);
    EXPECT_TRUE(names_live_node(local.data2));
    EXPECT_TRUE(text_is(local, 8, 'z'));
}

Cell callback_cell{TYPE_NONE, 0, 0, 0};
void mark_callback_cell() { collector::mark_value(&callback_cell); }

TEST_F(Collector, MarkCallbacksKeepValuesUntilRemoved) {
    callback_cell = make_text(300, 'c');
    ASSERT_TRUE(collector::add_root(mark_callback_cell));
    collector::collect();
    EXPECT_TRUE(text_is(callback_cell, 300, 'c'));
    collector::remove_root(mark_callback_cell);
    collector::collect();
    EXPECT_TRUE(node_gone(callback_cell.data2)) << "a removed callback is skipped";
    // Its slot is taken again by the next callback.
    ASSERT_TRUE(collector::add_root(mark_callback_cell));
    collector::remove_root(mark_callback_cell);
}

TEST_F(Collector, BigFramesAndHeapSeriesAreSweptWhenUnreachable) {
    Cell big = make_text(3 << 20, 'b');
    Cell big_kept = make_text(3 << 20, 'B');
    RootedCell root(&big_kept);
    NodeId heap = alloc_heap_series(100, 16, 0);
    NodeId heap_kept = alloc_heap_series(100, 16, 0);
    RootedNode heap_root(&heap_kept);
    collector::collect();
    EXPECT_TRUE(node_gone(big.data2));
    EXPECT_TRUE(node_gone(heap));
    EXPECT_TRUE(text_is(big_kept, 3 << 20, 'B'));
    EXPECT_FALSE(node_is_free(heap_kept));
    uint32_t bigs = 0;
    for (BigFrame* f = memory.big_frames; f; f = f->next) bigs++;
    EXPECT_EQ(bigs, 1u);
}

TEST_F(Collector, LiveBuffersOfLaterFramesMoveIntoRoomBefore) {
    // Fill several frames with garbage, then keep values made after it.
    for (int i = 0; i < 3000; i++) make_text(2000, 'g');
    Cell kept[20];
    for (int i = 0; i < 20; i++) kept[i] = make_text(1000, char('A' + i));
    RootedCells root(kept, 20);
    const uint64_t before = series_frame_use();
    uint32_t frames_before = 0;
    for (SeriesFrame* f = memory.first_series_frame; f; f = f->next) frames_before++;
    collector::collect();
    EXPECT_LT(series_frame_use() + 5000000, before);
    // Counted against the frames before rather than as a fixed number: the
    // live values of the library fill a frame or more as it grows.
    uint32_t frames = 0, empty = 0;
    for (SeriesFrame* f = memory.first_series_frame; f; f = f->next) {
        frames++;
        if (f->free == f->first()) empty++;
    }
    EXPECT_LT(frames, frames_before) << "emptied frames are released";
    EXPECT_LE(empty, 1u) << "one empty frame at most is kept for what comes next";
    for (int i = 0; i < 20; i++) EXPECT_TRUE(text_is(kept[i], 1000, char('A' + i)));
}

// One run's peak does not stay: after 20 MB of short-lived strings with a
// few kept among them, a collection gives the series frames back down to
// what the kept ones need, and once those are gone too, all but one empty
// frame kept for what comes next.
TEST_F(Collector, FramesOfAPeakGoBackOnceItsValuesAreGone) {
    const uint64_t start = memory.total;
    Cell kept;
    block_make_at(&kept, 1000);
    RootedCell root(&kept);
    for (int i = 0; i < 50000; i++) {
        Cell s = make_text(400, 'p');
        if (i % 50 == 0) block_append_cell(&kept, &s);
    }
    EXPECT_GT(memory.total, start + (uint64_t(15) << 20));
    collector::collect();
    EXPECT_LT(memory.total, start + (uint64_t(4) << 20)) << "the series frames of the peak went back";
    make_none(&kept);
    for (uint32_t i = 0; i < collector::stats.stability + 2; i++) collector::collect();
    EXPECT_LT(memory.total, start + memory.big_threshold + (uint64_t(1) << 20)) << "the kept ones' frames went back";
}

TEST_F(Collector, OwnershipEntriesGoWithTheirOwners) {
    run_kem("gc-owner: make object! [b: [1 2] on-deep-change*: func [o w a v i p] []]");
    const int32_t with_owner = hash_count(ownership_table);
    run_kem("gc-owner: none");
    collector::collect();
    EXPECT_LT(hash_count(ownership_table), with_owner);
}

TEST_F(Collector, DeepNestingIsMarkedWithoutRecursion) {
    // The unit tests run on the main thread's ordinary stack: 200000 levels
    // would exhaust it if marking recursed.
    Cell outer;
    block_make_at(&outer, 1);
    RootedCell root(&outer);
    for (int i = 0; i < 200000; i++) {
        Cell inner = outer;
        block_make_at(&outer, 1);
        block_append_cell(&outer, &inner);
    }
    collector::collect();
    uint32_t depth = 0;
    for (Cell b = outer; block_full_length(&b) > 0; b = *block_rs_abs_at(&b, 0)) depth++;
    EXPECT_EQ(depth, 200000u);
}

// Pixels live outside the series frames, named by the handle table: the
// next collection releases those no image reaches, and an image kept (in
// any of the cells that share its record) keeps its pixels.
TEST_F(Collector, ImagePixelsLiveAsLongAsAnImageReachesThem) {
    auto pictures = [] {
        uint32_t n = 0;
        for (int32_t i = handle_used_head(); i >= 0; i = handle_entry(i)->next)
            n += std::strcmp(handle_type(handle_entry(i)->flags & HANDLE_TYPE_MASK)->name, "image") == 0;
        return n;
    };
    const uint32_t before = pictures();
    EXPECT_EQ(run_kem("keep: make image! [2x2 1.2.3] both: reduce [keep next keep] loop 30 [make image! 20x20] "
                      "recycle pick both/2 3"),
              "1.2.3.0");
    EXPECT_EQ(pictures(), before + 1);
    EXPECT_EQ(run_kem("keep: both: none recycle 0"), "0");
    EXPECT_EQ(pictures(), before);
}

} // namespace
} // namespace kem
