// The decompressor: stored, fixed and dynamic blocks, into a caller's buffer.
//
// Symbols are decoded through lookup tables indexed by the next TABLE_BITS
// bits of the stream; a longer code goes through a second table hung from the
// entry of its first TABLE_BITS bits. Bits past the end of the input read as
// zeros so that lookups need no bounds checks, but they are counted: a symbol
// that used one means the input was cut short, and decoding stops there.
#include <algorithm>
#include <cstring>
#include "runtime/io/compress.h"
#include "runtime/io/deflate_tables.h"

namespace kem {

namespace {

constexpr unsigned TABLE_BITS = 10;
constexpr unsigned MAX_CODE_LENGTH = 15;
// A second table holds at most 2^(15 - TABLE_BITS) entries, and each symbol
// with a long code starts at most one of them.
constexpr size_t LITERAL_TABLE_SIZE = (1u << TABLE_BITS) + 288 * (1u << (MAX_CODE_LENGTH - TABLE_BITS));
constexpr size_t DISTANCE_TABLE_SIZE = (1u << TABLE_BITS) + 32 * (1u << (MAX_CODE_LENGTH - TABLE_BITS));
// Code-length codes are at most 7 bits long: one level suffices.
constexpr unsigned CODE_LENGTH_BITS = 7;
constexpr size_t CODE_LENGTH_TABLE_SIZE = 1u << CODE_LENGTH_BITS;

// A table entry: bits 0-7 the bits it consumes, 8-11 the extra bits that
// follow, 12-15 its kind, 16-31 its value (the byte, the base length or
// distance, or where its second table starts).
enum Kind : uint32_t { LITERAL = 0, BASE = 1, END = 2, SUBTABLE = 3, INVALID = 4 };
constexpr uint32_t entry(Kind kind, uint32_t value, uint32_t extra = 0) { return value << 16 | kind << 12 | extra << 8; }
inline Kind kind_of(uint32_t e) { return Kind((e >> 12) & 0xF); }
inline unsigned bits_of(uint32_t e) { return e & 0xFF; }
inline unsigned extra_of(uint32_t e) { return (e >> 8) & 0xF; }
inline uint32_t value_of(uint32_t e) { return e >> 16; }

uint32_t literal_info(unsigned s) {
    if (s < 256) return entry(LITERAL, s);
    if (s == 256) return entry(END, 0);
    if (s <= 285) return entry(BASE, LENGTH_BASE[s - 257], LENGTH_EXTRA[s - 257]);
    return entry(INVALID, 0);  // 286 and 287 have fixed codes but no meaning
}
uint32_t distance_info(unsigned s) {
    return s < 30 ? entry(BASE, DISTANCE_BASE[s], DISTANCE_EXTRA[s]) : entry(INVALID, 0);
}
uint32_t code_length_info(unsigned s) { return entry(LITERAL, s); }

// Fills a table from code lengths (canonical codes of RFC 1951). False when
// the lengths over-subscribe the code; an incomplete code is accepted and its
// unused bit patterns decode as INVALID, consuming the bits looked at, so
// that a reader past its end can tell a cut stream from a bad code.
bool build_table(const uint8_t* lengths, unsigned count, uint32_t (*info)(unsigned), unsigned primary_bits,
                 uint32_t* table) {
    unsigned per_length[MAX_CODE_LENGTH + 1] = {};
    for (unsigned s = 0; s < count; s++) per_length[lengths[s]]++;
    int left = 1;
    for (unsigned l = 1; l <= MAX_CODE_LENGTH; l++) {
        left = left * 2 - int(per_length[l]);
        if (left < 0) return false;
    }
    uint32_t next_code[MAX_CODE_LENGTH + 2] = {};
    for (unsigned l = 1, code = 0; l <= MAX_CODE_LENGTH; l++) {
        code = (code + (l > 1 ? per_length[l - 1] : 0)) << 1;
        next_code[l] = code;
    }
    const uint32_t primary_size = 1u << primary_bits, primary_mask = primary_size - 1;
    std::fill(table, table + primary_size, entry(INVALID, 0) | primary_bits);

    // Codes reversed, since the stream gives a code's first bit lowest.
    uint16_t reversed[320];
    uint8_t longest[1u << TABLE_BITS] = {};  // by first bits: the longest code behind them
    for (unsigned s = 0; s < count; s++) {
        const unsigned l = lengths[s];
        if (!l) continue;
        uint32_t code = next_code[l]++, r = 0;
        for (unsigned i = 0; i < l; i++) r |= ((code >> i) & 1u) << (l - 1 - i);
        reversed[s] = uint16_t(r);
        if (l > primary_bits) longest[r & primary_mask] = uint8_t(std::max<unsigned>(longest[r & primary_mask], l));
    }
    uint32_t next = primary_size;
    for (uint32_t prefix = 0; prefix < primary_size; prefix++) {
        if (!longest[prefix]) continue;
        const unsigned sub_bits = longest[prefix] - primary_bits;
        table[prefix] = entry(SUBTABLE, next, sub_bits) | primary_bits;
        std::fill(table + next, table + next + (1u << sub_bits), entry(INVALID, 0) | sub_bits);
        next += 1u << sub_bits;
    }
    for (unsigned s = 0; s < count; s++) {
        const unsigned l = lengths[s];
        if (!l) continue;
        const uint32_t r = reversed[s], e = info(s);
        if (l <= primary_bits) {
            for (uint32_t i = r; i < primary_size; i += 1u << l) table[i] = e | l;
        } else {
            const uint32_t link = table[r & primary_mask];
            const uint32_t sub_size = 1u << extra_of(link);
            const unsigned rest = l - primary_bits;
            for (uint32_t i = r >> primary_bits; i < sub_size; i += 1u << rest) table[value_of(link) + i] = e | rest;
        }
    }
    return true;
}

struct Tables {
    uint32_t literal[LITERAL_TABLE_SIZE];
    uint32_t distance[DISTANCE_TABLE_SIZE];
};

const Tables& fixed_tables() {
    static const Tables* tables = [] {
        static Tables t;
        uint8_t lengths[320];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        std::fill(lengths + 288, lengths + 320, 5);
        build_table(lengths, 288, literal_info, TABLE_BITS, t.literal);
        build_table(lengths + 288, 32, distance_info, TABLE_BITS, t.distance);
        return &t;
    }();
    return *tables;
}

inline uint64_t load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);  // the target is little-endian
    return v;
}

