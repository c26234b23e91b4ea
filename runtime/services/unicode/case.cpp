#include "runtime/services/unicode/case.h"
#include <algorithm>
#include <cstring>
#include "runtime/core/errors.h"
#include "runtime/core/memory.h"
#include "runtime/services/unicode/text.h"

namespace kem {

namespace {

struct CasePair {
    int32_t from;
    int32_t to;
};

#include "runtime/services/unicode/case_tables.inc"

// The tables start zeroed (static storage), and every fill writes the same
// entries: zeroing them again would only make the system map every page of
// them at start-up rather than those that hold a mapping.
void fill(int32_t* table, const CasePair* pairs, size_t n) {
    for (size_t i = 0; i < n; i++) table[pairs[i].from] = pairs[i].to;
}

} // namespace

int32_t case_upper_table[0x10000];
int32_t case_lower_table[0x10000];

void case_tables_init() {
    fill(case_upper_table, upper_pairs_bmp, std::size(upper_pairs_bmp));
    fill(case_lower_table, lower_pairs_bmp, std::size(lower_pairs_bmp));
}

int32_t change_case_beyond_bmp(int32_t cp, bool upper) {
    const CasePair* first = upper ? std::begin(upper_pairs_beyond) : std::begin(lower_pairs_beyond);
    const CasePair* last = upper ? std::end(upper_pairs_beyond) : std::end(lower_pairs_beyond);
    const CasePair* it = std::lower_bound(first, last, cp, [](const CasePair& p, int32_t c) { return p.from < c; });
    return it != last && it->from == cp ? it->to : cp;
}

int32_t change_case_value(Cell* value, const Cell* part, bool upper, const Cell& part_word) {
    uint8_t type = type_of(value);
    if (type == TYPE_CHAR) {
        value->data2 = uint32_t(change_case(int32_t(value->data2), upper));
        return 1;
    }
    if (!any_string_type(type)) fire(Err::script_invalid_arg, *value);

    NodeId node = series_node(value);
    SeriesBuffer* b = node_buffer(node);
    uint32_t unit = text_unit(b);
    uint32_t total = b->used() / unit;
    if (series_index(value) > total) value->data1 = total;
    uint32_t index = series_index(value);
    int64_t left = total - index;

    int64_t n = left;
    if (part && !is_type(part, TYPE_NONE)) {
        if (is_type(part, TYPE_INTEGER)) {
            n = cell_int(part);
        } else if (type_of(part) == type && series_node(part) == node) {
            n = int64_t(series_index(part)) - int64_t(index);
        } else {
            fire(Err::script_invalid_refine_arg, part_word, *part);
        }
    }
    n = std::clamp<int64_t>(n, 0, left);

    for (uint32_t i = index; i < index + uint32_t(n); i++) {
        uint8_t* at = b->head_ptr() + size_t(i) * unit;
        int32_t cp = read_unit(at, unit);
        int32_t mapped = change_case(cp, upper);
        if (mapped == cp) continue;
        if (mapped > unit_max_code_point(unit)) {
            // The whole buffer takes the wider unit; go on at the same index.
            b = widen_string_buffer(b, mapped > 0xFFFF ? 4 : 2);
            unit = b->unit();
            at = b->head_ptr() + size_t(i) * unit;
        }
        write_unit(at, unit, mapped);
    }
    return int32_t(n);
}

} // namespace kem
