// string!: comparison, prefix matching, find, select and path access.
//
// find and select also serve binary! and vector!, which inherit them: the
// search reads units of any width, and numbers compare as numbers there.
#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>
#include "runtime/core/errors.h"
#include "runtime/core/stack.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/logic.h"
#include "runtime/datatypes/string.h"
#include "runtime/datatypes/vector.h"
#include "runtime/services/hash_keys.h"
#include "runtime/services/unicode/case.h"
#include "runtime/services/unicode/text.h"

namespace kem {

int32_t string_fold(int32_t cp) { return change_case(cp, false); }

// --- comparing -------------------------------------------------------------------

int32_t string_compare_series(Cell* s1, Cell* s2, CompareOp op, bool match) {
    uint8_t t1 = type_of(s1), t2 = type_of(s2);
    bool whole = t1 != TYPE_SYMBOL && t2 != TYPE_SYMBOL && t1 != TYPE_LOOKUP_SLICE && t2 != TYPE_LOOKUP_SLICE;
    if (whole && series_node(s1) == series_node(s2) && series_index(s1) == series_index(s2)) {
        if (op == CompareOp::same || op == CompareOp::equal || op == CompareOp::not_equal ||
            op == CompareOp::strict_equal || op == CompareOp::find)
            return 0;
    } else if (op == CompareOp::same) {
        return -1;
    }
    TextRange a = string_text_range(s1);
    TextRange b = string_text_range(s2);
    uint32_t l1 = a.length, l2 = b.length;
    if (t2 == TYPE_LOOKUP_SLICE && int32_t(s2->data3) >= 0) l2 = std::min(l2, s2->data3);
    bool equality =
        op == CompareOp::equal || op == CompareOp::not_equal || op == CompareOp::strict_equal || op == CompareOp::find;
    uint32_t n;
    if (match) {
        if (l2 == 0) return op == CompareOp::find ? 1 : 0;
        if (l1 < l2) return 1;
        n = l2;
    } else {
        if (l1 != l2 && (equality || l2 == 0)) return 1;
        if (l1 == 0 && l2 == 0) return 0;
        n = std::min(l1, l2);
    }
    bool fold = op != CompareOp::strict_equal && op != CompareOp::case_sort;
    const uint8_t* p1 = node_buffer(a.node)->head_ptr() + size_t(a.pos) * a.unit;
    const uint8_t* p2 = node_buffer(b.node)->head_ptr() + size_t(b.pos) * b.unit;
    for (uint32_t i = 0; i < n; i++) {
        int32_t c1 = read_unit(p1 + size_t(i) * a.unit, a.unit);
        int32_t c2 = read_unit(p2 + size_t(i) * b.unit, b.unit);
        if (fold) {
            c1 = string_fold(c1);
            c2 = string_fold(c2);
        }
        if (c1 != c2) return c1 < c2 ? -1 : 1;
    }
    if (match) return 0;
    return l1 < l2 ? -1 : (l1 > l2 ? 1 : 0);
}

int32_t string_compare(Cell* value1, Cell* value2, CompareOp op) {
    if (type_of(value1) != type_of(value2) &&
        (!any_string_type(type_of(value2)) || (op != CompareOp::equal && op != CompareOp::not_equal)))
        return -2;
    return string_compare_series(value1, value2, op, false);
}

// --- prefix and membership tests -----------------------------------------------------

namespace {

bool bitset_has(const Cell* bitset, int32_t cp) {
    SeriesBuffer* b = series_buffer(bitset);
    if (cp < 0 || uint64_t(cp) >= uint64_t(b->used()) * 8) return (b->flags & SERIES_COMPLEMENT) != 0;
    return (b->head_ptr()[cp >> 3] & (0x80 >> (cp & 7))) != 0;
}

} // namespace

bool string_bitset_match(const Cell* s, const Cell* bitset) {
    if (string_rs_length(s) == 0) return false;
    return bitset_has(bitset, string_char_at(s, uint32_t(std::max(series_position(s), 0))));
}

bool string_tag_delimited_q(const Cell* s, int32_t length) {
    int64_t pos = std::max(series_position(s), 0);
    int64_t close = pos + int64_t(length) + 1;
    if (length < 0 || close >= int64_t(string_full_length(s))) return false;
    return string_char_at(s, uint32_t(pos)) == '<' && string_char_at(s, uint32_t(close)) == '>';
}

bool string_match_q(Cell* s, Cell* value, CompareOp op) {
    uint8_t vt = type_of(value);
    if (vt == TYPE_CHAR) {
        if (string_rs_length(s) == 0) return false;
        int32_t c = string_char_at(s, uint32_t(std::max(series_position(s), 0)));
        int32_t v = cell_int(value);
        return op == CompareOp::strict_equal ? c == v : string_fold(c) == string_fold(v);
    }
    if (vt == TYPE_TAG) {
        int32_t len = string_rs_length(value);
        if (!string_tag_delimited_q(s, len)) return false;
        Cell inner = *s;
        set_series_position(&inner, int64_t(std::max(series_position(s), 0)) + 1);
        return string_compare_series(&inner, value, op, true) == 0;
    }
    if (!any_string_type(vt)) return false;
    return string_compare_series(s, value, op, true) == 0;
}

bool string_starts_with_cstring_q(const Cell* s, const char* text) {
    size_t n = std::strlen(text);
    if (size_t(string_rs_length(s)) < n) return false;
    uint32_t pos = uint32_t(std::max(series_position(s), 0));
    for (size_t i = 0; i < n; i++) {
        int32_t c = string_char_at(s, pos + uint32_t(i));
        if (c > 0xFF || c != static_cast<uint8_t>(text[i])) return false;
    }
    return true;
}

bool string_find_record_char(const Cell* s, int32_t cp, int32_t record, bool case_) {
    uint32_t total = string_full_length(s);
    uint32_t step = uint32_t(std::max(record, 1));
    int32_t want = case_ ? cp : string_fold(cp);
    for (uint32_t i = uint32_t(std::max(series_position(s), 0)); i < total; i += step) {
        int32_t c = string_char_at(s, i);
        if ((case_ ? c : string_fold(c)) == want) return true;
    }
    return false;
}

// --- find and select --------------------------------------------------------------------

namespace {

// Reads the units (or vector! items) of a series being searched.
struct Units {
    const uint8_t* base;
    uint32_t unit;
    uint32_t total;
    bool float_items;   // vector! of float! or percent! items
    uint32_t item;      // the item type of a vector!

