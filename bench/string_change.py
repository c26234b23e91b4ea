#!/usr/bin/env python3
"""How change and replace/all on strings grow with the string's length.

    string_change.py KEM

Each case runs at a length N and at 10 N, in its own process, timing only the
work (not the start-up or the making of the text); the rounds alternate the
two lengths and the best of five counts. Printed: both times and their ratio.
- change: 200,000 one-character changes in the middle of the text. Their cost
  does not depend on the length, so the ratio stays near 1 (text of 1 and of
  4 bytes a character).
- change/part, one character by two: each moves the text after it once, so
  the ratio is near 10.
- replace/all of "-" by "<>" (text one third dashes) and of "-" by "=": linear
  work, a ratio near 10.
"""
import os
import subprocess
import sys
import tempfile

ROUNDS = 5
# Each case: its name, the length N, the code that makes the text `s` of
# length n, and the timed code.
CASES = [
    ("change, 1 byte a character", 1_000_000, 'append/dup copy "" "a" n', 'p: at s n / 2 loop 200000 [change p "x"]'),
    ("change, 4 bytes a character", 1_000_000, 'append/dup copy "^(1F600)" "a" n - 1',
     'p: at s n / 2 loop 200000 [change p "x"]'),
    ("change/part, 1 by 2", 100_000, 'append/dup copy "" "a" n', 'p: at s n / 2 loop 2000 [change/part p "xy" 1]'),
    ("replace/all, longer", 200_000, 'append/dup copy "" "ab-" to integer! n / 3', 'replace/all s "-" "<>"'),
    ("replace/all, as long", 200_000, 'append/dup copy "" "ab-" to integer! n / 3', 'replace/all s "-" "="'),
]
SCRIPT = "Kem []\nn: {n}\ns: {make}\nrecycle\nprint to float! dt [{work}]\n"


def run(kem, folder, make, work, n):
    path = os.path.join(folder, "case.kem")
    with open(path, "w") as f:
        f.write(SCRIPT.format(n=n, make=make, work=work))
    out = subprocess.run([kem, path], capture_output=True, text=True, check=True).stdout
    return float(out.split()[-1])


def main():
    kem = os.path.realpath(sys.argv[1])
    print("== Strings: change and replace/all at N and 10 N characters (seconds, best of %d)" % ROUNDS)
    with tempfile.TemporaryDirectory() as folder:
        for name, n, make, work in CASES:
            best = {n: float("inf"), 10 * n: float("inf")}
            for _ in range(ROUNDS):
                for size in best:
                    best[size] = min(best[size], run(kem, folder, make, work, size))
            small, large = best[n], best[10 * n]
            print("%-30s N=%-9d %.4f  10N: %.4f  ratio %.1f" % (name, n, small, large, large / small))


if __name__ == "__main__":
    main()
