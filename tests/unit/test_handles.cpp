#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <vector>
#include "runtime/core/handles.h"

using namespace kem;

namespace {

std::vector<uintptr_t> released;
void record_release(uintptr_t v) { released.push_back(v); }

class HandleTable : public ::testing::Test {
protected:
    uint32_t image = 0;
    void SetUp() override {
        handle_table_init();
        released.clear();
        image = handle_type_register("image", record_release);
    }
};

std::vector<int32_t> list_from(int32_t head) {
    std::vector<int32_t> out;
    for (int32_t i = head; i >= 0 && out.size() <= handle_capacity(); i = handle_entry(i)->next) out.push_back(i);
    return out;
}

// Every entry is on exactly one list; used entries are not free, free entries
// are free with value 0.
void expect_lists_sound() {
    std::vector<int32_t> used = list_from(handle_used_head());
    std::vector<int32_t> free = list_from(handle_free_head());
    std::vector<int> seen(handle_capacity(), 0);
    for (int32_t i : used) {
        seen[i]++;
        EXPECT_FALSE(handle_entry(i)->flags & HANDLE_FREE) << i;
    }
    for (int32_t i : free) {
        seen[i]++;
        EXPECT_EQ(handle_entry(i)->flags, HANDLE_FREE) << i;
        EXPECT_EQ(handle_entry(i)->value, 0u) << i;
    }
    for (uint32_t i = 0; i < handle_capacity(); i++) ASSERT_EQ(seen[i], 1) << "entry " << i;
}

} // namespace

TEST_F(HandleTable, InitLinksAllEntriesFreeInIndexOrder) {
    EXPECT_EQ(image, 1u);
    EXPECT_STREQ(handle_type(image)->name, "image");
    EXPECT_EQ(handle_capacity(), 1000u);
    EXPECT_EQ(handle_used_head(), -1);
    std::vector<int32_t> free = list_from(handle_free_head());
    ASSERT_EQ(free.size(), 1000u);
    for (int32_t i = 0; i < 1000; i++) EXPECT_EQ(free[i], i);
    expect_lists_sound();
}

TEST_F(HandleTable, AllocPushesOnUsedListMostRecentFirst) {
    EXPECT_EQ(handle_alloc(0xA0, image), 0);
    EXPECT_EQ(handle_alloc(0xB0, image), 1);
    EXPECT_EQ(handle_alloc(0xC0, 7), 2);
    EXPECT_EQ(list_from(handle_used_head()), (std::vector<int32_t>{2, 1, 0}));
    EXPECT_EQ(handle_entry(1)->flags, image);
    EXPECT_EQ(handle_entry(1)->value, 0xB0u);
    EXPECT_EQ(handle_entry(2)->flags, 7u);
    expect_lists_sound();
}

TEST_F(HandleTable, ThousandAllocationsDoubleTheArrayAndKeepIndexes) {
    for (int32_t i = 0; i < 1000; i++) ASSERT_EQ(handle_alloc(uintptr_t(i) * 16 + 8, image), i);
    EXPECT_EQ(handle_capacity(), 2000u);
    for (int32_t i = 0; i < 1000; i++) {
        EXPECT_EQ(handle_entry(i)->value, uintptr_t(i) * 16 + 8);
        EXPECT_EQ(handle_entry(i)->flags, image);
    }
    EXPECT_EQ(handle_alloc(1, image), 1000);
    expect_lists_sound();
    // And once more past the second half.
    for (int32_t i = 1001; i < 2000; i++) ASSERT_EQ(handle_alloc(1, image), i);
    EXPECT_EQ(handle_capacity(), 4000u);
    expect_lists_sound();
}

TEST_F(HandleTable, FreeUnlinksReleasesOnRequestAndIsReusedFirst) {
    int32_t a = handle_alloc(0xA0, image);
    int32_t b = handle_alloc(0xB0, image);
    int32_t c = handle_alloc(0xC0, image);

    // Freeing the head moves the head to the next entry.
    EXPECT_EQ(handle_free(c, true), -1);
    EXPECT_EQ(handle_used_head(), b);
    EXPECT_EQ(released, (std::vector<uintptr_t>{0xC0}));
    EXPECT_EQ(handle_free_head(), c);
    EXPECT_EQ(handle_entry(c)->flags, HANDLE_FREE);
    EXPECT_EQ(handle_entry(c)->value, 0u);

    // From the middle of the used list, without releasing.
    handle_alloc(0xD0, image);
    EXPECT_EQ(handle_free(b, false), -1);
    EXPECT_EQ(list_from(handle_used_head()), (std::vector<int32_t>{c, a}));
    EXPECT_EQ(released.size(), 1u);

    // A second free of the same index, and indexes outside the table, change nothing.
    handle_free(b, true);
    handle_free(-1, true);
    handle_free(5000, true);
    EXPECT_EQ(released.size(), 1u);
    expect_lists_sound();

    EXPECT_EQ(handle_alloc(0xE0, image), b);
    expect_lists_sound();
}

