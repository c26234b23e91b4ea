// Checksums and secure digests over byte ranges: CRC-32, Adler-32 and the
// internet checksum computed here, MD5 and the SHA family (and HMAC over them)
// from OpenSSL's libcrypto. The checksum native chooses among them; the gzip
// and zlib framings use CRC-32 and Adler-32.
#pragma once
#include <cstddef>
#include <cstdint>

namespace kem {

// CRC-32 of ISO 3309 / ITU-T V.42 (reflected polynomial 0xEDB88320); 0 for no
// bytes.
uint32_t checksum_crc32(const uint8_t* data, size_t length);
// Adler-32 of RFC 1950; 1 for no bytes.
uint32_t checksum_adler32(const uint8_t* data, size_t length);
// The internet checksum: the complement of the ones' complement sum of the
// big-endian 16-bit words. A final odd byte counts as the low byte of a word
// ("abc" sums 0x6162 + 0x63), which is what stored checksums were made with.
// 65535 for no bytes.
uint16_t checksum_tcp(const uint8_t* data, size_t length);

// The digest methods by index: 2 MD5, 3 SHA-1, 4 SHA-256, 5 SHA-384,
// 6 SHA-512 (0 and 1 are tcp and crc32, which are not digests).
constexpr int DIGEST_MD5 = 2;
constexpr int DIGEST_SHA512 = 6;
constexpr size_t DIGEST_MAX_SIZE = 64;

// Bytes of the digest of an index (16, 20, 32, 48, 64); 0 for any other.
size_t checksum_digest_size(int index);
// Writes the digest of the bytes (checksum_digest_size(index) bytes) to out.
// A failure inside the provider leaves zero bytes. Raises access cannot-open
// naming libcrypto when it cannot be opened (at the first digest). The index
// must be a digest index.
void checksum_digest(const uint8_t* data, size_t length, int index, uint8_t* out);
// HMAC of RFC 2104 over the digest of an index, keyed by key; writes
// checksum_digest_size(index) bytes to out. Raises as checksum_digest.
void checksum_hmac(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length, int index,
                   uint8_t* out);

} // namespace kem
