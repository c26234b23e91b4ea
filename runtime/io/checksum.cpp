// CRC-32, Adler-32, the internet checksum, and the digests through OpenSSL.
#include "runtime/io/checksum.h"
#include <emmintrin.h>
#include <openssl/evp.h>
#include <cstring>
#include "runtime/core/errors.h"
#include "runtime/datatypes/string.h"
#include "runtime/platform/shared_library.h"

namespace kem {

// --- CRC-32 ----------------------------------------------------------------------------

namespace {

// Eight tables: table[0] is the classic byte table; table[k][n] is the CRC of
// byte n followed by k zero bytes, so eight bytes fold in one step.
struct Crc32Tables {
    uint32_t t[8][256];
    Crc32Tables() {
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = n;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][n] = c;
        }
        for (uint32_t n = 0; n < 256; n++)
            for (int k = 1; k < 8; k++) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    }
};

const Crc32Tables& crc32_tables() {
    static const Crc32Tables tables;
    return tables;
}

inline uint32_t load_le32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);  // the target is little-endian
    return v;
}

} // namespace

uint32_t checksum_crc32(const uint8_t* data, size_t length) {
    const auto& t = crc32_tables().t;
    uint32_t c = 0xFFFFFFFFu;
    while (length >= 8) {
        const uint32_t lo = load_le32(data) ^ c;
        const uint32_t hi = load_le32(data + 4);
        c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
            t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
        data += 8;
        length -= 8;
    }
    while (length--) c = (c >> 8) ^ t[0][(c ^ *data++) & 0xFF];
    return ~c;
}

// --- Adler-32 ---------------------------------------------------------------------------

uint32_t checksum_adler32(const uint8_t* data, size_t length) {
    constexpr uint32_t BASE = 65521;
    // The longest run whose sums cannot pass 2^32 before they are reduced;
    // a multiple of 16.
    constexpr size_t RUN = 5552;
    uint64_t s1 = 1, s2 = 0;
    // Sixteen bytes at a time: byte i of a chunk adds (16 - i) times itself to
    // s2, and each earlier chunk's sum adds 16 times itself per chunk after it.
    const __m128i zero = _mm_setzero_si128();
    const __m128i weights_low = _mm_setr_epi16(16, 15, 14, 13, 12, 11, 10, 9);
    const __m128i weights_high = _mm_setr_epi16(8, 7, 6, 5, 4, 3, 2, 1);
    while (length > 0) {
        size_t n = length < RUN ? length : RUN;
        length -= n;
        const size_t chunks = n / 16;
        if (chunks) {
            __m128i sums = zero, earlier = zero, weighted = zero;
            for (size_t c = 0; c < chunks; c++) {
                const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * c));
                earlier = _mm_add_epi32(earlier, sums);
                sums = _mm_add_epi32(sums, _mm_sad_epu8(v, zero));
                weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpacklo_epi8(v, zero), weights_low));
                weighted = _mm_add_epi32(weighted, _mm_madd_epi16(_mm_unpackhi_epi8(v, zero), weights_high));
            }
            uint32_t a[4], b[4], w[4];
            _mm_storeu_si128(reinterpret_cast<__m128i*>(a), sums);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(b), earlier);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(w), weighted);
            s2 += 16 * chunks * s1 + 16 * (uint64_t(b[0]) + b[2]) + (uint64_t(w[0]) + w[1] + w[2] + w[3]);
            s1 += uint64_t(a[0]) + a[2];
            data += 16 * chunks;
            n -= 16 * chunks;
        }
        while (n--) {
            s1 += *data++;
            s2 += s1;
        }
        s1 %= BASE;
        s2 %= BASE;
    }
    return uint32_t(s2 << 16 | s1);
}

// --- internet checksum --------------------------------------------------------------------

uint16_t checksum_tcp(const uint8_t* data, size_t length) {
    // A 64-bit sum cannot overflow for any input a series can hold; the carries
    // are folded back in at the end, as the ones' complement sum requires.
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += uint32_t(data[i]) << 8 | data[i + 1];
    if (i < length) sum += data[i];
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return uint16_t(~sum & 0xFFFF);
}

// --- digests ----------------------------------------------------------------------------------

namespace {

// libcrypto, opened at the first digest.
#define CRYPTO_FUNCTIONS(F)                                                                                  \
    F(EVP_md5) F(EVP_sha1) F(EVP_sha256) F(EVP_sha384) F(EVP_sha512) F(EVP_MD_CTX_new) F(EVP_MD_CTX_free)    \
    F(EVP_DigestInit_ex) F(EVP_DigestUpdate) F(EVP_DigestFinal_ex)
KEM_LIBRARY_FUNCTIONS(crypto, CRYPTO_FUNCTIONS)
platform::SharedLibrary libcrypto(KEM_LIBCRYPTO, crypto_symbols);

void need_libcrypto() {
    if (libcrypto.ready()) return;
    Cell name;
    string_make_utf8(&name, libcrypto.file());
    fire(Err::access_cannot_open, name);
}

const EVP_MD* digest_md(int index) {
    switch (index) {
    case 2: return EVP_md5();
    case 3: return EVP_sha1();
    case 4: return EVP_sha256();
    case 5: return EVP_sha384();
    case 6: return EVP_sha512();
    default: return nullptr;
    }
}

// The digest of two byte ranges one after the other.
void digest_two(const EVP_MD* md, const uint8_t* a, size_t a_length, const uint8_t* b, size_t b_length,
                uint8_t* out, size_t size) {
    std::memset(out, 0, size);
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    if (!ctx) return;
    unsigned int n = 0;
    uint8_t value[EVP_MAX_MD_SIZE];
    if (EVP_DigestInit_ex(ctx, md, nullptr) && EVP_DigestUpdate(ctx, a, a_length) &&
        EVP_DigestUpdate(ctx, b, b_length) && EVP_DigestFinal_ex(ctx, value, &n) && n == size)
        std::memcpy(out, value, size);
    EVP_MD_CTX_free(ctx);
}

} // namespace

size_t checksum_digest_size(int index) {
    switch (index) {
    case 2: return 16;
    case 3: return 20;
    case 4: return 32;
    case 5: return 48;
    case 6: return 64;
    default: return 0;
    }
}

void checksum_digest(const uint8_t* data, size_t length, int index, uint8_t* out) {
    need_libcrypto();
    digest_two(digest_md(index), data, length, nullptr, 0, out, checksum_digest_size(index));
}

void checksum_hmac(const uint8_t* data, size_t length, const uint8_t* key, size_t key_length, int index,
                   uint8_t* out) {
    need_libcrypto();
    const EVP_MD* md = digest_md(index);
    const size_t size = checksum_digest_size(index);
    const size_t block = index >= 5 ? 128 : 64;
    uint8_t hashed_key[DIGEST_MAX_SIZE];
    if (key_length > block) {
        checksum_digest(key, key_length, index, hashed_key);
        key = hashed_key;
        key_length = size;
    }
    uint8_t inner_pad[128] = {}, outer_pad[128] = {};
    if (key_length) {
        std::memcpy(inner_pad, key, key_length);
        std::memcpy(outer_pad, key, key_length);
    }
    for (size_t i = 0; i < block; i++) {
        inner_pad[i] ^= 0x36;
        outer_pad[i] ^= 0x5C;
    }
    uint8_t inner[DIGEST_MAX_SIZE];
    digest_two(md, inner_pad, block, data, length, inner, size);
    digest_two(md, outer_pad, block, inner, size, out, size);
}

} // namespace kem
