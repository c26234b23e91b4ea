#!/usr/bin/env python3
"""Kem's compress and decompress ('zlib) against Python's zlib at its default
level, on 10 MB of real text (Python's library sources) and 10 MB of real
binaries (the Python executable and shared libraries beside it).

    compress_vs_zlib.py KEM_ZPIPE

Each side runs in its own process and times only the call, over the same
file; the rounds alternate Kem and Python, and the best of five counts.
Kem decompresses its own output and Python its own; Kem decompressing
Python's output is shown as well, and for scale Python's fastest level (1),
whose size is nearer Kem's (one block of the fixed codes, greedy matches).
"""
import glob
import os
import subprocess
import sys
import tempfile
import zlib

ROUNDS = 5
SIZE = 10 << 20
PYTHON = os.path.realpath(sys.executable)
PY_TIMER = r"""
import sys, time, zlib
data = open(sys.argv[2], "rb").read()
start = time.perf_counter()
if sys.argv[1] == "decompress":
    out = zlib.decompress(data)
else:
    out = zlib.compress(data, int(sys.argv[1][len("compress"):] or -1))
took = time.perf_counter() - start
open(sys.argv[3], "wb").write(out)
print("%.6f" % took)
"""


def corpus(paths):
    out = bytearray()
    for path in paths:
        try:
            with open(path, "rb") as f:
                out += f.read()
        except OSError:
            continue
        if len(out) >= SIZE:
            return bytes(out[:SIZE])
    raise SystemExit("not enough data for the corpus")


def kem(zpipe, code, source, target):
    with open(source, "rb") as i, open(target, "wb") as o:
        run = subprocess.run([zpipe, "--time", code], stdin=i, stdout=o, stderr=subprocess.PIPE, check=True)
    return float(run.stderr.decode().split()[-1])


def python(action, source, target):
    run = subprocess.run([PYTHON, "-c", PY_TIMER, action, source, target], capture_output=True, check=True)
    return float(run.stdout.decode())


def main():
    zpipe = sys.argv[1]
    lib = os.path.dirname(os.__file__)
    sets = [
        ("text", corpus(sorted(glob.glob(os.path.join(lib, "**", "*.py"), recursive=True)))),
        ("binary", corpus([PYTHON] + sorted(glob.glob(os.path.join(os.path.dirname(lib), "*.so*"))) +
                          sorted(glob.glob("/usr/lib/x86_64-linux-gnu/*.so*")))),
    ]
    print("== compress/decompress of 10 MB, 'zlib against Python's zlib (level 6): best of %d, seconds" % ROUNDS)
    with tempfile.TemporaryDirectory() as tmp:
        f = lambda name: os.path.join(tmp, name)
        for name, data in sets:
            with open(f("data"), "wb") as out:
                out.write(data)
            best = {}
            for _ in range(ROUNDS):
                times = {
                    "kem compress": kem(zpipe, "compress data 'zlib", f("data"), f("kem.z")),
                    "py compress": python("compress", f("data"), f("py.z")),
                    "kem decompress": kem(zpipe, "decompress data 'zlib", f("kem.z"), f("kem.out")),
                    "py decompress": python("decompress", f("py.z"), f("py.out")),
                    "kem decompress py": kem(zpipe, "decompress data 'zlib", f("py.z"), f("kem.py.out")),
                    "py compress 1": python("compress1", f("data"), f("py1.z")),
                }
                for key, t in times.items():
                    best[key] = min(best.get(key, t), t)
            for out in ("kem.out", "py.out", "kem.py.out"):
                with open(f(out), "rb") as check:
                    assert check.read() == data, out
            kem_size, py_size = os.path.getsize(f("kem.z")), os.path.getsize(f("py.z"))
            print("%s: compress kem %.4f py %.4f (x%.2f) | decompress kem %.4f py %.4f (x%.2f) | "
                  "kem decompressing py's %.4f | size kem %d py %d (x%.2f) | py level 1: %.4f, %d bytes" % (
                      name, best["kem compress"], best["py compress"], best["kem compress"] / best["py compress"],
                      best["kem decompress"], best["py decompress"], best["kem decompress"] / best["py decompress"],
                      best["kem decompress py"], kem_size, py_size, kem_size / py_size, best["py compress 1"],
                      os.path.getsize(f("py1.z"))))


if __name__ == "__main__":
    main()