    int32_t at(int64_t i) const {
        const uint8_t* p = base + size_t(i) * unit;
        switch (unit) {
        case 1: return *p;
        case 2: { uint16_t u; std::memcpy(&u, p, 2); return u; }
        default: { int32_t v; std::memcpy(&v, p, 4); return v; }
        }
    }
    // A number as the item's kind reads it: signed integers, or floats.
    double number(int64_t i, bool vector) const {
        const uint8_t* p = base + size_t(i) * unit;
        if (float_items) return vector_read_number(p, unit, item);
        return vector ? vector_read_int(p, unit, item) : at(i);
    }
};

Units units_of(const Cell* series) {
    SeriesBuffer* b = series_buffer(series);
    bool vector = is_type(series, TYPE_VECTOR);
    uint32_t unit = vector ? unit_bytes(b) : is_type(series, TYPE_BINARY) ? 1 : text_unit(b);
    uint32_t item = series->data3;
    return Units{b->head_ptr(), unit, b->used() / unit, vector && vector_float_type(item), item};
}

enum class Test { single, bitset, number, pattern };

struct Probe {
    Test test = Test::single;
    int32_t cp = 0;
    double number = 0;
    Cell bitset{};
    std::vector<int32_t> pattern;
};

struct Hit {
    int64_t index = -1;   // where the match starts, -1 for none
    int64_t length = 1;
    bool pattern = false; // a run of units rather than one unit's test
};

// The code points of a text value (pattern), folded when asked.
std::vector<int32_t> text_units(const Cell* value, bool fold) {
    TextRange r = string_text_range(value);
    const uint8_t* p = node_buffer(r.node)->head_ptr() + size_t(r.pos) * r.unit;
    std::vector<int32_t> out(r.length);
    for (uint32_t i = 0; i < r.length; i++) {
        int32_t c = read_unit(p + size_t(i) * r.unit, r.unit);
        out[i] = fold ? string_fold(c) : c;
    }
    return out;
}

Probe probe_for(const Cell* series, Cell* value, bool fold) {
    Probe probe;
    uint8_t st = type_of(series), vt = type_of(value);
    bool numeric_series = st == TYPE_BINARY || st == TYPE_VECTOR;
    if (vt == TYPE_CHAR) {
        probe.cp = fold ? string_fold(cell_int(value)) : cell_int(value);
    } else if (vt == TYPE_BITSET) {
        probe.test = Test::bitset;
        probe.bitset = *value;
    } else if (numeric_series && (vt == TYPE_INTEGER || vt == TYPE_FLOAT)) {
        probe.test = Test::number;
        probe.number = vt == TYPE_INTEGER ? double(cell_int(value)) : cell_float(value);
    } else if (vt == TYPE_BINARY) {
        if (st != TYPE_BINARY) fire(Err::script_invalid_arg, *value);
        probe.test = Test::pattern;
        probe.pattern = text_units(value, false);
    } else if (any_string_type(vt) && vt != TYPE_TAG) {
        probe.test = Test::pattern;
        probe.pattern = text_units(value, fold);
    } else {
        // Words, tags and every other value are searched as their formed text.
        Cell* formed = string_make_at(stack::push_slot(), 16);
        Cell v = *value;
        form_direct(&v, formed, nullptr, INT32_MAX);
        probe.test = Test::pattern;
        probe.pattern = text_units(formed, fold);
        stack::pop(1);
    }
    return probe;
}

struct Search {
    Cell* part;
    bool case_;
    bool same;
    bool any;
    Cell* with;
    Cell* skip;
    bool last;
    bool reverse;
    bool match;
};

// A forward search of one-byte units for a run of units that all fit a byte,
// scanned directly: exact with memmem, or with ASCII letters folded when the
// run is all ASCII (no unit past 0x7F folds to or from ASCII). nullopt when
// the run does not fit that case.
std::optional<int64_t> scan_bytes(const uint8_t* text, int64_t from, int64_t end, const std::vector<int32_t>& run,
                                  bool fold) {
    const int32_t limit = fold ? 0x7F : 0xFF;
    for (int32_t c : run)
        if (c < 0 || c > limit) return std::nullopt;
    const size_t n = run.size();
    if (end - from < int64_t(n)) return -1;
    if (!fold) {
        uint8_t bytes[64];
        std::vector<uint8_t> heap;
        uint8_t* want = n <= sizeof bytes ? bytes : (heap.resize(n), heap.data());
        for (size_t k = 0; k < n; k++) want[k] = uint8_t(run[k]);
        const void* at = memmem(text + from, size_t(end - from), want, n);
        return at ? static_cast<const uint8_t*>(at) - text : -1;
    }
    auto lower = [](uint8_t c) { return uint8_t(unsigned(c - 'A') < 26u ? c | 0x20 : c); };
    // The folded run is lower case; the text is folded as it is read.
    const uint8_t first = lower(uint8_t(run[0]));
    for (int64_t i = from, last = end - int64_t(n); i <= last; i++) {
        if (lower(text[i]) != first) continue;
        size_t k = 1;
        while (k < n && lower(text[i + int64_t(k)]) == lower(uint8_t(run[k]))) k++;
        if (k == n) return i;
    }
    return -1;
}

Hit search(const Cell* series, Cell* value, const Search& s, int64_t* step_out) {
    Hit none;
    uint8_t st = type_of(series);
    Units u = units_of(series);
    int64_t total = u.total;
    int64_t pos = series_position(series);
    if (total == 0 || (!s.reverse && pos >= total)) return none;
    pos = std::clamp<int64_t>(pos, 0, total);
    if (s.any || s.with) fire(Err::internal_not_done);
    int64_t step = 1;
    if (s.skip) {
        if (!is_type(s.skip, TYPE_INTEGER)) fire(Err::script_invalid_refine_arg, word_skip, *s.skip);
        step = cell_int(s.skip);
        if (step < 1) fire(Err::script_out_of_range, *s.skip);
    }
    *step_out = step;
    int64_t count = -1;
    if (s.part) {
        if (is_type(s.part, TYPE_INTEGER)) count = cell_int(s.part);
        else if (type_of(s.part) == st && series_node(s.part) == series_node(series))
            count = int64_t(series_position(s.part)) - pos;
        else fire(Err::script_invalid_refine_arg, word_part, *s.part);
        if (count < 1) return none;
    }
    if (s.reverse && s.match) return none;

    bool fold = any_string_type(st) && !s.case_ && !s.same;
    Probe probe = probe_for(series, value, fold);
    u = units_of(series);  // forming a probe may have allocated
    int64_t len = probe.test == Test::pattern ? int64_t(probe.pattern.size()) : 1;
    if (len == 0) return none;
    bool vector = st == TYPE_VECTOR;
    auto unit_at = [&](int64_t i) { return fold ? string_fold(u.at(i)) : u.at(i); };
    auto matches = [&](int64_t start) {
        switch (probe.test) {
        case Test::single: return unit_at(start) == probe.cp;
        case Test::bitset: return bitset_has(&probe.bitset, u.at(start));
        case Test::number: return u.number(start, vector) == probe.number;
        case Test::pattern:
            for (int64_t k = 0; k < len; k++)
                if (unit_at(start + k) != probe.pattern[size_t(k)]) return false;
            return true;
        }
        return false;
    };

    Hit hit;
    hit.length = len;
    hit.pattern = probe.test == Test::pattern;
    if (!s.last && !s.reverse) {
        int64_t end = count < 0 ? total : std::min(pos + count, total);
        if (hit.pattern && u.unit == 1 && step == 1 && !s.match && !vector) {
            if (std::optional<int64_t> at = scan_bytes(u.base, pos, end, probe.pattern, fold)) {
                if (*at < 0) return none;
                hit.index = *at;
                return hit;
            }
        }
        for (int64_t i = pos; i + len <= end; i += step) {
            if (matches(i)) {
                hit.index = i;
                return hit;
            }
            if (s.match) break;
        }
        return none;
    }
    // Backward: the match ends at the candidate and starts at or after low.
    int64_t low, from;
    if (s.last) {
        low = pos;
        from = (count < 0 ? total : std::min(pos + count, total)) - 1;
    } else {
        low = count < 0 ? 0 : std::max<int64_t>(pos - count, 0);
        from = pos - 1;
    }
    for (int64_t i = from; i >= low; i -= step) {
        int64_t start = i - len + 1;
        if (start >= low && matches(start)) {
            hit.index = start;
            return hit;
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

// The element at an absolute index of a searched series, as a value.
void element_at(const Cell* series, int64_t index, Cell* out) {
    uint8_t st = type_of(series);
    Units u = units_of(series);
    if (st == TYPE_VECTOR) {
        vector_get_value(series, uint32_t(index), out);
        return;
    }
    *out = Cell{st == TYPE_BINARY ? uint32_t(TYPE_INTEGER) : uint32_t(TYPE_CHAR), 0, uint32_t(u.at(index)), 0};
}

} // namespace

Cell* string_find(Cell* series, Cell* value, const FindArgs& refs) {
    Search s{refs.part, refs.case_, refs.same, refs.any, refs.with, refs.skip, refs.last, refs.reverse, refs.match};
    int64_t step = 1;
    Hit hit = search(series, value, s, &step);
    if (hit.index < 0) return push_none();
    int64_t at = hit.index;
    if (refs.tail) {
        if (hit.pattern) at += hit.length;
        else at += (refs.last || refs.reverse) ? 1 : step;
    }
    Cell* result = stack::push(series);
    set_series_position(result, at);
    return result;
}

Cell* string_select(Cell* series, Cell* value, const SelectArgs& refs) {
    Search s{refs.part, refs.case_, refs.same, refs.any, refs.with, refs.skip, refs.last, refs.reverse, false};
    int64_t step = 1;
    Hit hit = search(series, value, s, &step);
    if (hit.index < 0) return push_none();
    int64_t at = hit.index + hit.length;
    if (at >= units_of(series).total) return push_none();
    Cell element;
    element_at(series, at, &element);
    return stack::push(&element);
}

Cell* string_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step) {
    if (is_type(element, TYPE_INTEGER)) {
        Cell* target = stack::push(parent);
        if (!value) return pick_direct(target, cell_int(element), element);
        return poke_direct(target, cell_int(element), value, element);
    }
    if (is_type(element, TYPE_WORD)) fire(Err::script_invalid_path, step.path ? *step.path : none_value, *element);
    if (!value) return string_select(parent, element, SelectArgs{});
    // Set: the value goes just past the match, where select reads.
    Cell* found = string_find(parent, element, FindArgs{.tail = true});
    if (is_type(found, TYPE_NONE)) fire(Err::script_bad_path_set, step.path ? *step.path : none_value, *element);
    return poke_direct(found, 1, value, element);
}

} // namespace kem
