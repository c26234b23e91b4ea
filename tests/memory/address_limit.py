#!/usr/bin/env python3
"""Start-up under a limit on the address space (RLIMIT_AS, as `ulimit -v`).

Under 3 GB, kem starts with a smaller reservation of node slots and runs a
script that makes 300,000 strings. Under limits too small to start, it ends
with the fatal report of runtime error 94 and that status, never an
exception nothing catches. Limits from 64 MB down, two megabytes at a time:
the report must come, and every limit above the lowest that gives it must
run a small script (or end in the script's own out-of-memory error) or give
the report. Below that the C libraries themselves cannot start.
Usage: address_limit.py KEM
"""
import os
import resource
import subprocess
import sys
import tempfile

LARGE = """Kem []
b: copy [] repeat i 300000 [append b to string! i]
print [length? b last b]
"""
LARGE_OUTPUT = b"300000 300000\n"
SMALL = "Kem [] print 1 + 2\n"
SMALL_OUTPUT = b"3\n"
REPORT = b"\n*** Runtime Error 94: out of memory\n*** at: "
SCRIPT_OUT_OF_MEMORY = b"*** Internal Error: not enough memory\n"
LOADER_FAILED = 127


def run(kem, script, kilobytes):
    def limit():
        resource.setrlimit(resource.RLIMIT_AS, (kilobytes * 1024, kilobytes * 1024))

    proc = subprocess.run([kem, script], capture_output=True, preexec_fn=limit, timeout=120)
    return proc.returncode, proc.stdout, proc.stderr


def main():
    kem = sys.argv[1]
    failed = False
    with tempfile.TemporaryDirectory() as folder:
        large = os.path.join(folder, "large.kem")
        small = os.path.join(folder, "small.kem")
        with open(large, "w") as f:
            f.write(LARGE)
        with open(small, "w") as f:
            f.write(SMALL)
        status, out, err = run(kem, large, 3000000)
        if (status, out) != (0, LARGE_OUTPUT):
            print(f"FAIL under 3 GB: status {status}, output {out!r}, errors {err[:300]!r}")
            failed = True
        outcomes = []
        for megabytes in range(64, 0, -2):
            status, out, err = run(kem, small, megabytes * 1024)
            if status == LOADER_FAILED:
                break
            if status == 94 and out.startswith(REPORT) and not err:
                outcomes.append((megabytes, "report", ""))
            elif (status, out) == (0, SMALL_OUTPUT) or (status == 254 and out.startswith(SCRIPT_OUT_OF_MEMORY)):
                outcomes.append((megabytes, "ran", ""))
            else:
                outcomes.append((megabytes, "other", f"status {status}, output {out!r}, errors {err[:300]!r}"))
        lowest = min((m for m, kind, _ in outcomes if kind == "report"), default=None)
        if lowest is None:
            print("FAIL: no limit gave the out-of-memory report")
            failed = True
        for megabytes, kind, detail in outcomes:
            if kind == "other" and (lowest is None or megabytes > lowest):
                print(f"FAIL under {megabytes} MB: {detail}")
                failed = True
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
