// The zlib and gzip framings around raw DEFLATE data.
#include <algorithm>
#include "runtime/io/checksum.h"
#include "runtime/io/compress.h"

namespace kem {

namespace {

constexpr size_t ZLIB_FRAMING = 6;   // 2-byte header, 4-byte Adler-32
constexpr size_t GZIP_HEADER = 10;
constexpr size_t GZIP_FRAMING = 18;  // header, CRC-32 and length
// The most one input byte of DEFLATE data can give: four matches of 258
// bytes, each taking at least one bit for its length and one for its distance.
constexpr uint64_t MAX_EXPANSION = 1032;

inline uint32_t read_be32(const uint8_t* p) { return uint32_t(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3]; }
inline uint32_t read_le32(const uint8_t* p) { return uint32_t(p[3]) << 24 | p[2] << 16 | p[1] << 8 | p[0]; }
inline uint32_t read_le16(const uint8_t* p) { return uint32_t(p[1]) << 8 | p[0]; }

// Writes bytes at out + at as far as the capacity allows.
void put_bytes(uint8_t* out, size_t capacity, size_t at, const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n && at + i < capacity; i++) out[at + i] = bytes[i];
}

// Raw data between a header and a trailer of the given sizes; the size cell
// gets the whole length. Status too_small when the data or the trailer does
// not fit.
CompressStatus deflate_framed(uint8_t* out, int32_t* size, const uint8_t* in, size_t length, size_t header,
                              size_t trailer) {
    const size_t capacity = size_t(*size);
    int32_t room = int32_t(capacity - header - trailer);
    CompressStatus s = compress_deflate(out + header, &room, in, length);
    const uint64_t total = uint64_t(room) + header + trailer;
    if (s == CompressStatus::too_large || total > COMPRESS_MAX_OUTPUT) {
        *size = int32_t(COMPRESS_MAX_OUTPUT);
        return CompressStatus::too_large;
    }
    *size = int32_t(total);
    return total > capacity ? CompressStatus::too_small : CompressStatus::done;
}

} // namespace

CompressStatus compress_zlib(uint8_t* out, int32_t* size, const uint8_t* in, size_t length) {
    if (!out || *size < int32_t(ZLIB_FRAMING)) {
        *size = int32_t(std::min<uint64_t>(length + ZLIB_FRAMING, COMPRESS_MAX_OUTPUT));
        return CompressStatus::bad_framing;
    }
    const size_t capacity = size_t(*size);
    out[0] = 0x78;
    out[1] = 0x01;
    CompressStatus s = deflate_framed(out, size, in, length, 2, 4);
    if (s != CompressStatus::done) return s;
    const uint32_t adler = checksum_adler32(in, length);
    const uint8_t trailer[4] = {uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8), uint8_t(adler)};
    put_bytes(out, capacity, size_t(*size) - 4, trailer, 4);
    return s;
}

CompressStatus compress_gzip(uint8_t* out, int32_t* size, const uint8_t* in, size_t length) {
    // Input that is a gzip member already is given back as it is.
    if (length > 2 && in[0] == 0x1F && in[1] == 0x8B && in[2] == 0x08) {
        if (length > COMPRESS_MAX_OUTPUT) {
            *size = int32_t(COMPRESS_MAX_OUTPUT);
            return CompressStatus::too_large;
        }
        const size_t capacity = out ? size_t(std::max(*size, 0)) : 0;
        *size = int32_t(length);
        if (capacity < length) return CompressStatus::too_small;
        std::copy(in, in + length, out);
        return CompressStatus::done;
    }
    if (!out || *size < int32_t(GZIP_FRAMING)) {
        *size = int32_t(std::min<uint64_t>(length + GZIP_FRAMING, COMPRESS_MAX_OUTPUT));
        return CompressStatus::bad_framing;
    }
    const size_t capacity = size_t(*size);
    static const uint8_t header[GZIP_HEADER] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 0x04, 0x04};
    put_bytes(out, capacity, 0, header, GZIP_HEADER);
    CompressStatus s = deflate_framed(out, size, in, length, GZIP_HEADER, 8);
    if (s != CompressStatus::done) return s;
    const uint32_t crc = checksum_crc32(in, length), n = uint32_t(length);
    const uint8_t trailer[8] = {uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16), uint8_t(crc >> 24),
                                uint8_t(n),   uint8_t(n >> 8),   uint8_t(n >> 16),   uint8_t(n >> 24)};
    put_bytes(out, capacity, size_t(*size) - 8, trailer, 8);
    return s;
}

