// The byte layout of KEMBIN data, shared by the encoder and the decoder.
//
// Header: the magic "KEMBIN", a version byte, a flags byte, then (from the
// unpacked bytes when compressed) the root record count and the records size,
// with a symbol table the symbol count, the names size, one 32-bit offset per
// name and the NUL-terminated UTF-8 names, then the records. The compact
// variant writes its counts as varints and starts each record with one header
// byte (prefixes before it); the fixed variant writes 32-bit words and starts
// each record with a 32-bit header word whose bits carry the prefixes.
#pragma once
#include <cstdint>
#include <vector>

namespace kem::kembin {

constexpr char MAGIC[6] = {'K', 'E', 'M', 'B', 'I', 'N'};
constexpr uint8_t VERSION = 2;       // what the encoders write
constexpr uint8_t BOOT_VERSION = 1;  // what the boot data carries
constexpr uint32_t PREAMBLE_BYTES = 8;

enum Flags : uint8_t { FLAG_COMPACT = 1, FLAG_COMPRESSED = 2, FLAG_SYMBOLS = 4 };

// Compact header bytes.
constexpr uint8_t PREFIX_NEW_LINE = 0xC0;
constexpr uint8_t PREFIX_SHARED = 0xC1;
constexpr uint8_t LOGIC_TRUE = 0xC2;
constexpr uint8_t LOGIC_FALSE = 0xC3;
constexpr uint8_t PREFIX_SET = 0xC4;
constexpr uint8_t REFERENCE = 0xFF;
constexpr uint8_t SMALL_INTEGER = 0x80;  // 0x80..0xBF: the integers 0..63
constexpr uint8_t EXTRA_FLAG = 0x40;
constexpr uint8_t TYPE_BITS = 0x3F;
constexpr uint8_t TYPE_ESCAPE = 0x3F;    // the type id follows as a varint

// Compact context flags byte.
enum ContextFlags : uint8_t {
    CTX_KIND_MASK = 0x03,
    CTX_ON_STACK = 0x04,
    CTX_SELF = 0x08,
    CTX_VALUES = 0x10,
};

// Fixed header word bits.
constexpr uint32_t FIXED_TYPE_MASK = 0xFF;
constexpr uint32_t FIXED_REFERENCE = 0xFF;
constexpr uint32_t FIXED_NEW_LINE = 0x80000000;
constexpr uint32_t FIXED_SHARED = 0x80000;        // bit 19
constexpr uint32_t FIXED_SET = 0x2000000;         // bit 25, boot words
constexpr uint32_t FIXED_GLOBAL = 0x2000000;      // bit 25, codec words
constexpr uint32_t FIXED_ON_SET = 0x1000000;      // bit 24, object!
constexpr uint32_t FIXED_MONEY_SIGN = 0x400000;   // bit 22
constexpr uint32_t FIXED_COMPLEMENT = 0x800000;   // bit 23, bitset!
constexpr uint32_t FIXED_UNIT_SHIFT = 8;          // strings: unit in bits 8..15
constexpr uint32_t FIXED_TUPLE_SHIFT = 8;         // tuple!: length in bits 8..11
constexpr uint32_t FIXED_WRAPPED_SHIFT = 16;      // op!: wrapped type in bits 16..23
constexpr uint32_t FIXED_CTX_KIND_SHIFT = 26;     // context body: kind in bits 26..27
constexpr uint32_t FIXED_CTX_SELF = 0x10000000;
constexpr uint32_t FIXED_CTX_ON_STACK = 0x20000000;
constexpr uint32_t FIXED_CTX_VALUES = 0x40000000;

// A reference path has 1..MAX_PATH steps.
constexpr uint32_t MAX_PATH = 65536;
// Records nest at most this deep, in both directions.
constexpr uint32_t MAX_DEPTH = 1000;

inline uint32_t zigzag(int32_t n) { return (uint32_t(n) << 1) ^ uint32_t(n >> 31); }
inline int32_t unzigzag(uint32_t v) { return int32_t((v >> 1) ^ (0u - (v & 1))); }

inline void put_varint(std::vector<uint8_t>& out, uint32_t v) {
    while (v >= 0x80) {
        out.push_back(uint8_t(v | 0x80));
        v >>= 7;
    }
    out.push_back(uint8_t(v));
}
inline void put_u32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 0; i < 4; i++) out.push_back(uint8_t(v >> (8 * i)));
}
inline uint32_t get_u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void set_u32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

} // namespace kem::kembin
