# Start-up time against the real Python executable (not a version-manager
# shim), best of many runs since each takes a few milliseconds:
# - an empty script: kem on it, python on `-c pass` and on `-S -c pass`;
# - the first prompt: each started on a pseudo-terminal until its prompt is
#   drawn (">> " for kem's console, ">>> " for python -i), then ended.
import os
import pty
import select
import signal
import subprocess
import sys
import tempfile
import time


def best(cmds, runs):
    """The fastest run of each command, the commands taking turns."""
    fastest = [float("inf")] * len(cmds)
    for _ in range(runs):
        for i, cmd in enumerate(cmds):
            start = time.perf_counter()
            subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
            fastest[i] = min(fastest[i], time.perf_counter() - start)
    return fastest


def to_prompt(cmd, prompt, env):
    """Seconds from the start to the prompt on the terminal."""
    start = time.perf_counter()
    pid, fd = pty.fork()
    if pid == 0:
        os.execve(cmd[0], cmd, env)
    seen = b""
    try:
        while prompt not in seen:
            ready, _, _ = select.select([fd], [], [], 10)
            if not ready:
                raise RuntimeError(f"{cmd[0]}: no prompt; got {seen!r}")
            got = os.read(fd, 4096)
            # The line editor asks where the cursor is, as a terminal would answer.
            if b"\x1b[6n" in got:
                os.write(fd, b"\x1b[5;1R")
            seen += got
        return time.perf_counter() - start
    finally:
        os.kill(pid, signal.SIGKILL)
        os.waitpid(pid, 0)
        os.close(fd)


def best_prompt(cmd, prompt, env, runs):
    return min(to_prompt(cmd, prompt, env) for _ in range(runs))


kem, script = os.path.abspath(sys.argv[1]), sys.argv[2]
runs = int(sys.argv[3]) if len(sys.argv) > 3 else 100
python = os.path.realpath(sys.executable)
# Python with and without the site module (-S: the interpreter's own start-up).
k, p, ps = best([[kem, script], [python, "-c", "pass"], [python, "-S", "-c", "pass"]], runs)
print(f"empty script: kem {k * 1000:.2f} ms | python {p * 1000:.2f} ms (x{k / p:.2f})"
      f" | python -S {ps * 1000:.2f} ms (x{k / ps:.2f})")

# The console reads and keeps its settings under HOME: a folder of its own.
with tempfile.TemporaryDirectory(prefix="kem-bench-") as home:
    env = dict(os.environ, HOME=home, TERM="xterm")
    k = best_prompt([kem], b">> ", env, runs)
    p = best_prompt([python, "-i", "-q"], b">>> ", dict(env, PYTHONSTARTUP=""), runs)
print(f"first prompt: kem {k * 1000:.2f} ms | python {p * 1000:.2f} ms (x{k / p:.2f})")
