#!/usr/bin/env python3
"""Runs a command and prints its peak resident set size in kilobytes."""
import os
import subprocess
import sys

proc = subprocess.Popen(sys.argv[1:], stdout=subprocess.DEVNULL)
_, status, usage = os.wait4(proc.pid, 0)
print(usage.ru_maxrss)
sys.exit(os.waitstatus_to_exitcode(status))
