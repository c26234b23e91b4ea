#include "runtime/services/float_text.h"
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <system_error>

namespace kem {

namespace {

// std::to_chars gives the shortest round-trip digits (closest to the value when
// several are as short) and exact n-digit rounding; std::from_chars the
// correctly rounded double. Everything below is the notation around them.

// Scientific text of FLOAT_MAX_DIGITS digits: "d." + digits + "e-308".
constexpr size_t SCI_BUFFER = FLOAT_MAX_DIGITS + 16;
// Widest form_float text: "0." + 6 zeros + FLOAT_MAX_DIGITS digits, or 17
// integer digits, the point and the rest; plus the sign and the terminator.
constexpr size_t TEXT_BUFFER = FLOAT_MAX_DIGITS + 32;

char digit_buffer[FLOAT_MAX_DIGITS + 1];
// text_buffer[0] is reserved for the minus sign, so a negative text is the
// positive one with its start moved back by one.
char text_buffer[TEXT_BUFFER];

// Decimal magnitudes beyond these give infinity or zero whatever the digits.
constexpr int64_t DECIMAL_OVERFLOW = 310;    // value >= 1e309
constexpr int64_t DECIMAL_UNDERFLOW = -330;  // value < 1e-330, under half the least subnormal

char* write_int(char* p, int v) {
    if (v < 0) {
        *p++ = '-';
        v = -v;
    }
    char tmp[12];
    int n = 0;
    do {
        tmp[n++] = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v);
    while (n) *p++ = tmp[--n];
    return p;
}

} // namespace

const char* float_to_decimal(double value, int digits, int* decpt, bool* negative, int* count, bool keep_point) {
    bool neg = std::signbit(value);
    const char* special = nullptr;
    if (std::isnan(value)) {
        neg = false;
        special = "1.#NaN";
        *decpt = FLOAT_DECPT_SPECIAL;
    } else if (std::isinf(value)) {
        special = neg ? "-1.#INF" : "1.#INF";
        *decpt = FLOAT_DECPT_SPECIAL;
    } else if (value == 0.0) {
        special = keep_point ? (neg ? "-0.0" : "0.0") : (neg ? "-0" : "0");
        *decpt = FLOAT_DECPT_ZERO;
    }
    *negative = neg;
    if (special) {
        *count = static_cast<int>(std::strlen(special));
        return special;
    }

    char sci[SCI_BUFFER];
    double magnitude = std::fabs(value);
    std::to_chars_result r;
    if (digits <= 0) {
        r = std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific);
    } else {
        if (digits > FLOAT_MAX_DIGITS) digits = FLOAT_MAX_DIGITS;
        r = std::to_chars(sci, sci + sizeof sci, magnitude, std::chars_format::scientific, digits - 1);
    }
    // sci is "d[.ddd]e(+|-)xx".
    const char* p = sci;
    int n = 0;
    digit_buffer[n++] = *p++;
    if (*p == '.') {
        for (p++; *p != 'e'; p++) digit_buffer[n++] = *p;
    }
    int exponent = 0;
    std::from_chars(p + (p[1] == '+' ? 2 : 1), r.ptr, exponent);
    while (n > 1 && digit_buffer[n - 1] == '0') n--;
    digit_buffer[n] = '\0';
    *decpt = exponent + 1;
    *count = n;
    return digit_buffer;
}

const char* form_float(double value, int digits, bool keep_point) {
    int decpt, n;
    bool neg;
    const char* d = float_to_decimal(value, digits, &decpt, &neg, &n, keep_point);
    if (decpt >= FLOAT_DECPT_ZERO) return d;

    char* start = text_buffer + 1;
    char* p = start;
    if (decpt >= 18 || decpt < -6) {
        *p++ = d[0];
        *p++ = '.';
        if (n > 1) {
            std::memcpy(p, d + 1, static_cast<size_t>(n - 1));
            p += n - 1;
        } else if (keep_point) {
            *p++ = '0';
        } else {
            p--;
        }
        *p++ = 'e';
        p = write_int(p, decpt - 1);
    } else if (decpt <= 0) {
        *p++ = '0';
        *p++ = '.';
        std::memset(p, '0', static_cast<size_t>(-decpt));
        p += -decpt;
        std::memcpy(p, d, static_cast<size_t>(n));
        p += n;
    } else if (n <= decpt) {
        std::memcpy(p, d, static_cast<size_t>(n));
        p += n;
        std::memset(p, '0', static_cast<size_t>(decpt - n));
        p += decpt - n;
        if (keep_point) {
            *p++ = '.';
            *p++ = '0';
        }
    } else {
        std::memcpy(p, d, static_cast<size_t>(decpt));
        p += decpt;
        *p++ = '.';
        std::memcpy(p, d + decpt, static_cast<size_t>(n - decpt));
        p += n - decpt;
    }
    *p = '\0';
    if (neg) {
        *--start = '-';
    }
    return start;
}

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }
char lower(char c) { return static_cast<char>(c | 0x20); }

