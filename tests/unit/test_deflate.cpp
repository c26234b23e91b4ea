// The compressor, the decompressor and the zlib and gzip framings: round
// trips, the buffer contract, streams made by Python's zlib, and malformed
// input (every failure a status, never a read or write out of bounds).
// Interoperation in both directions on large and real files is the job of
// tests/interop/deflate_interop.py.
#include <gtest/gtest.h>
#include <cstring>
#include <string>
#include <vector>
#include "runtime/io/checksum.h"
#include "runtime/io/compress.h"

using namespace kem;

namespace {

#include "data/deflate_fixtures.inc"

using Bytes = std::vector<uint8_t>;
using Worker = CompressStatus (*)(uint8_t*, int32_t*, const uint8_t*, size_t);

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct Result {
    CompressStatus status;
    Bytes out;
};

// Runs a worker the way the natives do: a compressor first into room for
// the input and 32 bytes, a decompressor first only to learn the size; then
// once more into a buffer of the size asked for.
Result run(Worker worker, const Bytes& in) {
    const bool packs = worker == compress_deflate || worker == compress_zlib || worker == compress_gzip;
    int32_t size = packs ? int32_t(in.size() + 32) : 0;
    Bytes out(static_cast<size_t>(size));
    CompressStatus s = worker(packs ? out.data() : nullptr, &size, in.data(), in.size());
    if (s == CompressStatus::too_small || (!packs && s == CompressStatus::done)) {
        out.assign(size_t(size), 0);
        s = worker(out.data(), &size, in.data(), in.size());
    }
    out.resize(s == CompressStatus::done ? size_t(size) : 0);
    return {s, out};
}

Bytes pseudo_random(size_t n, uint32_t seed) {
    Bytes out(n);
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        out[i] = uint8_t(seed >> 16);
    }
    return out;
}

// Bits least significant first, as a DEFLATE stream holds them; codes most
// significant bit first.
struct BitWriter {
    Bytes bytes;
    unsigned used = 0;
    void bits(uint32_t value, unsigned n) {
        for (unsigned i = 0; i < n; i++) {
            if (used % 8 == 0) bytes.push_back(0);
            bytes.back() |= uint8_t(((value >> i) & 1) << (used % 8));
            used++;
        }
    }
    void code(uint32_t value, unsigned n) {
        for (unsigned i = n; i-- > 0;) bits((value >> i) & 1, 1);
    }
    // A dynamic block header for the given code lengths; the code-length code
    // gives each length 0..15 a 4-bit code.
    void dynamic_header(bool final, const Bytes& literal_lengths, const Bytes& distance_lengths) {
        bits(final, 1);
        bits(2, 2);
        bits(unsigned(literal_lengths.size() - 257), 5);
        bits(unsigned(distance_lengths.size() - 1), 5);
        bits(19 - 4, 4);
        static const uint8_t order[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
        for (uint8_t symbol : order) bits(symbol < 16 ? 4 : 0, 3);
        for (uint8_t l : literal_lengths) code(l, 4);
        for (uint8_t l : distance_lengths) code(l, 4);
    }
};

} // namespace

// --- round trips and the exact output of the compressor ---------------------------------

TEST(Deflate, RoundTripsThroughEveryFraming) {
    Bytes runs(70000, 'x');
    for (size_t i = 0; i < runs.size(); i += 1000) runs[i] = uint8_t(i);
    Bytes far;  // a repeat 32767 and 32768 bytes back: only the first is in reach
    Bytes block = pseudo_random(32767, 7);
    far.insert(far.end(), block.begin(), block.end());
    far.insert(far.end(), block.begin(), block.begin() + 300);
    far.push_back('!');
    far.insert(far.end(), block.begin() + 1, block.begin() + 300);
    const Bytes inputs[] = {
        {}, {'a'}, bytes_of("ab"), bytes_of("abc"), bytes_of("abcabcabcabc"), Bytes(1000, 0), Bytes(259, 0xFF),
        bytes_of(TEXT), pseudo_random(5000, 1), pseudo_random(300000, 2), runs, far,
    };
    const struct {
        Worker pack, unpack;
    } framings[] = {{compress_deflate, compress_inflate}, {compress_zlib, compress_unzlib}, {compress_gzip, compress_gunzip}};
    for (const auto& f : framings) {
        for (const Bytes& in : inputs) {
            SCOPED_TRACE("input of " + std::to_string(in.size()) + " bytes");
            Result packed = run(f.pack, in);
            ASSERT_EQ(packed.status, CompressStatus::done);
            // One final block with the fixed codes, whatever the length.
            const size_t header = f.pack == compress_zlib ? 2 : f.pack == compress_gzip ? 10 : 0;
            EXPECT_EQ(packed.out[header] & 7, 3);
            Result unpacked = run(f.unpack, packed.out);
            ASSERT_EQ(unpacked.status, CompressStatus::done);
            EXPECT_TRUE(unpacked.out == in);
        }
    }
}

