// Floats as decimal text and back, without loss.
//
// Both directions give the correctly rounded results: the shortest digits that
// read back to the same double, n correctly rounded digits (ties to even), and
// the nearest double to a decimal text. The texts live in process-wide buffers
// and stay valid until the next conversion: copy them out first.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kem {

// decpt markers of the texts that carry no digits.
constexpr int FLOAT_DECPT_SPECIAL = 9999;   // "1.#INF", "-1.#INF", "1.#NaN"
constexpr int FLOAT_DECPT_ZERO = 9998;      // "0.0", "-0.0", "0", "-0"

// Any request above this many digits gives the same text: no double has more
// significant decimal digits than 767.
constexpr int FLOAT_MAX_DIGITS = 800;

// The digits d1..dn of |value| (no leading or trailing zeros, NUL-terminated)
// with value = 0.d1..dn x 10^decpt. digits <= 0 asks for the shortest digits
// that read back to value; digits n > 0 for n digits correctly rounded, ties to
// even, trailing zeros dropped. The sign goes to *negative, not into the text.
// Infinities and NaN give their special text with decpt FLOAT_DECPT_SPECIAL
// (NaN is never negative); zeros give "0.0"/"-0.0" (keep_point) or "0"/"-0"
// with decpt FLOAT_DECPT_ZERO. *count is the length of the returned text.
const char* float_to_decimal(double value, int digits, int* decpt, bool* negative, int* count, bool keep_point);

// The language's notation of value: digits as for float_to_decimal; fixed
// notation for 1e-7 <= |value| < 1e17, else d.ddd"e"exponent; keep_point keeps
// ".0" on an integral text ("123.0", "1.0e17"), else the point is dropped.
const char* form_float(double value, int digits, bool keep_point);

// The double nearest to the decimal text in [start, end) scaled by 10^e0:
// optional sign, digits with an optional "." fraction, optional "e"/"E"
// exponent with optional sign; also "1.#INF", "-1.#INF" and "1.#NaN" (a letter
// after "#" decides, case ignored). Overflow gives an infinity, underflow the
// nearest subnormal or zero; the sign applies last, so "-0" is negative zero.
// *left (may be null) receives the characters after the scan stopped: 0 when
// the whole text was a number, end - start when it held no digits (result 0).
double decimal_to_float(const char* start, const char* end, int e0, size_t* left);

} // namespace kem
