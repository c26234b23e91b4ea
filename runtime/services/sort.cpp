#include "runtime/services/sort.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include "runtime/core/errors.h"
#include "runtime/platform/exit.h"

namespace kem {

void sort_swap(void* a, void* b, uint32_t size) {
    auto* p = static_cast<uint8_t*>(a);
    auto* q = static_cast<uint8_t*>(b);
    uint8_t tmp[64];
    while (size >= sizeof tmp) {
        std::memcpy(tmp, p, sizeof tmp);
        std::memcpy(p, q, sizeof tmp);
        std::memcpy(q, tmp, sizeof tmp);
        p += sizeof tmp;
        q += sizeof tmp;
        size -= sizeof tmp;
    }
    if (size) {
        std::memcpy(tmp, p, size);
        std::memcpy(p, q, size);
        std::memcpy(q, tmp, size);
    }
}

namespace {

constexpr uint32_t MIN_RUN = 24;        // shorter runs are extended by insertion
constexpr uint32_t SMALL_PARTITION = 7; // partitions this small are sorted by insertion

inline int sign(int c) { return (c > 0) - (c < 0); }

// All positions are record indexes: the base address is re-derived after every
// callback, which may have moved the buffer.
class Sorter {
public:
    explicit Sorter(const SortRecords& r)
        : base_(static_cast<uint8_t*>(r.base)), size_(r.size), user1_(r.user1), user2_(r.user2),
          compare_(r.compare), relocate_(r.relocate), where_(r.where) {}

    void merge_sort(uint32_t n, uint8_t* scratch);
    void quick_sort(uint32_t n);

private:
    uint8_t* at(uint64_t i) const { return base_ + i * size_; }
    void refresh() {
        if (relocate_) base_ = static_cast<uint8_t*>(relocate_(where_));
    }
    int call(const void* a, const void* b) {
        int c = compare_(a, b, user1_, user2_);
        refresh();
        return c;
    }
    int cmp(uint64_t i, uint64_t j) { return call(at(i), at(j)); }
    void swap(uint64_t i, uint64_t j) {
        if (i != j) sort_swap(at(i), at(j), size_);
    }
    void copy_out(uint8_t* dst, uint64_t i, uint64_t count) { std::memcpy(dst, at(i), count * size_); }
    void copy_in(uint64_t i, const uint8_t* src, uint64_t count) { std::memcpy(at(i), src, count * size_); }

    void reverse(uint32_t lo, uint32_t hi);
    void insertion(uint32_t lo, uint32_t from, uint32_t hi);
    void move_block(uint32_t src, uint32_t dst, uint32_t count);

    uint32_t sort_find_run(uint32_t lo, uint32_t hi);
    uint32_t next_run(uint32_t lo, uint32_t n);
    void sort_merge_runs(uint32_t l, uint32_t m, uint32_t r, uint8_t* scratch);

    bool in_order(int dir, uint64_t i, uint64_t j) { return dir * sign(cmp(i, j)) <= 0; }
    uint32_t ordered_prefix(uint32_t n);
    void sort_partition(uint32_t lo, int64_t k, uint32_t n);