TEST(Deflate, CompressorOutputIsExact) {
    struct Case {
        Worker worker;
        std::string in;
        Bytes out;
    } cases[] = {
        {compress_zlib, "", {0x78, 0x01, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01}},
        {compress_gzip, "", {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}},
        {compress_deflate, "", {0x03, 0x00}},
        // Worked out by hand from the fixed codes (and decoded by Python's zlib):
        // the first three bytes are literals, then one match of 5 at distance 1.
        {compress_deflate, "aaaaaaaa", {0x4B, 0x4C, 0x4C, 0x04, 0x03, 0x00}},
        // A match of 6 at distance 3.
        {compress_deflate, "abcabcabc", {0x4B, 0x4C, 0x4A, 0x86, 0x20, 0x00}},
    };
    for (const Case& c : cases) {
        Result r = run(c.worker, bytes_of(c.in));
        EXPECT_EQ(r.status, CompressStatus::done);
        EXPECT_EQ(r.out, c.out) << c.in;
    }
}

TEST(Deflate, GzipCopiesInputThatStartsAsAGzipMember) {
    const Bytes once = run(compress_gzip, bytes_of(TEXT)).out;
    const Bytes magic = {0x1F, 0x8B, 0x08};
    for (const Bytes& in : {once, magic}) {
        Result again = run(compress_gzip, in);
        ASSERT_EQ(again.status, CompressStatus::done);
        EXPECT_EQ(again.out, in);
        // Too little room: nothing written, the input's length asked for.
        Bytes small(in.size() - 1, 0xAA);
        int32_t size = int32_t(small.size());
        EXPECT_EQ(compress_gzip(small.data(), &size, in.data(), in.size()), CompressStatus::too_small);
        EXPECT_EQ(size, int32_t(in.size()));
        EXPECT_EQ(small, Bytes(in.size() - 1, 0xAA));
    }
    // Only the whole three-byte signature counts: anything shorter or else is packed.
    for (const Bytes& in : {Bytes{0x1F, 0x8B}, Bytes{0x1F, 0x8B, 0x09, 0}, Bytes{0x1F, 0x8C, 0x08, 0}}) {
        Result r = run(compress_gzip, in);
        ASSERT_EQ(r.status, CompressStatus::done);
        EXPECT_GE(r.out.size(), in.size() + 18);
        EXPECT_EQ(run(compress_gunzip, r.out).out, in);
    }
}

// --- the buffer contract ----------------------------------------------------------------------

TEST(Deflate, NeverWritesPastTheCapacityAndReportsTheNeededSize) {
    const Bytes text = bytes_of(TEXT);
    const struct {
        Worker worker;
        Bytes in;
    } cases[] = {
        {compress_deflate, text}, {compress_zlib, text},   {compress_gzip, text},
        {compress_inflate, DYNAMIC_TEXT}, {compress_inflate, STORED_TEXT}, {compress_unzlib, run(compress_zlib, text).out},
        {compress_gunzip, GZIP_ALL_FIELDS},
    };
    for (const auto& c : cases) {
        const Result full = run(c.worker, c.in);
        ASSERT_EQ(full.status, CompressStatus::done);
        const int32_t n = int32_t(full.out.size());
        for (int32_t capacity : {18, n / 2, n - 1, n, n + 1}) {
            SCOPED_TRACE("capacity " + std::to_string(capacity) + " of " + std::to_string(n));
            Bytes out(size_t(capacity) + 64, 0xEE);
            int32_t size = capacity;
            const CompressStatus s = c.worker(out.data(), &size, c.in.data(), c.in.size());
            EXPECT_EQ(size, n);
            EXPECT_EQ(s, capacity < n ? CompressStatus::too_small : CompressStatus::done);
            for (size_t i = size_t(capacity); i < out.size(); i++) ASSERT_EQ(out[i], 0xEE) << "byte " << i;
            if (s == CompressStatus::done) EXPECT_TRUE(std::equal(full.out.begin(), full.out.end(), out.begin()));
        }
    }
}

