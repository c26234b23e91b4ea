// vector!: element-wise arithmetic, append and insert, change, and sort by
// the items' values.
#include <algorithm>
#include <cstring>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/arith.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/vector.h"
#include "runtime/datatypes/vector_impl.h"
#include "runtime/services/sort.h"

namespace kem {

using namespace vector_detail;

namespace {

// --- arithmetic ----------------------------------------------------------------------------

// The integer operators on items: sums, differences and products wrap around
// in 32 bits; a zero divisor is an error, as for integer!.
int32_t int_op(int32_t l, int32_t r, int32_t op) {
    switch (op) {
    case OP_ADD: return int32_t(uint32_t(l) + uint32_t(r));
    case OP_SUBTRACT: return int32_t(uint32_t(l) - uint32_t(r));
    case OP_MULTIPLY: return int32_t(uint32_t(l) * uint32_t(r));
    case OP_DIVIDE:
    case OP_REMAINDER:
        if (r == 0) fire(Err::math_zero_divide);
        if (l == INT32_MIN && r == -1) fire(Err::math_overflow);
        return op == OP_DIVIDE ? l / r : l % r;
    case OP_OR: return l | r;
    case OP_AND: return l & r;
    default: return l ^ r;
    }
}

void store_int(uint8_t* p, uint32_t unit, int32_t v) {
    const uint32_t bits = uint32_t(v);
    std::memcpy(p, &bits, unit);
}

void store_float(uint8_t* p, uint32_t unit, double d) {
    if (unit == 8) {
        std::memcpy(p, &d, 8);
    } else {
        const float f = float(d);
        std::memcpy(p, &f, 4);
    }
}

uint8_t* item_at(const Cell* v, int64_t i) {
    SeriesBuffer* b = series_buffer(v);
    return b->head_ptr() + size_t(i) * unit_bytes(b);
}

int64_t position_of(const Cell* v) {
    return std::clamp<int64_t>(series_position(v), 0, series_unit_count(v));
}

// Two vectors of one item type: a new vector of the shorter one's length,
// items of the larger size.
Cell* with_vector(int32_t op) {
    Cell* left = stack::arguments;
    Cell* right = left + 1;
    const uint32_t type = vector_item_type(left);
    if (vector_item_type(right) != type) fire(Err::script_not_same_type);
    const int64_t p1 = position_of(left), p2 = position_of(right);
    const int64_t n = std::min(series_unit_count(left) - p1, series_unit_count(right) - p2);
    const uint32_t u1 = unit_bytes(series_buffer(left)), u2 = unit_bytes(series_buffer(right));
    const uint32_t unit = std::max(u1, u2);
    Cell result;
    vector_make_buffer(&result, n, type, unit);
    for (int64_t i = 0; i < n; i++) {
        uint8_t* out = item_at(&result, i);
        if (vector_float_type(type)) {
            const double a = vector_read_number(item_at(left, p1 + i), u1, type);
            const double b = vector_read_number(item_at(right, p2 + i), u2, type);
            store_float(out, unit, float_do_math_op(a, b, op));
        } else {
            const int32_t a = vector_read_int(item_at(left, p1 + i), u1, type);
            const int32_t b = vector_read_int(item_at(right, p2 + i), u2, type);
            store_int(out, unit, int_op(a, b, op));
        }
    }
    series_buffer(&result)->tail += uint32_t(n * unit);
    *left = result;
    return left;
}

// A vector and a number: the items from the position change in place.
Cell* with_scalar(int32_t op) {
    Cell* v = stack::arguments;
    const Cell* scalar = v + 1;
    const uint32_t type = vector_item_type(v);
    const uint8_t st = type_of(scalar);
    const bool floats = vector_float_type(type);
    double d = 0;
    int32_t n = 0;
    if (st == TYPE_INTEGER || (st == TYPE_CHAR && !floats)) {
        n = cell_int(scalar);
        d = n;
    } else if (st == TYPE_FLOAT || st == TYPE_PERCENT) {
        d = cell_float(scalar);
        n = trunc_to_int32(d);
    } else {
        fire(Err::internal_not_done);
    }
    const double identity = (op == OP_ADD || op == OP_SUBTRACT) ? 0.0 : 1.0;
    const bool neutral = op <= OP_DIVIDE && (floats ? d == identity : n == int32_t(identity));
    if (neutral) return v;
    const uint32_t unit = unit_bytes(series_buffer(v));
    const int64_t total = series_unit_count(v);
    for (int64_t i = position_of(v); i < total; i++) {
        uint8_t* p = item_at(v, i);
        if (floats) store_float(p, unit, float_do_math_op(vector_read_number(p, unit, type), d, op));
        else store_int(p, unit, int_op(vector_read_int(p, unit, type), n, op));
    }
    return v;
}

Cell* vector_add() { return vector_do_math(OP_ADD); }
Cell* vector_subtract() { return vector_do_math(OP_SUBTRACT); }
Cell* vector_multiply() { return vector_do_math(OP_MULTIPLY); }
Cell* vector_divide() { return vector_do_math(OP_DIVIDE); }
Cell* vector_remainder() { return vector_do_math(OP_REMAINDER); }
Cell* vector_or() { return vector_do_math(OP_OR); }
Cell* vector_and() { return vector_do_math(OP_AND); }
Cell* vector_xor() { return vector_do_math(OP_XOR); }

// --- append, insert, change ------------------------------------------------------------------

bool spliced_kind(uint8_t t) { return t == TYPE_BLOCK || t == TYPE_PAREN || t == TYPE_HASH; }

// The values a source adds: the values of a block kind from its position,
// the items of a vector (change only), or the value itself.
std::vector<Cell> source_values(const Cell* value, bool for_change) {
    const uint8_t t = type_of(value);
    if (spliced_kind(t) || (for_change && t >= TYPE_PATH && t <= TYPE_GET_PATH)) return block_cells_copy(value);
    if (for_change && t == TYPE_VECTOR) {
        std::vector<Cell> items;
        for (int64_t i = position_of(value); i < series_unit_count(value); i++) {
            Cell item;
            vector_get_value(value, uint32_t(i), &item);
            items.push_back(item);
        }
        return items;
    }
    return std::vector<Cell>{*value};
}

// count x dup items of `unit` bytes, refused when a buffer cannot hold them
// beside `used` bytes.
int64_t checked_items(int64_t count, int64_t dup, uint32_t unit, int64_t used) {
    const int64_t room = (MAX_VECTOR_BYTES - used) / unit;
    if (dup > 0 && count > room / dup) fire(Err::internal_no_memory);
    return count * dup;
}

// Replaces `removed` items at `at` by `written` ones (the buffer doubles
// when it must grow): the values, repeated to fill them.
void write_values(Cell* v, int64_t at, int64_t removed, int64_t written, const std::vector<Cell>& values) {
    SeriesBuffer* b = series_buffer(v);
    const uint32_t unit = unit_bytes(b);
    const uint32_t type = vector_item_type(v);
    const int64_t total = b->used() / unit;
    const int64_t need = (total - removed + written) * unit;
    if (need > int64_t(b->size)) b = expand_series(b, std::max<int64_t>(need, std::min<int64_t>(2 * int64_t(b->size), MAX_VECTOR_BYTES)));
    uint8_t* p = b->head_ptr() + size_t(at) * unit;
    std::memmove(p + written * unit, p + removed * unit, size_t(total - at - removed) * unit);
    for (int64_t i = 0; i < written; i++) vector_write(p + i * unit, unit, type, &values[size_t(i) % values.size()]);
    b->tail = b->head + uint32_t(need);
}

Cell* vector_append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append) {
    std::vector<Cell> values = source_values(value, false);
    if (part >= 0 && size_t(part) < values.size()) values.resize(size_t(part));
    if (values.empty() || dup < 1) return series;
    RootedCells keep(values.data(), uint32_t(values.size()));
    const uint32_t type = vector_item_type(series);
    for (const Cell& c : values) vector_check_value(type, &c);
    const uint32_t unit = unit_bytes(series_buffer(series));
    int64_t total = series_unit_count(series);
    const int64_t pos = append ? total : position_of(series);
    const int64_t added = checked_items(int64_t(values.size()), dup, unit, total * unit);
    const ChangeWord before = append ? ChangeWord::append : ChangeWord::insert;
    const bool told = series_notify_owner(series, before, value, int32_t(pos), int32_t(added));
    // The handler may have shortened the vector.
    total = series_unit_count(series);
    const int64_t at = std::min(pos, total);
    write_values(series, at, 0, added, values);
    if (told)
        series_notify_owner(series, append ? ChangeWord::appended : ChangeWord::inserted, value, int32_t(at),
                            int32_t(added));
    if (!append) set_series_position(series, at + added);
    return series;
}

Cell* vector_change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup) {
    std::vector<Cell> values = source_values(value, true);
    if (dup < 1) return series;
    if (values.empty() && part < 0) return series;
    RootedCells keep(values.data(), uint32_t(values.size()));
    const uint32_t type = vector_item_type(series);
    for (const Cell& c : values) vector_check_value(type, &c);
    const uint32_t unit = unit_bytes(series_buffer(series));
    int64_t total = series_unit_count(series);
    int64_t pos = position_of(series);
    const int64_t written = checked_items(int64_t(values.size()), dup, unit, total * unit);
    int64_t removed = std::min<int64_t>(part >= 0 ? part : written, total - pos);
    const bool told = series_notify_owner(series, ChangeWord::change, value, int32_t(pos), int32_t(removed));
    if (told) {
        total = series_unit_count(series);
        pos = std::min(pos, total);
        removed = std::min(removed, total - pos);
    }
    write_values(series, pos, removed, written, values);
    if (told) series_notify_owner(series, ChangeWord::changed, value, int32_t(pos), int32_t(written));
    set_series_position(series, std::min<int64_t>(pos + written, series_unit_count(series)));
    return series;
}