// The bit stream: up to 64 bits ahead in `bits`, the next one lowest. `fake`
// of the `count` bits are the zeros read past the end, always the highest.
struct Reader {
    const uint8_t* p;
    const uint8_t* end;
    uint64_t bits = 0;
    unsigned count = 0;
    unsigned fake = 0;

    bool fast() const { return end - p >= 8; }
    // At least 56 bits pending.
    void refill() {
        if (fast()) {
            bits |= load64(p) << count;
            p += (63 - count) >> 3;
            count |= 56;
        } else {
            while (count <= 56) {
                if (p < end) bits |= uint64_t(*p++) << count;
                else fake += 8;
                count += 8;
            }
        }
    }
    // Only after refill, and for n <= 32.
    uint32_t peek(unsigned n) const { return uint32_t(bits & ((uint64_t(1) << n) - 1)); }
    void drop(unsigned n) {
        bits >>= n;
        count -= n;
    }
    uint32_t take(unsigned n) {
        const uint32_t v = peek(n);
        drop(n);
        return v;
    }
    // Whether a bit past the end of the input was used.
    bool overrun() const { return count < fake; }
    // Real bits left (the partial last byte, once the input is used up).
    unsigned real() const { return count - fake; }
};

// The entry of the next symbol, its bits consumed, from a table whose first
// level takes `primary` bits. The reader holds at least 15 bits.
template <unsigned primary = TABLE_BITS>
inline uint32_t decode(Reader& r, const uint32_t* table) {
    uint32_t e = table[r.bits & ((1u << primary) - 1)];
    if (kind_of(e) == SUBTABLE) {
        r.drop(primary);
        e = table[value_of(e) + r.peek(extra_of(e))];
    }
    r.drop(bits_of(e));
    return e;
}

// Copies a match of n bytes from distance d back; out has at least 8 bytes of
// room past the match, which the wide copies may scribble on.
inline void copy_match_wide(uint8_t* out, uint32_t d, uint32_t n) {
    const uint8_t* from = out - d;
    uint8_t* const stop = out + n;
    if (d >= 8) {
        do {
            std::memcpy(out, from, 8);
            out += 8;
            from += 8;
        } while (out < stop);
    } else if (d == 1) {
        std::memset(out, *from, n);
    } else {
        while (out < stop) *out++ = *from++;
    }
}

struct Inflater {
    Reader in;
    uint8_t* out;
    uint64_t capacity;
    uint64_t pos = 0;
    bool stop_when_full;

    CompressStatus data(const uint32_t* literal, const uint32_t* distance);
    CompressStatus stored();
    CompressStatus dynamic(Tables& t);
    CompressStatus run();

    // After the output grew: too much for a size cell, or no room left when
    // the caller wants no counting.
    CompressStatus grown() const {
        if (pos > COMPRESS_MAX_OUTPUT) return CompressStatus::too_large;
        if (stop_when_full && pos > capacity) return CompressStatus::too_small;
        return CompressStatus::done;
    }
    // A symbol that makes no sense is a bad code, unless it was read from
    // bits past the end.
    CompressStatus bad_or_cut() const { return in.overrun() ? CompressStatus::truncated : CompressStatus::bad_code; }
};

