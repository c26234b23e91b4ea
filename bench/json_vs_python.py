#!/usr/bin/env python3
"""Kem's load-json and to-json against Python's json on 20 MB of JSON.

    json_vs_python.py KEM_ZPIPE

The data: nested objects, arrays, strings (some with escapes and non-ASCII
letters), integers, floats and literals, made from a fixed seed. Each side
runs in its own process over the same text and times only the call: reading
text that is already in memory as a string, and writing the value read.
Rounds alternate Kem and Python; the best of five counts.
"""
import json
import os
import random
import subprocess
import sys
import tempfile

ROUNDS = 5
SIZE = 20 << 20
PYTHON = os.path.realpath(sys.executable)
PY_TIMER = r"""
import json, sys, time
text = open(sys.argv[1], "rb").read().decode("utf-8")
start = time.perf_counter()
value = json.loads(text)
read = time.perf_counter() - start
start = time.perf_counter()
out = json.dumps(value, separators=(",", ":"), ensure_ascii=False)
write = time.perf_counter() - start
print("%.6f %.6f" % (read, write))
"""
KEM_TIMER = "t: to string! data r: dt [v: load-json t] w: dt [to-json v] rejoin [to float! r { } to float! w]"


def document():
    rng = random.Random(20)

    def value(depth):
        pick = rng.randrange(10 if depth < 3 else 6)
        if pick < 2:
            return rng.randrange(-10**6, 10**6)
        if pick < 3:
            return rng.random() * 1000
        if pick < 5:
            return "".join(rng.choice("abcdefghij klmné\"\\") for _ in range(rng.randrange(20)))
        if pick < 6:
            return rng.choice([True, False, None])
        if pick < 8:
            return [value(depth + 1) for _ in range(rng.randrange(8))]
        return {"key%d" % rng.randrange(50): value(depth + 1) for _ in range(rng.randrange(8))}

    docs, size = [], 0
    while size < SIZE:
        docs.append(value(0))
        size += len(json.dumps(docs[-1])) + 2
    return json.dumps(docs, ensure_ascii=False)


def main():
    zpipe = sys.argv[1]
    with tempfile.NamedTemporaryFile(suffix=".json", delete=False) as f:
        f.write(document().encode("utf-8"))
        path = f.name
    try:
        best = {"kem": [1e9, 1e9], "python": [1e9, 1e9]}
        for _ in range(ROUNDS):
            with open(path, "rb") as i:
                out = subprocess.run([zpipe, KEM_TIMER], stdin=i, capture_output=True, check=True).stdout.decode()
            times = [float(t) for t in out.split()]
            best["kem"] = [min(a, b) for a, b in zip(best["kem"], times)]
            out = subprocess.run([PYTHON, "-c", PY_TIMER, path], capture_output=True, check=True).stdout.decode()
            times = [float(t) for t in out.split()]
            best["python"] = [min(a, b) for a, b in zip(best["python"], times)]
        print("== JSON: 20 MB read and written (seconds, best of %d; ratio = Kem/Python)" % ROUNDS)
        for n, what in enumerate(["load-json", "to-json"]):
            k, p = best["kem"][n], best["python"][n]
            print("%s: kem %.3f | python %.3f (x%.2f)" % (what, k, p, k / p))
    finally:
        os.unlink(path)


main()
