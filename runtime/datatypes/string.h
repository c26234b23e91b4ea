// string!: text series of code points in units of 1, 2 or 4 bytes.
//
// Every code point takes exactly one unit of its buffer, so indexes, lengths
// and offsets in units are counted in code points. A buffer only ever widens
// (1 -> 2, 1 -> 4, 2 -> 4), as a whole, when a code point arrives that its unit
// cannot hold; string_reset is the only way back to 1-byte units.
//
// file!, url!, tag!, email! and ref! share this layout (the string kinds), and
// binary! and vector! inherit the series actions of the string! row.
//
// Writers that take a SeriesBuffer* return the buffer to use afterwards: a
// write may widen or grow the buffer, which moves it. Keep node ids and
// re-derive pointers after any of these calls.
#pragma once
#include <cstdint>
#include <string_view>
#include "runtime/core/cell.h"
#include "runtime/core/memory.h"
#include "runtime/datatypes/action_types.h"
#include "runtime/datatypes/series.h"

namespace kem {

// --- direct accessors (rs) ---------------------------------------------------

// Code points from the position to the tail; 0 at or past the tail.
int32_t string_rs_length(const Cell* s);
// Code points from the buffer's head to its tail.
uint32_t string_full_length(const Cell* s);
// Address of the unit at the position; a position past the tail is clamped
// to the tail in the cell first.
uint8_t* string_rs_head(Cell* s);
// Just past the last unit.
uint8_t* string_rs_tail(const Cell* s);
bool string_rs_tail_q(const Cell* s);
// The code point at an absolute index from the buffer's head (no check).
int32_t string_char_at(const Cell* s, uint32_t index);
// The code point stored at p; a unit other than 1, 2 or 4 is fatal (101).
int32_t string_get_char(const uint8_t* p, uint32_t unit);
// Empties the buffer, back to 1-byte units, position 0.
Cell* string_reset(Cell* s);
// Index relative to the position of the first unit equal to cp (exact), or -1.
int32_t string_find_char(const Cell* s, int32_t cp);
// Cuts the text to at most n units from the buffer's head: the tail moves back
// when it lies beyond them and n units fit in the buffer. Never lengthens.
void string_truncate(NodeId string, uint32_t n);
// Removes n units at an absolute index, closing the gap (n is cut to the units
// after the index; nothing at or past the tail).
void string_remove_units(Cell* s, uint32_t index, uint32_t n);
inline void string_remove_char(Cell* s, uint32_t index) { string_remove_units(s, index, 1); }

// The text of a string kind, a binary! (its bytes as 1-byte units) or a
// symbol! (its name, from the start) from the position to the tail.
struct TextRange {
    NodeId node;
    uint32_t pos;     // absolute index of the first unit
    uint32_t length;  // units from there to the tail
    uint32_t unit;
    bool bytes;       // a binary!: never widened
};
TextRange string_text_range(const Cell* value);

// --- writing code points -------------------------------------------------------

// At the tail. A 1-byte buffer widens above 0x7F (to 4 above 0xFFFF), a 2-byte
// one above 0xFFFF.
SeriesBuffer* string_append_char(SeriesBuffer* b, int32_t cp);
inline void string_append_char(const Cell* s, int32_t cp) { string_append_char(series_buffer(s), cp); }
// The writers below keep 1-byte units up to 0xFF.
// Writes over the unit at an absolute index (at the tail: appends).
SeriesBuffer* string_overwrite_char(SeriesBuffer* b, uint32_t index, int32_t cp);
// Opens a one-unit gap at an absolute index (at most the tail) and writes there.
SeriesBuffer* string_insert_char(SeriesBuffer* b, uint32_t index, int32_t cp);
// Writes over the existing unit at address `at` of the buffer.
SeriesBuffer* string_poke_char(SeriesBuffer* b, uint8_t* at, int32_t cp);
// Copies the units of `source` from byte offset start up to byte offset end
// (the tail when end < 1), both from the head, into target at the same unit
// index, widening them to `unit`. Without a target the source series itself
// moves to a new buffer of `size` bytes (the node follows it). Unless
// keep_tail, the target's tail ends after the last copied unit and its unit
// becomes `unit`. Returns the target buffer.
SeriesBuffer* string_copy_widen(SeriesBuffer* source, SeriesBuffer* target, uint32_t unit, uint32_t size,
                                uint32_t start, int32_t end, bool keep_tail);

// --- appending text --------------------------------------------------------------

// Each byte as a code point 0..255, up to the NUL. Molders and formers write
// their fixed text through these.
void string_append_c_string(const Cell* s, const char* text);
void string_append_bytes(const Cell* s, const uint8_t* bytes, uint32_t n);
// ASCII text at the tail, in the buffer's own unit.
void string_append_ascii(NodeId string, std::string_view text);
inline void string_append_ascii(const Cell* string, std::string_view text) {
    string_append_ascii(series_node(string), text);
}

// When the value's node is open in the cycle stack, appends its placeholder
// to the string series `out`, subtracts its length from `remaining` and
// returns true; otherwise writes nothing.
bool mold_cycle(const Cell* value, NodeId out, int32_t& remaining, bool mold);

enum ConcatMode : int32_t { CONCAT_APPEND = 0, CONCAT_INSERT = 1, CONCAT_OVERWRITE = 2 };

// Adds the code points of source (a string kind, a symbol! or a binary!, whose
// bytes count as 1-byte units) from its position to target: part units at
// most (negative: all); offset in units from the target's position for insert
// and overwrite. A narrower target widens. A narrower source widens in place
// unless keep_source (a binary! source never does). Source and target may be
// the same series.
void string_concat_into(Cell* target, const Cell* source, int32_t part, int32_t offset, bool keep_source,
                        ConcatMode mode);
inline void string_concatenate(Cell* target, const Cell* source, int32_t part, int32_t offset, bool keep_source,
                               ConcatMode mode) {
    string_concat_into(target, source, part, offset, keep_source, mode);
}
inline void string_overwrite(Cell* target, const Cell* source, int32_t part, int32_t offset, bool keep_source) {
    string_concat_into(target, source, part, offset, keep_source, CONCAT_OVERWRITE);
}
// Exchanges block A (a bytes at base) with block B (b bytes at b_at, after A
// and a gap): B ends at base, A ends at its old end. The gap's bytes between
// them are not kept. Uses the shared scratch block; a block over 64 KB takes a
// temporary one.
void string_swap_blocks(uint8_t* base, uint32_t a, uint8_t* b_at, uint32_t b);
// Moves the n code points after the source's position into the target at its
// position (positions do not change); n < 1 moves nothing.
void string_move_chars(Cell* source, Cell* target, int32_t n);

// --- making and loading ----------------------------------------------------------

// An empty string! (position 0) with room for `bytes` bytes of 1-byte units.
Cell* string_rs_make_at(Cell* c, uint32_t bytes);
// An empty string! with room for n code points of the given unit.
Cell* string_make_at(Cell* c, uint32_t n, uint32_t unit = 1);
// A string! made from bytes: encoding 0 UTF-8 (size in bytes), -1 UTF-16LE
// (size in 16-bit units), into c or into a newly pushed cell when c is null.
// Any other encoding is a fault of the caller: the process ends (status 1).
Cell* string_load_at(const uint8_t* bytes, uint32_t size, Cell* c, int32_t encoding);
// The same, appended to a block (the new cell is returned).
Cell* string_load_in(const uint8_t* bytes, uint32_t size, const Cell* block, int32_t encoding);
inline Cell* string_make_utf8(Cell* c, std::string_view text) {
    return string_load_at(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), c, 0);
}
// Pushes a string! of strict UTF-8; access invalid-utf8 with a binary! of the
// bytes from the first invalid (or cut-off) sequence to the end.
Cell* string_decode_utf8(const uint8_t* bytes, uint32_t size);

