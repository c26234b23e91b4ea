// Matching one rule value against the input of parse: literals, bitsets and
// datatypes, one position at a time or as a forward search.
//
// A Literal and an InputView hold raw pointers into series buffers. They are
// made just before a match and dropped before any Kem code runs (a paren, a
// trace callback, a change handler), since a collection may then move every
// buffer.
#pragma once
#include <cstdint>
#include <cstring>
#include <vector>
#include "runtime/core/cell.h"
#include "runtime/core/compare_op.h"

namespace kem::parse {

// The three kinds of input the dialect tells apart.
enum class Family : uint8_t { cells, text, bytes };
Family family_of(uint8_t type);

inline int32_t read_unit(const uint8_t* p, uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) {
        uint16_t v;
        std::memcpy(&v, p, 2);
        return v;
    }
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The input's units from the buffer's head: cells, code points or bytes.
struct InputView {
    Family family;
    const uint8_t* head;  // unit 0
    uint32_t unit;        // bytes per unit
    uint32_t tail;        // units from the head to the tail
    // The code point or byte at i (text and bytes).
    int32_t at(uint32_t i) const { return read_unit(head + size_t(i) * unit, unit); }
    const Cell* cell(uint32_t i) const { return reinterpret_cast<const Cell*>(head) + i; }
};
InputView view_of(const Cell* input);

// A literal rule value ready to be compared with one input family.
struct Literal {
    enum Kind : uint8_t { never, one_char, text, bitset, value } kind = never;
    bool fold = false;          // text and one_char: compare case-folded
    bool empty_ok = false;      // matches nothing, also at the end of input
    bool tag = false;           // text: enclosed in < and >
    int32_t ch = 0;             // one_char (folded when fold)
    const uint8_t* units = nullptr;  // text: the rule's units, or `owned`
    uint32_t unit = 1;
    uint32_t length = 0;        // text: units (without the tag's brackets)
    const uint8_t* bits = nullptr;   // bitset: the bit array
    uint32_t bit_bytes = 0;
    bool complement = false;
    Cell rule{};                // value: the rule value itself
    CompareOp op = CompareOp::equal;  // value: the comparison operator

    // Units a match at pos consumes, or -1. pos lies before the tail.
    int32_t match_at(const InputView& in, uint32_t pos) const;
    bool member(int32_t n) const {
        if (n < 0 || uint32_t(n >> 3) >= bit_bytes) return complement;
        return (bits[n >> 3] & (0x80 >> (n & 7))) != 0;
    }
};

// How many matches of the literal follow one another from *pos, at most max
// (negative: no limit), none starting at or past limit; *pos moves past them.
// Answers -1 when the literal matches nothing (empty text): it succeeds at once.
int64_t repeat_literal(const Literal& lit, const InputView& in, uint32_t* pos, uint32_t limit, int64_t max);

// Prepares `rule` for input of the family under the comparison mode (0 case
// ignored, 2 case respected). Answers false when the value can never match
// there (kind never). Text input takes a binary! rule only in a search.
// `scratch` holds the UTF-8 of a text rule for binary input.
bool prepare_literal(Literal& lit, const Cell* rule, Family family, CompareOp mode, std::vector<uint8_t>& scratch,
                     bool search = false);

// Whether to and thru can scan text or bytes for the rule value; cells take any.
inline bool searchable(const Cell* rule, Family family) {
    if (family == Family::cells) return true;
    const uint8_t t = type_of(rule);
    return t == TYPE_BITSET || t == TYPE_CHAR || t == TYPE_BINARY || any_string_type(t);
}

// The first byte b of one-byte input from `from`, before `limit`; -1 when none.
inline int64_t find_byte(const InputView& in, uint32_t from, uint32_t limit, uint8_t b) {
    const void* hit = from < limit ? std::memchr(in.head + from, b, limit - from) : nullptr;
    return hit ? static_cast<const uint8_t*>(hit) - in.head : -1;
}

// The first match of the literal from `from`, starting before `limit`:
// its start, with its length in *length, or -1.
int64_t find_literal(const Literal& lit, const InputView& in, uint32_t from, uint32_t limit, int32_t* length);

// A datatype! or typeset! rule at pos of block-like or binary input: the
// units the value there takes when its type is in the rule, else -1. In
// binary input the lexer reads one value from the bytes.
int32_t match_type(const Cell* rule, const Cell* input, uint32_t pos);

} // namespace kem::parse
