#!/usr/bin/env python3
"""Kem's compress and decompress against Python's zlib and gzip, both ways.

    deflate_interop.py KEM_ZPIPE

Kem's raw, zlib and gzip output must decompress in Python to what was given
(but data that is a gzip member already, which Kem's gzip gives back as it
is), and Python's (every level, several strategies, flushed streams of many blocks,
gzip headers with a name) in Kem. The data: empty, one byte, random bytes,
real text (Python's own library sources), a real binary (the Python
executable), and 10 MB of the three mixed.
"""
import glob
import gzip
import io
import os
import random
import subprocess
import sys
import zlib

ZPIPE = sys.argv[1]
failures = []


def kem(code, data):
    run = subprocess.run([ZPIPE, code], input=data, capture_output=True)
    if run.returncode != 0:
        raise RuntimeError("%s: %s" % (code, run.stderr.decode().strip()))
    return run.stdout


def check(name, got, want):
    if got != want:
        failures.append("%s: %d bytes, want %d" % (name, len(got), len(want)))


def real_text(n):
    out = bytearray()
    for path in sorted(glob.glob(os.path.join(os.path.dirname(os.__file__), "*.py"))):
        with open(path, "rb") as f:
            out += f.read()
        if len(out) >= n:
            break
    return bytes(out[:n])


def real_binary(n):
    with open(os.path.realpath(sys.executable), "rb") as f:
        return f.read(n)


def python_compress(method, data, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, flushes=0):
    """Python's stream of the method; with flushes, the data goes in that many
    pieces, each ended by a full flush (so the stream has many blocks)."""
    wbits = {"deflate": -15, "zlib": 15, "gzip": 31}[method]
    c = zlib.compressobj(level, zlib.DEFLATED, wbits, 8, strategy)
    if not flushes:
        return c.compress(data) + c.flush()
    step = max(1, len(data) // (flushes + 1))
    out = b"".join(c.compress(data[i:i + step]) + c.flush(zlib.Z_FULL_FLUSH) for i in range(0, len(data), step))
    return out + c.flush()


def python_decompress(method, data):
    if method == "gzip":
        return gzip.decompress(data)
    return zlib.decompress(data, -15 if method == "deflate" else 15)


def main():
    rng = random.Random(23)
    text = real_text(1 << 20)
    binary = real_binary(1 << 20)
    noise = rng.randbytes(100000)
    mixed = bytearray()
    while len(mixed) < 10 << 20:
        mixed += text[:rng.randrange(1, len(text))] + binary[:rng.randrange(1, len(binary))] + noise
    mixed = bytes(mixed[:10 << 20])
    data_sets = [("empty", b""), ("one byte", b"\x8b"), ("gzip magic", b"\x1f\x8b\x08rest"), ("random", noise),
                 ("text", text), ("binary", binary), ("10 MB", mixed)]
    python_ways = [("zlib", dict()), ("deflate", dict(level=1)), ("deflate", dict(level=9, flushes=7)),
                   ("zlib", dict(level=0)), ("gzip", dict(strategy=zlib.Z_FIXED)),
                   ("zlib", dict(strategy=zlib.Z_HUFFMAN_ONLY)), ("deflate", dict(strategy=zlib.Z_RLE))]
    for name, data in data_sets:
        for method in ("deflate", "zlib", "gzip"):
            packed = kem("compress data '%s" % method, data)
            if method == "gzip" and data.startswith(b"\x1f\x8b\x08"):
                # What starts as a gzip member already is given back as it is.
                check("%s: Kem %s copies it" % (name, method), packed, data)
            else:
                check("%s: Kem %s -> Python" % (name, method), python_decompress(method, packed), data)
        ways = python_ways if len(data) < (4 << 20) else python_ways[:1]
        for method, options in ways:
            packed = python_compress(method, data, **options)
            check("%s: Python %s %s -> Kem" % (name, method, options), kem("decompress data '%s" % method, packed), data)
    # A gzip member that names its file, and a stated size as a first guess.
    buffer = io.BytesIO()
    with gzip.GzipFile(filename="named.txt", mode="wb", fileobj=buffer, mtime=1234567890) as f:
        f.write(text)
    check("gzip with a file name -> Kem", kem("decompress data 'gzip", buffer.getvalue()), text)
    check("gzip with a file name, packed again by Kem", kem("compress data 'gzip", buffer.getvalue()), buffer.getvalue())
    packed = zlib.compress(text)
    for size in (10, len(text) - 1, len(text), len(text) + 1000):
        check("zlib /size %d -> Kem" % size, kem("decompress/size data 'zlib %d" % size, packed), text)
    for failure in failures:
        print("FAIL", failure)
    print("%d failures" % len(failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