TEST_F(HandleTable, SweepReleasesUnmarkedEntriesExactlyOnce) {
    int32_t a = handle_alloc(0xA0, image);
    int32_t b = handle_alloc(0xB0, image);
    int32_t c = handle_alloc(0xC0, image);
    int32_t d = handle_alloc(0xD0, image);

    EXPECT_TRUE(handle_mark(a, 0));
    EXPECT_FALSE(handle_mark(a, 0));       // already marked
    EXPECT_TRUE(handle_mark(c, 0xC1));     // a new value replaces the old one
    handle_sweep();
    // d headed the used list and b sat between kept entries: both relinked around.
    EXPECT_EQ(released, (std::vector<uintptr_t>{0xD0, 0xB0}));
    EXPECT_EQ(list_from(handle_used_head()), (std::vector<int32_t>{c, a}));
    EXPECT_EQ(handle_entry(c)->value, 0xC1u);
    EXPECT_FALSE(handle_entry(a)->flags & HANDLE_MARK);
    EXPECT_EQ(handle_free_head(), b);
    expect_lists_sound();

    // The next collection keeps what it marks and never releases b or d again.
    released.clear();
    handle_mark(a, 0);
    handle_mark(c, 0);
    handle_sweep();
    EXPECT_TRUE(released.empty());
    handle_sweep();
    EXPECT_EQ(released, (std::vector<uintptr_t>{0xC1, 0xA0}));
    EXPECT_EQ(handle_used_head(), -1);
    expect_lists_sound();
}

TEST_F(HandleTable, MarkIgnoresIndexesThatNameNoUsedEntry) {
    int32_t a = handle_alloc(0xA0, image);
    handle_free(a, false);
    EXPECT_FALSE(handle_mark(a, 0x99));
    EXPECT_EQ(handle_entry(a)->value, 0u);
    EXPECT_FALSE(handle_mark(-3, 0));
    EXPECT_FALSE(handle_mark(1000000, 0x99));
    expect_lists_sound();
}

TEST_F(HandleTable, SetValueReleasesOnlyAReplacedValue) {
    int32_t a = handle_alloc(0xA0, image);
    handle_set_value(a, 0xA0);
    EXPECT_TRUE(released.empty());
    handle_set_value(a, 0xA8);
    EXPECT_EQ(released, (std::vector<uintptr_t>{0xA0}));
    EXPECT_EQ(handle_entry(a)->value, 0xA8u);
}

TEST_F(HandleTable, ReleaseNeedsARegisteredTypeWithACallback) {
    uint32_t plain = handle_type_register("plain", nullptr);
    EXPECT_EQ(plain, 2u);
    handle_release(0, 1);                  // no type
    handle_release(plain, 2);              // no callback
    handle_release(19, 3);                 // never registered
    handle_release(HANDLE_MARK | image, 4);
    EXPECT_EQ(released, (std::vector<uintptr_t>{4}));

    for (uint32_t t = 3; t <= HANDLE_TYPE_CAPACITY; t++) EXPECT_EQ(handle_type_register("t", nullptr), t);
    EXPECT_EQ(handle_type_register("one too many", record_release), 0u);
    EXPECT_EQ(handle_type(21), nullptr);
}

namespace {
std::vector<std::pair<uint32_t, uintptr_t>> visited;
void visit(uint32_t t, uintptr_t v) { visited.push_back({t, v}); }
} // namespace

TEST_F(HandleTable, ForeachVisitsUsedEntriesOfOneType) {
    uint32_t other = handle_type_register("other", nullptr);
    handle_alloc(0xA0, image);
    int32_t b = handle_alloc(0xB0, other);
    handle_alloc(0xC0, image);
    handle_alloc(0xD0, image);
    handle_free(handle_used_head(), false);  // 0xD0
    visited.clear();
    handle_foreach(image, visit);
    EXPECT_EQ(visited, (std::vector<std::pair<uint32_t, uintptr_t>>{{image, 0xC0}, {image, 0xA0}}));
    visited.clear();
    handle_foreach(other, visit);
    EXPECT_EQ(visited, (std::vector<std::pair<uint32_t, uintptr_t>>{{other, 0xB0}}));
    (void)b;
}

// A long mixed run of the operations against a simple model: the lists stay
// sound, and every resource is released exactly once, when freed with release
// or swept unmarked.
TEST_F(HandleTable, MixedOperationsMatchAModel) {
    std::mt19937 rng(1234);
    std::map<int32_t, uintptr_t> live;
    std::multiset<uintptr_t> expected_released;
    uintptr_t next_value = 1;
    for (int step = 0; step < 20000; step++) {
        int op = rng() % 10;
        if (op < 6 || live.empty()) {
            uintptr_t v = next_value++;
            int32_t i = handle_alloc(v, image);
            ASSERT_EQ(live.count(i), 0u) << "index handed out twice";
            live[i] = v;
        } else if (op < 8) {
            auto it = std::next(live.begin(), rng() % live.size());
            bool rel = rng() % 2;
            if (rel) expected_released.insert(it->second);
            handle_free(it->first, rel);
            live.erase(it);
        } else if (op == 8) {
            for (auto it = live.begin(); it != live.end();) {
                if (rng() % 3) {
                    handle_mark(it->first, 0);
                    ++it;
                } else {
                    expected_released.insert(it->second);
                    it = live.erase(it);
                }
            }
            handle_sweep();
        } else {
            auto it = std::next(live.begin(), rng() % live.size());
            expected_released.insert(it->second);
            it->second = next_value++;
            handle_set_value(it->first, it->second);
        }
    }
    expect_lists_sound();
    std::vector<int32_t> used = list_from(handle_used_head());
    EXPECT_EQ(used.size(), live.size());
    for (int32_t i : used) EXPECT_EQ(handle_entry(i)->value, live.at(i));
    EXPECT_EQ(std::multiset<uintptr_t>(released.begin(), released.end()), expected_released);
}