// --- sort ---------------------------------------------------------------------------------------

int compare_items(const void* a, const void* b, intptr_t, intptr_t flags) {
    const double* x = static_cast<const double*>(a);
    const double* y = static_cast<const double*>(b);
    uint32_t first = 0, count = 1;
    if (flags & SORT_ALL) count = uint32_t(flags) >> 2;
    else first = uint32_t(flags) >> 2;
    for (uint32_t k = first; k < first + count; k++) {
        if (x[k] == y[k]) continue;
        const int d = x[k] < y[k] ? -1 : 1;
        return (flags & SORT_REVERSE) ? -d : d;
    }
    return 0;
}

struct ComparatorCall {
    Cell fn;
    uint32_t type;
};

// The first item of a record as a value of the item type, for a Kem comparator.
Cell item_value(double d, uint32_t type) {
    Cell c;
    if (vector_float_type(type)) {
        make_float(&c, d);
        set_type(&c, type);
    } else {
        c = Cell{type, 0, uint32_t(int32_t(d)), 0};
    }
    return c;
}

int compare_items_func(const void* a, const void* b, intptr_t call, intptr_t flags) {
    const auto* c = reinterpret_cast<const ComparatorCall*>(call);
    // Asked about (b, a), or (a, b) with /reverse, as for blocks.
    const double* first = static_cast<const double*>((flags & SORT_REVERSE) ? a : b);
    const double* second = static_cast<const double*>((flags & SORT_REVERSE) ? b : a);
    const Cell x = item_value(*first, c->type);
    const Cell y = item_value(*second, c->type);
    return sort_call_comparator(&c->fn, &x, &y);
}

