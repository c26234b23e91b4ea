#!/usr/bin/env python3
"""Console transcripts: each case runs `kem` in a fresh folder (also its HOME,
where the console keeps its settings) with lines on standard input, and
compares everything it prints, exactly, and its exit status.

usage: transcript.py path/to/kem file.transcript

A transcript is a list of cases. Lines, by their first word:
  == title          starts a case
  file NAME         a file made in the case's folder before the run; its
                    lines follow, each after "| " (a lone "|" is an empty line)
  run ARGS...       the command line after the program (split as a shell
                    splits words: quotes group); without it, no arguments
  in TEXT           one line of standard input ("in" alone: an empty line)
  in-end TEXT       the last piece of input, without a line end
  in-esc TEXT       a line ending in the escape character (the editor's Escape)
  out TEXT          one line the run must print ("out" alone: an empty line)
  out-end TEXT      the last piece of output, without a line end
  status N          the exit status (0 when not given)
  expect NAME       a file the run must leave, exactly; its lines follow after
                    "| " (a last lone "|" is a final line end)
  # ...             a comment
Trailing blanks of "out" lines are part of the expected text; {HOME} in them
stands for the case's folder.
"""
import os
import shlex
import subprocess
import sys
import tempfile


class Case:
    def __init__(self, title, line):
        self.title = title
        self.line = line
        self.files = {}
        self.expected_files = {}
        self.args = []
        self.input = b""
        self.output = ""
        self.status = 0


def parse(path):
    cases = []
    target = None  # the file whose "| " lines come next
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for number, raw in enumerate(lines, 1):
        if raw.startswith("|"):
            if target is None:
                raise SystemExit(f"{path}:{number}: a file line outside a file")
            target.append(raw[2:] if raw.startswith("| ") else raw[1:])
            continue
        target = None
        if not raw.strip() or raw.startswith("#"):
            continue
        word, _, rest = raw.partition(" ")
        if word == "==":
            cases.append(Case(rest, number))
            continue
        if not cases:
            raise SystemExit(f"{path}:{number}: no case started")
        case = cases[-1]
        if word == "file":
            target = case.files.setdefault(rest, [])
        elif word == "expect":
            target = case.expected_files.setdefault(rest, [])
        elif word == "run":
            case.args = shlex.split(rest)
        elif word == "in":
            case.input += (rest + "\n").encode()
        elif word == "in-end":
            case.input += rest.encode()
        elif word == "in-esc":
            case.input += (rest + "\x1b\n").encode()
        elif word == "out":
            case.output += rest + "\n"
        elif word == "out-end":
            case.output += rest
        elif word == "status":
            case.status = int(rest)
        else:
            raise SystemExit(f"{path}:{number}: unknown line {raw!r}")
    return cases


def run(kem, case):
    with tempfile.TemporaryDirectory(prefix="kem-console-") as folder:
        for name, content in case.files.items():
            path = os.path.join(folder, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w", encoding="utf-8") as f:
                f.write("\n".join(content) + "\n")
        env = dict(os.environ, HOME=folder)
        env.pop("COLUMNS", None)
        result = subprocess.run([kem, *case.args], input=case.input, capture_output=True, cwd=folder, env=env,
                                timeout=60)
        problems = []
        got = result.stdout.decode("utf-8", "replace")
        expected = case.output.replace("{HOME}", folder)
        if got != expected:
            problems.append(describe(expected, got))
        if result.returncode != case.status:
            problems.append(f"status {result.returncode}, expected {case.status}")
        if result.stderr:
            problems.append("standard error: " + result.stderr.decode("utf-8", "replace")[:2000])
        for name, content in case.expected_files.items():
            try:
                with open(os.path.join(folder, name), encoding="utf-8") as f:
                    text = f.read()
            except OSError as e:
                problems.append(f"{name}: {e}")
                continue
            if text != "\n".join(content):
                problems.append(f"{name}:\n" + describe("\n".join(content), text))
        return problems


def describe(expected, got):
    """The first line that differs, with both texts around it."""
    want_lines, got_lines = expected.split("\n"), got.split("\n")
    for i in range(max(len(want_lines), len(got_lines))):
        w = want_lines[i] if i < len(want_lines) else None
        g = got_lines[i] if i < len(got_lines) else None
        if w != g:
            return (f"output line {i + 1}: expected {w!r}\n{'':>14}got      {g!r}\n"
                    f"  whole output:\n" + "".join(f"    {line!r}\n" for line in got_lines))
    return "output differs"


def main():
    kem, path = os.path.abspath(sys.argv[1]), sys.argv[2]
    cases = parse(path)
    failed = 0
    for case in cases:
        problems = run(kem, case)
        if problems:
            failed += 1
            print(f"FAIL {os.path.basename(path)}:{case.line}: {case.title}")
            for p in problems:
                print("  " + p.replace("\n", "\n  "))
    print(f"{path}: {len(cases) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