TEST(Deflate, FramingsRefuseRoomBelowTheirMinimum) {
    uint8_t out[32];
    for (auto [worker, minimum] : {std::pair<Worker, int>{compress_zlib, 6}, std::pair<Worker, int>{compress_gzip, 18}}) {
        int32_t size = minimum - 1;
        EXPECT_EQ(worker(out, &size, out, 10), CompressStatus::bad_framing);
        EXPECT_EQ(size, 10 + minimum);
    }
}

// --- streams from other compressors -------------------------------------------------------------

TEST(Inflate, ReadsStreamsOfOtherCompressors) {
    for (const Bytes* stream : {&STORED_TEXT, &FIXED_TEXT, &DYNAMIC_TEXT}) {
        Result r = run(compress_inflate, *stream);
        EXPECT_EQ(r.status, CompressStatus::done);
        EXPECT_EQ(r.out, bytes_of(TEXT));
    }
    Result gz = run(compress_gunzip, GZIP_ALL_FIELDS);
    EXPECT_EQ(gz.status, CompressStatus::done);
    EXPECT_EQ(gz.out, bytes_of(TEXT));
    Result two = run(compress_inflate, TWO_BLOCKS);
    EXPECT_EQ(two.out, bytes_of("first part, second part."));
}

TEST(Inflate, StreamCutBetweenBlocksGivesWhatItHeld) {
    // Cut after the empty stored block of the flush, and before it: then the
    // last byte ends in the first block's last bits and zeros.
    for (size_t n : {TWO_BLOCKS_CUT, TWO_BLOCKS_CUT - 4}) {
        const Bytes cut(TWO_BLOCKS.begin(), TWO_BLOCKS.begin() + long(n));
        Result r = run(compress_inflate, cut);
        EXPECT_EQ(r.status, CompressStatus::done) << n;
        EXPECT_EQ(r.out, bytes_of("first part, ")) << n;
    }
}

TEST(Inflate, StreamCutInsideABlockIsTruncated) {
    // Missing bits must not be read as zeros: those would decode as more
    // symbols (seven zeros end a fixed block).
    for (const Bytes* stream : {&FIXED_TEXT, &DYNAMIC_TEXT, &STORED_TEXT, &TWO_BLOCKS}) {
        for (size_t n = 1; n < stream->size(); n++) {
            const Bytes cut(stream->begin(), stream->begin() + long(n));
            const Result r = run(compress_inflate, cut);
            // Only the first of the two blocks can end cleanly; what follows it
            // (an empty stored block) may be cut down to bits that are zeros.
            if (stream == &TWO_BLOCKS && n >= TWO_BLOCKS_CUT - 4 && r.status == CompressStatus::done) {
                EXPECT_EQ(r.out, bytes_of("first part, "));
                continue;
            }
            ASSERT_TRUE(r.status == CompressStatus::truncated || r.status == CompressStatus::stored_past_end)
                << "cut at " << n << " of " << stream->size() << ": status " << int(r.status);
        }
    }
}

// --- malformed input ----------------------------------------------------------------------------------

