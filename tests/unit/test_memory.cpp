#include <gtest/gtest.h>
#include <cstring>
#include <set>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/platform/exit.h"

using namespace kem;

namespace {

// Every test starts with no frames at all and the collector switched off, so
// frame counts, sizes and the memory total are exact whatever ran before.
class Memory : public ::testing::Test {
protected:
    void SetUp() override {
        memory_init();
        memory_free_all();
        collector_switch = CollectorSwitch{};
        // Every new frame asks for a collection unless a test says otherwise.
        memory.allocated = 0;
        memory.budget = 0;
    }
    void TearDown() override {
        memory.series_limit = 0;
        memory_free_all();
        collector_switch = CollectorSwitch{};
    }
};

constexpr uint64_t MB = 0x100000;
constexpr uint64_t NODE_FRAME_BYTES = uint64_t(NODE_FRAME_STRIDE) * sizeof(uintptr_t);

uint64_t page_round(uint64_t n) { return (n + 4095) & ~uint64_t(4095); }
uint64_t frame_room(SeriesFrame* f) { return uint64_t(f->end - f->free); }
uint64_t frame_data_size(SeriesFrame* f) { return uint64_t(f->end - f->first()); }

int count_node_frames() {
    int n = 0;
    for (NodeFrame* f = memory.first_node_frame; f; f = f->next) n++;
    return n;
}

std::vector<SeriesFrame*> series_frames() {
    std::vector<SeriesFrame*> v;
    for (SeriesFrame* f = memory.first_series_frame; f; f = f->next) v.push_back(f);
    return v;
}

bool frame_holds(SeriesFrame* f, const void* p) {
    auto* b = static_cast<const uint8_t*>(p);
    return b >= f->first() && b < f->end;
}

// Fills the current series frame with one buffer so that exactly `left` bytes stay free.
void fill_current_frame(uint64_t left) {
    uint64_t room = frame_room(memory.current_series_frame);
    ASSERT_GE(room, left + SERIES_OVERHEAD);
    uint64_t bytes = room - left - SERIES_OVERHEAD;
    ASSERT_EQ(bytes % 16, 0u) << "choose a remainder that keeps the buffer a multiple of 16";
    alloc_series(bytes, 1, 0);
    ASSERT_EQ(frame_room(memory.current_series_frame), left);
}

std::vector<NodeId> freed_by_sweep;
void record_freed(NodeId n) { freed_by_sweep.push_back(n); }

} // namespace

// --- Node frames --------------------------------------------------------------

TEST_F(Memory, NodesComeFromFramesOfTenThousand) {
    std::set<NodeId> seen;
    NodeId first = alloc_node();
    NodeFrame* f1 = memory.current_node_frame;
    ASSERT_NE(f1, nullptr);
    EXPECT_EQ(f1->capacity, NODES_PER_FRAME);
    EXPECT_EQ(first, f1->first_id());
    EXPECT_NE(first, 0u) << "node 0 means no node";
    EXPECT_EQ(node_slots[first], 0u) << "a taken node is cleared";
    EXPECT_FALSE(node_is_free(first));
    EXPECT_TRUE(node_is_free(first + 1));
    seen.insert(first);
    for (uint32_t i = 1; i < NODES_PER_FRAME; i++) {
        NodeId n = alloc_node();
        EXPECT_TRUE(f1->owns(n));
        seen.insert(n);
    }
    EXPECT_EQ(f1->used, NODES_PER_FRAME);
    EXPECT_EQ(f1->free_head, 0u);
    EXPECT_EQ(count_node_frames(), 1);

    NodeId next = alloc_node();
    NodeFrame* f2 = memory.current_node_frame;
    EXPECT_NE(f2, f1);
    EXPECT_TRUE(f2->owns(next));
    EXPECT_EQ(node_frame_of(next), f2);
    EXPECT_EQ(node_frame_of(first), f1);
    EXPECT_EQ(memory.first_node_frame, f1);
    EXPECT_EQ(memory.last_node_frame, f2);
    EXPECT_EQ(f1->next, f2);
    EXPECT_EQ(f2->prev, f1);
    EXPECT_TRUE(seen.insert(next).second);
    EXPECT_EQ(seen.size(), NODES_PER_FRAME + 1);
}

