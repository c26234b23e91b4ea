// DEFLATE (RFC 1951) compression and decompression, and the zlib (RFC 1950)
// and gzip (RFC 1952) framings around it: the workers of the compress and
// decompress natives.
//
// Every operation fills a caller's buffer and never grows anything: it takes
// the output start and a size cell holding the capacity in bytes, and leaves
// in the cell the number of bytes the whole output needs, whether or not they
// fitted. Bytes beyond the capacity are never written. A null output with
// capacity 0 only counts.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kem {

enum class CompressStatus : int32_t {
    done = 0,              // the size cell holds the output length
    too_small = 1,         // the output did not fit; the size cell holds the length needed
    bad_framing = 2,       // bad header, check value or length; or a capacity below the framing's minimum
    stored_past_end = 3,   // a stored block's length runs past the end of the input
    reserved_block = 4,    // a block of the reserved type 3
    distance_too_far = 5,  // a distance reaches back before the start of the output
    truncated = 6,         // the input ends inside a block
    bad_code = 7,          // a Huffman code or code-length sequence that no valid stream holds
    too_large = 8,         // the output would pass 2^31 - 1 bytes
};

// The largest output any operation gives: the size cell is a signed 32-bit count.
constexpr uint64_t COMPRESS_MAX_OUTPUT = 0x7FFFFFFF;

// Compressors: one final block with the fixed Huffman codes, matches found
// greedily through a four-way hash table. zlib adds the header 78 01 and the
// Adler-32 of the input; gzip a 10-byte header and the CRC-32 and length of
// the input, and copies input that starts as a gzip member (1F 8B 08) as it is.
CompressStatus compress_deflate(uint8_t* out, int32_t* size, const uint8_t* in, size_t length);
CompressStatus compress_zlib(uint8_t* out, int32_t* size, const uint8_t* in, size_t length);
CompressStatus compress_gzip(uint8_t* out, int32_t* size, const uint8_t* in, size_t length);

// Decompressors: every block type. A raw stream that ends cleanly between
// blocks without a final block gives what it held; one that ends inside a
// block is truncated.
CompressStatus compress_inflate(uint8_t* out, int32_t* size, const uint8_t* in, size_t length);
// Checks the zlib header, inflates, and checks the Adler-32 of the output.
// The deflate data must end where the trailer starts, as in a gzip member:
// anything between would be data that is never given back.
CompressStatus compress_unzlib(uint8_t* out, int32_t* size, const uint8_t* in, size_t length);
// Checks the gzip header. A capacity below the length the trailer states
// answers too_small with that length without decoding (after checking that
// the stated length is one the data could give); otherwise inflates and checks
// the length and the CRC-32.
CompressStatus compress_gunzip(uint8_t* out, int32_t* size, const uint8_t* in, size_t length);

// Raw inflation for the framings: the output goes to out up to capacity, its
// full length to *out_length. With stop_when_full, decoding stops with
// too_small as soon as the output passes the capacity (*out_length is then
// only a lower bound). When used is given, it receives the input bytes the
// stream took up to its end.
CompressStatus inflate_raw(uint8_t* out, size_t capacity, uint64_t* out_length, const uint8_t* in, size_t length,
                           bool stop_when_full, size_t* used);

} // namespace kem