// --- hexadecimal and numbers ---------------------------------------------------------

// Two uppercase digits in a static buffer (valid until the next call).
const char* string_byte_to_hex(uint8_t byte);
// Eight uppercase digits with sign fill ("0000001E", "FFFFFFFF"), or with trim
// only the significant ones ("1E"; two fill digits for 0 and -1). Static buffer.
const char* string_int_to_hex(int32_t value, bool trim);
// Decimal text to a float; *error is set when the text was not all a number.
double string_to_float(const char* start, uint32_t length, bool* error);

// --- matching and comparing ------------------------------------------------------------

// Folding of case-insensitive comparison and search.
int32_t string_fold(int32_t cp);
// -1, 0 or 1 for the comparison operator. With match, whether s1 begins
// with s2 (0: it does). s2 may be a lookup slice (a count in payload word 3).
int32_t string_compare_series(Cell* s1, Cell* s2, CompareOp op, bool match);
// Whether the code point at the position is in the bitset.
bool string_bitset_match(const Cell* s, const Cell* bitset);
// "<" at the position and ">" length + 1 units after it.
bool string_tag_delimited_q(const Cell* s, int32_t length);
// Whether the string at its position begins with value (string kind, char!
// or tag!); op 2 is case-sensitive.
bool string_match_q(Cell* s, Cell* value, CompareOp op);
// Whether the text from the position begins with exactly these bytes.
bool string_starts_with_cstring_q(const Cell* s, const char* text);
// Whether cp is the first code point of a record (record code points long)
// from the position; case_ compares exactly.
bool string_find_record_char(const Cell* s, int32_t cp, int32_t record, bool case_);

