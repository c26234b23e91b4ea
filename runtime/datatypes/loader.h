// Values and numbers from text, as the datatypes see the lexer: `to` and
// `make` of a datatype from a string load it. The lexer, a layer above,
// defines these; declaring them here keeps every include pointing down.
#pragma once
#include <cstdint>
#include "runtime/core/cell.h"
#include "runtime/datatypes/money.h"

namespace kem {

struct LexerCallback;

// The lexer over a string! from its position: length in characters, -1 for
// all. The text goes through the lexer's scratch buffer as UTF-8. The other
// arguments are those of lexer_scan (lexer/lexer.h).
int32_t lexer_load_string(Cell* dst, const Cell* source, int32_t length, bool one_value, bool not_prescan,
                          bool not_scan, bool always_block, uint32_t* consumed, LexerCallback* callback,
                          Cell* into);

// The datatype id of the one token the text scans as: 0 for none, -1 when it
// is not valid.
int32_t lexer_scan_type(const uint8_t* text, uint32_t length);

// The one value of a string! (from its position) into target: unset! when the
// text holds none; the shared none cell is returned (target untouched) when
// characters are left after the first value. Returns target otherwise.
const Cell* load_single_value_into(Cell* target, const Cell* string);

// The same, always into out: none! when characters are left after the value.
inline void load_one_value(const Cell* string, Cell* out) {
    const Cell* r = load_single_value_into(out, string);
    if (r != out) *out = *r;
}

// Optional sign, decimal digits, "'" ignored. *error: 0, -1 for any other
// character, -2 for a 32-bit overflow (a negative text of 2147483648 is fine).
int32_t lexer_integer_from_text(const uint8_t* start, int32_t count, uint32_t unit, int32_t* error);
// The float text rules with "," read as "."; NaN and *error = -1 when the text
// is not a number.
double lexer_float_from_text(const uint8_t* start, int32_t count, uint32_t unit, int32_t* error);

// Optional sign, an optional three-letter currency code that a "$" must
// follow, the "$" (optional without a code), digits with single "'"
// separators and at most one ".": the money! it gives goes to *out.
MoneyText lexer_money_from_text(const uint8_t* start, int32_t count, uint32_t unit, Cell* out);

} // namespace kem
