#!/usr/bin/env python3
"""Writes checksum_cases.txt beside this script: the checksums and digests of
pseudo-random byte strings of many sizes, computed by Python's zlib, hashlib
and hmac, the oracle for the checksum functions.

The bytes are not stored: case n's data is `size` bytes and its HMAC key
`key_size` bytes of the generator below, seeded with `seed` and `seed + 1`,
which the C++ test repeats; seed 0 stands for bytes that are all 0xFF.

One case per line, fields separated by spaces:
  size seed key_size crc32 adler32 tcp md5 sha1 sha256 sha384 sha512
  hmac-md5 hmac-sha1 hmac-sha256 hmac-sha384 hmac-sha512
(integers in decimal, digests in lower-case hexadecimal).

    python3 tests/unit/data/checksum_gen.py
"""
import hashlib
import hmac
import os
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


def stream(seed, n):
    """xorshift32, one byte (the low eight bits) per step."""
    x = seed & 0xFFFFFFFF or 1
    out = bytearray(n)
    for i in range(n):
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out[i] = x & 0xFF
    return bytes(out)


def internet_checksum(data):
    """Big-endian 16-bit words summed without bound, a final odd byte as the
    low byte of a word, the carries folded back in, the complement."""
    total = sum((data[i] << 8) | data[i + 1] for i in range(0, len(data) - 1, 2))
    if len(data) % 2:
        total += data[-1]
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    return ~total & 0xFFFF


# Sizes around the blocks of the algorithms (8-byte CRC steps, Adler-32 runs
# of 5552, digest blocks of 64 and 128) and past 64 KiB, where a 32-bit
# internet-checksum sum of 0xFFFF words overflows.
SIZES = [0, 1, 2, 3, 7, 8, 9, 15, 16, 17, 55, 56, 63, 64, 65, 111, 112, 127, 128, 129, 1000,
         3854, 3855, 5552, 5553, 11104, 65535, 65536, 65537, 100000, 131073, 1 << 20]
KEY_SIZES = [0, 1, 16, 20, 63, 64, 65, 127, 128, 129, 200]
METHODS = ["md5", "sha1", "sha256", "sha384", "sha512"]


def main():
    lines = []
    for i, size in enumerate(SIZES):
        seed = 1000 + 7 * i
        key_size = KEY_SIZES[i % len(KEY_SIZES)]
        data = stream(seed, size)
        key = stream(seed + 1, key_size)
        fields = [size, seed, key_size, zlib.crc32(data), zlib.adler32(data), internet_checksum(data)]
        fields += [hashlib.new(m, data).hexdigest() for m in METHODS]
        fields += [hmac.new(key, data, m).hexdigest() for m in METHODS]
        lines.append(" ".join(str(f) for f in fields))
    # 128 KiB of 0xFF: every word is 0xFFFF, the sum passes 2^31 half way.
    ones = b"\xff" * 131072
    lines.append(" ".join(str(f) for f in [131072, 0, 0, zlib.crc32(ones), zlib.adler32(ones), internet_checksum(ones)]
                          + [hashlib.new(m, ones).hexdigest() for m in METHODS]
                          + [hmac.new(b"", ones, m).hexdigest() for m in METHODS]))
    with open(os.path.join(HERE, "checksum_cases.txt"), "w") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