// Reads "1.#INF" / "1.#NaN" after the sign; s points at the digit.
bool read_special(const char* s, const char* end, bool neg, double* out, const char** stop) {
    if (end - s < 4 || s[0] < '1' || s[0] > '9' || s[1] != '.' || s[2] != '#') return false;
    const char* word;
    char c = lower(s[3]);
    if (c == 'i') {
        word = "inf";
        *out = neg ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    } else if (c == 'n') {
        word = "nan";
        *out = std::numeric_limits<double>::quiet_NaN();
    } else {
        return false;
    }
    // The word's remaining letters belong to the number when present.
    s += 3;
    for (int i = 0; i < 3 && s < end && lower(*s) == word[i]; i++) s++;
    *stop = s;
    return true;
}

} // namespace

double decimal_to_float(const char* start, const char* end, int e0, size_t* left) {
    const char* s = start;
    bool neg = false;
    if (s < end && (*s == '+' || *s == '-')) {
        neg = *s == '-';
        s++;
    }
    bool any_digit = false;
    while (s < end && *s == '0') {
        s++;
        any_digit = true;
    }
    double special;
    const char* stop;
    if (!any_digit && read_special(s, end, neg, &special, &stop)) {
        if (left) *left = static_cast<size_t>(end - stop);
        return special;
    }

    // Significant digits without leading zeros; value = digits x 10^scale.
    // Digits past FLOAT_MAX_DIGITS only count as "some were non-zero": a 1
    // standing for them keeps the text on the same side of every halfway point.
    char sig[FLOAT_MAX_DIGITS + 24];
    int n = 0;
    bool dropped_nonzero = false;
    int64_t scale = 0;
    auto take = [&](char c) {
        if (n == 0 && c == '0') return;
        if (n < FLOAT_MAX_DIGITS) {
            sig[n++] = c;
        } else {
            scale++;
            if (c != '0') dropped_nonzero = true;
        }
    };
    for (; s < end && is_digit(*s); s++) {
        any_digit = true;
        take(*s);
    }
    if (s < end && *s == '.') {
        const char* point = s;
        for (s++; s < end && is_digit(*s); s++) {
            any_digit = true;
            take(*s);
            scale--;
        }
        if (!any_digit) s = point;
    }
    if (!any_digit) {
        if (left) *left = static_cast<size_t>(end - start);
        return 0.0;
    }

    if (s + 1 < end && (*s == 'e' || *s == 'E')) {
        const char* e = s + 1;
        bool eneg = false;
        if (*e == '+' || *e == '-') {
            eneg = *e == '-';
            e++;
        }
        if (e < end && is_digit(*e)) {
            int64_t x = 0;
            for (; e < end && is_digit(*e); e++) {
                if (x < 1000000000) x = x * 10 + (*e - '0');
            }
            scale += eneg ? -x : x;
            s = e;
        }
    }
    if (left) *left = static_cast<size_t>(end - s);

    if (dropped_nonzero) {
        sig[n++] = '1';
        scale--;
    }
    while (n > 0 && sig[n - 1] == '0') {
        n--;
        scale++;
    }
    double result;
    if (n == 0) {
        result = 0.0;
    } else {
        scale += e0;
        int64_t magnitude = scale + n;   // value < 10^magnitude
        if (magnitude > DECIMAL_OVERFLOW) {
            result = std::numeric_limits<double>::infinity();
        } else if (magnitude < DECIMAL_UNDERFLOW) {
            result = 0.0;
        } else {
            char* p = sig + n;
            *p++ = 'e';
            p = write_int(p, static_cast<int>(scale));
            auto r = std::from_chars(sig, p, result);
            if (r.ec == std::errc::result_out_of_range) {
                result = magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
            }
        }
    }
    return neg ? -result : result;
}

} // namespace kem
