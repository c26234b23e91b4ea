// binary!: the byte series of the language, and the base-2, base-16, base-58
// and base-64 text codecs behind enbase, debase, the lexer's binary literals
// and to binary! of an issue!.
//
// Cell: payload word 1 the index in bytes from the buffer's head, word 2 the
// node of a series buffer of 1-byte units. An index past the tail reads as the
// tail everywhere here. Writers take the binary cell and re-derive the buffer
// after every growth: keep the cell (or its node), never a byte pointer, across
// a write.
#pragma once
#include <cstdint>
#include <vector>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/action_types.h"

namespace kem {

// --- direct accessors (rs) ---------------------------------------------------

// The index as an offset from the head, clamped to 0..used bytes.
uint32_t binary_index(const Cell* bin);
// Bytes from the index to the tail (0 at or past the tail).
int32_t binary_rs_length(const Cell* bin);
// Address of the byte at the index; an index past the tail is first clamped
// in the cell. Good until the next allocation.
uint8_t* binary_rs_head(Cell* bin);
bool binary_rs_tail_q(const Cell* bin);
// Moves the index by n, never before the head nor past the tail.
void binary_rs_skip(Cell* bin, int32_t n);
inline void binary_rs_next(Cell* bin) { binary_rs_skip(bin, 1); }
// Cuts the buffer at the index.
void binary_rs_clear(Cell* bin);
// The byte `offset` bytes from the buffer's head (no check).
uint8_t binary_byte_at(const Cell* bin, uint32_t offset);

// --- writing bytes -------------------------------------------------------------

// Makes room for `extra` more bytes after the tail (growing to the larger of
// the need and twice the size); internal no-memory past the largest buffer.
// Returns the buffer, which may have moved.
SeriesBuffer* binary_reserve(NodeId node, uint64_t extra);
// The source bytes may lie in the binary's own buffer.
void binary_append_bytes(const Cell* bin, const uint8_t* bytes, uint32_t n);
// Inserts n bytes `offset` bytes from the head (at most the tail), moving the
// rest up.
void binary_insert_bytes(const Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n);
// Copies n bytes over the bytes from `offset` (at most the tail), moving the
// tail when the write passes it.
void binary_write_bytes_at(const Cell* bin, uint32_t offset, const uint8_t* bytes, uint32_t n);
// Four bytes, most significant first.
void binary_append_int32_be(const Cell* bin, int32_t value);

// --- making --------------------------------------------------------------------------

// An empty binary (index 0) with room for n bytes, made in c.
Cell* binary_make_at(Cell* c, uint32_t n);
// The same appended to a block; returns the new cell.
Cell* binary_make_in(const Cell* block, uint32_t n);
// A new binary holding a copy of n bytes, in c (pushed on the data stack when
// c is null). The bytes may lie in any series buffer: making the new one
// moves no other.
Cell* binary_load_at(const uint8_t* bytes, uint32_t n, Cell* c);
// The same appended to a block (pushed when block is null).
Cell* binary_load_in(const uint8_t* bytes, uint32_t n, const Cell* block);
inline Cell* binary_load(const uint8_t* bytes, uint32_t n) { return binary_load_at(bytes, n, nullptr); }

// --- bytes of values ------------------------------------------------------------------

// The byte of an integer! or char! (its low eight bits); script invalid-arg
// naming any other value.
uint8_t binary_byte_arg(const Cell* value);
// UTF-8 of a string kind's text from its position: at most `limit` code points
// (negative: all).
std::vector<uint8_t> binary_text_bytes(const Cell* text, int32_t limit = -1);
// Whether the binary at its index begins with the bytes of a string kind (its
// UTF-8) or of a binary!, or with the byte of a char!'s code point.
bool binary_match_q(const Cell* bin, const Cell* value);
// Whether the byte at the index is in the bitset (a byte beyond the bit array
// is a member exactly when the bitset is complemented); false at the tail.
bool binary_match_bitset_q(const Cell* bin, const Cell* bitset);
// The issue's name read as base-16 text into a new binary in out (pushed when
// out is null); script invalid-data naming the issue when it is not.
Cell* binary_from_base16(const Cell* issue, Cell* out);
// Byte comparison for operator op; the right value may also be a string kind
// (compared through its UTF-8). -2 for anything else.
int32_t binary_compare_bytes(const Cell* value1, const Cell* value2, CompareOp op);

// --- base encodings ----------------------------------------------------------------------

// Characters an encoding of n bytes takes at most (base 2, 16, 58 or 64).
uint64_t binary_encoded_size(int32_t base, uint64_t n);
// Each writes the encoding of n bytes at out (which has room for
// binary_encoded_size characters) and returns the address after the last
// character. Base 64 pads with "=" and writes no line breaks.
uint8_t* binary_encode_2(uint8_t* out, const uint8_t* in, uint32_t n);
uint8_t* binary_encode_16(uint8_t* out, const uint8_t* in, uint32_t n);
uint8_t* binary_encode_58(uint8_t* out, const uint8_t* in, uint32_t n);
uint8_t* binary_encode_64(uint8_t* out, const uint8_t* in, uint32_t n);

// Decoders of text in units of 1, 2 or 4 bytes per character (length in
// characters). ";" starts a comment up to the next line feed; any character
// outside the base's alphabet and its skipped blanks fails. On failure they
// answer false and, when bad_at is given, store the index of the offending
// character (the length when the text ends with a partial byte).
//   2: blanks are the codes up to space; the bits must fill whole bytes.
//   16: blanks as base 2; a final unpaired digit fails.
//   58: blanks are backspace, tab, line feed, form feed, carriage return,
//       space and "'"; each leading "1" gives one zero byte.
//   64: blanks as base 58; "=" ends the text after 2 or 3 digits of a group;
//       2 or 3 digits left at the end give the bytes padding would, 1 fails.
bool base_decode_2(const uint8_t* text, uint32_t length, uint32_t unit, std::vector<uint8_t>& out,
                   uint32_t* bad_at = nullptr);
bool base_decode_16(const uint8_t* text, uint32_t length, uint32_t unit, std::vector<uint8_t>& out,
                    uint32_t* bad_at = nullptr);
bool base_decode_58(const uint8_t* text, uint32_t length, uint32_t unit, std::vector<uint8_t>& out,
                    uint32_t* bad_at = nullptr);
bool base_decode_64(const uint8_t* text, uint32_t length, uint32_t unit, std::vector<uint8_t>& out,
                    uint32_t* bad_at = nullptr);

// The same as new binary! values: made in out (pushed when out is null) and
// returned, or nullptr when the text is not valid (nothing is made then).
Cell* binary_decode_2(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out);
Cell* binary_decode_16(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out);
Cell* binary_decode_58(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out);
Cell* binary_decode_64(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out);

// --- actions -------------------------------------------------------------------------------

Cell* binary_to(Cell* proto, Cell* spec, int32_t type);
int32_t binary_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t binary_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
int32_t binary_compare(Cell* value1, Cell* value2, CompareOp op);
// and~, or~, xor~ on the current call's two arguments (op 6, 5, 7): the result,
// a new binary at index 0, replaces the first.
Cell* binary_do_bitwise(int32_t op);
Cell* binary_and();
Cell* binary_or();
Cell* binary_xor();
// Inverts the bytes from the index in place.
Cell* binary_complement(Cell* value);
// append and insert (part: what the value gives, -1 for all); append leaves
// the binary at its head, insert just past the new bytes.
Cell* binary_append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Cell* binary_change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* binary_trim(Cell* series, const TrimArgs& refs);
// Removes the zero bytes at the head and/or the tail of the bytes from the index.
void binary_trim_zeros(Cell* bin, bool head, bool tail);

void register_binary();

} // namespace kem
