// The boot-data packer: the token format built by hand, what pack makes of
// known input, round trips, refusals and corrupt streams.
#include <gtest/gtest.h>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>
#include "runtime/kembin/pack.h"

using kem::pack::pack;
using kem::pack::unpack;

namespace {

using Bytes = std::vector<uint8_t>;

// Packed data written token by token from the format's description, apart
// from the packer's own code.
class Stream {
public:
    void block(uint32_t size) {
        for (int i = 0; i < 4; i++) body_.push_back(uint8_t(size >> (8 * i)));
        total_ += size;
    }
    void literal(uint8_t b) {
        bits(0, 1);
        bits(b, 8);
    }
    void match(uint32_t length, uint32_t distance) {
        bits(1, 1);
        static const struct { uint32_t first, prefix_len, extra; } rows[] = {
            {3, 1, 2}, {7, 2, 2}, {11, 3, 2}, {15, 4, 3}, {23, 5, 5}, {55, 5, 9}};
        for (const auto& r : rows) {
            if (length >= r.first && length < r.first + (1u << r.extra)) {
                // The prefix: zeros, then a 1 (none in the last row).
                for (uint32_t i = 1; i < r.prefix_len; i++) bits(0, 1);
                if (r.first != 55) bits(1, 1);
                else bits(0, 1);
                bits(length - r.first, r.extra);
                break;
            }
        }
        const uint32_t d = distance - 1;
        uint32_t k = 2;
        while (d >= (2u << k)) k++;
        bits(k - 2, 4);
        bits(k == 2 ? d : d - (1u << k), k == 2 ? 3 : k);
    }
    void end_block() {
        bits(0, 7);
        acc_ = 0;
        count_ = 0;
    }
    // The packed data; `claimed` replaces the unpacked size the blocks add up to.
    Bytes data(std::optional<uint32_t> claimed = std::nullopt) const {
        Bytes out;
        const uint32_t stream = uint32_t(body_.size());
        const uint32_t total = claimed.value_or(total_);
        for (int i = 0; i < 4; i++) out.push_back(uint8_t(stream >> (8 * i)));
        for (int i = 0; i < 4; i++) out.push_back(uint8_t(total >> (8 * i)));
        out.insert(out.end(), body_.begin(), body_.end());
        return out;
    }

private:
    void bits(uint32_t v, uint32_t n) {
        for (uint32_t i = 0; i < n; i++) {
            acc_ |= ((v >> i) & 1) << count_;
            if (++count_ == 8) {
                body_.push_back(uint8_t(acc_));
                acc_ = 0;
                count_ = 0;
            }
        }
    }
    Bytes body_;
    uint32_t acc_ = 0, count_ = 0, total_ = 0;
};

Bytes packed(const Bytes& in) {
    Bytes out(in.size());
    const int64_t n = pack(in.data(), uint32_t(in.size()), out.data());
    out.resize(n < 0 ? 0 : size_t(n));
    return out;
}

// Text with enough repetition to shrink and enough variety to exercise the
// hash chains: words drawn by a fixed pseudo-random sequence.
Bytes words(size_t n) {
    static const char* const vocabulary[] = {"block ", "string ", "word ", "context ", "value ", "series ",
                                             "append ", "[", "]", "\n", "func ", "none ", "12345 ", "x: "};
    Bytes out;
    uint32_t seed = 12345;
    while (out.size() < n) {
        seed = seed * 1103515245 + 12345;
        const std::string w = vocabulary[(seed >> 16) % 14];
        out.insert(out.end(), w.begin(), w.end());
    }
    out.resize(n);
    return out;
}

Bytes noise(size_t n) {
    Bytes out(n);
    uint64_t x = 88172645463325252ull;
    for (auto& b : out) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = uint8_t(x);
    }
    return out;
}

} // namespace

TEST(Pack, AByteRunIsALiteralAndOneOverlappingMatch) {
    const Bytes run(200, 'A');
    Stream s;
    s.block(200);
    s.literal('A');
    s.match(199, 1);
    s.end_block();
    EXPECT_EQ(packed(run), s.data());
    Bytes out;
    ASSERT_TRUE(unpack(s.data().data(), s.data().size(), out));
    EXPECT_EQ(out, run);
}

