#include "runtime/services/sort.h"
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include "runtime/core/errors.h"
#include "runtime/platform/exit.h"
#include "runtime/services/sort_impl.h"

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

// The plain interface's records: any size, compared through the callback,
// found again through the relocate hook after each call when there is one.
struct CallbackRecords {
    uint8_t* base;
    uint32_t size;
    intptr_t user1, user2;
    SortCompare callback;
    void* (*relocate)(intptr_t);
    intptr_t where;

    explicit CallbackRecords(const SortRecords& r)
        : base(static_cast<uint8_t*>(r.base)), size(r.size), user1(r.user1), user2(r.user2), callback(r.compare),
          relocate(r.relocate), where(r.where) {}
    uint32_t record_size() const { return size; }
    int compare(const void* a, const void* b) { return callback(a, b, user1, user2); }
    void refresh() {
        if (relocate) base = static_cast<uint8_t*>(relocate(where));
    }
    void swap(void* a, void* b) { sort_swap(a, b, size); }
};

using Sorter = sorting::Sorter<CallbackRecords>;

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
    Sorter(CallbackRecords(r)).merge_sort(r.count, static_cast<uint8_t*>(scratch));
}

void quick_sort(const SortRecords& r) {
    if (r.count < 2 || r.size == 0) return;
    Sorter(CallbackRecords(r)).quick_sort(r.count);
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