Cell* vector_sort(Cell* series, const SortArgs& refs) {
    int32_t pos, n, size;
    uint32_t flags;
    const Cell* comparator = refs.compare;
    if (!sort_prepare(series, int32_t(series_unit_count(series)), refs.skip, refs.compare, refs.part, refs.all,
                      refs.reverse, &pos, &n, &size, &flags))
        return series;
    const uint32_t type = vector_item_type(series);
    const uint32_t unit = unit_bytes(series_buffer(series));
    // Items are sorted as doubles (every item reads as one exactly) in a
    // private copy, so that a Kem comparator cannot disturb the sort.
    std::vector<double> items(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++) items[size_t(i)] = vector_read_number(item_at(series, pos + i), unit, type);
    const bool told = series_notify_owner(series, ChangeWord::sort, nullptr, pos, n);
    SortRecords r;
    r.base = items.data();
    r.count = uint32_t(n / size);
    r.size = uint32_t(size) * sizeof(double);
    r.user2 = intptr_t(flags);
    Cell* saved_top = stack::top;
    ComparatorCall call{comparator ? *comparator : none_value, type};
    if (is_type(&call.fn, TYPE_FUNCTION)) {
        stack::push(&call.fn);
        r.user1 = reinterpret_cast<intptr_t>(&call);
        r.compare = compare_items_func;
    } else {
        r.compare = compare_items;
    }
    if (refs.stable) merge_sort(r);
    else quick_sort(r);
    stack::top = saved_top;
    // A comparator may have changed the vector: write back what still fits.
    const int64_t room = std::min<int64_t>(int64_t(series_unit_count(series)) - pos, n);
    for (int64_t i = 0; i < room; i++) {
        uint8_t* p = item_at(series, pos + i);
        if (vector_float_type(type)) store_float(p, unit, items[size_t(i)]);
        else store_int(p, unit, int32_t(items[size_t(i)]));
    }
    if (told) series_notify_owner(series, ChangeWord::sorted, nullptr, pos, n);
    return series;
}

} // namespace

Cell* vector_do_math(int32_t op) {
    return is_type(stack::arguments + 1, TYPE_VECTOR) ? with_vector(op) : with_scalar(op);
}

void vector_detail::set_vector_actions(ActionRow& row) {
    row.set<ACT_ADD>(vector_add)
        .set<ACT_SUBTRACT>(vector_subtract)
        .set<ACT_MULTIPLY>(vector_multiply)
        .set<ACT_DIVIDE>(vector_divide)
        .set<ACT_REMAINDER>(vector_remainder)
        .set<ACT_AND_T>(vector_and)
        .set<ACT_OR_T>(vector_or)
        .set<ACT_XOR_T>(vector_xor)
        .set<ACT_APPEND>(vector_append)
        .set<ACT_INSERT>(vector_append)
        .set<ACT_CHANGE>(vector_change)
        .set<ACT_SORT>(vector_sort);
}

} // namespace kem
