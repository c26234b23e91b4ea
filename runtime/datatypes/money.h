// money!: an exact signed decimal amount of 17 integer and 5 fraction digits,
// optionally in a currency ($12.50, -USD$1'000.00).
//
// Cell: header type 49, bit 14 the sign (set for negative, never on zero);
// byte 4 the currency index (0 for none, else the 1-based position of its
// code in the currency list); bytes 5..15 the amount as 22 packed BCD digits
// (services/decimal.h). The arithmetic is the decimal core's; money meets
// binary floating point only when a float! is an operand.
//
// The currency list is a block of upper-case three-letter words, 170 at
// start-up; it is system/locale/currencies/list, whose handlers let scripts
// append codes up to 255 in all.
#pragma once
#include <cstdint>
#include <string_view>
#include "runtime/core/cell.h"
#include "runtime/core/compare_op.h"
#include "runtime/services/decimal.h"

namespace kem {

constexpr uint32_t MONEY_SIGN = 0x4000;
constexpr int32_t MONEY_MAX_CURRENCIES = 255;

// --- cells
Decimal money_get(const Cell* c);
// Makes c a money! of that amount and currency index.
Cell* money_set(Cell* c, const Decimal& d, uint32_t currency);
inline uint32_t money_currency_index(const Cell* c) { return c->data1 & 0xFF; }
inline void money_set_currency(Cell* c, uint32_t index) { c->data1 = (c->data1 & ~0xFFu) | (index & 0xFF); }
inline bool money_get_sign(const Cell* c) { return (c->header & MONEY_SIGN) != 0; }
inline void money_set_sign(Cell* c, bool negative) {
    c->header = negative ? (c->header | MONEY_SIGN) : (c->header & ~MONEY_SIGN);
}
// -1, 0 or 1; a zero amount is 0 whatever the sign bit says.
int32_t money_sign(const Cell* c);
inline bool money_zero_q(const Cell* c) { return money_sign(c) == 0; }

// The serialised-value loader's builder: sign, currency index, the 11 packed
// amount bytes. False (c untouched) when a nibble holds no decimal digit.
bool money_load(Cell* c, bool negative, uint32_t currency, const uint8_t amount[11]);
// The 11 packed amount bytes of a cell.
const uint8_t* money_amount_bytes(const Cell* c);

// --- currencies
// The currency list block (made on first use).
const Cell* money_currency_list();
// The 1-based index of a word's code (letter case aside), or -1.
int32_t money_find_currency(uint32_t symbol);
// The same for a code given as text.
int32_t money_find_currency_name(std::string_view code);
// The currency word of an index, or none! for 0 or an index past the list.
Cell money_currency_at(uint32_t index);

// --- numbers
Cell* money_from_integer(Cell* c, int32_t n);
// The decimal text of x (22 significant digits); script bad-make-arg naming
// money! and the float when x is no amount, or, when strict, has more than 5
// fraction digits.
Cell* money_from_float(Cell* c, double x, bool strict);
double money_to_float(const Cell* c);
// The integer part; script type-limit naming integer! outside 32 bits.
int32_t money_to_integer(const Cell* c);

// How text becomes money: the money reader of the lexer (loader.h) and
// money literals both end here.
enum class MoneyText : uint8_t { ok, invalid, too_long, unknown_currency };
// Builds c from a sign, a currency code (empty for none), and the integer
// and fraction digit runs ("'" skipped). More than 17 significant integer
// digits give too_long.
MoneyText money_from_digits(Cell* c, bool negative, std::string_view currency, std::string_view integer,
                            std::string_view fraction);

// --- arithmetic (operator codes of arith.h) and comparison
Cell* money_do_math(int32_t op);
int32_t money_compare(Cell* value1, Cell* value2, CompareOp op);
// A float! against a money! by value: -1, 0 or 1 for the float's side.
int32_t money_compare_float(double a, Cell* money, CompareOp op);

void register_money();

} // namespace kem
