// block!: sort, in place and by records, with the default comparator or a
// Kem function. string_sort.cpp shares the call of a Kem comparator;
// block_sort_keys.cpp sorts records keyed by integers or strings.
//
// A Kem comparator may run a collection or change the block it is sorting, so
// its records are sorted in a private copy that never moves (a heap block on
// the data stack, which the collector sees) and written back afterwards.
#include <algorithm>
#include <cstring>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/evaluator.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/native.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/sort.h"

namespace kem {

int32_t sort_call_comparator(const Cell* fn, const Cell* first, const Cell* second) {
    const Cell args[2] = {*first, *second};
    Cell* saved_top = stack::top;
    stack::push_function_frame(&rt_words.compare_callback, function_context(fn));
    interp::push_callback_arguments(fn, args, 2);
    interp::call_function(fn, interp::CALLBACK_SORT);
    if (interp::pending()) throw PendingExit{};
    stack::pop_function_frame_keep_result();
    const Cell r = *saved_top;
    stack::top = saved_top;
    switch (type_of(&r)) {
    case TYPE_LOGIC: return r.data1 ? 1 : -1;
    case TYPE_INTEGER: return (cell_int(&r) > 0) - (cell_int(&r) < 0);
    case TYPE_FLOAT: {
        const double d = cell_float(&r);
        return (d > 0.0) - (d < 0.0);
    }
    case TYPE_NONE: return -1;
    default: return 1;
    }
}

bool sort_prepare(Cell* series, int32_t length, Cell* skip, Cell* comparator, Cell* part, bool all, bool reverse,
                  int32_t* pos, int32_t* n, int32_t* size, uint32_t* flags) {
    *pos = std::max(series_position(series), 0);
    *n = length - *pos;
    if (*n <= 0) return false;
    if (part) {
        int32_t count;
        if (is_type(part, TYPE_INTEGER)) count = cell_int(part);
        else if (type_of(part) == type_of(series) && series_node(part) == series_node(series))
            count = series_position(part) - series_position(series);
        else fire(Err::script_invalid_refine_arg, word_load("part"), *part);
        if (count < 0) {
            const int32_t start = std::max(*pos + count, 0);
            *n = *pos - start;
            *pos = start;
        } else {
            *n = std::min(*n, count);
        }
    }
    if (*n <= 0) return false;
    *size = 1;
    if (skip) {
        const int32_t s = is_type(skip, TYPE_INTEGER) ? cell_int(skip) : 0;
        if (s < 1 || s > *n || *n % s != 0) fire(Err::script_invalid_refine_arg, word_load("skip"), *skip);
        *size = s;
    }
    if (all && !skip) fire(Err::script_bad_refines);
    *flags = reverse ? SORT_REVERSE : 0;
    if (comparator) {
        if (is_type(comparator, TYPE_FUNCTION)) {
            if (all) *flags |= SORT_ALL | (uint32_t(*size) << 2);
        } else if (is_type(comparator, TYPE_INTEGER)) {
            if (!skip || all) fire(Err::script_bad_refines);
            const int32_t offset = cell_int(comparator);
            if (offset < 1 || offset > *size) fire(Err::script_out_of_range, *comparator);
            *flags |= uint32_t(offset - 1) << 2;
        } else {
            fire(Err::script_invalid_refine_arg, word_load("compare"), *comparator);
        }
    } else if (all) {
        *flags |= SORT_ALL | (uint32_t(*size) << 2);
    }
    return true;
}

namespace {

int block_sort_compare(const void* a, const void* b, intptr_t op, intptr_t flags) {
    const Cell* x = static_cast<const Cell*>(a);
    const Cell* y = static_cast<const Cell*>(b);
    if (flags & SORT_REVERSE) std::swap(x, y);
    uint32_t first = 0, count = 1;
    if (flags & SORT_ALL) count = uint32_t(flags) >> 2;
    else first = uint32_t(flags) >> 2;
    for (uint32_t k = first; k < first + count; k++) {
        Cell* p = const_cast<Cell*>(x + k);
        Cell* q = const_cast<Cell*>(y + k);
        int32_t r = compare_values(p, q, CompareOp(op));
        // Values that cannot be compared group by type.
        if (r == -2 && type_of(p) != type_of(q)) r = int32_t(type_of(p)) - int32_t(type_of(q));
        if (r) return r;
    }
    return 0;
}

// The argument for one record: its first cell, or a new block holding the
// whole record.
void push_record_argument(Cell* slot, const Cell* record, uint32_t whole) {
    if (!whole) {
        *slot = *record;
        return;
    }
    Cell blk;
    block_make_at(&blk, int32_t(whole));
    for (uint32_t k = 0; k < whole; k++) block_append_cell(&blk, &record[k]);
    *slot = blk;
}

int block_sort_compare_func(const void* a, const void* b, intptr_t fn_cell, intptr_t flags) {
    const Cell* fn = reinterpret_cast<const Cell*>(fn_cell);
    const uint32_t whole = (flags & SORT_ALL) ? uint32_t(flags) >> 2 : 0;
    // The function is asked about (b, a), or (a, b) with /reverse.
    const Cell* first = (flags & SORT_REVERSE) ? static_cast<const Cell*>(a) : static_cast<const Cell*>(b);
    const Cell* second = (flags & SORT_REVERSE) ? static_cast<const Cell*>(b) : static_cast<const Cell*>(a);
    Cell* saved_top = stack::top;
    Cell* args = stack::push_slot();
    stack::push_slot();
    push_record_argument(&args[0], first, whole);
    push_record_argument(&args[1], second, whole);
    const Cell x = args[0], y = args[1];
    const int32_t r = sort_call_comparator(fn, &x, &y);
    stack::top = saved_top;
    return r;
}

// A heap block of n cells (never moved by the collector) pushed on the stack.
Cell* push_pinned_cells(uint32_t n) {
    Cell* c = stack::push_slot();
    block_make_filled_at(c, int32_t(std::max<uint32_t>(n, 1)), true);
    block_set_tail_at(c, n);
    return c;
}

} // namespace

Cell* block_sort(Cell* series, const SortArgs& refs) {
    int32_t pos, n, size;
    uint32_t flags;
    if (!sort_prepare(series, int32_t(block_full_length(series)), refs.skip, refs.compare, refs.part, refs.all,
                      refs.reverse, &pos, &n, &size, &flags))
        return series;
    const bool told = series_notify_owner(series, ChangeWord::sort, nullptr, pos, n);
    if (told) {
        // The handler may have shortened the block: sort the whole records still in it.
        n = std::clamp(int32_t(block_full_length(series)) - pos, 0, n);
        n -= n % size;
    }
    const uint32_t records = uint32_t(n / size);
    const uint32_t bytes = uint32_t(size) * 16;
    if (refs.compare && is_type(refs.compare, TYPE_FUNCTION)) {
        Cell* saved_top = stack::top;
        const Cell fn = *refs.compare;
        Cell* fn_slot = stack::push(&fn);
        Cell* copy = push_pinned_cells(uint32_t(n));
        std::memcpy(block_rs_abs_at(copy, 0), block_rs_abs_at(series, uint32_t(pos)), size_t(n) * 16);
        SortRecords r;
        r.base = block_rs_abs_at(copy, 0);
        r.count = records;
        r.size = bytes;
        r.user1 = reinterpret_cast<intptr_t>(fn_slot);
        r.user2 = intptr_t(flags);
        r.compare = block_sort_compare_func;
        if (refs.stable) {
            Cell* scratch = push_pinned_cells(records / 2 * uint32_t(size));
            r.scratch = block_rs_abs_at(scratch, 0);
            merge_sort(r);
        } else {
            quick_sort(r);
        }
        // The comparator may have changed the block: write back what still fits.
        const int64_t room = int64_t(block_full_length(series)) - pos;
        if (room > 0)
            std::memcpy(block_rs_abs_at(series, uint32_t(pos)), block_rs_abs_at(copy, 0),
                        size_t(std::min<int64_t>(room, n)) * 16);
        stack::top = saved_top;
    } else {
        Cell* cells = block_rs_abs_at(series, uint32_t(pos));
        // Records compared by one field: by keys when that field allows.
        const bool one_field = !(flags & SORT_ALL) || size == 1;
        const uint32_t field = (flags & SORT_ALL) ? 0 : flags >> 2;
        if (!one_field || !block_sort_by_keys(cells, records, uint32_t(size), field, refs.reverse, refs.case_,
                                              refs.stable)) {
            // The sort passes its comparison operator through the sorter as a number.
            const intptr_t op = intptr_t(refs.case_ ? CompareOp::case_sort : CompareOp::sort);
            if (refs.stable) merge_sort(cells, records, bytes, op, intptr_t(flags), block_sort_compare);
            else quick_sort(cells, records, bytes, op, intptr_t(flags), block_sort_compare);
        }
    }
    if (told) series_notify_owner(series, ChangeWord::sorted, nullptr, pos, n);
    return series;
}

} // namespace kem