TEST_F(Memory, FreedNodesAreReusedFromTheFirstFrameWithRoom) {
    std::vector<NodeId> a;
    for (uint32_t i = 0; i < NODES_PER_FRAME; i++) a.push_back(alloc_node());
    NodeFrame* f1 = memory.current_node_frame;
    NodeId in_f2 = alloc_node();
    NodeFrame* f2 = memory.current_node_frame;

    EXPECT_TRUE(f2->owns(in_f2));

    node_free(f1, a[500]);
    EXPECT_TRUE(node_is_free(a[500]));
    EXPECT_EQ(f1->used, NODES_PER_FRAME - 1);
    EXPECT_EQ(f1->free_head, a[500]);
    // The current frame still has room, so it keeps serving.
    EXPECT_TRUE(f2->owns(alloc_node()));
    while (f2->free_head) alloc_node();

    // Current frame full: a condemned frame is passed over even with a free node.
    f1->condemned = 1;
    NodeId n = alloc_node();
    NodeFrame* f3 = memory.current_node_frame;
    EXPECT_TRUE(f3->owns(n));
    EXPECT_NE(f3, f1);
    EXPECT_NE(f3, f2);

    // Otherwise the search from the first frame finds the freed node.
    f1->condemned = 0;
    while (f3->free_head) alloc_node();
    EXPECT_EQ(alloc_node(), a[500]);
    EXPECT_EQ(memory.current_node_frame, f1);
    EXPECT_EQ(f1->used, NODES_PER_FRAME);
    EXPECT_EQ(count_node_frames(), 3);
}

TEST_F(Memory, NodeFramesAfterCollectionReleaseEmptyAndCondemnedFrames) {
    std::vector<NodeId> nodes;
    for (uint32_t i = 0; i < 3 * NODES_PER_FRAME; i++) nodes.push_back(alloc_node());
    NodeFrame* f1 = memory.first_node_frame;
    NodeFrame* f2 = f1->next;
    NodeFrame* f3 = f2->next;
    ASSERT_EQ(memory.current_node_frame, f3);
    // f1 keeps 5 nodes, f2 is emptied, f3 stays full but is condemned.
    for (NodeId n : nodes)
        if (f2->owns(n) || (f1->owns(n) && n >= f1->first_id() + 5)) node_free(node_frame_of(n), n);
    f3->condemned = 1;
    uint64_t total = memory.total;
    uint32_t f2_first = f2->first_id();

    node_frames_after_collection();
    EXPECT_EQ(count_node_frames(), 1);
    EXPECT_EQ(memory.first_node_frame, f1);
    EXPECT_EQ(memory.last_node_frame, f1);
    EXPECT_EQ(memory.current_node_frame, f1) << "the first frame with a free node";
    EXPECT_EQ(memory.total, total - 2 * NODE_FRAME_BYTES);
    EXPECT_EQ(f1->stability, 0u) << "used count changed since the last collection (0)";
    EXPECT_EQ(f1->used_at_last, 5u);

    node_frames_after_collection();
    EXPECT_EQ(f1->stability, 1u);
    alloc_node();
    node_frames_after_collection();
    EXPECT_EQ(f1->stability, 2u);
    EXPECT_EQ(f1->used_at_last, 6u);

    // A released frame's range of ids is taken again by the next new frame;
    // the stress build lets released ranges wait, so that a stale id faults.
    while (f1->free_head) alloc_node();
    NodeId again = alloc_node();
    NodeFrame* f = memory.current_node_frame;
    EXPECT_NE(f, f1);
#ifdef KEM_GC_STRESS
    EXPECT_FALSE(f->first_id() == f2_first || f->first_id() == f3->first_id());
#else
    EXPECT_TRUE(f->first_id() == f2_first || f->first_id() == f3->first_id());
#endif
    EXPECT_EQ(again, f->first_id());
    EXPECT_EQ(f->used, 1u);
    EXPECT_EQ(f->condemned, 0u);
    EXPECT_EQ(f->stability, 0u);
    EXPECT_EQ(memory.total, total - NODE_FRAME_BYTES);
}

TEST_F(Memory, ReleasingEveryNodeFrameLeavesNoCurrentFrame) {
    NodeId n = alloc_node();
    node_free(memory.current_node_frame, n);
    node_frames_after_collection();
    EXPECT_EQ(memory.first_node_frame, nullptr);
    EXPECT_EQ(memory.current_node_frame, nullptr);
    EXPECT_NE(alloc_node(), 0u);
}

// --- Buffers ------------------------------------------------------------------