// --- mold escapes ------------------------------------------------------------------------

// Appends cp as mold writes it (^/, ^-, ^(1E), ^~, ^", ^^; with all every code
// point above 0x7F in hexadecimal); returns the code points written.
int32_t string_append_escaped(const Cell* buffer, int32_t cp, bool all);

// --- actions -----------------------------------------------------------------------------

Cell* string_make(Cell* proto, Cell* spec, int32_t type);
Cell* string_to(Cell* proto, Cell* spec, int32_t type);
int32_t string_form(Cell* value, Cell* buffer, Cell* arg, int32_t part);
int32_t string_mold(Cell* value, Cell* buffer, const MoldArgs& refs, int32_t part, int32_t indent);
Cell* string_eval_path(Cell* parent, Cell* element, Cell* value, const PathStep& step);
int32_t string_compare(Cell* value1, Cell* value2, CompareOp op);
Cell* string_find(Cell* series, Cell* value, const FindArgs& refs);
Cell* string_select(Cell* series, Cell* value, const SelectArgs& refs);
// append and insert: part counts what the value adds (-1: all), dup repeats;
// append leaves the series at its head, insert just past the new text.
Cell* string_append(Cell* series, Cell* value, int32_t part, bool only, int32_t dup, bool append);
Cell* string_change(Cell* series, Cell* value, int32_t part, bool only, int32_t dup);
Cell* string_swap(Cell* series1, Cell* series2);
Cell* string_trim(Cell* series, const TrimArgs& refs);
// Whitespace runs become one space; leading and trailing whitespace go.
void string_trim_lines(Cell* s);
// head: leading whitespace goes; tail: trailing; both: both ends. With neither,
// both ends and the horizontal whitespace at both ends of every line go, and a
// line feed cut from the end comes back as one.
void string_trim_spaces(Cell* s, bool head, bool tail);
// unique (8), union (9), intersect (10), exclude (11), difference (12) of the
// current call's two string arguments; the result replaces the first.
Cell* string_do_set_op(bool case_, Cell* skip, int32_t op);

// uppercase and lowercase: changes a char! or a string kind in place (see
// change_case_value). Only a series reports its change to an owner; a char! is
// a plain scalar.
Cell* string_change_case(Cell* value, const Cell* part, bool upper, const Cell& part_word);

} // namespace kem
