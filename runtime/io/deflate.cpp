// The compressor: one final block of type 1 (the fixed Huffman codes of
// RFC 1951), matches found through a table of 1024 buckets of four positions,
// taken greedily. It allocates nothing; the 16 KB table lives on the stack.
#include <algorithm>
#include <cstring>
#include "runtime/io/compress.h"
#include "runtime/io/deflate_tables.h"

namespace kem {

namespace {

constexpr uint32_t EMPTY = 0xFFFFFFFFu;
constexpr size_t WINDOW = 32768;

// Codes are sent most significant bit first inside a stream that is filled
// least significant bit first: each code is stored bit-reversed.
constexpr uint32_t reverse_bits(uint32_t code, unsigned length) {
    uint32_t r = 0;
    for (unsigned i = 0; i < length; i++) r |= ((code >> i) & 1u) << (length - 1 - i);
    return r;
}

struct Code {
    uint32_t bits = 0;   // already reversed, extra bits included above the code
    uint32_t count = 0;  // bits in all
};

// The fixed code of a literal/length symbol.
constexpr Code fixed_symbol(unsigned s) {
    if (s < 144) return {reverse_bits(0x30 + s, 8), 8};
    if (s < 256) return {reverse_bits(0x190 + s - 144, 9), 9};
    if (s < 280) return {reverse_bits(s - 256, 7), 7};
    return {reverse_bits(0xC0 + s - 280, 8), 8};
}

struct FixedCodes {
    Code literal[256];
    Code length[259];  // by match length 3..258: the length code and its extra bits
    Code distance[30];  // the code of each distance symbol, without extra bits
    uint8_t distance_symbol_low[256];   // by distance - 1, below 256
    uint8_t distance_symbol_high[256];  // by (distance - 1) >> 7, from 256 on
    constexpr FixedCodes() : literal(), length(), distance(), distance_symbol_low(), distance_symbol_high() {
        for (unsigned b = 0; b < 256; b++) literal[b] = fixed_symbol(b);
        for (unsigned s = 0; s < 29; s++) {
            const Code code = fixed_symbol(257 + s);
            const unsigned base = LENGTH_BASE[s], extra = LENGTH_EXTRA[s];
            // 258 has its own symbol (285), though 284 with all extra bits set would also say it.
            const unsigned last = s == 28 ? 258 : LENGTH_BASE[s + 1] - 1;
            for (unsigned n = base; n <= last; n++) length[n] = {code.bits | (n - base) << code.count, code.count + extra};
        }
        for (unsigned s = 0; s < 30; s++) {
            distance[s] = {reverse_bits(s, 5), 5};
            const unsigned base = DISTANCE_BASE[s];
            const unsigned last = s == 29 ? 32768 : DISTANCE_BASE[s + 1] - 1;
            for (unsigned d = base; d <= last; d++) {
                if (d <= 256) distance_symbol_low[d - 1] = uint8_t(s);
                else distance_symbol_high[(d - 1) >> 7] = uint8_t(s);
            }
        }
    }
};
constexpr FixedCodes FIXED{};

inline unsigned distance_symbol(uint32_t d) {
    return d <= 256 ? FIXED.distance_symbol_low[d - 1] : FIXED.distance_symbol_high[(d - 1) >> 7];
}

// Bits go out least significant first; whole bytes are written while they fit
// and only counted past the capacity, so the cursor ends at the needed size.
struct BitWriter {
    uint8_t* out;
    uint64_t capacity;
    uint64_t cursor = 0;
    uint64_t acc = 0;
    unsigned pending = 0;

    void put(uint32_t bits, unsigned count) {  // count < 32
        acc |= uint64_t(bits) << pending;
        pending += count;
        if (pending >= 32) {
            write_bytes(4);
        }
    }
    void write_bytes(unsigned n) {
        if (cursor + n <= capacity) {
            const uint64_t v = acc;
            std::memcpy(out + cursor, &v, n);  // the target is little-endian
        } else {
            for (unsigned i = 0; i < n; i++)
                if (cursor + i < capacity) out[cursor + i] = uint8_t(acc >> (8 * i));
        }
        cursor += n;
        acc >>= 8 * n;
        pending = pending >= 8 * n ? pending - 8 * n : 0;
    }
    void finish() {
        if (pending) write_bytes((pending + 7) / 8);
    }
};

inline uint32_t bucket_of(uint32_t a, uint32_t b, uint32_t c) {
    uint32_t x = (a ^ (a << 16 | b << 8 | c)) * 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    return (x ^ (x >> 16)) & 0x3FF;
}

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Bytes equal at a and b, from `from` up to `limit`.
inline size_t match_length(const uint8_t* a, const uint8_t* b, size_t from, size_t limit) {
    size_t n = from;
    while (n + 8 <= limit) {
        const uint64_t x = load64(a + n) ^ load64(b + n);
        if (x) return n + size_t(__builtin_ctzll(x)) / 8;
        n += 8;
    }
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

} // namespace

CompressStatus compress_deflate(uint8_t* out, int32_t* size, const uint8_t* in, size_t length) {
    uint32_t table[1024][4];
    std::memset(table, 0xFF, sizeof table);
    BitWriter w{out, uint64_t(std::max(*size, 0))};
    w.put(0b011, 3);  // final block, type 1

    auto byte_at = [&](size_t i) -> uint32_t { return i < length ? in[i] : 0; };
    size_t p = 0;
    while (p < length) {
        const uint32_t a = in[p], b = byte_at(p + 1), c = byte_at(p + 2);
        uint32_t* slots = table[bucket_of(a, b, c)];
        const size_t start = p;
        bool matched = false;
        if (p >= 3 && length - p >= 3) {
            for (int s = 0; s < 4; s++) {
                const uint32_t q = slots[s];
                if (q == EMPTY || p >= q + WINDOW || in[q] != a || in[q + 1] != b || in[q + 2] != c) continue;
                const size_t n = match_length(in + p, in + q, 3, std::min<size_t>(258, length - p));
                const uint32_t d = uint32_t(p - q);
                const Code lc = FIXED.length[n];
                const unsigned ds = distance_symbol(d);
                const Code dc = FIXED.distance[ds];
                w.put(lc.bits | (dc.bits | (d - DISTANCE_BASE[ds]) << 5) << lc.count,
                      lc.count + 5 + DISTANCE_EXTRA[ds]);
                p += n;
                matched = true;
                break;
            }
        }
        if (!matched) {
            const Code lit = FIXED.literal[a];
            w.put(lit.bits, lit.count);
            p++;
        }
        slots[((byte_at(p + 1) >> 6) - byte_at(p + 2)) & 3] = uint32_t(start);
    }
    w.put(0, 7);  // end of block
    w.finish();
    if (w.cursor > COMPRESS_MAX_OUTPUT) {
        *size = int32_t(COMPRESS_MAX_OUTPUT);
        return CompressStatus::too_large;
    }
    *size = int32_t(w.cursor);
    return w.cursor > w.capacity ? CompressStatus::too_small : CompressStatus::done;
}

} // namespace kem