TEST_F(Memory, BufferSizesAreRoundedToSixteen) {
    struct { uint64_t count; uint32_t unit; uint32_t size; } cases[] = {
        {0, 1, 0}, {1, 1, 16}, {16, 1, 16}, {17, 1, 32}, {9, 2, 32}, {3, 4, 16},
        {5, 4, 32}, {0, 16, 0}, {1, 16, 16}, {7, 16, 112}, {1000, 1, 1008},
    };
    for (auto& c : cases) {
        NodeId n = alloc_series(c.count, c.unit, 0);
        SeriesBuffer* b = node_buffer(n);
        SCOPED_TRACE(testing::Message() << c.count << " x " << c.unit);
        EXPECT_EQ(b->size, c.size);
        EXPECT_EQ(b->flags, c.unit | SERIES_IN_USE | SERIES_NEW);
        EXPECT_EQ(b->node, n);
        EXPECT_EQ(b->head, 0u);
        EXPECT_EQ(b->tail, 0u);
        EXPECT_EQ(b->unit(), c.unit);
    }
}

TEST_F(Memory, SizeHelpersTurnZeroIntoSixteenBytes) {
    EXPECT_EQ(node_buffer(alloc_bytes(0))->size, 16u);
    EXPECT_EQ(node_buffer(alloc_bytes(20))->size, 32u);
    for (uint32_t unit : {1u, 2u, 4u}) {
        SeriesBuffer* b = node_buffer(alloc_string_buffer(0, unit));
        EXPECT_EQ(b->size, 16u) << unit;
        EXPECT_EQ(b->unit(), unit);
    }
    EXPECT_EQ(node_buffer(alloc_string_buffer(5, 4))->size, 32u);
    SeriesBuffer* c = node_buffer(alloc_cells(3));
    EXPECT_EQ(c->size, 48u);
    EXPECT_EQ(c->unit(), 16u);
    EXPECT_EQ(node_buffer(alloc_cells(0))->size, 0u);
}

TEST_F(Memory, HeadOffsets) {
    struct { uint64_t count; uint32_t unit; int64_t offset; uint32_t head; bool middle; } cases[] = {
        {10, 1, -1, 8, true},  {100, 2, -1, 104, true}, {64, 4, -1, 128, true},
        {4, 16, -1, 32, true}, {16, 1, 4, 4, false},    {0, 1, -1, 0, true},
    };
    for (auto& c : cases) {
        SeriesBuffer* b = node_buffer(alloc_series(c.count, c.unit, c.offset));
        SCOPED_TRACE(testing::Message() << c.count << " x " << c.unit << " @" << c.offset);
        EXPECT_EQ(b->head, c.head);
        EXPECT_EQ(b->tail, c.head);
        EXPECT_EQ((b->flags & SERIES_HEAD_MIDDLE) != 0, c.middle);
        EXPECT_EQ(b->head % c.unit, 0u) << "the head stays on a unit boundary";
    }
}

TEST_F(Memory, BuffersArePackedWithTheHeaderStride) {
    SeriesBuffer* a = node_buffer(alloc_series(40, 1, 0));
    SeriesBuffer* b = node_buffer(alloc_series(0, 1, 0));
    SeriesBuffer* c = node_buffer(alloc_cells(2));
    auto* pa = reinterpret_cast<uint8_t*>(a);
    EXPECT_EQ(pa, memory.current_series_frame->first());
    EXPECT_EQ(reinterpret_cast<uint8_t*>(b), pa + 48 + SERIES_OVERHEAD);
    EXPECT_EQ(reinterpret_cast<uint8_t*>(c), reinterpret_cast<uint8_t*>(b) + SERIES_OVERHEAD);
    EXPECT_EQ(memory.current_series_frame->free, reinterpret_cast<uint8_t*>(c) + 32 + SERIES_OVERHEAD);
    // Node slots hold buffer addresses, which never carry the free tag.
    EXPECT_EQ(reinterpret_cast<uintptr_t>(b) & 1, 0u);
}

TEST_F(Memory, OversizedRequestsRaiseNoMemory) {
    uint32_t used = memory.current_node_frame ? memory.current_node_frame->used : 0;
    try {
        alloc_series(0x80000000ull, 1, 0);
        FAIL() << "no error";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::internal_no_memory);
    }
    try {
        alloc_series(0x10000000ull, 16, 0);
        FAIL() << "no error";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::internal_no_memory);
    }
    // The node taken for the failed buffer went back.
    EXPECT_EQ(memory.current_node_frame->used, used);
}