CompressStatus compress_unzlib(uint8_t* out, int32_t* size, const uint8_t* in, size_t length) {
    if (length < ZLIB_FRAMING) return CompressStatus::bad_framing;
    const uint32_t cmf = in[0], flags = in[1];
    // Method 8 (deflate), a window of at most 32 KB, no preset dictionary, and
    // the check bits that make the pair a multiple of 31.
    if ((cmf << 8 | flags) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flags & 0x20))
        return CompressStatus::bad_framing;
    uint64_t n = 0;
    size_t used = 0;
    const CompressStatus s =
        inflate_raw(out, size_t(std::max(*size, 0)), &n, in + 2, length - ZLIB_FRAMING, false, &used);
    *size = int32_t(std::min(n, COMPRESS_MAX_OUTPUT));
    if (s != CompressStatus::done) return s;
    if (used != length - ZLIB_FRAMING) return CompressStatus::bad_framing;
    if (checksum_adler32(out, size_t(n)) != read_be32(in + length - 4)) return CompressStatus::bad_framing;
    return s;
}

CompressStatus compress_gunzip(uint8_t* out, int32_t* size, const uint8_t* in, size_t length) {
    if (length < GZIP_FRAMING || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || (in[3] & 0xE0))
        return CompressStatus::bad_framing;
    const uint32_t flags = in[3];
    const size_t data_end = length - 8;
    size_t at = GZIP_HEADER;
    if (flags & 4) {  // extra field
        if (data_end - at < 2) return CompressStatus::bad_framing;
        const size_t extra = read_le16(in + at);
        if (extra > data_end - at - 2) return CompressStatus::bad_framing;
        at += 2 + extra;
    }
    for (uint32_t flag : {8u, 16u}) {  // file name, then comment: zero-terminated
        if (!(flags & flag)) continue;
        while (at < data_end && in[at]) at++;
        if (at >= data_end) return CompressStatus::bad_framing;
        at++;
    }
    if (flags & 2) {  // header check: the low half of the CRC-32 of the header so far
        if (data_end - at < 2) return CompressStatus::bad_framing;
        if (read_le16(in + at) != (checksum_crc32(in, at) & 0xFFFF)) return CompressStatus::bad_framing;
        at += 2;
    }

    // The stated length is only a hint until the data proves it: it must be
    // one the data could give and fit a size cell.
    const uint32_t expected = read_le32(in + length - 4);
    if (expected > COMPRESS_MAX_OUTPUT) return CompressStatus::too_large;
    if (expected > uint64_t(data_end - at) * MAX_EXPANSION) return CompressStatus::bad_framing;
    if (*size < int32_t(expected)) {
        *size = int32_t(expected);
        return CompressStatus::too_small;
    }
    uint64_t n = 0;
    size_t used = 0;
    const CompressStatus s = inflate_raw(out, expected, &n, in + at, data_end - at, true, &used);
    *size = int32_t(std::min(n, COMPRESS_MAX_OUTPUT));
    // More output than stated is as wrong as less. Data after the end of the
    // deflate stream (a second member, say) would be lost without a word.
    if (s == CompressStatus::too_small) return CompressStatus::bad_framing;
    if (s != CompressStatus::done) return s;
    if (n != expected || used != data_end - at) return CompressStatus::bad_framing;
    if (checksum_crc32(out, size_t(n)) != read_le32(in + length - 8)) return CompressStatus::bad_framing;
    return s;
}

} // namespace kem
