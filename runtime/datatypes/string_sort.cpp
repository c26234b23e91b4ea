// string!: sort, by code points or records of code points.
//
// The code points are sorted as 4-byte units in a private copy and written
// back, so every buffer width shares one comparator and a Kem comparator
// cannot disturb the sort by moving or widening the string.
#include <algorithm>
#include <vector>
#include "runtime/core/stack.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/services/sort.h"

namespace kem {

namespace {

// How code points fold without /case: a 1-byte buffer folds A..Z only.
enum Fold : intptr_t { FOLD_NONE, FOLD_ASCII, FOLD_FULL };

inline int32_t fold(int32_t c, intptr_t mode) {
    if (mode == FOLD_ASCII) return c >= 'A' && c <= 'Z' ? c + 32 : c;
    if (mode == FOLD_FULL) return string_fold(c);
    return c;
}

int string_sort_compare(const void* a, const void* b, intptr_t mode, intptr_t flags) {
    const int32_t* x = static_cast<const int32_t*>(a);
    const int32_t* y = static_cast<const int32_t*>(b);
    uint32_t first = 0, count = 1;
    if (flags & SORT_ALL) count = uint32_t(flags) >> 2;
    else first = uint32_t(flags) >> 2;
    for (uint32_t k = first; k < first + count; k++) {
        const int32_t d = fold(x[k], mode) - fold(y[k], mode);
        if (d) return (flags & SORT_REVERSE) ? -d : d;
    }
    return 0;
}

void make_record_argument(Cell* slot, const int32_t* record, uint32_t whole) {
    if (!whole) {
        make_char(slot, record[0]);
        return;
    }
    string_make_at(slot, whole);
    for (uint32_t k = 0; k < whole; k++) string_append_char(slot, record[k]);
}

int string_sort_compare_func(const void* a, const void* b, intptr_t fn_cell, intptr_t flags) {
    const Cell* fn = reinterpret_cast<const Cell*>(fn_cell);
    const uint32_t whole = (flags & SORT_ALL) ? uint32_t(flags) >> 2 : 0;
    // Asked about (b, a), or (a, b) with /reverse, as for blocks.
    const int32_t* first = static_cast<const int32_t*>((flags & SORT_REVERSE) ? a : b);
    const int32_t* second = static_cast<const int32_t*>((flags & SORT_REVERSE) ? b : a);
    Cell* saved_top = stack::top;
    Cell* args = stack::push_slot();
    stack::push_slot();
    make_record_argument(&args[0], first, whole);
    make_record_argument(&args[1], second, whole);
    const Cell x = args[0], y = args[1];
    const int32_t r = sort_call_comparator(fn, &x, &y);
    stack::top = saved_top;
    return r;
}

} // namespace

Cell* string_sort(Cell* series, const SortArgs& refs) {
    int32_t pos, n, size;
    uint32_t flags;
    if (!sort_prepare(series, int32_t(string_full_length(series)), refs.skip, refs.compare, refs.part, refs.all,
                      refs.reverse, &pos, &n, &size, &flags))
        return series;
    std::vector<int32_t> cps(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++) cps[size_t(i)] = string_char_at(series, uint32_t(pos + i));
    const bool told = series_notify_owner(series, ChangeWord::sort, nullptr, pos, n);
    const uint32_t records = uint32_t(n / size);
    const uint32_t bytes = uint32_t(size) * 4;
    const Cell fn = refs.compare ? *refs.compare : none_value;
    Cell* saved_top = stack::top;
    SortRecords r;
    r.base = cps.data();
    r.count = records;
    r.size = bytes;
    r.user2 = intptr_t(flags);
    if (is_type(&fn, TYPE_FUNCTION)) {
        r.user1 = reinterpret_cast<intptr_t>(stack::push(&fn));
        r.compare = string_sort_compare_func;
    } else {
        r.user1 = refs.case_ ? FOLD_NONE : (unit_shift(series_buffer(series)) == 0 ? FOLD_ASCII : FOLD_FULL);
        r.compare = string_sort_compare;
    }
    if (refs.stable) merge_sort(r);
    else quick_sort(r);
    stack::top = saved_top;
    // A comparator may have changed the string: write back what still fits.
    const int64_t room = std::min<int64_t>(int64_t(string_full_length(series)) - pos, n);
    for (int64_t i = 0; i < room; i++)
        string_overwrite_char(series_buffer(series), uint32_t(pos + i), cps[size_t(i)]);
    if (told) series_notify_owner(series, ChangeWord::sorted, nullptr, pos, n);
    return series;
}

} // namespace kem
