// Natives: the comparison natives, same?, not, type?, stats and recycle.
// print, prin, reduce, compose, bind and in live in natives_value_blocks.cpp.
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string_view>
#include <vector>
#include "runtime/collector/collector.h"
#include "runtime/core/cell.h"
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/core/slots.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/datatype.h"
#include "runtime/datatypes/function.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/tuple.h"
#include "runtime/datatypes/word.h"
#include "runtime/interpreter/interpreter.h"
#include "runtime/interpreter/natives.h"
#include "runtime/lexer/lexer.h"

namespace kem {

namespace value_natives {
void register_block_natives();  // natives_value_blocks.cpp
}  // namespace value_natives

namespace natives {
// 1 when the last print or prin output ended with a line feed (print), 0
// after prin; the console reads it to know whether a line is left open.
uint32_t last_lf_q = 0;
} // namespace natives

namespace {

inline bool present(const int32_t* refinements, int at) { return refinements[at] != -1; }

// --- comparisons --------------------------------------------------------------

// The first two arguments through the compare entry: incomparable values are
// unequal, and ordering them raises script invalid-compare.
template <CompareOp Op>
void native_compare(const int32_t*) {
    bool outcome = compare_star(stack::arguments, stack::arguments + 1, Op);
    make_logic(stack::arguments, outcome);
}

// Identity rather than equality: values of different types never are the same.
bool same_values(const Cell* a, const Cell* b) {
    const uint8_t t = type_of(a);
    if (t != type_of(b)) return false;
    switch (t) {
    case TYPE_NONE:
    case TYPE_UNSET: return true;
    case TYPE_DATATYPE:
    case TYPE_LOGIC:
    case TYPE_OBJECT: return a->data1 == b->data1;
    case TYPE_CHAR:
    case TYPE_INTEGER:
    case TYPE_BITSET: return a->data2 == b->data2;
    case TYPE_FLOAT:
    case TYPE_PERCENT:
    case TYPE_PAIR:
    case TYPE_TIME: return a->data2 == b->data2 && a->data3 == b->data3;
    case TYPE_TUPLE: {
        const uint32_t n = tuple_length(a);
        return n == tuple_length(b) && std::memcmp(tuple_bytes(a), tuple_bytes(b), n) == 0;
    }
    case TYPE_MONEY: {
        Cell x = *a, y = *b;
        return compare_values(&x, &y, CompareOp::same) == 0;
    }
    case TYPE_NATIVE:
    case TYPE_ACTION:
    case TYPE_POINT2D: return a->data1 == b->data1 && a->data2 == b->data2;
    case TYPE_OP: return a->data2 == b->data2 && a->data3 == b->data3;
    default:
        if (any_series_type(t)) return a->data1 == b->data1 && a->data2 == b->data2;
        return a->data1 == b->data1 && a->data2 == b->data2 && a->data3 == b->data3;
    }
}

void native_same_q(const int32_t*) {
    make_logic(stack::arguments, same_values(stack::arguments, stack::arguments + 1));
}

void native_not(const int32_t*) { make_logic(stack::arguments, !is_truthy(stack::arguments)); }

void native_type_q(const int32_t* refinements) {
    const uint8_t t = type_of(stack::arguments);
    if (present(refinements, native_ref(NAT_TYPE_Q, "word"))) {
        const DatatypeName& entry = datatype_names[t];
        *stack::arguments = entry.word.header ? entry.word : word_load(entry.name);
    } else {
        make_datatype(stack::arguments, t);
    }
}

// --- stats ----------------------------------------------------------------------

// A byte count as integer!, or float! when it does not fit one.
void make_count(Cell* c, uint64_t n) {
    if (n > uint64_t(INT32_MAX)) make_float(c, double(n));
    else make_integer(c, int32_t(n));
}

// Bytes of values in use: every used node slot, the filled part of every
// series frame and every big frame's buffer.
uint64_t memory_in_use() {
    uint64_t total = 0;
    for (NodeFrame* f = memory.first_node_frame; f; f = f->next) total += uint64_t(f->used) * sizeof(node_slots[0]);
    for (SeriesFrame* f = memory.first_series_frame; f; f = f->next) total += uint64_t(f->free - f->first());
    for (BigFrame* f = memory.big_frames; f; f = f->next) total += f->request;
    return total;
}

// A block of the numbers, on a line of its own, appended to list.
void append_row(const Cell* list, std::initializer_list<uint64_t> numbers) {
    Cell* c = block_make_in(list, int32_t(numbers.size()));
    c->header |= HEADER_NEW_LINE;
    const Cell row = *c;
    Cell n;
    for (uint64_t v : numbers) {
        make_count(&n, v);
        block_append_cell(&row, &n);
    }
}

// [[node frames] [series frames] [big frames]], each frame one inner block:
// [free used total] in nodes, the same in bytes, and the big frame's size.
// The figures are taken before the blocks are made, since making them
// allocates.
void memory_info(Cell* out) {
    struct Usage {
        uint64_t free, used, total;
    };
    std::vector<Usage> nodes, series;
    std::vector<uint64_t> bigs;
    for (NodeFrame* f = memory.first_node_frame; f; f = f->next)
        nodes.push_back({f->capacity - f->used, f->used, f->capacity});
    for (SeriesFrame* f = memory.first_series_frame; f; f = f->next)
        series.push_back({uint64_t(f->end - f->free), uint64_t(f->free - f->first()), uint64_t(f->end - f->first())});
    for (BigFrame* f = memory.big_frames; f; f = f->next) bigs.push_back(f->request);

    block_make_at(out, 5);
    const Cell info = *out;
    for (int i = 0; i < 3; i++) block_make_in(&info, 4)->header |= HEADER_NEW_LINE;
    // Cells in a buffer move when it grows: keep the lists by value.
    const Cell node_list = *block_rs_abs_at(&info, 0);
    const Cell series_list = *block_rs_abs_at(&info, 1);
    const Cell big_list = *block_rs_abs_at(&info, 2);
    for (const Usage& u : nodes) append_row(&node_list, {u.free, u.used, u.total});
    for (const Usage& u : series) append_row(&series_list, {u.free, u.used, u.total});
    for (uint64_t size : bigs) append_row(&big_list, {size});
}

// The library's report printer, called like any function with the /info block.
void show_memory_stats(const Cell* info) {
    static const Cell name = word_load("show-memory-stats");
    const Cell* value = word_value_cell(&name);
    const uint8_t t = type_of(value);
    if (!any_callable_type(t) || t == TYPE_OP) fire(Err::script_no_value, name);
    const Cell fn = *value;
    // The block is the call's one argument: a block value evaluates to itself.
    Cell* args = block_make_at(stack::push_slot(), 1);
    block_append_cell(args, info);
    const Cell code = *args;
    interp::eval_call(&fn, 0, 1, &code, interp::EvalFlags::push, &name, nullptr, 0);
}

void native_stats(const int32_t* refinements) {
    const bool show = present(refinements, native_ref(NAT_STATS, "show"));
    const bool info = present(refinements, native_ref(NAT_STATS, "info"));
    if (!show && !info) {
        make_count(stack::arguments, memory_in_use());
        stack::keep_result();
        return;
    }
    Cell* out = stack::push_slot();
    memory_info(out);
    if (!show) {
        *stack::arguments = *out;
        stack::keep_result();
        return;
    }
    show_memory_stats(out);
    if (interp::pending()) return;
    make_unset(stack::arguments);
    stack::keep_result();
}

// /on and /off switch the collector; alone it runs one collection, enabled
// or not, and answers what stats answers.
void native_recycle(const int32_t* refinements) {
    const bool on = present(refinements, native_ref(NAT_RECYCLE, "on"));
    const bool off = present(refinements, native_ref(NAT_RECYCLE, "off"));
    if (on || off) {
        collector::set_active(on);
        make_unset(stack::arguments);
    } else {
        collector::collect();
        make_count(stack::arguments, memory_in_use());
    }
    stack::keep_result();
}

} // namespace

void register_value_natives() {
    native_register(NAT_EQUAL_Q, native_compare<CompareOp::equal>);
    native_register(NAT_NOT_EQUAL_Q, native_compare<CompareOp::not_equal>);
    native_register(NAT_STRICT_EQUAL_Q, native_compare<CompareOp::strict_equal>);
    native_register(NAT_LESSER_Q, native_compare<CompareOp::lesser>);
    native_register(NAT_LESSER_OR_EQUAL_Q, native_compare<CompareOp::lesser_or_equal>);
    native_register(NAT_GREATER_Q, native_compare<CompareOp::greater>);
    native_register(NAT_GREATER_OR_EQUAL_Q, native_compare<CompareOp::greater_or_equal>);
    native_register(NAT_SAME_Q, native_same_q);
    native_register(NAT_NOT, native_not);
    native_register(NAT_TYPE_Q, native_type_q);
    native_register(NAT_STATS, native_stats);
    native_register(NAT_RECYCLE, native_recycle);
    value_natives::register_block_natives();
}

} // namespace kem