TEST(Inflate, MalformedStreamsGiveTheirStatus) {
    BitWriter far;  // a match before any output
    far.bits(0b011, 3);
    far.code(1, 7);  // length symbol 257
    far.code(0, 5);  // distance 1
    far.code(0, 7);
    BitWriter long_symbol;  // literal/length symbol 286 has a fixed code but no meaning
    long_symbol.bits(0b011, 3);
    long_symbol.code(0xC6, 8);
    long_symbol.code(0, 7);
    BitWriter far_symbol;  // distance symbol 30 likewise
    far_symbol.bits(0b011, 3);
    far_symbol.code(0x61 + 0x30, 8);
    far_symbol.code(1, 7);
    far_symbol.code(30, 5);
    far_symbol.code(0, 7);
    BitWriter oversubscribed;  // three literal codes of one bit
    Bytes three(257, 0);
    three['a'] = three['b'] = three[256] = 1;
    oversubscribed.dynamic_header(true, three, Bytes{1});
    oversubscribed.bits(0, 16);
    BitWriter repeat_first;  // "repeat the previous length" with nothing before it
    repeat_first.bits(0b101, 3);
    repeat_first.bits(0, 10);
    repeat_first.bits(0, 4);
    repeat_first.bits(1, 3);  // symbol 16: one bit
    repeat_first.bits(0, 3);
    repeat_first.bits(0, 3);
    repeat_first.bits(1, 3);  // symbol 0: one bit
    repeat_first.code(1, 1);  // 16 comes second in symbol order: code 1
    repeat_first.bits(0, 16);
    BitWriter no_end;  // a dynamic block whose end-of-block symbol has no code
    Bytes lit(257, 0);
    lit[0] = 1;
    lit[1] = 1;
    no_end.dynamic_header(true, lit, Bytes{1});
    no_end.bits(0, 16);
    // 257 + 1 lengths through a code-length code of two symbols: 18 (runs of
    // zeros) is 1, length 1 is 0. Zeros up to 255, then length 1 for the end
    // of block and for distance 0 make a valid empty block; a run of zeros in
    // place of the last length runs past the lengths.
    auto lengths_block = [](bool run_past) {
        BitWriter w;
        w.bits(0b101, 3);
        w.bits(0, 10);
        w.bits(18 - 4, 4);  // code-length code lengths down to that of length 1
        for (int i = 0; i < 18; i++) w.bits(i == 2 || i == 17 ? 1 : 0, 3);
        w.code(1, 1), w.bits(127, 7);  // 138 zeros
        w.code(1, 1), w.bits(107, 7);  // 118 zeros
        w.code(0, 1);
        if (run_past) w.code(1, 1), w.bits(0, 7);
        else w.code(0, 1);
        w.code(0, 1);  // end of block
        return w.bytes;
    };
    const struct {
        const char* name;
        Bytes in;
        CompressStatus status;
    } cases[] = {
        {"reserved block type", {0x07, 0x00}, CompressStatus::reserved_block},
        {"stored length past the input", {0x01, 0x05, 0x00, 0xFA, 0xFF, 'a', 'b'}, CompressStatus::stored_past_end},
        {"distance before the output", far.bytes, CompressStatus::distance_too_far},
        {"literal/length symbol 286", long_symbol.bytes, CompressStatus::bad_code},
        {"distance symbol 30", far_symbol.bytes, CompressStatus::bad_code},
        {"over-subscribed code", oversubscribed.bytes, CompressStatus::bad_code},
        {"repeat at the first length", repeat_first.bytes, CompressStatus::bad_code},
        {"no end-of-block code", no_end.bytes, CompressStatus::bad_code},
        {"lengths within the count", lengths_block(false), CompressStatus::done},
        {"lengths repeated past the end", lengths_block(true), CompressStatus::bad_code},
    };
    for (const auto& c : cases) EXPECT_EQ(run(compress_inflate, c.in).status, c.status) << c.name;
}

