// UTF-8 and UTF-16 on plain byte spans: decoding, counting and encoding code
// points. Nothing here allocates except the error values of the raising calls,
// so the lexer, the I/O code and the console can use these on any bytes.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include "runtime/core/errors.h"

namespace kem {

namespace unicode {

// The table-driven UTF-8 automaton: 256 byte classes, then 9 states x 12 classes
// of transitions. States are multiples of 12: 0 accepts, 12 rejects. It accepts
// exactly the well-formed sequences (no overlong forms, surrogates or code points
// above 0x10FFFF).
constexpr int UTF8_ACCEPT = 0;
constexpr int UTF8_REJECT = 12;
namespace detail {
constexpr std::array<uint8_t, 256 + 108> make_utf8_dfa() {
    std::array<uint8_t, 256 + 108> t{};
    auto fill = [&t](int first, int last, uint8_t cls) {
        for (int b = first; b <= last; b++) t[size_t(b)] = cls;
    };
    fill(0x00, 0x7F, 0);
    fill(0x80, 0x8F, 1);
    fill(0x90, 0x9F, 9);
    fill(0xA0, 0xBF, 7);
    fill(0xC0, 0xC1, 8);
    fill(0xC2, 0xDF, 2);
    fill(0xE0, 0xE0, 10);
    fill(0xE1, 0xEC, 3);
    fill(0xED, 0xED, 4);
    fill(0xEE, 0xEF, 3);
    fill(0xF0, 0xF0, 11);
    fill(0xF1, 0xF3, 6);
    fill(0xF4, 0xF4, 5);
    fill(0xF5, 0xFF, 8);
    // Rows by state: 0 start, 12 reject, 24 one continuation left, 36 two left,
    // 48 after E0, 60 after ED, 72 after F0, 84 after F1..F3, 96 after F4.
    constexpr uint8_t transitions[108] = {
        0,  12, 24, 36, 60, 96, 84, 12, 12, 12, 48, 72,  // 0
        12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 12
        12, 0,  12, 12, 12, 12, 12, 0,  12, 0,  12, 12,  // 24
        12, 24, 12, 12, 12, 12, 12, 24, 12, 24, 12, 12,  // 36
        12, 12, 12, 12, 12, 12, 12, 24, 12, 12, 12, 12,  // 48: A0..BF only
        12, 24, 12, 12, 12, 12, 12, 12, 12, 24, 12, 12,  // 60: 80..9F only
        12, 12, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 72: 90..BF only
        12, 36, 12, 12, 12, 12, 12, 36, 12, 36, 12, 12,  // 84
        12, 36, 12, 12, 12, 12, 12, 12, 12, 12, 12, 12,  // 96: 80..8F only
    };
    for (size_t i = 0; i < 108; i++) t[256 + i] = transitions[i];
    return t;
}
} // namespace detail
inline constexpr std::array<uint8_t, 256 + 108> utf8_dfa = detail::make_utf8_dfa();

// Decodes one sequence at p, never reading at or past end (p < end). Sets *cp to
// the code point, or to -1 for an invalid or cut-off sequence, and returns the
// position just after the last byte examined: a stray continuation byte or a lone
// lead byte takes one byte, and the byte that broke a sequence is taken with it.
const uint8_t* fast_decode_utf8_char(const uint8_t* p, const uint8_t* end, int32_t* cp);

// Strict decoding of one sequence from avail bytes at p (the non-raising core
// of decode_utf8_char). Returns the sequence length (1..4) and sets *cp; 0 when
// the bytes present are a valid start that the end cuts short; -1 when they are
// invalid (overlong, surrogate, above 0x10FFFF, bad lead or continuation).
int check_utf8_char(const uint8_t* p, size_t avail, int32_t* cp);

// The checking decoder for loading text and making chars. *avail: bytes
// available in, sequence length out. Returns the code point, or -1 (nothing
// raised) when the end cuts a valid start short; raises access invalid-utf8,
// with a binary! of the (up to 4) bytes at p, when the sequence is invalid.
int32_t decode_utf8_char(const uint8_t* p, uint32_t* avail);

// Raises e with a binary! of the (up to 4) bytes at p as its argument.
[[noreturn]] void fire_bad_bytes(Err e, const uint8_t* p, size_t avail);

} // namespace unicode

// Code points in start..end; an invalid sequence counts as one.
uint32_t utf8_count_chars(const uint8_t* start, const uint8_t* end);
// The position n code points after p, never past end.
const uint8_t* utf8_skip(const uint8_t* p, const uint8_t* end, uint32_t n);
// 4 when the top four bits are set, 3 for the top three, 2 for the top two, else 0.
inline int utf8_lead_length(uint8_t lead) {
    if ((lead & 0xF0) == 0xF0) return 4;
    if ((lead & 0xE0) == 0xE0) return 3;
    if ((lead & 0xC0) == 0xC0) return 2;
    return 0;
}

// UTF-8 length of a code point (1..4); script invalid-char above 0x10FFFF.
int utf8_char_length(int32_t cp);
// Total UTF-8 length of the code points held in units of `unit` bytes (1, 2, 4)
// from p to end; script invalid-char for a code point above 0x10FFFF.
uint32_t utf8_count_bytes(const uint8_t* p, const uint8_t* end, uint32_t unit);
// A UTF-16 surrogate, which has no UTF-8 form of its own.
constexpr bool is_surrogate(int32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }
// Writes the UTF-8 of cp (surrogates encode like any other code point) and
// returns its length; script invalid-char above 0x10FFFF.
int utf8_encode_char(int32_t cp, uint8_t* dst);
// Writes the first min(room, length) bytes of cp's sequence; 0 when room < 1.
int utf8_encode_char_limited(int32_t cp, uint8_t* dst, int32_t room);

// Writes cp as one UTF-16 unit or a surrogate pair and returns the units
// written: 1, 2, or 0 above 0x10FFFF.
int utf16_encode_char(int32_t cp, char16_t* dst);

} // namespace kem
