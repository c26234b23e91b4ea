// block!: union, intersect, unique, difference and exclude over records of
// cells. A record is known by its first cell; the others follow it.
#include <algorithm>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/char.h"
#include "runtime/datatypes/float.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/integer.h"
#include "runtime/datatypes/registry.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/symbol.h"
#include "runtime/datatypes/word.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/unicode/text.h"

namespace kem {

namespace {

// A hash of a record's first cell such that cells of one type that compare
// equal (op 2 when case_, else op 12) hash alike. Where a type's equality is
// not known here, the whole type shares one hash: its cells are then compared
// one by one, in order, as a plain scan would.
uint32_t key_hash(const Cell& c, bool case_) {
    const uint8_t type = type_of(&c);
    const auto compare = action_entry_as<ACT_COMPARE>(type);
    uint32_t h = 0;
    if (compare == integer_compare || compare == char_compare) {
        h = hash_int(c.data2);
    } else if (compare == float_compare) {
        // Equality is exact under both ops; adding 0.0 makes -0.0 hash as 0.0.
        double d = cell_float(&c) + 0.0;
        h = murmur3_hash(&d, sizeof d);
    } else if (compare == string_compare) {
        // Folds as the string compare does (to lower case), not as the table
        // keys do, so that every pair it finds equal hashes alike.
        TextRange r = string_text_range(&c);
        const uint8_t* p = node_buffer(r.node)->head_ptr() + size_t(r.pos) * r.unit;
        h = r.length;
        for (uint32_t i = 0; i < r.length; i++) {
            int32_t cp = read_unit(p + size_t(i) * r.unit, r.unit);
            h = (h ^ uint32_t(case_ ? cp : string_fold(cp))) * 0x01000193u;
        }
        h = hash_int(h);
    } else if (compare == word_compare || type == TYPE_ISSUE) {
        // issue! asks word_compare once both sides are issues.
        h = hash_int(case_ ? c.data2 : symbol_resolve(c.data2));
    } else if (type == TYPE_LOGIC) {
        h = hash_int(c.data1);
    }
    return h ^ (uint32_t(type) * 0x9E3779B9u);
}

// The record starts of a cell vector by the hash of their cells. A chain keeps
// the order of adding, so cells sharing one hash are visited in vector order.
class RecordIndex {
public:
    explicit RecordIndex(size_t expected) {
        size_t n = 16;
        while (n < expected) n *= 2;
        heads_.assign(n, 0);
        tails_.assign(n, 0);
        entries_.reserve(expected);
    }

    void add(uint32_t hash, size_t position) {
        if (entries_.size() >= heads_.size()) rebuild(heads_.size() * 2);
        entries_.push_back(Entry{hash, uint32_t(position), 0});
        link(uint32_t(entries_.size()));
    }

    // Whether match(position) holds for some entry of this hash.
    template <class Match> bool any(uint32_t hash, Match&& match) const {
        for (uint32_t e = heads_[hash & (heads_.size() - 1)]; e; e = entries_[e - 1].next)
            if (entries_[e - 1].hash == hash && match(entries_[e - 1].position)) return true;
        return false;
    }

private:
    struct Entry {
        uint32_t hash;
        uint32_t position;
        uint32_t next;  // entry number + 1; 0 ends the chain
    };

    // Appends entry number e - 1 at the tail of its chain.
    void link(uint32_t e) {
        size_t b = entries_[e - 1].hash & (heads_.size() - 1);
        if (tails_[b]) entries_[tails_[b] - 1].next = e;
        else heads_[b] = e;
        tails_[b] = e;
    }

    void rebuild(size_t buckets) {
        heads_.assign(buckets, 0);
        tails_.assign(buckets, 0);
        for (Entry& entry : entries_) entry.next = 0;
        for (uint32_t e = 1; e <= entries_.size(); e++) link(e);
    }