TEST_F(Memory, ASeriesLimitTurnsLargerRequestsIntoNoMemory) {
    auto grow = [](NodeId n) { return expand_series(node_buffer(n), int64_t(4 * MB)); };
    auto no_memory = [](auto&& f) {
        try {
            f();
        } catch (const KemError& e) {
            return e.id == Err::internal_no_memory;
        }
        return false;
    };
    NodeId n = alloc_series(16, 1, 0);
    SeriesBuffer* b = node_buffer(n);
    std::memcpy(b->head_ptr(), "abcd", 4);
    b->tail += 4;
    memory.series_limit = 3 * MB;
    uint32_t used = memory.current_node_frame->used;
    EXPECT_TRUE(no_memory([&] { grow(n); }));
    EXPECT_TRUE(no_memory([&] { alloc_series(4 * MB, 1, 0); }));
    EXPECT_TRUE(no_memory([&] { alloc_heap_series(4 * MB / 16, 16, 0); }));
    // Nothing was taken and the series is as it was; requests within the
    // limit go on being served.
    EXPECT_EQ(memory.current_node_frame->used, used);
    EXPECT_EQ(node_buffer(n), b);
    EXPECT_EQ(std::memcmp(b->head_ptr(), "abcd", 4), 0);
    EXPECT_EQ(expand_series(b, int64_t(3 * MB))->size, 3 * MB);
    EXPECT_NE(alloc_series(MB, 1, 0), 0u);
    // Without a limit the same growth succeeds.
    memory.series_limit = 0;
    SeriesBuffer* grown = grow(n);
    EXPECT_EQ(grown->size, 4 * MB);
    EXPECT_EQ(std::memcmp(grown->head_ptr(), "abcd", 4), 0);
}

// --- Big frames and series frames -------------------------------------------------

// Whatever is allocated counts, and the collection is asked for once the
// budget is spent, also while the frames still have room: where the room
// happens to be does not decide when a collection runs.
TEST_F(Memory, EveryKindOfAllocationCountsTowardTheBudget) {
    struct {
        const char* kind;
        void (*allocate)();
        uint32_t bytes;  // what one allocation counts, its node included
    } cases[] = {
        {"small buffers in a frame with room", [] { alloc_series(1000, 1, 0); }, 1008 + SERIES_OVERHEAD + NODE_BYTES},
        {"nodes", [] { alloc_node(); }, NODE_BYTES},
        {"heap series", [] { alloc_heap_series(100, 16, 0); }, 1600 + SERIES_OVERHEAD + NODE_BYTES},
        {"memory outside the frames", [] { note_external_alloc(5000); }, 5000},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.kind);
        memory_free_all();
        collector_switch = CollectorSwitch{};
        collector_switch.active = true;
        alloc_series(16, 1, 0);  // the first frame, 1 MB
        memory.allocated = 0;
        memory.budget = 256 * 1024;
        collector_switch.requested = false;
        const uint64_t rounds = memory.budget / c.bytes;
        for (uint64_t i = 1; i < rounds; i++) c.allocate();
        EXPECT_FALSE(collector_switch.requested);
        EXPECT_EQ(memory.allocated, (rounds - 1) * c.bytes);
        c.allocate();
        c.allocate();
        EXPECT_TRUE(collector_switch.requested);
        EXPECT_EQ(series_frames().size(), 1u) << "no new frame was needed";
    }
    note_external_free(memory.external);
}

TEST_F(Memory, TheBudgetGrowsWithWhatSurvived) {
    set_budget_after_collection(MB);
    EXPECT_EQ(memory.budget, BUDGET_FLOOR) << "a small heap still collects after the floor";
    EXPECT_EQ(memory.allocated, 0u);
    set_budget_after_collection(100 * MB);
    EXPECT_EQ(memory.budget, 100 * MB) << "a large one after as much again as survived";
}

TEST_F(Memory, RequestsReachingTwoMegabytesGetBigFrames) {
    // need = bytes + 24: 0x1FFFE0 bytes need 0x1FFFF8, just below 2 MB;
    // 0x1FFFE1 bytes round to 0x1FFFF0 and need 0x200008.
    // The budget is 0: every allocation asks for a collection when the
    // collector is enabled.
    struct { uint64_t bytes; bool active; bool big; bool requested; } cases[] = {
        {0x1FFFE0, true, false, true},
        {0x1FFFE1, false, true, false},
        {0x1FFFE1, true, true, true},
        {0x300000, true, true, true},
    };
    for (auto& c : cases) {
        memory_free_all();
        collector_switch = CollectorSwitch{};
        memory.budget = 0;
        collector_switch.active = c.active;
        SCOPED_TRACE(testing::Message() << std::hex << c.bytes << " active " << c.active);
        NodeId n = alloc_series(c.bytes, 1, 0);
        SeriesBuffer* b = node_buffer(n);
        EXPECT_EQ((b->flags & SERIES_BIG) != 0, c.big);
        EXPECT_EQ(collector_switch.requested, c.requested);
        EXPECT_EQ(b->size, (c.bytes + 15) & ~15ull);
        b->data()[b->size - 1] = 1;  // the whole capacity is writable
        if (c.big) {
            EXPECT_EQ(memory.big_frames->buffer(), b);
            EXPECT_EQ(memory.last_big_frame, memory.big_frames);
            EXPECT_EQ(memory.first_series_frame, nullptr);
        } else {
            EXPECT_EQ(frame_data_size(memory.current_series_frame), 2 * MB)
                << "a request as large as the next frame raises it to the largest size";
        }
    }
}

