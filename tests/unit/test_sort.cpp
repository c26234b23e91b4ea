#include <gtest/gtest.h>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/services/sort.h"

using namespace kem;

namespace {

// A record is `size` bytes; its key is its first min(size, 4) bytes, little
// endian. Records of 8 bytes or more carry their input position in bytes 4..7,
// which the comparator ignores, so stability shows.
uint32_t key_of(const void* r, intptr_t width) {
    uint32_t k = 0;
    std::memcpy(&k, r, static_cast<size_t>(width));
    return k;
}

struct Probe {
    long calls = 0;
    long throw_at = -1;   // throw on this call
    std::function<void()> on_call;
};

struct Thrown {};

int by_key(const void* a, const void* b, intptr_t width, intptr_t probe) {
    uint32_t ka = key_of(a, width), kb = key_of(b, width);
    auto* p = reinterpret_cast<Probe*>(probe);
    if (p) {
        if (p->calls++ == p->throw_at) throw Thrown{};
        if (p->on_call) p->on_call();
    }
    return ka < kb ? -1 : ka > kb ? 1 : 0;
}

enum class Shape { random, few_keys, sorted, reversed, nearly_sorted, nearly_reversed, organ_pipe, all_equal };
const Shape shapes[] = {Shape::random,   Shape::few_keys,        Shape::sorted,     Shape::reversed,
                        Shape::nearly_sorted, Shape::nearly_reversed, Shape::organ_pipe, Shape::all_equal};

std::vector<uint8_t> make_records(uint32_t n, uint32_t size, Shape shape, std::mt19937& gen) {
    uint32_t width = std::min(size, 4u);
    uint32_t key_mask = width == 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
    std::vector<uint32_t> keys(n);
    for (uint32_t i = 0; i < n; i++) {
        switch (shape) {
        case Shape::random: keys[i] = gen(); break;
        case Shape::few_keys: keys[i] = gen() % 4; break;
        case Shape::sorted:
        case Shape::nearly_sorted: keys[i] = i; break;
        case Shape::reversed:
        case Shape::nearly_reversed: keys[i] = n - i; break;
        case Shape::organ_pipe: keys[i] = i < n / 2 ? i : n - i; break;
        case Shape::all_equal: keys[i] = 7; break;
        }
    }
    if ((shape == Shape::nearly_sorted || shape == Shape::nearly_reversed) && n > 1) {
        for (uint32_t t = 0; t < n / 50 + 1; t++) std::swap(keys[gen() % n], keys[gen() % n]);
    }
    std::vector<uint8_t> v(size_t(n) * size);
    for (uint32_t i = 0; i < n; i++) {
        uint8_t* r = &v[size_t(i) * size];
        for (uint32_t b = 0; b < size; b++) r[b] = static_cast<uint8_t>(gen());
        uint32_t k = keys[i] & key_mask;
        std::memcpy(r, &k, width);
        if (size >= 8) std::memcpy(r + 4, &i, 4);
    }
    return v;
}

std::vector<std::string> split(const std::vector<uint8_t>& v, uint32_t size) {
    std::vector<std::string> out;
    for (size_t i = 0; i < v.size(); i += size) out.emplace_back(reinterpret_cast<const char*>(&v[i]), size);
    return out;
}

std::vector<std::string> stable_expected(const std::vector<uint8_t>& v, uint32_t size) {
    std::vector<std::string> recs = split(v, size);
    intptr_t width = std::min(size, 4u);
    std::stable_sort(recs.begin(), recs.end(),
                     [&](const std::string& a, const std::string& b) { return key_of(a.data(), width) < key_of(b.data(), width); });
    return recs;
}

bool same_records(std::vector<std::string> a, std::vector<std::string> b) {
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

using SortFn = void (*)(void*, uint32_t, uint32_t, intptr_t, intptr_t, SortCompare);

} // namespace

TEST(Sort, AgreesWithStableSort) {
    std::mt19937 gen(11);
    const uint32_t counts[] = {0, 1, 2, 3, 7, 8, 9, 23, 24, 25, 49, 100, 511, 512, 1000, 4099};
    const uint32_t sizes[] = {1, 4, 5, 7, 12, 16, 80};
    for (uint32_t n : counts) {
        for (uint32_t size : sizes) {
            for (Shape shape : shapes) {
                std::vector<uint8_t> v = make_records(n, size, shape, gen);
                std::vector<std::string> want = stable_expected(v, size);
                intptr_t width = std::min(size, 4u);

                std::vector<uint8_t> m = v;
                merge_sort(m.data(), n, size, width, 0, by_key);
                ASSERT_EQ(split(m, size), want) << "merge n=" << n << " size=" << size << " shape=" << int(shape);

                std::vector<uint8_t> q = v;
                quick_sort(q.data(), n, size, width, 0, by_key);
                std::vector<std::string> got = split(q, size);
                for (uint32_t i = 0; i < n; i++) {
                    ASSERT_EQ(key_of(got[i].data(), width), key_of(want[i].data(), width))
                        << "quick n=" << n << " size=" << size << " shape=" << int(shape) << " at " << i;
                }
                ASSERT_TRUE(same_records(got, want)) << "quick n=" << n << " size=" << size;
            }
        }
    }
}

TEST(Sort, LargeInputsUseGrowingSamples) {
    // Large enough for sampled partition rounds (the range above 256 times the
    // sample); 300001 records take two of them. Records are key and position.
    std::mt19937 gen(5);
    struct { uint32_t n; Shape shape; } cases[] = {
        {100000, Shape::random}, {100000, Shape::few_keys}, {100000, Shape::nearly_sorted},
        {100000, Shape::organ_pipe}, {300001, Shape::random}, {300001, Shape::few_keys},
    };
    auto as_words = [](const std::vector<uint8_t>& v) {
        std::vector<uint64_t> w(v.size() / 8);
        std::memcpy(w.data(), v.data(), v.size());
        return w;
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> v = make_records(c.n, 8, c.shape, gen);
        std::vector<uint64_t> want = as_words(v);
        // Key in the low half: stable order is by key, then by position.
        std::sort(want.begin(), want.end(), [](uint64_t a, uint64_t b) {
            return uint32_t(a) != uint32_t(b) ? uint32_t(a) < uint32_t(b) : a < b;
        });
        std::vector<uint8_t> m = v;
        merge_sort(m.data(), c.n, 8, 4, 0, by_key);
        ASSERT_EQ(as_words(m), want) << c.n << " " << int(c.shape);
        std::vector<uint8_t> q = v;
        quick_sort(q.data(), c.n, 8, 4, 0, by_key);
        std::vector<uint64_t> got = as_words(q);
        for (uint32_t i = 0; i < c.n; i++) ASSERT_EQ(uint32_t(got[i]), uint32_t(want[i])) << i;
        std::sort(got.begin(), got.end());
        std::sort(want.begin(), want.end());
        ASSERT_EQ(got, want);
    }
}

TEST(Sort, OrderedInputTakesOneLinearPass) {
    struct { SortFn sort; const char* name; } sorts[] = {{merge_sort, "merge"}, {quick_sort, "quick"}};
    std::mt19937 gen(1);
    for (const auto& s : sorts) {
        for (Shape shape : {Shape::sorted, Shape::reversed}) {
            std::vector<uint8_t> v = make_records(1000, 8, shape, gen);
            Probe probe;
            s.sort(v.data(), 1000, 8, 4, reinterpret_cast<intptr_t>(&probe), by_key);
            EXPECT_EQ(probe.calls, 999) << s.name << " " << int(shape);
            for (uint32_t i = 0; i < 1000; i++) ASSERT_EQ(key_of(&v[i * 8], 4), i + 1 - (shape == Shape::sorted)) << i;
        }
        for (uint32_t n : {0u, 1u}) {
            Probe probe;
            uint8_t rec[8] = {};
            s.sort(rec, n, 8, 4, reinterpret_cast<intptr_t>(&probe), by_key);
            EXPECT_EQ(probe.calls, 0) << s.name;
        }
    }
}

TEST(Sort, DescendingRunsWithEqualNeighboursStayStable) {
    // Keys 9 8 8 7 7 7 6 ...: reversing a whole non-ascending run would swap equals.
    std::vector<uint8_t> v;
    uint32_t pos = 0;
    for (uint32_t k = 40; k > 0; k--) {
        for (uint32_t t = 0; t < k % 3 + 1; t++, pos++) {
            uint8_t r[8];
            std::memcpy(r, &k, 4);
            std::memcpy(r + 4, &pos, 4);
            v.insert(v.end(), r, r + 8);
        }
    }
    std::vector<std::string> want = stable_expected(v, 8);
    merge_sort(v.data(), pos, 8, 4, 0, by_key);
    EXPECT_EQ(split(v, 8), want);
}

TEST(Sort, CallbackErrorLeavesAPermutation) {
    struct { SortFn sort; const char* name; } sorts[] = {{merge_sort, "merge"}, {quick_sort, "quick"}};
    std::mt19937 gen(3);
    for (const auto& s : sorts) {
        for (Shape shape : {Shape::random, Shape::few_keys, Shape::nearly_reversed}) {
            std::vector<uint8_t> v = make_records(3000, 12, shape, gen);
            std::vector<std::string> original = split(v, 12);
            Probe count;
            std::vector<uint8_t> c = v;
            s.sort(c.data(), 3000, 12, 4, reinterpret_cast<intptr_t>(&count), by_key);
            const long total = count.calls;
            for (long at : {0L, 1L, 30L, total / 10, total / 3, total / 2, total * 9 / 10, total - 1}) {
                std::vector<uint8_t> w = v;
                Probe probe;
                probe.throw_at = at;
                EXPECT_THROW(s.sort(w.data(), 3000, 12, 4, reinterpret_cast<intptr_t>(&probe), by_key), Thrown)
                    << s.name << " at " << at;
                EXPECT_TRUE(same_records(split(w, 12), original)) << s.name << " at " << at;
            }
        }
    }
}

TEST(Sort, InconsistentComparatorStaysInBounds) {
    static std::mt19937 coin(9);
    auto any = [](const void*, const void*, intptr_t, intptr_t) -> int { return int(coin() % 3) - 1; };
    struct { SortFn sort; const char* name; } sorts[] = {{merge_sort, "merge"}, {quick_sort, "quick"}};
    std::mt19937 gen(4);
    for (const auto& s : sorts) {
        for (uint32_t n : {5u, 30u, 700u, 20000u}) {
            std::vector<uint8_t> v = make_records(n, 8, Shape::random, gen);
            std::vector<uint8_t> w = v;
            s.sort(w.data(), n, 8, 0, 0, any);
            EXPECT_TRUE(same_records(split(w, 8), split(v, 8))) << s.name << " n=" << n;
        }
    }
}

TEST(Sort, RecordsThatMoveDuringTheCallback) {
    // Every few comparisons the records move to a new buffer and the old one is
    // freed, as a collection may do while a comparator runs; a stale address
    // would read freed memory.
    struct Moving {
        std::unique_ptr<uint8_t[]> buf;
        size_t bytes;
        void move() {
            auto fresh = std::make_unique<uint8_t[]>(bytes);
            std::memcpy(fresh.get(), buf.get(), bytes);
            buf = std::move(fresh);
        }
    };
    static Moving moving;
    auto locate = [](intptr_t) -> void* { return moving.buf.get(); };
    std::mt19937 gen(8);
    for (bool stable : {true, false}) {
        for (Shape shape : {Shape::random, Shape::few_keys, Shape::nearly_sorted, Shape::reversed}) {
            const uint32_t n = 3000, size = 16;
            std::vector<uint8_t> v = make_records(n, size, shape, gen);
            std::vector<std::string> want = stable_expected(v, size);
            moving.bytes = v.size();
            moving.buf = std::make_unique<uint8_t[]>(v.size());
            std::memcpy(moving.buf.get(), v.data(), v.size());
            Probe probe;
            probe.on_call = [&] {
                if (probe.calls % 7 == 0) moving.move();
            };
            std::vector<uint8_t> scratch(size_t(n / 2) * size);
            SortRecords r;
            r.base = moving.buf.get();
            r.count = n;
            r.size = size;
            r.user1 = 4;
            r.user2 = reinterpret_cast<intptr_t>(&probe);
            r.compare = by_key;
            r.relocate = locate;
            r.scratch = scratch.data();
            if (stable) merge_sort(r); else quick_sort(r);
            std::vector<uint8_t> got(moving.buf.get(), moving.buf.get() + v.size());
            if (stable) {
                EXPECT_EQ(split(got, size), want) << int(shape);
            } else {
                EXPECT_TRUE(same_records(split(got, size), want)) << int(shape);
                for (uint32_t i = 0; i < n; i++) ASSERT_EQ(key_of(&got[i * size], 4), key_of(want[i].data(), 4));
            }

            // An error in the middle of a merge puts the buffered records back
            // into the records' current buffer.
            std::memcpy(moving.buf.get(), v.data(), v.size());
            r.base = moving.buf.get();
            probe.throw_at = probe.calls / 2;
            probe.calls = 0;
            if (stable) {
                EXPECT_THROW(merge_sort(r), Thrown);
            } else {
                EXPECT_THROW(quick_sort(r), Thrown);
            }
            std::vector<uint8_t> left(moving.buf.get(), moving.buf.get() + v.size());
            EXPECT_TRUE(same_records(split(left, size), want)) << int(shape);
            moving.buf.reset();
        }
    }
}

TEST(Sort, ScratchTooLargeIsAnError) {
    uint8_t dummy[16] = {};
    try {
        merge_sort(dummy, 0x10000, 0x20000, 0, 0, by_key);  // 0x8000 records of 128 KB
        FAIL() << "no error";
    } catch (const KemError& e) {
        EXPECT_EQ(e.id, Err::script_too_long);
    }
}
