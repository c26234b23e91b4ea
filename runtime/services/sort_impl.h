// The record sorts behind merge_sort and quick_sort, as a template over how
// records are reached and compared: sort.cpp instantiates it for the plain
// interface (a compare callback through a function pointer, any record size);
// a caller with records of a fixed type and a comparison the compiler can
// inline instantiates it with TypedRecords. Both run the same algorithm, so
// the same comparisons give the same order.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

namespace kem::sorting {

constexpr uint32_t MIN_RUN = 24;        // shorter runs are extended by insertion
constexpr uint32_t SMALL_PARTITION = 7; // partitions this small are sorted by insertion

inline int sort_sign(int c) { return (c > 0) - (c < 0); }

// All positions are record indexes: the base address is re-derived after every
// callback, which may have moved the buffer. Records (see CallbackRecords and
// TypedRecords) gives the base, the record size, the comparison and the swap.
template <class Records>
class Sorter {
public:
    explicit Sorter(const Records& r) : r_(r) {}

    void merge_sort(uint32_t n, uint8_t* scratch);
    void quick_sort(uint32_t n);

private:
    uint32_t size() const { return r_.record_size(); }
    uint8_t* at(uint64_t i) const { return r_.base + i * size(); }
    int call(const void* a, const void* b) {
        int c = r_.compare(a, b);
        r_.refresh();
        return c;
    }
    int cmp(uint64_t i, uint64_t j) { return call(at(i), at(j)); }
    void swap(uint64_t i, uint64_t j) {
        if (i != j) r_.swap(at(i), at(j));
    }
    void copy_out(uint8_t* dst, uint64_t i, uint64_t count) { std::memcpy(dst, at(i), count * size()); }
    void copy_in(uint64_t i, const uint8_t* src, uint64_t count) { std::memcpy(at(i), src, count * size()); }

    void reverse(uint32_t lo, uint32_t hi);
    void insertion(uint32_t lo, uint32_t from, uint32_t hi);
    void move_block(uint32_t src, uint32_t dst, uint32_t count);

    uint32_t sort_find_run(uint32_t lo, uint32_t hi);
    uint32_t next_run(uint32_t lo, uint32_t n);
    void sort_merge_runs(uint32_t l, uint32_t m, uint32_t r, uint8_t* scratch);

    bool in_order(int dir, uint64_t i, uint64_t j) { return dir * sort_sign(cmp(i, j)) <= 0; }
    uint32_t ordered_prefix(uint32_t n);
    void sort_partition(uint32_t lo, int64_t k, uint32_t n);

    Records r_;
};

template <class Records>
void Sorter<Records>::reverse(uint32_t lo, uint32_t hi) {
    while (hi > lo + 1) swap(lo++, --hi);
}

// [lo, from) is in order; moves each later record left past every greater one.
template <class Records>
void Sorter<Records>::insertion(uint32_t lo, uint32_t from, uint32_t hi) {
    for (uint32_t i = std::max(from, lo + 1); i < hi; i++) {
        for (uint32_t j = i; j > lo && cmp(j - 1, j) > 0; j--) swap(j - 1, j);
    }
}

// Puts the count records at src, in their order, at dst; the records there take
// the freed places. Safe when the two ranges overlap.
template <class Records>
void Sorter<Records>::move_block(uint32_t src, uint32_t dst, uint32_t count) {
    if (dst < src) {
        for (uint32_t t = 0; t < count; t++) swap(dst + t, src + t);
    } else if (dst > src) {
        for (uint32_t t = count; t-- > 0;) swap(src + t, dst + t);
    }
}

// ---- merge sort ----------------------------------------------------------------

// The run starting at lo: in order (callback <= 0), or strictly descending and
// then reversed. Equal neighbours end a descending run, which keeps it stable.
template <class Records>
uint32_t Sorter<Records>::sort_find_run(uint32_t lo, uint32_t hi) {
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

template <class Records>
uint32_t Sorter<Records>::next_run(uint32_t lo, uint32_t n) {
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
template <class Records>
void Sorter<Records>::sort_merge_runs(uint32_t l, uint32_t m, uint32_t r, uint8_t* scratch) {
    if (r - m < m - l) {
        uint32_t nr = r - m;
        copy_out(scratch, m, nr);
        int64_t i = int64_t(m) - 1, j = int64_t(nr) - 1, dest = int64_t(r) - 1;
        try {
            while (i >= int64_t(l) && j >= 0) {
                if (call(at(i), scratch + j * size()) > 0) {
                    std::memcpy(at(dest), at(i), size());
                    i--;
                } else {
                    std::memcpy(at(dest), scratch + j * size(), size());
                    j--;
                }
                dest--;
            }
        } catch (...) {
            r_.refresh();
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
                if (call(scratch + i * size(), at(j)) <= 0) {
                    std::memcpy(at(dest), scratch + i * size(), size());
                    i++;
                } else {
                    std::memcpy(at(dest), at(j), size());
                    j++;
                }
                dest++;
            }
        } catch (...) {
            r_.refresh();
            copy_in(dest, scratch + i * size(), nl - i);
            throw;
        }
        copy_in(dest, scratch + i * size(), nl - i);
    }
}

// Depth in the merge tree of the boundary between runs [a1, a2) and [a2, b2):
// the first bit where the binary fractions of their midpoints over n differ.
inline int node_power(uint64_t a1, uint64_t a2, uint64_t b2, uint64_t n) {
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

template <class Records>
void Sorter<Records>::merge_sort(uint32_t n, uint8_t* scratch) {
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
template <class Records>
uint32_t Sorter<Records>::ordered_prefix(uint32_t n) {
    // dir: +1 ascending, -1 descending, 0 while every pair so far is equal.
    int dir = 0;
    uint32_t i = 1;
    for (; i < n; i++) {
        int c = sort_sign(cmp(i - 1, i));
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
template <class Records>
void Sorter<Records>::sort_partition(uint32_t lo, int64_t k, uint32_t n) {
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

template <class Records>
void Sorter<Records>::quick_sort(uint32_t n) {
    uint32_t prefix = ordered_prefix(n);
    if (prefix < n) sort_partition(0, prefix, n);
}


// Records of one trivially copyable type in memory that never moves, with a
// three-way comparison (negative, 0, positive) of two records.
template <class Record, class Compare>
struct TypedRecords {
    uint8_t* base;
    Compare compare_records;
    static constexpr uint32_t record_size() { return sizeof(Record); }
    int compare(const void* a, const void* b) {
        return compare_records(*static_cast<const Record*>(a), *static_cast<const Record*>(b));
    }
    void refresh() {}
    void swap(void* a, void* b) { std::swap(*static_cast<Record*>(a), *static_cast<Record*>(b)); }
};

// The stable sort of n records (merge_sort's algorithm), with room for n / 2
// of them in scratch.
template <class Record, class Compare>
void merge_sort_typed(Record* records, uint32_t n, Record* scratch, Compare compare) {
    if (n < 2) return;
    TypedRecords<Record, Compare> r{reinterpret_cast<uint8_t*>(records), compare};
    Sorter<TypedRecords<Record, Compare>>(r).merge_sort(n, reinterpret_cast<uint8_t*>(scratch));
}

// The unstable sort of n records (quick_sort's algorithm).
template <class Record, class Compare>
void quick_sort_typed(Record* records, uint32_t n, Compare compare) {
    if (n < 2) return;
    TypedRecords<Record, Compare> r{reinterpret_cast<uint8_t*>(records), compare};
    Sorter<TypedRecords<Record, Compare>>(r).quick_sort(n);
}

} // namespace kem::sorting