TEST_F(Memory, BigFramesAreListedInOrderAndFreedOneByOne) {
    const uint64_t frame_bytes = page_round(3 * MB + SERIES_OVERHEAD + sizeof(BigFrame) + 16);
    SeriesBuffer* a = node_buffer(alloc_series(3 * MB, 1, 0));
    SeriesBuffer* b = node_buffer(alloc_series(3 * MB, 1, 0));
    SeriesBuffer* c = node_buffer(alloc_series(3 * MB, 1, 0));
    EXPECT_EQ(memory.big_frames->buffer(), a);
    EXPECT_EQ(memory.big_frames->next->buffer(), b);
    EXPECT_EQ(memory.last_big_frame->buffer(), c);
    uint64_t total = memory.total;
    big_frame_free(c);
    EXPECT_EQ(memory.last_big_frame->buffer(), b);
    big_frame_free(a);
    EXPECT_EQ(memory.big_frames->buffer(), b);
    EXPECT_EQ(memory.total, total - 2 * frame_bytes);
    SeriesBuffer* d = node_buffer(alloc_series(3 * MB, 1, 0));
    EXPECT_EQ(memory.big_frames->next->buffer(), d);
    EXPECT_EQ(memory.last_big_frame->buffer(), d);
}

TEST_F(Memory, SeriesFramesGrowFromOneToTwoMegabytesInAddressOrder) {
    alloc_series(16, 1, 0);
    SeriesFrame* f1 = memory.current_series_frame;
    EXPECT_EQ(frame_data_size(f1), 1 * MB);
    EXPECT_EQ(f1->size, 1 * MB + sizeof(SeriesFrame));
    EXPECT_EQ(memory.next_series_frame_size, 2 * MB);
    // Buffers of 256 KB (plus header): three fit in the first frame, seven in a 2 MB frame.
    std::vector<SeriesBuffer*> bufs;
    for (int i = 0; i < 17; i++) bufs.push_back(node_buffer(alloc_series(256 * 1024, 1, 0)));
    auto frames = series_frames();
    ASSERT_EQ(frames.size(), 3u);
    EXPECT_EQ(memory.last_series_frame, frames.back());
    for (size_t i = 0; i < frames.size(); i++) {
        if (i > 0) {
            EXPECT_LT(frames[i - 1], frames[i]) << "the list is sorted by address";
            EXPECT_EQ(frames[i]->prev, frames[i - 1]);
        }
        if (frames[i] != f1) {
            EXPECT_EQ(frame_data_size(frames[i]), 2 * MB);
        }
    }
    EXPECT_EQ(memory.next_series_frame_size, 2 * MB);
    EXPECT_TRUE(frame_holds(memory.current_series_frame, bufs.back()))
        << "the newest frame is where buffers are taken";
    int in_first = 0;
    for (auto* b : bufs) in_first += frame_holds(f1, b);
    EXPECT_EQ(in_first, 3);
    EXPECT_EQ(memory.total, NODE_FRAME_BYTES + page_round(MB + sizeof(SeriesFrame) + 16) +
                                2 * page_round(2 * MB + sizeof(SeriesFrame) + 16));
}

