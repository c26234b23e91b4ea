#!/usr/bin/env python3
"""Kem's JSON and CSV codecs against Python's json and csv modules, both ways.

    codecs_interop.py KEM_ZPIPE

JSON: random nested data (Unicode from every plane, control characters,
surrogate pairs, big and small numbers) written by json.dumps in its several
forms must read in Kem, and what Kem writes back (compact, /pretty, /ascii)
must read in Python as the same data. CSV: rows with quotes, delimiters and
line breaks inside fields written by csv.writer must read in Kem, and what
Kem writes must read in csv.reader as the same rows.
"""
import csv
import io
import json
import random
import subprocess
import sys

ZPIPE = sys.argv[1]
failures = []
rng = random.Random(26)


def kem(code, text):
    run = subprocess.run([ZPIPE, code], input=text.encode("utf-8"), capture_output=True)
    if run.returncode != 0:
        raise RuntimeError("%s: %s" % (code, run.stderr.decode().strip()))
    return run.stdout.decode("utf-8")


def check(name, got, want):
    if got != want:
        failures.append("%s:\n  got  %r\n  want %r" % (name, got, want)[:2000])


def random_char():
    pick = rng.random()
    if pick < 0.5:
        return chr(rng.randrange(32, 127))
    if pick < 0.6:
        return chr(rng.randrange(0, 32))
    if pick < 0.8:
        return chr(rng.randrange(0xA0, 0xD800))
    if pick < 0.9:
        return chr(rng.randrange(0xE000, 0x10000))
    return chr(rng.randrange(0x10000, 0x110000))


def random_text(n=8):
    return "".join(random_char() for _ in range(rng.randrange(n)))


def random_number():
    pick = rng.randrange(6)
    if pick == 0:
        return rng.randrange(-2**31, 2**31)
    if pick == 1:
        return rng.randrange(-2**52, 2**52)  # beyond 32 bits: a float in Kem, still exact
    if pick == 2:
        return rng.uniform(-1, 1) * 10 ** rng.randrange(-320, 308)
    if pick == 3:
        return rng.choice([0.0, -0.0, 5e-324, 1.7976931348623157e308, 0.1, 1e-7, 1e17])
    return rng.randrange(-1000, 1000) / 8


def random_value(depth=0):
    pick = rng.randrange(9 if depth < 4 else 5)
    if pick == 0:
        return rng.choice([True, False, None])
    if pick in (1, 2):
        return random_number()
    if pick in (3, 4):
        return random_text()
    if pick in (5, 6):
        return [random_value(depth + 1) for _ in range(rng.randrange(5))]
    # Map keys compare without regard to case in Kem: keep them apart that way.
    keys = {}
    for _ in range(rng.randrange(5)):
        key = rng.choice([random_text(6), "k" + str(rng.randrange(100)), "a b", "1a", ""])
        keys.setdefault(key.casefold(), key)
    return {k: random_value(depth + 1) for k in keys.values()}


def json_side():
    docs = [random_value() for _ in range(150)]
    docs += [{"name": "x", "list": [1, 2.5, None, True]}, "\U0001F600", [], {}, 0, -0.0, "\u2028"]
    dumpers = [
        lambda d: json.dumps(d),
        lambda d: json.dumps(d, ensure_ascii=False),
        lambda d: json.dumps(d, indent=2),
        lambda d: json.dumps(d, indent="\t", separators=(",", " : ")),
    ]
    # One Kem run for many documents: one per line in, one per line out.
    for n, dump in enumerate(dumpers):
        text = "".join(json.dumps(dump(d)) + "\n" for d in docs)  # each document as a JSON string
        for code, name in [
            ("to-json collect [foreach t load-json rejoin [{[} replace/all to string! data newline {,} {null]}] [unless none? t [keep to-json load-json t]]]", "compact"),
            ("to-json collect [foreach t load-json rejoin [{[} replace/all to string! data newline {,} {null]}] [unless none? t [keep to-json/ascii load-json t]]]", "ascii"),
            ("to-json collect [foreach t load-json rejoin [{[} replace/all to string! data newline {,} {null]}] [unless none? t [keep to-json/pretty load-json t {  }]]]", "pretty"),
        ]:
            out = json.loads(kem(code, text))
            check("count %d %s" % (n, name), len(out), len(docs))
            for i, (doc, back) in enumerate(zip(docs, out)):
                if name == "ascii" and not back.isascii():
                    failures.append("ascii output not ASCII: %r" % back)
                check("json %d/%s/%d" % (n, name, i), json.loads(back), doc)


def csv_side():
    def field():
        pick = rng.randrange(6)
        if pick == 0:
            return ""
        if pick == 1:
            return rng.choice(['"', '""', ",", "a,b", "x\ny", "x\r\ny", "\r", " s ", "é😀", "'q'"])
        return "".join(rng.choice('ab ,"\n\r\té😀') for _ in range(rng.randrange(6)))

    for width in (2, 3, 7):
        rows = [[field() for _ in range(width)] for _ in range(60)]
        for terminator in ("\r\n", "\n"):
            if terminator == "\n":
                # Python leaves a lone CR unquoted then, which no reader can tell from a line end.
                rows = [[f.replace("\r", "") for f in row] for row in rows]
            buf = io.StringIO()
            csv.writer(buf, lineterminator=terminator).writerows(rows)
            out = kem("to-csv load-csv to string! data", buf.getvalue())
            check("csv %d %r" % (width, terminator), list(csv.reader(io.StringIO(out, newline=""))), rows)
        buf = io.StringIO()
        csv.writer(buf, delimiter=";", quotechar="'").writerows(rows)
        out = kem("to-csv/with/quote load-csv/with/quote to string! data #\";\" #\"'\" #\";\" #\"'\"", buf.getvalue())
        check("csv ; ' %d" % width, list(csv.reader(io.StringIO(out, newline=""), delimiter=";", quotechar="'")), rows)


json_side()
csv_side()
if failures:
    print("\n".join(failures[:20]))
    print("%d failures" % len(failures))
    sys.exit(1)
print("JSON and CSV agree with Python both ways")
