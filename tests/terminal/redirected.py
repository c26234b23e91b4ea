#!/usr/bin/env python3
"""Redirected standard input: each case pipes bytes into `kem script.kem` and
compares what the script prints, exactly.

usage: redirected.py path/to/kem
"""
import os
import subprocess
import sys
import tempfile

# (name, bytes on standard input, Kem code after the header, expected output)
CASES = [
    ("lines are UTF-8; CR before LF stays; no prompt is shown",
     "héllo\r\nwörld 日本\n".encode(),
     'print mold ask ">> " print mold input print mold length? input',
     '"héllo^M"\n"wörld 日本"\n0\n'),
    ("a last line without a line feed, then empty lines at the end",
     b"one\ntwo",
     "loop 4 [print mold input]",
     '"one"\n"two"\n""\n""\n'),
    ("empty lines and NUL characters are kept as they are",
     b"\n\na\x00b\n",
     "loop 3 [print mold input]",
     '""\n""\n"a^@b"\n'),
    ("characters of four bytes are one character",
     "😀x\n".encode(),
     "print length? input",
     "2\n"),
    # Bytes that are no UTF-8 become U+FFFD each and never swallow the line
    # feed or the characters after them.
    ("a Latin-1 byte before ASCII text and before the line end",
     b"\xe9ab\n\xe9\nnext\n",
     "loop 3 [s: input print [length? s mold s]]",
     '3 "\ufffdab"\n1 "\ufffd"\n4 "next"\n'),
    ("stray continuation and invalid lead bytes stay inside their line",
     b"a\x80b\xffc\n",
     "s: input print [length? s mold s]",
     '5 "a\ufffdb\ufffdc"\n'),
    ("a sequence cut off by the end of input",
     b"a\xe2\x82",
     "s: input print [length? s mold s] print mold input",
     '2 "a\ufffd"\n""\n'),
    ("input-stdin reads a line like input",
     b"first\nsecond\n",
     "print mold input-stdin print mold input",
     '"first"\n"second"\n'),
    ("read-stdin reads up to its count with one read, at the binary's position",
     b"abcdef",
     "b: make binary! 1 read-stdin b 3 print mold b "
     "c: next #{0102} read-stdin c 2 print mold head c "
     "read-stdin b 0 read-stdin b -5 print mold b "
     "read-stdin b 100 print mold b read-stdin b 10 print mold b",
     '#{616263}\n#{01646502}\n#{616263}\n#{66616263}\n#{66616263}\n'),
    ("a line feed that breaks a sequence still ends its line",
     b"\xe9\nrest",
     "print mold input b: make binary! 10 read-stdin b 10 print mold b",
     '"\ufffd"\n#{72657374}\n'),
    ("ask checks its arguments; ask/hide and ask/history read plain lines",
     b"secret\nold\n",
     'print mold ask/hide "Password: " print mold ask/history "> " ["h"] '
     'print mold system/console/history '
     'e: try [ask 5] print [e/id e/arg1 mold e/arg2 e/arg3]',
     '"secret"\n"old"\n[]\nexpect-arg ask integer! question\n'),
]


def run(kem, directory, code, data):
    script = os.path.join(directory, "case.kem")
    with open(script, "w", encoding="utf-8") as f:
        f.write("Kem []\n" + code + "\n")
    # The console keeps its settings under HOME: a folder of the test's own.
    env = dict(os.environ, HOME=directory)
    return subprocess.run([kem, script], input=data, capture_output=True, timeout=120, env=env)


def main():
    kem = os.path.abspath(sys.argv[1])
    failures = 0
    with tempfile.TemporaryDirectory() as directory:
        for name, data, code, expected in CASES:
            result = run(kem, directory, code, data)
            got = result.stdout.decode("utf-8", "replace")
            if result.returncode != 0 or got != expected:
                failures += 1
                print(f"FAIL: {name}\n  status {result.returncode}\n  expected {expected!r}\n  got      {got!r}")
                if result.stderr:
                    print("  stderr", result.stderr.decode("utf-8", "replace")[:2000])
    print(f"{len(CASES) - failures} of {len(CASES)} redirected-input cases passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