TEST_F(Memory, FullCurrentFrameLooksBackButNotIntoANearlyFullFrame) {
    // remainder in the first frame; whether the next small request settles there
    struct { uint64_t left_in_first; uint64_t opener; bool reuse; } cases[] = {
        {40000, 50000, false},   // below 0xCCCC: a new frame even though it fits
        {60000, 70000, true},
    };
    for (auto& c : cases) {
        memory_free_all();
        collector_switch = CollectorSwitch{};
        SCOPED_TRACE(c.left_in_first);
        alloc_series(0, 1, 0);
        SeriesFrame* a = memory.current_series_frame;
        fill_current_frame(c.left_in_first);
        // A request the first frame cannot take: nothing has room, so a
        // second frame is made.
        alloc_series(c.opener, 1, 0);
        SeriesFrame* b = memory.current_series_frame;
        EXPECT_NE(a, b);
        fill_current_frame(1008);
        uint64_t a_room = frame_room(a);

        SeriesBuffer* x = node_buffer(alloc_series(2000, 1, 0));
        if (c.reuse) {
            EXPECT_EQ(memory.current_series_frame, a);
            EXPECT_TRUE(frame_holds(a, x));
            EXPECT_EQ(frame_room(a), a_room - 2000 - SERIES_OVERHEAD);
            EXPECT_EQ(series_frames().size(), 2u);
        } else {
            SeriesFrame* n = memory.current_series_frame;
            EXPECT_NE(n, a);
            EXPECT_NE(n, b);
            EXPECT_TRUE(frame_holds(n, x));
            EXPECT_EQ(frame_room(a), a_room);
            EXPECT_EQ(series_frames().size(), 3u);
        }
    }
}

// --- Expansion and copies ---------------------------------------------------------

TEST_F(Memory, ExpansionMovesTheBufferBehindTheSameNode) {
    NodeId n = alloc_series(4, 4, 0);
    set_series_flags(n, SERIES_OWNED);
    SeriesBuffer* old = node_buffer(n);
    uint32_t words[3] = {0x11111111, 0x22222222, 0x33333333};
    std::memcpy(old->tail_ptr(), words, 12);
    old->tail += 12;
    uint32_t flags = old->flags;

    SeriesBuffer* b = expand_series(old, 0);
    EXPECT_NE(b, old);
    EXPECT_EQ(node_buffer(n), b);
    EXPECT_EQ(b->node, n);
    EXPECT_EQ(b->size, 32u);
    EXPECT_EQ(b->flags, flags);
    EXPECT_EQ(b->used(), 12u);
    EXPECT_EQ(std::memcmp(b->head_ptr(), words, 12), 0);
    EXPECT_EQ(old->node, 0u);
    EXPECT_EQ(old->flags & SERIES_IN_USE, 0u);

    SeriesBuffer* c = expand_series(b, 100);  // 25 units of 4
    EXPECT_EQ(c->size, 112u);
    EXPECT_EQ(c->used(), 12u);
    EXPECT_EQ(std::memcmp(c->head_ptr(), words, 12), 0);
}

TEST_F(Memory, ExpansionOfAMiddleHeadKeepsTheContentAtTheNewHead) {
    NodeId n = alloc_series(32, 1, -1);
    SeriesBuffer* b = node_buffer(n);
    ASSERT_EQ(b->head, 16u);
    std::memcpy(b->tail_ptr(), "abcdefghijklmnop", 16);
    b->tail += 16;
    SeriesBuffer* nb = expand_series(b, 0);
    EXPECT_EQ(nb->size, 64u);
    EXPECT_EQ(nb->head, 0u);
    EXPECT_EQ(nb->used(), 16u);
    EXPECT_EQ(std::memcmp(nb->head_ptr(), "abcdefghijklmnop", 16), 0);
}

TEST_F(Memory, ExpansionToANonPositiveSizeRaisesNoMemory) {
    struct { uint64_t count; int64_t size; } cases[] = {{0, 0}, {4, -16}, {0, -1}};
    for (auto& c : cases) {
        NodeId n = alloc_series(c.count, 1, 0);
        SeriesBuffer* b = node_buffer(n);
        try {
            expand_series(b, c.size);
            ADD_FAILURE() << "no error for " << c.count << " " << c.size;
        } catch (const KemError& e) {
            EXPECT_EQ(e.id, Err::internal_no_memory);
        }
        EXPECT_EQ(node_buffer(n), b) << "a failed expansion leaves the series alone";
        EXPECT_NE(b->flags & SERIES_IN_USE, 0u);
    }
}

TEST_F(Memory, ShrinkingKeepsWhatFits) {
    NodeId n = alloc_series(64, 1, 0);
    SeriesBuffer* b = node_buffer(n);
    std::memset(b->data(), 'x', 64);
    b->tail = 64;
    SeriesBuffer* nb = expand_series_buffer(b, 16);
    EXPECT_EQ(nb->size, 16u);
    EXPECT_EQ(nb->used(), 16u) << "the tail stays inside the data";
    nb = expand_series(nb, 8);
    EXPECT_EQ(nb->size, 16u);
}