TEST(Inflate, FramingChecks) {
    const Bytes text = bytes_of(TEXT);
    const Bytes z = run(compress_zlib, text).out;
    const Bytes gz = GZIP_ALL_FIELDS;
    auto changed = [](Bytes b, size_t at, uint8_t value) {
        b[at] = value;
        return b;
    };
    auto inserted = [](Bytes b, size_t at, const Bytes& more) {
        b.insert(b.begin() + long(at), more.begin(), more.end());
        return b;
    };
    // Two members of the same text: the second's trailer even matches the
    // first's output, so taking only the first would pass every other check.
    Bytes two_members = gz;
    two_members.insert(two_members.end(), gz.begin(), gz.end());
    const struct {
        const char* name;
        Worker worker;
        Bytes in;
    } cases[] = {
        {"zlib: shorter than its framing", compress_unzlib, {0x78, 0x01, 0x03, 0x00, 0x00}},
        {"zlib: check bits", compress_unzlib, changed(z, 1, 0x02)},
        {"zlib: method other than 8", compress_unzlib, changed(changed(z, 0, 0x77), 1, 0x03)},
        {"zlib: preset dictionary", compress_unzlib, changed(z, 1, 0x20 | (31 - (0x7820 % 31)))},
        {"zlib: Adler-32", compress_unzlib, changed(z, z.size() - 1, z.back() ^ 1)},
        {"zlib: bytes between the data and the trailer", compress_unzlib, inserted(z, z.size() - 4, {0})},
        {"gzip: a second member", compress_gunzip, two_members},
        {"gzip: magic", compress_gunzip, changed(gz, 1, 0x8C)},
        {"gzip: method", compress_gunzip, changed(gz, 2, 7)},
        {"gzip: reserved flag", compress_gunzip, changed(gz, 3, gz[3] | 0x20)},
        {"gzip: header check", compress_gunzip, changed(gz, GZIP_HEADER_CHECK_AT, gz[GZIP_HEADER_CHECK_AT] ^ 1)},
        {"gzip: CRC-32", compress_gunzip, changed(gz, gz.size() - 8, gz[gz.size() - 8] ^ 1)},
        {"gzip: name runs to the trailer", compress_gunzip,
         Bytes{0x1F, 0x8B, 0x08, 0x08, 0, 0, 0, 0, 0, 3, 'a', 'b', 'c', 'd', 0, 0, 0, 0, 0, 0}},
        {"gzip: extra field runs to the trailer", compress_gunzip,
         Bytes{0x1F, 0x8B, 0x08, 0x04, 0, 0, 0, 0, 0, 3, 0x10, 0, 0x03, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}},
        {"gzip: extra field without room for its length", compress_gunzip,
         Bytes{0x1F, 0x8B, 0x08, 0x04, 0, 0, 0, 0, 0, 3, 0xE5, 0xF2, 0, 0, 0, 0, 0, 0}},
        {"gzip: shorter than its framing", compress_gunzip, Bytes(gz.begin(), gz.begin() + 17)},
    };
    for (const auto& c : cases) EXPECT_EQ(run(c.worker, c.in).status, CompressStatus::bad_framing) << c.name;
}

// The stated length of a gzip member sizes the output, so it is checked
// before it is trusted and must match what the data gives.
TEST(Inflate, GzipStatedLengthIsOnlyAHint) {
    const Bytes gz = run(compress_gzip, bytes_of(TEXT)).out;
    auto stated = [&](uint32_t n) {
        Bytes b = gz;
        for (int i = 0; i < 4; i++) b[b.size() - 4 + size_t(i)] = uint8_t(n >> (8 * i));
        return b;
    };
    const uint32_t n = uint32_t(TEXT.size());
    EXPECT_EQ(run(compress_gunzip, stated(0xFFFFFFF0u)).status, CompressStatus::too_large);
    EXPECT_EQ(run(compress_gunzip, stated(0x7FFFFFFFu)).status, CompressStatus::bad_framing);  // more than it can hold
    EXPECT_EQ(run(compress_gunzip, stated(n + 1)).status, CompressStatus::bad_framing);
    EXPECT_EQ(run(compress_gunzip, stated(n - 1)).status, CompressStatus::bad_framing);
    EXPECT_EQ(run(compress_gunzip, stated(n)).status, CompressStatus::done);
}

// A few megabytes that decode to more than a size cell can count: one
// literal, then matches of 258 at distance 1 of two bits each.
TEST(Inflate, OutputPastTwoGigabytesIsRefused) {
    BitWriter bomb;
    Bytes lit(286, 0);
    lit['a'] = 2;
    lit[256] = 2;
    lit[285] = 1;  // code 0; 'a' is 10, end of block 11
    bomb.dynamic_header(true, lit, Bytes{1});
    bomb.code(2, 2);
    const size_t matches = (size_t(1) << 31) / 258 + 1;
    bomb.bytes.resize(bomb.bytes.size() + matches * 2 / 8 + 1, 0);
    bomb.used = unsigned(bomb.bytes.size() * 8);
    bomb.code(3, 2);
    int32_t size = 0;
    EXPECT_EQ(compress_inflate(nullptr, &size, bomb.bytes.data(), bomb.bytes.size()), CompressStatus::too_large);
    EXPECT_EQ(size, int32_t(COMPRESS_MAX_OUTPUT));
}