// Room for the longest match and the wide copy's overshoot.
constexpr uint64_t FAST_ROOM = 258 + 8;
// What the fast loop answers when it stops for want of input or room.
constexpr CompressStatus MORE = CompressStatus(-1);

// Decodes symbols without bounds checks while 8 bytes of input are left and,
// when writing, the output has FAST_ROOM bytes of room; when counting, until
// the output passes `limit`. The state lives in locals meanwhile: writes
// through the output pointer could alias the caller's fields and would pin
// them to memory.
template <bool write>
CompressStatus fast_symbols(Reader& reader, uint8_t* out, uint64_t& position, uint64_t limit,
                            const uint32_t* literal, const uint32_t* distance) {
    constexpr uint32_t mask = (1u << TABLE_BITS) - 1;
    Reader r = reader;
    uint64_t pos = position;
    CompressStatus s = MORE;
    // Each table entry is looked up before the refill that follows it (a
    // refill only adds bits above those held), so that the two loads overlap
    // instead of waiting on each other. At the top of the loop at least 15
    // bits are held; two refills need 16 bytes of input.
    if (r.end - r.p >= 16) r.refill();
    while (r.end - r.p >= 16 && (write ? pos + FAST_ROOM <= limit : pos <= limit)) {
        uint32_t e = literal[r.bits & mask];
        r.refill();
        if (kind_of(e) == SUBTABLE) {
            r.drop(TABLE_BITS);
            e = literal[value_of(e) + r.peek(extra_of(e))];
        }
        r.drop(bits_of(e));
        if (kind_of(e) == LITERAL) {
            if (write) out[pos] = uint8_t(value_of(e));
            pos++;
            // Two more literals fit in the bits left (at least 41).
            e = literal[r.bits & mask];
            if (kind_of(e) != LITERAL) continue;
            r.drop(bits_of(e));
            if (write) out[pos] = uint8_t(value_of(e));
            pos++;
            e = literal[r.bits & mask];
            if (kind_of(e) != LITERAL) continue;
            r.drop(bits_of(e));
            if (write) out[pos] = uint8_t(value_of(e));
            pos++;
            continue;
        }
        if (kind_of(e) != BASE) {
            s = kind_of(e) == END ? CompressStatus::done : CompressStatus::bad_code;
            break;
        }
        const uint32_t n = value_of(e) + r.take(extra_of(e));
        uint32_t de = distance[r.bits & mask];
        r.refill();
        if (kind_of(de) == SUBTABLE) {
            r.drop(TABLE_BITS);
            de = distance[value_of(de) + r.peek(extra_of(de))];
        }
        r.drop(bits_of(de));
        if (kind_of(de) != BASE) {
            s = CompressStatus::bad_code;
            break;
        }
        const uint32_t d = value_of(de) + r.take(extra_of(de));
        if (d > pos) {
            s = CompressStatus::distance_too_far;
            break;
        }
        if (write) copy_match_wide(out + pos, d, n);
        pos += n;
    }
    reader = r;
    position = pos;
    return s;
}

CompressStatus Inflater::data(const uint32_t* literal, const uint32_t* distance) {
    const uint64_t count_limit = stop_when_full ? capacity : COMPRESS_MAX_OUTPUT;
    for (;;) {
        CompressStatus s = MORE;
        if (pos + FAST_ROOM <= capacity) s = fast_symbols<true>(in, out, pos, capacity, literal, distance);
        else if (pos >= capacity) s = fast_symbols<false>(in, out, pos, count_limit, literal, distance);
        if (s != MORE) return s;
        if (s = grown(); s != CompressStatus::done) return s;
        // One symbol with every check: near the end of the input or the room.
        in.refill();
        const uint32_t e = decode(in, literal);
        if (in.overrun()) return CompressStatus::truncated;
        switch (kind_of(e)) {
        case LITERAL:
            if (pos < capacity) out[pos] = uint8_t(value_of(e));
            pos++;
            break;
        case END: return CompressStatus::done;
        case BASE: {
            const uint32_t n = value_of(e) + in.take(extra_of(e));
            const uint32_t de = decode(in, distance);
            if (kind_of(de) != BASE) return bad_or_cut();
            const uint32_t d = value_of(de) + in.take(extra_of(de));
            if (in.overrun()) return CompressStatus::truncated;
            if (d > pos) return CompressStatus::distance_too_far;
            if (pos < capacity) {
                const uint64_t m = std::min<uint64_t>(n, capacity - pos);
                for (uint64_t i = 0; i < m; i++) out[pos + i] = out[pos + i - d];
            }
            pos += n;
            break;
        }
        default: return bad_or_cut();
        }
        if (s = grown(); s != CompressStatus::done) return s;
    }
}

