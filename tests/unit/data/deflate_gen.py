#!/usr/bin/env python3
"""Writes deflate_fixtures.inc beside this script: streams made by Python's
zlib, with what they hold, for the decompressor's tests.

    python3 tests/unit/data/deflate_gen.py
"""
import gzip
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

TEXT = (b"It was the best of times, it was the worst of times, it was the age of "
        b"wisdom, it was the age of foolishness, it was the epoch of belief, it was "
        b"the epoch of incredulity, it was the season of Light, it was the season of "
        b"Darkness, it was the spring of hope, it was the winter of despair. ") * 3


def raw(level=6, strategy=zlib.Z_DEFAULT_STRATEGY):
    return zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)


def c_bytes(name, data):
    body = ", ".join("0x%02X" % b for b in data)
    return "const std::vector<uint8_t> %s = {%s};\n" % (name, body)


def main():
    out = ["// Made by data/deflate_gen.py (Python's zlib); do not edit.\n"]
    # Two blocks: the first ends at a full flush, so cutting the stream there
    # leaves a clean stream that never reached its final block.
    c = raw()
    first = c.compress(b"first part, ") + c.flush(zlib.Z_FULL_FLUSH)
    second = c.compress(b"second part.") + c.flush()
    out.append(c_bytes("TWO_BLOCKS", first + second))
    out.append("const size_t TWO_BLOCKS_CUT = %d;\n" % len(first))
    # Stored, fixed-code and dynamic-code blocks, and a stream of many blocks.
    for name, comp in [("STORED_TEXT", raw(0)), ("FIXED_TEXT", raw(6, zlib.Z_FIXED)),
                       ("DYNAMIC_TEXT", raw(9))]:
        data = comp.compress(TEXT) + comp.flush()
        assert zlib.decompress(data, -15) == TEXT
        out.append(c_bytes(name, data))
    # A gzip member with every optional header field: extra, name, comment
    # and the header check.
    body = raw()
    deflated = body.compress(TEXT) + body.flush()
    header = bytearray(b"\x1f\x8b\x08\x1e" + struct.pack("<I", 1234567) + b"\x02\x03")
    header += struct.pack("<H", 4) + b"AB\x00\x01" + b"name.txt\x00" + b"a comment\x00"
    header += struct.pack("<H", zlib.crc32(bytes(header)) & 0xFFFF)
    member = bytes(header) + deflated + struct.pack("<II", zlib.crc32(TEXT), len(TEXT))
    assert gzip.decompress(member) == TEXT
    out.append(c_bytes("GZIP_ALL_FIELDS", member))
    out.append("const size_t GZIP_HEADER_CHECK_AT = %d;\n" % (len(header) - 2))
    out.append("const std::string TEXT = \"%s\";\n" % TEXT.decode())
    with open(os.path.join(HERE, "deflate_fixtures.inc"), "w") as f:
        f.write("".join(out))


if __name__ == "__main__":
    main()
