#!/usr/bin/env python3
"""Writes unicode_utf8_cases.txt: byte strings with their fate under Python's
strict UTF-8 codec, the oracle for the runtime's UTF-8 decoders.

One case per line: the bytes in hexadecimal ("-" when empty), then
  ok  CP CP ...   valid; the decoded code points in hexadecimal ("-" when none)
  bad OFFSET      invalid sequence starting at byte OFFSET
  cut OFFSET      the input ends inside a sequence that starts at OFFSET

With --replace it writes unicode_utf8_replace.txt instead: the same byte
strings, each with the code points of Python's "replace" decoding ("-" when
none), the oracle for the decoder that never refuses text.

    python3 tests/unit/data/unicode_utf8_gen.py > tests/unit/data/unicode_utf8_cases.txt
    python3 tests/unit/data/unicode_utf8_gen.py --replace > tests/unit/data/unicode_utf8_replace.txt
"""
import sys
import random

rng = random.Random(20261209)

# Byte ranges that the decoder treats differently, so random strings meet every
# lead, every continuation sub-range and the bytes never allowed.
GROUPS = [
    (0x00, 0x7F), (0x0A, 0x0D), (0x80, 0x8F), (0x90, 0x9F), (0xA0, 0xBF),
    (0xC0, 0xC1), (0xC2, 0xDF), (0xE0, 0xE0), (0xE1, 0xEC), (0xED, 0xED),
    (0xEE, 0xEF), (0xF0, 0xF0), (0xF1, 0xF3), (0xF4, 0xF4), (0xF5, 0xFF),
]

FIXED = [
    "", "41", "C3A9", "E282AC", "F09F9880", "EFBBBF", "EFBBBF41",
    "C0AF", "C1BF", "E080AF", "E09FBF", "E0A080", "F08080AF", "F08FBFBF", "F0908080",
    "EDA080", "EDBFBF", "ED9FBF", "EDB080", "EEB080",
    "F48FBFBF", "F4908080", "F5808080", "F8888080", "FF", "80", "BF",
    "C3", "E282", "F09F98", "E241", "F490", "EDA0", "E080", "C2C2", "41C3",
    "7F", "C280", "DFBF", "E0A0", "EFBFBF", "F0909080", "F3BFBFBF",
]


def random_valid_char():
    plane = rng.random()
    if plane < 0.3:
        cp = rng.randrange(0x80, 0x800)
    elif plane < 0.7:
        cp = rng.randrange(0x800, 0x10000)
    else:
        cp = rng.randrange(0x10000, 0x110000)
    if 0xD800 <= cp <= 0xDFFF:
        cp = 0xFFFD
    return chr(cp).encode("utf-8")


def random_case():
    out = bytearray()
    for _ in range(rng.randrange(0, 7)):
        r = rng.random()
        if r < 0.6:
            out += random_valid_char()
        elif r < 0.85:
            out.append(rng.randrange(0x20, 0x7F))
        else:
            lo, hi = rng.choice(GROUPS)
            out.append(rng.randint(lo, hi))
    return bytes(out)


def describe(data):
    try:
        text = data.decode("utf-8", "strict")
    except UnicodeDecodeError as e:
        kind = "cut" if e.reason == "unexpected end of data" else "bad"
        return f"{kind} {e.start}"
    return "ok " + (" ".join(f"{ord(c):X}" for c in text) or "-")


def replaced(data):
    text = data.decode("utf-8", "replace")
    return " ".join(f"{ord(c):X}" for c in text) or "-"


def main():
    cases = [bytes.fromhex(h) for h in FIXED]
    seen = set(cases)
    while len(cases) < 3000:
        data = random_case()
        if data not in seen:
            seen.add(data)
            cases.append(data)
    replace = sys.argv[1:] == ["--replace"]
    for data in cases:
        print(f"{data.hex().upper() or '-'} {replaced(data) if replace else describe(data)}")


if __name__ == "__main__":
    main()