TEST_F(Memory, ExpansionIntoABigFrameSetsTheBigFlag) {
    NodeId n = alloc_series(1536 * 1024, 1, 0);
    SeriesBuffer* b = node_buffer(n);
    EXPECT_EQ(b->flags & SERIES_BIG, 0u);
    b->data()[0] = 7;
    b->tail = 1;
    SeriesBuffer* nb = expand_series(b, 0);
    EXPECT_NE(nb->flags & SERIES_BIG, 0u);
    EXPECT_EQ(nb->size, 3072u * 1024);
    EXPECT_EQ(nb->head_ptr()[0], 7);
    // Back from a big frame into a series frame: the flag goes.
    SeriesBuffer* small = expand_series(nb, 64);
    EXPECT_EQ(small->flags & SERIES_BIG, 0u);
    EXPECT_EQ(small->head_ptr()[0], 7);
}

TEST_F(Memory, ExpandFilledFillsFromTheOldSize) {
    NodeId n = alloc_bytes(16);
    SeriesBuffer* b = node_buffer(n);
    std::memcpy(b->data(), "0123456789", 10);
    b->tail = 10;
    SeriesBuffer* nb = expand_series_filled(b, 48, '.');
    EXPECT_EQ(nb->size, 48u);
    EXPECT_EQ(nb->used(), 10u);
    EXPECT_EQ(std::memcmp(nb->data(), "0123456789", 10), 0);
    for (uint32_t i = 16; i < 48; i++) EXPECT_EQ(nb->data()[i], '.') << i;
}

TEST_F(Memory, CopySeriesBufferIsIndependent) {
    NodeId n = alloc_series(4, 16, -1);
    set_series_flags(n, SERIES_COMPLEMENT);
    SeriesBuffer* b = node_buffer(n);
    Cell* c = b->cell_tail();
    make_integer(&c[0], 1);
    make_integer(&c[1], 2);
    b->tail += 32;
    NodeId m = copy_series_buffer(b);
    EXPECT_NE(m, n);
    SeriesBuffer* cb = node_buffer(m);
    EXPECT_EQ(cb->node, m);
    EXPECT_EQ(cb->size, b->size);
    EXPECT_EQ(cb->unit(), 16u);
    EXPECT_NE(cb->flags & SERIES_COMPLEMENT, 0u);
    EXPECT_NE(cb->flags & SERIES_IN_USE, 0u);
    EXPECT_EQ(cb->used(), 32u);
    EXPECT_EQ(std::memcmp(cb->head_ptr(), b->head_ptr(), 32), 0);
    make_integer(&b->cell_head()[0], 99);
    EXPECT_EQ(cell_int(&cb->cell_head()[0]), 1);
}

TEST_F(Memory, FilledAllocations) {
    SeriesBuffer* u = node_buffer(alloc_unset_cells(3));
    EXPECT_EQ(u->size, 48u);
    EXPECT_EQ(u->head, u->tail);
    for (int i = 0; i < 3; i++) {
        const Cell* c = reinterpret_cast<Cell*>(u->data()) + i;
        EXPECT_EQ(c->header, uint32_t(TYPE_UNSET));
        EXPECT_EQ(c->data1 | c->data2 | c->data3, 0u);
    }
    EXPECT_EQ(node_buffer(alloc_unset_cells(0))->size, 16u) << "at least one cell";
    EXPECT_EQ(reinterpret_cast<Cell*>(node_buffer(alloc_unset_cells(0))->data())->header, uint32_t(TYPE_UNSET));

    SeriesBuffer* f = node_buffer(alloc_bytes_filled(5, 0xAB));
    EXPECT_EQ(f->size, 16u);
    EXPECT_EQ(f->used(), 0u);
    for (uint32_t i = 0; i < f->size; i++) EXPECT_EQ(f->data()[i], 0xAB);
    EXPECT_EQ(node_buffer(alloc_bytes_filled(0, 1))->data()[15], 1);
}

TEST_F(Memory, HeapSeriesLiveOutsideTheFrames) {
    uint64_t total = memory.total;
    NodeId n = alloc_heap_series(10, 2, -1);
    SeriesBuffer* b = node_buffer(n);
    EXPECT_EQ(b->flags, 2u | SERIES_IN_USE | SERIES_NEW | SERIES_HEAP | SERIES_HEAD_MIDDLE);
    EXPECT_EQ(b->size, 32u);
    EXPECT_EQ(b->head, 16u);
    EXPECT_EQ(b->node, n);
    for (SeriesFrame* f : series_frames()) EXPECT_FALSE(frame_holds(f, b));
    EXPECT_EQ(memory.total, total + NODE_FRAME_BYTES) << "only the node frame came from the frames";
    // Growing moves it into the frames like any buffer.
    SeriesBuffer* nb = expand_series(b, 0);
    EXPECT_EQ(nb->flags & SERIES_HEAP, 0u);
    EXPECT_EQ(node_buffer(n), nb);
}