TEST(Pack, EveryLengthRowAndDistanceClassUnpacks) {
    // Each length: one literal, then a match repeating it.
    for (uint32_t length : {3u, 6u, 7u, 10u, 11u, 14u, 15u, 22u, 23u, 54u, 55u, 566u}) {
        Stream s;
        s.block(1 + length);
        s.literal('z');
        s.match(length, 1);
        s.end_block();
        Bytes out;
        ASSERT_TRUE(unpack(s.data().data(), s.data().size(), out)) << length;
        EXPECT_EQ(out, Bytes(1 + length, 'z')) << length;
    }
    // Each distance: that many literals, then three bytes copied from that far back.
    for (uint32_t distance : {1u, 2u, 8u, 9u, 16u, 17u, 300u, 65536u, 262144u}) {
        Bytes want = noise(distance);
        Stream s;
        s.block(distance + 3);
        for (uint8_t b : want) s.literal(b);
        s.match(3, distance);
        s.end_block();
        for (int i = 0; i < 3; i++) want.push_back(want[want.size() - distance]);
        Bytes out;
        ASSERT_TRUE(unpack(s.data().data(), s.data().size(), out)) << distance;
        EXPECT_EQ(out, want) << distance;
    }
}

TEST(Pack, RoundTripsAndBlockBoundaries) {
    for (size_t n : {size_t(128), size_t(5000), size_t(1048576), size_t(1048577), size_t(2500000)}) {
        const Bytes in = words(n);
        const Bytes p = packed(in);
        ASSERT_FALSE(p.empty()) << n;
        if (n > 128) EXPECT_LT(p.size(), in.size() / 2) << n;
        // The header: stream size, then the whole unpacked size; the first block is at most 1 MB.
        EXPECT_EQ(p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24, p.size() - 8) << n;
        EXPECT_EQ(p[4] | p[5] << 8 | p[6] << 16 | uint32_t(p[7]) << 24, n) << n;
        EXPECT_EQ(p[8] | p[9] << 8 | p[10] << 16 | uint32_t(p[11]) << 24, std::min<size_t>(n, 1048576)) << n;
        Bytes out;
        ASSERT_TRUE(unpack(p.data(), p.size(), out)) << n;
        EXPECT_EQ(out, in) << n;
    }
    // One byte past a block: the last block is that byte alone, a literal in two bytes.
    const Bytes p = packed(words(1048577));
    EXPECT_EQ(Bytes(p.end() - 6, p.end() - 2), (Bytes{1, 0, 0, 0}));
}

TEST(Pack, ShortOrIncompressibleInputIsRefused) {
    Bytes out(4096);
    EXPECT_EQ(pack(words(127).data(), 127, out.data()), -1);
    EXPECT_GT(pack(words(128).data(), 128, out.data()), 0);
    EXPECT_EQ(pack(noise(4096).data(), 4096, out.data()), -1);
}

TEST(Pack, CorruptDataUnpacksToNothing) {
    auto literal_block = [](uint32_t size, int literals) {
        Stream s;
        s.block(size);
        for (int i = 0; i < literals; i++) s.literal(uint8_t('a' + i));
        s.end_block();
        return s;
    };
    Stream far;  // a match reaching before its block
    far.block(2);
    far.literal('a');
    far.match(3, 2);
    far.end_block();
    Stream past;  // a match running past its block's end
    past.block(3);
    past.literal('a');
    past.match(3, 1);
    past.end_block();
    Stream second;  // a second block may not reach into the first
    second.block(1);
    second.literal('a');
    second.end_block();
    second.block(3);
    second.match(3, 1);
    second.end_block();
    Stream zero;
    zero.block(0);
    Stream huge;
    huge.block(1048577);
    huge.literal('a');

    Bytes good = literal_block(3, 3).data();
    Bytes longer_claim = good;
    longer_claim[0]++;  // stream size beyond the bytes available
    const struct {
        const char* what;
        Bytes data;
    } cases[] = {
        {"no header", Bytes{1, 0, 0}},
        {"stream beyond the data", longer_claim},
        {"more unpacked than the blocks give", literal_block(3, 3).data(4)},
        {"less unpacked than the blocks give", literal_block(3, 3).data(2)},
        {"a block cut short", literal_block(4, 3).data()},
        {"a block of 0", zero.data()},
        {"a block above 1 MB", huge.data()},
        {"a distance before the block", far.data()},
        {"a match past the block", past.data()},
        {"a match into the block before", second.data()},
        {"an absurd unpacked size", literal_block(3, 3).data(0xFFFFFFFF)},
    };
    Bytes out;
    ASSERT_TRUE(unpack(good.data(), good.size(), out));
    EXPECT_EQ(out, (Bytes{'a', 'b', 'c'}));
    for (const auto& c : cases) {
        out.assign(5, 1);
        EXPECT_FALSE(unpack(c.data.data(), c.data.size(), out)) << c.what;
        EXPECT_TRUE(out.empty()) << c.what;
    }
    // Every prefix of good data is refused, never read past.
    const Bytes p = packed(words(3000));
    for (size_t n = 0; n < p.size(); n++) {
        const Bytes cut(p.begin(), p.begin() + long(n));
        EXPECT_FALSE(unpack(cut.data(), cut.size(), out)) << n;
    }
}
