// Checksums and digests against outside oracles: Python's zlib, hashlib and
// hmac over pseudo-random data of many sizes (data/checksum_gen.py), and the
// HMAC test vectors of RFC 4231.
#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>
#include "runtime/io/checksum.h"

using namespace kem;

namespace {

// The generator of checksum_gen.py: xorshift32, one byte per step; seed 0
// gives bytes that are all 0xFF.
std::vector<uint8_t> stream(uint32_t seed, size_t n) {
    std::vector<uint8_t> out(n, 0xFF);
    if (seed == 0) return out;
    uint32_t x = seed;
    for (size_t i = 0; i < n; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        out[i] = uint8_t(x);
    }
    return out;
}

std::string hex(const uint8_t* p, size_t n) {
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (size_t i = 0; i < n; i++) {
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

std::string digest_hex(const std::vector<uint8_t>& data, int index) {
    uint8_t out[DIGEST_MAX_SIZE];
    checksum_digest(data.data(), data.size(), index, out);
    return hex(out, checksum_digest_size(index));
}

std::string hmac_hex(const std::vector<uint8_t>& data, const std::vector<uint8_t>& key, int index) {
    uint8_t out[DIGEST_MAX_SIZE];
    checksum_hmac(data.data(), data.size(), key.data(), key.size(), index, out);
    return hex(out, checksum_digest_size(index));
}

std::vector<uint8_t> bytes_of(const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); }

} // namespace

TEST(Checksum, MatchesPythonOracles) {
    std::ifstream in(std::filesystem::path(__FILE__).parent_path() / "data" / "checksum_cases.txt");
    ASSERT_TRUE(in) << "missing data/checksum_cases.txt";
    std::string line;
    int cases = 0;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        size_t size, key_size;
        uint32_t seed, crc, adler, tcp;
        fields >> size >> seed >> key_size >> crc >> adler >> tcp;
        const std::vector<uint8_t> data = stream(seed, size);
        const std::vector<uint8_t> key = seed ? stream(seed + 1, key_size) : std::vector<uint8_t>();
        SCOPED_TRACE("size " + std::to_string(size) + ", key " + std::to_string(key_size));
        EXPECT_EQ(checksum_crc32(data.data(), size), crc);
        EXPECT_EQ(checksum_adler32(data.data(), size), adler);
        EXPECT_EQ(checksum_tcp(data.data(), size), tcp);
        for (int index = DIGEST_MD5; index <= DIGEST_SHA512; index++) {
            std::string want;
            fields >> want;
            EXPECT_EQ(digest_hex(data, index), want) << "digest " << index;
        }
        for (int index = DIGEST_MD5; index <= DIGEST_SHA512; index++) {
            std::string want;
            fields >> want;
            EXPECT_EQ(hmac_hex(data, key, index), want) << "hmac " << index;
        }
        cases++;
    }
    EXPECT_GE(cases, 30);
}

TEST(Checksum, HmacRfc4231Vectors) {
    const std::vector<uint8_t> long_key(131, 0xAA);
    std::vector<uint8_t> counting_key;
    for (uint8_t b = 1; b <= 25; b++) counting_key.push_back(b);
    struct Vector {
        std::vector<uint8_t> key, data;
        const char* sha256;
        const char* sha384;
        const char* sha512;
    };
    const Vector vectors[] = {
        {std::vector<uint8_t>(20, 0x0B), bytes_of("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7",
         "afd03944d84895626b0825f4ab46907f15f9dadbe4101ec682aa034c7cebc59cfaea9ea9076ede7f4af152e8b2fa9cb6",
         "87aa7cdea5ef619d4ff0b4241a1d6cb02379f4e2ce4ec2787ad0b30545e17cdedaa833b7d6b8a702038b274eaea3f4e4be9d914eeb61f1"
         "702e696c203a126854"},
        {bytes_of("Jefe"), bytes_of("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843",
         "af45d2e376484031617f78d2b58a6b1b9c7ef464f5a01b47e42ec3736322445e8e2240ca5e69e2c78b3239ecfab21649",
         "164b7a7bfcf819e2e395fbe73b56e0a387bd64222e831fd610270cd7ea2505549758bf75c05a994a6d034f65f8f0e6fdcaeab1a34d4a6b"
         "4b636e070a38bce737"},
        {std::vector<uint8_t>(20, 0xAA), std::vector<uint8_t>(50, 0xDD),
         "773ea91e36800e46854db8ebd09181a72959098b3ef8c122d9635514ced565fe",
         "88062608d3e6ad8a0aa2ace014c8a86f0aa635d947ac9febe83ef4e55966144b2a5ab39dc13814b94e3ab6e101a34f27",
         "fa73b0089d56a284efb0f0756c890be9b1b5dbdd8ee81a3655f83e33b2279d39bf3e848279a722c806b485a47e67c807b946a337bee894"
         "2674278859e13292fb"},
        {counting_key, std::vector<uint8_t>(50, 0xCD),
         "82558a389a443c0ea4cc819899f2083a85f0faa3e578f8077a2e3ff46729665b",
         "3e8a69b7783c25851933ab6290af6ca77a9981480850009cc5577c6e1f573b4e6801dd23c4a7d679ccf8a386c674cffb",
         "b0ba465637458c6990e5a8c5f61d4af7e576d97ff94b872de76f8050361ee3dba91ca5c11aa25eb4d679275cc5788063a5f19741120c4f"
         "2de2adebeb10a298dd"},
        {long_key, bytes_of("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54",
         "4ece084485813e9088d2c63a041bc5b44f9ef1012a2b588f3cd11f05033ac4c60c2ef6ab4030fe8296248df163f44952",
         "80b24263c7c1a3ebb71493c1dd7be8b49b46d1f41b4aeec1121b013783f8f3526b56d037e05f2598bd0fd2215d6a1e5295e64f73f63f0a"
         "ec8b915a985d786598"},
        {long_key,
         bytes_of("This is a test using a larger than block-size key and a larger than block-size data. The key needs "
                  "to be hashed before being used by the HMAC algorithm."),
         "9b09ffa71b942fcb27635fbcd5b0e944bfdc63644f0713938a7f51535c3a35e2",
         "6617178e941f020d351e2f254e8fd32c602420feb0b8fb9adccebb82461e99c5a678cc31e799176d3860e6110c46523e",
         "e37b6a775dc87dbaa4dfa9f96e5e3ffddebd71f8867289865df5a32d20cdc944b6022cac3c4982b10d5eeb55c3e4de15134676fb6de044"
         "6065c97440fa8c6a58"},
    };
    int n = 1;
    for (const Vector& v : vectors) {
        SCOPED_TRACE("vector " + std::to_string(n++));
        EXPECT_EQ(hmac_hex(v.data, v.key, 4), v.sha256);
        EXPECT_EQ(hmac_hex(v.data, v.key, 5), v.sha384);
        EXPECT_EQ(hmac_hex(v.data, v.key, 6), v.sha512);
    }
}
