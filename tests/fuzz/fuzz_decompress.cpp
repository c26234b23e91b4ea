// libFuzzer target: decompression of arbitrary bytes as raw DEFLATE, zlib and
// gzip, the way the decompress native drives it (a pass that only counts,
// then a buffer of the size it gave), and once into a buffer that is too
// small. Whatever the input, a run must end with a status, give the counted
// length when it fills the buffer, never write past the room it was given,
// and what it gives must compress and decompress back to itself.
#include <cstddef>
#include <cstdint>
#include <vector>
#include "runtime/io/compress.h"

using namespace kem;

namespace {

using Worker = CompressStatus (*)(uint8_t*, int32_t*, const uint8_t*, size_t);

constexpr uint8_t GUARD = 0xA5;
constexpr int32_t LARGEST_FILL = 1 << 24;  // keeps each run fast; counting has no bound

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void round_trip(Worker pack, Worker unpack, const std::vector<uint8_t>& data) {
    int32_t size = int32_t(data.size()) + 32;
    std::vector<uint8_t> packed(static_cast<size_t>(size));
    CompressStatus s = pack(packed.data(), &size, data.data(), data.size());
    if (s == CompressStatus::too_small) {
        packed.resize(size_t(size));
        s = pack(packed.data(), &size, data.data(), data.size());
    }
    check(s == CompressStatus::done);
    packed.resize(size_t(size));
    int32_t n = int32_t(data.size());
    std::vector<uint8_t> back(data.size() + 1);
    check(unpack(back.data(), &n, packed.data(), packed.size()) == CompressStatus::done);
    check(n == int32_t(data.size()) && std::equal(data.begin(), data.end(), back.begin()));
}

void run(Worker worker, Worker pack, const uint8_t* in, size_t length) {
    int32_t needed = 0;
    CompressStatus s = worker(nullptr, &needed, in, length);
    check(int(s) >= 0 && int(s) <= 8 && needed >= 0);
    if ((s != CompressStatus::done && s != CompressStatus::too_small) || needed > LARGEST_FILL) return;

    std::vector<uint8_t> out(size_t(needed) + 16, GUARD);
    int32_t size = needed;
    s = worker(out.data(), &size, in, length);
    for (size_t i = size_t(needed); i < out.size(); i++) check(out[i] == GUARD);
    if (s != CompressStatus::done) return;
    check(size == needed);
    out.resize(size_t(size));

    // Too little room: the same answer about the size, nothing written past it.
    if (needed > 0) {
        std::vector<uint8_t> small(size_t(needed / 2) + 16, GUARD);
        int32_t room = needed / 2;
        const CompressStatus t = worker(small.data(), &room, in, length);
        check(t == CompressStatus::too_small && room == needed);
        for (size_t i = size_t(needed / 2); i < small.size(); i++) check(small[i] == GUARD);
    }
    round_trip(pack, worker, out);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 16) return 0;
    run(compress_inflate, compress_deflate, data, size);
    run(compress_unzlib, compress_zlib, data, size);
    run(compress_gunzip, compress_gzip, data, size);
    return 0;
}
