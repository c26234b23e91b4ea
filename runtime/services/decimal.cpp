// Exact decimal amounts in units of 10^-5, computed on 128-bit magnitudes.
#include "runtime/services/decimal.h"
#include <cstdlib>
#include <cstring>
#include "runtime/services/float_text.h"

namespace kem {

namespace {

// The magnitude of a sum or difference of signed amounts.
DecimalStatus signed_sum(bool a_negative, DecimalUnits a, bool b_negative, DecimalUnits b, Decimal* out) {
    if (a_negative == b_negative) {
        DecimalUnits s = a + b;
        if (s >= DECIMAL_LIMIT) return DecimalStatus::overflow;
        *out = decimal_make(a_negative, s);
    } else if (a >= b) {
        *out = decimal_make(a_negative, a - b);
    } else {
        *out = decimal_make(b_negative, b - a);
    }
    return DecimalStatus::ok;
}

} // namespace

Decimal decimal_from_int(int64_t n) {
    DecimalUnits m = n < 0 ? DecimalUnits(0) - DecimalUnits(__int128(n)) : DecimalUnits(n);
    return decimal_make(n < 0, m * DECIMAL_SCALE);
}

int decimal_significant_digits(DecimalUnits units) {
    int n = 1;
    while (units >= 10) {
        units /= 10;
        n++;
    }
    return n;
}

DecimalStatus decimal_add(const Decimal& a, const Decimal& b, Decimal* out) {
    return signed_sum(a.negative, a.units, b.negative, b.units, out);
}

DecimalStatus decimal_subtract(const Decimal& a, const Decimal& b, Decimal* out) {
    return signed_sum(a.negative, a.units, !b.negative && b.units != 0, b.units, out);
}

DecimalStatus decimal_multiply(const Decimal& a, const Decimal& b, Decimal* out) {
    if (a.zero() || b.zero()) {
        *out = Decimal{};
        return DecimalStatus::ok;
    }
    // Past 28 significant digits the product cannot fit; below, it fits in 128 bits.
    if (decimal_significant_digits(a.units) + decimal_significant_digits(b.units) > 28)
        return DecimalStatus::overflow;
    DecimalUnits p = a.units * b.units / DECIMAL_SCALE;
    if (p >= DECIMAL_LIMIT) return DecimalStatus::overflow;
    *out = decimal_make(a.negative != b.negative, p);
    return DecimalStatus::ok;
}

DecimalStatus decimal_divide(const Decimal& a, const Decimal& b, Decimal* out) {
    if (b.zero()) return DecimalStatus::zero_divide;
    // The quotient's digits are worked out in 22 places plus the 5 it is scaled by.
    if (decimal_significant_digits(a.units) - decimal_significant_digits(b.units) + 6 > DECIMAL_DIGITS)
        return DecimalStatus::overflow;
    DecimalUnits q = a.units * DECIMAL_SCALE / b.units;
    if (q >= DECIMAL_LIMIT) return DecimalStatus::overflow;
    *out = decimal_make(a.negative != b.negative, q);
    return DecimalStatus::ok;
}

DecimalStatus decimal_remainder(const Decimal& a, const Decimal& b, Decimal* out) {
    if (b.zero()) return DecimalStatus::zero_divide;
    *out = decimal_make(a.negative, a.units % b.units);
    return DecimalStatus::ok;
}

int decimal_compare(const Decimal& a, const Decimal& b) {
    int sa = a.sign(), sb = b.sign();
    if (sa != sb) return sa < sb ? -1 : 1;
    if (a.units == b.units) return 0;
    bool less = a.units < b.units;
    if (sa < 0) less = !less;
    return less ? -1 : 1;
}

DecimalStatus decimal_round(const Decimal& v, DecimalUnits scale, const DecimalRounding& mode, Decimal* out) {
    if (v.zero() || scale == 0) {
        *out = v;
        return DecimalStatus::ok;
    }
    const DecimalUnits a = v.units;
    const DecimalUnits r = a % scale;
    if (r == 0) {
        *out = v;
        return DecimalStatus::ok;
    }
    const bool tie = r * 2 == scale;
    const bool positive = !v.negative;
    // Away from zero (upper) or toward it (lower); upper is made only when chosen.
    bool up;
    if (mode.down) up = false;
    else if (mode.floor) up = !positive;
    else if (mode.ceiling) up = positive;
    else if (!tie) up = r > scale - r;
    else if (mode.even) up = (a / scale) % 2 != 0;
    else if (mode.half_down) up = false;
    else if (mode.half_ceiling) up = positive;
    else up = true;
    DecimalUnits m = a - r;
    if (up) {
        m += scale;
        if (m >= DECIMAL_LIMIT) return DecimalStatus::overflow;
    }
    *out = decimal_make(v.negative, m);
    return DecimalStatus::ok;
}

// --- doubles -------------------------------------------------------------------

DecimalStatus decimal_from_double(double x, bool strict, Decimal* out) {
    const double m = x < 0 ? -x : x;
    if (!(m < 1e17)) return DecimalStatus::bad_value;  // also NaN
    if (m != 0.0 && m < 1e-05) return DecimalStatus::bad_value;
    if (m == 0.0) {
        *out = Decimal{};
        return DecimalStatus::ok;
    }
    int decpt = 0, count = 0;
    bool negative = false;
    const char* digits = float_to_decimal(x, DECIMAL_DIGITS, &decpt, &negative, &count, false);
    // value = 0.d1..dn x 10^decpt, so units = d1..dn x 10^(decpt + 5 - n).
    const int shift = decpt + DECIMAL_FRACTION_DIGITS - count;
    if (strict && shift < 0) return DecimalStatus::bad_value;
    DecimalUnits u = 0;
    const int kept = shift < 0 ? count + shift : count;
    for (int i = 0; i < kept; i++) u = u * 10 + DecimalUnits(digits[i] - '0');
    for (int i = 0; i < shift; i++) u *= 10;
    *out = decimal_make(negative, u);
    return DecimalStatus::ok;
}

double decimal_to_double(const Decimal& d) {
    if (d.zero()) return 0.0;
    char text[48];
    int n = 0;
    DecimalUnits u = d.units;
    char rev[40];
    int k = 0;
    while (u) {
        rev[k++] = char('0' + int(u % 10));
        u /= 10;
    }
    if (d.negative) text[n++] = '-';
    while (k) text[n++] = rev[--k];
    // The digits are the amount in units: read them scaled by 10^-5.
    return decimal_to_float(text, text + n, -DECIMAL_FRACTION_DIGITS, nullptr);
}

// --- text --------------------------------------------------------------------------

void decimal_append_digits(std::string& out, DecimalUnits units, int fraction_digits, bool group) {
    char digit[DECIMAL_DIGITS];
    DecimalUnits u = units;
    for (int i = DECIMAL_DIGITS - 1; i >= 0; i--) {
        digit[i] = char('0' + int(u % 10));
        u /= 10;
    }
    int first = 0;
    while (first < DECIMAL_INT_DIGITS - 1 && digit[first] == '0') first++;
    for (int i = first; i < DECIMAL_INT_DIGITS; i++) {
        out += digit[i];
        // Groups of three counted from the point: after digits 2, 5, 8, 11, 14.
        if (group && i < DECIMAL_INT_DIGITS - 1 && (i + 2) % 3 == 0) out += '\'';
    }
    if (fraction_digits <= 0) return;
    if (fraction_digits > DECIMAL_FRACTION_DIGITS) fraction_digits = DECIMAL_FRACTION_DIGITS;
    out += '.';
    out.append(digit + DECIMAL_INT_DIGITS, size_t(fraction_digits));
}

int decimal_fraction_digits_used(DecimalUnits units) {
    uint64_t f = uint64_t(units % DECIMAL_SCALE);
    if (f == 0) return 0;
    int n = DECIMAL_FRACTION_DIGITS;
    while (f % 10 == 0) {
        f /= 10;
        n--;
    }
    return n;
}

DecimalStatus decimal_from_digit_runs(std::string_view integer, std::string_view fraction, DecimalUnits* out) {
    DecimalUnits u = 0;
    int significant = 0;
    for (char c : integer) {
        if (c == '\'') continue;
        if (c < '0' || c > '9') return DecimalStatus::bad_value;
        if (significant == 0 && c == '0') continue;
        if (++significant > DECIMAL_INT_DIGITS) return DecimalStatus::overflow;
        u = u * 10 + DecimalUnits(c - '0');
    }
    int taken = 0;
    for (char c : fraction) {
        if (c == '\'') continue;
        if (c < '0' || c > '9') return DecimalStatus::bad_value;
        if (taken == DECIMAL_FRACTION_DIGITS) continue;
        u = u * 10 + DecimalUnits(c - '0');
        taken++;
    }
    for (; taken < DECIMAL_FRACTION_DIGITS; taken++) u *= 10;
    *out = u;
    return DecimalStatus::ok;
}

// --- packed digits ---------------------------------------------------------------------

void decimal_pack(DecimalUnits units, uint8_t bytes[11]) {
    std::memset(bytes, 0, 11);
    for (int i = DECIMAL_DIGITS; i >= 1 && units; i--) {
        uint8_t d = uint8_t(units % 10);
        units /= 10;
        bytes[(i - 1) / 2] |= (i % 2) ? uint8_t(d << 4) : d;
    }
}

bool decimal_unpack(const uint8_t bytes[11], DecimalUnits* out) {
    DecimalUnits u = 0;
    for (int i = 1; i <= DECIMAL_DIGITS; i++) {
        uint8_t b = bytes[(i - 1) / 2];
        uint8_t d = (i % 2) ? uint8_t(b >> 4) : uint8_t(b & 0xF);
        if (d > 9) return false;
        u = u * 10 + d;
    }
    *out = u;
    return true;
}

} // namespace kem
