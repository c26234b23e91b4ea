#!/usr/bin/env python3
"""Memory stays bounded while values of one kind are made and dropped.

Runs bench/memory/churn.kem for one kind at 20,000 and at 200,000 rounds: the
peak resident set of the longer run must stay within 1.5 times that of the
shorter one, and collections must have run in it. Usage:
churn_bounds.py KEM CHURN_SCRIPT KIND
"""
import os
import subprocess
import sys

ROUNDS = (20000, 200000)
RATIO = 1.5


def run(kem, script, kind, rounds):
    env = dict(os.environ, KEM_CHURN_KIND=kind, KEM_CHURN_ROUNDS=str(rounds))
    proc = subprocess.Popen([kem, script], stdout=subprocess.PIPE, env=env)
    out = proc.stdout.read().decode()
    _, status, usage = os.wait4(proc.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{kind} x {rounds}: status {os.waitstatus_to_exitcode(status)}: {out}")
    kept, collections = (int(w) for w in out.split())
    return usage.ru_maxrss, collections


def main():
    kem, script, kind = sys.argv[1:4]
    small, _ = run(kem, script, kind, ROUNDS[0])
    large, collections = run(kem, script, kind, ROUNDS[1])
    print(f"{kind}: {small} KB at {ROUNDS[0]} rounds, {large} KB at {ROUNDS[1]}, {collections} collections")
    failed = False
    if large > RATIO * small:
        print(f"FAIL: the peak grew {large / small:.2f} times with ten times the rounds")
        failed = True
    if collections == 0:
        print("FAIL: no collection ran")
        failed = True
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
