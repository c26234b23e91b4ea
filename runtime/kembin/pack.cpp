#include "runtime/kembin/pack.h"
#include "runtime/kembin/format.h"
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace kem::pack {

namespace {

constexpr uint32_t HASH3_BITS = 19;
constexpr uint32_t HASH4_BITS = 20;
constexpr uint32_t HASH3_MASK = (1u << HASH3_BITS) - 1;
constexpr uint32_t HASH4_MASK = (1u << HASH4_BITS) - 1;
constexpr uint32_t CHAIN_LIMIT = 256;
// A 3-byte match further back than this costs more bits than three literals.
constexpr uint32_t FAR_SHORT_MATCH = 65536;
// The best a match can do is 566 bytes for 22 bits: no honest stream unpacks to
// more than this many times its size.
constexpr uint64_t MAX_RATIO = 256;
// No unpacked data is allowed to claim more memory than this.
constexpr uint32_t MAX_UNPACKED = 1u << 30;

// Writes bit fields, lowest bit first, into a buffer it may not overrun.
class BitWriter {
public:
    BitWriter(uint8_t* out, size_t capacity, size_t at) : out_(out), capacity_(capacity), at_(at) {}

    void bits(uint32_t value, uint32_t n) {
        pending_ |= uint64_t(value) << count_;
        count_ += n;
        while (count_ >= 8) {
            byte(uint8_t(pending_));
            pending_ >>= 8;
            count_ -= 8;
        }
    }
    // The 7 zero bits that end a block; what is left of the byte is dropped.
    void end_block() {
        bits(0, 7);
        pending_ = 0;
        count_ = 0;
    }
    bool reserve(uint32_t n, size_t* where) {
        if (at_ + n > capacity_) failed_ = true;
        if (failed_) return false;
        *where = at_;
        at_ += n;
        return true;
    }
    bool failed() const { return failed_; }
    size_t at() const { return at_; }

private:
    void byte(uint8_t b) {
        if (at_ >= capacity_) {
            failed_ = true;
            return;
        }
        out_[at_++] = b;
    }
    uint8_t* out_;
    size_t capacity_;
    size_t at_;
    uint64_t pending_ = 0;
    uint32_t count_ = 0;
    bool failed_ = false;
};

// Reads bit fields from the packed stream; a read past its end fails the stream
// (and reads as zeros from then on).
class BitReader {
public:
    BitReader(const uint8_t* data, size_t at, size_t end) : data_(data), at_(at), end_(end) {}

    // At least n bits (up to 57) ready for peek and skip, unless the stream ends.
    [[gnu::always_inline]] void fill() {
        if (at_ + 8 <= end_) {
            uint64_t word;
            std::memcpy(&word, data_ + at_, 8);
            pending_ |= word << count_;
            at_ += (63 - count_) >> 3;
            count_ |= 56;
            return;
        }
        while (count_ <= 56 && at_ < end_) {
            pending_ |= uint64_t(data_[at_++]) << count_;
            count_ += 8;
        }
    }
    uint32_t peek(uint32_t n) const { return uint32_t(pending_ & ((uint64_t(1) << n) - 1)); }
    void skip(uint32_t n) {
        if (count_ < n) [[unlikely]] {
            failed_ = true;
            n = count_;
        }
        pending_ >>= n;
        count_ -= n;
    }
    uint32_t bits(uint32_t n) {
        if (count_ < n) fill();
        const uint32_t v = peek(n);
        skip(n);
        return v;
    }
    // The next block starts on the byte after the last one a token touched.
    void align() {
        at_ -= count_ / 8;
        pending_ = 0;
        count_ = 0;
    }
    uint32_t ready() const { return count_; }
    bool failed() const { return failed_; }
    size_t at() const { return at_; }

private:
    const uint8_t* data_;
    size_t at_;
    size_t end_;
    uint64_t pending_ = 0;
    uint32_t count_ = 0;
    bool failed_ = false;
};

struct LengthRow {
    uint32_t prefix;  // the prefix bits, first one lowest
    uint32_t prefix_bits;
    uint32_t extra_bits;
    uint32_t base;
};
constexpr LengthRow LENGTH_ROWS[] = {
    {0b1, 1, 2, 3}, {0b10, 2, 2, 7}, {0b100, 3, 2, 11}, {0b1000, 4, 3, 15}, {0b10000, 5, 5, 23}, {0b00000, 5, 9, 55},
};

void write_match(BitWriter& w, uint32_t length, uint32_t distance) {
    w.bits(1, 1);
    for (const LengthRow& row : LENGTH_ROWS) {
        if (length < row.base + (1u << row.extra_bits)) {
            w.bits(row.prefix, row.prefix_bits);
            w.bits(length - row.base, row.extra_bits);
            break;
        }
    }
    // D - 1 below 8 takes class 2 and three bits; above, class k holds D - 1
    // in [2^k, 2^(k+1)) as k bits above 2^k.
    const uint32_t d = distance - 1;
    if (d < 8) {
        w.bits(0, 4);
        w.bits(d, 3);
    } else {
        const uint32_t k = 31 - uint32_t(__builtin_clz(d));
        w.bits(k - 2, 4);
        w.bits(d - (1u << k), k);
    }
}

// A match token's length and distance, the flag bit already taken. A token
// needs at most 1 + 14 + 21 bits, all ready after one fill.
[[gnu::always_inline]] inline void read_match(BitReader& r, uint32_t* length, uint32_t* distance) {
    if (r.ready() < 36) r.fill();
    // The prefix is the position of its first 1 bit; five 0 bits are the last row.
    const uint32_t row = uint32_t(__builtin_ctz(r.peek(5) | 32));
    r.skip(row < 5 ? row + 1 : 5);
    *length = LENGTH_ROWS[row].base + r.bits(LENGTH_ROWS[row].extra_bits);
    const uint32_t k = r.bits(4) + 2;
    *distance = k == 2 ? r.bits(3) + 1 : (1u << k) + r.bits(k) + 1;
}

struct Tables {
    std::unique_ptr<int32_t[]> head3{new int32_t[size_t(1) << HASH3_BITS]};
    std::unique_ptr<int32_t[]> head4{new int32_t[size_t(1) << HASH4_BITS]};
    std::unique_ptr<int32_t[]> chain{new int32_t[WINDOW]};
    std::unique_ptr<uint8_t[]> block{new uint8_t[BLOCK_MAX + MAX_MATCH + 8]};
};

inline uint32_t common_length(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

// One block's tokens.
void pack_block(Tables& t, uint32_t n, BitWriter& w) {
    const uint8_t* buf = t.block.get();
    std::fill_n(t.head3.get(), size_t(1) << HASH3_BITS, -1);
    std::fill_n(t.head4.get(), size_t(1) << HASH4_BITS, -1);
    uint32_t h3 = 0, h4 = 0;
    for (int i = 0; i < 3; i++) h3 = ((h3 << 7) + buf[i]) & HASH3_MASK;
    for (int i = 0; i < 4; i++) h4 = ((h4 << 5) + buf[i]) & HASH4_MASK;

    for (uint32_t p = 0; p < n && !w.failed();) {
        const uint32_t max_len = std::min(MAX_MATCH, n - p);
        const uint32_t window_start = p > WINDOW ? p - WINDOW : 0;
        uint32_t best_len = 2, best_dist = WINDOW;
        if (max_len >= MIN_MATCH) {
            int32_t c = t.head3[h3];
            if (c >= 0 && uint32_t(c) >= window_start && buf[c] == buf[p]) {
                uint32_t len = common_length(buf + c, buf + p, max_len);
                if (len >= MIN_MATCH) {
                    best_len = len;
                    best_dist = p - uint32_t(c);
                }
            }
            c = t.head4[h4];
            for (uint32_t tries = 0; best_len < max_len && c >= 0 && uint32_t(c) >= window_start && tries < CHAIN_LIMIT;
                 tries++) {
                if (buf[c + best_len] == buf[p + best_len] && buf[c] == buf[p]) {
                    const uint32_t len = common_length(buf + c, buf + p, max_len);
                    const uint32_t dist = p - uint32_t(c);
                    // A farther match must be longer by the octaves it lies beyond the best.
                    uint32_t penalty = 0;
                    for (uint32_t d = dist >> 4; d > best_dist; d >>= 3) penalty++;
                    if (len > best_len + penalty) {
                        best_len = len;
                        best_dist = dist;
                    }
                }
                c = t.chain[uint32_t(c) % WINDOW];
            }
        }
        if (best_len == MIN_MATCH && best_dist > FAR_SHORT_MATCH) best_len = 2;
        uint32_t covered = 1;
        if (best_len >= MIN_MATCH) {
            write_match(w, best_len, best_dist);
            covered = best_len;
        } else {
            w.bits(uint32_t(buf[p]) << 1, 9);
        }
        for (; covered > 0; covered--, p++) {
            t.head3[h3] = int32_t(p);
            t.chain[p % WINDOW] = t.head4[h4];
            t.head4[h4] = int32_t(p);
            h3 = ((h3 << 7) + buf[p + 3]) & HASH3_MASK;
            h4 = ((h4 << 5) + buf[p + 4]) & HASH4_MASK;
        }
    }
    w.end_block();
}

} // namespace

int64_t pack(const uint8_t* src, uint32_t size, uint8_t* dst) {
    if (size < MIN_INPUT) return -1;
    Tables t;
    BitWriter w(dst, size, HEADER_BYTES);
    for (uint32_t start = 0; start < size; start += BLOCK_MAX) {
        const uint32_t n = std::min(BLOCK_MAX, size - start);
        std::memcpy(t.block.get(), src + start, n);
        std::memset(t.block.get() + n, 0, MAX_MATCH + 8);
        size_t at = 0;
        if (!w.reserve(4, &at)) return -1;
        kembin::set_u32(dst + at, n);
        pack_block(t, n, w);
        if (w.failed()) return -1;
    }
    kembin::set_u32(dst, uint32_t(w.at() - HEADER_BYTES));
    kembin::set_u32(dst + 4, size);
    return int64_t(w.at());
}

bool unpack(const uint8_t* data, size_t available, std::vector<uint8_t>& out) {
    out.clear();
    if (available < HEADER_BYTES) return false;
    const uint32_t stream = kembin::get_u32(data);
    const uint32_t total = kembin::get_u32(data + 4);
    if (stream > available - HEADER_BYTES || uint64_t(total) > uint64_t(stream) * MAX_RATIO || total > MAX_UNPACKED)
        return false;
    try {
        out.resize(total);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const size_t end = size_t(HEADER_BYTES) + stream;
    size_t at = HEADER_BYTES;
    uint32_t written = 0;
    auto corrupt = [&] {
        out.clear();
        return false;
    };
    while (at < end) {
        if (end - at < 4) return corrupt();
        const uint32_t n = kembin::get_u32(data + at);
        if (n == 0 || n > BLOCK_MAX || n > total - written) return corrupt();
        BitReader r(data, at + 4, end);
        const uint32_t block_start = written, block_end = written + n;
        uint8_t* o = out.data();
        while (written < block_end) {
            if (r.ready() < 9) r.fill();
            const uint32_t token = r.peek(9);
            if ((token & 1) == 0) {
                r.skip(9);
                if (r.failed()) return corrupt();
                o[written++] = uint8_t(token >> 1);
                continue;
            }
            r.skip(1);
            uint32_t length, distance;
            read_match(r, &length, &distance);
            if (r.failed() || distance > written - block_start || length > block_end - written) return corrupt();
            if (distance >= length) {
                std::memcpy(o + written, o + written - distance, length);
                written += length;
            } else {
                // An overlapping match repeats its own output, byte by byte.
                for (uint32_t i = 0; i < length; i++, written++) o[written] = o[written - distance];
            }
        }
        r.align();
        at = r.at();
    }
    if (written != total) return corrupt();
    return true;
}

} // namespace kem::pack
