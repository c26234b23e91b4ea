#!/usr/bin/env python3
"""Writes base_16.txt, base_64.txt and base_58.txt beside this script: random
byte strings with their encodings, the oracle for the binary! codecs.

One case per line: the bytes in hexadecimal ("-" when empty), a space, then
the encoded text ("-" when empty):
  base_16.txt  base64.b16encode (upper-case digits)
  base_64.txt  base64.b64encode (standard alphabet, "=" padding)
  base_58.txt  the bytes as one big-endian number written in the 58-letter
               alphabet, one "1" in front per leading zero byte (Python's own
               integers do the arithmetic)

    python3 tests/unit/data/base_gen.py
"""
import base64
import os
import random

rng = random.Random(20261121)
HERE = os.path.dirname(os.path.abspath(__file__))
ALPHABET58 = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz"


def samples():
    out = [b"", b"\x00", b"\xff", b"\x00\x00\x01", b"\x00\x00", b"\x00\xff", b"\xff" * 40]
    for n in range(1, 70):
        out.append(bytes(rng.randrange(256) for _ in range(n)))
    for n in (97, 128, 255, 256, 257, 600):
        out.append(bytes(rng.randrange(256) for _ in range(n)))
    # Leading zero bytes matter to base 58; runs of equal bytes to the others.
    for _ in range(20):
        zeros = rng.randrange(1, 5)
        out.append(b"\x00" * zeros + bytes(rng.randrange(256) for _ in range(rng.randrange(0, 12))))
    return out


def b58(data):
    zeros = len(data) - len(data.lstrip(b"\x00"))
    n = int.from_bytes(data, "big")
    digits = ""
    while n:
        n, r = divmod(n, 58)
        digits = ALPHABET58[r] + digits
    return "1" * zeros + digits


def write(name, encode):
    with open(os.path.join(HERE, name), "w") as f:
        for data in samples_list:
            text = encode(data)
            f.write("%s %s\n" % (data.hex().upper() or "-", text or "-"))


samples_list = samples()
write("base_16.txt", lambda d: base64.b16encode(d).decode())
write("base_64.txt", lambda d: base64.b64encode(d).decode())
write("base_58.txt", b58)
