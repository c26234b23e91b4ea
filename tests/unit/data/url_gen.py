#!/usr/bin/env python3
"""Writes url_cases.txt: percent-encoding cases with Python's urllib.parse as
the oracle for url_encode and url_decode.

One case per line, texts as the hexadecimal of their UTF-8 bytes ("-" when empty):
  enc MODE INPUT OUTPUT   quote(INPUT) with the safe characters of MODE:
                          254 nothing beyond the unreserved set, 255 the URL text set
  dec INPUT OUTPUT        unquote(INPUT)

Decoding cases are kept only where unquote succeeds with errors='strict': every
escaped byte of 0x80 and above then belongs to a complete, well-formed escaped
UTF-8 sequence, the one place where Python and the runtime must agree (they
differ on purpose for lone escaped bytes of 0x80 and above, which Python
replaces with U+FFFD; the unit tests cover those).

    python3 tests/unit/data/url_gen.py > tests/unit/data/url_cases.txt
"""
import random
from urllib.parse import quote, unquote

rng = random.Random(20261110)

SAFE = {254: "", 255: "!#$&'()*+,/:=?@"}

ASCII_SPECIAL = " \"%;<>[\\]^`{|}!#$&'()*+,/:=?@-._~\t\n\x00\x7f"


def random_char():
    kind = rng.randrange(10)
    if kind < 3:
        return rng.choice("abcXYZ0189")
    if kind < 6:
        return rng.choice(ASCII_SPECIAL)
    if kind == 6:
        return chr(rng.randrange(0x80, 0x800))
    if kind == 7:
        while True:
            cp = rng.randrange(0x800, 0x10000)
            if not 0xD800 <= cp <= 0xDFFF:
                return chr(cp)
    if kind == 8:
        return chr(rng.randrange(0x10000, 0x110000))
    return chr(rng.randrange(0x01, 0x20))


def random_text(n):
    return "".join(random_char() for _ in range(n))


def escape(ch, lower):
    out = "".join("%%%02X" % b for b in ch.encode("utf-8"))
    return out.lower() if lower else out


def random_encoded(n):
    """Plain characters, escapes of whole characters and malformed escapes."""
    pieces = []
    for _ in range(n):
        kind = rng.randrange(8)
        if kind < 3:
            pieces.append(random_char())
        elif kind < 6:
            pieces.append(escape(random_char(), rng.randrange(2) == 0))
        elif kind == 6:
            pieces.append(rng.choice(["%", "%4", "%G1", "%%", "%\u00e9", "%4\u00e9", "%zz", "%%41"]))
        else:
            pieces.append(rng.choice("0123456789abcdefABCDEF"))
    return "".join(pieces)


def hexa(text):
    data = text.encode("utf-8")
    return data.hex().upper() if data else "-"


def main():
    fixed = ["", "a b", "\u00e9", "/", "%", ";[]", "a%20b", "~-._", "\U0001F600", "\x00"]
    for text in fixed + [random_text(rng.randrange(0, 16)) for _ in range(400)]:
        for mode in (254, 255):
            print("enc", mode, hexa(text), hexa(quote(text, safe=SAFE[mode])))

    fixed_dec = ["", "a%20b", "%C3%A9", "%c3%a9", "%E2%82%AC", "%F0%9F%98%80", "%G1", "%4", "%", "100%",
                 "%25", "%2F", "a%2fb", "%%41", "%\u00e9"]
    kept = 0
    for text in fixed_dec + [random_encoded(rng.randrange(0, 12)) for _ in range(2000)]:
        try:
            expected = unquote(text, errors="strict")
        except UnicodeDecodeError:
            continue
        print("dec", hexa(text), hexa(expected))
        kept += 1
        if kept >= 600:
            break


if __name__ == "__main__":
    main()
