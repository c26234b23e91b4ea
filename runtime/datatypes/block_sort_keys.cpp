// block!: the default sort of records keyed by one field that holds an
// integer! in every record, or a string of one kind in every record.
//
// Each record's key is resolved once before sorting: two 64-bit numbers whose
// order agrees with the values' order (an integer exactly; a string by its
// first code points, case-folded unless /case), the string's length and its
// units, so that keys that tie on longer strings compare the texts without
// looking the strings up again. The keys are sorted by the same record sorts
// as cells, with the same answers to the same comparisons, so the result is
// the order the cell comparator gives; the records are then moved into that
// order in place. Nothing here runs Kem code or allocates a series, so the
// records and their texts stay where they are meanwhile. The keys are the
// only memory the sort takes, in a task buffer: fresh pages cost more than
// the sorting.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <optional>
#include <vector>
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/registry.h"
#include "runtime/core/errors.h"
#include "runtime/datatypes/string.h"
#include "runtime/platform/vm.h"
#include "runtime/services/sort_impl.h"
#include "runtime/services/unicode/text.h"

namespace kem {

namespace {

struct Key {
    uint64_t order[2];     // compares as the values do, but for ties
    const uint8_t* units;  // a string's first code point
    uint32_t index;        // the record's place before sorting
    uint32_t length;       // a string's code points, 0 for an integer
};

struct Text {
    const uint8_t* units;
    uint32_t length;
    uint32_t unit;
};

// Case folding of the code points 0..255 (which fold within 0..255).
struct ByteFold {
    uint8_t to[256];
    bool fits = true;
    ByteFold() {
        for (int32_t c = 0; c < 256; c++) {
            const int32_t f = string_fold(c);
            fits = fits && f < 256;
            to[c] = uint8_t(f);
        }
    }
};

// The order of two texts as string_compare_series gives it for sort and
// case_sort, knowing that their first `from` code points are equal. fold is
// the byte folding table, null for /case.
int compare_texts(const Text& x, const Text& y, uint32_t from, const uint8_t* fold) {
    const uint32_t n = std::min(x.length, y.length);
    uint32_t i = from;
    if (x.unit == 1 && y.unit == 1) {
        // Equal runs of eight bytes at a time; the first difference folded.
        for (; i + 8 <= n; i += 8) {
            uint64_t a, b;
            std::memcpy(&a, x.units + i, 8);
            std::memcpy(&b, y.units + i, 8);
            if (a != b) break;
        }
        for (; i < n; i++) {
            uint32_t a = x.units[i], b = y.units[i];
            if (a == b) continue;
            if (fold) {
                a = fold[a];
                b = fold[b];
                if (a == b) continue;
            }
            return a < b ? -1 : 1;
        }
    } else {
        for (; i < n; i++) {
            int32_t a = read_unit(x.units + size_t(i) * x.unit, x.unit);
            int32_t b = read_unit(y.units + size_t(i) * y.unit, y.unit);
            if (fold) {
                a = string_fold(a);
                b = string_fold(b);
            }
            if (a != b) return a < b ? -1 : 1;
        }
    }
    return x.length < y.length ? -1 : (x.length > y.length ? 1 : 0);
}

// Code points packed into a key, first one highest: 16 of one byte when every
// text has 1-byte units, else 6 of 21 bits, 8 or 3 to a word. A shorter text
// is padded with 0. When two keys tie and either text is no longer than the
// packed code points, those as far as the shorter text reaches are equal (a
// padding 0 only ties with a NUL), so the lengths decide.
struct Packing {
    uint32_t per_word, bits;
    uint32_t count() const { return 2 * per_word; }
};

void text_order(const Text& t, Packing pack, const uint8_t* fold, uint64_t* order) {
    for (uint32_t w = 0; w < 2; w++) {
        const uint32_t from = w * pack.per_word;
        const uint32_t n = t.length > from ? std::min(t.length - from, pack.per_word) : 0;
        uint64_t word = 0;
        for (uint32_t i = from; i < from + n; i++) {
            int32_t c = read_unit(t.units + size_t(i) * t.unit, t.unit);
            if (fold) c = pack.bits == 8 ? fold[c] : string_fold(c);
            word = word << pack.bits | uint32_t(c);
        }
        order[w] = n ? word << (pack.bits * (pack.per_word - n)) : 0;
    }
}

// Room for n records of T in a task buffer made in place.
template <class T>
T* task_buffer(std::optional<platform::TaskBuffer>& buffer, size_t n) {
    try {
        buffer.emplace(n * sizeof(T));
    } catch (const PlatformFault&) {
        fire(Err::internal_no_memory);
    }
    return static_cast<T*>(buffer->data());
}

Text text_of(const Cell* value) {
    const TextRange range = string_text_range(value);
    return {node_buffer(range.node)->head_ptr() + size_t(range.pos) * range.unit, range.length, range.unit};
}

// Keys in the order of their values; for strings, the packed code points
// (covered of them, 0 when the texts did not pack) and then the strings at
// field of each record of cells break the ties.
struct KeyOrder {
    const Cell* cells;
    uint32_t size, field;
    const uint8_t* fold;
    uint32_t covered;
    bool reverse;
    bool narrow;

