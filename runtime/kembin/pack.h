// The boot-data packer: a small LZ77 compressor with a bit-level token format,
// for packed boot data and for KEMBIN data flagged as compressed.
//
// Packed data: an 8-byte header (the packed stream size in bytes after the
// header, then the unpacked size, both little-endian), then independent blocks
// of at most 1 MB, each a 4-byte unpacked size and a bit stream of tokens
// (bits least significant first) ending on a byte boundary.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kem::pack {

constexpr uint32_t HEADER_BYTES = 8;
constexpr uint32_t BLOCK_MAX = 1048576;
constexpr uint32_t WINDOW = 262144;
constexpr uint32_t MIN_MATCH = 3;
constexpr uint32_t MAX_MATCH = 566;
constexpr uint32_t MIN_INPUT = 128;

// Packs size bytes into dst, which must hold size bytes: the result may not be
// larger than its input. Returns the packed size (header included), or -1 for
// input shorter than MIN_INPUT bytes or input that does not shrink.
int64_t pack(const uint8_t* src, uint32_t size, uint8_t* dst);

// Unpacks packed data of which `available` bytes may be read into out (its old
// content replaced). False, with out emptied, when the data is corrupt: sizes
// that disagree with each other or with the bytes available, a block size of
// 0 or above BLOCK_MAX, a match reaching before its block or past its end, a
// read past the packed stream. The unpacked size is trusted only as far as
// the packed stream could have produced it.
bool unpack(const uint8_t* data, size_t available, std::vector<uint8_t>& out);

} // namespace kem::pack
