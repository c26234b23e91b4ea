// block!: append and insert, change, take, swap, trim and copy.
//
// Every action copies its source cells out before it grows the buffer, so a
// block may be appended to, inserted into or changed with itself.
#include <algorithm>
#include <cstring>
#include <vector>
#include "runtime/core/cycle.h"
#include "runtime/core/errors.h"
#include "runtime/core/roots.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/logic.h"

namespace kem {

namespace {

// The largest buffer the memory manager hands out, in cells.
constexpr int64_t MAX_CELLS = 0x7FFFFF00 / 16;

// The cells a value adds: a sequence (its cells from its position) for a block
// kind without /only, else the value itself, which needs no allocation.
class SourceCells {
public:
    // At most `limit` cells are copied (negative: all), so adding a part of a
    // long block costs the part only.
    SourceCells(const Cell* value, bool only, int64_t limit = -1) : one_(*value) {
        if (!only && any_block_type(type_of(value))) {
            many_ = block_cells_copy(value, limit);
            data_ = many_.data();
            size_ = many_.size();
        }
    }
    SourceCells(const SourceCells&) = delete;
    SourceCells& operator=(const SourceCells&) = delete;
    Cell* data() { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void resize(size_t n) { size_ = n; }

private:
    Cell one_;
    std::vector<Cell> many_;
    Cell* data_ = &one_;
    size_t size_ = 1;
};

// count x dup cells, checked against what a buffer of `used` cells can still take.
int64_t checked_total(int64_t count, int64_t dup, int64_t used) {
    if (dup > 0 && count > (MAX_CELLS - used) / dup) fire(Err::internal_no_memory);
    return count * dup;
}

// Room for `more` cells after the tail (twice the need when doubled).
SeriesBuffer* reserve(NodeId node, int64_t more, bool doubled) {
    SeriesBuffer* b = node_buffer(node);
    if (uint64_t(b->tail) + uint64_t(more) * 16 <= b->size) return b;
    int64_t want = int64_t(b->used()) + more * 16;
    if (doubled && want <= 0x7FFFFF00 / 2) want *= 2;
    return expand_series(b, want);
}

// Writes the cells at dst, then repeats them until total cells are filled.
void write_repeated(Cell* dst, SourceCells& cells, int64_t total) {
    if (total == 0) return;
    std::memcpy(dst, cells.data(), cells.size() * 16);
    fill_repeat(dst, cells.size() * 16, size_t(total / int64_t(cells.size())));
}

// Replaces the cell at `index` of the cell buffer `node` by its deep copy.
void deep_copy_in_place(NodeId node, uint32_t index, bool deep, Cell* types) {
    Cell original = node_buffer(node)->cell_head()[index];
    Cell copy;
    make_unset(&copy);
    auto fn = get_action_for_value<ACT_COPY>(&original);
    Cell made = *fn(&original, &copy, CopyArgs{.deep = deep, .types = types});
    made.header = (made.header & ~HEADER_NEW_LINE) | (original.header & HEADER_NEW_LINE);
    node_buffer(node)->cell_head()[index] = made;
}

} // namespace

Cell* block_append(Cell* series, Cell* value_arg, int32_t part, bool only, int32_t dup, bool append) {
    Cell v = *value_arg;
    RootedCell keep_value(&v);
    const Cell* value = &v;
    SourceCells cells(value, only, part);
    if (cells.empty() || part == 0 || dup < 1) return series;
    // The owner's handler may clear the value's block: the copied cells alone keep what they name.
    RootedCells keep_cells(cells.data(), uint32_t(cells.size()));

    NodeId node = series_node(series);
    int64_t length = block_full_length(series);
    int64_t pos = std::clamp<int64_t>(series_position(series), 0, length);
    set_series_position(series, pos);
    bool at_tail = append || pos == length;
    int64_t total = checked_total(int64_t(cells.size()), dup, length);

    bool told = at_tail ? series_notify_owner(series, ChangeWord::append, value, int32_t(length), int32_t(total))
                        : series_notify_owner(series, ChangeWord::insert, value, int32_t(pos), int32_t(total));
    if (told) {
        // The handler may have changed the block's length.
        length = block_full_length(series);
        pos = std::min(pos, length);
        if (!at_tail) set_series_position(series, pos);
        total = checked_total(int64_t(cells.size()), dup, length);
    }
    SeriesBuffer* b = reserve(node, total, dup < 5);
    Cell* at = b->cell_head() + (at_tail ? length : pos);
    if (!at_tail) std::memmove(at + total, at, size_t(length - pos) * 16);
    write_repeated(at, cells, total);
    b->tail += uint32_t(total * 16);
    hash_cells_inserted(series, uint32_t(at_tail ? length : pos), uint32_t(total));
    if (told) {
        if (at_tail) series_notify_owner(series, ChangeWord::appended, value, int32_t(length), int32_t(total));
        else series_notify_owner(series, ChangeWord::inserted, value, int32_t(pos), int32_t(total));
    }
    set_series_position(series, append ? 0 : pos + total);
    return series;
}

Cell* block_change(Cell* series, Cell* value_arg, int32_t part, bool only, int32_t dup) {
    Cell v = *value_arg;
    RootedCell keep_value(&v);
    const Cell* value = &v;
    SourceCells cells(value, only);
    if (dup < 1) return series;
    // The owner's handler may clear the value's block: the copied cells alone keep what they name.
    RootedCells keep_cells(cells.data(), uint32_t(cells.size()));
    NodeId node = series_node(series);
    int64_t length = block_full_length(series);
    int64_t pos = std::clamp<int64_t>(series_position(series), 0, length);
    set_series_position(series, pos);
    int64_t room = length - pos;
    int64_t written = checked_total(int64_t(cells.size()), dup, length);
    int64_t removed = std::min<int64_t>(part >= 0 ? part : written, room);

    bool told = series_notify_owner(series, ChangeWord::change, value, int32_t(pos), int32_t(removed));
    if (told) {
        // The handler may have changed the block's length.
        length = block_full_length(series);
        pos = std::min(pos, length);
        set_series_position(series, pos);
        written = checked_total(int64_t(cells.size()), dup, length);
        removed = std::min<int64_t>(part >= 0 ? part : written, length - pos);
    }
    // Growing doubles the room, so changes that grow a block one after another
    // copy it only now and then; the cells after the change move only when
    // the lengths differ.
    SeriesBuffer* b = reserve(node, std::max<int64_t>(written - removed, 0), true);
    Cell* at = b->cell_head() + pos;
    if (written != removed) std::memmove(at + written, at + removed, size_t(length - pos - removed) * 16);
    write_repeated(at, cells, written);
    b->tail = b->head + uint32_t((length - removed + written) * 16);
    hash_cells_replaced(series, uint32_t(pos), uint32_t(removed), uint32_t(written));
    if (told) series_notify_owner(series, ChangeWord::changed, value, int32_t(pos), int32_t(written));
    set_series_position(series, pos + written);
    return series;
}

Cell* block_take(Cell* series, const TakeArgs& refs) {
    Cell* result = series_take(series, refs);
    if (!refs.deep || is_type(result, TYPE_NONE)) return result;
    if (!refs.part) {
        if (any_series_type(type_of(result))) {
            Cell original = *result;
            Cell copy;
            make_unset(&copy);
            Cell made = *get_action_for_value<ACT_COPY>(&original)(&original, &copy, CopyArgs{.deep = true});
            made.header = (made.header & ~HEADER_NEW_LINE) | (original.header & HEADER_NEW_LINE);
            *result = made;
        }
        return result;
    }
    NodeId node = series_node(result);
    for (uint32_t i = 0; i < block_full_length(result); i++)
        if (any_series_type(type_of(node_buffer(node)->cell_head() + i))) deep_copy_in_place(node, i, true, nullptr);
    return result;
}

Cell* block_swap(Cell* series1, Cell* series2) {
    if (!any_block_type(type_of(series2))) fire(Err::script_invalid_arg, *series2);
    int32_t p1 = series_position(series1), p2 = series_position(series2);
    if (p1 < 0 || p2 < 0 || block_rs_length(series1) <= 0 || block_rs_length(series2) <= 0) return series1;
    bool told1 = series_notify_owner(series1, ChangeWord::swap, nullptr, p1, 1);
    bool told2 = series_notify_owner(series2, ChangeWord::swap, nullptr, p2, 1);
    // The handlers may have shortened either block: never swap a cell past a tail.
    if (block_rs_length(series1) > 0 && block_rs_length(series2) > 0) {
        std::swap(*block_rs_abs_at(series1, uint32_t(p1)), *block_rs_abs_at(series2, uint32_t(p2)));
        hash_cells_changed(series1, uint32_t(p1), 1);
        hash_cells_changed(series2, uint32_t(p2), 1);
    }
    if (told1) series_notify_owner(series1, ChangeWord::swaped, nullptr, p1, 1);
    if (told2) series_notify_owner(series2, ChangeWord::swaped, nullptr, p2, 1);
    return series1;
}

Cell* block_trim(Cell* series, const TrimArgs& refs) {
    int64_t length = block_full_length(series);
    int64_t pos = std::max(series_position(series), 0);
    if (pos >= length) return series;
    bool told = series_notify_owner(series, ChangeWord::trim, nullptr, int32_t(pos), -1);
    // The handler may have shortened the block.
    length = block_full_length(series);
    if (pos < length) {
        SeriesBuffer* b = series_buffer(series);
        Cell* cells = b->cell_head();
        int64_t kept = pos;
        for (int64_t i = pos; i < length; i++)
            if (!is_type(&cells[i], TYPE_NONE)) cells[kept++] = cells[i];
        b->tail = b->head + uint32_t(kept * 16);
    }
    if (told) series_notify_owner(series, ChangeWord::trimmed, nullptr, int32_t(pos), -1);
    return series;
}

Cell* block_copy(Cell* series, Cell* result, const CopyArgs& refs) {
    Cell source = *series;
    series_copy(&source, result, CopyArgs{.part = refs.part});
    if (!refs.deep && !refs.types) return result;
    // The hash! row turns a deep copy back into a hash! with its own index.
    if (is_type(result, TYPE_HASH)) set_type(result, TYPE_BLOCK);
    NodeId source_node = series_node(&source);
    CycleScope open;
    if (refs.deep) {
        if (cycle_find(source_node)) {
            cycle_reset();
            fire(Err::internal_no_cycle);
        }
        open.push(source_node);
    }
    NodeId node = series_node(result);
    uint32_t length = block_full_length(result);
    if (refs.types) {
        block_copy_types(node, 0, length, 1, refs.deep, refs.types);
    } else {
        for (uint32_t i = 0; i < length; i++) {
            if (any_series_type(type_of(node_buffer(node)->cell_head() + i)))
                deep_copy_in_place(node, i, true, nullptr);
        }
    }
    return result;
}

void block_copy_types(NodeId node, uint32_t start, uint32_t end, uint32_t step, bool deep, Cell* types) {
    for (uint32_t i = start; i < end; i += step) {
        uint8_t t = type_of(node_buffer(node)->cell_head() + i);
        if (!block_types_match(types, t)) continue;
        if (!any_series_type(t) && t != TYPE_BITSET && t != TYPE_OBJECT && t != TYPE_ERROR && t != TYPE_MAP) continue;
        deep_copy_in_place(node, i, deep, deep ? types : nullptr);
    }
}

} // namespace kem