CompressStatus Inflater::stored() {
    in.drop(in.count % 8);  // to the byte boundary (the zeros past the end come in whole bytes)
    in.refill();
    const uint32_t n = in.take(16);
    in.drop(16);  // the complement of the length, which nothing checks
    if (in.overrun()) return CompressStatus::truncated;
    // Hand the whole bytes read ahead back to the input and copy straight from it.
    in.p -= in.real() / 8;
    in.bits = 0;
    in.count = in.fake = 0;
    if (size_t(in.end - in.p) < n) return CompressStatus::stored_past_end;
    if (pos < capacity) std::memcpy(out + pos, in.p, size_t(std::min<uint64_t>(n, capacity - pos)));
    in.p += n;
    pos += n;
    return grown();
}

CompressStatus Inflater::dynamic(Tables& t) {
    in.refill();
    const unsigned literals = in.take(5) + 257, distances = in.take(5) + 1, code_lengths = in.take(4) + 4;
    uint8_t lengths[320] = {};
    for (unsigned i = 0; i < code_lengths; i++) {
        in.refill();
        lengths[CODE_LENGTH_ORDER[i]] = uint8_t(in.take(3));
    }
    if (in.overrun()) return CompressStatus::truncated;
    uint32_t code_length_table[CODE_LENGTH_TABLE_SIZE];
    if (!build_table(lengths, 19, code_length_info, CODE_LENGTH_BITS, code_length_table))
        return CompressStatus::bad_code;

    const unsigned total = literals + distances;
    std::fill(lengths, lengths + 19, 0);
    for (unsigned i = 0; i < total;) {
        in.refill();
        const uint32_t e = decode<CODE_LENGTH_BITS>(in, code_length_table);
        if (kind_of(e) == INVALID) return bad_or_cut();
        const uint32_t s = value_of(e);
        if (s < 16) {
            lengths[i++] = uint8_t(s);
            continue;
        }
        uint8_t fill = 0;
        unsigned repeat;
        if (s == 16) {
            if (i == 0) return bad_or_cut();
            fill = lengths[i - 1];
            repeat = 3 + in.take(2);
        } else if (s == 17) {
            repeat = 3 + in.take(3);
        } else {
            repeat = 11 + in.take(7);
        }
        if (repeat > total - i) return bad_or_cut();
        std::fill(lengths + i, lengths + i + repeat, fill);
        i += repeat;
    }
    if (in.overrun()) return CompressStatus::truncated;
    // A block that cannot end is no block.
    if (lengths[256] == 0) return CompressStatus::bad_code;
    if (!build_table(lengths, literals, literal_info, TABLE_BITS, t.literal) ||
        !build_table(lengths + literals, distances, distance_info, TABLE_BITS, t.distance))
        return CompressStatus::bad_code;
    return CompressStatus::done;
}

CompressStatus Inflater::run() {
    Tables dynamic_tables;
    for (;;) {
        in.refill();
        // Fewer than 8 real bits left can only be the padding of the last
        // byte: the stream ended between blocks.
        if (in.p == in.end && in.real() < 8) return CompressStatus::done;
        const bool final = in.take(1);
        const uint32_t type = in.take(2);
        CompressStatus s;
        switch (type) {
        case 0: s = stored(); break;
        case 1: {
            const Tables& fixed = fixed_tables();
            s = data(fixed.literal, fixed.distance);
            break;
        }
        case 2:
            s = dynamic(dynamic_tables);
            if (s == CompressStatus::done) s = data(dynamic_tables.literal, dynamic_tables.distance);
            break;
        default: s = CompressStatus::reserved_block;
        }
        if (s != CompressStatus::done) return s;
        if (final) return CompressStatus::done;
    }
}

} // namespace

CompressStatus inflate_raw(uint8_t* out, size_t capacity, uint64_t* out_length, const uint8_t* in, size_t length,
                           bool stop_when_full, size_t* used) {
    Inflater f{Reader{in, in + length}, out, out ? capacity : 0, 0, stop_when_full};
    const CompressStatus s = f.run();
    *out_length = f.pos;
    // Whole bytes read ahead were not used; the rest of a partial byte was.
    if (used) *used = size_t(f.in.p - in) - (f.in.count >= f.in.fake ? f.in.real() / 8 : 0);
    if (s == CompressStatus::done && f.pos > f.capacity) return CompressStatus::too_small;
    return s;
}

CompressStatus compress_inflate(uint8_t* out, int32_t* size, const uint8_t* in, size_t length) {
    uint64_t n = 0;
    const CompressStatus s = inflate_raw(out, size_t(std::max(*size, 0)), &n, in, length, false, nullptr);
    *size = int32_t(std::min(n, COMPRESS_MAX_OUTPUT));
    return s;
}

} // namespace kem
