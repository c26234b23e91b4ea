// JSON text to values and back: the work behind load-json and to-json.
//
// Reading: a value with optional white space around it and nothing else.
// Objects become map!s (keys that spell a word become word!s, others stay
// string!s), arrays block!s, numbers integer!s or float!s as the same text
// gives in source code, true/false logic!, null none!.
//
// Writing: none null, logic!, numbers, string kinds, every block kind as an
// array, map! and object! as objects; anything else molded into a string.
// A float without a JSON form (infinities, NaN) is written as null.
#pragma once
#include <cstdint>
#include <span>
#include "runtime/core/cell.h"
#include "runtime/datatypes/routine.h"

namespace kem {

// Where a read stopped: the line (from 1), the absolute index (from 1) of the
// last place a value, a key or a line feed was matched, and the index of the
// last line start (1 when the text has no line feed before it).
struct JsonFailure {
    int32_t line;
    int32_t mark;
    int32_t last_lf;
};

// Reads the string! (from its position) into out. False with *failure filled
// when the text is not JSON. A \u escape that opens a surrogate pair without
// closing it raises script invalid-data with the string's text.
bool json_decode(const Cell* input, Cell* out, JsonFailure* failure);

// Writes the JSON text of value into a new string! in out. indent, when not
// null, is the string! repeated once per level of an indented layout; with
// ascii every character above 127 is escaped. A block, map or object inside
// itself raises internal no-cycle.
void json_encode(const Cell* value, const Cell* indent, bool ascii, Cell* out);

// json-decode and json-encode, for the library's load-json and to-json.
std::span<const RoutineEntry> json_routines();

} // namespace kem