    std::vector<Entry> entries_;
    std::vector<uint32_t> heads_, tails_;
};

} // namespace

// unique (8), union (9), intersect (10), exclude (11), difference (12) of the
// current call's two block arguments; the result replaces the first.
Cell* block_do_set_op(bool case_, Cell* skip, int32_t op) {
    int32_t size = 1;
    if (skip) {
        size = is_type(skip, TYPE_INTEGER) ? cell_int(skip) : 0;
        if (size < 1) fire(Err::script_invalid_refine_arg, word_load("skip"), *skip);
    }
    if (op < 8 || op > 12) fire(Err::script_invalid_arg, Cell{TYPE_INTEGER, 0, uint32_t(op), 0});
    // The operands are read into copies: the result's growth may move nothing
    // they point at, and the same block may stand on both sides.
    Cell set1 = stack::arguments[0];
    Cell set2 = op == 8 ? set1 : stack::arguments[1];
    for (Cell* s : {&set1, &set2})
        set_series_position(s, std::clamp<int64_t>(series_position(s), 0, block_full_length(s)));
    const std::vector<Cell> cells1 = block_cells_copy(&set1);
    const std::vector<Cell> cells2 = op == 8 ? std::vector<Cell>{} : block_cells_copy(&set2);
    const CompareOp cmp_op = case_ ? CompareOp::strict_equal : CompareOp::find;
    const size_t step = size_t(size);

    // The hashes of each record's first cell, one per record.
    auto record_hashes = [&](const std::vector<Cell>& cells) {
        std::vector<uint32_t> hashes;
        hashes.reserve(cells.size() / step + 1);
        for (size_t i = 0; i < cells.size(); i += step) hashes.push_back(key_hash(cells[i], case_));
        return hashes;
    };
    const std::vector<uint32_t> hashes1 = record_hashes(cells1);
    const std::vector<uint32_t> hashes2 = record_hashes(cells2);
    auto index_of = [&](const std::vector<uint32_t>& hashes) {
        RecordIndex index(hashes.size());
        for (size_t r = 0; r < hashes.size(); r++) index.add(hashes[r], r * step);
        return index;
    };

    std::vector<Cell> out;
    // Record starts of `out` are every size-th cell even after a short last
    // record, as a plain walk of `out` would take them.
    RecordIndex out_index(cells1.size() / step + (op == 8 ? 0 : cells2.size() / step));

    // Whether some record start of `in` (of the same type) is equal to c.
    auto holds = [&](const RecordIndex& index, const std::vector<Cell>& in, const Cell& c, uint32_t hash) {
        return index.any(hash, [&](uint32_t position) {
            Cell a = c, b = in[position];
            return type_of(&a) == type_of(&b) && compare_values(&a, &b, cmp_op) == 0;
        });
    };
    auto pass = [&](const std::vector<Cell>& from, const std::vector<uint32_t>& hashes, const RecordIndex* other_index,
                    const std::vector<Cell>* other, bool want_in_other) {
        for (size_t i = 0; i < from.size(); i += step) {
            const uint32_t hash = hashes[i / step];
            if (other && holds(*other_index, *other, from[i], hash) != want_in_other) continue;
            if (holds(out_index, out, from[i], hash)) continue;
            const size_t start = out.size();
            out.insert(out.end(), from.begin() + ptrdiff_t(i),
                       from.begin() + ptrdiff_t(std::min(from.size(), i + step)));
            for (size_t p = (start + step - 1) / step * step; p < out.size(); p += step)
                out_index.add(p == start ? hash : key_hash(out[p], case_), p);
        }
    };
    switch (op) {
    case 8: pass(cells1, hashes1, nullptr, nullptr, false); break;
    case 9:
        pass(cells1, hashes1, nullptr, nullptr, false);
        pass(cells2, hashes2, nullptr, nullptr, false);
        break;
    case 10: {
        RecordIndex index2 = index_of(hashes2);
        pass(cells1, hashes1, &index2, &cells2, true);
        break;
    }
    case 11: {
        RecordIndex index2 = index_of(hashes2);
        pass(cells1, hashes1, &index2, &cells2, false);
        break;
    }
    default: {
        RecordIndex index1 = index_of(hashes1), index2 = index_of(hashes2);
        pass(cells1, hashes1, &index2, &cells2, false);
        pass(cells2, hashes2, &index1, &cells1, false);
        break;
    }
    }
    Cell* result = block_make_at(stack::push_slot(), int32_t(std::max<size_t>(out.size(), 1)));
    for (const Cell& c : out) block_append_cell(result, &c);
    stack::arguments[0] = Cell{type_of(&set1), 0, series_node(result), 0};
    set_series_position(stack::arguments, 0);
    // Either operand a hash!: so is the result, with its own index.
    if (is_type(&set1, TYPE_HASH) || is_type(&set2, TYPE_HASH)) hash_index_block(stack::arguments);
    stack::top = stack::arguments + 1;
    return stack::arguments;
}

} // namespace kem