    uint8_t* base_;
    uint32_t size_;
    intptr_t user1_, user2_;
    SortCompare compare_;
    void* (*relocate_)(intptr_t);
    intptr_t where_;
};

void Sorter::reverse(uint32_t lo, uint32_t hi) {
    while (hi > lo + 1) swap(lo++, --hi);
}

// [lo, from) is in order; moves each later record left past every greater one.
void Sorter::insertion(uint32_t lo, uint32_t from, uint32_t hi) {
    for (uint32_t i = std::max(from, lo + 1); i < hi; i++) {
        for (uint32_t j = i; j > lo && cmp(j - 1, j) > 0; j--) swap(j - 1, j);
    }
}

// Puts the count records at src, in their order, at dst; the records there take
// the freed places. Safe when the two ranges overlap.
void Sorter::move_block(uint32_t src, uint32_t dst, uint32_t count) {
    if (dst < src) {
        for (uint32_t t = 0; t < count; t++) swap(dst + t, src + t);
    } else if (dst > src) {
        for (uint32_t t = count; t-- > 0;) swap(src + t, dst + t);
    }
}

// ---- merge sort ----------------------------------------------------------------

// The run starting at lo: in order (callback <= 0), or strictly descending and
// then reversed. Equal neighbours end a descending run, which keeps it stable.
uint32_t Sorter::sort_find_run(uint32_t lo, uint32_t hi) {
    if (hi - lo < 2) return hi;
    uint32_t i = lo + 2;
    if (cmp(lo, lo + 1) <= 0) {
        while (i < hi && cmp(i - 1, i) <= 0) i++;
    } else {
        while (i < hi && cmp(i - 1, i) > 0) i++;
        reverse(lo, i);
    }
    return i;
}

uint32_t Sorter::next_run(uint32_t lo, uint32_t n) {
    uint32_t hi = sort_find_run(lo, n);
    if (hi - lo < MIN_RUN) {
        uint32_t end = lo + std::min(MIN_RUN, n - lo);
        insertion(lo, hi, end);
        hi = end;
    }
    return hi;
}

// Merges [l, m) and [m, r) through the scratch, which takes the shorter run.
// When the callback throws, the records still in the scratch go back into the
// gap they left, so the range stays a permutation of its records.
void Sorter::sort_merge_runs(uint32_t l, uint32_t m, uint32_t r, uint8_t* scratch) {
    if (r - m < m - l) {
        uint32_t nr = r - m;
        copy_out(scratch, m, nr);
        int64_t i = int64_t(m) - 1, j = int64_t(nr) - 1, dest = int64_t(r) - 1;
        try {
            while (i >= int64_t(l) && j >= 0) {
                if (call(at(i), scratch + j * size_) > 0) {
                    std::memcpy(at(dest), at(i), size_);
                    i--;
                } else {
                    std::memcpy(at(dest), scratch + j * size_, size_);
                    j--;
                }
                dest--;
            }
        } catch (...) {
            refresh();
            copy_in(i + 1, scratch, j + 1);
            throw;
        }
        copy_in(i + 1, scratch, j + 1);
    } else {
        uint32_t nl = m - l;
        copy_out(scratch, l, nl);
        uint64_t i = 0, j = m, dest = l;
        try {
            while (i < nl && j < r) {
                if (call(scratch + i * size_, at(j)) <= 0) {
                    std::memcpy(at(dest), scratch + i * size_, size_);
                    i++;
                } else {
                    std::memcpy(at(dest), at(j), size_);
                    j++;
                }
                dest++;
            }
        } catch (...) {
            refresh();
            copy_in(dest, scratch + i * size_, nl - i);
            throw;
        }
        copy_in(dest, scratch + i * size_, nl - i);
    }
}

// Depth in the merge tree of the boundary between runs [a1, a2) and [a2, b2):
// the first bit where the binary fractions of their midpoints over n differ.
int node_power(uint64_t a1, uint64_t a2, uint64_t b2, uint64_t n) {
    uint64_t x = a1 + a2, y = a2 + b2;
    int p = 0;
    for (;;) {
        bool xa = x >= n, ya = y >= n;
        if (xa != ya) break;
        p++;
        if (xa) {
            x -= n;
            y -= n;
        }
        x <<= 1;
        y <<= 1;
    }
    return p + 1;
}

void Sorter::merge_sort(uint32_t n, uint8_t* scratch) {
    // Powers rise strictly up the stack and stay below 35 for 32-bit counts.
    struct Pending { uint32_t start; int power; } stack[64];
    int top = 0;
    uint32_t a1 = 0, a2 = next_run(0, n);
    while (a2 < n) {
        uint32_t b2 = next_run(a2, n);
        int p = node_power(a1, a2, b2, n);
        while (top > 0 && stack[top - 1].power > p) {
            uint32_t s = stack[--top].start;
            sort_merge_runs(s, a1, a2, scratch);
            a1 = s;
        }
        stack[top++] = {a1, p};
        a1 = a2;
        a2 = b2;
    }
    while (top > 0) {
        uint32_t s = stack[--top].start;
        sort_merge_runs(s, a1, a2, scratch);
        a1 = s;
    }
}

// ---- quick sort ----------------------------------------------------------------

// Builds a sorted prefix from the ordered stretches of nearly ordered input and
// returns its length; the rest is left for sort_partition.
uint32_t Sorter::ordered_prefix(uint32_t n) {
    // dir: +1 ascending, -1 descending, 0 while every pair so far is equal.
    int dir = 0;
    uint32_t i = 1;
    for (; i < n; i++) {
        int c = sign(cmp(i - 1, i));
        if (dir == 0) {
            dir = -c;
        } else if (dir * c > 0) {
            break;
        }
    }
    uint32_t last = i - 1;

    int64_t score = int64_t(dir) * i;
    for (uint64_t j = uint64_t(i) + 1; j < n; j += 97) {
        int c = cmp(j - 1, j);
        if (c < 0) score++;
        else if (c > 0) score--;
    }
    if ((score < 0 ? -score : score) > int64_t(n / 512)) {
        if ((score > 0 && dir < 0) || (score < 0 && dir > 0)) {
            last = 0;
            dir = -dir;
        }
        uint32_t a = last;
        while (uint64_t(a) + 10 < n) {
            a += 10;
            uint32_t b = a - 1;
            while (a < n && in_order(dir, a - 1, a)) a++;
            while (b > last && in_order(dir, b - 1, b)) b--;
            uint32_t len = a - b;
            if (len < 4) continue;
            if (b == last) {  // the stretch continues the prefix
                last = a - 1;
                continue;
            }
            uint32_t dst = 0;   // a one-record prefix (after a cut back) is replaced
            if (last > 0) {
                // Trade records at the seam until prefix end and stretch start are in order.
                uint32_t most = std::min(len / 2, last / 4);
                uint32_t k = 0;
                while (k < most && !in_order(dir, last - k, b + k)) k++;
                if (k == most) continue;
                last -= k;
                b += k;
                len -= k;
                dst = last + 1;
            }
            for (uint32_t t = 0; t < len; t++) swap(dst + t, b + t);
            last = dst + len - 1;
        }
    }
    if (dir < 0) reverse(0, last + 1);
    return last + 1;
}

// Sorts [lo, lo + n) holding |k| sorted records at its start (k > 0) or end
// (k < 0). Pivots are medians of ever larger sorted samples: each round sorts a
// regular sample 16 times larger than the last, until it is the whole range.
void Sorter::sort_partition(uint32_t lo, int64_t k, uint32_t n) {
    while (n > SMALL_PARTITION) {
        uint32_t h = static_cast<uint32_t>(k < 0 ? -k : k);
        // The region [lo, lo + l): lower sample [lo, pivot), the pivot, records to
        // partition, upper sample (up records, all >= pivot) at its end.
        uint32_t l, lower, up;
        if (h > 2) {
            l = n / 256 < h ? n : 16 * h - 1;
            lower = (h - 1) / 2;
            up = h / 2;
            if (k < 0) move_block(lo + n - h, lo, l < n ? h : lower + 1);
            if (l < n) {
                uint32_t stride = n / l;
                for (uint32_t p = h; p < l; p++) swap(lo + p, lo + p * stride);
            }
            if (k > 0 || l < n) move_block(lo + lower + 1, lo + l - up, up);
        } else {
            l = n > 511 ? 63 : n;
            lower = 1;
            up = 1;
            swap(lo + 1, lo + l / 2);
            uint32_t a = lo, b = lo + 1, c = lo + l - 1;
            if (cmp(a, b) > 0) swap(a, b);
            if (cmp(b, c) > 0) {
                swap(b, c);
                if (cmp(a, b) > 0) swap(a, b);
            }
        }
        const uint64_t pivot = lo + lower;

        // Three-way partition: equals gather right after the pivot, lesser
        // records follow, greater ones go to the right end.
        uint64_t eq = pivot + 1;
        int64_t i = int64_t(pivot) + 1, j = int64_t(lo) + l - up - 1;
        for (;;) {
            while (i <= j) {
                int c = cmp(i, pivot);
                if (c > 0) break;
                if (c == 0) swap(eq++, i);
                i++;
            }
            int c = 1;
            while (i <= j) {
                c = cmp(j, pivot);
                if (c <= 0) break;
                j--;
            }
            if (i > j) break;
            swap(i, j);
            if (c == 0) swap(eq++, i);
            i++;
            j--;
        }
        // [pivot, eq) equal, [eq, i) lesser, [i, lo + l) greater: bring the equal
        // block between the other two by swapping the shorter of it and the lesser.
        uint64_t equal = eq - pivot, lesser = uint64_t(i) - eq, s = std::min(equal, lesser);
        for (uint64_t t = 0; t < s; t++) swap(pivot + t, uint64_t(i) - s + t);
        uint32_t lesser_len = static_cast<uint32_t>(pivot + lesser - lo);
        uint32_t greater_start = static_cast<uint32_t>(i);
        uint32_t greater_len = lo + l - greater_start;

        if (greater_len > up) sort_partition(greater_start, -int64_t(up), greater_len);
        if (l < n) {
            if (lesser_len > lower) sort_partition(lo, lower, lesser_len);
            k = l;   // the sorted region samples the range for the next round
        } else {
            if (lesser_len <= lower) return;
            n = lesser_len;
            k = lower;
        }
    }
    insertion(lo, lo + 1, lo + n);
}

void Sorter::quick_sort(uint32_t n) {
    uint32_t prefix = ordered_prefix(n);
    if (prefix < n) sort_partition(0, prefix, n);
}

} // namespace

void merge_sort(const SortRecords& r) {
    if (r.count < 2 || r.size == 0) return;
    uint64_t bytes = uint64_t(r.size) * (r.count / 2);
    if (bytes > UINT32_MAX) fire(Err::script_too_long);
    std::unique_ptr<void, decltype(&std::free)> owned(nullptr, &std::free);
    void* scratch = r.scratch;
    if (!scratch) {
        scratch = std::malloc(bytes);
        if (!scratch) report_runtime_error(94, __builtin_return_address(0));
        owned.reset(scratch);
    }
    Sorter(r).merge_sort(r.count, static_cast<uint8_t*>(scratch));
}

void quick_sort(const SortRecords& r) {
    if (r.count < 2 || r.size == 0) return;
    Sorter(r).quick_sort(r.count);
}

void merge_sort(void* base, uint32_t count, uint32_t size, intptr_t user1, intptr_t user2, SortCompare compare) {
    SortRecords r;
    r.base = base;
    r.count = count;
    r.size = size;
    r.user1 = user1;
    r.user2 = user2;
    r.compare = compare;
    merge_sort(r);
}

void quick_sort(void* base, uint32_t count, uint32_t size, intptr_t user1, intptr_t user2, SortCompare compare) {
    SortRecords r;
    r.base = base;
    r.count = count;
    r.size = size;
    r.user1 = user1;
    r.user2 = user2;
    r.compare = compare;
    quick_sort(r);
}

} // namespace kem
