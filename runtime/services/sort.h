// Sorting fixed-size records in place with a compare callback.
//
// merge_sort is stable (a natural merge sort with n / 2 records of scratch);
// quick_sort is unstable, needs no extra memory and finishes ordered or
// reverse-ordered input in one pass. Both work by record index and never hold
// a record address across a call of the callback, so a caller whose buffer may
// move while the callback runs (a comparator written in Kem) can pass a
// relocate hook instead of pinning the buffer. sort_impl.h holds the
// algorithms, also for records of a fixed type with an inline comparison.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kem {

// Negative or 0: a may stay before b; positive: a must come after b.
// quick_sort also reads 0 as "a and b are equivalent", so its callback must be
// a consistent three-way comparison; merge_sort needs only the sign test.
// a and b are valid until the callback does anything that may move buffers:
// copy the records out first.
using SortCompare = int (*)(const void* a, const void* b, intptr_t user1, intptr_t user2);

struct SortRecords {
    void* base = nullptr;     // record 0 (re-read through relocate when set)
    uint32_t count = 0;       // number of records
    uint32_t size = 0;        // bytes per record
    intptr_t user1 = 0;
    intptr_t user2 = 0;
    SortCompare compare = nullptr;
    // When set, called after every comparison (and when a callback error
    // unwinds) to find record 0 again: the callback may have moved the buffer.
    void* (*relocate)(intptr_t where) = nullptr;
    intptr_t where = 0;
    // merge_sort's room for count / 2 records; from the heap when null. A caller
    // whose records hold values supplies one the collector can see, since records
    // sit only there in the middle of a merge.
    void* scratch = nullptr;
};

// Raises script too-long when the scratch size does not fit 32 bits. An error
// raised by the callback unwinds through the sort and leaves the records a
// permutation of the input.
void merge_sort(const SortRecords& records);
void quick_sort(const SortRecords& records);

// The plain forms: records at a fixed address.
void merge_sort(void* base, uint32_t count, uint32_t size, intptr_t user1, intptr_t user2, SortCompare compare);
void quick_sort(void* base, uint32_t count, uint32_t size, intptr_t user1, intptr_t user2, SortCompare compare);

// Exchanges two records of size bytes.
void sort_swap(void* a, void* b, uint32_t size);

} // namespace kem