// --- Sweeping and releasing ---------------------------------------------------------

TEST_F(Memory, BigFramesSweepKeepsMarkedAndQueuesTheNodesOfTheRest) {
    NodeId kept = alloc_series(3 * MB, 1, 0);
    NodeId dead = alloc_series(3 * MB, 1, 0);
    NodeId grown = alloc_series(3 * MB, 1, 0);
    NodeId last = alloc_series(3 * MB, 1, 0);
    SeriesBuffer* abandoned = node_buffer(grown);
    expand_series(abandoned, 0);  // leaves a dead big buffer with node 0 behind
    uint64_t frame_total = memory.total;
    node_buffer(kept)->flags |= SERIES_MARK;
    node_buffer(grown)->flags |= SERIES_MARK;
    node_buffer(last)->flags |= SERIES_MARK;

    freed_by_sweep.clear();
    big_frames_sweep(record_freed);
    EXPECT_EQ(freed_by_sweep, std::vector<NodeId>{dead});
    std::vector<SeriesBuffer*> left;
    for (BigFrame* f = memory.big_frames; f; f = f->next) left.push_back(f->buffer());
    EXPECT_EQ(left, (std::vector<SeriesBuffer*>{node_buffer(kept), node_buffer(last), node_buffer(grown)}));
    for (SeriesBuffer* b : left) EXPECT_EQ(b->flags & SERIES_MARK, 0u);
    EXPECT_EQ(memory.last_big_frame->buffer(), node_buffer(grown));
    EXPECT_LT(memory.total, frame_total);

    // An unmarked last frame goes too, and the list end follows.
    node_buffer(kept)->flags |= SERIES_MARK;
    node_buffer(last)->flags |= SERIES_MARK;
    big_frames_sweep(record_freed);
    EXPECT_EQ(memory.last_big_frame->buffer(), node_buffer(last));
    EXPECT_EQ(freed_by_sweep.back(), grown);
    SeriesBuffer* fresh = node_buffer(alloc_series(3 * MB, 1, 0));
    EXPECT_EQ(memory.last_big_frame->buffer(), fresh);
    EXPECT_EQ(memory.big_frames->next->next->buffer(), fresh);
}

TEST_F(Memory, FreeAllReturnsEveryFrameAndTheTotalToZero) {
    EXPECT_EQ(memory.total, 0u);
    alloc_series(16, 1, 0);
    EXPECT_EQ(memory.total, NODE_FRAME_BYTES + page_round(MB + sizeof(SeriesFrame) + 16));
    for (int i = 0; i < 3; i++) alloc_series(700 * 1024, 1, 0);
    for (uint32_t i = 0; i < NODES_PER_FRAME; i++) alloc_node();
    uint64_t before_big = memory.total;
    alloc_series(5 * MB, 1, 0);
    EXPECT_EQ(memory.total - before_big, page_round(5 * MB + SERIES_OVERHEAD + sizeof(BigFrame) + 16));

    memory_free_all();
    EXPECT_EQ(memory.total, 0u);
    EXPECT_EQ(memory.first_node_frame, nullptr);
    EXPECT_EQ(memory.last_node_frame, nullptr);
    EXPECT_EQ(memory.current_node_frame, nullptr);
    EXPECT_EQ(memory.first_series_frame, nullptr);
    EXPECT_EQ(memory.last_series_frame, nullptr);
    EXPECT_EQ(memory.current_series_frame, nullptr);
    EXPECT_EQ(memory.big_frames, nullptr);
    EXPECT_EQ(memory.last_big_frame, nullptr);
    EXPECT_EQ(memory.next_series_frame_size, MB);

    // And allocation starts over from a first frame of 1 MB.
    alloc_bytes(0);
    EXPECT_EQ(frame_data_size(memory.current_series_frame), MB);
}

TEST_F(Memory, OsFramesCountRoundedPages) {
    uint64_t total = memory.total;
    void* a = os_frame_alloc(1);
    void* b = os_frame_alloc(4096);
    EXPECT_EQ(memory.total, total + 4096 + 8192);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(a) % 16, 0u);
    std::memset(b, 0xFF, 4096);
    os_frame_free(a);
    os_frame_free(b);
    EXPECT_EQ(memory.total, total);
}
