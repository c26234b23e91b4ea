// Exact decimal amounts: 17 integer digits and 5 fraction digits, the
// arithmetic, rounding and text of money!.
//
// An amount is a sign and a magnitude counted in units of 10^-5, below
// DECIMAL_LIMIT (22 digits). The operations are exact, except that products
// and quotients keep 5 fraction digits, cut toward zero. Nothing here knows
// cells or currencies: a failing operation answers its status and the caller
// raises the language's error.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace kem {

using DecimalUnits = unsigned __int128;

constexpr int DECIMAL_DIGITS = 22;
constexpr int DECIMAL_INT_DIGITS = 17;
constexpr int DECIMAL_FRACTION_DIGITS = 5;
constexpr uint64_t DECIMAL_SCALE = 100000;  // units in 1
constexpr DecimalUnits decimal_pow10(int n) {
    DecimalUnits p = 1;
    while (n-- > 0) p *= 10;
    return p;
}
constexpr DecimalUnits DECIMAL_LIMIT = decimal_pow10(DECIMAL_DIGITS);

struct Decimal {
    bool negative = false;  // never set on zero
    DecimalUnits units = 0;

    bool zero() const { return units == 0; }
    int sign() const { return units == 0 ? 0 : (negative ? -1 : 1); }
};

enum class DecimalStatus : uint8_t {
    ok,
    overflow,     // the result needs more than 17 integer digits
    zero_divide,
    bad_value,    // a double that is no amount (infinite, NaN, out of range, too precise)
};

// A signed amount; a zero amount is never negative.
inline Decimal decimal_make(bool negative, DecimalUnits units) { return Decimal{negative && units != 0, units}; }
Decimal decimal_from_int(int64_t n);

// Digits from the first non-zero one to the last fraction digit, at least 1.
int decimal_significant_digits(DecimalUnits units);

// --- arithmetic: the result goes to *out, untouched unless ok.
DecimalStatus decimal_add(const Decimal& a, const Decimal& b, Decimal* out);
DecimalStatus decimal_subtract(const Decimal& a, const Decimal& b, Decimal* out);
DecimalStatus decimal_multiply(const Decimal& a, const Decimal& b, Decimal* out);
// The quotient with 5 fraction digits, negative when the signs differ.
DecimalStatus decimal_divide(const Decimal& a, const Decimal& b, Decimal* out);
// What is left of a after taking whole b's away, with the sign of a.
DecimalStatus decimal_remainder(const Decimal& a, const Decimal& b, Decimal* out);
// -1, 0 or 1 by signed value.
int decimal_compare(const Decimal& a, const Decimal& b);

// The refinements of round; with none given, halves go away from zero.
struct DecimalRounding {
    bool even = false;
    bool down = false;
    bool half_down = false;
    bool floor = false;
    bool ceiling = false;
    bool half_ceiling = false;
};
// v to a multiple of the magnitude of scale; a zero scale or value gives v.
DecimalStatus decimal_round(const Decimal& v, DecimalUnits scale, const DecimalRounding& mode, Decimal* out);

// --- doubles
// The decimal text of x with up to 22 significant digits: its fraction digits
// past the fifth are cut, or refused when strict. bad_value for infinities,
// NaN, magnitudes of 1e17 and more, and magnitudes below 1e-5 but zero.
DecimalStatus decimal_from_double(double x, bool strict, Decimal* out);
// The nearest double.
double decimal_to_double(const Decimal& d);

// --- text
// The magnitude's digits: the integer part without leading zeros ("0" for
// none), with "'" before every group of three when `group`, then "." and
// `fraction_digits` fraction digits (cut, not rounded; none for 0).
void decimal_append_digits(std::string& out, DecimalUnits units, int fraction_digits, bool group);
// Fraction digits up to the last non-zero one (0..5).
int decimal_fraction_digits_used(DecimalUnits units);
// The magnitude of an integer digit run and a fraction digit run, "'" in them
// skipped; fraction digits past the fifth are ignored. Leading zeros do not
// count against the 17 integer digits: more significant ones give overflow.
// Any other character in the runs gives bad_value.
DecimalStatus decimal_from_digit_runs(std::string_view integer, std::string_view fraction, DecimalUnits* out);

// --- the packed form kept in cells: 22 BCD digits in 11 bytes, most
// significant first, digit i in the high nibble of byte (i - 1) / 2 when i is
// odd and in the low nibble when i is even.
void decimal_pack(DecimalUnits units, uint8_t bytes[11]);
// False when a nibble holds no decimal digit.
bool decimal_unpack(const uint8_t bytes[11], DecimalUnits* out);

} // namespace kem
