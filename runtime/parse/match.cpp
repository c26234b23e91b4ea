// Matching one rule value against the input of parse.
#include "runtime/parse/match.h"
#include <cstring>
#include "runtime/core/errors.h"
#include "runtime/datatypes/actions.h"
#include "runtime/datatypes/binary.h"
#include "runtime/datatypes/block.h"
#include "runtime/datatypes/series.h"
#include "runtime/datatypes/string.h"
#include "runtime/lexer/lexer.h"
#include "runtime/services/unicode/case.h"

namespace kem::parse {

namespace {

// Case folding as text comparison does it, with ASCII decided inline.
inline int32_t fold(int32_t cp) {
    if (uint32_t(cp) < 0x80) return (cp >= 'A' && cp <= 'Z') ? cp + 32 : cp;
    return change_case(cp, false);
}

void prepare_bitset(Literal& lit, const Cell* rule) {
    SeriesBuffer* b = series_buffer(rule);
    lit.kind = Literal::bitset;
    lit.bits = b->head_ptr();
    lit.bit_bytes = b->used();
    lit.complement = (b->flags & SERIES_COMPLEMENT) != 0;
}

// Text from a string kind's (or a binary's) position, in its own units.
void prepare_text(Literal& lit, const Cell* rule, bool fold_case) {
    TextRange r = string_text_range(rule);
    lit.kind = Literal::text;
    lit.units = node_buffer(r.node)->head_ptr() + size_t(r.pos) * r.unit;
    lit.unit = r.unit;
    lit.length = r.length;
    lit.fold = fold_case;
    lit.tag = is_type(rule, TYPE_TAG);
}

inline bool text_rule(uint8_t t) { return any_string_type(t); }

} // namespace

Family family_of(uint8_t type) {
    if (any_block_type(type)) return Family::cells;
    if (type == TYPE_BINARY) return Family::bytes;
    return Family::text;
}

InputView view_of(const Cell* input) {
    SeriesBuffer* b = series_buffer(input);
    InputView v;
    v.family = family_of(type_of(input));
    v.head = b->head_ptr();
    const uint32_t shift = v.family == Family::cells ? 4 : unit_shift(b);
    v.unit = 1u << shift;
    v.tail = b->used() >> shift;
    return v;
}

bool prepare_literal(Literal& lit, const Cell* rule, Family family, CompareOp mode, std::vector<uint8_t>& scratch,
                     bool search) {
    const uint8_t t = type_of(rule);
    const bool fold_case = mode != CompareOp::strict_equal;
    switch (family) {
    case Family::cells:
        lit.kind = Literal::value;
        lit.rule = *rule;
        // Quoted words and paths match their plain kinds by name.
        if (t == TYPE_LIT_WORD || t == TYPE_LIT_PATH) lit.op = fold_case ? CompareOp::caseless : CompareOp::spelling;
        else lit.op = mode;
        return true;
    case Family::text:
        if (t == TYPE_CHAR) {
            lit.kind = Literal::one_char;
            lit.fold = fold_case;
            lit.ch = fold_case ? fold(cell_int(rule)) : cell_int(rule);
        } else if (t == TYPE_BITSET) {
            prepare_bitset(lit, rule);
        } else if (text_rule(t) || (search && t == TYPE_BINARY)) {
            prepare_text(lit, rule, fold_case);
            lit.empty_ok = lit.length == 0 && (t == TYPE_STRING || t == TYPE_FILE || t == TYPE_URL);
        }
        break;
    case Family::bytes:
        if (t == TYPE_CHAR) {
            if (uint32_t(cell_int(rule)) > 0xFF) return false;
            lit.kind = Literal::one_char;
            lit.ch = cell_int(rule);
        } else if (t == TYPE_BITSET) {
            prepare_bitset(lit, rule);
        } else if (t == TYPE_BINARY) {
            prepare_text(lit, rule, false);
        } else if (text_rule(t)) {
            // Text meets bytes as its UTF-8, exactly.
            scratch = binary_text_bytes(rule);
            lit.kind = Literal::text;
            lit.units = scratch.data();
            lit.length = uint32_t(scratch.size());
        }
        break;
    }
    return lit.kind != Literal::never;
}

int32_t Literal::match_at(const InputView& in, uint32_t pos) const {
    switch (kind) {
    case one_char: {
        int32_t c = in.at(pos);
        if (fold) c = parse::fold(c);
        return c == ch ? 1 : -1;
    }
    case bitset: return member(in.at(pos)) ? 1 : -1;
    case text: {
        const uint32_t need = length + (tag ? 2 : 0);
        if (uint64_t(pos) + need > in.tail) return -1;
        uint32_t p = pos;
        if (tag && in.at(p++) != '<') return -1;
        for (uint32_t k = 0; k < length; k++) {
            int32_t a = in.at(p + k), b = read_unit(units + size_t(k) * unit, unit);
            if (a != b && (!fold || parse::fold(a) != parse::fold(b))) return -1;
        }
        if (tag && in.at(p + length) != '>') return -1;
        return int32_t(need);
    }
    case value: {
        Cell a = *in.cell(pos), b = rule;
        return compare_values(&a, &b, op) == 0 ? 1 : -1;
    }
    default: return -1;
    }
}

namespace {

// The common runs over one-byte text and bytes, without a call per unit.
template <class Test>
uint32_t run_of(const uint8_t* head, uint32_t from, uint32_t limit, int64_t max, Test test) {
    const uint32_t end = max < 0 || int64_t(limit) - from <= max ? limit : from + uint32_t(max);
    uint32_t p = from;
    while (p < end && test(head[p])) p++;
    return p;
}

} // namespace

int64_t repeat_literal(const Literal& lit, const InputView& in, uint32_t* pos, uint32_t limit, int64_t max) {
    uint32_t p = *pos;
    if (in.unit == 1 && p < limit) {
        if (lit.kind == Literal::bitset) {
            const uint8_t* bits = lit.bits;
            const uint32_t bytes = lit.bit_bytes;
            const bool beyond = lit.complement;
            *pos = run_of(in.head, p, limit, max, [=](uint8_t c) {
                return uint32_t(c >> 3) < bytes ? ((bits[c >> 3] << (c & 7)) & 0x80) != 0 : beyond;
            });
            return *pos - p;
        }
        if (lit.kind == Literal::one_char && !lit.fold) {
            *pos = run_of(in.head, p, limit, max, [&](uint8_t c) { return c == lit.ch; });
            return *pos - p;
        }
    }
    int64_t n = 0;
    while (max < 0 || n < max) {
        const int32_t m = p < limit ? lit.match_at(in, p) : (lit.empty_ok ? 0 : -1);
        if (m < 0) break;
        if (m == 0) return -1;
        p += uint32_t(m);
        n++;
    }
    *pos = p;
    return n;
}

int64_t find_literal(const Literal& lit, const InputView& in, uint32_t from, uint32_t limit, int32_t* length) {
    if (lit.kind == Literal::text && lit.length == 0 && !lit.tag && (from < limit || lit.empty_ok)) {
        *length = 0;
        return from;
    }
    // A character without case in one-byte text: the C library's scan.
    if (lit.kind == Literal::one_char && in.unit == 1 && from < limit &&
        (!lit.fold || fold(lit.ch) == change_case(lit.ch, true))) {
        if (lit.ch > 0xFF) return -1;
        *length = 1;
        return find_byte(in, from, limit, uint8_t(lit.ch));
    }
    // Exact one-byte text in one-byte text: its first byte by the C library's
    // scan, then the rest compared whole.
    if (lit.kind == Literal::text && !lit.fold && !lit.tag && lit.unit == 1 && in.unit == 1) {
        const uint8_t* at = in.head + from;
        const uint8_t* const last = in.head + limit;
        const uint8_t* const end = in.head + in.tail;
        while (at < last && (at = static_cast<const uint8_t*>(std::memchr(at, lit.units[0], size_t(last - at))))) {
            if (size_t(end - at) >= lit.length && std::memcmp(at, lit.units, lit.length) == 0) {
                *length = int32_t(lit.length);
                return at - in.head;
            }
            at++;
        }
        return -1;
    }
    if (lit.kind == Literal::bitset && in.unit == 1) {
        uint32_t p = from;
        while (p < limit && !lit.member(in.head[p])) p++;
        *length = 1;
        return p < limit ? int64_t(p) : -1;
    }
    for (uint32_t p = from; p < limit; p++) {
        int32_t m = lit.match_at(in, p);
        if (m >= 0) {
            *length = m;
            return p;
        }
    }
    return -1;
}

int32_t match_type(const Cell* rule, const Cell* input, uint32_t pos) {
    InputView in = view_of(input);
    if (in.family == Family::cells) return block_types_match(rule, type_of(in.cell(pos))) ? 1 : -1;
    // Bytes: one value as the lexer reads it; bytes that read as nothing
    // valid simply do not match. The value is only looked at, so the words
    // of random data do not pile up in the symbol table.
    Cell value{TYPE_NONE, 0, 0, 0};
    uint32_t consumed = 0;
    int32_t type = 0;
    try {
        type = lexer_probe(&value, in.head + pos, in.tail - pos, &consumed);
    } catch (const KemError&) {
        return -1;
    }
    if (type <= 0 || consumed == 0 || !block_types_match(rule, type_of(&value))) return -1;
    return int32_t(consumed);
}

} // namespace kem::parse
