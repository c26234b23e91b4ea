// series!: positions, navigation, pick and poke, clear, remove, reverse,
// random, move, the copy and take cores, and the registration of its row.
#include "runtime/datatypes/series.h"
#include <algorithm>
#include <cstring>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/image.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/modules.h"
#include "runtime/datatypes/ownership.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/runtime_words.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/vector.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/random.h"
#include "runtime/services/unicode/text.h"

namespace kem {

Cell word_part = {TYPE_NONE, 0, 0, 0};
Cell word_skip = {TYPE_NONE, 0, 0, 0};

// Reached only for buffers an object owns: the ownership table names the owner.
bool series_notify_owner_slow(const Cell* series, ChangeWord word, const Cell* value, int32_t index, int32_t part) {
    return ownership_check_change(series, word, value, index, part);
}

// --- positions -------------------------------------------------------------

bool series_at_tail(const Cell* s) {
    if (is_type(s, TYPE_IMAGE)) return series_index(s) >= image_pixel_count(s);
    const SeriesBuffer* b = series_buffer(s);
    return (int64_t(series_position(s)) << unit_shift(b)) + b->head >= int64_t(b->tail);
}

uint32_t series_unit_count(const Cell* s) {
    // An image's units are its pixels, which live outside its buffer.
    if (is_type(s, TYPE_IMAGE)) return image_pixel_count(s);
    const SeriesBuffer* b = series_buffer(s);
    return b->used() >> unit_shift(b);
}

bool series_advance(Cell* s, int32_t n) {
    int64_t count = series_unit_count(s);
    int64_t pos = int64_t(series_position(s)) + n;
    if (pos <= count) set_series_position(s, pos);
    return pos >= count;
}

int32_t series_length_at(Cell* s, bool from_head) {
    int32_t count = static_cast<int32_t>(series_unit_count(s));
    if (from_head) return count;
    int32_t pos = series_position(s);
    if (pos > count) {
        set_series_position(s, count);
        return 0;
    }
    return count - std::max(pos, 0);
}

int32_t series_move_position(bool at) {
    Cell* s = stack::arguments;
    const Cell* offset = stack::arguments + 1;
    if (!is_type(offset, TYPE_INTEGER)) fire(Err::script_invalid_arg, *offset);
    int64_t n = cell_int(offset);
    int64_t pos = series_position(s);
    int64_t target = (at && n >= 1) ? pos + n - 1 : pos + n;
    return static_cast<int32_t>(std::clamp<int64_t>(target, 0, series_unit_count(s)));
}

int64_t series_part_count(const Cell* s, const Cell* part) {
    if (is_type(part, TYPE_INTEGER)) return cell_int(part);
    if (any_series_type(type_of(part)) && series_node(part) == series_node(s))
        return int64_t(series_position(part)) - series_position(s);
    fire(Err::script_invalid_refine_arg, word_part, *part);
}

void series_element_at(const Cell* series, uint32_t offset, Cell* out) {
    uint8_t type = type_of(series);
    SeriesBuffer* b = series_buffer(series);
    if (any_block_type(type) || type == TYPE_MAP) {
        *out = reinterpret_cast<const Cell*>(b->data() + b->head)[offset];
        return;
    }
    if (type == TYPE_VECTOR) {
        vector_get_value(series, offset, out);
        return;
    }
    uint32_t unit = unit_bytes(b);
    int32_t v = read_unit(b->data() + b->head + size_t(offset) * unit, unit);
    *out = Cell{type == TYPE_BINARY ? uint32_t(TYPE_INTEGER) : uint32_t(TYPE_CHAR), 0, uint32_t(v), 0};
}

// --- navigation ------------------------------------------------------------

Cell* series_head() {
    stack::arguments->data1 = 0;
    return stack::arguments;
}

Cell* series_tail() {
    set_series_position(stack::arguments, series_unit_count(stack::arguments));
    return stack::arguments;
}

Cell* series_back() {
    Cell* s = stack::arguments;
    if (series_position(s) > 0) set_series_position(s, int64_t(series_position(s)) - 1);
    return s;
}

Cell* series_next() {
    series_advance(stack::arguments, 1);
    return stack::arguments;
}

Cell* series_at() {
    set_series_position(stack::arguments, series_move_position(true));
    return stack::arguments;
}

Cell* series_skip() {
    set_series_position(stack::arguments, series_move_position(false));
    return stack::arguments;
}

Cell* series_head_q() {
    make_logic(stack::arguments, series_position(stack::arguments) == 0);
    return stack::arguments;
}

Cell* series_tail_q() {
    make_logic(stack::arguments, series_at_tail(stack::arguments));
    return stack::arguments;
}

// Past-tail positions are reported as they are, not clamped.
Cell* series_index_q() {
    make_integer(stack::arguments, series_position(stack::arguments) + 1);
    return stack::arguments;
}

int32_t series_length_q(Cell* series) { return series_length_at(series, false); }

// --- pick and poke -----------------------------------------------------------

namespace {

// The absolute unit offset that pick and poke address, or -1 outside the series.
int64_t picked_offset(const Cell* series, int32_t index) {
    if (index == 0) return -1;
    int64_t pos = series_position(series);
    int64_t offset = index > 0 ? pos + index - 1 : pos + index;
    if (offset < 0 || offset >= series_unit_count(series)) return -1;
    return offset;
}

int32_t byte_of(const Cell* value) {
    if (!is_type(value, TYPE_INTEGER) && !is_type(value, TYPE_CHAR)) fire(Err::script_invalid_arg, *value);
    return cell_int(value) & 0xFF;
}

} // namespace

Cell* series_pick(Cell* series, int32_t index, Cell* boxed) {
    int64_t offset = picked_offset(series, index);
    if (offset < 0) return const_cast<Cell*>(&none_value);
    if (any_block_type(type_of(series))) return series_cell_at(series, uint32_t(offset));
    Cell element;
    series_element_at(series, uint32_t(offset), &element);
    *series = element;
    return series;
}

Cell* series_poke(Cell* series, int32_t index, Cell* data, Cell* boxed) {
    int64_t offset = picked_offset(series, index);
    if (offset < 0) {
        Cell n;
        make_integer(&n, index);
        fire(Err::script_out_of_range, n);
    }
    uint8_t type = type_of(series);
    // Check the value before anything changes or anyone hears of a change.
    int32_t code_point = 0;
    if (type == TYPE_VECTOR) {
        if (type_of(data) != vector_item_type(series)) fire(Err::script_invalid_arg, *data);
    } else if (type == TYPE_BINARY) {
        code_point = byte_of(data);
    } else if (!any_block_type(type)) {
        if (!is_type(data, TYPE_CHAR)) fire(Err::script_invalid_arg, *data);
        code_point = cell_int(data);
    }
    // The owner's handler may move the cell naming the series (a set-path into
    // a nested block passes a cell of the outer block) and shorten the series.
    Cell held[2] = {*series, *data};
    RootedCells keep(held, 2);
    Cell* s = &held[0];
    Cell* value = &held[1];
    bool told = series_notify_owner(s, ChangeWord::poke, value, int32_t(offset), 1);
    if (offset < series_unit_count(s)) {
        if (any_block_type(type)) {
            *series_cell_at(s, uint32_t(offset)) = *value;
            hash_cells_changed(s, uint32_t(offset), 1);
        } else if (type == TYPE_VECTOR) {
            SeriesBuffer* b = series_buffer(s);
            vector_write(b->head_ptr() + size_t(offset) * unit_bytes(b), unit_bytes(b), vector_item_type(s), value);
        } else {
            SeriesBuffer* b = series_buffer(s);
            if (type != TYPE_BINARY && code_point > unit_max_code_point(unit_bytes(b)))
                b = widen_string_buffer(b, code_point > 0xFFFF ? 4 : 2);
            uint32_t unit = unit_bytes(b);
            write_unit(b->data() + b->head + size_t(offset) * unit, unit, code_point);
        }
    }
    if (told) series_notify_owner(s, ChangeWord::poked, value, int32_t(offset), 1);
    return data;
}

// --- clear, remove, reverse --------------------------------------------------

Cell* series_clear(Cell* series) {
    int64_t pos = std::max(series_position(series), 0);
    if (pos >= series_unit_count(series)) return series;
    bool told = series_notify_owner(series, ChangeWord::clear, nullptr, int32_t(pos), -1);
    // A handler that shortened the series must not get old units back.
    const int64_t count = int64_t(series_unit_count(series)) - pos;
    if (count > 0) {
        SeriesBuffer* b = series_buffer(series);
        b->tail = b->head + uint32_t(pos << unit_shift(b));
        hash_cells_removed(series, uint32_t(pos), uint32_t(count));
    }
    if (told) series_notify_owner(series, ChangeWord::cleared, nullptr, int32_t(pos), -1);
    return series;
}

Cell* series_remove(Cell* series, const RemoveArgs& refs) {
    int64_t count = refs.part ? series_part_count(series, refs.part) : 1;
    if (count < 1) return series;
    int64_t pos = std::max(series_position(series), 0);
    if (refs.key) {
        Cell probe = *series;
        Cell* saved_top = stack::top;
        auto find = get_action_for_value<ACT_FIND>(&probe);
        Cell found = *find(&probe, refs.key, FindArgs{.case_ = true});
        stack::top = saved_top;
        if (is_type(&found, TYPE_NONE)) return const_cast<Cell*>(&none_value);
        pos = series_position(&found);
        count += 1;
    }
    int64_t total = series_unit_count(series);
    if (pos >= total) return series;
    count = std::min(count, total - pos);
    bool told = series_notify_owner(series, ChangeWord::remove, nullptr, int32_t(pos), int32_t(count));
    // The handler may have shortened the series.
    total = series_unit_count(series);
    if (pos < total) {
        const uint32_t n = uint32_t(std::min(count, total - pos));
        series_delete_units(series, uint32_t(pos), n);
        hash_cells_removed(series, uint32_t(pos), n);
    }
    if (told) series_notify_owner(series, ChangeWord::removed, nullptr, int32_t(pos), int32_t(count));
    return series;
}

Cell* series_reverse(Cell* series, const ReverseArgs& refs) {
    int64_t total = series_unit_count(series);
    int64_t pos = std::max(series_position(series), 0);
    if (pos >= total) return series;
    int64_t end = total;
    if (refs.part) {
        int64_t count = series_part_count(series, refs.part);
        if (count < 1) return series;
        end = std::min(pos + count, total);
    }
    int64_t range = end - pos;
    int64_t size = 1;
    if (refs.skip) {
        if (!is_type(refs.skip, TYPE_INTEGER)) fire(Err::script_invalid_refine_arg, word_skip, *refs.skip);
        size = cell_int(refs.skip);
        if (size == range) return series;
        if (size < 1) fire(Err::script_out_of_range, *refs.skip);
        if (range < size || range % size != 0) fire(Err::script_invalid_refine_arg, word_skip, *refs.skip);
    }
    bool told = series_notify_owner(series, ChangeWord::reverse, nullptr, int32_t(pos), int32_t(range));
    // The handler may have shortened the series: only whole records still in it turn.
    int64_t left = std::max<int64_t>(std::min<int64_t>(end, series_unit_count(series)) - pos, 0);
    left -= left % size;
    if (left > 0) {
        SeriesBuffer* b = series_buffer(series);
        uint32_t shift = unit_shift(b);
        size_t record = size_t(size) << shift;
        uint8_t* lo = b->data() + b->head + (size_t(pos) << shift);
        uint8_t* hi = lo + (size_t(left) << shift) - record;
        for (; lo < hi; lo += record, hi -= record) std::swap_ranges(lo, lo + record, hi);
        hash_cells_changed(series, uint32_t(pos), uint32_t(left));
    }
    if (told) series_notify_owner(series, ChangeWord::reversed, nullptr, int32_t(pos), int32_t(range));
    return series;
}

void series_delete_units(Cell* series, uint32_t index, uint32_t count) {
    SeriesBuffer* b = series_buffer(series);
    uint32_t shift = unit_shift(b);
    uint8_t* at = b->data() + b->head + (size_t(index) << shift);
    uint8_t* from = at + (size_t(count) << shift);
    std::memmove(at, from, size_t(b->tail_ptr() - from));
    b->tail -= count << shift;
}

// --- random -------------------------------------------------------------------

Cell* series_random(Cell* series, const RandomArgs& refs) {
    int64_t total = series_unit_count(series);
    int64_t pos = std::max(series_position(series), 0);
    int64_t count = std::max<int64_t>(total - pos, 0);
    SeriesBuffer* b = series_buffer(series);
    uint32_t shift = unit_shift(b);
    if (refs.seed) {
        random_seed(murmur3_hash(b->data() + b->head + (size_t(pos) << shift), uint32_t(count << shift)));
        make_unset(series);
        return series;
    }
    if (refs.only) {
        if (count == 0) return const_cast<Cell*>(&none_value);
        int64_t offset = pos + random_int_up_to(refs.secure, int32_t(count)) - 1;
        if (any_block_type(type_of(series))) return series_cell_at(series, uint32_t(offset));
        Cell element;
        series_element_at(series, uint32_t(offset), &element);
        *series = element;
        return series;
    }
    bool told = series_notify_owner(series, ChangeWord::random, nullptr, int32_t(pos), int32_t(count));
    // The handler may have moved or shortened the buffer.
    count = std::clamp<int64_t>(int64_t(series_unit_count(series)) - pos, 0, count);
    b = series_buffer(series);
    shift = unit_shift(b);
    size_t unit = size_t(1) << shift;
    uint8_t* at = b->data() + b->head + (size_t(pos) << shift);
    for (int64_t n = count; n >= 1; n--, at += unit) {
        int32_t k = random_int_up_to(refs.secure, int32_t(n));
        if (k > 1) std::swap_ranges(at, at + unit, at + size_t(k - 1) * unit);
    }
    if (told) series_notify_owner(series, ChangeWord::randomized, nullptr, int32_t(pos), int32_t(count));
    return series;
}

// --- move --------------------------------------------------------------------

namespace {

// Moves count units between two buffers of the same unit size: a gap opens at
// the target position, the units land there, the origin closes up. Answers
// the target position.
int64_t move_between(Cell* origin, Cell* target, int64_t opos, int64_t count) {
    NodeId onode = series_node(origin);
    NodeId tnode = series_node(target);
    int64_t tpos = std::clamp<int64_t>(series_position(target), 0, series_unit_count(target));
    SeriesBuffer* t = node_buffer(tnode);
    uint32_t shift = unit_shift(t);
    size_t bytes = size_t(count) << shift;
    if (t->tail + bytes > t->size) t = expand_series(t, int64_t(t->used() + bytes) * 2);
    SeriesBuffer* o = node_buffer(onode);
    uint8_t* at = t->data() + t->head + (size_t(tpos) << shift);
    std::memmove(at + bytes, at, size_t(t->tail_ptr() - at));
    std::memcpy(at, o->data() + o->head + (size_t(opos) << shift), bytes);
    t->tail += uint32_t(bytes);
    series_delete_units(origin, uint32_t(opos), uint32_t(count));
    return tpos;
}

[[noreturn]] void fire_move_bad(const Cell* origin, const Cell* target) {
    Cell from = Cell{TYPE_DATATYPE, type_of(origin), 0, 0};
    Cell to = Cell{TYPE_DATATYPE, type_of(target), 0, 0};
    fire(Err::script_move_bad, from, to);
}

// Gives two buffers one unit size: text keeps its code points in any unit, so
// the narrower side widens when `widen`; anything else cannot move, nor can
// vector! items go where they would be read as another item type.
void match_units(const Cell* origin, const Cell* target, bool widen) {
    const bool vectors = is_type(origin, TYPE_VECTOR) || is_type(target, TYPE_VECTOR);
    if (vectors && (type_of(origin) != type_of(target) || vector_item_type(origin) != vector_item_type(target)))
        fire_move_bad(origin, target);
    uint32_t ounit = unit_bytes(series_buffer(origin));
    uint32_t tunit = unit_bytes(series_buffer(target));
    if (ounit == tunit) return;
    if (!any_string_type(type_of(origin)) || !any_string_type(type_of(target))) fire_move_bad(origin, target);
    if (!widen) return;
    if (ounit < tunit) widen_string_buffer(series_buffer(origin), tunit);
    else widen_string_buffer(series_buffer(target), ounit);
}

} // namespace

Cell* series_move(Cell* origin, Cell* target, const MoveArgs& refs) {
    if (!any_series_type(type_of(target))) fire_expect_arg(target, 1);
    int64_t total = series_unit_count(origin);
    int64_t opos = std::max(series_position(origin), 0);
    if (opos >= total) return target;
    int64_t count = 1;
    if (refs.part) {
        if (!is_type(refs.part, TYPE_INTEGER)) fire(Err::script_invalid_refine_arg, word_part, *refs.part);
        count = cell_int(refs.part);
        if (count < 1) return target;
    }
    count = std::min(count, total - opos);

    if (series_node(origin) != series_node(target)) {
        if (any_block_type(type_of(origin)) != any_block_type(type_of(target))) fire_move_bad(origin, target);
        match_units(origin, target, false);
        int64_t tpos = std::clamp<int64_t>(series_position(target), 0, series_unit_count(target));
        bool told = series_notify_owner(target, ChangeWord::move, nullptr, int32_t(tpos), int32_t(count));
        // The handler may have shortened the origin or widened either side.
        count = std::min<int64_t>(count, int64_t(series_unit_count(origin)) - opos);
        if (count > 0) {
            match_units(origin, target, true);
            tpos = move_between(origin, target, opos, count);
            hash_cells_removed(origin, uint32_t(opos), uint32_t(count));
            hash_cells_inserted(target, uint32_t(tpos), uint32_t(count));
        }
        count = std::max<int64_t>(count, 0);
        if (told) series_notify_owner(target, ChangeWord::moved, nullptr, int32_t(tpos), int32_t(count));
        return target;
    }

    // One buffer: the moved units go through a scratch copy.
    int64_t tpos = std::clamp<int64_t>(series_position(target), 0, total);
    if (tpos == opos) return target;
    // A target inside the moved range has nowhere to land.
    if (tpos > opos && tpos < opos + count) return target;
    if (tpos > opos && tpos != total && total - tpos < count) return origin;
    bool told = series_notify_owner(target, ChangeWord::move, nullptr, int32_t(tpos), int32_t(count));
    if (told) {
        // The handler may have shortened the series: a move that no longer fits is dropped.
        total = series_unit_count(origin);
        count = std::min(count, total - opos);
        tpos = std::min(tpos, total);
        bool lands = tpos < opos || (tpos > opos && tpos >= opos + count && (tpos == total || total - tpos >= count));
        if (count < 1 || !lands) count = 0;
    }
    if (count > 0) {
        SeriesBuffer* b = series_buffer(origin);
        uint32_t shift = unit_shift(b);
        uint8_t* head = b->data() + b->head;
        size_t bytes = size_t(count) << shift;
        std::vector<uint8_t> moved(head + (size_t(opos) << shift), head + (size_t(opos) << shift) + bytes);
        if (tpos < opos) {
            std::memmove(head + (size_t(tpos) << shift) + bytes, head + (size_t(tpos) << shift),
                         size_t(opos - tpos) << shift);
            std::memcpy(head + (size_t(tpos) << shift), moved.data(), bytes);
        } else {
            // The units land just after the unit at the target, or at the end.
            int64_t end = tpos == total ? total : tpos + 1;
            std::memmove(head + (size_t(opos) << shift), head + (size_t(opos + count) << shift),
                         size_t(end - opos - count) << shift);
            std::memcpy(head + (size_t(end - count) << shift), moved.data(), bytes);
        }
        // Every cell between the two places moved.
        const int64_t lo = std::min(opos, tpos);
        const int64_t hi = tpos < opos ? opos + count : std::min<int64_t>(total, tpos + 1);
        hash_cells_changed(origin, uint32_t(lo), uint32_t(hi - lo));
    }
    if (told) series_notify_owner(target, ChangeWord::moved, nullptr, int32_t(tpos), int32_t(count));
    return target;
}

// --- copy and take cores ---------------------------------------------------------

Cell* series_copy(Cell* series, Cell* result, const CopyArgs& refs) {
    int64_t total = series_unit_count(series);
    int64_t pos = series_position(series);
    int64_t start = pos;
    int64_t count = std::max<int64_t>(total - pos, 0);
    if (refs.part) {
        if (is_type(refs.part, TYPE_PAIR)) {
            int64_t x = int32_t(refs.part->data2);
            int64_t y = int32_t(refs.part->data3);
            start = std::max<int64_t>(x < 0 ? pos + x : pos + x - 1, 0);
            count = y < x ? 0 : y - x;
        } else {
            count = series_part_count(series, refs.part);
        }
    }
    if (count < 0) {
        count = -count;
        start -= count;
        if (start < 0) {
            start = 0;
            count = pos;
        }
    }
    start = std::max<int64_t>(start, 0);
    if (start > total) {
        start = total;
        count = 0;
    }
    count = std::clamp<int64_t>(count, 0, total - start);

    Cell source = *series;
    if (result != series) result->header = TYPE_UNSET;
    NodeId node = copy_series_slice(series_node(&source), uint32_t(start), uint32_t(count));
    uint32_t type = type_of(&source);
    *result = Cell{(source.header & HEADER_NEW_LINE) | type, 0, node, type == TYPE_VECTOR ? source.data3 : 0};
    return result;
}

Cell* series_take(Cell* series, const TakeArgs& refs) {
    int64_t n = series_length_at(series, false);
    if (n < 1) {
        make_none(series);
        return series;
    }
    int64_t total = series_unit_count(series);
    int64_t pos = std::max(series_position(series), 0);
    int64_t count = 1;
    if (refs.part) {
        if (is_type(refs.part, TYPE_INTEGER)) {
            count = cell_int(refs.part);
        } else if (any_series_type(type_of(refs.part)) && series_node(refs.part) == series_node(series)) {
            int64_t d = int64_t(series_position(refs.part)) - pos;
            count = d < 0 ? 0 : (refs.last ? n - d : d);
        } else {
            fire(Err::script_invalid_refine_arg, word_part, *refs.part);
        }
    }
    // A count of 0 (or a position equal to the series') takes nothing; a
    // negative count takes the units just before the position.
    int64_t start = pos;
    if (count < 0 && !refs.last) {
        count = std::min(-count, pos);
        start = pos - count;
    } else if (count < 1) {
        count = 0;
    } else {
        count = std::min(count, n);
        if (refs.last) start = total - count;
    }

    Cell source = *series;
    RootedCell keep(&source);
    Cell* result = stack::push_slot();
    result->header = TYPE_UNSET;
    bool told = count > 0 && series_notify_owner(&source, ChangeWord::take, nullptr, int32_t(start), int32_t(count));
    if (told) {
        // The handler may have shortened the series: take what is still there
        // (the last units again with /last).
        int64_t now = series_unit_count(&source);
        if (refs.last) {
            count = std::min(count, std::max<int64_t>(now - pos, 0));
            start = now - count;
        } else {
            count = std::clamp<int64_t>(now - start, 0, count);
        }
        if (!refs.part && count == 0) {
            make_none(result);
            series_notify_owner(&source, ChangeWord::taken, nullptr, int32_t(start), 0);
            return result;
        }
    }
    if (refs.part) {
        NodeId node = copy_series_slice(series_node(&source), uint32_t(start), uint32_t(count));
        uint8_t type = type_of(&source);
        *result = Cell{type, 0, node, type == TYPE_VECTOR ? source.data3 : 0};
        if (type == TYPE_HASH) hash_index_block(result);
    } else {
        series_element_at(&source, uint32_t(start), result);
    }
    if (count > 0) {
        series_delete_units(&source, uint32_t(start), uint32_t(count));
        hash_cells_removed(&source, uint32_t(start), uint32_t(count));
    }
    if (told) series_notify_owner(&source, ChangeWord::taken, nullptr, int32_t(start), int32_t(count));
    return result;
}

// --- ownership -------------------------------------------------------------------

Cell* series_reflect(Cell* series, int32_t field) {
    if (symbol_resolve(uint32_t(field)) != symbol_resolve(rt_symbols.owned)) fire(Err::internal_not_done);
    const Cell s = *series;
    Cell* out = stack::push_slot();
    ownership_reflect_owned(&s, out);
    return out;
}

Cell* series_modify(Cell* series, Cell* field, Cell* value, const ModifyArgs&) {
    const Cell v = *value;
    if (symbol_resolve(field->data2) == symbol_resolve(rt_symbols.owned)) ownership_modify_owned(series, &v);
    return stack::push(&v);
}

// --- registration --------------------------------------------------------------

void register_series() {
    ActionRow row = ActionRow::none_all();
    row.set<ACT_RANDOM>(series_random)
        .set<ACT_AT>(series_at)
        .set<ACT_BACK>(series_back)
        .set<ACT_CLEAR>(series_clear)
        .set<ACT_COPY>(series_copy)
        .set<ACT_HEAD>(series_head)
        .set<ACT_HEAD_Q>(series_head_q)
        .set<ACT_INDEX_Q>(series_index_q)
        .set<ACT_LENGTH_Q>(series_length_q)
        .set<ACT_MOVE>(series_move)
        .set<ACT_NEXT>(series_next)
        .set<ACT_PICK>(series_pick)
        .set<ACT_MODIFY>(series_modify)
        .set<ACT_POKE>(series_poke)
        .set<ACT_REFLECT>(series_reflect)
        .set<ACT_REMOVE>(series_remove)
        .set<ACT_REVERSE>(series_reverse)
        .set<ACT_SKIP>(series_skip)
        .set<ACT_TAIL>(series_tail)
        .set<ACT_TAIL_Q>(series_tail_q)
        .set<ACT_TAKE>(series_take);
    register_datatype(TYPE_SERIES, 0, "series!", row);
}

} // namespace kem
