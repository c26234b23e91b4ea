// Text conversion between string series (units of 1, 2 or 4 bytes, one code
// point per unit) and the UTF-8 and UTF-16LE that enter and leave the runtime.
//
// Conversions out of a string write into that string value's conversion buffer:
// a byte series whose node the value keeps in its payload word 3 (data3), made on
// first use and reused or expanded later. Their result stays valid until the next
// conversion of the same value or the next collection.
#pragma once
#include <cstdint>
#include <cstring>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"

namespace kem {

// Code point range of each unit width: 1 holds 0..0xFF, 2 holds 0..0xFFFF.
inline int32_t unit_max_code_point(uint32_t unit) { return unit == 1 ? 0xFF : unit == 2 ? 0xFFFF : 0x10FFFF; }

// A string buffer's unit; a width other than 1, 2 or 4 is a fatal internal fault
// (runtime error 101).
uint32_t text_unit(const SeriesBuffer* b);
// One unit at p (little-endian, unaligned access allowed).
inline int32_t read_unit(const uint8_t* p, uint32_t unit) {
    if (unit == 1) return *p;
    if (unit == 2) {
        uint16_t u;
        std::memcpy(&u, p, 2);
        return u;
    }
    int32_t c;
    std::memcpy(&c, p, 4);
    return c;
}
inline void write_unit(uint8_t* p, uint32_t unit, int32_t cp) {
    if (unit == 1) {
        *p = uint8_t(cp);
    } else if (unit == 2) {
        uint16_t u = uint16_t(cp);
        std::memcpy(p, &u, 2);
    } else {
        std::memcpy(p, &cp, 4);
    }
}

// The string from its position as NUL-terminated UTF-8 in its conversion buffer.
// *limit: the most units to take (-1 or any negative: to the tail) in, the bytes
// written (without the NUL) out; limit may be null. With lf, CR goes before each
// LF. Script invalid-char for a unit above 0x10FFFF. Returns the buffer's node;
// its tail marks the end of the bytes.
NodeId string_to_utf8(Cell* value, int32_t* limit, bool lf);
// As string_to_utf8, returning the address of the bytes.
uint8_t* string_to_utf8_data(Cell* value, int32_t* limit, bool lf);
inline char* to_utf8_cstring(Cell* value, int32_t* limit = nullptr) {
    return reinterpret_cast<char*>(string_to_utf8_data(value, limit, false));
}
// Writes limit units (negative: all) from the position as UTF-8 into dst, which
// must hold them (utf8_count_bytes), plus a NUL when asked. Returns the bytes
// written without the NUL.
uint32_t string_to_utf8_buffer(const Cell* value, uint8_t* dst, int32_t limit, bool nul);
// Writes at most `budget` bytes of UTF-8 into dst (the NUL, when asked, counted
// in the budget); the last sequence may be cut short at the budget. limit <= 0
// takes every unit. Returns the bytes written without the NUL.
uint32_t string_to_utf8_at(const Cell* value, uint8_t* dst, int32_t budget, int32_t limit, bool nul);

// The string from its position as NUL-terminated UTF-16LE in its conversion
// buffer; supplementary code points become surrogate pairs, and with lf a CR unit
// goes before each LF. *limit: units to take in (negative: all), UTF-16 units
// written out (without the NUL); may be null. Null when a unit is above 0x10FFFF.
char16_t* to_utf16_buffer(Cell* value, int32_t* limit, bool lf);
inline char16_t* to_utf16_os(Cell* value) { return to_utf16_buffer(value, nullptr, true); }

// Widen a string buffer's unit in place, last unit first, expanding the buffer
// first when it lacks room. Return the buffer, which may have moved.
SeriesBuffer* widen_latin1_to_ucs2(SeriesBuffer* b);
SeriesBuffer* widen_latin1_to_ucs4(SeriesBuffer* b);
SeriesBuffer* widen_ucs2_to_ucs4(SeriesBuffer* b);
// Widens to `unit` (2 or 4) when the buffer is narrower; returns the buffer.
SeriesBuffer* widen_string_buffer(SeriesBuffer* b, uint32_t unit);

// Decodes strict UTF-8 into a string series in the narrowest unit that holds
// it, skipping a leading byte order mark. target: a string node whose buffer is
// reused from its head (keeping its unit), or 0 for a new series of 1-byte units.
// A sequence cut off by the end stops the load: the bytes left go to *remaining
// (which may be null) so that a caller reading in pieces can keep them. With cr,
// CR LF becomes LF and a lone CR becomes LF. Access invalid-utf8 for an invalid
// sequence (the target then holds the text before it). bytes must not lie in
// the target's buffer. Returns the node.
NodeId load_text(const uint8_t* bytes, uint32_t len, NodeId target, uint32_t* remaining, bool cr);
inline NodeId load_text_into(const uint8_t* bytes, uint32_t len, Cell* value, uint32_t* remaining) {
    return load_text(bytes, len, series_node(value), remaining, false);
}
inline NodeId load_text_new(const uint8_t* bytes, uint32_t len) { return load_text(bytes, len, 0, nullptr, false); }

// Decodes UTF-8 into a new string series in the narrowest unit that holds it,
// taking every byte as it comes (a leading byte order mark included): a
// sequence that is not UTF-8 gives one U+FFFD, and the byte that broke it
// starts the next character. For text from outside that must not be refused,
// such as what a child process wrote. Returns the node.
NodeId load_text_replacing(const uint8_t* bytes, uint32_t len);

// Decodes `units` UTF-16LE units into a string series in the narrowest unit that
// holds them. bytes null: the data of the target's conversion buffer. target: a
// string value whose buffer is reused (its unit set to the width), or null for a
// new series. With cr every CR unit is dropped. An unpaired surrogate raises
// script invalid-data with the bytes at it (as a binary!) before anything is
// written. Returns the node.
NodeId load_utf16le(const uint8_t* bytes, uint32_t units, Cell* target, bool cr);

} // namespace kem
