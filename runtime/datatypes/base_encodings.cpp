// The base-2, base-16, base-58 and base-64 text codecs of binary!.
//
// Decoders read text in units of 1, 2 or 4 bytes per character, so they serve
// string! values of any width as well as raw source bytes. Every character is
// checked against the base's own alphabet: anything else, a code above 127
// included, fails the whole text rather than being folded or cut short.
#include <array>
#include <cstring>
#include <vector>
#include "runtime/datatypes/binary.h"
#include "runtime/services/unicode/text.h"

namespace kem {

namespace {

constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
constexpr char BASE64_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char BASE58_ALPHABET[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";

// Decode table entries besides digit values.
constexpr uint8_t SKIP = 0x40;
constexpr uint8_t BAD = 0x80;

// 128 entries: digit values of the alphabet, SKIP for the blanks of base 58
// and base 64 (backspace, tab, line feed, form feed, carriage return, space
// and "'"), BAD for everything else (vertical tab included).
constexpr std::array<uint8_t, 128> decode_table(const char* alphabet, int size) {
    std::array<uint8_t, 128> t{};
    for (auto& e : t) e = BAD;
    for (int i = 0; i < size; i++) t[size_t(alphabet[i])] = uint8_t(i);
    for (int c : {8, 9, 10, 12, 13, 32, int('\'')}) t[size_t(c)] = SKIP;
    return t;
}
constexpr auto BASE64_TABLE = decode_table(BASE64_ALPHABET, 64);
constexpr auto BASE58_TABLE = decode_table(BASE58_ALPHABET, 58);

int hex_value(uint32_t c) {
    if (c >= '0' && c <= '9') return int(c - '0');
    if (c >= 'A' && c <= 'F') return int(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return int(c - 'a' + 10);
    return -1;
}

// Walks the characters of a text, stepping over ";" comments (up to the line
// feed, which stays for the decoder to skip as a blank).
class Text {
public:
    Text(const uint8_t* text, uint32_t length, uint32_t unit) : p_(text), length_(length), unit_(unit) {}
    // The next character that is not in a comment; false at the end.
    bool next(uint32_t* c) {
        while (i_ < length_) {
            uint32_t ch = uint32_t(read_unit(p_ + size_t(i_) * unit_, unit_));
            if (ch != ';') {
                *c = ch;
                i_++;
                return true;
            }
            while (i_ < length_ && uint32_t(read_unit(p_ + size_t(i_) * unit_, unit_)) != '\n') i_++;
        }
        return false;
    }
    // Index of the character next() returned last.
    uint32_t last() const { return i_ - 1; }
    uint32_t length() const { return length_; }

private:
    const uint8_t* p_;
    uint32_t length_;
    uint32_t unit_;
    uint32_t i_ = 0;
};

bool fail(uint32_t* bad_at, uint32_t index) {
    if (bad_at) *bad_at = index;
    return false;
}

Cell* make_binary(bool ok, const std::vector<uint8_t>& bytes, Cell* out) {
    if (!ok) return nullptr;
    return binary_load_at(bytes.data(), uint32_t(bytes.size()), out);
}

} // namespace

// --- encoders ------------------------------------------------------------------

uint64_t binary_encoded_size(int32_t base, uint64_t n) {
    switch (base) {
    case 2: return n * 8;
    case 16: return n * 2;
    case 58: return n * 2;
    default: return (n + 2) / 3 * 4;
    }
}

uint8_t* binary_encode_2(uint8_t* out, const uint8_t* in, uint32_t n) {
    for (uint32_t i = 0; i < n; i++)
        for (int bit = 7; bit >= 0; bit--) *out++ = uint8_t('0' + ((in[i] >> bit) & 1));
    return out;
}

uint8_t* binary_encode_16(uint8_t* out, const uint8_t* in, uint32_t n) {
    for (uint32_t i = 0; i < n; i++) {
        *out++ = uint8_t(HEX_DIGITS[in[i] >> 4]);
        *out++ = uint8_t(HEX_DIGITS[in[i] & 15]);
    }
    return out;
}

uint8_t* binary_encode_64(uint8_t* out, const uint8_t* in, uint32_t n) {
    uint32_t i = 0;
    for (; i + 3 <= n; i += 3) {
        uint32_t v = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
        for (int shift = 18; shift >= 0; shift -= 6) *out++ = uint8_t(BASE64_ALPHABET[(v >> shift) & 63]);
    }
    if (uint32_t left = n - i) {
        uint32_t v = uint32_t(in[i]) << 16 | (left == 2 ? uint32_t(in[i + 1]) << 8 : 0);
        *out++ = uint8_t(BASE64_ALPHABET[v >> 18]);
        *out++ = uint8_t(BASE64_ALPHABET[(v >> 12) & 63]);
        *out++ = left == 2 ? uint8_t(BASE64_ALPHABET[(v >> 6) & 63]) : '=';
        *out++ = '=';
    }
    return out;
}

uint8_t* binary_encode_58(uint8_t* out, const uint8_t* in, uint32_t n) {
    uint32_t zeros = 0;
    while (zeros < n && in[zeros] == 0) zeros++;
    // Digits of the number after the zero bytes, least significant last;
    // log(256) / log(58) < 1.38 digits per byte.
    std::vector<uint8_t> digits(size_t(n - zeros) * 138 / 100 + 1, 0);
    for (uint32_t i = zeros; i < n; i++) {
        uint32_t carry = in[i];
        for (size_t j = digits.size(); j-- > 0;) {
            carry += 256u * digits[j];
            digits[j] = uint8_t(carry % 58);
            carry /= 58;
        }
    }
    size_t first = 0;
    while (first < digits.size() && digits[first] == 0) first++;
    for (uint32_t i = 0; i < zeros; i++) *out++ = '1';
    for (size_t j = first; j < digits.size(); j++) *out++ = uint8_t(BASE58_ALPHABET[digits[j]]);
    return out;
}

// --- decoders --------------------------------------------------------------------

bool base_decode_2(const uint8_t* text, uint32_t length, uint32_t unit, std::vector<uint8_t>& out,
                   uint32_t* bad_at) {
    out.clear();
    out.reserve(length / 8);
    Text t(text, length, unit);
    uint32_t c, acc = 0, bits = 0;
    while (t.next(&c)) {
        if (c <= ' ') continue;
        if (c != '0' && c != '1') return fail(bad_at, t.last());
        acc = acc << 1 | (c - '0');
        if (++bits == 8) {
            out.push_back(uint8_t(acc));
            acc = bits = 0;
        }
    }
    return bits == 0 || fail(bad_at, length);
}

bool base_decode_16(const uint8_t* text, uint32_t length, uint32_t unit, std::vector<uint8_t>& out,
                    uint32_t* bad_at) {
    out.clear();
    out.reserve(length / 2);
    Text t(text, length, unit);
    uint32_t c;
    int high = -1;
    while (t.next(&c)) {
        if (c <= ' ') continue;
        int v = hex_value(c);
        if (v < 0) return fail(bad_at, t.last());
        if (high < 0) {
            high = v;
        } else {
            out.push_back(uint8_t(high << 4 | v));
            high = -1;
        }
    }
    return high < 0 || fail(bad_at, length);
}

bool base_decode_64(const uint8_t* text, uint32_t length, uint32_t unit, std::vector<uint8_t>& out,
                    uint32_t* bad_at) {
    out.clear();
    out.reserve((uint64_t(length) + 3) * 3 / 4);
    Text t(text, length, unit);
    uint32_t c, acc = 0, pending = 0;
    // Two or three digits of an unfinished group carry one or two bytes.
    auto flush = [&] {
        if (pending == 3) {
            out.push_back(uint8_t(acc >> 10));
            out.push_back(uint8_t(acc >> 2));
        } else if (pending == 2) {
            out.push_back(uint8_t(acc >> 4));
        }
        return pending != 1;
    };
    while (t.next(&c)) {
        if (c == '=') {
            if (pending < 2) return fail(bad_at, t.last());
            flush();
            return true;
        }
        uint8_t v = c < 128 ? BASE64_TABLE[c] : BAD;
        if (v == SKIP) continue;
        if (v == BAD) return fail(bad_at, t.last());
        acc = acc << 6 | v;
        if (++pending == 4) {
            out.push_back(uint8_t(acc >> 16));
            out.push_back(uint8_t(acc >> 8));
            out.push_back(uint8_t(acc));
            acc = pending = 0;
        }
    }
    return flush() || fail(bad_at, length);
}

bool base_decode_58(const uint8_t* text, uint32_t length, uint32_t unit, std::vector<uint8_t>& out,
                    uint32_t* bad_at) {
    out.clear();
    std::vector<uint8_t> digits;
    Text t(text, length, unit);
    uint32_t c;
    while (t.next(&c)) {
        uint8_t v = c < 128 ? BASE58_TABLE[c] : BAD;
        if (v == SKIP) continue;
        if (v == BAD) return fail(bad_at, t.last());
        digits.push_back(v);
    }
    size_t ones = 0;
    while (ones < digits.size() && digits[ones] == 0) ones++;
    // Bytes of the number, least significant last; log(58) / log(256) < 0.733.
    std::vector<uint8_t> bytes((digits.size() - ones) * 733 / 1000 + 1, 0);
    for (size_t i = ones; i < digits.size(); i++) {
        uint32_t carry = digits[i];
        for (size_t j = bytes.size(); j-- > 0;) {
            carry += 58u * bytes[j];
            bytes[j] = uint8_t(carry);
            carry >>= 8;
        }
    }
    size_t first = 0;
    while (first < bytes.size() && bytes[first] == 0) first++;
    out.assign(ones, 0);
    out.insert(out.end(), bytes.begin() + ptrdiff_t(first), bytes.end());
    return true;
}

Cell* binary_decode_2(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out) {
    std::vector<uint8_t> bytes;
    return make_binary(base_decode_2(text, length, unit, bytes), bytes, out);
}

Cell* binary_decode_16(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out) {
    std::vector<uint8_t> bytes;
    return make_binary(base_decode_16(text, length, unit, bytes), bytes, out);
}

Cell* binary_decode_58(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out) {
    std::vector<uint8_t> bytes;
    return make_binary(base_decode_58(text, length, unit, bytes), bytes, out);
}

Cell* binary_decode_64(const uint8_t* text, uint32_t length, uint32_t unit, Cell* out) {
    std::vector<uint8_t> bytes;
    return make_binary(base_decode_64(text, length, unit, bytes), bytes, out);
}

} // namespace kem
