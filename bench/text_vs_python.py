#!/usr/bin/env python3
"""Kem's sort of strings, split and the parse dialect against Python.

    text_vs_python.py KEM [OPERATION...]

Each operation runs in its own process over the same data, made here from a
fixed seed, and times only the call (the data already in memory): its first
call in the process, and the best of its next calls. Rounds alternate Kem and
Python; the best of five counts. The outputs' sizes are compared, so both
sides do the same work.

- sort: 200,000 words (lowercase letters, 3 to 14 of them) and 200,000 paths
  (a few folders deep, so that many share long beginnings), a copy sorted by
  `sort` (letter case aside) and `sort/case` against `sorted`;
- split: 10 MB of lines of words into lines and into words, by the library's
  `split` and by the same rule in the parse dialect, against `str.split`.
"""
import os
import random
import subprocess
import sys
import tempfile

ROUNDS = 5
REPEAT = 3  # calls in one process after the first
PYTHON = os.path.realpath(sys.executable)

# Each timer prints, per operation: the first call's seconds, the best later
# call's seconds and the size of the result.
KEM_TIMER = r"""Kem []
data: read/lines to-kem-file system/options/args/1
op: system/options/args/2
text: either find ["sort" "sort/case"] op [none] [read to-kem-file system/options/args/1]
run: switch op [
    "sort" [[sort copy data]]
    "sort/case" [[sort/case copy data]]
    "split-lines" [[split text newline]]
    "split-words" [[split text #" "]]
    "parse-lines" [[parse text [collect [any [keep copy piece to newline skip] keep copy piece to end]]]]
    "parse-words" [[parse text [collect [any [keep copy piece to #" " skip] keep copy piece to end]]]]
]
first: to float! dt [result: do run]
best: 1000.0
loop %d [best: min best to float! dt [do run]]
print [first best length? result]
""" % REPEAT

PY_TIMER = r"""
import sys, time
path, op = sys.argv[1], sys.argv[2]
text = open(path, encoding="utf-8", newline="").read()
data = text.split("\n")[:-1]
run = {
    "sort": lambda: sorted(data),
    "sort/case": lambda: sorted(data),
    "split-lines": lambda: text.split("\n"),
    "split-words": lambda: text.split(" "),
}[op.replace("parse", "split")]
start = time.perf_counter()
result = run()
first = time.perf_counter() - start
best = 1000.0
for _ in range(%d):
    start = time.perf_counter()
    run()
    best = min(best, time.perf_counter() - start)
print(first, best, len(result))
""" % REPEAT


def words(rng):
    letters = "abcdefghijklmnopqrstuvwxyz"
    return ["".join(rng.choice(letters) for _ in range(rng.randint(3, 14))) for _ in range(200000)]


def paths(rng):
    folders = ["usr", "lib", "share", "local", "src", "kem", "doc", "include", "bin", "python3"]
    out = []
    for _ in range(200000):
        depth = rng.randint(2, 5)
        parts = [rng.choice(folders) for _ in range(depth)]
        parts.append("file%d.txt" % rng.randrange(100000))
        out.append("/" + "/".join(parts))
    return out


def lines(rng):
    vocabulary = ["kem", "series", "block", "the", "a", "parse", "split", "value", "word", "of", "text",
                  "interpreter", "is", "quick", "and", "small"]
    out, size = [], 0
    while size < 10 << 20:
        line = " ".join(rng.choice(vocabulary) for _ in range(rng.randint(4, 16)))
        out.append(line)
        size += len(line) + 1
    return out


def run(cmd):
    out = subprocess.run(cmd, capture_output=True, check=True, text=True).stdout.split()
    return float(out[0]), float(out[1]), int(out[2])


def main():
    kem = sys.argv[1]
    only = set(sys.argv[2:])
    rng = random.Random(44)
    data = {"words": words(rng), "paths": paths(rng), "lines": lines(rng)}
    cases = [("words", "sort"), ("words", "sort/case"), ("paths", "sort"), ("paths", "sort/case"),
             ("lines", "split-lines"), ("lines", "split-words"), ("lines", "parse-lines"), ("lines", "parse-words")]
    files = {}
    with tempfile.TemporaryDirectory(prefix="kem-text-") as folder:
        kem_script = os.path.join(folder, "timer.kem")
        with open(kem_script, "w") as f:
            f.write(KEM_TIMER)
        for name, items in data.items():
            files[name] = os.path.join(folder, name + ".txt")
            with open(files[name], "w", encoding="utf-8", newline="") as f:
                f.write("\n".join(items) + "\n")
        print("== Text: sort of 200,000 strings, split and parse of 10 MB (seconds, best of %d processes;" % ROUNDS)
        print("   first call in the process | best of the next %d calls; ratio = Kem/Python)" % REPEAT)
        for name, op in cases:
            if only and op not in only:
                continue
            best = {"kem": [1e9, 1e9], "python": [1e9, 1e9]}
            sizes = {}
            for _ in range(ROUNDS):
                for who, cmd in (("kem", [kem, kem_script, files[name], op]),
                                 ("python", [PYTHON, "-c", PY_TIMER, files[name], op])):
                    first, later, size = run(cmd)
                    best[who] = [min(best[who][0], first), min(best[who][1], later)]
                    sizes[who] = size
            k, p = best["kem"], best["python"]
            note = "" if sizes["kem"] == sizes["python"] else "  (sizes differ: %s)" % sizes
            print("%-6s %-12s first: kem %.3f | python %.3f (x%.2f)   later: kem %.3f | python %.3f (x%.2f)%s"
                  % (name, op, k[0], p[0], k[0] / p[0], k[1], p[1], k[1] / p[1], note))


main()