    int operator()(const Key& a, const Key& b) const {
        const Key& x = reverse ? b : a;
        const Key& y = reverse ? a : b;
        if (x.order[0] != y.order[0]) return x.order[0] < y.order[0] ? -1 : 1;
        if (x.order[1] != y.order[1]) return x.order[1] < y.order[1] ? -1 : 1;
        if (x.length <= covered || y.length <= covered)
            return x.length < y.length ? -1 : (x.length > y.length ? 1 : 0);
        if (narrow) return compare_texts({x.units, x.length, 1}, {y.units, y.length, 1}, covered, fold);
        return compare_texts(text_of(cells + size_t(x.index) * size + field),
                             text_of(cells + size_t(y.index) * size + field), covered, fold);
    }
};

} // namespace

bool block_sort_by_keys(Cell* cells, uint32_t records, uint32_t size, uint32_t field, bool reverse, bool case_,
                        bool stable) {
    if (records < 2) return records == 1;
    const uint8_t type = type_of(cells + field);
    const bool integers = type == TYPE_INTEGER;
    static const ByteFold folding;
    if (!integers && (action_entry_as<ACT_COMPARE>(type) != string_compare || !folding.fits)) return false;
    for (uint32_t r = 0; r < records; r++)
        if (type_of(cells + size_t(r) * size + field) != type) return false;

    std::optional<platform::TaskBuffer> buffer;
    Key* keys = task_buffer<Key>(buffer, records);
    KeyOrder order{cells, size, field, nullptr, 0, reverse, false};
    if (integers) {
        for (uint32_t r = 0; r < records; r++) {
            const uint32_t v = uint32_t(cell_int(cells + size_t(r) * size + field));
            keys[r] = {{uint64_t(v ^ 0x80000000u), 0}, nullptr, r, 0};
        }
    } else {
        bool narrow = true, packable = true;
        for (uint32_t r = 0; r < records; r++) {
            const Text t = text_of(cells + size_t(r) * size + field);
            if (t.unit == 1) continue;
            narrow = false;
            // Wide code points beyond 21 bits would not pack: then the texts
            // are compared whole.
            for (uint32_t i = 0; i < std::min(t.length, 6u); i++)
                packable = packable && read_unit(t.units + size_t(i) * t.unit, t.unit) < (1 << 21);
        }
        const Packing pack = narrow ? Packing{8, 8} : Packing{3, 21};
        // Folding without /case: a table for 1-byte units, which string_fold
        // stands in for with wider ones.
        order.fold = case_ ? nullptr : folding.to;
        order.covered = packable ? pack.count() : 0;
        order.narrow = narrow;
        for (uint32_t r = 0; r < records; r++) {
            const Text t = text_of(cells + size_t(r) * size + field);
            keys[r] = {{0, 0}, t.units, r, t.length};
            if (packable) text_order(t, pack, order.fold, keys[r].order);
        }
    }
    if (stable) {
        std::optional<platform::TaskBuffer> scratch;
        sorting::merge_sort_typed(keys, records, task_buffer<Key>(scratch, records / 2 + 1), order);
    } else {
        sorting::quick_sort_typed(keys, records, order);
    }

    if (size == 1) {
        // Records of one cell are gathered into the keys' own buffer, which
        // they fit, each read by its key before it overwrites any key not
        // read yet: the reads are independent of each other, so the memory
        // serves them side by side. Bytes, not typed access, since the two
        // kinds of records overlap.
        static_assert(sizeof(Key) >= sizeof(Cell));
        uint8_t* bytes = reinterpret_cast<uint8_t*>(keys);
        for (uint32_t j = 0; j < records; j++) {
            uint32_t from;
            std::memcpy(&from, bytes + size_t(j) * sizeof(Key) + offsetof(Key, index), sizeof from);
            std::memcpy(bytes + size_t(j) * sizeof(Cell), cells + from, sizeof(Cell));
        }
        std::memcpy(cells, bytes, size_t(records) * sizeof(Cell));
        return true;
    }
    // Longer records, cycle by cycle: place j takes the record keys[j].index
    // names, and a key whose index is its own place is done.
    const size_t bytes = size_t(size) * sizeof(Cell);
    std::vector<Cell> held(size);
    for (uint32_t i = 0; i < records; i++) {
        if (keys[i].index == i) continue;
        std::memcpy(held.data(), cells + size_t(i) * size, bytes);
        for (uint32_t j = i;;) {
            const uint32_t from = keys[j].index;
            keys[j].index = j;
            if (from == i) {
                std::memcpy(cells + size_t(j) * size, held.data(), bytes);
                break;
            }
            std::memcpy(cells + size_t(j) * size, cells + size_t(from) * size, bytes);
            j = from;
        }
    }
    return true;
}

} // namespace kem
