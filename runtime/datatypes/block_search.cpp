// block!: find, select and put, and the lookups runtime code uses on blocks.
#include <algorithm>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/core/value.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/hash.h"
#include "runtime/datatypes/logic.h"

namespace kem {

namespace {

struct Match {
    int64_t index = -1;   // absolute from the head, -1 when nothing matched
    int64_t length = 1;   // cells the match covers
};

struct SearchOptions {
    Cell* part = nullptr;
    bool only = false;
    bool case_ = false;
    bool same = false;
    Cell* skip = nullptr;
    bool last = false;
    bool reverse = false;
    bool match = false;
};

// The scan shared by find, select and put. Raises the refinement errors before
// looking at any cell.
Match search(const Cell* series, Cell* value, const SearchOptions& s) {
    Match none;
    int64_t total = block_full_length(series);
    int64_t pos = series_position(series);
    if (total == 0 || (!s.reverse && pos >= total)) return none;
    pos = std::clamp<int64_t>(pos, 0, total);

    int64_t step = 1;
    if (s.skip) {
        if (!is_type(s.skip, TYPE_INTEGER)) fire(Err::script_invalid_refine_arg, word_skip, *s.skip);
        step = cell_int(s.skip);
        if (step < 1) fire(Err::script_out_of_range, *s.skip);
    }
    int64_t limit = total - 1;  // the last candidate
    if (s.part) {
        if (is_type(s.part, TYPE_INTEGER)) {
            if (cell_int(s.part) < 1) return none;
            limit = pos + cell_int(s.part) - 1;
        } else if (any_series_type(type_of(s.part)) && series_node(s.part) == series_node(series)) {
            limit = series_position(s.part);
        } else {
            fire(Err::script_invalid_refine_arg, word_part, *s.part);
        }
        limit = std::min(limit, total - 1);
    }

    uint8_t vt = type_of(value);
    bool by_type = !s.only && vt == TYPE_DATATYPE;
    bool by_typeset = !s.only && vt == TYPE_TYPESET;
    std::vector<Cell> sequence;
    int64_t len = 1;
    if (!s.only && any_block_type(vt)) {
        int32_t n = std::max(block_rs_length(value), 0);
        if (n == 0) return none;
        const Cell* from = block_rs_abs_at(value, uint32_t(std::max(series_position(value), 0)));
        sequence.assign(from, from + n);
        len = n;
    }
    CompareOp op = s.same ? CompareOp::same : (s.case_ ? CompareOp::strict_equal : CompareOp::find);
    auto compare = action_entry_as<ACT_COMPARE>(vt);

    const Cell* cells = block_rs_abs_at(series, 0);
    auto matches_at = [&](int64_t i) {
        if (i < 0 || i + len > total) return false;
        if (by_type) return type_of(&cells[i]) == value->data1;
        if (by_typeset) return block_types_match(value, type_of(&cells[i]));
        if (!sequence.empty()) {
            for (int64_t k = 0; k < len; k++)
                if (compare_values(&sequence[size_t(k)], const_cast<Cell*>(&cells[i + k]), op) != 0) return false;
            return true;
        }
        return compare && compare(value, const_cast<Cell*>(&cells[i]), op) == 0;
    };

    Match found;
    found.length = len;
    // A hash! asks its index for the cells that may match and takes the one
    // the scan below would reach first.
    // One list serves every lookup; one made during another (a comparison
    // that searches) takes its own.
    static std::vector<uint32_t> shared_list;
    static bool shared_busy = false;
    std::vector<uint32_t> own_list;
    const bool borrowed = !shared_busy;
    std::vector<uint32_t>& candidates = borrowed ? shared_list : own_list;
    struct Release {
        bool active;
        ~Release() {
            if (active) shared_busy = false;
        }
    } release{borrowed};
    shared_busy = true;
    if (!s.match && sequence.empty() && !by_type && !by_typeset &&
        hash_lookup_candidates(series, value, s.only, s.same, candidates)) {
        const Cell key = *value;
        auto hit = [&](int64_t i) {
            return compare && compare(const_cast<Cell*>(&key), block_rs_abs_at(series, uint32_t(i)), op) == 0;
        };
        if (!s.last && !s.reverse) {
            const int64_t end = s.part ? limit : total - 1;
            for (uint32_t l : candidates)
                if (l >= pos && l <= end && (l - pos) % step == 0 && hit(l)) {
                    found.index = l;
                    return found;
                }
            return none;
        }
        const int64_t start = s.part ? limit : (s.last ? total - 1 : pos - 1);
        for (auto it = candidates.rbegin(); it != candidates.rend(); ++it)
            if (int64_t(*it) <= start && (start - *it) % step == 0 && hit(*it)) {
                found.index = *it;
                return found;
            }
        return none;
    }
    if (!s.last && !s.reverse) {
        int64_t end = s.part ? limit - len + 1 : total - len;  // the whole sequence fits
        for (int64_t i = pos; i <= end; i += step) {
            if (matches_at(i)) {
                found.index = i;
                return found;
            }
            if (s.match) break;
        }
        return none;
    }
    int64_t start;
    if (s.part) start = limit;
    else if (s.last) start = total - len;
    else start = pos - len;
    for (int64_t i = start; i >= 0; i -= step) {
        if (matches_at(i)) {
            found.index = i;
            return found;
        }
        if (s.match) break;
    }
    return none;
}

Cell* push_none() {
    Cell* c = stack::push_slot();
    make_none(c);
    return c;
}

} // namespace

// Bit n of a typeset is bit 0x80 >> (n & 7) of payload byte n >> 3.
bool block_types_match(const Cell* types, uint8_t type) {
    if (is_type(types, TYPE_DATATYPE)) return types->data1 == type;
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(&types->data1);
    return type < 96 && (bytes[type >> 3] & (0x80 >> (type & 7)));
}

Cell* block_find(Cell* series, Cell* value, const FindArgs& refs) {
    SearchOptions opts{refs.part, refs.only, refs.case_, refs.same, refs.skip, refs.last, refs.reverse, refs.match};
    Match m = search(series, value, opts);
    if (m.index < 0) return push_none();
    int64_t at = m.index;
    if (refs.tail) {
        if (m.length > 1 || (!refs.only && any_block_type(type_of(value)))) at += m.length;
        else if (refs.last || refs.reverse) at += 1;
        else at += refs.skip ? cell_int(refs.skip) : 1;
    }
    Cell* result = stack::push(series);
    set_series_position(result, at);
    return result;
}

Cell* block_select(Cell* series, Cell* value, const SelectArgs& refs) {
    SearchOptions opts{refs.part, refs.only, refs.case_, refs.same, refs.skip, refs.last, refs.reverse, false};
    Match m = search(series, value, opts);
    if (m.index < 0) return push_none();
    int64_t after = m.index + m.length;
    if (after >= block_full_length(series)) return push_none();
    return stack::push(block_rs_abs_at(series, uint32_t(after)));
}

// The key is one cell (as with /only), so a key that is a block is found again
// by the next put instead of being appended twice.
Cell* block_put(Cell* series, Cell* key, Cell* value, const PutArgs& refs) {
    Cell k = *key, v = *value;
    SearchOptions opts;
    opts.only = true;
    opts.case_ = refs.case_;
    Cell probe = *series;
    Match m = search(&probe, &k, opts);
    if (m.index < 0) {
        int32_t at = int32_t(block_full_length(series));
        bool told = series_notify_owner(series, ChangeWord::put, &v, at, 2);
        block_append_cell(series, &k);
        block_append_cell(series, &v);
        hash_cells_inserted(series, uint32_t(at), 2);
        if (told) series_notify_owner(series, ChangeWord::put_ed, &v, at, 2);
        return value;
    }
    uint32_t after = uint32_t(m.index + 1);
    bool told = series_notify_owner(series, ChangeWord::put, &v, int32_t(after), 1);
    if (after < block_full_length(series)) {
        Cell* old = block_rs_abs_at(series, after);
        if (compare_values(&v, old, CompareOp::find) != 0) {
            *old = v;
            hash_cells_changed(series, after, 1);
        }
    } else {
        block_append_cell(series, &v);
        hash_cells_inserted(series, after, 1);
    }
    if (told) series_notify_owner(series, ChangeWord::put_ed, &v, int32_t(after), 1);
    return value;
}

// --- lookups for runtime code ------------------------------------------------------

const Cell* block_select_value(const Cell* blk, Cell* value) {
    uint32_t total = block_full_length(blk);
    for (uint32_t i = uint32_t(std::max(series_position(blk), 0)); i < total; i++) {
        if (compare_values(value, block_rs_abs_at(blk, i), CompareOp::find) != 0) continue;
        return i + 1 < total ? block_rs_abs_at(blk, i + 1) : &none_value;
    }
    return &none_value;
}

const Cell* block_select_word(const Cell* blk, Cell* word, bool case_) {
    uint32_t total = block_full_length(blk);
    for (uint32_t i = uint32_t(std::max(series_position(blk), 0)); i < total; i++) {
        Cell* c = block_rs_abs_at(blk, i);
        uint8_t t = type_of(c);
        if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD) continue;
        // Payload word 2 of a word is its symbol: the exact spelling.
        bool equal = case_ ? c->data2 == word->data2 : compare_values(word, c, CompareOp::find) == 0;
        if (!equal) continue;
        return i + 1 < total ? block_rs_abs_at(blk, i + 1) : &none_value;
    }
    return &none_value;
}

int32_t block_remove_value(Cell* blk, Cell* value, bool from_head) {
    uint32_t total = block_full_length(blk);
    int32_t pos = std::max(series_position(blk), 0);
    for (uint32_t i = from_head ? 0 : uint32_t(pos); i < total; i++) {
        if (compare_values(value, block_rs_abs_at(blk, i), CompareOp::find) != 0) continue;
        series_delete_units(blk, i, 1);
        return int64_t(i) <= pos ? 1 : 0;
    }
    return -1;
}

} // namespace kem
